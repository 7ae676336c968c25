// Trade-area jobs: one run of each operation over S stores with 100
// customers each, written into a boundary file and finished, at a store
// density that stays the same as S grows (so the work per store does too);
// and the neighbour search alone, through the grid and as a scan of the
// whole store list.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "services/pma_api.h"
#include "services/pma_ops.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kCustomersPerStore = 100;
constexpr double kRadiusMiles = 3.0;

// Stores on a square of about 0.05 degrees a store round 40 N, customers
// within 0.05 degrees of their store.
std::vector<PmaStoreEntry> Stores(int64_t count) {
  std::mt19937 random(42);
  const int32_t side = int32_t(std::sqrt(double(count)) * 50000);
  std::uniform_int_distribution<int32_t> at(0, side);
  std::vector<PmaStoreEntry> stores;
  for (int64_t i = 0; i < count; ++i)
    stores.push_back({-100000000 + at(random), 40000000 + at(random), int32_t(i)});
  return stores;
}

enum Operation { kRing, kThiessen, kHull };

void BM_PmaJob(benchmark::State& state) {
  const auto operation = Operation(state.range(0));
  const int64_t count = state.range(1);
  pipContext context;
  CpmaInterface* job = nullptr;
  if (pipPmaInitIntern(&context, &job) != 1) {
    state.SkipWithError("no job");
    return;
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> near(-50000, 50000);
  for (const PmaStoreEntry& s : Stores(count)) {
    const std::string name = "S" + std::to_string(s.number);
    pipPmaAddStoreIntern(job, s.x, s.y, name.c_str());
    for (int c = 0; c < kCustomersPerStore; ++c)
      pipPmaAddCustomerIntern(job, s.x + near(random), s.y + near(random), name.c_str(), 1.0);
  }
  testsupport::TempDir dir;
  const std::string path = dir.File("areas.gsb");
  for (auto _ : state) {
    pipPmaSetOutputFilesIntern(job, 1, path.c_str(), path.c_str(), nullptr);
    int32_t r = 0;
    if (operation == kRing)
      r = pipPmaGenerateRingPolygonsIntern(job, 72, 1, 1, kRadiusMiles, 2 * kRadiusMiles, 0);
    else if (operation == kThiessen)
      r = pipPmaGenerateNonoverlappingRingPolygonsIntern(job, 72, 1, 1, kRadiusMiles,
                                                         2 * kRadiusMiles, 0);
    else
      r = pipPmaGenerateConvexHullPolygonsIntern(job, 1, 0, 1, 1, 0.5, 1.0, 0);
    if (r != 1 || PmaCloseOutputs(*job, 1) != 1) state.SkipWithError("run failed");
  }
  pipPmaTermIntern(job, 0);
  state.counters["stores/s"] =
      benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PmaJob)
    ->ArgNames({"op", "stores"})
    ->ArgsProduct({{kRing, kThiessen, kHull}, {1000, 10000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_PmaNeighbours(benchmark::State& state) {
  const bool scan = state.range(0) == 1;
  const auto stores = Stores(state.range(1));
  std::vector<PmaStoreEntry> out;
  size_t found = 0;
  for (auto _ : state) {
    PmaNeighbourIndex index;
    if (!scan) index.Build(stores.data(), stores.size(), true, 2 * kRadiusMiles);
    for (const PmaStoreEntry& s : stores) {
      if (scan)
        PmaScanNeighbours(stores.data(), stores.size(), true, 2 * kRadiusMiles, s.x, s.y, &out);
      else
        index.Neighbours(s.x, s.y, &out);
      found += out.size();
    }
  }
  benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_PmaNeighbours)
    ->ArgNames({"scan", "stores"})
    ->ArgsProduct({{0, 1}, {1000, 10000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
