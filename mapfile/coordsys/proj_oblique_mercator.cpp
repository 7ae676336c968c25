// placeholder
#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

void ObliqueMercInit(CoordSys*) {}
double ObliqueMercScale(const CoordSys*, const DPoint*) { return 1.0; }
int ObliqueMercInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int ObliqueMercForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kObliqueMercRow = {ObliqueMercInit, ObliqueMercScale, ObliqueMercInverse,
                                       ObliqueMercForward, RectInverseFourCorners,
                                       RectForwardFourCorners};

}  // namespace layerio
