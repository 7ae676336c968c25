// Reading a 100,000-polygon map table row by row through liblayerio.so
// (PXFetchRow with the row text and the object, every row), beside OGR
// reading the same features with their geometry from a GeoPackage in the
// same run; and gsbbuild from that table beside gsbbuild from the same data
// as a shapefile.
//
// The polygons are those of the map-object benchmarks (5 to 9 vertices,
// radius 0.001 to 0.004 degrees, over the United States), generated here
// because bench/mapfile/objects/polygon_workload.h reaches into the library's
// internals and this benchmark holds to the public interface. The shapefile
// is written through Zonelib's writers, the table through PXCreateTable and
// PXInsertRow, the GeoPackage by gdal-bin's ogr2ogr from the shapefile.
//
// libgdal's headers are not installed here, so OGR runs as a process of its
// own: ogrinfo with an attribute filter on OGR_GEOM_AREA, which no feature
// meets and which the GeoPackage driver cannot hand to SQLite, so that every
// feature is read and its geometry decoded without being printed; and
// ogr2ogr copying every feature into OGR's memory driver. Both include
// starting the process; `ogrinfo --version` is timed beside them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "layerio.h"
#include "zonelib.h"

namespace {

constexpr int kPolygons = 100000;

struct Bench {
  std::filesystem::path dir;
  std::vector<std::vector<double>> rings;  // closed rings, x y pairs
  std::map<std::string, double> best;
  double checksum = 0;
  bool ready = false;

  Bench() {
    char pattern[] = "/tmp/fetch_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> lon(-120, -70), lat(25, 50), r(0.001, 0.004);
    for (int i = 0; i < kPolygons; ++i) {
      const double cx = lon(rng), cy = lat(rng), radius = r(rng);
      const int n = 5 + int(rng() % 5);
      std::vector<double> ring;
      for (int k = 0; k < n; ++k) {
        const double a = -2 * M_PI * k / n;  // clockwise: an outer ring
        ring.push_back(cx + radius * std::cos(a));
        ring.push_back(cy + radius * std::sin(a));
      }
      ring.push_back(ring[0]);
      ring.push_back(ring[1]);
      rings.push_back(ring);
    }
    ready = WriteShapefile() && WriteTable() &&
            Run("ogr2ogr -f GPKG -nln poly " + Q(dir / "poly.gpkg") + " " +
                Q(dir / "poly.shp")) == 0;
  }
  ~Bench() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  static std::string Q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }
  static int Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  }

  static std::string Name(int i) { return "poly" + std::to_string(i + 1); }

  bool WriteShapefile() {
    DbfField fields[2] = {};
    std::strcpy(fields[0].name, "ID");
    fields[0].type = DBF_NUMERIC;
    fields[0].width = 9;
    std::strcpy(fields[0].format, "%9.0f");
    std::strcpy(fields[1].name, "NAME");
    fields[1].type = DBF_CHARACTER;
    fields[1].width = 16;
    DbfHandle table{};
    table.fieldCount = 2;
    table.fields = fields;
    ShapeHandle shape{};
    const std::string base = (dir / "poly").string();
    if (dbCreate(&table, base.c_str()) != 0 || ShapeCreate(&shape, base.c_str()) != 0) return false;
    bool ok = true;
    for (int i = 0; ok && i < kPolygons; ++i) {
      fields[0].value.number = i + 1;
      std::snprintf(fields[1].value.text, sizeof fields[1].value.text, "%s", Name(i).c_str());
      ShapePart part{uint32_t(rings[size_t(i)].size() / 2), rings[size_t(i)].data()};
      ShapePartList list{1, &part};
      ok = dbWrite(&table) == 0 && ShapeWritePoly(&shape, &list, SHAPE_POLYGON) == 0;
    }
    return (ShapeClose(&shape) == 0) & (dbClose(&table) == 0) && ok;
  }

  bool WriteTable() {
    PXFieldInfo fields[2] = {};
    std::strcpy(fields[0].name, "ID");
    fields[0].type = 3;  // Integer
    std::strcpy(fields[1].name, "NAME");
    fields[1].type = 1;  // Char
    fields[1].width = 16;
    PXCoordSys lonLat;
    if (!PXParseCoordSys("CoordSys Earth Projection 1, 104", &lonLat)) return false;
    const std::string path = (dir / "poly.TAB").string();
    PXTableHandle table = PXCreateTable(path.c_str(), fields, 2, &lonLat, 5);
    if (!table) return false;
    bool ok = true;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; ok && i < kPolygons; ++i) {
      std::vector<PXPoint> points;
      const std::vector<double>& ring = rings[size_t(i)];
      for (size_t k = 0; k + 1 < ring.size(); k += 2) points.push_back({ring[k], ring[k + 1]});
      PXSection section{int32_t(points.size()), 0, points.data()};
      PXObject object{};
      object.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_REGION;
      const uint32_t one = 1;
      const PXSection* sections = &section;
      std::memcpy(object.u.bytes + PX_OBJECT_COUNT, &one, sizeof one);
      std::memcpy(object.u.bytes + PX_OBJECT_REGION_CENTROID_X, &ring[0], sizeof(double));
      std::memcpy(object.u.bytes + PX_OBJECT_REGION_CENTROID_Y, &ring[1], sizeof(double));
      std::memcpy(object.u.bytes + PX_OBJECT_REGION_POLYGONS, &sections, sizeof sections);
      const std::string row = std::to_string(i + 1) + "\t\"" + Name(i) + "\"";
      uint32_t number = 0;
      ok = PXInsertRow(table, row.c_str(), &object, &number) != 0;
    }
    ok = (PXCloseTable(table) != 0) && ok;
    best["insert (setup)"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ok;
  }
};

Bench& B() {
  static Bench bench;
  return bench;
}

template <typename Body>
void Timed(benchmark::State& state, const char* name, Body body) {
  if (!B().ready) {
    state.SkipWithError("the inputs could not be made");
    return;
  }
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!body()) {
      state.SkipWithError(name);
      return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    double& best = B().best[name];
    if (best == 0 || seconds < best) best = seconds;
  }
  state.counters["rows"] = kPolygons;
}

// Every row with its text and its object; the sum of the points read keeps
// the work from being skipped.
bool FetchAll() {
  PXTableHandle table = PXOpenTable((B().dir / "poly.TAB").string().c_str(), PX_OPEN_READ);
  uint32_t rows = 0;
  bool ok = table && PXGetRowCount(table, &rows) && rows == uint32_t(kPolygons);
  auto text = std::make_unique<char[]>(PX_ROW_TEXT_SIZE);
  PXObject object;
  double sum = 0;
  for (uint32_t row = 1; ok && row <= rows; ++row) {
    ok = PXFetchRow(table, row, text.get(), &object) != 0 &&
         object.u.bytes[PX_OBJECT_TYPE] == PX_OBJECT_REGION;
    const PXSection* sections;
    std::memcpy(&sections, object.u.bytes + PX_OBJECT_REGION_POLYGONS, sizeof sections);
    if (ok) sum += sections[0].points[0].x + sections[0].count + double(text[0]);
  }
  if (table) PXCloseTable(table);
  B().checksum = sum;
  return ok;
}

void BM_PXFetchRowObjects(benchmark::State& state) { Timed(state, "PXFetchRow", FetchAll); }

void BM_OgrGpkgFiltered(benchmark::State& state) {
  Timed(state, "ogrinfo gpkg", [] {
    return Bench::Run("ogrinfo -ro -q -al -where 'OGR_GEOM_AREA < 0' " +
                      Bench::Q(B().dir / "poly.gpkg")) == 0;
  });
}

void BM_OgrGpkgToMemory(benchmark::State& state) {
  Timed(state, "ogr2ogr gpkg", [] {
    return Bench::Run("ogr2ogr -f Memory /vsimem/x " + Bench::Q(B().dir / "poly.gpkg")) == 0;
  });
}

void BM_OgrStart(benchmark::State& state) {
  Timed(state, "ogr start", [] { return Bench::Run("ogrinfo --version") == 0; });
}

bool Gsbbuild(const char* input, const char* output) {
  std::filesystem::remove(B().dir / output);
  std::string out = output;
  out.back() = 'a';
  std::filesystem::remove(B().dir / out);
  return std::system(("cd " + Bench::Q(B().dir) + " && " + Bench::Q(GSBBUILD_PATH) + " " + input +
                      " " + output + " NAME >/dev/null 2>&1")
                         .c_str()) == 1 << 8;  // gsbbuild's success is 1
}

void BM_GsbbuildFromTable(benchmark::State& state) {
  Timed(state, "gsbbuild table", [] { return Gsbbuild("poly.TAB", "tab.gsb"); });
}

void BM_GsbbuildFromShapefile(benchmark::State& state) {
  Timed(state, "gsbbuild shp", [] { return Gsbbuild("poly.shp", "shp.gsb"); });
}

BENCHMARK(BM_PXFetchRowObjects)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrGpkgFiltered)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrGpkgToMemory)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrStart)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GsbbuildFromTable)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GsbbuildFromShapefile)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!PXInitialize(PX_INTERFACE_NUMBER)) return 1;
  if (std::system("command -v ogrinfo >/dev/null 2>&1") != 0)
    std::fprintf(stderr, "gdal-bin is not installed: OGR is not timed\n");
  B();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& best = B().best;
  auto has = [&](const char* name) { return best.count(name) && best[name] > 0; };
  std::printf("\nbest times, %d polygons (checksum %.4f):\n", kPolygons, B().checksum);
  for (const auto& [name, seconds] : best) std::printf("  %-16s %8.3f s\n", name.c_str(), seconds);
  if (has("PXFetchRow") && has("ogrinfo gpkg"))
    std::printf("  ogrinfo gpkg / PXFetchRow:      %.2f\n", best["ogrinfo gpkg"] / best["PXFetchRow"]);
  if (has("PXFetchRow") && has("ogr2ogr gpkg"))
    std::printf("  ogr2ogr gpkg / PXFetchRow:      %.2f\n", best["ogr2ogr gpkg"] / best["PXFetchRow"]);
  if (has("gsbbuild table") && has("gsbbuild shp"))
    std::printf("  gsbbuild table / gsbbuild shp:  %.2f\n",
                best["gsbbuild table"] / best["gsbbuild shp"]);
  PXShutdown();
  return 0;
}
