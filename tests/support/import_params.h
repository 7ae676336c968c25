// The import parameter block as gsbbuild fills it for its inputs, for tests
// and benchmarks that build boundary files through the import calls. The
// arguments follow the block's field order.
#pragma once

#include <cstdint>
#include <cstring>

#include "zonelib.h"

namespace testsupport {

inline constexpr int32_t kImportPointLimit = 5000000;
inline constexpr int32_t kImportPolygonLimit = 15000;

inline pipImportParamStruct ImportParams(int32_t pointLimit = kImportPointLimit,
                                         int32_t polygonLimit = kImportPolygonLimit,
                                         uint32_t coordinateKind = 1, uint32_t flags = 0) {
  pipImportParamStruct p;
  std::memset(&p, 0, sizeof p);
  p.pointLimit = pointLimit;
  p.polygonLimit = polygonLimit;
  p.coordinateKind = coordinateKind;
  p.flags = flags;
  return p;
}

}  // namespace testsupport
