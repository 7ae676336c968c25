// Object records of the map-object file: one fixed-length record per object
// in an object block, and for the kinds with variable data a stream of
// values in a chain of coordinate blocks.
//
// Object block (kind 2), little-endian:
//   0  u16 kind 2          2  u16 bytes of records in use (records from 20)
//   4  i32 base x          8  i32 base y   (centre of the first object's bounds)
//   12 u32 first coordinate block of the block's variable data
//   16 u32 coordinate block being filled
//   20 records back to back, each as long as its type code's table entry
// Bytes in use count the records only (the next record goes at 20 + bytes
// in use), so a record at offset o lies in the block's records when 20 <= o
// and o + length <= 20 + bytes in use <= block size. Its position (in the
// .ID file and the index) is the block position plus o.
//
// Coordinate block (kind 3): u16 kind 3, u16 payload bytes in use, u32 next
// block (0 ends the chain), payload from 8. A value of the stream is never
// split: one that does not fit the rest of a block's payload starts the next
// block of the chain.
//
// Every record starts with the u8 code and the u32 row word (bits 0-29 the
// row, bit 30 removed); the layouts of the bodies and of the style tails are
// in maprecord.cpp beside their reader and writer.
//
// The data word of polylines, regions and collection parts holds the bytes
// that the section headers and points take in the stream (value arrays not
// counted), and bit 31 the smooth flag. The reader sizes the object's buffer
// from the decoded section headers, and refuses a record whose headers
// disagree with its data word or pass the limits: at most 24,403,223
// sections and 134,217,724 points in an object.
//
// Slots: every operation that takes an object-block slot and a
// coordinate-block slot needs two distinct slots.
//
// Contract: 1 on success, 0 on failure. A record or chain whose bytes
// contradict themselves pushes kErrMapDamaged; nothing is ever read outside
// the record bytes or a block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maptypes.h"

namespace layerio {

inline constexpr int kMapObjectBlockHead = 20;
inline constexpr int kMapCoordBlockHead = 8;
// A coordinate block with less payload than this left is not started in.
inline constexpr int kMapCoordMinRoom = 12;

inline constexpr uint32_t kMapRowMask = 0x3FFFFFFFu;
inline constexpr uint32_t kMapRowRemoved = 1u << 30;
inline constexpr uint32_t kMapDataSizeMask = 0x3FFFFFFFu;
inline constexpr uint32_t kMapDataSmooth = 1u << 31;

inline constexpr uint32_t kMapMaxSections = 24403223;
inline constexpr uint32_t kMapMaxPoints = 134217724;

// Encode flags.
inline constexpr int kMapEncodeCountUse = 1;  // raise the use count of each style

// Object-block header fields.
struct MapObjectBlockHead {
  uint16_t kind;
  uint16_t used;
  IPoint base;
  uint32_t firstCoord;
  uint32_t currentCoord;
};
void MapObjectBlockHeadRead(const uint8_t* block, MapObjectBlockHead* head);
void MapObjectBlockHeadWrite(uint8_t* block, const MapObjectBlockHead* head);
// Initialises the slot as an empty object block with that base point.
void MapObjectBlockInit(MapFile* map, MapBlockSlot* slot, const IPoint* base);

// Decodes the fixed record (MapCodeLength(record[0]) bytes) into the object,
// which is cleared first (its buffers kept). dataStart receives the start of
// the variable data (0 for codes without). blockBase is the object block's
// base point. With release set every style looked up has its use count
// lowered; a failure there makes the result 0 with the object still filled.
// An unknown code gives 0 with kErrMapDamaged. The counts of sections,
// points and text are those of the record until MapObjectDataRead fills the
// buffers: the object must not be walked or copied in between.
int MapObjectDecode(MapFile* map, const uint8_t* record, GeomObject* object, uint32_t* dataStart,
                    const IPoint* blockBase, int release);

// Reads the variable data of a decoded record through the coordinate chain,
// using slot as the coordinate-block buffer. record is the record's bytes.
// On failure (kErrMapDamaged, or the memory error) the object's counts are
// those of an empty object.
int MapObjectDataRead(MapFile* map, MapBlockSlot* slot, GeomObject* object, int code,
                      const uint8_t* record);

// The number of bytes the variable data of the object takes in the stream
// under a code (values not fitting a block's rest not counted), as the data
// word records it for polylines and regions; texts their length, items their
// bytes. withValues adds the value arrays where the code stores them.
uint64_t MapObjectStreamSize(const GeomObject* object, int code, int withValues);

// Fills the record (MapCodeLength(code) bytes) of the object: code, row word
// (the object's row field), body and tail, styles as indexes found or added
// in the file's tables. dataStart is the start position of the variable data
// that MapObjectDataWrite gave (0 for codes without). blockBase is the
// object block's base point. 0 when a style cannot be stored, or when a
// point, a count or the size does not fit the code. Inline-style codes are
// written too (styles stored whole), though the choice of code never gives
// them.
int MapObjectEncode(MapFile* map, const GeomObject* object, int code, uint8_t* record,
                    const IPoint* blockBase, uint32_t dataStart, int flags);

// Appends the variable data of the object to the coordinate chain of the
// object block held in objectSlot (whose head fields 12 and 16 are updated
// in the slot; the caller writes the object block), allocating coordinate
// blocks as they fill; coordSlot is the coordinate-block buffer. start
// receives the data's start position. Codes without variable data: 1 and 0.
int MapObjectDataWrite(MapFile* map, const GeomObject* object, int code, MapBlockSlot* coordSlot,
                       MapBlockSlot* objectSlot, uint32_t* start);

// Decodes the record at a file position held in objectSlot's block (read
// into it when needed) and, for codes with variable data, reads the data
// through coordSlot. code receives the record's code. The record must lie
// inside the block's records in use.
int MapObjectRecordRead(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                        uint32_t position, GeomObject* object, int* code);

// Writes the object into the object block at blockPosition (read into
// objectSlot): its variable data, then its record at the end of the block's
// records; both blocks are written. position receives the record's position.
// 0 and nothing written when the record does not fit the block (fits is
// then 0) or on failure. The code is chosen with MapObjCodeFor against the
// block's base point.
int MapObjectAppend(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                    uint32_t blockPosition, const GeomObject* object, uint32_t* position,
                    int* fits);

// Called with the object's bounds; an answer of 0 skips reading the variable
// data (the object is filtered out; the row still counts as found).
using MapBoundsFilterFn = int (*)(void* context, const IRect* bounds);

// Reads the object of a row: the position from the row reader; the record
// is checked before it is decoded (an object block; 20 <= offset and
// offset + length <= 20 + bytes in use <= block size; code 1..72; the row
// word equal to the row; the counts against the data words and the limits;
// with readData, the data inside a coordinate block's payload). Without the
// data (readData clear or filtered out) the object's coordinate counts are
// those of an empty object. 1 when the row has a live record; 0 without
// error when it has none (no position, or a record whose row word is
// another, e.g. removed); 0 with kErrMapDamaged pushed when the record or
// its data is damaged. styleFailure (when given) is set when a style lookup
// failed.
int MapObjectReadByRow(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                       int32_t row, int readData, RowPositionReadFn reader,
                       IdFileAccess* handle, MapBoundsFilterFn filter, void* filterContext,
                       GeomObject* object, int* styleFailure);

}  // namespace layerio
