// Heap blocks that report their failure, singly linked lists, padded copies,
// trimming and the number parsers.
//
// Block sizes are the heap's usable sizes, which may exceed what was asked
// for; every allocation and growth zeroes the whole usable tail, so callers
// may rely on grown bytes being zero.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/value.h"
#include "platform/crt.h"

namespace layerio {

// ----- memory -----

void* MemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void* MemRealloc(void* block, size_t size) { return std::realloc(block, size ? size : 1); }

int16_t MemFree(void* block) {
  std::free(block);
  return 1;
}

void* HandleLock(MemHandle handle) { return handle; }

int16_t MemAllocZeroEx(size_t size, MemHandle* handle, void** pointer) {
  void* p = MemAlloc(size);
  if (!p) {
    if (handle) *handle = nullptr;
    if (pointer) *pointer = nullptr;
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(p, 0, platform::HeapBlockSize(p));
  if (handle) *handle = p;
  if (pointer) *pointer = p;
  return 1;
}

int16_t MemAllocZero(size_t size, MemHandle* handle, void** pointer) {
  return MemAllocZeroEx(size, handle, pointer);
}

int16_t MemAllocZeroGlobal(size_t size, MemHandle* handle, void** pointer) {
  return MemAllocZeroEx(size, handle, pointer);
}

int16_t MemFreePtr(void** pointer) {
  if (pointer && *pointer) {
    std::free(*pointer);
    *pointer = nullptr;
  }
  return 1;
}

int16_t MemResize(size_t size, MemHandle* handle, void** pointer) {
  void* old = handle ? *handle : (pointer ? *pointer : nullptr);
  size_t oldSize = platform::HeapBlockSize(old);
  void* p = MemRealloc(old, size);
  if (!p) {
    ErrorPush(kErrorSeverity, kErrResizeFailed, nullptr, nullptr);
    return 0;
  }
  if (handle) *handle = p;
  if (pointer) *pointer = p;
  size_t h = platform::HeapBlockSize(p);
  unsigned char* bytes = static_cast<unsigned char*>(p);
  if (h > oldSize) {
    std::memset(bytes + oldSize, 0, h - oldSize);
  } else if (h > size) {
    std::memset(bytes + size, 0, h - size);
  }
  return 1;
}

int16_t MemReallocChecked(size_t size, MemHandle* handle, void** pointer) {
  return MemResize(size, handle, pointer);
}

size_t MemSize(void* const* pointer) {
  return pointer ? platform::HeapBlockSize(*pointer) : 0;
}

size_t MemBlockSize(const MemHandle* handle) {
  return handle ? platform::HeapBlockSize(*handle) : 0;
}

// ----- lists -----

namespace {
ListNode* Node(void* element) { return static_cast<ListNode*>(element); }
}  // namespace

void ListInit(List* list) { list->first = list->last = nullptr; }

void ListInsert(List* list, void* element, int where) {
  ListNode* e = Node(element);
  if (where == 0) {
    e->next = list->first;
    list->first = e;
    if (!list->last) list->last = e;
  } else if (where == 1) {
    e->next = nullptr;
    if (list->last) {
      list->last->next = e;
    } else {
      list->first = e;
    }
    list->last = e;
  }
}

int16_t ListPop(List* list, void** out, int which) {
  if (out) *out = nullptr;
  if (!list->first || (which != 0 && which != 1)) return 0;
  ListNode* e;
  if (which == 0) {
    e = list->first;
    list->first = e->next;
    if (!list->first) list->last = nullptr;
  } else {
    e = list->last;
    if (list->first == e) {
      list->first = list->last = nullptr;
    } else {
      ListNode* p = list->first;
      while (p->next != e) p = p->next;
      p->next = nullptr;
      list->last = p;
    }
  }
  e->next = nullptr;
  if (out) *out = e;
  return 1;
}

int16_t ListUnlink(List* list, void* element) {
  ListNode* e = Node(element);
  if (!e || !list->first) return 0;
  if (list->first == e) {
    list->first = e->next;
    if (!list->first) list->last = nullptr;
    e->next = nullptr;
    return 1;
  }
  for (ListNode* p = list->first; p->next; p = p->next) {
    if (p->next == e) {
      p->next = e->next;
      if (list->last == e) list->last = p;
      e->next = nullptr;
      return 1;
    }
  }
  return 0;
}

void ListFreeAll(List* list) {
  ListNode* p = list->first;
  while (p) {
    ListNode* next = p->next;
    void* block = p;
    MemFreePtr(&block);
    p = next;
  }
  ListInit(list);
}

void* ListNext(const void* element) {
  return element ? static_cast<const ListNode*>(element)->next : nullptr;
}

void* ListFirst(const List* list) { return list->first; }

void* ListAt(const List* list, int32_t n) {
  if (n < 0) return nullptr;
  ListNode* p = list->first;
  while (p && n-- > 0) p = p->next;
  return p;
}

void ListInsertAt(List* list, void* element, int32_t position) {
  if (position <= 0 || !list->first) {
    ListInsert(list, element, 0);
    return;
  }
  ListNode* before = Node(ListAt(list, position - 1));
  if (!before) {
    ListInsert(list, element, 1);
    return;
  }
  ListNode* e = Node(element);
  e->next = before->next;
  before->next = e;
  if (list->last == before) list->last = e;
}

int32_t ListCount(const List* list) {
  int32_t n = 0;
  for (ListNode* p = list->first; p; p = p->next) ++n;
  return n;
}

// ----- strings and buffers -----

char* StrCopyPadded(char* destination, const char* source, size_t size) {
  if (size == 0) return destination;
  size_t n = source ? strnlen(source, size - 1) : 0;
  if (n) std::memmove(destination, source, n);
  std::memset(destination + n, 0, size - n);
  return destination;
}

namespace {
bool Strippable(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || !CharIsPrint(c);
}
}  // namespace

int32_t StrStripLeading(char* text) {
  size_t n = 0;
  while (text[n] && Strippable(static_cast<unsigned char>(text[n]))) ++n;
  if (n) std::memmove(text, text + n, std::strlen(text + n) + 1);
  return int32_t(n);
}

int32_t StrTrimRight(char* text) {
  char* keep = text;  // behind the last character that stays
  for (char* p = text; *p;) {
    char* next = MbsNext(p);
    if (next - p > 1 || !Strippable(static_cast<unsigned char>(*p))) keep = next;
    p = next;
  }
  *keep = 0;
  return int32_t(keep - text);
}

void BytesReverse(void* buffer, size_t length) {
  unsigned char* b = static_cast<unsigned char*>(buffer);
  for (size_t i = 0, j = length; i + 1 < j; ++i, --j) {
    unsigned char t = b[i];
    b[i] = b[j - 1];
    b[j - 1] = t;
  }
}

void* ArraySearch(const void* key, const void* array, int32_t count, size_t elementSize,
                  CompareFn compare, int16_t* found) {
  const char* base = static_cast<const char*>(array);
  if (found) *found = 0;
  if (count < 1) return const_cast<char*>(base);
  int32_t low = 0, high = count;  // the key's place lies in [low, high]
  while (low < high) {
    int32_t mid = low + (high - low) / 2;
    int c = compare(key, base + size_t(mid) * elementSize);
    if (c == 0) {
      if (found) *found = 1;
      return const_cast<char*>(base + size_t(mid) * elementSize);
    }
    if (c < 0) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return const_cast<char*>(base + size_t(low) * elementSize);
}

// ----- number parsing -----

namespace {

const char* ParseInteger(const char* text, long low, long high, int base, long* out) {
  *out = 0;
  if (!text) return nullptr;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, base);
  if (end == text || errno == ERANGE || v < low || v > high) return nullptr;
  *out = v;
  return end;
}

}  // namespace

const char* NumParseShortEx(char* text, int16_t* out, int cleanUp) {
  if (text && cleanUp) NumUnlocalize(text);
  return NumParseShort(text, out);
}

const char* NumParseShort(const char* text, int16_t* out) {
  long v;
  const char* end = ParseInteger(text, -32768, 32767, 10, &v);
  *out = int16_t(v);
  return end;
}

const char* NumParseLongEx(char* text, int32_t* out, int cleanUp) {
  if (text && cleanUp) NumUnlocalize(text);
  return NumParseLong(text, out);
}

const char* NumParseLongEx2(char* text, int32_t* out, int cleanUp) {
  return NumParseLongEx(text, out, cleanUp);
}

const char* NumParseLong(const char* text, int32_t* out) {
  long v;
  const char* end = ParseInteger(text, INT32_MIN, INT32_MAX, 10, &v);
  *out = int32_t(v);
  return end;
}

const char* NumParseLongPlain(const char* text, int32_t* out) { return NumParseLong(text, out); }

const char* NumParseHex(const char* text, uint32_t* out) {
  *out = 0;
  if (!text) return nullptr;
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 16);
  if (end == text || errno == ERANGE || v > UINT32_MAX) return nullptr;
  // strtoul negates a leading '-' into a huge value; refused above on 64 bits
  *out = uint32_t(v);
  return end;
}

const char* NumParseDoubleEx(char* text, double* out, int cleanUp) {
  if (text && cleanUp) NumUnlocalize(text);
  return NumParseDouble(text, out);
}

const char* NumParseDouble(const char* text, double* out) {
  *out = 0.0;
  if (!text) return nullptr;
  if (text[0] == '.' && text[1] == 0) return text + 1;
  // Decimal forms only: the C library would also take hexadecimal numbers,
  // infinities and NaNs, which are no numbers in a field or a clause. A
  // leading 0x reads as the 0 before the x.
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const char* sign = p;
  if (*p == '+' || *p == '-') ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    *out = *sign == '-' ? -0.0 : 0.0;
    return p + 1;
  }
  if (!((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9'))) return nullptr;
  errno = 0;
  char* end = nullptr;
  double v = platform::StrtodC(text, &end);
  if (end == text || errno == ERANGE) return nullptr;
  *out = v;
  return end;
}

// ----- numeric routines -----

double NumRoundToStep(double x, double step) {
  if (step == 0) return x;
  return std::floor((x + step / 2) / step) * step;
}

int32_t IntAddSaturate(int32_t a, int32_t b) {
  int64_t s = int64_t(a) + b;
  if (s > INT32_MAX) return INT32_MAX;
  if (s < INT32_MIN) return INT32_MIN;
  return int32_t(s);
}

double NumMulDiv(double a, double b, double c) { return (a * b + c / 2) / c; }

int32_t IntDivRound(int32_t a, int32_t b) {
  if (b == 0) return a;
  int64_t aa = a < 0 ? -int64_t(a) : a;
  int64_t ab = b < 0 ? -int64_t(b) : b;
  int64_t q = (aa + ab / 2) / ab;
  if ((a < 0) != (b < 0)) q = -q;
  if (q > INT32_MAX) return INT32_MAX;
  return int32_t(q);
}

int64_t NumRound(double x) {
  if (std::isnan(x)) return 0;
  double r = x > 0 ? x + 0.5 : x - 0.5;
  if (r >= 9223372036854775807.0) return INT64_MAX;
  if (r <= -9223372036854775808.0) return INT64_MIN;
  return int64_t(r);
}

int32_t NumRoundAwayFromZero(double x) {
  if (std::isnan(x)) return 0;
  double r = std::trunc(x > 0 ? x + 0.999 : x - 0.999);
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return int32_t(r);
}

}  // namespace layerio
