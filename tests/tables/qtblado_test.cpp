// The ADO table's logic on the in-memory provider: connection strings, the
// field layout, moves and the position counter, writing, value transfer,
// the provider's error text, and the schema operations.
#include "tables/qtblado.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qfldmap.h"
#include "tests/tables/ado_memory.h"
#include "tests/tables/tables_fixture.h"

namespace {

using adodb::Variant;
using adotest::Column;
using tablestest::CodeOf;
using tablestest::Count;
using tablestest::TablesTest;

constexpr const char* kJet = "Provider=Jet;Data Source='memory'";
constexpr const char* kExcel = "Provider=Jet;Extended Properties='Excel 8.0';Data Source='memory'";
constexpr const char* kServer = "Provider=sqloledb;Data Source='memory'";

class AdoTableTest : public TablesTest {
 protected:
  adotest::MemoryDatabase& Db() { return *provider_.database; }
  // A table N (integer) holding 1 .. count.
  void Numbers(const char* name, int count) {
    Db().AddTable(name, {Column("N", adodb::kInteger, 4, 10)});
    for (int i = 1; i <= count; i++) Db().AddRow(name, {Variant::I4(i)});
  }
  static long Current(CQmsAdoTable& table) {
    CQmsRecord record;
    table.GetFields(record);
    table.FillAllFieldValues(record);
    return static_cast<long>(*record.GetFieldByHandle(0));
  }

  adotest::MemoryProvider provider_;
};

TEST_F(AdoTableTest, ConnectStringAddsTheDatabaseUnlessTheParametersNameOne) {
  struct Case {
    const char* database;
    const char* params;
    const char* expected;
  } cases[] = {
      {"C:\\data\\parcels.mdb", "Provider='Microsoft.Jet.OLEDB.4.0'",
       "Provider='Microsoft.Jet.OLEDB.4.0';Data Source='C:\\data\\parcels.mdb';"},
      {"other.mdb", "Provider=Jet;Data Source='x.mdb'", "Provider=Jet;Data Source='x.mdb'"},
      {"", "Provider=Jet", "Provider=Jet"},
  };
  for (const auto& c : cases) {
    CQmsAdoTable table(c.database, "T", c.params);
    EXPECT_STREQ(QmsText(table.ConnectString()), c.expected) << c.params;
  }
}

TEST_F(AdoTableTest, ForwardOnlyOptionIsCutForGoodAndOpensAForwardOnlyCursor) {
  Numbers("T", 3);
  CQmsAdoTable table("", "T", "Provider=Jet;ForwardOnly='TRUE';Data Source='memory'");
  table.Open();
  EXPECT_STREQ(table.GetConnectParams(), "Provider=Jet;");
  ASSERT_EQ(provider_.connections.size(), 2u);  // the record set's, then the catalog's
  EXPECT_EQ(provider_.connections[0], "Provider=Jet;");
  EXPECT_EQ(table.GetCount(), 4294967295ul);  // a forward-only cursor cannot count
  _QMS_TABLE_CAPABILITIES c{};
  table.FillCapabilities(c);
  EXPECT_EQ(c.bForwardOnly, 1);
  EXPECT_EQ(c.bRandomAccess, 0);
}

struct LayoutCase {
  adodb::ColumnSchema column;
  QMS_VARIANT_TYPE type;
  int width;
  int decimals;
};

TEST_F(AdoTableTest, OpenDescribesColumnsWithWidthsThatHoldEveryValue) {
  const LayoutCase cases[] = {
      {Column("SMALL", adodb::kSmallInt, 2, 5), QMS_VARIANT_INT, 6, 0},
      {Column("TINY", adodb::kTinyInt, 1), QMS_VARIANT_INT, 6, 0},
      {Column("BYTE", adodb::kUnsignedTinyInt, 1), QMS_VARIANT_INT, 6, 0},
      {Column("USMALL", adodb::kUnsignedSmallInt, 2), QMS_VARIANT_INT, 6, 0},
      {Column("LONG", adodb::kInteger, 4, 10), QMS_VARIANT_LONG, 11, 0},
      {Column("BIG", adodb::kBigInt, 8, 19), QMS_VARIANT_LONG, 20, 0},
      {Column("ULONG", adodb::kUnsignedInt, 4), QMS_VARIANT_ULONG, 10, 0},
      {Column("UBIG", adodb::kUnsignedBigInt, 8), QMS_VARIANT_ULONG, 20, 0},
      {Column("YESNO", adodb::kBoolean, 2), QMS_VARIANT_BOOLEAN, 2, 0},
      {Column("SINGLE", adodb::kSingle, 4, 7), QMS_VARIANT_FLOAT, 20, 6},
      {Column("DOUBLE", adodb::kDouble, 8, 15), QMS_VARIANT_DOUBLE, 20, 8},
      {Column("WIDE", adodb::kDouble, 8, 28), QMS_VARIANT_DOUBLE, 30, 8},
      {Column("DAY", adodb::kDBDate, 6), QMS_VARIANT_DATE, 8, 0},
      {Column("WHEN", adodb::kDate, 8), QMS_VARIANT_DATETIME, 16, 0},
      {Column("STAMP", adodb::kDBTimeStamp, 16), QMS_VARIANT_DATETIME, 16, 0},
      {Column("NAME", adodb::kVarWChar, 50), QMS_VARIANT_STRING, 50, 0},
      {Column("CODE", adodb::kChar, 3), QMS_VARIANT_STRING, 3, 0},
      {Column("NOTES", adodb::kLongVarWChar, 536870910), QMS_VARIANT_STRING, 255, 0},
      {Column("PRICE", adodb::kCurrency, 8, 19), QMS_VARIANT_STRING, 64, 0},
      {Column("ID", adodb::kGuid, 16), QMS_VARIANT_STRING, 64, 0},
      {Column("PICTURE", adodb::kLongVarBinary, 1000), QMS_VARIANT_STRING, 1, 0},
  };
  std::vector<adodb::ColumnSchema> columns;
  for (const LayoutCase& c : cases) columns.push_back(c.column);
  columns[4].nullable = false;
  Db().AddTable("Every", columns);
  CQmsAdoTable table("", "Every", kJet);
  table.Open();
  CQmsRecord layout;
  ASSERT_EQ(table.GetFields(layout), long(std::size(cases)));
  for (int i = 0; i < layout.GetCount(); i++) {
    const LayoutCase& c = cases[i];
    EXPECT_STREQ(layout.GetFieldName(i), c.column.name.c_str());
    EXPECT_EQ(layout.GetFieldTypeByHandle(i), c.type) << c.column.name;
    EXPECT_EQ(layout.GetFieldWidthByHandle(i), c.width) << c.column.name;
    EXPECT_EQ(layout.GetFieldDecimalsByHandle(i), c.decimals) << c.column.name;
    EXPECT_EQ(layout.GetFieldNullableByHandle(i), i == 4 ? 0 : 1) << c.column.name;
  }
  // One warning per column whose data is cut, converted or lost, naming it.
  std::string errors = Errors();
  EXPECT_EQ(Count(errors, "11000028"), 4);
  EXPECT_NE(errors.find("Field 'NOTES' is of a potentially unsupported datatype.\nIf you wish to continue, the data "
                        "in this field will be\ntruncated to a string of width 255."),
            std::string::npos);
  EXPECT_NE(errors.find("Field 'PRICE' is of a potentially unsupported datatype.\nIf you wish to continue, an "
                        "attempt will be made to convert\nthe data into a string representation with a width of 64."),
            std::string::npos);
  EXPECT_NE(errors.find("Field 'PICTURE' is of a potentially unsupported datatype.\nIf you wish to continue, the "
                        "data in this field will be lost."),
            std::string::npos);
}

TEST_F(AdoTableTest, AWorksheetIsOpenedUnderItsSheetName) {
  Db().AddTable("Sheet1$", {Column("A", adodb::kVarWChar, 10)});
  for (const char* name : {"Sheet1", "Sheet1$"}) {
    Db().opened.clear();
    CQmsAdoTable table("", name, kExcel);
    table.Open();
    ASSERT_FALSE(Db().opened.empty());
    EXPECT_EQ(Db().opened.front(), "Sheet1$") << name;
  }
  CQmsAdoTable unnamed;
  unnamed.SetConnectParams(kExcel);
  EXPECT_EQ(CodeOf([&] { unnamed.Open(); }), QMS_SEVERE);
}

TEST_F(AdoTableTest, AnEmptyTableIsAtBothEndsAndMakesNoMove) {
  Db().AddTable("Empty", {Column("N", adodb::kInteger, 4)});
  CQmsAdoTable table("", "Empty", "Provider=Jet;ForwardOnly='TRUE';");
  table.Open();
  EXPECT_EQ(table.AtBOF(), 1);
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(table.GetPosition(), 0ul);  // the counter is still -1
  EXPECT_EQ(table.IsOpen(), 1);
  EXPECT_EQ(CodeOf([&] { table.Open(); }), QMS_SEVERE_OPEN);
}

TEST_F(AdoTableTest, MovesAndPositionsAgreeWithMoveTo) {
  Numbers("T", 5);
  CQmsAdoTable table("", "T", kJet);
  table.Open();
  EXPECT_EQ(table.GetCount(), 5ul);
  for (unsigned long n : {3ul, 1ul, 5ul}) {
    table.MoveTo(n);
    EXPECT_EQ(table.GetPosition(), n);
    EXPECT_EQ(Current(table), long(n));
  }
  table.MoveBy(-2);
  EXPECT_EQ(Current(table), 3);
  EXPECT_EQ(table.MoveNext(), 0);  // the base body: no move
  EXPECT_EQ(Current(table), 3);
  table.MoveBy(1);
  EXPECT_EQ(Current(table), 4);
  table.MoveLast();
  EXPECT_EQ(table.GetPosition(), 5ul);
  table.MoveFirst();
  EXPECT_EQ(table.GetPosition(), 1ul);
  table.MoveBy(5);
  EXPECT_EQ(table.AtEOF(), 1);
  EXPECT_EQ(table.GetPosition(), 6ul);
}

TEST_F(AdoTableTest, AForwardOnlyCursorIsPlacedByTheCounter) {
  Numbers("T", 5);
  CQmsAdoTable table("", "T", "Provider=Jet;ForwardOnly='TRUE';");
  table.Open();
  table.MoveBy(1);
  table.MoveBy(2);
  EXPECT_EQ(Current(table), 4);
  EXPECT_EQ(table.GetPosition(), 4ul);
  // Moving back or to a numbered record is refused by the cursor.
  EXPECT_EQ(CodeOf([&] { table.MoveTo(2); }), QMS_SEVERE);
  EXPECT_NE(Errors().find("a forward-only recordset cannot move backward"), std::string::npos);
}

TEST_F(AdoTableTest, OpenOrderedSortsOnTheClientSide) {
  Numbers("T", 4);
  CQmsAdoTable table("", "T", kJet);
  table.OpenOrdered("N DESC");
  std::vector<long> seen;
  while (!table.AtEOF()) {
    seen.push_back(Current(table));
    table.MoveBy(1);
  }
  EXPECT_EQ(seen, (std::vector<long>{4, 3, 2, 1}));
  table.Close();
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_EQ(table.GetFieldCount(), 0);
}

TEST_F(AdoTableTest, AddUpdateAndDeleteRecords) {
  Db().AddTable("People", {Column("NAME", adodb::kVarWChar, 10), Column("AGE", adodb::kInteger, 4, 10)});
  CQmsAdoTable table("", "People", kJet);
  table.SetReadOnly(0);
  table.Open();
  CQmsRecord record;
  table.GetFields(record);
  for (auto [name, age] : {std::pair{"Ann", 31}, {"Bob", 42}, {"Cy", 53}}) {
    EXPECT_EQ(table.AddNewRecord(), 1);
    record.SetFieldByHandle(0, name);
    record.SetFieldByHandle(1, age);
    table.SetAllFieldValues(record);
    table.CommitRecord();
  }
  ASSERT_EQ(Db().Rows("People").size(), 3u);
  EXPECT_EQ(Db().Rows("People")[1][0].TextValue(), "Bob");
  // Rewrite the second record in place, then delete it.
  table.MoveTo(2);
  record.SetFieldByHandle(1, 43);
  table.SetFieldValues(record);
  table.CommitRecord();
  EXPECT_EQ(Db().Rows("People")[1][1].WholeValue(), 43);
  table.DeleteRecord();
  table.MoveBy(1);
  table.FillAllFieldValues(record);
  EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(0)), "Cy");
  EXPECT_EQ(Db().Rows("People").size(), 2u);
  // A text longer than its column is refused by the provider.
  table.MoveFirst();
  record.SetFieldByHandle(0, "far too long a name");
  EXPECT_EQ(CodeOf([&] { table.SetAllFieldValues(record); }), QMS_SEVERE);
  EXPECT_NE(Errors().find("does not fit column 'NAME' of 10"), std::string::npos);
}

TEST_F(AdoTableTest, AReadOnlyTableRefusesWrites) {
  Numbers("T", 1);
  CQmsAdoTable table("", "T", kJet);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.AddNewRecord(); }), QMS_SEVERE);
  EXPECT_NE(Errors().find("the recordset was opened read-only"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), QMS_SEVERE);
  EXPECT_EQ(Db().Rows("T").size(), 1u);
}

TEST_F(AdoTableTest, FillReadsEmptyNullAndTypedColumns) {
  Db().AddTable("Values", {
                              Column("NULLTEXT", adodb::kVarWChar, 20),
                              Column("EMPTYTEXT", adodb::kVarWChar, 20),
                              Column("EMPTYINT", adodb::kSmallInt, 2),
                              Column("EMPTYDBL", adodb::kDouble, 8, 15),
                              Column("STAMP", adodb::kDBTimeStamp, 16),
                              Column("DAY", adodb::kDBDate, 6),
                              Column("USMALL", adodb::kUnsignedSmallInt, 2),
                              Column("PADDED", adodb::kVarWChar, 20),
                              Column("KEPT", adodb::kVarWChar, 20),
                              Column("PRICE", adodb::kCurrency, 8),
                              Column("OLD", adodb::kDate, 8),
                          });
  Db().AddRow("Values", {Variant::Null(), Variant(), Variant(), Variant(), Variant::Date(36925 + 14706 / 86400.0),
                         Variant::Date(36892), Variant::Whole(adodb::VT_UI2, 40000), Variant::Text("  ab  "),
                         Variant::Text("  ab  "), Variant::Currency(35000), Variant::Date(-1.25)});
  CQmsAdoTable table("", "Values", kJet);
  table.Open();
  CQmsRecord record;
  table.GetFields(record);
  record.SetFieldTrimmingByHandle(8, QMS_TRIM_NONE);
  table.FillAllFieldValues(record);
  const char* expected[] = {
      "",
      "<INCONSISTENT DATA IN CELL - In order to continue processing, value has been ignored>",
      "0",
      "0.000000",
      "2001020304:05:06",
      "20010101",
      "40000",
      "ab",
      "  ab  ",
      "3.5",
      "1899122906:00:00",
  };
  for (int i = 0; i < record.GetCount(); i++) {
    EXPECT_STREQ(static_cast<const char*>(*record.GetFieldByHandle(i)), expected[i]) << record.GetFieldName(i);
  }
}

TEST_F(AdoTableTest, FillSplitsColumnsBetweenTwoRecordsAndMatchesNames) {
  Db().AddTable("Five", {Column("A", adodb::kVarWChar, 5), Column("B", adodb::kVarWChar, 5),
                         Column("C", adodb::kVarWChar, 5), Column("D", adodb::kVarWChar, 5),
                         Column("E", adodb::kVarWChar, 5)});
  Db().AddRow("Five", {Variant::Text("a"), Variant::Text("b"), Variant::Text("c"), Variant::Text("d"),
                       Variant::Text("e")});
  CQmsAdoTable table("", "Five", kJet);
  table.Open();
  CQmsRecord first, second;
  for (const char* name : {"X", "Y", "Z"}) first.Add(name, 5);
  for (const char* name : {"U", "V"}) second.Add(name, 5);
  table.FillAllFieldValues(first, second);
  EXPECT_STREQ(static_cast<const char*>(*first.GetFieldByHandle(2)), "c");
  EXPECT_STREQ(static_cast<const char*>(*second.GetFieldByHandle(0)), "d");
  EXPECT_STREQ(static_cast<const char*>(*second.GetFieldByHandle(1)), "e");
  // By names: a field the table lacks is left alone.
  CQmsRecord named;
  named.Add("E", 5);
  named.Add("NOPE", 5);
  named.Add("a", 5);
  named.SetFieldByHandle(1, "kept");
  table.FillFieldValues(named);
  EXPECT_STREQ(static_cast<const char*>(*named.GetFieldByHandle(0)), "e");
  EXPECT_STREQ(static_cast<const char*>(*named.GetFieldByHandle(1)), "kept");
  EXPECT_STREQ(static_cast<const char*>(*named.GetFieldByHandle(2)), "a");
}

TEST_F(AdoTableTest, SetWritesEachTypeAsItsColumnExpects) {
  // Variant columns keep the kind of what is written.
  Db().AddTable("Out", {Column("FLAG", adodb::kVariantType), Column("WHEN", adodb::kVariantType),
                        Column("BEFORE", adodb::kVariantType), Column("DAY", adodb::kVariantType),
                        Column("NODAY", adodb::kVariantType), Column("BIG", adodb::kUnsignedInt, 4)});
  CQmsAdoTable table("", "Out", kJet);
  table.SetReadOnly(0);
  table.Open();
  CQmsRecord record;
  record.Add("FLAG", QMS_VARIANT_BOOLEAN, 1);
  record.Add("WHEN", QMS_VARIANT_DATETIME, "ccyymmddHH:MM:SS");
  record.Add("BEFORE", QMS_VARIANT_DATETIME, "ccyymmddHH:MM:SS");
  record.Add("DAY", QMS_VARIANT_DATE, "ccyymmdd");
  record.Add("NODAY", QMS_VARIANT_DATE, "ccyymmdd");
  record.Add("BIG", QMS_VARIANT_ULONG, 10);
  record.SetFieldByHandle(0, QBOOL(1));
  record.SetFieldByHandle(1, "2001020304:05:06");
  record.SetFieldByHandle(2, "1899122906:00:00");
  record.SetFieldByHandle(3, "20010101");
  record.SetFieldByHandle(4, "        ");
  record.SetFieldByHandle(5, 3000000000ul);
  table.AddNewRecord();
  table.SetAllFieldValues(record);
  table.CommitRecord();
  adodb::Row row = Db().Rows("Out")[0];
  EXPECT_EQ(row[0].Type(), adodb::VT_UI1);
  EXPECT_EQ(row[0].WholeValue(), 1);
  EXPECT_EQ(row[1].Type(), adodb::VT_R8);
  EXPECT_DOUBLE_EQ(row[1].RealValue(), 36925 + 14706 / 86400.0);
  EXPECT_DOUBLE_EQ(row[2].RealValue(), -1.25);  // before day 0 the time counts away from zero
  EXPECT_EQ(row[3].Type(), adodb::VT_I4);
  EXPECT_EQ(row[3].WholeValue(), 36892);
  EXPECT_EQ(row[4].Type(), adodb::VT_NULL);  // no date: the column keeps what it held
  EXPECT_EQ(row[5].WholeValue(), 3000000000);
}

TEST_F(AdoTableTest, ProviderErrorTextListsEveryProviderMessage) {
  Numbers("T", 1);
  CQmsAdoTable table("", "T", kJet);
  table.SetReadOnly(0);
  table.Open();
  Db().failNextWrite = {"first problem", "second problem"};
  table.AddNewRecord();
  EXPECT_EQ(CodeOf([&] { table.CommitRecord(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("first problem\nsecond problem\nThe provider reported errors; see its messages\n"
                            "\tSource:      Memory provider\n\tDescription: second problem\n\n"),
            std::string::npos)
      << ErrorLog();
  EXPECT_NE(ErrorLog().find("CQmsAdoTable::CommitRecord"), std::string::npos);
}

TEST_F(AdoTableTest, ATableNeverOpenedGivesTheMessageAndTheErrorLinesOnly) {
  CQmsAdoTable table("", "T", kJet);
  EXPECT_EQ(CodeOf([&] { table.AtBOF(); }), QMS_SEVERE_TABLE_CLOSED);
  EXPECT_EQ(CodeOf([&] { table.AtEOF(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("CQmsAdoTable::AtEOF"), std::string::npos);
  EXPECT_NE(ErrorLog().find("\nThe operation is not allowed while the object is closed\n\tSource:      Recordset\n"
                            "\tDescription: The operation is not allowed while the object is closed\n\n"),
            std::string::npos)
      << ErrorLog();
}

TEST_F(AdoTableTest, AnUnexpectedExceptionIsLoggedAndRaisedAsSevere) {
  Numbers("T", 1);
  CQmsAdoTable table("", "T", kJet);
  table.Open();
  Db().throwOnRead = true;
  CQmsRecord record;
  table.GetFields(record);
  EXPECT_EQ(CodeOf([&] { table.FillAllFieldValues(record); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("Unkown Error"), std::string::npos);
  EXPECT_NE(ErrorLog().find("CQmsAdoTable::Fill1FieldValue"), std::string::npos);
}

TEST_F(AdoTableTest, WithoutTheLibraryEveryOperationFailsOnItsNullRecordset) {
  provider_.createsObjects = false;
  Numbers("T", 1);
  CQmsAdoTable table("", "T", kJet);
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_EQ(CodeOf([&] { table.Open(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("Invalid pointer"), std::string::npos);
}

TEST_F(AdoTableTest, CapabilitiesFollowTheConnectParameters) {
  struct Case {
    const char* params;
    const char* kind;  // null: refused with 11000034
    unsigned char localFile, append, server;
  } cases[] = {
      {kJet, "Access", 1, 1, 0},
      {kExcel, "Excel", 1, 0, 0},
      {kServer, "SQLServer", 0, 1, 1},
      {"Provider=sqloledb;Jet", nullptr, 0, 0, 0},
      {"Provider=Other", nullptr, 0, 0, 0},
  };
  for (const auto& c : cases) {
    CQmsAdoTable table("T", c.params);
    _QMS_TABLE_CAPABILITIES caps{};
    long code = CodeOf([&] { table.FillCapabilities(caps); });
    if (c.kind == nullptr) {
      EXPECT_EQ(code, QMS_WARN_CONNECT_PARAMS) << c.params;
      continue;
    }
    EXPECT_STREQ(caps.szKind, c.kind);
    EXPECT_EQ(caps.bLocalFile, c.localFile) << c.params;
    EXPECT_EQ(caps.bAppend, c.append) << c.params;
    EXPECT_EQ(caps.bServer, c.server) << c.params;
    EXPECT_EQ(caps.bRandomAccess, 1) << c.params;
  }
  CQmsAdoTable none;
  _QMS_TABLE_CAPABILITIES caps{};
  EXPECT_EQ(CodeOf([&] { none.FillCapabilities(caps); }), QMS_WARN_CONNECT_PARAMS);
  EXPECT_NE(ErrorLog().find("There is no message defined for this error"), std::string::npos);
}

TEST_F(AdoTableTest, SeeksAndDumpAreReportedAsNotImplemented) {
  CQmsAdoTable table("T", kJet);
  CQmsRecord key;
  EXPECT_EQ(table.Seek("=", "x"), 0);
  EXPECT_EQ(table.Seek("=", key), 0);
  table.Dump(1);
  EXPECT_EQ(Count(Errors(), "11000004"), 3);
  EXPECT_NE(Errors().find("This method is not implemented"), std::string::npos);
  EXPECT_NE(Errors().find("This function is not implemented"), std::string::npos);
}

TEST_F(AdoTableTest, CopiesCarryNamesFlagsAndLayoutButNotTheOpenState) {
  Numbers("T", 2);
  CQmsAdoTable table("db", "T", kJet);
  table.SetReadOnly(0);
  table.Open();
  std::unique_ptr<CQmsTable> copy(table.Clone());
  EXPECT_STREQ(copy->GetTableName(), "T");
  EXPECT_STREQ(copy->GetDatabaseName(), "db");
  EXPECT_EQ(copy->GetReadOnly(), 0);
  EXPECT_EQ(copy->GetFieldCount(), 1);
  EXPECT_EQ(copy->IsOpen(), 0);
  EXPECT_EQ(CodeOf([&] { table = static_cast<CQmsAdoTable&>(*copy); }), QMS_SEVERE_OPEN);
  // A table that was never named copies as unnamed (the program goes on).
  CQmsAdoTable blank;
  std::unique_ptr<CQmsTable> blankCopy(blank.Clone());
  EXPECT_EQ(blankCopy->GetTableName(), nullptr);
}

// ---- schema operations ----

CQmsRecord& EveryType(CQmsRecord& layout) {
  layout.Add("FLAG", QMS_VARIANT_BOOLEAN, 1);
  layout.Add("NAME", QMS_VARIANT_STRING, 30);
  layout.Add("REAL", QMS_VARIANT_DOUBLE, 20, 8);
  layout.Add("SINGLE", QMS_VARIANT_FLOAT, 20, 6);
  layout.Add("SMALL", QMS_VARIANT_INT, 6);
  layout.Add("COUNT", QMS_VARIANT_LONG, 11);
  layout.Add("UCOUNT", QMS_VARIANT_ULONG, 10);
  layout.Add("DAY", QMS_VARIANT_DATE, "ccyymmdd");
  layout.SetFieldNullableByHandle(7, 0);
  for (int i = 0; i < 7; i++) layout.SetFieldNullableByHandle(i, i == 1 ? 1 : 0);
  return layout;
}

// The types of the created table's columns, and which take null.
std::string ColumnTypes(adotest::MemoryDatabase& db, const char* table) {
  std::string text;
  for (const adodb::ColumnSchema& c : db.Find(table)->columns) {
    text += std::to_string(int(c.type)) + (c.nullable ? "n " : " ");
  }
  return text;
}

TEST_F(AdoTableTest, CreateMakesColumnsByFieldTypeAndLeavesTheTableOpenForWriting) {
  struct Case {
    const char* params;
    const char* setting;
    const char* table;
    const char* types;
  } cases[] = {
      {kJet, nullptr, "Out", "11 202n 5 5 3 3 21 7n "},
      {kServer, nullptr, "Out", "11 202n 5 5 3 20 21 135n "},
      {kExcel, nullptr, "Out", "11 202n 5 5 3 202 3 7n "},
      {kExcel, "1", "Out", "11 202n 5 5 3 3 3 7n "},
      {kExcel, "yes", "Out", "11 202n 5 5 3 202 3 7n "},
  };
  for (const auto& c : cases) {
    adotest::MemoryProvider provider;  // a fresh database
    adotest::ExcelNumericSetting setting;
    setting.value = c.setting;
    CQmsAdoTable table(c.table, c.params);
    CQmsRecord layout;
    table.DefineFields(EveryType(layout));
    table.Create();
    EXPECT_EQ(ColumnTypes(*provider.database, c.table), c.types) << c.params << " " << (c.setting ? c.setting : "");
    EXPECT_EQ(table.IsOpen(), 1);
    EXPECT_EQ(table.GetReadOnly(), 0);
    EXPECT_EQ(CodeOf([&] { table.Create(); }), QMS_SEVERE_OPEN);
  }
}

TEST_F(AdoTableTest, CreateOfAWorksheetReplacesBlanksAndFallsBackToTheBareName) {
  CQmsRecord layout;
  layout.Add("A", 5);
  {
    CQmsAdoTable table("Parcel list", kExcel);
    table.DefineFields(layout);
    table.Create();
    EXPECT_STREQ(table.GetTableName(), "Parcel_list");
    EXPECT_EQ(Db().created, (std::vector<std::string>{"Parcel_list"}));
  }
  // The sheet exists already: its own name fails, the bare name succeeds and
  // clears the failure.
  adotest::MemoryProvider provider;
  provider.database->AddTable("Parcel_list$", {Column("A", adodb::kVarWChar, 5)});
  CQmsAdoTable table("Parcel list", kExcel);
  table.DefineFields(layout);
  table.Create();
  EXPECT_STREQ(table.GetTableName(), "Parcel_list");
  EXPECT_EQ(provider.database->created, (std::vector<std::string>{"Parcel_list"}));
  EXPECT_EQ(table.IsOpen(), 1);
}

TEST_F(AdoTableTest, AFailedCreateIsLoggedWithTheProviderTextAndRaised) {
  Db().refuseCreate = {"Out"};
  CQmsAdoTable table("Out", kJet);
  CQmsRecord layout;
  layout.Add("A", 5);
  table.DefineFields(layout);
  EXPECT_EQ(CodeOf([&] { table.Create(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("a table named 'Out' cannot be made here"), std::string::npos);
  EXPECT_EQ(table.IsOpen(), 0);
  // A field of no type makes no column.
  CQmsRecord untyped;
  untyped.Add("B", QMS_VARIANT_EMPTY, 5);
  CQmsAdoTable other("Other", kJet);
  other.DefineFields(untyped);
  EXPECT_EQ(CodeOf([&] { other.Create(); }), QMS_SEVERE_INVALID_TYPE);
  EXPECT_EQ(Db().Find("Other"), nullptr);
}

TEST_F(AdoTableTest, ExistsAnswersForPresentAndMissingTables) {
  Numbers("T", 1);
  Db().AddTable("Sheet1$", {Column("A", adodb::kVarWChar, 5)});
  EXPECT_EQ(CQmsAdoTable("T", kJet).Exists(), 1);
  EXPECT_EQ(CQmsAdoTable("Missing", kJet).Exists(), 0);
  EXPECT_EQ(CQmsAdoTable("Sheet1", kExcel).Exists(), 1);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(AdoTableTest, DestroyRemovesTheTableAndAWorksheetBySheetName) {
  Numbers("T", 1);
  CQmsAdoTable table("T", kJet);
  table.Open();
  table.Destroy();
  EXPECT_EQ(table.IsOpen(), 0);
  EXPECT_EQ(Db().dropped, (std::vector<std::string>{"T"}));
  table.Destroy();  // gone: nothing to do
  EXPECT_EQ(Db().dropped.size(), 1u);

  Db().dropped.clear();
  Db().AddTable("Sheet1$", {Column("A", adodb::kVarWChar, 5)});
  CQmsAdoTable sheet("Sheet1", kExcel);
  sheet.Destroy();  // Sheet1 itself fails quietly, then Sheet1$ goes
  EXPECT_EQ(Db().dropped, (std::vector<std::string>{"Sheet1$"}));
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(AdoTableTest, RenameTableRenamesInTheCatalogAndKeepsTheNewName) {
  Numbers("T", 1);
  CQmsAdoTable table("T", kJet);
  table.RenameTable("U");
  EXPECT_EQ(Db().renamed, (std::vector<std::string>{"T>U"}));
  EXPECT_STREQ(table.GetTableName(), "U");
  EXPECT_EQ(table.Exists(), 1);
  CQmsAdoTable missing("Nope", kJet);
  EXPECT_EQ(CodeOf([&] { missing.RenameTable("V"); }), QMS_SEVERE);
}

}  // namespace
