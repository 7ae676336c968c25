// The map object's life cycle, its buffers and their ownership, the builders
// of parts, texts, multipoints and collections, and the queries.
#include <cstring>
#include <limits>

#include "mapfile/foundation/error.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/geometry.h"

namespace layerio {

namespace {

// The process-wide scratch buffer and its size.
void* gScratch = nullptr;

int IsPolyKind(int kind) { return kind == kGeomPolyline || kind == kGeomRegion; }

int HasDataBuffer(int kind) {
  return kind == kGeomPolyline || kind == kGeomRegion || kind == kGeomText ||
         kind == kGeomItems12 || kind == kGeomItems24 || kind == kGeomMultipoint ||
         kind == kGeomCollection;
}

int16_t GrowthError(const GeomObject* object) {
  return object->kind == kGeomPolyline ? kErrPolylineMemory : kErrRegionMemory;
}

unsigned char* Bytes(const GeomObject* object) {
  return static_cast<unsigned char*>(object->data);
}

uint32_t PolyPointCount(const GeomObject* object) {
  const GeomPolyFields& p = object->u.poly;
  uint64_t headers = uint64_t{kGeomPartSize} * p.partCount;
  return p.dataSize > headers ? static_cast<uint32_t>((p.dataSize - headers) / kGeomPointSize)
                              : 0;
}

// The bytes an object may use in its data buffer without growing it.
size_t DataCapacity(const GeomObject* object) {
  if (!object->data) return 0;
  if (object->bufferFlags & kGeomBorrowed) {
    // Somebody else's block: only what is in use is known to be there.
    GeomBufferSizes s;
    GeomObjectSizes(object, &s);
    return s.data;
  }
  return MemSize(&object->data);
}

// Grows the data buffer to hold size bytes, keeping its contents. A
// read-only buffer refuses; so does a borrowed one that would have to grow,
// since its block is not this object's to reallocate.
int GrowData(GeomObject* object, size_t size) {
  if (object->bufferFlags & kGeomReadOnly) return 0;
  if (object->data && size <= DataCapacity(object)) return 1;
  if (object->bufferFlags & kGeomBorrowed) return 0;
  if (object->data && object->data == gScratch) {
    if (!GeomScratchReserve(size, nullptr, 1)) return 0;
    object->data = gScratch;
    return 1;
  }
  return GeomBufferReserve(size, &object->data, nullptr, 1);
}

// Grows a value array to hold count values; a borrowed array must already
// hold them.
int GrowValues(GeomObject* object, double** values, size_t count, size_t used) {
  size_t size = count * sizeof(double);
  if (object->bufferFlags & kGeomBorrowed) return *values && count <= used ? 1 : 0;
  void* block = *values;
  if (!GeomBufferReserve(size, &block, nullptr, 1)) return 0;
  *values = static_cast<double*>(block);
  return 1;
}

void FillNone(double* values, size_t count) {
  double none = GeomValueNone();
  for (size_t i = 0; i < count; ++i) values[i] = none;
}

// A part's points lie inside the data buffer.
int PartIsSound(const GeomObject* object, const GeomPart* part) {
  if (part->pointCount < 0) return 0;
  uint64_t headers = uint64_t{kGeomPartSize} * object->u.poly.partCount;
  uint64_t end = uint64_t{part->position} + uint64_t{kGeomPointSize} * part->pointCount;
  return part->position >= headers && end <= object->u.poly.dataSize;
}

GeomObject* CollectionPart(const GeomObject* object, int slot) {
  const GeomCollectionFields& c = object->u.collection;
  return slot == 0 ? c.region : slot == 1 ? c.polyline : c.multipoint;
}

MemHandle* CollectionHandle(GeomObject* object, int slot) {
  return slot == 0 ? &object->regionHandle
                   : slot == 1 ? &object->polylineHandle : &object->multipointHandle;
}

GeomObject** CollectionSlot(GeomObject* object, int slot) {
  GeomCollectionFields& c = object->u.collection;
  return slot == 0 ? &c.region : slot == 1 ? &c.polyline : &c.multipoint;
}

// Drops the part objects a record refers to: destroyed when they are its
// own, forgotten when borrowed.
void DropParts(GeomObject* object) {
  int own = !(object->bufferFlags & kGeomBorrowed);
  for (int slot = 0; slot < 3; ++slot) {
    MemHandle* h = CollectionHandle(object, slot);
    if (own && *h) GeomObjectDestroy(*h);
    *h = nullptr;
  }
  if (object->kind == kGeomCollection) {
    object->u.collection.region = object->u.collection.polyline = nullptr;
    object->u.collection.multipoint = nullptr;
  }
}

}  // namespace

double GeomValueNone() {
  double d;
  uint64_t bits = kGeomValueNone;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// ----- kind groups -----

int GeomKindIsArea(int kind) { return kind >= kGeomRegion && kind <= kGeomEllipse ? 1 : 0; }

int GeomKindIsLinear(int kind) { return kind >= kGeomLine && kind <= kGeomPolyline ? 1 : 0; }

int GeomKindIsPoint(int kind) { return kind == kGeomPoint || kind == kGeomMultipoint ? 1 : 0; }

int GeomKindHasBrush(int kind) {
  return kind == kGeomRegion || (kind >= kGeomRect && kind <= kGeomFrame) ? 1 : 0;
}

// ----- the scratch buffer -----

int GeomScratchInit() {
  if (gScratch) return 1;
  return MemAllocZero(kGeomScratchSize, nullptr, &gScratch);
}

void GeomScratchShutdown() { MemFreePtr(&gScratch); }

void* GeomScratch() { return gScratch; }

int GeomBufferReserve(size_t size, void** buffer, size_t* usedSize, int keepContents) {
  if (keepContents && *buffer && MemSize(buffer) >= size) {
    if (usedSize) *usedSize = MemSize(buffer);
    return 1;
  }
  int ok = *buffer ? MemResize(size, nullptr, buffer) : MemAllocZero(size, nullptr, buffer);
  if (!ok) return 0;
  if (usedSize) *usedSize = MemSize(buffer);
  return 1;
}

int GeomScratchReserve(size_t size, size_t* usedSize, int keepContents) {
  return GeomBufferReserve(size, &gScratch, usedSize, keepContents);
}

int GeomScratchReserveLimited(size_t size, size_t* usedSize, int keepContents) {
  if (size > kGeomScratchLimit) return 0;
  return GeomScratchReserve(size, usedSize, keepContents);
}

// ----- life cycle -----

void GeomObjectInit(GeomObject* object, int kind) {
  std::memset(object, 0, sizeof *object);
  object->kind = static_cast<uint8_t>(kind);
  object->pen = StyleDefaults()->areaPen;
  object->brush = StyleDefaults()->brush;
}

void GeomObjectFree(GeomObject* object) {
  int own = !(object->bufferFlags & kGeomBorrowed);
  if (own && object->data && object->data != gScratch) MemFreePtr(&object->data);
  object->data = nullptr;
  if (own) {
    MemFreePtr(&object->values1);
    MemFreePtr(&object->values2);
  }
  object->values1 = object->values2 = nullptr;
  // Part objects left behind by a change of kind are freed as well.
  DropParts(object);
}

void GeomObjectDestroy(MemHandle handle) {
  GeomObject* object = static_cast<GeomObject*>(HandleLock(handle));
  if (!object) return;
  GeomObjectFree(object);
  MemFree(handle);
}

int GeomObjectAlloc(MemHandle* handle, GeomObject** object, int kind, int useScratch) {
  MemHandle h = nullptr;
  void* p = nullptr;
  *handle = nullptr;
  *object = nullptr;
  if (!MemAllocZero(sizeof(GeomObject), &h, &p)) return 0;
  GeomObject* o = static_cast<GeomObject*>(p);
  GeomObjectInit(o, kind);
  if (!GeomObjectReset(o, kind, useScratch)) {
    GeomObjectDestroy(h);
    return 0;
  }
  GeomObjectSetStyle(o, *StyleDefaults());
  *handle = h;
  *object = o;
  return 1;
}

void GeomObjectSetKind(GeomObject* object, int kind) {
  object->kind = static_cast<uint8_t>(kind);
  object->flagA = object->flagB = 0;
  switch (kind) {
    case kGeomPolyline:
    case kGeomRegion:
      object->u.poly.partCount = 0;
      object->u.poly.dataSize = 0;
      object->u.poly.smooth &= ~1u;
      break;
    case kGeomText:
      object->u.text.length = 0;
      break;
    case kGeomMultipoint:
      object->u.multipoint.pointCount = 0;
      break;
    case kGeomCollection:
      object->u.collection.region = nullptr;
      object->u.collection.polyline = nullptr;
      object->u.collection.multipoint = nullptr;
      break;
    default:
      break;
  }
}

int GeomObjectReset(GeomObject* object, int kind, int useScratch) {
  GeomObjectSetKind(object, kind);
  if (useScratch) {
    object->data = gScratch;
    return 1;
  }
  if (!HasDataBuffer(kind)) return 1;
  if (object->bufferFlags & kGeomBorrowed) {
    // What was borrowed stays with its owner: the object starts afresh.
    object->data = nullptr;
    object->values1 = object->values2 = nullptr;
    object->regionHandle = object->polylineHandle = object->multipointHandle = nullptr;
  }
  object->bufferFlags &= ~(kGeomBorrowed | kGeomReadOnly);
  if (object->data == gScratch && gScratch) return 1;
  if (object->data) return MemResize(0, nullptr, &object->data);
  return MemAllocZero(0, nullptr, &object->data);
}

int GeomObjectSizes(const GeomObject* object, GeomBufferSizes* sizes) {
  GeomBufferSizes s{0, 0, 0};
  int result = 1;
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion: {
      s.data = object->u.poly.dataSize;
      size_t points = PolyPointCount(object);
      if (object->flagA) s.values1 = points * sizeof(double);
      if (object->flagB) s.values2 = points * sizeof(double);
      break;
    }
    case kGeomText:
      s.data = size_t{object->u.text.length} + 1;
      break;
    case kGeomItems12:
      s.data = size_t{12} * object->u.items.count;
      break;
    case kGeomItems24:
      s.data = size_t{24} * object->u.items.count;
      break;
    case kGeomMultipoint: {
      size_t bytes = size_t{kGeomPointSize} * object->u.multipoint.pointCount;
      s.data = bytes;
      if (object->flagA) s.values1 = bytes;
      if (object->flagB) s.values2 = bytes;
      break;
    }
    case kGeomCollection:
      for (int slot = 0; slot < 3; ++slot) {
        const GeomObject* part = CollectionPart(object, slot);
        if (!part) continue;
        GeomBufferSizes p;
        GeomObjectSizes(part, &p);
        s.data += p.data;
        s.values1 += p.values1;
        s.values2 += p.values2;
      }
      break;
    default:
      result = 0;
      break;
  }
  if (sizes) *sizes = s;
  return result;
}

int GeomObjectCopy(const GeomObject* source, GeomObject* target) {
  *target = *source;
  target->bufferFlags &= ~(kGeomBorrowed | kGeomReadOnly);
  target->data = nullptr;
  target->values1 = target->values2 = nullptr;
  target->regionHandle = target->polylineHandle = target->multipointHandle = nullptr;
  if (source->kind == kGeomCollection) {
    for (int slot = 0; slot < 3; ++slot) {
      *CollectionSlot(target, slot) = nullptr;
    }
    for (int slot = 0; slot < 3; ++slot) {
      const GeomObject* part = CollectionPart(source, slot);
      if (!part) continue;
      GeomObject* copy = GeomObjectClone(part);
      if (!copy) {
        DropParts(target);
        return 0;
      }
      *CollectionHandle(target, slot) = copy;
      *CollectionSlot(target, slot) = copy;
    }
    return 1;
  }
  GeomBufferSizes s;
  GeomObjectSizes(source, &s);
  if (source->data && HasDataBuffer(source->kind)) {
    if (!MemAllocZero(s.data, nullptr, &target->data)) return 0;
    if (s.data) std::memcpy(target->data, source->data, s.data);
  }
  const double* from[2] = {source->values1, source->values2};
  double** to[2] = {&target->values1, &target->values2};
  size_t size[2] = {s.values1, s.values2};
  int flag[2] = {source->flagA, source->flagB};
  for (int i = 0; i < 2; ++i) {
    if (!flag[i] || !from[i]) continue;
    void* block = nullptr;
    if (!MemAllocZero(size[i], nullptr, &block)) {
      MemFreePtr(&target->data);
      MemFreePtr(&target->values1);
      return 0;
    }
    if (size[i]) std::memcpy(block, from[i], size[i]);
    *to[i] = static_cast<double*>(block);
  }
  return 1;
}

GeomObject* GeomObjectClone(const GeomObject* source) {
  void* p = nullptr;
  if (!MemAllocZero(sizeof(GeomObject), nullptr, &p)) return nullptr;
  GeomObject* o = static_cast<GeomObject*>(p);
  if (!GeomObjectCopy(source, o)) {
    MemFree(p);
    return nullptr;
  }
  return o;
}

void GeomObjectSaveBuffers(const GeomObject* object, GeomBufferSave* save) {
  save->data = object->data;
  save->bits = object->bufferFlags & (kGeomBorrowed | kGeomReadOnly);
  save->regionHandle = object->regionHandle;
  save->polylineHandle = object->polylineHandle;
  save->multipointHandle = object->multipointHandle;
  save->values1 = object->values1;
  save->values2 = object->values2;
}

void GeomObjectRestoreBuffers(GeomObject* object, const GeomBufferSave* save) {
  object->data = save->data;
  object->bufferFlags = (object->bufferFlags & ~(kGeomBorrowed | kGeomReadOnly)) | save->bits;
  object->regionHandle = save->regionHandle;
  object->polylineHandle = save->polylineHandle;
  object->multipointHandle = save->multipointHandle;
  object->values1 = save->values1;
  object->values2 = save->values2;
  if (object->kind == kGeomCollection) {
    // A handle is the address of its block.
    object->u.collection.region = static_cast<GeomObject*>(HandleLock(save->regionHandle));
    object->u.collection.polyline = static_cast<GeomObject*>(HandleLock(save->polylineHandle));
    object->u.collection.multipoint =
        static_cast<GeomObject*>(HandleLock(save->multipointHandle));
  }
}

void GeomObjectCopyKeepBuffers(GeomObject* target, const GeomObject* source) {
  GeomBufferSave save;
  GeomObjectSaveBuffers(target, &save);
  *target = *source;
  GeomObjectRestoreBuffers(target, &save);
}

void* GeomObjectBuffer(const GeomObject* object) { return object->data; }

int GeomObjectHasBuffer(const GeomObject* object) { return object->data ? 1 : 0; }

int GeomObjectOwnsBuffer(const GeomObject* object) {
  return object->data && object->data != gScratch && !(object->bufferFlags & kGeomBorrowed);
}

int GeomObjectOwnsParts(const GeomObject* object) {
  return (object->bufferFlags & kGeomBorrowed) ? 0 : 1;
}

int GeomObjectBufferWritable(const GeomObject* object) {
  return object->data && !(object->bufferFlags & kGeomReadOnly);
}

// ----- parts -----

GeomPart* GeomParts(const GeomObject* object) {
  if (!IsPolyKind(object->kind) || !object->data || object->u.poly.partCount == 0) return nullptr;
  return static_cast<GeomPart*>(object->data);
}

IPoint* GeomPartPoints(const GeomObject* object, const GeomPart* part) {
  return reinterpret_cast<IPoint*>(Bytes(object) + part->position);
}

int GeomPartsReserve(GeomObject* object, uint32_t newParts, uint32_t newPoints,
                     GeomPart** partWalk) {
  if (!IsPolyKind(object->kind)) return 0;
  if (object->bufferFlags & kGeomReadOnly) return 0;
  uint64_t closing = 0;
  if (object->kind == kGeomRegion) closing = newParts ? newParts : 1;
  uint64_t needed = uint64_t{kGeomPartSize} * newParts +
                    uint64_t{kGeomPointSize} * (uint64_t{newPoints} + closing) +
                    object->u.poly.dataSize;
  if (needed > std::numeric_limits<uint32_t>::max()) {
    ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
    return 0;
  }
  void* old = object->data;
  size_t walkOffset = 0;
  if (partWalk && *partWalk && old) {
    walkOffset = reinterpret_cast<unsigned char*>(*partWalk) - static_cast<unsigned char*>(old);
  }
  int moved = 0;
  if (!object->data || needed > DataCapacity(object)) {
    if (!GrowData(object, needed + 80) && !GrowData(object, needed)) {
      ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
      return 0;
    }
    moved = object->data != old;
  }
  uint64_t points = (needed - uint64_t{kGeomPartSize} * (object->u.poly.partCount + newParts)) /
                    kGeomPointSize;
  GeomBufferSizes used;
  GeomObjectSizes(object, &used);
  double** arrays[2] = {&object->values1, &object->values2};
  int flags[2] = {object->flagA, object->flagB};
  size_t usedCount[2] = {used.values1 / sizeof(double), used.values2 / sizeof(double)};
  for (int i = 0; i < 2; ++i) {
    if (!flags[i]) continue;
    if (!GrowValues(object, arrays[i], points + 10, usedCount[i]) &&
        !GrowValues(object, arrays[i], points, usedCount[i])) {
      ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
      return 0;
    }
  }
  if (moved && partWalk && *partWalk) {
    *partWalk = reinterpret_cast<GeomPart*>(Bytes(object) + walkOffset);
  }
  return moved ? 2 : 1;
}

int GeomPartsAdd(GeomObject* object, uint32_t count, uint32_t points, int asOnePolygon,
                 uint32_t* firstIndex) {
  if (!IsPolyKind(object->kind) || count == 0) return 0;
  GeomPolyFields& p = object->u.poly;
  if (uint64_t{p.partCount} + count >= kGeomMaxParts) {
    ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
    return 0;
  }
  if (!GeomPartsReserve(object, count, points, nullptr)) return 0;
  unsigned char* bytes = Bytes(object);
  uint32_t shift = kGeomPartSize * count;
  uint32_t headers = kGeomPartSize * p.partCount;
  std::memmove(bytes + headers + shift, bytes + headers, p.dataSize - headers);
  GeomPart* parts = static_cast<GeomPart*>(object->data);
  for (uint32_t i = 0; i < p.partCount; ++i) parts[i].position += shift;
  p.dataSize += shift;
  for (uint32_t i = 0; i < count; ++i) {
    GeomPart& part = parts[p.partCount + i];
    part.pointCount = 0;
    part.following = (i == 0 && asOnePolygon) ? count - 1 : 0;
    IRectSetEmpty(&part.bounds);
    part.position = p.dataSize;
  }
  if (firstIndex) *firstIndex = p.partCount;
  p.partCount += count;
  return 1;
}

int GeomPartInsertPoints(GeomObject* object, GeomPart** partWalk, int32_t part, int32_t position,
                         const IPoint* points, int32_t count, const double* values1,
                         const double* values2) {
  if (!IsPolyKind(object->kind)) return 0;
  GeomPolyFields& p = object->u.poly;
  if (part < 0 || uint32_t(part) >= p.partCount || count < 0) return 0;
  if ((object->bufferFlags & kGeomReadOnly) || !GeomParts(object)) return 0;
  const GeomPart* target = &GeomParts(object)[part];
  if (!PartIsSound(object, target)) return 0;
  if (position < 0 || position > target->pointCount) return 0;
  if (count == 0) return 1;
  if (!points) return 0;
  int region = object->kind == kGeomRegion;
  int closing = region && target->pointCount == 0;
  if (region && !closing && position == target->pointCount) position = target->pointCount - 1;
  // Offsets survive the move of the buffer; addresses are taken after it.
  size_t walkIndex = 0;
  if (partWalk && *partWalk) walkIndex = *partWalk - GeomParts(object);
  if (!GeomPartsReserve(object, 0, uint32_t(count), nullptr)) return 0;
  if (partWalk && *partWalk) *partWalk = GeomParts(object) + walkIndex;
  GeomPart* parts = GeomParts(object);
  GeomPart& t = parts[part];
  uint32_t added = uint32_t(count) + (closing ? 1 : 0);
  uint32_t shift = kGeomPointSize * added;
  uint32_t at = t.position + kGeomPointSize * uint32_t(position);
  uint32_t headers = kGeomPartSize * p.partCount;
  uint32_t pointsBefore = (p.dataSize - headers) / kGeomPointSize;
  unsigned char* bytes = Bytes(object);
  std::memmove(bytes + at + shift, bytes + at, p.dataSize - at);
  std::memcpy(bytes + at, points, kGeomPointSize * size_t(count));
  for (uint32_t i = 0; i < p.partCount; ++i) {
    if (int32_t(i) != part && parts[i].position >= at) parts[i].position += shift;
  }
  // The value arrays move in step with the points.
  uint32_t index = (at - headers) / kGeomPointSize;
  double* arrays[2] = {object->flagA ? object->values1 : nullptr,
                       object->flagB ? object->values2 : nullptr};
  const double* given[2] = {values1, values2};
  for (int i = 0; i < 2; ++i) {
    double* v = arrays[i];
    if (!v) continue;
    std::memmove(v + index + added, v + index, sizeof(double) * (pointsBefore - index));
    if (given[i]) {
      std::memcpy(v + index, given[i], sizeof(double) * size_t(count));
    } else {
      FillNone(v + index, size_t(count));
    }
  }
  p.dataSize += shift;
  t.pointCount += int32_t(added);
  if (region) {
    IPoint* ring = GeomPartPoints(object, &t);
    ring[t.pointCount - 1] = ring[0];
    uint32_t first = (t.position - headers) / kGeomPointSize;
    for (double* v : arrays) {
      if (v) v[first + uint32_t(t.pointCount) - 1] = v[first];
    }
  }
  return 1;
}

int GeomPartsSetAll(GeomObject* object, uint32_t count, const int32_t* pointCounts,
                    const IPoint* points, const double* values1, const double* values2) {
  if (!IsPolyKind(object->kind) || (object->bufferFlags & kGeomReadOnly)) return 0;
  if (count >= kGeomMaxParts) {
    ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
    return 0;
  }
  int region = object->kind == kGeomRegion;
  uint64_t given = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (pointCounts[i] < 1) return 0;
    given += uint32_t(pointCounts[i]);
  }
  if (given && !points) return 0;
  uint64_t stored = given + (region ? count : 0);
  uint64_t size = uint64_t{kGeomPartSize} * count + uint64_t{kGeomPointSize} * stored;
  if (size > std::numeric_limits<uint32_t>::max() || !GrowData(object, size)) {
    ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
    return 0;
  }
  double** arrays[2] = {&object->values1, &object->values2};
  int flags[2] = {object->flagA, object->flagB};
  const double* from[2] = {values1, values2};
  GeomBufferSizes used;
  GeomObjectSizes(object, &used);
  size_t usedCount[2] = {used.values1 / sizeof(double), used.values2 / sizeof(double)};
  for (int i = 0; i < 2; ++i) {
    if (flags[i] && !GrowValues(object, arrays[i], stored, usedCount[i])) {
      ErrorPush(kErrorSeverity, GrowthError(object), nullptr, nullptr);
      return 0;
    }
  }
  GeomPart* parts = static_cast<GeomPart*>(object->data);
  IPoint* out = reinterpret_cast<IPoint*>(Bytes(object) + kGeomPartSize * count);
  size_t in = 0, at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t n = uint32_t(pointCounts[i]);
    GeomPart& part = parts[i];
    part.pointCount = int32_t(n + (region ? 1 : 0));
    part.following = 0;
    IRectSetEmpty(&part.bounds);
    part.position = uint32_t(kGeomPartSize * count + kGeomPointSize * at);
    std::memcpy(out + at, points + in, kGeomPointSize * n);
    for (int k = 0; k < 2; ++k) {
      if (!flags[k]) continue;
      double* v = *arrays[k] + at;
      if (from[k]) {
        std::memcpy(v, from[k] + in, sizeof(double) * n);
      } else {
        FillNone(v, n);
      }
      if (region) v[n] = v[0];
    }
    if (region) out[at + n] = out[at];
    in += n;
    at += n + (region ? 1 : 0);
  }
  object->u.poly.partCount = count;
  object->u.poly.dataSize = uint32_t(size);
  return 1;
}

int GeomPartGetPoints(const GeomObject* object, int32_t part, int32_t position, int32_t count,
                      IPoint* points, double* values1, double* values2) {
  if (!IsPolyKind(object->kind)) return 0;
  if (part < 0 || uint32_t(part) >= object->u.poly.partCount || !GeomParts(object)) return 0;
  const GeomPart* t = &GeomParts(object)[part];
  if (!PartIsSound(object, t)) return 0;
  int32_t n = t->pointCount;
  if (position < 0 || position >= n || count < 0) return 0;
  if (object->kind == kGeomRegion ? count > n : int64_t{position} + count > n) return 0;
  const IPoint* from = GeomPartPoints(object, t);
  uint32_t first = (t->position - kGeomPartSize * object->u.poly.partCount) / kGeomPointSize;
  for (int32_t k = 0; k < count; ++k) {
    int32_t i = position + k;
    if (i >= n) i = 1 + (i - n);  // past the closing point: on from the second
    if (points) points[k] = from[i];
    if (values1 && object->flagA && object->values1) values1[k] = object->values1[first + i];
    if (values2 && object->flagB && object->values2) values2[k] = object->values2[first + i];
  }
  return 1;
}

int GeomPartSetPoints(GeomObject* object, int32_t part, int32_t position, const IPoint* points,
                      int32_t count, const double* values1, const double* values2) {
  if (object->kind == kGeomMultipoint) {
    return GeomMultipointAddPoints(object, count, points, values1, values2);
  }
  if (!IsPolyKind(object->kind)) return 0;
  if (count == 0) return 1;
  if (count < 0) return 0;
  if (part >= 0 && uint32_t(part) == object->u.poly.partCount) {
    if (!GeomPartsAdd(object, 1, uint32_t(count), 0, nullptr)) return 0;
  }
  return GeomPartInsertPoints(object, nullptr, part, position, points, count, values1, values2);
}

// ----- texts and multipoints -----

int GeomTextSet(GeomObject* object, const char* text) {
  if (object->kind != kGeomText) return 0;
  if (!text) text = "";
  size_t length = std::strlen(text);
  if (length > std::numeric_limits<uint16_t>::max()) return 0;
  if (!GrowData(object, length + 1)) return 0;
  std::memcpy(object->data, text, length + 1);
  object->u.text.length = static_cast<uint16_t>(length);
  return 1;
}

int GeomMultipointAddPoints(GeomObject* object, int32_t count, const IPoint* points,
                            const double* values1, const double* values2) {
  if (object->kind != kGeomMultipoint || count < 0) return 0;
  if (object->bufferFlags & kGeomReadOnly) return 0;
  if (count == 0) return 1;
  if (!points) return 0;
  uint32_t old = object->u.multipoint.pointCount;
  uint64_t total = uint64_t{old} + uint32_t(count);
  if (total * kGeomPointSize > std::numeric_limits<uint32_t>::max() ||
      !GrowData(object, total * kGeomPointSize)) {
    ErrorPush(kErrorSeverity, kErrRegionMemory, nullptr, nullptr);
    return 0;
  }
  double** arrays[2] = {&object->values1, &object->values2};
  int flags[2] = {object->flagA, object->flagB};
  const double* given[2] = {values1, values2};
  for (int i = 0; i < 2; ++i) {
    if (flags[i] && !GrowValues(object, arrays[i], total, old)) {
      ErrorPush(kErrorSeverity, kErrRegionMemory, nullptr, nullptr);
      return 0;
    }
  }
  std::memcpy(Bytes(object) + size_t{kGeomPointSize} * old, points,
              size_t{kGeomPointSize} * uint32_t(count));
  for (int i = 0; i < 2; ++i) {
    if (!flags[i]) continue;
    double* v = *arrays[i] + old;
    if (given[i]) {
      std::memcpy(v, given[i], sizeof(double) * uint32_t(count));
    } else {
      FillNone(v, uint32_t(count));
    }
  }
  object->u.multipoint.pointCount = uint32_t(total);
  return 1;
}

int GeomMultipointGetPoints(const GeomObject* object, int32_t first, int32_t count,
                            IPoint* points, double* values1, double* values2) {
  if (object->kind != kGeomMultipoint) return 0;
  int64_t n = object->u.multipoint.pointCount;
  if (first < 0 || first >= n || count < 0 || int64_t{first} + count > n) return 0;
  const IPoint* from = static_cast<const IPoint*>(object->data) + first;
  if (points) std::memcpy(points, from, size_t{kGeomPointSize} * uint32_t(count));
  if (values1 && object->flagA && object->values1) {
    std::memcpy(values1, object->values1 + first, sizeof(double) * uint32_t(count));
  }
  if (values2 && object->flagB && object->values2) {
    std::memcpy(values2, object->values2 + first, sizeof(double) * uint32_t(count));
  }
  return 1;
}

// ----- conversions and collections -----

GeomObject* GeomObjectToPoly(const GeomObject* object, int asRegion, int32_t resolution) {
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion:
      return GeomPolyConvert(object, asRegion);
    case kGeomLine:
    case kGeomArc:
    case kGeomRect:
    case kGeomRoundRect:
    case kGeomEllipse: {
      IPoint* points = nullptr;
      void* buffer = nullptr;
      int32_t n = GeomShapePoints(&points, &buffer, object, 0, resolution);
      GeomObject* result = n > 0 ? GeomPolyFromPoints(points, n, object, asRegion) : nullptr;
      MemFreePtr(&buffer);
      return result;
    }
    default:
      return nullptr;
  }
}

GeomObject* GeomObjectToPolyDefault(const GeomObject* object, int asRegion) {
  return GeomObjectToPoly(object, asRegion, kGeomArcResolution);
}

int GeomCollectionAddObject(GeomObject* collection, const GeomObject* object, int replace) {
  if (collection->kind != kGeomCollection) return 0;
  int kind = object->kind;
  int slot;
  if (GeomKindIsPoint(kind)) {
    slot = 2;
  } else if (GeomKindIsLinear(kind)) {
    slot = 1;
  } else if (kind == kGeomRegion || kind == kGeomRect || kind == kGeomRoundRect ||
             kind == kGeomEllipse) {
    slot = 0;
  } else {
    return 0;
  }
  int result = 0;
  GeomObject** address = CollectionSlot(collection, slot);
  if (!*address || replace) {
    GeomObject* part = nullptr;
    if (kind == kGeomPoint) {
      MemHandle h;
      if (GeomObjectAlloc(&h, &part, kGeomMultipoint, 0)) {
        part->flagA = object->flagA;
        part->flagB = object->flagB;
        const double* v1 = object->flagA ? object->values1 : nullptr;
        const double* v2 = object->flagB ? object->values2 : nullptr;
        if (GeomMultipointAddPoints(part, 1, &object->u.point.position, v1, v2)) {
          part->u.multipoint.symbol = object->u.point.symbol;
          part->u.multipoint.centroid = object->u.point.position;
          IRectFromPoints(&part->bounds, &object->u.point.position, &object->u.point.position);
          part->row = object->row;
        } else {
          GeomObjectDestroy(h);
          part = nullptr;
        }
      }
    } else if (kind == kGeomMultipoint) {
      part = GeomObjectClone(object);
    } else {
      part = GeomObjectToPolyDefault(object, slot == 0);
    }
    if (part) {
      MemHandle* handle = CollectionHandle(collection, slot);
      if (*handle && GeomObjectOwnsParts(collection)) GeomObjectDestroy(*handle);
      *handle = part;
      *address = part;
      result = 1;
    }
  }
  GeomObjectComputeBounds(collection);
  return result;
}

namespace {
int CollectionHas(const GeomObject* object, int slot) {
  if (object->kind != kGeomCollection) return 0;
  const MemHandle handles[3] = {object->regionHandle, object->polylineHandle,
                                object->multipointHandle};
  const GeomObject* part = CollectionPart(object, slot);
  return handles[slot] && part && !GeomObjectIsEmpty(part) ? 1 : 0;
}
}  // namespace

int GeomCollectionHasRegion(const GeomObject* object) { return CollectionHas(object, 0); }
int GeomCollectionHasPolyline(const GeomObject* object) { return CollectionHas(object, 1); }
int GeomCollectionHasMultipoint(const GeomObject* object) { return CollectionHas(object, 2); }

int GeomCollectionPartMask(const GeomObject* object, uint32_t* mask) {
  if (object->kind != kGeomCollection) return 0;
  uint32_t m = 0;
  if (CollectionHas(object, 0)) m |= 1;
  if (CollectionHas(object, 1)) m |= 2;
  if (CollectionHas(object, 2)) m |= 4;
  if (mask) *mask = m;
  return 1;
}

// ----- queries -----

int GeomObjectIsEmpty(const GeomObject* object) {
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion:
      return object->u.poly.partCount == 0;
    case kGeomMultipoint:
      return object->u.multipoint.pointCount == 0;
    case kGeomCollection: {
      GeomBufferSizes s;
      GeomObjectSizes(object, &s);
      return s.data == 0;
    }
    default:
      return 0;
  }
}

namespace {
int HasValues(const GeomObject* object, int b) {
  switch (object->kind) {
    case kGeomPoint:
    case kGeomPolyline:
    case kGeomRegion:
    case kGeomMultipoint:
      return (b ? object->flagB : object->flagA) ? 1 : 0;
    case kGeomCollection:
      for (int slot = 0; slot < 3; ++slot) {
        const GeomObject* part = CollectionPart(object, slot);
        if (part && HasValues(part, b)) return 1;
      }
      return 0;
    default:
      return 0;
  }
}
}  // namespace

int GeomObjectHasValuesA(const GeomObject* object) { return HasValues(object, 0); }
int GeomObjectHasValuesB(const GeomObject* object) { return HasValues(object, 1); }

int GeomObjectCentroid(const GeomObject* object, IPoint* out) {
  switch (object->kind) {
    case kGeomPoint:
      *out = object->u.point.position;
      return 1;
    case kGeomPolyline:
    case kGeomRegion:
    case kGeomMultipoint:
    case kGeomCollection:
      return GeomObjectGetAttr(object, kAttrCentroid, out);
    case kGeomText:
      IRectCenter(&object->u.text.frame, out);
      return 1;
    default:
      IRectCenter(&object->bounds, out);
      return 1;
  }
}

int GeomObjectUsesPointWidth(const GeomObject* object) {
  PenStyle pen;
  if (GeomObjectGetLinePen(object, &pen) && !PenWidthIsPixels(pen.width)) return 1;
  if (GeomObjectGetBorderPen(object, &pen) && !PenWidthIsPixels(pen.width)) return 1;
  return 0;
}

uint32_t GeomObjectStorageSize(const GeomObject* object, int* variant, int allowShortForms) {
  int v = 1;
  uint64_t size = 0;
  int values = object->flagA || object->flagB;
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion: {
      uint64_t s = object->u.poly.dataSize;
      uint64_t parts = object->u.poly.partCount;
      uint64_t shortSize = s >= 4 * parts ? s - 4 * parts : 0;
      if (shortSize <= kGeomShortSizeLimit && parts <= kGeomShortPartLimit) {
        v = 1;
        size = shortSize;
      } else {
        v = 2;
        size = s;
      }
      if (size > kGeomMediumSizeLimit || parts > kGeomMediumPartLimit) {
        v = 3;
        size = s;
      }
      // The value arrays have no short form.
      if (!allowShortForms && values) {
        v = 3;
        size = s;
      }
      break;
    }
    case kGeomText:
      size = uint64_t{object->u.text.length} + 1;
      break;
    case kGeomItems12:
    case kGeomItems24: {
      GeomBufferSizes s;
      GeomObjectSizes(object, &s);
      size = s.data;
      break;
    }
    case kGeomMultipoint:
      size = uint64_t{kGeomPointSize} * object->u.multipoint.pointCount;
      v = size < 0x800000 && !(values && !allowShortForms) ? 2 : 3;
      break;
    case kGeomCollection: {
      GeomBufferSizes s;
      GeomObjectSizes(object, &s);
      size = s.data;
      v = 2;
      for (int slot = 0; slot < 3; ++slot) {
        const GeomObject* part = CollectionPart(object, slot);
        int pv = 1;
        if (part) GeomObjectStorageSize(part, &pv, allowShortForms);
        if (pv == 3) v = 3;
      }
      break;
    }
    default:
      break;
  }
  if (variant) *variant = v;
  return static_cast<uint32_t>(size);
}

int GeomObjectIsCodeVariant1(const GeomObject* object) {
  int v;
  GeomObjectStorageSize(object, &v, 0);
  return v == 1;
}

int GeomObjectIsCodeVariant2(const GeomObject* object) {
  int v;
  GeomObjectStorageSize(object, &v, 0);
  return v == 2;
}

namespace {

int ValueObjectCopy(const void* source, void* target) {
  return GeomObjectCopy(static_cast<const GeomObject*>(source), static_cast<GeomObject*>(target));
}

void ValueObjectFree(void* object) { GeomObjectFree(static_cast<GeomObject*>(object)); }

void ValueObjectKindName(const void* object, char* buffer, size_t size) {
  GeomObjectKindName(static_cast<const GeomObject*>(object), buffer, size);
}

constexpr MapObjectServices kValueServices = {sizeof(GeomObject), ValueObjectCopy,
                                              ValueObjectFree, ValueObjectKindName};

}  // namespace

void GeomValueServicesInstall() { ValueSetObjectServices(&kValueServices); }

void GeomObjectKindName(const GeomObject* object, char* buffer, size_t size) {
  // The message table numbers "Arc" 6022 and "Polyline" 6023.
  static const int32_t kIds[kGeomKindCount] = {0,    6020, 6021, 6022, 6023, 6024, 6025, 6026,
                                               6027, 6028, 6029, 0,    0,    6057, 6058};
  const char* name = "";
  int kind = object->kind;
  if (kind < kGeomKindCount && kIds[kind]) {
    if (MsgExists(kIds[kind])) {
      name = MsgGetText(kIds[kind]);
    } else if (kind == kGeomMultipoint) {
      name = "Multipoint";
    } else if (kind == kGeomCollection) {
      name = "Collection";
    }
  }
  if (size) StrCopyPadded(buffer, name, size);
}

// ----- walks -----

int GeomRectRing(IPoint out[5], const GeomObject* object) {
  const IRect& r = object->bounds;
  out[0] = {r.x1, r.y1};
  out[1] = {r.x1, r.y2};
  out[2] = {r.x2, r.y2};
  out[3] = {r.x2, r.y1};
  out[4] = out[0];
  return 5;
}

int GeomPartForEachPoint(const GeomObject* object, const GeomPart* part, GeomPointVisit visit,
                         void* context) {
  if (!PartIsSound(object, part)) return 0;
  const IPoint* p = GeomPartPoints(object, part);
  for (int32_t i = 0; i < part->pointCount; ++i) {
    if (!visit(context, &p[i])) return 0;
  }
  return 1;
}

int GeomPartForEachSegment(const GeomObject* object, const GeomPart* part,
                           GeomSegmentVisit visit, void* context) {
  if (!PartIsSound(object, part)) return 0;
  const IPoint* p = GeomPartPoints(object, part);
  for (int32_t i = 1; i < part->pointCount; ++i) {
    if (p[i - 1].x == p[i].x && p[i - 1].y == p[i].y) continue;
    if (!visit(context, &p[i - 1], &p[i])) return 0;
  }
  return 1;
}

int GeomObjectForEachPart(const GeomObject* object, GeomPartVisit visit, void* context) {
  if (!IsPolyKind(object->kind) || GeomObjectIsEmpty(object)) return 0;
  const GeomPart* parts = GeomParts(object);
  if (!parts) return 0;
  for (uint32_t i = 0; i < object->u.poly.partCount; ++i) {
    if (!visit(context, object, &parts[i])) return 0;
  }
  return 1;
}

int GeomObjectForEachPoint(const GeomObject* object, GeomPointVisit visit, void* context) {
  if (GeomObjectIsEmpty(object)) return 0;
  switch (object->kind) {
    case kGeomPoint:
      return visit(context, &object->u.point.position);
    case kGeomLine: {
      const GeomLineFields& l = object->u.line;
      IPoint a{l.x1, l.y1}, b{l.x2, l.y2};
      return visit(context, &a) ? visit(context, &b) : 0;
    }
    case kGeomText:
    case kGeomRect:
    case kGeomRoundRect: {
      IPoint ring[5];
      GeomRectRing(ring, object);
      for (int i = 0; i < 4; ++i) {
        if (!visit(context, &ring[i])) return 0;
      }
      return 1;
    }
    case kGeomMultipoint: {
      const IPoint* p = static_cast<const IPoint*>(object->data);
      for (uint32_t i = 0; i < object->u.multipoint.pointCount; ++i) {
        if (!visit(context, &p[i])) return 0;
      }
      return 1;
    }
    case kGeomPolyline:
    case kGeomRegion: {
      const GeomPart* parts = GeomParts(object);
      if (!parts) return 0;
      for (uint32_t i = 0; i < object->u.poly.partCount; ++i) {
        if (!GeomPartForEachPoint(object, &parts[i], visit, context)) return 0;
      }
      return 1;
    }
    default:
      return 1;
  }
}

int GeomObjectForEachSegment(const GeomObject* object, GeomSegmentVisit visit, void* context) {
  if (GeomObjectIsEmpty(object)) return 0;
  switch (object->kind) {
    case kGeomLine: {
      const GeomLineFields& l = object->u.line;
      IPoint a{l.x1, l.y1}, b{l.x2, l.y2};
      return visit(context, &a, &b);
    }
    case kGeomText:
    case kGeomRect:
    case kGeomRoundRect: {
      IPoint ring[5];
      GeomRectRing(ring, object);
      for (int i = 0; i < 4; ++i) {
        if (!visit(context, &ring[i], &ring[i + 1])) return 0;
      }
      return 1;
    }
    case kGeomPolyline:
    case kGeomRegion: {
      const GeomPart* parts = GeomParts(object);
      if (!parts) return 0;
      for (uint32_t i = 0; i < object->u.poly.partCount; ++i) {
        if (!GeomPartForEachSegment(object, &parts[i], visit, context)) return 0;
      }
      return 1;
    }
    default:
      return 1;
  }
}

}  // namespace layerio
