// The compound index file's blocks: the one reader and writer of their bytes,
// and the blocks an open index file keeps decoded in memory.
//
// File layout (all integers little-endian unless said big-endian):
// - offset 0, 1024 bytes: the file header, which is the header of the tag
//   directory (a B-tree whose keys are the tag names, blank-padded to 10
//   bytes, and whose record numbers are the tag headers' positions);
// - tag headers of 1024 bytes (512 bytes of fields, then a 512-byte pool
//   with the key expression and the filter, each ended by a zero byte);
// - blocks of the block size (512 unless the file header's marker 0xABCD
//   at offset 16 gives the block size at 20 and the position multiplier at
//   24). Positions stored in the file are byte offsets divided by the
//   multiplier.
// Header fields: 0 root, 4 free-list head (file header only), 8 version
// (big-endian), 12 key length (u16), 14 type flags, 15 signature, 494
// collation name (8 bytes), 502 descending, 504 filter position, 506 filter
// length, 508 expression position, 510 expression length (u16 each).
//
// Block: 0 attribute (u16: bit 1 root, bit 2 leaf; 2 or more is a leaf), 2
// key count, 4 left sibling, 8 right sibling (0xFFFFFFFF: none).
// - Branch: from 12, entries of key length + 8 bytes: the key, the record
//   number (big-endian) and the child position (big-endian). An entry holds
//   the greatest key of its child's subtree.
// - Leaf: 12 free space (u16), 14 record-number mask (u32), 18 duplicate
//   mask, 19 trailing mask, 20 record-number bits, 21 duplicate bits, 22
//   trailing bits, 23 info length; from 24 one info entry per key (a
//   little-endian integer: record number, duplicate count, trailing count
//   from the lowest bit up), and the key bytes packed from the block end
//   backwards. Key i is the first d bytes of key i-1, its stored bytes, and
//   t pad bytes (blank for character keys without collation, else zero).
//
// In memory every block is decoded: its keys are held whole, so that seeks,
// inserts and removals work on plain arrays; a changed block is encoded
// again when it is written. Every block read is checked against the block
// and the file (counts, geometry, compression, child and sibling
// positions): a damaged block is the index-corruption error (-310), never a
// read outside the block.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

constexpr unsigned k4headerLen = 1024;
constexpr unsigned k4poolLen = 512;
constexpr uint32_t k4noBlock = 0xFFFFFFFF;
constexpr int k4maxDepth = 40;
constexpr int k4tagNameLen = 10;
constexpr uint16_t k4blockMarker = 0xABCD;

struct BLOCK4 {
  LINK4 link;  // in the cache's least-recently-used ring
  BLOCK4* hashNext;
  TFILE4* tag;
  uint32_t position;  // in position units
  int changed;
  int pins;   // held by a tag's path or by the operation at work
  int keyOn;  // the entry the cursor is on
  uint16_t attribute;
  int nKeys;
  uint32_t left, right;
  // leaf geometry
  uint8_t recBits, dupBits, trailBits, infoLen;
  long storedBytes;  // leaf: key bytes stored after compression
  int capacity;      // entries the arrays hold
  unsigned char* keys;  // capacity x key length
  uint32_t* recs;
  uint32_t* children;  // branch child positions
  long bytes;          // memory held
};

inline bool b4leaf(const BLOCK4* b) { return b->attribute >= 2; }
inline unsigned char* b4key(const BLOCK4* b, int i) { return b->keys + long(i) * b->tag->keyLen; }
inline uint32_t b4lastRec(const BLOCK4* b) { return b->nKeys > 0 ? b->recs[b->nKeys - 1] : 0; }

// Geometry of a fresh leaf for record numbers up to maxRec.
void b4leafInit(BLOCK4* b, int keyLen, uint32_t maxRec);
// Widens a leaf by 8 record-number bits (and one info byte) at a time until
// rec fits; false when it is already at 32 bits.
bool b4widen(BLOCK4* b, uint32_t rec);
// Room for n entries: 0 or -920 (reported).
int b4reserve(BLOCK4* b, int n);
// Frees the entries' memory.
void b4release(BLOCK4* b);
// Trailing pad bytes of a key as the tag stores them.
int b4trail(const TFILE4* tag, const unsigned char* key);
// Stored bytes of leaf entry i against entry i-1.
long b4stored(const BLOCK4* b, int i);
// Bytes the leaf takes encoded.
long b4leafSize(const BLOCK4* b);
// Recounts a leaf's stored bytes.
void b4recount(BLOCK4* b);
// Entry i made (key, rec, child); entries from i on move up. Needs room.
void b4insertEntry(BLOCK4* b, int i, const unsigned char* key, uint32_t rec, uint32_t child);
void b4removeEntry(BLOCK4* b, int i);
// Whether the block holds more than one block may.
bool b4overfull(const BLOCK4* b, unsigned blockSize);

// Decodes a block image of the tag; 0, or -1 for a damaged block (not
// reported). fileUnits: the file length in position units.
int b4decode(BLOCK4* b, const unsigned char* image, unsigned blockSize, uint32_t fileUnits,
             unsigned multiplier);
void b4encode(const BLOCK4* b, unsigned char* image, unsigned blockSize);

// ---- the blocks of an open index file ----
int index4cacheInit(INDEX4FILE* file);
// Forgets every block (nothing is written).
void index4cacheFree(INDEX4FILE* file);
inline uint64_t index4offset(const INDEX4FILE* file, uint32_t pos) {
  return uint64_t(pos) * file->multiplier;
}
// The block at pos of the tag, read and checked when not in memory; null
// with the error reported (-310 for a damaged block).
BLOCK4* index4blockRead(INDEX4FILE* file, TFILE4* tag, uint32_t pos);
// A new block of the tag (from the free list, or at the end of the file):
// an empty leaf of fresh geometry, or an empty branch; null on failure.
BLOCK4* index4blockNew(INDEX4FILE* file, TFILE4* tag, int leaf);
// Puts the block on the free list (its first 4 bytes are written at once).
int index4blockFree(INDEX4FILE* file, BLOCK4* block);
int index4blockWrite(INDEX4FILE* file, BLOCK4* block);
// Rewrites a sibling pointer of the block at pos (in memory when the block
// is there, else the 4 bytes at once). which: 4 left, 8 right.
int index4siblingSet(INDEX4FILE* file, TFILE4* tag, uint32_t pos, int which, uint32_t value);
// Writes the changed blocks (of one tag, or all when tag is null).
int index4blocksWrite(INDEX4FILE* file, TFILE4* tag);
// Writes the changed blocks of the tag and forgets all of them.
int index4blocksDrop(INDEX4FILE* file, TFILE4* tag);
// Keeps the decoded blocks within their budget; the blocks on a path stay.
// Called where no operation holds a block.
int index4trim(INDEX4FILE* file);
// Fresh leaf geometry for a block of the file (record numbers up to the
// data file's count; tag-header positions for the directory).
void index4leafFresh(INDEX4FILE* file, BLOCK4* b);
void b4pin(BLOCK4* b);
void b4unpin(BLOCK4* b);
// The change counter of the file (written big-endian with the header).
void index4changed(INDEX4FILE* file);
// Writes the file header's first 16 bytes when they changed, and every
// tag's root when it changed.
int index4headerWrite(INDEX4FILE* file);
// Flushes the file: changed blocks, then the headers.
int index4flush(INDEX4FILE* file);

enum : long {
  E4_CORRUPT_BLOCK = 80000,  // "corrupt index block"
  E4_INDEX4EXTEND = 90162,
  E4_INDEX4FLUSH = 90163,
  E4_I4READ_BLOCK = 90149,
};
