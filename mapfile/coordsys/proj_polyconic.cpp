#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

void PolyconicInit(CoordSys*) {}
int PolyconicInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int PolyconicForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kPolyconicRow = {PolyconicInit,          ProjUnitScale,        PolyconicInverse,
                                     PolyconicForward,       RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
