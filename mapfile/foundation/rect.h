// Rectangles and points of the map-table library: integer map coordinates
// (IRect, IPoint) and doubles (DRect, DPoint), with the clamps that keep
// integer map coordinates inside -1,000,000,000..1,000,000,000. They sit in
// the foundation because coordinate systems and map objects both use them.
//
// Rectangles are x min, y min, x max, y max. The empty rectangles are the
// start values of a bounds accumulation: an IRect of 0x7FFFFFFF minima and
// 0x80000000 maxima, a DRect of +/-DBL_MAX. None of these operations fails.
#pragma once

#include <cstdint>

#include "mapfile/foundation/units.h"

namespace layerio {

struct IPoint {
  int32_t x, y;
};
struct IRect {
  int32_t x1, y1, x2, y2;
};
// Double points and rectangles are the foundation's unit pairs, so that unit
// conversions and coordinate chains share one record.
using DPoint = UnitPair;
using DRect = UnitRect;

static_assert(sizeof(IPoint) == 8 && sizeof(IRect) == 16);
static_assert(sizeof(DPoint) == 16 && sizeof(DRect) == 32);

inline constexpr int32_t kIntCoordLimit = 1000000000;

void IRectSet(IRect* r, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
DRect* DRectSet(DRect* r, double x1, double y1, double x2, double y2);
void IRectNormalize(IRect* r);
void DRectNormalize(DRect* r);
void IRectFromPoints(IRect* r, const IPoint* p, const IPoint* q);
void IRectSetEmpty(IRect* r);
void DRectSetEmpty(DRect* r);
void IRectUnion(IRect* r, const IRect* s);
void IRectAddPoint(IRect* r, const IPoint* p);
void DRectAddPoint(DRect* r, const DPoint* p);
int IRectIsZero(const IRect* r);
int IRectsOverlap(const IRect* a, const IRect* b);
int IRectInside(const IRect* a, const IRect* b);  // a inside b, edges included
int IPointInRect(const IPoint* p, const IRect* r);
int DPointInRect(const DPoint* p, const DRect* r);
void DPointClamp(DPoint* p, const DRect* r);
void IPointMidpoint(const IPoint* p, const IPoint* q, IPoint* out);
void IRectCenter(const IRect* r, IPoint* out);
void DRectCenter(const DRect* r, DPoint* out);
// (x min, y min), (x min, y max), (x max, y max), (x max, y min).
void IRectCorners(const IRect* r, IPoint out[4]);
void DRectCorners(const DRect* r, DPoint out[4]);
void IRectInflate(IRect* r, int32_t dx, int32_t dy);
void DRectAroundPoint(const DPoint* p, DRect* out, double hx, double hy);
// Clamped to the integer map range and rounded halves away from zero; NaN
// becomes -1,000,000,000.
void DPointsToInt(const DPoint* in, IPoint* out, int n);
void DRectToInt(const DRect* in, IRect* out);
void IPointsToDouble(const IPoint* in, DPoint* out, int n);
void IRectToDouble(const IRect* in, DRect* out);
void IPointDelta(const IPoint* p, const IPoint* q, DPoint* out);
// Full range: -16,777,217..16,777,216; otherwise -4,000..12,000.
void IRectClamp(const IRect* in, IRect* out, int fullRange);

}  // namespace layerio
