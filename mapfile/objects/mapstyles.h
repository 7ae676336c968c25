// Style tables of a map-object file: pens, brushes, symbols and names kept in
// a chain of style blocks, loaded into four tables of at most 255 entries that
// object records point into by a one-byte index (0: the default style).
//
// Style block (block kind 5), little-endian:
//   0   u16  kind 5
//   2   u16  bytes of records in use (from offset 8)
//   4   u32  position of the next style block, 0 ends the chain
//   8        style records, back to back
//
// Style record:
//   0   u8   sort: 1 pen, 2 brush, 3 name, 4 symbol
//   1   u32  use count: the object records that refer to it; 0 is a free record
//   5        body: pen 6 bytes, brush 8, name 32 (zero-terminated, zero-padded),
//            symbol 8 (the compact records of styles.h)
// so a pen record is 11 bytes, a brush 13, a name 37 and a symbol 13.
//
// A record is addressed by its style position: (number of its block in the
// chain, from 0) x block size + 8 + its offset among the records. The file
// offset is the position of that block plus the remainder.
//
// Tables: entry i (from 1) holds the style position and the packed body of the
// i-th record of its sort in chain order. A record whose use count is 0 loads
// as a free entry: all-zero body and marked free. A free entry never matches a
// search (an all-zero body is also a real style, e.g. the empty font name); it
// is only reused, when its table is full, by rewriting its record.
//
// All operations answer 1 on success and 0 on failure; a damaged block or
// record pushes kErrMapDamaged (mapfile.h) with the map's file name. Nothing
// here writes the header: the counts and the first style block live in the
// MapFile record, which the header writer takes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/styles.h"

namespace layerio {

inline constexpr int kMapStyleBlockHead = 8;
inline constexpr int kMapStyleRecordHead = 5;  // sort and use count

enum MapStyleSort : uint8_t {
  kMapStyleSortPen = 1,
  kMapStyleSortBrush = 2,
  kMapStyleSortName = 3,
  kMapStyleSortSymbol = 4,
};

inline constexpr int kMapPenBodySize = 6;
inline constexpr int kMapBrushBodySize = 8;
inline constexpr int kMapNameBodySize = 32;
inline constexpr int kMapSymbolBodySize = 8;

// The record length of a sort (head and body); 0 for an unknown sort.
int MapStyleRecordLength(uint8_t sort);

// A table entry whose record has use count 0 carries this bit in its style
// position (positions stay far below it: at most 255 blocks of 16384 bytes).
inline constexpr uint32_t kMapStyleEntryFree = 0x80000000u;

// A style record as MapStyleRecordAdd takes it: the sort and its body (the
// first MapStyleRecordLength(sort) - 5 bytes are used).
struct MapStyleRecord {
  uint8_t sort;
  uint8_t body[kMapNameBodySize];
};

// Reads every style block of the chain (each must be of kind 5, its records
// whole and of known sorts, at most 255 of each sort, at most 255 blocks, no
// block twice) and fills the four tables and the block positions, replacing
// what the map held. The counts become those of the chain; a chain that holds
// fewer records of a sort than the header counts, or fewer blocks, is damaged.
int16_t MapStylesLoad(MapFile* map);

// Adds change (+1 or -1) to the use count of the record at a style position,
// not below 0, and writes it back; the new count in newCount when given.
int16_t MapStyleUseCount(MapFile* map, uint32_t position, int change, uint32_t* newCount);

// Appends a record with use count 1 to the last style block, or to a new one
// when it does not fit; its style position in position.
int16_t MapStyleRecordAdd(MapFile* map, const MapStyleRecord* record, uint32_t* position);

// Find or add: the index of an entry equal to the style (0 for a pen or brush
// equal to the default), raising its use count when countUse is set; else a
// new entry and record; when the table is full, a free entry rewritten with
// the style, else (pens, brushes, symbols) the most similar entry when it
// scores above the default, else 0. A full name table without a free entry
// gives 0. Font names and custom-symbol file names share the name table.
int16_t MapPenIndex(MapFile* map, const PenStyle* pen, uint8_t* index, int countUse);
int16_t MapBrushIndex(MapFile* map, const BrushStyle* brush, uint8_t* index, int countUse);
int16_t MapSymbolIndex(MapFile* map, const SymbolStyle* symbol, uint8_t* index, int countUse);
int16_t MapNameIndex(MapFile* map, const char* name, uint8_t* index, int countUse);
int16_t MapCustomNameIndex(MapFile* map, const char* name, uint8_t* index, int countUse);

// The entry at an index unpacked; index 0, an index beyond the table and a
// free entry give the default (the default pen, brush and symbol of
// StyleDefaults(), the name "Helvetica"). With release set the record's use
// count is lowered by one; at 0 the entry becomes free. A symbol lookup fills
// shape, size and colour and leaves the other fields as they were. Names are
// 32 bytes. MapCustomNameLookup leaves out unchanged for index 0 or beyond.
int16_t MapPenLookup(MapFile* map, uint8_t index, PenStyle* out, int release);
int16_t MapBrushLookup(MapFile* map, uint8_t index, BrushStyle* out, int release);
int16_t MapSymbolLookup(MapFile* map, uint8_t index, SymbolStyle* out, int release);
int16_t MapNameLookup(MapFile* map, uint8_t index, char* out, int release);
int16_t MapCustomNameLookup(MapFile* map, uint8_t index, char* out, int release);

// Similarity of two styles, used when a full table maps a new style onto a
// stored one: pens 3000 for two pattern-1 pens, else 1000 for equal patterns
// plus the colour similarity plus 1000 x smaller / larger width when both are
// pixel or both point widths; brushes 3000 for two pattern-1 brushes, else
// 1000 for equal patterns plus the foreground similarity plus the background
// similarity (1000 for two pattern-2 brushes); symbols the colour similarity
// plus 1000 x smaller / larger size plus 1000 for equal shapes.
int32_t MapPenSimilarity(const PenStyle* a, const PenStyle* b);
int32_t MapBrushSimilarity(const BrushStyle* a, const BrushStyle* b);
int32_t MapSymbolSimilarity(const SymbolStyle* a, const SymbolStyle* b);

}  // namespace layerio
