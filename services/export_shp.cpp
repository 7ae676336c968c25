// The shapefile writer: each object becomes one record of the main file (a
// point, or a polyline or polygon of its parts) and one record of the dBASE
// file with the fields NAME and NAME2 (text, 128 characters).
//
// A writer takes objects of one kind only, the kind it was made for; a
// region's rings are closed by their first point again and kept in the order
// they come in. Readers of the format tell outer rings from holes by their
// orientation, while a boundary file holds a region as rings under the
// even-odd rule in any order and orientation: so a ring inside an even number
// of the object's other rings goes out clockwise (an outer ring), one inside
// an odd number counter-clockwise (a hole), each from its own first point.
// Coordinates go out in degrees.
//
// Border cases:
//   - An object of another kind is refused (100) and writes nothing.
//   - A point object writes its first point; a part without points stays
//     without points (a ring of none is not closed).
//   - A shape record that fails writes no dBASE record.
//   - close ends both files and fails when either cannot be finished; the
//     files stay whatever keep says. A writer destroyed without close (its
//     open failed) still releases both halves.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "boundary/dbfile.h"
#include "boundary/ringgeom.h"
#include "boundary/shapefile.h"
#include "services/export.h"

namespace {

constexpr const char* kFieldMemoryText = "Could not allocate dbase field.\n";
constexpr const char* kPointsMemoryText = "Could not allocate points array.\n";
constexpr const char* kLinesMemoryText = "Could not allocate lines array.\n";
constexpr uint8_t kNameWidth = 128;

__extension__ typedef __int128 Int128;

// One ring of a region as the boundary file holds it (no closing point).
struct RingView {
  const RingPoint* points;
  uint32_t count;
  int32_t xmin = INT32_MAX, ymin = INT32_MAX, xmax = INT32_MIN, ymax = INT32_MIN;
  Int128 twiceArea = 0;  // above 0 counter-clockwise

  RingView(const RingPoint* first, uint32_t n) : points(first), count(n) {
    if (count == 0) return;
    const RingPoint& o = points[0];
    for (uint32_t i = 0; i < count; ++i) {
      const RingPoint& a = points[i];
      const RingPoint& b = points[(i + 1) % count];
      xmin = std::min(xmin, a.x);
      ymin = std::min(ymin, a.y);
      xmax = std::max(xmax, a.x);
      ymax = std::max(ymax, a.y);
      twiceArea += Int128(int64_t(a.x) - o.x) * (int64_t(b.y) - o.y) -
                   Int128(int64_t(b.x) - o.x) * (int64_t(a.y) - o.y);
    }
  }

  bool Encloses(const RingView& inner) const {
    if (inner.xmin < xmin || inner.xmax > xmax || inner.ymin < ymin || inner.ymax > ymax)
      return false;
    // The first point of the inner ring off this ring's border decides.
    for (uint32_t i = 0; i < inner.count; ++i) {
      const int c = RingCrossings(points, count, inner.points[i].x, inner.points[i].y);
      if (c >= 0) return c % 2 == 1;
    }
    // Every point on the border: the smaller ring lies within the larger.
    const auto magnitude = [](Int128 a) { return a < 0 ? -a : a; };
    return magnitude(inner.twiceArea) < magnitude(twiceArea);
  }
};

// For each ring of a region, whether it must be written backwards to have
// the orientation its nesting gives it.
void RingsToReverse(const ExportObject& object, std::vector<RingPoint>* points,
                    std::vector<bool>* reverse) {
  points->resize(size_t(object.PointCount()));
  for (size_t i = 0; i < points->size(); ++i)
    (*points)[i] = {object.coords[2 * i], object.coords[2 * i + 1]};
  std::vector<RingView> rings;
  rings.reserve(size_t(object.partCount));
  int64_t at = 0;
  for (int32_t p = 0; p < object.partCount; at += object.partCounts[p++])
    rings.emplace_back(points->data() + at, uint32_t(object.partCounts[p]));
  reverse->assign(rings.size(), false);
  for (size_t i = 0; i < rings.size(); ++i) {
    if (rings[i].count < 3 || rings[i].twiceArea == 0) continue;
    size_t depth = 0;
    for (size_t j = 0; j < rings.size(); ++j)
      if (j != i && rings[j].count >= 3 && rings[j].Encloses(rings[i])) ++depth;
    const bool clockwise = rings[i].twiceArea < 0;
    (*reverse)[i] = clockwise != (depth % 2 == 0);
  }
}

class CzonSHPExporter : public CzonExporter {
 public:
  CzonSHPExporter(pipContext& owner, int32_t kind) : CzonExporter(owner), kind_(kind) {}
  ~CzonSHPExporter() override { Finish(); }

  int32_t open(const char* path) override;
  int32_t close(int32_t keep) override;
  int32_t exportObject(const ExportObject& object) override;
  int32_t writePoint(const ExportObject& object) override;
  int32_t writeLine(const ExportObject& object) override;
  int32_t writeRegion(const ExportObject& object) override;

 private:
  // Both halves closed; 1, or -1 when either could not be finished.
  int32_t Finish();
  // The object's parts in degrees, each ring closed when close is set;
  // false (reported) when memory runs out.
  bool Gather(const ExportObject& object, bool close);
  int32_t WritePoly(const ExportObject& object, int shapeType);
  // The object's dBASE record.
  int32_t WriteNames(const ExportObject& object);

  int32_t kind_;
  bool shapeOpen_ = false;
  bool dbfOpen_ = false;
  ShapeHandle shape_{};
  DbfHandle dbf_{};
  std::vector<DbfField> fields_;
  std::vector<double> points_;
  std::vector<ShapePart> parts_;
  std::vector<RingPoint> ringPoints_;
  std::vector<bool> reverse_;
};

int32_t CzonSHPExporter::open(const char* path) {
  if (!path) return -1;
  shapeOpen_ = true;
  if (ShapeCreateIntern(&shape_, path) != 0) return -1;
  try {
    fields_.assign(2, DbfField{});
  } catch (const std::bad_alloc&) {
    return Report(kExportMemoryCode, kFieldMemoryText, __LINE__);
  }
  const char* names[2] = {"NAME", "NAME2"};
  for (size_t i = 0; i < 2; ++i) {
    std::strcpy(fields_[i].name, names[i]);
    fields_[i].type = DBF_CHARACTER;
    fields_[i].width = kNameWidth;
    fields_[i].decimals = 0;
  }
  dbf_.fieldCount = 2;
  dbf_.fields = fields_.data();
  dbfOpen_ = true;
  if (dbCreateIntern(&dbf_, path) != 0) return -1;
  return 1;
}

int32_t CzonSHPExporter::Finish() {
  int32_t result = 1;
  if (shapeOpen_ && ShapeCloseIntern(&shape_) != 0) result = -1;
  if (dbfOpen_ && dbCloseIntern(&dbf_) != 0) result = -1;
  shapeOpen_ = dbfOpen_ = false;
  return result;
}

// A failure is reported with the shapefile functions' text, which names the
// file that could not be finished.
int32_t CzonSHPExporter::close(int32_t) {
  if (Finish() == 1) return 1;
  return Report(kExportObjectCode, ShapeLastError(), __LINE__);
}

int32_t CzonSHPExporter::exportObject(const ExportObject& object) {
  if (int32_t(object.info->kind) != kind_)
    return Report(kExportObjectCode, kExportWrongKindText, __LINE__);
  return CzonExporter::exportObject(object);
}

int32_t CzonSHPExporter::WriteNames(const ExportObject& object) {
  const pipObjectInfoStruct& info = *object.info;
  DbfField& name = fields_[0];
  DbfField& name2 = fields_[1];
  // The record is 128 bytes a name; a name without its NUL stops there.
  std::memset(name.value.text, 0, sizeof name.value.text);
  std::memset(name2.value.text, 0, sizeof name2.value.text);
  std::memcpy(name.value.text, info.name, strnlen(info.name, sizeof info.name));
  std::memcpy(name2.value.text, info.name2, strnlen(info.name2, sizeof info.name2));
  return dbWriteIntern(&dbf_) == 0 ? 1 : -1;
}

int32_t CzonSHPExporter::writePoint(const ExportObject& object) {
  if (object.PointCount() < 1) return -1;
  double xy[2];
  xy[0] = ExportDegrees(object.coords[0]);
  xy[1] = ExportDegrees(object.coords[1]);
  if (ShapeWritePointIntern(&shape_, xy) != 0) return -1;
  return WriteNames(object);
}

bool CzonSHPExporter::Gather(const ExportObject& object, bool close) {
  const int64_t total = object.PointCount() + (close ? object.partCount : 0);
  try {
    points_.resize(2 * size_t(total));
  } catch (const std::bad_alloc&) {
    Report(kExportMemoryCode, kPointsMemoryText, __LINE__);
    return false;
  }
  try {
    parts_.resize(size_t(object.partCount));
  } catch (const std::bad_alloc&) {
    Report(kExportMemoryCode, kLinesMemoryText, __LINE__);
    return false;
  }
  try {
    if (close) RingsToReverse(object, &ringPoints_, &reverse_);
  } catch (const std::bad_alloc&) {
    Report(kExportMemoryCode, kPointsMemoryText, __LINE__);
    return false;
  }
  double* out = points_.data();
  const int32_t* in = object.coords;
  for (int32_t p = 0; p < object.partCount; ++p) {
    const int32_t n = object.partCounts[p];
    ShapePart part;
    part.points = out;
    const bool backwards = close && reverse_[size_t(p)];
    for (int32_t i = 0; i < n; ++i) {
      const int32_t at = backwards && i > 0 ? n - i : i;
      *out++ = ExportDegrees(in[2 * at]);
      *out++ = ExportDegrees(in[2 * at + 1]);
    }
    part.count = uint32_t(n);
    if (close && n > 0) {
      *out++ = part.points[0];
      *out++ = part.points[1];
      ++part.count;
    }
    in += 2 * int64_t(n);
    parts_[size_t(p)] = part;
  }
  return true;
}

int32_t CzonSHPExporter::WritePoly(const ExportObject& object, int shapeType) {
  if (!Gather(object, shapeType == SHAPE_POLYGON)) return -1;
  ShapePartList list;
  list.count = uint32_t(object.partCount);
  list.parts = parts_.data();
  if (ShapeWritePolyIntern(&shape_, &list, shapeType) != 0) return -1;
  return WriteNames(object);
}

int32_t CzonSHPExporter::writeLine(const ExportObject& object) {
  return WritePoly(object, SHAPE_POLYLINE);
}

int32_t CzonSHPExporter::writeRegion(const ExportObject& object) {
  return WritePoly(object, SHAPE_POLYGON);
}

}  // namespace

std::unique_ptr<CzonExporter> MakeSHPExporter(pipContext& owner, int32_t kind) {
  try {
    return std::make_unique<CzonSHPExporter>(owner, kind);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
