// The public object record (PXObject, layout in include/layerio.h) and its
// conversion to and from the library's map object (GeomObject).
//
// Coordinates cross in the units of one coordinate system: the caller's
// (callerCs given: its units to longitude/latitude on its datum, then into
// the table's integer coordinates with the datum shift) or the table's
// (callerCs null: table units straight to integers). Outward the same steps
// run backwards.
//
// Contracts:
//   ObjectFromPublic  fills `out` (a freed or fresh record; the caller frees
//       it with GeomObjectFree) from the record. 0 for a code outside
//       200..214, a section count outside 1..24,403,223, a point count outside
//       1..134,217,724, a null point or section pointer, a multipoint of a
//       symbol type other than 201, 211, 212, a coordinate that is not a
//       finite number or lies beyond the integer range of the table's
//       bounds (it would be stored as another point), and when memory runs
//       out (632 pushed); `out` then holds nothing that needs freeing beyond
//       GeomObjectFree.
//   ObjectToPublic    zero-fills `out` and writes the record. Points, section
//       entries and the text go to the conversion's scratch arrays, which
//       the record points into; they stay valid until the next conversion or
//       PublicObjectScratchFree (called at the interface's shutdown). 0 for
//       kinds the record cannot carry (frames, kinds 11 and 12) and when
//       memory runs out (632 pushed); the record is then all zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/maprecord.h"

namespace layerio {

// Limits of the sections of one record.
inline constexpr uint32_t kPublicMaxSections = PX_OBJECT_SECTIONS_MAX;
inline constexpr uint32_t kPublicMaxPoints = PX_SECTION_POINTS_MAX;
static_assert(kPublicMaxSections == kMapMaxSections && kPublicMaxPoints == kMapMaxPoints);
// The offsets the public header names for callers that fill the record.
static_assert(sizeof(PXCoordSys) == PX_COORDSYS_SIZE);
static_assert(offsetof(PXCoordSys, projection) == PX_COORDSYS_PROJECTION &&
              offsetof(PXCoordSys, params) == PX_COORDSYS_DATUM &&
              offsetof(PXCoordSys, params) + offsetof(CoordSysParams, lonLatQuadrant) ==
                  PX_COORDSYS_LONLAT_QUADRANT &&
              offsetof(PXCoordSys, bounds) == PX_COORDSYS_BOUNDS);

int16_t ObjectFromPublic(const PXObject* in, GeomObject* out, const CoordSys* callerCs,
                         const CoordSys* tableCs);
int16_t ObjectToPublic(const GeomObject* in, PXObject* out, const CoordSys* tableCs,
                       const CoordSys* callerCs);

struct ObjStore;
// What the interface reads of a table's object store (for the code that
// includes table.h, which cannot include objstore.h beside it).
bool PublicStoreIsMapFile(const ObjStore* store);
const CoordSys* PublicStoreCoordSys(const ObjStore* store);
// The counts of the store's header; all 0 without a store. Outputs may be null.
void PublicStoreCounts(const ObjStore* store, uint32_t* points, uint32_t* lines,
                       uint32_t* regions);

// Frees the conversion's scratch arrays (points, section entries, text) and
// the kept systems of ConversionSystems.
void PublicObjectScratchFree();

// The two systems of a conversion (from, to) built from their records, as
// ApiCoordSysBuild builds them; null (644 pushed) when either cannot be
// built. The last pair is kept until the next call with other records or
// PublicObjectScratchFree, so that converting object after object between
// the same systems builds them once.
const CoordSys* ConversionSystems(const ::PXCoordSys* from, const ::PXCoordSys* to);

// Builds an internal coordinate system from a public record: 644 pushed and
// 0 for a projection number outside 0..31. A longitude/latitude record with
// the bounds (-360, -90, 360, 90) takes (-1000, -1000, 1000, 1000).
int16_t ApiCoordSysBuild(const ::PXCoordSys* in, CoordSys* out);

}  // namespace layerio
