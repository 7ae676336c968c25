#include "tables/qtbldtxt.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qfldmap.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::RowTexts;
using tablestest::Count;
using tablestest::TablesTest;

class DelimProbe : public CQmsDelimTextTable {
 public:
  using CQmsDelimTextTable::CQmsDelimTextTable;
  // Every field of a line as the splitter hands them out; "<null>" ends it.
  std::vector<std::string> Split(const std::string& line) {
    SplitLine(line);
    std::vector<std::string> fields;
    for (int i = 0; i < 12; i++) {
      const char* field = GetNextField();
      fields.push_back(field ? field : "<null>");
      if (field == nullptr) break;
    }
    return fields;
  }
};

struct SplitCase {
  const char* line;
  const char* delimiter;
  std::vector<std::string> fields;
};

TEST(DelimitedSplit, QuotesTabsAndDelimiters) {
  const SplitCase cases[] = {
      {"a,,c", ",", {"a", "", "c", "<null>"}},
      {"a,b,", ",", {"a", "b", "<null>"}},
      {"\"x,y\",z", ",", {"x,y", "z", "<null>"}},
      {"\"ab\"cd,e", ",", {"ab", "e", "<null>"}},  // text after the closing quote is dropped
      {"\"abc", ",", {"abc", "<null>"}},            // no closing quote: to the end of the line
      {"'it''s',1", ",", {"it''s", "1", "<null>"}},  // a doubled quote stays two characters
      {"\"ab\"\"c\",x", ",", {"ab\"\"c", "x", "<null>"}},
      {"a,\tb", ",", {"a", "", "b", "<null>"}},  // a leading TAB separates a field of its own
      {"a\tb\t\tc", "t", {"a", "b", "", "c", "<null>"}},
      {"'q',\"r\"", ",", {"q", "r", "<null>"}},  // both quote characters, whatever the qualifier
      {"x\"y,z", ",", {"x\"y", "z", "<null>"}},   // a quote inside an unquoted field is text
      {"", ",", {"<null>"}},
      {"a|b|c", "|", {"a", "b", "c", "<null>"}},
  };
  for (const SplitCase& c : cases) {
    DelimProbe table;
    table.SetDelimiter(c.delimiter);
    EXPECT_EQ(table.Split(c.line), c.fields) << c.line;
  }
}

class DelimitedSettings : public TablesTest {};

TEST_F(DelimitedSettings, SetDelimiterTakesWordsAndCharacters) {
  struct Case {
    const char* text;
    char delimiter;  // 0: raises 22000008
  } cases[] = {
      {"tab", 't'},  {"T", 't'},   {"comma", ','}, {"semicolon", ';'}, {"slash", '/'}, {"|", '|'},
      {"#", '#'},    {"\xA7", '\xA7'}, {"space", ','}, {"s", ','},       {"sx", ','},    {" ", 0},
      {".", 0},      {"-", 0},     {"x", 0},       {"7", 0},           {"Fixed", 0},   {"", 0},
  };
  for (const auto& c : cases) {
    CQmsDelimTextTable table;
    long code = CodeOf([&] { table.SetDelimiter(c.text); });
    if (c.delimiter == 0) {
      EXPECT_EQ(code, QMS_SEVERE_INVALID_ARGUMENT) << c.text;
      EXPECT_EQ(table.GetDelimiter(), ',') << c.text;
    } else {
      EXPECT_EQ(code, 0) << c.text;
      EXPECT_EQ(table.GetDelimiter(), c.delimiter) << c.text;
    }
  }
  CQmsDelimTextTable table;
  EXPECT_EQ(CodeOf([&] { table.SetQualifier('`'); }), QMS_SEVERE_INVALID_ARGUMENT);
  table.SetQualifier('\'');
  EXPECT_EQ(table.GetQualifier(), '\'');
}

class DelimitedTest : public TablesTest {
 protected:
  // A table of ID (LONG 6), NAME (STRING 20), AMOUNT (DOUBLE 10.2) and BORN
  // (DATE 10, mm/dd/ccyy) over the given lines.
  void WriteTable(const std::string& data) {
    dir_.Write("people.fmt",
               "TYPE=,\nEOL=CRLF\nFLN=Yes\nID Numeric 6\nNAME Character 20\nAMOUNT Numeric 10.2\nBORN Date 10 mm/dd/ccyy\n");
    dir_.Write("people.csv", data);
  }
};

TEST_F(DelimitedTest, ReadsRowsSkippingTheNamesLineAndEmptyLines) {
  WriteTable(
      "ID,NAME,AMOUNT,BORN\r\n"
      "1,\"Smith, John\",12.5,03/15/2011\r\n"
      "\r\n"
      "2, Ann ,,\r\n"
      "\n"
      "3,Bo\x1A"
      "4,never,1,01/01/2000\r\n");
  CQmsDelimTextTable table("people.csv");
  table.Open();
  EXPECT_EQ(table.GetPosition(), 0u);  // before the first record until a move
  EXPECT_EQ(table.AtBOF(), 1);
  // The empty date cell gives an empty value; a missing cell too.
  EXPECT_EQ(RowTexts(table), (std::vector<std::string>{"1|Smith, John|12.500000|20110315",
                                                      "2|Ann|0.000000|00000000", "3|Bo|0.000000|00000000"}));
  EXPECT_EQ(table.GetCount(), 3u);
  table.Close();
  EXPECT_EQ(table.GetFieldCount(), 0);
  EXPECT_EQ(table.GetCount(), 3u);  // opens the table for the count
}

TEST_F(DelimitedTest, ALongLineIsOneRecord) {
  std::string name(20000, 'n');
  WriteTable("ID,NAME,AMOUNT,BORN\n7," + name + ",1.25,\n8,short,2,\n");
  CQmsDelimTextTable table("people.csv");
  table.Open();
  CQmsRecord record;
    table.GetFields(record);
  record.SetFieldWidthByHandle(1, 20000);
  table.MoveFirst();
  table.FillAllFieldValues(record);
  EXPECT_EQ(std::string(static_cast<const char*>(*record.GetFieldByHandle(1))), name);
  table.MoveBy(1);
  table.FillAllFieldValues(record);
  EXPECT_EQ(long(*record.GetFieldByHandle(0)), 8);
  table.MoveBy(1);
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(table.GetPosition(), 2u);
}

TEST_F(DelimitedTest, MovesByReadingAgain) {
  WriteTable("ID,NAME,AMOUNT,BORN\n1,a,,\n2,b,,\n3,c,,\n4,d,,\n");
  CQmsDelimTextTable table("people.csv");
  table.Open();
  CQmsRecord record;
    table.GetFields(record);
  auto id = [&] {
    table.FillAllFieldValues(record);
    return long(*record.GetFieldByHandle(0));
  };
  table.MoveTo(3);
  EXPECT_EQ(id(), 3);
  table.MoveTo(2);
  EXPECT_EQ(id(), 2);
  table.MoveLast();
  EXPECT_EQ(id(), 4);
  EXPECT_EQ(table.AtEOF(), 0);
  table.MoveTo(3);
  table.MoveBy(-5);
  EXPECT_EQ(table.GetPosition(), 0u);
  EXPECT_EQ(table.AtBOF(), 1);
  table.MoveBy(1);
  EXPECT_EQ(id(), 1);
  table.MoveTo(9);
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(table.GetPosition(), 4u);  // stopped at the last record
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), QMS_WARN_UNIMPLEMENTED);
  table.Close();
  EXPECT_EQ(CodeOf([&] { table.AtEOF(); }), QMS_SEVERE_TABLE_CLOSED);
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), QMS_SEVERE_TABLE_CLOSED);
}

TEST_F(DelimitedTest, MappedReadsGiveOneColumnToSeveralFields) {
  WriteTable("ID,NAME,AMOUNT,BORN\n5,  padded  ,3.5,12/31/1999\n");
  CQmsDelimTextTable table("people.csv");
  table.Open();
  CQmsRecord source;
    table.GetFields(source);
  CQmsRecord target;
  target.Add("LEFT", 20);
  target.Add("RIGHT", 20);
  target.Add("BORN", QMS_VARIANT_DATE, "ccyymmdd", 8);
  target.SetFieldTrimmingByHandle(0, QMS_TRIM_LEADING);
  target.SetFieldTrimmingByHandle(1, QMS_TRIM_TRAILING);
  CQmsFieldMap map;
  map.UseRecords(target, source);
  map.MapFromFieldToField("LEFT", "NAME");
  map.MapFromFieldToField("RIGHT", "NAME");
  map.MapFromFieldToField("BORN", "BORN");
  table.MoveFirst();
  table.FillMappedRecord(map, target);
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(0)), "padded  ");
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(1)), "  padded");
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(2)), "19991231");
  CQmsRecord byName;
  byName.Add("born", QMS_VARIANT_DATE, "ccyymmdd", 8);
  table.FillFieldValues(byName);
  EXPECT_STREQ(static_cast<const char*>(*byName.GetFieldByHandle(0)), "19991231");
}

TEST_F(DelimitedTest, WritesNamesQualifiersNumbersAndDates) {
  CQmsRecord fields;
  fields.Add("ID", QMS_VARIANT_LONG, 6);
  fields.Add("NAME", 20);
  fields.Add("AMOUNT", QMS_VARIANT_DOUBLE, 10, 2);
  fields.Add("BORN", QMS_VARIANT_DATE, "mm/dd/ccyy", 10);
  CQmsDelimTextTable table("out.csv");
  table.DefineFields(fields);
  table.SetReadOnly(0);
  table.Create();
  fields.SetFieldByHandle(0, 1L);
  fields.SetFieldByHandle(1, "say \"hi\", then");
  fields.SetFieldByHandle(2, 3.14159);
  fields.SetFieldByHandle(3, "20110315");
  table.AddNewRecord();
  table.SetAllFieldValues(fields);
  table.CommitRecord();
  fields.SetFieldByHandle(0, 2L);
  fields.SetFieldByHandle(1, "");
  fields.SetFieldByHandle(2, -0.5);
  fields.SetFieldByHandle(3, "");
  table.AddNewRecord();
  table.SetAllFieldValues(fields);
  table.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("out.csv")),
            "\"ID\",\"NAME\",\"AMOUNT\",\"BORN\"\r\n"
            "1,\"say \"hi\", then\",3.14,\"03/15/2011\"\r\n"
            "2,\"\",-0.50,\"\"\r\n");
  // Read back through its own format file: the splitter takes the inner
  // quotes back as they were written.
  CQmsDelimTextTable again("out.csv");
  again.Open();
  EXPECT_EQ(again.GetCount(), 2u);
  EXPECT_EQ(RowTexts(again),
            (std::vector<std::string>{"1|say \"hi\", then|3.140000|20110315", "2||-0.500000|00000000"}));
}

TEST_F(DelimitedTest, MappedWritesLeaveUnmappedColumnsEmpty) {
  CQmsRecord fields;
  fields.Add("A", 5);
  fields.Add("B", 5);
  fields.Add("C", 5);
  CQmsDelimTextTable table("", "mapped.txt", "");
  table.DefineFields(fields);
  table.SetFirstLineNames(0);
  table.SetLineEnd(2);
  table.SetDelimiter(";");
  table.Create();
  CQmsRecord source;
  source.Add("C", 5);
  source.Add("A", 5);
  source.SetFieldByHandle(0, "c");
  source.SetFieldByHandle(1, "a");
  table.AddNewRecord();
  table.SetFieldValues(source);
  EXPECT_EQ(CodeOf([&] { table.SetQualifier(0); }), QMS_SEVERE_TABLE_OPEN);
  table.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("mapped.txt")), "\"a\";\"\";\"c\"\n");
  EXPECT_NE(testsupport::ReadAll(dir_.File("mapped.fmt")).find("TYPE=;"), std::string::npos);
}

TEST_F(DelimitedTest, OutputValidationLogsFieldCounts) {
  CQmsRecord fields;
  fields.Add("A", 5);
  fields.Add("B", 5);
  fields.Add("C", 5);
  CQmsDelimTextTable table("checked.csv");
  table.DefineFields(fields);
  table.SetQualifier(0);
  table.SetFirstLineNames(0);
  table.SetOutputValidation(1);
  table.Create();
  CQmsRecord three;
  three.Add("A", 5);
  three.Add("B", 5);
  three.Add("C", 5);
  three.SetFieldByHandle(0, "a");
  three.SetFieldByHandle(1, "b");
  table.AddNewRecord();
  table.SetAllFieldValues(three);  // "a,b," : a trailing delimiter opens the empty last field
  EXPECT_EQ(Count(ErrorLog(), "Expected"), 0);
  CQmsRecord two;
  two.Add("A", 5);
  two.Add("B", 5);
  two.SetFieldByHandle(0, "a");
  two.SetFieldByHandle(1, "b");
  table.AddNewRecord();
  table.SetAllFieldValues(two);
  EXPECT_NE(ErrorLog().find("Expected 3 fields and found 2\nFound in line 2 in file: checked.csv\nLine: a,b\n"),
            std::string::npos);
  EXPECT_NE(ErrorLog().find("11000030"), std::string::npos);  // the second line of a file without names
  table.Close();
  EXPECT_EQ(testsupport::ReadAll(dir_.File("checked.csv")), "a,b,\r\na,b\r\n");  // written all the same
}

TEST_F(DelimitedTest, AppendsGoAtTheEndOfAnExistingFile) {
  WriteTable("ID,NAME,AMOUNT,BORN\r\n1,a,,\r\n2,b,,\r\n");
  CQmsDelimTextTable table("people.csv");
  table.SetReadOnly(0);
  table.Open();
  CQmsRecord record;
    table.GetFields(record);
  table.MoveFirst();  // reading first, then appending
  record.SetFieldByHandle(0, 3L);
  record.SetFieldByHandle(1, "c");
  table.AddNewRecord();
  EXPECT_EQ(table.GetPosition(), 3u);
  table.SetAllFieldValues(record);
  EXPECT_EQ(table.GetCount(), 3u);
  table.Close();
  std::string text = testsupport::ReadAll(dir_.File("people.csv"));
  EXPECT_EQ(text.substr(0, 31), "ID,NAME,AMOUNT,BORN\r\n1,a,,\r\n2,b");  // no second names line
  EXPECT_EQ(Count(text, "ID,"), 1);
  EXPECT_NE(text.find("3,\"c\",0.00,\"\"\r\n"), std::string::npos);
}

TEST_F(DelimitedTest, OpenAndCreateFailures) {
  CQmsDelimTextTable missing("absent.csv");
  EXPECT_EQ(CodeOf([&] { missing.Open(); }), QMS_SEVERE_NO_FORMAT_FILE);
  dir_.Write("nodata.fmt", "A C 1\n");
  CQmsDelimTextTable nodata("nodata.csv");
  EXPECT_EQ(CodeOf([&] { nodata.Open(); }), QMS_SEVERE_TABLE_CLOSED);
  EXPECT_NE(ErrorLog().find("Could not open : nodata.csv (may have read only permissions)"), std::string::npos);
  dir_.Write("nofields.fmt", "; nothing\n");
  dir_.Write("nofields.csv", "x\n");
  CQmsDelimTextTable nofields("nofields.csv");
  EXPECT_EQ(CodeOf([&] { nofields.Open(); }), QMS_SEVERE_NO_FIELDS);
  EXPECT_EQ(nofields.IsOpen(), 0);
  // A format file that cannot be written fails the create and leaves no
  // data file behind.
  std::filesystem::create_directory(dir_.File("blocked.fmt"));
  CQmsRecord fields;
  fields.Add("A", 1);
  CQmsDelimTextTable blocked("blocked.csv");
  blocked.DefineFields(fields);
  EXPECT_EQ(CodeOf([&] { blocked.Create(); }), QMS_SEVERE_CREATE);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("blocked.csv")));
  EXPECT_EQ(blocked.IsOpen(), 0);
}

TEST_F(DelimitedTest, DestroyAndRenameMoveBothFiles) {
  WriteTable("ID,NAME,AMOUNT,BORN\n1,a,,\n");
  CQmsDelimTextTable table("people.csv");
  dir_.Write("taken.csv", "x\n");
  EXPECT_EQ(CodeOf([&] { table.RenameTable("taken"); }), QMS_SEVERE_RENAME);
  EXPECT_STREQ(table.GetTableName(), "people.csv");
  EXPECT_NE(ErrorLog().find("Unable to rename table 'people.csv' to 'taken.csv'"), std::string::npos);
  table.RenameTable("staff");
  EXPECT_STREQ(table.GetTableName(), "staff.csv");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("staff.csv")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("staff.fmt")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("people.fmt")));
  EXPECT_EQ(table.Exists(), 1);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.RenameTable("other"); }), QMS_SEVERE_TABLE_OPEN);
  table.Destroy();
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("staff.csv")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("staff.fmt")));
  EXPECT_EQ(table.Exists(), 0);
}

TEST_F(DelimitedTest, DumpWritesTheHeaderAndEveryRecord) {
  WriteTable("ID,NAME,AMOUNT,BORN\n1,Ann,2.5,01/02/2003\n");
  CQmsDelimTextTable table("people.csv");
  table.OpenDump(dir_.File("dump.txt").c_str());
  table.Dump(1);
  table.CloseDump();
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_EQ(testsupport::ReadAll(dir_.File("dump.txt")),
            "\nCQmsDelimTextTable:\n\n   Database Name: \n   Table Name:    people.csv\n\n"
            "   ID    NAME                AMOUNT    BORN      \n"
            "        1Ann                   2.500000  20030102\n");
}

TEST_F(DelimitedTest, CopiesKeepTheLayoutAndAreClosed) {
  WriteTable("ID,NAME,AMOUNT,BORN\n1,a,,\n");
  CQmsDelimTextTable table("people.csv");
  table.Open();
  CQmsTable* clone = table.Clone();
  EXPECT_EQ(clone->IsOpen(), 0);
  EXPECT_STREQ(clone->GetTableName(), "people.csv");
  EXPECT_EQ(clone->GetFieldCount(), 4);
  CQmsDelimTextTable target;
  target = table;
  EXPECT_EQ(target.GetFieldCount(), 4);
  EXPECT_EQ(CodeOf([&] { table = target; }), QMS_SEVERE_TABLE_OPEN);
  delete clone;
}

}  // namespace
