// Normalization (collation) tables, their CRC-16 stamps and collated
// comparison.
//
// A definition is the concatenated text of a run of message rows:
//   items separated by ";", blanks ignored; an item is "0x" and hex digits
//   (the byte) or one character (its byte); items outside "(" ... ")" take
//   the current value, which then rises by one (to 255 at most); the items
//   of a group share one value, which rises after the group; "@0xNN" sets the
//   current value (at most 0x100) without naming a byte. Only hex digits,
//   "x", "X", "@", "(", ")", ";" and blanks may appear.
// An index records the stamp of the table its keys were built with, so a
// table's bytes, once shipped, never change.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/messages.h"
#include "mapfile/foundation/norm.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"

namespace layerio {
namespace {

constexpr int kTableSize = 256;
constexpr int kMaxValue = 255;
constexpr uint32_t kMaxAtValue = 0x100;
constexpr size_t kTextChunk = 1000;
constexpr size_t kItemMax = 63;
constexpr size_t kCollateStackBytes = 512;
constexpr uint16_t kCrcPolynomial = 0xA001;  // 0x8005 reflected

constexpr const char* kTerminate = "xvt_terminate";
constexpr const char* kNeverSetFormat = "Normalization table error: value for 0x%02x never set.";
constexpr const char* kSetTwiceFormat =
    "Normalization table error: value 0x%02lx set twice - once to 0x%02x, then to 0x%02x.";
constexpr int32_t kMsgBadCharacter = 988;

NormState& Norm() { return State().norm; }

// The heap block of the concatenated text; freed however the build ends
// (a trapped fatal error unwinds through it).
class TextBlock {
 public:
  TextBlock() = default;
  ~TextBlock() { MemFreePtr(&pointer_); }
  TextBlock(const TextBlock&) = delete;
  TextBlock& operator=(const TextBlock&) = delete;

  // Room for `needed` bytes, grown in steps of 1000; 0 when the heap refuses.
  int16_t Reserve(size_t needed) {
    if (pointer_ && needed <= capacity_) return 1;
    size_t capacity = capacity_ ? capacity_ : kTextChunk;
    while (capacity < needed) capacity += kTextChunk;
    int16_t ok = pointer_ ? MemReallocChecked(capacity, &handle_, &pointer_)
                          : MemAllocZero(capacity, &handle_, &pointer_);
    if (ok) capacity_ = capacity;
    return ok;
  }
  char* text() { return static_cast<char*>(pointer_); }

 private:
  MemHandle handle_ = nullptr;
  void* pointer_ = nullptr;
  size_t capacity_ = 0;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x" (any case) and at least one hex digit and nothing else; values past
// 0xFFFF are held at 0x10000, which every caller refuses.
bool ParseHexItem(const char* item, uint32_t* out) {
  if (item[0] != '0' || (item[1] != 'x' && item[1] != 'X') || item[2] == 0) return false;
  uint32_t v = 0;
  for (const char* p = item + 2; *p; ++p) {
    int d = HexDigit(*p);
    if (d < 0) return false;
    v = v * 16 + uint32_t(d);
    if (v > 0xFFFF) v = 0x10000;
  }
  *out = v;
  return true;
}

void BadCharacter(const char* item) {
  ErrorFatal(MsgGetText(kMsgBadCharacter), item);
  ErrorFatal("%s", kTerminate);
}

bool IsItemCharacter(char c) { return HexDigit(c) >= 0 || c == 'x' || c == 'X'; }

// Gathers the definition starting at firstId into block: rows up to the
// first that begins with a blank (or up to the last row of the run).
bool GatherText(int32_t firstId, TextBlock* block) {
  size_t used = 0;
  if (!block->Reserve(kTextChunk)) return false;
  block->text()[0] = 0;
  for (int32_t id = firstId;; ++id) {
    const MsgRow* row = MsgFind(id);
    if (!row || row->text[0] == ' ') break;
    size_t length = std::strlen(row->text);
    if (!block->Reserve(used + length + 1)) return false;
    std::memcpy(block->text() + used, row->text, length + 1);
    used += length;
  }
  return true;
}

// Walks the definition into work (zeros on entry).
void WalkDefinition(const char* text, uint8_t* work) {
  char item[kItemMax + 1];
  size_t n = 0;
  bool at = false, group = false;
  int value = 1;
  bool overlong = false;  // the item ran past the buffer: it names no byte
  auto finish = [&]() {
    item[n] = 0;
    n = 0;
    bool refused = overlong;
    overlong = false;
    if (at) {
      at = false;
      uint32_t v = 0;
      if (refused || !ParseHexItem(item, &v) || v > kMaxAtValue) {
        BadCharacter(item);
      } else {
        value = int(v);
      }
      return;
    }
    if (refused) {
      BadCharacter(item);
    } else {
      NormSetValue(item, work, kTableSize, value);
    }
    if (!group && value < kMaxValue) ++value;
  };
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == '@') {
      at = true;
    } else if (c == '(') {
      group = true;
    } else if (c == ')') {
      group = false;
    } else if (c == ' ') {
      continue;
    } else if (IsItemCharacter(c)) {
      if (n < kItemMax) {
        item[n++] = c;
      } else {
        overlong = true;
      }
    } else if (c == ';') {
      finish();
    } else {
      char bad[2] = {c, 0};
      BadCharacter(bad);
    }
  }
  if (n > 0) finish();  // an unfinished last item
}

uint8_t* Build(int which, int32_t firstId) {
  if (!MsgExists(firstId)) return nullptr;
  uint8_t work[kTableSize] = {};
  {
    TextBlock block;
    if (!GatherText(firstId, &block)) {
      ErrorReportFatal();
      ErrorFatal("%s", kTerminate);
      // Half a definition would give a table of holes: none at all is safer.
      return nullptr;
    }
    WalkDefinition(block.text(), work);
  }
  for (int b = 1; b < kTableSize; ++b) {
    if (work[b] == 0) {
      ErrorFatal(kNeverSetFormat, unsigned(b));
      ErrorFatal("%s", kTerminate);
    }
  }
  NormState& s = Norm();
  std::memcpy(s.tables[which - 1], work, kTableSize);
  s.built[which - 1] = true;
  return s.tables[which - 1];
}

// The first id of table 1's definition for a charset, or 0 when it has none
// of its own. Only ids below those of tables 2 and 3 are table-1 sets: the
// CodePage865 and packed-EUC charsets would otherwise land on 14100 and 15000.
int32_t Table1FirstId(int charset) {
  int32_t id = (int32_t(charset) + 100) * 100;
  return charset >= 0 && id < 14000 && MsgExists(id) ? id : 0;
}

void DropTable(int which) {
  NormState& s = Norm();
  std::memset(s.tables[which - 1], 0, kTableSize);
  s.built[which - 1] = false;
}

}  // namespace

uint8_t* NormTableBuild(int32_t firstId) { return Build(1, firstId); }
uint8_t* NormTableBuild2(int32_t firstId) { return Build(2, firstId); }
uint8_t* NormTableBuild3(int32_t firstId) { return Build(3, firstId); }

void NormSetValue(const char* item, uint8_t* table, int limit, int value) {
  uint32_t byte = 0;
  bool valid = true;
  if (item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) {
    valid = ParseHexItem(item, &byte);
  } else {
    byte = static_cast<unsigned char>(item[0]);
  }
  if (!valid || byte == 0 || byte >= uint32_t(limit)) {
    BadCharacter(item);
    return;
  }
  if (table[byte]) {
    ErrorFatal(kSetTwiceFormat, static_cast<unsigned long>(byte), unsigned(table[byte]),
               unsigned(value));
    ErrorFatal("%s", kTerminate);
  }
  table[byte] = uint8_t(value);
}

int16_t NormTablesInit() {
  int charset = CharsetSystem();
  int32_t first = Table1FirstId(charset);
  if (!(first && NormTableBuild(first)) && !NormTableBuild(kNormGenericFirstId)) {
    ErrorFatal("%s", MsgGetText(kErrResourceMissing));
    return 0;
  }
  bool latin = charset == 1 || charset == 10;
  NormState& s = Norm();
  if (latin) {
    NormTableBuild2(charset == 1 ? 14100 : 15000);
    NormTableBuild3(charset == 1 ? 16100 : 17000);
  } else {
    // Tables 2 and 3 (and their stamps) belong to the Latin-1 charsets alone;
    // keeping them would let an index of theirs pass under another charset.
    DropTable(2);
    DropTable(3);
  }
  s.stamps[0] = Crc16(s.tables[0], kTableSize);
  s.stamps[1] = Crc16(s.tables[0] + 32, 95);
  s.stamps[2] = latin && s.built[1] ? Crc16(s.tables[1], kTableSize) : 0;
  s.stamps[3] = latin && s.built[2] ? Crc16(s.tables[2], kTableSize) : 0;
  if (charset == 10) {
    for (int i : {0, 2, 3}) {
      if (s.stamps[i] == kNormStampClash) {
        s.stamps[i] = kNormStampReplaced;
        break;
      }
    }
  }
  return 1;
}

const uint8_t* NormTable(int which) {
  if (which < 1 || which > 3 || !Norm().built[which - 1]) return nullptr;
  return Norm().tables[which - 1];
}

uint32_t NormStamp(int which) {
  return which >= 1 && which <= 4 ? Norm().stamps[which - 1] : 0;
}

uint16_t Crc16(const void* bytes, size_t length) {
  NormState& s = Norm();
  if (!s.crcBuilt) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t c = uint16_t(i);
      for (int k = 0; k < 8; ++k) c = (c & 1) ? uint16_t((c >> 1) ^ kCrcPolynomial) : c >> 1;
      s.crcTable[i] = c;
    }
    s.crcBuilt = true;
  }
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) crc = uint16_t((crc >> 8) ^ s.crcTable[(crc ^ p[i]) & 0xFF]);
  return crc;
}

int StrCompareCollated(const char* a, const char* b) {
  size_t la = std::strlen(a) + 1, lb = std::strlen(b) + 1;
  char local[kCollateStackBytes];
  char* copy = local;
  if (la + lb > sizeof local) copy = static_cast<char*>(MemAlloc(la + lb));
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  if (copy) {
    std::memcpy(copy, a, la);
    std::memcpy(copy + la, b, lb);
    if (const uint8_t* table = NormTable(1)) {
      StrMapBytes(copy, table);
      StrMapBytes(copy + la, table);
    }
    x = reinterpret_cast<const unsigned char*>(copy);
    y = reinterpret_cast<const unsigned char*>(copy + la);
  }
  while (*x && *x == *y) {
    ++x;
    ++y;
  }
  int result = *x < *y ? -1 : *x > *y ? 1 : 0;
  if (copy && copy != local) MemFree(copy);
  return result;
}

}  // namespace layerio
