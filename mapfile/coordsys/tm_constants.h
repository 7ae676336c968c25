// Where TmInit keeps its constants in CoordSys::k, shared by the transverse
// Mercator routines and the Krueger variant.
#pragma once

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

enum TmConstant {
  kTmEp2 = 0,      // e'^2 = e^2 / (1 - e^2)
  kTmLambda0 = 1,  // central meridian, radians
  kTmK0 = 2,       // scale factor on the central meridian
  kTmAA0 = 3,      // a A0, a H1, a H2, a H3 of the meridian distance
  kTmAH1 = 4,
  kTmAH2 = 5,
  kTmAH3 = 6,
  kTmM0 = 7,  // meridian distance of the origin latitude
  kTmJ1 = 8,  // J1..J4 of the footpoint series
  kTmJ2 = 9,
  kTmJ3 = 10,
  kTmJ4 = 11,
  kTmPolynomial = 12,     // 1 for the local grids
  kTmForwardWindow = 13,  // x1, y1, x2, y2
  kTmInverseWindow = 17,  // x1, y1, x2, y2
  kKrE = 21,              // Krueger: e, the rectifying radius A, h1..h4, d1..d4
  kKrA = 22,
  kKrH1 = 23,
  kKrD1 = 27,
  kTmConstantEnd = 31,
};
static_assert(kTmConstantEnd <= kProjConstantCount);

}  // namespace layerio
