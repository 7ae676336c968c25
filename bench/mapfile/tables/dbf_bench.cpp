// Reading every row of a 1,000,000-row dBASE file through the data-source
// dispatcher, beside shapelib's DBFRead*Attribute loop over the same file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/dbf.h"
#include "mapfile/tables/table.h"

#ifdef GSB_HAVE_SHAPELIB
#include <shapefil.h>
#endif

namespace {

using namespace layerio;

constexpr uint32_t kRows = 1000000;

struct ColumnSpec {
  const char* name;
  uint8_t type, width, decimals;
};
constexpr ColumnSpec kSpec[] = {{"Name", kFieldChar, 20, 0},   {"Amount", kFieldDecimal, 12, 2},
                                {"Count", kFieldInteger, 0, 0}, {"Seen", kFieldDate, 0, 0},
                                {"Flag", kFieldLogical, 0, 0},  {"Ratio", kFieldFloat, 0, 0}};
constexpr int kColumns = 6;

void MakeColumns(FieldDef* fields) {
  for (int i = 0; i < kColumns; ++i) {
    std::memset(&fields[i], 0, sizeof fields[i]);
    std::strcpy(fields[i].name, kSpec[i].name);
    fields[i].width = kSpec[i].width;
    fields[i].decimals = kSpec[i].decimals;
    fields[i].value.kind = kSpec[i].type;
  }
}

// The directory and path of the file, written once per run by the engine.
struct Bench {
  std::string dir;
  std::string path;
  Bench() {
    ErrorStackCreate();
    FileCacheInit();
    char pattern[] = "/tmp/maptables_bench.XXXXXX";
    dir = ::mkdtemp(pattern);
    path = dir + "/rows.DBF";
    FieldDef fields[kColumns];
    MakeColumns(fields);
    DataSource s;
    std::memset(&s, 0, sizeof s);
    if (!DataSourceCreate("rows", dir.c_str(), -1, 0, &s, kDataDbase, kColumns, fields, nullptr,
                          0) ||
        !DataSourceOpen(&s, kFileModeWrite)) {
      std::fprintf(stderr, "cannot create %s\n", path.c_str());
      std::abort();
    }
    for (uint32_t i = 1; i <= kRows; ++i) {
      char name[24];
      std::snprintf(name, sizeof name, "row %u", i);
      char* p = nullptr;
      ValueData(&fields[0].value, &p);
      std::strcpy(p, name);
      fields[1].value.u.d = i * 0.25;
      fields[2].value.u.i = int32_t(i);
      fields[3].value.u.date = DateRec{int16_t(1950 + i % 70), uint8_t(1 + i % 12),
                                       uint8_t(1 + i % 28)};
      fields[4].value.u.b = i % 2;
      fields[5].value.u.d = i / 7.0;
      uint32_t row;
      DataSourceInsert(&s, fields, &row);
    }
    DataSourceRelease(&s);
    DataSourceClose(&s, fields);
  }
  ~Bench() {
    FileTableReleaseAll();
    FileLayerShutdown();
    std::filesystem::remove_all(dir);
  }
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void LayerioScan(benchmark::State& state) {
  Bench& b = TheBench();
  for (auto _ : state) {
    FieldDef fields[kColumns];
    MakeColumns(fields);
    DataSource s;
    std::memset(&s, 0, sizeof s);
    int32_t count = kColumns;
    if (!DataSourceAttach(b.path.c_str(), 0, &s, kDataDbase, &count, fields) ||
        !DataSourceOpen(&s, kFileModeRead)) {
      state.SkipWithError("cannot open");
      return;
    }
    double sum = 0;
    size_t chars = 0;
    for (uint32_t r = 1; r <= s.rowCount; ++r) {
      DataSourceRead(&s, fields, r, nullptr);
      char* p = nullptr;
      ValueData(&fields[0].value, &p);
      chars += std::strlen(p);
      sum += fields[1].value.u.d + fields[2].value.u.i + fields[3].value.u.date.day +
             fields[4].value.u.b + fields[5].value.u.d;
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(chars);
    DataSourceRelease(&s);
    DataSourceClose(&s, fields);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}
BENCHMARK(LayerioScan)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef GSB_HAVE_SHAPELIB
void ShapelibScan(benchmark::State& state) {
  Bench& b = TheBench();
  for (auto _ : state) {
    DBFHandle dbf = DBFOpen(b.path.c_str(), "rb");
    if (!dbf) {
      state.SkipWithError("cannot open");
      return;
    }
    int rows = DBFGetRecordCount(dbf);
    double sum = 0;
    size_t chars = 0;
    for (int r = 0; r < rows; ++r) {
      chars += std::strlen(DBFReadStringAttribute(dbf, r, 0));
      sum += DBFReadDoubleAttribute(dbf, r, 1) + DBFReadIntegerAttribute(dbf, r, 2);
      const char* date = DBFReadStringAttribute(dbf, r, 3);
      sum += std::atoi(date + 6);
      const char* flag = DBFReadLogicalAttribute(dbf, r, 4);
      sum += flag && (*flag == 'T' || *flag == 't' || *flag == 'Y' || *flag == 'y');
      sum += DBFReadDoubleAttribute(dbf, r, 5);
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(chars);
    DBFClose(dbf);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}
BENCHMARK(ShapelibScan)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace
