// Stereographic on the ellipsoid (20).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void StereoInit(CoordSys*) {}
double StereoScale(const CoordSys*, const DPoint*) { return 1.0; }
int StereoInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int StereoForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kStereoRow;
const ProjectionRow kStereoRow = {StereoInit, StereoScale, StereoInverse, StereoForward, RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
