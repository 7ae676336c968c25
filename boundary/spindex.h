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
// level below its parent; and, since every page of a tree has one parent,
// that it enters no more pages than the file holds (entries that share a
// child would otherwise make a few pages a walk without end). A page that
// fails ends the walk with Failed() set
// and code 111 reported; a walk over a sound tree never fails. An index whose
// root page cannot be read, or whose page size is below 48, does not open.
//
// Pages are decoded once into columns and kept by the index within a memory
// budget (rtIndex::kDefaultCacheBudget, PIP_INDEX_CACHE_BYTES of zonelib.h,
// 256 MiB, unless the caller sets another): every page of the file while they fit it, the least recently
// used giving way beyond it, and always the page in use. The budget changes
// what is decoded again, never what a walk yields.
// A page of many entries also gets a grid of cells listing the entries that
// meet each cell, so that a query lying inside one cell looks only at those.
// The grid's column and row borders lie at quantiles of the entries' centres,
// so that dense parts of a page get small cells and empty parts large ones.
// The answers are those of a scan of the whole page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/qfile.h"
#include "base/qxyindex.h"
#include "base/recmgr.h"
#include "boundary/mainintn.h"
#include "zonelib.h"

// Completions of "Spatial index page <n> ..." that walks report.
inline constexpr const char* kSpatialPageBelowLeaves = "leads below the leaf level.";
inline constexpr const char* kSpatialPageEnteredTooOften =
    "is entered more often than the file has pages.";

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
  uint64_t generation = 0;  // changes with every decode into this object
  mutable uint64_t used = 0;  // the index's clock at its last use
  size_t bytes = 0;           // memory held while decoded
  uint16_t count = 0;
  uint16_t level = 0;
  bool leaf = false;
  std::vector<SpatialRect> rects;
  std::vector<uint64_t> reference;
  // Of an inner page: the child pages as last decoded for entry i, valid
  // while the child's generation is the one noted.
  mutable std::vector<const rtPage*> childViews;
  mutable std::vector<uint64_t> childGenerations;

  // One axis of the grid: its cell borders, ascending, and a table that
  // finds a value's cell without a bisection: bucket b (of 2^shift units
  // from the first border) holds how many borders lie below its start.
  struct Axis {
    std::vector<int32_t> borders;
    std::vector<uint16_t> buckets;
    int64_t first = 0;
    uint32_t shift = 0;

    void Build();
    // The number of borders at or below v: v's cell.
    uint32_t Cell(int32_t v) const {
      const int64_t d = int64_t(v) - first;
      if (d < 0 || borders.empty()) return 0;
      const uint64_t b = uint64_t(d) >> shift;
      if (b >= buckets.size()) return uint32_t(borders.size());
      uint32_t i = buckets[b];
      while (i < borders.size() && borders[i] <= v) ++i;
      return i;
    }
  };

  // Grid of cellsX x cellsY cells (0: no grid): column c holds the x from
  // its axis's border c - 1 (c > 0) up to below border c (c < cellsX - 1),
  // rows likewise; the entries meeting cell c are items[start[c]] ..
  // items[start[c + 1] - 1], in ascending order, each with a copy of its
  // rectangle so that a cell's scan reads one run of memory.
  uint32_t cellsX = 0;
  uint32_t cellsY = 0;
  Axis axisX, axisY;
  std::vector<uint32_t> start;
  struct Item {
    SpatialRect rect;
    uint32_t entry;
  };
  std::vector<Item> items;

  bool Meets(uint32_t i, const SpatialRect& r) const {
    const SpatialRect& e = rects[i];
    return !(r.x2 < e.x1 || r.x1 > e.x2 || r.y2 < e.y1 || r.y1 > e.y2);
  }
  uint32_t CellX(int32_t x) const { return axisX.Cell(x); }
  uint32_t CellY(int32_t y) const { return axisY.Cell(y); }
  // The one cell that holds every entry r can meet, or kNone.
  uint32_t CellOf(const SpatialRect& r) const;
  // The memory its columns and grid hold.
  size_t Bytes() const;
  // Gives that memory back; the object stays for reuse, under a new
  // generation so that no note of its page survives.
  void Release(uint64_t newGeneration);
};

class rtIndex {
 public:
  // Raw pages the record manager keeps for decoding.
  static constexpr uint32_t kRawPages = 10;
  static constexpr uint32_t kSmallestPage = 48;
  // Bytes of decoded pages an index keeps unless told otherwise.
  static constexpr uint64_t kDefaultCacheBudget = PIP_INDEX_CACHE_BYTES;

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
  // Pages the file can hold, the most a walk enters.
  uint64_t PageCount() const { return pageCount_; }

  // Page number decoded, when it is a sound page of level; null otherwise
  // (reported). Valid until the next call.
  const rtPage* Page(uint32_t number, uint16_t level);
  // Child page number (of level) of entry i of parent; the same, found
  // through the parent's note of it when that still holds.
  const rtPage* Child(const rtPage* parent, uint32_t i, uint32_t number, uint16_t level);
  // Reports page number as damaged ("Spatial index page <n> " + why).
  void ReportDamaged(uint32_t number, const char* why) { Damaged(number, why); }

  // The memory budget of decoded pages: the pages kept hold at most budget
  // bytes, or one page when that one page is larger. Lowering it lets pages
  // go at once.
  void SetCacheBudget(uint64_t bytes);
  uint64_t CacheBudget() const { return budget_; }
  // What is kept now, and how many pages were decoded so far.
  uint64_t CachedBytes() const { return cachedBytes_; }
  size_t CachedPages() const { return byNumber_.size(); }
  uint64_t Decodes() const { return decodes_; }

 private:
  // Null when the page is sound, else why not.
  const char* Decode(const uint8_t* bytes, uint16_t level, rtPage* page);
  static void BuildGrid(rtPage* page);
  const rtPage* Damaged(uint32_t number, const char* why);
  // An object to decode into: a free one, or a new one.
  rtPage* FreeObject();
  // Lets least recently used pages go, keeping keep, until the budget holds.
  void Trim(const rtPage* keep);

  pipError& error_;
  std::unique_ptr<QRecordMgr> records_;
  bool open_ = false;
  uint32_t root_ = 0;
  uint16_t rootLevel_ = 0;
  uint16_t pageSize_ = 0;
  uint64_t pageCount_ = 0;
  // Every page object made; never freed while the index lives, since walks
  // and parents keep pointers to them, checked by generation.
  std::vector<std::unique_ptr<rtPage>> objects_;
  std::vector<rtPage*> free_;
  std::unordered_map<uint32_t, rtPage*> byNumber_;
  uint64_t budget_ = kDefaultCacheBudget;
  uint64_t cachedBytes_ = 0;
  uint64_t tick_ = 0;
  uint64_t generations_ = 0;
  uint64_t decodes_ = 0;
  rtPage* last_ = nullptr;  // the page asked for last
};

class rtSpatialIndexEnum : public SpatialIndexEnum {
 public:
  explicit rtSpatialIndexEnum(rtIndex& index);
  bool First(const SpatialRect& rect, uint64_t* offset) override;
  bool Next(uint64_t* offset) override;

 private:
  struct Frame {
    const rtPage* view;  // valid while its generation is unchanged
    uint64_t generation;
    uint32_t page;
    uint32_t next;  // position in the page, or in the cell's list
    uint32_t cell;  // rtPage::kNone: the whole page
    uint16_t level;
  };
  bool Push(const rtPage* page, uint32_t number, uint16_t level);

  static constexpr int32_t kInlineFrames = 8;
  Frame& At(int32_t i) {
    return i < kInlineFrames ? inline_[i] : deeper_[size_t(i - kInlineFrames)];
  }

  rtIndex& index_;
  // The walk's stack: trees of up to 8 levels need no allocation.
  Frame inline_[kInlineFrames];
  std::vector<Frame> deeper_;
  int32_t top_ = -1;
  uint64_t entered_ = 0;  // pages entered by this walk
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
