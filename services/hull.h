// The convex hull of a point set, wrapped in place (DetermineWrapConvexHull,
// declared with its record in zonelib.h).
//
// Contract on the border cases:
//   - The array holds count + 1 records: the one behind the last point is
//     used. The hull comes back in points[0 .. result - 1], counter-clockwise
//     from the lowest point (the leftmost of the lowest); the other records
//     are reordered.
//   - Fewer than 3 points, or fewer than 3 left after the prefilter, give 0.
//     Points on one line give 2 (the lowest and the far end); points all in
//     one place give 1.
//   - Of points along a hull edge only the corners are kept; duplicates of a
//     corner are passed over.
#pragma once

#include <cstdint>

#include "zonelib.h"
