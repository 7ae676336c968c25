#include "base/qtree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "base/pagefile.h"
#include "base/qsort.h"
#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\qtree";
constexpr const char* kQioSource = "..\\src\\qio";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineRootUnreadable = 71;
constexpr int kLineRootDamaged = 90;
constexpr int kLineNoRecordMgr = 98;
constexpr int kLineDamaged = 140;
constexpr int kLineRecordFileOpen = 300;
constexpr int kLineRecordFileWrite = 330;
constexpr int kLineRecordFileRewind = 341;
constexpr int kLineRecordFileRead = 361;
constexpr int kLineBuildSizes = 425;
// A tree deeper than this cannot come from any real file (every inner node
// holds at least two entries).
constexpr uint16_t kMaxLevel = 48;
// The builder sorts in runs of this many bytes of records.
constexpr uint32_t kSortRunBytes = 580000;
constexpr size_t kRecordFileBuffer = 64 * 1024;

platform::Env& env() { return platform::Env::Current(); }

void RecordErrno(QError& error, const char* detail, int line) {
  if (errno == 0) errno = EIO;
  error.Record(errno, detail, kQioSource, line);
}

}  // namespace

int QTreeKeyCompare(const void* a, const void* b, size_t length) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < length; ++i) {
    unsigned char p = static_cast<unsigned char>(platform::AsciiLower(char(x[i])));
    unsigned char q = static_cast<unsigned char>(platform::AsciiLower(char(y[i])));
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
  return 0;
}

// --- QTree ---

QTree::QTree(const char* name, QFile& file, uint64_t rootOffset, QTreeCompare compare,
             void* context, QError& error)
    : name_(name ? name : ""),
      rootOffset_(rootOffset),
      file_(file),
      compare_(compare),
      context_(context),
      error_(error) {
  if (rootOffset > uint64_t(INT64_MAX) || !file_.ReadAt(int64_t(rootOffset), root_, sizeof root_)) {
    error_.Record(Q_ERROR_CHECKSUM, "QTree::QTree", kSource, kLineRootUnreadable);
    return;
  }
  pageSize_ = QLoadU16LE(root_ + 2);
  rootLevel_ = QLoadU16LE(root_ + 4);
  uint8_t flags = root_[6];
  uint32_t keyLength = root_[8];
  uint32_t dataLength = root_[9];
  uint32_t stride = keyLength + dataLength;
  bool leaf = rootLevel_ == 0;
  bool sound = keyLength > 0 && pageSize_ >= kQTreeNodeReserve + stride &&
               rootOffset % pageSize_ == 0 && rootLevel_ <= kMaxLevel &&
               (flags & (kQTreeFirst | kQTreeLast)) == (kQTreeFirst | kQTreeLast) &&
               (flags & (kQTreeInner | kQTreeLeaf)) == (leaf ? kQTreeLeaf : kQTreeInner) &&
               (leaf || dataLength == 8) &&
               kQTreeNodeHeaderSize + size_t(QLoadU16LE(root_)) * stride + 2 <= pageSize_;
  if (!sound) {
    error_.Record(Q_ERROR_CHECKSUM, "QTree::QTree", kSource, kLineRootDamaged);
    return;
  }
  uint32_t cache = (uint32_t(rootLevel_) + 1) * 256;
  recordMgr_.reset(new (std::nothrow) QRecordMgr(name_.c_str(), file_, 0, pageSize_,
                                                 cache > 1024 ? 1024 : cache, error_));
  if (!recordMgr_ || !recordMgr_->IsInitialised()) {
    error_.Record(Q_ERROR_MEMORY, "QTree - Unable to allocate QRecordMgr",
                  kSource, kLineNoRecordMgr);
    return;
  }
  // The leaves' data length: the root's when it is a leaf, else the first
  // leaf's, found down the leftmost path. Every leaf must agree with it.
  uint64_t page = rootOffset_ / pageSize_;
  for (uint16_t level = rootLevel_; level > 0; --level) {
    Node node;
    if (!LoadNode(page, level, &node)) return;
    if (node.count == 0) {
      Damaged(page);
      return;
    }
    uint64_t child = QLoadU64LE(node.Entry(0) + keyLength);
    if (child % pageSize_ != 0) {
      Damaged(page);
      return;
    }
    page = child / pageSize_;
  }
  if (leaf) {
    leafDataLength_ = uint8_t(dataLength);
  } else {
    const uint8_t* bytes = page <= UINT32_MAX ? recordMgr_->GetRecord(uint32_t(page)) : nullptr;
    if (!bytes) {
      Damaged(page);
      return;
    }
    leafDataLength_ = bytes[9];
  }
  open_ = true;
}

bool QTree::Damaged(uint64_t page) {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, "%s: damaged name tree page %llu", name_.c_str(),
            (unsigned long long)page);
  error_.Record(Q_ERROR_CHECKSUM, detail, kSource, kLineDamaged);
  return false;
}

bool QTree::LoadNode(uint64_t page, uint16_t level, Node* node) {
  const uint8_t* bytes = page <= UINT32_MAX ? recordMgr_->GetRecord(uint32_t(page)) : nullptr;
  if (!bytes) return Damaged(page);
  uint16_t count = QLoadU16LE(bytes);
  uint8_t flags = bytes[6];
  uint32_t keyLength = bytes[8];
  uint32_t dataLength = bytes[9];
  uint32_t stride = keyLength + dataLength;
  uint8_t kind = level > 0 ? kQTreeInner : kQTreeLeaf;
  if (QLoadU16LE(bytes + 2) != pageSize_ || QLoadU16LE(bytes + 4) != level ||
      (flags & (kQTreeInner | kQTreeLeaf)) != kind || keyLength != KeyLength() ||
      dataLength != (level > 0 ? 8u : leafDataLength_) ||
      kQTreeNodeHeaderSize + size_t(count) * stride + 2 > pageSize_)
    return Damaged(page);
  node->bytes = bytes;
  node->count = count;
  node->flags = flags;
  node->stride = stride;
  return true;
}

int QTree::Compare(const void* key, const void* entryKey) const {
  return compare_ ? compare_(context_, key, entryKey) : QTreeKeyCompare(key, entryKey, KeyLength());
}

namespace {
struct SearchContext {
  const void* tree;
  const void* key;
};
}  // namespace

int QTree::SearchCompare(const void* context, const void* element) {
  const auto* search = static_cast<const SearchContext*>(context);
  return static_cast<const QTree*>(search->tree)->Compare(search->key, element);
}

void QTree::Clear() {
  page_ = -1;
  entry_ = -1;
  callerArea_ = nullptr;
}

void QTree::SetCurrent(const Node& node, uint64_t page, int32_t entry) {
  page_ = int64_t(page);
  entry_ = entry;
  callerArea_ = (node.bytes[7] & kQTreeCallerArea) ? node.Entry(node.count) : nullptr;
}

void QTree::Copy(const Node& node, int32_t entry, void* keyOut, void* dataOut) const {
  const uint8_t* bytes = node.Entry(uint32_t(entry));
  if (keyOut) std::memcpy(keyOut, bytes, KeyLength());
  if (dataOut) std::memcpy(dataOut, bytes + KeyLength(), leafDataLength_);
}

bool QTree::Find(const void* key, void* keyOut, void* dataOut, bool first) {
  Clear();
  if (!open_) return false;
  SearchContext search{this, key};
  uint64_t page = rootOffset_ / pageSize_;
  Node node;
  for (uint16_t level = rootLevel_; level > 0; --level) {
    if (!LoadNode(page, level, &node)) return false;
    int32_t i = BinarySearch(&search, node.Entry(0), node.count, node.stride, &SearchCompare);
    if (i < 0) return false;
    uint64_t child = QLoadU64LE(node.Entry(uint32_t(i)) + KeyLength());
    if (child % pageSize_ != 0) return Damaged(page);
    page = child / pageSize_;
  }
  if (!LoadNode(page, 0, &node)) return false;
  int32_t i;
  if (first) {
    i = BinarySearch(&search, node.Entry(0), node.count, node.stride, &SearchCompare);
    // Equal keys may straddle leaves: the inner nodes lead to the first leaf
    // that starts with the key, so earlier leaves may end with it.
    if (i >= 0 && Compare(key, node.Entry(uint32_t(i))) == 0) {
      while (i == 0 && !(node.flags & kQTreeFirst) && page > 0) {
        Node previous;
        if (!LoadNode(page - 1, 0, &previous)) return false;
        if (previous.count == 0 || Compare(key, previous.Entry(previous.count - 1u)) != 0) break;
        --page;
        node = previous;
        i = BinarySearch(&search, node.Entry(0), node.count, node.stride, &SearchCompare);
      }
      // The walk may have read other pages since; take this one again.
      if (!LoadNode(page, 0, &node)) return false;
    }
  } else {
    i = BinarySearchExact(&search, node.Entry(0), node.count, node.stride, &SearchCompare);
  }
  if (i < 0) return false;
  SetCurrent(node, page, i);
  Copy(node, i, keyOut, dataOut);
  return true;
}

bool QTree::FindNext(void* keyOut, void* dataOut) {
  if (!open_ || page_ < 0) return false;
  Node node;
  uint64_t page = uint64_t(page_);
  if (!LoadNode(page, 0, &node)) {
    Clear();
    return false;
  }
  int32_t i = entry_ + 1;
  while (i >= int32_t(node.count)) {
    if (node.flags & kQTreeLast) return false;
    ++page;
    if (!LoadNode(page, 0, &node)) {
      Clear();
      return false;
    }
    i = 0;
  }
  SetCurrent(node, page, i);
  Copy(node, i, keyOut, dataOut);
  return true;
}

// --- QTreeBuild ---

// A temporary file of records, written and read back in order through a
// buffer; removed when destroyed.
class QTreeBuild::RecordFile {
 public:
  RecordFile(QError& error, const std::string& directory) : error_(error) {
    errno = 0;
    fd_ = QioOpenTreeTemp(&name_, directory);
    if (fd_ < 0)
      RecordErrno(error_, name_.empty() ? directory.c_str() : name_.c_str(), kLineRecordFileOpen);
  }
  ~RecordFile() { Remove(); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  bool Append(const void* bytes, size_t count) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
      if (buffer_.size() == kRecordFileBuffer && !Flush()) return false;
      size_t n = std::min(count, kRecordFileBuffer - buffer_.size());
      buffer_.insert(buffer_.end(), p, p + n);
      p += n;
      count -= n;
    }
    return true;
  }

  bool Flush() {
    if (fd_ < 0) return false;
    if (buffer_.empty()) return true;
    errno = 0;
    if (QTracedWrite(fd_, buffer_.data(), uint32_t(buffer_.size())) != int64_t(buffer_.size())) {
      RecordErrno(error_, name_.c_str(), kLineRecordFileWrite);
      return false;
    }
    buffer_.clear();
    return true;
  }

  // Makes the records written so far readable from the start.
  bool Rewind() {
    if (!Flush()) return false;
    errno = 0;
    if (QTracedSeek(fd_, 0, platform::kSeekSet) != 0) {
      RecordErrno(error_, name_.c_str(), kLineRecordFileRewind);
      return false;
    }
    buffer_.clear();
    readPosition_ = 0;
    return true;
  }

  // The next count bytes (count <= the buffer), or null when they cannot be
  // read.
  const uint8_t* Read(size_t count) {
    if (fd_ < 0) return nullptr;
    if (buffer_.size() - readPosition_ < count) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + ptrdiff_t(readPosition_));
      readPosition_ = 0;
      size_t have = buffer_.size();
      buffer_.resize(kRecordFileBuffer);
      errno = 0;
      int64_t n = QTracedRead(fd_, buffer_.data() + have, uint32_t(kRecordFileBuffer - have));
      buffer_.resize(have + size_t(n > 0 ? n : 0));
      if (buffer_.size() < count) {
        RecordErrno(error_, name_.c_str(), kLineRecordFileRead);
        return nullptr;
      }
    }
    const uint8_t* p = buffer_.data() + readPosition_;
    readPosition_ += count;
    return p;
  }

  void Remove() {
    if (fd_ < 0) return;
    QTracedClose(fd_);
    env().Remove(name_);
    fd_ = -1;
  }

 private:
  QError& error_;
  std::string name_;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t readPosition_ = 0;
};

// The merge sort in the builder's key order.
class QTreeBuild::Sorter : public QSort {
 public:
  Sorter(const QTreeBuild& build, QError& error, const std::string& directory)
      : QSort(error, directory, kSortRunBytes), build_(build) {}
  int Compare(const void* a, const void* b) const override { return build_.CompareRecords(a, b); }

 private:
  const QTreeBuild& build_;
};

namespace {

uint32_t NextTreeSequence() {
  static CqmsSynchronization lock;
  static uint32_t counter = 0;
  lock.Lock();
  uint32_t n = counter++;
  lock.Unlock();
  return n;
}

}  // namespace

QTreeBuild::QTreeBuild(QError& error, const std::string& directory)
    : directory_(directory.empty() ? env().TempDirectory() : directory),
      error_(error),
      sequence_(NextTreeSequence()) {
  records_ = std::make_unique<RecordFile>(error_, directory_);
}

QTreeBuild::~QTreeBuild() = default;

bool QTreeBuild::CheckLayout() {
  uint32_t usable = pageSize_ > kQTreeNodeReserve ? pageSize_ - uint32_t(kQTreeNodeReserve) : 0;
  // A leaf takes at least one record and an inner node at least two, or the
  // levels would never narrow to a root.
  if (keyLength_ == 0 || usable < uint32_t(keyLength_) + dataLength_ ||
      usable < 2 * (uint32_t(keyLength_) + 8)) {
    error_.Record(Q_ERROR_INVALID_DATA, "QTreeBuild - key, data and page sizes do not fit",
                  kSource, kLineBuildSizes);
    return false;
  }
  return true;
}

int QTreeBuild::CompareRecords(const void* a, const void* b) const {
  return compare_ ? compare_(compareContext_, a, b) : QTreeKeyCompare(a, b, keyLength_);
}

void QTreeBuild::Progress(const char* text, int value) const {
  if (progress_) progress_(progressContext_, text, value);
}

bool QTreeBuild::Add(const void* key, const void* data) {
  uint32_t size = uint32_t(keyLength_) + dataLength_;
  if (!layoutChecked_) {
    if (!CheckLayout()) return false;
    record_.reset(new uint8_t[2 * size]());
    layoutChecked_ = true;
  }
  if (!records_ || !records_->IsOpen()) return false;
  uint8_t* previous = record_.get();
  uint8_t* current = previous + size;
  std::memcpy(current, key, keyLength_);
  if (dataLength_) std::memcpy(current + keyLength_, data, dataLength_);
  if (!needsSort_ && CompareRecords(previous, current) > 0) needsSort_ = true;
  std::memcpy(previous, current, size);
  if (!records_->Append(current, size)) return false;
  ++count_;
  return true;
}

bool QTreeBuild::SortRecords(std::unique_ptr<Sorter>* sorter) {
  auto sort = std::make_unique<Sorter>(*this, error_, directory_);
  if (!sort->IsValid() || !sort->SetRecordLayout(keyLength_, dataLength_)) return false;
  sort->SetProgress(
      [](void* context, int, int percent) {
        static_cast<QTreeBuild*>(context)->Progress("Sorting", percent * 100);
      },
      this);
  Progress("Sorting", 0);
  if (!records_->Rewind()) return false;
  uint32_t size = uint32_t(keyLength_) + dataLength_;
  for (uint64_t i = 0; i < count_; ++i) {
    const uint8_t* record = records_->Read(size);
    if (!record || !sort->Add(record, record + keyLength_)) return false;
  }
  if (!sort->Finish()) return false;
  Progress("Sort complete", 10000);
  *sorter = std::move(sort);
  return true;
}

int64_t QTreeBuild::Write(QioFile& output) {
  if (!CheckLayout() || !records_ || !records_->IsOpen()) return -1;
  const uint32_t keyLength = keyLength_;
  const uint32_t pageSize = pageSize_;

  // Level 0 reads the records in key order: from the sort when they did not
  // come in order, else straight from the record file.
  std::unique_ptr<Sorter> sorter;
  std::unique_ptr<RecordFile> source;
  if (needsSort_ && count_ > 1) {
    if (!SortRecords(&sorter)) return -1;
    records_.reset();
  } else {
    if (!records_->Rewind()) return -1;
    source = std::move(records_);
  }
  if (!output.PadToMultiple(pageSize)) return -1;

  std::vector<uint8_t> node(pageSize);
  uint64_t levelCount = count_;
  uint32_t dataLength = dataLength_;
  for (uint16_t level = 0;; ++level) {
    char text[32];
    std::snprintf(text, sizeof text, "Level %d", int(level));
    Progress(text, 0);
    auto next = std::make_unique<RecordFile>(error_, directory_);
    if (!next->IsOpen()) return -1;
    const uint32_t stride = keyLength + dataLength;
    const uint32_t capacity = (pageSize - uint32_t(kQTreeNodeReserve)) / stride;
    auto start = [&](bool first) {
      std::fill(node.begin(), node.end(), 0);
      QStoreU16LE(&node[2], uint16_t(pageSize));
      QStoreU16LE(&node[4], level);
      node[6] = uint8_t((level > 0 ? kQTreeInner : kQTreeLeaf) | (first ? kQTreeFirst : 0));
      node[8] = uint8_t(keyLength);
      node[9] = uint8_t(dataLength);
    };
    // Seals the node, writes it and passes (first key, offset) up a level.
    auto close = [&](int64_t offset, uint32_t count) {
      QStoreU16LE(&node[0], uint16_t(count));
      QPageSetCheckValue(node.data(), pageSize);
      uint8_t offsetBytes[8];
      QStoreU64LE(offsetBytes, uint64_t(offset));
      return output.WriteAt(offset, pageSize, node.data()) &&
             next->Append(&node[kQTreeNodeHeaderSize], keyLength) && next->Append(offsetBytes, 8);
    };

    int64_t offset = output.Reserve(pageSize);
    if (offset < 0) return -1;
    const int64_t firstOffset = offset;
    uint64_t nodes = 1;
    uint32_t count = 0;
    start(true);
    for (uint64_t r = 0; r < levelCount; ++r) {
      const uint8_t* record = sorter ? sorter->Next() : source->Read(stride);
      if (!record) return -1;
      if (count == capacity) {
        if (!close(offset, count)) return -1;
        offset = output.Reserve(pageSize);
        if (offset < 0) return -1;
        ++nodes;
        count = 0;
        start(false);
        Progress(text, int(r * 10000 / levelCount));
      }
      std::memcpy(&node[kQTreeNodeHeaderSize + size_t(count) * stride], record, stride);
      ++count;
    }
    node[6] |= kQTreeLast;
    if (!close(offset, count)) return -1;
    sorter.reset();
    source.reset();
    if (nodes < 2) return firstOffset;
    if (!next->Rewind()) return -1;
    source = std::move(next);
    levelCount = nodes;
    dataLength = 8;
  }
}
