#include "base/qfile.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "base/qio.h"
#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "..\\src\\qfile";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineViewPath = 201;
constexpr int kLineViewOpen = 219;
constexpr int kLineViewMap = 231;
constexpr int kLineNameTooLong = 98;
constexpr int kLineOpenNoName = 87;
constexpr int kLineOpen = 127;
constexpr int kLineCreateNoName = 141;
constexpr int kLineCreate = 149;
constexpr int kLineOpenTemp = 171;
constexpr int kLineRemoveOnClose = 196;
constexpr int kLineReadShort = 233;
constexpr int kLineRead = 237;
constexpr int kLineWriteNotOpen = 244;
constexpr int kLineWriteShort = 248;

platform::Env& env() { return platform::Env::Current(); }

unsigned FlagsOfMode(int mode) {
  switch (mode) {
    case QFile::kReadWrite:
      return platform::kReadWrite;
    case QFile::kWrite:
      return platform::kWrite;
    case QFile::kAppend:
      return platform::kReadWrite | platform::kAppend;
    default:
      return platform::kRead;
  }
}

// The process-wide list of shared views, newest first.
struct SharedView {
  std::string path;
  platform::MappedView view;
  int32_t count = 0;
  int fd = -1;
  SharedView* next = nullptr;
};

struct SharedViews {
  CqmsSynchronization lock;
  SharedView* head = nullptr;
};

SharedViews& Views() {
  static SharedViews* views = new SharedViews;  // lives until the process ends
  return *views;
}

}  // namespace

const unsigned char* QSharedViewAcquire(const char* name, QError& error, size_t* size) {
  SharedViews& views = Views();
  QLockHold hold(views.lock);
  std::string full;
  std::string resolved = env().ResolveExisting(name);
  if (!env().FullPath(resolved, &full) || full.size() >= 512) {
    if (full.size() >= 512) errno = ENAMETOOLONG;
    error.Record(Q_ERROR_EMPTY, platform::ErrnoText(errno).c_str(), kSource, kLineViewPath);
    return nullptr;
  }
  for (SharedView* v = views.head; v; v = v->next) {
    if (v->path == full) {
      ++v->count;
      *size = v->view.size;
      return v->view.data;
    }
  }
  int fd = env().Open(full, platform::kRead | platform::kRandomAccess, 0);
  if (fd < 0) {
    error.Record(Q_ERROR_EMPTY, platform::ErrnoText(errno).c_str(), kSource, kLineViewOpen);
    return nullptr;
  }
  auto* entry = new SharedView;
  if (!env().MapFile(fd, &entry->view)) {
    int saved = errno;
    env().Close(fd);
    delete entry;
    error.Record(Q_ERROR_EMPTY, platform::ErrnoText(saved).c_str(), kSource, kLineViewMap);
    return nullptr;
  }
  entry->path = full;
  entry->fd = fd;
  entry->count = 1;
  entry->next = views.head;
  views.head = entry;
  *size = entry->view.size;
  return entry->view.data;
}

void QSharedViewRelease(const unsigned char* view) {
  SharedViews& views = Views();
  QLockHold hold(views.lock);
  for (SharedView** link = &views.head; *link; link = &(*link)->next) {
    SharedView* v = *link;
    if (v->view.data != view) continue;
    if (--v->count > 0) return;
    *link = v->next;
    env().Unmap(v->view);
    env().Close(v->fd);
    delete v;
    return;
  }
}

size_t QSharedViewCount() {
  SharedViews& views = Views();
  QLockHold hold(views.lock);
  size_t n = 0;
  for (SharedView* v = views.head; v; v = v->next) ++n;
  return n;
}

QFile::QFile(QError& error) { Construct(error); }

QFile::QFile(QError& error, const char* name, int mode) {
  Construct(error);
  Open(name, mode);
}

QFile::~QFile() {
  if (open_) Close();
}

void QFile::Construct(QError& error) {
  error_ = &error;
  Reset();
}

void QFile::Reset() {
  name_[0] = '\0';
  fd_ = -1;
  position_ = 0;
  cursor_ = 0;
  view_ = nullptr;
  viewSize_ = 0;
  access_ = 0;
  open_ = mapped_ = deleteOnClose_ = append_ = false;
}

bool QFile::SetName(const char* name) {
  size_t length = std::strlen(name);
  if (length > kQFileNameMax) {
    // A cut name could name another file; refuse it as the system would an
    // over-long path.
    StrCopySized(name_, name, sizeof name_);
    errno = ENAMETOOLONG;
    error_->Record(ENAMETOOLONG, name_, kSource, kLineNameTooLong);
    return false;
  }
  std::memcpy(name_, name, length + 1);
  return true;
}

bool QFile::Open(const char* name, int mode) {
  if (open_) return true;
  if (!name || !*name) {
    error_->Record(Q_ERROR_EMPTY, "NULL file name on Qfile Open", kSource, kLineOpenNoName);
    return false;
  }
  if (!SetName(name)) return false;
  if (mode == kShared) {
    size_t size = 0;
    if (const unsigned char* view = QSharedViewAcquire(name_, *error_, &size)) {
      view_ = view;
      viewSize_ = size;
      access_ = 1;
      mapped_ = open_ = true;
      position_ = 0;
      return true;
    }
  }
  fd_ = QTracedOpen(name_, FlagsOfMode(mode), 0);
  if (fd_ < 0) {
    error_->Record(errno, name_, kSource, kLineOpen);
    return false;
  }
  access_ = 0;
  append_ = mode == kAppend;
  position_ = 0;
  open_ = true;
  return true;
}

bool QFile::Create(const char* name, int permission, bool deleteOnClose) {
  if (open_) Close();
  if (!name || !*name) {
    error_->Record(Q_ERROR_EMPTY, "NULL file name on Qfile Open", kSource, kLineCreateNoName);
    return false;
  }
  if (!SetName(name)) return false;
  fd_ = QTracedOpen(name_, platform::kReadWrite | platform::kCreate | platform::kTruncate,
                    permission ? permission : 0600);
  if (fd_ < 0) {
    error_->Record(errno, name_, kSource, kLineCreate);
    return false;
  }
  access_ = 0;
  position_ = 0;
  open_ = true;
  deleteOnClose_ = deleteOnClose;
  return true;
}

bool QFile::OpenTemp(const char* directory) {
  if (open_) Close();
  std::string dir;
  if (directory && *directory) {
    dir = directory;
  } else {
    const char* temp = env().GetEnv("TEMP");
    if (!temp || !*temp) temp = env().GetEnv("TMP");
    dir = (temp && *temp) ? temp : ".";
  }
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "qf.tmp.r%06u.s", env().Random() % 1000000u);
  std::string path;
  fd_ = env().CreateTemp(dir, prefix, "", &path);
  StrCopySized(name_, path.c_str(), sizeof name_);
  if (fd_ < 0) {
    error_->Record(errno, name_, kSource, kLineOpenTemp);
    return false;
  }
  if (QTraceStream())
    std::fprintf(QTraceStream(), "Open( %s, %u ) = %d\n", name_,
                 unsigned(platform::kReadWrite | platform::kCreate | platform::kExclusive), fd_);
  access_ = 0;
  position_ = 0;
  open_ = true;
  deleteOnClose_ = true;
  return true;
}

bool QFile::Close() {
  if (!open_) return false;
  if (mapped_) {
    QSharedViewRelease(view_);
    Reset();
    return true;
  }
  QTracedClose(fd_);
  if (deleteOnClose_ && env().Remove(name_) != 0) error_->Record(errno, name_,
                                                                 kSource, kLineRemoveOnClose);
  Reset();
  return true;
}

bool QFile::ReadAt(int64_t offset, void* buffer, uint32_t count) {
  if (count == 0) return true;
  if (!open_ || offset < 0) return false;
  if (access_ == 1) {
    if (uint64_t(offset) > viewSize_ || count > viewSize_ - size_t(offset)) return false;
    std::memcpy(buffer, view_ + offset, count);
    position_ = offset;
    return true;
  }
  QTrace("Seek( %d, %" PRId64 ", %d ) = %" PRId64 "\n", fd_, offset, 0, offset);
  int64_t n = env().ReadAt(fd_, buffer, count, offset);
  QTraceCount("Read", fd_, count, n);
  position_ = offset;
  cursor_ = offset + (n > 0 ? n : 0);
  return n == int64_t(count);
}

int64_t QFile::Read(void* buffer, uint32_t count, bool shortIsError) {
  if (!open_) return -1;
  int64_t n;
  if (access_ == 1) {
    // The position does not move in the mapped mode; callers seek.
    size_t available = uint64_t(position_) >= viewSize_ ? 0 : viewSize_ - size_t(position_);
    n = count <= available ? count : int64_t(available);
    if (n > 0) std::memcpy(buffer, view_ + position_, size_t(n));
  } else {
    n = env().ReadAt(fd_, buffer, count, cursor_);
    QTraceCount("Read", fd_, count, n);
    if (n > 0) cursor_ += n;
  }
  if (n == int64_t(count)) return n;
  if (shortIsError) {
    error_->Record(28, name_, kSource, kLineReadShort);
    return -1;
  }
  error_->Record(errno, name_, kSource, kLineRead);
  return n;
}

bool QFile::Write(const void* buffer, uint32_t count) {
  if (!open_ || access_ == 1) {
    errno = EBADF;
    error_->Record(errno, name_, kSource, kLineWriteNotOpen);
    return false;
  }
  int64_t n;
  if (append_) {
    n = env().Write(fd_, buffer, count);
    int64_t end = env().Seek(fd_, 0, platform::kSeekCur);
    if (end >= 0) cursor_ = end;
  } else {
    n = env().WriteAt(fd_, buffer, count, cursor_);
    if (n > 0) cursor_ += n;
  }
  QTraceCount("Write", fd_, count, n);
  if (n != int64_t(count)) {
    error_->Record(errno, name_, kSource, kLineWriteShort);
    return false;
  }
  return true;
}

bool QFile::Seek(int64_t offset, int origin) {
  if (!open_) return false;
  int64_t base;
  switch (origin) {
    case kFromStart:
      base = 0;
      break;
    case kFromEnd:
      base = Size();
      if (base < 0) return false;
      break;
    case kFromCurrent:
      base = access_ == 1 ? position_ : cursor_;
      break;
    default:
      return false;
  }
  int64_t target = base + offset;
  if (target < 0) {
    QTrace("Seek( %d, %" PRId64 ", %d ) = FAILED(%" PRId64 ")\n", fd_, offset, origin, target);
    return false;
  }
  QTrace("Seek( %d, %" PRId64 ", %d ) = %" PRId64 "\n", fd_, offset, origin, target);
  position_ = target;
  cursor_ = target;
  return true;
}

int64_t QFile::Size() const {
  if (!open_) return -1;
  if (access_ == 1) return int64_t(viewSize_);
  platform::FileInfo info;
  if (env().FileStat(fd_, &info) != 0) return -1;
  return info.size;
}

int64_t FileSize64(const char* name) {
  if (!name) return -1;
  platform::FileInfo info;
  if (env().PathStat(name, &info) != 0) return -1;
  return info.size;
}

const char* FindFileOnPath(const char* pathList, const char* fileName, char* result,
                           size_t resultSize) {
  if (result && resultSize) result[0] = '\0';
  if (!fileName || !result || resultSize == 0) return nullptr;
  std::string name = fileName;
  std::vector<std::string> directories;
  if (!pathList) {
    // The folder comes from the name itself; a version mark ";n" at its end
    // is not part of the name.
    size_t semicolon = name.rfind(';');
    if (semicolon != std::string::npos && semicolon + 2 == name.size()) name.resize(semicolon);
    size_t slash = name.find_last_of('\\');
    if (slash == std::string::npos) slash = name.find_last_of('/');
    if (slash == std::string::npos) {
      directories.emplace_back(".");
    } else {
      directories.emplace_back(name.substr(0, slash + 1));
      name = name.substr(slash + 1);
    }
  } else {
    std::string list = pathList;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(';', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) directories.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  if (name.empty()) return nullptr;
  for (std::string dir : directories) {
    if (dir.size() > 246) continue;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    std::vector<std::string> entries;
    if (!env().ListDirectory(dir, &entries)) continue;
    for (const auto& entry : entries) {
      if (!platform::WildcardMatch(name, entry)) continue;
      std::string found = dir + entry;
      if (found.size() >= resultSize) return nullptr;
      StrCopySized(result, found.c_str(), resultSize);
      return result;
    }
  }
  return nullptr;
}
