// The engine context: its life, the lookups of open files, and the
// large-file switch. Public functions verify the structures they are given
// (code4verify) and do nothing while the context holds an error.
#pragma once

#include "xbase/d4data.h"

// 0 or an error. `reserved` is unused; version must be 6502 and structSize
// 0 or 1611. noThreads 1: no worker threads.
int code4initLow(CODE4* c4, int reserved, long version, long structSize, int noThreads);
// A context on the heap that code4initUndo frees; null on failure.
CODE4* code4allocDefault(int noThreads);
int code4initUndo(CODE4* c4);
int code4initUndoLow(CODE4* c4, int closeFiles);
int code4closeAll(CODE4* c4);
int code4largeOn(CODE4* c4);
// 0 when valid; kinds: 1 context, 2 data handle, 3 field, 0/4/5 index and
// relation structures (context reached through them). Reports -930.
int code4verify(const void* item, int kind, long location);
DATA4* code4data(CODE4* c4, const char* alias, int byFileName = 1);
DATA4FILE* code4dataFileFind(CODE4* c4, uint64_t device, uint64_t inode);
DATA4* code4dataByServerId(CODE4* c4, long serverId);
int code4indexFormat(CODE4* c4);
const char* code4indexExtension(CODE4* c4);
const char* code4memoExtension(CODE4* c4);
// Number of contexts initialised in the process.
int code4initCount();

// Location codes.
enum : long {
  E4_CODE4_CLOSE_ALL = 90113,
  E4_CODE4_INDEX_FORMAT = 90137,
  E4_CODE4_VERIFY = 90294,
};
