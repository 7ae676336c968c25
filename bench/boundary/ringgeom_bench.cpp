// The point-in-rings test against GEOS's prepared-geometry contains (the
// peer) on the same rings and the same points: real counties and countries
// (each query a point in one object's box, as after an index lookup),
// border-like synthetic rings of 100 to 40,000 vertices, and zigzag rings
// whose every edge spans much of the ring (the worst case).

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/boundary/bench_rings.h"
#include "boundary/ringgeom.h"
#include "tests/support/geos_oracle.h"

namespace {

using benchrings::Ring;
using benchrings::Shape;
using testsupport::Geos;

Geos& Peer() {
  static Geos geos;
  return geos;
}

struct Workload {
  std::vector<Shape> shapes;
  std::vector<RingSet> sets;
  std::vector<Geos::Geom> regions;
  std::vector<Geos::Prepared> prepared;
  struct Query {
    uint32_t shape;
    RingPoint p;
    Geos::Geom point;
  };
  std::vector<Query> queries;  // a power of two
};

std::shared_ptr<Workload> Build(std::vector<Shape> shapes, uint64_t seed) {
  auto w = std::make_shared<Workload>();
  w->shapes = std::move(shapes);
  Geos& geos = Peer();
  for (const Shape& s : w->shapes) {
    RingSet set;
    for (const Ring& r : s.rings) set.Add(r.data(), static_cast<uint32_t>(r.size()));
    w->sets.push_back(std::move(set));
    w->regions.push_back(geos.Region(s.rings));
    w->prepared.push_back(geos.Prepare(w->regions.back().get()));
  }
  std::mt19937_64 rng(seed);
  for (int q = 0; q < 4096; ++q) {
    auto i =
        static_cast<uint32_t>(std::uniform_int_distribution<size_t>(0, w->shapes.size() - 1)(rng));
    const Shape& s = w->shapes[i];
    RingPoint p{std::uniform_int_distribution<int32_t>(s.xmin, s.xmax)(rng),
                std::uniform_int_distribution<int32_t>(s.ymin, s.ymax)(rng)};
    w->queries.push_back({i, p, geos.Point(p.x, p.y)});
  }
  return w;
}

void Ours(benchmark::State& state, std::shared_ptr<Workload> w) {
  size_t i = 0, inside = 0;
  for (auto _ : state) {
    const auto& q = w->queries[i++ & 4095];
    bool in = w->sets[q.shape].Contains(q.p.x, q.p.y);
    benchmark::DoNotOptimize(in);
    inside += in;
  }
  state.counters["inside"] = double(inside) / double(state.iterations());
}

// The rings one by one through the plain test, without the block summaries.
void OursPlain(benchmark::State& state, std::shared_ptr<Workload> w) {
  size_t i = 0;
  for (auto _ : state) {
    const auto& q = w->queries[i++ & 4095];
    int parity = 0;
    bool border = false;
    for (const Ring& r : w->shapes[q.shape].rings) {
      int c = RingCrossings(r.data(), static_cast<uint32_t>(r.size()), q.p.x, q.p.y);
      border |= c < 0;
      parity ^= c & 1;
    }
    benchmark::DoNotOptimize(border || parity);
  }
}

void GeosPrepared(benchmark::State& state, std::shared_ptr<Workload> w) {
  GEOSContextHandle_t context = Peer().context();
  size_t i = 0, inside = 0;
  for (auto _ : state) {
    const auto& q = w->queries[i++ & 4095];
    char in = GEOSPreparedContains_r(context, w->prepared[q.shape].get(), q.point.get());
    benchmark::DoNotOptimize(in);
    inside += in == 1;
  }
  state.counters["inside"] = double(inside) / double(state.iterations());
}

void Register(const std::string& name, std::shared_ptr<Workload> w) {
  if (w->shapes.empty()) return;
  benchmark::RegisterBenchmark(("PointInRings/" + name + "/ours").c_str(), Ours, w);
  benchmark::RegisterBenchmark(("PointInRings/" + name + "/ours_plain").c_str(), OursPlain, w);
  benchmark::RegisterBenchmark(("PointInRings/" + name + "/geos_prepared").c_str(), GeosPrepared,
                               w);
}

int registered = [] {
  Register("nc", Build(benchrings::Load("nc/nc.shp"), 1));
  Register("naturalearth", Build(benchrings::Load("naturalearth/naturalearth_lowres.shp"), 2));
  for (int n : {100, 1000, 4000, 40000}) {
    std::vector<Shape> one{benchrings::ShapeOf(benchrings::Wiggly(n, n, -80000000, 35000000, 1e6))};
    Register("wiggly" + std::to_string(n), Build(std::move(one), 3));
  }
  for (int n : {1000, 40000}) {
    std::vector<Shape> one{benchrings::ShapeOf(benchrings::Star(n, n, -80000000, 35000000, 1e6))};
    Register("zigzag" + std::to_string(n), Build(std::move(one), 4));
  }
  return 0;
}();

}  // namespace
