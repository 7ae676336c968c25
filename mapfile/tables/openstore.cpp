// The open worker's view of a table's object store. It lives apart from
// opentable.cpp because table.h and objstore.h cannot be included together.
#include "mapfile/objects/objstore.h"

namespace layerio {

int16_t OpenWorkerStoreOpen(ObjStore* store, int mode) {
  return ObjStoreOpenBackend(store, mode, nullptr);
}

void OpenWorkerStoreClose(ObjStore* store) {
  if (store->backendOpen) ObjStoreCloseBackend(store);
}

void OpenWorkerCursorFree(void* cursor, ObjStore* store) {
  auto* c = static_cast<ObjStoreCursor*>(cursor);
  if (store) ObjStoreCursorClose(c, store);
  MemFree(c);
}

}  // namespace layerio
