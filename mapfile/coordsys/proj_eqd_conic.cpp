// Equidistant conic (6).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void EqdConicInit(CoordSys*) {}
double EqdConicScale(const CoordSys*, const DPoint*) { return 1.0; }
int EqdConicInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int EqdConicForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kEqdConicRow;
const ProjectionRow kEqdConicRow = {EqdConicInit, EqdConicScale, EqdConicInverse, EqdConicForward, RectInverseConic, RectForwardConic};

}  // namespace layerio
