// Units of measure: the 38 units with their sizes and classes, and the
// conversions of values, coordinate pairs and rectangles between them.
// Conversions into or out of degrees pass through the coordinate system's
// own unit with the projection services of the coordinate-system code.
#include <cstdlib>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/units.h"

namespace layerio {
namespace {

struct UnitRow {
  double size;       // inches, or square inches for an area unit
  int16_t area;      // the area counterpart
  int16_t linear;    // 1 linear, 0 area
};

// Sizes are the units' lengths in inches; the degree is one degree of arc on
// a sphere of radius 6,370,997 m.
constexpr UnitRow kUnits[kUnitCount] = {
    {63360, 14, 1},                  // 0 mi
    {39370.07874015748, 15, 1},      // 1 km
    {1, 16, 1},                      // 2 in
    {12, 17, 1},                     // 3 ft
    {36, 18, 1},                     // 4 yd
    {0.03937007874015748, 19, 1},    // 5 mm
    {0.3937007874015748, 20, 1},     // 6 cm
    {39.37007874015748, 21, 1},      // 7 m
    {12.000024000048, 22, 1},        // 8 survey ft
    {72913.38582677166, 23, 1},      // 9 nmi
    {0.0006944444444444445, 24, 1},  // 10 twip
    {0.013888888888888888, 25, 1},   // 11 pt
    {0.16666666666666666, 26, 1},    // 12 pica
    {4377750.956089806, 27, 1},      // 13 degree
    {4014489600, 14, 0},             // 14 sq mi
    {1550003100.0062, 15, 0},        // 15 sq km
    {1, 16, 0},                      // 16 sq in
    {144, 17, 0},                    // 17 sq ft
    {1296, 18, 0},                   // 18 sq yd
    {0.0015500031000062, 19, 0},     // 19 sq mm
    {0.15500031000062, 20, 0},       // 20 sq cm
    {1550.0031000062, 21, 0},        // 21 sq m
    {144.000576001728, 22, 0},       // 22 sq survey ft
    {5316361832.723666, 23, 0},      // 23 sq nmi
    {4.822530864197531e-07, 24, 0},  // 24 sq twip
    {0.0001929012345679012, 25, 0},  // 25 sq pt
    {0.02777777777777778, 26, 0},    // 26 sq pica
    {19164703433545.21, 27, 0},      // 27 sq degree
    {6272640, 28, 0},                // 28 acre
    {15500031.000062, 29, 0},        // 29 hectare
    {7.92, 33, 1},                   // 30 li
    {792, 34, 1},                    // 31 ch
    {198, 35, 1},                    // 32 rd
    {62.7264, 33, 0},                // 33 sq li
    {627264, 34, 0},                 // 34 sq ch
    {39204, 35, 0},                  // 35 sq rd
    {39204, 36, 0},                  // 36 perch
    {1568160, 37, 0},                // 37 rood
};

constexpr int kUnitNameBase = 6400;
constexpr int kSpecialNameBase = 7050;  // names of the codes 1000..1002
constexpr int kSpecialCodeBase = 1000;
constexpr int kSpecialCount = 3;

bool Valid(int code) { return code >= 0 && code < kUnitCount; }

double Clamp(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }

void ClampDegrees(UnitPair* p) {
  p->x = Clamp(p->x, -360, 360);
  p->y = Clamp(p->y, -90, 90);
}

const CoordSysServices* Services() { return State().coordSys; }

void ConvertRect(UnitRect* out, int target, const UnitRect* in, int source) {
  if (target == source) {
    *out = *in;
    return;
  }
  UnitPair a{in->x1, in->y1}, b{in->x2, in->y2};
  UnitConvertPair(&a, target, &a, source);
  UnitConvertPair(&b, target, &b, source);
  *out = UnitRect{a.x, a.y, b.x, b.y};
}

}  // namespace

void UnitSetCoordSysServices(const CoordSysServices* services) { State().coordSys = services; }

int16_t UnitIsValid(int code) { return Valid(code) ? 1 : 0; }

int16_t UnitIsSpecial(int code) {
  return code >= kSpecialCodeBase && code < kSpecialCodeBase + kSpecialCount ? 1 : 0;
}

int16_t UnitIsLinear(int code) { return Valid(code) ? kUnits[code].linear : 0; }

int UnitAreaOf(int code) { return Valid(code) ? kUnits[code].area : 14; }

double UnitSize(int code) { return Valid(code) ? kUnits[code].size : 0; }

int16_t UnitFromName(const char* name, int* code) {
  if (!name) return 0;
  for (int i = 0; i < kUnitCount; ++i) {
    if (StrEqualNoCase(name, MsgGetText(kUnitNameBase + i))) {
      *code = i;
      return 1;
    }
  }
  // The special codes have names only where the table gives them one.
  for (int i = 0; i < kSpecialCount; ++i) {
    if (!MsgExists(kSpecialNameBase + i)) continue;
    if (StrEqualNoCase(name, MsgGetText(kSpecialNameBase + i))) {
      *code = kSpecialCodeBase + i;
      return 1;
    }
  }
  return 0;
}

int16_t UnitName(int code, char* buffer, size_t size) {
  if (!Valid(code)) {
    StrCopyPadded(buffer, " ", size);
    return 0;
  }
  StrCopyPadded(buffer, MsgGetText(kUnitNameBase + code), size);
  return 1;
}

void UnitConvert(double* out, int target, double value, int source) {
  if (Valid(target) && Valid(source) && kUnits[target].linear == kUnits[source].linear) {
    *out = value * kUnits[source].size / kUnits[target].size;
  } else {
    *out = value;
  }
}

void UnitConvertPair(UnitPair* out, int target, const UnitPair* in, int source) {
  if (target == source) {
    *out = *in;
    return;
  }
  UnitPair p = *in;
  UnitConvert(&out->x, target, p.x, source);
  UnitConvert(&out->y, target, p.y, source);
}

void UnitConvertPoint(UnitPair* out, int target, const UnitPair* in, int source,
                      const CoordSys* cs) {
  const CoordSysServices* services = Services();
  UnitPair p = *in;
  if (target == source) {
    if (source == kUnitDegree) ClampDegrees(&p);
    *out = p;
  } else if (source == kUnitDegree) {
    if (!services) {
      *out = p;
      return;
    }
    services->lonLatToUnits(&p, &p, cs, 1);
    UnitConvertPair(out, target, &p, services->coordSysUnits(cs));
  } else if (target == kUnitDegree) {
    if (!services) {
      *out = p;
      return;
    }
    UnitConvertPair(&p, services->coordSysUnits(cs), &p, source);
    services->unitsToLonLat(&p, &p, cs, 1);
    *out = p;
  } else {
    UnitConvertPair(out, target, &p, source);
  }
}

void UnitConvertRect(UnitRect* out, int target, const UnitRect* in, int source,
                     const CoordSys* cs) {
  const CoordSysServices* services = Services();
  UnitRect r = *in;
  if (target == source) {
    if (source == kUnitDegree) {
      r.x1 = Clamp(r.x1, -360, 360);
      r.x2 = Clamp(r.x2, -360, 360);
      r.y1 = Clamp(r.y1, -90, 90);
      r.y2 = Clamp(r.y2, -90, 90);
    }
    *out = r;
  } else if (source == kUnitDegree) {
    if (!services) {
      *out = r;
      return;
    }
    services->lonLatRectToUnits(&r, &r, cs);
    ConvertRect(out, target, &r, services->coordSysUnits(cs));
  } else if (target == kUnitDegree) {
    if (!services) {
      *out = r;
      return;
    }
    ConvertRect(&r, services->coordSysUnits(cs), &r, source);
    services->unitsRectToLonLat(&r, &r, cs);
    *out = r;
  } else {
    ConvertRect(out, target, &r, source);
  }
}

}  // namespace layerio
