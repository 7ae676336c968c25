// placeholder
#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

Complex ComplexMake(double re, double im) { return {re, im}; }
Complex ComplexScale(Complex z, double) { return z; }
Complex ComplexAdd(Complex a, Complex) { return a; }
Complex ComplexMul(Complex a, Complex) { return a; }
Complex ComplexDiv(Complex a, Complex) { return a; }
double ComplexAbs(Complex) { return 0; }

const NzmgCoefficientSet NzmgCoefficients = {};

void NzmgInit(CoordSys*) {}
double NzmgScale(const CoordSys*, const DPoint*) { return 1.0; }
int NzmgInverse(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }
int NzmgForward(const DPoint*, DPoint*, const CoordSys*, int) { return 0; }

const ProjectionRow kNzmgRow = {NzmgInit, NzmgScale, NzmgInverse, NzmgForward,
                                RectInverseMeridian, RectForwardMeridian};

}  // namespace layerio
