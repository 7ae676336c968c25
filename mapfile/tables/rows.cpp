// Rows, fields and the row text of an open native table: the counts, the
// public field records, and reading, appending and rewriting one row with
// its map object.
#include <cstring>

#include "mapfile/tables/frame.h"

using layerio::NotBuilt;
using layerio::TableCall;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using Slot = layerio::HandleSlot;

namespace {
constexpr uint16_t kFail = 0;
}  // namespace

// 113
LAYERIO_API uint16_t PXFetchRow(PXTableHandle table, uint32_t, char* rowText, PXObject* object) {
  return TableCall(table, kNeedNative, kFail, [&](Slot&) -> uint16_t {
    if (rowText) rowText[0] = '\0';
    if (object) std::memset(object, 0, sizeof *object);
    return NotBuilt();
  });
}

// 115
LAYERIO_API uint16_t PXGetFieldInfo(PXTableHandle table, PXFieldInfo*) {
  return TableCall(table, kNeedNative, kFail, [](Slot&) -> uint16_t { return NotBuilt(); });
}

// 125
LAYERIO_API uint16_t PXGetFieldCount(PXTableHandle table, uint32_t*) {
  return TableCall(table, kNeedNative, kFail, [](Slot&) -> uint16_t { return NotBuilt(); });
}

// 127
LAYERIO_API uint16_t PXGetRowCount(PXTableHandle table, uint32_t*) {
  return TableCall(table, kNeedNative, kFail, [](Slot&) -> uint16_t { return NotBuilt(); });
}

// 134
LAYERIO_API uint16_t PXInsertRow(PXTableHandle table, const char*, const PXObject*, uint32_t* row) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail, [&](Slot&) -> uint16_t {
    if (row) *row = 0;
    return NotBuilt();
  });
}

// 143
LAYERIO_API uint16_t PXUpdateRow(PXTableHandle table, uint32_t, const char*, const PXObject*) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail,
                   [](Slot&) -> uint16_t { return NotBuilt(); });
}
