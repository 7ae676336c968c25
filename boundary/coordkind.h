// Coordinate kinds of boundary files and of the distance functions.
#pragma once

// Longitude and latitude in millionths of a degree; distances in feet. Every
// other kind is a plain plane whose distances are in its own units.
inline constexpr int kCoordinateKindGeographic = 1;
