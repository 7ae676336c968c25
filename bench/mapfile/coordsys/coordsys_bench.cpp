// The array converters of the coordinate systems beside PROJ's
// proj_trans_generic, on the same million random points in the same run:
// longitude/latitude to a projection and back (LonLatToUnits,
// UnitsToLonLat), and longitude/latitude through a datum shift
// (DatumShiftToCoordSys); the general converter of a transform on integers
// beside PROJ's shift and projection; then the identity and linear integer
// converters of a transform, which have no peer.
//
// Each kind of case is a table: a projection or a datum pair is one row,
// with our system (projection number and parameter block) and the PROJ words
// that describe the same thing. The ellipsoid words of PROJ are made from our
// own ellipsoid table, so both sides work on the same +a/+rf. PROJ is given
// radians, its own unit, so it carries no conversion step; ours take
// degrees and convert inside. Every case also reports `maxdev`, the largest
// difference between the two results (metres for projected output, degrees
// for longitude/latitude), which shows that both sides do the same work.
#include <benchmark/benchmark.h>
#include <proj.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"
#include "mapfile/foundation/state.h"

namespace {

using layerio::CoordSys;
using layerio::CoordSysParams;
using layerio::DPoint;
using layerio::IPoint;

constexpr int kPoints = 1000000;
constexpr double kDeg = 3.14159265358979323846 / 180.0;

struct ProjectionCase {
  const char* name;
  int projection;
  int datum;
  double params[6];
  double lonMin, lonMax, latMin, latMax;  // where the random points lie
  const char* proj;                       // PROJ's words, ellipsoid added
};

// One row per projection; a projection whose routines are not in this tree
// yet reports so instead of timing the default row.
const ProjectionCase kProjectionCases[] = {
    {"Mercator", 10, 104, {0}, -180, 180, -80, 80, "+proj=merc +lon_0=0"},
    {"TransverseMercator", 8, 104, {-123, 0, 0.9996, 500000, 0}, -129, -117, -80, 80,
     "+proj=tmerc +lon_0=-123 +lat_0=0 +k_0=0.9996 +x_0=500000 +y_0=0"},
    {"LambertConic", 3, 104, {-96, 23, 29.5, 45.5, 0, 0}, -130, -60, 20, 60,
     "+proj=lcc +lon_0=-96 +lat_0=23 +lat_1=29.5 +lat_2=45.5 +x_0=0 +y_0=0"},
};

// Datum pairs: points on the source datum shifted onto the destination.
struct DatumCase {
  const char* name;
  int source, destination;
};

const DatumCase kDatumCases[] = {
    {"ThreeParameter", 105, 104},  // International 1924 translation onto WGS 84
    {"SevenParameter", 1000, 104},  // Bessel with rotations and scale onto WGS 84
};

std::string EllipsoidWords(int ellipsoid) {
  layerio::EllipsoidParams e;
  layerio::EllipsoidGet(ellipsoid, &e);
  char text[96];
  if (e.f == 0)
    snprintf(text, sizeof text, "+R=%.17g", e.a);
  else
    snprintf(text, sizeof text, "+a=%.17g +rf=%.17g", e.a, 1 / e.f);
  return text;
}

// The parameter block of a table datum, a projection and its parameters,
// in metres.
void BuildSystem(CoordSys* cs, int projection, int datum, const double* params) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  layerio::DatumRecordGet(datum, &block.datum);
  block.projectedUnit = layerio::kUnitMetre;
  if (projection == 1) block.lonLatQuadrant = 2;
  if (params) memcpy(block.params, params, sizeof block.params);
  layerio::CoordSysInit(cs, projection, &block);
}

struct ProjHandle {
  PJ_CONTEXT* context = nullptr;
  PJ* pj = nullptr;
  explicit ProjHandle(const std::string& definition) {
    context = proj_context_create();
    pj = proj_create(context, definition.c_str());
  }
  ~ProjHandle() {
    if (pj) proj_destroy(pj);
    proj_context_destroy(context);
  }
  ProjHandle(const ProjHandle&) = delete;
  ProjHandle& operator=(const ProjHandle&) = delete;
  void Run(PJ_DIRECTION direction, std::vector<DPoint>* points) const {
    DPoint* p = points->data();
    proj_trans_generic(pj, direction, &p->x, sizeof(DPoint), points->size(), &p->y,
                       sizeof(DPoint), points->size(), nullptr, 0, 0, nullptr, 0, 0);
  }
};

std::vector<DPoint> RandomLonLat(double lonMin, double lonMax, double latMin, double latMax) {
  std::mt19937_64 random(20261211);
  std::uniform_real_distribution<double> lon(lonMin, lonMax), lat(latMin, latMax);
  std::vector<DPoint> points(kPoints);
  for (DPoint& p : points) p = DPoint{lon(random), lat(random)};
  return points;
}

std::vector<DPoint> ToRadians(const std::vector<DPoint>& degrees) {
  std::vector<DPoint> out(degrees.size());
  for (size_t i = 0; i < degrees.size(); ++i)
    out[i] = DPoint{degrees[i].x * kDeg, degrees[i].y * kDeg};
  return out;
}

// Largest coordinate difference; `radians` scales the second set to degrees.
double MaxDeviation(const std::vector<DPoint>& ours, const std::vector<DPoint>& theirs,
                    bool radians) {
  double worst = 0, k = radians ? 1 / kDeg : 1;
  for (size_t i = 0; i < ours.size(); ++i) {
    double dx = ours[i].x - theirs[i].x * k;
    if (radians) dx = std::remainder(dx, 360.0);  // -180 and 180 are one meridian
    worst = std::fmax(worst, std::fabs(dx));
    worst = std::fmax(worst, std::fabs(ours[i].y - theirs[i].y * k));
  }
  return worst;
}

bool ProjectionBuilt(int projection) {
  return layerio::ProjectionRowFor(projection)->forward !=
         layerio::ProjectionRowFor(1)->forward;
}

// Forward: degrees into the projection's metres. Inverse: our own forward
// output back to degrees.
void ProjectionOurs(benchmark::State& state, const ProjectionCase& c, bool forward) {
  if (!ProjectionBuilt(c.projection)) {
    state.SkipWithError("projection not built in this tree");
    return;
  }
  CoordSys cs;
  BuildSystem(&cs, c.projection, c.datum, c.params);
  std::vector<DPoint> lonLat = RandomLonLat(c.lonMin, c.lonMax, c.latMin, c.latMax);
  std::vector<DPoint> projected(kPoints), out(kPoints);
  layerio::LonLatToUnits(lonLat.data(), projected.data(), &cs, kPoints);
  const std::vector<DPoint>& in = forward ? lonLat : projected;
  for (auto _ : state) {
    if (forward)
      layerio::LonLatToUnits(in.data(), out.data(), &cs, kPoints);
    else
      layerio::UnitsToLonLat(in.data(), out.data(), &cs, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  // The same points through PROJ, to show that both sides agree.
  ProjHandle proj(std::string(c.proj) + " " + EllipsoidWords(cs.params.datum.ellipsoid));
  std::vector<DPoint> theirs = forward ? ToRadians(lonLat) : projected;
  proj.Run(forward ? PJ_FWD : PJ_INV, &theirs);
  state.counters["maxdev"] = MaxDeviation(out, theirs, !forward);
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void ProjectionProj(benchmark::State& state, const ProjectionCase& c, bool forward) {
  CoordSys cs;
  BuildSystem(&cs, c.projection, c.datum, c.params);
  ProjHandle proj(std::string(c.proj) + " " + EllipsoidWords(cs.params.datum.ellipsoid));
  if (!proj.pj) {
    state.SkipWithError("PROJ does not know the definition");
    return;
  }
  std::vector<DPoint> lonLat = ToRadians(RandomLonLat(c.lonMin, c.lonMax, c.latMin, c.latMax));
  std::vector<DPoint> projected = lonLat;
  proj.Run(PJ_FWD, &projected);
  const std::vector<DPoint>& in = forward ? lonLat : projected;
  std::vector<DPoint> work(kPoints);
  for (auto _ : state) {
    // PROJ converts in place: the copy stands for our separate output.
    memcpy(work.data(), in.data(), sizeof(DPoint) * kPoints);
    proj.Run(forward ? PJ_FWD : PJ_INV, &work);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

// PROJ's pipeline for the shift of one datum onto another, as our formulas
// do it: the Molodensky shift for a translation, the Helmert shift with
// coordinate-frame rotations through geocentric coordinates otherwise.
std::string DatumPipeline(int sourceNumber, int destinationNumber) {
  layerio::PXDatum s, d;
  layerio::DatumRecordGet(sourceNumber, &s);
  layerio::DatumRecordGet(destinationNumber, &d);
  layerio::EllipsoidParams se, de;
  layerio::EllipsoidGet(s.ellipsoid, &se);
  layerio::EllipsoidGet(d.ellipsoid, &de);
  char text[512];
  bool translation = s.rx == d.rx && s.ry == d.ry && s.rz == d.rz && s.scale == d.scale;
  if (translation) {
    snprintf(text, sizeof text,
             "+proj=molodensky %s +da=%.17g +df=%.17g +dx=%.17g +dy=%.17g +dz=%.17g",
             EllipsoidWords(s.ellipsoid).c_str(), de.a - se.a, de.f - se.f, s.dx - d.dx,
             s.dy - d.dy, s.dz - d.dz);
  } else {
    snprintf(text, sizeof text,
             "+proj=pipeline +step +proj=cart %s +step +proj=helmert +x=%.17g +y=%.17g "
             "+z=%.17g +rx=%.17g +ry=%.17g +rz=%.17g +s=%.17g +convention=coordinate_frame "
             "+step +inv +proj=cart %s",
             EllipsoidWords(s.ellipsoid).c_str(), s.dx - d.dx, s.dy - d.dy, s.dz - d.dz,
             s.rx - d.rx, s.ry - d.ry, s.rz - d.rz, s.scale - d.scale,
             EllipsoidWords(d.ellipsoid).c_str());
  }
  return text;
}

void DatumOurs(benchmark::State& state, const DatumCase& c) {
  CoordSys cs;
  BuildSystem(&cs, 1, c.destination, nullptr);
  layerio::PXDatum source;
  layerio::DatumRecordGet(c.source, &source);
  std::vector<DPoint> in = RandomLonLat(-180, 180, -85, 85), out(kPoints);
  for (auto _ : state) {
    layerio::DatumShiftToCoordSys(in.data(), out.data(), &source, &cs, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  ProjHandle proj(DatumPipeline(c.source, c.destination));
  std::vector<DPoint> theirs = ToRadians(in);
  proj.Run(PJ_FWD, &theirs);
  state.counters["maxdev"] = MaxDeviation(out, theirs, true);
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void DatumProj(benchmark::State& state, const DatumCase& c) {
  ProjHandle proj(DatumPipeline(c.source, c.destination));
  if (!proj.pj) {
    state.SkipWithError("PROJ does not know the definition");
    return;
  }
  std::vector<DPoint> in = ToRadians(RandomLonLat(-180, 180, -85, 85)), work(kPoints);
  for (auto _ : state) {
    memcpy(work.data(), in.data(), sizeof(DPoint) * kPoints);
    proj.Run(PJ_FWD, &work);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

// The general converter of a transform on integers: longitude/latitude on
// datum 105 to Mercator on datum 104, the whole chain (scale, inverse
// projection, three-parameter shift, projection, scale, rounding). PROJ's
// peer does the shift and the projection on radians.
void BM_GeneralOurs(benchmark::State& state) {
  if (!ProjectionBuilt(10)) {
    state.SkipWithError("projection not built in this tree");
    return;
  }
  CoordSys lonLat, mercator;
  BuildSystem(&lonLat, 1, 105, nullptr);
  BuildSystem(&mercator, 10, 104, nullptr);
  layerio::CoordSysSetBounds(&lonLat, -180, -90, 180, 90);
  layerio::CoordSysSetBounds(&mercator, -2e7, -2e7, 2e7, 2e7);
  layerio::CoordXform xf;
  layerio::CoordXformInit(&xf, &lonLat, &mercator);
  std::vector<DPoint> degrees = RandomLonLat(-180, 180, -80, 80);
  std::vector<IPoint> in(kPoints), out(kPoints);
  layerio::LonLatToInt(degrees.data(), in.data(), nullptr, &lonLat, kPoints);
  for (auto _ : state) {
    xf.pointsForward(in.data(), nullptr, out.data(), nullptr, &xf, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void BM_GeneralProj(benchmark::State& state) {
  layerio::PXDatum wgs;
  layerio::DatumRecordGet(104, &wgs);
  ProjHandle proj("+proj=pipeline +step " + DatumPipeline(105, 104) + " +step +proj=merc " +
                  EllipsoidWords(wgs.ellipsoid));
  if (!proj.pj) {
    state.SkipWithError("PROJ does not know the definition");
    return;
  }
  std::vector<DPoint> in = ToRadians(RandomLonLat(-180, 180, -80, 80)), work(kPoints);
  for (auto _ : state) {
    memcpy(work.data(), in.data(), sizeof(DPoint) * kPoints);
    proj.Run(PJ_FWD, &work);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

// A window of 1920 x 1080 pixels onto a stretch of a system's integer
// plane, as CoordXformInit prepares it for the linear converters.
void BuildWindowTransform(layerio::CoordXform* xf) {
  memset(xf, 0, sizeof *xf);
  xf->a.extent = layerio::IntExtent{0, 1080, 1920, -1080, 0x3FFFFFFF / 1920, 0x3FFFFFFF / 1080};
  xf->mapping = layerio::IntExtent{-300000000, 250000000, 600000000, -337500000,
                                   0x3FFFFFFF / 600000000, 0x3FFFFFFF / 337500000};
  xf->flags = layerio::kXfRectCompatible;
}

std::vector<IPoint> RandomIntegers(int32_t low, int32_t high) {
  std::mt19937_64 random(20261212);
  std::uniform_int_distribution<int32_t> value(low, high);
  std::vector<IPoint> points(kPoints);
  for (IPoint& p : points) p = IPoint{value(random), value(random)};
  return points;
}

void BM_IdentityIntegers(benchmark::State& state) {
  layerio::CoordXform xf;
  memset(&xf, 0, sizeof xf);
  std::vector<IPoint> in = RandomIntegers(-1000000000, 1000000000), out(kPoints);
  for (auto _ : state) {
    layerio::XformIdentityPoints(in.data(), nullptr, out.data(), nullptr, &xf, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

// Window pixels to the system's integers, and the system's integers (all
// over the plane, so the halvings are exercised) back to pixels.
void BM_LinearWindowToSystem(benchmark::State& state) {
  layerio::CoordXform xf;
  BuildWindowTransform(&xf);
  std::vector<IPoint> in = RandomIntegers(-2000, 4000), out(kPoints);
  for (auto _ : state) {
    layerio::XformLinearPointsAB(in.data(), nullptr, out.data(), nullptr, &xf, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void BM_LinearSystemToWindow(benchmark::State& state) {
  layerio::CoordXform xf;
  BuildWindowTransform(&xf);
  std::vector<IPoint> in = RandomIntegers(-1000000000, 1000000000), out(kPoints);
  for (auto _ : state) {
    layerio::XformLinearPointsBA(in.data(), nullptr, out.data(), nullptr, &xf, kPoints);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void RegisterAll() {
  for (const ProjectionCase& c : kProjectionCases) {
    std::string name = c.name;
    benchmark::RegisterBenchmark(("Forward/" + name + "/ours").c_str(), ProjectionOurs, c, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Forward/" + name + "/proj").c_str(), ProjectionProj, c, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Inverse/" + name + "/ours").c_str(), ProjectionOurs, c, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Inverse/" + name + "/proj").c_str(), ProjectionProj, c, false)
        ->Unit(benchmark::kMillisecond);
  }
  for (const DatumCase& c : kDatumCases) {
    std::string name = c.name;
    benchmark::RegisterBenchmark(("DatumShift/" + name + "/ours").c_str(), DatumOurs, c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("DatumShift/" + name + "/proj").c_str(), DatumProj, c)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("General/ShiftAndMercator/ours", BM_GeneralOurs)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("General/ShiftAndMercator/proj", BM_GeneralProj)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Identity/integers", BM_IdentityIntegers)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Linear/window-to-system", BM_LinearWindowToSystem)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Linear/system-to-window", BM_LinearSystemToWindow)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
