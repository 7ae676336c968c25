// The xBase table against independent readers of data files: python3-dbfread,
// shapelib's dbfdump and gdal's ogrinfo.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qtablefr.h"
#include "tests/tables/tables_fixture.h"
#include "tests/xbase/oracle.h"

namespace {

using tablestest::CodeOf;
using tablestest::TablesTest;
using xbasetest::HaveCommand;
using xbasetest::HaveOgrinfo;
using xbasetest::HavePythonModule;
using xbasetest::kPython;
using xbasetest::Quoted;
using xbasetest::RunCommand;

constexpr char kSeparator = '\x1f';

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// A text as the field's type shows it in the comparison.
std::string Canonical(QMS_VARIANT_TYPE type, const std::string& text) {
  switch (type) {
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
      return std::to_string(std::strtol(text.c_str(), nullptr, 10));
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT:
      return Number(std::strtod(text.c_str(), nullptr));
    case QMS_VARIANT_DATE:
      return text == "00000000" ? "" : text;
    case QMS_VARIANT_BOOLEAN:
      return text == "1" || text == "T" || text == "t" || text == "Y" || text == "y" ? "T" : "F";
    default:
      return text;
  }
}

// Every record read through the table, the fields that carry data joined by
// the separator; their names and types go to the caller.
std::vector<std::string> LibraryRows(CQmsTable& table, std::vector<std::string>* names,
                                     std::vector<QMS_VARIANT_TYPE>* types) {
  CQmsRecord record;
  table.GetFields(record);
  std::vector<int> carried;
  for (int i = 0; i < record.GetCount(); i++) {
    if (record.GetFieldWidthByHandle(i) == 0) continue;
    carried.push_back(i);
    names->push_back(record.GetFieldName(i));
    types->push_back(record.GetFieldTypeByHandle(i));
  }
  std::vector<std::string> rows;
  table.MoveFirst();
  while (!table.AtEOF()) {
    table.FillAllFieldValues(record);
    std::string row;
    for (size_t k = 0; k < carried.size(); k++) {
      int i = carried[k];
      const char* text = *record.GetFieldByHandle(i);
      if (k > 0) row += kSeparator;
      row += Canonical(record.GetFieldTypeByHandle(i), text ? text : "");
    }
    rows.push_back(row);
    table.MoveBy(1);
  }
  return rows;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The named fields of every live record as python3-dbfread reads them.
bool DbfreadRows(const std::string& path, const std::vector<std::string>& names, std::vector<std::string>* rows) {
  std::string command = std::string(kPython) + " " + Quoted(std::string(GSB_TABLES_TEST_DIR) + "/table_oracle.py") +
                        " dbf " + Quoted(path);
  for (const std::string& name : names) command += " " + name;
  std::string out;
  if (!RunCommand(command + " 2>&1", &out)) {
    ADD_FAILURE() << out;
    return false;
  }
  *rows = SplitLines(out);
  return true;
}

// dbfdump's "-m -r" listing: "Record: n" and then "NAME: value" lines.
std::vector<std::string> DbfdumpRows(const std::string& text, const std::vector<std::string>& names,
                                     const std::vector<QMS_VARIANT_TYPE>& types) {
  std::vector<std::map<std::string, std::string>> records;
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind("Record:", 0) == 0) {
      records.emplace_back();
      continue;
    }
    size_t colon = line.find(": ");
    if (records.empty() || colon == std::string::npos) continue;
    std::string value = line.substr(colon + 2);
    size_t begin = value.find_first_not_of(' ');
    size_t end = value.find_last_not_of(' ');
    value = begin == std::string::npos ? "" : value.substr(begin, end - begin + 1);
    records.back()[line.substr(0, colon)] = value;
  }
  std::vector<std::string> rows;
  for (auto& record : records) {
    std::string row;
    for (size_t k = 0; k < names.size(); k++) {
      if (k > 0) row += kSeparator;
      row += Canonical(types[k], record[names[k]]);
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> OgrRows(const std::vector<xbasetest::OgrRecord>& records,
                                 const std::vector<std::string>& names, const std::vector<QMS_VARIANT_TYPE>& types) {
  std::vector<std::string> rows;
  for (const auto& record : records) {
    std::string row;
    for (size_t k = 0; k < names.size(); k++) {
      if (k > 0) row += kSeparator;
      auto found = record.find(names[k]);
      std::string value = found == record.end() ? "" : found->second.second;
      if (types[k] == QMS_VARIANT_DATE) {
        std::string digits;
        for (char c : value) {
          if (c != '/') digits += c;
        }
        value = digits;
      }
      row += Canonical(types[k], value);
    }
    rows.push_back(row);
  }
  return rows;
}

class FolioRackReaders : public TablesTest {};

TEST_F(FolioRackReaders, SharedTablesReadAsDbfreadReadsThem) {
  if (!HavePythonModule("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed";
  struct Case {
    const char* path;
    long code;  // of Open; 0: read and compared
  } cases[] = {
      {"nc/nc.dbf", 0},
      {"naturalearth/naturalearth_lowres.dbf", 0},
      {"naturalearth/naturalearth_cities.dbf", 0},
      {"us/us_counties.dbf", 0},
      {"xbase/foxpro/Foxpro2.dbf", 0},
      {"xbase/foxpro/pr90.dbf", 0},
      {"xbase/foxpro/91.dbf", 0},
      {"xbase/foxpro/currency.dbf", 0},
      {"xbase/foxpro/issue115.dbf", 0},
      {"xbase/foxpro/visual_fox_pro6.dbf", 0},
      {"xbase/dbase/dBaseIII_nomemo.dbf", 0},
      // The engine refuses memo files of the dBASE kind and the newest formats.
      {"xbase/dbase/dBaseIII.dbf", QMS_SEVERE_TABLE_CLOSED},
      {"xbase/dbase/dBaseVII.dbf", QMS_SEVERE_TABLE_CLOSED},
      {"xbase/foxpro/vfp.dbf", QMS_SEVERE_TABLE_CLOSED},
  };
  for (const auto& c : cases) {
    std::string path = testsupport::SharedDataPath(c.path);
    CQmsFolioRackTable table("", path.c_str());
    table.SetReadOnly(1);
    long code = CodeOf([&] { table.Open(); });
    EXPECT_EQ(code, c.code) << c.path;
    if (code != 0) continue;
    std::vector<std::string> names;
    std::vector<QMS_VARIANT_TYPE> types;
    std::vector<std::string> ours = LibraryRows(table, &names, &types);
    EXPECT_EQ(ours.size(), table.GetCount()) << c.path;
    std::vector<std::string> theirs;
    if (!DbfreadRows(path, names, &theirs)) continue;
    EXPECT_EQ(ours, theirs) << c.path;
  }
}

class WrittenTable : public TablesTest {
 protected:
  // A table written and then appended to through the library.
  void Write() {
    CQmsRecord fields;
    fields.Add("NAME", 20);
    fields.Add("LON", QMS_VARIANT_DOUBLE, 11, 6);
    fields.Add("LAT", QMS_VARIANT_DOUBLE, 10, 6);
    fields.Add("BIGID", QMS_VARIANT_DOUBLE, 12, 0);
    fields.Add("COUNT", QMS_VARIANT_LONG, 6);
    fields.Add("BORN", QMS_VARIANT_DATE, "ccyymmdd", 8);
    fields.Add("ACTIVE", QMS_VARIANT_BOOLEAN, 1);
    fields.Add("RATE", QMS_VARIANT_FLOAT, 10, 2);
    const std::vector<std::vector<const char*>> rows = {
        {"Ann", "-74.123456", "40.712800", "123456789012", "42", "20110315", "T", "3.25"},
        {"Bob O'Neil, Jr.", "0", "-0.5", "1", "-7", "", "F", "-1.5"},
        {"\xC9lan", "179.999999", "-89.999999", "999999999999", "999999", "19991231", "T", "0"},
    };
    {
      CQmsFolioRackTable table(dir_.path().c_str(), "written");
      table.DefineFields(fields);
      table.Create();
      for (size_t r = 0; r < 2; r++) Append(table, fields, rows[r]);
      table.Close();
    }
    CQmsFolioRackTable table(dir_.path().c_str(), "written");
    table.Open();
    CQmsRecord record;
    table.GetFields(record);
    Append(table, record, rows[2]);
    table.Close();
  }

  static void Append(CQmsTable& table, CQmsRecord& record, const std::vector<const char*>& row) {
    for (int i = 0; i < record.GetCount(); i++) record.SetFieldByHandle(i, row[size_t(i)]);
    table.AddNewRecord();
    table.SetAllFieldValues(record);
    table.CommitRecord();
  }

  std::string Path() const { return dir_.File("written.dbf"); }

  static std::string Row(std::initializer_list<const char*> fields) {
    std::string row;
    bool first = true;
    for (const char* field : fields) {
      if (!first) row += kSeparator;
      first = false;
      row += field;
    }
    return row;
  }
};

TEST_F(WrittenTable, ReadsTheSameInEveryReader) {
  Write();
  CQmsFolioRackTable table(dir_.path().c_str(), "written");
  table.Open();
  std::vector<std::string> names;
  std::vector<QMS_VARIANT_TYPE> types;
  std::vector<std::string> ours = LibraryRows(table, &names, &types);
  table.Close();
  // Degrees keep their sixth decimal and twelve-digit identifiers their
  // digits: both are doubles.
  std::vector<std::string> expected = {
      Row({"Ann", "-74.123456000000004", "40.712800000000001", "123456789012", "42", "20110315", "T", "3.25"}),
      Row({"Bob O'Neil, Jr.", "0", "-0.5", "1", "-7", "", "F", "-1.5"}),
      Row({"\xC9lan", "179.999999", "-89.999999000000003", "999999999999", "999999", "19991231", "T", "0"}),
  };
  EXPECT_EQ(ours, expected);
  if (HavePythonModule("dbfread")) {
    std::vector<std::string> theirs;
    if (DbfreadRows(Path(), names, &theirs)) {
      EXPECT_EQ(theirs, expected);
    }
  } else {
    ADD_FAILURE() << "python3-dbfread is not installed";
  }
  if (HaveCommand("command -v dbfdump")) {
    std::string text;
    RunCommand("dbfdump -m -r " + Quoted(Path()), &text);
    EXPECT_EQ(DbfdumpRows(text, names, types), expected) << text;
  } else {
    ADD_FAILURE() << "shapelib's dbfdump is not installed";
  }
  if (HaveOgrinfo()) {
    std::vector<xbasetest::OgrRecord> records;
    ASSERT_TRUE(xbasetest::OgrRead(Path(), &records));
    EXPECT_EQ(OgrRows(records, names, types), expected);
  } else {
    ADD_FAILURE() << "ogrinfo is not installed";
  }
}

TEST_F(WrittenTable, AnIndexedTableReadsTheSameInEveryReader) {
  Write();
  CQmsFolioRackTable table(dir_.path().c_str(), "written");
  table.SetAutoOpenIndex(1);
  table.CreateIndex("BYNAME", "NAME", 0);
  table.Open();
  table.SetIndex("BYNAME");
  std::vector<std::string> names;
  std::vector<QMS_VARIANT_TYPE> types;
  std::vector<std::string> ours = LibraryRows(table, &names, &types);
  table.Close();
  table.SetAutoOpenIndex(0);
  ASSERT_EQ(ours.size(), 3u);
  EXPECT_EQ(ours[0].substr(0, 3), "Ann");  // in the tag's order
  std::vector<std::string> theirs;
  ASSERT_TRUE(DbfreadRows(Path(), names, &theirs));
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  EXPECT_EQ(ours, theirs);
  std::string text;
  RunCommand("dbfdump -m -r " + Quoted(Path()), &text);
  std::vector<std::string> dumped = DbfdumpRows(text, names, types);
  std::sort(dumped.begin(), dumped.end());
  EXPECT_EQ(dumped, ours);
}

}  // namespace
