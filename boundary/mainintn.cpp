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

bool SlotInUse(const HandleSlot& slot) { return slot.inUse && slot.object; }

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

HandleTable::HandleTable() {
  MarkInitialised();
  try {
    slots_.resize(kInitialCapacity);
  } catch (const std::bad_alloc&) {
    return;  // capacity stays 0: every Add fails
  }
  for (int32_t i = 0; i < kInitialCapacity; ++i) slots_[i].index = uint32_t(i);
  capacity_ = kInitialCapacity;
}

HandleTable& HandleTable::Global() {
  static HandleTable table;
  return table;
}

bool HandleTable::Grow() {
  int64_t grown = int64_t(capacity_) * 2;
  if (capacity_ == 0 || grown > kMaximumCapacity) return false;
  try {
    slots_.resize(size_t(grown));  // strong guarantee: unchanged on failure
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int64_t i = capacity_; i < grown; ++i) slots_[size_t(i)].index = uint32_t(i);
  capacity_ = int32_t(grown);
  return true;
}

uint32_t HandleTable::Add(void* object, uint32_t type) {
  if (!object || type < kHandleContext || type > kHandleTradeArea) return 0;
  QLockHold hold(*this);
  int32_t index = 1;
  while (index < capacity_ && SlotInUse(slots_[size_t(index)])) ++index;
  if (index >= capacity_) {
    index = capacity_;
    if (!Grow()) return 0;
  }
  HandleSlot& slot = slots_[size_t(index)];
  slot.type = type;
  slot.object = object;
  slot.inUse = 1;
  slot.busy = 0;
  return uint32_t(index);
}

void* HandleTable::Lookup(uint32_t handle, uint32_t type) {
  QLockHold hold(*this);
  if (!Valid(handle)) return nullptr;
  HandleSlot& slot = slots_[handle];
  if (!SlotInUse(slot) || slot.type != type) return nullptr;
  slot.busy = 1;
  return slot.object;
}

void HandleTable::Release(uint32_t handle) {
  QLockHold hold(*this);
  if (Valid(handle) && SlotInUse(slots_[handle])) slots_[handle].busy = 0;
}

void HandleTable::Remove(uint32_t handle) {
  QLockHold hold(*this);
  if (!Valid(handle)) return;
  HandleSlot& slot = slots_[handle];
  slot.object = nullptr;
  slot.inUse = 0;
  slot.busy = 0;
  slot.type = kHandleFree;
}

void* HandleTable::Take(uint32_t handle, uint32_t type) {
  QLockHold hold(*this);
  void* object = Lookup(handle, type);
  Release(handle);
  if (object) Remove(handle);
  return object;
}

int32_t HandleTable::Capacity() {
  QLockHold hold(*this);
  return capacity_;
}

int32_t HandleTable::InUseCount() {
  QLockHold hold(*this);
  int32_t count = 0;
  for (int32_t i = 1; i < capacity_; ++i) count += SlotInUse(slots_[size_t(i)]) ? 1 : 0;
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
