#include "builder/pagebuild.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\pagebuild";
// The error locations (source line numbers) the page file's failures show,
// one per failure.
constexpr int kLineBadParameters = 148;
constexpr int kLineBadDate = 163;
constexpr int kLineNoHeader = 187;
constexpr int kLineUnorderedEntry = 219;
constexpr int kLineEntryTooLarge = 225;
constexpr int kLinePageWrite = 233;
constexpr int kLineUnorderedPage = 237;
constexpr int kLineTooManyPages = 239;
constexpr int kLineNoPageSpace = 242;
constexpr int kLineKeyTree = 270;
constexpr int kLineFileOpen = 48;
constexpr int kLineFileAppend = 64;
constexpr int kLineFileWrite = 81;
constexpr int kLineFileClose = 86;
constexpr const char* kUnordered = "Keys are unordered in QIndexedFileBuild (no sort)";

// The lines after the date line; nothing reads them.
constexpr const char* kNoticeLines[4] = {"Keyed page file", "Header block, then pages of keys",
                                         "then the key tree and the owner's area", ""};

}  // namespace

uint16_t QPackedDate(int year, int month, int day) {
  return uint16_t(((month - 1) + (year - 1990) * 12) * 32 + day);
}

bool QParseDateText(const char* text, int* year, int* month, int* day) {
  if (!text || std::strlen(text) != 8) return false;
  int value[8];
  for (int i = 0; i < 8; ++i) {
    if (!platform::AsciiIsDigit(text[i])) return false;
    value[i] = text[i] - '0';
  }
  *year = value[0] * 1000 + value[1] * 100 + value[2] * 10 + value[3];
  *month = value[4] * 10 + value[5];
  *day = value[6] * 10 + value[7];
  return *year >= 1990 && *month >= 1 && *month <= 12 && *day >= 1 && *day <= 31;
}

std::string QTodayDateText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  StrFormat(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
            local.tm_mday);
  return text;
}

// --- QBlockFile ---

QBlockFile::QBlockFile(const char* name, QError& error)
    : name_(name ? name : ""),
      error_(error),
      file_(std::make_unique<QioFile>(name_.c_str(), error)) {
  if (file_->Descriptor() < 0) Failed(kLineFileOpen);
}

QBlockFile::~QBlockFile() = default;

bool QBlockFile::Failed(int line) {
  int code = error_.Code();
  if (code >= 0 && code < 100) {
    // The record's text is that of the errno current when it is made.
    errno = code;
    error_.Record(code, name_.c_str(), kSource, line);
  }
  return false;
}

int64_t QBlockFile::Append(int64_t length) {
  if (!IsOpen()) return -1;
  int64_t position = file_->Reserve(length);
  if (position < 0) Failed(kLineFileAppend);
  return position;
}

bool QBlockFile::WriteBlock(int64_t position, uint8_t* block, uint32_t size) {
  QPageSetCheckValue(block, size);
  return WriteAt(position, block, size);
}

bool QBlockFile::WriteAt(int64_t position, const void* bytes, uint32_t count) {
  if (!IsOpen() || position < 0) return false;
  return file_->WriteAt(position, count, bytes) || Failed(kLineFileWrite);
}

bool QBlockFile::Close() {
  if (!IsOpen()) return true;
  return file_->Close() || Failed(kLineFileClose);
}

// --- QIndexedFilePageBuild ---

QIndexedFilePageBuild::QIndexedFilePageBuild(uint32_t pageSize, uint32_t keyLength,
                                             uint32_t dataLength)
    : block_(new uint8_t[pageSize]()),
      pageSize_(pageSize),
      keyLength_(keyLength),
      dataLength_(dataLength) {
  reader_.Attach(block_.get(), pageSize_);
  reader_.SetLengths(keyLength_, dataLength_);
  Clear();
}

void QIndexedFilePageBuild::Clear() {
  std::memset(block_.get(), 0, pageSize_);
  QStoreU32LE(block_.get(), Usable());
}

bool QIndexedFilePageBuild::AddEntry(const void* key, const void* data, const void*) {
  uint64_t entrySize = uint64_t(keyLength_) + dataLength_;
  uint64_t n = Count();
  if ((n + 1) * entrySize + kQKeyedPageHeaderSize > Usable()) return false;
  uint8_t* entry = block_.get() + Usable() - (n + 1) * entrySize;
  if (keyLength_) std::memcpy(entry, key, keyLength_);
  if (dataLength_) std::memcpy(entry + keyLength_, data, dataLength_);
  QStoreU32LE(block_.get() + 4, uint32_t(n + 1));
  return true;
}

bool QIndexedFilePageBuild::Write(QBlockFile& file) {
  return file.WriteBlock(position_, block_.get(), pageSize_);
}

// --- QIndexedFileBuild ---

QIndexedFileBuild::QIndexedFileBuild(const QIndexedFileBuildParams& params, const char* path,
                                     QIndexedFilePageBuild* pageBuilder, QError* error)
    : params_(params),
      path_(path ? path : ""),
      pageKeyLength_(params.pageKeyLength),
      page_(pageBuilder) {
  if (error) {
    error_ = error;
  } else {
    ownError_ = std::make_unique<QError>();
    error_ = ownError_.get();
  }
  const uint32_t size = params_.pageSize;
  if (size < kQOwnerAreaOffset + kQOwnerAreaSize + 2 || size > 0xFFFF || pageKeyLength_ > 255) {
    Fail("Page size or key length out of range", kLineBadParameters);
    return;
  }
  if (!page_) {
    ownPage_ = std::make_unique<QIndexedFilePageBuild>(size, params_.entryKeyLength,
                                                       params_.entryDataLength);
    page_ = ownPage_.get();
  }
  std::string dateText = params_.dateText.empty() ? QTodayDateText() : params_.dateText;
  int year = 0, month = 0, day = 0;
  if (!QParseDateText(dateText.c_str(), &year, &month, &day)) {
    char detail[kQErrorDetailSize];
    StrFormat(detail, sizeof detail, "Invalid date text %s", dateText.c_str());
    error_->Record(Q_ERROR_INVALID_DATA, detail, kSource, kLineBadDate);
    return;
  }

  header_.assign(size, 0);
  uint8_t* h = header_.data();
  std::string notice = std::to_string(month) + "/" + std::to_string(year) + "\r\n";
  for (const char* line : kNoticeLines) notice += std::string(line) + "\r\n";
  notice += '\x1A';
  std::memcpy(h, notice.data(), std::min(notice.size(), kQHeaderNoticeSize - 1));
  QStoreU32LE(h + kQPagedSignatureOffset, params_.signature);
  QStoreU16LE(h + kQPagedHeaderPageSizeOffset, uint16_t(size));
  QStoreU16LE(h + kQPagedPageSizeOffset, uint16_t(size));
  QStoreU16LE(h + kQHeaderDateOffset, QPackedDate(year, month, day));
  QStoreU32LE(h + kQOwnerSortRecordSize, params_.sortRecordSize);
  QStoreU32LE(h + kQOwnerPageKeyLength, pageKeyLength_);
  QStoreU32LE(h + kQIndexedKeyLengthOffset, params_.entryKeyLength);
  QStoreU32LE(h + kQIndexedDataLengthOffset, params_.entryDataLength);

  file_ = std::make_unique<QBlockFile>(path, *error_);
  if (!file_->IsOpen()) return;
  created_ = true;
  if (file_->Append(size) != 0) {
    Fail("Unable to allocate header", kLineNoHeader);
    return;
  }
  if (pageKeyLength_ > 0) {
    std::string directory = params_.tempDirectory;
    if (directory.empty()) {
      directory = platform::DirectoryOf(path ? path : "");
      if (directory.empty()) directory = ".";
    }
    tree_ = std::make_unique<QTreeBuild>(*error_, directory);
    tree_->SetKeyLength(uint8_t(pageKeyLength_));
    tree_->SetDataLength(4);
    tree_->SetPageSize(uint16_t(size));
    key_.assign(pageKeyLength_ + 1, 0);
    previousKey_.assign(pageKeyLength_ + 1, 0);
  }
  previousEntry_.assign(params_.entryKeyLength + 1, 0);
}

QIndexedFileBuild::~QIndexedFileBuild() { Close(); }

bool QIndexedFileBuild::Fail(const char* text, int line) {
  error_->Record(Q_ERROR_EMPTY, text, kSource, line);
  return false;
}

void QIndexedFileBuild::MakeKey(const void*, uint8_t*) {}

bool QIndexedFileBuild::Add(const void* key, const void* data, const void* record) {
  if (!Ok() || !file_ || finished_) return false;
  if (!tree_ && params_.entryKeyLength > 0) {
    if (count_ > 0 && page_->Reader().Compare(key, previousEntry_.data()) < 0)
      return Fail(kUnordered, kLineUnorderedEntry);
    std::memcpy(previousEntry_.data(), key, params_.entryKeyLength);
  }
  if (!(pageOpen_ && page_->AddEntry(key, data, record))) {
    if (!StartPage(record)) return false;
    if (!page_->AddEntry(key, data, record)) return Fail("Record does not fit an empty page", kLineEntryTooLarge);
  }
  ++count_;
  return true;
}

bool QIndexedFileBuild::WritePage() {
  if (page_->Write(*file_)) return true;
  return Ok() ? Fail("Unable to write page", kLinePageWrite) : false;
}

bool QIndexedFileBuild::StartPage(const void* record) {
  if (pageOpen_ && !WritePage()) return false;
  pageOpen_ = false;
  if (tree_) {
    std::fill(key_.begin(), key_.end(), 0);
    MakeKey(record, key_.data());
    if (pages_ > 0 && QTreeKeyCompare(key_.data(), previousKey_.data(), pageKeyLength_) < 0)
      return Fail(kUnordered, kLineUnorderedPage);
  }
  if (pages_ > kQPositionPageMask) return Fail("Too many pages for one file", kLineTooManyPages);
  page_->Clear();
  int64_t position = file_->Append(params_.pageSize);
  if (position < 0) return Fail("Unable to allocate space for page", kLineNoPageSpace);
  page_->SetPosition(position);
  if (tree_) {
    uint8_t number[4];
    QStoreU32LE(number, uint32_t(position / params_.pageSize - 1));
    if (!tree_->Add(key_.data(), number)) return false;
    std::memcpy(previousKey_.data(), key_.data(), pageKeyLength_);
  }
  ++pages_;
  pageOpen_ = true;
  return true;
}

int64_t QIndexedFileBuild::WriteArea(const void* bytes, uint32_t length) {
  if (!Ok() || !file_) return -1;
  const uint64_t size = params_.pageSize;
  int64_t position = file_->Append(int64_t((length + size - 1) / size * size));
  if (position < 0) return -1;
  return length == 0 || file_->WriteAt(position, bytes, length) ? position : -1;
}

int64_t QIndexedFileBuild::Finish() {
  if (!Ok() || !file_ || finished_) return -1;
  finished_ = true;
  if (pageOpen_ && !WritePage()) return -1;
  pageOpen_ = false;
  if (!tree_) return 0;
  int64_t root = tree_->Write(file_->File());
  if (root < 0 && Ok()) Fail("Unable to write the key tree", kLineKeyTree);
  tree_.reset();
  return root;
}

bool QIndexedFileBuild::Close() {
  if (closed_) return Ok();
  closed_ = true;
  if (file_ && file_->IsOpen()) {
    file_->WriteBlock(0, header_.data(), uint32_t(header_.size()));
    file_->Close();
  }
  return Ok();
}
