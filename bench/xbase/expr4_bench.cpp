// Evaluating a typical index key expression, UPPER(NAME)+STR(POP,10), over a
// table of one million records: keys per second, with the record reads and
// on one record alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "xbase/d4all.h"

namespace {

constexpr long kRecords = 1000000;
constexpr unsigned kNameWidth = 20, kPopWidth = 10;
constexpr const char* kKey = "UPPER(NAME)+STR(POP,10)";

void PutLE(std::string& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out[at + size_t(i)] = char(value >> (8 * i));
}

// A dBASE table of names and populations, written once per run; its path.
const std::string& Table() {
  static std::string path;
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() / "xbase_key_bench.dbf").string();
  std::atexit([] { std::filesystem::remove(path); });
  const unsigned width = 1 + kNameWidth + kPopWidth, headerLength = 32 + 2 * 32 + 1;
  std::string header(headerLength, '\0');
  header[0] = 0x03;
  PutLE(header, 4, uint32_t(kRecords), 4);
  PutLE(header, 8, headerLength, 2);
  PutLE(header, 10, width, 2);
  std::memcpy(&header[32], "NAME", 4);
  header[32 + 11] = 'C';
  header[32 + 16] = char(kNameWidth);
  std::memcpy(&header[64], "POP", 3);
  header[64 + 11] = 'N';
  header[64 + 16] = char(kPopWidth);
  header[headerLength - 1] = '\x0D';
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), std::streamsize(header.size()));
  uint32_t seed = 2463534242u;
  std::string record(width, ' ');
  for (long n = 0; n < kRecords; n++) {
    std::memset(record.data(), ' ', width);
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    unsigned letters = 3 + seed % (kNameWidth - 3);
    for (unsigned i = 0; i < letters; i++) record[1 + i] = char((i == 0 ? 'A' : 'a') + (seed >> (i % 24)) % 26);
    c4ltoa45(long(seed % 10000000), record.data() + 1 + kNameWidth, int(kPopWidth));
    out.write(record.data(), std::streamsize(width));
  }
  out.put('\x1A');
  return path;
}

struct Open {
  CODE4 c4{};
  DATA4* data = nullptr;
  EXPR4* key = nullptr;
  Open() {
    code4initLow(&c4, 0, k4version, k4structSize, 1);
    data = d4open(&c4, Table().c_str());
    if (data != nullptr) key = expr4parse(data, kKey);
  }
  ~Open() {
    expr4free(key);
    if (data) d4close(data);
    code4initUndo(&c4);
  }
};

void KeysOverTable(benchmark::State& state) {
  Open table;
  if (table.key == nullptr) {
    state.SkipWithError("the table or its key expression did not open");
    return;
  }
  for (auto _ : state) {
    long keys = 0;
    for (int rc = d4top(table.data); rc == 0; rc = d4skip(table.data, 1)) {
      char* key;
      benchmark::DoNotOptimize(expr4key(table.key, &key, nullptr));
      keys++;
    }
    if (keys != kRecords) state.SkipWithError("short scan");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(KeysOverTable)->Unit(benchmark::kMillisecond)->Iterations(3);

void KeysOfOneRecord(benchmark::State& state) {
  Open table;
  if (table.key == nullptr || d4top(table.data) != 0) {
    state.SkipWithError("the table or its key expression did not open");
    return;
  }
  for (auto _ : state) {
    char* key;
    benchmark::DoNotOptimize(expr4key(table.key, &key, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(KeysOfOneRecord);

}  // namespace

BENCHMARK_MAIN();
