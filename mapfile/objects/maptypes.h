// Object type codes of the map-object file and the 16-bit delta form of
// coordinates.
//
// Every object record starts with a one-byte type code 1..72. Codes come in
// triples, one triple per kind and record generation:
//   code mod 3 == 1  compressed: points are signed 16-bit deltas from a base
//                    point, styles are one-byte indexes into the file's tables
//   code mod 3 == 2  long: points are i32 pairs, styles are indexes
//   code mod 3 == 0  inline-style: i32 points, each style stored whole in its
//                    compact form (read; this library never writes it)
// The record length and the "has variable data" bit of a code come from the
// per-type-code table (MapTypeTableLibrary, bits 0-6 and bit 7).
//
// Section headers of polylines and regions on disk (MapCodeDataForm):
//   first generation  (7-9, 13-15, 37-39): u16 point count, u16 second count;
//                     stored offsets are 4 x sections smaller than in memory
//   second generation (46-51, 55-57):      u32 point count, u16 second count
//   third generation  (61-66, 70-72):      u32 point count, u32 second count
#pragma once

#include <cstdint>

#include "mapfile/foundation/rect.h"
#include "mapfile/objects/geom.h"

namespace layerio {

inline constexpr int kMapCodeMax = 72;
inline constexpr uint8_t kMapCodeDataBit = 0x80;
inline constexpr uint8_t kMapCodeLengthMask = 0x7F;

// Forms of a code within its triple.
enum MapCodeFormKind : int {
  kMapFormCompressed = 1,
  kMapFormLong = 2,
  kMapFormInline = 3,
};

// The form of a code 1..72 (MapCodeFormKind); 0 outside.
int MapCodeForm(int code);
// The record length of a code 1..72 from the library's table; 0 outside.
int MapCodeLength(int code);
// 1 when a code 1..72 has variable data in coordinate blocks.
int MapCodeHasData(int code);
// 1, 2 or 3 for the section-header generation of polyline, region and
// collection codes; 0 for every other code.
int MapCodeGeneration(int code);

// The object kind 1..14 of a code; 0 for an unknown code.
int MapObjCodeKind(int code);
// The compressed code of the triple that fits the object. The storage class
// of polylines, regions, multipoints and collections is the variant of
// GeomObjectStorageSize (short forms allowed exactly when the map has no
// extension), so that a polyline or region too large for 16-bit section
// counts gets a second- or third-generation code.
int MapObjBaseCode(const GeomObject* object, int mapWithoutExtension);
// Moves a compressed or long code to the form that fits the object: see
// MapObjRefRect for the rectangle that must fit the 16-bit deltas (texts
// and rounded rectangles also need their height or corner within 16 bits,
// which their compressed records hold). base is
// the object block's base point or null (then kinds other than polylines,
// regions, multipoints and collections are long). Inline codes stay.
void MapObjCodeCompress(int* code, const GeomObject* object, const IPoint* base);
// With compress clear: base + 2 (inline form); otherwise the base code
// moved by MapObjCodeCompress.
int MapObjCodeFor(const GeomObject* object, int compress, const IPoint* base,
                  int mapWithoutExtension);
// The rectangle whose corners a compressed record stores as deltas from the
// block's base point: the bounds, for an arc also its ellipse, for a line
// its end points, for a point its position, for a text also its frame and
// label-line end point.
void MapObjRefRect(const GeomObject* object, IRect* out);
// The code of a collection part's record (part kind 4, 5 or 13); 0 for a
// collection code outside 55-57 and 70-72 or another part kind.
int MapCollectionPartCode(int partKind, int collectionCode);
// For polyline, region and collection codes: the size difference between
// object and stored offsets (4 x sections for the first generation, else 0)
// and whether the point count and the second count are 16-bit. For other
// codes all three results are the code itself.
int MapCodeDataForm(int sections, int code, int* point16, int* second16);

// Deltas: little-endian signed 16-bit x then y, from the base point.
void DeltaPointDecode(const uint8_t* bytes, IPoint* out, const IPoint* base);
void DeltaRectDecode(const uint8_t* bytes, IRect* out, const IPoint* base);
// Each difference is kept as its low 16 bits.
void DeltaPointEncode(const IPoint* point, uint8_t* bytes, const IPoint* base);
void DeltaRectEncode(const IRect* rect, uint8_t* bytes, const IPoint* base);
// 1 when both differences of the point fit a signed 16-bit value.
int DeltaPointFits(const IPoint* point, const IPoint* base);

}  // namespace layerio
