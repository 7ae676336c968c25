#include "boundary/polysrch.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <new>

#include "base/pagefile.h"
#include "base/qstring.h"
#include "boundary/objfile.h"
#include "boundary/readmain.h"
#include "boundary/search.h"
#include "platform/env.h"

namespace {

constexpr const char* kNameTreeLocation = "PolygonSearch::PolygonSearch";
constexpr const char* kQVectorText = "Memory exaustion in QVector::QVector().";
constexpr size_t kResultReserve = 1000;
constexpr uint16_t kInfoFlagsMask = 0xFFC7;
constexpr uint64_t kBlockBytes = 1 << 20;

// Completions of "Object record at <offset> ...".
constexpr const char* kUnreadable = "cannot be read.";
constexpr const char* kInHeader = "lies inside the file's header.";
constexpr const char* kTooLong = "is longer than the file's largest record.";
constexpr const char* kTooShort = "is shorter than its kind's fixed part.";
constexpr const char* kOverMaxima = "holds more points or rings than the file's largest object.";
constexpr const char* kRingSum = "has ring counts that do not add up to its point count.";
constexpr const char* kNoRoom = "has packed coordinates or segments the file does not declare.";
constexpr const char* kMisaligned = "has coordinates at an offset not a multiple of 4.";
constexpr const char* kNoMemory = "cannot get room for its rings.";
constexpr const char* kNotUsable = "cannot be held: the object's buffers are missing.";


void FillFileInfo(const GsbHeader& h, pipObjectFileInfoStruct* out) {
  std::memset(out, 0, sizeof *out);
  StrCopySized(out->headerText, h.text, sizeof out->headerText);
  out->maxObjectSize = h.maxRecordLength;
  out->maxPoints = h.maxPoints;
  out->maxParts = h.maxRings;
  const GsbBounds b = h.AllBounds();
  out->bounds[0] = b.xmin;
  out->bounds[1] = b.ymin;
  out->bounds[2] = b.xmax;
  out->bounds[3] = b.ymax;
  out->coordinateKind = h.coordinateKind;
  out->flags = h.flags & kInfoFlagsMask;
  out->pointCount = h.pointCount;
  out->lineCount = h.lineCount;
  out->regionCount = h.regionCount;
}

// Where the first object record can lie.
uint64_t FirstRecordOffset(const GsbHeader& h) {
  return h.hasExtension == 1 ? kGsbExtensionOffset + kGsbExtensionSize : kGsbHeaderSize;
}

// Reports a header that DecodeGsbHeader refused: 102 for another magic,
// else 111 with its reason.
void ReportHeader(pipError& error, const char* path, const uint8_t* bytes, const char* why,
                  int line) {
  const uint32_t magic = QLoadU32LE(bytes + 256);
  if (magic != kGsbMagic && magic != kGsbMagicTax && magic != kGsbMagicOld) {
    error.Report(Q_ERROR_SIGNATURE, path, kPolysrchSource, line);
    return;
  }
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, "%s: %s", path, why);
  error.Report(Q_ERROR_CHECKSUM, detail, kPolysrchSource, line);
}

}  // namespace

// ---- PolygonObject -----------------------------------------------------------

PolygonObject::PolygonObject(const PolygonSearch& owner) : owner_(owner) {}
PolygonObject::~PolygonObject() = default;

namespace {

struct StorageLayout {
  uint64_t record, points, segments;
  uint64_t Total() const { return record + points + segments; }
};

StorageLayout Layout(const GsbHeader& h) {
  auto align8 = [](uint64_t n) { return (n + 7) & ~uint64_t(7); };
  StorageLayout l{align8(std::max<uint64_t>(h.maxRecordLength, kGsbRecordPrefixSize)), 0, 0};
  if (h.flags & kGsbFlagPacked) {
    l.points = align8(sizeof(RingPoint) * uint64_t(h.maxPoints));
    if (h.flags & kGsbFlagSegments)
      l.segments = align8(sizeof(SegmentRecord) * uint64_t(h.maxPoints));
  }
  return l;
}

}  // namespace

uint64_t PolygonObject::StorageSize(const GsbHeader& header) { return Layout(header).Total(); }

bool PolygonObject::Allocate(uint8_t* storage) {
  const GsbHeader& h = owner_.Header();
  const StorageLayout l = Layout(h);
  if (!storage) {
    owned_.reset(new (std::nothrow) uint8_t[l.Total()]);
    if (!owned_) return false;
    storage = owned_.get();
  }
  buffer_ = storage;
  bufferSize_ = std::max<size_t>(h.maxRecordLength, kGsbRecordPrefixSize);
  if (l.points) pointArray_ = reinterpret_cast<RingPoint*>(storage + l.record);
  if (l.segments) segmentArray_ = reinterpret_cast<SegmentRecord*>(storage + l.record + l.points);
  return true;
}

void PolygonObject::Empty() {
  key_ = 0;
  rings_.Clear();
  record_ = GsbObjectRecord();
  points_ = nullptr;
  segments_ = nullptr;
  name_ = name2_ = "";
}

bool PolygonObject::Fail(const char** why, const char* text) {
  Empty();
  *why = text;
  return false;
}

bool PolygonObject::Load(QFile& file, uint64_t offset, const char** why) {
  Empty();
  if (!buffer_) return Fail(why, kNotUsable);
  const GsbHeader& h = owner_.Header();
  if (offset < FirstRecordOffset(h)) return Fail(why, kInHeader);
  // From a file read by the system one read takes a small record whole (a
  // longer one needs a second); from a mapped view the prefix comes first,
  // so that no more than the record is copied.
  const uint64_t fileSize = owner_.FileSize();
  if (offset > uint64_t(INT64_MAX) || offset >= fileSize) return Fail(why, kUnreadable);
  const uint32_t head = uint32_t(std::min<uint64_t>(
      {bufferSize_, file.IsMapped() ? kGsbRecordPrefixSize : kFirstReadBytes, fileSize - offset}));
  if (head < kGsbRecordPrefixSize || !file.ReadAt(int64_t(offset), buffer_, head))
    return Fail(why, kUnreadable);
  const uint8_t kind = buffer_[0];
  const uint32_t length = QLoadU32LE(buffer_ + 4);
  if (length > bufferSize_) return Fail(why, kTooLong);
  if (length < kGsbRecordPrefixSize) return Fail(why, kTooShort);
  if (length > head && !file.ReadAt(int64_t(offset) + head, buffer_ + head, length - head))
    return Fail(why, kUnreadable);

  if (kind != kGsbRegion && kind != kGsbLine && kind != kGsbPoint) {
    // A kind the engine does not know: held, but it matches no search.
    record_.kind = kind;
    record_.length = length;
    key_ = offset;
    return true;
  }
  GsbObjectRecord r;
  if (!DecodeGsbObjectRecord(buffer_, length, h.IsCurrentLayout(), &r, why)) return Fail(why, *why);
  // The names end in NULs inside the record.
  name_ = r.name.data();
  name2_ = r.name2.data();
  if (kind == kGsbPoint) {
    record_ = r;
    key_ = offset;
    return true;
  }
  if (r.points > h.maxPoints || r.rings > h.maxRings || r.segments > h.maxPoints)
    return Fail(why, kOverMaxima);
  uint8_t* base = buffer_;
  if (GsbRingCountSum(base, r) != r.points) return Fail(why, kRingSum);

  RingPoint* points = pointArray_;
  SegmentRecord* segments = segmentArray_;
  if (r.Packed()) {
    if ((r.points && !pointArray_) || (r.segments && !segmentArray_)) return Fail(why, kNoRoom);
  } else {
    // Raw coordinates are used where they lie, turned in place from their
    // little-endian bytes into values (each value is read before its bytes
    // are written).
    if (r.coordinateOffset % 4 != 0) return Fail(why, kMisaligned);
    uint8_t* at = base + r.coordinateOffset;
    points = reinterpret_cast<RingPoint*>(at);
    segments = r.segments ? reinterpret_cast<SegmentRecord*>(at + 8 * size_t(r.points)) : nullptr;
  }
  if (!DecodeGsbCoordinates(base, r, points, segments, why)) return Fail(why, *why);
  points_ = points;
  segments_ = segments;
  record_ = r;
  uint32_t first = 0;
  for (uint32_t i = 0; i < r.rings; ++i) {
    const uint32_t count = GsbRingCount(base, r, i);
    if (!rings_.Add(points_ + first, count)) return Fail(why, kNoMemory);
    first += count;
  }
  key_ = offset;
  return true;
}

uint32_t PolygonObject::RecordNumber() const {
  return Kind() == kGsbRegion || Kind() == kGsbLine || Kind() == kGsbPoint ? record_.recordNumber
                                                                           : 0;
}

int32_t PolygonObject::GetNumCoords(uint32_t* points, uint32_t* parts) const {
  if (Kind() == kGsbPoint) {
    *points = *parts = 1;
  } else {
    *points = record_.points;
    *parts = record_.rings;
  }
  return 1;
}

int32_t PolygonObject::GetCoords(int32_t* points, uint32_t maxPoints, uint32_t* partCounts,
                                 uint32_t maxParts, uint32_t* parts) const {
  pipError& error = owner_.Error();
  const bool point = Kind() == kGsbPoint;
  const uint32_t rings = point ? 1 : record_.rings;
  if (maxParts < rings) {
    error.Report(Q_ERROR_TABLE_OVERFLOW, kObjectTooManyPartsText, kPolysrchSource,
                 kLineTooManyParts);
    return -1;
  }
  for (uint32_t i = 0; i < rings; ++i)
    partCounts[i] = point ? 1 : GsbRingCount(buffer_, record_, i);
  *parts = rings;
  const uint32_t total = point ? 1 : record_.points;
  if (maxPoints < total) {
    error.Report(Q_ERROR_TABLE_OVERFLOW, kObjectTooManyPointsText, kPolysrchSource,
                 kLineTooManyPoints);
    return -1;
  }
  if (point) {
    points[0] = record_.x;
    points[1] = record_.y;
  } else if (total) {
    std::memcpy(points, points_, sizeof(RingPoint) * size_t(total));
  }
  return 1;
}

bool PolygonObject::ContainsPoint(int32_t x, int32_t y) const {
  return Kind() == kGsbRegion && rings_.Contains(x, y);
}

bool PolygonObject::PointWithin(int32_t x, int32_t y, uint32_t radius) const {
  if (Kind() != kGsbPoint) return false;
  // -1: too far to measure.
  const int d = DistanceToPoint(x, y);
  return d >= 0 && uint32_t(d) < radius;
}

int32_t PolygonObject::DistanceToPoint(int32_t x, int32_t y) const {
  return pipDistance(x, y, record_.x, record_.y, owner_.CoordinateKind(), nullptr);
}

double PolygonObject::DistanceToRings(int32_t x, int32_t y, int32_t* nearestX,
                                      int32_t* nearestY) const {
  return rings_.Distance(x, y, owner_.CoordinateKind(), Kind(), record_.bounds.ymin, nearestX,
                         nearestY);
}

SegmentFrame PolygonObject::Frame() const {
  return SegmentFrame::Make(record_.bounds.xmin, record_.bounds.ymin, owner_.CoordinateKind());
}

bool PolygonObject::WithinRadius(int32_t x, int32_t y, uint32_t radius) const {
  if (!segments_ || record_.segments == 0) return false;
  return SegmentsWithinRadius(segments_, record_.segments, Frame(), x, y,
                              int32_t(std::min<uint32_t>(radius, INT32_MAX)));
}

int32_t PolygonObject::SegmentDistance(int32_t x, int32_t y) const {
  if (!segments_ || record_.segments == 0) return -1;
  return SegmentsDistance(segments_, record_.segments, Frame(), x, y);
}

// ---- PolygonCacheIndex -----------------------------------------------------------

void PolygonCacheIndex::Reserve(size_t objects) {
  const size_t size = std::bit_ceil(std::max<size_t>(2 * objects, 8));
  if (size <= entries_.size()) return;
  std::vector<Entry> held;
  for (const Entry& e : entries_)
    if (e.offset) held.push_back(e);
  entries_.assign(size, Entry{0, nullptr});
  mask_ = size - 1;
  for (const Entry& e : held) Insert(e.offset, e.object);
}

size_t PolygonCacheIndex::Home(uint64_t offset) const {
  // Record offsets are multiples of 4 spread over the file: a multiplicative
  // hash spreads them over the table.
  return size_t((offset * 0x9E3779B97F4A7C15ull) >> 20) & mask_;
}

PolygonObject* PolygonCacheIndex::Find(uint64_t offset) const {
  for (size_t i = Home(offset);; i = (i + 1) & mask_) {
    const Entry& e = entries_[i];
    if (e.offset == offset) return e.object;
    if (e.offset == 0) return nullptr;
  }
}

void PolygonCacheIndex::Insert(uint64_t offset, PolygonObject* object) {
  size_t i = Home(offset);
  while (entries_[i].offset != 0 && entries_[i].offset != offset) i = (i + 1) & mask_;
  entries_[i] = {offset, object};
}

void PolygonCacheIndex::Erase(uint64_t offset) {
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

// ---- PolygonSearch ------------------------------------------------------------------

PolygonSearch::PolygonSearch(const char* path, uint32_t mode, pipErrorRef error)
    : error_(std::move(error)), file_(*error_) {
  open_ = Open(path, mode);
}

PolygonSearch::~PolygonSearch() {
  QDlist::DeleteAll(cache_);
  index_.reset();
  names_.reset();
  if (file_.IsOpen()) file_.Close();
}

int32_t PolygonSearch::CacheCount(const GsbHeader& h, uint32_t mode) {
  const uint32_t m = mode & 3;
  if (m == 0) return 1;
  const uint64_t budget = uint64_t(m == 1 ? 5 : m == 2 ? 20 : 100) * kCacheMiB;
  uint64_t s = h.maxRecordLength;
  if (h.flags & kGsbFlagPacked) {
    s += 8 * uint64_t(h.maxPoints);
    if (h.flags & kGsbFlagSegments) s += 28 * uint64_t(h.maxPoints);
  }
  if (h.regionCount == 0 && h.maxRings == 0) s = 0;
  if (s == 0) return 2;
  return int32_t(std::max<uint64_t>(budget / s, 2));
}

bool PolygonSearch::Open(const char* path, uint32_t mode) {
  // Searches read small records at random offsets: from a view of the file
  // shared by every search of the process they cost no call to the system.
  if (!file_.Open(path, QFile::kShared)) return false;
  if (file_.Read(headerBytes_, kGsbHeaderSize, true) < 0) return false;
  const int64_t size = file_.Size();
  const char* why = "cannot be read.";
  if (size < 0 || !DecodeGsbHeader(headerBytes_, kGsbHeaderSize, uint64_t(size), &header_, &why)) {
    ReportHeader(*error_, path, headerBytes_, why, kLineNotBoundaryFile);
    return false;
  }
  // A mapped view does not move its position on a read.
  if (header_.hasExtension == 1 &&
      (!file_.Seek(kGsbHeaderSize) ||
       file_.Read(headerBytes_ + kGsbHeaderSize, kGsbExtensionSize, true) < 0))
    return false;

  // The maxima size every buffer of the pool: they must fit the file. A
  // packed stream holds at most kPackedValuesMax values; raw points take 8
  // bytes of a record, rings 4.
  const uint64_t fileSize = uint64_t(size);
  fileSize_ = fileSize;
  if (header_.maxRecordLength > fileSize ||
      header_.maxPoints > std::max<uint64_t>(fileSize / 8, kPackedValuesMax) ||
      header_.maxRings > fileSize / 4) {
    ReportHeader(*error_, path, headerBytes_, "its largest object cannot fit the file.",
                 kLineNotBoundaryFile);
    return false;
  }

  if (header_.offsetWidth == 1 || header_.IsCurrentLayout())
    index_ = std::make_unique<rtSpatialIndex>(file_, header_.SpatialIndex(), *error_);
  else
    index_ = std::make_unique<QxySpatialIndex>(file_, header_.spatialIndexOffset32, *error_);
  if (!index_->IsOpen()) {
    ReportHeader(*error_, path, headerBytes_, "its spatial index cannot be read.",
                 kLineNotBoundaryFile);
    return false;
  }
  names_ = std::make_unique<QTree>(kNameTreeLocation, file_, header_.NameIndex(), NameKeyCompare,
                                   this, *error_);
  if (!names_->IsOpen()) return false;

  // The objects are made as the pool first needs them: an object not made
  // yet is an empty one at the list's tail. Their buffers come in blocks
  // that double up to about a mebibyte (at least one object), which keeps
  // opening cheap whatever the pool's size and the objects' heads close
  // together.
  cacheSize_ = size_t(CacheCount(header_, mode));
  storageEach_ = PolygonObject::StorageSize(header_);
  objectsPerBlock_ = size_t(std::max<uint64_t>(1, kBlockBytes / storageEach_));
  return AddObject();
}

bool PolygonSearch::AddObject() {
  PolygonObject* object = new (std::nothrow) PolygonObject(*this);
  if (!object) return false;
  if (blockUsed_ == blockObjects_) {
    blockObjects_ =
        std::min({std::max<size_t>(2 * blockObjects_, 4), objectsPerBlock_, cacheSize_ - created_});
    blockUsed_ = 0;
    blocks_.emplace_back(new (std::nothrow) uint8_t[size_t(storageEach_) * blockObjects_]);
  }
  // Without its block an object allocates its own buffers.
  uint8_t* storage =
      blocks_.back() ? blocks_.back().get() + size_t(storageEach_) * blockUsed_ : nullptr;
  ++blockUsed_;
  if (!object->Allocate(storage)) {
    delete object;
    return false;
  }
  cache_.AddTail(object);
  ++created_;
  cacheIndex_.Reserve(created_);
  return true;
}

int PolygonSearch::NameKeyCompare(void* /*context*/, const void* key, const void* entryKey) {
  if (!key) return 0;
  const char* k = static_cast<const char*>(key);
  const size_t n = strnlen(k, kGsbNameKeySize);
  return n == 0 ? 0 : QTreeKeyCompare(k, entryKey, n);
}

PolygonObject* PolygonSearch::FetchObject(uint64_t offset) {
  if (!open_) return nullptr;
  if (PolygonObject* hit = offset ? cacheIndex_.Find(offset) : nullptr) {
    cache_.MoveToHead(hit);
    return hit;
  }
  auto* victim = static_cast<PolygonObject*>(cache_.Last());
  if (victim && victim->IsLoaded() && created_ < cacheSize_) {
    // A pool that cannot grow any further keeps the objects it has.
    if (AddObject())
      victim = static_cast<PolygonObject*>(cache_.Last());
    else
      cacheSize_ = created_;
  }
  if (!victim) return nullptr;
  if (victim->IsLoaded()) cacheIndex_.Erase(victim->Key());
  const char* why = nullptr;
  if (!victim->Load(file_, offset, &why)) {
    char detail[kQErrorDetailSize];
    StrFormat(detail, sizeof detail, "Object record at %" PRIu64 " %s", offset, why);
    error_->Report(Q_ERROR_CHECKSUM, detail, kPolysrchSource, __LINE__);
    return nullptr;
  }
  cacheIndex_.Insert(offset, victim);
  cache_.MoveToHead(victim);
  return victim;
}

PolygonObject* PolygonSearch::NextByName(const char* name, uint64_t* offset, bool* failed) {
  if (!open_ || !names_->IsOpen()) return nullptr;
  uint8_t data[kGsbNameDataSize];
  bool found;
  if (name) {
    std::memset(nameKey_, 0, sizeof nameKey_);
    std::memcpy(nameKey_, name, strnlen(name, sizeof nameKey_ - 1));
    found = names_->Find(nameKey_, nullptr, data, true);
  } else {
    found = names_->FindNext(nullptr, data);
  }
  if (!found) return nullptr;
  *offset = QLoadU64LE(data);
  PolygonObject* object = FetchObject(*offset);
  if (!object && failed) *failed = true;
  return object;
}

int32_t PolygonSearch::SetSearchDistance(uint32_t distance) {
  if (distance < uint32_t(kSearchDistanceMin)) {
    searchDistance_ = kSearchDistanceMin;
    return -1;
  }
  if (distance > uint32_t(kSearchDistanceMax)) {
    searchDistance_ = kSearchDistanceMax;
    return -1;
  }
  searchDistance_ = int32_t(distance);
  return 1;
}

bool PolygonSearch::GetFileInfo(pipObjectFileInfoStruct* out) const {
  if (!open_) return false;
  FillFileInfo(header_, out);
  return true;
}

bool PolygonSearch::GetExtraInfo(pipObjectFileExtraInfoStruct* out) const {
  std::memset(out, 0, sizeof *out);
  if (!open_ || header_.hasExtension != 1) return false;
  GsbExtension e;
  DecodeGsbExtension(headerBytes_ + kGsbHeaderSize, kGsbExtensionSize, &e, nullptr);
  StrCopySized(out->name, e.name, sizeof out->name);
  StrCopySized(out->text, e.text, sizeof out->text);
  StrCopySized(out->created, e.created, sizeof out->created);
  out->tag = e.tag;
  out->kind = e.kind;
  return true;
}

int32_t pipObjectFileQueryIntern(pipContext* context, const char* path,
                                 pipObjectFileInfoStruct* out) {
  if (!out) return -1;
  pipError& error = context->Error();
  QFile file(error);
  if (!file.Open(path, QFile::kRead)) return -1;
  uint8_t bytes[kGsbHeaderSize];
  const bool read = file.Read(bytes, kGsbHeaderSize, true) == int64_t(kGsbHeaderSize);
  const int64_t size = file.Size();
  file.Close();
  if (!read) return -1;
  GsbHeader header;
  const char* why = "cannot be read.";
  if (size < 0 || !DecodeGsbHeader(bytes, kGsbHeaderSize, uint64_t(size), &header, &why)) {
    ReportHeader(error, path, bytes, why, kLineQueryNotBoundaryFile);
    return -1;
  }
  FillFileInfo(header, out);
  if (header.magic == kGsbMagicTax) out->flags |= kGsbFlagTax;
  return 1;
}

// ---- pipObjectFileObject ----------------------------------------------------------------

pipObjectFileObject::pipObjectFileObject(const char* path, uint32_t mode, pipErrorRef error)
    : error_(std::move(error)) {
  try {
    buffered_.hits.reserve(kResultReserve);
  } catch (const std::bad_alloc&) {
    throw QException_bad_alloc(kQVectorText);
  }
  search_ = std::make_unique<PolygonSearch>(path, mode, error_);
  if (search_->IsOpen()) attributes_ = std::make_unique<AttributeSearch>();
}

pipObjectFileObject::~pipObjectFileObject() {
  current_.reset();
  search_.reset();
  attributes_.reset();
  buffered_.collector.reset();
}

void pipObjectFileObject::SetCurrent(std::unique_ptr<PolygonSearchEnum> search) {
  current_.reset();
  current_ = std::move(search);
}
