// The radius search: named points held in memory, searched by rectangle, by
// distance and for the nearest, each query giving a first hit and further
// hits one at a time. RadialSearch is the object behind a handle of type 5;
// the pipRad*Intern bodies (declared in zonelib.h) work on it.
//
// The points live in the base library's point tree, which fills in
// insertion order and is not balanced. Inserted points therefore wait in a
// pending list and join the tree before the next find-first, each batch in
// one pass of median splits (QxyTree::InsertBalanced), so that points
// inserted in coordinate order (a boundary file whose names follow its
// geography) still give a tree of logarithmic depth, and a first batch
// costs no walk from the root per point. The names of a batch stay in the
// one buffer they were gathered in. A find-next continues the walk of its
// find-first even when points were inserted since; they are found by the
// next find-first.
//
// Contracts on the border cases:
//   - Geographic rectangle bounds are held to +-180,000,000 (x) and
//     +-90,000,000 (y), a bound below 1 counting as negative. The two x
//     bounds are put in order when they have the same sign; bounds of
//     different signs are searched as given (so x1 > 0 > x2 finds nothing);
//     likewise y.
//   - The radius window is figured in doubles and held to the 32-bit range,
//     and the latitude that shortens x is held to +-90 degrees, so a query
//     at or past a pole searches every longitude instead of overflowing.
//     Distances are truncated to whole units: a point exactly one unit short
//     of radius + 1 is still a hit.
//   - A nearest query for more points than the search holds collects them
//     all; a count below 1 finds nothing.
//   - A name buffer with a size below 1 (or none) gives -1 before anything
//     is searched.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/qxyindex.h"
#include "boundary/mainintn.h"
#include "zonelib.h"

inline constexpr const char* kRadialSource = "radial";
inline constexpr const char* kRadialTreeMemoryText = "Unable to allocate memory for search tree.";
inline constexpr const char* kRadialStackMemoryText = "Unable to allocate search stack.";
inline constexpr const char* kRadialNextFirstText =
    "Attempt to call pipRadFindNext before pipRadFindFirst...";

class RadialSearch {
 public:
  enum State : int32_t { kNone = 0, kRect = 1, kRadius = 2, kNearest = 3 };

  RadialSearch(int32_t coordinateKind, pipErrorRef error);
  RadialSearch(const RadialSearch&) = delete;
  RadialSearch& operator=(const RadialSearch&) = delete;

  bool IsValid() const { return tree_.IsValid(); }
  bool Geographic() const { return kind_ == 1; }

  int32_t Insert(int32_t x, int32_t y, const char* name);
  // Room for about points more points with their names, so that a load of
  // known size grows no buffer (a hint: false, and nothing kept, when the
  // room cannot be had; inserting still works).
  bool Reserve(size_t points, size_t nameBytes);
  int32_t FirstInRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t* x, int32_t* y,
                      char* name, int32_t size);
  int32_t FirstInRadius(int32_t cx, int32_t cy, int32_t radius, int32_t* x, int32_t* y, char* name,
                        int32_t size);
  int32_t FirstNearest(int32_t cx, int32_t cy, int32_t count, int32_t* x, int32_t* y, char* name,
                       int32_t size);
  int32_t Next(int32_t* x, int32_t* y, char* name, int32_t size);

  // Points in the tree and waiting for it (for tests).
  uint32_t Count() const { return tree_.Count() + uint32_t(pending_.size()); }
  // The tree's depth once every pending point has joined it (for tests).
  uint32_t Depth();

  pipError& Error() { return *error_; }

 private:
  // Puts the pending points into the tree; false (reported) when a node
  // cannot be had.
  bool Flush();
  // Puts the pending points in and restarts the rectangle walk on the
  // bounds (clamped and ordered as above); false when it cannot be made.
  bool BeginRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  const QxyTreeNode* NextNode();
  int32_t NextInRect(int32_t* x, int32_t* y, char* name, int32_t size);
  int32_t NextInRadius(int32_t* x, int32_t* y, char* name, int32_t size);
  void SetScales(int32_t cy);
  static int32_t Deliver(const QxyTreeNode* node, int32_t* x, int32_t* y, char* name, int32_t size);

  int32_t kind_;
  pipErrorRef error_;
  QxyTree tree_;
  // Points waiting for the tree, each value the offset of its name in
  // pendingNames_ until the flush makes it the name's address.
  std::vector<QxyTreeEntry> pending_;
  std::vector<char> pendingNames_;
  // The names of the points in the tree, a buffer per batch (never moved).
  std::vector<std::vector<char>> names_;
  std::unique_ptr<QxyTreeRectSearch> rect_;
  std::unique_ptr<QxyTreeNearestSearch> nearest_;
  int32_t nearestCursor_ = 0;
  int32_t cx_ = 0;
  int32_t cy_ = 0;
  double xScale_ = 1.0;
  double yScale_ = 1.0;
  double radius_ = 0;
  bool firstCall_ = false;
  State state_ = kNone;
};

template <>
struct HandleKind<RadialSearch> {
  static constexpr uint32_t kType = kHandleRadius;
  static void Discard(RadialSearch* search) { pipRadTermIntern(search); }
};
