// Normalising a region of 100,000 small islands and a ring of one million
// points, and measuring their area, beside GEOS (GEOSArea, GEOSNormalize) on
// the same geometry.
#include <benchmark/benchmark.h>
#include <geos_c.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/geometry.h"

namespace {

using layerio::IPoint;
using Ring = std::vector<IPoint>;

// 100,000 islands of 6 to 12 points and random sizes on a shuffled grid, so
// that the sort has work to do.
std::vector<Ring> Islands() {
  std::mt19937 random(5);
  std::vector<Ring> rings;
  const int side = 317;
  std::vector<int> cells(side * side);
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = int(i);
  std::shuffle(cells.begin(), cells.end(), random);
  for (int k = 0; k < 100000; ++k) {
    double cx = (cells[k] % side) * 1000.0, cy = (cells[k] / side) * 1000.0;
    double r = 50 + double(random() % 400);
    int n = 6 + int(random() % 7);
    Ring ring;
    for (int j = 0; j < n; ++j) {
      double a = 2 * std::numbers::pi * j / n;
      double rr = r * (0.7 + 0.3 * double(random() % 1000) / 1000);
      ring.push_back({int32_t(std::lround(cx + rr * std::cos(a))),
                      int32_t(std::lround(cy + rr * std::sin(a)))});
    }
    rings.push_back(ring);
  }
  return rings;
}

// One ring of a million points shaped as a C, so that the centre of its bounds
// lies outside and the centroid is found by the scan.
std::vector<Ring> BigRing() {
  std::mt19937 random(9);
  const int half = 500000;
  Ring ring;
  for (int pass = 0; pass < 2; ++pass) {
    double radius = pass == 0 ? 1e8 : 5e7;
    for (int j = 0; j < half; ++j) {
      double t = double(j) / (half - 1);
      if (pass == 1) t = 1 - t;
      double a = (20 + 320 * t) * std::numbers::pi / 180;
      double r = radius * (1 + 1e-4 * double(random() % 1000) / 1000);
      ring.push_back({int32_t(std::lround(r * std::cos(a))), int32_t(std::lround(r * std::sin(a)))});
    }
  }
  return {ring};
}

layerio::GeomObject* MakeRegion(const std::vector<Ring>& rings) {
  layerio::MemHandle h;
  layerio::GeomObject* o;
  if (!layerio::GeomObjectAlloc(&h, &o, layerio::kGeomRegion, 0)) return nullptr;
  std::vector<int32_t> counts;
  Ring all;
  for (const Ring& r : rings) {
    counts.push_back(int32_t(r.size()));
    all.insert(all.end(), r.begin(), r.end());
  }
  layerio::GeomPartsSetAll(o, uint32_t(counts.size()), counts.data(), all.data(), nullptr, nullptr);
  return o;
}

GEOSGeometry* MakeGeos(GEOSContextHandle_t c, const std::vector<Ring>& rings) {
  std::vector<GEOSGeometry*> polygons;
  for (const Ring& r : rings) {
    GEOSCoordSequence* seq = GEOSCoordSeq_create_r(c, unsigned(r.size() + 1), 2);
    for (size_t i = 0; i <= r.size(); ++i) {
      const IPoint& p = r[i % r.size()];
      GEOSCoordSeq_setXY_r(c, seq, unsigned(i), p.x, p.y);
    }
    polygons.push_back(GEOSGeom_createPolygon_r(c, GEOSGeom_createLinearRing_r(c, seq), nullptr, 0));
  }
  if (polygons.size() == 1) return polygons[0];
  return GEOSGeom_createCollection_r(c, GEOS_MULTIPOLYGON, polygons.data(),
                                     unsigned(polygons.size()));
}

const std::vector<Ring>& Shape(int which) {
  static const std::vector<Ring> islands = Islands();
  static const std::vector<Ring> ring = BigRing();
  return which == 0 ? islands : ring;
}

void BM_Normalize(benchmark::State& state) {
  layerio::GeomObject* o = MakeRegion(Shape(int(state.range(0))));
  uint32_t count = o->u.poly.partCount;
  std::vector<layerio::GeomPart> pristine(layerio::GeomParts(o), layerio::GeomParts(o) + count);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(layerio::GeomParts(o), pristine.data(), count * sizeof(layerio::GeomPart));
    state.ResumeTiming();
    benchmark::DoNotOptimize(layerio::GeomObjectNormalize(o, 1));
  }
  layerio::GeomObjectDestroy(o);
}

void BM_Area(benchmark::State& state) {
  layerio::GeomObject* o = MakeRegion(Shape(int(state.range(0))));
  const layerio::CoordSys* cs = layerio::GeomDefaultCoordSys();
  for (auto _ : state) {
    double sum = 0;
    const layerio::GeomPart* parts = layerio::GeomParts(o);
    int planar;
    for (uint32_t i = 0; i < o->u.poly.partCount; ++i) {
      sum += layerio::GeomRingArea(o, &parts[i], cs, 14, 0, &planar);
    }
    benchmark::DoNotOptimize(sum);
  }
  layerio::GeomObjectDestroy(o);
}

void BM_GeosNormalize(benchmark::State& state) {
  GEOSContextHandle_t c = GEOS_init_r();
  GEOSGeometry* g = MakeGeos(c, Shape(int(state.range(0))));
  for (auto _ : state) {
    state.PauseTiming();
    GEOSGeometry* copy = GEOSGeom_clone_r(c, g);
    state.ResumeTiming();
    benchmark::DoNotOptimize(GEOSNormalize_r(c, copy));
    state.PauseTiming();
    GEOSGeom_destroy_r(c, copy);
    state.ResumeTiming();
  }
  GEOSGeom_destroy_r(c, g);
  GEOS_finish_r(c);
}

void BM_GeosArea(benchmark::State& state) {
  GEOSContextHandle_t c = GEOS_init_r();
  GEOSGeometry* g = MakeGeos(c, Shape(int(state.range(0))));
  for (auto _ : state) {
    double area = 0;
    GEOSArea_r(c, g, &area);
    benchmark::DoNotOptimize(area);
  }
  GEOSGeom_destroy_r(c, g);
  GEOS_finish_r(c);
}

// Argument 0: the islands; 1: the ring of a million points.
BENCHMARK(BM_Normalize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeosNormalize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Area)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeosArea)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  layerio::ErrorStackCreate();
  layerio::GeomScratchInit();
  benchmark::RunSpecifiedBenchmarks();
  layerio::GeomScratchShutdown();
  layerio::ErrorStackDestroy();
  benchmark::Shutdown();
  return 0;
}
