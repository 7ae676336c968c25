// The spatial index readers of boundary files. A file carries one of two
// indexes: the R-tree of current files (pages as boundary/gsbformat.h lays
// them out) or the old grid point index of old files (QxyIndex). SpatialIndex
// hides the difference: each makes enumerators that take a query rectangle
// and yield, one by one, the record offsets of the objects whose rectangles
// meet it (borders count as meeting).
//
// R-tree walks go depth first, entries in stored order, so hits come in the
// leaves' stored order. A walk checks every page it reaches: the page's size
// field, its check value, that its entries fit it, and that a child sits one
// level below its parent. A page that fails ends the walk with Failed() set
// and code 111 reported; a walk over a sound tree never fails. An index whose
// root page cannot be read, or whose page size is below 48, does not open.
//
// Pages are decoded once into columns and kept (10 at a time) by the index;
// a page of many entries also gets a grid of cells listing the entries that
// meet each cell, so that a query lying inside one cell looks only at those.
// The answers are those of a scan of the whole page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/qfile.h"
#include "base/qxyindex.h"
#include "base/recmgr.h"
#include "boundary/mainintn.h"

// A query rectangle; corners as given (x1 <= x2 and y1 <= y2 for a query
// that is to find anything).
struct SpatialRect {
  int32_t x1;
  int32_t y1;
  int32_t x2;
  int32_t y2;
};

class SpatialIndexEnum {
 public:
  SpatialIndexEnum() = default;
  virtual ~SpatialIndexEnum() = default;
  SpatialIndexEnum(const SpatialIndexEnum&) = delete;
  SpatialIndexEnum& operator=(const SpatialIndexEnum&) = delete;

  // Starts an enumeration for rect and yields its first hit.
  virtual bool First(const SpatialRect& rect, uint64_t* offset) = 0;
  // The next hit; false when there is none (or the walk failed).
  virtual bool Next(uint64_t* offset) = 0;
  // The last First or Next ended on a damaged index, not at the end.
  bool Failed() const { return failed_; }

 protected:
  bool failed_ = false;
};

class SpatialIndex {
 public:
  explicit SpatialIndex(pipError& error) : error_(error) {}
  virtual ~SpatialIndex() = default;
  SpatialIndex(const SpatialIndex&) = delete;
  SpatialIndex& operator=(const SpatialIndex&) = delete;

  virtual bool IsOpen() const = 0;
  // A new enumerator owned by the caller.
  virtual std::unique_ptr<SpatialIndexEnum> CreateEnum() = 0;

 protected:
  pipError& error_;
};

// ---- R-tree ----------------------------------------------------------------

// One R-tree page, decoded.
struct rtPage {
  static constexpr uint32_t kNone = UINT32_MAX;

  uint32_t number = kNone;
  uint16_t count = 0;
  uint16_t level = 0;
  bool leaf = false;
  std::vector<int32_t> x1, y1, x2, y2;
  std::vector<uint64_t> reference;

  // Grid over the entries' extent: cellsX x cellsY cells (0: no grid); the
  // entries meeting cell c are items[start[c]] .. items[start[c + 1] - 1],
  // in ascending order.
  uint32_t cellsX = 0;
  uint32_t cellsY = 0;
  int64_t gridX0 = 0, gridY0 = 0, cellWidth = 1, cellHeight = 1;
  std::vector<uint32_t> start;
  std::vector<uint16_t> items;

  bool Meets(uint32_t i, const SpatialRect& r) const {
    return !(r.x2 < x1[i] || r.x1 > x2[i] || r.y2 < y1[i] || r.y1 > y2[i]);
  }
  uint32_t CellX(int64_t x) const;
  uint32_t CellY(int64_t y) const;
  // The one cell that holds every entry r can meet, or kNone.
  uint32_t CellOf(const SpatialRect& r) const;
};

class rtIndex {
 public:
  static constexpr uint32_t kCachedPages = 10;
  static constexpr uint32_t kSmallestPage = 48;

  // Reads the root page's header at offset of file; the index opens when it
  // can be read, states a page size of 48 or more and offset is a multiple
  // of it.
  rtIndex(QFile& file, uint64_t offset, pipError& error);
  rtIndex(const rtIndex&) = delete;
  rtIndex& operator=(const rtIndex&) = delete;

  bool IsOpen() const { return open_; }
  uint32_t RootPage() const { return root_; }
  uint16_t RootLevel() const { return rootLevel_; }
  uint16_t PageSize() const { return pageSize_; }

  // Page number decoded, when it is a sound page of level; null otherwise
  // (reported). Valid until the next call.
  const rtPage* Page(uint32_t number, uint16_t level);
  // Reports page number as damaged ("Spatial index page <n> " + why).
  void ReportDamaged(uint32_t number, const char* why) { Damaged(number, why); }

 private:
  // Null when the page is sound, else why not.
  const char* Decode(const uint8_t* bytes, uint16_t level, rtPage* page);
  static void BuildGrid(rtPage* page);
  const rtPage* Damaged(uint32_t number, const char* why);

  pipError& error_;
  std::unique_ptr<QRecordMgr> records_;
  bool open_ = false;
  uint32_t root_ = 0;
  uint16_t rootLevel_ = 0;
  uint16_t pageSize_ = 0;
  // Decoded pages; the least recently used gives way.
  std::vector<std::unique_ptr<rtPage>> pages_;
  std::vector<uint64_t> used_;
  uint64_t tick_ = 0;
};

class rtSpatialIndexEnum : public SpatialIndexEnum {
 public:
  explicit rtSpatialIndexEnum(rtIndex& index);
  bool First(const SpatialRect& rect, uint64_t* offset) override;
  bool Next(uint64_t* offset) override;

 private:
  struct Frame {
    uint32_t page;
    uint32_t next;  // position in the page, or in the cell's list
    uint32_t cell;  // rtPage::kNone: the whole page
    uint16_t level;
  };
  bool Push(uint32_t page, uint16_t level);

  rtIndex& index_;
  std::vector<Frame> stack_;
  int32_t top_ = -1;
  SpatialRect rect_{INT32_MAX, INT32_MAX, INT32_MIN + 1, INT32_MIN + 1};
};

class rtSpatialIndex : public SpatialIndex {
 public:
  rtSpatialIndex(QFile& file, uint64_t offset, pipError& error)
      : SpatialIndex(error), index_(file, offset, error) {}
  bool IsOpen() const override { return index_.IsOpen(); }
  std::unique_ptr<SpatialIndexEnum> CreateEnum() override;
  rtIndex& Index() { return index_; }

 private:
  rtIndex index_;
};

// ---- old grid index ------------------------------------------------------------

class QxySpatialIndexEnum : public SpatialIndexEnum {
 public:
  explicit QxySpatialIndexEnum(const QxyIndex& index) : index_(index) {}
  // The rectangle is clamped to the grid (QxyGridCells).
  bool First(const SpatialRect& rect, uint64_t* offset) override;
  bool Next(uint64_t* offset) override;

 private:
  const QxyIndex& index_;
  QxyIndexEnum walk_;
  bool started_ = false;
};

class QxySpatialIndex : public SpatialIndex {
 public:
  QxySpatialIndex(QFile& file, uint64_t offset, pipError& error)
      : SpatialIndex(error), index_(file, int64_t(offset), error) {}
  bool IsOpen() const override { return index_.IsOpen(); }
  std::unique_ptr<SpatialIndexEnum> CreateEnum() override;

 private:
  QxyIndex index_;
};
