// placeholder

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void RobinsonInit(CoordSys*) {}
double RobinsonScale(const CoordSys*, const DPoint*) { return 1.0; }
int RobinsonInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int RobinsonForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kRobinsonRow = {RobinsonInit, RobinsonScale, RobinsonInverse, RobinsonForward, RectInverseEquator,
                                RectForwardEquator};

}  // namespace layerio
namespace layerio {
const double RobinsonTable[kRobinsonRows][2] = {};
}  // namespace layerio
