#include "base/qio.h"

#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <cstring>

#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\qio";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineOpen = 60;
constexpr int kLineWriteSeek = 89;
constexpr int kLineWrite = 95;
constexpr int kLineFillSeek = 110;
constexpr int kLineFill = 119;
constexpr int kLineReserve = 131;
constexpr int kLinePad = 145;
constexpr int kLineRead = 180;
constexpr int kLineClose = 195;
std::FILE* g_trace = nullptr;

platform::Env& env() { return platform::Env::Current(); }

}  // namespace

void QSetTraceStream(std::FILE* stream) { g_trace = stream; }
std::FILE* QTraceStream() { return g_trace; }

void QTrace(const char* format, ...) {
  if (!g_trace) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(g_trace, format, args);
  va_end(args);
}

void QTraceCount(const char* call, int fd, uint32_t count, int64_t n) {
  if (n == int64_t(count))
    QTrace("%s( %d, %u ) = %" PRId64 "\n", call, fd, count, n);
  else
    QTrace("%s( %d, %u ) = FAILED(%" PRId64 ")\n", call, fd, count, n);
}

int QTracedOpen(const char* name, unsigned flags, int permission) {
  int fd = env().Open(name, flags, permission);
  if (g_trace) {
    if (fd >= 0)
      std::fprintf(g_trace, "Open( %s, %u ) = %d\n", name, flags, fd);
    else
      std::fprintf(g_trace, "Open( %s, %u ) = FAILED\n", name, flags);
  }
  return fd;
}

int64_t QTracedRead(int fd, void* buffer, uint32_t count) {
  int64_t n = env().Read(fd, buffer, count);
  QTraceCount("Read", fd, count, n);
  return n;
}

int64_t QTracedWrite(int fd, const void* buffer, uint32_t count) {
  int64_t n = env().Write(fd, buffer, count);
  QTraceCount("Write", fd, count, n);
  return n;
}

int64_t QTracedSeek(int fd, int64_t offset, int origin) {
  int64_t r = env().Seek(fd, offset, origin);
  if (g_trace) {
    if (r == offset || origin != platform::kSeekSet)
      std::fprintf(g_trace, "Seek( %d, %" PRId64 ", %d ) = %" PRId64 "\n", fd, offset, origin, r);
    else
      std::fprintf(g_trace, "Seek( %d, %" PRId64 ", %d ) = FAILED(%" PRId64 ")\n", fd, offset,
                   origin, r);
  }
  return r;
}

int QTracedClose(int fd) {
  int r = env().Close(fd);
  if (g_trace) std::fprintf(g_trace, "Close( %d ) = %d\n", fd, r);
  return r;
}

QioFile::QioFile(const char* name, QError& error) : error_(error) {
  fd_ = QTracedOpen(name, platform::kWrite | platform::kCreate | platform::kTruncate, 0666);
  if (fd_ < 0) error_.Record(errno, name, kSource, kLineOpen);
}

QioFile::~QioFile() {
  if (fd_ >= 0) QTracedClose(fd_);
}

bool QioFile::Close() {
  if (fd_ < 0) return false;
  bool ok = Q_close(fd_, error_);
  fd_ = -1;
  return ok;
}

bool QioFile::WriteAt(int64_t offset, uint32_t count, const void* buffer) {
  if (QTracedSeek(fd_, offset, platform::kSeekSet) != offset) {
    error_.Record(errno, nullptr, kSource, kLineWriteSeek);
    return false;
  }
  if (QTracedWrite(fd_, buffer, count) != int64_t(count)) {
    error_.Record(errno, nullptr, kSource, kLineWrite);
    return false;
  }
  return true;
}

bool QioFile::Fill(int64_t offset, int64_t count) {
  if (QTracedSeek(fd_, offset, platform::kSeekSet) != offset) {
    error_.Record(errno, nullptr, kSource, kLineFillSeek);
    return false;
  }
  static const char kZeros[1024] = {};
  while (count > 0) {
    uint32_t n = count > 1024 ? 1024u : uint32_t(count);
    if (QTracedWrite(fd_, kZeros, n) != int64_t(n)) {
      error_.Record(errno, nullptr, kSource, kLineFill);
      return false;
    }
    count -= n;
  }
  return true;
}

int64_t QioFile::Reserve(int64_t count) {
  int64_t end = QTracedSeek(fd_, 0, platform::kSeekEnd);
  if (end < 0) {
    error_.Record(errno, nullptr, kSource, kLineReserve);
    return -1;
  }
  return Fill(end, count) ? end : -1;
}

bool QioFile::PadToMultiple(uint32_t unit) {
  if (unit == 0) return false;
  int64_t end = QTracedSeek(fd_, 0, platform::kSeekEnd);
  if (end < 0) {
    error_.Record(errno, nullptr, kSource, kLinePad);
    return false;
  }
  int64_t rest = end % unit;
  if (rest == 0) return true;
  return Reserve(unit - rest) >= 0;
}

int Q_open(const char* name, unsigned flags, int permission) {
  return QTracedOpen(name, flags, permission);
}

int64_t Q_read(int fd, void* buffer, uint32_t count, QError& error) {
  int64_t n = QTracedRead(fd, buffer, count);
  if (n < 0) error.Record(errno, nullptr, kSource, kLineRead);
  return n;
}

int64_t Q_readQuiet(int fd, void* buffer, uint32_t count) {
  return QTracedRead(fd, buffer, count);
}

bool Q_close(int fd, QError& error) {
  if (QTracedClose(fd) != 0) {
    error.Record(errno, nullptr, kSource, kLineClose);
    return false;
  }
  return true;
}

int QioOpenTreeTemp(std::string* nameOut, const std::string& directory) {
  // Tries 0, then 0 upward, as many numbers as the 23-bit counter holds.
  for (int32_t n = -1; n < 8388608; ++n) {
    char base[32];
    std::snprintf(base, sizeof base, "%s.tmp.%d", "qtb", n < 0 ? 0 : n);
    std::string name = directory.empty() ? std::string(base) : platform::JoinPath(directory, base);
    int fd = QTracedOpen(name.c_str(),
                         platform::kReadWrite | platform::kCreate | platform::kExclusive, 0600);
    if (fd >= 0) {
      if (nameOut) *nameOut = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}
