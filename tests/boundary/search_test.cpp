#include "boundary/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/boundary/search_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using searchtest::Context;
using searchtest::Obj;
using searchtest::OpenFile;
using searchtest::Square;

constexpr int32_t kX = -80000000;
constexpr int32_t kY = 35000000;
constexpr int32_t kSide = 100000;  // about 36,000 feet north to south

class SearchTest : public searchtest::FileTest {};

TEST_F(SearchTest, TheBorderCountsAsInside) {
  const std::string segments =
      Build({searchtest::Region("square", {Square(kX, kY, kSide)})}, PIP_IMPORT_SEGMENTS);
  OpenFile f(c_, segments);
  ASSERT_TRUE(f.ok());
  struct Case {
    int32_t x, y;
    uint32_t radius;
    int32_t result;
  } cases[] = {
      {kX + kSide / 2, kY, 0, 1},  // on an edge
      {kX, kY, 0, 1},              // on a corner
      {kX + kSide / 2, kY + kSide / 2, 0, 1},
      {kX - 1, kY, 0, 0},
      {kX + kSide / 2, kY, 100, 3},  // inside and within reach of the border
      {kX + kSide / 2, kY + kSide / 2, 100, 1},
      {kX + kSide / 2, kY - 200, 100, 2},  // 73 feet south of it
      {kX + kSide / 2, kY - 400, 100, 0},
  };
  for (const Case& k : cases)
    EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), k.x, k.y, k.radius, name_, 128), k.result)
        << k.x << " " << k.y << " " << k.radius;

  const std::string plain = Build({searchtest::Region("square", {Square(kX, kY, kSide)})}, 0);
  OpenFile g(c_, plain);
  EXPECT_EQ(pipObjectFindFirstContaining(g.handle(), kX, kY, 100, name_, 128), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_INVALID_DATA);
  EXPECT_EQ(c_.Detail(), "Non-Zero radius used but objects do not have buffers.\n");
}

TEST_F(SearchTest, RadiusZeroNeverFindsLinesOrPoints) {
  const std::string path = Build({searchtest::Line("line", {{{kX, kY}, {kX + kSide, kY}}}),
                                  searchtest::Point("point", kX, kY)},
                                 PIP_IMPORT_SEGMENTS);
  OpenFile f(c_, path);
  EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), kX + 10, kY, 0, name_, 128), 0);
  auto names = searchtest::Names(
      f.handle(), pipObjectFindFirstContaining(f.handle(), kX + 10, kY, 50, name_, 128), name_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"line", "point"}));
}

TEST_F(SearchTest, FindNextAfterNothingFoundIsAnError) {
  const std::string path = Build({searchtest::Region("square", {Square(kX, kY, kSide)})}, 0);
  OpenFile f(c_, path);
  EXPECT_EQ(pipObjectFindNext(f.handle(), name_, 128), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_INVALID_DATA);
  EXPECT_EQ(c_.Detail(), "FindNext called before FindFirst");
  EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), 0, 0, 0, name_, 128), 0);
  EXPECT_EQ(pipObjectFindNext(f.handle(), name_, 128), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_EMPTY);
  EXPECT_EQ(c_.Detail(), "Invalid Function call after pipFindFirst returned PIP_NOT_FOUND.\n");
  EXPECT_EQ(pipObjectFindFirstRect(f.handle(), 0, 0, 10, 10, name_, 128), 0);
  EXPECT_EQ(pipObjectFindNext(f.handle(), name_, 128), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_EMPTY);
}

TEST_F(SearchTest, NamePatterns) {
  std::vector<Obj> objects;
  for (const char* n : {"Wake", "Wakefield", "WALTON", "Ashe", "Warren", "wake"})
    objects.push_back(searchtest::Point(n, kX, kY));
  const std::string path = Build(objects, 0);
  OpenFile f(c_, path);
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"wa*", {"Wake", "wake", "Wakefield", "WALTON", "Warren"}},
      {"WAKE*xyz", {"Wake", "wake", "Wakefield"}},
      {"Wake", {"Wake", "wake"}},
      {"*", {"Ashe", "Wake", "wake", "Wakefield", "WALTON", "Warren"}},
      {"Wakefields", {}},
      {"zz", {}},
      {"", {}},
  };
  for (const Case& k : cases) {
    auto names = searchtest::Names(
        f.handle(), pipObjectFindFirstName(f.handle(), k.pattern, name_, 128), name_);
    // In the name index's order: ignoring case, a name before those it
    // begins; equal keys in the order stored.
    EXPECT_EQ(names, k.names) << k.pattern;
  }
}

TEST_F(SearchTest, NearestPoints) {
  // Points at 1, 2 (two of them, north and south), 3 and 200 km from the
  // query; the search distance (366,000 feet) stops short of the last.
  const int32_t km = 11000;     // about a kilometre east at 35 degrees
  const int32_t north = 18012;  // two kilometres north
  const std::string path = Build(
      {searchtest::Point("three", kX + 3 * km, kY), searchtest::Point("one", kX + km, kY),
       searchtest::Point("two north", kX, kY + north), searchtest::Point("far", kX + 200 * km, kY),
       searchtest::Point("two south", kX, kY - north),
       searchtest::Region("region", {Square(kX, kY, 10)})},
      0);
  OpenFile f(c_, path);
  EXPECT_EQ(pipObjectFindFirstNearest(f.handle(), kX, kY, 0, name_, 128), 0);
  EXPECT_EQ(pipObjectFindFirstNearest(f.handle(), kX, kY, 65537, name_, 128), -1);
  auto names = searchtest::Names(
      f.handle(), pipObjectFindFirstNearest(f.handle(), kX, kY, 10, name_, 128), name_);
  ASSERT_EQ(names.size(), 4u) << "the far point lies beyond the search distance";
  EXPECT_EQ(names[0], "one");
  EXPECT_EQ(names[3], "three");
  // Equal distances keep the order the rectangle search meets them in.
  std::vector<std::string> rect = searchtest::Names(
      f.handle(), pipObjectFindFirstRect(f.handle(), kX, kY - north, kX, kY + north, name_, 128),
      name_);
  std::vector<std::string> ties(names.begin() + 1, names.begin() + 3);
  rect.erase(std::remove(rect.begin(), rect.end(), "region"), rect.end());
  EXPECT_EQ(ties, rect);
  EXPECT_EQ(searchtest::Names(f.handle(),
                              pipObjectFindFirstNearest(f.handle(), kX, kY, 2, name_, 128), name_)
                .size(),
            2u);
  ASSERT_EQ(pipObjectSetSearchDistance(f.handle(), 36521358), 1);
  EXPECT_EQ(searchtest::Names(f.handle(),
                              pipObjectFindFirstNearest(f.handle(), kX, kY, 10, name_, 128), name_)
                .size(),
            5u);
}

TEST_F(SearchTest, InfoOfPointsAndRegions) {
  Obj region = searchtest::Region("region", {Square(kX, kY, kSide)}, "second");
  region.x = kX + 5;
  region.y = kY + 6;
  const std::string path = Build({searchtest::Point("point", kX, kY), region}, 0);
  OpenFile f(c_, path);
  pipObjectInfoStruct info;
  ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), -1) << "nothing found yet";
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "point", name_, 128), 1);
  ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), 1);
  EXPECT_EQ(info.kind, PIP_OBJECT_POINT);
  const int32_t point[4] = {kX, kY, kX, kY};
  EXPECT_TRUE(std::equal(point, point + 4, info.bounds));
  EXPECT_EQ(info.recordNumber, 1u);
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "region", name_, 128), 1);
  ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), 1);
  EXPECT_STREQ(info.name2, "second");
  EXPECT_EQ(info.x, kX + 5);
  EXPECT_EQ(info.recordNumber, 2u);
  const int32_t widened[4] = {kX - 1, kY - 1, kX + kSide + 1, kY + kSide + 1};
  EXPECT_TRUE(std::equal(widened, widened + 4, info.bounds));
}

TEST(RadiusRectTest, HeldInTheCoordinateRange) {
  struct Case {
    const char* what;
    int32_t x, y;
    uint32_t radius;
    SpatialRect expected;
  } cases[] = {
      {"no radius", 5, 6, 0, {5, 6, 5, 6}},
      {"35 degrees north", 0, 35000000, 1000, {-3349, 35000000 - 2744, 3349, 35000000 + 2744}},
      {"at the pole", 0, 90000000, 1000, {INT32_MIN, 90000000 - 2744, INT32_MAX, 90000000 + 2744}},
      {"past the pole", 0, 179000000, 10, {INT32_MIN, 179000000 - 27, INT32_MAX, 179000000 + 27}},
      {"wider than the world", 100, 0, 0xFFFFFFFF, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}},
      {"near the edge", INT32_MAX - 10, 0, 1000, {INT32_MAX - 10 - 2744, -2744, INT32_MAX, 2744}},
  };
  for (const Case& c : cases) {
    const SpatialRect r = PolySearchPointInPolygon::RadiusRect(c.x, c.y, c.radius, 1);
    EXPECT_EQ(r.x1, c.expected.x1) << c.what;
    EXPECT_EQ(r.y1, c.expected.y1) << c.what;
    EXPECT_EQ(r.x2, c.expected.x2) << c.what;
    EXPECT_EQ(r.y2, c.expected.y2) << c.what;
  }
  const SpatialRect plain = PolySearchPointInPolygon::RadiusRect(10, 10, 5, 0);
  EXPECT_EQ(plain.x1, 5);
  EXPECT_EQ(plain.y2, 15);
}

TEST(HitOrderTest, DeepestInsideThenNearestOutsideThenByOffset) {
  auto node = [](int32_t distance, uint32_t low, uint32_t high) {
    SpatialPolygonNode n;
    n.Set("", distance > 0 ? 1 : 2, distance, low, high);
    return n;
  };
  struct Case {
    SpatialPolygonNode a, b;
    int expected;
  } cases[] = {
      {node(500, 1, 0), node(20, 0, 0), -1},    // deeper inside first
      {node(20, 0, 0), node(-10, 0, 0), -1},    // inside before outside
      {node(-10, 5, 0), node(-300, 0, 0), -1},  // the nearer outside first
      {node(7, 8, 0), node(7, 8, 0), 0},       {node(7, 4, 0), node(7, 8, 0), -1},
      {node(7, 8, 1), node(7, 8, 0), 1},  // equal low words: the high words decide
      {node(7, 8, 0), node(7, 8, 1), -1},      {node(7, 9, 0), node(7, 8, 1), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PolygonSearchHitCompare(&c.a, &c.b), c.expected)
        << c.a.distance << " " << c.a.Offset() << " vs " << c.b.distance << " " << c.b.Offset();
    EXPECT_EQ(PolygonSearchHitCompare(&c.b, &c.a), -c.expected);
  }
}

TEST_F(SearchTest, PolygonOverlapCodes) {
  const std::string path = Build({searchtest::Region("square", {Square(kX, kY, kSide)}),
                                  searchtest::Point("point", kX + 10, kY + 10)},
                                 0);
  OpenFile f(c_, path);
  struct Case {
    const char* what;
    searchtest::Ring query;
    int32_t code;
    double percent;
  } cases[] = {
      {"the same square", Square(kX, kY, kSide), 6, 100.0},
      {"inside it", Square(kX + 10, kY + 10, 100), 3, 100.0},
      {"around it", Square(kX - 10, kY - 10, kSide + 20), 4, -1},
      {"across its border", Square(kX - kSide / 2, kY, kSide), 5, 50.0},
      {"apart", Square(kX + 2 * kSide, kY, 10), 0, -1},
      {"round its corner, the point in its box",
       {{kX - 10, kY - 10}, {kX + 20, kY - 10}, {kX + 20, kY - 1}, {kX - 1, kY - 1},
        {kX - 1, kY + 20}, {kX - 10, kY + 20}},
       0, -1},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> xy;
    for (const RingPoint& p : c.query) xy.insert(xy.end(), {p.x, p.y});
    const uint32_t counts[1] = {uint32_t(c.query.size())};
    EXPECT_EQ(pipObjectFindFirstPolygon(f.handle(), xy.data(), counts, 1, name_, 128), c.code)
        << c.what;
    double percent = -2;
    EXPECT_EQ(
        pipObjectFindFirstPolygonEx(f.handle(), xy.data(), counts, 1, name_, 128, 200, &percent),
        c.code)
        << c.what;
    if (c.percent >= 0) {
      EXPECT_NEAR(percent, c.percent, 1.0) << c.what;
      EXPECT_STREQ(name_, "square");
      // The largest precision is capped as the overlap check caps it.
      EXPECT_EQ(pipObjectFindFirstPolygonEx(f.handle(), xy.data(), counts, 1, name_, 128,
                                            UINT32_MAX, &percent),
                c.code)
          << c.what;
      EXPECT_NEAR(percent, c.percent, 1.0) << c.what;
    }
    // Objects passed over are not named.
    if (c.code == 0) {
      EXPECT_STREQ(name_, "") << c.what;
    }
  }
}

TEST_F(SearchTest, DistanceToBorder) {
  const std::string path =
      Build({searchtest::Region("square", {Square(kX, kY, kSide)}),
             searchtest::Line(
                 "u", {{{kX, kY + kSide}, {kX, kY}, {kX + kSide, kY}, {kX + kSide, kY + kSide}}})},
            PIP_IMPORT_SEGMENTS);
  OpenFile f(c_, path);
  const int32_t px = kX + kSide / 2, py = kY + kSide - 1000;  // 1000 millionths below the top
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "square", name_, 128), 1);
  const int32_t inside = pipObjectDistanceToBorder(f.handle(), px, py);
  EXPECT_NEAR(inside, 1000 * 0.36432, 1.0);
  uint32_t nx = 0, ny = 0;
  EXPECT_EQ(pipObjectDistanceToBorderEx(f.handle(), px, py, &nx, nullptr), -1);
  EXPECT_NEAR(pipObjectDistanceToBorderEx(f.handle(), px, py, &nx, &ny), 364, 1);
  EXPECT_EQ(int32_t(nx), px);
  EXPECT_EQ(int32_t(ny), kY + kSide);
  // The line is open at the top: the nearest part is a side, half the
  // square's width away.
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "u", name_, 128), 1);
  const double side = kSide / 2 * 0.36432 * std::cos(kY * 1.745329252e-8);
  EXPECT_NEAR(pipObjectDistanceToBorder(f.handle(), px, py), side, 3.0);
  EXPECT_EQ(pipPointInPoly(f.handle(), px, py), 0) << "a line holds no points";
}

}  // namespace
