// Field indexes: the paged B+-trees of a table's .IND file (one tree per
// indexed column, fixed-length keys compared byte by byte, 4-byte row
// numbers), the keys made from column values, the cursors, the building of an
// index over a column and the plans that answer "column = value" conditions.
//
// Results are 1 for success and 0 for failure unless said otherwise; a
// failure has pushed its reason on the foundation's error stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/file.h"
#include "mapfile/foundation/records.h"
#include "mapfile/tables/table.h"

namespace layerio {

enum IndexErrorCode : int16_t {
  kErrIndexBuildEntry = 387,    // the index entry could not be added
  kErrIndexBuildSource = 386,   // the data source could not be opened
  kErrIndexBuildWrite = 388,    // the index file cannot be opened for writing
  kErrIndexBuild = 389,         // follows every build failure
  kErrIndexUnique = 390,        // with the column name: other unique flag
  kErrIndexKeyType = 508,       // with the field type as text
  kErrIndexView = 718,
  kErrIndexNone = 873,          // PXFindIndexed on a field without index
  kErrIndexNotFile = 972,       // magic, version or damaged header or page
  kErrIndexCollation = 3706,    // message text, through the fatal routine
};

inline constexpr uint32_t kIndexMagic = 24242424;
inline constexpr int kIndexPageSize = 512;
inline constexpr int kIndexMaxEntries = 29;
inline constexpr int kIndexMaxKey = 128;

// One tree of the file: its entry in the header page. The cursor words are
// the entry's last 8 bytes in memory (zero on disk).
struct IndexEntry {
  uint32_t root;  // 0: a free entry
  uint16_t maxKeys;
  uint8_t depth;
  uint8_t keyLength;
  uint32_t cursorPage;
  uint32_t cursorPosition;
};

struct IndexPageCache;  // indexfile.cpp

struct IndexPathStep {
  uint32_t page;
  uint32_t position;
  uint32_t count;
};

// The open .IND file of a table (or a view's temporary one).
struct IndexFile {
  FileHandle file;
  int mode;  // the file layer's mode of the current open
  uint16_t version;
  uint16_t pageSize;
  uint32_t freeHead;
  uint16_t entryCount;
  uint16_t stamp;    // collation stamp the file was made with
  uint16_t charset;  // charset of the file
  uint16_t subCrc;
  IndexEntry entries[kIndexMaxEntries];
  uint8_t* page;      // pageSize + 128 bytes: may overflow during a split
  uint32_t pageNumber;
  uint8_t* other;     // pageSize bytes
  uint32_t otherNumber;
  uint8_t keyA[kIndexMaxKey];
  uint8_t keyB[kIndexMaxKey];
  IndexPathStep* path;
  int32_t pathSize;
  uint8_t deleteOnClose;
  uint32_t useCount;
  // The file's pages as this object sees them: pages read or changed stay in
  // the object's cache (within IndexCacheSetPageLimit's budget) and reach the
  // file layer when evicted, at IndexFileFlush, at the last release and at
  // close; the header likewise.
  IndexPageCache* cache;
  uint32_t pageCount;  // pages of the file, the header page included
  uint8_t headerDirty;
};

// A key buffer: the key bytes, the row of the entry the cursor stands on
// and the typed value the key was made from (or decoded back into).
struct IndexKey {
  uint8_t type;  // FieldType
  uint8_t width;
  uint8_t decimals;
  uint8_t length;  // key length
  uint32_t row;    // 0: no current entry
  uint8_t bytes[kIndexMaxKey];
  Value value;
};

// The field-index object of an indexed column.
struct FieldIndex {
  uint16_t number;  // the entry's position from 1
  uint8_t unique;
  IndexKey key;
};

// Cursor moves.
enum IndexMove : int {
  kIndexSeek = 1,            // first key at or above the key buffer's
  kIndexNext = 2,
  kIndexNextDifferent = 3,
  kIndexNextEqual = 4,       // next, reporting whether the key stays equal
  kIndexPrevious = 5,
  kIndexPreviousDifferent = 6,
  kIndexPreviousEqual = 7,
  kIndexFirst = 8,
  kIndexLast = 9,
  kIndexBeforeFirst = 10,
  kIndexAfterLast = 11,
  kIndexSeekAfterEqual = 12,
};

// ----- file level -----
//
// An IndexFile holds one open of its file-layer entry while its use count is
// above 0: IndexFileCreate and IndexFileOpen return it with a use count of 1,
// IndexFileAcquire opens it again after the last IndexFileRelease closed it.
// The tree operations need a use count above 0, and those that change the
// file need it opened for writing (825 otherwise).
//
// Any page or header that does not hold together (an offset outside the
// file, a key count above the tree's maximum, a level link that leads in a
// circle) fails the operation with 972; nothing outside a page is read.

// Makes the companion .IND of a table (file kind 7 beside `directory`/name)
// or, with `temporary` or without a name, a temporary file, writes an empty
// header page and opens it for writing. The entry of a companion file stays
// in the file table for the table to keep (file->file); a temporary file is
// deleted and its entry released by IndexFileClose.
IndexFile* IndexFileCreate(const char* tableName, const char* directory, int fileKind,
                           int temporary);
// Opens and checks an existing file (`handle` a file-table entry of kind 7).
// 972 when the header or an entry does not hold together; 3706 (pushed, then
// the fatal-error routine) when the keys were made with another collation.
// The entry stays the caller's.
IndexFile* IndexFileOpen(FileHandle handle, int mode);
// Writes what the object holds, closes the file and frees the object.
void IndexFileClose(IndexFile* file);
int16_t IndexFileAcquire(IndexFile* file, int mode);
void IndexFileRelease(IndexFile* file);
int16_t IndexFileReopen(IndexFile* file, int mode);
// Writes the changed pages and the header through the file layer.
int16_t IndexFileFlush(IndexFile* file);
// The most pages one file object keeps in memory (each takes 648 bytes); the
// previous limit. The default, 65,536 pages (about 42 MB), holds the index of
// a million 20-byte keys; tests lower it to make pages leave the cache.
uint32_t IndexCacheSetPageLimit(uint32_t pages);

// The new index number (1..29), 0 on failure. `keyLength` is the column's
// width (the key length follows from the type, IndexKeyLength). A file that
// already has 29 entries in use or is of version 200 gets none: 0 without an
// error of its own (the caller reports it).
int IndexAdd(IndexFile* file, uint8_t fieldType, int keyLength, int unique);
int16_t IndexDrop(IndexFile* file, int number);
// The key is made in the field index's type with its key.decimals (the
// column's decimals, set by the caller) and the file's stamp; the cursor's
// key buffer is left alone. An equal key in a unique index (index->unique)
// fails the insert without an error of its own, as does a delete of an entry
// the tree does not hold.
int16_t IndexInsert(IndexFile* file, FieldIndex* index, const Value* value, uint32_t row);
int16_t IndexDelete(IndexFile* file, FieldIndex* index, const Value* value, uint32_t row);
// A cursor move; for kIndexSeek / kIndexSeekAfterEqual the key buffer holds
// the sought key (IndexKeyMake). Result 1 with key.row set when the cursor
// stands on an entry; 0 with key.row 0 at either end or on failure. *equal
// (when given) tells whether the key at the new position equals the key
// buffer's key before the move (for the seeks: the sought key).
// kIndexSeekAfterEqual stands on the first key above the sought one.
// The cursor (the entry's cursor words) is found again by its key and row
// when inserts or deletes of other rows moved its entry; a delete of its own
// row resets it (the next move then fails until a seek, first or last).
int16_t IndexMoveCursor(IndexFile* file, FieldIndex* index, int move, int* equal);

// Building a whole index at once: the keys of every row are gathered, sorted
// and laid out as a tree with evenly filled pages when the tree is empty
// (else inserted in key order). The entries, equal keys in the order added,
// are those IndexInsert would give row by row; a unique index with an equal
// key fails the finish (without an error of its own). Gathering holds at
// most 64 MB of entries; a full buffer is put into the tree as a run.
// `expected`: the number of keys to come when known (0 otherwise).
struct IndexBulk;
IndexBulk* IndexBulkBegin(IndexFile* file, FieldIndex* index, uint32_t expected);
int16_t IndexBulkAdd(IndexBulk* bulk, const Value* value, uint32_t row);
// Puts what is gathered into the tree and frees the bulk; 1 on success.
int16_t IndexBulkFinish(IndexBulk* bulk);
// Frees the bulk; a run already put into the tree stays there.
void IndexBulkAbort(IndexBulk* bulk);

// Makes the key bytes of a value in the key buffer's type, and keeps the
// value converted to that type in key->value (Char: cut to the width).
int16_t IndexKeyMake(const Value* value, IndexKey* key, int decimals, uint16_t stamp);
// A fresh key buffer (the caller's memory, not yet initialised): type,
// width, key length, decimals 0, no row; a Char key gets its text payload.
int16_t IndexKeyInitForField(IndexKey* key, uint8_t fieldType, int width);
void IndexKeyFree(IndexKey* key);
// The key length of a field type and width, 0 when the type has no key
// (508 pushed with `report`).
int IndexKeyLength(uint8_t fieldType, int width, int report);

// ----- table level -----

// Binds field `field` (0-based) to index `number` of the table's open index
// file (a definition's "Index n" clause).
int16_t FieldIndexBind(TableObject* table, uint32_t field, int number, int unique);
// Makes a field index for a column, building it from the rows when the
// column has none. *fileOut and *indexOut may be null.
int16_t FieldIndexCreate(TableObject* table, uint32_t field, int unique, IndexFile** fileOut,
                         FieldIndex** indexOut);
// Drops a column's index; when no column stays indexed the file is closed and
// deleted. The definition is not rewritten here.
int16_t FieldIndexDrop(TableObject* table, uint32_t field);
int16_t TableHasIndexes(const TableObject* table);
// The first row of the table whose field `field` (0-based) equals `value`,
// found through the field's index, which is built first when the field has
// none (as FieldIndexCreate does). *row is 0 when no row has the value. The
// index's cursor and key buffer are left as they stand, so that a search
// walking the same index goes on where it was. 0 with the error pushed when
// the index cannot be built or read.
int16_t FieldIndexFindFirst(TableObject* table, uint32_t field, const Value* value,
                            uint32_t* row);
// Frees every field-index object of the table, closes its index file and
// frees a view's cached expression indexes (for the table's close and the
// definition reader).
void TableIndexesClose(TableObject* table);
// Frees a view's cached expression indexes and deletes their temporary file.
void IndexSearchCacheFree(TableObject* table);
// Keeps the table's indexes in step with a row change. `fields` hold the
// row's values (new values for insert, old values for delete).
int16_t TableIndexesInsertRow(TableObject* table, const FieldDef* fields, uint32_t row);
int16_t TableIndexesDeleteRow(TableObject* table, const FieldDef* fields, uint32_t row);

// No entry reaches the index search below yet: only the tests call it.
// The plan answering "column = value" on an open table or view.
struct IndexSearchState {
  int plan;  // 0 none, 1 temporary expression index, 2 field index, 3 base index
  IndexFile* file;
  FieldIndex* index;
  TableObject* view;
  TableObject* base;
  uint32_t keys;
};
enum IndexSearchFlags : int { kSearchNoIndex = 1, kSearchCount = 2 };
// `condition` is compiled expression code of the column side; the plan is
// made for comparing it with values given later to IndexSearch.
int16_t IndexSearchPrepare(TableObject* view, const uint8_t* condition, int flags,
                           IndexSearchState* state, uint32_t* count);
// A move on the planned index; `key` the value sought for the seeks. *row is
// the view's row, 0 when none.
int16_t IndexSearch(IndexSearchState* state, int move, const Value* key, uint32_t* row);
void IndexSearchEnd(IndexSearchState* state);

}  // namespace layerio
