#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

void TmInit(CoordSys*) {}
double TmScale(const CoordSys*, const DPoint*) { return 1.0; }
int TmInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int TmForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kTransverseMercatorRow = {TmInit, TmScale, TmInverse, TmForward,
                                              RectInverseTransverse, RectForwardTransverse};

}  // namespace layerio
