// Robinson (projection 12): a compromise world map defined by a table rather
// than a formula. Parallels are straight; a parallel's length and its
// distance from the equator are read from Robinson's published table by
// linear interpolation between the 5-degree rows. Sphere of radius a; one
// parameter, the origin longitude.
#include <cmath>

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

// Rows 0..18 are latitudes 0, 5, ..., 90 degrees; row 19 repeats row 18 so
// that latitude 90 (index 18, fraction 0) reads a row past the last.
const double RobinsonTable[kRobinsonRows][2] = {
    {1.0000, 0.0000}, {0.9986, 0.0620}, {0.9954, 0.1240}, {0.9900, 0.1860}, {0.9822, 0.2480},
    {0.9730, 0.3100}, {0.9600, 0.3720}, {0.9427, 0.4340}, {0.9216, 0.4958}, {0.8962, 0.5571},
    {0.8679, 0.6176}, {0.8350, 0.6769}, {0.7986, 0.7346}, {0.7597, 0.7903}, {0.7186, 0.8435},
    {0.6732, 0.8936}, {0.6213, 0.9394}, {0.5722, 0.9761}, {0.5322, 1.0000}, {0.5322, 1.0000},
};

namespace {

constexpr double kXFactor = 0.8487;
constexpr double kYFactor = 1.3523;
constexpr int kLastRow = 18;


// X and Y of the table at |latitude| in degrees.
void Interpolate(double absLatitude, double* x, double* y) {
  double q = absLatitude / 5.0;
  // Written so that a latitude that is not a number reads row 0 instead of
  // converting NaN to an integer.
  int i = q >= kLastRow ? kLastRow : q > 0 ? static_cast<int>(q) : 0;
  double u = q - i;
  const double* r0 = RobinsonTable[i];
  const double* r1 = RobinsonTable[i + 1];
  *x = r0[0] + (r1[0] - r0[0]) * u;
  *y = r0[1] + (r1[1] - r0[1]) * u;
}

// k: lambda0, 0.8487 a, 1.3523 a.
enum { kLambda0, kXa, kYa };

}  // namespace

void RobinsonInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  cs->k[kXa] = kXFactor * a;
  cs->k[kYa] = kYFactor * a;
}

int RobinsonForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    double lambda = ProjClamp(in[i].x, -360.0, 360.0) * kDegToRad;
    double latitude = ProjClamp(in[i].y, -90.0, 90.0);
    double x, y;
    Interpolate(std::fabs(latitude), &x, &y);
    DPoint p{(lambda - cs->k[kLambda0]) * cs->k[kXa] * x, cs->k[kYa] * y};
    if (latitude < 0) p.y = -p.y;
    ProjMetresToUnits(&p, cs);
    out[i] = p;
  }
  return 0;
}

int RobinsonInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double v = std::fabs(m.y) / cs->k[kYa];
    double latitude, x;
    if (v >= 1.0) {
      latitude = 90.0;
      x = RobinsonTable[kLastRow][0];
    } else {
      int row = 0;
      while (row < kLastRow - 1 && !(RobinsonTable[row + 1][1] > v)) ++row;
      const double* r0 = RobinsonTable[row];
      const double* r1 = RobinsonTable[row + 1];
      double u = (v - r0[1]) / (r1[1] - r0[1]);
      latitude = (row + u) * 5.0;
      x = r0[0] + (r1[0] - r0[0]) * u;
    }
    double longitude = (m.x / (x * cs->k[kXa]) + cs->k[kLambda0]) * kRadToDeg;
    out[i].x = ProjClamp(longitude, -360.0, 360.0);
    out[i].y = m.y < 0 ? -latitude : latitude;
  }
  return 0;
}

double RobinsonScale(const CoordSys*, const DPoint* lonLat) {
  double latitude = std::fabs(ProjClamp(lonLat->y, -90.0, 90.0));
  // cos(90 degrees) in doubles is 6e-17, not 0: the pole is tested by value.
  if (latitude == 90.0) return kSingular;
  double c = std::cos(latitude * kDegToRad);
  if (c == 0.0) return kSingular;
  double x, y;
  Interpolate(latitude, &x, &y);
  return x * kXFactor / c;
}

const ProjectionRow kRobinsonRow = {RobinsonInit,    RobinsonScale,      RobinsonInverse,
                                    RobinsonForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
