// The map-table builder over a stand-in for the map-table library: the same
// stand-in serves the boundary engine's map-table reader, so a whole build
// runs through the importer.
#include "builder/tabbuild.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "boundary/readtab.h"
#include "builder/console.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;

struct FakeLibrary {
  struct Field {
    std::string name;
    uint8_t type, width;
  };
  std::vector<Field> fields;
  std::vector<std::string> rows;
  bool openFails = false;
  bool rowCountFails = false;
  uint32_t fetchFailsAt = 0;
  int initialised = 0, shutdowns = 0, opened = 0, closed = 0;
};
FakeLibrary* g_fake = nullptr;
constexpr PXTableHandle kTable = 9;

uint16_t FakeInitialize(uint32_t number) {
  g_fake->initialised += number == PX_INTERFACE_NUMBER;
  return number == PX_INTERFACE_NUMBER;
}
uint16_t FakeShutdown() {
  ++g_fake->shutdowns;
  return 1;
}
PXTableHandle FakeOpen(const char*, uint32_t mode) {
  if (g_fake->openFails) return 0;
  ++g_fake->opened;
  return mode == PX_OPEN_READ ? kTable : 0;
}
uint16_t FakeClose(PXTableHandle t) {
  g_fake->closed += t == kTable;
  return 1;
}
uint16_t FakeRowCount(PXTableHandle t, uint32_t* rows) {
  if (t != kTable || g_fake->rowCountFails) return 0;
  *rows = uint32_t(g_fake->rows.size());
  return 1;
}
uint16_t FakeFieldCount(PXTableHandle t, uint32_t* fields) {
  if (t != kTable) return 0;
  *fields = uint32_t(g_fake->fields.size());
  return 1;
}
uint16_t FakeObjectCounts(PXTableHandle, uint32_t* points, uint32_t* lines, uint32_t* regions) {
  if (points) *points = uint32_t(g_fake->rows.size());
  if (lines) *lines = 0;
  if (regions) *regions = 0;
  return 1;
}
uint16_t FakeFieldInfo(PXTableHandle t, PXFieldInfo* fields) {
  if (t != kTable) return 0;
  for (size_t i = 0; i < g_fake->fields.size(); ++i) {
    fields[i] = PXFieldInfo{};
    std::snprintf(fields[i].name, sizeof fields[i].name, "%s", g_fake->fields[i].name.c_str());
    fields[i].type = g_fake->fields[i].type;
    fields[i].width = g_fake->fields[i].width;
  }
  return 1;
}
// Every row's object is a point at (row, row) degrees.
uint16_t FakeFetch(PXTableHandle t, uint32_t row, char* text, PXObject* object) {
  if (t != kTable || row == 0 || row > g_fake->rows.size() || row == g_fake->fetchFailsAt)
    return 0;
  if (text) std::snprintf(text, PX_ROW_TEXT_SIZE, "%s", g_fake->rows[row - 1].c_str());
  if (object) {
    *object = PXObject{};
    object->u.bytes[0] = PX_OBJECT_POINT;
    const double xy[2] = {double(row), double(row)};
    std::memcpy(object->u.bytes + PX_OBJECT_X, &xy[0], 8);
    std::memcpy(object->u.bytes + PX_OBJECT_Y, &xy[1], 8);
  }
  return 1;
}
int32_t FakeLastError() { return 777; }
// The fake's tables have no map part: their objects cross unconverted.
uint16_t FakeNoMapPart(PXTableHandle, PXCoordSys*) { return 0; }

class TabBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    TabBuilderEntries() = {FakeInitialize, FakeShutdown, FakeOpen,      FakeRowCount, FakeFieldCount,
                           FakeFieldInfo,  FakeFetch,    FakeLastError, FakeClose};
    TabReadEntries() = {FakeInitialize, FakeOpen,       FakeRowCount, FakeLastError, FakeFieldCount,
                        FakeObjectCounts, FakeFieldInfo, FakeFetch,    FakeClose,     FakeShutdown,
                        FakeNoMapPart,    PXParseCoordSys, PXConvertObject};
    input_ = dir_.Write("roads.tab", "");
    output_ = dir_.File("out.gsb");
  }
  void TearDown() override {
    TabBuilderEntries() = LayerioTabEntries();
    TabReadEntries() = LayerioLibraryEntries();
    g_fake = nullptr;
  }

  // Runs a build; what it printed goes to out.
  bool Build(std::string* out, bool* opened = nullptr) {
    return buildertest::BuildInProcess(input_, output_, "NAME", out, opened);
  }

  FakeLibrary fake_;
  TempDir dir_;
  std::string input_, output_;
};

TEST_F(TabBuilderTest, RowsBecomeAttributeRecordsByRowNumber) {
  fake_.fields = {{"ID", 3, 0}, {"NAME", 1, 40}, {"VAL", 8, 12}, {"DAY", 5, 8}};
  fake_.rows = {"1\t\"Main \"\"A\"\" St\"\t12.5\t\"19990105\"",
                "",  // a row without values keeps its record number
                "3\t\"a, b\"\t\t\"x\"", "4\t\"short\""};
  std::string out;
  ASSERT_TRUE(Build(&out)) << out;
  EXPECT_EQ(out.substr(0, out.find("Opened")),
            "Opening " + input_ + "\nnumber of rows     = 4\nnumber of fields   = 4\n");
  EXPECT_EQ(fake_.initialised, fake_.shutdowns);
  EXPECT_EQ(fake_.opened, fake_.closed);

  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir_.File("out.gsa").c_str());
  ASSERT_NE(file, nullptr);
  const struct {
    const char* name;
    int width;
  } fields[] = {{"ID", 20}, {"NAME", 40}, {"VAL", 21}, {"DAY", 8}};
  for (const auto& f : fields) {
    DlField* field = DlFieldGet(file, f.name);
    ASSERT_NE(field, nullptr) << f.name;
    EXPECT_EQ(DlFieldGetAttribute(field, 2, nullptr, 0), f.width) << f.name;
    EXPECT_EQ(DlFieldGetAttribute(field, 10, nullptr, 0), 'C') << f.name;
  }
  const std::vector<std::vector<std::string>> want = {
      {"1", "Main \"A\" St", "12.5", "19990105"},
      {"", "", "", ""},
      {"3", "a, b", "", "x"},
      {"4", "short", "", ""},
  };
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(DlFileSearchInt(file, int32_t(r + 1)), 1) << r;
    for (size_t f = 0; f < 4; ++f) {
      char text[64];
      ASSERT_EQ(DlFieldGetString(DlFieldGet(file, fields[f].name), nullptr, text, 63), 1);
      EXPECT_EQ(std::string(text), want[r][f]) << "row " << r + 1 << " " << fields[f].name;
    }
  }
  DlTerm(context);
}

TEST_F(TabBuilderTest, ExtendedCharactersFailTheBuild) {
  fake_.fields = {{"NAME", 1, 20}};
  fake_.rows = {"\"plain\"", "\"Caf\xE9\""};
  ASSERT_TRUE(BuildLogOpen(dir_.File("out.gsb.log")));
  std::string out;
  EXPECT_FALSE(Build(&out));
  BuildLogClose();
  EXPECT_NE(out.find("ERROR: gsbbuild failed. Extended ASCII characters are not supported.\n"
                     "Record 2, field NAME, has extended ASCII characters:\n \"Caf\xE9\"\n"
                     "1 records have extended ASCII characters.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(ReadAll(dir_.File("out.gsb.log")),
            "ERROR: gsbbuild failed. extended ASCII characters are not supported.\n"
            "Record 2, field NAME, has extended ASCII characters:\n \"Caf\xE9\"\n"
            "1 records have extended ASCII characters.\n");
  EXPECT_FALSE(std::filesystem::exists(output_));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.gsa")));
  EXPECT_EQ(fake_.opened, fake_.closed);
}

TEST_F(TabBuilderTest, LibraryFailures) {
  fake_.fields = {{"NAME", 1, 20}};
  fake_.rows = {"\"a\"", "\"b\""};
  std::string out;
  fake_.rowCountFails = true;
  bool opened = true;
  EXPECT_FALSE(Build(&out, &opened));
  EXPECT_FALSE(opened);
  EXPECT_EQ(out, "Opening " + input_ + "\nCan not get number of rows.\n\tError #777.\n");
  EXPECT_FALSE(std::filesystem::exists(output_));

  // A table that does not open says so, with the library's reason, rather
  // than failing on the counts of no table.
  fake_.rowCountFails = false;
  fake_.openFails = true;
  EXPECT_FALSE(Build(&out, &opened));
  EXPECT_FALSE(opened);
  EXPECT_EQ(out, "Opening " + input_ + "\nCan not open " + input_ + ".\n\tError #777.\n");
  EXPECT_FALSE(std::filesystem::exists(output_));

  fake_.openFails = false;
  fake_.fetchFailsAt = 2;  // the engine's reader fails first
  EXPECT_FALSE(Build(&out, &opened));
  EXPECT_TRUE(opened);
  EXPECT_NE(out.find("Error inserting into GSB file.\nProcess halting.\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(output_));
  EXPECT_EQ(fake_.opened, fake_.closed);
  EXPECT_EQ(fake_.initialised, fake_.shutdowns);
}

// A map table made through the library with a column of each number type:
// its row texts, and the attribute file gsbbuild builds of it, give back
// every digit the column types hold.
TEST(TabBuildNumbersTest, AttributeFileKeepsEveryDigitOfEachNumberType) {
  TempDir dir;
  const std::string tab = dir.File("nums.TAB");
  const std::vector<std::vector<std::string>> rows = {
      {"a", "0.1234567", "2.440629", "2147483647", "32767"},
      {"b", "-12345678.901234", "1234567890.123456", "-2147483648", "-32768"},
      {"c", "6.02214076e+23", "-999999999.000001", "-2147483647", "0"},
      // The widest 14-digit form of a Float.
      {"d", "-1.2345678901234e-100", "0.000001", "1", "1"},
  };
  {
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
    struct Shutdown {
      ~Shutdown() { PXShutdown(); }
    } shutdown;
    PXCoordSys lonLat{};
    ASSERT_EQ(PXParseCoordSys("CoordSys Earth Projection 1, 104", &lonLat), 1);
    const struct {
      const char* name;
      uint8_t type, width, decimals;
    } columns[] = {{"NAME", 1, 8, 0}, {"F", 8, 0, 0}, {"D", 2, 20, 6}, {"I", 3, 0, 0},
                   {"S", 4, 0, 0}};
    std::vector<PXFieldInfo> fields;
    for (const auto& c : columns) {
      PXFieldInfo f{};
      std::snprintf(f.name, sizeof f.name, "%s", c.name);
      f.type = c.type;
      f.width = c.width;
      f.decimals = c.decimals;
      fields.push_back(f);
    }
    PXTableHandle table = PXCreateTable(tab.c_str(), fields.data(), uint32_t(fields.size()),
                                        &lonLat, 5);
    ASSERT_NE(table, 0) << PXGetLastError();
    for (size_t r = 0; r < rows.size(); ++r) {
      std::string text = "\"" + rows[r][0] + "\"";
      for (size_t k = 1; k < rows[r].size(); ++k) text += "\t" + rows[r][k];
      PXObject point{};
      point.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POINT;
      const double xy[2] = {-80.0 + double(r), 35.0};
      const int16_t size = 8;
      std::memcpy(point.u.bytes + PX_OBJECT_X, &xy[0], 8);
      std::memcpy(point.u.bytes + PX_OBJECT_Y, &xy[1], 8);
      std::memcpy(point.u.bytes + PX_OBJECT_SYMBOL + PX_SYMBOL_SIZE, &size, 2);
      uint32_t added = 0;
      ASSERT_EQ(PXInsertRow(table, text.c_str(), &point, &added), 1) << PXGetLastError();
      char back[PX_ROW_TEXT_SIZE];
      ASSERT_EQ(PXFetchRow(table, added, back, nullptr), 1);
      EXPECT_EQ(std::string(back), text);
    }
    ASSERT_EQ(PXCloseTable(table), 1);
  }
  const buildertest::Outcome run = buildertest::RunGsbbuild(dir.path(), {tab, "nums.gsb", "NAME"});
  ASSERT_EQ(run.status, 1) << run.out;

  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("nums.gsa").c_str());
  ASSERT_NE(file, nullptr);
  const char* const names[] = {"NAME", "F", "D", "I", "S"};
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_EQ(DlFileSearchInt(file, int32_t(r + 1)), 1) << r;
    for (size_t k = 0; k < rows[r].size(); ++k) {
      char text[64];
      ASSERT_EQ(DlFieldGetString(DlFieldGet(file, names[k]), nullptr, text, 63), 1);
      EXPECT_EQ(std::string(text), rows[r][k]) << "row " << r + 1 << " " << names[k];
    }
  }
  DlTerm(context);
}

}  // namespace
