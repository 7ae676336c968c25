// Lambert conformal conic (3) and its Belgian variant (19).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void LambertConicInit(CoordSys*) {}
double LambertConicScale(const CoordSys*, const DPoint*) { return 1.0; }
int LambertConicInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int LambertConicForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kLambertConicRow;
const ProjectionRow kLambertConicRow = {LambertConicInit, LambertConicScale, LambertConicInverse, LambertConicForward, RectInverseConic, RectForwardConic};

}  // namespace layerio
