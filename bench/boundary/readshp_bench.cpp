// Building a boundary file from a shapefile through the import calls, side
// by side with ogr2ogr writing the same data to a shapefile with its spatial
// index (-lco SPATIAL_INDEX=YES), on the US counties (3,231 polygons) and on
// a synthetic set of one million small squares (square_set.h, made once per
// run in the temporary folder). The time of ogr2ogr includes starting the
// program, which is part of what its job costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/boundary/square_set.h"
#include "platform/env.h"
#include "tests/support/import_params.h"
#include "zonelib.h"

namespace {

using testsupport::ImportParams;
using testsupport::kImportPointLimit;
using testsupport::kImportPolygonLimit;

// Hundreds of megabytes: in the system's temporary folder (TMPDIR, else
// /tmp), never the current one, and removed when the program ends.
struct BenchFolder {
  std::string path = (std::filesystem::temp_directory_path() / "gsb_readshp_bench").string();
  BenchFolder() { std::filesystem::create_directories(path); }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};
const std::string& Folder() {
  static const BenchFolder folder;
  return folder.path;
}

std::string UsCounties() { return std::string(GSB_SHARED_DATA_DIR) + "/us/us_counties.shp"; }

// The million squares, made on first use.
const std::string& Squares() {
  static const std::string path = [] {
    const std::string base = platform::JoinPath(Folder(), "squares");
    return MakeSquareShapefile(base, 1000000) ? base + ".shp" : std::string();
  }();
  return path;
}

void BuildWithZonelib(benchmark::State& state, const std::string& input, const char* field) {
  if (input.empty()) {
    state.SkipWithError("no input");
    return;
  }
  const std::string output = platform::JoinPath(Folder(), "out.gsb");
  const uint32_t context = uint32_t(pipInit(0, ""));
  uint32_t objects = 0;
  for (auto _ : state) {
    // Segments, as the builder program makes them.
    pipImportParamStruct params =
        ImportParams(kImportPointLimit, kImportPolygonLimit, 1, PIP_IMPORT_SEGMENTS);
    uint32_t import = 0;
    if (pipImportInit(context, output.c_str(), &params, &import) != 1 ||
        pipImportOpenShape(import, input.c_str(), field, nullptr) != 1) {
      state.SkipWithError("open failed");
      break;
    }
    char name[128];
    int32_t status;
    objects = 0;
    while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) ++objects;
    if (status < 0 || pipImportTerm(import, 1) != 1) {
      state.SkipWithError("build failed");
      break;
    }
  }
  state.counters["objects"] = objects;
  state.SetItemsProcessed(int64_t(state.iterations()) * objects);
  platform::Env::Current().Remove(output);
  pipTerm(context);
}

void BuildWithOgr2ogr(benchmark::State& state, const std::string& input) {
  if (input.empty()) {
    state.SkipWithError("no input");
    return;
  }
  const std::string out = platform::JoinPath(Folder(), "ogr");
  const std::string command = "rm -rf '" + out + "' && ogr2ogr -q -f 'ESRI Shapefile' " +
                              "-lco SPATIAL_INDEX=YES '" + out + "' '" + input + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ogr2ogr failed");
      break;
    }
  }
  std::system(("rm -rf '" + out + "'").c_str());
}

void BM_Zonelib_UsCounties(benchmark::State& s) { BuildWithZonelib(s, UsCounties(), "name"); }
void BM_Ogr2ogr_UsCounties(benchmark::State& s) { BuildWithOgr2ogr(s, UsCounties()); }
void BM_Zonelib_MillionSquares(benchmark::State& s) { BuildWithZonelib(s, Squares(), "NAME"); }
void BM_Ogr2ogr_MillionSquares(benchmark::State& s) { BuildWithOgr2ogr(s, Squares()); }

BENCHMARK(BM_Zonelib_UsCounties)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_Ogr2ogr_UsCounties)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_Zonelib_MillionSquares)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Ogr2ogr_MillionSquares)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
