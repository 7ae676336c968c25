// placeholder
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void SinusoidalInit(CoordSys*) {}
int SinusoidalInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int SinusoidalForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kSinusoidalRow = {SinusoidalInit, ProjUnitScale, SinusoidalInverse,
                                      SinusoidalForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
