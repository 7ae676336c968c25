// The grid polynomials of the local grids 21, 22 and 23: after the transverse
// Mercator, a polynomial in two variables maps the projected point into the
// local grid (forward table), and another maps it back (inverse table).
//
// These three grids are approximate: only the constant term and the
// coefficient of s of each block are known to us, so each table holds those
// and zeros for every higher term. The translation and the scale along each
// axis are right; the rotation and the curvature of the local grid are
// missing, which leaves errors that grow with the distance from the table's
// origin. The table format and its evaluation take the full degree, so the
// complete coefficients drop in when they are found.
#include <array>

#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

namespace {

constexpr int kTermsOf(int degree) { return (degree + 1) * (degree + 2) / 2; }

// Known terms of one table: the origins and, per block, the constant and the
// coefficient of s.
struct KnownTerms {
  double oy, ox;
  double a0, aS;
  double b0, bS;
};

template <int kDegree>
constexpr std::array<double, 3 + 2 * kTermsOf(kDegree)> MakeTable(const KnownTerms& t) {
  constexpr int m = kTermsOf(kDegree);
  std::array<double, 3 + 2 * m> table{};
  table[0] = kDegree;
  table[1] = t.a0;
  table[2] = t.aS;
  table[1 + m] = t.oy;
  table[2 + m] = t.b0;
  table[3 + m] = t.bS;
  table[2 + 2 * m] = t.ox;
  return table;
}

constexpr auto kGrid21Forward = MakeTable<11>(
    {6211357.565339, 535887.734971, 179608.42195, 1.0001331975, 259885.74773, -1.0001338073});
constexpr auto kGrid21Inverse = MakeTable<11>(
    {179608.367287, 259884.1271, 6211357.5431, 0.99946783805, 535889.35583, -0.99946722875});
constexpr auto kGrid22Forward = MakeTable<11>(
    {6143171.658806, 679082.320128, 108580.1864, 0.99979577051, 118032.75921, -0.99979562993});
constexpr auto kGrid22Inverse = MakeTable<11>(
    {108578.008582, 118029.907698, 6143169.5373, 0.99981973699, 679085.21383, -0.99981987793});
constexpr auto kGrid23Forward = MakeTable<4>(
    {6109645.68068, 495134.215516, 52222.355954, 1.0003999918, 47875.457674, -1.0004002847});
constexpr auto kGrid23Inverse = MakeTable<4>(
    {52222.336107, 47875.442993, 6109645.6608, 0.99959800064, 495134.23016, -0.99959770795});

static_assert(kGrid21Forward.size() == 159 && kGrid23Forward.size() == 33);

// One block: sum over j of t^j times the polynomial in s of group j, by
// Horner in t outside and in s inside, walking the coefficients backwards.
double EvalBlock(const double* c, int degree, double s, double t) {
  int at = kTermsOf(degree) - 1;
  double result = c[at--];
  for (int k = 1; k <= degree; ++k) {
    double p = c[at--];
    for (int i = 1; i <= k; ++i) p = p * s + c[at--];
    result = result * t + p;
  }
  return result;
}

}  // namespace

int GridPolyTableSize(int degree) { return 3 + 2 * kTermsOf(degree); }

const double* GridPolyTable(int projection, bool inverse) {
  switch (projection) {
    case 21:
      return inverse ? kGrid21Inverse.data() : kGrid21Forward.data();
    case 22:
      return inverse ? kGrid22Inverse.data() : kGrid22Forward.data();
    case 23:
      return inverse ? kGrid23Inverse.data() : kGrid23Forward.data();
    default:
      return nullptr;
  }
}

void GridPolyEval(const double* table, const DPoint* in, DPoint* out) {
  int degree = static_cast<int>(table[0]);
  int m = kTermsOf(degree);
  const double* a = table + 1;
  double oy = table[1 + m];
  const double* b = table + 2 + m;
  double ox = table[2 + 2 * m];
  double dx = in->x - ox, dy = in->y - oy;
  double y = EvalBlock(a, degree, dy, dx);
  double x = EvalBlock(b, degree, dx, dy);
  out->x = x;
  out->y = y;
}

}  // namespace layerio
