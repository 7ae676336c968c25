// The point-in-region peer of the lookup benchmarks: regions prepared by
// GEOS and kept in its STR tree, each query testing the tree's candidates
// with GEOSPreparedContains_r until one holds the point.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/geos_oracle.h"

namespace testsupport {

class GeosRegionIndex {
 public:
  GeosRegionIndex() : tree_(GEOSSTRtree_create_r(geos_.context(), 10)) {}
  ~GeosRegionIndex() { GEOSSTRtree_destroy_r(geos_.context(), tree_); }
  GeosRegionIndex(const GeosRegionIndex&) = delete;
  GeosRegionIndex& operator=(const GeosRegionIndex&) = delete;

  const Geos& geos() const { return geos_; }
  size_t size() const { return regions_.size(); }

  // Adds a region (rings without their closing points); false when GEOS
  // could not make it. Its point locator is built here, as a server would
  // have it before its first query.
  template <typename P>
  bool Add(const std::vector<std::vector<P>>& rings) {
    Geos::Geom region = geos_.Region(rings);
    if (!region || rings.empty() || rings[0].empty()) return false;
    Geos::Prepared prepared = geos_.Prepare(region.get());
    Geos::Geom probe = geos_.Point(double(rings[0][0].x), double(rings[0][0].y));
    GEOSPreparedContains_r(geos_.context(), prepared.get(), probe.get());
    GEOSSTRtree_insert_r(geos_.context(), tree_, region.get(),
                         reinterpret_cast<void*>(regions_.size()));
    regions_.push_back(std::move(region));
    prepared_.push_back(std::move(prepared));
    return true;
  }

  // Builds the tree (GEOS builds it at its first query).
  void Build() const {
    Geos::Geom probe = geos_.Point(0, 0);
    Containing(geos_.context(), probe.get());
  }

  // The number of the first region (in the order added) that contains the
  // point, or -1; context may be another thread's.
  int64_t Containing(GEOSContextHandle_t context, const GEOSGeometry* point) const {
    Query q{this, context, point, -1};
    GEOSSTRtree_query_r(context, tree_, point, &GeosRegionIndex::OnCandidate, &q);
    return q.found;
  }

 private:
  struct Query {
    const GeosRegionIndex* index;
    GEOSContextHandle_t context;
    const GEOSGeometry* point;
    int64_t found;
  };
  static void OnCandidate(void* item, void* data) {
    auto* q = static_cast<Query*>(data);
    if (q->found >= 0) return;
    const auto i = reinterpret_cast<size_t>(item);
    if (GEOSPreparedContains_r(q->context, q->index->prepared_[i].get(), q->point) == 1)
      q->found = int64_t(i);
  }

  Geos geos_;
  GEOSSTRtree* tree_;
  std::vector<Geos::Geom> regions_;
  std::vector<Geos::Prepared> prepared_;
};

}  // namespace testsupport
