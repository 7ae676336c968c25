// The in-memory object list.
#include "mapfile/objects/objlist.h"

#include <cstring>

namespace layerio {

namespace {

MemObjEntry* EntryOf(void* node) { return static_cast<MemObjEntry*>(node); }

void EntryFree(MemObjEntry* entry) {
  if (!entry->buffersWithEntry) GeomObjectFree(&entry->object);
  void* block = entry;
  MemFreePtr(&block);
}

void FreeEntries(List* list) {
  void* node = list->first;
  while (node) {
    void* next = ListNext(node);
    EntryFree(EntryOf(node));
    node = next;
  }
  ListInit(list);
}

int Lookup(MemObjStore* store, uint32_t row, MemObjEntry** entry, int32_t* position) {
  *entry = nullptr;
  *position = -1;
  if (store->find) return store->find(store, row, entry, position) && *entry ? 1 : 0;
  return store->list ? MemObjStoreFind(store->list, row, entry, position) : 0;
}

void ReportOld(const GeomObject* old, int* oldKind, uint32_t* oldMask) {
  if (oldKind) *oldKind = old ? old->kind : 0;
  if (oldMask) {
    *oldMask = 0;
    if (old && old->kind == kGeomCollection) GeomCollectionPartMask(old, oldMask);
  }
}

// Makes *buffer hold at least size bytes for an object with the given
// buffer flags: an owned buffer grows, the scratch buffer grows in place of
// the process-wide one, a borrowed buffer must already be large enough.
int ReserveFor(const GeomObject* object, void** buffer, size_t size) {
  if (object->bufferFlags & kGeomReadOnly) return 0;
  if (object->bufferFlags & kGeomBorrowed) return *buffer && MemSize(buffer) >= size ? 1 : 0;
  if (*buffer && *buffer == GeomScratch()) {
    if (!GeomScratchReserve(size, nullptr, 1)) return 0;
    *buffer = GeomScratch();
    return 1;
  }
  return GeomBufferReserve(size, buffer, nullptr, 1);
}

int CopyBuffersInto(GeomObject* out, const GeomObject* source);

int CopyPartsInto(GeomObject* out, const GeomObject* source) {
  const GeomObject* parts[3] = {source->u.collection.region, source->u.collection.polyline,
                                source->u.collection.multipoint};
  MemHandle* handles[3] = {&out->regionHandle, &out->polylineHandle, &out->multipointHandle};
  GeomObject** slots[3] = {&out->u.collection.region, &out->u.collection.polyline,
                           &out->u.collection.multipoint};
  for (int i = 0; i < 3; ++i) {
    *slots[i] = nullptr;
    if (!parts[i]) continue;
    GeomObject* part = static_cast<GeomObject*>(*handles[i]);
    if (part) {
      GeomObjectCopyKeepBuffers(part, parts[i]);
      if (!CopyBuffersInto(part, parts[i])) return 0;
    } else {
      // Parts lent by somebody else cannot be added to.
      if (out->bufferFlags & kGeomBorrowed) return 0;
      part = GeomObjectClone(parts[i]);
      if (!part) return 0;
      *handles[i] = part;
    }
    *slots[i] = part;
  }
  return 1;
}

int CopyBuffersInto(GeomObject* out, const GeomObject* source) {
  if (source->kind == kGeomCollection) return CopyPartsInto(out, source);
  GeomBufferSizes sizes;
  if (!GeomObjectSizes(source, &sizes)) return 1;  // a kind without buffers
  if (source->data) {
    if (!ReserveFor(out, &out->data, sizes.data)) return 0;
    if (sizes.data) std::memcpy(out->data, source->data, sizes.data);
  }
  const double* from[2] = {source->flagA ? source->values1 : nullptr,
                           source->flagB ? source->values2 : nullptr};
  double** to[2] = {&out->values1, &out->values2};
  size_t size[2] = {sizes.values1, sizes.values2};
  for (int i = 0; i < 2; ++i) {
    if (!from[i] || !size[i]) continue;
    void* block = *to[i];
    if (!ReserveFor(out, &block, size[i])) return 0;
    *to[i] = static_cast<double*>(block);
    std::memcpy(block, from[i], size[i]);
  }
  return 1;
}

void Link(List* list, MemObjEntry* entry, int32_t position) {
  if (position >= -3 && position <= -1) {
    ListInsert(list, entry, 1);
  } else if (position == 0) {
    ListInsert(list, entry, 0);
  } else {
    ListInsertAt(list, entry, position);
  }
}

}  // namespace

int MemObjStoreInit(MemObjStore* store, const uint16_t* coordSys) {
  List* list = store->list;
  std::memset(store, 0, sizeof *store);
  if (coordSys) std::memcpy(store->coordSys, coordSys, sizeof store->coordSys);
  if (list) {
    FreeEntries(list);
  } else {
    void* block = nullptr;
    if (!MemAllocZero(sizeof(List), nullptr, &block)) return 0;
    list = static_cast<List*>(block);
    ListInit(list);
  }
  store->list = list;
  return 1;
}

int MemObjStoreInsert(MemObjStore* store, const GeomObject* object, uint32_t row, int32_t position,
                      MemObjRowFn inserted, void* context) {
  if (!store->list || !object) return 0;
  if ((position == kMemObjPendingRow || position == kMemObjPendingIndex) && store->pending) {
    GeomObject* pending = store->pending(store->pendingContext, position == kMemObjPendingIndex,
                                         row);
    if (pending) {
      GeomObject copy;
      if (!GeomObjectCopy(object, &copy)) return 0;
      GeomObjectFree(pending);
      *pending = copy;
      pending->row = row;
      if (inserted) inserted(context, row);
      return 1;
    }
  }
  void* block = nullptr;
  if (!MemAllocZero(sizeof(MemObjEntry), nullptr, &block)) return 0;
  MemObjEntry* entry = EntryOf(block);
  if (!GeomObjectCopy(object, &entry->object)) {
    GeomObjectFree(&entry->object);
    MemFreePtr(&block);
    return 0;
  }
  entry->object.row = row;
  Link(store->list, entry, position);
  if (inserted) inserted(context, row);
  return 1;
}

int MemObjStoreUpdate(MemObjStore* store, const GeomObject* object, uint32_t row,
                      int32_t position, int* oldKind, uint32_t* oldMask) {
  if (!store->list || !object) return 0;
  MemObjEntry* entry;
  int32_t at;
  if (!Lookup(store, row, &entry, &at)) {
    ReportOld(nullptr, oldKind, oldMask);
    return MemObjStoreInsert(store, object, row, position, nullptr, nullptr);
  }
  // The copy is made before the old object goes, so that a failed copy
  // leaves the entry as it was.
  GeomObject copy;
  if (!GeomObjectCopy(object, &copy)) {
    ReportOld(nullptr, oldKind, oldMask);
    return 0;
  }
  ReportOld(&entry->object, oldKind, oldMask);
  if (!entry->buffersWithEntry) GeomObjectFree(&entry->object);
  entry->object = copy;
  entry->object.row = row;
  entry->buffersWithEntry = 0;
  if (position >= 0 && position != at && ListUnlink(store->list, entry)) {
    Link(store->list, entry, position);
  }
  return 1;
}

int MemObjStoreDelete(MemObjStore* store, uint32_t row, int* oldKind, uint32_t* oldMask) {
  ReportOld(nullptr, oldKind, oldMask);
  if (!store->list) return 0;
  MemObjEntry* entry;
  int32_t at;
  if (!Lookup(store, row, &entry, &at)) return 1;
  ReportOld(&entry->object, oldKind, oldMask);
  if (entry->buffersWithEntry) {
    GeomObjectReset(&entry->object, kGeomNone, 1);
    return 1;
  }
  ListUnlink(store->list, entry);
  EntryFree(entry);
  return 1;
}

int MemObjStoreRead(MemObjStore* store, uint32_t row, MemObjBoundsFn filter, void* filterContext,
                    GeomObject* out, int copyBuffers) {
  MemObjEntry* entry;
  int32_t at;
  if (!out || !Lookup(store, row, &entry, &at)) return 0;
  const GeomObject* source = &entry->object;
  if (filter && !filter(filterContext, &source->bounds)) return 0;
  if (source->kind == kGeomNone) return 0;
  GeomObjectCopyKeepBuffers(out, source);
  if (source->kind == kGeomCollection) {
    // Until the parts are copied the record points to none of them.
    out->u.collection.region = out->u.collection.polyline = out->u.collection.multipoint = nullptr;
  }
  if (copyBuffers && !CopyBuffersInto(out, source)) return 0;
  return 1;
}

int MemObjStoreFind(const List* list, uint32_t row, MemObjEntry** entry, int32_t* position) {
  int32_t n = 0;
  for (void* node = list ? list->first : nullptr; node; node = ListNext(node), ++n) {
    if (EntryOf(node)->object.row == row) {
      if (entry) *entry = EntryOf(node);
      if (position) *position = n;
      return 1;
    }
  }
  if (entry) *entry = nullptr;
  if (position) *position = -1;
  return 0;
}

int MemObjStoreFindLast(const List* list, uint32_t row, MemObjEntry** entry, int32_t* position) {
  MemObjEntry* found = nullptr;
  int32_t foundAt = -1;
  int32_t n = 0;
  for (void* node = list ? list->first : nullptr; node; node = ListNext(node), ++n) {
    if (EntryOf(node)->object.row == row) {
      found = EntryOf(node);
      foundAt = n;
    }
  }
  if (entry) *entry = found;
  if (position) *position = foundAt;
  return found ? 1 : 0;
}

void MemObjStoreFirst(MemObjCursor* cursor, const List* list) {
  cursor->entry = list ? EntryOf(list->first) : nullptr;
  cursor->position = 0;
}

void MemObjStoreNext(MemObjCursor* cursor) {
  if (!cursor->entry) return;
  cursor->entry = EntryOf(ListNext(cursor->entry));
  ++cursor->position;
}

int MemObjStoreBegin(MemObjStore*, int* changed) {
  if (changed) *changed = 0;
  return 1;
}

int MemObjStoreCommit(MemObjStore*) { return 1; }

int MemObjStoreClose(MemObjStore* store) {
  if (store->list) {
    FreeEntries(store->list);
    MemFreePtr(&store->list);
  }
  return 1;
}

int MemObjStoreCursorReset(MemObjCursor* cursor) {
  std::memset(cursor, 0, sizeof *cursor);
  return 1;
}

int MemObjStoreOpen(MemObjStore* store) {
  // An in-memory store has nothing to open: it is only ever created.
  List* list = store->list;
  std::memset(store, 0, sizeof *store);
  store->list = list;
  return 0;
}

void MemObjStoreKindHook(MemObjStore*, int) {}

}  // namespace layerio
