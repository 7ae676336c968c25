// The text tables against independent readers: a CSV with quoted commas
// read as Python's csv module reads it, and its fixed-width copy written by
// the library read as csvkit's in2csv reads it.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qtbldtxt.h"
#include "tables/qtblftxt.h"
#include "tests/tables/tables_fixture.h"
#include "tests/xbase/oracle.h"

namespace {

using tablestest::TablesTest;
using xbasetest::HaveCommand;
using xbasetest::kPython;
using xbasetest::Quoted;
using xbasetest::RunCommand;

using Rows = std::vector<std::vector<std::string>>;

Rows Split(const std::string& text) {
  Rows rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
      if (c == '\x1f') {
        fields.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// Rows of a CSV file by Python's csv module.
Rows CsvModuleRows(const std::string& path) {
  std::string command = std::string(kPython) + " " +
                        Quoted(std::string(GSB_TABLES_TEST_DIR) + "/table_oracle.py") + " csv " + Quoted(path);
  std::string out;
  if (!RunCommand(command, &out)) ADD_FAILURE() << command;
  return Split(out);
}

// Every record through a record of STRING fields, trimmed as asked.
Rows TableRows(CQmsTable& table, QMS_FIELD_TRIM trim) {
  CQmsRecord typed;
  table.GetFields(typed);
  CQmsRecord texts;
  for (int i = 0; i < typed.GetCount(); i++) {
    texts.Add(typed.GetFieldName(i), typed.GetFieldWidthByHandle(i));
    texts.SetFieldTrimmingByHandle(i, trim);
  }
  Rows rows;
  table.MoveFirst();
  while (!table.AtEOF()) {
    table.FillAllFieldValues(texts);
    std::vector<std::string> row;
    for (int i = 0; i < texts.GetCount(); i++) row.push_back(static_cast<const char*>(*texts.GetFieldByHandle(i)));
    rows.push_back(row);
    table.MoveBy(1);
  }
  return rows;
}

class TextReaders : public TablesTest {};

TEST_F(TextReaders, ACsvAndItsFixedWidthCopyReadAsTheOtherReadersReadThem) {
  for (const char* name : {"places.csv", "places.fmt"}) {
    std::filesystem::copy_file(testsupport::FixturePath(std::string("tables/") + name), dir_.File(name));
  }
  // The CSV, through the delimited table and through the csv module.
  CQmsDelimTextTable csv("places.csv");
  csv.Open();
  Rows ours = TableRows(csv, QMS_TRIM_NONE);
  Rows theirs = CsvModuleRows(dir_.File("places.csv"));
  ASSERT_FALSE(theirs.empty());
  theirs.erase(theirs.begin());  // the names line
  EXPECT_EQ(ours, theirs);
  ASSERT_EQ(ours.size(), 7u);
  EXPECT_EQ(ours[0][0], "Washington, D.C.");
  EXPECT_EQ(ours[2][1], "IL, Sangamon");

  // Its fixed-width copy, written by the library from typed records.
  CQmsRecord typed;
  csv.GetFields(typed);
  CQmsFixedTextTable fixed("", "places.txt", "");
  fixed.DefineFields(typed);
  fixed.Create();
  csv.MoveFirst();
  while (!csv.AtEOF()) {
    csv.FillAllFieldValues(typed);
    fixed.AddNewRecord();
    fixed.SetAllFieldValues(typed);
    fixed.CommitRecord();
    csv.MoveBy(1);
  }
  fixed.Close();
  csv.Close();

  CQmsFixedTextTable copy("places.txt");
  copy.SetReadOnly(1);
  copy.Open();
  Rows copied = TableRows(copy, QMS_TRIM_BOTH);
  EXPECT_EQ(copied, theirs);

  // The same copy through csvkit, by a schema of the column offsets.
  if (!HaveCommand("command -v in2csv")) GTEST_SKIP() << "csvkit's in2csv is not installed";
  std::string schema = "column,start,length\n";
  int start = 0;
  for (int i = 0; i < typed.GetCount(); i++) {
    int width = typed.GetFieldWidthByHandle(i);
    schema += std::string(typed.GetFieldName(i)) + "," + std::to_string(start) + "," + std::to_string(width) + "\n";
    start += width;
  }
  dir_.Write("schema.csv", schema);
  std::string converted;
  ASSERT_TRUE(RunCommand("in2csv -I -f fixed -s " + Quoted(dir_.File("schema.csv")) + " " +
                             Quoted(dir_.File("places.txt")) + " > " + Quoted(dir_.File("converted.csv")),
                         &converted));
  Rows fromCsvkit = CsvModuleRows(dir_.File("converted.csv"));
  ASSERT_FALSE(fromCsvkit.empty());
  fromCsvkit.erase(fromCsvkit.begin());  // csvkit's header from the schema
  EXPECT_EQ(fromCsvkit, theirs);
}

}  // namespace
