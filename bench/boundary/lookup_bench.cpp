// Point lookups at scale, beside GEOS in the same run, on files built by the
// gsbbuild program with their attribute files, as users have them:
//   - tilings of 10 thousand, 100 thousand and a million regions over the
//     United States box, and the US counties (argument 0: 0 1 2 3; their
//     accented names made plain, as gsbbuild keeps 7-bit text);
//   - each asked for the region containing random points of the box through
//     the C interface (pipObjectFindFirstContaining, which also gives the
//     name), with the attribute file beside (argument 1 = 1) and without it
//     (0, a copy of the boundary file alone in another folder);
//   - on one thread and on eight, each thread with its own library context
//     and its own open file (a file's searches keep their state in the
//     handle, so one handle is not shared by threads), kept open from one
//     run of a benchmark to the next as a server keeps its files, so that
//     the timing finds the caches a long-running caller has, as the peer's
//     is timed with everything built;
//   - the peer: GEOS's STR tree over the same rings (read back from the
//     boundary file) with prepared-geometry contains on the candidates, the
//     tree and the prepared polygons shared by the threads (each with its
//     own GEOS context), their lazy parts made before the timing;
//   - the k nearest point objects (k = 1, 10, 100) among 10 thousand, 100
//     thousand and a million random points, beside GEOS's STR tree over the
//     same points.
// The generated files are kept in the build folder (bench-cache) and reused:
// the million-region tiling takes a while to build. Counters: lookups per
// second (items), the share of points found inside, the file's size, and
// the process's peak and present resident memory (peak_MB, rss_MB, from
// /proc/self/status). The peak is the process's: to have each side's, run
// one benchmark per process (--benchmark_filter naming one of them).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bench/boundary/tiling_set.h"
#include "tests/support/command.h"
#include "tests/support/geos_regions.h"
#include "zonelib.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Geos;

constexpr size_t kPoints = 1 << 20;
constexpr size_t kWarmUp = 1 << 17;
constexpr uint32_t kSizes[] = {10000, 100000, 1000000};
constexpr int kCounties = 3;  // the data set index of the US counties
constexpr uint32_t kOpenMode = 3;

// One thread's context and open file.
struct Open {
  uint32_t context = 0;
  uint32_t file = 0;
  explicit Open(const std::string& path) {
    context = uint32_t(pipInit(0, nullptr));
    if (context && pipObjectFileOpen(context, path.c_str(), kOpenMode, &file) != 1) file = 0;
  }
  ~Open() {
    if (file) pipObjectFileClose(file);
    if (context) pipTerm(context);
  }
};

constexpr int kMaxThreads = 8;

struct Dataset {
  // Both files stay open for the run, as a server keeps its files: the view
  // of each file the process shares is then made once, not at every start.
  std::unique_ptr<Open> keepPath, keepBare;
  // Thread t's open file, with the attribute file beside (1) or not (0),
  // made at its first use; a thread index names one running thread at a
  // time, so each is used by one thread only.
  mutable std::unique_ptr<Open> perThread[2][kMaxThreads];
  std::string path;      // with its attribute file beside
  std::string bare;      // the same boundary file alone
  double megabytes = 0;  // of the boundary file
  double attributeMegabytes = 0;
  std::string error;
};

// gsbbuild exits with 1 on success.
bool RunGsbBuild(const std::string& input, const std::string& output, const char* idField,
                 std::string* error) {
  const std::string command = std::string(GSB_GSBBUILD_PATH) + " '" + input + "' '" + output +
                              "' " + idField + " >/dev/null 2>&1; test $? -eq 1";
  std::string ignored;
  if (testsupport::RunCommand(command, &ignored)) return true;
  *error = "gsbbuild failed on " + input;
  return false;
}

// The cached boundary file name.gsb (built by make(base) from a shapefile
// set written at base, or from source when given) and its bare copy.
template <class Make>
Dataset MakeDataset(const std::string& name, const std::string& source, const char* idField,
                    Make&& make) {
  Dataset d;
  const fs::path folder = fs::path(GSB_BENCH_CACHE_DIR) / name;
  fs::create_directories(folder / "bare");
  d.path = (folder / (name + ".gsb")).string();
  d.bare = (folder / "bare" / (name + ".gsb")).string();
  const std::string attributes = (folder / (name + ".gsa")).string();
  std::error_code ec;
  if (!fs::exists(d.path) || !fs::exists(attributes)) {
    std::string input = source;
    if (input.empty()) {
      const std::string base = (folder / (name + "_input")).string();
      if (!make(base)) {
        d.error = "could not write the input of " + name;
        return d;
      }
      input = base + ".shp";
    }
    const bool built = RunGsbBuild(input, d.path, idField, &d.error);
    if (source.empty())
      for (const char* ext : {".shp", ".shx", ".dbf"})
        fs::remove(folder / (name + "_input" + ext), ec);
    if (!built) return d;
    fs::remove(d.bare, ec);
  }
  if (!fs::exists(d.bare)) fs::copy_file(d.path, d.bare, ec);
  d.keepPath = std::make_unique<Open>(d.path);
  d.keepBare = std::make_unique<Open>(d.bare);
  d.megabytes = double(fs::file_size(d.path, ec)) / 1e6;
  d.attributeMegabytes = double(fs::file_size(attributes, ec)) / 1e6;
  return d;
}

// The US counties with the letters of their table above 127 made '?':
// gsbbuild keeps 7-bit text and refuses the accented names.
bool PlainCounties(const std::string& base) {
  const std::string from = std::string(GSB_SHARED_DATA_DIR) + "/us/us_counties";
  std::error_code ec;
  for (const char* ext : {".shp", ".shx"})
    if (!fs::copy_file(from + ext, base + ext, fs::copy_options::overwrite_existing, ec))
      return false;
  std::ifstream in(from + ".dbf", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 32) return false;
  const size_t header = uint8_t(bytes[8]) | size_t(uint8_t(bytes[9])) << 8;
  for (size_t i = header; i < bytes.size(); ++i)
    if (uint8_t(bytes[i]) >= 128) bytes[i] = '?';
  std::ofstream out(base + ".dbf", std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out);
}

const Dataset& Regions(int index) {
  static std::mutex mutex;
  static std::unique_ptr<Dataset> sets[4];
  std::lock_guard<std::mutex> hold(mutex);
  if (!sets[index]) {
    if (index == kCounties) {
      sets[index] =
          std::make_unique<Dataset>(MakeDataset("us_counties", "", "NAME", PlainCounties));
    } else {
      const uint32_t n = kSizes[index];
      sets[index] = std::make_unique<Dataset>(
          MakeDataset("tiling_" + std::to_string(n), "", "NAME",
                      [n](const std::string& base) { return tiling::WriteTiling(base, n); }));
    }
  }
  return *sets[index];
}

const Dataset& Points(int index) {
  static std::mutex mutex;
  static std::unique_ptr<Dataset> sets[3];
  std::lock_guard<std::mutex> hold(mutex);
  if (!sets[index]) {
    const uint32_t n = kSizes[index];
    sets[index] = std::make_unique<Dataset>(
        MakeDataset("points_" + std::to_string(n), "", "NAME",
                    [n](const std::string& base) { return tiling::WritePoints(base, n); }));
  }
  return *sets[index];
}

// The query points: uniform over the tilings' box, in millionths.
struct Queries {
  std::vector<int32_t> x, y;
  Queries() {
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<int32_t> ux(int32_t(tiling::kWest * 1e6),
                                              int32_t(tiling::kEast * 1e6));
    std::uniform_int_distribution<int32_t> uy(int32_t(tiling::kSouth * 1e6),
                                              int32_t(tiling::kNorth * 1e6));
    for (size_t i = 0; i < kPoints; ++i) {
      x.push_back(ux(rng));
      y.push_back(uy(rng));
    }
  }
};

const Queries& QueryPoints() {
  static Queries q;
  return q;
}

// A counter that each thread sets alike.
benchmark::Counter Average(double value) {
  return benchmark::Counter(value, benchmark::Counter::kAvgThreads);
}

// A line of /proc/self/status ("VmHWM", "VmRSS") in megabytes; 0 when it
// cannot be read.
double StatusMegabytes(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  double kib = 0;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
      kib = std::atof(line + n + 1);
      break;
    }
  std::fclose(f);
  return kib / 1024.0;
}

// The process's memory, set by the first thread only so that the figures
// are not averaged with nothing.
void MemoryCounters(benchmark::State& state) {
  if (state.thread_index() != 0) return;
  state.counters["peak_MB"] = StatusMegabytes("VmHWM");
  state.counters["rss_MB"] = StatusMegabytes("VmRSS");
}

// Where this thread starts in the query points.
size_t Start(const benchmark::State& state) { return size_t(state.thread_index()) * 131071; }

// This thread's open file of d (with its attribute file when attributes);
// *fresh tells whether it was opened now.
const Open& ThreadFile(const Dataset& d, bool attributes, const benchmark::State& state,
                       bool* fresh = nullptr) {
  std::unique_ptr<Open>& open = d.perThread[attributes][state.thread_index() % kMaxThreads];
  if (fresh) *fresh = !open;
  if (!open) open = std::make_unique<Open>(attributes ? d.path : d.bare);
  return *open;
}

void BM_Lookup_Zonelib(benchmark::State& state) {
  const Dataset& d = Regions(int(state.range(0)));
  const Queries& q = QueryPoints();
  if (!d.error.empty()) {
    state.SkipWithError(d.error.c_str());
    return;
  }
  bool fresh = false;
  const Open& open = ThreadFile(d, state.range(1) != 0, state, &fresh);
  if (!open.file) {
    state.SkipWithError("the boundary file did not open");
    return;
  }
  char name[128];
  size_t i = Start(state), inside = 0;
  // Untimed: the first lookups fill the file's caches and map the pages of
  // its records (the peer is timed with everything built too); a file just
  // opened gets a lookup for each query point first.
  const size_t warmUp = fresh ? kPoints : kWarmUp;
  for (size_t w = 0; w < warmUp; ++w) {
    const size_t k = (i + kPoints / 2 + w) & (kPoints - 1);
    pipObjectFindFirstContaining(open.file, q.x[k], q.y[k], 0, name, sizeof name);
  }
  for (auto _ : state) {
    const size_t k = i++ & (kPoints - 1);
    inside += pipObjectFindFirstContaining(open.file, q.x[k], q.y[k], 0, name, sizeof name) == 1;
    benchmark::DoNotOptimize(name);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["inside"] = Average(double(inside) / double(state.iterations()));
  state.counters["gsb_MB"] = Average(d.megabytes);
  state.counters["gsa_MB"] = Average(d.attributeMegabytes);
  MemoryCounters(state);
}

// The peer: the rings of every region of the boundary file in GEOS's STR
// tree, each prepared for contains.
struct Peer {
  testsupport::GeosRegionIndex index;
  std::vector<std::string> names;
  std::string error;
};

struct XY {
  double x, y;
};

std::unique_ptr<Peer> MakePeer(const std::string& path) {
  auto peer = std::make_unique<Peer>();
  Open open(path);
  pipObjectFileInfoStruct info;
  if (!open.file || pipObjectHandleFileQuery(open.file, &info) != 1) {
    peer->error = "the boundary file did not open";
    return peer;
  }
  std::vector<int32_t> xy(2 * size_t(info.maxPoints));
  std::vector<uint32_t> counts(info.maxParts);
  char name[128];
  for (int32_t r = pipObjectFindFirstRect(open.file, INT32_MIN + 1, INT32_MIN + 1, INT32_MAX - 1,
                                          INT32_MAX - 1, name, sizeof name);
       r > 0; r = pipObjectFindNext(open.file, name, sizeof name)) {
    uint32_t parts = 0;
    if (pipObjectGetCoords(open.file, xy.data(), info.maxPoints, counts.data(),
                           int32_t(info.maxParts), &parts) != 1)
      continue;
    std::vector<std::vector<XY>> rings(parts);
    size_t at = 0;
    for (uint32_t p = 0; p < parts; ++p)
      for (uint32_t k = 0; k < counts[p]; ++k, ++at)
        rings[p].push_back({double(xy[2 * at]), double(xy[2 * at + 1])});
    if (peer->index.Add(rings)) peer->names.push_back(name);
  }
  peer->index.Build();
  return peer;
}

Peer& PeerOf(int index) {
  static std::mutex mutex;
  static std::unique_ptr<Peer> peers[4];
  std::lock_guard<std::mutex> hold(mutex);
  if (!peers[index]) {
    const Dataset& d = Regions(index);
    if (!d.error.empty()) {
      peers[index] = std::make_unique<Peer>();
      peers[index]->error = d.error;
    } else {
      peers[index] = MakePeer(d.path);
    }
  }
  return *peers[index];
}

void BM_Lookup_GeosStrTree(benchmark::State& state) {
  Peer& peer = PeerOf(int(state.range(0)));
  const Queries& q = QueryPoints();
  if (!peer.error.empty()) {
    state.SkipWithError(peer.error.c_str());
    return;
  }
  GEOSContextHandle_t context = GEOS_init_r();
  char name[128];
  size_t i = Start(state), inside = 0;
  for (auto _ : state) {
    const size_t k = i++ & (kPoints - 1);
    GEOSGeometry* point = GEOSGeom_createPointFromXY_r(context, q.x[k], q.y[k]);
    const int64_t found = peer.index.Containing(context, point);
    if (found >= 0) {
      const std::string& n = peer.names[size_t(found)];
      std::memcpy(name, n.c_str(), std::min(n.size() + 1, sizeof name));
      ++inside;
    }
    GEOSGeom_destroy_r(context, point);
    benchmark::DoNotOptimize(name);
  }
  GEOS_finish_r(context);
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["inside"] = Average(double(inside) / double(state.iterations()));
  MemoryCounters(state);
}

// The k nearest point objects through the file's index: the first find and
// the next ones until the search ends, each giving the object's name.
void BM_Nearest_Zonelib(benchmark::State& state) {
  const Dataset& d = Points(int(state.range(0)));
  const uint32_t k = uint32_t(state.range(1));
  const Queries& q = QueryPoints();
  if (!d.error.empty()) {
    state.SkipWithError(d.error.c_str());
    return;
  }
  bool fresh = false;
  const Open& open = ThreadFile(d, true, state, &fresh);
  if (!open.file) {
    state.SkipWithError("the boundary file did not open");
    return;
  }
  char name[128];
  size_t i = Start(state), found = 0;
  // Untimed, as for the lookups: a file just opened decodes its index pages
  // and maps its records first (the peer's tree is built before its timing).
  if (fresh)
    for (size_t w = 0; w < kWarmUp; ++w) {
      const size_t at = (i + kPoints / 2 + w) & (kPoints - 1);
      pipObjectFindFirstNearest(open.file, q.x[at], q.y[at], 1, name, sizeof name);
    }
  for (auto _ : state) {
    const size_t at = i++ & (kPoints - 1);
    for (int32_t r = pipObjectFindFirstNearest(open.file, q.x[at], q.y[at], k, name, sizeof name);
         r == 1; r = pipObjectFindNext(open.file, name, sizeof name))
      ++found;
    benchmark::DoNotOptimize(name);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["found"] = Average(double(found) / double(state.iterations()));
  state.counters["gsb_MB"] = Average(d.megabytes);
}

// The peer of the nearest search: the same points (read back from the
// boundary file) in GEOS's STR tree, shared by the threads. GEOS's C
// interface finds one nearest item; its distance callback makes it find k:
// the callback keeps the k nearest met so far and tells the tree the k-th
// of them as the item's distance (the greatest value while fewer than k are
// known), so that the tree prunes by the k-th distance as a k-nearest walk
// does. Distances are plain ones in the coordinates, as GEOS's boxes are.
struct PointPeer {
  testsupport::Geos geos;
  GEOSSTRtree* tree = nullptr;
  std::vector<testsupport::Geos::Geom> points;
  std::vector<XY> xy;
  std::vector<std::string> names;
  std::string error;
  PointPeer() : tree(GEOSSTRtree_create_r(geos.context(), 10)) {}
  ~PointPeer() { GEOSSTRtree_destroy_r(geos.context(), tree); }
};

// One query of the peer: the point, and the k nearest met so far as a heap
// with the farthest on top.
struct PeerQuery {
  const PointPeer* peer;
  double x, y;
  size_t k;
  std::vector<std::pair<double, size_t>> best;
};

int PeerDistance(const void* a, const void* b, double* distance, void* data) {
  auto* q = static_cast<PeerQuery*>(data);
  const void* item = a == q ? b : a;
  const size_t i = reinterpret_cast<size_t>(item) - 1;
  const XY& p = q->peer->xy[i];
  const double d = std::hypot(p.x - q->x, p.y - q->y);
  if (q->best.size() < q->k) {
    q->best.emplace_back(d, i);
    std::push_heap(q->best.begin(), q->best.end());
  } else if (d < q->best.front().first) {
    std::pop_heap(q->best.begin(), q->best.end());
    q->best.back() = {d, i};
    std::push_heap(q->best.begin(), q->best.end());
  }
  *distance = q->best.size() < q->k ? DBL_MAX : q->best.front().first;
  // GEOS 3.11 takes 1 as success here, whatever its header says.
  return 1;
}

std::unique_ptr<PointPeer> MakePointPeer(const std::string& path) {
  auto peer = std::make_unique<PointPeer>();
  Open open(path);
  if (!open.file) {
    peer->error = "the boundary file did not open";
    return peer;
  }
  char name[128];
  for (int32_t r = pipObjectFindFirstRect(open.file, INT32_MIN + 1, INT32_MIN + 1, INT32_MAX - 1,
                                          INT32_MAX - 1, name, sizeof name);
       r > 0; r = pipObjectFindNext(open.file, name, sizeof name)) {
    pipObjectInfoStruct info;
    if (pipObjectGetInfo(open.file, &info) != 1 || info.kind != 2) continue;
    peer->points.push_back(peer->geos.Point(info.x, info.y));
    peer->xy.push_back({double(info.x), double(info.y)});
    peer->names.push_back(name);
    GEOSSTRtree_insert_r(peer->geos.context(), peer->tree, peer->points.back().get(),
                         reinterpret_cast<void*>(peer->points.size()));
  }
  // GEOS builds the tree at its first query.
  PeerQuery q{peer.get(), 0, 0, 1, {}};
  testsupport::Geos::Geom probe = peer->geos.Point(0, 0);
  GEOSSTRtree_nearest_generic_r(peer->geos.context(), peer->tree, &q, probe.get(), PeerDistance,
                                &q);
  return peer;
}

const PointPeer& PointPeerOf(int index) {
  static std::mutex mutex;
  static std::unique_ptr<PointPeer> peers[3];
  std::lock_guard<std::mutex> hold(mutex);
  if (!peers[index]) {
    const Dataset& d = Points(index);
    if (!d.error.empty()) {
      peers[index] = std::make_unique<PointPeer>();
      peers[index]->error = d.error;
    } else {
      peers[index] = MakePointPeer(d.path);
    }
  }
  return *peers[index];
}

void BM_Nearest_GeosStrTree(benchmark::State& state) {
  const PointPeer& peer = PointPeerOf(int(state.range(0)));
  const Queries& q = QueryPoints();
  if (!peer.error.empty()) {
    state.SkipWithError(peer.error.c_str());
    return;
  }
  GEOSContextHandle_t context = GEOS_init_r();
  PeerQuery query{&peer, 0, 0, size_t(state.range(1)), {}};
  query.best.reserve(query.k);
  char name[128];
  size_t i = Start(state), found = 0;
  for (auto _ : state) {
    const size_t at = i++ & (kPoints - 1);
    query.x = q.x[at];
    query.y = q.y[at];
    query.best.clear();
    GEOSGeometry* point = GEOSGeom_createPointFromXY_r(context, query.x, query.y);
    GEOSSTRtree_nearest_generic_r(context, peer.tree, &query, point, PeerDistance, &query);
    GEOSGeom_destroy_r(context, point);
    // The answers nearest first, each with its name, as the search gives them.
    std::sort_heap(query.best.begin(), query.best.end());
    for (const auto& [distance, item] : query.best) {
      const std::string& n = peer.names[item];
      std::memcpy(name, n.c_str(), std::min(n.size() + 1, sizeof name));
      benchmark::DoNotOptimize(name);
      ++found;
    }
  }
  GEOS_finish_r(context);
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["found"] = Average(double(found) / double(state.iterations()));
}

// Data set (0..3), attribute file beside (1) or not (0); one and eight
// threads, timed by the clock on the wall so that items per second add up
// over the threads.
void RegionArgs(benchmark::internal::Benchmark* b) {
  for (int set = 0; set < 4; ++set)
    for (int attributes : {1, 0}) b->Args({set, attributes});
  b->Threads(1)->Threads(8)->UseRealTime();
}

void PeerArgs(benchmark::internal::Benchmark* b) {
  for (int set = 0; set < 4; ++set) b->Arg(set);
  b->Threads(1)->Threads(8)->UseRealTime();
}

BENCHMARK(BM_Lookup_Zonelib)->Apply(RegionArgs);
BENCHMARK(BM_Lookup_GeosStrTree)->Apply(PeerArgs);
// Point set (0..2: 10 thousand to a million points), k; one and eight threads.
void NearestArgs(benchmark::internal::Benchmark* b) {
  for (int set = 0; set < 3; ++set)
    for (int k : {1, 10, 100}) b->Args({set, k});
  b->Threads(1)->Threads(8)->UseRealTime();
}

BENCHMARK(BM_Nearest_Zonelib)->Apply(NearestArgs);
BENCHMARK(BM_Nearest_GeosStrTree)->Apply(NearestArgs);

}  // namespace
