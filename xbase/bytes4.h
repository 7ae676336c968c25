// Fixed-width numbers in the engine's files: data file headers and records
// are little-endian, memo file headers and entry headers big-endian.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t x4loadU16(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t x4loadU32(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void x4storeU16(void* at, uint32_t v) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void x4storeU32(void* at, uint32_t v) {
  auto* p = static_cast<unsigned char*>(at);
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void x4storeDouble(void* at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  x4storeU32(at, uint32_t(bits));
  x4storeU32(static_cast<unsigned char*>(at) + 4, uint32_t(bits >> 32));
}

inline uint32_t x4loadU32BE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t x4loadU16BE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint16_t((p[0] << 8) | p[1]);
}
inline void x4storeU32BE(void* at, uint32_t v) {
  auto* p = static_cast<unsigned char*>(at);
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
inline void x4storeU16BE(void* at, uint32_t v) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
