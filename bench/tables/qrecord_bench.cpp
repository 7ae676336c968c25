// The per-row path of a build through the table library: a row's texts set
// into a record by name, then copied through a field map into the prototype
// of the temporary table, each value converted to its declared type.
#include <benchmark/benchmark.h>

#include <string>

#include "tables/qfldmap.h"
#include "tables/qrecord.h"

namespace {

constexpr int kFields = 10;

std::string Name(int i) { return "FIELD" + std::to_string(i); }

void BM_SetFieldsByName(benchmark::State& state) {
  CQmsRecord row;
  for (int i = 0; i < kFields; i++) row.Add(Name(i).c_str(), 20);
  std::string names[kFields];
  for (int i = 0; i < kFields; i++) names[i] = Name(i);
  for (auto _ : state) {
    for (int i = 0; i < kFields; i++) row.SetFieldByName(names[i].c_str(), "12345.25");
  }
  state.SetItemsProcessed(state.iterations() * kFields);
}
BENCHMARK(BM_SetFieldsByName);

void BM_FillMappedFields(benchmark::State& state) {
  CQmsRecord row;
  CQmsRecord prototype;
  for (int i = 0; i < kFields; i++) {
    row.Add(Name(i).c_str(), 20);
    row.SetFieldByHandle(i, "12345.25");
    // Half the prototype's fields are numbers: their values are converted.
    if (i % 2) {
      prototype.Add(Name(i).c_str(), QMS_VARIANT_DOUBLE, 12, 2);
    } else {
      prototype.Add(Name(i).c_str(), 20);
    }
  }
  CQmsFieldMap map;
  map.UseRecords(prototype, row);
  map.MapByNames();
  CQmsRecord target;
  target = prototype;
  for (auto _ : state) map.FillMappedFields(target, row);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FillMappedFields);

}  // namespace

BENCHMARK_MAIN();
