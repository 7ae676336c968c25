// The open and close workers behind every handle.
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"

namespace layerio {

PXTableHandle OpenTableWorker(const char*, uint32_t, const char*) { return NotBuilt(); }
uint16_t CloseTableWorker(PXTableHandle, uint16_t) { return NotBuilt(); }

}  // namespace layerio

// 135
LAYERIO_API PXTableHandle PXOpenTable(const char* path, uint32_t mode) {
  return layerio::InitCall(PXTableHandle{0}, [&]() -> PXTableHandle {
    return layerio::OpenTableWorker(path, mode, nullptr);
  });
}

// 102
LAYERIO_API uint16_t PXCloseTable(PXTableHandle table) {
  return layerio::TableCall(table, layerio::kNeedNative, uint16_t{0},
                            [&](layerio::HandleSlot&) -> uint16_t {
                              return layerio::CloseTableWorker(table, 1);
                            });
}
