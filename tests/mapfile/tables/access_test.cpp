// The Access source: the row map (scan, sync, rebuild), finding or adding
// the ID column and its index, type mapping, OLE dates, the engine's retry
// codes and failures, on the in-memory engine; and the .mdb files of the
// shared data through the libmdb engine, against mdb-export, with every
// write refused and the file left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "mapfile/tables/access.h"
#include "mapfile/tables/access_engine.h"
#include "tests/mapfile/tables/access_memory.h"
#include "mapfile/tables/tabdef.h"
#include "tests/mapfile/tables/dispatch_fixture.h"
#include "support/command.h"

namespace mapfiletest {
namespace {

using namespace layerio;
using namespace layerio::access;

constexpr char kDb[] = "/mem/shop.mdb";

// The first argument text of the first pushed error of `code` ("" when none).
const char* ErrorTextOf(int code) {
  const ErrorStack& stack = *State().errors;
  for (uint16_t i = 0; i < stack.reported && i < kErrorRecordCount; ++i) {
    const ErrorRecord& r = stack.records[i];
    if (r.code == code) return r.arg0.length ? stack.text + r.arg0.offset : "";
  }
  return "";
}

TEST(AccessOleDate, FromPartsAndBack) {
  struct Case {
    int y, m, d;
    double day;
  } cases[] = {{1899, 12, 30, 0},   {1900, 1, 1, 2},      {2000, 2, 29, 36585},
               {1600, 3, 1, -109511}, {9999, 12, 31, 2958465}, {100, 1, 1, -657434},
               {74, 9, 21, 27293}};
  for (const Case& c : cases) {
    double x = -1;
    ASSERT_TRUE(OleDateFromParts(c.y, c.m, c.d, 0, 0, 0, &x)) << c.y << "-" << c.m;
    EXPECT_EQ(x, c.day) << c.y << "-" << c.m << "-" << c.d;
    int y, m, d, h, mi, s;
    ASSERT_TRUE(OleDateToParts(x, &y, &m, &d, &h, &mi, &s));
    EXPECT_EQ(y, c.y < 100 ? 1900 + c.y : c.y);
    EXPECT_EQ(m, c.m);
    EXPECT_EQ(d, c.d);
  }
  double x;
  for (auto bad : {std::vector<int>{1900, 2, 29}, {2001, 13, 1}, {2001, 4, 31}, {10000, 1, 1},
                   {2001, 1, 0}})
    EXPECT_FALSE(OleDateFromParts(bad[0], bad[1], bad[2], 0, 0, 0, &x)) << bad[0] << bad[1];
  EXPECT_FALSE(OleDateFromParts(2001, 1, 1, 24, 0, 0, &x));
  ASSERT_TRUE(OleDateFromParts(1899, 12, 29, 6, 0, 0, &x));
  EXPECT_DOUBLE_EQ(x, -1.25);  // the time takes the sign of the day
  int y, m, d, h, mi, s;
  ASSERT_TRUE(OleDateToParts(-1.25, &y, &m, &d, &h, &mi, &s));
  EXPECT_EQ(std::vector<int>({y, m, d, h, mi, s}), std::vector<int>({1899, 12, 29, 6, 0, 0}));
  ASSERT_TRUE(OleDateToParts(1.0 - 0.4 / 86400, &y, &m, &d, &h, &mi, &s));  // rounds up
  EXPECT_EQ(std::vector<int>({y, m, d, h, mi, s}), std::vector<int>({1899, 12, 31, 0, 0, 0}));
  EXPECT_FALSE(OleDateToParts(2958466.0, &y, &m, &d, &h, &mi, &s));
  EXPECT_FALSE(OleDateToParts(-657435.0, &y, &m, &d, &h, &mi, &s));
  EXPECT_FALSE(OleDateToParts(NAN, &y, &m, &d, &h, &mi, &s));
}

class AccessMemTest : public FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    EngineInstall(&engine_);
  }
  void TearDown() override {
    for (DataSource* s : open_) DataSourceClose(s, nullptr);
    EXPECT_EQ(EngineUseCount(), 0);
    EngineInstall(nullptr);
    FileLayerTest::TearDown();
  }

  AccessSettings Settings(const std::string& table, const std::string& password = "") {
    AccessSettings s;
    s.database = kDb;
    s.table = table;
    s.password = password;
    s.rowMap = PathOf(table + ".TAB");
    return s;
  }

  // Creates `table` through the dispatcher; the source stays open.
  bool Create(DataSource* source, const std::string& table, Columns& columns,
              uint8_t version = 0) {
    *source = NewSource();
    AccessSettings s = Settings(table);
    s.version = version;
    AccessSourceSetup(source, s);
    uint32_t params[kDataParamWords];
    DataSourceDefaults(kDataAccess, params);
    if (!DataSourceCreate(table.c_str(), dir_.path().c_str(), -1, 0, source, kDataAccess,
                          columns.count(), columns.data(), params, 0))
      return false;
    open_.push_back(source);
    return true;
  }

  bool Attach(DataSource* source, const std::string& table, Columns& columns,
              const std::string& password = "") {
    *source = NewSource();
    AccessSourceSetup(source, Settings(table, password));
    DataSourceDefaults(kDataAccess, source->params.words);
    int32_t count = columns.count();
    if (!DataSourceAttach(PathOf(table + ".TAB").c_str(), 0, source, kDataAccess, &count,
                          columns.data()))
      return false;
    open_.push_back(source);
    return true;
  }

  // A table made as another program would: Name Text 20, Qty Integer and,
  // when `counter`, an auto-increment Long "Num" first.
  void Foreign(const std::string& table, bool counter, bool index) {
    MemTable& t = engine_.Db(kDb).tables[table];
    if (counter) t.fields.push_back({"Num", kDaoLong, 4, kDaoAutoIncrement, true});
    t.fields.push_back({"Name", kDaoText, 20, 0, false});
    t.fields.push_back({"Qty", kDaoInteger, 2, 0, false});
    if (counter && index) {
      IndexInfo ix;
      ix.name = "PrimaryKey";
      ix.unique = ix.primary = true;
      ix.fields.push_back(t.fields[0]);
      t.indexes.push_back(ix);
    }
  }
  int32_t AddRow(const std::string& table, const char* name, int qty) {
    MemTable& t = engine_.Db(kDb).tables[table];
    std::vector<Variant> v(t.fields.size());
    for (size_t i = 0; i < t.fields.size(); ++i) {
      if (t.fields[i].name == "Name") v[i] = Variant::Text(name);
      if (t.fields[i].name == "Qty") v[i] = Variant::Whole(VarType::kI2, qty);
    }
    return engine_.AddExternally(kDb, table, v);
  }

  std::vector<int32_t> RowMap(const std::string& table) {
    std::string bytes = Contents(table + ".aid");
    std::vector<int32_t> ids;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + i);
      ids.push_back(int32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
    }
    return ids;
  }

  bool Logged(const std::string& call) const {
    for (const std::string& c : engine_.calls)
      if (c == call) return true;
    return false;
  }

  DataSource& Fresh() {
    sources_.push_back(NewSource());
    return sources_.back();
  }

  MemEngine engine_;
  std::deque<DataSource> sources_;
  std::vector<DataSource*> open_;
};

TEST_F(AccessMemTest, CreateMapsTypesAndAddsTheIdColumnAndIndex) {
  Columns columns({{"Name", kFieldChar, 12, 0},
                   {"Price", kFieldDecimal, 20, 4},
                   {"Ratio", kFieldDecimal, 12, 2},
                   {"Count", kFieldInteger, 11, 0},
                   {"Small", kFieldSmallint, 6, 0},
                   {"When", kFieldDate, 8, 0},
                   {"Yes", kFieldLogical, 1, 0},
                   {"Real", kFieldFloat, 19, 9}});
  columns[3].readOnly = 1;
  DataSource& source = Fresh();
  ASSERT_TRUE(Create(&source, "~  Goods", columns)) << ErrorLastCode();
  EXPECT_TRUE(Logged("CreateDatabase /mem/shop.mdb ;LANGID=0x0409;CP=1252;COUNTRY=0 64"));
  ASSERT_TRUE(engine_.Db(kDb).tables.count("Goods"));  // '~' and blanks dropped
  const MemTable& t = engine_.Db(kDb).tables["Goods"];
  std::vector<int> types;
  for (const FieldInfo& f : t.fields) types.push_back(f.type);
  EXPECT_EQ(types, std::vector<int>({kDaoLong, kDaoText, kDaoCurrency, kDaoDouble, kDaoLong,
                                     kDaoInteger, kDaoDate, kDaoBoolean, kDaoDouble}));
  EXPECT_EQ(t.fields[0].name, "PLOTRIX_ID");
  EXPECT_EQ(t.fields[0].attributes, kDaoAutoIncrement);
  EXPECT_EQ(t.fields[1].size, 12);
  ASSERT_EQ(t.indexes.size(), 1u);
  EXPECT_EQ(t.indexes[0].name, "PX_INDEX_FIELD");
  EXPECT_TRUE(t.indexes[0].primary && t.indexes[0].unique && t.indexes[0].required);
  EXPECT_EQ(columns[2].value.kind, kFieldFloat);  // Decimal 12,2 became Float
  EXPECT_EQ(columns[1].value.kind, kFieldDecimal);
  EXPECT_EQ(columns[3].readOnly, 0);
  EXPECT_EQ(source.columnCount, 8);
  EXPECT_EQ(source.rowCount, 0u);
  EXPECT_EQ(Contents("Goods.aid"), "");

  // The older format is asked for by version 4; a table of the same name is
  // replaced.
  engine_.Db(kDb).tables["Goods"].records.push_back({});
  Columns again({{"Name", kFieldChar, 12, 0}});
  DataSource& second = Fresh();
  ASSERT_TRUE(Create(&second, "Goods", again, 4));
  EXPECT_TRUE(Logged("TableDefDelete Goods"));
  EXPECT_TRUE(engine_.Db(kDb).tables["Goods"].records.empty());
  Columns memo({{"Notes", kFieldMemo, 10, 0}});
  DataSource& third = Fresh();
  EXPECT_FALSE(Create(&third, "Memo", memo));  // no engine type
  EXPECT_FALSE(engine_.Db(kDb).tables.count("Memo"));
  EXPECT_FALSE(std::filesystem::exists(PathOf("Memo.aid")));
}

TEST_F(AccessMemTest, InsertReadUpdateThroughTheRowMap) {
  Columns columns({{"Name", kFieldChar, 6, 0},
                   {"Price", kFieldDecimal, 20, 4},
                   {"When", kFieldDate, 8, 0},
                   {"Yes", kFieldLogical, 1, 0}});
  DataSource& source = Fresh();
  ASSERT_TRUE(Create(&source, "Goods", columns));
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeWrite));
  const char* names[] = {"pear", "", "fig"};
  for (int i = 0; i < 3; ++i) {
    columns.SetText(0, names[i]);
    columns[1].value.u.d = 1.23456 + i;
    columns[2].value.u.date = i == 1 ? DateRec{0, 0, 0} : DateRec{2024, 2, 29};
    columns[3].value.u.b = i == 2;
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&source, columns.data(), &row)) << ErrorLastCode();
    EXPECT_EQ(row, uint32_t(i + 1));
  }
  ASSERT_TRUE(DataSourceRelease(&source));
  EXPECT_EQ(RowMap("Goods"), std::vector<int32_t>({1, 2, 3}));
  const MemTable& t = engine_.Db(kDb).tables["Goods"];
  EXPECT_EQ(t.records[0].values[2].i, 12346);  // currency rounds half up
  EXPECT_EQ(t.records[1].values[1].type, VarType::kNull);  // empty text
  EXPECT_EQ(t.records[1].values[3].type, VarType::kNull);  // zero date
  EXPECT_EQ(t.records[2].values[4].i, -1);

  ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
  ASSERT_TRUE(DataSourceReadRow(&source, columns.data(), 3));
  EXPECT_EQ(columns.Text(0), "fig");
  EXPECT_DOUBLE_EQ(columns[1].value.u.d, 3.2346);
  EXPECT_EQ(columns[2].value.u.date.year, 2024);
  EXPECT_EQ(columns[2].value.u.date.day, 29);
  EXPECT_EQ(columns[3].value.u.b, 1);
  ASSERT_TRUE(DataSourceRelease(&source));

  ASSERT_TRUE(DataSourceOpen(&source, kFileModeWrite));
  columns.SetText(0, "plum");
  ASSERT_TRUE(DataSourceUpdate(&source, columns.data(), 2));
  ASSERT_TRUE(DataSourceReadRow(&source, columns.data(), 2));
  EXPECT_EQ(columns.Text(0), "plum");
  ASSERT_TRUE(DataSourceRelease(&source));
  EXPECT_EQ(engine_.Db(kDb).tables["Goods"].records.size(), 3u);
}

TEST_F(AccessMemTest, ForeignTableGainsTheOwnIdColumnOrAnIndexOnItsCounter) {
  Foreign("Plain", false, false);
  AddRow("Plain", "a", 1);
  AddRow("Plain", "b", 2);
  Columns columns({{"Name", kFieldChar, 20, 0}, {"Qty", kFieldSmallint, 6, 0}});
  DataSource& plain = Fresh();
  ASSERT_TRUE(Attach(&plain, "Plain", columns)) << ErrorLastCode();
  AccessSourceInfo info;
  ASSERT_TRUE(AccessSourceInfoGet(&plain, &info));
  EXPECT_EQ(info.idColumn, "PLOTRIX_ID");
  EXPECT_EQ(info.indexName, "PX_INDEX_FIELD");
  EXPECT_TRUE(info.idOwn);
  EXPECT_TRUE(Logged("IndexAppend Plain PX_INDEX_FIELD"));  // not primary here
  EXPECT_EQ(plain.columnCount, 2);
  EXPECT_EQ(plain.driverFlag & 1, 0);
  EXPECT_EQ(RowMap("Plain"), std::vector<int32_t>({1, 2}));

  Foreign("Counted", true, false);
  AddRow("Counted", "x", 7);
  Columns three({{"Num", kFieldInteger, 11, 0},
                 {"Name", kFieldChar, 20, 0},
                 {"Qty", kFieldSmallint, 6, 0}});
  DataSource& counted = Fresh();
  ASSERT_TRUE(Attach(&counted, "Counted", three));
  ASSERT_TRUE(AccessSourceInfoGet(&counted, &info));
  EXPECT_EQ(info.idColumn, "Num");
  EXPECT_FALSE(info.idOwn);
  EXPECT_FALSE(Logged("FieldAppend Counted PLOTRIX_ID"));
  EXPECT_EQ(counted.driverFlag & 1, 1);  // a visible ID column
  ASSERT_TRUE(DataSourceOpen(&counted, kFileModeRead));
  ASSERT_TRUE(DataSourceReadRow(&counted, three.data(), 1));
  EXPECT_EQ(three[0].value.u.i, 1);
  EXPECT_EQ(three.Text(1), "x");
  EXPECT_EQ(three[2].value.u.s, 7);
  ASSERT_TRUE(DataSourceRelease(&counted));

  // A unique one-field index on the counter is taken as it is.
  Foreign("Keyed", true, true);
  DataSource& keyed = Fresh();
  ASSERT_TRUE(Attach(&keyed, "Keyed", three));
  ASSERT_TRUE(AccessSourceInfoGet(&keyed, &info));
  EXPECT_EQ(info.indexName, "PrimaryKey");
  EXPECT_FALSE(Logged("IndexAppend Keyed PX_INDEX_FIELD"));

  // Fields and columns that do not agree fail the open.
  Columns wrong({{"Name", kFieldChar, 20, 0}, {"Qty", kFieldInteger, 11, 0}});
  DataSource& bad = Fresh();
  EXPECT_FALSE(Attach(&bad, "Plain", wrong));
  Columns fewer({{"Name", kFieldChar, 20, 0}});
  EXPECT_FALSE(Attach(&bad, "Plain", fewer));
}

TEST_F(AccessMemTest, DescribeRebuildsTheRowMapInIndexOrder) {
  Foreign("Counted", true, true);
  MemTable& t = engine_.Db(kDb).tables["Counted"];
  t.fields.push_back({"Long", kDaoText, 300, 0, false});
  t.fields.push_back({"Cash", kDaoCurrency, 8, 0, false});
  t.fields.push_back({"Guid", kDaoGuid, 16, 0, false});
  t.fields.push_back({"Flag", kDaoBoolean, 1, 0, false});
  t.fields.push_back({"Tiny", kDaoSingle, 4, 0, false});
  AddRow("Counted", "a", 1);
  AddRow("Counted", "b", 2);
  t.records[0].values[0].i = 9;  // index order differs from record order
  dir_.Write("Counted.aid", std::string(40, '\x7f'));
  TableObject table{};
  table.source = NewSource();
  table.source.kind = kDataAccess;
  AccessSourceSetup(&table.source, Settings("Counted"));
  ASSERT_TRUE(DataSourceDescribe(PathOf("Counted.TAB").c_str(), &table)) << ErrorLastCode();
  EXPECT_EQ(RowMap("Counted"), std::vector<int32_t>({2, 9}));
  EXPECT_EQ(table.source.rowCount, 2u);
  ASSERT_EQ(table.fieldCount, 7u);  // the GUID is left out
  struct Want {
    const char* name;
    uint8_t kind, width, decimals;
    uint16_t readOnly;
  } want[] = {{"Num", kFieldInteger, 11, 0, 1},    {"Name", kFieldChar, 20, 0, 0},
              {"Qty", kFieldSmallint, 6, 0, 0},    {"Long", kFieldChar, 254, 0, 1},
              {"Cash", kFieldDecimal, 20, 4, 0},   {"Flag", kFieldLogical, 1, 0, 0},
              {"Tiny", kFieldFloat, 19, 9, 0}};
  for (size_t i = 0; i < 7; ++i) {
    const FieldDef& f = table.fields[i];
    EXPECT_STREQ(f.name, want[i].name);
    EXPECT_EQ(f.value.kind, want[i].kind) << want[i].name;
    EXPECT_EQ(f.width, want[i].width) << want[i].name;
    EXPECT_EQ(f.decimals, want[i].decimals) << want[i].name;
    EXPECT_EQ(f.readOnly, want[i].readOnly) << want[i].name;
  }
  EXPECT_EQ(table.source.driverFlag & 1, 1);
  EXPECT_EQ(EngineUseCount(), 0);
  DataSourceClose(&table.source, nullptr);
  MemFree(table.fields);
}

TEST_F(AccessMemTest, FirstUseAfterAChangeAppendsNewRecordsAndGoneRowsAreFlagged) {
  Columns columns({{"Name", kFieldChar, 20, 0}, {"Qty", kFieldSmallint, 6, 0}});
  Foreign("Plain", false, false);
  DataSource& source = Fresh();
  ASSERT_TRUE(Attach(&source, "Plain", columns));
  EXPECT_EQ(source.rowCount, 0u);
  AddRow("Plain", "late", 3);  // another program adds a record
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
  EXPECT_EQ(source.rowCount, 1u);
  ASSERT_TRUE(DataSourceReadRow(&source, columns.data(), 1));
  EXPECT_EQ(columns.Text(0), "late");
  ASSERT_TRUE(DataSourceRelease(&source));
  EXPECT_TRUE(Logged("OpenQuery " + IdQueryText("PLOTRIX_ID", "Plain", 0) + " 8 512 3"));

  // The record is deleted in the database: the row is gone.
  engine_.Db(kDb).tables["Plain"].records[0].alive = false;
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
  uint8_t gone = 0;
  EXPECT_FALSE(DataSourceRead(&source, columns.data(), 1, &gone));
  EXPECT_EQ(gone, 1);
  // Entries of 0 and rows past the map fail without the flag.
  gone = 0;
  EXPECT_FALSE(DataSourceRead(&source, columns.data(), 2, &gone));
  EXPECT_EQ(gone, 0);
  ASSERT_TRUE(DataSourceRelease(&source));
  DataSourceClose(&source, nullptr);
  open_.clear();
  dir_.Write("Plain.aid", std::string("\1\0\0\0\0\0\0\0", 8));
  ASSERT_TRUE(Attach(&source, "Plain", columns));
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
  gone = 0;
  EXPECT_FALSE(DataSourceRead(&source, columns.data(), 2, &gone));
  EXPECT_EQ(gone, 0);
  ASSERT_TRUE(DataSourceRelease(&source));
}

TEST_F(AccessMemTest, OpenRetriesAndPasswords) {
  Foreign("Plain", false, false);
  Columns columns({{"Name", kFieldChar, 20, 0}, {"Qty", kFieldSmallint, 6, 0}});
  DataSource& source = Fresh();
  // Any failure but a bad password is retried exclusive and read-only.
  engine_.FailNext("OpenDatabase", 3051);
  ASSERT_TRUE(Attach(&source, "Plain", columns));
  EXPECT_TRUE(Logged("OpenDatabase /mem/shop.mdb 1 1 ;"));
  AccessSourceInfo info;
  ASSERT_TRUE(AccessSourceInfoGet(&source, &info));
  EXPECT_TRUE(info.readOnly);
  EXPECT_FALSE(DataSourceOpen(&source, kFileModeWrite));
  DataSourceClose(&source, nullptr);
  open_.clear();

  engine_.Db(kDb).password = "secret";
  engine_.calls.clear();
  DataSource& other = Fresh();
  EXPECT_FALSE(Attach(&other, "Plain", columns, "wrong"));
  EXPECT_TRUE(Pushed(kErrAccessEngine));
  EXPECT_EQ(engine_.calls.size(), 1u);  // 3031 is not retried
  EXPECT_TRUE(Logged("OpenDatabase /mem/shop.mdb 0 0 ;pwd=wrong"));
  ASSERT_TRUE(Attach(&other, "Plain", columns, "secret"));
  DataSourceClose(&other, nullptr);
  open_.clear();
  engine_.calls.clear();
  EXPECT_FALSE(Attach(&other, "Plain", columns, std::string(20, 'p')));  // not sent
  EXPECT_TRUE(Logged("OpenDatabase /mem/shop.mdb 0 0 ;"));
  engine_.Db(kDb).password.clear();

  // A locked table opens read-only.
  engine_.Db(kDb).tables["Plain"].locked = true;
  engine_.calls.clear();
  ASSERT_TRUE(Attach(&other, "Plain", columns));
  EXPECT_TRUE(Logged("OpenRecordset Plain 1 0 4"));
  ASSERT_TRUE(AccessSourceInfoGet(&other, &info));
  EXPECT_TRUE(info.readOnly);
}

TEST_F(AccessMemTest, FailedWritesReportAndLeaveTheRowMap) {
  Columns columns({{"Name", kFieldChar, 6, 0}});
  DataSource& source = Fresh();
  ASSERT_TRUE(Create(&source, "Goods", columns));
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeWrite));
  columns.SetText(0, "one");
  uint32_t row = 0;
  ASSERT_TRUE(DataSourceInsert(&source, columns.data(), &row));

  ErrorClear();
  engine_.FailNext("Update", 3022);
  EXPECT_FALSE(DataSourceInsert(&source, columns.data(), &row));
  EXPECT_TRUE(Pushed(kErrAccessEngine));
  EXPECT_TRUE(Pushed(kErrAccessRowWrite));
  EXPECT_STREQ(ErrorTextOf(kErrAccessRowWrite), "2");
  EXPECT_TRUE(Logged("CancelUpdate"));
  EXPECT_EQ(source.rowCount, 1u);

  ErrorClear();
  engine_.FailNext("SetValue", 3163);
  EXPECT_FALSE(DataSourceInsert(&source, columns.data(), &row));
  EXPECT_TRUE(Pushed(kErrAccessRowWrite));

  ErrorClear();
  engine_.FailNext("Update", 3022);
  EXPECT_FALSE(DataSourceUpdate(&source, columns.data(), 1));
  EXPECT_TRUE(Pushed(kErrAccessEngine));
  EXPECT_FALSE(Pushed(kErrAccessRowWrite));  // the cancel worked
  ErrorClear();
  engine_.FailNext("Edit", 3197);
  EXPECT_FALSE(DataSourceUpdate(&source, columns.data(), 1));
  EXPECT_TRUE(Pushed(kErrAccessRowWrite));
  ErrorClear();
  EXPECT_FALSE(DataSourceUpdate(&source, columns.data(), 7));  // no such row
  EXPECT_FALSE(Pushed(kErrAccessRowWrite));
  ASSERT_TRUE(DataSourceRelease(&source));
  // The map is as long as the row count: the failed rows left no entries.
  EXPECT_EQ(RowMap("Goods"), std::vector<int32_t>({1}));
}

TEST_F(AccessMemTest, ReadOnlyDatabaseWithoutIdColumnIsReadByPosition) {
  Foreign("Plain", false, false);
  AddRow("Plain", "a", 1);
  AddRow("Plain", "b", 2);
  engine_.Db(kDb).readOnly = true;
  Columns columns({{"Name", kFieldChar, 20, 0}, {"Qty", kFieldSmallint, 6, 0}});
  DataSource& source = Fresh();
  ASSERT_TRUE(Attach(&source, "Plain", columns)) << ErrorLastCode();
  AccessSourceInfo info;
  ASSERT_TRUE(AccessSourceInfoGet(&source, &info));
  EXPECT_TRUE(info.byPosition);
  EXPECT_EQ(source.rowCount, 2u);
  EXPECT_TRUE(engine_.Db(kDb).tables["Plain"].indexes.empty());
  ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
  ASSERT_TRUE(DataSourceReadRow(&source, columns.data(), 2));
  EXPECT_EQ(columns.Text(0), "b");
  uint8_t gone = 0;
  EXPECT_FALSE(DataSourceRead(&source, columns.data(), 3, &gone));
  ASSERT_TRUE(DataSourceRelease(&source));
  EXPECT_FALSE(DataSourceOpen(&source, kFileModeWrite));
  EXPECT_EQ(RowMap("Plain"), std::vector<int32_t>({1, 2}));
}

// ----- The .mdb files of the shared data ------------------------------------------

std::string SharedAccess() { return std::string(GSB_SHARED_DATA_DIR) + "/access"; }

// CSV fields of mdb-export's output (quoted texts, no embedded line ends in
// these files).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::string f;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        f += '"';
        ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        fields.push_back(f);
        f.clear();
      } else {
        f += c;
      }
    }
    fields.push_back(f);
    rows.push_back(fields);
  }
  return rows;
}

class AccessMdbTest : public FileLayerTest {};

TEST_F(AccessMdbTest, TablesReadAsMdbExportSeesThemAndWritesAreRefused) {
  if (!testsupport::HaveCommand("command -v mdb-export")) GTEST_SKIP() << "mdb-export missing";
  if (!std::filesystem::is_directory(SharedAccess())) GTEST_SKIP() << "no shared Access data";
  EngineInstall(nullptr);
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SharedAccess())) {
    if (entry.path().extension() != ".mdb") continue;
    const std::string name = entry.path().filename().string();
    const std::string db = PathOf(name);
    std::filesystem::copy_file(entry.path(), db);
    const std::string before = Contents(name);
    std::string list;
    ASSERT_TRUE(testsupport::RunCommand("mdb-tables -1 '" + db + "'", &list));
    std::istringstream tables(list);
    std::string tableName;
    while (std::getline(tables, tableName)) {
      SCOPED_TRACE(name + " " + tableName);
      AccessSettings settings;
      settings.database = db;
      settings.table = tableName;
      settings.rowMap = PathOf(name + "." + tableName + ".TAB");
      TableObject table{};
      table.source = NewSource();
      table.source.kind = kDataAccess;
      AccessSourceSetup(&table.source, settings);
      ASSERT_TRUE(DataSourceDescribe(settings.rowMap.c_str(), &table)) << ErrorLastCode();
      DataSourceClose(&table.source, nullptr);
      std::string csv;
      ASSERT_TRUE(testsupport::RunCommand(
          "mdb-export -T '%Y-%m-%d' '" + db + "' '" + tableName + "'", &csv));
      auto rows = ParseCsv(csv);
      ASSERT_FALSE(rows.empty());
      if (table.fieldCount == 0) continue;  // memo and decimal fields only: nothing to read
      // Fields of other types are not columns: match the rest by name.
      std::vector<size_t> at;
      for (size_t c = 0; c < table.fieldCount; ++c) {
        auto it = std::find(rows[0].begin(), rows[0].end(), std::string(table.fields[c].name));
        ASSERT_NE(it, rows[0].end()) << table.fields[c].name;
        at.push_back(size_t(it - rows[0].begin()));
      }
      DataSource source = NewSource();
      AccessSourceSetup(&source, settings);
      DataSourceDefaults(kDataAccess, source.params.words);
      int32_t count = int32_t(table.fieldCount);
      ASSERT_TRUE(DataSourceAttach(settings.rowMap.c_str(), 0, &source, kDataAccess, &count,
                                   table.fields));
      ASSERT_EQ(source.rowCount + 1, rows.size());
      ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
      for (uint32_t r = 1; r <= source.rowCount; ++r) {
        ASSERT_TRUE(DataSourceReadRow(&source, table.fields, r));
        for (size_t c = 0; c < table.fieldCount; ++c) {
          const FieldDef& f = table.fields[c];
          const std::string& want = rows[r][at[c]];
          char text[64];
          switch (f.value.kind) {
            case kFieldChar:
              EXPECT_EQ(std::string(static_cast<const char*>(f.value.u.p)), want) << f.name;
              break;
            case kFieldDate:
              std::snprintf(text, sizeof text, "%04d-%02d-%02d", f.value.u.date.year,
                            f.value.u.date.month, f.value.u.date.day);
              EXPECT_EQ(text, want) << f.name;
              break;
            case kFieldLogical:
              EXPECT_EQ(f.value.u.b ? "1" : "0", want) << f.name;
              break;
            case kFieldSmallint:
              EXPECT_EQ(f.value.u.s, std::stol(want)) << f.name;
              break;
            case kFieldInteger:
              EXPECT_EQ(f.value.u.i, std::stol(want)) << f.name;
              break;
            default:
              EXPECT_NEAR(f.value.u.d, std::stod(want), 1e-9 * (1 + std::fabs(f.value.u.d)))
                  << f.name;
              break;
          }
        }
        ++compared;
      }
      ASSERT_TRUE(DataSourceRelease(&source));
      // Writes are refused with a message, the file stays as it was.
      EXPECT_FALSE(DataSourceOpen(&source, kFileModeWrite));
      ASSERT_TRUE(DataSourceOpen(&source, kFileModeRead));
      ErrorClear();
      uint32_t row = 0;
      EXPECT_FALSE(DataSourceInsert(&source, table.fields, &row));
      EXPECT_TRUE(Pushed(kErrAccessEngine));
      EXPECT_FALSE(DataSourceUpdate(&source, table.fields, 1));
      ASSERT_TRUE(DataSourceRelease(&source));
      DataSourceClose(&source, table.fields);
      MemFree(table.fields);
    }
    // Creating a table (or a database beside it) fails with the engine's
    // message.
    Columns columns({{"Name", kFieldChar, 10, 0}});
    for (const std::string& target : {db, PathOf("new.mdb")}) {
      DataSource source = NewSource();
      AccessSettings settings;
      settings.database = target;
      settings.table = "Made";
      settings.rowMap = PathOf("Made.TAB");
      AccessSourceSetup(&source, settings);
      uint32_t params[kDataParamWords];
      DataSourceDefaults(kDataAccess, params);
      ErrorClear();
      EXPECT_FALSE(DataSourceCreate("Made", dir_.path().c_str(), -1, 0, &source, kDataAccess,
                                    columns.count(), columns.data(), params, 0));
      EXPECT_TRUE(Pushed(kErrAccessEngine));
      EXPECT_STRNE(ErrorTextOf(kErrAccessEngine), "");
      AccessSourceSetup(&source, AccessSettings());
    }
    EXPECT_FALSE(std::filesystem::exists(PathOf("new.mdb")));
    EXPECT_TRUE(Contents(name) == before) << name << " changed";
  }
  EXPECT_GT(compared, 0);
  EXPECT_EQ(EngineUseCount(), 0);
}


// A table registered by a definition statement opens again through its .TAB:
// the definition carries the Access table's name to the source.
TEST_F(AccessMdbTest, ARegisteredTableOpensThroughItsDefinition) {
  const std::string shared = SharedAccess() + "/test_V2000.mdb";
  if (!std::filesystem::exists(shared)) GTEST_SKIP() << "no shared Access data";
  EngineInstall(nullptr);
  const std::string db = PathOf("shop.mdb");
  std::filesystem::copy_file(shared, db);
  const std::string tab = PathOf("shop.TAB");
  const std::string statement =
      "Register Table \"" + db + "\" Type ACCESS Table \"Table1\" into \"" + tab + "\"";
  char report[2000] = "";
  const bool registered = StatementRun(statement.c_str(), 0) != 0;
  if (!registered) ErrorReport(1, report, sizeof report);
  ASSERT_TRUE(registered) << report;
  FileHandle def = FileTableAddName(tab.c_str(), kFileKindTable);
  ASSERT_GT(def, 0);
  TableObject* table = TableDefinitionOpen(def);
  if (!table) ErrorReport(1, report, sizeof report);
  ASSERT_NE(table, nullptr) << report << "\n" << Contents("shop.TAB");
  EXPECT_EQ(table->source.kind, kDataAccess);
  EXPECT_EQ(table->source.rowCount, 2u);
  ASSERT_TRUE(DataSourceOpen(&table->source, kFileModeRead));
  EXPECT_TRUE(DataSourceReadRow(&table->source, table->fields, 2));
  DataSourceRelease(&table->source);
  TableClose(table);
}

}  // namespace
}  // namespace mapfiletest
