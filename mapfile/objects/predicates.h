// Spatial predicates of map objects: whether two objects share a point,
// whether a point lies in, on or inside an object, and the segment tests
// under them.
//
// Coordinates are 32-bit integers. Every test on integer points alone (point
// on segment, point side, segment against segment or rectangle) is decided
// in exact integer arithmetic: the products of two coordinates reach 4e18,
// far beyond the 2^53 a double holds exactly, so a double would call points
// near a long edge on it or off it by rounding. Ellipses are tested in
// doubles.
//
// Results are 1 (yes) and 0 (no). Boundaries count: a point on a region's
// edge is in the region, segments touching at one point meet, objects whose
// bounds only touch may intersect. The bounds read are the stored ones
// (object and part bounds), so objects are tested after their bounds are
// computed.
#pragma once

#include <cstdint>

#include "mapfile/foundation/rect.h"
#include "mapfile/objects/geom.h"

namespace layerio {

// Contact codes of GeomSegmentCross.
inline constexpr int kSegmentCrossing = 1;
inline constexpr int kSegmentCollinear = 2;
inline constexpr int kSegmentSharedEnd = 4;
inline constexpr int kSegmentSameEnds = 8;

// Sides given by GeomPointSide.
inline constexpr int kSideOn = 0;     // the point lies on the segment
inline constexpr int kSideRight = 1;  // the segment lies right of the point: the ray crosses it
inline constexpr int kSideLeft = 2;   // the segment lies left of the point

// 1 when the objects share at least one point. Arcs offer no points nor
// segments to the tests and so meet nothing; frames and kinds 11 and 12 hold
// a point within their bounds but meet no line or area.
int GeomObjectsIntersect(const GeomObject* a, const GeomObject* b);

// 1 when the point lies on a linear object, in an area object (boundary
// included; an ellipse strictly inside) or on a point of a point object. An
// arc, and a polyline without a segment of two distinct points, have nothing
// to lie on.
int GeomPointInOrOn(const IPoint* point, const GeomObject* object);

// 1 when the point lies inside the region or on its boundary (even-odd within
// each group of a ring and its holes); other kinds go to GeomPointInOrOn.
int GeomPointInRegion(const IPoint* point, const GeomObject* region);

// The same against one ring (a part of a polyline or region), the part's
// bounds tested first.
int GeomPointInRing(const IPoint* point, const GeomObject* object, const GeomPart* part);

// 1 when the point lies on the closed segment p-q.
int GeomPointOnSegment(const IPoint* point, const IPoint* p, const IPoint* q);

// Classifies the point against the segment p-q for a ray toward increasing
// x (rayMode 1) or for the point alone (rayMode 0). 1 with *side set (kSide*)
// when there is an answer, 0 when the segment does not bear on the point.
// In ray mode the upper end of a sloping segment is left out, so that a
// vertex on the ray is counted once.
int GeomPointSide(const IPoint* point, const IPoint* p, const IPoint* q, int* side, int rayMode);

// 1 when the closed segments a-b and c-d share a point.
int GeomSegmentsIntersect(const IPoint* a, const IPoint* b, const IPoint* c, const IPoint* d);

// 1 when the segments touch or cross; *code (when given) receives the kind of
// contact (kSegment*) and *point (when given) a contact point. A crossing
// within half a unit of both segments counts, as the contact point is
// rounded to the integer grid.
int GeomSegmentCross(const IPoint* a, const IPoint* b, const IPoint* c, const IPoint* d,
                     IPoint* point, int* code);

// 1 when the segment touches or enters the rectangle (edges included).
int GeomSegmentMeetsRect(const IPoint* p, const IPoint* q, const IRect* rect);

// 1 when the segment meets the boundary of the ellipse inscribed in the
// object's bounds.
int GeomSegmentMeetsEllipse(const IPoint* p, const IPoint* q, const GeomObject* object);

// 1 when the boundaries of two ellipses (each inscribed in its bounds) cross.
int GeomEllipsesIntersect(const GeomObject* a, const GeomObject* b);

// Whether the quarter ellipse about the origin from (p, 0) to (0, r) meets
// the ellipse of half axes a, b centred at q.
int GeomQuarticTest(double p, double r, double a, double b, const DPoint* q);

// Whether the quartic of Bernstein coefficients b[0..4] may have a root on
// [0, 1], found by halving down to a fixed depth.
int GeomQuarticHasRoot(const double b[5], int depth);

// 1 when e's bounds equal f's, or e's corners or the middle of its right
// side lie strictly inside f.
int GeomEllipseBoxTest(const GeomObject* e, const GeomObject* f);

}  // namespace layerio
