// Helpers of the pseudo-cylindrical and oblique-grid projection tests: a
// coordinate system in metres built from a projection number, its
// parameters and an ellipsoid; random points; PROJ's results for a list of
// points; and a point routine that records what a rectangle routine asks of
// it.
#pragma once

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"
#include "support/proj_oracle.h"

namespace pseudotest {

using layerio::CoordSys;
using layerio::DPoint;
using layerio::DRect;

// a and the inverse flattening (0: a sphere) go straight into the record, so
// that PROJ can be given the very same figure.
inline CoordSys MakeSystem(int projection, std::initializer_list<double> params, double a,
                           double inverseFlattening, int unit = layerio::kUnitMetre) {
  CoordSys cs;
  std::memset(&cs, 0, sizeof cs);
  cs.projection = int16_t(projection);
  cs.params.projectedUnit = uint16_t(unit);
  cs.params.datum.ellipsoid = 28;
  int i = 0;
  for (double p : params) cs.params.params[i++] = p;
  double f = inverseFlattening == 0 ? 0 : 1 / inverseFlattening;
  cs.ellipsoid = {a, (2 - f) * f, f};
  layerio::CoordSysSelectProjection(&cs);
  return cs;
}

// n points with x uniform in [x1, x2] and y uniform in [y1, y2], fixed seed.
inline std::vector<DPoint> RandomPoints(int n, double x1, double x2, double y1, double y2,
                                        unsigned seed = 20261211) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> x(x1, x2), y(y1, y2);
  std::vector<DPoint> points(n);
  for (auto& p : points) {
    p.x = x(random);
    p.y = y(random);
  }
  return points;
}

// PROJ's `proj` over the points (forward, or inverse with -I); the first two
// numbers of each output line. The angle brackets of -S output are turned
// into blanks so that its six scale numbers follow as numbers 3..8.
inline bool RunProj(const std::string& arguments, const std::vector<DPoint>& in,
                    std::vector<std::vector<double>>* out) {
  std::vector<std::vector<double>> rows;
  for (const DPoint& p : in) rows.push_back({p.x, p.y});
  std::string command = "sh -c 'proj " + arguments + " | tr \"<>\" \"  \"'";
  return testsupport::RunProjLines(command, rows, out);
}

// A forward or inverse point routine that records the points it is given and
// returns them unchanged.
inline std::vector<DPoint>& RecordedPoints() {
  static std::vector<DPoint> points;
  return points;
}
inline int RecordPoints(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  for (int i = 0; i < n; ++i) {
    RecordedPoints().push_back(in[i]);
    out[i] = in[i];
  }
  return 0;
}

}  // namespace pseudotest
