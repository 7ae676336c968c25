// The convex hull and the radius search beside GEOS, on the same inputs in
// the same run.
//
// Hull: one million random points (uniform in a square, and normal about a
// centre), wrapped by DetermineWrapConvexHull (the copy its in-place work
// needs included) and by GEOSConvexHull over a multipoint built beforehand.
//
// Radius search: one million plane points inserted in random order
// (argument 0) or sorted by x then y (argument 1); one iteration is 100,000
// queries at random centres, each a radius search of about ten hits or a
// 10-nearest search, every hit delivered. The peer is a GEOS STR tree over the same points with a
// distance filter (radius: an envelope query, then the distance; nearest:
// envelopes doubling until ten points lie within the inscribed circle).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "services/radial.h"
#include "tests/support/geos_oracle.h"
#include "zonelib.h"

namespace {

using testsupport::Geos;

constexpr int32_t kMillion = 1000000;
constexpr size_t kQueries = 100000;
constexpr int32_t kSide = 100000000;
// About ten points of a million over kSide squared lie within it.
constexpr int32_t kRadius = 178412;

// ---- hull ------------------------------------------------------------------------

const std::vector<pipWrapPoint>& HullPoints(int64_t kind) {
  static std::vector<pipWrapPoint> sets[2];
  auto& points = sets[kind];
  if (points.empty()) {
    std::mt19937_64 rng(41 + kind);
    std::uniform_real_distribution<double> uniform(0, 1e6);
    std::normal_distribution<double> normal(0, 1e5);
    for (int32_t i = 0; i < kMillion; ++i) {
      if (kind == 0)
        points.push_back({uniform(rng), uniform(rng)});
      else
        points.push_back({normal(rng), normal(rng)});
    }
  }
  return points;
}

void BM_Hull_Zonelib(benchmark::State& state) {
  const auto& points = HullPoints(state.range(0));
  std::vector<pipWrapPoint> work(points.size() + 1);
  int32_t n = 0;
  for (auto _ : state) {
    std::copy(points.begin(), points.end(), work.begin());
    n = DetermineWrapConvexHull(int32_t(points.size()), work.data());
    benchmark::DoNotOptimize(work.data());
  }
  state.counters["vertices"] = n;
}

void BM_Hull_Geos(benchmark::State& state) {
  const auto& points = HullPoints(state.range(0));
  Geos geos;
  std::vector<GEOSGeometry*> parts;
  for (const auto& p : points)
    parts.push_back(GEOSGeom_createPointFromXY_r(geos.context(), p.x, p.y));
  auto multi = geos.Own(GEOSGeom_createCollection_r(geos.context(), GEOS_MULTIPOINT, parts.data(),
                                                    unsigned(parts.size())));
  int n = 0;
  for (auto _ : state) {
    auto hull = geos.Own(GEOSConvexHull_r(geos.context(), multi.get()));
    n = GEOSGetNumCoordinates_r(geos.context(), hull.get()) - 1;
    benchmark::DoNotOptimize(hull.get());
  }
  state.counters["vertices"] = n;
}

BENCHMARK(BM_Hull_Zonelib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hull_Geos)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ---- radius search -----------------------------------------------------------------

struct Pt {
  int32_t x, y;
};

struct PointSet {
  std::vector<Pt> points[2];  // shuffled, sorted
  std::vector<Pt> centres;
};

const PointSet& Points() {
  static PointSet set;
  if (set.centres.empty()) {
    std::mt19937_64 rng(2026);
    std::uniform_int_distribution<int32_t> u(0, kSide - 1);
    for (int32_t i = 0; i < kMillion; ++i) set.points[0].push_back({u(rng), u(rng)});
    set.points[1] = set.points[0];
    std::sort(set.points[1].begin(), set.points[1].end(),
              [](const Pt& a, const Pt& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    for (size_t i = 0; i < kQueries; ++i) set.centres.push_back({u(rng), u(rng)});
  }
  return set;
}

// A radius search holding one of the point sets, loaded once.
struct Loaded {
  uint32_t context = 0;
  uint32_t search = 0;
  ~Loaded() {
    if (search) pipRadTerm(search);
    if (context) pipTerm(context);
  }
};

Loaded& Search(int64_t order) {
  static std::unique_ptr<Loaded> loaded[2];
  if (!loaded[order]) {
    loaded[order] = std::make_unique<Loaded>();
    Loaded& l = *loaded[order];
    l.context = uint32_t(pipInit(0, nullptr));
    pipRadInit(l.context, 0, &l.search);
    for (const Pt& p : Points().points[order]) pipRadInsertPoint(l.search, p.x, p.y, "p");
    int32_t x, y;
    char name[8];
    pipRadFindFirstInRect(l.search, 0, 0, 0, 0, &x, &y, name, sizeof name);  // puts them in
  }
  return *loaded[order];
}

void BM_Load_Zonelib(benchmark::State& state) {
  const auto& points = Points().points[state.range(0)];
  for (auto _ : state) {
    Loaded l;
    l.context = uint32_t(pipInit(0, nullptr));
    pipRadInit(l.context, 0, &l.search);
    for (const Pt& p : points) pipRadInsertPoint(l.search, p.x, p.y, "p");
    int32_t x, y;
    char name[8];
    pipRadFindFirstInRect(l.search, 0, 0, 0, 0, &x, &y, name, sizeof name);
  }
}

void BM_Radius_Zonelib(benchmark::State& state) {
  Loaded& l = Search(state.range(0));
  const auto& centres = Points().centres;
  int32_t x, y;
  char name[8];
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      for (int32_t r =
               pipRadFindFirstInRadius(l.search, c.x, c.y, kRadius, &x, &y, name, sizeof name);
           r > 0; r = pipRadFindNext(l.search, &x, &y, name, sizeof name))
        ++hits;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

void BM_Nearest10_Zonelib(benchmark::State& state) {
  Loaded& l = Search(state.range(0));
  const auto& centres = Points().centres;
  int32_t x, y;
  char name[8];
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      for (int32_t r = pipRadFindFirstNearest(l.search, c.x, c.y, 10, &x, &y, name, sizeof name);
           r > 0; r = pipRadFindNext(l.search, &x, &y, name, sizeof name))
        ++hits;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

// The same queries through the bodies behind the handles (pipRad*Intern),
// which shows what the handle frame of each call adds to the search itself.
RadialSearch& Body(int64_t order) {
  static std::unique_ptr<RadialSearch> bodies[2];
  if (!bodies[order]) {
    bodies[order] = std::make_unique<RadialSearch>(0, std::make_shared<pipError>());
    for (const Pt& p : Points().points[order]) bodies[order]->Insert(p.x, p.y, "p");
    bodies[order]->Depth();  // puts them in
  }
  return *bodies[order];
}

void BM_Radius_ZonelibBody(benchmark::State& state) {
  RadialSearch& s = Body(state.range(0));
  const auto& centres = Points().centres;
  int32_t x, y;
  char name[8];
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      for (int32_t r =
               pipRadFindFirstInRadiusIntern(&s, c.x, c.y, kRadius, &x, &y, name, sizeof name);
           r > 0; r = pipRadFindNextIntern(&s, &x, &y, name, sizeof name))
        ++hits;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

void BM_Nearest10_ZonelibBody(benchmark::State& state) {
  RadialSearch& s = Body(state.range(0));
  const auto& centres = Points().centres;
  int32_t x, y;
  char name[8];
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      for (int32_t r = pipRadFindFirstNearestIntern(&s, c.x, c.y, 10, &x, &y, name, sizeof name);
           r > 0; r = pipRadFindNextIntern(&s, &x, &y, name, sizeof name))
        ++hits;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

// The peer: each point a GEOS point in an STR tree, its index as the item.
struct Peer {
  Geos geos;
  std::vector<Geos::Geom> points;
  GEOSSTRtree* tree = nullptr;
  const std::vector<Pt>* source = nullptr;
  ~Peer() {
    if (tree) GEOSSTRtree_destroy_r(geos.context(), tree);
  }
};

Peer& PeerOf(int64_t order) {
  static std::unique_ptr<Peer> peers[2];
  if (!peers[order]) {
    peers[order] = std::make_unique<Peer>();
    Peer& p = *peers[order];
    p.source = &Points().points[order];
    p.tree = GEOSSTRtree_create_r(p.geos.context(), 10);
    for (size_t i = 0; i < p.source->size(); ++i) {
      const Pt& q = (*p.source)[i];
      p.points.push_back(p.geos.Point(q.x, q.y));
      GEOSSTRtree_insert_r(p.geos.context(), p.tree, p.points.back().get(),
                           reinterpret_cast<void*>(i));
    }
    // The tree is built at its first query.
    auto probe = p.geos.Point(0, 0);
    GEOSSTRtree_query_r(
        p.geos.context(), p.tree, probe.get(), [](void*, void*) {}, nullptr);
  }
  return *peers[order];
}

struct Collect {
  const std::vector<Pt>* points;
  double cx, cy, limit2;
  std::vector<std::pair<double, size_t>>* out;
};

void OnPoint(void* item, void* data) {
  auto* c = static_cast<Collect*>(data);
  const auto i = reinterpret_cast<size_t>(item);
  const Pt& p = (*c->points)[i];
  const double dx = p.x - c->cx, dy = p.y - c->cy;
  const double d2 = dx * dx + dy * dy;
  if (d2 <= c->limit2) c->out->push_back({d2, i});
}

size_t GeosWithin(Peer& p, const Pt& c, double half, double limit,
                  std::vector<std::pair<double, size_t>>* out) {
  GEOSContextHandle_t context = p.geos.context();
  out->clear();
  GEOSGeometry* box =
      GEOSGeom_createRectangle_r(context, c.x - half, c.y - half, c.x + half, c.y + half);
  Collect collect{p.source, double(c.x), double(c.y), limit * limit, out};
  GEOSSTRtree_query_r(context, p.tree, box, OnPoint, &collect);
  GEOSGeom_destroy_r(context, box);
  return out->size();
}

void BM_Radius_GeosStrTree(benchmark::State& state) {
  Peer& p = PeerOf(state.range(0));
  const auto& centres = Points().centres;
  std::vector<std::pair<double, size_t>> found;
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      hits += GeosWithin(p, c, kRadius, kRadius, &found);
      benchmark::DoNotOptimize(found.data());
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

void BM_Nearest10_GeosStrTree(benchmark::State& state) {
  Peer& p = PeerOf(state.range(0));
  const auto& centres = Points().centres;
  std::vector<std::pair<double, size_t>> found;
  size_t hits = 0;
  for (auto _ : state) {
    for (const Pt& c : centres) {
      double half = kRadius;
      while (GeosWithin(p, c, half, half, &found) < 10 && half < 4.0 * kSide) half *= 2;
      const size_t k = std::min<size_t>(10, found.size());
      std::partial_sort(found.begin(), found.begin() + long(k), found.end());
      hits += k;
      benchmark::DoNotOptimize(found.data());
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kQueries));
  state.counters["hits"] = double(hits) / double(state.iterations() * kQueries);
}

BENCHMARK(BM_Load_Zonelib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Radius_Zonelib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Radius_ZonelibBody)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Radius_GeosStrTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nearest10_Zonelib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nearest10_ZonelibBody)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nearest10_GeosStrTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
