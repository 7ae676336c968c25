// The open worker's view of a table's object store. It lives apart from
// opentable.cpp because table.h and objstore.h cannot be included together.
#include "mapfile/objects/objstore.h"

namespace layerio {

int16_t OpenWorkerStoreOpen(ObjStore* store, int mode) {
  return ObjStoreOpenBackend(store, mode, nullptr);
}

int16_t OpenWorkerStoreClose(ObjStore* store) {
  return store->backendOpen ? ObjStoreCloseBackend(store) : 1;
}

void OpenWorkerCursorFree(void* cursor, ObjStore* store) {
  auto* c = static_cast<ObjStoreCursor*>(cursor);
  if (store) ObjStoreCursorClose(c, store);
  MemFree(c);
}

}  // namespace layerio
