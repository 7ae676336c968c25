// Drawing styles of map objects: the pen of lines and borders, the brush of
// filled areas, the symbol of points and the font of texts, and the bundle of
// the four that new objects receive.
//
// These are the in-memory records. Colours are 0xRRGGBB in a u32; the top
// byte is ignored wherever a colour is compared or printed. Pen widths 0..7
// are pixels, 10 and up are 10 plus a width in points.
//
// The compact byte forms, equality, packing and the clause texts of the
// records are added beside them by the style code; what is here is what the
// object model needs: the records, the default bundle and the per-kind
// accessors that find an object's styles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

struct GeomObject;

inline constexpr int kStyleNameSize = 32;  // at most 31 characters and a zero

struct PenStyle {
  int16_t width;
  uint32_t pattern;  // 1: no line
  uint32_t kept;     // compared by the equality test, never printed
  uint32_t colour;
};
static_assert(offsetof(PenStyle, width) == 0 && offsetof(PenStyle, pattern) == 4 &&
              offsetof(PenStyle, kept) == 8 && offsetof(PenStyle, colour) == 12 &&
              sizeof(PenStyle) == 16);

struct BrushStyle {
  uint32_t pattern;  // 1: no fill, 2: solid
  uint32_t foreground;
  uint32_t background;
  uint8_t transparent;  // non-zero: the background is not drawn
};
static_assert(offsetof(BrushStyle, foreground) == 4 && offsetof(BrushStyle, background) == 8 &&
              offsetof(BrushStyle, transparent) == 12 && sizeof(BrushStyle) == 16);

enum SymbolKind : uint8_t {
  kSymbolSimple = 0,
  kSymbolFont = 1,
  kSymbolCustom = 2,
};

struct SymbolStyle {
  int16_t shape;  // symbol number, character code of a font symbol, 0 for a custom one
  uint32_t colour;
  int16_t size;
  uint8_t kind;  // SymbolKind
  union {
    struct {
      uint32_t styleFlags;  // bits 0, 4 and 5 are kept
      uint16_t flag;        // the 256 bit of the stored style
      char name[kStyleNameSize];
    } font;
    struct {
      char file[kStyleNameSize];  // the picture file
      uint32_t flags;             // bits 0, 1 and 3: the custom style
    } custom;
  };
  int16_t angle;  // tenths of a degree (font symbols)
};
static_assert(offsetof(SymbolStyle, colour) == 4 && offsetof(SymbolStyle, size) == 8 &&
              offsetof(SymbolStyle, kind) == 10 && offsetof(SymbolStyle, font) == 12 &&
              offsetof(SymbolStyle, font.flag) == 16 && offsetof(SymbolStyle, font.name) == 18 &&
              offsetof(SymbolStyle, custom.flags) == 44 && offsetof(SymbolStyle, angle) == 52 &&
              sizeof(SymbolStyle) == 56);

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

// The styles applied together to an object (GeomObjectSetStyle) and given to
// new part objects.
struct StyleBundle {
  PenStyle linePen;
  PenStyle areaPen;
  BrushStyle brush;
  FontStyle font;
  SymbolStyle symbol;
};

// The process-wide default bundle: pens of width 1, pattern 2, colour 0; a
// brush of pattern 2 with white foreground and background, background shown;
// an all-zero font; the simple symbol 32 of colour 0 and size 9.
StyleBundle* StyleDefaults();

// 1 when a pen width is in pixels (below 10).
int PenWidthIsPixels(int32_t width);

// Per-kind accessors: 1 and the record copied out (when out is given) when
// the object carries that style, else 0.
//   line pen: lines, arcs, polylines, texts; a collection's polyline part.
//   border pen and brush: regions, rectangles, rounded rectangles, ellipses,
//     frames; a collection's region part.
//   symbol: points and multipoints; a collection's multipoint part.
int GeomObjectGetLinePen(const GeomObject* object, PenStyle* out);
int GeomObjectGetBorderPen(const GeomObject* object, PenStyle* out);
int GeomObjectGetBrush(const GeomObject* object, BrushStyle* out);
int GeomObjectGetSymbol(const GeomObject* object, SymbolStyle* out);

// Applies a bundle by kind: area kinds take the brush and the area pen,
// linear kinds the line pen, points and multipoints the symbol, a text the
// font and the area pen; a collection hands each style to the part that uses
// it when that part is present. Other kinds keep their styles (1). 0 as soon
// as a step fails.
int GeomObjectSetStyle(GeomObject* target, StyleBundle bundle);

// Copies the styles the source has onto the target, step by step (brush and
// border pen; a text's font and pen; the line pen; the symbol), each onto the
// target or, for a collection, onto its part that uses it. The result is that
// of the last step that ran.
int GeomObjectCopyStyle(GeomObject* target, const GeomObject* source);

}  // namespace layerio
