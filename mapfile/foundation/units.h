// Units of measure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

inline constexpr int kUnitCount = 38;
inline constexpr int kUnitDegree = 13;
inline constexpr int kUnitMetre = 7;

struct UnitPair {
  double x, y;
};
struct UnitRect {
  double x1, y1, x2, y2;
};

// What the unit conversions need of the coordinate-system code when a value
// passes through degrees; installed by that code (UnitSetCoordSysServices).
// Without them degree points and rectangles cannot be projected and are
// copied unchanged.
struct CoordSysServices {
  void (*lonLatToUnits)(const UnitPair* in, UnitPair* out, const CoordSys* cs, int count);
  void (*lonLatRectToUnits)(const UnitRect* in, UnitRect* out, const CoordSys* cs);
  void (*unitsToLonLat)(const UnitPair* in, UnitPair* out, const CoordSys* cs, int count);
  void (*unitsRectToLonLat)(const UnitRect* in, UnitRect* out, const CoordSys* cs);
  int (*coordSysUnits)(const CoordSys* cs);
};
// Null uninstalls. The record must outlive its installation.
void UnitSetCoordSysServices(const CoordSysServices* services);

int16_t UnitIsValid(int code);
int16_t UnitIsSpecial(int code);
int16_t UnitIsLinear(int code);
int UnitAreaOf(int code);
double UnitSize(int code);  // inches or square inches; 0 outside 0..37
int16_t UnitFromName(const char* name, int* code);
int16_t UnitName(int code, char* buffer, size_t size);
void UnitConvert(double* out, int target, double value, int source);
void UnitConvertPair(UnitPair* out, int target, const UnitPair* in, int source);
void UnitConvertPoint(UnitPair* out, int target, const UnitPair* in, int source,
                      const CoordSys* cs);
void UnitConvertRect(UnitRect* out, int target, const UnitRect* in, int source,
                     const CoordSys* cs);

}  // namespace layerio
