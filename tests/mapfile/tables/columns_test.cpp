// Column name rules, type texts, display widths, view column slots,
// reopening a view's files, finding open tables by name and the version
// rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/objects/geom.h"
#include "tests/mapfile/tables/dispatch_fixture.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class ColumnsTest : public FileLayerTest {};

TEST_F(ColumnsTest, NameCheck) {
  struct Case {
    const char* name;
    int code;  // 0 accepted
  };
  const Case cases[] = {
      {"Object", kErrColumnNameReserved}, {"obj", kErrColumnNameReserved},
      {"RowID", kErrColumnNameReserved},  {"COL12", kErrColumnNameReserved},
      {"col1", kErrColumnNameReserved},   {"col12a", 0},
      {"Column", 0},                      {"col", 0},
      {"Objects", 0},                     {"road name", kErrColumnNameInvalid},
      {"1st", kErrColumnNameInvalid},     {"Name$", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorClear();
    EXPECT_EQ(ColumnNameCheck(c.name), c.code ? 0 : 1);
    if (c.code) {
      EXPECT_EQ(ErrorLastCode(), c.code);
    } else {
      EXPECT_EQ(ErrorCount(), 0);
    }
  }
  // A syntax check takes any text as a name; the reserved names stay so.
  SetParseMode(1);
  ErrorClear();
  EXPECT_EQ(ColumnNameCheck("road name"), 1);
  EXPECT_EQ(ColumnNameCheck("RowID"), 0);
  SetParseMode(0);
}

TEST_F(ColumnsTest, UniqueNames) {
  ColumnNameList list{};
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"Object", "_Object"},
      {"NAME", "NAME"},
      {"NAME", "NAME_2"},
      {"name", "name_3"},  // names collide ignoring case
      {"road name", "road_name"},
      {"1st", "_1st"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "ABCDEFGHIJKLMNOPQRSTUVWXY_2"},
      {"_Object", "_Object_2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    char name[32] = {};
    std::strncpy(name, c.in, 31);
    ASSERT_EQ(ColumnNameUnique(name, &list), 1);
    EXPECT_STREQ(name, c.out);
  }
  EXPECT_EQ(list.count, int32_t(std::size(cases)));
  EXPECT_EQ(ErrorCount(), 0) << "making names unique reports nothing";
  ColumnNameListFree(&list);

  // A 31-character reserved name keeps 31 characters with its "_".
  char longName[32] = "col1234567890123456789012345678";
  ASSERT_EQ(std::strlen(longName), 31u);
  ASSERT_EQ(ColumnNameUnique(longName, nullptr), 1);
  EXPECT_STREQ(longName, "_col123456789012345678901234567");
}

TEST_F(ColumnsTest, TypeTextsAndDisplayWidths) {
  struct Case {
    uint8_t type;
    int width, decimals;
    const char* text;  // null: no text
    uint16_t display;
  };
  const Case cases[] = {
      {kFieldChar, 30, 0, "Char (30)", 30},   {kFieldDecimal, 12, 3, "Decimal (12, 3)", 12},
      {kFieldInteger, 4, 0, "Integer", 11},   {kFieldSmallint, 2, 0, "Smallint", 6},
      {kFieldDate, 4, 0, "Date", 10},         {kFieldLogical, 1, 0, "Logical", 1},
      {kFieldChar25, 25, 0, nullptr, 0},      {kFieldFloat, 8, 0, "Float", 11},
      {kFieldMemo, 10, 0, "Memo", 0},         {0, 5, 0, nullptr, 0},
      {10, 5, 0, nullptr, 0},  // a work text has no type text but its width
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    char text[40] = "x";
    EXPECT_EQ(ColumnTypeText(c.type, c.width, c.decimals, text, sizeof text), c.text ? 1 : 0);
    EXPECT_STREQ(text, c.text ? c.text : "");
    if (c.type != 10) {
      EXPECT_EQ(ColumnDisplayWidth(c.type, c.width), c.display);
    }
  }
  EXPECT_EQ(ColumnDisplayWidth(10, 17), 17);
  char small[6];
  EXPECT_EQ(ColumnTypeText(kFieldDecimal, 12, 3, small, sizeof small), 0);
}

TEST_F(ColumnsTest, SlotReadsTheFieldOfTheCurrentRow) {
  Columns cols({{"Name", kFieldChar, 10, 0}, {"Count", kFieldInteger, 0, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(cols.data(), cols.count()));
  cols[1].readOnly = 1;
  TableObject table{};
  table.fields = cols.data();
  table.fieldCount = uint32_t(cols.count());

  ColumnSlot name{}, count{};
  ASSERT_TRUE(ColumnSlotInit(&name, &table, &table, &cols[0], 0));
  ASSERT_TRUE(ColumnSlotInit(&count, &table, &table, &cols[1], 1));
  EXPECT_STREQ(name.name, "Name");
  EXPECT_EQ(name.kind, kFieldChar);
  EXPECT_EQ(name.displayWidth, 10);
  EXPECT_EQ(name.editable, 1);
  EXPECT_EQ(count.editable, 0) << "a read-only column";
  uint32_t field = 99;
  ASSERT_TRUE(ExprIsColumnRef(count.expr, &field, nullptr));
  EXPECT_EQ(field, 1u);
  EXPECT_TRUE(ExprUsesColumn(count.expr, 1));

  cols.SetText(0, "Main");
  cols[1].value.u.i = 17;
  Value v{};
  ASSERT_TRUE(TableExprEval(&name, &v));
  char text[16];
  EXPECT_STREQ(ValueCopyText(text, &v, sizeof text), "Main");
  ValueFree(&v);
  ASSERT_TRUE(TableExprEval(&count, &v));
  EXPECT_EQ(v.u.i, 17);
  cols[1].value.u.i = 18;  // the next row
  ASSERT_TRUE(TableExprEval(&count, &v));
  EXPECT_EQ(v.u.i, 18);

  table.readOnly = 1;
  ColumnSlot viewOnly{};
  ASSERT_TRUE(ColumnSlotInit(&viewOnly, &table, &table, &cols[0], 0));
  EXPECT_EQ(viewOnly.editable, 0) << "a read-only view";
  table.fieldCount = 1;  // a slot past the fields reads nothing
  EXPECT_FALSE(TableExprEval(&count, &v));
  ColumnSlotFree(&name);
  ColumnSlotFree(&count);
  ColumnSlotFree(&viewOnly);
}

// Views of part tables whose data sources are of the counted kind (0), or of
// kind 7, which has no open.
class ViewTest : public ColumnsTest {
 protected:
  void SetUp() override {
    ColumnsTest::SetUp();
    for (TableObject& t : parts_) {
      std::memset(&t, 0, sizeof t);
      t.source.kind = kDataNone;
    }
    std::memset(&view_, 0, sizeof view_);
    std::strcpy(view_.name, "Roads");
    for (int i = 0; i < 2; ++i) links_[i] = ViewPart{&parts_[i], 0, 0, 0};
    view_.partCount = 2;
    view_.parts = links_;
  }
  TableObject parts_[2];
  ViewPart links_[2];
  TableObject view_;
};

TEST_F(ViewTest, ReopenCountsAndReleases) {
  ASSERT_TRUE(TableFilesReopen(&view_, 0));
  ASSERT_TRUE(TableFilesReopen(&view_, 0));
  EXPECT_EQ(view_.viewOpenCount, 2u);
  EXPECT_EQ(links_[0].opens, 2u);
  EXPECT_EQ(parts_[0].source.openCount, 1) << "a part's source is opened once per view";
  TableLinksRelease(&view_);
  EXPECT_EQ(parts_[1].source.openCount, 1);
  TableLinksRelease(&view_);
  EXPECT_EQ(parts_[0].source.openCount, 0);
  EXPECT_EQ(parts_[1].source.openCount, 0);
  EXPECT_EQ(view_.viewOpenCount, 0u);
  TableLinksRelease(&view_);  // nothing more to release
  EXPECT_EQ(view_.viewOpenCount, 0u);

  // A plain table is its own part.
  ASSERT_TRUE(TableFilesReopen(&parts_[0], 1));
  EXPECT_EQ(parts_[0].source.openCount, 1);
  TableLinksRelease(&parts_[0]);
  EXPECT_EQ(parts_[0].source.openCount, 0);
}

TEST_F(ViewTest, SecondPartFailingLeavesTheFirstClosed) {
  parts_[1].source.kind = 7;
  EXPECT_FALSE(TableFilesReopen(&view_, 0));
  EXPECT_EQ(parts_[0].source.openCount, 0);
  EXPECT_EQ(links_[0].opens, 0u);
  EXPECT_EQ(view_.viewOpenCount, 0u);
  EXPECT_EQ(ErrorLastCode(), kErrDataOpen) << "the part's own error comes first";

  // A part whose index file cannot be opened fails the same way; with
  // nothing else pushed the view's 824 reports it.
  ErrorClear();
  parts_[1].source.kind = kDataNone;
  parts_[1].indexOpen = [](TableObject*, int) -> int16_t { return 0; };
  EXPECT_FALSE(TableFilesReopen(&view_, 0));
  EXPECT_EQ(ErrorLastCode(), kErrViewReopen);
  EXPECT_EQ(ErrorCount(), 1);
  EXPECT_EQ(parts_[0].source.openCount, 0);
  EXPECT_EQ(parts_[1].source.openCount, 0) << "its source is released again";

  // A missing index file: the file layer's error stands.
  ErrorClear();
  parts_[1].indexOpen = nullptr;
  parts_[1].indexFile = Add("missing.IND", kFileKindIndex);
  ASSERT_NE(parts_[1].indexFile, 0);
  EXPECT_FALSE(TableFilesReopen(&view_, 0));
  EXPECT_NE(ErrorLastCode(), kErrViewReopen);
  EXPECT_EQ(parts_[1].source.openCount, 0);

  ErrorClear();
  parts_[1].indexFile = 0;
  view_.failed = 1;
  view_.name[0] = '\0';
  EXPECT_FALSE(TableFilesReopen(&view_, 0));
  EXPECT_EQ(ErrorLastCode(), kErrViewReopen);
  EXPECT_EQ(parts_[0].source.openCount, 0);
}

TEST_F(ViewTest, RowCountsByJoin) {
  parts_[0].source.rowCount = 5;
  parts_[1].source.rowCount = 8;
  view_.joinKind = kJoinChained;
  EXPECT_EQ(TableRowCount(&view_), 8u);
  view_.joinKind = kJoinTuple;
  view_.tupleCount = 3;
  EXPECT_EQ(TableRowCount(&view_), 3u);
  view_.joinKind = kJoinNone;
  EXPECT_EQ(TableRowCount(&view_), 0u) << "two parts without a join";
  EXPECT_EQ(TableRowCount(&parts_[0]), 5u);
}

TEST_F(ViewTest, FindOpenTablesByName) {
  std::strcpy(parts_[0].name, "Roads");
  std::strcpy(parts_[1].name, "Rivers");
  parts_[1].hidden = 1;
  TableListAdd(0, &parts_[0]);
  TableListAdd(1, &parts_[1]);
  TableObject* found = nullptr;
  int list = -1;
  EXPECT_TRUE(TableFindByName("ROADS", &found, &list));
  EXPECT_EQ(found, &parts_[0]);
  EXPECT_EQ(list, 0);
  EXPECT_FALSE(TableFindByName("rivers", &found, &list));
  EXPECT_TRUE(TableFindByNameAll("rivers", &found, &list));
  EXPECT_EQ(found, &parts_[1]);
  EXPECT_EQ(list, 1);
  EXPECT_TRUE(TableListRemove(0, &parts_[0]));
  EXPECT_TRUE(TableListRemove(1, &parts_[1]));
  EXPECT_FALSE(TableListRemove(1, &parts_[1]));
  EXPECT_FALSE(TableFindByNameAll("Roads", &found, &list));
}

TEST_F(ColumnsTest, VersionsByProjectionAndFeatures) {
  struct Case {
    int projection;
    int16_t need;  // 0: no raise
  };
  const Case cases[] = {{26, 452}, {27, 550}, {49, 550}, {28, 600}, {50, 600}, {51, 600},
                        {29, 650}, {30, 650}, {31, 700}, {52, 700}, {53, 800}, {1, 0},
                        {8, 0},    {25, 0},   {54, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.projection);
    TableVersions in{300, 300, 300}, out{};
    EXPECT_EQ(TableVersionsForProjection(&in, &out, c.projection), c.need ? 1 : 0);
    int16_t expect = c.need ? c.need : 300;
    EXPECT_EQ(out.table, expect);
    EXPECT_EQ(out.readEntire, expect);
    EXPECT_EQ(out.edit, expect);
  }
  TableVersions high{900, 900, 900}, out{};
  EXPECT_EQ(TableVersionsForProjection(&high, &out, 53), 0) << "versions never fall";
  EXPECT_EQ(out.table, 900);

  Columns cols({{"Name", kFieldChar, 10, 0}});
  TableObject table{};
  table.fields = cols.data();
  table.fieldCount = 1;
  table.webFeature = 1;
  TableVersions in{300, 300, 300};
  EXPECT_EQ(TableVersionsForFeatures(&in, &out, &table), 0) << "no field index";
  cols[0].index = reinterpret_cast<FieldIndex*>(&table);  // any entry marks it indexed
  EXPECT_EQ(TableVersionsForFeatures(&in, &out, &table), 1);
  EXPECT_EQ(out.edit, 800);
  table.webFeature = 0;
  EXPECT_EQ(TableVersionsForFeatures(&in, &out, &table), 0);

  TableSetVersions(&table, 450);
  EXPECT_EQ(table.version, 450);
  EXPECT_EQ(table.readEntireVersion, 450);
  EXPECT_EQ(table.editVersion, 450);
}

TEST_F(ColumnsTest, VersionsForObjects) {
  TableObject table{};
  GeomObject multipoint{};
  GeomObjectInit(&multipoint, 13);
  TableVersions in{300, 300, 300}, out{};
  ASSERT_EQ(TableVersionsForObject(&in, &out, &multipoint, &table), 1);
  EXPECT_EQ(out.table, 300);
  EXPECT_EQ(out.readEntire, 300);
  EXPECT_EQ(out.edit, GeomObjectIsCodeVariant2(&multipoint) ? 650 : 800);

  // Nothing for a table already at 452 and edit version 800.
  TableVersions done{452, 452, 800};
  EXPECT_EQ(TableVersionsForObject(&done, &out, &multipoint, &table), 0);

  // A point raises nothing; from 100 a multipoint lifts the table and
  // read-entire versions to 300 with its edit version.
  GeomObject point{};
  GeomObjectInit(&point, 1);
  EXPECT_EQ(TableVersionsForObject(&in, &out, &point, &table), 0);
  TableVersions old{100, 100, 100};
  ASSERT_EQ(TableVersionsForObject(&old, &out, &multipoint, &table), 1);
  EXPECT_EQ(out.table, 300);
  EXPECT_EQ(out.readEntire, 300);

  // The coordinate system's rule comes first and ends the rules.
  CoordSys cs{};
  cs.projection = 26;
  table.coordSys = &cs;
  ASSERT_EQ(TableVersionsForObject(&in, &out, &multipoint, &table), 1);
  EXPECT_EQ(out.table, 452);
  EXPECT_EQ(out.edit, 452);
  GeomObjectFree(&multipoint);
  GeomObjectFree(&point);
}

}  // namespace
}  // namespace mapfiletest
