// Generated inputs of the lookup benchmarks, written with the library's own
// shapefile and dBASE writers:
//   - a tiling of count regions over the United States box: a grid whose
//     corners and edge midpoints are moved by a fixed hash, shared by the
//     neighbours, so that the regions cover the box without gaps or
//     overlaps (eight vertices each, closed);
//   - count random points over the same box.
// Each with a table of its names ("T" or "P" and the number) and numbers.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "zonelib.h"

namespace tiling {

inline constexpr double kWest = -125.0, kEast = -67.0, kSouth = 25.0, kNorth = 49.0;

// Columns and rows of a tiling of about count regions, cells about square.
inline void Shape(uint32_t count, uint32_t* columns, uint32_t* rows) {
  double ratio = (kEast - kWest) / (kNorth - kSouth);
  *columns = uint32_t(std::max(1.0, std::round(std::sqrt(count * ratio))));
  *rows = (count + *columns - 1) / *columns;
}

// A fixed value in [-1, 1) for (i, j, kind).
inline double Jitter(uint32_t i, uint32_t j, uint32_t kind) {
  uint64_t z = (uint64_t(i) << 40) ^ (uint64_t(j) << 8) ^ kind;
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return double(z >> 11) / double(1ull << 52) - 1.0;
}

struct Writer {
  ShapeHandle shp{};
  DbfHandle dbf{};
  DbfField fields[2] = {};
  bool ok = false;

  explicit Writer(const std::string& base) {
    if (ShapeCreate(&shp, base.c_str()) != 0) return;
    std::snprintf(fields[0].name, sizeof fields[0].name, "NAME");
    fields[0].type = DBF_CHARACTER;
    fields[0].width = 10;
    std::snprintf(fields[1].name, sizeof fields[1].name, "NUMBER");
    fields[1].type = DBF_NUMERIC;
    fields[1].width = 8;
    dbf.fieldCount = 2;
    dbf.fields = fields;
    ok = dbCreate(&dbf, base.c_str()) == 0;
    if (!ok) ShapeClose(&shp);
  }
  bool Row(char letter, uint32_t number) {
    std::snprintf(fields[0].value.text, sizeof fields[0].value.text, "%c%07u", letter, number);
    fields[1].value.number = double(number);
    return dbWrite(&dbf) == 0;
  }
  bool Close() {
    bool closed = ShapeClose(&shp) == 0;
    return dbClose(&dbf) == 0 && closed;
  }
};

// Writes base.shp, .shx and .dbf of a tiling of about count regions.
inline bool WriteTiling(const std::string& base, uint32_t count) {
  Writer w(base);
  if (!w.ok) return false;
  uint32_t columns, rows;
  Shape(count, &columns, &rows);
  const double dx = (kEast - kWest) / columns, dy = (kNorth - kSouth) / rows;
  // Corners move up to a fifth of a cell, edge midpoints across their edge
  // up to a seventh; border vertices stay on the box.
  auto corner = [&](uint32_t i, uint32_t j, double* x, double* y) {
    const bool inner = i > 0 && i < columns && j > 0 && j < rows;
    *x = kWest + i * dx + (inner ? 0.2 * dx * Jitter(i, j, 1) : 0);
    *y = kSouth + j * dy + (inner ? 0.2 * dy * Jitter(i, j, 2) : 0);
  };
  auto across = [&](uint32_t i, uint32_t j, double* x, double* y) {  // edge (i,j)-(i+1,j)
    double x0, y0, x1, y1;
    corner(i, j, &x0, &y0);
    corner(i + 1, j, &x1, &y1);
    *x = (x0 + x1) / 2;
    *y = (y0 + y1) / 2 + (j > 0 && j < rows ? dy / 7 * Jitter(i, j, 3) : 0);
  };
  auto up = [&](uint32_t i, uint32_t j, double* x, double* y) {  // edge (i,j)-(i,j+1)
    double x0, y0, x1, y1;
    corner(i, j, &x0, &y0);
    corner(i, j + 1, &x1, &y1);
    *x = (x0 + x1) / 2 + (i > 0 && i < columns ? dx / 7 * Jitter(i, j, 4) : 0);
    *y = (y0 + y1) / 2;
  };
  bool ok = true;
  uint32_t number = 0;
  for (uint32_t j = 0; j < rows && ok; ++j) {
    for (uint32_t i = 0; i < columns && ok; ++i) {
      // Clockwise, as outer rings of shapefiles go.
      double ring[18];
      corner(i, j, &ring[0], &ring[1]);
      up(i, j, &ring[2], &ring[3]);
      corner(i, j + 1, &ring[4], &ring[5]);
      across(i, j + 1, &ring[6], &ring[7]);
      corner(i + 1, j + 1, &ring[8], &ring[9]);
      up(i + 1, j, &ring[10], &ring[11]);
      corner(i + 1, j, &ring[12], &ring[13]);
      across(i, j, &ring[14], &ring[15]);
      ring[16] = ring[0];
      ring[17] = ring[1];
      ShapePart part{9, ring};
      ShapePartList list{1, &part};
      ok = ShapeWritePoly(&w.shp, &list, SHAPE_POLYGON) == 0 && w.Row('T', ++number);
    }
  }
  return w.Close() && ok;
}

// Writes base.shp, .shx and .dbf of count random points over the box.
inline bool WritePoints(const std::string& base, uint32_t count) {
  Writer w(base);
  if (!w.ok) return false;
  std::mt19937_64 rng(count);
  std::uniform_real_distribution<double> ux(kWest, kEast), uy(kSouth, kNorth);
  bool ok = true;
  for (uint32_t i = 0; i < count && ok; ++i) {
    const double xy[2] = {ux(rng), uy(rng)};
    ok = ShapeWritePoint(&w.shp, xy) == 0 && w.Row('P', i + 1);
  }
  return w.Close() && ok;
}

}  // namespace tiling
