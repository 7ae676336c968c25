// Attribute files of many rows: writing them, and reading every field of
// random records back through the Dl interface (records per second).
//
// The rows are made on the fly: a street name with runs of shared prefixes,
// a short code, a population, a rate with two decimals, a date, a flag and
// the record number.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "builder/gsabuild.h"
#include "platform/env.h"
#include "zonelib.h"

namespace {

class GeneratedRows : public GsaRowSource {
 public:
  explicit GeneratedRows(int count) : count_(count) {}
  bool Rewind() override {
    row_ = 0;
    return true;
  }
  bool Next() override {
    if (row_ >= count_) return false;
    ++row_;
    const uint32_t h = uint32_t(row_) * 2654435761u;
    char text[64];
    std::snprintf(text, sizeof text, "%s Street %d", kNames[h % 8], row_ / 5);
    values_[0] = text;
    values_[1] = kCodes[(h >> 8) % 4];
    values_[2] = std::to_string(h % 5000000);
    std::snprintf(text, sizeof text, "%d.%02d", int(h % 1000), int((h >> 10) % 100));
    values_[3] = text;
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1990 + int(h % 30), 1 + int(h % 12),
                  1 + int(h % 28));
    values_[4] = text;
    values_[5] = h & 1 ? "T" : "F";
    std::snprintf(text, sizeof text, "%12d", row_);
    values_[6] = text;
    return true;
  }
  std::string_view Value(size_t field) const override { return values_[field]; }

  static std::vector<GsaFieldDef> Fields() {
    return {{"NAME", 'C', 40, 0}, {"CODE", 'C', 4, 0}, {"POP", 'N', 9, 0},    {"RATE", 'N', 8, 2},
            {"DAY", 'D', 8, 0},   {"OK", 'L', 1, 0},   {"QRECID", 'N', 12, 0}};
  }

 private:
  static constexpr const char* kNames[8] = {"Oak",   "Maple",  "Main", "Church",
                                            "North", "Market", "Mill", "Station"};
  static constexpr const char* kCodes[4] = {"RES", "COM", "IND", "AGR"};
  int count_;
  int row_ = 0;
  std::string values_[7];
};

std::string BenchFile(int rows) {
  platform::Env& env = platform::Env::Current();
  const std::string folder = platform::JoinPath(env.TempDirectory(), "gsb_gsa_bench");
  env.MakeDirectory(folder);
  return platform::JoinPath(folder, "rows" + std::to_string(rows) + ".gsa");
}

bool WriteFile(const std::string& path, int rows) {
  GeneratedRows source(rows);
  QError error;
  return GsaWriteAttributeFile(path.c_str(), GeneratedRows::Fields(), source, GsaWriteOptions(),
                               error);
}

void BM_WriteRows(benchmark::State& state) {
  const int rows = int(state.range(0));
  const std::string path = BenchFile(rows);
  for (auto _ : state) {
    if (!WriteFile(path, rows)) state.SkipWithError("the attribute file was not written");
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["bytes/row"] = double(FileSize64(path.c_str())) / rows;
  platform::Env::Current().Remove(path);
}
BENCHMARK(BM_WriteRows)->Arg(100000)->Unit(benchmark::kMillisecond);

// Every field of 100,000 random records of a file of a million rows.
void BM_ReadRandomRecords(benchmark::State& state) {
  const int rows = 1000000;
  const int reads = 100000;
  const std::string path = BenchFile(rows);
  if (!WriteFile(path, rows)) {
    state.SkipWithError("the attribute file was not written");
    return;
  }
  DlContext* context = DlInit("bench");
  DlFile* file = DlFileOpen(context, path.c_str());
  if (!file) {
    state.SkipWithError("the attribute file does not open");
    DlTerm(context);
    return;
  }
  std::vector<DlField*> fields;
  std::vector<bool> text;
  for (int32_t i = 0; i < DlFileNumFields(file); ++i) {
    fields.push_back(DlFieldGetN(file, i));
    text.push_back(DlFieldGetAttribute(fields.back(), 10, nullptr, 0) == 'C');
  }
  std::mt19937 random(42);
  std::vector<int32_t> records(reads);
  for (int32_t& r : records) r = 1 + int32_t(random() % rows);
  char buffer[256];
  int64_t checksum = 0;
  for (auto _ : state) {
    for (int32_t r : records) {
      if (DlFileSearchInt(file, r) != 1) {
        state.SkipWithError("a record was not found");
        break;
      }
      for (size_t f = 0; f < fields.size(); ++f) {
        if (text[f])
          checksum += DlFieldGetString(fields[f], nullptr, buffer, 255) + buffer[0];
        else
          checksum += DlFieldGetNum(fields[f]);
      }
    }
  }
  benchmark::DoNotOptimize(checksum);
  state.SetItemsProcessed(state.iterations() * reads);
  DlTerm(context);
  platform::Env::Current().Remove(path);
}
BENCHMARK(BM_ReadRandomRecords)->Unit(benchmark::kMillisecond);

}  // namespace
