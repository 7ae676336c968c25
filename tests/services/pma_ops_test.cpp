// Trade areas: the operations (rings, non-overlapping rings, customer hulls)
// and the boundary files a job writes, checked with GEOS and read back
// through the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "services/pma_api.h"
#include "services/pma_ops.h"
#include "tests/services/services_fixture.h"
#include "tests/support/geos_oracle.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using svctest::Context;
using svctest::NamedRegion;
using svctest::OpenFile;
using svctest::XY;

constexpr double kPi = 3.141592653589793;

double ShoelaceArea(const PmaPointList& ring, double xScale = 1.0) {
  double twice = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const PmaPoint& a = ring[i];
    const PmaPoint& b = ring[(i + 1) % ring.size()];
    twice += double(a.x) * xScale * b.y - double(b.x) * xScale * a.y;
  }
  return std::fabs(twice) / 2;
}

double NgonArea(int32_t n, double r) { return n / 2.0 * r * r * std::sin(2 * kPi / n); }

std::vector<XY> ToXY(const PmaPointList& list) {
  std::vector<XY> out;
  for (const PmaPoint& p : list) out.push_back({p.x, p.y});
  return out;
}

// A job on its own context, through the handles.
class Job {
 public:
  Job() { EXPECT_EQ(pipPmaInit(context_.handle(), &handle_), 1); }
  ~Job() { pipPmaTerm(handle_, keep_); }
  uint32_t handle() const { return handle_; }
  const Context& context() const { return context_; }
  void KeepOnEnd(int32_t keep) { keep_ = keep; }
  int32_t End(int32_t keep) {
    const int32_t r = pipPmaTerm(handle_, keep);
    handle_ = 0;
    return r;
  }

 private:
  Context context_;
  uint32_t handle_ = 0;
  int32_t keep_ = 1;
};

std::map<std::string, NamedRegion> ReadRegions(const std::string& path) {
  Context c;
  OpenFile f(c, path);
  std::map<std::string, NamedRegion> out;
  if (!f.ok()) return out;
  for (NamedRegion& r : svctest::Regions(f.handle())) out[r.name] = r;
  return out;
}

// ---- Rings ----------------------------------------------------------------------

TEST(PmaRing, AreasAreTheRegularPolygons) {
  struct Case {
    const char* name;
    int32_t x, y, segments;
    bool geographic;
    double radius;
  };
  const Case cases[] = {
      {"plane 3", 5000, -7000, 3, false, 10000},     {"plane 36", 0, 0, 36, false, 50000},
      {"plane 360", 123456, 7, 360, false, 1e6},     {"geo equator", 0, 0, 72, true, 10},
      {"geo 45N", -75000000, 45000000, 72, true, 25}, {"geo 70S", 20000000, -70000000, 90, true, 5},
  };
  for (const Case& c : cases) {
    PmaPointList ring;
    ASSERT_EQ(PmaRingOperation(c.x, c.y, c.segments, c.geographic, c.radius, &ring), 1) << c.name;
    ASSERT_EQ(ring.size(), size_t(c.segments)) << c.name;
    // Geographic rings are circles of radius/69 degrees in the frame whose
    // x is scaled by cos(latitude).
    const double xScale = c.geographic ? std::cos(c.y / 1e6 * kPi / 180) : 1.0;
    const double r = c.geographic ? c.radius / 69.0 * 1e6 : c.radius;
    EXPECT_NEAR(ShoelaceArea(ring, xScale) / NgonArea(c.segments, r), 1.0, 0.005) << c.name;
  }
}

TEST(PmaRing, SegmentAndRadiusLimits) {
  struct Case {
    int32_t segments;
    double radius;
    int32_t result;
    size_t points;
  };
  const Case cases[] = {{2, 10, -1, 0}, {3, 10, 1, 3},   {360, 10, 1, 360},
                        {361, 10, -2, 0}, {8, -1, -3, 0}, {8, 0, 1, 0}};
  for (const Case& c : cases) {
    PmaPointList ring{{1, 1}};
    EXPECT_EQ(PmaRingOperation(0, 0, c.segments, false, c.radius, &ring), c.result)
        << c.segments << " " << c.radius;
    EXPECT_EQ(ring.size(), c.points) << c.segments << " " << c.radius;
  }
}

TEST(PmaRing, NearThePoleStaysInTheCoordinateRange) {
  for (int32_t lat : {90000000, -90000000, 89999999, 95000000}) {
    PmaPointList ring;
    ASSERT_EQ(PmaRingOperation(10000000, lat, 36, true, 100, &ring), 1) << lat;
    ASSERT_EQ(ring.size(), 36u);
    for (const PmaPoint& p : ring) {
      EXPECT_LE(std::abs(int64_t(p.x)), 180000000) << lat;
      EXPECT_LE(std::abs(int64_t(p.y)), 90000000) << lat;
    }
  }
  // Non-overlapping rings and hulls at a pole: finite, in range.
  const PmaStoreEntry stores[] = {{0, 90000000, 0}, {1000, 89990000, 1}};
  PmaNeighbourIndex index;
  ASSERT_TRUE(index.Build(stores, 2, true, 50));
  PmaPointList area;
  ASSERT_EQ(PmaThiessenOperation(index, 0, 90000000, 36, true, 50, &area), 1);
  for (const PmaPoint& p : area) EXPECT_LE(std::abs(int64_t(p.x)), 180000000);
}

// ---- Non-overlapping rings ------------------------------------------------------

std::vector<PmaStoreEntry> RandomStores(size_t n, int32_t span, uint32_t seed, bool geographic,
                                        bool repeats = true) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> coordinate(0, span);
  std::vector<PmaStoreEntry> stores;
  for (size_t i = 0; i < n; ++i) {
    PmaStoreEntry s{coordinate(random), coordinate(random), int32_t(i)};
    if (geographic) s.y += 60000000;
    // Some stores stand where the one before stands, some where an earlier
    // one does.
    if (repeats && i % 17 == 5) s = {stores.back().x, stores.back().y, int32_t(i)};
    if (repeats && i % 23 == 7) s = {stores[i / 2].x, stores[i / 2].y, int32_t(i)};
    stores.push_back(s);
  }
  return stores;
}

TEST(PmaThiessen, TheIndexFindsWhatTheScanFinds) {
  for (bool geographic : {false, true}) {
    const double radius = geographic ? 20 : 800;
    const auto stores = RandomStores(600, geographic ? 3000000 : 20000, 7, geographic);
    PmaNeighbourIndex index;
    ASSERT_TRUE(index.Build(stores.data(), stores.size(), geographic, radius));
    std::vector<PmaStoreEntry> byIndex, byScan;
    size_t found = 0;
    for (const PmaStoreEntry& s : stores) {
      index.Neighbours(s.x, s.y, &byIndex);
      PmaScanNeighbours(stores.data(), stores.size(), geographic, radius, s.x, s.y, &byScan);
      ASSERT_EQ(byIndex.size(), byScan.size());
      for (size_t i = 0; i < byScan.size(); ++i) {
        EXPECT_EQ(byIndex[i].number, byScan[i].number);
        EXPECT_EQ(byIndex[i].x, byScan[i].x);
        EXPECT_EQ(byIndex[i].y, byScan[i].y);
      }
      found += byScan.size();
    }
    EXPECT_GT(found, stores.size()) << "the case must have neighbours";
  }
}

TEST(PmaThiessen, AloneIsTheFullCircleAndTwoMeetOnTheBisector) {
  const PmaStoreEntry stores[] = {{0, 0, 0}, {100, 0, 1}, {50000, 50000, 2}};
  PmaNeighbourIndex index;
  ASSERT_TRUE(index.Build(stores, 3, false, 1000));
  PmaPointList alone, ring, left, right;
  ASSERT_EQ(PmaThiessenOperation(index, 50000, 50000, 24, false, 1000, &alone), 1);
  ASSERT_EQ(PmaRingOperation(50000, 50000, 24, false, 1000, &ring), 1);
  EXPECT_EQ(ToXY(alone).size(), ring.size());
  EXPECT_DOUBLE_EQ(ShoelaceArea(alone), ShoelaceArea(ring));

  ASSERT_EQ(PmaThiessenOperation(index, 0, 0, 24, false, 1000, &left), 1);
  ASSERT_EQ(PmaThiessenOperation(index, 100, 0, 24, false, 1000, &right), 1);
  int32_t leftMax = INT32_MIN, rightMin = INT32_MAX;
  for (const PmaPoint& p : left) leftMax = std::max(leftMax, p.x);
  for (const PmaPoint& p : right) rightMin = std::min(rightMin, p.x);
  EXPECT_EQ(leftMax, 50);
  EXPECT_EQ(rightMin, 50);
}

// Where bisectors meet at a sharp angle no whole point next to their
// crossing may lie inside them all; such a vertex was once left out, and a
// store whose area had three vertices lost it (a store amid three others,
// and about one in thirty of many random stores). Each store's area now
// holds at least three vertices and covers the store.
TEST(PmaThiessen, EveryStoreGetsItsArea) {
  struct Case {
    const char* name;
    std::vector<PmaStoreEntry> stores;
    bool geographic;
    double radius;
  };
  std::vector<PmaStoreEntry> country, plane;
  std::mt19937 random(5);
  std::uniform_int_distribution<int32_t> lon(-124000000, -67000000), lat(25000000, 49000000);
  for (int32_t i = 0; i < 2000; ++i) country.push_back({lon(random), lat(random), i});
  plane = RandomStores(2000, 2000000, 13, false, false);
  const Case cases[] = {
      {"a store amid three",
       {{-120141180, 42917040, 0}, {-120056530, 42738870, 1}, {-120549030, 43213200, 2},
        {-119831410, 43025080, 3}},
       true, 100},
      {"random stores over the country", country, true, 100},
      {"random stores in the plane", plane, false, 60000},
  };
  testsupport::Geos geos;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PmaNeighbourIndex index;
    ASSERT_TRUE(index.Build(c.stores.data(), c.stores.size(), c.geographic, c.radius));
    size_t lost = 0;
    for (const PmaStoreEntry& s : c.stores) {
      PmaPointList area;
      ASSERT_EQ(PmaThiessenOperation(index, s.x, s.y, 72, c.geographic, c.radius, &area), 1);
      if (area.size() < 3) {
        ++lost;
        continue;
      }
      auto polygon = geos.Polygon(ToXY(area));
      ASSERT_TRUE(polygon);
      auto store = geos.Point(s.x, s.y);
      EXPECT_TRUE(GEOSCovers_r(geos.context(), polygon.get(), store.get())) << s.number;
    }
    EXPECT_EQ(lost, 0u);
  }
}

TEST(PmaThiessen, StoresAreasDoNotOverlap) {
  testsupport::TempDir dir;
  const std::string path = dir.File("areas.gsb");
  // Stores in one place share a circle whole: every store stands apart.
  const auto stores = RandomStores(80, 20000, 11, false, false);
  const double radius = 3000;
  {
    Job job;
    for (const PmaStoreEntry& s : stores)
      ASSERT_EQ(pipPmaAddStore(job.handle(), s.x, s.y, ("S" + std::to_string(s.number)).c_str()),
                1);
    ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 0, path.c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(pipPmaGenerateNonoverlappingRingPolygons(job.handle(), 48, 0, 1, radius, 0, 0), 1);
  }
  const auto regions = ReadRegions(path);
  ASSERT_EQ(regions.size(), stores.size());
  testsupport::Geos geos;
  std::vector<testsupport::Geos::Geom> areas;
  for (const auto& [name, region] : regions) {
    ASSERT_EQ(region.rings.size(), 1u) << name;
    areas.push_back(geos.Polygon(region.rings[0]));
    ASSERT_TRUE(areas.back()) << name;
  }
  const double limit = 1e-9 * kPi * radius * radius;
  size_t touching = 0;
  for (size_t i = 0; i < areas.size(); ++i)
    for (size_t j = i + 1; j < areas.size(); ++j) {
      auto both = geos.Own(GEOSIntersection_r(geos.context(), areas[i].get(), areas[j].get()));
      ASSERT_TRUE(both);
      EXPECT_LE(geos.Area(both.get()), limit) << i << " " << j;
      // Whole vertices leave at most a sliver of a unit or two between them.
      touching += geos.Distance(areas[i].get(), areas[j].get()) < 2;
    }
  EXPECT_GT(touching, 20u) << "the case must have neighbours";
}

// ---- Customer hulls --------------------------------------------------------------

TEST(PmaHull, HoldsEveryCustomerItWasBuiltFrom) {
  testsupport::Geos geos;
  std::mt19937 random(3);
  for (bool geographic : {false, true}) {
    const int32_t sx = geographic ? -100123457 : 5000, sy = geographic ? 63456789 : -3000;
    std::uniform_int_distribution<int32_t> offset(-300000, 300000);
    std::vector<PmaCustomerEntry> customers;
    double total = 0;
    for (int i = 0; i < 200; ++i) {
      customers.push_back({sx + offset(random), sy + offset(random) / 2, 1.0 + i % 3});
      total += customers.back().value;
    }
    for (double share : {1.0, 0.5, 0.1}) {
      PmaPointList hull;
      ASSERT_EQ(PmaConvexHullOperation(sx, sy, customers.data(), customers.size(), total, 0, 1,
                                       geographic, share, &hull),
                1);
      ASSERT_GE(hull.size(), 3u);
      auto area = geos.Polygon(ToXY(hull));
      ASSERT_TRUE(area);
      auto prepared = geos.Prepare(area.get());
      // The share nearest the store (by the frame's distance) must be inside;
      // the farthest customer is a corner when every customer is taken.
      const double xScale = geographic ? std::cos(sy / 1e6 * kPi / 180) : 1.0;
      std::vector<std::pair<double, size_t>> order;
      for (size_t i = 0; i < customers.size(); ++i) {
        const double dx = (customers[i].x - sx) * xScale, dy = customers[i].y - sy;
        order.push_back({dx * dx + dy * dy, i});
      }
      std::sort(order.begin(), order.end());
      const size_t taken = size_t(customers.size() * share);
      for (size_t k = 0; k < taken; ++k) {
        const PmaCustomerEntry& c = customers[order[k].second];
        auto point = geos.Point(c.x, c.y);
        EXPECT_TRUE(GEOSPreparedCovers_r(geos.context(), prepared.get(), point.get()))
            << geographic << " " << share << " " << c.x << " " << c.y;
      }
    }
  }
}

TEST(PmaHull, ThresholdsAndDistance) {
  // Ten customers on a line of distances 1..10 units, values 1 each, spread
  // round the store so every few make a polygon.
  std::vector<PmaCustomerEntry> customers;
  for (int i = 1; i <= 10; ++i) {
    const double a = i * 2.1;
    customers.push_back({int32_t(std::lround(100 * i * std::cos(a))),
                         int32_t(std::lround(100 * i * std::sin(a))), 1.0});
  }
  struct Case {
    const char* name;
    int32_t kind;
    double share, distance;
    size_t nearest;  // how many nearest customers the hull is of (0: none)
  };
  const Case cases[] = {
      {"count half", 1, 0.5, 0, 5},      {"count all", 1, 1.0, 0, 10},
      {"count two", 1, 0.2, 0, 0},       {"count over 1", 1, 3.0, 0, 10},
      {"value 0.45", 2, 0.45, 0, 4},     {"distance 650", 1, 1.0, 650, 6},
      {"value within", 2, 0.5, 650, 3},
  };
  testsupport::Geos geos;
  for (const Case& c : cases) {
    PmaPointList hull;
    ASSERT_EQ(PmaConvexHullOperation(0, 0, customers.data(), customers.size(), 10.0, c.distance,
                                     c.kind, false, c.share, &hull),
              1)
        << c.name;
    if (c.nearest == 0) {
      EXPECT_TRUE(hull.empty()) << c.name;
      continue;
    }
    std::vector<PmaCustomerEntry> expected(customers.begin(), customers.begin() + c.nearest);
    std::vector<pipWrapPoint> points;
    for (const auto& e : expected) points.push_back({double(e.x), double(e.y)});
    points.push_back({});
    const int32_t n = DetermineWrapConvexHull(int32_t(expected.size()), points.data());
    ASSERT_EQ(hull.size(), size_t(n)) << c.name;
    for (int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(hull[size_t(i)].x, int32_t(points[size_t(i)].x)) << c.name;
      EXPECT_EQ(hull[size_t(i)].y, int32_t(points[size_t(i)].y)) << c.name;
    }
  }
  PmaPointList none;
  EXPECT_EQ(PmaConvexHullOperation(0, 0, customers.data(), 2, 2, 0, 1, false, 1, &none), 1);
  EXPECT_TRUE(none.empty());
}

TEST(PmaHull, CustomersUnchangedAfterThreeRuns) {
  testsupport::TempDir dir;
  pipContext context;
  CpmaInterface* job = nullptr;
  ASSERT_EQ(pipPmaInitIntern(&context, &job), 1);
  ASSERT_EQ(pipPmaAddStoreIntern(job, -80333333, 51777777, "North"), 1);
  std::mt19937 random(5);
  std::uniform_int_distribution<int32_t> offset(-200000, 200000);
  std::vector<CpmaCustomer> given;
  for (int i = 0; i < 50; ++i) {
    given.push_back({-80333333 + offset(random), 51777777 + offset(random), 1.0});
    ASSERT_EQ(pipPmaAddCustomerIntern(job, given.back().x, given.back().y, "North", 1.0), 1);
  }
  std::vector<std::string> files;
  for (int run = 0; run < 3; ++run) {
    files.push_back(dir.File("hull" + std::to_string(run)));
    ASSERT_EQ(pipPmaSetOutputFilesIntern(job, 1, files.back().c_str(), files.back().c_str(),
                                         nullptr),
              1);
    ASSERT_EQ(pipPmaGenerateConvexHullPolygonsIntern(job, 1, 0, 1, 1, 0.5, 0.9, 0), 1);
  }
  const CpmaCustomerList* list = job->Customers(0);
  ASSERT_EQ(list->Count(), 50);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ((*list)[i].x, given[size_t(i)].x) << i;
    EXPECT_EQ((*list)[i].y, given[size_t(i)].y) << i;
  }
  ASSERT_EQ(pipPmaTermIntern(job, 1), 1);
  // Every run wrote the same polygons.
  const auto first = ReadRegions(files[0] + ".gsb");
  ASSERT_EQ(first.size(), 2u);
  for (int run = 1; run < 3; ++run) {
    const auto again = ReadRegions(files[size_t(run)] + ".gsb");
    ASSERT_EQ(again.size(), 2u);
    for (const auto& [name, region] : first) {
      ASSERT_TRUE(again.count(name)) << name;
      const auto& rings = again.at(name).rings;
      ASSERT_EQ(rings.size(), region.rings.size());
      for (size_t r = 0; r < rings.size(); ++r)
        for (size_t i = 0; i < rings[r].size(); ++i) {
          EXPECT_EQ(rings[r][i].x, region.rings[r][i].x);
          EXPECT_EQ(rings[r][i].y, region.rings[r][i].y);
        }
    }
  }
}

// ---- Jobs and their files ---------------------------------------------------------

TEST(PmaJob, OutputFilesAnswerPointLookups) {
  testsupport::TempDir dir;
  const std::string base = dir.File("rings");
  {
    Job job;
    ASSERT_EQ(pipPmaAddStore(job.handle(), -77000000, 39000000, "East"), 1);
    ASSERT_EQ(pipPmaAddStore(job.handle(), -78000000, 39000000, "West"), 1);
    ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 1, base.c_str(), base.c_str(),
                                   (base + "3.gsb").c_str()),
              1);
    ASSERT_EQ(pipPmaGenerateRingPolygons(job.handle(), 72, 1, 1, 5, 10, 20), 1);
  }
  Context c;
  {
    // Primary and secondary share rings.gsb; the secondary is an annulus
    // (two parts), so a point within 5 miles is in the primary only.
    OpenFile f(c, base + ".gsb");
    ASSERT_TRUE(f.ok());
    char name[128];
    struct Probe {
      int32_t x, y;
      std::vector<std::string> names;
    };
    const Probe probes[] = {
        {-77000000, 39000000, {"PMA East PR"}},
        {-77000000, 39100000, {"PMA East SR"}},  // ~6.9 miles north
        {-77500000, 39000000, {}},               // ~27 miles from both
        {-78000000, 38960000, {"PMA West PR"}},
    };
    for (const Probe& p : probes) {
      std::vector<std::string> found;
      for (int32_t r = pipObjectFindFirstContaining(f.handle(), p.x, p.y, 0, name, sizeof name);
           r > 0; r = pipObjectFindNext(f.handle(), name, sizeof name))
        found.push_back(name);
      EXPECT_EQ(found, p.names) << p.x << " " << p.y;
    }
  }
  const auto tertiary = ReadRegions(base + "3.gsb");
  ASSERT_EQ(tertiary.size(), 2u);
  EXPECT_EQ(tertiary.at("PMA East TR").rings.size(), 2u);
}

TEST(PmaJob, LevelsTwoPartsAndFileNames) {
  struct Name {
    const char* given;
    const char* expected;
  };
  const Name names[] = {{"", ""},         {"out", "out.gsb"},       {"out.gsb", "out.gsb"},
                        {".gsb", ".gsb.gsb"}, {"out.GSB", "out.GSB.gsb"}};
  for (const Name& n : names) EXPECT_EQ(PmaOutputName(n.given), n.expected) << n.given;
  EXPECT_EQ(PmaOutputName(nullptr), "");

  testsupport::TempDir dir;
  struct Case {
    const char* name;
    double r1, r2, r3;
    int32_t twoPart;
    int32_t result;
    const char* message;
    std::vector<size_t> parts;  // of "PMA A PR", "PMA A SR", "PMA A TR" (0: absent)
  };
  const Case cases[] = {
      {"primary only", 1, 0, 0, 1, 1, "", {1, 0, 0}},
      {"two parts", 1, 2, 3, 1, 1, "", {1, 2, 2}},
      {"one part", 1, 2, 3, 0, 1, "", {1, 1, 1}},
      {"primary radius 0", 0, 2, 0, 1, 1, "", {0, 1, 0}},
      {"equal levels", 1, 2, 2, 1, -1, "Ring polygon - bad radius values.", {0, 0, 0}},
      {"falling levels", 2, 1, 0, 1, -1, "Ring polygon - bad radius values.", {0, 0, 0}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(std::string("levels ") + c.name + ".gsb");
    Job job;
    ASSERT_EQ(pipPmaAddStore(job.handle(), 1000, 1000, "A"), 1);
    ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 0, path.c_str(), path.c_str(), path.c_str()), 1);
    EXPECT_EQ(pipPmaGenerateRingPolygons(job.handle(), 12, 1, c.twoPart, c.r1, c.r2, c.r3),
              c.result)
        << c.name;
    if (c.result != 1) {
      EXPECT_EQ(job.context().Detail(), c.message) << c.name;
    }
    job.End(1);
    const auto regions = ReadRegions(path);
    const char* objects[] = {"PMA A PR", "PMA A SR", "PMA A TR"};
    for (int level = 0; level < 3; ++level) {
      const auto it = regions.find(objects[level]);
      const size_t got = it == regions.end() ? 0 : it->second.rings.size();
      EXPECT_EQ(got, c.parts[size_t(level)]) << c.name << " " << objects[level];
    }
  }
  // A bad segment count stops the run with the operation's text.
  Job job;
  ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
  const std::string path = dir.File("segments");
  ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 0, path.c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(pipPmaGenerateNonoverlappingRingPolygons(job.handle(), 2, 0, 1, 5, 0, 0), -1);
  EXPECT_EQ(job.context().Detail(), "Too few segments in polygon.");
  EXPECT_EQ(pipPmaGenerateRingPolygons(job.handle(), 361, 0, 1, 5, 0, 0), -1);
  EXPECT_EQ(job.context().Detail(), "Too many segments in polygon.");
  EXPECT_EQ(pipPmaGenerateConvexHullPolygons(job.handle(), 1, 0, 0, 1, 0.5, 0.4, 0), -1);
  EXPECT_EQ(job.context().Detail(), "Convex hull polygon - bad threshold values.");
  // Levels that are no finite numbers are refused the same way, and nothing
  // is written for them.
  const double nan = std::nan(""), inf = HUGE_VAL;
  EXPECT_EQ(pipPmaGenerateRingPolygons(job.handle(), 36, 1, 1, nan, 0, 0), -1);
  EXPECT_EQ(job.context().Detail(), "Ring polygon - bad radius values.");
  EXPECT_EQ(pipPmaGenerateNonoverlappingRingPolygons(job.handle(), 36, 1, 1, 5, inf, 0), -1);
  EXPECT_EQ(job.context().Detail(), "Thiessen polygon - bad radius values.");
  EXPECT_EQ(pipPmaGenerateConvexHullPolygons(job.handle(), 1, 0, 0, 1, 0.2, 0.5, nan), -1);
  EXPECT_EQ(job.context().Detail(), "Convex hull polygon - bad threshold values.");
  EXPECT_EQ(job.End(1), 1);
  EXPECT_FALSE(std::filesystem::exists(path + ".gsb"));
}

TEST(PmaJob, AnOutputThatCannotBeOpenedClosesTheOthers) {
  testsupport::TempDir dir;
  const std::string good = dir.File("good.gsb");
  const std::string bad = dir.File("no such folder/bad.gsb");
  Job job;
  ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(pipPmaSetOutputFiles(job.handle(), 0, good.c_str(), bad.c_str(), nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening " + bad + " - err = -1 \n");
  // Nothing is open: a run writes nothing and the primary's file is gone.
  EXPECT_EQ(pipPmaGenerateRingPolygons(job.handle(), 12, 0, 1, 5, 0, 0), 1);
  EXPECT_EQ(job.End(1), 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

int32_t StopAtFirst(int32_t, int32_t, const char*) { return 0; }

TEST(PmaJob, ACancelledJobLeavesNoOutput) {
  testsupport::TempDir dir;
  const std::string path = dir.File("cancelled.gsb");
  {
    Job job;
    ASSERT_EQ(pipPmaAddStore(job.handle(), 0, 0, "A"), 1);
    ASSERT_EQ(pipPmaAddStore(job.handle(), 5000, 0, "B"), 1);
    ASSERT_EQ(pipPmaSetProgressFunction(job.handle(), StopAtFirst), 1);
    ASSERT_EQ(pipPmaSetOutputFiles(job.handle(), 0, path.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(pipPmaGenerateNonoverlappingRingPolygons(job.handle(), 12, 0, 1, 100, 0, 0), -1);
    EXPECT_EQ(job.context().Detail(), "Pma polygon generation stopped before completion by user.");
    EXPECT_EQ(job.End(0), 1);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no file, no leftovers";
}

// ---- gsbtool tradearea ----------------------------------------------------------------

TEST(PmaTool, TradeAreaWritesAFileTheSearchAnswers) {
  testsupport::TempDir dir;
  const std::string stores = dir.Write("stores.csv", "A,-77.0,39.0\r\nB, -77.2 ,39.05\n\n");
  const std::string customers = dir.Write(
      "customers.csv", "A,-77.1,39.1\nA,-76.9,39.1,2.5\nA,-77.0,38.9\nB,-77.3,39.0\n");
  struct Case {
    std::vector<std::string> words;  // after the three files
    int status;
    std::string atStore;  // the object containing store A ("" none)
  };
  const Case cases[] = {
      {{"ring", "5", "10"}, 0, "PMA A PR"},
      {{"nonoverlapping", "5"}, 0, "PMA A PT"},
      {{"hull", "1"}, 0, "PMA A PC"},
      {{"ring", "10", "5"}, 1, ""},
      {{"square", "5"}, 2, ""},
      {{"ring", "five"}, 2, ""},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File("areas.gsb");
    std::vector<std::string> words = {"tradearea", stores, customers, out};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const std::string before = testsupport::ReadAll(out);
    const testsupport::Outcome run = testsupport::RunProgram(dir, GSBTOOL_PATH, words);
    ASSERT_EQ(run.status, c.status) << c.words[0] << run.err;
    if (c.status != 0) {
      // A failed run leaves the file of the run before it.
      EXPECT_EQ(testsupport::ReadAll(out), before) << c.words[0];
      continue;
    }
    Context context;
    OpenFile f(context, out);
    ASSERT_TRUE(f.ok()) << c.words[0];
    char name[128] = "";
    EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), -77000000, 39000000, 0, name, sizeof name),
              1);
    EXPECT_EQ(std::string(name), c.atStore);
  }
  const std::string out = dir.File("bad.gsb");
  const std::string badCustomers = dir.Write("bad.csv", "Z,-77.0,39.0\n");
  const auto run = testsupport::RunProgram(
      dir, GSBTOOL_PATH, {"tradearea", stores, badCustomers, out, "ring", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Cannot add customer: no such store."), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
