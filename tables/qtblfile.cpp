#include "tables/qtblfile.h"

#include <cerrno>
#include <memory>

#include "platform/env.h"

namespace qtblfile {

namespace {

constexpr size_t kCopyBlock = 1 << 16;
constexpr const char* kCompanionExtensions[] = {".cdx", ".fpt"};

size_t ExtensionAt(const std::string& path) {
  size_t name = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) return std::string::npos;
  return dot;
}

}  // namespace

bool Exists(const std::string& path) {
  platform::FileInfo info;
  return platform::Env::Current().PathStat(path, &info) == 0 && !info.directory;
}

std::string Resolve(const std::string& path) { return platform::Env::Current().ResolveExisting(path); }

bool Copy(const std::string& from, const std::string& to) {
  platform::Env& env = platform::Env::Current();
  if (env.SameFile(from, to)) return false;
  int in = env.Open(from, platform::kRead);
  if (in < 0) return false;
  int out = env.Open(to, platform::kWrite | platform::kCreate | platform::kTruncate, 0644);
  if (out < 0) {
    env.Close(in);
    return false;
  }
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  bool ok = true;
  for (;;) {
    int64_t n = env.Read(in, block.get(), kCopyBlock);
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (env.Write(out, block.get(), size_t(n)) != n) {
      ok = false;
      break;
    }
  }
  env.Close(in);
  if (env.Close(out) != 0) ok = false;
  return ok;
}

bool Rename(const std::string& from, const std::string& to) {
  platform::Env& env = platform::Env::Current();
  std::string source = Resolve(from);
  // The system renamed onto an existing name by failing; a case-only rename
  // of the same file is allowed.
  if (Exists(to) && !env.SameFile(source, to)) return false;
  return env.Rename(source, to) == 0;
}

bool Remove(const std::string& path) { return platform::Env::Current().Remove(Resolve(path)) == 0; }

std::string WithoutExtension(const std::string& path) {
  size_t dot = ExtensionAt(path);
  return dot == std::string::npos ? path : path.substr(0, dot);
}

std::vector<std::string> Companions(const std::string& dataPath) {
  std::vector<std::string> found;
  std::string base = WithoutExtension(Resolve(dataPath));
  for (const char* extension : kCompanionExtensions) {
    std::string path = base + extension;
    if (Exists(path)) found.push_back(Resolve(path));
  }
  return found;
}

}  // namespace qtblfile
