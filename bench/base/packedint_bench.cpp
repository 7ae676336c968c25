// Decoding speed of the packed integer stream, beside a plain copy of the
// same values as the ceiling.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "base/packedint.h"

namespace {

struct Stream {
  std::vector<int32_t> values;
  std::vector<uint8_t> bytes;
};

// Fills one stream to the containers' limit, or to maxValues. Coordinates: a walk whose steps
// spread over three orders of magnitude, so that codes 5 to 10 all occur.
// Small: steps of -2 to 2 with runs, the cheapest codes.
Stream MakeStream(bool coordinates, size_t maxValues) {
  std::mt19937 random(42);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  PackedIntWriter writer(65535);
  Stream s;
  uint32_t value = 0x12345678;
  while (s.values.size() < maxValues) {
    int32_t step;
    if (coordinates) {
      step = static_cast<int32_t>(std::exp(unit(random) * std::log(20000.0)));
      if (random() & 1) step = -step;
    } else {
      step = random() % 8 < 3 ? 1 : static_cast<int32_t>(random() % 5) - 2;
    }
    value += static_cast<uint32_t>(step);
    writer.Mark();
    writer.Put(static_cast<int32_t>(value));
    if (writer.TotalBytes() > kPackedStreamMaxBytes || writer.CheckpointPartTooLong()) {
      writer.ReturnToMark();
      break;
    }
    s.values.push_back(static_cast<int32_t>(value));
  }
  s.bytes.resize(writer.TotalBytes());
  writer.Join(s.bytes.data(), s.bytes.size());
  return s;
}

// Argument 0: 1 coordinates, 0 small steps; argument 1: 0 a full stream,
// else at most that many values (an attribute page holds about a thousand).
const Stream& Pick(const benchmark::State& state) {
  static const Stream coordinates = MakeStream(true, SIZE_MAX);
  static const Stream small = MakeStream(false, SIZE_MAX);
  static const Stream page = MakeStream(true, 1000);
  if (state.range(1)) return page;
  return state.range(0) ? coordinates : small;
}

void BM_MemcpyValues(benchmark::State& state) {
  const Stream& s = Pick(state);
  std::vector<int32_t> out(s.values.size());
  for (auto _ : state) {
    std::memcpy(out.data(), s.values.data(), s.values.size() * sizeof(int32_t));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.values.size()));
}

void BM_SequentialDecode(benchmark::State& state) {
  const Stream& s = Pick(state);
  const int32_t count = static_cast<int32_t>(s.values.size());
  PackedIntReader reader;
  for (auto _ : state) {
    reader.Attach(s.bytes.data(), s.bytes.size());
    uint32_t sum = 0;
    for (int32_t i = 0; i < count; ++i) sum += static_cast<uint32_t>(reader.Get(i));
    benchmark::DoNotOptimize(sum);
  }
  if (reader.Failed() || reader.Get(count - 1) != s.values.back())
    state.SkipWithError("bad decode");
  state.SetItemsProcessed(int64_t(state.iterations()) * count);
  state.counters["values"] = count;
  state.counters["bytes"] = double(s.bytes.size());
}

void BM_RandomDecode(benchmark::State& state) {
  const Stream& s = Pick(state);
  std::mt19937 random(7);
  std::vector<int32_t> indexes(4096);
  for (int32_t& i : indexes) i = static_cast<int32_t>(random() % s.values.size());
  PackedIntReader reader;
  reader.Attach(s.bytes.data(), s.bytes.size());
  for (auto _ : state) {
    uint32_t sum = 0;
    for (int32_t i : indexes) sum += static_cast<uint32_t>(reader.Get(i));
    benchmark::DoNotOptimize(sum);
  }
  if (reader.Failed()) state.SkipWithError("bad decode");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(indexes.size()));
}

BENCHMARK(BM_MemcpyValues)->Args({1, 0})->Args({0, 0});
BENCHMARK(BM_SequentialDecode)->Args({1, 0})->Args({0, 0})->Args({1, 1000});
BENCHMARK(BM_RandomDecode)->Args({1, 0})->Args({0, 0})->Args({1, 1000});

}  // namespace
