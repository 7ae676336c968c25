// Style records: defaults, per-kind accessors, compact records, stored
// 16-bit styles, equality and clauses.
#include "mapfile/objects/styles.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mapfile/objects/geom.h"
#include "platform/endian.h"

namespace layerio {

namespace {

StyleBundle MakeDefaults() {
  StyleBundle b{};
  b.linePen.width = 1;
  b.linePen.pattern = 2;
  b.areaPen.width = 1;
  b.areaPen.pattern = 2;
  b.brush.pattern = 2;
  b.brush.foreground = 0xFFFFFF;
  b.brush.background = 0xFFFFFF;
  b.brush.transparent = 0;
  b.symbol.shape = 32;
  b.symbol.size = 9;
  b.symbol.kind = kSymbolSimple;
  return b;
}

StyleBundle gDefaults = MakeDefaults();

constexpr uint32_t kColourMask = 0xFFFFFF;
constexpr int kMaxPixelWidth = 7;
constexpr int kPointWidthBase = 10;
constexpr uint8_t kPenPointHigh = 8;  // byte 0: the high bits of a point width follow

constexpr uint32_t kSymbolFontStyleMask = 0x31;  // style-flag bits 0, 4, 5
constexpr uint16_t kSymbolFontFlagBit = 0x100;

constexpr char kPenFormat[] = "Pen (%u,%u,%lu) ";
constexpr char kBrushHead[] = "Brush (%u,%lu";
constexpr char kBrushBackground[] = ",%lu";
constexpr char kBrushTail[] = ") ";
constexpr char kSymbolSimpleFormat[] = "Symbol (%u,%lu,%u) ";
constexpr char kSymbolFontFormat[] = "Symbol (%u,%lu,%u,\"%s\",%u,%g) ";
constexpr char kSymbolCustomFormat[] = "Symbol (\"%s\",%lu,%u,%u) ";

void PutColour(uint32_t colour, uint8_t* p) {
  p[0] = uint8_t(colour >> 16);
  p[1] = uint8_t(colour >> 8);
  p[2] = uint8_t(colour);
}

uint32_t GetColour(const uint8_t* p) {
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
}


// Printed as the original "%u" of a 16-bit field promoted to int.
unsigned U(int v) { return static_cast<unsigned>(v); }
unsigned long Colour(uint32_t colour) { return colour & kColourMask; }

// A name field with each quote doubled, ready to go between quotes. The field
// is read to its terminator or its 31st character, whichever comes first.
struct QuotedName {
  char text[2 * kStyleNameSize];
  explicit QuotedName(const char* name) {
    size_t n = 0;
    for (int i = 0; i < kStyleNameSize - 1 && name[i]; ++i) {
      if (name[i] == '"') text[n++] = '"';
      text[n++] = name[i];
    }
    text[n] = 0;
  }
};

// Appends to a clause being built; a clause that does not fit is dropped
// whole rather than left cut.
class ClauseWriter {
 public:
  ClauseWriter(char* out, size_t size) : out_(out), size_(size) {
    if (size_) out_[0] = 0;
  }
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (failed_) return;
    va_list ap;
    va_start(ap, format);
    int n = size_ > used_ ? std::vsnprintf(out_ + used_, size_ - used_, format, ap) : -1;
    va_end(ap);
    if (n < 0 || size_t(n) >= size_ - used_) {
      failed_ = true;
      return;
    }
    used_ += size_t(n);
  }
  size_t Finish() {
    if (!failed_) return used_;
    if (size_) out_[0] = 0;
    return 0;
  }

 private:
  char* out_;
  size_t size_;
  size_t used_ = 0;
  bool failed_ = false;
};

int HasLinePen(int kind) {
  return kind == kGeomLine || kind == kGeomArc || kind == kGeomPolyline || kind == kGeomText;
}

// The part of a collection that carries a style, or the object itself.
GeomObject* Carrier(GeomObject* target, GeomObject* GeomCollectionFields::*slot) {
  if (target->kind != kGeomCollection) return target;
  return target->u.collection.*slot;
}

}  // namespace

StyleBundle* StyleDefaults() { return &gDefaults; }

int PenWidthIsPixels(int32_t width) { return width < 10 ? 1 : 0; }

int GeomObjectGetLinePen(const GeomObject* object, PenStyle* out) {
  if (HasLinePen(object->kind)) {
    if (out) *out = object->pen;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.polyline) {
    if (out) *out = object->u.collection.polyline->pen;
    return 1;
  }
  return 0;
}

int GeomObjectGetBorderPen(const GeomObject* object, PenStyle* out) {
  if (GeomKindHasBrush(object->kind)) {
    if (out) *out = object->pen;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.region) {
    if (out) *out = object->u.collection.region->pen;
    return 1;
  }
  return 0;
}

int GeomObjectGetBrush(const GeomObject* object, BrushStyle* out) {
  if (GeomKindHasBrush(object->kind)) {
    if (out) *out = object->brush;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.region) {
    if (out) *out = object->u.collection.region->brush;
    return 1;
  }
  return 0;
}

int GeomObjectGetSymbol(const GeomObject* object, SymbolStyle* out) {
  if (object->kind == kGeomPoint) {
    if (out) *out = object->u.point.symbol;
    return 1;
  }
  if (object->kind == kGeomMultipoint) {
    if (out) *out = object->u.multipoint.symbol;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.multipoint) {
    if (out) *out = object->u.collection.multipoint->u.multipoint.symbol;
    return 1;
  }
  return 0;
}

int GeomObjectSetStyle(GeomObject* target, StyleBundle bundle) {
  switch (target->kind) {
    case kGeomRegion:
    case kGeomRect:
    case kGeomRoundRect:
    case kGeomEllipse:
    case kGeomFrame:
      return GeomObjectSetAttr(target, kAttrBrush, &bundle.brush) &&
             GeomObjectSetAttr(target, kAttrPen, &bundle.areaPen);
    case kGeomLine:
    case kGeomArc:
    case kGeomPolyline:
      return GeomObjectSetAttr(target, kAttrPen, &bundle.linePen);
    case kGeomPoint:
    case kGeomMultipoint:
      return GeomObjectSetAttr(target, kAttrSymbol, &bundle.symbol);
    case kGeomText:
      return GeomObjectSetAttr(target, kAttrTextFont, &bundle.font) &&
             GeomObjectSetAttr(target, kAttrPen, &bundle.areaPen);
    case kGeomCollection: {
      GeomCollectionFields& c = target->u.collection;
      if (c.region && !(GeomObjectSetAttr(c.region, kAttrBrush, &bundle.brush) &&
                        GeomObjectSetAttr(c.region, kAttrPen, &bundle.areaPen))) {
        return 0;
      }
      if (c.polyline && !GeomObjectSetAttr(c.polyline, kAttrPen, &bundle.linePen)) return 0;
      if (c.multipoint && !GeomObjectSetAttr(c.multipoint, kAttrSymbol, &bundle.symbol)) {
        return 0;
      }
      return 1;
    }
    default:
      return 1;
  }
}

int GeomObjectCopyStyle(GeomObject* target, const GeomObject* source) {
  int result = 0;
  BrushStyle brush;
  PenStyle pen;
  SymbolStyle symbol;
  if (GeomObjectGetBrush(source, &brush)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::region);
    result = t ? GeomObjectSetAttr(t, kAttrBrush, &brush) : 0;
  }
  if (GeomObjectGetBorderPen(source, &pen)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::region);
    result = t ? GeomObjectSetAttr(t, kAttrPen, &pen) : 0;
  }
  if (source->kind == kGeomText) {
    result = GeomObjectSetAttr(target, kAttrTextFont, &source->u.text.font);
    result = GeomObjectSetAttr(target, kAttrPen, &source->pen);
  }
  if (GeomObjectGetLinePen(source, &pen) && !GeomKindHasBrush(target->kind)) {
    if (target->kind == kGeomCollection) {
      GeomObject* t = target->u.collection.polyline;
      result = t ? GeomObjectSetAttr(t, kAttrPen, &pen) : 0;
    } else if (GeomObjectGetLinePen(target, nullptr) || target->kind == kGeomItems12 ||
               target->kind == kGeomItems24) {
      result = GeomObjectSetAttr(target, kAttrPen, &pen);
    }
  }
  if (GeomObjectGetSymbol(source, &symbol)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::multipoint);
    result = t ? GeomObjectSetAttr(t, kAttrSymbol, &symbol) : 0;
  }
  return result;
}

// ----- compact records ---------------------------------------------------

void PenRecPack(const PenStyle* pen, uint8_t* rec) {
  int width = pen->width;
  if (PenWidthIsPixels(width)) {
    // Bit 3 of byte 0 marks a point width: pixel widths 8 and 9 would read
    // back as 10 and 266, so they are held to the widest pixel width.
    rec[0] = uint8_t(width < 0 ? 0 : width > kMaxPixelWidth ? kMaxPixelWidth : width);
    rec[2] = 0;
  } else {
    uint32_t points = uint32_t(width - kPointWidthBase);
    uint8_t high = uint8_t((points >> 8) & 7);
    rec[0] = high ? uint8_t(kPenPointHigh | high) : 1;
    rec[2] = uint8_t(points);
  }
  rec[1] = uint8_t(pen->pattern);
  PutColour(pen->colour, rec + 3);
}

int PenRecIsPixelWidth(const uint8_t* rec) {
  return rec[2] == 0 && !(rec[0] & kPenPointHigh) ? 1 : 0;
}

int PenRecPixelWidth(const uint8_t* rec) { return rec[0] & 7; }

int PenRecPointWidth(const uint8_t* rec) {
  int width = rec[2] + kPointWidthBase;
  if (rec[0] & kPenPointHigh) width += 256 * (rec[0] & 7);
  return width;
}

void PenRecUnpack(const uint8_t* rec, PenStyle* pen) {
  pen->width = int16_t(PenRecIsPixelWidth(rec) ? PenRecPixelWidth(rec) : PenRecPointWidth(rec));
  pen->pattern = rec[1];
  pen->kept = 0;
  pen->colour = GetColour(rec + 3);
}

void BrushRecPack(const BrushStyle* brush, uint8_t* rec) {
  rec[0] = uint8_t(brush->pattern);
  rec[1] = brush->transparent;
  PutColour(brush->foreground, rec + 2);
  PutColour(brush->background, rec + 5);
}

void BrushRecUnpack(const uint8_t* rec, BrushStyle* brush) {
  brush->pattern = rec[0];
  brush->transparent = rec[1];
  brush->foreground = GetColour(rec + 2);
  brush->background = GetColour(rec + 5);
}

void SymbolRecPack(const SymbolStyle* symbol, uint8_t* rec) {
  QStoreU16LE(rec, uint16_t(symbol->shape));
  QStoreU16LE(rec + 2, uint16_t(symbol->size));
  rec[4] = 0;
  PutColour(symbol->colour, rec + 5);
}

void SymbolRecUnpack(const uint8_t* rec, SymbolStyle* symbol) {
  symbol->shape = QLoadI16LE(rec);
  symbol->size = QLoadI16LE(rec + 2);
  symbol->colour = GetColour(rec + 5);
}

void FontRecPack(const FontStyle* font, uint8_t* rec) {
  rec[0] = font->style;
  rec[1] = uint8_t((font->backgroundFlag ? 1 : 0) | (font->flagA ? 2 : 0) |
                   (font->flagB ? 4 : 0) | (font->flagC ? 8 : 0));
  PutColour(font->foreground, rec + 2);
  PutColour(font->background, rec + 5);
}

void FontRecUnpack(const uint8_t* rec, FontStyle* font) {
  font->style = rec[0];
  font->backgroundFlag = rec[1] & 1;
  font->flagA = (rec[1] >> 1) & 1;
  font->flagB = (rec[1] >> 2) & 1;
  font->flagC = (rec[1] >> 3) & 1;
  font->foreground = GetColour(rec + 2);
  font->background = GetColour(rec + 5);
  font->size = 0;
  font->kept = 0.0;
}

// ----- stored 16-bit styles and names --------------------------------------

uint16_t SymbolFontStyleGet(const SymbolStyle* symbol) {
  return uint16_t((symbol->font.styleFlags & kSymbolFontStyleMask) |
                  (symbol->font.flag ? kSymbolFontFlagBit : 0));
}

void SymbolFontStyleSet(SymbolStyle* symbol, uint16_t style) {
  symbol->font.styleFlags = style & kSymbolFontStyleMask;
  symbol->font.flag = (style & kSymbolFontFlagBit) ? 1 : 0;
}

int SymbolCustomStyleGet(const SymbolStyle* symbol) {
  uint32_t f = symbol->custom.flags;
  return int((f & 3) | ((f >> 1) & 4));
}

void SymbolCustomStyleSet(SymbolStyle* symbol, int style) {
  uint32_t s = uint32_t(style);
  symbol->custom.flags = (symbol->custom.flags & ~0xBu) | (s & 3) | ((s & 4) << 1);
}

void SymbolCustomNameSet(SymbolStyle* symbol, const char* name) {
  FontNameCopy(name, symbol->custom.file);
  symbol->shape = 0;
}

// ----- equality -------------------------------------------------------------

int PenEqual(const PenStyle* a, const PenStyle* b) {
  if (a->pattern != b->pattern) return 0;
  if (a->pattern == 1) return 1;
  return a->kept == b->kept && a->width == b->width &&
                 ((a->colour ^ b->colour) & kColourMask) == 0
             ? 1
             : 0;
}

int BrushEqual(const BrushStyle* a, const BrushStyle* b) {
  if (a->pattern != b->pattern) return 0;
  if (a->pattern == 1) return 1;
  bool sameForeground = ((a->foreground ^ b->foreground) & kColourMask) == 0;
  if (a->pattern == 2) return sameForeground ? 1 : 0;
  if (!sameForeground || a->transparent != b->transparent) return 0;
  if (a->transparent) return 1;
  return ((a->background ^ b->background) & kColourMask) == 0 ? 1 : 0;
}

// ----- clauses --------------------------------------------------------------

size_t StyleClausePen(PenStyle pen, char* out, size_t size) {
  ClauseWriter w(out, size);
  w.Add(kPenFormat, U(pen.width), pen.pattern, Colour(pen.colour));
  return w.Finish();
}

size_t StyleClauseBrush(BrushStyle brush, char* out, size_t size) {
  ClauseWriter w(out, size);
  w.Add(kBrushHead, brush.pattern, Colour(brush.foreground));
  if (!brush.transparent) w.Add(kBrushBackground, Colour(brush.background));
  w.Add(kBrushTail);
  return w.Finish();
}

size_t StyleClauseSymbol(const SymbolStyle* symbol, char* out, size_t size) {
  ClauseWriter w(out, size);
  switch (symbol->kind) {
    case kSymbolSimple:
      w.Add(kSymbolSimpleFormat, U(symbol->shape), Colour(symbol->colour), U(symbol->size));
      break;
    case kSymbolFont:
      w.Add(kSymbolFontFormat, U(symbol->shape), Colour(symbol->colour), U(symbol->size),
            QuotedName(symbol->font.name).text, unsigned(SymbolFontStyleGet(symbol)),
            symbol->angle / 10.0);
      break;
    case kSymbolCustom:
      w.Add(kSymbolCustomFormat, QuotedName(symbol->custom.file).text, Colour(symbol->colour),
            U(symbol->size), U(SymbolCustomStyleGet(symbol)));
      break;
    default:
      return 0;
  }
  return w.Finish();
}

}  // namespace layerio
