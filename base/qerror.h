// Error records and the re-entrant lock of the base library.
//
// Nothing in the base library returns an error text by itself: every class is
// handed a QError by its owner, fills it when an operation fails (code,
// message, detail, source location) and returns its own failure value. A
// QErrorEx fills itself the same way and then throws a copy of itself.
//
// Codes of 100 and more come from the table below; codes below 100 (and any
// negative code other than -1) are errno values, whose message is the system
// text of the errno current at the time of recording. -1 means no error.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>

// Fixed field sizes of the record, terminator included.
inline constexpr size_t kQErrorMessageSize = 256;
inline constexpr size_t kQErrorDetailSize = 256;
inline constexpr size_t kQErrorLocationSize = 128;

// The code table of the base library.
enum QErrorCode : int32_t {
  Q_ERROR_NONE = -1,
  Q_ERROR_EMPTY = 100,
  Q_ERROR_UNKNOWN = 101,
  Q_ERROR_SIGNATURE = 102,
  Q_ERROR_TABLE_OVERFLOW = 103,
  Q_ERROR_MEMORY = 104,
  Q_ERROR_FILE_NOT_FOUND = 105,
  Q_ERROR_INVALID_DATA = 106,
  Q_ERROR_OUT_OF_DATE = 107,
  Q_ERROR_MATCH_AND_GEOCODE = 109,
  Q_ERROR_NO_CENTERLINE = 110,
  Q_ERROR_CHECKSUM = 111,
};

// The text of a table code; "Unknown error code." for a code of 100 or more
// that the table lacks; null for codes below 100.
const char* QErrorCodeText(int32_t code);

class QError {
 public:
  explicit QError(uint8_t flag = 0);
  virtual ~QError() = default;
  QError(const QError&) = default;
  QError& operator=(const QError&) = default;

  // Fills the record; returns code. Code -1 clears it.
  virtual int32_t Record(int32_t code, const char* detail, const char* sourceFile, int line);
  virtual void Clear();

  int32_t Code() const { return code_; }
  bool HasError() const { return code_ != Q_ERROR_NONE; }
  const char* Message() const { return message_; }
  const char* Detail() const { return detail_; }
  const char* Location() const { return location_; }
  uint8_t Flag() const { return flag_; }
  void SetFlag(uint8_t flag) { flag_ = flag; }
  uint64_t Reserved() const { return reserved_; }

 private:
  uint8_t flag_;
  int32_t code_;
  char message_[kQErrorMessageSize];
  uint64_t reserved_;
  char detail_[kQErrorDetailSize];
  char location_[kQErrorLocationSize];
};

// A QError that throws a copy of itself (as QErrorEx) from every Record.
class QErrorEx : public QError {
 public:
  using QError::QError;
  [[noreturn]] int32_t Record(int32_t code, const char* detail, const char* sourceFile,
                              int line) override;
};

// Bounded printf into a caller's buffer (always terminated when size > 0);
// returns the length the full text would have.
int StrFormat(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int StrFormatV(char* buffer, size_t size, const char* format, va_list args);

// The library's re-entrant lock. Lock nests for the holding thread; Unlock
// with nothing held is refused with status 6. A failed Lock or Unlock
// returns false with its status; it never ends the process.
class CqmsSynchronization {
 public:
  CqmsSynchronization() = default;
  virtual ~CqmsSynchronization() = default;
  CqmsSynchronization(const CqmsSynchronization&) = delete;
  CqmsSynchronization& operator=(const CqmsSynchronization&) = delete;

  virtual bool Lock();
  virtual bool Unlock();

  int32_t Status() const { return status_; }
  uint32_t Depth() const { return depth_; }
  bool Initialised() const { return initialised_ != 0; }

  // Status codes of the last operation.
  static constexpr int32_t kStatusDone = 0;
  static constexpr int32_t kStatusCreateFailed = 1;
  static constexpr int32_t kStatusWaitFailed = 2;
  static constexpr int32_t kStatusAbandoned = 3;
  static constexpr int32_t kStatusTimedOut = 4;
  static constexpr int32_t kStatusReleaseFailed = 5;
  static constexpr int32_t kStatusNotHeld = 6;
  static constexpr int32_t kStatusOther = 7;

 protected:
  // Derived classes that set the lock up in their constructor call this.
  void MarkInitialised() { initialised_ = 1; }

 private:
  // Records a failure. Returns false.
  bool Fail(int32_t status);

  std::recursive_mutex mutex_;
  int32_t status_ = 0;
  uint32_t depth_ = 0;
  int32_t initialised_ = 0;
};

// Holds a CqmsSynchronization (or a class built on it) for a scope.
class QLockHold {
 public:
  explicit QLockHold(CqmsSynchronization& lock) : lock_(lock) { lock_.Lock(); }
  ~QLockHold() { lock_.Unlock(); }
  QLockHold(const QLockHold&) = delete;
  QLockHold& operator=(const QLockHold&) = delete;

 private:
  CqmsSynchronization& lock_;
};
