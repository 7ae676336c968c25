#include "boundary/surface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/boundary/search_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using searchtest::Context;
using searchtest::Obj;
using searchtest::OpenFile;

// The triangle (0, 0), (4, 0), (0, 4) in degrees, whose doubled area is 16.
Obj Triangle(std::string name, std::string plane, int32_t shift = 0) {
  return searchtest::Region(std::move(name), {{{shift, 0}, {4000000 + shift, 0}, {shift, 4000000}}},
                            std::move(plane));
}

TEST(SurfaceTextTest, SplitAsStrtokDoes) {
  struct Case {
    const char* text;
    double a, b, c, d;
  } cases[] = {
      {"2|3|10|1", 2, 3, 10, 1}, {"2||10|16", 2, 10, 16, 0}, {"|1.5|-2e1", 1.5, -20, 0, 0},
      {" 7|+3|x|4", 7, 3, 0, 4}, {"", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const SurfacePlane p = ParseSurfacePlane(c.text);
    EXPECT_EQ(p.a, c.a) << c.text;
    EXPECT_EQ(p.b, c.b) << c.text;
    EXPECT_EQ(p.c, c.c) << c.text;
    EXPECT_EQ(p.d, c.d) << c.text;
  }
  EXPECT_EQ(SplitSurfaceTexts("one||two", 3), (std::vector<std::string>{"one", "two", ""}));
}

class SurfaceTest : public searchtest::FileTest {};

TEST_F(SurfaceTest, ValuesOfThePlane) {
  const std::string path = Build({Triangle("a|b|c", "2|3|10|16"), Triangle("x", "1|1|1|0", 1)});
  uint32_t h = 0;
  ASSERT_EQ(pipSurfFileOpen(c_.handle(), path.c_str(), 1, &h), 1);
  int32_t value = 0;
  ASSERT_EQ(pipSurfFindFirstValue(h, 1000000, 2000000, &value), 1);
  EXPECT_EQ(value, 18);
  ASSERT_EQ(pipSurfFindNextValue(h, &value), 1) << "the second triangle holds the point too";
  EXPECT_EQ(value, 4);
  EXPECT_EQ(pipSurfFindNextValue(h, &value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(pipSurfFindFirstValue(h, 5000000, 5000000, &value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(pipSurfFindFirstValue(h, 0, 0, nullptr), -1);
  EXPECT_EQ(pipSurfFileClose(h), 1);
}

TEST_F(SurfaceTest, InfoWeightsAndTexts) {
  const std::string longText(60, 'L');
  const std::string path = Build(
      {Triangle(longText + "|second|third", "2|3|10|16"), Triangle("flat", "2|3|10", 8000000)});
  OpenFile f(c_, path);
  int32_t value = 0;
  ASSERT_EQ(pipSurfFindFirstValue(f.handle(), 0, 0, &value), 1);
  pipSurfInfo info;
  ASSERT_EQ(pipSurfGetInfo(f.handle(), &info), 1);
  EXPECT_DOUBLE_EQ(info.weights[0], 1.0) << "at the first vertex";
  EXPECT_DOUBLE_EQ(info.weights[1], 0.0);
  EXPECT_DOUBLE_EQ(info.weights[2], 0.0);
  EXPECT_EQ(std::string(info.text1), std::string(41, 'L'));
  EXPECT_STREQ(info.text2, "second");
  EXPECT_STREQ(info.text3, "third");
  EXPECT_EQ(info.bounds[0], -1);

  ASSERT_EQ(pipSurfFindFirstValue(f.handle(), 9000000, 1000000, &value), 1);
  ASSERT_EQ(pipSurfGetInfo(f.handle(), &info), 1);
  EXPECT_EQ(info.weights[0], 0.0) << "d missing: a surface without slope";
  EXPECT_EQ(info.weights[1], 0.0);
  EXPECT_STREQ(info.text1, "flat");
  EXPECT_STREQ(info.text2, "");

  int32_t corners[6];
  uint32_t count = 0;
  ASSERT_EQ(pipSurfGetCoords(f.handle(), corners, 3, &count), 1);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(pipSurfGetCoords(f.handle(), corners, 2, &count), -1);
  EXPECT_EQ(pipSurfGetCoords(f.handle(), nullptr, 3, &count), -1);
}

int32_t Add(uint32_t check, char set, const searchtest::Ring& ring) {
  std::vector<int32_t> xy;
  for (const RingPoint& p : ring) xy.insert(xy.end(), {p.x, p.y});
  return set == 'A' ? pipAddRegionAPolygon(check, uint32_t(ring.size()), xy.data())
                    : pipAddRegionBPolygon(check, uint32_t(ring.size()), xy.data());
}

TEST(OverlapCheckCallsTest, CodesOfTwoSets) {
  Context c;
  uint32_t check = 0;
  ASSERT_EQ(pipInitializeOverlapCheck(c.handle(), &check), 1);
  ASSERT_EQ(Add(check, 'A', searchtest::Square(0, 0, 100)), 1);
  ASSERT_EQ(Add(check, 'B', searchtest::Square(0, 0, 100)), 1);
  EXPECT_EQ(pipCheckForRegionOverlap(check), 6);
  ASSERT_EQ(pipClearRegionBPolygon(check), 1);
  ASSERT_EQ(Add(check, 'B', searchtest::Square(500, 500, 100)), 1);
  EXPECT_EQ(pipCheckForRegionOverlap(check), 2);
  double percent = -1;
  EXPECT_EQ(pipCheckForRegionOverlapEx(check, 100, &percent), 2);
  EXPECT_EQ(percent, 0.0);
  ASSERT_EQ(pipClearRegionBPolygon(check), 1);
  ASSERT_EQ(Add(check, 'B', searchtest::Square(-50, -50, 300)), 1);
  EXPECT_EQ(pipCheckForRegionOverlap(check), 3) << "A within the new B, A unchanged";
  ASSERT_EQ(pipClearRegionAllPolygon(check), 1);
  ASSERT_EQ(Add(check, 'A', searchtest::Square(0, 0, 100)), 1);
  ASSERT_EQ(Add(check, 'B', searchtest::Square(50, 0, 100)), 1);
  EXPECT_EQ(pipCheckForRegionOverlapEx(check, 100, &percent), 5);
  EXPECT_NEAR(percent, 50.0, 1.0);
  // The largest precision takes the capped number of scan lines, not 2^31.
  EXPECT_EQ(pipCheckForRegionOverlapEx(check, UINT32_MAX, &percent), 5);
  EXPECT_NEAR(percent, 50.0, 1.0);
  EXPECT_EQ(pipAddRegionAPolygon(check, 3, nullptr), -1);
  EXPECT_EQ(pipCheckForRegionOverlap(c.handle()), -1) << "a context is no check";
  EXPECT_EQ(pipTerminateOverlapCheck(check), 1);
  EXPECT_EQ(pipCheckForRegionOverlap(check), -1);
}

}  // namespace
