// The parts of Env that are built from its own primitives, and the pure path
// and text helpers.
#include "platform/env.h"

#include <cerrno>
#include <string>

namespace platform {

std::string NormalizeSeparators(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string DirectoryOf(std::string_view path) {
  std::string p = NormalizeSeparators(path);
  size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string_view BaseNameOf(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out = NormalizeSeparators(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  out += NormalizeSeparators(name);
  return out;
}

bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

int AsciiCompareIgnoreCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Iterative match with one backtrack point for the last '*'.
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string Env::ResolveExisting(std::string_view path) {
  std::string given = NormalizeSeparators(path);
  if (given.empty()) return given;
  FileInfo info;
  int saved = errno;
  if (RawStat(given, &info) == 0) return given;
  std::string dir = DirectoryOf(given);
  std::string_view base = BaseNameOf(given);
  std::vector<std::string> names;
  if (base.empty() || !ListDirectory(dir, &names)) {
    errno = saved;
    return given;
  }
  const std::string* found = nullptr;
  for (const auto& name : names) {
    if (!found && AsciiEqualsIgnoreCase(name, base)) found = &name;
  }
  errno = saved;
  if (!found) return given;
  return given.find('/') == std::string::npos ? *found : JoinPath(dir, *found);
}

int64_t Env::WriteAtGather(int fd, const WritePiece* pieces, int count, int64_t offset) {
  int64_t done = 0;
  for (int i = 0; i < count; ++i) {
    int64_t n = WriteAt(fd, pieces[i].data, pieces[i].size, offset + done);
    if (n < 0) return done ? done : -1;
    done += n;
    if (size_t(n) != pieces[i].size) break;
  }
  return done;
}

int Env::PathStat(std::string_view path, FileInfo* info) {
  // A path that exists as given is the common case: its stat is the answer,
  // without resolving first and looking a second time.
  std::string given = NormalizeSeparators(path);
  if (!given.empty() && RawStat(given, info) == 0) return 0;
  return RawStat(ResolveExisting(given), info);
}

bool Env::SameFile(std::string_view a, std::string_view b) {
  FileInfo one, two;
  if (PathStat(a, &one) != 0 || PathStat(b, &two) != 0) return false;
  return one.device == two.device && one.inode == two.inode;
}

std::string Env::TempDirectory() {
  for (const char* name : {"TMPDIR", "TEMP", "TMP"}) {
    const char* value = GetEnv(name);
    if (value && *value) return NormalizeSeparators(value);
  }
  return ".";
}

int Env::CreateTemp(std::string_view directory, std::string_view prefix, std::string_view suffix,
                    std::string* path) {
  std::string dir = directory.empty() ? TempDirectory() : NormalizeSeparators(directory);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string unique;
    uint32_t r = Random();
    for (int i = 0; i < 6; ++i) {
      unique += kLetters[r % 36];
      r = r / 36 + Random() % 7;
    }
    std::string name = JoinPath(dir, std::string(prefix) + unique + std::string(suffix));
    int fd = Open(name, kReadWrite | kCreate | kExclusive, 0600);
    if (fd >= 0) {
      *path = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool PathLock::Acquire(std::string_view path) {
  Release();
  Env& env = Env::Current();
  for (;;) {
    const std::string name = env.ResolveExisting(LockFileOf(path));
    const int fd = env.Open(name, kReadWrite | kCreate, 0666);
    if (fd < 0) return false;
    if (env.LockExclusiveWaiting(fd) != 0) {
      const int saved = errno;
      env.Close(fd);
      errno = saved;
      return false;
    }
    // The holder before us removes the file before it unlocks: a lock on a
    // removed file guards nothing.
    FileInfo held, named;
    if (env.FileStat(fd, &held) == 0 && env.RawStat(name, &named) == 0 &&
        held.device == named.device && held.inode == named.inode) {
      lockPath_ = name;
      fd_ = fd;
      return true;
    }
    env.Close(fd);
  }
}

void PathLock::Release() {
  if (fd_ < 0) return;
  Env& env = Env::Current();
  env.Remove(lockPath_);
  env.Close(fd_);
  fd_ = -1;
  lockPath_.clear();
}

}  // namespace platform
