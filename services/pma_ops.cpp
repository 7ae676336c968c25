#include "services/pma_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/qerror.h"
#include "boundary/import.h"
#include "boundary/mainintn.h"
#include "zonelib.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kMilesPerDegree = 69.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kLongitudeLimit = 180000000.0;
constexpr double kLatitudeLimit = 90000000.0;
// cos(latitude) is held above this, so nothing divides by 0 at a pole.
constexpr double kMinXScale = 1e-9;

constexpr const char* kSourceInter = "pmainter";
constexpr const char* kOpenErrorFormat = "Error opening %s - err = %d \n";
constexpr const char* kObjectNameFormat = "PMA %s %s";
constexpr const char* kNoCustomerArrayText = "customer list not allocated";

constexpr const char* kLevelTexts[3][3] = {
    {"PR", "SR", "TR"}, {"PT", "ST", "TT"}, {"PC", "SC", "ST"}};
constexpr const char* kBadLevelTexts[3] = {"Ring polygon - bad radius values.",
                                           "Thiessen polygon - bad radius values.",
                                           "Convex hull polygon - bad threshold values."};

int32_t HeldToInt32(double v) {
  if (!(v > double(INT32_MIN))) return INT32_MIN;
  if (v >= double(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

double Radians(double millionths) { return millionths / 1e6 * kRadiansPerDegree; }
double Millionths(double radians) { return radians * 1e6 * kDegreesPerRadian; }
double MilesToMillionths(double miles) { return std::trunc(miles / kMilesPerDegree * 1e6); }

// cos(latitude), the latitude held to the poles and the result above 0.
double XScaleAt(int32_t latitude) {
  const double held = std::clamp(double(latitude), -kLatitudeLimit, kLatitudeLimit);
  return std::max(std::fabs(std::cos(Radians(held))), kMinXScale);
}

int32_t GeoX(double millionths) {
  return int32_t(std::trunc(std::clamp(millionths, -kLongitudeLimit, kLongitudeLimit)));
}
int32_t GeoY(double millionths) {
  return int32_t(std::trunc(std::clamp(millionths, -kLatitudeLimit, kLatitudeLimit)));
}

int32_t CheckSegmentsAndRadius(int32_t segments, double radius) {
  if (segments < kPmaMinSegments) return -1;
  if (segments > kPmaMaxSegments) return -2;
  if (radius < 0) return -3;
  return 1;
}

// ---- Half-planes of perpendicular bisectors ------------------------------------

struct DPoint {
  double x;
  double y;
};

// The side of the bisector between the store s and a neighbour n that holds
// the store; points on the line are inside.
class Bisector {
 public:
  Bisector(DPoint s, DPoint n) {
    const double dx = n.x - s.x, dy = n.y - s.y;
    mx_ = (s.x + n.x) / 2;
    my_ = (s.y + n.y) / 2;
    if (dx == 0 && dy == 0) {
      kind_ = kNone;
    } else if (dx == 0) {
      kind_ = kHorizontal;
      upper_ = s.y > my_;
    } else if (dy == 0) {
      kind_ = kVertical;
      upper_ = s.x > mx_;
    } else {
      kind_ = kSloped;
      m_ = -dx / dy;
      b_ = my_ - m_ * mx_;
      upper_ = Value(s) > 0;
    }
  }

  bool Inside(DPoint p) const {
    switch (kind_) {
      case kNone:
        return true;
      case kHorizontal:
        return upper_ ? p.y >= my_ : p.y <= my_;
      case kVertical:
        return upper_ ? p.x >= mx_ : p.x <= mx_;
      case kSloped:
        return upper_ ? Value(p) >= 0 : Value(p) <= 0;
    }
    return true;
  }

  // Where the line crosses the edge a-b within the edge's box (ends
  // included); false when parallel or outside.
  bool Crossing(DPoint a, DPoint b, DPoint* c) const {
    double t;
    switch (kind_) {
      case kNone:
        return false;
      case kHorizontal:
        if (a.y == b.y) return false;
        t = (my_ - a.y) / (b.y - a.y);
        break;
      case kVertical:
        if (a.x == b.x) return false;
        t = (mx_ - a.x) / (b.x - a.x);
        break;
      default: {
        const double va = Value(a), vb = Value(b);
        if (va == vb) return false;
        t = va / (va - vb);
        break;
      }
    }
    DPoint p{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
    if (kind_ == kHorizontal) p.y = my_;
    if (kind_ == kVertical) p.x = mx_;
    // Rounding may carry a crossing at an end a hair past the box.
    const double slack = 1e-9 * (1 + std::fabs(a.x) + std::fabs(a.y) + std::fabs(b.x) +
                                 std::fabs(b.y));
    const double x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
    const double y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
    if (!(p.x >= x0 - slack && p.x <= x1 + slack && p.y >= y0 - slack && p.y <= y1 + slack))
      return false;
    c->x = std::clamp(p.x, x0, x1);
    c->y = std::clamp(p.y, y0, y1);
    return true;
  }

 private:
  enum Kind { kNone, kHorizontal, kVertical, kSloped };
  double Value(DPoint p) const { return m_ * p.x + b_ - p.y; }

  Kind kind_ = kNone;
  bool upper_ = false;
  double mx_ = 0, my_ = 0, m_ = 0, b_ = 0;
};

// One pass of the polygon against one half-plane, into out.
void ClipByBisector(const std::vector<DPoint>& in, const Bisector& line,
                    std::vector<DPoint>* out) {
  out->clear();
  const size_t k = in.size();
  if (k == 0) return;
  const bool firstIn = line.Inside(in[0]);
  if (firstIn) out->push_back(in[0]);
  bool previous = firstIn;
  for (size_t i = 1; i < k; ++i) {
    bool inside = line.Inside(in[i]);
    if (inside != previous) {
      DPoint c;
      if (line.Crossing(in[i - 1], in[i], &c)) {
        out->push_back(c);
        if (inside) out->push_back(in[i]);
      } else {
        if (!previous) out->push_back(in[i - 1]);
        out->push_back(in[i]);
        inside = true;
      }
    } else if (inside) {
      out->push_back(in[i]);
    }
    previous = inside;
  }
  if (k > 1 && previous != firstIn) {
    DPoint c;
    if (line.Crossing(in[0], in[k - 1], &c)) {
      out->push_back(c);
    } else {
      if (!previous) out->push_back(in[k - 1]);
      if (!firstIn) out->push_back(in[0]);
    }
  }
}

// Whether the whole point q (the store's own frame) lies on the store's side
// of the bisector towards n (the x-scaled frame). Plane coordinates are
// decided exactly; geographic ones through the scale, in doubles.
bool OnStoreSide(int32_t x, int32_t y, double xScale, bool geographic, int32_t qx, int32_t qy,
                 const PmaStoreEntry& n) {
  if (!geographic) {
    const __int128 ax = int64_t(qx) - x, ay = int64_t(qy) - y;
    const __int128 nx = int64_t(n.x) - x, ny = int64_t(n.y) - y;
    return 2 * (ax * nx + ay * ny) <= nx * nx + ny * ny;
  }
  const double ax = (double(qx) - x) * xScale, ay = double(qy) - y;
  const double nx = double(n.x) - x, ny = double(n.y) - y;
  return 2 * (ax * nx + ay * ny) <= nx * nx + ny * ny;
}

// The truncation first (the plain result), then the whole points around
// the vertex nearest first. Where bisectors meet at a sharp angle none of
// those may lie on the store's side of every one of them; the vertex is then
// drawn towards the store, which lies inside them all, a unit, two, four and
// so on at a time, until a whole point next to it does. So every vertex of
// the area is kept: dropping one could leave fewer than three and lose the
// store's area altogether.
PmaPoint RoundInside(int32_t x, int32_t y, double xScale, bool geographic, double px, double py,
                     const std::vector<PmaStoreEntry>& neighbours) {
  auto fits = [&](int32_t qx, int32_t qy) {
    for (const PmaStoreEntry& n : neighbours)
      if (!OnStoreSide(x, y, xScale, geographic, qx, qy, n)) return false;
    return true;
  };
  const int32_t tx = geographic ? GeoX(px) : HeldToInt32(px);
  const int32_t ty = geographic ? GeoY(py) : HeldToInt32(py);
  if (fits(tx, ty)) return {tx, ty};
  const double distance = std::hypot(px - x, py - y);
  for (double pull = 0; pull < distance; pull = pull == 0 ? 1 : 2 * pull) {
    const double t = pull / distance;
    const double cx = px + t * (x - px), cy = py + t * (y - py);
    const double fx = std::floor(cx), fy = std::floor(cy);
    DPoint candidates[4] = {{fx, fy}, {fx + 1, fy}, {fx, fy + 1}, {fx + 1, fy + 1}};
    std::sort(std::begin(candidates), std::end(candidates), [&](DPoint a, DPoint b) {
      return std::hypot(a.x - cx, a.y - cy) < std::hypot(b.x - cx, b.y - cy);
    });
    for (const DPoint& c : candidates) {
      const int32_t qx = geographic ? GeoX(c.x) : HeldToInt32(c.x);
      const int32_t qy = geographic ? GeoY(c.y) : HeldToInt32(c.y);
      if (fits(qx, qy)) return {qx, qy};
    }
  }
  return {x, y};
}

// Whether store j is a neighbour of the store at (x, y); fills its entry
// in the x-scaled frame.
bool NeighbourTest(const PmaStoreEntry& s, int32_t x, int32_t y, double xScale, double reach,
                   PmaStoreEntry* kept) {
  const double dx = double(int64_t(s.x) - x) * xScale;
  const double dy = double(int64_t(s.y) - y);
  if (std::fabs(dx) > reach || std::fabs(dy) > reach) return false;
  if (dx * dx + dy * dy > reach * reach) return false;
  if (dx == 0 && dy == 0) return false;
  *kept = {HeldToInt32(std::trunc(x + dx)), s.y, s.number};
  return true;
}

double ReachOf(bool geographic, double radius) {
  return 2 * (geographic ? MilesToMillionths(radius) : radius);
}

}  // namespace

// ---- Rings -------------------------------------------------------------------

int32_t PmaRingOperation(int32_t x, int32_t y, int32_t segments, bool geographic, double radius,
                         PmaPointList* out) {
  out->clear();
  const int32_t check = CheckSegmentsAndRadius(segments, radius);
  if (check != 1) return check;
  if (radius == 0) return 1;
  const double step = kTwoPi / segments;
  out->reserve(size_t(segments));
  if (geographic) {
    const double lon0 = Radians(x), lat0 = Radians(y);
    const double dlat = radius / kMilesPerDegree * kRadiansPerDegree;
    // Near a pole the ring reaches round every longitude, no further.
    const double dlon = std::min(dlat / XScaleAt(y), kPi);
    for (int32_t i = 0; i < segments; ++i) {
      const double a = step / 2 + i * step;
      out->push_back({GeoX(Millionths(lon0 + std::cos(a) * dlon)),
                      GeoY(Millionths(lat0 + std::sin(a) * dlat))});
    }
    return 1;
  }
  for (int32_t i = 0; i < segments; ++i) {
    const double a = step / 2 + i * step;
    out->push_back({HeldToInt32(std::trunc(std::cos(a) * radius + x)),
                    HeldToInt32(std::trunc(std::sin(a) * radius + y))});
  }
  return 1;
}

// ---- Neighbours --------------------------------------------------------------

bool PmaNeighbourIndex::Build(const PmaStoreEntry* stores, size_t count, bool geographic,
                              double radius) {
  stores_ = stores;
  count_ = count;
  geographic_ = geographic;
  reach_ = ReachOf(geographic, radius);
  cell_ = std::max(reach_, 1.0);
  try {
    cells_.resize(count);
    skipped_.assign(count, 0);
  } catch (const std::bad_alloc&) {
    cells_.clear();
    skipped_.clear();
    count_ = 0;
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    cells_[i] = {int64_t(std::floor(stores[i].y / cell_)),
                 int64_t(std::floor(stores[i].x / cell_)), uint32_t(i), stores[i].x,
                 stores[i].y};
    if (i > 0 && stores[i].x == stores[i - 1].x && stores[i].y == stores[i - 1].y)
      skipped_[i] = 1;
  }
  std::sort(cells_.begin(), cells_.end(), [](const Cell& a, const Cell& b) {
    if (a.row != b.row) return a.row < b.row;
    if (a.column != b.column) return a.column < b.column;
    return a.index < b.index;
  });
  return true;
}

void PmaNeighbourIndex::Neighbours(int32_t x, int32_t y, std::vector<PmaStoreEntry>* out) const {
  out->clear();
  const double xScale = geographic_ ? XScaleAt(y) : 1.0;
  // A window a unit wider than the reach each way; the exact test decides.
  const double halfX = std::min(reach_ / xScale + 1, 5e9);
  const double halfY = reach_ + 1;
  const int64_t row0 = int64_t(std::floor((y - halfY) / cell_));
  const int64_t row1 = int64_t(std::floor((y + halfY) / cell_));
  const int64_t column0 = int64_t(std::floor((x - halfX) / cell_));
  const int64_t column1 = int64_t(std::floor((x + halfX) / cell_));
  std::vector<uint32_t> found;
  for (int64_t row = row0; row <= row1; ++row) {
    auto it = std::lower_bound(cells_.begin(), cells_.end(), Cell{row, column0, 0, 0, 0},
                               [](const Cell& a, const Cell& b) {
                                 if (a.row != b.row) return a.row < b.row;
                                 return a.column < b.column;
                               });
    for (; it != cells_.end() && it->row == row && it->column <= column1; ++it) {
      if (std::fabs(double(it->x) - x) > halfX || std::fabs(double(it->y) - y) > halfY) continue;
      if (!skipped_[it->index]) found.push_back(it->index);
    }
  }
  std::sort(found.begin(), found.end());
  PmaStoreEntry kept;
  for (uint32_t i : found)
    if (NeighbourTest(stores_[i], x, y, xScale, reach_, &kept)) out->push_back(kept);
}

void PmaScanNeighbours(const PmaStoreEntry* stores, size_t count, bool geographic, double radius,
                       int32_t x, int32_t y, std::vector<PmaStoreEntry>* out) {
  out->clear();
  const double xScale = geographic ? XScaleAt(y) : 1.0;
  const double reach = ReachOf(geographic, radius);
  PmaStoreEntry kept;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && stores[i].x == stores[i - 1].x && stores[i].y == stores[i - 1].y) continue;
    if (NeighbourTest(stores[i], x, y, xScale, reach, &kept)) out->push_back(kept);
  }
}

// ---- Non-overlapping rings ----------------------------------------------------

int32_t PmaThiessenOperation(const PmaNeighbourIndex& index, int32_t x, int32_t y,
                             int32_t segments, bool geographic, double radius, PmaPointList* out) {
  out->clear();
  const int32_t check = CheckSegmentsAndRadius(segments, radius);
  if (check != 1) return check;
  if (radius == 0) return 1;
  const double xScale = geographic ? XScaleAt(y) : 1.0;
  const double r = geographic ? MilesToMillionths(radius) : radius;
  try {
    std::vector<PmaStoreEntry> neighbours;
    index.Neighbours(x, y, &neighbours);

    const double step = kTwoPi / segments;
    std::vector<DPoint> polygon, next;
    polygon.reserve(size_t(segments) + 2 * neighbours.size());
    for (int32_t i = 0; i < segments; ++i) {
      const double a = step / 2 + i * step;
      polygon.push_back({std::trunc(std::cos(a) * r + x), std::trunc(std::sin(a) * r + y)});
    }
    const DPoint store{double(x), double(y)};
    for (const PmaStoreEntry& n : neighbours) {
      ClipByBisector(polygon, Bisector(store, {double(n.x), double(n.y)}), &next);
      polygon.swap(next);
    }

    for (const DPoint& p : polygon) {
      const PmaPoint q =
          RoundInside(x, y, xScale, geographic, (p.x - x) / xScale + x, p.y, neighbours);
      if (!out->empty() && out->back().x == q.x && out->back().y == q.y) continue;
      out->push_back(q);
    }
    while (out->size() > 1 && out->back().x == out->front().x && out->back().y == out->front().y)
      out->pop_back();
    if (out->size() < 3) out->clear();
  } catch (const std::bad_alloc&) {
    out->clear();
    return -6;
  }
  return 1;
}

// ---- Customer hulls ------------------------------------------------------------

int32_t PmaConvexHullOperation(int32_t x, int32_t y, const PmaCustomerEntry* customers,
                               size_t count, double total, double maxDistance,
                               int32_t thresholdKind, bool geographic, double threshold,
                               PmaPointList* out) {
  out->clear();
  if (count < 3) return 1;
  const double xScale = geographic ? XScaleAt(y) : 1.0;
  const double d = geographic ? MilesToMillionths(maxDistance) : maxDistance;
  struct Near {
    double fx, fy, distance, value;
  };
  try {
    // The customers in the store's frame, on a copy: the caller's stay put.
    std::vector<Near> work(count);
    for (size_t i = 0; i < count; ++i) {
      const double fx = double(int64_t(customers[i].x) - x) * xScale;
      const double fy = double(int64_t(customers[i].y) - y);
      work[i] = {fx, fy, fx * fx + fy * fy, customers[i].value};
    }
    std::stable_sort(work.begin(), work.end(),
                     [](const Near& a, const Near& b) { return a.distance < b.distance; });

    double t = total;
    size_t kept = count;
    if (d > 0) {
      while (kept > 1 && work[kept - 1].distance > d * d) {
        t -= work[kept - 1].value;
        --kept;
      }
    }
    size_t n;
    if (thresholdKind == 1) {
      const double wanted = std::trunc(double(kept) * threshold);
      n = wanted <= 0 ? 0 : wanted >= double(kept) ? kept : size_t(wanted);
    } else {
      const double target = t * threshold;
      double sum = 0;
      n = kept;
      for (size_t i = 0; i < kept; ++i) {
        sum += work[i].value;
        if (sum > target) {
          n = i;
          break;
        }
      }
    }
    if (n < 3) return 1;

    std::vector<pipWrapPoint> hull(n + 1);
    for (size_t i = 0; i < n; ++i) hull[i] = {work[i].fx, work[i].fy};
    const int32_t corners = DetermineWrapConvexHull(int32_t(n), hull.data());
    if (corners < 3) return 1;
    // Every corner is a customer: back in the caller's frame it is that
    // customer's own position, not one truncated a unit inwards.
    out->reserve(size_t(corners));
    for (int32_t i = 0; i < corners; ++i)
      out->push_back({HeldToInt32(std::round(hull[i].x / xScale + x)),
                      HeldToInt32(std::round(hull[i].y + y))});
  } catch (const std::bad_alloc&) {
    out->clear();
    return -6;
  }
  return 1;
}

// ---- Output files -------------------------------------------------------------

std::string PmaOutputName(const char* path) {
  std::string name = path ? path : "";
  if (name.empty()) return name;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gsb") == 0) return name;
  return name + ".gsb";
}

int32_t PmaOpenOutput(PmaOutput* output, pipContext* context, int32_t coordinateKind,
                      const char* path) {
  PmaCloseOutput(output, 0);
  pipImportParamStruct params;
  std::memset(&params, 0, sizeof params);
  params.pointLimit = kPmaOutputPointLimit;
  params.polygonLimit = kPmaOutputPolygonLimit;
  params.coordinateKind = uint32_t(coordinateKind);
  params.flags = coordinateKind == 1 ? 1 : 0;
  BoundaryBuilder* builder = nullptr;
  const int32_t result = pipImportInitIntern(context, path, &params, &builder);
  if (result != 1) return result;
  output->builder = builder;
  output->objects = 0;
  std::snprintf(output->name, sizeof output->name, "%s", path);
  return 1;
}

int32_t PmaWritePolygon(PmaOutput* output, pipContext* context, const char* objectName,
                        const PmaPointList& polygon, const PmaPointList* inner, bool onePart) {
  (void)context;
  if (polygon.empty()) return 1;
  if (!output->builder) return -1;
  std::vector<int32_t> xy;
  uint32_t counts[2] = {uint32_t(polygon.size()), 0};
  int32_t parts = 1;
  // An empty inner list adds no part: a part of no points is refused.
  const bool second = !onePart && inner && !inner->empty();
  try {
    xy.reserve(2 * (polygon.size() + (second ? inner->size() : 0)));
    for (const PmaPoint& p : polygon) xy.insert(xy.end(), {p.x, p.y});
    if (second) {
      for (const PmaPoint& p : *inner) xy.insert(xy.end(), {p.x, p.y});
      counts[1] = uint32_t(inner->size());
      parts = 2;
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  pipObjectInfoStruct info;
  std::memset(&info, 0, sizeof info);
  std::snprintf(info.name, sizeof info.name, "%s", objectName);
  info.kind = PIP_OBJECT_REGION;
  const int32_t result = pipImportInsertIntern(output->builder, &info, xy.data(), counts, parts);
  if (result == 1) ++output->objects;
  return result;
}

int32_t PmaCloseOutput(PmaOutput* output, int32_t keep) {
  if (!output->builder) return 1;
  const int32_t result = pipImportTermIntern(output->builder, output->objects > 0 ? keep : 0);
  *output = PmaOutput{};
  return result;
}

int32_t PmaCloseOutputRecords(PmaOutput* outputs, int32_t keep) {
  PmaOutput& primary = outputs[0];
  PmaOutput& secondary = outputs[1];
  PmaOutput& tertiary = outputs[2];
  int32_t result = 1;
  // A shared file keeps what any of its levels wrote: the objects of a
  // sharing record count for the record that closes the file.
  if (secondary.builder && secondary.builder == primary.builder) {
    primary.objects += secondary.objects;
    secondary.objects = 0;
  }
  if (tertiary.builder && tertiary.builder == primary.builder) {
    primary.objects += tertiary.objects;
  } else if (tertiary.builder && tertiary.builder == secondary.builder) {
    secondary.objects += tertiary.objects;
  }
  if (tertiary.builder &&
      (tertiary.builder == primary.builder || tertiary.builder == secondary.builder)) {
    tertiary = PmaOutput{};
  } else if (PmaCloseOutput(&tertiary, keep) != 1) {
    result = -1;
  }
  if (secondary.builder && secondary.builder == primary.builder) {
    secondary = PmaOutput{};
  } else if (PmaCloseOutput(&secondary, keep) != 1) {
    result = -1;
  }
  // The primary is closed even after a failure above: nothing stays open.
  const int32_t last = PmaCloseOutput(&primary, keep);
  return result == 1 ? last : result;
}

int32_t PmaSetOutputFiles(PmaOutput* outputs, pipContext* context, int32_t coordinateKind,
                          const char* primary, const char* secondary, const char* tertiary) {
  PmaCloseOutputRecords(outputs, 1);
  const std::string names[3] = {PmaOutputName(primary), PmaOutputName(secondary),
                                PmaOutputName(tertiary)};
  for (int level = 0; level < 3; ++level) {
    if (names[level].empty()) continue;
    int shares = -1;
    for (int earlier = 0; earlier < level && shares < 0; ++earlier)
      if (outputs[earlier].builder && names[earlier] == names[level]) shares = earlier;
    if (shares >= 0) {
      outputs[level].builder = outputs[shares].builder;
      std::snprintf(outputs[level].name, sizeof outputs[level].name, "%s", names[level].c_str());
      continue;
    }
    const int32_t result =
        PmaOpenOutput(&outputs[level], context, coordinateKind, names[level].c_str());
    if (result != 1) {
      std::printf(kOpenErrorFormat, names[level].c_str(), int(result));
      PmaCloseOutputRecords(outputs, 0);
      return result;
    }
  }
  return 1;
}

// ---- Generators ---------------------------------------------------------------

namespace {

// Levels that are not finite numbers are refused as out of order: a ring
// of no real radius would be drawn to the ends of the coordinate range.
bool LevelsInOrder(const PmaLevels& l) {
  if (!std::isfinite(l.l1) || !std::isfinite(l.l2) || !std::isfinite(l.l3)) return false;
  return (l.l2 == 0 || l.l2 > l.l1) && (l.l3 == 0 || (l.l3 > l.l1 && l.l3 > l.l2));
}

// The frame shared by the three generators; polygonAt(level, store position,
// out) runs the level's operation.
template <typename Operation>
int32_t RunLevels(const PmaJobView& job, int kindIndex, bool twoPart, const PmaLevels& levels,
                  Operation&& polygonAt) {
  if (!LevelsInOrder(levels)) {
    job.context->Report(Q_ERROR_EMPTY, kBadLevelTexts[kindIndex], kSourceInter, __LINE__);
    return -1;
  }
  const double values[3] = {levels.l1, levels.l2, levels.l3};
  const bool wanted[3] = {true, levels.l2 > levels.l1,
                          levels.l3 > levels.l2 && levels.l3 > levels.l1};
  PmaPointList polygons[3];
  char objectName[128];
  const int32_t storeCount = int32_t(std::min<size_t>(job.storeCount, INT32_MAX));
  for (int32_t position = 0; position < storeCount; ++position) {
    const char* name = job.storeName(size_t(position));
    if (!name || !*name) continue;
    // Each store starts from empty lists: a level not run leaves no polygon
    // of the store before as the next level's inner part.
    for (PmaPointList& p : polygons) p.clear();
    for (int level = 0; level < 3; ++level) {
      PmaOutput& output = job.outputs[level];
      if (!output.builder || !wanted[level]) continue;
      const int32_t result = polygonAt(level, values[level], size_t(position), &polygons[level]);
      if (result != 1) {
        if (result != 0) job.reportOperation(result);
        return -1;
      }
      std::snprintf(objectName, sizeof objectName, kObjectNameFormat, name,
                    kLevelTexts[kindIndex][level]);
      const PmaPointList* inner = level > 0 ? &polygons[level - 1] : nullptr;
      if (PmaWritePolygon(&output, job.context, objectName, polygons[level], inner,
                          level == 0 || !twoPart) != 1)
        return -1;
    }
    if (job.progress && job.progress(storeCount, position + 1, name) == 0) {
      job.reportOperation(-11);
      return -1;
    }
  }
  return 1;
}

}  // namespace

int32_t PmaGenerateRings(const PmaJobView& job, PmaKind kind, int32_t segments, bool geographic,
                         bool twoPart, const PmaLevels& radii) {
  const int kindIndex = kind == PmaKind::kThiessen ? 1 : 0;
  PmaNeighbourIndex indexes[3];
  if (kind == PmaKind::kThiessen && LevelsInOrder(radii)) {
    const double values[3] = {radii.l1, radii.l2, radii.l3};
    for (int level = 0; level < 3; ++level) {
      if (!job.outputs[level].builder || !(values[level] > 0)) continue;
      if (!indexes[level].Build(job.stores, job.storeCount, geographic, values[level])) {
        job.reportOperation(-4);
        return -1;
      }
    }
  }
  return RunLevels(job, kindIndex, twoPart, radii,
                   [&](int level, double radius, size_t position, PmaPointList* out) {
                     const PmaStoreEntry& s = job.stores[position];
                     if (kind == PmaKind::kThiessen)
                       return PmaThiessenOperation(indexes[level], s.x, s.y, segments, geographic,
                                                   radius, out);
                     return PmaRingOperation(s.x, s.y, segments, geographic, radius, out);
                   });
}

int32_t PmaGenerateHulls(const PmaJobView& job, int32_t thresholdKind, double maxDistance,
                         bool geographic, bool twoPart, const PmaLevels& thresholds) {
  return RunLevels(job, 2, twoPart, thresholds,
                   [&](int, double threshold, size_t position, PmaPointList* out) -> int32_t {
                     const PmaStoreEntry& s = job.stores[position];
                     const PmaCustomerEntry* items = nullptr;
                     size_t count = 0;
                     double total = 0;
                     if (!job.customers || !job.customers(s.number, &items, &count, &total)) {
                       job.context->Report(Q_ERROR_EMPTY, kNoCustomerArrayText, kSourceInter,
                                           __LINE__);
                       return 0;
                     }
                     return PmaConvexHullOperation(s.x, s.y, items, count, total, maxDistance,
                                                   thresholdKind, geographic, threshold, out);
                   });
}

// ---- The job's side ---------------------------------------------------------------

// The operations keep nothing between runs: each run builds its neighbour
// index and scratch copies and lets them go.
struct CpmaOperations {};

CpmaOperations* PmaNewOperations(CpmaInterface&) { return new (std::nothrow) CpmaOperations; }

void PmaDeleteOperations(CpmaOperations* operations) { delete operations; }

int32_t PmaCloseOutputs(CpmaInterface& job, int32_t keep) {
  PmaOutput outputs[3] = {job.Output(kPmaPrimary), job.Output(kPmaSecondary),
                          job.Output(kPmaTertiary)};
  const int32_t result = PmaCloseOutputRecords(outputs, keep);
  for (int32_t level = 0; level < 3; ++level) job.Output(level) = outputs[level];
  return result;
}

namespace {

PmaJobView ViewOf(CpmaInterface& job, PmaOutput* outputs) {
  PmaJobView view;
  view.context = job.Owner();
  view.stores = job.Stores().begin();
  view.storeCount = size_t(job.Stores().Count());
  view.storeName = [&job](size_t position) { return job.Stores().Name(int32_t(position)); };
  view.customers = [&job](int32_t number, const PmaCustomerEntry** items, size_t* count,
                          double* total) {
    const CpmaCustomerList* list = job.Customers(number);
    if (!list) return false;
    *items = list->begin();
    *count = size_t(list->Count());
    *total = list->TotalValue();
    return true;
  };
  view.outputs = outputs;
  if (pipPmaProgressFunction progress = job.Progress())
    view.progress = [progress](int32_t stores, int32_t done, const char* name) {
      return progress(stores, done, name);
    };
  view.reportOperation = [&job](int32_t result) { PmaReportOperation(job, result); };
  return view;
}

// Runs a generator on the job's output records in place.
template <typename Run>
int32_t WithOutputs(CpmaInterface* job, Run&& run) {
  if (!job) return -1;
  return run(ViewOf(*job, &job->Output(kPmaPrimary)));
}

}  // namespace

int32_t pipPmaSetOutputFilesIntern(CpmaInterface* job, int32_t coordinateKind, const char* primary,
                                   const char* secondary, const char* tertiary) {
  if (!job) return -1;
  return PmaSetOutputFiles(&job->Output(kPmaPrimary), job->Owner(), coordinateKind, primary,
                           secondary, tertiary);
}

int32_t pipPmaGenerateRingPolygonsIntern(CpmaInterface* job, int32_t segments, int32_t geographic,
                                         int32_t twoPart, double r1, double r2, double r3) {
  return WithOutputs(job, [&](const PmaJobView& view) {
    return PmaGenerateRings(view, PmaKind::kRing, segments, geographic != 0, twoPart != 0,
                            {r1, r2, r3});
  });
}

int32_t pipPmaGenerateNonoverlappingRingPolygonsIntern(CpmaInterface* job, int32_t segments,
                                                       int32_t geographic, int32_t twoPart,
                                                       double r1, double r2, double r3) {
  return WithOutputs(job, [&](const PmaJobView& view) {
    return PmaGenerateRings(view, PmaKind::kThiessen, segments, geographic != 0, twoPart != 0,
                            {r1, r2, r3});
  });
}

int32_t pipPmaGenerateConvexHullPolygonsIntern(CpmaInterface* job, int32_t thresholdKind,
                                               double maxDistance, int32_t geographic,
                                               int32_t twoPart, double t1, double t2,
                                               double t3) {
  return WithOutputs(job, [&](const PmaJobView& view) {
    return PmaGenerateHulls(view, thresholdKind, maxDistance, geographic != 0, twoPart != 0,
                            {t1, t2, t3});
  });
}
