// Free string, file-name, date and search functions of the base library.
//
// They work on plain byte strings with ASCII classification, whatever the
// host's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>

// Removes leading white space in place; returns text (null stays null).
char* StrTrimLeft(char* text);
// Removes trailing, then leading white space in place; returns text.
char* StrTrim(char* text);
// Copies at most size - 1 characters and terminates (size 0 copies nothing);
// returns the source's length.
size_t StrCopySized(char* destination, const char* source, size_t size);
// Re-entrant tokenizer: null text continues at *save; returns the next token
// (terminated in place) or null.
char* StrTokenize(char* text, const char* delimiters, char** save);
// atoi as the C runtime reads numbers: leading white space, a sign, digits;
// saturates instead of overflowing.
int32_t StrToInt(const char* text);

// The '.' of the path's extension (the last '.' after the last '\', '/' or
// ':'), or null.
const char* FileExtension(const char* path);
char* FileExtension(char* path);
// The character after the last '\', '/' or ':', or the whole path.
const char* FileNamePart(const char* path);
// The path with its extension set: the new extension takes the case of the
// old one (upper when the old has no lower-case letter, lower when it has no
// upper-case letter, as given when mixed), at most 30 characters after its
// dot.
std::string FileSetExtension(const std::string& path, const char* extension);
// The same into a caller's buffer of size bytes, cut to fit and terminated.
void FileSetExtension(char* path, size_t size, const char* extension);

// No entry reaches these two date functions yet: only the tests call them.
// Fills record from "day/month/year" (delimiters "/-."); 1 January 1970 when
// a part is missing.
void DateParse(struct tm* record, const char* text);
// Seconds since 1970-01-01 without time zone, or -1 when out of range.
int32_t DateToSeconds(int year, int second, int minute, int hour, int day, int month);

// compare(context, element): negative when the key sorts before the element,
// 0 when equal, positive after.
using BinarySearchCompare = int (*)(const void* context, const void* element);
// Index of the first equal element, else of the last element before the key;
// -1 for no elements or a key before the first.
int32_t BinarySearch(const void* context, const void* first, int32_t count, size_t stride,
                     BinarySearchCompare compare);
// Index of an equal element, or -1.
int32_t BinarySearchExact(const void* context, const void* first, int32_t count, size_t stride,
                          BinarySearchCompare compare);

// Sorts the entries from first to last (inclusive) in place by less: ranges of
// 16 entries or more are partitioned around a pivot, smaller ranges finished
// by a two-way bubble sort. The larger part of each partition is stacked, so
// the pending stack never passes 1000 ranges.
template <class T, class Less>
void SortPointers(T* first, T* last, Less less) {
  if (!first || !last || last <= first) return;
  struct Range {
    T* lo;
    T* hi;
  };
  Range stack[1000];
  int depth = 0;
  T* lo = first;
  T* hi = last;
  for (;;) {
    while (hi - lo + 1 >= 16) {
      T* mid = lo + (hi - lo) / 2;
      T pivot = *mid;
      T* i = lo;
      T* j = hi;
      while (i <= j) {
        while (less(*i, pivot)) ++i;
        while (less(pivot, *j)) --j;
        if (i <= j) {
          std::swap(*i, *j);
          ++i;
          --j;
        }
      }
      // [lo, j] and [i, hi]: keep the smaller one, stack the larger.
      if (j - lo < hi - i) {
        if (i < hi) stack[depth++] = {i, hi};
        hi = j;
      } else {
        if (lo < j) stack[depth++] = {lo, j};
        lo = i;
      }
    }
    // Two-way bubble sort of the short range.
    T* a = lo;
    T* b = hi;
    bool swapped = true;
    while (swapped && a < b) {
      swapped = false;
      for (T* p = a; p < b; ++p)
        if (less(p[1], p[0])) {
          std::swap(p[0], p[1]);
          swapped = true;
        }
      --b;
      if (!swapped) break;
      swapped = false;
      for (T* p = b; p > a; --p)
        if (less(p[0], p[-1])) {
          std::swap(p[0], p[-1]);
          swapped = true;
        }
      ++a;
    }
    if (depth == 0) break;
    --depth;
    lo = stack[depth].lo;
    hi = stack[depth].hi;
  }
}
