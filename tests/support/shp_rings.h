// A minimal reader of the polygon rings of a shapefile's main file (.shp),
// for tests that need real boundaries before the library's own reader can
// load them. Every size and count is checked against the file; coordinates
// become whole millionths of a degree, rounded to the nearest.
//
// Main file: a 100-byte header (file code 9994 and the length in 16-bit words
// big-endian at 0 and 24, version and shape type little-endian at 28 and 32),
// then records of an 8-byte big-endian header (number, content length in
// 16-bit words) and a little-endian content. Polygon contents (types 5, 15,
// 25): shape type, box (4 doubles), part count, point count, the parts' first
// point indexes, then the points as x, y doubles; further arrays of the Z and
// M types follow and are skipped.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/endian.h"

namespace testsupport {

struct ShpPoint {
  int32_t x;
  int32_t y;
  bool operator==(const ShpPoint&) const = default;
};

// One record: its rings as stored (a ring ends with its first point again).
struct ShpShape {
  std::vector<std::vector<ShpPoint>> rings;
};

namespace shp_detail {

inline bool ToMillionths(double degrees, int32_t* out) {
  double v = std::round(degrees * 1e6);
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

}  // namespace shp_detail

// Reads every record of path; false with a reason when the file is damaged
// or is not a polygon file. Null shapes give a shape without rings.
inline bool ReadShpRings(const std::string& path, std::vector<ShpShape>* shapes,
                         std::string* error) {
  using namespace shp_detail;
  shapes->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (bytes.size() < 100 || QLoadU32BE(bytes.data()) != 9994) {
    *error = "not a shapefile main file";
    return false;
  }
  int32_t type = QLoadI32LE(bytes.data() + 32);
  if (type != 5 && type != 15 && type != 25) {
    *error = "not a polygon shapefile";
    return false;
  }
  size_t end = std::min<size_t>(bytes.size(), size_t{QLoadU32BE(bytes.data() + 24)} * 2);
  size_t pos = 100;
  while (pos + 8 <= end) {
    size_t length = size_t{QLoadU32BE(bytes.data() + pos + 4)} * 2;
    size_t content = pos + 8;
    if (length < 4 || length > end - content) {
      *error = "record at " + std::to_string(pos) + " passes the end of the file";
      return false;
    }
    const unsigned char* c = bytes.data() + content;
    ShpShape shape;
    int32_t recordType = QLoadI32LE(c);
    if (recordType != 0) {
      if (recordType != type || length < 44) {
        *error = "bad record at " + std::to_string(pos);
        return false;
      }
      int32_t parts = QLoadI32LE(c + 36), points = QLoadI32LE(c + 40);
      if (parts < 0 || points < 0 || 44 + 4 * uint64_t(parts) + 16 * uint64_t(points) > length) {
        *error = "counts of the record at " + std::to_string(pos) + " pass the record";
        return false;
      }
      const unsigned char* pointData = c + 44 + 4 * size_t(parts);
      for (int32_t k = 0; k < parts; ++k) {
        int32_t first = QLoadI32LE(c + 44 + 4 * k);
        int32_t last = k + 1 < parts ? QLoadI32LE(c + 44 + 4 * (k + 1)) : points;
        if (first < 0 || last < first || last > points) {
          *error = "part index out of range at " + std::to_string(pos);
          return false;
        }
        std::vector<ShpPoint> ring;
        for (int32_t i = first; i < last; ++i) {
          ShpPoint p;
          if (!ToMillionths(QLoadF64LE(pointData + 16 * size_t(i)), &p.x) ||
              !ToMillionths(QLoadF64LE(pointData + 16 * size_t(i) + 8), &p.y)) {
            *error = "coordinate out of range at " + std::to_string(pos);
            return false;
          }
          ring.push_back(p);
        }
        shape.rings.push_back(std::move(ring));
      }
    }
    shapes->push_back(std::move(shape));
    pos = content + length;
  }
  return true;
}

// A region ring as boundary files store it: without the closing point.
inline std::vector<ShpPoint> WithoutClosingPoint(std::vector<ShpPoint> ring) {
  if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  return ring;
}

}  // namespace testsupport
