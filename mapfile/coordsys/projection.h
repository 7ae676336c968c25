// What every projection routine keeps to, and the steps they share.
//
// A projection is one init routine and five routines bound into a CoordSys by
// the dispatcher (ProjectionRowFor). Forward routines map longitude/latitude
// in degrees to the system's projected units; inverse routines map back.
// Point routines take n points, may convert in place (each reads a point
// before writing its output), return 0 and return at once for n = 0. Init
// fills the constants area cs->k and stores the central meridian c (the
// clamped origin longitude, degrees) and the probe offset d; the dispatcher
// then keeps the probe values X0 and Y0 that the rectangle routines read.
// Nothing here reports an error: inputs are clamped and singular points give
// the sentinels 1e9 or -1e9.
#pragma once

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

using ProjInitFn = void (*)(CoordSys* cs);

struct ProjectionRow {
  ProjInitFn init;  // may be null
  ProjScaleFn scale;
  ProjPointsFn inverse;
  ProjPointsFn forward;
  ProjRectFn inverseRect;
  ProjRectFn forwardRect;
};

// The row of a projection number; the longitude/latitude row for any number
// without one of its own.
const ProjectionRow* ProjectionRowFor(int number);

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kDegToRad = kPi / 180.0;
inline constexpr double kRadToDeg = 180.0 / kPi;
inline constexpr double kSingular = 1e9;

inline double ProjClamp(double v, double low, double high) {
  return v < low ? low : v > high ? high : v;
}

// Forward first step: longitude clamped to -360..360, latitude to -90..90,
// both to radians.
void ProjDegreesToRadians(const DPoint* in, DPoint* out);
// Inverse last step: to degrees, then the same clamps.
void ProjRadiansToDegrees(const DPoint* in, DPoint* out);
// Forward last step: metres to the system's projected unit, in place.
void ProjMetresToUnits(DPoint* p, const CoordSys* cs);
// Inverse first step: the system's projected unit to metres.
void ProjUnitsToMetres(const DPoint* in, DPoint* out, const CoordSys* cs);
// The k-th projection parameter (1-based) of the system's block.
double ProjParam(const CoordSys* cs, int k);
// The first parameter clamped to -360..360, stored as the central meridian;
// returns it in radians.
double ProjSetCentralMeridian(CoordSys* cs, double longitudeDegrees, double probeOffset);

// Conformal-latitude inversion series: C1..C4 from e2 into c[0..3]; a
// geodetic latitude from a conformal one (radians).
void ConformalSeriesInit(double e2, double c[4]);
double ConformalToGeodetic(double chi, const double c[4]);

// Meridian distance M(phi) = a (A0 phi + sin 2phi ((H3 cos 2phi + H2) cos 2phi + H1)).
// m[0..6] = A0, H1, H2, H3, K1, K2, K3.
void MeridianSeriesInit(double e2, double m[7]);
double MeridianDistance(const double m[7], double a, double phi);
// Footpoint series: J1..J4 into j[0..3]; the latitude of a rectifying
// latitude mu.
void FootpointSeriesInit(double e2, double j[4]);
double FootpointLatitude(double mu, const double j[4]);
// Authalic series: G1..G3 into g[0..2]; the latitude of an authalic latitude.
void AuthalicSeriesInit(double e2, double g[3]);
double AuthalicToGeodetic(double beta, const double g[3]);
// q(phi) of the equal-area projections (2 sin phi on the sphere) and
// m(phi) = cos phi / sqrt(1 - e2 sin^2 phi).
double AuthalicQ(double e2, double phi);
double ParallelFactor(double e2, double phi);

// The polar coordinates of a conic projection's plane point (metres, false
// origin removed) around the apex, which lies rho0 above the origin: the
// radius, negative for a southern cone, and the angle (0 at the apex itself).
void ConicPolar(double x, double y, double rho0, bool southern, double* rho, double* theta);

// Scale factor of 1.0 everywhere.
double ProjUnitScale(const CoordSys* cs, const DPoint* lonLat);
// 1 / cos(latitude), 1e9 where the cosine is exactly 0.
double SecantScale(const CoordSys* cs, const DPoint* lonLat);

// Corner-pair rectangles: the two corners through the point routine, then
// normalised.
void RectForwardCorners(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseCorners(const DRect* in, DRect* out, const CoordSys* cs);

// The shared rectangle routines of the other projection families.
void RectForwardEquator(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseEquator(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardConic(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseConic(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardAzimuthal(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseAzimuthal(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardTransverse(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseTransverse(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardFourCorners(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseFourCorners(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardMeridian(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseMeridian(const DRect* in, DRect* out, const CoordSys* cs);
void RectForwardOblique(const DRect* in, DRect* out, const CoordSys* cs);
void RectInverseOblique(const DRect* in, DRect* out, const CoordSys* cs);

}  // namespace layerio
