#include "boundary/objfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/distance_model.h"
#include "base/qstring.h"
#include "boundary/criteria.h"
#include "boundary/readmain.h"

namespace {

// Sets a name buffer's first byte to 0; false for a buffer that cannot take
// even that.
bool ClearName(char* name, int32_t size) {
  if (!name) return true;
  if (size < 1) return false;
  name[0] = '\0';
  return true;
}

using Buffered = pipObjectFileObject::Buffered;

int32_t Deliver(Buffered& b, char* name, int32_t size) {
  const SpatialPolygonNode* hit = b.hits[b.cursor];
  CopyFoundName(name, size, hit->name);
  return int32_t(hit->code);
}

// One pass of the buffered search: radii grow until more hits are kept than
// were delivered (1), or the maximum is reached (0); -1 on failure.
int32_t Pass(pipObjectFileObject* file) {
  Buffered& b = file->BufferedSearch();
  const size_t delivered = b.hits.size();
  if (b.radius >= b.maximum) return 0;
  if (b.radius < 0) {
    auto* collector = new (std::nothrow) HitCollector(*file);
    if (!collector) {
      file->Error().Report(Q_ERROR_MEMORY, kCollectorMemoryText, kPolysrchSource, __LINE__);
      return -1;
    }
    b.hits.clear();
    b.collector.reset(collector);
    b.radius = BufferedFirstRadius(b.maximum);
  } else {
    b.radius = BufferedNextRadius(b.radius, b.maximum);
  }
  const double widen = kMillionthsPerFoot / std::cos(b.y * kRadiansPerMillionth);
  for (;;) {
    b.hits.clear();
    const double hy = std::trunc(b.radius * kMillionthsPerFoot + 0.5);
    double hx = std::trunc(b.radius * widen + 0.5);
    if (!std::isfinite(hx) || hx < 0) hx = 4294967296.0;
    const SpatialRect rect{ClampToInt32(b.x - hx), ClampToInt32(b.y - hy), ClampToInt32(b.x + hx),
                           ClampToInt32(b.y + hy)};
    if (b.collector->Collect(rect, b.x, b.y, b.maximum) < 0) return -1;
    for (const auto& hit : b.collector->Hits())
      if (std::abs(int64_t(hit->distance)) <= b.radius || (hit->code & 1))
        b.hits.push_back(hit.get());
    const bool more = b.hits.size() > delivered;
    if (more || b.radius >= b.maximum) {
      if (!b.hits.empty())
        SortPointers(&b.hits.front(), &b.hits.back(),
                     [](const SpatialPolygonNode* x, const SpatialPolygonNode* y) {
                       return PolygonSearchHitCompare(x, y) < 0;
                     });
      b.cursor = delivered;
      return more ? 1 : 0;
    }
    b.radius = BufferedNextRadius(b.radius, b.maximum);
  }
}

// While a buffered search is active its current hit is the object the
// queries answer for.
void MakeHitCurrent(pipObjectFileObject* file) {
  Buffered& b = file->BufferedSearch();
  if (!b.Active()) return;
  const SpatialPolygonNode* hit = b.hits[b.cursor];
  pipObjectFileGotoIntern(file, hit->offsetLow, hit->offsetHigh);
}

// Every find-first but the buffered one ends a buffered search.
pipObjectFileObject* Leaving(pipObjectFileObject* file) {
  file->BufferedSearch().Leave();
  return file;
}

}  // namespace

// ---- the collector --------------------------------------------------------------

int32_t HitCollector::Collect(const SpatialRect& rect, int32_t x, int32_t y, int32_t maximum) {
  for (int32_t r =
           pipObjectFileFindFirstRectIntern(&file_, rect.x1, rect.y1, rect.x2, rect.y2, nullptr, 0);
       r != 0; r = pipObjectFileFindNextIntern(&file_, nullptr, 0)) {
    if (r < 0) return -1;
    PolygonSearchEnum* search = file_.Current();
    PolygonObject* object = search->CurrentObject();
    if (!object) return -1;
    const uint64_t offset = search->Offset();
    if (!seen_.insert(offset).second) continue;
    const int32_t distance = search->DistanceToBorder(x, y, nullptr, nullptr);
    const uint32_t flags =
        (search->PointInPolygon(x, y) ? 1 : 0) + (distance >= 0 && distance <= maximum ? 2 : 0);
    if (flags == 0) continue;
    auto hit = std::make_unique<SpatialPolygonNode>();
    hit->Set(object->Name(), flags, flags == 2 ? -distance : distance, uint32_t(offset),
             uint32_t(offset >> 32));
    hits_.push_back(std::move(hit));
  }
  return 0;
}

int32_t BufferedNextRadius(int32_t radius, int32_t maximum) {
  return int32_t(std::min<double>(std::trunc(radius * kRadiusGrowth), maximum));
}

int32_t BufferedFirstRadius(int32_t maximum) {
  if (maximum < 200) return maximum;
  double d = maximum / 100.0;
  if (d > 100) d /= 10;
  const double k = std::floor(std::log(d) / std::log(kRadiusGrowth));
  const int32_t divisor = int32_t(std::trunc(std::pow(kRadiusGrowth, k) + 0.5));
  return std::min(maximum / divisor + 1, maximum);
}

// ---- open, close, headers ---------------------------------------------------------

int32_t pipObjectFileOpenIntern(pipContext* context, const char* path, uint32_t mode,
                                pipObjectFileObject** out) {
  if (!out) return -1;
  *out = nullptr;
  pipObjectFileInfoStruct info;
  if (pipObjectFileQueryIntern(context, path, &info) != 1) return -1;
  auto file = std::make_unique<pipObjectFileObject>(path, mode, context->ErrorRef());
  if (!file->Search().IsOpen()) return -1;
  if (AttributeSearch* attributes = file->Attributes()) {
    pipObjectFileExtraInfoStruct extra;
    file->Search().GetExtraInfo(&extra);
    attributes->Open(path, extra.created);
  }
  *out = file.release();
  return 1;
}

int32_t pipObjectFileCloseIntern(pipObjectFileObject** file) {
  if (file) {
    delete *file;
    *file = nullptr;
  }
  return 1;
}

int32_t pipObjectFileValidateIntern(pipContext* context, const char* path) {
  pipObjectFileObject* file = nullptr;
  if (pipObjectFileOpenIntern(context, path, 0, &file) != 1) return -1;
  std::unique_ptr<pipObjectFileObject> owned(file);
  const GsbBounds b = file->Search().Header().AllBounds();
  if (pipObjectFileFindFirstRectIntern(file, b.xmin, b.ymin, b.xmax, b.ymax, nullptr, 0) != 1)
    return -1;
  AttributeSearch* attributes = file->Attributes();
  return attributes && attributes->OutOfDate() ? -1 : 1;
}

int32_t pipObjectHandleFileQueryIntern(pipObjectFileObject* file, pipObjectFileInfoStruct* info) {
  return info && file->Search().GetFileInfo(info) ? 1 : -1;
}

int32_t pipObjectHandleFileQueryExIntern(pipObjectFileObject* file,
                                         pipObjectFileExtraInfoStruct* info) {
  return info && file->Search().GetExtraInfo(info) ? 1 : -1;
}

int32_t pipObjectIsTaxFileIntern(pipObjectFileObject* file) {
  return pipObjectFileIsTaxFileIntern(file) ? 1 : -1;
}

// ---- finds ------------------------------------------------------------------------------

int32_t pipObjectFindFirstContainingIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                           uint32_t radius, char* name, int32_t size) {
  if (!ClearName(name, size)) return -1;
  return pipObjectFileFindFirstContainingIntern(Leaving(file), x, y, radius, name, size);
}

int32_t pipObjectFindFirstContainingExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                             uint32_t radius, char* name, int32_t size) {
  if (!ClearName(name, size)) return -1;
  Buffered& b = file->BufferedSearch();
  b.hits.clear();
  b.cursor = 0;
  b.radius = -1;
  b.maximum = int32_t(std::min<uint32_t>(radius, INT32_MAX));
  b.x = x;
  b.y = y;
  const int32_t result = Pass(file);
  if (result < 0) {
    b.Leave();
    return -1;
  }
  return b.Active() ? Deliver(b, name, size) : result;
}

int32_t pipObjectFindNextIntern(pipObjectFileObject* file, char* name, int32_t size) {
  if (!ClearName(name, size)) return -1;
  Buffered& b = file->BufferedSearch();
  if (!b.Active()) return pipObjectFileFindNextIntern(file, name, size);
  if (++b.cursor < b.hits.size()) return Deliver(b, name, size);
  if (Pass(file) < 0) {
    b.Leave();
    return -1;
  }
  return b.Active() ? Deliver(b, name, size) : 0;
}

int32_t pipObjectFindNextExIntern(pipObjectFileObject* file, char* name, uint32_t size,
                                  uint32_t precision, double* percentage) {
  const int32_t signedSize = int32_t(std::min<uint32_t>(size, INT32_MAX));
  if (!ClearName(name, signedSize)) return -1;
  return pipObjectFileFindNextExIntern(file, name, signedSize, precision, percentage);
}

int32_t pipObjectFindFirstRectIntern(pipObjectFileObject* file, int32_t x1, int32_t y1, int32_t x2,
                                     int32_t y2, char* name, int32_t size) {
  if (!ClearName(name, size)) return -1;
  return pipObjectFileFindFirstRectIntern(Leaving(file), x1, y1, x2, y2, name, size);
}

int32_t pipObjectFindFirstNameIntern(pipObjectFileObject* file, const char* pattern, char* name,
                                     int32_t size) {
  if (!ClearName(name, size)) return -1;
  return pipObjectFileFindFirstNameIntern(Leaving(file), pattern, name, size);
}

int32_t pipObjectFindFirstNearestIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                        uint32_t count, char* name, int32_t size) {
  if (!ClearName(name, size) || count > kNearestCountMax) return -1;
  return pipObjectFileFindFirstNearestIntern(Leaving(file), x, y, count, name, size);
}

int32_t pipObjectFindFirstNearestExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                          uint32_t count, const char* criteria, char* name,
                                          int32_t size) {
  if (!ClearName(name, size) || count > kNearestCountMax) return -1;
  return pipObjectFileFindFirstNearestExIntern(Leaving(file), x, y, count, criteria, name, size);
}

int32_t pipObjectFindFirstPolygonIntern(pipObjectFileObject* file, const int32_t* points,
                                        const uint32_t* partCounts, uint32_t partCount, char* name,
                                        int32_t size) {
  if (!ClearName(name, size) || (partCount && (!points || !partCounts))) return -1;
  return pipObjectFileFindFirstPolygonIntern(Leaving(file), points, partCounts, partCount, name,
                                             size);
}

int32_t pipObjectFindFirstPolygonExIntern(pipObjectFileObject* file, const int32_t* points,
                                          const uint32_t* partCounts, uint32_t partCount,
                                          char* name, int32_t size, uint32_t precision,
                                          double* percentage) {
  if (!ClearName(name, size) || (partCount && (!points || !partCounts))) return -1;
  return pipObjectFileFindFirstPolygonExIntern(Leaving(file), points, partCounts, partCount, name,
                                               size, precision, percentage);
}

// ---- settings --------------------------------------------------------------------------------

int32_t pipObjectValidateFilterCriteriaIntern(pipObjectFileObject* file, const char* criteria) {
  AttributeSearch* attributes = file->Attributes();
  char why[Criteria::kErrorTextSize + 1] = {};
  if (attributes && ValidateCriteria(criteria, *attributes, why, sizeof why)) return 1;
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, kCriteriaFailedText, why);
  file->Error().Report(Q_ERROR_EMPTY, detail, kPolysrchSource, __LINE__);
  return -1;
}

int32_t pipObjectGetSearchDistanceIntern(pipObjectFileObject* file) {
  return file->Search().GetSearchDistance();
}

int32_t pipObjectSetSearchDistanceIntern(pipObjectFileObject* file, uint32_t distance) {
  return file->Search().SetSearchDistance(distance);
}

// ---- the current object -------------------------------------------------------------------

int32_t pipObjectGetInfoIntern(pipObjectFileObject* file, pipObjectInfoStruct* info) {
  MakeHitCurrent(file);
  return pipObjectFileGetInfoIntern(file, info);
}

int32_t pipObjectGetNumCoordsIntern(pipObjectFileObject* file, uint32_t* points, uint32_t* parts) {
  MakeHitCurrent(file);
  return pipObjectFileGetNumCoordsIntern(file, points, parts);
}

int32_t pipObjectGetCoordsIntern(pipObjectFileObject* file, int32_t* points, uint32_t maxPoints,
                                 uint32_t* partCounts, int32_t maxParts, uint32_t* parts) {
  if (maxParts < 0) return -1;
  MakeHitCurrent(file);
  return pipObjectFileGetCoordsIntern(file, points, maxPoints, partCounts, uint32_t(maxParts),
                                      parts);
}

int32_t pipObjectGetHandle64Intern(pipObjectFileObject* file, uint32_t* low, uint32_t* high) {
  if (!low || !high) return -1;
  Buffered& b = file->BufferedSearch();
  if (b.Active()) {
    *low = b.hits[b.cursor]->offsetLow;
    *high = b.hits[b.cursor]->offsetHigh;
    return 1;
  }
  return pipObjectFileGetHandleIntern(file, low, high) == 1 ? 1 : -1;
}

int32_t pipObjectGetHandleIntern(pipObjectFileObject* file) {
  uint32_t low = 0, high = 0;
  return pipObjectGetHandle64Intern(file, &low, &high) == 1 ? int32_t(low) : -1;
}

int32_t pipObjectFileGoto64Intern(pipObjectFileObject* file, uint32_t low, uint32_t high) {
  Buffered& b = file->BufferedSearch();
  if (b.Active()) {
    const uint64_t offset = uint64_t(high) << 32 | low;
    b.cursor = 0;
    while (b.cursor < b.hits.size() && b.hits[b.cursor]->Offset() != offset) ++b.cursor;
  }
  return pipObjectFileGotoIntern(file, low, high);
}

int32_t pipObjectDistanceToBorderIntern(pipObjectFileObject* file, int32_t x, int32_t y) {
  Buffered& b = file->BufferedSearch();
  if (b.Active())
    return int32_t(std::min<int64_t>(std::abs(int64_t(b.hits[b.cursor]->distance)), INT32_MAX));
  return pipObjectFileDistanceToBorderIntern(file, x, y, nullptr, nullptr);
}

int32_t pipObjectDistanceToBorderExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                          uint32_t* nearestX, uint32_t* nearestY) {
  if (!nearestX || !nearestY) return -1;
  MakeHitCurrent(file);
  int32_t nx = 0, ny = 0;
  const int32_t d = pipObjectFileDistanceToBorderIntern(file, x, y, &nx, &ny);
  *nearestX = uint32_t(nx);
  *nearestY = uint32_t(ny);
  return d;
}

int32_t pipPointInPolyIntern(pipObjectFileObject* file, int32_t x, int32_t y) {
  MakeHitCurrent(file);
  return pipObjectFilePointInPolyIntern(file, x, y) == 1 ? 1 : 0;
}

// ---- attributes
// ----------------------------------------------------------------------------------

int32_t pipObjectGetAttributeCountIntern(pipObjectFileObject* file, int32_t* count) {
  AttributeSearch* attributes = file->Attributes();
  if (!count || !attributes || !attributes->IsOpen()) return -1;
  *count = attributes->GetAttributeCount();
  return 1;
}

int32_t pipObjectGetAttributeNameByNumberIntern(pipObjectFileObject* file, uint32_t n, char* buffer,
                                                int32_t size) {
  if (!buffer || size < 1) return -1;
  buffer[0] = '\0';
  MakeHitCurrent(file);
  AttributeSearch* attributes = file->Attributes();
  if (!attributes) return -1;
  // The attribute file counts the characters without the NUL.
  return attributes->GetAttributeNameByNumber(n, buffer, size - 1) == 1 ? 1 : -1;
}

namespace {

// An attribute record of the current object, by fill(AttributeSearch&).
template <class Fill>
int32_t AttributeInfo(pipObjectFileObject* file, pipAttributeInfoStruct* info, Fill&& fill) {
  if (!info) return -1;
  MakeHitCurrent(file);
  AttributeSearch* attributes = file->Attributes();
  if (!attributes) {
    std::memset(info, 0, sizeof *info);
    return -1;
  }
  return fill(*attributes);
}

}  // namespace

int32_t pipObjectGetAttributeInfoByNameIntern(pipObjectFileObject* file, const char* name,
                                              pipAttributeInfoStruct* info) {
  return AttributeInfo(file, info,
                       [&](AttributeSearch& a) { return a.GetAttributeInfoByName(name, info); });
}

int32_t pipObjectGetAttributeInfoByNumberIntern(pipObjectFileObject* file, uint32_t n,
                                                pipAttributeInfoStruct* info) {
  return AttributeInfo(file, info,
                       [&](AttributeSearch& a) { return a.GetAttributeInfoByNumber(n, info); });
}
