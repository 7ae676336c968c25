// placeholder
#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

void RectForwardFourCorners(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectInverseFourCorners(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectForwardMeridian(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectInverseMeridian(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectForwardOblique(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectInverseOblique(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }

}  // namespace layerio
