#include "boundary/search.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/distance_model.h"
#include "base/qstring.h"
#include "boundary/readmain.h"
#include "platform/env.h"

namespace {

int32_t ClampToInt32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

SpatialRect Normalised(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

}  // namespace

int32_t ClampToInt32(double v) {
  if (!(v > double(INT32_MIN))) return INT32_MIN;
  if (!(v < double(INT32_MAX))) return INT32_MAX;
  return int32_t(v);
}

void CopyFoundName(char* buffer, int32_t size, const char* name) {
  if (!buffer || size < 1) return;
  const size_t n = strnlen(name, size_t(size) - 1);
  std::memcpy(buffer, name, n);
  buffer[n] = '\0';
  buffer[size - 1] = '\0';
}

// ---- PolygonSearchEnum ---------------------------------------------------------

PolygonSearchEnum::PolygonSearchEnum(PolygonSearch& search) : search_(search) {
  if (SpatialIndex* index = search.Index()) enum_ = index->CreateEnum();
}

PolygonSearchEnum::~PolygonSearchEnum() = default;

int32_t PolygonSearchEnum::FindFirstEx(char* name, int32_t size, uint32_t, double*) {
  return FindFirst(name, size);
}

int32_t PolygonSearchEnum::FindNextEx(char* name, int32_t size, uint32_t, double*) {
  return FindNext(name, size);
}

void PolygonSearchEnum::GetExtraResults(int32_t*, int32_t*) {}

void PolygonSearchEnum::ReportSearch(int32_t code, const char* text, int line) {
  search_.Error().Report(code, text, kSearchSource, line);
}

void PolygonSearchEnum::Hit(uint64_t offset, PolygonObject* object, char* name, int32_t size) {
  offset_ = offset;
  object_ = object;
  found_ = true;
  CopyFoundName(name, size, object->Name());
}

bool PolygonSearchEnum::MayStep(int line) {
  if (!first_ && !found_) {
    ReportSearch(Q_ERROR_EMPTY, kAfterNotFoundText, line);
    return false;
  }
  found_ = false;
  return true;
}

bool PolygonSearchEnum::Step(const SpatialRect& rect, uint64_t* offset) {
  if (first_) {
    first_ = false;
    return enum_->First(rect, offset);
  }
  return enum_->Next(offset);
}

PolygonObject* PolygonSearchEnum::CurrentObject() {
  if (!found_) return nullptr;
  if (object_ && object_->IsKey(offset_)) return object_;
  object_ = search_.FetchObject(offset_);
  return object_;
}

uint32_t PolygonSearchEnum::GetRecordNumber() {
  PolygonObject* o = CurrentObject();
  return o ? o->RecordNumber() : 0;
}

int32_t PolygonSearchEnum::GetInfo(pipObjectInfoStruct* out) {
  PolygonObject* o = CurrentObject();
  if (!o) {
    ReportSearch(Q_ERROR_EMPTY, kNoFindText, kLineNoFind);
    return -1;
  }
  const GsbObjectRecord& r = o->Record();
  if (r.kind != kGsbRegion && r.kind != kGsbLine && r.kind != kGsbPoint) return -1;
  std::memset(out, 0, sizeof *out);
  CopyFoundName(out->name, sizeof out->name, o->Name());
  CopyFoundName(out->name2, sizeof out->name2, o->Name2());
  out->kind = r.kind;
  out->code = r.code;
  if (r.kind == kGsbPoint) {
    out->x = r.x;
    out->y = r.y;
    out->bounds[0] = out->bounds[2] = r.x;
    out->bounds[1] = out->bounds[3] = r.y;
    out->styleA = r.symbolShape;
    out->styleB = r.symbolSize;
    out->recordNumber = r.recordNumber;
    return 1;
  }
  out->x = r.labelX;
  out->y = r.labelY;
  out->styleA = r.penPattern;
  out->styleB = r.penWidth;
  out->recordNumber = r.recordNumber;
  out->bounds[0] = r.bounds.xmin;
  out->bounds[1] = r.bounds.ymin;
  out->bounds[2] = r.bounds.xmax;
  out->bounds[3] = r.bounds.ymax;
  if (r.kind == kGsbRegion) {
    out->brushPattern = r.brushPattern;
    out->brushColour = r.brushColour;
    out->brushBackground = r.brushBackground;
  }
  return 1;
}

int32_t PolygonSearchEnum::Goto(uint32_t low, uint32_t high) {
  found_ = false;
  offset_ = uint64_t(high) << 32 | low;
  object_ = search_.FetchObject(offset_);
  if (!object_) return -1;
  found_ = true;
  return 1;
}

int32_t PolygonSearchEnum::DistanceToBorder(int32_t x, int32_t y, int32_t* nearestX,
                                            int32_t* nearestY) {
  PolygonObject* o = CurrentObject();
  if (!o) return -1;
  if (o->Kind() == kGsbPoint) {
    if (nearestX && nearestY) {
      *nearestX = x;
      *nearestY = y;
    }
    return o->DistanceToPoint(x, y);
  }
  if ((o->Kind() == kGsbRegion || o->Kind() == kGsbLine) && o->SegmentCount() > 0 && !nearestX)
    return o->SegmentDistance(x, y);
  return ClampToInt32(std::trunc(o->DistanceToRings(x, y, nearestX, nearestY) + 0.5));
}

bool PolygonSearchEnum::PointInPolygon(int32_t x, int32_t y) {
  PolygonObject* o = CurrentObject();
  return o && o->ContainsPoint(x, y);
}

// ---- point in polygon -------------------------------------------------------------

PolySearchPointInPolygon::PolySearchPointInPolygon(PolygonSearch& search, int32_t x, int32_t y,
                                                   uint32_t radius)
    : PolygonSearchEnum(search),
      radius_(radius),
      x_(x),
      y_(y),
      rect_(RadiusRect(x, y, radius, search.CoordinateKind())) {}

void PolySearchPointInPolygon::Restart(int32_t x, int32_t y, uint32_t radius) {
  radius_ = radius;
  x_ = x;
  y_ = y;
  rect_ = RadiusRect(x, y, radius, search_.CoordinateKind());
  offset_ = 0;
  object_ = nullptr;
  found_ = false;
  first_ = true;
}

SpatialRect PolySearchPointInPolygon::RadiusRect(int32_t x, int32_t y, uint32_t radius,
                                                 uint16_t coordinateKind) {
  if (radius == 0) return {x, y, x, y};
  double dx, dy;
  if (coordinateKind == kGsbCoordinateKindGeographic) {
    dy = std::trunc(radius * kMillionthsPerFoot);
    dx = std::trunc(dy / std::cos(y * kRadiansPerMillionth));
    // Near a pole (or past one) the width reaches round the world.
    if (!std::isfinite(dx) || dx < 0) dx = 4294967296.0;
  } else {
    dx = dy = radius;
  }
  return {ClampToInt32(x - dx), ClampToInt32(y - dy), ClampToInt32(x + dx), ClampToInt32(y + dy)};
}

int32_t PolySearchPointInPolygon::FindFirst(char* name, int32_t size) {
  if (!enum_) return -1;
  found_ = false;
  first_ = true;
  return FindNext(name, size);
}

int32_t PolySearchPointInPolygon::Test(const PolygonObject& o) {
  switch (o.Kind()) {
    case kGsbRegion:
    case kGsbLine: {
      const bool inside = o.ContainsPoint(x_, y_);
      bool within = false;
      if (radius_ != 0) {
        if (o.SegmentCount() == 0) {
          ReportSearch(Q_ERROR_INVALID_DATA, kNoBuffersText, kLineNoBuffers);
          return -1;
        }
        within = o.WithinRadius(x_, y_, radius_);
      }
      return (inside ? 1 : 0) + (within ? 2 : 0);
    }
    case kGsbPoint:
      return o.PointWithin(x_, y_, radius_) ? 2 : 0;
    default:
      return 0;
  }
}

int32_t PolySearchPointInPolygon::FindNext(char* name, int32_t size) {
  if (!enum_ || !MayStep(kLinePointAfterNotFound)) return -1;
  uint64_t offset = 0;
  for (bool more = Step(rect_, &offset); more; more = enum_->Next(&offset)) {
    // Containment needs the rings alone; a radius the segment records too.
    PolygonObject* o = search_.FetchObject(offset, radius_ != 0);
    if (!o) return -1;
    const int32_t code = Test(*o);
    if (code < 0) return -1;
    if (code > 0) {
      Hit(offset, o, name, size);
      return code;
    }
  }
  return End();
}

void PolySearchPointInPolygon::GetExtraResults(int32_t* a, int32_t* b) {
  if (a) *a = x_;
  if (b) *b = y_;
}

// ---- rectangle ------------------------------------------------------------------------

PolySearchInRectangle::PolySearchInRectangle(PolygonSearch& search, int32_t x1, int32_t y1,
                                             int32_t x2, int32_t y2)
    : PolygonSearchEnum(search), rect_(Normalised(x1, y1, x2, y2)) {}

int32_t PolySearchInRectangle::FindFirst(char* name, int32_t size) {
  if (!enum_) return -1;
  found_ = false;
  first_ = true;
  return PolySearchInRectangle::FindNext(name, size);
}

int32_t PolySearchInRectangle::FindNext(char* name, int32_t size) {
  if (!enum_ || !MayStep(kLineRectAfterNotFound)) return -1;
  uint64_t offset = 0;
  if (!Step(rect_, &offset)) return End();
  PolygonObject* o = search_.FetchObject(offset);
  if (!o) return -1;
  Hit(offset, o, name, size);
  return 1;
}

// ---- by name --------------------------------------------------------------------------

PolySearchByName::PolySearchByName(PolygonSearch& search, const char* pattern)
    : PolygonSearchEnum(search) {
  if (pattern) std::memcpy(pattern_, pattern, strnlen(pattern, sizeof pattern_ - 1));
  if (char* star = std::strchr(pattern_, '*')) {
    *star = '\0';
    wildCard_ = true;
  }
}

bool PolySearchByName::Matches(const char* name) const {
  if (!wildCard_) return platform::AsciiEqualsIgnoreCase(pattern_, name);
  for (size_t i = 0; pattern_[i]; ++i)
    if (platform::AsciiLower(pattern_[i]) != platform::AsciiLower(name[i])) return false;
  return true;
}

int32_t PolySearchByName::FindFirst(char* name, int32_t size) {
  found_ = false;
  first_ = true;
  end_ = false;
  return FindNext(name, size);
}

int32_t PolySearchByName::FindNext(char* name, int32_t size) {
  found_ = false;
  if (end_) return 0;
  uint64_t offset = 0;
  bool failed = false;
  PolygonObject* o = search_.NextByName(first_ ? pattern_ : nullptr, &offset, &failed);
  first_ = false;
  while (o) {
    if (Matches(o->Name())) {
      Hit(offset, o, name, size);
      return 1;
    }
    o = search_.NextByName(nullptr, &offset, &failed);
  }
  end_ = true;
  return failed ? -1 : 0;
}

// ---- nearest points -----------------------------------------------------------------------

PolySearchNearestPoint::PolySearchNearestPoint(PolygonSearch& search, int32_t x, int32_t y,
                                               uint32_t count, const char* criteria,
                                               AttributeSearch* attributes)
    : PolygonSearchEnum(search), x_(x), y_(y), wanted_(count), attributes_(attributes) {
  if (criteria) {
    criteria_ = std::make_unique<Criteria>(criteria);
    criteriaValid_ = attributes_ && ValidateCriteria(criteria, *attributes_, criteriaError_,
                                                     sizeof criteriaError_);
  }
}

void PolySearchNearestPoint::Restart(int32_t x, int32_t y, uint32_t count) {
  x_ = x;
  y_ = y;
  wanted_ = count;
  hits_.clear();
  position_ = 0;
  offset_ = 0;
  object_ = nullptr;
  found_ = false;
  first_ = true;
}

bool PolySearchNearestPoint::Passes(uint32_t recordNumber) {
  if (!criteria_) return true;
  pipAttributeInfoStruct info;
  return attributes_->SetRecord(int32_t(recordNumber)) &&
         attributes_->GetAttributeInfoByName(criteria_->GetFieldName(), &info) == 1 &&
         criteria_->Evaluate(info.value, char(info.type));
}

namespace {

// The least distance, in pipDistance's units, at which a point outside the
// window (x - w, y - h) .. (x + w, y + h) can lie. pipDistance scales both
// axes by factors taken at the search point, so its circles are the window's
// inscribed ellipses in coordinates; the figure is one short of the exact one
// to allow for pipDistance's rounding. INT64_MAX when the window covers the
// whole coordinate range.
int64_t NearestOutside(int32_t x, int32_t y, int64_t w, int64_t h, int kind) {
  double fx = 1.0, fy = 1.0;
  if (kind == kGsbCoordinateKindGeographic) {
    fy = kFeetPerMillionth;
    fx = std::fabs(kFeetPerMillionth * std::cos(y * kRadiansPerMillionth));
  }
  double nearest = HUGE_VAL;
  if (x - w > INT32_MIN || x + w < INT32_MAX) nearest = double(w + 1) * fx;
  if (y - h > INT32_MIN || y + h < INT32_MAX) nearest = std::min(nearest, double(h + 1) * fy);
  if (!(nearest < 9e18)) return INT64_MAX;
  return int64_t(nearest) - 1;
}

}  // namespace

int32_t PolySearchNearestPoint::Collect() {
  hits_.clear();
  if (wanted_ == 0) return 1;
  if (auto* tree = dynamic_cast<rtSpatialIndex*>(search_.Index()))
    if (NearestWalk::Walkable(tree->Index()))
      return walk_.Find(tree->Index(), search_, x_, y_, wanted_, search_.GetSearchDistance(),
                        criteria_ ? this : nullptr, &hits_);
  return CollectByWindows();
}

// Windows of doubling height, each as wide in distance as it is high, until
// the k-th nearest point found lies nearer than anything outside the window
// could (a point beyond the window's inscribed circle may hide a nearer one
// outside it), or until the window holds every point within the search
// distance. Points beyond the search distance are never answers.
int32_t PolySearchNearestPoint::CollectByWindows() {
  const int64_t reach = search_.GetSearchDistance();
  const int kind = search_.CoordinateKind();
  for (int64_t h = kNearestFirstHeight;; h *= 2) {
    const int dE = pipDistance(x_, y_, ClampToInt32(x_ + h), y_, kind, nullptr);
    const int dN = pipDistance(x_, y_, x_, ClampToInt32(y_ + h), kind, nullptr);
    const double east = dE == 0 ? 1e-6 : dE;
    const int64_t w =
        int64_t(std::clamp(std::trunc(dN / east * double(h)), 0.0, 4294967296.0));
    hits_.clear();
    PolySearchInRectangle box(search_, ClampToInt32(x_ - w), ClampToInt32(y_ - h),
                              ClampToInt32(x_ + w), ClampToInt32(y_ + h));
    for (int32_t r = box.FindFirst(nullptr, 0); r != 0; r = box.FindNext(nullptr, 0)) {
      if (r < 0) return -1;
      PolygonObject* o = box.CurrentObject();
      if (!o) return -1;
      if (o->Kind() != kGsbPoint) continue;
      const int32_t d = pipDistance(x_, y_, o->Record().x, o->Record().y, kind, nullptr);
      if (d < 0 || d > reach || !Passes(o->RecordNumber())) continue;
      // After the equal distances met before it.
      auto at = std::upper_bound(hits_.begin(), hits_.end(), d,
                                 [](int32_t v, const Hit& e) { return v < e.distance; });
      if (size_t(at - hits_.begin()) >= wanted_) continue;
      if (hits_.size() == wanted_) hits_.pop_back();
      hits_.insert(at, {d, box.Offset()});
    }
    const int64_t outside = NearestOutside(x_, y_, w, h, kind);
    if (outside > reach) break;
    if (hits_.size() == wanted_ && hits_.back().distance <= outside) break;
  }
  return 1;
}

int32_t PolySearchNearestPoint::FindFirst(char* name, int32_t size) {
  found_ = false;
  first_ = true;
  if (criteriaValid_ && Collect() < 0) return -1;
  return FindNext(name, size);
}

int32_t PolySearchNearestPoint::FindNext(char* name, int32_t size) {
  if (!criteriaValid_) {
    char detail[kQErrorDetailSize];
    StrFormat(detail, sizeof detail, kCriteriaFailedText, criteriaError_);
    ReportSearch(Q_ERROR_EMPTY, detail, kLineCriteriaFailed);
    found_ = false;
    return -1;
  }
  position_ = first_ ? 0 : position_ + 1;
  first_ = false;
  if (size_t(position_) >= hits_.size()) {
    found_ = false;
    return 0;
  }
  const uint64_t offset = hits_[size_t(position_)].offset;
  if (Goto(uint32_t(offset), uint32_t(offset >> 32)) != 1) return -1;
  CopyFoundName(name, size, object_->Name());
  return 1;
}

// ---- polygon overlap -----------------------------------------------------------------------

SpatialRect PolySearchPolygonOverlap::Bounds(const int32_t* points, const uint32_t* partCounts,
                                             uint32_t partCount) {
  GsbBounds b = GsbBounds::Empty();
  size_t at = 0;
  for (uint32_t p = 0; p < partCount; ++p)
    for (uint32_t i = 0; i < partCounts[p]; ++i, at += 2) b.Include(points[at], points[at + 1]);
  if (b.xmin > b.xmax) return {0, 0, 0, 0};
  return {b.xmin, b.ymin, b.xmax, b.ymax};
}

PolySearchPolygonOverlap::PolySearchPolygonOverlap(PolygonSearch& search, const int32_t* points,
                                                   const uint32_t* partCounts, uint32_t partCount)
    : PolySearchInRectangle(search, 0, 0, 0, 0) {
  rect_ = Bounds(points, partCounts, partCount);
  const GsbHeader& h = search.Header();
  partBuffer_.reset(new (std::nothrow) uint32_t[std::max<uint32_t>(h.maxRings, 1)]);
  pointBuffer_.reset(new (std::nothrow) int32_t[2 * size_t(std::max<uint32_t>(h.maxPoints, 1))]);
  size_t at = 0;
  for (uint32_t p = 0; p < partCount; ++p) {
    ring_.resize(partCounts[p]);
    for (RingPoint& q : ring_) {
      q = {points[at], points[at + 1]};
      at += 2;
    }
    check_.AddRegionA(int(ring_.size()), ring_.data());
  }
}

int32_t PolySearchPolygonOverlap::FindFirst(char* name, int32_t size) {
  return FindFirstEx(name, size, 0, nullptr);
}

int32_t PolySearchPolygonOverlap::FindNext(char* name, int32_t size) {
  return FindNextEx(name, size, 0, nullptr);
}

int32_t PolySearchPolygonOverlap::FindFirstEx(char* name, int32_t size, uint32_t precision,
                                              double* percentage) {
  found_ = false;
  first_ = true;
  return FindNextEx(name, size, precision, percentage);
}

int32_t PolySearchPolygonOverlap::FindNextEx(char* name, int32_t size, uint32_t precision,
                                             double* percentage) {
  if (!partBuffer_ || !pointBuffer_) return -1;
  const GsbHeader& h = search_.Header();
  int32_t r = PolySearchInRectangle::FindNext(nullptr, 0);
  while (r == 1) {
    PolygonObject* o = CurrentObject();
    if (!o) return -1;
    if (o->Kind() != kGsbRegion) {
      r = PolySearchInRectangle::FindNext(nullptr, 0);
      continue;
    }
    uint32_t parts = 0;
    if (o->GetCoords(pointBuffer_.get(), h.maxPoints, partBuffer_.get(), h.maxRings, &parts) != 1) {
      ReportSearch(Q_ERROR_MEMORY, kOverlapTooLargeText, kLineOverlapTooLarge);
      return -1;
    }
    const auto* points = pointBuffer_.get();
    for (uint32_t p = 0, at = 0; p < parts; at += 2 * partBuffer_[p], ++p) {
      ring_.resize(partBuffer_[p]);
      for (uint32_t i = 0; i < partBuffer_[p]; ++i)
        ring_[i] = {points[at + 2 * i], points[at + 2 * i + 1]};
      if (check_.AddRegionB(int(ring_.size()), ring_.data()) != 0) {
        check_.ClearRegionB();
        ReportSearch(Q_ERROR_MEMORY, kOverlapMemoryText, kLineOverlapMemory);
        return -1;
      }
    }
    int code = 0;
    const int checked =
        check_.Check(&code, int(std::min<uint32_t>(precision, INT32_MAX)), percentage);
    check_.ClearRegionB();
    if (checked != 1) return -1;
    if (code != OverlapCheck::kApart) {
      CopyFoundName(name, size, o->Name());
      return code;
    }
    r = PolySearchInRectangle::FindNext(nullptr, 0);
  }
  return r;
}

// ---- hits of the buffered search ---------------------------------------------------------------

void SpatialPolygonNode::Set(const char* text, uint32_t flags, int32_t feet, uint32_t low,
                             uint32_t high) {
  CopyFoundName(name, sizeof name, text);
  code = flags;
  distance = feet;
  offsetLow = low;
  offsetHigh = high;
}

int PolygonSearchHitCompare(const SpatialPolygonNode* a, const SpatialPolygonNode* b) {
  if (a->distance != b->distance) return a->distance > b->distance ? -1 : 1;
  if (a->Offset() == b->Offset()) return 0;
  return a->Offset() < b->Offset() ? -1 : 1;
}

// ---- dispatch
// --------------------------------------------------------------------------------------

namespace {

// Moves the attribute file to the current object's record (when a value is
// first read); passes result on.
int32_t Selected(pipObjectFileObject* file, int32_t result) {
  if (AttributeSearch* a = file->Attributes()) {
    PolygonSearchEnum* s = file->Current();
    a->SetRecordLater(int32_t(s ? s->GetRecordNumber() : 0));
  }
  return result;
}

template <class Kind, class... Args>
int32_t Start(pipObjectFileObject* file, char* name, int32_t size, Args&&... args) {
  file->SetCurrent(nullptr);
  auto* search = new (std::nothrow) Kind(file->Search(), std::forward<Args>(args)...);
  if (!search) return -1;
  file->SetCurrent(std::unique_ptr<PolygonSearchEnum>(search));
  return Selected(file, search->FindFirst(name, size));
}

void ReportDispatch(pipObjectFileObject* file, int32_t code, const char* text, int line) {
  file->Error().Report(code, text, kPolysrchSource, line);
}

}  // namespace

int32_t pipObjectFileFindFirstContainingIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                               uint32_t radius, char* name, int32_t size) {
  // The hot path: a point search in progress is made new again rather than
  // replaced, which gives the same search without its allocations.
  if (PolygonSearchEnum* current = file->Current())
    if (PolySearchPointInPolygon* search = current->AsPointSearch()) {
      search->Restart(x, y, radius);
      return Selected(file, search->FindFirst(name, size));
    }
  return Start<PolySearchPointInPolygon>(file, name, size, x, y, radius);
}

int32_t pipObjectFileFindNextIntern(pipObjectFileObject* file, char* name, int32_t size) {
  PolygonSearchEnum* s = file->Current();
  if (!s) {
    ReportDispatch(file, Q_ERROR_INVALID_DATA, kNextBeforeFirstText, kLineNextBeforeFirst);
    return -1;
  }
  return Selected(file, s->FindNext(name, size));
}

int32_t pipObjectFileFindNextExIntern(pipObjectFileObject* file, char* name, int32_t size,
                                      uint32_t precision, double* percentage) {
  PolygonSearchEnum* s = file->Current();
  if (!s) {
    ReportDispatch(file, Q_ERROR_INVALID_DATA, kNextBeforeFirstText, kLineNextExBeforeFirst);
    return -1;
  }
  return Selected(file, s->FindNextEx(name, size, precision, percentage));
}

int32_t pipObjectFileFindFirstRectIntern(pipObjectFileObject* file, int32_t x1, int32_t y1,
                                         int32_t x2, int32_t y2, char* name, int32_t size) {
  return Start<PolySearchInRectangle>(file, name, size, x1, y1, x2, y2);
}

int32_t pipObjectFileFindFirstNameIntern(pipObjectFileObject* file, const char* pattern, char* name,
                                         int32_t size) {
  return Start<PolySearchByName>(file, name, size, pattern);
}

int32_t pipObjectFileFindFirstNearestIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                            uint32_t count, char* name, int32_t size) {
  // As the point search: one in progress is made new again, keeping the
  // walk's memory.
  if (PolygonSearchEnum* current = file->Current())
    if (PolySearchNearestPoint* search = current->AsPlainNearestSearch()) {
      search->Restart(x, y, count);
      return Selected(file, search->FindFirst(name, size));
    }
  return Start<PolySearchNearestPoint>(file, name, size, x, y, count);
}

int32_t pipObjectFileFindFirstNearestExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                              uint32_t count, const char* criteria, char* name,
                                              int32_t size) {
  AttributeSearch* a = file->Attributes();
  if (!a || !a->IsOpen()) {
    ReportDispatch(file, Q_ERROR_EMPTY, kNoAttributeFileText, kLineNoAttributeFile);
    return -1;
  }
  return Start<PolySearchNearestPoint>(file, name, size, x, y, count, criteria ? criteria : "", a);
}

int32_t pipObjectFileFindFirstPolygonIntern(pipObjectFileObject* file, const int32_t* points,
                                            const uint32_t* partCounts, uint32_t partCount,
                                            char* name, int32_t size) {
  return Start<PolySearchPolygonOverlap>(file, name, size, points, partCounts, partCount);
}

int32_t pipObjectFileFindFirstPolygonExIntern(pipObjectFileObject* file, const int32_t* points,
                                              const uint32_t* partCounts, uint32_t partCount,
                                              char* name, int32_t size, uint32_t precision,
                                              double* percentage) {
  file->SetCurrent(nullptr);
  auto* search =
      new (std::nothrow) PolySearchPolygonOverlap(file->Search(), points, partCounts, partCount);
  if (!search) return -1;
  file->SetCurrent(std::unique_ptr<PolygonSearchEnum>(search));
  return Selected(file, search->FindFirstEx(name, size, precision, percentage));
}

int32_t pipObjectFileGetExtraResultsIntern(pipObjectFileObject* file, int32_t* a, int32_t* b) {
  PolygonSearchEnum* s = file->Current();
  if (!s) {
    if (a) *a = -1;
    if (b) *b = -1;
    return -1;
  }
  s->GetExtraResults(a, b);
  return 1;
}

int32_t pipObjectFileGetNumCoordsIntern(pipObjectFileObject* file, uint32_t* points,
                                        uint32_t* parts) {
  PolygonSearchEnum* s = file->Current();
  PolygonObject* o = s ? s->CurrentObject() : nullptr;
  if (!o || !points || !parts) return -1;
  return o->GetNumCoords(points, parts);
}

int32_t pipObjectFileGetCoordsIntern(pipObjectFileObject* file, int32_t* points, uint32_t maxPoints,
                                     uint32_t* partCounts, uint32_t maxParts, uint32_t* parts) {
  PolygonSearchEnum* s = file->Current();
  PolygonObject* o = s ? s->CurrentObject() : nullptr;
  if (!o || !points || !partCounts || !parts) return -1;
  return o->GetCoords(points, maxPoints, partCounts, maxParts, parts);
}

int32_t pipObjectFileGetInfoIntern(pipObjectFileObject* file, pipObjectInfoStruct* out) {
  PolygonSearchEnum* s = file->Current();
  if (!s || !out) return -1;
  return s->GetInfo(out);
}

int32_t pipObjectFileGetHandleIntern(pipObjectFileObject* file, uint32_t* low, uint32_t* high) {
  PolygonSearchEnum* s = file->Current();
  if (!s) return -1;
  if (low) *low = uint32_t(s->Offset());
  if (high) *high = uint32_t(s->Offset() >> 32);
  return s->Found() ? 1 : 0;
}

int32_t pipObjectFileGotoIntern(pipObjectFileObject* file, uint32_t low, uint32_t high) {
  PolygonSearchEnum* s = file->Current();
  if (!s) return -1;
  return Selected(file, s->Goto(low, high));
}

int32_t pipObjectFileDistanceToBorderIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                            int32_t* nearestX, int32_t* nearestY) {
  PolygonSearchEnum* s = file->Current();
  if (!s) return -1;
  return s->DistanceToBorder(x, y, nearestX, nearestY);
}

int32_t pipObjectFilePointInPolyIntern(pipObjectFileObject* file, int32_t x, int32_t y) {
  PolygonSearchEnum* s = file->Current();
  if (!s) return -1;
  return s->PointInPolygon(x, y) ? 1 : 0;
}

bool pipObjectFileIsTaxFileIntern(pipObjectFileObject* file) { return file->Search().IsTaxFile(); }
