// Compound index files as the data-file layer sees them: opening and closing
// an index file with a data handle, the tags it holds, and the moves in tag
// order that d4top, d4bottom and d4skip make when a tag is selected.
//
// The index format itself (blocks, keys, seeks) is filled in by the index
// layer; until then an index file opens as a file with no tags read from it.
#pragma once

#include "xbase/d4data.h"

INDEX4* i4open(DATA4* data, const char* name);
// The open index file of the data file with this name (null: the production
// index), opened when needed.
INDEX4FILE* index4open(DATA4* data, const char* name, INDEX4* index);
int i4close(INDEX4* index);
int index4close(INDEX4FILE* file);
TAG4* i4tag(INDEX4* index, const char* name);
const char* i4fileName(INDEX4* index);
const char* t4alias(TAG4* tag);
int t4unique(TAG4* tag);
INDEX4* d4index(DATA4* data, const char* name);
// Opens the production index of a freshly opened handle: 0, or an error.
int d4openProductionIndex(DATA4* data);

// Moves in the selected tag's order (index layer).
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
};

// ---- key maintenance (index layer) ----
// The write paths walk every tag of the data handle with these; while no tag
// is open they are never reached. Keys are built into a caller's buffer of
// k4keyBufferSize bytes.
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

// ---- creation and rebuild (index layer) ----
// Creates an index file with the tags (name null: the production index).
INDEX4* i4create(DATA4* data, const char* name, const TAG4INFO* tags);
// Rebuilds every tag of the index from the data file: 0, 20 or an error.
int i4reindex(INDEX4* index);
// The definitions of the index's tags, ended by a zeroed entry; the caller
// frees the array (the texts stay the tags').
TAG4INFO* i4tagInfo(INDEX4* index);

enum : long {
  E4_I4REINDEX = 90197,
  E4_I4CREATE = 90381,
  E4_I4TAG_INFO = 90390,
};
