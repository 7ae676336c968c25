#include "xbase/block4.h"

#include <cstring>
#include <initializer_list>

#include "platform/endian.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"

namespace {
constexpr unsigned kBuckets = 4096;
}  // namespace

// The decoded blocks of an index file, by position, least recently used first.
struct B4CACHE {
  BLOCK4* buckets[kBuckets];
  LIST4 lru;
  long bytes;
  unsigned count;
  unsigned char* image;  // one block's bytes
};

namespace {

constexpr unsigned kBranchHeader = 12;
constexpr unsigned kLeafHeader = 24;
// What an index file keeps decoded: at most this many bytes (the blocks on
// the tags' paths stay whatever the count).
constexpr long kCacheBytes = 8L << 20;

int BitsFor(uint64_t n) {
  int bits = 0;
  for (; n != 0; n >>= 1) bits++;
  return bits;
}

uint32_t Mask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << bits) - 1; }

int Common(const unsigned char* a, const unsigned char* b, int n) {
  int i = 0;
  while (i < n && a[i] == b[i]) i++;
  return i;
}

// A block position inside the file: past the file header and wholly before
// the end.
bool ValidPosition(uint32_t pos, unsigned blockSize, uint64_t fileLength, unsigned multiplier) {
  uint64_t at = uint64_t(pos) * multiplier;
  return at >= 512 && at + blockSize <= fileLength;
}

using Cache = B4CACHE;

Cache* CacheOf(INDEX4FILE* file) { return file->cache; }

unsigned Bucket(uint32_t pos) { return (pos * 2654435761u) >> 20 & (kBuckets - 1); }

BLOCK4* Find(Cache* cache, uint32_t pos) {
  for (BLOCK4* b = cache->buckets[Bucket(pos)]; b; b = b->hashNext) {
    if (b->position == pos) return b;
  }
  return nullptr;
}

void Insert(Cache* cache, BLOCK4* b) {
  BLOCK4** head = &cache->buckets[Bucket(b->position)];
  b->hashNext = *head;
  *head = b;
  l4add(&cache->lru, b);
  cache->bytes += b->bytes;
  cache->count++;
}

void Unlink(Cache* cache, BLOCK4* b) {
  for (BLOCK4** at = &cache->buckets[Bucket(b->position)]; *at; at = &(*at)->hashNext) {
    if (*at == b) {
      *at = b->hashNext;
      break;
    }
  }
  l4remove(&cache->lru, b);
  cache->bytes -= b->bytes;
  cache->count--;
}

void FreeBlock(BLOCK4* b) {
  b4release(b);
  u4free(b);
}

BLOCK4* NewBlock(CODE4* c4, TFILE4* tag) {
  auto* b = static_cast<BLOCK4*>(u4allocEr(c4, sizeof(BLOCK4)));
  if (b == nullptr) return nullptr;
  b->tag = tag;
  b->left = b->right = k4noBlock;
  b->bytes = long(sizeof(BLOCK4));
  return b;
}

int Corrupt(INDEX4FILE* file) {
  return error4describe(file->file.codeBase, e4index, E4_CORRUPT_BLOCK, file->file.name, nullptr, nullptr);
}

uint64_t FileLength(const INDEX4FILE* file) { return uint64_t(file->eof) * file->multiplier; }

// The largest record number a fresh leaf of the tag must hold.
uint32_t MaxRec(INDEX4FILE* file, TFILE4* tag) {
  if (tag == file->tagIndex) return file->eof;
  long count = file->dataFile ? dfile4recCount(file->dataFile) : 0;
  return count > 0 ? uint32_t(count) : 0;
}

// Leaf decoding into the block's arrays; 0 or -1.
int DecodeLeaf(BLOCK4* b, const unsigned char* image, unsigned blockSize) {
  const TFILE4* tag = b->tag;
  const int keyLen = tag->keyLen;
  b->recBits = image[20];
  b->dupBits = image[21];
  b->trailBits = image[22];
  b->infoLen = image[23];
  const int info = b->infoLen;
  if (info < 1 || info > 8 || b->recBits < 1 || b->recBits > 32 || b->dupBits > 16 || b->trailBits > 16 ||
      b->recBits + b->dupBits + b->trailBits > 8 * info) {
    return -1;
  }
  if (QLoadU32LE(image + 14) != Mask(b->recBits) || image[18] != Mask(b->dupBits) ||
      image[19] != Mask(b->trailBits)) {
    return -1;
  }
  const long n = b->nKeys;
  if (kLeafHeader + n * info > blockSize) return -1;
  const uint32_t dupMask = Mask(b->dupBits), trailMask = Mask(b->trailBits);
  long stored = 0;
  const long room = long(blockSize) - long(kLeafHeader) - n * info;
  unsigned char* previous = nullptr;
  for (long i = 0; i < n; i++) {
    uint64_t v = QLoadUintLE(image + kLeafHeader + i * info, info);
    uint32_t rec = uint32_t(v) & Mask(b->recBits);
    int dup = int((v >> b->recBits) & dupMask);
    int trail = int((v >> (b->recBits + b->dupBits)) & trailMask);
    if (dup + trail > keyLen || (i == 0 && dup != 0)) return -1;
    int length = keyLen - dup - trail;
    stored += length;
    if (stored > room) return -1;
    unsigned char* key = b->keys + i * keyLen;
    if (dup > 0) std::memcpy(key, previous, size_t(dup));
    std::memcpy(key + dup, image + blockSize - stored, size_t(length));
    std::memset(key + dup + length, tag->pad, size_t(trail));
    b->recs[i] = rec;
    previous = key;
  }
  // Counts too narrow for this key length are widened for what is written.
  int needed = BitsFor(uint64_t(keyLen));
  if (b->dupBits < needed || b->trailBits < needed) {
    uint32_t maxRec = 0;
    for (long i = 0; i < n; i++) maxRec = b->recs[i] > maxRec ? b->recs[i] : maxRec;
    b4leafInit(b, keyLen, maxRec);
  }
  b->storedBytes = stored;
  return 0;
}

}  // namespace

// ---- geometry and entries ----

void b4leafInit(BLOCK4* b, int keyLen, uint32_t maxRec) {
  int bits = BitsFor(uint64_t(keyLen));
  int recBits = BitsFor(maxRec) + (8 - (2 * bits) % 8) % 8;
  if (recBits < 12) recBits = 12;
  while ((recBits + 2 * bits) % 8 != 0) recBits++;
  b->infoLen = uint8_t((recBits + 2 * bits) / 8);
  b->recBits = uint8_t(recBits > 32 ? 32 : recBits);
  b->dupBits = b->trailBits = uint8_t(bits);
}

bool b4widen(BLOCK4* b, uint32_t rec) {
  while (rec > Mask(b->recBits)) {
    if (b->recBits >= 32) return false;
    b->recBits = uint8_t(b->recBits + 8 > 32 ? 32 : b->recBits + 8);
    b->infoLen++;
  }
  return true;
}

int b4reserve(BLOCK4* b, int n) {
  if (n <= b->capacity) return 0;
  CODE4* c4 = b->tag->codeBase;
  int capacity = b->capacity ? b->capacity : 8;
  while (capacity < n) capacity *= 2;
  const long keyLen = b->tag->keyLen;
  // Record numbers and children first, so that they stay aligned.
  long size = capacity * (keyLen + 8);
  auto* memory = static_cast<unsigned char*>(u4allocEr(c4, size));
  if (memory == nullptr) return e4memory;
  auto* recs = reinterpret_cast<uint32_t*>(memory);
  auto* children = recs + capacity;
  auto* keys = memory + 8L * capacity;
  if (b->nKeys > 0) {
    std::memcpy(keys, b->keys, size_t(b->nKeys * keyLen));
    std::memcpy(recs, b->recs, sizeof(uint32_t) * size_t(b->nKeys));
    std::memcpy(children, b->children, sizeof(uint32_t) * size_t(b->nKeys));
  }
  u4free(b->recs);
  b->keys = keys;
  b->recs = recs;
  b->children = children;
  b->bytes += size - (b->capacity ? b->capacity * (keyLen + 8) : 0);
  b->capacity = capacity;
  return 0;
}

void b4release(BLOCK4* b) {
  u4free(b->recs);
  b->recs = b->children = nullptr;
  b->keys = nullptr;
  b->capacity = b->nKeys = 0;
}

int b4trail(const TFILE4* tag, const unsigned char* key) {
  // A dBASE IV tag with a filter keeps its pad bytes.
  if (tag->filter != nullptr && tag->indexFile && tag->indexFile->dataFile &&
      tag->indexFile->dataFile->compatibility == k4dialectDbase4) {
    return 0;
  }
  int n = tag->keyLen;
  while (n > 0 && key[n - 1] == tag->pad) n--;
  return tag->keyLen - n;
}

namespace {

// The duplicate and trailing counts of leaf entry i against entry i-1.
void Counts(const BLOCK4* b, int i, int* dup, int* trail) {
  const int keyLen = b->tag->keyLen;
  const unsigned char* key = b4key(b, i);
  *trail = b4trail(b->tag, key);
  *dup = 0;
  if (i > 0) {
    *dup = Common(b4key(b, i - 1), key, keyLen);
    if (*dup > keyLen - *trail) *dup = keyLen - *trail;
  }
}

}  // namespace

long b4stored(const BLOCK4* b, int i) {
  int dup, trail;
  Counts(b, i, &dup, &trail);
  return b->tag->keyLen - dup - trail;
}

long b4leafSize(const BLOCK4* b) { return long(kLeafHeader) + long(b->nKeys) * b->infoLen + b->storedBytes; }

void b4recount(BLOCK4* b) {
  long stored = 0;
  for (int i = 0; i < b->nKeys; i++) stored += b4stored(b, i);
  b->storedBytes = stored;
}

void b4insertEntry(BLOCK4* b, int i, const unsigned char* key, uint32_t rec, uint32_t child) {
  const long keyLen = b->tag->keyLen;
  const int n = b->nKeys;
  const bool leaf = b4leaf(b);
  long before = (leaf && i < n) ? b4stored(b, i) : 0;
  std::memmove(b->keys + (i + 1) * keyLen, b->keys + i * keyLen, size_t((n - i) * keyLen));
  std::memmove(b->recs + i + 1, b->recs + i, sizeof(uint32_t) * size_t(n - i));
  std::memmove(b->children + i + 1, b->children + i, sizeof(uint32_t) * size_t(n - i));
  std::memcpy(b->keys + i * keyLen, key, size_t(keyLen));
  b->recs[i] = rec;
  b->children[i] = child;
  b->nKeys = n + 1;
  if (leaf) {
    b->storedBytes += b4stored(b, i);
    if (i < n) b->storedBytes += b4stored(b, i + 1) - before;
  }
  b->changed = 1;
}

void b4removeEntry(BLOCK4* b, int i) {
  const long keyLen = b->tag->keyLen;
  const int n = b->nKeys;
  const bool leaf = b4leaf(b);
  if (leaf) {
    b->storedBytes -= b4stored(b, i);
    if (i + 1 < n) b->storedBytes -= b4stored(b, i + 1);
  }
  std::memmove(b->keys + i * keyLen, b->keys + (i + 1) * keyLen, size_t((n - i - 1) * keyLen));
  std::memmove(b->recs + i, b->recs + i + 1, sizeof(uint32_t) * size_t(n - i - 1));
  std::memmove(b->children + i, b->children + i + 1, sizeof(uint32_t) * size_t(n - i - 1));
  b->nKeys = n - 1;
  if (leaf && i < n - 1) b->storedBytes += b4stored(b, i);
  b->changed = 1;
}

bool b4overfull(const BLOCK4* b, unsigned blockSize) {
  if (b4leaf(b)) return b4leafSize(b) > long(blockSize);
  return long(b->nKeys) > long(blockSize - kBranchHeader) / (b->tag->keyLen + 8);
}

// ---- the bytes of a block ----

int b4decode(BLOCK4* b, const unsigned char* image, unsigned blockSize, uint32_t fileUnits,
             unsigned multiplier) {
  const uint64_t fileLength = uint64_t(fileUnits) * multiplier;
  const int keyLen = b->tag->keyLen;
  b->attribute = QLoadU16LE(image);
  b->nKeys = 0;
  int n = QLoadU16LE(image + 2);
  b->left = QLoadU32LE(image + 4);
  b->right = QLoadU32LE(image + 8);
  for (uint32_t sibling : {b->left, b->right}) {
    if (sibling != k4noBlock && !ValidPosition(sibling, blockSize, fileLength, multiplier)) return -1;
  }
  if (b->attribute < 2) {
    if (long(n) > long(blockSize - kBranchHeader) / (keyLen + 8)) return -1;
    if (b4reserve(b, n > 0 ? n : 1) != 0) return -1;
    for (int i = 0; i < n; i++) {
      const unsigned char* entry = image + kBranchHeader + i * (keyLen + 8);
      uint32_t child = QLoadU32BE(entry + keyLen + 4);
      if (!ValidPosition(child, blockSize, fileLength, multiplier)) return -1;
      std::memcpy(b4key(b, i), entry, size_t(keyLen));
      b->recs[i] = QLoadU32BE(entry + keyLen);
      b->children[i] = child;
    }
    b->nKeys = n;
    b->storedBytes = 0;
    return 0;
  }
  if (long(n) > long(blockSize - kLeafHeader)) return -1;
  if (b4reserve(b, n > 0 ? n : 1) != 0) return -1;
  b->nKeys = n;
  if (DecodeLeaf(b, image, blockSize) != 0) {
    b->nKeys = 0;
    return -1;
  }
  return 0;
}

void b4encode(const BLOCK4* b, unsigned char* image, unsigned blockSize) {
  const int keyLen = b->tag->keyLen;
  std::memset(image, 0, blockSize);
  QStoreU16LE(image, b->attribute);
  QStoreU16LE(image + 2, uint32_t(b->nKeys));
  QStoreU32LE(image + 4, b->left);
  QStoreU32LE(image + 8, b->right);
  if (!b4leaf(b)) {
    for (int i = 0; i < b->nKeys; i++) {
      unsigned char* entry = image + kBranchHeader + i * (keyLen + 8);
      std::memcpy(entry, b4key(b, i), size_t(keyLen));
      QStoreU32BE(entry + keyLen, b->recs[i]);
      QStoreU32BE(entry + keyLen + 4, b->children[i]);
    }
    return;
  }
  QStoreU32LE(image + 14, Mask(b->recBits));
  image[18] = static_cast<unsigned char>(Mask(b->dupBits));
  image[19] = static_cast<unsigned char>(Mask(b->trailBits));
  image[20] = b->recBits;
  image[21] = b->dupBits;
  image[22] = b->trailBits;
  image[23] = b->infoLen;
  long end = blockSize;
  for (int i = 0; i < b->nKeys; i++) {
    const unsigned char* key = b4key(b, i);
    int dup, trail;
    Counts(b, i, &dup, &trail);
    int length = keyLen - dup - trail;
    end -= length;
    std::memcpy(image + end, key + dup, size_t(length));
    uint64_t v = uint64_t(b->recs[i] & Mask(b->recBits)) | (uint64_t(dup) << b->recBits) |
                 (uint64_t(trail) << (b->recBits + b->dupBits));
    QStoreUintLE(image + kLeafHeader + i * b->infoLen, v, b->infoLen);
  }
  QStoreU16LE(image + 12, uint32_t(end - long(kLeafHeader) - long(b->nKeys) * b->infoLen));
}

// ---- the blocks of an open index file ----

int index4cacheInit(INDEX4FILE* file) {
  CODE4* c4 = file->file.codeBase;
  auto* cache = static_cast<Cache*>(u4allocEr(c4, sizeof(Cache)));
  if (cache == nullptr) return e4memory;
  cache->image = static_cast<unsigned char*>(u4allocEr(c4, long(file->blockSize)));
  if (cache->image == nullptr) {
    u4free(cache);
    return e4memory;
  }
  file->cache = cache;
  return 0;
}

void index4cacheFree(INDEX4FILE* file) {
  Cache* cache = CacheOf(file);
  if (cache == nullptr) return;
  while (auto* b = static_cast<BLOCK4*>(l4first(&cache->lru))) {
    Unlink(cache, b);
    FreeBlock(b);
  }
  u4free(cache->image);
  u4free(cache);
  file->cache = nullptr;
}

void index4leafFresh(INDEX4FILE* file, BLOCK4* b) { b4leafInit(b, b->tag->keyLen, MaxRec(file, b->tag)); }

void b4pin(BLOCK4* b) { b->pins++; }
void b4unpin(BLOCK4* b) {
  if (b->pins > 0) b->pins--;
}

int index4blockWrite(INDEX4FILE* file, BLOCK4* b) {
  Cache* cache = CacheOf(file);
  b4encode(b, cache->image, file->blockSize);
  int rc = file4write(&file->file, index4offset(file, b->position), cache->image, file->blockSize);
  if (rc < 0) return rc;
  b->changed = 0;
  return 0;
}

// Keeps the decoded blocks within their budget: the least recently used
// blocks that no path holds go first (written when changed).
int index4trim(INDEX4FILE* file) {
  Cache* cache = CacheOf(file);
  auto* b = static_cast<BLOCK4*>(l4first(&cache->lru));
  while (cache->bytes > kCacheBytes && b != nullptr) {
    auto* next = static_cast<BLOCK4*>(l4next(&cache->lru, b));
    if (b->pins == 0) {
      if (b->changed) {
        if (int rc = index4blockWrite(file, b)) return rc;
      }
      Unlink(cache, b);
      FreeBlock(b);
    }
    b = next;
  }
  return 0;
}

BLOCK4* index4blockRead(INDEX4FILE* file, TFILE4* tag, uint32_t pos) {
  Cache* cache = CacheOf(file);
  CODE4* c4 = file->file.codeBase;
  if (BLOCK4* b = Find(cache, pos)) {
    if (b->tag != tag) {
      Corrupt(file);
      return nullptr;
    }
    l4remove(&cache->lru, b);
    l4add(&cache->lru, b);
    return b;
  }
  if (!ValidPosition(pos, file->blockSize, FileLength(file), file->multiplier)) {
    Corrupt(file);
    return nullptr;
  }
  if (file4readAll(&file->file, index4offset(file, pos), cache->image, file->blockSize) != 0) return nullptr;
  BLOCK4* b = NewBlock(c4, tag);
  if (b == nullptr) return nullptr;
  b->position = pos;
  if (b4decode(b, cache->image, file->blockSize, file->eof, file->multiplier) != 0) {
    FreeBlock(b);
    if (c4->errorCode >= 0) Corrupt(file);
    return nullptr;
  }
  Insert(cache, b);
  return b;
}

BLOCK4* index4blockNew(INDEX4FILE* file, TFILE4* tag, int leaf) {
  Cache* cache = CacheOf(file);
  CODE4* c4 = file->file.codeBase;
  TFILE4* directory = file->tagIndex;
  uint32_t pos;
  uint32_t head = directory->freeList;
  if (head != 0 && head != k4noBlock) {
    if (!ValidPosition(head, file->blockSize, FileLength(file), file->multiplier)) {
      Corrupt(file);
      return nullptr;
    }
    unsigned char next[4];
    if (file4read(&file->file, index4offset(file, head), next, 4) != 4) {
      if (c4->errorCode >= 0) file4readError(&file->file, index4offset(file, head), 4, "index4extend");
      return nullptr;
    }
    uint32_t following = QLoadU32LE(next);
    if (following != 0 && following != k4noBlock &&
        !ValidPosition(following, file->blockSize, FileLength(file), file->multiplier)) {
      Corrupt(file);
      return nullptr;
    }
    if (Find(cache, head) != nullptr) {
      Corrupt(file);
      return nullptr;
    }
    directory->freeList = following;
    pos = head;
  } else {
    uint32_t units = file->blockSize / file->multiplier;
    if (file->eof > 0xFFFFFFFFu - units - 1) {
      error4describe(c4, e4index, E4_INDEX4EXTEND, file->file.name, nullptr, nullptr);
      return nullptr;
    }
    pos = file->eof;
    file->eof += units;
  }
  BLOCK4* b = NewBlock(c4, tag);
  if (b == nullptr || b4reserve(b, 8) != 0) {
    if (b) FreeBlock(b);
    return nullptr;
  }
  b->position = pos;
  b->changed = 1;
  if (leaf) {
    b->attribute = 2;
    b4leafInit(b, tag->keyLen, MaxRec(file, tag));
  }
  Insert(cache, b);
  file->headerChanged = 1;
  return b;
}

int index4blockFree(INDEX4FILE* file, BLOCK4* b) {
  Cache* cache = CacheOf(file);
  TFILE4* directory = file->tagIndex;
  // The whole block goes out: a block freed before it ever reached the disk
  // still lies inside the file.
  std::memset(cache->image, 0, file->blockSize);
  QStoreU32LE(cache->image, directory->freeList);
  int rc = file4write(&file->file, index4offset(file, b->position), cache->image, file->blockSize);
  directory->freeList = b->position;
  file->headerChanged = 1;
  Unlink(cache, b);
  FreeBlock(b);
  return rc < 0 ? rc : 0;
}

int index4siblingSet(INDEX4FILE* file, TFILE4* tag, uint32_t pos, int which, uint32_t value) {
  if (pos == k4noBlock) return 0;
  if (BLOCK4* b = Find(CacheOf(file), pos)) {
    if (b->tag != tag) return Corrupt(file);
    (which == 4 ? b->left : b->right) = value;
    b->changed = 1;
    return 0;
  }
  if (!ValidPosition(pos, file->blockSize, FileLength(file), file->multiplier)) return Corrupt(file);
  unsigned char bytes[4];
  QStoreU32LE(bytes, value);
  int rc = file4write(&file->file, index4offset(file, pos) + unsigned(which), bytes, 4);
  return rc < 0 ? rc : 0;
}

int index4blocksWrite(INDEX4FILE* file, TFILE4* tag) {
  Cache* cache = CacheOf(file);
  if (cache == nullptr) return 0;
  for (auto* b = static_cast<BLOCK4*>(l4first(&cache->lru)); b;
       b = static_cast<BLOCK4*>(l4next(&cache->lru, b))) {
    if (!b->changed || (tag != nullptr && b->tag != tag)) continue;
    if (int rc = index4blockWrite(file, b)) return rc;
  }
  return 0;
}

int index4blocksDrop(INDEX4FILE* file, TFILE4* tag) {
  Cache* cache = CacheOf(file);
  if (cache == nullptr) return 0;
  int rc = index4blocksWrite(file, tag);
  for (int i = 0; i < tag->depth; i++) b4unpin(tag->path[i]);
  tag->depth = 0;
  auto* b = static_cast<BLOCK4*>(l4first(&cache->lru));
  while (b != nullptr) {
    auto* next = static_cast<BLOCK4*>(l4next(&cache->lru, b));
    if (b->tag == tag) {
      Unlink(cache, b);
      FreeBlock(b);
    }
    b = next;
  }
  return rc;
}

void index4changed(INDEX4FILE* file) {
  file->tagIndex->version++;
  file->headerChanged = 1;
}

int index4headerWrite(INDEX4FILE* file) {
  TFILE4* directory = file->tagIndex;
  if (directory == nullptr || file->file.handle < 0) return 0;
  if (file->headerChanged || directory->version != file->versionOld || directory->rootWrite) {
    unsigned char header[16];
    QStoreU32LE(header, directory->root);
    QStoreU32LE(header + 4, directory->freeList);
    QStoreU32BE(header + 8, directory->version);
    QStoreU16LE(header + 12, uint32_t(directory->keyLen));
    header[14] = directory->typeCode;
    header[15] = directory->signature;
    if (int rc = file4write(&file->file, 0, header, sizeof header)) return rc;
    file->versionOld = directory->version;
    file->freeWritten = directory->freeList;
    file->headerChanged = 0;
    directory->rootWrite = 0;
  }
  for (auto* tag = static_cast<TFILE4*>(l4first(&file->tags)); tag;
       tag = static_cast<TFILE4*>(l4next(&file->tags, tag))) {
    if (!tag->rootWrite || tag == directory) continue;
    unsigned char root[4];
    QStoreU32LE(root, tag->root);
    if (int rc = file4write(&file->file, index4offset(file, tag->headerOffset), root, 4)) return rc;
    tag->rootWrite = 0;
  }
  return 0;
}

int index4flush(INDEX4FILE* file) {
  if (file == nullptr || file->file.handle < 0 || file->file.writeProtected) return 0;
  if (int rc = index4blocksWrite(file, nullptr)) return rc;
  return index4headerWrite(file);
}
