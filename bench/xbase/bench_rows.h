// The rows of the engine's benchmarks: 20 fields of the four common dBASE
// types, and a fixed pool of values drawn from a seeded generator so that
// every writer gets the same rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xbase/conv4.h"
#include "xbase/date4.h"

namespace xbasebench {

struct Field {
  const char* name;
  char type;
  int width, decimals;
};

inline const Field kFields[20] = {
    {"NAME", 'C', 20, 0},   {"CITY", 'C', 16, 0},   {"CODE", 'C', 8, 0},    {"STREET", 'C', 30, 0},
    {"STATE", 'C', 2, 0},   {"NOTE", 'C', 12, 0},   {"POP", 'N', 10, 0},    {"AREA", 'N', 12, 3},
    {"LAT", 'N', 11, 6},    {"LON", 'N', 11, 6},    {"INCOME", 'N', 12, 2}, {"COUNT", 'N', 6, 0},
    {"RATE", 'N', 8, 4},    {"SCORE", 'N', 9, 1},   {"BORN", 'D', 8, 0},    {"SEEN", 'D', 8, 0},
    {"DUE", 'D', 8, 0},     {"ACTIVE", 'L', 1, 0},  {"MEMBER", 'L', 1, 0},  {"VALID", 'L', 1, 0},
};
constexpr long kRows = 1000000;

// A linear congruential generator: the same numbers on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : seed_(seed) {}
  uint32_t Next() {
    seed_ = seed_ * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(seed_ >> 33);
  }

 private:
  uint64_t seed_;
};

// One field's value: text for C and D (CCYYMMDD) fields, a number for N, a
// letter for L.
struct Value {
  std::string text;
  double number = 0;
  char logical = 'F';
};

// The value of field f drawn from the generator.
inline Value Draw(const Field& f, Random& random) {
  Value v;
  switch (f.type) {
    case 'C': {
      int n = 1 + int(random.Next() % unsigned(f.width));
      for (int i = 0; i < n; i++) v.text += char('A' + random.Next() % 26);
      break;
    }
    case 'N':
      v.number = double(random.Next() % 100000) / (f.decimals ? 7.0 : 1.0);
      break;
    case 'D': {
      char date[9] = {0};
      date4assign(date, 2415021 + long(random.Next() % 40000));
      v.text = date;
      break;
    }
    case 'L':
      v.logical = (random.Next() & 1) ? 'T' : 'F';
      break;
  }
  return v;
}

// A pool of rows to cycle through.
inline const std::vector<std::vector<Value>>& Pool() {
  static const std::vector<std::vector<Value>> pool = [] {
    std::vector<std::vector<Value>> rows(4096);
    Random random(12345);
    for (auto& row : rows) {
      for (const auto& f : kFields) row.push_back(Draw(f, random));
    }
    return rows;
  }();
  return pool;
}

}  // namespace xbasebench
