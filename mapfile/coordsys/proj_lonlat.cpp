// Projection 1, longitude/latitude, and the default row of every projection
// number without routines of its own. Forward and inverse only clamp; the one
// constant kept is the x stretch factor of a window onto the system, the
// cosine of its reference latitude.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

// The stretch factor stays away from 0: beyond 80 degrees a window would
// grow without bound in longitude.
constexpr double kReferenceLatitudeLimit = 80.0;


}  // namespace

void LonLatInit(CoordSys* cs) {
  double lat = ProjClamp(ProjParam(cs, 1), -kReferenceLatitudeLimit, kReferenceLatitudeLimit);
  cs->k[0] = std::cos(lat * kDegToRad);
  cs->centralMeridian = 0;
  cs->probeOffset = 0;
}

int LonLatClamp(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) {
    double x = ProjClamp(in[i].x, -360.0, 360.0), y = ProjClamp(in[i].y, -90.0, 90.0);
    out[i].x = x;
    out[i].y = y;
  }
  return 0;
}

extern const ProjectionRow kProjRowLonLat;
const ProjectionRow kProjRowLonLat = {LonLatInit,  SecantScale,        LonLatClamp,
                                      LonLatClamp, RectInverseCorners, RectForwardCorners};

}  // namespace layerio
