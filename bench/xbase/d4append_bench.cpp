// Appending one million rows of 20 fields to a new table through the
// engine, and the same rows through shapelib's DBFWrite*Attribute.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/xbase/bench_rows.h"
#include "xbase/d4all.h"

#ifdef GSB_HAVE_SHAPELIB
#include <shapefil.h>
#endif

namespace {

using xbasebench::kFields;
using xbasebench::kRows;

std::string TablePath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

void RemoveTable(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void Rate(benchmark::State& state) {
  state.counters["rows/s"] =
      benchmark::Counter(double(kRows) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void EngineAppend(benchmark::State& state) {
  const auto& pool = xbasebench::Pool();
  const std::string path = TablePath("xbase_append_bench.dbf");
  std::vector<FIELD4INFO> definitions;
  for (const auto& f : kFields) {
    definitions.push_back({const_cast<char*>(f.name), uint16_t(f.type), uint16_t(f.width),
                           uint16_t(f.decimals), 0});
  }
  definitions.push_back(FIELD4INFO{});
  for (auto _ : state) {
    state.PauseTiming();
    RemoveTable(path);
    state.ResumeTiming();
    CODE4 c4{};
    code4initLow(&c4, 0, k4version, k4structSize, state.range(0) ? 0 : 1);
    if (state.range(1)) code4optStart(&c4);
    DATA4* data = d4create(&c4, path.c_str(), definitions.data());
    if (data == nullptr) {
      state.SkipWithError("the engine could not create the table");
      return;
    }
    FIELD4* fields[20];
    for (int j = 0; j < 20; j++) fields[j] = d4fieldJ(data, j + 1);
    for (long row = 0; row < kRows; row++) {
      const auto& values = pool[size_t(row) % pool.size()];
      d4appendStart(data, 0);
      for (int j = 0; j < 20; j++) {
        const xbasebench::Value& v = values[size_t(j)];
        switch (kFields[j].type) {
          case 'C': case 'D': f4assignN(fields[j], v.text.data(), unsigned(v.text.size())); break;
          case 'N': f4assignDouble(fields[j], v.number); break;
          case 'L': f4assignChar(fields[j], v.logical); break;
        }
      }
      if (d4append(data) != 0) {
        state.SkipWithError("append failed");
        break;
      }
    }
    d4close(data);
    code4initUndo(&c4);
  }
  Rate(state);
  RemoveTable(path);
}
// Args: worker threads (0/1), block cache (0/1).
BENCHMARK(EngineAppend)
    ->ArgNames({"threads", "cache"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

#ifdef GSB_HAVE_SHAPELIB
void ShapelibAppend(benchmark::State& state) {
  const auto& pool = xbasebench::Pool();
  const std::string path = TablePath("shapelib_append_bench.dbf");
  for (auto _ : state) {
    state.PauseTiming();
    RemoveTable(path);
    state.ResumeTiming();
    DBFHandle dbf = DBFCreate(path.c_str());
    if (dbf == nullptr) {
      state.SkipWithError("shapelib could not create the table");
      return;
    }
    for (const auto& f : kFields) DBFAddNativeFieldType(dbf, f.name, f.type, f.width, f.decimals);
    for (long row = 0; row < kRows; row++) {
      const auto& values = pool[size_t(row) % pool.size()];
      int record = int(row);
      for (int j = 0; j < 20; j++) {
        const xbasebench::Value& v = values[size_t(j)];
        switch (kFields[j].type) {
          case 'C': case 'D': DBFWriteStringAttribute(dbf, record, j, v.text.c_str()); break;
          case 'N': DBFWriteDoubleAttribute(dbf, record, j, v.number); break;
          case 'L': DBFWriteLogicalAttribute(dbf, record, j, v.logical); break;
        }
      }
    }
    DBFClose(dbf);
  }
  Rate(state);
  RemoveTable(path);
}
BENCHMARK(ShapelibAppend)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace
