// The name a shapefile's .prj gives its projected coordinate system. Shape
// readers take large coordinates as millionths of a degree, so a projected
// set in metres would otherwise pass unnoticed: both the engine's reader and
// gsbbuild ask this before they read a record.
#pragma once

#include <string>

// The name of the projected coordinate system the .prj file at prj names
// ("PROJCS[" or "PROJCRS[" at its start; the keyword when it gives no name),
// or empty when it names none or cannot be read. Reads at most its first
// 4096 bytes.
std::string PrjProjectedSystemName(const std::string& prj);
