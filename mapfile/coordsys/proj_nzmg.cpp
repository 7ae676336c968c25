// New Zealand Map Grid (projection 18): a conformal projection given as a
// complex polynomial in the isometric latitude and longitude differences
// from the origin, with published coefficients. The polynomials hold only
// near New Zealand, so every input is clamped into a window of 15 degrees
// around the origin (and its image in the projected plane). Parameters:
// origin longitude and latitude, false easting and northing.
#include <cmath>

#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

Complex ComplexMake(double re, double im) { return {re, im}; }

Complex ComplexScale(Complex z, double s) { return {z.re * s, z.im * s}; }

Complex ComplexAdd(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

Complex ComplexMul(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}

// Scaled so that neither part of the divisor is squared on its own, which
// would overflow or underflow long before the quotient does.
Complex ComplexDiv(Complex a, Complex b) {
  if (b.re == 0 && b.im == 0) return {0, 0};
  if (std::fabs(b.re) >= std::fabs(b.im)) {
    double q = b.im / b.re, s = b.re + q * b.im;
    return {(a.re + q * a.im) / s, (a.im - q * a.re) / s};
  }
  double q = b.re / b.im, s = b.im + q * b.re;
  return {(q * a.re + a.im) / s, (q * a.im - a.re) / s};
}

double ComplexAbs(Complex z) { return std::sqrt(z.re * z.re + z.im * z.im); }

// Published with the grid: A1..A10 turn 10^5 arc-seconds of latitude into
// isometric latitude, B1..B6 and C1..C6 are the forward and inverse
// polynomials, D1..D9 turn isometric latitude back; P0..P7 give the scale
// factor's latitude term.
const NzmgCoefficientSet NzmgCoefficients = {
    {0.6399175073, -0.1358797613, 0.063294409, -0.02526853, 0.0117879, -0.0055161, 0.0026906,
     -0.001333, 0.00067, -0.00034},
    {{0.7557853228, 0.0},
     {0.249204646, 0.003371507},
     {-0.001541739, 0.041058560},
     {-0.10162907, 0.01727609},
     {-0.26623489, -0.36249218},
     {-0.6870983, -1.1651967}},
    {{1.3231270439, 0.0},
     {-0.577245789, -0.007809598},
     {0.508307513, -0.112208952},
     {-0.15094762, 0.18200602},
     {1.01418179, 1.64497696},
     {1.9660549, 2.5127645}},
    {1.5627014243, 0.5185406398, -0.03333098, -0.1052906, -0.0368594, 0.007317, 0.01220, 0.00394,
     -0.0013},
    {1.3230946238, -0.8680281742, 0.6629999306, -0.14371346, 0.05551665, -0.00729966, 0.001708,
     -0.00021},
};

namespace {

constexpr double kSecondsScale = 0.036;  // degrees to 10^5 arc-seconds
constexpr double kWindow = 15.0;


// k: origin latitude (degrees), lambda0, the geographic window (degrees) and
// the projected window (projected units, false origin included).
enum { kPhi0, kLambda0, kGeoWindow, kProjWindow = kGeoWindow + 4 };

DRect Window(const CoordSys* cs, int at) {
  return {cs->k[at], cs->k[at + 1], cs->k[at + 2], cs->k[at + 3]};
}

// Sum of c[n-1] x^n for n = 1..count.
double RealSeries(const double* c, int count, double x) {
  double sum = 0;
  for (int n = count - 1; n >= 0; --n) sum = (sum + c[n]) * x;
  return sum;
}

// Sum of c[n-1] z^n for n = 1..6.
Complex ComplexSeries(const Complex* c, Complex z) {
  Complex sum{0, 0};
  for (int n = 5; n >= 0; --n) sum = ComplexMul(ComplexAdd(sum, c[n]), z);
  return sum;
}

// Sum of n B_n z^(n-1) for n = 1..6: the derivative of the forward polynomial.
Complex ForwardDerivative(Complex z) {
  const Complex* b = NzmgCoefficients.b;
  Complex sum{0, 0};
  for (int n = 6; n >= 1; --n) sum = ComplexAdd(ComplexMul(sum, z), ComplexScale(b[n - 1], n));
  return sum;
}

// zeta = delta psi + i delta lambda of a point in degrees, clamped into the
// window.
Complex Zeta(const CoordSys* cs, const DPoint* lonLat) {
  DPoint p = *lonLat;
  DRect window = Window(cs, kGeoWindow);
  DPointClamp(&p, &window);
  double dPhi = kSecondsScale * (p.y - cs->k[kPhi0]);
  return {RealSeries(NzmgCoefficients.a, 10, dPhi), p.x * kDegToRad - cs->k[kLambda0]};
}

int Forward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  double a = cs->ellipsoid.a;
  double falseEasting = ProjParam(cs, 3), falseNorthing = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    Complex z = ComplexSeries(NzmgCoefficients.b, Zeta(cs, &in[i]));
    DPoint p{a * z.im, a * z.re};
    ProjMetresToUnits(&p, cs);
    p.x += falseEasting;
    p.y += falseNorthing;
    out[i] = p;
  }
  return 0;
}

}  // namespace

void NzmgInit(CoordSys* cs) {
  double* k = cs->k;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  double c = cs->centralMeridian;
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0);
  k[kPhi0] = phi0;
  k[kGeoWindow] = ProjClamp(c - kWindow, -360.0, 360.0);
  k[kGeoWindow + 1] = ProjClamp(phi0 - kWindow, -90.0, 90.0);
  k[kGeoWindow + 2] = ProjClamp(c + kWindow, -360.0, 360.0);
  k[kGeoWindow + 3] = ProjClamp(phi0 + kWindow, -90.0, 90.0);
  // The projected window is the image of the geographic one under this
  // system's own forward rectangle (the central meridian bulges it).
  DRect geo = Window(cs, kGeoWindow), projected;
  RectSampleMeridian(&geo, &projected, cs, c, Forward);
  k[kProjWindow] = projected.x1;
  k[kProjWindow + 1] = projected.y1;
  k[kProjWindow + 2] = projected.x2;
  k[kProjWindow + 3] = projected.y2;
}

int NzmgForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  return Forward(in, out, cs, n);
}

int NzmgInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const Complex* b = NzmgCoefficients.b;
  double a = cs->ellipsoid.a;
  double falseEasting = ProjParam(cs, 3), falseNorthing = ProjParam(cs, 4);
  DRect window = Window(cs, kProjWindow);
  for (int i = 0; i < n; ++i) {
    DPoint p = in[i];
    DPointClamp(&p, &window);
    p.x -= falseEasting;
    p.y -= falseNorthing;
    DPoint m;
    ProjUnitsToMetres(&p, &m, cs);
    Complex z{m.y / a, m.x / a};
    Complex zeta0 = ComplexSeries(NzmgCoefficients.c, z);
    // One Newton step on the forward polynomial: (z + sum (n-1) B_n zeta0^n)
    // over sum n B_n zeta0^(n-1).
    Complex numerator = z, power = zeta0;
    for (int k = 2; k <= 6; ++k) {
      power = ComplexMul(power, zeta0);
      numerator = ComplexAdd(numerator, ComplexScale(ComplexMul(b[k - 1], power), k - 1));
    }
    Complex zeta = ComplexDiv(numerator, ForwardDerivative(zeta0));
    out[i].y = RealSeries(NzmgCoefficients.d, 9, zeta.re) / kSecondsScale + cs->k[kPhi0];
    out[i].x = (zeta.im + cs->k[kLambda0]) * kRadToDeg;
  }
  return 0;
}

double NzmgScale(const CoordSys* cs, const DPoint* lonLat) {
  double a = cs->ellipsoid.a;
  Complex zeta = Zeta(cs, lonLat);
  Complex s = ForwardDerivative(zeta);
  double p = NzmgCoefficients.p[0] + RealSeries(&NzmgCoefficients.p[1], 7, zeta.re);
  return ComplexAbs(ComplexScale(s, a)) * p / a;
}

const ProjectionRow kNzmgRow = {NzmgInit,    NzmgScale,           NzmgInverse,
                                NzmgForward, RectInverseMeridian, RectForwardMeridian};

}  // namespace layerio
