#include "services/radial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/distance_model.h"
#include "tests/services/services_fixture.h"

namespace {

using svctest::Context;

// A radius search handle for one test.
class Search {
 public:
  Search(const Context& c, int32_t kind) { result_ = pipRadInit(c.handle(), kind, &handle_); }
  ~Search() {
    if (result_ == 1) pipRadTerm(handle_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  uint32_t handle() const { return handle_; }
  int32_t result() const { return result_; }
  void Insert(int32_t x, int32_t y, const std::string& name) {
    ASSERT_EQ(pipRadInsertPoint(handle_, x, y, name.c_str()), 1);
  }

  // Every hit of a search that began with first, as "name@x,y", sorted.
  std::vector<std::string> Hits(int32_t first, bool sorted = true) {
    std::vector<std::string> out;
    for (int32_t r = first; r > 0; r = pipRadFindNext(handle_, &x_, &y_, name_, sizeof name_))
      out.push_back(std::string(name_) + "@" + std::to_string(x_) + "," + std::to_string(y_));
    if (sorted) std::sort(out.begin(), out.end());
    return out;
  }
  std::vector<std::string> Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return Hits(pipRadFindFirstInRect(handle_, x1, y1, x2, y2, &x_, &y_, name_, sizeof name_));
  }
  std::vector<std::string> Radius(int32_t x, int32_t y, int32_t r) {
    return Hits(pipRadFindFirstInRadius(handle_, x, y, r, &x_, &y_, name_, sizeof name_));
  }
  std::vector<std::string> Nearest(int32_t x, int32_t y, int32_t n) {
    return Hits(pipRadFindFirstNearest(handle_, x, y, n, &x_, &y_, name_, sizeof name_), false);
  }

 private:
  uint32_t handle_ = 0;
  int32_t result_ = -1;
  int32_t x_ = 0, y_ = 0;
  char name_[128] = {};
};

std::string Hit(const std::string& name, int32_t x, int32_t y) {
  return name + "@" + std::to_string(x) + "," + std::to_string(y);
}

TEST(RadiusSearch, FindNextBeforeFindFirst) {
  Context c;
  Search s(c, 0);
  ASSERT_EQ(s.result(), 1);
  char name[16];
  int32_t x, y;
  EXPECT_EQ(pipRadFindNext(s.handle(), &x, &y, name, sizeof name), -1);
  EXPECT_EQ(c.Code(), 100);
  EXPECT_EQ(c.Detail(), "Attempt to call pipRadFindNext before pipRadFindFirst...");
  // An empty search finds nothing, and find-next after it is again too early.
  EXPECT_EQ(pipRadFindFirstInRect(s.handle(), 0, 0, 10, 10, &x, &y, name, sizeof name), 0);
  EXPECT_EQ(pipRadFindNext(s.handle(), &x, &y, name, sizeof name), -1);
}

TEST(RadiusSearch, HandlesOfOtherFamiliesAreRefused) {
  Context c;
  uint32_t h = 0;
  EXPECT_EQ(pipRadInit(c.handle() + 1000, 1, &h), -1);
  EXPECT_EQ(pipRadInsertPoint(c.handle(), 0, 0, "x"), -1);
  EXPECT_EQ(pipRadTerm(c.handle()), -1);
  EXPECT_EQ(pipRadTerm(0), -1);
}

struct RectCase {
  const char* name;
  int32_t kind;
  int32_t x1, y1, x2, y2;
  std::vector<std::string> hits;
};

TEST(RadiusSearch, RectangleCorners) {
  Context c;
  Search plane(c, 0), geographic(c, 1);
  for (Search* s : {&plane, &geographic}) {
    for (int32_t x : {-7, 0, 7}) {
      for (int32_t y : {-7, 0, 7}) s->Insert(x, y, "p");
    }
    s->Insert(190000000, 5, "far east");
    s->Insert(179999999, 5, "east");
  }
  // clang-format off
  const std::vector<RectCase> cases = {
      {"corners in order", 0, 5, 5, 10, 10, {Hit("p", 7, 7)}},
      {"both positive and reversed are swapped", 0, 10, 10, 5, 5, {Hit("p", 7, 7)}},
      {"both negative and reversed are swapped", 0, -5, 0, -10, 0, {Hit("p", -7, 0)}},
      {"different signs are searched as given", 0, 5, 0, -5, 0, {}},
      {"different signs in order", 0, -5, -5, 5, 5, {Hit("p", 0, 0)}},
      {"zero counts as negative", 0, 0, 0, -10, 0, {Hit("p", -7, 0), Hit("p", 0, 0)}},
      {"bounds are included", 0, 7, 7, 7, 7, {Hit("p", 7, 7)}},
      {"plane bounds are not clamped", 0, 170000000, 0, 200000000, 10,
       {Hit("east", 179999999, 5), Hit("far east", 190000000, 5)}},
      {"a longitude past 180 degrees is searched as 180", 1, 170000000, 0, 200000000, 10,
       {Hit("east", 179999999, 5)}},
      {"latitudes are clamped too", 1, 170000000, -100000000, 185000000, 95000000,
       {Hit("east", 179999999, 5)}},
  };
  // clang-format on
  for (const RectCase& r : cases) {
    Search& s = r.kind == 1 ? geographic : plane;
    EXPECT_EQ(s.Rect(r.x1, r.y1, r.x2, r.y2), r.hits) << r.name;
  }
}

TEST(RadiusSearch, DistancesAreTruncated) {
  Context c;
  Search s(c, 0);
  s.Insert(3, 4, "five");
  s.Insert(1, 1, "root two");
  s.Insert(-6, 0, "six");
  EXPECT_EQ(s.Radius(0, 0, 5),
            (std::vector<std::string>{Hit("five", 3, 4), Hit("root two", 1, 1)}));
  EXPECT_EQ(s.Radius(0, 0, 4), (std::vector<std::string>{Hit("root two", 1, 1)}));
  EXPECT_EQ(s.Radius(0, 0, 1), (std::vector<std::string>{Hit("root two", 1, 1)}));
  EXPECT_EQ(s.Radius(0, 0, 0), std::vector<std::string>{});
  EXPECT_EQ(s.Radius(0, 0, -3), std::vector<std::string>{});
  // Plane coordinates a whole range apart.
  s.Insert(INT32_MAX, INT32_MAX, "corner");
  EXPECT_EQ(s.Radius(INT32_MIN, INT32_MIN, INT32_MAX), std::vector<std::string>{});
  EXPECT_EQ(s.Radius(INT32_MAX - 3, INT32_MAX - 4, 5),
            (std::vector<std::string>{Hit("corner", INT32_MAX, INT32_MAX)}));
}

TEST(RadiusSearch, NearestGivesItsCountNearestFirst) {
  Context c;
  Search s(c, 0);
  for (int i = 1; i <= 10; ++i) s.Insert(i * 10, 0, "p" + std::to_string(i));
  EXPECT_EQ(s.Nearest(32, 0, 3),
            (std::vector<std::string>{Hit("p3", 30, 0), Hit("p4", 40, 0), Hit("p2", 20, 0)}));
  EXPECT_EQ(s.Nearest(0, 0, 100).size(), 10u);
  EXPECT_EQ(s.Nearest(0, 0, INT32_MAX).size(), 10u);
  EXPECT_EQ(s.Nearest(0, 0, 0), std::vector<std::string>{});
  EXPECT_EQ(s.Nearest(0, 0, -1), std::vector<std::string>{});
}

TEST(RadiusSearch, NameBuffers) {
  Context c;
  Search s(c, 0);
  s.Insert(1, 1, "a rather long name");
  char name[8];
  int32_t x = 0, y = 0;
  std::memset(name, 'z', sizeof name);
  EXPECT_EQ(pipRadFindFirstInRect(s.handle(), 0, 0, 2, 2, &x, &y, name, 5), 1);
  EXPECT_STREQ(name, "a ra");
  EXPECT_EQ(name[5], 'z');
  // Too small a buffer is refused, never written before its start.
  char guard[4] = {'g', 'g', 'g', 'g'};
  EXPECT_EQ(pipRadFindFirstInRect(s.handle(), 0, 0, 2, 2, &x, &y, guard + 1, 0), -1);
  EXPECT_EQ(pipRadFindFirstInRadius(s.handle(), 0, 0, 5, &x, &y, guard + 1, -4), -1);
  EXPECT_EQ(pipRadFindFirstNearest(s.handle(), 0, 0, 1, &x, &y, nullptr, 10), -1);
  EXPECT_EQ(std::string(guard, 4), "gggg");
  EXPECT_EQ(pipRadFindFirstNearest(s.handle(), 0, 0, 1, &x, &y, name, 1), 1);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(pipRadFindNext(s.handle(), &x, &y, guard + 1, 0), -1);
}

// The search's own distance model: feet, x shortened at the centre's
// latitude, truncated.
double Feet(int32_t cx, int32_t cy, int32_t x, int32_t y) {
  const double latitude = std::clamp(cy, -90000000, 90000000);
  const double xs = std::fabs(std::cos(latitude * kRadiansPerMillionth)) * kFeetPerMillionth;
  const double dx = double(int64_t{x} - cx) * xs;
  const double dy = double(int64_t{y} - cy) * kFeetPerMillionth;
  return std::sqrt(dx * dx + dy * dy);
}

TEST(RadiusSearch, NearThePoles) {
  Context c;
  Search s(c, 1);
  s.Insert(0, 89999000, "near");
  s.Insert(179000000, 89999500, "across");
  s.Insert(-120000000, 90000000, "pole");
  s.Insert(10000000, 89000000, "south of it");
  // At the pole every longitude lies within reach; nothing overflows.
  EXPECT_EQ(s.Radius(0, 90000000, 1000),
            (std::vector<std::string>{Hit("across", 179000000, 89999500), Hit("near", 0, 89999000),
                                      Hit("pole", -120000000, 90000000)}));
  EXPECT_EQ(s.Radius(45000000, 89999999, 300).size(), 2u);
  // A centre past the pole searches a window held to it, and is far from all.
  EXPECT_EQ(s.Radius(0, 95000000, 1000).size(), 0u);
  EXPECT_EQ(s.Radius(0, -90000000, INT32_MAX).size(), 4u);
  EXPECT_EQ(s.Nearest(0, 90000000, 2).size(), 2u);
  EXPECT_EQ(s.Nearest(0, 100000000, 4).size(), 4u);
}

TEST(RadiusSearch, LoadsThePointObjectsOfAFile) {
  testsupport::TempDir dir;
  const std::string regions = dir.File("regions.gsb");
  const std::string mixed = dir.File("mixed.gsb");
  ASSERT_TRUE(svctest::BuildFile(regions, {svctest::Region("r", {svctest::Box(0, 0, 10, 10)})}));
  ASSERT_TRUE(svctest::BuildFile(
      mixed, {svctest::Point("b", 5, 5), svctest::Region("r", {svctest::Box(0, 0, 10, 10)}),
              svctest::Point("a", 1, 2)}));
  Context c;
  Search s(c, 1);
  svctest::OpenFile none(c, regions), some(c, mixed);
  ASSERT_TRUE(none.ok() && some.ok());
  EXPECT_EQ(pipRadLoadPoints(s.handle(), none.handle()), -1);
  EXPECT_EQ(s.Rect(-100, -100, 100, 100), std::vector<std::string>{});
  EXPECT_EQ(pipRadLoadPoints(s.handle(), some.handle()), 1);
  EXPECT_EQ(s.Rect(-100, -100, 100, 100),
            (std::vector<std::string>{Hit("a", 1, 2), Hit("b", 5, 5)}));
  EXPECT_EQ(pipRadLoadPoints(s.handle(), s.handle()), -1);
  EXPECT_EQ(pipRadLoadPoints(some.handle(), some.handle()), -1);
}

struct Pt {
  int32_t x, y;
  std::string name;
};

// Radius and nearest answers over points equal a scan of them all.
void CompareWithBruteForce(Search& s, const std::vector<Pt>& points, int32_t kind,
                           const std::vector<std::tuple<int32_t, int32_t, int32_t>>& queries,
                           const char* what) {
  for (const auto& [cx, cy, radius] : queries) {
    std::vector<std::string> expect;
    std::vector<double> distances;
    for (const Pt& p : points) {
      const double d = kind == 1 ? Feet(cx, cy, p.x, p.y)
                                 : std::hypot(double(int64_t{p.x} - cx), double(int64_t{p.y} - cy));
      if (std::trunc(d) <= radius) expect.push_back(Hit(p.name, p.x, p.y));
      distances.push_back(d);
    }
    std::sort(expect.begin(), expect.end());
    ASSERT_EQ(s.Radius(cx, cy, radius), expect)
        << what << " radius " << radius << " at " << cx << "," << cy;
    // Nearest: the same distances in the same order (ties may come either way).
    std::sort(distances.begin(), distances.end());
    const int32_t k = 10;
    std::vector<std::string> nearest = s.Nearest(cx, cy, k);
    ASSERT_EQ(nearest.size(), std::min<size_t>(k, points.size())) << what;
    for (size_t i = 0; i < nearest.size(); ++i) {
      const std::string& h = nearest[i];
      const size_t at = h.rfind('@'), comma = h.rfind(',');
      const int32_t x = std::stoi(h.substr(at + 1, comma - at - 1));
      const int32_t y = std::stoi(h.substr(comma + 1));
      const double d = kind == 1 ? Feet(cx, cy, x, y)
                                 : std::hypot(double(int64_t{x} - cx), double(int64_t{y} - cy));
      ASSERT_NEAR(d, distances[i], 1e-6 * (1 + d)) << what << " nearest " << i;
    }
  }
}

TEST(RadiusSearch, CitiesEqualBruteForce) {
  const std::string path = svctest::RealFile(svctest::kCities);
  ASSERT_FALSE(path.empty());
  Context c;
  svctest::OpenFile file(c, path);
  ASSERT_TRUE(file.ok());
  Search s(c, 1);
  ASSERT_EQ(pipRadLoadPoints(s.handle(), file.handle()), 1);
  const std::vector<std::string> all = s.Rect(-180000000, -90000000, 180000000, 90000000);
  std::vector<Pt> points;
  for (const std::string& h : all) {
    const size_t at = h.rfind('@'), comma = h.rfind(',');
    points.push_back({std::stoi(h.substr(at + 1, comma - at - 1)), std::stoi(h.substr(comma + 1)),
                      h.substr(0, at)});
  }
  ASSERT_GT(points.size(), 200u);
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> lon(-180000000, 180000000), lat(-85000000, 85000000);
  std::uniform_int_distribution<int32_t> feet(0, 4000000);
  std::vector<std::tuple<int32_t, int32_t, int32_t>> queries;
  for (int i = 0; i < 200; ++i) queries.emplace_back(lon(random), lat(random), feet(random));
  for (const Pt& p : points) {
    if (queries.size() > 260) break;
    queries.emplace_back(p.x, p.y, 2000000);
  }
  CompareWithBruteForce(s, points, 1, queries, "cities");
}

TEST(RadiusSearch, SortedInputSearchesAsShuffled) {
  Context c;
  std::mt19937 random(11);
  std::uniform_int_distribution<int32_t> coordinate(-1000000, 1000000);
  std::vector<Pt> points;
  for (int i = 0; i < 100000; ++i)
    points.push_back({coordinate(random), coordinate(random), "p" + std::to_string(i)});
  std::vector<std::tuple<int32_t, int32_t, int32_t>> queries;
  for (int i = 0; i < 60; ++i) queries.emplace_back(coordinate(random), coordinate(random), 20000);

  std::vector<Pt> sorted = points;
  std::sort(sorted.begin(), sorted.end(),
            [](const Pt& a, const Pt& b) { return std::tie(a.x, a.y) < std::tie(b.x, b.y); });
  // A grid in row order: equal coordinates on every split.
  std::vector<Pt> grid;
  for (int32_t y = 0; y < 300; ++y) {
    for (int32_t x = 0; x < 300; ++x) grid.push_back({x * 1000, y * 1000, "g"});
  }
  for (const auto* set : {&points, &sorted, &grid}) {
    RadialSearch search(0, std::make_shared<pipError>());
    for (const Pt& p : *set) ASSERT_EQ(search.Insert(p.x, p.y, p.name.c_str()), 1);
    // A tree of 2^17 points is 17 levels deep when balanced; a chain would
    // be as deep as the points are many.
    EXPECT_LE(search.Depth(), 2 * std::log2(double(set->size())) + 2);
  }
  Search shuffled(c, 0), inOrder(c, 0);
  for (const Pt& p : points) shuffled.Insert(p.x, p.y, p.name);
  for (const Pt& p : sorted) inOrder.Insert(p.x, p.y, p.name);
  CompareWithBruteForce(shuffled, points, 0, queries, "shuffled");
  CompareWithBruteForce(inOrder, points, 0, queries, "sorted");
}

TEST(RadiusSearch, RandomGeographicPointsEqualBruteForce) {
  Context c;
  std::mt19937 random(13);
  std::uniform_int_distribution<int32_t> lon(-180000000, 180000000), lat(-90000000, 90000000);
  std::vector<Pt> points;
  for (int i = 0; i < 100000; ++i)
    points.push_back({lon(random), lat(random), "p" + std::to_string(i)});
  // Radii up to a few hundred miles, some centres near the poles, where the
  // window spans every longitude.
  std::uniform_int_distribution<int32_t> feet(0, 2000000);
  std::vector<std::tuple<int32_t, int32_t, int32_t>> queries;
  for (int i = 0; i < 50; ++i) queries.emplace_back(lon(random), lat(random), feet(random));
  for (int32_t y : {89900000, -89990000, 90000000}) queries.emplace_back(lon(random), y, 1000000);
  Search s(c, 1);
  for (const Pt& p : points) s.Insert(p.x, p.y, p.name);
  CompareWithBruteForce(s, points, 1, queries, "geographic");
}

TEST(RadiusSearch, PointsInsertedBetweenQueries) {
  Context c;
  Search s(c, 0);
  s.Insert(1, 1, "a");
  EXPECT_EQ(s.Rect(0, 0, 10, 10).size(), 1u);
  s.Insert(2, 2, "b");
  s.Insert(3, 3, "c");
  EXPECT_EQ(s.Rect(0, 0, 10, 10).size(), 3u);
  EXPECT_EQ(s.Nearest(3, 3, 1), (std::vector<std::string>{Hit("c", 3, 3)}));
}

}  // namespace
