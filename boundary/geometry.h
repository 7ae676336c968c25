// The geometry value classes of Zonelib's class interface: points, segments
// and rectangles in longitude (x) and latitude (y) as degrees, with distances
// in feet on a flat local model of the earth (base/distance_model.h). Which
// latitude's cosine shortens the longitude is part of each operation's
// contract and is stated with it.
//
// Integer ("spatial") form of a coordinate: millionths of a degree, read as
// ceil(value x 1e6 - 0.5) so an exact half goes down (2.5 -> 2, -2.5 -> -3);
// values past the 32-bit range are held at its ends and NaN reads as 0.
//
// Extents (CMbr::overlap, CSegment::overlap) are half-open on each axis:
// boxes that only touch do not overlap, and a zero-width extent overlaps only
// an interval that strictly contains it.
#pragma once

#include <cfloat>
#include <cstdint>

#include "zonelib.h"

class CPipPoint;
class CSegment;
class CPolyLine;
class CPolyPolygon;
class CLine;
class CPolygon;

// The common interface of points, lines and polygons. The distance pair that
// takes another geometry is double dispatch: a point answers with the other
// geometry's distance to itself.
class ZONELIB_CLASS IGeometry {
 public:
  IGeometry() = default;
  IGeometry(const IGeometry&) {}
  IGeometry& operator=(const IGeometry&) { return *this; }

  virtual CPipPoint getNearestPoint(const CSegment& s) const = 0;
  virtual double minDistance(IGeometry* other) const = 0;
  virtual double minDistance(const CPipPoint& p) const = 0;
  virtual double maxDistance(IGeometry* other) const = 0;
  virtual double maxDistance(const CPipPoint& p) const = 0;
  virtual int getPointCount() const = 0;
  virtual int getPartCount() const = 0;
  virtual const char* getName() const = 0;
  virtual const char* getName2() const = 0;
  virtual void setName(const char* name) = 0;
  virtual void setName2(const char* name) = 0;
  virtual ~IGeometry() = default;
};

// Longest name a geometry keeps, without its terminator.
inline constexpr int kGeometryNameMax = 127;

class ZONELIB_CLASS CPipPoint : public IGeometry {
 public:
  CPipPoint() = default;
  CPipPoint(double x, double y) : x_(x), y_(y) {}
  // Millionths of a degree.
  CPipPoint(int x, int y);
  CPipPoint(const CPipPoint& other);
  CPipPoint& operator=(const CPipPoint& other);
  ~CPipPoint() override;

  double getX() const { return x_; }
  double getY() const { return y_; }
  void get(double& x, double& y) const {
    x = x_;
    y = y_;
  }
  void setX(double x) { x_ = x; }
  void setY(double y) { y_ = y; }
  void set(double x, double y) {
    x_ = x;
    y_ = y;
  }

  int getSpatialX() const;
  int getSpatialY() const;
  void getSpatial(int& x, int& y) const;
  void setSpatialX(int x);
  void setSpatialY(int y);
  void setSpatial(int x, int y);

  // Null or "" keeps the name; a longer text keeps its first 127 characters.
  void setName(const char* name) override;
  void setName2(const char* name) override;
  // The name, or "" when there is none.
  const char* getName() const override;
  const char* getName2() const override;

  // Equal coordinates (a NaN never equals) and equal names, where a missing
  // name equals only a missing name. 1 or 0.
  int operator==(const CPipPoint& p) const;
  int operator!=(const CPipPoint& p) const { return !(*this == p); }
  // Coordinates only; the result has no names.
  CPipPoint operator+(const CPipPoint& p) const { return CPipPoint(x_ + p.x_, y_ + p.y_); }
  CPipPoint operator-(const CPipPoint& p) const { return CPipPoint(x_ - p.x_, y_ - p.y_); }
  CPipPoint operator/(double d) const { return CPipPoint(x_ / d, y_ / d); }
  CPipPoint& operator+=(const CPipPoint& p);

  // Coordinates to 0; the names stay.
  void reset();
  double slope(const CPipPoint& p) const { return (y_ - p.y_) / (x_ - p.x_); }
  // Feet to p, with the cosine of this point's latitude.
  double distance(const CPipPoint& p) const;
  double distance(double x, double y) const;
  // |dx| feet at p's latitude plus |dy| feet.
  double manhattanDistance(const CPipPoint& p) const;
  double manhattanDistance(double x, double y) const;

  // A copy of this point, names included.
  CPipPoint getNearestPoint(const CSegment& s) const override;
  double minDistance(IGeometry* other) const override;
  // Feet from p to this point, with the cosine of p's latitude.
  double minDistance(const CPipPoint& p) const override;
  double maxDistance(IGeometry* other) const override;
  double maxDistance(const CPipPoint& p) const override;
  int getPointCount() const override { return 1; }
  int getPartCount() const override { return 1; }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
  char* name_ = nullptr;
  char* name2_ = nullptr;
};

class ZONELIB_CLASS CSegment {
 public:
  CSegment() = default;
  CSegment(const CPipPoint& start, const CPipPoint& end) : start_(start), end_(end) {}
  CSegment(double x1, double y1, double x2, double y2) : start_(x1, y1), end_(x2, y2) {}

  void set(const CPipPoint& start, const CPipPoint& end);
  void set(double x1, double y1, double x2, double y2);
  // Millionths of a degree.
  void set(int x1, int y1, int x2, int y2);
  void setStart(const CPipPoint& p) { start_ = p; }
  void setEnd(const CPipPoint& p) { end_ = p; }
  const CPipPoint& getStart() const { return start_; }
  const CPipPoint& getEnd() const { return end_; }
  void getPoints(CPipPoint& start, CPipPoint& end) const;

  int operator==(const CSegment& s) const { return start_ == s.start_ && end_ == s.end_; }
  int operator!=(const CSegment& s) const { return !(*this == s); }

  CPipPoint getMidpoint() const;
  // Feet from start to end, with the cosine of the start's latitude.
  double length() const { return start_.distance(end_); }
  double slope() const;
  double deltaX() const;
  double deltaY() const;
  bool isHorizontal() const { return start_.getY() == end_.getY(); }
  bool isVertical() const { return start_.getX() == end_.getX(); }
  void reset();

  // The two extents overlap (half-open, see the file comment).
  bool overlap(const CSegment& s) const;
  // 1 when the segments meet. Parallel or collinear segments whose extents
  // overlap count as meeting; degenerate segments (both deltas below
  // DBL_EPSILON) never do.
  int intersect(const CSegment& s) const;
  // As above without the degenerate test; at = the meeting point (this
  // segment's end when parallel; the point on this segment's line, set
  // whatever the result, otherwise; (0, 0) when the extents are apart).
  int intersect(const CSegment& s, CPipPoint& at) const;
  // The infinite lines: 1 with the meeting point in at, 0 for parallel lines
  // (at untouched); coincident lines give this segment's end.
  int lineIntersection(const CSegment& s, CPipPoint& at) const;
  // The projection parameter of p (0 at the start, 1 at the end) in feet at
  // p's latitude over the squared length; 0 for a segment of zero length.
  double getR(const CPipPoint& p) const;

  CPipPoint getNearestPoint(const CPipPoint& p) const;
  CPipPoint getNearestPoint(const CSegment& s) const;
  double minDistance(const CPipPoint& p) const;
  double maxDistance(const CPipPoint& p) const;
  double minDistance(const CSegment& s) const;
  double maxDistance(const CSegment& s) const;

 private:
  CPipPoint start_;
  CPipPoint end_;
};

class ZONELIB_CLASS CMbr {
 public:
  // The empty box: lower-left (DBL_MAX, DBL_MAX), upper-right (-DBL_MAX, -DBL_MAX).
  CMbr();
  CMbr(const CPipPoint& a, const CPipPoint& b);
  CMbr(double x1, double y1, double x2, double y2);
  CMbr(const CPipPoint& centre, double width, double height);
  // A box reaching radius feet from centre along both axes.
  CMbr(const CPipPoint& centre, int radius);
  CMbr(const CMbr& other) = default;
  CMbr& operator=(const CMbr& other) = default;
  virtual ~CMbr() = default;

  int operator==(const CMbr& o) const {
    return lowerLeft_ == o.lowerLeft_ && upperRight_ == o.upperRight_;
  }
  int operator!=(const CMbr& o) const { return !(*this == o); }

  const CPipPoint& getLowerLeft() const { return lowerLeft_; }
  const CPipPoint& getUpperRight() const { return upperRight_; }
  CSegment getTop() const;
  CSegment getBottom() const;
  CSegment getLeft() const;
  CSegment getRight() const;
  CPipPoint getCenter() const;
  double getWidth() const { return upperRight_.getX() - lowerLeft_.getX(); }
  double getHeight() const { return upperRight_.getY() - lowerLeft_.getY(); }

  void includePoint(const CPipPoint& p);
  void includeMbr(const CMbr& o);
  void includeSegment(const CSegment& s);
  // Every segment of the line or ring (polygon.cpp).
  void includeLine(const CLine& line);
  void includePolygon(const CPolygon& polygon);
  // Every line, every polygon.
  void includePolyLine(const CPolyLine& lines);
  void includePolyPolygon(const CPolyPolygon& polygons);
  void grow(double dx, double dy);
  // Scales width and height by f about the box (grows by the difference).
  void grow(double f);
  void reset();

  bool overlap(const CMbr& o) const;
  bool isAbove(const CMbr& o) const { return lowerLeft_.getY() > o.upperRight_.getY(); }
  bool isBelow(const CMbr& o) const { return o.lowerLeft_.getY() > upperRight_.getY(); }
  bool isLeftOf(const CMbr& o) const { return o.lowerLeft_.getX() > upperRight_.getX(); }
  bool isRightOf(const CMbr& o) const { return lowerLeft_.getX() > o.upperRight_.getX(); }
  // Between facing edges; 0 for boxes that overlap or touch.
  double minDistance(const CMbr& o) const;
  // Between the far edges of boxes that lie apart; 0 otherwise.
  double maxDistance(const CMbr& o) const;

 private:
  CPipPoint lowerLeft_;
  CPipPoint upperRight_;
};
