// The .IND file of a table's field indexes: its header, its pages, the
// B+-trees in it, their cursors and the keys made from column values.
//
// Layout (little-endian; pages of 512 bytes addressed by their byte offset;
// page 0 is the header page):
//   header  0 magic 24242424 (u32), 4 version 100 or 200 (u16), 6 page size
//           512 (u16), 8 head of the free-page list (u32, 0 none), 12 entry
//           count (u16), 14 collation stamp (u16), 16 charset (u16), 18 CRC-16
//           of bytes 32..126 of normalization table 1 (u16), 20..47 zero
//   entry   48 + 16 (n - 1) for index n: root page (u32, 0 a free entry),
//           maximum keys per page (u16), depth (u8, 1 a single leaf), key
//           length (u8), 8 bytes zero
//   page    count (u32), previous page on the level (u32), next page on the
//           level (u32), then `count` entries of key-length bytes of key and
//           a u32 value: a row number on the leaf level, a child page above.
//           Entry 1 of an internal page covers the keys below entry 2; every
//           other entry's key is the first key of its child's subtree.
//   free    a free page holds the next free page in its third word.
//
// Keys compare byte by byte, unsigned, over the key length; equal keys keep
// the order they were inserted in.
//
// Pages are kept in the file object's cache of page slots (each with room
// for the one extra entry a page holds during a split) and written through
// the file layer when they leave the cache and when the file is flushed, so
// an operation reads each page it needs once and writes nothing until then.
// A page that an operation has used stays in the cache until the operation
// ends, so pointers into it hold for the whole operation.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/norm.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/value.h"
#include "platform/endian.h"
#include "mapfile/tables/fieldindex.h"

namespace layerio {

namespace {

constexpr int kHeaderSize = 48;
constexpr int kEntryBase = 48;
constexpr int kEntrySize = 16;
constexpr int kPageHead = 12;
constexpr int kPageRoom = kIndexPageSize - kPageHead;  // 500 bytes of entries
constexpr uint16_t kVersion = 100;
constexpr uint16_t kVersionReadOnly = 200;
// Files written before the charset and sub-CRC fields were recorded.
constexpr uint16_t kOldSubCrc = 24861;
constexpr uint16_t kOldDoubleByteStamp = 65496;
constexpr uint16_t kOldDoubleByteCharset = 19;
constexpr uint16_t kOldCharset = 10;
constexpr int kPathMinimum = 10;
// Deeper than any tree of 2^32 pages with at least two entries a page.
constexpr int kDepthLimit = 40;
constexpr int kSlotBytes = kIndexPageSize + 136;  // a page and one entry more
constexpr uint32_t kSlotsPerChunk = 256;
constexpr uint32_t kNoPage = 0xFFFFFFFFu;

// Cursor words of an entry that stands on no entry.
constexpr uint32_t kCursorNone = 0;
constexpr uint32_t kCursorBeforeFirst = 1;
constexpr uint32_t kCursorAfterLast = 2;

uint32_t gPageLimit = 65536;

}  // namespace

struct IndexPageCache {
  struct Slot {
    uint32_t page;   // page index (offset / 512), kNoPage when free
    uint32_t epoch;  // the operation that used it last
    uint8_t dirty;
    uint8_t referenced;
    uint8_t* bytes;
  };
  std::vector<Slot> slots;
  std::vector<uint8_t*> chunks;
  std::vector<int32_t> slotOf;  // by page index, -1 none
  std::vector<int32_t> spare;   // free slots
  uint32_t hand = 0;
  uint32_t epoch = 1;

  ~IndexPageCache() {
    for (uint8_t* c : chunks) MemFree(c);
  }
};

namespace {

// Gathered keys are sorted as fixed-size records that hold their first
// kItemKeyBytes key bytes as numbers, so that most keys compare, and the
// tree is laid out, without going back to other memory. The tag is the row
// while rows come in ascending order (equal keys then sort by row, which is
// the order added); otherwise, and for keys longer than the record holds,
// it is the position added, with the rows and the rest of each key kept
// beside, by position.
constexpr int kItemKeyBytes = 20;

struct BulkItem {
  uint64_t high;   // key bytes 0..7, big-endian
  uint64_t low;    // 8..15
  uint32_t third;  // 16..19
  uint32_t tag;
};
static_assert(sizeof(BulkItem) == 24);

}  // namespace

struct IndexBulk {
  IndexFile* file;
  FieldIndex* index;
  int K;
  int E;
  int tail;           // key bytes past kItemKeyBytes
  BulkItem* items;
  uint8_t* tails;     // `tail` bytes per position (when tail > 0)
  uint32_t* rows;     // rows by position, once the tags are positions
  size_t count;
  size_t capacity;
  size_t limit;       // entries one run holds
  uint32_t lastRow;
  uint8_t byPosition;
  int16_t failed;
};

namespace {

// ===== Errors ================================================================

void PushDamaged(const IndexFile* f) {
  char name[kPathCapacity];
  name[0] = '\0';
  if (f && FileHandleCheck(f->file) >= 0) FileBaseName(f->file, name);
  ErrorPush(kErrorSeverity, kErrIndexNotFile, name, nullptr);
}

void PushNamed(int16_t code, FileHandle handle) {
  char name[kPathCapacity];
  name[0] = '\0';
  if (FileHandleCheck(handle) >= 0) FileBaseName(handle, name);
  ErrorPush(kErrorSeverity, code, name, nullptr);
}

// ===== Page cache ============================================================

uint8_t* SlotBytes(IndexPageCache& c, int32_t s) { return c.slots[size_t(s)].bytes; }

bool WriteSlot(IndexFile* f, IndexPageCache::Slot& slot) {
  int64_t at = int64_t(slot.page) * kIndexPageSize;
  if (FileSeek(f->file, at, 0) != at || FileWrite(f->file, slot.bytes, kIndexPageSize) !=
                                             kIndexPageSize) {
    return false;
  }
  slot.dirty = 0;
  return true;
}

void Unbind(IndexPageCache& c, int32_t s) {
  IndexPageCache::Slot& slot = c.slots[size_t(s)];
  if (slot.page != kNoPage && slot.page < c.slotOf.size()) c.slotOf[slot.page] = -1;
  slot.page = kNoPage;
  slot.dirty = 0;
  slot.referenced = 0;
}

// A slot for a page about to be bound: a spare one, a new one while the
// cache is below its limit (or every slot is in use by the running
// operation), else the clock's victim, written back first when changed.
int32_t SlotTake(IndexFile* f) {
  IndexPageCache& c = *f->cache;
  if (!c.spare.empty()) {
    int32_t s = c.spare.back();
    c.spare.pop_back();
    return s;
  }
  const size_t n = c.slots.size();
  if (n >= gPageLimit && n > 0) {
    for (size_t tries = 0; tries < 2 * n + 1; ++tries) {
      if (c.hand >= n) c.hand = 0;
      int32_t s = int32_t(c.hand++);
      IndexPageCache::Slot& slot = c.slots[size_t(s)];
      if (slot.epoch == c.epoch) continue;
      if (slot.referenced) {
        slot.referenced = 0;
        continue;
      }
      if (slot.dirty && !WriteSlot(f, slot)) return -1;
      Unbind(c, s);
      return s;
    }
  }
  if (n % kSlotsPerChunk == 0) {
    auto* chunk = static_cast<uint8_t*>(MemAlloc(size_t(kSlotsPerChunk) * kSlotBytes));
    if (!chunk) {
      ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
      return -1;
    }
    c.chunks.push_back(chunk);
  }
  uint8_t* bytes = c.chunks.back() + (n % kSlotsPerChunk) * kSlotBytes;
  c.slots.push_back({kNoPage, 0, 0, 0, bytes});
  return int32_t(n);
}

void Bind(IndexPageCache& c, int32_t s, uint32_t index) {
  if (c.slotOf.size() <= index) {
    c.slotOf.resize(std::max<size_t>(index + 1, c.slotOf.size() * 2), -1);
  }
  c.slotOf[index] = s;
  IndexPageCache::Slot& slot = c.slots[size_t(s)];
  slot.page = index;
  slot.epoch = c.epoch;
  slot.referenced = 1;
  slot.dirty = 0;
}

int32_t SlotOfPage(const IndexPageCache& c, uint32_t index) {
  return index < c.slotOf.size() ? c.slotOf[index] : -1;
}

bool PageOffsetValid(const IndexFile* f, uint32_t offset) {
  return offset >= uint32_t(kIndexPageSize) && offset % kIndexPageSize == 0 &&
         offset / kIndexPageSize < f->pageCount;
}

void NotePage(IndexFile* f, uint32_t offset) {
  if (f->pageNumber != offset) {
    f->otherNumber = f->pageNumber;
    f->pageNumber = offset;
  }
}

// The bytes of the page at a byte offset, read on a miss; null (972 pushed
// for an offset that names no page of the file) on failure.
uint8_t* PageGet(IndexFile* f, uint32_t offset) {
  if (!PageOffsetValid(f, offset)) {
    PushDamaged(f);
    return nullptr;
  }
  IndexPageCache& c = *f->cache;
  const uint32_t index = offset / kIndexPageSize;
  int32_t s = SlotOfPage(c, index);
  if (s >= 0) {
    IndexPageCache::Slot& slot = c.slots[size_t(s)];
    slot.epoch = c.epoch;
    slot.referenced = 1;
    NotePage(f, offset);
    return slot.bytes;
  }
  s = SlotTake(f);
  if (s < 0) return nullptr;
  uint8_t* bytes = SlotBytes(c, s);
  int32_t n = -1;
  if (FileSeek(f->file, offset, 0) == int64_t(offset)) n = FileRead(f->file, bytes, kIndexPageSize);
  if (n < 0) {
    c.spare.push_back(s);
    return nullptr;
  }
  // The last page of a file that ends inside it reads as zeros beyond.
  std::memset(bytes + n, 0, size_t(kSlotBytes - n));
  Bind(c, s, index);
  NotePage(f, offset);
  return bytes;
}

void PageDirty(IndexFile* f, uint32_t offset) {
  int32_t s = SlotOfPage(*f->cache, offset / kIndexPageSize);
  if (s >= 0) f->cache->slots[size_t(s)].dirty = 1;
}

// Takes the head of the free list, else a new page at the end of the file;
// its first 12 bytes are zeroed. 0 on failure.
uint32_t PageAlloc(IndexFile* f, uint8_t** bytesOut) {
  IndexPageCache& c = *f->cache;
  uint32_t offset;
  uint8_t* bytes;
  if (f->freeHead != 0) {
    offset = f->freeHead;
    bytes = PageGet(f, offset);
    if (!bytes) return 0;
    uint32_t next = QLoadU32LE(bytes + 8);
    if (next != 0 && (!PageOffsetValid(f, next) || next == offset)) {
      PushDamaged(f);
      return 0;
    }
    f->freeHead = next;
  } else {
    if (f->pageCount >= 0x7FFFFFu) {  // offsets stay below 2^32
      PushDamaged(f);
      return 0;
    }
    int32_t s = SlotTake(f);
    if (s < 0) return 0;
    offset = f->pageCount * uint32_t(kIndexPageSize);
    ++f->pageCount;
    bytes = SlotBytes(c, s);
    std::memset(bytes, 0, kSlotBytes);
    Bind(c, s, offset / kIndexPageSize);
    NotePage(f, offset);
  }
  std::memset(bytes, 0, kPageHead);
  PageDirty(f, offset);
  f->headerDirty = 1;
  *bytesOut = bytes;
  return offset;
}

// The last page of the file is cut off; any other goes on the free list.
int16_t PageFree(IndexFile* f, uint32_t offset) {
  IndexPageCache& c = *f->cache;
  const uint32_t index = offset / kIndexPageSize;
  if (index + 1 == f->pageCount) {
    int32_t s = SlotOfPage(c, index);
    if (s >= 0) {
      Unbind(c, s);
      c.spare.push_back(s);
    }
    --f->pageCount;
  } else {
    uint8_t* bytes = PageGet(f, offset);
    if (!bytes) return 0;
    QStoreU32LE(bytes + 8, f->freeHead);
    PageDirty(f, offset);
    f->freeHead = offset;
  }
  f->headerDirty = 1;
  return 1;
}

void CacheDrop(IndexFile* f) {
  IndexPageCache& c = *f->cache;
  c.spare.clear();
  for (size_t s = 0; s < c.slots.size(); ++s) {
    Unbind(c, int32_t(s));
    c.spare.push_back(int32_t(s));
  }
  std::fill(c.slotOf.begin(), c.slotOf.end(), -1);
}

// Starts an operation: pages used from here on stay in the cache until the
// next one starts.
void OpBegin(IndexFile* f) { ++f->cache->epoch; }

// ===== Header ================================================================

void HeaderEncode(const IndexFile* f, uint8_t* b) {
  std::memset(b, 0, kIndexPageSize);
  QStoreU32LE(b, kIndexMagic);
  QStoreU16LE(b + 4, f->version);
  QStoreU16LE(b + 6, f->pageSize);
  QStoreU32LE(b + 8, f->freeHead);
  QStoreU16LE(b + 12, f->entryCount);
  QStoreU16LE(b + 14, f->stamp);
  QStoreU16LE(b + 16, f->charset);
  QStoreU16LE(b + 18, f->subCrc);
  for (int i = 0; i < f->entryCount; ++i) {
    uint8_t* e = b + kEntryBase + i * kEntrySize;
    QStoreU32LE(e, f->entries[i].root);
    QStoreU16LE(e + 4, f->entries[i].maxKeys);
    e[6] = f->entries[i].depth;
    e[7] = f->entries[i].keyLength;
  }
}

bool HeaderWrite(IndexFile* f) {
  uint8_t b[kIndexPageSize];
  HeaderEncode(f, b);
  const int32_t n = kHeaderSize + f->entryCount * kEntrySize;
  if (FileSeek(f->file, 0, 0) != 0 || FileWrite(f->file, b, n) != n) return false;
  f->headerDirty = 0;
  return true;
}

// The largest key count a page of keys of this length holds; odd for the
// trees this library makes.
uint16_t MaxKeysFor(int keyLength) {
  int m = kPageRoom / (keyLength + 4);
  if (m % 2 == 0) --m;
  return uint16_t(m);
}

bool EntryHolds(const IndexFile* f, const IndexEntry& e) {
  if (e.root == 0) return true;
  if (e.keyLength < 1 || e.keyLength > kIndexMaxKey) return false;
  if (e.maxKeys < 3 || e.maxKeys > kPageRoom / (e.keyLength + 4)) return false;
  if (e.depth < 1 || e.depth > kDepthLimit) return false;
  return PageOffsetValid(f, e.root);
}

// The file's collation passes when its keys were made with a table the
// library has now (the fields as read, old files already mapped).
bool CollationMatches(uint16_t stamp, uint16_t charset, uint16_t subCrc) {
  const uint32_t sub = NormStamp(2);
  const int library = CurrentTableCharset();
  if (stamp == 0 && sub == kOldSubCrc) return true;
  if (stamp == NormStamp(1)) return true;
  if (charset != library && subCrc == sub) return true;
  if (library == 1 || library == 10) {
    if ((NormStamp(3) != 0 && stamp == NormStamp(3)) ||
        (NormStamp(4) != 0 && stamp == NormStamp(4))) {
      return true;
    }
  }
  return false;
}

// Reads and checks the header page into the object; 0 with 972 pushed when
// it does not hold together.
int16_t HeaderLoad(IndexFile* f, bool checkCollation) {
  int64_t size = FileSize(f->file);
  uint8_t b[kIndexPageSize];
  std::memset(b, 0, sizeof b);
  int32_t n = -1;
  if (size >= 0 && FileSeek(f->file, 0, 0) == 0) n = FileRead(f->file, b, kIndexPageSize);
  if (n < 0) return 0;
  if (n < kHeaderSize || QLoadU32LE(b) != kIndexMagic) {
    PushDamaged(f);
    return 0;
  }
  const uint16_t version = QLoadU16LE(b + 4);
  const uint16_t pageSize = QLoadU16LE(b + 6);
  const uint16_t entryCount = QLoadU16LE(b + 12);
  if ((version != kVersion && version != kVersionReadOnly) || pageSize != kIndexPageSize ||
      entryCount > kIndexMaxEntries || size > int64_t(0xFFFFFFFFu) || size % kIndexPageSize) {
    PushDamaged(f);
    return 0;
  }
  uint16_t stamp = QLoadU16LE(b + 14);
  uint16_t charset = QLoadU16LE(b + 16);
  uint16_t subCrc = QLoadU16LE(b + 18);
  if (stamp != 0 && charset == 0 && subCrc == 0) {
    charset = stamp == kOldDoubleByteStamp ? kOldDoubleByteCharset : kOldCharset;
    subCrc = kOldSubCrc;
  }
  if (checkCollation && !CollationMatches(stamp, charset, subCrc)) {
    return -1;
  }
  // Checked against the file's length as read now; the object takes the
  // header only when all of it holds.
  IndexFile probe{};
  probe.pageCount = uint32_t((size + kIndexPageSize - 1) / kIndexPageSize);
  const uint32_t freeHead = QLoadU32LE(b + 8);
  if ((freeHead != 0 && !PageOffsetValid(&probe, freeHead)) ||
      n < kHeaderSize + entryCount * kEntrySize) {
    PushDamaged(f);
    return 0;
  }
  IndexEntry entries[kIndexMaxEntries] = {};
  int deepest = 0;
  for (int i = 0; i < entryCount; ++i) {
    const uint8_t* e = b + kEntryBase + i * kEntrySize;
    IndexEntry& x = entries[i];
    x.root = QLoadU32LE(e);
    x.maxKeys = QLoadU16LE(e + 4);
    x.depth = e[6];
    x.keyLength = e[7];
    if (x.root == 0) {
      x = IndexEntry{};
      continue;
    }
    if (!EntryHolds(&probe, x)) {
      PushDamaged(f);
      return 0;
    }
    deepest = std::max<int>(deepest, x.depth);
  }
  const int32_t want = std::max(kPathMinimum, deepest + 1);
  if (f->pathSize < want) {
    auto* path = static_cast<IndexPathStep*>(MemAlloc(sizeof(IndexPathStep) * size_t(want)));
    if (!path) {
      ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
      return 0;
    }
    MemFree(f->path);
    f->path = path;
    f->pathSize = want;
  }
  f->version = version;
  f->pageSize = pageSize;
  f->entryCount = entryCount;
  f->stamp = stamp;
  f->charset = charset;
  f->subCrc = subCrc;
  f->pageCount = probe.pageCount;
  f->freeHead = freeHead;
  std::memcpy(f->entries, entries, sizeof entries);
  f->headerDirty = 0;
  return 1;
}

void ObjectFree(IndexFile* f) {
  if (!f) return;
  MemFree(f->page);
  MemFree(f->other);
  MemFree(f->path);
  delete f->cache;
  delete f;
}

IndexFile* ObjectNew(FileHandle handle) {
  auto* f = new (std::nothrow) IndexFile{};
  if (f) {
    f->file = handle;
    f->page = static_cast<uint8_t*>(MemAlloc(kIndexPageSize + 128));
    f->other = static_cast<uint8_t*>(MemAlloc(kIndexPageSize));
    f->cache = new (std::nothrow) IndexPageCache();
    f->path = static_cast<IndexPathStep*>(MemAlloc(sizeof(IndexPathStep) * kPathMinimum));
    f->pathSize = kPathMinimum;
  }
  if (!f || !f->page || !f->other || !f->cache || !f->path) {
    ObjectFree(f);
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return nullptr;
  }
  f->pageNumber = kNoPage;
  f->otherNumber = kNoPage;
  return f;
}

// The companion entry of a new index file, or a claimed temporary name.
FileHandle CreateEntry(const char* tableName, const char* directory, int fileKind,
                       bool temporary) {
  char path[kPathCapacity];
  if (temporary || !tableName || !*tableName) {
    if (!TempFileName(path, directory && *directory ? directory : nullptr)) return 0;
    return FileTableAddName(path, 0);
  }
  size_t n = 0;
  if (directory && *directory && tableName[0] != '/') {
    n = std::strlen(directory);
    if (n + 1 >= sizeof path) return 0;
    std::memcpy(path, directory, n);
    if (path[n - 1] != '/' && path[n - 1] != '\\') path[n++] = '/';
  }
  size_t m = std::strlen(tableName);
  if (n + m + 1 > sizeof path) return 0;
  std::memcpy(path + n, tableName, m + 1);
  int kind = fileKind > 0 ? fileKind : kFileKindIndex;
  char withExtension[kPathCapacity];
  if (!PathForKind(withExtension, path, kind)) return 0;
  if (FileHandle existing = FileTableFind(withExtension, kind)) return existing;
  return FileTableAddName(withExtension, kind);
}

// ===== Keys ==================================================================

const uint8_t* CollationTable(uint16_t stamp) {
  const uint8_t* table = NormTable(1);
  const int charset = CurrentTableCharset();
  if (stamp != 0 && (charset == 1 || charset == 10) && stamp != NormStamp(1)) {
    if (NormStamp(3) != 0 && stamp == NormStamp(3) && NormTable(2)) {
      table = NormTable(2);
    } else if (NormStamp(4) != 0 && stamp == NormStamp(4) && NormTable(3)) {
      table = NormTable(3);
    }
  }
  return table;
}

double RoundToDecimals(double x, int decimals) {
  if (decimals < 0 || decimals > 15 || !std::isfinite(x)) return x;
  const double scale = std::pow(10.0, decimals);
  const double scaled = x * scale;
  if (std::fabs(scaled) >= 4503599627370496.0) return x;  // no fraction left
  // Halves go up; dividing by the power of ten gives the double nearest to
  // the decimal number, as parsing its text does.
  return std::floor(scaled + 0.5) / scale;
}

// The text of a value for a Char key (at most `size` - 1 bytes).
size_t KeyText(const Value* value, char* buffer, size_t size) {
  char* p = nullptr;
  ValueData(value, &p);
  size_t n = 0;
  if (p) {
    if (value->kind == kValueFixedText) {
      n = value->aux > 0 ? size_t(value->aux) : 0;
      n = std::min(n, size - 1);
      std::memcpy(buffer, p, n);
      for (size_t i = 0; i < n; ++i) {
        if (buffer[i] == '\0') {
          n = i;
          break;
        }
      }
    } else {
      n = strnlen(p, size - 1);
      std::memcpy(buffer, p, n);
    }
  } else if (value->kind != kValueNone && value->kind != kValueText) {
    if (!ValueToText(value, buffer, size, -1, 0)) return 0;
    n = std::strlen(buffer);
  }
  buffer[n] = '\0';
  return n;
}

// The key bytes of a value in a key type; the converted value goes to
// `typed` when given (its text payload, when any, holds width + 1 bytes).
int16_t EncodeKey(const Value* value, uint8_t type, int width, int length, int decimals,
                  uint16_t stamp, uint8_t* out, Value* typed) {
  std::memset(out, 0, size_t(length));
  switch (type) {
    case kFieldChar:
    case kFieldChar25: {
      char text[kIndexMaxKey > 255 ? kIndexMaxKey + 1 : 256];
      size_t n = KeyText(value, text, sizeof text);
      if (typed) {
        char* p = nullptr;
        ValueData(typed, &p);
        if (p) {
          size_t w = std::min(n, size_t(width > 0 ? width : 0));
          std::memcpy(p, text, w);
          p[w] = '\0';
        }
      }
      n = std::min(n, size_t(length));
      while (n > 0 && text[n - 1] == ' ') --n;
      const uint8_t* table = CollationTable(stamp);
      for (size_t i = 0; i < n; ++i) {
        uint8_t b = uint8_t(text[i]);
        out[i] = table ? table[b] : b;
      }
      return 1;
    }
    case kFieldDecimal:
    case kFieldFloat: {
      double x = 0;
      if (!ValueToDouble(value, &x, 0)) return 0;
      if (type == kFieldDecimal) x = RoundToDecimals(x, decimals);
      if (x == 0) x = 0;  // -0 keys as 0
      if (typed) typed->u.d = x;
      uint64_t bits;
      std::memcpy(&bits, &x, sizeof bits);
      bits = x >= 0 ? bits | 0x8000000000000000ull : ~bits;
      QStoreU64BE(out, bits);
      return 1;
    }
    case kFieldInteger: {
      int32_t n = 0;
      if (!ValueToLong(value, &n, 0)) return 0;
      if (typed) typed->u.i = n;
      QStoreU32BE(out, uint32_t(n) ^ 0x80000000u);
      return 1;
    }
    case kFieldSmallint: {
      int16_t n = 0;
      if (!ValueToShort(value, &n, 0)) return 0;
      if (typed) typed->u.s = n;
      QStoreU16BE(out, uint16_t(uint16_t(n) ^ 0x8000u));
      return 1;
    }
    case kFieldDate: {
      DateRec d{0, 0, 0};
      if (!ValueToDate(value, &d)) return 0;
      if (typed) typed->u.date = d;
      QStoreU16BE(out, uint16_t(d.year));
      out[2] = d.month;
      out[3] = d.day;
      return 1;
    }
    case kFieldLogical: {
      uint8_t t = ValueIsTrue(value) ? 1 : 0;
      if (typed) typed->u.b = t;
      out[0] = 0x80;
      out[1] = t;
      return 1;
    }
    default:
      IndexKeyLength(type, width, 1);
      return 0;
  }
}

// The key bytes back into the key buffer's typed value.
void DecodeKey(IndexKey* key) {
  Value& v = key->value;
  const uint8_t* b = key->bytes;
  switch (key->type) {
    case kFieldChar:
    case kFieldChar25: {
      char* p = nullptr;
      ValueData(&v, &p);
      if (!p) {
        v.kind = kValueText;
        key->width = std::max(key->width, key->length);
        if (!ValueAlloc(key->width, &v, &p) || !p) return;
      }
      size_t n = strnlen(reinterpret_cast<const char*>(b), key->length);
      n = std::min(n, size_t(key->width));
      std::memcpy(p, b, n);
      p[n] = '\0';
      return;
    }
    case kFieldDecimal:
    case kFieldFloat: {
      uint64_t bits = QLoadU64BE(b);
      bits = (bits & 0x8000000000000000ull) ? bits & ~0x8000000000000000ull : ~bits;
      std::memcpy(&v.u.d, &bits, sizeof bits);
      return;
    }
    case kFieldInteger:
      v.u.i = int32_t(uint32_t(QLoadU32BE(b)) ^ 0x80000000u);
      return;
    case kFieldSmallint:
      v.u.s = int16_t(uint16_t(QLoadU16BE(b)) ^ 0x8000u);
      return;
    case kFieldDate:
      v.u.date = DateRec{int16_t(uint16_t(QLoadU16BE(b))), b[2], b[3]};
      return;
    case kFieldLogical:
      v.u.b = b[1];
      return;
    default:
      return;
  }
}

// ===== Trees =================================================================

// One tree of the file during an operation.
struct Tree {
  IndexFile* f;
  IndexEntry* e;
  int number;   // from 1
  int K;        // key length
  int E;        // entry size
  uint32_t M;   // maximum keys
  uint32_t hops;  // level links followed in this operation
};

inline uint32_t Count(const uint8_t* p) { return QLoadU32LE(p); }
inline uint8_t* Ent(uint8_t* p, uint32_t i, int E) { return p + kPageHead + size_t(i) * E; }
inline const uint8_t* Ent(const uint8_t* p, uint32_t i, int E) {
  return p + kPageHead + size_t(i) * E;
}

int16_t TreeOf(IndexFile* f, int number, Tree* t) {
  if (!f || number < 1 || number > f->entryCount || f->entries[number - 1].root == 0) {
    ErrorPush(kErrorSeverity, kErrIndexNotFile, nullptr, nullptr);
    return 0;
  }
  IndexEntry& e = f->entries[number - 1];
  *t = Tree{f, &e, number, e.keyLength, e.keyLength + 4, e.maxKeys, 0};
  return 1;
}

bool Ready(IndexFile* f, bool write) {
  if (!f) return false;
  if (f->useCount == 0) {
    char text[16];
    std::snprintf(text, sizeof text, "#%d", f->file);
    ErrorPush(kErrorSeverity, kErrFileNoOpenCount, text, nullptr);
    return false;
  }
  if (write && f->mode < kFileModeWrite) {
    PushNamed(kErrFileAccessDenied, f->file);
    return false;
  }
  return true;
}

// A page of the tree with its count checked against the tree's maximum (one
// more while a split is under way is the caller's business).
uint8_t* TreePage(Tree& t, uint32_t offset, uint32_t* count) {
  uint8_t* p = PageGet(t.f, offset);
  if (!p) return nullptr;
  uint32_t n = Count(p);
  if (n > t.M) {
    PushDamaged(t.f);
    return nullptr;
  }
  *count = n;
  return p;
}

// The page a level link of page `from` (bytes p) leads to. The page must
// link back, and with `ordered` its keys must follow p's; each followed link
// counts, and more links than the file has pages means they go in a circle.
uint8_t* FollowLink(Tree& t, uint32_t from, const uint8_t* p, uint32_t to, bool forward,
                    bool ordered, uint32_t* count) {
  if (++t.hops > t.f->pageCount) {
    PushDamaged(t.f);
    return nullptr;
  }
  uint8_t* q = TreePage(t, to, count);
  if (!q) return nullptr;
  bool holds = QLoadU32LE(q + (forward ? 4 : 8)) == from;
  const uint32_t pn = Count(p);
  if (holds && ordered && pn > 0 && *count > 0) {
    const uint8_t* low = forward ? Ent(p, pn - 1, t.E) : Ent(q, *count - 1, t.E);
    const uint8_t* high = forward ? Ent(q, 0, t.E) : Ent(p, 0, t.E);
    holds = std::memcmp(low, high, size_t(t.K)) <= 0;
  }
  if (!holds) {
    PushDamaged(t.f);
    return nullptr;
  }
  return q;
}

// Positions [lo, hi) of a page: the first whose key is at or above the key
// (upper: above it).
uint32_t Bound(const uint8_t* p, uint32_t lo, uint32_t hi, const uint8_t* key, int K, int E,
               bool upper) {
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    int c = std::memcmp(Ent(p, mid, E), key, size_t(K));
    if (c < 0 || (upper && c == 0)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

bool GrowPath(IndexFile* f, int depth) {
  if (f->pathSize > depth) return true;
  int32_t want = depth + 1;
  auto* path = static_cast<IndexPathStep*>(MemAlloc(sizeof(IndexPathStep) * size_t(want)));
  if (!path) {
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return false;
  }
  std::memcpy(path, f->path, sizeof(IndexPathStep) * size_t(f->pathSize));
  MemFree(f->path);
  f->path = path;
  f->pathSize = want;
  return true;
}

// Descends from the root to the leaf for a key: path[0] the root ...
// path[depth - 1] the leaf, each with the position taken and the page's
// count. On the leaf the position is the first key at or above the key
// (upper: above it), possibly the page's count.
int16_t Descend(Tree& t, const uint8_t* key, bool upper) {
  IndexFile* f = t.f;
  const int depth = t.e->depth;
  if (!GrowPath(f, depth)) return 0;
  uint32_t offset = t.e->root;
  for (int level = 0; level < depth; ++level) {
    uint32_t n;
    uint8_t* p = TreePage(t, offset, &n);
    if (!p) return 0;
    IndexPathStep& s = f->path[level];
    s.page = offset;
    s.count = n;
    if (level + 1 < depth) {
      if (n == 0) {
        PushDamaged(f);
        return 0;
      }
      uint32_t i = Bound(p, 1, n, key, t.K, t.E, upper);
      s.position = i - 1;
      offset = QLoadU32LE(Ent(p, i - 1, t.E) + t.K);
    } else {
      s.position = Bound(p, 0, n, key, t.K, t.E, upper);
    }
  }
  return 1;
}

// Descends along the first (last: the last) entries.
int16_t DescendEdge(Tree& t, bool last) {
  IndexFile* f = t.f;
  const int depth = t.e->depth;
  if (!GrowPath(f, depth)) return 0;
  uint32_t offset = t.e->root;
  for (int level = 0; level < depth; ++level) {
    uint32_t n;
    uint8_t* p = TreePage(t, offset, &n);
    if (!p) return 0;
    IndexPathStep& s = f->path[level];
    s.page = offset;
    s.count = n;
    if (level + 1 < depth) {
      if (n == 0) {
        PushDamaged(f);
        return 0;
      }
      s.position = last ? n - 1 : 0;
      offset = QLoadU32LE(Ent(p, s.position, t.E) + t.K);
    } else {
      s.position = last && n > 0 ? n - 1 : 0;
    }
  }
  return 1;
}

// Moves the path to the first entry of the next leaf through the parents;
// 0 at the last leaf (*end set) or on failure.
int16_t PathNextLeaf(Tree& t, bool* end) {
  IndexFile* f = t.f;
  const int depth = t.e->depth;
  *end = false;
  int level = depth - 2;
  while (level >= 0) {
    uint32_t n;
    if (!TreePage(t, f->path[level].page, &n)) return 0;
    if (f->path[level].position + 1 < n) break;
    --level;
  }
  if (level < 0) {
    *end = true;
    return 0;
  }
  ++f->path[level].position;
  for (; level + 1 < depth; ++level) {
    uint32_t n;
    uint8_t* p = TreePage(t, f->path[level].page, &n);
    if (!p) return 0;
    f->path[level].count = n;
    uint32_t child = QLoadU32LE(Ent(p, f->path[level].position, t.E) + t.K);
    uint8_t* c = TreePage(t, child, &n);
    if (!c) return 0;
    if (level + 2 < depth && n == 0) {
      PushDamaged(f);
      return 0;
    }
    f->path[level + 1] = IndexPathStep{child, 0, n};
  }
  if (++t.hops > f->pageCount) {
    PushDamaged(f);
    return 0;
  }
  return 1;
}

// Replaces the separators above a page whose first key changed, up the path
// as long as the changed entry is the first of its page.
int16_t SeparatorUpdate(Tree& t, int level, const uint8_t* key) {
  IndexFile* f = t.f;
  for (int l = level - 1; l >= 0; --l) {
    uint32_t n;
    uint8_t* p = TreePage(t, f->path[l].page, &n);
    if (!p) return 0;
    if (f->path[l].position >= n) {
      PushDamaged(f);
      return 0;
    }
    std::memmove(Ent(p, f->path[l].position, t.E), key, size_t(t.K));
    PageDirty(f, f->path[l].page);
    if (f->path[l].position != 0) break;
  }
  return 1;
}

// Inserts an entry at a position of the page on path level `level` and
// splits up the path as needed.
int16_t InsertAt(Tree& t, int level, uint32_t position, const uint8_t* key, uint32_t value) {
  IndexFile* f = t.f;
  uint8_t* sep = f->keyB;
  std::memcpy(sep, key, size_t(t.K));
  for (;;) {
    const uint32_t offset = f->path[level].page;
    uint32_t n;
    uint8_t* p = TreePage(t, offset, &n);
    if (!p) return 0;
    if (position > n) {
      PushDamaged(f);
      return 0;
    }
    uint8_t* at = Ent(p, position, t.E);
    std::memmove(at + t.E, at, size_t(n - position) * t.E);
    std::memcpy(at, sep, size_t(t.K));
    QStoreU32LE(at + t.K, value);
    ++n;
    QStoreU32LE(p, n);
    PageDirty(f, offset);
    if (n <= t.M) return 1;

    // Split: the first (max + 1) / 2 entries stay, the rest go to a new page
    // linked after this one.
    const uint32_t keep = (t.M + 1) / 2;
    uint8_t* q;
    const uint32_t added = PageAlloc(f, &q);
    if (!added) {
      // Leave the page whole within its maximum: drop the entry again.
      std::memmove(at, at + t.E, size_t(n - 1 - position) * t.E);
      QStoreU32LE(p, n - 1);
      return 0;
    }
    const uint32_t moved = n - keep;
    std::memcpy(Ent(q, 0, t.E), Ent(p, keep, t.E), size_t(moved) * t.E);
    QStoreU32LE(q, moved);
    QStoreU32LE(p, keep);
    const uint32_t next = QLoadU32LE(p + 8);
    QStoreU32LE(q + 4, offset);
    QStoreU32LE(q + 8, next);
    QStoreU32LE(p + 8, added);
    if (next != 0) {
      uint32_t m;
      uint8_t* r = TreePage(t, next, &m);
      if (!r) return 0;
      QStoreU32LE(r + 4, added);
      PageDirty(f, next);
    }
    PageDirty(f, added);
    PageDirty(f, offset);
    std::memcpy(sep, Ent(q, 0, t.E), size_t(t.K));
    value = added;
    if (level == 0) {
      // A new root over the two halves.
      if (t.e->depth >= kDepthLimit || !GrowPath(f, t.e->depth + 1)) {
        if (t.e->depth >= kDepthLimit) PushDamaged(f);
        return 0;
      }
      uint8_t* r;
      const uint32_t root = PageAlloc(f, &r);
      if (!root) return 0;
      std::memset(Ent(r, 0, t.E), 0, size_t(t.K));
      QStoreU32LE(Ent(r, 0, t.E) + t.K, offset);
      std::memcpy(Ent(r, 1, t.E), sep, size_t(t.K));
      QStoreU32LE(Ent(r, 1, t.E) + t.K, added);
      QStoreU32LE(r, 2);
      t.e->root = root;
      ++t.e->depth;
      f->headerDirty = 1;
      return 1;
    }
    --level;
    position = f->path[level].position + 1;
  }
}

// Removes the entry at a position of the page on path level `level`, then
// mends separators, underfull pages and the root.
int16_t RemoveAt(Tree& t, int level, uint32_t position) {
  IndexFile* f = t.f;
  const uint32_t offset = f->path[level].page;
  uint32_t n;
  uint8_t* p = TreePage(t, offset, &n);
  if (!p) return 0;
  if (position >= n) {
    PushDamaged(f);
    return 0;
  }
  uint8_t* at = Ent(p, position, t.E);
  std::memmove(at, at + t.E, size_t(n - 1 - position) * t.E);
  --n;
  QStoreU32LE(p, n);
  PageDirty(f, offset);

  if (level == 0) {
    // A root above the leaves left with one child gives way to it.
    while (t.e->depth >= 2) {
      uint32_t m;
      uint8_t* r = TreePage(t, t.e->root, &m);
      if (!r) return 0;
      if (m != 1) break;
      const uint32_t child = QLoadU32LE(Ent(r, 0, t.E) + t.K);
      if (!PageOffsetValid(f, child)) {
        PushDamaged(f);
        return 0;
      }
      const uint32_t old = t.e->root;
      t.e->root = child;
      --t.e->depth;
      f->headerDirty = 1;
      if (!PageFree(f, old)) return 0;
    }
    return 1;
  }
  if (position == 0 && n > 0) {
    std::memcpy(f->keyA, Ent(p, 0, t.E), size_t(t.K));
    if (!SeparatorUpdate(t, level, f->keyA)) return 0;
  }
  if (n > t.M / 2) return 1;

  // Underfull: pair the page with its left neighbour under the same parent,
  // or its right one when it is the parent's first child.
  const IndexPathStep up = f->path[level - 1];
  uint32_t pn;
  uint8_t* parent = TreePage(t, up.page, &pn);
  if (!parent) return 0;
  if (up.position >= pn) {
    PushDamaged(f);
    return 0;
  }
  if (pn < 2) return 1;  // no neighbour to pair with
  const uint32_t j = up.position > 0 ? up.position : 1;  // the right page's entry
  const uint32_t leftPage = QLoadU32LE(Ent(parent, j - 1, t.E) + t.K);
  const uint32_t rightPage = QLoadU32LE(Ent(parent, j, t.E) + t.K);
  uint32_t ln, rn;
  uint8_t* l = TreePage(t, leftPage, &ln);
  if (!l) return 0;
  uint8_t* r = TreePage(t, rightPage, &rn);
  if (!r || l == r || QLoadU32LE(l + 8) != rightPage) {
    if (r) PushDamaged(f);
    return 0;
  }
  const bool leftWasEmpty = ln == 0;
  const uint32_t total = ln + rn;
  if (total <= t.M) {
    // Join into the left page; the right one is freed and leaves the parent.
    std::memcpy(Ent(l, ln, t.E), Ent(r, 0, t.E), size_t(rn) * t.E);
    QStoreU32LE(l, total);
    const uint32_t next = QLoadU32LE(r + 8);
    QStoreU32LE(l + 8, next);
    PageDirty(f, leftPage);
    if (next != 0) {
      uint32_t m;
      uint8_t* x = TreePage(t, next, &m);
      if (!x) return 0;
      QStoreU32LE(x + 4, leftPage);
      PageDirty(f, next);
    }
    if (leftWasEmpty && total > 0 && up.position == 0) {
      std::memcpy(f->keyA, Ent(l, 0, t.E), size_t(t.K));
      if (!SeparatorUpdate(t, level, f->keyA)) return 0;
    }
    if (!PageFree(f, rightPage)) return 0;
    return RemoveAt(t, level - 1, j);
  }
  // Borrow: the underfull page ends with half of the pair's entries.
  const uint32_t half = total / 2;
  if (up.position > 0) {
    // The underfull page is the right one: take the left one's last entries.
    if (half <= rn) return 1;
    const uint32_t k = half - rn;
    std::memmove(Ent(r, k, t.E), Ent(r, 0, t.E), size_t(rn) * t.E);
    std::memcpy(Ent(r, 0, t.E), Ent(l, ln - k, t.E), size_t(k) * t.E);
    QStoreU32LE(r, rn + k);
    QStoreU32LE(l, ln - k);
  } else {
    // The underfull page is the left one: take the right one's first entries.
    if (half <= ln) return 1;
    const uint32_t k = half - ln;
    std::memcpy(Ent(l, ln, t.E), Ent(r, 0, t.E), size_t(k) * t.E);
    std::memmove(Ent(r, 0, t.E), Ent(r, k, t.E), size_t(rn - k) * t.E);
    QStoreU32LE(l, ln + k);
    QStoreU32LE(r, rn - k);
    if (leftWasEmpty) {
      std::memcpy(f->keyA, Ent(l, 0, t.E), size_t(t.K));
      if (!SeparatorUpdate(t, level, f->keyA)) return 0;
    }
  }
  PageDirty(f, leftPage);
  PageDirty(f, rightPage);
  std::memcpy(Ent(parent, j, t.E), Ent(r, 0, t.E), size_t(t.K));
  PageDirty(f, up.page);
  return 1;
}

// Frees every page of a tree, level by level along the level links.
int16_t FreeTree(Tree& t) {
  IndexFile* f = t.f;
  uint32_t first = t.e->root;
  for (int level = 0; level < t.e->depth && first != 0; ++level) {
    uint32_t n;
    uint8_t* p = TreePage(t, first, &n);
    if (!p) return 0;
    uint32_t below = 0;
    if (level + 1 < t.e->depth) {
      if (n == 0) {
        PushDamaged(f);
        return 0;
      }
      below = QLoadU32LE(Ent(p, 0, t.E) + t.K);
    }
    if (QLoadU32LE(p + 4) != 0) {
      PushDamaged(f);
      return 0;
    }
    uint32_t page = first;
    uint8_t* q = p;
    for (;;) {
      const uint32_t next = QLoadU32LE(q + 8);
      uint8_t* r = nullptr;
      if (next != 0 && !(r = FollowLink(t, page, q, next, true, false, &n))) return 0;
      if (!PageFree(f, page)) return 0;
      if (next == 0) break;
      page = next;
      q = r;
    }
    first = below;
  }
  return 1;
}

// ===== Cursors ===============================================================

bool CursorOnEntry(const IndexEntry& e) { return e.cursorPage != 0; }

void CursorSet(IndexEntry& e, uint32_t page, uint32_t position) {
  e.cursorPage = page;
  e.cursorPosition = position;
}

// Stands the field index's key buffer on the entry at (page, position).
void StandOn(Tree& t, FieldIndex* index, const uint8_t* p, uint32_t page, uint32_t position) {
  const uint8_t* at = Ent(p, position, t.E);
  IndexKey& key = index->key;
  std::memcpy(key.bytes, at, size_t(t.K));
  if (t.K < kIndexMaxKey) std::memset(key.bytes + t.K, 0, size_t(kIndexMaxKey - t.K));
  key.row = QLoadU32LE(at + t.K);
  key.length = uint8_t(t.K);
  DecodeKey(&key);
  CursorSet(*t.e, page, position);
}

// Finds the cursor's entry: where the cursor words say when that entry still
// holds the key buffer's key and row, else by searching for them.
int16_t CursorLocate(Tree& t, FieldIndex* index, uint32_t* page, uint32_t* position) {
  IndexEntry& e = *t.e;
  const IndexKey& key = index->key;
  if (PageOffsetValid(t.f, e.cursorPage)) {
    uint8_t* p = PageGet(t.f, e.cursorPage);
    if (!p) return 0;
    const uint32_t n = Count(p);
    if (n <= t.M && e.cursorPosition < n) {
      const uint8_t* at = Ent(p, e.cursorPosition, t.E);
      if (QLoadU32LE(at + t.K) == key.row && std::memcmp(at, key.bytes, size_t(t.K)) == 0) {
        *page = e.cursorPage;
        *position = e.cursorPosition;
        return 1;
      }
    }
  }
  if (!Descend(t, key.bytes, false)) return 0;
  IndexPathStep& s = t.f->path[t.e->depth - 1];
  uint32_t at = s.page;
  uint32_t pos = s.position;
  uint32_t n;
  uint8_t* p = TreePage(t, at, &n);
  while (p) {
    for (; pos < n; ++pos) {
      const uint8_t* x = Ent(p, pos, t.E);
      if (std::memcmp(x, key.bytes, size_t(t.K)) != 0) return 0;
      if (QLoadU32LE(x + t.K) == key.row) {
        *page = at;
        *position = pos;
        return 1;
      }
    }
    const uint32_t next = QLoadU32LE(p + 8);
    if (next == 0) return 0;
    p = FollowLink(t, at, p, next, true, true, &n);
    at = next;
    pos = 0;
  }
  return 0;
}

// One step along the leaf level: 1 with the new place, 0 at the end (or on
// failure, with an error pushed).
int16_t StepNext(Tree& t, uint32_t* page, uint32_t* position, uint8_t** bytes) {
  uint32_t n;
  uint8_t* p = TreePage(t, *page, &n);
  if (!p) return 0;
  uint32_t pos = *position + 1;
  while (pos >= n) {
    uint32_t next = QLoadU32LE(p + 8);
    if (next == 0) return 0;
    p = FollowLink(t, *page, p, next, true, true, &n);
    if (!p) return 0;
    *page = next;
    pos = 0;
  }
  *position = pos;
  *bytes = p;
  return 1;
}

int16_t StepPrevious(Tree& t, uint32_t* page, uint32_t* position, uint8_t** bytes) {
  uint32_t n;
  uint8_t* p = TreePage(t, *page, &n);
  if (!p) return 0;
  int64_t pos = int64_t(*position) - 1;
  while (pos < 0) {
    uint32_t previous = QLoadU32LE(p + 4);
    if (previous == 0) return 0;
    p = FollowLink(t, *page, p, previous, false, true, &n);
    if (!p) return 0;
    *page = previous;
    pos = int64_t(n) - 1;
  }
  *position = uint32_t(pos);
  *bytes = p;
  return 1;
}

// The first entry at or after the leaf position the path ends at.
int16_t PathEntry(Tree& t, uint32_t* page, uint32_t* position, uint8_t** bytes) {
  const IndexPathStep& s = t.f->path[t.e->depth - 1];
  uint32_t n;
  uint8_t* p = TreePage(t, s.page, &n);
  if (!p) return 0;
  if (s.position < n) {
    *page = s.page;
    *position = s.position;
    *bytes = p;
    return 1;
  }
  *page = s.page;
  *position = n == 0 ? 0 : n - 1;
  if (n == 0) {
    // Only an empty root leaf has no entries; a later leaf holds the next.
    uint32_t from = s.page;
    uint32_t next = QLoadU32LE(p + 8);
    while (next != 0) {
      uint8_t* q = FollowLink(t, from, p, next, true, true, &n);
      if (!q) return 0;
      if (n > 0) {
        *page = next;
        *position = 0;
        *bytes = q;
        return 1;
      }
      from = next;
      p = q;
      next = QLoadU32LE(q + 8);
    }
    return 0;
  }
  return StepNext(t, page, position, bytes);
}

int16_t InsertKey(Tree& t, const uint8_t* key, uint32_t row, bool unique) {
  IndexFile* f = t.f;
  if (!Descend(t, key, true)) return 0;
  const int leaf = t.e->depth - 1;
  const IndexPathStep& s = f->path[leaf];
  if (unique && s.position > 0) {
    uint8_t* p = PageGet(f, s.page);
    if (!p) return 0;
    if (std::memcmp(Ent(p, s.position - 1, t.E), key, size_t(t.K)) == 0) return 0;
  }
  return InsertAt(t, leaf, s.position, key, row);
}

// The bulk buffer's budget: a run this large is sorted and put into the tree
// before more keys are gathered.
constexpr size_t kBulkBytes = size_t(64) << 20;
// Pages written in one go by a layout that appends to the file.
constexpr uint32_t kBulkRunPages = 128;

BulkItem ItemOf(const uint8_t* key) {
  return BulkItem{QLoadU64BE(key), QLoadU64BE(key + 8),
                  uint32_t(QLoadU32BE(key + 16)), 0};
}

// The entry of an item: key bytes then row.
void ItemEntry(const IndexBulk* b, const BulkItem& item, uint8_t* out) {
  uint8_t head[kItemKeyBytes];
  QStoreU64BE(head, item.high);
  QStoreU64BE(head + 8, item.low);
  QStoreU32BE(head + 16, item.third);
  std::memcpy(out, head, size_t(std::min(b->K, kItemKeyBytes)));
  if (b->tail > 0) {
    std::memcpy(out + kItemKeyBytes, b->tails + size_t(item.tag) * size_t(b->tail),
                size_t(b->tail));
  }
  QStoreU32LE(out + b->K, b->byPosition ? b->rows[item.tag] : item.tag);
}

// Compares the keys of two items: <0, 0, >0.
int ItemCompare(const IndexBulk* b, const BulkItem& x, const BulkItem& y) {
  if (x.high != y.high) return x.high < y.high ? -1 : 1;
  if (x.low != y.low) return x.low < y.low ? -1 : 1;
  if (x.third != y.third) return x.third < y.third ? -1 : 1;
  if (b->tail > 0) {
    const size_t n = size_t(b->tail);
    return std::memcmp(b->tails + size_t(x.tag) * n, b->tails + size_t(y.tag) * n, n);
  }
  return 0;
}

// Writes pages appended to the file in runs of neighbouring pages.
struct PageRun {
  IndexFile* f;
  std::vector<uint8_t> bytes;
  uint32_t start = 0;  // offset of the first page held
  uint32_t held = 0;

  bool Flush() {
    if (held == 0) return true;
    const int32_t n = int32_t(held * uint32_t(kIndexPageSize));
    held = 0;
    return FileSeek(f->file, start, 0) == int64_t(start) &&
           FileWrite(f->file, bytes.data(), n) == n;
  }
  // The zeroed bytes of the page at `offset`; null when a write failed.
  uint8_t* Page(uint32_t offset) {
    if (held > 0 && (held == kBulkRunPages || offset != start + held * kIndexPageSize)) {
      if (!Flush()) return nullptr;
    }
    if (held == 0) start = offset;
    uint8_t* p = bytes.data() + size_t(held++) * kIndexPageSize;
    std::memset(p, 0, kIndexPageSize);
    return p;
  }
};

// Lays sorted items out as a tree whose pages are filled evenly, level by
// level from the leaves; the tree's empty root page becomes the first leaf.
// With no free page to reuse, the new pages are appended to the file and
// written straight through the file layer in runs, past the page cache,
// which the build would otherwise fill with pages it does not read again.
// On failure the tree is left empty and its new pages freed.
int16_t BulkLayOut(Tree& t, IndexBulk* b, size_t n) {
  IndexFile* f = t.f;
  const bool direct = f->freeHead == 0;
  PageRun run{f, std::vector<uint8_t>(direct ? size_t(kBulkRunPages) * kIndexPageSize : 0)};
  std::vector<uint32_t> allocated;  // new pages, in the order taken
  std::vector<uint32_t> below;      // pages of the level below, with their first keys
  std::vector<uint8_t> belowFirsts;
  std::vector<uint32_t> pages;
  std::vector<uint8_t> firsts;
  uint8_t entry[kIndexMaxKey + 4];
  int depth = 0;
  bool ok = true;
  size_t m = n;  // entries of the level being written
  do {
    ++depth;
    if (depth > kDepthLimit || !GrowPath(f, depth)) {
      ok = false;
      break;
    }
    const size_t count = (m + t.M - 1) / t.M;
    pages.clear();
    firsts.clear();
    for (size_t i = 0; ok && i < count; ++i) {
      uint32_t page;
      if (depth == 1 && i == 0) {
        page = t.e->root;
      } else if (direct) {
        if (f->pageCount >= 0x7FFFFFu) {  // offsets stay below 2^32
          PushDamaged(f);
          ok = false;
          break;
        }
        page = f->pageCount++ * uint32_t(kIndexPageSize);
        f->headerDirty = 1;
        allocated.push_back(page);
      } else {
        OpBegin(f);
        uint8_t* unused;
        if (!(page = PageAlloc(f, &unused))) {
          ok = false;
          break;
        }
        allocated.push_back(page);
      }
      pages.push_back(page);
    }
    if (ok && direct && FileSize(f->file) < int64_t(f->pageCount) * kIndexPageSize &&
        FileSetSize(f->file, int64_t(f->pageCount) * kIndexPageSize) != 0) {
      ok = false;
    }
    size_t done = 0;
    for (size_t i = 0; ok && i < count; ++i) {
      const size_t take = (m - done) / (count - i) + ((m - done) % (count - i) ? 1 : 0);
      const uint32_t page = pages[i];
      const bool cached = !direct || page == t.e->root;
      uint8_t* p;
      if (cached) {
        OpBegin(f);
        p = PageGet(f, page);
        if (p) std::memset(p, 0, kIndexPageSize);
      } else {
        p = run.Page(page);
      }
      if (!p) {
        ok = false;
        break;
      }
      for (size_t j = 0; j < take; ++j) {
        uint8_t* at = Ent(p, uint32_t(j), t.E);
        if (depth == 1) {
          ItemEntry(b, b->items[done + j], entry);
          std::memcpy(at, entry, size_t(t.E));
        } else {
          std::memcpy(at, belowFirsts.data() + (done + j) * size_t(t.K), size_t(t.K));
          QStoreU32LE(at + t.K, below[done + j]);
        }
      }
      QStoreU32LE(p, uint32_t(take));
      QStoreU32LE(p + 4, i > 0 ? pages[i - 1] : 0);
      QStoreU32LE(p + 8, i + 1 < count ? pages[i + 1] : 0);
      if (cached) PageDirty(f, page);
      const uint8_t* first = Ent(p, 0, t.E);
      firsts.insert(firsts.end(), first, first + t.K);
      done += take;
    }
    below.swap(pages);
    belowFirsts.swap(firsts);
    m = below.size();
  } while (ok && m > 1);
  if (ok && direct) ok = run.Flush();
  if (!ok) {
    for (size_t i = allocated.size(); i-- > 0;) PageFree(f, allocated[i]);
    OpBegin(f);
    if (uint8_t* p = PageGet(f, t.e->root)) {
      std::memset(p, 0, kPageHead);
      PageDirty(f, t.e->root);
    }
    return 0;
  }
  t.e->root = below[0];
  t.e->depth = uint8_t(depth);
  f->headerDirty = 1;
  return 1;
}

// Sorts the gathered items and puts them into the tree: laid out afresh
// when the tree is empty, else inserted one by one in key order.
int16_t BulkRun(IndexBulk* b) {
  IndexFile* f = b->file;
  Tree t;
  if (!Ready(f, true) || !TreeOf(f, b->index->number, &t) || t.K != b->K) return 0;
  const size_t n = b->count;
  b->count = 0;
  BulkItem* items = b->items;
  // Equal keys keep the order added: the tags, rows or positions, grow with it.
  std::sort(items, items + n, [b](const BulkItem& x, const BulkItem& y) {
    int c = ItemCompare(b, x, y);
    return c != 0 ? c < 0 : x.tag < y.tag;
  });
  const bool unique = b->index->unique != 0;
  if (unique) {
    for (size_t i = 1; i < n; ++i) {
      if (ItemCompare(b, items[i - 1], items[i]) == 0) return 0;
    }
  }
  OpBegin(f);
  uint32_t rootCount;
  if (!TreePage(t, t.e->root, &rootCount)) return 0;
  if (t.e->depth == 1 && rootCount == 0) return n == 0 ? 1 : BulkLayOut(t, b, n);
  uint8_t entry[kIndexMaxKey + 4];
  for (size_t i = 0; i < n; ++i) {
    ItemEntry(b, items[i], entry);
    OpBegin(f);
    t.hops = 0;
    std::memcpy(f->keyA, entry, size_t(b->K));
    if (!InsertKey(t, f->keyA, QLoadU32LE(entry + b->K), unique)) return 0;
  }
  return 1;
}

// Room for `want` entries; false (nothing pushed) without memory.
bool BulkReserve(IndexBulk* b, size_t want) {
  void* items = MemRealloc(b->items, want * sizeof(BulkItem));
  if (!items) return false;
  b->items = static_cast<BulkItem*>(items);
  if (b->tail > 0) {
    void* tails = MemRealloc(b->tails, want * size_t(b->tail));
    if (!tails) return false;
    b->tails = static_cast<uint8_t*>(tails);
  }
  if (b->byPosition) {
    void* rows = MemRealloc(b->rows, want * sizeof(uint32_t));
    if (!rows) return false;
    b->rows = static_cast<uint32_t*>(rows);
  }
  b->capacity = want;
  return true;
}

// From here on the tags are positions: the rows so far move beside.
bool BulkByPosition(IndexBulk* b) {
  auto* rows = static_cast<uint32_t*>(MemAlloc(std::max<size_t>(b->capacity, 1) * 4));
  if (!rows) {
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return false;
  }
  for (size_t i = 0; i < b->count; ++i) {
    rows[i] = b->items[i].tag;
    b->items[i].tag = uint32_t(i);
  }
  b->rows = rows;
  b->byPosition = 1;
  return true;
}

void BulkFree(IndexBulk* b) {
  MemFree(b->items);
  MemFree(b->tails);
  MemFree(b->rows);
  delete b;
}

}  // namespace

// ===== File level ============================================================

uint32_t IndexCacheSetPageLimit(uint32_t pages) {
  uint32_t old = gPageLimit;
  gPageLimit = std::max<uint32_t>(pages, 16);
  return old;
}

IndexFile* IndexFileCreate(const char* tableName, const char* directory, int fileKind,
                           int temporary) {
  const bool temp = temporary || !tableName || !*tableName;
  FileHandle handle = CreateEntry(tableName, directory, fileKind, temp);
  if (!handle) return nullptr;
  IndexFile* f = ObjectNew(handle);
  if (!f) {
    if (temp) {
      FileCloseAndRemove(handle);
      FileRelease(handle);
    }
    return nullptr;
  }
  if (FileOpen(handle, kFileModeCreate, nullptr) < 0) {
    if (temp) {
      FileCloseAndRemove(handle);
      FileRelease(handle);
    }
    ObjectFree(f);
    return nullptr;
  }
  f->mode = kFileModeWrite;
  f->useCount = 1;
  f->deleteOnClose = temp ? 1 : 0;
  f->version = kVersion;
  f->pageSize = kIndexPageSize;
  f->stamp = uint16_t(NormStamp(1));
  f->charset = uint16_t(CurrentTableCharset());
  f->subCrc = uint16_t(NormStamp(2));
  f->pageCount = 1;
  if (!HeaderWrite(f) || FileSetSize(handle, kIndexPageSize) != 0) {
    FileClose(handle);
    FileCloseAndRemove(handle);
    if (temp) FileRelease(handle);
    ObjectFree(f);
    return nullptr;
  }
  return f;
}

IndexFile* IndexFileOpen(FileHandle handle, int mode) {
  if (FileHandleCheck(handle) < 0) return nullptr;
  IndexFile* f = ObjectNew(handle);
  if (!f) return nullptr;
  if (FileOpen(handle, mode, nullptr) < 0) {
    ObjectFree(f);
    return nullptr;
  }
  f->mode = mode >= kFileModeWrite ? kFileModeWrite : kFileModeRead;
  f->useCount = 1;
  int16_t r = HeaderLoad(f, true);
  if (r == 1) {
    // Every root page must be a page of its tree.
    OpBegin(f);
    for (int i = 0; i < f->entryCount && r == 1; ++i) {
      if (f->entries[i].root == 0) continue;
      Tree t;
      uint32_t n = 0;
      if (!TreeOf(f, i + 1, &t) || !TreePage(t, t.e->root, &n)) {
        r = 0;
      } else if (t.e->depth > 1 && n == 0) {
        PushDamaged(f);
        r = 0;
      }
    }
  }
  if (r == 1) return f;
  FileClose(handle);
  ObjectFree(f);
  if (r < 0) {
    char name[kPathCapacity];
    FileBaseName(handle, name);
    ErrorPush(kErrorSeverity, kErrIndexCollation, name, nullptr);
    char text[kPathCapacity + 256];
    std::snprintf(text, sizeof text, "The index file %s was build using a different language.",
                  name);
    ErrorFatal("%s", text);
  }
  return nullptr;
}

int16_t IndexFileFlush(IndexFile* f) {
  if (!f || f->useCount == 0 || f->mode < kFileModeWrite) return 1;
  IndexPageCache& c = *f->cache;
  const int64_t size = int64_t(f->pageCount) * kIndexPageSize;
  if (FileSize(f->file) != size && FileSetSize(f->file, size) != 0) return 0;
  // In file order, so that the file layer writes runs of neighbouring pages.
  for (size_t index = 0; index < c.slotOf.size() && index < f->pageCount; ++index) {
    int32_t s = c.slotOf[index];
    if (s < 0) continue;
    IndexPageCache::Slot& slot = c.slots[size_t(s)];
    if (slot.dirty && !WriteSlot(f, slot)) return 0;
  }
  if (f->headerDirty && !HeaderWrite(f)) return 0;
  return 1;
}

void IndexFileClose(IndexFile* f) {
  if (!f) return;
  if (f->useCount > 0) {
    IndexFileFlush(f);
    FileClose(f->file);
  }
  if (f->deleteOnClose) {
    FileCloseAndRemove(f->file);
    FileRelease(f->file);
  }
  ObjectFree(f);
}

int16_t IndexFileReopen(IndexFile* f, int mode) {
  if (!f) return 0;
  if (f->useCount == 0) {
    f->mode = mode >= kFileModeWrite ? kFileModeWrite : kFileModeRead;  // for the next acquire
    return 1;
  }
  if (!IndexFileFlush(f)) return 0;
  FileClose(f->file);
  uint32_t changed = 0;
  if (FileOpen(f->file, mode, &changed) < 0) {
    // Back to the open it had, so that the use count stays true.
    if (FileOpen(f->file, f->mode, nullptr) < 0) f->useCount = 0;
    return 0;
  }
  f->mode = mode >= kFileModeWrite ? kFileModeWrite : kFileModeRead;
  if (changed) {
    CacheDrop(f);
    if (HeaderLoad(f, false) != 1) return 0;
  }
  return 1;
}

int16_t IndexFileAcquire(IndexFile* f, int mode) {
  if (!f) return 0;
  if (f->useCount > 0) {
    if (mode >= kFileModeWrite && f->mode < kFileModeWrite && !IndexFileReopen(f, mode)) return 0;
    ++f->useCount;
    return 1;
  }
  uint32_t changed = 0;
  if (FileOpen(f->file, mode, &changed) < 0) return 0;
  f->mode = mode >= kFileModeWrite ? kFileModeWrite : kFileModeRead;
  if (changed) {
    CacheDrop(f);
    if (HeaderLoad(f, false) != 1) {
      FileClose(f->file);
      return 0;
    }
  }
  f->useCount = 1;
  return 1;
}

void IndexFileRelease(IndexFile* f) {
  if (!f || f->useCount == 0) return;
  if (f->useCount == 1) {
    IndexFileFlush(f);
    FileClose(f->file);
  }
  --f->useCount;
}

// ===== Entries ===============================================================

int IndexAdd(IndexFile* f, uint8_t fieldType, int keyLength, int unique) {
  (void)unique;  // recorded by the table's definition, not in the file
  if (!Ready(f, true)) return 0;
  if (f->version != kVersion) return 0;
  const int length = IndexKeyLength(fieldType, keyLength, 1);
  if (length == 0) return 0;
  int slot = -1;
  for (int i = 0; i < f->entryCount; ++i) {
    if (f->entries[i].root == 0) {
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    if ((f->entryCount + 4) * kEntrySize > kIndexPageSize) return 0;
    slot = f->entryCount;
  }
  OpBegin(f);
  uint8_t* p;
  const uint32_t root = PageAlloc(f, &p);
  if (!root) return 0;
  if (slot == f->entryCount) ++f->entryCount;
  f->entries[slot] = IndexEntry{root, MaxKeysFor(length), 1, uint8_t(length), 0, 0};
  f->headerDirty = 1;
  return slot + 1;
}

int16_t IndexDrop(IndexFile* f, int number) {
  if (!Ready(f, true)) return 0;
  Tree t;
  if (!TreeOf(f, number, &t)) return 0;
  OpBegin(f);
  bool others = false;
  for (int i = 0; i < f->entryCount; ++i) {
    if (i != number - 1 && f->entries[i].root != 0) others = true;
  }
  if (!others) {
    CacheDrop(f);
    f->pageCount = 1;
    f->freeHead = 0;
  } else if (!FreeTree(t)) {
    return 0;
  }
  f->entries[number - 1] = IndexEntry{};
  f->headerDirty = 1;
  return 1;
}

int16_t IndexInsert(IndexFile* f, FieldIndex* index, const Value* value, uint32_t row) {
  if (!Ready(f, true) || !index) return 0;
  Tree t;
  if (!TreeOf(f, index->number, &t)) return 0;
  OpBegin(f);
  const IndexKey& k = index->key;
  if (!EncodeKey(value, k.type, k.width, t.K, k.decimals, f->stamp, f->keyA, nullptr)) return 0;
  return InsertKey(t, f->keyA, row, index->unique != 0);
}

// ===== Bulk building =========================================================

IndexBulk* IndexBulkBegin(IndexFile* f, FieldIndex* index, uint32_t expected) {
  if (!Ready(f, true) || !index) return nullptr;
  Tree t;
  if (!TreeOf(f, index->number, &t)) return nullptr;
  auto* b = new (std::nothrow) IndexBulk{};
  if (!b) {
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return nullptr;
  }
  b->file = f;
  b->index = index;
  b->K = t.K;
  b->E = t.E;
  b->tail = std::max(t.K - kItemKeyBytes, 0);
  b->byPosition = b->tail > 0 ? 1 : 0;
  const size_t each = sizeof(BulkItem) + size_t(b->tail) + (b->byPosition ? 4 : 0);
  b->limit = std::max<size_t>(kBulkBytes / each, 1024);
  // Without room for what is expected the buffer grows as keys come.
  const size_t want = std::min<size_t>(expected, b->limit);
  if (want > 0) BulkReserve(b, want);
  return b;
}

int16_t IndexBulkAdd(IndexBulk* b, const Value* value, uint32_t row) {
  if (!b || b->failed) return 0;
  if (b->count == b->capacity) {
    if (b->count >= b->limit) {
      // A full buffer goes into the tree as a sorted run.
      if (!BulkRun(b)) {
        b->failed = 1;
        return 0;
      }
    } else if (!BulkReserve(b, std::min(b->limit, std::max<size_t>(b->capacity * 2, 4096)))) {
      ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
      b->failed = 1;
      return 0;
    }
  }
  const IndexKey& k = b->index->key;
  uint8_t key[kIndexMaxKey];
  if (!EncodeKey(value, k.type, k.width, b->K, k.decimals, b->file->stamp, key, nullptr)) {
    b->failed = 1;
    return 0;
  }
  if (b->K < kItemKeyBytes) std::memset(key + b->K, 0, size_t(kItemKeyBytes - b->K));
  const size_t i = b->count;
  if (!b->byPosition && i > 0 && row <= b->lastRow && !BulkByPosition(b)) {
    b->failed = 1;
    return 0;
  }
  BulkItem& item = b->items[i];
  item = ItemOf(key);
  if (b->byPosition) {
    item.tag = uint32_t(i);
    b->rows[i] = row;
  } else {
    item.tag = row;
  }
  if (b->tail > 0) {
    std::memcpy(b->tails + i * size_t(b->tail), key + kItemKeyBytes, size_t(b->tail));
  }
  b->lastRow = row;
  ++b->count;
  return 1;
}

int16_t IndexBulkFinish(IndexBulk* b) {
  if (!b) return 0;
  int16_t ok = !b->failed && (b->count == 0 || BulkRun(b)) ? 1 : 0;
  BulkFree(b);
  return ok;
}

void IndexBulkAbort(IndexBulk* b) {
  if (b) BulkFree(b);
}

int16_t IndexDelete(IndexFile* f, FieldIndex* index, const Value* value, uint32_t row) {
  if (!Ready(f, true) || !index) return 0;
  Tree t;
  if (!TreeOf(f, index->number, &t)) return 0;
  OpBegin(f);
  const IndexKey& k = index->key;
  uint8_t* key = f->keyA;
  if (!EncodeKey(value, k.type, k.width, t.K, k.decimals, f->stamp, key, nullptr)) return 0;
  if (!Descend(t, key, false)) return 0;
  const int leaf = t.e->depth - 1;
  // The equal keys are in insertion order: walk them for the row.
  for (;;) {
    IndexPathStep& s = f->path[leaf];
    uint32_t n;
    uint8_t* p = TreePage(t, s.page, &n);
    if (!p) return 0;
    for (; s.position < n; ++s.position) {
      const uint8_t* at = Ent(p, s.position, t.E);
      if (std::memcmp(at, key, size_t(t.K)) != 0) return 0;
      if (QLoadU32LE(at + t.K) == row) {
        const uint32_t page = s.page;
        const uint32_t position = s.position;
        IndexEntry& e = *t.e;
        if (e.cursorPage == page && e.cursorPosition == position) {
          CursorSet(e, 0, kCursorNone);
          if (index->key.row == row) index->key.row = 0;
        }
        // RemoveAt may overwrite keyA with a new separator; the key is no
        // longer needed.
        return RemoveAt(t, leaf, position);
      }
    }
    bool end = false;
    if (!PathNextLeaf(t, &end)) return 0;
  }
}

int16_t IndexMoveCursor(IndexFile* f, FieldIndex* index, int move, int* equal) {
  if (equal) *equal = 0;
  if (!index) return 0;
  IndexKey& key = index->key;
  const uint32_t oldRow = key.row;
  key.row = 0;
  if (!Ready(f, false)) return 0;
  Tree t;
  if (!TreeOf(f, index->number, &t)) return 0;
  OpBegin(f);
  IndexEntry& e = *t.e;
  uint8_t* before = f->keyB;
  std::memcpy(before, key.bytes, size_t(t.K));
  const bool seek = move == kIndexSeek || move == kIndexSeekAfterEqual;
  const bool hadEntry = oldRow != 0 || seek;

  uint32_t page = 0, position = 0;
  uint8_t* p = nullptr;
  int16_t found = 0;
  auto atEnd = [&](uint32_t where) {
    CursorSet(e, 0, where);
    return int16_t(0);
  };
  switch (move) {
    case kIndexSeek:
    case kIndexSeekAfterEqual:
      if (!Descend(t, key.bytes, move == kIndexSeekAfterEqual)) return 0;
      found = PathEntry(t, &page, &position, &p);
      if (!found) return atEnd(kCursorAfterLast);
      break;
    case kIndexFirst:
    case kIndexLast:
      if (!DescendEdge(t, move == kIndexLast)) return 0;
      {
        const IndexPathStep& s = f->path[e.depth - 1];
        uint32_t n;
        p = TreePage(t, s.page, &n);
        if (!p) return 0;
        if (n == 0) return atEnd(kCursorAfterLast);
        page = s.page;
        position = s.position;
      }
      break;
    case kIndexBeforeFirst:
      return atEnd(kCursorBeforeFirst);
    case kIndexAfterLast:
      return atEnd(kCursorAfterLast);
    case kIndexNext:
    case kIndexNextDifferent:
    case kIndexNextEqual:
    case kIndexPrevious:
    case kIndexPreviousDifferent:
    case kIndexPreviousEqual: {
      const bool forward = move <= kIndexNextEqual;
      const bool different = move == kIndexNextDifferent || move == kIndexPreviousDifferent;
      if (!CursorOnEntry(e)) {
        if (e.cursorPosition == (forward ? kCursorBeforeFirst : kCursorAfterLast)) {
          return IndexMoveCursor(f, index, forward ? kIndexFirst : kIndexLast, equal);
        }
        if (e.cursorPosition == kCursorNone) CursorSet(e, 0, kCursorNone);
        return 0;
      }
      key.row = oldRow;
      if (!CursorLocate(t, index, &page, &position)) {
        key.row = 0;
        if (ErrorCount() == 0) CursorSet(e, 0, kCursorNone);
        return 0;
      }
      key.row = 0;
      for (;;) {
        found = forward ? StepNext(t, &page, &position, &p)
                        : StepPrevious(t, &page, &position, &p);
        if (!found) {
          if (ErrorCount() != 0) return 0;
          return atEnd(forward ? kCursorAfterLast : kCursorBeforeFirst);
        }
        if (!different || std::memcmp(Ent(p, position, t.E), before, size_t(t.K)) != 0) break;
      }
      break;
    }
    default:
      return 0;
  }
  StandOn(t, index, p, page, position);
  if (equal) *equal = hadEntry && std::memcmp(key.bytes, before, size_t(t.K)) == 0 ? 1 : 0;
  return 1;
}

// ===== Keys ==================================================================

int IndexKeyLength(uint8_t fieldType, int width, int report) {
  switch (fieldType) {
    case kFieldChar:
      if (width >= 1) return std::min(width, kIndexMaxKey);
      break;
    case kFieldChar25:
      return 25;
    case kFieldDecimal:
    case kFieldFloat:
      return 8;
    case kFieldInteger:
    case kFieldDate:
      return 4;
    case kFieldSmallint:
    case kFieldLogical:
      return 2;
    default:
      break;
  }
  if (report) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", fieldType);
    ErrorPush(kErrorSeverity, kErrIndexKeyType, text, nullptr);
  }
  return 0;
}

int16_t IndexKeyInitForField(IndexKey* key, uint8_t fieldType, int width) {
  std::memset(key, 0, sizeof *key);
  if (fieldType == kFieldChar25) {
    fieldType = kFieldChar;
    width = 25;
  }
  const int length = IndexKeyLength(fieldType, width, 1);
  if (length == 0) return 0;
  key->type = fieldType;
  key->width = uint8_t(std::clamp(width, 0, 255));
  key->length = uint8_t(length);
  key->value.kind = fieldType;
  if (fieldType == kFieldChar && !ValueAlloc(key->width, &key->value, nullptr)) {
    key->value.kind = kValueNone;
    return 0;
  }
  return 1;
}

void IndexKeyFree(IndexKey* key) {
  if (!key) return;
  if (key->value.kind == kValueText) ValueFree(&key->value);
  key->row = 0;
}

int16_t IndexKeyMake(const Value* value, IndexKey* key, int decimals, uint16_t stamp) {
  key->decimals = uint8_t(std::clamp(decimals, 0, 255));
  int length = key->length;
  if (length < 1 || length > kIndexMaxKey) {
    length = IndexKeyLength(key->type, key->width, 1);
    if (length == 0) return 0;
    key->length = uint8_t(length);
  }
  if (key->type == kFieldChar && key->value.kind != kValueText) {
    key->value.kind = kValueText;
    if (!ValueAlloc(key->width, &key->value, nullptr)) return 0;
  } else if (key->type != kFieldChar) {
    key->value.kind = key->type;
  }
  std::memset(key->bytes, 0, sizeof key->bytes);
  return EncodeKey(value, key->type, key->width, length, decimals, stamp, key->bytes,
                   &key->value);
}

}  // namespace layerio
