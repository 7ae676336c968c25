// A stand-in object store for the interface's tests: only its header (kind,
// coordinate system, object counts) is filled. Made apart from the tests that
// open table slots, as the store's header and the table's cannot be included
// together.
#pragma once

#include <cstdint>

namespace layerio {
struct CoordSys;
struct ObjStore;
}  // namespace layerio

namespace pxtest {

layerio::ObjStore* NewHeaderStore(int16_t kind, const layerio::CoordSys* cs, uint32_t points,
                                  uint32_t lines, uint32_t regions);
void DeleteHeaderStore(layerio::ObjStore* store);

}  // namespace pxtest
