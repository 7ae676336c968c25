// QInputFile: a text file read line by line.
//
// The line delimiter (CR, LF or CR/LF) is decided once from the first 512
// bytes, and every line is then held to that rule, so that a file with mixed
// delimiters is reported with the line where the rule breaks. A line holds at
// most 2047 characters. The byte 26 (Ctrl-Z) ends a line like the end of the
// file. Errors go to the caller's QError with code 100; after one, the reader
// stays at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/qerror.h"
#include "base/qfile.h"

class QInputFile {
 public:
  enum Delimiter { kCR = 1, kLF = 2, kCRLF = 3, kNone = 4 };
  static constexpr uint32_t kBufferSize = 32768;
  static constexpr int kMaxLine = 2047;

  QInputFile(const char* name, QError& error);
  ~QInputFile();
  QInputFile(const QInputFile&) = delete;
  QInputFile& operator=(const QInputFile&) = delete;

  // Reads the next line without its delimiter into buffer (room for 2048
  // bytes; a smaller size cuts the line limit to size - 1) and terminates it.
  // Returns its length, or -1 at the end of the file or on error.
  int ReadLine(char* buffer, size_t size = kMaxLine + 1);

  bool InError() const { return error_flag_; }
  bool AtEnd() const { return eof_; }
  int DelimiterKind() const { return delimiter_; }
  uint32_t LineNumber() const { return line_; }
  uint64_t CharactersTaken() const { return taken_; }

 private:
  // The next byte, or -1 when the file yields nothing more.
  int NextChar();
  void DetectDelimiter();
  int Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));

  QError& error_;
  QError fileError_;  // reads end with a short count at the end; not the caller's concern
  std::unique_ptr<unsigned char[]> buffer_;
  uint32_t filled_ = 0;
  uint16_t position_ = 0;
  uint16_t bufferSize_ = 0;
  uint64_t taken_ = 0;
  QFile file_;
  int delimiter_ = kNone;
  bool error_flag_ = false;
  bool eof_ = false;
  uint32_t line_ = 0;
};
