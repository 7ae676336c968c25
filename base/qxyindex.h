// Two point structures of the base library.
//
// QxyIndex reads the page index that old boundary files carry: a few pages,
// each with a rectangle in 16-bit grid cells and entries (a cell rectangle and
// fixed-size data). All pages are read and checked at open; an enumeration
// then yields the data of every entry whose rectangle meets a query.
//
// On disk, at the position the boundary-file header gives (little-endian):
//   0  u16 page count      2 u16 page size      4 u32 entry data size
//   8  8 bytes not used    16 + i x page size:  page i
// Page: u16 entry count at 0; the page rectangle as u16 x-min, y-min, x-max,
// y-max at 4..11; entries from 12, each a u16 rectangle in the same order
// followed by entry-data-size bytes.
//
// A header or page whose counts do not fit the page, or that cannot be read
// whole, leaves the index closed with code 111 recorded; nothing is read past
// a page.
//
// QxyTree is an in-memory two-dimensional tree of points (signed 32-bit x and
// y, with a 64-bit value each) searched by rectangle (bounds included) and
// for the n nearest points. The radius search of the boundary services builds
// one per point set, in one pass (InsertBalanced).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/qerror.h"
#include "base/qfile.h"
#include "base/qlist.h"

// A rectangle of the old grid, in cells.
struct QxyCellRect {
  uint16_t xmin = 0;
  uint16_t ymin = 0;
  uint16_t xmax = 0;
  uint16_t ymax = 0;
};

// The cells of a query rectangle in millionths of a degree. The grid covers
// longitudes from -180 to -60 degrees and latitudes from 0.01 to 90 degrees;
// both corners are clamped into it, so a query outside the grid asks for its
// nearest edge cells instead of wrapping a 16-bit cell.
QxyCellRect QxyGridCells(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

inline constexpr size_t kQxyIndexHeaderSize = 16;
inline constexpr size_t kQxyPageHeaderSize = 12;
inline constexpr size_t kQxyEntryRectSize = 8;

// One page of the index, read whole at construction.
class QxyIndexNodeRead : public QDlistObject {
 public:
  // Reads and checks page bytes at offset; IsRead tells whether it worked.
  QxyIndexNodeRead(QFile& file, int64_t offset, uint16_t pageSize, uint32_t dataSize,
                   QError& error);

  bool IsRead() const { return read_; }
  int64_t Offset() const { return offset_; }
  uint16_t EntryCount() const;
  QxyCellRect Rect() const;
  // Entry i (below EntryCount): its rectangle, and its data right behind it.
  QxyCellRect EntryRect(uint32_t i) const;
  const unsigned char* EntryData(uint32_t i) const;

 private:
  int64_t offset_;
  std::unique_ptr<unsigned char[]> page_;
  uint32_t entrySize_;
  bool read_ = false;
};

// The walk state of one enumeration.
struct QxyIndexEnum {
  QxyCellRect query;
  const QxyIndexNodeRead* page = nullptr;
  int32_t entry = -1;
};

class QxyIndex {
 public:
  QxyIndex(QFile& file, int64_t position, QError& error);
  QxyIndex(const QxyIndex&) = delete;
  QxyIndex& operator=(const QxyIndex&) = delete;

  bool IsOpen() const { return open_; }
  uint16_t PageCount() const { return pageCount_; }
  uint16_t PageSize() const { return pageSize_; }
  uint32_t EntryDataSize() const { return dataSize_; }
  const QDlist& Pages() const { return pages_; }

  // Starts an enumeration for query on the first page whose rectangle meets
  // it; false when no page does.
  bool First(QxyIndexEnum& walk, const QxyCellRect& query) const;
  // The next entry whose rectangle meets the query (borders count): copies
  // the first min(size, EntryDataSize()) bytes of its data; false when none
  // is left.
  bool Next(QxyIndexEnum& walk, void* data, size_t size) const;

 private:
  const QxyIndexNodeRead* PageMeeting(const QDlistObject* from, const QxyCellRect& query) const;

  uint16_t pageCount_ = 0;
  uint16_t pageSize_ = 0;
  uint32_t dataSize_ = 0;
  QDlist pages_{"QxyIndex"};
  bool open_ = false;
};

// ---------------------------------------------------------------------------

struct QxyPoint {
  int32_t x;
  int32_t y;
};

struct QxyTreeNode {
  QxyTreeNode* left;
  QxyTreeNode* right;
  int32_t x;
  int32_t y;
  uint64_t value;
};

// A point and its value, as handed to a bulk build.
struct QxyTreeEntry {
  int32_t x;
  int32_t y;
  uint64_t value;
};

class QxyTreeRectSearch;

// Levels alternate the axis: the root (a sentinel at the smallest x and y
// that holds every point in its right subtree) splits on x, its right child
// on y, and so on. A point goes left when its coordinate on the node's axis
// is less than the node's, else right. Nodes come from an arena of 32768-byte
// blocks, freed all together with the tree.
class QxyTree {
 public:
  static constexpr size_t kBlockRoom = 32768;

  QxyTree();
  ~QxyTree();
  QxyTree(const QxyTree&) = delete;
  QxyTree& operator=(const QxyTree&) = delete;

  // The arena's first block could be made.
  bool IsValid() const { return blocks_ != nullptr; }
  // size bytes from the arena, 8-byte aligned, or null (also for a request of
  // kBlockRoom bytes or more).
  void* Alloc(size_t size);
  // Adds a leaf for point; false when no node can be had.
  bool Insert(QxyPoint point, uint64_t value);
  // Adds count points (reordered in place) as a tree of median splits: by y
  // on the first level under the sentinel, then x, and so on; the median of
  // a range goes to the node, the points less than it on the level's axis
  // to its left, the others (equal ones too, as Insert sends them) to its
  // right. Where several points share the median's coordinate, an empty
  // tree takes the one inserted first. The upper levels are laid out
  // breadth first and subtrees of kBalancedCluster points or fewer whole,
  // depth first, so that a walk touches few places in memory. Into an
  // empty tree the nodes are placed directly, in one allocation, from both
  // orders of the points sorted once (no walk from the root, no selection
  // per node); into a tree that holds points already each goes in through
  // Insert. False when memory cannot be had (an empty tree is then left
  // empty; a filled one keeps the points that went in).
  bool InsertBalanced(QxyTreeEntry* points, size_t count);
  static constexpr size_t kBalancedCluster = 1024;
  // The next node of search whose point lies in its rectangle, or null when
  // the walk is done. Nodes come in pre-order, left subtree first.
  const QxyTreeNode* NextInRect(QxyTreeRectSearch& search) const;

  const QxyTreeNode* Root() const { return root_; }
  uint32_t Depth() const { return depth_; }
  uint32_t Count() const { return count_; }

 private:
  struct Block {
    Block* next;
    uint64_t used;
    alignas(16) unsigned char room[kBlockRoom];
  };

  // The bulk build into an empty tree.
  bool Place(QxyTreeEntry* points, size_t count);
  bool InsertDepthFirst(QxyTreeEntry* first, QxyTreeEntry* last, bool byY);

  Block* blocks_ = nullptr;
  std::unique_ptr<QxyTreeNode[]> bulk_;  // the nodes of a bulk build
  QxyTreeNode* root_ = nullptr;
  uint32_t depth_ = 0;
  uint32_t count_ = 0;
};

// The explicit stack of a tree walk.
class QSearchStack {
 public:
  struct Entry {
    const QxyTreeNode* node;
    int32_t axisX;  // 1: the node splits on x, 0: on y
  };
  QSearchStack() = default;
  ~QSearchStack() = default;

 protected:
  std::vector<Entry> stack_;
};

class QxyTreeRectSearch : public QSearchStack {
 public:
  explicit QxyTreeRectSearch(const QxyTree& tree);

  // Sets the rectangle (any corner order) and restarts the walk at the root.
  void Reset(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

  int32_t xmin = INT32_MAX;
  int32_t ymin = INT32_MAX;
  int32_t xmax = INT32_MIN;
  int32_t ymax = INT32_MIN;

 private:
  friend class QxyTree;
  const QxyTree& tree_;
};

// The n points of a tree nearest to a point, nearest first (equal distances
// by node address). Geographic distances are in feet over millionths of a
// degree (x shortened by the cosine of the query's latitude); otherwise plain.
class QxyTreeNearestSearch {
 public:
  struct Hit {
    const QxyTreeNode* node;
    double distance;
  };

  QxyTreeNearestSearch(const QxyTree& tree, int n, bool geographic);

  // The hit list could be allocated.
  bool IsValid() const { return capacity_ == 0 || !hits_.empty(); }
  // Collects the hits and returns the nearest, or null for an empty tree.
  const QxyTreeNode* Find(QxyPoint point);

  bool Found() const { return found_; }
  int Count() const { return fill_; }
  // Room for hits, as made.
  int Capacity() const { return capacity_; }
  const Hit& At(int i) const { return hits_[static_cast<size_t>(i)]; }

 private:
  void Offer(const QxyTreeNode* node, double distance);

  // A subtree still to visit in Find, kept between calls to spare the
  // allocation.
  struct Pending {
    const QxyTreeNode* node;
    bool axisX;
    double bound;  // no point of the subtree lies nearer (squared)
  };
  std::vector<Pending> stack_;

  bool geographic_;
  const QxyTree& tree_;
  std::vector<Hit> hits_;
  int capacity_;
  int fill_ = 0;
  bool found_ = false;
  double xScale_ = 1.0;
  double yScale_ = 1.0;
};
