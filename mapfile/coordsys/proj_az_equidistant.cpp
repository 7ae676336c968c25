// Azimuthal equidistant (5, 28).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void AzEquidistantInit(CoordSys*) {}

int AzEquidistantInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int AzEquidistantForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kAzEquidistantRow;
const ProjectionRow kAzEquidistantRow = {AzEquidistantInit, ProjUnitScale, AzEquidistantInverse, AzEquidistantForward, RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
