// The handle slots of the interface: a growable array of zero-filled
// records, a handle being a slot number from 1.
#include <cstring>

#include "mapfile/tables/frame.h"

namespace layerio {

namespace {

void SlotClear(HandleSlot& slot) {
  std::memset(static_cast<void*>(&slot), 0, sizeof slot);
  slot.callerCoordSys.projection = -1;  // 65535: no caller coordinate system
}

}  // namespace

int16_t SlotTableCreate() {
  InterfaceState& s = Interface();
  if (s.slots) return 1;
  auto* slots = static_cast<HandleSlot*>(MemAlloc(sizeof(HandleSlot) * kSlotsInitial));
  if (!slots) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  for (uint32_t i = 0; i < kSlotsInitial; ++i) SlotClear(slots[i]);
  s.slots = slots;
  s.slotCount = kSlotsInitial;
  return 1;
}

void SlotTableDestroy() {
  InterfaceState& s = Interface();
  MemFree(s.slots);
  s.slots = nullptr;
  s.slotCount = 0;
}

HandleSlot* SlotFind(PXTableHandle handle) {
  InterfaceState& s = Interface();
  if (handle < 1 || uint32_t(handle) > s.slotCount || !s.slots) return nullptr;
  HandleSlot& slot = s.slots[handle - 1];
  return slot.tableFile ? &slot : nullptr;
}

uint32_t SlotsInUse() {
  InterfaceState& s = Interface();
  uint32_t n = 0;
  for (uint32_t i = 0; i < s.slotCount; ++i) n += s.slots[i].tableFile != 0;
  return n;
}

HandleSlot* HandleCheck(PXTableHandle handle, unsigned checks) {
  HandleSlot* slot = SlotFind(handle);
  if (!slot) {
    ErrorPush(kErrorSeverity, kErrBadHandle, nullptr, nullptr);
    return nullptr;
  }
  bool ok = true;
  if ((checks & kNeedWrite) && slot->mode != kModeReadWrite) {
    ErrorPush(kErrorSeverity, kErrNotReadWrite, nullptr, nullptr);
    ok = false;
  }
  if ((checks & kNeedNative) && slot->kind != kSlotKindNative) {
    ErrorPush(kErrorSeverity, kErrNotNative, nullptr, nullptr);
    ok = false;
  }
  return ok ? slot : nullptr;
}

PXTableHandle SlotRegister(FileHandle tableFile, TableObject* table, uint32_t mode, uint32_t kind,
                           FileHandle echoFile, TableCloseFn close) {
  InterfaceState& s = Interface();
  if (!s.slots || tableFile == 0) {
    ErrorPush(kErrorSeverity, kErrBadHandle, nullptr, nullptr);
    return 0;
  }
  uint32_t free = 0;
  for (uint32_t i = 0; i < s.slotCount; ++i) {
    if (s.slots[i].tableFile == tableFile) {
      ErrorPush(kErrorSeverity, kErrSlotTaken, nullptr, nullptr);
      return 0;
    }
    if (!free && s.slots[i].tableFile == 0) free = i + 1;
  }
  if (!free) {
    uint32_t count = s.slotCount + kSlotsGrowth;
    auto* grown = static_cast<HandleSlot*>(MemRealloc(s.slots, sizeof(HandleSlot) * count));
    if (!grown) {
      ErrorPush(kErrorSeverity, kErrResizeFailed, nullptr, nullptr);
      return 0;
    }
    for (uint32_t i = s.slotCount; i < count; ++i) SlotClear(grown[i]);
    free = s.slotCount + 1;
    s.slots = grown;
    s.slotCount = count;
  }
  HandleSlot& slot = s.slots[free - 1];
  SlotClear(slot);
  slot.tableFile = tableFile;
  slot.table = table;
  slot.mode = mode;
  slot.kind = kind;
  slot.echoFile = echoFile;
  slot.close = close;
  return PXTableHandle(free);
}

int16_t SlotClose(PXTableHandle handle, uint16_t commit) {
  HandleSlot* slot = SlotFind(handle);
  if (!slot) {
    ErrorPush(kErrorSeverity, kErrBadHandle, nullptr, nullptr);
    return 0;
  }
  const int16_t closed = slot->close && slot->table ? slot->close(slot->table, commit) : 1;
  if (closed == 0) return 0;
  SlotClear(*slot);
  return closed > 0 ? 1 : 0;
}

}  // namespace layerio
