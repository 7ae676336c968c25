// Exporting boundary files to shapefiles beside ogr2ogr converting the same
// data from a GeoPackage to a shapefile (run as a subprocess, in the same
// run): the US counties, and one million small regions (squares of a
// hundredth of a degree on a grid, each named). The GeoPackages are made
// from this exporter's own shapefiles before any timing, so both sides
// write the same objects. Everything lives in a temporary folder of this
// run's own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/import_params.h"
#include "tests/support/program_run.h"
#include "zonelib.h"

namespace {

constexpr int32_t kSmallRegions = 1000000;
constexpr int32_t kSide = 10000;  // a hundredth of a degree
constexpr int32_t kColumns = 1000;

struct DataSet {
  std::string gsb;
  std::string gpkg;
  bool ok = false;
};

struct Workload {
  std::string work;
  uint32_t context = 0;
  DataSet counties, squares;
  bool ogr = false;
  ~Workload() {
    if (context) pipTerm(context);
    std::error_code ignored;
    if (!work.empty()) std::filesystem::remove_all(work, ignored);
  }
};

bool BuildCounties(Workload& w, const std::string& gsb) {
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  const std::string input = std::string(GSB_SHARED_DATA_DIR) + "/us/us_counties.shp";
  if (pipImportInit(w.context, gsb.c_str(), &params, &import) != 1) return false;
  if (pipImportOpenShape(import, input.c_str(), "name", nullptr) != 1) {
    pipImportTerm(import, 0);
    return false;
  }
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  return status >= 0 && pipImportTerm(import, 1) == 1;
}

bool BuildSquares(Workload& w, const std::string& gsb) {
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  if (pipImportInit(w.context, gsb.c_str(), &params, &import) != 1) return false;
  pipObjectInfoStruct info;
  std::memset(&info, 0, sizeof info);
  info.kind = PIP_OBJECT_REGION;
  for (int32_t i = 0; i < kSmallRegions; ++i) {
    const int32_t x = -100000000 + (i % kColumns) * 2 * kSide;
    const int32_t y = 20000000 + (i / kColumns) * 2 * kSide;
    std::snprintf(info.name, sizeof info.name, "R%07d", i);
    int32_t xy[8] = {x, y, x, y + kSide, x + kSide, y + kSide, x + kSide, y};
    uint32_t count = 4;
    if (pipImportInsert(import, &info, xy, &count, 1) != 1) {
      pipImportTerm(import, 0);
      return false;
    }
  }
  return pipImportTerm(import, 1) == 1;
}

// The boundary file exported to a shapefile at base; false on failure.
bool ExportShape(uint32_t context, const std::string& gsb, const std::string& base) {
  uint32_t exporter = 0;
  if (pipExportInitSHP(context, (base + ".shp").c_str(), &exporter, PIP_OBJECT_REGION) != 1)
    return false;
  bool ok = pipExportOpen(exporter, gsb.c_str(), 0) == 1;
  char name[160];
  int32_t percentage = 0, done = 0;
  while (ok && pipExportWrite(exporter, name, sizeof name, &percentage, &done) == 1) {
  }
  ok = ok && percentage == 100;
  pipExportClose(exporter);
  return pipExportTerm(exporter, 1) == 1 && ok;
}

bool Run(const std::string& command) {
  std::string out;
  return testsupport::RunCommand(command + " 2>&1", &out);
}

bool Prepare(Workload& w, DataSet& set, const std::string& key, bool counties) {
  set.gsb = w.work + "/" + key + ".gsb";
  set.gpkg = w.work + "/" + key + ".gpkg";
  if (!(counties ? BuildCounties(w, set.gsb) : BuildSquares(w, set.gsb))) return false;
  const std::string base = w.work + "/" + key + "_seed";
  if (!ExportShape(w.context, set.gsb, base)) return false;
  set.ok = !w.ogr || Run("ogr2ogr -f GPKG " + testsupport::ShellQuoted(set.gpkg) + " " +
                         testsupport::ShellQuoted(base + ".shp"));
  return set.ok;
}

Workload& Work() {
  static Workload w;
  static bool made = false;
  if (made) return w;
  made = true;
  std::string pattern =
      (std::filesystem::temp_directory_path() / "gsb_export_bench.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return w;
  w.work = pattern;
  w.context = uint32_t(pipInit(0, ""));
  w.ogr = testsupport::HaveCommand("command -v ogr2ogr");
  Prepare(w, w.counties, "counties", true);
  Prepare(w, w.squares, "squares", false);
  return w;
}

DataSet& SetOf(Workload& w, int64_t which) { return which == 0 ? w.counties : w.squares; }
const char* kLabels[] = {"us_counties", "1M_small_regions"};

void BM_ExportShapefile(benchmark::State& state) {
  Workload& w = Work();
  DataSet& set = SetOf(w, state.range(0));
  if (!set.ok) {
    state.SkipWithError("the data set could not be built");
    return;
  }
  const std::string base = w.work + "/out_gsb";
  for (auto _ : state) {
    if (!ExportShape(w.context, set.gsb, base)) {
      state.SkipWithError("the export failed");
      return;
    }
  }
  state.SetLabel(kLabels[state.range(0)]);
}

void BM_Ogr2ogrShapefile(benchmark::State& state) {
  Workload& w = Work();
  DataSet& set = SetOf(w, state.range(0));
  if (!w.ogr) {
    state.SkipWithError("ogr2ogr is not installed");
    return;
  }
  if (!set.ok) {
    state.SkipWithError("the data set could not be built");
    return;
  }
  const std::string out = w.work + "/out_ogr.shp";
  for (auto _ : state) {
    if (!Run("ogr2ogr -overwrite -f 'ESRI Shapefile' " + testsupport::ShellQuoted(out) + " " +
             testsupport::ShellQuoted(set.gpkg))) {
      state.SkipWithError("ogr2ogr failed");
      return;
    }
  }
  state.SetLabel(kLabels[state.range(0)]);
}

BENCHMARK(BM_ExportShapefile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ogr2ogrShapefile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
