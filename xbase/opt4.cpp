// Without the block cache and the worker threads: files are read and written
// directly, a delayed write is written at once, and there is nothing to
// flush back or wait for.
#include "xbase/opt4.h"

#include "xbase/error4.h"
#include "xbase/file4.h"

int code4optStart(CODE4* c4) { return c4 ? 0 : error4(nullptr, e4parmNull, 90207); }
int code4optRestart(CODE4* c4) { return c4 ? 0 : error4(nullptr, e4parmNull, 90208); }
int code4optSuspend(CODE4* c4) { return c4 ? 0 : error4(nullptr, e4parmNull, 90209); }
int code4optAll(CODE4* c4) { return c4 ? 0 : error4(nullptr, e4parmNull, 90215); }
int code4freeBlocks(CODE4* c4) { return c4 ? 0 : error4(nullptr, e4parmNull, 90213); }
int d4optimize(DATA4FILE*, int) { return 0; }
int d4optimizeWrite(DATA4FILE*, int) { return 0; }

int file4optimize(FILE4* file, int flag, int cacheClass, int, void*) {
  if (flag < -1 || flag > 1 || cacheClass < 0 || cacheClass > 3) {
    return error4(file ? file->codeBase : nullptr, e4parm, 90072);
  }
  return 0;
}

int file4optimizeWrite(FILE4* file, int flag) {
  if (flag < -1 || flag > 1) return error4(file ? file->codeBase : nullptr, e4parm, 90073);
  return 0;
}

int file4writeDelay(FILE4* file, uint64_t pos, const void* data, unsigned length,
                    void (*completion)(void*), void* completionArg) {
  int rc = file4write(file, pos, data, length);
  if (completion) completion(completionArg);
  return rc;
}

void opt4refreshMemory(CODE4*) {}
int opt4fileFlush(FILE4*, int) { return 0; }
void opt4fileCompleteWrites(FILE4*, int) {}
void opt4threadsStart(CODE4*) {}
void opt4threadsStop(CODE4*) {}
