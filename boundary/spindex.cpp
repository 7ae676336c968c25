#include "boundary/spindex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/pagefile.h"
#include "boundary/gsbformat.h"

namespace {

constexpr const char* kSource = "rtindex";
constexpr const char* kLocation = "rtIndex::rtIndex";

// Page header offsets (the layout of boundary/gsbformat.h; pages of any size
// of 48 bytes or more are read here, not only the builder's 32768).
constexpr size_t kPageCount = 0;
constexpr size_t kPageFlags = 2;
constexpr size_t kPageSizeField = 4;
constexpr size_t kPageLevel = 6;

// A grid is worth its cells from this many entries on; cells hold about
// kEntriesPerCell entries each, and the grid is given up when entries spread
// over more than kItemsPerEntry cells each on average.
constexpr uint32_t kGridFrom = 48;
constexpr uint32_t kEntriesPerCell = 2;
constexpr uint32_t kGridMaxSide = 64;
constexpr uint32_t kItemsPerEntry = 8;

int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(QLoadU32LE(p)); }

// Completions of "Spatial index page <n> ...".
constexpr const char* kUnreadable = "cannot be read.";
constexpr const char* kWrongSize = "states another size than the root.";
constexpr const char* kTooMany = "holds more entries than fit it.";
constexpr const char* kBadCheckValue = "does not match its check value.";
constexpr const char* kWrongLevel = "is not at the level its parent needs.";
constexpr const char* kBelowLeaves = "leads below the leaf level.";

}  // namespace

// ---- rtPage ----------------------------------------------------------------

uint32_t rtPage::CellX(int64_t x) const {
  int64_t c = (x - gridX0) / cellWidth;
  return uint32_t(std::clamp<int64_t>(c, 0, int64_t(cellsX) - 1));
}

uint32_t rtPage::CellY(int64_t y) const {
  int64_t c = (y - gridY0) / cellHeight;
  return uint32_t(std::clamp<int64_t>(c, 0, int64_t(cellsY) - 1));
}

uint32_t rtPage::CellOf(const SpatialRect& r) const {
  if (cellsX == 0 || r.x1 > r.x2 || r.y1 > r.y2) return kNone;
  const uint32_t cx = CellX(r.x1), cy = CellY(r.y1);
  if (CellX(r.x2) != cx || CellY(r.y2) != cy) return kNone;
  return cy * cellsX + cx;
}

// ---- rtIndex -----------------------------------------------------------------

rtIndex::rtIndex(QFile& file, uint64_t offset, pipError& error) : error_(error) {
  uint8_t header[kSmallestPage];
  if (offset > uint64_t(INT64_MAX) || !file.ReadAt(int64_t(offset), header, sizeof header)) return;
  pageSize_ = QLoadU16LE(header + kPageSizeField);
  rootLevel_ = QLoadU16LE(header + kPageLevel);
  if (pageSize_ < kSmallestPage || offset % pageSize_ != 0 || offset / pageSize_ > UINT32_MAX)
    return;
  root_ = uint32_t(offset / pageSize_);
  records_ = std::make_unique<QRecordMgr>(kLocation, file, 0, pageSize_, kCachedPages, error);
  if (!records_->IsInitialised()) return;
  pages_.resize(kCachedPages);
  used_.assign(kCachedPages, 0);
  open_ = true;
}

const rtPage* rtIndex::Damaged(uint32_t number, const char* why) {
  char detail[128];
  StrFormat(detail, sizeof detail, "Spatial index page %u %s", number, why);
  error_.Report(Q_ERROR_CHECKSUM, detail, kSource, __LINE__);
  return nullptr;
}

const rtPage* rtIndex::Page(uint32_t number, uint16_t level) {
  if (!open_) return nullptr;
  size_t victim = 0;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i] && pages_[i]->number == number) {
      used_[i] = ++tick_;
      if (pages_[i]->level != level) return Damaged(number, kWrongLevel);
      return pages_[i].get();
    }
    if (used_[i] < used_[victim]) victim = i;
  }
  const uint8_t* bytes = records_->GetRecord(number);
  if (!bytes) return Damaged(number, kUnreadable);
  if (!pages_[victim]) pages_[victim] = std::make_unique<rtPage>();
  rtPage* page = pages_[victim].get();
  page->number = rtPage::kNone;
  used_[victim] = 0;
  if (const char* why = Decode(bytes, level, page)) return Damaged(number, why);
  page->number = number;
  used_[victim] = ++tick_;
  return page;
}

const char* rtIndex::Decode(const uint8_t* bytes, uint16_t level, rtPage* page) {
  const uint16_t count = QLoadU16LE(bytes + kPageCount);
  if (QLoadU16LE(bytes + kPageSizeField) != pageSize_) return kWrongSize;
  if (kGsbPageHeaderSize + size_t(count) * kGsbPageEntrySize > size_t(pageSize_) - 2)
    return kTooMany;
  if (!QPageCheckValueValid(bytes, pageSize_)) return kBadCheckValue;
  if (QLoadU16LE(bytes + kPageLevel) != level) return kWrongLevel;
  page->count = count;
  page->level = level;
  page->leaf = (bytes[kPageFlags] & kGsbPageLeaf) != 0;
  page->x1.resize(count);
  page->y1.resize(count);
  page->x2.resize(count);
  page->y2.resize(count);
  page->reference.resize(count);
  const uint8_t* e = bytes + kGsbPageHeaderSize;
  for (uint32_t i = 0; i < count; ++i, e += kGsbPageEntrySize) {
    page->x1[i] = LoadI32(e);
    page->y1[i] = LoadI32(e + 4);
    page->x2[i] = LoadI32(e + 8);
    page->y2[i] = LoadI32(e + 12);
    page->reference[i] = QLoadU64LE(e + 16);
  }
  BuildGrid(page);
  return nullptr;
}

void rtIndex::BuildGrid(rtPage* p) {
  p->cellsX = p->cellsY = 0;
  p->start.clear();
  p->items.clear();
  const uint32_t n = p->count;
  if (n < kGridFrom) return;
  // The extent of the entries, each taken with its corners in order.
  int64_t xmin = INT64_MAX, ymin = INT64_MAX, xmax = INT64_MIN, ymax = INT64_MIN;
  for (uint32_t i = 0; i < n; ++i) {
    xmin = std::min<int64_t>(xmin, std::min(p->x1[i], p->x2[i]));
    xmax = std::max<int64_t>(xmax, std::max(p->x1[i], p->x2[i]));
    ymin = std::min<int64_t>(ymin, std::min(p->y1[i], p->y2[i]));
    ymax = std::max<int64_t>(ymax, std::max(p->y1[i], p->y2[i]));
  }
  uint32_t side = uint32_t(std::sqrt(double(n) / kEntriesPerCell));
  side = std::clamp<uint32_t>(side, 2, kGridMaxSide);
  for (; side >= 2; side /= 2) {
    p->cellsX = p->cellsY = side;
    p->gridX0 = xmin;
    p->gridY0 = ymin;
    p->cellWidth = std::max<int64_t>(1, (xmax - xmin) / side + 1);
    p->cellHeight = std::max<int64_t>(1, (ymax - ymin) / side + 1);
    // Counting pass, then filling pass, cell by cell in entry order.
    uint64_t total = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint64_t w = p->CellX(std::max(p->x1[i], p->x2[i])) - p->CellX(std::min(p->x1[i], p->x2[i])) + 1;
      uint64_t h = p->CellY(std::max(p->y1[i], p->y2[i])) - p->CellY(std::min(p->y1[i], p->y2[i])) + 1;
      total += w * h;
    }
    if (total > uint64_t(kItemsPerEntry) * n) continue;
    const uint32_t cells = side * side;
    p->start.assign(cells + 1, 0);
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t cx0 = p->CellX(std::min(p->x1[i], p->x2[i]));
      const uint32_t cx1 = p->CellX(std::max(p->x1[i], p->x2[i]));
      const uint32_t cy0 = p->CellY(std::min(p->y1[i], p->y2[i]));
      const uint32_t cy1 = p->CellY(std::max(p->y1[i], p->y2[i]));
      for (uint32_t cy = cy0; cy <= cy1; ++cy)
        for (uint32_t cx = cx0; cx <= cx1; ++cx) ++p->start[cy * side + cx + 1];
    }
    for (uint32_t c = 0; c < cells; ++c) p->start[c + 1] += p->start[c];
    p->items.resize(total);
    std::vector<uint32_t> fill(p->start.begin(), p->start.end() - 1);
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t cx0 = p->CellX(std::min(p->x1[i], p->x2[i]));
      const uint32_t cx1 = p->CellX(std::max(p->x1[i], p->x2[i]));
      const uint32_t cy0 = p->CellY(std::min(p->y1[i], p->y2[i]));
      const uint32_t cy1 = p->CellY(std::max(p->y1[i], p->y2[i]));
      for (uint32_t cy = cy0; cy <= cy1; ++cy)
        for (uint32_t cx = cx0; cx <= cx1; ++cx) p->items[fill[cy * side + cx]++] = uint16_t(i);
    }
    return;
  }
  p->cellsX = p->cellsY = 0;
}

// ---- rtSpatialIndexEnum ----------------------------------------------------------

rtSpatialIndexEnum::rtSpatialIndexEnum(rtIndex& index) : index_(index) {
  stack_.reserve(std::min<size_t>(size_t(index.RootLevel()) + 1, 16));
}

std::unique_ptr<SpatialIndexEnum> rtSpatialIndex::CreateEnum() {
  return std::make_unique<rtSpatialIndexEnum>(index_);
}

bool rtSpatialIndexEnum::Push(uint32_t page, uint16_t level) {
  const rtPage* p = index_.Page(page, level);
  if (!p) {
    failed_ = true;
    top_ = -1;
    return false;
  }
  const Frame frame{page, 0, p->CellOf(rect_), level};
  ++top_;
  if (size_t(top_) < stack_.size())
    stack_[size_t(top_)] = frame;
  else
    stack_.push_back(frame);
  return true;
}

bool rtSpatialIndexEnum::First(const SpatialRect& rect, uint64_t* offset) {
  rect_ = rect;
  top_ = -1;
  failed_ = false;
  if (!Push(index_.RootPage(), index_.RootLevel())) return false;
  return Next(offset);
}

bool rtSpatialIndexEnum::Next(uint64_t* offset) {
  if (top_ < 0) return false;
  for (;;) {
    Frame& frame = stack_[size_t(top_)];
    const rtPage* page = index_.Page(frame.page, frame.level);
    if (!page) {
      failed_ = true;
      top_ = -1;
      return false;
    }
    uint32_t hit = rtPage::kNone;
    if (frame.cell != rtPage::kNone) {
      const uint32_t end = page->start[frame.cell + 1];
      for (uint32_t k = page->start[frame.cell] + frame.next; k < end; ++k) {
        ++frame.next;
        if (page->Meets(page->items[k], rect_)) {
          hit = page->items[k];
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
      index_.ReportDamaged(frame.page, kBelowLeaves);
      failed_ = true;
      top_ = -1;
      return false;
    }
    if (!Push(child, uint16_t(level - 1))) return false;
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
