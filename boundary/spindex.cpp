#include "boundary/spindex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/pagefile.h"
#include "boundary/gsbformat.h"

namespace {

constexpr const char* kSource = "rtindex";
constexpr const char* kLocation = "rtIndex::rtIndex";

// Pages of any size of 48 bytes or more are read here, not only the
// builder's 32768.

// A grid is worth its cells from this many entries on; it has about
// kCellsPerEntry cells per entry, and is made coarser when entries spread
// over more than kItemsPerEntry cells each on average.
constexpr uint32_t kGridFrom = 48;
constexpr double kCellsPerEntry = 1.0;
constexpr uint32_t kGridMaxSide = 128;
constexpr uint32_t kItemsPerEntry = 8;
// Buckets of a grid axis: enough to hold about one border each where the
// borders crowd most.
constexpr int64_t kBucketsMax = 1024;


// Completions of "Spatial index page <n> ...".
constexpr const char* kUnreadable = "cannot be read.";
constexpr const char* kWrongSize = "states another size than the root.";
constexpr const char* kTooMany = "holds more entries than fit it.";
constexpr const char* kBadCheckValue = "does not match its check value.";
constexpr const char* kWrongLevel = "is not at the level its parent needs.";

}  // namespace

// ---- rtPage ----------------------------------------------------------------

void rtPage::Axis::Build() {
  buckets.clear();
  shift = 0;
  if (borders.empty()) return;
  first = borders.front();
  const int64_t range = int64_t(borders.back()) - first;
  while ((range >> shift) >= int64_t(kBucketsMax)) ++shift;
  const size_t count = size_t(range >> shift) + 1;
  buckets.resize(count);
  uint32_t below = 0;
  for (size_t b = 0; b < count; ++b) {
    const int64_t start = first + (int64_t(b) << shift);
    while (below < borders.size() && borders[below] < start) ++below;
    buckets[b] = uint16_t(below);
  }
}

uint32_t rtPage::CellOf(const SpatialRect& r) const {
  if (cellsX == 0 || r.x1 > r.x2 || r.y1 > r.y2) return kNone;
  const uint32_t cx = CellX(r.x1), cy = CellY(r.y1);
  if ((r.x2 != r.x1 && CellX(r.x2) != cx) || (r.y2 != r.y1 && CellY(r.y2) != cy)) return kNone;
  return cy * cellsX + cx;
}

size_t rtPage::Bytes() const {
  auto held = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
  return sizeof *this + held(rects) + held(reference) + held(childViews) +
         held(childGenerations) + held(axisX.borders) + held(axisX.buckets) +
         held(axisY.borders) + held(axisY.buckets) + held(start) + held(items);
}

void rtPage::Release(uint64_t newGeneration) {
  number = kNone;
  generation = newGeneration;
  count = 0;
  bytes = 0;
  cellsX = cellsY = 0;
  rects = {};
  reference = {};
  childViews = {};
  childGenerations = {};
  axisX = axisY = Axis();
  start = {};
  items = {};
}

// ---- rtIndex -----------------------------------------------------------------

rtIndex::rtIndex(QFile& file, uint64_t offset, pipError& error) : error_(error) {
  uint8_t header[kSmallestPage];
  if (offset > uint64_t(INT64_MAX) || !file.ReadAt(int64_t(offset), header, sizeof header)) return;
  const GsbPageHeader root = LoadGsbPageHeader(header);
  pageSize_ = root.pageSize;
  rootLevel_ = root.level;
  if (pageSize_ < kSmallestPage || offset % pageSize_ != 0 || offset / pageSize_ > UINT32_MAX)
    return;
  root_ = uint32_t(offset / pageSize_);
  const int64_t size = file.Size();
  pageCount_ = size > 0 ? uint64_t(size) / pageSize_ : 0;
  records_ = std::make_unique<QRecordMgr>(kLocation, file, 0, pageSize_, kRawPages, error);
  if (!records_->IsInitialised()) return;
  open_ = true;
}

const rtPage* rtIndex::Damaged(uint32_t number, const char* why) {
  char detail[128];
  StrFormat(detail, sizeof detail, "Spatial index page %u %s", number, why);
  error_.Report(Q_ERROR_CHECKSUM, detail, kSource, __LINE__);
  return nullptr;
}

void rtIndex::SetCacheBudget(uint64_t bytes) {
  budget_ = bytes;
  Trim(nullptr);
}

rtPage* rtIndex::FreeObject() {
  if (!free_.empty()) {
    rtPage* page = free_.back();
    free_.pop_back();
    return page;
  }
  objects_.push_back(std::make_unique<rtPage>());
  return objects_.back().get();
}

void rtIndex::Trim(const rtPage* keep) {
  while (cachedBytes_ > budget_ && byNumber_.size() > (keep ? 1u : 0u)) {
    // The least recently used page; a scan, since it runs only when a page
    // is decoded beyond the budget, which costs far more.
    rtPage* victim = nullptr;
    for (const auto& [number, page] : byNumber_)
      if (page != keep && (!victim || page->used < victim->used)) victim = page;
    byNumber_.erase(victim->number);
    cachedBytes_ -= victim->bytes;
    if (last_ == victim) last_ = nullptr;
    victim->Release(++generations_);
    free_.push_back(victim);
  }
}

const rtPage* rtIndex::Page(uint32_t number, uint16_t level) {
  if (!open_) return nullptr;
  if (last_ && last_->number == number && last_->level == level) {
    last_->used = ++tick_;
    return last_;
  }
  if (auto it = byNumber_.find(number); it != byNumber_.end()) {
    rtPage* page = it->second;
    page->used = ++tick_;
    last_ = page;
    if (page->level != level) return Damaged(number, kWrongLevel);
    return page;
  }
  const uint8_t* bytes = records_->GetRecord(number);
  if (!bytes) return Damaged(number, kUnreadable);
  rtPage* page = FreeObject();
  // A new generation before anything changes, so that no note of the page
  // this object held survives a failed decode.
  page->number = rtPage::kNone;
  page->generation = ++generations_;
  if (const char* why = Decode(bytes, level, page)) {
    page->Release(++generations_);
    free_.push_back(page);
    return Damaged(number, why);
  }
  ++decodes_;
  page->number = number;
  page->bytes = page->Bytes();
  page->used = ++tick_;
  byNumber_.emplace(number, page);
  cachedBytes_ += page->bytes;
  last_ = page;
  Trim(page);
  return page;
}

const rtPage* rtIndex::Child(const rtPage* parent, uint32_t i, uint32_t number, uint16_t level) {
  const rtPage* known = parent->childViews[i];
  if (known && known->generation == parent->childGenerations[i] && known->level == level) {
    known->used = ++tick_;
    return known;
  }
  const uint64_t parentGeneration = parent->generation;
  const rtPage* child = Page(number, level);
  // Decoding the child may have let the parent's page go.
  if (child && parent->generation == parentGeneration) {
    parent->childViews[i] = child;
    parent->childGenerations[i] = child->generation;
  }
  return child;
}

const char* rtIndex::Decode(const uint8_t* bytes, uint16_t level, rtPage* page) {
  const GsbPageHeader h = LoadGsbPageHeader(bytes);
  const uint16_t count = h.count;
  if (h.pageSize != pageSize_) return kWrongSize;
  if (!GsbPageHolds(pageSize_, count)) return kTooMany;
  if (!QPageCheckValueValid(bytes, pageSize_)) return kBadCheckValue;
  if (h.level != level) return kWrongLevel;
  page->count = count;
  page->level = level;
  page->leaf = (h.flags & kGsbPageLeaf) != 0;
  page->rects.resize(count);
  page->reference.resize(count);
  page->childViews.assign(page->leaf ? 0 : count, nullptr);
  page->childGenerations.assign(page->leaf ? 0 : count, 0);
  for (uint16_t i = 0; i < count; ++i) {
    const GsbPageEntry e = DecodeGsbPageEntry(bytes, i);
    page->rects[i] = {e.bounds.xmin, e.bounds.ymin, e.bounds.xmax, e.bounds.ymax};
    page->reference[i] = e.reference;
  }
  BuildGrid(page);
  return nullptr;
}

void rtIndex::BuildGrid(rtPage* p) {
  p->cellsX = p->cellsY = 0;
  p->axisX = p->axisY = rtPage::Axis();
  p->start.clear();
  p->items.clear();
  const uint32_t n = p->count;
  if (n < kGridFrom) return;
  std::vector<int32_t> xs(n), ys(n);
  for (uint32_t i = 0; i < n; ++i) {
    const SpatialRect& e = p->rects[i];
    xs[i] = int32_t((int64_t(e.x1) + e.x2) / 2);
    ys[i] = int32_t((int64_t(e.y1) + e.y2) / 2);
  }
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  uint32_t side =
      std::clamp<uint32_t>(uint32_t(std::sqrt(double(n) * kCellsPerEntry)), 2, kGridMaxSide);
  for (; side >= 2; side /= 2) {
    // Borders at quantiles of the centres; repeated ones are dropped, so
    // that no cell is empty by construction.
    auto borders = [side, n](const std::vector<int32_t>& centres, std::vector<int32_t>* out) {
      out->clear();
      for (uint32_t k = 1; k < side; ++k) {
        const int32_t b = centres[size_t(uint64_t(k) * n / side)];
        if (out->empty() || b > out->back()) out->push_back(b);
      }
    };
    borders(xs, &p->axisX.borders);
    borders(ys, &p->axisY.borders);
    p->axisX.Build();
    p->axisY.Build();
    p->cellsX = uint32_t(p->axisX.borders.size()) + 1;
    p->cellsY = uint32_t(p->axisY.borders.size()) + 1;
    // The cells an entry meets, its corners taken in order.
    auto span = [p](uint32_t i, uint32_t* cx0, uint32_t* cx1, uint32_t* cy0, uint32_t* cy1) {
      const SpatialRect& e = p->rects[i];
      *cx0 = p->CellX(std::min(e.x1, e.x2));
      *cx1 = p->CellX(std::max(e.x1, e.x2));
      *cy0 = p->CellY(std::min(e.y1, e.y2));
      *cy1 = p->CellY(std::max(e.y1, e.y2));
    };
    uint64_t total = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t cx0, cx1, cy0, cy1;
      span(i, &cx0, &cx1, &cy0, &cy1);
      total += uint64_t(cx1 - cx0 + 1) * (cy1 - cy0 + 1);
    }
    if (total > uint64_t(kItemsPerEntry) * n) continue;
    const uint32_t cells = p->cellsX * p->cellsY;
    p->start.assign(cells + 1, 0);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t cx0, cx1, cy0, cy1;
      span(i, &cx0, &cx1, &cy0, &cy1);
      for (uint32_t cy = cy0; cy <= cy1; ++cy)
        for (uint32_t cx = cx0; cx <= cx1; ++cx) ++p->start[cy * p->cellsX + cx + 1];
    }
    for (uint32_t c = 0; c < cells; ++c) p->start[c + 1] += p->start[c];
    p->items.resize(total);
    std::vector<uint32_t> fill(p->start.begin(), p->start.end() - 1);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t cx0, cx1, cy0, cy1;
      span(i, &cx0, &cx1, &cy0, &cy1);
      for (uint32_t cy = cy0; cy <= cy1; ++cy)
        for (uint32_t cx = cx0; cx <= cx1; ++cx)
          p->items[fill[cy * p->cellsX + cx]++] = {p->rects[i], i};
    }
    return;
  }
  p->cellsX = p->cellsY = 0;
  p->axisX = p->axisY = rtPage::Axis();
}

// ---- rtSpatialIndexEnum ----------------------------------------------------------

rtSpatialIndexEnum::rtSpatialIndexEnum(rtIndex& index) : index_(index) {}

std::unique_ptr<SpatialIndexEnum> rtSpatialIndex::CreateEnum() {
  return std::make_unique<rtSpatialIndexEnum>(index_);
}

bool rtSpatialIndexEnum::Push(const rtPage* p, uint32_t page, uint16_t level) {
  if (p && ++entered_ > index_.PageCount()) {
    index_.ReportDamaged(page, kSpatialPageEnteredTooOften);
    p = nullptr;
  }
  if (!p) {
    failed_ = true;
    top_ = -1;
    return false;
  }
  const Frame frame{p, p->generation, page, 0, p->CellOf(rect_), level};
  if (frame.cell != rtPage::kNone) {
    // A cell without entries leaves nothing to visit on this page.
    const uint32_t first = p->start[frame.cell];
    if (first == p->start[frame.cell + 1]) return true;
    __builtin_prefetch(&p->items[first]);
  }
  ++top_;
  if (top_ >= kInlineFrames + int32_t(deeper_.size())) deeper_.emplace_back();
  At(top_) = frame;
  return true;
}

bool rtSpatialIndexEnum::First(const SpatialRect& rect, uint64_t* offset) {
  rect_ = rect;
  top_ = -1;
  entered_ = 0;
  failed_ = false;
  const uint32_t root = index_.RootPage();
  if (!Push(index_.Page(root, index_.RootLevel()), root, index_.RootLevel())) return false;
  return Next(offset);
}

bool rtSpatialIndexEnum::Next(uint64_t* offset) {
  if (top_ < 0) return false;
  for (;;) {
    Frame& frame = At(top_);
    const rtPage* page = frame.view;
    if (page->generation != frame.generation) {
      page = index_.Page(frame.page, frame.level);
      if (!page) {
        failed_ = true;
        top_ = -1;
        return false;
      }
      frame.view = page;
      frame.generation = page->generation;
    }
    uint32_t hit = rtPage::kNone;
    if (frame.cell != rtPage::kNone) {
      const uint32_t end = page->start[frame.cell + 1];
      for (uint32_t k = page->start[frame.cell] + frame.next; k < end; ++k) {
        ++frame.next;
        const SpatialRect& e = page->items[k].rect;
        if (!(rect_.x2 < e.x1 || rect_.x1 > e.x2 || rect_.y2 < e.y1 || rect_.y1 > e.y2)) {
          hit = page->items[k].entry;
          break;
        }
      }
    } else {
      for (uint32_t i = frame.next; i < page->count; ++i) {
        if (page->Meets(i, rect_)) {
          hit = i;
          break;
        }
      }
      frame.next = hit == rtPage::kNone ? page->count : hit + 1;
    }
    if (hit == rtPage::kNone) {
      if (--top_ < 0) return false;
      continue;
    }
    if (page->leaf) {
      *offset = page->reference[hit];
      return true;
    }
    // A child one level down; the level of a leaf's parent is at least 1.
    const uint32_t child = uint32_t(page->reference[hit]);
    const uint16_t level = frame.level;
    if (level == 0) {
      index_.ReportDamaged(frame.page, kSpatialPageBelowLeaves);
      failed_ = true;
      top_ = -1;
      return false;
    }
    if (!Push(index_.Child(page, hit, child, uint16_t(level - 1)), child, uint16_t(level - 1)))
      return false;
  }
}

// ---- old grid index ------------------------------------------------------------

std::unique_ptr<SpatialIndexEnum> QxySpatialIndex::CreateEnum() {
  return std::make_unique<QxySpatialIndexEnum>(index_);
}

bool QxySpatialIndexEnum::First(const SpatialRect& r, uint64_t* offset) {
  started_ = index_.First(walk_, QxyGridCells(r.x1, r.y1, r.x2, r.y2));
  return started_ && Next(offset);
}

bool QxySpatialIndexEnum::Next(uint64_t* offset) {
  if (!started_) return false;
  uint8_t data[8] = {};
  if (!index_.Next(walk_, data, sizeof data)) {
    started_ = false;
    return false;
  }
  *offset = QLoadU64LE(data);
  return true;
}
