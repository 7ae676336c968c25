// The block cache: fixed-size blocks of the context's buffered files, found
// through a hash table of (file, position), kept in five LRU lists (other,
// data A, index A, data B, index B) from which victims are chosen, with
// write-behind, a write buffer that turns runs of dirty data-file blocks into
// one write, and a sequential read-ahead for files read in order.
//
// The cache belongs to the caller's thread; the worker threads only see the
// write buffers and spare buffers it hands them, through their completions.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/env.h"
#include "platform/endian.h"
#include "xbase/code4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/index4.h"
#include "xbase/opt4int.h"

namespace {

// The cache's geometry follows the disk's sector.
constexpr uint32_t kSectorBytes = 512;
constexpr uint64_t kMemoryCap = 50000000;
constexpr uint64_t k4GB = uint64_t(1) << 32;

OPT4* Opt(CODE4* c4, bool create) {
  if (c4 == nullptr) return nullptr;
  if (c4->opt == nullptr && create) c4->opt = new (std::nothrow) OPT4;
  return c4->opt;
}

uint32_t Log2(uint32_t n) {
  uint32_t shift = 0;
  while (n > 1) {
    n >>= 1;
    shift++;
  }
  return shift;
}

OPT4BLOCK* FromLru(void* link) {
  return link ? reinterpret_cast<OPT4BLOCK*>(static_cast<char*>(link) - offsetof(OPT4BLOCK, lruLink))
              : nullptr;
}
OPT4BLOCK* FirstIn(OPT4LIST* list) { return FromLru(l4first(&list->blocks)); }
OPT4BLOCK* NextIn(OPT4LIST* list, OPT4BLOCK* b) { return FromLru(l4next(&list->blocks, &b->lruLink)); }

LIST4& Slot(OPT4* opt, const FILE4* file, uint32_t pos) {
  return opt->hashTable[((file->hashOffset + pos) >> opt->blockShift) & opt->hashMask];
}

OPT4BLOCK* Find(OPT4* opt, const FILE4* file, uint32_t pos) {
  LIST4& slot = Slot(opt, file, pos);
  for (auto* b = static_cast<OPT4BLOCK*>(l4first(&slot)); b;
       b = static_cast<OPT4BLOCK*>(l4next(&slot, b))) {
    if (b->file == file && b->pos == pos) return b;
  }
  return nullptr;
}

void Unlist(OPT4BLOCK* b) {
  OPT4LIST* list = b->list;
  if (list == nullptr) return;
  if (list->candidate == b) list->candidate = nullptr;
  l4remove(&list->blocks, &b->lruLink);
  b->list = nullptr;
}

void Enlist(OPT4BLOCK* b, OPT4LIST* list) {
  l4add(&list->blocks, &b->lruLink);
  b->list = list;
}

// A block leaves its file for the free list.
void Drop(OPT4* opt, OPT4BLOCK* b) {
  l4remove(&Slot(opt, b->file, b->pos), b);
  Unlist(b);
  b->file = nullptr;
  b->changed = 0;
  b->len = 0;
  l4add(&opt->avail, &b->lruLink);
}

void ClearStamps(OPT4* opt, bool use) {
  for (uint32_t i = 0; i < opt->numBlocks; i++) {
    if (use) {
      opt->blocks[i].useStamp = 0;
    } else {
      opt->blocks[i].ageStamp = 0;
    }
  }
}

// Every hit and every fill.
void Use(OPT4* opt, OPT4BLOCK* b) {
  OPT4LIST* list = b->list;
  if (list->blocks.lastNode != &b->lruLink) {
    if (list->candidate == b) list->candidate = nullptr;
    l4remove(&list->blocks, &b->lruLink);
    l4add(&list->blocks, &b->lruLink);
  }
  if (opt->ageCount - b->ageStamp > opt->ageStep) {
    b->ageStamp = opt->ageCount;
    if (++opt->ageCount == 0) ClearStamps(opt, false);
  }
  b->hits += b->file->blockWeight;
}

// Marks in each list the last block, from the least recently used end, that
// is old enough to be taken.
void MarkCandidates(OPT4* opt, bool withCountdown) {
  for (OPT4LIST* list : opt->lists) {
    if (withCountdown) {
      if (--list->countdown > 0) continue;
      list->countdown = list->index;
    }
    uint32_t remaining = list->blocks.numLinks;
    OPT4BLOCK* last = nullptr;
    for (OPT4BLOCK* b = FirstIn(list); b; b = NextIn(list, b)) {
      if (opt->ageCount - b->ageStamp < list->ageLimit) break;
      if (opt->useCount - b->useStamp <= list->useLimit && remaining <= list->minCount) break;
      last = b;
      remaining--;
    }
    list->candidate = last;
    if (last == nullptr) list->countdown++;
  }
}

OPT4LIST* Marked(OPT4* opt) {
  for (OPT4LIST* list : opt->lists) {
    if (list->candidate) return list;
  }
  return nullptr;
}

// The block to reuse: a free one, else the least recently used of the list
// chosen by the candidate marks or, failing those, by the list sizes.
OPT4BLOCK* Victim(CODE4* c4, OPT4* opt) {
  if (void* link = l4first(&opt->avail)) {
    l4remove(&opt->avail, link);
    return FromLru(link);
  }
  OPT4LIST* chosen = Marked(opt);
  if (chosen == nullptr) {
    MarkCandidates(opt, true);
    chosen = Marked(opt);
  }
  if (chosen == nullptr) {
    MarkCandidates(opt, false);
    chosen = Marked(opt);
  }
  if (chosen == nullptr) {
    uint32_t avg = (opt->other.blocks.numLinks + opt->dataA.blocks.numLinks +
                    opt->indexA.blocks.numLinks) / 3;
    if (avg < 1) {
      chosen = opt->dataB.blocks.numLinks > 0 ? &opt->dataB : &opt->indexB;
    } else if (opt->other.blocks.numLinks > avg) {
      chosen = &opt->other;
    } else if (opt->dataA.blocks.numLinks > avg) {
      chosen = &opt->dataA;
    } else {
      chosen = &opt->indexA;
    }
  }
  OPT4BLOCK* b = FirstIn(chosen);
  if (b == nullptr) {
    error4(c4, e4struct, E4_OPT4);
    return nullptr;
  }
  if (chosen->candidate == b) chosen->candidate = nullptr;
  return b;
}

void SetWritten(void* arg) {
  auto* flag = static_cast<std::atomic<int>*>(arg);
  flag->store(1);
  flag->notify_all();
}

void WaitWritten(std::atomic<int>& flag) {
  while (flag.load() == 0) flag.wait(0);
}

void ReturnSpare(void* arg) {
  auto* ticket = static_cast<OPT4::SpareTicket*>(arg);
  OPT4* opt = ticket->opt;
  std::lock_guard<std::mutex> hold(opt->spareLock);
  opt->spareBusy[ticket->slot] = false;
  opt->spareFreed.notify_all();
}

int TakeSpare(OPT4* opt) {
  std::unique_lock<std::mutex> hold(opt->spareLock);
  opt->spareFreed.wait(hold, [opt] { return !opt->spareBusy[0] || !opt->spareBusy[1]; });
  int slot = opt->spareBusy[0] ? 1 : 0;
  opt->spareBusy[slot] = true;
  return slot;
}

// Hands the write buffer's blocks to one delayed write, and takes the other
// buffer once its own write is done.
int FlushWriteBuffer(OPT4* opt) {
  FILE4* file = opt->writeFile;
  if (file == nullptr || opt->writeBlocks == 0) {
    opt->writeFile = nullptr;
    opt->writeBlocks = 0;
    return 0;
  }
  uint8_t behind = file->writeBehind;
  uint32_t cached = file->cached;
  file->writeBehind = 0;
  file->cached = 0;
  int current = opt->writeCurrent;
  opt->written[current].store(0);
  int rc = file4writeDelay(file, opt->writeStart, opt->writeBuffers[current],
                           opt->writeEnd - opt->writeStart, SetWritten, &opt->written[current]);
  WaitWritten(opt->written[1 - current]);
  opt->writeCurrent = 1 - current;
  file->writeBehind = behind;
  file->cached = cached;
  opt->writeFile = nullptr;
  opt->writeBlocks = 0;
  opt->writeStart = opt->writeEnd = 0;
  return rc < 0 ? rc : 0;
}

// Writes a dirty block back. Data-file blocks may gather in the write
// buffer (useWriteBuffer); with `delay` the file's first block goes to the
// delayed-write thread through a spare buffer.
int WriteBack(CODE4* c4, OPT4* opt, OPT4BLOCK* b, bool useWriteBuffer, bool delay) {
  FILE4* file = b->file;
  const uint32_t bs = opt->blockSize;
  // The sequential read-ahead is filling blocks from bytes read before this
  // block's newer ones reach the disk.
  if (opt->readFile == file && b->pos >= opt->readPos && b->pos < opt->readPos + opt->readLen) {
    uint32_t at = b->pos - opt->readPos;
    uint32_t n = std::min(b->len, opt->readLen - at);
    std::memcpy(opt->readBuffer + at, b->data, n);
  }
  if (useWriteBuffer && file->cacheClass == 1 && file->onDisk) {
    bool follows = opt->writeFile == file && opt->writeBlocks > 0 &&
                   opt->writeBlocks < opt->blocksPerBuffer && b->pos >= opt->writeEnd &&
                   b->pos < opt->writeEnd + bs;
    if (!follows) {
      if (int rc = FlushWriteBuffer(opt)) return rc;
      opt->writeFile = file;
      opt->writeStart = opt->writeEnd = b->pos;
    }
    unsigned char* buffer = opt->writeBuffers[opt->writeCurrent];
    uint32_t filled = opt->writeEnd - opt->writeStart;
    uint32_t at = b->pos - opt->writeStart;
    // A short block before this one: the bytes between are the file's zeros.
    if (at > filled) std::memset(buffer + filled, 0, at - filled);
    std::memcpy(buffer + at, b->data, b->len);
    opt->writeEnd = b->pos + b->len;
    opt->writeBlocks++;
    b->changed = 0;
    return 0;
  }
  if (opt->writeFile == file && b->pos < opt->writeEnd && b->pos + bs > opt->writeStart) {
    if (int rc = FlushWriteBuffer(opt)) return rc;
  }
  uint32_t cached = file->cached;
  file->cached = 0;
  int rc;
  if (delay && b->pos == 0 && opt4writer(c4) && file->onDisk && !file->largeFile) {
    int slot = TakeSpare(opt);
    std::memcpy(opt->spare[slot], b->data, b->len);
    rc = file4writeInternal(file, 0, opt->spare[slot], b->len, 1, ReturnSpare,
                            &opt->spareTickets[slot]);
  } else {
    rc = file4writeInternal(file, b->pos, b->data, b->len, 0, nullptr, nullptr);
  }
  file->cached = cached;
  if (rc < 0) return rc;
  b->changed = 0;
  return 0;
}

// A block for (file, pos), at the most recently used end of its class's
// list and in its hash slot, not yet filled (len 0). Null after a report.
OPT4BLOCK* TakeBlock(CODE4* c4, OPT4* opt, FILE4* file, uint32_t pos) {
  OPT4BLOCK* b = Victim(c4, opt);
  if (b == nullptr) return nullptr;
  if (b->file != nullptr) {
    if (b->changed && WriteBack(c4, opt, b, true, true) < 0) return nullptr;
    l4remove(&Slot(opt, b->file, b->pos), b);
    Unlist(b);
  }
  Enlist(b, file->cacheClass == 1 ? &opt->dataA : file->cacheClass == 2 ? &opt->indexA : &opt->other);
  b->useStamp = opt->useCount++;
  if (opt->useCount == 0) ClearStamps(opt, true);
  b->ageStamp = ++opt->ageCount;
  if (opt->ageCount == 0) ClearStamps(opt, false);
  b->file = file;
  b->pos = pos;
  b->len = 0;
  b->changed = 0;
  b->hits = 0;
  l4add(&Slot(opt, file, pos), b);
  return b;
}

int16_t NodeAttribute(const unsigned char* node) { return QLoadI16LE(node); }

// Blocks worth keeping longer move to the B lists once filled: a data file's
// first block and the records reached through a tag, and index blocks that
// hold a root or branch node.
void Promote(OPT4* opt, OPT4BLOCK* b) {
  FILE4* file = b->file;
  if (file->owner == nullptr) return;
  if (b->list == &opt->dataA) {
    auto* owner = static_cast<const DATA4FILE*>(file->owner);
    if (b->pos == 0 || (owner->accessHint == 1 && owner->recWidth < 4096)) {
      Unlist(b);
      Enlist(b, &opt->dataB);
    }
  } else if (b->list == &opt->indexA && b->len == opt->blockSize) {
    bool branch = false;
    if (opt->blockSize == 1024) {
      branch = NodeAttribute(b->data) < 2 || NodeAttribute(b->data + 512) < 2;
    } else if (opt->blockSize == 512) {
      branch = NodeAttribute(b->data) < 2;
    }
    if (branch) {
      Unlist(b);
      Enlist(b, &opt->indexB);
    }
  }
}

// The file's logical length for its blocks: the cached length with
// write-behind, else the disk's (queued writes included).
uint64_t LogicalLen(FILE4* file) {
  uint64_t len = opt4cachedLen(file);
  if (len != ~uint64_t(0)) return len;
  return file->onDisk ? file4lenLow(file) : 0;
}

void Fill(OPT4BLOCK* b, uint32_t blockSize) {
  FILE4* file = b->file;
  opt4writeBufferRelease(file, b->pos, blockSize);
  b->len = file4readInternal(file, b->pos, b->data, blockSize);
}

// A block shorter than a full one was the file's end when it was filled;
// once the file has grown past it, the rest comes from the disk (a clean
// block) or is the zeros of a gap that was never written.
void CatchUp(OPT4* opt, OPT4BLOCK* b) {
  const uint32_t bs = opt->blockSize;
  FILE4* file = b->file;
  uint64_t len = LogicalLen(file);
  if (len == ~uint64_t(0) || len <= uint64_t(b->pos) + b->len) return;
  if (!b->changed && file->onDisk) {
    uint32_t had = b->len;
    Fill(b, bs);
    if (b->len < had) b->len = had;
  }
  uint32_t want = uint32_t(std::min<uint64_t>(bs, len - b->pos));
  if (b->len < want) {
    std::memset(b->data + b->len, 0, want - b->len);
    b->len = want;
  }
}

// The part of [at, end) that lies in at's block.
struct Piece {
  uint32_t block;   // the block's position
  uint32_t offset;  // of `at` in it
  uint32_t length;
};

Piece PieceAt(uint64_t at, uint64_t end, uint32_t blockSize) {
  uint32_t block = uint32_t(at) & ~(blockSize - 1);
  uint32_t offset = uint32_t(at) - block;
  return {block, offset, uint32_t(std::min<uint64_t>(end - at, blockSize - offset))};
}

// Bytes written into a block at `offset`: a gap before them holds what the
// file holds there (zeros where nothing was written).
void Place(OPT4* opt, OPT4BLOCK* b, uint32_t offset, const unsigned char* bytes, uint32_t length) {
  if (offset > b->len) {
    CatchUp(opt, b);
    if (offset > b->len) std::memset(b->data + b->len, 0, offset - b->len);
  }
  std::memcpy(b->data + offset, bytes, length);
  if (offset + length > b->len) b->len = offset + length;
}

// Reads blocks ahead from `pos` in one read and caches those not cached yet.
// count 0 reads a whole buffer; mode -1 places the buffer to end at pos's
// block when the block after it is cached (reading backwards).
int ReadAhead(CODE4* c4, OPT4* opt, FILE4* file, uint32_t pos, uint32_t count, int mode) {
  const uint32_t bs = opt->blockSize;
  uint32_t bytes = count == 0 ? opt->bufferSize : std::min<uint64_t>(uint64_t(count) * bs, opt->bufferSize);
  uint32_t start = pos;
  if (mode == -1 && Find(opt, file, pos + bs)) {
    uint32_t end = pos + bs;
    start = end > bytes ? end - bytes : 0;
    bytes = end - start;
  }
  if (uint64_t(start) + bytes > k4cacheLimit) bytes = uint32_t(k4cacheLimit - start);
  if (int rc = opt4writeBufferRelease(file, start, bytes)) return rc;
  unsigned n = file4readInternal(file, start, opt->readBuffer, bytes);
  if (c4->errorCode < 0) return -1;
  opt->readFile = file;
  opt->readPos = start;
  opt->readLen = n;
  int rc = 0;
  // The last first, so that the first ends most recently used.
  for (uint32_t i = (n + bs - 1) / bs; i-- > 0;) {
    uint32_t at = start + i * bs;
    if (Find(opt, file, at)) continue;
    OPT4BLOCK* b = TakeBlock(c4, opt, file, at);
    if (b == nullptr) {
      rc = -1;
      break;
    }
    b->len = std::min(bs, opt->readLen - i * bs);
    std::memcpy(b->data, opt->readBuffer + i * bs, b->len);
    Promote(opt, b);
  }
  opt->readFile = nullptr;
  return rc;
}

// The file's blocks in the lists of its class.
std::vector<OPT4BLOCK*> BlocksOf(OPT4* opt, const FILE4* file) {
  std::vector<OPT4BLOCK*> found;
  OPT4LIST* classes[2] = {nullptr, nullptr};
  switch (file->cacheClass) {
    case 1: classes[0] = &opt->dataA, classes[1] = &opt->dataB; break;
    case 2: classes[0] = &opt->indexA, classes[1] = &opt->indexB; break;
    case 3: classes[0] = &opt->other; break;
    default: return found;
  }
  for (OPT4LIST* list : classes) {
    if (list == nullptr) continue;
    for (OPT4BLOCK* b = FirstIn(list); b; b = NextIn(list, b)) {
      if (b->file == file) found.push_back(b);
    }
  }
  return found;
}

// Writes the file's dirty blocks back in file order (dropping them all with
// `drop`) and lets the disk's length follow the cached one.
int WriteBackFile(CODE4* c4, OPT4* opt, FILE4* file, bool drop) {
  int rc = 0;
  if (opt4running(c4) && file->cacheClass != 0) {
    std::vector<OPT4BLOCK*> blocks = BlocksOf(opt, file);
    std::sort(blocks.begin(), blocks.end(), [](const OPT4BLOCK* a, const OPT4BLOCK* b) { return a->pos < b->pos; });
    for (OPT4BLOCK* b : blocks) {
      if (!b->changed) continue;
      int r = WriteBack(c4, opt, b, file->cacheClass == 1, true);
      if (r < 0 && rc == 0) rc = r;
    }
    if (opt->writeFile == file) {
      int r = FlushWriteBuffer(opt);
      if (r < 0 && rc == 0) rc = r;
    }
    if (drop) {
      for (OPT4BLOCK* b : blocks) Drop(opt, b);
    }
  }
  uint64_t cached = opt4cachedLen(file);
  if (cached != ~uint64_t(0) && file->onDisk && file4lenLow(file) != cached) {
    int r = file4lenSetLow(file, cached);
    if (r < 0 && rc == 0) rc = r;
  }
  return rc;
}

// Drops the blocks at or past `length` and shortens the one holding it.
void Shrink(OPT4* opt, FILE4* file, uint64_t length, uint64_t current) {
  const uint32_t bs = opt->blockSize;
  if (opt->writeFile == file) FlushWriteBuffer(opt);
  if (file->onDisk) {
    file4writeDelayFlush(file, 1);
    opt4aheadCancel(file, length);
  }
  uint64_t end = std::min(current, k4cacheLimit);
  for (uint64_t at = length & ~uint64_t(bs - 1); at < end; at += bs) {
    OPT4BLOCK* b = Find(opt, file, uint32_t(at));
    if (b == nullptr) continue;
    if (at >= length) {
      Drop(opt, b);
    } else if (b->len > length - at) {
      b->len = uint32_t(length - at);
    }
  }
}

void SetTuning(OPT4LIST* list, uint32_t numBlocks, double minCount, double useLimit, double ageLimit) {
  list->minCount = uint32_t(numBlocks * minCount);
  list->useLimit = uint32_t(numBlocks * useLimit);
  list->ageLimit = uint32_t(numBlocks * ageLimit);
}

// Frees the cache's memory once nothing is in flight from it.
void Release(OPT4* opt) {
  WaitWritten(opt->written[0]);
  WaitWritten(opt->written[1]);
  {
    std::unique_lock<std::mutex> hold(opt->spareLock);
    opt->spareFreed.wait(hold, [opt] { return !opt->spareBusy[0] && !opt->spareBusy[1]; });
  }
  if (opt->buffers) {
    for (uint32_t i = 0; i < opt->numBuffers; i++) std::free(opt->buffers[i]);
  }
  std::free(opt->buffers);
  std::free(opt->hashTable);
  std::free(opt->blocks);
  for (unsigned char*& p : opt->writeBuffers) std::free(p), p = nullptr;
  for (unsigned char*& p : opt->spare) std::free(p), p = nullptr;
  std::free(opt->readBuffer);
  opt->buffers = nullptr;
  opt->hashTable = nullptr;
  opt->blocks = nullptr;
  opt->readBuffer = nullptr;
  opt->avail = LIST4{};
  for (OPT4LIST* list : {&opt->other, &opt->dataA, &opt->indexA, &opt->dataB, &opt->indexB}) {
    list->blocks = LIST4{};
    list->candidate = nullptr;
  }
  opt->numBuffers = 0;
  opt->numBlocks = 0;
  opt->writeFile = nullptr;
  opt->writeBlocks = 0;
}

// Allocates up to `wanted` buffers of the current geometry; the number had.
uint32_t Allocate(OPT4* opt, uint32_t wanted) {
  const uint32_t perBuffer = opt->blocksPerBuffer;
  const uint32_t tableSize = 2u << Log2(perBuffer * wanted);
  opt->buffers = static_cast<unsigned char**>(std::calloc(wanted, sizeof(unsigned char*)));
  opt->hashTable = static_cast<LIST4*>(std::calloc(tableSize, sizeof(LIST4)));
  opt->blocks = static_cast<OPT4BLOCK*>(std::calloc(size_t(wanted) * perBuffer, sizeof(OPT4BLOCK)));
  for (unsigned char*& p : opt->writeBuffers) p = static_cast<unsigned char*>(std::malloc(opt->bufferSize));
  opt->readBuffer = static_cast<unsigned char*>(std::malloc(opt->bufferSize));
  for (unsigned char*& p : opt->spare) p = static_cast<unsigned char*>(std::malloc(opt->blockSize));
  if (!opt->buffers || !opt->hashTable || !opt->blocks || !opt->writeBuffers[0] ||
      !opt->writeBuffers[1] || !opt->readBuffer || !opt->spare[0] || !opt->spare[1]) {
    return 0;
  }
  uint32_t had = 0;
  while (had < wanted) {
    auto* buffer = static_cast<unsigned char*>(std::malloc(opt->bufferSize));
    if (buffer == nullptr) break;
    opt->buffers[had] = buffer;
    for (uint32_t i = 0; i < perBuffer; i++) {
      OPT4BLOCK* b = &opt->blocks[had * perBuffer + i];
      b->data = buffer + i * opt->blockSize;
      l4add(&opt->avail, &b->lruLink);
    }
    had++;
  }
  opt->numBuffers = had;
  opt->hashMask = tableSize - 1;
  return had;
}

// Sizes and allocates the cache; 0 or -1 (it stays off).
int Start(CODE4* c4, OPT4* opt) {
  // Whole sectors, and a power of two so that positions split by shifts.
  uint32_t block = c4->cacheBlockSize >= long(kSectorBytes) ? uint32_t(c4->cacheBlockSize) : kSectorBytes;
  block = 1u << Log2(block / kSectorBytes * kSectorBytes);
  uint32_t buffer = c4->cacheBufferSize > 0 ? uint32_t(c4->cacheBufferSize) / block * block : 0;
  if (buffer < block) buffer = block;
  const long limit = c4->memStartMax;
  auto fits = [limit](uint32_t size) { return limit > 0 ? uint64_t(limit) / (size - 2) : 0; };
  uint64_t n = fits(buffer);
  while (n < 8) {
    buffer -= block;
    if (buffer == 0) return -1;
    n = fits(buffer);
  }
  opt->blockSize = block;
  opt->bufferSize = buffer;
  opt->blocksPerBuffer = buffer / block;
  opt->blockShift = uint8_t(Log2(block));
  opt->offsetShift = uint8_t(32 - opt->blockShift);
  opt->hashCursor = 0;
  uint64_t wanted = n - 4;  // the write buffers, the read buffer and the spares take four
  // Block numbers and the hash table's size stay within 32 bits.
  if (wanted > (1u << 30) / opt->blocksPerBuffer) wanted = (1u << 30) / opt->blocksPerBuffer;
  for (;;) {
    opt->written[0].store(1);
    opt->written[1].store(1);
    uint32_t had = Allocate(opt, uint32_t(wanted));
    if (had >= 4 || had == wanted) break;
    Release(opt);
    wanted = 4;
    buffer = buffer / 2 / block * block;
    if (buffer == 0) return -1;
    opt->bufferSize = buffer;
    opt->blocksPerBuffer = buffer / block;
  }
  opt->started = true;
  opt->numBlocks = opt->blocksPerBuffer * opt->numBuffers;
  opt->hashSize = 2u << Log2(opt->numBlocks);
  opt->hashMask = opt->hashSize - 1;
  opt->ageStep = std::max<uint32_t>(2, opt->numBlocks / 100);
  opt->useCount = opt->ageCount = 0;
  OPT4LIST* order[5] = {&opt->other, &opt->dataA, &opt->indexA, &opt->dataB, &opt->indexB};
  for (int i = 0; i < 5; i++) {
    opt->lists[i] = order[i];
    order[i]->index = i;
    order[i]->countdown = i;
    order[i]->candidate = nullptr;
  }
  SetTuning(&opt->dataA, opt->numBlocks, 0.05, 0.25, 0.25);
  SetTuning(&opt->dataB, opt->numBlocks, 0.10, 1.0, 1.0);
  SetTuning(&opt->indexA, opt->numBlocks, 0.05, 0.25, 0.25);
  SetTuning(&opt->indexB, opt->numBlocks, 0.15, 2.0, 2.0);
  SetTuning(&opt->other, opt->numBlocks, 0.05, 0.10, 0.10);
  for (int i = 0; i < 2; i++) opt->spareTickets[i] = {opt, i};
  return 0;
}

// A buffered file starts in the cache: its length unknown yet, its place in
// the hash table after the files before it.
void Buffer(OPT4* opt, FILE4* file) {
  uint64_t len = file->onDisk ? file4lenLow(file) : 0;
  if (len == ~uint64_t(0)) len = 0;
  opt4lenUnknown(file);
  if (file->hashOffset == 0xFFFFFFFFu) {
    file->hashOffset = opt->hashCursor * opt->blockSize;
    opt->hashCursor = uint32_t((len / opt->blockSize + opt->hashCursor) % opt->numBlocks);
  }
  file->cached = 1;
  file->writeBehind = file->writeCacheWanted ? 1 : 0;
  if (file->cacheClass == 1) {
    file->blockWeight = std::min(1.0, double(file->readHint) / double(opt->blockSize));
  }
}

}  // namespace

// ---- control ----

int code4optStart(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_OPT_START);
  int rc = code4optRestart(c4);
  if (rc == 0) code4freeBlocks(c4);
  return rc;
}

int code4optRestart(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_OPT_RESTART);
  if (code4verify(c4, 1, E4_CODE4_OPT_RESTART) || c4->errorCode < 0) return -1;
  OPT4* opt = Opt(c4, true);
  if (opt == nullptr) return -1;
  if (opt->numBuffers > 0 || opt->started) return 0;
  if (Start(c4, opt) != 0) {
    Release(opt);
    opt->started = false;
    return -1;
  }
  for (auto* file = static_cast<FILE4*>(l4first(&opt->bufferedFiles)); file;
       file = static_cast<FILE4*>(l4next(&opt->bufferedFiles, file))) {
    uint64_t len = file->onDisk ? file4lenLow(file) : 0;
    if (len < k4GB && !file->largeFile) Buffer(opt, file);
  }
  return 0;
}

int code4optSuspend(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_OPT_SUSPEND);
  if (code4verify(c4, 1, E4_CODE4_OPT_SUSPEND)) return -1;
  OPT4* opt = Opt(c4, true);
  if (opt == nullptr) return 0;
  opt->refreshOff = true;
  if (opt->numBuffers == 0) {
    opt->started = false;
    return 0;
  }
  int saved = error4set(c4, 0);
  bool failed = false;
  for (auto* file = static_cast<FILE4*>(l4first(&opt->bufferedFiles)); file;
       file = static_cast<FILE4*>(l4next(&opt->bufferedFiles, file))) {
    if (!file->onDisk && file->cached && file4makeReal(file) < 0) failed = true;
    if (WriteBackFile(c4, opt, file, true) < 0) failed = true;
    file->cached = 0;
    file->writeBehind = 0;
    opt4lenUnknown(file);
  }
  if (FlushWriteBuffer(opt) < 0) failed = true;
  Release(opt);
  opt->started = false;
  error4set(c4, saved);
  if (!failed) return 0;
  if (saved < 0) return e4optSuspend;
  return error4(c4, e4optSuspend, E4_CODE4_OPT_SUSPEND);
}

int code4freeBlocks(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_FREE_BLOCKS);
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    d4freeBlocks(data);
  }
  return 0;
}

int code4optAll(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_OPT_ALL);
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    if (code4verify(data, 2, E4_CODE4_OPT_ALL)) return -1;
    if (d4optimize(data->dataFile, 1) < 0 || d4optimizeWrite(data->dataFile, 1) < 0) return -1;
  }
  return code4optStart(c4);
}

int d4optimize(DATA4FILE* file, int flag) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_D4OPTIMIZE);
  CODE4* c4 = file->c4;
  uint32_t bufferSize = opt4running(c4) ? c4->opt->bufferSize : uint32_t(c4->cacheBufferSize);
  int rc = 0;
  if (file->recWidth <= bufferSize) rc = file4optimize(&file->file, flag, 1, int(file->recWidth), file);
  for (auto* index = static_cast<INDEX4FILE*>(l4first(&file->indexes)); index && rc == 0;
       index = static_cast<INDEX4FILE*>(l4next(&file->indexes, index))) {
    rc = file4optimize(&index->file, flag, 2, index->blockSize, index);
  }
  if (rc == 0 && file->memoFile.file.handle >= 0) {
    rc = file4optimize(&file->memoFile.file, flag, 3, 0, &file->memoFile);
  }
  return rc;
}

int d4optimizeWrite(DATA4FILE* file, int flag) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_D4OPTIMIZE_WRITE);
  int rc = file4optimizeWrite(&file->file, flag);
  if (rc == 0 && file->memoFile.file.handle >= 0) rc = file4optimizeWrite(&file->memoFile.file, flag);
  for (auto* index = static_cast<INDEX4FILE*>(l4first(&file->indexes)); index && rc == 0;
       index = static_cast<INDEX4FILE*>(l4next(&file->indexes, index))) {
    rc = file4optimizeWrite(&index->file, flag);
  }
  return rc;
}

int file4optimize(FILE4* file, int flag, int cacheClass, int expectedReadSize, void* owner) {
  if (flag < -1 || flag > 1 || cacheClass < 0 || cacheClass > 3) {
    return error4(file ? file->codeBase : nullptr, e4parm, E4_FILE4_OPTIMIZE);
  }
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_OPTIMIZE);
  CODE4* c4 = file->codeBase;
  if (file->largeFile) return 0;
  if (flag == 0) {
    if (file->cacheClass == 0) return 0;
    OPT4* opt = Opt(c4, false);
    int rc = file4optimizeWrite(file, 0);
    if (opt && WriteBackFile(c4, opt, file, true) < 0) rc = error4(c4, e4optFlush, E4_FILE4_OPTIMIZE);
    if (opt) l4remove(&opt->bufferedFiles, file);
    file->cacheClass = 0;
    file->cached = 0;
    file->writeBehind = 0;
    opt4lenUnknown(file);
    return rc;
  }
  if (file->cacheClass != 0 || cacheClass == 0) return 0;
  OPT4* opt = Opt(c4, true);
  if (opt == nullptr) return 0;
  file->cacheClass = uint8_t(cacheClass);
  file->owner = owner;
  file->readHint = expectedReadSize;
  file->writeCacheWanted = c4->optimizeWriteDefault != 0 ? 1 : 0;
  uint32_t blockSize = opt4running(c4) ? opt->blockSize : uint32_t(c4->cacheBlockSize);
  file->blockWeight = cacheClass == 1 && blockSize > 0
                          ? std::min(1.0, double(expectedReadSize) / double(blockSize))
                          : 1.0;
  l4add(&opt->bufferedFiles, file);
  if (opt4running(c4)) {
    Buffer(opt, file);
  } else {
    file->hashOffset = 0xFFFFFFFFu;
  }
  return 0;
}

int file4optimizeWrite(FILE4* file, int flag) {
  if (flag < -1 || flag > 1) return error4(file ? file->codeBase : nullptr, e4parm, E4_FILE4_OPTIMIZE_WRITE);
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_OPTIMIZE_WRITE);
  uint8_t wanted = flag != 0 ? 1 : 0;
  if (wanted == file->writeCacheWanted) return 0;
  if (wanted) {
    file->writeCacheWanted = 1;
    if (file->cached) file->writeBehind = 1;
    return 0;
  }
  int rc = 0;
  if (file->cached) rc = WriteBackFile(file->codeBase, file->codeBase->opt, file, false);
  file->writeCacheWanted = 0;
  file->writeBehind = 0;
  // From here on writes reach the disk, which knows the length.
  opt4lenUnknown(file);
  return rc < 0 ? rc : 0;
}

void opt4refreshMemory(CODE4* c4) {
  if (c4 == nullptr) return;
  OPT4* opt = c4->opt;
  if (opt && (opt->numBuffers > 0 || opt->started || opt->refreshOff)) return;
  if (c4->memoryPercent < 0 || c4->memoryPercent > 100) {
    if ((opt = Opt(c4, true)) != nullptr) opt->refreshOff = true;
    return;
  }
  uint64_t available = platform::Env::Current().AvailableMemory();
  if (available == 0) return;
  uint64_t share = available / 100 * uint64_t(c4->memoryPercent);
  if (share > kMemoryCap) share = kMemoryCap;
  if (share > 0) c4->memStartMax = long(share);
}

int opt4fileFlush(FILE4* file, int drop) {
  CODE4* c4 = file->codeBase;
  OPT4* opt = Opt(c4, false);
  if (opt == nullptr || !file->cached) return 0;
  return WriteBackFile(c4, opt, file, drop != 0);
}

void opt4fileClose(FILE4* file) {
  if (file->cacheClass != 0) file4optimize(file, 0, 0, 0, nullptr);
  opt4aheadCancel(file, 0);
}

void opt4initUndo(CODE4* c4) {
  OPT4* opt = c4->opt;
  if (opt == nullptr) return;
  if (opt->numBuffers > 0) code4optSuspend(c4);
  Release(opt);
  delete opt;
  c4->opt = nullptr;
}

// ---- reads and writes ----

bool opt4holds(FILE4* file, uint32_t pos) {
  OPT4* opt = file->codeBase->opt;
  return opt4running(file->codeBase) && file->cached && Find(opt, file, pos) != nullptr;
}

void opt4store(FILE4* file, uint32_t pos, const unsigned char* data, unsigned length) {
  CODE4* c4 = file->codeBase;
  OPT4* opt = c4->opt;
  if (!opt4running(c4) || !file->cached || length != opt->blockSize || (pos & (opt->blockSize - 1)) ||
      Find(opt, file, pos)) {
    return;
  }
  if (OPT4BLOCK* b = TakeBlock(c4, opt, file, pos)) {
    std::memcpy(b->data, data, length);
    b->len = length;
    Promote(opt, b);
  }
}

long opt4read(FILE4* file, uint32_t pos, void* buffer, unsigned length) {
  CODE4* c4 = file->codeBase;
  OPT4* opt = c4->opt;
  const uint32_t bs = opt->blockSize;
  auto* out = static_cast<unsigned char*>(buffer);
  unsigned done = 0;
  while (done < length) {
    const auto [blockPos, offset, want] = PieceAt(uint64_t(pos) + done, uint64_t(pos) + length, bs);
    OPT4BLOCK* b = Find(opt, file, blockPos);
    if (b == nullptr) {
      if (!file->onDisk) break;
      const unsigned remaining = length - done;
      auto* owner = file->cacheClass == 1 ? static_cast<const DATA4FILE*>(file->owner) : nullptr;
      if (owner && owner->accessHint == -1) {
        if (ReadAhead(c4, opt, file, blockPos, 0, -1) < 0) return -1;
      } else if (offset + remaining > bs && !Find(opt, file, blockPos + bs)) {
        if (ReadAhead(c4, opt, file, blockPos, remaining / bs + 1, 1) < 0) return -1;
      }
      b = Find(opt, file, blockPos);
      if (b == nullptr) {
        b = TakeBlock(c4, opt, file, blockPos);
        if (b == nullptr) return -1;
        Fill(b, bs);
        if (c4->errorCode < 0) return -1;
        Promote(opt, b);
      }
    }
    Use(opt, b);
    if (b->len < bs && offset + want > b->len) CatchUp(opt, b);
    uint32_t n = b->len > offset ? std::min(want, b->len - offset) : 0;
    std::memcpy(out + done, b->data + offset, n);
    done += n;
    if (n < want) break;  // the end of the file
  }
  return long(done);
}

long opt4write(FILE4* file, uint32_t pos, const void* data, unsigned length) {
  CODE4* c4 = file->codeBase;
  OPT4* opt = c4->opt;
  const uint32_t bs = opt->blockSize;
  const bool behind = file->writeCacheWanted && file->writeBehind;
  if (behind && opt4cachedLen(file) == ~uint64_t(0)) {
    uint64_t len = file->onDisk ? file4lenLow(file) : 0;
    if (len == ~uint64_t(0)) return error4describe(c4, e4len, E4_FILE4_LEN, file->name, nullptr, nullptr);
    opt4cachedLenSet(file, len);
  }
  const auto* in = static_cast<const unsigned char*>(data);
  unsigned done = 0;
  while (done < length) {
    const auto [blockPos, offset, n] = PieceAt(uint64_t(pos) + done, uint64_t(pos) + length, bs);
    OPT4BLOCK* b = Find(opt, file, blockPos);
    if (b == nullptr) {
      b = TakeBlock(c4, opt, file, blockPos);
      if (b == nullptr) return -1;
      // A block the write covers wholly is not read first.
      if (offset != 0 || n != bs) {
        Fill(b, bs);
        if (c4->errorCode < 0) return -1;
      }
      Promote(opt, b);
    }
    Use(opt, b);
    Place(opt, b, offset, in + done, n);
    if (behind) b->changed = 1;
    done += n;
  }
  if (behind && uint64_t(pos) + length > opt4cachedLen(file)) opt4cachedLenSet(file, uint64_t(pos) + length);
  return long(done);
}

void opt4update(FILE4* file, uint64_t pos, const void* data, unsigned length) {
  CODE4* c4 = file->codeBase;
  if (!opt4running(c4) || !file->cached || pos >= k4cacheLimit) return;
  OPT4* opt = c4->opt;
  const uint32_t bs = opt->blockSize;
  const uint64_t end = std::min(pos + length, k4cacheLimit);
  const auto* in = static_cast<const unsigned char*>(data);
  for (uint64_t at = pos; at < end;) {
    const auto [blockPos, offset, n] = PieceAt(at, end, bs);
    if (OPT4BLOCK* b = Find(opt, file, blockPos)) Place(opt, b, offset, in + (at - pos), n);
    at += n;
  }
}

int opt4writeBufferRelease(FILE4* file, uint64_t pos, uint64_t length) {
  OPT4* opt = file->codeBase ? file->codeBase->opt : nullptr;
  if (opt == nullptr || opt->writeFile != file || opt->writeBlocks == 0) return 0;
  if (pos < opt->writeEnd && opt->writeStart < pos + length) return FlushWriteBuffer(opt);
  return 0;
}

int opt4lenSet(FILE4* file, uint64_t length) {
  CODE4* c4 = file->codeBase;
  if (!opt4running(c4)) return 0;
  OPT4* opt = c4->opt;
  const bool behind = file->writeCacheWanted && file->writeBehind;
  uint64_t current;
  if (behind) {
    current = opt4cachedLen(file);
    if (current == ~uint64_t(0)) {
      current = file->onDisk ? file4lenLow(file) : 0;
      if (current == ~uint64_t(0) || current >= k4GB) {
        return error4describe(c4, e4result, E4_FILE4_LEN_SET, file->name, nullptr, nullptr);
      }
    }
  } else {
    current = file->onDisk ? file4lenLow(file) : 0;
    if (current == ~uint64_t(0)) current = 0;
  }
  if (length < current) Shrink(opt, file, length, current);
  if (behind) {
    opt4cachedLenSet(file, length);
    // Growing waits for the flush; a cut reaches the disk now, so that the
    // bytes past it never come back if the file grows again.
    return length < current ? 0 : 1;
  }
  return 0;
}

uint64_t opt4cachedLen(const FILE4* file) {
  if (file->cachedLenHigh == 0xFFFFFFFFu) return ~uint64_t(0);
  return uint64_t(file->cachedLenHigh) << 32 | file->cachedLenLow;
}

void opt4cachedLenSet(FILE4* file, uint64_t length) {
  file->cachedLenLow = uint32_t(length);
  file->cachedLenHigh = uint32_t(length >> 32);
}

void opt4lenUnknown(FILE4* file) { file->cachedLenHigh = 0xFFFFFFFFu; }
