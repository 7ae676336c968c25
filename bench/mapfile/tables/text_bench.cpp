// Reading every row of a 1,000,000-row CSV through the delimited-text data
// source (attach, which counts the lines, then open and DataSourceReadRow
// over all rows into typed columns), beside OGR's CSV driver reading the same
// file in the same run.
//
// libgdal's headers are not installed here, so OGR runs as gdal-bin's
// ogrinfo in a process of its own: every feature is read and an attribute
// filter that no row meets keeps it from printing them. Two peers: every
// column as text (AUTODETECT_TYPE=NO, OGR's plain reading) and typed
// columns from a .csvt file beside a copy of the CSV (the numbers parsed, as
// ours are). Their times include starting the process; the time of
// `ogrinfo --version` is printed beside them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/state.h"
#include "mapfile/tables/table.h"

namespace {

using namespace layerio;

constexpr uint32_t kRows = 1000000;

struct ColumnSpec {
  const char* name;
  uint8_t type, width, decimals;
};
constexpr ColumnSpec kSpec[] = {{"Id", kFieldInteger, 0, 0},
                                {"Name", kFieldChar, 20, 0},
                                {"Value", kFieldFloat, 0, 0},
                                {"Count", kFieldSmallint, 0, 0},
                                {"Code", kFieldChar, 6, 0}};
constexpr int kColumns = 5;

struct Bench {
  std::filesystem::path dir;
  std::string csv;    // the file both read
  std::string typed;  // a copy with a .csvt beside it
  std::map<std::string, double> best;
  double checksum = 0;

  Bench() {
    ErrorStackCreate();
    FileCacheInit();
    char pattern[] = "/tmp/text_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    csv = (dir / "rows.csv").string();
    std::FILE* f = std::fopen(csv.c_str(), "w");
    if (!f) std::abort();
    std::fprintf(f, "id,name,value,count,code\n");
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1000, 1000);
    std::uniform_int_distribution<int> count(-30000, 30000);
    for (uint32_t i = 1; i <= kRows; ++i) {
      std::fprintf(f, "%u,\"Place %u\",%.4f,%d,\"C%05u\"\n", i, i, value(random), count(random),
                   i % 100000);
    }
    std::fclose(f);
    typed = (dir / "typed.csv").string();
    std::filesystem::copy_file(csv, typed);
    std::ofstream((dir / "typed.csvt").string()) << "Integer,String,Real,Integer,String\n";
  }
  ~Bench() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Bench& B() {
  static Bench bench;
  return bench;
}

template <typename Body>
void Timed(benchmark::State& state, const char* name, Body body) {
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!body()) {
      state.SkipWithError(name);
      return;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    double& best = B().best[name];
    if (best == 0 || seconds < best) best = seconds;
  }
  state.counters["rows"] = kRows;
}

bool ReadAllRows() {
  FieldDef fields[kColumns];
  for (int i = 0; i < kColumns; ++i) {
    std::memset(&fields[i], 0, sizeof fields[i]);
    std::strcpy(fields[i].name, kSpec[i].name);
    fields[i].width = kSpec[i].width;
    fields[i].decimals = kSpec[i].decimals;
    fields[i].value.kind = kSpec[i].type;
  }
  DataSource s;
  std::memset(&s, 0, sizeof s);
  DataSourceDefaults(kDataText, s.params.words);
  s.params.SetByte(8, ',');
  s.params.SetByte(9, 1);
  int32_t count = kColumns;
  if (!DataSourceAttach(B().csv.c_str(), 0, &s, kDataText, &count, fields)) return false;
  bool ok = s.rowCount == kRows && DataSourceOpen(&s, kFileModeRead);
  double sum = 0;
  for (uint32_t row = 1; ok && row <= s.rowCount; ++row) {
    ok = DataSourceReadRow(&s, fields, row) != 0;
    sum += fields[0].value.u.i + fields[2].value.u.d + fields[3].value.u.s;
  }
  B().checksum = sum;
  if (ok) ok = DataSourceRelease(&s) != 0;
  DataSourceClose(&s, fields);
  return ok;
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

void BM_SourceReadRows(benchmark::State& state) { Timed(state, "source", ReadAllRows); }

void BM_OgrReadText(benchmark::State& state) {
  Timed(state, "ogr text", [] {
    return Run("ogrinfo -ro -q -al -oo AUTODETECT_TYPE=NO -where \"id = 'none'\" '" + B().csv +
               "'") == 0;
  });
}

void BM_OgrReadTyped(benchmark::State& state) {
  Timed(state, "ogr typed",
        [] { return Run("ogrinfo -ro -q -al -where \"id = -1\" '" + B().typed + "'") == 0; });
}

void BM_OgrStart(benchmark::State& state) {
  Timed(state, "ogr start", [] { return Run("ogrinfo --version") == 0; });
}

BENCHMARK(BM_SourceReadRows)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrReadText)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrReadTyped)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrStart)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::system("command -v ogrinfo >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "ogrinfo is not installed: only the source is timed\n");
  }
  B();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& best = B().best;
  auto has = [&](const char* name) { return best.count(name) && best[name] > 0; };
  std::printf("\nbest of 3, %u rows (checksum %.4f):\n", kRows, B().checksum);
  for (const auto& [name, seconds] : best) std::printf("  %-10s %8.3f s\n", name.c_str(), seconds);
  if (has("source") && has("ogr text"))
    std::printf("  OGR text / source:  %.2f\n", best["ogr text"] / best["source"]);
  if (has("source") && has("ogr typed"))
    std::printf("  OGR typed / source: %.2f\n", best["ogr typed"] / best["source"]);
  return 0;
}
