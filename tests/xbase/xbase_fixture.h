// Small data files built byte by byte for the engine's tests, a context
// that keeps its error reports (instead of printing them), and a clock that
// stands still.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"
#include "xbase/d4all.h"

namespace xbasetest {

struct FieldDef {
  std::string name;
  char type;
  int width;
  int decimals = 0;
  int flags = 0;
};

// A data file: header, descriptors, terminator, records, end mark.
class DbfBuilder {
 public:
  DbfBuilder(unsigned char version, std::vector<FieldDef> fields) : version_(version), fields_(std::move(fields)) {}
  DbfBuilder& Record(const std::string& bytes) {
    records_.push_back(bytes);
    return *this;
  }
  DbfBuilder& TableFlags(unsigned char flags) {
    tableFlags_ = flags;
    return *this;
  }
  DbfBuilder& Count(uint32_t count) {
    count_ = count;
    hasCount_ = true;
    return *this;
  }
  unsigned RecordWidth() const {
    unsigned width = 1;
    for (const auto& f : fields_) {
      bool wide = f.type == 'C';
      width += unsigned(f.width) + (wide ? unsigned(f.decimals) * 256 : 0);
    }
    return width;
  }
  std::string Bytes() const {
    unsigned headerLen = 32 + 32 * unsigned(fields_.size()) + 1;
    std::string out(32, '\0');
    out[0] = char(version_);
    out[1] = char(124);
    out[2] = 3;
    out[3] = 5;
    uint32_t count = hasCount_ ? count_ : uint32_t(records_.size());
    QStoreU32LE(&out[4], count);
    QStoreU16LE(&out[8], uint16_t(headerLen));
    unsigned width = RecordWidth();
    QStoreU16LE(&out[10], uint16_t(width));
    out[28] = char(tableFlags_);
    for (const auto& f : fields_) {
      std::string d(32, '\0');
      for (size_t i = 0; i < f.name.size() && i < 11; i++) d[i] = f.name[i];
      d[11] = f.type;
      d[16] = char(f.width);
      d[17] = char(f.decimals);
      d[18] = char(f.flags);
      out += d;
    }
    out += '\x0D';
    for (const auto& r : records_) {
      std::string rec = r;
      rec.resize(width, ' ');
      out += rec;
    }
    out += '\x1A';
    return out;
  }

 private:
  unsigned char version_;
  std::vector<FieldDef> fields_;
  std::vector<std::string> records_;
  unsigned char tableFlags_ = 0;
  uint32_t count_ = 0;
  bool hasCount_ = false;
};

// Numbers as file bytes and read back from them.
using testsupport::Be32;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::Le64;
using testsupport::LeDouble;

// A field's record bytes without trailing blanks.
inline std::string Trimmed(FIELD4* field) {
  std::string text(f4ptr(field), f4len(field));
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

// A field-definition list for d4create, ended by the null name.
class FieldList {
 public:
  FieldList& Add(const std::string& name, char type, int length = 0, int decimals = 0, int nulls = 0) {
    names_.push_back(std::make_unique<std::string>(name));
    list_.insert(list_.end() - 1, FIELD4INFO{names_.back()->data(), uint16_t(type), uint16_t(length),
                                             uint16_t(decimals), uint16_t(nulls)});
    return *this;
  }
  const FIELD4INFO* get() const { return list_.data(); }

 private:
  std::vector<std::unique_ptr<std::string>> names_;
  std::vector<FIELD4INFO> list_ = {FIELD4INFO{}};
};

struct Report {
  int code;
  long location;
  std::string t1, t2, t3;
};

// How every test context runs, so that the whole suite runs with the worker
// threads and the block cache on and off: GSB_XBASE_MATRIX holds "threads",
// "cache" or both ("threads,cache"). The cache is small (GSB_XBASE_CACHE
// bytes, 300000 unless set) so that blocks are reused and written back often.
struct Matrix {
  bool threads = false;
  long cacheBytes = 0;
  bool writeBehind = true;  // buffered files keep their writes until flushed
};

inline const Matrix& MatrixSetting() {
  static const Matrix setting = [] {
    Matrix m;
    std::string wanted = std::getenv("GSB_XBASE_MATRIX") ? std::getenv("GSB_XBASE_MATRIX") : "";
    m.threads = wanted.find("threads") != std::string::npos;
    if (wanted.find("cache") != std::string::npos) {
      const char* bytes = std::getenv("GSB_XBASE_CACHE");
      m.cacheBytes = bytes ? std::atol(bytes) : 300000;
    }
    return m;
  }();
  return setting;
}

// For tests that look at a file's bytes on disk while it is open, or at the
// moment a failing disk is seen: the matrix's threads and cache, with every
// write reaching the disk at once.
inline Matrix WriteThrough() {
  Matrix m = MatrixSetting();
  m.writeBehind = false;
  return m;
}

// For tests of the files the engine names on disk: the matrix's threads,
// no cache (with the cache, a temporary file lives in memory until it must
// go to disk).
inline Matrix WithoutCache() {
  Matrix m = MatrixSetting();
  m.cacheBytes = 0;
  return m;
}

// A context whose reports are kept in `reports` instead of shown; it runs
// with the threads and the cache as the matrix setting asks.
class TestCode4 : public CODE4 {
 public:
  TestCode4() : TestCode4(MatrixSetting()) {}
  explicit TestCode4(const Matrix& matrix) : CODE4{} {
    code4initLow(this, 0, k4version, k4structSize, matrix.threads ? 0 : 1);
    errorCallback = &Keep;
    if (!matrix.writeBehind) optimizeWriteDefault = 0;
    if (matrix.cacheBytes > 0) {
      memStartMax = matrix.cacheBytes;
      code4optStart(this);
    }
  }
  ~TestCode4() {
    if (initialised) code4initUndo(this);
  }
  TestCode4(const TestCode4&) = delete;
  TestCode4& operator=(const TestCode4&) = delete;

  std::vector<Report> reports;
  bool Reported(int code) const {
    for (const auto& r : reports) {
      if (r.code == code) return true;
    }
    return false;
  }
  const Report* Last() const { return reports.empty() ? nullptr : &reports.back(); }

 private:
  static void Keep(CODE4* c4, int code, long location, const char* t1, const char* t2, const char* t3) {
    auto* self = static_cast<TestCode4*>(c4);
    self->reports.push_back({code, location, t1 ? t1 : "", t2 ? t2 : "", t3 ? t3 : ""});
  }
};

// A private copy of a table of the shared data sets, with its memo and index
// files: the engine opens its files for exclusive use, and one test may run
// in several processes at once (the configurations above, other checkouts).
inline std::string SharedTable(const std::string& relative) {
  static testsupport::TempDir copies;
  namespace fs = std::filesystem;
  fs::path source = fs::path(testsupport::SharedDataPath(relative)).lexically_normal();
  fs::path target = fs::path(copies.path()) / fs::path(relative).lexically_normal();
  if (!fs::exists(target)) {
    fs::create_directories(target.parent_path());
    auto lower = [](std::string text) {
      for (char& c : text) c = platform::AsciiLower(c);
      return text;
    };
    std::string stem = lower(source.stem().string());
    for (const auto& entry : fs::directory_iterator(source.parent_path())) {
      std::string ext = lower(entry.path().extension().string());
      if (lower(entry.path().stem().string()) != stem) continue;
      if (ext != ".dbf" && ext != ".fpt" && ext != ".cdx" && ext != ".dbt") continue;
      fs::copy_file(entry.path(), target.parent_path() / entry.path().filename(), fs::copy_options::skip_existing);
    }
  }
  return target.string();
}

// Messages shown without a context (message box stand-in) are kept here.
class CapturingEnv : public platform::EnvWrapper {
 public:
  CapturingEnv() : EnvWrapper(platform::Env::Current()), scope_(*this) {}
  void ShowMessage(std::string_view title, std::string_view text) override {
    messages.emplace_back(std::string(title) + "|" + std::string(text));
  }
  int64_t NowSeconds() override { return fixedNow ? fixedNow : target_.NowSeconds(); }
  int64_t LocalOffset(int64_t s) override { return fixedNow ? 0 : target_.LocalOffset(s); }
  std::vector<std::string> messages;
  int64_t fixedNow = 0;  // seconds since 1970 (UTC = local) when set

 private:
  platform::ScopedEnv scope_;
};

// Stands in for the system while it lives: TMPDIR names folder.
class TempFolderEnv : public platform::EnvWrapper {
 public:
  explicit TempFolderEnv(std::string folder)
      : EnvWrapper(platform::Env::Current()), folder_(std::move(folder)), scope_(*this) {}
  const char* GetEnv(const char* name) override {
    return std::string(name) == "TMPDIR" ? folder_.c_str() : target_.GetEnv(name);
  }

 private:
  std::string folder_;
  platform::ScopedEnv scope_;
};

}  // namespace xbasetest
