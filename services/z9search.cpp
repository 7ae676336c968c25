#include "services/z9search.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/endian.h"
#include "boundary/polysrch.h"
#include "boundary/search.h"

namespace {

// Report lines (source "z9search").
constexpr int kLineOpen = 212;
constexpr int kLineSignature = 236;
constexpr int kLineKeyMemory = 281;
constexpr int kLineSeek = 330;
constexpr int kLineDamaged = 352;

constexpr uint32_t kRecordCountMax = 65535;
constexpr char kDamagedText[] = "ZIP+4 centroid file page %llu is damaged: %s";

int32_t Held(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// "%05u%04u" of the ZIP Code and add-on (both below their digit counts), as
// every hit writes it.
void FormatCode(char* out, uint32_t zip, uint32_t addOn) {
  for (int i = 4; i >= 0; --i, zip /= 10) out[i] = char('0' + zip % 10);
  for (int i = 8; i >= 5; --i, addOn /= 10) out[i] = char('0' + addOn % 10);
  out[9] = '\0';
}

}  // namespace

Z9Search::Z9Search(pipErrorRef error) : error_(std::move(error)), file_(*error_) {}

bool Z9Search::Fail(int32_t status) {
  status_ = status;
  return false;
}

bool Z9Search::Damaged(uint64_t page, const char* why) {
  char detail[256];
  std::snprintf(detail, sizeof detail, kDamagedText, static_cast<unsigned long long>(page), why);
  error_->Report(Q_ERROR_CHECKSUM, detail, kZ9SearchSource, kLineDamaged);
  return Fail(kDamaged);
}

bool Z9Search::Open(const char* path) {
  errno = 0;
  if (!path || !file_.Open(path, QFile::kRead)) {
    const int code = errno ? errno : Q_ERROR_FILE_NOT_FOUND;
    char found[1024];
    const char* other = path ? FindFileOnPath(nullptr, path, found, sizeof found) : nullptr;
    if (!other || !file_.Open(other, QFile::kRead)) {
      error_->Report(code, path ? path : "", kZ9SearchSource, kLineOpen);
      return Fail(kNotOpened);
    }
  }
  size_ = file_.Size();
  keyIndex_.reset(new (std::nothrow) Page);
  block_.reset(new (std::nothrow) Page);
  data_.reset(new (std::nothrow) Page);
  if (!keyIndex_ || !block_ || !data_) {
    error_->Report(Q_ERROR_MEMORY, kZ9KeyMemoryText, kZ9SearchSource, kLineKeyMemory);
    return Fail(kNotOpened);
  }
  // The header page goes through the data page's buffer: it is read once.
  if (!Load(*data_, 0)) return false;
  const uint8_t* h = data_->bytes;
  if (QLoadU32LE(h + kZ9SignatureOffset) != kZ9Signature) {
    error_->Report(Q_ERROR_SIGNATURE, kZ9SignatureText, kZ9SearchSource, kLineSignature);
    return Fail(kBadSignature);
  }
  largest_ = QLoadU32LE(h + kZ9LargestRecordsOffset);
  form_ = h[kZ9FormOffset];
  const uint32_t key9 = QLoadU32LE(h + kZ9Key9IndexOffset);
  if (QLoadU16LE(h + kZ9Key5CountOffset) > kZ9Key5CountMax)
    return Damaged(0, "the 5-character key index holds more than 438 entries");
  if (largest_ > kRecordCountMax) return Damaged(0, "its largest record count passes 65535");
  if (key9 % kZ9PageSize != 0 || key9 == 0)
    return Damaged(0, "the 9-character key index does not start a page");
  data_->number = UINT64_MAX;
  try {
    keys_.assign(largest_, 0);
  } catch (const std::bad_alloc&) {
    error_->Report(Q_ERROR_MEMORY, kZ9KeyMemoryText, kZ9SearchSource, kLineKeyMemory);
    return Fail(kNotOpened);
  }
  keyIndexPage_ = key9 / kZ9PageSize;
  if (!LoadIndex(*keyIndex_, keyIndexPage_)) return false;
  status_ = kGood;
  return true;
}

bool Z9Search::Load(Page& page, uint64_t number) {
  if (page.number == number) return true;
  page.number = UINT64_MAX;
  const uint64_t offset = Z9PageOffset(number);
  if (size_ < 0 || offset > uint64_t(size_) || kZ9PageSize > uint64_t(size_) - offset)
    return Damaged(number, "it lies past the end of the file");
  errno = 0;
  if (!file_.ReadAt(int64_t(offset), page.bytes, kZ9PageSize)) {
    char detail[256];
    std::snprintf(detail, sizeof detail, "%s (%s)", kZ9SeekText, kZ9LoadCaller);
    error_->Report(errno ? errno : Q_ERROR_UNKNOWN, detail, kZ9SearchSource, kLineSeek);
    return Fail(kSeekFailed);
  }
  page.number = number;
  return true;
}

bool Z9Search::LoadIndex(Page& page, uint64_t number) {
  if (page.number == number) return true;
  if (!Load(page, number)) return false;
  page.count = QLoadU16LE(page.bytes);
  if (page.count > kZ9IndexCountMax) {
    page.number = UINT64_MAX;
    return Damaged(number, "its index holds more than 511 entries");
  }
  return true;
}

uint32_t Z9Search::IndexKey(const Page& page, uint32_t i) const {
  return QLoadU32LE(page.bytes + kZ9IndexKeysOffset + 4 * size_t{i});
}

uint32_t Z9Search::IndexEntry(const Page& page, uint32_t key) const {
  uint32_t low = 0, high = page.count;  // the first entry above key
  while (low < high) {
    const uint32_t middle = (low + high) / 2;
    if (IndexKey(page, middle) <= key)
      low = middle + 1;
    else
      high = middle;
  }
  if (low == 0) return 0;
  uint32_t entry = low - 1;
  while (entry > 0 && IndexKey(page, entry - 1) == key) --entry;
  return entry;
}

bool Z9Search::EnterBlock(uint32_t entry) {
  entry_ = entry;
  const uint64_t number = keyIndexPage_ + 1 + uint64_t{entry} * kZ9BlockStride;
  if (!LoadIndex(*block_, number)) return false;
  if (block_->count == 0) return Damaged(number, "its block index is empty");
  return true;
}

bool Z9Search::EnterData(uint32_t entry) {
  blockEntry_ = entry;
  recordIndex_ = 0;
  const uint64_t number = block_->number + 1 + entry;
  if (data_->number == number) return true;
  if (!Load(*data_, number)) return false;
  const uint8_t* p = data_->bytes;
  const uint32_t n = QLoadU16LE(p + kZ9CountOffset);
  size_t total = kZ9StreamsOffset;
  for (size_t c = 0; c < kZ9Columns; ++c) total += QLoadU16LE(p + 2 * c);
  auto fail = [&](const char* why) {
    data_->number = UINT64_MAX;
    return Damaged(number, why);
  };
  if (n > largest_) return fail("its record count passes the header's largest");
  if (total > kZ9PageSize) return fail("its columns pass the end of the page");
  const uint8_t* at = p + kZ9StreamsOffset;
  for (size_t c = 0; c < kZ9Columns; ++c) {
    const size_t length = QLoadU16LE(p + 2 * c);
    // Files before form 3 have no eighth column: it reads as empty.
    columns_[c].Attach(at, c == kZ9Columns - 1 && form_ < kZ9EighthColumnForm ? 0 : length);
    at += length;
    if (columns_[c].Failed()) return fail("a column does not decode");
  }
  uint32_t previous = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t zip = uint32_t(columns_[0].Get(int32_t(i)));
    const uint32_t addOn = uint32_t(columns_[1].Get(int32_t(i)));
    const uint32_t key = (zip << kZ9KeyShift) + addOn;
    if (columns_[0].Failed() || columns_[1].Failed()) return fail("its key column does not decode");
    if (key < previous) return fail("its keys do not ascend");
    keys_[i] = previous = key;
  }
  data_->count = n;
  return true;
}

bool Z9Search::Current() {
  if (keys_[recordIndex_] > upper_) return Fail(kEnd);
  const int32_t i = int32_t(recordIndex_);
  const uint32_t key = keys_[recordIndex_];
  current_.zip = key >> kZ9KeyShift;
  current_.addOn = key & ((1u << kZ9KeyShift) - 1);
  current_.code5 = columns_[2].Get(i);
  current_.code7 = columns_[3].Get(i);
  current_.x = Held(-int64_t{columns_[4].Get(i)} * 100);
  current_.y = Held(int64_t{columns_[5].Get(i)} * 100);
  current_.type = columns_[6].Get(i);
  current_.extra = columns_[7].Get(i);
  for (size_t c = 2; c < kZ9Columns; ++c) {
    if (columns_[c].Failed()) {
      data_->number = UINT64_MAX;
      return Damaged(block_->number + 1 + blockEntry_, "a column holds too few values");
    }
  }
  status_ = kGood;
  return true;
}

bool Z9Search::Step() {
  while (recordIndex_ >= data_->count) {
    if (blockEntry_ + 1 < block_->count) {
      if (!EnterData(blockEntry_ + 1)) return false;
    } else if (entry_ + 1 < keyIndex_->count) {
      if (!EnterBlock(entry_ + 1) || !EnterData(0)) return false;
    } else {
      return Fail(kEnd);
    }
  }
  return true;
}

bool Z9Search::Seek(uint32_t lower, uint32_t upper) {
  if (status_ != kGood && status_ != kEnd && status_ != kDamaged && status_ != kSeekFailed)
    return false;
  upper_ = upper;
  if (keyIndex_->count == 0) return Fail(kEnd);
  const uint32_t key = std::max(lower, IndexKey(*keyIndex_, 0));
  if (!EnterBlock(IndexEntry(*keyIndex_, key))) return false;
  if (!EnterData(IndexEntry(*block_, key))) return false;
  recordIndex_ =
      uint32_t(std::lower_bound(keys_.begin(), keys_.begin() + data_->count, key) - keys_.begin());
  if (!Step()) return false;
  return Current();
}

bool Z9Search::Next() {
  if (status_ != kGood) return false;
  ++recordIndex_;
  if (!Step()) return false;
  return Current();
}

// ---- Zip4FileHandle ----------------------------------------------------------

Zip4FileHandle::Zip4FileHandle(pipErrorRef error)
    : error_(error), centroids_(error), areas_(error) {}

Zip4FileHandle::~Zip4FileHandle() = default;

bool Zip4FileHandle::Open(const char* path) {
  // The area index is read from the file the centroid reader found.
  return centroids_.Open(path) && areas_.Open(centroids_.Path());
}

bool Zip4FileHandle::ListCandidates(const SpatialRect& area) {
  listed_ = false;
  candidates_.clear();
  SpatialIndex* index = file_->Search().Index();
  if (!index) return true;
  if (!areaEnum_) areaEnum_ = index->CreateEnum();
  uint64_t offset = 0;
  for (bool more = areaEnum_->First(area, &offset); more; more = areaEnum_->Next(&offset)) {
    const PolygonObject* o = file_->Search().FetchObject(offset);
    if (!o) return false;
    // Without a radius only regions can hold a point.
    if (o->Kind() != kGsbRegion) continue;
    const GsbBounds& b = o->Record().bounds;
    candidates_.push_back(Candidate{offset, b.xmin, b.ymin, b.xmax, b.ymax});
  }
  if (areaEnum_->Failed()) return false;
  area_ = area;
  listed_ = true;
  return true;
}

int32_t Zip4FileHandle::TestCandidates(int32_t x, int32_t y) {
  for (const Candidate& c : candidates_) {
    if (x < c.xmin || x > c.xmax || y < c.ymin || y > c.ymax) continue;
    const PolygonObject* o = file_->Search().FetchObject(c.offset);
    if (!o) return -1;
    if (o->ContainsPoint(x, y)) {
      CopyFoundName(name_, kNameSize, o->Name());
      return 1;
    }
  }
  return 0;
}

int32_t Zip4FileHandle::Test(int32_t x, int32_t y) {
  if (x == lastX_ && y == lastY_) return lastResult_;
  ++tests_;
  int32_t r;
  if (listed_ && x >= area_.x1 && x <= area_.x2 && y >= area_.y1 && y <= area_.y2) {
    r = TestCandidates(x, y);
  } else {
    if (!point_) {
      point_ = std::make_unique<PolySearchPointInPolygon>(file_->Search(), x, y, radius_);
    } else {
      point_->Restart(x, y, radius_);
    }
    r = point_->FindFirst(name_, kNameSize);
  }
  if (r < 0) return -1;
  lastX_ = x;
  lastY_ = y;
  lastResult_ = r > 0 ? 1 : 0;
  return lastResult_;
}

int32_t Zip4FileHandle::FindFirst(pipObjectFileObject& file, int32_t radius, char* code, char* type,
                                  char* name, int32_t size) {
  if (!code || !type || !name || size < 1) return -1;
  file_ = &file;
  point_.reset();
  areaEnum_.reset();
  listed_ = false;
  radius_ = radius > 0 ? uint32_t(radius) : 0;
  firstRecord_ = true;
  lastX_ = lastY_ = 0;
  lastResult_ = 0;
  tests_ = 0;
  zip_ = areas_.FindFirst(file.Search().Index(), int32_t(radius_));
  return FindNext(code, type, name, size);
}

int32_t Zip4FileHandle::FindNext(char* code, char* type, char* name, int32_t size) {
  if (!code || !type || !name || size < 1) return -1;
  for (;;) {
    if (zip_ <= 0) return zip_ == 0 ? 0 : -1;
    bool have;
    if (firstRecord_) {
      firstRecord_ = false;
      if (radius_ == 0 && !ListCandidates(areas_.CurrentRect())) {
        zip_ = -1;
        return -1;
      }
      const uint32_t zip = uint32_t(zip_);
      have = centroids_.Seek(Z9Key(zip, 0), Z9Key(zip, kZ9AddOnMax));
    } else {
      have = centroids_.Next();
    }
    while (have) {
      const Z9Record& r = centroids_.Record();
      const int32_t inside = Test(r.x, r.y);
      if (inside < 0) {
        zip_ = -1;
        return -1;
      }
      if (inside > 0) {
        FormatCode(code, r.zip, r.addOn);
        type[0] = char(r.type);
        type[1] = '\0';
        CopyFoundName(name, size, name_);
        return 1;
      }
      have = centroids_.Next();
    }
    if (centroids_.Status() != Z9Search::kEnd) {
      zip_ = -1;
      return -1;
    }
    zip_ = areas_.FindNext();
    firstRecord_ = true;
  }
}

// ---- the bodies of the C interface ---------------------------------------------

int32_t pipZip4FileOpenIntern(pipContext* context, const char* path, Zip4FileHandle** out) {
  if (!out) return -1;
  *out = nullptr;
  if (!context) return -1;
  auto* zip4 = new (std::nothrow) Zip4FileHandle(context->ErrorRef());
  if (!zip4) return -1;
  if (!zip4->Open(path)) {
    delete zip4;
    return -1;
  }
  *out = zip4;
  return 1;
}

int32_t pipZip4FileCloseIntern(Zip4FileHandle* zip4) {
  delete zip4;
  return 1;
}

int32_t pipZip4FindFirstIntern(Zip4FileHandle* zip4, pipObjectFileObject* file, int32_t radius,
                               char* code, char* type, char* name, int32_t size) {
  if (!zip4 || !file) return -1;
  return zip4->FindFirst(*file, radius, code, type, name, size);
}

int32_t pipZip4FindNextIntern(Zip4FileHandle* zip4, char* code, char* type, char* name,
                              int32_t size) {
  return zip4 ? zip4->FindNext(code, type, name, size) : -1;
}
