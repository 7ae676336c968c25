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

// Room for a name and its NUL reserved per point of a file (short names
// are the rule; a longer one grows the buffer).
constexpr size_t kNameBytesGuess = 12;

bool BufferFit(const char* name, int32_t size) { return name && size >= 1; }

}  // namespace

RadialSearch::RadialSearch(int32_t coordinateKind, pipErrorRef error)
    : kind_(coordinateKind), error_(std::move(error)) {}

int32_t RadialSearch::Insert(int32_t x, int32_t y, const char* name) {
  if (!name) name = "";
  const size_t length = std::strlen(name) + 1;
  // Names that would not fit a block of the tree's arena beside a node are
  // refused, as they always were.
  bool stored = length + sizeof(QxyTreeNode) + 16 < QxyTree::kBlockRoom;
  if (stored) {
    try {
      pending_.push_back(QxyTreeEntry{x, y, pendingNames_.size()});
      pendingNames_.insert(pendingNames_.end(), name, name + length);
    } catch (const std::bad_alloc&) {
      if (pending_.size() > 0 && pending_.back().value == pendingNames_.size()) pending_.pop_back();
      stored = false;
    }
  }
  if (!stored) {
    error_->Report(Q_ERROR_MEMORY, kRadialTreeMemoryText, kRadialSource, kLineTreeMemory);
    return -1;
  }
  return 1;
}

bool RadialSearch::Reserve(size_t points, size_t nameBytes) {
  try {
    pending_.reserve(pending_.size() + points);
    pendingNames_.reserve(pendingNames_.size() + nameBytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool RadialSearch::Flush() {
  if (pending_.empty()) return true;
  bool inserted = true;
  try {
    // A buffer grown by doubling keeps up to half of it unused for as long
    // as the search lives.
    if (pendingNames_.capacity() - pendingNames_.size() > pendingNames_.size() / 4)
      pendingNames_.shrink_to_fit();
    names_.push_back(std::move(pendingNames_));
  } catch (const std::bad_alloc&) {
    inserted = false;
  }
  if (inserted) {
    const char* names = names_.back().data();
    for (QxyTreeEntry& p : pending_) p.value = NameValue(names + p.value);
    inserted = tree_.InsertBalanced(pending_.data(), pending_.size());
  }
  // Released, not cleared: the tree holds the points now.
  std::vector<QxyTreeEntry>().swap(pending_);
  std::vector<char>().swap(pendingNames_);
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
  // Room for the file's points, as its header counts them (no more than the
  // file could hold: a point record takes 28 bytes at least).
  const size_t points = std::min<uint64_t>(objects.Header().pointCount, objects.FileSize() / 28);
  search->Reserve(points, points * kNameBytesGuess);
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
