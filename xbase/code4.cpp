#include "xbase/code4.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/env.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"

namespace {

constexpr const char* kBadStructure = "Function was Passed an Invalid Structure Pointer";

// Process-wide: how many contexts are initialised, and the large-file stamp.
struct ProcessState {
  std::mutex lock;
  int contexts = 0;
  bool largeStamp = false;
};

ProcessState& Process() {
  static ProcessState* state = new ProcessState;
  return *state;
}

void SetDefaults(CODE4* c4) {
  c4->autoOpen = 1;
  c4->reportOpenFailure = 1;
  c4->reportCreateFailure = 1;
  c4->fieldNameError = 1;
  c4->offError = 0;
  c4->tagNameError = 1;
  c4->goError = 1;
  c4->skipError = 1;
  c4->exprError = 1;
  c4->singleOpen = 1;
  c4->readOnly = 0;
  c4->logOpen = 1;
  c4->compatibility = k4dialectDbase3;
  c4->recCountCheck = 0;
  c4->doubleField = 0;
  c4->removeOnClose = 0;
  c4->createTemp = 0;
  c4->createNewOnly = 1;
  c4->writeThrough = 0;
  c4->tempAutoRemove = 0;
  std::memcpy(c4->dateFormat, "MM/DD/YY", 9);
  c4->memSizeBuffer = 32768;
  c4->memSizeSortPool = 61440;
  c4->memSizeSortBuffer = 32768;
  c4->memStartMax = 0xF0000;
  c4->memSizeBlock = 512;
  c4->memSizeMemo = 512;
  c4->memSizeMemoExpr = 1024;
  c4->memStartData = 10;
  c4->memExpandData = 5;
  c4->memStartDataFile = 5;
  c4->memExpandDataFile = 5;
  c4->memStartIndex = 10;
  c4->memExpandIndex = 5;
  c4->memStartIndexFile = 5;
  c4->memExpandIndexFile = 5;
  c4->memStartTag = 10;
  c4->memExpandTag = 5;
  c4->memStartBlock = 10;
  c4->memExpandBlock = 5;
  c4->indexBlockSize = 512;
  c4->indexMultiplier = 1;
  c4->errDefaultUnique = r4uniqueContinue;
  c4->collatingSequence = 0;
  c4->collatingSequenceWide = 0;
  c4->cacheBlockSize = 1024;
  c4->cacheBufferSize = 32768;
  c4->memoryPercent = 10;
  c4->optimizeDefault = -1;
  c4->optimizeWriteDefault = -1;
  c4->lockAttempts = -1;
  c4->lockAttemptsSingle = -1;
  // The cache may take a tenth of the memory that is free, up to 50,000,000 bytes.
  uint64_t available = platform::Env::Current().AvailableMemory();
  if (available > 0) {
    uint64_t share = available / 100 * uint64_t(c4->memoryPercent);
    if (share > 50000000) share = 50000000;
    if (share > 0) c4->memStartMax = long(share);
  }
}

// The context a structure of the given kind reaches, or null.
const CODE4* ContextOf(const void* item, int kind) {
  switch (kind) {
    case 1: return static_cast<const CODE4*>(item);
    case 0: return static_cast<const INDEX4*>(item)->codeBase;
    case 4: {
      const INDEX4* index = static_cast<const TAG4*>(item)->index;
      return index ? index->codeBase : nullptr;
    }
    default: return nullptr;
  }
}

}  // namespace

int code4initLow(CODE4* c4, int /*reserved*/, long version, long structSize, int noThreads) {
  if (c4 == nullptr) return error4(nullptr, e4parm, E4_NO_LOCATION);
  if (version != k4version) {
    std::memset(static_cast<void*>(c4), 0, sizeof(CODE4));
    char library[40], headers[40];
    std::snprintf(library, sizeof library, "Library: %ld", k4version);
    std::snprintf(headers, sizeof headers, "Headers: %ld", version);
    c4->errorCode = e4version;
    return error4describe(nullptr, e4version, E4_NO_LOCATION, library, headers, nullptr);
  }
  if (structSize != 0 && structSize != k4structSize) {
    std::memset(static_cast<void*>(c4), 0, sizeof(CODE4));
    char library[48], header[48];
    std::snprintf(library, sizeof library, "Library struct size: %ld", k4structSize);
    std::snprintf(header, sizeof header, "Header struct size: %ld", structSize);
    c4->errorCode = e4verify;
    return error4describe(nullptr, e4verify, E4_STRUCT_SIZE, library, header, nullptr);
  }
  std::memset(static_cast<void*>(c4), 0, sizeof(CODE4));
  SetDefaults(c4);
  c4->stamp = k4validStamp;
  c4->logFile.handle = -1;
  mem4init();
  {
    ProcessState& process = Process();
    std::lock_guard<std::mutex> hold(process.lock);
    process.contexts++;
    if (process.largeStamp) c4->largeFileLimit = 0x3FFFFFFF;
  }
  c4->threadsAllowed = noThreads == 1 ? 0 : 1;
  if (c4->threadsAllowed) opt4threadsStart(c4);
  c4->initialised = 1;
  return 0;
}

CODE4* code4allocDefault(int noThreads) {
  auto* c4 = static_cast<CODE4*>(u4alloc(sizeof(CODE4)));
  if (c4 == nullptr) return nullptr;
  if (code4initLow(c4, 0, k4version, k4structSize, noThreads) != 0) {
    u4free(c4);
    return nullptr;
  }
  c4->didAlloc = 1;
  return c4;
}

int code4initUndo(CODE4* c4) { return code4initUndoLow(c4, 1); }

int code4initUndoLow(CODE4* c4, int closeFiles) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_INIT_UNDO);
  if (!c4->initialised) return 0;
  if (code4verify(c4, 1, E4_CODE4_INIT_UNDO)) return e4parm;
  c4->errorCode = 0;
  code4tranInitUndo(c4);
  if (closeFiles) code4closeAll(c4);
  expr4initUndo(c4);
  // Files still open are written back; the threads drain their queues
  // before they end.
  opt4initUndo(c4);
  if (c4->threadsAllowed) opt4threadsStop(c4);
  for (MEM4** pool : {&c4->dataMemory, &c4->dataFileMemory, &c4->indexMemory,
                      &c4->indexFileMemory, &c4->tagMemory, &c4->tagFileMemory}) {
    mem4release(*pool);
    *pool = nullptr;
  }
  if (c4->errorLog != nullptr) {
    FILE4* log = c4->errorLog;
    c4->errorLog = nullptr;
    file4close(log);
    u4free(log);
  }
  int result = c4->errorCode;
  c4->initialised = 0;
  c4->stamp = 0;
  {
    ProcessState& process = Process();
    std::lock_guard<std::mutex> hold(process.lock);
    if (process.contexts > 0) process.contexts--;
  }
  mem4reset();
  if (c4->didAlloc) u4free(c4);
  return result;
}

int code4closeAll(CODE4* c4) {
  if (code4verify(c4, 1, E4_CODE4_CLOSE_ALL)) return -1;
  DATA4* previous = nullptr;
  while (auto* data = static_cast<DATA4*>(l4first(&c4->dataList))) {
    // A handle that d4close could not take off the list would loop for ever.
    if (data == previous) return -1;
    previous = data;
    d4close(data);
  }
  return c4->errorCode < 0 ? c4->errorCode : 0;
}

int code4largeOn(CODE4* c4) {
  if (code4verify(c4, 1, E4_NO_LOCATION)) return -1;
  ProcessState& process = Process();
  std::unique_lock<std::mutex> hold(process.lock);
  bool stamped = process.largeStamp;
  int contexts = process.contexts;
  hold.unlock();
  if (!stamped && contexts > 1) {
    error4describe(c4, e4parm, E4_NO_LOCATION,
                   "Large file stamp not initialized and more than one CODE4 initialized", nullptr,
                   nullptr);
  }
  if (c4->dataFileList.numLinks > 0) {
    return error4describe(c4, e4parm, E4_NO_LOCATION,
                          "Can not initialize large file support with open files", nullptr, nullptr);
  }
  hold.lock();
  process.largeStamp = true;
  c4->largeFileLimit = 0x3FFFFFFF;
  return 0;
}

int code4initCount() {
  ProcessState& process = Process();
  std::lock_guard<std::mutex> hold(process.lock);
  return process.contexts;
}

int code4verify(const void* item, int kind, long location) {
  bool valid = false;
  if (item != nullptr && kind >= 0) {
    if (kind > 5) {
      valid = true;
    } else if (kind == 2) {
      valid = static_cast<const DATA4*>(item)->stamp == k4validStamp;
    } else if (kind == 3) {
      valid = static_cast<const FIELD4*>(item)->stamp == k4validStamp;
    } else if (kind == 5) {
      // Relation sets check their own context.
      valid = true;
    } else {
      const CODE4* c4 = ContextOf(item, kind);
      valid = c4 != nullptr && c4->stamp == k4validStamp;
    }
  }
  if (valid) return 0;
  error4describe(nullptr, e4parm, location, kBadStructure, nullptr, nullptr);
  return e4parm;
}

DATA4* code4data(CODE4* c4, const char* alias, int byFileName) {
  if (c4 == nullptr || alias == nullptr) return nullptr;
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    if (platform::AsciiEqualsIgnoreCase(data->alias, alias)) return data;
  }
  if (!byFileName) return nullptr;
  char name[1024];
  if (u4ncpy(name, alias, sizeof name - 4) < 0 || u4nameExt(name, sizeof name, "dbf", 0) != 0) {
    return nullptr;
  }
  char full[1024];
  if (u4nameCurrent(full, sizeof full, name) != 0) return nullptr;
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(full, &info) != 0) return nullptr;
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    const FILE4& file = data->dataFile->file;
    if (file.device == info.device && file.inode == info.inode) return data;
  }
  return nullptr;
}

DATA4FILE* code4dataFileFind(CODE4* c4, uint64_t device, uint64_t inode) {
  for (auto* file = static_cast<DATA4FILE*>(l4first(&c4->dataFileList)); file;
       file = static_cast<DATA4FILE*>(l4next(&c4->dataFileList, file))) {
    if (file->file.device == device && file->file.inode == inode) return file;
  }
  return nullptr;
}

DATA4* code4dataByServerId(CODE4* c4, long serverId) {
  for (LIST4* list : {&c4->dataList, &c4->closedDataList}) {
    for (auto* data = static_cast<DATA4*>(l4first(list)); data;
         data = static_cast<DATA4*>(l4next(list, data))) {
      if (data->serverId == serverId) return data;
    }
  }
  return nullptr;
}

int code4indexFormat(CODE4* c4) {
  if (c4 == nullptr) {
    error4(nullptr, e4parmNull, E4_CODE4_INDEX_FORMAT);
    return 204;
  }
  return k4indexFormat;
}

const char* code4indexExtension(CODE4* c4) {
  if (c4->indexExtension[0] == 0) std::memcpy(c4->indexExtension, "cdx", 4);
  return c4->indexExtension;
}

const char* code4memoExtension(CODE4* c4) {
  if (c4->memoExtension[0] == 0) std::memcpy(c4->memoExtension, "fpt", 4);
  return c4->memoExtension;
}
