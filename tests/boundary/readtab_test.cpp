#include "boundary/readtab.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "tests/boundary/reader_fixture.h"

namespace {

using gsbtest::Point;
using gsbtest::Record;
using readertest::Step;

// A stand-in for the map-table library: one table of rows, each with its
// row text and object record, and a log of the calls.
struct FakeLibrary {
  std::vector<std::string> fieldNames;
  struct Row {
    std::string text;
    PXObject object{};
  };
  std::vector<Row> rows;
  bool rowCountFails = false;
  bool fieldCountFails = false;
  uint32_t fetchFailsAt = 0;  // row number, 0: never
  // What the reader asked for.
  uint32_t interfaceNumber = 0;
  std::string openedPath;
  uint32_t openMode = 0;
  int initialised = 0;
  int closed = 0;
  int shutdowns = 0;
  // Points and sections the object records point to.
  std::deque<std::vector<PXPoint>> points;
  std::deque<std::vector<PXSection>> sections;
};
FakeLibrary* g_fake = nullptr;
constexpr PXTableHandle kTable = 5;

uint16_t FakeInitialize(uint32_t number) {
  g_fake->interfaceNumber = number;
  ++g_fake->initialised;
  return 1;
}
PXTableHandle FakeOpen(const char* path, uint32_t mode) {
  g_fake->openedPath = path;
  g_fake->openMode = mode;
  return kTable;
}
uint16_t FakeRowCount(PXTableHandle t, uint32_t* rows) {
  if (t != kTable || g_fake->rowCountFails) return 0;
  *rows = uint32_t(g_fake->rows.size());
  return 1;
}
int32_t FakeLastError() { return 777; }
uint16_t FakeFieldCount(PXTableHandle t, uint32_t* fields) {
  if (t != kTable || g_fake->fieldCountFails) return 0;
  *fields = uint32_t(g_fake->fieldNames.size());
  return 1;
}
uint16_t FakeObjectCounts(PXTableHandle, uint32_t* p, uint32_t* l, uint32_t* r) {
  *p = 1, *l = 2, *r = 3;
  return 1;
}
uint16_t FakeFieldInfo(PXTableHandle t, PXFieldInfo* fields) {
  if (t != kTable) return 0;
  for (size_t i = 0; i < g_fake->fieldNames.size(); ++i) {
    std::memset(&fields[i], 0, sizeof fields[i]);
    std::snprintf(fields[i].name, sizeof fields[i].name, "%s", g_fake->fieldNames[i].c_str());
    fields[i].type = 1;
  }
  return 1;
}
uint16_t FakeFetch(PXTableHandle t, uint32_t row, char* text, PXObject* object) {
  if (t != kTable || row == 0 || row > g_fake->rows.size() || row == g_fake->fetchFailsAt)
    return 0;
  std::snprintf(text, PX_ROW_TEXT_SIZE, "%s", g_fake->rows[row - 1].text.c_str());
  *object = g_fake->rows[row - 1].object;
  return 1;
}
uint16_t FakeClose(PXTableHandle t) {
  g_fake->closed += t == kTable;
  return 1;
}
uint16_t FakeShutdown() {
  ++g_fake->shutdowns;
  return 1;
}
// The fake's tables have no map part: their objects cross unconverted.
uint16_t FakeNoMapPart(PXTableHandle, PXCoordSys*) { return 0; }

template <class T>
void Put(PXObject& o, size_t offset, T value) {
  std::memcpy(o.u.bytes + offset, &value, sizeof value);
}

class TabReadTest : public readertest::ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    g_fake = &fake_;
    TabReadEntries() = {FakeInitialize, FakeOpen,       FakeRowCount, FakeLastError, FakeFieldCount,
                        FakeObjectCounts, FakeFieldInfo, FakeFetch,    FakeClose,     FakeShutdown,
                        FakeNoMapPart,    PXParseCoordSys, PXConvertObject};
  }
  void TearDown() override {
    ReaderTest::TearDown();
    TabReadEntries() = LayerioLibraryEntries();
    g_fake = nullptr;
  }

  // Row texts name each row by its number.
  void AddRow(const PXObject& object) {
    const std::string n = std::to_string(fake_.rows.size() + 1);
    fake_.rows.push_back({n + "\t\"Label " + n + "\"\t\"Name \"\"" + n + "\"\"\"", object});
  }
  static PXObject Object(uint8_t code) {
    PXObject o{};
    o.u.bytes[0] = code;
    return o;
  }
  static PXObject PointObject(uint8_t code, double x, double y) {
    PXObject o = Object(code);
    Put(o, PX_OBJECT_X, x);
    Put(o, PX_OBJECT_Y, y);
    return o;
  }
  static PXObject LineObject(double x1, double y1, double x2, double y2) {
    PXObject o = PointObject(PX_OBJECT_LINE, x1, y1);
    Put(o, PX_OBJECT_X2, x2);
    Put(o, PX_OBJECT_Y2, y2);
    return o;
  }
  PXObject Polyline(std::vector<PXPoint> points) {
    PXObject o = Object(PX_OBJECT_POLYLINE);
    fake_.points.push_back(std::move(points));
    Put(o, PX_OBJECT_COUNT, int32_t(fake_.points.back().size()));
    Put(o, PX_OBJECT_POLYLINE_POINTS, fake_.points.back().data());
    return o;
  }
  PXObject Sectioned(uint8_t code, const std::vector<std::vector<PXPoint>>& parts) {
    PXObject o = Object(code);
    std::vector<PXSection> entries;
    for (const auto& part : parts) {
      fake_.points.push_back(part);
      entries.push_back({int32_t(part.size()), 0, fake_.points.back().data()});
    }
    fake_.sections.push_back(std::move(entries));
    Put(o, PX_OBJECT_COUNT, int32_t(parts.size()));
    Put(o,
        code == PX_OBJECT_REGION ? PX_OBJECT_REGION_POLYGONS : PX_OBJECT_MULTI_POLYLINE_SECTIONS,
        fake_.sections.back().data());
    return o;
  }

  FakeLibrary fake_;
};

// Every type code: the kinds boundary files hold become objects, the others
// are skipped, and record numbers stay the row numbers.
TEST_F(TabReadTest, EveryTypeCode) {
  fake_.fieldNames = {"Id", "LABEL", "Name"};
  AddRow(PointObject(PX_OBJECT_POINT, -78.5, 35.25));                      // 1
  AddRow(LineObject(-78, 35, -77.5, 35.5));                                // 2
  AddRow(Object(PX_OBJECT_ARC));                                           // 3
  AddRow(Polyline({{-79, 36}, {-79.5, 36.5}, {-80, 36}}));                 // 4
  AddRow(Sectioned(PX_OBJECT_REGION, {{{0, 1}, {2, 1}, {2, 3}, {0, 1}},   // 5
                                      {{10, 10}, {11, 10}, {11, 11}}}));
  for (int code : std::initializer_list<int>{PX_OBJECT_TEXT, PX_OBJECT_RECTANGLE, PX_OBJECT_ROUNDED_RECTANGLE,
                   PX_OBJECT_ELLIPSE, PX_OBJECT_MULTIPOINT, PX_OBJECT_COLLECTION, PX_OBJECT_NONE,
                   0})
    AddRow(Object(uint8_t(code)));                                                   // 6..13
  AddRow(Sectioned(PX_OBJECT_MULTI_POLYLINE, {{{1, 1}, {2, 2}}, {{3, 3}, {4, 4}, {5, 5}}}));  // 14
  AddRow(PointObject(PX_OBJECT_FONT_POINT, 4.35, -4.35));                  // 15
  AddRow(PointObject(PX_OBJECT_CUSTOM_POINT, 7, 8));                       // 16

  Init();
  ASSERT_EQ(pipImportOpenTAB(import_, "/maps/roads.TAB", "name", "label"), 1) << Detail();
  EXPECT_EQ(Code(), -1);  // no warning
  EXPECT_EQ(fake_.interfaceNumber, 6510u);
  EXPECT_EQ(fake_.openedPath, "/maps/roads.TAB");
  EXPECT_EQ(fake_.openMode, 1u);
  std::vector<Step> steps;
  std::vector<int32_t> statuses = ReadAll(&steps);
  EXPECT_EQ(statuses, (std::vector<int32_t>{1, 1, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 0}));
  // A skipped row names it too; a text value comes without its quotes, and
  // a doubled quote inside it is one quote of the name.
  EXPECT_EQ(steps[2].name, "Name \"3\"");
  EXPECT_EQ(steps[7].count, 8u);
  EXPECT_EQ(steps[7].percent, 50u);
  EXPECT_EQ(steps.back().percent, 100u);
  EXPECT_EQ(pipImportClose(import_), 1);
  EXPECT_EQ(fake_.closed, 1);
  EXPECT_EQ(fake_.shutdowns, 1);

  std::vector<Record> records = Finish().Records();
  ASSERT_EQ(records.size(), 7u);
  const uint32_t rows[] = {1, 2, 4, 5, 14, 15, 16};
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    EXPECT_EQ(records[i].recordNumber, rows[i]);
    EXPECT_EQ(records[i].name, "Name \"" + std::to_string(rows[i]) + "\"");
    EXPECT_EQ(records[i].name2, "Label " + std::to_string(rows[i]));
  }
  EXPECT_EQ(Point(records[0].x, records[0].y), Point(-78500000, 35250000));
  EXPECT_EQ(records[1].xy, (std::vector<Point>{{-78000000, 35000000}, {-77500000, 35500000}}));
  EXPECT_EQ(records[2].kind, 1);
  EXPECT_EQ(records[2].ringCounts, (std::vector<uint32_t>{3}));
  EXPECT_EQ(records[3].kind, 0);
  EXPECT_EQ(records[3].ringCounts, (std::vector<uint32_t>{3, 3}));
  EXPECT_EQ(records[3].xy[3], Point(10000000, 10000000));
  EXPECT_EQ(records[4].kind, 1);
  EXPECT_EQ(records[4].ringCounts, (std::vector<uint32_t>{5}));  // sections joined
  EXPECT_EQ(Point(records[5].x, records[5].y), Point(4350000, -4350000));
  EXPECT_EQ(Point(records[6].x, records[6].y), Point(7000000, 8000000));
}

// Degrees or millionths is one decision per shape.
TEST_F(TabReadTest, DegreesDecidedPerShape) {
  fake_.fieldNames = {"Id", "Label", "Name"};
  // Whole millionths stay as they are.
  AddRow(Sectioned(PX_OBJECT_REGION, {{{-78e6, 35e6}, {-77e6, 35e6}, {-77e6, 36e6}}}));
  // A vertex on the equator goes with the degrees of its shape.
  AddRow(Sectioned(PX_OBJECT_REGION, {{{10, 0}, {11, 1}, {12, 0}}}));
  AddRow(Polyline({{5, 0}, {6, 0}, {7, 0.5}}));
  Init();
  ASSERT_EQ(pipImportOpenTAB(import_, "t.tab", "Name", nullptr), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 1, 1, 0}));
  std::vector<Record> records = Finish().Records();
  EXPECT_EQ(records[0].xy[1], Point(-77000000, 35000000));
  EXPECT_EQ(records[1].xy,
            (std::vector<Point>{{10000000, 0}, {11000000, 1000000}, {12000000, 0}}));
  EXPECT_EQ(records[2].xy[0], Point(5000000, 0));
}

TEST_F(TabReadTest, BadRowsFailTheRead) {
  struct Case {
    const char* label;
    std::string text;  // empty: the default
    PXObject object;
    bool fetchFails;
    int32_t code;
    std::string detail;
  };
  PXObject negative = Object(PX_OBJECT_REGION);
  Put(negative, PX_OBJECT_COUNT, int32_t(-1));
  PXObject nullPoints = Object(PX_OBJECT_POLYLINE);
  Put(nullPoints, PX_OBJECT_COUNT, int32_t(2));
  const Case cases[] = {
      {"more values than fields", "a\tb\tc", PointObject(PX_OBJECT_POINT, 1, 1), false, 106,
       kTabInvalidRecordText},
      {"line on the equator", "", LineObject(1, 0, 2, 0), false, 100,
       std::string("Error: ") + kUndecidedLineText + "\nFile: t.tab\nRecord: 1"},
      {"coordinate too large", "", PointObject(PX_OBJECT_POINT, 1e300, 2e7), false, 100,
       "Error: Coordinate out of range.\nFile: t.tab\nRecord: 1"},
      {"negative count", "", negative, false, 100,
       "Error: Invalid object record.\nFile: t.tab\nRecord: 1"},
      {"points missing", "", nullPoints, false, 100,
       "Error: Invalid object record.\nFile: t.tab\nRecord: 1"},
      {"fetch fails", "", PointObject(PX_OBJECT_POINT, 1, 1), true, 100,
       "\nUPDATE:\tcan not fetch row #1 of t.tab.\n\tError #777.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fake_ = FakeLibrary();
    fake_.fieldNames = {"Name", "Other"};
    fake_.rows.push_back({c.text.empty() ? "x\ty" : c.text, c.object});
    fake_.fetchFailsAt = c.fetchFails ? 1 : 0;
    Init();
    ASSERT_EQ(pipImportOpenTAB(import_, "t.tab", "Name", nullptr), 1);
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{-1}));
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Detail(), c.detail);
    EXPECT_EQ(Read().status, -1);
  }
}

TEST_F(TabReadTest, OpenFailuresAndWarnings) {
  fake_.fieldNames = {"A", "B", "D"};
  AddRow(PointObject(PX_OBJECT_POINT, 1, 1));
  struct Case {
    const char* label;
    bool rowsFail, fieldsFail;
    const char* id;
    int32_t result, code;
    const char* detail;
  };
  const Case cases[] = {
      {"rows", true, false, "A", -1, 100, "\nUPDATE:\tcan not get number of rows.\n\tError #777.\n"},
      {"fields", false, true, "A", -1, 100,
       "\nUPDATE:\tcan not get number of fields.\n\tError #777.\n"},
      {"null id", false, false, nullptr, 1, 106, kTabIdNullText},
      {"unknown id", false, false, "C", 1, 106, kTabIdNotFoundText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fake_.rowCountFails = c.rowsFail;
    fake_.fieldCountFails = c.fieldsFail;
    fake_.closed = fake_.shutdowns = fake_.initialised = 0;
    Init();
    EXPECT_EQ(pipImportOpenTAB(import_, "t.tab", c.id, "B"), c.result);
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Detail(), c.detail);
    if (c.result == 1) {
      Step s = Read();
      EXPECT_EQ(s.status, 1);
      EXPECT_EQ(s.name, "1");  // the first field
    }
    pipImportClose(import_);
    EXPECT_EQ(fake_.initialised, 1);
    EXPECT_EQ(fake_.closed, 1);
    EXPECT_EQ(fake_.shutdowns, 1);
  }
}

// A table that does not open says so with the library's reason and the
// table's name, not with the failure of a count of no table.
TEST_F(TabReadTest, TableThatDoesNotOpenIsNamed) {
  TabReadEntries() = LayerioLibraryEntries();
  Init();
  const std::string path = dir_.File("t.tab");
  EXPECT_EQ(pipImportOpenTAB(import_, path.c_str(), "Name", nullptr), -1);
  EXPECT_EQ(Code(), 100);
  EXPECT_EQ(Detail(), "\nUPDATE:\tcan not open " + path + ".\n\tError #370.\n");
  EXPECT_EQ(Read().status, -1);
  pipImportClose(import_);
  // The reader's initialisation was matched by its shutdown.
  EXPECT_EQ(PXGetLastError(), PX_ERROR_NOT_INITIALISED);
}

// Through the real library: a projected table's objects are read in
// longitude and latitude, converted by the library, and a non-earth table
// is refused, since it cannot be placed on the earth at all.
TEST_F(TabReadTest, ObjectsAreReadInLongitudeAndLatitude) {
  TabReadEntries() = LayerioLibraryEntries();
  struct Case {
    const char* label;
    const char* clause;
    bool opens;
  } cases[] = {
      {"longitude/latitude", "CoordSys Earth Projection 1, 104", true},
      {"Lambert conformal conic in metres",
       "CoordSys Earth Projection 3, 74, \"m\", -79, 33.75, 34.3333333333, 36.1666666667, "
       "609601.22, 0",
       true},
      {"non-earth", "CoordSys NonEarth Units \"m\" Bounds (0, 0) (1000000, 1000000)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir_.File(std::string("t") + std::to_string(&c - cases) + ".TAB");
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
    PXCoordSys table{}, lonLat{};
    ASSERT_EQ(PXParseCoordSys(c.clause, &table), 1) << PXGetLastError();
    ASSERT_EQ(PXParseCoordSys("CoordSys Earth Projection 1, 104", &lonLat), 1);
    PXFieldInfo field{};
    std::strcpy(field.name, "Name");
    field.type = 1;
    field.width = 10;
    PXTableHandle h = PXCreateTable(path.c_str(), &field, 1, &table, 5);
    ASSERT_NE(h, 0) << PXGetLastError();
    // Raleigh, handed over in degrees where the table is on the earth and in
    // the table's units where it is not.
    PXObject point = PointObject(PX_OBJECT_POINT, -78.6382, 35.7796);
    if (c.opens) {
      ASSERT_EQ(PXSetApiCoordSys(h, &lonLat), 1) << PXGetLastError();
    } else {
      point = PointObject(PX_OBJECT_POINT, 250000, 750000);
    }
    uint32_t row = 0;
    ASSERT_EQ(PXInsertRow(h, "\"Raleigh\"", &point, &row), 1) << PXGetLastError();
    ASSERT_EQ(PXCloseTable(h), 1);
    ASSERT_EQ(PXShutdown(), 1);

    Init();
    if (!c.opens) {
      EXPECT_EQ(pipImportOpenTAB(import_, path.c_str(), "Name", nullptr), -1);
      EXPECT_EQ(Code(), 106);
      EXPECT_EQ(Detail(), "Error: " + path +
                              " is in a non-earth coordinate system. The input must be in degrees "
                              "of longitude and latitude.\n");
      pipImportClose(import_);
      continue;
    }
    ASSERT_EQ(pipImportOpenTAB(import_, path.c_str(), "Name", nullptr), 1) << Detail();
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0}));
    std::vector<Record> records = Finish().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NEAR(records[0].x, -78638200, 2);
    EXPECT_NEAR(records[0].y, 35779600, 2);
  }
  EXPECT_EQ(PXGetLastError(), PX_ERROR_NOT_INITIALISED);
}

}  // namespace
