// The frame every exported function of Zonelib's C interface runs in, so that
// none repeats the lookup / try / release steps by hand:
//
//   WithHandle<T>(handle, [failure,] body)     body(T&) on the object behind a
//       live handle of T's type (HandleKind<T>::kType), a use of the handle
//       held meanwhile (no lock: a term call on another thread waits for
//       it). A handle that names no T gives failure (default -1) and
//       records nothing: without the object there is no error record.
//   WithHandleOr<T>(handle, failure, missing, body)   the same, with missing()
//       giving the result for a handle that names no T.
//   CreateHandle<T>(context, out, body)        body(pipContext&, T*& object)
//       makes the object through a library context and returns 1, leaving
//       object null when it fails (its result is then the call's). The new
//       object gets a handle in *out; when none is free it is destroyed by
//       HandleKind<T>::Discard, code 103 "Too many handles in use!\n" goes to
//       the context's error, and the result is -1. A null out gives -1
//       before anything is made.
//   DestroyHandle<T>(handle, body)             body(T*) destroys the object
//       after its handle has ended and the calls using it have returned. A
//       handle that names no T gives -1 and leaves its slot alone, so a term
//       call of the wrong family cannot kill another family's live handle;
//       so does a term call made inside a call on the same handle.
//   Guarded(failure, body)                     body() with nothing escaping.
//   DlCall(failure, line, {required...}, body)  the frame of the Dl* calls,
//       whose objects are pointers, not handles: clears the flag of the
//       process-wide Dl record, refuses a null among required (code 100
//       "Null value passed." for the entry at line) and runs body guarded.
//
// In every template anything thrown (QException_bad_alloc, QErrorEx, ...)
// ends the call with the failure value; no exception crosses the interface.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "boundary/mainintn.h"

inline constexpr const char* kTooManyHandlesText = "Too many handles in use!\n";

template <class R, class Body>
R Guarded(R failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// A use of a typed handle for a scope: the object cannot go while it is held.
template <class T>
class HandleUse {
 public:
  explicit HandleUse(uint32_t handle)
      : handle_(handle),
        object_(static_cast<T*>(HandleTable::Global().Acquire(handle, HandleKind<T>::kType))) {}
  ~HandleUse() {
    if (object_) HandleTable::Global().Release(handle_);
  }
  HandleUse(const HandleUse&) = delete;
  HandleUse& operator=(const HandleUse&) = delete;

  T* get() const { return object_; }

 private:
  uint32_t handle_;
  T* object_;
};

template <class T, class R, class Missing, class Body>
R WithHandleOr(uint32_t handle, R failure, Missing&& missing, Body&& body) noexcept {
  return Guarded(failure, [&]() -> R {
    HandleUse<T> use(handle);
    if (!use.get()) return missing();
    return body(*use.get());
  });
}

template <class T, class R, class Body>
R WithHandle(uint32_t handle, R failure, Body&& body) noexcept {
  return WithHandleOr<T>(handle, failure, [failure] { return failure; }, body);
}

template <class T, class Body>
int32_t WithHandle(uint32_t handle, Body&& body) noexcept {
  return WithHandle<T>(handle, int32_t{-1}, body);
}

// Gives a new object its handle; when none is free the object is destroyed
// the way its term call would and the result is 0.
template <class T>
uint32_t AdoptHandle(T* object,
                     HandleTable::Numbering numbering = HandleTable::kLowestFree) {
  uint32_t handle = HandleTable::Global().Add(object, HandleKind<T>::kType, numbering);
  if (!handle) HandleKind<T>::Discard(object);
  return handle;
}

template <class T, class Body>
int32_t CreateHandle(uint32_t context, uint32_t* out, Body&& body) noexcept {
  return WithHandle<pipContext>(context, [&](pipContext& owner) -> int32_t {
    if (!out) return -1;
    T* object = nullptr;
    int32_t result = body(owner, object);
    if (result != 1 || !object) return result == 1 ? -1 : result;
    uint32_t handle = AdoptHandle(object);
    if (!handle) {
      // Recorded after the discard, so that it is the error the caller reads.
      owner.Report(Q_ERROR_TABLE_OVERFLOW, kTooManyHandlesText, "pipmain", __LINE__);
      return -1;
    }
    *out = handle;
    return 1;
  });
}

template <class T, class Body>
int32_t DestroyHandle(uint32_t handle, Body&& body) noexcept {
  return Guarded(int32_t{-1}, [&]() -> int32_t {
    T* object = static_cast<T*>(HandleTable::Global().Take(handle, HandleKind<T>::kType));
    if (!object) return -1;
    return body(object);
  });
}

// The Dl interface's process-wide record and its null report (readmain.cpp).
pipError& DlGlobalError();
bool DlNullPassed(int line);

template <class R, class Body>
R DlCall(R failure, int line, std::initializer_list<const void*> required, Body&& body) noexcept {
  return Guarded(failure, [&]() -> R {
    pipError& global = DlGlobalError();
    if (global.Flag()) global.SetFlag(0);
    for (const void* p : required)
      if (!p) {
        DlNullPassed(line);
        return failure;
      }
    return body();
  });
}
