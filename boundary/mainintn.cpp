#include "boundary/mainintn.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/env.h"

namespace {

constexpr const char* kVersionFormat = "Arealis+ v%d.%02d";
constexpr int kVersionMajor = 34;
constexpr int kVersionMinor = 4;
constexpr size_t kVersionSize = 16;  // "Arealis+ v34.04" and its NUL

constexpr const char* kShowFormat = "Error: %d\n%s\n%s\n%s";
constexpr const char* kShowCaption = "Error";

void CopyCut(char* to, size_t size, const char* from) {
  if (!to || size == 0) return;
  size_t n = strnlen(from, size - 1);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

QException_bad_alloc::QException_bad_alloc(const char* text) {
  CopyCut(text_, sizeof text_, text ? text : "");
}

// ---------------------------------------------------------------------------
// Handle table

namespace {

// The slot's state word: type in bits 0..6, bit 7 set for a handle numbered
// never to be given again, uses in bits 8..31, generation in bits 32..63.
constexpr uint64_t kTypeMask = 0xFF;
constexpr uint64_t kKindMask = 0x7F;
constexpr uint64_t kNeverReissuedBit = 0x80;
constexpr uint64_t kOneUse = uint64_t(1) << 8;
constexpr uint64_t kUsesMask = uint64_t(0xFFFFFF) << 8;
constexpr uint64_t kOneGeneration = uint64_t(1) << 32;

uint32_t TypeOf(uint64_t state) { return uint32_t(state & kKindMask); }
uint64_t UsesOf(uint64_t state) { return (state & kUsesMask) >> 8; }
uint64_t GenerationOf(uint64_t state) { return state >> 32; }

// A handle numbered never to be given again: the slot in bits 0..10, a tag
// of the slot's generation (1 up, never 0) in bits 11..31.
constexpr uint32_t kSlotBits = 11;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint64_t kTags = (uint64_t(1) << (32 - kSlotBits)) - 1;
uint32_t TagOf(uint64_t generation) { return uint32_t((generation - 1) % kTags + 1); }
static_assert(HandleTable::kMaximumCapacity <= int32_t(kSlotMask) + 1);

// The uses the calling thread holds, so that it is not made to wait for
// itself. Calls nest a few deep at most; deeper uses go unnoted.
struct HeldUse {
  const void* table;
  uint32_t handle;
};
constexpr int kHeldUses = 16;
thread_local HeldUse tHeld[kHeldUses];
thread_local int tHeldCount = 0;

void NoteUse(const void* table, uint32_t handle) {
  if (tHeldCount < kHeldUses) tHeld[tHeldCount] = {table, handle};
  ++tHeldCount;
}

void DropUse() {
  if (tHeldCount > 0) --tHeldCount;
}

bool HoldsUse(const void* table, uint32_t handle) {
  for (int i = 0; i < tHeldCount && i < kHeldUses; ++i)
    if (tHeld[i].table == table && tHeld[i].handle == handle) return true;
  return false;
}

}  // namespace

HandleTable::HandleTable() {
  try {
    slots_ = std::make_unique<Slot[]>(size_t(kMaximumCapacity));
  } catch (const std::bad_alloc&) {
    return;  // capacity stays 0: every Add fails
  }
  capacity_.store(kInitialCapacity, std::memory_order_relaxed);
}

HandleTable& HandleTable::Global() {
  static HandleTable* table = new HandleTable;
  return *table;
}

HandleTable::Slot* HandleTable::SlotOf(uint32_t handle) const {
  const uint32_t index = handle & kSlotMask;
  if (index == 0 || index >= uint32_t(kMaximumCapacity) || !slots_) return nullptr;
  return &slots_[index];
}

bool HandleTable::Names(uint64_t state, uint32_t handle, bool anyType, uint32_t type) {
  if (TypeOf(state) == kHandleFree || (!anyType && TypeOf(state) != type)) return false;
  const uint32_t tag = handle >> kSlotBits;
  if (!(state & kNeverReissuedBit)) return tag == 0;
  return tag == TagOf(GenerationOf(state));
}

uint32_t HandleTable::Add(void* object, uint32_t type, Numbering numbering) {
  if (!object || type < kHandleContext || type > kHandleGsbObject) return 0;
  QLockHold hold(*this);
  int32_t capacity = Capacity();
  if (capacity == 0) return 0;
  int32_t index = 1;
  // A slot is free when its handle has ended and its last use is released.
  auto free = [&](int32_t i) {
    const uint64_t state = slots_[size_t(i)].state.load(std::memory_order_acquire);
    return TypeOf(state) == kHandleFree && UsesOf(state) == 0;
  };
  while (index < capacity && !free(index)) ++index;
  if (index >= capacity) {
    if (int64_t(capacity) * 2 > kMaximumCapacity) return 0;
    index = capacity;
    capacity_.store(capacity * 2, std::memory_order_relaxed);
  }
  Slot& slot = slots_[size_t(index)];
  slot.object.store(object, std::memory_order_relaxed);
  // Published with the new generation: a use begun from here sees the object.
  const uint64_t generation =
      GenerationOf(slot.state.load(std::memory_order_relaxed)) + 1;
  const bool tagged = numbering == kNeverReissued;
  slot.state.store(generation * kOneGeneration | type | (tagged ? kNeverReissuedBit : 0),
                   std::memory_order_release);
  return tagged ? uint32_t(index) | TagOf(generation) << kSlotBits : uint32_t(index);
}

void* HandleTable::Acquire(uint32_t handle, uint32_t type) {
  Slot* at = SlotOf(handle);
  if (!at || type == kHandleFree) return nullptr;
  Slot& slot = *at;
  uint64_t state = slot.state.load(std::memory_order_acquire);
  do {
    if (!Names(state, handle, false, type) || UsesOf(state) == UsesOf(kUsesMask)) return nullptr;
  } while (!slot.state.compare_exchange_weak(state, state + kOneUse, std::memory_order_acquire,
                                             std::memory_order_acquire));
  NoteUse(this, handle);
  return slot.object.load(std::memory_order_relaxed);
}

void HandleTable::Release(uint32_t handle) {
  Slot* at = SlotOf(handle);
  if (!at) return;
  Slot& slot = *at;
  DropUse();
  const uint64_t after = slot.state.fetch_sub(kOneUse, std::memory_order_acq_rel) - kOneUse;
  // The last use of an ended handle: whoever ends it may go on.
  if (TypeOf(after) == kHandleFree && UsesOf(after) == 0) slot.state.notify_all();
}

void* HandleTable::Lookup(uint32_t handle, uint32_t type) const {
  const Slot* slot = SlotOf(handle);
  if (!slot || type == kHandleFree) return nullptr;
  return Names(slot->state.load(std::memory_order_acquire), handle, false, type)
             ? slot->object.load(std::memory_order_relaxed)
             : nullptr;
}

void* HandleTable::End(uint32_t handle, bool anyType, uint32_t type) {
  Slot* at = SlotOf(handle);
  if (!at || HoldsUse(this, handle)) return nullptr;
  Slot& slot = *at;
  void* object;
  uint64_t state;
  {
    QLockHold hold(*this);
    state = slot.state.load(std::memory_order_acquire);
    do {
      if (!Names(state, handle, anyType, type)) return nullptr;
    } while (!slot.state.compare_exchange_weak(state, state & ~kTypeMask,
                                               std::memory_order_acq_rel,
                                               std::memory_order_acquire));
    object = slot.object.load(std::memory_order_relaxed);
  }
  // No use can begin now; wait for those begun (outside the lock, so that
  // other handles are made and ended meanwhile).
  const uint64_t generation = GenerationOf(state);
  state &= ~kTypeMask;
  while (UsesOf(state) != 0 && GenerationOf(state) == generation) {
    slot.state.wait(state, std::memory_order_acquire);
    state = slot.state.load(std::memory_order_acquire);
  }
  return object;
}

void HandleTable::Remove(uint32_t handle) { End(handle, true, kHandleFree); }

void* HandleTable::Take(uint32_t handle, uint32_t type) {
  if (type == kHandleFree) return nullptr;
  return End(handle, false, type);
}

int32_t HandleTable::InUseCount() const {
  int32_t count = 0;
  for (int32_t i = 1; i < Capacity(); ++i)
    count += TypeOf(slots_[size_t(i)].state.load(std::memory_order_acquire)) != kHandleFree;
  return count;
}

// ---------------------------------------------------------------------------
// Error object and context

int32_t pipError::Record(int32_t code, const char* detail, const char* sourceFile, int line) {
  std::lock_guard<std::mutex> hold(mutex_);
  return QError::Record(code, detail, sourceFile, line);
}

void pipError::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  QError::Clear();
}

int32_t pipError::Report(int32_t code, const char* detail, const char* sourceFile, int line) {
  char text[kQErrorMessageSize + kQErrorDetailSize + kQErrorLocationSize + 32];
  int32_t mode;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    QError::Record(code, detail, sourceFile, line);
    mode = showMode_;
    if (mode != kShowConsole && mode != kShowMessageBox) return code;
    StrFormat(text, sizeof text, kShowFormat, Code(), Message(), Detail(), Location());
  }
  // Shown outside the lock: a slow console must not hold up other reporters.
  if (mode == kShowConsole) {
    std::fputs(text, stdout);
    std::fflush(stdout);
  } else {
    platform::Env::Current().ShowMessage(kShowCaption, text);
  }
  return code;
}

int32_t pipError::SetShowMode(int32_t mode) {
  std::lock_guard<std::mutex> hold(mutex_);
  int32_t previous = showMode_;
  showMode_ = mode;
  return previous;
}

int32_t pipError::CopyOut(char* message, char* detail, size_t size) {
  std::lock_guard<std::mutex> hold(mutex_);
  CopyCut(message, size, Message());
  CopyCut(detail, size, Detail());
  return Code();
}

pipContext::pipContext() : error_(std::make_shared<pipError>()) {}

// ---------------------------------------------------------------------------
// Bodies of the context and error calls

int32_t pipInitIntern(uint32_t /*number*/, const char* /*text*/, pipContext** out) {
  *out = new pipContext;  // a failed allocation throws; the frame turns it into 0
  return 1;
}

int32_t pipTermIntern(pipContext* context) {
  delete context;
  return 1;
}

int32_t pipErrorGetIntern(pipContext* context, char* message, char* detail) {
  return context->Error().CopyOut(message, detail, kPipErrorTextSize);
}

int32_t pipErrorShowIntern(pipContext* context, int32_t mode) {
  return context->Error().SetShowMode(int16_t(mode));
}

int32_t pipGetVersionIntern(char* buffer) {
  if (!buffer) return -1;
  StrFormat(buffer, kVersionSize, kVersionFormat, kVersionMajor, kVersionMinor);
  return 1;
}
