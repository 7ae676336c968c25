// Creating index files, adding tags, rebuilding every tag from the data file:
// each tag's keys go through the sort and are written bottom-up into full
// blocks; the tag headers and the tag directory follow the blocks.
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
#include "xbase/index4.h"
#include "xbase/key4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/opt4.h"
#include "xbase/sort4.h"
#include "xbase/tfile4.h"
#include "xbase/util4.h"

namespace {

constexpr unsigned kWriteBuffer = 64 * 1024;
constexpr int kNameNotFound = -1420;

// ---- writing blocks at reserved positions ----

// Blocks are written where they were reserved; consecutive ones go out in
// one write.
struct BlockWriter {
  INDEX4FILE* file = nullptr;
  unsigned char* buffer = nullptr;
  uint64_t start = 0;  // file offset of buffer[0]
  unsigned length = 0;
  uint64_t end = 0;  // the furthest byte written
  uint32_t next = 0;  // the next free position

  int Flush() {
    if (length == 0) return 0;
    int rc = file4write(&file->file, start, buffer, length);
    length = 0;
    return rc < 0 ? rc : 0;
  }
  int Write(const BLOCK4* b) {
    const unsigned size = file->blockSize;
    uint64_t at = index4offset(file, b->position);
    if (length > 0 && (at != start + length || length + size > kWriteBuffer)) {
      if (int rc = Flush()) return rc;
    }
    if (length == 0) start = at;
    b4encode(b, buffer + length, size);
    length += size;
    if (at + size > end) end = at + size;
    return 0;
  }
  uint32_t Reserve() {
    uint32_t pos = next;
    next += file->blockSize / file->multiplier;
    return pos;
  }
};

// One level of a tag being built bottom-up.
struct Level {
  BLOCK4* block;
  bool active;
  int written;
};

// Builds one tag's blocks from keys in ascending order.
struct TreeWriter {
  TFILE4* tag;
  BlockWriter* out;
  uint32_t maxRec;
  Level levels[k4maxDepth];
  int error = 0;

  int Start(int level, bool leaf) {
    Level& lv = levels[level];
    if (lv.block == nullptr) {
      lv.block = static_cast<BLOCK4*>(u4allocEr(tag->codeBase, sizeof(BLOCK4)));
      if (lv.block == nullptr) return e4memory;
      lv.block->tag = tag;
      if (int rc = b4reserve(lv.block, 16)) return rc;
    }
    BLOCK4* b = lv.block;
    b->nKeys = 0;
    b->storedBytes = 0;
    b->left = b->right = k4noBlock;
    b->attribute = leaf ? 2 : 0;
    if (leaf) b4leafInit(b, tag->keyLen, maxRec);
    b->position = out->Reserve();
    lv.active = true;
    return 0;
  }

  int Add(int level, const unsigned char* key, uint32_t rec, uint32_t child) {
    if (level >= k4maxDepth) return error4(tag->codeBase, e4index, E4_R4REINDEX);
    Level& lv = levels[level];
    if (!lv.active) {
      if (int rc = Start(level, level == 0)) return rc;
    }
    BLOCK4* b = lv.block;
    if (int rc = b4reserve(b, b->nKeys + 1)) return rc;
    if (b4leaf(b)) b4widen(b, rec);
    b4insertEntry(b, b->nKeys, key, rec, child);
    if (!b4overfull(b, out->file->blockSize)) return 0;
    b4removeEntry(b, b->nKeys - 1);
    // The full block goes out, pointing at the block that follows it.
    uint32_t following = out->Reserve();
    b->right = following;
    if (int rc = out->Write(b)) return rc;
    lv.written++;
    uint32_t full = b->position;
    if (int rc = Add(level + 1, b4key(b, b->nKeys - 1), b4lastRec(b), full)) return rc;
    b->nKeys = 0;
    b->storedBytes = 0;
    b->left = full;
    b->right = k4noBlock;
    b->position = following;
    if (b4leaf(b)) b4widen(b, rec);
    b4insertEntry(b, 0, key, rec, child);
    if (b4overfull(b, out->file->blockSize)) return error4(tag->codeBase, e4index, E4_R4REINDEX);
    return 0;
  }

  // Writes the blocks still open from the bottom up; the tag's root.
  int Finish(uint32_t* root) {
    if (!levels[0].active) {
      if (int rc = Start(0, true)) return rc;
    }
    for (int level = 0; level < k4maxDepth; level++) {
      Level& lv = levels[level];
      if (!lv.active) continue;
      BLOCK4* b = lv.block;
      const bool top = lv.written == 0 && (level + 1 >= k4maxDepth || !levels[level + 1].active);
      if (top) {
        b->attribute = uint16_t(b4leaf(b) ? 3 : 1);
        *root = b->position;
        return out->Write(b);
      }
      if (int rc = out->Write(b)) return rc;
      if (int rc = Add(level + 1, b4key(b, b->nKeys - 1), b4lastRec(b), b->position)) return rc;
    }
    return error4(tag->codeBase, e4index, E4_R4REINDEX);
  }

  void Free() {
    for (Level& lv : levels) {
      if (lv.block) {
        b4release(lv.block);
        u4free(lv.block);
      }
      lv = Level{};
    }
  }
};

// Writes a tag's sorted keys as blocks; unique tags drop or refuse equal
// keys by mode. 0, 20, or an error.
int WriteSorted(TFILE4* tag, SORT4* sort, BlockWriter* out, uint32_t maxRec, bool unique, int mode,
                uint32_t* root) {
  CODE4* c4 = tag->codeBase;
  TreeWriter tree{};
  tree.tag = tag;
  tree.out = out;
  tree.maxRec = maxRec;
  unsigned char previous[k4keyBufferSize];
  bool havePrevious = false;
  int rc = 0;
  while (rc == 0) {
    long rec = 0;
    void* key = nullptr;
    int got = sort4get(sort, &rec, &key, nullptr);
    if (got == r4done) break;
    if (got < 0) {
      rc = got;
      break;
    }
    if (unique && havePrevious && std::memcmp(previous, key, size_t(tag->keyLen)) == 0) {
      if (mode == 20 || mode == 15) {
        rc = r4unique;
      } else if (mode == e4unique || mode == e4candidate) {
        rc = error4describe(c4, e4unique, E4_CREATING_TAG, tag->alias, nullptr, nullptr);
      }
      continue;
    }
    std::memcpy(previous, key, size_t(tag->keyLen));
    havePrevious = true;
    rc = tree.Add(0, static_cast<unsigned char*>(key), uint32_t(rec), 0);
  }
  if (rc == 0) rc = tree.Finish(root);
  tree.Free();
  sort4free(sort);
  return rc;
}

// Puts every record's key of the tag into the sort: the data file is read
// in order into the handle's record buffer (given back afterwards).
int SortRecords(DATA4* data, TFILE4* tag, SORT4* sort) {
  CODE4* c4 = data->codeBase;
  DATA4FILE* dfile = data->dataFile;
  if (int rc = sort4initFree(sort, c4, tag->keyLen, 0, nullptr)) return rc;
  const unsigned width = dfile->recWidth;
  long count = dfile4recCount(dfile);
  if (count < 0) return -1;
  unsigned size = unsigned(c4->memSizeSortBuffer > 1024 ? c4->memSizeSortBuffer : 1024);
  if (size < width) size = width;
  auto* buffer = static_cast<char*>(u4allocEr(c4, long(size)));
  auto* saved = static_cast<char*>(u4allocEr(c4, long(width) + 1));
  if (buffer == nullptr || saved == nullptr) {
    u4free(buffer);
    u4free(saved);
    return e4memory;
  }
  std::memcpy(saved, data->record, width + 1);
  FILE4SEQ_READ reader;
  int rc = file4seqReadInit(&reader, &dfile->file, dfile->headerLen, buffer, size);
  if (tag->expr) expr4context(tag->expr, data);
  if (tag->filter) expr4context(tag->filter, data);
  for (long rec = 1; rec <= count && rc == 0; rec++) {
    rc = file4seqReadAll(&reader, data->record, width);
    if (rc != 0) break;
    if (data->nFieldsMemo > 0) d4memoReset(data);
    if (tag->filter) {
      int passes = expr4true(tag->filter);
      if (passes < 0) {
        rc = -1;
        break;
      }
      tag->filterMarked = 1;
      if (!passes) continue;
    }
    char* key = nullptr;
    int length = expr4key(tag->expr, &key, tag);
    if (length != tag->keyLen) {
      rc = length < 0 ? -1 : error4describe(c4, e4index, E4_EXPR_TAG_LENGTH, tag->alias, nullptr, nullptr);
      break;
    }
    rc = sort4put(sort, rec, key, nullptr);
  }
  std::memcpy(data->record, saved, width + 1);
  if (data->nFieldsMemo > 0) d4memoReset(data);
  u4free(buffer);
  u4free(saved);
  if (rc == 0) rc = sort4getInitFree(sort, nullptr);
  if (rc != 0) sort4free(sort);
  return rc;
}

// The directory's keys: every tag's name, blank-padded, with its header
// position.
int SortNames(INDEX4FILE* file, SORT4* sort) {
  CODE4* c4 = file->file.codeBase;
  if (int rc = sort4init(sort, c4, k4tagNameLen, 0)) return rc;
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    char name[k4tagNameLen];
    std::memset(name, ' ', sizeof name);
    std::memcpy(name, tag->alias, std::strlen(tag->alias));
    if (int rc = sort4put(sort, long(tag->headerOffset), name, nullptr)) {
      sort4free(sort);
      return rc;
    }
  }
  int rc = sort4getInit(sort);
  if (rc != 0) sort4free(sort);
  return rc;
}

// The 1024 bytes of a tag header (or of the file header for the directory);
// the pool takes poolLen bytes.
void HeaderImage(const INDEX4FILE* file, const TFILE4* tag, unsigned char* out, unsigned poolLen) {
  std::memset(out, 0, 512 + poolLen);
  QStoreU32LE(out, tag->root);
  QStoreU32LE(out + 4, tag == file->tagIndex ? tag->freeList : 0);
  QStoreU32BE(out + 8, tag->version);
  QStoreU16LE(out + 12, uint32_t(tag->keyLen));
  out[14] = tag->typeCode;
  out[15] = tag->signature;
  if (tag == file->tagIndex && (file->blockSize != 512 || file->multiplier != 1)) {
    QStoreU32LE(out + 16, k4blockMarker);
    QStoreU32LE(out + 20, file->blockSize);
    QStoreU32LE(out + 24, file->multiplier);
  }
  std::memcpy(out + 494, tag->collation, 8);
  QStoreU16LE(out + 502, tag->descending ? 1 : 0);
  QStoreU16LE(out + 504, tag->filterPos);
  QStoreU16LE(out + 506, tag->filterLen);
  QStoreU16LE(out + 508, tag->exprPos);
  QStoreU16LE(out + 510, tag->exprLen);
  if (tag->expr) {
    std::memcpy(out + 512 + tag->exprPos, tag->expr->source, tag->exprLen - 1u);
    if (tag->filter) std::memcpy(out + 512 + tag->filterPos, tag->filter->source, tag->filterLen - 1u);
  }
}

void DirectoryFields(TFILE4* directory) {
  directory->keyLen = k4tagNameLen;
  directory->typeCode = 0xE0;
  directory->signature = 1;
  directory->pad = ' ';
  directory->filterPos = 1;
  directory->filterLen = 1;
  directory->exprPos = 0;
  directory->exprLen = 1;
}

// Key length, conversions and pad of a tag whose expression is parsed.
int KeyForm(TFILE4* tag) {
  CODE4* c4 = tag->codeBase;
  tag->keyWide = (tag->expr->type == 'W' || tag->expr->type == 'O') ? 1 : 0;
  tag->keyLen = int16_t(expr4keyLen(tag->expr));
  if (key4conversions(tag->expr->type, &tag->textToKey, &tag->numberToKey) != 0) {
    return error4describe(c4, e4info, E4_KEY_TYPE, tag->alias, nullptr, nullptr);
  }
  COLLATE4* collation = collate4entry(tag->collateName);
  bool collated = collation != nullptr && collation->kind != 0;
  tag->pad = (tag->expr->type == 'C' && !collated) ? ' ' : 0;
  return 0;
}

// A tag file from its definition (creating: the checks of a new file;
// otherwise those of a tag added to an open one).
int SetupTag(DATA4* data, INDEX4FILE* file, const TAG4INFO* def, TFILE4* tag, bool creating) {
  CODE4* c4 = data->codeBase;
  tag->codeBase = c4;
  tag->indexFile = file;
  tag->signature = 1;
  tag->typeCode = 0x60;
  u4ncpy(tag->alias, def->name, sizeof tag->alias);
  c4trimTrailing(tag->alias);
  for (char* p = tag->alias; *p; p++) *p = platform::AsciiUpper(*p);
  const int unique = def->unique;
  bool candidate = false;
  if (unique != 0) {
    if (unique != e4unique && unique != r4unique && unique != r4uniqueContinue && unique != 15 &&
        unique != e4candidate) {
      return error4describe(c4, e4tagInfo, E4_UNIQUE_FLAG, tag->alias, nullptr, nullptr);
    }
    candidate = creating && (unique == 15 || unique == e4candidate);
    tag->typeCode = candidate ? 0x64 : 0x61;
  }
  if (def->descending != 0) {
    if (creating && def->descending != 10) {
      return error4describe(c4, e4tagInfo, E4_DESCENDING_FLAG, tag->alias, nullptr, nullptr);
    }
    tag->descending = 1;
  }
  if (def->expression == nullptr || def->expression[0] == 0) {
    return error4describe(c4, e4tagInfo, E4_TAG_EXPR_MISSING, tag->alias, nullptr, nullptr);
  }
  const char* filter = (def->filter != nullptr && def->filter[0] != 0) ? def->filter : nullptr;
  size_t exprLen = std::strlen(def->expression) + 1;
  size_t filterLen = filter ? std::strlen(filter) + 1 : 1;
  if (exprLen >= 256 || filterLen >= 256) {
    return error4describe(c4, e4tagInfo, E4_SOURCE_LENGTH, tag->alias, def->expression, filter);
  }
  tag->expr = expr4parse(data, def->expression, tag);
  if (tag->expr == nullptr) return c4->errorCode < 0 ? c4->errorCode : error4(c4, e4memory, E4_I4CREATE);
  bool nullable = false;
  for (int i = 0; i < tag->expr->infoN; i++) {
    if (tag->expr->info[i].field != nullptr && tag->expr->info[i].field->null) nullable = true;
  }
  if (nullable && !candidate) tag->typeCode |= 0x02;
  int collation = collate4forTag(c4, tag->expr, tag->collation);
  if (collation < 0) return collation;
  if (collation > 1 && collate4ready(c4, collation) != 0) return -1;
  tag->collateName = collation;
  tag->exprPos = 0;
  tag->exprLen = uint16_t(exprLen);
  tag->filterPos = uint16_t(exprLen);
  tag->filterLen = uint16_t(filterLen);
  if (filter) {
    tag->typeCode |= 0x08;
    tag->filter = expr4parse(data, filter, tag);
    if (tag->filter == nullptr) return c4->errorCode < 0 ? c4->errorCode : error4(c4, e4memory, E4_I4CREATE);
    if (tag->filter->type != 'L') {
      return error4describe(c4, e4create, E4_EXPECT_LOGICAL, tag->alias, filter, nullptr);
    }
  }
  return KeyForm(tag);
}

// The key lengths that a block of the file can hold two entries of.
int CheckKeyLength(INDEX4FILE* file, TFILE4* tag) {
  long capacity = long(file->blockSize - 12) / (tag->keyLen + 8);
  if (capacity < 2 || tag->keyLen < 1 || tag->keyLen > long(k4keyBufferSize) - 8) {
    return error4describe(tag->codeBase, e4index, E4_R4REINDEX, tag->alias, nullptr, nullptr);
  }
  return 0;
}

void FreeTagFile(TFILE4* tag) {
  tfile4free(tag);
  u4free(tag);
}

// Every tag of the file rebuilt from the data file and written with fresh
// headers from position 0: 0, 20, or an error.
int BuildFile(INDEX4FILE* file, DATA4* data, TAG4* const* modes) {
  CODE4* c4 = data->codeBase;
  TFILE4* directory = file->tagIndex;
  const bool single = (directory->typeCode & 0x80) == 0;
  // Every cursor, decoded block and held removal goes: the whole file is
  // written anew.
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    tfile4release(tag);
    tfile4forgetHeld(tag);
  }
  tfile4release(directory);
  index4cacheFree(file);
  if (index4cacheInit(file) != 0) return error4(c4, e4memory, E4_I4REINDEX);
  int count = 0;
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    expr4context(tag->expr, data);
    if (tag->filter) expr4context(tag->filter, data);
    if (int rc = KeyForm(tag)) return rc;
    if (int rc = CheckKeyLength(file, tag)) return rc;
    count++;
  }
  const uint32_t units = k4headerLen / file->multiplier;
  uint32_t headerAt = single ? 0 : units;
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    tag->headerOffset = headerAt;
    headerAt += units;
  }
  BlockWriter out;
  out.file = file;
  out.next = headerAt;
  out.end = index4offset(file, headerAt);
  out.buffer = static_cast<unsigned char*>(u4allocEr(c4, kWriteBuffer));
  if (out.buffer == nullptr) return e4memory;
  int rc = 0;
  directory->version++;
  if (!single) {
    SORT4 sort;
    rc = SortNames(file, &sort);
    if (rc == 0) rc = WriteSorted(directory, &sort, &out, headerAt, true, e4unique, &directory->root);
  }
  const long records = dfile4recCount(data->dataFile);
  int tagIndex = 0;
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag && rc == 0;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag)), tagIndex++) {
    SORT4 sort;
    rc = SortRecords(data, tag, &sort);
    if (rc != 0) break;
    int mode = modes && modes[tagIndex] ? modes[tagIndex]->errUnique : 0;
    tag->version = directory->version;
    rc = WriteSorted(tag, &sort, &out, records > 0 ? uint32_t(records) : 0, (tag->typeCode & 0x05) != 0, mode,
                     &tag->root);
    tag->rootWrite = 0;
  }
  if (rc == 0) rc = out.Flush();
  u4free(out.buffer);
  if (rc != 0) return rc;
  // The headers, then the file's length at the end of the last block.
  unsigned char header[k4headerLen];
  directory->freeList = 0;
  if (!single) {
    HeaderImage(file, directory, header, 512);
    if (int w = file4write(&file->file, 0, header, k4headerLen)) return w;
  }
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    HeaderImage(file, tag, header, 512);
    if (int w = file4write(&file->file, index4offset(file, tag->headerOffset), header, k4headerLen)) return w;
  }
  if (int w = file4lenSet(&file->file, out.end)) return w;
  file->eof = uint32_t(out.end / file->multiplier);
  file->versionOld = directory->version;
  file->freeWritten = 0;
  file->headerChanged = 0;
  directory->rootWrite = 0;
  return 0;
}

// The TAG4 handles of an index, in tag order, for the build's unique modes.
TAG4** ModesOf(INDEX4* index) {
  unsigned n = l4numNodes(&index->tags);
  auto* modes = static_cast<TAG4**>(u4allocEr(index->codeBase, long(sizeof(TAG4*)) * (n + 1)));
  if (modes == nullptr) return nullptr;
  unsigned i = 0;
  for (auto* tagFile = static_cast<TFILE4*>(l4first(&index->indexFile->tags)); tagFile;
       tagFile = static_cast<TFILE4*>(l4next(&index->indexFile->tags, tagFile)), i++) {
    for (auto* tag = static_cast<TAG4*>(l4first(&index->tags)); tag;
         tag = static_cast<TAG4*>(l4next(&index->tags, tag))) {
      if (tag->tagFile == tagFile && i < n) modes[i] = tag;
    }
  }
  return modes;
}

// Releases a half-made index file and deletes it.
void DiscardNew(INDEX4FILE* file) {
  while (auto* tag = static_cast<TFILE4*>(l4pop(&file->tags))) FreeTagFile(tag);
  if (file->tagIndex) FreeTagFile(file->tagIndex);
  index4cacheFree(file);
  file->file.removeOnClose = 1;
  if (file->file.handle >= 0) file4close(&file->file);
  u4free(file);
}

TAG4* NewTag(INDEX4* index, TFILE4* tagFile, int16_t mode) {
  auto* tag = static_cast<TAG4*>(u4allocEr(index->codeBase, sizeof(TAG4)));
  if (tag == nullptr) return nullptr;
  tag->index = index;
  tag->tagFile = tagFile;
  tag->errUnique = mode;
  l4add(&index->tags, tag);
  return tag;
}

}  // namespace

INDEX4* i4create(DATA4* data, const char* name, const TAG4INFO* tags) {
  if (data == nullptr || tags == nullptr) {
    error4(data ? data->codeBase : nullptr, e4parmNull, E4_I4CREATE);
    return nullptr;
  }
  if (code4verify(data, 2, E4_I4CREATE)) return nullptr;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return nullptr;
  DATA4FILE* dfile = data->dataFile;
  char full[1024];
  {
    char buffer[1024];
    u4ncpy(buffer, name ? name : dfile->fullName, sizeof buffer);
    if (u4nameExt(buffer, sizeof buffer, code4indexExtension(c4), name ? 0 : 1) != 0 ||
        u4nameCurrent(full, sizeof full, buffer) != 0) {
      error4describe(c4, e4create, E4_I4CREATE, name, nullptr, nullptr);
      return nullptr;
    }
  }
  for (auto* open = static_cast<INDEX4FILE*>(l4first(&dfile->indexes)); open;
       open = static_cast<INDEX4FILE*>(l4next(&dfile->indexes, open))) {
    if (platform::AsciiEqualsIgnoreCase(open->file.name, full)) {
      error4describe(c4, kNameNotFound, E4_INDEX_OPEN_ALREADY, full, nullptr, nullptr);
      return nullptr;
    }
  }
  const long blockSize = c4->indexBlockSize, multiplier = c4->indexMultiplier;
  if (blockSize < 512 || blockSize % 512 != 0 || blockSize > 32768 || multiplier < 1 || multiplier > 1024 ||
      blockSize % multiplier != 0 || 1024 % multiplier != 0) {
    error4describe(c4, e4index, E4_BLOCK_SIZE, full, nullptr, nullptr);
    return nullptr;
  }
  auto* index = static_cast<INDEX4*>(u4allocEr(c4, sizeof(INDEX4)));
  auto* file = static_cast<INDEX4FILE*>(u4allocEr(c4, sizeof(INDEX4FILE)));
  auto* directory = static_cast<TFILE4*>(u4allocEr(c4, sizeof(TFILE4)));
  if (index == nullptr || file == nullptr || directory == nullptr) {
    u4free(index);
    u4free(file);
    u4free(directory);
    return nullptr;
  }
  file->file.handle = -1;
  int created = file4create(&file->file, c4, full, 1);
  if (created != 0) {
    u4free(index);
    u4free(file);
    u4free(directory);
    return nullptr;
  }
  file->dataFile = dfile;
  file->blockSize = uint16_t(blockSize);
  file->multiplier = uint16_t(multiplier);
  file->tagIndex = directory;
  directory->codeBase = c4;
  directory->indexFile = file;
  DirectoryFields(directory);
  index->data = data;
  index->codeBase = c4;
  index->indexFile = file;
  int rc = 0;
  int n = 0;
  for (const TAG4INFO* def = tags; def->name != nullptr && rc == 0; def++, n++) {
    auto* tag = static_cast<TFILE4*>(u4allocEr(c4, sizeof(TFILE4)));
    if (tag == nullptr) {
      rc = e4memory;
      break;
    }
    l4add(&file->tags, tag);
    rc = SetupTag(data, file, def, tag, true);
    if (rc == 0 && !NewTag(index, tag, def->unique)) rc = e4memory;
  }
  TAG4** modes = rc == 0 ? ModesOf(index) : nullptr;
  if (rc == 0 && modes == nullptr) rc = e4memory;
  if (rc == 0) rc = BuildFile(file, data, modes);
  u4free(modes);
  if (rc == 0 && index4flush(file) != 0) rc = -1;
  if (rc != 0) {
    // A refused or failed build leaves no file.
    int saved = error4set(c4, 0);
    while (auto* tag = static_cast<TAG4*>(l4pop(&index->tags))) u4free(tag);
    u4free(index);
    DiscardNew(file);
    // A duplicate under mode 20 leaves 20 in the context, like other quiet
    // refusals.
    error4set(c4, saved < 0 ? saved : (rc == r4unique ? r4unique : (rc < 0 ? rc : 0)));
    return nullptr;
  }
  file4optimize(&file->file, c4->optimizeDefault, 2, file->blockSize, file);
  file->userCount = 1;
  file->isValid = 1;
  l4add(&dfile->indexes, file);
  u4ncpy(index->accessName, name ? name : data->alias, sizeof index->accessName);
  l4add(&data->indexes, index);
  index->isValid = 1;
  if (name == nullptr) {
    // The production index: the data file says so at once.
    dfile->tableFlags |= 0x01;
    unsigned char flags = dfile->tableFlags;
    file4write(&dfile->file, 28, &flags, 1);
    dfile->hasProduction = 1;
  }
  return index;
}

int i4reindex(INDEX4* index) {
  if (code4verify(index, 0, E4_I4REINDEX)) return -1;
  CODE4* c4 = index->codeBase;
  if (c4->errorCode < 0) return -1;
  INDEX4FILE* file = index->indexFile;
  if (file->file.writeProtected) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, file->file.name, nullptr, nullptr);
  }
  TAG4** modes = ModesOf(index);
  if (modes == nullptr) return -1;
  int rc = BuildFile(file, index->data, modes);
  u4free(modes);
  return rc;
}

int d4reindex(DATA4* data) {
  if (data == nullptr) return error4(nullptr, e4parmNull, E4_D4REINDEX);
  if (code4verify(data, 2, E4_D4REINDEX)) return -1;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return -1;
  if (int rc = d4updateRecord(data, 0)) return rc;
  if (data->readOnly) return error4describe(c4, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  int previous = c4->reindexInProgress;
  c4->reindexInProgress = 1;
  int rc = 0;
  for (auto* index = static_cast<INDEX4*>(l4first(&data->indexes)); index && rc == 0;
       index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
    rc = i4reindex(index);
  }
  c4->reindexInProgress = previous;
  return rc;
}

namespace {

// Adds one tag to an open file: its header and blocks at the end of the
// file, its name in the directory. 0, 20, or an error.
int AddOneTag(INDEX4* index, const TAG4INFO* def) {
  CODE4* c4 = index->codeBase;
  INDEX4FILE* file = index->indexFile;
  DATA4* data = index->data;
  TFILE4* directory = file->tagIndex;
  if ((directory->typeCode & 0x80) == 0) return error4(c4, e4index, E4_I4ADD_ONE_TAG);
  auto* tag = static_cast<TFILE4*>(u4allocEr(c4, sizeof(TFILE4)));
  if (tag == nullptr) return e4memory;
  int rc = SetupTag(data, file, def, tag, false);
  if (rc == 0) rc = CheckKeyLength(file, tag);
  if (rc == 0) {
    for (auto* other = static_cast<TFILE4*>(l4first(&file->tags)); other;
         other = static_cast<TFILE4*>(l4next(&file->tags, other))) {
      if (std::strcmp(other->alias, tag->alias) == 0) {
        rc = error4describe(c4, e4unique, E4_CREATING_TAG, tag->alias, nullptr, nullptr);
      }
    }
  }
  if (rc == 0) rc = index4flush(file);
  if (rc != 0) {
    FreeTagFile(tag);
    return rc;
  }
  // The header takes 512 bytes and a pool of one block; the blocks follow.
  const uint32_t headerAt = file->eof;
  const unsigned headerLen = 512 + file->blockSize;
  BlockWriter out;
  out.file = file;
  out.next = headerAt + headerLen / file->multiplier;
  out.end = index4offset(file, out.next);
  out.buffer = static_cast<unsigned char*>(u4allocEr(c4, kWriteBuffer));
  if (out.buffer == nullptr) {
    FreeTagFile(tag);
    return e4memory;
  }
  tag->headerOffset = headerAt;
  tag->version = directory->version + 1;
  SORT4 sort;
  rc = SortRecords(data, tag, &sort);
  if (rc == 0) {
    long records = dfile4recCount(data->dataFile);
    rc = WriteSorted(tag, &sort, &out, records > 0 ? uint32_t(records) : 0, (tag->typeCode & 0x05) != 0,
                     def->unique, &tag->root);
  }
  if (rc == 0) rc = out.Flush();
  u4free(out.buffer);
  unsigned char* header = rc == 0 ? static_cast<unsigned char*>(u4allocEr(c4, long(headerLen))) : nullptr;
  if (rc == 0 && header == nullptr) rc = e4memory;
  if (rc == 0) {
    HeaderImage(file, tag, header, file->blockSize);
    rc = file4write(&file->file, index4offset(file, headerAt), header, headerLen);
  }
  u4free(header);
  if (rc != 0) {
    // What was written past the old end goes again.
    int saved = error4set(c4, 0);
    file4lenSet(&file->file, index4offset(file, headerAt));
    error4set(c4, saved);
    FreeTagFile(tag);
    return rc;
  }
  file->eof = uint32_t(out.end / file->multiplier);
  char name[k4tagNameLen];
  std::memset(name, ' ', sizeof name);
  std::memcpy(name, tag->alias, std::strlen(tag->alias));
  rc = tfile4add(directory, reinterpret_cast<unsigned char*>(name), headerAt, e4unique);
  if (rc == 0) rc = index4flush(file);
  if (rc != 0) {
    FreeTagFile(tag);
    return rc < 0 ? rc : error4(c4, e4index, E4_I4ADD_ONE_TAG);
  }
  l4add(&file->tags, tag);
  if (NewTag(index, tag, def->unique) == nullptr) return e4memory;
  return 0;
}

}  // namespace

int i4tagAdd(INDEX4* index, const TAG4INFO* tags) {
  if (index == nullptr || tags == nullptr) {
    return error4(index ? index->codeBase : nullptr, e4parmNull, E4_I4TAG_ADD);
  }
  CODE4* c4 = index->codeBase;
  if (c4->errorCode < 0) return -1;
  DATA4* data = index->data;
  if (int rc = d4updateRecord(data, 0)) return rc;
  if (data->readOnly) return error4describe(c4, e4write, E4_READ_ONLY_WRITE, data->alias, nullptr, nullptr);
  for (const TAG4INFO* def = tags; def->name != nullptr; def++) {
    int rc = AddOneTag(index, def);
    if (rc != 0) return rc;
  }
  // Every other handle on the same file gets the tags it lacks.
  INDEX4FILE* file = index->indexFile;
  for (auto* other = static_cast<DATA4*>(l4first(&c4->dataList)); other;
       other = static_cast<DATA4*>(l4next(&c4->dataList, other))) {
    for (auto* i = static_cast<INDEX4*>(l4first(&other->indexes)); i;
         i = static_cast<INDEX4*>(l4next(&other->indexes, i))) {
      if (i == index || i->indexFile != file) continue;
      for (auto* tagFile = static_cast<TFILE4*>(l4first(&file->tags)); tagFile;
           tagFile = static_cast<TFILE4*>(l4next(&file->tags, tagFile))) {
        bool has = false;
        for (auto* tag = static_cast<TAG4*>(l4first(&i->tags)); tag && !has;
             tag = static_cast<TAG4*>(l4next(&i->tags, tag))) {
          has = tag->tagFile == tagFile;
        }
        if (!has && NewTag(i, tagFile, 0) == nullptr) return error4(c4, e4memory, E4_I4TAG_ADD);
      }
    }
  }
  return 0;
}

TAG4INFO* i4tagInfo(INDEX4* index) {
  if (index == nullptr) {
    error4(nullptr, e4parmNull, E4_I4TAG_INFO);
    return nullptr;
  }
  CODE4* c4 = index->codeBase;
  if (c4->errorCode < 0) return nullptr;
  unsigned n = l4numNodes(&index->tags);
  auto* info = static_cast<TAG4INFO*>(u4allocEr(c4, long(sizeof(TAG4INFO)) * (n + 1)));
  if (info == nullptr) return nullptr;
  unsigned i = 0;
  for (auto* tag = static_cast<TAG4*>(l4first(&index->tags)); tag;
       tag = static_cast<TAG4*>(l4next(&index->tags, tag)), i++) {
    TFILE4* t = tag->tagFile;
    info[i].name = t->alias;
    info[i].expression = const_cast<char*>(t->expr ? t->expr->source : "");
    info[i].filter = t->filter ? const_cast<char*>(t->filter->source) : nullptr;
    info[i].unique = int16_t(t4unique(tag));
    info[i].descending = t->descending ? 10 : 0;
  }
  return info;
}
