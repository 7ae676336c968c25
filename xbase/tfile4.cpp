#include "xbase/tfile4.h"

#include <cstring>

#include "platform/endian.h"
#include "platform/env.h"
#include "xbase/block4.h"
#include "xbase/collate4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/key4.h"
#include "xbase/mem4.h"
#include "xbase/util4.h"

namespace {

// Where a descent goes.
enum class Target { kFirst, kLast, kKey };

CODE4* C4(const TFILE4* tag) { return tag->codeBase; }

int Corrupt(TFILE4* tag) {
  return error4describe(C4(tag), e4index, E4_CORRUPT_BLOCK, tag->indexFile->file.name, tag->alias, nullptr);
}

// <0, 0, >0 of an entry against (key over len bytes, rec); rec 0 compares
// the key alone, which puts it before every entry of an equal key.
int CompareEntry(const BLOCK4* b, int i, const unsigned char* key, int len, uint32_t rec) {
  int rc = len > 0 ? std::memcmp(b4key(b, i), key, size_t(len)) : 0;
  if (rc != 0 || rec == 0) return rc;
  uint32_t r = b->recs[i];
  return r < rec ? -1 : (r > rec ? 1 : 0);
}

// The first entry not less than the target (binary search); nKeys when none.
int Position(const BLOCK4* b, const unsigned char* key, int len, uint32_t rec) {
  int low = 0, high = b->nKeys;
  while (low < high) {
    int mid = (low + high) / 2;
    if (CompareEntry(b, mid, key, len, rec) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

void Push(TFILE4* tag, BLOCK4* b) {
  b4pin(b);
  tag->path[tag->depth++] = b;
}

BLOCK4* Leaf(const TFILE4* tag) { return tag->depth > 0 ? tag->path[tag->depth - 1] : nullptr; }

// The path from the root down to the leaf holding the target; the leaf's
// cursor on the first entry not less than the target (nKeys when none).
int DescendOnce(TFILE4* tag, Target target, const unsigned char* key, int len, uint32_t rec, bool* outOfDate) {
  INDEX4FILE* file = tag->indexFile;
  tfile4release(tag);
  uint32_t pos = tfile4root(tag);
  if (pos == 0) return -1;
  BLOCK4* parent = nullptr;
  while (true) {
    if (tag->depth >= k4maxDepth) return Corrupt(tag);
    BLOCK4* b = index4blockRead(file, tag, pos);
    if (b == nullptr) return -1;
    if (parent != nullptr && C4(tag)->parentCheck &&
        (b->nKeys == 0 || b4lastRec(b) != parent->recs[parent->keyOn])) {
      *outOfDate = true;
      return 0;
    }
    Push(tag, b);
    int i;
    switch (target) {
      case Target::kFirst: i = 0; break;
      case Target::kLast: i = b4leaf(b) ? b->nKeys - 1 : b->nKeys - 1; break;
      default: i = Position(b, key, len, rec); break;
    }
    if (b4leaf(b)) {
      if (i < 0) i = 0;
      b->keyOn = i;
      return 0;
    }
    if (b->nKeys == 0) return Corrupt(tag);
    if (i >= b->nKeys) i = b->nKeys - 1;
    if (i < 0) i = 0;
    b->keyOn = i;
    parent = b;
    pos = b->children[i];
  }
}

int Descend(TFILE4* tag, Target target, const unsigned char* key = nullptr, int len = 0, uint32_t rec = 0) {
  for (int attempt = 0; attempt < 2; attempt++) {
    bool outOfDate = false;
    int rc = DescendOnce(tag, target, key, len, rec, &outOfDate);
    if (rc < 0 || !outOfDate) {
      if (rc < 0) tfile4release(tag);
      return rc;
    }
  }
  tfile4release(tag);
  return error4describe(C4(tag), e4index, E4_OUT_OF_DATE, tag->indexFile->file.name, nullptr, nullptr);
}

// The cursor moves to the next (or previous) leaf of the level; 0, 1 at the
// end of the level, or an error.
int Sibling(TFILE4* tag, bool forward) {
  BLOCK4* leaf = Leaf(tag);
  uint32_t pos = forward ? leaf->right : leaf->left;
  if (pos == k4noBlock) return 1;
  BLOCK4* next = index4blockRead(tag->indexFile, tag, pos);
  if (next == nullptr) return -1;
  if (!b4leaf(next) || next->nKeys == 0) {
    return error4describe(C4(tag), e4index, E4_TFILE4, tag->indexFile->file.name, tag->alias, nullptr);
  }
  // Keys go on in order from leaf to leaf: siblings that lead back (a
  // damaged file's loop) would walk for ever.
  if (next == leaf) return Corrupt(tag);
  if (leaf->nKeys > 0) {
    const int at = forward ? leaf->nKeys - 1 : 0, first = forward ? 0 : next->nKeys - 1;
    const int order = CompareEntry(next, first, b4key(leaf, at), tag->keyLen, 0);
    if (forward ? order < 0 : order > 0) return Corrupt(tag);
  }
  tfile4release(tag);
  Push(tag, next);
  tag->pathLeafOnly = 1;
  next->keyOn = forward ? 0 : next->nKeys - 1;
  return 0;
}

// A past-the-end position in a leaf that has a right sibling moves to the
// sibling's first entry.
int Settle(TFILE4* tag) {
  BLOCK4* leaf = Leaf(tag);
  if (leaf == nullptr || leaf->keyOn < leaf->nKeys || leaf->right == k4noBlock) return 0;
  int rc = Sibling(tag, true);
  return rc < 0 ? rc : 0;
}

// ---- changing the tree ----

int Split(TFILE4* tag, int level, int inserted);

// The parents' entries follow a block whose last key changed, up while the
// changed entry is the last of its block.
void UpdateParents(TFILE4* tag, int level) {
  for (int l = level; l > 0; l--) {
    BLOCK4* child = tag->path[l];
    BLOCK4* parent = tag->path[l - 1];
    if (child->nKeys == 0) return;
    int j = parent->keyOn;
    const int keyLen = tag->keyLen;
    const unsigned char* last = b4key(child, child->nKeys - 1);
    if (std::memcmp(b4key(parent, j), last, size_t(keyLen)) == 0 && parent->recs[j] == b4lastRec(child)) return;
    std::memcpy(b4key(parent, j), last, size_t(keyLen));
    parent->recs[j] = b4lastRec(child);
    parent->changed = 1;
    if (j != parent->nKeys - 1) return;
  }
}

// Inserts at the cursor of the path's block at level; splits when it
// overflows. 0 without a split, 1 after one, or an error.
int InsertAt(TFILE4* tag, int level, const unsigned char* key, uint32_t rec, uint32_t child) {
  BLOCK4* b = tag->path[level];
  const int i = b->keyOn;
  if (b4leaf(b)) {
    uint8_t info = b->infoLen;
    if (!b4widen(b, rec)) return Corrupt(tag);
    if (b->infoLen != info) b->changed = 1;
  }
  if (int rc = b4reserve(b, b->nKeys + 1)) return rc;
  b4insertEntry(b, i, key, rec, child);
  if (!b4overfull(b, tag->indexFile->blockSize)) {
    if (i == b->nKeys - 1) UpdateParents(tag, level);
    return 0;
  }
  int rc = Split(tag, level, i);
  return rc < 0 ? rc : 1;
}

// Whether the first m entries and the rest both fit a leaf.
bool HalvesFit(BLOCK4* b, int m, unsigned blockSize) {
  const int n = b->nKeys;
  long left = 0, right = 0;
  for (int k = 0; k < n; k++) {
    long s = (k == m) ? long(b->tag->keyLen - b4trail(b->tag, b4key(b, k))) : b4stored(b, k);
    (k < m ? left : right) += s;
  }
  long header = 24;
  return header + long(m) * b->infoLen + left <= long(blockSize) &&
         header + long(n - m) * b->infoLen + right <= long(blockSize);
}

// How many entries stay in an overfull block; inserted is the new entry's
// index, or -1 when the block grew by a removal.
int SplitPoint(TFILE4* tag, BLOCK4* b, int inserted) {
  const int n = b->nKeys;
  if (inserted < 0) return n - n / 2;
  const int before = n - 1;
  if (b4leaf(b)) {
    int kept = before - before / 2;
    return inserted < kept ? kept + 1 : kept;
  }
  int moved = (before + 1) / 2;
  int kept = before - moved;
  if (inserted > kept) {
    moved--;
    kept++;
  }
  (void)tag;
  return inserted < kept ? kept + 1 : kept;
}

BLOCK4* MakeRoot(TFILE4* tag, BLOCK4* left, BLOCK4* right) {
  INDEX4FILE* file = tag->indexFile;
  BLOCK4* root = index4blockNew(file, tag, 0);
  if (root == nullptr || b4reserve(root, 2) != 0) return nullptr;
  root->attribute = 1;
  root->nKeys = 0;
  b4insertEntry(root, 0, b4key(left, left->nKeys - 1), b4lastRec(left), left->position);
  b4insertEntry(root, 1, b4key(right, right->nKeys - 1), b4lastRec(right), right->position);
  tag->root = root->position;
  tag->rootWrite = 1;
  if (tag == file->tagIndex) file->headerChanged = 1;
  return root;
}

// Splits the path's block at level into itself and a new block on its
// right; the parent gets an entry for the left half (the entry that pointed
// at the block now points at the right half), a new root when the root
// split.
int Split(TFILE4* tag, int level, int inserted) {
  INDEX4FILE* file = tag->indexFile;
  const unsigned blockSize = file->blockSize;
  BLOCK4* b = tag->path[level];
  const int n = b->nKeys;
  const bool leaf = b4leaf(b);
  if (n < 2) return Corrupt(tag);
  int m = SplitPoint(tag, b, inserted);
  if (m < 1) m = 1;
  if (m > n - 1) m = n - 1;
  if (leaf && !HalvesFit(b, m, blockSize)) {
    // Keys of very different compression: the nearest point where both fit.
    int found = -1;
    for (int d = 1; d < n && found < 0; d++) {
      if (m - d >= 1 && HalvesFit(b, m - d, blockSize)) found = m - d;
      else if (m + d <= n - 1 && HalvesFit(b, m + d, blockSize)) found = m + d;
    }
    if (found < 0) return Corrupt(tag);
    m = found;
  }
  BLOCK4* nb = index4blockNew(file, tag, leaf ? 1 : 0);
  if (nb == nullptr) return -1;
  if (int rc = b4reserve(nb, n - m)) return rc;
  const long keyLen = tag->keyLen;
  std::memcpy(nb->keys, b->keys + m * keyLen, size_t((n - m) * keyLen));
  std::memcpy(nb->recs, b->recs + m, sizeof(uint32_t) * size_t(n - m));
  std::memcpy(nb->children, b->children + m, sizeof(uint32_t) * size_t(n - m));
  nb->nKeys = n - m;
  b->nKeys = m;
  if (leaf) {
    nb->recBits = b->recBits;
    nb->dupBits = b->dupBits;
    nb->trailBits = b->trailBits;
    nb->infoLen = b->infoLen;
    b->attribute = 2;
    nb->attribute = 2;
    b4recount(b);
    b4recount(nb);
  } else {
    b->attribute = 0;
    nb->attribute = 0;
  }
  nb->left = b->position;
  nb->right = b->right;
  if (b->right != k4noBlock) {
    if (int rc = index4siblingSet(file, tag, b->right, 4, nb->position)) return rc;
  }
  b->right = nb->position;
  b->changed = nb->changed = 1;
  if (level == 0) return MakeRoot(tag, b, nb) ? 0 : -1;
  BLOCK4* parent = tag->path[level - 1];
  const int j = parent->keyOn;
  std::memcpy(b4key(parent, j), b4key(nb, nb->nKeys - 1), size_t(keyLen));
  parent->recs[j] = b4lastRec(nb);
  parent->children[j] = nb->position;
  parent->changed = 1;
  int rc = InsertAt(tag, level - 1, b4key(b, b->nKeys - 1), b4lastRec(b), b->position);
  if (rc < 0) return rc;
  if (rc == 0 && j + 1 == parent->nKeys - 1) {
    parent->keyOn = j + 1;
    UpdateParents(tag, level - 1);
  }
  return 0;
}

// Removes the entry at the cursor of the path's block at level. A block left
// empty leaves its level (its siblings are linked past it, it goes on the
// free list) and its parent entry goes the same way; an emptied root
// becomes an empty root leaf. 0, 1 when blocks were split or freed, or an
// error.
int RemoveAt(TFILE4* tag, int level) {
  INDEX4FILE* file = tag->indexFile;
  BLOCK4* b = tag->path[level];
  const int i = b->keyOn;
  const int n = b->nKeys;
  if (i < 0 || i >= n) return Corrupt(tag);
  if (n > 1) {
    b4removeEntry(b, i);
    if (b4leaf(b) && b4overfull(b, file->blockSize)) {
      int rc = Split(tag, level, -1);
      return rc < 0 ? rc : 1;
    }
    if (i == n - 1) UpdateParents(tag, level);
    return 0;
  }
  if (level == 0) {
    b->nKeys = 0;
    b->attribute = 3;
    b->left = b->right = k4noBlock;
    b->storedBytes = 0;
    index4leafFresh(file, b);
    b->changed = 1;
    return 0;
  }
  if (int rc = index4siblingSet(file, tag, b->left, 8, b->right)) return rc;
  if (int rc = index4siblingSet(file, tag, b->right, 4, b->left)) return rc;
  // The block leaves the path before it is freed.
  b4unpin(b);
  tag->path[level] = nullptr;
  tag->depth = level;
  if (int rc = index4blockFree(file, b)) return rc;
  int rc = RemoveAt(tag, level - 1);
  return rc < 0 ? rc : 1;
}

// Reads the 512-byte pool of a header; the text at pos of len bytes (its
// zero byte included) into out. false when it does not lie in the pool.
bool PoolText(const unsigned char* pool, unsigned pos, unsigned len, char* out) {
  if (len < 1 || pos >= k4poolLen || len > k4poolLen - pos) return false;
  std::memcpy(out, pool + pos, len);
  out[len - 1] = 0;
  return true;
}

int Successor(TFILE4* tag, unsigned char* key, int* len) {
  COLLATE4* collation = collate4entry(tag->collateName);
  int n = *len;
  if (collation != nullptr && collation->kind == 6) {
    int j = n - 1;
    while (j >= 0 && key[j] < 10) j--;
    if (j >= 0 && key[j] < 255) {
      key[j]++;
      *len = j + 1;
      return 0;
    }
    if (n < 1) return 1;
    std::memset(key, 17, size_t(n - 1));
    key[n - 1] = 18;
    return 0;
  }
  for (int j = n - 1; j >= 0; j--) {
    if (++key[j] != 0) return 0;
  }
  return 1;  // every byte carried: nothing follows
}

}  // namespace

// ---- the header ----

uint32_t tfile4root(TFILE4* tag) {
  if (tag->root == 0 || tag->root == k4noBlock) {
    INDEX4FILE* file = tag->indexFile;
    unsigned char bytes[4];
    if (file4readAll(&file->file, index4offset(file, tag->headerOffset), bytes, 4) != 0) return 0;
    tag->root = QLoadU32LE(bytes);
    if (tag->root == 0 || tag->root == k4noBlock) {
      Corrupt(tag);
      return 0;
    }
  }
  return tag->root;
}

int tfile4init(TFILE4* tag, INDEX4FILE* file, uint32_t headerPos, const char* name, DATA4* data) {
  CODE4* c4 = data->codeBase;
  tag->codeBase = c4;
  tag->indexFile = file;
  tag->headerOffset = headerPos;
  const uint64_t at = index4offset(file, headerPos);
  unsigned char header[28], counts[10];
  if (file4readAll(&file->file, at, header, sizeof header) != 0) return -1;
  if (file4readAll(&file->file, at + 494, tag->collation, 8) != 0) return -1;
  if (file4readAll(&file->file, at + 502, counts, sizeof counts) != 0) return -1;
  tag->collation[8] = 0;
  tag->root = QLoadU32LE(header);
  tag->freeList = QLoadU32LE(header + 4);
  tag->version = QLoadU32BE(header + 8);
  tag->keyLen = int16_t(QLoadU16LE(header + 12));
  tag->typeCode = header[14];
  tag->signature = header[15];
  tag->descending = QLoadU16LE(counts);
  tag->filterPos = QLoadU16LE(counts + 2);
  tag->filterLen = QLoadU16LE(counts + 4);
  tag->exprPos = QLoadU16LE(counts + 6);
  tag->exprLen = QLoadU16LE(counts + 8);
  u4ncpy(tag->alias, name, sizeof tag->alias);
  c4trimTrailing(tag->alias);
  for (char* p = tag->alias; *p; p++) *p = platform::AsciiUpper(*p);
  const char* fileName = file->file.name;
  const long maxKey = long(file->blockSize - 12) / 2 - 8;
  if (tag->keyLen < 1 || tag->keyLen > maxKey || tag->keyLen > long(k4keyBufferSize) - 8) {
    return error4describe(c4, e4index, E4_CORRUPT_BLOCK, fileName, tag->alias, nullptr);
  }
  // Only the directory goes without an expression: every other tag keys
  // records, whatever a damaged type byte says.
  if ((tag->typeCode & 0x80) && tag == file->tagIndex) {
    tag->pad = ' ';
    tag->collateName = 0;
    return 0;
  }
  int number = collate4fromName(tag->collation, data->dataFile->codePage);
  if (number < 0) return error4describe(c4, e4index, E4_COLLATION, fileName, tag->alias, nullptr);
  if (number > 1 && collate4ready(c4, number) != 0) return -1;
  tag->collateName = number;
  // The pool lies 512 bytes after the header's start, whatever the block size.
  unsigned char pool[k4poolLen];
  if (file4readAll(&file->file, at + 512, pool, sizeof pool) != 0) return -1;
  char text[k4poolLen + 1];
  if (!PoolText(pool, tag->exprPos, tag->exprLen, text)) {
    return error4describe(c4, e4index, E4_CORRUPT_BLOCK, fileName, tag->alias, nullptr);
  }
  tag->expr = expr4parse(data, text, tag);
  if (tag->expr == nullptr) return c4->errorCode < 0 ? c4->errorCode : error4(c4, e4index, E4_TFILE4);
  tag->keyWide = (tag->expr->type == 'W' || tag->expr->type == 'O') ? 1 : 0;
  if (expr4keyLen(tag->expr) != tag->keyLen) {
    return error4describe(c4, e4index, E4_EXPR_TAG_LENGTH, fileName, tag->alias, nullptr);
  }
  if (key4conversions(tag->expr->type, &tag->textToKey, &tag->numberToKey) != 0) {
    return error4describe(c4, e4info, E4_KEY_TYPE, fileName, tag->alias, nullptr);
  }
  COLLATE4* collation = collate4entry(number);
  bool collated = collation != nullptr && collation->kind != 0;
  tag->pad = (tag->expr->type == 'C' && !collated) ? ' ' : 0;
  if (tag->typeCode & 0x08) {
    if (!PoolText(pool, tag->filterPos, tag->filterLen, text)) {
      return error4describe(c4, e4index, E4_CORRUPT_BLOCK, fileName, tag->alias, nullptr);
    }
    tag->filter = expr4parse(data, text, tag);
    if (tag->filter == nullptr) return c4->errorCode < 0 ? c4->errorCode : error4(c4, e4index, E4_TFILE4);
    if (tag->filter->type != 'L') {
      return error4describe(c4, e4index, E4_FILTER_LOGICAL, fileName, tag->alias, nullptr);
    }
  }
  return 0;
}

void tfile4free(TFILE4* tag) {
  tfile4forgetHeld(tag);
  tfile4release(tag);
  expr4free(tag->expr);
  expr4free(tag->filter);
  tag->expr = tag->filter = nullptr;
  u4free(tag->keyBuffer);
  tag->keyBuffer = nullptr;
}

// ---- the cursor ----

void tfile4release(TFILE4* tag) {
  for (int i = 0; i < tag->depth; i++) {
    if (tag->path[i]) b4unpin(tag->path[i]);
    tag->path[i] = nullptr;
  }
  tag->depth = 0;
  tag->pathLeafOnly = 0;
}

int tfile4rlTop(TFILE4* tag) {
  if (C4(tag)->errorCode < 0) return -1;
  if (int rc = index4trim(tag->indexFile)) return rc;
  return Descend(tag, Target::kFirst);
}

int tfile4rlBottom(TFILE4* tag) {
  if (C4(tag)->errorCode < 0) return -1;
  if (int rc = index4trim(tag->indexFile)) return rc;
  int rc = Descend(tag, Target::kLast);
  if (rc == 0 && Leaf(tag)->keyOn < 0) Leaf(tag)->keyOn = 0;
  return rc;
}

int tfile4top(TFILE4* tag) { return tag->descending ? tfile4rlBottom(tag) : tfile4rlTop(tag); }
int tfile4bottom(TFILE4* tag) { return tag->descending ? tfile4rlTop(tag) : tfile4rlBottom(tag); }

int tfile4goEof(TFILE4* tag) {
  int rc = tfile4rlBottom(tag);
  if (rc == 0) Leaf(tag)->keyOn = Leaf(tag)->nKeys;
  return rc;
}

long tfile4skip(TFILE4* tag, long n) {
  if (C4(tag)->errorCode < 0) return -1;
  BLOCK4* leaf = Leaf(tag);
  if (leaf == nullptr || n == 0) return 0;
  long moved = 0;
  if (n > 0) {
    while (moved < n) {
      leaf = Leaf(tag);
      if (leaf->keyOn + 1 < leaf->nKeys) {
        long step = n - moved;
        long room = leaf->nKeys - 1 - leaf->keyOn;
        if (step > room) step = room;
        leaf->keyOn += int(step);
        moved += step;
        continue;
      }
      if (leaf->keyOn >= leaf->nKeys) break;  // past the end already
      int rc = Sibling(tag, true);
      if (rc < 0) return rc;
      if (rc > 0) break;
      moved++;
    }
  } else {
    while (moved > n) {
      leaf = Leaf(tag);
      if (leaf->keyOn > leaf->nKeys) leaf->keyOn = leaf->nKeys;
      if (leaf->keyOn > 0 && leaf->nKeys > 0) {
        long step = moved - n;
        if (step > leaf->keyOn) step = leaf->keyOn;
        leaf->keyOn -= int(step);
        moved -= step;
        continue;
      }
      int rc = Sibling(tag, false);
      if (rc < 0) return rc;
      if (rc > 0) break;
      moved--;
    }
  }
  return moved;
}

int tfile4seek(TFILE4* tag, const void* keyIn, int len) {
  CODE4* c4 = C4(tag);
  if (c4->errorCode < 0) return -1;
  if (int rc = index4trim(tag->indexFile)) return rc;
  const auto* key = static_cast<const unsigned char*>(keyIn);
  if (len > tag->keyLen) len = tag->keyLen;
  if (len < 0) len = 0;
  COLLATE4* collation = collate4entry(tag->collateName);
  const bool collated = collation != nullptr && collation->kind == 6 && tag->expr &&
                        (tag->expr->type == 'C' || tag->expr->type == 'W' || tag->expr->type == 'O');
  if (collated) {
    while (len > 0 && key[len - 1] == 17) len--;
  } else if (tag->pad == ' ' && !(tag->filter && tag->indexFile->dataFile &&
                                  tag->indexFile->dataFile->compatibility == k4dialectDbase4)) {
    while (len > 0 && key[len - 1] == ' ') len--;
  }
  if (!tag->descending) {
    if (int rc = Descend(tag, Target::kKey, key, len)) return rc;
    if (int rc = Settle(tag)) return rc;
    BLOCK4* leaf = Leaf(tag);
    if (leaf->keyOn >= leaf->nKeys) return r4after;
    return CompareEntry(leaf, leaf->keyOn, key, len, 0) == 0 ? 0 : r4after;
  }
  unsigned char next[k4keyBufferSize];
  std::memcpy(next, key, size_t(len));
  int nextLen = len;
  int rc;
  if (len == 0 || Successor(tag, next, &nextLen) != 0) {
    rc = tfile4goEof(tag);
  } else {
    rc = Descend(tag, Target::kKey, next, nextLen);
    if (rc == 0) rc = Settle(tag);
  }
  if (rc != 0) return rc;
  long moved = tfile4skip(tag, -1);
  if (moved < 0 && c4->errorCode < 0) return -1;
  if (moved == 0) {
    // Nothing precedes: the cursor stays on the first entry.
    BLOCK4* leaf = Leaf(tag);
    if (leaf->nKeys > 0 && leaf->keyOn >= leaf->nKeys) leaf->keyOn = leaf->nKeys - 1;
    return r4eof;
  }
  BLOCK4* leaf = Leaf(tag);
  int same = collated ? collate4compare(b4key(leaf, leaf->keyOn), key, len)
                      : CompareEntry(leaf, leaf->keyOn, key, len, 0);
  return same == 0 ? 0 : r4after;
}

int tfile4go(TFILE4* tag, const unsigned char* key, uint32_t rec) {
  if (C4(tag)->errorCode < 0) return -1;
  if (int rc = index4trim(tag->indexFile)) return rc;
  if (int rc = Descend(tag, Target::kKey, key, tag->keyLen, rec)) return rc;
  BLOCK4* leaf = Leaf(tag);
  if (leaf->keyOn >= leaf->nKeys) {
    // Entries may go on in the right sibling only in a tree whose branch
    // keys lag; the cursor never rests past a leaf that has one.
    if (leaf->right != k4noBlock) {
      tag->pathLeafOnly = 1;
      if (int rc = Settle(tag)) return rc;
      leaf = Leaf(tag);
    } else {
      return r4eof;
    }
  }
  return CompareEntry(leaf, leaf->keyOn, key, tag->keyLen, rec) == 0 ? 0 : 1;
}

const unsigned char* tfile4key(TFILE4* tag) {
  BLOCK4* leaf = Leaf(tag);
  if (leaf == nullptr || leaf->keyOn < 0 || leaf->keyOn >= leaf->nKeys) return nullptr;
  return b4key(leaf, leaf->keyOn);
}

long tfile4recNo(TFILE4* tag) {
  BLOCK4* leaf = Leaf(tag);
  if (leaf == nullptr) return -2;
  if (leaf->nKeys == 0) return 0;
  if (leaf->keyOn < 0 || leaf->keyOn >= leaf->nKeys) return -1;
  return long(leaf->recs[leaf->keyOn]);
}

int tfile4eof(TFILE4* tag) {
  BLOCK4* leaf = Leaf(tag);
  return leaf == nullptr || leaf->nKeys == 0 || leaf->keyOn >= leaf->nKeys;
}

// ---- keys ----

int tfile4add(TFILE4* tag, const unsigned char* key, uint32_t rec, int mode) {
  CODE4* c4 = C4(tag);
  if (c4->errorCode < 0) return -1;
  INDEX4FILE* file = tag->indexFile;
  const bool candidate = mode == 15 || mode == e4candidate;
  const bool null = (tag->typeCode & 0x02) && key[0] == 0;
  auto refuse = [&]() -> int {
    if (mode == e4unique || mode == e4candidate) {
      return error4describe(c4, e4unique, E4_T4ADD, tag->alias, nullptr, nullptr);
    }
    return mode == r4uniqueContinue ? r4uniqueContinue : r4unique;
  };
  if (candidate && null) return refuse();
  int rc = tfile4go(tag, key, rec);
  if (rc < 0) return rc;
  if (rc == 0) {
    if (mode == e4unique || mode == e4candidate || mode == 15) return refuse();
    return 0;
  }
  if ((tag->typeCode & 0x05) && mode != 0) {
    // Another record with this key refuses the add under the tag's mode.
    if (int seek = Descend(tag, Target::kKey, key, tag->keyLen)) return seek;
    if (int settle = Settle(tag)) return settle;
    BLOCK4* leaf = Leaf(tag);
    if (leaf->keyOn < leaf->nKeys && CompareEntry(leaf, leaf->keyOn, key, tag->keyLen, 0) == 0) return refuse();
    if (int again = tfile4go(tag, key, rec); again < 0) return again;
  }
  if (tag->filter != nullptr && !tag->filterMarked) {
    const char zero = 0;
    if (int mark = file4write(&file->file, index4offset(file, tag->headerOffset) + 272, &zero, 1)) return mark;
    tag->filterMarked = 1;
  }
  // An add that did not find its place from the root has only the leaf.
  if (tag->pathLeafOnly) {
    if (int again = Descend(tag, Target::kKey, key, tag->keyLen, rec)) return again;
  }
  rc = InsertAt(tag, tag->depth - 1, key, rec, 0);
  index4changed(file);
  if (rc != 0) tfile4release(tag);
  return rc < 0 ? rc : 0;
}

int tfile4remove(TFILE4* tag, const unsigned char* key, uint32_t rec) {
  CODE4* c4 = C4(tag);
  if (c4->errorCode < 0) return -1;
  int rc = tfile4go(tag, key, rec);
  if (rc < 0) return rc;
  if (rc != 0) return r4entry;
  if (tag->pathLeafOnly) {
    if (int again = Descend(tag, Target::kKey, key, tag->keyLen, rec)) return again;
    if (tfile4eof(tag)) return r4entry;
  }
  rc = RemoveAt(tag, tag->depth - 1);
  index4changed(tag->indexFile);
  if (rc != 0) tfile4release(tag);
  return rc < 0 ? rc : 0;
}

// ---- removals held until the commit ----

namespace {

size_t HeldWidth(const TFILE4* tag) { return 4 + size_t(tag->keyLen); }
unsigned char* HeldAt(TFILE4* tag, int i) { return tag->pending + size_t(i) * HeldWidth(tag); }
uint32_t HeldRec(TFILE4* tag, int i) { return QLoadU32LE(HeldAt(tag, i)); }
bool HeldKey(TFILE4* tag, int i, const unsigned char* key) {
  return std::memcmp(HeldAt(tag, i) + 4, key, size_t(tag->keyLen)) == 0;
}

// Takes entry i off the list, keeping the order of the others.
void DropHeld(TFILE4* tag, int i) {
  const size_t width = HeldWidth(tag);
  std::memmove(HeldAt(tag, i), HeldAt(tag, i) + width, size_t(tag->pendingN - i - 1) * width);
  tag->pendingN--;
}

}  // namespace

int tfile4holdRemoval(TFILE4* tag, const unsigned char* key, uint32_t rec) {
  if (tag->pendingN == tag->pendingMax) {
    const int more = tag->pendingMax < 8 ? 8 : tag->pendingMax * 2;
    auto* bigger = static_cast<unsigned char*>(u4alloc(long(HeldWidth(tag) * size_t(more))));
    if (bigger == nullptr) return e4memory;
    if (tag->pendingN > 0) std::memcpy(bigger, tag->pending, HeldWidth(tag) * size_t(tag->pendingN));
    u4free(tag->pending);
    tag->pending = bigger;
    tag->pendingMax = more;
  }
  unsigned char* at = HeldAt(tag, tag->pendingN++);
  QStoreU32LE(at, rec);
  std::memcpy(at + 4, key, size_t(tag->keyLen));
  return 0;
}

int tfile4dropRemoval(TFILE4* tag, const unsigned char* key, uint32_t rec) {
  // The newest first: a rollback takes back what was held last.
  for (int i = tag->pendingN - 1; i >= 0; i--) {
    if (HeldRec(tag, i) == rec && HeldKey(tag, i, key)) {
      DropHeld(tag, i);
      return 1;
    }
  }
  return 0;
}

int tfile4heldBeforeAdd(TFILE4* tag, const unsigned char* key, uint32_t rec) {
  if (tfile4dropRemoval(tag, key, rec)) return 1;
  for (int i = 0; i < tag->pendingN;) {
    if (!HeldKey(tag, i, key)) {
      i++;
      continue;
    }
    int rc = tfile4remove(tag, key, HeldRec(tag, i));
    if (rc < 0) return rc;
    DropHeld(tag, i);
  }
  return 0;
}

int tfile4removeHeld(TFILE4* tag) {
  int result = 0;
  unsigned char key[k4keyBufferSize];
  while (tag->pendingN > 0) {
    const int last = tag->pendingN - 1;
    const uint32_t rec = HeldRec(tag, last);
    std::memcpy(key, HeldAt(tag, last) + 4, size_t(tag->keyLen));
    tag->pendingN = last;
    int rc = tfile4remove(tag, key, rec);
    if (rc < 0 && result == 0) result = rc;
  }
  return result;
}

void tfile4forgetHeld(TFILE4* tag) {
  u4free(tag->pending);
  tag->pending = nullptr;
  tag->pendingN = tag->pendingMax = 0;
}
