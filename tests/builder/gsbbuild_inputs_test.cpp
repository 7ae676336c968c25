// gsbbuild fed damaged or doubtful inputs: copies of the shipped data cut
// short, retyped or with a header count rewritten, point tables whose
// coordinates are no numbers, text tables without line ends, a projected
// .prj, a misspelled id field and number columns that 32 bits cannot hold.
// Each case checks the exit value, the message and the files left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/boundary/gsbfile_reader.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"

namespace {

using buildertest::DbfBytes;
using buildertest::DbfField;
using buildertest::FilesIn;
using buildertest::Outcome;
using buildertest::RunGsbbuild;
using testsupport::ReadAll;
using testsupport::SharedDataPath;
using testsupport::TempDir;

constexpr int kSuccess = 1;
constexpr int kFailed = 0;

uint32_t LoadU32BE(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b.at(at))) << 24 | uint32_t(uint8_t(b.at(at + 1))) << 16 |
         uint32_t(uint8_t(b.at(at + 2))) << 8 | uint32_t(uint8_t(b.at(at + 3)));
}

void StoreU32LE(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = char(v >> (8 * i));
}

// The byte offset in the .shp of record k (from 1), as the .shx gives it.
size_t RecordOffset(const std::string& shx, uint32_t k) {
  return size_t(LoadU32BE(shx, 100 + 8 * size_t(k - 1))) * 2;
}

// The North Carolina counties as in.shp, in.shx, in.dbf in dir; change may
// rewrite any of the three before they are written.
struct NcFiles {
  std::string shp = ReadAll(SharedDataPath("nc/nc.shp"));
  std::string shx = ReadAll(SharedDataPath("nc/nc.shx"));
  std::string dbf = ReadAll(SharedDataPath("nc/nc.dbf"));
  void WriteTo(const TempDir& dir) const {
    dir.Write("in.shp", shp);
    dir.Write("in.shx", shx);
    dir.Write("in.dbf", dbf);
  }
};

const std::set<std::string> kShapeInputs = {"in.shp", "in.shx", "in.dbf"};
const std::set<std::string> kTextInputs = {"in.csv", "in.fmt"};
constexpr const char* kPointFormat = "TYPE=,\nFLN=Yes\nNAME C 20\nLON N 14.9\nLAT N 14.9\n";

struct Case {
  const char* name;
  std::function<void(const TempDir&)> write;
  std::vector<std::string> words;
  int status;
  std::vector<std::string> messages;  // each must appear in the output
  std::set<std::string> left;         // the folder's files afterwards
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.write(dir);
    Outcome run = RunGsbbuild(dir.path(), c.words);
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& message : c.messages)
      EXPECT_NE(run.out.find(message), std::string::npos) << "wanted: " << message << "\n"
                                                          << run.out;
    EXPECT_EQ(FilesIn(dir.path()), c.left);
  }
}

// Shapefiles whose parts disagree, or whose records none could be stored.
TEST(GsbbuildInputsTest, ShapefilesMissingData) {
  std::vector<Case> cases;
  cases.push_back({"main file cut at the end of record 50",
                   [](const TempDir& dir) {
                     NcFiles nc;
                     nc.shp.resize(RecordOffset(nc.shx, 51));
                     nc.WriteTo(dir);
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"The .shp file ends before record 51; its .shx file lists 100 records.",
                    "File: in.shp", "Record: 51"},
                   kShapeInputs});
  cases.push_back({"main file cut inside record 100",
                   [](const TempDir& dir) {
                     NcFiles nc;
                     nc.shp.resize(RecordOffset(nc.shx, 100) + 40);
                     nc.WriteTo(dir);
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"in.shp record 100"},
                   kShapeInputs});
  cases.push_back({"every record a PolygonZ",
                   [](const TempDir& dir) {
                     NcFiles nc;
                     StoreU32LE(nc.shp, 32, 15);
                     for (uint32_t k = 1; k <= 100; ++k)
                       StoreU32LE(nc.shp, RecordOffset(nc.shx, k) + 8, 15);
                     nc.WriteTo(dir);
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"Error: None of the 100 records of in.shp could be stored: each was passed "
                    "over as a feature type a GSB file does not hold"},
                   kShapeInputs});
  cases.push_back({"table header counting 50 of the 100 records",
                   [](const TempDir& dir) {
                     NcFiles nc;
                     StoreU32LE(nc.dbf, 4, 50);
                     nc.WriteTo(dir);
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"The .dbf file has fewer records than the .shp file.", "File: in.shp",
                    "Record: 51"},
                   kShapeInputs});
  cases.push_back({"table whose records end after 60 of the 100 its header counts",
                   [](const TempDir& dir) {
                     NcFiles nc;
                     const size_t header = uint8_t(nc.dbf[8]) | uint8_t(nc.dbf[9]) << 8;
                     const size_t record = uint8_t(nc.dbf[10]) | uint8_t(nc.dbf[11]) << 8;
                     nc.dbf.resize(header + 60 * record);
                     nc.WriteTo(dir);
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"The .dbf file has fewer records than the .shp file.", "Record: 61"},
                   kShapeInputs});
  cases.push_back({"projected coordinate system",
                   [](const TempDir& dir) {
                     NcFiles().WriteTo(dir);
                     dir.Write("in.prj",
                               "PROJCS[\"NAD83 / UTM zone 17N\",GEOGCS[\"NAD83\",DATUM[\"North_"
                               "American_Datum_1983\",SPHEROID[\"GRS 1980\",6378137,298.257222101]"
                               "],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
                               "PROJECTION[\"Transverse_Mercator\"],UNIT[\"metre\",1]]");
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kFailed,
                   {"Error: in.prj names the projected coordinate system \"NAD83 / UTM zone "
                    "17N\". The input must be in degrees of longitude and latitude."},
                   {"in.shp", "in.shx", "in.dbf", "in.prj"}});
  cases.push_back({"geographic coordinate system",
                   [](const TempDir& dir) {
                     NcFiles().WriteTo(dir);
                     dir.Write("in.prj", ReadAll(SharedDataPath("nc/nc.prj")));
                   },
                   {"in.shp", "out.gsb", "NAME"},
                   kSuccess,
                   {"Created out.gsb successfully."},
                   {"in.shp", "in.shx", "in.dbf", "in.prj", "out.gsb", "out.gsa"}});
  RunCases(cases);
}

// Point tables whose coordinates or text lines are missing.
TEST(GsbbuildInputsTest, PointTablesMissingData) {
  std::vector<Case> cases;
  const struct {
    const char* row;     // the second row of the table
    const char* shown;   // the value as the message shows it
    const char* field;
    const char* fault;
  } values[] = {
      {"\"b\",abc,35", "abc", "LON", "is not a number"},
      {"\"b\",nan,35", "nan", "LON", "is not a number"},
      {"\"b\",inf,35", "inf", "LON", "is not a number"},
      {"\"b\",-79.2abc,35", "-79.2abc", "LON", "is not a number"},
      {"\"b\",\"-79,5\",35", "-79,5", "LON", "is not a number"},
      {"\"b\",-79,", "", "LAT", "is blank"},
      {"\"b\",-79,   ", "", "LAT", "is blank"},
      {"\"b\",-79,35e", "35e", "LAT", "is not a number"},
  };
  for (const auto& v : values) {
    const std::string row = v.row;
    cases.push_back({v.row,
                     [row](const TempDir& dir) {
                       dir.Write("in.fmt", kPointFormat);
                       dir.Write("in.csv", "NAME,LON,LAT\n\"a\",-78.5,35.25\n" + row + "\n");
                     },
                     {"in.csv", "out.gsb", "NAME"},
                     kFailed,
                     {std::string("Error: The ") + v.field + " value (" + v.shown +
                      ") in row 2 of in.csv " + v.fault + "."},
                     kTextInputs});
  }
  cases.push_back({"blanks around a number are no fault",
                   [](const TempDir& dir) {
                     dir.Write("in.fmt", kPointFormat);
                     dir.Write("in.csv", "NAME,LON,LAT\n\"a\", -78.5 , 35.25 \n");
                   },
                   {"in.csv", "out.gsb", "NAME"},
                   kSuccess,
                   {"Created out.gsb successfully."},
                   {"in.csv", "in.fmt", "out.gsb", "out.gsa"}});
  cases.push_back({"no line end in the first 512 bytes",
                   [](const TempDir& dir) {
                     dir.Write("in.fmt", kPointFormat);
                     dir.Write("in.csv", "NAME,LON,LAT" + std::string(600, ' ') + "\n\"a\",1,2\n");
                   },
                   {"in.csv", "out.gsb", "NAME"},
                   kFailed,
                   {"Error: The text table in.csv has no line end (CR, LF or CR/LF) in its "
                    "first 512 bytes."},
                   kTextInputs});
  cases.push_back({"empty text table",
                   [](const TempDir& dir) {
                     dir.Write("in.fmt", kPointFormat);
                     dir.Write("in.csv", "");
                   },
                   {"in.csv", "out.gsb", "NAME"},
                   kFailed,
                   {"Error: The text table in.csv is empty."},
                   kTextInputs});
  cases.push_back({"dBASE table whose records end before its header's count",
                   [](const TempDir& dir) {
                     std::string dbf = DbfBytes({{"NAME", 'C', 10, 0},
                                                 {"LON", 'N', 12, 6},
                                                 {"LAT", 'N', 12, 6}},
                                                {{"a", "-78.5", "35.25"}, {"b", "-79", "36"}});
                     StoreU32LE(dbf, 4, 3);
                     dir.Write("in.dbf", dbf);
                   },
                   {"in.dbf", "out.gsb", "NAME"},
                   kFailed,
                   {"Error: The table in.dbf ends after 2 of the 3 records its header counts."},
                   {"in.dbf"}});
  RunCases(cases);
}

// dBASE tables the engine refuses for a damaged header say why; a dBASE III
// table with currency and date-time columns, which other readers take, is
// read.
TEST(GsbbuildInputsTest, TableHeaders) {
  const std::vector<DbfField> point = {{"NAME", 'C', 10, 0}, {"LON", 'N', 12, 6},
                                       {"LAT", 'N', 12, 6}};
  std::vector<Case> cases;
  cases.push_back({"record length shorter than the fields",
                   [point](const TempDir& dir) {
                     std::string dbf = DbfBytes(point, {{"a", "-78.5", "35.25"}});
                     dbf[10] = 3, dbf[11] = 0;
                     dir.Write("in.dbf", dbf);
                   },
                   {"in.dbf", "out.gsb", "NAME"},
                   255,
                   {"Error: Unable to open the table in.dbf: File is not a Data File"},
                   {"in.dbf", "Error.log"}});
  cases.push_back({"currency and date-time columns in a dBASE III table",
                   [point](const TempDir& dir) {
                     std::vector<DbfField> fields = point;
                     fields.push_back({"PRICE", 'Y', 8, 4});
                     fields.push_back({"SEEN", 'T', 8, 0});
                     const std::string price("\x40\xE2\x01\0\0\0\0\0", 8);  // 12.3456
                     const std::string seen("\x59\x69\x25\0\0\x2E\x93\x02", 8);
                     dir.Write("in.dbf", DbfBytes(fields, {{"a", "-78.5", "35.25", price, seen}}));
                   },
                   {"in.dbf", "out.gsb", "NAME"},
                   kSuccess,
                   {"Created out.gsb successfully."},
                   {"in.dbf", "out.gsb", "out.gsa", "Error.log"}});  // the columns' warnings
  RunCases(cases);
}

// A misspelled id field names the objects by the first field, and says so
// on the console and in the log, with the name looked for and the fields
// there are.
TEST(GsbbuildInputsTest, MisspelledIdFieldWarns) {
  const std::string shapeWarning =
      "WARNING: Specified id parameter could not be found. Parameter set to first column in "
      ".dbf file.\n"
      "The id field NAMEE is not a field of in.dbf; its fields are: AREA, PERIMETER, CNTY_, "
      "CNTY_ID, NAME, FIPS, FIPSNO, CRESS_ID, BIR74, SID74, NWBIR74, BIR79, SID79, NWBIR79.\n";
  const std::string textWarning =
      "WARNING: Specified id parameter could not be found. Parameter set to first column in "
      ".csv file.\n"
      "The id field NAMEE is not a field of in.csv; its fields are: NAME, LON, LAT.\n";
  const struct {
    const char* name;
    std::function<void(const TempDir&)> write;
    const char* input;
    std::string warning;
    const char* firstName;
  } cases[] = {
      {"shapefile", [](const TempDir& dir) { NcFiles().WriteTo(dir); }, "in.shp", shapeWarning,
       nullptr},
      {"text table",
       [](const TempDir& dir) {
         dir.Write("in.fmt", kPointFormat);
         dir.Write("in.csv", "NAME,LON,LAT\n\"a\",-78.5,35.25\n");
       },
       "in.csv", textWarning, "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.write(dir);
    Outcome run = RunGsbbuild(dir.path(), {c.input, "out.gsb", "NAMEE", "/Log"});
    EXPECT_EQ(run.status, kSuccess) << run.out;
    EXPECT_EQ(run.out.rfind(c.warning, 0), 0u) << run.out;
    EXPECT_EQ(ReadAll(dir.File("out.gsb.log")),
              c.warning + "Processing...\nCreated out.gsb successfully.\n");
    std::vector<gsbtest::Record> records = gsbtest::File(dir.File("out.gsb")).Records();
    ASSERT_FALSE(records.empty());
    if (c.firstName) {
      EXPECT_EQ(records[0].name, c.firstName);
    }
  }
  // A field that is there gives no warning.
  TempDir dir;
  NcFiles().WriteTo(dir);
  Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "name"});
  EXPECT_EQ(run.status, kSuccess) << run.out;
  EXPECT_EQ(run.out.find("WARNING"), std::string::npos) << run.out;
}

// Records passed over are named by their number; the table library's
// warnings read as a batch run's: no source file and line of the library,
// no "If you wish to continue".
TEST(GsbbuildInputsTest, WarningsNameTheirRecordsWithoutPrompts) {
  TempDir dir;
  NcFiles nc;
  for (uint32_t k : {2u, 4u}) StoreU32LE(nc.shp, RecordOffset(nc.shx, k) + 8, 0);  // null shapes
  nc.WriteTo(dir);
  Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "NAME"});
  EXPECT_EQ(run.status, kSuccess) << run.out;
  const std::string passed = ": Feature type not recognized. It will not be inserted into the GSB.\n";
  EXPECT_NE(run.out.find("\nRecord 2" + passed + "Record 4" + passed), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Record 1:"), std::string::npos) << run.out;

  TempDir table;
  table.Write("in.dbf", DbfBytes({{"NAME", 'C', 10, 0}, {"LON", 'N', 12, 6}, {"LAT", 'N', 12, 6},
                                  {"PRICE", 'Y', 8, 4}},
                                 {{"a", "-78.5", "35.25", std::string("\x40\xE2\x01\0\0\0\0\0", 8)}}));
  run = RunGsbbuild(table.path(), {"in.dbf", "out.gsb", "NAME"});
  EXPECT_EQ(run.status, kSuccess) << run.out;
  const std::string log = ReadAll(table.File("Error.log"));
  EXPECT_NE(log.find("*** CQmsFolioRackTable::Open\nField 'PRICE' is of a potentially unsupported "
                     "datatype.\nAn attempt will be made to convert the data to a string "
                     "representation.\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("If you wish"), std::string::npos) << log;
  EXPECT_EQ(log.find("*** File:"), std::string::npos) << log;
  EXPECT_EQ(log.find("*** Line"), std::string::npos) << log;
}

// Number columns keep every digit: values that 32 bits cannot hold at the
// decimals they use are kept as their texts; others stay numbers.
TEST(GsbbuildInputsTest, NumbersKeepTheirDecimals) {
  TempDir dir;
  dir.Write("in.dbf", DbfBytes({{"NAME", 'C', 10, 0},
                                {"LON", 'N', 12, 6},
                                {"LAT", 'N', 12, 6},
                                {"FINE", 'N', 24, 15},
                                {"LONGER", 'N', 24, 15}},
                               {{"a", "-78.5", "35.25", "0.114000000000000", "33.915980747862420"},
                                {"b", "-79", "36", "1825.000000000000000", "-0.000000000000001"}}));
  Outcome run = RunGsbbuild(dir.path(), {"in.dbf", "out.gsb", "NAME"});
  ASSERT_EQ(run.status, kSuccess) << run.out;
  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("out.gsa").c_str());
  ASSERT_NE(file, nullptr);
  DlField* fine = DlFieldGet(file, "FINE");
  DlField* longer = DlFieldGet(file, "LONGER");
  ASSERT_NE(fine, nullptr);
  ASSERT_NE(longer, nullptr);
  EXPECT_EQ(DlFieldGetAttribute(fine, 10, nullptr, 0), 'N');
  EXPECT_EQ(DlFieldGetAttribute(fine, 3, nullptr, 0), 3);
  EXPECT_EQ(DlFieldGetAttribute(longer, 10, nullptr, 0), 'C');
  const struct {
    int32_t record;
    int32_t fine;
    const char* longer;
  } rows[] = {{1, 114, "33.915980747862420"}, {2, 1825000, "-0.000000000000001"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.record);
    ASSERT_EQ(DlFileSearchInt(file, r.record), 1);
    EXPECT_EQ(DlFieldGetNum(fine), r.fine);
    char text[64];
    ASSERT_EQ(DlFieldGetString(longer, nullptr, text, 63), 1);
    EXPECT_STREQ(text, r.longer);
  }
  DlTerm(context);
}

}  // namespace
