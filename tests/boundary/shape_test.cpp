#include "boundary/shape.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "boundary/polygon.h"
#include "gpc.h"
#include "zonelib.h"

namespace {

TEST(CollectionTest, GrowsAndWalks) {
  for (int capacity : {25, 0, -4, 1}) {
    SCOPED_TRACE(capacity);
    CLongCollection c(capacity);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(c.add(i * 3), 1);
    EXPECT_EQ(c.getCount(), 60);
    int32_t v = -1, seen = 0;
    for (int ok = c.moveFirst(); ok; ok = c.moveNext()) {
      ASSERT_EQ(c.getCurrent(v), 1);
      EXPECT_EQ(v, seen * 3);
      ++seen;
    }
    EXPECT_EQ(seen, 60);
    v = -7;
    EXPECT_EQ(c.getCurrent(v), 0);  // past the last: the output stays
    EXPECT_EQ(v, -7);
  }
  CDoubleCollection d;
  d.add(1.5);
  d.add(2.5);
  d.reset();
  EXPECT_EQ(d.getCount(), 0);
  d.add(9.0);
  double x = 0;
  d.moveFirst();
  EXPECT_EQ(d.getCurrent(x), 1);
  EXPECT_EQ(x, 9.0);
}

TEST(CollectionTest, CopyAndAssign) {
  CDoubleCollection big(100);
  for (int i = 0; i < 40; ++i) big.add(i);
  big.moveFirst();
  big.moveNext();
  CDoubleCollection copy(big);
  double v = 0;
  EXPECT_EQ(copy.getCurrent(v), 1);  // the cursor is copied too
  EXPECT_EQ(v, 1.0);
  CDoubleCollection small(2);
  small.add(7);
  small = big;  // takes the larger capacity
  EXPECT_EQ(small.getCount(), 40);
  small.moveFirst();
  for (int i = 0; i < 39; ++i) small.moveNext();
  EXPECT_EQ(small.getCurrent(v), 1);
  EXPECT_EQ(v, 39.0);
  small = small;
  EXPECT_EQ(small.getCount(), 40);
  CDoubleCollection shorter(3);
  shorter.add(1);
  big = shorter;  // keeps its own larger array
  EXPECT_EQ(big.getCount(), 1);
  for (int i = 0; i < 200; ++i) big.add(i);
  EXPECT_EQ(big.getCount(), 201);
}

TEST(CGsbShapeTest, NumbersAndTexts) {
  CGsbShape empty;
  int value = -1;
  char text[8] = "xxxxxxx";
  EXPECT_EQ(empty.get(GSB_SHAPE_TYPE, &value), 0);
  EXPECT_EQ(empty.get(GSB_SHAPE_NAME, text, 8), 0);
  EXPECT_STREQ(text, "xxxxxxx");

  CGsbShape shape;
  auto* polygons = new CPolyPolygon;
  double xs[] = {0, 1, 1}, ys[] = {0, 0, 1};
  polygons->addPolygon(CPolygon(xs, ys, 3));
  polygons->addPolygon(CPolygon(xs, ys, 3));
  polygons->setName("Bladen");
  shape.setGeometry(polygons);
  shape.setType(GSB_SHAPE_POLYGON);
  struct {
    int what, result, value;
  } numbers[] = {{GSB_SHAPE_TYPE, 1, GSB_SHAPE_POLYGON},
                 {GSB_SHAPE_PART_COUNT, 1, 2},
                 {GSB_SHAPE_POINT_COUNT, 1, 8},
                 {7, 0, -1}};
  for (const auto& n : numbers) {
    SCOPED_TRACE(n.what);
    value = -1;
    EXPECT_EQ(shape.get(n.what, &value), n.result);
    EXPECT_EQ(value, n.value);
  }
  char four[4];
  EXPECT_EQ(shape.get(GSB_SHAPE_NAME, four, 4), 1);
  EXPECT_STREQ(four, "Bla");
  // Another code writes a number 0.0, but never past the buffer.
  char guard[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
  EXPECT_EQ(shape.get(9, guard, 3), 0);
  EXPECT_EQ(std::string(guard, 6), std::string("\0\0\0def", 6));

  CGsbShape pointShape;
  pointShape.setGeometry(new CPipPoint(1.0, 2.0));
  EXPECT_EQ(pointShape.get(GSB_SHAPE_POINT_COUNT, &value), 1);
  EXPECT_EQ(value, 1);
}

TEST(CGsbShapeTest, CopiesShareTheGeometryAndDeleteItOnce) {
  auto shape = std::make_unique<CGsbShape>();
  shape->setGeometry(new CPipPoint(3.0, 4.0));
  CGsbShape copy(*shape);
  CGsbShape assigned;
  assigned.setGeometry(new CPipPoint(0.0, 0.0));
  assigned = *shape;
  EXPECT_EQ(copy.getGeometry(), shape->getGeometry());
  shape.reset();  // the copies keep the point alive
  EXPECT_EQ(copy.getGeometry()->getPointCount(), 1);
  copy.setGeometry(copy.getGeometry());  // the same geometry again: kept, not deleted
  EXPECT_EQ(assigned.getGeometry()->getPointCount(), 1);
}

TEST(ShapeFunctionsTest, TextsFreeAndDistances) {
  CGsbShape* a = makeGsbShape();
  ASSERT_NE(a, nullptr);
  char buffer[16] = "zzz";
  EXPECT_EQ(gsbShapeGetStr(nullptr, GSB_SHAPE_NAME, buffer, 16), -1);
  EXPECT_EQ(gsbShapeGetStr(a, GSB_SHAPE_NAME, buffer, 0), -1);
  EXPECT_EQ(gsbShapeGetStr(a, GSB_SHAPE_NAME, buffer, 16), 0);  // no geometry
  CPipPoint* p = makePipPointXY(0.0, 60.0);
  p->setName("Oslo");
  a->setGeometry(p);
  a->setType(GSB_SHAPE_POINT);
  EXPECT_EQ(gsbShapeGetStr(a, GSB_SHAPE_NAME, buffer, 1), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(gsbShapeGetStr(a, GSB_SHAPE_NAME, buffer, 16), 1);
  EXPECT_STREQ(buffer, "Oslo");
  EXPECT_EQ(gsbShapeGetStr(a, GSB_SHAPE_TYPE, buffer, 16), 0);

  CGsbShape* b = makeGsbShape();
  b->setGeometry(makePipPointXY(1.0, 60.0));
  b->setType(GSB_SHAPE_POINT);
  int32_t d = -1;
  EXPECT_EQ(gsbDistance(a, b, &d), 1);
  EXPECT_EQ(d, 182160);  // 364320 x cos 60
  EXPECT_EQ(gsbManhattanDistance(a, b, &d), 1);
  EXPECT_EQ(d, 182160);
  EXPECT_EQ(gsbNearDistance(a, b, &d), 1);
  EXPECT_EQ(d, 182160);

  CGsbShape* line = makeGsbShape();
  double xs[] = {0, 1}, ys[] = {0, 0};
  int counts[] = {2};
  line->setGeometry(makePolyLineXY(xs, ys, counts, 1));
  line->setType(GSB_SHAPE_LINE);
  EXPECT_EQ(gsbDistance(a, line, &d), -3);
  EXPECT_EQ(gsbFarDistance(line, b, &d), 1);
  CGsbShape* bare = makeGsbShape();
  bare->setType(GSB_SHAPE_POINT);
  EXPECT_EQ(gsbDistance(a, bare, &d), -3);  // a point type without a point
  d = 5;
  EXPECT_EQ(gsbNearDistance(a, bare, &d), -1);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(gsbNearDistance(a, nullptr, &d), -1);

  for (CGsbShape* s : {a, b, line, bare}) {
    CGsbShape* held = s;
    EXPECT_EQ(gsbShapeFree(&held), 1);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(gsbShapeFree(&held), 1);
  }
}

TEST(ConverterTest, RoundTrips) {
  double xs[] = {0, 2, 0}, ys[] = {0, 0, 2};
  CPolygon triangle(xs, ys, 3);
  gpc_polygon record;
  gdlPolyToGpcPoly(&triangle, &record);
  ASSERT_EQ(record.contour_count, 1);
  EXPECT_EQ(record.hole[0], 0);
  EXPECT_EQ(record.contour[0].vertex_count, 4);
  EXPECT_EQ(record.contour[0].vertex[3].x, 0.0);
  gpc_free_polygon(&record);

  CPolyPolygon list;
  list.addPolygon(triangle);
  double sx[] = {5, 6, 6, 5}, sy[] = {5, 5, 6, 6};
  list.addPolygon(CPolygon(sx, sy, 4));
  gdlPolyPolyToGpcPoly(&list, &record);
  ASSERT_EQ(record.contour_count, 2);
  EXPECT_EQ(record.contour[0].vertex_count, 3);
  EXPECT_EQ(record.contour[1].vertex_count, 4);
  CPolyPolygon back;
  back.setName("dropped by the reset");
  gpcPolyToGdlPoly(&record, &back);
  EXPECT_TRUE(back == list);
  gpc_free_polygon(&record);

  CPolyPolygon empty;
  gdlPolyPolyToGpcPoly(&empty, &record);
  EXPECT_EQ(record.contour_count, 0);
  EXPECT_EQ(static_cast<const void*>(record.hole), nullptr);
  EXPECT_EQ(static_cast<const void*>(record.contour), nullptr);

  // A square with a hole from the clipper: holes become polygons of their own.
  gpc_vertex outer[] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  gpc_vertex inner[] = {{1, 1}, {1, 3}, {3, 3}, {3, 1}};
  gpc_vertex_list contours[] = {{4, outer}, {4, inner}};
  int32_t holes[] = {0, 1};
  gpc_polygon withHole = {2, holes, contours};
  gpcPolyToGdlPoly(&withHole, &back);
  ASSERT_EQ(back.getCount(), 2);
  EXPECT_EQ(back.getPolygon(1).getCount(), 4);
  EXPECT_EQ(back.getPolygon(1).getPoint(4).getX(), 1.0);
}

// The clipper, the factories, the converters and the facade calls are part
// of the shared library's C interface.
TEST(GeometryExportsTest, CallsAreExported) {
  void* library = dlopen(GSB_ZONELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"gpc_polygon_clip",
                           "gpc_free_polygon",
                           "gpc_init_polygon",
                           "makeGsbShape",
                           "makePolyPolygon",
                           "makePolyLine",
                           "makeSpatial",
                           "makePipPoint",
                           "makePipPointXY",
                           "makePolyLineXY",
                           "gdlPolyPolyToGpcPoly",
                           "gdlPolyToGpcPoly",
                           "gpcPolyToGdlPoly",
                           "gsbShapeGetStr",
                           "gsbShapeFree",
                           "gsbDistance",
                           "gsbManhattanDistance",
                           "gsbNearDistance",
                           "gsbFarDistance",
                           "gsbObjectFileOpen",
                           "gsbObjectFileClose",
                           "gsbObjectFindNearestPointOrLine",
                           "gsbObjectFindNextPolygonOverlapPercentage",
                           "gsbObjectGetHandle",
                           "gsbObjectFileGoto"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  dlclose(library);
}

}  // namespace
