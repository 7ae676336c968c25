// The region-overlap check: how two sets of rings, A and B, lie to each other,
// and on request how much of A's area B covers. Plain plane geometry on whole
// numbers (millionths of a degree, no distance model).
//
// Rings close by themselves (a ring given with its first point repeated gets
// one zero-length edge, which changes nothing). Codes:
//   2  no common area (boxes that only touch never share any)   0 %
//   3  A lies within B, B reaches outside A                     100 %
//   4  B lies within A, A reaches outside B                     estimated
//   5  each reaches outside the other, or edges of the two cross estimated
//   6  neither reaches outside the other (the same area)        100 %
//
// The relation comes from sweeping a vertical line over every vertex x in
// the common x range and following, along it, which set is inside on either
// side; edges of A and B that cross properly also give 5. The covered share
// is estimated on `precision` vertical scan lines across A (midpoint rule):
// below 1 the estimate is -1.0; above kMaxScanLines it takes kMaxScanLines,
// which every caller's precision passes through, so that a precision of
// 2^32 - 1 cannot keep a search busy for seconds per object.
#pragma once

#include <cstdint>
#include <vector>

#include "boundary/ringgeom.h"

class pipContext;

class OverlapCheck {
 public:
  enum Code { kApart = 2, kAWithinB = 3, kBWithinA = 4, kPartly = 5, kSame = 6 };
  // Result of adding a ring when the ring array cannot grow any further.
  static constexpr int kTooManyRings = 27;
  // The most scan lines an estimate takes (about a millionth of A's width).
  static constexpr int kMaxScanLines = 1 << 20;

  OverlapCheck();
  OverlapCheck(const OverlapCheck&) = delete;
  OverlapCheck& operator=(const OverlapCheck&) = delete;

  // Copies a ring into set A or B: 0, or kTooManyRings. A failed allocation
  // throws std::bad_alloc.
  int AddRegionA(int count, const RingPoint* points) { return a_.Add(count, points); }
  int AddRegionB(int count, const RingPoint* points) { return b_.Add(count, points); }
  // Empties a set; its storage stays for the next rings.
  void ClearRegionA() { a_.count = 0; }
  void ClearRegionB() { b_.count = 0; }

  // Fills code and, when asked for, percentage; 1, or -1 when storage for the
  // check cannot be had. A set without rings keeps the box of its last rings.
  int Check(int* code, int precision, double* percentage);

  // The library context that created the check through the C interface.
  pipContext* Context() const { return context_; }
  void SetContext(pipContext* context) { context_ = context; }

 private:
  struct Ring {
    int32_t count = 0;
    std::vector<RingPoint> points;
  };
  struct RegionSet {
    explicit RegionSet(uint32_t setTag) : tag(setTag) { rings.resize(10); }
    int Add(int count, const RingPoint* points);
    std::vector<Ring> rings;  // capacity = rings.size()
    int32_t count = 0;
    uint32_t tag;
  };
  struct Box {
    int32_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  };

 public:
  // One edge, ends ordered by x then y. Vertical edges (x1 = x2, zero-length
  // ones included) have slope 0 and intercept x1; others the line y = slope
  // x + intercept.
  struct Edge {
    int32_t x1, y1, x2, y2;
    double slope;
    double intercept;
    uint32_t tag;  // 1 for A, 6 for B
    bool Vertical() const { return x1 == x2; }
    bool Horizontal() const { return y1 == y2 && x1 != x2; }
  };

 private:
  static void UpdateBox(const RegionSet& set, Box& box);
  int Sweep(const std::vector<const Edge*>& order, const std::vector<int32_t>& events) const;
  static bool EdgesCross(const std::vector<const Edge*>& order);
  double Estimate(int precision) const;

  RegionSet a_{1};
  RegionSet b_{6};
  Box boxA_;
  Box boxB_;
  pipContext* context_ = nullptr;
};
