// The five metadata entries of the interface.
#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"

using layerio::HandleSlot;
using layerio::kNeedWrite;
using layerio::TableCall;

// 107
LAYERIO_API uint16_t PXDeleteMetadataKey(PXTableHandle table, const char*) {
  return TableCall(table, kNeedWrite, uint16_t{0},
                   [](HandleSlot&) -> uint16_t { return layerio::NotBuilt(); });
}

// 112
LAYERIO_API uint16_t PXEnumMetadata(PXTableHandle table, const char*, PXMetadataCallback) {
  return TableCall(table, 0, uint16_t{0},
                   [](HandleSlot&) -> uint16_t { return layerio::NotBuilt(); });
}

// 123
LAYERIO_API uint16_t PXGetMetadataValue(PXTableHandle table, const char*, char*, uint32_t) {
  return TableCall(table, 0, uint16_t{0},
                   [](HandleSlot&) -> uint16_t { return layerio::NotBuilt(); });
}

// 141
LAYERIO_API uint16_t PXSetMetadataValue(PXTableHandle table, const char*, const char*) {
  return TableCall(table, kNeedWrite, uint16_t{0},
                   [](HandleSlot&) -> uint16_t { return layerio::NotBuilt(); });
}

// 146
LAYERIO_API uint16_t PXSaveMetadata(PXTableHandle table) {
  return TableCall(table, kNeedWrite, uint16_t{0},
                   [](HandleSlot&) -> uint16_t { return layerio::NotBuilt(); });
}
