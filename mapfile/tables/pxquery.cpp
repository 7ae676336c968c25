// The query-definition exports: PXGetQueryInfo reads a query definition into
// records the caller frees with PXFreeQueryInfo.
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"

using layerio::InitCall;
using layerio::NotBuilt;
using layerio::Unguarded;

// 114
LAYERIO_API void PXFreeQueryInfo(PXQueryInfo** info) {
  Unguarded(0, [&] {
    if (info) *info = nullptr;
    return 0;
  });
}

// 136
LAYERIO_API uint16_t PXGetQueryInfo(const char*, PXQueryInfo** info) {
  return InitCall(uint16_t{0}, [&]() -> uint16_t {
    if (info) *info = nullptr;
    return NotBuilt();
  });
}
