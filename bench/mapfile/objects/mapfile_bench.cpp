// Writing 100,000 small polygons (5 to 9 vertices, a few hundred metres
// across, longitude/latitude) to a map-object file and reading them all back
// by row, beside OGR writing the same polygons as a GeoPackage and reading
// them back (gdal-bin's ogr2ogr, run as a process in the same run; its times
// include starting the process). Both sides convert between degrees and
// their stored form: the map side to and from integer map coordinates.
//
// The OGR write reads its polygons from a CSV file of WKT; the time of
// parsing that file alone (into OGR's memory driver) is reported beside it.
// After the runs the file sizes and the ratios of the best times are printed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"
#include "tests/mapfile/objects/map_writer.h"
#include "polygon_workload.h"

namespace {

using namespace layerio;
using namespace polybench;


std::string MapTablePath() { return (W().dir / "polygons.TAB").string(); }

bool WriteMap() {
  Workload& w = W();
  std::filesystem::remove(w.dir / "polygons.MAP");
  std::filesystem::remove(w.dir / "polygons.ID");
  FileHandle table = FileTableAddName(MapTablePath().c_str(), 1);
  MapFile map{};
  MapHeader header{};
  IdFileAccess id{};
  bool ok = MapFileCreate(&map, &header, table, -1, &w.cs, 0, 0) && IdFileCreate(&id, table) &&
            MapFileLock(&map, &header, kFileModeWrite, nullptr);
  maptest::MapWriter writer;
  ok = ok && writer.Begin(&map, &header, &id);
  GeomObject o;
  GeomObjectInit(&o, kGeomRegion);
  std::vector<IPoint> points;
  for (int i = 0; ok && i < kPolygons; ++i) {
    const std::vector<DPoint>& ring = w.rings[size_t(i)];
    points.resize(ring.size());
    CoordUnitsToInt(ring.data(), points.data(), &w.cs, int(ring.size()));
    GeomObjectReset(&o, kGeomRegion, 0);
    int32_t count = int32_t(points.size() - 1);  // the ring is closed again
    ok = GeomPartsSetAll(&o, 1, &count, points.data(), nullptr, nullptr) &&
         (maptest::PolyFinish(&o), writer.Add(&o, i + 1));
  }
  GeomObjectFree(&o);
  writer.End();
  id.lastRow = kPolygons;
  ok = MapFileUnlock(&map, &header) && ok;
  ok = IdFileFlush(&id) && ok;
  MapFileClose(&map);
  FileRelease(table);
  return ok;
}

bool ReadMap(double* checksum) {
  Workload& w = W();
  FileHandle table = FileTableAddName(MapTablePath().c_str(), 1);
  MapFile map{};
  MapHeader header{};
  IdFileAccess id{};
  MapBlockSlot *objects = nullptr, *coords = nullptr;
  bool ok = MapFileOpen(&map, &header, table, -1, 0) && IdFileOpen(&id, table) &&
            MapFileLock(&map, &header, kFileModeRead, nullptr) &&
            MapBlockSlotAlloc(&map, &objects) && MapBlockSlotAlloc(&map, &coords);
  GeomObject o;
  GeomObjectInit(&o, kGeomNone);
  std::vector<DPoint> degrees;
  double sum = 0;
  for (int32_t row = 1; ok && row <= kPolygons; ++row) {
    ok = MapObjectReadByRow(&map, objects, coords, row, 1, IdFileRead, &id, nullptr, nullptr, &o,
                            nullptr) == 1;
    if (!ok) break;
    const GeomPart* part = GeomParts(&o);
    degrees.resize(size_t(part->pointCount));
    CoordIntToUnits(GeomPartPoints(&o, part), degrees.data(), &w.cs, part->pointCount);
    sum += degrees[0].x;
  }
  *checksum = sum;
  GeomObjectFree(&o);
  MapBlockSlotFree(&map, &objects);
  MapBlockSlotFree(&map, &coords);
  MapFileUnlock(&map, &header);
  IdFileFlush(&id);
  MapFileClose(&map);
  FileRelease(table);
  return ok;
}


void BM_MapWrite(benchmark::State& state) {
  Timed(state, "map write", WriteMap);
  W().sizes["map .MAP"] = int64_t(std::filesystem::file_size(W().dir / "polygons.MAP"));
  W().sizes["map .ID"] = int64_t(std::filesystem::file_size(W().dir / "polygons.ID"));
  state.counters["bytes"] = double(W().sizes["map .MAP"] + W().sizes["map .ID"]);
}

void BM_MapReadByRow(benchmark::State& state) {
  double sum = 0;
  Timed(state, "map read", [&] { return ReadMap(&sum); });
  benchmark::DoNotOptimize(sum);
}


void BM_OgrGpkgWrite(benchmark::State& state) {
  const Workload& w = W();
  Timed(state, "ogr write", [&] {
    std::filesystem::remove(w.dir / "polygons.gpkg");
    return Run("ogr2ogr -f GPKG " + Q(w.dir / "polygons.gpkg") + " " +
               Q(w.dir / "polygons.csv") +
               " -oo KEEP_GEOM_COLUMNS=NO -a_srs EPSG:4326 -nlt POLYGON -nln polygons") == 0;
  });
  W().sizes["gpkg"] = int64_t(std::filesystem::file_size(w.dir / "polygons.gpkg"));
  state.counters["bytes"] = double(W().sizes["gpkg"]);
}

void BM_OgrGpkgRead(benchmark::State& state) {
  const Workload& w = W();
  Timed(state, "ogr read", [&] {
    return Run("ogr2ogr -f Memory /vsimem/x " + Q(w.dir / "polygons.gpkg")) == 0;
  });
}

BENCHMARK(BM_MapWrite)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrCsvParseOnly)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrGpkgWrite)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapReadByRow)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrGpkgRead)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  Prepare("mapbench", 120);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Workload& w = W();
  std::printf("\n%d polygons, best times and sizes:\n", kPolygons);
  for (const auto& [name, seconds] : w.best) std::printf("  %-14s %9.1f ms\n", name.c_str(),
                                                         seconds * 1000);
  for (const auto& [name, bytes] : w.sizes)
    std::printf("  %-14s %11lld bytes\n", name.c_str(), static_cast<long long>(bytes));
  auto ratio = [&](const char* a, const char* b) {
    return w.best.count(a) && w.best.count(b) && w.best[a] > 0 ? w.best[b] / w.best[a] : 0.0;
  };
  std::printf("  OGR write / map write: %.2f (OGR without its CSV parse: %.2f)\n",
              ratio("map write", "ogr write"),
              w.best.count("map write") && w.best.count("ogr write") &&
                      w.best.count("ogr csv parse")
                  ? (w.best["ogr write"] - w.best["ogr csv parse"]) / w.best["map write"]
                  : 0.0);
  std::printf("  OGR read / map read:   %.2f\n", ratio("map read", "ogr read"));
  if (w.sizes.count("gpkg") && w.sizes.count("map .MAP"))
    std::printf("  GeoPackage / (.MAP + .ID) size: %.2f\n",
                double(w.sizes["gpkg"]) / double(w.sizes["map .MAP"] + w.sizes["map .ID"]));
  std::filesystem::remove_all(w.dir);
  return 0;
}
