// The map-object file (.MAP, file kind 5): the map objects of one table in
// fixed-size blocks behind a 616-byte head, and its companion object index
// file (.ID, file kind 6) that maps a row number to its object's position.
//
// Layout (all multi-byte values little-endian):
//   0     256 bytes  per-type-code table, one byte per code 0..255: bits 0-6
//                    the fixed record length, bit 7 "has variable data"
//   256   105, 216, 256, 312 or 360 bytes: the header record, its length
//                    following the version (kMapHeaderLength*)
//   ..616 zero
//   then blocks of the block size, each at a multiple of the block size; the
//   first block lies at 616 rounded up to a whole block (1024 with 512-byte
//   blocks). Position 0 means "no block" wherever a position is stored.
//
// Every block starts with its u16 kind (MapBlockKind). A free block holds
// {u16 4, u32 next free block}; the chain starts at the header's free head.
//
// Contract: operations answer 1 (true) on success and 0 on failure. Short
// reads and writes, failed seeks and size changes fail without a record on
// the error stack (the object store reports its own error), except where a
// function below says otherwise: a header that does not fit the file is
// refused with kErrMapDamaged pushed, and a block position outside the file
// or off the block grid fails MapBlockRead with kErrMapDamaged, so that a
// damaged file is an error and never a read outside a block.
//
// The per-type-code table: codes 1..72 always use the library's table; a
// file that knows more codes keeps its own table in its MapFile for codes
// above 72 (it never changes what later maps of the process read).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/endian.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/rect.h"

namespace layerio {

// ===== Constants ============================================================

inline constexpr uint32_t kMapMarker = 42424242;
inline constexpr uint32_t kMapMarkerAlt = 45454545;

inline constexpr int kMapFileKind = 5;
inline constexpr int kMapIdFileKind = 6;

inline constexpr int kMapTypeTableSize = 256;
inline constexpr int kMapHeaderOffset = 256;
inline constexpr int kMapHeadSize = 616;
inline constexpr int kMapHeaderLengthV100 = 105;  // versions below 200
inline constexpr int kMapHeaderLengthV200 = 216;  // 200..399
inline constexpr int kMapHeaderLengthV400 = 256;  // 400..499
inline constexpr int kMapHeaderLengthV500 = 312;  // 500..799
inline constexpr int kMapHeaderLengthV800 = 360;  // 800 and up
inline constexpr int16_t kMapVersion = 500;
inline constexpr int16_t kMapVersionExtended = 800;
inline constexpr int16_t kMapBlockSizeDefault = 512;
// Block sizes a file may declare: multiples of 512 up to 16384.
inline constexpr int16_t kMapBlockSizeMin = 512;
inline constexpr int16_t kMapBlockSizeMax = 16384;
inline constexpr uint8_t kMapHighestCode = 72;  // the library's table version
inline constexpr int kMapStyleTableMax = 255;
inline constexpr int kMapStyleNameSize = 32;

// The root rectangle that marks damaged indexes (message 480).
inline constexpr int32_t kMapDamagedRootExtent = 2147483647;

// Error pushed when a file's bytes contradict themselves (a header that does
// not fit, a block position outside the file or off the block grid).
inline constexpr int16_t kErrMapDamaged = 1340;
inline constexpr int kMsgMapIndexesDamaged = 480;

enum MapBlockKind : uint16_t {
  kMapBlockIndex = 1,
  kMapBlockObject = 2,
  kMapBlockCoord = 3,
  kMapBlockFree = 4,
  kMapBlockStyle = 5,
};

// ===== Records ==============================================================

// The loaded style tables: entries are numbered from 1 (index 0 is the
// default style); position is the style position of the entry's record. A
// free entry (use count 0 in the file) has an all-zero body.
struct MapPenEntry {
  uint32_t position;
  uint8_t packed[6];
};
struct MapBrushEntry {
  uint32_t position;
  uint8_t packed[8];
};
struct MapSymbolEntry {
  uint32_t position;
  uint8_t packed[8];
};
struct MapNameEntry {
  uint32_t position;
  char name[kMapStyleNameSize];
};

// The index nodes a map keeps in memory between operations (defined in
// mapfile.cpp).
struct MapNodeCache;

// The open map-object file. Zeroed, then created or opened, used through
// lock and unlock pairs, then closed.
struct MapFile {
  FileHandle file;
  int16_t version;
  int16_t blockSize;
  uint32_t charset;  // of the table's file, else the library default
  uint8_t indexDepth;
  uint8_t precision;
  uint8_t storedUnit;
  uint8_t highestCode;  // 72 when created
  uint8_t penCount;
  uint8_t brushCount;
  uint8_t symbolCount;
  uint8_t nameCount;  // the header's "fonts": names of fonts and custom symbols
  uint8_t styleBlockCount;
  // Owned style tables (MapStylesFree), each with room for kMapStyleTableMax
  // entries once loaded; styleBlocks holds the style-block positions in chain
  // order.
  MapPenEntry* pens;
  MapBrushEntry* brushes;
  MapSymbolEntry* symbols;
  MapNameEntry* names;
  uint32_t* styleBlocks;
  double unitFactor;
  uint32_t rootBlock;
  uint32_t freeHead;
  uint32_t firstStyleBlock;
  uint32_t marker;      // expected in the header
  uint32_t generation;  // raised on every allocation, free and write, and
                        // when another writer's change is detected
  IRect root;           // root rectangle of the spatial index
  uint16_t extension;   // the header carries the version-800 extension
  // 1 when typeTable holds the file's own table (it knows codes above 72);
  // used only for codes above 72.
  uint8_t ownTypeTable;
  uint8_t typeTable[kMapTypeTableSize];
  MapNodeCache* nodes;  // owned; null until the index keeps a node
};

inline constexpr uint32_t kMapHeaderDirty = 1;

// The in-memory header of a map; written back by MapFileUnlock when dirty.
struct MapHeader {
  IRect root;
  IRect second;  // carried unchanged
  uint32_t extensionWords[8];
  uint32_t pointCount;
  uint32_t lineCount;
  uint32_t regionCount;
  uint32_t otherCount;
  uint32_t maxObjectSize;
  uint32_t readWord;  // 4 once read
  CoordSys coordSys;
  uint32_t flags;  // kMapHeaderDirty
  uint8_t extensionBytes[2];  // bytes 313 and 314 of a version-800 header
};

inline constexpr uint32_t kMapSlotInvalid = 1;

// A buffer for one block, owned by its user. bytes points at blockSize bytes
// allocated with the slot.
struct MapBlockSlot {
  uint32_t position;
  uint32_t generation;
  uint32_t flags;     // kMapSlotInvalid
  uint32_t capacity;  // bytes allocated at bytes: the block size at allocation
  uint8_t* bytes;
};

// ===== The per-type-code table ==============================================

// The library's 256-byte table (codes 1..72).
const uint8_t* MapTypeTableLibrary();
// The entry of a code for this map: the library's for 1..72, the file's own
// table above 72 (0 when the file brought none).
uint8_t MapTypeEntry(const MapFile* map, int code);
// Takes the file's table from offset 0 when its highest code is above 72.
int16_t MapTypeTableLoad(MapFile* map);

// ===== Create, open, lock, close ============================================

// kind: -1 for 5, 0 for a temporary file. blockSize: 0 for 512; else a
// multiple of 512 up to 16384.
int16_t MapFileCreate(MapFile* map, MapHeader* header, FileHandle tableFile, int kind,
                      const CoordSys* coordSys, int temporary, int markerSelector,
                      int blockSize = 0);
int16_t MapFileOpen(MapFile* map, MapHeader* header, FileHandle tableFile, int kind,
                    int markerSelector);
// Opens the file for one operation; changed is set when another writer
// changed it since the last open (the header and style tables were read
// again and the slot generation raised).
int16_t MapFileLock(MapFile* map, MapHeader* header, int mode, uint32_t* changed);
int16_t MapFileUnlock(MapFile* map, MapHeader* header);
void MapFileClose(MapFile* map);
int16_t MapFileRemove(MapFile* map);
int16_t MapHeaderRead(MapFile* map, MapHeader* header);
int16_t MapHeaderWrite(MapFile* map, MapHeader* header);
void MapStylesFree(MapFile* map);
// Loads the style tables (defined with the style tables, mapstyles.cpp).
int16_t MapStylesLoad(MapFile* map);

// Adds the file entry of a table's companion of a file kind (5 .MAP, 6
// .ID): the extension takes the letter case of the table's own extension
// (roads.tab gives roads.map), and an existing companion is found ignoring
// case by the open. 0 on failure.
FileHandle MapCompanionAdd(FileHandle tableFile, int kind);

// The process-wide switch that selects the marker 45454545 for tables whose
// marker selector is set; off unless a caller sets it.
void MapSetAltMarkerSwitch(int on);

// ===== Blocks and slots =====================================================

// The first position a block may have: the head rounded up to a block.
uint32_t MapFirstBlockPosition(const MapFile* map);
int16_t MapBlockAlloc(MapFile* map, uint32_t* position);
int16_t MapBlockFree(MapFile* map, uint32_t position);
int16_t MapBlockSlotAlloc(MapFile* map, MapBlockSlot** slot);
void MapBlockSlotFree(MapFile* map, MapBlockSlot** slot);
void MapBlockInit(MapFile* map, MapBlockSlot* slot, uint16_t kind);
int16_t MapBlockRead(MapFile* map, MapBlockSlot* slot, uint32_t position);
int16_t MapBlockWrite(MapFile* map, MapBlockSlot* slot, uint32_t position);

// ===== Index nodes kept in memory ===========================================
//
// The inner nodes of the spatial index are few beside the object blocks, but
// every insert walks them from the root, and the file layer's page cache
// cannot hold them beside the object and coordinate blocks of a large map.
// A map keeps the bytes of the nodes the index reads or writes, up to
// kMapNodeCacheBytes, for as long as the file is unchanged by others:
// MapBlockWrite refreshes a kept block (or drops it when the block is no
// longer a node), MapBlockAlloc and MapBlockFree drop it, and MapFileLock
// drops them all when another writer changed the file.

// Object and coordinate blocks are kept the same way, under a budget of
// their own, when a read takes the blocks around the one it needs: rows are
// read in row order while their objects lie where the index placed them,
// so a table read row by row would otherwise read the file block by block
// in no order at all. Once that budget is spent the oldest of them make
// room, for as long as the blocks kept are read again; reads that find
// none of them go back to single blocks.
inline constexpr size_t kMapNodeCacheBytes = size_t(8) << 20;
inline constexpr size_t kMapDataCacheBytes = size_t(32) << 20;

// The kept bytes of the block at a position, or null.
const uint8_t* MapNodeCacheFind(const MapFile* map, uint32_t position);
// Keeps a copy of a block (blockSize bytes) unless its budget is spent:
// `data` for object and coordinate blocks, else a node.
void MapNodeCacheStore(MapFile* map, uint32_t position, const uint8_t* block, bool data = false);
void MapNodeCacheDrop(MapFile* map, uint32_t position);
// Drops every kept node and frees the cache.
void MapNodeCacheClear(MapFile* map);

// ===== The object index file (.ID) ==========================================
//
// An array of u32, one per row: the entry of row n (from 1) at (n - 1) x 4
// holds the position of the row's object record, 0 for none. Entries past
// the end of the file read as no object.

struct IdFileAccess;
using RowPositionReadFn = int16_t (*)(int32_t row, uint32_t* position, IdFileAccess* handle);
using RowPositionWriteFn = int16_t (*)(int32_t row, uint32_t position, IdFileAccess* handle);

// The entries an accessor keeps in memory (defined in idfile.cpp).
struct IdFileCache;

// The row-to-position accessor that the object store embeds.
struct IdFileAccess {
  FileHandle file;     // the .ID entry, 0 when none
  int mode;            // open mode of the file while it is open, 0 closed
  int32_t lastRow;     // the table's last row (IdFileFlush reaches it)
  RowPositionReadFn read;
  RowPositionWriteFn write;
  IdFileCache* cache;  // owned; null unless IdFileCacheBegin kept entries
};

// Create (open mode 3) or open (mode 1) the table's .ID companion (kind -1:
// 6) and install IdFileRead and IdFileWrite.
// IdFileOpen opens in mode 1 unless a write mode is asked for.
int16_t IdFileCreate(IdFileAccess* access, FileHandle tableFile, int kind = -1);
int16_t IdFileOpen(IdFileAccess* access, FileHandle tableFile, int kind = -1,
                   int mode = kFileModeRead);
// False for rows below 1, for a zero entry and for an entry past the end of
// the file (no object); an entry that cannot be read fails with
// kErrMapDamaged pushed, naming the file.
int16_t IdFileRead(int32_t row, uint32_t* position, IdFileAccess* access);
// The file of an existing map holds one whole entry for each of the table's
// rows (the writers extend it to the last row whenever they close it); a
// file that does not is damaged: 0 with kErrMapDamaged pushed, naming the
// file.
int16_t IdFileCheckSize(IdFileAccess* access, int32_t rows);
int16_t IdFileWrite(int32_t row, uint32_t position, IdFileAccess* access);
// Closes the file and releases its entry.
int16_t IdFileFlush(IdFileAccess* access);
// The file's size as its readers see it (changes kept in memory included);
// -1 when it has no file.
int64_t IdFileSize(const IdFileAccess* access);

// Entries kept in memory across operations. Rows are read and written all
// over the file while an index splits its leaves, and the file layer's
// pages cannot hold a large .ID file beside the map: the accessor keeps
// the file's pages it has seen (up to kIdFileCacheBytes) and its changes,
// which IdFileCacheEnd writes back page by page, adjacent pages in one
// write, before the file is closed. The bytes the file gets are those the
// same writes would have given it one by one.
//
// IdFileCacheBegin follows each open of the file: changed is the open's
// changed flag (another writer changed the file: what was kept is
// forgotten). A file beyond the budget is read and written directly.
inline constexpr size_t kIdFileCacheBytes = size_t(32) << 20;
void IdFileCacheBegin(IdFileAccess* access, bool changed);
// Writes the changed pages back; 0 when a write failed (what was kept is
// then forgotten).
int16_t IdFileCacheEnd(IdFileAccess* access);
// Forgets and frees what was kept, unwritten.
void IdFileCacheFree(IdFileAccess* access);

}  // namespace layerio
