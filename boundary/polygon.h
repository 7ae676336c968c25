// Lines and polygons of Zonelib's class interface: CLine (an open chain of
// segments), CPolygon (a closed ring of segments), CPolyLine (a list of
// lines) and CPolyPolygon (a list of polygons). Coordinates are degrees,
// distances feet (geometry.h); the integer forms take and give millionths of
// a degree. All four are values: copying copies every segment.
//
// Point i of a line or ring is the start of segment i, and the point count is
// the segment count + 1, the last point being the end of the last segment; a
// ring's point list therefore repeats its first vertex at the end. Indexes
// past the end (or into an empty chain) give an empty point or segment
// instead of reading outside the chain.
//
// Names: at most 127 characters are kept; a null name changes nothing.
#pragma once

#include <cfloat>
#include <vector>

#include "boundary/geometry.h"

// What CLine and CPolygon share: the segments, the names, access to points
// and the distance rules of a chain.
class ZONELIB_CLASS CSegmentChain : public IGeometry {
 public:
  CSegmentChain() = default;
  CSegmentChain(const CSegmentChain& other);
  CSegmentChain& operator=(const CSegmentChain& other);

  // The first segment this chain has that is nearest to s (segment to
  // segment), and on it the point nearest to s; (0, 0) when it has none.
  CPipPoint getNearestPoint(const CSegment& s) const override;
  // Over the segments, with other's nearest point to each (DBL_MAX, or
  // DBL_MIN for the largest, when there are none).
  double minDistance(IGeometry* other) const override;
  // Feet from p to the nearest segment; a point inside a ring is measured to
  // its border.
  double minDistance(const CPipPoint& p) const override;
  double maxDistance(IGeometry* other) const override;
  double maxDistance(const CPipPoint& p) const override;
  int getPointCount() const override { return static_cast<int>(segments_.size()) + 1; }
  int getPartCount() const override { return 1; }
  const char* getName() const override { return name_; }
  const char* getName2() const override { return name2_; }
  void setName(const char* name) override;
  void setName2(const char* name) override;

  int getCount() const { return static_cast<int>(segments_.size()); }
  // Point i; i = getCount() gives the end of the last segment.
  CPipPoint getPoint(int i) const;
  const CSegment& getSegment(int i) const;
  CPipPoint getStart() const { return getPoint(0); }
  CPipPoint getEnd() const { return getPoint(getCount()); }
  // The first min(max, point count) points; returns how many were written.
  int get(double* xs, double* ys, int max) const;
  // Frees the segments; the names stay.
  void reset() { segments_.clear(); }

 protected:
  // Equal segment counts and equal segments (names of their ends included);
  // the chains' own names are not compared.
  bool sameSegments(const CSegmentChain& o) const;
  void setSegments(const CSegment* segments, int n);
  // n - 1 segments between consecutive points.
  void setPoints(const CPipPoint* points, int n);
  void setCoordinates(const double* xs, const double* ys, int n);

  std::vector<CSegment> segments_;
  char name_[kGeometryNameMax + 1] = "";
  char name2_[kGeometryNameMax + 1] = "";
};

class ZONELIB_CLASS CLine : public CSegmentChain {
 public:
  CLine() = default;
  CLine(const CSegment* segments, int n) { set(segments, n); }
  CLine(const CPipPoint* points, int n) { set(points, n); }
  CLine(const double* xs, const double* ys, int n) { set(xs, ys, n); }

  // Each replaces the segments: copies of n segments, or n - 1 segments
  // between consecutive points (one point or none gives an empty line).
  void set(const CSegment* segments, int n) { setSegments(segments, n); }
  void set(const CPipPoint* points, int n) { setPoints(points, n); }
  void set(const double* xs, const double* ys, int n) { setCoordinates(xs, ys, n); }
  // Point count pairs of millionths: the segment starts, then the last end.
  void get(int* xy) const;
  using CSegmentChain::get;

  // Sum of the segment lengths, in feet.
  double length() const;
  // 1 when both lines have 2 points or more and an end of this line equals
  // (as points, names included) an end of o.
  int isConnected(const CLine& o) const;
  // Joins o into this line at the shared end: after this line when its end
  // meets o, before it when its start does, o reversed where needed. Two
  // lines that share their starts run from o's far end through the shared
  // point to this line's far end. 1 when joined, 0 when not connected.
  int connect(const CLine& o);

  int operator==(const CLine& o) const { return sameSegments(o); }
  int operator!=(const CLine& o) const { return !sameSegments(o); }
};

class ZONELIB_CLASS CPolygon : public CSegmentChain {
 public:
  CPolygon() = default;
  CPolygon(const CSegment* segments, int n) { set(segments, n); }
  CPolygon(const CPipPoint* points, int n) { set(points, n); }
  CPolygon(const double* xs, const double* ys, int n) { set(xs, ys, n); }
  // Pairs of millionths.
  CPolygon(const int* xy, int n) { set(xy, n); }

  // The closing rule: when the first and last points are equal (for points,
  // names included) the ring has n - 1 segments between consecutive points;
  // otherwise n, the last closing back to the first point. True.
  bool set(const int* xy, int n);
  bool set(const double* xs, const double* ys, int n);
  bool set(const CPipPoint* points, int n);
  // Copies of the segments, and a closing segment from the last end to the
  // first start when they differ. True.
  bool set(const CSegment* segments, int n);
  // One pair of millionths per segment start: the ring without its repeat.
  void get(int* xy) const;
  using CSegmentChain::get;

  // The mean of the segment starts (the vertex average); (0, 0) when empty.
  CPipPoint getCentroid() const;
  // Replaces this ring by its union with o when both have 3 segments or more
  // and the union is one ring; otherwise false and this ring is unchanged.
  bool combine(const CPolygon& o);

  bool operator==(const CPolygon& o) const { return sameSegments(o); }
  bool operator!=(const CPolygon& o) const { return !sameSegments(o); }
};

// What CPolyLine and CPolyPolygon share: a list of parts and two names.
template <typename Part>
class ZONELIB_CLASS CPartList : public IGeometry {
 public:
  CPartList() = default;
  CPartList(const CPartList& other);
  CPartList& operator=(const CPartList& other);

  // The nearest point of the part that lies strictly nearest to s (the first
  // part on ties); (0, 0) without parts.
  CPipPoint getNearestPoint(const CSegment& s) const override;
  // Over every segment of every part, as for a single chain.
  double minDistance(IGeometry* other) const override;
  // The smallest (largest) of the parts' own distances to p.
  double minDistance(const CPipPoint& p) const override;
  double maxDistance(IGeometry* other) const override;
  double maxDistance(const CPipPoint& p) const override;
  // The sum of the parts' point counts.
  int getPointCount() const override;
  int getPartCount() const override { return getCount(); }
  const char* getName() const override { return name_; }
  const char* getName2() const override { return name2_; }
  void setName(const char* name) override;
  void setName2(const char* name) override;

  int getCount() const { return static_cast<int>(parts_.size()); }
  // Part i (an empty part past the end).
  const Part& getPart(int i) const;
  // Replaces the parts by copies of n parts (n < 1 leaves none) and empties
  // the names; true.
  bool set(const Part* parts, int n);
  // Each part's points one run after another, counts[i] its point count and
  // *parts the number of parts; false, with *parts 0, when there are more
  // parts than maxParts or more points than maxPoints.
  bool get(double* xs, double* ys, int* counts, int* parts, int maxPoints, int maxParts) const;
  // Frees the parts and empties both names.
  void reset();

  // Equal part counts, equal parts and equal names.
  bool sameParts(const CPartList& o) const;

 protected:
  void append(const Part& part) { parts_.push_back(part); }
  // Replaces the parts by n parts, part i made by make(first point, counts[i]).
  template <typename Make>
  bool setRuns(const int* counts, int n, Make make);
  // counts[i] = countOf(part i), then part i's get(int*) output, run after run.
  template <typename CountOf>
  void getRuns(int* xy, int* counts, CountOf countOf) const;

  std::vector<Part> parts_;
  char name_[kGeometryNameMax + 1] = "";
  char name2_[kGeometryNameMax + 1] = "";
};

extern template class CPartList<CLine>;
extern template class CPartList<CPolygon>;

class ZONELIB_CLASS CPolyLine : public CPartList<CLine> {
 public:
  CPolyLine() = default;
  CPolyLine(const CLine* lines, int n) { set(lines, n); }
  CPolyLine(const double* xs, const double* ys, const int* counts, int n) {
    set(xs, ys, counts, n);
  }
  CPolyLine(const int* xy, const int* counts, int n) { set(xy, counts, n); }

  using CPartList<CLine>::set;
  // Replaces the parts (and empties the names): line i from the next
  // counts[i] points of the runs (pairs of millionths, or the coordinate
  // arrays). True.
  bool set(const int* xy, const int* counts, int n);
  bool set(const double* xs, const double* ys, const int* counts, int n);
  // counts[i] = line i's point count, then its points as pairs of millionths.
  void get(int* xy, int* counts) const;
  using CPartList<CLine>::get;

  bool addLine(const CLine& line) {
    append(line);
    return true;
  }
  const CLine& getLine(int i) const { return getPart(i); }
  // Joins each run of lines that connect one to the next into one line.
  void connectLines();

  bool operator==(const CPolyLine& o) const { return sameParts(o); }
  bool operator!=(const CPolyLine& o) const { return !sameParts(o); }
};

class ZONELIB_CLASS CPolyPolygon : public CPartList<CPolygon> {
 public:
  CPolyPolygon() = default;
  CPolyPolygon(const CPolygon* polygons, int n) { set(polygons, n); }
  CPolyPolygon(const double* xs, const double* ys, const int* counts, int n) {
    set(xs, ys, counts, n);
  }
  CPolyPolygon(const int* xy, const int* counts, int n) { set(xy, counts, n); }

  using CPartList<CPolygon>::set;
  // Replaces the parts (and empties the names): polygon i from the next
  // counts[i] points of the runs by the closing rule. True.
  bool set(const int* xy, const int* counts, int n);
  bool set(const double* xs, const double* ys, const int* counts, int n);
  // counts[i] = polygon i's segment count, then its distinct vertices as
  // pairs of millionths.
  void get(int* xy, int* counts) const;
  using CPartList<CPolygon>::get;

  bool addPolygon(const CPolygon& polygon) {
    append(polygon);
    return true;
  }
  const CPolygon& getPolygon(int i) const { return getPart(i); }

  bool operator==(const CPolyPolygon& o) const { return sameParts(o); }
  bool operator!=(const CPolyPolygon& o) const { return !sameParts(o); }
};
