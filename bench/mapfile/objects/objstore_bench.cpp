// Inserting 100,000 small polygons (5 to 9 vertices, longitude/latitude)
// through the object store of a table, which keeps the spatial index of the
// map-object file and the .ID file right, beside OGR writing the same
// polygons to a GeoPackage with its spatial index (gdal-bin's ogr2ogr, run as
// a process in the same run; its time includes starting the process and
// parsing the CSV of WKT it reads, and the parse alone is timed too).
//
// The store runs two ways: one operation per row, each opening and closing
// the backend as a table's row insert does, and one operation around all
// rows. Both convert degrees to integer map coordinates for every polygon.
// After the runs the best times, the file sizes and the ratios are printed.
// With STORE_BENCH_KEEP set to a folder, the files of the last run of each
// way are copied there (per-row.MAP, one-op.MAP and their .ID files), so that
// builds can be compared byte for byte.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/state.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/objstore.h"
#include "tests/mapfile/objects/map_writer.h"
#include "polygon_workload.h"

namespace {

using namespace layerio;
using namespace polybench;


// Fills the object with polygon i in integer map coordinates.
bool MakePolygon(GeomObject* o, int i, std::vector<IPoint>* points) {
  const std::vector<DPoint>& ring = W().rings[size_t(i)];
  points->resize(ring.size());
  CoordUnitsToInt(ring.data(), points->data(), &W().cs, int(ring.size()));
  GeomObjectReset(o, kGeomRegion, 0);
  int32_t count = int32_t(points->size() - 1);  // the ring is closed again
  if (!GeomPartsSetAll(o, 1, &count, points->data(), nullptr, nullptr)) return false;
  maptest::PolyFinish(o);
  return true;
}

bool InsertThroughStore(bool operationPerRow) {
  Workload& w = W();
  std::filesystem::remove(w.dir / "polygons.MAP");
  std::filesystem::remove(w.dir / "polygons.ID");
  ObjStoreTable table{};
  table.file = FileTableAddName((w.dir / "polygons.TAB").string().c_str(), 1);
  ObjStore store;
  if (!ObjStoreCreate(&store, kObjStoreMapFile, &table, -1, &w.cs, 0, 1)) return false;
  GeomObject o;
  GeomObjectInit(&o, kGeomRegion);
  std::vector<IPoint> points;
  ObjStoreIndexCursor cursor;
  bool ok = true;
  bool open = false;
  for (int i = 0; ok && i < kPolygons; ++i) {
    if (!open) {
      open = ObjStoreOpenBackend(&store, kFileModeWrite) && ObjStoreIndexCursorOpen(&cursor, &store);
      if (!open) ok = false;
    }
    table.lastRow = i + 1;
    ok = ok && MakePolygon(&o, i, &points) && ObjStoreInsertObject(&cursor, &store, &o, i + 1, 0);
    if (open && (operationPerRow || i + 1 == kPolygons || !ok)) {
      ObjStoreIndexCursorClose(&cursor, &store);
      ok = ObjStoreCloseBackend(&store) && ok;
      open = false;
    }
  }
  GeomObjectFree(&o);
  ok = ObjStoreClose(&store) && ok;
  FileRelease(table.file);
  return ok;
}


void RecordMapSizes(benchmark::State& state) {
  W().sizes["store .MAP"] = int64_t(std::filesystem::file_size(W().dir / "polygons.MAP"));
  W().sizes["store .ID"] = int64_t(std::filesystem::file_size(W().dir / "polygons.ID"));
  state.counters["bytes"] = double(W().sizes["store .MAP"] + W().sizes["store .ID"]);
}

void KeepFiles(const char* name) {
  const char* keep = std::getenv("STORE_BENCH_KEEP");
  if (!keep || !*keep) return;
  const std::filesystem::path to(keep);
  std::filesystem::create_directories(to);
  for (const char* ext : {".MAP", ".ID"}) {
    std::filesystem::copy_file(W().dir / (std::string("polygons") + ext),
                               to / (std::string(name) + ext),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

void BM_StoreInsertOperationPerRow(benchmark::State& state) {
  Timed(state, "store per row", [] { return InsertThroughStore(true); });
  RecordMapSizes(state);
  KeepFiles("per-row");
}

void BM_StoreInsertOneOperation(benchmark::State& state) {
  Timed(state, "store one op", [] { return InsertThroughStore(false); });
  RecordMapSizes(state);
  KeepFiles("one-op");
}


void BM_OgrGpkgWriteWithIndex(benchmark::State& state) {
  const Workload& w = W();
  Timed(state, "ogr gpkg write", [&] {
    std::filesystem::remove(w.dir / "polygons.gpkg");
    return Run("ogr2ogr -f GPKG " + Q(w.dir / "polygons.gpkg") + " " +
               Q(w.dir / "polygons.csv") +
               " -oo KEEP_GEOM_COLUMNS=NO -a_srs EPSG:4326 -nlt POLYGON -nln polygons"
               " -lco SPATIAL_INDEX=YES") == 0;
  });
  W().sizes["gpkg"] = int64_t(std::filesystem::file_size(w.dir / "polygons.gpkg"));
  state.counters["bytes"] = double(W().sizes["gpkg"]);
}

BENCHMARK(BM_StoreInsertOperationPerRow)->Iterations(3)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_StoreInsertOneOperation)->Iterations(3)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_OgrCsvParseOnly)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrGpkgWriteWithIndex)->Iterations(3)->UseManualTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  Prepare("storebench", 125);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Workload& w = W();
  std::printf("\n%d polygons, best times and sizes:\n", kPolygons);
  for (const auto& [name, seconds] : w.best)
    std::printf("  %-15s %9.1f ms\n", name.c_str(), seconds * 1000);
  for (const auto& [name, bytes] : w.sizes)
    std::printf("  %-15s %11lld bytes\n", name.c_str(), static_cast<long long>(bytes));
  auto has = [&](const char* a) { return w.best.count(a) && w.best[a] > 0; };
  if (has("store per row") && has("ogr gpkg write")) {
    std::printf("  OGR write / store per row:  %.2f\n",
                w.best["ogr gpkg write"] / w.best["store per row"]);
    if (has("ogr csv parse"))
      std::printf("  (OGR without its CSV parse: %.2f)\n",
                  (w.best["ogr gpkg write"] - w.best["ogr csv parse"]) / w.best["store per row"]);
  }
  if (has("store one op") && has("ogr gpkg write"))
    std::printf("  OGR write / store one op:   %.2f\n",
                w.best["ogr gpkg write"] / w.best["store one op"]);
  if (w.sizes.count("gpkg") && w.sizes.count("store .MAP"))
    std::printf("  GeoPackage / (.MAP + .ID) size: %.2f\n",
                double(w.sizes["gpkg"]) / double(w.sizes["store .MAP"] + w.sizes["store .ID"]));
  std::filesystem::remove_all(w.dir);
  return 0;
}
