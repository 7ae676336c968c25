// gsbbuild run as a command: its usage and path errors with their texts and
// exit values, builds of the real data sets checked against the input
// (objects and names in the boundary file, every attribute against ogrinfo),
// point tables, the log file, and failed or damaged builds that leave
// nothing behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/boundary/gsbfile_reader.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"

namespace {

using buildertest::ExpectAttributesAsOgr;
using buildertest::Feature;
using buildertest::OgrFeatures;
using buildertest::FilesIn;
using buildertest::Outcome;
using buildertest::RunGsbbuild;
using testsupport::ReadAll;
using testsupport::SharedDataPath;
using testsupport::TempDir;

constexpr int kSuccess = 1;
constexpr int kFailed = 0;
constexpr int kUsage = 255;

std::string UsageText() {
  return std::string("Usage: ") + GSBBUILD_PATH +
         " [/u] input_file output_gsb gsb_id_field<optional>\n"
         "\tThe optional flag /u will build the files unbuffered.\n"
         "\tInput_file must have a .tab, .shp, .csv, .txt, .dbf, .mdb  or .pxf extension.\n"
         "\tCsv and Txt files must have a Brevant format file.\n"
         "\tIf the input file is an mdb file, then the input file format is:\n"
         "\t\tdb_file.mdb:table_name.\n"
         "\tIf the optional gsb_id_field is specified, then that field from the\n"
         "\tinput file will be used as the Name in the GSB.\n"
         "\tIf the input file is an pxf file, there must an associated .pxd file present.\n";
}

// Copies a shapefile set (.shp, .shx, .dbf) into folder under name; with
// ascii, every byte above 127 of the table's records becomes '?'.
std::string CopyShapefile(const std::string& source, const TempDir& dir, const std::string& name,
                          bool ascii = false) {
  const std::string stem = source.substr(0, source.size() - 4);
  dir.Write(name + ".shp", ReadAll(stem + ".shp"));
  dir.Write(name + ".shx", ReadAll(stem + ".shx"));
  std::string dbf = ReadAll(stem + ".dbf");
  if (ascii) {
    const size_t header = uint8_t(dbf.at(8)) | (uint8_t(dbf.at(9)) << 8);
    for (size_t i = header; i < dbf.size(); ++i)
      if (uint8_t(dbf[i]) >= 0x80) dbf[i] = '?';
  }
  dir.Write(name + ".dbf", dbf);
  return dir.File(name + ".shp");
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The creation-time text of a boundary file's extension record.
std::string CreationTime(const gsbtest::File& file) {
  return file.HasExtension() == 1 ? gsbtest::Text(file.Bytes(), 536 + 288, 32) : std::string();
}

// The boundary file holds one object per input record that has a shape, by
// its record number, named by the name field; the attribute file holds
// every record as ogrinfo reads the table.
void ExpectBuiltAsInput(const TempDir& dir, const std::string& dbf, const std::string& nameField,
                        const Outcome& run, const std::map<std::string, uint32_t>& decimals = {},
                        const std::set<std::string>& textNumbers = {}) {
  ASSERT_EQ(run.status, kSuccess) << run.out;
  std::vector<Feature> features = OgrFeatures(dbf, true);
  if (features.empty()) GTEST_SKIP() << "ogrinfo (gdal-bin) is not available";
  gsbtest::File gsb(dir.File("out.gsb"));
  std::vector<gsbtest::Record> records = gsb.Records();
  size_t skipped = 0;
  for (size_t at = 0; (at = run.out.find("Feature type not recognized", at)) != std::string::npos;
       ++at)
    ++skipped;
  EXPECT_EQ(records.size() + skipped, features.size());
  std::set<uint32_t> numbers;
  for (const gsbtest::Record& r : records) {
    ASSERT_GE(r.recordNumber, 1u);
    ASSERT_LE(r.recordNumber, features.size());
    EXPECT_TRUE(numbers.insert(r.recordNumber).second) << r.recordNumber;
    const Feature& f = features[r.recordNumber - 1];
    EXPECT_EQ(r.name, Trimmed(f.at(nameField).second).substr(0, 127)) << r.recordNumber;
    if (auto point = f.find("POINT"); point != f.end()) {
      double x = 0, y = 0;
      ASSERT_EQ(std::sscanf(point->second.second.c_str(), "%lf %lf", &x, &y), 2);
      EXPECT_EQ(r.kind, 2);
      EXPECT_EQ(r.x, int32_t(std::llround(x * 1e6))) << r.recordNumber;
      EXPECT_EQ(r.y, int32_t(std::llround(y * 1e6))) << r.recordNumber;
    }
  }
  // The attribute file carries the boundary file's creation time.
  const std::string created = CreationTime(gsb);
  EXPECT_FALSE(created.empty());
  DlContext* context = DlInit("");
  DlFile* attributes = DlFileOpen(context, dir.File("out.gsa").c_str());
  ASSERT_NE(attributes, nullptr);
  char stamp[64] = {};
  ASSERT_EQ(DlFileGetAttribute(attributes, 3, stamp, 63), 1);
  EXPECT_EQ(std::string(stamp), created.substr(0, 34));
  DlTerm(context);
  const size_t fields = features.empty() ? 0 : features[0].size() - features[0].count("POINT");
  ExpectAttributesAsOgr(dir.File("out.gsa"), features, fields + 1, decimals,
                        CreationTime(gsb).c_str(), textNumbers);
  // Only the two outputs remain: no temporary table, index or sort file.
  std::set<std::string> left = FilesIn(dir.path());
  for (const std::string& name : left)
    EXPECT_TRUE(name.rfind("in.", 0) == 0 || name == "out.gsb" || name == "out.gsa") << name;
}

TEST(GsbbuildTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"in.shp"},
      {"/u", "in.shp"},  // the flag leaves one path: no output path
      {"-U", "in.shp"},
      {"in.shp", "out.gsb", "A", "NAME", "/Log"},  // five words without the flag
  };
  TempDir dir;
  for (const auto& words : cases) {
    SCOPED_TRACE(std::to_string(words.size()) + " words");
    Outcome run = RunGsbbuild(dir.path(), words);
    EXPECT_EQ(run.status, kUsage);
    EXPECT_EQ(run.out, UsageText());
  }
  EXPECT_TRUE(FilesIn(dir.path()).empty());
}

TEST(GsbbuildTest, HelpPrintsTheUsageAndExitsZero) {
  TempDir dir;
  for (const char* flag : {"--help", "-h"}) {
    SCOPED_TRACE(flag);
    Outcome run = RunGsbbuild(dir.path(), {flag});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, UsageText());
  }
  EXPECT_TRUE(FilesIn(dir.path()).empty());
}

// A map table is read with its data, map, object index and field index
// files: an output that names any of them, in any letter case, is refused
// and every one stays as it was.
TEST(GsbbuildTest, OutputOverAMapTableFileIsRefused) {
  TempDir dir;
  const std::set<std::string> files = {"t.TAB", "t.DAT", "t.MAP", "t.ID", "t.IND"};
  for (const std::string& f : files) dir.Write(f, "table part " + f);
  for (const char* output : {"t.TAB", "T.tab", "t.DAT", "t.MAP", "t.map", "t.ID", "t.Ind"}) {
    SCOPED_TRACE(output);
    Outcome run = RunGsbbuild(dir.path(), {"t.TAB", output, "NAME"});
    EXPECT_EQ(run.status, kUsage);
    EXPECT_EQ(run.out, std::string("Error: The output file (") + output +
                           ") would overwrite the input or a file that goes with it.\n");
    EXPECT_EQ(FilesIn(dir.path()), files);
    for (const std::string& f : files) EXPECT_EQ(ReadAll(dir.File(f)), "table part " + f);
  }
}

TEST(GsbbuildTest, PathErrors) {
  TempDir dir;
  dir.Write("in.shp", "");
  dir.Write("in.dbf", "table");
  dir.Write("in.abc", "x");
  const std::string inputMissing =
      "Error opening input file (missing.shp).\nPlease check that the path is correct.\n";
  const struct {
    const char* name;
    std::vector<std::string> words;
    std::string out;
  } cases[] = {
      {"missing input", {"missing.shp", "out.gsb"}, inputMissing},
      {"input tested before the folder", {"missing.shp", "nodir/out.gsb"}, inputMissing},
      {"missing folder",
       {"in.shp", "nodir/sub/out.gsb"},
       "Your output folder does not exist: (nodir/sub).\n"
       "This will prevent output from being created.\n"
       "Please check that the path is correct.\n"},
      {"backslash folder", {"in.shp", "nodir\\out.gsb"}, "Your output folder does not exist: (nodir).\n"
       "This will prevent output from being created.\n"
       "Please check that the path is correct.\n"},
      {"unknown kind", {"in.abc", "out.gsb"},
       "Error: Input file type (in.abc) not recognized! Process halting.\n"},
      {"kind by the last extension", {"in.shp.abc", "out.gsb"},
       "Error opening input file (in.shp.abc).\nPlease check that the path is correct.\n"},
      {"output named like its attribute file", {"in.shp", "out.gsa"},
       "Error: The output file (out.gsa) must not end in the letter a: that name is its "
       "attribute file's.\n"},
      {"output over the input", {"in.shp", "IN.SHP"},
       "Error: The output file (IN.SHP) would overwrite the input or a file that goes with "
       "it.\n"},
      {"output over the input's table", {"in.shp", "in.dbf"},
       "Error: The output file (in.dbf) would overwrite the input or a file that goes with "
       "it.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome run = RunGsbbuild(dir.path(), c.words);
    EXPECT_EQ(run.status, kUsage);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"in.shp", "in.dbf", "in.abc"}));
    EXPECT_EQ(ReadAll(dir.File("in.dbf")), "table");
  }
  // The log repeats the entry routine's lines.
  Outcome run = RunGsbbuild(dir.path(), {"missing.shp", "out.gsb", "/log"});
  EXPECT_EQ(run.status, kUsage);
  EXPECT_EQ(ReadAll(dir.File("out.gsb.log")), inputMissing);
}

// An input the engine cannot open ends the run before anything is built,
// with the engine's reason, and leaves no output (the engine made the file
// when the import started).
TEST(GsbbuildTest, InputThatDoesNotOpen) {
  TempDir dir;
  dir.Write("in.shp", ReadAll(SharedDataPath("nc/nc.shp")));  // no .shx, no .dbf
  Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "NAME"});
  EXPECT_EQ(run.status, kUsage);
  EXPECT_NE(run.out.find("Arealis error data: "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Message: ,"), std::string::npos) << run.out;
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"in.shp"});
}

TEST(GsbbuildTest, NorthCarolinaCountiesWithTheLog) {
  TempDir dir;
  const std::string input = CopyShapefile(SharedDataPath("nc/nc.shp"), dir, "in");
  Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "NAME", "/Log"});
  const std::regex expected(
      "Processing...\n"
      "Opened file...\n"
      "Indexing to QRECID\n"
      "Reading: \\./out_gsa\\.[a-z0-9]{6}\\.dbf\n"
      "Added 100 of 100...\r"
      "Added 100 of 100...\n"
      "Created out.gsb successfully.\n");
  EXPECT_TRUE(std::regex_match(run.out, expected)) << run.out;
  EXPECT_EQ(ReadAll(dir.File("out.gsb.log")), "Processing...\nCreated out.gsb successfully.\n");
  std::filesystem::remove(dir.File("out.gsb.log"));
  ExpectBuiltAsInput(dir, input.substr(0, input.size() - 4) + ".dbf", "NAME", run,
                     {{"AREA", 3}, {"CNTY_", 0}, {"CRESS_ID", 0}});
}

// "/u" builds without the segment records of distance searches.
TEST(GsbbuildTest, UnbufferedBuild) {
  for (bool unbuffered : {false, true}) {
    TempDir dir;
    CopyShapefile(SharedDataPath("nc/nc.shp"), dir, "in");
    std::vector<std::string> words = {"in.shp", "out.gsb", "NAME"};
    if (unbuffered) words.insert(words.begin(), "/U");
    ASSERT_EQ(RunGsbbuild(dir.path(), words).status, kSuccess);
    EXPECT_EQ(gsbtest::File(dir.File("out.gsb")).Flags() & PIP_IMPORT_SEGMENTS,
              unbuffered ? 0 : PIP_IMPORT_SEGMENTS);
  }
}

// The data sets whose tables hold accented names, with those bytes made
// plain ('?'): the files agree with the input record by record.
TEST(GsbbuildTest, RealDataSetsAgreeWithTheirInput) {
  const struct {
    const char* set;
    const char* nameField;
  } cases[] = {
      {"naturalearth/naturalearth_lowres.shp", "name"},
      {"naturalearth/naturalearth_cities.shp", "name"},
      {"us/us_counties.shp", "name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    TempDir dir;
    const std::string input = CopyShapefile(SharedDataPath(c.set), dir, "in", true);
    Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", c.nameField});
    // naturalearth's pop_est needs more than 32 bits at its decimals.
    ExpectBuiltAsInput(dir, dir.File("in.dbf"), c.nameField, run, {}, {"pop_est"});
  }
}

// Attribute files keep 7-bit text: a table with accented names is refused,
// on the console and in the log, each such record listed by its number and
// field, and nothing is left.
TEST(GsbbuildTest, ExtendedCharactersAreRefused) {
  const struct {
    const char* set;
    long record;
    const char* row;
    long count;
  } cases[] = {
      {"naturalearth/naturalearth_lowres.shp", 61,
       "25716544.000000000000000\tAfrica\tC\xF4te d'Ivoire\tCIV\t58539", 1},
      {"naturalearth/naturalearth_cities.shp", 47, "Lom\xE9", 12},
      {"us/us_counties.shp", 23, "72033\tCata\xF1o", 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    TempDir dir;
    CopyShapefile(SharedDataPath(c.set), dir, "in");
    Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "name", "-log"});
    EXPECT_EQ(run.status, kFailed);
    const std::string listed = "Record " + std::to_string(c.record) +
                               ", field NAME, has extended ASCII characters:\n " + c.row + "\n";
    const std::string counted = std::to_string(c.count) + " records have extended ASCII characters.\n";
    EXPECT_NE(run.out.find("ERROR: gsbbuild failed. Extended ASCII characters are not supported.\n" +
                           listed),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(counted), std::string::npos) << run.out;
    const std::string log = ReadAll(dir.File("out.gsb.log"));
    EXPECT_EQ(log.rfind("Processing...\nERROR: gsbbuild failed. extended ASCII characters are "
                        "not supported.\n" + listed, 0), 0u) << log;
    EXPECT_TRUE(log.ends_with(counted)) << log;
    size_t lines = 0;
    for (size_t at = 0; (at = log.find(", has extended ASCII characters:", at)) != std::string::npos;
         ++at)
      ++lines;
    EXPECT_EQ(long(lines), c.count);
    EXPECT_EQ(FilesIn(dir.path()),
              (std::set<std::string>{"in.shp", "in.shx", "in.dbf", "out.gsb.log"}));
  }
}

// Files of the user's with the names the original program took for its
// temporary files stay as they were.
TEST(GsbbuildTest, TemporaryFilesTakeFreshNames) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("work"));
  std::filesystem::create_directory(dir.File("out"));
  CopyShapefile(SharedDataPath("nc/nc.shp"), dir, "in");
  dir.Write("out/area_gsa.dbf", "mine");
  dir.Write("work/QRECID.cdx", "mine too");
  Outcome run = RunGsbbuild(dir.File("work"), {"../in.shp", "../out/area.gsb", "NAME"});
  ASSERT_EQ(run.status, kSuccess) << run.out;
  EXPECT_EQ(ReadAll(dir.File("out/area_gsa.dbf")), "mine");
  EXPECT_EQ(ReadAll(dir.File("work/QRECID.cdx")), "mine too");
  EXPECT_EQ(FilesIn(dir.File("out")),
            (std::set<std::string>{"area.gsb", "area.gsa", "area_gsa.dbf"}));
  EXPECT_EQ(FilesIn(dir.File("work")), std::set<std::string>{"QRECID.cdx"});
}

// Upper-case names: the table beside ROADS.SHP is ROADS.DBF, found also when
// it is spelt otherwise; the attribute file of OUT.GSB is OUT.GSA.
TEST(GsbbuildTest, CompanionFilesKeepTheirCase) {
  TempDir dir;
  CopyShapefile(SharedDataPath("nc/nc.shp"), dir, "ROADS");
  std::filesystem::rename(dir.File("ROADS.dbf"), dir.File("Roads.Dbf"));
  std::filesystem::rename(dir.File("ROADS.shp"), dir.File("ROADS.SHP"));
  std::filesystem::rename(dir.File("ROADS.shx"), dir.File("ROADS.SHX"));
  Outcome run = RunGsbbuild(dir.path(), {"ROADS.SHP", "OUT.GSB", "NAME"});
  ASSERT_EQ(run.status, kSuccess) << run.out;
  EXPECT_TRUE(std::filesystem::exists(dir.File("OUT.GSA")));
}

// A build that fails after the input opened exits with 0 and leaves nothing
// of its own; the files of an earlier run stay as they were.
TEST(GsbbuildTest, FailedBuildsLeaveNoOutput) {
  const struct {
    const char* name;
    size_t shpBytes;      // 0: whole
    char dbfVersion;      // 0: as it is
  } cases[] = {
      {"shape file cut short", 20000, 0},
      // The engine reads the names; the xBase table wants the memo file the
      // version byte announces, so the attribute step fails.
      {"table that the attribute step cannot open", 0, '\x83'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CopyShapefile(SharedDataPath("nc/nc.shp"), dir, "in");
    if (c.shpBytes) dir.Write("in.shp", ReadAll(dir.File("in.shp")).substr(0, c.shpBytes));
    if (c.dbfVersion) {
      std::string dbf = ReadAll(dir.File("in.dbf"));
      dbf[0] = c.dbfVersion;
      dir.Write("in.dbf", dbf);
    }
    dir.Write("out.gsa", "from an earlier run");
    Outcome run = RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "NAME"});
    EXPECT_EQ(run.status, kFailed) << run.out;
    for (const std::string& name : FilesIn(dir.path()))
      EXPECT_TRUE(name.rfind("in.", 0) == 0 || name == "Error.log" || name == "out.gsa") << name;
    EXPECT_EQ(ReadAll(dir.File("out.gsa")), "from an earlier run");
  }
}

}  // namespace

namespace {

using buildertest::DbfBytes;

// One row of a point table: its texts as written and the point expected.
struct PointRow {
  std::string name, lon, lat, pop;
  int32_t x, y;
};

// A coordinate of nine decimals, k billionths of a degree, and the
// millionths it rounds to (halves away from zero).
std::string Billionths(int64_t k, int32_t* rounded) {
  const int64_t magnitude = k < 0 ? -k : k;
  const int64_t millionths = (magnitude + 500) / 1000;
  *rounded = int32_t(k < 0 ? -millionths : millionths);
  char text[32];
  std::snprintf(text, sizeof text, "%s%lld.%09lld", k < 0 ? "-" : "", (long long)(magnitude / 1000000000),
                (long long)(magnitude % 1000000000));
  return text;
}

std::vector<PointRow> PointRows() {
  std::vector<PointRow> rows = {
      {"degrees", "-74.25", "40.5", "1", -74250000, 40500000},
      {"millionths", "-74250000", "40500000", "2", -74250000, 40500000},
      // A latitude of 0 reads both as millionths.
      {"zero latitude", "12.5", "0", "3", 13, 0},
      {"halves", "-0.0000005", "0.0000015", "4", -1, 2},
      {"Durham, NC", "-78.898619", "35.994033", "5", -78898619, 35994033},
      {"edges", "-180", "90", "6", -180000000, 90000000},
  };
  std::mt19937_64 random(5);
  for (int i = 0; i < 300; ++i) {
    PointRow r;
    r.name = "P" + std::to_string(i);
    r.pop = std::to_string(i * 37);
    r.lon = Billionths(int64_t(random() % 360000000001ull) - 180000000000ll, &r.x);
    r.lat = Billionths(int64_t(random() % 179000000001ull) - 89500000000ll, &r.y);
    rows.push_back(r);
  }
  return rows;
}

std::string Right(const std::string& s, size_t width) {
  return std::string(width - std::min(width, s.size()), ' ') + s;
}

// The table of rows in a format of the table library, at dir/in.<kind>.
std::string WritePointTable(const TempDir& dir, const std::string& kind,
                            const std::vector<PointRow>& rows) {
  const std::string fields = "NAME C 20\nLON N 14.9\nLAT N 14.9\nPOP N 10\n";
  if (kind == "dbf") {
    std::vector<std::vector<std::string>> values;
    for (const PointRow& r : rows) values.push_back({r.name, r.lon, r.lat, r.pop});
    return dir.Write("in.dbf", DbfBytes({{"NAME", 'C', 20, 0},
                                         {"LON", 'N', 14, 9},
                                         {"LAT", 'N', 14, 9},
                                         {"POP", 'N', 10, 0}},
                                        values));
  }
  std::string text;
  if (kind == "csv") {
    dir.Write("in.fmt", "TYPE=,\nFLN=Yes\n" + fields);
    text = "NAME,LON,LAT,POP\n";
    for (const PointRow& r : rows) text += "\"" + r.name + "\"," + r.lon + "," + r.lat + "," + r.pop + "\n";
  } else {
    dir.Write("in.fmt", "; fixed-width points\nTYPE=Fixed\nEOL=LF\nFLN=No\n" + fields);
    for (const PointRow& r : rows)
      text += (r.name + std::string(20 - r.name.size(), ' ')) + Right(r.lon, 14) + Right(r.lat, 14) +
              Right(r.pop, 10) + "\n";
  }
  return dir.Write("in." + kind, text);
}

// One point per row at its coordinates rounded to millionths, named by the
// id field, with the row's attributes under its record number.
TEST(GsbbuildTest, PointTablesOnePointPerRow) {
  const std::vector<PointRow> rows = PointRows();
  for (const char* kind : {"dbf", "csv", "txt"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    WritePointTable(dir, kind, rows);
    Outcome run = RunGsbbuild(dir.path(), {std::string("in.") + kind, "out.gsb", "NAME"});
    ASSERT_EQ(run.status, kSuccess) << run.out;
    std::vector<gsbtest::Record> records = gsbtest::File(dir.File("out.gsb")).Records();
    ASSERT_EQ(records.size(), rows.size());
    std::vector<const gsbtest::Record*> byNumber(rows.size() + 1, nullptr);
    for (const gsbtest::Record& r : records) {
      ASSERT_GE(r.recordNumber, 1u);
      ASSERT_LE(r.recordNumber, rows.size());
      byNumber[r.recordNumber] = &r;
    }
    DlContext* context = DlInit("");
    DlFile* file = DlFileOpen(context, dir.File("out.gsa").c_str());
    ASSERT_NE(file, nullptr);
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(rows[i].name);
      const gsbtest::Record* r = byNumber[i + 1];
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->kind, 2);
      EXPECT_EQ(r->name, rows[i].name);
      EXPECT_EQ(r->x, rows[i].x);
      EXPECT_EQ(r->y, rows[i].y);
      ASSERT_EQ(DlFileSearchInt(file, int32_t(i + 1)), 1);
      char text[64];
      ASSERT_EQ(DlFieldGetString(DlFieldGet(file, "NAME"), nullptr, text, 63), 1);
      EXPECT_EQ(std::string(text), rows[i].name);
      EXPECT_EQ(DlFieldGetNum(DlFieldGet(file, "POP")), std::stoi(rows[i].pop));
    }
    DlTerm(context);
  }
}

// A point beyond the earth's coordinates fails the build with a line naming
// its row, and nothing is left.
TEST(GsbbuildTest, PointsOutOfRangeFailTheBuild) {
  const struct {
    const char* lon;
    const char* lat;
  } cases[] = {{"180.000001", "10"}, {"-10", "90.0000005"}, {"200000000", "40000000"},
               {"1e300", "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lon) + " " + c.lat);
    TempDir dir;
    std::vector<PointRow> rows = {{"fine", "1", "2", "1", 0, 0}, {"far", c.lon, c.lat, "2", 0, 0}};
    WritePointTable(dir, "csv", rows);
    Outcome run = RunGsbbuild(dir.path(), {"in.csv", "out.gsb", "NAME"});
    EXPECT_EQ(run.status, kFailed) << run.out;
    EXPECT_NE(run.out.find("Error: Coordinates out of range in row 2: longitude (" +
                           std::string(c.lon) + "), latitude (" + c.lat + ")."),
              std::string::npos)
        << run.out;
    EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"in.csv", "in.fmt"}));
  }
}

TEST(GsbbuildTest, PointTablesWithoutTheirFields) {
  TempDir dir;
  dir.Write("in.dbf", DbfBytes({{"NAME", 'C', 20, 0}, {"X", 'N', 10, 4}}, {{"a", "1"}}));
  Outcome run = RunGsbbuild(dir.path(), {"in.dbf", "out.gsb"});
  EXPECT_EQ(run.status, kUsage);
  EXPECT_EQ(run.out,
            "Error: Longitude field was not found in the input table! Expected: LON, LONGITUDE, "
            "or N_LON.\nError: Latitude field was not found in the input table! Expected: LAT, "
            "LATITUDE, or N_LAT.\n");
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"in.dbf"});
}

}  // namespace

namespace {

// Damaged inputs of every kind end with a message and 0 or 255, never a
// crash, and leave no output.
TEST(GsbbuildTest, DamagedInputs) {
  const std::string nc = ReadAll(SharedDataPath("nc/nc.shp"));
  const std::string ncShx = ReadAll(SharedDataPath("nc/nc.shx"));
  const std::string ncDbf = ReadAll(SharedDataPath("nc/nc.dbf"));
  std::string shuffled = nc;
  for (size_t i = 100; i < shuffled.size(); i += 7) shuffled[i] = char(shuffled[i] * 31 + 7);
  std::string shortHeader = ncDbf.substr(0, 40);
  const std::string points = DbfBytes({{"LON", 'N', 10, 4}, {"LAT", 'N', 10, 4}}, {{"1", "2"}});
  std::string pointsCut = points.substr(0, points.size() - 12);
  std::string pointsWide = points;
  pointsWide[10] = '\x40';  // record length beyond the file
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::string input;
  } cases[] = {
      {"shapes overwritten", {{"in.shp", shuffled}, {"in.shx", ncShx}, {"in.dbf", ncDbf}}, "in.shp"},
      {"table header cut short", {{"in.shp", nc}, {"in.shx", ncShx}, {"in.dbf", shortHeader}},
       "in.shp"},
      {"point table cut short", {{"in.dbf", pointsCut}}, "in.dbf"},
      {"point table with a record longer than the file", {{"in.dbf", pointsWide}}, "in.dbf"},
      {"empty point table file", {{"in.dbf", ""}}, "in.dbf"},
      {"text without its format file", {{"in.csv", "LON,LAT\n1,2\n"}}, "in.csv"},
      {"format file of binary bytes",
       {{"in.csv", "LON,LAT\n1,2\n"}, {"in.fmt", std::string("\x00\x01\xFF\n\x7F", 5)}}, "in.csv"},
      {"fixed text of the wrong line length",
       {{"in.txt", "  1  2\n 3\n"}, {"in.fmt", "TYPE=Fixed\nLON N 3\nLAT N 3\n"}}, "in.txt"},
      {"interchange columns without end",
       {{"in.pxf", "Version 300\nColumns 99999999\n A Char(3)\n"}, {"in.pxd", "1\n"}}, "in.pxf"},
      {"interchange data line too long",
       {{"in.pxf", "Version 300\nColumns 1\n A Char(3)\nData\nPoint 1 2\n"},
        {"in.pxd", std::string(5000, 'x') + "\n"}},
       "in.pxf"},
      {"interchange without data file", {{"in.pxf", "Version 300\nData\nPoint 1 2\n"}}, "in.pxf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& [name, bytes] : c.files) dir.Write(name, bytes);
    Outcome run = RunGsbbuild(dir.path(), {c.input, "out.gsb", "NAME"});
    EXPECT_TRUE(run.status == kFailed || run.status == kUsage) << run.status << "\n" << run.out;
    EXPECT_FALSE(run.out.empty());
    for (const std::string& name : FilesIn(dir.path()))
      EXPECT_TRUE(name.rfind("in.", 0) == 0 || name == "Error.log") << name;
  }
}

}  // namespace
