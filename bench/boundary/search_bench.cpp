// Point lookups on the US counties: one million random points in the set's
// bounding box (argument 0; most fall in no county, as the box reaches
// round the world), or in the box of the 48 contiguous states (argument 1;
// most fall in a county), each asked through the C interface for the county
// that contains it (pipObjectFindFirstContaining, which also gives its
// name), beside GEOS doing what a user would otherwise write: an STR tree
// over the same polygons and prepared-geometry contains on the candidates.
// Both run single-threaded over the same points in the same order; the
// counters give lookups per second and the share of points inside a county.
// Also the time to open the boundary file.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/geos_regions.h"
#include "tests/support/import_params.h"
#include "tests/support/shp_rings.h"
#include "zonelib.h"

namespace {

using testsupport::Geos;
using testsupport::ImportParams;
using testsupport::kImportPointLimit;
using testsupport::kImportPolygonLimit;

constexpr size_t kPoints = 1 << 20;
constexpr const char* kCounties = "us/us_counties";

struct Workload {
  std::string folder;
  std::string path;
  uint32_t context = 0;
  uint32_t file = 0;
  std::vector<int32_t> x[2], y[2];
  bool ok = false;

  ~Workload() {
    if (file) pipObjectFileClose(file);
    if (context) pipTerm(context);
    platform::Env& env = platform::Env::Current();
    env.Remove(path);
    env.Remove(folder);
  }
};

bool Build(Workload& w) {
  platform::Env& env = platform::Env::Current();
  w.folder = platform::JoinPath(env.TempDirectory(), "gsb_search_bench");
  env.MakeDirectory(w.folder);
  w.path = platform::JoinPath(w.folder, "us_counties.gsb");
  w.context = uint32_t(pipInit(0, nullptr));
  pipImportParamStruct params =
      ImportParams(kImportPointLimit, kImportPolygonLimit, 1, PIP_IMPORT_SEGMENTS);
  uint32_t import = 0;
  const std::string input = std::string(GSB_SHARED_DATA_DIR) + "/" + kCounties + ".shp";
  if (pipImportInit(w.context, w.path.c_str(), &params, &import) != 1) return false;
  if (pipImportOpenShape(import, input.c_str(), "name", nullptr) != 1) {
    pipImportTerm(import, 0);
    return false;
  }
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  if (status < 0 || pipImportTerm(import, 1) != 1) return false;
  if (pipObjectFileOpen(w.context, w.path.c_str(), 3, &w.file) != 1) return false;
  pipObjectFileInfoStruct info;
  if (pipObjectHandleFileQuery(w.file, &info) != 1) return false;
  const int32_t boxes[2][4] = {{info.bounds[0], info.bounds[1], info.bounds[2], info.bounds[3]},
                               {-125000000, 25000000, -67000000, 49000000}};
  std::mt19937_64 rng(20240611);
  for (int b = 0; b < 2; ++b) {
    std::uniform_int_distribution<int32_t> ux(boxes[b][0], boxes[b][2]);
    std::uniform_int_distribution<int32_t> uy(boxes[b][1], boxes[b][3]);
    for (size_t i = 0; i < kPoints; ++i) {
      w.x[b].push_back(ux(rng));
      w.y[b].push_back(uy(rng));
    }
  }
  return true;
}

Workload& Shared() {
  static Workload w;
  static bool built = (w.ok = Build(w));
  (void)built;
  return w;
}

void BM_Contains_Zonelib(benchmark::State& state) {
  Workload& w = Shared();
  if (!w.ok) {
    state.SkipWithError("the boundary file could not be built");
    return;
  }
  const auto& xs = w.x[state.range(0)];
  const auto& ys = w.y[state.range(0)];
  char name[128];
  size_t i = 0, inside = 0;
  for (auto _ : state) {
    const size_t k = i++ & (kPoints - 1);
    const int32_t r = pipObjectFindFirstContaining(w.file, xs[k], ys[k], 0, name, sizeof name);
    inside += r == 1;
    benchmark::DoNotOptimize(name);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["inside"] = double(inside) / double(state.iterations());
}

// The peer: the same polygons (rings as the engine holds them, millionths of
// a degree) in GEOS's STR tree, each prepared for contains.
struct Peer {
  testsupport::GeosRegionIndex index;
  std::vector<std::string> names;
};

Peer* MakePeer() {
  auto* peer = new Peer;
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  const std::string base = std::string(GSB_SHARED_DATA_DIR) + "/" + kCounties;
  if (!testsupport::ReadShpRings(base + ".shp", &shapes, &error)) return peer;
  for (const auto& s : shapes) {
    std::vector<std::vector<testsupport::ShpPoint>> rings;
    for (const auto& r : s.rings) rings.push_back(testsupport::WithoutClosingPoint(r));
    if (peer->index.Add(rings)) peer->names.push_back("county " + std::to_string(peer->names.size()));
  }
  peer->index.Build();
  return peer;
}

void BM_Contains_GeosStrTree(benchmark::State& state) {
  Workload& w = Shared();
  static std::unique_ptr<Peer> peer(MakePeer());
  if (!w.ok || peer->index.size() == 0) {
    state.SkipWithError("the peer could not be built");
    return;
  }
  GEOSContextHandle_t context = peer->index.geos().context();
  const auto& xs = w.x[state.range(0)];
  const auto& ys = w.y[state.range(0)];
  char name[128];
  size_t i = 0, inside = 0;
  for (auto _ : state) {
    const size_t k = i++ & (kPoints - 1);
    GEOSGeometry* point = GEOSGeom_createPointFromXY_r(context, xs[k], ys[k]);
    const int64_t found = peer->index.Containing(context, point);
    if (found >= 0) {
      const std::string& n = peer->names[size_t(found)];
      std::memcpy(name, n.c_str(), std::min(n.size() + 1, sizeof name));
      ++inside;
    }
    GEOSGeom_destroy_r(context, point);
    benchmark::DoNotOptimize(name);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["inside"] = double(inside) / double(state.iterations());
}

// Opening the file (header, indexes, a pool of 100 MiB worth of objects)
// and closing it.
void BM_Open_Zonelib(benchmark::State& state) {
  Workload& w = Shared();
  if (!w.ok) {
    state.SkipWithError("the boundary file could not be built");
    return;
  }
  const uint32_t mode = uint32_t(state.range(0));
  for (auto _ : state) {
    uint32_t file = 0;
    if (pipObjectFileOpen(w.context, w.path.c_str(), mode, &file) != 1) {
      state.SkipWithError("open failed");
      break;
    }
    pipObjectFileClose(file);
  }
}

BENCHMARK(BM_Contains_Zonelib)->Arg(0)->Arg(1);
BENCHMARK(BM_Contains_GeosStrTree)->Arg(0)->Arg(1);
BENCHMARK(BM_Open_Zonelib)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
