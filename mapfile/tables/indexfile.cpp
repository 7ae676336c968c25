// The .IND file of field indexes: header, pages, B+-tree operations, cursors
// and keys.
#include "mapfile/tables/fieldindex.h"

namespace layerio {

IndexFile* IndexFileCreate(const char*, const char*, int, int) { return nullptr; }
IndexFile* IndexFileOpen(FileHandle, int) { return nullptr; }
void IndexFileClose(IndexFile*) {}
int16_t IndexFileAcquire(IndexFile*, int) { return 0; }
void IndexFileRelease(IndexFile*) {}
int16_t IndexFileReopen(IndexFile*, int) { return 0; }
int IndexAdd(IndexFile*, uint8_t, int, int) { return 0; }
int16_t IndexDrop(IndexFile*, int) { return 0; }
int16_t IndexInsert(IndexFile*, FieldIndex*, const Value*, uint32_t) { return 0; }
int16_t IndexDelete(IndexFile*, FieldIndex*, const Value*, uint32_t) { return 0; }
int16_t IndexMoveCursor(IndexFile*, FieldIndex*, int, int*) { return 0; }
int16_t IndexKeyMake(const Value*, IndexKey*, int, uint16_t) { return 0; }
int16_t IndexKeyInitForField(IndexKey*, uint8_t, int) { return 0; }
void IndexKeyFree(IndexKey*) {}
int IndexKeyLength(uint8_t, int, int) { return 0; }

}  // namespace layerio
