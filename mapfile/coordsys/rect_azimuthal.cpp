// Sampled rectangles of the azimuthal projections.
#include "mapfile/coordsys/projection.h"

namespace layerio {

void RectForwardAzimuthal(const DRect* in, DRect* out, const CoordSys* cs) { RectForwardCorners(in, out, cs); }
void RectInverseAzimuthal(const DRect* in, DRect* out, const CoordSys* cs) { RectInverseCorners(in, out, cs); }

}  // namespace layerio
