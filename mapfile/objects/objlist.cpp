// The in-memory object list.
#include "mapfile/objects/objlist.h"

#include <cstring>

namespace layerio {

int MemObjStoreInit(MemObjStore*, const uint16_t*) { return 0; }
int MemObjStoreInsert(MemObjStore*, const GeomObject*, uint32_t, int32_t, MemObjRowFn, void*) {
  return 0;
}
int MemObjStoreUpdate(MemObjStore*, const GeomObject*, uint32_t, int32_t, int*, uint32_t*) {
  return 0;
}
int MemObjStoreDelete(MemObjStore*, uint32_t, int*, uint32_t*) { return 0; }
int MemObjStoreRead(MemObjStore*, uint32_t, MemObjBoundsFn, void*, GeomObject*, int) { return 0; }
int MemObjStoreFind(const List*, uint32_t, MemObjEntry**, int32_t*) { return 0; }
int MemObjStoreFindLast(const List*, uint32_t, MemObjEntry**, int32_t*) { return 0; }
void MemObjStoreFirst(MemObjCursor*, const List*) {}
void MemObjStoreNext(MemObjCursor*) {}
int MemObjStoreBegin(MemObjStore*, int*) { return 1; }
int MemObjStoreCommit(MemObjStore*) { return 1; }
int MemObjStoreClose(MemObjStore*) { return 1; }
int MemObjStoreCursorReset(MemObjCursor*) { return 1; }
int MemObjStoreOpen(MemObjStore*) { return 0; }
void MemObjStoreKindHook(MemObjStore*, int) {}

}  // namespace layerio
