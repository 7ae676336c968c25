// Fixed-width numbers as the bytes of hand-made files, and read back from a
// file's bytes. The makers take any value that fits the width's bit pattern
// (negative numbers give their two's complement); the readers check the field
// against the string and throw std::out_of_range past its end.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/endian.h"

namespace testsupport {

// ---- makers ----
inline std::string Le16(int64_t v) {
  std::string s(2, '\0');
  QStoreU16LE(s.data(), uint16_t(v));
  return s;
}
inline std::string Le32(int64_t v) {
  std::string s(4, '\0');
  QStoreU32LE(s.data(), uint32_t(v));
  return s;
}
inline std::string Le64(int64_t v) {
  std::string s(8, '\0');
  QStoreI64LE(s.data(), v);
  return s;
}
inline std::string LeDouble(double v) {
  std::string s(8, '\0');
  QStoreF64LE(s.data(), v);
  return s;
}
inline std::string Be32(int64_t v) {
  std::string s(4, '\0');
  QStoreU32BE(s.data(), uint32_t(v));
  return s;
}

// ---- readers ----
inline const char* FieldAt(const std::string& b, size_t at, size_t size) {
  if (at > b.size() || b.size() - at < size) throw std::out_of_range("field past the end of the bytes");
  return b.data() + at;
}
// unsigned, not uint16_t: compares with unsigned constants without a sign warning.
inline unsigned Le16(const std::string& b, size_t at) { return QLoadU16LE(FieldAt(b, at, 2)); }
inline uint32_t Le32(const std::string& b, size_t at) { return QLoadU32LE(FieldAt(b, at, 4)); }
inline uint64_t Le64(const std::string& b, size_t at) { return QLoadU64LE(FieldAt(b, at, 8)); }
inline double LeDouble(const std::string& b, size_t at) { return QLoadF64LE(FieldAt(b, at, 8)); }
inline uint32_t Be32(const std::string& b, size_t at) { return QLoadU32BE(FieldAt(b, at, 4)); }

}  // namespace testsupport
