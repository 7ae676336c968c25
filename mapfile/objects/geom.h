// The map object of Layerio: one record (GeomObject) for every kind of map
// object, with its styles, its integer bounds and its growable buffers.
//
// Kinds: 0 none, 1 point, 2 line, 3 arc, 4 polyline, 5 region, 6 text,
// 7 rectangle, 8 rounded rectangle, 9 ellipse, 10 frame, 11 and 12 (items of
// 12 and 24 bytes), 13 multipoint, 14 collection (a region, a polyline and a
// multipoint part, each a heap object of its own).
//
// Buffers and ownership:
//   - The data buffer of a polyline or region holds the part headers (28
//     bytes each, GeomPart) followed by the points of all parts (IPoint, 8
//     bytes each). A part's position is the byte offset of its first point
//     from the start of the data buffer; it stays an offset at all times (an
//     address does not fit the 32-bit field), so walks find a part's points
//     with GeomPartPoints. Region rings are stored closed.
//   - A multipoint's buffer holds its points; a text's its bytes and a zero;
//     kinds 11 and 12 their items.
//   - Value arrays 1 and 2 hold one double per point while flag A (B) is set;
//     a missing value has the bits of kGeomValueNone.
//   - Buffer-flag bit 0 (borrowed): the data buffer, the value arrays and the
//     collection parts belong to somebody else; this object never frees nor
//     reallocates them, and a change that would need a larger buffer fails.
//     Bit 1 (read-only): every change of the data buffer fails with 0.
//   - The process-wide scratch buffer may serve as an object's data buffer
//     while it is filled from a file. It is never freed by an object; when it
//     grows for one, the process-wide pointer follows the new block.
//
// Results are 1 for success and 0 for failure unless said otherwise. Memory
// failures while growing coordinate buffers push 899 (polylines) or 900
// (regions and multipoints) with severity 4 and leave the object as it was.
// Operations on the wrong kind and indexes out of range give 0 and change
// nothing.
//
// The geometry of the objects (normalising, bounds, part order, ring nesting,
// centroids, shape point lists and the conversions between kinds) lives in
// the object geometry code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/value.h"
#include "mapfile/foundation/rect.h"
#include "mapfile/objects/styles.h"

namespace layerio {

enum GeomKind : uint8_t {
  kGeomNone = 0,
  kGeomPoint = 1,
  kGeomLine = 2,
  kGeomArc = 3,
  kGeomPolyline = 4,
  kGeomRegion = 5,
  kGeomText = 6,
  kGeomRect = 7,
  kGeomRoundRect = 8,
  kGeomEllipse = 9,
  kGeomFrame = 10,
  kGeomItems12 = 11,
  kGeomItems24 = 12,
  kGeomMultipoint = 13,
  kGeomCollection = 14,
};
inline constexpr int kGeomKindCount = 15;

// Buffer flags.
inline constexpr uint32_t kGeomBorrowed = 1u << 0;
inline constexpr uint32_t kGeomReadOnly = 1u << 1;

// Error codes of failed growth.
inline constexpr int16_t kErrPolylineMemory = 899;
inline constexpr int16_t kErrRegionMemory = 900;

// The missing value of the value arrays.
inline constexpr uint64_t kGeomValueNone = 0x7FFFFFFFFFFFFFFFull;
double GeomValueNone();

// The library's arc resolution: points per full turn.
inline constexpr int32_t kGeomArcResolution = 100;

// Limits of the part list and of the scratch buffer.
inline constexpr uint32_t kGeomMaxParts = 24403224;  // exclusive
inline constexpr size_t kGeomScratchSize = 65000;
inline constexpr size_t kGeomScratchLimit = 0x3FFFFFFF;

// Storage-variant thresholds of polylines and regions.
inline constexpr uint32_t kGeomShortPartLimit = 2730;
inline constexpr uint32_t kGeomShortSizeLimit = 262136;  // 0x3FFF8
inline constexpr uint32_t kGeomMediumPartLimit = 32767;
inline constexpr uint32_t kGeomMediumSizeLimit = 8388607;

// One part of a polyline or region (28 bytes in the data buffer).
struct GeomPart {
  int32_t pointCount;
  uint32_t following;  // parts after this one added with it as one polygon
  IRect bounds;
  uint32_t position;  // byte offset of the first point in the data buffer
};
static_assert(offsetof(GeomPart, pointCount) == 0 && offsetof(GeomPart, following) == 4 &&
              offsetof(GeomPart, bounds) == 8 && offsetof(GeomPart, position) == 24 &&
              sizeof(GeomPart) == 28);
inline constexpr uint32_t kGeomPartSize = 28;
inline constexpr uint32_t kGeomPointSize = 8;

// Text flags.
inline constexpr uint32_t kTextFlagBit0 = 1u << 0;           // attribute 265
inline constexpr uint32_t kTextJustifyShift = 1;             // bits 1-2, attribute 257
inline constexpr uint32_t kTextJustifyMask = 3u << 1;
inline constexpr uint32_t kTextSpacingShift = 3;             // bits 3-4, attribute 256
inline constexpr uint32_t kTextSpacingMask = 3u << 3;
inline constexpr uint32_t kTextLabelShift = 5;               // bits 5-7, attribute 258
inline constexpr uint32_t kTextLabelMask = 7u << 5;
inline constexpr uint32_t kTextFlagBit8 = 1u << 8;           // attribute 272
inline constexpr uint32_t kTextNibbleShift = 9;              // bits 9-12, attribute 273
inline constexpr uint32_t kTextNibbleMask = 15u << 9;

struct GeomLineFields {
  int32_t x1, y1, x2, y2;
};
struct GeomPointFields {
  IPoint position;
  SymbolStyle symbol;
};
struct GeomArcFields {
  IRect ellipse;  // the whole ellipse, normalised
  int16_t startAngle, endAngle;  // tenths of a degree, 0..3599
};
struct GeomPolyFields {
  IPoint centroid;  // attribute 771
  uint32_t partCount;
  uint32_t dataSize;  // bytes used: part headers and points
  uint32_t smooth;    // bit 0: polylines, attribute 768
};
// Attribute 288 reads and writes this record whole (the length excepted on
// writing: the text is set through attribute 262).
struct GeomTextFields {
  uint16_t length;  // characters without the terminator
  FontStyle font;
  int32_t height;  // one line of the unrotated text, integer map units
  IRect frame;     // the unrotated text box
  IPoint lineEnd;  // label-line end point
  int16_t angle;   // tenths of a degree
  uint32_t flags;
  IPoint corners[4];  // the rotated frame
  uint16_t user;      // attribute 274
};
struct GeomRoundRectFields {
  int32_t corner;  // its magnitude is used
};
struct GeomFrameFields {
  uint32_t window;  // attribute 512
  uint32_t value;   // attribute 513
  uint32_t fill;    // bit 0: attribute 514
};
struct GeomItemFields {
  uint8_t count;
};
struct GeomMultipointFields {
  SymbolStyle symbol;
  IPoint centroid;
  uint32_t pointCount;
};
struct GeomCollectionFields {
  GeomObject* region;
  GeomObject* polyline;
  GeomObject* multipoint;
};

struct GeomObject {
  uint8_t kind;
  PenStyle pen;
  BrushStyle brush;
  IRect bounds;
  uint32_t row;  // bits 0-29
  void* data;
  uint32_t bufferFlags;
  MemHandle regionHandle;
  MemHandle polylineHandle;
  MemHandle multipointHandle;
  double* values1;
  double* values2;
  uint16_t flagA;
  uint16_t flagB;
  union {
    GeomPointFields point;
    GeomLineFields line;
    GeomArcFields arc;
    GeomPolyFields poly;  // polylines and regions
    GeomTextFields text;
    GeomRoundRectFields roundRect;
    GeomFrameFields frame;
    GeomItemFields items;
    GeomMultipointFields multipoint;
    GeomCollectionFields collection;
  } u;
};

// What GeomObjectSaveBuffers keeps.
struct GeomBufferSave {
  void* data;
  uint32_t bits;  // buffer-flag bits 0 and 1
  MemHandle regionHandle, polylineHandle, multipointHandle;
  double* values1;
  double* values2;
};

// Sizes in bytes of an object's buffers.
struct GeomBufferSizes {
  size_t data;
  size_t values1;
  size_t values2;
};

// ----- kind groups -----
int GeomKindIsArea(int kind);    // 5, 6, 7, 8, 9 (a text by its frame)
int GeomKindIsLinear(int kind);  // 2, 3, 4
int GeomKindIsPoint(int kind);   // 1, 13
int GeomKindHasBrush(int kind);  // 5, 7, 8, 9, 10

// ----- the scratch buffer -----
// Allocated by the interface frame at initialisation, freed at shutdown.
int GeomScratchInit();
void GeomScratchShutdown();
void* GeomScratch();

// ----- life cycle and buffers -----
void GeomObjectInit(GeomObject* object, int kind);
void GeomObjectFree(GeomObject* object);
void GeomObjectDestroy(MemHandle handle);
int GeomObjectAlloc(MemHandle* handle, GeomObject** object, int kind, int useScratch);
int GeomObjectReset(GeomObject* object, int kind, int useScratch);
void GeomObjectSetKind(GeomObject* object, int kind);
// The target's previous buffers are not freed: it is a fresh or freed record.
int GeomObjectCopy(const GeomObject* source, GeomObject* target);
GeomObject* GeomObjectClone(const GeomObject* source);
void GeomObjectSaveBuffers(const GeomObject* object, GeomBufferSave* save);
void GeomObjectRestoreBuffers(GeomObject* object, const GeomBufferSave* save);
void GeomObjectCopyKeepBuffers(GeomObject* target, const GeomObject* source);
int GeomObjectSizes(const GeomObject* object, GeomBufferSizes* sizes);

void* GeomObjectBuffer(const GeomObject* object);
int GeomObjectHasBuffer(const GeomObject* object);
int GeomObjectOwnsBuffer(const GeomObject* object);
int GeomObjectOwnsParts(const GeomObject* object);
int GeomObjectBufferWritable(const GeomObject* object);

// Makes a heap buffer hold at least size bytes; with keep contents set a
// buffer already large enough is left alone. usedSize (when given) receives
// the block's size.
int GeomBufferReserve(size_t size, void** buffer, size_t* usedSize, int keepContents);
int GeomScratchReserve(size_t size, size_t* usedSize, int keepContents);
int GeomScratchReserveLimited(size_t size, size_t* usedSize, int keepContents);

// ----- parts of polylines and regions -----
GeomPart* GeomParts(const GeomObject* object);  // null below one part
IPoint* GeomPartPoints(const GeomObject* object, const GeomPart* part);
// Makes room for further parts and points; partWalk (when given) holds an
// address of a part header, kept valid across a move. 2 moved, 1 large
// enough, 0 failure.
int GeomPartsReserve(GeomObject* object, uint32_t newParts, uint32_t newPoints,
                     GeomPart** partWalk);
int GeomPartsAdd(GeomObject* object, uint32_t count, uint32_t points, int asOnePolygon,
                 uint32_t* firstIndex);
int GeomPartInsertPoints(GeomObject* object, GeomPart** partWalk, int32_t part, int32_t position,
                         const IPoint* points, int32_t count, const double* values1,
                         const double* values2);
// Replaces all parts of a polyline or region at once, in linear time: part
// i takes pointCounts[i] points from the run of points (and values, where a
// flag is set; missing values when none are given). As with GeomPartSetPoints
// a region's ring is closed by a copy of its first point, and empty parts
// are refused. Building part by part moves the points of the earlier parts
// for every new part; this is the builder for objects of many parts.
int GeomPartsSetAll(GeomObject* object, uint32_t count, const int32_t* pointCounts,
                    const IPoint* points, const double* values1, const double* values2);
int GeomPartGetPoints(const GeomObject* object, int32_t part, int32_t position, int32_t count,
                      IPoint* points, double* values1, double* values2);
int GeomPartSetPoints(GeomObject* object, int32_t part, int32_t position, const IPoint* points,
                      int32_t count, const double* values1, const double* values2);

// ----- texts and multipoints -----
int GeomTextSet(GeomObject* object, const char* text);
int GeomMultipointAddPoints(GeomObject* object, int32_t count, const IPoint* points,
                            const double* values1, const double* values2);
int GeomMultipointGetPoints(const GeomObject* object, int32_t first, int32_t count,
                            IPoint* points, double* values1, double* values2);

// ----- conversions and collections -----
// A polyline asked for as a polyline, or a region as a region, is cloned;
// lines, arcs, rectangles, rounded rectangles and ellipses become polylines or
// regions through their point lists (geometry.h). Null on failure.
GeomObject* GeomObjectToPoly(const GeomObject* object, int asRegion, int32_t resolution);
GeomObject* GeomObjectToPolyDefault(const GeomObject* object, int asRegion);
int GeomCollectionAddObject(GeomObject* collection, const GeomObject* object, int replace);
int GeomCollectionHasRegion(const GeomObject* object);
int GeomCollectionHasPolyline(const GeomObject* object);
int GeomCollectionHasMultipoint(const GeomObject* object);
int GeomCollectionPartMask(const GeomObject* object, uint32_t* mask);

// ----- queries -----
int GeomObjectIsEmpty(const GeomObject* object);
int GeomObjectHasValuesA(const GeomObject* object);
int GeomObjectHasValuesB(const GeomObject* object);
int GeomObjectCentroid(const GeomObject* object, IPoint* out);
int GeomObjectUsesPointWidth(const GeomObject* object);
// The stored size; the variant (1, 2 or 3) goes to variant when given.
uint32_t GeomObjectStorageSize(const GeomObject* object, int* variant, int allowShortForms);
// Variant tests as the map-object file makes them (short forms not allowed
// when the object carries values).
int GeomObjectIsCodeVariant1(const GeomObject* object);
int GeomObjectIsCodeVariant2(const GeomObject* object);
void GeomObjectKindName(const GeomObject* object, char* buffer, size_t size);

// Installs the copy, free and kind name of map objects for the foundation's
// kind-13 values (ValueSetObjectServices); the interface does it when the
// library initialises.
void GeomValueServicesInstall();

// ----- attributes by code -----
enum GeomAttr : int32_t {
  kAttrKind = 1,
  kAttrPen = 2,
  kAttrBrush = 3,
  kAttrSymbol = 4,
  kAttrRow = 5,
  kAttrBounds = 6,
  kAttrNotEmpty = 7,
  kAttrHasValuesA = 8,
  kAttrHasValuesB = 9,
  kAttrPoint = 80,
  kAttrLine = 96,
  kAttrTextSpacing = 256,
  kAttrTextJustify = 257,
  kAttrTextLabelLine = 258,
  kAttrTextFont = 259,
  kAttrTextHeight = 260,
  kAttrTextAngle = 261,
  kAttrTextString = 262,
  kAttrTextFrame = 263,
  kAttrTextLineEnd = 264,
  kAttrTextFlag0 = 265,
  kAttrTextFlag8 = 272,
  kAttrTextNibble = 273,
  kAttrTextUser = 274,
  kAttrTextCorners = 275,
  kAttrTextFrameCorner = 276,
  kAttrTextCornerBounds = 277,
  kAttrTextAll = 288,
  kAttrFrameWindow = 512,
  kAttrFrameValue = 513,
  kAttrFrameFill = 514,
  kAttrSmooth = 768,
  kAttrPartCount = 769,
  kAttrPointsLessParts = 770,
  kAttrCentroid = 771,
  kAttrPointCount = 772,
  kAttrPartPoints = 1024,  // + part index
};
// The value's type follows the code: u8 kind; PenStyle; BrushStyle;
// SymbolStyle; u32 row; IRect bounds; u16 for 7, 8, 9 and the text bits,
// the fill and smooth flags; IPoint for 80, 264, 276 and 771; four i32 for
// 96 (GeomLineFields); FontStyle; i32 height; i16 angle; the text and a zero
// (262; the caller's buffer holds length + 1 bytes); IRect for 263 and 277;
// IPoint[4] for 275; GeomTextFields for 288; u32 for 512, 513, 769, 770, 772;
// i32 for 1024 + n. 1 when the code applies to the kind, else 0.
int GeomObjectGetAttr(const GeomObject* object, int32_t code, void* out);
int GeomObjectSetAttr(GeomObject* object, int32_t code, const void* in);

// ----- walks -----
using GeomPointVisit = int (*)(void* context, const IPoint* point);
using GeomSegmentVisit = int (*)(void* context, const IPoint* a, const IPoint* b);
using GeomPartVisit = int (*)(void* context, const GeomObject* object, const GeomPart* part);
int GeomObjectForEachPoint(const GeomObject* object, GeomPointVisit visit, void* context);
int GeomObjectForEachSegment(const GeomObject* object, GeomSegmentVisit visit, void* context);
int GeomObjectForEachPart(const GeomObject* object, GeomPartVisit visit, void* context);
int GeomPartForEachPoint(const GeomObject* object, const GeomPart* part, GeomPointVisit visit,
                         void* context);
int GeomPartForEachSegment(const GeomObject* object, const GeomPart* part,
                           GeomSegmentVisit visit, void* context);
// The five-point ring of the bounds, closed; 5.
int GeomRectRing(IPoint out[5], const GeomObject* object);

}  // namespace layerio
