// QFile: a named file bound to an owner's error record, with sequential and
// positioned reads, temporary files that delete themselves, and a shared
// read-only mapped mode.
//
// Modes of Open: 0 read only, 1 read and write, 2 write only, 3 read and
// write appending, 4 a read-only view shared by every QFile of the process
// that maps the same file (falling back to mode 0 when no view can be made);
// any other mode reads only. Every open of an existing file finds it ignoring
// letter case when the exact name does not exist.
//
// Reads in the mapped mode are cut at the end of the view: nothing is ever
// read past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/qerror.h"

// Longest name a QFile keeps; a longer name is refused by Open.
inline constexpr size_t kQFileNameMax = 255;

class QFile {
 public:
  enum Mode { kRead = 0, kReadWrite = 1, kWrite = 2, kAppend = 3, kShared = 4 };
  enum Origin { kFromStart = 0, kFromEnd = 1, kFromCurrent = 2 };

  // A closed file bound to error (Construct) ...
  explicit QFile(QError& error);
  // ... or one opened at once.
  QFile(QError& error, const char* name, int mode);
  ~QFile();
  QFile(const QFile&) = delete;
  QFile& operator=(const QFile&) = delete;

  // Clears the object and binds error without opening.
  void Construct(QError& error);
  bool Open(const char* name, int mode);
  // Makes and opens a new file in directory (else TEMP, TMP, ".") that is
  // deleted when closed.
  bool OpenTemp(const char* directory);
  // Creates or truncates name for reading and writing.
  bool Create(const char* name, int permission, bool deleteOnClose);
  bool Close();

  // Reads count bytes at offset; false when they cannot all be read.
  bool ReadAt(int64_t offset, void* buffer, uint32_t count);
  // count when all were read; a short read gives -1 with code 28 when
  // shortIsError, else the short count with errno recorded.
  int64_t Read(void* buffer, uint32_t count, bool shortIsError);
  bool Write(const void* buffer, uint32_t count);
  bool Seek(int64_t offset, int origin = kFromStart);

  bool IsOpen() const { return open_; }
  bool IsMapped() const { return mapped_; }
  const char* Name() const { return name_; }
  int Descriptor() const { return fd_; }
  int64_t Position() const { return access_ == 1 ? position_ : cursor_; }
  // The mapped view and its size (mapped mode only).
  const unsigned char* View() const { return view_; }
  size_t ViewSize() const { return viewSize_; }
  // Current size of the file, or -1.
  int64_t Size() const;
  QError& Error() const { return *error_; }

 private:
  void Reset();
  bool SetName(const char* name);

  QError* error_;
  char name_[kQFileNameMax + 1];
  int fd_;
  int64_t position_;  // set by seeks; where mapped reads copy from
  int64_t cursor_;    // where the next descriptor read or write goes
  const unsigned char* view_;
  size_t viewSize_;
  int access_;  // 0 descriptor, 1 mapped view
  bool open_;
  bool mapped_;
  bool deleteOnClose_;
  bool append_;
};

// Shared read-only views, one per full path in the process. Acquire records
// 100 with the system's text when no view can be made, and returns null.
const unsigned char* QSharedViewAcquire(const char* name, QError& error, size_t* size);
void QSharedViewRelease(const unsigned char* view);
// How many views the process holds now (for tests).
size_t QSharedViewCount();

// A path text; grows on the heap as needed.
class QPathString {
 public:
  QPathString() = default;
  QPathString(const char* text) : text_(text ? text : "") {}
  QPathString(std::string text) : text_(std::move(text)) {}
  QPathString& operator=(const char* text) {
    text_ = text ? text : "";
    return *this;
  }
  QPathString& operator+=(const char* text) {
    text_ += text ? text : "";
    return *this;
  }
  QPathString operator+(const char* text) const { return QPathString(text_ + (text ? text : "")); }
  const char* c_str() const { return text_.c_str(); }
  size_t Length() const { return text_.size(); }

 private:
  std::string text_;
};

// Size of the named file, or -1.
int64_t FileSize64(const char* name);

// Looks for fileName (wildcards '*' and '?') in each folder of the
// ';'-separated pathList (empty elements skipped, folders longer than 246
// characters skipped); with a null list, in the folder named by fileName
// itself. result = folder + found name; returns result, or null with result
// empty.
const char* FindFileOnPath(const char* pathList, const char* fileName, char* result,
                           size_t resultSize);
