// The BNA writer: one record a point, one a line part, one a region.
//
// A region's rings all go into one record, each closed by its first point
// again. A reader finds where a ring ends by its return to the ring's first
// point, and takes a return to the record's first point right after a ring
// as a separator; so the record starts at a point that is the first point of
// no other ring, and the ring holding it comes first. A region without such
// a point is not written at all (a record header without its points would
// spoil the rest of the file).
#include <cstring>
#include <memory>
#include <string>

#include "services/export.h"

namespace {

constexpr int kLineWriteFailed = 40;

constexpr const char* kExtensionLower = ".bna";
constexpr const char* kExtensionUpper = ".BNA";
constexpr size_t kExtensionLength = 4;

constexpr const char* kNamedHeaderFormat = "\"%s\",  \"%s\",  \"%s\", %ld\n";
constexpr const char* kHeaderFormat = "\"%s\",  \"%s\",  %ld\n";
constexpr const char* kPointXFormat = "%11.6f, ";
constexpr const char* kPointYFormat = "%11.6f \n";
constexpr const char* kClosingFormat = "%11.6f, %11.6f\n";

// An info record's name field, terminated even when it fills the field.
std::string Field(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

class CzonBNAExporter final : public CzonExporter {
 public:
  explicit CzonBNAExporter(pipContext& owner) : CzonExporter(owner) {}

  int32_t open(const char* path) override;
  int32_t close(int32_t) override {
    if (out_.Close()) return 1;
    return ReportF(kExportObjectCode, kLineWriteFailed, kExportWriteFailedFormat,
                   out_.Path().c_str());
  }
  int32_t deleteOutputs() override { return out_.Remove() ? 1 : -1; }
  int32_t writePoint(const ExportObject& object) override;
  int32_t writeLine(const ExportObject& object) override;
  int32_t writeRegion(const ExportObject& object) override;

 private:
  void Header(const ExportObject& object, long count);
  void Point(const int32_t* xy) {
    out_.Printf(kPointXFormat, ExportDegrees(xy[0]));
    out_.Printf(kPointYFormat, ExportDegrees(xy[1]));
  }

  ExportTextFile out_;
};

int32_t CzonBNAExporter::open(const char* path) {
  if (!path) return -1;
  std::string name(path);
  if ((std::strstr(path, kExtensionLower) || std::strstr(path, kExtensionUpper)) &&
      name.size() >= kExtensionLength)
    name.replace(name.size() - kExtensionLength, kExtensionLength, kExtensionLower);
  else
    name += kExtensionLower;
  return out_.Create(name) ? 1 : -1;
}

void CzonBNAExporter::Header(const ExportObject& object, long count) {
  const pipObjectInfoStruct& info = *object.info;
  const std::string name = Field(info.name, sizeof info.name);
  const std::string name2 = Field(info.name2, sizeof info.name2);
  if (object.name)
    out_.Printf(kNamedHeaderFormat, name.c_str(), name2.c_str(), object.name, count);
  else
    out_.Printf(kHeaderFormat, name.c_str(), name2.c_str(), count);
}

int32_t CzonBNAExporter::writePoint(const ExportObject& object) {
  if (object.info->kind != PIP_OBJECT_POINT) return -1;
  for (int32_t i = 0; i < object.partCount; ++i) {
    Header(object, 1);
    Point(object.coords + 2 * size_t(i));
  }
  return 1;
}

int32_t CzonBNAExporter::writeLine(const ExportObject& object) {
  if (object.info->kind != PIP_OBJECT_LINE) return -1;
  const int32_t* xy = object.coords;
  for (int32_t part = 0; part < object.partCount; ++part) {
    const int32_t count = object.partCounts[part];
    Header(object, -long(count));
    for (int32_t i = 0; i < count; ++i, xy += 2) Point(xy);
  }
  return 1;
}

int32_t CzonBNAExporter::writeRegion(const ExportObject& object) {
  if (object.info->kind != PIP_OBJECT_REGION) return -1;
  const int32_t rings = object.partCount;
  const int32_t* counts = object.partCounts;
  const int32_t* xy = object.coords;
  auto first = [&](int32_t ring) { return xy + 2 * object.PartStart(ring); };

  // The start point, chosen before anything is written.
  int32_t startRing = -1;
  int64_t startPoint = 0;
  for (int32_t r = 0; r < rings && startRing < 0; ++r) {
    const int32_t* p = first(r);
    for (int32_t i = 0; i < counts[r] && startRing < 0; ++i, p += 2) {
      bool clear = true;
      for (int32_t other = 0; other < rings && clear; ++other) {
        if (other == r || counts[other] == 0) continue;
        const int32_t* q = first(other);
        clear = !(p[0] == q[0] && p[1] == q[1]);
      }
      if (clear) {
        startRing = r;
        startPoint = i;
      }
    }
  }
  if (startRing < 0) return -1;

  long total = 0;
  for (int32_t r = 0; r < rings; ++r)
    if (counts[r] > 0) total += long(counts[r]) + 1;
  Header(object, total);
  for (int32_t k = 0; k < rings; ++k) {
    const int32_t r = (startRing + k) % rings;
    const int32_t count = counts[r];
    if (count == 0) continue;
    const int32_t* ring = first(r);
    const int64_t begin = r == startRing ? startPoint : 0;
    for (int64_t i = 0; i < count; ++i) Point(ring + 2 * ((begin + i) % count));
    const int32_t* again = ring + 2 * begin;
    out_.Printf(kClosingFormat, ExportDegrees(again[0]), ExportDegrees(again[1]));
  }
  return 1;
}

}  // namespace

std::unique_ptr<CzonExporter> MakeBNAExporter(pipContext& owner) {
  return std::make_unique<CzonBNAExporter>(owner);
}
