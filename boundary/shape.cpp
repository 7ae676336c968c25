#include "boundary/shape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "boundary/polygon.h"
#include "gpc.h"
#include "zonelib.h"

// ---------------------------------------------------------------------------
// Collections

template <typename T>
CValueCollection<T>::CValueCollection(int capacity) : capacity_(std::max(capacity, 0)) {
  if (capacity_ > 0) items_ = new T[capacity_]();
}

template <typename T>
CValueCollection<T>::CValueCollection(const CValueCollection& other)
    : count_(other.count_), capacity_(other.capacity_), cursor_(other.cursor_) {
  if (capacity_ > 0) {
    items_ = new T[capacity_]();
    std::copy(other.items_, other.items_ + count_, items_);
  }
}

template <typename T>
CValueCollection<T>& CValueCollection<T>::operator=(const CValueCollection& other) {
  if (this == &other) return *this;
  if (other.capacity_ > capacity_) {
    T* larger = new T[other.capacity_]();
    delete[] items_;
    items_ = larger;
    capacity_ = other.capacity_;
  }
  count_ = other.count_;
  cursor_ = other.cursor_;
  std::copy(other.items_, other.items_ + count_, items_);
  std::fill(items_ + count_, items_ + capacity_, T());
  return *this;
}

template <typename T>
int CValueCollection<T>::add(T value) {
  if (count_ == capacity_) {
    int larger = capacity_ > 0 ? capacity_ * 2 : 1;
    T* grown = new T[larger]();
    std::copy(items_, items_ + count_, grown);
    delete[] items_;
    items_ = grown;
    capacity_ = larger;
  }
  items_[count_++] = value;
  return 1;
}

template <typename T>
int CValueCollection<T>::getCurrent(T& value) const {
  if (cursor_ < 0 || cursor_ >= count_) return 0;
  value = items_[cursor_];
  return 1;
}

template class CValueCollection<double>;
template class CValueCollection<int32_t>;

// ---------------------------------------------------------------------------
// CGsbShape

void CGsbShape::setGeometry(IGeometry* geometry) {
  if (geometry != geometry_.get()) geometry_.reset(geometry);
}

int CGsbShape::get(int what, int* value) const {
  if (!geometry_ || !value) return 0;
  switch (what) {
    case GSB_SHAPE_TYPE:
      *value = type_;
      return 1;
    case GSB_SHAPE_PART_COUNT:
      *value = geometry_->getPartCount();
      return 1;
    case GSB_SHAPE_POINT_COUNT:
      *value = geometry_->getPointCount();
      return 1;
  }
  return 0;
}

int CGsbShape::get(int what, char* buffer, int size) const {
  if (!geometry_ || !buffer || size < 1) return 0;
  if (what == GSB_SHAPE_NAME || what == GSB_SHAPE_NAME2) {
    const char* text = what == GSB_SHAPE_NAME ? geometry_->getName() : geometry_->getName2();
    size_t n = strnlen(text, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return 1;
  }
  // Other codes answer a number 0.0, cut to the buffer so it never spills.
  std::memset(buffer, 0, std::min(static_cast<size_t>(size), sizeof(double)));
  return 0;
}

// ---------------------------------------------------------------------------
// Factories

namespace {

// Allocation failures become a null object: nothing may leave a C call.
template <typename T, typename... Args>
T* Make(Args... args) {
  try {
    return new T(args...);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

ZONELIB_API CGsbShape* makeGsbShape(void) { return Make<CGsbShape>(); }
ZONELIB_API CPolyPolygon* makePolyPolygon(void) { return Make<CPolyPolygon>(); }
ZONELIB_API CPolyLine* makePolyLine(void) { return Make<CPolyLine>(); }
ZONELIB_API CPipPoint* makePipPoint(void) { return Make<CPipPoint>(); }
ZONELIB_API CPipPoint* makePipPointXY(double x, double y) { return Make<CPipPoint>(x, y); }

ZONELIB_API CPolyLine* makePolyLineXY(const double* xs, const double* ys, const int* counts,
                                      int parts) {
  if (parts > 0 && (!xs || !ys || !counts)) return nullptr;
  return Make<CPolyLine>(xs, ys, counts, parts);
}

// ---------------------------------------------------------------------------
// Converters

namespace {

// A record of count contours with hole flags 0 and empty vertex lists; false,
// with the record empty, when memory runs out.
bool AllocateContours(gpc_polygon* out, int count) {
  gpc_init_polygon(out);
  if (count <= 0) return true;
  out->hole = static_cast<int32_t*>(std::calloc(count, sizeof(int32_t)));
  if (!out->hole) return false;
  out->contour = static_cast<gpc_vertex_list*>(std::calloc(count, sizeof(gpc_vertex_list)));
  if (!out->contour) {
    gpc_free_polygon(out);
    return false;
  }
  out->contour_count = count;
  return true;
}

// Fills contour c with n points from point(i); false, with the record
// emptied, when memory runs out.
template <typename PointAt>
bool FillContour(gpc_polygon* out, int c, int n, PointAt point) {
  gpc_vertex_list& list = out->contour[c];
  if (n > 0) {
    list.vertex = static_cast<gpc_vertex*>(std::malloc(sizeof(gpc_vertex) * size_t(n)));
    if (!list.vertex) {
      gpc_free_polygon(out);
      return false;
    }
  }
  for (int i = 0; i < n; ++i) {
    CPipPoint p = point(i);
    list.vertex[i] = {p.getX(), p.getY()};
  }
  list.vertex_count = std::max(n, 0);
  return true;
}

}  // namespace

ZONELIB_API void gdlPolyPolyToGpcPoly(const CPolyPolygon* polygons, gpc_polygon* out) {
  if (!out) return;
  int count = polygons ? polygons->getCount() : 0;
  if (!AllocateContours(out, count)) return;
  for (int c = 0; c < count; ++c) {
    const CPolygon& ring = polygons->getPolygon(c);
    if (!FillContour(out, c, ring.getCount(), [&](int i) { return ring.getPoint(i); })) return;
  }
}

ZONELIB_API void gdlPolyToGpcPoly(const CSegmentChain* chain, gpc_polygon* out) {
  if (!out) return;
  if (!chain) {
    gpc_init_polygon(out);
    return;
  }
  if (!AllocateContours(out, 1)) return;
  FillContour(out, 0, chain->getPointCount(), [&](int i) { return chain->getPoint(i); });
}

ZONELIB_API void gpcPolyToGdlPoly(const gpc_polygon* polygon, CPolyPolygon* out) {
  if (!out) return;
  out->reset();
  if (!polygon || polygon->contour_count <= 0 || !polygon->contour) return;
  try {
    std::vector<double> xs, ys;
    std::vector<int> counts;
    for (int c = 0; c < polygon->contour_count; ++c) {
      const gpc_vertex_list& list = polygon->contour[c];
      int n = list.vertex ? std::max(list.vertex_count, 0) : 0;
      for (int i = 0; i < n; ++i) {
        xs.push_back(list.vertex[i].x);
        ys.push_back(list.vertex[i].y);
      }
      counts.push_back(n);
    }
    out->set(xs.data(), ys.data(), counts.data(), static_cast<int>(counts.size()));
  } catch (const std::bad_alloc&) {
    out->reset();
  }
}

// ---------------------------------------------------------------------------
// Shape functions

namespace {

constexpr int32_t kNotAPointShape = -3;

// Feet truncated to a whole number that fits the result.
int32_t Truncated(double feet) {
  if (!(feet < 2147483647.0)) return 2147483647;
  return static_cast<int32_t>(feet);
}

const CPipPoint* PointOf(const CGsbShape* shape) {
  if (!shape || shape->getType() != kShapePoint) return nullptr;
  return dynamic_cast<const CPipPoint*>(shape->getGeometry());
}

template <typename Measure>
int32_t PointDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance, Measure measure) {
  const CPipPoint* p = PointOf(a);
  const CPipPoint* q = PointOf(b);
  if (!p || !q || !distance) return kNotAPointShape;
  *distance = Truncated(measure(*p, *q));
  return 1;
}

template <typename Measure>
int32_t GeometryDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance,
                         Measure measure) {
  if (!a || !b || !a->getGeometry() || !b->getGeometry()) {
    if (distance) *distance = 0;
    return -1;
  }
  if (!distance) return -1;
  *distance = Truncated(measure(*a->getGeometry(), b->getGeometry()));
  return 1;
}

}  // namespace

ZONELIB_API int32_t gsbShapeGetStr(const CGsbShape* shape, int32_t which, char* buffer,
                                   int32_t size) {
  if (!shape || !buffer || size < 1) return -1;
  return shape->get(which, buffer, size) == 1 ? 1 : 0;
}

ZONELIB_API int32_t gsbShapeFree(CGsbShape** shape) {
  if (shape && *shape) {
    delete *shape;
    *shape = nullptr;
  }
  return 1;
}

ZONELIB_API int32_t gsbDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance) {
  return PointDistance(a, b, distance,
                       [](const CPipPoint& p, const CPipPoint& q) { return p.distance(q); });
}

ZONELIB_API int32_t gsbManhattanDistance(const CGsbShape* a, const CGsbShape* b,
                                         int32_t* distance) {
  return PointDistance(a, b, distance, [](const CPipPoint& p, const CPipPoint& q) {
    return p.manhattanDistance(q);
  });
}

ZONELIB_API int32_t gsbNearDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance) {
  return GeometryDistance(a, b, distance,
                          [](const IGeometry& g, IGeometry* o) { return g.minDistance(o); });
}

ZONELIB_API int32_t gsbFarDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance) {
  return GeometryDistance(a, b, distance,
                          [](const IGeometry& g, IGeometry* o) { return g.maxDistance(o); });
}
