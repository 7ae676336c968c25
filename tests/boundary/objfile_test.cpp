#include "boundary/objfile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
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

TEST(BufferedRadiusTest, RadiiGrowByPowersOf1414) {
  struct Case {
    int32_t maximum;
    std::vector<int32_t> radii;  // the first ones
  } cases[] = {
      {1000, {126, 178, 251, 354, 500, 707, 999, 1000}},
      {150, {150}},
      {199, {199}},
      {200, {101, 142, 200}},
      {100000, {1112, 1572, 2222}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> radii{BufferedFirstRadius(c.maximum)};
    while (radii.size() < c.radii.size() && radii.back() < c.maximum)
      radii.push_back(BufferedNextRadius(radii.back(), c.maximum));
    EXPECT_EQ(radii, c.radii) << c.maximum;
  }
}

class ObjectFileTest : public searchtest::FileTest {};

// Regions about the point P: "outer" holds it deep inside, "inner" 182 feet
// from its border; outside lie "near" (291 feet), "mid" (1500 feet) and
// "far" (6000 feet).
std::vector<Obj> AroundP() {
  return {
      searchtest::Region("far", {Square(kX - 250, kY - 16469 - 500, 500)}),
      searchtest::Region("mid", {Square(kX - 250, kY - 4117 - 500, 500)}),
      searchtest::Region("inner", {Square(kX - 5000, kY - 500, 10000)}),
      searchtest::Region("near", {Square(kX - 250, kY - 800 - 500, 500)}),
      searchtest::Region("outer", {Square(kX - 1000000, kY - 1000000, 2000000)}),
  };
}

TEST_F(ObjectFileTest, BufferedSearchDeepestFirstThenNearest) {
  const std::string path = Build(AroundP(), PIP_IMPORT_SEGMENTS);
  OpenFile f(c_, path);
  ASSERT_TRUE(f.ok());
  struct Hit {
    std::string name;
    int32_t flags;
    int32_t feet;
  };
  std::vector<Hit> hits;
  for (int32_t r = pipObjectFindFirstContainingEx(f.handle(), kX, kY, 2000, name_, 128); r > 0;
       r = pipObjectFindNext(f.handle(), name_, 128)) {
    hits.push_back({name_, r, pipObjectDistanceToBorder(f.handle(), 0, 0)});
    // The queries answer for the hit.
    pipObjectInfoStruct info;
    ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), 1);
    EXPECT_STREQ(info.name, name_);
    uint32_t points = 0, parts = 0;
    ASSERT_EQ(pipObjectGetNumCoords(f.handle(), &points, &parts), 1);
    EXPECT_EQ(points, 4u);
  }
  ASSERT_EQ(hits.size(), 4u);
  EXPECT_EQ(hits[0].name, "outer");
  EXPECT_EQ(hits[0].flags, 1);
  EXPECT_GT(hits[0].feet, 2000);
  EXPECT_EQ(hits[1].name, "inner");
  EXPECT_EQ(hits[1].flags, 3);
  EXPECT_NEAR(hits[1].feet, 182, 2);
  EXPECT_EQ(hits[2].name, "near");
  EXPECT_EQ(hits[2].flags, 2);
  EXPECT_NEAR(hits[2].feet, 291, 2);
  EXPECT_EQ(hits[3].name, "mid");
  EXPECT_NEAR(hits[3].feet, 1500, 2);
  // Used up: the next step goes to the search kind under it, which has
  // ended.
  EXPECT_EQ(pipObjectFindNext(f.handle(), name_, 128), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_EMPTY);

  // A small maximum needs one pass; a radius of 0 keeps only containing
  // regions.
  EXPECT_EQ(
      searchtest::Names(f.handle(),
                        pipObjectFindFirstContainingEx(f.handle(), kX, kY, 0, name_, 128), name_),
      (std::vector<std::string>{"outer", "inner"}));
  EXPECT_EQ(pipObjectFindFirstContainingEx(f.handle(), kX + 30000000, kY, 150, name_, 128), 0);
}

TEST_F(ObjectFileTest, HandleAndGotoFollowTheBufferedHit) {
  const std::string path = Build(AroundP(), PIP_IMPORT_SEGMENTS);
  OpenFile f(c_, path);
  ASSERT_EQ(pipObjectFindFirstContainingEx(f.handle(), kX, kY, 2000, name_, 128), 1);
  uint32_t outerLow = 0, outerHigh = 0;
  ASSERT_EQ(pipObjectGetHandle64(f.handle(), &outerLow, &outerHigh), 1);
  ASSERT_EQ(pipObjectFindNext(f.handle(), name_, 128), 3);
  EXPECT_STREQ(name_, "inner");
  EXPECT_NE(uint32_t(pipObjectGetHandle(f.handle())), outerLow);
  // Back to the first hit: the following step delivers the second again.
  ASSERT_EQ(pipObjectFileGoto64(f.handle(), outerLow, outerHigh), 1);
  EXPECT_EQ(uint32_t(pipObjectGetHandle(f.handle())), outerLow);
  EXPECT_EQ(pipPointInPoly(f.handle(), kX, kY), 1);
  ASSERT_EQ(pipObjectFindNext(f.handle(), name_, 128), 3);
  EXPECT_STREQ(name_, "inner");
  // Any other find ends the buffered search.
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "near", name_, 128), 1);
  EXPECT_EQ(pipObjectFindNext(f.handle(), name_, 128), 0);
}

TEST_F(ObjectFileTest, NameBuffers) {
  const std::string path = Build({searchtest::Point("Wakefield", kX, kY)}, 0);
  OpenFile f(c_, path);
  struct Case {
    int32_t size;
    int32_t result;
    std::string name;
  } cases[] = {{128, 1, "Wakefield"}, {10, 1, "Wakefield"}, {9, 1, "Wakefiel"},
               {4, 1, "Wak"},         {1, 1, ""},           {0, -1, "untouched"},
               {-5, -1, "untouched"}};
  for (const Case& c : cases) {
    char buffer[128] = "untouched";
    EXPECT_EQ(pipObjectFindFirstName(f.handle(), "*", buffer, c.size), c.result) << c.size;
    EXPECT_EQ(std::string(buffer), c.name) << c.size;
  }
  EXPECT_EQ(pipObjectFindFirstName(f.handle(), "*", nullptr, 0), 1);
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), 0, 0, 0, buffer, 8), 0);
  EXPECT_STREQ(buffer, "") << "cleared before the search";
}

TEST_F(ObjectFileTest, HandlesOfOtherKindsAndClosedFiles) {
  const std::string path = Build({searchtest::Point("a", kX, kY)}, 0);
  uint32_t h = 0;
  ASSERT_EQ(pipObjectFileOpen(c_.handle(), path.c_str(), 1, &h), 1);
  EXPECT_EQ(pipObjectFindFirstName(c_.handle(), "*", name_, 128), -1) << "a context";
  EXPECT_EQ(pipObjectFileClose(c_.handle()), -1) << "a context is not closed as a file";
  EXPECT_EQ(pipObjectFileCloseEx(&h), 1);
  EXPECT_EQ(pipObjectFindFirstName(h, "*", name_, 128), -1);
  EXPECT_EQ(pipObjectFileClose(h), -1);
  EXPECT_EQ(pipObjectFileCloseEx(nullptr), -1);
  EXPECT_EQ(pipObjectFileOpen(c_.handle(), path.c_str(), 1, nullptr), -1);
  EXPECT_EQ(pipObjectFileOpen(c_.handle(), temp_.File("missing.gsb").c_str(), 1, &h), -1);
  EXPECT_EQ(HandleTable::Global().InUseCount(), 1) << "only the context";
}

TEST_F(ObjectFileTest, Validate) {
  const std::string good = Build({searchtest::Point("a", kX, kY)}, 0);
  EXPECT_EQ(pipObjectFileValidate(c_.handle(), good.c_str()), 1);
  const std::string empty = Build({}, 0);
  EXPECT_EQ(pipObjectFileValidate(c_.handle(), empty.c_str()), -1) << "no object to find";
  EXPECT_EQ(pipObjectFileValidate(c_.handle(), temp_.Write("x.gsb", std::string(900, 'x')).c_str()),
            -1);
  // An attribute file made for another boundary file.
  const std::string stamped = temp_.File("stamped.gsb");
  const std::string shp = testsupport::SharedDataPath("nc/nc.shp");
  ASSERT_TRUE(searchtest::BuildFromShape(shp, stamped, "NAME", 0));
  EXPECT_EQ(pipObjectFileValidate(c_.handle(), stamped.c_str()), 1);
  std::string bytes = testsupport::ReadAll(stamped);
  bytes[536 + 288] = bytes[536 + 288] == 'M' ? 'T' : 'M';  // the creation time
  std::ofstream(stamped, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_EQ(pipObjectFileValidate(c_.handle(), stamped.c_str()), -1);
  OpenFile f(c_, stamped);
  ASSERT_TRUE(f.ok()) << "out of date attributes leave the file usable";
  int32_t count = 0;
  EXPECT_EQ(pipObjectGetAttributeCount(f.handle(), &count), -1);
}

TEST_F(ObjectFileTest, AttributesOfTheObjectFound) {
  const std::string path = searchtest::RealFile(searchtest::kNc, 0);
  ASSERT_FALSE(path.empty());
  OpenFile f(c_, path);
  ASSERT_TRUE(f.ok());
  int32_t count = 0;
  ASSERT_EQ(pipObjectGetAttributeCount(f.handle(), &count), 1);
  EXPECT_EQ(count, 14);
  pipAttributeInfoStruct a;
  EXPECT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "NAME", &a), 0) << "no object yet";
  EXPECT_EQ(a.type, uint32_t('C'));
  ASSERT_EQ(pipObjectFindFirstContaining(f.handle(), -78640000, 35780000, 0, name_, 128), 1);
  EXPECT_STREQ(name_, "Wake");
  ASSERT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "FIPS", &a), 1);
  EXPECT_STREQ(a.value, "37183");
  ASSERT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "BIR74", &a), 1);
  EXPECT_STREQ(a.value, "14484");
  EXPECT_EQ(a.type, uint32_t('N'));
  EXPECT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "NOPE", &a), -1);
  // The record follows every find, also one that finds nothing.
  ASSERT_EQ(pipObjectFindFirstContaining(f.handle(), -70000000, 35780000, 0, name_, 128), 0);
  EXPECT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "FIPS", &a), 0);
  ASSERT_EQ(pipObjectFindFirstContaining(f.handle(), -80840000, 35230000, 0, name_, 128), 1);
  ASSERT_EQ(pipObjectGetAttributeInfoByName(f.handle(), "NAME", &a), 1);
  EXPECT_STREQ(a.value, name_);
  ASSERT_EQ(pipObjectFindFirstContaining(f.handle(), -78640000, 35780000, 0, name_, 128), 1);
  ASSERT_EQ(pipObjectGetAttributeInfoByNumber(f.handle(), 4, &a), 1);
  EXPECT_STREQ(a.name, "NAME");
  EXPECT_STREQ(a.value, "Wake");
  char field[12];
  ASSERT_EQ(pipObjectGetAttributeNameByNumber(f.handle(), 4, field, sizeof field), 1);
  EXPECT_STREQ(field, "NAME");
  ASSERT_EQ(pipObjectGetAttributeNameByNumber(f.handle(), 4, field, 3), 1);
  EXPECT_STREQ(field, "NA") << "size - 1 characters and the NUL";

  EXPECT_EQ(pipObjectValidateFilterCriteria(f.handle(), "BIR74 > 1000"), 1);
  EXPECT_EQ(pipObjectValidateFilterCriteria(f.handle(), "NAME > 'x'"), -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_EMPTY);
  EXPECT_EQ(c_.Detail(),
            "The search criteria did not parse correctly. Invalid value. Alpha values are not "
            "valid for this operator.");
  EXPECT_EQ(pipObjectValidateFilterCriteria(f.handle(), "XYZ = 1"), -1);
  // Filtering needs point objects: none here, so nothing passes.
  EXPECT_EQ(
      pipObjectFindFirstNearestEx(f.handle(), -78640000, 35780000, 3, "BIR74 > 1000", name_, 128),
      0);
  EXPECT_EQ(
      pipObjectFindFirstNearestEx(f.handle(), -78640000, 35780000, 3, "BIR74 > 'a'", name_, 128),
      -1);
  EXPECT_EQ(c_.Code(), Q_ERROR_EMPTY);
}

TEST_F(ObjectFileTest, FilteringNeedsAnAttributeFile) {
  const std::string path = Build({searchtest::Point("a", kX, kY)}, 0);
  OpenFile f(c_, path);
  EXPECT_EQ(pipObjectFindFirstNearestEx(f.handle(), kX, kY, 1, "A = 1", name_, 128), -1);
  EXPECT_EQ(c_.Detail(), "No attribute file was found. Cannot filter without attributes.");
  EXPECT_EQ(pipObjectFindFirstNearestEx(f.handle(), kX, kY, 65537, "A = 1", name_, 128), -1);
}

// The shared library exports the families of the search, the overlap check
// and the surface files, and none of their bodies.
TEST(ZonelibExportsTest, SearchCalls) {
  void* library = dlopen(GSB_ZONELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"pipObjectFileOpen",
                           "pipObjectFileClose",
                           "pipObjectFileCloseEx",
                           "pipObjectFileQuery",
                           "pipObjectFileValidate",
                           "pipObjectHandleFileQuery",
                           "pipObjectHandleFileQueryEx",
                           "pipObjectIsTaxFile",
                           "pipObjectFindFirstContaining",
                           "pipObjectFindFirstContainingEx",
                           "pipObjectFindFirstRect",
                           "pipObjectFindFirstName",
                           "pipObjectFindFirstNearest",
                           "pipObjectFindFirstNearestEx",
                           "pipObjectFindFirstPolygon",
                           "pipObjectFindFirstPolygonEx",
                           "pipObjectFindNext",
                           "pipObjectFindNextEx",
                           "pipObjectValidateFilterCriteria",
                           "pipObjectGetSearchDistance",
                           "pipObjectSetSearchDistance",
                           "pipObjectGetInfo",
                           "pipObjectGetNumCoords",
                           "pipObjectGetCoords",
                           "pipObjectGetHandle64",
                           "pipObjectGetHandle",
                           "pipObjectFileGoto64",
                           "pipObjectFileGoto",
                           "pipObjectDistanceToBorder",
                           "pipObjectDistanceToBorderEx",
                           "pipPointInPoly",
                           "pipObjectGetAttributeCount",
                           "pipObjectGetAttributeNameByNumber",
                           "pipObjectGetAttributeInfoByName",
                           "pipObjectGetAttributeInfoByNumber",
                           "pipInitializeOverlapCheck",
                           "pipTerminateOverlapCheck",
                           "pipAddRegionAPolygon",
                           "pipAddRegionBPolygon",
                           "pipClearRegionAPolygon",
                           "pipClearRegionBPolygon",
                           "pipClearRegionAllPolygon",
                           "pipCheckForRegionOverlap",
                           "pipCheckForRegionOverlapEx",
                           "pipSurfFileOpen",
                           "pipSurfFileClose",
                           "pipSurfFileQuery",
                           "pipSurfFileValidate",
                           "pipSurfFindFirstValue",
                           "pipSurfFindNextValue",
                           "pipSurfGetCoords",
                           "pipSurfGetInfo"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  for (const char* name : {"_Z22pipObjectGetInfoInternP19pipObjectFileObjectP19pipObjectInfoStruct",
                           "_Z23PolygonSearchHitComparePK18SpatialPolygonNodeS1_"})
    EXPECT_EQ(dlsym(library, name), nullptr) << name;
  dlclose(library);
}

// Threads each with their own handle on one file (with its attribute file)
// and one context between them find what one thread finds alone (run under
// ThreadSanitizer too).
TEST_F(ObjectFileTest, ThreadsWithTheirOwnHandlesFindWhatOneFinds) {
  const std::string path = searchtest::RealFile(searchtest::kNc, 0);
  ASSERT_FALSE(path.empty());
  auto lookUp = [&](uint32_t file) {
    std::vector<std::string> found;
    char name[128];
    pipAttributeInfoStruct a;
    for (int32_t x = -84300000; x < -75500000; x += 97000)
      for (int32_t y = 33900000; y < 36600000; y += 113000) {
        const int32_t r = pipObjectFindFirstContaining(file, x, y, 0, name, sizeof name);
        // Every fourth lookup also reads an attribute.
        if (r == 1 && found.size() % 4 == 0 &&
            pipObjectGetAttributeInfoByName(file, "FIPS", &a) == 1)
          found.push_back(std::string(name) + " " + a.value);
        else
          found.push_back(r == 1 ? name : "-");
      }
    return found;
  };
  std::vector<std::string> alone;
  {
    OpenFile f(c_, path);
    ASSERT_TRUE(f.ok());
    alone = lookUp(f.handle());
  }
  ASSERT_GT(alone.size(), 500u);
  constexpr int kThreads = 6;
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      OpenFile f(c_, path);
      if (f.ok()) results[size_t(t)] = lookUp(f.handle());
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(results[size_t(t)], alone) << "thread " << t;
}

}  // namespace
