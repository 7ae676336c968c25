// The internal layer under Zonelib's C interface: the process-wide handle
// table, the library context and its error object, and the bodies of the
// context and error calls.
//
// Contracts on the border cases:
//   - HandleTable::Add returns 0 (never a handle) for a null object, a type
//     outside 1..9, or a full table (1599 live handles, capacity 1600).
//   - HandleTable::Acquire and Lookup return null for handle 0, a handle
//     beyond the capacity, a free slot or a slot of another type; they never
//     throw.
//   - pipError::Report returns the code it was given and never throws.
//   - pipErrorGetIntern copies at most 255 characters and a NUL into each of
//     the caller's buffers; a null buffer is skipped.
//
// Ownership of the error object: every object made through a context reports
// into that context's pipError, and may outlive the context (a caller may end
// the context before closing them). So the error object is shared: the
// context holds one reference and every object made through it takes its own
// with pipContext::ErrorRef(); base-library members of such an object are
// handed *ref as their QError&.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/qerror.h"

// Allocation failure inside the engine. Frames of the C interface turn it
// (and every other exception) into the call's failure value.
class QException_bad_alloc : public std::bad_alloc {
 public:
  explicit QException_bad_alloc(const char* text = "");
  const char* what() const noexcept override { return text_; }

 private:
  char text_[128];
};

// The object types behind handles; a slot holds one of them, 0 when free.
enum HandleType : uint32_t {
  kHandleFree = 0,
  kHandleContext = 1,
  kHandleImport = 2,
  kHandleObjectFile = 3,  // also surface files
  kHandleZip4 = 4,
  kHandleRadius = 5,
  kHandleOverlap = 6,
  kHandleExport = 7,
  kHandleTradeArea = 8,
  kHandleGsbObject = 9,  // the facade objects of the gsb* calls
};

// Numbered handles of every object handed across the C interface.
//
// A call on an object holds a use of its handle (Acquire ... Release): a
// compare-and-swap on the handle's own slot, with no lock shared between
// handles, so threads working on different objects never wait for each
// other. Add, Take and Remove take the table's (re-entrant) lock; Take and
// Remove end the handle at once (no new use can begin) and then wait until
// the uses that had begun are released, so an object lives until the last
// call using it has returned, even when another thread closes its handle
// meanwhile. A thread that holds a use of a handle cannot take or remove it
// (that would wait for itself): Take gives null, Remove does nothing.
class HandleTable : public CqmsSynchronization {
 public:
  static constexpr int32_t kInitialCapacity = 100;
  static constexpr int32_t kMaximumCapacity = 1600;

  // How a new handle is numbered: the pip* families take the lowest free
  // number, 1 up, given again once freed; the gsb* calls take a number
  // never given again (the slot's number with the slot's use count above
  // it), so that a stale handle names nothing.
  enum Numbering : uint32_t { kLowestFree = 0, kNeverReissued = 1 };

  HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // A handle in the first free slot from 1 up, growing the table (doubling)
  // when none is free; 0 when the object or type is unfit or the table
  // cannot grow.
  uint32_t Add(void* object, uint32_t type, Numbering numbering = kLowestFree);
  // The object behind a live handle of that type, with a use held; or null
  // and nothing held.
  void* Acquire(uint32_t handle, uint32_t type);
  // Lets go of a use that Acquire gave.
  void Release(uint32_t handle);
  // The object behind a live handle of that type now, or null; holds
  // nothing, so the object may go at any time (for checks and tests).
  void* Lookup(uint32_t handle, uint32_t type) const;
  // Ends a live handle whatever its type, once its uses are released; the
  // object is untouched.
  void Remove(uint32_t handle);
  // Ends a live handle of that type once its uses are released and gives
  // its object, now without a handle; or null (the slot then left alone).
  // Two term calls on one handle cannot both get the object.
  void* Take(uint32_t handle, uint32_t type);

  int32_t Capacity() const { return capacity_.load(std::memory_order_relaxed); }
  // Handles now live (for checks that a run left nothing behind).
  int32_t InUseCount() const;

  // The table of the process; never destroyed, so that objects still open
  // at exit are left to the process's end rather than outlive their table.
  static HandleTable& Global();

 private:
  // One handle: its state word holds the type (0 when free or ended), the
  // uses held and a generation that changes with every Add, so that a use
  // cannot begin on a handle made anew under the same number. A slot to a
  // cache line, so that threads on neighbouring handles share none.
  struct alignas(64) Slot {
    std::atomic<uint64_t> state{0};
    // Set only while the slot is free and unused, published by the state.
    std::atomic<void*> object{nullptr};
  };
  void* End(uint32_t handle, bool anyType, uint32_t type);
  // The slot a handle names, or null.
  Slot* SlotOf(uint32_t handle) const;
  // Whether state is a live handle named by handle's number, of type
  // unless anyType.
  static bool Names(uint64_t state, uint32_t handle, bool anyType, uint32_t type);

  std::unique_ptr<Slot[]> slots_;
  std::atomic<int32_t> capacity_{0};
};

// The error object of one library context. Record, Clear, Report and the
// reading of the record are serialised, because objects made through one
// context may be used from different threads and all report here.
class pipError : public QError {
 public:
  enum ShowMode : int32_t { kShowSilent = 0, kShowConsole = 1, kShowMessageBox = 2 };

  pipError() = default;
  pipError(const pipError&) = delete;
  pipError& operator=(const pipError&) = delete;

  int32_t Record(int32_t code, const char* detail, const char* sourceFile, int line) override;
  void Clear() override;
  // Records, then shows the record by the show mode: 1 on standard output,
  // 2 as a message box; other modes are silent. Returns code.
  virtual int32_t Report(int32_t code, const char* detail, const char* sourceFile, int line);

  // Returns the previous mode.
  int32_t SetShowMode(int32_t mode);

  // Copies message and detail (each cut to size - 1 characters and
  // terminated; a null buffer is skipped) and returns the code.
  int32_t CopyOut(char* message, char* detail, size_t size);

 private:
  std::mutex mutex_;
  int32_t showMode_ = kShowSilent;
};

using pipErrorRef = std::shared_ptr<pipError>;

// The library context behind a handle of type 1.
class pipContext {
 public:
  pipContext();

  pipError& Error() { return *error_; }
  // A reference that keeps the error object alive after the context ends;
  // every object made through this context holds one.
  pipErrorRef ErrorRef() const { return error_; }

  int32_t Report(int32_t code, const char* detail, const char* sourceFile, int line) {
    return error_->Report(code, detail, sourceFile, line);
  }

 private:
  pipErrorRef error_;
};

// Size of the caller's buffers of pipErrorGet, terminator included.
inline constexpr size_t kPipErrorTextSize = 256;

// A new context (1) in *out; a failed allocation throws. Both arguments
// are accepted and not acted on.
int32_t pipInitIntern(uint32_t number, const char* text, pipContext** out);
// Destroys the context; objects made through it keep its error object. 1.
int32_t pipTermIntern(pipContext* context);
// The context's last error code (-1 when none) with its message and detail
// copied into the caller's 256-character buffers.
int32_t pipErrorGetIntern(pipContext* context, char* message, char* detail);
// Sets the show mode (as a signed 16-bit value); returns the previous one.
int32_t pipErrorShowIntern(pipContext* context, int32_t mode);
// Writes the version text into the buffer (16 characters with the NUL); 1,
// or -1 for a null buffer.
int32_t pipGetVersionIntern(char* buffer);

// Which handle type names objects of class T, and how an object that never
// got its handle is destroyed (the way its term call would: an import
// discards its file, an export ends with keep 0, ...). Each family
// specialises it next to its class:
//   template <> struct HandleKind<Foo> {
//     static constexpr uint32_t kType = kHandleRadius;
//     static void Discard(Foo* foo) { pipFooTermIntern(foo); }
//   };
template <class T>
struct HandleKind;

template <>
struct HandleKind<pipContext> {
  static constexpr uint32_t kType = kHandleContext;
  static void Discard(pipContext* context) { pipTermIntern(context); }
};
