// Counted initialisation and shutdown of the interface, and the small
// entries that read or set process-wide switches.
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/path.h"
#include "mapfile/tables/frame.h"
#include "mapfile/objects/geom.h"
#include "mapfile/tables/pxobject.h"

#include <cstring>

namespace layerio {

namespace {

InterfaceState gInterface;

// Frees what an initialisation made; the tables still in slots are released
// without writing (the caller closed those it could).
void Teardown() {
  InterfaceState& s = gInterface;
  for (uint32_t i = 0; s.slots && i < s.slotCount; ++i) {
    HandleSlot& slot = s.slots[i];
    if (!slot.tableFile) continue;
    if (!slot.close || !slot.table) continue;
    try {
      slot.close(slot.table, 0);
    } catch (...) {
      // Released as far as it went; the library is ending either way.
    }
  }
  SlotTableDestroy();
  PublicObjectScratchFree();
  FileLayerShutdown();
  MemFreePtr(&s.scratch);
  MemFreePtr(&s.rowText);
  ErrorStackDestroy();
  s.references = 0;
  s.interfaceNumber = 0;
}

bool Allocate(size_t size, void** out) {
  MemHandle handle = nullptr;
  return MemAllocZero(size, &handle, out) != 0;
}

}  // namespace

InterfaceState& Interface() { return gInterface; }

void frame_detail::ReportEscape(bool allocation) noexcept {
  ErrorPush(kErrorSeverity, allocation ? kErrAllocFailed : kErrInternal, nullptr, nullptr);
}

uint16_t InterfaceInitialize(uint32_t interfaceNumber) {
  InterfaceState& s = gInterface;
  if (interfaceNumber != kInterfaceNumber) {
    s.refused = 1;
    return 0;
  }
  s.refused = 0;
  if (s.references++ > 0) return 1;
  uint16_t made = Guard(uint16_t{0}, [&]() -> uint16_t {
    LocaleLoadDateFormat();
    LocaleLoadNumberFormat();
    if (!State().charsetReady && !CharsetInit()) return 0;
    GeomValueServicesInstall();
    s.interfaceNumber = interfaceNumber;
    void* scratch = nullptr;
    void* rowText = nullptr;
    if (!ErrorStackCreate() || !Allocate(kScratchSize, &scratch)) return 0;
    s.scratch = static_cast<uint8_t*>(scratch);
    if (!Allocate(kRowTextSize, &rowText)) return 0;
    s.rowText = static_cast<char*>(rowText);
    if (!SlotTableCreate() || !FileCacheInit()) return 0;
    // The program directory only serves to find driver libraries beside the
    // program; a host that cannot name the program's file still initialises.
    ProgramDirInit();
    return 1;
  });
  if (!made) Teardown();
  return made;
}

uint16_t InterfaceShutdown() {
  InterfaceState& s = gInterface;
  if (s.references == 0) return 1;
  if (--s.references > 0) return 1;
  // Each table is written and closed in slot order. A table whose changes
  // cannot be written is still released (a shut-down library keeps nothing),
  // and the result says that something was lost.
  uint16_t written = Guard(uint16_t{0}, [&]() -> uint16_t {
    uint16_t all = 1;
    for (uint32_t i = 0; i < s.slotCount; ++i) {
      if (!s.slots[i].tableFile) continue;
      if (!SlotClose(PXTableHandle(i + 1), 1)) all = 0;
    }
    return all;
  });
  Teardown();
  return written;
}

}  // namespace layerio
