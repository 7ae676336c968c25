// Albers equal-area conic (9).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void AlbersInit(CoordSys*) {}
double AlbersScale(const CoordSys*, const DPoint*) { return 1.0; }
int AlbersInverse(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}
int AlbersForward(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[i];
  return 0;
}

extern const ProjectionRow kAlbersRow;
const ProjectionRow kAlbersRow = {AlbersInit, AlbersScale, AlbersInverse, AlbersForward, RectInverseConic, RectForwardConic};

}  // namespace layerio
