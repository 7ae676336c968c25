#include "tables/qtblftxt.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qfldmap.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::TablesTest;

class FixedTest : public TablesTest {
 protected:
  // A table of CODE (5 characters) and NAME (10) whose records hold the
  // codes 1..n, with an optional names line of the given length.
  void WriteTable(int records, int namesLength, const char* lineEnd = "\r\n", const char* eol = "CRLF") {
    std::string fmt = std::string("TYPE=Fixed\nEOL=") + eol + "\nFLN=" + (namesLength >= 0 ? "Yes" : "No") +
                      "\nCODE Numeric 5\nNAME Character 10\n";
    dir_.Write("codes.fmt", fmt);
    std::string data;
    if (namesLength >= 0) {
      std::string names = "CODE NAME";
      names.resize(size_t(namesLength - int(std::strlen(lineEnd))), ' ');
      data += names + lineEnd;
    }
    for (int k = 1; k <= records; k++) {
      char line[32];
      std::snprintf(line, sizeof line, "%5d%-10s%s", k, ("row" + std::to_string(k)).c_str(), lineEnd);
      data += line;
    }
    dir_.Write("codes.txt", data);
  }

  // The codes of every record, walked with MoveFirst and MoveBy(1).
  static std::vector<long> Codes(CQmsFixedTextTable& table) {
    CQmsRecord record;
    table.GetFields(record);
    std::vector<long> codes;
    table.MoveFirst();
    while (!table.AtEOF() && codes.size() < 100) {
      table.FillAllFieldValues(record);
      codes.push_back(long(*record.GetFieldByHandle(0)));
      table.MoveBy(1);
    }
    return codes;
  }

  static std::vector<long> Upto(int n) {
    std::vector<long> codes;
    for (int k = 1; k <= n; k++) codes.push_back(k);
    return codes;
  }
};

TEST_F(FixedTest, RecordOffsetsWithAndWithoutANamesLine) {
  struct Case {
    int records;
    int namesLength;  // -1: no names line
    const char* lineEnd;
    const char* eol;
    long recordLength;
  } cases[] = {
      {10, -1, "\r\n", "CRLF", 17}, {9, 17, "\r\n", "CRLF", 17},  // a names line of one record
      {3, 12, "\r\n", "CRLF", 17},                                // shorter: records begin at byte 12
      {1, 12, "\r\n", "CRLF", 17},                                // one record behind a short names line
      {4, 30, "\r\n", "CRLF", 17},                                // longer than a record
      {4, 40, "\r\n", "CRLF", 17},                                // longer than two records
      {3, 4097, "\r\n", "CRLF", 17},  // its line end straddles two blocks of the search
      {5, -1, "\n", "LF", 16},      {5, 11, "\n", "LF", 16},
      {6, -1, "", "NONE", 15},      // no line end: the widths alone
      {0, -1, "\r\n", "CRLF", 17},  {0, 17, "\r\n", "CRLF", 17},
  };
  for (const auto& c : cases) {
    WriteTable(c.records, c.namesLength, c.lineEnd, c.eol);
    CQmsFixedTextTable table("codes.txt");
    table.SetReadOnly(1);
    table.Open();
    std::string label = std::to_string(c.records) + " records, names line " + std::to_string(c.namesLength);
    EXPECT_EQ(table.GetRecordLength(), c.recordLength) << label;
    EXPECT_EQ(table.GetCount(), static_cast<unsigned long>(c.records)) << label;
    EXPECT_EQ(Codes(table), Upto(c.records)) << label;
    if (c.records > 1) {
      table.MoveTo(2);
      CQmsRecord record;
      table.GetFields(record);
      table.FillAllFieldValues(record);
      EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(1)), "row2") << label;
      table.MoveLast();
      table.FillAllFieldValues(record);
      EXPECT_EQ(long(*record.GetFieldByHandle(0)), c.records) << label;
    }
  }
}

TEST_F(FixedTest, DamagedRecordsAreReported) {
  dir_.Write("codes.fmt", "TYPE=Fixed\nCODE Numeric 5\nNAME Character 10\n");
  // Record 2's line end comes 3 characters early; record 3 has none.
  dir_.Write("codes.txt", std::string("    1row1      \r\n") + "    2row2   \r\n   " + "    3row3      xx" + "\r\n");
  CQmsFixedTextTable table("codes.txt");
  table.SetReadOnly(1);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.MoveTo(2); }), QMS_SEVERE_INVALID_RECORD);
  std::string log = ErrorLog();
  EXPECT_NE(log.find("Record Length is short by 3 characters\n\nTableName: codes.txt\n"
                     "Record Length Computed from format file: 17\n\nRecord Number: 2\nRecord:     2row2   \r\n\n\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(CodeOf([&] { table.MoveTo(3); }), QMS_SEVERE_INVALID_RECORD);
  EXPECT_NE(ErrorLog().find("Record Length exceeds that defined by the format file"), std::string::npos);
}

TEST_F(FixedTest, MovesPastTheEnds) {
  WriteTable(3, -1);
  CQmsFixedTextTable table("codes.txt");
  table.SetReadOnly(1);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.MoveTo(5); }), QMS_SEVERE_RECORD_NUMBER);
  EXPECT_EQ(CodeOf([&] { table.MoveTo(0); }), QMS_SEVERE_RECORD_NUMBER);
  table.MoveBy(100);
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(table.GetPosition(), 4u);
  table.MoveBy(-1);
  EXPECT_EQ(table.GetPosition(), 3u);
  table.MoveBy(-7);
  EXPECT_EQ(table.AtBOF(), 1);
  EXPECT_EQ(table.GetPosition(), 1u);
  table.MoveTo(4);  // one past the last: the end of the file
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), QMS_WARN_UNIMPLEMENTED);
  EXPECT_EQ(table.Seek("=", "1"), 0);
  EXPECT_NE(ErrorLog().find("Seek on Index"), std::string::npos);
  CQmsRecord key;
  key.Add("NOPE", 3);
  EXPECT_EQ(CodeOf([&] { table.Seek("=", key); }), QMS_SEVERE_SEEK_EMPTY);
}

TEST_F(FixedTest, ReadsDatesThroughTheirPicture) {
  dir_.Write("born.fmt", "TYPE=Fixed\nEOL=LF\nID Numeric 3\nBORN Date 10 mm/dd/ccyy\n");
  dir_.Write("born.txt", "  103/15/2011\n  2          \n");
  CQmsFixedTextTable table("born.txt");
  table.SetReadOnly(1);
  table.Open();
  CQmsRecord record;
  table.GetFields(record);
  table.MoveFirst();
  table.FillAllFieldValues(record);
  EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(1)), "20110315");
  table.MoveBy(1);
  table.FillAllFieldValues(record);
  EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(1)), "00000000");  // empty, not a failure
  CQmsRecord wide;
  wide.Add("ID", 3);
  wide.Add("REST", 11);
  EXPECT_EQ(CodeOf([&] { table.FillAllFieldValues(wide); }), QMS_SEVERE_OUT_OF_BOUNDS);
  CQmsRecord target;
  target.Add("WHEN", QMS_VARIANT_DATE, "ccyymmdd", 8);
  CQmsRecord source;
  table.GetFields(source);
  CQmsFieldMap map;
  map.UseRecords(target, source);
  map.MapFromFieldToField("WHEN", "BORN");
  table.MoveFirst();
  table.FillMappedRecord(map, target);
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(0)), "20110315");
}

TEST_F(FixedTest, WritesValuesIntoTheirWidths) {
  CQmsRecord fields;
  fields.Add("NAME", 6);
  fields.Add("COUNT", QMS_VARIANT_LONG, 4);
  fields.Add("RATIO", QMS_VARIANT_DOUBLE, 7, 2);
  fields.Add("BORN", QMS_VARIANT_DATE, "dd.mm.ccyy", 10);
  CQmsFixedTextTable table("", "out.txt", "");
  table.DefineFields(fields);
  table.SetLineEnd(2);
  table.SetFirstLineNames(1);
  table.Create();
  struct Row {
    const char* name;
    long count;
    double ratio;
    const char* born;
  } rows[] = {{"Longer name", 42, 3.14159, "20110315"}, {"ab", 123456, -12345.678, ""}};
  for (const Row& row : rows) {
    fields.SetFieldByHandle(0, row.name);
    fields.SetFieldByHandle(1, row.count);
    fields.SetFieldByHandle(2, row.ratio);
    fields.SetFieldByHandle(3, row.born);
    table.AddNewRecord();
    table.SetAllFieldValues(fields);
    table.CommitRecord();
  }
  EXPECT_EQ(table.GetCount(), 3u);  // the names line counts while the table is written
  table.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("out.txt")),
            "NAME  COUNRATIO  BORN      \n"
            "Longer  42   3.1415.03.2011\n"
            "ab    ***********          \n");
  CQmsFixedTextTable again("out.txt");
  again.SetReadOnly(0);
  again.Open();
  EXPECT_EQ(again.GetCount(), 2u);  // read back, the names line is no record
  // Rewrite record 1 in place, then append after the names line and records.
  CQmsRecord record;
  again.GetFields(record);
  again.MoveTo(1);
  again.FillAllFieldValues(record);
  record.SetFieldByHandle(1, 7L);
  again.SetAllFieldValues(record);
  again.CommitRecord();
  again.AddNewRecord();
  record.SetFieldByHandle(0, "new");
  again.SetAllFieldValues(record);
  again.CommitRecord();
  again.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("out.txt")),
            "NAME  COUNRATIO  BORN      \n"
            "Longer   7   3.1415.03.2011\n"
            "ab    ***********          \n"
            "new      7   3.1415.03.2011\n");
}

TEST_F(FixedTest, MappedWritesFillTheirColumnsOnly) {
  CQmsRecord fields;
  fields.Add("A", 3);
  fields.Add("B", QMS_VARIANT_LONG, 3);
  CQmsFixedTextTable table("", "mapped.txt", "");
  table.DefineFields(fields);
  table.SetLineEnd(0);
  table.Create();
  CQmsRecord source;
  source.Add("b", 5);
  source.SetFieldByHandle(0, "12");
  table.AddNewRecord();
  table.SetFieldValues(source);
  table.CommitRecord();
  table.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("mapped.txt")), "    12");
}

TEST_F(FixedTest, OpenAndCreateFailures) {
  CQmsFixedTextTable missing("absent.txt");
  EXPECT_EQ(CodeOf([&] { missing.Open(); }), QMS_SEVERE_TABLE_CLOSED);
  dir_.Write("delimited.fmt", "TYPE=,\nA C 1\n");
  dir_.Write("delimited.txt", "a\r\n");
  CQmsFixedTextTable delimited("delimited.txt");
  EXPECT_EQ(CodeOf([&] { delimited.Open(); }), QMS_SEVERE_NO_FIELDS);
  EXPECT_EQ(delimited.IsOpen(), 0);
  std::filesystem::create_directory(dir_.File("blocked.fmt"));
  CQmsRecord fields;
  fields.Add("A", 1);
  CQmsFixedTextTable blocked("blocked.txt");
  blocked.DefineFields(fields);
  EXPECT_EQ(CodeOf([&] { blocked.Create(); }), QMS_SEVERE_CREATE);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("blocked.txt")));
  WriteTable(2, -1);
  CQmsFixedTextTable table("codes.txt");
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.Create(); }), QMS_SEVERE_TABLE_OPEN);
  EXPECT_EQ(CodeOf([&] { table.ClearFields(); }), QMS_SEVERE_TABLE_OPEN);
  CQmsTable* clone = table.Clone();
  EXPECT_EQ(clone->GetFieldCount(), 2);
  EXPECT_EQ(clone->IsOpen(), 0);
  delete clone;
  _QMS_TABLE_CAPABILITIES c{};
  table.FillCapabilities(c);
  EXPECT_STREQ(c.szKind, "Fixed");
  EXPECT_EQ(c.bUpdate, 1);
  EXPECT_EQ(c.bRandomAccess, 1);
}

}  // namespace
