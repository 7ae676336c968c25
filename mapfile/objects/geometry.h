// Geometry derived from map objects: bounds, the order of parts, the nesting
// of region rings into outer rings and holes, centroids, areas and lengths,
// and the point lists that stand for lines, rectangles, arcs and ellipses
// when they are turned into polylines or regions.
//
// An edited or newly decoded polyline, region, multipoint or collection is
// finished by GeomObjectNormalize before it is stored; the object file and
// the public-object conversion rely on it.
#pragma once

#include <cstdint>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/geom.h"

namespace layerio {

// The system parts are measured in when they are sorted: a non-earth plane
// with integer scale 1 and offset 0.
const CoordSys* GeomDefaultCoordSys();

// Bounds, part order, ring nesting and centroid in their fixed order. For
// polylines and regions 1 when the part order (or a region's nesting)
// changed; 1 for multipoints and collections; 0 without change for other
// kinds and for an object without a data buffer that is not a collection.
int GeomObjectNormalize(GeomObject* object, int recomputeCentroid);
// Kinds 4, 5, 13 and 14 take their bounds from their points (part bounds
// too); an empty one gets the zero rectangle. Other kinds keep theirs.
int GeomObjectComputeBounds(GeomObject* object);

// Largest first. A region not sorted as groups is sorted at every position,
// anything else only at the first. The order is the one a selection sort
// with swaps gives (ties keep the earliest candidate; measure 0 never moves),
// produced in O(P log P). Only headers move. 1 when anything moved.
int GeomPartsSortBySize(GeomObject* object, int asGroups);
// Regions: every outer ring followed by its holes (following-part count).
// 1 when any header moved.
int GeomRingNesting(GeomObject* object);

int GeomRegionCentroid(GeomObject* object);
int GeomPolylineCentroid(GeomObject* object);
int GeomMultipointCentroid(GeomObject* object);
// With mustBeInside set a region refuses a point outside it. 1 when set.
int GeomObjectSetCentroid(GeomObject* object, const IPoint* point, int mustBeInside);
// 1 when every part's points begin where the previous part's end.
int GeomPartsContiguous(const GeomObject* object);

// Area of one ring of the object: planar (planar = 1) for a plane, or for
// mode 1 with a projection other than longitude/latitude; otherwise on the
// sphere (planar = 0). In areaUnit.
double GeomRingArea(const GeomObject* object, const GeomPart* part, const CoordSys* cs,
                    int areaUnit, int mode, int* planar);
// Length of one part in unit; mode as for CoordIntDistance.
double GeomPartLength(const GeomObject* object, const GeomPart* part, const CoordSys* cs,
                      int unit, int mode);

// Strictly inside the ellipse inscribed in the object's bounds.
int GeomPointInEllipse(const IPoint* point, const GeomObject* object);
// Inside an area object (or a collection's region part).
int GeomPointInObject(const IPoint* point, const GeomObject* object);

// The point list of a line, rectangle, rounded rectangle, arc or ellipse,
// written into *buffer (grown with GeomBufferReserve; the caller frees it
// with MemFreePtr); *points is set to it. With openRing the closing point of
// area kinds is dropped. Result: the point count, 0 for other kinds and on
// memory failure.
int32_t GeomShapePoints(IPoint** points, void** buffer, const GeomObject* object, int openRing,
                        int32_t resolution);
// An arc (kind 3) or a whole ellipse (kind 9) at resolution points per full
// turn.
int32_t GeomArcPoints(const GeomObject* object, int32_t resolution, IPoint** points,
                      void** buffer);

// A polyline made a region (rings closed) or a region made a polyline, as a
// new object; a source already of the target kind is cloned. Null on
// failure.
GeomObject* GeomPolyConvert(const GeomObject* object, int toRegion);
// A new polyline or region holding one part made of the points; a style
// source of the same kind gives its centroid and styles.
GeomObject* GeomPolyFromPoints(const IPoint* points, int32_t count, const GeomObject* styleSource,
                               int asRegion);
// Finishes a new polyline or region: the source's centroid and styles, then
// GeomObjectNormalize keeping that centroid where it lies inside; without a
// source the centroid is computed.
int GeomPolyFinish(GeomObject* object, const GeomObject* source);

// Crossing of the horizontal line at y with the segment p-q. 1 when it
// crosses (x set).
int GeomScanCross(int32_t y, const IPoint* p, const IPoint* q, int32_t* x);

}  // namespace layerio
