// Lambert azimuthal equal-area (4, 29).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void AzEqualAreaInit(CoordSys*) {}
double AzEqualAreaScale(const CoordSys*, const DPoint*) { return 1.0; }
int AzEqualAreaInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int AzEqualAreaForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kAzEqualAreaRow;
const ProjectionRow kAzEqualAreaRow = {AzEqualAreaInit, AzEqualAreaScale, AzEqualAreaInverse, AzEqualAreaForward, RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
