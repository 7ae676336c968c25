#include "services/zip4file.h"

#include <algorithm>
#include <cmath>

#include "base/distance_model.h"
#include "platform/endian.h"
#include "services/z9format.h"

namespace {

// Report lines (source "zip4file").
constexpr int kLineNoAreaIndex = 92;
constexpr int kLineBadAreaIndex = 106;
constexpr int kLineBadEntry = 151;

constexpr int32_t kLatitudeLimit = 90000000;
// Millionths of a degree per foot of latitude (1 / 0.36432).
constexpr double kMillionthsPerFoot = 2.7448397013614403;
constexpr int32_t kAreaCell = 2000;
constexpr int32_t kAreaWest = -30000;

int32_t Held(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

Zip4File::Zip4File(pipErrorRef error) : error_(std::move(error)) {}

bool Zip4File::Open(const char* path) {
  QFile file(*error_);
  if (!file.Open(path, QFile::kRead)) return false;
  uint8_t header[kZ9PageSize];
  if (!file.ReadAt(0, header, sizeof header)) {
    error_->Report(28, path, "qfile", kLineBadAreaIndex);
    return false;
  }
  const uint32_t locator = QLoadU32LE(header + kZ9AreaLocatorOffset);
  if (!(locator & kZ9AreaPresentBit)) {
    error_->Report(Q_ERROR_EMPTY, kZip4NoAreaIndexText, kZip4FileSource, kLineNoAreaIndex);
    return false;
  }
  const uint64_t offset = Z9AreaOffset(locator);
  uint8_t area[kZ9AreaHeaderSize];
  const int64_t size = file.Size();
  bool sound =
      file.ReadAt(int64_t(offset), area, sizeof area) && QLoadU32LE(area) == kZ9AreaSignature;
  if (sound) {
    count_ = QLoadU32LE(area + 8);
    // Every entry must lie in the file before any memory is sized by it.
    const uint64_t need = offset + kZ9AreaHeaderSize + uint64_t{count_} * kZ9AreaEntrySize;
    sound = size >= 0 && need <= uint64_t(size);
  }
  if (sound) {
    entries_.resize(size_t{count_} * kZ9AreaEntrySize);
    sound = file.ReadAt(int64_t(offset + kZ9AreaHeaderSize), entries_.data(),
                        uint32_t(entries_.size()));
  }
  if (!sound) {
    error_->Report(Q_ERROR_EMPTY, kZip4BadAreaIndexText, kZip4FileSource, kLineBadAreaIndex);
    entries_.clear();
    count_ = 0;
    return false;
  }
  open_ = true;
  return true;
}

SpatialRect Zip4File::EntryRect(uint32_t entry, int32_t radius) const {
  const uint8_t* p = entries_.data() + size_t{entry} * kZ9AreaEntrySize;
  const int64_t a = QLoadU16LE(p + 4), b = QLoadU16LE(p + 6);
  const int64_t c = QLoadU16LE(p + 8), d = QLoadU16LE(p + 10);
  int64_t x1 = (kAreaWest - c) * kAreaCell, x2 = (kAreaWest - a) * kAreaCell;
  int64_t y1 = b * kAreaCell, y2 = d * kAreaCell;
  if (radius != 0) {
    const double dy = std::trunc(radius * kMillionthsPerFoot);
    const int64_t latitude = std::clamp<int64_t>(y1, -kLatitudeLimit, kLatitudeLimit);
    const double dx = std::trunc(dy / std::fabs(std::cos(double(latitude) * kRadiansPerMillionth)));
    const int64_t ix = dx >= 4e9 ? int64_t(4e9) : dx <= -4e9 ? int64_t(-4e9) : int64_t(dx);
    const int64_t iy = int64_t(dy);
    x1 -= ix;
    x2 += ix;
    y1 -= iy;
    y2 += iy;
  }
  return SpatialRect{Held(x1), Held(y1), Held(x2), Held(y2)};
}

int32_t Zip4File::FindFirst(SpatialIndex* index, int32_t radius) {
  index_ = index;
  radius_ = radius;
  next_ = 0;
  enum_ = index ? index->CreateEnum() : nullptr;
  return FindNext();
}

int32_t Zip4File::FindNext() {
  if (!enum_) return 0;
  while (next_ < count_) {
    const uint32_t entry = next_++;
    uint64_t offset = 0;
    if (enum_->First(EntryRect(entry, radius_), &offset)) {
      const uint32_t zip = QLoadU32LE(entries_.data() + size_t{entry} * kZ9AreaEntrySize);
      // A ZIP Code has five digits; another value would make keys that wrap.
      if (zip == 0 || zip > kZ9ZipMax) {
        error_->Report(Q_ERROR_EMPTY, kZip4BadAreaIndexText, kZip4FileSource, kLineBadEntry);
        return -1;
      }
      return int32_t(zip);
    }
    if (enum_->Failed()) return -1;
  }
  return 0;
}
