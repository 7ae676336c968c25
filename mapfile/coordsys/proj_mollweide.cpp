// placeholder
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void MollweideInit(CoordSys*) {}
double MollweideScale(const CoordSys*, const DPoint*) { return 1.0; }
int MollweideInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int MollweideForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kMollweideRow = {MollweideInit, MollweideScale, MollweideInverse, MollweideForward, RectInverseEquator,
                                RectForwardEquator};

}  // namespace layerio
