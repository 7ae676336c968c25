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
  const QFile& file = search.File();
  if (file.IsMapped() && offset >= kGsbHeaderSize && offset < file.ViewSize()) {
    const size_t n = std::min<size_t>(kGsbPointFixedSize, file.ViewSize() - offset);
    if (DecodeGsbPointHead(file.View() + offset, n, out)) return true;
  }
  uint8_t bytes[kGsbPointFixedSize];
  const uint64_t size = search.FileSize();
  if (!file.IsMapped() && offset >= kGsbHeaderSize && offset < size) {
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
  const QFile& file = search.File();
  view_ = file.IsMapped() ? file.View() : nullptr;
  viewSize_ = view_ ? file.ViewSize() : 0;
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
  // Pages are taken by number at each step; the pin lets pages other
  // readers push out go only once the walk has ended.
  rtIndex::Pin pin(index);
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
    const int32_t d = head.kind == kGsbPoint ? Distance(head.x, head.y) : -1;
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

int32_t NearestWalk::Distance(int32_t x, int32_t y) const {
  // pipDistance's steps, with its factors taken once for the walk.
  const double dx = double(int64_t(x) - x_) * fx_;
  const double dy = double(int64_t(y) - y_) * fy_;
  const double d = std::sqrt(dx * dx + dy * dy);
  if (!std::isfinite(d) || d >= 2147483648.0) return -1;
  return int32_t(d);
}

bool NearestWalk::Expand(rtIndex& index, const rtPage& page, uint32_t number, uint32_t depth,
                         Key key) {
  if (!page.leaf && page.level == 0) {
    index.ReportDamaged(number, kSpatialPageBelowLeaves);
    return false;
  }
  if (page.cellsX == 0) {
    for (uint32_t i = 0; i < page.count; ++i) Consider(page, page.rects[i], i, depth, key);
    return true;
  }
  // Cells in rings about the search point's cell, nearest rings first, so
  // that near points tighten the threshold before the far ones are met;
  // the rings end where the nearest of their cells lies beyond it. Each
  // entry is taken in one cell: the one of its rectangle's point nearest
  // the search point, which is no farther than the entry.
  const uint32_t cx = page.CellX(x_), cy = page.CellY(y_);
  Squares(page.axisX, x_, fx_, cx, &columns_);
  Squares(page.axisY, y_, fy_, cy, &rows_);
  const uint32_t rings = std::max({cx, page.cellsX - 1 - cx, cy, page.cellsY - 1 - cy});
  for (uint32_t ring = 0; ring <= rings; ++ring) {
    double nearest = HUGE_VAL;
    if (ring <= cx) nearest = std::min(nearest, columns_[cx - ring]);
    if (cx + ring < page.cellsX) nearest = std::min(nearest, columns_[cx + ring]);
    if (ring <= cy) nearest = std::min(nearest, rows_[cy - ring]);
    if (cy + ring < page.cellsY) nearest = std::min(nearest, rows_[cy + ring]);
    if (!(nearest <= thresholdSquared_)) break;
    const uint32_t c0 = cx >= ring ? cx - ring : 0;
    const uint32_t c1 = std::min(cx + ring, page.cellsX - 1);
    const uint32_t r0 = cy >= ring ? cy - ring : 0;
    const uint32_t r1 = std::min(cy + ring, page.cellsY - 1);
    auto visit = [&](uint32_t column, uint32_t row) {
      if (columns_[column] + rows_[row] <= thresholdSquared_)
        ConsiderCell(page, column, row, depth, key);
    };
    for (uint32_t row = r0; row <= r1; ++row) {
      if ((ring <= cy && row == cy - ring) || row == cy + ring) {
        for (uint32_t column = c0; column <= c1; ++column) visit(column, row);
        continue;
      }
      // Between its first and last rows the ring has two cells.
      if (ring <= cx) visit(cx - ring, row);
      if (cx + ring < page.cellsX) visit(cx + ring, row);
    }
  }
  return true;
}

void NearestWalk::Squares(const rtPage::Axis& axis, int32_t at, double factor, uint32_t home,
                          std::vector<double>* out) {
  const size_t n = axis.borders.size() + 1;
  out->resize(n);
  for (size_t c = 0; c < n; ++c) {
    // The cell's value nearest at: below it, its last; above it, its first.
    int64_t gap = 0;
    if (c < home) gap = int64_t(axis.borders[c]) - 1 - at;
    if (c > home) gap = int64_t(axis.borders[c - 1]) - at;
    const double d = double(gap) * factor;
    (*out)[c] = d * d;
  }
}

void NearestWalk::ConsiderCell(const rtPage& page, uint32_t column, uint32_t row, uint32_t depth,
                               Key key) {
  const uint32_t cell = row * page.cellsX + column;
  for (uint32_t k = page.start[cell], end = page.start[cell + 1]; k < end; ++k) {
    const rtPage::Item& item = page.items[k];
    const SpatialRect& r = item.rect;
    if (r.x1 != r.x2 || r.y1 != r.y2) {
      const int32_t px = std::clamp(x_, std::min(r.x1, r.x2), std::max(r.x1, r.x2));
      const int32_t py = std::clamp(y_, std::min(r.y1, r.y2), std::max(r.y1, r.y2));
      if (page.CellX(px) != column || page.CellY(py) != row) continue;
    }
    Consider(page, r, item.entry, depth, key);
  }
}

void NearestWalk::Consider(const rtPage& page, const SpatialRect& r, uint32_t i, uint32_t depth,
                           Key key) {
  const int32_t lx = std::min(r.x1, r.x2), hx = std::max(r.x1, r.x2);
  const int32_t ly = std::min(r.y1, r.y2), hy = std::max(r.y1, r.y2);
  // pipDistance's steps at the rectangle's point nearest the search point.
  const double dx = double(int64_t(std::clamp(x_, lx, hx)) - x_) * fx_;
  const double dy = double(int64_t(std::clamp(y_, ly, hy)) - y_) * fy_;
  const double squared = dx * dx + dy * dy;
  if (!(squared <= thresholdSquared_)) return;
  const int32_t bound = int32_t(std::sqrt(squared));
  if (bound > threshold_) return;
  // A page at depth d is at level root - d, and the tree fits the key.
  const uint32_t shift = uint32_t(8 * sizeof(Key)) - (depth + 1) * bits_;
  const bool guess = guessing_ && page.leaf && lx == hx && ly == hy;
  Item item;
  item.bound = bound;
  item.level = uint16_t(page.leaf ? 0 : page.level - 1);
  item.depth = uint8_t(depth + 1);
  item.page = !page.leaf;
  item.guess = guess;
  item.reference = page.leaf ? page.reference[i] : uint32_t(page.reference[i]);
  item.key = key | Key(i) << shift;
  Push(item);
  // The record is read when the entry comes out of the queue; most that
  // are queued do, so its first bytes are asked for now.
  if (page.leaf && page.reference[i] < viewSize_) __builtin_prefetch(view_ + page.reference[i]);
  if (guess) Guess(bound);
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
