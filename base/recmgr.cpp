#include "base/recmgr.h"

#include <cstring>
#include <new>

namespace {

constexpr const char* kSource = "..\\src\\recmgr";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineNoMemory = 64;
constexpr int kLineRecordSize = 41;

}  // namespace

bool QRecordMgrRecord::Allocate(uint32_t size) {
  buffer_.reset(new (std::nothrow) uint8_t[size]);
  if (!buffer_) {
    error_.Record(Q_ERROR_MEMORY, "QTree - Unable to allocate QRecordMgr", kSource, kLineNoMemory);
    return false;
  }
  return true;
}

bool QRecordMgrRecord::Load(uint32_t number) {
  held_ = -1;
  uint64_t offset = owner_.offset0_ + uint64_t(number) * owner_.recordSize_;
  if (offset > uint64_t(INT64_MAX) - owner_.recordSize_) return false;
  if (!owner_.file_.ReadAt(int64_t(offset), buffer_.get(), owner_.recordSize_)) return false;
  held_ = number;
  return true;
}

QRecordMgr::QRecordMgr(const char* name, QFile& file, uint64_t offset0, uint32_t recordSize,
                       uint32_t cacheCount, QError& error)
    : list_(name), file_(file), offset0_(offset0), recordSize_(recordSize) {
  if (recordSize == 0) {
    error.Record(Q_ERROR_INVALID_DATA, "QRecordMgr - record size 0", kSource, kLineRecordSize);
    return;
  }
  if (file.IsMapped()) {
    base_ = file.View();
    viewSize_ = file.ViewSize();
    initialised_ = true;
    return;
  }
  if (cacheCount > kMaxCache) cacheCount = kMaxCache;
  if (cacheCount == 0) cacheCount = 1;
  for (uint32_t i = 0; i < cacheCount; ++i) {
    auto* record = new (std::nothrow) QRecordMgrRecord(*this, error);
    if (!record) {
      error.Record(Q_ERROR_MEMORY, "QRecordMgr - Failed to Initialize QRecordMgrRecord", kSource,
                   58);
      return;
    }
    list_.AddTail(record);
    if (!record->Allocate(recordSize)) return;
    ++cacheCount_;
  }
  initialised_ = true;
}

const uint8_t* QRecordMgr::GetRecord(uint32_t number, int* how) {
  if (!initialised_) return nullptr;
  if (base_) {
    if (how) *how = -1;
    uint64_t offset = offset0_ + uint64_t(number) * recordSize_;
    if (offset > viewSize_ || recordSize_ > viewSize_ - offset) return nullptr;
    return base_ + offset;
  }
  for (QDlistObject* node = list_.First(); node; node = list_.Next(node)) {
    if (node->Matches(&number)) {
      if (how) *how = 1;
      list_.MoveToHead(node);
      return static_cast<QRecordMgrRecord*>(node)->Bytes();
    }
  }
  if (how) *how = 0;
  auto* victim = static_cast<QRecordMgrRecord*>(list_.Last());
  list_.MoveToHead(victim);
  return victim->Load(number) ? victim->Bytes() : nullptr;
}
