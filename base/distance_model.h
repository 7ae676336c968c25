// The flat local model of the earth behind every distance in feet.
//
// One degree of latitude is 69 miles of 5280 feet; a longitude difference is
// shortened by the cosine of a latitude (which one is part of each caller's
// behaviour). The engine stores coordinates as whole millionths of a degree,
// so the model is kept here in both units, with the exact figures the stored
// files were made with: segment records and point-tree distances depend on
// them to the last digit.
#pragma once

// Millionths of a degree (the integer form of coordinates).
inline constexpr double kFeetPerMillionth = 0.36432;
inline constexpr double kRadiansPerMillionth = 1.745329252e-8;

// Degrees (the double form of the geometry value classes).
inline constexpr double kFeetPerDegree = 364320.0;  // 69 x 5280
inline constexpr double kRadiansPerDegree = 0.017453292519943295;
