// The C interface of the radius-search and ZIP+4 families: each exported
// function is its frame (boundary/cframe.h) around the body that does the
// work.
#include "boundary/cframe.h"
#include "boundary/polysrch.h"
#include "services/radial.h"
#include "services/z9search.h"
#include "zonelib.h"

// ---- Radius search ---------------------------------------------------------

ZONELIB_API int32_t pipRadInit(uint32_t context, int32_t coordinateKind, uint32_t* handle) {
  return CreateHandle<RadialSearch>(context, handle, [&](pipContext& c, RadialSearch*& r) {
    return pipRadInitIntern(&c, coordinateKind, &r);
  });
}

ZONELIB_API int32_t pipRadTerm(uint32_t search) {
  return DestroyHandle<RadialSearch>(search, pipRadTermIntern);
}

ZONELIB_API int32_t pipRadInsertPoint(uint32_t search, int32_t x, int32_t y, const char* name) {
  return WithHandle<RadialSearch>(
      search, [&](RadialSearch& r) { return pipRadInsertPointIntern(&r, x, y, name); });
}

ZONELIB_API int32_t pipRadLoadPoints(uint32_t search, uint32_t file) {
  return WithHandle<RadialSearch>(search, [&](RadialSearch& r) {
    return WithHandle<pipObjectFileObject>(
        file, [&](pipObjectFileObject& f) { return pipRadLoadPointsIntern(&r, &f); });
  });
}

ZONELIB_API int32_t pipRadFindFirstInRect(uint32_t search, int32_t x1, int32_t y1, int32_t x2,
                                          int32_t y2, int32_t* x, int32_t* y, char* name,
                                          int32_t size) {
  return WithHandle<RadialSearch>(search, [&](RadialSearch& r) {
    return pipRadFindFirstInRectIntern(&r, x1, y1, x2, y2, x, y, name, size);
  });
}

ZONELIB_API int32_t pipRadFindFirstInRadius(uint32_t search, int32_t cx, int32_t cy, int32_t radius,
                                            int32_t* x, int32_t* y, char* name, int32_t size) {
  return WithHandle<RadialSearch>(search, [&](RadialSearch& r) {
    return pipRadFindFirstInRadiusIntern(&r, cx, cy, radius, x, y, name, size);
  });
}

ZONELIB_API int32_t pipRadFindFirstNearest(uint32_t search, int32_t cx, int32_t cy, int32_t count,
                                           int32_t* x, int32_t* y, char* name, int32_t size) {
  return WithHandle<RadialSearch>(search, [&](RadialSearch& r) {
    return pipRadFindFirstNearestIntern(&r, cx, cy, count, x, y, name, size);
  });
}

ZONELIB_API int32_t pipRadFindNext(uint32_t search, int32_t* x, int32_t* y, char* name,
                                   int32_t size) {
  return WithHandle<RadialSearch>(
      search, [&](RadialSearch& r) { return pipRadFindNextIntern(&r, x, y, name, size); });
}

// ---- ZIP+4 -------------------------------------------------------------------

ZONELIB_API int32_t pipZip4FileOpen(uint32_t context, const char* path, uint32_t* handle) {
  return CreateHandle<Zip4FileHandle>(context, handle, [&](pipContext& c, Zip4FileHandle*& z) {
    return pipZip4FileOpenIntern(&c, path, &z);
  });
}

ZONELIB_API int32_t pipZip4FileClose(uint32_t zip4) {
  return DestroyHandle<Zip4FileHandle>(zip4, pipZip4FileCloseIntern);
}

ZONELIB_API int32_t pipZip4FindFirst(uint32_t zip4, uint32_t file, int32_t radius, char* code,
                                     char* type, char* name, int32_t size) {
  return WithHandle<Zip4FileHandle>(zip4, [&](Zip4FileHandle& z) {
    return WithHandle<pipObjectFileObject>(file, [&](pipObjectFileObject& f) {
      return pipZip4FindFirstIntern(&z, &f, radius, code, type, name, size);
    });
  });
}

ZONELIB_API int32_t pipZip4FindNext(uint32_t zip4, char* code, char* type, char* name,
                                    int32_t size) {
  return WithHandle<Zip4FileHandle>(
      zip4, [&](Zip4FileHandle& z) { return pipZip4FindNextIntern(&z, code, type, name, size); });
}
