// The C interface of Zonelib: each exported function is its frame (cframe.h)
// around the internal body that does the work.
#include "zonelib.h"

#include "boundary/cframe.h"
#include "boundary/dbfile.h"
#include "boundary/import.h"
#include "boundary/mainintn.h"
#include "boundary/objfile.h"
#include "boundary/shapefile.h"
#include "boundary/surface.h"

namespace {

constexpr int32_t kNotAContextCode = 109;
constexpr const char* kNotAContextMessage = "Handle is not recognized";
constexpr const char* kNotAContextDetail =
    "attempted call to pipErrorGet with invalid handle as first parameter";

int32_t NotAContext(char* message, char* detail) {
  if (message) StrFormat(message, kPipErrorTextSize, "%s", kNotAContextMessage);
  if (detail) StrFormat(detail, kPipErrorTextSize, "%s", kNotAContextDetail);
  return kNotAContextCode;
}

}  // namespace

// ---- Library context and errors ------------------------------------------

ZONELIB_API int32_t pipInit(uint32_t number, const char* text) {
  return Guarded(int32_t{0}, [&] {
    pipContext* context = nullptr;
    return pipInitIntern(number, text, &context) == 1 ? int32_t(AdoptHandle(context)) : 0;
  });
}

ZONELIB_API int32_t pipTerm(uint32_t context) {
  return DestroyHandle<pipContext>(context, pipTermIntern);
}

ZONELIB_API int32_t pipErrorGet(uint32_t context, char* message, char* detail) {
  return WithHandleOr<pipContext>(
      context, int32_t{-1}, [&] { return NotAContext(message, detail); },
      [&](pipContext& c) { return pipErrorGetIntern(&c, message, detail); });
}

ZONELIB_API int32_t pipErrorShow(uint32_t context, int32_t mode) {
  return WithHandle<pipContext>(context, int32_t{0},
                                [&](pipContext& c) { return pipErrorShowIntern(&c, mode); });
}

ZONELIB_API int32_t pipGetVersion(char* buffer) {
  return Guarded(int32_t{-1}, [&] { return pipGetVersionIntern(buffer); });
}

// ---- Import ------------------------------------------------------------------

ZONELIB_API int32_t pipImportInit(uint32_t context, const char* path,
                                  const pipImportParamStruct* params, uint32_t* handle) {
  return CreateHandle<BoundaryBuilder>(context, handle, [&](pipContext& c, BoundaryBuilder*& b) {
    return pipImportInitIntern(&c, path, params, &b);
  });
}

ZONELIB_API int32_t pipImportInitEx(uint32_t context, const char* path,
                                    const pipImportParamStruct* params, uint16_t kind,
                                    const char* name, const char* text, uint32_t* handle) {
  return CreateHandle<BoundaryBuilder>(context, handle, [&](pipContext& c, BoundaryBuilder*& b) {
    return pipImportInitExIntern(&c, path, params, kind, name, text, &b);
  });
}

ZONELIB_API int32_t pipImportTXBInit(uint32_t context, const char* path,
                                     pipImportParamStruct* params, uint32_t* handle) {
  return CreateHandle<BoundaryBuilder>(context, handle, [&](pipContext& c, BoundaryBuilder*& b) {
    return pipImportTXBInitIntern(&c, path, params, &b);
  });
}

ZONELIB_API int32_t pipImportInsert(uint32_t import, pipObjectInfoStruct* object,
                                    const int32_t* coordinates, const uint32_t* partCounts,
                                    int32_t partCount) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportInsertIntern(&b, object, coordinates, partCounts, partCount);
  });
}

ZONELIB_API int32_t pipImportTerm(uint32_t import, int32_t keep) {
  return DestroyHandle<BoundaryBuilder>(
      import, [&](BoundaryBuilder* b) { return pipImportTermIntern(b, keep); });
}

ZONELIB_API int32_t pipImportOpenBNA(uint32_t import, const char* path, int32_t namePosition) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenBNAIntern(&b, path, namePosition);
  });
}

ZONELIB_API int32_t pipImportOpenPXF(uint32_t import, const char* path, const char* nameField) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenPXF2Intern(&b, path, nameField, "");
  });
}

ZONELIB_API int32_t pipImportOpenPXF2(uint32_t import, const char* path, const char* nameField,
                                      const char* nameField2) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenPXF2Intern(&b, path, nameField, nameField2);
  });
}

ZONELIB_API int32_t pipImportOpenShape(uint32_t import, const char* path, const char* idField,
                                       const char* secondField) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenShapeIntern(&b, path, idField, secondField);
  });
}

ZONELIB_API int32_t pipImportOpenSHP(uint32_t import, const char* path, const char* idField,
                                     const char* secondField) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenShapeIntern(&b, path, idField, secondField);
  });
}

ZONELIB_API int32_t pipImportOpenTAB(uint32_t import, const char* path, const char* idField,
                                     const char* secondField) {
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportOpenTABIntern(&b, path, idField, secondField);
  });
}

ZONELIB_API int32_t pipImportRead(uint32_t import, char* name, int32_t size, uint32_t* percent,
                                  uint32_t* count) {
  if (name && size > 0) name[0] = '\0';
  return WithHandle<BoundaryBuilder>(import, [&](BoundaryBuilder& b) {
    return pipImportReadIntern(&b, name, size, percent, count);
  });
}

ZONELIB_API int32_t pipImportClose(uint32_t import) {
  return WithHandle<BoundaryBuilder>(import,
                                     [&](BoundaryBuilder& b) { return pipImportCloseIntern(&b); });
}

// ---- Object files ----------------------------------------------------------------

namespace {

// The frame of the object-file calls.
template <class Body>
int32_t OnFile(uint32_t file, Body&& body) noexcept {
  return WithHandle<pipObjectFileObject>(file, [&](pipObjectFileObject& f) { return body(&f); });
}

}  // namespace

ZONELIB_API int32_t pipObjectFileOpen(uint32_t context, const char* path, uint32_t mode,
                                      uint32_t* handle) {
  return CreateHandle<pipObjectFileObject>(
      context, handle, [&](pipContext& c, pipObjectFileObject*& f) {
        return pipObjectFileOpenIntern(&c, path, mode, &f);
      });
}

ZONELIB_API int32_t pipObjectFileClose(uint32_t file) {
  return DestroyHandle<pipObjectFileObject>(
      file, [](pipObjectFileObject* f) { return pipObjectFileCloseIntern(&f); });
}

ZONELIB_API int32_t pipObjectFileCloseEx(uint32_t* handle) {
  return handle ? pipObjectFileClose(*handle) : -1;
}

ZONELIB_API int32_t pipObjectFileQuery(uint32_t context, const char* path,
                                       pipObjectFileInfoStruct* info) {
  return WithHandle<pipContext>(
      context, [&](pipContext& c) { return pipObjectFileQueryIntern(&c, path, info); });
}

ZONELIB_API int32_t pipObjectFileValidate(uint32_t context, const char* path) {
  return WithHandle<pipContext>(
      context, [&](pipContext& c) { return pipObjectFileValidateIntern(&c, path); });
}

ZONELIB_API int32_t pipObjectHandleFileQuery(uint32_t file, pipObjectFileInfoStruct* info) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectHandleFileQueryIntern(f, info); });
}

ZONELIB_API int32_t pipObjectHandleFileQueryEx(uint32_t file, pipObjectFileExtraInfoStruct* info) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectHandleFileQueryExIntern(f, info); });
}

ZONELIB_API int32_t pipObjectIsTaxFile(uint32_t file) {
  return OnFile(file, [](pipObjectFileObject* f) { return pipObjectIsTaxFileIntern(f); });
}

ZONELIB_API int32_t pipObjectFindFirstContaining(uint32_t file, int32_t x, int32_t y,
                                                 uint32_t radius, char* name, int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstContainingIntern(f, x, y, radius, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstContainingEx(uint32_t file, int32_t x, int32_t y,
                                                   uint32_t radius, char* name, int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstContainingExIntern(f, x, y, radius, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstRect(uint32_t file, int32_t x1, int32_t y1, int32_t x2,
                                           int32_t y2, char* name, int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstRectIntern(f, x1, y1, x2, y2, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstName(uint32_t file, const char* pattern, char* name,
                                           int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstNameIntern(f, pattern, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstNearest(uint32_t file, int32_t x, int32_t y,
                                              uint32_t count, char* name, int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstNearestIntern(f, x, y, count, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstNearestEx(uint32_t file, int32_t x, int32_t y,
                                                uint32_t count, const char* criteria, char* name,
                                                int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstNearestExIntern(f, x, y, count, criteria, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstPolygon(uint32_t file, const int32_t* points,
                                              const uint32_t* partCounts, uint32_t partCount,
                                              char* name, int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstPolygonIntern(f, points, partCounts, partCount, name, size);
  });
}

ZONELIB_API int32_t pipObjectFindFirstPolygonEx(uint32_t file, const int32_t* points,
                                                const uint32_t* partCounts, uint32_t partCount,
                                                char* name, int32_t size, uint32_t precision,
                                                double* percentage) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindFirstPolygonExIntern(f, points, partCounts, partCount, name, size,
                                             precision, percentage);
  });
}

ZONELIB_API int32_t pipObjectFindNext(uint32_t file, char* name, int32_t size) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectFindNextIntern(f, name, size); });
}

ZONELIB_API int32_t pipObjectFindNextEx(uint32_t file, char* name, uint32_t size,
                                        uint32_t precision, double* percentage) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectFindNextExIntern(f, name, size, precision, percentage);
  });
}

ZONELIB_API int32_t pipObjectValidateFilterCriteria(uint32_t file, const char* criteria) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectValidateFilterCriteriaIntern(f, criteria);
  });
}

ZONELIB_API int32_t pipObjectGetSearchDistance(uint32_t file) {
  return OnFile(file, [](pipObjectFileObject* f) { return pipObjectGetSearchDistanceIntern(f); });
}

ZONELIB_API int32_t pipObjectSetSearchDistance(uint32_t file, uint32_t distance) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectSetSearchDistanceIntern(f, distance);
  });
}

ZONELIB_API int32_t pipObjectGetInfo(uint32_t file, pipObjectInfoStruct* info) {
  return OnFile(file, [&](pipObjectFileObject* f) { return pipObjectGetInfoIntern(f, info); });
}

ZONELIB_API int32_t pipObjectGetNumCoords(uint32_t file, uint32_t* points, uint32_t* parts) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectGetNumCoordsIntern(f, points, parts);
  });
}

ZONELIB_API int32_t pipObjectGetCoords(uint32_t file, int32_t* points, uint32_t maxPoints,
                                       uint32_t* partCounts, int32_t maxParts, uint32_t* parts) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectGetCoordsIntern(f, points, maxPoints, partCounts, maxParts, parts);
  });
}

ZONELIB_API int32_t pipObjectGetHandle64(uint32_t file, uint32_t* low, uint32_t* high) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectGetHandle64Intern(f, low, high); });
}

ZONELIB_API int32_t pipObjectGetHandle(uint32_t file) {
  return OnFile(file, [](pipObjectFileObject* f) { return pipObjectGetHandleIntern(f); });
}

ZONELIB_API int32_t pipObjectFileGoto64(uint32_t file, uint32_t low, uint32_t high) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectFileGoto64Intern(f, low, high); });
}

ZONELIB_API int32_t pipObjectFileGoto(uint32_t file, uint32_t low) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectFileGoto64Intern(f, low, 0); });
}

ZONELIB_API int32_t pipObjectDistanceToBorder(uint32_t file, int32_t x, int32_t y) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectDistanceToBorderIntern(f, x, y); });
}

ZONELIB_API int32_t pipObjectDistanceToBorderEx(uint32_t file, int32_t x, int32_t y,
                                                uint32_t* nearestX, uint32_t* nearestY) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectDistanceToBorderExIntern(f, x, y, nearestX, nearestY);
  });
}

ZONELIB_API int32_t pipPointInPoly(uint32_t file, int32_t x, int32_t y) {
  return OnFile(file, [&](pipObjectFileObject* f) { return pipPointInPolyIntern(f, x, y); });
}

ZONELIB_API int32_t pipObjectGetAttributeCount(uint32_t file, int32_t* count) {
  return OnFile(file,
                [&](pipObjectFileObject* f) { return pipObjectGetAttributeCountIntern(f, count); });
}

ZONELIB_API int32_t pipObjectGetAttributeNameByNumber(uint32_t file, uint32_t n, char* buffer,
                                                      int32_t size) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectGetAttributeNameByNumberIntern(f, n, buffer, size);
  });
}

ZONELIB_API int32_t pipObjectGetAttributeInfoByName(uint32_t file, const char* name,
                                                    pipAttributeInfoStruct* info) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectGetAttributeInfoByNameIntern(f, name, info);
  });
}

ZONELIB_API int32_t pipObjectGetAttributeInfoByNumber(uint32_t file, uint32_t n,
                                                      pipAttributeInfoStruct* info) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipObjectGetAttributeInfoByNumberIntern(f, n, info);
  });
}

// ---- Overlap check ------------------------------------------------------------------

ZONELIB_API int32_t pipInitializeOverlapCheck(uint32_t context, uint32_t* handle) {
  return CreateHandle<pipOverlapCheckObject>(
      context, handle, [](pipContext& c, pipOverlapCheckObject*& check) {
        return pipInitializeOverlapCheckIntern(&c, &check);
      });
}

ZONELIB_API int32_t pipTerminateOverlapCheck(uint32_t check) {
  return DestroyHandle<pipOverlapCheckObject>(check, pipTerminateOverlapCheckIntern);
}

ZONELIB_API int32_t pipAddRegionAPolygon(uint32_t check, uint32_t count, const int32_t* points) {
  return WithHandle<pipOverlapCheckObject>(check, [&](pipOverlapCheckObject& o) {
    return pipAddRegionPolygonIntern(&o, 'A', count, points);
  });
}

ZONELIB_API int32_t pipAddRegionBPolygon(uint32_t check, uint32_t count, const int32_t* points) {
  return WithHandle<pipOverlapCheckObject>(check, [&](pipOverlapCheckObject& o) {
    return pipAddRegionPolygonIntern(&o, 'B', count, points);
  });
}

ZONELIB_API int32_t pipClearRegionAPolygon(uint32_t check) {
  return WithHandle<pipOverlapCheckObject>(
      check, [](pipOverlapCheckObject& o) { return pipClearRegionPolygonIntern(&o, true, false); });
}

ZONELIB_API int32_t pipClearRegionBPolygon(uint32_t check) {
  return WithHandle<pipOverlapCheckObject>(
      check, [](pipOverlapCheckObject& o) { return pipClearRegionPolygonIntern(&o, false, true); });
}

ZONELIB_API int32_t pipClearRegionAllPolygon(uint32_t check) {
  return WithHandle<pipOverlapCheckObject>(
      check, [](pipOverlapCheckObject& o) { return pipClearRegionPolygonIntern(&o, true, true); });
}

ZONELIB_API int32_t pipCheckForRegionOverlap(uint32_t check) {
  return WithHandle<pipOverlapCheckObject>(check, [](pipOverlapCheckObject& o) {
    return pipCheckForRegionOverlapExIntern(&o, kOverlapDefaultPrecision, nullptr);
  });
}

ZONELIB_API int32_t pipCheckForRegionOverlapEx(uint32_t check, uint32_t precision,
                                               double* percentage) {
  return WithHandle<pipOverlapCheckObject>(check, [&](pipOverlapCheckObject& o) {
    return pipCheckForRegionOverlapExIntern(&o, precision, percentage);
  });
}

// ---- Surface files -----------------------------------------------------------------------

ZONELIB_API int32_t pipSurfFileOpen(uint32_t context, const char* path, uint32_t mode,
                                    uint32_t* handle) {
  return pipObjectFileOpen(context, path, mode, handle);
}

ZONELIB_API int32_t pipSurfFileClose(uint32_t file) { return pipObjectFileClose(file); }

ZONELIB_API int32_t pipSurfFileQuery(uint32_t context, const char* path,
                                     pipObjectFileInfoStruct* info) {
  return pipObjectFileQuery(context, path, info);
}

ZONELIB_API int32_t pipSurfFileValidate(uint32_t context, const char* path) {
  return pipObjectFileValidate(context, path);
}

ZONELIB_API int32_t pipSurfFindFirstValue(uint32_t file, int32_t x, int32_t y, int32_t* value) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipSurfFindFirstValueIntern(f, x, y, value);
  });
}

ZONELIB_API int32_t pipSurfFindNextValue(uint32_t file, int32_t* value) {
  return OnFile(file, [&](pipObjectFileObject* f) { return pipSurfFindNextValueIntern(f, value); });
}

ZONELIB_API int32_t pipSurfGetCoords(uint32_t file, int32_t* points, int32_t size,
                                     uint32_t* count) {
  return OnFile(file, [&](pipObjectFileObject* f) {
    return pipSurfGetCoordsIntern(f, points, size, count);
  });
}

ZONELIB_API int32_t pipSurfGetInfo(uint32_t file, pipSurfInfo* info) {
  return OnFile(file, [&](pipObjectFileObject* f) { return pipSurfGetInfoIntern(f, info); });
}

// ---- Shapefile and dBASE files ---------------------------------------------------

ZONELIB_API int dbOpen(DbfHandle* h, const char* path) {
  return Guarded(-1, [&] { return dbOpenIntern(h, path); });
}
ZONELIB_API int dbRead(DbfHandle* h) {
  return Guarded(-1, [&] { return dbReadIntern(h); });
}
ZONELIB_API int dbReadByRecno(DbfHandle* h, uint32_t number) {
  return Guarded(-1, [&] { return dbReadByRecnoIntern(h, number); });
}
ZONELIB_API int dbCreate(DbfHandle* h, const char* path) {
  return Guarded(-1, [&] { return dbCreateIntern(h, path); });
}
ZONELIB_API int dbWrite(DbfHandle* h) {
  return Guarded(-1, [&] { return dbWriteIntern(h); });
}
ZONELIB_API int dbClose(DbfHandle* h) {
  return Guarded(-1, [&] { return dbCloseIntern(h); });
}

ZONELIB_API int ShapeOpen(ShapeHandle* h, const char* base) {
  return Guarded(-1, [&] { return ShapeOpenIntern(h, base); });
}
ZONELIB_API int ShapeRead(ShapeHandle* h) {
  return Guarded(-1, [&] { return ShapeReadIntern(h); });
}
ZONELIB_API int ShapeCreate(ShapeHandle* h, const char* base) {
  return Guarded(-1, [&] { return ShapeCreateIntern(h, base); });
}
ZONELIB_API int ShapeWritePoint(ShapeHandle* h, const double* xy) {
  return Guarded(-1, [&] { return ShapeWritePointIntern(h, xy); });
}
ZONELIB_API int ShapeWritePoly(ShapeHandle* h, const ShapePartList* parts, int shapeType) {
  return Guarded(-1, [&] { return ShapeWritePolyIntern(h, parts, shapeType); });
}
ZONELIB_API int ShapeClose(ShapeHandle* h) {
  return Guarded(-1, [&] { return ShapeCloseIntern(h); });
}
