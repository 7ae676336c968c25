#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

void RectForwardTransverse(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectInverseTransverse(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }

}  // namespace layerio
