#include "base/qerror.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

// Searched linearly; ends with the code 0xFFFFFFFF.
constexpr CodeText kCodeTable[] = {
    {100, ""},
    {101, "Unknown error."},
    {102, "Invalid file signature."},
    {103, "Internal table overflow."},
    {104, "Insufficient memory."},
    {105, "File not found."},
    {106, "Invalid data passed to function."},
    {107, "File is out of date."},
    {109, "Cannot match an address and match a geocode in the same Trellux call."},
    {110, "No centerline found."},
    {111, "Invalid checksum or file size."},
    {0xFFFFFFFFu, nullptr},
};

}  // namespace

const char* QErrorCodeText(int32_t code) {
  if (code < 100) return nullptr;
  for (const CodeText* row = kCodeTable; row->code != 0xFFFFFFFFu; ++row)
    if (row->code == uint32_t(code)) return row->text;
  return "Unknown error code.";
}

QError::QError(uint8_t flag) : flag_(flag), code_(Q_ERROR_NONE), reserved_(0) {
  message_[0] = detail_[0] = location_[0] = '\0';
}

int32_t QError::Record(int32_t code, const char* detail, const char* sourceFile, int line) {
  if (code == Q_ERROR_NONE) {
    Clear();
    return code;
  }
  if (code < 100) {
    // The text of the errno current now, not of the code passed: callers pass
    // errno itself or a fixed value such as 28 after a failed runtime call.
    std::string text = platform::ErrnoText(errno);
    StrCopySized(message_, text.c_str(), sizeof message_);
    if (char* lf = std::strchr(message_, '\n')) *lf = '\0';
  } else {
    StrCopySized(message_, QErrorCodeText(code), sizeof message_);
  }
  code_ = code;
  StrCopySized(detail_, detail ? detail : "", sizeof detail_);
  StrFormat(location_, sizeof location_, "Error recorded in: %s, (%d).",
            sourceFile ? sourceFile : "", line);
  return code;
}

void QError::Clear() {
  code_ = Q_ERROR_NONE;
  message_[0] = detail_[0] = location_[0] = '\0';
  reserved_ = 0;
}

int32_t QErrorEx::Record(int32_t code, const char* detail, const char* sourceFile, int line) {
  QError::Record(code, detail, sourceFile, line);
  throw QErrorEx(*this);
}

int StrFormatV(char* buffer, size_t size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

int StrFormat(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = StrFormatV(buffer, size, format, args);
  va_end(args);
  return n;
}

bool CqmsSynchronization::Fail(int32_t status) {
  status_ = status;
  return false;
}

// The flag is set by the first Lock of any thread and read by the Unlock of
// any other, so both reach it atomically.
bool CqmsSynchronization::Lock() {
  std::atomic_ref<int32_t> initialised(initialised_);
  if (!initialised.load(std::memory_order_relaxed))
    initialised.store(1, std::memory_order_relaxed);
  try {
    mutex_.lock();
  } catch (const std::system_error&) {
    return Fail(kStatusWaitFailed);
  }
  ++depth_;
  status_ = kStatusDone;
  return true;
}

bool CqmsSynchronization::Unlock() {
  if (!std::atomic_ref<int32_t>(initialised_).load(std::memory_order_relaxed)) return false;
  if (depth_ == 0) return Fail(kStatusNotHeld);
  status_ = kStatusDone;
  --depth_;
  mutex_.unlock();
  return true;
}
