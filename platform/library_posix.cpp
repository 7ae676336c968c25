// The Linux implementation of Library.
#include "platform/library.h"

#include <dlfcn.h>

namespace platform {

Library::Library(const char* path) {
  // Kept mapped after the close: a library keeps process-wide state (its
  // directory pool, its file table) for the life of the process, as it does
  // when a program links it.
  handle_ = path ? dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) : nullptr;
  if (!handle_) {
    const char* why = dlerror();
    error_ = why ? why : "no path";
  }
}

Library::~Library() {
  if (handle_) dlclose(handle_);
}

void* Library::Symbol(const char* name) const {
  return handle_ && name ? dlsym(handle_, name) : nullptr;
}

}  // namespace platform
