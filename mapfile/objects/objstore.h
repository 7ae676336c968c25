// The object store of an open table: one map object per row, with the
// header that sums them up (bounds, counts by sort, coordinate system), over
// one of three backings:
//   1  a map-object file (.MAP) with its spatial index, and an .ID file that
//      maps rows to records;
//   2  object records kept in memory (the in-memory object list);
//   4  the objects of a remote table, read through the remote layer and
//      never written here. The table layer describes them (ObjStoreRemoteDef)
//      and reads them; a table whose rows carry objects also gets the linked
//      pending-row store, where the objects of rows not yet on the server
//      are kept in memory and found first.
//
// Files are not held open between operations: each operation runs between
// ObjStoreOpenBackend and ObjStoreCloseBackend, which open and close the
// .ID and .MAP entries through the file layer. The store keeps its file
// entries for its whole life, so that the layer can keep their descriptors
// idle between operations and a row loop pays no open per row.
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
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/mapindex.h"
#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/objlist.h"

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
// A map-object file store asked for without its .ID file: its records are
// found only through that file.
inline constexpr int16_t kErrObjStoreMapNeedsId = 1345;

// The coordinate buffer of a read cursor grows no further.
inline constexpr size_t kObjStoreCoordLimit = 1073741823;

struct ObjStore;
struct ObjStoreLinked;

// What a kind-4 store knows of its remote table, filled by the table layer.
struct ObjStoreRemoteDef {
  uint8_t objectsReady;     // the remote part is set up for objects
  uint16_t carriesObjects;  // the rows carry objects: a linked store is made
  CoordSys coordSys;        // the internal system of the remote objects
  double bounds[4];         // x1, y1, x2, y2 in coordsys units
  int32_t geometryType;     // 1 points, 2 lines, 4 regions, other: any kind
  // Fills the object of a row (its data only when asked): 1 when the row has
  // one, 0 when not or on failure (the reason pushed). Null reads nothing.
  int16_t (*read)(void* context, int32_t row, int withData, GeomObject* object);
  void* context;
};

// How the table lays its pending-row data part beside a store: attach makes
// it and sets linked->rows and linked->objects (1 on success); detach frees
// it again.
struct ObjStorePendingRows {
  int16_t (*attach)(void* owner, ObjStoreLinked* linked);
  void (*detach)(void* owner, ObjStoreLinked* linked);
  void* owner;
};

// The store of a table's pending rows: the objects of rows that still sit in
// the table's pending row buffers, found before the backing's own. The
// objects live in an in-memory store of the rows' data part, which the
// table attaches and detaches (ObjStorePendingRows).
struct ObjStoreLinked {
  IRect rect;        // bounds of the pending objects; zero: none to find
  ObjStore* objects; // kind 2, owned by the data part
  void* rows;        // the table's data part of the pending rows
  uint32_t pending;  // set: the pending rows are gone, forget the rectangle
  uint32_t refs;     // the owning store and each open read cursor
  const ObjStorePendingRows* hooks;  // what attached the data part
};

// What the store needs of its table: the definition file's entry (the
// companions .MAP and .ID are named after it), the marker selector of the
// map-object file and the table's last row (the .ID file reaches it).
struct ObjStoreTable {
  FileHandle file;
  int markerSelector;
  int32_t lastRow;
};

// The table of a kind-4 store (ObjStoreOpen of kind 4 is given one of
// these): also its remote definition and its pending-row data part.
struct ObjStoreRemoteTable : ObjStoreTable {
  ObjStoreRemoteDef* remote;
  const ObjStorePendingRows* pendingRows;  // null: no linked store can be made
};

struct ObjStore {
  int16_t kind;  // ObjStoreKind
  MapHeader header;
  MapFile map;             // kind 1
  MemObjStore memory;      // kind 2
  ObjStoreRemoteDef* remote;  // kind 4: the table's remote definition
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
  ObjStoreLinked* linked;  // the store's linked store, held while open
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

// Makes the linked pending-row store of a store: an empty rectangle and the
// table's pending-row data part with its in-memory store, which takes the
// store's coordinate system. Fails when the table lays no data part.
int16_t ObjStoreLinkedCreate(ObjStore* store);
// The object of a pending row: 1 when the linked store holds one for the
// row (passing the filter), else 0. With the pending flag set the rectangle
// is forgotten first; a zero rectangle finds nothing.
int16_t ObjStoreLinkedRead(ObjStoreLinked* linked, int32_t row, int withData,
                           MapBoundsFilterFn filter, void* filterContext, GeomObject* object);
// Lowers the linked store's reference count, freeing it (and detaching the
// data part) at zero.
void ObjStoreLinkedRelease(ObjStoreLinked* linked);

}  // namespace layerio
