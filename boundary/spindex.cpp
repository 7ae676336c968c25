#include "boundary/spindex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/pagefile.h"
#include "boundary/gsbformat.h"

namespace {

constexpr const char* kSource = "rtindex";
constexpr const char* kLocation = "rtIndex::rtIndex";
static_assert(rtIndex::kDefaultCacheBudget == PIP_INDEX_CACHE_BYTES);

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
constexpr const char* kWrongLevel = kRtWrongLevelText;
constexpr const char* kBelowLeaves = kSpatialPageBelowLeaves;
constexpr const char* kEnteredTooOften = kSpatialPageEnteredTooOften;

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
  return sizeof *this + held(rects) + held(reference) + held(axisX.borders) +
         held(axisX.buckets) + held(axisY.borders) + held(axisY.buckets) + held(start) +
         held(items);
}

// ---- rtPageStore ---------------------------------------------------------------

rtPageStore::rtPageStore(QFile& file, uint64_t offset) {
  uint8_t header[rtIndex::kSmallestPage];
  if (offset > uint64_t(INT64_MAX) || !file.ReadAt(int64_t(offset), header, sizeof header)) return;
  const GsbPageHeader root = LoadGsbPageHeader(header);
  pageSize_ = root.pageSize;
  rootLevel_ = root.level;
  if (pageSize_ < rtIndex::kSmallestPage || offset % pageSize_ != 0 ||
      offset / pageSize_ > UINT32_MAX)
    return;
  root_ = uint32_t(offset / pageSize_);
  const int64_t size = file.Size();
  pageCount_ = size > 0 ? uint64_t(size) / pageSize_ : 0;
  records_ = std::make_unique<QRecordMgr>(kLocation, file, 0, pageSize_, rtIndex::kRawPages,
                                          recordError_);
  if (!records_->IsInitialised()) return;
  // A slot for every page the file can hold: 8 bytes per page, against the
  // page's own size of 48 or more.
  slots_ = std::make_unique<std::atomic<rtPage*>[]>(size_t(pageCount_));
  open_ = true;
}

rtPageStore::~rtPageStore() {
  // No reader is left: every rtIndex holds the store.
  for (const Retired& r : retired_) delete r.page;
  for (uint32_t n : resident_) delete slots_[n].load(std::memory_order_relaxed);
}

void rtPageStore::Join(Reader* reader) {
  std::lock_guard<std::mutex> hold(mutex_);
  readers_.push_back(reader);
}

void rtPageStore::Leave(Reader* reader) {
  std::lock_guard<std::mutex> hold(mutex_);
  readers_.erase(std::remove(readers_.begin(), readers_.end(), reader), readers_.end());
  Collect();
}

void rtPageStore::SetBudget(uint64_t bytes) {
  std::lock_guard<std::mutex> hold(mutex_);
  budget_.store(bytes, std::memory_order_relaxed);
  Trim(nullptr);
}

uint64_t rtPageStore::CachedBytes() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return cachedBytes_;
}

size_t rtPageStore::CachedPages() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return resident_.size();
}

uint64_t rtPageStore::Decodes() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return decodes_;
}

const rtPage* rtPageStore::Load(uint32_t number, uint16_t level, const char** why) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (const rtPage* page = Find(number)) {
    // Another reader decoded it meanwhile.
    if (page->level == level) return page;
    *why = kWrongLevel;
    return nullptr;
  }
  const uint8_t* bytes = number < pageCount_ ? records_->GetRecord(number) : nullptr;
  if (!bytes) {
    *why = kUnreadable;
    return nullptr;
  }
  auto page = std::make_unique<rtPage>();
  if ((*why = Decode(bytes, level, page.get()))) return nullptr;
  ++decodes_;
  page->number = number;
  page->generation = ++generations_;
  page->bytes = page->Bytes();
  rtPage* published = page.release();
  slots_[number].store(published, std::memory_order_seq_cst);
  resident_.push_back(number);
  cachedBytes_ += published->bytes;
  Trim(published);
  return published;
}

void rtPageStore::Trim(const rtPage* keep) {
  const uint64_t budget = budget_.load(std::memory_order_relaxed);
  while (cachedBytes_ > budget && resident_.size() > (keep ? 1u : 0u)) {
    if (hand_ >= resident_.size()) hand_ = 0;
    const uint32_t number = resident_[hand_];
    rtPage* page = slots_[number].load(std::memory_order_relaxed);
    // A second chance for a page used since the sweep last passed it.
    if (page == keep || page->referenced.exchange(0, std::memory_order_relaxed)) {
      ++hand_;
      continue;
    }
    slots_[number].store(nullptr, std::memory_order_seq_cst);
    resident_[hand_] = resident_.back();
    resident_.pop_back();
    cachedBytes_ -= page->bytes;
    retired_.push_back({page, epoch_.fetch_add(1, std::memory_order_seq_cst)});
  }
  Collect();
}

void rtPageStore::Collect() {
  if (retired_.empty()) return;
  // A reader that entered at an epoch after a page's retirement cannot have
  // found it: its slot was cleared before.
  uint64_t oldest = UINT64_MAX;
  for (const Reader* r : readers_) {
    const uint64_t e = r->entered.load(std::memory_order_seq_cst);
    if (e != 0) oldest = std::min(oldest, e);
  }
  size_t kept = 0;
  for (const Retired& r : retired_) {
    if (r.epoch < oldest)
      delete r.page;
    else
      retired_[kept++] = r;
  }
  retired_.resize(kept);
}

// ---- rtIndex -----------------------------------------------------------------

rtIndex::rtIndex(QFile& file, uint64_t offset, pipError& error)
    : rtIndex(std::make_shared<rtPageStore>(file, offset), error) {}

rtIndex::rtIndex(std::shared_ptr<rtPageStore> store, pipError& error)
    : error_(error), store_(std::move(store)), reader_(std::make_unique<rtPageStore::Reader>()) {
  store_->Join(reader_.get());
}

rtIndex::~rtIndex() {
  if (reader_->entered.load(std::memory_order_relaxed) != 0) store_->Exit(*reader_);
  store_->Leave(reader_.get());
}

const rtPage* rtIndex::Damaged(uint32_t number, const char* why) {
  char detail[128];
  StrFormat(detail, sizeof detail, "Spatial index page %u %s", number, why);
  error_.Report(Q_ERROR_CHECKSUM, detail, kSource, __LINE__);
  return nullptr;
}

const rtPage* rtIndex::Load(uint32_t number, uint16_t level) {
  if (!IsOpen()) return nullptr;
  const char* why = nullptr;
  const rtPage* page = store_->Load(number, level, &why);
  return page ? page : Damaged(number, why);
}

const char* rtPageStore::Decode(const uint8_t* bytes, uint16_t level, rtPage* page) const {
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
  for (uint16_t i = 0; i < count; ++i) {
    const GsbPageEntry e = DecodeGsbPageEntry(bytes, i);
    page->rects[i] = {e.bounds.xmin, e.bounds.ymin, e.bounds.xmax, e.bounds.ymax};
    page->reference[i] = e.reference;
  }
  BuildGrid(page);
  return nullptr;
}

void rtPageStore::BuildGrid(rtPage* p) {
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
  const Frame frame{p, page, 0, p->CellOf(rect_), level};
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
  rtIndex::Pin pin(index_);
  const uint32_t root = index_.RootPage();
  if (!Push(index_.Page(root, index_.RootLevel()), root, index_.RootLevel())) return false;
  return Step(offset);
}

bool rtSpatialIndexEnum::Next(uint64_t* offset) {
  if (top_ < 0) return false;
  rtIndex::Pin pin(index_);
  // The pages seen by the last step may have given way since.
  for (int32_t i = 0; i <= top_; ++i) At(i).view = nullptr;
  return Step(offset);
}

bool rtSpatialIndexEnum::Step(uint64_t* offset) {
  if (top_ < 0) return false;
  for (;;) {
    Frame& frame = At(top_);
    const rtPage* page = frame.view;
    if (!page) {
      page = index_.Page(frame.page, frame.level);
      if (!page) {
        failed_ = true;
        top_ = -1;
        return false;
      }
      frame.view = page;
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
