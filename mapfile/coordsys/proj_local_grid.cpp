#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

const double* GridPolyTable(int, bool) { return nullptr; }
int GridPolyTableSize(int degree) { return 3 + (degree + 1) * (degree + 2); }
void GridPolyEval(const double*, const DPoint* in, DPoint* out) { *out = *in; }

}  // namespace layerio
