#include "base/qxyindex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/distance_model.h"
#include "base/endian.h"

namespace {

constexpr const char* kSource = "..\\src\\qxyindex";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineNodeNoMemory = 118;
constexpr int kLineNodeUnreadable = 123;
constexpr int kLineNodeEntries = 128;
constexpr int kLineHeaderUnreadable = 160;
constexpr int kLineHeaderEntries = 167;
constexpr int kLineNoMemory = 175;

QxyCellRect LoadRect(const unsigned char* p) {
  return QxyCellRect{QLoadU16LE(p), QLoadU16LE(p + 2), QLoadU16LE(p + 4), QLoadU16LE(p + 6)};
}

// Borders count as meeting.
bool Meets(const QxyCellRect& query, const QxyCellRect& r) {
  return query.xmax >= r.xmin && query.xmin <= r.xmax && query.ymax >= r.ymin &&
         query.ymin <= r.ymax;
}

// Grid of the old files: 0.002 degree cells, x counted westward from -60
// degrees, y northward from the equator.
constexpr int32_t kGridWest = -179999999;
constexpr int32_t kGridEast = -60000001;
constexpr int32_t kGridSouth = 10000;
constexpr int32_t kGridNorth = 89999999;

uint16_t CellOfX(int32_t x) { return static_cast<uint16_t>((-x - 60000000) / 2000); }
uint16_t CellOfY(int32_t y) { return static_cast<uint16_t>(y / 2000); }

}  // namespace

QxyCellRect QxyGridCells(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  x1 = std::clamp(x1, kGridWest, kGridEast);
  x2 = std::clamp(x2, kGridWest, kGridEast);
  y1 = std::clamp(y1, kGridSouth, kGridNorth);
  y2 = std::clamp(y2, kGridSouth, kGridNorth);
  return QxyCellRect{CellOfX(x2), CellOfY(y1), CellOfX(x1), CellOfY(y2)};
}

// ---------------------------------------------------------------------------

QxyIndexNodeRead::QxyIndexNodeRead(QFile& file, int64_t offset, uint16_t pageSize,
                                   uint32_t dataSize, QError& error)
    : offset_(offset), entrySize_(static_cast<uint32_t>(kQxyEntryRectSize) + dataSize) {
  page_.reset(new (std::nothrow) unsigned char[pageSize]);
  if (!page_) {
    error.Record(Q_ERROR_MEMORY, "QxyIndexNodeRead::QxyIndexNodeRead", kSource, kLineNodeNoMemory);
    return;
  }
  if (!file.ReadAt(offset, page_.get(), pageSize)) {
    error.Record(Q_ERROR_CHECKSUM, "QxyIndexNodeRead::QxyIndexNodeRead",
                 kSource, kLineNodeUnreadable);
    return;
  }
  uint64_t need = kQxyPageHeaderSize + uint64_t{QLoadU16LE(page_.get())} * entrySize_;
  if (need > pageSize) {
    error.Record(Q_ERROR_CHECKSUM, "QxyIndexNodeRead::QxyIndexNodeRead: entries pass the page",
                 kSource, kLineNodeEntries);
    return;
  }
  read_ = true;
}

uint16_t QxyIndexNodeRead::EntryCount() const { return QLoadU16LE(page_.get()); }

QxyCellRect QxyIndexNodeRead::Rect() const { return LoadRect(page_.get() + 4); }

QxyCellRect QxyIndexNodeRead::EntryRect(uint32_t i) const {
  return LoadRect(page_.get() + kQxyPageHeaderSize + size_t{i} * entrySize_);
}

const unsigned char* QxyIndexNodeRead::EntryData(uint32_t i) const {
  return page_.get() + kQxyPageHeaderSize + size_t{i} * entrySize_ + kQxyEntryRectSize;
}

// ---------------------------------------------------------------------------

QxyIndex::QxyIndex(QFile& file, int64_t position, QError& error) {
  unsigned char header[kQxyIndexHeaderSize];
  if (!file.ReadAt(position, header, sizeof header)) {
    error.Record(Q_ERROR_CHECKSUM, "QxyIndex::QxyIndex", kSource, kLineHeaderUnreadable);
    return;
  }
  pageCount_ = QLoadU16LE(header);
  pageSize_ = QLoadU16LE(header + 2);
  dataSize_ = QLoadU32LE(header + 4);
  if (pageCount_ > 0 && uint64_t{kQxyPageHeaderSize} + kQxyEntryRectSize + dataSize_ > pageSize_) {
    error.Record(Q_ERROR_CHECKSUM, "QxyIndex::QxyIndex: entries do not fit a page",
                 kSource, kLineHeaderEntries);
    return;
  }
  for (uint32_t i = 0; i < pageCount_; ++i) {
    int64_t offset =
        position + static_cast<int64_t>(kQxyIndexHeaderSize) + static_cast<int64_t>(i) * pageSize_;
    auto* page = new (std::nothrow) QxyIndexNodeRead(file, offset, pageSize_, dataSize_, error);
    if (!page) {
      error.Record(Q_ERROR_MEMORY, "QxyIndex::QxyIndex", kSource, kLineNoMemory);
      return;
    }
    pages_.AddTail(page);
    if (!page->IsRead()) return;
  }
  open_ = true;
}

const QxyIndexNodeRead* QxyIndex::PageMeeting(const QDlistObject* from,
                                              const QxyCellRect& query) const {
  for (const QDlistObject* node = from; node; node = pages_.Next(node)) {
    auto* page = static_cast<const QxyIndexNodeRead*>(node);
    if (Meets(query, page->Rect())) return page;
  }
  return nullptr;
}

bool QxyIndex::First(QxyIndexEnum& walk, const QxyCellRect& query) const {
  walk.query = query;
  walk.entry = -1;
  walk.page = open_ ? PageMeeting(pages_.First(), query) : nullptr;
  return walk.page != nullptr;
}

bool QxyIndex::Next(QxyIndexEnum& walk, void* data, size_t size) const {
  while (walk.page) {
    ++walk.entry;
    if (walk.entry >= walk.page->EntryCount()) {
      walk.page = PageMeeting(pages_.Next(walk.page), walk.query);
      walk.entry = -1;
      continue;
    }
    auto entry = static_cast<uint32_t>(walk.entry);
    if (Meets(walk.query, walk.page->EntryRect(entry))) {
      std::memcpy(data, walk.page->EntryData(entry), std::min<size_t>(size, dataSize_));
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------

QxyTree::QxyTree() {
  blocks_ = new (std::nothrow) Block;
  if (!blocks_) return;
  blocks_->next = nullptr;
  blocks_->used = 0;
  root_ = static_cast<QxyTreeNode*>(Alloc(sizeof(QxyTreeNode)));
  *root_ = QxyTreeNode{nullptr, nullptr, INT32_MIN, INT32_MIN, 0};
}

QxyTree::~QxyTree() {
  while (blocks_) {
    Block* next = blocks_->next;
    delete blocks_;
    blocks_ = next;
  }
}

void* QxyTree::Alloc(size_t size) {
  if (!blocks_ || size >= kBlockRoom) return nullptr;
  size = (size + 7) & ~size_t{7};
  if (blocks_->used + size >= kBlockRoom) {
    Block* block = new (std::nothrow) Block;
    if (!block) return nullptr;
    block->next = blocks_;
    block->used = 0;
    blocks_ = block;
  }
  void* piece = blocks_->room + blocks_->used;
  blocks_->used += size;
  return piece;
}

bool QxyTree::Insert(QxyPoint point, uint64_t value) {
  if (!root_) return false;
  auto* leaf = static_cast<QxyTreeNode*>(Alloc(sizeof(QxyTreeNode)));
  if (!leaf) return false;
  *leaf = QxyTreeNode{nullptr, nullptr, point.x, point.y, value};
  QxyTreeNode* node = root_;
  bool axisX = true;
  uint32_t depth = 1;
  for (;;) {
    bool less = axisX ? point.x < node->x : point.y < node->y;
    QxyTreeNode*& child = less ? node->left : node->right;
    if (!child) {
      child = leaf;
      break;
    }
    node = child;
    axisX = !axisX;
    ++depth;
  }
  depth_ = std::max(depth_, depth);
  ++count_;
  return true;
}

namespace {

// Partitions [first, last) about its median on the axis and puts the median
// at the place returned: before it every point less on the axis, after it
// every other (Insert sends a point equal to a node's coordinate right).
// After the selection nothing past the middle is less than the median, so
// the partition need not look there: it would pass over those points and
// leave them where they are.
template <bool kByY>
QxyTreeEntry* SplitAtMedianOn(QxyTreeEntry* first, QxyTreeEntry* last) {
  auto key = [](const QxyTreeEntry& p) { return kByY ? p.y : p.x; };
  QxyTreeEntry* middle = first + (last - first) / 2;
  std::nth_element(first, middle, last,
                   [&](const QxyTreeEntry& a, const QxyTreeEntry& b) { return key(a) < key(b); });
  const int32_t k = key(*middle);
  QxyTreeEntry* split = std::partition(first, middle, [&](const QxyTreeEntry& p) { return key(p) < k; });
  QxyTreeEntry* pivot = std::find_if(split, last, [&](const QxyTreeEntry& p) { return key(p) == k; });
  std::swap(*split, *pivot);
  return split;
}

QxyTreeEntry* SplitAtMedian(QxyTreeEntry* first, QxyTreeEntry* last, bool byY) {
  return byY ? SplitAtMedianOn<true>(first, last) : SplitAtMedianOn<false>(first, last);
}

}  // namespace

void QxyTree::PlaceDepthFirst(QxyTreeEntry* first, QxyTreeEntry* last, bool byY,
                              QxyTreeNode** link, uint32_t depth, QxyTreeNode*& next) {
  while (first != last) {
    QxyTreeEntry* split = SplitAtMedian(first, last, byY);
    QxyTreeNode* node = next++;
    *node = QxyTreeNode{nullptr, nullptr, split->x, split->y, split->value};
    *link = node;
    depth_ = std::max(depth_, depth);
    PlaceDepthFirst(first, split, !byY, &node->left, depth + 1, next);
    first = split + 1;
    byY = !byY;
    link = &node->right;
    ++depth;
  }
}

bool QxyTree::InsertDepthFirst(QxyTreeEntry* first, QxyTreeEntry* last, bool byY) {
  while (first != last) {
    QxyTreeEntry* split = SplitAtMedian(first, last, byY);
    if (!Insert(QxyPoint{split->x, split->y}, split->value) ||
        !InsertDepthFirst(first, split, !byY))
      return false;
    first = split + 1;
    byY = !byY;
  }
  return true;
}

bool QxyTree::InsertBalanced(QxyTreeEntry* points, size_t count) {
  if (!root_) return false;
  if (count == 0) return true;
  // Placed directly, each node's parent is known when its turn comes; the
  // order of the turns is the order Insert would be called in, so the nodes
  // lie in memory as the walk from the root would have left them.
  const bool place = count_ == 0 && !bulk_ && count < UINT32_MAX;
  QxyTreeNode* next = nullptr;
  if (place) {
    bulk_.reset(new (std::nothrow) QxyTreeNode[count]);
    if (!bulk_) return false;
    next = bulk_.get();
  }
  struct Range {
    size_t first, last;
    bool byY;
    QxyTreeNode** link;
    uint32_t depth;
  };
  std::vector<Range> queue;
  try {
    // The sentinel splits on x and holds every point on its right.
    queue.push_back({0, count, true, &root_->right, 1});
    for (size_t at = 0; at < queue.size(); ++at) {
      const Range r = queue[at];
      QxyTreeEntry* first = points + r.first;
      QxyTreeEntry* last = points + r.last;
      if (r.last - r.first <= kBalancedCluster) {
        if (place)
          PlaceDepthFirst(first, last, r.byY, r.link, r.depth, next);
        else if (!InsertDepthFirst(first, last, r.byY))
          return false;
        continue;
      }
      QxyTreeEntry* split = SplitAtMedian(first, last, r.byY);
      QxyTreeNode* node = nullptr;
      if (place) {
        node = next++;
        *node = QxyTreeNode{nullptr, nullptr, split->x, split->y, split->value};
        *r.link = node;
        depth_ = std::max(depth_, r.depth);
      } else if (!Insert(QxyPoint{split->x, split->y}, split->value)) {
        return false;
      }
      const size_t s = size_t(split - points);
      if (s > r.first)
        queue.push_back({r.first, s, !r.byY, node ? &node->left : nullptr, r.depth + 1});
      if (s + 1 < r.last)
        queue.push_back({s + 1, r.last, !r.byY, node ? &node->right : nullptr, r.depth + 1});
    }
  } catch (const std::bad_alloc&) {
    if (place) {
      root_->right = nullptr;
      depth_ = 0;
      bulk_.reset();
    }
    return false;
  }
  if (place) count_ = uint32_t(count);
  return true;
}

QxyTreeRectSearch::QxyTreeRectSearch(const QxyTree& tree) : tree_(tree) {
  stack_.reserve(2 * size_t{tree.Depth()} + 2);
  stack_.push_back(Entry{tree.Root(), 0});
}

void QxyTreeRectSearch::Reset(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  xmin = std::min(x1, x2);
  xmax = std::max(x1, x2);
  ymin = std::min(y1, y2);
  ymax = std::max(y1, y2);
  stack_.clear();
  // The tree may have grown since the search was made.
  stack_.reserve(2 * size_t{tree_.Depth()} + 2);
  const QxyTreeNode* root = tree_.Root();
  stack_.push_back(Entry{root, 1});
  if (root && root->right) stack_.push_back(Entry{root->right, 0});
}

const QxyTreeNode* QxyTree::NextInRect(QxyTreeRectSearch& search) const {
  auto& stack = search.stack_;
  while (!stack.empty() && stack.back().node != root_) {
    QSearchStack::Entry entry = stack.back();
    stack.pop_back();
    const QxyTreeNode* node = entry.node;
    int32_t c = entry.axisX ? node->x : node->y;
    int32_t lo = entry.axisX ? search.xmin : search.ymin;
    int32_t hi = entry.axisX ? search.xmax : search.ymax;
    if (node->right && c <= hi) {
      __builtin_prefetch(node->right);  // taken after the left subtree
      stack.push_back({node->right, !entry.axisX});
    }
    if (node->left && lo < c) stack.push_back({node->left, !entry.axisX});
    if (node->x >= search.xmin && node->x <= search.xmax && node->y >= search.ymin &&
        node->y <= search.ymax) {
      return node;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------

QxyTreeNearestSearch::QxyTreeNearestSearch(const QxyTree& tree, int n, bool geographic)
    : geographic_(geographic), tree_(tree), capacity_(std::max(n, 0)) {
  try {
    hits_.resize(static_cast<size_t>(capacity_));
  } catch (const std::bad_alloc&) {
    hits_.clear();
  }
}

void QxyTreeNearestSearch::Offer(const QxyTreeNode* node, double distance) {
  int i = 0;
  while (i < fill_ && (hits_[i].distance < distance ||
                       (hits_[i].distance == distance && hits_[i].node < node))) {
    ++i;
  }
  if (i < fill_ && hits_[i].node == node) return;  // found again by a wider window
  if (i == capacity_) return;
  int last = std::min(fill_, capacity_ - 1);
  for (int k = last; k > i; --k) hits_[k] = hits_[k - 1];
  hits_[i] = Hit{node, distance};
  fill_ = std::min(fill_ + 1, capacity_);
}

const QxyTreeNode* QxyTreeNearestSearch::Find(QxyPoint point) {
  fill_ = 0;
  found_ = false;
  if (hits_.empty() || tree_.Count() == 0) return nullptr;
  if (geographic_) {
    yScale_ = kFeetPerMillionth;
    // At a pole the cosine rounds to either side of 0; a negative scale would
    // turn the search window inside out.
    xScale_ = kFeetPerMillionth * std::fabs(std::cos(point.y * kRadiansPerMillionth));
  } else {
    xScale_ = yScale_ = 1.0;
  }
  // Squared while searching (the order is the same); roots at the end.
  auto squaredDistanceTo = [&](const QxyTreeNode* n) {
    double dx = static_cast<double>(int64_t{n->x} - point.x) * xScale_;
    double dy = static_cast<double>(int64_t{n->y} - point.y) * yScale_;
    return dx * dx + dy * dy;
  };

  // Depth first, the point's own side of each split before the other; a
  // subtree is passed over once its side of the split lies farther than the
  // n-th hit so far. Ties are still visited, so the hits are those of a scan
  // of every point. Bounds are squared, as the distances are.
  // Each step takes one entry and adds at most two, one of them taken next:
  // the stack never holds more than one entry per level and one more.
  if (stack_.size() < size_t{tree_.Depth()} + 2) stack_.resize(size_t{tree_.Depth()} + 2);
  Pending* stack = stack_.data();
  size_t top = 0;
  stack[top++] = Pending{tree_.Root(), true, 0.0};
  while (top > 0) {
    const Pending e = stack[--top];
    if (fill_ == capacity_ && e.bound > hits_[capacity_ - 1].distance) continue;
    const QxyTreeNode* node = e.node;
    if (node != tree_.Root()) Offer(node, squaredDistanceTo(node));
    const double along = e.axisX ? static_cast<double>(int64_t{point.x} - node->x) * xScale_
                                 : static_cast<double>(int64_t{point.y} - node->y) * yScale_;
    const QxyTreeNode* nearSide = along < 0 ? node->left : node->right;
    const QxyTreeNode* farSide = along < 0 ? node->right : node->left;
    if (farSide) {
      // Its turn may come after a while: start loading it now.
      __builtin_prefetch(farSide);
      stack[top++] = Pending{farSide, !e.axisX, std::max(e.bound, along * along)};
    }
    if (nearSide) stack[top++] = Pending{nearSide, !e.axisX, e.bound};
  }
  for (int i = 0; i < fill_; ++i) hits_[i].distance = std::sqrt(hits_[i].distance);
  found_ = fill_ > 0;
  return found_ ? hits_[0].node : nullptr;
}
