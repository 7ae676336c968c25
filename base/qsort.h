// QSort: sorts any number of fixed-size records (a key, then data) with a
// bounded buffer. Records are collected in the buffer; each full buffer is
// sorted and written as a run to a temporary file; Finish merges the runs,
// up to 8 at a time, pass after pass, until one sorted run remains, which is
// read back with ResetRead and Next.
//
// The sort is stable: records that compare equal come back in the order they
// were added, within a run and across runs. The order is Compare's (memcmp
// over the key length unless a subclass replaces it).
//
// Records that all fit in the buffer are sorted there and never touch a file.
// Temporary files go to the folder given at construction (the system's
// temporary folder when it is empty) and are removed when they are no longer
// needed and in any case by the destructor, whether the sort succeeded or not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/qerror.h"
#include "base/qfile.h"

class QSort {
 public:
  static constexpr uint32_t kDefaultBufferBytes = 256 * 1024;
  static constexpr uint32_t kDefaultIntervalMillis = 1000;

  // progress(context, pass from 1, percent of the pass written).
  using Progress = void (*)(void* context, int pass, int percent);

  // Allocates the buffer (bufferBytes, halved until the allocation succeeds;
  // 104 when nothing can be had). Records default to 4 key and 24 data bytes.
  QSort(QError& error, const std::string& directory, uint32_t bufferBytes = kDefaultBufferBytes);
  virtual ~QSort();
  QSort(const QSort&) = delete;
  QSort& operator=(const QSort&) = delete;

  // Order of two records: negative, 0 or positive.
  virtual int Compare(const void* a, const void* b) const;

  // Sets the record layout before the first Add; false (106) when records
  // were added already or the buffer cannot hold three records.
  bool SetRecordLayout(uint32_t keyLength, uint32_t dataLength);
  // progress is called at most once per interval while runs are merged.
  void SetProgress(Progress progress, void* context,
                   uint32_t intervalMillis = kDefaultIntervalMillis);

  // Copies key (key length bytes) and data (data length bytes) behind the
  // records collected; a full buffer is first written as a run. False when
  // that run cannot be written, or after Finish.
  bool Add(const void* key, const void* data);
  // Sorts the buffer and writes it as a run at the end of the temporary file.
  bool FlushRun();
  // After the last Add: merges the runs into one. False when a temporary file
  // cannot be made or a read or write fails.
  bool Finish();

  // Reading the sorted records back, after Finish.
  void ResetRead();
  // The next record in order (record size bytes, writable until the next
  // call; MarkDirty keeps a change), or null at the end or after a failed
  // read.
  uint8_t* Next();
  void MarkDirty() { dirty_ = true; }
  // Writes a changed buffer back to its place in the file.
  bool FlushBuffer();

  bool IsValid() const { return buffer_ != nullptr; }
  uint64_t Count() const { return recordSize_ ? total_ / recordSize_ : 0; }
  uint32_t KeyLength() const { return keyLength_; }
  uint32_t DataLength() const { return dataLength_; }
  uint32_t RecordSize() const { return recordSize_; }
  // Usable bytes of the buffer (whole records).
  uint32_t BufferSize() const { return usable_; }
  // Runs written so far (before Finish) or left (after it).
  size_t RunCount() const { return runs_.size(); }
  // Size of the first run written, in bytes.
  uint64_t FirstRunSize() const { return firstRun_; }

 protected:
  // Sorts the records of the buffer in place, stably.
  void SortBuffer();

 private:
  struct Block;

  bool OpenTemp(std::unique_ptr<QFile>* file);
  bool MergePass(int pass);
  bool MergeGroup(Block* blocks, size_t count, QFile& out, int pass);
  bool FillBlock(Block& block, const char* where);
  bool Emit(const uint8_t* bytes, uint64_t count, QFile& out, int pass);
  bool FlushOutput(QFile& out, int pass);
  bool ReadBuffer(uint64_t offset);
  void RecordReadFailure(const char* where, int line);
  void CallProgress(int pass);

  QError& error_;
  std::string directory_;
  Progress progress_ = nullptr;
  void* progressContext_ = nullptr;
  int64_t intervalMicros_ = int64_t(kDefaultIntervalMillis) * 1000;
  int64_t nextCall_ = 0;

  uint32_t keyLength_ = 4;
  uint32_t dataLength_ = 24;
  uint32_t recordSize_ = 32;

  std::unique_ptr<uint8_t[]> raw_;
  uint8_t* buffer_ = nullptr;  // raw_ rounded up to a multiple of 8
  uint32_t allocated_ = 0;
  uint32_t usable_ = 0;
  uint32_t fill_ = 0;
  uint64_t firstRun_ = 0;
  uint64_t total_ = 0;

  std::unique_ptr<QFile> file_;
  std::vector<uint64_t> runs_;  // lengths in bytes, in file order
  bool finished_ = false;
  bool inMemory_ = false;

  // Merge output: the last share of the buffer.
  uint8_t* outArea_ = nullptr;
  uint32_t outSize_ = 0;
  uint32_t outFill_ = 0;
  uint64_t passWritten_ = 0;

  // Reading back.
  uint64_t readOffset_ = 0;
  uint64_t bufferStart_ = 0;
  uint32_t bufferBytes_ = 0;
  bool dirty_ = false;
};
