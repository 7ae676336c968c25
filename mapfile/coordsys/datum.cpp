// Ellipsoids, datum records and the datum shift.
//
// A datum shift moves longitude/latitude (degrees) from one datum onto
// another by formula: the three-parameter (Molodensky) shift, the
// seven-parameter shift through geocentric coordinates, or the abridged
// seven-parameter shift, chosen by the process-wide method flag. Shifts never
// fail: a point outside the open ranges -360..360 and -90..90 is copied
// clamped, and every result is clamped to -360..360 and -90..90.
#include "mapfile/coordsys/datum.h"

#include <cmath>
#include <cstring>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

constexpr int kEllipsoidFallback = 28;    // numbers beyond the table
constexpr int kCustomDatum = 999;         // ellipsoid and translation given in full
constexpr int kCustomDatum7 = 9999;       // the whole record given in full
constexpr int kMeshFallbackDatum = 1015;  // Bessel-side datum when a mesh cell is missing
constexpr double kArcSecondToRad = kDegToRad / 3600.0;
// The formulas divide by cos(latitude); their increments are worked out no
// closer to a pole than this.
constexpr double kFormulaLatitudeLimit = 89.9;
constexpr int kHelmertIterations = 10;
constexpr double kHelmertTolerance = 1e-9;  // radians

uint16_t gDatumShiftMethod = 1;

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

void ClampLonLat(DPoint* p) {
  p->x = Clamp(p->x, -360.0, 360.0);
  p->y = Clamp(p->y, -90.0, 90.0);
}

// The formulas shift only points strictly inside the longitude/latitude
// ranges (NaN fails the test and is left to the clamp).
bool Shiftable(const DPoint* p) {
  return p->x > -360.0 && p->x < 360.0 && p->y > -90.0 && p->y < 90.0;
}

bool IsTableDatum(int n) {
  return (n >= 0 && n < kDatumTableCount) ||
         (n >= kDatumTable7First && n < kDatumTable7First + kDatumTable7Count);
}

bool RotationsAndScaleZero(const PXDatum* d) {
  return d->rx == 0 && d->ry == 0 && d->rz == 0 && d->scale == 0;
}

bool TranslationZero(const PXDatum* d) { return d->dx == 0 && d->dy == 0 && d->dz == 0; }

// ----- Datum tests of the grid dispatch --------------------------------------

bool DatumIsClarke1866Range(const PXDatum* d) {
  return (d->ellipsoid == 7 || d->ellipsoid == 8) && d->dx >= -20 && d->dx <= 20 && d->dy >= 100 &&
         d->dy <= 170 && d->dz >= 160 && d->dz <= 210;
}

bool DatumIsEllipsoid0Zero(const PXDatum* d) {
  return d->ellipsoid == 0 && TranslationZero(d) && RotationsAndScaleZero(d);
}

bool DatumIsEllipsoid28Zero(const PXDatum* d) {
  return d->ellipsoid == 28 && TranslationZero(d) && RotationsAndScaleZero(d);
}

bool DatumIsBessel128(const PXDatum* d) {
  return d->ellipsoid == 10 && d->dx == -128 && d->dy == 481 && d->dz == 664 &&
         RotationsAndScaleZero(d);
}

bool DatumIsBesselRange(const PXDatum* d) {
  return d->ellipsoid == 10 && d->dx >= -168 && d->dx <= -128 && d->dy >= 502 && d->dy <= 512 &&
         d->dz >= 665 && d->dz <= 705 && RotationsAndScaleZero(d);
}

bool DatumIsClarke1880Ign(const PXDatum* d) {
  return d->ellipsoid == 30 && d->dx == -168 && d->dy == -60 && d->dz == 320 && d->rx == 0 &&
         d->ry == 0 && d->rz == 0;
}

bool DatumIsReferenceZero(const PXDatum* d) {
  return DatumIsEllipsoid0Zero(d) || DatumIsEllipsoid28Zero(d);
}

bool DatumIsBessel(const PXDatum* d) { return DatumIsBessel128(d) || DatumIsBesselRange(d); }

// ----- Grid shifts ------------------------------------------------------------
//
// Three grid-based shifts would be preferred over the formulas for particular
// datum pairs: a pair set of latitude/longitude grid files (Clarke 1866 datums
// against the reference), a mesh table (the reference against Bessel datums)
// and a node grid of geocentric translations (the reference against Clarke
// 1880 IGN). Nothing in the library ever loads them, so their state
// references stay null for the life of the process and there is no grid
// code: the dispatch below keeps their order, and every point a grid does not
// shift takes the formula shift.

struct GridPairSet;
struct MeshTable;
struct NodeGrid;
const GridPairSet* const gGridPairSet = nullptr;
const MeshTable* const gMeshTable = nullptr;
const NodeGrid* const gNodeGrid = nullptr;

enum class GridRoute { kNone, kPairForward, kPairInverse, kMeshToBessel, kMeshFromBessel, kNode };

GridRoute ChooseGridRoute(const PXDatum* source, const PXDatum* destination) {
  if (gGridPairSet != nullptr) {
    if (DatumIsClarke1866Range(source) && DatumIsEllipsoid0Zero(destination))
      return GridRoute::kPairForward;
    if (DatumIsEllipsoid0Zero(source) && DatumIsClarke1866Range(destination))
      return GridRoute::kPairInverse;
  }
  if (gMeshTable != nullptr) {
    if (DatumIsReferenceZero(source) && DatumIsBessel(destination)) return GridRoute::kMeshToBessel;
    if (DatumIsBessel(source) && DatumIsReferenceZero(destination))
      return GridRoute::kMeshFromBessel;
  }
  if (gNodeGrid != nullptr) {
    if ((DatumIsReferenceZero(source) && DatumIsClarke1880Ign(destination)) ||
        (DatumIsClarke1880Ign(source) && DatumIsReferenceZero(destination)))
      return GridRoute::kNode;
  }
  return GridRoute::kNone;
}

// ----- Formula shifts -----------------------------------------------------------

using FormulaFn = void (*)(const DPoint* in, DPoint* out, const DatumShiftTerms* terms);

FormulaFn ChooseFormula(const DatumShiftTerms* terms) {
  if (gDatumShiftMethod == 0) return DatumShiftAbridged;
  return terms->translationOnly ? DatumShiftMolodensky : DatumShiftHelmert;
}

void FormulaShift(const DPoint* in, DPoint* out, const DatumShiftTerms* terms, int n) {
  FormulaFn formula = ChooseFormula(terms);
  for (int i = 0; i < n; ++i) formula(&in[i], &out[i], terms);
}

// The angles a formula works with: lambda and phi of the point, and phi held
// off the poles for the increments (cos phi is a divisor there).
struct FormulaAngles {
  double lambda, phi, phiNear;
};

void FormulaStart(const DPoint* in, const DatumShiftTerms* terms, FormulaAngles* angles) {
  angles->lambda = (in->x + terms->primeSource) * kDegToRad;
  angles->phi = in->y * kDegToRad;
  angles->phiNear = Clamp(in->y, -kFormulaLatitudeLimit, kFormulaLatitudeLimit) * kDegToRad;
}

void FormulaFinish(double lambda, double phi, const DatumShiftTerms* terms, DPoint* out) {
  out->x = lambda * kRadToDeg - terms->primeDestination;
  out->y = phi * kRadToDeg;
  ClampLonLat(out);
}

}  // namespace

// ----- Ellipsoids -------------------------------------------------------------------

bool EllipsoidNumberValid(int n) { return n >= 0 && n < kEllipsoidCount; }

void EllipsoidGet(int n, EllipsoidParams* out) {
  const EllipsoidRow& row = kEllipsoidTable[EllipsoidNumberValid(n) ? n : kEllipsoidFallback];
  out->a = row.semiMajorAxis;
  out->f = row.inverseFlattening == 0 ? 0.0 : 1.0 / row.inverseFlattening;
  out->e2 = (2.0 - out->f) * out->f;
}

// ----- Datum records ------------------------------------------------------------

bool DatumNumberValid(int n) { return IsTableDatum(n) || n == kCustomDatum || n == kCustomDatum7; }

void DatumRecordClear(PXDatum* record) { memset(record, 0, sizeof *record); }

void DatumRecordGet(int n, PXDatum* out) {
  DatumRecordClear(out);
  if (n >= 0 && n < kDatumTableCount) {
    const DatumRow& row = kDatumTable[n];
    out->ellipsoid = row.ellipsoid;
    out->dx = row.dx;
    out->dy = row.dy;
    out->dz = row.dz;
    out->number = uint16_t(n);
  } else if (n >= kDatumTable7First && n < kDatumTable7First + kDatumTable7Count) {
    memcpy(out, &kDatumTable7[n - kDatumTable7First], sizeof *out);
  } else {
    out->ellipsoid = kEllipsoidFallback;
  }
}

bool DatumRecordEqual(const PXDatum* a, const PXDatum* b) {
  if (memcmp(a, b, sizeof *a) == 0) return true;
  PXDatum left, right;
  memcpy(&left, a, sizeof left);
  memcpy(&right, b, sizeof right);
  left.number = 0;
  right.number = 0;
  return memcmp(&left, &right, sizeof left) == 0;
}

bool DatumRecordMatches(int n, const PXDatum* record) {
  if (!DatumNumberValid(n)) return false;
  PXDatum table;
  DatumRecordGet(n, &table);
  return DatumRecordEqual(record, &table);
}

// The record's own number is taken only when it names a table datum: 999 and
// 9999 announce values that follow in a clause, so they never stand alone.
bool DatumNumberFind(const PXDatum* record, int* number) {
  if (IsTableDatum(record->number) && DatumRecordMatches(record->number, record)) {
    *number = record->number;
    return true;
  }
  for (int n = 0; n < kDatumTableCount; ++n) {
    if (DatumRecordMatches(n, record)) {
      *number = n;
      return true;
    }
  }
  for (int n = kDatumTable7First; n < kDatumTable7First + kDatumTable7Count; ++n) {
    if (DatumRecordMatches(n, record)) {
      *number = n;
      return true;
    }
  }
  return false;
}

// ----- Shifts -------------------------------------------------------------------

void DatumShiftTermsInit(const PXDatum* source, const EllipsoidParams* sourceEll,
                         const PXDatum* destination, const EllipsoidParams* destinationEll,
                         DatumShiftTerms* terms) {
  memset(terms, 0, sizeof *terms);
  terms->dx = source->dx - destination->dx;
  terms->dy = source->dy - destination->dy;
  terms->dz = source->dz - destination->dz;
  terms->rx = (source->rx - destination->rx) * kArcSecondToRad;
  terms->ry = (source->ry - destination->ry) * kArcSecondToRad;
  terms->rz = (source->rz - destination->rz) * kArcSecondToRad;
  terms->scale = (source->scale - destination->scale) * 1e-6;
  terms->translationOnly = terms->rx == 0 && terms->ry == 0 && terms->rz == 0 && terms->scale == 0;
  terms->primeSource = source->primeMeridian;
  terms->primeDestination = destination->primeMeridian;
  terms->source = *sourceEll;
  terms->destination = *destinationEll;
}

// Where a point lies within 0.1 degree of a pole the increments are those at
// latitude +/-89.9 but are added to the point's own latitude, so that the
// point keeps its place instead of being pulled down to 89.9.
void DatumShiftMolodensky(const DPoint* in, DPoint* out, const DatumShiftTerms* t) {
  if (!Shiftable(in)) {
    *out = *in;
    ClampLonLat(out);
    return;
  }
  FormulaAngles g;
  FormulaStart(in, t, &g);
  const double a = t->source.a, e2 = t->source.e2, f = t->source.f;
  const double da = t->destination.a - a, df = t->destination.f - f;
  const double b = (1.0 - f) * a;
  const double sinPhi = sin(g.phiNear), cosPhi = cos(g.phiNear);
  const double sinLam = sin(g.lambda), cosLam = cos(g.lambda);
  const double w = sqrt(1.0 - e2 * sinPhi * sinPhi);
  const double nu = a / w;
  const double rho = (1.0 - e2) * a / (w * w * w);
  const double lambda = g.lambda + (cosLam * t->dy - sinLam * t->dx) / (nu * cosPhi);
  const double phi = g.phi + (nu * cosPhi * sinPhi * e2 * da / a +
                              ((nu * b / a + rho * a / b) * sinPhi * df + t->dz) * cosPhi -
                              (cosLam * t->dx + sinLam * t->dy) * sinPhi) /
                                 rho;
  FormulaFinish(lambda, phi, t, out);
}

void DatumShiftHelmert(const DPoint* in, DPoint* out, const DatumShiftTerms* t) {
  if (t->translationOnly) {
    DatumShiftMolodensky(in, out, t);
    return;
  }
  if (!Shiftable(in)) {
    *out = *in;
    ClampLonLat(out);
    return;
  }
  FormulaAngles g;
  FormulaStart(in, t, &g);
  // Geocentric coordinates at height 0; no division by cos phi here, so the
  // point's own latitude is used.
  const double a = t->source.a, e2 = t->source.e2;
  const double sinPhi = sin(g.phi), cosPhi = cos(g.phi);
  const double nu = a / sqrt(1.0 - e2 * sinPhi * sinPhi);
  const double x = nu * cosPhi * cos(g.lambda);
  const double y = nu * cosPhi * sin(g.lambda);
  const double z = nu * (1.0 - e2) * sinPhi;
  const double k = 1.0 + t->scale;
  const double x2 = k * x + t->rz * y - t->ry * z + t->dx;
  const double y2 = k * y - t->rz * x + t->rx * z + t->dy;
  const double z2 = k * z + t->ry * x - t->rx * y + t->dz;

  const double a2 = t->destination.a, e22 = t->destination.e2;
  const double p = sqrt(x2 * x2 + y2 * y2);
  double phi = g.phi;
  for (int i = 0; i < kHelmertIterations; ++i) {
    const double s = sin(phi);
    const double next = atan2(z2 + a2 / sqrt(1.0 - e22 * s * s) * e22 * s, p);
    const double change = fabs(next - phi);
    phi = next;
    if (change < kHelmertTolerance) break;
  }
  // atan2 folds the longitude into -180..180; a point that started near or
  // beyond the antimeridian stays on its side.
  double lambda = atan2(y2, x2);
  const double startDegrees = in->x + t->primeSource;
  if (startDegrees >= 179.0 && lambda < 0) lambda += 2.0 * kPi;
  if (startDegrees <= -179.0 && lambda > 0) lambda -= 2.0 * kPi;
  FormulaFinish(lambda, phi, t, out);
}

void DatumShiftAbridged(const DPoint* in, DPoint* out, const DatumShiftTerms* t) {
  if (!Shiftable(in)) {
    *out = *in;
    ClampLonLat(out);
    return;
  }
  FormulaAngles g;
  FormulaStart(in, t, &g);
  const double a = t->source.a, e2 = t->source.e2;
  const double da = t->destination.a - a, df = t->destination.f - t->source.f;
  const double sinPhi = sin(g.phiNear), cosPhi = cos(g.phiNear);
  const double sinLam = sin(g.lambda), cosLam = cos(g.lambda);
  double pPhi, pLam;
  if (t->translationOnly) {
    pPhi = cosPhi * t->dz - (cosLam * t->dx + sinLam * t->dy) * sinPhi;
    pLam = cosLam * t->dy - sinLam * t->dx;
  } else {
    pPhi = cosPhi * t->dz +
           (cosLam * t->ry - sinLam * t->rx - cosPhi * sinPhi * t->scale * e2) * a -
           (cosLam * t->dx + sinLam * t->dy) * sinPhi;
    pLam = cosLam * t->dy + ((cosLam * t->rx + sinLam * t->ry) * sinPhi - cosPhi * t->rz) * a -
           sinLam * t->dx;
  }
  const double lambda = g.lambda + pLam / (a * cosPhi);
  const double phi = g.phi + pPhi / a + cosPhi * sinPhi * (2.0 * df + da * e2 / a);
  FormulaFinish(lambda, phi, t, out);
}

void DatumShiftPoints(const DPoint* in, const PXDatum* source, const EllipsoidParams* sourceEll,
                      DPoint* out, const PXDatum* destination,
                      const EllipsoidParams* destinationEll, int n) {
  if (n <= 0) return;
  DatumShiftTerms terms;
  switch (ChooseGridRoute(source, destination)) {
    case GridRoute::kMeshToBessel:
    case GridRoute::kMeshFromBessel: {
      // Points outside the mesh go by formula with the fixed Bessel datum in
      // place of the Bessel side.
      PXDatum bessel;
      DatumRecordGet(kMeshFallbackDatum, &bessel);
      EllipsoidParams besselEll;
      EllipsoidGet(bessel.ellipsoid, &besselEll);
      if (DatumIsBessel(destination))
        DatumShiftTermsInit(source, sourceEll, &bessel, &besselEll, &terms);
      else
        DatumShiftTermsInit(&bessel, &besselEll, destination, destinationEll, &terms);
      break;
    }
    case GridRoute::kPairForward:
    case GridRoute::kPairInverse:
    case GridRoute::kNode:
    case GridRoute::kNone:
      DatumShiftTermsInit(source, sourceEll, destination, destinationEll, &terms);
      break;
  }
  FormulaShift(in, out, &terms, n);
}

void DatumShiftRect(const DRect* in, const PXDatum* source, const EllipsoidParams* sourceEll,
                    DRect* out, const PXDatum* destination, const EllipsoidParams* destinationEll) {
  DPoint corners[4];
  DRectCorners(in, corners);
  DatumShiftPoints(corners, source, sourceEll, corners, destination, destinationEll, 4);
  DRect box;
  DRectSetEmpty(&box);
  for (const DPoint& p : corners) DRectAddPoint(&box, &p);
  *out = box;
}

uint16_t DatumShiftMethod() { return gDatumShiftMethod; }

void SetDatumShiftMethod(uint16_t method) { gDatumShiftMethod = method; }

}  // namespace layerio
