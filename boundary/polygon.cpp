#include "boundary/polygon.h"

#include <algorithm>
#include <cstring>

#include "gpc.h"

namespace {

void CopyName(char (&field)[kGeometryNameMax + 1], const char* text) {
  if (!text || text == field) return;
  size_t n = strnlen(text, kGeometryNameMax);
  std::memmove(field, text, n);
  field[n] = '\0';
}

const CSegment& EmptySegment() {
  static const CSegment empty;
  return empty;
}

}  // namespace

// ---------------------------------------------------------------------------
// CSegmentChain

CSegmentChain::CSegmentChain(const CSegmentChain& other)
    : IGeometry(other), segments_(other.segments_) {
  CopyName(name_, other.name_);
  CopyName(name2_, other.name2_);
}

CSegmentChain& CSegmentChain::operator=(const CSegmentChain& other) {
  if (this == &other) return *this;
  CopyName(name_, other.name_);
  CopyName(name2_, other.name2_);
  segments_ = other.segments_;
  return *this;
}

void CSegmentChain::setName(const char* name) { CopyName(name_, name); }
void CSegmentChain::setName2(const char* name) { CopyName(name2_, name); }

CPipPoint CSegmentChain::getPoint(int i) const {
  int n = getCount();
  if (i >= 0 && i < n) return segments_[i].getStart();
  if (i == n && n > 0) return segments_[n - 1].getEnd();
  return CPipPoint();
}

const CSegment& CSegmentChain::getSegment(int i) const {
  return i >= 0 && i < getCount() ? segments_[i] : EmptySegment();
}

int CSegmentChain::get(double* xs, double* ys, int max) const {
  int n = std::min(max, getPointCount());
  for (int i = 0; i < n; ++i) getPoint(i).get(xs[i], ys[i]);
  return std::max(n, 0);
}

bool CSegmentChain::sameSegments(const CSegmentChain& o) const {
  if (segments_.size() != o.segments_.size()) return false;
  for (size_t i = 0; i < segments_.size(); ++i) {
    if (segments_[i] != o.segments_[i]) return false;
  }
  return true;
}

void CSegmentChain::setSegments(const CSegment* segments, int n) {
  reset();
  if (n > 0) segments_.assign(segments, segments + n);
}

void CSegmentChain::setPoints(const CPipPoint* points, int n) {
  reset();
  if (n < 2) return;
  segments_.reserve(n - 1);
  for (int i = 0; i + 1 < n; ++i) segments_.emplace_back(points[i], points[i + 1]);
}

void CSegmentChain::setCoordinates(const double* xs, const double* ys, int n) {
  reset();
  if (n < 2) return;
  segments_.reserve(n - 1);
  for (int i = 0; i + 1 < n; ++i) segments_.emplace_back(xs[i], ys[i], xs[i + 1], ys[i + 1]);
}

CPipPoint CSegmentChain::getNearestPoint(const CSegment& s) const {
  CPipPoint answer(0.0, 0.0);
  double best = DBL_MAX;
  for (const CSegment& mine : segments_) {
    double d = mine.minDistance(s);
    if (d < best) {
      best = d;
      answer = mine.getNearestPoint(s);
    }
  }
  return answer;
}

double CSegmentChain::minDistance(IGeometry* other) const {
  double best = DBL_MAX;
  for (const CSegment& s : segments_)
    best = std::min(best, s.minDistance(other->getNearestPoint(s)));
  return best;
}

double CSegmentChain::maxDistance(IGeometry* other) const {
  double best = DBL_MIN;
  for (const CSegment& s : segments_)
    best = std::max(best, s.maxDistance(other->getNearestPoint(s)));
  return best;
}

double CSegmentChain::minDistance(const CPipPoint& p) const {
  double best = DBL_MAX;
  for (const CSegment& s : segments_) best = std::min(best, s.minDistance(p));
  return best;
}

double CSegmentChain::maxDistance(const CPipPoint& p) const {
  double best = DBL_MIN;
  for (const CSegment& s : segments_) best = std::max(best, s.maxDistance(p));
  return best;
}

// ---------------------------------------------------------------------------
// CLine

void CLine::get(int* xy) const {
  for (int i = 0, n = getPointCount(); i < n; ++i) getPoint(i).getSpatial(xy[2 * i], xy[2 * i + 1]);
}

double CLine::length() const {
  double sum = 0;
  for (const CSegment& s : segments_) sum += s.length();
  return sum;
}

int CLine::isConnected(const CLine& o) const {
  if (getPointCount() < 2 || o.getPointCount() < 2 || getCount() < 1 || o.getCount() < 1) return 0;
  CPipPoint a0 = getStart(), an = getEnd(), b0 = o.getStart(), bm = o.getEnd();
  return a0 == bm || an == b0 || an == bm || a0 == b0;
}

int CLine::connect(const CLine& o) {
  if (!isConnected(o)) return 0;
  int n = getCount(), m = o.getCount();
  CPipPoint a0 = getStart(), an = getEnd(), b0 = o.getStart(), bm = o.getEnd();
  std::vector<CPipPoint> joined;
  joined.reserve(n + m + 1);
  auto mine = [&](int from, int to) {  // points from..to of this line, either way
    for (int i = from; from <= to ? i <= to : i >= to; from <= to ? ++i : --i) {
      joined.push_back(getPoint(i));
    }
  };
  auto theirs = [&](int from, int to) {
    for (int i = from; from <= to ? i <= to : i >= to; from <= to ? ++i : --i) {
      joined.push_back(o.getPoint(i));
    }
  };
  if (a0 == bm) {
    theirs(0, m);
    mine(1, n);
  } else if (an == b0) {
    mine(0, n);
    theirs(1, m);
  } else if (an == bm) {
    mine(0, n);
    theirs(m - 1, 0);
  } else {
    theirs(m, 1);
    mine(0, n);
  }
  set(joined.data(), static_cast<int>(joined.size()));
  return 1;
}

// ---------------------------------------------------------------------------
// CPolygon

bool CPolygon::set(const int* xy, int n) {
  std::vector<double> xs(std::max(n, 0)), ys(std::max(n, 0));
  for (int i = 0; i < n; ++i) {
    CPipPoint p(xy[2 * i], xy[2 * i + 1]);
    xs[i] = p.getX();
    ys[i] = p.getY();
  }
  return set(xs.data(), ys.data(), n);
}

bool CPolygon::set(const double* xs, const double* ys, int n) {
  reset();
  if (n < 1) return true;
  bool closed = xs[0] == xs[n - 1] && ys[0] == ys[n - 1];
  int count = closed ? n - 1 : n;
  segments_.reserve(count);
  for (int i = 0; i < count; ++i) {
    int j = i + 1 < n ? i + 1 : 0;
    segments_.emplace_back(xs[i], ys[i], xs[j], ys[j]);
  }
  return true;
}

bool CPolygon::set(const CPipPoint* points, int n) {
  reset();
  if (n < 1) return true;
  int count = points[0] == points[n - 1] ? n - 1 : n;
  segments_.reserve(count);
  for (int i = 0; i < count; ++i) segments_.emplace_back(points[i], points[i + 1 < n ? i + 1 : 0]);
  return true;
}

bool CPolygon::set(const CSegment* segments, int n) {
  setSegments(segments, n);
  if (n > 0 && segments[0].getStart() != segments[n - 1].getEnd()) {
    segments_.emplace_back(segments[n - 1].getEnd(), segments[0].getStart());
  }
  return true;
}

void CPolygon::get(int* xy) const {
  for (int i = 0, n = getCount(); i < n; ++i) getPoint(i).getSpatial(xy[2 * i], xy[2 * i + 1]);
}

CPipPoint CPolygon::getCentroid() const {
  if (segments_.empty()) return CPipPoint(0.0, 0.0);
  double x = 0, y = 0;
  for (const CSegment& s : segments_) {
    x += s.getStart().getX();
    y += s.getStart().getY();
  }
  double n = static_cast<double>(segments_.size());
  return CPipPoint(x / n, y / n);
}

namespace {

// One contour of the ring's segment starts; the caller owns the vertices.
gpc_vertex_list RingContour(const CPolygon& ring, std::vector<gpc_vertex>& vertices) {
  vertices.clear();
  for (int i = 0; i < ring.getCount(); ++i) {
    const CPipPoint& p = ring.getSegment(i).getStart();
    vertices.push_back({p.getX(), p.getY()});
  }
  return {static_cast<int32_t>(vertices.size()), vertices.data()};
}

}  // namespace

bool CPolygon::combine(const CPolygon& o) {
  if (getCount() < 3 || o.getCount() < 3) return false;
  std::vector<gpc_vertex> mine, theirs;
  gpc_vertex_list a = RingContour(*this, mine), b = RingContour(o, theirs);
  int32_t outer = 0;
  gpc_polygon subject = {1, &outer, &a}, clip = {1, &outer, &b};
  gpc_polygon result;
  gpc_init_polygon(&result);
  gpc_polygon_clip(GPC_UNION, &subject, &clip, &result);
  bool one = result.contour_count == 1;
  if (one) {
    const gpc_vertex_list& ring = result.contour[0];
    std::vector<double> xs(ring.vertex_count), ys(ring.vertex_count);
    for (int i = 0; i < ring.vertex_count; ++i) {
      xs[i] = ring.vertex[i].x;
      ys[i] = ring.vertex[i].y;
    }
    gpc_free_polygon(&result);
    return set(xs.data(), ys.data(), static_cast<int>(xs.size()));
  }
  gpc_free_polygon(&result);
  return false;
}

// ---------------------------------------------------------------------------
// CPartList

template <typename Part>
CPartList<Part>::CPartList(const CPartList& other) : IGeometry(other), parts_(other.parts_) {
  CopyName(name_, other.name_);
  CopyName(name2_, other.name2_);
}

template <typename Part>
CPartList<Part>& CPartList<Part>::operator=(const CPartList& other) {
  if (this == &other) return *this;
  CopyName(name_, other.name_);
  CopyName(name2_, other.name2_);
  parts_ = other.parts_;
  return *this;
}

template <typename Part>
void CPartList<Part>::setName(const char* name) {
  CopyName(name_, name);
}

template <typename Part>
void CPartList<Part>::setName2(const char* name) {
  CopyName(name2_, name);
}

template <typename Part>
const Part& CPartList<Part>::getPart(int i) const {
  static const Part empty;
  return i >= 0 && i < getCount() ? parts_[i] : empty;
}

template <typename Part>
bool CPartList<Part>::set(const Part* parts, int n) {
  reset();
  if (n > 0) parts_.assign(parts, parts + n);
  return true;
}

template <typename Part>
void CPartList<Part>::reset() {
  parts_.clear();
  name_[0] = name2_[0] = '\0';
}

template <typename Part>
int CPartList<Part>::getPointCount() const {
  int sum = 0;
  for (const Part& p : parts_) sum += p.getPointCount();
  return sum;
}

template <typename Part>
bool CPartList<Part>::get(double* xs, double* ys, int* counts, int* parts, int maxPoints,
                          int maxParts) const {
  if (parts) *parts = 0;
  if (maxParts < getCount() || maxPoints < getPointCount()) return false;
  int at = 0;
  for (int i = 0; i < getCount(); ++i) {
    counts[i] = parts_[i].get(xs + at, ys + at, parts_[i].getPointCount());
    at += counts[i];
  }
  if (parts) *parts = getCount();
  return true;
}

template <typename Part>
bool CPartList<Part>::sameParts(const CPartList& o) const {
  if (parts_.size() != o.parts_.size()) return false;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i] != o.parts_[i]) return false;
  }
  return std::strcmp(name_, o.name_) == 0 && std::strcmp(name2_, o.name2_) == 0;
}

template <typename Part>
CPipPoint CPartList<Part>::getNearestPoint(const CSegment& s) const {
  CPipPoint answer(0.0, 0.0);
  double best = DBL_MAX;
  for (const Part& part : parts_) {
    CPipPoint p = part.getNearestPoint(s);
    double d = s.minDistance(p);
    if (d < best) {
      best = d;
      answer = p;
    }
  }
  return answer;
}

template <typename Part>
double CPartList<Part>::minDistance(IGeometry* other) const {
  double best = DBL_MAX;
  for (const Part& part : parts_) best = std::min(best, part.minDistance(other));
  return best;
}

template <typename Part>
double CPartList<Part>::maxDistance(IGeometry* other) const {
  double best = DBL_MIN;
  for (const Part& part : parts_) best = std::max(best, part.maxDistance(other));
  return best;
}

template <typename Part>
double CPartList<Part>::minDistance(const CPipPoint& p) const {
  double best = DBL_MAX;
  for (const Part& part : parts_) best = std::min(best, part.minDistance(p));
  return best;
}

template <typename Part>
double CPartList<Part>::maxDistance(const CPipPoint& p) const {
  double best = DBL_MIN;
  for (const Part& part : parts_) best = std::max(best, part.maxDistance(p));
  return best;
}

template class CPartList<CLine>;
template class CPartList<CPolygon>;

// ---------------------------------------------------------------------------
// CPolyLine and CPolyPolygon

template <typename Part>
template <typename Make>
bool CPartList<Part>::setRuns(const int* counts, int n, Make make) {
  reset();
  for (int i = 0, at = 0; i < n; ++i) {
    int count = std::max(counts[i], 0);
    append(make(at, count));
    at += count;
  }
  return true;
}

template <typename Part>
template <typename CountOf>
void CPartList<Part>::getRuns(int* xy, int* counts, CountOf countOf) const {
  for (int i = 0, at = 0; i < getCount(); ++i) {
    counts[i] = countOf(parts_[i]);
    parts_[i].get(xy + 2 * at);
    at += counts[i];
  }
}

bool CPolyLine::set(const int* xy, const int* counts, int n) {
  std::vector<CPipPoint> points;
  return setRuns(counts, n, [&](int at, int count) {
    points.clear();
    for (int k = 0; k < count; ++k) points.emplace_back(xy[2 * (at + k)], xy[2 * (at + k) + 1]);
    return CLine(points.data(), count);
  });
}

bool CPolyLine::set(const double* xs, const double* ys, const int* counts, int n) {
  return setRuns(counts, n, [&](int at, int count) { return CLine(xs + at, ys + at, count); });
}

void CPolyLine::get(int* xy, int* counts) const {
  getRuns(xy, counts, [](const CLine& line) { return line.getPointCount(); });
}

void CPolyLine::connectLines() {
  if (getCount() < 2) return;
  std::vector<CLine> joined;
  for (int i = 0; i < getCount();) {
    CLine current = parts_[i++];
    while (i < getCount() && current.isConnected(parts_[i])) current.connect(parts_[i++]);
    joined.push_back(std::move(current));
  }
  parts_.swap(joined);
}

bool CPolyPolygon::set(const int* xy, const int* counts, int n) {
  return setRuns(counts, n, [&](int at, int count) { return CPolygon(xy + 2 * at, count); });
}

bool CPolyPolygon::set(const double* xs, const double* ys, const int* counts, int n) {
  return setRuns(counts, n, [&](int at, int count) { return CPolygon(xs + at, ys + at, count); });
}

void CPolyPolygon::get(int* xy, int* counts) const {
  getRuns(xy, counts, [](const CPolygon& ring) { return ring.getCount(); });
}

// ---------------------------------------------------------------------------
// CMbr over lines and polygons

namespace {

void IncludeChain(CMbr& box, const CSegmentChain& chain) {
  for (int i = 0; i < chain.getCount(); ++i) box.includeSegment(chain.getSegment(i));
}

}  // namespace

void CMbr::includeLine(const CLine& line) { IncludeChain(*this, line); }
void CMbr::includePolygon(const CPolygon& polygon) { IncludeChain(*this, polygon); }

void CMbr::includePolyLine(const CPolyLine& lines) {
  for (int i = 0; i < lines.getCount(); ++i) includeLine(lines.getLine(i));
}

void CMbr::includePolyPolygon(const CPolyPolygon& polygons) {
  for (int i = 0; i < polygons.getPartCount(); ++i) includePolygon(polygons.getPolygon(i));
}
