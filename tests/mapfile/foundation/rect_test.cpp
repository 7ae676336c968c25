#include "mapfile/foundation/rect.h"

#include <gtest/gtest.h>

#include <cmath>

namespace layerio {
namespace {

TEST(Rect, MidpointsNeverOverflowAndTruncateTowardZero) {
  IPoint c;
  IRect r{2147483000, 0, 2147483640, 0};
  IRectCenter(&r, &c);
  EXPECT_EQ(c.x, 2147483320);
  r = {-3, 0, 0, 0};
  IRectCenter(&r, &c);
  EXPECT_EQ(c.x, -1);
  r = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN};
  IRectCenter(&r, &c);
  EXPECT_EQ(c.x, 0);
  EXPECT_EQ(c.y, INT32_MIN);
}

TEST(Rect, DoublesToIntegersRoundHalvesAwayAndClamp) {
  struct Case {
    double in;
    int32_t out;
  } cases[] = {{2.5, 3}, {-2.5, -3}, {5e9, 1000000000}, {-5e9, -1000000000},
               {NAN, -1000000000}, {0.49, 0}};
  for (const Case& c : cases) {
    DPoint p{c.in, 0};
    IPoint q;
    DPointsToInt(&p, &q, 1);
    EXPECT_EQ(q.x, c.out) << c.in;
  }
}

TEST(Rect, ClampInflateOverlap) {
  IRect in{-5000, 0, 20000, 3}, out;
  IRectClamp(&in, &out, 0);
  EXPECT_EQ(out.x1, -4000);
  EXPECT_EQ(out.x2, 12000);
  EXPECT_EQ(out.y2, 3);
  IRectClamp(&in, &out, 1);
  EXPECT_EQ(out.x1, -5000);
  EXPECT_EQ(out.x2, 20000);

  IRect r{0, 0, 2147483600, 10};
  IRectInflate(&r, 100, 100);
  EXPECT_EQ(r.x2, 2147483647);
  EXPECT_EQ(r.x1, -100);

  IRect a{0, 0, 10, 10}, b{10, 0, 20, 10}, c{11, 0, 20, 10};
  EXPECT_EQ(IRectsOverlap(&a, &b), 1);
  EXPECT_EQ(IRectsOverlap(&a, &c), 0);
  EXPECT_EQ(IRectInside(&a, &a), 1);
}

TEST(Rect, EmptyRectanglesAccumulateBounds) {
  IRect r;
  IRectSetEmpty(&r);
  IPoint p{5, -7}, q{-2, 9};
  IRectAddPoint(&r, &p);
  IRectAddPoint(&r, &q);
  EXPECT_EQ(r.x1, -2);
  EXPECT_EQ(r.y1, -7);
  EXPECT_EQ(r.x2, 5);
  EXPECT_EQ(r.y2, 9);
  DRect d;
  DRectSetEmpty(&d);
  DPoint dp{1.5, 2.5};
  DRectAddPoint(&d, &dp);
  EXPECT_EQ(d.x1, 1.5);
  EXPECT_EQ(d.y2, 2.5);
}

}  // namespace
}  // namespace layerio
