// A sequential scan over a table of one million rows and 20 fields, reading
// every field, through the engine and through shapelib's dBASE reader.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "bench/xbase/bench_rows.h"
#include "xbase/d4all.h"

#ifdef GSB_HAVE_SHAPELIB
#include <shapefil.h>
#endif

namespace {

using xbasebench::kFields;
using xbasebench::kRows;

// Writes the table once per run; its path.
const std::string& Table() {
  static std::string path;
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() / "xbase_scan_bench.dbf").string();
  std::atexit([] { std::filesystem::remove(path); });
  unsigned width = 1;
  for (const auto& f : kFields) width += unsigned(f.width);
  std::string header(32, '\0');
  header[0] = 0x03;
  header[1] = 126;
  header[2] = 1;
  header[3] = 1;
  QStoreU32LE(&header[4], uint32_t(kRows));
  QStoreU16LE(&header[8], uint16_t(32 + 32 * 20 + 1));
  QStoreU16LE(&header[10], uint16_t(width));
  for (const auto& f : kFields) {
    std::string d(32, '\0');
    std::memcpy(d.data(), f.name, std::strlen(f.name));
    d[11] = f.type;
    d[16] = char(f.width);
    d[17] = char(f.decimals);
    header += d;
  }
  header += '\x0D';
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), std::streamsize(header.size()));
  xbasebench::Random random(12345);
  std::string record(width, ' ');
  for (long row = 0; row < kRows; row++) {
    size_t at = 1;
    for (const auto& f : kFields) {
      char* p = record.data() + at;
      std::memset(p, ' ', size_t(f.width));
      xbasebench::Value v = xbasebench::Draw(f, random);
      switch (f.type) {
        case 'C': case 'D':
          std::memcpy(p, v.text.data(), v.text.size());
          break;
        case 'N':
          c4dtoa45(v.number, p, f.width, f.decimals);
          break;
        case 'L':
          *p = v.logical;
          break;
      }
      at += size_t(f.width);
    }
    out.write(record.data(), std::streamsize(record.size()));
  }
  out.put('\x1A');
  return path;
}

int64_t TableBytes() { return int64_t(std::filesystem::file_size(Table())); }

// Args: worker threads (0/1), block cache (0/1).
void EngineScan(benchmark::State& state) {
  const std::string& path = Table();
  CODE4 c4{};
  code4initLow(&c4, 0, k4version, k4structSize, state.range(0) ? 0 : 1);
  if (state.range(1)) code4optStart(&c4);
  DATA4* data = d4open(&c4, path.c_str());
  if (data == nullptr) {
    state.SkipWithError("the engine could not open the table");
    return;
  }
  FIELD4* fields[20];
  for (int j = 0; j < 20; j++) fields[j] = d4fieldJ(data, j + 1);
  for (auto _ : state) {
    double sum = 0;
    long rows = 0;
    for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
      for (FIELD4* field : fields) {
        switch (field->type) {
          case 'C': sum += double(std::strlen(f4str(field))); break;
          case 'N': sum += f4double(field); break;
          case 'D': sum += double(f4long(field)); break;
          case 'L': sum += f4true(field); break;
        }
      }
      rows++;
    }
    benchmark::DoNotOptimize(sum);
    if (rows != kRows) state.SkipWithError("short scan");
  }
  state.SetBytesProcessed(state.iterations() * TableBytes());
  d4close(data);
  code4initUndo(&c4);
}
BENCHMARK(EngineScan)
    ->ArgNames({"threads", "cache"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

#ifdef GSB_HAVE_SHAPELIB
void ShapelibScan(benchmark::State& state) {
  const std::string& path = Table();
  DBFHandle dbf = DBFOpen(path.c_str(), "rb");
  if (dbf == nullptr) {
    state.SkipWithError("shapelib could not open the table");
    return;
  }
  int nFields = DBFGetFieldCount(dbf);
  std::vector<char> types(static_cast<size_t>(nFields));
  for (int j = 0; j < nFields; j++) {
    char name[12];
    int width, decimals;
    DBFGetFieldInfo(dbf, j, name, &width, &decimals);
    types[size_t(j)] = DBFGetNativeFieldType(dbf, j);
  }
  for (auto _ : state) {
    double sum = 0;
    int rows = DBFGetRecordCount(dbf);
    for (int row = 0; row < rows; row++) {
      if (DBFIsRecordDeleted(dbf, row)) continue;
      for (int j = 0; j < nFields; j++) {
        switch (types[size_t(j)]) {
          case 'C': sum += double(std::strlen(DBFReadStringAttribute(dbf, row, j))); break;
          case 'N': sum += DBFReadDoubleAttribute(dbf, row, j); break;
          case 'D': sum += DBFReadIntegerAttribute(dbf, row, j); break;
          case 'L': sum += DBFReadLogicalAttribute(dbf, row, j)[0] == 'T'; break;
        }
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * TableBytes());
  DBFClose(dbf);
}
BENCHMARK(ShapelibScan)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace

