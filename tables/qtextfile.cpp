#include "tables/qtextfile.h"

#include <cstring>

#include "platform/env.h"

namespace {
constexpr char kEndOfFile = 0x1A;
}

CQmsTextFile::~CQmsTextFile() { Close(); }

bool CQmsTextFile::Open(const std::string& path, bool write) {
  Close();
  platform::Env& env = platform::Env::Current();
  fd_ = env.Open(path, write ? platform::kReadWrite : platform::kRead);
  if (fd_ < 0) return false;
  platform::FileInfo info;
  end_ = env.FileStat(fd_, &info) == 0 ? info.size : 0;
  Rewind();
  return true;
}

bool CQmsTextFile::Create(const std::string& path) {
  Close();
  fd_ = platform::Env::Current().Open(path, platform::kReadWrite | platform::kCreate | platform::kTruncate, 0644);
  if (fd_ < 0) return false;
  end_ = 0;
  Rewind();
  return true;
}

bool CQmsTextFile::Close() {
  if (fd_ < 0) return true;
  bool ok = Flush();
  if (platform::Env::Current().Close(fd_) != 0) ok = false;
  fd_ = -1;
  out_.clear();
  in_.reset();
  return ok && !failed_;
}

void CQmsTextFile::Rewind() {
  begin_ = filled_ = 0;
  readAt_ = 0;
  consumed_ = 0;
  ended_ = false;
}

bool CQmsTextFile::Fill() {
  if (!Flush()) return false;
  if (!in_) in_.reset(new char[kBlock]);
  int64_t n = platform::Env::Current().ReadAt(fd_, in_.get(), kBlock, readAt_);
  if (n <= 0) return false;
  begin_ = 0;
  filled_ = size_t(n);
  readAt_ += n;
  return true;
}

bool CQmsTextFile::ReadLine(std::string& line) {
  line.clear();
  if (fd_ < 0 || ended_) return false;
  bool any = false;
  for (;;) {
    if (begin_ == filled_ && !Fill()) {
      ended_ = true;
      break;
    }
    const char* p = in_.get() + begin_;
    size_t n = filled_ - begin_;
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    size_t take = lf ? size_t(lf - p) : n;
    const char* stop = static_cast<const char*>(std::memchr(p, kEndOfFile, take));
    if (stop != nullptr) {
      take = size_t(stop - p);
      line.append(p, take);
      consumed_ += take;
      any = any || take > 0;
      ended_ = true;
      break;
    }
    line.append(p, take);
    any = true;
    if (lf != nullptr) {
      begin_ += take + 1;
      consumed_ += take + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    begin_ += take;
    consumed_ += take;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

bool CQmsTextFile::Append(const char* data, size_t size) {
  if (fd_ < 0) return false;
  out_.append(data, size);
  return out_.size() < kBlock || Flush();
}

bool CQmsTextFile::Flush() {
  if (fd_ < 0 || out_.empty()) return !failed_;
  platform::Env& env = platform::Env::Current();
  size_t done = 0;
  while (done < out_.size()) {
    int64_t n = env.WriteAt(fd_, out_.data() + done, out_.size() - done, end_);
    if (n <= 0) {
      failed_ = true;
      out_.erase(0, done);
      return false;
    }
    done += size_t(n);
    end_ += n;
  }
  out_.clear();
  return !failed_;
}
