// The Linux implementation of Env.
#include "platform/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>

namespace platform {

static_assert(kPathMax == PATH_MAX - 1 && kNameMax == NAME_MAX, "the host's limits of names");

namespace {

std::string ToString(std::string_view path) { return NormalizeSeparators(path); }

void FillInfo(const struct stat& st, FileInfo* info) {
  info->size = st.st_size;
  info->device = st.st_dev;
  info->inode = st.st_ino;
  info->modified = st.st_mtim.tv_sec;
  info->modifiedNanos = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info->directory = S_ISDIR(st.st_mode);
  info->regular = S_ISREG(st.st_mode);
  info->writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Pieces of one gathered write (well below any host's IOV_MAX).
constexpr int kGatherMax = 64;

class PosixEnv final : public Env {
 public:
  int Open(std::string_view path, unsigned flags, int permission) override {
    int oflags = O_CLOEXEC;
    if ((flags & kReadWrite) == kReadWrite)
      oflags |= O_RDWR;
    else if (flags & kWrite)
      oflags |= O_WRONLY;
    else
      oflags |= O_RDONLY;
    if (flags & kAppend) oflags |= O_APPEND;
    if (flags & kCreate) oflags |= O_CREAT;
    if (flags & kTruncate) oflags |= O_TRUNC;
    if (flags & kExclusive) oflags |= O_EXCL;
    // An exclusive create names a new file exactly as given.
    std::string name = ((flags & kCreate) && (flags & kExclusive)) ? ToString(path)
                                                                   : ResolveExisting(path);
    // Without waiting: a FIFO would block the open until a writer came.
    int fd;
    do {
      fd = ::open(name.c_str(), oflags | O_NONBLOCK, permission);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // A FIFO that no one reads refuses a writer that does not wait.
      if (errno == ENXIO) errno = EINVAL;
      return fd;
    }
    // Only regular files are files here: a FIFO, a device (/dev/zero) or a
    // folder in a file's place would hang a reader or feed it without end.
    struct stat st;
    const bool stated = ::fstat(fd, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode)) {
      const int error = !stated ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      ::close(fd);
      errno = error;
      return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (flags & kRandomAccess) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    return fd;
  }

  int64_t Read(int fd, void* buffer, size_t count) override {
    size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
      ssize_t n = ::read(fd, p + done, count - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done ? int64_t(done) : -1;
      }
      if (n == 0) break;
      done += size_t(n);
    }
    return int64_t(done);
  }

  int64_t Write(int fd, const void* buffer, size_t count) override {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
      ssize_t n = ::write(fd, p + done, count - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done ? int64_t(done) : -1;
      }
      done += size_t(n);
    }
    return int64_t(done);
  }

  int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) override {
    size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
      ssize_t n = ::pread(fd, p + done, count - done, off_t(offset + int64_t(done)));
      if (n < 0) {
        if (errno == EINTR) continue;
        return done ? int64_t(done) : -1;
      }
      if (n == 0) break;
      done += size_t(n);
    }
    return int64_t(done);
  }

  int64_t WriteAt(int fd, const void* buffer, size_t count, int64_t offset) override {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
      ssize_t n = ::pwrite(fd, p + done, count - done, off_t(offset + int64_t(done)));
      if (n < 0) {
        if (errno == EINTR) continue;
        return done ? int64_t(done) : -1;
      }
      done += size_t(n);
    }
    return int64_t(done);
  }

  int64_t WriteAtGather(int fd, const WritePiece* pieces, int count, int64_t offset) override {
    // One pwritev for the common case; a short or interrupted one is
    // finished piece by piece from where it stopped.
    iovec vec[kGatherMax] = {};
    if (count < 1 || count > kGatherMax) return Env::WriteAtGather(fd, pieces, count, offset);
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
      vec[i].iov_base = const_cast<void*>(pieces[i].data);
      vec[i].iov_len = pieces[i].size;
      total += pieces[i].size;
    }
    ssize_t n = ::pwritev(fd, vec, count, off_t(offset));
    if (n >= 0 && size_t(n) == total) return n;
    int64_t done = n > 0 ? n : 0;
    int64_t skipped = 0;
    for (int i = 0; i < count; ++i) {
      const int64_t size = int64_t(pieces[i].size);
      if (skipped + size <= done) {
        skipped += size;
        continue;
      }
      const int64_t from = done - skipped;
      const int64_t m = WriteAt(fd, static_cast<const char*>(pieces[i].data) + from,
                                size_t(size - from), offset + done);
      if (m < 0) return done ? done : -1;
      done += m;
      skipped += size;
      if (m != size - from) break;
    }
    return done;
  }

  int64_t Seek(int fd, int64_t offset, int origin) override {
    int whence = origin == kSeekCur ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : SEEK_SET;
    return ::lseek(fd, off_t(offset), whence);
  }

  int Close(int fd) override { return ::close(fd); }
  int Truncate(int fd, int64_t length) override { return ::ftruncate(fd, off_t(length)); }
  int Sync(int fd) override { return ::fdatasync(fd); }

  int FileStat(int fd, FileInfo* info) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    FillInfo(st, info);
    return 0;
  }

  int LockExclusive(int fd) override { return ::flock(fd, LOCK_EX | LOCK_NB); }
  int LockExclusiveWaiting(int fd) override {
    int r;
    do {
      r = ::flock(fd, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    return r;
  }
  int LockShared(int fd) override { return ::flock(fd, LOCK_SH | LOCK_NB); }
  int Unlock(int fd) override { return ::flock(fd, LOCK_UN); }

  int ShareLock(int fd, bool exclusive) override {
    struct flock lock {};
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    int r;
    do {
      r = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (r != 0 && errno == EINTR);
    return r;
  }

  int ShareUnlock(int fd) override {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock);
  }

  std::FILE* OpenStream(int fd, const char* mode) override { return ::fdopen(fd, mode); }
  int CloseStream(std::FILE* stream) override { return std::fclose(stream); }

  int RawStat(std::string_view path, FileInfo* info) override {
    std::string name = ToString(path);
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return -1;
    FillInfo(st, info);
    return 0;
  }

  int Remove(std::string_view path) override {
    std::string name = ResolveExisting(path);
    return ::unlink(name.c_str());
  }

  int Rename(std::string_view from, std::string_view to) override {
    std::string a = ResolveExisting(from);
    std::string b = ToString(to);
    return ::rename(a.c_str(), b.c_str());
  }

  int MakeDirectory(std::string_view path) override {
    std::string name = ToString(path);
    return ::mkdir(name.c_str(), 0777);
  }

  bool ListDirectory(std::string_view directory, std::vector<std::string>* names) override {
    names->clear();
    std::string dir = directory.empty() ? std::string(".") : ToString(directory);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    while (struct dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      names->emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names->begin(), names->end());
    return true;
  }

  bool FullPath(std::string_view path, std::string* full) override {
    std::string p = ToString(path);
    if (p.empty()) {
      errno = ENOENT;
      return false;
    }
    if (p[0] != '/') p = JoinPath(CurrentDirectory(), p);
    // Follow links of the longest existing prefix, then normalise the rest.
    std::string existing = p, rest;
    char buffer[PATH_MAX];
    while (true) {
      if (::realpath(existing.c_str(), buffer)) break;
      size_t slash = existing.find_last_of('/');
      if (slash == std::string::npos || slash == 0) {
        std::strcpy(buffer, "/");
        rest = p.substr(1);
        break;
      }
      rest = existing.substr(slash + 1) + (rest.empty() ? "" : "/" + rest);
      existing.resize(slash);
    }
    std::vector<std::string> parts;
    auto push = [&parts](std::string_view text) {
      size_t start = 0;
      while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view part = text.substr(start, end - start);
        if (part == "..") {
          if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
          parts.emplace_back(part);
        }
        start = end + 1;
      }
    };
    push(buffer);
    push(rest);
    full->clear();
    for (const auto& part : parts) *full += "/" + part;
    if (full->empty()) *full = "/";
    return true;
  }

  std::string CurrentDirectory() override {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return ".";
    return buffer;
  }

  int ChangeDirectory(std::string_view path) override {
    std::string name = ToString(path);
    return ::chdir(name.c_str());
  }

  std::string ExecutablePath() override {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    return std::string(buffer, size_t(n));
  }

  bool MapFile(int fd, MappedView* view) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    view->size = size_t(st.st_size);
    if (view->size == 0) {
      // mmap refuses empty files; an empty view still stands for the file.
      static const unsigned char kEmpty[1] = {0};
      view->data = kEmpty;
      return true;
    }
    void* p = ::mmap(nullptr, view->size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return false;
    ::madvise(p, view->size, MADV_RANDOM);
    view->data = static_cast<const unsigned char*>(p);
    return true;
  }

  void Unmap(const MappedView& view) override {
    if (view.size) ::munmap(const_cast<unsigned char*>(view.data), view.size);
  }

  const char* GetEnv(const char* name) override { return std::getenv(name); }

  int64_t NowSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  int64_t NowMicros() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  int64_t LocalOffset(int64_t utc_seconds) override {
    time_t t = time_t(utc_seconds);
    struct tm local;
    if (!::localtime_r(&t, &local)) return 0;
    return local.tm_gmtoff;
  }

  uint64_t AvailableMemory() override {
    struct sysinfo si;
    if (::sysinfo(&si) != 0) return 0;
    return uint64_t(si.freeram + si.bufferram) * si.mem_unit;
  }

  int64_t DiskFree(std::string_view path) override {
    std::string name = path.empty() ? std::string(".") : ToString(path);
    struct statvfs st;
    if (::statvfs(name.c_str(), &st) != 0) return -1;
    return int64_t(st.f_bavail) * int64_t(st.f_frsize);
  }

  uint32_t Random() override {
    std::lock_guard<std::mutex> hold(random_mutex_);
    return uint32_t(random_());
  }

  void ShowMessage(std::string_view title, std::string_view text) override {
    std::fprintf(stderr, "%.*s: %.*s\n", int(title.size()), title.data(), int(text.size()),
                 text.data());
    std::fflush(stderr);
  }

  void DebugOutput(std::string_view text) override {
    if (!std::getenv("GSB_DEBUG_OUTPUT")) return;
    std::fprintf(stderr, "%.*s", int(text.size()), text.data());
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  }

 private:
  std::mutex random_mutex_;
  std::minstd_rand random_{uint32_t(::getpid()) ^ uint32_t(std::time(nullptr))};
};

PosixEnv& DefaultEnv() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: used by static destructors
  return *env;
}

Env* g_current = nullptr;

}  // namespace

Env& Env::Current() { return g_current ? *g_current : DefaultEnv(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(g_current) { g_current = &env; }
ScopedEnv::~ScopedEnv() { g_current = previous_; }

int64_t StartChild(const std::function<int()>& body) {
  std::fflush(nullptr);  // what the parent buffered is not written twice
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int code = body();
  std::fflush(nullptr);
  ::_exit(code & 0xff);
}

int WaitChild(int64_t child) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_t(child), &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ErrnoText(int error) {
  // strerrordesc_np gives the English text regardless of LC_MESSAGES.
  const char* text = ::strerrordesc_np(error);
  if (!text) return "Unknown error " + std::to_string(error);
  return text;
}

}  // namespace platform
