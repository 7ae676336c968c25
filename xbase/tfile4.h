// One tag inside an open index file (TFILE4): its header, its cursor and
// the maintenance of its keys.
//
// Entries are kept in ascending (key, record number) order whatever the
// descending flag says; a descending tag only swaps its ends and turns its
// seeks around. The cursor is the path of blocks from the root to the
// current leaf (block4.h); moves along the leaf level follow the sibling
// pointers. Every operation answers -1 at once while the context holds an
// error.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

// Reads the tag header at headerPos (position units) of the file: the
// fields, the collation, the key expression and filter (parsed against
// data), the key conversions. 0, or the error reported (-310 with the
// header's fault, -910 for a key type without key form). A header with
// type flag 0x80 is the tag directory: no expression, blank pad.
int tfile4init(TFILE4* tag, INDEX4FILE* file, uint32_t headerPos, const char* name, DATA4* data);
// Releases the cursor, the expressions and the key buffer.
void tfile4free(TFILE4* tag);
// The tag's root position (reread from its header when not known), or 0
// with -310 reported.
uint32_t tfile4root(TFILE4* tag);

// ---- the cursor ----
// Physical ends, and the ends in the tag's order (swapped when descending).
int tfile4rlTop(TFILE4* tag);
int tfile4rlBottom(TFILE4* tag);
int tfile4top(TFILE4* tag);
int tfile4bottom(TFILE4* tag);
// The bottom, then one position past the last key of its leaf.
int tfile4goEof(TFILE4* tag);
// Moves n entries in stored order; the number moved, with the sign of n
// (fewer when an end was reached), or an error (below -n... checked with
// the context's error code).
long tfile4skip(TFILE4* tag, long n);
// The first entry whose first len key bytes are not less than key: 0 equal,
// 2 not equal (on a greater key, or past the end). On a descending tag the
// last entry not greater than key: 0, 2, or 3 when none precedes.
int tfile4seek(TFILE4* tag, const void* key, int len);
// The entry (key, rec), in stored order whatever the descending flag: 0
// exact, 1 not present (on the next entry), 3 past the end.
int tfile4go(TFILE4* tag, const unsigned char* key, uint32_t rec);
// The current entry's key (null past the end or without a position).
const unsigned char* tfile4key(TFILE4* tag);
// Its record number: 0 in an empty leaf, -1 past the end, -2 unpositioned.
long tfile4recNo(TFILE4* tag);
int tfile4eof(TFILE4* tag);
// Forgets the cursor.
void tfile4release(TFILE4* tag);

// ---- keys ----
// Adds the entry under a unique mode (0, 20, 25, 15, -340, -360): 0 added,
// 20 or 25 not added, or an error (-340 "Unique Key Error" for -340/-360).
int tfile4add(TFILE4* tag, const unsigned char* key, uint32_t rec, int mode);
// Removes the entry: 0, 5 when it is not there, or an error.
int tfile4remove(TFILE4* tag, const unsigned char* key, uint32_t rec);

// ---- removals held until the commit ----
// Inside a transaction the old key of a unique tag stays in the tag until
// the commit: the changed record is still found by it, and a rollback finds
// the key where it was. The removal waits on the tag's list meanwhile.
//
// Holds the removal of (key, rec): 0, or -920 when the list cannot grow
// (the caller then removes the entry at once).
int tfile4holdRemoval(TFILE4* tag, const unsigned char* key, uint32_t rec);
// Drops a held removal of (key, rec): 1 dropped, 0 none held.
int tfile4dropRemoval(TFILE4* tag, const unsigned char* key, uint32_t rec);
// Before (key, rec) is added: a held removal of the same entry is dropped
// and 1 returned (the entry is in the tag already, nothing to add); a held
// removal of the key for another record is carried out now, so that the
// key is free for rec, and 0 returned; or an error.
int tfile4heldBeforeAdd(TFILE4* tag, const unsigned char* key, uint32_t rec);
// Carries out every held removal (an entry already gone counts as done)
// and empties the list: 0, or the first error.
int tfile4removeHeld(TFILE4* tag);
// Empties the list without touching the tag (after a rollback, a rebuild).
void tfile4forgetHeld(TFILE4* tag);

enum : long {
  E4_TFILE4 = 90158,          // "tfile4...()"
  E4_T4ADD = 90384,
  E4_T4REMOVE = 90386,
  E4_EXPR_TAG_LENGTH = 80181,  // "expression length doesn't match tag length"
  E4_FILTER_LOGICAL = 80183,   // "non-logical filter type invalid"
  E4_OUT_OF_DATE = 80081,      // "S4SINGLE library cannot have out of date index file..."
  E4_BLOCK_SIZE = 80113,       // "block Size too Large for Indexing"
};
