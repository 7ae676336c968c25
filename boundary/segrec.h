// Segment records: the per-segment buffers that boundary files store for
// lines and regions (record flag 0x01), built when an object is written and
// tested when a search asks whether a point lies within a radius of the
// object or how far it is from it.
//
// Coordinates of a record are relative to the object's origin, its widened
// (xmin, ymin), and scaled: coordinate kind 1 multiplies x differences by
// cos(ymin x 1.745329252e-8) x 0.36432 and y differences by 0.36432 (feet),
// other kinds by 1; each scaled value is stored as trunc(value + 0.5). Of a
// segment's two ends, L has the smaller scaled x (on equal x the smaller y)
// and R is the other.
//
// Record (28 bytes, seven little-endian i32):
//   0  x of L; bit 0x80000000 set when L has the larger y
//   1  smaller y of the two ends      2  x of R
//   3  larger y of the two ends       4  length trunc(sqrt(dx^2 + dy^2))
//   5  trunc(dx / sqrt(dx^2 + dy^2) x 1e7)
//   6  trunc(dy / sqrt(dx^2 + dy^2) x 1e7)
// with dx = xR - xL, dy = yR - yL; a zero-length segment stores 1e7 and 0.
//
// A region ring gives a segment from its last point to its first, then one
// between each two consecutive points (as many segments as points); a line
// part gives only the consecutive ones (points - 1).
//
// Scaled values past the 32-bit range are held at its ends. Points lie at or
// east of the origin in a well-formed object; field 0 keeps 31 bits of x.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundary/ringgeom.h"

inline constexpr size_t kSegmentRecordSize = 28;

struct SegmentRecord {
  enum Field {
    kXLeft = 0,  // with kLeftHigh
    kYLow = 1,
    kXRight = 2,
    kYHigh = 3,
    kLength = 4,
    kDirX = 5,  // x 1e7
    kDirY = 6,  // x 1e7
    kFieldCount = 7
  };
  static constexpr uint32_t kLeftHigh = 0x80000000u;

  int32_t field[kFieldCount];
};
static_assert(sizeof(SegmentRecord) == kSegmentRecordSize);
static_assert(offsetof(SegmentRecord, field) == 0);

// Little-endian field by field.
void EncodeSegmentRecord(const SegmentRecord& record, unsigned char out[kSegmentRecordSize]);
SegmentRecord DecodeSegmentRecord(const unsigned char in[kSegmentRecordSize]);

// The frame of one object's records: its origin and scales.
struct SegmentFrame {
  int32_t x0;
  int32_t y0;
  double xScale;
  double yScale;

  // Old files give the origin from their grid: ((-30000 - west) x 2000,
  // south x 2000); the latitude of the x scale is always y0.
  static SegmentFrame Make(int32_t x0, int32_t y0, int coordinateKind);
  // A point in the frame's scaled units, as the records hold it.
  int32_t ScaleX(int32_t x) const;
  int32_t ScaleY(int32_t y) const;
};

// Number of records a ring or line part of count points gives.
uint32_t SegmentRecordCount(uint32_t count, bool closed);

// Writes the records of one ring (closed) or line part (open) to out, which
// has room for SegmentRecordCount(count, closed); returns how many it wrote.
uint32_t BuildSegmentRecords(const RingPoint* points, uint32_t count, bool closed,
                             const SegmentFrame& frame, SegmentRecord* out);

// True when P lies within radius (in the frame's units) of any record.
bool SegmentsWithinRadius(const SegmentRecord* records, uint32_t count, const SegmentFrame& frame,
                          int32_t px, int32_t py, int32_t radius);

// The distance from P to the nearest record, truncated (0 when closer than one
// unit); -1 when there are no records.
int32_t SegmentsDistance(const SegmentRecord* records, uint32_t count, const SegmentFrame& frame,
                         int32_t px, int32_t py);
