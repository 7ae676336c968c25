#include "boundary/segrec.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "base/distance_model.h"
#include "platform/endian.h"
#include "boundary/coordkind.h"

namespace {

int32_t Saturate(double v) {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

struct Scaled {
  int32_t x;
  int32_t y;
};

SegmentRecord MakeRecord(Scaled a, Scaled b) {
  bool aFirst = a.x < b.x || (a.x == b.x && a.y <= b.y);
  Scaled l = aFirst ? a : b;
  Scaled r = aFirst ? b : a;
  SegmentRecord rec;
  auto xl = static_cast<uint32_t>(l.x) & ~SegmentRecord::kLeftHigh;
  rec.field[SegmentRecord::kXLeft] =
      static_cast<int32_t>(xl | (l.y > r.y ? SegmentRecord::kLeftHigh : 0u));
  rec.field[SegmentRecord::kYLow] = std::min(l.y, r.y);
  rec.field[SegmentRecord::kXRight] = r.x;
  rec.field[SegmentRecord::kYHigh] = std::max(l.y, r.y);
  auto dx = static_cast<double>(int64_t{r.x} - l.x);
  auto dy = static_cast<double>(int64_t{r.y} - l.y);
  // The direction is a unit vector: divided by the whole length, not by the
  // stored (cut) one, which would lengthen it by up to 41% on short segments
  // and move every buffer test against them.
  double length = std::sqrt(dx * dx + dy * dy);
  rec.field[SegmentRecord::kLength] = Saturate(length);
  rec.field[SegmentRecord::kDirX] = length == 0.0 ? 10000000 : Saturate(dx / length * 1e7);
  rec.field[SegmentRecord::kDirY] = length == 0.0 ? 0 : Saturate(dy / length * 1e7);
  return rec;
}

// The end L of a record and its direction.
struct Decoded {
  int32_t lx, ly;
  double ux, uy;
};

Decoded Decode(const SegmentRecord& rec) {
  auto f0 = static_cast<uint32_t>(rec.field[SegmentRecord::kXLeft]);
  bool leftHigh = (f0 & SegmentRecord::kLeftHigh) != 0;
  return Decoded{static_cast<int32_t>(f0 & ~SegmentRecord::kLeftHigh),
                 leftHigh ? rec.field[SegmentRecord::kYHigh] : rec.field[SegmentRecord::kYLow],
                 rec.field[SegmentRecord::kDirX] * 1e-7, rec.field[SegmentRecord::kDirY] * 1e-7};
}

}  // namespace

void EncodeSegmentRecord(const SegmentRecord& record, unsigned char out[kSegmentRecordSize]) {
  for (int i = 0; i < SegmentRecord::kFieldCount; ++i) QStoreI32LE(out + 4 * i, record.field[i]);
}

SegmentRecord DecodeSegmentRecord(const unsigned char in[kSegmentRecordSize]) {
  SegmentRecord record;
  for (int i = 0; i < SegmentRecord::kFieldCount; ++i) record.field[i] = QLoadI32LE(in + 4 * i);
  return record;
}

SegmentFrame SegmentFrame::Make(int32_t x0, int32_t y0, int coordinateKind) {
  if (coordinateKind != kCoordinateKindGeographic) return SegmentFrame{x0, y0, 1.0, 1.0};
  return SegmentFrame{x0, y0, std::cos(y0 * kRadiansPerMillionth) * kFeetPerMillionth,
                      kFeetPerMillionth};
}

int32_t SegmentFrame::ScaleX(int32_t x) const {
  return Saturate(std::trunc(static_cast<double>(int64_t{x} - x0) * xScale + 0.5));
}

int32_t SegmentFrame::ScaleY(int32_t y) const {
  return Saturate(std::trunc(static_cast<double>(int64_t{y} - y0) * yScale + 0.5));
}

uint32_t SegmentRecordCount(uint32_t count, bool closed) {
  if (closed) return count;
  return count == 0 ? 0 : count - 1;
}

uint32_t BuildSegmentRecords(const RingPoint* points, uint32_t count, bool closed,
                             const SegmentFrame& frame, SegmentRecord* out) {
  if (count == 0) return 0;
  auto scaled = [&frame, points](uint32_t i) {
    return Scaled{frame.ScaleX(points[i].x), frame.ScaleY(points[i].y)};
  };
  uint32_t written = 0;
  if (closed) out[written++] = MakeRecord(scaled(count - 1), scaled(0));
  for (uint32_t i = 1; i < count; ++i) out[written++] = MakeRecord(scaled(i - 1), scaled(i));
  return written;
}

bool SegmentsWithinRadius(const SegmentRecord* records, uint32_t count, const SegmentFrame& frame,
                          int32_t px, int32_t py, int32_t radius) {
  const int64_t x = frame.ScaleX(px), y = frame.ScaleY(py), r = radius;
  for (uint32_t i = 0; i < count; ++i) {
    const SegmentRecord& rec = records[i];
    Decoded d = Decode(rec);
    if (x < int64_t{d.lx} - r || x > int64_t{rec.field[SegmentRecord::kXRight]} + r ||
        y < int64_t{rec.field[SegmentRecord::kYLow]} - r ||
        y > int64_t{rec.field[SegmentRecord::kYHigh]} + r) {
      continue;
    }
    auto dx = static_cast<double>(x - d.lx), dy = static_cast<double>(y - d.ly);
    auto across = static_cast<int64_t>(dy * d.ux - dx * d.uy);
    auto along = static_cast<int64_t>(dy * d.uy + dx * d.ux);
    if (across > r || -across > r) continue;
    const int64_t length = rec.field[SegmentRecord::kLength];
    if (along >= 0 && along <= length) return true;
    // Past an end, the squares are bounded by the radius, so they stay
    // inside 64 bits.
    if (along < 0) {
      if (along >= -r && r * r >= across * across + along * along) return true;
    } else {
      int64_t past = along - length;
      if (r >= past && r * r >= across * across + past * past) return true;
    }
  }
  return false;
}

int32_t SegmentsDistance(const SegmentRecord* records, uint32_t count, const SegmentFrame& frame,
                         int32_t px, int32_t py) {
  if (count == 0) return -1;
  const int64_t x = frame.ScaleX(px), y = frame.ScaleY(py);
  double best = DBL_MAX;
  for (uint32_t i = 0; i < count; ++i) {
    const SegmentRecord& rec = records[i];
    Decoded d = Decode(rec);
    auto dx = static_cast<double>(x - d.lx), dy = static_cast<double>(y - d.ly);
    double across = dy * d.ux - dx * d.uy;
    double along = dy * d.uy + dx * d.ux;
    double length = rec.field[SegmentRecord::kLength];
    double d2 = across * across;
    if (along < 0.0) {
      d2 += along * along;
    } else if (along > length) {
      d2 += (along - length) * (along - length);
    }
    if (d2 < 1.0) return 0;
    best = std::min(best, d2);
  }
  return Saturate(std::trunc(std::sqrt(best)));
}
