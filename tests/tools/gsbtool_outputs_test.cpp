// gsbtool's outputs as a hostile user meets them: an output that would
// replace an input (or a file read with it) is refused; a refused or failed
// import, trade area or export (a missing input, a bad level, a full disk)
// leaves the files at the output paths byte for byte and nothing beside
// them; the names the exports give; trade areas for every store, or a line
// for each store that got none.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::Outcome;
using testsupport::ReadAll;
using testsupport::SharedDataPath;
using testsupport::TempDir;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// gsbtool run in the folder, so that the words name its files as a user
// there would.
Outcome Tool(const TempDir& dir, const std::vector<std::string>& words) {
  std::vector<std::string> all = {"-c", "cd \"$0\" && exec \"$@\"", dir.path(), GSBTOOL_PATH};
  all.insert(all.end(), words.begin(), words.end());
  return testsupport::RunProgram(dir, "/bin/sh", all);
}

// The files of a folder with their bytes; the run's own standard input and
// error files left out.
std::map<std::string, std::string> Files(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != "stdin.txt" && name != "stderr.txt") files[name] = ReadAll(entry.path().string());
  }
  return files;
}

void CopyCounties(const TempDir& dir, const std::string& stem) {
  for (const char* extension : {".shp", ".shx", ".dbf"})
    dir.Write(stem + extension, ReadAll(SharedDataPath(std::string("nc/nc") + extension)));
}

// The names of a boundary file's objects, or none when it does not open.
std::set<std::string> ObjectNames(const std::string& path) {
  std::set<std::string> names;
  const uint32_t context = uint32_t(pipInit(0, ""));
  uint32_t file = 0;
  if (pipObjectFileOpen(context, path.c_str(), 2, &file) == 1) {
    char name[128];
    for (int32_t r = pipObjectFindFirstName(file, "*", name, sizeof name); r > 0;
         r = pipObjectFindNext(file, name, sizeof name))
      names.insert(name);
    pipObjectFileClose(file);
  }
  pipTerm(context);
  return names;
}

// Refusals happen before anything is read: stand-in files do.
TEST(GsbtoolOutputsTest, AnOutputThatIsAnInputIsRefused) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    const char* output;  // as named in the message
  } cases[] = {
      {"import: the table itself", {"import", "t.TAB", "t.TAB", "NAME"}, "t.TAB"},
      {"import: the table's map file", {"import", "t.TAB", "t.MAP", "NAME"}, "t.MAP"},
      {"import: the data file in another case", {"import", "t.TAB", "T.dat"}, "T.dat"},
      {"import: the object index", {"import", "t.TAB", "t.ID"}, "t.ID"},
      {"import: the field index", {"import", "t.TAB", "t.ind"}, "t.ind"},
      {"import: a shapefile's table", {"import", "x.shp", "x.dbf", "NAME"}, "x.dbf"},
      {"import: a shapefile's index", {"import", "x.shp", "X.SHX"}, "X.SHX"},
      {"import: interchange data", {"import", "p.pxf", "p.pxd"}, "p.pxd"},
      {"export: a table over its source", {"export", "tab", "src.gsb", "src.gsb"}, "src.gsb"},
      {"export: a table over the attribute file", {"export", "tab", "src.gsb", "src.gsa"}, "src.gsa"},
      {"trade areas over the stores", {"tradearea", "in.gsb", "c.csv", "in.gsb", "ring", "5"},
       "in.gsb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const char* f : {"t.TAB", "t.DAT", "t.MAP", "t.ID", "t.IND", "x.shp", "x.shx", "x.dbf",
                          "p.pxf", "p.pxd", "src.gsb", "src.gsa", "in.gsb", "c.csv"})
      dir.Write(f, std::string("the file ") + f);
    const auto before = Files(dir);
    const Outcome run = Tool(dir, c.words);
    EXPECT_EQ(run.status, kFailed);
    EXPECT_EQ(run.err, std::string("gsbtool: the output ") + c.output +
                           " would overwrite the input or a file that goes with it\n");
    EXPECT_EQ(Files(dir), before);
  }
}

// Every run below fails or is refused; out.gsb (and the earlier export's
// files) stay byte for byte, and nothing is left beside them.
TEST(GsbtoolOutputsTest, FailedRunsLeaveTheOutputsThatWereThere) {
  const std::string stores = "s1,-78.6,35.8\ns2,-80.8,35.2\n";
  const std::string twoCustomers = "s1,-78.61,35.81\ns1,-78.62,35.79\ns2,-80.81,35.21\n";
  struct Case {
    const char* name;
    std::vector<std::string> words;
    int status;
    const char* says;
  } cases[] = {
      {"import of a missing input", {"import", "nosuch.shp", "out.gsb"}, kFailed,
       "gsbtool: nosuch.shp: No such file or directory\n"},
      {"import of a shapefile without its table", {"import", "notable.shp", "out.gsb"}, kFailed,
       "notable.dbf"},
      {"import of a damaged shapefile", {"import", "cut.shp", "out.gsb", "NAME"}, kFailed,
       "gsbtool: reading cut.shp failed"},
      {"import of a projected shapefile", {"import", "utm.shp", "out.gsb", "NAME"}, kFailed,
       "gsbtool: reading utm.shp failed (100) Error: utm.prj names the projected coordinate "
       "system \"NAD83 / UTM zone 17N\". The input must be in degrees of longitude and "
       "latitude.\n"},
      {"trade areas with a negative radius", {"tradearea", "st.csv", "cu.csv", "out.gsb", "ring", "-5"},
       kUsage, "a radius must be a number of miles above 0"},
      {"trade areas from missing stores", {"tradearea", "none.csv", "cu.csv", "out.gsb", "ring", "5"},
       kFailed, "cannot read none.csv"},
      {"hulls where no store has three customers",
       {"tradearea", "st.csv", "cu.csv", "out.gsb", "hull", "0.5"}, kFailed,
       "gsbtool: no store got a trade area; out.gsb is left as it was\n"},
      {"export of a source that is no boundary file", {"export", "bna", "st.csv", "out"}, kFailed,
       "gsbtool: opening st.csv failed"},
      {"export of a shapefile of two kinds", {"export", "shp", "mixed.gsb", "out"}, kFailed,
       "holds objects of more than one kind"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CopyCounties(dir, "notable");
    std::filesystem::remove(dir.File("notable.dbf"));
    CopyCounties(dir, "utm");
    dir.Write("utm.prj", "PROJCS[\"NAD83 / UTM zone 17N\",GEOGCS[\"NAD83\"],UNIT[\"metre\",1]]");
    CopyCounties(dir, "cut");
    dir.Write("cut.shp", ReadAll(dir.File("cut.shp")).substr(0, 20000));
    dir.Write("st.csv", stores);
    dir.Write("cu.csv", twoCustomers);
    dir.Write("out.gsb", "boundary file of an earlier run");
    dir.Write("out.bna", "export of an earlier run");
    // Rings (regions) and the stores as points in one file.
    const std::string mixed = dir.File("mixed.gsb");
    {
      const uint32_t context = uint32_t(pipInit(0, ""));
      pipImportParamStruct params{};
      params.pointLimit = 1000;
      params.polygonLimit = 10;
      params.coordinateKind = 1;
      uint32_t import = 0;
      ASSERT_EQ(pipImportInit(context, mixed.c_str(), &params, &import), 1);
      pipObjectInfoStruct point{};
      std::snprintf(point.name, sizeof point.name, "P");
      point.kind = PIP_OBJECT_POINT;
      ASSERT_EQ(pipImportInsert(import, &point, nullptr, nullptr, 0), 1);
      pipObjectInfoStruct region{};
      std::snprintf(region.name, sizeof region.name, "R");
      region.kind = PIP_OBJECT_REGION;
      const int32_t ring[] = {0, 0, 1000, 0, 1000, 1000};
      const uint32_t counts[] = {3};
      ASSERT_EQ(pipImportInsert(import, &region, ring, counts, 1), 1);
      ASSERT_EQ(pipImportTerm(import, 1), 1);
      pipTerm(context);
    }
    const auto before = Files(dir);
    const Outcome run = Tool(dir, c.words);
    EXPECT_EQ(run.status, c.status) << run.out;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(Files(dir), before);
  }
}

// A full disk, as a file size limit makes one: each export fails, says so,
// and leaves neither a partial file nor a changed one.
TEST(GsbtoolOutputsTest, ExportOnAFullDiskLeavesNothingPartial) {
  TempDir dir;
  CopyCounties(dir, "nc");
  ASSERT_EQ(Tool(dir, {"import", "nc.shp", "nc.gsb", "NAME"}).status, 0);
  for (const char* f : {"out.bna", "out.pxf", "out.pxd", "out.shp", "out.TAB"})
    dir.Write(f, std::string("earlier ") + f);
  const auto before = Files(dir);
  for (const char* format : {"bna", "pxf", "shp", "tab"}) {
    SCOPED_TRACE(format);
    // Writes past 16 KiB fail with EFBIG instead of ending the program.
    const Outcome run = testsupport::RunProgram(
        dir, "/bin/sh",
        {"-c", "cd \"$0\" && trap '' XFSZ && ulimit -f 32 && exec \"$@\"", dir.path(),
         GSBTOOL_PATH, "export", format, "nc.gsb", "out"});
    EXPECT_EQ(run.status, kFailed) << run.out;
    EXPECT_NE(run.err.find("gsbtool: "), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Files(dir), before);
  }
}

// Each format's files take the output's stem; a map table without an
// extension gets ".TAB", and every export reads back whole.
TEST(GsbtoolOutputsTest, ExportsAreNamedByTheirFormat) {
  TempDir dir;
  CopyCounties(dir, "nc");
  ASSERT_EQ(Tool(dir, {"import", "nc.shp", "nc.gsb", "NAME"}).status, 0);
  struct Case {
    const char* format;
    const char* output;
    std::set<std::string> files;
    const char* readBack;
  } cases[] = {
      {"bna", "b", {"b.bna"}, "b.bna"},
      {"bna", "c.BNA", {"c.bna"}, "c.bna"},
      {"pxf", "p.pxf", {"p.pxf", "p.pxd"}, "p.pxf"},
      {"shp", "s.shp", {"s.shp", "s.shx", "s.dbf"}, "s.shp"},
      {"tab", "t", {"t.TAB", "t.DAT", "t.MAP", "t.ID"}, "t.TAB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    auto before = Files(dir);
    const Outcome run = Tool(dir, {"export", c.format, "nc.gsb", c.output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "nc.gsb: 100 objects written to " + std::string(c.readBack) + "\n");
    std::set<std::string> made;
    for (const auto& [name, bytes] : Files(dir))
      if (!before.count(name)) made.insert(name);
    EXPECT_EQ(made, c.files);
    const std::string back = std::string(c.readBack) + ".gsb";
    const Outcome read =
        Tool(dir, {"import", c.readBack, back, std::string(c.format) == "bna" ? "1" : "NAME"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(ObjectNames(dir.File(back)), ObjectNames(dir.File("nc.gsb")));
  }
  const Outcome unknown = Tool(dir, {"export", "kml", "nc.gsb", "out"});
  EXPECT_EQ(unknown.status, kUsage);
  EXPECT_EQ(unknown.err.rfind("gsbtool: unknown export format 'kml'\n", 0), 0u) << unknown.err;
}

TEST(GsbtoolOutputsTest, TradeAreaLevelsOutOfRangeAreRefused) {
  struct Case {
    const char* kind;
    const char* level;
    const char* says;
  } cases[] = {
      {"ring", "nan", "a radius must be a number of miles above 0 and at most 12420, not 'nan'"},
      {"ring", "inf", "not 'inf'"},
      {"nonoverlapping", "1e308", "not '1e308'"},
      {"ring", "0", "not '0'"},
      {"ring", "12421", "not '12421'"},
      {"hull", "1.5", "a share must be a number above 0 and at most 1, not '1.5'"},
      {"hull", "nan", "a share must be a number above 0 and at most 1, not 'nan'"},
      {"hull", "-0.5", "not '-0.5'"},
  };
  TempDir dir;
  dir.Write("st.csv", "s1,-78.6,35.8\n");
  dir.Write("cu.csv", "s1,-78.61,35.81\n");
  const auto before = Files(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.level);
    const Outcome run = Tool(dir, {"tradearea", "st.csv", "cu.csv", "out", c.kind, c.level});
    EXPECT_EQ(run.status, kUsage);
    EXPECT_EQ(run.err.rfind("gsbtool: ", 0), 0u);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(Files(dir), before);
  }
}

// Many stores close together: each gets its non-overlapping area, and a
// hull level a store cannot have is named with its reason.
TEST(GsbtoolOutputsTest, TradeAreasForEveryStoreOrAReason) {
  TempDir dir;
  std::string stores =
      "s1004,-120.14118,42.91704\ns7648,-120.05653,42.73887\ns9056,-120.54903,43.2132\n"
      "s9792,-119.83141,43.02508\n";
  std::mt19937 random(17);
  std::uniform_real_distribution<double> lon(-124, -67), lat(25, 49);
  for (int i = 0; i < 1500; ++i)
    stores += "r" + std::to_string(i) + "," + std::to_string(lon(random)) + "," +
              std::to_string(lat(random)) + "\n";
  dir.Write("st.csv", stores);
  dir.Write("cu.csv", "s1004,-120.1,42.9\ns1004,-120.2,42.95\ns1004,-120.15,42.8\n"
                      "s7648,-120.06,42.7\n");
  Outcome run = Tool(dir, {"tradearea", "st.csv", "cu.csv", "areas", "nonoverlapping", "100"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::set<std::string> names = ObjectNames(dir.File("areas.gsb"));
  EXPECT_EQ(names.size(), 1504u);
  for (const char* store : {"s1004", "s7648", "s9056", "s9792"})
    EXPECT_TRUE(names.count(std::string("PMA ") + store + " PT")) << store;

  run = Tool(dir, {"tradearea", "st.csv", "cu.csv", "hulls", "hull", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ObjectNames(dir.File("hulls.gsb")), (std::set<std::string>{"PMA s1004 PC"}));
  EXPECT_NE(run.err.find("gsbtool: store s7648 has no hull at level 1: of its 1 customers fewer "
                         "than three fall in the share, or they lie on one line\n"),
            std::string::npos)
      << run.err;
}

}  // namespace
