// A stand-in object store for the interface's tests: only its header (kind,
// coordinate system, object counts) is filled. Made apart from the tests that
// open table slots, so that they need not see the store's record.
#pragma once

#include <cstdint>

namespace layerio {
struct CoordSys;
struct ObjStore;
}  // namespace layerio

namespace pxtest {

// The store kinds (objstore.h's kObjStoreMapFile and kObjStoreMemory).
inline constexpr int16_t kStoreMapFile = 1;
inline constexpr int16_t kStoreMemory = 2;

layerio::ObjStore* NewHeaderStore(int16_t kind, const layerio::CoordSys* cs, uint32_t points,
                                  uint32_t lines, uint32_t regions);
void DeleteHeaderStore(layerio::ObjStore* store);

}  // namespace pxtest
