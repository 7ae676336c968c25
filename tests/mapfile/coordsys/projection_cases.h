// Shared fixtures of the projection tests: systems built through
// CoordSysInit, and a table-driven comparison with PROJ's `proj` over random
// points (fixed seed) inside a projection's valid domain.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iomanip>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"
#include "support/command.h"
#include "support/proj_oracle.h"

namespace layerio::projtest {

// A system of the given projection on an ellipsoid of the table, parameters
// in block order, projected unit 7 (metre) unless given.
inline CoordSys MakeSystem(int projection, int ellipsoid, std::vector<double> params,
                           int unit = kUnitMetre) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  block.datum.ellipsoid = uint8_t(ellipsoid);
  block.projectedUnit = uint16_t(unit);
  for (size_t i = 0; i < params.size() && i < 6; ++i) block.params[i] = params[i];
  CoordSys cs;
  CoordSysInit(&cs, projection, &block);
  return cs;
}

inline DPoint Forward(const CoordSys& cs, double lon, double lat) {
  DPoint p{lon, lat};
  cs.forwardPoints(&p, &p, &cs, 1);
  return p;
}

inline DPoint Inverse(const CoordSys& cs, double x, double y) {
  DPoint p{x, y};
  cs.inversePoints(&p, &p, &cs, 1);
  return p;
}

// PROJ's ellipsoid words for a system's ellipsoid.
inline std::string EllipsoidWords(const CoordSys& cs) {
  return testsupport::ProjEllipsoid(cs.ellipsoid.a, cs.ellipsoid.f == 0 ? 0 : 1 / cs.ellipsoid.f);
}

// Great-circle angle in degrees between two longitude/latitude points.
inline double AngleDegrees(double lon1, double lat1, double lon2, double lat2) {
  double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad, dl = (lon2 - lon1) * kDegToRad;
  double c = std::sin(p1) * std::sin(p2) + std::cos(p1) * std::cos(p2) * std::cos(dl);
  return std::acos(std::fmax(-1.0, std::fmin(1.0, c))) * kRadToDeg;
}

// The parallel scale k of each point from `proj -V` (eight decimals; the
// k column of proj -S has only six digits). False when PROJ failed or gave
// a different count.
inline bool ProjParallelScales(const std::string& words,
                               const std::vector<std::vector<double>>& rows,
                               std::vector<double>* out) {
  char path[] = "/tmp/gsb-projv-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  std::string text;
  char line[96];
  for (const auto& row : rows) {
    snprintf(line, sizeof line, "%.17g %.17g\n", row[0], row[1]);
    text += line;
  }
  bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  std::string output;
  bool ok = written && testsupport::RunCommand("proj -V " + words + " < " + path, &output);
  unlink(path);
  if (!ok) return false;
  out->clear();
  const char* key = "Parallel scale (k) :";
  for (size_t at = output.find(key); at != std::string::npos; at = output.find(key, at + 1))
    out->push_back(strtod(output.c_str() + at + strlen(key), nullptr));
  return out->size() == rows.size();
}

struct OracleCase {
  const char* name;
  int projection;
  int ellipsoid;
  std::vector<double> params;
  int unit;
  std::string proj;     // PROJ's words after +proj=, without the ellipsoid
  double lon1, lon2, lat1, lat2;  // the sampled box
  double centreLon, centreLat, maxAngle;  // kept within maxAngle of the centre (0: no limit)
  bool conformal;       // compare the scale factor with proj -S as well
  double tolerance;     // forward, in the system's units
  bool sphereOfA = false;  // the projection works on the sphere of radius a
};

// 200 random points of the case's domain: forward against PROJ, the inverse
// of our forward back to the start within 1e-8 degrees, and for conformal
// projections the point scale factor against PROJ's parallel scale.
inline void CheckAgainstProj(const OracleCase& c) {
  SCOPED_TRACE(c.name);
  CoordSys cs = MakeSystem(c.projection, c.ellipsoid, c.params, c.unit);
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> lon(c.lon1, c.lon2), lat(c.lat1, c.lat2);
  std::vector<std::vector<double>> rows;
  while (rows.size() < 200) {
    double x = lon(random), y = lat(random);
    if (c.maxAngle > 0 && AngleDegrees(c.centreLon, c.centreLat, x, y) > c.maxAngle) continue;
    rows.push_back({x, y});
  }
  std::string ellipsoid =
      c.sphereOfA ? testsupport::ProjEllipsoid(cs.ellipsoid.a, 0) : EllipsoidWords(cs);
  std::string words = "+proj=" + c.proj + " " + ellipsoid;
  std::string command = "proj -f %.9f " + words;
  std::vector<std::vector<double>> expected;
  ASSERT_TRUE(testsupport::RunProjLines(command, rows, &expected)) << command;
  std::vector<double> scales;
  if (c.conformal) {
    ASSERT_TRUE(ProjParallelScales(words, rows, &scales)) << words;
  }
  int failures = 0;
  for (size_t i = 0; i < rows.size() && failures < 5; ++i) {
    double lon0 = rows[i][0], lat0 = rows[i][1];
    DPoint p = Forward(cs, lon0, lat0);
    ASSERT_GE(expected[i].size(), 2u);
    bool ok = std::fabs(p.x - expected[i][0]) <= c.tolerance &&
              std::fabs(p.y - expected[i][1]) <= c.tolerance;
    DPoint g = Inverse(cs, p.x, p.y);
    double dLon = std::remainder(g.x - lon0, 360.0);
    ok = ok && std::fabs(dLon) <= 1e-8 && std::fabs(g.y - lat0) <= 1e-8;
    double scale = 0, oracleScale = 0;
    if (c.conformal) {
      DPoint q{lon0, lat0};
      scale = cs.scaleFactor(&cs, &q);
      oracleScale = scales[i];
      ok = ok && std::fabs(scale - oracleScale) <= 1e-8;
    }
    if (!ok) {
      ++failures;
      ADD_FAILURE() << "point " << lon0 << ", " << lat0 << std::setprecision(12) << ": ours "
                    << p.x << ", " << p.y << " PROJ " << expected[i][0] << ", "
                    << expected[i][1] << "; back " << g.x << ", " << g.y << "; scale " << scale
                    << " PROJ " << oracleScale;
    }
  }
}

}  // namespace layerio::projtest
