#include "base/qxyindex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/distance_model.h"
#include "platform/endian.h"

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

namespace {

// The points of a bulk build in two orders, by x and by y, kept so through
// the splits: a range of positions holds the same points in both orders, so
// a split on an axis finds the median at the middle of that axis' order and
// the other order is partitioned stably to match; no point is compared
// twice to find a median. Each place holds the point's coordinate on the
// order's axis (its sign bit turned, so that it sorts as unsigned) above
// its index, so that a split reads no point; ties keep the input order.
class PresortedBuild {
 public:
  PresortedBuild(const QxyTreeEntry* points, size_t count) : points_(points), count_(count) {}

  // False when the orders cannot be made.
  bool Sort() {
    try {
      byX_.resize(count_);
      byY_.resize(count_);
      scratch_.resize(count_ + 1);
      side_.resize(count_);
      for (bool y : {false, true}) {
        std::vector<uint64_t>& order = y ? byY_ : byX_;
        for (size_t i = 0; i < count_; ++i)
          order[i] = uint64_t(uint32_t(y ? points_[i].y : points_[i].x) ^ 0x80000000u) << 32 | i;
        RadixSortHigh(order.data(), scratch_.data(), count_);
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Splits [first, last) on the axis: the place of the node; before it in
  // both orders every point less than the node on the axis, after it the
  // others.
  size_t Split(size_t first, size_t last, bool byY) {
    const uint64_t* sorted = (byY ? byY_ : byX_).data();
    uint64_t* other = (byY ? byX_ : byY_).data();
    const size_t middle = first + (last - first) / 2;
    const uint64_t k = sorted[middle] >> 32;
    size_t split = middle;
    while (split > first && sorted[split - 1] >> 32 == k) --split;
    for (size_t i = first; i < split; ++i) side_[uint32_t(sorted[i])] = 0;
    side_[uint32_t(sorted[split])] = 1;
    for (size_t i = split + 1; i < last; ++i) side_[uint32_t(sorted[i])] = 2;
    // Without branches (the sides come in no order): each point is written
    // at both ends and kept by the one whose end moves; the place after the
    // last (scratch_ holds one more) takes what neither keeps.
    size_t left = first, right = split + 1;
    for (size_t i = first; i < last; ++i) {
      const uint64_t p = other[i];
      const uint8_t s = side_[uint32_t(p)];
      scratch_[left] = p;
      scratch_[right] = p;
      left += s == 0;
      right += s == 2;
    }
    scratch_[split] = sorted[split];
    std::copy(scratch_.begin() + long(first), scratch_.begin() + long(last), other + first);
    return split;
  }

  // Starts loading the points of [first, last), a cluster's (a few pages):
  // the loads overlap here, where one at a time between splits they would
  // each wait.
  void Prefetch(size_t first, size_t last) const {
    for (size_t i = first; i < last; ++i) __builtin_prefetch(points_ + uint32_t(byX_[i]));
  }

  const QxyTreeEntry& At(size_t position, bool byY) const {
    return points_[uint32_t((byY ? byY_ : byX_)[position])];
  }

 private:
  // Sorts keys[0, n) on their upper 32 bits, 8 at a time, keeping the order
  // of equals; work holds n too. Four passes leave the keys where they were.
  static void RadixSortHigh(uint64_t* keys, uint64_t* work, size_t n) {
    size_t counts[256];
    for (int shift = 32; shift < 64; shift += 8) {
      std::fill(std::begin(counts), std::end(counts), 0);
      for (size_t i = 0; i < n; ++i) ++counts[(keys[i] >> shift) & 0xFF];
      size_t sum = 0;
      for (size_t& c : counts) {
        const size_t m = c;
        c = sum;
        sum += m;
      }
      for (size_t i = 0; i < n; ++i) work[counts[(keys[i] >> shift) & 0xFF]++] = keys[i];
      std::swap(keys, work);
    }
  }

  const QxyTreeEntry* points_;
  size_t count_;
  std::vector<uint64_t> byX_, byY_, scratch_;
  std::vector<uint8_t> side_;
};

}  // namespace

bool QxyTree::Place(QxyTreeEntry* points, size_t count) {
  PresortedBuild build(points, count);
  if (!build.Sort()) return false;
  bulk_.reset(new (std::nothrow) QxyTreeNode[count]);
  if (!bulk_) return false;
  QxyTreeNode* next = bulk_.get();
  auto place = [&](size_t at, bool byY, QxyTreeNode** link, uint32_t depth) {
    const QxyTreeEntry& p = build.At(at, byY);
    QxyTreeNode* node = next++;
    *node = QxyTreeNode{nullptr, nullptr, p.x, p.y, p.value};
    *link = node;
    depth_ = std::max(depth_, depth);
    return node;
  };
  struct Range {
    size_t first, last;
    bool byY;
    QxyTreeNode** link;
    uint32_t depth;
  };
  // A subtree of a cluster goes in whole, depth first: the left side on a
  // stack, the right side taken at once.
  auto placeDepthFirst = [&](Range r, std::vector<Range>& stack) {
    build.Prefetch(r.first, r.last);
    stack.clear();
    stack.push_back(r);
    while (!stack.empty()) {
      Range t = stack.back();
      stack.pop_back();
      while (t.first != t.last) {
        const size_t split = build.Split(t.first, t.last, t.byY);
        QxyTreeNode* node = place(split, t.byY, t.link, t.depth);
        // The left subtree is placed before the right one, as a walk of
        // inserts would have met them.
        if (split > t.first) {
          stack.push_back({split + 1, t.last, !t.byY, &node->right, t.depth + 1});
          t = {t.first, split, !t.byY, &node->left, t.depth + 1};
          continue;
        }
        t = {split + 1, t.last, !t.byY, &node->right, t.depth + 1};
      }
    }
  };
  try {
    std::vector<Range> queue, stack;
    // The sentinel splits on x and holds every point on its right.
    queue.push_back({0, count, true, &root_->right, 1});
    for (size_t at = 0; at < queue.size(); ++at) {
      const Range r = queue[at];
      if (r.last - r.first <= kBalancedCluster) {
        placeDepthFirst(r, stack);
        continue;
      }
      const size_t split = build.Split(r.first, r.last, r.byY);
      QxyTreeNode* node = place(split, r.byY, r.link, r.depth);
      if (split > r.first) queue.push_back({r.first, split, !r.byY, &node->left, r.depth + 1});
      if (split + 1 < r.last) queue.push_back({split + 1, r.last, !r.byY, &node->right, r.depth + 1});
    }
  } catch (const std::bad_alloc&) {
    root_->right = nullptr;
    depth_ = 0;
    bulk_.reset();
    return false;
  }
  count_ = uint32_t(count);
  return true;
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
  if (count_ == 0 && !bulk_ && count < UINT32_MAX) return Place(points, count);
  try {
    std::vector<std::pair<size_t, size_t>> queue{{0, count}};
    std::vector<bool> axes{true};
    for (size_t at = 0; at < queue.size(); ++at) {
      const auto [first, last] = queue[at];
      const bool byY = axes[at];
      if (last - first <= kBalancedCluster) {
        if (!InsertDepthFirst(points + first, points + last, byY)) return false;
        continue;
      }
      QxyTreeEntry* split = SplitAtMedian(points + first, points + last, byY);
      if (!Insert(QxyPoint{split->x, split->y}, split->value)) return false;
      const size_t s = size_t(split - points);
      if (s > first) {
        queue.push_back({first, s});
        axes.push_back(!byY);
      }
      if (s + 1 < last) {
        queue.push_back({s + 1, last});
        axes.push_back(!byY);
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
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
