// The definition reader: header lines, the clause language, Type and Fields,
// query definitions and PXGetQueryInfo, staleness, paths beside the
// definition, companion files, and damaged definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mapfile/foundation/date.h"
#include "mapfile/foundation/token.h"
#include "mapfile/objects/objstore.h"

#include "layerio.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"
#include "platform/env.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/tabdef_fixture.h"

namespace {

using namespace layerio;
namespace fs = std::filesystem;

struct Col {
  const char* name;
  uint8_t type;
  uint8_t width;
  uint8_t decimals;
};

// The argument texts of the first record of a code, "<none>" without one.
std::string Arg(int code, int which) {
  const ErrorStack& st = *State().errors;
  for (int i = 0; i < kErrorRecordCount && st.records[i].code; ++i) {
    if (st.records[i].code != code) continue;
    const ErrorRecord::Slot& slot = which ? st.records[i].arg1 : st.records[i].arg0;
    return slot.length ? std::string(st.text + slot.offset) : std::string();
  }
  return "<none>";
}

using tabdef_fixture::Pushed;

// Fails any test that changes the process's current directory.
class NoChdirEnv : public platform::EnvWrapper {
 public:
  NoChdirEnv() : platform::EnvWrapper(platform::Env::Current()) {}
  int ChangeDirectory(std::string_view path) override {
    ADD_FAILURE() << "current directory changed to " << path;
    return -1;
  }
};

class TabReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
    ASSERT_FALSE(dir_.path().empty());
    cwd_ = fs::current_path();
  }
  void TearDown() override {
    CloseAll();
    EXPECT_EQ(fs::current_path(), cwd_);
    PXShutdown();
  }

  std::string PathOf(const std::string& name) const { return dir_.path() + "/" + name; }

  void Write(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(PathOf(name)).parent_path());
    std::ofstream(PathOf(name), std::ios::binary) << text;
  }

  // A data file of a kind made by its driver: `name` without extension, in
  // the test folder (a sub-folder may be given in the name).
  void MakeData(const std::string& name, uint8_t kind, const std::vector<Col>& cols,
                int rows = 0) {
    fs::create_directories(fs::path(PathOf(name)).parent_path());
    std::vector<FieldDef> fields = tabdef_fixture::FieldsOf(cols);
    DataSource s;
    std::memset(&s, 0, sizeof s);
    ASSERT_TRUE(DataSourceCreate(PathOf(name).c_str(), nullptr, -1, 0, &s, kind,
                                 int32_t(fields.size()), fields.data(), nullptr, 0));
    ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
    for (int r = 0; r < rows; ++r) {
      ColumnValuesBlank(fields.data(), int32_t(fields.size()));
      uint32_t row = 0;
      ASSERT_TRUE(DataSourceInsert(&s, fields.data(), &row));
    }
    tabdef_fixture::FinishData(&s, fields);
  }

  // Reads a definition; null when the reader gave no table.
  TableObject* Open(const std::string& name) {
    TableObject* t = tabdef_fixture::OpenDefinition(PathOf(name));
    if (!t) return nullptr;
    open_.push_back(t);
    return t;
  }
  void CloseAll() {
    for (TableObject* t : open_) Close(t);
    open_.clear();
  }
  void Close(TableObject* t) {
    FileHandle file = t->defFile;
    TableClose(t);
    FileRelease(file);
  }

  testsupport::TempDir dir_;
  fs::path cwd_;
  std::vector<TableObject*> open_;
};

const std::vector<Col> kCityCols = {{"Name", kFieldChar, 20, 0}, {"Pop", kFieldInteger, 4, 0}};
const char kCityFields[] =
    "  Fields 2\n"
    "    Name Char (20) ;\n"
    "    Pop Integer ;\n";

std::string NativeDef(const std::string& extra = "", const std::string& header = "") {
  return "!table\n!version 300\n!charset WindowsLatin1\n" + header +
         "\nDefinition Table\n  Type NATIVE Charset \"WindowsLatin1\"\n" + kCityFields + extra;
}

// ----- header lines -----

struct HeaderCase {
  const char* name;
  std::string text;
  bool opens;
  int code;  // 0: no error at all
  const char* arg1;
};

TEST_F(TabReadTest, HeaderLines) {
  MakeData("t", kDataNative, kCityCols);
  const HeaderCase cases[] = {
      {"workspace", "!Workspace\n!Version 600\n!Charset WindowsLatin1\n", false, 0, nullptr},
      {"no version", "!table\n!charset WindowsLatin1\n", false, kErrDefNotDefinition, nullptr},
      {"one line", "!table\n", false, kErrDefNotDefinition, nullptr},
      {"empty", "", false, kErrDefNotDefinition, nullptr},
      {"851", "!table\n!version 851\n" + std::string(kCityFields), false, kErrDefVersion, "8.51"},
      {"huge", "!table\n!version 99999999999999\n", false, kErrDefVersion, "327.67"},
      {"850", "!table\n!version 850\n\nDefinition Table\n Type NATIVE\n" + std::string(kCityFields),
       true, -1, nullptr},
      {"charset", "!table\n!version 300\n!charset Klingon\n", false, kErrCharsetCode, nullptr},
      {"upper", "!TABLE\n!VERSION 300\n!CHARSET neutral\n\nDEFINITION TABLE\n TYPE NATIVE\n" +
                    std::string(kCityFields),
       true, -1, nullptr},
      {"long line", "!table" + std::string(300, ' ') + "x\n!version 300\n\nDefinition Table\n" +
                        std::string(kCityFields),
       true, -1, nullptr},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    Write("t.tab", c.text);
    TableObject* t = Open("t.tab");
    EXPECT_EQ(t != nullptr, c.opens);
    if (c.code == 0) {
      EXPECT_EQ(ErrorCount(), 0);
    }
    if (c.code > 0) {
      EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
    }
    if (c.arg1) {
      EXPECT_EQ(Arg(c.code, 1), c.arg1);
    }
    CloseAll();
  }
}

TEST_F(TabReadTest, VersionLines) {
  MakeData("t", kDataNative, kCityCols);
  struct {
    const char* header;
    int versions[3];
    uint8_t editState;
  } cases[] = {
      {"", {300, 300, 300}, 0},
      {"!edit_version 900\n", {300, 300, 900}, 255},
      {"!readentire_version 450\n", {300, 450, 450}, 0},
      {"!readentire_version 450\n!edit_version 650\n", {300, 450, 650}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    Write("t.tab", NativeDef("", c.header));
    TableObject* t = Open("t.tab");
    ASSERT_NE(t, nullptr) << ErrorLastCode();
    EXPECT_EQ(t->version, c.versions[0]);
    EXPECT_EQ(t->readEntireVersion, c.versions[1]);
    EXPECT_EQ(t->editVersion, c.versions[2]);
    EXPECT_EQ(t->editState, c.editState);
    CloseAll();
  }
}

// ----- clauses without a data file -----

// Runs clauses over a fresh table object, as a definition's body.
class ClauseTest : public TabReadTest {
 protected:
  void SetUp() override {
    TabReadTest::SetUp();
    std::memset(&parse_, 0, sizeof parse_);
    parse_.allowTable = 1;
    parse_.quiet = 1;
    SetUpTable();
  }
  void SetUpTable() {
    parse_.table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
    std::memset(static_cast<void*>(parse_.table), 0, sizeof *parse_.table);
    parse_.table->source.kind = kDataNative;
  }
  void TearDown() override {
    MetadataFree(parse_.metadata);
    TableClose(parse_.table);
    TabReadTest::TearDown();
  }
  bool Run(const std::string& text) {
    ErrorClear();
    return ClauseStreamRun(text.c_str(), nullptr, 3, &parse_) != 0;
  }
  TableObject& T() { return *parse_.table; }
  DefParse parse_;
};

TEST_F(ClauseTest, TypeWords) {
  struct {
    const char* clause;
    bool ok;
    int code;
    uint8_t kind;
  } cases[] = {
      {"Type ASCII", true, 0, kDataText},
      {"Type WKS Titles Range \"A1:C9\"", true, 0, kDataLotus},
      {"Type XLS Titles Range \"A1:C9\" Interactive", true, 0, kDataExcel},
      {"Type DBF Charset \"WindowsLatin1\" Charset \"neutral\"", true, 0, kDataDbase},
      {"Type native", true, 0, kDataNative},
      {"Type ODBC", true, 0, kDataRemote},
      {"Type SHAPEFILE Charset \"WindowsLatin1\"", true, 0, kDataDbase},
      {"Type ACCESS Table \"Roads\" Password \"x\" Charset \"WindowsLatin1\"", true, 0,
       kDataAccess},
      {"Type ACCESS Charset \"WindowsLatin1\"", false, kErrDefString, 0},
      {"Type LINKED Charset \"WindowsLatin1\"", true, 0, kDataNative},
      {"Type WFS", true, 0, kDataNative},
      {"Type QUERY", false, kErrDefQuery, kDataQuery},
      {"Type RASTER", false, kErrDefRaster, 0},
      {"Type wms", false, kErrDefRaster, 0},
      {"Type PARQUET", false, kErrDefTableType, 0},
      {"Type 12", false, kErrDefTypeWord, 0},
      {"Type", false, kErrDefTypeWord, 0},
      {"Type DBF Charset \"Klingon\"", false, kErrCharsetCode, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clause);
    DataSourceFreeRange(&T().source);
    T().source.kind = 0;
    EXPECT_EQ(Run(std::string("Definition Table\n  ") + c.clause + "\n"), c.ok);
    if (c.code) {
      EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
    }
    if (c.kind) {
      EXPECT_EQ(T().source.kind, c.kind);
    }
    // The worksheets keep their range for the source.
    if (c.kind == kDataLotus || c.kind == kDataExcel) {
      ASSERT_NE(T().source.params.ptr[2], nullptr);
      EXPECT_STREQ(static_cast<const char*>(T().source.params.ptr[2]), "A1:C9");
    }
  }
}

TEST_F(ClauseTest, TypeFlagsAndParameters) {
  ASSERT_TRUE(Run("Definition Table Type SHAPEFILE"));
  EXPECT_EQ(T().source.shapeFile, 1);
  EXPECT_EQ(T().editState, 255);

  T().editState = 0;
  ASSERT_TRUE(Run("Definition Table Type WFS"));
  EXPECT_EQ(T().webFeature, 1);
  EXPECT_EQ(parse_.webFeature, 1);
  EXPECT_EQ(T().editState, 255);

  ASSERT_TRUE(Run("Definition Table Type LINKED"));
  EXPECT_EQ(T().linked, 1);

  ASSERT_TRUE(Run("Definition Table Type DBF Charset \"MAC\""));
  EXPECT_EQ(T().source.params.words[2], uint32_t(CharsetFromName("MAC")));
  ASSERT_TRUE(Run("Definition Table Type NATIVE"));
  EXPECT_EQ(T().source.params.words[2], uint32_t(CurrentTableCharset()));

  // The delimiter: a code, a string's first character, or TAB for "".
  struct {
    const char* options;
    uint8_t delimiter;
    uint8_t titles;
  } delimiters[] = {
      {"", '\t', 0},
      {"Delimiter \"\"", '\t', 0},
      {"Delimiter 59", ';', 0},
      {"Delimiter \",\" Titles", ',', 1},
      {"Titles Delimiter \"|x\"", '|', 1},
      {"Delimiter 9 Charset \"neutral\" Titles", '\t', 1},
  };
  for (const auto& d : delimiters) {
    SCOPED_TRACE(d.options);
    ASSERT_TRUE(Run(std::string("Definition Table Type ASCII ") + d.options));
    EXPECT_EQ(T().source.params.Byte(8), d.delimiter);
    EXPECT_EQ(T().source.params.Byte(9), d.titles);
  }
}

TEST_F(ClauseTest, FieldLines) {
  ASSERT_TRUE(Run("Definition Table\n Fields 7\n"
                  "  A Decimal (25, 30) ;\n"
                  "  B Char (0) ;\n"
                  "  C Char (300) ReadOnly ;\n"
                  "  D Decimal (1, 5) ;\n"
                  "  E Integer Autokey ;\n"
                  "  F Float extra words here ;\n"
                  "  G Logical ;\n"));
  ASSERT_EQ(T().fieldCount, 7u);
  struct {
    const char* name;
    uint8_t type, width, decimals, readOnly, autokey;
  } expected[] = {
      {"A", kFieldDecimal, 20, 18, 0, 0}, {"B", kFieldChar, 1, 0, 0, 0},
      {"C", kFieldChar, 254, 0, 1, 0},    {"D", kFieldDecimal, 1, 0, 0, 0},
      {"E", kFieldInteger, 4, 0, 1, 1},   {"F", kFieldFloat, 8, 0, 0, 0},
      {"G", kFieldLogical, 1, 0, 0, 0},
  };
  for (uint32_t i = 0; i < 7; ++i) {
    const FieldDef& f = T().fields[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(f.name, expected[i].name);
    EXPECT_EQ(f.value.kind, expected[i].type);
    EXPECT_EQ(f.width, expected[i].width);
    EXPECT_EQ(f.decimals, expected[i].decimals);
    EXPECT_EQ(f.readOnly, expected[i].readOnly);
    EXPECT_EQ(f.autokey, expected[i].autokey);
  }
}

TEST_F(ClauseTest, BrokenFieldClauses) {
  struct {
    const char* name;
    const char* text;
    int code;
  } cases[] = {
      {"fewer lines", "Definition Table Fields 3\n A Char (5) ;\n B Integer ;\n", 615},
      {"no count", "Definition Table Fields\n A Char (5) ;\n", 615},
      {"negative", "Definition Table Fields -1\n", 615},
      {"huge", "Definition Table Fields 1e300\n", 877},
      {"bad name", "Definition Table Fields 1\n \"A B\" Char (5) ;\n", kErrDefIdentifier},
      {"bad type", "Definition Table Fields 1\n A Text (5) ;\n", kErrDefTypeWord},
      {"no width", "Definition Table Fields 1\n A Char ;\n", 615},
      {"huge width", "Definition Table Fields 1\n A Char (1e308) ;\n", 0},
      {"twice", "Definition Table Fields 0 Fields 0\n", kErrDefClauseHere},
      {"cut", "Definition Table Fields 1\n A Decimal (5, ", 615},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TableClose(parse_.table);
    SetUpTable();
    bool ok = Run(c.text);
    if (c.code) {
      EXPECT_FALSE(ok);
      EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
    } else {
      EXPECT_TRUE(ok) << ErrorLastCode();
    }
  }
}

TEST_F(ClauseTest, DefinitionParts) {
  ASSERT_TRUE(Run("Definition Table\n  File \"data\\cities.dat\"\n"
                  "  Description \"Big \"\"old\"\" cities\"\n"
                  "  Frobnicate 12 \"whatever\" (1, 2)\n"
                  "  ReadOnly\n  Type NATIVE\n"));
  EXPECT_STREQ(parse_.dataFile, "data\\cities.dat");
  ASSERT_NE(T().description, nullptr);
  EXPECT_STREQ(T().description, "Big \"old\" cities");
  EXPECT_EQ(T().readOnly, 1);
  EXPECT_EQ(parse_.kind, kDefTable);

  // Clauses the dispatcher does not know end the run with 599.
  EXPECT_FALSE(Run("Frobnicate Table"));
  EXPECT_EQ(Arg(kErrDefUnknownClause, 0), "Frobnicate");
  EXPECT_FALSE(Run("CompressedPoints"));
  EXPECT_TRUE(Pushed(kErrDefCompressed));
  EXPECT_FALSE(Run("Definition Frobnicate"));
  EXPECT_TRUE(Pushed(615));

  // Without leave to read a table definition, or while only checking syntax.
  parse_.allowTable = 0;
  EXPECT_FALSE(Run("Definition Table Type NATIVE"));
  EXPECT_EQ(Arg(kErrDefClauseHere, 0), "definition");
  EXPECT_FALSE(StatementRun("Definition Table Type NATIVE", 0));
}

TEST_F(ClauseTest, CoordSysClauses) {
  struct {
    const char* clause;
    bool ok;
    int16_t projection;
  } cases[] = {
      {"CoordSys Earth Projection 1, 104", true, 1},
      {"CoordSys Earth Projection 1, 104 Bounds (-180, -90) (180, 90)", true, 1},
      {"CoordSys Earth Projection 8, 104, \"m\", 3, 0, 0.9996, 500000, 0 "
       "Bounds (-7745874.38, -9997964.94) (8745874.38, 9997964.94)",
       true, 8},
      {"CoordSys NonEarth Units \"m\" Bounds (0, 0) (100, 100)", true, 0},
      {"CoordSys Earth Projection 1, 104 Affine Units \"m\", 1, 0, 10, 0, 1, 20", true, 1},
      {"CoordSys NonEarth Units \"m\"", false, 0},
      {"CoordSys Earth Projection", false, 0},
      {"CoordSys Moon", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clause);
    parse_.mapPresent = 0;
    EXPECT_EQ(Run(std::string("Definition Table Type NATIVE Charset \"neutral\" ") + c.clause),
              c.ok);
    EXPECT_EQ(parse_.mapPresent, c.ok ? 1 : 0);
    if (c.ok) {
      EXPECT_EQ(parse_.mapCoordSys.projection, c.projection);
    }
  }
  ASSERT_TRUE(Run("Definition Table Type NATIVE CoordSys Earth Projection 1, 104 "
                  "Bounds (-10, -5) (10, 5)"));
  CoordSys expected;
  ASSERT_TRUE(CoordSysParseText(&expected, "CoordSys Earth Projection 1, 104 Bounds (-10, -5) "
                                "(10, 5)", true));
  EXPECT_EQ(parse_.mapCoordSys.scaleX, expected.scaleX);
  EXPECT_EQ(parse_.mapCoordSys.offsetY, expected.offsetY);
}

TEST_F(ClauseTest, MetadataSection) {
  std::string long1(500, 'a'), long2(500, 'b');
  for (size_t i = 0; i < 500; i += 7) long1[i] = char('0' + i % 10);
  std::string text = "Definition Table Type NATIVE\nbegin_metadata\n"
                     "\"\\IsReadOnly\" = \"FALSE\"\n"
                     "\"\\Long\" = \"" + long1.substr(0, 237) + "\"\n"
                     "\"\\Long\\+1\" = \"" + long1.substr(237, 237) + "\"\n"
                     "\"\\Long\\+2\" = \"" + long1.substr(474) + "\"\n"
                     "\"\\Group\\Other\" = \"" + long2.substr(0, 237) + "\"\n"
                     "end_metadata\n";
  ASSERT_TRUE(Run(text)) << ErrorLastCode();
  ASSERT_NE(parse_.metadata, nullptr);
  char out[1024];
  EXPECT_EQ(MetadataGet(parse_.metadata, "\\Long", out, sizeof out), 500);
  EXPECT_EQ(std::string(out), long1);
  EXPECT_EQ(parse_.readOnly, 0);

  EXPECT_FALSE(Run("begin_metadata \"\\Key\" \"value\" end_metadata"));
  EXPECT_TRUE(Pushed(615));
}

// ----- whole definitions -----

TEST_F(TabReadTest, NativeTableWithRelativePathsAndCase) {
  NoChdirEnv env;
  platform::ScopedEnv scoped(env);
  // The data lies in a sub-folder named with "\" and in another case.
  MakeData("sub/Data/Cities", kDataNative, kCityCols, 3);
  fs::rename(PathOf("sub/Data/Cities.DAT"), PathOf("sub/Data/cities.dat"));
  Write("sub/cities.tab",
        NativeDef("  Description \"Cities\"\n  File \"Data\\CITIES.DAT\"\n"
                  "  ReadOnly\n"));
  TableObject* t = Open("sub/cities.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode() << " " << Arg(ErrorLastCode(), 0);
  EXPECT_STREQ(t->name, "cities");
  EXPECT_EQ(t->fieldCount, 2u);
  EXPECT_EQ(t->rowCount, 3u);
  EXPECT_EQ(t->source.kind, kDataNative);
  EXPECT_GT(t->source.file, 0);
  EXPECT_STREQ(t->description, "Cities");
  EXPECT_EQ(t->readOnly, 1);
  ASSERT_NE(t->metadata, nullptr);
  EXPECT_TRUE(MetadataIsEmpty(t->metadata));
  EXPECT_EQ(t->store, nullptr);

  CompanionFile files[5];
  ASSERT_EQ(CompanionFileList(t, files), 2);
  EXPECT_EQ(files[0].path, PathOf("sub/cities.tab"));
  EXPECT_EQ(files[0].kind, uint32_t(kFileKindTable));
  EXPECT_EQ(files[1].path, PathOf("sub/Data/cities.dat"));
  EXPECT_EQ(files[1].kind, uint32_t(kFileKindNative));
}

TEST_F(TabReadTest, DefaultDataFileIsFoundInEitherCase) {
  MakeData("roads", kDataDbase, kCityCols, 2);
  fs::rename(PathOf("roads.DBF"), PathOf("roads.dbf"));
  Write("ROADS.TAB", "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                     "  Type DBF Charset \"WindowsLatin1\"\n" + std::string(kCityFields));
  fs::last_write_time(PathOf("ROADS.TAB"), fs::last_write_time(PathOf("roads.dbf")) +
                                                std::chrono::seconds(5));
  TableObject* t = Open("ROADS.TAB");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->source.kind, kDataDbase);
  EXPECT_EQ(t->rowCount, 2u);
  CompanionFile files[5];
  ASSERT_EQ(CompanionFileList(t, files), 2);
  EXPECT_EQ(files[1].path, PathOf("roads.dbf"));
  EXPECT_EQ(files[1].kind, uint32_t(kFileKindDbase));
}

TEST_F(TabReadTest, MapPartIsOpenedFromItsCompanionFiles) {
  MakeData("towns", kDataNative, kCityCols, 2);
  {
    FileHandle def = FileTableAddName(PathOf("towns.tab").c_str(), kFileKindTable);
    ObjStoreTable owner{def, 0, 2};
    ObjStore store;
    CoordSys cs;
    ASSERT_TRUE(CoordSysParseText(&cs, "CoordSys Earth Projection 1, 104 Bounds (-180, -90) "
                                  "(180, 90)", true));
    ASSERT_TRUE(ObjStoreCreate(&store, kObjStoreMapFile, &owner, -1, &cs, 0, 1));
    ObjStoreClose(&store);
    FileRelease(def);
  }
  // The store names new files in lower case; upper-case ones are found too.
  fs::rename(PathOf("towns.map"), PathOf("towns.MAP"));
  fs::rename(PathOf("towns.id"), PathOf("towns.ID"));
  Write("towns.tab", NativeDef(" Type NATIVE CoordSys Earth Projection 1, 104\n"));
  TableObject* t = Open("towns.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_NE(t->store, nullptr);
  ASSERT_NE(t->coordSys, nullptr);
  EXPECT_EQ(t->coordSys->projection, 1);
  CompanionFile files[5];
  ASSERT_EQ(CompanionFileList(t, files), 4);
  EXPECT_EQ(files[1].path, PathOf("towns.DAT"));
  EXPECT_EQ(files[2].path, PathOf("towns.MAP"));
  EXPECT_EQ(files[2].kind, uint32_t(kFileKindMap));
  EXPECT_EQ(files[3].path, PathOf("towns.ID"));
  EXPECT_EQ(files[3].kind, uint32_t(kFileKindMapId));
  CloseAll();

  // A damaged map-object file keeps the table closed with the store's error.
  std::ofstream(PathOf("towns.MAP"), std::ios::binary) << "not a map";
  EXPECT_EQ(Open("towns.tab"), nullptr);
  EXPECT_GT(ErrorCount(), 0);
}

TEST_F(TabReadTest, CharsetOfTheDefinitionIsConvertedFrom) {
  MakeData("c", kDataNative, kCityCols);
  // 0x8A is a-umlaut in MacRoman, 0xE4 in the system's WindowsLatin1.
  Write("c.tab", "!table\n!version 300\n!charset MacRoman\n\nDefinition Table\n"
                 "  Description \"B\x8A\"\n  Type NATIVE\n" + std::string(kCityFields));
  TableObject* t = Open("c.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_STREQ(t->description, "B\xE4");
}

TEST_F(TabReadTest, OldVersionsGoToTheKeywordReader) {
  MakeData("old", kDataDbase, kCityCols, 4);
  Write("old.tab", "!table\n!version 100\nDESCRIPTION: \"Old one\"\nFORMAT: DBF\n"
                   "FIELDS: 2\nName Char (20)\nPop Integer\n");
  fs::last_write_time(PathOf("old.tab"), fs::last_write_time(PathOf("old.DBF")) +
                                             std::chrono::seconds(5));
  TableObject* t = Open("old.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->version, 0);
  EXPECT_EQ(t->source.kind, kDataDbase);
  EXPECT_EQ(t->fieldCount, 2u);
  EXPECT_EQ(t->rowCount, 4u);
  CloseAll();
  // A query definition of an old version is read by the clauses.
  Write("old.tab", "!table\n!version 100\n  Open Table \"old\"\n");
  EXPECT_EQ(Open("old.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefQuery));
  // Without columns the keyword reader refuses the definition.
  Write("old.tab", "!table\n!version 100\nFORMAT: DBF\n");
  EXPECT_EQ(Open("old.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefLegacyNoColumns));
}

TEST_F(TabReadTest, IndexClauseBindsTheIndexFile) {
  MakeData("ix", kDataNative, kCityCols, 3);
  Write("ix.tab", NativeDef());
  PXTableHandle h = PXOpenTable(PathOf("ix.tab").c_str(), PX_OPEN_READ_WRITE);
  ASSERT_NE(h, 0u) << PXGetLastError();
  ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
  ASSERT_EQ(PXCloseTable(h), 1);
  ASSERT_NE(testsupport::ReadAll(PathOf("ix.tab")).find("Index 1"), std::string::npos);

  // The table close leaves the index file's entry in the file table.
  FileRelease(FileTableFind(PathOf("ix.IND").c_str(), kFileKindIndex));
  TableObject* t = Open("ix.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_NE(t->indexes, nullptr) << ErrorLastCode();
  ASSERT_NE(t->fields[0].index, nullptr);
  EXPECT_EQ(t->fields[0].index->number, 1);
  EXPECT_EQ(t->fields[1].index, nullptr);
  CompanionFile files[5];
  ASSERT_EQ(CompanionFileList(t, files), 3);
  EXPECT_EQ(files[2].path, PathOf("ix.IND"));
  EXPECT_EQ(files[2].kind, uint32_t(kFileKindIndex));
  CloseAll();

  FileRelease(FileTableFind(PathOf("ix.IND").c_str(), kFileKindIndex));
  // An index number the file does not hold.
  std::string text = testsupport::ReadAll(PathOf("ix.tab"));
  text.replace(text.find("Index 1"), 7, "Index 9");
  Write("ix.tab", text);
  EXPECT_EQ(Open("ix.tab"), nullptr);
  EXPECT_EQ(Arg(kErrDefFieldIndex, 0), "Name");
}

TEST_F(TabReadTest, DataFileProblems) {
  // A dBASE file newer than its definition is stale.
  MakeData("roads", kDataDbase, kCityCols);
  Write("roads.tab", "!table\n!version 300\n\nDefinition Table\n Type DBF\n" +
                         std::string(kCityFields));
  fs::last_write_time(PathOf("roads.DBF"), fs::last_write_time(PathOf("roads.tab")) +
                                               std::chrono::seconds(5));
  EXPECT_EQ(Open("roads.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefStale));

  // A missing dBASE file cannot be examined.
  Write("gone.tab", "!table\n!version 300\n\nDefinition Table\n Type DBF\n" +
                        std::string(kCityFields));
  EXPECT_EQ(Open("gone.tab"), nullptr);
  EXPECT_TRUE(Pushed(1932));

  // A missing native file, and one whose fields disagree.
  Write("none.tab", NativeDef());
  EXPECT_EQ(Open("none.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefDataMissing));
  MakeData("other", kDataNative, {{"Name", kFieldChar, 10, 0}});
  Write("other.tab", NativeDef());
  EXPECT_EQ(Open("other.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefDataMissing));
}

TEST_F(TabReadTest, FieldWidthsAreClampedToWhatTheFileHolds) {
  MakeData("w", kDataNative,
           {{"A", kFieldDecimal, 20, 18}, {"B", kFieldChar, 1, 0}, {"C", kFieldChar, 254, 0}});
  Write("w.tab", "!table\n!version 300\n\nDefinition Table\n Type NATIVE\n Fields 3\n"
                 "  A Decimal (25, 30) ;\n  B Char (0) ;\n  C Char (300) ;\n");
  TableObject* t = Open("w.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->fields[0].width, 20);
  EXPECT_EQ(t->fields[0].decimals, 18);
  EXPECT_EQ(t->fields[1].width, 1);
  EXPECT_EQ(t->fields[2].width, 254);
}

TEST_F(TabReadTest, MetadataOfADefinition) {
  MakeData("m", kDataNative, kCityCols);
  std::string value(500, 'v');
  value[250] = 'X';
  Write("m.tab", NativeDef("  ReadOnly\nbegin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\n"
                           "\"\\Title\" = \"" + value.substr(0, 237) + "\"\n"
                           "\"\\Title\\+1\" = \"" + value.substr(237, 237) + "\"\n"
                           "\"\\Title\\+2\" = \"" + value.substr(474) + "\"\n"
                           "end_metadata\n"));
  TableObject* t = Open("m.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  char out[600];
  ASSERT_EQ(MetadataGet(t->metadata, "\\Title", out, sizeof out), 500);
  EXPECT_EQ(std::string(out), value);
  // Metadata that is not read-only makes the table editable again.
  EXPECT_EQ(t->readOnly, 0);
}

TEST_F(TabReadTest, IndexWithoutIndexFile) {
  MakeData("i", kDataNative, kCityCols);
  Write("i.tab", "!table\n!version 300\n\nDefinition Table\n Type NATIVE\n Fields 2\n"
                 "  Name Char (20) Index 1 ;\n  Pop Integer ;\n");
  // Trapping off: the report is made and the table opens.
  TableObject* t = Open("i.tab");
  EXPECT_NE(t, nullptr);
  CloseAll();
  // Trapping on: the fatal report ends the entry; nothing is left behind and
  // the tokenizer is as it was.
  TokBeginText("outer");
  TrapToggle(1);
  FileHandle file = FileTableAddName(PathOf("i.tab").c_str(), kFileKindTable);
  ASSERT_GT(file, 0);
  TableObject* none =
      RunGuarded<TableObject*>(nullptr, [&] { return TableDefinitionOpen(file); });
  TrapToggle(1);
  FileRelease(file);
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(Pushed(kErrInternal));
  EXPECT_STREQ(FatalText(), "Unable to access index for field Name of table i.");
  ASSERT_NE(TokCurrent(), nullptr);
  EXPECT_STREQ(TokCurrentText(), "outer");
  TokEnd();
}

TEST_F(TabReadTest, QueryDefinitionsDoNotOpenAsTables) {
  struct {
    const char* body;
    int code;
  } cases[] = {
      {"Open Table \"a\" Interactive\nDefinition Table\n Type QUERY\n", kErrDefQueryAsTable},
      {"Open Table \"a\"\nCreate View v As Select * From a\n", kErrDefView},
      {"Open Table \"a\"\n", kErrDefQuery},
      {"Create View v As Select * From a\n", kErrDefView},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    Write("q.tab", std::string("!table\n!version 300\n") + c.body);
    EXPECT_EQ(Open("q.tab"), nullptr);
    EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
  }
  // A definition with no table in it at all.
  Write("q.tab", "!table\n!version 300\n!charset neutral\n");
  EXPECT_EQ(Open("q.tab"), nullptr);
  EXPECT_TRUE(Pushed(kErrDefQuery));
}

// ----- registration -----

TEST_F(TabReadTest, RegisterClauseWritesADefinition) {
  MakeData("roads", kDataDbase, kCityCols, 1);
  const std::string data = PathOf("roads.DBF"), def = PathOf("reg/Roads");
  fs::create_directories(PathOf("reg"));
  ErrorClear();
  ASSERT_EQ(StatementRun(("Register Table \"" + data + "\" Type DBF Charset \"WindowsLatin1\" "
                          "Into \"" + def + "\"").c_str(), 0),
            1)
      << ErrorLastCode();
  const std::string written = testsupport::ReadAll(def + ".TAB");
  EXPECT_NE(written.find("Type DBF"), std::string::npos) << written;

  // Images are read to the end of their clause; having no columns to
  // describe, they fail there and leave no definition behind.
  struct {
    const char* type;
    int code;
  } refused[] = {
      {"LINKED", kErrDefTableType},
      {"QUERY", kErrDefQuery},
      {"RASTER", kErrDefDescribeFailed},
      {"Raster CoordSys Earth Projection 1, 104 Interactive", kErrDefDescribeFailed},
      {"GRID ControlPoints (1, 2) (3, -4), (5.5, 6) (7, 8) CoordSys Earth Projection 1, 104",
       kErrDefDescribeFailed},
      {"GRID ControlPoints (1, 2)", 615},
      {"GRID ControlPoints (1, 2) (3 4)", 615},
      {"WMS", 615},
      {"WMS Charset \"WindowsLatin1\"", 615},
      {"WMS CoordSys Earth Projection 1, 104 Charset \"WindowsLatin1\"", kErrDefDescribeFailed},
      {"WMS CoordSys Earth Projection 1, 104 Charset \"NoSuchSet\"", kErrCharsetCode},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.type);
    ErrorClear();
    EXPECT_EQ(StatementRun(("Register Table \"" + data + "\" Type " + r.type + " Into \"" +
                            PathOf("other") + "\"").c_str(), 0),
              0);
    EXPECT_TRUE(Pushed(r.code)) << ErrorLastCode();
    EXPECT_FALSE(fs::exists(PathOf("other.TAB")));
  }
  // A definition that is open is not written over.
  FileHandle held = FileTableAddName((def + ".TAB").c_str(), kFileKindTable);
  ErrorClear();
  EXPECT_EQ(StatementRun(("Register Table \"" + data + "\" Type DBF Into \"" + def + ".TAB\"")
                             .c_str(), 0),
            0);
  EXPECT_TRUE(Pushed(kErrDefAlreadyOpen));
  ErrorClear();
  EXPECT_EQ(StatementRun(("Register Table \"" + data + "\" Type Raster Into \"" + def + "\"")
                             .c_str(), 0),
            0);
  EXPECT_TRUE(Pushed(kErrDefAlreadyOpen));
  FileRelease(held);
}

// A statement runs in the date mode its flag asks for (seen here by the file
// calls a registration makes) and leaves the mode as it found it, after a
// failed run as well.
TEST_F(TabReadTest, StatementRunsInTheDateModeOfItsFlag) {
  MakeData("roads", kDataDbase, kCityCols, 1);
  const std::string data = PathOf("roads.DBF");
  struct ModeEnv : platform::EnvWrapper {
    ModeEnv() : EnvWrapper(platform::Env::Current()) {}
    int Open(std::string_view path, unsigned flags, int permission) override {
      modes.push_back(DateGetMode());
      return EnvWrapper::Open(path, flags, permission);
    }
    std::vector<int32_t> modes;
  };
  for (int flag : {0, 1}) {
    SCOPED_TRACE(flag);
    const int32_t inside = flag ? 1 : 2, outside = flag ? 2 : 1;
    DateSetMode(outside);
    ModeEnv env;
    {
      platform::ScopedEnv scope(env);
      ASSERT_EQ(StatementRun(("Register Table \"" + data + "\" Type DBF Into \"" +
                              PathOf("mode" + std::to_string(flag)) + "\"").c_str(), flag),
                1);
    }
    ASSERT_FALSE(env.modes.empty());
    EXPECT_EQ(std::count(env.modes.begin(), env.modes.end(), inside), long(env.modes.size()));
    EXPECT_EQ(DateGetMode(), outside);
    EXPECT_EQ(StatementRun("Frobnicate Table", flag), 0);
    EXPECT_EQ(DateGetMode(), outside);
  }
  DateSetMode(1);
}

// A definition is a file users receive from others: opening one never
// registers a table, here or in another folder, and a definition that names
// itself as its data is refused, so that a write open cannot rewrite it.
TEST_F(TabReadTest, OpeningADefinitionNeverWritesOne) {
  MakeData("v/nc", kDataNative, kCityCols, 1);
  Write("v/nc.TAB", NativeDef());
  const std::string victim = testsupport::ReadAll(PathOf("v/nc.TAB"));
  Write("a/data.txt", "a,b\n1,2\n");
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"into another table's definition",
       "!table\n!version 300\n\nRegister Table \"data.txt\" Type ASCII Into \"../v/nc.TAB\"\n"},
      {"beside its data",
       "!table\n!version 300\n\nRegister Table \"data.txt\" Type ASCII\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("a/evil.TAB", c.text);
    EXPECT_EQ(Open("a/evil.TAB"), nullptr);
    EXPECT_TRUE(Pushed(kErrDefClauseHere)) << ErrorLastCode();
    EXPECT_EQ(testsupport::ReadAll(PathOf("v/nc.TAB")), victim);
    EXPECT_FALSE(fs::exists(PathOf("a/data.TAB")));
    ErrorClear();
    EXPECT_EQ(PXOpenTable(PathOf("a/evil.TAB").c_str(), PX_OPEN_READ_WRITE), 0u);
    EXPECT_EQ(testsupport::ReadAll(PathOf("v/nc.TAB")), victim);
  }

  for (const char* type : {"NATIVE", "DBF", "ASCII"}) {
    SCOPED_TRACE(type);
    const std::string text = std::string("!table\n!version 300\n\nDefinition Table\n  File "
                                         "\"self.TAB\"\n  Type ") +
                             type + "\n  Fields 1\n    a Char (10) ;\n";
    Write("a/self.TAB", text);
    EXPECT_EQ(Open("a/self.TAB"), nullptr);
    EXPECT_EQ(Arg(kErrDefDataMissing, 0), PathOf("a/self.TAB"));
    EXPECT_EQ(PXOpenTable(PathOf("a/self.TAB").c_str(), PX_OPEN_READ_WRITE), 0u);
    EXPECT_EQ(testsupport::ReadAll(PathOf("a/self.TAB")), text);
  }
}

// ----- PXGetQueryInfo -----

class QueryInfoTest : public TabReadTest {
 protected:
  void SetUp() override {
    TabReadTest::SetUp();
    MakeData("base/cities", kDataNative, kCityCols);
    Write("base/cities.tab", NativeDef());
    MakeData("base/states", kDataNative,
             {{"State", kFieldChar, 2, 0}, {"Name", kFieldChar, 30, 0}});
    Write("base/states.tab", "!table\n!version 300\n\nDefinition Table\n Type NATIVE\n"
                             " Fields 2\n  State Char (2) ;\n  Name Char (30) ;\n");
  }
  PXQueryInfo* Info(const std::string& body) {
    Write("q.tab", "!table\n!version 300\n" + body);
    PXQueryInfo* info = reinterpret_cast<PXQueryInfo*>(1);
    ok_ = PXGetQueryInfo(PathOf("q.tab").c_str(), &info);
    EXPECT_EQ(ok_ != 0, info != nullptr);
    return info;
  }
  uint16_t ok_ = 0;
};

TEST_F(QueryInfoTest, TwoTablesJoinedByOneCondition) {
  PXQueryInfo* info = Info(
      "Open Table \"base\\cities\" As c Hide ReadOnly\n"
      "Open Table \"base/States.TAB\" Interactive\n"
      "Create View Both As Select c.Name, Pop Total, states.Name As SName "
      "From c, States Where c.Name = States.State\n");
  ASSERT_NE(info, nullptr) << PXGetLastError();
  ASSERT_EQ(info->tableCount, 2u);
  EXPECT_EQ(std::string(info->tables[0].path), PathOf("base/cities.TAB"));
  EXPECT_STREQ(info->tables[0].name, "c");
  EXPECT_EQ(std::string(info->tables[1].path), PathOf("base/States.TAB"));
  EXPECT_STREQ(info->tables[1].name, "States");
  ASSERT_EQ(info->columnCount, 3u);
  EXPECT_STREQ(info->columns[0].alias, "");
  EXPECT_EQ(info->columns[0].table, 0u);
  EXPECT_STREQ(info->columns[0].name, "Name");
  EXPECT_STREQ(info->columns[1].alias, "Total");
  EXPECT_EQ(info->columns[1].table, 0u);
  EXPECT_STREQ(info->columns[1].name, "Pop");
  EXPECT_STREQ(info->columns[2].alias, "SName");
  EXPECT_EQ(info->columns[2].table, 1u);
  EXPECT_STREQ(info->columns[2].name, "Name");
  EXPECT_EQ(info->conditions[0].leftTable, 0u);
  EXPECT_STREQ(info->conditions[0].leftName, "Name");
  EXPECT_EQ(info->conditions[0].rightTable, 1u);
  EXPECT_STREQ(info->conditions[0].rightName, "State");
  PXFreeQueryInfo(&info);
  EXPECT_EQ(info, nullptr);
  PXFreeQueryInfo(&info);
  PXFreeQueryInfo(nullptr);
}

TEST_F(QueryInfoTest, StarAndDroppedTables) {
  PXQueryInfo* info = Info(
      "Open Table \"base/cities\"\nOpen Table \"base/states\"\n"
      "Create View Only As Select * From cities\n");
  ASSERT_NE(info, nullptr) << PXGetLastError();
  ASSERT_EQ(info->tableCount, 1u);
  ASSERT_EQ(info->columnCount, 2u);
  EXPECT_STREQ(info->columns[0].name, "Name");
  EXPECT_STREQ(info->columns[1].name, "Pop");
  EXPECT_EQ(info->columns[1].table, 0u);
  PXFreeQueryInfo(&info);
}

TEST_F(QueryInfoTest, Refusals) {
  struct {
    const char* name;
    std::string body;
    int code;
  } cases[] = {
      {"no column", "Open Table \"base/cities\"\nCreate View v As Select Area From cities\n",
       kErrQueryColumn},
      {"no join",
       "Open Table \"base/cities\"\nOpen Table \"base/states\"\n"
       "Create View v As Select * From cities, states\n",
       kErrQueryJoins},
      {"self join",
       "Open Table \"base/cities\"\nOpen Table \"base/states\"\n"
       "Create View v As Select * From cities, states Where cities.Name = cities.Name\n",
       kErrQueryJoins},
      {"open what", "Open View \"base/cities\"\n", kErrDefKeyword},
      {"create what", "Open Table \"base/cities\"\nCreate Table x\n", kErrDefKeyword},
      {"a table", "\nDefinition Table\n Type NATIVE\n" + std::string(kCityFields),
       kErrDefQueryCollect},
      {"missing base", "Open Table \"base/none\"\nCreate View v As Select * From none\n",
       kErrFileNotFound},
      {"bad column", "Open Table \"base/cities\"\nCreate View v As Select 12 From cities\n",
       kErrDefIdentifier},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Info(c.body), nullptr);
    EXPECT_EQ(ok_, 0);
    EXPECT_EQ(PXGetLastError(), c.code);
    if (c.code == kErrDefKeyword) {
      EXPECT_EQ(Arg(kErrDefKeyword, 1), c.name[0] == 'o' ? "open" : "create");
    }
  }
  // A definition open as a table is refused.
  FileHandle held = FileTableAddName(PathOf("q.tab").c_str(), kFileKindTable);
  EXPECT_EQ(Info("Open Table \"base/cities\"\n"), nullptr);
  EXPECT_EQ(PXGetLastError(), kErrDefAlreadyOpen);
  FileRelease(held);
}

// ----- damaged definitions -----

TEST_F(TabReadTest, DamagedDefinitionsNeverCrash) {
  MakeData("d", kDataNative, kCityCols, 1);
  const std::string good = NativeDef(
      "  Description \"x\"\n  File \"d.DAT\"\n"
      "  Type NATIVE CoordSys Earth Projection 1, 104 Bounds (-180, -90) (180, 90)\n"
      "begin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\n\"\\K\" = \"v\"\nend_metadata\n");
  Write("d.tab", good);
  ASSERT_NE(Open("d.tab"), nullptr) << ErrorLastCode();
  CloseAll();
  // Cut at every length; each either opens or reports why it did not.
  for (size_t n = 0; n < good.size(); ++n) {
    Write("d.tab", good.substr(0, n));
    TableObject* t = Open("d.tab");
    if (!t) {
      EXPECT_TRUE(ErrorCount() > 0 || n < 14) << n << ": " << good.substr(0, n);
    }
    CloseAll();
  }
  // Garbage and hostile texts.
  const std::string hostile[] = {
      std::string("!table\n!version 300\n") + std::string(5000, '('),
      "!table\n!version 300\nDefinition Table Fields 2147483648\n",
      "!table\n!version 300\nDefinition Table Fields 1 A Decimal (-1e308, 1e308) ;\n",
      "!table\n!version 300\nDefinition Table Type ASCII Delimiter -99999999999\n",
      "!table\n!version 300\nDefinition Table File \"" + std::string(5000, 'x') + "\"\n",
      "!table\n!version 300\nDefinition Table Description \"unclosed\n",
      "!table\n!version 300\ninclude \"/nonexistent/file\"\n",
      "!table\n!version 300\nbegin_metadata \"\\K\" = \n",
      std::string("!table\n!version 300\n\0\xff\xfe garbage", 30),
      "!table\n!version 300\nDefinition Table Type NATIVE CoordSys Earth Projection 1, 104, "
      "1e308 Bounds (1e308, -1e308) (nan, 1)\n",
  };
  for (const std::string& text : hostile) {
    Write("d.tab", text);
    EXPECT_EQ(Open("d.tab"), nullptr);
  }
  std::string random;
  uint32_t seed = 12345;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1103515245u + 12345u;
    random += char(seed >> 24);
  }
  Write("d.tab", "!table\n!version 300\n" + random);
  EXPECT_EQ(Open("d.tab"), nullptr);
}

}  // namespace
