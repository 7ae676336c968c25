// Comparison ignoring case and number parsing of the foundation, each beside
// the C library's routine on the same texts: StrCompareNoCase beside
// strcasecmp, NumParseDouble and NumParseLong beside strtod_l and strtol.
#include <benchmark/benchmark.h>
#include <locale.h>
#include <strings.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"

namespace {

// Pairs such as a table's field and keyword lookups compare: names of a few
// to twenty characters, equal ignoring case, differing late, or early.
std::vector<std::pair<std::string, std::string>> NamePairs() {
  const char* names[] = {"STATE_NAME", "county", "Population_2020", "zip", "AREA_SQ_MI",
                         "median_household_income", "lon", "LATITUDE", "Region", "objectid"};
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const char* n : names) {
    std::string a = n, upper = n, lower = n, late = n;
    for (char& c : upper) c = char(layerio::CharToUpper(c));
    for (char& c : lower) c = char(layerio::CharToLower(c));
    late.back() = late.back() == 'x' ? 'y' : 'x';
    pairs.emplace_back(a, upper);
    pairs.emplace_back(lower, late);
    pairs.emplace_back(a, "zz" + a);
  }
  return pairs;
}

std::vector<std::string> NumberTexts() {
  return {"0",        "12",          "-7.25",      "1234.5678", "3.14159265358979",
          "-0.000125", "6378137.0",  "1e-7",       "42.1",      "-118.243683",
          "34.052235", "987654321",  "0.5",        "100",       "2.5e10"};
}

void BM_StrCompareNoCase(benchmark::State& state) {
  auto pairs = NamePairs();
  for (auto _ : state) {
    int sum = 0;
    for (auto& p : pairs) sum += layerio::StrCompareNoCase(p.first.c_str(), p.second.c_str());
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(pairs.size()));
}
BENCHMARK(BM_StrCompareNoCase);

void BM_strcasecmp(benchmark::State& state) {
  auto pairs = NamePairs();
  for (auto _ : state) {
    int sum = 0;
    for (auto& p : pairs) sum += strcasecmp(p.first.c_str(), p.second.c_str());
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(pairs.size()));
}
BENCHMARK(BM_strcasecmp);

void BM_NumParseDouble(benchmark::State& state) {
  auto texts = NumberTexts();
  for (auto _ : state) {
    double sum = 0;
    for (auto& t : texts) {
      double v;
      benchmark::DoNotOptimize(layerio::NumParseDouble(t.c_str(), &v));
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(texts.size()));
}
BENCHMARK(BM_NumParseDouble);

void BM_strtod_l(benchmark::State& state) {
  auto texts = NumberTexts();
  locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  for (auto _ : state) {
    double sum = 0;
    for (auto& t : texts) {
      char* end;
      sum += strtod_l(t.c_str(), &end, c);
      benchmark::DoNotOptimize(end);
    }
    benchmark::DoNotOptimize(sum);
  }
  freelocale(c);
  state.SetItemsProcessed(state.iterations() * int64_t(texts.size()));
}
BENCHMARK(BM_strtod_l);

void BM_NumParseLong(benchmark::State& state) {
  const std::vector<std::string> texts = {"0", "12", "-7", "1234", "987654321", "-2147483648",
                                          "100", "65535", "42", "7"};
  for (auto _ : state) {
    int64_t sum = 0;
    for (auto& t : texts) {
      int32_t v;
      benchmark::DoNotOptimize(layerio::NumParseLong(t.c_str(), &v));
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(texts.size()));
}
BENCHMARK(BM_NumParseLong);

void BM_strtol(benchmark::State& state) {
  const std::vector<std::string> texts = {"0", "12", "-7", "1234", "987654321", "-2147483648",
                                          "100", "65535", "42", "7"};
  for (auto _ : state) {
    int64_t sum = 0;
    for (auto& t : texts) {
      char* end;
      sum += std::strtol(t.c_str(), &end, 10);
      benchmark::DoNotOptimize(end);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(texts.size()));
}
BENCHMARK(BM_strtol);

}  // namespace
