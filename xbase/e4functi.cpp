// The function table of the expression language and the routine of every
// row. A routine reads its arguments through the top pointers of the state's
// stack (the last argument on top), writes its result at its entry's place
// in the work buffer (field rows read in place leave a pointer into the
// record instead) and leaves one pointer for its result. e4massage placed
// the first argument of every entry at the entry's own place and the others
// right after it, so several routines work in place.
#include <cmath>
#include <cstring>

#include "platform/endian.h"
#include "xbase/conv4.h"
#include "xbase/d4all.h"
#include "xbase/e4state.h"
#include "xbase/key4.h"

namespace {

// ---- access to the state ----

char* Place(E4STATE* s) { return s->buffer + s->info->resultPos; }
// Argument k (0-based) of the running entry's n arguments.
char* Arg(E4STATE* s, int k) { return s->stack[s->top - s->info->numParms + k]; }
// The entry that produced argument k.
const E4INFO* ArgInfo(E4STATE* s, int k) {
  const E4INFO* at = s->info - 1;  // the last argument's own entry
  for (int i = s->info->numParms - 1; i > k; i--) at -= at->numEntries;
  return at;
}
// Pops the arguments and pushes the result.
void Result(E4STATE* s, char* result) {
  s->top -= s->info->numParms;
  s->stack[s->top++] = result;
}
char* Record(E4STATE* s) { return *static_cast<char**>(s->info->datum); }

double LoadD(const char* p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreD(char* p, double v) { std::memcpy(p, &v, sizeof v); }
int32_t LoadL(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreL(char* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

void PushDouble(E4STATE* s, double v) {
  StoreD(Place(s), v);
  Result(s, Place(s));
}
void PushLogical(E4STATE* s, bool v) {
  StoreL(Place(s), v ? 1 : 0);
  Result(s, Place(s));
}

// A date value of either form as CCYYMMDD text.
void DateText(int type, const char* value, char date[8]) {
  if (type == 'd') {
    date4assign(date, long(c4truncInt32(LoadD(value))));
  } else {
    std::memcpy(date, value, 8);
  }
}

// ---- fields ----

void FieldPointer(E4STATE* s) { Result(s, Record(s) + s->info->i1); }

void FieldCopy(E4STATE* s) {
  std::memcpy(Place(s), Record(s) + s->info->i1, size_t(s->info->len));
  Result(s, Place(s));
}

void FieldLogical(E4STATE* s) {
  char c = Record(s)[s->info->i1];
  PushLogical(s, c == 'Y' || c == 'y' || c == 'T' || c == 't');
}

void FieldDateToDouble(E4STATE* s) { PushDouble(s, double(date4long(Record(s) + s->info->i1))); }

void FieldNumberToDouble(E4STATE* s) {
  const FIELD4* field = s->info->field;
  PushDouble(s, c4atod(Record(s) + s->info->i1, field->len));
}

// 16-bit fields are held in a 4-byte slot, so that nothing reads past them.
void FieldShort(E4STATE* s) {
  QStoreU32LE(Place(s), uint32_t(int32_t(int16_t(QLoadU16LE(Record(s) + s->info->i1)))));
  Result(s, Place(s));
}
void FieldUShort(E4STATE* s) {
  QStoreU32LE(Place(s), QLoadU16LE(Record(s) + s->info->i1));
  Result(s, Place(s));
}

void FieldIntToDouble(E4STATE* s) {
  PushDouble(s, double(int32_t(QLoadU32LE(Record(s) + s->info->i1))));
}

// The value as f4double reads it.
void FieldCurrencyToDouble(E4STATE* s) { PushDouble(s, double(QLoadI64LE(Record(s) + s->info->i1)) / 10000.0); }

void FieldMemo(E4STATE* s) {
  char* place = Place(s);
  if (s->expr->codeBase->errorCode >= 0) {
    unsigned length = 0;
    const char* text = e4memoText(s->info->field, &length);
    unsigned n = length < unsigned(s->info->len) ? length : unsigned(s->info->len);
    if (n > 0) std::memcpy(place, text, n);
    std::memset(place + n, 0, size_t(s->info->len) - n);
  }
  Result(s, place);
}

// ---- constants ----

void Constant(E4STATE* s) {
  std::memcpy(Place(s), s->constants + s->info->i1, size_t(s->info->len));
  Result(s, Place(s));
}
void True(E4STATE* s) { PushLogical(s, true); }
void False(E4STATE* s) { PushLogical(s, false); }

// ---- logical operators ----

void Not(E4STATE* s) { PushLogical(s, LoadL(Arg(s, 0)) == 0); }

void Or(E4STATE* s) {
  bool v = LoadL(Arg(s, 0)) != 0;
  for (int k = s->info->numParms - 1; k >= 1; k--) v = (LoadL(Arg(s, k)) != 0) || v;
  PushLogical(s, v);
}

void And(E4STATE* s) {
  bool v = LoadL(Arg(s, 0)) != 0;
  for (int k = s->info->numParms - 1; k >= 1; k--) v = (LoadL(Arg(s, k)) != 0) && v;
  PushLogical(s, v);
}

// ---- concatenation ----

// The second value already follows the first.
void Concat(E4STATE* s) { Result(s, Place(s)); }

void ConcatWide(E4STATE* s) {
  std::memmove(Place(s) + s->info->i1, Arg(s, 1), size_t(s->info->len - s->info->i1));
  Result(s, Place(s));
}

// The first value's trailing pad characters move behind the second value.
void ConcatPadMove(E4STATE* s, char pad) {
  char* place = Place(s);
  int first = s->info->i1, second = s->info->len - first;
  int cut = 0;
  while (cut < first && place[first - 1 - cut] == pad) cut++;
  std::memmove(place + first - cut, Arg(s, 1), size_t(second));
  std::memset(place + s->info->len - cut, pad, size_t(cut));
  Result(s, place);
}
void ConcatTrim(E4STATE* s) { ConcatPadMove(s, 0); }
void ConcatBlanks(E4STATE* s) { ConcatPadMove(s, ' '); }

// ---- arithmetic ----

double A(E4STATE* s) { return LoadD(Arg(s, 0)); }
double B(E4STATE* s) { return LoadD(Arg(s, 1)); }

void Add(E4STATE* s) { PushDouble(s, A(s) + B(s)); }
void Subtract(E4STATE* s) { PushDouble(s, A(s) - B(s)); }
void Multiply(E4STATE* s) { PushDouble(s, A(s) * B(s)); }
void Divide(E4STATE* s) { PushDouble(s, B(s) == 0 ? 0.0 : A(s) / B(s)); }
void Power(E4STATE* s) { PushDouble(s, std::pow(A(s), B(s))); }
// A blank date (0) stays blank.
void AddDays(E4STATE* s) {
  double date = s->info->functionI == 39 ? B(s) : A(s);
  PushDouble(s, date == 0 ? 0.0 : A(s) + B(s));
}
void SubtractDates(E4STATE* s) { PushDouble(s, A(s) == 0 || B(s) == 0 ? 0.0 : A(s) - B(s)); }
void SubtractDays(E4STATE* s) { PushDouble(s, A(s) == 0 ? 0.0 : A(s) - B(s)); }

// ---- comparisons ----

// Text: unsigned bytes over the shorter length (i1); an equal prefix answers
// `equal`.
int CompareText(E4STATE* s, int equal) {
  int c = std::memcmp(Arg(s, 0), Arg(s, 1), size_t(s->info->i1));
  return c != 0 ? (c < 0 ? -1 : 1) : equal;
}
int PrefixFlag(E4STATE* s) { return s->info->datum != nullptr ? 1 : 0; }

int CompareCurrency(E4STATE* s) {
  int64_t a = QLoadI64LE(Arg(s, 0)), b = QLoadI64LE(Arg(s, 1));
  return a < b ? -1 : (a > b ? 1 : 0);
}
int CompareDateTime(E4STATE* s) {
  int32_t a = int32_t(QLoadU32LE(Arg(s, 0))), b = int32_t(QLoadU32LE(Arg(s, 1)));
  if (a != b) return a < b ? -1 : 1;
  uint32_t am = QLoadU32LE(Arg(s, 0) + 4), bm = QLoadU32LE(Arg(s, 1) + 4);
  return am < bm ? -1 : (am > bm ? 1 : 0);
}

void EqualText(E4STATE* s) { PushLogical(s, CompareText(s, 0) == 0); }
void EqualLogical(E4STATE* s) { PushLogical(s, (LoadL(Arg(s, 0)) != 0) == (LoadL(Arg(s, 1)) != 0)); }
void EqualNumber(E4STATE* s) { PushLogical(s, A(s) == B(s)); }
void EqualCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) == 0); }
void EqualDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) == 0); }
void NotEqualText(E4STATE* s) { PushLogical(s, CompareText(s, 0) != 0); }
void NotEqualLogical(E4STATE* s) { PushLogical(s, (LoadL(Arg(s, 0)) != 0) != (LoadL(Arg(s, 1)) != 0)); }
void NotEqualNumber(E4STATE* s) { PushLogical(s, A(s) != B(s)); }
void NotEqualCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) != 0); }
void NotEqualDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) != 0); }
void GreaterText(E4STATE* s) { PushLogical(s, CompareText(s, PrefixFlag(s)) > 0); }
void LessText(E4STATE* s) { PushLogical(s, CompareText(s, -PrefixFlag(s)) < 0); }
void GreaterEqualText(E4STATE* s) { PushLogical(s, CompareText(s, 0) >= 0); }
void LessEqualText(E4STATE* s) { PushLogical(s, CompareText(s, 0) <= 0); }
void GreaterEqualNumber(E4STATE* s) { PushLogical(s, A(s) >= B(s)); }
void LessEqualNumber(E4STATE* s) { PushLogical(s, A(s) <= B(s)); }
void GreaterNumber(E4STATE* s) { PushLogical(s, A(s) > B(s)); }
void LessNumber(E4STATE* s) { PushLogical(s, A(s) < B(s)); }
void GreaterEqualCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) >= 0); }
void LessEqualCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) <= 0); }
void GreaterCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) > 0); }
void LessCurrency(E4STATE* s) { PushLogical(s, CompareCurrency(s) < 0); }
void GreaterEqualDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) >= 0); }
void LessEqualDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) <= 0); }
void GreaterDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) > 0); }
void LessDateTime(E4STATE* s) { PushLogical(s, CompareDateTime(s) < 0); }

void Contains(E4STATE* s) {
  int needle = ArgInfo(s, 0)->len, hay = ArgInfo(s, 1)->len;
  const char* a = Arg(s, 0);
  const char* b = Arg(s, 1);
  bool found = false;
  for (int at = 0; !found && at <= hay - needle; at++) found = std::memcmp(b + at, a, size_t(needle)) == 0;
  PushLogical(s, found);
}

// ---- text functions ----

void Chr(E4STATE* s) {
  char c = char(c4truncInt32(A(s)));
  Place(s)[0] = c;
  Result(s, Place(s));
}

void Del(E4STATE* s) {
  Place(s)[0] = Record(s)[0];
  Result(s, Place(s));
}

void Str(E4STATE* s) {
  double value = A(s);
  c4dtoa45(value, Place(s), s->info->len, s->info->i1);
  Result(s, Place(s));
}

// UTF-16 to code page 437 for the units 0x80 and up; '?' for the rest.
struct WideToOem {
  uint16_t unit;
  unsigned char oem;
};
const WideToOem kWideToOem[128] = {
    {0x00A0, 0xFF}, {0x00A1, 0xAD}, {0x00A2, 0x9B}, {0x00A3, 0x9C}, {0x00A5, 0x9D}, {0x00AA, 0xA6},
    {0x00AB, 0xAE}, {0x00AC, 0xAA}, {0x00B0, 0xF8}, {0x00B1, 0xF1}, {0x00B2, 0xFD}, {0x00B5, 0xE6},
    {0x00B7, 0xFA}, {0x00BA, 0xA7}, {0x00BB, 0xAF}, {0x00BC, 0xAC}, {0x00BD, 0xAB}, {0x00BF, 0xA8},
    {0x00C4, 0x8E}, {0x00C5, 0x8F}, {0x00C6, 0x92}, {0x00C7, 0x80}, {0x00C9, 0x90}, {0x00D1, 0xA5},
    {0x00D6, 0x99}, {0x00DC, 0x9A}, {0x00DF, 0xE1}, {0x00E0, 0x85}, {0x00E1, 0xA0}, {0x00E2, 0x83},
    {0x00E4, 0x84}, {0x00E5, 0x86}, {0x00E6, 0x91}, {0x00E7, 0x87}, {0x00E8, 0x8A}, {0x00E9, 0x82},
    {0x00EA, 0x88}, {0x00EB, 0x89}, {0x00EC, 0x8D}, {0x00ED, 0xA1}, {0x00EE, 0x8C}, {0x00EF, 0x8B},
    {0x00F1, 0xA4}, {0x00F2, 0x95}, {0x00F3, 0xA2}, {0x00F4, 0x93}, {0x00F6, 0x94}, {0x00F7, 0xF6},
    {0x00F9, 0x97}, {0x00FA, 0xA3}, {0x00FB, 0x96}, {0x00FC, 0x81}, {0x00FF, 0x98}, {0x0192, 0x9F},
    {0x0393, 0xE2}, {0x0398, 0xE9}, {0x03A3, 0xE4}, {0x03A6, 0xE8}, {0x03A9, 0xEA}, {0x03B1, 0xE0},
    {0x03B4, 0xEB}, {0x03B5, 0xEE}, {0x03C0, 0xE3}, {0x03C3, 0xE5}, {0x03C4, 0xE7}, {0x03C6, 0xED},
    {0x207F, 0xFC}, {0x20A7, 0x9E}, {0x2219, 0xF9}, {0x221A, 0xFB}, {0x221E, 0xEC}, {0x2229, 0xEF},
    {0x2248, 0xF7}, {0x2261, 0xF0}, {0x2264, 0xF3}, {0x2265, 0xF2}, {0x2310, 0xA9}, {0x2320, 0xF4},
    {0x2321, 0xF5}, {0x2500, 0xC4}, {0x2502, 0xB3}, {0x250C, 0xDA}, {0x2510, 0xBF}, {0x2514, 0xC0},
    {0x2518, 0xD9}, {0x251C, 0xC3}, {0x2524, 0xB4}, {0x252C, 0xC2}, {0x2534, 0xC1}, {0x253C, 0xC5},
    {0x2550, 0xCD}, {0x2551, 0xBA}, {0x2552, 0xD5}, {0x2553, 0xD6}, {0x2554, 0xC9}, {0x2555, 0xB8},
    {0x2556, 0xB7}, {0x2557, 0xBB}, {0x2558, 0xD4}, {0x2559, 0xD3}, {0x255A, 0xC8}, {0x255B, 0xBE},
    {0x255C, 0xBD}, {0x255D, 0xBC}, {0x255E, 0xC6}, {0x255F, 0xC7}, {0x2560, 0xCC}, {0x2561, 0xB5},
    {0x2562, 0xB6}, {0x2563, 0xB9}, {0x2564, 0xD1}, {0x2565, 0xD2}, {0x2566, 0xCB}, {0x2567, 0xCF},
    {0x2568, 0xD0}, {0x2569, 0xCA}, {0x256A, 0xD8}, {0x256B, 0xD7}, {0x256C, 0xCE}, {0x2580, 0xDF},
    {0x2584, 0xDC}, {0x2588, 0xDB}, {0x258C, 0xDD}, {0x2590, 0xDE}, {0x2591, 0xB0}, {0x2592, 0xB1},
    {0x2593, 0xB2}, {0x25A0, 0xFE},
};

char OemOfUnit(uint16_t unit) {
  if (unit < 0x80) return char(unit);
  int low = 0, high = 127;
  while (low <= high) {
    int mid = (low + high) / 2;
    if (kWideToOem[mid].unit == unit) return char(kWideToOem[mid].oem);
    if (kWideToOem[mid].unit < unit) low = mid + 1; else high = mid - 1;
  }
  return '?';
}

// Each unit becomes one byte. Output byte i is written after units 0 to i
// were read, so the text may share its place with its units.
void StrWide(E4STATE* s) {
  char* place = Place(s);
  const char* wide = Arg(s, 0);
  int units = s->info->len / 2;
  for (int i = 0; i < units; i++) place[i] = OemOfUnit(QLoadU16LE(wide + 2 * i));
  std::memset(place + units, ' ', size_t(s->info->len - units));
  Result(s, place);
}

void StrZero(E4STATE* s) {
  double value = A(s);
  char* text = Place(s);
  int width = s->info->len;
  double magnitude = std::fabs(value);
  int digits = 0;
  if (std::isfinite(magnitude)) {
    for (; magnitude >= 1 && digits <= width; digits++) magnitude /= 10;
  } else {
    digits = width + 1;
  }
  if (value < 0) digits++;
  if (digits > width) {
    std::memset(text, '*', size_t(width));
    Result(s, text);
    return;
  }
  int decimals = width - digits - 1;
  c4dtoa45(value, text, width, decimals > 0 ? decimals : 0);
  const char* point = static_cast<const char*>(std::memchr(text, '.', size_t(width)));
  if (point == nullptr) {
    for (int i = 0; i < width && text[i] == ' '; i++) text[i] = '0';
  } else {
    int end = width;
    while (end > point - text + 1 && text[end - 1] == '0') end--;
    if (end == point - text + 1) end--;  // an all-zero fraction loses its point too
    int removed = width - end;
    std::memmove(text + removed, text, size_t(end));
    std::memset(text, '0', size_t(removed));
  }
  Result(s, text);
}

// SUBSTR, LEFT, RIGHT: the bytes from the start offset.
void Substring(E4STATE* s) {
  std::memmove(Place(s), Arg(s, 0) + s->info->i1, size_t(s->info->len));
  Result(s, Place(s));
}

void Time(E4STATE* s) {
  date4timeNow(Place(s));
  Result(s, Place(s));
}

// Code page 1252's upper case of the bytes 0x80 and up.
const unsigned char kUpper1252[128] = {
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x8A, 0x9B, 0x8C, 0x9D, 0x8E, 0x9F,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xF7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0x9F,
};

// Upper-cases up to the first zero byte: ANSI letters for data files of code
// page mark 3, ASCII letters otherwise.
void Upper(E4STATE* s) {
  char* text = Place(s);
  int length = s->info->len;
  text[length] = 0;
  bool ansi = s->expr->dataFile->codePage == 3;
  for (int i = 0; i < length && text[i] != 0; i++) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') {
      text[i] = char(c - 32);
    } else if (ansi && c >= 0x80) {
      text[i] = char(kUpper1252[c - 0x80]);
    }
  }
  Result(s, text);
}

void DtosText(E4STATE* s) {
  char* place = Place(s);
  std::memmove(place, Arg(s, 0), 8);
  if (std::memcmp(place, "       0", 8) == 0) std::memset(place, ' ', 8);
  Result(s, place);
}

void DtosDouble(E4STATE* s) {
  date4assign(Place(s), long(c4truncInt32(A(s))));
  Result(s, Place(s));
}

void Dtoc(E4STATE* s) {
  char date[8];
  DateText(v4functions[s->info->functionI].types[0], Arg(s, 0), date);
  char picture[20];
  std::memcpy(picture, s->constants + s->info->i1, size_t(s->info->len) + 1);
  date4format(date, Place(s), picture);
  Result(s, Place(s));
}

void Trim(E4STATE* s) {
  c4trimN(Place(s), s->info->len + 1);
  Result(s, Place(s));
}

// Leading blanks and zero bytes go; the freed end is zero bytes.
void LeftTrimText(char* text, int length) {
  int skip = 0;
  while (skip < length && (text[skip] == ' ' || text[skip] == 0)) skip++;
  std::memmove(text, text + skip, size_t(length - skip));
  std::memset(text + length - skip, 0, size_t(skip));
}

void LeftTrim(E4STATE* s) {
  LeftTrimText(Place(s), s->info->len);
  Result(s, Place(s));
}

void AllTrim(E4STATE* s) {
  LeftTrimText(Place(s), s->info->len);
  c4trimN(Place(s), s->info->len + 1);
  Result(s, Place(s));
}

int TextLength(const char* text, int length) {
  while (length > 0 && text[length - 1] == 0) length--;
  return length;
}

void PadLeft(E4STATE* s) {
  char* place = Place(s);
  int width = s->info->len;
  int n = TextLength(Arg(s, 0), ArgInfo(s, 0)->len);
  if (n > width) n = width;
  std::memmove(place + width - n, Arg(s, 0), size_t(n));
  std::memset(place, ' ', size_t(width - n));
  Result(s, place);
}

void PadRight(E4STATE* s) {
  char* place = Place(s);
  int width = s->info->len;
  int n = TextLength(Arg(s, 0), ArgInfo(s, 0)->len);
  if (n > width) n = width;
  std::memmove(place, Arg(s, 0), size_t(n));
  std::memset(place + n, ' ', size_t(width - n));
  Result(s, place);
}

void IifText(E4STATE* s) {
  bool condition = LoadL(Arg(s, 0)) != 0;
  int n = condition ? s->info->i1 : s->info->i2;
  std::memmove(Place(s), Arg(s, condition ? 1 : 2), size_t(n));
  std::memset(Place(s) + n, ' ', size_t(s->info->len - n));
  Result(s, Place(s));
}

void Iif(E4STATE* s) {
  bool condition = LoadL(Arg(s, 0)) != 0;
  std::memmove(Place(s), Arg(s, condition ? 1 : 2), size_t(s->info->len));
  Result(s, Place(s));
}

// ---- dates ----

long JulianOfParts(double year, double month, double day) {
  char date[8];
  int y = c4truncInt32(year), m = c4truncInt32(month), d = c4truncInt32(day);
  if (y < 0 || y > 9999 || m < 0 || m > 99 || d < 0 || d > 99) return 0;
  c4ltoa45(y, date, -4);
  c4ltoa45(m, date + 4, -2);
  c4ltoa45(d, date + 6, -2);
  long julian = date4long(date);
  return julian > 0 ? julian : 0;
}

void DateTime(E4STATE* s) {
  long julian = JulianOfParts(A(s), B(s), LoadD(Arg(s, 2)));
  char* place = Place(s);
  QStoreU32LE(place, uint32_t(julian));
  QStoreU32LE(place + 4, uint32_t(s->info->i1));
  Result(s, place);
}

void Stod(E4STATE* s) {
  char date[8];
  std::memset(date, ' ', sizeof date);
  int n = ArgInfo(s, 0)->len;
  std::memcpy(date, Arg(s, 0), size_t(n < 8 ? n : 8));
  PushDouble(s, double(date4long(date)));
}

void Ctod(E4STATE* s) {
  char text[256];
  int n = ArgInfo(s, 0)->len;
  if (n > int(sizeof text) - 1) n = int(sizeof text) - 1;
  std::memcpy(text, Arg(s, 0), size_t(n));
  text[n] = 0;
  char picture[20];
  size_t pictureLength = strnlen(s->constants + s->info->i1, sizeof picture - 1);
  std::memcpy(picture, s->constants + s->info->i1, pictureLength);
  picture[pictureLength] = 0;
  char date[8];
  date4init(date, text, picture);
  PushDouble(s, double(date4long(date)));
}

void Date(E4STATE* s) {
  char date[8];
  date4today(date);
  PushDouble(s, double(date4long(date)));
}

void DatePart(E4STATE* s, int offset, int digits) {
  char date[8];
  DateText(v4functions[s->info->functionI].types[0], Arg(s, 0), date);
  PushDouble(s, double(c4atoi(date + offset, digits)));
}
void Day(E4STATE* s) { DatePart(s, 6, 2); }
void Month(E4STATE* s) { DatePart(s, 4, 2); }
void Year(E4STATE* s) { DatePart(s, 0, 4); }

// ---- record functions ----

void Deleted(E4STATE* s) { PushLogical(s, Record(s)[0] == '*'); }
void RecCount(E4STATE* s) { PushDouble(s, double(dfile4recCount(static_cast<DATA4FILE*>(s->info->datum)))); }
void RecNo(E4STATE* s) { PushDouble(s, double(d4recNo(s->expr->data))); }

void Val(E4STATE* s) { PushDouble(s, c4atod(Arg(s, 0), ArgInfo(s, 0)->len)); }

void L2bin(E4STATE* s) {
  QStoreU32LE(Place(s), uint32_t(c4truncInt32(A(s))));
  Result(s, Place(s));
}

// ---- calcs ----

// The calc's own program runs on its own work buffer; its result is copied
// to this entry's place (cut or padded to the length compiled here, which a
// later compile of the calc may have changed).
void Calc(E4STATE* s) {
  auto* calc = static_cast<EXPR4CALC*>(s->info->datum);
  E4STATE outer = *s;
  calc->curResultPos = outer.info->resultPos;
  char* value = nullptr;
  int got = expr4vary(calc->expr, &value);
  *s = outer;
  char* place = Place(s);
  int length = s->info->len;
  int n = got < 0 || value == nullptr ? 0 : (got < length ? got : length);
  if (n > 0) std::memmove(place, value, size_t(n));
  std::memset(place + n, e4entryType(s->info) == 'C' ? ' ' : 0, size_t(length - n));
  Result(s, place);
}

void Total(E4STATE* s) { PushDouble(s, 0.0); }

// ---- key forms ----

// The value is copied to the place (a field read in place too) and turned
// into its key form there; e4massage left room for the larger of the two.
void KeyForm(E4STATE* s, bool descending) {
  int type = v4functions[s->info->functionI].types[0];
  int length = ArgInfo(s, 0)->len;
  char* place = Place(s);
  std::memmove(place, Arg(s, 0), size_t(length));
  key4valueForm(type, place, length);
  if (descending) key4descend(reinterpret_cast<unsigned char*>(place), s->info->len);
  Result(s, place);
}
void Ascend(E4STATE* s) { KeyForm(s, false); }
void Descend(E4STATE* s) { KeyForm(s, true); }

}  // namespace

// The rows: routine, name, code, name length, priority, result type,
// parameter count, parameter types.
const E4FUNCTIONS v4functions[] = {
    // 0-25: the entries the parser makes itself
    {FieldPointer, nullptr, 0, 0, 0, 'C', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 0, 0, 0, 'W', 0, {0, 0, 0}},
    {FieldCopy, nullptr, 0, 0, 0, 'O', 0, {0, 0, 0}},
    {FieldCopy, nullptr, 1, 0, 0, 'C', 0, {0, 0, 0}},
    {FieldCopy, nullptr, 2, 0, 0, 'W', 0, {0, 0, 0}},
    {FieldLogical, nullptr, 3, 0, 0, 'L', 0, {0, 0, 0}},
    {FieldDateToDouble, nullptr, 4, 0, 0, 'd', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 5, 0, 0, 'D', 0, {0, 0, 0}},
    {FieldNumberToDouble, nullptr, 6, 0, 0, 'n', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 7, 0, 0, 'N', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 440, 0, 0, 'Y', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 441, 0, 0, 'n', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 442, 0, 0, 'I', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 443, 0, 0, 'P', 0, {0, 0, 0}},
    {FieldShort, nullptr, 444, 0, 0, 'Q', 0, {0, 0, 0}},
    {FieldUShort, nullptr, 445, 0, 0, 'R', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 446, 0, 0, 'T', 0, {0, 0, 0}},
    {FieldIntToDouble, nullptr, 447, 0, 0, 'n', 0, {0, 0, 0}},
    {FieldCurrencyToDouble, nullptr, 448, 0, 0, 'n', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 449, 0, 0, '1', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 450, 0, 0, '2', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 451, 0, 0, '3', 0, {0, 0, 0}},
    {FieldPointer, nullptr, 452, 0, 0, '4', 0, {0, 0, 0}},
    {FieldMemo, nullptr, 7, 0, 0, 'C', 0, {0, 0, 0}},
    {Constant, nullptr, 8, 0, 0, 'n', 0, {0, 0, 0}},
    {Constant, nullptr, 9, 0, 0, 'C', 0, {0, 0, 0}},
    // 26-31: logical constants and negation
    {True, ".TRUE.", 14, 6, 0, 'L', 0, {0, 0, 0}},
    {True, ".T.", 14, 3, 0, 'L', 0, {0, 0, 0}},
    {False, ".FALSE.", 16, 7, 0, 'L', 0, {0, 0, 0}},
    {False, ".F.", 16, 3, 0, 'L', 0, {0, 0, 0}},
    {Not, ".NOT.", 18, 5, 5, 'L', 1, {'L', 0, 0}},
    {Not, "!", 18, 1, 5, 'L', 1, {'L', 0, 0}},
    // 32-84: operators
    {Or, ".OR.", 20, 4, 3, 'L', -1, {'L', 0, 0}},
    {And, ".AND.", 22, 5, 4, 'L', -1, {'L', 0, 0}},
    {Concat, "+", 25, 1, 7, 'C', 2, {'C', 'C', 0}},
    {Concat, nullptr, 25, 1, 7, 'W', 2, {'W', 'W', 0}},
    {ConcatWide, nullptr, 25, 1, 7, 'O', 2, {'O', 'O', 0}},
    {ConcatTrim, nullptr, 25, 1, 7, 'C', 2, {'C', 'C', 0}},
    {Add, nullptr, 25, 1, 7, 'n', 2, {'n', 'n', 0}},
    {AddDays, nullptr, 25, 1, 7, 'd', 2, {'n', 'd', 0}},
    {AddDays, nullptr, 25, 1, 7, 'd', 2, {'d', 'n', 0}},
    {ConcatBlanks, "-", 30, 1, 7, 'C', 2, {'C', 'C', 0}},
    {Subtract, nullptr, 30, 1, 7, 'n', 2, {'n', 'n', 0}},
    {SubtractDates, nullptr, 30, 1, 7, 'n', 2, {'d', 'd', 0}},
    {SubtractDays, nullptr, 30, 1, 7, 'd', 2, {'d', 'n', 0}},
    {NotEqualText, "#", 50, 1, 6, 'L', 2, {'C', 'C', 0}},
    {NotEqualText, "<>", 50, 2, 6, 'L', 2, {'C', 'C', 0}},
    {NotEqualNumber, nullptr, 50, 2, 6, 'L', 2, {'n', 'n', 0}},
    {NotEqualNumber, nullptr, 50, 2, 6, 'L', 2, {'d', 'd', 0}},
    {NotEqualLogical, nullptr, 50, 2, 6, 'L', 2, {'L', 'L', 0}},
    {NotEqualCurrency, nullptr, 50, 2, 6, 'L', 2, {'Y', 'Y', 0}},
    {NotEqualDateTime, nullptr, 50, 2, 6, 'L', 2, {'T', 'T', 0}},
    {GreaterEqualText, ">=", 60, 2, 6, 'L', 2, {'C', 'C', 0}},
    {GreaterEqualText, "=>", 60, 2, 6, 'L', 2, {'C', 'C', 0}},
    {GreaterEqualNumber, nullptr, 60, 2, 6, 'L', 2, {'n', 'n', 0}},
    {GreaterEqualNumber, nullptr, 60, 2, 6, 'L', 2, {'d', 'd', 0}},
    {GreaterEqualCurrency, nullptr, 60, 2, 6, 'L', 2, {'Y', 'Y', 0}},
    {GreaterEqualDateTime, nullptr, 60, 2, 6, 'L', 2, {'T', 'T', 0}},
    {LessEqualText, "<=", 70, 2, 6, 'L', 2, {'C', 'C', 0}},
    {LessEqualText, "=<", 70, 2, 6, 'L', 2, {'C', 'C', 0}},
    {LessEqualNumber, nullptr, 70, 2, 6, 'L', 2, {'n', 'n', 0}},
    {LessEqualNumber, nullptr, 70, 2, 6, 'L', 2, {'d', 'd', 0}},
    {LessEqualCurrency, nullptr, 70, 2, 6, 'L', 2, {'Y', 'Y', 0}},
    {LessEqualDateTime, nullptr, 70, 2, 6, 'L', 2, {'T', 'T', 0}},
    {EqualText, "=", 40, 1, 6, 'L', 2, {'C', 'C', 0}},
    {EqualLogical, nullptr, 40, 1, 6, 'L', 2, {'L', 'L', 0}},
    {EqualNumber, nullptr, 40, 1, 6, 'L', 2, {'n', 'n', 0}},
    {EqualNumber, nullptr, 40, 1, 6, 'L', 2, {'d', 'd', 0}},
    {EqualCurrency, nullptr, 40, 1, 6, 'L', 2, {'Y', 'Y', 0}},
    {EqualDateTime, nullptr, 40, 1, 6, 'L', 2, {'T', 'T', 0}},
    {GreaterText, ">", 80, 1, 6, 'L', 2, {'C', 'C', 0}},
    {GreaterNumber, nullptr, 80, 1, 6, 'L', 2, {'n', 'n', 0}},
    {GreaterNumber, nullptr, 80, 1, 6, 'L', 2, {'d', 'd', 0}},
    {GreaterCurrency, nullptr, 80, 1, 6, 'L', 2, {'Y', 'Y', 0}},
    {GreaterDateTime, nullptr, 80, 1, 6, 'L', 2, {'T', 'T', 0}},
    {LessText, "<", 90, 1, 6, 'L', 2, {'C', 'C', 0}},
    {LessNumber, nullptr, 90, 1, 6, 'L', 2, {'n', 'n', 0}},
    {LessNumber, nullptr, 90, 1, 6, 'L', 2, {'d', 'd', 0}},
    {LessCurrency, nullptr, 90, 1, 6, 'L', 2, {'Y', 'Y', 0}},
    {LessDateTime, nullptr, 90, 1, 6, 'L', 2, {'T', 'T', 0}},
    {Power, "^", 100, 1, 9, 'n', 2, {'n', 'n', 0}},
    {Power, "**", 100, 2, 9, 'n', 2, {'n', 'n', 0}},
    {Multiply, "*", 102, 1, 8, 'n', 2, {'n', 'n', 0}},
    {Divide, "/", 105, 1, 8, 'n', 2, {'n', 'n', 0}},
    {Contains, "$", 110, 1, 6, 'L', 2, {'C', 'C', 0}},
    // 85-160: functions
    {Chr, "CHR", 120, 3, 0, 'C', 1, {'n', 0, 0}},
    {Del, "DEL", 130, 3, 0, 'C', 0, {0, 0, 0}},
    {Str, "STR", 140, 3, 0, 'C', 1, {'n', 0, 0}},
    {StrWide, nullptr, 140, 3, 0, 'C', 1, {'W', 0, 0}},
    {StrZero, "STRZERO", 145, 7, 0, 'C', 1, {'n', 0, 0}},
    {Substring, "SUBSTR", 150, 6, 0, 'C', 1, {'C', 0, 0}},
    {Time, "TIME", 160, 4, 0, 'C', 0, {0, 0, 0}},
    {Upper, "UPPER", 170, 5, 0, 'C', 1, {'C', 0, 0}},
    {DtosText, "DTOS", 180, 4, 0, 'C', 1, {'D', 0, 0}},
    {DtosDouble, nullptr, 180, 4, 0, 'C', 1, {'d', 0, 0}},
    {Dtoc, "DTOC", 200, 4, 0, 'C', 1, {'D', 0, 0}},
    {Dtoc, nullptr, 200, 4, 0, 'C', 1, {'d', 0, 0}},
    {Trim, "TRIM", 220, 4, 0, 'C', 1, {'C', 0, 0}},
    {LeftTrim, "LTRIM", 230, 5, 0, 'C', 1, {'C', 0, 0}},
    {AllTrim, "ALLTRIM", 235, 7, 0, 'C', 1, {'C', 0, 0}},
    {Substring, "LEFT", 240, 4, 0, 'C', 1, {'C', 0, 0}},
    {Substring, "RIGHT", 245, 5, 0, 'C', 1, {'C', 0, 0}},
    {PadLeft, "PADL", 246, 4, 0, 'C', 1, {'C', 0, 0}},
    {PadRight, "PADR", 247, 4, 0, 'C', 1, {'C', 0, 0}},
    {IifText, "IIF", 250, 3, 0, 'C', 3, {'L', 'C', 'C'}},
    {Iif, nullptr, 250, 3, 0, 'n', 3, {'L', 'n', 'n'}},
    {Iif, nullptr, 250, 3, 0, 'd', 3, {'L', 'd', 'd'}},
    {Iif, nullptr, 250, 3, 0, 'L', 3, {'L', 'L', 'L'}},
    {DateTime, "DATETIME", 259, 8, 0, 'T', 3, {'n', 'n', 'n'}},
    {Stod, "STOD", 260, 4, 0, 'd', 1, {'C', 0, 0}},
    {Ctod, "CTOD", 270, 4, 0, 'd', 1, {'C', 0, 0}},
    {Date, "DATE", 280, 4, 0, 'd', 0, {0, 0, 0}},
    {Day, "DAY", 290, 3, 0, 'n', 1, {'D', 0, 0}},
    {Day, nullptr, 290, 3, 0, 'n', 1, {'d', 0, 0}},
    {Month, "MONTH", 310, 5, 0, 'n', 1, {'D', 0, 0}},
    {Month, nullptr, 310, 5, 0, 'n', 1, {'d', 0, 0}},
    {Year, "YEAR", 340, 4, 0, 'n', 1, {'D', 0, 0}},
    {Year, nullptr, 340, 4, 0, 'n', 1, {'d', 0, 0}},
    {Deleted, "DELETED", 350, 7, 0, 'L', 0, {0, 0, 0}},
    {RecCount, "RECCOUNT", 360, 8, 0, 'n', 0, {0, 0, 0}},
    {RecNo, "RECNO", 370, 5, 0, 'n', 0, {0, 0, 0}},
    {Val, "VAL", 380, 3, 0, 'n', 1, {'C', 0, 0}},
    {L2bin, "L2BIN", 385, 5, 0, 'C', 1, {'n', 0, 0}},
    {Calc, nullptr, 390, 0, 0, 0, 0, {0, 0, 0}},
    {Total, nullptr, 400, 0, 0, 'n', 0, {0, 0, 0}},
    {Total, nullptr, 410, 0, 0, 'n', 0, {0, 0, 0}},
    {Descend, "DESCEND", 420, 7, 0, 'C', 1, {'C', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'N', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'d', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'L', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'T', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'I', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'Y', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'W', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'O', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'n', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'1', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'P', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'R', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'Q', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'2', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'3', 0, 0}},
    {Descend, nullptr, 420, 7, 0, 'C', 1, {'4', 0, 0}},
    {Ascend, "ASCEND", 430, 6, 0, 'C', 1, {'C', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'W', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'O', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'N', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'D', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'d', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'L', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'I', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'T', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'Y', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'n', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'P', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'R', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'Q', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'1', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'2', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'3', 0, 0}},
    {Ascend, nullptr, 430, 6, 0, 'C', 1, {'4', 0, 0}},
    // the end row
    {nullptr, nullptr, -1, 0, 0, 0, 0, {0, 0, 0}},
};

static_assert(sizeof(v4functions) / sizeof(v4functions[0]) == E4LAST_ROW + 2,
              "161 rows and the end row");
