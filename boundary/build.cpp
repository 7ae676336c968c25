#include "boundary/build.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "base/pagefile.h"
#include "base/qstring.h"
#include "boundary/importread.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "build";
constexpr const char* kNoCoordinatesText = "No coordinates given.";
// Bytes collected before they go to the file: records are appended in order,
// so a builder writes its file in large pieces.
constexpr size_t kOutputBuffer = 1u << 20;
constexpr size_t kStreamBufferMax = 65530;

platform::Env& env() { return platform::Env::Current(); }

// Wrapping 32-bit arithmetic, as the file's sums are.
int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// At most size - 1 characters of from (null: none), terminated; never reads
// past them.
void CopyText(char* to, const char* from, size_t size) {
  size_t n = from ? strnlen(from, size - 1) : 0;
  if (n) std::memcpy(to, from, n);
  to[n] = '\0';
}
void CopyName(char* to, const char* from) { CopyText(to, from, kGsbNameSize); }

// The creation time as the C runtime's ctime writes it, without the line
// feed: "Www Mmm dd hh:mm:ss yyyy" in local time, English names.
void CreationTime(char* out, size_t size) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t now = static_cast<std::time_t>(env().NowSeconds());
  std::tm t{};
  if (!localtime_r(&now, &t)) {
    out[0] = '\0';
    return;
  }
  StrFormat(out, size, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[t.tm_wday % 7],
            kMonths[t.tm_mon % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
}

}  // namespace

// ---------------------------------------------------------------------------
// The output file, written through a buffer: the file's logical end is what
// has been written plus what waits in the buffer.

class BoundaryBuilder::Output {
 public:
  Output(const char* path, QError& error)
      : file_(path, error), buffer_(new uint8_t[kOutputBuffer]) {}

  bool IsOpen() const { return file_.Descriptor() >= 0; }
  uint64_t End() const { return written_ + fill_; }

  // n contiguous bytes at the end (n <= kOutputBuffer), or null when the
  // buffer could not be written out to make room.
  uint8_t* Claim(size_t n) {
    if (fill_ + n > kOutputBuffer && !Flush()) return nullptr;
    uint8_t* at = buffer_.get() + fill_;
    fill_ += n;
    return at;
  }
  bool Append(const void* bytes, size_t n) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (n > 0) {
      size_t piece = std::min(n, kOutputBuffer);
      uint8_t* at = Claim(piece);
      if (!at) return false;
      std::memcpy(at, p, piece);
      p += piece;
      n -= piece;
    }
    return true;
  }
  // count items of itemSize bytes, each written by encode(i, at).
  template <class Encode>
  bool AppendItems(uint64_t count, size_t itemSize, Encode encode) {
    const uint64_t perPiece = kOutputBuffer / itemSize;
    for (uint64_t i = 0; i < count;) {
      uint64_t n = std::min(perPiece, count - i);
      uint8_t* at = Claim(size_t(n) * itemSize);
      if (!at) return false;
      for (uint64_t end = i + n; i < end; ++i, at += itemSize) encode(i, at);
    }
    return true;
  }
  bool Flush() {
    if (fill_ == 0) return true;
    if (!file_.WriteAt(int64_t(written_), uint32_t(fill_), buffer_.get())) return false;
    written_ += fill_;
    fill_ = 0;
    return true;
  }
  // The file itself, for the index writers, after a Flush.
  QioFile& File() { return file_; }
  bool Close() { return file_.Close(); }

 private:
  QioFile file_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t written_ = 0;
  size_t fill_ = 0;
};

// ---------------------------------------------------------------------------
// Object writers

void QPolygonObject::SetNames(const char* name, const char* name2) {
  CopyName(name_, name);
  CopyName(name2_, name2);
}

QPolygonPoint::QPolygonPoint(BoundaryBuilder& builder, const char* name, const char* name2,
                             uint8_t code, int32_t x, int32_t y)
    : QPolygonObject(builder), x_(x), y_(y) {
  SetNames(name, name2);
  code_ = code;
}

bool QPolygonPoint::Write() {
  GsbObjectRecord record;
  record.kind = kGsbPoint;
  record.code = code_;
  record.x = x_;
  record.y = y_;
  record.recordNumber = recordNumber_;
  record.symbolSize = size_;
  record.symbolShape = shape_;
  return builder_.StorePoint(record, name_, name2_);
}

QPolygonLine::QPolygonLine(BoundaryBuilder& builder, const char* name, const char* name2,
                           uint8_t code)
    : QPolygonLine(builder, name, name2, code, kGsbLine) {}

QPolygonLine::QPolygonLine(BoundaryBuilder& builder, const char* name, const char* name2,
                           uint8_t code, uint8_t kind)
    : QPolygonObject(builder) {
  SetNames(name, name2);
  code_ = code;
  record_.kind = kind;
  record_.code = code;
  record_.flags = uint16_t((builder.Header().flags & (kGsbFlagSegments | kGsbFlagPacked)) |
                           kGsbFlagCurrentLayout);
}

bool QPolygonLine::AddPoint(int32_t x, int32_t y) {
  if (uint64_t(points_) + 1 > uint64_t(builder_.pointLimit_)) {
    builder_.Report(Q_ERROR_EMPTY, kTooManyPointsText, __LINE__);
    return false;
  }
  builder_.points_[points_++] = {x, y};
  bounds_.Include(x, y);
  return true;
}

bool QPolygonLine::EndRing() {
  uint32_t count = points_ - ringStart_;
  if (count == 0) return true;  // a ring without points is no ring
  if (uint64_t(rings_) + 1 > uint64_t(builder_.polygonLimit_)) {
    builder_.Report(Q_ERROR_EMPTY, kTooManyPolygonsText, __LINE__);
    return false;
  }
  const RingPoint* ring = builder_.points_.get() + ringStart_;
  if (record_.kind == kGsbRegion && count > 1 && ring[count - 1].x == ring[0].x &&
      ring[count - 1].y == ring[0].y) {
    // The closing point: dropped from the object too, so that the next ring
    // starts right after this one.
    --count;
    --points_;
  }
  builder_.ringCounts_[rings_++] = count;
  ringStart_ = points_;
  return true;
}

bool QPolygonLine::AddParts(const int32_t* xy, const uint32_t* counts, int32_t partCount) {
  if (partCount <= 0) return true;
  if (partCount > builder_.polygonLimit_) {
    builder_.Report(Q_ERROR_EMPTY, kTooManyPolygonsText, __LINE__);
    return false;
  }
  if (!counts) {
    builder_.Report(Q_ERROR_INVALID_DATA, kNoCoordinatesText, __LINE__);
    return false;
  }
  uint64_t total = points_;
  for (int32_t i = 0; i < partCount; ++i) total += counts[i];
  if (total > uint64_t(builder_.pointLimit_)) {
    builder_.Report(Q_ERROR_EMPTY, kTooManyPointsText, __LINE__);
    return false;
  }
  if (total > points_ && !xy) {
    builder_.Report(Q_ERROR_INVALID_DATA, kNoCoordinatesText, __LINE__);
    return false;
  }
  for (int32_t i = 0; i < partCount; ++i) {
    for (uint32_t k = 0; k < counts[i]; ++k, xy += 2)
      if (!AddPoint(xy[0], xy[1])) return false;
    if (!EndRing()) return false;
  }
  return true;
}

bool QPolygonLine::Write() {
  if (failed_ || !EndRing()) return false;
  GsbBounds& b = record_.bounds;
  b = {Add32(bounds_.xmin, -1), Add32(bounds_.ymin, -1), Add32(bounds_.xmax, 1),
       Add32(bounds_.ymax, 1)};
  if (record_.labelX == 0 && record_.labelY == 0) {
    record_.labelX = Add32(b.xmin, b.xmax) / 2;
    record_.labelY = Add32(b.ymin, b.ymax) / 2;
  }
  record_.points = points_;
  record_.rings = rings_;
  return builder_.StoreLine(record_, name_, name2_);
}

QPolygonRegion::QPolygonRegion(BoundaryBuilder& builder, const char* name, const char* name2,
                               uint8_t code)
    : QPolygonLine(builder, name, name2, code, kGsbRegion) {}

QPolygonSingleLine::QPolygonSingleLine(BoundaryBuilder& builder, const char* name,
                                       const char* name2, uint8_t code, int32_t x1, int32_t y1,
                                       int32_t x2, int32_t y2)
    : QPolygonLine(builder, name, name2, code) {
  failed_ = !AddPoint(x1, y1) || !AddPoint(x2, y2);
}

QPolygonMultiPline::QPolygonMultiPline(BoundaryBuilder& builder, const char* name,
                                       const char* name2)
    : QPolygonLine(builder, name, name2, 0) {}

// ---------------------------------------------------------------------------
// The builder

BoundaryBuilder::BoundaryBuilder(pipErrorRef error, const char* path, uint16_t flags,
                                 uint16_t coordinateKind, int32_t pointLimit, int32_t polygonLimit)
    : error_(std::move(error)),
      path_(path ? path : ""),
      folder_(platform::DirectoryOf(path_)),
      pointLimit_(pointLimit),
      polygonLimit_(polygonLimit) {
  std::memcpy(header_.text, kGsbDefaultBanner, kGsbDefaultBannerLength);
  header_.flags = uint16_t(flags | kGsbFlagCurrentLayout);
  header_.coordinateKind = coordinateKind;
  header_.magic = (flags & kGsbFlagTax) ? kGsbMagicTax : kGsbMagic;
  if (pointLimit <= 0 || polygonLimit <= 0) {
    Report(Q_ERROR_INVALID_DATA, "BoundaryBuilder: limits", __LINE__);
    return;
  }

  try {
    Construct(flags, pointLimit, polygonLimit);
  } catch (const std::bad_alloc&) {
    Report(Q_ERROR_MEMORY, "BoundaryBuilder", __LINE__);
    ok_ = false;
  }
}

void BoundaryBuilder::Construct(uint16_t flags, int32_t pointLimit, int32_t polygonLimit) {
  output_ = std::make_unique<Output>(path_.c_str(), *error_);
  if (!output_->IsOpen()) return;
  created_ = true;
  // The header's place, written at the end.
  if (output_->End() != 0) return;
  std::memset(output_->Claim(kGsbHeaderSize), 0, kGsbHeaderSize);

  points_.reset(new (std::nothrow) RingPoint[size_t(pointLimit)]);
  ringCounts_.reset(new (std::nothrow) uint32_t[size_t(polygonLimit)]);
  if (flags & kGsbFlagSegments)
    segments_.reset(new (std::nothrow) SegmentRecord[size_t(pointLimit)]);
  if (!points_ || !ringCounts_ || ((flags & kGsbFlagSegments) && !segments_)) {
    Report(Q_ERROR_MEMORY, "BoundaryBuilder", __LINE__);
    return;
  }

  names_ = std::make_unique<QTreeBuild>(*error_, folder_);
  names_->SetKeyLength(uint8_t(kGsbNameKeySize));
  names_->SetDataLength(uint8_t(kGsbNameDataSize));
  spatial_ = std::make_unique<rtIndexBuild>(*error_, folder_);
  if (!spatial_->IsValid()) return;

  if (flags & kGsbFlagPacked) {
    const uint16_t size = uint16_t(std::min<int64_t>(4 * int64_t(pointLimit), kStreamBufferMax));
    const size_t streams = (flags & kGsbFlagSegments) ? kGsbSegmentStreams : kGsbPointStreams;
    for (size_t i = 0; i < streams; ++i) streams_[i] = std::make_unique<PackedIntWriter>(size);
  }
  scratch_.reset(new uint8_t[kGsbLineFixedSize + GsbNamesBlockLength(kGsbNameSize, kGsbNameSize)]);
  ok_ = true;
}

BoundaryBuilder::~BoundaryBuilder() {
  // A reader may hold an object that writes into the builder's arrays.
  reader_.reset();
  // Unfinished: the file goes. The index builders remove their temporary
  // files as they are destroyed.
  if (created_ && !finished_) {
    if (output_->IsOpen()) output_->Close();
    env().Remove(path_);
  }
}

void BoundaryBuilder::SetReader(std::unique_ptr<ImportRead> reader) {
  // An object the reader has reported as read goes into the file, also when
  // the caller stops before the input's end.
  if (reader_) reader_->StorePending();
  reader_.reset();
  reader_ = std::move(reader);
}

int32_t BoundaryBuilder::Report(int32_t code, const char* detail, int line) {
  return error_->Report(code, detail, kSource, line);
}

void BoundaryBuilder::SetHeaderText(const char* text) {
  if (!text || !*text) return;
  std::memset(header_.text, 0, sizeof header_.text);
  std::memcpy(header_.text, text, strnlen(text, kGsbHeaderTextSize - 1));
}

bool BoundaryBuilder::FillExtension(uint16_t kind, const char* name, const char* text) {
  if (!ok_ || extensionOffset_ >= 0 || output_->End() != kGsbExtensionOffset) return false;
  uint8_t* at = output_->Claim(kGsbExtensionSize);
  if (!at) return false;
  std::memset(at, 0, kGsbExtensionSize);
  extensionOffset_ = int64_t(kGsbExtensionOffset);
  CopyText(extension_.name, name, sizeof extension_.name);
  CopyText(extension_.text, text, sizeof extension_.text);
  CreationTime(extension_.created, sizeof extension_.created);
  extension_.tag = kGsbExtensionTag;
  extension_.kind = kind;
  header_.hasExtension = 1;
  return true;
}

int32_t BoundaryBuilder::InsertByKind(const pipObjectInfoStruct& o, const int32_t* xy,
                                      const uint32_t* counts, int32_t partCount,
                                      uint32_t recordNumber) {
  char name[kGsbNameSize];
  char name2[kGsbNameSize];
  CopyName(name, o.name);
  CopyName(name2, o.name2);
  StrTrim(name2);
  const uint8_t code = uint8_t(o.code);
  switch (o.kind) {
    case kGsbRegion: {
      QPolygonRegion region(*this, name, name2, code);
      region.SetLabel(o.x, o.y);
      region.SetPen(uint8_t(o.styleB), uint8_t(o.styleA), recordNumber);
      region.SetBrush(uint8_t(o.brushPattern), o.brushColour, o.brushBackground);
      return region.AddParts(xy, counts, partCount) && region.Write() ? 1 : -1;
    }
    case kGsbLine: {
      QPolygonLine line(*this, name, name2, code);
      line.SetLabel(o.x, o.y);
      line.SetPen(uint8_t(o.styleB), uint8_t(o.styleA), recordNumber);
      return line.AddParts(xy, counts, partCount) && line.Write() ? 1 : -1;
    }
    case kGsbPoint: {
      QPolygonPoint point(*this, name, name2, code, o.x, o.y);
      point.SetSymbol(uint8_t(o.styleA), uint8_t(o.styleB), recordNumber);
      return point.Write() ? 1 : -1;
    }
    default:
      Report(Q_ERROR_EMPTY, kInvalidObjectTypeText, __LINE__);
      return -1;
  }
}

void BoundaryBuilder::Lose() {
  if (!lost_) lostError_ = static_cast<const QError&>(*error_);
  lost_ = true;
}

bool BoundaryBuilder::Index(const GsbBounds& bounds, const uint8_t* names, size_t namesLength,
                            uint64_t offset) {
  uint8_t key[kGsbNameKeySize] = {};
  uint8_t data[kGsbNameDataSize];
  std::memcpy(key, names, std::min(kGsbNameKeySize, namesLength));
  QStoreU64LE(data, offset);
  if (!names_->Add(key, data) || !spatial_->Add(bounds, offset)) {
    Lose();
    return false;
  }
  return true;
}

bool BoundaryBuilder::PackStreams(uint32_t points, uint32_t segments, uint64_t* bytes) {
  *bytes = 0;
  const bool withSegments = (header_.flags & kGsbFlagSegments) != 0;
  const size_t streams = withSegments ? kGsbSegmentStreams : kGsbPointStreams;
  for (size_t s = 0; s < streams; ++s) {
    PackedIntWriter& w = *streams_[s];
    w.Reset();
    const uint32_t count = s < kGsbPointStreams ? points : segments;
    if (count == 0) return false;
    for (uint32_t i = 0; i < count; ++i) {
      int32_t v = s == 0   ? points_[i].x
                  : s == 1 ? points_[i].y
                           : segments_[i].field[s - kGsbPointStreams];
      if (w.Put(v) < 0 || w.TotalBytes() > kGsbStreamMaxBytes) return false;
    }
    if (w.CheckpointPartTooLong()) return false;
    *bytes += w.TotalBytes();
  }
  return true;
}

bool BoundaryBuilder::AppendLine(const GsbObjectRecord& r, const uint8_t* names, size_t namesLength,
                                 bool packed) {
  Output& out = *output_;
  uint8_t fixed[kGsbLineFixedSize];
  EncodeGsbLineFixed(r, fixed);
  if (!out.Append(fixed, sizeof fixed) || !out.Append(names, namesLength)) return false;
  if (!out.AppendItems(r.rings, 4,
                       [&](uint64_t i, uint8_t* at) { QStoreU32LE(at, ringCounts_[i]); }))
    return false;
  if (packed) {
    const size_t streams = r.StreamCount();
    uint8_t table[4 * kGsbSegmentStreams];
    for (size_t s = 0; s < streams; ++s)
      QStoreU32LE(table + 4 * s, uint32_t(streams_[s]->TotalBytes()));
    if (!out.Append(table, 4 * streams)) return false;
    for (size_t s = 0; s < streams; ++s) {
      const size_t size = streams_[s]->TotalBytes();
      uint8_t* at = out.Claim(size);
      if (!at || streams_[s]->Join(at, size) != int32_t(size)) return false;
    }
    return true;
  }
  if (!out.AppendItems(r.points, 8, [&](uint64_t i, uint8_t* at) {
        QStoreU32LE(at, uint32_t(points_[i].x));
        QStoreU32LE(at + 4, uint32_t(points_[i].y));
      }))
    return false;
  return out.AppendItems(r.segments, kGsbSegmentSize,
                         [&](uint64_t i, uint8_t* at) { EncodeSegmentRecord(segments_[i], at); });
}

bool BoundaryBuilder::StoreLine(GsbObjectRecord& r, const char* name, const char* name2) {
  if (!ok_) return false;
  const size_t nameLength = std::strlen(name);
  const size_t name2Length = std::strlen(name2);
  const size_t namesLength = GsbNamesBlockLength(nameLength, name2Length);
  uint8_t* names = scratch_.get();
  EncodeGsbNamesBlock({name, nameLength}, {name2, name2Length}, names);

  r.ringOffset = uint32_t(kGsbLineFixedSize + namesLength);
  r.coordinateOffset = r.ringOffset + 4 * r.rings;
  r.segments = 0;
  if (r.HasSegments()) {
    const SegmentFrame frame =
        SegmentFrame::Make(r.bounds.xmin, r.bounds.ymin, header_.coordinateKind);
    const bool closed = r.kind == kGsbRegion;
    uint32_t start = 0;
    for (uint32_t i = 0; i < r.rings; ++i) {
      r.segments += BuildSegmentRecords(points_.get() + start, ringCounts_[i], closed, frame,
                                        segments_.get() + r.segments);
      start += ringCounts_[i];
    }
  }

  uint64_t length = 0;
  uint64_t streamBytes = 0;
  const bool packed = r.Packed() && PackStreams(r.points, r.segments, &streamBytes);
  if (packed) {
    length = uint64_t(r.coordinateOffset) + 4 * r.StreamCount() + streamBytes;
  } else {
    r.flags = uint16_t(r.flags & ~kGsbFlagPacked);
    length = uint64_t(r.coordinateOffset) + 8 * uint64_t(r.points) +
             uint64_t(kGsbSegmentSize) * r.segments;
  }
  if (length > UINT32_MAX) {
    Report(Q_ERROR_EMPTY, kTooManyPointsText, __LINE__);
    return false;
  }
  r.length = uint32_t(length);

  const uint64_t offset = output_->End();
  if (!Index(r.bounds, names, namesLength, offset)) return false;
  if (!AppendLine(r, names, namesLength, packed)) {
    Lose();
    return false;
  }
  header_.maxRecordLength = std::max(header_.maxRecordLength, r.length);
  header_.maxPoints = std::max(header_.maxPoints, r.points);
  header_.maxRings = std::max(header_.maxRings, r.rings);
  header_.bounds.Include(r.bounds);
  if (r.kind == kGsbLine)
    ++header_.lineCount;
  else
    ++header_.regionCount;
  return true;
}

bool BoundaryBuilder::StorePoint(GsbObjectRecord& r, const char* name, const char* name2) {
  if (!ok_) return false;
  const size_t nameLength = std::strlen(name);
  const size_t name2Length = std::strlen(name2);
  const size_t namesLength = GsbNamesBlockLength(nameLength, name2Length);
  r.length = uint32_t(kGsbPointFixedSize + namesLength);

  uint8_t* bytes = scratch_.get();
  EncodeGsbPointFixed(r, bytes);
  EncodeGsbNamesBlock({name, nameLength}, {name2, name2Length}, bytes + kGsbPointFixedSize);

  const uint64_t offset = output_->End();
  if (!Index({r.x, r.y, r.x, r.y}, bytes + kGsbPointFixedSize, namesLength, offset)) return false;
  if (!output_->Append(bytes, r.length)) {
    Lose();
    return false;
  }
  header_.maxRecordLength = std::max(header_.maxRecordLength, r.length);
  header_.bounds.Include(r.x, r.y);
  ++header_.pointCount;
  return true;
}

bool BoundaryBuilder::Finish() {
  if (!ok_) return false;
  ok_ = false;
  if (lost_) {
    // Said again, so that the failure of the whole file is what the caller
    // reads, whatever was recorded since. Codes below 100 take their text
    // from errno.
    if (lostError_.Code() < Q_ERROR_EMPTY) errno = lostError_.Code();
    Report(lostError_.Code(), lostError_.Detail(), __LINE__);
    return false;
  }
  try {
    if (!output_->Flush()) return false;
    QioFile& file = output_->File();
    const int64_t nameRoot = names_->Write(file);
    if (nameRoot < 0) return false;
    header_.nameIndexOffset = uint64_t(nameRoot);
    const int32_t spatialRoot = spatial_->Write(file);
    if (spatialRoot < 0) return false;
    header_.offsetWidth = 1;
    header_.spatialRoot = uint64_t(spatialRoot) * kGsbPageSize;

    uint8_t header[kGsbHeaderSize];
    EncodeGsbHeader(header_, header);
    if (!file.WriteAt(0, kGsbHeaderSize, header)) return false;
    if (extensionOffset_ >= 0) {
      uint8_t extension[kGsbExtensionSize];
      EncodeGsbExtension(extension_, extension);
      if (!file.WriteAt(extensionOffset_, kGsbExtensionSize, extension)) return false;
    }
    if (!output_->Close()) return false;
  } catch (const std::bad_alloc&) {
    Report(Q_ERROR_MEMORY, "BoundaryBuilder::Finish", __LINE__);
    return false;
  }
  // Their temporary files go now rather than with the builder.
  names_.reset();
  spatial_.reset();
  finished_ = true;
  ok_ = true;
  return true;
}
