// The overlap check against GEOS relate plus the intersection's area (the
// peer) as vertex counts grow, on border-like rings: two rings overlapping in
// part (the sweep stops at the first proof), and a ring around a shrunken
// copy of itself (the whole sweep, the edge test and the estimate run).

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/boundary/bench_rings.h"
#include "boundary/overlap.h"
#include "tests/support/geos_oracle.h"

namespace {

using benchrings::Ring;
using testsupport::Geos;

constexpr int kPrecision = 250;

struct Pair {
  Ring a, b;
};

std::shared_ptr<Pair> MakePair(int n, bool nested) {
  auto p = std::make_shared<Pair>();
  p->a = benchrings::Wiggly(n, n, 0, 0, 1e6);
  if (nested) {
    for (RingPoint q : p->a) p->b.push_back({q.x / 2, q.y / 2});
  } else {
    p->b = benchrings::Wiggly(n + 1, n, 500000, 300000, 1e6);
  }
  return p;
}

void Ours(benchmark::State& state, std::shared_ptr<Pair> p) {
  OverlapCheck check;
  check.AddRegionA(int(p->a.size()), p->a.data());
  check.AddRegionB(int(p->b.size()), p->b.data());
  int code = 0;
  double percentage = 0;
  for (auto _ : state) {
    check.Check(&code, kPrecision, &percentage);
    benchmark::DoNotOptimize(percentage);
  }
  state.counters["code"] = code;
  state.counters["percent"] = percentage;
}

void Peer(benchmark::State& state, std::shared_ptr<Pair> p) {
  Geos geos;
  Geos::Geom a = geos.Polygon(p->a), b = geos.Polygon(p->b);
  double percentage = 0;
  for (auto _ : state) {
    std::string matrix = geos.Relate(a.get(), b.get());
    Geos::Geom common = geos.Own(GEOSIntersection_r(geos.context(), a.get(), b.get()));
    percentage = geos.Area(common.get()) / geos.Area(a.get()) * 100;
    benchmark::DoNotOptimize(matrix);
  }
  state.counters["percent"] = percentage;
}

int registered = [] {
  for (bool nested : {false, true}) {
    for (int n : {1000, 10000, 100000}) {
      std::string name =
          std::string("Overlap/") + (nested ? "nested/" : "partly/") + std::to_string(n);
      auto p = MakePair(n, nested);
      benchmark::RegisterBenchmark((name + "/ours").c_str(), Ours, p)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((name + "/geos").c_str(), Peer, p)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  return 0;
}();

}  // namespace
