// Trade areas around stores: the three polygon operations (rings,
// non-overlapping rings, customer hulls), the output records that write the
// polygons into boundary files through the builder, and the generator frame
// that walks a job's stores level by level.
//
// Contracts on the border cases:
//   - Operation results: 1 done (an empty list means "no polygon for this
//     level"), -1 fewer than 3 segments, -2 more than 360, -3 a negative
//     radius, -4 the store list cannot be walked, -6 memory. A radius of 0
//     gives 1 and no polygon. A generator refuses levels that are not
//     finite numbers as it refuses levels out of order.
//   - Geographic coordinates are millionths of a degree and distances miles.
//     Latitudes are held to +-90 degrees and the x scale cos(latitude) to a
//     small positive floor, so near a pole a ring reaches across every
//     longitude instead of to infinity; every geographic point is held to
//     +-180 / +-90 degrees.
//   - The non-overlapping ring finds its neighbours through a grid over the
//     store list (built once a level and run); the neighbours, and so the
//     polygons, are those of a scan over the whole list in list order,
//     which skips a store standing where the store before it stands. Each
//     vertex is rounded to a whole coordinate on its own store's side of
//     every bisector (drawn towards the store where none lies next to it),
//     so two stores' areas never overlap and no vertex is lost.
//   - The hull works on a copy of the customers: the caller's list is never
//     changed. Its vertices are customers' own positions, so the hull holds
//     every customer it was built from. With threshold kind 1 the count
//     taken is held to the customers kept.
//   - Output names: empty means no output; otherwise ".gsb" is appended
//     unless the name is longer than four characters and ends in ".gsb"
//     (exact case). Closing an output that received no object discards its
//     file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "services/pma_api.h"

class BoundaryBuilder;
class pipContext;

struct PmaPoint {
  int32_t x;
  int32_t y;
};
using PmaPointList = std::vector<PmaPoint>;

// A store of the job's store list (its number is its position), a customer,
// an output record.
using PmaStoreEntry = CpmaStoreEntry;
using PmaCustomerEntry = CpmaCustomer;
using PmaOutput = CpmaOutputFile;

// ---- Operations -------------------------------------------------------------

inline constexpr int32_t kPmaMinSegments = 3;
inline constexpr int32_t kPmaMaxSegments = 360;

int32_t PmaRingOperation(int32_t x, int32_t y, int32_t segments, bool geographic, double radius,
                         PmaPointList* out);

// The stores within reach of one another for one radius: a grid over the
// store list. Stores stay owned by the caller and must outlive the index.
class PmaNeighbourIndex {
 public:
  // radius as the operation takes it (miles when geographic). false: memory.
  bool Build(const PmaStoreEntry* stores, size_t count, bool geographic, double radius);
  // The neighbours of the store at (x, y) in the store's x-scaled frame:
  // (x + dx truncated, its y, its number), in list order.
  void Neighbours(int32_t x, int32_t y, std::vector<PmaStoreEntry>* out) const;

 private:
  struct Cell {
    int64_t row;
    int64_t column;
    uint32_t index;
    int32_t x;  // the store's, so the window is tried without a lookup
    int32_t y;
  };
  const PmaStoreEntry* stores_ = nullptr;
  size_t count_ = 0;
  bool geographic_ = false;
  double reach_ = 0;  // 2R in the store's frame
  double cell_ = 1;
  std::vector<Cell> cells_;       // by row, column, then list position
  std::vector<uint8_t> skipped_;  // stands where the store before it stands
};

// The neighbours as a plain scan of the whole list finds them (the index
// must give the same); for tests and benchmarks.
void PmaScanNeighbours(const PmaStoreEntry* stores, size_t count, bool geographic, double radius,
                       int32_t x, int32_t y, std::vector<PmaStoreEntry>* out);

int32_t PmaThiessenOperation(const PmaNeighbourIndex& index, int32_t x, int32_t y,
                             int32_t segments, bool geographic, double radius, PmaPointList* out);

int32_t PmaConvexHullOperation(int32_t x, int32_t y, const PmaCustomerEntry* customers,
                               size_t count, double total, double maxDistance,
                               int32_t thresholdKind, bool geographic, double threshold,
                               PmaPointList* out);

// ---- Output files -----------------------------------------------------------

inline constexpr int32_t kPmaOutputPointLimit = 30000;
inline constexpr int32_t kPmaOutputPolygonLimit = 3;

std::string PmaOutputName(const char* path);
int32_t PmaOpenOutput(PmaOutput* output, pipContext* context, int32_t coordinateKind,
                      const char* path);
// polygon empty: nothing written, 1. inner is the second part unless onePart.
int32_t PmaWritePolygon(PmaOutput* output, pipContext* context, const char* objectName,
                        const PmaPointList& polygon, const PmaPointList* inner, bool onePart);
int32_t PmaCloseOutput(PmaOutput* output, int32_t keep);
// outputs[0..2]: primary, secondary, tertiary.
int32_t PmaSetOutputFiles(PmaOutput* outputs, pipContext* context, int32_t coordinateKind,
                          const char* primary, const char* secondary, const char* tertiary);
int32_t PmaCloseOutputRecords(PmaOutput* outputs, int32_t keep);

// ---- Generators -------------------------------------------------------------

enum class PmaKind { kRing, kThiessen, kHull };

// What a generator needs of the job.
struct PmaJobView {
  pipContext* context = nullptr;
  const PmaStoreEntry* stores = nullptr;
  size_t storeCount = 0;
  std::function<const char*(size_t position)> storeName;
  // The customer list of a store number; false when the job has no
  // customer array.
  std::function<bool(int32_t number, const PmaCustomerEntry** items, size_t* count,
                     double* total)>
      customers;
  PmaOutput* outputs = nullptr;  // three
  std::function<int32_t(int32_t stores, int32_t done, const char* name)> progress;
  // Reports a failing operation result through the job's table.
  std::function<void(int32_t result)> reportOperation;
};

struct PmaLevels {
  double l1 = 0, l2 = 0, l3 = 0;
};

// Ring and non-overlapping ring runs.
int32_t PmaGenerateRings(const PmaJobView& job, PmaKind kind, int32_t segments, bool geographic,
                         bool twoPart, const PmaLevels& radii);
int32_t PmaGenerateHulls(const PmaJobView& job, int32_t thresholdKind, double maxDistance,
                         bool geographic, bool twoPart, const PmaLevels& thresholds);
