#include "boundary/surface.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

// The leading number of a text as the C runtime's atof reads it in the C
// locale: blanks, a sign, digits with a point and an exponent; 0 when none.
double LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && platform::AsciiIsSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double value = 0;
  const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0.0;
}

int32_t ClampToInt32(double v) {
  if (!(v > double(INT32_MIN))) return v != v ? 0 : INT32_MIN;
  if (!(v < double(INT32_MAX))) return INT32_MAX;
  return int32_t(v);
}

int32_t ValueAt(int32_t x, int32_t y, const char* plane) {
  const SurfacePlane p = ParseSurfacePlane(plane);
  return ClampToInt32(std::trunc(x / 1e6 * p.a + y / 1e6 * p.b + p.c));
}

}  // namespace

// ---- overlap check -------------------------------------------------------------

int32_t pipInitializeOverlapCheckIntern(pipContext* context, pipOverlapCheckObject** out) {
  *out = new pipOverlapCheckObject(context->ErrorRef());
  return 1;
}

int32_t pipTerminateOverlapCheckIntern(pipOverlapCheckObject* check) {
  delete check;
  return 1;
}

int32_t pipAddRegionPolygonIntern(pipOverlapCheckObject* check, char set, uint32_t count,
                                  const int32_t* points) {
  if ((count && !points) || count > uint32_t(INT32_MAX)) return -1;
  int result = OverlapCheck::kTooManyRings;
  try {
    std::vector<RingPoint> ring(count);
    for (uint32_t i = 0; i < count; ++i)
      ring[i] = {points[2 * size_t(i)], points[2 * size_t(i) + 1]};
    result = set == 'A' ? check->Check().AddRegionA(int(count), ring.data())
                        : check->Check().AddRegionB(int(count), ring.data());
  } catch (const std::bad_alloc&) {
  }
  if (result == 0) return 1;
  check->Error().Report(Q_ERROR_MEMORY, kOverlapMemoryFailText, "pipmain", __LINE__);
  return -1;
}

int32_t pipClearRegionPolygonIntern(pipOverlapCheckObject* check, bool a, bool b) {
  if (a) check->Check().ClearRegionA();
  if (b) check->Check().ClearRegionB();
  return 1;
}

int32_t pipCheckForRegionOverlapExIntern(pipOverlapCheckObject* check, uint32_t precision,
                                         double* percentage) {
  int code = 0;
  int result = -1;
  try {
    result = check->Check().Check(&code, int(std::min<uint32_t>(precision, INT32_MAX)), percentage);
  } catch (const std::bad_alloc&) {
  }
  if (result == 1) return code;
  check->Error().Report(Q_ERROR_MEMORY, kOverlapMemoryFailText, "pipmain", __LINE__);
  return -1;
}

// ---- surface files -----------------------------------------------------------------

std::vector<std::string> SplitSurfaceTexts(const char* text, size_t count) {
  std::vector<std::string> pieces;
  const char* p = text ? text : "";
  while (*p && pieces.size() < count) {
    while (*p == '|') ++p;
    if (!*p) break;
    const char* end = std::strchr(p, '|');
    const size_t n = end ? size_t(end - p) : std::strlen(p);
    pieces.emplace_back(p, n);
    p += n;
  }
  pieces.resize(count);
  return pieces;
}

SurfacePlane ParseSurfacePlane(const char* text) {
  const std::vector<std::string> n = SplitSurfaceTexts(text, 4);
  return {LeadingNumber(n[0]), LeadingNumber(n[1]), LeadingNumber(n[2]), LeadingNumber(n[3])};
}

int32_t pipSurfFindFirstValueIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                    int32_t* value) {
  if (!value) return -1;
  *value = -1;
  char name[kSurfaceNameBufferSize];
  int32_t r = pipObjectFindFirstContainingIntern(file, x, y, 0, name, sizeof name);
  if (r != 1) return r;
  pipObjectInfoStruct info;
  r = pipObjectGetInfoIntern(file, &info);
  if (r != 1) return r;
  *value = ValueAt(x, y, info.name2);
  return 1;
}

int32_t pipSurfFindNextValueIntern(pipObjectFileObject* file, int32_t* value) {
  if (!value) return -1;
  *value = -1;
  char name[kSurfaceNameBufferSize];
  int32_t r = pipObjectFindNextIntern(file, name, sizeof name);
  if (r != 1) return r;
  pipObjectInfoStruct info;
  r = pipObjectGetInfoIntern(file, &info);
  if (r != 1) return r;
  int32_t x = 0, y = 0;
  pipObjectFileGetExtraResultsIntern(file, &x, &y);
  *value = ValueAt(x, y, info.name2);
  return 1;
}

int32_t pipSurfGetCoordsIntern(pipObjectFileObject* file, int32_t* points, int32_t size,
                               uint32_t* count) {
  if (!points || size < 3) return -1;
  uint32_t partCounts[1] = {0};
  uint32_t parts = 0;
  const int32_t r = pipObjectGetCoordsIntern(file, points, uint32_t(size), partCounts, 1, &parts);
  if (r == 1 && count) *count = partCounts[0];
  return r;
}

int32_t pipSurfGetInfoIntern(pipObjectFileObject* file, pipSurfInfo* out) {
  if (!out) return -1;
  pipObjectInfoStruct info;
  int32_t r = pipObjectGetInfoIntern(file, &info);
  if (r != 1) return r;
  std::memset(out, 0, sizeof *out);
  out->x = info.x;
  out->y = info.y;
  std::memcpy(out->bounds, info.bounds, sizeof out->bounds);
  const std::vector<std::string> texts = SplitSurfaceTexts(info.name, 3);
  StrCopySized(out->text1, texts[0].c_str(), sizeof out->text1);
  StrCopySized(out->text2, texts[1].c_str(), sizeof out->text2);
  StrCopySized(out->text3, texts[2].c_str(), sizeof out->text3);
  const SurfacePlane plane = ParseSurfacePlane(info.name2);
  int32_t corners[6];
  uint32_t count = 0;
  r = pipSurfGetCoordsIntern(file, corners, 3, &count);
  if (r != 1 || count != 3) return r;
  if (plane.d == 0) return 1;
  int32_t px = 0, py = 0;
  pipObjectFileGetExtraResultsIntern(file, &px, &py);
  const double x = px / 1e6, y = py / 1e6;
  const double x1 = corners[0] / 1e6, y1 = corners[1] / 1e6;
  const double x2 = corners[2] / 1e6, y2 = corners[3] / 1e6;
  const double x3 = corners[4] / 1e6, y3 = corners[5] / 1e6;
  const double d = plane.d;
  out->weights[0] = ((y2 - y3) * x - (x2 - x3) * y + (x2 * y3 - x3 * y2)) / d;
  out->weights[1] = ((x1 - x3) * y - (y1 - y3) * x - (x1 * y3 - x3 * y1)) / d;
  out->weights[2] = ((y1 - y2) * x - (x1 - x2) * y + (x1 * y2 - x2 * y1)) / d;
  return 1;
}
