// A reader of written boundary files for tests, kept apart from the
// product's decoders: it reads every field at its offset as the file's
// layout states it, so that a fault shared by the product's encoder and
// decoder still shows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/packedint.h"
#include "tests/support/temp_dir.h"

namespace gsbtest {

inline uint8_t U8(const std::string& b, uint64_t at) { return uint8_t(b.at(at)); }
inline uint16_t U16(const std::string& b, uint64_t at) {
  return uint16_t(U8(b, at) | (U8(b, at + 1) << 8));
}
inline uint32_t U32(const std::string& b, uint64_t at) {
  return uint32_t(U16(b, at)) | (uint32_t(U16(b, at + 2)) << 16);
}
inline int32_t I32(const std::string& b, uint64_t at) { return int32_t(U32(b, at)); }
inline uint64_t U64(const std::string& b, uint64_t at) {
  return uint64_t(U32(b, at)) | (uint64_t(U32(b, at + 4)) << 32);
}
inline std::string Text(const std::string& b, uint64_t at, size_t size) {
  std::string field = b.substr(at, size);
  return field.substr(0, field.find('\0'));
}

struct Rect {
  int32_t xmin, ymin, xmax, ymax;
  bool operator==(const Rect&) const = default;
  bool Covers(const Rect& r) const {
    return xmin <= r.xmin && ymin <= r.ymin && xmax >= r.xmax && ymax >= r.ymax;
  }
};
inline Rect RectAt(const std::string& b, uint64_t at) {
  return {I32(b, at), I32(b, at + 4), I32(b, at + 8), I32(b, at + 12)};
}

using Point = std::pair<int32_t, int32_t>;
using Segment = std::array<int32_t, 7>;

struct Record {
  uint64_t offset = 0;
  uint8_t kind = 0, code = 0;
  uint32_t length = 0;
  // lines and regions
  uint32_t rings = 0, points = 0, segments = 0, ringOffset = 0, coordinateOffset = 0;
  uint8_t penWidth = 0, penPattern = 0;
  uint16_t flags = 0;
  int32_t labelX = 0, labelY = 0;
  uint32_t recordNumber = 0, brushColour = 0, brushBackground = 0;
  uint8_t brushPattern = 0;
  Rect bounds{};
  // points
  int32_t x = 0, y = 0;
  uint8_t symbolSize = 0, symbolShape = 0;
  std::string name, name2;
  size_t namesBlock = 0;  // length of the names block
  std::vector<uint32_t> ringCounts;
  std::vector<Point> xy;
  std::vector<Segment> segmentRecords;
  std::vector<uint32_t> streamSizes;  // packed records only
};

struct Page {
  uint64_t number = 0;
  uint16_t count = 0, flags = 0, pageSize = 0, level = 0;
  Rect rect{};
  bool checkValueOk = false;
  std::vector<std::pair<Rect, uint64_t>> entries;
};

class File {
 public:
  explicit File(const std::string& path) : b_(testsupport::ReadAll(path)) {}
  const std::string& Bytes() const { return b_; }

  // Header fields.
  std::string HeaderText() const { return b_.substr(0, 256); }
  uint32_t Magic() const { return U32(b_, 256); }
  uint32_t MaxRecordLength() const { return U32(b_, 268); }
  uint32_t MaxPoints() const { return U32(b_, 272); }
  uint16_t CoordinateKind() const { return U16(b_, 284); }
  uint16_t Flags() const { return U16(b_, 286); }
  uint32_t MaxRings() const { return U32(b_, 288); }
  uint32_t PointCount() const { return U32(b_, 292); }
  uint32_t LineCount() const { return U32(b_, 296); }
  uint32_t RegionCount() const { return U32(b_, 300); }
  Rect Bounds() const { return RectAt(b_, 304); }
  uint16_t HasExtension() const { return U16(b_, 320); }
  uint16_t OffsetWidth() const { return U16(b_, 322); }
  uint64_t NameIndex() const { return U64(b_, 328); }
  uint64_t SpatialRoot() const { return U64(b_, 336); }
  uint64_t FirstRecord() const { return HasExtension() == 1 ? 536 + 324 : 536; }

  Record RecordAt(uint64_t offset) const {
    Record r;
    r.offset = offset;
    r.kind = U8(b_, offset);
    r.code = U8(b_, offset + 1);
    r.length = U32(b_, offset + 4);
    const std::string bytes = b_.substr(offset, r.length);
    EXPECT_EQ(bytes.size(), r.length) << "record at " << offset << " runs past the file";
    if (r.kind == 2) {
      r.x = I32(bytes, 8);
      r.y = I32(bytes, 12);
      r.recordNumber = U32(bytes, 16);
      r.symbolSize = U8(bytes, 20);
      r.symbolShape = U8(bytes, 21);
      Names(bytes, 24, &r);
      return r;
    }
    r.rings = U32(bytes, 8);
    r.points = U32(bytes, 12);
    r.segments = U32(bytes, 16);
    r.ringOffset = U32(bytes, 20);
    r.coordinateOffset = U32(bytes, 24);
    r.penWidth = U8(bytes, 36);
    r.penPattern = U8(bytes, 37);
    r.flags = U16(bytes, 38);
    r.labelX = I32(bytes, 40);
    r.labelY = I32(bytes, 44);
    r.recordNumber = U32(bytes, 48);
    r.brushColour = U32(bytes, 52);
    r.brushBackground = U32(bytes, 56);
    r.brushPattern = U8(bytes, 60);
    r.bounds = RectAt(bytes, 64);
    Names(bytes, 80, &r);
    for (uint32_t i = 0; i < r.rings; ++i) r.ringCounts.push_back(U32(bytes, r.ringOffset + 4 * i));
    uint64_t at = r.coordinateOffset;
    if (!(r.flags & 0x02)) {
      for (uint32_t i = 0; i < r.points; ++i, at += 8)
        r.xy.emplace_back(I32(bytes, at), I32(bytes, at + 4));
      for (uint32_t i = 0; i < r.segments; ++i, at += 28) {
        Segment s;
        for (int f = 0; f < 7; ++f) s[f] = I32(bytes, at + 4 * f);
        r.segmentRecords.push_back(s);
      }
      EXPECT_EQ(at, r.length) << "raw record at " << offset;
      return r;
    }
    const size_t streams = (r.flags & 0x01) ? 9 : 2;
    for (size_t s = 0; s < streams; ++s) r.streamSizes.push_back(U32(bytes, at + 4 * s));
    at += 4 * streams;
    std::vector<std::vector<int32_t>> values(streams);
    for (size_t s = 0; s < streams; ++s) {
      const uint32_t count = s < 2 ? r.points : r.segments;
      PackedIntReader reader;
      reader.Attach(reinterpret_cast<const uint8_t*>(bytes.data()) + at, r.streamSizes[s]);
      for (uint32_t i = 0; i < count; ++i) values[s].push_back(reader.Get(int32_t(i)));
      EXPECT_FALSE(reader.Failed()) << "stream " << s << " of the record at " << offset;
      at += r.streamSizes[s];
    }
    EXPECT_EQ(at, r.length) << "packed record at " << offset;
    for (uint32_t i = 0; i < r.points; ++i) r.xy.emplace_back(values[0][i], values[1][i]);
    for (uint32_t i = 0; i < r.segments && streams == 9; ++i) {
      Segment seg;
      for (int f = 0; f < 7; ++f) seg[f] = values[2 + f][i];
      r.segmentRecords.push_back(seg);
    }
    return r;
  }

  // Every object record, in file order.
  std::vector<Record> Records() const {
    std::vector<Record> records;
    uint64_t at = FirstRecord();
    const uint32_t total = PointCount() + LineCount() + RegionCount();
    for (uint32_t i = 0; i < total; ++i) {
      records.push_back(RecordAt(at));
      at += records.back().length;
    }
    return records;
  }

  Page PageAt(uint64_t number) const {
    Page p;
    p.number = number;
    const uint64_t at = number * 32768;
    p.count = U16(b_, at);
    p.flags = U16(b_, at + 2);
    p.pageSize = U16(b_, at + 4);
    p.level = U16(b_, at + 6);
    p.rect = RectAt(b_, at + 8);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 32766; ++i) sum += uint32_t(U8(b_, at + i)) << (i % 8);
    p.checkValueOk = uint16_t(sum) == U16(b_, at + 32766);
    for (uint16_t i = 0; i < p.count; ++i) {
      const uint64_t e = at + 24 + 24 * uint64_t(i);
      p.entries.emplace_back(RectAt(b_, e), U64(b_, e + 16));
    }
    return p;
  }

  // Walks the spatial index from its root: every page's check value and
  // rectangle, every parent covering its children; returns the leaf entries
  // (rectangle and record offset) and the pages by level.
  std::vector<std::pair<Rect, uint64_t>> WalkSpatialIndex(
      std::map<int, std::vector<Page>>* levels = nullptr) const {
    std::vector<std::pair<Rect, uint64_t>> leaves;
    const uint64_t root = SpatialRoot();
    EXPECT_EQ(root % 32768, 0u);
    Walk(root / 32768, true, -1, nullptr, &leaves, levels);
    return leaves;
  }

  // The name index's leaf entries in order: key (8 bytes) and record offset.
  std::vector<std::pair<std::string, uint64_t>> NameEntries() const {
    std::vector<std::pair<std::string, uint64_t>> entries;
    uint64_t node = NameIndex();
    // Down the first children to the first leaf.
    while (U8(b_, node + 6) & 1) node = U64(b_, node + 12 + 8);
    const uint16_t pageSize = U16(b_, node + 2);
    for (;; node += pageSize) {
      const uint16_t count = U16(b_, node);
      for (uint16_t i = 0; i < count; ++i) {
        const uint64_t e = node + 12 + 16 * uint64_t(i);
        entries.emplace_back(b_.substr(e, 8), U64(b_, e + 8));
      }
      if (U8(b_, node + 6) & 8) break;
    }
    return entries;
  }

 private:
  static void Names(const std::string& bytes, size_t at, Record* r) {
    r->name = bytes.c_str() + at;
    r->name2 = bytes.c_str() + at + r->name.size() + 1;
    const size_t l = r->name.size() + r->name2.size() + 2;
    r->namesBlock = l + 4 - l % 4;
  }

  void Walk(uint64_t number, bool root, int level, const Rect* parent,
            std::vector<std::pair<Rect, uint64_t>>* leaves,
            std::map<int, std::vector<Page>>* levels) const {
    const Page p = PageAt(number);
    EXPECT_TRUE(p.checkValueOk) << "page " << number;
    EXPECT_EQ(p.pageSize, 32768) << "page " << number;
    EXPECT_LE(p.count, 1363) << "page " << number;
    if (level >= 0) {
      EXPECT_EQ(p.level, level) << "page " << number;
    }
    const uint16_t kind = p.level == 0 ? 1 : 2;
    EXPECT_EQ(p.flags, kind | (root ? 4 : 0)) << "page " << number;
    Rect r{INT32_MAX, INT32_MAX, INT32_MIN + 1, INT32_MIN + 1};
    for (const auto& [rect, ref] : p.entries) {
      r = {std::min(r.xmin, rect.xmin), std::min(r.ymin, rect.ymin), std::max(r.xmax, rect.xmax),
           std::max(r.ymax, rect.ymax)};
    }
    EXPECT_EQ(p.rect, r) << "page " << number << " rectangle";
    if (parent) {
      EXPECT_EQ(*parent, p.rect) << "parent entry of page " << number;
    }
    if (levels) (*levels)[p.level].push_back(p);
    for (const auto& [rect, ref] : p.entries) {
      if (p.level == 0)
        leaves->emplace_back(rect, ref);
      else
        Walk(ref, false, p.level - 1, &rect, leaves, levels);
    }
  }

  std::string b_;
};

}  // namespace gsbtest
