// Building boundary files through pipImportInsert: small regions (hexagons a
// few hundred metres across, spread over a continent), with the name tree
// and the spatial index written at the end. Reports objects per second and
// file bytes per object, for raw and packed coordinates.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/import_params.h"
#include "zonelib.h"

namespace {

using testsupport::ImportParams;
using testsupport::kImportPointLimit;
using testsupport::kImportPolygonLimit;

constexpr int kPointsPerRegion = 6;

// The ring of region i: a hexagon around a centre on a scrambled grid.
void Region(uint32_t i, int32_t* xy) {
  const uint32_t cell = (i * 2654435761u) % 4000000u;
  const int32_t cx = -125000000 + int32_t(cell % 2000) * 29000;
  const int32_t cy = 25000000 + int32_t(cell / 2000) * 12500;
  for (int k = 0; k < kPointsPerRegion; ++k) {
    const double a = k * (2 * M_PI / kPointsPerRegion) + (i % 7) * 0.1;
    xy[2 * k] = cx + int32_t(std::lround(4000 * std::cos(a)));
    xy[2 * k + 1] = cy + int32_t(std::lround(3000 * std::sin(a)));
  }
}

// Arguments: number of regions, import flags.
void BM_ImportRegions(benchmark::State& state) {
  const uint32_t count = uint32_t(state.range(0));
  const uint32_t flags = uint32_t(state.range(1));
  platform::Env& env = platform::Env::Current();
  const std::string folder = platform::JoinPath(env.TempDirectory(), "gsb_import_bench");
  env.MakeDirectory(folder);
  const std::string path = platform::JoinPath(folder, "bench.gsb");
  const uint32_t context = uint32_t(pipInit(0, nullptr));

  int32_t xy[2 * kPointsPerRegion];
  uint32_t parts[1] = {kPointsPerRegion};
  int64_t fileBytes = 0;
  for (auto _ : state) {
    pipImportParamStruct params = ImportParams(kImportPointLimit, kImportPolygonLimit, 1, flags);
    uint32_t import = 0;
    if (pipImportInit(context, path.c_str(), &params, &import) != 1) {
      state.SkipWithError("init failed");
      break;
    }
    pipObjectInfoStruct object;
    std::memset(&object, 0, sizeof object);
    for (uint32_t i = 0; i < count; ++i) {
      // Names in no particular order, so that the name tree must sort.
      std::snprintf(object.name, sizeof object.name, "Z%08u", (i * 2654435761u) % 100000000u);
      Region(i, xy);
      if (pipImportInsert(import, &object, xy, parts, 1) != 1) {
        state.SkipWithError("insert failed");
        break;
      }
    }
    if (pipImportTerm(import, 1) != 1) {
      state.SkipWithError("term failed");
      break;
    }
    platform::FileInfo info;
    if (env.PathStat(path, &info) == 0) fileBytes = int64_t(info.size);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * count);
  state.counters["bytes_per_object"] = double(fileBytes) / count;
  env.Remove(path);
  env.Remove(folder);
  pipTerm(context);
}

BENCHMARK(BM_ImportRegions)
    ->ArgNames({"regions", "flags"})
    ->Args({10000, 0})
    ->Args({10000, PIP_IMPORT_PACKED})
    ->Args({10000, PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportRegions)
    ->ArgNames({"regions", "flags"})
    ->Args({1000000, 0})
    ->Args({1000000, PIP_IMPORT_PACKED})
    ->Args({1000000, PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
