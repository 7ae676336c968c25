// BoundaryBuilder writes one boundary file (layout in boundary/gsbformat.h)
// from objects handed to it one at a time, and the object writers that build
// those objects: QPolygonPoint, QPolygonLine, QPolygonRegion,
// QPolygonSingleLine and QPolygonMultiPline. The import calls and the input
// readers make an object writer on a builder, add its points, set its styles
// and call Write, which appends the object's record to the file and enters it
// in the name index and the spatial index. Finish writes both indexes and the
// header; a builder destroyed without a successful Finish deletes its file.
//
// The builder's arrays of points, ring counts and segment records are sized
// once, by the limits it was made with, and shared by its objects: only one
// line or region may be under construction at a time (made, filled, written,
// destroyed before the next is made). Points may be written in between.
//
// Contracts on the border cases:
//   - More points in one object than the point limit: code 100 "Too many
//     points."; more rings than the polygon limit: code 100 "Too many
//     polygons."; the call that would pass the limit returns false and the
//     object should be dropped. The file stays usable for the next object.
//   - A region ring's last point equal to its first is dropped (from the
//     ring and from the object's point count); a ring of no points is not a
//     ring. Lines keep every point.
//   - Packed coordinates: a record whose streams would pass 65,525 bytes,
//     overflow their buffers, need a checkpoint part over 255 bytes, or come
//     out empty is written raw.
//   - An object whose record cannot be written, or whose entry cannot be
//     added to an index, fails its Write, and the file can no longer be
//     finished: Finish reports that failure again and returns false.
//   - Temporary files of the indexes go to the output file's folder and are
//     removed when the builder ends, whatever happened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/packedint.h"
#include "base/qio.h"
#include "base/qtree.h"
#include "boundary/gsbformat.h"
#include "boundary/mainintn.h"
#include "boundary/rtreebuild.h"
#include "zonelib.h"

inline constexpr const char* kTooManyPointsText = "Too many points.";
inline constexpr const char* kTooManyPolygonsText = "Too many polygons.";
inline constexpr const char* kInvalidObjectTypeText = "Invalid object type.";

class BoundaryBuilder;
class ImportRead;

class QPolygonObject {
 public:
  explicit QPolygonObject(BoundaryBuilder& builder) : builder_(builder) {}
  virtual ~QPolygonObject() = default;
  QPolygonObject(const QPolygonObject&) = delete;
  QPolygonObject& operator=(const QPolygonObject&) = delete;

  // Stores the object in the file; false when it cannot.
  virtual bool Write() = 0;
  virtual uint8_t Kind() const = 0;

  // Each text is cut to 127 characters.
  void SetNames(const char* name, const char* name2);

 protected:
  BoundaryBuilder& builder_;
  char name_[kGsbNameSize] = {};
  char name2_[kGsbNameSize] = {};
  uint8_t code_ = 0;
};

class QPolygonPoint : public QPolygonObject {
 public:
  QPolygonPoint(BoundaryBuilder& builder, const char* name, const char* name2, uint8_t code,
                int32_t x, int32_t y);

  void SetPosition(int32_t x, int32_t y) {
    x_ = x;
    y_ = y;
  }
  void SetSymbol(uint8_t shape, uint8_t size, uint32_t recordNumber) {
    shape_ = shape;
    size_ = size;
    recordNumber_ = recordNumber;
  }
  bool Write() override;
  uint8_t Kind() const override { return kGsbPoint; }

 private:
  int32_t x_;
  int32_t y_;
  uint8_t shape_ = 0;
  uint8_t size_ = 0;
  uint32_t recordNumber_ = 0;
};

// A line of one or more parts; the base of regions.
class QPolygonLine : public QPolygonObject {
 public:
  QPolygonLine(BoundaryBuilder& builder, const char* name, const char* name2, uint8_t code);

  // Adds a point to the current ring (part); false past the point limit.
  bool AddPoint(int32_t x, int32_t y);
  // Ends the current ring; false past the polygon limit.
  bool EndRing();
  // Adds partCount parts of counts[i] points each from the (x, y) pairs of
  // xy, each part ended as a ring (a part of no points too). The limits are
  // checked for the whole call before anything is added.
  bool AddParts(const int32_t* xy, const uint32_t* counts, int32_t partCount);

  // (0, 0): the centre of the widened bounds.
  void SetLabel(int32_t x, int32_t y) {
    record_.labelX = x;
    record_.labelY = y;
  }
  void SetPen(uint8_t width, uint8_t pattern, uint32_t recordNumber) {
    record_.penWidth = width;
    record_.penPattern = pattern;
    record_.recordNumber = recordNumber;
  }
  bool Write() override;
  uint8_t Kind() const override { return record_.kind; }

  uint32_t PointCount() const { return points_; }
  uint32_t RingCount() const { return rings_; }
  const GsbBounds& Bounds() const { return bounds_; }

 protected:
  QPolygonLine(BoundaryBuilder& builder, const char* name, const char* name2, uint8_t code,
               uint8_t kind);

  GsbObjectRecord record_;
  bool failed_ = false;  // a point given at construction did not fit

 private:
  uint32_t points_ = 0;
  uint32_t rings_ = 0;
  uint32_t ringStart_ = 0;  // the current ring's first point
  GsbBounds bounds_ = GsbBounds::Empty();
};

class QPolygonRegion : public QPolygonLine {
 public:
  QPolygonRegion(BoundaryBuilder& builder, const char* name, const char* name2, uint8_t code);

  void SetBrush(uint8_t pattern, uint32_t colour, uint32_t background) {
    record_.brushPattern = pattern;
    record_.brushColour = colour;
    record_.brushBackground = background;
  }
};

// A line of exactly the two points given.
class QPolygonSingleLine : public QPolygonLine {
 public:
  QPolygonSingleLine(BoundaryBuilder& builder, const char* name, const char* name2, uint8_t code,
                     int32_t x1, int32_t y1, int32_t x2, int32_t y2);
};

// A line of several sections, added in order as one part; code byte 0.
class QPolygonMultiPline : public QPolygonLine {
 public:
  QPolygonMultiPline(BoundaryBuilder& builder, const char* name, const char* name2);
};

class BoundaryBuilder {
 public:
  // Creates the file at path and reserves its header. Ok() tells whether
  // every step succeeded; each failure is reported to error. flags are the
  // parameter block's (0x01, 0x02, 0x10); the limits must be positive.
  BoundaryBuilder(pipErrorRef error, const char* path, uint16_t flags, uint16_t coordinateKind,
                  int32_t pointLimit, int32_t polygonLimit);
  ~BoundaryBuilder();
  BoundaryBuilder(const BoundaryBuilder&) = delete;
  BoundaryBuilder& operator=(const BoundaryBuilder&) = delete;

  bool Ok() const { return ok_; }

  // The header's text: at most 255 characters; empty keeps the banner.
  void SetHeaderText(const char* text);
  // Fills the extension record (name, text, kind, the current time as the
  // creation time, tag 12) and reserves it right after the header. Only
  // before the first object; false when that has passed.
  bool FillExtension(uint16_t kind, const char* name, const char* text);

  // Makes, fills and writes the object that object describes (kind 0
  // region, 1 line, 2 point; name2 trimmed), with the coordinates as they
  // are given. recordNumber is the object's record number. 1 or -1.
  int32_t InsertByKind(const pipObjectInfoStruct& object, const int32_t* xy, const uint32_t* counts,
                       int32_t partCount, uint32_t recordNumber);

  // Writes the name index, the spatial index and the header, and closes the
  // file. False (reported) when any step fails or an object was lost.
  bool Finish();

  // The record number of the next insert (1, 2, ...).
  uint32_t NextInsertNumber() { return ++insertCounter_; }
  // A working array of count coordinates (2 per point), kept for the next
  // object.
  int32_t* Working(size_t count) {
    if (working_.size() < count) working_.resize(count);
    return working_.data();
  }

  // The input reader open on this builder, or null. The builder owns it:
  // setting another (or none) first stores the object the one before still
  // holds, then destroys it; the builder destroys it before anything else
  // when it goes.
  ImportRead* Reader() const { return reader_.get(); }
  void SetReader(std::unique_ptr<ImportRead> reader);

  pipError& Error() { return *error_; }
  const GsbHeader& Header() const { return header_; }
  const std::string& Path() const { return path_; }
  bool IsTax() const { return header_.magic == kGsbMagicTax; }
  int32_t PointLimit() const { return pointLimit_; }
  int32_t PolygonLimit() const { return polygonLimit_; }

 private:
  friend class QPolygonLine;
  friend class QPolygonPoint;
  class Output;

  void Construct(uint16_t flags, int32_t pointLimit, int32_t polygonLimit);
  int32_t Report(int32_t code, const char* detail, int line);
  // Stores a line or region whose record fields, bounds and names are set;
  // points and ring counts are in the arrays.
  bool StoreLine(GsbObjectRecord& record, const char* name, const char* name2);
  bool StorePoint(GsbObjectRecord& record, const char* name, const char* name2);
  // Adds the object's index entries, then appends its bytes; on failure the
  // file is marked lost.
  bool Index(const GsbBounds& bounds, const uint8_t* names, size_t namesLength, uint64_t offset);
  void Lose();
  // Packs points and segments into the stream writers; false when the record
  // must be raw. *bytes gets the streams' total size.
  bool PackStreams(uint32_t points, uint32_t segments, uint64_t* bytes);
  bool AppendLine(const GsbObjectRecord& record, const uint8_t* names, size_t namesLength,
                  bool packed);

  pipErrorRef error_;
  std::string path_;
  std::string folder_;
  bool ok_ = false;
  bool created_ = false;   // the output file exists
  bool finished_ = false;  // and is complete
  bool lost_ = false;      // an object could not be stored whole
  QError lostError_;
  uint32_t insertCounter_ = 0;
  GsbHeader header_;
  GsbExtension extension_;
  int64_t extensionOffset_ = -1;
  int32_t pointLimit_;
  int32_t polygonLimit_;

  // The arrays of the object under construction.
  std::unique_ptr<RingPoint[]> points_;
  std::unique_ptr<uint32_t[]> ringCounts_;
  std::unique_ptr<SegmentRecord[]> segments_;
  std::unique_ptr<PackedIntWriter> streams_[kGsbSegmentStreams];
  std::vector<int32_t> working_;
  // Scratch for the names block and encoded record parts.
  std::unique_ptr<uint8_t[]> scratch_;

  std::unique_ptr<Output> output_;
  std::unique_ptr<QTreeBuild> names_;
  std::unique_ptr<rtIndexBuild> spatial_;
  std::unique_ptr<ImportRead> reader_;
};
