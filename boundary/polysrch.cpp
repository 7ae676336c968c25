#include "boundary/polysrch.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <tuple>

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

const SharedObject PolygonObject::kNothing;

PolygonObject::PolygonObject(const PolygonSearch& owner) : owner_(owner) {}
PolygonObject::~PolygonObject() { Empty(); }

void PolygonObject::Show(uint64_t offset, SharedObject* object) {
  Empty();
  object_ = object;
  key_ = offset;
}

SharedObject* PolygonObject::TakeOwn() {
  SharedObject* own = object_ && !object_->stored ? object_ : nullptr;
  if (own) object_ = nullptr;
  Empty();
  return own;
}

void PolygonObject::Empty() {
  if (object_) object_->Unref();
  object_ = nullptr;
  key_ = 0;
}

const SegmentRecord* PolygonObject::Segments() const {
  if (!object_ || object_->record.segments == 0) return nullptr;
  return owner_.SegmentsOf(*object_);
}

uint32_t PolygonObject::RecordNumber() const {
  return Kind() == kGsbRegion || Kind() == kGsbLine || Kind() == kGsbPoint ? O().record.recordNumber
                                                                           : 0;
}

int32_t PolygonObject::GetNumCoords(uint32_t* points, uint32_t* parts) const {
  if (Kind() == kGsbPoint) {
    *points = *parts = 1;
  } else {
    *points = O().record.points;
    *parts = O().record.rings;
  }
  return 1;
}

int32_t PolygonObject::GetCoords(int32_t* points, uint32_t maxPoints, uint32_t* partCounts,
                                 uint32_t maxParts, uint32_t* parts) const {
  pipError& error = owner_.Error();
  const bool point = Kind() == kGsbPoint;
  const uint32_t rings = point ? 1 : O().record.rings;
  if (maxParts < rings) {
    error.Report(Q_ERROR_TABLE_OVERFLOW, kObjectTooManyPartsText, kPolysrchSource,
                 kLineTooManyParts);
    return -1;
  }
  for (uint32_t i = 0; i < rings; ++i) partCounts[i] = point ? 1 : O().ringCounts[i];
  *parts = rings;
  const uint32_t total = point ? 1 : O().record.points;
  if (maxPoints < total) {
    error.Report(Q_ERROR_TABLE_OVERFLOW, kObjectTooManyPointsText, kPolysrchSource,
                 kLineTooManyPoints);
    return -1;
  }
  if (point) {
    points[0] = O().record.x;
    points[1] = O().record.y;
  } else if (total) {
    std::memcpy(points, O().points.data(), sizeof(RingPoint) * size_t(total));
  }
  return 1;
}

bool PolygonObject::ContainsPoint(int32_t x, int32_t y) const {
  return Kind() == kGsbRegion && O().rings.Contains(x, y);
}

bool PolygonObject::PointWithin(int32_t x, int32_t y, uint32_t radius) const {
  if (Kind() != kGsbPoint) return false;
  // -1: too far to measure.
  const int d = DistanceToPoint(x, y);
  return d >= 0 && uint32_t(d) < radius;
}

int32_t PolygonObject::DistanceToPoint(int32_t x, int32_t y) const {
  return pipDistance(x, y, O().record.x, O().record.y, owner_.CoordinateKind(), nullptr);
}

double PolygonObject::DistanceToRings(int32_t x, int32_t y, int32_t* nearestX,
                                      int32_t* nearestY) const {
  return O().rings.Distance(x, y, owner_.CoordinateKind(), Kind(), O().record.bounds.ymin,
                            nearestX, nearestY);
}

SegmentFrame PolygonObject::Frame() const {
  return SegmentFrame::Make(O().record.bounds.xmin, O().record.bounds.ymin,
                            owner_.CoordinateKind());
}

bool PolygonObject::WithinRadius(int32_t x, int32_t y, uint32_t radius) const {
  const SegmentRecord* segments = Segments();
  if (!segments) return false;
  return SegmentsWithinRadius(segments, O().record.segments, Frame(), x, y,
                              int32_t(std::min<uint32_t>(radius, INT32_MAX)));
}

int32_t PolygonObject::SegmentDistance(int32_t x, int32_t y) const {
  const SegmentRecord* segments = Segments();
  if (!segments) return -1;
  return SegmentsDistance(segments, O().record.segments, Frame(), x, y);
}

// ---- ObjectStore ----------------------------------------------------------------------

ObjectStore::~ObjectStore() {
  for (Shard& shard : shards_)
    for (SharedObject* o : shard.clock) o->Unref();
}

SharedObject* ObjectStore::Find(uint64_t offset) {
  Shard& shard = ShardOf(offset);
  std::lock_guard<std::mutex> hold(shard.mutex);
  SharedObject* o = shard.byOffset.Find(offset);
  if (!o) return nullptr;
  o->Ref();
  if (!o->referenced.load(std::memory_order_relaxed))
    o->referenced.store(1, std::memory_order_relaxed);
  return o;
}

SharedObject* ObjectStore::Insert(SharedObject* made) {
  Shard& shard = ShardOf(made->offset);
  std::lock_guard<std::mutex> hold(shard.mutex);
  if (SharedObject* held = shard.byOffset.Find(made->offset)) {
    // Another handle decoded it meanwhile: the one held is shown.
    made->Unref();
    held->Ref();
    return held;
  }
  const bool full = shard.bytes + made->bytes > shardBudget_ && !shard.clock.empty();
  if (full && shard.offered++ % kAdmitEvery != 0) return made;
  made->stored = true;
  made->Ref();  // the store's count
  shard.byOffset.Reserve(shard.clock.size() + 1);
  shard.byOffset.Insert(made->offset, made);
  shard.clock.push_back(made);
  shard.bytes += made->bytes;
  while (shard.bytes > shardBudget_ && shard.clock.size() > 1) {
    if (shard.hand >= shard.clock.size()) shard.hand = 0;
    SharedObject* o = shard.clock[shard.hand];
    if (o == made || o->referenced.exchange(0, std::memory_order_relaxed)) {
      ++shard.hand;
      continue;
    }
    shard.byOffset.Erase(o->offset);
    shard.clock[shard.hand] = shard.clock.back();
    shard.clock.pop_back();
    shard.bytes -= o->bytes;
    o->Unref();
  }
  return made;
}

size_t ObjectStore::Count() const {
  size_t n = 0;
  for (const Shard& shard : shards_) {
    std::lock_guard<std::mutex> hold(shard.mutex);
    n += shard.clock.size();
  }
  return n;
}

// ---- the files of the process ---------------------------------------------------------

namespace {

// What makes two opens one file: the same file, unchanged, in the same mode.
struct FileKey {
  uint64_t device, inode;
  int64_t size, modified;
  uint32_t mode;
  bool operator<(const FileKey& o) const {
    return std::tie(device, inode, size, modified, mode) <
           std::tie(o.device, o.inode, o.size, o.modified, o.mode);
  }
};

// Taken at open and close only, never by a search.
std::mutex& FilesMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::map<FileKey, std::weak_ptr<SharedBoundaryFile>>& Files() {
  static auto* files = new std::map<FileKey, std::weak_ptr<SharedBoundaryFile>>;
  return *files;
}

}  // namespace

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
  if (shared_) {
    std::lock_guard<std::mutex> hold(FilesMutex());
    shared_.reset();
  }
}

int32_t PolygonSearch::CacheCount(const GsbHeader& h, uint32_t mode) {
  const uint32_t m = mode & 3;
  if (m == 0) return 1;
  const uint64_t budget = ObjectBudget(mode);
  uint64_t s = h.maxRecordLength;
  if (h.flags & kGsbFlagPacked) {
    s += 8 * uint64_t(h.maxPoints);
    if (h.flags & kGsbFlagSegments) s += 28 * uint64_t(h.maxPoints);
  }
  if (h.regionCount == 0 && h.maxRings == 0) s = 0;
  if (s == 0) return 2;
  return int32_t(std::max<uint64_t>(budget / s, 2));
}

uint64_t PolygonSearch::ObjectBudget(uint32_t mode) {
  const uint32_t m = mode & 3;
  return uint64_t(m == 0 ? 0 : m == 1 ? 5 : m == 2 ? 20 : 100) * kCacheMiB;
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

  // The maxima bound every record: they must fit the file. A packed stream
  // holds at most kPackedValuesMax values; raw points take 8 bytes of a
  // record, rings 4.
  const uint64_t fileSize = uint64_t(size);
  fileSize_ = fileSize;
  if (header_.maxRecordLength > fileSize ||
      header_.maxPoints > std::max<uint64_t>(fileSize / 8, kPackedValuesMax) ||
      header_.maxRings > fileSize / 4) {
    ReportHeader(*error_, path, headerBytes_, "its largest object cannot fit the file.",
                 kLineNotBoundaryFile);
    return false;
  }

  const bool rtree = header_.offsetWidth == 1 || header_.IsCurrentLayout();
  platform::FileInfo info;
  const bool known = platform::Env::Current().PathStat(path, &info) == 0 && info.regular &&
                     uint64_t(info.size) == fileSize;
  const FileKey key{info.device, info.inode, info.size, info.modifiedNanos, mode & 3};
  {
    std::lock_guard<std::mutex> hold(FilesMutex());
    auto& files = Files();
    for (auto it = files.begin(); it != files.end();)
      it = it->second.expired() ? files.erase(it) : std::next(it);
    if (known)
      if (auto it = files.find(key); it != files.end()) shared_ = it->second.lock();
    if (!shared_) {
      auto made = std::make_shared<SharedBoundaryFile>(ObjectBudget(mode));
      if (rtree && made->file.Open(path, QFile::kShared)) {
        auto pages = std::make_shared<rtPageStore>(made->file, header_.SpatialIndex());
        if (pages->IsOpen()) made->pages = std::move(pages);
      }
      if (known && (!rtree || made->pages)) files[key] = made;
      shared_ = std::move(made);
    }
  }

  if (!rtree)
    index_ = std::make_unique<QxySpatialIndex>(file_, header_.spatialIndexOffset32, *error_);
  else if (shared_->pages)
    index_ = std::make_unique<rtSpatialIndex>(shared_->pages, *error_);
  if (!index_ || !index_->IsOpen()) {
    ReportHeader(*error_, path, headerBytes_, "its spatial index cannot be read.",
                 kLineNotBoundaryFile);
    return false;
  }
  names_ = std::make_unique<QTree>(kNameTreeLocation, file_, header_.NameIndex(), NameKeyCompare,
                                   this, *error_);
  if (!names_->IsOpen()) return false;

  // The views are made as the pool first needs them: a view not made yet is
  // an empty one at the list's tail.
  cacheSize_ = std::min<size_t>(size_t(CacheCount(header_, mode)), kViewsMax);
  return AddObject();
}

bool PolygonSearch::AddObject() {
  PolygonObject* object = new (std::nothrow) PolygonObject(*this);
  if (!object) return false;
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

void PolygonSearch::ReportLoad(uint64_t offset, const char* why) const {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, "Object record at %" PRIu64 " %s", offset, why);
  error_->Report(Q_ERROR_CHECKSUM, detail, kPolysrchSource, __LINE__);
}

const uint8_t* PolygonSearch::RecordBytes(uint64_t offset, uint32_t want,
                                          uint32_t* available) const {
  if (offset > uint64_t(INT64_MAX) || offset >= fileSize_) return nullptr;
  if (file_.IsMapped()) {
    // Decoded where it lies in the view: nothing is copied but what is kept.
    const size_t view = std::min<uint64_t>(file_.ViewSize(), fileSize_);
    if (offset >= view) return nullptr;
    *available = uint32_t(std::min<uint64_t>(view - offset, UINT32_MAX));
    return file_.View() + offset;
  }
  const uint32_t n = uint32_t(std::min<uint64_t>(want, fileSize_ - offset));
  if (scratch_.size() < n) scratch_.resize(n);
  // A file read by the system is read through this handle's own file.
  if (!const_cast<QFile&>(file_).ReadAt(int64_t(offset), scratch_.data(), n)) return nullptr;
  *available = n;
  return scratch_.data();
}

SharedObject* PolygonSearch::Decode(uint64_t offset, bool withSegments, const char** why,
                                    SharedObject* into) const {
  // Filled again, an object keeps the room of its vectors and rings.
  std::unique_ptr<SharedObject, void (*)(SharedObject*)> o(
      into ? into : new SharedObject, [](SharedObject* x) { x->Unref(); });
  o->refs.store(1, std::memory_order_relaxed);
  o->referenced.store(1, std::memory_order_relaxed);
  o->record = GsbObjectRecord();
  o->name.clear();
  o->name2.clear();
  o->ringCounts.clear();
  o->points.clear();
  o->rings.Clear();
  delete[] o->segments.exchange(nullptr, std::memory_order_relaxed);
  const GsbHeader& h = header_;
  if (offset < FirstRecordOffset(h)) {
    *why = kInHeader;
    return nullptr;
  }
  const uint32_t bufferSize = std::max<uint32_t>(h.maxRecordLength, kGsbRecordPrefixSize);
  uint32_t available = 0;
  const uint8_t* bytes = RecordBytes(offset, std::min(bufferSize, kFirstReadBytes), &available);
  if (!bytes || available < kGsbRecordPrefixSize) {
    *why = kUnreadable;
    return nullptr;
  }
  const uint8_t kind = bytes[0];
  const uint32_t length = QLoadU32LE(bytes + 4);
  if (length > bufferSize) {
    *why = kTooLong;
    return nullptr;
  }
  if (length < kGsbRecordPrefixSize) {
    *why = kTooShort;
    return nullptr;
  }
  if (length > available) {
    bytes = file_.IsMapped() ? nullptr : RecordBytes(offset, length, &available);
    if (!bytes || available < length) {
      *why = kUnreadable;
      return nullptr;
    }
  }
  o->offset = offset;
  if (kind != kGsbRegion && kind != kGsbLine && kind != kGsbPoint) {
    // A kind the engine does not know: held, but it matches no search.
    o->record.kind = kind;
    o->record.length = length;
    o->record.name = o->record.name2 = {};
    o->bytes = o->Bytes();
    return o.release();
  }
  GsbObjectRecord& r = o->record;
  if (!DecodeGsbObjectRecord(bytes, length, h.IsCurrentLayout(), &r, why)) return nullptr;
  // The names end in NULs inside the record.
  o->name.assign(r.name.data(), strnlen(r.name.data(), r.name.size()));
  o->name2.assign(r.name2.data(), strnlen(r.name2.data(), r.name2.size()));
  r.name = o->name;
  r.name2 = o->name2;
  if (kind != kGsbPoint) {
    if (r.points > h.maxPoints || r.rings > h.maxRings || r.segments > h.maxPoints) {
      *why = kOverMaxima;
      return nullptr;
    }
    o->ringCounts.resize(r.rings);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < r.rings; ++i)
      sum += o->ringCounts[i] = GsbRingCount(bytes, r, i);
    if (sum != r.points) {
      *why = kRingSum;
      return nullptr;
    }
    const bool packedRoom = (h.flags & kGsbFlagPacked) != 0;
    const bool segmentRoom = packedRoom && (h.flags & kGsbFlagSegments) != 0;
    if (r.Packed()) {
      if ((r.points && !packedRoom) || (r.segments && !segmentRoom)) {
        *why = kNoRoom;
        return nullptr;
      }
    } else if (r.coordinateOffset % 4 != 0) {
      *why = kMisaligned;
      return nullptr;
    }
    o->points.resize(r.points);
    std::unique_ptr<SegmentRecord[]> segments;
    if (withSegments && r.segments) segments.reset(new SegmentRecord[r.segments]);
    if (!DecodeGsbCoordinates(bytes, r, o->points.data(), segments.get(), why)) return nullptr;
    o->segments.store(segments.release(), std::memory_order_relaxed);
    uint32_t first = 0;
    for (uint32_t i = 0; i < r.rings; ++i) {
      if (!o->rings.Add(o->points.data() + first, o->ringCounts[i])) {
        *why = kNoMemory;
        return nullptr;
      }
      first += o->ringCounts[i];
    }
  }
  o->bytes = o->Bytes() + (o->segments.load(std::memory_order_relaxed)
                               ? sizeof(SegmentRecord) * size_t(r.segments)
                               : 0);
  return o.release();
}

const SegmentRecord* PolygonSearch::SegmentsOf(SharedObject& object) const {
  if (const SegmentRecord* held = object.segments.load(std::memory_order_acquire)) return held;
  const GsbObjectRecord& r = object.record;
  // The record was whole and sound when the object was made: it is read
  // again for its segment streams alone.
  uint32_t available = 0;
  const uint8_t* bytes = RecordBytes(object.offset, r.length, &available);
  const char* why = kUnreadable;
  std::unique_ptr<SegmentRecord[]> segments(new SegmentRecord[r.segments]);
  std::vector<RingPoint> points(r.points);
  if (bytes && available >= r.length &&
      DecodeGsbCoordinates(bytes, r, points.data(), segments.get(), &why)) {
    const SegmentRecord* expected = nullptr;
    if (object.segments.compare_exchange_strong(expected, segments.get(),
                                                std::memory_order_acq_rel))
      return segments.release();
    return expected;  // another handle's, decoded meanwhile
  }
  ReportLoad(object.offset, why);
  return nullptr;
}

PolygonObject* PolygonSearch::FetchObject(uint64_t offset, bool segments) {
  if (!open_) return nullptr;
  if (PolygonObject* hit = offset ? cacheIndex_.Find(offset) : nullptr) {
    if (segments && hit->SegmentCount() && !hit->Segments()) return nullptr;
    cache_.MoveToHead(hit);
    return hit;
  }
  auto* victim = static_cast<PolygonObject*>(cache_.Last());
  if (victim && victim->IsLoaded() && created_ < cacheSize_) {
    // A pool that cannot grow any further keeps the views it has.
    if (AddObject())
      victim = static_cast<PolygonObject*>(cache_.Last());
    else
      cacheSize_ = created_;
  }
  if (!victim) return nullptr;
  if (victim->IsLoaded()) cacheIndex_.Erase(victim->Key());
  SharedObject* own = victim->TakeOwn();
  SharedObject* object = offset ? shared_->objects.Find(offset) : nullptr;
  if (object && own) own->Unref();
  if (!object) {
    const char* why = nullptr;
    object = Decode(offset, segments, &why, own);
    if (!object) {
      ReportLoad(offset, why);
      return nullptr;
    }
    object = shared_->objects.Insert(object);
  }
  victim->Show(offset, object);
  cacheIndex_.Insert(offset, victim);
  cache_.MoveToHead(victim);
  if (segments && victim->SegmentCount() && !victim->Segments()) return nullptr;
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
