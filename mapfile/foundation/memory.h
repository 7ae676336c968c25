// Memory blocks, singly linked lists, padded copies, number parsing and
// rounding of the foundation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

using MemHandle = void*;

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);
int16_t MemFree(void* block);
void* HandleLock(MemHandle handle);
int16_t MemAllocZeroEx(size_t size, MemHandle* handle, void** pointer);
int16_t MemAllocZero(size_t size, MemHandle* handle, void** pointer);
int16_t MemAllocZeroGlobal(size_t size, MemHandle* handle, void** pointer);
// Frees the block the variable holds and nulls it; 1.
int16_t MemFreePtr(void** pointer);
template <class T>
int16_t MemFreePtr(T** pointer) {
  void* p = *pointer;
  int16_t r = MemFreePtr(&p);
  *pointer = nullptr;
  return r;
}
int16_t MemResize(size_t size, MemHandle* handle, void** pointer);
int16_t MemReallocChecked(size_t size, MemHandle* handle, void** pointer);
size_t MemSize(void* const* pointer);
size_t MemBlockSize(const MemHandle* handle);

// Singly linked lists: every element begins with its next pointer.
struct ListNode {
  ListNode* next;
};
struct List {
  ListNode* first;
  ListNode* last;
};

void ListInit(List* list);
void ListInsert(List* list, void* element, int where);  // 0 head, 1 tail
int16_t ListPop(List* list, void** out, int which);      // 0 first, 1 last
int16_t ListUnlink(List* list, void* element);
void ListFreeAll(List* list);
void* ListNext(const void* element);
void* ListFirst(const List* list);
void* ListAt(const List* list, int32_t n);
void ListInsertAt(List* list, void* element, int32_t position);
int32_t ListCount(const List* list);

char* StrCopyPadded(char* destination, const char* source, size_t size);
int32_t StrStripLeading(char* text);
int32_t StrTrimRight(char* text);
void BytesReverse(void* buffer, size_t length);
using CompareFn = int (*)(const void* key, const void* element);
void* ArraySearch(const void* key, const void* array, int32_t count, size_t elementSize,
                  CompareFn compare, int16_t* found);

// Parsers: the end of the number in the text, or null on failure (then the
// out value is 0). The Ex forms with a clean-up flag first rewrite the text
// with NumUnlocalize.
const char* NumParseShortEx(char* text, int16_t* out, int cleanUp);
const char* NumParseShort(const char* text, int16_t* out);
const char* NumParseLongEx(char* text, int32_t* out, int cleanUp);
const char* NumParseLongEx2(char* text, int32_t* out, int cleanUp);
const char* NumParseLong(const char* text, int32_t* out);
const char* NumParseLongPlain(const char* text, int32_t* out);
const char* NumParseHex(const char* text, uint32_t* out);
const char* NumParseDoubleEx(char* text, double* out, int cleanUp);
const char* NumParseDouble(const char* text, double* out);

double NumRoundToStep(double x, double step);
int32_t IntAddSaturate(int32_t a, int32_t b);
double NumMulDiv(double a, double b, double c);
int32_t IntDivRound(int32_t a, int32_t b);
int64_t NumRound(double x);
// x + 0.999 above 0, x - 0.999 otherwise, truncated towards zero (a
// decimals count from a logarithm); NaN gives 0, the result is clamped to
// the 32-bit range.
int32_t NumRoundAwayFromZero(double x);

}  // namespace layerio
