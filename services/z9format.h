// The ZIP+4 centroid file (Z9): one centroid and a few codes for every ZIP+4
// code, and an index of ZIP Code areas by rectangle. Z9 files are only read
// here (services/z9search.h reads the centroids, services/zip4file.h the
// area index); they are made elsewhere.
//
// All numbers little-endian; the file is a sequence of 2048-byte pages, page
// n at byte n x 2048.
//
// Header page (page 0):
//   0    256  header text (not interpreted)
//   256  u32  signature 0x77335598
//   260  u32  area-index locator: top bit set when the file has an area
//             index, which starts at byte (value x 2048) mod 2^32
//   264  u32  largest number of records in one data page
//   268  4    not read
//   272  u32  byte offset of the 7-character key index page
//   276  u32  byte offset of the 9-character key index page
//   280  u16  entry count of the 5-character key index (at most 438)
//   282  1    not read
//   283  u8   file form; 3 and above: data pages carry an eighth column
//   284  12   not read
//   296       u32 keys of the 5-character key index
//
// Keys: the 5-digit ZIP Code shifted left 15, OR the rest (9 characters: the
// 4-digit add-on; 7 characters: its first two digits x 100; 5: nothing).
//
// Key index page Q (for 9-character keys at the header's offset): u16 entry
// count at 0 (at most 511), u32 keys at 4 + 4i; entry e leads to the
// block-index page Q + 1 + e x 512. Block-index page P: the same layout, the
// first key of each data page; entry e leads to the data page P + 1 + e.
//
// Data page: eight u16 byte lengths L0..L7 at 0, u16 record count at 16,
// 2 bytes not read, then the eight packed integer streams (base/packedint.h)
// one after another, L0 bytes, L1 bytes, ... Stream i holds one value per
// record: 0 ZIP Code, 1 add-on, 2 a 5-digit code, 3 a 7-digit code, 4 the
// centroid's longitude west in 1/10,000 degree, 5 its latitude in 1/10,000
// degree, 6 the record type letter, 7 a further code (file form 3 and up;
// otherwise empty). Records ascend by key within and across pages.
//
// Area index: a 12-byte header {u32 signature 0xAA55CDBB, u32 not read, u32
// entry count}, then 12-byte entries {u32 ZIP Code, u16 a, b, c, d}: the
// rectangle from x = (-30000 - c) x 2000 to (-30000 - a) x 2000 and from
// y = b x 2000 to d x 2000, in millionths of a degree.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kZ9PageSize = 2048;
inline constexpr uint32_t kZ9Signature = 0x77335598u;
inline constexpr size_t kZ9SignatureOffset = 256;
inline constexpr size_t kZ9AreaLocatorOffset = 260;
inline constexpr uint32_t kZ9AreaPresentBit = 0x80000000u;
inline constexpr size_t kZ9LargestRecordsOffset = 264;
inline constexpr size_t kZ9Key7IndexOffset = 272;
inline constexpr size_t kZ9Key9IndexOffset = 276;
inline constexpr size_t kZ9Key5CountOffset = 280;
inline constexpr size_t kZ9FormOffset = 283;
inline constexpr size_t kZ9Key5KeysOffset = 296;
inline constexpr uint32_t kZ9Key5CountMax = 438;

inline constexpr size_t kZ9IndexKeysOffset = 4;
inline constexpr uint32_t kZ9IndexCountMax = 511;
inline constexpr uint32_t kZ9BlockStride = 512;

inline constexpr size_t kZ9Columns = 8;
inline constexpr size_t kZ9CountOffset = 16;
inline constexpr size_t kZ9StreamsOffset = 20;
inline constexpr uint32_t kZ9EighthColumnForm = 3;

inline constexpr uint32_t kZ9AreaSignature = 0xAA55CDBBu;
inline constexpr size_t kZ9AreaHeaderSize = 12;
inline constexpr size_t kZ9AreaEntrySize = 12;

inline constexpr int kZ9KeyShift = 15;
inline constexpr uint32_t kZ9ZipMax = 99999;
inline constexpr uint32_t kZ9AddOnMax = 9999;

// The key of a ZIP Code and add-on.
inline constexpr uint32_t Z9Key(uint32_t zip, uint32_t addOn) { return zip << kZ9KeyShift | addOn; }

// Byte offset of a page.
inline constexpr uint64_t Z9PageOffset(uint64_t page) { return page * kZ9PageSize; }

// The area index's byte offset from its locator (the top bit falls away).
inline constexpr uint32_t Z9AreaOffset(uint32_t locator) {
  return static_cast<uint32_t>(uint64_t{locator} * kZ9PageSize);
}
