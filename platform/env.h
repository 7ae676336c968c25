// The one seam between this system and the operating system.
//
// The system was first written for a platform whose file names ignore letter
// case and accept '\' as a separator, whose files are reached through named
// mappings and whose libraries show message boxes. Everything that differs on
// Linux is decided here, once:
//   - every path argument accepts both '/' and '\' as separators;
//   - opening an existing file finds it by its name as given and, when that
//     does not exist, by the one entry of its folder whose name matches
//     ignoring ASCII case (ResolveExisting);
//   - temporary files are created with O_EXCL;
//   - only regular files open: a FIFO, a device or a folder in a file's
//     place is refused at once, never waited on or read without end;
//   - message boxes become text on stderr, debugger output goes to stderr only
//     when GSB_DEBUG_OUTPUT is set;
//   - nothing here or anywhere else calls setlocale; system texts come in
//     English whatever the host's locale.
//
// Code outside platform/ reaches files, mappings, the clock and the process
// environment only through Env. Tests may install their own Env (usually an
// EnvWrapper that overrides a few calls) with ScopedEnv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Flags of Env::Open. Files are always untranslated (binary).
enum OpenFlag : unsigned {
  kRead = 1u << 0,
  kWrite = 1u << 1,
  kReadWrite = kRead | kWrite,
  kAppend = 1u << 2,
  kCreate = 1u << 3,
  kTruncate = 1u << 4,
  kExclusive = 1u << 5,   // with kCreate: fail when the file exists
  kRandomAccess = 1u << 6  // a hint only
};

// Origins of Env::Seek, as the C library numbers them.
enum SeekOrigin : int { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

struct FileInfo {
  int64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t modified = 0;  // seconds since 1970
  int64_t modifiedNanos = 0;  // the same time in nanoseconds since 1970
  bool directory = false;
  bool regular = true;    // a regular file (not a folder, FIFO, device or socket)
  bool writable = true;   // some write permission bit is set (the opposite of a read-only attribute)
};

// A read-only view of a whole file.
struct MappedView {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The Env in use; never null.
  static Env& Current();

  // --- files by descriptor; failures return -1 and leave errno set ---
  // Open resolves existing files through ResolveExisting unless the call
  // creates exclusively. Only regular files open: a folder fails with
  // EISDIR, a FIFO, device or socket with EINVAL, without waiting for a
  // FIFO's writer.
  virtual int Open(std::string_view path, unsigned flags, int permission = 0600) = 0;
  virtual int64_t Read(int fd, void* buffer, size_t count) = 0;
  virtual int64_t Write(int fd, const void* buffer, size_t count) = 0;
  virtual int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) = 0;
  virtual int64_t WriteAt(int fd, const void* buffer, size_t count, int64_t offset) = 0;
  // Writes the pieces one after another from offset, in one call where the
  // host has one; the bytes written (short on failure), -1 when none. The
  // default goes through WriteAt piece by piece, so that an Env which
  // overrides WriteAt (a test's failing disk) sees every byte.
  struct WritePiece {
    const void* data;
    size_t size;
  };
  virtual int64_t WriteAtGather(int fd, const WritePiece* pieces, int count, int64_t offset);
  virtual int64_t Seek(int fd, int64_t offset, int origin) = 0;
  virtual int Close(int fd) = 0;
  virtual int Truncate(int fd, int64_t length) = 0;
  virtual int Sync(int fd) = 0;
  virtual int FileStat(int fd, FileInfo* info) = 0;
  // Exclusive advisory lock of the whole file, not waiting; 0 or -1.
  virtual int LockExclusive(int fd) = 0;
  // The same lock, waiting while another holder keeps it; 0 or -1.
  virtual int LockExclusiveWaiting(int fd) = 0;
  // Shared advisory lock of the whole file, not waiting: readers share it,
  // an exclusive holder keeps them out; 0 or -1.
  virtual int LockShared(int fd) = 0;
  virtual int Unlock(int fd) = 0;
  // Share locks of the whole file on the open file description (not the
  // process): two descriptors opened apart conflict even in one process, and
  // the lock goes with the last descriptor of its description. Shared for
  // readers, exclusive for a writer; not waiting. 0, or -1 with errno EAGAIN
  // (or EACCES) when another holder conflicts. A shared lock needs a
  // descriptor open for reading, an exclusive one a descriptor open for
  // writing. Only programs that take these locks are kept out.
  virtual int ShareLock(int fd, bool exclusive) = 0;
  virtual int ShareUnlock(int fd) = 0;
  // A C stream over a descriptor (fdopen); closing the stream closes the
  // descriptor. Null (errno set) on failure.
  virtual std::FILE* OpenStream(int fd, const char* mode) = 0;
  virtual int CloseStream(std::FILE* stream) = 0;

  // --- paths ---
  // 0 and the facts of the file named exactly so, or -1 (errno set).
  virtual int RawStat(std::string_view exact_path, FileInfo* info) = 0;
  // As RawStat, after resolving letter case like Open.
  int PathStat(std::string_view path, FileInfo* info);
  // True when both paths reach one existing file (each resolved like Open):
  // the same device and inode.
  bool SameFile(std::string_view a, std::string_view b);
  virtual int Remove(std::string_view path) = 0;
  virtual int Rename(std::string_view from, std::string_view to) = 0;
  virtual int MakeDirectory(std::string_view path) = 0;
  // Names of the entries of a folder, without "." and "..", sorted bytewise;
  // false when the folder cannot be read (errno set).
  virtual bool ListDirectory(std::string_view directory, std::vector<std::string>* names) = 0;
  // The absolute form of a path (existing or not) with '/' separators and no
  // "." or ".." parts; symbolic links of existing parts are followed.
  virtual bool FullPath(std::string_view path, std::string* full) = 0;
  virtual std::string CurrentDirectory() = 0;
  // Makes a folder the process's current one; 0 or -1 (errno set).
  virtual int ChangeDirectory(std::string_view path) = 0;
  // The full path of the running program's file ("" when unknown).
  virtual std::string ExecutablePath() = 0;

  // The path as given when it exists; otherwise the one entry of its folder
  // whose name equals the last part ignoring ASCII case (the first in
  // bytewise order when several do); otherwise the path as given. Separators
  // are normalised to '/'.
  std::string ResolveExisting(std::string_view path);

  // --- read-only mappings ---
  virtual bool MapFile(int fd, MappedView* view) = 0;
  virtual void Unmap(const MappedView& view) = 0;

  // --- temporary files ---
  // The folder named by TMPDIR, TEMP or TMP (the first set), else ".".
  std::string TempDirectory();
  // Creates a new file directory/prefix<unique>suffix with O_EXCL, read and
  // write, permission 0600. The directory defaults to TempDirectory(). The
  // descriptor, or -1 (errno set); the name goes to *path.
  int CreateTemp(std::string_view directory, std::string_view prefix, std::string_view suffix,
                 std::string* path);

  // --- process ---
  virtual const char* GetEnv(const char* name) = 0;
  virtual int64_t NowSeconds() = 0;          // seconds since 1970, UTC
  virtual int64_t NowMicros() = 0;           // for durations
  // Seconds east of UTC of the local time zone at the given UTC time.
  virtual int64_t LocalOffset(int64_t utc_seconds) = 0;
  virtual uint64_t AvailableMemory() = 0;    // bytes, 0 when unknown
  virtual int64_t DiskFree(std::string_view path) = 0;  // bytes, -1 when unknown
  virtual uint32_t Random() = 0;             // a pseudo-random number

  // The stand-in for a modal message box: the text on stderr, never waiting.
  virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
  // The stand-in for debugger output: stderr when GSB_DEBUG_OUTPUT is set.
  virtual void DebugOutput(std::string_view text) = 0;
};

// An Env that forwards every call; tests derive from it and override a few.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  int Open(std::string_view p, unsigned f, int m) override { return target_.Open(p, f, m); }
  int64_t Read(int fd, void* b, size_t n) override { return target_.Read(fd, b, n); }
  int64_t Write(int fd, const void* b, size_t n) override { return target_.Write(fd, b, n); }
  int64_t ReadAt(int fd, void* b, size_t n, int64_t o) override { return target_.ReadAt(fd, b, n, o); }
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    return target_.WriteAt(fd, b, n, o);
  }
  int64_t Seek(int fd, int64_t o, int w) override { return target_.Seek(fd, o, w); }
  int Close(int fd) override { return target_.Close(fd); }
  int Truncate(int fd, int64_t n) override { return target_.Truncate(fd, n); }
  int Sync(int fd) override { return target_.Sync(fd); }
  int FileStat(int fd, FileInfo* i) override { return target_.FileStat(fd, i); }
  int LockExclusive(int fd) override { return target_.LockExclusive(fd); }
  int LockExclusiveWaiting(int fd) override { return target_.LockExclusiveWaiting(fd); }
  int LockShared(int fd) override { return target_.LockShared(fd); }
  int Unlock(int fd) override { return target_.Unlock(fd); }
  int ShareLock(int fd, bool x) override { return target_.ShareLock(fd, x); }
  int ShareUnlock(int fd) override { return target_.ShareUnlock(fd); }
  std::FILE* OpenStream(int fd, const char* m) override { return target_.OpenStream(fd, m); }
  int CloseStream(std::FILE* f) override { return target_.CloseStream(f); }
  int RawStat(std::string_view p, FileInfo* i) override { return target_.RawStat(p, i); }
  int Remove(std::string_view p) override { return target_.Remove(p); }
  int Rename(std::string_view a, std::string_view b) override { return target_.Rename(a, b); }
  int MakeDirectory(std::string_view p) override { return target_.MakeDirectory(p); }
  bool ListDirectory(std::string_view d, std::vector<std::string>* n) override {
    return target_.ListDirectory(d, n);
  }
  bool FullPath(std::string_view p, std::string* f) override { return target_.FullPath(p, f); }
  std::string CurrentDirectory() override { return target_.CurrentDirectory(); }
  int ChangeDirectory(std::string_view p) override { return target_.ChangeDirectory(p); }
  std::string ExecutablePath() override { return target_.ExecutablePath(); }
  bool MapFile(int fd, MappedView* v) override { return target_.MapFile(fd, v); }
  void Unmap(const MappedView& v) override { target_.Unmap(v); }
  const char* GetEnv(const char* n) override { return target_.GetEnv(n); }
  int64_t NowSeconds() override { return target_.NowSeconds(); }
  int64_t NowMicros() override { return target_.NowMicros(); }
  int64_t LocalOffset(int64_t s) override { return target_.LocalOffset(s); }
  uint64_t AvailableMemory() override { return target_.AvailableMemory(); }
  int64_t DiskFree(std::string_view p) override { return target_.DiskFree(p); }
  uint32_t Random() override { return target_.Random(); }
  void ShowMessage(std::string_view t, std::string_view x) override { target_.ShowMessage(t, x); }
  void DebugOutput(std::string_view t) override { target_.DebugOutput(t); }

 protected:
  Env& target_;
};

// Installs an Env for the life of the object (tests only; not thread-safe).
class ScopedEnv {
 public:
  explicit ScopedEnv(Env& env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

// Serialises the processes that write one path: an exclusive lock on the
// file path + ".lock", made when missing and removed again by its holder.
// Acquire waits while another process holds it. A lock file found removed
// after the wait (its holder finished meanwhile) is made anew, so two
// waiters never hold locks on different files of one name.
class PathLock {
 public:
  PathLock() = default;
  ~PathLock() { Release(); }
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;

  // False (errno set) when the lock file cannot be made or locked.
  bool Acquire(std::string_view path);
  // Removes the lock file and lets the next waiter in; nothing when not held.
  void Release();
  bool Held() const { return fd_ >= 0; }
  // The lock file of a path.
  static std::string LockFileOf(std::string_view path) { return std::string(path) + ".lock"; }

 private:
  std::string lockPath_;
  int fd_ = -1;
};

// --- child processes (tests and tools) ---

// Runs body in a forked copy of the process, which ends with body's result
// as its exit value and runs no exit handlers. The child's id, or -1.
int64_t StartChild(const std::function<int()>& body);
// Waits for a child of StartChild: its exit value, or -1 when it did not
// end normally.
int WaitChild(int64_t child);

// --- the host's limits of names ---

// The longest path the host accepts, without its ending NUL, and the longest
// name of one folder entry.
inline constexpr size_t kPathMax = 4095;
inline constexpr size_t kNameMax = 255;

// --- pure helpers (no system calls) ---

// '\' becomes '/'.
std::string NormalizeSeparators(std::string_view path);
// The folder part of a path, up to and without its last separator ("." when
// there is none, "/" for a file in the root).
std::string DirectoryOf(std::string_view path);
// The part after the last separator.
std::string_view BaseNameOf(std::string_view path);
// '/' joined between the two unless dir is empty or already ends in one.
std::string JoinPath(std::string_view dir, std::string_view name);

// ASCII-only case folding and comparison; never locale-dependent.
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
inline bool AsciiIsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool AsciiIsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool AsciiIsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool AsciiIsLower(char c) { return c >= 'a' && c <= 'z'; }
inline bool AsciiIsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp after folding A-Z to a-z.
int AsciiCompareIgnoreCase(std::string_view a, std::string_view b);

// Wildcard match of the system's file searches: '*' any run, '?' one
// character, letters compared ignoring ASCII case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The English text of an errno value (independent of the host's locale),
// one line.
std::string ErrnoText(int error);

}  // namespace platform
