#include "services/radial.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/distance_model.h"
#include "boundary/gsbformat.h"
#include "boundary/polysrch.h"
#include "boundary/search.h"

namespace {

constexpr int32_t kLongitudeLimit = 180000000;
constexpr int32_t kLatitudeLimit = 90000000;

// Report lines (source "radial").
constexpr int kLineTreeMemory = 118;
constexpr int kLineStackMemory = 296;
constexpr int kLineNextFirst = 351;

// A geographic bound held to +-limit; below 1 counts as negative.
int32_t ClampBound(int32_t v, int32_t limit) {
  if (v < -limit || v > limit) return v < 1 ? -limit : limit;
  return v;
}

// The pair in order when both have the same sign (below 1 negative).
void OrderSameSign(int32_t& a, int32_t& b) {
  const bool negative = a < 1 && b < 1;
  const bool positive = a >= 1 && b >= 1;
  if ((negative || positive) && a > b) std::swap(a, b);
}

int32_t HeldToInt32(double v) {
  if (!(v > double(INT32_MIN))) return INT32_MIN;
  if (v >= double(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

uint64_t NameValue(const char* name) { return reinterpret_cast<uintptr_t>(name); }
const char* ValueName(uint64_t value) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
}

bool BufferFit(const char* name, int32_t size) { return name && size >= 1; }

}  // namespace

RadialSearch::RadialSearch(int32_t coordinateKind, pipErrorRef error)
    : kind_(coordinateKind), error_(std::move(error)) {}

int32_t RadialSearch::Insert(int32_t x, int32_t y, const char* name) {
  if (!name) name = "";
  const size_t length = std::strlen(name) + 1;
  // The name must fit one block of the tree's arena beside its node.
  bool stored = length + sizeof(QxyTreeNode) + 16 < QxyTree::kBlockRoom;
  if (stored) {
    try {
      pending_.push_back(Pending{x, y, pendingNames_.size()});
      pendingNames_.insert(pendingNames_.end(), name, name + length);
    } catch (const std::bad_alloc&) {
      if (pending_.size() > 0 && pending_.back().name == pendingNames_.size()) pending_.pop_back();
      stored = false;
    }
  }
  if (!stored) {
    error_->Report(Q_ERROR_MEMORY, kRadialTreeMemoryText, kRadialSource, kLineTreeMemory);
    return -1;
  }
  return 1;
}

bool RadialSearch::InsertNode(const Pending& p) {
  const char* name = pendingNames_.data() + p.name;
  const size_t length = std::strlen(name) + 1;
  auto* copy = static_cast<char*>(tree_.Alloc(length));
  if (!copy) return false;
  std::memcpy(copy, name, length);
  return tree_.Insert(QxyPoint{p.x, p.y}, NameValue(copy));
}

RadialSearch::Pending* RadialSearch::Split(Pending* first, Pending* last, bool byY) {
  auto key = [byY](const Pending& p) { return byY ? p.y : p.x; };
  Pending* middle = first + (last - first) / 2;
  std::nth_element(first, middle, last,
                   [&](const Pending& a, const Pending& b) { return key(a) < key(b); });
  const int32_t k = key(*middle);
  // The tree sends a point left only when it is less on the node's axis.
  Pending* split = std::partition(first, last, [&](const Pending& p) { return key(p) < k; });
  Pending* pivot = std::find_if(split, last, [&](const Pending& p) { return key(p) == k; });
  std::swap(*split, *pivot);
  return split;
}

bool RadialSearch::InsertDepthFirst(Pending* first, Pending* last, bool byY) {
  while (first != last) {
    Pending* split = Split(first, last, byY);
    if (!InsertNode(*split) || !InsertDepthFirst(first, split, !byY)) return false;
    first = split + 1;
    byY = !byY;
  }
  return true;
}

bool RadialSearch::Flush() {
  if (pending_.empty()) return true;
  // Median splits: by y on the tree's first real level (under its sentinel
  // root), then x, and so on. The upper levels go in breadth first, so that
  // they lie together in memory; a subtree of kClusterPoints or fewer goes
  // in whole, depth first, so that the end of a walk stays in a few pages.
  struct Range {
    size_t first, last;
    bool byY;
  };
  constexpr size_t kClusterPoints = 1024;
  std::vector<Range> queue{{0, pending_.size(), true}};
  bool inserted = true;
  for (size_t at = 0; at < queue.size() && inserted; ++at) {
    const Range r = queue[at];
    Pending* first = pending_.data() + r.first;
    Pending* last = pending_.data() + r.last;
    if (r.last - r.first <= kClusterPoints) {
      inserted = InsertDepthFirst(first, last, r.byY);
      continue;
    }
    Pending* split = Split(first, last, r.byY);
    inserted = InsertNode(*split);
    const size_t s = size_t(split - pending_.data());
    if (s > r.first) queue.push_back({r.first, s, !r.byY});
    if (s + 1 < r.last) queue.push_back({s + 1, r.last, !r.byY});
  }
  pending_.clear();
  pendingNames_.clear();
  if (!inserted) {
    error_->Report(Q_ERROR_MEMORY, kRadialTreeMemoryText, kRadialSource, kLineTreeMemory);
    return false;
  }
  return true;
}

uint32_t RadialSearch::Depth() {
  Flush();
  return tree_.Depth();
}

int32_t RadialSearch::Deliver(const QxyTreeNode* node, int32_t* x, int32_t* y, char* name,
                              int32_t size) {
  if (x) *x = node->x;
  if (y) *y = node->y;
  CopyFoundName(name, size, ValueName(node->value));
  return 1;
}

void RadialSearch::SetScales(int32_t cy) {
  if (!Geographic()) {
    xScale_ = yScale_ = 1.0;
    return;
  }
  // Past a pole the cosine would turn negative and turn the window inside
  // out; at the pole it is all but 0 (and may round below it), and the
  // window is held to the coordinate range.
  const int32_t latitude = std::clamp(cy, -kLatitudeLimit, kLatitudeLimit);
  yScale_ = kFeetPerMillionth;
  xScale_ = std::fabs(std::cos(latitude * kRadiansPerMillionth)) * kFeetPerMillionth;
}

bool RadialSearch::BeginRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (!Flush()) return false;
  if (!rect_) {
    rect_.reset(new (std::nothrow) QxyTreeRectSearch(tree_));
    if (!rect_) return false;
  }
  if (Geographic()) {
    x1 = ClampBound(x1, kLongitudeLimit);
    x2 = ClampBound(x2, kLongitudeLimit);
    y1 = ClampBound(y1, kLatitudeLimit);
    y2 = ClampBound(y2, kLatitudeLimit);
  }
  OrderSameSign(x1, x2);
  OrderSameSign(y1, y2);
  // Reset orders any pair; bounds of different signs stay as given.
  rect_->Reset(x1, y1, x2, y2);
  rect_->xmin = x1;
  rect_->xmax = x2;
  rect_->ymin = y1;
  rect_->ymax = y2;
  return true;
}

const QxyTreeNode* RadialSearch::NextNode() { return rect_ ? tree_.NextInRect(*rect_) : nullptr; }

int32_t RadialSearch::FirstInRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t* x,
                                  int32_t* y, char* name, int32_t size) {
  if (!BufferFit(name, size)) return -1;
  state_ = kNone;
  if (!BeginRect(x1, y1, x2, y2)) return -1;
  const QxyTreeNode* node = NextNode();
  if (!node) return 0;
  state_ = kRect;
  return Deliver(node, x, y, name, size);
}

int32_t RadialSearch::NextInRect(int32_t* x, int32_t* y, char* name, int32_t size) {
  const QxyTreeNode* node = NextNode();
  if (!node) {
    state_ = kNone;
    return 0;
  }
  return Deliver(node, x, y, name, size);
}

int32_t RadialSearch::FirstInRadius(int32_t cx, int32_t cy, int32_t radius, int32_t* x, int32_t* y,
                                    char* name, int32_t size) {
  if (!BufferFit(name, size)) return -1;
  state_ = kNone;
  cx_ = cx;
  cy_ = cy;
  radius_ = radius;
  SetScales(cy);
  firstCall_ = true;
  return NextInRadius(x, y, name, size);
}

int32_t RadialSearch::NextInRadius(int32_t* x, int32_t* y, char* name, int32_t size) {
  if (firstCall_) {
    firstCall_ = false;
    // Figured in doubles: near a pole radius / x scale passes any integer.
    const double halfX = radius_ / xScale_;
    const double halfY = radius_ / yScale_;
    if (!BeginRect(HeldToInt32(cx_ - halfX), HeldToInt32(cy_ - halfY), HeldToInt32(cx_ + halfX),
                   HeldToInt32(cy_ + halfY))) {
      state_ = kNone;
      return -1;
    }
  }
  // The distance truncated is within the radius when the distance is below
  // radius + 1; the root is taken only for squares too near that to tell.
  const double reach = radius_ + 1;
  const double inner = reach * reach * (1 - 1e-9), outer = reach * reach * (1 + 1e-9);
  while (const QxyTreeNode* node = NextNode()) {
    // 64-bit differences: plane coordinates may lie the whole range apart.
    const double dx = double(int64_t{node->x} - cx_) * xScale_;
    const double dy = double(int64_t{node->y} - cy_) * yScale_;
    const double square = dx * dx + dy * dy;
    if (radius_ >= 0 && square <= outer &&
        (square < inner || std::trunc(std::sqrt(square)) <= radius_)) {
      state_ = kRadius;
      return Deliver(node, x, y, name, size);
    }
  }
  state_ = kNone;
  return 0;
}

int32_t RadialSearch::FirstNearest(int32_t cx, int32_t cy, int32_t count, int32_t* x, int32_t* y,
                                   char* name, int32_t size) {
  if (!BufferFit(name, size)) return -1;
  state_ = kNone;
  cx_ = cx;
  cy_ = cy;
  SetScales(cy);
  if (!Flush()) return -1;
  // No search needs room for more hits than there are points; and a centre
  // past a pole would turn the search's own cosine negative.
  const int32_t room = int32_t(std::min<int64_t>(std::max(count, 0), tree_.Count()));
  const int32_t latitude = Geographic() ? std::clamp(cy, -kLatitudeLimit, kLatitudeLimit) : cy;
  // A search of the same room is used again: each Find starts afresh.
  if (!nearest_ || nearest_->Capacity() != room || !nearest_->IsValid()) {
    nearest_.reset();
    nearest_.reset(new (std::nothrow) QxyTreeNearestSearch(tree_, room, Geographic()));
    if (!nearest_) return -1;
  }
  if (!nearest_->IsValid()) {
    error_->Report(Q_ERROR_MEMORY, kRadialStackMemoryText, kRadialSource, kLineStackMemory);
    nearest_.reset();
    return -1;
  }
  const QxyTreeNode* node = nearest_->Find(QxyPoint{cx, latitude});
  if (!node) return 0;
  nearestCursor_ = 1;
  state_ = kNearest;
  return Deliver(node, x, y, name, size);
}

int32_t RadialSearch::Next(int32_t* x, int32_t* y, char* name, int32_t size) {
  if (state_ == kNone) {
    error_->Report(Q_ERROR_EMPTY, kRadialNextFirstText, kRadialSource, kLineNextFirst);
    return -1;
  }
  if (!BufferFit(name, size)) return -1;
  switch (state_) {
    case kRect:
      return NextInRect(x, y, name, size);
    case kRadius:
      return NextInRadius(x, y, name, size);
    case kNearest:
      if (nearestCursor_ >= nearest_->Count()) {
        state_ = kNone;
        return 0;
      }
      return Deliver(nearest_->At(nearestCursor_++).node, x, y, name, size);
    case kNone:
      break;
  }
  return 0;
}

// ---- the bodies of the C interface ------------------------------------------

int32_t pipRadInitIntern(pipContext* context, int32_t coordinateKind, RadialSearch** out) {
  if (!out) return -1;
  *out = nullptr;
  if (!context) return -1;
  auto* search = new (std::nothrow) RadialSearch(coordinateKind, context->ErrorRef());
  if (!search) return -1;
  if (!search->IsValid()) {
    delete search;
    return -1;
  }
  *out = search;
  return 1;
}

int32_t pipRadTermIntern(RadialSearch* search) {
  delete search;
  return 1;
}

int32_t pipRadInsertPointIntern(RadialSearch* search, int32_t x, int32_t y, const char* name) {
  return search ? search->Insert(x, y, name) : -1;
}

int32_t pipRadLoadPointsIntern(RadialSearch* search, pipObjectFileObject* file) {
  if (!search || !file) return -1;
  PolygonSearch& objects = file->Search();
  uint64_t offset = 0;
  bool failed = false;
  int32_t result = -1;
  for (PolygonObject* o = objects.NextByName("", &offset, &failed); o;
       o = objects.NextByName(nullptr, &offset, &failed)) {
    if (o->Kind() != kGsbPoint) continue;
    result = search->Insert(o->Record().x, o->Record().y, o->Name());
    if (result != 1) return result;
  }
  // An object that could not be loaded ends the walk early: the points
  // loaded would be only some of the file's.
  return failed ? -1 : result;
}

int32_t pipRadFindFirstInRectIntern(RadialSearch* search, int32_t x1, int32_t y1, int32_t x2,
                                    int32_t y2, int32_t* x, int32_t* y, char* name, int32_t size) {
  return search ? search->FirstInRect(x1, y1, x2, y2, x, y, name, size) : -1;
}

int32_t pipRadFindFirstInRadiusIntern(RadialSearch* search, int32_t cx, int32_t cy, int32_t radius,
                                      int32_t* x, int32_t* y, char* name, int32_t size) {
  return search ? search->FirstInRadius(cx, cy, radius, x, y, name, size) : -1;
}

int32_t pipRadFindFirstNearestIntern(RadialSearch* search, int32_t cx, int32_t cy, int32_t count,
                                     int32_t* x, int32_t* y, char* name, int32_t size) {
  return search ? search->FirstNearest(cx, cy, count, x, y, name, size) : -1;
}

int32_t pipRadFindNextIntern(RadialSearch* search, int32_t* x, int32_t* y, char* name,
                             int32_t size) {
  return search ? search->Next(x, y, name, size) : -1;
}
