// The block cache and the worker threads as the other layers see them.
// Nothing of the engine's results depends on them; until the cache layer is
// built they do nothing: files are read and written directly and a delayed
// write is written at once.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

int code4optStart(CODE4* c4);
int code4optRestart(CODE4* c4);
int code4optSuspend(CODE4* c4);
int code4optAll(CODE4* c4);
int code4freeBlocks(CODE4* c4);
int d4optimize(DATA4FILE* file, int flag);
int d4optimizeWrite(DATA4FILE* file, int flag);
int file4optimize(FILE4* file, int flag, int cacheClass, int expectedReadSize, void* owner);
int file4optimizeWrite(FILE4* file, int flag);
// Writes (possibly queued to the delayed-write thread): 0, 7 when queued,
// or an error. completion(arg) runs when the write is done.
int file4writeDelay(FILE4* file, uint64_t pos, const void* data, unsigned length,
                    void (*completion)(void*), void* completionArg);
// Refreshes the cache's memory limit before a file is opened or created.
void opt4refreshMemory(CODE4* c4);
// Writes the file's buffered blocks back; with drop, also forgets them.
int opt4fileFlush(FILE4* file, int drop);
// Completes every queued delayed write of the file (written, or discarded).
void opt4fileCompleteWrites(FILE4* file, int discard);
// Starts and stops the worker threads of a context.
void opt4threadsStart(CODE4* c4);
void opt4threadsStop(CODE4* c4);
