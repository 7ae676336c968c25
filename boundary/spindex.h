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
// Pages are decoded once into columns and kept within a memory budget
// (rtIndex::kDefaultCacheBudget, PIP_INDEX_CACHE_BYTES of zonelib.h, 256 MiB,
// unless the caller sets another): every page of the file while they fit it,
// pages not used since the last sweep giving way beyond it (a clock), and
// always the page in use. The budget changes what is decoded again, never
// what a walk yields.
// The decoded pages live in an rtPageStore, which the handles of one file in
// one process share: a page once decoded is never changed, and is published
// to every reader by one atomic store, so that readers take no lock; only a
// page not decoded yet takes the store's lock. A page that gives way is freed
// once no reader that could have seen it is still in a walk: each reader
// (rtIndex) notes the store's epoch while it holds a Pin, and a page retired
// at an epoch is freed when every pinned reader entered later.
// A page of many entries also gets a grid of cells listing the entries that
// meet each cell, so that a query lying inside one cell looks only at those.
// The grid's column and row borders lie at quantiles of the entries' centres,
// so that dense parts of a page get small cells and empty parts large ones.
// The answers are those of a scan of the whole page.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
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

// Completion of "Spatial index page <n> ..." for a page met at another level.
inline constexpr const char* kRtWrongLevelText = "is not at the level its parent needs.";

// One R-tree page, decoded; never changed once published.
struct rtPage {
  static constexpr uint32_t kNone = UINT32_MAX;

  uint32_t number = kNone;
  uint64_t generation = 0;  // one per decode, never reused
  // Set by every use, cleared by the store's clock sweep: a page used since
  // the last sweep stays. Written only when it changes, so that readers of
  // a page on many threads do not make its line bounce.
  mutable std::atomic<uint8_t> referenced{1};
  size_t bytes = 0;  // memory held while decoded
  uint16_t count = 0;
  uint16_t level = 0;
  bool leaf = false;
  std::vector<SpatialRect> rects;
  std::vector<uint64_t> reference;

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
  void Touch() const {
    if (!referenced.load(std::memory_order_relaxed))
      referenced.store(1, std::memory_order_relaxed);
  }
};

// The decoded pages of one index, shared by its readers (see the top).
// Every member is safe to call from any thread.
class rtPageStore {
 public:
  // Reads the root page's header at offset of file; the store opens when it
  // can be read, states a page size of 48 or more and offset is a multiple
  // of it. file must outlive the store; it is read only under the store's
  // lock.
  rtPageStore(QFile& file, uint64_t offset);
  ~rtPageStore();
  rtPageStore(const rtPageStore&) = delete;
  rtPageStore& operator=(const rtPageStore&) = delete;

  bool IsOpen() const { return open_; }
  uint32_t RootPage() const { return root_; }
  uint16_t RootLevel() const { return rootLevel_; }
  uint16_t PageSize() const { return pageSize_; }
  uint64_t PageCount() const { return pageCount_; }

  // One reader's note of the epoch it entered at (0: not in a walk).
  struct alignas(64) Reader {
    std::atomic<uint64_t> entered{0};
    int pins = 0;  // of its own thread
  };
  // A reader is known to the store from Join to Leave (not while pinned).
  void Join(Reader* reader);
  void Leave(Reader* reader);
  void Enter(Reader& reader) {
    reader.entered.store(epoch_.load(std::memory_order_seq_cst), std::memory_order_seq_cst);
  }
  void Exit(Reader& reader) { reader.entered.store(0, std::memory_order_release); }

  // The page published for number, or null; the caller is entered.
  const rtPage* Find(uint32_t number) const {
    return number < pageCount_ ? slots_[number].load(std::memory_order_seq_cst) : nullptr;
  }
  // Decodes page number (of level) and publishes it, unless another thread
  // did meanwhile; null with why set when it cannot be read or is not sound.
  // The caller is entered.
  const rtPage* Load(uint32_t number, uint16_t level, const char** why);

  void SetBudget(uint64_t bytes);
  uint64_t Budget() const { return budget_.load(std::memory_order_relaxed); }
  uint64_t CachedBytes() const;
  size_t CachedPages() const;
  uint64_t Decodes() const;

 private:
  // Null when the page is sound, else why not.
  const char* Decode(const uint8_t* bytes, uint16_t level, rtPage* page) const;
  static void BuildGrid(rtPage* page);
  // Under mutex_: lets pages go, keeping keep, until the budget holds, and
  // frees what no reader can see any more.
  void Trim(const rtPage* keep);
  void Collect();

  mutable std::mutex mutex_;
  pipError recordError_;  // the record manager's; damage is reported by readers
  std::unique_ptr<QRecordMgr> records_;
  bool open_ = false;
  uint32_t root_ = 0;
  uint16_t rootLevel_ = 0;
  uint16_t pageSize_ = 0;
  uint64_t pageCount_ = 0;
  std::unique_ptr<std::atomic<rtPage*>[]> slots_;
  std::vector<uint32_t> resident_;  // numbers of the pages published
  size_t hand_ = 0;                 // the clock's, in resident_
  std::atomic<uint64_t> budget_{PIP_INDEX_CACHE_BYTES};
  uint64_t cachedBytes_ = 0;
  uint64_t decodes_ = 0;
  uint64_t generations_ = 0;
  std::atomic<uint64_t> epoch_{1};
  std::vector<Reader*> readers_;
  struct Retired {
    rtPage* page;
    uint64_t epoch;
  };
  std::vector<Retired> retired_;
};

// One reader of an index: a handle's (or a test's) view of a page store.
// Used by one thread at a time.
class rtIndex {
 public:
  // Raw pages the record manager keeps for decoding.
  static constexpr uint32_t kRawPages = 10;
  static constexpr uint32_t kSmallestPage = 48;
  // Bytes of decoded pages a store keeps unless told otherwise.
  static constexpr uint64_t kDefaultCacheBudget = PIP_INDEX_CACHE_BYTES;

  // A reader of a store of its own, over the index at offset of file.
  rtIndex(QFile& file, uint64_t offset, pipError& error);
  // A reader of a shared store.
  rtIndex(std::shared_ptr<rtPageStore> store, pipError& error);
  ~rtIndex();
  rtIndex(const rtIndex&) = delete;
  rtIndex& operator=(const rtIndex&) = delete;

  bool IsOpen() const { return store_ && store_->IsOpen(); }
  uint32_t RootPage() const { return store_->RootPage(); }
  uint16_t RootLevel() const { return store_->RootLevel(); }
  uint16_t PageSize() const { return store_->PageSize(); }
  // Pages the file can hold, the most a walk enters.
  uint64_t PageCount() const { return store_->PageCount(); }

  // Holds the pages this reader is given: they stay valid until the
  // outermost Pin ends. A walk holds one for each step it takes and keeps
  // page numbers, not pages, from one step to the next.
  class Pin {
   public:
    explicit Pin(rtIndex& index) : index_(index) {
      if (index_.reader_->pins++ == 0) index_.store_->Enter(*index_.reader_);
    }
    ~Pin() {
      if (--index_.reader_->pins == 0) index_.store_->Exit(*index_.reader_);
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

   private:
    rtIndex& index_;
  };

  // Page number decoded, when it is a sound page of level; null otherwise
  // (reported). Valid while a Pin is held; without one, until a Pin of this
  // reader ends.
  const rtPage* Page(uint32_t number, uint16_t level) {
    if (reader_->pins == 0) Unpinned();
    if (const rtPage* page = store_->Find(number)) {
      page->Touch();
      return page->level == level ? page : Damaged(number, kRtWrongLevelText);
    }
    return Load(number, level);
  }
  // Child page number (of level) of entry i of parent: Page(number, level).
  const rtPage* Child(const rtPage* /*parent*/, uint32_t /*i*/, uint32_t number,
                      uint16_t level) {
    return Page(number, level);
  }
  // Reports page number as damaged ("Spatial index page <n> " + why).
  void ReportDamaged(uint32_t number, const char* why) { Damaged(number, why); }

  // The memory budget of the store's decoded pages: the pages kept hold at
  // most budget bytes, or one page when that one page is larger. Lowering
  // it lets pages go at once. A shared store has one budget for all.
  void SetCacheBudget(uint64_t bytes) { store_->SetBudget(bytes); }
  uint64_t CacheBudget() const { return store_->Budget(); }
  // What is kept now, and how many pages were decoded so far.
  uint64_t CachedBytes() const { return store_->CachedBytes(); }
  size_t CachedPages() const { return store_->CachedPages(); }
  uint64_t Decodes() const { return store_->Decodes(); }

 private:
  const rtPage* Load(uint32_t number, uint16_t level);
  const rtPage* Damaged(uint32_t number, const char* why);
  // A use without a Pin: the reader stays entered until a Pin ends.
  void Unpinned() {
    if (reader_->entered.load(std::memory_order_relaxed) == 0) store_->Enter(*reader_);
  }

  pipError& error_;
  std::shared_ptr<rtPageStore> store_;
  std::unique_ptr<rtPageStore::Reader> reader_;
};

class rtSpatialIndexEnum : public SpatialIndexEnum {
 public:
  explicit rtSpatialIndexEnum(rtIndex& index);
  bool First(const SpatialRect& rect, uint64_t* offset) override;
  bool Next(uint64_t* offset) override;

 private:
  struct Frame {
    const rtPage* view;  // valid during one step; null: to be found again
    uint32_t page;
    uint32_t next;  // position in the page, or in the cell's list
    uint32_t cell;  // rtPage::kNone: the whole page
    uint16_t level;
  };
  bool Push(const rtPage* page, uint32_t number, uint16_t level);
  // Walks on from the frames, under the caller's Pin.
  bool Step(uint64_t* offset);

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
  rtSpatialIndex(std::shared_ptr<rtPageStore> store, pipError& error)
      : SpatialIndex(error), index_(std::move(store), error) {}
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
