// The entries of Layerio's interface that Zonelib binds, standing in until
// the library itself is built: the library never becomes initialised, so
// every entry fails the way it does before PXInitialize.
#include "layerio.h"

LAYERIO_API uint16_t PXInitialize(uint32_t) { return 0; }
LAYERIO_API uint16_t PXShutdown(void) { return 0; }
LAYERIO_API int32_t PXGetLastError(void) { return PX_ERROR_NOT_INITIALISED; }
LAYERIO_API PXTableHandle PXOpenTable(const char*, uint32_t) { return 0; }
LAYERIO_API uint16_t PXCloseTable(PXTableHandle) { return 0; }
LAYERIO_API uint16_t PXGetRowCount(PXTableHandle, uint32_t*) { return 0; }
LAYERIO_API uint16_t PXGetFieldCount(PXTableHandle, uint32_t*) { return 0; }
LAYERIO_API uint16_t PXGetObjectCounts(PXTableHandle, uint32_t*, uint32_t*, uint32_t*) {
  return 0;
}
LAYERIO_API uint16_t PXGetFieldInfo(PXTableHandle, PXFieldInfo*) { return 0; }
LAYERIO_API uint16_t PXFetchRow(PXTableHandle, uint32_t, char*, PXObject*) { return 0; }
