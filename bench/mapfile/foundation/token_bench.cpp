// The tokenizer over a 10 MB definition-like text (tokens/s), beside strtod_l
// over the same numbers as the yardstick of its number path; and a compiled
// constant comparand evaluated once, then compared with one million values
// (the statement code evaluates comparisons that way: ExprEvaluate for the
// constant side, ValueCompare per row).
#include <benchmark/benchmark.h>
#include <locale.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"

namespace {

using namespace layerio;

struct Corpus {
  std::string text;
  std::vector<std::string> numbers;
  size_t tokens = 0;
};

const Corpus& DefinitionText() {
  static const Corpus corpus = [] {
    Corpus c;
    uint32_t seed = 28;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    char line[256];
    while (c.text.size() < 10u * 1024 * 1024) {
      double x = double(next() % 2000000) / 1000.0 - 1000.0;
      double y = double(next() % 1800000) / 10000.0 - 90.0;
      int field = int(next() % 500);
      std::snprintf(line, sizeof line,
                    "CoordSys Earth Projection 8, 74, \"m\", %.6f, %.4f Bounds (%.3f, %.3f)\n"
                    "  Field_%d Char(%d) Index %d ' a comment\n",
                    x, y, -x, -y, field, field % 254 + 1, field);
      c.text += line;
      c.tokens += 23;
      for (double v : {x, y, -x, -y}) {
        std::snprintf(line, sizeof line, "%.6f", v);
        c.numbers.emplace_back(line);
      }
    }
    return c;
  }();
  return corpus;
}

void BM_Tokenize10MB(benchmark::State& state) {
  const Corpus& c = DefinitionText();
  ErrorStackCreate();
  size_t tokens = 0;
  for (auto _ : state) {
    TokBeginText(c.text.c_str());
    size_t n = 0;
    while (TokCurrent()) {
      ++n;
      TokNext();
    }
    tokens += n;
    benchmark::DoNotOptimize(n);
  }
  TokEnd();
  ErrorStackDestroy();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.text.size()));
  state.counters["tokens/s"] = benchmark::Counter(double(tokens), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Tokenize10MB)->Unit(benchmark::kMillisecond);

void BM_strtod_l_SameNumbers(benchmark::State& state) {
  const Corpus& c = DefinitionText();
  locale_t cl = newlocale(LC_ALL_MASK, "C", locale_t(0));
  size_t count = 0;
  for (auto _ : state) {
    double sum = 0;
    for (const std::string& t : c.numbers) {
      char* end = nullptr;
      sum += strtod_l(t.c_str(), &end, cl);
    }
    count += c.numbers.size();
    benchmark::DoNotOptimize(sum);
  }
  freelocale(cl);
  state.counters["numbers/s"] = benchmark::Counter(double(count), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_strtod_l_SameNumbers)->Unit(benchmark::kMillisecond);

void BM_CompareMillionValues(benchmark::State& state) {
  ErrorStackCreate();
  std::vector<Value> values(1000000);
  uint32_t seed = 7;
  for (size_t i = 0; i < values.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    if (i % 2) {
      ValueFromDouble(&values[i], kValueInteger, double(seed % 100000) - 50000);
    } else {
      ValueFromDouble(&values[i], kValueFloat, double(seed % 100000) / 3.0 - 16000);
    }
  }
  TokBeginText("-12.5");
  uint8_t* code = nullptr;
  uint8_t level = 0;
  ExprParse(&code, &level);
  size_t evaluations = 0;
  for (auto _ : state) {
    Value constant{};
    ExprEvaluate(code, &constant);
    size_t greater = 0;
    for (const Value& v : values) {
      int out = 0;
      ValueCompare(&v, &constant, &out, 0, 0);
      greater += out > 0;
    }
    evaluations += values.size();
    benchmark::DoNotOptimize(greater);
  }
  MemFreePtr(&code);
  TokEnd();
  ErrorStackDestroy();
  state.counters["evaluations/s"] =
      benchmark::Counter(double(evaluations), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompareMillionValues)->Unit(benchmark::kMillisecond);

}  // namespace
