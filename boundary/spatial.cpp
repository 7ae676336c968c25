#include "boundary/spatial.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Codes of the facade calls.
constexpr int32_t kWrongShape = -3;
constexpr int32_t kOutOfMemory = 104;

// The overlap codes of a polygon search that name a hit.
bool IsOverlapHit(int code) { return code >= 3 && code <= 6; }

// Precision (scan lines) of the first and the further overlap estimates.
constexpr uint32_t kFirstOverlapPrecision = 251;
constexpr uint32_t kNextOverlapPrecision = 250;

struct Hit {
  uint32_t low, high;
  double key;
};

// Stores hits as pending ones in the two offset collections, cursor on the
// first.
void StorePending(const std::vector<Hit>& hits, CLongCollection& low, CLongCollection& high) {
  for (const Hit& h : hits) {
    low.add(static_cast<int32_t>(h.low));
    high.add(static_cast<int32_t>(h.high));
  }
  low.moveFirst();
  high.moveFirst();
}

// The first object whose box meets box.
int FirstInBox(uint32_t file, const CMbr& box) {
  char found[128];
  return pipObjectFindFirstRect(file, box.getLowerLeft().getSpatialX(),
                                box.getLowerLeft().getSpatialY(), box.getUpperRight().getSpatialX(),
                                box.getUpperRight().getSpatialY(), found, sizeof found);
}

// The query polygon as the pip calls take it: distinct vertices, one count
// per ring.
struct Rings {
  std::vector<int32_t> xy;
  std::vector<uint32_t> counts;
  explicit Rings(const CPolyPolygon& polygons) {
    xy.resize(2 * static_cast<size_t>(std::max(polygons.getPointCount(), 1)));
    std::vector<int> n(std::max(polygons.getCount(), 1));
    polygons.get(xy.data(), n.data());
    counts.assign(n.begin(), n.begin() + polygons.getCount());
  }
};

}  // namespace

// The open handle a CSpatial shares with its copies.
struct CSpatial::OpenFile {
  uint32_t handle;
  bool lent;
  OpenFile(uint32_t h, bool l) : handle(h), lent(l) {}
  ~OpenFile() {
    if (!lent) pipObjectFileClose(handle);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
};

// One object as fetched: its record and its coordinates in millionths.
struct CSpatial::Fetched {
  pipObjectInfoStruct info;
  std::vector<int32_t> xy;
  std::vector<uint32_t> counts;
  uint32_t parts = 0;

  std::vector<double> Degrees(int axis) const {
    size_t total = 0;
    for (uint32_t i = 0; i < parts; ++i) total += counts[i];
    std::vector<double> out(total);
    for (size_t i = 0; i < total; ++i) out[i] = xy[2 * i + axis] / 1e6;
    return out;
  }
  std::vector<int> Counts() const {
    return std::vector<int>(counts.begin(), counts.begin() + parts);
  }
};

CSpatial::CSpatial() = default;
CSpatial::CSpatial(uint32_t context) : context_(context) {}
CSpatial::CSpatial(const CSpatial& other) = default;
CSpatial& CSpatial::operator=(const CSpatial& other) = default;
CSpatial::~CSpatial() = default;

uint32_t CSpatial::handle() const { return file_ ? file_->handle : 0; }

bool CSpatial::setPipHandle(uint32_t context) {
  context_ = context;
  return context != 0;
}

void CSpatial::clearFile() {
  file_.reset();
  std::memset(&info_, 0, sizeof info_);
  for (CLongCollection* c :
       {&lineLow_, &lineHigh_, &pointLow_, &pointHigh_, &overlapLow_, &overlapHigh_}) {
    c->reset();
  }
  overlapPercent_.reset();
  found_ = 0;
}

bool CSpatial::usePipObjectHandle(uint32_t file) {
  clearFile();
  if (pipObjectHandleFileQuery(file, &info_) != 1) return false;
  file_ = std::make_shared<OpenFile>(file, true);
  return true;
}

int CSpatial::openFile(const char* path, uint32_t mode) {
  clearFile();
  uint32_t h = 0;
  if (pipObjectFileOpen(context_, path, mode, &h) != 1) return 0;
  file_ = std::make_shared<OpenFile>(h, false);
  if (pipObjectFileQuery(context_, path, &info_) != 1) {
    clearFile();
    return 0;
  }
  return 1;
}

int CSpatial::isValidFile() {
  if (!handle()) return 0;
  bool points = info_.pointCount != 0, lines = info_.lineCount != 0,
       regions = info_.regionCount != 0;
  if ((points && (lines || regions)) || (lines && regions)) {
    closeFile();
    return 0;
  }
  return 1;
}

int CSpatial::closeFile() {
  clearFile();
  return 1;
}

// ---- Fetching -------------------------------------------------------------

bool CSpatial::fetch(uint32_t low, uint32_t high, bool single, Fetched& f) {
  uint32_t h = handle();
  if (!h || pipObjectFileGoto64(h, low, high) != 1 || pipObjectGetInfo(h, &f.info) != 1) {
    return false;
  }
  uint32_t maxPoints = single ? 1 : info_.maxPoints, maxParts = single ? 1 : info_.maxParts;
  if (maxPoints == 0 || maxParts == 0) return false;
  f.xy.resize(2 * size_t(maxPoints));
  f.counts.resize(maxParts);
  return pipObjectGetCoords(h, f.xy.data(), maxPoints, f.counts.data(),
                            static_cast<int32_t>(maxParts), &f.parts) == 1 &&
         f.parts <= maxParts;
}

int CSpatial::getPoint(uint32_t low, uint32_t high, CPipPoint* out) {
  Fetched f;
  if (!out || !fetch(low, high, true, f)) return 0;
  CPipPoint p(f.xy[0], f.xy[1]);  // a fresh point: no names left from before
  p.setName(f.info.name);
  p.setName2(f.info.name2);
  *out = p;
  return 1;
}

// Lines and regions: their rings as coordinate runs, then their names.
template <typename Out>
int CSpatial::getParts(uint32_t low, uint32_t high, Out* out) {
  Fetched f;
  if (!out || !fetch(low, high, false, f)) return 0;
  std::vector<double> xs = f.Degrees(0), ys = f.Degrees(1);
  std::vector<int> counts = f.Counts();
  bool set = out->set(xs.data(), ys.data(), counts.data(), static_cast<int>(counts.size()));
  out->setName(f.info.name);
  out->setName2(f.info.name2);
  return set ? 1 : 0;
}

int CSpatial::getLine(uint32_t low, uint32_t high, CPolyLine* out) {
  return getParts(low, high, out);
}

int CSpatial::getPolygon(uint32_t low, uint32_t high, CPolyPolygon* out) {
  return getParts(low, high, out);
}

namespace {

int Get(CSpatial& s, uint32_t low, uint32_t high, CPipPoint* out) {
  return s.getPoint(low, high, out);
}
int Get(CSpatial& s, uint32_t low, uint32_t high, CPolyLine* out) {
  return s.getLine(low, high, out);
}
int Get(CSpatial& s, uint32_t low, uint32_t high, CPolyPolygon* out) {
  return s.getPolygon(low, high, out);
}

constexpr int kAnyKind = -1;

}  // namespace

// A hit of any positive code is fetched; with a kind, the hit must be an
// object of that kind.
template <typename Out>
int CSpatial::fetchHit(int result, Out* out, int kind) {
  found_ = 0;
  if (result <= 0) return result;
  uint32_t low = 0, high = 0;
  if (pipObjectGetHandle64(handle(), &low, &high) != 1) return -1;
  if (kind != kAnyKind) {
    pipObjectInfoStruct info;
    if (pipObjectGetInfo(handle(), &info) != 1 || info.kind != static_cast<uint32_t>(kind)) {
      return -1;
    }
  }
  if (Get(*this, low, high, out) != 1) return -1;
  found_ = 1;
  return result;
}

template <typename Out>
int CSpatial::fetchPending(CLongCollection& low, CLongCollection& high, Out* out) {
  int32_t l = 0, h = 0;
  if (!low.getCurrent(l) || !high.getCurrent(h)) return 0;
  int r = Get(*this, static_cast<uint32_t>(l), static_cast<uint32_t>(h), out);
  found_ = r == 1;
  return r;
}

// ---- Finds ----------------------------------------------------------------

int CSpatial::findPolygon(const char* name, CPolyPolygon* out) {
  char found[128];
  return fetchHit(pipObjectFindFirstName(handle(), name, found, sizeof found), out, kAnyKind);
}

int CSpatial::findPolygon(const CPipPoint& point, CPolyPolygon* out) {
  char found[128];
  return fetchHit(pipObjectFindFirstContaining(handle(), point.getSpatialX(), point.getSpatialY(),
                                               0, found, sizeof found),
                  out, kAnyKind);
}

int CSpatial::findPolygon(const CPolyPolygon& query, CPolyPolygon* out) {
  try {
    Rings rings(query);
    char found[128];
    return fetchHit(
        pipObjectFindFirstPolygon(handle(), rings.xy.data(), rings.counts.data(),
                                  static_cast<uint32_t>(rings.counts.size()), found, sizeof found),
        out, kAnyKind);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int CSpatial::findNextPolygon(CPolyPolygon* out) {
  char found[128];
  return fetchHit(pipObjectFindNext(handle(), found, sizeof found), out, kAnyKind);
}

int CSpatial::findPolygon(const CPolyPolygon& query, CPolyPolygon* out, double* percentage) {
  overlapLow_.reset();
  overlapHigh_.reset();
  overlapPercent_.reset();
  found_ = 0;
  try {
    Rings rings(query);
    std::vector<Hit> hits;
    char found[128];
    double share = 0;
    int r = pipObjectFindFirstPolygonEx(handle(), rings.xy.data(), rings.counts.data(),
                                        static_cast<uint32_t>(rings.counts.size()), found,
                                        sizeof found, kFirstOverlapPrecision, &share);
    while (IsOverlapHit(r)) {
      Hit hit{0, 0, share};
      if (pipObjectGetHandle64(handle(), &hit.low, &hit.high) != 1) return -1;
      hits.push_back(hit);
      r = pipObjectFindNextEx(handle(), found, sizeof found, kNextOverlapPrecision, &share);
    }
    if (hits.empty()) return 0;
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.key > b.key; });
    StorePending(hits, overlapLow_, overlapHigh_);
    for (const Hit& h : hits) overlapPercent_.add(h.key);
    overlapPercent_.moveFirst();
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (percentage) overlapPercent_.getCurrent(*percentage);
  return fetchPending(overlapLow_, overlapHigh_, out) == 1 ? 5 : -1;
}

int CSpatial::findNextPolygon(CPolyPolygon* out, double* percentage) {
  overlapPercent_.moveNext();
  overlapHigh_.moveNext();
  if (!overlapLow_.moveNext()) return -1;
  if (percentage) overlapPercent_.getCurrent(*percentage);
  return fetchPending(overlapLow_, overlapHigh_, out) == 1 ? 5 : -1;
}

// The objects of a box about the point (points) or within reach of it
// (lines), ordered by distance and kept as pending hits; the first fetched.
template <typename Out>
int CSpatial::findNearest(bool lines, const CPipPoint& point, int reach, Out* out) {
  CLongCollection& low = lines ? lineLow_ : pointLow_;
  CLongCollection& high = lines ? lineHigh_ : pointHigh_;
  low.reset();
  high.reset();
  found_ = 0;
  const int32_t x = point.getSpatialX(), y = point.getSpatialY();
  char found[128];
  int r;
  if (lines) {
    r = pipObjectFindFirstContaining(handle(), x, y, static_cast<uint32_t>(std::max(reach, 0)),
                                     found, sizeof found);
  } else {
    r = FirstInBox(handle(), CMbr(point, reach));
  }
  if (r <= 0) return 0;
  try {
    std::vector<Hit> hits;
    hits.reserve(100);
    for (; r > 0; r = pipObjectFindNext(handle(), found, sizeof found)) {
      Hit hit{0, 0, 0};
      if (pipObjectGetHandle64(handle(), &hit.low, &hit.high) != 1) return -1;
      hit.key = pipObjectDistanceToBorder(handle(), x, y);
      hits.push_back(hit);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.key < b.key; });
    StorePending(hits, low, high);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return fetchPending(low, high, out);
}

int CSpatial::findNearestPoint(const CPipPoint& point, CPipPoint* out, int distance) {
  return findNearest(false, point, distance, out);
}

int CSpatial::findNextPoint(CPipPoint* out) {
  pointHigh_.moveNext();
  return pointLow_.moveNext() ? fetchPending(pointLow_, pointHigh_, out) : 0;
}

int CSpatial::findNearestLine(const CPipPoint& point, CPolyLine* out, int radius) {
  return findNearest(true, point, radius, out);
}

int CSpatial::findNextLine(CPolyLine* out) {
  lineHigh_.moveNext();
  return lineLow_.moveNext() ? fetchPending(lineLow_, lineHigh_, out) : 0;
}

namespace {

int NextInBox(uint32_t file) {
  char found[128];
  return pipObjectFindNext(file, found, sizeof found);
}

int OneOrFailure(int r) { return r > 0 ? 1 : r; }

}  // namespace

int CSpatial::findPointByMbr(const CMbr& box, CPipPoint* out) {
  return OneOrFailure(fetchHit(FirstInBox(handle(), box), out, PIP_OBJECT_POINT));
}
int CSpatial::findNextPointByMbr(CPipPoint* out) {
  return OneOrFailure(fetchHit(NextInBox(handle()), out, PIP_OBJECT_POINT));
}
int CSpatial::findLineByMbr(const CMbr& box, CPolyLine* out) {
  return OneOrFailure(fetchHit(FirstInBox(handle(), box), out, PIP_OBJECT_LINE));
}
int CSpatial::findNextLineByMbr(CPolyLine* out) {
  return OneOrFailure(fetchHit(NextInBox(handle()), out, PIP_OBJECT_LINE));
}
int CSpatial::findPolygonByMbr(const CMbr& box, CPolyPolygon* out) {
  return OneOrFailure(fetchHit(FirstInBox(handle(), box), out, PIP_OBJECT_REGION));
}
int CSpatial::findNextPolygonByMbr(CPolyPolygon* out) {
  return OneOrFailure(fetchHit(NextInBox(handle()), out, PIP_OBJECT_REGION));
}

// ---- Attributes -------------------------------------------------------------

int CSpatial::getAttributeCount(int32_t* count) {
  return pipObjectGetAttributeCount(handle(), count);
}

int CSpatial::getAttributeNameByNumber(uint32_t n, char* buffer, int32_t size) {
  return pipObjectGetAttributeNameByNumber(handle(), n, buffer, size);
}

int CSpatial::getAttributeInfoByNumber(uint32_t n, gdlAttributeInfoStruct* info) {
  int r = pipObjectGetAttributeInfoByNumber(handle(), n, info);
  if (!found_ && info) info->value[0] = '\0';
  return r;
}

int CSpatial::getAttributeInfoByName(const char* name, gdlAttributeInfoStruct* info) {
  int r = pipObjectGetAttributeInfoByName(handle(), name, info);
  if (!found_ && info) info->value[0] = '\0';
  return r;
}

// ---------------------------------------------------------------------------
// GSBObject

GSBObject::GSBObject(uint32_t context, const char* path, uint32_t mode, int32_t version)
    : version_(version) {
  spatial_ = std::make_unique<CSpatial>(context);
  if (pipObjectFileValidate(context, path) != 1 || !Open(path, mode)) spatial_.reset();
}

GSBObject::GSBObject(const GSBObject& other)
    : spatial_(other.spatial_ ? std::make_unique<CSpatial>(*other.spatial_) : nullptr),
      checkedOut_(other.checkedOut_),
      version_(other.version_),
      searched_(other.searched_) {}

GSBObject& GSBObject::operator=(const GSBObject& other) {
  if (this == &other) return *this;
  spatial_ = other.spatial_ ? std::make_unique<CSpatial>(*other.spatial_) : nullptr;
  checkedOut_ = other.checkedOut_;
  version_ = other.version_;
  searched_ = other.searched_;
  return *this;
}

GSBObject::~GSBObject() { Close(); }

bool GSBObject::Open(const char* path, uint32_t mode) {
  searched_ = false;
  return spatial_ && spatial_->openFile(path, mode) == 1;
}

int GSBObject::Close() {
  searched_ = false;
  return spatial_ ? spatial_->closeFile() : 1;
}

int32_t GSBObject::HandleFileQuery(pipObjectFileInfoStruct* info) {
  return pipObjectHandleFileQuery(file(), info);
}
int32_t GSBObject::HandleFileQueryEx(pipObjectFileExtraInfoStruct* info) {
  return pipObjectHandleFileQueryEx(file(), info);
}
int32_t GSBObject::GetAttributeCount(int32_t* count) {
  return pipObjectGetAttributeCount(file(), count);
}
int32_t GSBObject::GetAttributeInfoByNumber(uint32_t n, gdlAttributeInfoStruct* info) {
  return pipObjectGetAttributeInfoByNumber(file(), n, info);
}
int32_t GSBObject::GetAttributeInfoByName(const char* name, gdlAttributeInfoStruct* info) {
  return pipObjectGetAttributeInfoByName(file(), name, info);
}
int32_t GSBObject::FindFirstContaining(int32_t x, int32_t y, uint32_t radius, char* name,
                                       int32_t size) {
  return pipObjectFindFirstContaining(file(), x, y, radius, name, size);
}
int32_t GSBObject::FindNext(char* name, int32_t size) {
  return pipObjectFindNext(file(), name, size);
}
int32_t GSBObject::SetSearchDistance(uint32_t distance) {
  return pipObjectSetSearchDistance(file(), distance);
}
int32_t GSBObject::GetInfo(pipObjectInfoStruct* info) { return pipObjectGetInfo(file(), info); }
int32_t GSBObject::GetHandle(uint32_t* low, uint32_t* high) {
  return pipObjectGetHandle64(file(), low, high);
}
int32_t GSBObject::FileGoto(uint32_t low, uint32_t high) {
  return pipObjectFileGoto64(file(), low, high);
}
int32_t GSBObject::DistanceToBorder(int32_t x, int32_t y) {
  return pipObjectDistanceToBorder(file(), x, y);
}
int32_t GSBObject::ValidateFilterCriteria(const char* criteria) {
  return pipObjectValidateFilterCriteria(file(), criteria);
}
int32_t GSBObject::FindFirstContainingEx(int32_t x, int32_t y, uint32_t radius, char* name,
                                         int32_t size) {
  searched_ = true;
  return pipObjectFindFirstContainingEx(file(), x, y, radius, name, size);
}
int32_t GSBObject::FindFirstNearest(int32_t x, int32_t y, uint32_t count, char* name,
                                    int32_t size) {
  searched_ = true;
  return pipObjectFindFirstNearest(file(), x, y, count, name, size);
}
int32_t GSBObject::FindFirstNearestEx(int32_t x, int32_t y, uint32_t count, const char* criteria,
                                      char* name, int32_t size) {
  searched_ = true;
  return pipObjectFindFirstNearestEx(file(), x, y, count, criteria, name, size);
}

// find(spatial, shape) fills the new shape's geometry and gives the search
// result; the shape is handed out only with a hit.
template <typename Find>
int32_t GSBObject::PointOrLine(CGsbShape** result, int32_t kind, Find find) {
  if (!result) return -1;
  *result = nullptr;
  if (kind != kShapePoint && kind != kShapeLine) return kWrongShape;
  searched_ = true;
  if (!spatial_) return -1;
  std::unique_ptr<CGsbShape> shape(new (std::nothrow) CGsbShape);
  if (!shape) return kOutOfMemory;
  int r;
  try {
    if (kind == kShapePoint) {
      auto* point = new CPipPoint;
      shape->setGeometry(point);
      r = find(*spatial_, point, static_cast<CPolyLine*>(nullptr));
    } else {
      auto* lines = new CPolyLine;
      shape->setGeometry(lines);
      r = find(*spatial_, static_cast<CPipPoint*>(nullptr), lines);
    }
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  if (r != 1) return r < 0 ? -1 : 0;
  shape->setType(kind);
  *result = shape.release();
  return 1;
}

int32_t GSBObject::FindNearestPointOrLine(const CGsbShape* query, CGsbShape** result, int32_t kind,
                                          int32_t distance) {
  if (result) *result = nullptr;
  const CPipPoint* at = query && query->getType() == kShapePoint
                            ? dynamic_cast<const CPipPoint*>(query->getGeometry())
                            : nullptr;
  if (!at) return kWrongShape;
  CPipPoint where(*at);
  return PointOrLine(result, kind, [&](CSpatial& s, CPipPoint* point, CPolyLine* lines) {
    return point ? s.findNearestPoint(where, point, distance)
                 : s.findNearestLine(where, lines, distance);
  });
}

int32_t GSBObject::FindNextPointOrLine(CGsbShape** result, int32_t kind) {
  return PointOrLine(result, kind, [](CSpatial& s, CPipPoint* point, CPolyLine* lines) {
    return point ? s.findNextPoint(point) : s.findNextLine(lines);
  });
}

template <typename Find>
int32_t GSBObject::Overlap(CGsbShape** result, double* percentage, Find find) {
  if (!result) return -1;
  *result = nullptr;
  if (!spatial_) return -1;
  std::unique_ptr<CGsbShape> shape(new (std::nothrow) CGsbShape);
  if (!shape) return kOutOfMemory;
  double share = 0;
  int r;
  try {
    auto* polygons = new CPolyPolygon;
    shape->setGeometry(polygons);
    r = find(*spatial_, polygons, &share);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  if (!IsOverlapHit(r)) {
    if (percentage) *percentage = 0;
    return 0;
  }
  if (percentage) *percentage = share;
  shape->setType(kShapePolygon);
  *result = shape.release();
  return 1;
}

int32_t GSBObject::FindPolygonOverlapPercentage(const CGsbShape* query, CGsbShape** result,
                                                double* percentage) {
  if (result) *result = nullptr;
  if (!query) return -1;
  const CPolyPolygon* area = query->getType() == kShapePolygon
                                 ? dynamic_cast<const CPolyPolygon*>(query->getGeometry())
                                 : nullptr;
  if (!area) {
    if (percentage) *percentage = 0;
    return kWrongShape;
  }
  return Overlap(result, percentage, [&](CSpatial& s, CPolyPolygon* out, double* share) {
    return s.findPolygon(*area, out, share);
  });
}

int32_t GSBObject::FindNextPolygonOverlapPercentage(CGsbShape** result, double* percentage) {
  return Overlap(result, percentage, [](CSpatial& s, CPolyPolygon* out, double* share) {
    return s.findNextPolygon(out, share);
  });
}
