// Records and seams shared by the value files (value.cpp, value_convert.cpp)
// and the tokenizer; nothing outside the foundation includes this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"
#include "mapfile/foundation/value.h"

namespace layerio {

inline constexpr size_t kSymbolRecordSize = 88;
inline constexpr size_t kFontRecordSize = sizeof(FontStyle);

struct PenRec {
  int16_t width;
  int16_t pad;
  int32_t pattern;
  int32_t zero;
  int32_t colour;
};
static_assert(sizeof(PenRec) == 16);

struct BrushRec {
  int32_t pattern;
  int32_t foreground;
  int32_t background;
  uint8_t transparent;
  uint8_t pad[3];
};
static_assert(sizeof(BrushRec) == 16);

struct SymbolRec {
  int16_t shape;
  int16_t pad;
  int32_t colour;
  int16_t size;
  uint8_t form;        // 0 simple, 1 font symbol, 2 custom
  uint8_t style[4];    // style byte, then the flags of bits 8, 9 and 10
  uint8_t pad2;
  uint16_t customFlags;
  char name[kStyleNameSize];
  int16_t rotation;
};
static_assert(sizeof(SymbolRec) <= kSymbolRecordSize);

// The text address of a text kind, else null.
char* ValueTextPointer(const Value* value);
// ValueAlloc without the byte limit on the size.
int16_t ValueAllocText(size_t size, Value* value, char** text);

// The map-object services as installed (ValueSetObjectServices): a new
// block holding a copy of the object, null on failure (479 pushed without
// the services); the free does nothing and the kind name is empty without
// them.
void* CopyMapObject(const void* source);
void FreeMapObject(void* object);
void MapObjectKindName(const void* object, char* buffer, size_t size);

}  // namespace layerio

namespace layerio {

// Maps a search text in place through the normalization table whose stamp is
// given (index keys are stored normalised): table 1, or under the Latin-1
// charsets the table 2 or 3 whose stamp it is.
void NormalizeIndexKeyText(char* text, uint32_t stamp);

}  // namespace layerio
