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
