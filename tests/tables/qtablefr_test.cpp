#include "tables/qtablefr.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qfldmap.h"
#include "tests/tables/tables_fixture.h"
#include "xbase/d4all.h"
#include "xbase/xbase.h"

namespace {

using tablestest::CodeOf;
using tablestest::RowTexts;
using tablestest::TablesTest;


// The table with its protected parts opened up for the tests.
class FrProbe : public CQmsFolioRackTable {
 public:
  using CQmsFolioRackTable::CQmsFolioRackTable;
  using CQmsFolioRackTable::BuildRecordKey;
  static int Users() { return m_iCode4Users; }
  static bool HasContext() { return m_pCode4 != nullptr; }
};

class FolioRackTest : public TablesTest {
 protected:
  void TearDown() override {
    CQmsFolioRackTable::SetSupportDateTime(0);
    TablesTest::TearDown();
  }

  // A data file made by the engine itself, in the Visual FoxPro dialect so
  // that every column type can be made. Each column: name, type, width,
  // decimals.
  void MakeTable(const std::string& name, const std::vector<FIELD4INFO>& columns) {
    CQmsFolioRackTable holder;
    Code4* c4 = holder.GetCode4();
    short dialect = c4->compatibility;
    c4->compatibility = k4dialectFox;
    std::vector<FIELD4INFO> list = columns;
    list.push_back(FIELD4INFO{});
    DATA4* data = d4create(c4, dir_.File(name).c_str(), list.data());
    ASSERT_NE(data, nullptr) << c4->errorCode();
    d4close(data);
    c4->compatibility = dialect;
    holder.ReleaseCode4();
  }

  // name:type:width.decimals[:picture] of every field of a record.
  static std::string Describe(const CQmsRecord& record) {
    std::string text;
    for (int i = 0; i < record.GetCount(); i++) {
      if (i > 0) text += " ";
      text += std::string(record.GetFieldName(i)) + ":" + QmsVariantTypeName(record.GetFieldTypeByHandle(i)) + ":" +
              std::to_string(record.GetFieldWidthByHandle(i)) + "." +
              std::to_string(record.GetFieldDecimalsByHandle(i));
      const char* picture = record.GetDataPictureByHandle(i);
      if (picture != nullptr && picture[0] != 0) text += std::string(":") + picture;
    }
    return text;
  }

  // A record of one row of the types the library writes.
  static void PeopleFields(CQmsRecord& fields) {
    fields.Add("NAME", 12);
    fields.Add("COUNT", QMS_VARIANT_LONG, 6);
    fields.Add("LON", QMS_VARIANT_DOUBLE, 11, 6);
    fields.Add("BIGID", QMS_VARIANT_DOUBLE, 12, 0);
    fields.Add("BORN", QMS_VARIANT_DATE, "ccyymmdd", 8);
    fields.Add("ACTIVE", QMS_VARIANT_BOOLEAN, 1);
    fields.Add("SMALL", QMS_VARIANT_INT, 11);
    fields.Add("UNSIGNED", QMS_VARIANT_ULONG, 10);
  }

  // Creates people.dbf with the rows given as texts per field.
  void CreatePeople(const std::vector<std::vector<const char*>>& rows) {
    CQmsRecord fields;
    PeopleFields(fields);
    CQmsFolioRackTable table(dir_.path().c_str(), "people");
    table.DefineFields(fields);
    table.Create();
    for (const auto& row : rows) {
      for (int i = 0; i < fields.GetCount(); i++) fields.SetFieldByHandle(i, row[size_t(i)]);
      table.AddNewRecord();
      table.SetAllFieldValues(fields);
      table.CommitRecord();
    }
    table.Close();
  }
};

TEST_F(FolioRackTest, ColumnsBecomeFieldsByType) {
  MakeTable("types.dbf", {
                             {const_cast<char*>("C"), 'C', 12, 0, 0},
                             {const_cast<char*>("D"), 'D', 8, 0, 0},
                             {const_cast<char*>("N9"), 'N', 9, 0, 0},
                             {const_cast<char*>("N10"), 'N', 10, 0, 0},
                             {const_cast<char*>("N12_2"), 'N', 12, 2, 0},
                             {const_cast<char*>("N11_6"), 'N', 11, 6, 0},
                             {const_cast<char*>("F13_2"), 'F', 13, 2, 0},
                             {const_cast<char*>("F5"), 'F', 5, 0, 0},
                             {const_cast<char*>("L"), 'L', 1, 0, 0},
                             {const_cast<char*>("I"), 'I', 4, 0, 0},
                             {const_cast<char*>("B2"), 'B', 8, 2, 0},
                             {const_cast<char*>("T"), 'T', 8, 0, 0},
                             {const_cast<char*>("Y"), 'Y', 8, 4, 0},
                             {const_cast<char*>("M"), 'M', 4, 0, 0},
                         });
  for (QBOOL dateTimes : {0, 1}) {
    CQmsFolioRackTable::SetSupportDateTime(dateTimes);
    CQmsFolioRackTable table(dir_.path().c_str(), "types");
    table.Open();
    CQmsRecord record;
    EXPECT_EQ(table.GetFields(record), 14);
    std::string t = dateTimes ? "T:QMS_VARIANT_DATETIME:16.0:ccyymmddHH:MM:SS" : "T:QMS_VARIANT_DATE:8.0:ccyymmdd";
    EXPECT_EQ(Describe(record),
              "C:QMS_VARIANT_STRING:12.0 D:QMS_VARIANT_DATE:8.0:ccyymmdd N9:QMS_VARIANT_LONG:9.0 "
              "N10:QMS_VARIANT_DOUBLE:10.0 N12_2:QMS_VARIANT_DOUBLE:12.2 N11_6:QMS_VARIANT_DOUBLE:11.6 "
              "F13_2:QMS_VARIANT_DOUBLE:13.2 F5:QMS_VARIANT_DOUBLE:5.0 L:QMS_VARIANT_BOOLEAN:1.0 "
              "I:QMS_VARIANT_INT:11.0 B2:QMS_VARIANT_DOUBLE:20.2 " +
                  t + " Y:QMS_VARIANT_STRING:64.0 M:QMS_VARIANT_STRING:0.0");
    EXPECT_EQ(table.GetFieldCount(), 14);
    EXPECT_STREQ(table.GetFieldName(5), "N11_6");
  }
  std::string log = ErrorLog();
  EXPECT_NE(log.find("Field 'Y' is of a potentially unsupported datatype.\nIf you wish to continue, an attempt will "
                     "be made to convert the data to a string representation."),
            std::string::npos);
  EXPECT_NE(log.find("Field 'M' is of a potentially unsupported datatype.\nIf you wish to continue, the data in this "
                     "field will be lost."),
            std::string::npos);
}

TEST_F(FolioRackTest, DefineFieldsChecksNamesAndWidens) {
  struct Case {
    const char* name;
    QMS_VARIANT_TYPE type;
    int width;
    int decimals;
    long code;
    const char* column;  // name:letter:width.decimals
  } cases[] = {
      {"ELEVENCHARS", QMS_VARIANT_STRING, 5, 0, QMS_SEVERE_FIELD_NAME_LENGTH, ""},
      {"A", QMS_VARIANT_DOUBLE, 4, 3, 0, "A:F:7.3"},
      {"A", QMS_VARIANT_DOUBLE, 0, 2, 0, "A:F:10.2"},
      {"A", QMS_VARIANT_DOUBLE, 10, 2, 0, "A:F:10.2"},
      {"A", QMS_VARIANT_LONG, 6, 0, 0, "A:N:6.0"},
      {"A", QMS_VARIANT_ULONG, 10, 0, 0, "A:N:10.0"},
      {"A", QMS_VARIANT_BOOLEAN, 1, 0, 0, "A:L:1.0"},
      {"A", QMS_VARIANT_DATETIME, 16, 0, 0, "A:D:16.0"},  // no date-time support: a date
  };
  for (const auto& c : cases) {
    CQmsRecord record;
    if (c.type == QMS_VARIANT_DATETIME) {
      record.Add(c.name, c.type, "ccyymmddHH:MM:SS", c.width);
    } else {
      record.Add(c.name, c.type, c.width, c.decimals);
    }
    CQmsFolioRackTable table("defined");
    EXPECT_EQ(CodeOf([&] { table.DefineFields(record); }), c.code) << c.name << " " << c.type;
    if (c.code != 0) continue;
    EXPECT_EQ(table.GetFieldCount(), 1);
  }
  CQmsRecord twice;
  twice.Add("Name", 5);
  CQmsRecord again;
  again.Add("NAME", 5);
  CQmsFolioRackTable table("defined");
  table.DefineFields(twice);
  EXPECT_EQ(CodeOf([&] { table.DefineFields(again); }), QMS_SEVERE_FIELD_EXISTS);
  EXPECT_NE(ErrorLog().find("Field 'A' is a DateTime field. DateTime is not supported in the \noutput table."),
            std::string::npos);
  table.ClearFields();
  EXPECT_EQ(table.GetFieldCount(), 0);
  EXPECT_EQ(CodeOf([&] { table.Create(); }), QMS_SEVERE_NO_FIELDS);
}

TEST_F(FolioRackTest, DefinedColumnsAreCreatedWithTheirWidths) {
  CQmsRecord fields;
  fields.Add("A", QMS_VARIANT_DOUBLE, 4, 3);
  fields.Add("B", QMS_VARIANT_DOUBLE, 0, 2);
  fields.Add("C", QMS_VARIANT_INT, 11);
  fields.Add("D", QMS_VARIANT_DATE, "ccyymmdd", 8);
  CQmsFolioRackTable table(dir_.path().c_str(), "widths");
  table.DefineFields(fields);
  table.Create();
  CQmsRecord record;
  table.GetFields(record);
  EXPECT_EQ(Describe(record), "A:QMS_VARIANT_DOUBLE:7.3 B:QMS_VARIANT_DOUBLE:10.2 C:QMS_VARIANT_DOUBLE:11.0 "
                              "D:QMS_VARIANT_DATE:8.0:ccyymmdd");
}

TEST_F(FolioRackTest, NamesKeepTheirCase) {
  CQmsFolioRackTable table("C:/data/Roads.DBF");
  EXPECT_STREQ(table.GetDatabaseName(), "C:/data/");
  EXPECT_STREQ(table.GetTableName(), "Roads.DBF");
  CQmsFolioRackTable joined("/srv/data", "Roads");
  EXPECT_STREQ(joined.GetDatabaseName(), "/srv/data/");
  EXPECT_STREQ(joined.GetTableName(), "Roads");
  CQmsFolioRackTable backslash("D:\\gis\\", "parcels.dbf");
  EXPECT_STREQ(backslash.GetDatabaseName(), "D:/gis/");
  EXPECT_EQ(CodeOf([&] { table.SetTableName("roads.txt"); }), QMS_SEVERE_EXTENSION);
  EXPECT_NE(ErrorLog().find("If an extension is used it should be '.dbf': roads.txt"), std::string::npos);
  EXPECT_STREQ(table.GetTableName(), "Roads.DBF");
  EXPECT_EQ(CodeOf([] { CQmsFolioRackTable bad("x.shp"); }), QMS_SEVERE_EXTENSION);
  CQmsFolioRackTable unnamed;
  EXPECT_EQ(CodeOf([&] { unnamed.Open(); }), QMS_SEVERE_NO_NAME);
}

TEST_F(FolioRackTest, WritesAndReadsBackEveryType) {
  CreatePeople({{"Ann", "42", "-74.123456", "123456789012", "20110315", "T", "-2147483647", "2000000000"},
                {"Bob", "0", "0", "0", "", "F", "0", "0"}});
  FrProbe table(dir_.path().c_str(), "PEOPLE.DBF");  // found ignoring case
  table.Open();
  EXPECT_EQ(table.GetCount(), 2u);
  EXPECT_EQ(RowTexts(table), (std::vector<std::string>{
                             "Ann|42|-74.123456|123456789012.000000|20110315|1|-2147483647.000000|2000000000.000000",
                             "Bob|0|0.000000|0.000000|00000000|0|0.000000|0.000000"}));
  // The values themselves, not only their texts.
  CQmsRecord record;
  table.GetFields(record);
  table.MoveFirst();
  table.FillAllFieldValues(record);
  EXPECT_DOUBLE_EQ(double(*record.GetFieldByHandle(2)), -74.123456);
  EXPECT_DOUBLE_EQ(double(*record.GetFieldByHandle(3)), 123456789012.0);
}

TEST_F(FolioRackTest, RecordsFieldsAndMapsMoveValues) {
  CreatePeople({{"Ann", "1", "1.5", "10", "20000101", "T", "5", "6"}, {"Bob", "2", "2.5", "20", "", "F", "7", "8"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.Open();
  // By names, into a record of other widths and trims.
  CQmsRecord named;
  named.Add("born", QMS_VARIANT_DATE, "ccyymmdd", 8);
  named.Add("name", 3);
  named.SetFieldTrimmingByHandle(1, QMS_TRIM_LEADING);
  table.FillFieldValues(named);
  EXPECT_STREQ(static_cast<const char*>(*named.GetFieldByHandle(0)), "20000101");
  EXPECT_STREQ(static_cast<const char*>(*named.GetFieldByHandle(1)), "Ann         ");
  CQmsRecord unknown;
  unknown.Add("NOPE", 3);
  EXPECT_EQ(CodeOf([&] { table.FillFieldValues(unknown); }), QMS_SEVERE_PROTOTYPE_INVALID);
  // A field of width 0 is emptied by its type, whatever the column holds.
  CQmsRecord zero;
  zero.Add("A", QMS_VARIANT_LONG, 0);
  zero.Add("B", QMS_VARIANT_DOUBLE, 0, 0);
  zero.Add("C", 0);
  zero.SetFieldByHandle(0, 9L);
  table.FillAllFieldValues(zero);
  EXPECT_EQ(long(*zero.GetFieldByHandle(0)), 0);
  EXPECT_EQ(double(*zero.GetFieldByHandle(1)), 0.0);
  EXPECT_STREQ(static_cast<const char*>(*zero.GetFieldByHandle(2)), "");
  // Two records laid end to end.
  CQmsRecord first, second;
  first.Add("X", 12);
  second.Add("Y", QMS_VARIANT_LONG, 6);
  table.FillAllFieldValues(first, second);
  EXPECT_STREQ(static_cast<const char*>(*first.GetFieldByHandle(0)), "Ann");
  EXPECT_EQ(long(*second.GetFieldByHandle(0)), 1);
  // Through a map, then written back through it.
  CQmsRecord source;
  table.GetFields(source);
  CQmsRecord target;
  target.Add("WHO", 12);
  target.Add("HOW_MANY", QMS_VARIANT_LONG, 6);
  CQmsFieldMap map;
  map.UseRecords(target, source);
  map.MapFromFieldToField("WHO", "NAME");
  map.MapFromFieldToField("HOW_MANY", "COUNT");
  table.MoveTo(2);
  table.FillMappedRecord(map, target);
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(0)), "Bob");
  target.SetFieldByHandle(0, "Bobby");
  table.SetMappedRecord(map, target);
  table.CommitRecord();
  CQmsRecord wide;
  for (int i = 0; i < 9; i++) wide.Add(("F" + std::to_string(i)).c_str(), 1);
  EXPECT_EQ(CodeOf([&] { table.SetAllFieldValues(wide); }), QMS_SEVERE_FIELD_COUNTS);
  EXPECT_EQ(CodeOf([&] { table.FillAllFieldValues(wide); }), QMS_SEVERE_FIELD_COUNTS);
  table.Close();
  table.Open();
  table.MoveTo(2);
  table.FillMappedRecord(map, target);
  EXPECT_STREQ(static_cast<const char*>(*target.GetFieldByHandle(0)), "Bobby");
  EXPECT_EQ(long(*target.GetFieldByHandle(1)), 2);
}

// A number column of blanks or asterisks, as other programs write a number
// without a value, reads as the empty text (a whole-number field: 0).
TEST_F(FolioRackTest, EmptyNumbersReadAsEmptyTexts) {
  dir_.Write("nulls.dbf", testsupport::ReadAll(testsupport::FixturePath("nulls/nulls.dbf")));
  CQmsFolioRackTable table(dir_.path().c_str(), "nulls");
  table.Open();
  CQmsRecord texts;
  for (const char* name : {"NAME", "LIFE", "POP", "RATE"}) texts.Add(name, 12);
  CQmsRecord numbers;
  numbers.Add("POP", QMS_VARIANT_LONG, 10);
  numbers.Add("LIFE", QMS_VARIANT_DOUBLE, 6, 1);
  std::vector<std::string> rows;
  table.MoveFirst();
  while (!table.AtEOF()) {
    table.FillFieldValues(texts);
    table.FillFieldValues(numbers);
    std::string row;
    for (int i = 0; i < texts.GetCount(); i++)
      row += std::string(i ? "|" : "") + static_cast<const char*>(*texts.GetFieldByHandle(i));
    rows.push_back(row + "|" + std::to_string(long(*numbers.GetFieldByHandle(0))) + "|" +
                   std::to_string(double(*numbers.GetFieldByHandle(1))));
    table.MoveBy(1);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"full|72.5|1234567|0.125|1234567|72.500000",
                                            "blank||||0|0.000000", "stars||||0|0.000000",
                                            "mixed||0||0|0.000000"}));
}

TEST_F(FolioRackTest, CommittingAnUnchangedRecordWritesNothing) {
  CreatePeople({{"Ann", "1", "1", "1", "", "T", "1", "1"}});
  std::string path = dir_.File("people.dbf");
  auto stamp = std::filesystem::last_write_time(path);
  std::string before = testsupport::ReadAll(path);
  {
    CQmsFolioRackTable table(dir_.path().c_str(), "people");
    table.Open();
    table.MoveFirst();
    table.CommitRecord();
    CQmsRecord wide;
    for (int i = 0; i < 9; i++) wide.Add(("F" + std::to_string(i)).c_str(), 1);
    EXPECT_EQ(CodeOf([&] { table.SetAllFieldValues(wide); }), QMS_SEVERE_FIELD_COUNTS);  // nothing written
    table.CommitRecord();
    table.Close();
  }
  EXPECT_EQ(testsupport::ReadAll(path), before);
  EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
}

TEST_F(FolioRackTest, MovesAndPositions) {
  CreatePeople({{"A", "1", "0", "0", "", "F", "0", "0"}, {"B", "2", "0", "0", "", "F", "0", "0"},
                {"C", "3", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  EXPECT_EQ(table.GetCount(), 3u);  // opened for the count and closed again
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_EQ(CodeOf([&] { table.MoveFirst(); }), QMS_SEVERE_TABLE_CLOSED);
  table.Open();
  EXPECT_EQ(table.GetPosition(), 1u);
  table.MoveLast();
  EXPECT_EQ(table.GetPosition(), 3u);
  EXPECT_EQ(table.MoveNext(), 1);  // also when it reaches the end
  EXPECT_EQ(table.AtEOF(), 1);
  table.MoveTo(2);
  EXPECT_EQ(table.GetPosition(), 2u);
  table.MoveBy(-1);
  EXPECT_EQ(table.AtBOF(), 0);
  table.MoveBy(-1);
  EXPECT_EQ(table.AtBOF(), 1);
  table.MoveTo(1);
  table.DeleteRecord();
  table.CommitRecord();
  EXPECT_EQ(table.GetCount(), 3u);  // deleted records count until packed
  table.Pack();
  EXPECT_EQ(table.GetCount(), 2u);
  _QMS_TABLE_CAPABILITIES c{};
  table.FillCapabilities(c);
  EXPECT_STREQ(c.szKind, "FolioRack");
  EXPECT_EQ(c.bIndexes, 1);
  EXPECT_EQ(c.bRandomAccess, 1);
}

TEST_F(FolioRackTest, SeeksCheckTheirOperationAndBuildKeysFromRecords) {
  CreatePeople({{"AB", "42", "0", "0", "", "F", "0", "0"}});
  FrProbe table(dir_.path().c_str(), "people");
  table.Open();
  table.MoveFirst();
  EXPECT_EQ(CodeOf([&] { table.Seek(">", "AB"); }), QMS_SEVERE_SEEK_EMPTY);
  EXPECT_EQ(table.GetPosition(), 1u);
  CQmsRecord key;
  key.Add("NAME", 12);
  key.Add("count", QMS_VARIANT_LONG, 6);
  key.Add("NOCOLUMN", 3);  // skipped
  key.SetFieldByHandle(0, "AB");
  key.SetFieldByHandle(1, 42L);
  key.SetFieldByHandle(2, "zz");
  EXPECT_EQ(std::string(table.BuildRecordKey(key)), "AB" + std::string(10 + 4, ' ') + "42");
  CQmsRecord none;
  none.Add("NOCOLUMN", 3);
  EXPECT_EQ(CodeOf([&] { table.Seek("=", none); }), QMS_SEVERE_SEEK_EMPTY);
}

TEST_F(FolioRackTest, SeekFindsAnExactKey) {
  CreatePeople({{"AB", "42", "0", "0", "", "F", "0", "0"}, {"CD", "7", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.SetAutoOpenIndex(1);
  table.CreateIndex("NAME", "NAME", 0);
  table.Open();
  table.SetIndex("NAME");
  EXPECT_EQ(table.Seek("=", "CD"), 1);
  EXPECT_EQ(table.GetPosition(), 2u);
  EXPECT_EQ(table.Seek("=", "ZZ"), 0);
}

TEST_F(FolioRackTest, OpenAndCreateFailures) {
  CQmsFolioRackTable missing(dir_.path().c_str(), "absent");
  EXPECT_EQ(CodeOf([&] { missing.Open(); }), QMS_SEVERE_TABLE_CLOSED);
  EXPECT_NE(ErrorLog().find("could not be opened"), std::string::npos);
  EXPECT_EQ(missing.IsOpen(), 0);
  dir_.Write("junk.dbf", std::string(200, 'j'));
  CQmsFolioRackTable junk(dir_.path().c_str(), "junk");
  EXPECT_EQ(CodeOf([&] { junk.Open(); }), QMS_SEVERE_TABLE_CLOSED);
  // A failure leaves the shared context usable for the next table.
  CreatePeople({{"A", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable people(dir_.path().c_str(), "people");
  people.Open();
  EXPECT_EQ(CodeOf([&] { people.Open(); }), QMS_SEVERE_TABLE_OPEN);
  EXPECT_EQ(CodeOf([&] { people.SetTableName("other"); }), QMS_SEVERE_TABLE_OPEN);
  EXPECT_EQ(CodeOf([&] { people.DefineFields(CQmsRecord()); }), QMS_SEVERE_TABLE_OPEN);
  people.Close();
  people.Close();  // nothing to do
  // A column the engine refuses: the context is reset and the table refused.
  CQmsRecord wide;
  wide.Add("N", QMS_VARIANT_LONG, 300);
  CQmsFolioRackTable bad(dir_.path().c_str(), "bad");
  bad.DefineFields(wide);
  EXPECT_EQ(CodeOf([&] { bad.Create(); }), QMS_SEVERE_INVALID_TABLE);
  EXPECT_EQ(bad.IsOpen(), 0);
  CQmsFolioRackTable again(dir_.path().c_str(), "people");
  again.Open();
  EXPECT_EQ(again.GetCount(), 1u);
}

TEST_F(FolioRackTest, OneContextForEveryTable) {
  ASSERT_FALSE(FrProbe::HasContext());
  auto one = std::make_unique<FrProbe>("one");
  auto two = std::make_unique<FrProbe>("two");
  EXPECT_EQ(FrProbe::Users(), 2);
  Code4* shared = one->GetCode4();
  EXPECT_EQ(shared, two->GetCode4());
  one->ReleaseCode4();
  two->ReleaseCode4();
  one.reset();
  EXPECT_TRUE(FrProbe::HasContext());
  two->SetExclusive(0);
  EXPECT_EQ(two->GetExclusive(), 0);
  two->SetReadOnly(1);
  EXPECT_EQ(two->GetReadOnly(), 1);
  two.reset();
  EXPECT_FALSE(FrProbe::HasContext());
  FrProbe fresh("fresh");
  EXPECT_EQ(fresh.GetExclusive(), 1);  // a new context, with its defaults
  EXPECT_EQ(fresh.GetReadOnly(), 0);
  EXPECT_EQ(fresh.GetAutoOpenIndex(), 0);
}

TEST_F(FolioRackTest, ExistsDestroyRenameAndCopy) {
  CreatePeople({{"A", "1", "0", "0", "", "F", "0", "0"}});
  dir_.Write("people.FPT", "memo");
  dir_.Write("people.cdx", "index");
  CQmsFolioRackTable upper(dir_.path().c_str(), "people.DBF");
  CQmsFolioRackTable bare(dir_.path().c_str(), "people");
  EXPECT_EQ(upper.Exists(), 1);
  EXPECT_EQ(bare.Exists(), 1);
  // Copies take the data, index and memo files.
  CQmsFolioRackTable copy(dir_.path().c_str(), "copy");
  EXPECT_EQ(copy.CopyTable(bare), 1);
  EXPECT_EQ(testsupport::ReadAll(dir_.File("copy.dbf")), testsupport::ReadAll(dir_.File("people.dbf")));
  EXPECT_EQ(testsupport::ReadAll(dir_.File("copy.FPT")), "memo");
  EXPECT_EQ(testsupport::ReadAll(dir_.File("copy.cdx")), "index");
  CQmsFolioRackTable nothing(dir_.path().c_str(), "nothing");
  EXPECT_EQ(CodeOf([&] { copy.CopyTable(nothing); }), QMS_SEVERE_COPY);
  // A rename onto an existing table fails and keeps the name.
  EXPECT_EQ(CodeOf([&] { bare.RenameTable("copy"); }), QMS_SEVERE_RENAME);
  EXPECT_STREQ(bare.GetTableName(), "people");
  EXPECT_NE(ErrorLog().find("Unable to rename table 'people' to 'copy'"), std::string::npos);
  bare.RenameTable("moved");
  EXPECT_STREQ(bare.GetTableName(), "moved");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("moved.dbf")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("moved.FPT")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("moved.cdx")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("people.dbf")));
  bare.Open();
  EXPECT_EQ(bare.GetCount(), 1u);
  EXPECT_EQ(CodeOf([&] { bare.RenameTable("again"); }), QMS_SEVERE_TABLE_OPEN);
  bare.Destroy();
  EXPECT_EQ(bare.IsOpen(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("moved.dbf")));
  EXPECT_EQ(bare.Exists(), 0);
  bare.Destroy();  // nothing left to remove
  // A file that is no data file is removed all the same.
  dir_.Write("junk.dbf", std::string(200, 'j'));
  CQmsFolioRackTable junk(dir_.path().c_str(), "junk");
  junk.Destroy();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("junk.dbf")));
}

TEST_F(FolioRackTest, DumpWritesEveryRecord) {
  CreatePeople({{"Ann", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.OpenDump(dir_.File("dump.txt").c_str());
  table.Dump(1);
  table.CloseDump();
  EXPECT_EQ(table.IsOpen(), 0);
  std::string text = testsupport::ReadAll(dir_.File("dump.txt"));
  EXPECT_NE(text.find("\nCQmsFolioRackTable:\n\n   Database Name: "), std::string::npos);
  EXPECT_NE(text.find("   Table Name:    people\n\n   NAME        COUNT "), std::string::npos);
  EXPECT_NE(text.find("   Ann" + std::string(9 + 5, ' ') + "1"), std::string::npos);
}

// ---- index tags ----

TEST_F(FolioRackTest, TagOperationsNeedAutoOpenAndAnOpenTable) {
  CreatePeople({{"A", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.GetIndexCount(); }), QMS_SEVERE_TABLE_CLOSED);  // auto-open is off
  EXPECT_EQ(CodeOf([&] { table.SetAutoOpenIndex(1); }), QMS_SEVERE_TABLE_OPEN);
  table.Close();
  table.SetAutoOpenIndex(1);
  EXPECT_EQ(table.GetAutoOpenIndex(), 1);
  EXPECT_EQ(CodeOf([&] { table.GetIndexCount(); }), QMS_SEVERE_TABLE_CLOSED);
  table.Open();
  EXPECT_EQ(table.GetIndexCount(), 0);
  _QMS_TABLE_INDEXES* info = reinterpret_cast<_QMS_TABLE_INDEXES*>(0x1);
  EXPECT_EQ(table.AllocIndexInfo(&info), 0);
  EXPECT_EQ(info, nullptr);
  table.FreeIndexInfo(info);
  EXPECT_EQ(CodeOf([&] { table.SetIndex("NAME"); }), QMS_SEVERE_NO_INDEX);
  EXPECT_EQ(CodeOf([&] { table.DeleteIndex("NAME"); }), QMS_SEVERE_LAST_INDEX);
  table.Close();
  table.SetAutoOpenIndex(0);
}

TEST_F(FolioRackTest, TagsAreCreatedListedSelectedAndDeleted) {
  CreatePeople({{"B", "2", "0", "0", "", "F", "0", "0"}, {"A", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.SetAutoOpenIndex(1);
  table.CreateIndex("BYNAME", "NAME", 0);  // on a closed table: opened for it and closed again
  EXPECT_EQ(table.IsOpen(), 0);
  table.Open();
  table.CreateIndex("BYCOUNT", "STR(COUNT,6)", 1);
  table.CreateIndex("BYNAME", "COUNT", 0);  // an existing name changes nothing
  EXPECT_EQ(table.GetIndexCount(), 2);
  _QMS_TABLE_INDEXES* info = nullptr;
  ASSERT_EQ(table.AllocIndexInfo(&info), 2);
  EXPECT_STREQ(info[0].szTagName, "BYNAME");
  EXPECT_STREQ(info[0].szKeyExpression, "NAME");
  EXPECT_STREQ(info[1].szTagName, "BYCOUNT");
  table.FreeIndexInfo(info);
  table.SetIndex("BYNAME");
  table.MoveFirst();
  CQmsRecord record;
  table.GetFields(record);
  table.FillAllFieldValues(record);
  EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(0)), "A");
  table.DeleteIndex("BYCOUNT");
  EXPECT_EQ(table.GetIndexCount(), 1);
  EXPECT_EQ(table.IsOpen(), 1);
  EXPECT_EQ(CodeOf([&] { table.DeleteIndex("BYNAME"); }), QMS_SEVERE_LAST_INDEX);
  table.Close();
  table.SetAutoOpenIndex(0);
}

TEST_F(FolioRackTest, DeletingATagKeepsTheOthersDescending) {
  CreatePeople({{"B", "2", "0", "0", "", "F", "0", "0"}, {"A", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.SetAutoOpenIndex(1);
  table.Open();
  table.Close();
  {
    // Made through the engine: one descending tag beside an ascending one.
    Code4* c4 = table.GetCode4();
    DATA4* data = d4open(c4, dir_.File("people.dbf").c_str());
    Tag4info tags(*c4);
    tags.add("DOWN", "NAME", nullptr, 0, 10);  // r4descending
    tags.add("UP", "COUNT", nullptr, 0, 0);
    ASSERT_NE(i4create(data, nullptr, tags.tags()), nullptr);
    d4close(data);
    table.ReleaseCode4();
  }
  table.Open();
  table.DeleteIndex("UP");
  table.SetIndex("DOWN");
  table.MoveFirst();
  CQmsRecord record;
  table.GetFields(record);
  table.FillAllFieldValues(record);
  EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(0)), "B");
  table.Close();
  table.SetAutoOpenIndex(0);
}

TEST_F(FolioRackTest, OrderedReadsFollowTheSortExpression) {
  CreatePeople({{"B", "2", "0", "0", "", "F", "0", "0"}, {"A", "1", "0", "0", "", "F", "0", "0"}});
  CQmsFolioRackTable table(dir_.path().c_str(), "people");
  table.OpenOrdered("NAME");
  EXPECT_EQ(RowTexts(table).front().substr(0, 2), "A|");
  EXPECT_EQ(CodeOf([&] { table.AddNewRecord(); }), QMS_SEVERE_NOT_READY);
  EXPECT_EQ(CodeOf([&] { table.MoveTo(1); }), QMS_SEVERE_NOT_READY);
  EXPECT_EQ(CodeOf([&] { table.Seek("=", "A"); }), QMS_SEVERE_NOT_READY);
  EXPECT_EQ(CodeOf([&] { table.Pack(); }), QMS_SEVERE_NOT_READY);
  table.Close();
}

}  // namespace
