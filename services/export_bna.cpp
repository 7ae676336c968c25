// The BNA writer: one record a point, one a line part, one a region.
// Names stand in double quotes, each double quote doubled; a name holding a
// line end is refused (100) before anything of its object is written.
//
// A region's rings all go into one record, each closed by its first point
// again. A reader finds where a ring ends by its return to the ring's first
// point, and takes a return to the record's first point right after a ring
// as a separator; so the record starts at a point that is the first point of
// no other ring, and the ring holding it comes first. Each ring is written
// from a point that occurs in it once (its first point unless that recurs:
// a repeated point would end the ring early). A region without such points
// is not written at all (a record header without its points would spoil the
// rest of the file).
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "services/export.h"

namespace {

constexpr int kLineWriteFailed = 40;

constexpr const char* kExtensionLower = ".bna";
constexpr const char* kExtensionUpper = ".BNA";
constexpr size_t kExtensionLength = 4;

// The names come quoted (ExportQuoted).
constexpr const char* kNamedHeaderFormat = "%s,  %s,  %s, %ld\n";
constexpr const char* kHeaderFormat = "%s,  %s,  %ld\n";
constexpr const char* kPointXFormat = "%11.6f, ";
constexpr const char* kPointYFormat = "%11.6f \n";
constexpr const char* kClosingFormat = "%11.6f, %11.6f\n";

// One ring of a region, with the point it is written from.
struct Ring {
  Ring() = default;
  Ring(const int32_t* xy, int32_t points) : xy(xy), count(points) {}

  const int32_t* At(int64_t i) const { return xy + 2 * i; }
  uint64_t Key(int64_t i) const {
    return uint64_t(uint32_t(At(i)[0])) << 32 | uint32_t(At(i)[1]);
  }
  // Whether point i occurs once in the ring. A few questions are answered by
  // a scan; a ring asked more often is counted once.
  bool Unique(int64_t i) {
    const uint64_t key = Key(i);
    if (asked < kScans) {
      ++asked;
      int64_t seen = 0;
      for (int64_t j = 0; j < count && seen < 2; ++j) seen += Key(j) == key;
      return seen == 1;
    }
    if (counts.empty())
      for (int64_t j = 0; j < count; ++j) ++counts[Key(j)];
    return counts[key] == 1;
  }

  static constexpr int kScans = 4;
  const int32_t* xy = nullptr;
  int32_t count = 0;
  int64_t begin = 0;
  int asked = 0;
  std::unordered_map<uint64_t, int32_t> counts;
};

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
  // A line end would end a header line early: such a name is refused.
  bool NamesFit(const ExportObject& object) {
    return ExportNamesFit(*this, object, "\r\n", "a line end", "BNA text");
  }
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
  const std::string name = ExportQuoted(Field(info.name, sizeof info.name));
  const std::string name2 = ExportQuoted(Field(info.name2, sizeof info.name2));
  if (object.name)
    out_.Printf(kNamedHeaderFormat, name.c_str(), name2.c_str(),
                ExportQuoted(object.name).c_str(), count);
  else
    out_.Printf(kHeaderFormat, name.c_str(), name2.c_str(), count);
}

int32_t CzonBNAExporter::writePoint(const ExportObject& object) {
  if (object.info->kind != PIP_OBJECT_POINT) return -1;
  if (!NamesFit(object)) return -1;
  for (int32_t i = 0; i < object.partCount; ++i) {
    Header(object, 1);
    Point(object.coords + 2 * size_t(i));
  }
  return 1;
}

int32_t CzonBNAExporter::writeLine(const ExportObject& object) {
  if (object.info->kind != PIP_OBJECT_LINE) return -1;
  if (!NamesFit(object)) return -1;
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
  if (!NamesFit(object)) return -1;
  const int32_t count = object.partCount;
  std::vector<Ring> rings(static_cast<size_t>(count));
  for (int32_t r = 0; r < count; ++r)
    rings[size_t(r)] = Ring(object.coords + 2 * object.PartStart(r), object.partCounts[r]);

  // Where each ring but the first is written from: its first point, or when
  // that recurs in the ring (a repeated point, a ring touching itself there),
  // the first point that does not.
  std::vector<std::pair<uint64_t, int32_t>> begins;  // point, ring
  for (int32_t r = 0; r < count; ++r) {
    Ring& ring = rings[size_t(r)];
    if (ring.count == 0) continue;
    while (ring.begin < ring.count && !ring.Unique(ring.begin)) ++ring.begin;
    if (ring.begin == ring.count) return -1;
    begins.push_back({ring.Key(ring.begin), r});
  }
  std::sort(begins.begin(), begins.end());
  auto beginsAnother = [&](uint64_t key, int32_t r) {
    auto range = std::equal_range(begins.begin(), begins.end(), std::make_pair(key, INT32_MIN),
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto it = range.first; it != range.second; ++it)
      if (it->second != r) return true;
    return false;
  };

  // The start point, chosen before anything is written: the first point
  // that begins no other ring and occurs once in its own.
  int32_t startRing = -1;
  int64_t startPoint = 0;
  for (int32_t r = 0; r < count && startRing < 0; ++r) {
    Ring& ring = rings[size_t(r)];
    for (int64_t i = 0; i < ring.count && startRing < 0; ++i) {
      if (beginsAnother(ring.Key(i), r) || !ring.Unique(i)) continue;
      startRing = r;
      startPoint = i;
    }
  }
  if (startRing < 0) return -1;
  rings[size_t(startRing)].begin = startPoint;

  long total = 0;
  for (const Ring& ring : rings)
    if (ring.count > 0) total += long(ring.count) + 1;
  Header(object, total);
  for (int32_t k = 0; k < count; ++k) {
    const Ring& ring = rings[size_t((startRing + k) % count)];
    if (ring.count == 0) continue;
    for (int64_t i = 0; i < ring.count; ++i) Point(ring.At((ring.begin + i) % ring.count));
    const int32_t* again = ring.At(ring.begin);
    out_.Printf(kClosingFormat, ExportDegrees(again[0]), ExportDegrees(again[1]));
  }
  return 1;
}

}  // namespace

std::unique_ptr<CzonExporter> MakeBNAExporter(pipContext& owner) {
  return std::make_unique<CzonBNAExporter>(owner);
}
