// The command line, file names of a build, and the splitting of row texts.
#include "builder/program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builder/builderror.h"
#include "builder/buildpath.h"
#include "builder/objbuild.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ProgramTest, CommandLines) {
  const struct {
    std::vector<std::string> args;
    bool ok;
    BuildCommand want;
  } cases[] = {
      {{"in.shp", "out.gsb"}, true, {false, false, "in.shp", "out.gsb", ""}},
      {{"/U", "in.shp", "out.gsb"}, true, {true, false, "in.shp", "out.gsb", ""}},
      {{"in.shp", "out.gsb", "NAME", "/log"}, true, {false, true, "in.shp", "out.gsb", "NAME"}},
      {{"in.shp", "out.gsb", "-LOG", "NAME"}, true, {false, true, "in.shp", "out.gsb", "NAME"}},
      {{"in.shp", "out.gsb", "A", "B"}, true, {false, false, "in.shp", "out.gsb", "B"}},
      {{"-u", "in.shp", "out.gsb", "A"}, true, {true, false, "in.shp", "out.gsb", "A"}},
      // "/u" is a flag only in the first place; later it names the id field.
      {{"in.shp", "out.gsb", "/u"}, true, {false, false, "in.shp", "out.gsb", "/u"}},
      {{"/log", "out.gsb"}, true, {false, false, "/log", "out.gsb", ""}},
      {{"/u", "in.shp"}, false, {}},
      {{"in.shp"}, false, {}},
      // The flag, both paths, the id field and "/Log", as the synopsis shows.
      {{"/u", "in.shp", "out.gsb", "NAME", "/Log"}, true, {true, true, "in.shp", "out.gsb", "NAME"}},
      {{"/u", "a", "b", "c", "d"}, true, {true, false, "a", "b", "d"}},
      {{"a", "b", "c", "d", "/Log"}, false, {}},
      {{"/u", "a", "b", "c", "d", "/Log"}, false, {}},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    BuildCommand got;
    ASSERT_EQ(ParseBuildCommand(c.args, &got), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(got.unbuffered, c.want.unbuffered);
    EXPECT_EQ(got.log, c.want.log);
    EXPECT_EQ(got.input, c.want.input);
    EXPECT_EQ(got.output, c.want.output);
    EXPECT_EQ(got.idField, c.want.idField);
  }
}

TEST(ProgramTest, NamesOfABuild) {
  EXPECT_EQ(OutputFolder("out/area.gsb"), "out");
  EXPECT_EQ(OutputFolder("D:\\gis\\area.gsb"), "D:\\gis");
  EXPECT_EQ(OutputFolder("area.gsb"), "");
  EXPECT_EQ(OutputFolder("/area.gsb"), "");
  EXPECT_EQ(LogPathOf("out/area.gsb"), "out/area.gsb.log");
  EXPECT_EQ(AttributePathOf("area.gsb"), "area.gsa");
  EXPECT_EQ(AttributePathOf("AREA.GSB"), "AREA.GSA");
  EXPECT_EQ(AttributePathOf("area.gsx"), "area.gsa");
  EXPECT_EQ(AttributePathOf("nc.out"), "nc.oua");
  EXPECT_EQ(AttributePathOf("out/zone"), "out/zona.dld");

  const struct {
    const char* input;
    const char* kind;
    const char* database;
  } kinds[] = {
      {"roads.Shp", "SHP", ""},
      {"C:\\in.shp\\roads.tab", "TAB", ""},
      {"data.csv.txt", "TXT", ""},
      {"x.dbfx", "DBFX", ""},
      {"noextension", "", ""},
      {"dir.v2/noextension", "", ""},
      {"parcels.mdb:Sites", "MDB", "parcels.mdb"},
      {"D:\\gis\\parcels.MDB:Sites", "MDB", "D:\\gis\\parcels.MDB"},
      {"parcels.mdb", "MDB", ""},
      {"a:b.shp", "SHP", ""},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.input);
    EXPECT_EQ(InputKind(k.input), k.kind);
    EXPECT_EQ(AccessDatabasePart(k.input), k.database);
  }
}

TEST(ProgramTest, CompanionFilesByCase) {
  testsupport::TempDir dir;
  dir.Write("ROADS.SHP", "");
  EXPECT_EQ(CompanionPath(dir.File("ROADS.SHP"), "dbf"), dir.File("ROADS.DBF"));
  EXPECT_EQ(CompanionPath(dir.File("roads.Shp"), "dbf"), dir.File("roads.Dbf"));
  dir.Write("Roads.dbf", "");
  EXPECT_EQ(CompanionPath(dir.File("ROADS.SHP"), "dbf"), dir.File("Roads.dbf"));
  dir.Write("ROADS.DBF", "");
  EXPECT_EQ(CompanionPath(dir.File("ROADS.SHP"), "dbf"), dir.File("ROADS.DBF"));

  dir.Write("db.mdb", "");
  EXPECT_TRUE(InputExists(dir.File("db.mdb:Table")));
  EXPECT_TRUE(InputExists(dir.File("db.mdb")));
  EXPECT_FALSE(InputExists(dir.File("other.mdb:Table")));
  EXPECT_TRUE(FolderWritable(dir.path()));
  EXPECT_FALSE(FolderWritable(dir.File("missing")));
  const std::string fresh = FreshFileName(dir.path(), "x_gsa.", ".dbf");
  ASSERT_FALSE(fresh.empty());
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST(ProgramTest, RowsSplitAtEverySeparator) {
  const struct {
    const char* row;
    std::vector<std::string> values;
  } cases[] = {
      {"1,\"Raleigh\",\"State capital\"", {"1", "Raleigh", "State capital"}},
      {"2,\"Fall line road\",", {"2", "Fall line road", ""}},
      {"a,,c", {"a", "", "c"}},
      {",", {"", ""}},
      {"", {""}},
      {"4,  \"Haw River\" ,\"river, with a comma\"", {"4", "Haw River ", "river, with a comma"}},
      {"5,\"Square with \"\"hole\"\"\",sq", {"5", "Square with \"hole\"", "sq"}},
      {"Main \"\"A\"\" St", {"Main \"A\" St"}},
      {"'it''s',x", {"it's", "x"}},
      {"O'Brien,x", {"O'Brien", "x"}},
      {"\"\",x", {"", "x"}},
      {"\"open to the end,y", {"open to the end,y"}},
      {"1\t\"two\"\t\t4", {"1", "two", "", "4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(SplitRow(c.row, ",\t"), c.values);
  }
}

}  // namespace

namespace {

// Message boxes are text on standard error on this platform.
struct Boxes : platform::EnvWrapper {
  using EnvWrapper::EnvWrapper;
  std::vector<std::string> shown;
  void ShowMessage(std::string_view title, std::string_view text) override {
    shown.push_back(std::string(title) + "|" + std::string(text));
  }
};

TEST(ProgramTest, ErrorRecordsShowABoxOnlyWhenAsked) {
  Boxes boxes(platform::Env::Current());
  platform::ScopedEnv scoped(boxes);
  BuildError quiet;
  quiet.Record(105, "a.pxd", "..\\src\\textread", 62);
  EXPECT_TRUE(boxes.shown.empty());
  BuildError loud(true);
  loud.Record(105, "a.pxd", "..\\src\\textread", 62);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0],
            "Error|Error: 105\nFile not found.\na.pxd\nError recorded in: ..\\src\\textread, (62).");
  loud.Record(-1, "", "", 0);  // clearing shows nothing
  EXPECT_EQ(boxes.shown.size(), 1u);
}

}  // namespace
