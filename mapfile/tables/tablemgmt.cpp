// Making, describing and removing whole tables through the interface.
#include <cstring>

#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"

using layerio::InitCall;
using layerio::kNeedHandle;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::NotBuilt;
using layerio::TableCall;
using Slot = layerio::HandleSlot;

namespace {

constexpr uint16_t kFail = 0;
constexpr PXTableHandle kNoHandle = 0;

uint16_t TableNotBuilt(PXTableHandle table, unsigned checks) {
  return TableCall(table, checks, kFail, [](Slot&) -> uint16_t { return NotBuilt(); });
}

}  // namespace

// 105
LAYERIO_API uint16_t PXCreateMap(PXTableHandle table, const PXCoordSys*) {
  return TableNotBuilt(table, kNeedWrite | kNeedNative);
}

// 106
LAYERIO_API PXTableHandle PXCreateTable(const char*, const PXFieldInfo*, uint32_t,
                                        const PXCoordSys*, uint32_t) {
  return InitCall(kNoHandle, []() -> PXTableHandle { return NotBuilt(); });
}

// 109
LAYERIO_API uint16_t PXDropMap(PXTableHandle table) {
  return TableNotBuilt(table, kNeedWrite | kNeedNative);
}

// 110
LAYERIO_API uint16_t PXDeleteTable(PXTableHandle table) {
  return TableNotBuilt(table, kNeedWrite);
}

// 128
LAYERIO_API uint16_t PXGetTableVersion(PXTableHandle table, uint32_t*, uint32_t*) {
  return TableNotBuilt(table, kNeedNative);
}

// 129
LAYERIO_API uint16_t PXGetTablePath(PXTableHandle table, char*) {
  return TableNotBuilt(table, kNeedHandle);
}

// 130
LAYERIO_API uint16_t PXHasMemoFields(PXTableHandle table) {
  return TableNotBuilt(table, kNeedWrite);
}

// 137
LAYERIO_API PXTableHandle PXRegisterTable(const char*, const char*, uint32_t) {
  return InitCall(kNoHandle, []() -> PXTableHandle { return NotBuilt(); });
}

// 138
LAYERIO_API uint16_t PXRenameTable(PXTableHandle table, const char*) {
  return TableNotBuilt(table, kNeedWrite);
}
