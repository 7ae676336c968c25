// Memo files: the contents of memo fields live beside the data file in a file
// of fixed-size blocks (extension "fpt"); the record keeps the number of the
// entry's first block (0: no memo).
//
// File layout (big-endian): offset 0 the next free block (u32), offset 6 the
// block size (u16), the header fills the first 512 bytes. Block n starts at
// n x block size; an entry is an 8-byte header {type u32 (1 text), length
// u32} followed by its bytes, and takes ceil((length + 8) / block size)
// blocks. Replaced contents are rewritten in place when they fit the blocks
// the entry holds; otherwise a new entry is appended and the old blocks are
// abandoned.
//
// Every number read from a memo file is checked against the file: an entry
// that lies outside the file or claims more than k4memoMaxLen bytes is the
// memo-corruption error (-1110), never a wild allocation or read.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

// The largest memo an assignment takes and a read believes.
constexpr uint32_t k4memoMaxLen = 0xFFFFFF7Fu;

int memo4fileOpen(MEMO4FILE* memo, DATA4FILE* data, const char* name);
int memo4fileClose(MEMO4FILE* memo);
// Creates the memo file of a data file: the name takes the extension "fpt";
// the block size is the context's memSizeBlock. 0, 60 (quiet failure) or an
// error.
int memo4fileCreate(MEMO4FILE* memo, CODE4* c4, DATA4FILE* data, const char* name);
// The block size in bytes (a stored 0 counts as 1).
uint32_t memo4blockSize(const MEMO4FILE* memo);
// Reads at most `maximum` bytes of the entry at `block` from `offset`. In:
// *length is the capacity of *contents (0: nothing allocated); when more is
// needed the old contents are freed and length + 2 bytes allocated. Out:
// *length the bytes read, *type the entry type. Block below 1: length 0.
// 0, -1, -920 or -1110.
int memo4fileRead(MEMO4FILE* memo, long block, char** contents, uint32_t* length, uint32_t offset,
                  uint32_t maximum, uint32_t* type);
// Writes an entry of type 1; *block in: the entry held so far (0: none), out:
// the entry written (0 for empty contents). 0 or an error.
int memo4fileWrite(MEMO4FILE* memo, long* block, const char* data, uint32_t length);
// Writes `part` bytes of an entry of `total` bytes; a nonzero offset
// continues an entry written before.
int memo4fileWritePart(MEMO4FILE* memo, long* block, const char* data, uint32_t total,
                       uint32_t offset, uint32_t part, uint32_t type);

// ---- memo fields ----
// The contents are always followed by two zero bytes, so f4memoPtr is a C
// string. A field that is not a memo field answers its record bytes.
int f4memoAssign(FIELD4* field, const char* text);
int f4memoAssignN(FIELD4* field, const char* text, unsigned length);
int f4memoRead(FIELD4* field);
unsigned f4memoLen(FIELD4* field);
char* f4memoPtr(FIELD4* field);
int f4memoFree(FIELD4* field);
// Writes assigned contents back to the memo file and the field's block
// number into the record buffer: 0 or an error.
int f4memoWrite(FIELD4* field);
// Forgets a memo field's contents (the allocation is kept for the next read).
void f4memoReset(FIELD4* field);
// Forgets every memo field's contents of the handle.
void d4memoReset(DATA4* data);
// Frees the memo contents of the handle (close).
void d4memoFree(DATA4* data);

enum : long {
  E4_F4MEMO_ASSIGN = 90031,
  E4_F4MEMO_ASSIGN_N = 90032,
  E4_F4MEMO_FREE = 90034,
  E4_F4MEMO_LEN = 90035,
  E4_F4MEMO_PTR = 90037,
  E4_F4MEMO_READ = 90038,
  E4_F4MEMO_READ_LOW = 90039,
  E4_F4MEMO_WRITE = 90044,
  E4_MEMO4FILE_CREATE = 90377,
  E4_MEMO4FILE_WRITE_PART = 90378,
  E4_MEMO4FILE_READ = 90380,
  E4_MEMO_NOT_OPEN = 80036,
  E4_MEMO_SIZE = 80189,
  E4_MEMO_CORRUPT = 80190,
};
