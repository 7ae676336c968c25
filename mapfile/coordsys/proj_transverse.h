// The transverse family: transverse Mercator (8) with its local grid variants
// (21, 22, 23) and the Krueger-series variant (24), Cassini-Soldner (30) and
// the American polyconic (27), with the rectangles they share.
//
// Projections 8 and 21-24 share one row; the routines branch on the number.
// The local grids follow the transverse Mercator with a two-dimensional
// polynomial into a local grid inside a fixed window (GridPolyTable,
// GridPolyEval); points outside the window are clamped onto its edge first.
#pragma once

#include "mapfile/coordsys/projection.h"

namespace layerio {

extern const ProjectionRow kProjRowTransverseMercator;  // 8, 21, 22, 23, 24
extern const ProjectionRow kProjRowCassini;             // 30
extern const ProjectionRow kProjRowPolyconic;           // 27

void TmInit(CoordSys* cs);
double TmScale(const CoordSys* cs, const DPoint* lonLat);
int TmInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int TmForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

// Krueger n-series transverse Mercator (projection 24): the constants after
// the shared ones of TmInit, and one point each way in metres/radians
// without the unit, false-origin and degree steps.
void KrugerInit(CoordSys* cs);
void KrugerForwardPoint(const CoordSys* cs, double lambda, double phi, double* x, double* y);
void KrugerInversePoint(const CoordSys* cs, double x, double y, double* lambda, double* phi);

// A grid polynomial table: [0] the degree d; block A of (d+1)(d+2)/2
// coefficients; the origin oy; block B; the origin ox. Within a block the
// coefficient of s^i t^j sits in group j (ascending), position i (ascending).
// The table of projection 21, 22 or 23, forward or inverse; null for any
// other number.
const double* GridPolyTable(int projection, bool inverse);
// Number of doubles in a table of degree d.
int GridPolyTableSize(int degree);
// Block A gives the new y from s = y - oy, t = x - ox; block B the new x from
// s = x - ox, t = y - oy.
void GridPolyEval(const double* table, const DPoint* in, DPoint* out);

void CassiniInit(CoordSys* cs);
int CassiniInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int CassiniForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void PolyconicInit(CoordSys* cs);
int PolyconicInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int PolyconicForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

}  // namespace layerio
