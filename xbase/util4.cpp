#include "xbase/util4.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "xbase/date4.h"
#include "xbase/error4.h"

namespace {

// Copies text into buffer when it fits with its NUL.
int CopyOut(char* buffer, int size, const std::string& text, long location) {
  if (size <= 0 || text.size() + 1 > size_t(size)) return error4(nullptr, e4parm, location);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

// Index just past the last separator, 0 when there is none.
size_t NameStart(const char* name) {
  size_t start = 0;
  for (size_t i = 0; name[i]; i++) {
    if (name[i] == '/' || name[i] == '\\') start = i + 1;
  }
  return start;
}

// Index of the extension's point in the file-name part, or npos.
size_t ExtensionPoint(const char* name) {
  const char* point = std::strrchr(name + NameStart(name), '.');
  return point ? size_t(point - name) : std::string::npos;
}

}  // namespace

int u4nameCurrent(char* buffer, int size, const char* name) {
  if (buffer == nullptr || name == nullptr) return error4(nullptr, e4parm, E4_U4NAME_CURRENT);
  std::string path = platform::NormalizeSeparators(name);
  if (path.empty() || path[0] != '/') {
    path = platform::JoinPath(platform::Env::Current().CurrentDirectory(), path);
  }
  std::vector<char> work(path.begin(), path.end());
  work.push_back(0);
  if (int rc = u4nameFix(work.data())) return rc;
  return CopyOut(buffer, size, work.data(), E4_U4NAME_CURRENT);
}

int u4nameFix(char* name) {
  std::string path = platform::NormalizeSeparators(name);
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> parts;
  size_t start = absolute ? 1 : 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    bool last = end == path.size();
    if (part == "..") {
      if (parts.empty() || parts.back() == "..") return error4(nullptr, -1420, E4_U4NAME_FIX);
      parts.pop_back();
    } else if (part == "." || (part.empty() && !last)) {
      // "./" and doubled separators go.
    } else if (!part.empty() || last) {
      if (!part.empty()) parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); i++) {
    if (i) out += '/';
    out += parts[i];
  }
  // The result is never longer than the name.
  std::memcpy(name, out.c_str(), out.size() + 1);
  return 0;
}

int u4nameExt(char* buffer, int size, const char* extension, int replace) {
  size_t n = std::strlen(buffer);
  while (n > 0 && buffer[n - 1] == ' ') buffer[--n] = 0;
  size_t point = ExtensionPoint(buffer);
  if (point != std::string::npos) {
    if (!replace) return 0;
    buffer[point] = 0;
  }
  if (extension[0] == '.') extension++;
  std::string name = std::string(buffer) + "." + extension;
  return CopyOut(buffer, size, name, 90345);
}

void u4namePiece(char* buffer, unsigned size, const char* name, int keepPath, int keepExt) {
  if (size == 0) return;
  size_t start = keepPath ? 0 : NameStart(name);
  size_t end = std::strlen(name);
  if (!keepExt) {
    size_t point = ExtensionPoint(name);
    if (point != std::string::npos) end = point;
  }
  size_t n = end - start;
  if (n > size - 1) n = size - 1;
  std::memcpy(buffer, name + start, n);
  buffer[n] = 0;
}

int u4nameRetExt(char* buffer, int size, const char* name) {
  if (size < 3 || name == nullptr) return error4(nullptr, e4parm, E4_U4NAME_RET_EXT);
  size_t point = ExtensionPoint(name);
  if (point == std::string::npos) {
    buffer[0] = 0;
    return 0;
  }
  const char* ext = name + point + 1;
  size_t n = std::strlen(ext);
  while (n > 0 && ext[n - 1] == ' ') n--;
  if (n > size_t(size - 1)) n = size_t(size - 1);
  std::memcpy(buffer, ext, n);
  buffer[n] = 0;
  return int(n);
}

int u4namePath(char* buffer, unsigned size, const char* name) {
  if (size == 0) return 0;
  size_t n = NameStart(name);
  if (n > size - 1) n = size - 1;
  std::memcpy(buffer, name, n);
  buffer[n] = 0;
  return int(n);
}

int u4nameMake(char* buffer, int size, const char* folder, const char* name) {
  std::string path = folder && folder[0] ? platform::JoinPath(platform::NormalizeSeparators(folder), name)
                                         : std::string(name);
  return CopyOut(buffer, size, path, 90346);
}

int u4remove(const char* name) { return platform::Env::Current().Remove(name) == 0 ? 0 : -1; }

int u4ncpy(char* to, const char* from, unsigned size) {
  if (size == 0) return error4(nullptr, e4parm, E4_U4NCPY);
  size_t n = 0;
  while (n < size - 1 && from[n]) n++;
  std::memcpy(to, from, n);
  to[n] = 0;
  return int(n);
}

const char* u4environ(CODE4* c4, const char* name, int required) {
  const char* value = platform::Env::Current().GetEnv(name);
  if ((value == nullptr || value[0] == 0) && required) {
    error4describe(c4, e4info, E4_ENV_VARIABLE, name, nullptr, nullptr);
    return nullptr;
  }
  return value;
}

int u4memcmp(const void* a, const void* b, size_t len) { return std::memcmp(a, b, len); }

int u4memicmp(const void* a, const void* b, size_t len) {
  return platform::AsciiCompareIgnoreCase(std::string_view(static_cast<const char*>(a), len),
                                          std::string_view(static_cast<const char*>(b), len));
}

int c4isalnum(int c) {
  return platform::AsciiIsAlpha(char(c)) || platform::AsciiIsDigit(char(c));
}

void c4trimTrailing(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') text[--n] = 0;
}

void u4delayHundredth(unsigned n) { std::this_thread::sleep_for(std::chrono::milliseconds(10 * n)); }

void u4yymmdd(unsigned char* out) {
  DATE4NOW now;
  date4now(&now);
  out[0] = static_cast<unsigned char>(now.year - 1900);
  out[1] = static_cast<unsigned char>(now.month);
  out[2] = static_cast<unsigned char>(now.day);
}

// ---- bit arrays ----

void flag4init(FLAG4* f, CODE4* c4, unsigned char* bytes, unsigned long numFlags) {
  *f = FLAG4{};
  f->codeBase = c4;
  f->flags = bytes;
  f->numFlags = numFlags;
}

void flag4set(FLAG4* f, unsigned long n) { f->flags[n / 8] |= static_cast<unsigned char>(1u << (n % 8)); }

void flag4reset(FLAG4* f, unsigned long n) {
  f->flags[n / 8] &= static_cast<unsigned char>(~(1u << (n % 8)));
}

int flag4isSet(const FLAG4* f, unsigned long n) { return f->flags[n / 8] & (1u << (n % 8)); }

void flag4setAll(FLAG4* f) { std::memset(f->flags, 0xFF, (f->numFlags + 7) / 8); }

void flag4flip(FLAG4* f) { f->isFlip = static_cast<unsigned char>(!f->isFlip); }

// The arrays cover (bits + 7) / 8 bytes; no byte past them is touched.
void flag4and(FLAG4* a, const FLAG4* b) {
  size_t n = (a->numFlags + 7) / 8;
  for (size_t i = 0; i < n; i++) {
    unsigned char x = a->isFlip ? static_cast<unsigned char>(~a->flags[i]) : a->flags[i];
    unsigned char y = b->isFlip ? static_cast<unsigned char>(~b->flags[i]) : b->flags[i];
    a->flags[i] = static_cast<unsigned char>(x & y);
  }
  a->isFlip = 0;
}

void flag4or(FLAG4* a, const FLAG4* b) {
  size_t n = (a->numFlags + 7) / 8;
  for (size_t i = 0; i < n; i++) {
    unsigned char x = a->isFlip ? static_cast<unsigned char>(~a->flags[i]) : a->flags[i];
    unsigned char y = b->isFlip ? static_cast<unsigned char>(~b->flags[i]) : b->flags[i];
    a->flags[i] = static_cast<unsigned char>(x | y);
  }
  a->isFlip = 0;
}
