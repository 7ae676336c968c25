// placeholder
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void EckertVIInit(CoordSys*) {}
double EckertVIScale(const CoordSys*, const DPoint*) { return 1.0; }
int EckertVIInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int EckertVIForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kEckertVIRow = {EckertVIInit, EckertVIScale, EckertVIInverse, EckertVIForward, RectInverseEquator,
                                RectForwardEquator};

}  // namespace layerio
