#include "boundary/gsbformat.h"

#include <cstring>

#include "base/packedint.h"
#include "base/pagefile.h"

namespace {

// Header offsets.
constexpr size_t kHMagic = 256;
constexpr size_t kHNameIndex32 = 260;
constexpr size_t kHSpatialIndex32 = 264;
constexpr size_t kHMaxRecordLength = 268;
constexpr size_t kHMaxPoints = 272;
constexpr size_t kHGridEast = 276;
constexpr size_t kHGridWest = 278;
constexpr size_t kHGridSouth = 280;
constexpr size_t kHGridNorth = 282;
constexpr size_t kHCoordinateKind = 284;
constexpr size_t kHFlags = 286;
constexpr size_t kHMaxRings = 288;
constexpr size_t kHPointCount = 292;
constexpr size_t kHLineCount = 296;
constexpr size_t kHRegionCount = 300;
constexpr size_t kHBounds = 304;
constexpr size_t kHHasExtension = 320;
constexpr size_t kHOffsetWidth = 322;
constexpr size_t kHNameIndex = 328;
constexpr size_t kHSpatialRoot = 336;

// Extension offsets, from the record's start.
constexpr size_t kXName = 0;
constexpr size_t kXText = 256;
constexpr size_t kXCreated = 288;
constexpr size_t kXTag = 320;
constexpr size_t kXKind = 322;

// Line and region record offsets.
constexpr size_t kRKind = 0;
constexpr size_t kRCode = 1;
constexpr size_t kRLength = 4;
constexpr size_t kRRings = 8;
constexpr size_t kRPoints = 12;
constexpr size_t kRSegments = 16;
constexpr size_t kRRingOffset = 20;
constexpr size_t kRCoordinateOffset = 24;
constexpr size_t kRGridEast = 28;
constexpr size_t kRGridWest = 30;
constexpr size_t kRGridSouth = 32;
constexpr size_t kRGridNorth = 34;
constexpr size_t kRPenWidth = 36;
constexpr size_t kRPenPattern = 37;
constexpr size_t kRFlags = 38;
constexpr size_t kRLabelX = 40;
constexpr size_t kRLabelY = 44;
constexpr size_t kRRecordNumber = 48;
constexpr size_t kRBrushColour = 52;
constexpr size_t kRBrushBackground = 56;
constexpr size_t kRBrushPattern = 60;
constexpr size_t kRBounds = 64;

// Point record offsets.
constexpr size_t kPX = 8;
constexpr size_t kPY = 12;
constexpr size_t kPRecordNumber = 16;
constexpr size_t kPSymbolSize = 20;
constexpr size_t kPSymbolShape = 21;

constexpr const char* kNotBoundaryFile = "Not a boundary file.";
constexpr const char* kHeaderShort = "Boundary file header cut short.";
constexpr const char* kIndexOutside = "Index offset outside the file.";
constexpr const char* kExtensionOutside = "Extension record outside the file.";
constexpr const char* kRecordShort = "Object record cut short.";
constexpr const char* kRecordKind = "Unknown object kind.";
constexpr const char* kNamesDamaged = "Names block damaged.";
constexpr const char* kRingsDamaged = "Ring table damaged.";
constexpr const char* kCoordinatesDamaged = "Coordinates outside the record.";
constexpr const char* kStreamDamaged = "Packed coordinates damaged.";
constexpr const char* kPageDamaged = "Spatial index page damaged.";
constexpr const char* kPageCheck = "Spatial index page check value does not match.";


bool Fail(const char** why, const char* text) {
  if (why) *why = text;
  return false;
}

void StoreBounds(uint8_t* p, const GsbBounds& b) {
  QStoreI32LE(p, b.xmin);
  QStoreI32LE(p + 4, b.ymin);
  QStoreI32LE(p + 8, b.xmax);
  QStoreI32LE(p + 12, b.ymax);
}
GsbBounds LoadBounds(const uint8_t* p) {
  return {QLoadI32LE(p), QLoadI32LE(p + 4), QLoadI32LE(p + 8), QLoadI32LE(p + 12)};
}

// Old files: grid numbers in units of 0.002 degree.
int32_t GridX(uint32_t g) { return (-30000 - int32_t(g & 0xFFFF)) * 2000; }
int32_t GridY(uint32_t g) { return int32_t(g & 0xFFFF) * 2000; }

// A text field copied out terminated, cut at the field's last byte.
void CopyField(char* to, const uint8_t* from, size_t size) {
  size_t n = strnlen(reinterpret_cast<const char*>(from), size - 1);
  std::memcpy(to, from, n);
  std::memset(to + n, 0, size - n);
}
// A text copied into a field of size bytes, zero-filled; at most size - 1
// characters so that the field ends in a NUL.
void StoreField(uint8_t* to, const char* from, size_t size) {
  size_t n = strnlen(from, size - 1);
  std::memset(to, 0, size);
  std::memcpy(to, from, n);
}

// The two texts of a names block that starts at `at` of a record of length
// bytes; both NULs must lie inside the record. Returns the block's end.
bool DecodeNames(const uint8_t* bytes, size_t at, size_t length, GsbObjectRecord* out,
                 size_t* end) {
  if (at >= length) return false;
  const char* text = reinterpret_cast<const char*>(bytes);
  const void* nul = std::memchr(text + at, 0, length - at);
  if (!nul) return false;
  size_t first = size_t(static_cast<const char*>(nul) - text);
  if (first + 1 >= length) return false;
  nul = std::memchr(text + first + 1, 0, length - first - 1);
  if (!nul) return false;
  size_t second = size_t(static_cast<const char*>(nul) - text);
  out->name = std::string_view(text + at, first - at);
  out->name2 = std::string_view(text + first + 1, second - first - 1);
  *end = second + 1;
  return true;
}

}  // namespace

// ---- header -----------------------------------------------------------------

GsbBounds GsbHeader::AllBounds() const {
  if (IsCurrentLayout()) return bounds;
  return {GridX(uint32_t(gridWest) + 1), GridY(uint32_t(gridSouth) - 1),
          GridX(uint32_t(gridEast) - 1), GridY(uint32_t(gridNorth) + 1)};
}

void EncodeGsbHeader(const GsbHeader& h, uint8_t out[kGsbHeaderSize]) {
  std::memset(out, 0, kGsbHeaderSize);
  std::memcpy(out, h.text, kGsbHeaderTextSize);
  QStoreU32LE(out + kHMagic, h.magic);
  QStoreU32LE(out + kHNameIndex32, h.nameIndexOffset32);
  QStoreU32LE(out + kHSpatialIndex32, h.spatialIndexOffset32);
  QStoreU32LE(out + kHMaxRecordLength, h.maxRecordLength);
  QStoreU32LE(out + kHMaxPoints, h.maxPoints);
  QStoreU16LE(out + kHGridEast, h.gridEast);
  QStoreU16LE(out + kHGridWest, h.gridWest);
  QStoreU16LE(out + kHGridSouth, h.gridSouth);
  QStoreU16LE(out + kHGridNorth, h.gridNorth);
  QStoreU16LE(out + kHCoordinateKind, h.coordinateKind);
  QStoreU16LE(out + kHFlags, h.flags);
  QStoreU32LE(out + kHMaxRings, h.maxRings);
  QStoreU32LE(out + kHPointCount, h.pointCount);
  QStoreU32LE(out + kHLineCount, h.lineCount);
  QStoreU32LE(out + kHRegionCount, h.regionCount);
  StoreBounds(out + kHBounds, h.bounds);
  QStoreU16LE(out + kHHasExtension, h.hasExtension);
  QStoreU16LE(out + kHOffsetWidth, h.offsetWidth);
  QStoreU64LE(out + kHNameIndex, h.nameIndexOffset);
  QStoreU64LE(out + kHSpatialRoot, h.spatialRoot);
}

bool DecodeGsbHeader(const uint8_t* b, size_t size, uint64_t fileSize, GsbHeader* out,
                     const char** why) {
  if (size < kGsbHeaderSize || fileSize < kGsbHeaderSize) return Fail(why, kHeaderShort);
  GsbHeader h;
  h.magic = QLoadU32LE(b + kHMagic);
  if (h.magic != kGsbMagic && h.magic != kGsbMagicTax && h.magic != kGsbMagicOld)
    return Fail(why, kNotBoundaryFile);
  std::memcpy(h.text, b, kGsbHeaderTextSize);
  h.text[kGsbHeaderTextSize - 1] = '\0';
  h.nameIndexOffset32 = QLoadU32LE(b + kHNameIndex32);
  h.spatialIndexOffset32 = QLoadU32LE(b + kHSpatialIndex32);
  h.maxRecordLength = QLoadU32LE(b + kHMaxRecordLength);
  h.maxPoints = QLoadU32LE(b + kHMaxPoints);
  h.gridEast = QLoadU16LE(b + kHGridEast);
  h.gridWest = QLoadU16LE(b + kHGridWest);
  h.gridSouth = QLoadU16LE(b + kHGridSouth);
  h.gridNorth = QLoadU16LE(b + kHGridNorth);
  h.coordinateKind = QLoadU16LE(b + kHCoordinateKind);
  h.flags = QLoadU16LE(b + kHFlags);
  h.maxRings = QLoadU32LE(b + kHMaxRings);
  h.pointCount = QLoadU32LE(b + kHPointCount);
  h.lineCount = QLoadU32LE(b + kHLineCount);
  h.regionCount = QLoadU32LE(b + kHRegionCount);
  h.bounds = LoadBounds(b + kHBounds);
  h.hasExtension = QLoadU16LE(b + kHHasExtension);
  h.offsetWidth = QLoadU16LE(b + kHOffsetWidth);
  h.nameIndexOffset = QLoadU64LE(b + kHNameIndex);
  h.spatialRoot = QLoadU64LE(b + kHSpatialRoot);

  if (h.hasExtension == 1 && fileSize < kGsbExtensionOffset + kGsbExtensionSize)
    return Fail(why, kExtensionOutside);
  if (h.NameIndex() >= fileSize || h.SpatialIndex() >= fileSize) return Fail(why, kIndexOutside);
  if (h.IsCurrentLayout() &&
      (h.SpatialIndex() % kGsbPageSize != 0 || fileSize - h.SpatialIndex() < kGsbPageSize))
    return Fail(why, kIndexOutside);
  *out = h;
  return true;
}

// ---- extension record ---------------------------------------------------------

void EncodeGsbExtension(const GsbExtension& x, uint8_t out[kGsbExtensionSize]) {
  StoreField(out + kXName, x.name, kGsbExtensionNameSize);
  StoreField(out + kXText, x.text, kGsbExtensionTextSize);
  StoreField(out + kXCreated, x.created, kGsbExtensionCreatedSize);
  QStoreU16LE(out + kXTag, x.tag);
  QStoreU16LE(out + kXKind, x.kind);
}

bool DecodeGsbExtension(const uint8_t* b, size_t size, GsbExtension* out, const char** why) {
  if (size < kGsbExtensionSize) return Fail(why, kExtensionOutside);
  CopyField(out->name, b + kXName, kGsbExtensionNameSize);
  CopyField(out->text, b + kXText, kGsbExtensionTextSize);
  CopyField(out->created, b + kXCreated, kGsbExtensionCreatedSize);
  out->tag = QLoadU16LE(b + kXTag);
  out->kind = QLoadU16LE(b + kXKind);
  return true;
}

// ---- names block ----------------------------------------------------------------

void EncodeGsbNamesBlock(std::string_view name, std::string_view name2, uint8_t* out) {
  size_t length = GsbNamesBlockLength(name.size(), name2.size());
  std::memset(out, 0, length);
  std::memcpy(out, name.data(), name.size());
  std::memcpy(out + name.size() + 1, name2.data(), name2.size());
}

// ---- object records ---------------------------------------------------------------

void EncodeGsbLineFixed(const GsbObjectRecord& r, uint8_t out[kGsbLineFixedSize]) {
  std::memset(out, 0, kGsbLineFixedSize);
  out[kRKind] = r.kind;
  out[kRCode] = r.code;
  QStoreU32LE(out + kRLength, r.length);
  QStoreU32LE(out + kRRings, r.rings);
  QStoreU32LE(out + kRPoints, r.points);
  QStoreU32LE(out + kRSegments, r.segments);
  QStoreU32LE(out + kRRingOffset, r.ringOffset);
  QStoreU32LE(out + kRCoordinateOffset, r.coordinateOffset);
  QStoreU16LE(out + kRGridEast, r.gridEast);
  QStoreU16LE(out + kRGridWest, r.gridWest);
  QStoreU16LE(out + kRGridSouth, r.gridSouth);
  QStoreU16LE(out + kRGridNorth, r.gridNorth);
  out[kRPenWidth] = r.penWidth;
  out[kRPenPattern] = r.penPattern;
  QStoreU16LE(out + kRFlags, r.flags);
  QStoreI32LE(out + kRLabelX, r.labelX);
  QStoreI32LE(out + kRLabelY, r.labelY);
  QStoreU32LE(out + kRRecordNumber, r.recordNumber);
  QStoreU32LE(out + kRBrushColour, r.brushColour);
  QStoreU32LE(out + kRBrushBackground, r.brushBackground);
  out[kRBrushPattern] = r.brushPattern;
  StoreBounds(out + kRBounds, r.bounds);
}

void EncodeGsbPointFixed(const GsbObjectRecord& r, uint8_t out[kGsbPointFixedSize]) {
  std::memset(out, 0, kGsbPointFixedSize);
  out[kRKind] = kGsbPoint;
  out[kRCode] = r.code;
  QStoreU32LE(out + kRLength, r.length);
  QStoreI32LE(out + kPX, r.x);
  QStoreI32LE(out + kPY, r.y);
  QStoreU32LE(out + kPRecordNumber, r.recordNumber);
  out[kPSymbolSize] = r.symbolSize;
  out[kPSymbolShape] = r.symbolShape;
}

bool DecodeGsbPointHead(const uint8_t* b, size_t size, GsbPointHead* out) {
  if (size < kGsbRecordPrefixSize) return false;
  out->kind = b[kRKind];
  if (out->kind != kGsbPoint) return true;
  if (size < kGsbPointFixedSize || QLoadU32LE(b + kRLength) < kGsbPointFixedSize) return false;
  out->x = QLoadI32LE(b + kPX);
  out->y = QLoadI32LE(b + kPY);
  out->recordNumber = QLoadU32LE(b + kPRecordNumber);
  return true;
}

bool DecodeGsbObjectRecord(const uint8_t* b, size_t size, bool currentLayout, GsbObjectRecord* out,
                           const char** why) {
  if (size < kGsbRecordPrefixSize) return Fail(why, kRecordShort);
  GsbObjectRecord r;
  r.kind = b[kRKind];
  r.code = b[kRCode];
  r.length = QLoadU32LE(b + kRLength);
  if (r.length > size) return Fail(why, kRecordShort);
  const size_t length = r.length;
  size_t namesEnd = 0;

  if (r.kind == kGsbPoint) {
    if (length < kGsbPointFixedSize) return Fail(why, kRecordShort);
    r.x = QLoadI32LE(b + kPX);
    r.y = QLoadI32LE(b + kPY);
    r.recordNumber = QLoadU32LE(b + kPRecordNumber);
    r.symbolSize = b[kPSymbolSize];
    r.symbolShape = b[kPSymbolShape];
    r.bounds = {r.x, r.y, r.x, r.y};
    if (!DecodeNames(b, kGsbPointFixedSize, length, &r, &namesEnd)) return Fail(why, kNamesDamaged);
    *out = r;
    return true;
  }
  if (r.kind != kGsbRegion && r.kind != kGsbLine) return Fail(why, kRecordKind);

  const size_t fixed = currentLayout          ? kGsbLineFixedSize
                       : r.kind == kGsbRegion ? kGsbOldRegionFixedSize
                                              : kGsbOldLineFixedSize;
  if (length < fixed) return Fail(why, kRecordShort);
  r.rings = QLoadU32LE(b + kRRings);
  r.points = QLoadU32LE(b + kRPoints);
  r.segments = QLoadU32LE(b + kRSegments);
  r.ringOffset = QLoadU32LE(b + kRRingOffset);
  r.coordinateOffset = QLoadU32LE(b + kRCoordinateOffset);
  r.gridEast = QLoadU16LE(b + kRGridEast);
  r.gridWest = QLoadU16LE(b + kRGridWest);
  r.gridSouth = QLoadU16LE(b + kRGridSouth);
  r.gridNorth = QLoadU16LE(b + kRGridNorth);
  r.penWidth = b[kRPenWidth];
  r.penPattern = b[kRPenPattern];
  r.flags = QLoadU16LE(b + kRFlags);
  r.labelX = QLoadI32LE(b + kRLabelX);
  r.labelY = QLoadI32LE(b + kRLabelY);
  r.recordNumber = QLoadU32LE(b + kRRecordNumber);
  if (fixed > kGsbOldLineFixedSize) {
    r.brushColour = QLoadU32LE(b + kRBrushColour);
    r.brushBackground = QLoadU32LE(b + kRBrushBackground);
    r.brushPattern = b[kRBrushPattern];
  }
  if (currentLayout)
    r.bounds = LoadBounds(b + kRBounds);
  else
    r.bounds = {GridX(r.gridWest), GridY(r.gridSouth), GridX(r.gridEast), GridY(r.gridNorth)};
  if (!r.HasSegments()) r.segments = 0;

  if (!DecodeNames(b, fixed, length, &r, &namesEnd)) return Fail(why, kNamesDamaged);
  // 64-bit sums: every count below comes from the file.
  const uint64_t ringEnd = uint64_t(r.ringOffset) + 4 * uint64_t(r.rings);
  if (r.ringOffset < namesEnd || ringEnd > r.coordinateOffset || r.coordinateOffset > length)
    return Fail(why, kRingsDamaged);
  const uint64_t rest = length - r.coordinateOffset;
  if (!r.Packed()) {
    uint64_t need = 8 * uint64_t(r.points) + kGsbSegmentSize * uint64_t(r.segments);
    if (need > rest) return Fail(why, kCoordinatesDamaged);
  } else {
    const uint64_t table = 4 * uint64_t(r.StreamCount());
    if (table > rest) return Fail(why, kCoordinatesDamaged);
    uint64_t sum = table;
    for (size_t i = 0; i < r.StreamCount(); ++i) {
      uint32_t streamSize = QLoadU32LE(b + r.coordinateOffset + 4 * i);
      if (streamSize > kPackedStreamLengthLimit) return Fail(why, kStreamDamaged);
      sum += streamSize;
    }
    if (sum > rest) return Fail(why, kCoordinatesDamaged);
  }
  *out = r;
  return true;
}

uint32_t GsbRingCount(const uint8_t* b, const GsbObjectRecord& r, uint32_t i) {
  return QLoadU32LE(b + r.ringOffset + 4 * size_t(i));
}

uint64_t GsbRingCountSum(const uint8_t* b, const GsbObjectRecord& r) {
  uint64_t sum = 0;
  for (uint32_t i = 0; i < r.rings; ++i) sum += GsbRingCount(b, r, i);
  return sum;
}

bool DecodeGsbRingCounts(const uint8_t* b, const GsbObjectRecord& r, uint32_t* counts,
                         const char** why) {
  if (GsbRingCountSum(b, r) != r.points) return Fail(why, kRingsDamaged);
  for (uint32_t i = 0; i < r.rings; ++i) counts[i] = GsbRingCount(b, r, i);
  return true;
}

namespace {

// The count values of one stream, each handed to put(index, value).
template <class Put>
bool DecodeStream(const uint8_t* start, uint32_t size, uint32_t count, Put put) {
  if (count == 0) return true;
  if (size == 0) return false;
  PackedIntReader reader;
  reader.Attach(start, size);
  for (uint32_t i = 0; i < count; ++i) put(i, reader.Get(int32_t(i)));
  return !reader.Failed();
}

}  // namespace

bool DecodeGsbCoordinates(const uint8_t* b, const GsbObjectRecord& r, RingPoint* points,
                          SegmentRecord* segments, const char** why) {
  const uint8_t* p = b + r.coordinateOffset;
  if (!r.Packed()) {
    for (uint32_t i = 0; i < r.points; ++i, p += 8) points[i] = {QLoadI32LE(p), QLoadI32LE(p + 4)};
    if (segments)
      for (uint32_t i = 0; i < r.segments; ++i, p += kGsbSegmentSize)
        segments[i] = DecodeSegmentRecord(p);
    return true;
  }
  const size_t streams = r.StreamCount();
  const uint8_t* stream = p + 4 * streams;
  for (size_t s = 0; s < streams; ++s) {
    const uint32_t size = QLoadU32LE(p + 4 * s);
    bool ok = true;
    if (s == 0)
      ok = DecodeStream(stream, size, r.points, [&](uint32_t i, int32_t v) { points[i].x = v; });
    else if (s == 1)
      ok = DecodeStream(stream, size, r.points, [&](uint32_t i, int32_t v) { points[i].y = v; });
    else if (segments)
      ok = DecodeStream(stream, size, r.segments,
                        [&](uint32_t i, int32_t v) { segments[i].field[s - 2] = v; });
    if (!ok) return Fail(why, kStreamDamaged);
    stream += size;
  }
  return true;
}

// ---- spatial index pages --------------------------------------------------------------

void EncodeGsbPageEntry(const GsbPageEntry& e, uint8_t out[kGsbPageEntrySize]) {
  StoreBounds(out, e.bounds);
  QStoreU64LE(out + 16, e.reference);
}

GsbPageEntry DecodeGsbEntry(const uint8_t* p) { return {LoadBounds(p), QLoadU64LE(p + 16)}; }

void EncodeGsbPage(const GsbPageHeader& h, const uint8_t* entries, uint8_t* page) {
  std::memset(page, 0, kGsbPageSize);
  QStoreU16LE(page + kGsbPageCountAt, h.count);
  QStoreU16LE(page + kGsbPageFlagsAt, h.flags);
  QStoreU16LE(page + kGsbPageSizeAt, h.pageSize);
  QStoreU16LE(page + kGsbPageLevelAt, h.level);
  StoreBounds(page + kGsbPageBoundsAt, h.bounds);
  if (h.count) std::memcpy(page + kGsbPageHeaderSize, entries, size_t(h.count) * kGsbPageEntrySize);
  QPageSetCheckValue(page, kGsbPageSize);
}

GsbPageHeader LoadGsbPageHeader(const uint8_t* page) {
  GsbPageHeader h;
  h.count = QLoadU16LE(page + kGsbPageCountAt);
  h.flags = QLoadU16LE(page + kGsbPageFlagsAt);
  h.pageSize = QLoadU16LE(page + kGsbPageSizeAt);
  h.level = QLoadU16LE(page + kGsbPageLevelAt);
  h.bounds = LoadBounds(page + kGsbPageBoundsAt);
  return h;
}

bool DecodeGsbPageHeader(const uint8_t* page, size_t size, GsbPageHeader* out, const char** why) {
  if (size < kGsbPageSize) return Fail(why, kPageDamaged);
  const GsbPageHeader h = LoadGsbPageHeader(page);
  const uint16_t kind = h.flags & ~kGsbPageRoot;
  if (h.pageSize != kGsbPageSize || h.count > kGsbPageEntriesMax ||
      (kind != kGsbPageLeaf && kind != kGsbPageInner) || ((kind == kGsbPageLeaf) != (h.level == 0)))
    return Fail(why, kPageDamaged);
  if (!QPageCheckValueValid(page, kGsbPageSize)) return Fail(why, kPageCheck);
  *out = h;
  return true;
}
