// The conversion chain of a coordinate system, step by step and as whole
// chains: integer map coordinates, plane, coordsys units, projected units,
// longitude/latitude. Every operation takes an array with a count and may
// convert in place; each step reads a point completely before it writes it.
// Steps that a record does not use (no internal affine, no public affine, no
// datum) are plain copies, so a chain costs only what the system needs.
#include <cstring>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

namespace {

// Chains that end in integers pass through doubles in slices of this many
// points, so that no call allocates.
constexpr int kSlice = 256;

void Copy(const DPoint* in, DPoint* out, int n) {
  if (in != out && n > 0) memmove(out, in, sizeof(DPoint) * size_t(n));
}

// x' = c[0] x + c[1] y + c[2], y' = c[3] x + c[4] y + c[5].
void Affine(const double c[6], const DPoint* in, DPoint* out, int n) {
  const double a = c[0], b = c[1], cc = c[2], d = c[3], e = c[4], f = c[5];
  for (int i = 0; i < n; ++i) {
    double x = in[i].x, y = in[i].y;
    out[i].x = a * x + b * y + cc;
    out[i].y = d * x + e * y + f;
  }
}

// The bounding rectangle of the four corners through an affine.
void AffineRect(const double c[6], const DRect* in, DRect* out) {
  DPoint corners[4];
  DRectCorners(in, corners);
  Affine(c, corners, corners, 4);
  DRect r;
  DRectSetEmpty(&r);
  for (const DPoint& p : corners) DRectAddPoint(&r, &p);
  *out = r;
}

bool HasInternalAffine(const CoordSys* cs) { return (cs->flags & kCsInternalAffine) != 0; }
bool HasAffine(const CoordSys* cs) { return (cs->params.flags & kParamsAffine) != 0; }

// A two-corner rectangle step: each corner as a point, then normalised.
template <typename Step>
void CornerPair(const DRect* in, DRect* out, Step step) {
  DPoint p[2] = {{in->x1, in->y1}, {in->x2, in->y2}};
  step(p, p, 2);
  *out = DRect{p[0].x, p[0].y, p[1].x, p[1].y};
  DRectNormalize(out);
}

bool DatumShiftNeeded(const PXDatum* datum, const CoordSys* cs) {
  if (!datum || (cs->flags & kCsNoDatum)) return false;
  if (datum->ellipsoid == kEllipsoidNone) return false;
  return !DatumRecordEqual(datum, &cs->params.datum);
}

// The slices of a chain that ends in integers: `toPlane` brings m points to
// the plane in a scratch array, which is then scaled and rounded.
template <typename ToPlane>
void SlicedToInt(const DPoint* in, IPoint* out, const CoordSys* cs, int n, ToPlane toPlane) {
  DPoint scratch[kSlice];
  for (int base = 0; base < n; base += kSlice) {
    int m = n - base < kSlice ? n - base : kSlice;
    toPlane(in + base, scratch, m);
    CoordScalePoints(scratch, scratch, cs, m);
    DPointsToInt(scratch, out + base, m);
  }
}

// The other way: integers are made doubles and then carried by `fromPlane`
// (which may work in place on the output).
void IntToPlane(const IPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double sx = cs->scaleX, sy = cs->scaleY, ox = cs->offsetX, oy = cs->offsetY;
  // From the top so that an output that overlaps its input is safe.
  for (int i = n - 1; i >= 0; --i) {
    double x = in[i].x, y = in[i].y;
    out[i].x = (x - ox) / sx;
    out[i].y = (y - oy) / sy;
  }
}

}  // namespace

// ----- Single steps ----------------------------------------------------------

void CoordUnscalePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double sx = cs->scaleX, sy = cs->scaleY, ox = cs->offsetX, oy = cs->offsetY;
  for (int i = 0; i < n; ++i) {
    double x = in[i].x, y = in[i].y;
    out[i].x = (x - ox) / sx;
    out[i].y = (y - oy) / sy;
  }
}

void CoordUnscaleRect(const DRect* in, DRect* out, const CoordSys* cs) {
  CornerPair(in, out, [cs](const DPoint* i, DPoint* o, int n) { CoordUnscalePoints(i, o, cs, n); });
}

void CoordScalePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double sx = cs->scaleX, sy = cs->scaleY, ox = cs->offsetX, oy = cs->offsetY;
  for (int i = 0; i < n; ++i) {
    DPoint p = in[i];
    PointSanitize(&p);
    out[i].x = p.x * sx + ox;
    out[i].y = p.y * sy + oy;
  }
}

void CoordScaleRect(const DRect* in, DRect* out, const CoordSys* cs) {
  CornerPair(in, out, [cs](const DPoint* i, DPoint* o, int n) { CoordScalePoints(i, o, cs, n); });
}

void InternalAffineForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (HasInternalAffine(cs))
    Affine(cs->internalAffine, in, out, n);
  else
    Copy(in, out, n);
}

void InternalAffineForwardRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (HasInternalAffine(cs))
    AffineRect(cs->internalAffine, in, out);
  else
    *out = *in;
}

void InternalAffineInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (HasInternalAffine(cs))
    Affine(cs->internalAffineInverse, in, out, n);
  else
    Copy(in, out, n);
}

void InternalAffineInverseRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (HasInternalAffine(cs))
    AffineRect(cs->internalAffineInverse, in, out);
  else
    *out = *in;
}

void AffineForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (HasAffine(cs))
    Affine(cs->params.affine, in, out, n);
  else
    Copy(in, out, n);
}

void AffineForwardRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (HasAffine(cs))
    AffineRect(cs->params.affine, in, out);
  else
    *out = *in;
}

void AffineInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (HasAffine(cs))
    Affine(cs->params.affineInverse, in, out, n);
  else
    Copy(in, out, n);
}

void AffineInverseRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (HasAffine(cs))
    AffineRect(cs->params.affineInverse, in, out);
  else
    *out = *in;
}

// A record that was never built has no routines; its projection is the
// identity rather than a call through a null reference.
void ProjForwardPoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (n <= 0) return;
  if (cs->forwardPoints)
    cs->forwardPoints(in, out, cs, n);
  else
    Copy(in, out, n);
}

void ProjForwardRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (cs->forwardRect)
    cs->forwardRect(in, out, cs);
  else
    *out = *in;
}

void ProjInversePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (n <= 0) return;
  if (cs->inversePoints)
    cs->inversePoints(in, out, cs, n);
  else
    Copy(in, out, n);
}

void ProjInverseRect(const DRect* in, DRect* out, const CoordSys* cs) {
  if (cs->inverseRect)
    cs->inverseRect(in, out, cs);
  else
    *out = *in;
}

void DatumShiftToCoordSys(const DPoint* in, DPoint* out, const PXDatum* datum, const CoordSys* cs,
                          int n) {
  if (n <= 0) return;
  if (!DatumShiftNeeded(datum, cs)) {
    Copy(in, out, n);
    return;
  }
  EllipsoidParams source;
  EllipsoidGet(datum->ellipsoid, &source);
  DatumShiftPoints(in, datum, &source, out, &cs->params.datum, &cs->ellipsoid, n);
}

void DatumShiftRectToCoordSys(const DRect* in, DRect* out, const PXDatum* datum,
                              const CoordSys* cs) {
  CornerPair(in, out, [datum, cs](const DPoint* i, DPoint* o, int n) {
    DatumShiftToCoordSys(i, o, datum, cs, n);
  });
}

// ----- Chains ----------------------------------------------------------------

void CoordIntToPlane(const IPoint* in, DPoint* out, const CoordSys* cs, int n) {
  IntToPlane(in, out, cs, n);
}

void CoordIntRectUnscale(const IRect* in, DRect* out, const CoordSys* cs) {
  DRect r;
  IRectToDouble(in, &r);
  CoordUnscaleRect(&r, out, cs);
}

void CoordIntToUnits(const IPoint* in, DPoint* out, const CoordSys* cs, int n) {
  IntToPlane(in, out, cs, n);
  InternalAffineForward(out, out, cs, n);
}

void CoordIntRectToUnits(const IRect* in, DRect* out, const CoordSys* cs) {
  DRect r;
  CoordIntRectUnscale(in, &r, cs);
  InternalAffineForwardRect(&r, out, cs);
}

void CoordUnitsToInt(const DPoint* in, IPoint* out, const CoordSys* cs, int n) {
  SlicedToInt(in, out, cs, n,
              [cs](const DPoint* i, DPoint* o, int m) { InternalAffineInverse(i, o, cs, m); });
}

void CoordUnitsRectToInt(const DRect* in, IRect* out, const CoordSys* cs) {
  DRect r;
  InternalAffineInverseRect(in, &r, cs);
  CoordScaleRect(&r, &r, cs);
  DRectToInt(&r, out);
}

void CoordScalePointsToInt(const DPoint* in, IPoint* out, const CoordSys* cs, int n) {
  SlicedToInt(in, out, cs, n, [](const DPoint* i, DPoint* o, int m) { Copy(i, o, m); });
}

void LonLatToUnits(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  ProjForwardPoints(in, out, cs, n);
  if (HasAffine(cs)) AffineForward(out, out, cs, n);
}

void LonLatRectToUnits(const DRect* in, DRect* out, const CoordSys* cs) {
  DRect r;
  ProjForwardRect(in, &r, cs);
  AffineForwardRect(&r, out, cs);
}

void UnitsToLonLat(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  if (HasAffine(cs)) {
    AffineInverse(in, out, cs, n);
    ProjInversePoints(out, out, cs, n);
  } else {
    ProjInversePoints(in, out, cs, n);
  }
}

void UnitsRectToLonLat(const DRect* in, DRect* out, const CoordSys* cs) {
  DRect r;
  AffineInverseRect(in, &r, cs);
  ProjInverseRect(&r, out, cs);
}

void LonLatToUnitsOnDatum(const DPoint* in, DPoint* out, const PXDatum* datum,
                          const CoordSys* cs, int n) {
  DatumShiftToCoordSys(in, out, datum, cs, n);
  LonLatToUnits(out, out, cs, n);
}

void LonLatRectToUnitsOnDatum(const DRect* in, DRect* out, const PXDatum* datum,
                              const CoordSys* cs) {
  DRect r;
  DatumShiftRectToCoordSys(in, &r, datum, cs);
  LonLatRectToUnits(&r, out, cs);
}

void LonLatToInt(const DPoint* in, IPoint* out, const PXDatum* datum, const CoordSys* cs, int n) {
  SlicedToInt(in, out, cs, n, [datum, cs](const DPoint* i, DPoint* o, int m) {
    LonLatToUnitsOnDatum(i, o, datum, cs, m);
    InternalAffineInverse(o, o, cs, m);
  });
}

void LonLatRectToInt(const DRect* in, IRect* out, const PXDatum* datum, const CoordSys* cs) {
  DRect r;
  LonLatRectToUnitsOnDatum(in, &r, datum, cs);
  CoordUnitsRectToInt(&r, out, cs);
}

void PlaneToLonLat(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  InternalAffineForward(in, out, cs, n);
  UnitsToLonLat(out, out, cs, n);
}

void IntToLonLatNoDatum(const IPoint* in, DPoint* out, const CoordSys* cs, int n) {
  CoordIntToUnits(in, out, cs, n);
  UnitsToLonLat(out, out, cs, n);
}

void IntToLonLat(const IPoint* in, DPoint* out, PXDatum* datum, const CoordSys* cs, int n) {
  IntToLonLatNoDatum(in, out, cs, n);
  if (datum) CoordSysDatumRecord(cs, datum);
}

void IntRectToLonLat(const IRect* in, DRect* out, PXDatum* datum, const CoordSys* cs) {
  DRect r;
  CoordIntRectToUnits(in, &r, cs);
  UnitsRectToLonLat(&r, out, cs);
  if (datum) CoordSysDatumRecord(cs, datum);
}

void UnitsToLonLatWithDatum(const DPoint* in, DPoint* out, PXDatum* datum, const CoordSys* cs,
                            int n) {
  UnitsToLonLat(in, out, cs, n);
  if (datum) CoordSysDatumRecord(cs, datum);
}

void UnitsRectToLonLatWithDatum(const DRect* in, DRect* out, PXDatum* datum, const CoordSys* cs) {
  UnitsRectToLonLat(in, out, cs);
  if (datum) CoordSysDatumRecord(cs, datum);
}

void RectWithDatumRecord(const DRect* in, DRect* out, PXDatum* datum, const CoordSys* cs) {
  *out = *in;
  DRectNormalize(out);
  if (datum) CoordSysDatumRecord(cs, datum);
}

void CoordSysDatumRecord(const CoordSys* cs, PXDatum* out) {
  if (cs->flags & kCsNoDatum) {
    memset(out, 0, sizeof *out);
    out->ellipsoid = kEllipsoidNone;
  } else {
    memcpy(out, &cs->params.datum, sizeof *out);
  }
}

// ----- Unit services ---------------------------------------------------------

namespace {

const CoordSysServices kUnitServices = {LonLatToUnits, LonLatRectToUnits, UnitsToLonLat,
                                        UnitsRectToLonLat, CoordSysUnits};

}  // namespace

void CoordSysInstallUnitServices() { UnitSetCoordSysServices(&kUnitServices); }

}  // namespace layerio
