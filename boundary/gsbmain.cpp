// The gsb* calls of Zonelib: each exported function is its frame (cframe.h)
// around a GSBObject member. Their handles come from the one handle table,
// numbered so that a closed handle's number is never given again (a stale
// handle names nothing); a call holds its object alive even if another
// thread closes the handle meanwhile.
#include <memory>
#include <new>

#include "boundary/cframe.h"
#include "boundary/spatial.h"
#include "zonelib.h"

template <>
struct HandleKind<GSBObject> {
  static constexpr uint32_t kType = kHandleGsbObject;
  static void Discard(GSBObject* object) { delete object; }
};

ZONELIB_API CSpatial* makeSpatial(void) { return new (std::nothrow) CSpatial; }

ZONELIB_API int32_t gsbObjectFileOpen(uint32_t context, const char* path, uint32_t mode,
                                      int32_t version, uint32_t* handle) {
  if (!handle) return -1;
  *handle = 0;
  return Guarded(int32_t{-1}, [&] {
    auto object = std::make_unique<GSBObject>(context, path, mode, version);
    const bool valid = object->IsValid();
    *handle = AdoptHandle(object.release(), HandleTable::kNeverReissued);
    return *handle && valid ? 1 : -1;
  });
}

ZONELIB_API int32_t gsbObjectFileClose(uint32_t handle) {
  return DestroyHandle<GSBObject>(handle, [](GSBObject* o) {
    const bool valid = o->IsValid();
    delete o;
    return valid ? 1 : -1;
  });
}

ZONELIB_API int32_t gsbObjectHandleFileQuery(uint32_t handle, pipObjectFileInfoStruct* info) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.HandleFileQuery(info); });
}
ZONELIB_API int32_t gsbObjectHandleFileQueryEx(uint32_t handle,
                                               pipObjectFileExtraInfoStruct* info) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.HandleFileQueryEx(info); });
}
ZONELIB_API int32_t gsbObjectGetAttributeCount(uint32_t handle, int32_t* count) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.GetAttributeCount(count); });
}
ZONELIB_API int32_t gsbObjectGetAttributeInfoByNumber(uint32_t handle, uint32_t n,
                                                      gdlAttributeInfoStruct* info) {
  return WithHandle<GSBObject>(handle,
                               [&](GSBObject& o) { return o.GetAttributeInfoByNumber(n, info); });
}
ZONELIB_API int32_t gsbObjectGetAttributeInfoByName(uint32_t handle, const char* name,
                                                    gdlAttributeInfoStruct* info) {
  return WithHandle<GSBObject>(handle,
                               [&](GSBObject& o) { return o.GetAttributeInfoByName(name, info); });
}
ZONELIB_API int32_t gsbObjectFindFirstContaining(uint32_t handle, int32_t x, int32_t y,
                                                 uint32_t radius, char* name, int32_t size) {
  return WithHandle<GSBObject>(
      handle, [&](GSBObject& o) { return o.FindFirstContaining(x, y, radius, name, size); });
}
ZONELIB_API int32_t gsbObjectFindNext(uint32_t handle, char* name, int32_t size) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.FindNext(name, size); });
}
ZONELIB_API int32_t gsbObjectFindFirstNearest(uint32_t handle, int32_t x, int32_t y, uint32_t count,
                                              char* name, int32_t size) {
  return WithHandle<GSBObject>(
      handle, [&](GSBObject& o) { return o.FindFirstNearest(x, y, count, name, size); });
}
ZONELIB_API int32_t gsbObjectFindFirstNearestEx(uint32_t handle, int32_t x, int32_t y,
                                                uint32_t count, const char* criteria, char* name,
                                                int32_t size) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) {
    return o.FindFirstNearestEx(x, y, count, criteria, name, size);
  });
}
ZONELIB_API int32_t gsbObjectSetSearchDistance(uint32_t handle, uint32_t distance) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.SetSearchDistance(distance); });
}
ZONELIB_API int32_t gsbObjectGetInfo(uint32_t handle, pipObjectInfoStruct* info) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.GetInfo(info); });
}
ZONELIB_API int32_t gsbObjectDistanceToBorder(uint32_t handle, int32_t x, int32_t y) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.DistanceToBorder(x, y); });
}
ZONELIB_API int32_t gsbObjectFindNearestPointOrLine(uint32_t handle, const CGsbShape* query,
                                                    CGsbShape** result, int32_t kind,
                                                    int32_t distance) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) {
    return o.FindNearestPointOrLine(query, result, kind, distance);
  });
}
ZONELIB_API int32_t gsbObjectFindNextPointOrLine(uint32_t handle, CGsbShape** result,
                                                 int32_t kind) {
  return WithHandle<GSBObject>(handle,
                               [&](GSBObject& o) { return o.FindNextPointOrLine(result, kind); });
}
ZONELIB_API int32_t gsbObjectFindPolygonOverlapPercentage(uint32_t handle, const CGsbShape* query,
                                                          CGsbShape** result, double* percentage) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) {
    return o.FindPolygonOverlapPercentage(query, result, percentage);
  });
}
ZONELIB_API int32_t gsbObjectFindNextPolygonOverlapPercentage(uint32_t handle, CGsbShape** result,
                                                              double* percentage) {
  return WithHandle<GSBObject>(
      handle, [&](GSBObject& o) { return o.FindNextPolygonOverlapPercentage(result, percentage); });
}
ZONELIB_API int32_t gsbObjectGetHandle(uint32_t handle) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) {
    uint32_t low = 0, high = 0;
    return o.GetHandle(&low, &high) == 1 ? static_cast<int32_t>(low) : -1;
  });
}
ZONELIB_API int32_t gsbObjectFileGoto(uint32_t handle, uint32_t offset) {
  return WithHandle<GSBObject>(handle, [&](GSBObject& o) { return o.FileGoto(offset, 0); });
}
