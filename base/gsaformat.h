// The attribute file beside every boundary file: its layout, shared by the
// writer (gsbbuild, builder/gsabuild.h) and the reader (Zonelib,
// boundary/dllist.h).
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
// Data page: u16 used length at 0 (the writer stores the u32 8190 of a
// keyed page's end word there: the same value), u32 entry count at 4, one
// u32 offset per column at 8 (text columns first, then number columns, each
// in column order); column i's data begins at page offset 8 + offset[i] and
// runs to the next column's start, the last one to the used length. Number
// columns are packed integer streams; text columns are described below.
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

// --- the writer's side ---
// Words the writer puts into the descriptor header.
inline constexpr uint32_t kGsaAttribute0Value = 128;
inline constexpr const char* kGsaKeyFieldName = "QRECID";
// Width of the key field's text: a right-aligned number, so that text order
// is number order.
inline constexpr size_t kGsaKeyWidth = 12;
inline constexpr size_t kGsaStampMaxLength = 34;
// Bytes of a data page before its check value, and the column directory's
// place; a page holds records while
//   (records + 1) + column bytes + 4 x columns + 8 <= kGsaPageUsable.
inline constexpr uint32_t kGsaPageUsable = kGsaBlockSize - 2;

// Sets the prefix code of string j (0-15) in a group header.
inline void GsaSetTextCode(uint8_t* groupHeader, uint32_t j, uint8_t code) {
  uint8_t& byte = groupHeader[2 + j / 2];
  byte = (j % 2 == 0) ? uint8_t((byte & 0x0F) | (code << 4))
                      : uint8_t((byte & 0xF0) | (code & 0x0F));
}

// Text values are stored as bytes below 128, since bit 7 ends a string. A
// byte of 128 or more (accented letters of any code page) and the byte 0x01
// are stored as three bytes: 0x01, then '0' + its high and '0' + its low
// nibble. The escape bytes never include 0, so a stored string never ends in
// a character 0 and the lone end byte 0x80 keeps meaning "nothing more".
inline constexpr uint8_t kGsaTextEscape = 0x01;
// The longest value text the writer stores, and its longest stored form.
inline constexpr size_t kGsaTextMaxLength = 255;
inline constexpr size_t kGsaTextMaxEncoded = 3 * kGsaTextMaxLength;

inline bool GsaTextNeedsEscape(uint8_t byte) { return byte == kGsaTextEscape || byte >= 0x80; }

// Appends the stored form of text[0, length) to out.
inline void GsaTextEncode(const char* text, size_t length, std::string* out) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = uint8_t(text[i]);
    if (GsaTextNeedsEscape(byte)) {
      out->push_back(char(kGsaTextEscape));
      out->push_back(char('0' + (byte >> 4)));
      out->push_back(char('0' + (byte & 0x0F)));
    } else {
      out->push_back(char(byte));
    }
  }
}

// Decodes a stored string of length bytes into out (size bytes, terminated);
// false for a cut-off or malformed escape, a 0 byte or an out too small.
inline bool GsaTextDecode(const char* stored, size_t length, char* out, size_t size,
                          size_t* outLength) {
  if (size == 0) return false;
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = uint8_t(stored[i]);
    if (byte == 0) return false;
    if (byte == kGsaTextEscape) {
      if (i + 2 >= length) return false;
      uint8_t high = uint8_t(stored[i + 1]), low = uint8_t(stored[i + 2]);
      if (high < '0' || high > '0' + 15 || low < '0' || low > '0' + 15) return false;
      byte = uint8_t(((high - '0') << 4) | (low - '0'));
      i += 2;
    }
    if (n + 1 >= size) return false;
    out[n++] = char(byte);
  }
  out[n] = '\0';
  if (outLength) *outLength = n;
  return true;
}

// Writes text into a field of size bytes: at most size - 1 characters, the
// rest zero.
inline void GsaPutText(uint8_t* field, size_t size, const char* text) {
  std::memset(field, 0, size);
  if (text && size > 0) StrCopySized(reinterpret_cast<char*>(field), text, size);
}

// Writes the descriptor into a header page (the 296 bytes at 280).
inline void GsaWriteDescriptor(const GsaDescriptor& d, uint8_t* headerPage) {
  uint8_t* p = headerPage + kGsaDescriptorOffset;
  std::memset(p, 0, kGsaDescriptorSize);
  QStoreU32LE(p + kGsaDescTreePosition, d.treePosition);
  QStoreU32LE(p + kGsaDescFieldOffset, d.fieldOffset);
  QStoreU32LE(p + kGsaDescAttribute0, d.attribute0);
  QStoreU32LE(p + kGsaDescFieldCount, d.fieldCount);
  QStoreU32LE(p + kGsaDescFurtherFieldCount, d.furtherFieldCount);
  QStoreU32LE(p + kGsaDescValueCount, d.valueCount);
  GsaPutText(p + kGsaDescStamp, kGsaStampSize, d.stamp);
  GsaPutText(p + kGsaDescKeyField, kGsaKeyFieldSize, d.keyField);
  QStoreU32LE(p + kGsaDescAlphanumericKeys, d.alphanumericKeys);
}

// A field entry, field by field. Texts are cut at their field size and
// always terminated.
struct GsaFieldEntry {
  char name[kGsaFieldNameSize + 1] = {};
  char longName[kGsaFieldLongNameSize + 1] = {};
  char text44[32 + 1] = {};
  char text76[256 + 1] = {};
  uint32_t decimals = 0;
  uint32_t width = 0;
  uint32_t word340 = 0;
  char text344[32 + 1] = {};
  uint32_t word376 = 0;
  uint32_t valueCount = 0;
  uint32_t type = 0;
  uint32_t notColumn = 0;
  uint32_t column = 0;
};

inline void GsaReadFieldEntry(const uint8_t* p, GsaFieldEntry* e) {
  GsaCopyText(e->name, p + kGsaFieldName, kGsaFieldNameSize);
  GsaCopyText(e->longName, p + kGsaFieldLongName, kGsaFieldLongNameSize);
  GsaCopyText(e->text44, p + kGsaFieldText44, 32);
  GsaCopyText(e->text76, p + kGsaFieldText76, 256);
  e->decimals = QLoadU32LE(p + kGsaFieldDecimals);
  e->width = QLoadU32LE(p + kGsaFieldWidth);
  e->word340 = QLoadU32LE(p + kGsaFieldWord340);
  GsaCopyText(e->text344, p + kGsaFieldText344, 32);
  e->word376 = QLoadU32LE(p + kGsaFieldText344 + 32);
  e->valueCount = QLoadU32LE(p + kGsaFieldValueCount);
  e->type = QLoadU32LE(p + kGsaFieldType);
  e->notColumn = QLoadU32LE(p + kGsaFieldNotColumn);
  e->column = QLoadU32LE(p + kGsaFieldColumn);
}

inline void GsaWriteFieldEntry(const GsaFieldEntry& e, uint8_t* p) {
  std::memset(p, 0, kGsaFieldEntrySize);
  GsaPutText(p + kGsaFieldName, kGsaFieldNameSize, e.name);
  GsaPutText(p + kGsaFieldLongName, kGsaFieldLongNameSize, e.longName);
  GsaPutText(p + kGsaFieldText44, 32, e.text44);
  GsaPutText(p + kGsaFieldText76, 256, e.text76);
  QStoreU32LE(p + kGsaFieldDecimals, e.decimals);
  QStoreU32LE(p + kGsaFieldWidth, e.width);
  QStoreU32LE(p + kGsaFieldWord340, e.word340);
  GsaPutText(p + kGsaFieldText344, 32, e.text344);
  QStoreU32LE(p + kGsaFieldText344 + 32, e.word376);
  QStoreU32LE(p + kGsaFieldValueCount, e.valueCount);
  QStoreU32LE(p + kGsaFieldType, e.type);
  QStoreU32LE(p + kGsaFieldNotColumn, e.notColumn);
  QStoreU32LE(p + kGsaFieldColumn, e.column);
}

// A value-description record, field by field.
struct GsaValueRecord {
  char field[32 + 1] = {};
  char value[32 + 1] = {};
  char shortText[32 + 1] = {};
  char longText[256 + 1] = {};
};

inline void GsaReadValueRecord(const uint8_t* p, GsaValueRecord* r) {
  GsaCopyText(r->field, p + kGsaValueField, 32);
  GsaCopyText(r->value, p + kGsaValueText, 32);
  GsaCopyText(r->shortText, p + kGsaValueShort, 32);
  GsaCopyText(r->longText, p + kGsaValueLong, 256);
}

inline void GsaWriteValueRecord(const GsaValueRecord& r, uint8_t* p) {
  std::memset(p, 0, kGsaValueRecordSize);
  GsaPutText(p + kGsaValueField, 32, r.field);
  GsaPutText(p + kGsaValueText, 32, r.value);
  GsaPutText(p + kGsaValueShort, 32, r.shortText);
  GsaPutText(p + kGsaValueLong, 256, r.longText);
}

// The companion-name rule, the one rule by which gsbbuild names the
// attribute file it writes and Zonelib finds it beside a boundary file: the
// path with its last character replaced by 'a' ('A' when that character is
// an upper-case letter), X.GSB giving X.GSA and nc.out nc.oua. Opening
// ignores letter case when the exact name does not exist.
inline std::string GsaAttributeFileName(std::string path) {
  if (!path.empty()) path.back() = (path.back() >= 'A' && path.back() <= 'Z') ? 'A' : 'a';
  return path;
}

// The name an attribute file is opened by: ".dld" appended to a name without
// an extension, any other name unchanged.
inline std::string GsaOpenName(const std::string& name) {
  return FileExtension(name.c_str()) ? name : name + ".dld";
}

// The attribute file beside the boundary file at path, as it is written and
// opened: both rules above (a boundary file "zone" has "zona.dld").
inline std::string GsaAttributePath(const std::string& path) {
  return GsaOpenName(GsaAttributeFileName(path));
}
