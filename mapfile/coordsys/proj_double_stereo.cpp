// Double stereographic (31).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void DoubleStereoInit(CoordSys*) {}
double DoubleStereoScale(const CoordSys*, const DPoint*) { return 1.0; }
int DoubleStereoInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int DoubleStereoForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kDoubleStereoRow;
const ProjectionRow kDoubleStereoRow = {DoubleStereoInit, DoubleStereoScale, DoubleStereoInverse, DoubleStereoForward, RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
