// The map-table writer: a native table of the fields NAME and NAME2 (text,
// 128 characters) in longitude and latitude, one row an object, made and
// filled through Layerio's interface alone: PXInitialize, PXGetDatum,
// PXCreateTable, then PXInsertRow an object (PXGetLastError after a
// failure), and PXCloseTable and PXShutdown at the close.
//
// Objects become: a point (201) at the first point; a line of one part of
// two points a line (202); a line of one part of any other count a polyline
// of one section (204) with all its points; a line of several parts a
// polyline of one section a part (210); a region (205) of one polygon a
// ring, a lone ring closed by its first point again. A region's centroid is
// its label point.
//
// Border cases:
//   - The point and section buffers grow with the objects; an object they
//     cannot hold (memory, or more than the library takes in a section or an
//     object) fails with 100 and adds no row.
//   - A row the library refuses fails with 100 and the library's reason; the
//     row number still counts it.
//   - The row text holds both names in double quotes, each double quote
//     doubled; a name holding a TAB (which would part the values) fails
//     with 100 and adds no row.
//   - The table stays on disk whatever keep says; the library is shut down
//     once for each open, also when the open failed.
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "layerio.h"
#include "services/export.h"

namespace {

constexpr const char* kFieldMemoryText = "Memory allocation error for TAB field definitions.";
constexpr const char* kCreateFailedFormat = "Unable to create table %s!";
constexpr const char* kInsertFailedFormat = "PXInsertRow (row=%lu) failed, reason = %u!";
constexpr const char* kBufferMemoryFormat =
    "Object of %lld points in %d parts does not fit the object buffers.";

constexpr uint32_t kLonLatProjection = 1;
// The axis layout of a longitude/latitude system as the library's own
// records carry it: north up. A zeroed code would store every latitude with
// its sign turned.
constexpr uint8_t kLonLatQuadrant = 2;
constexpr uint32_t kDataNative = 5;
constexpr uint8_t kCharField = 1;
constexpr uint8_t kNameWidth = 128;

template <class T>
void Put(PXObject& object, size_t offset, T value) {
  std::memcpy(object.u.bytes + offset, &value, sizeof value);
}

class CzonTABExporter : public CzonExporter {
 public:
  CzonTABExporter(pipContext& owner, int32_t option) : CzonExporter(owner), type_(option) {}
  ~CzonTABExporter() override { Finish(); }

  int32_t open(const char* path) override;
  int32_t close(int32_t keep) override;
  int32_t exportObject(const ExportObject& object) override;
  int32_t writePoint(const ExportObject& object) override;
  int32_t writeLine(const ExportObject& object) override;
  int32_t writeRegion(const ExportObject& object) override;

 private:
  int32_t Finish();
  void SetType(int32_t type) {
    type_ = type;
    Put(object_, PX_OBJECT_TYPE, uint8_t(type));
  }
  // The object's points in degrees into the point buffer, each ring closed
  // when close is set, and one section a part; false (reported) when the
  // buffers cannot hold them.
  bool Gather(const ExportObject& object, bool close);
  int32_t InsertRow(const ExportObject& object);

  int32_t type_;
  bool initialised_ = false;
  PXTableHandle table_ = 0;
  PXFieldInfo fields_[2] = {};
  PXObject object_{};
  uint32_t row_ = 0;
  std::vector<PXPoint> points_;
  std::vector<PXSection> sections_;
  std::string rowText_;
  std::string path_;  // of the definition, for reports
};

int32_t CzonTABExporter::open(const char* path) {
  row_ = 0;
  PXInitialize(PX_INTERFACE_NUMBER);
  initialised_ = true;
  PXCoordSys system;
  std::memset(&system, 0, sizeof system);
  const uint16_t projection = kLonLatProjection;
  std::memcpy(system.u.bytes + PX_COORDSYS_PROJECTION, &projection, sizeof projection);
  PXDatum datum;
  std::memset(&datum, 0, sizeof datum);
  PXGetDatum(0, &datum);
  std::memcpy(system.u.bytes + PX_COORDSYS_DATUM, datum.u.bytes, sizeof datum);
  system.u.bytes[PX_COORDSYS_LONLAT_QUADRANT] = kLonLatQuadrant;
  const double bounds[4] = {-1000.0, -1000.0, 1000.0, 1000.0};
  std::memcpy(system.u.bytes + PX_COORDSYS_BOUNDS, bounds, sizeof bounds);
  const char* names[2] = {"NAME", "NAME2"};
  for (size_t i = 0; i < 2; ++i) {
    std::strcpy(fields_[i].name, names[i]);
    fields_[i].type = kCharField;
    fields_[i].width = kNameWidth;
  }
  if (!path) path = "";
  path_ = path;
  table_ = PXCreateTable(path, fields_, 2, &system, kDataNative);
  if (table_ == 0) return ReportF(kExportObjectCode, __LINE__, kCreateFailedFormat, path);
  try {
    points_.reserve(1024);
    sections_.reserve(16);
  } catch (const std::bad_alloc&) {
    return Report(kExportMemoryCode, kFieldMemoryText, __LINE__);
  }
  return table_ > 0 ? 1 : -1;
}

int32_t CzonTABExporter::Finish() {
  int32_t result = 1;
  if (table_ != 0 && !PXCloseTable(table_)) result = -1;
  table_ = 0;
  std::vector<PXPoint>().swap(points_);
  std::vector<PXSection>().swap(sections_);
  if (initialised_) PXShutdown();
  initialised_ = false;
  return result;
}

int32_t CzonTABExporter::close(int32_t) {
  if (Finish() == 1) return 1;
  return ReportF(kExportObjectCode, __LINE__, kExportWriteFailedFormat, path_.c_str());
}

int32_t CzonTABExporter::exportObject(const ExportObject& object) {
  std::memset(&object_, 0, sizeof object_);
  switch (object.info->kind) {
    case PIP_OBJECT_POINT:
      SetType(PX_OBJECT_POINT);
      break;
    case PIP_OBJECT_LINE:
      SetType(PX_OBJECT_LINE);
      break;
    case PIP_OBJECT_REGION:
      SetType(PX_OBJECT_REGION);
      break;
    default:
      break;
  }
  return CzonExporter::exportObject(object);
}

bool CzonTABExporter::Gather(const ExportObject& object, bool close) {
  const int64_t total = object.PointCount() + (close ? object.partCount : 0);
  bool fits = object.partCount <= PX_OBJECT_SECTIONS_MAX;
  for (int32_t p = 0; fits && p < object.partCount; ++p)
    fits = int64_t(object.partCounts[p]) + (close ? 1 : 0) <= PX_SECTION_POINTS_MAX;
  if (fits) {
    try {
      points_.resize(size_t(total));
      sections_.resize(size_t(object.partCount));
    } catch (const std::bad_alloc&) {
      fits = false;
    }
  }
  if (!fits) {
    ReportF(kExportObjectCode, __LINE__, kBufferMemoryFormat,
            static_cast<long long>(object.PointCount()), int(object.partCount));
    return false;
  }
  PXPoint* out = points_.data();
  const int32_t* in = object.coords;
  for (int32_t p = 0; p < object.partCount; ++p) {
    const int32_t n = object.partCounts[p];
    PXSection& section = sections_[size_t(p)];
    section.count = n;
    section.reserved = 0;
    section.points = out;
    for (int32_t i = 0; i < n; ++i, in += 2, ++out) {
      out->x = ExportDegrees(in[0]);
      out->y = ExportDegrees(in[1]);
    }
    if (close && n > 0) {
      *out++ = section.points[0];
      ++section.count;
    }
  }
  return true;
}

int32_t CzonTABExporter::InsertRow(const ExportObject& object) {
  // A TAB parts the values of a row text: such a name is refused.
  if (!ExportNamesFit(*this, object, "\t", "a TAB", "a map table's row text")) return -1;
  ++row_;
  const pipObjectInfoStruct& info = *object.info;
  try {
    rowText_ = ExportQuoted(std::string(info.name, strnlen(info.name, sizeof info.name)));
    rowText_ += '\t';
    rowText_ += ExportQuoted(std::string(info.name2, strnlen(info.name2, sizeof info.name2)));
  } catch (const std::bad_alloc&) {
    return Report(kExportMemoryCode, kFieldMemoryText, __LINE__);
  }
  uint32_t added = 0;
  if (!PXInsertRow(table_, rowText_.c_str(), &object_, &added))
    return ReportF(kExportObjectCode, __LINE__, kInsertFailedFormat,
                   static_cast<unsigned long>(row_), static_cast<unsigned>(PXGetLastError()));
  return 1;
}

int32_t CzonTABExporter::writePoint(const ExportObject& object) {
  if (object.PointCount() < 1) return -1;
  SetType(PX_OBJECT_POINT);
  Put(object_, PX_OBJECT_X, ExportDegrees(object.coords[0]));
  Put(object_, PX_OBJECT_Y, ExportDegrees(object.coords[1]));
  return InsertRow(object);
}

int32_t CzonTABExporter::writeLine(const ExportObject& object) {
  if (object.partCount == 1 && object.partCounts[0] == 2) {
    SetType(PX_OBJECT_LINE);
    Put(object_, PX_OBJECT_X, ExportDegrees(object.coords[0]));
    Put(object_, PX_OBJECT_Y, ExportDegrees(object.coords[1]));
    Put(object_, PX_OBJECT_X2, ExportDegrees(object.coords[2]));
    Put(object_, PX_OBJECT_Y2, ExportDegrees(object.coords[3]));
    return InsertRow(object);
  }
  if (!Gather(object, false)) return -1;
  if (object.partCount == 1) {
    // Every point of the line, not only its ends.
    SetType(PX_OBJECT_POLYLINE);
    Put(object_, PX_OBJECT_COUNT, uint32_t(sections_[0].count));
    Put(object_, PX_OBJECT_POLYLINE_POINTS, sections_[0].points);
  } else {
    SetType(PX_OBJECT_MULTI_POLYLINE);
    Put(object_, PX_OBJECT_COUNT, uint32_t(object.partCount));
    Put(object_, PX_OBJECT_MULTI_POLYLINE_SECTIONS, sections_.data());
  }
  return InsertRow(object);
}

int32_t CzonTABExporter::writeRegion(const ExportObject& object) {
  if (!Gather(object, object.partCount == 1)) return -1;
  SetType(PX_OBJECT_REGION);
  Put(object_, PX_OBJECT_COUNT, uint32_t(object.partCount));
  Put(object_, PX_OBJECT_REGION_CENTROID_X, ExportDegrees(object.info->x));
  Put(object_, PX_OBJECT_REGION_CENTROID_Y, ExportDegrees(object.info->y));
  Put(object_, PX_OBJECT_REGION_POLYGONS, sections_.data());
  return InsertRow(object);
}

}  // namespace

std::unique_ptr<CzonExporter> MakeTABExporter(pipContext& owner, int32_t option) {
  try {
    return std::make_unique<CzonTABExporter>(owner, option);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
