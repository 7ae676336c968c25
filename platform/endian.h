// Fixed-width numbers in file records, loaded and stored byte by byte so that
// neither the host's byte order nor the field's alignment matters. Most
// formats here are little-endian (LE); the shapefile's header words and the
// memo files' headers are big-endian (BE). Real numbers are IEEE 754 doubles
// in the byte order named.
//
// These do not check bounds: the caller has checked the field against its
// buffer or file. Header-only, so every library may use it without a link
// dependency; the one set of byte helpers of the tree, below every folder
// that reads or writes a file.
#pragma once

#include <cstdint>
#include <cstring>

namespace qbytes {
inline const uint8_t* In(const void* at) { return static_cast<const uint8_t*>(at); }
inline uint8_t* Out(void* at) { return static_cast<uint8_t*>(at); }
}  // namespace qbytes

// --- little-endian ---
inline uint16_t QLoadU16LE(const void* at) {
  const uint8_t* p = qbytes::In(at);
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t QLoadU32LE(const void* at) {
  const uint8_t* p = qbytes::In(at);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t QLoadU64LE(const void* at) {
  return uint64_t(QLoadU32LE(at)) | (uint64_t(QLoadU32LE(qbytes::In(at) + 4)) << 32);
}
inline int16_t QLoadI16LE(const void* at) { return static_cast<int16_t>(QLoadU16LE(at)); }
inline int32_t QLoadI32LE(const void* at) { return static_cast<int32_t>(QLoadU32LE(at)); }
inline int64_t QLoadI64LE(const void* at) { return static_cast<int64_t>(QLoadU64LE(at)); }
inline double QLoadF64LE(const void* at) {
  const uint64_t bits = QLoadU64LE(at);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void QStoreU16LE(void* at, uint16_t v) {
  uint8_t* p = qbytes::Out(at);
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void QStoreU32LE(void* at, uint32_t v) {
  uint8_t* p = qbytes::Out(at);
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void QStoreU64LE(void* at, uint64_t v) {
  uint8_t* p = qbytes::Out(at);
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void QStoreI16LE(void* at, int16_t v) { QStoreU16LE(at, static_cast<uint16_t>(v)); }
inline void QStoreI32LE(void* at, int32_t v) { QStoreU32LE(at, static_cast<uint32_t>(v)); }
inline void QStoreI64LE(void* at, int64_t v) { QStoreU64LE(at, static_cast<uint64_t>(v)); }
inline void QStoreF64LE(void* at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  QStoreU64LE(at, bits);
}

// A whole number of `bytes` bytes (0 to 8), for fields whose width a file
// states.
inline uint64_t QLoadUintLE(const void* at, int bytes) {
  const uint8_t* p = qbytes::In(at);
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline void QStoreUintLE(void* at, uint64_t v, int bytes) {
  uint8_t* p = qbytes::Out(at);
  for (int i = 0; i < bytes; ++i, v >>= 8) p[i] = uint8_t(v);
}

// --- big-endian ---
inline uint16_t QLoadU16BE(const void* at) {
  const uint8_t* p = qbytes::In(at);
  return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t QLoadU32BE(const void* at) {
  const uint8_t* p = qbytes::In(at);
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t QLoadU64BE(const void* at) {
  return (uint64_t(QLoadU32BE(at)) << 32) | uint64_t(QLoadU32BE(qbytes::In(at) + 4));
}
inline void QStoreU16BE(void* at, uint16_t v) {
  uint8_t* p = qbytes::Out(at);
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void QStoreU32BE(void* at, uint32_t v) {
  uint8_t* p = qbytes::Out(at);
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void QStoreU64BE(void* at, uint64_t v) {
  QStoreU32BE(at, uint32_t(v >> 32));
  QStoreU32BE(qbytes::Out(at) + 4, uint32_t(v));
}
