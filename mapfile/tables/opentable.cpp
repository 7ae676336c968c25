// The open and close workers behind every handle, and the two entries that
// are nothing more than them.
//
// A table's parts are opened in the order definition, data source, object
// store backing, field-index file, slot, and released in the reverse order.
// The slot is given the function that releases its table: a table whose
// parts all opened gets one that ends those opens first (writing what they
// hold), a table that did not open one that only frees it. PXShutdown
// closes slots through the same functions, so a table is released the same
// way whichever entry ends it.
#include <cstring>

#include "mapfile/objects/objstore.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"

namespace layerio {

namespace {

constexpr int kFileKindEcho = 3;  // a text file
constexpr int16_t kErrStoreWrite = 428;  // the objects cannot be written

void Push(int16_t code, const char* text0 = nullptr) {
  ErrorPush(kErrorSeverity, code, text0, nullptr);
}

// The store's backing closed again (writing its header) when it is open.
int16_t StoreClose(ObjStore* store) {
  return store->backendOpen ? ObjStoreCloseBackend(store) : 1;
}

// A persistent read cursor closed and freed.
void CursorFree(void* cursor, ObjStore* store) {
  auto* c = static_cast<ObjStoreCursor*>(cursor);
  if (store) ObjStoreCursorClose(c, store);
  MemFree(c);
}

// Frees the table object and everything it holds, its definition entry
// included.
void TableFree(TableObject* table) {
  ColumnSetFree(&table->columns);
  TableClose(table);
}

// Ends the opens of the worker's step for the data source, the store's
// backing and the index file, in the reverse order. With `commit` a data
// source that cannot write its changes keeps everything open and gives 0
// (881 when it said nothing); a store whose header or object index cannot
// be written is closed all the same and gives -1 (428 when it said
// nothing): a table whose map part was not written whole never passes for
// one that was.
int16_t PartsRelease(TableObject* table, uint16_t commit) {
  const uint16_t before = ErrorCount();
  if (table->source.openCount > 0 && !DataSourceRelease(&table->source) && commit) {
    if (ErrorCount() == before) Push(kErrDataWrite);
    return 0;
  }
  int16_t result = 1;
  if (table->store && !StoreClose(table->store) && commit) {
    if (ErrorCount() == before) Push(kErrStoreWrite);
    result = -1;
  }
  if (table->indexes) IndexFileRelease(table->indexes);
  return result;
}

// The close function of a slot whose table opened.
int16_t CloseOpened(TableObject* table, uint16_t commit) {
  const int16_t released = PartsRelease(table, commit);
  if (released == 0) return 0;
  TableFree(table);
  return released;
}

// The close function of a slot whose table did not open: no part is open,
// nothing is written.
int16_t CloseUnopened(TableObject* table, uint16_t) {
  TableFree(table);
  return 1;
}

// Opens the data source, the store's backing and the index file; on a
// failure the parts already opened are released again, so that either all
// are open or none is.
bool PartsOpen(TableObject* table, int mode) {
  if (!DataSourceOpen(&table->source, mode)) return false;
  if (table->store && !ObjStoreOpenBackend(table->store, mode)) {
    DataSourceRelease(&table->source);
    return false;
  }
  if (table->indexes && !IndexFileAcquire(table->indexes, mode)) {
    if (table->store) StoreClose(table->store);
    DataSourceRelease(&table->source);
    return false;
  }
  return true;
}

// The echo file as a text stream in the library's charset, 0 when it cannot
// be had.
FileHandle EchoOpen(const char* path) {
  FileHandle file = FileTableAddName(path, kFileKindEcho);
  if (!file) return 0;
  if (!FileOpenText(file, kFileModeCreate, nullptr)) {
    FileRelease(file);
    return 0;
  }
  FileSetCharset(file, CharsetSystem());
  return file;
}

void EchoClose(FileHandle file) {
  if (!file) return;
  FileClose(file);
  FileRelease(file);
}

}  // namespace

PXTableHandle OpenTableWorker(const char* path, uint32_t mode, const char* echoPath) {
  if (!Initialised()) return 0;
  if (echoPath && mode != kModeReadOnly) return 0;
  return Guard(PXTableHandle{0}, [&]() -> PXTableHandle {
    if (!path || !path[0]) {
      Push(kErrBadHandle);
      return 0;
    }
    if (FileTableFind(path, kFileKindTable)) {
      Push(kErrDefAlreadyOpen);
      return 0;
    }
    FileHandle definition = FileTableAddName(path, kFileKindTable);
    if (!definition) return 0;
    TableObject* table = TableDefinitionOpen(definition);
    if (!table) {
      FileRelease(definition);
      return 0;
    }
    // A linked table's rows belong to its server: it is never written here.
    if (table->linked) mode = kModeReadOnly;
    const int fileMode = mode == kModeReadWrite ? kFileModeWrite : kFileModeRead;
    const bool opened = PartsOpen(table, fileMode);
    FileHandle echo = opened && echoPath ? EchoOpen(echoPath) : 0;
    PXTableHandle handle = SlotRegister(definition, table, mode, kSlotKindNative, echo,
                                        opened ? CloseOpened : CloseUnopened);
    if (opened && handle) return handle;
    if (handle) {
      // The caller learns which table failed: the first error, with the path.
      const int32_t code = ErrorLastCode();
      CloseTableWorker(handle, 0);
      ErrorClear();
      Push(int16_t(code), path);
      return 0;
    }
    // No slot took the table (432, 633): it is released here, or nothing
    // would ever release it.
    if (opened) PartsRelease(table, 0);
    EchoClose(echo);
    TableFree(table);
    return 0;
  });
}

uint16_t CloseTableWorker(PXTableHandle handle, uint16_t commit) {
  if (!Initialised()) return 0;
  return Guard(uint16_t{0}, [&]() -> uint16_t {
    HandleSlot* slot = HandleCheck(handle, kNeedNative);
    if (!slot) return 0;
    if (slot->persistentCursor && slot->cursor) {
      CursorFree(slot->cursor, slot->table ? slot->table->store : nullptr);
      slot->cursor = nullptr;
      slot->persistentCursor = 0;
    }
    const FileHandle echo = slot->echoFile;
    if (!SlotClose(handle, commit)) return 0;
    EchoClose(echo);
    return 1;
  });
}

}  // namespace layerio

// 135
LAYERIO_API PXTableHandle PXOpenTable(const char* path, uint32_t mode) {
  return layerio::InitCall(PXTableHandle{0}, [&]() -> PXTableHandle {
    return layerio::OpenTableWorker(path, mode, nullptr);
  });
}

// 102: a table whose changes cannot be written keeps its handle.
LAYERIO_API uint16_t PXCloseTable(PXTableHandle table) {
  return layerio::InitCall(uint16_t{0},
                           [&]() -> uint16_t { return layerio::CloseTableWorker(table, 1); });
}
