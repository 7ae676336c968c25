// The object-file family of the C interface: the bodies of the exported
// pipObject* calls. Each takes the pipObjectFileObject in place of its
// handle and returns what the exported call returns; the search itself runs
// through the dispatch of boundary/search.h.
//
// These bodies add the buffered containing search: pipObjectFindFirst-
// ContainingEx collects, with growing radii up to the caller's, the regions
// containing the point (deepest first) and then the objects within reach
// (nearest first), and pipObjectFindNext hands them out one by one. While
// such a search is active (its cursor on a hit), the queries on the current
// object answer for the hit last handed out; every other find-first ends it.
//
// Contracts on the border cases:
//   - A call that fills a name buffer sets its first byte to 0 first; a
//     buffer with a size below 1 gives -1.
//   - Attribute names come out as names do: at most size - 1 characters and
//     a NUL.
//   - pipObjectFindFirstNearest and ...NearestEx refuse a count above 65536.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "boundary/polysrch.h"
#include "boundary/search.h"
#include "zonelib.h"

inline constexpr const char* kCollectorMemoryText = "Unable to allocate the required memory.";
inline constexpr double kRadiusGrowth = 1.414;

// The hits of one buffered search, over every pass: each object is a hit at
// most once.
class HitCollector {
 public:
  explicit HitCollector(pipObjectFileObject& file) : file_(file) {}

  // Runs the rectangle search over rect: each object not seen before becomes
  // a hit when it contains (x, y) or lies within maximum feet of it. 0, or
  // -1 when the search fails.
  int32_t Collect(const SpatialRect& rect, int32_t x, int32_t y, int32_t maximum);
  const std::vector<std::unique_ptr<SpatialPolygonNode>>& Hits() const { return hits_; }

 private:
  pipObjectFileObject& file_;
  std::vector<std::unique_ptr<SpatialPolygonNode>> hits_;
  std::unordered_set<uint64_t> seen_;
};

// The first radius of a buffered search for the caller's maximum: the
// maximum divided by a power of 1.414 (126 for 1000, 1112 for 100000), the
// maximum itself below 200.
int32_t BufferedFirstRadius(int32_t maximum);
// The radius after radius: 1.414 times it, at most the maximum.
int32_t BufferedNextRadius(int32_t radius, int32_t maximum);

int32_t pipObjectFileOpenIntern(pipContext* context, const char* path, uint32_t mode,
                                pipObjectFileObject** out);
// Deletes *file and nulls it; a null pointer or object is accepted. 1.
int32_t pipObjectFileCloseIntern(pipObjectFileObject** file);
int32_t pipObjectFileValidateIntern(pipContext* context, const char* path);
int32_t pipObjectHandleFileQueryIntern(pipObjectFileObject* file, pipObjectFileInfoStruct* info);
int32_t pipObjectHandleFileQueryExIntern(pipObjectFileObject* file,
                                         pipObjectFileExtraInfoStruct* info);
int32_t pipObjectIsTaxFileIntern(pipObjectFileObject* file);

int32_t pipObjectFindFirstContainingIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                           uint32_t radius, char* name, int32_t size);
int32_t pipObjectFindFirstContainingExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                             uint32_t radius, char* name, int32_t size);
int32_t pipObjectFindNextIntern(pipObjectFileObject* file, char* name, int32_t size);
int32_t pipObjectFindNextExIntern(pipObjectFileObject* file, char* name, uint32_t size,
                                  uint32_t precision, double* percentage);
int32_t pipObjectFindFirstRectIntern(pipObjectFileObject* file, int32_t x1, int32_t y1, int32_t x2,
                                     int32_t y2, char* name, int32_t size);
int32_t pipObjectFindFirstNameIntern(pipObjectFileObject* file, const char* pattern, char* name,
                                     int32_t size);
int32_t pipObjectFindFirstNearestIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                        uint32_t count, char* name, int32_t size);
int32_t pipObjectFindFirstNearestExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                          uint32_t count, const char* criteria, char* name,
                                          int32_t size);
int32_t pipObjectFindFirstPolygonIntern(pipObjectFileObject* file, const int32_t* points,
                                        const uint32_t* partCounts, uint32_t partCount, char* name,
                                        int32_t size);
int32_t pipObjectFindFirstPolygonExIntern(pipObjectFileObject* file, const int32_t* points,
                                          const uint32_t* partCounts, uint32_t partCount,
                                          char* name, int32_t size, uint32_t precision,
                                          double* percentage);

int32_t pipObjectValidateFilterCriteriaIntern(pipObjectFileObject* file, const char* criteria);
int32_t pipObjectGetSearchDistanceIntern(pipObjectFileObject* file);
int32_t pipObjectSetSearchDistanceIntern(pipObjectFileObject* file, uint32_t distance);

int32_t pipObjectGetInfoIntern(pipObjectFileObject* file, pipObjectInfoStruct* info);
int32_t pipObjectGetNumCoordsIntern(pipObjectFileObject* file, uint32_t* points, uint32_t* parts);
// maxPoints counts points (pairs); maxParts the entries of partCounts.
int32_t pipObjectGetCoordsIntern(pipObjectFileObject* file, int32_t* points, uint32_t maxPoints,
                                 uint32_t* partCounts, int32_t maxParts, uint32_t* parts);
int32_t pipObjectGetHandle64Intern(pipObjectFileObject* file, uint32_t* low, uint32_t* high);
int32_t pipObjectGetHandleIntern(pipObjectFileObject* file);
int32_t pipObjectFileGoto64Intern(pipObjectFileObject* file, uint32_t low, uint32_t high);
int32_t pipObjectDistanceToBorderIntern(pipObjectFileObject* file, int32_t x, int32_t y);
int32_t pipObjectDistanceToBorderExIntern(pipObjectFileObject* file, int32_t x, int32_t y,
                                          uint32_t* nearestX, uint32_t* nearestY);
int32_t pipPointInPolyIntern(pipObjectFileObject* file, int32_t x, int32_t y);

int32_t pipObjectGetAttributeCountIntern(pipObjectFileObject* file, int32_t* count);
int32_t pipObjectGetAttributeNameByNumberIntern(pipObjectFileObject* file, uint32_t n, char* buffer,
                                                int32_t size);
int32_t pipObjectGetAttributeInfoByNameIntern(pipObjectFileObject* file, const char* name,
                                              pipAttributeInfoStruct* info);
int32_t pipObjectGetAttributeInfoByNumberIntern(pipObjectFileObject* file, uint32_t n,
                                                pipAttributeInfoStruct* info);
