#include "base/iofile.h"

#include <cstdarg>
#include <cstring>
#include <new>

namespace {
constexpr const char* kSource = "..\\src\\iofile";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineNoMemory = 52;
constexpr int kLineReadFailed = 140;
}

QInputFile::QInputFile(const char* name, QError& error) : error_(error), file_(fileError_) {
  buffer_.reset(new (std::nothrow) unsigned char[kBufferSize]);
  if (!buffer_) {
    error_.Record(Q_ERROR_MEMORY, name, kSource, kLineNoMemory);
    error_flag_ = eof_ = true;
    return;
  }
  bufferSize_ = uint16_t(kBufferSize);
  if (!file_.Open(name, QFile::kRead)) {
    error_ = fileError_;
    error_flag_ = eof_ = true;
    return;
  }
  DetectDelimiter();
}

QInputFile::~QInputFile() {
  if (file_.IsOpen()) file_.Close();
}

void QInputFile::DetectDelimiter() {
  unsigned char head[512];
  int64_t n = file_.Read(head, sizeof head, false);
  file_.Seek(0);
  if (n < 0) n = 0;
  size_t length = strnlen(reinterpret_cast<const char*>(head), size_t(n));
  const void* cr = std::memchr(head, '\r', length);
  const void* lf = std::memchr(head, '\n', length);
  if (cr && !lf)
    delimiter_ = kCR;
  else if (cr && lf)
    delimiter_ = (static_cast<const unsigned char*>(cr) + 1 == lf) ? kCRLF : (lf < cr ? kLF : kCR);
  else if (lf)
    delimiter_ = kLF;
  else
    delimiter_ = kNone;
  if (delimiter_ == kNone)
    Fail("File does not have CR, LF, or CR/LF line delimiters.\n%s", file_.Name());
}

int QInputFile::Fail(const char* format, ...) {
  char detail[kQErrorDetailSize];
  va_list args;
  va_start(args, format);
  StrFormatV(detail, sizeof detail, format, args);
  va_end(args);
  error_.Record(Q_ERROR_EMPTY, detail, kSource, kLineReadFailed);
  error_flag_ = eof_ = true;
  return -1;
}

int QInputFile::NextChar() {
  if (position_ >= filled_) {
    if (eof_ || !file_.IsOpen()) return -1;
    int64_t n = file_.Read(buffer_.get(), bufferSize_, false);
    if (n <= 0) {
      if (n < 0) {
        error_ = fileError_;
        error_flag_ = true;
      }
      eof_ = true;
      return -1;
    }
    filled_ = uint32_t(n);
    position_ = 0;
  }
  ++taken_;
  return buffer_[position_++];
}

int QInputFile::ReadLine(char* buffer, size_t size) {
  error_flag_ = false;
  ++line_;
  if (!buffer || size == 0) return -1;
  buffer[0] = '\0';
  if (eof_) return -1;
  size_t limit = size - 1 < size_t(kMaxLine) ? size - 1 : size_t(kMaxLine);
  size_t n = 0;
  for (;;) {
    int c = NextChar();
    if (c < 0 || c == 26) {
      buffer[n] = '\0';
      if (error_flag_) return -1;
      return n == 0 ? -1 : int(n);
    }
    if (c == '\n') {
      if (delimiter_ == kLF) break;
      if (delimiter_ == kCRLF) {
        buffer[n] = '\0';
        return Fail("LF without CR in input file:\n%s\nLine: %ld", file_.Name(), long(line_));
      }
    } else if (c == '\r') {
      if (delimiter_ == kCR) break;
      if (delimiter_ == kCRLF) {
        if (NextChar() == '\n') break;
        buffer[n] = '\0';
        return Fail("CR without LF in input file:\n%s\nLine: %ld", file_.Name(), long(line_));
      }
    }
    if (n >= limit) {
      buffer[n] = '\0';
      return Fail("Maximum line length of %d is\nshorter than line %ld. ", kMaxLine, long(line_));
    }
    buffer[n++] = char(c);
  }
  buffer[n] = '\0';
  return int(n);
}
