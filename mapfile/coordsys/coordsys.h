// Coordinate systems of Layerio: the public record PXCoordSys, the datum
// record PXDatum, the in-memory CoordSys every conversion works on, the
// transform record CoordXform between two systems, and the operations on
// them.
//
// The records are plain data compared byte for byte (matching, equality), so
// they are always zeroed whole before they are filled, carry explicit padding
// and never hold -0.0 read from a file. Conversions never fail: out-of-range
// input is clamped (longitude -360..360, latitude -90..90, integer map
// coordinates -1,000,000,000..1,000,000,000) and singular points give the
// sentinels 1e9 or -1e9.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"
#include "mapfile/foundation/rect.h"

namespace layerio {

// ===== Records ===============================================================

// The datum record: ellipsoid and the shift of the datum's centre onto the
// reference datum. Ellipsoid 29 means no datum shift.
struct PXDatum {
  uint8_t ellipsoid;
  uint8_t reserved1[7];
  double dx, dy, dz;        // metres
  double rx, ry, rz;        // arc-seconds
  double scale;             // parts per million
  double primeMeridian;     // degrees east of Greenwich
  uint16_t number;          // table number it was taken from; 0 custom
  uint8_t reserved2[6];
};
static_assert(sizeof(PXDatum) == 80);
static_assert(offsetof(PXDatum, dx) == 8 && offsetof(PXDatum, dy) == 16 &&
              offsetof(PXDatum, dz) == 24 && offsetof(PXDatum, rx) == 32 &&
              offsetof(PXDatum, ry) == 40 && offsetof(PXDatum, rz) == 48 &&
              offsetof(PXDatum, scale) == 56 && offsetof(PXDatum, primeMeridian) == 64 &&
              offsetof(PXDatum, number) == 72);

// The head of a non-earth system's parameter block, in the place of the datum.
struct NonEarthHead {
  uint16_t one;        // always 1
  uint8_t quadrant;    // quadrant code of the axes, 1..4
  uint8_t reserved1;
  uint16_t unit;       // unit code of the coordinates
  uint8_t quadrant2;   // second quadrant code; 4 marks a layout system
  uint8_t reserved2[73];
};
static_assert(sizeof(NonEarthHead) == 80);
static_assert(offsetof(NonEarthHead, quadrant) == 2 && offsetof(NonEarthHead, unit) == 4 &&
              offsetof(NonEarthHead, quadrant2) == 6);

inline constexpr uint32_t kParamsAffine = 1;  // CoordSysParams::flags bit 0

// The 248-byte parameter block. Offsets in the comments are those of the
// public record (block offset + 8).
struct CoordSysParams {
  union {
    PXDatum datum;          // 8: earth systems (projection 1 and up)
    NonEarthHead nonEarth;  // 8: projection 0
  };
  uint16_t projectedUnit;   // 88: projection 2 and up
  uint8_t lonLatQuadrant;   // 90: projection 1 (default 2)
  uint8_t reserved1[5];
  double params[6];         // 96: projection parameters in clause order
  double affineInverse[6];  // 144: derived
  double affine[6];         // 192: A, B, C, D, E, F
  uint32_t flags;           // 240: kParamsAffine
  uint16_t affineUnit;      // 244
  uint16_t word246;         // 246: "supportmz" extension word
  uint8_t reserved2[8];     // 248 (the u16 at 250 is ignored by matching)
};
static_assert(sizeof(CoordSysParams) == 248);
static_assert(offsetof(CoordSysParams, projectedUnit) == 80 &&
              offsetof(CoordSysParams, lonLatQuadrant) == 82 &&
              offsetof(CoordSysParams, params) == 88 &&
              offsetof(CoordSysParams, affineInverse) == 136 &&
              offsetof(CoordSysParams, affine) == 184 && offsetof(CoordSysParams, flags) == 232 &&
              offsetof(CoordSysParams, affineUnit) == 236 &&
              offsetof(CoordSysParams, word246) == 238 &&
              offsetof(CoordSysParams, reserved2) == 240);

inline constexpr uint16_t kNoCallerCoordSys = 65535;

// The public record that crosses the exported interface.
struct PXCoordSys {
  uint16_t projection;  // 0..31; 65535 in a slot without a caller system
  uint8_t reserved[6];
  CoordSysParams params;
  double bounds[4];     // x1, y1, x2, y2, normalised
};
static_assert(sizeof(PXCoordSys) == 288);
static_assert(offsetof(PXCoordSys, params) == 8 && offsetof(PXCoordSys, bounds) == 256);

struct EllipsoidParams {
  double a;   // semi-major axis, metres
  double e2;  // (2 - f) f
  double f;   // flattening; 0 for a sphere
};

// The integer extent of a window mapping or of a transform's integer mapping.
struct IntExtent {
  int32_t originX, originY, width, height, xFactor, yFactor;
};

struct CoordSys;

// The five routine references of a projection. Point routines take n points
// and may convert in place; they return 0.
using ProjScaleFn = double (*)(const CoordSys* cs, const DPoint* lonLat);
using ProjPointsFn = int (*)(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
using ProjRectFn = void (*)(const DRect* in, DRect* out, const CoordSys* cs);

inline constexpr uint32_t kCsWindow = 1;          // window mapping set
inline constexpr uint32_t kCsInternalAffine = 2;  // internal affine set
inline constexpr uint32_t kCsNoDatum = 4;         // projection 0 or ellipsoid 29

inline constexpr int kProjConstantCount = 40;

// The in-memory coordinate system. Built by CoordSysInit, completed by one of
// CoordSysSetBounds, CoordSysSetScale, CoordSysSetWindow or
// CoordSysSetInternalAffine with a unit window.
struct CoordSys {
  int16_t projection;
  uint8_t reserved1[6];
  CoordSysParams params;
  double k[kProjConstantCount];  // constants of the projection's init
  EllipsoidParams ellipsoid;
  double scaleX, scaleY, offsetX, offsetY;  // integer scale, axis signs included
  double centralMeridian, probeOffset;      // c and d, set by the init routine
  double probeX0, probeY0;                  // forward x of (c, 0), y of (c + d, 0)
  double windowX, windowY, windowW, windowH;
  double internalAffine[6];
  double internalAffineInverse[6];
  IntExtent extent;
  ProjScaleFn scaleFactor;
  ProjPointsFn inversePoints;
  ProjPointsFn forwardPoints;
  ProjRectFn inverseRect;
  ProjRectFn forwardRect;
  uint32_t flags;  // kCsWindow, kCsInternalAffine, kCsNoDatum
  uint8_t reserved2[4];
};
static_assert(offsetof(CoordSys, params) == 8);
static_assert(sizeof(CoordSys) % 8 == 0);

struct CoordXform;

// A converter of a transform: integer input when intIn is given, else double
// input; integer output (rounded) when intOut is given, else doubles.
using XformPointsFn = void (*)(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                               const CoordXform* xf, int n);
using XformRectFn = void (*)(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                             const CoordXform* xf);

inline constexpr uint32_t kXfIdentical = 1;          // the two records are identical
inline constexpr uint32_t kXfDatumIgnored = 2;
inline constexpr uint32_t kXfMatchIgnoringAffine = 4;
inline constexpr uint32_t kXfMatch = 8;
inline constexpr uint32_t kXfMatchInternalAffine = 16;
inline constexpr uint32_t kXfRectCompatible = 32;

// A transform between two systems, built once by CoordXformInit and read-only
// afterwards.
struct CoordXform {
  CoordSys a, b;
  IntExtent mapping;  // B's integer origin and size for the linear converters
  XformPointsFn pointsForward, pointsForwardAlways;
  XformPointsFn pointsBackward, pointsBackwardAlways;
  XformRectFn rectForward, rectForwardAlways;
  XformRectFn rectBackward, rectBackwardAlways;
  uint32_t flags;
  uint32_t swapped;  // the pair was exchanged to put the window system first
};

// ===== Record operations (records.cpp) =======================================

uint16_t CoordSysProjection(const PXCoordSys* record);
void CoordSysParamsCopy(const PXCoordSys* record, CoordSysParams* out);
void CoordSysParamsClear(CoordSysParams* block);
void CoordSysParamsDefault(CoordSysParams* block);
bool ProjectionNumberValid(int n);
int ProjectionFamily(int n);
int CoordSysRecordUnits(const PXCoordSys* record);
int CoordSysUnits(const CoordSys* cs);
int CoordSysOrientation(const CoordSys* cs);
int CoordSysSecondOrientation(const CoordSys* cs);
bool CoordSysIsLayout(const CoordSys* cs);
uint16_t CoordSysRecordWord246(const PXCoordSys* record);
void CoordSysGetScale(const CoordSys* cs, int16_t* projection, CoordSysParams* block,
                      double* scaleX, double* scaleY, double* offsetX, double* offsetY);
bool CoordSysEqual(const CoordSys* a, const CoordSys* b);
bool CoordSysMatch(const CoordSys* a, const CoordSys* b, bool ignoreDatum);
bool CoordSysMatchIgnoringAffine(const CoordSys* a, const CoordSys* b, bool ignoreDatum);
bool CoordSysMatchWithInternalAffine(const CoordSys* a, const CoordSys* b, bool ignoreDatum);
bool CoordSysRectCompatible(const CoordSys* a, const CoordSys* b, bool ignoreDatum, bool force);
void PointSanitize(DPoint* p);
void RectSanitize(DRect* r);
// Inverse of the six coefficients at affine[0..5] into inverse[0..5]; false
// when A E - D B is exactly 0.
bool AffineTransformInvert(const double affine[6], double inverse[6]);
void ProjectionDefaultBounds(int projection, const CoordSysParams* block, DRect* out);
void CoordSysBoundsInUnits(const CoordSys* cs, DRect* out, int unit);
// {unit in, decimals out, format code out}
struct DisplaySpec {
  uint16_t unit, decimals, format;
};
void CoordSysDisplayPrecision(const CoordSys* cs, const IPoint* centre, DisplaySpec* coordinates,
                              DisplaySpec* distances, DisplaySpec* areas);
// Sign of an axis under a quadrant code: +1 for x under 1 and 4, for y under
// 1 and 2; -1 otherwise.
int QuadrantSignX(int code);
int QuadrantSignY(int code);

// ===== Clause text (clause.cpp) ==============================================

// Reads from the running tokenizer, positioned on the word after "CoordSys".
// bounds may be null (not wanted).
bool CoordSysClauseParse(int16_t* projection, CoordSysParams* block, DRect* bounds);
bool CoordSysParseText(CoordSys* out, const char* text, bool wantBounds);
bool CoordSysWriteClause(const CoordSys* cs, char* text, size_t size, bool withBounds);

// ===== Set-up and dispatch (setup.cpp, dispatch.cpp) =========================

double ScaleClampMagnitude(double value);
void CoordSysInit(CoordSys* cs, int projection, const CoordSysParams* block);
void CoordSysSelectProjection(CoordSys* cs);
void CoordSysSetBounds(CoordSys* cs, double x1, double y1, double x2, double y2);
void CoordSysSetScale(CoordSys* cs, double scaleX, double scaleY, double offsetX, double offsetY);
void CoordSysInitWithScale(CoordSys* cs, int projection, const CoordSysParams* block,
                           double scaleX, double scaleY, double offsetX, double offsetY);
void CoordSysInitWithBounds(CoordSys* cs, int projection, const CoordSysParams* block,
                            const DRect* bounds);
void CoordSysSetIntExtent(CoordSys* cs, const IRect* r);
void CoordSysSetWindow(CoordSys* cs, const IRect* intRect, const DRect* window);
// affine12: A-F then their inverse.
void CoordSysSetInternalAffine(CoordSys* cs, const double affine12[12], bool unitWindow);
void CoordSysDerive(CoordSys* out, const CoordSys* source, const DRect* rect);
double CoordSysWindowAspect(const CoordSys* cs);
void CoordXformInit(CoordXform* xf, const CoordSys* source, const CoordSys* destination);

// ===== Conversion chains (chains.cpp) ========================================

void CoordUnscalePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void CoordUnscaleRect(const DRect* in, DRect* out, const CoordSys* cs);
void CoordScalePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void CoordScaleRect(const DRect* in, DRect* out, const CoordSys* cs);
void InternalAffineForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void InternalAffineForwardRect(const DRect* in, DRect* out, const CoordSys* cs);
void InternalAffineInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void InternalAffineInverseRect(const DRect* in, DRect* out, const CoordSys* cs);
void AffineForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void AffineForwardRect(const DRect* in, DRect* out, const CoordSys* cs);
void AffineInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void AffineInverseRect(const DRect* in, DRect* out, const CoordSys* cs);
void ProjForwardPoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void ProjForwardRect(const DRect* in, DRect* out, const CoordSys* cs);
void ProjInversePoints(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void ProjInverseRect(const DRect* in, DRect* out, const CoordSys* cs);
// From longitude/latitude on the given datum to the system's datum.
void DatumShiftToCoordSys(const DPoint* in, DPoint* out, const PXDatum* datum, const CoordSys* cs,
                          int n);
void DatumShiftRectToCoordSys(const DRect* in, DRect* out, const PXDatum* datum,
                              const CoordSys* cs);

void CoordIntToPlane(const IPoint* in, DPoint* out, const CoordSys* cs, int n);
void CoordIntRectUnscale(const IRect* in, DRect* out, const CoordSys* cs);
void CoordIntToUnits(const IPoint* in, DPoint* out, const CoordSys* cs, int n);
void CoordIntRectToUnits(const IRect* in, DRect* out, const CoordSys* cs);
void CoordUnitsToInt(const DPoint* in, IPoint* out, const CoordSys* cs, int n);
void CoordUnitsRectToInt(const DRect* in, IRect* out, const CoordSys* cs);
void CoordScalePointsToInt(const DPoint* in, IPoint* out, const CoordSys* cs, int n);
void LonLatToUnits(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void LonLatRectToUnits(const DRect* in, DRect* out, const CoordSys* cs);
void UnitsToLonLat(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void UnitsRectToLonLat(const DRect* in, DRect* out, const CoordSys* cs);
void LonLatToUnitsOnDatum(const DPoint* in, DPoint* out, const PXDatum* datum,
                          const CoordSys* cs, int n);
void LonLatRectToUnitsOnDatum(const DRect* in, DRect* out, const PXDatum* datum,
                              const CoordSys* cs);
void LonLatToInt(const DPoint* in, IPoint* out, const PXDatum* datum, const CoordSys* cs, int n);
void LonLatRectToInt(const DRect* in, IRect* out, const PXDatum* datum, const CoordSys* cs);
void PlaneToLonLat(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
void IntToLonLatNoDatum(const IPoint* in, DPoint* out, const CoordSys* cs, int n);
void IntToLonLat(const IPoint* in, DPoint* out, PXDatum* datum, const CoordSys* cs, int n);
void IntRectToLonLat(const IRect* in, DRect* out, PXDatum* datum, const CoordSys* cs);
void UnitsToLonLatWithDatum(const DPoint* in, DPoint* out, PXDatum* datum, const CoordSys* cs,
                            int n);
void UnitsRectToLonLatWithDatum(const DRect* in, DRect* out, PXDatum* datum, const CoordSys* cs);
void RectWithDatumRecord(const DRect* in, DRect* out, PXDatum* datum, const CoordSys* cs);
// The datum record a system's longitude/latitude values are on (a cleared
// record with ellipsoid 29 for a system without datum).
void CoordSysDatumRecord(const CoordSys* cs, PXDatum* out);

// Installs the chains as the foundation's unit services (idempotent).
void CoordSysInstallUnitServices();

// ===== Transform converters (converters.cpp) =================================

void XformGeneralPointsAB(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                          const CoordXform* xf, int n);
void XformGeneralPointsBA(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                          const CoordXform* xf, int n);
void XformLinearPointsAB(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform* xf, int n);
void XformLinearPointsBA(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform* xf, int n);
void XformIdentityPoints(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform* xf, int n);
void XformGeneralRectAB(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                        const CoordXform* xf);
void XformGeneralRectBA(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                        const CoordXform* xf);
void XformLinearRectAB(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform* xf);
void XformLinearRectBA(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform* xf);
void XformIdentityRect(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform* xf);
void XformRectThroughPoints(const DRect* in, XformPointsFn points, XformRectFn rect,
                            const CoordXform* xf, DRect* out);
void CoordXformRectForward(const DRect* in, IRect* out, const CoordXform* xf);
void CoordXformRectBackward(const IRect* in, DRect* out, const CoordXform* xf);
void CoordXformRectBackClamped(const IRect* in, IRect* out, const CoordXform* xf);
bool CoordXformIsRectCompatible(const CoordXform* xf);

// ===== Ellipsoids, datums, shifts (datum.cpp, datum_tables.cpp) ==============

inline constexpr int kEllipsoidCount = 54;
inline constexpr int kEllipsoidNone = 29;  // as a datum's ellipsoid: no shift

bool EllipsoidNumberValid(int n);
void EllipsoidGet(int n, EllipsoidParams* out);
bool DatumNumberValid(int n);
void DatumRecordClear(PXDatum* record);
void DatumRecordGet(int n, PXDatum* out);
bool DatumRecordEqual(const PXDatum* a, const PXDatum* b);
bool DatumRecordMatches(int n, const PXDatum* record);
bool DatumNumberFind(const PXDatum* record, int* number);
void DatumShiftPoints(const DPoint* in, const PXDatum* source, const EllipsoidParams* sourceEll,
                      DPoint* out, const PXDatum* destination,
                      const EllipsoidParams* destinationEll, int n);
void DatumShiftRect(const DRect* in, const PXDatum* source, const EllipsoidParams* sourceEll,
                    DRect* out, const PXDatum* destination, const EllipsoidParams* destinationEll);
// The process-wide datum-shift method flag (initially 1: seven-parameter
// shift; 0: abridged).
uint16_t DatumShiftMethod();
void SetDatumShiftMethod(uint16_t method);

// ===== Distances (distance.cpp) ==============================================

inline constexpr int kDistanceHaversine = 0;
inline constexpr int kDistancePlanar = 1;
inline constexpr int kDistanceFlat = 2;

double PlanarDistance(const DPoint* p, const DPoint* q);
double SphericalAngle(const DPoint* p, const DPoint* q);  // radians in and out
double SphericalDistanceDegrees(const DPoint* p, const DPoint* q, int mode, int approximate,
                                int* formula);
double CoordSysDistance(const DPoint* p, const DPoint* q, const CoordSys* cs, int resultUnit,
                        int pointUnit, int mode, int* formula, int approximate);
double CoordIntDistance(const IPoint* p, const IPoint* q, const CoordSys* cs, int resultUnit,
                        int mode, int* formula, int approximate);

}  // namespace layerio
