// The pseudo-cylindrical world projections: Robinson (12), Mollweide (13),
// Eckert IV (14), Eckert VI (15) and sinusoidal (16), all on the sphere of
// the datum's semi-major axis with the origin longitude as their one
// parameter, and the rectangle routines that probe the equator, where these
// maps are widest.
//
// The Newton iterations of Mollweide and Eckert IV/VI stop after a bounded
// number of steps and keep the last finite iterate, so no input gives NaN.
#pragma once

#include "mapfile/coordsys/projection.h"

namespace layerio {

// Robinson's table: parallel length X and distance from the equator Y for
// latitudes 0, 5, ..., 90 degrees, then a copy of the last row so that the
// interpolation at 90 degrees reads one row past it.
inline constexpr int kRobinsonRows = 20;
extern const double RobinsonTable[kRobinsonRows][2];

void RobinsonInit(CoordSys* cs);
double RobinsonScale(const CoordSys* cs, const DPoint* lonLat);
int RobinsonInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int RobinsonForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void MollweideInit(CoordSys* cs);
double MollweideScale(const CoordSys* cs, const DPoint* lonLat);
int MollweideInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int MollweideForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void EckertIVInit(CoordSys* cs);
double EckertIVScale(const CoordSys* cs, const DPoint* lonLat);
int EckertIVInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int EckertIVForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void EckertVIInit(CoordSys* cs);
double EckertVIScale(const CoordSys* cs, const DPoint* lonLat);
int EckertVIInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int EckertVIForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void SinusoidalInit(CoordSys* cs);
int SinusoidalInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int SinusoidalForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

extern const ProjectionRow kRobinsonRow;
extern const ProjectionRow kMollweideRow;
extern const ProjectionRow kEckertIVRow;
extern const ProjectionRow kEckertVIRow;
extern const ProjectionRow kSinusoidalRow;

}  // namespace layerio
