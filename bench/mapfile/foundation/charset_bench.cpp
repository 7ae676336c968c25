// CharsetConvert from WindowsLatin1 to CodePage437 over 100 MB, beside
// glibc's iconv(3) doing CP1252 -> CP437 on the same bytes.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstring>
#include <random>
#include <vector>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/state.h"

namespace {

constexpr size_t kSize = 100u << 20;

// Text whose every character CodePage437 has, so that iconv runs through.
const std::vector<char>& Text() {
  static const std::vector<char> text = [] {
    const char extra[] = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xE9\xE8\xE0\xE7\xF1\xA3\xB0";
    std::vector<char> t(kSize + 1);
    std::mt19937 random(7);
    for (size_t i = 0; i < kSize; ++i) {
      unsigned r = random() % 100;
      t[i] = r < 2 ? '\n' : r < 10 ? extra[random() % (sizeof extra - 1)] : char(' ' + r % 90);
    }
    t[kSize] = 0;
    return t;
  }();
  return text;
}

void BM_CharsetConvertLatin1To437(benchmark::State& state) {
  layerio::CharsetInit();
  std::vector<char> buffer = Text();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buffer.data(), Text().data(), buffer.size());
    state.ResumeTiming();
    benchmark::DoNotOptimize(layerio::CharsetConvert(buffer.data(), 10, 34, buffer.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_CharsetConvertLatin1To437)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IconvCp1252ToCp437(benchmark::State& state) {
  iconv_t cd = iconv_open("CP437", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open");
    return;
  }
  std::vector<char> out(kSize + 1);
  for (auto _ : state) {
    char* in = const_cast<char*>(Text().data());
    size_t left = kSize;
    char* to = out.data();
    size_t room = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &left, &to, &room) == size_t(-1) || left) {
      state.SkipWithError("iconv refused the text");
      break;
    }
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
BENCHMARK(BM_IconvCp1252ToCp437)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
