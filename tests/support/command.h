// Running the independent tools that tests compare against.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace testsupport {

// Debian's Python, which sees Debian's modules (dbfread, dbf, gdal).
inline const char* kPython = "/usr/bin/python3";

// Runs a shell command; its standard output, and whether it exited with 0.
inline bool RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  out->clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  return pclose(pipe) == 0;
}

// Shell words that make a sanitizer's report end a program with its own
// exit value, so that it never passes for one of the program's.
inline const char* kSanitizerExitCodes =
    "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86\" "
    "UBSAN_OPTIONS=\"${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=87\" ";

// Runs a shell command; its standard output, and its exit value (-1 when it
// did not exit).
inline int RunCommandStatus(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  out->clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether a probe command (such as "command -v shpdump") succeeds.
inline bool HaveCommand(const std::string& probe) {
  std::string ignored;
  return RunCommand(probe + " >/dev/null 2>&1", &ignored);
}

inline bool HavePythonModule(const char* module) {
  std::string ignored;
  return std::filesystem::exists(kPython) &&
         RunCommand(std::string(kPython) + " -c 'import " + module + "' 2>/dev/null", &ignored);
}

}  // namespace testsupport
