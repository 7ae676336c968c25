// The polygon clipper: Vatti's scan-beam method.
//
// The plane is swept upward along scanlines through every vertex height.
// Each contour is cut into bounds, chains of edges that rise from a local
// minimum to a local maximum; the local-minima table lists the bounds by the
// scanline where they start, and an edge that reaches its top hands over to
// the next edge of its bound. Between two scanlines (a beam) the active edges
// cross only where their order at the beam's top differs from their order at
// its bottom; the intersection table lists those crossings by height.
//
// At every point where edges meet (a point of a scanline, or a crossing) the
// vertex classification looks at the sectors around the point and which of
// them lie in the result. Each sector of the result is bounded by two border
// rays, and the pair decides the output: two rising rays start a contour, an
// arriving and a rising ray extend one, two arriving rays join two open ends,
// which closes the contour when both ends are its own. Horizontal edges
// carry no parity: along a scanline the border runs horizontally wherever the
// result differs just above and just below it, and the walk from left to
// right carries that open end from point to point (the horizontal state).
// Coincident edges at a point act as one ray with their parities combined,
// so shared borders leave no slivers.
//
// Fill rule: even-odd within each polygon; the inputs' hole flags are not
// read. Output: outer contours counter-clockwise, holes clockwise, in the
// order the sweep started them; a contour's hole flag follows from its
// orientation with the result on a known side of it.
#include "gpc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Coordinates closer than this are one value; one is below another only by
// more than it.
constexpr double kTolerance = 2.220446049250313e-16;

bool Near(double a, double b) { return std::fabs(a - b) <= kTolerance; }
bool Below(double a, double b) { return a < b - kTolerance; }

// Parity bits of a sweep state: inside the subject, inside the clip.
constexpr uint8_t kSubjectBit = 1;
constexpr uint8_t kClipBit = 2;

struct Edge {
  double botX, botY, topX, topY;
  int botLine, topLine;
  int next;           // the next edge up the bound, -1 at the bound's top
  uint8_t parity;     // kSubjectBit or kClipBit
  uint8_t leftState;  // parities just left of the edge in the current beam
  int end;            // the open output end the edge carries, -1 none
  int pos;            // index in the active edge table
  double xb, xt;      // x at the current beam's bottom and top
  double xn;          // x at the next scanline, while a scanline is walked
};

// A vertex of the output. Open contours are undirected chains; an end node
// knows the chain's other end (mate), so joining two ends tells a merge from
// a closure at once.
struct Node {
  double x, y;
  int link[2];  // neighbours on the chain, -1 free
  int mate;     // for an end: the chain's other end
  int rank;     // for an end: when the sweep started the chain
};

struct Contour {
  int rank;
  bool hole;
  std::vector<gpc_vertex> vertices;
};

struct Ring {
  uint8_t parity;
  std::vector<gpc_vertex> vertices;
  std::vector<int> lines;  // the scanline of each vertex
};

// The result's membership for each of the four parity states.
constexpr bool kResult[4][4] = {
    /* difference   */ {false, true, false, false},
    /* intersection */ {false, false, false, true},
    /* xor          */ {false, true, true, false},
    /* union        */ {false, true, true, true},
};

class Clipper {
 public:
  explicit Clipper(gpc_op op) : result_(kResult[op]) {}

  void AddContour(const gpc_vertex_list& contour, uint8_t parity);
  void Run();
  std::vector<Contour>& contours() { return contours_; }

 private:
  enum RayKind : uint8_t { kEast, kAbove, kWest, kBelow };
  // A ray leaving the point, or a bundle of coincident ones, with the
  // parities of the sector that follows it counter-clockwise.
  struct Ray {
    RayKind kind;
    int first, count;  // members in below_ or above_
    uint8_t after;
    int end;  // the open end an arriving ray brings
  };
  struct Crossing {
    double x, y;
    int a, b;
  };

  bool In(uint8_t state) const { return result_[state & 3]; }
  void BuildLines();
  void BuildBounds(const Ring& ring);
  double XAt(const Edge& e, int line) const;
  void Scanline(int k);
  void Beam(int k);
  void Junction(double x, double y, bool aboveKeyNext, uint8_t& stateBelow, uint8_t& stateAbove,
                int& horizontalEnd);
  bool Straight(const Ray& a, const Ray& b) const;
  void Give(const Ray& ray, int node, int& horizontalEnd);

  int NewNode(double x, double y, int rank);
  void Link(int a, int b);
  int Start(double x, double y);
  int Extend(int end, double x, double y);
  void Join(int a, int b, double x, double y);
  void Emit(int closing, int first);
  void Store(const std::vector<gpc_vertex>& walk, int rank);
  void StoreLoop(std::vector<gpc_vertex> loop, int rank);

  const bool* result_;
  std::vector<Ring> rings_;
  std::vector<double> lines_;  // scanline heights, the lowest value of each group
  std::vector<Edge> edges_;
  std::vector<std::pair<int, int>> minima_;  // (scanline, first edge of a bound)
  size_t nextMinimum_ = 0;

  std::vector<int> aet_, next_, fresh_, sorted_;
  std::vector<int> below_, above_;
  std::vector<Ray> rays_;
  std::vector<int> borders_;
  std::vector<Crossing> crossings_;

  std::vector<Node> nodes_;
  std::vector<gpc_vertex> walk_;
  int nextRank_ = 0;
  std::vector<Contour> contours_;
};

void Clipper::AddContour(const gpc_vertex_list& contour, uint8_t parity) {
  int n = contour.vertex_count;
  if (n < 3 || !contour.vertex) return;
  const gpc_vertex* v = contour.vertex;
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(v[i].x) || !std::isfinite(v[i].y)) return;
  }
  Ring ring{parity, {}, {}};
  ring.vertices.reserve(n);
  // A vertex inside a horizontal run adds nothing to the run.
  for (int i = 0; i < n; ++i) {
    double y = v[i].y;
    if (Near(v[(i + n - 1) % n].y, y) && Near(v[(i + 1) % n].y, y)) continue;
    ring.vertices.push_back(v[i]);
  }
  if (ring.vertices.size() >= 3) rings_.push_back(std::move(ring));
}

// Heights within the tolerance of a group's lowest share its scanline.
void Clipper::BuildLines() {
  struct At {
    double y;
    int ring, vertex;
  };
  std::vector<At> all;
  for (size_t r = 0; r < rings_.size(); ++r) {
    rings_[r].lines.resize(rings_[r].vertices.size());
    for (size_t i = 0; i < rings_[r].vertices.size(); ++i) {
      all.push_back({rings_[r].vertices[i].y, static_cast<int>(r), static_cast<int>(i)});
    }
  }
  std::sort(all.begin(), all.end(), [](const At& a, const At& b) { return a.y < b.y; });
  for (const At& at : all) {
    if (lines_.empty() || !Near(at.y, lines_.back())) lines_.push_back(at.y);
    rings_[at.ring].lines[at.vertex] = static_cast<int>(lines_.size()) - 1;
  }
}

// Bounds are the maximal runs of rising or of falling edges around the ring,
// horizontal edges left out; a falling run is read backwards.
void Clipper::BuildBounds(const Ring& ring) {
  const std::vector<gpc_vertex>& v = ring.vertices;
  int n = static_cast<int>(v.size());
  const std::vector<int>& line = ring.lines;
  std::vector<int> sloped;  // non-horizontal edges, edge i from v[i] to v[i + 1]
  for (int i = 0; i < n; ++i) {
    if (line[i] != line[(i + 1) % n]) sloped.push_back(i);
  }
  int m = static_cast<int>(sloped.size());
  auto rising = [&](int i) { return line[(i + 1) % n] > line[i]; };
  int start = -1;
  for (int t = 0; t < m && start < 0; ++t) {
    if (rising(sloped[t]) != rising(sloped[(t + m - 1) % m])) start = t;
  }
  if (start < 0) return;
  std::vector<int> run;
  for (int t = 0; t < m;) {
    run.clear();
    bool up = rising(sloped[(start + t) % m]);
    while (t < m && rising(sloped[(start + t) % m]) == up) run.push_back(sloped[(start + t++) % m]);
    if (!up) std::reverse(run.begin(), run.end());
    int first = static_cast<int>(edges_.size());
    for (size_t r = 0; r < run.size(); ++r) {
      int i = run[r], j = (i + 1) % n;
      int b = up ? i : j, e = up ? j : i;
      Edge edge{};
      edge.botX = v[b].x;
      edge.botY = v[b].y;
      edge.topX = v[e].x;
      edge.topY = v[e].y;
      edge.botLine = line[b];
      edge.topLine = line[e];
      edge.next = r + 1 < run.size() ? first + static_cast<int>(r) + 1 : -1;
      edge.parity = ring.parity;
      edge.end = -1;
      edges_.push_back(edge);
    }
    minima_.emplace_back(edges_[first].botLine, first);
  }
}

double Clipper::XAt(const Edge& e, int line) const {
  if (line == e.topLine) return e.topX;
  if (line == e.botLine) return e.botX;
  return e.botX + (e.topX - e.botX) * ((lines_[line] - e.botY) / (e.topY - e.botY));
}

void Clipper::Run() {
  BuildLines();
  for (const Ring& r : rings_) BuildBounds(r);
  rings_.clear();
  std::stable_sort(minima_.begin(), minima_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  int count = static_cast<int>(lines_.size());
  for (int k = 0; k < count && !(aet_.empty() && nextMinimum_ == minima_.size()); ++k) {
    Scanline(k);
    if (k + 1 < count) Beam(k);
  }
  std::stable_sort(contours_.begin(), contours_.end(),
                   [](const Contour& a, const Contour& b) { return a.rank < b.rank; });
}

// Walks scanline k from left to right: edges that end here leave, the next
// edges of their bounds and the bounds of the local minima here enter, and
// every point where edges meet is classified.
void Clipper::Scanline(int k) {
  bool last = k + 1 >= static_cast<int>(lines_.size());
  fresh_.clear();
  for (int e : aet_) {
    if (edges_[e].topLine == k && edges_[e].next >= 0) fresh_.push_back(edges_[e].next);
  }
  while (nextMinimum_ < minima_.size() && minima_[nextMinimum_].first == k) {
    fresh_.push_back(minima_[nextMinimum_++].second);
  }
  for (int e : fresh_) edges_[e].xn = last ? edges_[e].topX : XAt(edges_[e], k + 1);
  std::sort(fresh_.begin(), fresh_.end(), [this](int a, int b) {
    const Edge& p = edges_[a];
    const Edge& q = edges_[b];
    return p.botX != q.botX ? p.botX < q.botX : p.xn < q.xn;
  });

  next_.clear();
  uint8_t stateBelow = 0, stateAbove = 0;
  int horizontalEnd = -1;
  size_t i = 0, j = 0;
  const double y = lines_[k];
  while (i < aet_.size() || j < fresh_.size()) {
    double x0 = std::numeric_limits<double>::infinity();
    if (i < aet_.size()) x0 = edges_[aet_[i]].xt;
    if (j < fresh_.size()) x0 = std::min(x0, edges_[fresh_[j]].botX);
    below_.clear();
    above_.clear();
    double px = x0;
    bool vertex = false;  // px is a vertex of the input
    while (i < aet_.size() && !Below(x0, edges_[aet_[i]].xt)) {
      int e = aet_[i++];
      below_.push_back(e);
      if (edges_[e].topLine == k) {
        if (!vertex) px = edges_[e].topX;
        vertex = true;
      } else {
        edges_[e].xn = XAt(edges_[e], k + 1);
        above_.push_back(e);
      }
    }
    while (j < fresh_.size() && !Below(x0, edges_[fresh_[j]].botX)) {
      int e = fresh_[j++];
      if (!vertex) px = edges_[e].botX;
      vertex = true;
      above_.push_back(e);
    }
    // An edge passing alone through the scanline changes nothing.
    if (below_.size() == 1 && above_.size() == 1 && above_[0] == below_[0] &&
        stateBelow == stateAbove) {
      next_.push_back(below_[0]);
      stateBelow ^= edges_[below_[0]].parity;
      stateAbove = stateBelow;
      continue;
    }
    std::stable_sort(above_.begin(), above_.end(),
                     [this](int a, int b) { return edges_[a].xn < edges_[b].xn; });
    Junction(px, y, true, stateBelow, stateAbove, horizontalEnd);
    next_.insert(next_.end(), above_.begin(), above_.end());
  }

  aet_.swap(next_);
  uint8_t state = 0;
  for (size_t p = 0; p < aet_.size(); ++p) {
    Edge& e = edges_[aet_[p]];
    e.xb = e.botLine == k ? e.botX : e.xt;
    e.xt = e.xn;
    e.pos = static_cast<int>(p);
    e.leftState = state;
    state ^= e.parity;
  }
}

// Finds the crossings of the beam above scanline k from the edges' order at
// its top, then classifies them lowest first.
void Clipper::Beam(int k) {
  const double yb = lines_[k], yt = lines_[k + 1];
  sorted_.clear();
  crossings_.clear();
  for (int e : aet_) {
    size_t at = sorted_.size();
    while (at > 0 && Below(edges_[e].xt, edges_[sorted_[at - 1]].xt)) {
      const Edge& a = edges_[sorted_[at - 1]];
      const Edge& b = edges_[e];
      double gapBottom = std::max(0.0, b.xb - a.xb);
      double t = gapBottom / (gapBottom + (a.xt - b.xt));
      Crossing c{a.xb + t * (a.xt - a.xb), yb + t * (yt - yb), sorted_[at - 1], e};
      // Coordinates near the ends of the double range can overflow here; the
      // crossing then stays at the beam's bottom so that the table sorts.
      if (!std::isfinite(c.x) || !std::isfinite(c.y)) c = {a.xb, yb, c.a, c.b};
      crossings_.push_back(c);
      --at;
    }
    sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(at), e);
  }
  if (crossings_.empty()) return;
  std::sort(crossings_.begin(), crossings_.end(), [](const Crossing& p, const Crossing& q) {
    return p.y != q.y ? p.y < q.y : p.x < q.x;
  });
  for (size_t c = 0; c < crossings_.size();) {
    const Crossing& head = crossings_[c];
    int lo = edges_[head.a].pos, hi = lo;
    size_t d = c;
    for (; d < crossings_.size() && Near(crossings_[d].y, head.y) && Near(crossings_[d].x, head.x);
         ++d) {
      for (int e : {crossings_[d].a, crossings_[d].b}) {
        lo = std::min(lo, edges_[e].pos);
        hi = std::max(hi, edges_[e].pos);
      }
    }
    below_.assign(aet_.begin() + lo, aet_.begin() + hi + 1);
    above_ = below_;
    std::stable_sort(above_.begin(), above_.end(),
                     [this](int a, int b) { return edges_[a].xt < edges_[b].xt; });
    uint8_t state = edges_[aet_[lo]].leftState, stateAbove = state;
    int horizontalEnd = -1;
    Junction(head.x, head.y, false, state, stateAbove, horizontalEnd);
    state = edges_[aet_[lo]].leftState;
    for (int p = lo; p <= hi; ++p) {
      int e = above_[p - lo];
      aet_[p] = e;
      edges_[e].pos = p;
      edges_[e].leftState = state;
      state ^= edges_[e].parity;
    }
    c = d;
  }
}

// Classifies the point (x, y): below_ holds the edges arriving from below in
// their order just below it, above_ those leaving upward in their order just
// above it. The states are the parities left of the point below and above it
// on entry and right of it on return; horizontalEnd likewise carries the open
// end of a horizontal border in and out.
void Clipper::Junction(double x, double y, bool aboveKeyNext, uint8_t& stateBelow,
                       uint8_t& stateAbove, int& horizontalEnd) {
  auto aboveKey = [&](int e) { return aboveKeyNext ? edges_[e].xn : edges_[e].xt; };
  uint8_t flipsAbove = 0, flipsBelow = 0;
  for (int e : above_) flipsAbove ^= edges_[e].parity;
  for (int e : below_) flipsBelow ^= edges_[e].parity;
  const uint8_t rightAbove = stateAbove ^ flipsAbove, rightBelow = stateBelow ^ flipsBelow;

  // The rays counter-clockwise from the east.
  rays_.clear();
  rays_.push_back({kEast, 0, 0, rightAbove, -1});
  uint8_t s = rightAbove;
  for (int i = static_cast<int>(above_.size()); i > 0;) {
    int last = i - 1, first = last;
    uint8_t flip = edges_[above_[last]].parity;
    while (first > 0 && Near(aboveKey(above_[first - 1]), aboveKey(above_[last]))) {
      flip ^= edges_[above_[--first]].parity;
    }
    s ^= flip;
    rays_.push_back({kAbove, first, last - first + 1, s, -1});
    i = first;
  }
  rays_.push_back({kWest, 0, 0, stateBelow, horizontalEnd});
  s = stateBelow;
  for (int i = 0, n = static_cast<int>(below_.size()); i < n;) {
    int first = i;
    uint8_t flip = edges_[below_[i]].parity;
    int end = edges_[below_[i]].end;
    for (++i; i < n && Near(edges_[below_[i]].xb, edges_[below_[first]].xb); ++i) {
      flip ^= edges_[below_[i]].parity;
      if (end < 0) end = edges_[below_[i]].end;
    }
    s ^= flip;
    rays_.push_back({kBelow, first, i - first, s, end});
  }
  for (int e : below_) edges_[e].end = -1;
  for (int e : above_) edges_[e].end = -1;

  borders_.clear();
  uint8_t before = rightBelow;
  for (size_t r = 0; r < rays_.size(); ++r) {
    if (In(before) != In(rays_[r].after)) borders_.push_back(static_cast<int>(r));
    before = rays_[r].after;
  }
  horizontalEnd = -1;
  size_t m = borders_.size();
  for (size_t t = 0; t < m; ++t) {
    Ray& a = rays_[borders_[t]];
    if (!In(a.after)) continue;
    Ray& b = rays_[borders_[(t + 1) % m]];
    bool aIn = a.kind == kBelow || a.kind == kWest;
    bool bIn = b.kind == kBelow || b.kind == kWest;
    // A border that arrives without an open end (only when rounding has
    // reordered edges) starts a chain that will stay open and be dropped.
    if (aIn && a.end < 0) a.end = Start(x, y);
    if (bIn && b.end < 0) b.end = Start(x, y);
    if (aIn && bIn) {
      Join(a.end, b.end, x, y);
    } else if (aIn) {
      Give(b, Straight(a, b) ? a.end : Extend(a.end, x, y), horizontalEnd);
    } else if (bIn) {
      Give(a, Straight(a, b) ? b.end : Extend(b.end, x, y), horizontalEnd);
    } else {
      int q = Start(x, y);
      Give(a, q, horizontalEnd);
      Give(b, q, horizontalEnd);
    }
  }
  stateBelow = rightBelow;
  stateAbove = rightAbove;
}

// The border goes straight through the point, along the scanline or along
// an edge that passes it, and nothing else of the border meets there: the
// point needs no vertex. Where other borders meet it, it does, so that any
// point a contour touches twice is a vertex both times.
bool Clipper::Straight(const Ray& a, const Ray& b) const {
  if (borders_.size() != 2) return false;
  if ((a.kind == kWest && b.kind == kEast) || (a.kind == kEast && b.kind == kWest)) return true;
  const Ray* down = a.kind == kBelow ? &a : b.kind == kBelow ? &b : nullptr;
  const Ray* up = a.kind == kAbove ? &a : b.kind == kAbove ? &b : nullptr;
  if (!down || !up) return false;
  for (int i = 0; i < down->count; ++i) {
    for (int j = 0; j < up->count; ++j) {
      if (below_[down->first + i] == above_[up->first + j]) return true;
    }
  }
  return false;
}

void Clipper::Give(const Ray& ray, int node, int& horizontalEnd) {
  if (ray.kind == kEast) horizontalEnd = node;
  if (ray.kind == kAbove) edges_[above_[ray.first]].end = node;
}

int Clipper::NewNode(double x, double y, int rank) {
  nodes_.push_back({x, y, {-1, -1}, -1, rank});
  return static_cast<int>(nodes_.size()) - 1;
}

void Clipper::Link(int a, int b) {
  int* slotA = nodes_[a].link[0] < 0 ? &nodes_[a].link[0] : &nodes_[a].link[1];
  int* slotB = nodes_[b].link[0] < 0 ? &nodes_[b].link[0] : &nodes_[b].link[1];
  if (*slotA >= 0 || *slotB >= 0) return;  // not an end: the chain is already broken
  *slotA = b;
  *slotB = a;
}

// A chain of one node; both of its ends are that node.
int Clipper::Start(double x, double y) {
  int q = NewNode(x, y, nextRank_++);
  nodes_[q].mate = q;
  return q;
}

int Clipper::Extend(int end, double x, double y) {
  if (nodes_[end].x == x && nodes_[end].y == y) return end;
  int q = NewNode(x, y, nodes_[end].rank);
  int other = nodes_[end].mate;
  Link(end, q);
  nodes_[q].mate = other;
  nodes_[other].mate = q;
  return q;
}

// Joins ends a and b at (x, y); the result lies in the sector turning
// counter-clockwise from a's ray to b's ray, so on the right of a path that
// comes in along a and leaves along b.
void Clipper::Join(int a, int b, double x, double y) {
  if (a == b) return;
  bool closes = nodes_[a].mate == b;
  int otherA = nodes_[a].mate, otherB = nodes_[b].mate;
  int q = NewNode(x, y, std::min(nodes_[a].rank, nodes_[b].rank));
  Link(q, a);
  Link(q, b);
  if (closes) {
    Emit(q, b);
    return;
  }
  int rank = std::min(nodes_[otherA].rank, nodes_[otherB].rank);
  nodes_[otherA].mate = otherB;
  nodes_[otherB].mate = otherA;
  nodes_[otherA].rank = nodes_[otherB].rank = rank;
}

// Walks a closed chain from node closing through first and around; the
// result lies on the right of that walk.
void Clipper::Emit(int closing, int first) {
  walk_.clear();
  walk_.push_back({nodes_[closing].x, nodes_[closing].y});
  int previous = closing, current = first;
  size_t limit = nodes_.size();
  while (current != closing) {
    if (current < 0 || walk_.size() > limit) return;  // a broken chain is dropped
    const Node& n = nodes_[current];
    walk_.push_back({n.x, n.y});
    int following = n.link[0] == previous ? n.link[1] : n.link[0];
    previous = current;
    current = following;
  }
  Store(walk_, nodes_[closing].rank);
}

// A walk that comes back to a point it passed is cut there into loops that
// each pass every point once. Each loop keeps the result on its right, so a
// clockwise loop is an outer contour and a counter-clockwise one a hole.
void Clipper::Store(const std::vector<gpc_vertex>& walk, int rank) {
  auto same = [](const gpc_vertex& a, const gpc_vertex& b) { return a.x == b.x && a.y == b.y; };
  std::vector<gpc_vertex> loop;
  for (const gpc_vertex& v : walk) {
    if (loop.empty() || !same(loop.back(), v)) loop.push_back(v);
  }
  while (loop.size() > 1 && same(loop.back(), loop.front())) loop.pop_back();
  auto byPoint = [](const gpc_vertex& a, const gpc_vertex& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  };
  std::vector<gpc_vertex> sortedPoints(loop);
  std::sort(sortedPoints.begin(), sortedPoints.end(), byPoint);
  bool repeats =
      std::adjacent_find(sortedPoints.begin(), sortedPoints.end(), same) != sortedPoints.end();
  if (!repeats) {
    StoreLoop(std::move(loop), rank);
    return;
  }
  // Cut off a loop whenever the walk reaches a point already on the stack.
  std::vector<gpc_vertex> repeated;
  for (size_t i = 1; i < sortedPoints.size(); ++i) {
    if (same(sortedPoints[i], sortedPoints[i - 1]) &&
        (repeated.empty() || !same(repeated.back(), sortedPoints[i]))) {
      repeated.push_back(sortedPoints[i]);
    }
  }
  auto indexOf = [&](const gpc_vertex& v) {
    auto it = std::lower_bound(repeated.begin(), repeated.end(), v, byPoint);
    return it != repeated.end() && same(*it, v) ? it - repeated.begin() : -1;
  };
  std::vector<long> onStack(repeated.size(), -1);
  std::vector<gpc_vertex> stack;
  for (const gpc_vertex& v : loop) {
    long r = indexOf(v);
    if (r >= 0 && onStack[r] >= 0) {
      size_t at = static_cast<size_t>(onStack[r]);
      for (size_t i = at + 1; i < stack.size(); ++i) {
        long q = indexOf(stack[i]);
        if (q >= 0) onStack[q] = -1;
      }
      std::vector<gpc_vertex> piece(stack.begin() + static_cast<long>(at), stack.end());
      stack.resize(at + 1);
      StoreLoop(std::move(piece), rank);
      continue;
    }
    if (r >= 0) onStack[r] = static_cast<long>(stack.size());
    stack.push_back(v);
  }
  StoreLoop(std::move(stack), rank);
}

void Clipper::StoreLoop(std::vector<gpc_vertex> loop, int rank) {
  size_t n = loop.size();
  if (n < 3) return;
  double area = 0;  // twice the signed area, positive counter-clockwise
  for (size_t i = 0; i < n; ++i) {
    const gpc_vertex& p = loop[i];
    const gpc_vertex& q = loop[(i + 1) % n];
    area += (p.x - q.x) * (p.y + q.y);
  }
  if (area == 0) return;
  std::reverse(loop.begin(), loop.end());
  contours_.push_back({rank, area > 0, std::move(loop)});
}

bool IsEmpty(const gpc_polygon* p) { return !p || p->contour_count <= 0 || !p->contour; }

struct Box {
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0;
  double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;
  bool Meets(const Box& o) const { return x0 <= o.x1 && o.x0 <= x1 && y0 <= o.y1 && o.y0 <= y1; }
};

std::vector<Box> Boxes(const gpc_polygon& p) {
  std::vector<Box> boxes(p.contour_count);
  for (int c = 0; c < p.contour_count; ++c) {
    const gpc_vertex_list& list = p.contour[c];
    for (int i = 0; list.vertex && i < list.vertex_count; ++i) {
      Box& b = boxes[c];
      b.x0 = std::min(b.x0, list.vertex[i].x);
      b.x1 = std::max(b.x1, list.vertex[i].x);
      b.y0 = std::min(b.y0, list.vertex[i].y);
      b.y1 = std::max(b.y1, list.vertex[i].y);
    }
  }
  return boxes;
}

// Flags, per contour of from, whether its box meets a box of against.
std::vector<bool> MeetsAny(const std::vector<Box>& from, const std::vector<Box>& against) {
  std::vector<bool> keep(from.size(), false);
  for (size_t i = 0; i < from.size(); ++i) {
    for (const Box& b : against) {
      if (from[i].Meets(b)) {
        keep[i] = true;
        break;
      }
    }
  }
  return keep;
}

// Moves the contours into a record of plain allocations; false, with nothing
// left allocated, when memory runs out.
bool Export(const std::vector<Contour>& contours, gpc_polygon* out) {
  gpc_init_polygon(out);
  if (contours.empty()) return true;
  size_t n = contours.size();
  out->hole = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  out->contour = static_cast<gpc_vertex_list*>(std::calloc(n, sizeof(gpc_vertex_list)));
  out->contour_count = static_cast<int32_t>(n);
  if (!out->hole || !out->contour) {
    gpc_free_polygon(out);
    return false;
  }
  for (size_t c = 0; c < n; ++c) {
    const std::vector<gpc_vertex>& v = contours[c].vertices;
    out->hole[c] = contours[c].hole ? 1 : 0;
    out->contour[c].vertex = static_cast<gpc_vertex*>(std::malloc(v.size() * sizeof(gpc_vertex)));
    if (!out->contour[c].vertex) {
      gpc_free_polygon(out);
      return false;
    }
    std::memcpy(out->contour[c].vertex, v.data(), v.size() * sizeof(gpc_vertex));
    out->contour[c].vertex_count = static_cast<int32_t>(v.size());
  }
  return true;
}

}  // namespace

ZONELIB_API void gpc_init_polygon(gpc_polygon* polygon) {
  if (polygon) std::memset(polygon, 0, sizeof *polygon);
}

ZONELIB_API void gpc_free_polygon(gpc_polygon* polygon) {
  if (!polygon) return;
  if (polygon->contour) {
    for (int32_t c = 0; c < polygon->contour_count; ++c) {
      std::free(polygon->contour[c].vertex);
      polygon->contour[c].vertex = nullptr;
    }
  }
  std::free(polygon->hole);
  polygon->hole = nullptr;
  std::free(polygon->contour);
  polygon->contour = nullptr;
  polygon->contour_count = 0;
}

ZONELIB_API void gpc_polygon_clip(gpc_op op, gpc_polygon* subject, gpc_polygon* clip,
                                  gpc_polygon* result) {
  if (!result || op < GPC_DIFFERENCE || op > GPC_UNION) return;
  bool subjectEmpty = IsEmpty(subject), clipEmpty = IsEmpty(clip);
  bool empty = (subjectEmpty && clipEmpty) ||
               (subjectEmpty && (op == GPC_DIFFERENCE || op == GPC_INTERSECTION)) ||
               (clipEmpty && op == GPC_INTERSECTION);
  gpc_polygon out;
  gpc_init_polygon(&out);
  if (!empty) {
    // Any failure to get memory leaves the result record as it was.
    try {
      std::vector<bool> keepSubject, keepClip;
      if (!subjectEmpty) keepSubject.assign(subject->contour_count, true);
      if (!clipEmpty) keepClip.assign(clip->contour_count, true);
      // Contours that cannot meet the other polygon change neither a
      // difference (clip contours) nor an intersection (either).
      if (!subjectEmpty && !clipEmpty && (op == GPC_DIFFERENCE || op == GPC_INTERSECTION)) {
        std::vector<Box> s = Boxes(*subject), c = Boxes(*clip);
        keepClip = MeetsAny(c, s);
        if (op == GPC_INTERSECTION) keepSubject = MeetsAny(s, c);
      }
      Clipper clipper(op);
      for (size_t i = 0; i < keepSubject.size(); ++i) {
        if (keepSubject[i]) clipper.AddContour(subject->contour[i], kSubjectBit);
      }
      for (size_t i = 0; i < keepClip.size(); ++i) {
        if (keepClip[i]) clipper.AddContour(clip->contour[i], kClipBit);
      }
      clipper.Run();
      if (!Export(clipper.contours(), &out)) return;
    } catch (...) {
      return;
    }
  }
  if (result == subject || result == clip) gpc_free_polygon(result);
  *result = out;
}
