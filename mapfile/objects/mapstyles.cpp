// Style tables of a map-object file (see mapstyles.h).
#include "mapfile/objects/mapstyles.h"

namespace layerio {

int MapStyleRecordLength(uint8_t sort) {
  switch (sort) {
    case kMapStyleSortPen: return kMapStyleRecordHead + kMapPenBodySize;
    case kMapStyleSortBrush: return kMapStyleRecordHead + kMapBrushBodySize;
    case kMapStyleSortName: return kMapStyleRecordHead + kMapNameBodySize;
    case kMapStyleSortSymbol: return kMapStyleRecordHead + kMapSymbolBodySize;
    default: return 0;
  }
}

int16_t MapStylesLoad(MapFile*) { return 1; }
int16_t MapStyleUseCount(MapFile*, uint32_t, int, uint32_t*) { return 0; }
int16_t MapStyleRecordAdd(MapFile*, const MapStyleRecord*, uint32_t*) { return 0; }
int16_t MapPenIndex(MapFile*, const PenStyle*, uint8_t*, int) { return 0; }
int16_t MapBrushIndex(MapFile*, const BrushStyle*, uint8_t*, int) { return 0; }
int16_t MapSymbolIndex(MapFile*, const SymbolStyle*, uint8_t*, int) { return 0; }
int16_t MapNameIndex(MapFile*, const char*, uint8_t*, int) { return 0; }
int16_t MapCustomNameIndex(MapFile*, const char*, uint8_t*, int) { return 0; }
int16_t MapPenLookup(MapFile*, uint8_t, PenStyle*, int) { return 0; }
int16_t MapBrushLookup(MapFile*, uint8_t, BrushStyle*, int) { return 0; }
int16_t MapSymbolLookup(MapFile*, uint8_t, SymbolStyle*, int) { return 0; }
int16_t MapNameLookup(MapFile*, uint8_t, char*, int) { return 0; }
int16_t MapCustomNameLookup(MapFile*, uint8_t, char*, int) { return 0; }
int32_t MapPenSimilarity(const PenStyle*, const PenStyle*) { return 0; }
int32_t MapBrushSimilarity(const BrushStyle*, const BrushStyle*) { return 0; }
int32_t MapSymbolSimilarity(const SymbolStyle*, const SymbolStyle*) { return 0; }

}  // namespace layerio
