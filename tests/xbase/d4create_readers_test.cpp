// Tables made and filled by the engine read by independent tools
// (python3-dbfread, python3-dbf, pgdbf; ogrinfo for the dBASE dialect), and
// tables written by python3-dbf read and appended to by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/xbase/oracle.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::FieldText;
using xbasetest::kPython;
using xbasetest::Quoted;
using xbasetest::RunCommand;
using xbasetest::TestCode4;

const char* const kTools[] = {"dbfread", "dbf", "pgdbf"};

bool HaveTool(const std::string& tool) {
  return tool == "pgdbf" ? xbasetest::HavePgdbf() : xbasetest::HavePythonModule(tool.c_str());
}

// The live records as a tool reads them, one line each.
bool ToolDump(const std::string& tool, const std::string& path, std::string* out) {
  return RunCommand(std::string(kPython) + " " + Quoted(xbasetest::Script("table_tool.py")) + " dump " +
                        tool + " " + Quoted(path),
                    out);
}

// The same lines from the engine, memos as their text.
std::string EngineDump(DATA4* data) {
  std::string out;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    if (d4deleted(data)) continue;
    const char* separator = "";
    for (int j = 1; j <= data->nFields; j++) {
      FIELD4* field = d4fieldJ(data, j);
      if (field->type == '0') continue;
      out += separator + FieldText(field, true);
      separator = "|";
    }
    out += "\n";
  }
  return out;
}

// Every field type the tools know; FoxPro adds its binary types and a
// nullable field (first, where every reader looks for its null bit).
xbasetest::FieldList Fields(bool fox) {
  xbasetest::FieldList fields;
  if (fox) fields.Add("MAYBE", 'C', 8, 0, 190);
  fields.Add("NAME", 'C', 20).Add("AMOUNT", 'N', 12, 3).Add("RATE", 'F', 10, 4).Add("BORN", 'D');
  fields.Add("OK", 'L').Add("NOTES", 'M');
  if (fox) fields.Add("ID", 'I').Add("PRICE", 'Y').Add("STAMP", 'T').Add("RATIO", 'B', 8, 3);
  return fields;
}

// Row i of the engine's tables: memos empty, short and several blocks long.
void FillRow(DATA4* data, int i, bool fox) {
  std::string name = "Row " + std::to_string(i);
  f4assign(d4field(data, "NAME"), name.c_str());
  f4assignDouble(d4field(data, "AMOUNT"), (i - 20) * 1234.567);
  f4assignDouble(d4field(data, "RATE"), i / 8.0);
  if (i % 7 != 3) {
    std::string born = std::to_string(1950 + i) + "0" + std::to_string(1 + i % 9) + "1" + std::to_string(i % 10);
    f4assign(d4field(data, "BORN"), born.c_str());
  }
  f4assign(d4field(data, "OK"), i % 2 ? "T" : "F");
  std::string memo;
  if (i % 3 == 1) memo = "memo of row " + std::to_string(i);
  if (i % 3 == 2) memo = std::string(size_t(100 * i), char('a' + i % 26)) + " end";
  f4memoAssign(d4field(data, "NOTES"), memo.c_str());
  if (fox) {
    f4assign(d4field(data, "MAYBE"), i % 2 ? "odd" : "even");
    f4assignLong(d4field(data, "ID"), (i - 10) * 100000);
    std::string price = std::to_string(i * 3) + "." + std::to_string(1000 + i).substr(1);
    f4assignCurrency(d4field(data, "PRICE"), price.c_str());
    std::string stamp = std::to_string(2000 + i) + "0615" + (i < 10 ? "0" : "") + std::to_string(i % 24) + ":30:15";
    f4assignDateTime(d4field(data, "STAMP"), stamp.c_str());
    f4assignDouble(d4field(data, "RATIO"), i * -0.25);
  }
}

// Makes and fills a table through the engine; its path.
std::string MakeTable(const TempDir& dir, bool fox, int rows) {
  TestCode4 c4;
  c4.compatibility = fox ? 30 : 25;
  std::string path = dir.File(fox ? "fox.dbf" : "dbase.dbf");
  DATA4* data = d4create(&c4, path.c_str(), Fields(fox).get());
  EXPECT_NE(data, nullptr);
  if (data == nullptr) return path;
  for (int i = 0; i < rows; i++) {
    d4appendStart(data, 0);
    d4blank(data);
    FillRow(data, i, fox);
    EXPECT_EQ(d4append(data), 0) << i;
  }
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
  return path;
}

std::string EngineDumpOf(const std::string& path) {
  TestCode4 c4;
  DATA4* data = d4open(&c4, path.c_str());
  if (data == nullptr) return "(not opened)";
  std::string dump = EngineDump(data);
  d4close(data);
  return dump;
}

TEST(CreatedTablesReaders, ToolsReadWhatTheEngineWrote) {
  for (bool fox : {true, false}) {
    TempDir dir;
    std::string path = MakeTable(dir, fox, 40);
    std::string expected = EngineDumpOf(path);
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 40);
    for (const std::string tool : kTools) {
      if (!HaveTool(tool)) {
        std::printf("skipped: %s is not installed (tools/install-deps)\n", tool.c_str());
        continue;
      }
      std::string theirs;
      ASSERT_TRUE(ToolDump(tool, path, &theirs)) << tool;
      EXPECT_EQ(theirs, expected) << tool << (fox ? " FoxPro" : " dBASE");
    }
  }
}

// Character fields wider than 255 keep their high byte in the decimals
// byte; of the tools only python3-dbfread reads them.
TEST(CreatedTablesReaders, WideCharacterFields) {
  if (!HaveTool("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed (tools/install-deps)";
  for (short dialect : {30, 25}) {
    TempDir dir;
    std::string path = dir.File("wide.dbf");
    TestCode4 c4;
    c4.compatibility = dialect;
    xbasetest::FieldList fields;
    fields.Add("NAME", 'C', 5).Add("WIDE", 'C', 300).Add("AFTER", 'N', 5, 1);
    DATA4* data = d4create(&c4, path.c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    std::string wide = std::string(290, '=') + "the end";
    for (const char* name : {"one", "two"}) {
      d4appendStart(data, 0);
      d4blank(data);
      f4assign(d4field(data, "NAME"), name);
      f4assign(d4field(data, "WIDE"), wide.c_str());
      f4assign(d4field(data, "AFTER"), "-2.5");
      ASSERT_EQ(d4append(data), 0);
    }
    d4close(data);
    std::string theirs;
    ASSERT_TRUE(ToolDump("dbfread", path, &theirs));
    EXPECT_EQ(theirs, "one|" + wide + "|-2.5\ntwo|" + wide + "|-2.5\n") << dialect;
  }
}

TEST(CreatedTablesReaders, OgrinfoReadsTheDbaseDialect) {
  if (!xbasetest::HaveOgrinfo()) GTEST_SKIP() << "gdal-bin is not installed (tools/install-deps)";
  TempDir dir;
  std::string path = MakeTable(dir, false, 25);
  std::vector<xbasetest::OgrRecord> records;
  ASSERT_TRUE(xbasetest::OgrRead(path, &records));
  ASSERT_EQ(records.size(), 25u);
  TestCode4 c4;
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  size_t i = 0;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1), i++) {
    for (int j = 1; j <= d4numFields(data); j++) {
      FIELD4* field = d4fieldJ(data, j);
      std::string mine = FieldText(field);  // memos as their block numbers
      auto it = records[i].find(field->name);
      if (it == records[i].end()) {  // a field left unset: a blank date
        EXPECT_EQ(mine, "") << i << " " << field->name;
        continue;
      }
      const auto& [type, value] = it->second;
      if (type == "Real" || type == "Integer") {
        ASSERT_FALSE(value.empty()) << i << " " << field->name;
        EXPECT_NEAR(f4double(field), std::stod(value), 1e-9) << i << " " << field->name;
      } else if (type == "Date") {
        std::string digits;
        for (char c : value) {
          if (c != '/') digits += c;
        }
        EXPECT_EQ(mine, digits) << i << " " << field->name;
      } else {
        EXPECT_EQ(mine == "0" && field->type == 'M' ? "" : mine, value) << i << " " << field->name;
      }
    }
  }
  EXPECT_EQ(i, records.size());
  d4close(data);
}

TEST(CreatedTablesReaders, EngineAppendsToATableOfPythonDbf) {
  if (!xbasetest::HavePythonModule("dbf")) GTEST_SKIP() << "python3-dbf is not installed (tools/install-deps)";
  TempDir dir;
  std::string path = dir.File("python.dbf");
  std::string ignored;
  ASSERT_TRUE(RunCommand(std::string(kPython) + " " + Quoted(xbasetest::Script("table_tool.py")) + " make " +
                             Quoted(path),
                         &ignored));
  std::string before;
  ASSERT_TRUE(ToolDump("dbf", path, &before));
  ASSERT_EQ(EngineDumpOf(path), before);

  TestCode4 c4;
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  std::string added;
  for (int i = 0; i < 5; i++) {
    ASSERT_EQ(d4appendStart(data, 0), 0);
    d4blank(data);
    std::string name = "Engine " + std::to_string(i);
    f4assign(d4field(data, "NAME"), name.c_str());
    f4assignDouble(d4field(data, "AMOUNT"), i * 10.25);
    f4assign(d4field(data, "BORN"), "20240229");
    f4assign(d4field(data, "OK"), "T");
    std::string memo = i == 2 ? "" : std::string(size_t(90 * i + 5), char('k' + i));
    f4memoAssign(d4field(data, "NOTES"), memo.c_str());
    f4assignLong(d4field(data, "ID"), 1000 + i);
    f4assignCurrency(d4field(data, "PRICE"), "-7.0625");
    f4assignDateTime(d4field(data, "STAMP"), "2024022923:15:00");
    f4assignDouble(d4field(data, "RATIO"), double(i * 4));  // pgdbf shows B with its 0 decimals
    ASSERT_EQ(d4append(data), 0) << i;
    added += name + "|" + FieldText(d4field(data, "AMOUNT")) + "|20240229|T|" + memo + "|" +
             std::to_string(1000 + i) + "|-7.0625|2024022923:15:00|" + FieldText(d4field(data, "RATIO")) + "\n";
  }
  ASSERT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
  for (const std::string tool : kTools) {
    if (!HaveTool(tool)) continue;
    std::string after;
    ASSERT_TRUE(ToolDump(tool, path, &after)) << tool;
    EXPECT_EQ(after, before + added) << tool;
  }
}

}  // namespace
