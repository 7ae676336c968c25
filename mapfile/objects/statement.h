// The object statement writer: a map object as one statement of the
// Plotscript language on a text handle (the echo of rows read from a table).
//
// A statement is the object's keyword, an optional "Into Variable %s "
// phrase, its coordinates in the units of the table's coordinate system and
// its style lines, each line ended by "\n" (the file layer writes the
// charset's line end). Coordinates are written "%.10g %.10g", or
// "(%.10g,%.10g)" when parenthesised; each value is first rounded to the
// caller's precision (CoordRoundSignificant).
//
// Kinds 0, 11 and 12 have no statement: ObjWriteByKind answers 0 and writes
// nothing. A write that fails ends the statement with 0; what was written
// stays.
#pragma once

#include <cstdint>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/records.h"
#include "mapfile/objects/geom.h"

namespace layerio {

// How integer map coordinates become the numbers of a statement.
struct ObjWriteTransform {
  // The table's system; null writes the integer coordinates as they are.
  const CoordSys* coordSys;
  // Significant digits kept; 0 or less leaves the values unrounded.
  int32_t digits;
  // The most decimals kept whatever the magnitude.
  int32_t decimals;
};

// v rounded to digits significant digits but at most decimals decimals; 0
// and NaN give 0.
double CoordRoundSignificant(double value, int32_t digits, int32_t decimals);

// Writes one statement for object. variable (when not null and not empty)
// adds the variable phrase; parenthesised selects the coordinate form.
// transform may be null (integer coordinates, unrounded). 1, or 0 when a
// write fails or the kind has no statement.
int ObjWriteByKind(FileHandle text, const GeomObject* object, const ObjWriteTransform* transform,
                   const char* variable, int parenthesised);

}  // namespace layerio
