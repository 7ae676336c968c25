// The dBASE table header and its field descriptors, decoded for every reader
// of the tree (the boundary engine's attribute tables, the xBase engine and
// Layerio's table driver). The decoders report what the bytes say; each
// reader keeps its own rules on what it accepts.
//
//   header, 32 bytes:
//     0      version byte
//     1-3    date of the last update: year - 1900, month, day
//     4-7    record count, u32
//     8-9    header length (header, descriptors and end mark), u16
//     10-11  record length (the deletion flag and the fields), u16
//     12-27  writer-specific (an autoincrement mark and value in some)
//     28     table flags
//     29     code page mark
//   descriptors, 32 bytes each, from byte 32 up to the end mark 0x0D:
//     0-10   name, NUL-padded (the 11th byte is a NUL in a sound file)
//     11     type letter
//     12-15  the field's offset in the record, u32 (most writers leave 0)
//     16     width
//     17     decimals (the high byte of the width for wide text fields)
//     18     field flags (null, binary, autoincrement, in one dialect)
//
// Nothing is read outside the bytes given: a decoder refuses a buffer too
// short for what it decodes, and the scan stops where the bytes end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/endian.h"

namespace dbfheader {

inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kDescriptorSize = 32;
inline constexpr uint8_t kEndMark = 0x0D;
// Some writers end the descriptors with a line feed; the xBase engine takes
// it as the end too.
inline constexpr uint8_t kLineFeedEndMark = 0x0A;

struct Header {
  uint8_t version;
  uint8_t updated[3];
  uint32_t recordCount;
  uint16_t headerLength;
  uint16_t recordLength;
  uint8_t tableFlags;
  uint8_t codePage;
};

struct Descriptor {
  char name[11];  // the bytes as stored: not NUL-terminated when all 11 are used
  char type;
  uint32_t offset;
  uint8_t width;
  uint8_t decimals;
  uint8_t flags;
};

// False when fewer than kHeaderSize bytes are given.
inline bool DecodeHeader(const uint8_t* bytes, size_t size, Header* out) {
  if (size < kHeaderSize) return false;
  out->version = bytes[0];
  std::memcpy(out->updated, bytes + 1, 3);
  out->recordCount = QLoadU32LE(bytes + 4);
  out->headerLength = QLoadU16LE(bytes + 8);
  out->recordLength = QLoadU16LE(bytes + 10);
  out->tableFlags = bytes[28];
  out->codePage = bytes[29];
  return true;
}

// False when fewer than kDescriptorSize bytes are given.
inline bool DecodeDescriptor(const uint8_t* bytes, size_t size, Descriptor* out) {
  if (size < kDescriptorSize) return false;
  std::memcpy(out->name, bytes, sizeof out->name);
  out->type = char(bytes[11]);
  out->offset = QLoadU32LE(bytes + 12);
  out->width = bytes[16];
  out->decimals = bytes[17];
  out->flags = bytes[18];
  return true;
}

// How a scan of the descriptor list ended.
enum class ScanEnd {
  kMark,      // the end mark stands at slot `count`
  kNoMark,    // the bytes end at slot `count`, before any mark
  kCutShort,  // slot `count` holds no mark and crosses the end of the bytes
  kTooMany,   // slot `count` (== the most asked for) holds no mark
};

struct Scan {
  ScanEnd end;
  size_t count;  // whole descriptors before the end
};

// Walks the 32-byte slots of `bytes` (which start at the first descriptor)
// up to the end mark, checking each slot against the bytes given.
inline Scan ScanDescriptors(const uint8_t* bytes, size_t size, size_t most, bool lineFeedEnds) {
  for (size_t n = 0;; ++n) {
    const size_t at = n * kDescriptorSize;
    if (at >= size) return {ScanEnd::kNoMark, n};
    if (bytes[at] == kEndMark || (lineFeedEnds && bytes[at] == kLineFeedEndMark))
      return {ScanEnd::kMark, n};
    if (n == most) return {ScanEnd::kTooMany, n};
    if (size - at < kDescriptorSize) return {ScanEnd::kCutShort, n};
  }
}

}  // namespace dbfheader
