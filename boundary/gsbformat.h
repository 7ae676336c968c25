// The boundary file (extension gsb): the one description of its bytes, shared
// by the builder that writes it and the reader that searches it. All numbers
// are little-endian; coordinates are signed 32-bit whole numbers (with
// coordinate kind 1, longitude x and latitude y in millionths of a degree).
//
// File layout, in order:
//   header, 536 bytes at offset 0
//   extension record, 324 bytes at offset 536, only when the header says so
//   object records, each appended as it was stored; none points to another
//   the name index (base/qtree.h: 8-byte keys, 8-byte data, 1024-byte pages)
//   zero bytes to the next multiple of 32768, then the spatial index pages
//
// Header:
//   0   char[256] text (default banner, or the import's header text)
//   256 u32 magic: 0x7755CDCB current, 0x8755CDCB tax boundary file,
//       0x7755CDC9 old file (read only)
//   260 u32 name index offset      264 u32 spatial index offset
//       (both only for files whose offset width is 0; old files keep their
//       point index at 264)
//   268 u32 largest record length  272 u32 largest point count of an object
//   276 u16 grid east  278 u16 grid west  280 u16 grid south  282 u16 grid north
//       (old files only; grid numbers are in units of 0.002 degree)
//   284 u16 coordinate kind        286 u16 flags (below)
//   288 u32 largest ring count     292 u32 points  296 u32 lines  300 u32 regions
//   304 i32 xmin  308 ymin  312 xmax  316 ymax of all objects
//       (0x7FFFFFFF, 0x7FFFFFFF, 0x80000000, 0x80000000 when there are none)
//   320 u16 1 when the extension record follows
//   322 u16 offset width: 1 = the u64 offsets at 328 and 336 hold
//   328 u64 name index offset (the root node of its tree)
//   336 u64 spatial index root (root page number * 32768)
//   rest zero
// Flags: 0x08 current record layout (always set by the builder), 0x01 segment
// records, 0x02 packed coordinates, 0x10 tax boundary file. A file is of the
// current layout when 0x08 is set and its magic is 0x7755CDCB or 0x8755CDCB.
//
// Extension record (offset 536): char[256] name, char[32] text, char[32]
// creation time (ctime text without its line feed), u16 tag (12), u16 kind.
//
// Line or region record, current layout (fixed part 80 bytes):
//   0 u8 kind (0 region, 1 line)  1 u8 code  2 u16 0  4 u32 record length
//   8 u32 rings  12 u32 points  16 u32 segment records
//   20 u32 offset of the ring-count table (80 + names block length)
//   24 u32 offset of the coordinates (ring-count offset + 4 * rings)
//   28..35 u16 grid east, west, south, north (old files; 0 here)
//   36 u8 pen width  37 u8 pen pattern  38 u16 record flags
//   40 i32 label x  44 i32 label y  48 u32 record number
//   52 u32 brush colour  56 u32 brush background  60 u8 brush pattern  61 3 zero
//   64 i32 xmin  68 ymin  72 xmax  76 ymax (the object's bounds widened by 1)
//   80 names block, then the ring-count table (u32 points per ring), then the
//   coordinates.
// Old layout: the same fields, fixed part 64 bytes for regions (to offset 63)
// and 52 for lines (to offset 51); bounds come from the grid numbers.
//
// Point record (fixed part 24 bytes):
//   0 u8 kind 2  1 u8 code  2 u16 0  4 u32 record length (24 + names block)
//   8 i32 x  12 i32 y  16 u32 record number  20 u8 symbol size
//   21 u8 symbol shape  22 u16 0  24 names block
//
// Names block: name, NUL, second name, NUL, then 1 to 4 zero bytes: with L
// the length of both texts with their NULs, L + 4 - L % 4 bytes.
//
// Coordinates, by the record's own flags (a file flagged packed may hold raw
// records):
//   raw (no 0x02): points x {i32 x, i32 y}; with 0x01 then the segment
//     records, 28 bytes each.
//   packed (0x02): a table of stream sizes, u32 each, 2 entries (9 with
//     0x01), then the streams in that order: all x, all y, and with 0x01 the
//     seven columns of the segment records, each over all segment records.
//     Each stream is a packed integer stream (base/packedint.h), at most
//     65,525 bytes.
//   Ring i takes the next ring-count[i] points. A region ring is stored
//   without a closing point equal to its first point.
//
// Spatial index: an R-tree of 32768-byte pages at multiples of 32768.
//   0 u16 entries (at most 1363)  2 u16 flags: 1 leaf level, 2 higher level,
//   plus 4 on the root  4 u16 page size (32768)  6 u16 level (0 = leaves)
//   8 i32 xmin  12 ymin  16 xmax  20 ymax of all entries (empty:
//   0x7FFFFFFF, 0x7FFFFFFF, 0x80000001, 0x80000001)
//   24 entries of 24 bytes: i32 xmin, ymin, xmax, ymax, u64 reference (leaf:
//   the object record's offset; higher levels: the child's page number)
//   32766 u16 check value (as for paged files, base/pagefile.h)
//
// Every Decode function checks each count, length and offset against the
// bytes it is given and fails with a short text instead of reading outside
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "boundary/ringgeom.h"
#include "boundary/segrec.h"

inline constexpr size_t kGsbHeaderSize = 536;
inline constexpr size_t kGsbExtensionSize = 324;
inline constexpr uint64_t kGsbExtensionOffset = kGsbHeaderSize;
inline constexpr size_t kGsbHeaderTextSize = 256;

inline constexpr uint32_t kGsbMagic = 0x7755CDCB;
inline constexpr uint32_t kGsbMagicTax = 0x8755CDCB;
inline constexpr uint32_t kGsbMagicOld = 0x7755CDC9;

inline constexpr uint16_t kGsbFlagSegments = 0x01;
inline constexpr uint16_t kGsbFlagPacked = 0x02;
inline constexpr uint16_t kGsbFlagCurrentLayout = 0x08;
inline constexpr uint16_t kGsbFlagTax = 0x10;

inline constexpr uint16_t kGsbCoordinateKindGeographic = 1;

// The default header text: 53 characters and the byte 0x1A.
inline constexpr char kGsbDefaultBanner[] =
    "Tavish Corle Software Inc.\r\nGeographic object file.\r\n\x1A";
inline constexpr size_t kGsbDefaultBannerLength = sizeof kGsbDefaultBanner - 1;
static_assert(kGsbDefaultBannerLength == 54);

// Extension record.
inline constexpr size_t kGsbExtensionNameSize = 256;
inline constexpr size_t kGsbExtensionTextSize = 32;
inline constexpr size_t kGsbExtensionCreatedSize = 32;
inline constexpr uint16_t kGsbExtensionTag = 12;

// Object records.
enum GsbObjectKind : uint8_t { kGsbRegion = 0, kGsbLine = 1, kGsbPoint = 2 };
inline constexpr size_t kGsbLineFixedSize = 80;
inline constexpr size_t kGsbOldRegionFixedSize = 64;
inline constexpr size_t kGsbOldLineFixedSize = 52;
inline constexpr size_t kGsbPointFixedSize = 24;
// Bytes a reader takes first to learn a record's kind and length.
inline constexpr size_t kGsbRecordPrefixSize = 8;
inline constexpr size_t kGsbNameSize = 128;  // 127 characters and the NUL
inline constexpr size_t kGsbSegmentSize = kSegmentRecordSize;
inline constexpr size_t kGsbSegmentFields = SegmentRecord::kFieldCount;
inline constexpr size_t kGsbPointStreams = 2;
inline constexpr size_t kGsbSegmentStreams = 2 + kGsbSegmentFields;
// The longest packed stream a record holds; longer coordinates are stored raw.
inline constexpr size_t kGsbStreamMaxBytes = 65525;

// Name index: the first 8 bytes of the names block, the record's u64 offset.
inline constexpr size_t kGsbNameKeySize = 8;
inline constexpr size_t kGsbNameDataSize = 8;

// Spatial index pages.
inline constexpr uint32_t kGsbPageSize = 32768;
inline constexpr size_t kGsbPageHeaderSize = 24;
inline constexpr size_t kGsbPageEntrySize = 24;
inline constexpr uint16_t kGsbPageEntriesMax = (kGsbPageSize - 48) / kGsbPageEntrySize;
static_assert(kGsbPageEntriesMax == 1363);
inline constexpr uint16_t kGsbPageLeaf = 1;
inline constexpr uint16_t kGsbPageInner = 2;
inline constexpr uint16_t kGsbPageRoot = 4;
// Fields of a page header.
inline constexpr size_t kGsbPageCountAt = 0;
inline constexpr size_t kGsbPageFlagsAt = 2;
inline constexpr size_t kGsbPageSizeAt = 4;
inline constexpr size_t kGsbPageLevelAt = 6;
inline constexpr size_t kGsbPageBoundsAt = 8;

struct GsbBounds {
  int32_t xmin;
  int32_t ymin;
  int32_t xmax;
  int32_t ymax;

  // The bounds of no objects, as the header keeps them.
  static constexpr GsbBounds Empty() { return {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}; }
  // The rectangle of no entries, as spatial index pages keep it.
  static constexpr GsbBounds EmptyPage() {
    return {INT32_MAX, INT32_MAX, INT32_MIN + 1, INT32_MIN + 1};
  }

  void Include(int32_t x, int32_t y) {
    if (x < xmin) xmin = x;
    if (x > xmax) xmax = x;
    if (y < ymin) ymin = y;
    if (y > ymax) ymax = y;
  }
  void Include(const GsbBounds& b) {
    if (b.xmin < xmin) xmin = b.xmin;
    if (b.ymin < ymin) ymin = b.ymin;
    if (b.xmax > xmax) xmax = b.xmax;
    if (b.ymax > ymax) ymax = b.ymax;
  }
  bool operator==(const GsbBounds&) const = default;
};

// ---- header -----------------------------------------------------------------

struct GsbHeader {
  char text[kGsbHeaderTextSize] = {};
  uint32_t magic = kGsbMagic;
  uint32_t nameIndexOffset32 = 0;
  uint32_t spatialIndexOffset32 = 0;  // old files: their point index
  uint32_t maxRecordLength = 0;
  uint32_t maxPoints = 0;
  uint16_t gridEast = 0;
  uint16_t gridWest = 0;
  uint16_t gridSouth = 0;
  uint16_t gridNorth = 0;
  uint16_t coordinateKind = 0;
  uint16_t flags = 0;
  uint32_t maxRings = 0;
  uint32_t pointCount = 0;
  uint32_t lineCount = 0;
  uint32_t regionCount = 0;
  GsbBounds bounds = GsbBounds::Empty();
  uint16_t hasExtension = 0;
  uint16_t offsetWidth = 0;
  uint64_t nameIndexOffset = 0;
  uint64_t spatialRoot = 0;

  bool IsCurrentLayout() const {
    return (flags & kGsbFlagCurrentLayout) && (magic == kGsbMagic || magic == kGsbMagicTax);
  }
  // Where the indexes lie, by the offset width.
  uint64_t NameIndex() const { return offsetWidth == 1 ? nameIndexOffset : nameIndexOffset32; }
  uint64_t SpatialIndex() const { return offsetWidth == 1 ? spatialRoot : spatialIndexOffset32; }
  // The bounds of all objects; old files state them as grid numbers.
  GsbBounds AllBounds() const;
};

void EncodeGsbHeader(const GsbHeader& header, uint8_t out[kGsbHeaderSize]);
// Decodes the header of a file of fileSize bytes. Fails with *why set for
// another magic, or an index offset or extension record outside the file.
bool DecodeGsbHeader(const uint8_t* bytes, size_t size, uint64_t fileSize, GsbHeader* out,
                     const char** why);

// ---- extension record ---------------------------------------------------------

struct GsbExtension {
  char name[kGsbExtensionNameSize] = {};
  char text[kGsbExtensionTextSize] = {};
  char created[kGsbExtensionCreatedSize] = {};
  uint16_t tag = kGsbExtensionTag;
  uint16_t kind = 0;
};

void EncodeGsbExtension(const GsbExtension& extension, uint8_t out[kGsbExtensionSize]);
// Every text comes out terminated, cut at its field's last byte.
bool DecodeGsbExtension(const uint8_t* bytes, size_t size, GsbExtension* out, const char** why);

// ---- names block ----------------------------------------------------------------

inline size_t GsbNamesBlockLength(size_t nameLength, size_t name2Length) {
  size_t l = nameLength + 1 + name2Length + 1;
  return l + 4 - l % 4;
}
// Writes the block for the two texts (of the given lengths) to out, which
// holds GsbNamesBlockLength bytes.
void EncodeGsbNamesBlock(std::string_view name, std::string_view name2, uint8_t* out);

// ---- object records ---------------------------------------------------------------

// One object record's fields. Lines and regions use the fields from rings to
// bounds; points use x, y and the symbol.
struct GsbObjectRecord {
  uint8_t kind = kGsbRegion;
  uint8_t code = 0;
  uint32_t length = 0;
  uint32_t rings = 0;
  uint32_t points = 0;
  uint32_t segments = 0;
  uint32_t ringOffset = 0;
  uint32_t coordinateOffset = 0;
  uint16_t gridEast = 0;
  uint16_t gridWest = 0;
  uint16_t gridSouth = 0;
  uint16_t gridNorth = 0;
  uint8_t penWidth = 0;
  uint8_t penPattern = 0;
  uint16_t flags = 0;
  int32_t labelX = 0;
  int32_t labelY = 0;
  uint32_t recordNumber = 0;
  uint32_t brushColour = 0;
  uint32_t brushBackground = 0;
  uint8_t brushPattern = 0;
  GsbBounds bounds = GsbBounds::Empty();
  int32_t x = 0;
  int32_t y = 0;
  uint8_t symbolSize = 0;
  uint8_t symbolShape = 0;
  // Decode points these into the record's bytes.
  std::string_view name;
  std::string_view name2;

  bool Packed() const { return (flags & kGsbFlagPacked) != 0; }
  bool HasSegments() const { return (flags & kGsbFlagSegments) != 0; }
  size_t StreamCount() const { return HasSegments() ? kGsbSegmentStreams : kGsbPointStreams; }
};

// The fixed parts of the current layout.
void EncodeGsbLineFixed(const GsbObjectRecord& record, uint8_t out[kGsbLineFixedSize]);
void EncodeGsbPointFixed(const GsbObjectRecord& record, uint8_t out[kGsbPointFixedSize]);

// The kind of the record that starts at bytes and, for a point, its
// position and record number, from the fixed part alone (size bytes
// available there): for readers that need no more of a point. False when
// fewer than kGsbRecordPrefixSize bytes are given, or for a point whose
// stated length or the bytes given fall short of its fixed part; nothing
// else of the record is checked.
struct GsbPointHead {
  uint8_t kind = 0;
  int32_t x = 0;
  int32_t y = 0;
  uint32_t recordNumber = 0;
};
bool DecodeGsbPointHead(const uint8_t* bytes, size_t size, GsbPointHead* out);

// Decodes the record that starts at bytes (size bytes available there, its
// whole length included) and checks it whole: its length against size, the
// names block, the ring-count table and the coordinate block against the
// length, and (packed) the table of stream sizes. currentLayout comes from the
// header. Ring counts and coordinates are read with the functions below.
bool DecodeGsbObjectRecord(const uint8_t* bytes, size_t size, bool currentLayout,
                           GsbObjectRecord* out, const char** why);

// Ring i's point count (i below record.rings), and the sum of them all;
// bytes and record as checked above.
uint32_t GsbRingCount(const uint8_t* bytes, const GsbObjectRecord& record, uint32_t i);
uint64_t GsbRingCountSum(const uint8_t* bytes, const GsbObjectRecord& record);

// The record's ring counts into counts (record.rings entries); fails when they
// do not add up to its point count. bytes and record as checked above.
bool DecodeGsbRingCounts(const uint8_t* bytes, const GsbObjectRecord& record, uint32_t* counts,
                         const char** why);

// The record's points into points (record.points of them) and, when segments
// is not null, its segment records into segments (record.segments of them).
// Fails for a packed stream that is damaged or holds too few values.
bool DecodeGsbCoordinates(const uint8_t* bytes, const GsbObjectRecord& record, RingPoint* points,
                          SegmentRecord* segments, const char** why);

// ---- spatial index pages --------------------------------------------------------------

struct GsbPageEntry {
  GsbBounds bounds;
  uint64_t reference;  // record offset (leaf) or child page number
};

struct GsbPageHeader {
  uint16_t count = 0;
  uint16_t flags = 0;
  uint16_t pageSize = kGsbPageSize;
  uint16_t level = 0;
  GsbBounds bounds = GsbBounds::EmptyPage();
};

// Entries are kept in this form wherever they travel (the builder's sorts too).
void EncodeGsbPageEntry(const GsbPageEntry& entry, uint8_t out[kGsbPageEntrySize]);
// Writes header and entries (count of them, at most 1363) into the page
// buffer of kGsbPageSize bytes, zeroes the rest and sets the check value.
void EncodeGsbPage(const GsbPageHeader& header, const uint8_t* entries, uint8_t* page);
// The header fields of a page, as they stand: the caller has at least
// kGsbPageHeaderSize bytes of it and checks them.
GsbPageHeader LoadGsbPageHeader(const uint8_t* page);
// Whether count entries lie in a page of pageSize bytes before its check value.
constexpr bool GsbPageHolds(size_t pageSize, size_t count) {
  return pageSize >= 2 && kGsbPageHeaderSize + count * kGsbPageEntrySize <= pageSize - 2;
}
// Checks the page's size field, count, level and check value.
bool DecodeGsbPageHeader(const uint8_t* page, size_t size, GsbPageHeader* out, const char** why);
// One entry's 24 bytes.
GsbPageEntry DecodeGsbEntry(const uint8_t* entry);
// Entry i of a page whose header decoded (i below its count).
inline GsbPageEntry DecodeGsbPageEntry(const uint8_t* page, uint16_t i) {
  return DecodeGsbEntry(page + kGsbPageHeaderSize + size_t(i) * kGsbPageEntrySize);
}
