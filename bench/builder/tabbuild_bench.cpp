// The gsbbuild program on a map table beside the same data as a shapefile:
//   - tilings of 10 thousand, 100 thousand and a million regions over the
//     United States box (bench/boundary/tiling_set.h), written as a
//     shapefile set and loaded into a map table by `lio load` (argument 0:
//     0 1 2);
//   - each side (argument 1: 1 the map table, 0 the shapefile) built by the
//     gsbbuild program in its own process, its boundary and attribute files
//     left as the program leaves them;
//   - the time is the child's time on the wall; counters give its peak
//     resident memory (peak_MB), its processor time (cpu_s) and the size of
//     the files it made.
// The inputs are kept in the build folder (bench-cache/tabbuild) and reused.
// Run the sides interleaved: --benchmark_enable_random_interleaving=true
// with repetitions, under taskset for one core.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/boundary/tiling_set.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSizes[] = {10000, 100000, 1000000};
constexpr int kGsbBuildSuccess = 1;

struct Child {
  bool ok = false;
  double seconds = 0;     // on the wall
  double cpuSeconds = 0;  // user and system
  double peakMegabytes = 0;
};

// Runs program with args, its output thrown away; ok when it exits with
// success.
Child Run(const std::vector<std::string>& args, int success) {
  Child child;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return child;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return child;
  child.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  child.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  child.peakMegabytes = double(usage.ru_maxrss) / 1024.0;  // kilobytes
  child.ok = WIFEXITED(status) && WEXITSTATUS(status) == success;
  return child;
}

struct Inputs {
  std::string shp, tab, out;
  std::string error;
};

// The tiling of kSizes[index] regions as a shapefile set and a map table.
const Inputs& InputsOf(int index) {
  static std::mutex mutex;
  static Inputs sets[3];
  static bool made[3] = {};
  std::lock_guard<std::mutex> hold(mutex);
  Inputs& in = sets[index];
  if (made[index]) return in;
  made[index] = true;
  const uint32_t n = kSizes[index];
  const fs::path folder = fs::path(GSB_BENCH_CACHE_DIR) / "tabbuild";
  fs::create_directories(folder / "out");
  const std::string base = (folder / ("tiling_" + std::to_string(n))).string();
  in.shp = base + ".shp";
  in.tab = base + ".TAB";
  in.out = (folder / "out").string();
  if (!fs::exists(in.shp) || !fs::exists(base + ".dbf")) {
    if (!tiling::WriteTiling(base, n)) {
      in.error = "could not write " + in.shp;
      return in;
    }
    fs::remove(in.tab);
  }
  if (!fs::exists(in.tab) && !Run({GSB_LIO_PATH, "load", in.shp, in.tab}, 0).ok)
    in.error = "lio load failed on " + in.shp;
  return in;
}

void BM_GsbBuild(benchmark::State& state) {
  const Inputs& in = InputsOf(int(state.range(0)));
  if (!in.error.empty()) {
    state.SkipWithError(in.error.c_str());
    return;
  }
  const bool table = state.range(1) != 0;
  const std::string input = table ? in.tab : in.shp;
  const std::string output = (fs::path(in.out) / ((table ? "tab_" : "shp_") +
                                                  std::to_string(kSizes[state.range(0)]) + ".gsb"))
                                 .string();
  double peak = 0, cpu = 0;
  for (auto _ : state) {
    const Child child = Run({GSB_GSBBUILD_PATH, input, output, "NAME"}, kGsbBuildSuccess);
    if (!child.ok) {
      state.SkipWithError(("gsbbuild failed on " + input).c_str());
      return;
    }
    state.SetIterationTime(child.seconds);
    peak = std::max(peak, child.peakMegabytes);
    cpu += child.cpuSeconds;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSizes[state.range(0)]);
  state.counters["peak_MB"] = peak;
  state.counters["cpu_s"] = cpu / double(state.iterations());
  std::error_code ec;
  state.counters["gsb_MB"] = double(fs::file_size(output, ec)) / 1e6;
  state.counters["gsa_MB"] =
      double(fs::file_size(fs::path(output).replace_extension(".gsa"), ec)) / 1e6;
}

// Size (0..2); the map table (1) or the shapefile (0).
void BuildArgs(benchmark::internal::Benchmark* b) {
  for (int size = 0; size < 3; ++size)
    for (int table : {1, 0}) b->Args({size, table});
  b->ArgNames({"size", "tab"})->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_GsbBuild)->Apply(BuildArgs);

}  // namespace
