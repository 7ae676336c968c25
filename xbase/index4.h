// Compound index files as the data-file layer sees them: opening and closing
// an index file with a data handle, the tags it holds, seeks, and the moves
// in tag order that d4top, d4bottom and d4skip make when a tag is selected;
// the key maintenance the write paths call; creation and rebuild.
//
// The file format and the decoded blocks are block4.h's; one tag's cursor
// and key maintenance tfile4.h's.
#pragma once

#include "xbase/d4data.h"

INDEX4* i4open(DATA4* data, const char* name);
// The open index file of the data file with this name (null: the production
// index), opened when needed.
INDEX4FILE* index4open(DATA4* data, const char* name, INDEX4* index);
int i4close(INDEX4* index);
// Closes an open index file when its last user goes (the production index
// stays while its data file is open): changed blocks and headers are
// written first.
int index4close(INDEX4FILE* file);
TAG4* i4tag(INDEX4* index, const char* name);
const char* i4fileName(INDEX4* index);
const char* t4alias(TAG4* tag);
int t4unique(TAG4* tag);
// An index open on the handle by name (null or empty: the production
// index), compared case-insensitively on full names; null, no error.
INDEX4* d4index(DATA4* data, const char* name);
// Opens the production index of a freshly opened handle: 0, or an error.
int d4openProductionIndex(DATA4* data);
// Writes back and forgets the blocks every tag of the handle holds: 0 or -1.
int d4freeBlocks(DATA4* data);

// Seeks the selected (or default) tag: 0 found, 2 positioned after, 3 end
// of file, 80 no tag, or an error. The record found is read.
int d4seek(DATA4* data, const char* text);
int d4seekN(DATA4* data, const char* text, int length);

// Moves in the selected tag's order.
int d4topTag(DATA4* data, TAG4* tag);
int d4bottomTag(DATA4* data, TAG4* tag);
int d4skipTag(DATA4* data, TAG4* tag, long n);

enum : long {
  E4_I4CLOSE = 90160,
  E4_INDEX4CLOSE = 90161,
  E4_I4OPEN = 90165,
  E4_INDEX4OPEN = 90166,
  E4_I4TAG = 90168,
  E4_I4FILE_NAME = 90179,
  E4_T4UNIQUE = 90155,
  E4_T4ALIAS = 90156,
  E4_D4SEEK_N = 90243,
  E4_D4SEEK = 90247,
  E4_D4FREE_BLOCKS = 90250,
  E4_D4INDEX = 90251,
  E4_D4REINDEX = 90252,
  E4_ROOT_TYPE = 80099,         // "root <= 0L, or typeCode < 32"
  E4_I4CLOSE_TRANSACTION = 80075,
};

// ---- key maintenance ----
// The write paths walk every tag of the data handle with these. Keys are
// built into a caller's buffer of k4keyBufferSize bytes.
constexpr unsigned k4keyBufferSize = 512;
// The tag's key of the data handle's current record buffer: its length, or
// negative. *passes: 1 when the record passes the tag's filter (a tag
// without filter passes every record).
int t4keyCalc(TAG4* tag, unsigned char* key, int* passes);
// Adds the entry (key, rec) under the tag's unique mode: 0, 20 or 25 (not
// added), or an error (-340 among them).
int t4addKey(TAG4* tag, const unsigned char* key, long rec);
// Removes the entry (key, rec): 0, 5 when it is not there, or an error.
int t4removeKey(TAG4* tag, const unsigned char* key, long rec);

// ---- creation and rebuild ----
// Creates an index file with the tags (name null: the production index);
// on failure no file is left behind.
INDEX4* i4create(DATA4* data, const char* name, const TAG4INFO* tags);
// Adds tags to an open index file: 0, 20, or an error.
int i4tagAdd(INDEX4* index, const TAG4INFO* tags);
// Rebuilds every tag of the index from the data file: 0, 20 or an error.
int i4reindex(INDEX4* index);
// Rebuilds every index of the handle: 0, 20 or an error.
int d4reindex(DATA4* data);
// The definitions of the index's tags, ended by a zeroed entry; the caller
// frees the array (the texts stay the tags').
TAG4INFO* i4tagInfo(INDEX4* index);

enum : long {
  E4_I4REINDEX = 90197,
  E4_R4REINDEX = 90198,
  E4_I4CREATE = 90381,
  E4_I4TAG_INFO = 90390,
  E4_I4ADD_ONE_TAG = 90175,
  E4_I4TAG_ADD = 90176,
  E4_INDEX_OPEN_ALREADY = 80089,  // "index file already open"
  E4_CREATING_TAG = 80111,        // "error creating tag"
  E4_UNIQUE_FLAG = 80193,         // "invalid unique flag data"
  E4_DESCENDING_FLAG = 80194,
  E4_TAG_EXPR_MISSING = 80195,
  E4_SOURCE_LENGTH = 80196,
};
