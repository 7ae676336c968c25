// Opening and closing a native table of 100 fields whose definition carries
// a 100-entry metadata section, through PXOpenTable and PXCloseTable, 10,000
// times; beside it the same table without metadata and a table of two
// fields, so that the cost of the field lines and of the metadata shows.
//
// The counters give the calls that reach the platform seam per open and
// close (opens, closes, stats, reads, writes): the file layer keeps its
// descriptors, so an open should cost no more than a few of them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/state.h"
#include "mapfile/tables/table.h"
#include "platform/env.h"

namespace {

using namespace layerio;

constexpr int kIterations = 10000;
constexpr int kRows = 100;

// Counts the calls that reach the operating system.
struct CountingEnv : platform::EnvWrapper {
  CountingEnv() : EnvWrapper(platform::Env::Current()) {}
  int Open(std::string_view p, unsigned f, int m) override {
    ++opens;
    return EnvWrapper::Open(p, f, m);
  }
  int Close(int fd) override {
    ++closes;
    return EnvWrapper::Close(fd);
  }
  int RawStat(std::string_view p, platform::FileInfo* i) override {
    ++stats;
    return EnvWrapper::RawStat(p, i);
  }
  int FileStat(int fd, platform::FileInfo* i) override {
    ++stats;
    return EnvWrapper::FileStat(fd, i);
  }
  int64_t Read(int fd, void* b, size_t n) override {
    ++reads;
    return EnvWrapper::Read(fd, b, n);
  }
  int64_t ReadAt(int fd, void* b, size_t n, int64_t o) override {
    ++reads;
    return EnvWrapper::ReadAt(fd, b, n, o);
  }
  int64_t Write(int fd, const void* b, size_t n) override {
    ++writes;
    return EnvWrapper::Write(fd, b, n);
  }
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    ++writes;
    return EnvWrapper::WriteAt(fd, b, n, o);
  }
  bool ListDirectory(std::string_view d, std::vector<std::string>* n) override {
    ++lists;
    return EnvWrapper::ListDirectory(d, n);
  }
  std::FILE* OpenStream(int fd, const char* m) override {
    ++streams;
    return EnvWrapper::OpenStream(fd, m);
  }
  void Reset() { opens = closes = stats = reads = writes = lists = streams = 0; }
  int64_t opens = 0, closes = 0, stats = 0, reads = 0, writes = 0, lists = 0, streams = 0;
};

// A native table in a fresh folder: `fields` columns of four kinds in turn,
// kRows rows, and `keys` metadata keys in groups of ten.
std::string MakeTable(const std::string& dir, const std::string& name, int fields, int keys) {
  std::vector<FieldDef> columns(static_cast<size_t>(fields));
  std::string lines;
  for (int i = 0; i < fields; ++i) {
    FieldDef& f = columns[size_t(i)];
    std::memset(static_cast<void*>(&f), 0, sizeof f);
    std::snprintf(f.name, sizeof f.name, "Field%03d", i);
    static const uint8_t kTypes[] = {kFieldChar, kFieldInteger, kFieldFloat, kFieldDate};
    f.value.kind = kTypes[i % 4];
    f.width = f.value.kind == kFieldChar ? 20 : 0;
    char type[32];
    ColumnTypeText(f.value.kind, f.width, 0, type, sizeof type);
    lines += "    " + std::string(f.name) + " " + type + " ;\n";
  }
  DataSource s;
  std::memset(static_cast<void*>(&s), 0, sizeof s);
  if (!DataSourceCreate(name.c_str(), dir.c_str(), -1, 0, &s, kDataNative, fields, columns.data(),
                        nullptr, 0) ||
      !DataSourceOpen(&s, kFileModeWrite)) {
    return "";
  }
  for (int r = 0; r < kRows; ++r) {
    uint32_t row = 0;
    if (!DataSourceInsert(&s, columns.data(), &row)) return "";
  }
  DataSourceClose(&s, columns.data());

  std::string tab = "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                    "  Type NATIVE Charset \"WindowsLatin1\"\n  Fields " +
                    std::to_string(fields) + "\n" + lines;
  if (keys > 0) {
    tab += "begin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\n";
    for (int k = 1; k < keys; ++k) {
      tab += "\"\\Group" + std::to_string(k / 10) + "\\Key" + std::to_string(k) +
             "\" = \"Value of key " + std::to_string(k) + ", some text to carry\"\n";
    }
    tab += "end_metadata\n";
  }
  const std::string path = dir + "/" + name + ".TAB";
  std::ofstream(path, std::ios::binary) << tab;
  return path;
}

struct Setup {
  std::string dir;
  std::string wide, wideBare, narrow;
  Setup() {
    PXInitialize(PX_INTERFACE_NUMBER);
    char pattern[] = "/tmp/open_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    wide = MakeTable(dir, "wide", 100, 100);
    wideBare = MakeTable(dir, "bare", 100, 0);
    narrow = MakeTable(dir, "narrow", 2, 0);
  }
  ~Setup() {
    PXShutdown();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void OpenClose(benchmark::State& state, const std::string& path) {
  if (path.empty()) {
    state.SkipWithError("the table could not be made");
    return;
  }
  // One open outside the count, so that the layer's descriptors are warm.
  PXTableHandle h = PXOpenTable(path.c_str(), PX_OPEN_READ);
  if (!h || !PXCloseTable(h)) {
    state.SkipWithError(("open failed with " + std::to_string(PXGetLastError())).c_str());
    return;
  }
  CountingEnv counting;
  platform::ScopedEnv scope(counting);
  int64_t n = 0;
  for (auto _ : state) {
    h = PXOpenTable(path.c_str(), PX_OPEN_READ);
    if (!h || !PXCloseTable(h)) {
      state.SkipWithError(("open failed with " + std::to_string(PXGetLastError())).c_str());
      return;
    }
    ++n;
  }
  const double per = n ? 1.0 / double(n) : 0;
  state.counters["opens"] = double(counting.opens) * per;
  state.counters["closes"] = double(counting.closes) * per;
  state.counters["stats"] = double(counting.stats) * per;
  state.counters["reads"] = double(counting.reads) * per;
  state.counters["writes"] = double(counting.writes) * per;
  state.counters["dirlists"] = double(counting.lists) * per;
  state.counters["streams"] = double(counting.streams) * per;
}

void BM_Open100Fields100Keys(benchmark::State& state) { OpenClose(state, TheSetup().wide); }
void BM_Open100FieldsNoMetadata(benchmark::State& state) { OpenClose(state, TheSetup().wideBare); }
void BM_Open2Fields(benchmark::State& state) { OpenClose(state, TheSetup().narrow); }

BENCHMARK(BM_Open100Fields100Keys)->Iterations(kIterations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Open100FieldsNoMetadata)->Iterations(kIterations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Open2Fields)->Iterations(kIterations)->Unit(benchmark::kMicrosecond);

}  // namespace
