// QRecordMgr: fixed-size records of a file (record n at offset0 + n x size),
// handed out from a small least-recently-used cache, or straight from the
// file's shared mapped view when the QFile is mapped.
//
// GetRecord returns the record's bytes, valid until the next GetRecord on the
// same manager (a cached buffer may be reused), or null when the record
// cannot be read whole: past the end of the file or of the view, or on a
// failed read. A failed read is not recorded as an error; callers decide what
// a missing record means.
#pragma once

#include <cstdint>
#include <memory>

#include "base/qerror.h"
#include "base/qfile.h"
#include "base/qlist.h"

class QRecordMgr;

// One cached record; the list of the manager keeps the most recently used
// first.
class QRecordMgrRecord : public QLRUObject {
 public:
  QRecordMgrRecord(QRecordMgr& owner, QError& error) : owner_(owner), error_(error) {}

  // key points to the record number (uint32_t).
  bool Matches(const void* key) const override {
    return held_ >= 0 && uint32_t(held_) == *static_cast<const uint32_t*>(key);
  }
  bool IsValid() const override { return held_ >= 0; }

  // Allocates the buffer; false when there is no memory.
  bool Allocate(uint32_t size);
  // Reads record number into the buffer; on failure the record holds nothing.
  bool Load(uint32_t number);

  int64_t Held() const { return held_; }
  const uint8_t* Bytes() const { return buffer_.get(); }

 private:
  QRecordMgr& owner_;
  QError& error_;
  int64_t held_ = -1;  // -1: none
  std::unique_ptr<uint8_t[]> buffer_;
};

class QRecordMgr {
 public:
  // Limits of the cache: at most 1024 records, at least 1.
  static constexpr uint32_t kMaxCache = 1024;

  // name: the list's label (at most 8 characters kept). A record size of 0
  // leaves the manager uninitialised (106).
  QRecordMgr(const char* name, QFile& file, uint64_t offset0, uint32_t recordSize,
             uint32_t cacheCount, QError& error);
  ~QRecordMgr() = default;
  QRecordMgr(const QRecordMgr&) = delete;
  QRecordMgr& operator=(const QRecordMgr&) = delete;

  // The record's bytes or null. how (when given): 1 a cache hit, 0 read from
  // the file, -1 taken from the mapped view.
  const uint8_t* GetRecord(uint32_t number, int* how = nullptr);

  bool IsInitialised() const { return initialised_; }
  bool IsMapped() const { return base_ != nullptr; }
  uint32_t RecordSize() const { return recordSize_; }
  uint64_t Offset0() const { return offset0_; }
  // Number of cached records (0 when mapped).
  uint32_t CacheCount() const { return cacheCount_; }
  const char* Name() const { return list_.Name(); }
  QFile& File() { return file_; }

 private:
  friend class QRecordMgrRecord;

  QDlist list_;
  QFile& file_;
  uint64_t offset0_;
  uint32_t recordSize_;
  uint32_t cacheCount_ = 0;
  const uint8_t* base_ = nullptr;
  size_t viewSize_ = 0;
  bool initialised_ = false;
};
