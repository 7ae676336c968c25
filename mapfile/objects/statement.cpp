// The object statement writer.
#include "mapfile/objects/statement.h"

namespace layerio {

double CoordRoundSignificant(double value, int32_t, int32_t) { return value; }

int ObjWriteByKind(FileHandle, const GeomObject*, const ObjWriteTransform*, const char*, int) {
  return 0;
}

}  // namespace layerio
