// Object records of the map-object file: decoding and encoding.
//
// Record layouts (offsets from the record's start; pt4 a point as two i16
// deltas, pt8 two i32; "idx" a one-byte style index; L the record length):
//
//   point 1 / 2 / 3       5 pt4|pt8 position; 9|13 symbol idx | 13 symbol (8)
//   line 4 / 5 / 6        5 start, 9|13 end; 13|21 pen idx | 21 pen (6)
//   polyline 7 / 8, 9     5 u32 data start, 9 data word, 13 centroid,
//                         7: 17 i32 base x, 21 base y; then the tail
//   arc 10 / 11, 12       5 i16 start angle, 7 end angle, 9 ellipse rect; tail
//   region-like 13, 37, 46, 49 / long, inline:
//                         5 start, 9 data word, 13 i16 sections, 15 centroid,
//                         compressed: 19 base x, 23 base y; then the tail
//   61, 64 / long, inline 5 start, 9 data word, 13 u32 sections, 17 u8 value
//                         flags, 18 range 1 (2 x f64), 34 range 2, 50 centroid,
//                         compressed: 54 base x, 58 base y; then the tail
//   text 16 / 17 / 18     5 start, 9 text word, 13 u16 angle, 15 font (8),
//                         23 label-line end, 27 u16 | 31 i32 height,
//                         29 | 35 name idx | 35 name (32); then the tail
//   rect, ellipse         the tail only
//   rounded rect 22/23,24 5 u16 | i32 corner width, 7 | 9 corner height; tail
//   frame 28-30           5 u32 fill flag (bit 0), 9 title (60); tail
//   kind 11 (31-33)       5 start, 9 u8 flag, 10 u8 items, 11 u32, 15 u32; tail
//   kind 12 (34-36)       5 start, 9 u32, 13 u8 flag, 14 u8 items, 15 u32,
//                         19 u32; tail
//   font point 40/41/42   5 u8 character, 6 u8 size, 7 font-symbol record (8),
//                         15 u16 angle, 17 position, 21|25 name idx|25 name
//   custom point 43/44/45 6 u8 style, 7 position, 11|15 symbol idx, 12|16 name
//                         idx | 15 symbol (8), 23 name (32)
//   point 58 / 59 / 60    5 u8 value flags, 6 two f64 values, 22 symbol block,
//                         37 symbol idx, 38 name idx, 39 position |
//                         60: 37 symbol (8), 45 name (32), 77 position
//   multipoint 52/53/54   5 start, 9 u32 points, 13 symbol block, 28 symbol
//                         idx, 29 name idx, 30 centroid, 52: 34 base, 42 bounds;
//                         53: 38 bounds; 54: 28 symbol, 36 name, 68 centroid,
//                         76 bounds
//   multipoint 67/68/69   as 52 with 13 value flags, 14 and 30 ranges, 46
//                         symbol block, 61 symbol idx, 62 name idx, 63
//                         centroid, 67: 67 base, 75 bounds; 68: 71 bounds;
//                         69: 61 symbol, 69 name, 101 centroid, 109 bounds
//   collection 55/56/57   5 start, 9 u32 multipoint points, 13 region data
//                         word, 17 polyline data word, 21 i16 region sections,
//                         23 i16 polyline sections, 25 symbol block, 40 symbol
//                         idx, 41 name idx, 42 region pen, 43 polyline pen,
//                         44 region brush, 55: 45 base, 53 bounds; 56: 45
//                         bounds; 57: 40 symbol, 48 name, 80 and 86 pens, 92
//                         brush, 100 bounds
//   collection 70/71/72   as 55 with u32 sections at 21 and 25, 29 u8 zero,
//                         30 symbol block, 45, 46, 47, 48, 49 the indexes, 70:
//                         50 base, 58 bounds; 71: 50 bounds; 72: 45 symbol,
//                         53 name, 85 and 91 pens, 97 brush, 105 bounds
//
// Tails, from L back: compressed bounds (8 deltas) then pen idx (and brush
// idx for region-like codes); long bounds (4 x i32) then the indexes; inline
// bounds then the pen (6) and the brush (8).
//
// Symbol block (15 bytes): u8 kind (0 simple, 1 font, 2 custom); a font
// symbol's character at 1, size at 2, font-symbol record at 3, u16 angle at
// 11; a custom symbol's style at 14. The font-symbol record (8 bytes) holds
// the u16 stored font style, the colour as red, green, blue and three zeros.
//
// Variable data, a stream of values none of which is split across blocks
// (texts are runs of one-byte values and fill each block):
//   polyline, region: section headers {count, second count, bounds as two
//     points, u32 offset} (none for codes 7-9), the points of all sections,
//     then value arrays 1 and 2 (f64 a point) for 61-66 with their flags
//   text: its bytes; kind 11: items of six u16; kind 12: items of u32, 8
//     bytes, u16
//   multipoint: the points, then the value arrays (67-69)
//   collection: region part and polyline part, each ([70-72] u32 zero)
//     centroid, bounds as two points, section headers and points with the
//     part code; then the multipoint part's centroid, bounds and points.
//     Parts carry no value arrays.
#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/objects/maprecord.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "mapfile/objects/mapstyles.h"

namespace layerio {

namespace {

constexpr int kSymbolBlockSize = 15;
constexpr int kFrameTitleSize = 60;
constexpr int kMaxRecord = 128;

// ----- small helpers ---------------------------------------------------------

int IsRegionLike(int code) {
  const int base = code - (code - 1) % 3;
  return base == 13 || base == 19 || base == 22 || base == 25 || base == 28 || base == 46 ||
         base == 61;
}

int HasTail(int code) {
  const int base = code - (code - 1) % 3;
  return IsRegionLike(code) || base == 7 || base == 10 || base == 16 || base == 31 ||
         base == 34 || base == 37 || base == 49 || base == 64;
}

// The offset of the record's own base point, 0 for codes without.
int RecordBaseOffset(int code) {
  switch (code) {
    case 7: return 17;
    case 13: case 37: case 46: case 49: return 19;
    case 61: case 64: return 54;
    case 52: return 34;
    case 67: return 67;
    case 55: return 45;
    case 70: return 50;
    default: return 0;
  }
}

int PointSize(int code) { return MapCodeForm(code) == kMapFormCompressed ? 4 : 8; }

// Stream bytes of one section header under a code.
uint32_t HeaderStreamSize(int code) {
  const uint32_t pts = 2 * PointSize(code);
  switch (MapCodeGeneration(code)) {
    case 1: return 2 + 2 + pts + 4;
    case 2: return 4 + 2 + pts + 4;
    default: return 4 + 4 + pts + 4;
  }
}

int IsSingleSection(int code) { return code >= 7 && code <= 9; }

// The stream bytes of sections and points (the data word's size).
uint64_t PolyStreamBytes(int code, uint64_t sections, uint64_t points) {
  uint64_t n = uint64_t(PointSize(code)) * points;
  if (!IsSingleSection(code)) n += uint64_t(HeaderStreamSize(code)) * sections;
  return n;
}

// The points a data word stands for given the section count; false when
// they do not divide or pass the limits.
bool PointsFromDataWord(int code, uint32_t sections, uint32_t dataWord, uint32_t* points) {
  uint64_t size = dataWord & kMapDataSizeMask;
  if (sections > kMapMaxSections) return false;
  uint64_t headers = IsSingleSection(code) ? 0 : uint64_t(HeaderStreamSize(code)) * sections;
  if (size < headers) return false;
  size -= headers;
  if (size % PointSize(code) != 0) return false;
  uint64_t n = size / PointSize(code);
  if (n > kMapMaxPoints) return false;
  *points = static_cast<uint32_t>(n);
  return true;
}

uint32_t MemoryPolySize(uint32_t sections, uint32_t points) {
  return sections * kGeomPartSize + points * kGeomPointSize;
}

void PushDamaged() { ErrorPush(kErrorSeverity, kErrMapDamaged, nullptr, nullptr); }

// Pushes the damage error unless a more precise one came since `before`.
void PushDamagedSince(uint16_t before) {
  if (ErrorCount() == before) PushDamaged();
}

IPoint LoadPt(const uint8_t* p, int compressed, const IPoint& base) {
  IPoint out;
  if (compressed) {
    DeltaPointDecode(p, &out, &base);
  } else {
    out.x = QLoadI32LE(p);
    out.y = QLoadI32LE(p + 4);
  }
  return out;
}

IRect LoadRect(const uint8_t* p, int compressed, const IPoint& base) {
  IRect r;
  if (compressed) {
    DeltaRectDecode(p, &r, &base);
  } else {
    r.x1 = QLoadI32LE(p);
    r.y1 = QLoadI32LE(p + 4);
    r.x2 = QLoadI32LE(p + 8);
    r.y2 = QLoadI32LE(p + 12);
  }
  return r;
}

// ----- buffers of the object being filled -------------------------------------

// Borrowed buffers are not ours to grow: the object starts buffers of its
// own.
void Unborrow(GeomObject* object) {
  if (!(object->bufferFlags & kGeomBorrowed)) return;
  object->data = nullptr;
  object->values1 = object->values2 = nullptr;
  object->bufferFlags &= ~kGeomBorrowed;
}

int ReserveData(GeomObject* object, size_t size) {
  if (object->bufferFlags & kGeomReadOnly) return 0;
  Unborrow(object);
  if (size == 0) size = 1;
  if (object->data != nullptr && object->data == GeomScratch()) {
    if (!GeomScratchReserve(size, nullptr, 1)) return 0;
    object->data = GeomScratch();
    return 1;
  }
  return GeomBufferReserve(size, &object->data, nullptr, 1);
}

int ReserveValues(GeomObject* object, double** values, size_t count) {
  Unborrow(object);
  void* block = *values;
  if (!GeomBufferReserve(std::max<size_t>(count, 1) * sizeof(double), &block, nullptr, 1)) {
    return 0;
  }
  *values = static_cast<double*>(block);
  return 1;
}

// Clears the record of the object for a new kind, keeping its buffers; part
// objects of a former collection are destroyed.
void ClearObject(GeomObject* object, int kind) {
  GeomBufferSave save;
  GeomObjectSaveBuffers(object, &save);
  if (!(save.bits & kGeomBorrowed)) {
    for (MemHandle h : {save.regionHandle, save.polylineHandle, save.multipointHandle}) {
      if (h) GeomObjectDestroy(h);
    }
  }
  save.regionHandle = save.polylineHandle = save.multipointHandle = nullptr;
  GeomObjectInit(object, kind);
  GeomObjectRestoreBuffers(object, &save);
}

// Counts of coordinates that are not in the buffers (data not read, or a
// read that failed) are dropped, so that nothing walks past a buffer.
void EmptyCounts(GeomObject* o) {
  switch (o->kind) {
    case kGeomPolyline:
    case kGeomRegion:
      o->u.poly.partCount = 0;
      o->u.poly.dataSize = 0;
      o->flagA = o->flagB = 0;
      break;
    case kGeomMultipoint:
      o->u.multipoint.pointCount = 0;
      o->flagA = o->flagB = 0;
      break;
    case kGeomText: o->u.text.length = 0; break;
    case kGeomItems12:
    case kGeomItems24: o->u.items.count = 0; break;
    case kGeomCollection:
      for (GeomObject* p : {o->u.collection.region, o->u.collection.polyline,
                            o->u.collection.multipoint}) {
        if (p) EmptyCounts(p);
      }
      break;
    default: break;
  }
}

// ----- style indexes ------------------------------------------------------------

struct StyleIo {
  MapFile* map;
  int form;
  int countUse;  // encoding
  int release;   // decoding
  int ok = 1;    // 0 once a style could not be stored or released

  void PutPen(uint8_t* p, const PenStyle& pen) {
    if (form == kMapFormInline) {
      PenRecPack(&pen, p);
      return;
    }
    if (!MapPenIndex(map, &pen, p, countUse)) ok = 0;
  }
  void PutBrush(uint8_t* p, const BrushStyle& brush) {
    if (form == kMapFormInline) {
      BrushRecPack(&brush, p);
      return;
    }
    if (!MapBrushIndex(map, &brush, p, countUse)) ok = 0;
  }
  void PutSymbol(uint8_t* p, const SymbolStyle& symbol) {
    if (form == kMapFormInline) {
      SymbolRecPack(&symbol, p);
      return;
    }
    if (!MapSymbolIndex(map, &symbol, p, countUse)) ok = 0;
  }
  void PutName(uint8_t* p, const char* name, int custom) {
    if (form == kMapFormInline) {
      std::memset(p, 0, kStyleNameSize);
      std::memcpy(p, name, strnlen(name, kStyleNameSize - 1));
      return;
    }
    const int r = custom ? MapCustomNameIndex(map, name, p, countUse)
                         : MapNameIndex(map, name, p, countUse);
    if (!r) ok = 0;
  }
  void GetPen(const uint8_t* p, PenStyle* pen) {
    if (form == kMapFormInline) {
      PenRecUnpack(p, pen);
      return;
    }
    if (!MapPenLookup(map, *p, pen, release)) ok = 0;
  }
  void GetBrush(const uint8_t* p, BrushStyle* brush) {
    if (form == kMapFormInline) {
      BrushRecUnpack(p, brush);
      return;
    }
    if (!MapBrushLookup(map, *p, brush, release)) ok = 0;
  }
  void GetSymbol(const uint8_t* p, SymbolStyle* symbol) {
    if (form == kMapFormInline) {
      SymbolRecUnpack(p, symbol);
      return;
    }
    if (!MapSymbolLookup(map, *p, symbol, release)) ok = 0;
  }
  void GetName(const uint8_t* p, char* name, int custom) {
    if (form == kMapFormInline) {
      std::memcpy(name, p, kStyleNameSize);
      name[kStyleNameSize - 1] = 0;
      return;
    }
    const int r = custom ? MapCustomNameLookup(map, *p, name, release)
                         : MapNameLookup(map, *p, name, release);
    if (!r) ok = 0;
  }
  // The two index bytes after a symbol block (the inline form: the symbol
  // record and the 32-byte name).
  void PutSymbolRefs(uint8_t* p, const SymbolStyle& s) {
    const int inl = form == kMapFormInline;
    uint8_t* name = p + (inl ? kSymbolRecSize : 1);
    if (s.kind == kSymbolFont) {
      PutName(name, s.font.name, 0);
    } else {
      PutSymbol(p, s);
      if (s.kind == kSymbolCustom) PutName(name, s.custom.file, 1);
    }
  }
  void GetSymbolRefs(const uint8_t* p, SymbolStyle* s) {
    const int inl = form == kMapFormInline;
    const uint8_t* name = p + (inl ? kSymbolRecSize : 1);
    if (s->kind == kSymbolFont) {
      GetName(name, s->font.name, 0);
    } else {
      GetSymbol(p, s);
      if (s->kind == kSymbolCustom) {
        GetName(name, s->custom.file, 1);
        s->shape = 0;
      }
    }
  }
};

void FontSymbolRecPack(const SymbolStyle& s, uint8_t* p) {
  std::memset(p, 0, 8);
  QStoreU16LE(p, SymbolFontStyleGet(&s));
  p[2] = static_cast<uint8_t>(s.colour >> 16);
  p[3] = static_cast<uint8_t>(s.colour >> 8);
  p[4] = static_cast<uint8_t>(s.colour);
}

void FontSymbolRecUnpack(const uint8_t* p, SymbolStyle* s) {
  SymbolFontStyleSet(s, QLoadU16LE(p));
  s->colour = (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 8) | p[4];
}

uint8_t ClampU8(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

void SymbolBlockPack(const SymbolStyle& s, uint8_t* p) {
  std::memset(p, 0, kSymbolBlockSize);
  p[0] = s.kind;
  if (s.kind == kSymbolFont) {
    p[1] = static_cast<uint8_t>(s.shape);
    p[2] = ClampU8(s.size);
    FontSymbolRecPack(s, p + 3);
    QStoreI16LE(p + 11, s.angle);
  } else if (s.kind == kSymbolCustom) {
    p[14] = static_cast<uint8_t>(SymbolCustomStyleGet(&s));
  }
}

// Fills kind and the block's fields into a symbol that starts as the default.
void SymbolBlockUnpack(const uint8_t* p, SymbolStyle* s) {
  *s = StyleDefaults()->symbol;
  s->kind = p[0] <= kSymbolCustom ? p[0] : uint8_t{kSymbolSimple};
  if (s->kind == kSymbolFont) {
    std::memset(&s->font, 0, sizeof s->font);
    s->shape = p[1];
    s->size = p[2];
    FontSymbolRecUnpack(p + 3, s);
    s->angle = QLoadI16LE(p + 11);
  } else if (s->kind == kSymbolCustom) {
    std::memset(&s->custom, 0, sizeof s->custom);
    SymbolCustomStyleSet(s, p[14] & 7);
  }
}

// The range of a value array: smallest and largest present value.
void ValueRange(const double* values, uint32_t count, uint8_t* out) {
  const double none = GeomValueNone();
  double lo = none, hi = none;
  bool any = false;
  for (uint32_t i = 0; values && i < count; ++i) {
    double v = values[i];
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    if (bits == kGeomValueNone) continue;
    if (!any || v < lo) lo = v;
    if (!any || v > hi) hi = v;
    any = true;
  }
  QStoreF64LE(out, lo);
  QStoreF64LE(out + 8, hi);
}

// ----- the coordinate stream: reading -----------------------------------------

class StreamReader {
 public:
  StreamReader(MapFile* map, MapBlockSlot* slot) : map_(map), slot_(slot) {}

  // The start must lie inside the payload in use of a coordinate block.
  bool Open(uint32_t start) {
    const uint32_t bs = static_cast<uint32_t>(map_->blockSize);
    if (bs == 0 || start < bs) return false;
    const uint32_t block = start - start % bs;
    if (!Enter(block)) return false;
    off_ = start - block;
    return off_ >= kMapCoordBlockHead && off_ <= end_;
  }

  const uint8_t* Take(uint32_t n) {
    const uint32_t bs = static_cast<uint32_t>(map_->blockSize);
    if (off_ + n > bs && !Next()) return nullptr;
    if (off_ + n > end_) return nullptr;
    const uint8_t* p = slot_->bytes + off_;
    off_ += n;
    return p;
  }

  // A run of one-byte values: fills each block to its end.
  bool Run(uint8_t* out, uint32_t n) {
    const uint32_t bs = static_cast<uint32_t>(map_->blockSize);
    while (n > 0) {
      if (off_ >= bs && !Next()) return false;
      uint32_t k = std::min(n, bs - off_);
      if (off_ + k > end_) return false;
      std::memcpy(out, slot_->bytes + off_, k);
      out += k;
      off_ += k;
      n -= k;
    }
    return true;
  }

 private:
  bool Enter(uint32_t block) {
    if (!MapBlockRead(map_, slot_, block)) return false;
    const uint8_t* b = slot_->bytes;
    if (QLoadU16LE(b) != kMapBlockCoord) return false;
    const uint32_t used = QLoadU16LE(b + 2);
    if (used > static_cast<uint32_t>(map_->blockSize) - kMapCoordBlockHead) return false;
    end_ = kMapCoordBlockHead + used;
    off_ = kMapCoordBlockHead;
    return true;
  }
  bool Next() {
    const uint32_t next = QLoadU32LE(slot_->bytes + 4);
    if (next == 0) return false;
    return Enter(next);
  }

  MapFile* map_;
  MapBlockSlot* slot_;
  uint32_t off_ = 0;
  uint32_t end_ = 0;
};

// ----- the coordinate stream: writing -----------------------------------------

// Counts the bytes of the values.
struct CountSink {
  uint64_t bytes = 0;
  bool Put(const uint8_t*, uint32_t n) {
    bytes += n;
    return true;
  }
  bool Run(const uint8_t*, uint32_t n) {
    bytes += n;
    return true;
  }
};

class ChainWriter {
 public:
  ChainWriter(MapFile* map, MapBlockSlot* coord, MapBlockSlot* object)
      : map_(map), slot_(coord), object_(object) {}

  bool Begin(uint32_t* start) {
    MapObjectBlockHead head;
    MapObjectBlockHeadRead(object_->bytes, &head);
    const uint32_t bs = static_cast<uint32_t>(map_->blockSize);
    if (head.firstCoord == 0) {
      if (!MapBlockAlloc(map_, &block_)) return false;
      MapBlockInit(map_, slot_, kMapBlockCoord);
      head.firstCoord = head.currentCoord = block_;
      MapObjectBlockHeadWrite(object_->bytes, &head);
      off_ = kMapCoordBlockHead;
    } else {
      block_ = head.currentCoord;
      if (!MapBlockRead(map_, slot_, block_)) return false;
      if (QLoadU16LE(slot_->bytes) != kMapBlockCoord) return false;
      const uint32_t used = QLoadU16LE(slot_->bytes + 2);
      if (used > bs - kMapCoordBlockHead) return false;
      off_ = kMapCoordBlockHead + used;
      if (bs - off_ < kMapCoordMinRoom && !NewBlock()) return false;
    }
    *start = block_ + off_;
    return true;
  }

  bool Put(const uint8_t* p, uint32_t n) {
    if (off_ + n > static_cast<uint32_t>(map_->blockSize) && !NewBlock()) return false;
    std::memcpy(slot_->bytes + off_, p, n);
    off_ += n;
    QStoreU16LE(slot_->bytes + 2, static_cast<uint16_t>(off_ - kMapCoordBlockHead));
    return true;
  }

  bool Run(const uint8_t* p, uint32_t n) {
    const uint32_t bs = static_cast<uint32_t>(map_->blockSize);
    while (n > 0) {
      if (off_ >= bs && !NewBlock()) return false;
      const uint32_t k = std::min(n, bs - off_);
      if (!Put(p, k)) return false;
      p += k;
      n -= k;
    }
    return true;
  }

  bool Finish() {
    if (!MapBlockWrite(map_, slot_, block_)) return false;
    MapObjectBlockHead head;
    MapObjectBlockHeadRead(object_->bytes, &head);
    head.currentCoord = block_;
    MapObjectBlockHeadWrite(object_->bytes, &head);
    return true;
  }

 private:
  bool NewBlock() {
    uint32_t next;
    if (!MapBlockAlloc(map_, &next)) return false;
    QStoreU32LE(slot_->bytes + 4, next);
    if (!MapBlockWrite(map_, slot_, block_)) return false;
    MapBlockInit(map_, slot_, kMapBlockCoord);
    block_ = next;
    off_ = kMapCoordBlockHead;
    // The object block must name the block being filled even when a later
    // step fails.
    MapObjectBlockHead head;
    MapObjectBlockHeadRead(object_->bytes, &head);
    head.currentCoord = block_;
    MapObjectBlockHeadWrite(object_->bytes, &head);
    return true;
  }

  MapFile* map_;
  MapBlockSlot* slot_;
  MapBlockSlot* object_;
  uint32_t block_ = 0;
  uint32_t off_ = 0;
};

// ----- emitting the variable data ------------------------------------------------

template <class Sink>
bool PutPoint(Sink& s, const IPoint& p, int compressed, const IPoint& base) {
  uint8_t b[8];
  if (compressed) {
    if (!DeltaPointFits(&p, &base)) return false;
    DeltaPointEncode(&p, b, &base);
    return s.Put(b, 4);
  }
  QStoreI32LE(b, p.x);
  QStoreI32LE(b + 4, p.y);
  return s.Put(b, 8);
}

template <class Sink>
bool PutU16(Sink& s, uint32_t v) {
  uint8_t b[2];
  QStoreU16LE(b, static_cast<uint16_t>(v));
  return s.Put(b, 2);
}

template <class Sink>
bool PutU32(Sink& s, uint32_t v) {
  uint8_t b[4];
  QStoreU32LE(b, v);
  return s.Put(b, 4);
}

template <class Sink>
bool PutF64(Sink& s, double v) {
  uint8_t b[8];
  QStoreF64LE(b, v);
  return s.Put(b, 8);
}

// Points in the object beyond the section headers.
uint32_t PolyPoints(const GeomObject* o) {
  uint64_t sum = 0;
  const GeomPart* parts = GeomParts(o);
  for (uint32_t i = 0; parts && i < o->u.poly.partCount; ++i) {
    sum += static_cast<uint32_t>(std::max(parts[i].pointCount, 0));
  }
  return static_cast<uint32_t>(std::min<uint64_t>(sum, 0xFFFFFFFFu));
}

// Sections and points of a polyline or region under a code, then its values
// when withValues is set and the code stores them.
template <class Sink>
bool EmitPoly(Sink& s, const GeomObject* o, int code, const IPoint& base, int withValues) {
  const int compressed = MapCodeForm(code) == kMapFormCompressed;
  const uint32_t n = o->u.poly.partCount;
  const GeomPart* parts = GeomParts(o);
  if (n > 0 && parts == nullptr) return false;
  if (IsSingleSection(code) && n != 1) return false;
  int point16 = 0, second16 = 0;
  if (n > kMapMaxSections) return false;
  const int diff = MapCodeDataForm(static_cast<int>(n), code, &point16, &second16);
  // Parts are written in order with their points back to back.
  if (!IsSingleSection(code)) {
    uint64_t offset = uint64_t{kGeomPartSize} * n;
    for (uint32_t i = 0; i < n; ++i) {
      const GeomPart& part = parts[i];
      if (part.pointCount < 0) return false;
      if (point16 && part.pointCount > 0xFFFF) return false;
      if (second16 && part.following > 0xFFFF) return false;
      if (point16 ? !PutU16(s, part.pointCount) : !PutU32(s, part.pointCount)) return false;
      if (second16 ? !PutU16(s, part.following) : !PutU32(s, part.following)) return false;
      const IPoint a{part.bounds.x1, part.bounds.y1}, b{part.bounds.x2, part.bounds.y2};
      if (!PutPoint(s, a, compressed, base) || !PutPoint(s, b, compressed, base)) return false;
      const uint64_t stored = offset - static_cast<uint64_t>(diff);
      if (stored > 0xFFFFFFFFu) return false;
      if (!PutU32(s, static_cast<uint32_t>(stored))) return false;
      offset += uint64_t{kGeomPointSize} * part.pointCount;
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    const GeomPart& part = parts[i];
    if (part.pointCount < 0) return false;
    const uint64_t end = uint64_t{part.position} + uint64_t{kGeomPointSize} * part.pointCount;
    if (part.position < uint64_t{kGeomPartSize} * n || end > o->u.poly.dataSize) return false;
    const IPoint* pts = GeomPartPoints(o, &part);
    for (int32_t k = 0; k < part.pointCount; ++k) {
      if (!PutPoint(s, pts[k], compressed, base)) return false;
    }
  }
  if (withValues && MapCodeGeneration(code) == 3 && code < 67) {
    // Value i belongs to the i-th point of the buffer, in part order.
    const uint32_t points = PolyPoints(o);
    for (int which = 0; which < 2; ++which) {
      const double* values = which == 0 ? o->values1 : o->values2;
      if (!(which == 0 ? o->flagA : o->flagB)) continue;
      for (uint32_t i = 0; i < points; ++i) {
        if (!PutF64(s, values ? values[i] : GeomValueNone())) return false;
      }
    }
  }
  return true;
}

template <class Sink>
bool EmitMultipoint(Sink& s, const GeomObject* o, int code, const IPoint& base,
                    int withValues) {
  const int compressed = MapCodeForm(code) == kMapFormCompressed;
  const uint32_t n = o->u.multipoint.pointCount;
  const IPoint* pts = static_cast<const IPoint*>(o->data);
  if (n > 0 && pts == nullptr) return false;
  for (uint32_t i = 0; i < n; ++i) {
    if (!PutPoint(s, pts[i], compressed, base)) return false;
  }
  if (withValues && code >= 67 && code <= 69) {
    for (int which = 0; which < 2; ++which) {
      const double* values = which == 0 ? o->values1 : o->values2;
      if (!(which == 0 ? o->flagA : o->flagB)) continue;
      for (uint32_t i = 0; i < n; ++i) {
        if (!PutF64(s, values ? values[i] : GeomValueNone())) return false;
      }
    }
  }
  return true;
}

// The text as the file stores it: converted to the file's charset.
std::vector<char> FileText(const MapFile* map, const GeomObject* o) {
  const uint32_t len = o->u.text.length;
  std::vector<char> text(size_t{len} * 3 + 1, 0);
  if (o->data && len) std::memcpy(text.data(), o->data, len);
  text[len] = 0;
  CharsetConvert(text.data(), DefaultCharset(), static_cast<int>(map->charset), text.size());
  text.resize(std::strlen(text.data()));
  return text;
}

// A part of a collection: present when it holds anything.
const GeomObject* Part(const GeomObject* o, int slot) {
  const GeomCollectionFields& c = o->u.collection;
  const GeomObject* p = slot == 0 ? c.region : slot == 1 ? c.polyline : c.multipoint;
  if (p == nullptr || GeomObjectIsEmpty(p)) return nullptr;
  return p;
}

template <class Sink>
bool EmitCollection(Sink& s, const GeomObject* o, int code, const IPoint& base) {
  const int compressed = MapCodeForm(code) == kMapFormCompressed;
  const int third = code >= 70;
  for (int slot = 0; slot < 3; ++slot) {
    const GeomObject* p = Part(o, slot);
    if (slot < 2 && third && !PutU32(s, 0)) return false;
    IPoint centroid{0, 0};
    IRect bounds{0, 0, 0, 0};
    if (p) {
      centroid = slot == 2 ? p->u.multipoint.centroid : p->u.poly.centroid;
      bounds = p->bounds;
    }
    const IPoint a{bounds.x1, bounds.y1}, b{bounds.x2, bounds.y2};
    if (!PutPoint(s, centroid, compressed, base) || !PutPoint(s, a, compressed, base) ||
        !PutPoint(s, b, compressed, base)) {
      return false;
    }
    if (!p) continue;
    const int partCode =
        MapCollectionPartCode(slot == 0 ? kGeomRegion : slot == 1 ? kGeomPolyline
                                                                  : kGeomMultipoint,
                              code);
    if (slot == 2 ? !EmitMultipoint(s, p, partCode, base, 0) : !EmitPoly(s, p, partCode, base, 0)) {
      return false;
    }
  }
  return true;
}

template <class Sink>
bool EmitData(Sink& s, const MapFile* map, const GeomObject* o, int code, const IPoint& base,
              int withValues) {
  switch (MapObjCodeKind(code)) {
    case kGeomPolyline:
    case kGeomRegion:
      return EmitPoly(s, o, code, base, withValues);
    case kGeomMultipoint:
      return EmitMultipoint(s, o, code, base, withValues);
    case kGeomCollection:
      return EmitCollection(s, o, code, base);
    case kGeomText: {
      std::vector<char> text = FileText(map, o);
      return s.Run(reinterpret_cast<const uint8_t*>(text.data()),
                   static_cast<uint32_t>(text.size()));
    }
    case kGeomItems12: {
      const uint8_t* items = static_cast<const uint8_t*>(o->data);
      if (o->u.items.count && !items) return false;
      for (uint32_t i = 0; i < o->u.items.count; ++i) {
        for (int k = 0; k < 6; ++k) {
          uint16_t v;
          std::memcpy(&v, items + 12 * i + 2 * k, 2);
          if (!PutU16(s, v)) return false;
        }
      }
      return true;
    }
    case kGeomItems24: {
      const uint8_t* items = static_cast<const uint8_t*>(o->data);
      if (o->u.items.count && !items) return false;
      for (uint32_t i = 0; i < o->u.items.count; ++i) {
        const uint8_t* item = items + 24 * i;
        uint32_t a;
        uint16_t c;
        std::memcpy(&a, item, 4);
        std::memcpy(&c, item + 16, 2);
        uint8_t b[8];
        std::memcpy(b, item + 8, 8);  // carried as stored
        if (!PutU32(s, a) || !s.Put(b, 8) || !PutU16(s, c)) return false;
      }
      return true;
    }
    default:
      return true;
  }
}

// The record's own base point of codes that store one: the centre of the
// bounds.
IPoint RecordBase(const GeomObject* o) {
  IPoint c;
  IRectCenter(&o->bounds, &c);
  return c;
}

// ----- decoding the variable data ----------------------------------------------

// Reads sections and points of a polyline or region whose partCount and
// dataWord are known; the object's buffer is sized from the headers.
bool ReadPoly(StreamReader& r, GeomObject* o, int code, uint32_t dataWord, const IPoint& base,
              int withValues) {
  const int compressed = MapCodeForm(code) == kMapFormCompressed;
  const int ps = PointSize(code);
  const uint32_t n = o->u.poly.partCount;
  uint32_t points = 0;
  if (!PointsFromDataWord(code, n, dataWord, &points)) return false;
  if (IsSingleSection(code) && n != 1) return false;
  const uint64_t size = uint64_t{kGeomPartSize} * n + uint64_t{kGeomPointSize} * points;
  if (!ReserveData(o, static_cast<size_t>(size))) return false;
  uint8_t* bytes = static_cast<uint8_t*>(o->data);
  int point16 = 0, second16 = 0;
  const int diff =
      MapCodeDataForm(static_cast<int>(n), code, &point16, &second16);  // n <= the limit
  const uint64_t headers = uint64_t{kGeomPartSize} * n;
  if (IsSingleSection(code)) {
    GeomPart part{};
    part.pointCount = static_cast<int32_t>(points);
    part.bounds = o->bounds;
    part.position = kGeomPartSize;
    std::memcpy(bytes, &part, sizeof part);
  } else {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
      GeomPart part{};
      const uint8_t* p;
      if (!(p = r.Take(point16 ? 2 : 4))) return false;
      const uint32_t count = point16 ? QLoadU16LE(p) : QLoadU32LE(p);
      if (!(p = r.Take(second16 ? 2 : 4))) return false;
      part.following = second16 ? QLoadU16LE(p) : QLoadU32LE(p);
      IPoint a, b;
      if (!(p = r.Take(ps))) return false;
      a = LoadPt(p, compressed, base);
      if (!(p = r.Take(ps))) return false;
      b = LoadPt(p, compressed, base);
      part.bounds = IRect{a.x, a.y, b.x, b.y};
      if (!(p = r.Take(4))) return false;
      const uint64_t position = uint64_t{QLoadU32LE(p)} + static_cast<uint64_t>(diff);
      sum += count;
      if (count > points || sum > points) return false;
      if (position < headers || (position - headers) % kGeomPointSize != 0 ||
          position + uint64_t{kGeomPointSize} * count > size) {
        return false;
      }
      part.pointCount = static_cast<int32_t>(count);
      part.position = static_cast<uint32_t>(position);
      std::memcpy(bytes + uint64_t{kGeomPartSize} * i, &part, sizeof part);
    }
    if (sum != points) return false;
  }
  for (uint32_t i = 0; i < points; ++i) {
    const uint8_t* p = r.Take(ps);
    if (!p) return false;
    const IPoint pt = LoadPt(p, compressed, base);
    std::memcpy(bytes + headers + uint64_t{kGeomPointSize} * i, &pt, sizeof pt);
  }
  o->u.poly.dataSize = static_cast<uint32_t>(size);
  if (withValues) {
    for (int which = 0; which < 2; ++which) {
      if (!(which == 0 ? o->flagA : o->flagB)) continue;
      double** values = which == 0 ? &o->values1 : &o->values2;
      if (!ReserveValues(o, values, points)) return false;
      for (uint32_t i = 0; i < points; ++i) {
        const uint8_t* p = r.Take(8);
        if (!p) return false;
        (*values)[i] = QLoadF64LE(p);
      }
    }
  }
  return true;
}

bool ReadMultipoint(StreamReader& r, GeomObject* o, int code, const IPoint& base,
                    int withValues) {
  const int compressed = MapCodeForm(code) == kMapFormCompressed;
  const int ps = PointSize(code);
  const uint32_t n = o->u.multipoint.pointCount;
  if (n > kMapMaxPoints) return false;
  if (!ReserveData(o, size_t{n} * kGeomPointSize)) return false;
  uint8_t* bytes = static_cast<uint8_t*>(o->data);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = r.Take(ps);
    if (!p) return false;
    const IPoint pt = LoadPt(p, compressed, base);
    std::memcpy(bytes + size_t{kGeomPointSize} * i, &pt, sizeof pt);
  }
  if (withValues) {
    for (int which = 0; which < 2; ++which) {
      if (!(which == 0 ? o->flagA : o->flagB)) continue;
      double** values = which == 0 ? &o->values1 : &o->values2;
      if (!ReserveValues(o, values, n)) return false;
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = r.Take(8);
        if (!p) return false;
        (*values)[i] = QLoadF64LE(p);
      }
    }
  }
  return true;
}

// ----- record fields shared by decode, checks and encode ------------------------

struct PolyFields {
  int sectionsAt;    // 0 for codes 7-9
  int sections32;    // u32 section count
  int flagsAt;       // value flags, 0 for none
  int centroidAt;
};

PolyFields PolyLayout(int code) {
  PolyFields f{13, 0, 0, 15};
  if (code >= 7 && code <= 9) return PolyFields{0, 0, 0, 13};
  if (MapCodeGeneration(code) == 3) return PolyFields{13, 1, 17, 50};
  return f;
}

struct CollectionFields {
  int sections32;
  int symbolBlockAt;
  int refsAt;  // symbol index (or inline symbol)
  int regionPenAt, linePenAt, brushAt;
  int boundsAt;
};

CollectionFields CollectionLayout(int code) {
  switch (code) {
    case 55: return {0, 25, 40, 42, 43, 44, 53};
    case 56: return {0, 25, 40, 42, 43, 44, 45};
    case 57: return {0, 25, 40, 80, 86, 92, 100};
    case 70: return {1, 30, 45, 47, 48, 49, 58};
    case 71: return {1, 30, 45, 47, 48, 49, 50};
    default: return {1, 30, 45, 85, 91, 97, 105};  // 72
  }
}

struct MultipointFields {
  int flagsAt;  // 0 for none
  int symbolBlockAt;
  int refsAt;
  int centroidAt;
  int boundsAt;
};

MultipointFields MultipointLayout(int code) {
  switch (code) {
    case 52: return {0, 13, 28, 30, 42};
    case 53: return {0, 13, 28, 30, 38};
    case 54: return {0, 13, 28, 68, 76};
    case 67: return {13, 46, 61, 63, 75};
    case 68: return {13, 46, 61, 63, 71};
    default: return {13, 46, 61, 101, 109};  // 69
  }
}

// The sections a collection part record field holds.
uint32_t CollectionSections(const uint8_t* rec, int code, int slot) {
  const CollectionFields f = CollectionLayout(code);
  if (f.sections32) return QLoadU32LE(rec + (slot == 0 ? 21 : 25));
  return static_cast<uint32_t>(std::max<int16_t>(QLoadI16LE(rec + (slot == 0 ? 21 : 23)), 0));
}

// Checks the counts of a record against its data words and the limits.
bool RecordCountsSound(const uint8_t* rec, int code) {
  switch (MapObjCodeKind(code)) {
    case kGeomPolyline:
    case kGeomRegion: {
      const PolyFields f = PolyLayout(code);
      uint32_t sections = 1;
      if (f.sectionsAt) {
        if (f.sections32) {
          sections = QLoadU32LE(rec + f.sectionsAt);
        } else {
          const int16_t s = QLoadI16LE(rec + f.sectionsAt);
          if (s < 0) return false;
          sections = static_cast<uint32_t>(s);
        }
      }
      uint32_t points;
      return PointsFromDataWord(code, sections, QLoadU32LE(rec + 9), &points);
    }
    case kGeomMultipoint:
      return QLoadU32LE(rec + 9) <= kMapMaxPoints;
    case kGeomCollection: {
      uint32_t points;
      if (QLoadU32LE(rec + 9) > kMapMaxPoints) return false;
      if (!CollectionLayout(code).sections32 && (QLoadI16LE(rec + 21) < 0 ||
                                                 QLoadI16LE(rec + 23) < 0)) {
        return false;
      }
      for (int slot = 0; slot < 2; ++slot) {
        const int part = MapCollectionPartCode(slot == 0 ? kGeomRegion : kGeomPolyline, code);
        const uint32_t word = QLoadU32LE(rec + (slot == 0 ? 13 : 17));
        if (!PointsFromDataWord(part, CollectionSections(rec, code, slot), word, &points)) {
          return false;
        }
      }
      uint64_t total = 0;
      for (int slot = 0; slot < 2; ++slot) total += CollectionSections(rec, code, slot);
      return total <= kMapMaxSections;
    }
    default:
      return true;
  }
}

// ----- decoding the fixed record ----------------------------------------------------

bool DecodePoly(StyleIo& io, const uint8_t* rec, int code, GeomObject* o, IPoint* base) {
  const int compressed = io.form == kMapFormCompressed;
  const PolyFields f = PolyLayout(code);
  const uint32_t word = QLoadU32LE(rec + 9);
  uint32_t sections = 1;
  if (f.sectionsAt) {
    sections = f.sections32 ? QLoadU32LE(rec + f.sectionsAt)
                            : static_cast<uint32_t>(std::max<int16_t>(QLoadI16LE(rec + 13), 0));
  }
  o->u.poly.partCount = sections;
  o->u.poly.smooth = (word & kMapDataSmooth) ? 1 : 0;
  uint32_t points = 0;
  o->u.poly.dataSize =
      PointsFromDataWord(code, sections, word, &points) ? MemoryPolySize(sections, points) : 0;
  if (f.flagsAt) {
    o->flagA = rec[f.flagsAt] & 1;
    o->flagB = (rec[f.flagsAt] >> 1) & 1;
  }
  o->u.poly.centroid = LoadPt(rec + f.centroidAt, compressed, *base);
  return true;
}

bool DecodeTail(StyleIo& io, const uint8_t* rec, int code, GeomObject* o, const IPoint& base) {
  const int L = MapCodeLength(code);
  const int region = IsRegionLike(code);
  switch (io.form) {
    case kMapFormCompressed: {
      const int at = L - (region ? 10 : 9);
      o->bounds = LoadRect(rec + at, 1, base);
      io.GetPen(rec + at + 8, &o->pen);
      if (region) io.GetBrush(rec + at + 9, &o->brush);
      break;
    }
    case kMapFormLong: {
      const int at = L - (region ? 18 : 17);
      o->bounds = LoadRect(rec + at, 0, base);
      io.GetPen(rec + at + 16, &o->pen);
      if (region) io.GetBrush(rec + at + 17, &o->brush);
      break;
    }
    default: {
      const int at = L - (region ? 30 : 22);
      o->bounds = LoadRect(rec + at, 0, base);
      io.GetPen(rec + at + 16, &o->pen);
      if (region) io.GetBrush(rec + at + 22, &o->brush);
      break;
    }
  }
  return true;
}

// 1 decoded, 0 decoded but a style failed, -1 not decoded (error pushed).
int DecodeRecord(MapFile* map, const uint8_t* rec, GeomObject* o, uint32_t* dataStart,
                 const IPoint* blockBase, int release) {
  const int code = rec[0];
  const int kind = MapObjCodeKind(code);
  if (kind == 0) {
    PushDamaged();
    return -1;
  }
  ClearObject(o, kind);
  o->row = QLoadU32LE(rec + 1);
  StyleIo io{map, MapCodeForm(code), 0, release};
  const int compressed = io.form == kMapFormCompressed;
  const int inl = io.form == kMapFormInline;
  IPoint base = blockBase ? *blockBase : IPoint{0, 0};
  if (const int at = RecordBaseOffset(code)) {
    base = IPoint{QLoadI32LE(rec + at), QLoadI32LE(rec + at + 4)};
  }
  if (dataStart) *dataStart = MapCodeHasData(code) ? QLoadU32LE(rec + 5) : 0;
  if (HasTail(code)) DecodeTail(io, rec, code, o, base);

  switch (code) {
    case 1: case 2: case 3: {
      GeomPointFields& p = o->u.point;
      p.position = LoadPt(rec + 5, compressed, base);
      p.symbol = StyleDefaults()->symbol;
      p.symbol.kind = kSymbolSimple;
      io.GetSymbol(rec + (compressed ? 9 : 13), &p.symbol);
      IRectFromPoints(&o->bounds, &p.position, &p.position);
      break;
    }
    case 4: case 5: case 6: {
      const IPoint a = LoadPt(rec + 5, compressed, base);
      const IPoint b = LoadPt(rec + (compressed ? 9 : 13), compressed, base);
      o->u.line = GeomLineFields{a.x, a.y, b.x, b.y};
      io.GetPen(rec + (compressed ? 13 : 21), &o->pen);
      IRectFromPoints(&o->bounds, &a, &b);
      break;
    }
    case 10: case 11: case 12: {
      GeomArcFields& a = o->u.arc;
      a.startAngle = QLoadI16LE(rec + 5);
      int32_t end = QLoadI16LE(rec + 7);
      while (end <= a.startAngle) end += 3600;
      a.endAngle = static_cast<int16_t>(end);
      a.ellipse = LoadRect(rec + 9, compressed, base);
      break;
    }
    case 16: case 17: case 18: {
      GeomTextFields& t = o->u.text;
      const uint32_t word = QLoadU32LE(rec + 9);
      t.length = static_cast<uint16_t>(word & 0xFFFF);
      t.flags = (word >> 24) & 0xFF;
      if (word & (1u << 23)) t.flags |= kTextFlagBit8;
      t.angle = QLoadI16LE(rec + 13);
      FontRecUnpack(rec + 15, &t.font);
      t.lineEnd = LoadPt(rec + 23, compressed, base);
      t.height = compressed ? QLoadU16LE(rec + 27) : QLoadI32LE(rec + 31);
      io.GetName(rec + (compressed ? 29 : 35), t.font.name, 0);
      if (word & (1u << 23)) {
        t.user = static_cast<uint16_t>(t.height);
        t.height = 0;
      }
      t.frame = o->bounds;
      if (t.flags & kTextLabelMask) IRectAddPoint(&o->bounds, &t.lineEnd);
      if (t.length > 255) t.angle = 0;
      break;
    }
    case 19: case 20: case 21: case 25: case 26: case 27:
      break;
    case 22: case 23: case 24:
      o->u.roundRect.corner = compressed ? QLoadU16LE(rec + 5) : QLoadI32LE(rec + 5);
      break;
    case 28: case 29: case 30:
      // The title has no place in the object; the frame is tied to no window.
      o->u.frame.fill = QLoadU32LE(rec + 5);
      break;
    case 31: case 32: case 33:
      o->u.items.count = rec[10];
      break;
    case 34: case 35: case 36:
      o->u.items.count = rec[14];
      break;
    case 40: case 41: case 42: {
      SymbolStyle& s = o->u.point.symbol;
      s = StyleDefaults()->symbol;
      s.kind = kSymbolFont;
      std::memset(&s.font, 0, sizeof s.font);
      s.shape = rec[5];
      s.size = rec[6];
      FontSymbolRecUnpack(rec + 7, &s);
      s.angle = QLoadI16LE(rec + 15);
      o->u.point.position = LoadPt(rec + 17, compressed, base);
      io.GetName(rec + (compressed ? 21 : 25), s.font.name, 0);
      IRectFromPoints(&o->bounds, &o->u.point.position, &o->u.point.position);
      break;
    }
    case 43: case 44: case 45: {
      SymbolStyle& s = o->u.point.symbol;
      s = StyleDefaults()->symbol;
      s.kind = kSymbolCustom;
      std::memset(&s.custom, 0, sizeof s.custom);
      SymbolCustomStyleSet(&s, rec[6] & 7);
      o->u.point.position = LoadPt(rec + 7, compressed, base);
      io.GetSymbolRefs(rec + (compressed ? 11 : 15), &s);
      IRectFromPoints(&o->bounds, &o->u.point.position, &o->u.point.position);
      break;
    }
    case 58: case 59: case 60: {
      o->flagA = rec[5] & 1;
      o->flagB = (rec[5] >> 1) & 1;
      for (int which = 0; which < 2; ++which) {
        if (!(which == 0 ? o->flagA : o->flagB)) continue;
        double** values = which == 0 ? &o->values1 : &o->values2;
        if (!ReserveValues(o, values, 1)) {
          ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
          return -1;
        }
        (*values)[0] = QLoadF64LE(rec + 6 + 8 * which);
      }
      SymbolBlockUnpack(rec + 22, &o->u.point.symbol);
      io.GetSymbolRefs(rec + 37, &o->u.point.symbol);
      o->u.point.position = LoadPt(rec + (code == 60 ? 77 : 39), compressed, base);
      IRectFromPoints(&o->bounds, &o->u.point.position, &o->u.point.position);
      break;
    }
    case 52: case 53: case 54: case 67: case 68: case 69: {
      const MultipointFields f = MultipointLayout(code);
      GeomMultipointFields& m = o->u.multipoint;
      m.pointCount = QLoadU32LE(rec + 9);
      if (f.flagsAt) {
        o->flagA = rec[f.flagsAt] & 1;
        o->flagB = (rec[f.flagsAt] >> 1) & 1;
      }
      SymbolBlockUnpack(rec + f.symbolBlockAt, &m.symbol);
      io.GetSymbolRefs(rec + f.refsAt, &m.symbol);
      m.centroid = LoadPt(rec + f.centroidAt, compressed, base);
      o->bounds = LoadRect(rec + f.boundsAt, compressed, base);
      break;
    }
    case 55: case 56: case 57: case 70: case 71: case 72: {
      const CollectionFields f = CollectionLayout(code);
      o->bounds = LoadRect(rec + f.boundsAt, compressed, base);
      // Parts are made for what the record announces; their coordinates
      // come with the variable data.
      static const int kKinds[3] = {kGeomRegion, kGeomPolyline, kGeomMultipoint};
      for (int slot = 0; slot < 3; ++slot) {
        const uint32_t count =
            slot == 2 ? QLoadU32LE(rec + 9) : CollectionSections(rec, code, slot);
        if (count == 0) continue;
        MemHandle h;
        GeomObject* p;
        if (!GeomObjectAlloc(&h, &p, kKinds[slot], 0)) {
          ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
          return -1;
        }
        if (slot == 0) {
          o->regionHandle = h;
          o->u.collection.region = p;
          io.GetPen(rec + f.regionPenAt, &p->pen);
          io.GetBrush(rec + f.brushAt, &p->brush);
        } else if (slot == 1) {
          o->polylineHandle = h;
          o->u.collection.polyline = p;
          io.GetPen(rec + f.linePenAt, &p->pen);
        } else {
          o->multipointHandle = h;
          o->u.collection.multipoint = p;
          p->u.multipoint.pointCount = count;
          SymbolBlockUnpack(rec + f.symbolBlockAt, &p->u.multipoint.symbol);
          io.GetSymbolRefs(rec + f.refsAt, &p->u.multipoint.symbol);
        }
        if (slot < 2) {
          const int part = MapCollectionPartCode(kKinds[slot], code);
          const uint32_t word = QLoadU32LE(rec + (slot == 0 ? 13 : 17));
          uint32_t points = 0;
          p->u.poly.partCount = count;
          p->u.poly.smooth = (word & kMapDataSmooth) ? 1 : 0;
          p->u.poly.dataSize = PointsFromDataWord(part, count, word, &points)
                                   ? MemoryPolySize(count, points)
                                   : 0;
        }
      }
      break;
    }
    default:
      if (MapObjCodeKind(code) == kGeomPolyline || MapObjCodeKind(code) == kGeomRegion) {
        DecodePoly(io, rec, code, o, &base);
      }
      break;
  }
  (void)inl;
  return io.ok ? 1 : 0;
}

// ----- encoding the fixed record --------------------------------------------------

struct Encoder {
  StyleIo io;
  uint8_t* rec;
  int compressed;
  int fits = 1;  // 0 once a point does not fit its 16-bit delta

  void Pt(int at, const IPoint& p, const IPoint& base) {
    if (compressed) {
      if (!DeltaPointFits(&p, &base)) fits = 0;
      DeltaPointEncode(&p, rec + at, &base);
    } else {
      QStoreI32LE(rec + at, p.x);
      QStoreI32LE(rec + at + 4, p.y);
    }
  }
  void Rect(int at, const IRect& r, const IPoint& base) {
    Pt(at, IPoint{r.x1, r.y1}, base);
    Pt(at + (compressed ? 4 : 8), IPoint{r.x2, r.y2}, base);
  }
  void Tail(int code, const GeomObject* o, const IRect& bounds, const IPoint& base) {
    const int L = MapCodeLength(code);
    const int region = IsRegionLike(code);
    switch (io.form) {
      case kMapFormCompressed: {
        const int at = L - (region ? 10 : 9);
        Rect(at, bounds, base);
        io.PutPen(rec + at + 8, o->pen);
        if (region) io.PutBrush(rec + at + 9, o->brush);
        break;
      }
      case kMapFormLong: {
        const int at = L - (region ? 18 : 17);
        Rect(at, bounds, base);
        io.PutPen(rec + at + 16, o->pen);
        if (region) io.PutBrush(rec + at + 17, o->brush);
        break;
      }
      default: {
        const int at = L - (region ? 30 : 22);
        Rect(at, bounds, base);
        io.PutPen(rec + at + 16, o->pen);
        if (region) io.PutBrush(rec + at + 22, o->brush);
        break;
      }
    }
  }
};

// Value arrays are stored only by maps with the version-800 extension.
uint8_t ValueFlags(const MapFile* map, const GeomObject* o) {
  if (!map->extension) return 0;
  return static_cast<uint8_t>((o->flagA ? 1 : 0) | (o->flagB ? 2 : 0));
}

}  // namespace

// ===== public operations =================================================================

void MapObjectBlockHeadRead(const uint8_t* block, MapObjectBlockHead* head) {
  head->kind = QLoadU16LE(block);
  head->used = QLoadU16LE(block + 2);
  head->base = IPoint{QLoadI32LE(block + 4), QLoadI32LE(block + 8)};
  head->firstCoord = QLoadU32LE(block + 12);
  head->currentCoord = QLoadU32LE(block + 16);
}

void MapObjectBlockHeadWrite(uint8_t* block, const MapObjectBlockHead* head) {
  QStoreU16LE(block, head->kind);
  QStoreU16LE(block + 2, head->used);
  QStoreI32LE(block + 4, head->base.x);
  QStoreI32LE(block + 8, head->base.y);
  QStoreU32LE(block + 12, head->firstCoord);
  QStoreU32LE(block + 16, head->currentCoord);
}

void MapObjectBlockInit(MapFile* map, MapBlockSlot* slot, const IPoint* base) {
  MapBlockInit(map, slot, kMapBlockObject);
  MapObjectBlockHead head{kMapBlockObject, 0, *base, 0, 0};
  MapObjectBlockHeadWrite(slot->bytes, &head);
}

int MapObjectDecode(MapFile* map, const uint8_t* record, GeomObject* object, uint32_t* dataStart,
                    const IPoint* blockBase, int release) {
  return DecodeRecord(map, record, object, dataStart, blockBase, release) == 1;
}

int MapObjectDataRead(MapFile* map, MapBlockSlot* slot, GeomObject* object, int code,
                      const uint8_t* record) {
  const uint16_t before = ErrorCount();
  auto fail = [&]() {
    PushDamagedSince(before);
    EmptyCounts(object);
    return 0;
  };
  if (record[0] != code) return fail();
  if (!MapCodeHasData(code)) return 1;
  if (!RecordCountsSound(record, code)) return fail();
  IPoint base{0, 0};
  if (const int at = RecordBaseOffset(code)) {
    base = IPoint{QLoadI32LE(record + at), QLoadI32LE(record + at + 4)};
  }
  // Nothing of the stream can be longer than the file.
  const int64_t fileSize = FileSize(map->file);
  StreamReader r(map, slot);
  if (!r.Open(QLoadU32LE(record + 5))) return fail();
  switch (MapObjCodeKind(code)) {
    case kGeomPolyline:
    case kGeomRegion: {
      const uint32_t word = QLoadU32LE(record + 9);
      if (fileSize >= 0 && (word & kMapDataSizeMask) > fileSize) return fail();
      if (object->kind != MapObjCodeKind(code)) return fail();
      if (!ReadPoly(r, object, code, word, base, MapCodeGeneration(code) == 3)) return fail();
      return 1;
    }
    case kGeomMultipoint: {
      if (fileSize >= 0 &&
          uint64_t{object->u.multipoint.pointCount} * PointSize(code) > uint64_t(fileSize)) {
        return fail();
      }
      if (!ReadMultipoint(r, object, code, base, code >= 67)) return fail();
      return 1;
    }
    case kGeomText: {
      const uint32_t len = object->u.text.length;
      if (fileSize >= 0 && len > fileSize) return fail();
      std::vector<char> text(size_t{len} * 3 + 1, 0);
      if (!r.Run(reinterpret_cast<uint8_t*>(text.data()), len)) return fail();
      CharsetConvert(text.data(), static_cast<int>(map->charset), DefaultCharset(), text.size());
      const size_t n = std::strlen(text.data());
      if (n > 0xFFFF || !ReserveData(object, n + 1)) return fail();
      std::memcpy(object->data, text.data(), n + 1);
      object->u.text.length = static_cast<uint16_t>(n);
      if (n > 255) object->u.text.angle = 0;
      return 1;
    }
    case kGeomItems12: {
      const uint32_t n = object->u.items.count;
      if (!ReserveData(object, size_t{n} * 12)) return fail();
      uint8_t* items = static_cast<uint8_t*>(object->data);
      for (uint32_t i = 0; i < n * 6; ++i) {
        const uint8_t* p = r.Take(2);
        if (!p) return fail();
        const uint16_t v = QLoadU16LE(p);
        std::memcpy(items + 2 * i, &v, 2);
      }
      return 1;
    }
    case kGeomItems24: {
      const uint32_t n = object->u.items.count;
      if (!ReserveData(object, size_t{n} * 24)) return fail();
      uint8_t* items = static_cast<uint8_t*>(object->data);
      std::memset(items, 0, size_t{n} * 24);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p;
        if (!(p = r.Take(4))) return fail();
        const uint32_t a = QLoadU32LE(p);
        std::memcpy(items + 24 * i, &a, 4);
        if (!(p = r.Take(8))) return fail();
        std::memcpy(items + 24 * i + 8, p, 8);
        if (!(p = r.Take(2))) return fail();
        const uint16_t c = QLoadU16LE(p);
        std::memcpy(items + 24 * i + 16, &c, 2);
      }
      return 1;
    }
    case kGeomCollection: {
      const int compressed = MapCodeForm(code) == kMapFormCompressed;
      const int ps = PointSize(code);
      if (fileSize >= 0) {
        uint64_t need = uint64_t{QLoadU32LE(record + 9)} * ps;
        need += QLoadU32LE(record + 13) & kMapDataSizeMask;
        need += QLoadU32LE(record + 17) & kMapDataSizeMask;
        if (need > uint64_t(fileSize)) return fail();
      }
      for (int slot = 0; slot < 3; ++slot) {
        if (slot < 2 && code >= 70 && !r.Take(4)) return fail();
        IPoint pts[3];
        for (IPoint& pt : pts) {
          const uint8_t* p = r.Take(ps);
          if (!p) return fail();
          pt = LoadPt(p, compressed, base);
        }
        GeomObject* part = slot == 0   ? object->u.collection.region
                           : slot == 1 ? object->u.collection.polyline
                                       : object->u.collection.multipoint;
        if (part == nullptr) continue;
        part->bounds = IRect{pts[1].x, pts[1].y, pts[2].x, pts[2].y};
        if (slot == 2) {
          part->u.multipoint.centroid = pts[0];
          if (!ReadMultipoint(r, part, MapCollectionPartCode(kGeomMultipoint, code), base, 0)) {
            return fail();
          }
        } else {
          part->u.poly.centroid = pts[0];
          const int partCode =
              MapCollectionPartCode(slot == 0 ? kGeomRegion : kGeomPolyline, code);
          if (!ReadPoly(r, part, partCode, QLoadU32LE(record + (slot == 0 ? 13 : 17)), base, 0)) {
            return fail();
          }
        }
      }
      return 1;
    }
    default:
      return 1;
  }
}

uint64_t MapObjectStreamSize(const GeomObject* object, int code, int withValues) {
  MapFile none{};
  none.charset = static_cast<uint32_t>(DefaultCharset());
  CountSink sink;
  const IPoint base = RecordBaseOffset(code) ? RecordBase(object) : IPoint{0, 0};
  if (!EmitData(sink, &none, object, code, base, withValues)) return 0;
  return sink.bytes;
}

int MapObjectEncode(MapFile* map, const GeomObject* object, int code, uint8_t* record,
                    const IPoint* blockBase, uint32_t dataStart, int flags) {
  const int kind = MapObjCodeKind(code);
  if (kind == 0 || kind != object->kind) return 0;
  const int L = MapCodeLength(code);
  std::memset(record, 0, L);
  Encoder e{StyleIo{map, MapCodeForm(code), (flags & kMapEncodeCountUse) ? 1 : 0, 0}, record,
            MapCodeForm(code) == kMapFormCompressed};
  const int inl = e.io.form == kMapFormInline;
  const int compressed = e.compressed;
  IPoint base = blockBase ? *blockBase : IPoint{0, 0};
  if (const int at = RecordBaseOffset(code)) {
    base = RecordBase(object);
    QStoreI32LE(record + at, base.x);
    QStoreI32LE(record + at + 4, base.y);
  }
  record[0] = static_cast<uint8_t>(code);
  QStoreU32LE(record + 1, object->row);
  if (MapCodeHasData(code)) QStoreU32LE(record + 5, dataStart);
  if (HasTail(code)) {
    IRect bounds = object->bounds;
    if (kind == kGeomText) bounds = object->u.text.frame;
    e.Tail(code, object, bounds, base);
  }
  switch (code) {
    case 1: case 2: case 3:
      e.Pt(5, object->u.point.position, base);
      e.io.PutSymbol(record + (compressed ? 9 : 13), object->u.point.symbol);
      break;
    case 4: case 5: case 6: {
      const GeomLineFields& l = object->u.line;
      e.Pt(5, IPoint{l.x1, l.y1}, base);
      e.Pt(compressed ? 9 : 13, IPoint{l.x2, l.y2}, base);
      e.io.PutPen(record + (compressed ? 13 : 21), object->pen);
      break;
    }
    case 10: case 11: case 12:
      QStoreI16LE(record + 5, object->u.arc.startAngle);
      QStoreI16LE(record + 7, object->u.arc.endAngle);
      e.Rect(9, object->u.arc.ellipse, base);
      break;
    case 16: case 17: case 18: {
      const GeomTextFields& t = object->u.text;
      // The length the file holds is that of the converted text.
      const uint64_t len = FileText(map, object).size();
      if (len > 0xFFFF) return 0;
      uint32_t word = static_cast<uint32_t>(len) | ((t.flags & 0xFF) << 24);
      const int user = (t.flags & kTextFlagBit8) != 0;
      if (user) word |= 1u << 23;
      QStoreU32LE(record + 9, word);
      QStoreI16LE(record + 13, t.angle);
      FontRecPack(&t.font, record + 15);
      e.Pt(23, t.lineEnd, base);
      const int32_t height = user ? t.user : t.height;
      if (compressed) {
        if (height < 0 || height > 0xFFFF) return 0;
        QStoreU16LE(record + 27, static_cast<uint16_t>(height));
      } else {
        QStoreI32LE(record + 31, height);
      }
      e.io.PutName(record + (compressed ? 29 : 35), t.font.name, 0);
      break;
    }
    case 19: case 20: case 21: case 25: case 26: case 27:
      break;
    case 22: case 23: case 24: {
      const int32_t c = object->u.roundRect.corner;
      if (compressed) {
        const int64_t m = c < 0 ? -int64_t{c} : c;
        if (m > 0xFFFF) return 0;
        QStoreU16LE(record + 5, static_cast<uint16_t>(m));
        QStoreU16LE(record + 7, static_cast<uint16_t>(m));
      } else {
        QStoreI32LE(record + 5, c);
        QStoreI32LE(record + 9, c);
      }
      break;
    }
    case 28: case 29: case 30:
      QStoreU32LE(record + 5, object->u.frame.fill);
      break;
    case 31: case 32: case 33:
      record[10] = object->u.items.count;
      break;
    case 34: case 35: case 36:
      record[14] = object->u.items.count;
      break;
    case 40: case 41: case 42: {
      const SymbolStyle& s = object->u.point.symbol;
      record[5] = static_cast<uint8_t>(s.shape);
      record[6] = ClampU8(s.size);
      FontSymbolRecPack(s, record + 7);
      QStoreI16LE(record + 15, s.angle);
      e.Pt(17, object->u.point.position, base);
      e.io.PutName(record + (compressed ? 21 : 25), s.font.name, 0);
      break;
    }
    case 43: case 44: case 45: {
      const SymbolStyle& s = object->u.point.symbol;
      record[6] = static_cast<uint8_t>(SymbolCustomStyleGet(&s) & 7);
      e.Pt(7, object->u.point.position, base);
      e.io.PutSymbolRefs(record + (compressed ? 11 : 15), s);
      break;
    }
    case 58: case 59: case 60: {
      record[5] = ValueFlags(map, object);
      const uint8_t stored = record[5];
      QStoreF64LE(record + 6,
               (stored & 1) && object->values1 ? object->values1[0] : GeomValueNone());
      QStoreF64LE(record + 14,
               (stored & 2) && object->values2 ? object->values2[0] : GeomValueNone());
      SymbolBlockPack(object->u.point.symbol, record + 22);
      e.io.PutSymbolRefs(record + 37, object->u.point.symbol);
      e.Pt(code == 60 ? 77 : 39, object->u.point.position, base);
      break;
    }
    case 52: case 53: case 54: case 67: case 68: case 69: {
      const MultipointFields f = MultipointLayout(code);
      const GeomMultipointFields& m = object->u.multipoint;
      if (m.pointCount > kMapMaxPoints) return 0;
      QStoreU32LE(record + 9, m.pointCount);
      if (f.flagsAt) {
        record[f.flagsAt] = ValueFlags(map, object);
        ValueRange((record[f.flagsAt] & 1) ? object->values1 : nullptr, m.pointCount,
                   record + f.flagsAt + 1);
        ValueRange((record[f.flagsAt] & 2) ? object->values2 : nullptr, m.pointCount,
                   record + f.flagsAt + 17);
      }
      SymbolBlockPack(m.symbol, record + f.symbolBlockAt);
      e.io.PutSymbolRefs(record + f.refsAt, m.symbol);
      e.Pt(f.centroidAt, m.centroid, base);
      e.Rect(f.boundsAt, object->bounds, base);
      break;
    }
    case 55: case 56: case 57: case 70: case 71: case 72: {
      const CollectionFields f = CollectionLayout(code);
      const GeomObject* region = Part(object, 0);
      const GeomObject* line = Part(object, 1);
      const GeomObject* points = Part(object, 2);
      QStoreU32LE(record + 9, points ? points->u.multipoint.pointCount : 0);
      for (int slot = 0; slot < 2; ++slot) {
        const GeomObject* p = slot == 0 ? region : line;
        uint32_t word = 0, sections = 0;
        if (p) {
          const int part = MapCollectionPartCode(p->kind, code);
          const uint64_t bytes = PolyStreamBytes(part, p->u.poly.partCount, PolyPoints(p));
          if (bytes > kMapDataSizeMask) return 0;
          word = static_cast<uint32_t>(bytes) | ((p->u.poly.smooth & 1) ? kMapDataSmooth : 0);
          sections = p->u.poly.partCount;
        }
        QStoreU32LE(record + (slot == 0 ? 13 : 17), word);
        if (f.sections32) {
          QStoreU32LE(record + (slot == 0 ? 21 : 25), sections);
        } else {
          if (sections > 0x7FFF) return 0;
          QStoreU16LE(record + (slot == 0 ? 21 : 23), static_cast<uint16_t>(sections));
        }
      }
      SymbolStyle symbol = points ? points->u.multipoint.symbol : StyleDefaults()->symbol;
      SymbolBlockPack(symbol, record + f.symbolBlockAt);
      e.io.PutSymbolRefs(record + f.refsAt, symbol);
      e.io.PutPen(record + f.regionPenAt, region ? region->pen : StyleDefaults()->areaPen);
      e.io.PutPen(record + f.linePenAt, line ? line->pen : StyleDefaults()->linePen);
      e.io.PutBrush(record + f.brushAt, region ? region->brush : StyleDefaults()->brush);
      e.Rect(f.boundsAt, object->bounds, base);
      break;
    }
    default: {
      // Polylines and regions.
      const PolyFields f = PolyLayout(code);
      const GeomPolyFields& p = object->u.poly;
      if (p.partCount > kMapMaxSections) return 0;
      if (IsSingleSection(code) && p.partCount != 1) return 0;
      const uint64_t bytes = PolyStreamBytes(code, p.partCount, PolyPoints(object));
      if (bytes > kMapDataSizeMask) return 0;
      QStoreU32LE(record + 9, static_cast<uint32_t>(bytes) | ((p.smooth & 1) ? kMapDataSmooth : 0));
      if (f.sectionsAt) {
        if (f.sections32) {
          QStoreU32LE(record + f.sectionsAt, p.partCount);
        } else {
          if (p.partCount > 0x7FFF) return 0;
          QStoreU16LE(record + f.sectionsAt, static_cast<uint16_t>(p.partCount));
        }
      }
      if (f.flagsAt) {
        const uint32_t points = PolyPoints(object);
        record[f.flagsAt] = ValueFlags(map, object);
        ValueRange((record[f.flagsAt] & 1) ? object->values1 : nullptr, points,
                   record + f.flagsAt + 1);
        ValueRange((record[f.flagsAt] & 2) ? object->values2 : nullptr, points,
                   record + f.flagsAt + 17);
      }
      e.Pt(f.centroidAt, p.centroid, base);
      break;
    }
  }
  (void)inl;
  if (!e.fits) return 0;
  if (MapCodeHasData(code)) {
    // The variable data must fit the code too (16-bit deltas, counts).
    CountSink sink;
    if (!EmitData(sink, map, object, code, base, map->extension)) return 0;
  }
  return e.io.ok;
}

int MapObjectDataWrite(MapFile* map, const GeomObject* object, int code, MapBlockSlot* coordSlot,
                       MapBlockSlot* objectSlot, uint32_t* start) {
  *start = 0;
  if (!MapCodeHasData(code)) return 1;
  const IPoint base = RecordBaseOffset(code) ? RecordBase(object) : IPoint{0, 0};
  {
    // Refuse before anything is written.
    CountSink sink;
    if (!EmitData(sink, map, object, code, base, map->extension)) return 0;
  }
  ChainWriter w(map, coordSlot, objectSlot);
  if (!w.Begin(start)) return 0;
  if (!EmitData(w, map, object, code, base, map->extension)) return 0;
  return w.Finish() ? 1 : 0;
}

namespace {

// Reads and checks the record at a position; row -1 takes any live row word.
// 1 found, 0 not found (no error), -1 damaged (error pushed).
int ReadRecordAt(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                 uint32_t position, int64_t row, int readData, MapBoundsFilterFn filter,
                 void* filterContext, GeomObject* object, int* code, int* styleFailure) {
  const uint16_t before = ErrorCount();
  auto damaged = [&]() {
    PushDamagedSince(before);
    return -1;
  };
  const uint32_t bs = static_cast<uint32_t>(map->blockSize);
  if (bs == 0) return damaged();
  const uint32_t block = position - position % bs;
  const uint32_t offset = position - block;
  if (block == 0) return damaged();
  if (!MapBlockRead(map, objectSlot, block)) return damaged();
  MapObjectBlockHead head;
  MapObjectBlockHeadRead(objectSlot->bytes, &head);
  if (head.kind != kMapBlockObject) return damaged();
  if (uint32_t{kMapObjectBlockHead} + head.used > bs) return damaged();
  if (offset < kMapObjectBlockHead) return damaged();
  const int c = objectSlot->bytes[offset];
  const int L = MapCodeLength(c);
  if (L == 0) return damaged();
  if (offset + L > uint32_t{kMapObjectBlockHead} + head.used) return damaged();
  uint8_t rec[kMaxRecord];
  std::memcpy(rec, objectSlot->bytes + offset, L);
  if (code) *code = c;
  if (row >= 0 && QLoadU32LE(rec + 1) != static_cast<uint32_t>(row)) return 0;
  if (!RecordCountsSound(rec, c)) return damaged();
  const int decoded = DecodeRecord(map, rec, object, nullptr, &head.base, 0);
  if (decoded < 0) return -1;
  if (decoded == 0 && styleFailure) *styleFailure = 1;
  int wanted = 1;
  if (filter) wanted = filter(filterContext, &object->bounds);
  if (readData && wanted && MapCodeHasData(c)) {
    if (!MapObjectDataRead(map, coordSlot, object, c, rec)) return damaged();
  } else {
    EmptyCounts(object);
  }
  return 1;
}

}  // namespace

int MapObjectRecordRead(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                        uint32_t position, GeomObject* object, int* code) {
  return ReadRecordAt(map, objectSlot, coordSlot, position, -1, 1, nullptr, nullptr, object,
                      code, nullptr) == 1;
}

int MapObjectAppend(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                    uint32_t blockPosition, const GeomObject* object, uint32_t* position,
                    int* fits) {
  if (fits) *fits = 1;
  if (!MapBlockRead(map, objectSlot, blockPosition)) return 0;
  MapObjectBlockHead head;
  MapObjectBlockHeadRead(objectSlot->bytes, &head);
  const uint32_t bs = static_cast<uint32_t>(map->blockSize);
  if (head.kind != kMapBlockObject || uint32_t{kMapObjectBlockHead} + head.used > bs) {
    PushDamaged();
    return 0;
  }
  const int code = MapObjCodeFor(object, 1, &head.base, !map->extension);
  const int L = MapCodeLength(code);
  if (L == 0) return 0;
  if (uint32_t{kMapObjectBlockHead} + head.used + static_cast<uint32_t>(L) > bs) {
    if (fits) *fits = 0;
    return 0;
  }
  uint8_t rec[kMaxRecord];
  // The record is made first so that a style or size that cannot be stored
  // leaves the coordinate chain alone.
  if (!MapObjectEncode(map, object, code, rec, &head.base, 0, kMapEncodeCountUse)) return 0;
  uint32_t start = 0;
  if (!MapObjectDataWrite(map, object, code, coordSlot, objectSlot, &start)) return 0;
  if (MapCodeHasData(code)) QStoreU32LE(rec + 5, start);
  // The object block may have been re-read by nobody but us: its bytes in
  // the slot are current, with the coordinate fields updated.
  MapObjectBlockHeadRead(objectSlot->bytes, &head);
  const uint32_t offset = kMapObjectBlockHead + head.used;
  std::memcpy(objectSlot->bytes + offset, rec, L);
  head.used = static_cast<uint16_t>(head.used + L);
  MapObjectBlockHeadWrite(objectSlot->bytes, &head);
  if (!MapBlockWrite(map, objectSlot, blockPosition)) return 0;
  if (position) *position = blockPosition + offset;
  return 1;
}

int MapObjectReadByRow(MapFile* map, MapBlockSlot* objectSlot, MapBlockSlot* coordSlot,
                       int32_t row, int readData, RowPositionReadFn reader,
                       IdFileAccess* handle, MapBoundsFilterFn filter, void* filterContext,
                       GeomObject* object, int* styleFailure) {
  if (styleFailure) *styleFailure = 0;
  if (row < 1 || reader == nullptr) return 0;
  uint32_t position = 0;
  if (!reader(row, &position, handle) || position == 0) return 0;
  return ReadRecordAt(map, objectSlot, coordSlot, position, row, readData, filter, filterContext,
                      object, nullptr, styleFailure) == 1;
}

}  // namespace layerio
