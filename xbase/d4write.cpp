#include "xbase/d4write.h"

#include <cstring>

#include "platform/endian.h"
#include "xbase/block4.h"
#include "xbase/code4.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/tfile4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"

namespace {

constexpr char kEndOfFile = 0x1A;

// ---- the log entries of changes and appends ----

// One piece of an entry: a length word and its bytes, or bytes alone.
struct Piece {
  const char* bytes;
  uint32_t length;
  bool counted;  // preceded by its length (u32)
};

// Writes an entry made of pieces; -920 when its buffer cannot be had.
int LogPieces(DATA4* data, int type, const Piece* pieces, int count) {
  uint64_t total = 0;
  for (int i = 0; i < count; i++) total += pieces[i].length + (pieces[i].counted ? 4u : 0u);
  if (total > 0x7FFFFFFF) return error4(data->codeBase, e4memory, E4_MEMO_SIZE);
  auto* entry = static_cast<char*>(u4allocEr(data->codeBase, long(total) + 1));
  if (entry == nullptr) return e4memory;
  char* at = entry;
  for (int i = 0; i < count; i++) {
    if (pieces[i].counted) {
      QStoreU32LE(at, pieces[i].length);
      at += 4;
    }
    if (pieces[i].length > 0) std::memcpy(at, pieces[i].bytes, pieces[i].length);
    at += pieces[i].length;
  }
  int rc = tran4logEntry(data, type, entry, uint32_t(total));
  u4free(entry);
  return rc;
}

// A change: the record number, the old and the new record, and per memo
// field its old and new contents (two empty ones when it was not assigned).
int LogChange(DATA4* data, long rec) {
  CODE4* c4 = data->codeBase;
  const int memos = data->nFieldsMemo;
  const int count = 3 + 2 * memos;
  auto* pieces = static_cast<Piece*>(u4allocEr(c4, long(sizeof(Piece)) * count));
  auto* old = static_cast<char**>(u4allocEr(c4, long(sizeof(char*)) * (memos + 1)));
  int rc = (pieces && old) ? 0 : int(e4memory);
  char recordNumber[4];
  QStoreU32LE(recordNumber, uint32_t(rec));
  const uint32_t width = data->dataFile->recWidth;
  if (rc == 0) {
    pieces[0] = {recordNumber, 4, false};
    pieces[1] = {data->recordOld, width, false};
    pieces[2] = {data->record, width, false};
  }
  for (int i = 0; i < memos && rc == 0; i++) {
    F4MEMO* m = &data->fieldsMemo[i];
    Piece* pair = &pieces[3 + 2 * i];
    pair[0] = pair[1] = {nullptr, 0, true};
    if (!m->dirty) continue;
    uint32_t length = 0, type = 0;
    rc = memo4fileRead(&data->dataFile->memoFile, d4memoBlockIn(m->field, data->recordOld), &old[i],
                       &length, 0, k4memoMaxLen, &type);
    pair[0] = {old[i], length, true};
    pair[1] = {m->text, m->size, true};
  }
  if (rc == 0) rc = LogPieces(data, t4logChange, pieces, count);
  if (old) {
    for (int i = 0; i < memos; i++) u4free(old[i]);
  }
  u4free(old);
  u4free(pieces);
  return rc;
}

// An append: the record number, the record, and each memo's contents.
int LogAppend(DATA4* data, long rec) {
  const int memos = data->nFieldsMemo;
  const int count = 2 + memos;
  auto* pieces = static_cast<Piece*>(u4allocEr(data->codeBase, long(sizeof(Piece)) * count));
  if (pieces == nullptr) return e4memory;
  char recordNumber[4];
  QStoreU32LE(recordNumber, uint32_t(rec));
  pieces[0] = {recordNumber, 4, false};
  pieces[1] = {data->record, data->dataFile->recWidth, false};
  for (int i = 0; i < memos; i++) {
    const F4MEMO* m = &data->fieldsMemo[i];
    pieces[2 + i] = {m->text, m->mustRead ? 0 : m->size, true};
  }
  int rc = LogPieces(data, t4logAppend, pieces, count);
  u4free(pieces);
  return rc;
}

// A change or append that failed after it was logged.
int LogUndo(DATA4* data, long rec) {
  char recordNumber[4];
  QStoreU32LE(recordNumber, uint32_t(rec));
  Piece piece = {recordNumber, 4, false};
  return LogPieces(data, t4logUndo, &piece, 1);
}

// ---- keys ----

// The tag's key of one record image; its length or an error.
int KeyOf(TAG4* tag, DATA4* data, char* record, unsigned char* key, int* passes) {
  char* current = data->record;
  data->record = record;
  int length = t4keyCalc(tag, key, passes);
  data->record = current;
  return length;
}

bool Refused(int rc) { return rc == r4unique || rc < 0; }

// Inside a transaction a unique tag keeps a changed record's old key until
// the commit (tfile4.h), whatever its unique mode.
bool HoldsRemovals(TAG4* tag, DATA4* data) {
  return (tag->tagFile->typeCode & 0x05) && tag->errUnique != 0 && tran4active(data);
}

// Adds (key, rec), unless a held removal of that very entry shows that it
// is there already (the tag's kept mark); a held removal of the key for
// another record is carried out first. What t4addKey answers, or 0.
int AddKey(TAG4* tag, const unsigned char* key, long rec) {
  int held = tfile4heldBeforeAdd(tag->tagFile, key, uint32_t(rec));
  if (held < 0) return held;
  if (held == 1) {
    tag->kept = 1;
    return 0;
  }
  int rc = t4addKey(tag, key, rec);
  tag->added = rc == 0;
  return rc;
}

// Undoes an AddKey of the marks: the key leaves the tag again, or its held
// removal comes back.
int UnaddKey(TAG4* tag, const unsigned char* key, long rec) {
  int rc = 0;
  if (tag->added) rc = t4removeKey(tag, key, rec);
  if (tag->kept && tfile4holdRemoval(tag->tagFile, key, uint32_t(rec)) != 0) rc = t4removeKey(tag, key, rec);
  tag->added = tag->kept = 0;
  return rc < 0 ? rc : 0;
}

// Adds the new record's key to every tag; on a refusal or an error the keys
// added so far are removed again. 0, 20 or an error.
int AppendKeys(DATA4* data, long rec) {
  CODE4* c4 = data->codeBase;
  unsigned char key[k4keyBufferSize];
  TAG4* tag = nullptr;
  int rc = 0;
  for (tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    tag->added = tag->removed = tag->held = tag->kept = 0;
    int passes = 0;
    int length = KeyOf(tag, data, data->record, key, &passes);
    if (length < 0) {
      rc = length;
      break;
    }
    if (!passes) continue;
    rc = AddKey(tag, key, rec);
    if (Refused(rc)) break;
    rc = 0;
  }
  if (rc == 0) return 0;
  int saved = error4set(c4, 0);
  for (TAG4* back = d4tagPrev(data, tag); back; back = d4tagPrev(data, back)) {
    if (!back->added && !back->kept) continue;
    int passes = 0;
    if (KeyOf(back, data, data->record, key, &passes) >= 0) UnaddKey(back, key, rec);
    back->added = back->kept = 0;
  }
  error4set(c4, saved);
  return rc;
}

// Takes the appended record's keys out of every tag again.
void UnappendKeys(DATA4* data, long rec) {
  unsigned char key[k4keyBufferSize];
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    if (!tag->added && !tag->kept) continue;
    int passes = 0;
    if (KeyOf(tag, data, data->record, key, &passes) >= 0) UnaddKey(tag, key, rec);
    tag->added = tag->kept = 0;
  }
}

// Reads record rec into the old-record buffer unless it holds it already.
int LoadOld(DATA4* data, long rec) {
  if (data->recNumOld == rec) return 0;
  DATA4FILE* file = data->dataFile;
  if (file4readAll(&file->file, dfile4recordPosition(file, rec), data->recordOld, file->recWidth) != 0) {
    return -1;
  }
  data->recNumOld = rec;
  return 0;
}

// ---- the data file's end ----

// The file ends right after record `count`, with its end-of-file mark: 0 or
// an error. An error standing before stays the context's.
int RestoreEnd(DATA4FILE* file, long count) {
  CODE4* c4 = file->c4;
  int saved = error4set(c4, 0);
  uint64_t end = dfile4recordPosition(file, count + 1);
  int rc = file4lenSet(&file->file, end);
  if (rc == 0) rc = file4write(&file->file, end, &kEndOfFile, 1);
  if (saved < 0) error4set(c4, saved);
  return rc < 0 ? rc : 0;
}

FIELD4* AutoIncrementField(DATA4* data) {
  if (!data->dataFile->canAutoIncrement) return nullptr;
  for (int i = 0; i < data->nFields; i++) {
    if (data->fields[i].autoIncrement) return &data->fields[i];
  }
  return nullptr;
}

// Writes the appended record's memos: contents go to new entries, an empty
// memo leaves 0 (blanks in dBASE files; a null FoxPro field keeps its bytes).
int AppendMemos(DATA4* data) {
  MEMO4FILE* memoFile = &data->dataFile->memoFile;
  for (int i = 0; i < data->nFieldsMemo; i++) {
    F4MEMO* m = &data->fieldsMemo[i];
    FIELD4* field = m->field;
    if (!m->mustRead && m->size > 0) {
      if (memoFile->file.handle < 0) {
        return error4describe(data->codeBase, e4write, E4_MEMO_NOT_OPEN, data->dataFile->fullName,
                              nullptr, nullptr);
      }
      // Always a new entry: two records never share one.
      long block = 0;
      if (int rc = memo4fileWrite(memoFile, &block, m->text, m->size)) return rc;
      f4assignLong(field, block);
    } else if (!f4null(field)) {
      f4blank(field);
    }
    m->dirty = 0;
  }
  return 0;
}

}  // namespace

// ---- writing a record ----

long d4memoBlockIn(FIELD4* field, char* record) {
  DATA4* data = field->data;
  char* current = data->record;
  data->record = record;
  long block = f4long(field);
  data->record = current;
  return block < 0 ? 0 : block;
}

int d4writeData(DATA4* data, long rec) {
  if (rec < 1) return error4(data->codeBase, e4parm, E4_D4WRITE_DATA);
  DATA4FILE* file = data->dataFile;
  data->recordChanged = 0;
  file->fileChanged = 1;
  return file4write(&file->file, dfile4recordPosition(file, rec), data->record, file->recWidth);
}

int d4writeKeys(DATA4* data, long rec) {
  if (code4verify(data, 2, E4_D4WRITE_KEYS)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  TAG4* first = d4tagNext(data, nullptr);
  if (first == nullptr) return 0;
  if (LoadOld(data, rec) != 0) return -1;
  for (TAG4* tag = first; tag; tag = d4tagNext(data, tag)) {
    tag->added = tag->removed = tag->held = tag->kept = 0;
  }
  unsigned char newKey[k4keyBufferSize], oldKey[k4keyBufferSize];
  for (TAG4* tag = first; tag; tag = d4tagNext(data, tag)) {
    int newPasses = 0, oldPasses = 0;
    int newLength = KeyOf(tag, data, data->record, newKey, &newPasses);
    if (newLength < 0) return newLength;
    int oldLength = KeyOf(tag, data, data->recordOld, oldKey, &oldPasses);
    if (oldLength < 0) return oldLength;
    if (newPasses == oldPasses && newLength == oldLength &&
        std::memcmp(newKey, oldKey, size_t(newLength)) == 0) {
      continue;
    }
    if (oldPasses) {
      // Without room on the list the key goes at once, as outside a
      // transaction.
      if (HoldsRemovals(tag, data) && tfile4holdRemoval(tag->tagFile, oldKey, uint32_t(rec)) == 0) {
        tag->held = 1;
      } else {
        tag->removed = 1;
        int rc = t4removeKey(tag, oldKey, rec);
        if (rc < 0) return rc;
      }
    }
    if (!newPasses) continue;
    int rc = AddKey(tag, newKey, rec);
    if (rc == r4unique || rc == e4unique) {
      // This tag and the tags before it get their old keys back.
      int saved = error4set(c4, 0);
      d4unwriteKeys(data, rec);
      error4set(c4, saved);
      return rc;
    }
    if (rc < 0) return rc;
  }
  return 0;
}

int d4unwriteKeys(DATA4* data, long rec) {
  if (code4verify(data, 2, E4_D4UNWRITE_KEYS)) return -1;
  unsigned char key[k4keyBufferSize];
  int result = 0;
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    int passes = 0;
    if (tag->added || tag->kept) {
      int rc = KeyOf(tag, data, data->record, key, &passes);
      if (rc >= 0) rc = UnaddKey(tag, key, rec);
      if (rc < 0 && result == 0) result = rc;
    }
    if (tag->removed || tag->held) {
      int rc = KeyOf(tag, data, data->recordOld, key, &passes);
      if (rc >= 0 && tag->removed) rc = t4addKey(tag, key, rec);
      if (rc >= 0 && tag->held) tfile4dropRemoval(tag->tagFile, key, uint32_t(rec));
      if (rc < 0 && result == 0) result = rc;
    }
    tag->added = tag->removed = tag->held = tag->kept = 0;
  }
  return result;
}

int d4write(DATA4* data, long rec, int, int) {
  if (code4verify(data, 2, E4_D4WRITE)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (rec == -1) {
    rec = data->recNum;
  } else if (rec < 1) {
    return error4(c4, e4parm, E4_D4WRITE);
  }
  if (data->readOnly) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  }
  DATA4FILE* file = data->dataFile;
  const int changed = data->recordChanged;
  data->recordChanged = 0;
  long count = dfile4recCount(file);
  if (data->bofFlag || data->eofFlag || rec < 1 || count < 0 || rec > count) {
    data->recordChanged = changed;
    return error4describe(c4, e4write, E4_WRITE_MISSING_RECORD, data->alias, nullptr, nullptr);
  }
  bool started = false;
  if (data->logged && tran4logging(c4) && code4tranStatus(c4) != r4active) {
    if (int rc = code4tranStart(c4)) {
      data->recordChanged = changed;
      return rc;
    }
    started = true;
  }
  // Whatever stops the write before the data leaves the record changed, so
  // that a later move tries again.
  auto fail = [&](int rc) {
    data->recordChanged = changed;
    if (started) code4tranRollback(c4);
    return rc;
  };
  if (tran4active(data)) {
    int rc = LoadOld(data, rec);
    if (rc == 0) rc = LogChange(data, rec);
    if (rc < 0) return fail(rc);
  }
  if (int rc = d4writeKeys(data, rec)) return fail(rc);
  int memoResult = 0;
  for (int i = 0; i < data->nFieldsMemo; i++) {
    F4MEMO* m = &data->fieldsMemo[i];
    if (!m->dirty) continue;
    int rc = f4memoWrite(m->field);
    if (rc < 0) {
      d4unwriteKeys(data, rec);
      return fail(rc);
    }
    if (rc > 0) memoResult = rc;
  }
  int rc = d4writeData(data, rec);
  if (rc < 0) {
    int saved = error4set(c4, 0);
    d4unwriteKeys(data, rec);
    if (tran4active(data)) LogUndo(data, rec);
    error4set(c4, saved);
    return fail(rc);
  }
  if (started) code4tranCommit(c4);
  std::memcpy(data->recordOld, data->record, file->recWidth);
  data->recNumOld = rec;
  return memoResult;
}

int d4updateRecord(DATA4* data, int, int) {
  if (code4verify(data, 2, E4_D4UPDATE_RECORD)) return -1;
  if (data->recNum >= 1 && !data->eofFlag) {
    if (data->recordChanged) {
      int rc = d4write(data, data->recNum);
      if (rc != 0) return rc;
      d4memoReset(data);
      data->recNumOld = -1;
    } else {
      for (int i = 0; i < data->nFieldsMemo; i++) data->fieldsMemo[i].mustRead = 1;
    }
    return 0;
  }
  d4memoReset(data);
  data->recordChanged = 0;
  return 0;
}

int d4update(DATA4* data) {
  if (code4verify(data, 2, E4_D4UPDATE)) return -1;
  int rc = d4updateRecord(data, 0);
  if (rc != 0) return rc;
  DATA4FILE* file = data->dataFile;
  if (file->fileChanged && !file->readOnly) rc = dfile4updateHeader(file, 1, 1, 1);
  for (auto* index = static_cast<INDEX4FILE*>(l4first(&file->indexes)); index && rc == 0;
       index = static_cast<INDEX4FILE*>(l4next(&file->indexes, index))) {
    rc = index4flush(index);
  }
  return rc;
}

int dfile4updateHeader(DATA4FILE* file, int dateFlag, int countFlag, int autoFlag) {
  CODE4* c4 = file->c4;
  if (code4tranStatus(c4) == r4active || code4tranStatus(c4) == r4rollback) return 0;
  long count = file->minCount >= 0 ? file->minCount : file->numRecs;
  // The header's bytes 1..27: date, count, header and record length, the
  // autoincrement mark and the next value.
  unsigned char bytes[28] = {0};
  u4yymmdd(file->yymmdd);
  std::memcpy(bytes + 1, file->yymmdd, 3);
  QStoreU32LE(bytes + 4, uint32_t(count));
  QStoreU16LE(bytes + 8, file->headerLen);
  QStoreU16LE(bytes + 10, file->recWidth);
  bytes[12] = 1;
  QStoreF64LE(bytes + 20, file->autoIncrementVal);
  int from = dateFlag ? 1 : 4;
  int to = countFlag ? 10 : 4;
  if (autoFlag && countFlag && file->canAutoIncrement) to = 28;
  if (!countFlag && !dateFlag) return 0;
  if (file4write(&file->file, uint64_t(from), bytes + from, unsigned(to - from)) < 0) return -1;
  if (countFlag) file->numRecs = count;
  file->fileChanged = 0;
  return 0;
}

// ---- appending ----

int d4appendCheck(DATA4* data) {
  if (code4verify(data, 2, E4_D4APPEND)) return e4parm;
  if (data->codeBase->errorCode < 0) return -1;
  if (data->readOnly) {
    return error4describe(data->codeBase, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  }
  return 0;
}

int d4appendStart(DATA4* data, int useMemo) {
  if (code4verify(data, 2, E4_D4APPEND_START)) return -1;
  if (data->codeBase->errorCode < 0) return -1;
  if (int rc = d4updateRecord(data, 0)) return rc;
  bool copy = useMemo == 1 && data->recNum >= 1 && !data->eofFlag;
  for (int i = 0; i < data->nFieldsMemo; i++) {
    F4MEMO* m = &data->fieldsMemo[i];
    if (copy) {
      if (int rc = f4memoRead(m->field)) return rc;
      m->dirty = 0;
    } else {
      f4memoReset(m->field);
    }
    f4blank(m->field);
  }
  data->recNum = 0;
  return 0;
}

int d4append(DATA4* data) {
  if (int rc = d4appendCheck(data)) return rc;
  CODE4* c4 = data->codeBase;
  DATA4FILE* file = data->dataFile;
  const uint32_t width = file->recWidth;
  bool started = false;
  if (data->logged && tran4logging(c4) && code4tranStatus(c4) != r4active) {
    if (int rc = code4tranStart(c4)) return rc;
    started = true;
  }
  if (FIELD4* field = AutoIncrementField(data)) f4assignDouble(field, file->autoIncrementVal);
  const long count = dfile4recCount(file);
  // The header's count is 32 bits; without large-file support the file
  // stays within 4 GB.
  const long limit = c4->largeFileLimit ? 0xFFFFFFFEL : file->maxRecs;
  if (count < 0 || count >= limit) {
    if (started) code4tranRollback(c4);
    if (count < 0) return -1;
    return error4describe(c4, e4append, E4_D4APPEND, data->alias, nullptr, nullptr);
  }
  const long rec = count + 1;
  const long previous = data->recNum;
  data->bofFlag = data->eofFlag = 0;
  data->recNumOld = -1;
  const bool logged = tran4active(data);
  if (logged) {
    if (int rc = LogAppend(data, rec)) {
      if (started) code4tranRollback(c4);
      return rc;
    }
  }
  int rc = AppendKeys(data, rec);
  if (rc == 0) {
    rc = AppendMemos(data);
    if (rc == 0) {
      data->record[width] = kEndOfFile;
      rc = file4write(&file->file, dfile4recordPosition(file, rec), data->record, width + 1);
      data->record[width] = 0;
      if (rc < 0) RestoreEnd(file, count);
    }
    if (rc < 0) {
      int saved = error4set(c4, 0);
      UnappendKeys(data, rec);
      error4set(c4, saved);
    }
  }
  if (rc != 0) {
    if (logged) {
      int saved = error4set(c4, 0);
      LogUndo(data, rec);
      error4set(c4, saved);
    }
    data->recNum = previous;
    if (started) code4tranRollback(c4);
    return rc;
  }
  file->minCount = rec;
  if (!logged && !c4->deferredCount) file->numRecs = rec;
  file->fileChanged = 1;
  data->recNum = rec;
  data->recordChanged = 0;
  if (AutoIncrementField(data)) file->autoIncrementVal += 1.0;
  if (started) code4tranCommit(c4);
  return 0;
}

int d4unappend(DATA4* data) {
  if (code4verify(data, 2, E4_D4UNAPPEND)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  DATA4FILE* file = data->dataFile;
  long count = dfile4recCount(file);
  if (count < 1) return error4(c4, e4parm, E4_D4UNAPPEND);
  // Every step runs; the first error is the result.
  int first = 0;
  auto keep = [&](int rc) {
    if (rc < 0 && first == 0) first = rc;
    error4set(c4, 0);
  };
  data->recNum = count;
  file->minCount = count - 1;
  file->fileChanged = 1;
  unsigned char key[k4keyBufferSize];
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    int passes = 0;
    int rc = KeyOf(tag, data, data->record, key, &passes);
    if (rc >= 0 && passes) rc = t4removeKey(tag, key, count);
    keep(rc);
  }
  for (int i = 0; i < data->nFieldsMemo; i++) {
    FIELD4* field = data->fieldsMemo[i].field;
    int rc = f4memoAssignN(field, nullptr, 0);
    if (rc == 0) rc = f4memoWrite(field);
    keep(rc);
  }
  // The file ends with the records that stay, so that the count and the
  // length agree for every reader.
  keep(RestoreEnd(file, count - 1));
  data->recNum = data->recNumOld = -1;
  data->bofFlag = data->eofFlag = 0;
  data->recordChanged = 0;
  std::memcpy(data->record, data->recordBlank, file->recWidth);
  if (first) error4set(c4, first);
  return first;
}
