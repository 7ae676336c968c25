#include "boundary/nearest.h"

#include <algorithm>
#include <cmath>

#include "base/distance_model.h"
#include "boundary/gsbformat.h"

namespace {

// Bits of one entry number in an order key: enough for the most entries a
// page of the index's size can hold.
uint32_t EntryBits(const rtIndex& index) {
  const size_t room = index.PageSize() > kGsbPageHeaderSize + 2
                          ? (index.PageSize() - kGsbPageHeaderSize - 2) / kGsbPageEntrySize
                          : 0;
  uint32_t bits = 1;
  while (bits < 32 && (uint64_t(1) << bits) < room) ++bits;
  return bits;
}

// The kind, position and record number of the record at offset: from its
// first bytes when they make sense, else from the whole record (whose
// damage the fetch reports). False when it cannot be read.
bool ReadHead(PolygonSearch& search, uint64_t offset, GsbPointHead* out) {
  uint8_t bytes[kGsbPointFixedSize];
  const uint64_t size = search.FileSize();
  if (offset >= kGsbHeaderSize && offset < size) {
    const uint32_t n = uint32_t(std::min<uint64_t>(sizeof bytes, size - offset));
    if (search.File().ReadAt(int64_t(offset), bytes, n) && DecodeGsbPointHead(bytes, n, out))
      return true;
  }
  const PolygonObject* o = search.FetchObject(offset);
  if (!o) return false;
  out->kind = o->Kind();
  out->x = o->Record().x;
  out->y = o->Record().y;
  out->recordNumber = o->RecordNumber();
  return true;
}

}  // namespace

bool NearestWalk::Walkable(const rtIndex& index) {
  return (uint64_t(index.RootLevel()) + 1) * EntryBits(index) <= 8 * sizeof(Key);
}

int32_t NearestWalk::Find(rtIndex& index, PolygonSearch& search, int32_t x, int32_t y,
                          uint32_t k, int64_t reach, Filter* filter, std::vector<Hit>* hits) {
  hits->clear();
  if (k == 0 || reach < 0) return 1;
  x_ = x;
  y_ = y;
  kind_ = search.CoordinateKind();
  // pipDistance's factors, taken alike, so that a one-point rectangle's
  // bound is its point's distance to the last bit.
  fx_ = fy_ = 1.0;
  if (kind_ == kGsbCoordinateKindGeographic) {
    fy_ = kFeetPerMillionth;
    fx_ = kFeetPerMillionth * std::cos(y * kRadiansPerMillionth);
  }
  k_ = k;
  reach_ = int32_t(std::min<int64_t>(reach, INT32_MAX));
  bits_ = EntryBits(index);
  guessing_ = filter == nullptr;
  for (;;) {
    const int32_t result = Walk(index, search, k, filter, hits);
    if (result != 0) return result;
    guessing_ = false;
  }
}

int32_t NearestWalk::Walk(rtIndex& index, PolygonSearch& search, uint32_t k, Filter* filter,
                          std::vector<Hit>* hits) {
  hits->clear();
  queue_.clear();
  guesses_.clear();
  Tighten(reach_);
  const uint32_t root = index.RootPage();
  const rtPage* page = index.Page(root, index.RootLevel());
  if (!page || !Expand(index, *page, root, 0, 0)) return -1;
  uint64_t entered = 1;
  while (!queue_.empty()) {
    std::pop_heap(queue_.begin(), queue_.end(), Later());
    const Item item = queue_.back();
    queue_.pop_back();
    if (item.bound > threshold_) break;
    if (item.page) {
      const uint32_t number = uint32_t(item.reference);
      if (++entered > index.PageCount()) {
        index.ReportDamaged(number, kSpatialPageEnteredTooOften);
        return -1;
      }
      page = index.Page(number, item.level);
      if (!page || !Expand(index, *page, number, item.depth, item.key)) return -1;
      continue;
    }
    GsbPointHead head;
    if (!ReadHead(search, item.reference, &head)) return -1;
    const int32_t d =
        head.kind == kGsbPoint ? pipDistance(x_, y_, head.x, head.y, kind_, nullptr) : -1;
    if (d != item.bound) {
      // Not the point its rectangle shows: a guess built on it is void.
      if (item.guess) return 0;
      if (d < 0 || d > threshold_) continue;
      Item again = item;
      again.bound = d;
      Push(again);
      continue;
    }
    if (filter && !filter->Passes(head.recordNumber)) continue;
    hits->push_back({d, item.reference});
    if (hits->size() == k) break;
  }
  return 1;
}

bool NearestWalk::Expand(rtIndex& index, const rtPage& page, uint32_t number, uint32_t depth,
                         Key key) {
  if (!page.leaf && page.level == 0) {
    index.ReportDamaged(number, kSpatialPageBelowLeaves);
    return false;
  }
  // A page at depth d is at level root - d, and the tree fits the key.
  const uint32_t shift = uint32_t(8 * sizeof(Key)) - (depth + 1) * bits_;
  for (uint32_t i = 0; i < page.count; ++i) {
    const SpatialRect& r = page.rects[i];
    const int32_t lx = std::min(r.x1, r.x2), hx = std::max(r.x1, r.x2);
    const int32_t ly = std::min(r.y1, r.y2), hy = std::max(r.y1, r.y2);
    // pipDistance's steps at the rectangle's point nearest the search point.
    const double dx = double(int64_t(std::clamp(x_, lx, hx)) - x_) * fx_;
    const double dy = double(int64_t(std::clamp(y_, ly, hy)) - y_) * fy_;
    const double squared = dx * dx + dy * dy;
    if (!(squared <= thresholdSquared_)) continue;
    const int32_t bound = int32_t(std::sqrt(squared));
    if (bound > threshold_) continue;
    const bool onePoint = page.leaf && lx == hx && ly == hy;
    Push({bound, !page.leaf, guessing_ && onePoint, uint16_t(page.leaf ? 0 : page.level - 1),
          depth + 1, page.leaf ? page.reference[i] : uint32_t(page.reference[i]),
          key | Key(i) << shift});
    if (guessing_ && onePoint) Guess(bound);
  }
  return true;
}

void NearestWalk::Push(const Item& item) {
  queue_.push_back(item);
  std::push_heap(queue_.begin(), queue_.end(), Later());
}

void NearestWalk::Guess(int32_t distance) {
  if (guesses_.size() < k_) {
    guesses_.push_back(distance);
    std::push_heap(guesses_.begin(), guesses_.end());
  } else if (distance < guesses_.front()) {
    std::pop_heap(guesses_.begin(), guesses_.end());
    guesses_.back() = distance;
    std::push_heap(guesses_.begin(), guesses_.end());
  } else {
    return;
  }
  if (guesses_.size() == k_) Tighten(std::min(reach_, guesses_.front()));
}

void NearestWalk::Tighten(int32_t limit) {
  threshold_ = limit;
  // sqrt rounds monotonically, so a truncated root of limit or less comes
  // from a square below (limit + 1)^2.
  thresholdSquared_ = (double(limit) + 1) * (double(limit) + 1);
}
