// placeholder
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void EckertIVInit(CoordSys*) {}
double EckertIVScale(const CoordSys*, const DPoint*) { return 1.0; }
int EckertIVInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int EckertIVForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kEckertIVRow = {EckertIVInit, EckertIVScale, EckertIVInverse, EckertIVForward, RectInverseEquator,
                                RectForwardEquator};

}  // namespace layerio
