// Reading every row of a BIFF8 workbook sheet of 50,000 x 10 cells through
// the Excel data source (attach, open, DataSourceReadRow into typed
// columns), in row order and in a random row order, beside python3-xlrd
// (run as a process: open the workbook and read every row in the same two
// orders) on the same file in the same run. The source is also timed on
// sheets of 12,500 and 25,000 rows, to show that a row costs the same
// whatever the sheet's length and order.
//
// The workbook is written here: a compound document with one `Workbook`
// stream; the first column is a shared string, the second an RK integer, the
// third a date, the rest doubles.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/state.h"
#include "mapfile/tables/table.h"

namespace {

using namespace layerio;

constexpr int kColumns = 10;
constexpr uint32_t kSizes[] = {12500, 25000, 50000};

std::string U16(unsigned v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string F64(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof d);
  return U32(uint32_t(bits)) + U32(uint32_t(bits >> 32));
}
void Rec(std::string& out, unsigned type, const std::string& data) {
  out += U16(type) + U16(unsigned(data.size())) + data;
}

// The BIFF8 workbook stream of one sheet of `rows` rows.
std::string WorkbookStream(uint32_t rows) {
  std::string g;
  Rec(g, 0x809, U16(0x600) + U16(5) + std::string(12, '\0'));
  Rec(g, 0x42, U16(1200));
  for (int i = 0; i < 16; ++i) Rec(g, 0xE0, U16(0) + U16(0) + std::string(16, '\0'));
  Rec(g, 0xE0, U16(0) + U16(14) + std::string(16, '\0'));  // cell format 16: a date
  // Shared strings, a new continuation record wherever the next string
  // would not fit.
  std::vector<std::string> pieces{U32(rows) + U32(rows)};
  for (uint32_t i = 0; i < rows; ++i) {
    std::string text = "Place " + std::to_string(i + 1);
    std::string entry = U16(unsigned(text.size())) + char(0) + text;
    if (pieces.back().size() + entry.size() > 8224) pieces.emplace_back();
    pieces.back() += entry;
  }
  Rec(g, 0xFC, pieces[0]);
  for (size_t i = 1; i < pieces.size(); ++i) Rec(g, 0x3C, pieces[i]);
  const size_t bound = g.size();
  Rec(g, 0x85, U32(0) + char(0) + char(0) + char(4) + char(0) + "Data");
  Rec(g, 0x0A, "");
  g.replace(bound + 4, 4, U32(uint32_t(g.size())));

  std::string s;
  Rec(s, 0x809, U16(0x600) + U16(16) + std::string(12, '\0'));
  Rec(s, 0x200, U32(0) + U32(rows) + U16(0) + U16(kColumns) + U16(0));
  std::mt19937 random(11);
  std::uniform_real_distribution<double> value(-1e6, 1e6);
  for (uint32_t r = 0; r < rows; ++r) {
    const std::string row = U16(r);
    Rec(s, 0xFD, row + U16(0) + U16(15) + U32(r));
    Rec(s, 0x27E, row + U16(1) + U16(15) + U32((uint32_t(r) << 2) | 2));
    Rec(s, 0x203, row + U16(2) + U16(16) + F64(36526 + r % 3650));
    for (int c = 3; c < kColumns; ++c)
      Rec(s, 0x203, row + U16(unsigned(c)) + U16(15) + F64(value(random)));
  }
  Rec(s, 0x0A, "");
  return g + s;
}

// A version-3 compound document holding `stream` as "Workbook".
std::string Compound(const std::string& stream) {
  const uint32_t n = uint32_t((stream.size() + 511) / 512);
  uint32_t fat = 1, difat = 0;
  for (;;) {
    const uint32_t total = n + fat + difat + 1;
    const uint32_t needFat = (total + 127) / 128;
    const uint32_t needDifat = needFat > 109 ? (needFat - 109 + 126) / 127 : 0;
    if (needFat == fat && needDifat == difat) break;
    fat = needFat;
    difat = needDifat;
  }
  const uint32_t fatStart = n, difatStart = n + fat, dirSector = n + fat + difat;
  std::vector<uint32_t> table(size_t(fat) * 128, 0xFFFFFFFF);
  for (uint32_t i = 0; i < n; ++i) table[i] = i + 1 < n ? i + 1 : 0xFFFFFFFE;
  for (uint32_t i = 0; i < fat; ++i) table[fatStart + i] = 0xFFFFFFFD;
  for (uint32_t i = 0; i < difat; ++i) table[difatStart + i] = 0xFFFFFFFC;
  table[dirSector] = 0xFFFFFFFE;

  std::string h = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(16, '\0') + U16(0x3E) + U16(3) +
                  U16(0xFFFE) + U16(9) + U16(6) + std::string(6, '\0') + U32(0) + U32(fat) +
                  U32(dirSector) + U32(0) + U32(4096) + U32(0xFFFFFFFE) + U32(0) +
                  U32(difat ? difatStart : 0xFFFFFFFE) + U32(difat);
  for (uint32_t i = 0; i < 109; ++i) h += U32(i < fat ? fatStart + i : 0xFFFFFFFF);
  std::string out = h + stream + std::string(size_t(n) * 512 - stream.size(), '\0');
  for (uint32_t v : table) out += U32(v);
  for (uint32_t d = 0; d < difat; ++d) {
    for (uint32_t i = 0; i < 127; ++i) {
      const uint32_t k = 109 + d * 127 + i;
      out += U32(k < fat ? fatStart + k : 0xFFFFFFFF);
    }
    out += U32(d + 1 < difat ? difatStart + d + 1 : 0xFFFFFFFE);
  }
  auto entry = [](const char* name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
    std::string e;
    for (const char* p = name; *p; ++p) e += U16(uint8_t(*p));
    e += U16(0);
    e.resize(64, '\0');
    e += U16(unsigned(2 * (std::strlen(name) + 1))) + char(type) + char(1) + U32(0xFFFFFFFF) +
         U32(0xFFFFFFFF) + U32(child) + std::string(16 + 4 + 16, '\0') + U32(start) + U32(size) +
         U32(0);
    return e;
  };
  out += entry("Root Entry", 5, 1, 0xFFFFFFFE, 0);
  out += entry("Workbook", 2, 0xFFFFFFFF, 0, uint32_t(stream.size()));
  out += std::string(256, '\0');
  return out;
}

struct Bench {
  std::filesystem::path dir;
  std::map<uint32_t, std::string> files;
  std::map<std::string, double> best;
  double checksum = 0;

  Bench() {
    ErrorStackCreate();
    FileCacheInit();
    char pattern[] = "/tmp/xls_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    for (uint32_t rows : kSizes) {
      const std::string path = (dir / ("rows" + std::to_string(rows) + ".xls")).string();
      std::ofstream(path, std::ios::binary) << Compound(WorkbookStream(rows));
      files[rows] = path;
    }
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
void Timed(benchmark::State& state, const std::string& name, Body body) {
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!body()) {
      state.SkipWithError(name.c_str());
      return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    double& best = B().best[name];
    if (best == 0 || seconds < best) best = seconds;
  }
}

std::vector<uint32_t> Order(uint32_t rows, bool random) {
  std::vector<uint32_t> order(rows);
  std::iota(order.begin(), order.end(), 1u);
  if (random) std::shuffle(order.begin(), order.end(), std::mt19937(5));
  return order;
}

bool ReadRows(uint32_t rows, bool random) {
  FieldDef fields[kColumns];
  std::memset(fields, 0, sizeof fields);
  for (int i = 0; i < kColumns; ++i) {
    std::snprintf(fields[i].name, sizeof fields[i].name, "C%d", i);
    fields[i].value.kind = i == 0   ? kFieldChar
                           : i == 1 ? kFieldInteger
                           : i == 2 ? kFieldDate
                                    : kFieldFloat;
    fields[i].width = i == 0 ? 20 : 10;
  }
  DataSource s;
  std::memset(&s, 0, sizeof s);
  DataSourceDefaults(kDataExcel, s.params.words);
  int32_t count = kColumns;
  if (!DataSourceAttach(B().files[rows].c_str(), 0, &s, kDataExcel, &count, fields)) return false;
  bool ok = s.rowCount == rows && DataSourceOpen(&s, kFileModeRead);
  double sum = 0;
  for (uint32_t row : Order(rows, random)) {
    if (!ok) break;
    ok = DataSourceReadRow(&s, fields, row) != 0;
    sum += fields[1].value.u.i + fields[2].value.u.date.day + fields[9].value.u.d;
  }
  B().checksum = sum;
  if (ok) ok = DataSourceRelease(&s) != 0;
  DataSourceClose(&s, fields);
  return ok;
}

constexpr const char* kXlrdScript = R"(
import random, sys, xlrd
book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
order = list(range(sheet.nrows))
if sys.argv[2] == 'random':
    random.Random(5).shuffle(order)
total = 0.0
for r in order:
    row = sheet.row_values(r)
    total += row[1] + row[9]
)";

int Xlrd(const std::string& path, const char* order) {
  const std::string script = (B().dir / "read.py").string();
  if (!std::filesystem::exists(script)) std::ofstream(script) << kXlrdScript;
  return std::system(
      ("/usr/bin/python3 '" + script + "' '" + path + "' " + order + " >/dev/null 2>&1").c_str());
}

void BM_Source(benchmark::State& state) {
  const uint32_t rows = uint32_t(state.range(0));
  const bool random = state.range(1) != 0;
  Timed(state, std::string("source ") + (random ? "random " : "order  ") + std::to_string(rows),
        [&] { return ReadRows(rows, random); });
  state.counters["rows"] = rows;
}

void BM_Xlrd(benchmark::State& state) {
  const bool random = state.range(0) != 0;
  Timed(state, std::string("xlrd   ") + (random ? "random " : "order  ") + "50000",
        [&] { return Xlrd(B().files[50000], random ? "random" : "order") == 0; });
}

void BM_PythonStart(benchmark::State& state) {
  Timed(state, "python start",
        [] { return std::system("/usr/bin/python3 -c 'import xlrd'") == 0; });
}

BENCHMARK(BM_Source)
    ->ArgsProduct({{12500, 25000, 50000}, {0, 1}})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xlrd)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonStart)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const bool xlrd = std::system("/usr/bin/python3 -c 'import xlrd' >/dev/null 2>&1") == 0;
  if (!xlrd) std::fprintf(stderr, "python3-xlrd is not installed: only the source is timed\n");
  B();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nbest of 3 (checksum %.4f):\n", B().checksum);
  for (const auto& [name, seconds] : B().best) {
    std::printf("  %-22s %9.3f ms", name.c_str(), seconds * 1e3);
    if (name.rfind("source", 0) == 0) {
      const uint32_t rows = uint32_t(std::stoul(name.substr(name.rfind(' ') + 1)));
      std::printf("  %7.1f ns/row", seconds * 1e9 / rows);
    }
    std::printf("\n");
  }
  auto& b = B().best;
  for (const char* order : {"order  ", "random "}) {
    const std::string ours = std::string("source ") + order + "50000";
    const std::string theirs = std::string("xlrd   ") + order + "50000";
    if (b.count(ours) && b.count(theirs) && b[ours] > 0)
      std::printf("  xlrd / source (%s): %.1f\n", order, b[theirs] / b[ours]);
  }
  return 0;
}
