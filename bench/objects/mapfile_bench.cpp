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
#include "mapfile/foundation/foundation.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"
#include "objects/map_writer.h"

namespace {

using namespace layerio;

constexpr int kPolygons = 100000;

struct Workload {
  std::filesystem::path dir;
  std::vector<std::vector<DPoint>> rings;  // closed rings in degrees
  CoordSys cs;
  std::map<std::string, double> best;      // seconds
  std::map<std::string, int64_t> sizes;
};

Workload& W() {
  static Workload w;
  return w;
}

void Best(const std::string& name, double seconds) {
  auto it = W().best.find(name);
  if (it == W().best.end() || seconds < it->second) W().best[name] = seconds;
}

void Prepare() {
  Workload& w = W();
  char pattern[] = "/tmp/mapbench.XXXXXX";
  w.dir = ::mkdtemp(pattern);
  std::mt19937 rng(120);
  std::uniform_real_distribution<double> lon(-120, -70), lat(25, 50), r(0.001, 0.004);
  for (int i = 0; i < kPolygons; ++i) {
    double cx = lon(rng), cy = lat(rng), radius = r(rng);
    int n = 5 + int(rng() % 5);
    std::vector<DPoint> ring;
    for (int k = 0; k < n; ++k) {
      double a = 2 * M_PI * k / n;
      ring.push_back({cx + radius * std::cos(a), cy + radius * std::sin(a)});
    }
    ring.push_back(ring.front());
    w.rings.push_back(ring);
  }
  ErrorStackCreate();
  FileCacheInit();
  CoordSysInstallUnitServices();
  GeomScratchInit();
  CoordSysParseText(&w.cs, "CoordSys Earth Projection 1, 104", true);
  std::ofstream csv(w.dir / "polygons.csv");
  csv << "id,WKT\n";
  char text[64];
  for (int i = 0; i < kPolygons; ++i) {
    csv << i + 1 << ",\"POLYGON ((";
    for (size_t k = 0; k < w.rings[size_t(i)].size(); ++k) {
      std::snprintf(text, sizeof text, "%s%.9g %.9g", k ? "," : "", w.rings[size_t(i)][k].x,
                    w.rings[size_t(i)][k].y);
      csv << text;
    }
    csv << "))\"\n";
  }
}

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

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

template <typename F>
void Timed(benchmark::State& state, const std::string& name, F body) {
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    bool ok = body();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
      state.SkipWithError((name + " failed").c_str());
      return;
    }
    state.SetIterationTime(seconds);
    Best(name, seconds);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPolygons);
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

std::string Q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

void BM_OgrCsvParseOnly(benchmark::State& state) {
  const Workload& w = W();
  Timed(state, "ogr csv parse", [&] {
    return Run("ogr2ogr -f Memory /vsimem/x " + Q(w.dir / "polygons.csv") +
               " -oo KEEP_GEOM_COLUMNS=NO") == 0;
  });
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
  Prepare();
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
