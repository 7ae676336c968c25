// gsbtool's radius, knearest and zip4 commands as users run them: the
// answers of the radius search and of the ZIP+4 search, one line each, and
// the words they refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/services/services_fixture.h"
#include "tests/support/program_run.h"

namespace {

using testsupport::Outcome;

testsupport::Outcome Tool(const testsupport::TempDir& dir, const std::vector<std::string>& words,
                          const std::string& input = "") {
  return testsupport::RunProgram(dir, GSBTOOL_PATH, words, input);
}

// "name (123 ft); name (45 ft)" as its names; "-" as none.
std::vector<std::string> Names(const std::string& hits) {
  std::vector<std::string> out;
  if (hits == "-") return out;
  for (size_t at = 0; at < hits.size();) {
    const size_t open = hits.find(" (", at);
    if (open == std::string::npos) break;
    out.push_back(hits.substr(at, open - at));
    const size_t next = hits.find("; ", open);
    at = next == std::string::npos ? hits.size() : next + 2;
  }
  return out;
}

// The names the library's radius search gives for one query, in its order.
std::vector<std::string> LibraryNames(uint32_t search, bool nearest, int32_t x, int32_t y,
                                      int32_t n) {
  std::vector<std::string> out;
  int32_t hx, hy;
  char name[128];
  int32_t r = nearest ? pipRadFindFirstNearest(search, x, y, n, &hx, &hy, name, sizeof name)
                      : pipRadFindFirstInRadius(search, x, y, n, &hx, &hy, name, sizeof name);
  for (; r > 0; r = pipRadFindNext(search, &hx, &hy, name, sizeof name)) out.push_back(name);
  return out;
}

TEST(GsbtoolSearch, RadiusAndKNearestAnswerAsTheRadiusSearch) {
  const std::string cities = svctest::RealFile(svctest::kCities);
  ASSERT_FALSE(cities.empty());
  testsupport::TempDir dir;
  struct Query {
    const char* line;
    int32_t x, y;
  };
  const std::vector<Query> queries = {
      {"2.35 48.86", 2350000, 48860000},
      {"-74 40.7", -74000000, 40700000},
      {"-40 30", -40000000, 30000000},  // mid-Atlantic
      {"139.7 35.7", 139700000, 35700000},
  };
  std::string input;
  for (const Query& q : queries) input += std::string(q.line) + "\r\n";
  svctest::Context c;
  svctest::OpenFile file(c, cities);
  ASSERT_TRUE(file.ok());
  uint32_t search = 0;
  ASSERT_EQ(pipRadInit(c.handle(), 1, &search), 1);
  ASSERT_EQ(pipRadLoadPoints(search, file.handle()), 1);
  struct Command {
    const char* word;
    const char* number;
    bool nearest;
  };
  for (const Command& k : {Command{"radius", "1500000", false}, Command{"knearest", "4", true}}) {
    const Outcome run = Tool(dir, {k.word, cities, k.number}, input);
    EXPECT_EQ(run.status, 0) << k.word << ": " << run.err;
    EXPECT_EQ(run.err, "") << k.word;
    size_t at = 0;
    size_t some = 0;
    for (const Query& q : queries) {
      const size_t end = run.out.find('\n', at);
      ASSERT_NE(end, std::string::npos) << k.word << ": " << run.out;
      const std::string line = run.out.substr(at, end - at);
      at = end + 1;
      const std::string head = std::string(q.line) + ": ";
      ASSERT_EQ(line.substr(0, head.size()), head) << k.word;
      const std::vector<std::string> expect =
          LibraryNames(search, k.nearest, q.x, q.y, std::stoi(k.number));
      EXPECT_EQ(Names(line.substr(head.size())), expect) << k.word << " " << q.line;
      some += expect.empty() ? 0 : 1;
    }
    EXPECT_EQ(at, run.out.size()) << k.word;
    EXPECT_GE(some, 3u) << k.word;
  }
  pipRadTerm(search);
  // The ocean point has no city within the radius.
  const Outcome ocean = Tool(dir, {"radius", cities, "1000"}, "-40 30\n");
  EXPECT_EQ(ocean.out, "-40 30: -\n");
}

TEST(GsbtoolSearch, RadiusAndKNearestRefuse) {
  const std::string cities = svctest::RealFile(svctest::kCities);
  const std::string nc = svctest::RealFile(svctest::kNc);
  ASSERT_FALSE(cities.empty() || nc.empty());
  testsupport::TempDir dir;
  struct Case {
    const char* why;
    std::vector<std::string> words;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"negative radius", {"radius", cities, "-5"}, 2, "the radius must be whole feet"},
      {"fractional radius", {"radius", cities, "1.5"}, 2, "not '1.5'"},
      {"radius not a number", {"radius", cities, "far"}, 2, "not 'far'"},
      {"no k", {"knearest", cities, "0"}, 2, "k must be a whole number from 1 to 65536"},
      {"k beyond the most", {"knearest", cities, "65537"}, 2, "not '65537'"},
      {"a file without points", {"radius", nc, "100"}, 1, "holds no point objects"},
      {"no such file", {"knearest", dir.File("none.gsb"), "2"}, 1, "opening"},
  };
  for (const Case& k : cases) {
    const Outcome run = Tool(dir, k.words, "-79 35.5\n");
    EXPECT_EQ(run.status, k.status) << k.why;
    EXPECT_EQ(run.out, "") << k.why;
    EXPECT_NE(run.err.find(k.message), std::string::npos) << k.why << ": " << run.err;
  }
}

TEST(GsbtoolSearch, Zip4PrintsEveryHitOnALine) {
  testsupport::TempDir dir;
  const std::string regions = dir.File("regions.gsb");
  ASSERT_TRUE(svctest::BuildFile(
      regions, {svctest::Region("A", {svctest::Box(-80000000, 35000000, -79500000, 35500000)}),
                svctest::Region("B", {svctest::Box(-79500000, 35000000, -79000000, 35500000)})}));
  const std::string z9 = testsupport::FixturePath("z9/small.z9");
  Outcome run = Tool(dir, {"zip4", z9, regions});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "270010001 S A\n270010002 H A\n270010003 F B\n"
            "270040001 M B\n270049999 R A\n270050000 G A\n");
  run = Tool(dir, {"zip4", dir.File("none.z9"), regions});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("opening " + dir.File("none.z9")), std::string::npos) << run.err;
}

}  // namespace
