// The attribute file beside every boundary file: its layout, shared by the
// writer (gsbbuild) and the reader (Zonelib).
//
// The file is a paged file (base/pagefile.h) of signature 0x1100AAAA, for
// which the length and footer check does not run. Inside its header page:
//   280  descriptor header, 296 bytes (offsets below from its start):
//        +0 u32 position of the key tree; +4 u32 file offset of the field
//        entries; +8 u32 file attribute 0 (also read by the indexed file as
//        its entry key length, file offset 288); +12 and +16 u32 two counts
//        whose sum is the number of field entries (the first, at 292, is read
//        by the indexed file as its entry data length); +20 u32 number of
//        value-description records; +24 the creation-time text of the
//        boundary file (256 bytes; empty: not stamped); +280 the key field's
//        name (12 bytes); +292 u32 flag: text keys keep letters and digits
//        only.
// Field entries (396 bytes each) start at the descriptor's +4 offset; the
// value-description records (352 bytes each) follow them.
// The key tree (base/qtree.h) maps the first key of each page to its page
// number (u32 leaf data).
// A search answers a position word: the page number in the low 18 bits and
// the entry's number within its page, counted from 1, in the bits above.
// (The keyed pages of base/pagefile.h count their entries from 0.)
// Data page: u16 used length at 0, u32 entry count at 4, one u32 offset per
// column at 8 (text columns first, then number columns, each in column
// order); column i's data begins at page offset 8 + offset[i] and runs to the
// next column's start, the last one to the used length. Number columns are
// packed integer streams; text columns are described below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/pagefile.h"
#include "base/qstring.h"

inline constexpr uint32_t kGsaSignature = 0x1100AAAA;
// Header page and page size of the files gsbbuild writes.
inline constexpr uint16_t kGsaBlockSize = 8192;
// Pages the reader keeps in its cache.
inline constexpr uint32_t kGsaCacheCount = 8;

// --- descriptor header ---
inline constexpr size_t kGsaDescriptorOffset = 280;
inline constexpr size_t kGsaDescriptorSize = 296;
inline constexpr size_t kGsaDescTreePosition = 0;
inline constexpr size_t kGsaDescFieldOffset = 4;
inline constexpr size_t kGsaDescAttribute0 = 8;
inline constexpr size_t kGsaDescFieldCount = 12;
inline constexpr size_t kGsaDescFurtherFieldCount = 16;
inline constexpr size_t kGsaDescValueCount = 20;
inline constexpr size_t kGsaDescStamp = 24;
inline constexpr size_t kGsaStampSize = 256;
// The reader compares at most this many characters of the stamp with the
// boundary file's creation-time text.
inline constexpr size_t kGsaStampCompareLength = 35;
inline constexpr size_t kGsaDescKeyField = 280;
inline constexpr size_t kGsaKeyFieldSize = 12;
inline constexpr size_t kGsaDescAlphanumericKeys = 292;

static_assert(kGsaDescriptorOffset + kGsaDescAttribute0 == kQIndexedKeyLengthOffset);
static_assert(kGsaDescriptorOffset + kGsaDescFieldCount == kQIndexedDataLengthOffset);
static_assert(kGsaDescAlphanumericKeys + 4 == kGsaDescriptorSize);
static_assert(kGsaDescStamp + kGsaStampSize == kGsaDescKeyField);

// --- field entry ---
inline constexpr size_t kGsaFieldEntrySize = 396;
inline constexpr size_t kGsaFieldName = 0;  // 12 bytes; "recid"/"qrecid" is the key field
inline constexpr size_t kGsaFieldNameSize = 12;
inline constexpr size_t kGsaFieldLongName = 12;  // 32 bytes, compared with the key field name
inline constexpr size_t kGsaFieldLongNameSize = 32;
inline constexpr size_t kGsaFieldText44 = 44;    // 32 bytes
inline constexpr size_t kGsaFieldText76 = 76;    // 256 bytes
inline constexpr size_t kGsaFieldDecimals = 332;
inline constexpr size_t kGsaFieldWidth = 336;
inline constexpr size_t kGsaFieldWord340 = 340;
inline constexpr size_t kGsaFieldText344 = 344;  // 32 bytes
inline constexpr size_t kGsaFieldValueCount = 380;
inline constexpr size_t kGsaFieldType = 384;     // 'C' or 'N'
inline constexpr size_t kGsaFieldNotColumn = 388;  // 0: stored as a page column
inline constexpr size_t kGsaFieldColumn = 392;   // among the columns of its type
inline constexpr uint32_t kGsaTypeText = 'C';
inline constexpr uint32_t kGsaTypeNumber = 'N';
static_assert(kGsaFieldColumn + 4 == kGsaFieldEntrySize);

// --- value-description record ---
inline constexpr size_t kGsaValueRecordSize = 352;
inline constexpr size_t kGsaValueField = 0;
inline constexpr size_t kGsaValueText = 32;
inline constexpr size_t kGsaValueShort = 64;
inline constexpr size_t kGsaValueLong = 96;
static_assert(kGsaValueLong + 256 == kGsaValueRecordSize);

// --- position words (entries from 1) ---
inline constexpr uint32_t kGsaMaxPages = 262143;
inline constexpr uint32_t kGsaMaxPageEntries = 16383;
inline uint32_t GsaPosition(uint32_t page, uint32_t entryFrom1) {
  return QPositionMake(entryFrom1, page);
}
inline uint32_t GsaPositionPage(uint32_t position) { return QPositionPage(position); }
inline uint32_t GsaPositionEntry(uint32_t position) { return QPositionEntry(position); }

// --- data page ---
inline constexpr size_t kGsaPageUsedLength = 0;  // u16
inline constexpr size_t kGsaPageCount = 4;       // u32
inline constexpr size_t kGsaPageDirectory = 8;   // u32 per column

// --- text column ---
inline constexpr size_t kGsaTextFirstGroup = 2;  // after the u16 string count
inline constexpr size_t kGsaTextGroupHeaderSize = 10;
inline constexpr uint32_t kGsaTextGroupStrings = 16;
inline constexpr uint8_t kGsaTextRepeat = 15;  // the string before, again
inline constexpr uint8_t kGsaTextMaxShared = 14;
inline constexpr uint8_t kGsaTextEndBit = 0x80;
// The prefix code of string j (0-15) of a group, from its header: byte
// 2 + j / 2, high nibble for even j.
inline uint8_t GsaTextCode(const uint8_t* groupHeader, uint32_t j) {
  uint8_t byte = groupHeader[2 + j / 2];
  return (j % 2 == 0) ? uint8_t(byte >> 4) : uint8_t(byte & 0x0F);
}

// The descriptor header as read. Texts are cut at their field size and always
// terminated.
struct GsaDescriptor {
  uint32_t treePosition = 0;
  uint32_t fieldOffset = 0;
  uint32_t attribute0 = 0;
  uint32_t fieldCount = 0;
  uint32_t furtherFieldCount = 0;
  uint32_t valueCount = 0;
  char stamp[kGsaStampSize + 1] = {};
  char keyField[kGsaKeyFieldSize + 1] = {};
  uint32_t alphanumericKeys = 0;

  uint64_t TotalFields() const { return uint64_t(fieldCount) + furtherFieldCount; }
};

// Copies a text field of size bytes (ended by its first zero byte or by the
// field's end) into out, which holds size + 1 bytes.
inline void GsaCopyText(char* out, const uint8_t* field, size_t size) {
  const void* zero = std::memchr(field, 0, size);
  size_t n = zero ? size_t(static_cast<const uint8_t*>(zero) - field) : size;
  std::memcpy(out, field, n);
  out[n] = '\0';
}

// Reads the descriptor from a header page of size bytes; false when the page
// cannot hold it.
inline bool GsaReadDescriptor(const uint8_t* headerPage, size_t size, GsaDescriptor* out) {
  if (!headerPage || size < kGsaDescriptorOffset + kGsaDescriptorSize + 2) return false;
  const uint8_t* d = headerPage + kGsaDescriptorOffset;
  out->treePosition = QLoadU32LE(d + kGsaDescTreePosition);
  out->fieldOffset = QLoadU32LE(d + kGsaDescFieldOffset);
  out->attribute0 = QLoadU32LE(d + kGsaDescAttribute0);
  out->fieldCount = QLoadU32LE(d + kGsaDescFieldCount);
  out->furtherFieldCount = QLoadU32LE(d + kGsaDescFurtherFieldCount);
  out->valueCount = QLoadU32LE(d + kGsaDescValueCount);
  GsaCopyText(out->stamp, d + kGsaDescStamp, kGsaStampSize);
  GsaCopyText(out->keyField, d + kGsaDescKeyField, kGsaKeyFieldSize);
  out->alphanumericKeys = QLoadU32LE(d + kGsaDescAlphanumericKeys);
  return true;
}

// Whether the field entries and value-description records the descriptor
// announces lie whole inside a file of fileSize bytes.
inline bool GsaDescriptorFits(const GsaDescriptor& descriptor, uint64_t fileSize) {
  // Counts are 32-bit, so the products below cannot overflow 64 bits.
  uint64_t end = uint64_t(descriptor.fieldOffset) +
                 descriptor.TotalFields() * kGsaFieldEntrySize +
                 uint64_t(descriptor.valueCount) * kGsaValueRecordSize;
  return end <= fileSize;
}

// One column's bytes within a data page: [start, end) as page offsets.
struct GsaColumnExtent {
  uint32_t start = 0;
  uint32_t end = 0;
};

// Reads the column directory of a data page of pageSize bytes holding
// columns columns into extents (columns entries). False when the page does
// not hold such a directory: a used length past the page's check value, a
// directory past the used length, or column starts that fall outside the
// columns' area or run backwards.
inline bool GsaPageColumns(const uint8_t* page, size_t pageSize, uint32_t columns,
                           GsaColumnExtent* extents) {
  if (!page || pageSize < kGsaPageDirectory + 2) return false;
  uint64_t used = QLoadU16LE(page + kGsaPageUsedLength);
  uint64_t dataStart = kGsaPageDirectory + uint64_t(columns) * 4;
  if (used > pageSize - 2 || dataStart > used) return false;
  for (uint32_t i = 0; i < columns; ++i) {
    uint64_t start = kGsaPageDirectory + uint64_t(QLoadU32LE(page + kGsaPageDirectory + 4 * i));
    if (start < dataStart || start > used) return false;
    if (i > 0 && start < extents[i - 1].start) return false;
    extents[i].start = uint32_t(start);
    if (i > 0) extents[i - 1].end = uint32_t(start);
  }
  if (columns > 0) extents[columns - 1].end = uint32_t(used);
  return true;
}

// The attribute file of a boundary file: the path with its last character
// changed to 'a' when it is 'b' or 'B'.
inline std::string GsaAttributeFileName(std::string path) {
  if (!path.empty() && (path.back() == 'b' || path.back() == 'B')) path.back() = 'a';
  return path;
}

// The name an attribute file is opened by: ".dld" appended to a name without
// an extension, any other name unchanged.
inline std::string GsaOpenName(const std::string& name) {
  return FileExtension(name.c_str()) ? name : name + ".dld";
}
