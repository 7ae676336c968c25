#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

void KrugerInit(CoordSys*) {}
void KrugerForwardPoint(const CoordSys*, double, double, double* x, double* y) { *x = *y = 0; }
void KrugerInversePoint(const CoordSys*, double, double, double* lambda, double* phi) {
  *lambda = *phi = 0;
}

}  // namespace layerio
