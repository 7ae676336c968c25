// The object store of an open table: one map object per row, with the
// header that sums them up (bounds, counts by sort, coordinate system), over
// one of three backings:
//   1  a map-object file (.MAP) with its spatial index, and an .ID file that
//      maps rows to records;
//   2  object records kept in memory (the in-memory object list);
//   4  the objects of a remote table, read through the remote layer and
//      never written here.
//
// Files are not held open between operations: each operation runs between
// ObjStoreOpenBackend and ObjStoreCloseBackend, which open and close the
// .ID and .MAP entries through the file layer. The store keeps its file
// entries for its whole life, so that the layer can keep their descriptors
// idle between operations and a row loop pays no open per row.
//
// Not yet available: the remote layer (opening a kind-4 store and reading
// from it) and the linked pending-row store of a table's row buffers. Both
// fail with kErrObjStoreUnavailable pushed.
//
// A map whose type table knows codes above 72 is refused for insert,
// replace and delete (the index's leaf splits could drop such records);
// reading stays allowed.
//
// Contract: operations answer 1 (true) on success and 0 on failure, the
// reason pushed with severity 4 by the store (894 for an empty object) or
// by the layer below. A failed create or open leaves the store cleared.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/foundation.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/mapindex.h"
#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/objlist.h"
#include "mapfile/objects/rect.h"

namespace layerio {

enum ObjStoreKind : int16_t {
  kObjStoreNone = 0,
  kObjStoreMapFile = 1,
  kObjStoreMemory = 2,
  kObjStoreRemote = 4,
};

// Store flags.
inline constexpr uint32_t kObjStoreTemporary = 1u << 0;  // files deleted on close
inline constexpr uint32_t kObjStoreHasId = 1u << 1;      // the store has an .ID file

// Cursor flags.
inline constexpr uint32_t kObjStoreCursorOpen = 1u << 0;

// An object without coordinates offered for insert or replace.
inline constexpr int16_t kErrObjStoreEmptyObject = 894;
// The remote layer or the pending-row store a request needs is not built.
inline constexpr int16_t kErrObjStoreUnavailable = 1345;

// The coordinate buffer of a read cursor grows no further.
inline constexpr size_t kObjStoreCoordLimit = 1073741823;

// What the store needs of its table: the definition file's entry (the
// companions .MAP and .ID are named after it), the marker selector of the
// map-object file and the table's last row (the .ID file reaches it).
struct ObjStoreTable {
  FileHandle file;
  int markerSelector;
  int32_t lastRow;
};

// The structure of a table's pending rows (built with the table's row
// buffers; never set yet).
struct ObjStoreLinked;

struct ObjStore {
  int16_t kind;  // ObjStoreKind
  MapHeader header;
  MapFile map;             // kind 1
  MemObjStore memory;      // kind 2
  void* remoteRows;        // kind 4: the cached remote rows (none yet)
  IdFileAccess ids;        // the .ID file (kind 1 always, kind 2 when asked)
  RowPositionReadFn readPosition;    // row -> record position
  RowPositionWriteFn writePosition;  // null when the store has none
  IdFileAccess* positionHandle;      // what the two are given
  ObjStoreTable* table;
  ObjStoreLinked* linked;
  uint32_t changeCount;  // raised by every insert, replace and delete
  uint32_t flags;        // kObjStoreTemporary, kObjStoreHasId
  uint32_t backendOpen;  // between ObjStoreOpenBackend and ObjStoreCloseBackend
};

// A read cursor. Objects read with data hold the cursor's buffers (marked
// borrowed) until the next read through the cursor or its close; objects
// read without data hold only their record and, for a collection, parts
// that the cursor owns in the same way.
struct ObjStoreCursor {
  uint32_t changeCount;  // the store's when the cursor was opened
  uint32_t flags;        // kObjStoreCursorOpen
  void* coords;
  size_t capacity;  // bytes at coords
  double* values1;
  double* values2;
  MemHandle regionPart;
  MemHandle polylinePart;
  MemHandle multipointPart;
  // Sees each object's bounds before its data is read; 0 skips the object.
  MapBoundsFilterFn filter;
  void* filterContext;
  MapBlockSlot* objectSlot;  // kind 1
  MapBlockSlot* coordSlot;
  MapFile* slotOwner;
};

// The index cursor of inserts, replaces and deletes: the spatial index's
// for kind 1, unused by the other kinds.
struct ObjStoreIndexCursor {
  MapIndexCursor index;
  int16_t open;
};

// fileKind: -1 for the .MAP kind. coordSys is the store's internal system.
// blockSize: 0 for the default (kind 1 only).
int16_t ObjStoreCreate(ObjStore* store, int kind, ObjStoreTable* table, int fileKind,
                       const CoordSys* coordSys, int temporary, int withId, int blockSize = 0);
int16_t ObjStoreOpen(ObjStore* store, int kind, ObjStoreTable* table, int withId, int fileKind);
// changed (when given) is set when another writer changed the map since the
// last operation.
int16_t ObjStoreOpenBackend(ObjStore* store, int mode, uint32_t* changed = nullptr);
int16_t ObjStoreCloseBackend(ObjStore* store);
int16_t ObjStoreDiscard(ObjStore* store);
int16_t ObjStoreClose(ObjStore* store);

int16_t ObjStoreIndexCursorOpen(ObjStoreIndexCursor* cursor, ObjStore* store);
void ObjStoreIndexCursorClose(ObjStoreIndexCursor* cursor, ObjStore* store);

// recordSize: the minimum record buffer (0 for the header's word).
int16_t ObjStoreInsertObject(ObjStoreIndexCursor* cursor, ObjStore* store, GeomObject* object,
                             int32_t row, size_t recordSize);
int16_t ObjStoreUpdateObject(ObjStoreIndexCursor* cursor, ObjStore* store, GeomObject* object,
                             int32_t row, size_t recordSize);
int16_t ObjStoreDeleteObject(ObjStoreIndexCursor* cursor, ObjStore* store, int32_t row);

int16_t ObjStoreCursorOpen(ObjStoreCursor* cursor, ObjStore* store);
void ObjStoreCursorClose(ObjStoreCursor* cursor, ObjStore* store);
// 1 when the row has an object that passes the cursor's filter; 0 without
// error when it has none; 0 with an error pushed when the read failed.
// styleFailure (when given) is set when a style could not be looked up.
int16_t ObjStoreReadObject(ObjStoreCursor* cursor, ObjStore* store, int32_t row, int withData,
                           GeomObject* object, int* styleFailure);

const CoordSys* ObjStoreCoordSys(const ObjStore* store);
uint32_t ObjStorePointCount(const ObjStore* store);
uint32_t ObjStoreLineCount(const ObjStore* store);
uint32_t ObjStoreRegionCount(const ObjStore* store);

// The bounds filter of reads: filter is an IRect; true when the bounds
// overlap or touch it.
int ObjStoreBoundsFilter(const IRect* bounds, int onlyTest, void* filter);
// The same in the shape the readers call.
int ObjStoreBoundsFilterFn(void* filter, const IRect* bounds);

// Makes the pending-row store of a table (not built yet: fails).
int16_t ObjStoreLinkedCreate(ObjStore* store);

}  // namespace layerio
