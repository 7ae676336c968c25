// A fresh folder per test, removed afterwards, and the paths of the data sets.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace testsupport {

// The shipped small fixtures (tests/data) and the real data sets beside the
// project (../shared/data, or the folder GSB_SHARED_DATA names at configure
// time or in the environment, so that one build can be run against a
// writable and a read-only copy).
inline std::string FixturePath(std::string_view name) {
  return std::string(GSB_TEST_DATA_DIR) + "/" + std::string(name);
}
inline std::string SharedDataPath(std::string_view name) {
  const char* chosen = std::getenv("GSB_SHARED_DATA");
  std::string folder = chosen && *chosen ? chosen : GSB_SHARED_DATA_DIR;
  return folder + "/" + std::string(name);
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gsbtest.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes bytes to a file in the folder and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    std::string p = File(name);
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return p;
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
