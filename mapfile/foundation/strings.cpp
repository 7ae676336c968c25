// Double-byte-safe text routines, case and classes, comparison ignoring
// case, the string pool and quoting.
//
// In double-byte mode (the system charset is a double-byte charset) a lead
// byte and the byte after it form one character, which no routine splits.
// Case and classes come from 256-entry tables; the default ones are those of
// Windows Latin-1 (charset 10), and of ASCII for double-byte charsets, whose
// bytes from 128 up have no case.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/charset_tables.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"

namespace layerio {
namespace {

// ASCII case and letters, nothing above 127.
constexpr CaseTables MakeAsciiTables() {
  CaseTables t{};
  for (unsigned c = 0; c < 256; ++c) {
    bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    t.upper[c] = uint8_t(lower ? c - 0x20 : c);
    t.lower[c] = uint8_t(upper ? c + 0x20 : c);
    t.alpha[c] = upper || lower ? 1 : 0;
    t.digit[c] = c >= '0' && c <= '9' ? 1 : 0;
  }
  return t;
}

// WindowsLatin1's tables are generated with the other charsets' ones.
const CaseTables& kLatin1Tables = charset_data::kCaseTables[charset_data::kWindowsLatin1CaseTable];
constexpr CaseTables kAsciiTables = MakeAsciiTables();

constexpr int kWindowsJapanese = 19;

inline bool Lead(const char* p, bool dbcs) {
  return dbcs && CharsetIsLeadByte(p, CharsetSystem()) && p[1] != 0;
}

// The character at p belongs to the set: same first byte and, for a lead
// byte, the same second byte.
bool InSet(const char* p, const char* set, bool dbcs) {
  bool lead = Lead(p, dbcs);
  for (const char* s = set; *s;) {
    bool slead = Lead(s, dbcs);
    if (s[0] == p[0] && (!lead || (slead && s[1] == p[1]))) return true;
    s += slead ? 2 : 1;
  }
  return false;
}

}  // namespace

const CaseTables& CurrentCaseTables() {
  const FoundationState& s = State();
  if (s.caseTables) return *s.caseTables;
  return CharsetIsDoubleByte(s.systemCharset) ? kAsciiTables : kLatin1Tables;
}

void SetCaseTables(const CaseTables* tables) {
  FoundationState& s = State();
  s.caseTables = tables;
  s.caseTablesFoldAscii = true;
  if (!tables) return;
  for (unsigned c = 0; c < 128; ++c) {
    unsigned folded = c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    if (tables->lower[c] != folded) s.caseTablesFoldAscii = false;
  }
}

int DbcsMode() { return CharsetIsDoubleByte(CharsetSystem()); }

// ----- walking -----

char* MbsNext(const char* position) {
  if (*position == 0) return const_cast<char*>(position);
  return const_cast<char*>(position + (Lead(position, DbcsMode()) ? 2 : 1));
}

char* MbsPrev(const char* start, const char* position) {
  if (position <= start) return const_cast<char*>(start);
  if (!DbcsMode()) return const_cast<char*>(position - 1);
  const char* p = start;
  for (;;) {
    const char* next = MbsNext(p);
    if (next >= position || next == p) return const_cast<char*>(p);
    p = next;
  }
}

int MbsIsLeadByte(const char* position) {
  return DbcsMode() && CharsetIsLeadByte(position, CharsetSystem()) ? 1 : 0;
}

char* MbsChr(const char* text, int byte) {
  bool dbcs = DbcsMode();
  if (!dbcs) return const_cast<char*>(std::strchr(text, byte));
  char b = char(byte);
  const char* p = text;
  for (; *p; p += Lead(p, true) ? 2 : 1) {
    if (*p == b) return const_cast<char*>(p);
  }
  return b == 0 ? const_cast<char*>(p) : nullptr;
}

char* MbsRchr(const char* text, int byte) {
  bool dbcs = DbcsMode();
  if (!dbcs) return const_cast<char*>(std::strrchr(text, byte));
  char b = char(byte);
  const char* found = nullptr;
  const char* p = text;
  for (; *p; p += Lead(p, true) ? 2 : 1) {
    if (*p == b) found = p;
  }
  return b == 0 ? const_cast<char*>(p) : const_cast<char*>(found);
}

size_t MbsCspn(const char* text, const char* set) {
  bool dbcs = DbcsMode();
  if (!dbcs) return std::strcspn(text, set);
  const char* p = text;
  while (*p && !InSet(p, set, true)) p += Lead(p, true) ? 2 : 1;
  return size_t(p - text);
}

size_t MbsSpn(const char* text, const char* set) {
  bool dbcs = DbcsMode();
  if (!dbcs) return std::strspn(text, set);
  const char* p = text;
  while (*p && InSet(p, set, true)) p += Lead(p, true) ? 2 : 1;
  return size_t(p - text);
}

char* MbsPbrk(const char* text, const char* set) {
  size_t n = MbsCspn(text, set);
  return text[n] ? const_cast<char*>(text + n) : nullptr;
}

int32_t MbsFindLastOf(const char* text, const char* set) {
  bool dbcs = DbcsMode();
  int32_t last = -1;
  for (const char* p = text; *p; p += Lead(p, dbcs) ? 2 : 1) {
    if (InSet(p, set, dbcs)) last = int32_t(p - text);
  }
  return last;
}

char* MbsReverse(char* text) {
  size_t n = std::strlen(text);
  if (DbcsMode()) {
    for (char* p = text; *p;) {
      if (Lead(p, true)) {
        char t = p[0];
        p[0] = p[1];
        p[1] = t;
        p += 2;
      } else {
        ++p;
      }
    }
  }
  BytesReverse(text, n);
  return text;
}

char* MbsTok(char* text, const char* delimiters) {
  char*& saved = State().tokenSaved;
  char* p = text ? text : saved;
  if (!p) return nullptr;
  p += MbsSpn(p, delimiters);
  if (*p == 0) {
    saved = p;
    return nullptr;
  }
  char* token = p;
  char* end = MbsPbrk(p, delimiters);
  if (!end) {
    saved = p + std::strlen(p);
  } else {
    bool lead = MbsIsLeadByte(end) && end[1] != 0;
    end[0] = 0;
    if (lead) end[1] = 0;
    saved = end + (lead ? 2 : 1);
  }
  return token;
}

// ----- case and classes -----

int CharToUpper(int c) { return CurrentCaseTables().upper[c & 0xFF]; }
int CharToLower(int c) { return CurrentCaseTables().lower[c & 0xFF]; }

namespace {
char* MapCase(char* text, const uint8_t* map) {
  bool dbcs = DbcsMode();
  for (char* p = text; *p;) {
    if (Lead(p, dbcs)) {
      p += 2;
      continue;
    }
    *p = char(map[static_cast<unsigned char>(*p)]);
    ++p;
  }
  return text;
}
}  // namespace

char* StrToUpper(char* text) { return MapCase(text, CurrentCaseTables().upper); }
char* StrToLower(char* text) { return MapCase(text, CurrentCaseTables().lower); }

int CharIsAlpha(int c) {
  unsigned b = unsigned(c) & 0xFF;
  if (CurrentCaseTables().alpha[b]) return 1;
  return CharsetSystem() == kWindowsJapanese && b >= 0xA1 && b <= 0xDF ? 1 : 0;
}

int CharIsAlnum(int c) {
  unsigned b = unsigned(c) & 0xFF;
  return CharIsAlpha(int(b)) || CurrentCaseTables().digit[b] ? 1 : 0;
}

int CharIsPrint(int c) {
  unsigned b = unsigned(c) & 0xFF;
  return b >= 128 || (b >= 0x20 && b < 0x7F) ? 1 : 0;
}

// ----- comparison -----

namespace {

#if defined(__SSE2__)
constexpr size_t kBlock = 16;
constexpr uintptr_t kPage = 4096;

inline bool BlockStaysInPage(const unsigned char* p) {
  return (reinterpret_cast<uintptr_t>(p) & (kPage - 1)) <= kPage - kBlock;
}

inline __m128i FoldAscii(__m128i v) {
  // Bytes 'A'..'Z' get 0x20 added; the shift puts 'A' at -128 so one signed
  // comparison finds the range.
  __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(char('A' - 128)));
  __m128i upper = _mm_cmplt_epi8(shifted, _mm_set1_epi8(char(-128 + 26)));
  return _mm_add_epi8(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}

// Sixteen bytes of both texts at once, for tables that fold ASCII as ASCII
// does: the mask of the places where the folded bytes differ or the first
// text ends, 0 when the block is equal throughout. Bytes from 128 up are
// left as they are, so a place before the first marked one is equal under
// the table too. The loads may read past the end of a text, but never past
// its page: what lies behind the terminator is never used.
__attribute__((no_sanitize_address)) inline unsigned BlockStops(const unsigned char* pa,
                                                                const unsigned char* pb) {
  __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pa));
  __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb));
  unsigned differs =
      unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(FoldAscii(va), FoldAscii(vb)))) ^ 0xFFFFu;
  unsigned ends = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(va, _mm_setzero_si128())));
  return differs | ends;
}
#endif

// Orders two texts by their lowered bytes; in double-byte mode a double-byte
// character compares by its bytes unchanged. At most n characters.
__attribute__((noinline)) int CompareLowered(const char* a, const char* b, size_t n) {
  const FoundationState& s = State();
  const bool dbcs = CharsetIsDoubleByte(s.systemCharset);
  const uint8_t* lower = s.caseTables ? s.caseTables->lower
                                      : (dbcs ? kAsciiTables.lower : kLatin1Tables.lower);
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b);
  if (!dbcs) {
    // Equal bytes need no table.
    for (; n; --n, ++pa, ++pb) {
      unsigned ca = *pa, cb = *pb;
      if (ca == cb) {
        if (ca == 0) return 0;
        continue;
      }
      ca = lower[ca];
      cb = lower[cb];
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
  }
  for (; n; --n) {
    bool la = Lead(reinterpret_cast<const char*>(pa), true);
    bool lb = Lead(reinterpret_cast<const char*>(pb), true);
    unsigned ca = la ? *pa : lower[*pa], cb = lb ? *pb : lower[*pb];
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
    if (la != lb) return la ? 1 : -1;
    if (la) {
      if (pa[1] != pb[1]) return pa[1] < pb[1] ? -1 : 1;
      pa += 2;
      pb += 2;
    } else {
      ++pa;
      ++pb;
    }
  }
  return 0;
}

// Whole blocks of sixteen bytes while they hold ASCII only; what is left
// goes the byte-by-byte way. Kept small, since most comparisons end in
// their first block.
inline int CompareNoCaseFast(const char* a, const char* b, size_t n) {
#if defined(__SSE2__)
  const FoundationState& s = State();
  if (!CharsetIsDoubleByte(s.systemCharset) && s.caseTablesFoldAscii) {
    const uint8_t* lower = s.caseTables ? s.caseTables->lower : kLatin1Tables.lower;
    const unsigned char* pa = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* pb = reinterpret_cast<const unsigned char*>(b);
    while (n >= kBlock && BlockStaysInPage(pa) && BlockStaysInPage(pb)) {
      unsigned stops = BlockStops(pa, pb);
      if (!stops) {
        pa += kBlock;
        pb += kBlock;
        n -= kBlock;
        continue;
      }
      unsigned i = unsigned(__builtin_ctz(stops));
      unsigned ca = lower[pa[i]], cb = lower[pb[i]];
      if (ca != cb) return ca < cb ? -1 : 1;
      if (ca == 0) return 0;
      // Two bytes from 128 up that the table makes equal: go on behind them.
      pa += i + 1;
      pb += i + 1;
      n -= i + 1;
    }
    a = reinterpret_cast<const char*>(pa);
    b = reinterpret_cast<const char*>(pb);
  }
#endif
  return CompareLowered(a, b, n);
}

}  // namespace

int StrCompareNoCase(const char* a, const char* b) { return CompareNoCaseFast(a, b, size_t(-1)); }

int StrCompareNoCaseN(const char* a, const char* b, size_t n) { return CompareNoCaseFast(a, b, n); }

int StrEqual(const char* a, const char* b) { return std::strcmp(a, b) == 0 ? 1 : 0; }

int StrEqualNoCase(const char* a, const char* b) {
  return CompareNoCaseFast(a, b, size_t(-1)) == 0 ? 1 : 0;
}

int StrEqualN(const char* a, const char* b, size_t n) {
  return std::strncmp(a, b, n) == 0 ? 1 : 0;
}

int StrEqualNoCaseN(const char* a, const char* b, size_t n) {
  return CompareNoCaseFast(a, b, n) == 0 ? 1 : 0;
}

char* StrMapBytes(char* text, const uint8_t* table) {
  return MapCase(text, table);
}

// ----- string pool -----

namespace {

struct PoolView {
  unsigned char* base;
  size_t heap;  // usable bytes of the block
};

PoolView View(MemHandle pool) {
  return PoolView{static_cast<unsigned char*>(HandleLock(pool)), MemBlockSize(&pool)};
}

// The text of the entry at offset, or null when the offset (or the entry's
// text) does not lie inside the block.
const char* EntryText(const PoolView& v, size_t offset, size_t dataSize) {
  if (offset == 0 || offset + dataSize >= v.heap) return nullptr;
  const char* t = reinterpret_cast<const char*>(v.base + offset + dataSize);
  if (!std::memchr(t, 0, v.heap - offset - dataSize)) return nullptr;
  return t;
}

}  // namespace

uint32_t StrPoolAdd(MemHandle* pool, const char* text, const void* data, size_t dataSize,
                    int sorted) {
  if (!text || !*text) return 0;  // an empty text would read as the end
  size_t len = std::strlen(text);
  if (!*pool) {
    MemHandle handle = nullptr;
    void* p = nullptr;
    if (!MemAllocZero(len + 2 * dataSize + 3, &handle, &p)) return 0;
    unsigned char* base = static_cast<unsigned char*>(p);
    if (data) std::memcpy(base + 1, data, dataSize);
    std::memcpy(base + 1 + dataSize, text, len + 1);
    *pool = handle;
    return 1;
  }
  PoolView v = View(*pool);
  size_t offset = 1;
  size_t insertAt = 0;
  for (;;) {
    const char* t = EntryText(v, offset, dataSize);
    if (!t) return 0;  // a damaged pool
    if (!*t) break;
    if (StrCompareNoCase(t, text) == 0) {
      if (data) std::memcpy(v.base + offset, data, dataSize);
      return uint32_t(offset);
    }
    if (sorted && !insertAt && StrCompareNoCase(t, text) > 0) insertAt = offset;
    offset += dataSize + std::strlen(t) + 1;
  }
  size_t end = offset + dataSize + 1;  // behind the end entry
  if (!insertAt) insertAt = offset;
  size_t grow = dataSize + len + 1;
  MemHandle handle = *pool;
  if (!MemReallocChecked(end + grow, &handle, nullptr)) return 0;
  *pool = handle;
  unsigned char* base = static_cast<unsigned char*>(handle);
  std::memmove(base + insertAt + grow, base + insertAt, end - insertAt);
  if (data) {
    std::memcpy(base + insertAt, data, dataSize);
  } else {
    std::memset(base + insertAt, 0, dataSize);
  }
  std::memcpy(base + insertAt + dataSize, text, len + 1);
  return uint32_t(insertAt);
}

void StrPoolGetAt(MemHandle pool, uint32_t offset, const char** text, size_t* size, void* data,
                  size_t dataSize) {
  static const char kEmpty[] = "";
  if (text) *text = kEmpty;
  if (size) *size = 0;
  if (!pool) return;
  PoolView v = View(pool);
  const char* t = EntryText(v, offset, dataSize);
  if (!t) return;
  if (text) *text = t;
  if (size) *size = std::strlen(t);
  if (data) std::memcpy(data, v.base + offset, dataSize);
}

int16_t StrPoolGetNth(MemHandle pool, int32_t n, const char** text, size_t* size, void* data,
                      size_t dataSize) {
  if (!pool || n < 0) return 0;
  PoolView v = View(pool);
  size_t offset = 1;
  for (int32_t i = 0;; ++i) {
    const char* t = EntryText(v, offset, dataSize);
    if (!t || !*t) return 0;
    if (i == n) {
      StrPoolGetAt(pool, uint32_t(offset), text, size, data, dataSize);
      return 1;
    }
    offset += dataSize + std::strlen(t) + 1;
  }
}

int16_t StrPoolFind(MemHandle pool, const char* text, void* data, size_t dataSize) {
  if (!pool || !text) return 0;
  PoolView v = View(pool);
  size_t offset = 1;
  for (;;) {
    const char* t = EntryText(v, offset, dataSize);
    if (!t || !*t) return 0;
    if (StrCompareNoCase(t, text) == 0) {
      if (data) std::memcpy(data, v.base + offset, dataSize);
      return 1;
    }
    offset += dataSize + std::strlen(t) + 1;
  }
}

// ----- quoting -----

char* StrQuote(char* destination, const char* source, const char* quote, size_t size) {
  if (!quote) quote = "\"";
  if (!*quote) return StrCopyPadded(destination, source, size);
  if (size < 3) return nullptr;
  // Quoting in place reads from a copy, so that both forms give one result.
  char local[512];
  char* copy = nullptr;
  if (destination == source) {
    size_t n = std::strlen(source) + 1;
    copy = n <= sizeof local ? local : static_cast<char*>(MemAlloc(n));
    if (!copy) return nullptr;
    std::memcpy(copy, source, n);
    source = copy;
  }
  const char q = quote[0];
  bool dbcs = DbcsMode();
  size_t room = size - 3;
  size_t n = 0;
  destination[n++] = q;
  for (const char* p = source; *p;) {
    if (*p == q) {
      if (room < 2) break;
      destination[n++] = q;
      destination[n++] = q;
      room -= 2;
      ++p;
    } else if (Lead(p, dbcs)) {
      if (room < 2) break;
      destination[n++] = p[0];
      destination[n++] = p[1];
      room -= 2;
      p += 2;
    } else {
      if (room < 1) break;
      destination[n++] = *p++;
      room -= 1;
    }
  }
  destination[n++] = q;
  destination[n] = 0;
  if (copy && copy != local) MemFree(copy);
  return destination;
}

char* StrQuoteDefault(char* destination, const char* source, size_t size) {
  return StrQuote(destination, source, "\"", size);
}

char* StrUnquote(char* destination, const char* source, const char* quote, size_t size) {
  if (!quote) quote = "\"";
  const char q = quote[0];
  if (!q || source[0] != q) return StrCopyPadded(destination, source, size);
  if (size == 0) return destination;
  bool dbcs = DbcsMode();
  size_t n = 0;
  const char* p = source + 1;
  while (*p && n + 1 < size) {
    if (*p == q) {
      if (p[1] != q) break;
      destination[n++] = q;
      p += 2;
    } else if (Lead(p, dbcs)) {
      if (n + 2 >= size) break;
      destination[n++] = p[0];
      destination[n++] = p[1];
      p += 2;
    } else {
      destination[n++] = *p++;
    }
  }
  destination[n] = 0;
  return destination;
}

}  // namespace layerio
