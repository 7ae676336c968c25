// The exported field-index entries: creating and dropping a column's index,
// listing the indexed columns and searching an index by a key text.
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"

using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::NotBuilt;
using layerio::TableCall;
using Slot = layerio::HandleSlot;

namespace {
constexpr uint16_t kFail = 0;
}  // namespace

// 104
LAYERIO_API uint16_t PXCreateIndex(PXTableHandle table, uint32_t) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail,
                   [&](Slot&) -> uint16_t { return NotBuilt(); });
}

// 108
LAYERIO_API uint16_t PXDropIndex(PXTableHandle table, uint32_t) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail,
                   [&](Slot&) -> uint16_t { return NotBuilt(); });
}

// 122
LAYERIO_API uint16_t PXGetIndexList(PXTableHandle table, char* text) {
  return TableCall(table, kNeedNative, kFail, [&](Slot&) -> uint16_t {
    if (text) text[0] = '\0';
    return NotBuilt();
  });
}

// 131
LAYERIO_API uint32_t PXGetFieldIndexId(PXTableHandle table, uint32_t) {
  return TableCall(table, kNeedNative, uint32_t{0},
                   [&](Slot&) -> uint32_t { return 0; });
}

// 132
LAYERIO_API uint16_t PXFindIndexed(PXTableHandle table, uint32_t, const char*, uint32_t,
                                   uint32_t* row) {
  return TableCall(table, kNeedNative, kFail, [&](Slot&) -> uint16_t {
    if (row) *row = 0;
    return NotBuilt();
  });
}
