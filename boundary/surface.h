// Two small families of the C interface over the rest of the engine.
//
// The overlap check: one OverlapCheck per handle (type 6), filled with rings
// of set A and set B; its failures go to the error object of the context
// that created it.
//
// Surface files: boundary files whose regions are triangles carrying a
// plane in their second name, "a|b|c|d": value = a x + b y + c with x and y
// in degrees, d the divisor of the triangle's point weights. The region's
// name holds three texts "t1|t2|t3". Numbers and texts are split at '|' as
// strtok does (empty pieces skipped); a missing number counts as 0, a
// missing text as empty. Values are cut to whole numbers and held in the
// 32-bit range; a d of 0 is a surface without slope: the weights are 0.
// Surface handles are object-file handles.
#pragma once

#include <cstdint>
#include <vector>

#include "boundary/mainintn.h"
#include "boundary/objfile.h"
#include "boundary/overlap.h"
#include "zonelib.h"

inline constexpr const char* kOverlapMemoryFailText =
    "Unable to allocate required memory for the operation.";
inline constexpr int32_t kOverlapDefaultPrecision = 100;
inline constexpr int32_t kSurfaceNameBufferSize = 124;

class pipOverlapCheckObject {
 public:
  explicit pipOverlapCheckObject(pipErrorRef error) : error_(std::move(error)) {}
  OverlapCheck& Check() { return check_; }
  pipError& Error() { return *error_; }

 private:
  pipErrorRef error_;
  OverlapCheck check_;
};

template <>
struct HandleKind<pipOverlapCheckObject> {
  static constexpr uint32_t kType = kHandleOverlap;
  static void Discard(pipOverlapCheckObject* check) { delete check; }
};

int32_t pipInitializeOverlapCheckIntern(pipContext* context, pipOverlapCheckObject** out);
int32_t pipTerminateOverlapCheckIntern(pipOverlapCheckObject* check);
// set 'A' or 'B'.
int32_t pipAddRegionPolygonIntern(pipOverlapCheckObject* check, char set, uint32_t count,
                                  const int32_t* points);
int32_t pipClearRegionPolygonIntern(pipOverlapCheckObject* check, bool a, bool b);
int32_t pipCheckForRegionOverlapExIntern(pipOverlapCheckObject* check, uint32_t precision,
                                         double* percentage);

// The numbers of a second name "a|b|c|d" (missing ones 0).
struct SurfacePlane {
  double a = 0, b = 0, c = 0, d = 0;
};
SurfacePlane ParseSurfacePlane(const char* text);
// The texts of a name "t1|t2|t3" (missing ones empty).
std::vector<std::string> SplitSurfaceTexts(const char* text, size_t count);

int32_t pipSurfFindFirstValueIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                    int32_t* value);
int32_t pipSurfFindNextValueIntern(pipObjectFileObject* file, int32_t* value);
int32_t pipSurfGetCoordsIntern(pipObjectFileObject* file, int32_t* points, int32_t size,
                               uint32_t* count);
int32_t pipSurfGetInfoIntern(pipObjectFileObject* file, pipSurfInfo* info);
