// The frame every exported PX* entry runs in, and the process-wide state of
// the interface: the initialisation count, the handle slots, the shared
// buffers and the switches.
//
// The frames (the only place an entry's try/catch lives):
//   InitCall(failure, body)      not initialised: `failure`, nothing recorded.
//       Otherwise the error record is cleared and body() runs; a trapped
//       fatal error (ErrorFatal with trapping on) or anything thrown ends the
//       entry with `failure` and code 479 (632 for an allocation failure).
//   TableCall(handle, checks, failure, body)   InitCall, then HandleCheck:
//       a handle that does not name a slot in use pushes 644 (and nothing
//       more); kNeedWrite on a slot that is not read-write pushes 891;
//       kNeedNative on a slot that is not a native table pushes 683. Any
//       failing check gives `failure`; otherwise body(HandleSlot&).
//   Unguarded(failure, body)     body() with nothing escaping, for the
//       entries that run without the initialisation check.
// A frame entered while another is running (a worker that reaches an entry)
// lets a trap pass to the outermost one, so that the whole operation ends;
// the outermost frame catches everything, so nothing leaves an entry.
//
// The slot table starts with kSlotsInitial slots and grows by kSlotsGrowth
// when none is free; a handle is a slot number from 1. Slots are zero-filled
// when made and when freed: table file 0 marks a free slot.
#pragma once

#include <cstdint>
#include <new>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/state.h"

namespace layerio {

struct TableObject;  // mapfile/tables/table.h

inline constexpr uint32_t kInterfaceNumber = PX_INTERFACE_NUMBER;
inline constexpr uint32_t kSlotsInitial = 10;
inline constexpr uint32_t kSlotsGrowth = 10;
inline constexpr size_t kScratchSize = 65000;
inline constexpr size_t kRowTextSize = PX_ROW_TEXT_SIZE;
// One bit per field of a table of up to 256 fields.
inline constexpr size_t kIndexSearchBytes = 32;
inline constexpr uint32_t kSlotKindNative = 1;
inline constexpr uint32_t kModeReadOnly = 1;
inline constexpr uint32_t kModeReadWrite = 2;
inline constexpr uint32_t kLibraryVersion[3] = {8, 5, 0};

// Codes of the frame (no message texts; callers see the numbers).
enum FrameErrorCode : int16_t {
  kErrSlotTaken = 432,       // the definition file is open in another slot
  kErrBadHandle = 644,       // also a bad argument
  kErrNotNative = 683,
  kErrNotReadWrite = 891,
  kErrCharsetCode = 1283,
  kErrCharsetTablesOpen = 1924,
};

// What a slot calls to release its table: with commit its changes are
// written first. 1; 0 when the changes could not be written (the slot then
// stays in use); -1 when the table was released but a part of it could not
// be written whole (its error pushed; the slot is freed).
using TableCloseFn = int16_t (*)(TableObject* table, uint16_t commit);

struct HandleSlot {
  FileHandle tableFile;  // file-table entry of the definition file; 0 free
  TableObject* table;    // owned while the slot is in use
  void* other;           // a second slot kind; always null
  uint32_t mode;         // kModeReadOnly, kModeReadWrite
  uint8_t indexSearch[kIndexSearchBytes];  // per field: an index search started
  uint32_t kind;         // kSlotKindNative
  CoordSys callerCoordSys;  // projection -1 (65535) until PXSetApiCoordSys
  uint16_t callerCoordSysDiffers;
  uint16_t persistentCursor;  // never set by the interface
  void* cursor;               // the persistent read cursor while the flag is set
  FileHandle echoFile;        // always 0 from the interface
  TableCloseFn close;         // how the table is released
};

// The interface's process-wide state; the foundation's is State().
struct InterfaceState {
  uint32_t references = 0;  // PXInitialize calls not yet matched
  uint16_t refused = 0;     // the last PXInitialize had another number
  uint32_t interfaceNumber = 0;
  uint8_t* scratch = nullptr;  // kScratchSize bytes, shared by conversions and drivers
  char* rowText = nullptr;     // kRowTextSize characters
  HandleSlot* slots = nullptr;
  uint32_t slotCount = 0;
  void* queryBlock = nullptr;  // the query-collection block (zeroed)
  uint32_t queryCollect = 0;
  uint16_t rawText = 0;
};

InterfaceState& Interface();

// 1 while the library is initialised.
inline bool Initialised() { return Interface().references != 0; }
// The shared buffers (null while not initialised).
inline uint8_t* InterfaceScratch() { return Interface().scratch; }
inline char* RowTextBuffer() { return Interface().rowText; }
inline uint16_t RawTextFlag() { return Interface().rawText; }

// ----- the handle table (handles.cpp) -----

// Allocates the table with kSlotsInitial free slots; 0 (632 pushed) when out
// of memory.
int16_t SlotTableCreate();
// Frees the table, whatever its slots hold (close them first).
void SlotTableDestroy();
// The slot of a handle in use, or null.
HandleSlot* SlotFind(PXTableHandle handle);
// The number of slots in use.
uint32_t SlotsInUse();

enum HandleChecks : unsigned { kNeedHandle = 1, kNeedWrite = 2, kNeedNative = 4 };
// The checks of a table entry, each failure pushed (see the top); the slot or
// null.
HandleSlot* HandleCheck(PXTableHandle handle, unsigned checks);

// Gives an open table a slot: the handle, or 0 with 432 (the same definition
// file has a slot) or 633 (the table could not grow). The slot owns `table`
// from here on.
PXTableHandle SlotRegister(FileHandle tableFile, TableObject* table, uint32_t mode, uint32_t kind,
                           FileHandle echoFile, TableCloseFn close);
// Releases a slot's table through its close function and frees the slot; 0
// when the table's changes could not be written (the slot stays in use, or,
// when the table was released all the same, is freed).
int16_t SlotClose(PXTableHandle handle, uint16_t commit);

// ----- initialisation and shutdown (frame.cpp) -----

uint16_t InterfaceInitialize(uint32_t interfaceNumber);
uint16_t InterfaceShutdown();

// ----- the frames -----

namespace frame_detail {
// Pushes the code of what ended an entry: 479, or 632 for an allocation.
void ReportEscape(bool allocation) noexcept;
}  // namespace frame_detail

// `clear` false keeps the error record (PXGetLastError reads it).
template <class R, class Body>
R Guard(R failure, Body&& body, bool clear = true) {
  if (State().guardDepth > 0) {
    // Inside a running entry: a trap belongs to the outermost frame.
    if (clear) ErrorClear();
    return body();
  }
  try {
    if (clear) ErrorClear();
    GuardArm arm;
    return body();
  } catch (const std::bad_alloc&) {
    frame_detail::ReportEscape(true);
  } catch (...) {
    frame_detail::ReportEscape(false);
  }
  return failure;
}

template <class R, class Body>
R InitCall(R failure, Body&& body) {
  if (!Initialised()) return failure;
  return Guard(failure, body);
}

template <class R, class Body>
R TableCall(PXTableHandle handle, unsigned checks, R failure, Body&& body) {
  return InitCall(failure, [&]() -> R {
    HandleSlot* slot = HandleCheck(handle, checks | kNeedHandle);
    if (!slot) return failure;
    return body(*slot);
  });
}

template <class R, class Body>
R Unguarded(R failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace layerio
