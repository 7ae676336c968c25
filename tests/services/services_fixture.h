// Boundary files and contexts for the tests of the boundary services: small
// files built object by object, and the real data sets built through the
// shapefile reader (once per program, without attribute files).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/import_params.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace svctest {

struct XY {
  int32_t x;
  int32_t y;
};

// One object to insert: a region of rings, or a point.
struct Obj {
  uint32_t kind = PIP_OBJECT_REGION;
  std::string name;
  std::vector<std::vector<XY>> rings;
  int32_t x = 0;
  int32_t y = 0;
};

inline Obj Region(std::string name, std::vector<std::vector<XY>> rings) {
  Obj o;
  o.name = std::move(name);
  o.rings = std::move(rings);
  return o;
}
inline Obj Point(std::string name, int32_t x, int32_t y) {
  Obj o;
  o.kind = PIP_OBJECT_POINT;
  o.name = std::move(name);
  o.x = x;
  o.y = y;
  return o;
}
inline std::vector<XY> Box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

class Context {
 public:
  Context() : handle_(uint32_t(pipInit(0, nullptr))) {}
  ~Context() { pipTerm(handle_); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  uint32_t handle() const { return handle_; }
  int32_t Code() const { return pipErrorGet(handle_, nullptr, nullptr); }
  std::string Message() const {
    char message[256], detail[256];
    pipErrorGet(handle_, message, detail);
    return message;
  }
  std::string Detail() const {
    char message[256], detail[256];
    pipErrorGet(handle_, message, detail);
    return detail;
  }

 private:
  uint32_t handle_;
};

inline bool BuildFile(const std::string& path, const std::vector<Obj>& objects,
                      uint32_t coordinateKind = 1, uint32_t flags = 0) {
  Context c;
  pipImportParamStruct params = testsupport::ImportParams(
      testsupport::kImportPointLimit, testsupport::kImportPolygonLimit, coordinateKind, flags);
  uint32_t import = 0;
  if (pipImportInit(c.handle(), path.c_str(), &params, &import) != 1) return false;
  for (const Obj& o : objects) {
    pipObjectInfoStruct info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.name, o.name.c_str(), sizeof info.name - 1);
    info.kind = o.kind;
    info.x = o.x;
    info.y = o.y;
    std::vector<int32_t> xy;
    std::vector<uint32_t> counts;
    for (const auto& ring : o.rings) {
      counts.push_back(uint32_t(ring.size()));
      for (const XY& p : ring) {
        xy.push_back(p.x);
        xy.push_back(p.y);
      }
    }
    if (o.kind == PIP_OBJECT_POINT) {
      xy = {o.x, o.y};
      counts = {1};
    }
    if (pipImportInsert(import, &info, xy.data(), counts.data(), int32_t(counts.size())) != 1) {
      pipImportTerm(import, 0);
      return false;
    }
  }
  return pipImportTerm(import, 1) == 1;
}

inline bool BuildFromShape(const std::string& shp, const std::string& path, const char* nameField) {
  Context c;
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  if (pipImportInit(c.handle(), path.c_str(), &params, &import) != 1) return false;
  if (pipImportOpenShape(import, shp.c_str(), nameField, nullptr) != 1) {
    pipImportTerm(import, 0);
    return false;
  }
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  pipImportClose(import);
  return status >= 0 && pipImportTerm(import, 1) == 1;
}

// The real data sets: a shapefile under ../shared/data (without extension)
// and its name field.
struct DataSet {
  const char* key;
  const char* shapefile;
  const char* nameField;
};
inline constexpr DataSet kNc{"nc", "nc/nc", "NAME"};
inline constexpr DataSet kCountries{"countries", "naturalearth/naturalearth_lowres", "name"};
inline constexpr DataSet kCities{"cities", "naturalearth/naturalearth_cities", "name"};
inline constexpr DataSet kCounties{"counties", "us/us_counties", "name"};

// The data set's boundary file, built once per program; empty when it
// cannot be built.
inline std::string RealFile(const DataSet& set) {
  static testsupport::TempDir folder;
  static std::map<std::string, std::string> built;
  auto it = built.find(set.key);
  if (it != built.end()) return it->second;
  const std::string path = folder.File(std::string(set.key) + ".gsb");
  const std::string shp = testsupport::SharedDataPath(std::string(set.shapefile) + ".shp");
  const std::string result = BuildFromShape(shp, path, set.nameField) ? path : "";
  built[set.key] = result;
  return result;
}

class OpenFile {
 public:
  OpenFile(const Context& c, const std::string& path) {
    opened_ = pipObjectFileOpen(c.handle(), path.c_str(), 2, &handle_);
  }
  ~OpenFile() {
    if (opened_ == 1) pipObjectFileClose(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool ok() const { return opened_ == 1; }
  uint32_t handle() const { return handle_; }

 private:
  int32_t opened_ = -1;
  uint32_t handle_ = 0;
};

// The rings of the object current in an open file, as stored, each point
// made as Point{x, y}; false when its coordinates cannot be read.
template <class Point>
bool CurrentRings(uint32_t file, std::vector<std::vector<Point>>* rings) {
  rings->clear();
  uint32_t points = 0, parts = 0;
  if (pipObjectGetNumCoords(file, &points, &parts) != 1) return false;
  std::vector<int32_t> xy(2 * size_t(points));
  std::vector<uint32_t> counts(parts);
  uint32_t got = 0;
  if (pipObjectGetCoords(file, xy.data(), points, counts.data(), int32_t(parts), &got) != 1)
    return false;
  size_t at = 0;
  for (uint32_t part = 0; part < got && part < parts; ++part) {
    std::vector<Point>& ring = rings->emplace_back();
    for (uint32_t i = 0; i < counts[part] && at < points; ++i, ++at)
      ring.push_back(Point{xy[2 * at], xy[2 * at + 1]});
  }
  return true;
}

// Every region of an open file by name, with its rings as stored.
struct NamedRegion {
  std::string name;
  std::vector<std::vector<XY>> rings;
};
inline std::vector<NamedRegion> Regions(uint32_t file) {
  std::vector<NamedRegion> out;
  char name[128];
  for (int32_t r = pipObjectFindFirstName(file, "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    if (pipObjectGetInfo(file, &info) != 1 || info.kind != PIP_OBJECT_REGION) continue;
    NamedRegion region{name, {}};
    if (!CurrentRings(file, &region.rings)) continue;
    out.push_back(region);
  }
  return out;
}

}  // namespace svctest
