// The in-memory object list: map objects kept in memory under their row
// numbers, the backing of an object store that has no map-object file.
//
// Entries are heap blocks on a singly linked list (the foundation's List);
// each holds a deep copy of the object it was given, whose row field is the
// entry's key. Rows are not unique in the list: the lookups search from the
// head, so the first entry of a row is the one read, replaced and deleted.
//
// Ownership: the store owns every entry and its object's buffers (and, for
// a collection, its part objects). Objects passed in are copied, never
// kept; objects read out receive copies in their own buffers. An entry
// flagged buffersWithEntry has buffers that belong to the entry's block
// itself: deleting it resets it to kind 0 and leaves it in the list.
//
// Results are 1 for success and 0 for failure unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/memory.h"
#include "mapfile/objects/geom.h"

namespace layerio {

// The coordinate-system block of a map-file header, in 16-bit words.
inline constexpr size_t kMemObjCoordSysWords = 174;

// Insert positions besides an index from 0 (0 is the head).
inline constexpr int32_t kMemObjAtTail = -1;
inline constexpr int32_t kMemObjPendingRow = -3;    // a pending buffer of the row, else the tail
inline constexpr int32_t kMemObjPendingIndex = -4;  // a pending buffer by 1-based index

struct MemObjEntry {
  ListNode link;
  GeomObject object;  // object.row is the key
  uint8_t buffersWithEntry;
};

struct MemObjStore;

// Finds a row's entry in place of the list search: 1 and the entry and its
// 0-based position, or 0.
using MemObjFindFn = int (*)(MemObjStore* store, uint32_t row, MemObjEntry** entry,
                             int32_t* position);
// The pending row buffer for a row (byIndex 0) or at a 1-based index
// (byIndex 1, the index given as row), or null.
using MemObjPendingFn = GeomObject* (*)(void* context, int byIndex, uint32_t row);
// Told the row of every object inserted.
using MemObjRowFn = void (*)(void* context, uint32_t row);
// Sees the bounds of an entry before it is read; 0 skips the entry.
using MemObjBoundsFn = int (*)(void* context, const IRect* bounds);

struct MemObjStore {
  uint16_t coordSys[kMemObjCoordSysWords];
  List* list;  // null until MemObjStoreInit
  // Optional routines (cleared by MemObjStoreInit; set them afterwards).
  MemObjFindFn find;
  MemObjPendingFn pending;
  void* pendingContext;
};

// A read position in the list.
struct MemObjCursor {
  MemObjEntry* entry;
  int32_t position;
};

// Clears the record but its list, copies the coordinate-system block when
// one is given, and creates the list when there is none or else empties it
// (freeing the entries).
int MemObjStoreInit(MemObjStore* store, const uint16_t* coordSys);

// Adds a copy of object under row at position (-1 to -3 the tail, 0 the
// head, n > 0 before the entry now at n; see the pending positions above).
// inserted (when given) is then told the row. On failure nothing is added.
int MemObjStoreInsert(MemObjStore* store, const GeomObject* object, uint32_t row, int32_t position,
                      MemObjRowFn inserted, void* context);

// Replaces the first entry of row by a copy of object, or inserts it when
// the row has none. oldKind (and for a collection oldMask, its part mask)
// receive what was replaced: kind 0 when nothing was. A position of 0 or
// more moves the entry there when it stands elsewhere.
int MemObjStoreUpdate(MemObjStore* store, const GeomObject* object, uint32_t row,
                      int32_t position, int* oldKind, uint32_t* oldMask);

// Removes the first entry of row. oldKind and oldMask as for an update;
// a row without entry changes nothing (oldKind 0, result 1).
int MemObjStoreDelete(MemObjStore* store, uint32_t row, int* oldKind, uint32_t* oldMask);

// Reads the first entry of row into out: the record is copied over out
// keeping out's buffer fields; with copyBuffers the points, text and values
// are copied into out's buffers (grown when out owns them; a borrowed buffer
// too small fails), a collection part by part. filter (when given) sees the
// entry's bounds first. Without copyBuffers a collection is read with no
// part attached (out keeps its part objects for the next read). 0 when the
// row has no entry, the filter skips it, the entry is of kind 0, or a copy
// fails.
int MemObjStoreRead(MemObjStore* store, uint32_t row, MemObjBoundsFn filter, void* filterContext,
                    GeomObject* out, int copyBuffers);

// The first (or last) entry of row from the head, with its 0-based position.
int MemObjStoreFind(const List* list, uint32_t row, MemObjEntry** entry, int32_t* position);
int MemObjStoreFindLast(const List* list, uint32_t row, MemObjEntry** entry, int32_t* position);

// Cursor over the list: the first entry (null when empty), the next one.
void MemObjStoreFirst(MemObjCursor* cursor, const List* list);
void MemObjStoreNext(MemObjCursor* cursor);

// Fixed answers of the store's remaining operations.
int MemObjStoreBegin(MemObjStore* store, int* changed);  // *changed = 0; 1
int MemObjStoreCommit(MemObjStore* store);               // 1
int MemObjStoreClose(MemObjStore* store);                // frees everything; 1
int MemObjStoreCursorReset(MemObjCursor* cursor);        // 1
int MemObjStoreOpen(MemObjStore* store);                 // clears the record; 0
void MemObjStoreKindHook(MemObjStore* store, int kind);  // nothing

}  // namespace layerio
