// Charsets and conversions.
//
// A text read from a file in another charset is converted into the system
// charset, and back when written. Single-byte charsets convert through
// 256-byte maps built from per-charset Unicode tables and kept in a cache of
// kCharsetCacheSlots slots; Shift-JIS and packed EUC Japanese convert into
// each other; anything else double-byte becomes the target's replacement
// character ("_"). This platform has no host code pages: the system charset
// stays 10 (WindowsLatin1) and the OEM charset 34 (CodePage437) unless set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/strings.h"

namespace layerio {

// A charset code, 0..56.
using Charset = int;
inline constexpr int kCharsetCount = 57;
inline constexpr int kDefaultSystemCharset = 10;  // WindowsLatin1
inline constexpr int kDefaultOemCharset = 34;     // CodePage437
inline constexpr int kCharsetCacheSlots = 10;

struct CharsetRow {
  const char* name;
  uint32_t flags;  // bit 0 double-byte; bits 16-23 the replacement character
  const char* lineEnd;
};

// One slot of the conversion cache; codes -1 while empty.
struct CharsetConversion {
  int from = -1;
  int to = -1;
  uint8_t map[256] = {};
};

int CharsetSystem();
int CharsetOem();
// The library's default charset: the charset of texts of a map without a
// file of its own, and the target of every text read from a map file.
int DefaultCharset();
void SetDefaultCharset(int charset);
// Sets the system charset (the interface checks that no table is open) and
// installs its case and class tables.
void CharsetSetSystem(int charset);
inline int CharsetIsDoubleByte(int charset) {
  return (charset >= 17 && charset <= 20) || (charset >= 31 && charset <= 33) || charset == 46 ||
         (charset >= 49 && charset <= 53);
}
int CharsetIsLeadByte(const char* position, int charset);

// The charset of a Windows ANSI code page (0 when none) and of an OEM code
// page (34 when none).
int CharsetFromAnsiCodePage(int codePage);
int CharsetFromOemCodePage(int codePage);

// Makes the conversions usable, installs the system charset's case tables and
// builds the normalization tables; 0 (after ErrorFatal with message 973)
// when no normalization table could be built.
int16_t CharsetInit();
// Converts the NUL-terminated text in place; `capacity` is the size of its
// buffer. 1 when converted, 0 when no conversion applies (codes outside
// 1..56 or equal, LMBCS as the source, a pair without tables, no terminator
// within capacity). A text that grows (Shift-JIS to EUC) is cut at the last
// character that fits; nothing is written past capacity.
int16_t CharsetConvert(char* text, int from, int to, size_t capacity);
// The cache slot whose map converts `from` to `to`; -1 before CharsetInit,
// for codes outside 1..56, equal codes or a charset without a Unicode table.
// A map built by this call stores its count of bytes without a target in
// *unconverted (when not null).
int CharsetConvertTable(int from, int to, int* unconverted);
const uint8_t* CharsetConversionMap(int slot);
// Lotus LMBCS text (group 1 or 2) converted in place to the system charset;
// 0 when the group maps cannot be had.
int16_t CharsetFromLmbcs(int group, char* text);
const char* CharsetName(int code);       // "" outside 0..56
const char* CharsetShortName(int code);  // "MAC", "XASCII", "LICS" or "ANSI"
int CharsetFromName(const char* name);   // -1 when unknown
const CharsetRow* CharsetTable();        // kCharsetCount rows
const char* CharsetLineEnd(int code);    // "\r\n" outside 0..56
// The case and class tables of a single-byte system charset; null for the
// others (the string routines then use their defaults).
const CaseTables* CharsetCaseTables(int code);

}  // namespace layerio
