// gsbtool as users run it: the lines it reads (CR LF), the nearest search's
// distance and its cut-off note, the words it refuses, attribute names it
// does not know, its help and the bounds of info; what the README says of
// names (number ids, duplicates, exports, trade areas).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::FixturePath;
using testsupport::SharedDataPath;
using testsupport::TempDir;

using testsupport::Outcome;

Outcome Execute(const TempDir& dir, const char* program, const std::vector<std::string>& words,
                const std::string& input = "") {
  return testsupport::RunProgram(dir, program, words, input);
}

Outcome Tool(const TempDir& dir, const std::vector<std::string>& words, const std::string& input = "") {
  return Execute(dir, GSBTOOL_PATH, words, input);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The counties (by gsbbuild, with their attribute file), the cities (by
// gsbtool import, points named by city) and seven places with their
// populations (by gsbbuild from a text table), built once.
class GsbtoolTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    counties_ = dir_->File("nc.gsb");
    cities_ = dir_->File("cities.gsb");
    const Outcome built = Execute(*dir_, GSBBUILD_PATH, {SharedDataPath("nc/nc.shp"), counties_, "NAME"});
    ASSERT_EQ(built.status, 1) << built.out;
    const Outcome imported =
        Tool(*dir_, {"import", SharedDataPath("naturalearth/naturalearth_cities.shp"), cities_, "name"});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    for (const char* name : {"places.csv", "places.fmt"})
      std::filesystem::copy_file(FixturePath(std::string("tables/") + name), dir_->File(name));
    places_ = dir_->File("places.gsb");
    const Outcome table = Execute(*dir_, GSBBUILD_PATH, {dir_->File("places.csv"), places_, "NAME"});
    ASSERT_EQ(table.status, 1) << table.out;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static TempDir* dir_;
  static std::string counties_;
  static std::string cities_;
  static std::string places_;
};

TempDir* GsbtoolTest::dir_ = nullptr;
std::string GsbtoolTest::counties_;
std::string GsbtoolTest::cities_;
std::string GsbtoolTest::places_;

TEST_F(GsbtoolTest, PointLinesEndingInCrLfAreRead) {
  const Outcome run = Tool(*dir_, {"contains", counties_}, "-78.64 35.78\r\n-80.84,35.23\r\n\r\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-78.64 35.78: Wake\n-80.84 35.23: Mecklenburg\n\n");
  EXPECT_EQ(run.err, "");
}

// One line out for every line in: a blank line gives an empty one, a line
// that holds no point says so in its place (and the run ends with 1).
TEST_F(GsbtoolTest, AnswersStayInStepWithTheLinesAsked) {
  const std::string input = "-40 30\nabc\n\n-78.64 35.78\n-78.64\n";
  const Outcome run = Tool(*dir_, {"contains", counties_}, input);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "-40 30: -\nabc: not a point\n\n-78.64 35.78: Wake\n-78.64: not a point\n");
  EXPECT_EQ(run.err, "gsbtool: not a point: abc\ngsbtool: not a point: -78.64\n");
  const Outcome distance = Tool(*dir_, {"distance", counties_, "Wake"}, input);
  EXPECT_EQ(distance.status, 1);
  EXPECT_EQ(std::count(distance.out.begin(), distance.out.end(), '\n'), 5) << distance.out;
}

TEST_F(GsbtoolTest, NearestSaysWhenTheSearchDistanceCutTheAnswersOff) {
  // Mid-Atlantic: no city within the default 366000 feet.
  const std::string ocean = "-40 30\n";
  Outcome run = Tool(*dir_, {"nearest", cities_, "2"}, ocean);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-40 30: - [0 of 2 within the search distance of 366000 ft]\n");
  // The greatest distance reaches two cities, nearest first, and says nothing more.
  run = Tool(*dir_, {"nearest", cities_, "2", "--distance", "36521358"}, ocean);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.out, " ft)"), 2u) << run.out;
  EXPECT_EQ(run.out.find('['), std::string::npos) << run.out;
  // Near Paris with a short distance: one city within it, the note says so.
  run = Tool(*dir_, {"nearest", cities_, "-d", "30000", "3"}, "2.35 48.86\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Paris ("), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[1 of 3 within the search distance of 30000 ft]"), std::string::npos) << run.out;
}

// The criteria reach the search whole (they once pointed into words gone by
// then, which AddressSanitizer caught), also when the distance comes after
// them; a criterion the search cannot read fails with its reason.
TEST_F(GsbtoolTest, NearestWithCriteriaPassesOnlyTheObjectsThatMeetThem) {
  const std::string chicago = "-87.6 41.9\n";
  Outcome run = Tool(*dir_, {"nearest", places_, "2", "-d", "36521358"}, chicago);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("-87.6 41.9: Springfield (", 0), 0u) << run.out;
  run = Tool(*dir_, {"nearest", places_, "2", "POP > 250000", "-d", "36521358"}, chicago);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("-87.6 41.9: St. Louis (", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("; Washington, D.C. ("), std::string::npos) << run.out;
  run = Tool(*dir_, {"nearest", places_, "2", "POP >>"}, chicago);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("did not parse correctly"), std::string::npos) << run.err;
}

TEST_F(GsbtoolTest, RefusesWordsThatAreNoCountOrDistance) {
  struct Case {
    const char* why;
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {"zero", {"0"}, "k must be a whole number from 1 to 65536, not '0'"},
      {"negative", {"-3"}, "k must be a whole number from 1 to 65536, not '-3'"},
      {"fraction", {"2.5"}, "not '2.5'"},
      {"text", {"three"}, "not 'three'"},
      {"beyond the most", {"65537"}, "not '65537'"},
      {"distance too short", {"1", "--distance", "100"}, "the search distance must be whole feet"},
      {"distance missing", {"1", "-d"}, "the search distance must be whole feet"},
      {"distance not a number", {"1", "-d", "far"}, "the search distance must be whole feet"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = {"nearest", cities_};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const Outcome run = Tool(*dir_, words, "2.35 48.86\n");
    EXPECT_EQ(run.status, 2) << c.why;
    EXPECT_EQ(run.out, "") << c.why;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.why << ": " << run.err;
  }
}

TEST_F(GsbtoolTest, UnknownAttributeIsReportedOnce) {
  const Outcome run = Tool(*dir_, {"contains", counties_, "FIPS", "NOSUCH"}, "-78.64 35.78\n-80.84 35.23\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-78.64 35.78: Wake FIPS=37183\n-80.84 35.23: Mecklenburg FIPS=37119\n");
  EXPECT_EQ(run.err, "gsbtool: " + counties_ + ": no attribute named NOSUCH\n");
}

// Number fields of blanks or asterisks (tests/data/nulls: N and F columns)
// come back empty, never 0 or asterisks; a 0 stays 0.
TEST(GsbtoolEmptyNumbers, ContainsShowsThemEmpty) {
  TempDir dir;
  for (const char* ext : {"shp", "shx", "dbf"}) {
    dir.Write(std::string("nulls.") + ext,
              testsupport::ReadAll(testsupport::FixturePath(std::string("nulls/nulls.") + ext)));
  }
  const Outcome built = Execute(dir, GSBBUILD_PATH, {dir.File("nulls.shp"), dir.File("nulls.gsb"), "NAME"});
  ASSERT_EQ(built.status, 1) << built.out;
  const Outcome run = Tool(dir, {"contains", dir.File("nulls.gsb"), "LIFE", "POP", "RATE"},
                           "5 5\n25 5\n45 5\n65 5\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "5 5: full LIFE=72.5 POP=1234567 RATE=0.125\n"
            "25 5: blank LIFE= POP= RATE=\n"
            "45 5: stars LIFE= POP= RATE=\n"
            "65 5: mixed LIFE= POP=0 RATE=\n");
}

TEST_F(GsbtoolTest, HelpGoesToStandardOutputWithExitZero) {
  for (const char* flag : {"--help", "-h"}) {
    const Outcome run = Tool(*dir_, {flag});
    EXPECT_EQ(run.status, 0) << flag;
    EXPECT_EQ(run.out.rfind("usage: gsbtool import", 0), 0u) << flag << ": " << run.out;
    EXPECT_EQ(run.err, "") << flag;
  }
  // Without a command the usage is an error.
  const Outcome bare = Tool(*dir_, {});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err.rfind("usage: gsbtool import", 0), 0u);
}

// What went wrong, in one line that names it.
TEST_F(GsbtoolTest, MessagesNameWhatWentWrong) {
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string err;  // its start
  } cases[] = {
      {{"frob"}, 2, "gsbtool: unknown command 'frob'\nusage: gsbtool"},
      {{"frob", "x.gsb"}, 2, "gsbtool: unknown command 'frob'\nusage: gsbtool"},
      {{"names"}, 2, "gsbtool: wrong number of words for names\nusage: gsbtool"},
      {{"info", dir_->File("nosuch.gsb")}, 1,
       "gsbtool: opening " + dir_->File("nosuch.gsb") + " failed (2) No such file or directory\n"},
      {{"import", dir_->File("nosuch.shp"), dir_->File("o.gsb")}, 1,
       "gsbtool: " + dir_->File("nosuch.shp") + ": No such file or directory\n"},
      {{"tradearea", "s.csv", "c.csv", "o", "square", "5"}, 2,
       "gsbtool: unknown trade area kind 'square'\nusage: gsbtool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[0]);
    const Outcome run = Tool(*dir_, c.words);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
    // The failures are one line each.
    if (c.status == 1) {
      EXPECT_EQ(run.err, c.err);
    }
  }
}

TEST_F(GsbtoolTest, InfoShowsTheBoundsInDegrees) {
  const Outcome run = Tool(*dir_, {"info", counties_});
  EXPECT_EQ(run.status, 0) << run.err;
  long b[4];
  const size_t at = run.out.find("bounds       ");
  ASSERT_NE(at, std::string::npos) << run.out;
  ASSERT_EQ(std::sscanf(run.out.c_str() + at, "bounds %ld %ld %ld %ld", &b[0], &b[1], &b[2], &b[3]), 4);
  // Inside the counties' extent of the shapefile's header.
  EXPECT_NEAR(b[0], -84323862, 1000);
  EXPECT_NEAR(b[3], 36589649, 1000);
  char degrees[160];
  std::snprintf(degrees, sizeof degrees, "in degrees   %.6f %.6f %.6f %.6f (west south east north)\n",
                b[0] / 1e6, b[1] / 1e6, b[2] / 1e6, b[3] / 1e6);
  EXPECT_NE(run.out.find(degrees), std::string::npos) << run.out;
}

// ---- what the README says users meet ----------------------------------------------

// A number id field names objects by its text as the input gives it.
TEST_F(GsbtoolTest, NumberIdNamesFollowTheInput) {
  const std::string shp = SharedDataPath("nc/nc.shp");
  ASSERT_EQ(Execute(*dir_, GSBBUILD_PATH, {shp, dir_->File("fips.gsb"), "FIPSNO"}).status, 1);
  ASSERT_EQ(Execute(*dir_, LIO_PATH, {"load", shp, dir_->File("fips.TAB")}).status, 0);
  ASSERT_EQ(Execute(*dir_, GSBBUILD_PATH, {dir_->File("fips.TAB"), dir_->File("fipstab.gsb"), "FIPSNO"})
                .status,
            1);
  EXPECT_EQ(Tool(*dir_, {"name", dir_->File("fips.gsb"), "37009*"}).out, "37009.000000\n");
  EXPECT_EQ(Tool(*dir_, {"name", dir_->File("fipstab.gsb"), "37009*"}).out, "37009\n");
}

// Of 31 counties named Washington, distance measures to the first in the
// input's order: Washington County, Maryland.
TEST_F(GsbtoolTest, DistanceToADuplicateNameTakesTheFirstInTheInput) {
  const std::string us = dir_->File("us.gsb");
  ASSERT_EQ(Tool(*dir_, {"import", SharedDataPath("us/us_counties.shp"), us, "name"}).status, 0);
  EXPECT_EQ(Count(Tool(*dir_, {"name", us, "Washington"}).out, "\n"), 31u);
  // Inside Washington County, Maryland (Hagerstown), far from the others.
  const Outcome run = Tool(*dir_, {"distance", us, "Washington"}, "-77.72 39.64\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(" ft inside\n"), std::string::npos) << run.out;
}

// A shapefile export holds NAME and NAME2 only, its records in name order;
// trade areas are named by store and level.
TEST_F(GsbtoolTest, ExportAndTradeAreaNames) {
  ASSERT_EQ(Tool(*dir_, {"export", "shp", counties_, dir_->File("out")}).status, 0);
  DbfHandle dbf{};
  ASSERT_EQ(dbOpen(&dbf, dir_->File("out").c_str()), 0);
  ASSERT_EQ(dbf.fieldCount, 2u);
  EXPECT_STREQ(dbf.fields[0].name, "NAME");
  EXPECT_STREQ(dbf.fields[1].name, "NAME2");
  std::vector<std::string> names;
  while (dbRead(&dbf) == 0) {
    std::string n = dbf.fields[0].value.text;
    names.push_back(n.substr(0, n.find_last_not_of(' ') + 1));
  }
  dbClose(&dbf);
  ASSERT_EQ(names.size(), 100u);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

  const std::string stores = dir_->File("stores.csv"), customers = dir_->File("customers.csv");
  std::FILE* f = std::fopen(stores.c_str(), "w");
  std::fputs("S1,-78.64,35.78\n", f);
  std::fclose(f);
  f = std::fopen(customers.c_str(), "w");
  for (int i = 0; i < 20; ++i)
    std::fprintf(f, "S1,%.4f,%.4f\n", -78.64 + 0.01 * (i % 5 - 2) + 0.001 * i, 35.78 + 0.01 * (i / 5 - 2));
  std::fclose(f);
  const struct {
    std::vector<std::string> levels;
    const char* names;
  } kinds[] = {{{"ring", "1", "2", "3"}, "PMA S1 PR\nPMA S1 SR\nPMA S1 TR\n"},
               {{"nonoverlapping", "1", "2", "3"}, "PMA S1 PT\nPMA S1 ST\nPMA S1 TT\n"},
               {{"hull", "0.4", "0.7", "1"}, "PMA S1 PC\nPMA S1 SC\nPMA S1 ST\n"}};
  for (const auto& k : kinds) {
    std::vector<std::string> words = {"tradearea", stores, customers, dir_->File("ta.gsb")};
    words.insert(words.end(), k.levels.begin(), k.levels.end());
    const Outcome made = Tool(*dir_, words);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(Tool(*dir_, {"names", dir_->File("ta.gsb")}).out, k.names) << k.levels[0];
  }
}

}  // namespace
