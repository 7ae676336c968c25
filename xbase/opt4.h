// The block cache and the two worker threads as the other layers see them.
// Nothing of the engine's results depends on them: they make it fast.
//
// The cache keeps blocks of the context's buffered files in memory (sized by
// memStartMax, cacheBlockSize and cacheBufferSize when it starts); with
// write-behind a buffered file's writes stay in the cache until it is
// flushed, closed or taken out. The delayed-write thread writes queued
// writes (file4writeDelay answers 7, and the caller keeps its bytes until
// the completion has run); the read-ahead thread fills read-ahead buffers.
// Without the threads everything happens at once on the caller's thread.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

// Starts the cache (code4optRestart), then code4freeBlocks: 0 or negative.
int code4optStart(CODE4* c4);
// Sizes and allocates the cache and buffers every open buffered file: 0, or
// -1 when no cache could be had (it stays off, nothing reported).
int code4optRestart(CODE4* c4);
// Writes every buffered file back and frees the cache: 0 or -620.
int code4optSuspend(CODE4* c4);
int code4optAll(CODE4* c4);
int code4freeBlocks(CODE4* c4);
int d4optimize(DATA4FILE* file, int flag);
int d4optimizeWrite(DATA4FILE* file, int flag);
// flag 1/-1 buffers the file in class 1 data, 2 index, 3 other; 0 takes it
// out (written back). A file past 4 GB is never buffered.
int file4optimize(FILE4* file, int flag, int cacheClass, int expectedReadSize, void* owner);
// Write-behind on (1/-1) or off (0, written back).
int file4optimizeWrite(FILE4* file, int flag);
// Writes (possibly queued to the delayed-write thread): 0, 7 when queued,
// or an error. completion(arg) runs when the write is done.
int file4writeDelay(FILE4* file, uint64_t pos, const void* data, unsigned length,
                    void (*completion)(void*), void* completionArg);
// Completes the file's queued writes: written (doWrite 1) or dropped.
int file4writeDelayFlush(FILE4* file, int doWrite);
// Queues a read for the read-ahead thread; without it nothing is queued. 0
// or -920. completion(arg, bytes read or -1) runs on that thread.
int file4readAheadQueue(FILE4* file, uint32_t pos, void* buffer, unsigned length,
                        void (*completion)(void*, long), void* completionArg);
// Announces a read of at most one block that will come soon.
void file4advanceRead(FILE4* file, uint32_t pos, unsigned length);
// Refreshes the cache's memory limit before a file is opened or created.
void opt4refreshMemory(CODE4* c4);
// Writes the file's buffered blocks back; with drop, also forgets them.
int opt4fileFlush(FILE4* file, int drop);
// Completes every queued delayed write of the file (written, or discarded).
void opt4fileCompleteWrites(FILE4* file, int discard);
// Takes a closing file out of the cache and its read-aheads off the queue.
void opt4fileClose(FILE4* file);
// Starts and stops the worker threads of a context; stopping drains the
// queues first.
void opt4threadsStart(CODE4* c4);
void opt4threadsStop(CODE4* c4);
// Writes everything back and frees the cache at the context's end.
void opt4initUndo(CODE4* c4);

// Location codes.
enum : long {
  E4_FILE4_WRITE_DELAY = 90080,
  E4_FILE4_OPTIMIZE = 90072,
  E4_FILE4_OPTIMIZE_WRITE = 90073,
  E4_CODE4_OPT_START = 90207,
  E4_CODE4_OPT_RESTART = 90208,
  E4_CODE4_OPT_SUSPEND = 90209,
  E4_D4OPTIMIZE = 90210,
  E4_D4OPTIMIZE_WRITE = 90211,
  E4_OPT4 = 90212,
  E4_CODE4_FREE_BLOCKS = 90213,
  E4_CODE4_OPT_ALL = 90215,
};
