// The read side of a boundary file: PolygonSearch opens a file, checks its
// header, opens its spatial index and name index, and fetches object records
// decoded.
//
// The handles of one file in one process share what they decode: the file
// (the same device and inode, size and time, opened in the same mode & 3) is
// looked up in a table of the process at open, and its decoded index pages
// (rtPageStore) and decoded objects (ObjectStore) are shared by every handle
// that has it open, and released with the last. Decoded objects are never
// changed once published (but for their segment records, added once at
// their first need), and counted: a handle's views (PolygonObject) hold a
// count on the objects they show, so that an object that gives way in the
// store stays whole for the views still showing it. Each handle keeps a small
// pool of views in least-recently-used order, with a hash index from record
// offsets to the views holding them. pipObjectFileObject is the object
// behind an object-file handle.
//
// What is decoded follows the search: the rings of regions and lines always,
// their segment records only when a search or query needs them (a radius,
// a distance to a border).
//
// Contracts on the border cases:
//   - The shared store keeps by mode & 3: 0 one object, 1, 2 and 3 5, 20 or
//     100 MiB worth of decoded objects; a handle's pool of views holds as
//     many as CacheCount gives (sized by the header's maxima: at least 2; 2
//     for a file of points only; 1 for mode 0), at most kViewsMax.
//   - An object loads only when its record is whole and consistent: its
//     length, counts and offsets within the record and within the header's
//     maxima, its ring counts adding up to its point count, its packed
//     streams sound (its segment streams when its segment records are
//     needed). A load that fails reports code 111 with the record's offset
//     and leaves its view empty.
//   - The header's maxima bound every record, so a header whose maxima
//     cannot fit the file (a record longer than the file, more points or
//     rings than the file can hold) does not open.
//   - Texts read from the file are copied no further than their field and the
//     record's end; names come out at most 127 characters.
//   - A point on a region's border is inside it.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/packedint.h"
#include "base/qfile.h"
#include "base/qlist.h"
#include "base/qtree.h"
#include "boundary/gsbformat.h"
#include "boundary/mainintn.h"
#include "boundary/ringgeom.h"
#include "boundary/segrec.h"
#include "boundary/spindex.h"
#include "zonelib.h"

class PolygonSearch;
class PolygonSearchEnum;
class AttributeSearch;
class HitCollector;
struct SpatialPolygonNode;

inline constexpr int32_t kSearchDistanceDefault = 366000;
inline constexpr int32_t kSearchDistanceMin = 2738;
inline constexpr int32_t kSearchDistanceMax = 36521358;
inline constexpr size_t kNameKeyBufferSize = 10;
inline constexpr uint32_t kCacheMiB = 1048576;
// Bytes an object's first read takes: most records whole in one read.
inline constexpr uint32_t kFirstReadBytes = 4096;

// Report lines of the reader (source "polysrch").
inline constexpr int kLineNotBoundaryFile = 325;
inline constexpr int kLineQueryNotBoundaryFile = 1158;
inline constexpr int kLineTooManyParts = 746;
inline constexpr int kLineTooManyPoints = 764;
inline constexpr const char* kPolysrchSource = "polysrch";
inline constexpr const char* kObjectTooManyPartsText =
    "Object to large for input size (too many polygons).";
inline constexpr const char* kObjectTooManyPointsText =
    "Object to large for input size (too many points).";

// The largest number of points one packed stream can hold: its checkpoint
// part (at most 255 bytes, two entries a byte) reaches one boundary per 128
// values.
inline constexpr uint64_t kPackedValuesMax =
    (2 * kPackedCheckpointMaxBytes + 1) * kPackedBlockValues;

// Record offsets to the objects (T) holding them: open addressing over a
// table of at least twice the entries, so that a lookup costs the same for
// any number of them.
template <class T>
class OffsetIndex {
 public:
  // Room for objects entries, keeping those held.
  void Reserve(size_t objects) {
    const size_t size = std::bit_ceil(std::max<size_t>(2 * objects, 8));
    if (size <= entries_.size()) return;
    std::vector<Entry> held;
    for (const Entry& e : entries_)
      if (e.offset) held.push_back(e);
    entries_.assign(size, Entry{0, nullptr});
    mask_ = size - 1;
    for (const Entry& e : held) Insert(e.offset, e.object);
  }
  T* Find(uint64_t offset) const {
    if (entries_.empty()) return nullptr;
    for (size_t i = Home(offset);; i = (i + 1) & mask_) {
      const Entry& e = entries_[i];
      if (e.offset == offset) return e.object;
      if (e.offset == 0) return nullptr;
    }
  }
  // After a Reserve that makes room for it.
  void Insert(uint64_t offset, T* object) {
    size_t i = Home(offset);
    while (entries_[i].offset != 0 && entries_[i].offset != offset) i = (i + 1) & mask_;
    entries_[i] = {offset, object};
  }
  void Erase(uint64_t offset) {
    if (entries_.empty()) return;
    size_t i = Home(offset);
    while (entries_[i].offset != offset) {
      if (entries_[i].offset == 0) return;
      i = (i + 1) & mask_;
    }
    // Backward shift: later entries of the run move up when their home allows.
    for (size_t j = (i + 1) & mask_;; j = (j + 1) & mask_) {
      if (entries_[j].offset == 0) break;
      const size_t home = Home(entries_[j].offset);
      const bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (between) continue;
      entries_[i] = entries_[j];
      i = j;
    }
    entries_[i] = {0, nullptr};
  }

 private:
  size_t Home(uint64_t offset) const {
    // Record offsets are multiples of 4 spread over the file: a
    // multiplicative hash spreads them over the table.
    return size_t((offset * 0x9E3779B97F4A7C15ull) >> 20) & mask_;
  }
  struct Entry {
    uint64_t offset;  // 0: free
    T* object;
  };
  std::vector<Entry> entries_;
  size_t mask_ = 0;
};

// One object record decoded, shared by the handles of its file; nothing in
// it changes once it is published but segments, set once from null.
struct SharedObject {
  SharedObject() = default;
  ~SharedObject() { delete[] segments.load(std::memory_order_relaxed); }
  SharedObject(const SharedObject&) = delete;
  SharedObject& operator=(const SharedObject&) = delete;

  void Ref() { refs.fetch_add(1, std::memory_order_relaxed); }
  void Unref() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // The memory it holds, segment records aside.
  size_t Bytes() const {
    return sizeof *this + name.capacity() + name2.capacity() +
           ringCounts.capacity() * sizeof(uint32_t) + points.capacity() * sizeof(RingPoint) +
           rings.Bytes();
  }

  std::atomic<uint32_t> refs{1};
  // Set when the store takes it, before it is published; an object never
  // taken is its view's alone, and refilled by it.
  bool stored = false;
  // Set by every use, cleared by the store's clock sweep.
  std::atomic<uint8_t> referenced{1};
  uint64_t offset = 0;
  size_t bytes = 0;
  GsbObjectRecord record;  // its names view the two strings below
  std::string name;
  std::string name2;
  std::vector<uint32_t> ringCounts;
  std::vector<RingPoint> points;
  RingSet rings;
  // record.segments records, decoded at their first need (new[]).
  std::atomic<const SegmentRecord*> segments{nullptr};
};

// The decoded objects of one file, shared by its handles: shards of a map
// from record offsets, each under its own lock, each keeping its share of
// the budget by a clock sweep (the object just made always stays). A shard
// that is full takes one in kAdmitEvery of the objects offered, so that a
// file far larger than the budget does not pay for a turnover at every
// lookup; the objects not taken stay their views' own.
class ObjectStore {
 public:
  explicit ObjectStore(uint64_t budget) : shardBudget_(budget / kShards) {}
  ~ObjectStore();
  ObjectStore(const ObjectStore&) = delete;
  ObjectStore& operator=(const ObjectStore&) = delete;

  // The object held for offset, with a count for the caller; or null.
  SharedObject* Find(uint64_t offset);
  // Offers made (given with the caller's count): gives the one held for its
  // offset already, or made, taken (made->stored) or not, with a count for
  // the caller.
  SharedObject* Insert(SharedObject* made);
  static constexpr uint32_t kAdmitEvery = 16;
  // Objects held now (for checks).
  size_t Count() const;

 private:
  static constexpr size_t kShards = 64;
  struct alignas(64) Shard {
    mutable std::mutex mutex;
    OffsetIndex<SharedObject> byOffset;
    std::vector<SharedObject*> clock;
    size_t hand = 0;
    uint64_t bytes = 0;
    uint32_t offered = 0;  // while full
  };
  Shard& ShardOf(uint64_t offset) {
    return shards_[size_t((offset * 0x9E3779B97F4A7C15ull) >> 58) % kShards];
  }

  uint64_t shardBudget_;
  Shard shards_[kShards];
};

// What the handles of one file share.
struct SharedBoundaryFile {
  explicit SharedBoundaryFile(uint64_t objectBudget) : file(error), objects(objectBudget) {}
  pipError error;  // of the file below, which only the page store reads
  QFile file;
  std::shared_ptr<rtPageStore> pages;  // null for a file of the old grid index
  ObjectStore objects;
};

// A view of one decoded object, in a handle's pool.
class PolygonObject : public QLRUObject {
 public:
  explicit PolygonObject(const PolygonSearch& owner);
  ~PolygonObject() override;

  bool IsKey(uint64_t offset) const { return key_ == offset; }
  bool IsLoaded() const { return key_ != 0; }
  bool Matches(const void* key) const override { return IsKey(*static_cast<const uint64_t*>(key)); }
  bool IsValid() const override { return IsLoaded(); }

  // Shows object (whose count it takes over) for offset.
  void Show(uint64_t offset, SharedObject* object);
  void Empty();
  // Empties the view and gives its object when that is its own (never
  // taken by the store), to be filled again; else null.
  SharedObject* TakeOwn();

  uint64_t Key() const { return key_; }
  // The kind byte: 0 region, 1 line, 2 point; others load and match nothing.
  uint8_t Kind() const { return O().record.kind; }
  const GsbObjectRecord& Record() const { return O().record; }
  // Both terminated.
  const char* Name() const { return O().name.c_str(); }
  const char* Name2() const { return O().name2.c_str(); }
  uint32_t SegmentCount() const { return O().record.segments; }
  uint32_t RecordNumber() const;

  // Points of all rings and number of rings (a point object: 1 and 1).
  int32_t GetNumCoords(uint32_t* points, uint32_t* parts) const;
  // Copies the per-ring counts and the points; -1 (code 103 reported) when
  // the caller's room is too small.
  int32_t GetCoords(int32_t* points, uint32_t maxPoints, uint32_t* partCounts, uint32_t maxParts,
                    uint32_t* parts) const;
  bool ContainsPoint(int32_t x, int32_t y) const;
  bool PointWithin(int32_t x, int32_t y, uint32_t radius) const;
  int32_t DistanceToPoint(int32_t x, int32_t y) const;
  double DistanceToRings(int32_t x, int32_t y, int32_t* nearestX, int32_t* nearestY) const;
  // The buffer tests on the segment records (false / -1 without records, or
  // when they cannot be decoded, which is reported).
  bool WithinRadius(int32_t x, int32_t y, uint32_t radius) const;
  int32_t SegmentDistance(int32_t x, int32_t y) const;
  // The segment records, decoded at their first need; null when the object
  // has none or they cannot be decoded (reported).
  const SegmentRecord* Segments() const;

 private:
  static const SharedObject kNothing;
  const SharedObject& O() const { return object_ ? *object_ : kNothing; }
  SegmentFrame Frame() const;

  const PolygonSearch& owner_;
  uint64_t key_ = 0;
  SharedObject* object_ = nullptr;
};

using PolygonCacheIndex = OffsetIndex<PolygonObject>;

class PolygonSearch {
 public:
  // Opens path; IsOpen tells whether every step worked (the reasons are
  // reported to error).
  PolygonSearch(const char* path, uint32_t mode, pipErrorRef error);
  ~PolygonSearch();
  PolygonSearch(const PolygonSearch&) = delete;
  PolygonSearch& operator=(const PolygonSearch&) = delete;

  bool IsOpen() const { return open_; }

  // The object at offset, through the pool, with its segment records when
  // segments; null (reported) when it cannot be loaded. Valid until the
  // pool reuses its view: the next fetch may reuse any view but the one it
  // returns.
  PolygonObject* FetchObject(uint64_t offset, bool segments = false);
  // The segment records of object, decoded now when they were not; null
  // (reported) when they cannot be decoded.
  const SegmentRecord* SegmentsOf(SharedObject& object) const;
  // With a name: the first object in name order whose name begins with its
  // first 9 characters (or the entry before, when none does); with none: the
  // next object in name order. Null at the end or on failure (failed, when
  // given, set for an object that cannot be loaded).
  PolygonObject* NextByName(const char* name, uint64_t* offset, bool* failed = nullptr);

  int32_t GetSearchDistance() const { return searchDistance_; }
  // 1 when 2738 <= d <= 36521358; else the nearest bound is stored and -1.
  int32_t SetSearchDistance(uint32_t distance);

  bool GetFileInfo(pipObjectFileInfoStruct* out) const;
  bool GetExtraInfo(pipObjectFileExtraInfoStruct* out) const;
  bool IsTaxFile() const { return header_.magic == kGsbMagicTax; }

  const GsbHeader& Header() const { return header_; }
  uint16_t CoordinateKind() const { return header_.coordinateKind; }
  SpatialIndex* Index() const { return index_.get(); }
  // The file the records are read from, for readers that need no more of a
  // record than its first bytes (no pool slot is taken).
  QFile& File() { return file_; }
  pipError& Error() const { return *error_; }
  const pipErrorRef& ErrorRef() const { return error_; }
  const char* Path() const { return file_.Name(); }
  // Number of views the pool holds.
  size_t CacheSize() const { return cacheSize_; }
  // What this handle shares with the other handles of its file.
  SharedBoundaryFile* Shared() const { return shared_.get(); }
  // The file's size when it was opened.
  uint64_t FileSize() const { return fileSize_; }

  // Objects a pool of mode would hold sized by the header's maxima (the
  // sizing rule above); the views a handle keeps are at most kViewsMax of
  // them.
  static int32_t CacheCount(const GsbHeader& header, uint32_t mode);
  static constexpr size_t kViewsMax = 16;
  // Bytes of decoded objects a file's store keeps by mode.
  static uint64_t ObjectBudget(uint32_t mode);

 private:
  bool Open(const char* path, uint32_t mode);
  // Appends one more empty view to the pool.
  bool AddObject();
  // Decodes the record at offset (its segment records too when segments)
  // into into (emptied; made when null); null with why set when it cannot
  // be read or is not sound (into is then freed).
  SharedObject* Decode(uint64_t offset, bool segments, const char** why,
                       SharedObject* into) const;
  // The record's bytes at offset: its first want bytes at least, or all
  // there are up to the file's end when fewer (*available says how many);
  // null when not even the prefix can be read.
  const uint8_t* RecordBytes(uint64_t offset, uint32_t want, uint32_t* available) const;
  void ReportLoad(uint64_t offset, const char* why) const;
  static int NameKeyCompare(void* context, const void* key, const void* entryKey);

  pipErrorRef error_;
  uint8_t headerBytes_[kGsbHeaderSize + kGsbExtensionSize] = {};
  GsbHeader header_;
  std::unique_ptr<SpatialIndex> index_;
  QFile file_;
  std::shared_ptr<SharedBoundaryFile> shared_;
  QDlist cache_{"PolyCach"};
  OffsetIndex<PolygonObject> cacheIndex_;
  size_t cacheSize_ = 0;  // views the pool may hold
  size_t created_ = 0;    // views made so far
  // Where a record is read to when the file is not mapped.
  mutable std::vector<uint8_t> scratch_;
  uint64_t fileSize_ = 0;
  bool open_ = false;
  int32_t searchDistance_ = kSearchDistanceDefault;
  std::unique_ptr<QTree> names_;
  char nameKey_[kNameKeyBufferSize] = {};
};

// Reads and checks the header of the boundary file at path without opening
// a search: 1 and the record, or -1 (reported).
int32_t pipObjectFileQueryIntern(pipContext* context, const char* path,
                                 pipObjectFileInfoStruct* out);

// The object behind an object-file handle.
class pipObjectFileObject {
 public:
  pipObjectFileObject(const char* path, uint32_t mode, pipErrorRef error);
  virtual ~pipObjectFileObject();
  pipObjectFileObject(const pipObjectFileObject&) = delete;
  pipObjectFileObject& operator=(const pipObjectFileObject&) = delete;

  PolygonSearch& Search() { return *search_; }
  // The search kind in progress, or null.
  PolygonSearchEnum* Current() { return current_.get(); }
  void SetCurrent(std::unique_ptr<PolygonSearchEnum> search);
  AttributeSearch* Attributes() { return attributes_.get(); }
  pipError& Error() { return *error_; }

  // The buffered containing search (objfile.cpp).
  struct Buffered {
    std::vector<SpatialPolygonNode*> hits;  // of the current pass, sorted
    size_t cursor = 0;                      // hits.size(): no buffered search
    int32_t radius = -1;
    int32_t maximum = 0;
    int32_t x = 0;
    int32_t y = 0;
    std::unique_ptr<HitCollector> collector;
    bool Active() const { return cursor < hits.size(); }
    void Leave() { cursor = hits.size(); }
  };
  Buffered& BufferedSearch() { return buffered_; }

 private:
  pipErrorRef error_;
  Buffered buffered_;
  std::unique_ptr<PolygonSearch> search_;
  std::unique_ptr<PolygonSearchEnum> current_;
  std::unique_ptr<AttributeSearch> attributes_;
};

template <>
struct HandleKind<pipObjectFileObject> {
  static constexpr uint32_t kType = kHandleObjectFile;
  static void Discard(pipObjectFileObject* object) { delete object; }
};
