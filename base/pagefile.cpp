#include "base/pagefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "base/qtree.h"

namespace {

constexpr const char* kSource = "..\\src\\pagefile";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineHeaderUnreadable = 88;
constexpr int kLineSignature = 94;
constexpr int kLineHeaderDamaged = 103;
constexpr int kLineNoHeaderPage = 108;
constexpr int kLineHeaderPageCheck = 114;
constexpr int kLineNoRecordMgr = 124;
constexpr int kLineFooterUnreadable = 136;
constexpr int kLineFooterLength = 148;
constexpr int kLineFooterChecksum = 161;
constexpr int kLineFooterDamaged = 175;
constexpr int kLineIndexHeader = 231;
constexpr int kLineIndexRoot = 238;
constexpr int kLineIndexPage = 283;
constexpr int kLineIndexOverflow = 289;

// The last n characters of text (the whole text when shorter).
const char* LastCharacters(const char* text, size_t n) {
  size_t length = std::strlen(text);
  return length > n ? text + (length - n) : text;
}

}  // namespace

uint16_t QPageCheckValue(const uint8_t* page, size_t size) {
  const size_t n = size >= 2 ? size - 2 : 0;
  // Byte i counts shifted by i mod 8, so the bytes of each of the eight
  // places are summed apart and each sum shifted once (the same value modulo
  // 2^32). Eight bytes at a time: the even and the odd places go to the
  // 16-bit lanes of two words, which hold the sums of 256 words.
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  constexpr size_t kWordsPerFlush = 256;
  uint32_t lanes[8] = {};
  size_t i = 0;
  const size_t whole = n - n % 8;
  while (i < whole) {
    const size_t end = std::min(whole, i + 8 * kWordsPerFlush);
    uint64_t even = 0, odd = 0;
    for (; i < end; i += 8) {
      const uint64_t word = QLoadU64LE(page + i);
      even += word & kEvenBytes;
      odd += (word >> 8) & kEvenBytes;
    }
    for (uint32_t k = 0; k < 4; ++k) {
      lanes[2 * k] += uint32_t(even >> (16 * k)) & 0xFFFF;
      lanes[2 * k + 1] += uint32_t(odd >> (16 * k)) & 0xFFFF;
    }
  }
  for (; i < n; ++i) lanes[i & 7] += page[i];
  uint32_t sum = 0;
  for (uint32_t k = 0; k < 8; ++k) sum += lanes[k] << k;
  return uint16_t(sum);
}

bool QPageCheckValueValid(const uint8_t* page, size_t size) {
  return size >= 2 && QLoadU16LE(page + size - 2) == QPageCheckValue(page, size);
}

void QPageSetCheckValue(uint8_t* page, size_t size) {
  if (size >= 2) QStoreU16LE(page + size - 2, QPageCheckValue(page, size));
}

bool QPagedFile::ChecksLength(uint32_t signature) {
  switch (signature) {
    case 0x2000900:
    case 0x1000F00:
    case 0x1001001:
    case 0x5000900:
    case 0x4000A00:
    case 0x8000E00:
    case 0xD07F454D:
    case 0x879FE5D7:
      return true;
    default:
      return false;
  }
}

QPagedFile::QPagedFile(const char* name, uint32_t signature, uint32_t cacheCount, QError& error)
    : error_(error), file_(error) {
  if (!file_.Open(name, QFile::kRead)) return;
  if (!file_.ReadAt(0, header_, kQPagedHeaderRecordSize)) {
    // Too short to hold even the header record.
    error_.Record(Q_ERROR_CHECKSUM, file_.Name(), kSource, kLineHeaderUnreadable);
    return;
  }
  if (QLoadU32LE(header_ + kQPagedSignatureOffset) != signature) {
    error_.Record(Q_ERROR_SIGNATURE, file_.Name(), kSource, kLineSignature);
    return;
  }
  headerPageSize_ = QLoadU16LE(header_ + kQPagedHeaderPageSizeOffset);
  pageSize_ = QLoadU16LE(header_ + kQPagedPageSizeOffset);
  pageCount_ = QLoadU32LE(header_ + kQPagedPageCountOffset);
  // The header page holds the header record and ends in its check value;
  // every page holds at least its check value.
  if (headerPageSize_ < kQPagedHeaderRecordSize + 2 || pageSize_ < 2) {
    error_.Record(Q_ERROR_CHECKSUM, file_.Name(), kSource, kLineHeaderDamaged);
    return;
  }
  headerPage_.reset(new (std::nothrow) uint8_t[headerPageSize_]);
  if (!headerPage_) {
    error_.Record(Q_ERROR_MEMORY, "QPagedFile - Failed to Initialize pHeaderPage",
                  kSource, kLineNoHeaderPage);
    return;
  }
  if (!file_.ReadAt(0, headerPage_.get(), headerPageSize_) ||
      !QPageCheckValueValid(headerPage_.get(), headerPageSize_)) {
    error_.Record(Q_ERROR_CHECKSUM, file_.Name(), kSource, kLineHeaderPageCheck);
    return;
  }
  if (ChecksLength(signature) && !CheckFooter()) return;
  recordMgr_.reset(new (std::nothrow) QRecordMgr(LastCharacters(file_.Name(), 8), file_,
                                                 headerPageSize_, pageSize_, cacheCount, error_));
  if (!recordMgr_ || !recordMgr_->IsInitialised()) {
    error_.Record(Q_ERROR_MEMORY, "QPagedFile - Failed to Initialize QRecordMgr",
                  kSource, kLineNoRecordMgr);
    return;
  }
  open_ = true;
}

QPagedFile::~QPagedFile() {
  recordMgr_.reset();
  headerPage_.reset();
  file_.Close();
}

bool QPagedFile::CheckFooter() {
  int64_t size = file_.Size();
  if (size < 0) {
    error_.Record(errno ? errno : EIO, file_.Name(), kSource, kLineFooterUnreadable);
    return false;
  }
  if (size == 0 || pageCount_ == 0) return true;
  char detail[kQErrorDetailSize];
  uint64_t fileSize = uint64_t(size);
  // 64-bit arithmetic: a damaged page count must not wrap into a small size.
  uint64_t expected = headerPageSize_ + uint64_t(pageCount_) * pageSize_;
  if (expected > fileSize) {
    StrFormat(detail, sizeof detail, "File %s is too long.  Expected %llu found %llu ",
              file_.Name(), (unsigned long long)expected, (unsigned long long)fileSize);
    error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLineFooterLength);
    return false;
  }
  if (expected < fileSize) {
    uint32_t signature = Signature();
    if (signature == 0x4000A00 || signature == 0x8000E00) {
      uint64_t body = fileSize - headerPageSize_;
      uint64_t pages = body / pageSize_;
      if (body % pageSize_ != 0 || pages > UINT32_MAX) {
        // The size the file would need for its last, partial page.
        uint64_t whole = headerPageSize_ + (pages + 1) * pageSize_;
        StrFormat(detail, sizeof detail, "File %s is too short, expected %llu found %llu ",
                  file_.Name(), (unsigned long long)whole, (unsigned long long)fileSize);
        error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLineFooterChecksum);
        return false;
      }
      pageCount_ = uint32_t(pages);
      QStoreU32LE(header_ + kQPagedPageCountOffset, pageCount_);
    }
  }
  uint8_t footer[kQPagedFooterReadSize];
  uint32_t footerSize = pageSize_ < kQPagedFooterReadSize ? pageSize_ : kQPagedFooterReadSize;
  uint64_t last = headerPageSize_ + uint64_t(pageCount_ - 1) * pageSize_;
  if (!file_.ReadAt(int64_t(last), footer, footerSize)) {
    StrFormat(detail, sizeof detail, "Cannot read footer page on file %s", file_.Name());
    error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLineFooterDamaged);
    return false;
  }
  return true;
}

// --- QIndexedFilePage ---

bool QIndexedFilePage::Load(QPagedFile& file, uint32_t number) {
  page_ = file.GetPage(number);
  size_ = page_ ? file.PageSize() : 0;
  return page_ != nullptr;
}

void QIndexedFilePage::Attach(const uint8_t* buffer, uint32_t size) {
  page_ = buffer;
  size_ = buffer ? size : 0;
}

uint32_t QIndexedFilePage::EntryCount() const {
  if (!page_ || size_ < kQKeyedPageHeaderSize) return 0;
  uint64_t entrySize = uint64_t(keyLength_) + dataLength_;
  uint32_t end = QLoadU32LE(page_);
  uint32_t count = QLoadU32LE(page_ + 4);
  if (entrySize == 0 || end > size_ || end < kQKeyedPageHeaderSize) return 0;
  uint64_t fit = (end - kQKeyedPageHeaderSize) / entrySize;
  return count < fit ? count : uint32_t(fit);
}

const uint8_t* QIndexedFilePage::EntryAt(uint32_t index) const {
  if (index >= EntryCount()) return nullptr;
  uint64_t entrySize = uint64_t(keyLength_) + dataLength_;
  return page_ + QLoadU32LE(page_) - entrySize * (uint64_t(index) + 1);
}

bool QIndexedFilePage::GetEntry(int32_t index, void* key, void* data) const {
  if (index < 0) return false;
  const uint8_t* entry = EntryAt(uint32_t(index));
  if (!entry) return false;
  if (key) std::memcpy(key, entry, keyLength_);
  if (data) std::memcpy(data, entry + keyLength_, dataLength_);
  return true;
}

int QIndexedFilePage::Compare(const void* key, const void* entryKey) const {
  return std::memcmp(key, entryKey, keyLength_);
}

int32_t QIndexedFilePage::Find(const void* key) const {
  int64_t low = 0, high = int64_t(EntryCount()) - 1;
  while (low <= high) {
    int64_t middle = (low + high) / 2;
    int c = Compare(key, EntryAt(uint32_t(middle)));
    if (c == 0) {
      while (middle > 0 && Compare(key, EntryAt(uint32_t(middle - 1))) == 0) --middle;
      return int32_t(middle);
    }
    if (c < 0)
      high = middle - 1;
    else
      low = middle + 1;
  }
  return -1;
}

// --- QIndexedFile ---

QIndexedFile::QIndexedFile(const char* name, uint32_t signature, uint32_t cacheCount,
                           QIndexedFilePage* page, QError* error)
    : page_(page) {
  if (!page_) {
    ownPage_ = std::make_unique<QIndexedFilePage>();
    page_ = ownPage_.get();
  }
  if (error) {
    error_ = error;
  } else {
    ownError_ = std::make_unique<QErrorEx>();
    error_ = ownError_.get();
  }
  pagedFile_ = std::make_unique<QPagedFile>(name, signature, cacheCount, *error_);
  if (!pagedFile_->IsOpen()) return;
  const uint8_t* header = pagedFile_->HeaderPage();
  if (pagedFile_->HeaderPageSize() < kQIndexedDataLengthOffset + 4 + 2) {
    error_->Record(Q_ERROR_CHECKSUM, pagedFile_->File().Name(), kSource, kLineIndexHeader);
    return;
  }
  uint32_t keyLength = QLoadU32LE(header + kQIndexedKeyLengthOffset);
  uint32_t dataLength = QLoadU32LE(header + kQIndexedDataLengthOffset);
  // An entry must fit a page beside the page's own words and check value.
  if (uint64_t(keyLength) + dataLength > uint64_t(pagedFile_->PageSize()) - 10 ||
      pagedFile_->PageSize() < 10) {
    error_->Record(Q_ERROR_CHECKSUM, pagedFile_->File().Name(), kSource, kLineIndexRoot);
    return;
  }
  page_->SetLengths(keyLength, dataLength);
  entryKey_.reset(new uint8_t[keyLength + 1]);
  lengthsValid_ = true;
}

QIndexedFile::~QIndexedFile() {
  tree_.reset();
  pagedFile_.reset();
}

int QIndexedFile::Compare(const void* key, const void* entryKey) {
  return page_->Compare(key, entryKey);
}

int QIndexedFile::TreeCompare(void* context, const void* key, const void* entryKey) {
  auto* self = static_cast<QIndexedFile*>(context);
  // The page's compare reads the page's key length; give it the tree key
  // widened with zeros so that it never reads past the tree entry.
  std::memcpy(self->treeKey_.get(), entryKey, self->treeKeyLength_);
  return self->Compare(key, self->treeKey_.get());
}

bool QIndexedFile::OpenIndex(uint64_t position) {
  if (!IsOpen()) return false;
  tree_ = std::make_unique<QTree>(LastCharacters(pagedFile_->File().Name(), 5),
                                  pagedFile_->File(), position, &QIndexedFile::TreeCompare, this,
                                  *error_);
  if (!tree_->IsOpen()) return false;
  treeKeyLength_ = tree_->KeyLength();
  uint32_t size = treeKeyLength_ > page_->KeyLength() ? treeKeyLength_ : page_->KeyLength();
  treeKey_.reset(new uint8_t[size]());
  return true;
}

bool QIndexedFile::Find(const void* key, uint32_t* position) {
  if (!IsOpen() || !tree_ || !tree_->IsOpen()) return false;
  uint8_t data[256] = {};
  if (!tree_->Find(key, nullptr, data, true)) return false;
  uint32_t page = QLoadU32LE(data);
  if (page > kQPositionPageMask) {
    error_->Record(Q_ERROR_CHECKSUM, pagedFile_->File().Name(), kSource, kLineIndexPage);
    return false;
  }
  if (!page_->Load(*pagedFile_, page)) return false;
  int32_t index = page_->Find(key);
  if (index >= int32_t(kQPositionEntryMask)) {
    error_->Record(Q_ERROR_TABLE_OVERFLOW, pagedFile_->File().Name(), kSource, kLineIndexOverflow);
    return false;
  }
  if (index >= 0) {
    *position = QPositionMake(uint32_t(index), page);
    return true;
  }
  // Not in the page the tree named: the next step wraps the entry part to 0
  // and looks at the first entry of the tree's next page.
  *position = QPositionMake(kQPositionEntryMask, page);
  return FindNext(key, position, 0);
}

bool QIndexedFile::ReadEntryKey(int32_t index) {
  return page_->GetEntry(index, entryKey_.get(), nullptr);
}

bool QIndexedFile::FindNext(const void* key, uint32_t* position, int mode) {
  if (!IsOpen() || !tree_ || !tree_->IsOpen()) return false;
  uint32_t page = QPositionPage(*position);
  uint32_t entry = QPositionEntry(*position);
  if (!(mode == 1 && entry == 0)) entry = (entry + 1) & kQPositionEntryMask;
  bool read = false;
  if (entry != 0 && page_->Load(*pagedFile_, page) && entry != page_->EntryCount())
    read = ReadEntryKey(int32_t(entry));
  if (!read) {
    uint8_t data[256] = {};
    if (!tree_->FindNext(nullptr, data)) return false;
    page = QLoadU32LE(data);
    entry = 0;
    if (page > kQPositionPageMask || !page_->Load(*pagedFile_, page) || !ReadEntryKey(0))
      return false;
  }
  bool equal = Compare(key, entryKey_.get()) == 0;
  if (mode == 1) {
    if (!equal) return false;
    *position = QPositionMake(entry + 1, page);
    return true;
  }
  *position = QPositionMake(entry, page);
  return equal;
}
