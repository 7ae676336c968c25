// Opening and closing index files, their tag handles, seeks and the moves in
// tag order, and the key functions of the write paths.
#include "xbase/index4.h"

#include <cstring>

#include "platform/endian.h"
#include "platform/env.h"
#include "xbase/block4.h"
#include "xbase/code4.h"
#include "xbase/collate4.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/file4.h"
#include "xbase/key4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/tfile4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"

namespace {

// The full name of an index of the data file: the given name completed with
// the current folder and the index extension (when it has none), or the
// data file's name with the index extension. 0 or -1 (reported).
int IndexName(DATA4* data, const char* name, char* full, int size) {
  CODE4* c4 = data->codeBase;
  char buffer[1024];
  if (name == nullptr || name[0] == 0) {
    u4ncpy(buffer, data->dataFile->fullName, sizeof buffer);
    if (u4nameExt(buffer, sizeof buffer, code4indexExtension(c4), 1) != 0) return -1;
    u4ncpy(full, buffer, unsigned(size));
    return 0;
  }
  u4ncpy(buffer, name, sizeof buffer);
  if (u4nameExt(buffer, sizeof buffer, code4indexExtension(c4), 0) != 0) return -1;
  if (u4nameCurrent(full, size, buffer) != 0) return error4(c4, e4parm, E4_U4NAME_CURRENT);
  return 0;
}

bool IsProduction(INDEX4FILE* file) {
  DATA4FILE* data = file->dataFile;
  if (data == nullptr) return false;
  char name[1024];
  u4ncpy(name, data->fullName, sizeof name);
  if (u4nameExt(name, sizeof name, code4indexExtension(data->c4), 1) != 0) return false;
  return platform::AsciiEqualsIgnoreCase(name, file->file.name);
}

void FreeTagFile(TFILE4* tag) {
  tfile4free(tag);
  u4free(tag);
}

// Releases an open index file's memory and closes its file (nothing is
// written).
void Discard(INDEX4FILE* file) {
  while (auto* tag = static_cast<TFILE4*>(l4pop(&file->tags))) {
    if (tag != file->tagIndex) FreeTagFile(tag);
  }
  if (file->tagIndex) FreeTagFile(file->tagIndex);
  file->tagIndex = nullptr;
  index4cacheFree(file);
  if (file->file.handle >= 0) file4close(&file->file);
  u4free(file);
}

// Reads the file header, the directory and every tag header.
int ReadTags(INDEX4FILE* file, DATA4* data) {
  CODE4* c4 = data->codeBase;
  const char* name = file->file.name;
  unsigned char header[28];
  if (file4readAll(&file->file, 0, header, sizeof header) != 0) return -1;
  uint32_t root = QLoadU32LE(header);
  if (root == 0 || root == k4noBlock || header[14] < 32) {
    return error4describe(c4, e4index, E4_ROOT_TYPE, name, nullptr, nullptr);
  }
  if (QLoadU32LE(header + 16) == k4blockMarker) {
    uint32_t size = QLoadU32LE(header + 20), multiplier = QLoadU32LE(header + 24);
    if (size < 512 || size % 512 != 0 || size > 32768 || multiplier < 1 || multiplier > 1024 ||
        size % multiplier != 0) {
      return error4describe(c4, e4index, E4_BLOCK_SIZE, name, nullptr, nullptr);
    }
    file->blockSize = uint16_t(size);
    file->multiplier = uint16_t(multiplier);
  }
  uint64_t length = file4len(&file->file);
  if (length == ~uint64_t(0)) return -1;
  uint64_t units = length / file->multiplier;
  file->eof = units > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(units);
  if (index4cacheInit(file) != 0) return error4(c4, e4memory, E4_INDEX4OPEN);
  auto* directory = static_cast<TFILE4*>(u4allocEr(c4, sizeof(TFILE4)));
  if (directory == nullptr) return e4memory;
  file->tagIndex = directory;
  // A file whose header is no directory holds one tag, named after the file.
  const bool single = header[14] < 64;
  char own[16] = {0};
  if (single) u4namePiece(own, sizeof own, name, 0, 0);
  if (int rc = tfile4init(directory, file, 0, single ? own : "", data)) return rc;
  file->versionOld = file->versionRead = directory->version;
  file->freeWritten = directory->freeList;
  if (single) {
    l4add(&file->tags, directory);
    return 0;
  }
  int rc = tfile4rlTop(directory);
  while (rc == 0 && !tfile4eof(directory)) {
    // The directory's keys are the names; a damaged key length may make them shorter.
    char tagName[k4tagNameLen + 1] = {0};
    const int nameLen = directory->keyLen < k4tagNameLen ? directory->keyLen : k4tagNameLen;
    std::memcpy(tagName, tfile4key(directory), size_t(nameLen));
    uint32_t position = uint32_t(tfile4recNo(directory));
    uint64_t at = index4offset(file, position);
    if (at < k4headerLen || at + k4headerLen > length) {
      return error4describe(c4, e4index, E4_CORRUPT_BLOCK, name, tagName, nullptr);
    }
    auto* tag = static_cast<TFILE4*>(u4allocEr(c4, sizeof(TFILE4)));
    if (tag == nullptr) return e4memory;
    // A tag that cannot be read refuses the file, whatever its permissions:
    // reading does not depend on them, and a writable file opened without
    // one of its tags would leave it behind on every change.
    if (int init = tfile4init(tag, file, position, tagName, data)) {
      FreeTagFile(tag);
      return init;
    }
    l4add(&file->tags, tag);
    if (tfile4skip(directory, 1) != 1) {
      if (c4->errorCode < 0) return -1;
      break;
    }
  }
  tfile4release(directory);
  return rc;
}

// A tag handle of an open tag, with its unique mode from the context.
TAG4* NewTag(INDEX4* index, TFILE4* tagFile) {
  CODE4* c4 = index->codeBase;
  auto* tag = static_cast<TAG4*>(u4allocEr(c4, sizeof(TAG4)));
  if (tag == nullptr) return nullptr;
  tag->index = index;
  tag->tagFile = tagFile;
  if (tagFile->typeCode & 0x04) {
    tag->errUnique = c4->errDefaultUnique == e4unique ? int16_t(e4candidate) : int16_t(15);
  } else if (tagFile->typeCode & 0x01) {
    tag->errUnique = c4->errDefaultUnique;
  }
  return tag;
}

// The tag moves n entries in its own order (descending tags the other way
// in storage); the entries moved, with the sign of n.
long LogicalSkip(TFILE4* tag, long n) {
  long moved = tfile4skip(tag, tag->descending ? -n : n);
  if (moved < 0 && tag->codeBase->errorCode < 0) return moved;
  return tag->descending ? -moved : moved;
}

// Goes to the record of the current entry, passing over entries whose record
// lies beyond the record count in the direction step. 0 found, 1 none left,
// or an error.
int GoToEntry(DATA4* data, TFILE4* tag, long step, long count) {
  CODE4* c4 = data->codeBase;
  while (!tfile4eof(tag)) {
    long rec = tfile4recNo(tag);
    if (rec >= 1 && rec <= count) return d4go(data, rec);
    long moved = LogicalSkip(tag, step);
    if (c4->errorCode < 0) return -1;
    if (moved != step) return 1;
  }
  return 1;
}

// The tag's key of the current record and whether the tag's entry under the
// cursor is exactly that record's.
bool OnRecord(DATA4* data, TAG4* tag, unsigned char* key, int* length) {
  TFILE4* t = tag->tagFile;
  int passes = 0;
  *length = t4keyCalc(tag, key, &passes);
  if (*length < 0 || tfile4eof(t)) return false;
  return passes && tfile4recNo(t) == data->recNum && std::memcmp(tfile4key(t), key, size_t(t->keyLen)) == 0;
}

}  // namespace

// ---- opening and closing ----

INDEX4FILE* index4open(DATA4* data, const char* name, INDEX4* index) {
  (void)index;
  CODE4* c4 = data->codeBase;
  DATA4FILE* dfile = data->dataFile;
  char full[1024];
  if (IndexName(data, name, full, sizeof full) != 0) return nullptr;
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(full, &info) == 0) {
    for (auto* open = static_cast<INDEX4FILE*>(l4first(&dfile->indexes)); open;
         open = static_cast<INDEX4FILE*>(l4next(&dfile->indexes, open))) {
      if (open->file.device != info.device || open->file.inode != info.inode) continue;
      for (auto* mine = static_cast<INDEX4*>(l4first(&data->indexes)); mine;
           mine = static_cast<INDEX4*>(l4next(&data->indexes, mine))) {
        if (mine->indexFile == open) {
          error4describe(c4, e4instance, E4_INDEX4OPEN, full, nullptr, nullptr);
          return nullptr;
        }
      }
      open->userCount++;
      return open;
    }
  }
  auto* file = static_cast<INDEX4FILE*>(u4allocEr(c4, sizeof(INDEX4FILE)));
  if (file == nullptr) return nullptr;
  file->file.handle = -1;
  if (file4open(&file->file, c4, full, 1) != 0) {
    u4free(file);
    return nullptr;
  }
  file->dataFile = dfile;
  file->blockSize = 512;
  file->multiplier = 1;
  if (ReadTags(file, data) != 0) {
    int saved = error4set(c4, 0);
    Discard(file);
    error4set(c4, saved < 0 ? saved : e4index);
    return nullptr;
  }
  file4optimize(&file->file, c4->optimizeDefault, 2, file->blockSize, file);
  file->userCount = 1;
  file->isValid = 1;
  l4add(&dfile->indexes, file);
  return file;
}

INDEX4* i4open(DATA4* data, const char* name) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_I4OPEN);
    return nullptr;
  }
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return nullptr;
  auto* index = static_cast<INDEX4*>(u4allocEr(c4, sizeof(INDEX4)));
  if (index == nullptr) return nullptr;
  index->data = data;
  index->codeBase = c4;
  index->indexFile = index4open(data, name, index);
  if (index->indexFile == nullptr) {
    u4free(index);
    return nullptr;
  }
  for (auto* tagFile = static_cast<TFILE4*>(l4first(&index->indexFile->tags)); tagFile;
       tagFile = static_cast<TFILE4*>(l4next(&index->indexFile->tags, tagFile))) {
    TAG4* tag = NewTag(index, tagFile);
    if (tag == nullptr) {
      i4close(index);
      error4(c4, e4memory, E4_I4OPEN);
      return nullptr;
    }
    l4add(&index->tags, tag);
  }
  u4ncpy(index->accessName, name ? name : data->alias, sizeof index->accessName);
  l4add(&data->indexes, index);
  index->isValid = 1;
  return index;
}

int index4close(INDEX4FILE* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_INDEX4CLOSE);
  if (file->userCount > 0) file->userCount--;
  // The production index stays with its open data file.
  bool keep = file->userCount > 0 || (file->dataFile && file->dataFile->userCount > 0 && IsProduction(file));
  if (keep) return index4flush(file);
  CODE4* c4 = file->file.codeBase;
  int rc = 0;
  if (!file->file.removeOnClose) rc = index4flush(file);
  if (file->dataFile) l4remove(&file->dataFile->indexes, file);
  while (auto* tag = static_cast<TFILE4*>(l4pop(&file->tags))) {
    if (tag != file->tagIndex) FreeTagFile(tag);
  }
  if (file->tagIndex) FreeTagFile(file->tagIndex);
  file->tagIndex = nullptr;
  index4cacheFree(file);
  int closeRc = file4close(&file->file);
  if (rc == 0) rc = closeRc;
  u4free(file);
  return (rc < 0 || (c4 && c4->errorCode < 0)) ? -1 : 0;
}

int i4close(INDEX4* index) {
  if (index == nullptr) return error4(nullptr, e4parmNull, E4_I4CLOSE);
  CODE4* c4 = index->codeBase;
  if (code4tranStatus(c4) == r4active) return error4(c4, e4transViolation, E4_I4CLOSE_TRANSACTION);
  DATA4* data = index->data;
  int rc = 0;
  if (data) {
    if (data->dataFile && data->record) rc = d4update(data);
    if (data->tagSelected && data->tagSelected->index == index) data->tagSelected = nullptr;
    l4remove(&data->indexes, index);
  }
  while (auto* tag = static_cast<TAG4*>(l4pop(&index->tags))) u4free(tag);
  if (index->indexFile) {
    int closeRc = index4close(index->indexFile);
    if (rc == 0) rc = closeRc;
  }
  u4free(index);
  return rc;
}

TAG4* i4tag(INDEX4* index, const char* name) {
  if (index == nullptr || name == nullptr) {
    error4(index ? index->codeBase : nullptr, e4parmNull, E4_I4TAG);
    return nullptr;
  }
  char wanted[11];
  u4ncpy(wanted, name, sizeof wanted);
  for (char& c : wanted) c = platform::AsciiUpper(c);
  for (auto* tag = static_cast<TAG4*>(l4first(&index->tags)); tag;
       tag = static_cast<TAG4*>(l4next(&index->tags, tag))) {
    if (tag->tagFile && std::strcmp(tag->tagFile->alias, wanted) == 0) return tag;
  }
  if (index->codeBase->tagNameError) {
    error4describe(index->codeBase, e4tagName, E4_I4TAG, name, nullptr, nullptr);
  }
  return nullptr;
}

const char* i4fileName(INDEX4* index) {
  if (index == nullptr) {
    error4(nullptr, e4parmNull, E4_I4FILE_NAME);
    return nullptr;
  }
  return index->indexFile->file.name;
}

const char* t4alias(TAG4* tag) {
  if (tag == nullptr) {
    error4(nullptr, e4parmNull, E4_T4ALIAS);
    return nullptr;
  }
  if (tag->tagFile == nullptr) {
    error4(tag->index ? tag->index->codeBase : nullptr, e4parm, E4_T4ALIAS);
    return nullptr;
  }
  return tag->tagFile->alias;
}

int t4unique(TAG4* tag) {
  if (tag == nullptr) return error4(nullptr, e4parmNull, E4_T4UNIQUE);
  if (tag->tagFile == nullptr) return error4(nullptr, e4parm, E4_T4UNIQUE);
  return (tag->tagFile->typeCode & 0x05) ? tag->errUnique : 0;
}

INDEX4* d4index(DATA4* data, const char* name) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_D4INDEX);
    return nullptr;
  }
  char full[1024];
  int saved = error4set(data->codeBase, 0);
  int named = IndexName(data, name, full, sizeof full);
  error4set(data->codeBase, saved);
  if (named != 0) return nullptr;
  for (auto* index = static_cast<INDEX4*>(l4first(&data->indexes)); index;
       index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
    if (index->indexFile && platform::AsciiEqualsIgnoreCase(index->indexFile->file.name, full)) return index;
  }
  return nullptr;
}

int d4openProductionIndex(DATA4* data) {
  CODE4* c4 = data->codeBase;
  DATA4FILE* file = data->dataFile;
  if (!(file->tableFlags & 0x01) || !c4->autoOpen) return 0;
  int singleOpen = c4->singleOpen;
  c4->singleOpen = 3;
  INDEX4* index = i4open(data, nullptr);
  c4->singleOpen = singleOpen;
  if (index != nullptr) {
    file->hasProduction = 1;
    return 0;
  }
  if (!c4->reportOpenFailure) {
    c4->errorCode = r4noOpen;
    return 0;
  }
  if (c4->errorCode >= 0) return error4(c4, e4open, E4_D4OPEN);
  return c4->errorCode;
}

int d4freeBlocks(DATA4* data) {
  if (data == nullptr) return error4(nullptr, e4parmNull, E4_D4FREE_BLOCKS);
  int rc = 0;
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    if (index4blocksDrop(tag->index->indexFile, tag->tagFile) != 0) rc = -1;
  }
  return rc;
}

// ---- keys of the write paths ----

int t4keyCalc(TAG4* tag, unsigned char* key, int* passes) {
  TFILE4* t = tag->tagFile;
  DATA4* data = tag->index->data;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  *passes = 1;
  if (t->filter != nullptr) {
    expr4context(t->filter, data);
    int rc = expr4true(t->filter);
    if (rc < 0) return -1;
    *passes = rc;
  }
  expr4context(t->expr, data);
  char* result = nullptr;
  int length = expr4key(t->expr, &result, t);
  if (length < 0) return -1;
  if (length != t->keyLen) return error4describe(c4, e4index, E4_EXPR_TAG_LENGTH, t->alias, nullptr, nullptr);
  std::memcpy(key, result, size_t(length));
  return length;
}

int t4addKey(TAG4* tag, const unsigned char* key, long rec) {
  return tfile4add(tag->tagFile, key, uint32_t(rec), tag->errUnique);
}

int t4removeKey(TAG4* tag, const unsigned char* key, long rec) {
  return tfile4remove(tag->tagFile, key, uint32_t(rec));
}

// ---- seeks and moves ----

int d4seek(DATA4* data, const char* text) {
  if (data == nullptr || text == nullptr) return error4(data ? data->codeBase : nullptr, e4parmNull, E4_D4SEEK);
  return d4seekN(data, text, int(std::strlen(text)));
}

int d4seekN(DATA4* data, const char* text, int length) {
  if (data == nullptr || text == nullptr) return error4(data ? data->codeBase : nullptr, e4parmNull, E4_D4SEEK_N);
  if (code4verify(data, 2, E4_D4SEEK_N)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  TAG4* tag = d4tagDefault(data);
  if (tag == nullptr) return r4noTag;
  if (int rc = d4updateRecord(data, 0)) return rc;
  TFILE4* t = tag->tagFile;
  unsigned char key[k4keyBufferSize];
  int searchLen = t->keyLen;
  const bool fox = data->dataFile->compatibility == k4dialectFox;
  if (fox && length == 0) {
    std::memset(key, 0, size_t(t->keyLen));
  } else {
    expr4context(t->expr, data);
    const int type = t->expr->type;
    const bool prefix = fox && (t->typeCode & 0x02);
    const int room = t->keyLen - (prefix ? 1 : 0);
    if (type == 'C') {
      COLLATE4* collation = collate4entry(t->collateName);
      int factor = (collation != nullptr && collation->kind != 0 ? collation->expansion : 0) + 1;
      if (length > t->keyLen / factor) length = t->keyLen / factor;
    }
    if (length < 0) length = 0;
    unsigned char* at = key + (prefix ? 1 : 0);
    std::memset(at, t->pad, size_t(room));
    int converted = t->textToKey(t, at, text, length);
    if (converted < 0) return error4(c4, e4notSupported, E4_COLLATION);
    if (prefix) key[0] = 0x80;
    if (type == 'C') {
      searchLen = (converted > 0 ? converted : length) + (prefix ? 1 : 0);
    } else if (type == 'W' || type == 'O') {
      searchLen = (converted > 0 ? converted : 2 * length) + (prefix ? 1 : 0);
    }
  }
  int rc = tfile4seek(t, key, searchLen);
  if (rc < 0) return rc;
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  if (rc == r4eof || tfile4eof(t)) return d4goEof(data);
  int found = GoToEntry(data, t, 1, count);
  if (found < 0) return found;
  if (found > 0) return d4goEof(data);
  return rc;
}

int d4topTag(DATA4* data, TAG4* tag) {
  if (int rc = d4updateRecord(data, 0)) return rc;
  TFILE4* t = tag->tagFile;
  if (int rc = tfile4top(t)) return rc;
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  int rc = GoToEntry(data, t, 1, count);
  if (rc <= 0) return rc;
  data->bofFlag = 1;
  return d4goEof(data);
}

int d4bottomTag(DATA4* data, TAG4* tag) {
  if (int rc = d4updateRecord(data, 0)) return rc;
  TFILE4* t = tag->tagFile;
  if (int rc = tfile4bottom(t)) return rc;
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  int rc = GoToEntry(data, t, -1, count);
  if (rc <= 0) return rc;
  data->bofFlag = 1;
  return d4goEof(data);
}

int d4skipTag(DATA4* data, TAG4* tag, long n) {
  CODE4* c4 = data->codeBase;
  TFILE4* t = tag->tagFile;
  if (data->eofFlag) {
    if (n >= 0) return d4goEof(data);
    int rc = d4bottomTag(data, tag);
    if (rc == r4eof) return r4bof;
    if (rc != 0) return rc;
    if (++n == 0) return 0;
  }
  if (int rc = d4updateRecord(data, 0)) return rc;
  if (n == 0) return 0;
  unsigned char key[k4keyBufferSize];
  int length = 0;
  if (!OnRecord(data, tag, key, &length)) {
    if (length < 0) return -1;
    int rc = tfile4go(t, key, uint32_t(data->recNum));
    if (rc < 0) return rc;
    if (rc == 1 || rc == r4eof) {
      // The record has no entry: the cursor stands on the entry after its
      // place in storage, one step already made for that direction.
      bool forwardInStorage = (n > 0) != (t->descending != 0);
      if (rc == 1 && forwardInStorage) n += n > 0 ? -1 : 1;
    }
  }
  long count = dfile4recCount(data->dataFile);
  if (count < 0) return -1;
  long moved = n != 0 ? LogicalSkip(t, n) : 0;
  if (c4->errorCode < 0) return -1;
  if (n > 0 && (moved < n || tfile4eof(t))) return d4goEof(data);
  const long step = n >= 0 ? 1 : -1;
  int rc = GoToEntry(data, t, step, count);
  if (rc < 0) return rc;
  if (rc == 0) {
    if (moved == n || n >= 0) return 0;
    data->bofFlag = 1;
    return r4bof;
  }
  data->bofFlag = 1;
  return d4goEof(data);
}
