// Sampled rectangles of the conic projections.
#include "mapfile/coordsys/projection.h"

namespace layerio {

void RectForwardConic(const DRect* in, DRect* out, const CoordSys* cs) { RectForwardCorners(in, out, cs); }
void RectInverseConic(const DRect* in, DRect* out, const CoordSys* cs) { RectInverseCorners(in, out, cs); }

}  // namespace layerio
