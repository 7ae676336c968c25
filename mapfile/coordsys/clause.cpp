// The CoordSys clause: reader and writer (placeholder bodies).
#include "mapfile/coordsys/coordsys.h"

namespace layerio {

bool CoordSysClauseParse(int16_t*, CoordSysParams*, DRect*) { return false; }
bool CoordSysParseText(CoordSys*, const char*, bool) { return false; }
bool CoordSysWriteClause(const CoordSys*, char* text, size_t size, bool) {
  if (size) text[0] = 0;
  return false;
}

}  // namespace layerio
