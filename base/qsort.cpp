#include "base/qsort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\qsort";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineNoMemory = 52;
constexpr int kLineRecordLayout = 62;
constexpr int kLineBlockRead = 146;
constexpr int kLineBufferRead = 284;
constexpr uint32_t kMinBufferBytes = 1024;

platform::Env& env() { return platform::Env::Current(); }

}  // namespace

// One run being merged: where it lies in the file, how much of it has been
// read into its share of the buffer, and the read position in that share.
struct QSort::Block {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t consumed = 0;
  uint8_t* share = nullptr;
  uint32_t shareSize = 0;
  uint32_t filled = 0;
  uint32_t position = 0;
  bool done = false;

  const uint8_t* Head() const { return share + position; }
};

QSort::QSort(QError& error, const std::string& directory, uint32_t bufferBytes)
    : error_(error), directory_(directory) {
  if (directory_.empty()) directory_ = env().TempDirectory();
  for (uint32_t size = bufferBytes; size >= kMinBufferBytes; size /= 2) {
    raw_.reset(new (std::nothrow) uint8_t[size + 8]);
    if (raw_) {
      uintptr_t address = reinterpret_cast<uintptr_t>(raw_.get());
      buffer_ = raw_.get() + ((8 - address % 8) % 8);
      allocated_ = size;
      usable_ = size / recordSize_ * recordSize_;
      return;
    }
  }
  error_.Record(Q_ERROR_MEMORY, "QSort::Init", kSource, kLineNoMemory);
}

QSort::~QSort() = default;

int QSort::Compare(const void* a, const void* b) const { return std::memcmp(a, b, keyLength_); }

bool QSort::SetRecordLayout(uint32_t keyLength, uint32_t dataLength) {
  uint64_t size = uint64_t(keyLength) + dataLength;
  if (total_ != 0 || finished_ || size == 0 || size * 3 > allocated_) {
    error_.Record(Q_ERROR_INVALID_DATA, "QSort::SetRecordLayout", kSource, kLineRecordLayout);
    return false;
  }
  keyLength_ = keyLength;
  dataLength_ = dataLength;
  recordSize_ = uint32_t(size);
  usable_ = allocated_ / recordSize_ * recordSize_;
  return true;
}

void QSort::SetProgress(Progress progress, void* context, uint32_t intervalMillis) {
  progress_ = progress;
  progressContext_ = context;
  intervalMicros_ = int64_t(intervalMillis) * 1000;
  nextCall_ = 0;
}

bool QSort::Add(const void* key, const void* data) {
  if (!buffer_ || finished_) return false;
  if (fill_ + recordSize_ > usable_ && !FlushRun()) return false;
  std::memcpy(buffer_ + fill_, key, keyLength_);
  if (dataLength_) std::memcpy(buffer_ + fill_ + keyLength_, data, dataLength_);
  fill_ += recordSize_;
  total_ += recordSize_;
  return true;
}

bool QSort::OpenTemp(std::unique_ptr<QFile>* file) {
  auto made = std::make_unique<QFile>(error_);
  if (!made->OpenTemp(directory_.c_str())) return false;
  *file = std::move(made);
  return true;
}

bool QSort::FlushRun() {
  if (fill_ == 0) return true;
  if (runs_.empty()) firstRun_ = fill_;
  if (!file_ && !OpenTemp(&file_)) return false;
  SortBuffer();
  if (!file_->Write(buffer_, fill_)) return false;
  runs_.push_back(fill_);
  fill_ = 0;
  return true;
}

void QSort::SortBuffer() {
  uint32_t count = fill_ / recordSize_;
  if (count < 2) return;
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  const uint8_t* base = buffer_;
  const uint32_t size = recordSize_;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return Compare(base + size_t(a) * size, base + size_t(b) * size) < 0;
  });
  // Put the records in place by following the cycles of the permutation:
  // place j receives the record that was at order[j].
  std::vector<uint8_t> held(size);
  for (uint32_t j = 0; j < count; ++j) {
    if (order[j] == j) continue;
    std::memcpy(held.data(), buffer_ + size_t(j) * size, size);
    uint32_t k = j;
    while (order[k] != j) {
      uint32_t from = order[k];
      std::memcpy(buffer_ + size_t(k) * size, buffer_ + size_t(from) * size, size);
      order[k] = k;
      k = from;
    }
    std::memcpy(buffer_ + size_t(k) * size, held.data(), size);
    order[k] = k;
  }
}

bool QSort::Finish() {
  if (!buffer_) return false;
  if (finished_) return true;
  if (runs_.empty()) {
    SortBuffer();
    inMemory_ = true;
    finished_ = true;
    ResetRead();
    return true;
  }
  if (!FlushRun()) return false;
  for (int pass = 1; runs_.size() > 1; ++pass)
    if (!MergePass(pass)) return false;
  finished_ = true;
  ResetRead();
  return true;
}

void QSort::RecordReadFailure(const char* where, int line) {
  if (errno == 0) errno = EIO;
  error_.Record(errno, where, kSource, line);
}

bool QSort::FillBlock(Block& block, const char* where) {
  uint64_t left = block.length - block.consumed;
  uint32_t n = left < block.shareSize ? uint32_t(left) : block.shareSize;
  errno = 0;
  if (!file_->ReadAt(int64_t(block.offset + block.consumed), block.share, n)) {
    RecordReadFailure(where, kLineBlockRead);
    return false;
  }
  block.consumed += n;
  block.filled = n;
  block.position = 0;
  return true;
}

void QSort::CallProgress(int pass) {
  if (!progress_) return;
  int64_t now = env().NowMicros();
  if (now < nextCall_) return;
  nextCall_ = now + intervalMicros_;
  progress_(progressContext_, pass, int(total_ ? passWritten_ * 100 / total_ : 100));
}

bool QSort::FlushOutput(QFile& out, int pass) {
  if (outFill_ == 0) return true;
  if (!out.Write(outArea_, outFill_)) return false;
  passWritten_ += outFill_;
  outFill_ = 0;
  CallProgress(pass);
  return true;
}

bool QSort::Emit(const uint8_t* bytes, uint64_t count, QFile& out, int pass) {
  while (count > 0) {
    if (outFill_ == outSize_ && !FlushOutput(out, pass)) return false;
    uint64_t room = outSize_ - outFill_;
    uint32_t n = uint32_t(count < room ? count : room);
    std::memcpy(outArea_ + outFill_, bytes, n);
    outFill_ += n;
    bytes += n;
    count -= n;
  }
  return true;
}

bool QSort::MergeGroup(Block* blocks, size_t count, QFile& out, int pass) {
  for (size_t i = 0; i < count; ++i)
    if (!FillBlock(blocks[i], "MergeBlock::Init")) return false;
  size_t active = count;
  while (active > 1) {
    // The smallest head and the next best; on equal heads the earlier run
    // wins, which keeps the merge stable.
    int best = -1, second = -1;
    for (size_t i = 0; i < count; ++i) {
      if (blocks[i].done) continue;
      int n = int(i);
      if (best < 0 || Compare(blocks[n].Head(), blocks[best].Head()) < 0) {
        second = best;
        best = n;
      } else if (second < 0 || Compare(blocks[n].Head(), blocks[second].Head()) < 0) {
        second = n;
      }
    }
    Block& from = blocks[best];
    for (;;) {
      int c = Compare(from.Head(), blocks[second].Head());
      if (c > 0 || (c == 0 && best > second)) break;
      if (!Emit(from.Head(), recordSize_, out, pass)) return false;
      from.position += recordSize_;
      if (from.position < from.filled) continue;
      if (from.consumed < from.length) {
        if (!FillBlock(from, "MergeBlock::Init")) return false;
        continue;
      }
      from.done = true;
      --active;
      break;
    }
  }
  // One run left: its remaining bytes go through unchanged.
  for (size_t i = 0; i < count; ++i) {
    Block& rest = blocks[i];
    if (rest.done) continue;
    for (;;) {
      if (!Emit(rest.Head(), rest.filled - rest.position, out, pass)) return false;
      if (rest.consumed >= rest.length) break;
      if (!FillBlock(rest, "MergeBlock::CopyRemains")) return false;
    }
    rest.done = true;
  }
  return true;
}

bool QSort::MergePass(int pass) {
  uint32_t fanIn = allocated_ / 65536;
  fanIn = fanIn > 0 ? fanIn - 1 : 0;
  fanIn = std::clamp(fanIn, 2u, 8u);
  while (fanIn > 2 && usable_ / (fanIn + 1) < recordSize_) --fanIn;
  uint32_t share = usable_ / (fanIn + 1) / recordSize_ * recordSize_;

  std::unique_ptr<QFile> out;
  if (!OpenTemp(&out)) return false;
  outArea_ = buffer_ + size_t(fanIn) * share;
  outSize_ = share;
  outFill_ = 0;
  passWritten_ = 0;

  std::vector<uint64_t> merged;
  Block blocks[8];
  uint64_t offset = 0;
  for (size_t first = 0; first < runs_.size(); first += fanIn) {
    size_t count = std::min<size_t>(fanIn, runs_.size() - first);
    uint64_t length = 0;
    for (size_t i = 0; i < count; ++i) {
      blocks[i] = Block();
      blocks[i].offset = offset;
      blocks[i].length = runs_[first + i];
      blocks[i].share = buffer_ + i * share;
      blocks[i].shareSize = share;
      offset += blocks[i].length;
      length += blocks[i].length;
    }
    if (!MergeGroup(blocks, count, *out, pass)) return false;
    merged.push_back(length);
  }
  if (!FlushOutput(*out, pass)) return false;
  // The old file is closed, and so deleted, as the new one takes its place.
  file_ = std::move(out);
  runs_ = std::move(merged);
  return true;
}

void QSort::ResetRead() {
  readOffset_ = 0;
  if (!inMemory_) {
    FlushBuffer();
    bufferStart_ = 0;
    bufferBytes_ = 0;
  }
}

bool QSort::ReadBuffer(uint64_t offset) {
  if (!FlushBuffer()) return false;
  uint64_t left = total_ - offset;
  uint32_t n = left < usable_ ? uint32_t(left) : usable_;
  errno = 0;
  if (!file_ || !file_->ReadAt(int64_t(offset), buffer_, n)) {
    bufferBytes_ = 0;
    RecordReadFailure("QSort::ReadBuffer", kLineBufferRead);
    return false;
  }
  bufferStart_ = offset;
  bufferBytes_ = n;
  return true;
}

uint8_t* QSort::Next() {
  if (!finished_ || readOffset_ + recordSize_ > total_) return nullptr;
  uint8_t* record;
  if (inMemory_) {
    record = buffer_ + readOffset_;
  } else {
    if (readOffset_ < bufferStart_ || readOffset_ + recordSize_ > bufferStart_ + bufferBytes_) {
      if (!ReadBuffer(readOffset_)) return nullptr;
    }
    record = buffer_ + (readOffset_ - bufferStart_);
  }
  readOffset_ += recordSize_;
  return record;
}

bool QSort::FlushBuffer() {
  if (!dirty_ || inMemory_ || bufferBytes_ == 0) {
    dirty_ = false;
    return true;
  }
  dirty_ = false;
  return file_->Seek(int64_t(bufferStart_)) && file_->Write(buffer_, bufferBytes_);
}
