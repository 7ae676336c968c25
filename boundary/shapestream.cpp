#include "boundary/shapestream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "boundary/shapefile.h"
#include "platform/env.h"

namespace {

thread_local std::string lastFailure;

}  // namespace

ShapeStream::ShapeStream(int fd, std::string path, Mode mode, int64_t size)
    : fd_(fd), path_(std::move(path)), mode_(mode), size_(size) {}

ShapeStream* ShapeStream::Open(const std::string& path, Mode mode) {
  platform::Env& env = platform::Env::Current();
  // Written files get the permissions the user's mask allows, as any other
  // data file the user makes.
  int fd = mode == kRead
               ? env.Open(path, platform::kRead)
               : env.Open(path, platform::kWrite | platform::kCreate | platform::kTruncate, 0666);
  if (fd < 0) return nullptr;
  platform::FileInfo info;
  int64_t size = env.FileStat(fd, &info) == 0 ? info.size : 0;
  ShapeStream* stream = new (std::nothrow) ShapeStream(fd, path, mode, size);
  if (!stream) {
    env.Close(fd);
    errno = ENOMEM;
  }
  return stream;
}

bool ShapeStream::Close(ShapeStream*& stream) {
  if (!stream) return true;
  bool ok = stream->Flush();
  int error = errno;
  if (platform::Env::Current().Close(stream->fd_) != 0 && ok) {
    ok = false;
    error = errno;
  }
  delete stream;
  stream = nullptr;
  errno = error;
  return ok;
}

int64_t ShapeStream::Read(void* buffer, size_t count) {
  platform::Env& env = platform::Env::Current();
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (begin_ == end_) {
      if (count - done >= kBufferSize) {
        int64_t n = env.Read(fd_, out + done, count - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
        continue;
      }
      int64_t n = env.Read(fd_, buffer_, kBufferSize);
      if (n < 0) return -1;
      if (n == 0) break;
      begin_ = 0;
      end_ = size_t(n);
    }
    size_t take = std::min(end_ - begin_, count - done);
    std::memcpy(out + done, buffer_ + begin_, take);
    begin_ += take;
    done += take;
  }
  position_ += int64_t(done);
  return int64_t(done);
}

bool ShapeStream::Write(const void* buffer, size_t count) {
  const char* in = static_cast<const char*>(buffer);
  if (end_ + count > kBufferSize) {
    if (!Flush()) return false;
    if (count >= kBufferSize) {
      platform::Env& env = platform::Env::Current();
      for (size_t done = 0; done < count;) {
        int64_t n = env.Write(fd_, in + done, count - done);
        if (n <= 0) {
          if (n == 0) errno = EIO;
          return false;
        }
        done += size_t(n);
      }
      position_ += int64_t(count);
      return true;
    }
  }
  std::memcpy(buffer_ + end_, in, count);
  end_ += count;
  position_ += int64_t(count);
  return true;
}

bool ShapeStream::WriteAt(int64_t offset, const void* buffer, size_t count) {
  if (!Flush()) return false;
  platform::Env& env = platform::Env::Current();
  const char* in = static_cast<const char*>(buffer);
  for (size_t done = 0; done < count;) {
    int64_t n = env.WriteAt(fd_, in + done, count - done, offset + int64_t(done));
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

bool ShapeStream::Seek(int64_t offset) {
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  if (!Flush()) return false;
  begin_ = end_ = 0;
  if (platform::Env::Current().Seek(fd_, offset, platform::kSeekSet) < 0) return false;
  position_ = offset;
  return true;
}

bool ShapeStream::Flush() {
  if (mode_ != kWrite || end_ == 0) return true;
  platform::Env& env = platform::Env::Current();
  size_t done = 0;
  while (done < end_) {
    int64_t n = env.Write(fd_, buffer_ + done, end_ - done);
    if (n <= 0) {
      if (n == 0) errno = EIO;
      // What did not reach the file is dropped: a later flush must not
      // write it out of place.
      end_ = 0;
      return false;
    }
    done += size_t(n);
  }
  end_ = 0;
  return true;
}

int ShapeFail(const char* where, const std::string& what) {
  lastFailure = std::string(where) + ": " + what;
  std::fprintf(stderr, "%s\n", lastFailure.c_str());
  return -1;
}

int ShapeFailErrno(const char* where, const std::string& path) {
  std::string text = platform::ErrnoText(errno);
  return ShapeFail(where, path.empty() ? text : path + ": " + text);
}

const char* ShapeLastError() { return lastFailure.c_str(); }
