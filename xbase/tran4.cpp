#include "xbase/tran4.h"

#include <cstring>

#include "platform/endian.h"
#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/data4.h"
#include "xbase/date4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/tfile4.h"
#include "xbase/util4.h"

// The log's state beside the context's own fields (logFile, logFileOpen,
// transStatus, transId, userName).
struct TRAN4 {
  int status;  // 10 idle, 20 while a commit or rollback runs
  uint32_t userId;  // 1 once a user registered
  uint64_t writePos;
  long nextId;     // 0 until the log was searched for this user's last id
  // The data files the active transaction changed.
  DATA4FILE** touched;
  int touchedN, touchedMax;
  // An entry is put together here: length word, data, header.
  unsigned char* buffer;
  unsigned capacity;
};

namespace {

constexpr int kStatusIdle = 10;
constexpr int kStatusBusy = 20;
constexpr int kNameNotFound = -1420;
constexpr long kMaxId = 0x7FFFFFFF;
constexpr unsigned kMinLogLength = 2 * k4logEntryOverhead;
constexpr char kEndOfFile = 0x1A;

int State(const CODE4* c4) { return c4->transStatus == 0 ? int(r4inactive) : c4->transStatus; }

TRAN4* TranOf(CODE4* c4) {
  if (c4->tran == nullptr) {
    c4->tran = static_cast<TRAN4*>(u4alloc(sizeof(TRAN4)));
    if (c4->tran == nullptr) return nullptr;
    std::memset(static_cast<void*>(c4->tran), 0, sizeof(TRAN4));
    c4->tran->status = kStatusIdle;
  }
  return c4->tran;
}

// ---- writing entries ----

void FillTimeStamp(unsigned char* at) {
  DATE4NOW now;
  date4now(&now);
  QStoreU16LE(at, uint32_t(now.year));
  at[2] = at[3] = 0;
  at[4] = static_cast<unsigned char>(now.month);
  at[5] = static_cast<unsigned char>(now.day);
  QStoreU32LE(at + 6, uint32_t(now.hour * 3600 + now.minute * 60 + now.second));
}

int Flush(CODE4* c4) {
  if (!c4->logNeedsFlush) return 0;
  c4->logNeedsFlush = 0;
  return file4flush(&c4->logFile);
}

int TakeId(CODE4* c4);

// Writes one entry at the log's end: 0 or the write's error.
int WriteEntry(CODE4* c4, int type, long id1, long id2, const void* data, unsigned length, bool flush) {
  TRAN4* t = c4->tran;
  long transId = 0;
  const int state = State(c4);
  if (state == r4active || state == r4partial || type == t4logStart || type == t4logRollback) {
    if (c4->transId == 0 && TakeId(c4) != 0) return -1;
    transId = c4->transId;
  }
  const uint64_t total = uint64_t(length) + k4logEntryOverhead;
  if (total > 0x7FFFFFFF) return e4transAppend;
  if (total > t->capacity) {
    auto* bigger = static_cast<unsigned char*>(u4alloc(long(total)));
    if (bigger == nullptr) return e4memory;
    u4free(t->buffer);
    t->buffer = bigger;
    t->capacity = unsigned(total);
  }
  unsigned char* at = t->buffer;
  QStoreU32LE(at, uint32_t(total));
  if (length > 0) std::memcpy(at + 4, data, length);
  unsigned char* header = at + 4 + length;
  std::memset(header, 0, k4logHeaderLen);
  QStoreU32LE(header, uint32_t(transId));
  QStoreU32LE(header + 4, t->userId);
  QStoreU32LE(header + 8, uint32_t(id1));
  QStoreU32LE(header + 12, uint32_t(id2));
  QStoreU16LE(header + 16, uint32_t(type));
  QStoreU32LE(header + 18, length);
  FillTimeStamp(header + 22);
  // One write per entry, so that an entry is never left half written by
  // one of several writes.
  int rc = file4write(&c4->logFile, t->writePos, at, unsigned(total));
  if (rc < 0) return rc;
  t->writePos += total;
  c4->logNeedsFlush = 1;
  return flush ? Flush(c4) : 0;
}

// ---- reading the log backwards ----

struct Entry {
  uint64_t start;   // of its length word
  uint64_t header;  // of its header
  uint32_t transId, userId, id1, id2;
  uint16_t type;
  uint32_t length;  // of its data, which lies at start + 4
};

// The entry whose header lies at `header`, checked against the file: the
// header and the data inside [0, end), the length word before the data
// matching the header. 0, or -1210 for a damaged log.
int ReadEntry(CODE4* c4, uint64_t header, uint64_t end, Entry* e) {
  auto corrupt = [&] {
    return error4describe(c4, e4trans, E4_TRAN_INVALID_FILE, file4name(&c4->logFile), nullptr, nullptr);
  };
  if (header + k4logHeaderLen > end) return corrupt();
  unsigned char bytes[k4logHeaderLen];
  if (file4readAll(&c4->logFile, header, bytes, k4logHeaderLen) != 0) return -1;
  e->header = header;
  e->transId = QLoadU32LE(bytes);
  e->userId = QLoadU32LE(bytes + 4);
  e->id1 = QLoadU32LE(bytes + 8);
  e->id2 = QLoadU32LE(bytes + 12);
  e->type = QLoadU16LE(bytes + 16);
  e->length = QLoadU32LE(bytes + 18);
  if (header < uint64_t(e->length) + 4) return corrupt();
  e->start = header - e->length - 4;
  unsigned char word[4];
  if (file4readAll(&c4->logFile, e->start, word, 4) != 0) return -1;
  if (QLoadU32LE(word) != e->length + k4logEntryOverhead) return corrupt();
  return 0;
}

// The header of the entry before e: 0 with *header set, 1 at the start of
// the file, or -1210 when the entry before would begin before the file.
int Previous(CODE4* c4, const Entry& e, uint64_t* header) {
  if (e.start == 0) return 1;
  if (e.start < k4logEntryOverhead) {
    return error4describe(c4, e4trans, E4_TRAN_INVALID_FILE, file4name(&c4->logFile), nullptr, nullptr);
  }
  *header = e.start - k4logHeaderLen;
  return 0;
}

// The next id of the registered user: the last one of the log that belongs
// to the user, plus 1000, or the user id itself.
int TakeId(CODE4* c4) {
  TRAN4* t = c4->tran;
  if (t->nextId == 0) {
    long found = 0;
    uint64_t end = t->writePos;
    uint64_t header = end >= k4logHeaderLen ? end - k4logHeaderLen : 0;
    int walk = end >= k4logEntryOverhead ? 0 : 1;
    while (walk == 0) {
      Entry e{};
      if (ReadEntry(c4, header, end, &e) != 0) return error4(c4, e4trans, E4_TRAN4);
      if (e.transId != 0 && e.transId % 1000 == t->userId) {
        found = long(e.transId);
        break;
      }
      walk = Previous(c4, e, &header);
      if (walk < 0) return error4(c4, e4trans, E4_TRAN4);
    }
    t->nextId = (found == 0 || found > kMaxId - 1000) ? long(t->userId) : found + 1000;
  }
  c4->transId = t->nextId;
  t->nextId = t->nextId > kMaxId - 1000 ? long(t->userId) : t->nextId + 1000;
  return 0;
}

// ---- the log file ----

int LogName(char* name, int size, const char* given) {
  if (u4ncpy(name, given ? given : "C4.log", unsigned(size) - 5) < 0) return -1;
  return u4nameExt(name, size, "log", 0);
}

void CloseFile(CODE4* c4) {
  file4close(&c4->logFile);
  c4->logFile.handle = -1;
  c4->logFileOpen = 0;
}

// Opens and verifies an existing log: 0, 70/64 when it cannot be opened
// (quietly), or an error.
int OpenFile(CODE4* c4, const char* given) {
  char name[1024];
  if (LogName(name, sizeof name, given) != 0) return error4describe(c4, e4open, E4_CODE4_LOG_OPEN, given, nullptr, nullptr);
  const int readOnly = c4->readOnly, report = c4->reportOpenFailure;
  c4->readOnly = 0;
  c4->reportOpenFailure = 0;
  int rc = file4open(&c4->logFile, c4, name, 1);
  c4->readOnly = readOnly;
  c4->reportOpenFailure = report;
  if (rc != 0) return rc;
  auto refuse = [&](int code, long location) {
    error4describe(c4, code, location, name, nullptr, nullptr);
    CloseFile(c4);
    return -1;
  };
  const uint64_t length = file4len(&c4->logFile);
  if (length == ~uint64_t(0)) {
    CloseFile(c4);
    return -1;
  }
  if (length < kMinLogLength) return refuse(e4trans, E4_TRAN_INVALID_FILE);
  unsigned char first[k4logEntryOverhead], last[k4logEntryOverhead];
  if (file4readAll(&c4->logFile, 0, first, sizeof first) != 0 ||
      file4readAll(&c4->logFile, length - k4logEntryOverhead, last, sizeof last) != 0) {
    CloseFile(c4);
    return -1;
  }
  if (QLoadU32LE(first) != k4logEntryOverhead) return refuse(e4read, E4_TRAN4);
  if (QLoadU16LE(first + 4 + 16) == t4logBackup) return refuse(e4trans, E4_TRAN_BACKED_UP);
  if (QLoadU32LE(last) != k4logEntryOverhead || QLoadU16LE(last + 4 + 16) != t4logMarker) {
    return refuse(e4trans, E4_TRAN_INVALID_FILE);
  }
  TRAN4* t = TranOf(c4);
  if (t == nullptr) {
    CloseFile(c4);
    return error4(c4, e4memory, E4_CODE4_LOG_OPEN);
  }
  t->status = kStatusIdle;
  t->writePos = length;
  c4->logNeedsFlush = 0;
  t->nextId = 0;
  c4->logFileOpen = 1;
  c4->transStatus = r4inactive;
  return 0;
}

int RegisterUser(CODE4* c4, const char* user) {
  if (!c4->logFileOpen) return error4(c4, e4trans, E4_TRAN4);
  TRAN4* t = c4->tran;
  t->userId = 1;
  u4ncpy(c4->userName, user, sizeof c4->userName);
  const unsigned n = unsigned(std::strlen(c4->userName));
  unsigned char data[4 + sizeof c4->userName];
  QStoreU16LE(data, 0);
  QStoreU16LE(data + 2, n);
  std::memcpy(data + 4, c4->userName, n);
  return WriteEntry(c4, t4logUser, 0, 0, data, 4 + n, false) < 0 ? e4transAppend : 0;
}

// ---- the end of a transaction ----

bool Touched(const TRAN4* t, const DATA4FILE* file) {
  for (int i = 0; i < t->touchedN; i++) {
    if (t->touched[i] == file) return true;
  }
  return false;
}

void Touch(CODE4* c4, DATA4FILE* file) {
  TRAN4* t = c4->tran;
  if (Touched(t, file)) return;
  if (t->touchedN == t->touchedMax) {
    int more = t->touchedMax + 8;
    auto* bigger = static_cast<DATA4FILE**>(u4alloc(long(sizeof(DATA4FILE*)) * more));
    // Without room the file is only left out of the commit's header update;
    // its header is written when it closes.
    if (bigger == nullptr) return;
    if (t->touchedN > 0) std::memcpy(bigger, t->touched, sizeof(DATA4FILE*) * size_t(t->touchedN));
    u4free(t->touched);
    t->touched = bigger;
    t->touchedMax = more;
  }
  t->touched[t->touchedN++] = file;
}

// The removals the transaction's unique tags held back: carried out at the
// commit (0 or the first error), forgotten at a rollback, which has put the
// keys back where they were.
int EndHeldRemovals(CODE4* c4, bool carryOut) {
  int result = 0;
  for (auto* file = static_cast<DATA4FILE*>(l4first(&c4->dataFileList)); file;
       file = static_cast<DATA4FILE*>(l4next(&c4->dataFileList, file))) {
    for (auto* index = static_cast<INDEX4FILE*>(l4first(&file->indexes)); index;
         index = static_cast<INDEX4FILE*>(l4next(&file->indexes, index))) {
      for (auto* tag = static_cast<TFILE4*>(l4first(&index->tags)); tag;
           tag = static_cast<TFILE4*>(l4next(&index->tags, tag))) {
        if (!carryOut) {
          tfile4forgetHeld(tag);
        } else if (int rc = tfile4removeHeld(tag); rc < 0 && result == 0) {
          result = rc;
        }
      }
    }
  }
  return result;
}

// Handles closed during the transaction close now.
void CloseKept(CODE4* c4) {
  while (auto* data = static_cast<DATA4*>(l4first(&c4->closedDataList))) {
    l4remove(&c4->closedDataList, data);
    l4add(&c4->dataList, data);
    d4close(data);
  }
}

void EndTransaction(CODE4* c4) {
  c4->transStatus = r4inactive;
  c4->transId = 0;
  c4->tran->touchedN = 0;
  int saved = error4set(c4, 0);
  CloseKept(c4);
  if (saved < 0 || c4->errorCode == 0) error4set(c4, saved);
}

// ---- rollback ----

// The handle a log entry names.
DATA4* HandleOf(CODE4* c4, const Entry& e) {
  DATA4* data = code4dataByServerId(c4, long(e.id1));
  if (data == nullptr) error4(c4, kNameNotFound, E4_TRAN4);
  return data;
}

int Corrupt(CODE4* c4) { return error4(c4, e4rollback, E4_TRAN_CORRUPT_FILE); }

// Puts the old image of a changed record back, with its memo contents and
// keys. The handle's own record buffer and memo contents stay as they are.
int RestoreChange(CODE4* c4, const Entry& e, const unsigned char* bytes) {
  DATA4* data = HandleOf(c4, e);
  if (data == nullptr) return kNameNotFound;
  DATA4FILE* file = data->dataFile;
  const uint32_t width = file->recWidth;
  if (e.length < 4 + 2 * uint64_t(width)) return Corrupt(c4);
  const long rec = long(QLoadU32LE(bytes));
  const unsigned char* old = bytes + 4;
  // Each memo field: old length and bytes, new length and bytes.
  struct Memo {
    const unsigned char* old;
    uint32_t oldLen, newLen;
  };
  const int memos = data->nFieldsMemo;
  auto* memo = static_cast<Memo*>(u4allocEr(c4, long(sizeof(Memo)) * (memos + 1)));
  if (memo == nullptr) return e4memory;
  uint64_t at = 4 + 2 * uint64_t(width);
  for (int i = 0; i < memos; i++) {
    uint32_t lengths[2];
    const unsigned char* start[2];
    for (int k = 0; k < 2; k++) {
      if (at + 4 > e.length || (lengths[k] = QLoadU32LE(bytes + at), at + 4 + lengths[k] > e.length)) {
        u4free(memo);
        return Corrupt(c4);
      }
      start[k] = bytes + at + 4;
      at += 4 + uint64_t(lengths[k]);
    }
    memo[i] = {start[0], lengths[0], lengths[1]};
  }
  long count = dfile4recCount(file);
  if (count < 0 || rec < 1 || rec > count) {
    u4free(memo);
    return count < 0 ? -1 : error4(c4, e4rollback, E4_TRAN_DATABASE_CORRUPT);
  }
  auto* image = static_cast<char*>(u4allocEr(c4, long(width) * 2 + 2));
  if (image == nullptr) {
    u4free(memo);
    return e4memory;
  }
  char* current = image + width + 1;
  std::memcpy(image, old, width);
  int rc = file4readAll(&file->file, dfile4recordPosition(file, rec), current, width);
  char* const record = data->record;
  char* const recordOld = data->recordOld;
  const long recNumOld = data->recNumOld;
  const int changed = data->recordChanged;
  data->record = image;
  // A memo that the change rewrote gets its old contents back in the entry
  // the record holds now; the others keep the old image's block.
  for (int i = 0; i < memos && rc == 0; i++) {
    if (memo[i].oldLen == 0 && memo[i].newLen == 0) continue;
    FIELD4* field = data->fieldsMemo[i].field;
    long block = d4memoBlockIn(field, current);
    rc = memo4fileWrite(&file->memoFile, &block, reinterpret_cast<const char*>(memo[i].old), memo[i].oldLen);
    if (rc != 0) break;
    if (block != 0) {
      f4assignLong(field, block);
    } else {
      f4blank(field);
    }
  }
  if (rc == 0) {
    data->recordOld = current;
    data->recNumOld = rec;
    rc = d4writeKeys(data, rec);
    if (rc > 0) rc = Corrupt(c4);
  }
  if (rc == 0) rc = file4write(&file->file, dfile4recordPosition(file, rec), image, width);
  data->record = record;
  if (file->keyRecord == image) file->keyRecord = record;
  data->recordOld = recordOld;
  data->recNumOld = recNumOld == rec ? -1 : recNumOld;
  data->recordChanged = changed;
  if (rc == 0) file->fileChanged = 1;
  u4free(image);
  u4free(memo);
  return rc;
}

// Takes an appended record off the file's end again, with its keys.
int RemoveAppend(CODE4* c4, const Entry& e, const unsigned char* bytes) {
  DATA4* data = HandleOf(c4, e);
  if (data == nullptr) return kNameNotFound;
  DATA4FILE* file = data->dataFile;
  const uint32_t width = file->recWidth;
  if (e.length < 4 + uint64_t(width)) return Corrupt(c4);
  const long rec = long(QLoadU32LE(bytes));
  const long count = dfile4recCount(file);
  if (count < 0) return -1;
  // The append never reached the file.
  if (count == rec - 1) return 0;
  if (count != rec) return error4(c4, e4rollback, E4_TRAN_DATABASE_CORRUPT);
  auto* image = static_cast<char*>(u4allocEr(c4, long(width) + 1));
  if (image == nullptr) return e4memory;
  int rc = file4readAll(&file->file, dfile4recordPosition(file, rec), image, width);
  char* const record = data->record;
  data->record = image;
  unsigned char key[k4keyBufferSize];
  for (TAG4* tag = d4tagNext(data, nullptr); tag && rc == 0; tag = d4tagNext(data, tag)) {
    int passes = 0;
    int length = t4keyCalc(tag, key, &passes);
    if (length < 0) {
      rc = length;
    } else if (passes && t4removeKey(tag, key, rec) < 0) {
      rc = -1;
    }
  }
  data->record = record;
  if (file->keyRecord == image) file->keyRecord = record;
  u4free(image);
  if (rc != 0) return rc;
  const uint64_t end = dfile4recordPosition(file, rec);
  rc = file4lenSet(&file->file, end);
  if (rc == 0) rc = file4write(&file->file, end, &kEndOfFile, 1);
  if (rc != 0) return rc;
  file->minCount = rec - 1;
  file->fileChanged = 1;
  for (auto* other = static_cast<DATA4*>(l4first(&c4->dataList)); other;
       other = static_cast<DATA4*>(l4next(&c4->dataList, other))) {
    if (other->dataFile == file && other->recNumOld == rec) other->recNumOld = -1;
  }
  return 0;
}

// Walks the log back from its end to the transaction's start entry,
// undoing its changes and appends.
int Undo(CODE4* c4) {
  TRAN4* t = c4->tran;
  const uint64_t end = t->writePos;
  if (end < k4logEntryOverhead) return 0;
  uint64_t header = end - k4logHeaderLen;
  for (;;) {
    Entry e{};
    if (int rc = ReadEntry(c4, header, end, &e)) return rc;
    if (e.transId == uint32_t(c4->transId)) {
      switch (e.type) {
        case t4logStart:
          return 0;
        case t4logChange:
        case t4logAppend: {
          auto* bytes = static_cast<unsigned char*>(u4allocEr(c4, long(e.length) + 1));
          if (bytes == nullptr) return e4memory;
          int rc = file4readAll(&c4->logFile, e.start + 4, bytes, e.length);
          if (rc == 0) rc = e.type == t4logChange ? RestoreChange(c4, e, bytes) : RemoveAppend(c4, e, bytes);
          u4free(bytes);
          if (rc != 0) return rc;
          break;
        }
        case t4logOpenData:
        case t4logOpenTemp:
        case t4logCloseData:
        case t4logUndo:
        case t4logCreate:
          break;
        default:
          return Corrupt(c4);
      }
    }
    int walk = Previous(c4, e, &header);
    if (walk != 0) return walk > 0 ? 0 : walk;
  }
}

// After a rollback the handles read their records again: one whose record
// went with a removed append goes to end of file. Changed records stay.
void Refresh(CODE4* c4) {
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    data->recNumOld = -1;
    if (data->recordChanged || data->recNum < 1) continue;
    DATA4FILE* file = data->dataFile;
    long count = dfile4recCount(file);
    if (count >= 0 && data->recNum > count) {
      data->recNum = count + 1;
      data->eofFlag = 1;
      std::memcpy(data->record, data->recordBlank, file->recWidth);
    } else if (count >= 0) {
      file4readAll(&file->file, dfile4recordPosition(file, data->recNum), data->record, file->recWidth);
    }
    d4memoReset(data);
  }
}

int Rollback(CODE4* c4) {
  if (!c4->logFileOpen || c4->tran == nullptr || State(c4) == r4rollback) {
    return error4(c4, e4trans, E4_TRAN_NOT_ENABLED);
  }
  TRAN4* t = c4->tran;
  if (State(c4) != r4active) return error4(c4, e4transStatus, E4_TRAN_NO_ROLLBACK);
  if (t->status != kStatusIdle) return error4(c4, e4trans, E4_TRAN_INVALID_FILE);
  t->status = kStatusBusy;
  c4->transStatus = r4rollback;
  const int saved = error4set(c4, 0);
  int rc = Undo(c4);
  if (rc == 0 && WriteEntry(c4, t4logRollback, 0, 0, nullptr, 0, true) != 0) rc = e4transAppend;
  // A failed rollback leaves the log busy: nothing is logged until the
  // files are recovered.
  if (rc == 0) t->status = kStatusIdle;
  const int failed = c4->errorCode;
  error4set(c4, 0);
  EndHeldRemovals(c4, false);
  Refresh(c4);
  EndTransaction(c4);
  if (saved != 0) {
    error4set(c4, saved);
  } else if (failed < 0) {
    error4set(c4, failed);
  }
  return rc;
}

// ---- the log's close ----

int CloseLog(CODE4* c4) {
  TRAN4* t = c4->tran;
  int saved = error4set(c4, 0);
  int rc = 0;
  if (c4->userName[0] != 0 && c4->createTemp == 1) {
    if (WriteEntry(c4, t4logRelease, 0, 0, nullptr, 0, true) != 0) rc = e4transAppend;
    std::memset(c4->userName, 0, sizeof c4->userName);
  }
  if (State(c4) == r4inactive && t->status == kStatusIdle) {
    if (WriteEntry(c4, t4logMarker, 0, 3, nullptr, 0, true) != 0 && rc == 0) rc = e4transAppend;
  }
  if (file4close(&c4->logFile) < 0 && rc == 0) rc = e4close;
  c4->logFile.handle = -1;
  c4->logFileOpen = 0;
  error4set(c4, saved);
  return rc;
}

}  // namespace

// ---- the log ----

int code4logOpen(CODE4* c4, const char* name, const char* user) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_LOG_OPEN);
  if (c4->logFileOpen) return 0;
  if (int rc = OpenFile(c4, name)) return rc;
  return RegisterUser(c4, user ? user : "PUBLIC");
}

int code4logOpenDefault(CODE4* c4) { return code4logOpen(c4, nullptr, nullptr); }

int code4logCreate(CODE4* c4, const char* name, const char* user) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_LOG_CREATE);
  if (c4->errorCode < 0) return -1;
  if (c4->logFileOpen) return error4(c4, e4trans, E4_TRAN4);
  char full[1024];
  if (LogName(full, sizeof full, name) != 0) return error4describe(c4, e4trans, E4_TRAN4, name, nullptr, nullptr);
  const int report = c4->reportCreateFailure, newOnly = c4->createNewOnly;
  c4->reportCreateFailure = 0;
  c4->createNewOnly = 1;
  int rc = file4create(&c4->logFile, c4, full, 1);
  c4->reportCreateFailure = report;
  c4->createNewOnly = newOnly;
  if (rc != 0) {
    c4->logFile.handle = -1;
    error4set(c4, 0);
    return error4describe(c4, e4trans, E4_TRAN4, full, nullptr, nullptr);
  }
  TRAN4* t = TranOf(c4);
  if (t == nullptr) {
    file4close(&c4->logFile);
    u4remove(full);
    return error4(c4, e4memory, E4_CODE4_LOG_CREATE);
  }
  t->status = kStatusIdle;
  t->writePos = 0;
  c4->logNeedsFlush = 0;
  t->nextId = 0;
  t->userId = 0;
  c4->logFileOpen = 1;
  c4->transStatus = r4inactive;
  if (WriteEntry(c4, t4logMarker, 0, 3, nullptr, 0, true) != 0) {
    CloseFile(c4);
    u4remove(full);
    return e4transAppend;
  }
  return user ? RegisterUser(c4, user) : 0;
}

int code4tranStatus(CODE4* c4) { return c4 ? State(c4) : int(r4inactive); }

int tran4logOpen(DATA4* data) {
  data->logged = 0;
  CODE4* c4 = data->codeBase;
  if (!tran4logging(c4)) return 0;
  DATA4FILE* file = data->dataFile;
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(file->fullName, &info) != 0) {
    return error4describe(c4, e4open, E4_D4OPEN, file->fullName, nullptr, nullptr);
  }
  const unsigned nameLen = unsigned(std::strlen(file->fullName));
  const unsigned length = 2 + nameLen + 4 + 2 + 4 + 4 + 3;
  auto* bytes = static_cast<unsigned char*>(u4allocEr(c4, long(length)));
  if (bytes == nullptr) return e4memory;
  unsigned char* at = bytes;
  QStoreU16LE(at, nameLen);
  std::memcpy(at + 2, file->fullName, nameLen);
  at += 2 + nameLen;
  QStoreU32LE(at, file->recWidth);
  QStoreU16LE(at + 4, uint32_t(d4numFields(data)));
  QStoreU32LE(at + 6, uint32_t(dfile4recCount(file)));
  QStoreU32LE(at + 10, uint32_t(info.modified));
  std::memcpy(at + 14, file->yymmdd, 3);
  const int type = (c4->createTemp == 1 || file->file.removeOnClose) ? t4logOpenTemp : t4logOpenData;
  int rc = WriteEntry(c4, type, data->serverId, 0, bytes, length, true);
  u4free(bytes);
  if (rc != 0) return e4transAppend;
  data->logged = 1;
  return 0;
}

int tran4logClose(DATA4* data) {
  CODE4* c4 = data->codeBase;
  if (!c4->logFileOpen || !data->logged) return 0;
  const int state = State(c4);
  if (state == r4rollback || state == r4off || state == r4active) return 0;
  return WriteEntry(c4, t4logCloseData, data->serverId, 0, nullptr, 0, true) != 0 ? e4transAppend : 0;
}

int code4tranInitUndo(CODE4* c4) {
  if (c4->tran == nullptr) {
    c4->transStatus = 0;
    return 0;
  }
  if (c4->logFileOpen) {
    if (State(c4) == r4active) Rollback(c4);
    if (State(c4) == r4partial) code4tranCommitPhaseTwo(c4, 0);
  }
  int saved = error4set(c4, 0);
  CloseKept(c4);
  int rc = c4->logFileOpen ? CloseLog(c4) : 0;
  error4set(c4, saved);
  TRAN4* t = c4->tran;
  u4free(t->touched);
  u4free(t->buffer);
  u4free(t);
  c4->tran = nullptr;
  c4->transStatus = 0;
  c4->transId = 0;
  std::memset(c4->userName, 0, sizeof c4->userName);
  return rc;
}

// ---- transactions ----

int code4tranStart(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_START);
  if (c4->errorCode < 0) return -1;
  if (!c4->logFileOpen) {
    if (!c4->logOpen) return error4(c4, e4trans, E4_TRAN_LOG_OPEN_OFF);
    code4logOpenDefault(c4);
    if (c4->errorCode > 0) error4set(c4, 0);
    if (!c4->logFileOpen) return error4(c4, e4trans, E4_TRAN_NOT_ENABLED);
  }
  TRAN4* t = c4->tran;
  if (State(c4) == r4active) return error4(c4, e4trans, E4_TRAN4);
  if (t->status != kStatusIdle) return error4(c4, e4trans, E4_TRAN_INVALID_FILE);
  if (t->userId == 0) {
    if (int rc = RegisterUser(c4, "PUBLIC")) return rc;
  }
  const uint64_t end = file4len(&c4->logFile);
  if (end == ~uint64_t(0)) return -1;
  t->writePos = end;
  if (TakeId(c4) != 0) return -1;
  if (WriteEntry(c4, t4logStart, 0, 0, nullptr, 0, false) != 0) {
    c4->transId = 0;
    return e4transAppend;
  }
  c4->transStatus = r4active;
  t->touchedN = 0;
  return 0;
}

int code4tranCommitPhaseOne(CODE4* c4, int flag) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_COMMIT);
  const int saved = c4->errorCode < 0 ? error4set(c4, 0) : 0;
  auto done = [&](int rc) {
    if (saved < 0) error4set(c4, saved);
    return rc;
  };
  if (!c4->logFileOpen) return done(error4(c4, e4trans, E4_TRAN_NOT_ENABLED));
  if (State(c4) != r4active) return done(0);
  TRAN4* t = c4->tran;
  if (t->status != kStatusIdle) return done(error4(c4, e4trans, E4_TRAN_INVALID_FILE));
  t->status = kStatusBusy;
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    if (!data->logged || !data->recordChanged || !Touched(t, data->dataFile)) continue;
    if (int rc = d4updateRecord(data, 0)) {
      t->status = kStatusIdle;
      return done(rc);
    }
  }
  if (WriteEntry(c4, t4logPartial, 0, 0, nullptr, 0, flag == 0) != 0) {
    t->status = kStatusIdle;
    return done(e4transAppend);
  }
  c4->transStatus = r4partial;
  return done(0);
}

int code4tranCommitPhaseTwo(CODE4* c4, int) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_COMMIT);
  const int saved = c4->errorCode < 0 ? error4set(c4, 0) : 0;
  auto done = [&](int rc) {
    if (saved < 0) error4set(c4, saved);
    return rc;
  };
  if (State(c4) != r4partial) return done(error4(c4, e4commit, E4_TRAN_NOT_PARTIAL));
  TRAN4* t = c4->tran;
  if (!c4->logFileOpen || t->status != kStatusBusy) return done(error4(c4, e4trans, E4_TRAN_INVALID_FILE));
  if (WriteEntry(c4, t4logComplete, 0, 0, nullptr, 0, true) != 0) return done(e4transAppend);
  c4->transStatus = r4inactive;
  c4->transId = 0;
  int rc = 0;
  for (int i = 0; i < t->touchedN; i++) {
    DATA4FILE* file = t->touched[i];
    if (file->fileChanged && !file->readOnly && dfile4updateHeader(file, 1, 1, 1) != 0) rc = -1;
  }
  if (rc == 0) t->status = kStatusIdle;
  // A tag that fails here is the index's fault, not the log's: the error is
  // returned, and the log stays usable.
  if (EndHeldRemovals(c4, true) < 0) rc = -1;
  EndTransaction(c4);
  return done(rc);
}

int code4tranCommit(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_COMMIT);
  if (!c4->logFileOpen) return error4(c4, e4trans, E4_TRAN_NOT_ENABLED);
  if (State(c4) != r4active) return error4(c4, e4transStatus, E4_TRAN_NO_COMMIT);
  if (code4tranCommitPhaseOne(c4, 1) != 0) return -1;
  return code4tranCommitPhaseTwo(c4, 1);
}

int code4tranRollback(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_ROLLBACK);
  return Rollback(c4);
}

int tran4active(DATA4* data) {
  return data->logged && code4tranStatus(data->codeBase) == r4active ? 1 : 0;
}

int tran4logging(CODE4* c4) {
  return c4->logFileOpen && c4->transStatus != r4rollback && c4->transStatus != r4off ? 1 : 0;
}

int tran4logEntry(DATA4* data, int type, const void* bytes, unsigned length) {
  CODE4* c4 = data->codeBase;
  if (!tran4logging(c4)) return 0;
  const int state = State(c4);
  const bool inTransaction = state == r4active || state == r4partial;
  // Entries of a transaction reach the disk with its commit.
  const bool flush = !inTransaction || type == t4logPack;
  if (WriteEntry(c4, type, data->serverId, 0, bytes, length, flush) != 0) return e4transAppend;
  if (inTransaction) Touch(c4, data->dataFile);
  return 0;
}

int tran4logCreate(CODE4* c4, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags) {
  if (!tran4logging(c4)) return 0;
  // The entry's size first, then its bytes.
  uint64_t length = 2 + 2 + std::strlen(name) + 2 + 2;
  int nFields = 0, nTags = 0;
  for (const FIELD4INFO* f = fields; f && f->name; f++, nFields++) length += 1 + std::strlen(f->name) + 8;
  for (const TAG4INFO* t = tags; t && t->name; t++, nTags++) {
    length += 1 + std::strlen(t->name) + 2 + (t->expression ? std::strlen(t->expression) : 0) + 2 +
              (t->filter ? std::strlen(t->filter) : 0) + 4;
  }
  if (length > 0x7FFFFFF) return e4transAppend;
  auto* bytes = static_cast<unsigned char*>(u4allocEr(c4, long(length)));
  if (bytes == nullptr) return e4memory;
  unsigned char* at = bytes;
  // A text with its length (u8 or u16 by width), cut to what the length holds.
  auto text = [&](const char* s, int width) {
    size_t n = s ? std::strlen(s) : 0;
    if (width == 1) {
      if (n > 0xFF) n = 0xFF;
      *at++ = static_cast<unsigned char>(n);
    } else {
      if (n > 0xFFFF) n = 0xFFFF;
      QStoreU16LE(at, uint32_t(n));
      at += 2;
    }
    if (n > 0) std::memcpy(at, s, n);
    at += n;
  };
  auto u16 = [&](uint32_t v) {
    QStoreU16LE(at, v);
    at += 2;
  };
  u16(uint32_t(uint16_t(c4->compatibility)));
  text(name, 2);
  u16(uint32_t(nFields));
  u16(uint32_t(nTags));
  for (int i = 0; i < nFields; i++) {
    const FIELD4INFO& f = fields[i];
    text(f.name, 1);
    u16(f.type);
    u16(f.len);
    u16(f.dec);
    u16(f.nulls);
  }
  for (int i = 0; i < nTags; i++) {
    const TAG4INFO& t = tags[i];
    text(t.name, 1);
    text(t.expression, 2);
    text(t.filter, 2);
    u16(uint32_t(uint16_t(t.unique)));
    u16(t.descending);
  }
  int rc = WriteEntry(c4, t4logCreate, -1, -1, bytes, unsigned(at - bytes), true);
  u4free(bytes);
  return rc != 0 ? e4transAppend : 0;
}

int tran4logFlushPending(CODE4* c4) {
  if (c4 == nullptr || c4->tran == nullptr || !c4->logFileOpen || !c4->logNeedsFlush) return 0;
  return Flush(c4);
}
