#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

void CassiniInit(CoordSys*) {}
int CassiniInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int CassiniForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kCassiniRow = {CassiniInit,           ProjUnitScale,        CassiniInverse,
                                   CassiniForward,        RectInverseTransverse, RectForwardTransverse};

}  // namespace layerio
