// The workload the map-object file benchmarks share: 100,000 small polygons
// (5 to 9 vertices, longitude/latitude) in memory and as a CSV of WKT for
// OGR, a temporary folder, the best time of each case and the file sizes,
// and the OGR peer's runs as processes (gdal-bin's ogr2ogr).
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"
#include "mapfile/objects/geom.h"

namespace polybench {

using namespace layerio;

inline constexpr int kPolygons = 100000;

struct Workload {
  std::filesystem::path dir;
  std::vector<std::vector<DPoint>> rings;  // closed rings in degrees
  CoordSys cs;
  std::map<std::string, double> best;  // seconds
  std::map<std::string, int64_t> sizes;
};

inline Workload& W() {
  static Workload w;
  return w;
}

inline void Best(const std::string& name, double seconds) {
  auto it = W().best.find(name);
  if (it == W().best.end() || seconds < it->second) W().best[name] = seconds;
}

inline void Prepare(const char* prefix, unsigned seed) {
  Workload& w = W();
  std::string pattern = std::string("/tmp/") + prefix + ".XXXXXX";
  w.dir = ::mkdtemp(pattern.data());
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> lon(-120, -70), lat(25, 50), r(0.001, 0.004);
  for (int i = 0; i < kPolygons; ++i) {
    double cx = lon(rng), cy = lat(rng), radius = r(rng);
    int n = 5 + int(rng() % 5);
    std::vector<DPoint> ring;
    for (int k = 0; k < n; ++k) {
      double a = 2 * M_PI * k / n;
      ring.push_back({cx + radius * std::cos(a), cy + radius * std::sin(a)});
    }
    ring.push_back(ring.front());
    w.rings.push_back(ring);
  }
  ErrorStackCreate();
  FileCacheInit();
  CoordSysInstallUnitServices();
  GeomScratchInit();
  CoordSysParseText(&w.cs, "CoordSys Earth Projection 1, 104", true);
  std::ofstream csv(w.dir / "polygons.csv");
  csv << "id,WKT\n";
  char text[64];
  for (int i = 0; i < kPolygons; ++i) {
    csv << i + 1 << ",\"POLYGON ((";
    for (size_t k = 0; k < w.rings[size_t(i)].size(); ++k) {
      std::snprintf(text, sizeof text, "%s%.9g %.9g", k ? "," : "", w.rings[size_t(i)][k].x,
                    w.rings[size_t(i)][k].y);
      csv << text;
    }
    csv << "))\"\n";
  }
}

inline int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

template <typename F>
void Timed(benchmark::State& state, const std::string& name, F body) {
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    bool ok = body();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
      state.SkipWithError((name + " failed").c_str());
      return;
    }
    state.SetIterationTime(seconds);
    Best(name, seconds);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPolygons);
}

// A path quoted for the shell.
inline std::string Q(const std::filesystem::path& p) {
  std::string quoted = "'";
  quoted += p.string();
  quoted += "'";
  return quoted;
}

inline void BM_OgrCsvParseOnly(benchmark::State& state) {
  const Workload& w = W();
  Timed(state, "ogr csv parse", [&] {
    return Run("ogr2ogr -f Memory /vsimem/x " + Q(w.dir / "polygons.csv") +
               " -oo KEEP_GEOM_COLUMNS=NO") == 0;
  });
}

}  // namespace polybench
