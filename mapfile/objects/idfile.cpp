// The object index file (.ID): placeholder bodies.
#include "mapfile/objects/mapfile.h"

namespace layerio {

int16_t IdFileCreate(IdFileAccess*, FileHandle, int) { return 0; }
int16_t IdFileOpen(IdFileAccess*, FileHandle, int) { return 0; }
int16_t IdFileRead(int32_t, uint32_t*, IdFileAccess*) { return 0; }
int16_t IdFileWrite(int32_t, uint32_t, IdFileAccess*) { return 0; }
int16_t IdFileFlush(IdFileAccess*) { return 0; }

}  // namespace layerio
