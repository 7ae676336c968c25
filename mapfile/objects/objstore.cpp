// The object store of an open table over a map-object file, the in-memory
// object list or a remote table.
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/objects/objstore.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace layerio {

namespace {

void PushNeedsId() { ErrorPush(kErrorSeverity, kErrObjStoreMapNeedsId, nullptr, nullptr); }

bool WriteMode(int mode) { return mode == kFileModeWrite || mode == kFileModeCreate; }

// Ends an operation on the .ID file without giving up its entry, so that
// its descriptor stays idle in the file layer until the next operation.
// The file reaches the table's last row, as its readers expect.
int16_t IdFileEnd(IdFileAccess* ids) {
  if (!ids->file || ids->mode == 0) return 1;
  int16_t ok = 1;
  if (WriteMode(ids->mode) && ids->lastRow >= 1) {
    const int64_t size = IdFileSize(ids);
    if (size >= 0 && int64_t(ids->lastRow) * 4 > size) ok = IdFileWrite(ids->lastRow, 0, ids);
  }
  if (!IdFileCacheEnd(ids)) ok = 0;
  ids->mode = 0;
  if (FileClose(ids->file) != 0) ok = 0;
  return ok;
}

void IdFileDrop(IdFileAccess* ids) {
  IdFileCacheFree(ids);
  if (ids->file) {
    if (ids->mode) FileClose(ids->file);
    FileRelease(ids->file);
  }
  std::memset(ids, 0, sizeof *ids);
}

ObjStore* StoreOfIds(IdFileAccess* ids) {
  return reinterpret_cast<ObjStore*>(reinterpret_cast<char*>(ids) - offsetof(ObjStore, ids));
}

// The row-position reader of an in-memory store without .ID file: the
// list's own lookup (the entry's place from 1).
int16_t MemoryPositionRead(int32_t row, uint32_t* position, IdFileAccess* handle) {
  *position = 0;
  if (row < 1) return 0;
  ObjStore* store = StoreOfIds(handle);
  MemObjEntry* entry = nullptr;
  int32_t at = -1;
  if (!MemObjStoreFind(store->memory.list, static_cast<uint32_t>(row), &entry, &at)) return 0;
  *position = static_cast<uint32_t>(at) + 1;
  return 1;
}

// A text without characters is no object to keep: inserting or replacing
// it changes nothing.
bool IsBlankText(const GeomObject* object) {
  return object->kind == kGeomText &&
         (object->u.text.length == 0 || !object->data ||
          static_cast<const char*>(object->data)[0] == '\0');
}

uint32_t DataSizeOf(const ObjStore* store, const GeomObject* object) {
  if (store->kind == kObjStoreMapFile) {
    if (object->kind == kGeomMultipoint || object->kind == kGeomCollection) return 0;
    int variant = 0;
    const uint32_t size = GeomObjectStorageSize(object, &variant, 1);
    return variant == 1 ? size : 0;
  }
  GeomBufferSizes sizes{};
  if (!GeomObjectSizes(object, &sizes)) return 0;
  return static_cast<uint32_t>(std::min<size_t>(sizes.data, UINT32_MAX));
}

void CountObject(ObjStore* store, const GeomObject* object) {
  MapHeader& h = store->header;
  MapObjectCounts counts{};
  MapObjectCountsAdd(&counts, object);
  h.pointCount += counts.points;
  h.lineCount += counts.lines;
  h.regionCount += counts.regions;
  h.otherCount += counts.others;
  h.maxObjectSize = std::max(h.maxObjectSize, DataSizeOf(store, object));
  if (IRectIsZero(&h.root)) {
    h.root = object->bounds;
  } else {
    IRectUnion(&h.root, &object->bounds);
  }
  if (store->kind == kObjStoreMapFile) {
    // The index's rectangle is the one the header writer saves.
    if (!IRectIsZero(&store->map.root)) IRectUnion(&h.root, &store->map.root);
    store->map.root = h.root;
  }
  h.flags |= kMapHeaderDirty;
}

uint32_t Lower(uint32_t count, uint32_t by) { return count > by ? count - by : 0; }

void UncountCounts(ObjStore* store, const MapObjectCounts& c) {
  MapHeader& h = store->header;
  h.pointCount = Lower(h.pointCount, c.points);
  h.lineCount = Lower(h.lineCount, c.lines);
  h.regionCount = Lower(h.regionCount, c.regions);
  h.otherCount = Lower(h.otherCount, c.others);
  h.flags |= kMapHeaderDirty;
}

// The counts of an object the in-memory list removed, from its kind and,
// for a collection, its part mask (bit 0 region, 1 polyline, 2 multipoint).
MapObjectCounts CountsOfKind(int kind, uint32_t mask) {
  MapObjectCounts c{};
  if (kind == kGeomCollection) {
    if (mask & 1) ++c.regions;
    if (mask & 2) ++c.lines;
    if (mask & 4) ++c.points;
    return c;
  }
  GeomObject probe;
  std::memset(&probe, 0, sizeof probe);
  probe.kind = static_cast<uint8_t>(kind);
  MapObjectCountsAdd(&c, &probe);
  return c;
}

// Style records added or released by a record's write or removal change the
// counts of the style tables, which only the header carries to the file:
// whatever the outcome, the header is saved at the end of the operation.
void MarkStylesChanged(ObjStore* store) { store->header.flags |= kMapHeaderDirty; }

void FreeBlock(void** block) {
  if (*block) MemFree(*block);
  *block = nullptr;
}

void DestroyPart(MemHandle* part) {
  if (*part) GeomObjectDestroy(*part);
  *part = nullptr;
}

// Gives the object's buffers and parts back to the cursor after a read (the
// cursor lent them for the read and holds none meanwhile) and leaves the
// object holding them as borrowed.
void TakeBack(ObjStoreCursor* cursor, GeomObject* object, int withData) {
  void* data = object->data;
  if (data == GeomScratch()) data = nullptr;  // never the cursor's to keep
  cursor->coords = data;
  cursor->capacity = data ? MemSize(&cursor->coords) : 0;
  cursor->values1 = object->values1;
  cursor->values2 = object->values2;
  cursor->regionPart = object->regionHandle;
  cursor->polylinePart = object->polylineHandle;
  cursor->multipointPart = object->multipointHandle;
  object->bufferFlags |= kGeomBorrowed;
  if (!withData) {
    if (object->data != GeomScratch()) object->data = nullptr;
    object->values1 = object->values2 = nullptr;
  }
}

// The filter the record reader calls: the cursor's own, with the refusal
// remembered so that a filtered row reads as no object.
struct FilterRun {
  ObjStoreCursor* cursor;
  int refused;
};

int RunFilter(void* context, const IRect* bounds) {
  FilterRun* run = static_cast<FilterRun*>(context);
  if (run->cursor->filter(run->cursor->filterContext, bounds)) return 1;
  run->refused = 1;
  return 0;
}

// The store keeps the .ID entry it just made or opened for its life, closed
// between operations (the file layer keeps the idle descriptor), and finds
// rows through it.
bool AttachIdFile(ObjStore* store, const ObjStoreTable* table) {
  store->ids.mode = 0;
  store->ids.lastRow = table ? table->lastRow : 0;
  store->readPosition = IdFileRead;
  store->writePosition = IdFileWrite;
  store->positionHandle = &store->ids;
  return FileClose(store->ids.file) == 0;
}

// The header of a remote table's store comes from its remote definition;
// its counters say only which kinds of object the table may hold.
bool RemoteBackingSetUp(ObjStore* store) {
  auto* table = static_cast<ObjStoreRemoteTable*>(store->table);
  ObjStoreRemoteDef* def = table ? table->remote : nullptr;
  if (!def || !def->objectsReady) return false;
  store->remote = def;
  MapHeader& h = store->header;
  h.coordSys = def->coordSys;
  DRect bounds;
  DRectSet(&bounds, def->bounds[0], def->bounds[1], def->bounds[2], def->bounds[3]);
  CoordUnitsRectToInt(&bounds, &h.root, &h.coordSys);
  h.second = h.root;
  h.maxObjectSize = 0;
  h.readWord = 0;
  h.flags &= ~kMapHeaderDirty;
  h.pointCount = h.lineCount = h.regionCount = 0;
  switch (def->geometryType) {
    case 1:
      h.pointCount = 1;
      break;
    case 2:
      h.lineCount = 1;
      break;
    case 4:
      h.regionCount = 1;
      break;
    default:
      h.pointCount = 1;
      h.lineCount = 1;
      h.regionCount = 2;
      break;
  }
  return true;
}

// Replacing and deleting reach the pending rows' objects too; the linked
// rectangle grows with what it is given, so that reads look there.
int16_t LinkedUpdate(ObjStore* store, GeomObject* object, int32_t row) {
  ObjStoreLinked* linked = store->linked;
  if (!linked || !linked->objects) return 1;
  if (!ObjStoreUpdateObject(nullptr, linked->objects, object, row, 0)) return 0;
  if (IRectIsZero(&linked->rect)) {
    linked->rect = object->bounds;
  } else {
    IRectUnion(&linked->rect, &object->bounds);
  }
  return 1;
}

int16_t LinkedDelete(ObjStore* store, int32_t row) {
  ObjStoreLinked* linked = store->linked;
  if (!linked || !linked->objects) return 1;
  return ObjStoreDeleteObject(nullptr, linked->objects, row);
}

}  // namespace

// ===== Create, open, close ====================================================

int16_t ObjStoreCreate(ObjStore* store, int kind, ObjStoreTable* table, int fileKind,
                       const CoordSys* coordSys, int temporary, int withId, int blockSize) {
  std::memset(store, 0, sizeof *store);
  store->kind = static_cast<int16_t>(kind);
  store->table = table;
  store->flags = (temporary ? kObjStoreTemporary : 0) | (withId ? kObjStoreHasId : 0);
  if (kind != kObjStoreMapFile && kind != kObjStoreMemory && kind != kObjStoreRemote) {
    std::memset(store, 0, sizeof *store);
    return 0;
  }
  // A map-object file finds its records only through the .ID file.
  if (kind == kObjStoreMapFile && !withId) {
    PushNeedsId();
    std::memset(store, 0, sizeof *store);
    return 0;
  }
  const FileHandle tableFile = table ? table->file : 0;
  bool ok = true;
  bool madeId = false;
  if (withId) {
    ok = IdFileCreate(&store->ids, tableFile) != 0;
    madeId = ok;
    // The file reaches the table's last row from the start, as its readers
    // expect of every map's.
    if (ok && table && table->lastRow >= 1) ok = IdFileWrite(table->lastRow, 0, &store->ids) != 0;
    ok = ok && AttachIdFile(store, table);
  }
  if (ok) {
    switch (kind) {
      case kObjStoreMapFile:
        ok = MapFileCreate(&store->map, &store->header, tableFile, fileKind, coordSys, temporary,
                           table ? table->markerSelector : 0, blockSize) != 0;
        break;
      case kObjStoreMemory:
        ok = MemObjStoreInit(&store->memory, nullptr) != 0;
        store->header.coordSys = *coordSys;
        if (ok && !withId) {
          store->readPosition = MemoryPositionRead;
          store->positionHandle = &store->ids;
        }
        break;
      default:
        store->header.coordSys = *coordSys;
        break;
    }
  }
  if (!ok) {
    if (madeId) FileCloseAndRemove(store->ids.file);
    store->flags &= ~kObjStoreTemporary;
    ObjStoreClose(store);
  }
  return ok ? 1 : 0;
}

int16_t ObjStoreOpen(ObjStore* store, int kind, ObjStoreTable* table, int withId, int fileKind) {
  std::memset(store, 0, sizeof *store);
  store->kind = static_cast<int16_t>(kind);
  store->table = table;
  store->flags = withId ? kObjStoreHasId : 0;
  const FileHandle tableFile = table ? table->file : 0;
  bool ok = true;
  if (kind == kObjStoreMapFile && !withId) {
    PushNeedsId();
    ok = false;
  }
  if (ok && withId) {
    ok = IdFileOpen(&store->ids, tableFile) &&
         IdFileCheckSize(&store->ids, table ? table->lastRow : 0) && AttachIdFile(store, table);
  }
  if (ok) {
    switch (kind) {
      case kObjStoreMapFile:
        ok = MapFileOpen(&store->map, &store->header, tableFile, fileKind,
                         table ? table->markerSelector : 0) != 0;
        break;
      case kObjStoreMemory:
        // In-memory stores exist only from a create.
        MemObjStoreOpen(&store->memory);
        std::memset(&store->header, 0, sizeof store->header);
        ok = false;
        break;
      case kObjStoreRemote:
        ok = RemoteBackingSetUp(store);
        if (ok && store->remote->carriesObjects) ok = ObjStoreLinkedCreate(store) != 0;
        break;
      default:
        ok = false;
        break;
    }
  }
  if (!ok) ObjStoreClose(store);
  return ok ? 1 : 0;
}

int16_t ObjStoreOpenBackend(ObjStore* store, int mode, uint32_t* changed) {
  if (changed) *changed = 0;
  if (store->backendOpen) return 0;  // operations do not nest
  if (store->ids.file) {
    uint32_t moved = 0;
    store->ids.lastRow = store->table ? store->table->lastRow : store->ids.lastRow;
    if (FileOpen(store->ids.file, mode, &moved) < 0) return 0;
    store->ids.mode = mode;
    // The rows stay in memory from one operation to the next while the
    // file is unchanged by others.
    IdFileCacheBegin(&store->ids, moved != 0);
  }
  if (store->kind == kObjStoreMapFile &&
      !MapFileLock(&store->map, &store->header, mode, changed)) {
    IdFileEnd(&store->ids);
    return 0;
  }
  store->backendOpen = 1;
  return 1;
}

int16_t ObjStoreCloseBackend(ObjStore* store) {
  if (!store->backendOpen) return 0;
  store->backendOpen = 0;
  int16_t ok = IdFileEnd(&store->ids);
  if (store->kind == kObjStoreMapFile) {
    if (MapFileUnlock(&store->map, &store->header)) {
      store->header.flags &= ~kMapHeaderDirty;
    } else {
      ok = 0;
    }
  }
  return ok;
}

int16_t ObjStoreDiscard(ObjStore* store) {
  if (store->backendOpen) ObjStoreCloseBackend(store);
  char oldPath[kPathCapacity] = "";
  const bool withId = store->ids.file != 0;
  if (withId) {
    IdFileCacheFree(&store->ids);
    // The .ID file steps aside first, so that a map that cannot be deleted
    // gets it back under its own name.
    char dir[kPathCapacity];
    char claimed[kPathCapacity];
    FilePath(store->ids.file, oldPath);
    FileDir(store->ids.file, dir);
    if (!TempFileName(claimed, dir)) {
      store->flags &= ~kObjStoreTemporary;
      ObjStoreClose(store);
      return 0;
    }
    char moved[kPathCapacity];
    std::strcpy(moved, claimed);
    const bool named = PathSetKindExtension(moved, kMapIdFileKind) != 0;
    FileRemove(claimed);
    if (!named || !FileMove(&store->ids.file, moved, 0)) {
      store->flags &= ~kObjStoreTemporary;
      ObjStoreClose(store);
      return 0;
    }
  }
  int16_t removed = 1;
  switch (store->kind) {
    case kObjStoreMapFile:
      removed = MapFileRemove(&store->map);
      break;
    case kObjStoreMemory:
      MemObjStoreClose(&store->memory);
      break;
    default:
      break;
  }
  if (withId) {
    if (removed) {
      if (!FileCloseAndRemove(store->ids.file)) removed = 0;
    } else {
      FileMove(&store->ids.file, oldPath, 0);
    }
  }
  store->flags &= ~kObjStoreTemporary;
  ObjStoreClose(store);
  return removed;
}

int16_t ObjStoreClose(ObjStore* store) {
  if (store->flags & kObjStoreTemporary) return ObjStoreDiscard(store);
  if (store->backendOpen) ObjStoreCloseBackend(store);
  IdFileDrop(&store->ids);
  if (store->linked) ObjStoreLinkedRelease(store->linked);
  store->linked = nullptr;
  switch (store->kind) {
    case kObjStoreMapFile:
      MapFileClose(&store->map);
      break;
    case kObjStoreMemory:
      MemObjStoreClose(&store->memory);
      break;
    default:
      break;
  }
  std::memset(store, 0, sizeof *store);
  return 1;
}

// ===== Linked pending-row store ================================================

int16_t ObjStoreLinkedCreate(ObjStore* store) {
  if (store->kind != kObjStoreRemote || !store->table) return 0;
  const ObjStorePendingRows* hooks = static_cast<ObjStoreRemoteTable*>(store->table)->pendingRows;
  if (!hooks || !hooks->attach) return 0;
  auto* linked = static_cast<ObjStoreLinked*>(MemAlloc(sizeof(ObjStoreLinked)));
  if (!linked) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(linked, 0, sizeof *linked);
  linked->hooks = hooks;
  if (!hooks->attach(hooks->owner, linked) || !linked->objects) {
    if (hooks->detach) hooks->detach(hooks->owner, linked);
    MemFree(linked);
    return 0;
  }
  linked->objects->header.coordSys = store->header.coordSys;
  linked->refs = 1;
  if (store->linked) ObjStoreLinkedRelease(store->linked);
  store->linked = linked;
  return 1;
}

int16_t ObjStoreLinkedRead(ObjStoreLinked* linked, int32_t row, int withData,
                           MapBoundsFilterFn filter, void* filterContext, GeomObject* object) {
  if (!linked || !linked->objects || row < 1) return 0;
  if (linked->pending) {
    std::memset(&linked->rect, 0, sizeof linked->rect);
    linked->pending = 0;
  }
  if (IRectIsZero(&linked->rect)) return 0;
  return MemObjStoreRead(&linked->objects->memory, static_cast<uint32_t>(row), filter,
                         filterContext, object, withData)
             ? 1
             : 0;
}

void ObjStoreLinkedRelease(ObjStoreLinked* linked) {
  if (!linked || --linked->refs > 0) return;
  if (linked->hooks && linked->hooks->detach) linked->hooks->detach(linked->hooks->owner, linked);
  MemFree(linked);
}

// ===== Insert, replace, delete ===============================================

int16_t ObjStoreIndexCursorOpen(ObjStoreIndexCursor* cursor, ObjStore* store) {
  std::memset(cursor, 0, sizeof *cursor);
  if (store->kind != kObjStoreMapFile) return 1;
  if (!MapIndexCursorOpen(&cursor->index, &store->map, store->header.readWord)) return 0;
  cursor->open = 1;
  return 1;
}

void ObjStoreIndexCursorClose(ObjStoreIndexCursor* cursor, ObjStore* store) {
  if (cursor->open) MapIndexCursorClose(&cursor->index, &store->map);
  std::memset(cursor, 0, sizeof *cursor);
}

int16_t ObjStoreInsertObject(ObjStoreIndexCursor* cursor, ObjStore* store, GeomObject* object,
                             int32_t row, size_t recordSize) {
  ++store->changeCount;
  if (IsBlankText(object)) return 1;
  if (GeomObjectIsEmpty(object)) {
    ErrorPush(kErrorSeverity, kErrObjStoreEmptyObject, nullptr, nullptr);
    return 0;
  }
  int16_t ok = 0;
  switch (store->kind) {
    case kObjStoreMapFile:
      if (!cursor->open) return 0;
      MarkStylesChanged(store);
      ok = MapIndexInsert(&cursor->index, &store->map, object, row,
                          std::max<size_t>(recordSize, store->header.readWord),
                          store->writePosition, store->positionHandle);
      break;
    case kObjStoreMemory:
      ok = row >= 1 && MemObjStoreInsert(&store->memory, object, static_cast<uint32_t>(row),
                                         kMemObjAtTail, nullptr, nullptr);
      break;
    default:
      return 0;  // remote objects are not written here
  }
  if (ok) CountObject(store, object);
  return ok ? 1 : 0;
}

int16_t ObjStoreUpdateObject(ObjStoreIndexCursor* cursor, ObjStore* store, GeomObject* object,
                             int32_t row, size_t recordSize) {
  ++store->changeCount;
  if (IsBlankText(object)) return 1;
  if (GeomObjectIsEmpty(object)) {
    ErrorPush(kErrorSeverity, kErrObjStoreEmptyObject, nullptr, nullptr);
    return 0;
  }
  MapObjectCounts removed{};
  bool found = false;
  int16_t ok = 0;
  switch (store->kind) {
    case kObjStoreMapFile: {
      if (!cursor->open) return 0;
      int wasFound = 0;
      int oldKind = 0;
      MarkStylesChanged(store);
      if (!MapRecordRemoveByRow(&cursor->index, &store->map, row, store->readPosition,
                                store->positionHandle, &wasFound, &oldKind, &removed)) {
        return 0;
      }
      found = wasFound != 0;
      ok = MapIndexInsert(&cursor->index, &store->map, object, row,
                          std::max<size_t>(recordSize, store->header.readWord),
                          store->writePosition, store->positionHandle);
      // The old record is gone either way; a failed insert must not leave
      // the row pointing at it.
      if (!ok && found) store->writePosition(row, 0, store->positionHandle);
      break;
    }
    case kObjStoreMemory: {
      int oldKind = 0;
      uint32_t oldMask = 0;
      ok = row >= 1 && MemObjStoreUpdate(&store->memory, object, static_cast<uint32_t>(row), -1,
                                         &oldKind, &oldMask);
      if (ok && oldKind != kGeomNone) {
        found = true;
        removed = CountsOfKind(oldKind, oldMask);
      }
      break;
    }
    default:
      ok = 1;  // nothing to change on a remote table itself
      break;
  }
  if (store->kind != kObjStoreRemote) {
    if (ok) CountObject(store, object);
    if (found) UncountCounts(store, removed);
  }
  if (ok && !LinkedUpdate(store, object, row)) ok = 0;
  return ok ? 1 : 0;
}

int16_t ObjStoreDeleteObject(ObjStoreIndexCursor* cursor, ObjStore* store, int32_t row) {
  ++store->changeCount;
  MapObjectCounts removed{};
  bool found = false;
  switch (store->kind) {
    case kObjStoreMapFile: {
      if (!cursor->open) return 0;
      int wasFound = 0;
      int oldKind = 0;
      MarkStylesChanged(store);
      if (!MapRecordRemoveByRow(&cursor->index, &store->map, row, store->readPosition,
                                store->positionHandle, &wasFound, &oldKind, &removed)) {
        return 0;
      }
      found = wasFound != 0;
      break;
    }
    case kObjStoreMemory: {
      int oldKind = 0;
      uint32_t oldMask = 0;
      if (row < 1 ||
          !MemObjStoreDelete(&store->memory, static_cast<uint32_t>(row), &oldKind, &oldMask)) {
        return 0;
      }
      if (oldKind != kGeomNone) {
        found = true;
        removed = CountsOfKind(oldKind, oldMask);
      }
      break;
    }
    default:
      break;  // nothing to change on a remote table itself
  }
  int16_t ok = LinkedDelete(store, row);
  if (!found) return ok;
  if (store->writePosition && !store->writePosition(row, 0, store->positionHandle)) ok = 0;
  UncountCounts(store, removed);
  return ok;
}

// ===== Reading =================================================================

int16_t ObjStoreCursorOpen(ObjStoreCursor* cursor, ObjStore* store) {
  std::memset(cursor, 0, sizeof *cursor);
  cursor->changeCount = store->changeCount;
  if (store->kind == kObjStoreMapFile) {
    if (!MapBlockSlotAlloc(&store->map, &cursor->objectSlot) ||
        !MapBlockSlotAlloc(&store->map, &cursor->coordSlot)) {
      MapBlockSlotFree(&store->map, &cursor->objectSlot);
      MapBlockSlotFree(&store->map, &cursor->coordSlot);
      return 0;
    }
    cursor->slotOwner = &store->map;
  }
  if (store->linked) {
    ++store->linked->refs;
    cursor->linked = store->linked;
  }
  cursor->flags = kObjStoreCursorOpen;
  return 1;
}

void ObjStoreCursorClose(ObjStoreCursor* cursor, ObjStore* store) {
  if (cursor->slotOwner) {
    MapFile* map = store ? &store->map : cursor->slotOwner;
    MapBlockSlotFree(map, &cursor->objectSlot);
    MapBlockSlotFree(map, &cursor->coordSlot);
  }
  FreeBlock(&cursor->coords);
  void* values[2] = {cursor->values1, cursor->values2};
  FreeBlock(&values[0]);
  FreeBlock(&values[1]);
  DestroyPart(&cursor->regionPart);
  DestroyPart(&cursor->polylinePart);
  DestroyPart(&cursor->multipointPart);
  if (cursor->linked) ObjStoreLinkedRelease(cursor->linked);
  std::memset(cursor, 0, sizeof *cursor);
}

int16_t ObjStoreReadObject(ObjStoreCursor* cursor, ObjStore* store, int32_t row, int withData,
                           GeomObject* object, int* styleFailure) {
  if (styleFailure) *styleFailure = 0;
  if (!(cursor->flags & kObjStoreCursorOpen)) return 0;
  // The object's own buffers go; it reads into the cursor's, which it owns
  // for the read so that the readers may grow them.
  if (!(object->bufferFlags & kGeomBorrowed)) GeomObjectFree(object);
  if (withData && cursor->capacity < store->header.readWord) {
    size_t used = 0;
    if (!GeomBufferReserve(store->header.readWord, &cursor->coords, &used, 0)) return 0;
    cursor->capacity = used;
  }
  if (!withData) {
    // The object gets no buffers; what the cursor holds is not needed.
    FreeBlock(&cursor->coords);
    void* values[2] = {cursor->values1, cursor->values2};
    FreeBlock(&values[0]);
    FreeBlock(&values[1]);
    cursor->values1 = cursor->values2 = nullptr;
  }
  object->data = cursor->coords;
  object->values1 = cursor->values1;
  object->values2 = cursor->values2;
  object->regionHandle = cursor->regionPart;
  object->polylineHandle = cursor->polylinePart;
  object->multipointHandle = cursor->multipointPart;
  object->bufferFlags = 0;
  cursor->coords = nullptr;
  cursor->capacity = 0;
  cursor->values1 = cursor->values2 = nullptr;
  cursor->regionPart = cursor->polylinePart = cursor->multipointPart = nullptr;
  int found = 0;
  FilterRun run{cursor, 0};
  if (store->linked &&
      ObjStoreLinkedRead(store->linked, row, withData, cursor->filter, cursor->filterContext,
                         object)) {
    found = 1;
  } else if (store->kind == kObjStoreRemote) {
    const ObjStoreRemoteDef* remote = store->remote;
    found = row >= 1 && remote && remote->read &&
            remote->read(remote->context, row, withData, object);
    if (found && cursor->filter && !cursor->filter(cursor->filterContext, &object->bounds))
      found = 0;
  } else if (store->kind == kObjStoreMapFile) {
    found = MapObjectReadByRow(&store->map, cursor->objectSlot, cursor->coordSlot, row, withData,
                               store->readPosition, store->positionHandle,
                               cursor->filter ? RunFilter : nullptr, &run, object, styleFailure);
    if (run.refused) found = 0;
  } else {
    found = row >= 1 && MemObjStoreRead(&store->memory, static_cast<uint32_t>(row),
                                        cursor->filter, cursor->filterContext, object, withData);
  }
  TakeBack(cursor, object, withData);
  return found ? 1 : 0;
}

// ===== Header ==================================================================

const CoordSys* ObjStoreCoordSys(const ObjStore* store) { return &store->header.coordSys; }
uint32_t ObjStorePointCount(const ObjStore* store) { return store->header.pointCount; }
uint32_t ObjStoreLineCount(const ObjStore* store) { return store->header.lineCount; }
uint32_t ObjStoreRegionCount(const ObjStore* store) { return store->header.regionCount; }

int ObjStoreBoundsFilter(const IRect* bounds, int onlyTest, void* filter) {
  (void)onlyTest;
  return IRectsOverlap(bounds, static_cast<const IRect*>(filter)) ? 1 : 0;
}

int ObjStoreBoundsFilterFn(void* filter, const IRect* bounds) {
  return ObjStoreBoundsFilter(bounds, 1, filter);
}

}  // namespace layerio
