// Field indexes at the table level and through the exported entries: built
// over native tables with duplicate keys, searched by PXFindIndexed and by
// the three search plans, each answer checked against a scan of the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/tables/dbf.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "tests/mapfile/tables/dispatch_fixture.h"

namespace {

using namespace layerio;
using mapfiletest::ColumnSpec;
using mapfiletest::Columns;

constexpr uint32_t kName = 0;   // Char 12, values "k000".."k060": duplicates
constexpr uint32_t kNum = 1;    // Integer, -50..50
constexpr uint32_t kPrice = 2;  // Decimal 8.2
constexpr uint32_t kId = 3;     // Integer, the row number
constexpr uint32_t kFlag = 4;   // Logical: no index is asked for it

std::string NameOf(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "k%03d", (i * 7919) % 61);
  return text;
}
int NumOf(int i) { return (i * 37) % 101 - 50; }
double PriceOf(int i) { return double((i * 13) % 40) / 4; }

// An open native table the test owns.
struct Table {
  explicit Table(std::initializer_list<ColumnSpec> spec) : cols(spec) {}
  Columns cols;
  TableObject t{};
};

// A column reference as compiled code: the field of one part.
uint8_t* ColumnRef(uint32_t field, uint8_t part) {
  auto* code = static_cast<uint8_t*>(MemAlloc(10));
  const uint8_t bytes[10] = {241, 26, 5, 0, 0, uint8_t(field), uint8_t(field >> 8),
                             uint8_t(field >> 16), uint8_t(field >> 24), part};
  std::memcpy(code, bytes, sizeof bytes);
  return code;
}

int16_t CloseNothing(TableObject*, uint16_t) { return 1; }

class FieldIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  }
  void TearDown() override {
    for (auto& table : tables_) {
      TableIndexesClose(&table->t);
      DataSourceClose(&table->t.source, table->cols.data());
    }
    tables_.clear();
    PXShutdown();
    FileTableReleaseAll();
  }

  // A native table of `rows` rows in the test's folder.
  Table* MakeRoads(const char* name, int rows) {
    auto table = std::make_unique<Table>(std::initializer_list<ColumnSpec>{
        {"Name", kFieldChar, 12, 0},
        {"Num", kFieldInteger, 4, 0},
        {"Price", kFieldDecimal, 8, 2},
        {"Id", kFieldInteger, 4, 0},
        {"Flag", kFieldLogical, 1, 0}});
    TableObject& t = table->t;
    std::strcpy(t.name, name);
    EXPECT_TRUE(DataSourceCreate(name, dir_.path().c_str(), -1, 0, &t.source, kDataNative,
                                 table->cols.count(), table->cols.data(), nullptr, 0));
    EXPECT_TRUE(DataSourceOpen(&t.source, kFileModeWrite));
    for (int i = 1; i <= rows; ++i) {
      Fill(table->cols, i);
      uint32_t row = 0;
      EXPECT_TRUE(DataSourceInsert(&t.source, table->cols.data(), &row));
    }
    t.fields = table->cols.data();
    t.fieldCount = uint32_t(table->cols.count());
    tables_.push_back(std::move(table));
    return tables_.back().get();
  }

  // A native table of (name, code) rows with a third column holding the row
  // number, for views whose links the test spells out.
  Table* MakeCoded(const char* name, std::vector<std::pair<const char*, int>> rows) {
    auto table = std::make_unique<Table>(std::initializer_list<ColumnSpec>{
        {"Name", kFieldChar, 12, 0}, {"Code", kFieldInteger, 4, 0}, {"Row", kFieldInteger, 4, 0}});
    TableObject& t = table->t;
    std::strcpy(t.name, name);
    EXPECT_TRUE(DataSourceCreate(name, dir_.path().c_str(), -1, 0, &t.source, kDataNative,
                                 table->cols.count(), table->cols.data(), nullptr, 0));
    EXPECT_TRUE(DataSourceOpen(&t.source, kFileModeWrite));
    for (size_t i = 0; i < rows.size(); ++i) {
      table->cols.SetText(0, rows[i].first);
      table->cols[1].value.u.i = rows[i].second;
      table->cols[2].value.u.i = int32_t(i + 1);
      uint32_t row = 0;
      EXPECT_TRUE(DataSourceInsert(&t.source, table->cols.data(), &row));
    }
    t.fields = table->cols.data();
    t.fieldCount = uint32_t(table->cols.count());
    tables_.push_back(std::move(table));
    return tables_.back().get();
  }

  static void Fill(Columns& c, int i) {
    c.SetText(kName, NameOf(i).c_str());
    c[kNum].value.u.i = NumOf(i);
    c[kPrice].value.u.d = PriceOf(i);
    c[kId].value.u.i = i;
    c[kFlag].value.u.b = uint8_t(i % 2);
  }

  PXTableHandle Register(Table* table, uint32_t mode = kModeReadWrite) {
    std::string tab = dir_.path() + "/" + table->t.name + ".TAB";
    FileHandle h = FileTableAddName(tab.c_str(), kFileKindTable);
    return SlotRegister(h, &table->t, mode, kSlotKindNative, 0, CloseNothing);
  }

  bool Exists(const std::string& name) const {
    return std::filesystem::exists(dir_.path() + "/" + name);
  }

  // The codes on the error stack, first pushed first.
  static std::vector<int> Codes() {
    std::vector<int> codes;
    const ErrorStack* s = State().errors;
    for (int i = 0; s && i < kErrorRecordCount && s->records[i].code; ++i)
      if (s->records[i].code > 0) codes.push_back(s->records[i].code);
    return codes;
  }

  // The rows whose field `field` equals the value of row `like`, by a scan.
  static std::vector<uint32_t> Scan(Table* table, uint32_t field, const Value& value) {
    std::vector<uint32_t> rows;
    TableObject& t = table->t;
    std::vector<FieldDef> copy(t.fields, t.fields + t.fieldCount);
    for (uint32_t r = 1; r <= t.source.rowCount; ++r) {
      EXPECT_TRUE(DataSourceReadRow(&t.source, t.fields, r));
      if (Same(t.fields[field].value, value)) rows.push_back(r);
    }
    return rows;
  }

  static bool Same(const Value& a, const Value& b) {
    if (a.kind == kFieldChar) {
      char* pa = nullptr;
      char* pb = nullptr;
      ValueData(&a, &pa);
      ValueData(&b, &pb);
      std::string sa = pa, sb = pb;
      while (!sa.empty() && sa.back() == ' ') sa.pop_back();
      while (!sb.empty() && sb.back() == ' ') sb.pop_back();
      return sa == sb;
    }
    if (a.kind == kFieldDecimal || a.kind == kFieldFloat) return a.u.d == b.u.d;
    if (a.kind == kFieldLogical) return a.u.b == b.u.b;
    return a.u.i == b.u.i;
  }

  // Every row of an equal-key search of a prepared plan.
  static std::vector<uint32_t> Search(IndexSearchState* state, const Value& key) {
    std::vector<uint32_t> rows;
    uint32_t row = 0;
    for (int16_t on = IndexSearch(state, kIndexSeek, &key, &row); on;
         on = IndexSearch(state, kIndexNextEqual, nullptr, &row)) {
      rows.push_back(row);
      if (rows.size() > 100000) break;
    }
    EXPECT_EQ(row, 0u);
    return rows;
  }

  testsupport::TempDir dir_;
  std::vector<std::unique_ptr<Table>> tables_;
};

Value TextValue(const std::string& text) {
  Value v{};
  ValueSet(&v, kValueText, text.c_str());
  return v;
}

// ----- building, then PXFindIndexed against a scan -----

TEST_F(FieldIndexTest, FindIndexedEqualsScanForEachKeyType) {
  Table* roads = MakeRoads("roads", 700);
  PXTableHandle h = Register(roads);
  ASSERT_GT(h, 0);
  EXPECT_FALSE(Exists("roads.IND"));
  for (uint32_t field : {kName, kNum, kPrice}) {
    ASSERT_EQ(PXCreateIndex(h, field + 1), 1) << field << " " << PXGetLastError();
  }
  EXPECT_TRUE(Exists("roads.IND"));
  EXPECT_EQ(PXGetFieldIndexId(h, kName + 1), 1u);
  EXPECT_EQ(PXGetFieldIndexId(h, kPrice + 1), 3u);
  EXPECT_EQ(PXGetFieldIndexId(h, kId + 1), 0u);
  EXPECT_EQ(PXGetFieldIndexId(h, 99), 0u);
  char list[256];
  ASSERT_EQ(PXGetIndexList(h, list), 1);
  EXPECT_STREQ(list, "Name\t1\tNum\t2\tPrice\t3");

  struct Case {
    const char* what;
    uint32_t field;
    std::string key;  // as the caller writes it
    int like;         // the row whose value is sought; 0 none has it
  };
  std::vector<Case> cases = {
      {"quoted text", kName, std::string(1, '"').append(NameOf(5)).append(1, '"'), 5},
      {"bare text", kName, NameOf(17), 17},
      {"text with trailing blanks", kName, NameOf(3) + "  ", 3},
      {"absent text", kName, "\"zzz\"", 0},
      {"below every text", kName, "\"a\"", 0},
      {"negative integer", kNum, std::to_string(NumOf(2)), 2},
      {"positive integer", kNum, std::to_string(NumOf(9)), 9},
      {"absent integer", kNum, "77", 0},
      {"decimal", kPrice, "2.50", 10},
      {"decimal zero", kPrice, "0", 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint32_t> expected;
    if (c.like) {
      ASSERT_TRUE(DataSourceReadRow(&roads->t.source, roads->t.fields, uint32_t(c.like)));
      Value v{};
      ValueCopy(&v, &roads->t.fields[c.field].value);
      expected = Scan(roads, c.field, v);
      ValueFree(&v);
      ASSERT_GT(expected.size(), 1u);  // the keys have duplicates
    }
    std::vector<uint32_t> found;
    uint32_t row = 99;
    uint16_t r = PXFindIndexed(h, c.field + 1, c.key.c_str(), 1, &row);
    while (r == 1) {
      found.push_back(row);
      r = PXFindIndexed(h, c.field + 1, c.key.c_str(), 2, &row);
    }
    EXPECT_EQ(r, 2);
    EXPECT_EQ(row, 0u);
    EXPECT_EQ(found, expected);
    // After the last match the search stays at its end.
    EXPECT_EQ(PXFindIndexed(h, c.field + 1, c.key.c_str(), 2, &row), 2);
    EXPECT_EQ(row, 0u);
  }
}

TEST_F(FieldIndexTest, FindIndexedModesAndRefusals) {
  Table* roads = MakeRoads("roads", 50);
  PXTableHandle h = Register(roads);
  ASSERT_EQ(PXCreateIndex(h, kName + 1), 1);
  ASSERT_EQ(PXCreateIndex(h, kNum + 1), 1);
  uint32_t row = 99;
  // Mode 2 on a field never searched.
  EXPECT_EQ(PXFindIndexed(h, kName + 1, NameOf(1).c_str(), 2, &row), 3);
  EXPECT_EQ(row, 0u);
  ASSERT_EQ(PXFindIndexed(h, kName + 1, NameOf(1).c_str(), 1, &row), 1);
  EXPECT_EQ(row, 1u);
  // The bit is per field: the other index has not been searched yet.
  EXPECT_EQ(PXFindIndexed(h, kNum + 1, "0", 2, &row), 3);
  // Dropping an index clears every field's mark.
  ASSERT_EQ(PXDropIndex(h, kNum + 1), 1);
  EXPECT_EQ(PXFindIndexed(h, kName + 1, NameOf(1).c_str(), 2, &row), 3);

  struct Refusal {
    const char* what;
    uint32_t field;
    uint32_t how;
    int code;
  };
  const Refusal refusals[] = {
      {"field without index", kId + 1, 1, kErrIndexNone},
      {"dropped index", kNum + 1, 1, kErrIndexNone},
      {"field 0", 0, 1, kErrBadHandle},
      {"field past the last", 6, 1, kErrBadHandle},
      {"mode 3", kName + 1, 3, kErrBadHandle},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    row = 99;
    EXPECT_EQ(PXFindIndexed(h, r.field, "1", r.how, &row), 0);
    EXPECT_EQ(row, 0u);
    EXPECT_EQ(PXGetLastError(), r.code);
  }
  EXPECT_EQ(PXFindIndexed(h + 1, kName + 1, "1", 1, &row), 0);
  EXPECT_EQ(PXGetLastError(), kErrBadHandle);
}

TEST_F(FieldIndexTest, WriteEntriesNeedAReadWriteHandle) {
  Table* roads = MakeRoads("roads", 5);
  PXTableHandle h = Register(roads, kModeReadOnly);
  EXPECT_EQ(PXCreateIndex(h, 1), 0);
  EXPECT_EQ(PXGetLastError(), kErrNotReadWrite);
  EXPECT_EQ(PXDropIndex(h, 1), 0);
  EXPECT_EQ(PXGetLastError(), kErrNotReadWrite);
  char list[8] = "x";
  EXPECT_EQ(PXGetIndexList(h, list), 1);
  EXPECT_STREQ(list, "");
}

// ----- dropping -----

TEST_F(FieldIndexTest, DroppingTheLastIndexDeletesTheFile) {
  Table* roads = MakeRoads("roads", 100);
  PXTableHandle h = Register(roads);
  ASSERT_EQ(PXCreateIndex(h, kName + 1), 1);
  ASSERT_EQ(PXCreateIndex(h, kNum + 1), 1);
  ASSERT_EQ(PXDropIndex(h, kName + 1), 1);
  EXPECT_TRUE(Exists("roads.IND"));
  EXPECT_EQ(PXGetFieldIndexId(h, kName + 1), 0u);
  EXPECT_EQ(PXGetFieldIndexId(h, kNum + 1), 2u);
  EXPECT_EQ(PXDropIndex(h, kId + 1), 1);  // nothing to drop
  ASSERT_EQ(PXDropIndex(h, kNum + 1), 1);
  EXPECT_FALSE(Exists("roads.IND"));
  EXPECT_EQ(TableHasIndexes(&roads->t), 0);
  EXPECT_EQ(roads->t.indexes, nullptr);
  // A new index makes a new file, whose first entry is free again.
  ASSERT_EQ(PXCreateIndex(h, kNum + 1), 1);
  EXPECT_EQ(PXGetFieldIndexId(h, kNum + 1), 1u);
  uint32_t row = 0;
  ASSERT_EQ(PXFindIndexed(h, kNum + 1, std::to_string(NumOf(7)).c_str(), 1, &row), 1);
}

// ----- build failures -----

TEST_F(FieldIndexTest, BuildRefusalsPushTheirCodeThen389) {
  Table* roads = MakeRoads("roads", 30);
  TableObject& t = roads->t;
  ASSERT_TRUE(FieldIndexCreate(&t, kName, 0, nullptr, nullptr));

  struct Case {
    const char* what;
    uint32_t field;
    int unique;
    uint8_t readOnly;
    uint32_t parts;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"other unique flag", kName, 1, 0, 0, {kErrIndexUnique, kErrIndexBuild}},
      {"a view", kNum, 0, 0, 1, {kErrIndexView, kErrIndexBuild}},
      {"a read-only table", kNum, 0, 1, 0, {kErrNotReadWrite, kErrIndexBuild}},
      {"a field past the last", kFlag + 1, 0, 0, 0, {kErrBadHandle}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ErrorClear();
    ViewPart part{&t, 0, 0, 0};
    t.readOnly = c.readOnly;
    t.partCount = c.parts;
    t.parts = c.parts ? &part : nullptr;
    FieldIndex* index = reinterpret_cast<FieldIndex*>(1);
    EXPECT_EQ(FieldIndexCreate(&t, c.field, c.unique, nullptr, &index), 0);
    EXPECT_EQ(index, nullptr);
    EXPECT_EQ(Codes(), c.codes);
    t.readOnly = 0;
    t.partCount = 0;
    t.parts = nullptr;
  }
  // Asking again with the same flag answers with the index there is.
  FieldIndex* index = nullptr;
  IndexFile* file = nullptr;
  ASSERT_TRUE(FieldIndexCreate(&t, kName, 0, &file, &index));
  EXPECT_EQ(index, t.fields[kName].index);
  EXPECT_EQ(file, t.indexes);
}

TEST_F(FieldIndexTest, UniqueBuildOverDuplicatesLeavesNothing) {
  Table* roads = MakeRoads("roads", 200);
  TableObject& t = roads->t;
  ErrorClear();
  EXPECT_EQ(FieldIndexCreate(&t, kName, 1, nullptr, nullptr), 0);
  EXPECT_EQ(Codes(), (std::vector<int>{kErrIndexUnique, kErrIndexBuild}));
  EXPECT_EQ(t.fields[kName].index, nullptr);
  EXPECT_EQ(t.indexes, nullptr);
  EXPECT_FALSE(Exists("roads.IND"));
  // Over distinct values it builds.
  ASSERT_TRUE(FieldIndexCreate(&t, kId, 1, nullptr, nullptr));
  EXPECT_EQ(t.fields[kId].index->unique, 1);
}

// ----- keeping step with row changes -----

TEST_F(FieldIndexTest, RowInsertsAndDeletesReachEveryIndex) {
  Table* roads = MakeRoads("roads", 40);
  TableObject& t = roads->t;
  PXTableHandle h = Register(roads);
  ASSERT_TRUE(FieldIndexCreate(&t, kName, 0, nullptr, nullptr));
  ASSERT_TRUE(FieldIndexCreate(&t, kId, 1, nullptr, nullptr));

  Columns& c = roads->cols;
  c.SetText(kName, "fresh");
  c[kId].value.u.i = 41;
  uint32_t row = 0;
  ASSERT_TRUE(DataSourceInsert(&t.source, c.data(), &row));
  ASSERT_TRUE(TableIndexesInsertRow(&t, c.data(), row));
  uint32_t found = 0;
  ASSERT_EQ(PXFindIndexed(h, kName + 1, "fresh", 1, &found), 1);
  EXPECT_EQ(found, row);
  ASSERT_EQ(PXFindIndexed(h, kId + 1, "41", 1, &found), 1);
  EXPECT_EQ(found, row);

  // A key the unique index refuses leaves none of the row's keys behind.
  c.SetText(kName, "second");
  c[kId].value.u.i = 7;
  EXPECT_EQ(TableIndexesInsertRow(&t, c.data(), row + 1), 0);
  EXPECT_EQ(PXFindIndexed(h, kName + 1, "second", 1, &found), 2);
  ASSERT_EQ(PXFindIndexed(h, kId + 1, "7", 1, &found), 1);
  EXPECT_EQ(found, 7u);
  EXPECT_EQ(PXFindIndexed(h, kId + 1, "7", 2, &found), 2);

  c.SetText(kName, "fresh");
  c[kId].value.u.i = 41;
  ASSERT_TRUE(TableIndexesDeleteRow(&t, c.data(), row));
  EXPECT_EQ(PXFindIndexed(h, kName + 1, "fresh", 1, &found), 2);
  EXPECT_EQ(PXFindIndexed(h, kId + 1, "41", 1, &found), 2);
}

// ----- search plans -----

TEST_F(FieldIndexTest, PlansOneAndTwoAgreeWithAScan) {
  Table* roads = MakeRoads("roads", 500);
  TableObject& t = roads->t;
  uint8_t* byName = ColumnRef(kName, 0);
  uint8_t* byNum = ColumnRef(kNum, 0);
  struct Case {
    const char* what;
    uint8_t* condition;
    int flags;
    int plan;
  };
  const Case cases[] = {
      {"field index of a text column", byName, 0, 2},
      {"field index of an integer column", byNum, 0, 2},
      {"temporary index of a text column", byName, kSearchNoIndex, 1},
      {"temporary index of an integer column", byNum, kSearchNoIndex | kSearchCount, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IndexSearchState state;
    uint32_t count = 0;
    ASSERT_TRUE(IndexSearchPrepare(&t, c.condition, c.flags, &state, &count));
    EXPECT_EQ(state.plan, c.plan);
    if (c.plan == 1) {
      EXPECT_EQ(count, 500u);
    }
    uint32_t field = c.condition == byName ? kName : kNum;
    for (int like : {1, 2, 3, 11, 250}) {
      SCOPED_TRACE(like);
      ASSERT_TRUE(DataSourceReadRow(&t.source, t.fields, uint32_t(like)));
      Value v{};
      ValueCopy(&v, &t.fields[field].value);
      std::vector<uint32_t> expected = Scan(roads, field, v);
      EXPECT_EQ(Search(&state, v), expected);
      ValueFree(&v);
    }
    Value absent = field == kName ? TextValue("nothing") : Value{};
    if (field == kNum) {
      absent.kind = kValueInteger;
      absent.u.i = 1000;
    }
    EXPECT_TRUE(Search(&state, absent).empty());
    ValueFree(&absent);
    IndexSearchEnd(&state);
    EXPECT_EQ(state.plan, 0);
  }
  // Plan 2 built the field indexes it used, and they stay.
  EXPECT_NE(t.fields[kName].index, nullptr);
  EXPECT_NE(t.fields[kNum].index, nullptr);
  MemFree(byName);
  MemFree(byNum);
}

TEST_F(FieldIndexTest, StaleExpressionIndexIsRebuilt) {
  Table* roads = MakeRoads("roads", 120);
  TableObject& t = roads->t;
  uint8_t* byName = ColumnRef(kName, 0);
  IndexSearchState state;
  ASSERT_TRUE(IndexSearchPrepare(&t, byName, kSearchNoIndex, &state, nullptr));
  ASSERT_EQ(state.plan, 1);
  Value changed = TextValue("changed");
  EXPECT_TRUE(Search(&state, changed).empty());
  IndexSearchEnd(&state);

  // Row 5 gets a new name; the change counter marks the table changed.
  Columns& c = roads->cols;
  Fill(c, 5);
  c.SetText(kName, "changed");
  ASSERT_TRUE(DataSourceUpdate(&t.source, c.data(), 5));
  TableNoteChange(&t);
  ASSERT_TRUE(IndexSearchPrepare(&t, byName, kSearchNoIndex, &state, nullptr));
  EXPECT_EQ(Search(&state, changed), std::vector<uint32_t>{5});
  IndexSearchEnd(&state);
  ValueFree(&changed);
  MemFree(byName);
}

// Two tables joined by a tuple file: a search on either part answers with
// view positions; a base row that several tuples name gives each of them.
TEST_F(FieldIndexTest, PlanThreeTranslatesThroughTheTupleJoin) {
  Table* roads = MakeRoads("roads", 90);
  Table* towns = MakeRoads("towns", 8);
  const uint32_t tuples = 60;
  std::string bytes;
  auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(char(v >> (8 * i)));
  };
  for (uint32_t p = 1; p <= tuples; ++p) {
    le32((p * 11) % 30 + 1);  // roads rows 1..30, each named by two tuples
    le32(p % 8 + 1);
  }
  std::string tupPath = dir_.path() + "/view.tup";
  {
    FILE* f = std::fopen(tupPath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ViewPart parts[2] = {{&roads->t, 0, 0, 0}, {&towns->t, 0, 0, 0}};
  TableObject view{};
  std::strcpy(view.name, "view");
  view.partCount = 2;
  view.parts = parts;
  view.joinKind = kJoinTuple;
  view.tupleFile = FileTableAddName(tupPath.c_str(), 0);
  view.tupleCount = tuples;
  view.reportingPart = -1;
  view.viewKind = 2;

  for (uint8_t part : {0, 1}) {
    SCOPED_TRACE(int(part));
    TableObject* base = parts[part].table;
    uint8_t* code = ColumnRef(kName, part);
    IndexSearchState state;
    ASSERT_TRUE(IndexSearchPrepare(&view, code, 0, &state, nullptr));
    EXPECT_EQ(state.plan, 3);
    EXPECT_EQ(state.base, base);
    for (int like : {1, 2, 5}) {
      // The expected positions, by moving through the view.
      ASSERT_TRUE(DataSourceReadRow(&base->source, base->fields, uint32_t(like)));
      Value v{};
      ValueCopy(&v, &base->fields[kName].value);
      std::vector<uint32_t> expected;
      uint32_t rowOut = 0;
      int atEnd = 0;
      TableMoveTo(&view, kMoveBeforeFirst, 0, &rowOut, &atEnd);
      for (;;) {
        int16_t read = TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd);
        if (atEnd) break;
        if (read && Same(base->fields[kName].value, v)) expected.push_back(view.position);
      }
      std::vector<uint32_t> found = Search(&state, v);
      std::sort(found.begin(), found.end());
      EXPECT_EQ(found, expected);
      EXPECT_FALSE(expected.empty());
      ValueFree(&v);
    }
    IndexSearchEnd(&state);
    MemFree(code);
  }
  TableIndexesClose(&view);
  FileRelease(view.tupleFile);
}

// A chained join: the view's rows are the last part's; a search on the
// first part follows the link from each of its rows into the last part
// (here the towns' names link to the roads' names).
TEST_F(FieldIndexTest, PlanThreeFollowsAChainedJoin) {
  Table* towns = MakeRoads("towns", 12);
  Table* roads = MakeRoads("roads", 300);
  ViewPart parts[2] = {{&towns->t, 0, kName, kName}, {&roads->t, 0, 0, 0}};
  TableObject view{};
  view.partCount = 2;
  view.parts = parts;
  view.joinKind = kJoinChained;
  view.reportingPart = -1;
  view.viewKind = 2;

  uint8_t* byTown = ColumnRef(kNum, 0);
  uint8_t* byRoad = ColumnRef(kPrice, 1);
  IndexSearchState state;
  ASSERT_TRUE(IndexSearchPrepare(&view, byTown, 0, &state, nullptr));
  EXPECT_EQ(state.plan, 3);
  size_t matches = 0;
  for (int like : {1, 2, 3}) {
    SCOPED_TRACE(like);
    ASSERT_TRUE(DataSourceReadRow(&towns->t.source, towns->t.fields, uint32_t(like)));
    Value num{};
    ValueCopy(&num, &towns->t.fields[kNum].value);
    std::vector<std::string> names;
    for (uint32_t r : Scan(towns, kNum, num)) names.push_back(NameOf(int(r)));
    std::vector<uint32_t> expected;
    for (uint32_t r = 1; r <= roads->t.source.rowCount; ++r) {
      if (std::count(names.begin(), names.end(), NameOf(int(r)))) expected.push_back(r);
    }
    std::vector<uint32_t> found = Search(&state, num);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    matches += expected.size();
  }
  EXPECT_GT(matches, 6u);
  IndexSearchEnd(&state);

  // A column of the last part is searched in its own index.
  ASSERT_TRUE(IndexSearchPrepare(&view, byRoad, 0, &state, nullptr));
  EXPECT_EQ(state.plan, 2);
  Value price{};
  price.kind = kValueFloat;
  price.u.d = PriceOf(3);
  EXPECT_EQ(Search(&state, price), Scan(roads, kPrice, price));
  IndexSearchEnd(&state);
  MemFree(byTown);
  MemFree(byRoad);
}

// Three tables chained through field indexes: the roads are the view's
// rows; a road's town is the first town of the road's name, a town's region
// the first region of the town's code. A part without a match is blank, and
// so is every part before it, even where a region has the blank code 0.
TEST_F(FieldIndexTest, ChainedViewFollowsItsLinks) {
  constexpr uint32_t kCodedName = 0, kCode = 1, kRow = 2;
  Table* regions =
      MakeCoded("regions", {{"north", 1}, {"south", 2}, {"east", 1}, {"west", 4}, {"zero", 0}});
  Table* towns = MakeCoded("towns", {{"a", 1}, {"b", 2}, {"c", 9}, {"a", 4}});
  Table* roads = MakeCoded("roads", {{"a", 0}, {"c", 0}, {"z", 0}, {"b", 0}, {"a", 0}});
  ViewPart parts[3] = {{&regions->t, 0, kCode, kCode},
                       {&towns->t, 0, kCodedName, kCodedName},
                       {&roads->t, 0, 0, 0}};
  TableObject view{};
  std::strcpy(view.name, "chain");
  view.partCount = 3;
  view.parts = parts;
  view.joinKind = kJoinChained;
  view.reportingPart = -1;
  view.viewKind = 2;

  // The region and town rows of each road (0: blank).
  const uint32_t region[6] = {0, 1, 0, 0, 2, 1};
  const uint32_t town[6] = {0, 1, 3, 0, 2, 1};
  auto rowOf = [&](Table* t) { return uint32_t(t->t.fields[kRow].value.u.i); };
  auto expectAt = [&](uint32_t p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(rowOf(roads), p);
    EXPECT_EQ(rowOf(towns), town[p]);
    EXPECT_EQ(rowOf(regions), region[p]);
    if (!region[p]) {
      EXPECT_EQ(regions->cols.Text(kCodedName), "");
    }
  };
  uint32_t rowOut = 0;
  int atEnd = 0;
  EXPECT_EQ(TableMoveTo(&view, kMoveBeforeFirst, 0, &rowOut, &atEnd), 0);
  for (uint32_t p = 1; p <= 5; ++p) {
    ASSERT_EQ(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd), 1) << PXGetLastError();
    EXPECT_EQ(rowOut, p);
    EXPECT_EQ(atEnd, 0);
    expectAt(p);
  }
  EXPECT_EQ(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd), 0);
  EXPECT_EQ(atEnd, 1);
  EXPECT_EQ(rowOf(roads), 0u);  // past the end: blanked
  for (uint32_t p : {4u, 1u, 3u}) {
    ASSERT_EQ(TableMoveTo(&view, kMoveTo, p, &rowOut, &atEnd), 1);
    expectAt(p);
  }
  ASSERT_EQ(TableMoveTo(&view, kMovePrevious, 0, &rowOut, &atEnd), 1);
  expectAt(2);
  // The links' indexes were built on first use.
  EXPECT_NE(regions->t.fields[kCode].index, nullptr);
  EXPECT_NE(towns->t.fields[kCodedName].index, nullptr);

  // A temporary index of a first-part column, built by moving through the
  // view, holds each view row under the value the move shows.
  uint8_t* byRegionName = ColumnRef(kCodedName, 0);
  IndexSearchState state;
  uint32_t count = 0;
  ASSERT_TRUE(IndexSearchPrepare(&view, byRegionName, kSearchNoIndex, &state, &count));
  EXPECT_EQ(state.plan, 1);
  EXPECT_EQ(count, 5u);
  const struct {
    const char* name;
    std::vector<uint32_t> rows;
  } names[] = {{"north", {1, 5}}, {"south", {4}}, {"", {2, 3}}, {"east", {}}, {"zero", {}}};
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    Value key = TextValue(n.name);
    EXPECT_EQ(Search(&state, key), n.rows);
    ValueFree(&key);
  }
  IndexSearchEnd(&state);

  // A search walking the same index as the moves (the regions' codes, with
  // a repeated code) is not thrown off by a move between its steps.
  uint8_t* byCode = ColumnRef(kCode, 0);
  ASSERT_TRUE(IndexSearchPrepare(&view, byCode, 0, &state, nullptr));
  ASSERT_EQ(state.plan, 3);
  Value one{};
  one.kind = kValueInteger;
  one.u.i = 1;
  const std::vector<uint32_t> plain = Search(&state, one);
  EXPECT_EQ(plain, (std::vector<uint32_t>{1, 5, 1, 5}));  // regions 1 and 3 both lead there
  std::vector<uint32_t> moved;
  uint32_t row = 0;
  for (int16_t on = IndexSearch(&state, kIndexSeek, &one, &row); on && moved.size() < 20;
       on = IndexSearch(&state, kIndexNextEqual, nullptr, &row)) {
    moved.push_back(row);
    ASSERT_EQ(TableMoveTo(&view, kMoveTo, row, &rowOut, &atEnd), 1);
  }
  EXPECT_EQ(moved, plain);
  IndexSearchEnd(&state);
  TableIndexesClose(&view);
  MemFree(byRegionName);
  MemFree(byCode);
}

}  // namespace
