// The map-object file: head, header, blocks and slots (placeholder bodies
// while the file code is written).
#include "mapfile/objects/mapfile.h"

#include <cstring>

namespace layerio {

double MapLoadF64(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void MapStoreF64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// The library's per-type-code table: record length of each code, plus 128
// when the object has variable data in coordinate blocks.
namespace {
constexpr uint8_t kVar = 128;
constexpr uint8_t kLibraryTypeTable[kMapTypeTableSize] = {
    0,
    10, 14, 21,                            // 1-3 point
    14, 22, 27,                            // 4-6 line
    34 + kVar, 38 + kVar, 43 + kVar,       // 7-9 polyline, one section
    26, 42, 47,                            // 10-12 arc
    37 + kVar, 41 + kVar, 53 + kVar,       // 13-15 region
    39 + kVar, 53 + kVar, 89 + kVar,       // 16-18 text
    15, 23, 35,                            // 19-21 rectangle
    19, 31, 43,                            // 22-24 rounded rectangle
    15, 23, 35,                            // 25-27 ellipse
    79, 87, 99,                            // 28-30 frame
    28 + kVar, 36 + kVar, 41 + kVar,       // 31-33 kind 11
    32 + kVar, 40 + kVar, 45 + kVar,       // 34-36 kind 12
    36 + kVar, 40 + kVar, 45 + kVar,       // 37-39 polyline, several sections
    22, 26, 57,                            // 40-42 point, font symbol
    13, 17, 55,                            // 43-45 point, custom symbol
    37 + kVar, 41 + kVar, 53 + kVar,       // 46-48 region, second generation
    36 + kVar, 40 + kVar, 45 + kVar,       // 49-51 polyline, second generation
    50 + kVar, 54 + kVar, 92 + kVar,       // 52-54 multipoint
    61 + kVar, 61 + kVar, 116 + kVar,      // 55-57 collection
    43, 47, 85,                            // 58-60 point with value flags
    72 + kVar, 76 + kVar, 88 + kVar,       // 61-63 region with value arrays
    71 + kVar, 75 + kVar, 80 + kVar,       // 64-66 polyline with value arrays
    83 + kVar, 87 + kVar, 125 + kVar,      // 67-69 multipoint, third generation
    66 + kVar, 66 + kVar, 121 + kVar,      // 70-72 collection, third generation
};
}  // namespace

const uint8_t* MapTypeTableLibrary() { return kLibraryTypeTable; }
uint8_t MapTypeEntry(const MapFile*, int) { return 0; }
int16_t MapTypeTableLoad(MapFile*) { return 1; }
int16_t MapFileCreate(MapFile*, MapHeader*, FileHandle, int, const CoordSys*, int, int, int) {
  return 0;
}
int16_t MapFileOpen(MapFile*, MapHeader*, FileHandle, int, int) { return 0; }
int16_t MapFileLock(MapFile*, MapHeader*, int, uint32_t*) { return 0; }
int16_t MapFileUnlock(MapFile*, MapHeader*) { return 0; }
void MapFileClose(MapFile*) {}
int16_t MapFileRemove(MapFile*) { return 0; }
int16_t MapHeaderRead(MapFile*, MapHeader*) { return 0; }
int16_t MapHeaderWrite(MapFile*, MapHeader*) { return 0; }
void MapStylesFree(MapFile*) {}
// Stands in until the style tables are linked in.
__attribute__((weak)) int16_t MapStylesLoad(MapFile*) { return 1; }
void MapSetAltMarkerSwitch(int) {}
uint32_t MapFirstBlockPosition(const MapFile*) { return 0; }
int16_t MapBlockAlloc(MapFile*, uint32_t*) { return 0; }
int16_t MapBlockFree(MapFile*, uint32_t) { return 0; }
int16_t MapBlockSlotAlloc(MapFile*, MapBlockSlot**) { return 0; }
void MapBlockSlotFree(MapFile*, MapBlockSlot**) {}
void MapBlockInit(MapFile*, MapBlockSlot*, uint16_t) {}
int16_t MapBlockRead(MapFile*, MapBlockSlot*, uint32_t) { return 0; }
int16_t MapBlockWrite(MapFile*, MapBlockSlot*, uint32_t) { return 0; }

}  // namespace layerio
