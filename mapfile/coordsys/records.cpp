// The small operations on coordinate-system records that every other part of
// the coordinate-system code uses: field access, matching, sanitising,
// affine inversion, default bounds and display precision.
//
// Matching compares parameter blocks byte for byte: the fields a match
// ignores are first copied from the second block into a copy of the first,
// so that they can never make a difference, and the copies are memcmp'd.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/memory.h"

namespace layerio {

namespace {

constexpr double kTiny = 1e-50;
constexpr double kHuge = 1e50;
// Half the side of the default square of the stereographic and oblique
// cylindrical systems, in metres.
constexpr double kDefaultSquareHalf = 100000000.0;
constexpr uint16_t kDecimalsNone = 65535;
constexpr uint16_t kFormatZero = 3;
constexpr uint16_t kFormatCoordinate = 10;
constexpr uint16_t kFormatMeasure = 4;
constexpr int kUnitMile = 0;
constexpr int kUnitSquareMile = 14;

double Sanitize(double v) {
  // NaN would poison every scale derived from it; it counts as 0.
  if (std::isnan(v) || std::fabs(v) < kTiny) return 0.0;
  if (v > kHuge) return kHuge;
  if (v < -kHuge) return -kHuge;
  return v;
}

// The u16 at public offset 250, which matching ignores like the one at 246.
void CopyWord250(const CoordSysParams* from, CoordSysParams* to) {
  std::memcpy(to->reserved2 + 2, from->reserved2 + 2, 2);
}

bool BlocksMatch(int projection, const CoordSysParams* a, const CoordSysParams* b,
                 bool ignoreDatum) {
  CoordSysParams copy;
  std::memcpy(&copy, a, sizeof copy);
  if (projection == 0) {
    copy.nonEarth.one = b->nonEarth.one;
    copy.nonEarth.quadrant = b->nonEarth.quadrant;
  } else {
    if (projection == 1) {
      copy.lonLatQuadrant = b->lonLatQuadrant;
      copy.params[0] = b->params[0];
    }
    if (ignoreDatum) {
      std::memcpy(&copy.datum, &b->datum, sizeof copy.datum);
    } else {
      copy.datum.number = b->datum.number;
    }
  }
  copy.word246 = b->word246;
  CopyWord250(b, &copy);
  return std::memcmp(&copy, b, sizeof copy) == 0;
}

void AffineRect(const CoordSys* cs, DRect* r) {
  if (cs->params.flags & kParamsAffine) AffineForwardRect(r, r, cs);
}

// Decimals that show a step of h: a whole number of digits after the point
// (negative for steps of tens and more).
uint16_t DecimalsFor(double h, int unit) {
  if (!(h > 0)) return 50;
  int32_t decimals = NumRoundAwayFromZero(-std::log10(h));
  if (unit == kUnitDegree && decimals < -1) return kDecimalsNone;
  return uint16_t(decimals);
}

}  // namespace

uint16_t CoordSysProjection(const PXCoordSys* record) { return record->projection; }

void CoordSysParamsCopy(const PXCoordSys* record, CoordSysParams* out) {
  std::memcpy(out, &record->params, sizeof *out);
}

void CoordSysParamsClear(CoordSysParams* block) { std::memset(block, 0, sizeof *block); }

void CoordSysParamsDefault(CoordSysParams* block) {
  CoordSysParamsClear(block);
  DatumRecordGet(0, &block->datum);
  block->lonLatQuadrant = 2;
  block->params[0] = 0.0;
}

bool ProjectionNumberValid(int n) { return n >= 0 && n <= 31; }

int ProjectionFamily(int n) {
  switch (n) {
    case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17:
      return 1;
    case 2: case 26:
      return 2;
    case 4: case 5: case 28: case 29:
      return 3;
    case 18: case 25: case 27: case 30:
      return 4;
    case 8: case 20: case 21: case 22: case 23: case 24: case 31:
      return 5;
    case 3: case 6: case 7: case 9: case 19:
      return 6;
    default:
      return 0;
  }
}

int CoordSysRecordUnits(const PXCoordSys* record) {
  if (record->projection == 0) return record->params.nonEarth.unit;
  if (record->projection == 1) return kUnitDegree;
  return record->params.projectedUnit;
}

int CoordSysUnits(const CoordSys* cs) {
  if (cs->params.flags & kParamsAffine) return cs->params.affineUnit;
  if (cs->projection == 0) return cs->params.nonEarth.unit;
  if (cs->projection == 1) return kUnitDegree;
  return cs->params.projectedUnit;
}

int CoordSysOrientation(const CoordSys* cs) {
  if (cs->flags & kCsWindow) return 4;
  if (cs->projection == 0) return cs->params.nonEarth.quadrant;
  if (cs->projection == 1) return cs->params.lonLatQuadrant;
  return 1;
}

int CoordSysSecondOrientation(const CoordSys* cs) {
  if (cs->flags & kCsInternalAffine) return 4;
  if (cs->projection != 0) return 1;
  return cs->params.nonEarth.quadrant2;
}

bool CoordSysIsLayout(const CoordSys* cs) {
  return cs->projection == 0 && cs->params.nonEarth.quadrant2 == 4;
}

uint16_t CoordSysRecordWord246(const PXCoordSys* record) { return record->params.word246; }

void CoordSysGetScale(const CoordSys* cs, int16_t* projection, CoordSysParams* block,
                      double* scaleX, double* scaleY, double* offsetX, double* offsetY) {
  int o1 = CoordSysOrientation(cs), o2 = CoordSysSecondOrientation(cs);
  double signX = QuadrantSignX(o1) * QuadrantSignX(o2);
  double signY = QuadrantSignY(o1) * QuadrantSignY(o2);
  if (projection) *projection = cs->projection;
  if (block) std::memcpy(block, &cs->params, sizeof *block);
  if (scaleX) *scaleX = cs->scaleX * signX;
  if (scaleY) *scaleY = cs->scaleY * signY;
  if (offsetX) *offsetX = cs->offsetX * signX;
  if (offsetY) *offsetY = cs->offsetY * signY;
}

bool CoordSysEqual(const CoordSys* a, const CoordSys* b) {
  return std::memcmp(a, b, sizeof *a) == 0;
}

bool CoordSysMatch(const CoordSys* a, const CoordSys* b, bool ignoreDatum) {
  if (a->projection != b->projection) return false;
  if ((a->flags | b->flags) & kCsNoDatum) ignoreDatum = true;
  return BlocksMatch(a->projection, &a->params, &b->params, ignoreDatum);
}

bool CoordSysMatchIgnoringAffine(const CoordSys* a, const CoordSys* b, bool ignoreDatum) {
  if (a->projection != b->projection) return false;
  if ((a->flags | b->flags) & kCsNoDatum) ignoreDatum = true;
  CoordSysParams copy;
  std::memcpy(&copy, &a->params, sizeof copy);
  copy.flags = (copy.flags & ~kParamsAffine) | (b->params.flags & kParamsAffine);
  std::memcpy(copy.affine, b->params.affine, sizeof copy.affine);
  std::memcpy(copy.affineInverse, b->params.affineInverse, sizeof copy.affineInverse);
  copy.affineUnit = b->params.affineUnit;
  return BlocksMatch(a->projection, &copy, &b->params, ignoreDatum);
}

bool CoordSysMatchWithInternalAffine(const CoordSys* a, const CoordSys* b, bool ignoreDatum) {
  if (!CoordSysMatch(a, b, ignoreDatum)) return false;
  bool hasA = a->flags & kCsInternalAffine, hasB = b->flags & kCsInternalAffine;
  if (hasA != hasB) return false;
  if (!hasA) return true;
  for (int i = 0; i < 6; ++i) {
    if (a->internalAffine[i] != b->internalAffine[i]) return false;
    if (a->internalAffineInverse[i] != b->internalAffineInverse[i]) return false;
  }
  return true;
}

bool CoordSysRectCompatible(const CoordSys* a, const CoordSys* b, bool ignoreDatum, bool force) {
  if (force) return true;
  if (!CoordSysMatch(a, b, ignoreDatum)) return false;
  for (const CoordSys* cs : {a, b}) {
    if ((cs->flags & kCsInternalAffine) &&
        (cs->internalAffine[1] != 0 || cs->internalAffine[3] != 0)) {
      return false;
    }
  }
  return true;
}

void PointSanitize(DPoint* p) {
  p->x = Sanitize(p->x);
  p->y = Sanitize(p->y);
}

void RectSanitize(DRect* r) {
  r->x1 = Sanitize(r->x1);
  r->y1 = Sanitize(r->y1);
  r->x2 = Sanitize(r->x2);
  r->y2 = Sanitize(r->y2);
}

bool AffineTransformInvert(const double affine[6], double inverse[6]) {
  const double a = affine[0], b = affine[1], c = affine[2];
  const double d = affine[3], e = affine[4], f = affine[5];
  double det = a * e - d * b;
  if (det == 0) return false;
  double out[6] = {e / det, -b / det, (b * f - e * c) / det,
                   -d / det, a / det, (d * c - a * f) / det};
  // Adding +0.0 turns -0.0 into +0.0: the inverse is stored in a record that
  // is compared byte for byte.
  for (int i = 0; i < 6; ++i) inverse[i] = out[i] + 0.0;
  return true;
}

void ProjectionDefaultBounds(int projection, const CoordSysParams* block, DRect* out) {
  CoordSys cs;
  CoordSysInit(&cs, projection, block);
  const double* p = block->params;
  DRect r;
  switch (projection) {
    case 0:
      r = DRect{0, 0, 10, 10};
      break;
    case 1:
      r = DRect{-1000, -1000, 1000, 1000};
      AffineRect(&cs, &r);
      break;
    case 3: case 10: case 19: case 26:
      r = DRect{-360, -85, 360, 85};
      LonLatRectToUnits(&r, &r, &cs);
      break;
    case 8: case 21: case 22: case 23: case 24:
      r = DRect{cs.centralMeridian - 60, -90, cs.centralMeridian + 60, 90};
      LonLatRectToUnits(&r, &r, &cs);
      break;
    case 20: case 31: case 25: {
      double half = 0;
      UnitConvert(&half, block->projectedUnit, kDefaultSquareHalf, kUnitMetre);
      double cx = projection == 25 ? p[2] : p[3];
      double cy = projection == 25 ? p[3] : p[4];
      r = DRect{cx - half, cy - half, cx + half, cy + half};
      AffineRect(&cs, &r);
      break;
    }
    default:
      r = DRect{-360, -90, 360, 90};
      LonLatRectToUnits(&r, &r, &cs);
      break;
  }
  DRectNormalize(&r);
  *out = r;
}

void CoordSysBoundsInUnits(const CoordSys* cs, DRect* out, int unit) {
  IRect whole{-kIntCoordLimit, -kIntCoordLimit, kIntCoordLimit, kIntCoordLimit};
  DRect r;
  CoordIntRectToUnits(&whole, &r, cs);
  UnitConvertRect(out, unit, &r, CoordSysUnits(cs), cs);
}

void CoordSysDisplayPrecision(const CoordSys* cs, const IPoint* centre, DisplaySpec* coordinates,
                              DisplaySpec* distances, DisplaySpec* areas) {
  IPoint ends[2] = {{centre->x, centre->y - 1}, {centre->x, centre->y + 1}};
  double step = CoordIntDistance(&ends[0], &ends[1], cs, kUnitMile, 0, nullptr, 0) / 2;
  if (coordinates) {
    DPoint units[2];
    CoordIntToUnits(ends, units, cs, 2);
    int from = CoordSysUnits(cs);
    UnitConvertPoint(&units[0], coordinates->unit, &units[0], from, cs);
    UnitConvertPoint(&units[1], coordinates->unit, &units[1], from, cs);
    double h = PlanarDistance(&units[0], &units[1]) / 2;
    coordinates->decimals = DecimalsFor(h, coordinates->unit);
    coordinates->format = h > 0 ? kFormatCoordinate : kFormatZero;
  }
  if (distances) {
    double h = 0;
    UnitConvert(&h, distances->unit, step, kUnitMile);
    distances->decimals = DecimalsFor(h, distances->unit);
    distances->format = h > 0 ? kFormatMeasure : kFormatZero;
  }
  if (areas) {
    double h = 0;
    UnitConvert(&h, areas->unit, step * step, kUnitSquareMile);
    areas->decimals = DecimalsFor(h, areas->unit);
    areas->format = h > 0 ? kFormatMeasure : kFormatZero;
  }
}

int QuadrantSignX(int code) { return code == 1 || code == 4 ? 1 : -1; }
int QuadrantSignY(int code) { return code == 1 || code == 2 ? 1 : -1; }

}  // namespace layerio
