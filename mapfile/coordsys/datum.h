// Internal to the datum code and its tests: the ellipsoid and datum tables,
// and the three formula shifts that DatumShiftPoints chooses between.
//
// A formula shift works on one point in degrees. Differences are always
// source minus destination (translations, rotations, scale); the ellipsoid
// differences are destination minus source. Points outside the open ranges
// -360..360 and -90..90 are copied clamped, never shifted.
#pragma once

#include <cstdint>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

struct EllipsoidRow {
  double semiMajorAxis;      // metres
  double inverseFlattening;  // 0 for a sphere
};

// A three-parameter datum: ellipsoid and translation only.
struct DatumRow {
  uint8_t ellipsoid;
  uint8_t reserved[7];
  double dx, dy, dz;  // metres
};

inline constexpr int kDatumTableCount = 155;  // datums 0..154
inline constexpr int kDatumTable7First = 1000;
inline constexpr int kDatumTable7Count = 20;  // datums 1000..1019

extern const EllipsoidRow kEllipsoidTable[kEllipsoidCount];
extern const DatumRow kDatumTable[kDatumTableCount];
extern const PXDatum kDatumTable7[kDatumTable7Count];

// What one datum pair needs per point, worked out once per call.
struct DatumShiftTerms {
  double dx, dy, dz;     // metres, source minus destination
  double rx, ry, rz;     // radians, source minus destination
  double scale;          // source minus destination, as a factor offset (ppm * 1e-6)
  bool translationOnly;  // rotations and scale are all exactly 0
  double primeSource, primeDestination;  // degrees
  EllipsoidParams source, destination;
};

void DatumShiftTermsInit(const PXDatum* source, const EllipsoidParams* sourceEll,
                         const PXDatum* destination, const EllipsoidParams* destinationEll,
                         DatumShiftTerms* terms);

// One point each, degrees in and out; out may be in.
void DatumShiftMolodensky(const DPoint* in, DPoint* out, const DatumShiftTerms* terms);
void DatumShiftHelmert(const DPoint* in, DPoint* out, const DatumShiftTerms* terms);
void DatumShiftAbridged(const DPoint* in, DPoint* out, const DatumShiftTerms* terms);

}  // namespace layerio
