// ZIP+4 assignment of one million centroids to the US counties: the ZIP+4
// search (every hit of one find-first and its find-nexts) beside GEOS doing
// the join a user would otherwise write: an STR tree over the counties,
// prepared-geometry contains on each centroid's candidates, the first that
// contains it taken.
//
// The centroids lie at random in the box of the 48 contiguous states, each
// ZIP Code a cell of a quarter degree (about 45 centroids each). The Z9
// file comes from the tests' generator (tests/data/z9/make_z9.py) and is
// kept in the temporary folder between runs, as making it takes a while;
// the counties' boundary file is built afresh in a folder of this run's own,
// so that runs side by side do not meet.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/command.h"
#include "tests/support/geos_regions.h"
#include "tests/support/import_params.h"
#include "tests/support/shp_rings.h"
#include "zonelib.h"

namespace {


constexpr int32_t kCentroids = 1000000;
constexpr int32_t kWest = -125000000, kEast = -67000000, kSouth = 25000000, kNorth = 49000000;
constexpr int32_t kCell = 250000;
constexpr const char* kCounties = "us/us_counties";

struct Centroid {
  int32_t x, y;
};

struct Workload {
  std::string folder;
  std::string work;  // this run's own
  std::string gsb;
  std::string z9;
  std::vector<Centroid> centroids;
  uint32_t context = 0;
  bool ok = false;
  ~Workload() {
    if (context) pipTerm(context);
    std::error_code ignored;
    if (!work.empty()) std::filesystem::remove_all(work, ignored);
  }
};

bool BuildCounties(Workload& w) {
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  const std::string input = std::string(GSB_SHARED_DATA_DIR) + "/" + kCounties + ".shp";
  if (pipImportInit(w.context, w.gsb.c_str(), &params, &import) != 1) return false;
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

bool Build(Workload& w) {
  platform::Env& env = platform::Env::Current();
  w.folder = (std::filesystem::temp_directory_path() / "gsb_services_bench").string();
  env.MakeDirectory(w.folder);
  std::string pattern = platform::JoinPath(w.folder, "run.XXXXXX");
  if (!::mkdtemp(pattern.data())) return false;
  w.work = pattern;
  w.gsb = platform::JoinPath(w.work, "us_counties.gsb");
  w.z9 = platform::JoinPath(w.folder, "centroids_1m.z9");
  w.context = uint32_t(pipInit(0, nullptr));
  if (!BuildCounties(w)) return false;
  std::mt19937_64 rng(9);
  const int32_t columns = (kEast - kWest) / kCell, rows = (kNorth - kSouth) / kCell;
  std::uniform_int_distribution<int32_t> cell(0, columns * rows - 1), within(0, kCell / 100 - 1);
  std::vector<std::vector<Centroid>> zips(size_t(columns * rows));
  for (int32_t i = 0; i < kCentroids; ++i) {
    const int32_t c = cell(rng);
    const Centroid k{kWest + (c % columns) * kCell + within(rng) * 100,
                     kSouth + (c / columns) * kCell + within(rng) * 100};
    zips[size_t(c)].push_back(k);
  }
  const std::string csv = platform::JoinPath(w.work, "centroids_1m.csv");
  {
    std::ofstream out(csv);
    for (size_t z = 0; z < zips.size(); ++z) {
      for (size_t k = 0; k < zips[z].size(); ++k) {
        const Centroid& c = zips[z][k];
        w.centroids.push_back(c);
        out << 10000 + z << "," << k << ",0,0," << -c.x / 100 << "," << c.y / 100 << ",S,0\n";
      }
    }
  }
  // A file older than the generator is made again.
  const std::string generator = std::string(GSB_TEST_DATA_DIR) + "/z9/make_z9.py";
  std::error_code missing;
  if (!std::filesystem::exists(w.z9) || std::filesystem::last_write_time(w.z9, missing) <
                                            std::filesystem::last_write_time(generator, missing)) {
    std::string output;
    const std::string command = std::string(testsupport::kPython) + " " + generator + " " + csv +
                                " " + w.work + "/centroids_1m.z9";
    if (!testsupport::RunCommand(command, &output)) return false;
    std::filesystem::rename(w.work + "/centroids_1m.z9", w.z9);
  }
  return true;
}

Workload& Shared() {
  static Workload w;
  static bool built = (w.ok = Build(w));
  (void)built;
  return w;
}

void BM_Zip4_Zonelib(benchmark::State& state) {
  Workload& w = Shared();
  uint32_t file = 0, zip4 = 0;
  if (!w.ok || pipObjectFileOpen(w.context, w.gsb.c_str(), 3, &file) != 1 ||
      pipZip4FileOpen(w.context, w.z9.c_str(), &zip4) != 1) {
    state.SkipWithError("the files could not be made");
    return;
  }
  char code[10], type[2], name[128];
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (int32_t r = pipZip4FindFirst(zip4, file, 0, code, type, name, sizeof name); r > 0;
         r = pipZip4FindNext(zip4, code, type, name, sizeof name))
      ++hits;
  }
  state.counters["hits"] = double(hits);
  state.SetItemsProcessed(int64_t(state.iterations()) * kCentroids);
  pipZip4FileClose(zip4);
  pipObjectFileClose(file);
}

void BM_Zip4_GeosJoin(benchmark::State& state) {
  Workload& w = Shared();
  testsupport::GeosRegionIndex peer;
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  if (!w.ok || !testsupport::ReadShpRings(
                   std::string(GSB_SHARED_DATA_DIR) + "/" + kCounties + ".shp", &shapes, &error)) {
    state.SkipWithError("the peer could not be built");
    return;
  }
  for (const auto& s : shapes) {
    std::vector<std::vector<testsupport::ShpPoint>> rings;
    for (const auto& r : s.rings) rings.push_back(testsupport::WithoutClosingPoint(r));
    peer.Add(rings);
  }
  peer.Build();
  GEOSContextHandle_t context = peer.geos().context();
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const Centroid& c : w.centroids) {
      GEOSGeometry* point = GEOSGeom_createPointFromXY_r(context, c.x, c.y);
      hits += peer.Containing(context, point) >= 0;
      GEOSGeom_destroy_r(context, point);
    }
  }
  state.counters["hits"] = double(hits);
  state.SetItemsProcessed(int64_t(state.iterations()) * kCentroids);
}

BENCHMARK(BM_Zip4_Zonelib)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_Zip4_GeosJoin)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

}  // namespace
