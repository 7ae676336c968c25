// The typed value: the font record, conversions, number and date texts and
// comparisons.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

// The font record of map objects and of kind-15 values (64 bytes). Its
// clause is written here so that a value prints a font as the object code
// does: "Font ("name",style,size,foreground[,background])".
inline constexpr int kStyleNameSize = 32;  // at most 31 characters and a zero
struct FontStyle {
  uint8_t style;  // eight style bits
  uint16_t flagA, flagB, flagC;  // 0 or 1: bits 8, 9, 10 of the stored style
  char name[kStyleNameSize];
  int16_t size;
  uint32_t foreground;
  uint32_t background;
  uint8_t backgroundFlag;
  double kept;  // 0.0 when read from a compact record
};
static_assert(offsetof(FontStyle, flagA) == 2 && offsetof(FontStyle, flagC) == 6 &&
              offsetof(FontStyle, name) == 8 && offsetof(FontStyle, size) == 40 &&
              offsetof(FontStyle, foreground) == 44 && offsetof(FontStyle, background) == 48 &&
              offsetof(FontStyle, backgroundFlag) == 52 && offsetof(FontStyle, kept) == 56 &&
              sizeof(FontStyle) == 64);

// The stored 16-bit font style: bits 0-7 the style byte, bits 8, 9, 10 the
// flags A, B, C. Unpacking replaces the style byte and sets the three flags
// to 0 or 1.
uint16_t FontStylePack(const FontStyle* font);
void FontStyleUnpack(uint16_t style, FontStyle* font);
// Writes "Font ("name",style,size,foreground" and then ",background" when
// the background flag or flag A is set, then ")" (no blank) into out (at
// most size bytes with the terminator); returns its length. Colours are
// masked to 24 bits; a quote in the name is doubled. 0 and an empty text
// when the clause does not fit.
size_t StyleClauseFont(FontStyle font, char* out, size_t size);

// What kind-13 values need of the map-object code, which owns the object
// record: installed by that code (ValueSetObjectServices) when the library
// initialises. Without them an object cannot be copied into a value (the
// copy fails with 479), a value's object has nothing of its own freed and
// no kind name.
struct MapObjectServices {
  // The size of the block a kind-13 value owns: one object record.
  size_t objectSize;
  // Copies an object and what it owns into a fresh zeroed block; 0 when out
  // of memory, with nothing left allocated.
  int (*copy)(const void* source, void* target);
  // Frees what an object owns, not its block.
  void (*free)(void* object);
  // The name of the object's kind, bounded by size.
  void (*kindName)(const void* object, char* buffer, size_t size);
};
// Null uninstalls. The record must outlive its installation.
void ValueSetObjectServices(const MapObjectServices* services);

int16_t ValueInit(Value* value, uint8_t kind, uint8_t size);
int16_t ValueAlloc(uint8_t size, Value* value, char** text);
int16_t ValueSet(Value* value, int kind, ...);
int16_t ValueSetObject(const void* object, uint8_t subKind, Value* value);
// Copies a font or symbol name: at most 31 characters, the 32 bytes padded.
void FontNameCopy(const char* source, char* destination);
void ValueFree(Value* value);
void ValueBlank(Value* value);
void ValuePadFixed(Value* value);
void ValueAttachBuffer(Value* value, char* buffer, int32_t offset);
int16_t ValueData(const Value* value, char** pointer);
char* ValueCopyText(char* buffer, const Value* value, size_t size);
size_t ValueTextLength(const Value* value);
int16_t ValueCopy(Value* destination, const Value* source);
int32_t ValueSize(const Value* value);
int16_t ValueToDouble(const Value* value, double* out, int parseFlags);
int16_t ValueToLong(const Value* value, int32_t* out, int parseFlags);
int16_t ValueToShort(const Value* value, int16_t* out, int parseFlags);
int16_t ValueToDate(const Value* value, DateRec* out);
int16_t ValueFromDouble(Value* value, uint8_t kind, double x);
int16_t ValueTruth(const Value* value);
int16_t ValueIsTrue(const Value* value);
int TextValueKind(const char* text);
int16_t ValueParseField(const char* text, uint8_t kind, int width, int decimals, uint16_t reset,
                        Value* value, int parseFlags);
// Whether ValueParseField takes the whole of a text as a number of a number
// kind (after the blanks round it): 1 for a blank text and for the other
// kinds. Pushes nothing, so that a caller can refuse a value in its own words
// before the parser would turn it into 0.
int16_t ValueNumberTextFits(const char* text, uint8_t kind, int parseFlags);
int16_t ValueAssign(Value* destination, const Value* source, int parseFlags);
int16_t ValueStore(Value* destination, const Value* source, int parseFlags);
char* ValueToText(const Value* value, char* buffer, size_t size, int decimals, int localise);
char* ValueFormatDecimals(const Value* value, char* buffer, size_t size, int decimals,
                          int localise);
char* NumFormatAuto(double x, char* buffer, size_t size, int localise);
char* NumFormatGeneral(double x, char* buffer, size_t size);
char* NumFormatG14(double x, char* buffer, size_t size, int localise);
char* NumFormatTrimmed(double x, char* buffer, size_t size);
char* NumLocalize(char* text, size_t size);
// Removes every thousands separator, then makes the last decimal separator
// a '.'; returns the text. Built with the number parsers that use it.
char* NumUnlocalize(char* text);
char* NumGroupDigits(char* text, size_t size, char separator, int group);
void DateFormat(char* buffer, size_t size, const DateRec* date, int order, char separator,
                char* pattern, size_t patternSize);
void DateFormatShort(char* buffer, size_t size, const DateRec* date, int order, char separator);
int DatePatternLength();
int16_t NumIsIntegralInRange(double x, double low, double high, double* out);
void ValueRangeError(int16_t code, double x);
int16_t ValueCompare(const Value* a, const Value* b, int* out, int ignored, int report);
int16_t ValueCompareKeys(const void* keyA, const void* keyB, int* out, int report);
int16_t ValueCompareIndexKey(const Value* search, const void* key, int* out, int report,
                             uint32_t stamp);
int IntSign(int32_t n);

}  // namespace layerio
