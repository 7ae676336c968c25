// Shapefile main and index files (.shp, .shx): the bodies of ShapeOpen,
// ShapeRead, ShapeCreate, ShapeWritePoint, ShapeWritePoly and ShapeClose
// (zonelib.h states their contracts), and the step from a shape's
// coordinates to whole millionths of a degree that the builder's readers
// share.
//
// File layout (both files): a 100-byte header: big-endian file code 9994 at
// 0 and file length in 16-bit words at 24; little-endian version 1000 at 28,
// shape type at 32 and the box (xmin, ymin, xmax, ymax doubles) at 36. The
// main file then holds records of a big-endian header (record number from 1,
// content length in words) and a little-endian content starting with the
// shape type; the index file holds one big-endian (offset in words, content
// length in words) pair per record.
//
// Border cases:
//   - A record whose content runs past the end of the file, whose counts need
//     more bytes than its content has (point 20, multipoint 40 + 16 n,
//     polyline and polygon 44 + 4 parts + 16 points) or whose part starts
//     decrease or pass the point count gives -1; nothing of it is kept.
//   - A main file that does not start with the file code fails the open.
//   - A written file whose length would pass 2^31 words refuses the record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zonelib.h"

static_assert(sizeof(ShapePart) == 4 + sizeof(double*));
static_assert(offsetof(ShapePart, points) == 4);
static_assert(sizeof(ShapePartList) == 4 + sizeof(ShapePart*));

inline constexpr size_t kShapeHeaderSize = 100;
inline constexpr uint32_t kShapeFileCode = 9994;
inline constexpr uint32_t kShapeVersion = 1000;
inline constexpr uint32_t kShapeHeaderWords = 50;

int ShapeOpenIntern(ShapeHandle* handle, const char* base);
int ShapeReadIntern(ShapeHandle* handle);
int ShapeCreateIntern(ShapeHandle* handle, const char* base);
int ShapeWritePointIntern(ShapeHandle* handle, const double* xy);
int ShapeWritePolyIntern(ShapeHandle* handle, const ShapePartList* parts, int shapeType);
int ShapeCloseIntern(ShapeHandle* handle);

// The text of this thread's last failure of a db* or Shape* call (what was
// printed on standard error, without the newline); empty before the first.
const char* ShapeLastError();

// Coordinates of one shape in whole millionths of a degree. A shape is in
// degrees when any of its points has 0 < |y| < 1e6; then every value is
// scaled by 1e6, else every value is taken as it is. Both are rounded to the
// nearest whole number (4.35 degrees is 4,350,000).
bool ShapeInDegrees(const double* xy, size_t pointCount);
// count (x, y) pairs from xy to out; false when a value is not a number or
// does not fit 32 bits (out is then partly written).
bool ShapeToMillionths(const double* xy, size_t pointCount, bool degrees, int32_t* out);
