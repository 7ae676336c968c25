// The read side of a boundary file: PolygonSearch opens a file, checks its
// header, opens its spatial index and name index and keeps a fixed pool of
// PolygonObjects, each able to hold one object record with its decoded
// coordinates, in least-recently-used order, with a hash index from record
// offsets to the objects holding them (a lookup costs the same whatever the
// pool's size; the pool gives way in the same order as a walk of its list
// would). Objects are made as the pool first needs them, so opening costs
// the same for every size. pipObjectFileObject is the object behind an
// object-file handle.
//
// Contracts on the border cases:
//   - The pool's size is chosen at open by mode & 3: 0 keeps one object; 1, 2
//     and 3 keep 5, 20 or 100 MiB worth of objects sized by the header's
//     maxima (at least 2; 2 for a file of points only).
//   - An object loads only when its record is whole and consistent: its
//     length, counts and offsets within the record and within the header's
//     maxima, its ring counts adding up to its point count, its packed
//     streams sound. A load that fails reports code 111 with the record's
//     offset and leaves its slot empty.
//   - The header's maxima size the pool's buffers, so a header whose maxima
//     cannot fit the file (a record longer than the file, more points or
//     rings than the file can hold) does not open.
//   - Texts read from the file are copied no further than their field and the
//     record's end; names come out at most 127 characters.
//   - A point on a region's border is inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

class PolygonObject : public QLRUObject {
 public:
  explicit PolygonObject(const PolygonSearch& owner);
  ~PolygonObject() override;

  // Bytes of the buffers one object needs, sized by the header's maxima.
  static uint64_t StorageSize(const GsbHeader& header);
  // The buffers: in storage (StorageSize bytes, 8-byte aligned, kept by the
  // caller) or, without it, allocated here; false when they cannot be had.
  bool Allocate(uint8_t* storage);
  bool IsKey(uint64_t offset) const { return key_ == offset; }
  bool IsLoaded() const { return key_ != 0; }
  bool Matches(const void* key) const override { return IsKey(*static_cast<const uint64_t*>(key)); }
  bool IsValid() const override { return IsLoaded(); }

  // Loads the record at offset; false with why set when it cannot be read
  // or is not sound (the slot is then empty).
  bool Load(QFile& file, uint64_t offset, const char** why);
  void Empty();

  uint64_t Key() const { return key_; }
  // The kind byte: 0 region, 1 line, 2 point; others load and match nothing.
  uint8_t Kind() const { return record_.kind; }
  const GsbObjectRecord& Record() const { return record_; }
  // Both terminated inside the record.
  const char* Name() const { return name_; }
  const char* Name2() const { return name2_; }
  uint32_t SegmentCount() const { return record_.segments; }
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
  // The buffer tests on the segment records (false / -1 without records).
  bool WithinRadius(int32_t x, int32_t y, uint32_t radius) const;
  int32_t SegmentDistance(int32_t x, int32_t y) const;

 private:
  bool Fail(const char** why, const char* text);
  SegmentFrame Frame() const;

  const PolygonSearch& owner_;
  uint64_t key_ = 0;
  GsbObjectRecord record_;
  RingSet rings_;
  std::unique_ptr<uint8_t[]> owned_;
  uint8_t* buffer_ = nullptr;
  size_t bufferSize_ = 0;
  RingPoint* pointArray_ = nullptr;
  SegmentRecord* segmentArray_ = nullptr;
  const RingPoint* points_ = nullptr;
  const SegmentRecord* segments_ = nullptr;
  const char* name_ = "";
  const char* name2_ = "";
};

// Offsets of loaded objects to their slots: open addressing over a table of
// at least twice the objects made, so that a lookup costs the same for any
// pool.
class PolygonCacheIndex {
 public:
  // Room for objects entries, keeping those held.
  void Reserve(size_t objects);
  PolygonObject* Find(uint64_t offset) const;
  void Insert(uint64_t offset, PolygonObject* object);
  void Erase(uint64_t offset);

 private:
  size_t Home(uint64_t offset) const;
  struct Entry {
    uint64_t offset;  // 0: free
    PolygonObject* object;
  };
  std::vector<Entry> entries_;
  size_t mask_ = 0;
};

class PolygonSearch {
 public:
  // Opens path; IsOpen tells whether every step worked (the reasons are
  // reported to error).
  PolygonSearch(const char* path, uint32_t mode, pipErrorRef error);
  ~PolygonSearch();
  PolygonSearch(const PolygonSearch&) = delete;
  PolygonSearch& operator=(const PolygonSearch&) = delete;

  bool IsOpen() const { return open_; }

  // The object at offset, through the pool; null (reported) when it cannot
  // be loaded. Valid until the pool reuses its slot: the next fetch may
  // reuse any slot but the one it returns.
  PolygonObject* FetchObject(uint64_t offset);
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
  // Number of objects the pool holds.
  size_t CacheSize() const { return cacheSize_; }
  // The file's size when it was opened.
  uint64_t FileSize() const { return fileSize_; }

  // Pool size for a header by mode (the sizing rule above).
  static int32_t CacheCount(const GsbHeader& header, uint32_t mode);

 private:
  bool Open(const char* path, uint32_t mode);
  // Appends one more empty object to the pool.
  bool AddObject();
  static int NameKeyCompare(void* context, const void* key, const void* entryKey);

  pipErrorRef error_;
  uint8_t headerBytes_[kGsbHeaderSize + kGsbExtensionSize] = {};
  GsbHeader header_;
  std::unique_ptr<SpatialIndex> index_;
  QFile file_;
  QDlist cache_{"PolyCach"};
  // The objects' buffers, in blocks of growing size.
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  size_t objectsPerBlock_ = 1;  // the largest block's
  size_t blockObjects_ = 0;     // of the last block
  size_t blockUsed_ = 0;
  PolygonCacheIndex cacheIndex_;
  size_t cacheSize_ = 0;  // objects the pool may hold
  size_t created_ = 0;    // objects made so far
  uint64_t storageEach_ = 0;
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
