// The generator of the synthetic benchmark input: a shapefile set of count
// small squares (five points each, closed) on a grid over the United States,
// in degrees, with a table of their names ("SQ" and the number) and numbers.
// Written with the library's own shapefile and dBASE writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "zonelib.h"

// Writes base.shp, base.shx and base.dbf; false when a writer fails.
inline bool MakeSquareShapefile(const std::string& base, uint32_t count) {
  ShapeHandle shp{};
  if (ShapeCreate(&shp, base.c_str()) != 0) return false;
  DbfField fields[2] = {};
  std::snprintf(fields[0].name, sizeof fields[0].name, "NAME");
  fields[0].type = DBF_CHARACTER;
  fields[0].width = 10;
  std::snprintf(fields[1].name, sizeof fields[1].name, "NUMBER");
  fields[1].type = DBF_NUMERIC;
  fields[1].width = 8;
  DbfHandle dbf{};
  dbf.fieldCount = 2;
  dbf.fields = fields;
  if (dbCreate(&dbf, base.c_str()) != 0) {
    ShapeClose(&shp);
    return false;
  }
  bool ok = true;
  const uint32_t columns = 1000;
  for (uint32_t i = 0; i < count && ok; ++i) {
    // Cells of 0.025 by 0.02 degrees; squares of 0.01 degrees inside them.
    const double x = -124.0 + (i % columns) * 0.025;
    const double y = 25.0 + (i / columns) * 0.02;
    double ring[10] = {x, y, x, y + 0.01, x + 0.01, y + 0.01, x + 0.01, y, x, y};
    ShapePart part{5, ring};
    ShapePartList list{1, &part};
    std::snprintf(fields[0].value.text, sizeof fields[0].value.text, "SQ%07u", i + 1);
    fields[1].value.number = double(i + 1);
    ok = ShapeWritePoly(&shp, &list, SHAPE_POLYGON) == 0 && dbWrite(&dbf) == 0;
  }
  ok = ShapeClose(&shp) == 0 && ok;
  ok = dbClose(&dbf) == 0 && ok;
  return ok;
}
