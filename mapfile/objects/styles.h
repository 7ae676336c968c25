// Drawing styles of map objects: the pen of lines and borders, the brush of
// filled areas, the symbol of points and the font of texts, and the bundle of
// the four that new objects receive.
//
// The in-memory records come first. Colours are 0xRRGGBB in a u32; the top
// byte is ignored wherever a colour is compared, packed or printed. Pen
// widths 0..7 are pixels, 10 and up are 10 plus a width in points.
//
// Compact records (the style tables of map-object files and the public object
// record store styles in these forms; every byte is fixed, multi-byte numbers
// are little-endian, colours are three bytes red, green, blue):
//
//   pen, 6 bytes
//     0     pixel widths: the width, clamped to 0..7. Point widths: with
//           h = bits 8-10 of (width - 10), 8 | h when h is not 0, else 1
//     1     pattern, low byte
//     2     point widths: low byte of (width - 10); pixel widths 0
//     3..5  colour
//   A pen record is a pixel width when byte 2 is 0 and bit 3 of byte 0 is
//   clear (width = byte 0 & 7); otherwise the width is byte 2 + 10, plus
//   256 * (byte 0 & 7) when bit 3 is set. So width 10 (zero points) reads
//   back as one pixel, and bits of (width - 10) above bit 10 are lost.
//
//   brush, 8 bytes
//     0     pattern, low byte
//     1     transparent flag
//     2..4  foreground
//     5..7  background
//
//   symbol, 8 bytes (the simple-symbol fields)
//     0..1  shape (u16)
//     2..3  size (u16)
//     4     0
//     5..7  colour
//   Unpacking fills shape, size and colour only.
//
//   font, 8 bytes (the name is stored apart)
//     0     style byte
//     1     bit 0 background flag, bit 1 flag A, bit 2 flag B, bit 3 flag C
//     2..4  foreground
//     5..7  background
//   Unpacking sets style, flags and colours, the size to 0 and the kept
//   double to 0.0, and leaves the name.
//
// Stored 16-bit styles:
//   font:        bits 0-7 the style byte, bits 8, 9, 10 flags A, B, C.
//   font symbol: bits 0, 4, 5 the style-flag bits 0, 4, 5; bit 8 the flag.
//   custom:      0..7 from custom-flag bits 0 (1), 1 (2) and 3 (4).
#pragma once

#include <cstddef>
#include <cstdint>

// The font record (FontStyle), its stored style and its clause belong to the
// foundation, whose kind-15 values carry fonts; so does FontNameCopy.
#include "mapfile/foundation/value.h"

namespace layerio {

struct GeomObject;

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

// ----- compact records ---------------------------------------------------

inline constexpr size_t kPenRecSize = 6;
inline constexpr size_t kBrushRecSize = 8;
inline constexpr size_t kSymbolRecSize = 8;
inline constexpr size_t kFontRecSize = 8;

// Each writes or reads exactly its record size at rec.
void PenRecPack(const PenStyle* pen, uint8_t* rec);
void PenRecUnpack(const uint8_t* rec, PenStyle* pen);  // kept becomes 0
void BrushRecPack(const BrushStyle* brush, uint8_t* rec);
void BrushRecUnpack(const uint8_t* rec, BrushStyle* brush);
void SymbolRecPack(const SymbolStyle* symbol, uint8_t* rec);
void SymbolRecUnpack(const uint8_t* rec, SymbolStyle* symbol);
void FontRecPack(const FontStyle* font, uint8_t* rec);
void FontRecUnpack(const uint8_t* rec, FontStyle* font);

// A pen record read without unpacking it: 1 when it holds a pixel width; the
// pixel width (byte 0 & 7); the width in the in-memory form (10 + points).
int PenRecIsPixelWidth(const uint8_t* rec);
int PenRecPixelWidth(const uint8_t* rec);
int PenRecPointWidth(const uint8_t* rec);

// ----- stored 16-bit styles and names --------------------------------------

uint16_t SymbolFontStyleGet(const SymbolStyle* symbol);
// Clears the style flags and the flag, then sets them from the stored style.
void SymbolFontStyleSet(SymbolStyle* symbol, uint16_t style);

int SymbolCustomStyleGet(const SymbolStyle* symbol);
// Sets custom-flag bits 0, 1 and 3 from a style 0..7, keeping the others.
void SymbolCustomStyleSet(SymbolStyle* symbol, int style);
// Copies the picture file name (at most 31 characters) and sets the shape to 0.
void SymbolCustomNameSet(SymbolStyle* symbol, const char* name);

// ----- equality (style tables share equal entries) --------------------------

// Equal patterns, and either both 1 (no line) or the same kept word, width and
// colour.
int PenEqual(const PenStyle* a, const PenStyle* b);
// Equal patterns, and then: pattern 1 always; pattern 2 the same foreground;
// others the same foreground and transparency, and the same background unless
// transparent.
int BrushEqual(const BrushStyle* a, const BrushStyle* b);

// ----- clauses --------------------------------------------------------------

// Room for the longest clause and its terminator.
inline constexpr size_t kStyleClauseSize = 192;

// Each writes its clause into out (at most size bytes with the terminator)
// and returns its length. Colours are printed masked to 24 bits; a quote in a
// font or file name is doubled, so that the clause reads back. 0 and an empty
// text when the clause does not fit, and for a symbol of an unknown kind.
//   "Pen (width,pattern,colour) "
//   "Brush (pattern,foreground[,background]) "   background unless transparent
//   "Symbol (shape,colour,size) "                           simple
//   "Symbol (shape,colour,size,"name",style,degrees) "      font symbol
//   "Symbol ("file",colour,size,style) "                     custom
// The font clause, "Font ("name",style,size,foreground[,background])", is
// the foundation's StyleClauseFont.
size_t StyleClausePen(PenStyle pen, char* out, size_t size);
size_t StyleClauseBrush(BrushStyle brush, char* out, size_t size);
size_t StyleClauseSymbol(const SymbolStyle* symbol, char* out, size_t size);

}  // namespace layerio
