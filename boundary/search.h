// The search kinds over an open boundary file and the dispatch that runs
// them for the object-file interface.
//
// A search is one object of a kind derived from PolygonSearchEnum: the point
// search (containing regions, and with a radius in feet also regions, lines
// and points within it), the rectangle search (objects whose index
// rectangles meet it), the search by name, the nearest point objects
// (optionally passing filter criteria) and the polygon-overlap search. The
// object file holds one search at a time: each find-first of the dispatch
// replaces it and find-next steps it; after every find the attribute file
// (when there is one) moves to the object found.
//
// Results: a positive value when an object was found (1, or the kind's
// code), 0 when there is none (further), -1 on error. A name buffer given
// (size 1 or more) receives the object's name, at most size - 1 characters,
// always terminated. A find-next after a find that found nothing reports
// code 100; a damaged index or record makes the step -1 with the reason
// reported.
//
// The point search tests regions with the point on a border counting as
// inside; its rectangle for a radius is clamped to the coordinate range, so
// a radius near the poles or wider than the world still searches what it
// can reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "boundary/criteria.h"
#include "boundary/nearest.h"
#include "boundary/overlap.h"
#include "boundary/polysrch.h"
#include "zonelib.h"

inline constexpr const char* kSearchSource = "search";
// Report lines of the search kinds (source "search") and of the dispatch
// (source "polysrch").
inline constexpr int kLinePointAfterNotFound = 139;
inline constexpr int kLineNoBuffers = 183;
inline constexpr int kLineRectAfterNotFound = 261;
inline constexpr int kLineCriteriaFailed = 787;
inline constexpr int kLineNoFind = 832;
inline constexpr int kLineOverlapTooLarge = 1293;
inline constexpr int kLineOverlapMemory = 1309;
inline constexpr int kLineNextBeforeFirst = 944;
inline constexpr int kLineNextExBeforeFirst = 1257;
inline constexpr int kLineNoAttributeFile = 1059;

inline constexpr const char* kAfterNotFoundText =
    "Invalid Function call after pipFindFirst returned PIP_NOT_FOUND.\n";
inline constexpr const char* kNoBuffersText =
    "Non-Zero radius used but objects do not have buffers.\n";
inline constexpr const char* kCriteriaFailedText =
    "The search criteria did not parse correctly. %s";
inline constexpr const char* kNoFindText = "Attempt to get object without find.";
inline constexpr const char* kOverlapTooLargeText = "GSB file polygon exceeds the maximum size.";
inline constexpr const char* kOverlapMemoryText = "Unable to allocate the required memory.";
inline constexpr const char* kNextBeforeFirstText = "FindNext called before FindFirst";
inline constexpr const char* kNoAttributeFileText =
    "No attribute file was found. Cannot filter without attributes.";

// Millionths of a degree per foot of latitude (1 / 0.36432).
inline constexpr double kMillionthsPerFoot = 2.7448397013614403;
// The nearest search's first half-height (millionths of a degree).
inline constexpr int32_t kNearestFirstHeight = 7496;
inline constexpr uint32_t kNearestCountMax = 65536;
inline constexpr size_t kPatternSize = 128;

// Copies a name into a caller's buffer of size bytes: at most size - 1
// characters, terminated, and the buffer's last byte 0. Nothing for a null
// buffer or a size below 1.
void CopyFoundName(char* buffer, int32_t size, const char* name);
// Toward zero, held to the 32-bit range; NaN gives INT32_MIN.
int32_t ClampToInt32(double v);

class PolySearchPointInPolygon;
class PolySearchNearestPoint;

class PolygonSearchEnum {
 public:
  explicit PolygonSearchEnum(PolygonSearch& search);
  virtual ~PolygonSearchEnum();
  PolygonSearchEnum(const PolygonSearchEnum&) = delete;
  PolygonSearchEnum& operator=(const PolygonSearchEnum&) = delete;

  virtual int32_t FindFirst(char* name, int32_t size) = 0;
  virtual int32_t FindNext(char* name, int32_t size) = 0;
  virtual int32_t FindFirstEx(char* name, int32_t size, uint32_t precision, double* percentage);
  virtual int32_t FindNextEx(char* name, int32_t size, uint32_t precision, double* percentage);
  virtual void GetExtraResults(int32_t* a, int32_t* b);
  // This search as a point search, or null.
  virtual PolySearchPointInPolygon* AsPointSearch() { return nullptr; }
  // This search as a nearest search without criteria, or null.
  virtual PolySearchNearestPoint* AsPlainNearestSearch() { return nullptr; }

  // Queries on the current object.
  uint32_t GetRecordNumber();
  int32_t GetInfo(pipObjectInfoStruct* out);
  int32_t Goto(uint32_t low, uint32_t high);
  int32_t DistanceToBorder(int32_t x, int32_t y, int32_t* nearestX, int32_t* nearestY);
  bool PointInPolygon(int32_t x, int32_t y);

  bool Found() const { return found_; }
  uint64_t Offset() const { return offset_; }
  // The object last found, fetched again when its slot was reused meanwhile;
  // null when nothing was found (or it cannot be loaded again).
  PolygonObject* CurrentObject();

 protected:
  // A step that yields object at offset: makes it current and names it.
  void Hit(uint64_t offset, PolygonObject* object, char* name, int32_t size);
  // Whether a step may follow the last (not after one that found nothing,
  // which is reported with line); clears the found flag.
  bool MayStep(int line);
  // The first or next index hit; false at the end or on a damaged index.
  bool Step(const SpatialRect& rect, uint64_t* offset);
  // After Step gave false: -1 when the index was damaged, else 0.
  int32_t End() const { return enum_ && enum_->Failed() ? -1 : 0; }
  void ReportSearch(int32_t code, const char* text, int line);

  PolygonSearch& search_;
  uint64_t offset_ = 0;
  PolygonObject* object_ = nullptr;
  bool found_ = false;
  std::unique_ptr<SpatialIndexEnum> enum_;
  bool first_ = true;
};

class PolySearchPointInPolygon : public PolygonSearchEnum {
 public:
  PolySearchPointInPolygon(PolygonSearch& search, int32_t x, int32_t y, uint32_t radius);
  int32_t FindFirst(char* name, int32_t size) override;
  int32_t FindNext(char* name, int32_t size) override;
  // The search point.
  void GetExtraResults(int32_t* a, int32_t* b) override;
  PolySearchPointInPolygon* AsPointSearch() override { return this; }
  // Makes this search what a new one for (x, y, radius) would be.
  void Restart(int32_t x, int32_t y, uint32_t radius);

  // The rectangle a radius (feet, or plain units) spans about (x, y), each
  // corner held in the coordinate range.
  static SpatialRect RadiusRect(int32_t x, int32_t y, uint32_t radius, uint16_t coordinateKind);

 private:
  // 1 inside, 2 within the radius only, 3 both, 0 no hit, -1 error.
  int32_t Test(const PolygonObject& object);

  uint32_t radius_;
  int32_t x_;
  int32_t y_;
  SpatialRect rect_;
};

class PolySearchInRectangle : public PolygonSearchEnum {
 public:
  PolySearchInRectangle(PolygonSearch& search, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  int32_t FindFirst(char* name, int32_t size) override;
  int32_t FindNext(char* name, int32_t size) override;

 protected:
  SpatialRect rect_;
};

class PolySearchByName : public PolygonSearchEnum {
 public:
  PolySearchByName(PolygonSearch& search, const char* pattern);
  int32_t FindFirst(char* name, int32_t size) override;
  int32_t FindNext(char* name, int32_t size) override;

 private:
  bool Matches(const char* name) const;

  bool end_ = false;
  char pattern_[kPatternSize] = {};
  bool wildCard_ = false;
};

class PolySearchNearestPoint : public PolygonSearchEnum, private NearestWalk::Filter {
 public:
  // Up to count point objects nearest (x, y); with criteria, only those
  // whose attribute passes them (attributes must then be given).
  PolySearchNearestPoint(PolygonSearch& search, int32_t x, int32_t y, uint32_t count,
                         const char* criteria = nullptr, AttributeSearch* attributes = nullptr);
  int32_t FindFirst(char* name, int32_t size) override;
  int32_t FindNext(char* name, int32_t size) override;
  // This search as a nearest search without criteria, or null.
  PolySearchNearestPoint* AsPlainNearestSearch() override { return criteria_ ? nullptr : this; }
  // Makes this search what a new one for (x, y, count) would be.
  void Restart(int32_t x, int32_t y, uint32_t count);

 private:
  using Hit = NearestWalk::Hit;

  // Fills the hit table; -1 when the index or a record is damaged.
  int32_t Collect();
  // The same by windows of doubling size, for indexes the walk cannot take.
  int32_t CollectByWindows();
  bool Passes(uint32_t recordNumber) override;

  int32_t x_;
  int32_t y_;
  uint32_t wanted_;
  bool criteriaValid_ = true;
  char criteriaError_[Criteria::kErrorTextSize + 1] = {};
  std::unique_ptr<Criteria> criteria_;
  AttributeSearch* attributes_;
  NearestWalk walk_;
  std::vector<Hit> hits_;
  int32_t position_ = 0;
};

class PolySearchPolygonOverlap : public PolySearchInRectangle {
 public:
  // The query polygon: partCount parts of partCounts[i] points each, as
  // consecutive (x, y) pairs in points.
  PolySearchPolygonOverlap(PolygonSearch& search, const int32_t* points, const uint32_t* partCounts,
                           uint32_t partCount);
  int32_t FindFirst(char* name, int32_t size) override;
  int32_t FindNext(char* name, int32_t size) override;
  int32_t FindFirstEx(char* name, int32_t size, uint32_t precision, double* percentage) override;
  int32_t FindNextEx(char* name, int32_t size, uint32_t precision, double* percentage) override;

 private:
  static SpatialRect Bounds(const int32_t* points, const uint32_t* partCounts, uint32_t partCount);

  std::unique_ptr<uint32_t[]> partBuffer_;
  std::unique_ptr<int32_t[]> pointBuffer_;
  std::vector<RingPoint> ring_;
  OverlapCheck check_;
};

// One hit of the buffered containing search.
struct SpatialPolygonNode {
  int32_t distance = 0;  // positive inside, negative when only within reach
  uint32_t code = 0;     // 1 inside, 2 within the distance, 3 both
  uint32_t offsetLow = 0;
  uint32_t offsetHigh = 0;
  char name[kGsbNameSize] = {};

  void Set(const char* text, uint32_t flags, int32_t feet, uint32_t low, uint32_t high);
  uint64_t Offset() const { return uint64_t(offsetHigh) << 32 | offsetLow; }
};

// Deepest inside first, then the nearest of the outside hits; equal
// distances by record offset: -1, 0 or 1.
int PolygonSearchHitCompare(const SpatialPolygonNode* a, const SpatialPolygonNode* b);

// ---- dispatch ----------------------------------------------------------------

int32_t pipObjectFileFindFirstContainingIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                               uint32_t radius, char* name, int32_t size);
int32_t pipObjectFileFindNextIntern(pipObjectFileObject* file, char* name, int32_t size);
int32_t pipObjectFileFindNextExIntern(pipObjectFileObject* file, char* name, int32_t size,
                                      uint32_t precision, double* percentage);
int32_t pipObjectFileFindFirstRectIntern(pipObjectFileObject* file, int32_t x1, int32_t y1,
                                         int32_t x2, int32_t y2, char* name, int32_t size);
int32_t pipObjectFileFindFirstNameIntern(pipObjectFileObject* file, const char* pattern, char* name,
                                         int32_t size);
int32_t pipObjectFileFindFirstNearestIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                            uint32_t count, char* name, int32_t size);
int32_t pipObjectFileFindFirstNearestExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                              uint32_t count, const char* criteria, char* name,
                                              int32_t size);
int32_t pipObjectFileFindFirstPolygonIntern(pipObjectFileObject* file, const int32_t* points,
                                            const uint32_t* partCounts, uint32_t partCount,
                                            char* name, int32_t size);
int32_t pipObjectFileFindFirstPolygonExIntern(pipObjectFileObject* file, const int32_t* points,
                                              const uint32_t* partCounts, uint32_t partCount,
                                              char* name, int32_t size, uint32_t precision,
                                              double* percentage);
int32_t pipObjectFileGetExtraResultsIntern(pipObjectFileObject* file, int32_t* a, int32_t* b);
int32_t pipObjectFileGetNumCoordsIntern(pipObjectFileObject* file, uint32_t* points,
                                        uint32_t* parts);
int32_t pipObjectFileGetCoordsIntern(pipObjectFileObject* file, int32_t* points, uint32_t maxPoints,
                                     uint32_t* partCounts, uint32_t maxParts, uint32_t* parts);
int32_t pipObjectFileGetInfoIntern(pipObjectFileObject* file, pipObjectInfoStruct* out);
// The current offset's halves; the found flag.
int32_t pipObjectFileGetHandleIntern(pipObjectFileObject* file, uint32_t* low, uint32_t* high);
int32_t pipObjectFileGotoIntern(pipObjectFileObject* file, uint32_t low, uint32_t high);
int32_t pipObjectFileDistanceToBorderIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                            int32_t* nearestX, int32_t* nearestY);
int32_t pipObjectFilePointInPolyIntern(pipObjectFileObject* file, int32_t x, int32_t y);
// Whether the file's magic is the tax boundary file's.
bool pipObjectFileIsTaxFileIntern(pipObjectFileObject* file);
