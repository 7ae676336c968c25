// Ring geometry of the reading side: whether a point lies inside a region's
// rings and how far a point lies from an object's rings. Coordinates are whole
// millionths of a degree (or plain units for other coordinate kinds).
//
// Crossing count of one ring for P = (px, py): the crossings of the ring with
// the ray from P toward smaller x, the ring closed from its last point to its
// first. A run of consecutive points at height py counts one crossing when
// the ring passes through that height there (from below to above or back)
// and the whole run lies left of P, none when the ring touches the height and
// turns back. A sloped edge crossing height py at x counts when px > x. The
// count is -1 ("on the border") when P is a point of the ring, lies on a
// horizontal run, or lies within half a unit of x on a crossing edge.
//
// A region contains P when the sum of its rings' counts is odd or any ring
// reports the border: a point on the border is inside. Only that parity is
// ever asked of a region, and it also follows edge by edge, without walking
// the runs: an edge touching height py at one end counts as crossing there
// when its other end lies above. The border cases are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RingPoint {
  int32_t x;
  int32_t y;
};
static_assert(sizeof(RingPoint) == 8 && offsetof(RingPoint, y) == 4);

// Object kinds that carry rings.
inline constexpr int kObjectRegion = 0;  // rings close by themselves
inline constexpr int kObjectLine = 1;    // parts are open

// The crossing count of one ring (count points, none repeated at its end), or
// -1 on its border.
int RingCrossings(const RingPoint* points, uint32_t count, int32_t px, int32_t py);

// The rings of one loaded object, over points the caller keeps alive. Rings
// are visited newest first, as the object's rings are listed once decoded.
// Large rings carry a summary of their points: boxes of blocks of 16 points,
// of 16 blocks and of 16 of those, so that a point test skips the parts of
// the ring that lie above, below or right of the point without visiting
// them; the answers are those of RingCrossings.
class RingSet {
 public:
  // Adds a ring; false when no room can be had (the set is unchanged).
  bool Add(const RingPoint* points, uint32_t count);
  // Drops the rings; the storage stays for the next object.
  void Clear();
  size_t Count() const { return rings_.size(); }
  // The memory its rings and boxes hold (the points are the caller's).
  size_t Bytes() const {
    size_t n = rings_.capacity() * sizeof(Ring);
    for (const auto& level : boxes_) n += level.capacity() * sizeof(Box);
    return n;
  }

  // The sum of the rings' RingCrossings is odd, or P is on a border.
  bool Contains(int32_t px, int32_t py) const;

  // Distance from P to the rings: in feet for coordinate kind 1 (x shortened
  // by the cosine of south, the object's southern edge), else plain. Region
  // rings are closed, line parts open; any other object kind gives -1.0.
  // With both outputs given they receive the nearest point of the rings (the
  // first found among equally near ones). No rings: 1e18, outputs untouched.
  double Distance(int32_t px, int32_t py, int coordinateKind, int objectKind, int32_t south,
                  int32_t* nearestX, int32_t* nearestY) const;

 private:
  static constexpr int kLevels = 3;
  struct Ring {
    const RingPoint* points;
    uint32_t count;
    bool summarised;
    uint32_t first[kLevels];  // of its boxes in boxes_[level]
    uint32_t boxes[kLevels];  // how many at each level
    int32_t xmin, ymin, xmax, ymax;
  };
  struct Box {
    int32_t xmin, ymin, xmax, ymax;
  };

  static bool Skips(const Box& box, int32_t px, int32_t py);
  int ScanLevel(const Ring& ring, int level, uint32_t from, uint32_t to, int32_t px,
                int32_t py) const;

  std::vector<Ring> rings_;
  std::vector<Box> boxes_[kLevels];
};
