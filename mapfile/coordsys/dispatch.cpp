// The projection dispatcher: one row of routines per projection number. A
// number whose family has no row yet takes the longitude/latitude row.
#include "mapfile/coordsys/projection.h"

namespace layerio {

// Rows of the cylindrical projections and of the non-earth plane.
extern const ProjectionRow kProjRowNonEarth;
extern const ProjectionRow kProjRowLonLat;
extern const ProjectionRow kProjRowCylEqualArea;
extern const ProjectionRow kProjRowMercator;
extern const ProjectionRow kProjRowMiller;
extern const ProjectionRow kProjRowGall;
extern const ProjectionRow kProjRowObliqueCylindrical;

// Rows of the conic and azimuthal projections.
extern const ProjectionRow kProjRowLambertConic;
extern const ProjectionRow kProjRowAzEqualArea;
extern const ProjectionRow kProjRowAzEquidistant;
extern const ProjectionRow kProjRowEqdConic;
extern const ProjectionRow kProjRowAlbers;
extern const ProjectionRow kProjRowStereographic;
extern const ProjectionRow kProjRowDoubleStereo;

// Rows of the pseudo-cylindrical projections, the oblique Mercator and the
// New Zealand grid.
extern const ProjectionRow kRobinsonRow;
extern const ProjectionRow kMollweideRow;
extern const ProjectionRow kEckertIVRow;
extern const ProjectionRow kEckertVIRow;
extern const ProjectionRow kSinusoidalRow;
extern const ProjectionRow kObliqueMercRow;
extern const ProjectionRow kNzmgRow;

// Rows of the transverse Mercator family, Cassini and polyconic.
extern const ProjectionRow kProjRowTransverseMercator;
extern const ProjectionRow kProjRowCassini;
extern const ProjectionRow kProjRowPolyconic;

const ProjectionRow* ProjectionRowFor(int number) {
  switch (number) {
    // Cylindrical projections and the non-earth plane.
    case 0: return &kProjRowNonEarth;
    case 1: return &kProjRowLonLat;
    case 2: return &kProjRowCylEqualArea;
    case 10: return &kProjRowMercator;
    case 26: return &kProjRowMercator;
    case 11: return &kProjRowMiller;
    case 17: return &kProjRowGall;
    case 25: return &kProjRowObliqueCylindrical;

    // Lambert conformal conic, azimuthal, Albers and equidistant conic.
    case 3: return &kProjRowLambertConic;
    case 19: return &kProjRowLambertConic;
    case 4: return &kProjRowAzEqualArea;
    case 29: return &kProjRowAzEqualArea;
    case 5: return &kProjRowAzEquidistant;
    case 28: return &kProjRowAzEquidistant;
    case 6: return &kProjRowEqdConic;
    case 9: return &kProjRowAlbers;
    case 20: return &kProjRowStereographic;
    case 31: return &kProjRowDoubleStereo;

    // Pseudo-cylindrical projections, oblique Mercator, New Zealand grid.
    case 12: return &kRobinsonRow;
    case 13: return &kMollweideRow;
    case 14: return &kEckertIVRow;
    case 15: return &kEckertVIRow;
    case 16: return &kSinusoidalRow;
    case 7: return &kObliqueMercRow;
    case 18: return &kNzmgRow;

    // Transverse Mercator and its grids, Cassini, polyconic.
    case 8: return &kProjRowTransverseMercator;
    case 21: return &kProjRowTransverseMercator;
    case 22: return &kProjRowTransverseMercator;
    case 23: return &kProjRowTransverseMercator;
    case 24: return &kProjRowTransverseMercator;
    case 27: return &kProjRowPolyconic;
    case 30: return &kProjRowCassini;
  }
  return &kProjRowLonLat;
}

}  // namespace layerio
