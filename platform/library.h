// Shared libraries loaded at run time: the seam's form of dlopen/dlsym, for
// driver libraries found beside the program and for tests that must reach a
// library exactly as a client program does (its own copy of its state, only
// its exported names).
#pragma once

#include <string>

namespace platform {

class Library {
 public:
  // Loads the library at path (symbols bound at once, kept local; the
  // library stays mapped until the process ends). Check Loaded(); Error()
  // then tells why not.
  explicit Library(const char* path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }
  // The address of an exported name, or null.
  void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace platform
