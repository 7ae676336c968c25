// The buffered file behind the handles of the shapefile and dBASE functions,
// and how those functions report a failure.
//
// A stream reads or writes one file through platform::Env. Reads return the
// bytes that were there (fewer at the end of the file); writes are buffered
// until a positioned write, a seek or the close, so the close reports every
// write that did not reach the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/endian.h"
#include "zonelib.h"

struct ShapeStream {
 public:
  enum Mode { kRead, kWrite };

  // An open stream, or null with errno set.
  static ShapeStream* Open(const std::string& path, Mode mode);
  // Flushes and closes; the stream is freed and the pointer cleared. False
  // when a buffered write or the close failed (errno set). A null stream is
  // closed already: true.
  static bool Close(ShapeStream*& stream);

  // Bytes read into buffer (fewer than count at the end of the file), or -1.
  int64_t Read(void* buffer, size_t count);
  // False (errno set) when the bytes cannot be taken.
  bool Write(const void* buffer, size_t count);
  // Writes at offset, past the buffered bytes, without moving the position.
  bool WriteAt(int64_t offset, const void* buffer, size_t count);
  bool Seek(int64_t offset);
  int64_t Position() const { return position_; }
  // The file's size when it was opened (read streams).
  int64_t Size() const { return size_; }
  const std::string& Path() const { return path_; }

 private:
  ShapeStream(int fd, std::string path, Mode mode, int64_t size);
  ~ShapeStream() = default;
  bool Flush();

  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_;
  std::string path_;
  Mode mode_;
  int64_t size_;
  int64_t position_ = 0;  // of the next byte the caller reads or writes
  char buffer_[kBufferSize];
  size_t begin_ = 0;  // reading: unread bytes are buffer_[begin_, end_)
  size_t end_ = 0;    // writing: buffer_[0, end_) waits for the file
};

// Prints "where: what" on standard error and keeps it as the thread's last
// failure (ShapeLastError); returns -1.
int ShapeFail(const char* where, const std::string& what);
// As ShapeFail, with the system's text of errno as what, after the path of
// the file when one is given.
int ShapeFailErrno(const char* where, const std::string& path = std::string());
