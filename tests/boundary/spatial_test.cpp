#include "boundary/spatial.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/boundary/search_fixture.h"

namespace {

using searchtest::Context;

const CPipPoint kParis(2.35299246153921, 48.8580923162691);

// A box about Luxembourg: the whole country and parts of its neighbours.
CPolyPolygon LuxembourgBox() {
  double xs[] = {5.5, 6.8, 6.8, 5.5}, ys[] = {49.3, 49.3, 50.3, 50.3};
  int counts[] = {4};
  return CPolyPolygon(xs, ys, counts, 1);
}

class SpatialTest : public ::testing::Test {
 protected:
  static std::string Countries() {
    return searchtest::RealFile(searchtest::kCountries, PIP_IMPORT_SEGMENTS);
  }
  static std::string Cities() {
    return searchtest::RealFile(searchtest::kCities, PIP_IMPORT_SEGMENTS);
  }
  void SetUp() override {
    ASSERT_FALSE(Countries().empty());
    ASSERT_FALSE(Cities().empty());
  }
  Context context_;
};

TEST_F(SpatialTest, RegionsByPointNameAndBox) {
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(Countries().c_str(), 1), 1);
  EXPECT_EQ(spatial.isValidFile(), 1);

  CPolyPolygon france;
  EXPECT_EQ(spatial.findPolygon(kParis, &france), 1);
  EXPECT_STREQ(france.getName(), "France");
  EXPECT_GE(france.getCount(), 2);  // the mainland and Corsica at least
  int32_t count = 0;
  ASSERT_EQ(spatial.getAttributeCount(&count), 1);
  ASSERT_GT(count, 0);
  char field[32];
  ASSERT_EQ(spatial.getAttributeNameByNumber(1, field, sizeof field), 1);
  gdlAttributeInfoStruct info;
  EXPECT_EQ(spatial.getAttributeInfoByName(field, &info), 1);
  EXPECT_STRNE(info.value, "");

  CPolyPolygon byName;
  EXPECT_EQ(spatial.findPolygon("luxembourg", &byName), 1);
  EXPECT_STREQ(byName.getName(), "Luxembourg");
  CMbr box;
  box.includePolyPolygon(byName);
  EXPECT_GT(box.getWidth(), 0.5);

  std::set<std::string> inBox;
  CPolyPolygon hit;
  for (int r = spatial.findPolygonByMbr(CMbr(6.0, 49.6, 6.1, 49.7), &hit); r == 1;
       r = spatial.findNextPolygonByMbr(&hit)) {
    inBox.insert(hit.getName());
  }
  EXPECT_TRUE(inBox.count("Luxembourg"));
  CPipPoint notAPoint;
  EXPECT_EQ(spatial.findPointByMbr(CMbr(6.0, 49.6, 6.1, 49.7), &notAPoint), -1);
  EXPECT_EQ(spatial.findPolygon(CPipPoint(-30.0, 0.0), &hit), 0);  // the open Atlantic
  // Without a find the attribute value is emptied.
  EXPECT_EQ(spatial.getAttributeInfoByName(field, &info), 0);
  EXPECT_STREQ(info.value, "");
  EXPECT_EQ(spatial.closeFile(), 1);
  EXPECT_EQ(spatial.findPolygon(kParis, &hit), -1);
}

// Every hit of an overlap search comes back filled, whatever its code: the
// region within the query (4) as much as the partial ones (5).
TEST_F(SpatialTest, OverlapHitsOfEveryCodeAreFetched) {
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(Countries().c_str(), 1), 1);
  std::set<int> codes;
  std::set<std::string> names;
  CPolyPolygon query = LuxembourgBox();
  CPolyPolygon first;
  int r = spatial.findPolygon(query, &first);
  while (r > 0) {
    codes.insert(r);
    EXPECT_GT(first.getCount(), 0) << "code " << r;
    EXPECT_STRNE(first.getName(), "") << "code " << r;
    names.insert(first.getName());
    first = CPolyPolygon();
    r = spatial.findNextPolygon(&first);
  }
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(codes.count(4)) << "Luxembourg lies within the box";
  EXPECT_TRUE(codes.count(5));
  EXPECT_TRUE(names.count("Luxembourg"));
  EXPECT_TRUE(names.count("Belgium"));
  // A hit without a place to put it is a failure, not a success.
  EXPECT_EQ(spatial.findPolygon(query, static_cast<CPolyPolygon*>(nullptr)), -1);
}

TEST_F(SpatialTest, OverlapPercentagesLargestFirst) {
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(Countries().c_str(), 1), 1);
  CPolyPolygon query = LuxembourgBox(), hit;
  double share = -1;
  ASSERT_EQ(spatial.findPolygon(query, &hit, &share), 5);
  std::vector<double> shares = {share};
  std::vector<std::string> names = {hit.getName()};
  while (spatial.findNextPolygon(&hit, &share) == 5) {
    shares.push_back(share);
    names.push_back(hit.getName());
  }
  ASSERT_GE(shares.size(), 3u);
  for (size_t i = 1; i < shares.size(); ++i) EXPECT_GE(shares[i - 1], shares[i]);
  double total = 0;
  for (double s : shares) total += s;
  EXPECT_NEAR(total, 100.0, 5.0);                        // the box is all land
  EXPECT_EQ(spatial.findNextPolygon(&hit, &share), -1);  // past the last pending hit
  EXPECT_EQ(spatial.findPolygon(CPolyPolygon(), &hit, &share), 0);
}

TEST_F(SpatialTest, NearestPointsInDistanceOrder) {
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(Cities().c_str(), 1), 1);
  EXPECT_EQ(spatial.isValidFile(), 1);
  CPipPoint city;
  ASSERT_EQ(spatial.findNearestPoint(CPipPoint(2.3, 48.8), &city, 1500000), 1);
  EXPECT_STREQ(city.getName(), "Paris");
  std::vector<std::string> names = {city.getName()};
  double last = 0;
  while (spatial.findNextPoint(&city) == 1) {
    names.push_back(city.getName());
    double d = CPipPoint(2.3, 48.8).distance(city);
    EXPECT_GE(d, last * 0.99) << city.getName();
    last = d;
  }
  EXPECT_GE(names.size(), 3u);
  EXPECT_EQ(names[1], "Brussels");
  EXPECT_EQ(spatial.findNextPoint(&city), 0);
  EXPECT_EQ(spatial.findNearestPoint(CPipPoint(-30.0, 0.0), &city, 1000), 0);

  CPipPoint inBox;
  EXPECT_EQ(spatial.findPointByMbr(CMbr(2.0, 48.5, 2.6, 49.0), &inBox), 1);
  EXPECT_STREQ(inBox.getName(), "Paris");
  EXPECT_EQ(spatial.findNextPointByMbr(&inBox), 0);
  CPolyLine notALine;
  EXPECT_EQ(spatial.findLineByMbr(CMbr(2.0, 48.5, 2.6, 49.0), &notALine), -1);
}

TEST_F(SpatialTest, NearestLinesFromBorders) {
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(Countries().c_str(), 1), 1);
  CPolyLine border;
  // Luxembourg city: the nearest borders within 40 miles.
  ASSERT_EQ(spatial.findNearestLine(CPipPoint(6.13, 49.61), &border, 211200), 1);
  EXPECT_STREQ(border.getName(), "Luxembourg");
  int more = 0;
  while (spatial.findNextLine(&border) == 1) ++more;
  EXPECT_GE(more, 2);
  EXPECT_EQ(spatial.findNextLine(&border), 0);
}

TEST_F(SpatialTest, MixedFileIsNotValidAndIsClosed) {
  testsupport::TempDir dir;
  std::string path = dir.File("mixed.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path,
                                    {searchtest::Region("square", {searchtest::Square(0, 0, 1000)}),
                                     searchtest::Point("dot", 5000, 5000)},
                                    0));
  CSpatial spatial(context_.handle());
  ASSERT_EQ(spatial.openFile(path.c_str(), 0), 1);
  EXPECT_EQ(spatial.isValidFile(), 0);
  CPolyPolygon out;
  EXPECT_EQ(spatial.findPolygon("square", &out), -1);  // closed
  GSBObject object(context_.handle(), path.c_str(), 0, 1);
  ASSERT_TRUE(object.IsValid());
  EXPECT_FALSE(object.IsFileValidForGdl());
  EXPECT_FALSE(object.IsOpen());
}

TEST_F(SpatialTest, LentHandleIsLeftOpen) {
  searchtest::OpenFile file(context_, Countries());
  ASSERT_TRUE(file.ok());
  {
    CSpatial spatial;
    ASSERT_TRUE(spatial.usePipObjectHandle(file.handle()));
    CSpatial copy(spatial);
    CPolyPolygon out;
    EXPECT_EQ(copy.findPolygon(kParis, &out), 1);
  }
  pipObjectFileInfoStruct info;
  EXPECT_EQ(pipObjectHandleFileQuery(file.handle(), &info), 1);
  EXPECT_FALSE(CSpatial().usePipObjectHandle(0));
}

TEST_F(SpatialTest, GsbObjectFindsShapes) {
  GSBObject cities(context_.handle(), Cities().c_str(), 1, 3);
  ASSERT_TRUE(cities.IsValid());
  EXPECT_TRUE(cities.IsOpen());
  EXPECT_EQ(cities.GetVersion(), 3);
  EXPECT_FALSE(cities.HasBeenSearched());

  CGsbShape query;
  query.setGeometry(new CPipPoint(2.3, 48.8));
  query.setType(GSB_SHAPE_POINT);
  CGsbShape* result = nullptr;
  ASSERT_EQ(cities.FindNearestPointOrLine(&query, &result, GSB_SHAPE_POINT, 1500000), 1);
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(cities.HasBeenSearched());
  EXPECT_EQ(result->getType(), GSB_SHAPE_POINT);
  char name[64];
  EXPECT_EQ(gsbShapeGetStr(result, GSB_SHAPE_NAME, name, sizeof name), 1);
  EXPECT_STREQ(name, "Paris");
  gsbShapeFree(&result);
  ASSERT_EQ(cities.FindNextPointOrLine(&result, GSB_SHAPE_POINT), 1);
  EXPECT_EQ(gsbShapeGetStr(result, GSB_SHAPE_NAME, name, sizeof name), 1);
  EXPECT_STREQ(name, "Brussels");
  gsbShapeFree(&result);
  EXPECT_EQ(cities.FindNextPointOrLine(&result, 7), -3);

  CGsbShape line;
  double xs[] = {0, 1}, ys[] = {0, 0};
  int counts[] = {2};
  line.setGeometry(new CPolyLine(xs, ys, counts, 1));
  line.setType(GSB_SHAPE_LINE);
  result = reinterpret_cast<CGsbShape*>(&line);  // overwritten with none
  EXPECT_EQ(cities.FindNearestPointOrLine(&line, &result, GSB_SHAPE_POINT, 1000), -3);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(cities.FindNearestPointOrLine(&query, &result, GSB_SHAPE_POINT, 10), 0);
  EXPECT_EQ(result, nullptr);

  GSBObject countries(context_.handle(), Countries().c_str(), 1, 1);
  ASSERT_TRUE(countries.IsValid());
  EXPECT_TRUE(countries.IsFileValidForGdl());
  CGsbShape area;
  area.setGeometry(new CPolyPolygon(LuxembourgBox()));
  area.setType(GSB_SHAPE_POLYGON);
  double share = 0;
  ASSERT_EQ(countries.FindPolygonOverlapPercentage(&area, &result, &share), 1);
  EXPECT_EQ(result->getType(), GSB_SHAPE_POLYGON);
  EXPECT_GT(share, 10.0);
  gsbShapeFree(&result);
  int hits = 1;
  while (countries.FindNextPolygonOverlapPercentage(&result, &share) == 1) {
    ++hits;
    gsbShapeFree(&result);
  }
  EXPECT_GE(hits, 3);
  EXPECT_EQ(share, 0.0);
  EXPECT_EQ(countries.FindPolygonOverlapPercentage(&query, &result, &share), -3);
  EXPECT_EQ(countries.FindPolygonOverlapPercentage(nullptr, &result, &share), -1);

  char found[128];
  EXPECT_EQ(countries.FindFirstContaining(kParis.getSpatialX(), kParis.getSpatialY(), 0, found,
                                          sizeof found),
            1);
  EXPECT_STREQ(found, "France");
  pipObjectInfoStruct info;
  EXPECT_EQ(countries.GetInfo(&info), 1);
  EXPECT_STREQ(info.name, "France");

  GSBObject missing(context_.handle(), "/no/such/file.gsb", 1, 1);
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(missing.FindNearestPointOrLine(&query, &result, GSB_SHAPE_POINT, 1000), -1);
}

// Copies share the open file: it stays open while one of them is left and
// is closed once, when the last goes; no other caller's handle is touched.
TEST_F(SpatialTest, CopiesCloseTheirFileOnce) {
  const int32_t before = HandleTable::Global().InUseCount();
  char found[128];
  {
    auto original =
        std::make_unique<GSBObject>(context_.handle(), Countries().c_str(), 1, 1);
    ASSERT_TRUE(original->IsValid());
    GSBObject copy(*original);
    GSBObject assigned(context_.handle(), Cities().c_str(), 1, 1);
    assigned = *original;  // lets go of the cities file
    EXPECT_EQ(HandleTable::Global().InUseCount(), before + 1);
    original.reset();
    {
      GSBObject scratch(copy);
      scratch.Close();
    }
    // Another caller's file, opened after the closes above.
    searchtest::OpenFile other(context_, Cities());
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(copy.FindFirstContaining(kParis.getSpatialX(), kParis.getSpatialY(), 0, found,
                                       sizeof found),
              1);
    EXPECT_STREQ(found, "France");
    copy.Close();
    EXPECT_EQ(assigned.FindFirstContaining(kParis.getSpatialX(), kParis.getSpatialY(), 0, found,
                                           sizeof found),
              1);
    CSpatial spatial(context_.handle());
    ASSERT_EQ(spatial.openFile(Countries().c_str(), 1), 1);
    CSpatial spatialCopy(spatial);
    spatial = spatialCopy;
    spatial.closeFile();
    CPolyPolygon out;
    EXPECT_EQ(spatialCopy.findPolygon(kParis, &out), 1);
    pipObjectFileInfoStruct info;
    EXPECT_EQ(pipObjectHandleFileQuery(other.handle(), &info), 1);
  }
  EXPECT_EQ(HandleTable::Global().InUseCount(), before);
}

TEST_F(SpatialTest, GsbCallsGuardTheirHandles) {
  uint32_t handle = 0;
  ASSERT_EQ(gsbObjectFileOpen(context_.handle(), Countries().c_str(), 1, 1, &handle), 1);
  ASSERT_NE(handle, 0u);
  char found[128];
  EXPECT_EQ(gsbObjectFindFirstContaining(handle, kParis.getSpatialX(), kParis.getSpatialY(), 0,
                                         found, sizeof found),
            1);
  EXPECT_STREQ(found, "France");
  int32_t offset = gsbObjectGetHandle(handle);
  EXPECT_GT(offset, 0);
  EXPECT_EQ(gsbObjectFindFirstContaining(handle, 6130000, 49610000, 0, found, sizeof found), 1);
  EXPECT_STREQ(found, "Luxembourg");
  EXPECT_EQ(gsbObjectFileGoto(handle, static_cast<uint32_t>(offset)), 1);
  pipObjectInfoStruct info;
  EXPECT_EQ(gsbObjectGetInfo(handle, &info), 1);
  EXPECT_STREQ(info.name, "France");
  int32_t fields = 0;
  EXPECT_EQ(gsbObjectGetAttributeCount(handle, &fields), 1);
  pipObjectFileInfoStruct header;
  EXPECT_EQ(gsbObjectHandleFileQuery(handle, &header), 1);
  EXPECT_EQ(header.regionCount, 177u);

  EXPECT_EQ(gsbObjectFileClose(handle), 1);
  // Closed, never given, and 0: all refused without touching anything.
  for (uint32_t bad : {handle, handle + 1000, 0u}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(gsbObjectFindNext(bad, found, sizeof found), -1);
    EXPECT_EQ(gsbObjectGetInfo(bad, &info), -1);
    EXPECT_EQ(gsbObjectGetHandle(bad), -1);
    EXPECT_EQ(gsbObjectFileClose(bad), -1);
  }

  uint32_t missing = 0;
  EXPECT_EQ(gsbObjectFileOpen(context_.handle(), "/no/such/file.gsb", 1, 1, &missing), -1);
  EXPECT_NE(missing, 0u);
  EXPECT_NE(missing, handle);  // handles are not reissued
  EXPECT_EQ(gsbObjectFindNext(missing, found, sizeof found), -1);
  EXPECT_EQ(gsbObjectFileClose(missing), -1);
  EXPECT_EQ(gsbObjectFileOpen(context_.handle(), Countries().c_str(), 1, 1, nullptr), -1);

  CSpatial* made = makeSpatial();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->setPipHandle(context_.handle()));
  EXPECT_EQ(made->openFile(Countries().c_str(), 0), 1);
  delete made;
}

}  // namespace
