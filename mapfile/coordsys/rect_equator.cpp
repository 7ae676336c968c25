// placeholder
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

void RectForwardEquator(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }
void RectInverseEquator(const DRect* in, DRect* out, const CoordSys*) { *out = *in; }

}  // namespace layerio
