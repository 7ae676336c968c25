// Boundary files for the search tests: small ones built object by object
// through pipImportInsert, and the real data sets built through the import's
// shapefile reader with their attribute files, once per test program.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "boundary/mainintn.h"
#include "boundary/ringgeom.h"
#include "tests/support/attribute_file.h"
#include "tests/support/import_params.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace searchtest {

using testsupport::ImportParams;
using testsupport::kImportPointLimit;
using testsupport::kImportPolygonLimit;

using Ring = std::vector<RingPoint>;

// One object to insert: a region or line of parts, or a point at (x, y).
struct Obj {
  uint32_t kind = PIP_OBJECT_REGION;
  std::string name;
  std::string name2;
  std::vector<Ring> parts;
  int32_t x = 0;
  int32_t y = 0;
};

inline Obj Region(std::string name, std::vector<Ring> parts, std::string name2 = "") {
  Obj o;
  o.name = std::move(name);
  o.name2 = std::move(name2);
  o.parts = std::move(parts);
  return o;
}
inline Obj Line(std::string name, std::vector<Ring> parts) {
  Obj o = Region(std::move(name), std::move(parts));
  o.kind = PIP_OBJECT_LINE;
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
// The square of corners (x0, y0) and (x0 + side, y0 + side).
inline Ring Square(int32_t x0, int32_t y0, int32_t side) {
  return {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
}

// A library context for one test, with the reading of its error.
class Context {
 public:
  Context() : handle_(uint32_t(pipInit(0, nullptr))) {}
  ~Context() { pipTerm(handle_); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  uint32_t handle() const { return handle_; }
  int32_t Code() const { return pipErrorGet(handle_, nullptr, nullptr); }
  std::string Detail() const {
    char message[256], detail[256];
    pipErrorGet(handle_, message, detail);
    return detail;
  }
  pipContext* Object() const {
    return static_cast<pipContext*>(HandleTable::Global().Lookup(handle_, kHandleContext));
  }

 private:
  uint32_t handle_;
};

// Builds path from objects; record numbers run 1, 2, ... in their order.
// With extension, the file gets an extension record.
inline bool BuildFile(const std::string& path, const std::vector<Obj>& objects, uint32_t flags,
                      uint32_t coordinateKind = 1, bool extension = false) {
  Context c;
  pipImportParamStruct params = ImportParams(kImportPointLimit, kImportPolygonLimit, coordinateKind, flags);
  uint32_t import = 0;
  const int32_t r =
      extension ? pipImportInitEx(c.handle(), path.c_str(), &params, 7, "test", "text", &import)
                : pipImportInit(c.handle(), path.c_str(), &params, &import);
  if (r != 1) return false;
  for (const Obj& o : objects) {
    pipObjectInfoStruct info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.name, o.name.c_str(), sizeof info.name - 1);
    std::strncpy(info.name2, o.name2.c_str(), sizeof info.name2 - 1);
    info.kind = o.kind;
    info.x = o.x;
    info.y = o.y;
    std::vector<int32_t> xy;
    std::vector<uint32_t> counts;
    for (const Ring& part : o.parts) {
      counts.push_back(uint32_t(part.size()));
      for (const RingPoint& p : part) {
        xy.push_back(p.x);
        xy.push_back(p.y);
      }
    }
    if (pipImportInsert(import, &info, xy.data(), counts.data(),
                        o.kind == PIP_OBJECT_POINT ? 1 : int32_t(counts.size())) != 1) {
      pipImportTerm(import, 0);
      return false;
    }
  }
  return pipImportTerm(import, 1) == 1;
}

// Builds path from a shapefile, names from nameField; 1 and the attribute
// file beside it.
inline bool BuildFromShape(const std::string& shp, const std::string& path, const char* nameField,
                           uint32_t flags) {
  Context c;
  pipImportParamStruct params = ImportParams(kImportPointLimit, kImportPolygonLimit, 1, flags);
  uint32_t import = 0;
  if (pipImportInitEx(c.handle(), path.c_str(), &params, 1, shp.c_str(), "", &import) != 1)
    return false;
  if (pipImportOpenShape(import, shp.c_str(), nameField, nullptr) != 1) {
    pipImportTerm(import, 0);
    return false;
  }
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  pipImportClose(import);
  if (status < 0 || pipImportTerm(import, 1) != 1) return false;
  std::string why;
  return testsupport::WriteAttributeFile(c.handle(), shp, path, &why) == 1;
}

// The real data sets, built once per program into one folder.
struct DataSet {
  const char* key;
  const char* shapefile;  // under ../shared/data, without extension
  const char* nameField;
};
inline constexpr DataSet kNc{"nc", "nc/nc", "NAME"};
inline constexpr DataSet kCountries{"countries", "naturalearth/naturalearth_lowres", "name"};
inline constexpr DataSet kCounties{"counties", "us/us_counties", "name"};
inline constexpr DataSet kCities{"cities", "naturalearth/naturalearth_cities", "name"};

// The path of the data set's boundary file built with flags (empty when
// it could not be built).
inline std::string RealFile(const DataSet& set, uint32_t flags) {
  static testsupport::TempDir folder;
  static std::map<std::string, std::string> built;
  const std::string key = std::string(set.key) + "_" + std::to_string(flags);
  auto it = built.find(key);
  if (it != built.end()) return it->second;
  const std::string path = folder.File(key + ".gsb");
  const std::string shp = testsupport::SharedDataPath(std::string(set.shapefile) + ".shp");
  std::string result = BuildFromShape(shp, path, set.nameField, flags) ? path : "";
  built[key] = result;
  return result;
}

// An open object file for one test.
class OpenFile {
 public:
  OpenFile(const Context& c, const std::string& path, uint32_t mode = 1) {
    opened_ = pipObjectFileOpen(c.handle(), path.c_str(), mode, &handle_);
  }
  ~OpenFile() {
    if (opened_ == 1) pipObjectFileClose(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool ok() const { return opened_ == 1; }
  int32_t result() const { return opened_; }
  uint32_t handle() const { return handle_; }

 private:
  int32_t opened_ = -1;
  uint32_t handle_ = 0;
};

// Every name a search gives, from its first result on.
inline std::vector<std::string> Names(uint32_t file, int32_t first, char* name) {
  std::vector<std::string> names;
  for (int32_t r = first; r > 0; r = pipObjectFindNext(file, name, 128)) names.push_back(name);
  return names;
}

// A test with its context and its own folder of small files.
class FileTest : public ::testing::Test {
 protected:
  std::string Build(const std::vector<Obj>& objects, uint32_t flags = 0, bool extension = false) {
    const std::string path = temp_.File("f" + std::to_string(files_++) + ".gsb");
    EXPECT_TRUE(BuildFile(path, objects, flags, 1, extension));
    return path;
  }

  Context c_;
  testsupport::TempDir temp_;
  int files_ = 0;
  char name_[128] = {};
};

}  // namespace searchtest
