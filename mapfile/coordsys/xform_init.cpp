// Setting up a transform between two coordinate systems: which steps the two
// share, and which converters move coordinates between them.
#include <cstring>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

void CoordXformInit(CoordXform* xf, const CoordSys* source, const CoordSys* destination) {
  std::memset(xf, 0, sizeof *xf);
  xf->a = *source;
  xf->b = *destination;
}

}  // namespace layerio
