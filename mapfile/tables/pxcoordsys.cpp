// The coordinate-system and object services of the exported interface: a
// table's and the caller's coordinate systems, clause text, datums and
// ellipsoids, a table's object counts, and conversion, distance and
// intersection of public object records.
//
// Public records (::PXCoordSys, ::PXDatum) are byte images of the library's
// own (layerio::PXCoordSys, layerio::PXDatum) and cross by copy.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/predicates.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/pxobject.h"
#include "mapfile/tables/table.h"

static_assert(sizeof(::PXCoordSys) == sizeof(layerio::PXCoordSys));
static_assert(sizeof(::PXDatum) == sizeof(layerio::PXDatum));
static_assert(offsetof(layerio::PXCoordSys, projection) == PX_COORDSYS_PROJECTION &&
                  offsetof(layerio::PXCoordSys, bounds) == PX_COORDSYS_BOUNDS,
              "the fields the public header names");

namespace layerio {

namespace {

constexpr uint16_t kFail = 0;
constexpr int16_t kErrNoMapFile = 1920;
constexpr size_t kClauseSize = 300;
constexpr size_t kStringSize = 254;
constexpr int kProjectionLonLat = 1;
// The integer range every system spans.
constexpr IRect kWholeIntRange{-kIntCoordLimit, -kIntCoordLimit, kIntCoordLimit, kIntCoordLimit};
// A longitude/latitude record with exactly these bounds asks for the wide
// range the library gives such systems.
constexpr double kLonLatWorld[4] = {-360, -90, 360, 90};
constexpr double kLonLatWide[4] = {-1000, -1000, 1000, 1000};

int16_t Refuse(int16_t code) {
  ErrorPush(kErrorSeverity, code, nullptr, nullptr);
  return 0;
}

layerio::PXCoordSys RecordOf(const ::PXCoordSys* in) {
  layerio::PXCoordSys record;
  std::memcpy(&record, in, sizeof record);
  return record;
}

// Projection number, parameter block and the system's whole integer range in
// its units.
void WriteRecord(const CoordSys* cs, ::PXCoordSys* out) {
  layerio::PXCoordSys record;
  std::memset(&record, 0, sizeof record);
  record.projection = uint16_t(cs->projection);
  std::memcpy(&record.params, &cs->params, sizeof record.params);
  DRect bounds;
  CoordIntRectToUnits(&kWholeIntRange, &bounds, cs);
  DRectNormalize(&bounds);
  record.bounds[0] = bounds.x1;
  record.bounds[1] = bounds.y1;
  record.bounds[2] = bounds.x2;
  record.bounds[3] = bounds.y2;
  std::memcpy(out, &record, sizeof record);
}

// The system of a table's map part, or null.
const CoordSys* StoreCoordSys(const HandleSlot& slot) {
  const TableObject* table = slot.table;
  if (!table || !table->store) return nullptr;
  return PublicStoreCoordSys(table->store);
}

bool HasMapFile(const HandleSlot& slot) {
  return slot.table && slot.table->store && PublicStoreIsMapFile(slot.table->store);
}

// A point's coordinates as the record carries them.
DPoint RecordPoint(const PXObject* object) {
  DPoint p;
  std::memcpy(&p.x, object->u.bytes + PX_OBJECT_X, sizeof p.x);
  std::memcpy(&p.y, object->u.bytes + PX_OBJECT_Y, sizeof p.y);
  return p;
}

}  // namespace

int16_t ApiCoordSysBuild(const ::PXCoordSys* in, CoordSys* out) {
  const layerio::PXCoordSys record = RecordOf(in);
  if (!ProjectionNumberValid(record.projection)) return Refuse(kErrBadHandle);
  DRect bounds{record.bounds[0], record.bounds[1], record.bounds[2], record.bounds[3]};
  if (record.projection == kProjectionLonLat &&
      std::memcmp(record.bounds, kLonLatWorld, sizeof kLonLatWorld) == 0) {
    bounds = DRect{kLonLatWide[0], kLonLatWide[1], kLonLatWide[2], kLonLatWide[3]};
  }
  CoordSysInitWithBounds(out, record.projection, &record.params, &bounds);
  return 1;
}

}  // namespace layerio

using layerio::CoordSys;
using layerio::HandleSlot;
using layerio::InitCall;
using layerio::kErrBadHandle;
using layerio::kFail;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::TableCall;
using layerio::Unguarded;

// 103
LAYERIO_API uint16_t PXFindDatum(const PXDatum* datum, uint16_t* number) {
  return Unguarded(kFail, [&]() -> uint16_t {
    if (number) *number = 0;
    if (!datum) return 0;
    layerio::PXDatum record;
    std::memcpy(&record, datum, sizeof record);
    int found = 0;
    if (!layerio::DatumNumberFind(&record, &found)) return 0;
    if (number) *number = uint16_t(found);
    return 1;
  });
}

// 116
LAYERIO_API uint16_t PXGetTableCoordSys(PXTableHandle table, PXCoordSys* coordSys) {
  return TableCall(table, kNeedNative, kFail, [&](HandleSlot& slot) -> uint16_t {
    if (!layerio::HasMapFile(slot)) return layerio::Refuse(layerio::kErrNoMapFile);
    if (!coordSys) return layerio::Refuse(kErrBadHandle);
    layerio::WriteRecord(layerio::StoreCoordSys(slot), coordSys);
    return 1;
  });
}

// 117
LAYERIO_API uint16_t PXCoordSysToString(const PXCoordSys* coordSys, char* text) {
  return Unguarded(kFail, [&]() -> uint16_t {
    if (!coordSys || !text) return 0;
    text[0] = '\0';
    const layerio::PXCoordSys record = layerio::RecordOf(coordSys);
    if (!layerio::ProjectionNumberValid(record.projection)) return 0;
    CoordSys cs;
    layerio::CoordSysInit(&cs, record.projection, &record.params);
    layerio::CoordSysSetBounds(&cs, record.bounds[0], record.bounds[1], record.bounds[2],
                               record.bounds[3]);
    return layerio::CoordSysWriteClause(&cs, text, layerio::kStringSize, true) ? 1 : 0;
  });
}

// 118
LAYERIO_API uint16_t PXGetDatum(uint32_t number, PXDatum* datum) {
  if (datum) std::memset(datum, 0, sizeof *datum);
  return InitCall(kFail, [&]() -> uint16_t {
    if (!datum) return layerio::Refuse(kErrBadHandle);
    layerio::PXDatum record;
    // Numbers beyond the tables give the empty record, as every unknown one.
    layerio::DatumRecordGet(number > 0xFFFF ? -1 : int(number), &record);
    std::memcpy(datum, &record, sizeof record);
    return 1;
  });
}

// 119
LAYERIO_API void PXSetDefaultBounds(PXCoordSys* coordSys) {
  Unguarded(kFail, [&]() -> uint16_t {
    if (!coordSys) return 0;
    layerio::PXCoordSys record = layerio::RecordOf(coordSys);
    if (!layerio::ProjectionNumberValid(record.projection)) return 0;
    layerio::DRect bounds;
    layerio::ProjectionDefaultBounds(record.projection, &record.params, &bounds);
    if (record.projection == layerio::kProjectionLonLat) {
      CoordSys cs;
      layerio::CoordSysInitWithBounds(&cs, record.projection, &record.params, &bounds);
      layerio::CoordIntRectToUnits(&layerio::kWholeIntRange, &bounds, &cs);
      layerio::DRectNormalize(&bounds);
    }
    record.bounds[0] = bounds.x1;
    record.bounds[1] = bounds.y1;
    record.bounds[2] = bounds.x2;
    record.bounds[3] = bounds.y2;
    std::memcpy(coordSys, &record, sizeof record);
    return 1;
  });
}

// 120
LAYERIO_API void PXGetEllipsoid(uint32_t number, double* values) {
  if (values) values[0] = values[1] = values[2] = 0;
  InitCall(kFail, [&]() -> uint16_t {
    if (!values) return 0;
    layerio::EllipsoidParams ellipsoid;
    layerio::EllipsoidGet(number > 0xFFFF ? -1 : int(number), &ellipsoid);
    values[0] = ellipsoid.a;
    values[1] = ellipsoid.e2;
    values[2] = ellipsoid.f;
    return 1;
  });
}

// 126: a table without a map part has no objects.
LAYERIO_API uint16_t PXGetObjectCounts(PXTableHandle table, uint32_t* points, uint32_t* lines,
                                       uint32_t* regions) {
  return TableCall(table, kNeedNative, kFail, [&](HandleSlot& slot) -> uint16_t {
    layerio::PublicStoreCounts(slot.table ? slot.table->store : nullptr, points, lines, regions);
    return 1;
  });
}

// 144: objects cross unconverted while the caller's system matches the
// table's (projection and parameters, datums compared).
LAYERIO_API uint16_t PXSetApiCoordSys(PXTableHandle table, const PXCoordSys* coordSys) {
  return TableCall(table, kNeedWrite, kFail, [&](HandleSlot& slot) -> uint16_t {
    if (!coordSys) return layerio::Refuse(kErrBadHandle);
    CoordSys built;
    if (!layerio::ApiCoordSysBuild(coordSys, &built)) return 0;
    slot.callerCoordSys = built;
    const CoordSys* own = layerio::StoreCoordSys(slot);
    if (!own && slot.table) own = slot.table->coordSys;
    slot.callerCoordSysDiffers = own && layerio::CoordSysMatch(&built, own, false) ? 0 : 1;
    return 1;
  });
}

// 145
LAYERIO_API uint16_t PXCoordSysToClause(const PXCoordSys* coordSys, char* text) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (!coordSys || !text) return layerio::Refuse(kErrBadHandle);
    text[0] = '\0';
    CoordSys cs;
    if (!layerio::ApiCoordSysBuild(coordSys, &cs)) return 0;
    return layerio::CoordSysWriteClause(&cs, text, layerio::kClauseSize, true) ? 1 : 0;
  });
}

// 147
LAYERIO_API uint16_t PXConvertObject(const PXObject* in, const PXCoordSys* inCoordSys,
                                     PXObject* out, const PXCoordSys* outCoordSys) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (!in || !inCoordSys || !out || !outCoordSys) return layerio::Refuse(kErrBadHandle);
    // Kept from the last call: callers convert object after object between
    // the same two systems.
    const CoordSys* systems = layerio::ConversionSystems(inCoordSys, outCoordSys);
    if (!systems) return 0;
    layerio::GeomObject object;
    layerio::GeomObjectInit(&object, layerio::kGeomNone);
    uint16_t done = layerio::ObjectFromPublic(in, &object, nullptr, &systems[0]) &&
                    layerio::ObjectToPublic(&object, out, &systems[0], &systems[1]);
    layerio::GeomObjectFree(&object);
    if (!done) {
      std::memset(out, 0, sizeof *out);
      return layerio::Refuse(kErrBadHandle);
    }
    return 1;
  });
}

// 148
LAYERIO_API uint16_t PXDistance(double* distance, const PXObject* a, const PXObject* b,
                                const PXCoordSys* coordSys, uint32_t unit, uint16_t flag) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (distance) *distance = 0;
    if (!distance || !a || !b || !coordSys) return layerio::Refuse(kErrBadHandle);
    const uint8_t type = a->u.bytes[PX_OBJECT_TYPE];
    if (type != PX_OBJECT_POINT && type != PX_OBJECT_FONT_POINT &&
        type != PX_OBJECT_CUSTOM_POINT)
      return layerio::Refuse(kErrBadHandle);
    if (!layerio::UnitIsValid(int(unit))) return layerio::Refuse(kErrBadHandle);
    CoordSys cs;
    if (!layerio::ApiCoordSysBuild(coordSys, &cs)) return 0;
    const layerio::DPoint p = layerio::RecordPoint(a), q = layerio::RecordPoint(b);
    // A point that is no finite number has no distance: refused, as the
    // object services refuse it.
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(q.x) || !std::isfinite(q.y))
      return layerio::Refuse(kErrBadHandle);
    const int mode = flag == 0 ? layerio::kDistancePlanar : layerio::kDistanceHaversine;
    *distance = layerio::CoordSysDistance(&p, &q, &cs, int(unit), layerio::CoordSysUnits(&cs),
                                          mode, nullptr, 0);
    return 1;
  });
}

// 149
LAYERIO_API uint16_t PXObjectsIntersect(const PXObject* a, const PXObject* b,
                                        const PXCoordSys* coordSys) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (!a || !b || !coordSys) return layerio::Refuse(kErrBadHandle);
    auto cs = std::make_unique<CoordSys>();
    if (!layerio::ApiCoordSysBuild(coordSys, cs.get())) return 0;
    layerio::GeomObject first, second;
    layerio::GeomObjectInit(&first, layerio::kGeomNone);
    layerio::GeomObjectInit(&second, layerio::kGeomNone);
    uint16_t result = 0;
    if (layerio::ObjectFromPublic(a, &first, nullptr, cs.get()) &&
        layerio::ObjectFromPublic(b, &second, nullptr, cs.get())) {
      result = layerio::GeomObjectsIntersect(&first, &second) ? 1 : 0;
    } else {
      layerio::Refuse(kErrBadHandle);
    }
    layerio::GeomObjectFree(&first);
    layerio::GeomObjectFree(&second);
    return result;
  });
}

// 150
LAYERIO_API uint16_t PXParseCoordSys(const char* clause, PXCoordSys* coordSys) {
  return InitCall(kFail, [&]() -> uint16_t {
    if (!clause || !coordSys) return layerio::Refuse(kErrBadHandle);
    auto cs = std::make_unique<CoordSys>();
    if (!layerio::CoordSysParseText(cs.get(), clause, true))
      return layerio::Refuse(kErrBadHandle);
    layerio::WriteRecord(cs.get(), coordSys);
    return 1;
  });
}
