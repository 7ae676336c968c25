#include "boundary/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/distance_model.h"
#include "boundary/coordkind.h"

namespace {

int ToSpatial(double degrees) {
  double v = std::ceil(degrees * 1e6 - 0.5);
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int>(v);
}

char* CopyName(const char* text) {
  size_t n = std::min(std::strlen(text), static_cast<size_t>(kGeometryNameMax));
  char* copy = new char[n + 1];
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

void ReplaceName(char*& slot, const char* text) {
  if (!text || !*text) return;
  char* copy = CopyName(text);
  delete[] slot;
  slot = copy;
}

void AssignName(char*& slot, const char* source) {
  if (slot == source) return;
  char* copy = source ? CopyName(source) : nullptr;
  delete[] slot;
  slot = copy;
}

bool SameName(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

// A point of segment s at parameter r, without names.
CPipPoint PointAt(const CPipPoint& start, const CPipPoint& end, double r) {
  return CPipPoint(start.getX() + r * (end.getX() - start.getX()),
                   start.getY() + r * (end.getY() - start.getY()));
}

bool Degenerate(const CPipPoint& a, const CPipPoint& b) {
  return std::fabs(b.getX() - a.getX()) < DBL_EPSILON &&
         std::fabs(b.getY() - a.getY()) < DBL_EPSILON;
}

// [lowA, highA) and [lowB, highB) share a point.
bool ExtentsOverlap(double lowA, double highA, double lowB, double highB) {
  return (lowB >= lowA && highA > lowB) || (lowA >= lowB && highB > lowA);
}

struct LineTerms {
  double den;
  double na;
  double nb;
};

LineTerms Terms(const CSegment& a, const CSegment& b) {
  double x1 = a.getStart().getX(), y1 = a.getStart().getY();
  double x2 = a.getEnd().getX(), y2 = a.getEnd().getY();
  double x3 = b.getStart().getX(), y3 = b.getStart().getY();
  double x4 = b.getEnd().getX(), y4 = b.getEnd().getY();
  return LineTerms{(x2 - x1) * (y4 - y3) - (y2 - y1) * (x4 - x3),
                   (x4 - x3) * (y1 - y3) - (x1 - x3) * (y4 - y3),
                   (x2 - x1) * (y1 - y3) - (y2 - y1) * (x1 - x3)};
}

bool Unit(double u) { return u >= 0.0 && u <= 1.0; }

}  // namespace

// ---------------------------------------------------------------------------
// CPipPoint

CPipPoint::CPipPoint(int x, int y) : x_(x / 1e6), y_(y / 1e6) {}

CPipPoint::CPipPoint(const CPipPoint& other) : IGeometry(other), x_(other.x_), y_(other.y_) {
  name_ = other.name_ ? CopyName(other.name_) : nullptr;
  name2_ = other.name2_ ? CopyName(other.name2_) : nullptr;
}

CPipPoint& CPipPoint::operator=(const CPipPoint& other) {
  x_ = other.x_;
  y_ = other.y_;
  AssignName(name_, other.name_);
  AssignName(name2_, other.name2_);
  return *this;
}

CPipPoint::~CPipPoint() {
  delete[] name_;
  delete[] name2_;
}

int CPipPoint::getSpatialX() const { return ToSpatial(x_); }
int CPipPoint::getSpatialY() const { return ToSpatial(y_); }
void CPipPoint::getSpatial(int& x, int& y) const {
  x = getSpatialX();
  y = getSpatialY();
}
void CPipPoint::setSpatialX(int x) { x_ = x / 1e6; }
void CPipPoint::setSpatialY(int y) { y_ = y / 1e6; }
void CPipPoint::setSpatial(int x, int y) {
  setSpatialX(x);
  setSpatialY(y);
}

void CPipPoint::setName(const char* name) { ReplaceName(name_, name); }
void CPipPoint::setName2(const char* name) { ReplaceName(name2_, name); }
const char* CPipPoint::getName() const { return name_ ? name_ : ""; }
const char* CPipPoint::getName2() const { return name2_ ? name2_ : ""; }

int CPipPoint::operator==(const CPipPoint& p) const {
  return x_ == p.x_ && y_ == p.y_ && SameName(name_, p.name_) && SameName(name2_, p.name2_);
}

CPipPoint& CPipPoint::operator+=(const CPipPoint& p) {
  x_ += p.x_;
  y_ += p.y_;
  return *this;
}

void CPipPoint::reset() {
  set(0.0, 0.0);
  setName(nullptr);
  setName2(nullptr);
}

double CPipPoint::distance(const CPipPoint& p) const { return distance(p.x_, p.y_); }

double CPipPoint::distance(double x, double y) const {
  double dx = (x - x_) * kFeetPerDegree * std::cos(y_ * kRadiansPerDegree);
  double dy = (y - y_) * kFeetPerDegree;
  return std::sqrt(dx * dx + dy * dy);
}

double CPipPoint::manhattanDistance(const CPipPoint& p) const {
  CPipPoint corner(x_, p.y_);
  return p.distance(corner) + corner.distance(*this);
}

double CPipPoint::manhattanDistance(double x, double y) const {
  return manhattanDistance(CPipPoint(x, y));
}

CPipPoint CPipPoint::getNearestPoint(const CSegment&) const { return *this; }
double CPipPoint::minDistance(IGeometry* other) const { return other->minDistance(*this); }
double CPipPoint::minDistance(const CPipPoint& p) const { return p.distance(*this); }
double CPipPoint::maxDistance(IGeometry* other) const { return other->maxDistance(*this); }
double CPipPoint::maxDistance(const CPipPoint& p) const { return p.distance(*this); }

// ---------------------------------------------------------------------------
// CSegment

void CSegment::set(const CPipPoint& start, const CPipPoint& end) {
  start_ = start;
  end_ = end;
}

void CSegment::set(double x1, double y1, double x2, double y2) {
  start_.set(x1, y1);
  end_.set(x2, y2);
}

void CSegment::set(int x1, int y1, int x2, int y2) {
  start_.setSpatial(x1, y1);
  end_.setSpatial(x2, y2);
}

void CSegment::getPoints(CPipPoint& start, CPipPoint& end) const {
  start = start_;
  end = end_;
}

CPipPoint CSegment::getMidpoint() const {
  return CPipPoint((start_.getX() + end_.getX()) / 2, (start_.getY() + end_.getY()) / 2);
}

double CSegment::slope() const {
  return (start_.getY() - end_.getY()) / (start_.getX() - end_.getX());
}
double CSegment::deltaX() const { return std::fabs(start_.getX() - end_.getX()); }
double CSegment::deltaY() const { return std::fabs(start_.getY() - end_.getY()); }

void CSegment::reset() {
  start_.reset();
  end_.reset();
}

bool CSegment::overlap(const CSegment& s) const {
  auto lo = [](double a, double b) { return std::min(a, b); };
  auto hi = [](double a, double b) { return std::max(a, b); };
  return ExtentsOverlap(lo(start_.getX(), end_.getX()), hi(start_.getX(), end_.getX()),
                        lo(s.start_.getX(), s.end_.getX()), hi(s.start_.getX(), s.end_.getX())) &&
         ExtentsOverlap(lo(start_.getY(), end_.getY()), hi(start_.getY(), end_.getY()),
                        lo(s.start_.getY(), s.end_.getY()), hi(s.start_.getY(), s.end_.getY()));
}

int CSegment::intersect(const CSegment& s) const {
  if (!overlap(s)) return 0;
  if (Degenerate(start_, end_) || Degenerate(s.start_, s.end_)) return 0;
  LineTerms t = Terms(*this, s);
  if (t.den == 0.0 || t.na == 0.0) return 1;
  return Unit(t.na / t.den) && Unit(t.nb / t.den);
}

int CSegment::intersect(const CSegment& s, CPipPoint& at) const {
  if (!overlap(s)) {
    at = CPipPoint(0.0, 0.0);
    return 0;
  }
  LineTerms t = Terms(*this, s);
  if (t.den == 0.0 || t.na == 0.0) {
    at = end_;
    return 1;
  }
  double ua = t.na / t.den;
  at = PointAt(start_, end_, ua);
  return Unit(ua) && Unit(t.nb / t.den);
}

int CSegment::lineIntersection(const CSegment& s, CPipPoint& at) const {
  LineTerms t = Terms(*this, s);
  if (t.na == 0.0) {
    at = end_;
    return 1;
  }
  if (t.den == 0.0) return 0;
  at = PointAt(start_, end_, t.na / t.den);
  return 1;
}

double CSegment::getR(const CPipPoint& p) const {
  // Zero length is a matter of coordinates: ends that differ only by name
  // would otherwise divide 0 by 0.
  if (start_.getX() == end_.getX() && start_.getY() == end_.getY()) return 0.0;
  double feetX = kFeetPerDegree * std::cos(p.getY() * kRadiansPerDegree);
  double px = (p.getX() - start_.getX()) * feetX;
  double py = (p.getY() - start_.getY()) * kFeetPerDegree;
  double sx = (end_.getX() - start_.getX()) * feetX;
  double sy = (end_.getY() - start_.getY()) * kFeetPerDegree;
  double len = length();
  return (px * sx + py * sy) / (len * len);
}

CPipPoint CSegment::getNearestPoint(const CPipPoint& p) const {
  double r = getR(p);
  if (r >= 0.0 && r <= 1.0) return PointAt(start_, end_, r);
  if (r < 0.0) return start_;
  if (r > 1.0) return end_;
  return CPipPoint(0.0, 0.0);
}

double CSegment::minDistance(const CPipPoint& p) const {
  double r = getR(p);
  if (r >= 0.0 && r <= 1.0) return p.distance(PointAt(start_, end_, r));
  if (r < 0.0) return p.distance(start_);
  if (r > 1.0) return p.distance(end_);
  return DBL_MAX;
}

double CSegment::maxDistance(const CPipPoint& p) const {
  return getR(p) < 0.5 ? p.distance(end_) : p.distance(start_);
}

double CSegment::minDistance(const CSegment& s) const {
  if (intersect(s)) return 0.0;
  double d = std::min({start_.distance(s.start_), start_.distance(s.end_), end_.distance(s.start_),
                       end_.distance(s.end_)});
  auto project = [&d](const CSegment& onto, const CPipPoint& q) {
    double r = onto.getR(q);
    if (r > 0.0 && r < 1.0) d = std::min(d, PointAt(onto.start_, onto.end_, r).distance(q));
  };
  project(*this, s.start_);
  project(*this, s.end_);
  project(s, start_);
  project(s, end_);
  return d;
}

double CSegment::maxDistance(const CSegment& s) const {
  return std::max({start_.distance(s.start_), start_.distance(s.end_), end_.distance(s.start_),
                   end_.distance(s.end_)});
}

CPipPoint CSegment::getNearestPoint(const CSegment& s) const {
  if (intersect(s)) {
    CPipPoint at;
    intersect(s, at);
    return at;
  }
  double best = DBL_MAX;
  const CPipPoint* answer = nullptr;
  auto consider = [&best, &answer](double d, const CPipPoint& candidate) {
    if (d < best) {
      best = d;
      answer = &candidate;
    }
  };
  consider(start_.distance(s.start_), start_);
  consider(start_.distance(s.end_), start_);
  consider(end_.distance(s.start_), end_);
  consider(end_.distance(s.end_), end_);
  // The foot of a projection onto this segment is itself the answer.
  CPipPoint feet[2];
  const CPipPoint* projected[2] = {&s.start_, &s.end_};
  for (int i = 0; i < 2; ++i) {
    double r = getR(*projected[i]);
    if (r > 0.0 && r < 1.0) {
      feet[i] = PointAt(start_, end_, r);
      consider(feet[i].distance(*projected[i]), feet[i]);
    }
  }
  // Projections of this segment's ends onto s answer with the end.
  const CPipPoint* ends[2] = {&start_, &end_};
  for (const CPipPoint* e : ends) {
    double r = s.getR(*e);
    if (r > 0.0 && r < 1.0) consider(PointAt(s.start_, s.end_, r).distance(*e), *e);
  }
  return answer ? *answer : CPipPoint();
}

// ---------------------------------------------------------------------------
// CMbr

CMbr::CMbr() : lowerLeft_(DBL_MAX, DBL_MAX), upperRight_(-DBL_MAX, -DBL_MAX) {}

CMbr::CMbr(const CPipPoint& a, const CPipPoint& b) : CMbr(a.getX(), a.getY(), b.getX(), b.getY()) {}

CMbr::CMbr(double x1, double y1, double x2, double y2)
    : lowerLeft_(std::min(x1, x2), std::min(y1, y2)),
      upperRight_(std::max(x1, x2), std::max(y1, y2)) {}

CMbr::CMbr(const CPipPoint& centre, double width, double height)
    : lowerLeft_(centre.getX() - width / 2, centre.getY() - height / 2),
      upperRight_(centre.getX() + width / 2, centre.getY() + height / 2) {}

CMbr::CMbr(const CPipPoint& centre, int radius) {
  double dy = radius / kFeetPerDegree;
  double dx = radius / (kFeetPerDegree * std::cos(centre.getY() * kRadiansPerDegree));
  lowerLeft_.set(centre.getX() - dx, centre.getY() - dy);
  upperRight_.set(centre.getX() + dx, centre.getY() + dy);
}

CSegment CMbr::getTop() const {
  return CSegment(lowerLeft_.getX(), upperRight_.getY(), upperRight_.getX(), upperRight_.getY());
}
CSegment CMbr::getBottom() const {
  return CSegment(lowerLeft_.getX(), lowerLeft_.getY(), upperRight_.getX(), lowerLeft_.getY());
}
CSegment CMbr::getLeft() const {
  return CSegment(lowerLeft_.getX(), lowerLeft_.getY(), lowerLeft_.getX(), upperRight_.getY());
}
CSegment CMbr::getRight() const {
  return CSegment(upperRight_.getX(), lowerLeft_.getY(), upperRight_.getX(), upperRight_.getY());
}

CPipPoint CMbr::getCenter() const {
  return CPipPoint((lowerLeft_.getX() + upperRight_.getX()) / 2,
                   (lowerLeft_.getY() + upperRight_.getY()) / 2);
}

void CMbr::includePoint(const CPipPoint& p) {
  lowerLeft_.set(std::min(lowerLeft_.getX(), p.getX()), std::min(lowerLeft_.getY(), p.getY()));
  upperRight_.set(std::max(upperRight_.getX(), p.getX()), std::max(upperRight_.getY(), p.getY()));
}

void CMbr::includeMbr(const CMbr& o) {
  includePoint(o.lowerLeft_);
  includePoint(o.upperRight_);
}

void CMbr::includeSegment(const CSegment& s) {
  includePoint(s.getStart());
  includePoint(s.getEnd());
}

void CMbr::grow(double dx, double dy) {
  lowerLeft_.set(lowerLeft_.getX() - dx, lowerLeft_.getY() - dy);
  upperRight_.set(upperRight_.getX() + dx, upperRight_.getY() + dy);
}

void CMbr::grow(double f) {
  double w = getWidth(), h = getHeight();
  grow(w * f - w, h * f - h);
}

void CMbr::reset() {
  lowerLeft_.set(DBL_MAX, DBL_MAX);
  upperRight_.set(-DBL_MAX, -DBL_MAX);
}

bool CMbr::overlap(const CMbr& o) const {
  return ExtentsOverlap(lowerLeft_.getX(), upperRight_.getX(), o.lowerLeft_.getX(),
                        o.upperRight_.getX()) &&
         ExtentsOverlap(lowerLeft_.getY(), upperRight_.getY(), o.lowerLeft_.getY(),
                        o.upperRight_.getY());
}

double CMbr::minDistance(const CMbr& o) const {
  if (overlap(o)) return 0.0;
  if (isAbove(o)) return getBottom().minDistance(o.getTop());
  if (isBelow(o)) return getTop().minDistance(o.getBottom());
  if (isLeftOf(o)) return getRight().minDistance(o.getLeft());
  if (isRightOf(o)) return getLeft().minDistance(o.getRight());
  return 0.0;
}

double CMbr::maxDistance(const CMbr& o) const {
  if (isAbove(o)) return getTop().maxDistance(o.getBottom());
  if (isBelow(o)) return getBottom().maxDistance(o.getTop());
  if (isLeftOf(o)) return getLeft().maxDistance(o.getRight());
  if (isRightOf(o)) return getRight().maxDistance(o.getLeft());
  return 0.0;
}

// ---------------------------------------------------------------------------

ZONELIB_API int pipDistance(int x1, int y1, int x2, int y2, int kind, int* direction) {
  double fx = 1.0, fy = 1.0;
  if (kind == kCoordinateKindGeographic) {
    fy = kFeetPerMillionth;
    fx = kFeetPerMillionth * std::cos(y1 * kRadiansPerMillionth);
  }
  // Differences of two 32-bit coordinates need 33 bits.
  double dx = static_cast<double>(int64_t{x2} - x1) * fx;
  double dy = static_cast<double>(int64_t{y2} - y1) * fy;
  double d = std::sqrt(dx * dx + dy * dy);
  if (!std::isfinite(d) || d >= 2147483648.0) {
    if (direction) *direction = 0;
    return -1;
  }
  if (direction) {
    if (d == 0.0) {
      *direction = 0;
    } else {
      double a = std::acos(std::clamp(dy / d, -1.0, 1.0)) * 180.0 / 3.141592653589793;
      *direction = static_cast<int>(dx >= 0.0 ? a + 0.5 : 360.0 - a + 0.5);
    }
  }
  return static_cast<int>(d);
}
