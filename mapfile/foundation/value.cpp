// The typed value: setting, owning, freeing and copying values of every kind,
// and the style records that travel in them.
//
// Ownership: a value owns the block its pointer names when its kind says so
// (text with aux < 0, memo, styles, object, identifier, owned block, and a
// fixed-width text of non-zero width); ValueFree releases exactly that and
// leaves the kind. A text attached to a caller's buffer (kind 1, aux >= 0)
// and the borrowed kinds 10 and 24 are never freed here.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/value.h"
#include "mapfile/foundation/value_internal.h"

namespace layerio {

namespace {

constexpr int16_t kErrStyleRange = 465;

// The low byte of a font symbol's style, and bits 8, 9 and 10 as three flags.
void UnpackSymbolStyle(uint16_t style, uint8_t* out) {
  out[0] = uint8_t(style & 0xFF);
  out[1] = (style >> 8) & 1;
  out[2] = (style >> 9) & 1;
  out[3] = (style >> 10) & 1;
}

bool InRange(double x, double low, double high) {
  if (NumIsIntegralInRange(x, low, high, nullptr)) return true;
  ValueRangeError(kErrStyleRange, x);
  return false;
}

void* AllocBlock(size_t size) {
  void* p = nullptr;
  MemHandle h = nullptr;
  MemAllocZero(size, &h, &p);
  return p;
}

size_t StyleSize(uint8_t kind) {
  switch (kind) {
    case kValuePen:
    case kValueBrush:
      return 16;
    case kValueSymbol:
      return kSymbolRecordSize;
    case kValueFont:
      return kFontRecordSize;
    default:
      return 0;
  }
}

bool SetPen(Value* v, va_list ap) {
  int width = va_arg(ap, int), pattern = va_arg(ap, int);
  int32_t colour = va_arg(ap, int32_t);
  if (!InRange(width, 0, 2047) || !InRange(pattern, 0, 255)) return false;
  if ((width == 0 || width == 10) && pattern != 1) width = 1, pattern = 2;
  auto* pen = static_cast<PenRec*>(AllocBlock(sizeof(PenRec)));
  if (!pen) return false;
  pen->width = int16_t(width);
  pen->pattern = pattern;
  pen->colour = colour;
  v->u.p = pen;
  return true;
}

bool SetBrush(Value* v, va_list ap) {
  int pattern = va_arg(ap, int);
  int32_t foreground = va_arg(ap, int32_t), background = va_arg(ap, int32_t);
  if (!InRange(pattern, 1, 255)) return false;
  auto* brush = static_cast<BrushRec*>(AllocBlock(sizeof(BrushRec)));
  if (!brush) return false;
  brush->pattern = pattern;
  brush->foreground = foreground;
  brush->transparent = background == -1;
  brush->background = background == -1 ? 0xFFFFFF : background;
  v->u.p = brush;
  return true;
}

bool SetSymbol(Value* v, va_list ap) {
  int form = va_arg(ap, int);
  SymbolRec s{};
  s.form = uint8_t(form);
  int style = 0;
  if (form == 2) {
    const char* name = va_arg(ap, const char*);
    s.colour = va_arg(ap, int32_t);
    s.size = int16_t(va_arg(ap, int));
    style = va_arg(ap, int);
    if (!InRange(s.size, 1, 240) || !InRange(style, 0, 32767)) return false;
    FontNameCopy(name, s.name);
    s.shape = 0;
    // bits 0-1 as they stand, bit 2 moved to bit 3
    s.customFlags = uint16_t((style & 3) | ((style & 4) << 1));
  } else {
    int shape = va_arg(ap, int);
    s.colour = va_arg(ap, int32_t);
    int size = va_arg(ap, int);
    if (!InRange(shape, 0, 32767) || !InRange(size, 1, 240)) return false;
    s.shape = int16_t(shape);
    s.size = int16_t(size);
    if (form == 1) {
      const char* name = va_arg(ap, const char*);
      style = va_arg(ap, int);
      int rotation = va_arg(ap, int);
      if (!InRange(style, 0, 32767) || !InRange(rotation, -3600, 3600)) return false;
      FontNameCopy(name, s.name);
      UnpackSymbolStyle(uint16_t(style), s.style);
      s.rotation = int16_t(rotation);
    }
  }
  auto* block = static_cast<SymbolRec*>(AllocBlock(kSymbolRecordSize));
  if (!block) return false;
  *block = s;
  v->u.p = block;
  return true;
}

bool SetFont(Value* v, va_list ap) {
  const char* name = va_arg(ap, const char*);
  int style = va_arg(ap, int), size = va_arg(ap, int);
  int32_t foreground = va_arg(ap, int32_t), background = va_arg(ap, int32_t);
  if (!InRange(style, 0, 32767)) return false;
  if (size != 0 && !InRange(size, 1, 999)) return false;
  auto* font = static_cast<FontStyle*>(AllocBlock(kFontRecordSize));
  if (!font) return false;
  FontStyleUnpack(uint16_t(style), font);
  FontNameCopy(name, font->name);
  font->size = int16_t(size);
  font->foreground = uint32_t(foreground);
  font->background = uint32_t(background);
  font->backgroundFlag = (style & 0x100) == 0 && background != -1;
  v->u.p = font;
  return true;
}

}  // namespace

void FontNameCopy(const char* source, char* destination) {
  StrCopyPadded(destination, source ? source : "", kStyleNameSize);
}

// ----- the font record -----

uint16_t FontStylePack(const FontStyle* font) {
  return uint16_t(font->style | (font->flagA ? 0x100 : 0) | (font->flagB ? 0x200 : 0) |
                  (font->flagC ? 0x400 : 0));
}

void FontStyleUnpack(uint16_t style, FontStyle* font) {
  font->style = uint8_t(style);
  font->flagA = (style >> 8) & 1;
  font->flagB = (style >> 9) & 1;
  font->flagC = (style >> 10) & 1;
}

size_t StyleClauseFont(FontStyle font, char* out, size_t size) {
  // The name is read to its terminator or its 31st character, whichever
  // comes first, with each quote doubled so that the clause reads back.
  char name[2 * kStyleNameSize];
  size_t n = 0;
  for (int i = 0; i < kStyleNameSize - 1 && font.name[i]; ++i) {
    if (font.name[i] == '"') name[n++] = '"';
    name[n++] = font.name[i];
  }
  name[n] = 0;
  constexpr uint32_t kColourMask = 0xFFFFFF;
  const unsigned style = FontStylePack(&font);
  // The size prints as the original "%u" of a 16-bit field promoted to int.
  const unsigned points = static_cast<unsigned>(int(font.size));
  const unsigned long foreground = font.foreground & kColourMask;
  const unsigned long background = font.background & kColourMask;
  int written = font.backgroundFlag || font.flagA
                    ? std::snprintf(out, size, "Font (\"%s\",%u,%u,%lu,%lu)", name, style, points,
                                    foreground, background)
                    : std::snprintf(out, size, "Font (\"%s\",%u,%u,%lu)", name, style, points,
                                    foreground);
  if (written < 0 || size_t(written) >= size) {
    if (size) out[0] = 0;  // a clause that does not fit is dropped whole
    return 0;
  }
  return size_t(written);
}

// ----- the map-object services -----

void ValueSetObjectServices(const MapObjectServices* services) { State().mapObjects = services; }

void* CopyMapObject(const void* source) {
  const MapObjectServices* services = State().mapObjects;
  if (!services) {
    // A byte copy would share the object's buffers with its source.
    ErrorPush(kErrorSeverity, kErrInternal, nullptr, nullptr);
    return nullptr;
  }
  void* block = AllocBlock(services->objectSize);
  if (block && !services->copy(source, block)) MemFreePtr(&block);
  return block;
}

void FreeMapObject(void* object) {
  if (const MapObjectServices* services = State().mapObjects) services->free(object);
}

void MapObjectKindName(const void* object, char* buffer, size_t size) {
  if (size) buffer[0] = 0;
  if (const MapObjectServices* services = State().mapObjects) services->kindName(object, buffer, size);
}

// ----- text access -----

char* ValueTextPointer(const Value* value) {
  char* p = nullptr;
  ValueData(value, &p);
  return p;
}

int16_t ValueAllocText(size_t size, Value* value, char** text) {
  char* p = nullptr;
  switch (value->kind) {
    case kValueText:
    case kValueMemo:
    case kValueIdentifier:
    case kValueOwnedBlock:
      value->aux = -1;
      p = static_cast<char*>(AllocBlock(size + 1));
      break;
    case kValueFixedText:
      p = static_cast<char*>(AllocBlock(size + 1));
      if (p) {
        std::memset(p, ' ', size);
        value->aux = int32_t(size);
      }
      break;
    default:
      if (text) *text = nullptr;
      return 1;
  }
  value->u.p = p;
  if (text) *text = p;
  return p ? 1 : 0;
}

// ----- setting, owning, freeing -----

int16_t ValueInit(Value* value, uint8_t kind, uint8_t size) {
  value->kind = kind;
  return ValueAlloc(size, value, nullptr);
}

int16_t ValueAlloc(uint8_t size, Value* value, char** text) {
  return ValueAllocText(size, value, text);
}

int16_t ValueSet(Value* value, int kind, ...) {
  std::memset(value, 0, sizeof *value);
  value->kind = uint8_t(kind);
  va_list ap;
  va_start(ap, kind);
  bool ok = true;
  switch (kind) {
    case kValueNone:
      break;
    case kValueText:
    case kValueFixedText: {
      const char* text = va_arg(ap, const char*);
      if (!text) text = "";
      size_t n = std::strlen(text);
      char* p = nullptr;
      ok = ValueAllocText(n, value, &p) != 0;
      if (ok) std::memcpy(p, text, n);
      break;
    }
    case kValueFloat:
    case kValueDecimal:
      value->u.d = va_arg(ap, double);
      break;
    case kValueInteger:
      value->u.i = va_arg(ap, int32_t);
      break;
    case kValueSmallInt:
      value->u.s = int16_t(va_arg(ap, int));
      break;
    case kValueDate: {
      const DateRec* d = va_arg(ap, const DateRec*);
      if (d) value->u.date = *d;
      break;
    }
    case kValueLogical:
      value->u.b = va_arg(ap, int) != 0;
      break;
    case kValuePen:
      ok = SetPen(value, ap);
      break;
    case kValueBrush:
      ok = SetBrush(value, ap);
      break;
    case kValueObject:
      value->u.p = va_arg(ap, void*);
      value->aux = uint8_t(va_arg(ap, int));
      break;
    case kValueSymbol:
      ok = SetSymbol(value, ap);
      break;
    case kValueFont:
      ok = SetFont(value, ap);
      break;
    default:
      ok = false;
      break;
  }
  va_end(ap);
  return ok ? 1 : 0;
}

int16_t ValueSetObject(const void* object, uint8_t subKind, Value* value) {
  std::memset(value, 0, sizeof *value);
  value->kind = kValueObject;
  void* block = CopyMapObject(object);
  if (!block) return 0;
  value->u.p = block;
  value->aux = subKind;
  return 1;
}

void ValueFree(Value* value) {
  switch (value->kind) {
    case kValueText:
      if (value->aux < 0) MemFreePtr(&value->u.p);
      break;
    case kValueMemo:
    case kValuePen:
    case kValueBrush:
    case kValueSymbol:
    case kValueFont:
    case kValueIdentifier:
    case kValueOwnedBlock:
      MemFreePtr(&value->u.p);
      break;
    case kValueObject:
      if (value->u.p) FreeMapObject(value->u.p);
      MemFreePtr(&value->u.p);
      break;
    case kValueFixedText:
      if (value->aux != 0) MemFreePtr(&value->u.p);
      value->u.p = nullptr;
      return;  // keeps its width
    default:
      break;  // owns nothing; its payload is cleared all the same
  }
  value->u.d = 0;
  value->u.p = nullptr;
  value->aux = 0;
}

void ValueBlank(Value* value) {
  char* p = ValueTextPointer(value);
  switch (value->kind) {
    case kValueText:
    case kValueBorrowedText:
    case kValueIdentifier:
    case kValueBorrowedIdentifier:
      if (p) *p = 0;
      return;
    case kValueFixedText:
      if (p) {
        std::memset(p, ' ', size_t(value->aux));
        p[value->aux] = 0;
      }
      return;
    default:
      ValueFree(value);
  }
}

void ValuePadFixed(Value* value) {
  if (value->kind != kValueFixedText || !value->u.p) return;
  char* p = static_cast<char*>(value->u.p);
  size_t n = std::strlen(p);
  if (n < size_t(value->aux)) std::memset(p + n, ' ', size_t(value->aux) - n);
  p[value->aux] = 0;
}

void ValueAttachBuffer(Value* value, char* buffer, int32_t offset) {
  if (value->kind != kValueText) return;
  value->u.p = buffer;
  value->aux = offset < 0 ? 0 : offset;
}

int16_t ValueData(const Value* value, char** pointer) {
  char* p = nullptr;
  switch (value->kind) {
    case kValueText:
      p = static_cast<char*>(value->u.p);
      if (p && value->aux >= 0) p += value->aux;
      break;
    case kValueMemo:
    case kValueIdentifier:
    case kValueOwnedBlock:
    case kValueBorrowedText:
    case kValueBorrowedIdentifier:
    case kValueFixedText:
      p = static_cast<char*>(value->u.p);
      break;
    default:
      break;
  }
  *pointer = p;
  return p ? 1 : 0;
}

char* ValueCopyText(char* buffer, const Value* value, size_t size) {
  const char* p = ValueTextPointer(value);
  return StrCopyPadded(buffer, p ? p : "", size);
}

size_t ValueTextLength(const Value* value) {
  const char* p = ValueTextPointer(value);
  return p ? std::strlen(p) : 0;
}

int16_t ValueCopy(Value* destination, const Value* source) {
  const Value s = *source;  // the destination may be the source
  switch (s.kind) {
    case kValueText:
    case kValueBorrowedText:
    case kValueIdentifier:
    case kValueBorrowedIdentifier:
    case kValueFixedText: {
      const char* text = ValueTextPointer(&s);
      if (!text && s.kind == kValueText) return 0;
      if (!text) text = "";
      size_t length;
      if (s.kind == kValueFixedText) {
        length = size_t(s.aux);
      } else if ((s.kind == kValueText || s.kind == kValueIdentifier) && s.aux < 0) {
        // an owned block keeps its capacity; texts in shared buffers take
        // their own length, since the buffer's size is not theirs
        MemHandle h = s.u.p;
        length = MemBlockSize(&h) - 1;
      } else {
        length = std::strlen(text);
      }
      Value d{};
      d.kind = s.kind == kValueBorrowedText ? uint8_t(kValueText)
               : s.kind == kValueBorrowedIdentifier ? uint8_t(kValueIdentifier)
                                                    : s.kind;
      char* p = nullptr;
      if (!ValueAllocText(length, &d, &p)) return 0;
      size_t n = std::strlen(text);
      std::memcpy(p, text, n < length ? n : length);
      if (d.kind == kValueFixedText && n < length) std::memset(p + n, ' ', length - n);
      *destination = d;
      return 1;
    }
    case kValueMemo:
    case kValueOwnedBlock: {
      // a copy of its own, so that source and copy each free one block
      Value d = s;
      if (s.u.p) {
        const char* text = static_cast<const char*>(s.u.p);
        size_t n = std::strlen(text);
        char* p = nullptr;
        if (!ValueAllocText(n, &d, &p)) return 0;
        std::memcpy(p, text, n);
      }
      *destination = d;
      return 1;
    }
    case kValuePen:
    case kValueBrush:
    case kValueSymbol:
    case kValueFont: {
      Value d = s;
      if (s.u.p) {
        size_t size = StyleSize(s.kind);
        void* block = AllocBlock(size);
        if (!block) return 0;
        std::memcpy(block, s.u.p, size);
        d.u.p = block;
      }
      *destination = d;
      return 1;
    }
    case kValueObject: {
      Value d = s;
      if (s.u.p && !(d.u.p = CopyMapObject(s.u.p))) return 0;
      *destination = d;
      return 1;
    }
    default:
      *destination = s;
      return 1;
  }
}

int32_t ValueSize(const Value* value) {
  switch (value->kind) {
    case kValueText:
    case kValueBorrowedText:
    case kValueIdentifier:
    case kValueBorrowedIdentifier:
      return int32_t(ValueTextLength(value) + 1);
    case kValueFloat:
    case kValueDecimal:
      return 8;
    case kValueInteger:
    case kValueDate:
      return 4;
    case kValueSmallInt:
      return 2;
    case kValueLogical:
      return 1;
    case kValueOpaque:
    case kValueObject:
      return 25;
    case kValueFixedText:
      return value->aux;
    default:
      return 0;
  }
}

// ----- ranges -----

int16_t NumIsIntegralInRange(double x, double low, double high, double* out) {
  if (low > high) {
    double t = low;
    low = high;
    high = t;
  }
  if (std::isfinite(x) && std::floor(x) == x && x >= low && x <= high) return 1;
  if (out) *out = x;
  return 0;
}

void ValueRangeError(int16_t code, double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", x);
  ErrorPush(kErrorSeverity, code, text, nullptr);
}

int IntSign(int32_t n) { return n < 0 ? -1 : n > 0 ? 1 : 0; }

}  // namespace layerio
