// Union and intersection of two random polygons of n vertices each that
// overlap by about half, by the clipper and by GEOS overlay, on the same
// pairs. The polygons have borders like real ones: the distance from the
// centre wanders as a random walk (closed into a loop) on a slow wave, so the
// border is rough at every scale without spikes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>

#include "gpc.h"
#include "tests/support/clip_samples.h"

namespace {

using testsupport::Geos;
using testsupport::Rings;

struct Pair {
  Rings a, b;
};

testsupport::Ring RoughRing(std::mt19937_64& rng, int n, double cx, double cy) {
  std::normal_distribution<double> step(0.0, 0.05 * std::sqrt(2 * M_PI / n));
  std::uniform_real_distribution<double> phase(0.0, 2 * M_PI);
  std::vector<double> walk(n + 1, 0.0);
  for (int i = 1; i <= n; ++i) walk[i] = walk[i - 1] + step(rng);
  double wave = phase(rng);
  testsupport::Ring ring;
  for (int i = 0; i < n; ++i) {
    double a = 2 * M_PI * i / n;
    double r = 1 + 0.1 * std::sin(3 * a + wave) + walk[i] - walk[n] * i / n;
    ring.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return ring;
}

const Pair& PairOf(int n) {
  static std::map<int, Pair> pairs;
  auto it = pairs.find(n);
  if (it == pairs.end()) {
    std::mt19937_64 rng(n);
    Pair p{{RoughRing(rng, n, 0, 0)}, {RoughRing(rng, n, 0.8, 0.3)}};
    it = pairs.emplace(n, std::move(p)).first;
  }
  return it->second;
}

void Clipper(benchmark::State& state, gpc_op op) {
  const Pair& p = PairOf(static_cast<int>(state.range(0)));
  testsupport::GpcView a(p.a), b(p.b);
  int contours = 0;
  for (auto _ : state) {
    gpc_polygon result;
    gpc_polygon_clip(op, a.get(), b.get(), &result);
    contours = result.contour_count;
    gpc_free_polygon(&result);
  }
  state.counters["contours"] = contours;
}

void GeosOverlay(benchmark::State& state, gpc_op op) {
  const Pair& p = PairOf(static_cast<int>(state.range(0)));
  Geos geos;
  Geos::Geom a = geos.Polygon(p.a[0]), b = geos.Polygon(p.b[0]);
  for (auto _ : state) {
    Geos::Geom r = testsupport::GeosOperation(geos, op, a.get(), b.get());
    benchmark::DoNotOptimize(r.get());
  }
}

void BM_ClipUnion(benchmark::State& s) { Clipper(s, GPC_UNION); }
void BM_GeosUnion(benchmark::State& s) { GeosOverlay(s, GPC_UNION); }
void BM_ClipIntersection(benchmark::State& s) { Clipper(s, GPC_INTERSECTION); }
void BM_GeosIntersection(benchmark::State& s) { GeosOverlay(s, GPC_INTERSECTION); }

BENCHMARK(BM_ClipUnion)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeosUnion)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipIntersection)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeosIntersection)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace
