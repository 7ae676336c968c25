// Helpers of the builder's tests: record numbers as the temporary table
// holds them, and a disk that fills up.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/env.h"

namespace buildertest {

// A QRECID value: the number right-aligned in 12 characters.
inline std::string Recid(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%12d", n);
  return text;
}

// Writes fail with ENOSPC once limit bytes have been written.
struct FullDisk : platform::EnvWrapper {
  FullDisk(platform::Env& target, int64_t bytes) : EnvWrapper(target), limit(bytes) {}
  int64_t limit;
  int64_t Write(int fd, const void* buffer, size_t count) override {
    if (limit < int64_t(count)) {
      errno = ENOSPC;
      return -1;
    }
    limit -= int64_t(count);
    return target_.Write(fd, buffer, count);
  }
};

}  // namespace buildertest
