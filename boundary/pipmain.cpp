// The C interface of Zonelib: each exported function is its frame (cframe.h)
// around the internal body that does the work.
#include "zonelib.h"

#include "boundary/cframe.h"
#include "boundary/dbfile.h"
#include "boundary/import.h"
#include "boundary/mainintn.h"
#include "boundary/shapefile.h"

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
