// Bare descriptors bound to an error record, used by the writers (tree
// builder, merge sort), and the process-wide trace of low-level calls.
//
// When a trace stream is set, every open, read, write, seek and close of the
// base library prints exactly one line to it. Nothing in the library sets it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/qerror.h"

// The trace stream (null: no trace). Written without a lock.
void QSetTraceStream(std::FILE* stream);
std::FILE* QTraceStream();
// Prints one line to the trace stream when it is set.
void QTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The line of a read or write of count bytes on fd that gave n.
void QTraceCount(const char* call, int fd, uint32_t count, int64_t n);

// Traced wrappers over the platform layer. Flags are platform::OpenFlag bits.
int QTracedOpen(const char* name, unsigned flags, int permission);
int64_t QTracedRead(int fd, void* buffer, uint32_t count);
int64_t QTracedWrite(int fd, const void* buffer, uint32_t count);
int64_t QTracedSeek(int fd, int64_t offset, int origin);
int QTracedClose(int fd);

class QioFile {
 public:
  // Creates or truncates name for writing; Descriptor() is -1 on failure,
  // with errno recorded. A new file gets 0666 less the umask: it is a
  // result for the user (a boundary or attribute file), not a scratch file.
  QioFile(const char* name, QError& error);
  ~QioFile();
  QioFile(const QioFile&) = delete;
  QioFile& operator=(const QioFile&) = delete;

  static QioFile* Create(const char* name, QError& error) { return new QioFile(name, error); }

  bool WriteAt(int64_t offset, uint32_t count, const void* buffer);
  // Writes count zero bytes at offset.
  bool Fill(int64_t offset, int64_t count);
  // Appends count zero bytes; the old end offset, or -1.
  int64_t Reserve(int64_t count);
  // Pads the file with zero bytes to a multiple of unit (unit > 0).
  bool PadToMultiple(uint32_t unit);
  bool Close();

  int Descriptor() const { return fd_; }

 private:
  QError& error_;
  int fd_;
};

int Q_open(const char* name, unsigned flags, int permission);
int64_t Q_read(int fd, void* buffer, uint32_t count, QError& error);
int64_t Q_readQuiet(int fd, void* buffer, uint32_t count);
bool Q_close(int fd, QError& error);

// Creates a new file "qtb.tmp.<n>" in directory (the current folder when
// empty) with O_EXCL, read and write; the descriptor, or -1. The name goes to
// nameOut.
int QioOpenTreeTemp(std::string* nameOut, const std::string& directory = std::string());
