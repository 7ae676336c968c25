// The radius search's load of a file's point set, beside SQLite's R*Tree
// filled with the same points, in the same run:
//   - the files: 10 thousand, 100 thousand and a million random points of
//     the United States box (argument 0: 0 1 2), written as a shapefile
//     and built by the gsbbuild program with their attribute files, kept in
//     the build folder (bench-cache/points_<n>, as the lookup benchmarks
//     keep theirs, and shared with them);
//   - ours: a radius search made, the file's point objects loaded
//     (pipRadLoadPoints, the file kept open between runs as gsbtool holds
//     it) and the tree built by the first query, then ended: what gsbtool
//     radius and knearest do before their first answer;
//   - the peer: the same points with their names (read back from the file
//     once) put into an integer R*Tree with the name as an auxiliary column
//     (rtree_i32, millionths as stored) of a database in memory, in one
//     transaction through one prepared statement.
// Counters: points per second (items), and "MB", the growth of the
// process's resident memory from before the load to its end (the file's
// pages that the load touches included), the median of the runs.
// One thread: neither side builds with more.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/boundary/tiling_set.h"
#include "tests/support/command.h"
#include "zonelib.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSizes[] = {10000, 100000, 1000000};

// Resident memory of the process, in bytes.
double ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * 4096.0;
}

struct PointFile {
  std::string path;
  std::string error;
  uint32_t context = 0;
  uint32_t file = 0;
  struct Point {
    int32_t x, y;
    std::string name;
  };
  std::vector<Point> points;  // as the file holds them, for the peer
  ~PointFile() {
    if (file) pipObjectFileClose(file);
    if (context) pipTerm(context);
  }
};

// The cached file points_<n>.gsb (with its .gsa), built when missing.
const PointFile& Points(int index) {
  static std::mutex mutex;
  static std::unique_ptr<PointFile> sets[3];
  std::lock_guard<std::mutex> hold(mutex);
  if (sets[index]) return *sets[index];
  sets[index] = std::make_unique<PointFile>();
  PointFile& p = *sets[index];
  const uint32_t n = kSizes[index];
  const std::string name = "points_" + std::to_string(n);
  const fs::path folder = fs::path(GSB_BENCH_CACHE_DIR) / name;
  p.path = (folder / (name + ".gsb")).string();
  if (!fs::exists(p.path) || !fs::exists(folder / (name + ".gsa"))) {
    fs::create_directories(folder);
    const std::string base = (folder / (name + "_input")).string();
    std::string ignored;
    // gsbbuild exits with 1 on success.
    if (!tiling::WritePoints(base, n) ||
        !testsupport::RunCommand(std::string(GSB_GSBBUILD_PATH) + " '" + base + ".shp' '" +
                                     p.path + "' NAME >/dev/null 2>&1; test $? -eq 1",
                                 &ignored)) {
      p.error = "could not build " + p.path;
      return p;
    }
    std::error_code ec;
    for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(base + ext, ec);
  }
  p.context = uint32_t(pipInit(0, nullptr));
  if (!p.context || pipObjectFileOpen(p.context, p.path.c_str(), 2, &p.file) != 1) {
    p.file = 0;
    p.error = "could not open " + p.path;
    return p;
  }
  // The points back from the file, through a search of every one.
  uint32_t search = 0;
  if (pipRadInit(p.context, 1, &search) == 1 && pipRadLoadPoints(search, p.file) == 1) {
    int32_t x, y;
    char text[128];
    for (int32_t r = pipRadFindFirstInRect(search, -180000000, -90000000, 180000000, 90000000, &x,
                                           &y, text, sizeof text);
         r > 0; r = pipRadFindNext(search, &x, &y, text, sizeof text))
      p.points.push_back({x, y, text});
  }
  if (search) pipRadTerm(search);
  if (p.points.size() != n) p.error = "the points of " + p.path + " did not load";
  return p;
}

void Finish(benchmark::State& state, size_t points, std::vector<double>& growth) {
  state.SetItemsProcessed(int64_t(state.iterations() * points));
  std::sort(growth.begin(), growth.end());
  state.counters["MB"] = growth.empty() ? 0 : growth[growth.size() / 2] / 1e6;
}

void BM_RadialLoad_Zonelib(benchmark::State& state) {
  const PointFile& p = Points(int(state.range(0)));
  if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
  std::vector<double> growth;
  for (auto _ : state) {
    const double before = ResidentBytes();
    uint32_t search = 0;
    if (pipRadInit(p.context, 1, &search) != 1 || pipRadLoadPoints(search, p.file) != 1)
      return state.SkipWithError("the load failed");
    int32_t x, y;
    char name[128];
    // The first query puts the points into the tree.
    benchmark::DoNotOptimize(
        pipRadFindFirstNearest(search, -100000000, 37000000, 1, &x, &y, name, sizeof name));
    growth.push_back(ResidentBytes() - before);
    pipRadTerm(search);
  }
  Finish(state, p.points.size(), growth);
}

void BM_RadialLoad_SqliteRtree(benchmark::State& state) {
  const PointFile& p = Points(int(state.range(0)));
  if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
  std::vector<double> growth;
  for (auto _ : state) {
    const double before = ResidentBytes();
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    bool ok = sqlite3_open(":memory:", &db) == SQLITE_OK &&
              sqlite3_exec(db,
                           "CREATE VIRTUAL TABLE pts USING rtree_i32(id, minx, maxx, miny, maxy, "
                           "+name); BEGIN;",
                           nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO pts VALUES(?,?,?,?,?,?)", -1, &insert,
                                 nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < p.points.size(); ++i) {
      const PointFile::Point& q = p.points[i];
      sqlite3_bind_int64(insert, 1, int64_t(i) + 1);
      sqlite3_bind_int(insert, 2, q.x);
      sqlite3_bind_int(insert, 3, q.x);
      sqlite3_bind_int(insert, 4, q.y);
      sqlite3_bind_int(insert, 5, q.y);
      sqlite3_bind_text(insert, 6, q.name.c_str(), int(q.name.size()), SQLITE_STATIC);
      ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    growth.push_back(ResidentBytes() - before);
    sqlite3_close(db);
    if (!ok) return state.SkipWithError("SQLite failed");
  }
  Finish(state, p.points.size(), growth);
}

BENCHMARK(BM_RadialLoad_Zonelib)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RadialLoad_SqliteRtree)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
