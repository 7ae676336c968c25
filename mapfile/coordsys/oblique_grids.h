// Two grid projections with rectangle routines of their own: the Hotine
// oblique Mercator (7, ellipsoid, centre and azimuth of the central line,
// no offset of u to the centre) and the New Zealand Map Grid (18, a
// conformal complex polynomial confined to a window of 15 degrees around
// its origin), with the small complex arithmetic it uses; and the rectangle
// routines of the oblique conformal cylindrical projection 25.
#pragma once

#include "mapfile/coordsys/projection.h"

namespace layerio {

struct Complex {
  double re, im;
};

Complex ComplexMake(double re, double im);
Complex ComplexScale(Complex z, double s);
Complex ComplexAdd(Complex a, Complex b);
Complex ComplexMul(Complex a, Complex b);
// 0 + 0i when the divisor is exactly 0 + 0i.
Complex ComplexDiv(Complex a, Complex b);
double ComplexAbs(Complex z);

// The published coefficients of the New Zealand Map Grid.
struct NzmgCoefficientSet {
  double a[10];  // latitude series, A1..A10
  Complex b[6];  // forward polynomial, B1..B6
  Complex c[6];  // inverse polynomial, C1..C6
  double d[9];   // inverse latitude series, D1..D9
  double p[8];   // scale series, P0..P7
};
extern const NzmgCoefficientSet NzmgCoefficients;

void ObliqueMercInit(CoordSys* cs);
double ObliqueMercScale(const CoordSys* cs, const DPoint* lonLat);
int ObliqueMercInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int ObliqueMercForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

void NzmgInit(CoordSys* cs);
double NzmgScale(const CoordSys* cs, const DPoint* lonLat);
int NzmgInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n);
int NzmgForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n);

// The rectangle of projection 18's forward and inverse rectangles: the
// corners and, when x1 < meridian < x2, the points (meridian, y1) and
// (meridian, y2), through `points`; their bounding box.
void RectSampleMeridian(const DRect* in, DRect* out, const CoordSys* cs, double meridian,
                        ProjPointsFn points);

extern const ProjectionRow kObliqueMercRow;
extern const ProjectionRow kNzmgRow;

}  // namespace layerio
