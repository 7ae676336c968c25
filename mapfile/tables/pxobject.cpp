// Conversion between the public object record and the map object.
//
// The record is read and written field by field at the offsets of
// include/layerio.h; the caller's point and section arrays are read through
// memcpy, so that nothing assumes their alignment.
#include "mapfile/foundation/error.h"
#include "mapfile/tables/pxobject.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <new>

#include "mapfile/objects/arcs.h"
#include "mapfile/objects/geometry.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/objects/styles.h"

namespace layerio {

namespace {

constexpr uint32_t kColourMask = 0xFFFFFF;
constexpr int16_t kSymbolSizeMin = 1;
constexpr int16_t kSymbolSizeMax = 240;
constexpr uint16_t kTextAttributeMask = 0x7F;
constexpr uint16_t kTextLabelBits = 0x70;
// Points converted per step of a chain that needs a working array.
constexpr int kChunk = 256;

static_assert(sizeof(PXPoint) == sizeof(DPoint) && sizeof(PXSection) == 16);

// ----- the record's fields -----

template <class T>
T Get(const PXObject* o, size_t offset) {
  T value;
  std::memcpy(&value, o->u.bytes + offset, sizeof value);
  return value;
}

template <class T>
void Put(PXObject* o, size_t offset, T value) {
  std::memcpy(o->u.bytes + offset, &value, sizeof value);
}

void GetName(const PXObject* o, size_t offset, char name[kStyleNameSize]) {
  std::memcpy(name, o->u.bytes + offset, kStyleNameSize);
  name[kStyleNameSize - 1] = '\0';
}

void PutName(PXObject* o, size_t offset, const char* name) {
  size_t n = strnlen(name, kStyleNameSize - 1);
  std::memcpy(o->u.bytes + offset, name, n);
}

// ----- the conversion's scratch arrays -----

struct Scratch {
  DPoint* points = nullptr;
  size_t pointCapacity = 0;
  PXSection* sections = nullptr;
  size_t sectionCapacity = 0;
  char* text = nullptr;
  size_t textCapacity = 0;
};
Scratch gScratch;

// The systems of the last conversion and the records they were built from.
struct KeptSystems {
  ::PXCoordSys from{}, to{};
  CoordSys systems[2];
};
KeptSystems* gKeptSystems = nullptr;

template <class T>
bool Reserve(T** array, size_t* capacity, size_t count) {
  if (count <= *capacity) return true;
  constexpr size_t kMax = SIZE_MAX / sizeof(T);
  size_t grown = *capacity + *capacity / 2;
  if (grown < count || grown > kMax) grown = count;
  void* block = count > kMax ? nullptr : MemRealloc(*array, grown * sizeof(T));
  if (!block) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return false;
  }
  *array = static_cast<T*>(block);
  *capacity = grown;
  return true;
}

// A heap array freed on every path.
template <class T>
class Buffer {
 public:
  ~Buffer() { MemFree(data_); }
  bool Allocate(size_t count) {
    if (count > SIZE_MAX / sizeof(T) || !(data_ = static_cast<T*>(MemAlloc(count * sizeof(T))))) {
      ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
      return false;
    }
    return true;
  }
  T* get() const { return data_; }

 private:
  T* data_ = nullptr;
};

// ----- the passage of coordinates -----

// From the units of the crossing system into the table's integers and back.
class Passage {
 public:
  Passage(const CoordSys* table, const CoordSys* caller) : table_(table), caller_(caller) {
    if (caller_) {
      CoordSysDatumRecord(caller_, &callerDatum_);
      CoordSysDatumRecord(table_, &tableDatum_);
    }
  }

  void In(const DPoint* in, IPoint* out, int n) const {
    for (int i = 0; i < n; ++i)
      if (!std::isfinite(in[i].x) || !std::isfinite(in[i].y)) refused_ = true;
    if (!caller_) {
      CoordUnitsToInt(in, out, table_, n);
    } else {
      DPoint work[kChunk];
      for (int done = 0; done < n; done += kChunk) {
        int m = n - done < kChunk ? n - done : kChunk;
        UnitsToLonLat(in + done, work, caller_, m);
        LonLatToInt(work, out + done, &callerDatum_, table_, m);
      }
    }
    for (int i = 0; i < n && !refused_; ++i)
      if (Clamped(in[i], out[i])) refused_ = true;
  }

  // Whether a point came in that the table cannot hold (not a number,
  // infinite, or beyond the integer range its bounds span): the conversion
  // would store another point in its place.
  bool Refused() const { return refused_; }

  void Out(const IPoint* in, DPoint* out, int n) const {
    if (!caller_) {
      CoordIntToUnits(in, out, table_, n);
      return;
    }
    IntToLonLatNoDatum(in, out, table_, n);
    LonLatToUnitsOnDatum(out, out, &tableDatum_, caller_, n);
  }

  IPoint InPoint(DPoint p) const {
    IPoint out;
    In(&p, &out, 1);
    return out;
  }

  DPoint OutPoint(IPoint p) const {
    DPoint out;
    Out(&p, &out, 1);
    return out;
  }

  // A rectangle through its two corners; mirrorX (mirrorY) tells whether the
  // passage reversed the order of the x (y) values.
  void InRect(const PXObject* o, size_t offset, IRect* out, int* mirrorX, int* mirrorY) const {
    DPoint corners[2] = {{Get<double>(o, offset), Get<double>(o, offset + 8)},
                         {Get<double>(o, offset + 16), Get<double>(o, offset + 24)}};
    IPoint ints[2];
    In(corners, ints, 2);
    if (mirrorX) *mirrorX = Reversed(corners[1].x - corners[0].x, double(ints[1].x) - ints[0].x);
    if (mirrorY) *mirrorY = Reversed(corners[1].y - corners[0].y, double(ints[1].y) - ints[0].y);
    IRectFromPoints(out, &ints[0], &ints[1]);
  }

  void OutRect(const IRect& in, PXObject* o, size_t offset, int* mirrorX, int* mirrorY) const {
    IPoint ints[2] = {{in.x1, in.y1}, {in.x2, in.y2}};
    DPoint corners[2];
    Out(ints, corners, 2);
    if (mirrorX) *mirrorX = Reversed(double(ints[1].x) - ints[0].x, corners[1].x - corners[0].x);
    if (mirrorY) *mirrorY = Reversed(double(ints[1].y) - ints[0].y, corners[1].y - corners[0].y);
    DRect r{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    DRectNormalize(&r);
    Put(o, offset, r.x1);
    Put(o, offset + 8, r.y1);
    Put(o, offset + 16, r.x2);
    Put(o, offset + 24, r.y2);
  }

 private:
  static int Reversed(double before, double after) {
    return (before > 0 && after < 0) || (before < 0 && after > 0);
  }

  // A point whose integers stand at the limit of the range came from there
  // only when they lead back to it within the span of one integer step.
  bool Clamped(const DPoint& given, const IPoint& stored) const {
    const bool atX = stored.x == kIntCoordLimit || stored.x == -kIntCoordLimit;
    const bool atY = stored.y == kIntCoordLimit || stored.y == -kIntCoordLimit;
    if (!atX && !atY) return false;
    const IPoint inward = {stored.x - (stored.x > 0 ? 1 : -1), stored.y - (stored.y > 0 ? 1 : -1)};
    const DPoint back = OutPoint(stored), step = OutPoint(inward);
    const double slackX = std::fabs(back.x - step.x) + 1e-9 * std::fabs(given.x);
    const double slackY = std::fabs(back.y - step.y) + 1e-9 * std::fabs(given.y);
    return (atX && !(std::fabs(back.x - given.x) <= slackX)) ||
           (atY && !(std::fabs(back.y - given.y) <= slackY));
  }

  const CoordSys* table_;
  const CoordSys* caller_;
  PXDatum callerDatum_{};
  PXDatum tableDatum_{};
  mutable bool refused_ = false;
};

// ----- styles -----

void PenIn(const PXObject* o, size_t at, PenStyle* pen) {
  pen->width = int16_t(Get<uint32_t>(o, at));
  pen->pattern = Get<uint32_t>(o, at + 4);
  pen->kept = Get<uint32_t>(o, at + 8);
  pen->colour = Get<uint32_t>(o, at + 12) & kColourMask;
}

void PenOut(const PenStyle& pen, PXObject* o, size_t at) {
  Put<uint32_t>(o, at, uint32_t(int32_t(pen.width)));
  Put<uint32_t>(o, at + 4, pen.pattern);
  Put<uint32_t>(o, at + 8, pen.kept);
  Put<uint32_t>(o, at + 12, pen.colour & kColourMask);
}

void BrushIn(const PXObject* o, size_t at, BrushStyle* brush) {
  uint32_t pattern = Get<uint32_t>(o, at);
  brush->pattern = pattern == 0 ? 1 : pattern;
  brush->foreground = Get<uint32_t>(o, at + 4) & kColourMask;
  brush->background = Get<uint32_t>(o, at + 8) & kColourMask;
  brush->transparent = uint8_t(Get<uint32_t>(o, at + 12));
}

void BrushOut(const BrushStyle& brush, PXObject* o, size_t at) {
  Put<uint32_t>(o, at, brush.pattern);
  Put<uint32_t>(o, at + 4, brush.foreground & kColourMask);
  Put<uint32_t>(o, at + 8, brush.background & kColourMask);
  Put<uint32_t>(o, at + 12, brush.transparent);
}

// Degrees to tenths of a degree in 0..3599; false for an angle that is not a
// number.
bool AngleIn(double degrees, int16_t* tenths) {
  if (!std::isfinite(degrees)) return false;
  int64_t t = NumRound(std::fmod(degrees, 360.0) * 10.0) % 3600;
  if (t < 0) t += 3600;
  *tenths = int16_t(t);
  return true;
}

double AngleOut(int32_t tenths) { return tenths / 10.0; }

// The symbol record of a point code (201, 211, 212).
bool SymbolIn(const PXObject* o, size_t at, uint32_t code, SymbolStyle* symbol) {
  std::memset(symbol, 0, sizeof *symbol);
  switch (code) {
    case PX_OBJECT_POINT: {
      symbol->kind = kSymbolSimple;
      symbol->shape = int16_t(Get<uint32_t>(o, at + PX_SYMBOL_CODE));
      symbol->colour = Get<uint32_t>(o, at + PX_SYMBOL_COLOUR) & kColourMask;
      int16_t size = Get<int16_t>(o, at + PX_SYMBOL_SIZE);
      symbol->size = size < kSymbolSizeMin   ? kSymbolSizeMin
                     : size > kSymbolSizeMax ? kSymbolSizeMax
                                             : size;
      return true;
    }
    case PX_OBJECT_FONT_POINT: {
      symbol->kind = kSymbolFont;
      symbol->shape = int16_t(Get<uint32_t>(o, at + PX_SYMBOL_CODE));
      symbol->colour = Get<uint32_t>(o, at + PX_SYMBOL_COLOUR) & kColourMask;
      symbol->size = Get<int16_t>(o, at + PX_SYMBOL_SIZE);
      GetName(o, at + PX_FONT_SYMBOL_NAME, symbol->font.name);
      SymbolFontStyleSet(symbol, Get<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE));
      return AngleIn(Get<double>(o, at + PX_FONT_SYMBOL_ANGLE), &symbol->angle);
    }
    case PX_OBJECT_CUSTOM_POINT: {
      symbol->kind = kSymbolCustom;
      char name[kStyleNameSize];
      GetName(o, at + PX_CUSTOM_SYMBOL_NAME, name);
      SymbolCustomNameSet(symbol, name);
      symbol->colour = Get<uint32_t>(o, at + PX_CUSTOM_SYMBOL_COLOUR) & kColourMask;
      symbol->size = Get<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE);
      SymbolCustomStyleSet(symbol, Get<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE));
      return true;
    }
    default:
      return false;
  }
}

// Writes the symbol; its point code, or 0 for a symbol of no known kind.
uint8_t SymbolOut(const SymbolStyle& symbol, PXObject* o, size_t at) {
  switch (symbol.kind) {
    case kSymbolSimple:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, uint32_t(int32_t(symbol.shape)));
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, symbol.colour & kColourMask);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, symbol.size);
      return PX_OBJECT_POINT;
    case kSymbolFont:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, uint32_t(int32_t(symbol.shape)));
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, symbol.colour & kColourMask);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, symbol.size);
      PutName(o, at + PX_FONT_SYMBOL_NAME, symbol.font.name);
      Put<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE, SymbolFontStyleGet(&symbol));
      Put<double>(o, at + PX_FONT_SYMBOL_ANGLE, AngleOut(symbol.angle));
      return PX_OBJECT_FONT_POINT;
    case kSymbolCustom:
      PutName(o, at + PX_CUSTOM_SYMBOL_NAME, symbol.custom.file);
      Put<uint32_t>(o, at + PX_CUSTOM_SYMBOL_COLOUR, symbol.colour & kColourMask);
      Put<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE, symbol.size);
      Put<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE, uint16_t(SymbolCustomStyleGet(&symbol)));
      return PX_OBJECT_CUSTOM_POINT;
    default:
      return 0;
  }
}

void FontIn(const PXObject* o, size_t at, FontStyle* font) {
  std::memset(font, 0, sizeof *font);
  font->style = uint8_t(Get<uint32_t>(o, at + PX_FONT_STYLE) & 0xFF);
  font->flagA = Get<uint16_t>(o, at + PX_FONT_FLAGS);
  font->flagB = Get<uint16_t>(o, at + PX_FONT_FLAGS + 2);
  font->flagC = Get<uint16_t>(o, at + PX_FONT_FLAGS + 4);
  GetName(o, at + PX_FONT_NAME, font->name);
  font->foreground = Get<uint32_t>(o, at + PX_FONT_FOREGROUND) & kColourMask;
  font->background = Get<uint32_t>(o, at + PX_FONT_BACKGROUND) & kColourMask;
  font->backgroundFlag = uint8_t(Get<uint32_t>(o, at + PX_FONT_BACKGROUND_FLAG));
}

void FontOut(const FontStyle& font, PXObject* o, size_t at) {
  Put<uint32_t>(o, at + PX_FONT_STYLE, font.style);
  Put<uint16_t>(o, at + PX_FONT_FLAGS, font.flagA);
  Put<uint16_t>(o, at + PX_FONT_FLAGS + 2, font.flagB);
  Put<uint16_t>(o, at + PX_FONT_FLAGS + 4, font.flagC);
  PutName(o, at + PX_FONT_NAME, font.name);
  Put<uint32_t>(o, at + PX_FONT_FOREGROUND, font.foreground & kColourMask);
  Put<uint32_t>(o, at + PX_FONT_BACKGROUND, font.background & kColourMask);
  Put<uint32_t>(o, at + PX_FONT_BACKGROUND_FLAG, font.backgroundFlag);
}

// ----- inward: sections -----

// One section as the caller gives it.
struct SectionRef {
  uint32_t count;
  const uint8_t* points;  // count PXPoint, any alignment
};

bool SectionCountValid(uint32_t n) { return n >= 1 && n <= kPublicMaxSections; }
bool PointCountValid(uint32_t n) { return n >= 1 && n <= kPublicMaxPoints; }

// The sections of a 204/213 (one, count and pointer at the offsets) or of a
// 205/210 (the section array at the pointer offset).
bool ReadSections(const PXObject* o, size_t countAt, size_t pointerAt, bool array,
                  Buffer<SectionRef>* sections, uint32_t* count) {
  uint32_t n = Get<uint32_t>(o, countAt);
  const uint8_t* pointer = Get<const uint8_t*>(o, pointerAt);
  if (!array) {
    if (!PointCountValid(n) || !pointer) return false;
    if (!sections->Allocate(1)) return false;
    sections->get()[0] = SectionRef{n, pointer};
    *count = 1;
    return true;
  }
  if (!SectionCountValid(n) || !pointer) return false;
  if (!sections->Allocate(n)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* entry = pointer + size_t(i) * sizeof(PXSection);
    uint32_t points;
    const uint8_t* at;
    std::memcpy(&points, entry + offsetof(PXSection, count), sizeof points);
    std::memcpy(&at, entry + offsetof(PXSection, points), sizeof at);
    if (!PointCountValid(points) || !at) return false;
    sections->get()[i] = SectionRef{points, at};
  }
  *count = n;
  return true;
}

// Converts the sections' points into one run of integer points; a region
// section whose last point repeats its first gives one point fewer.
bool ConvertSections(const SectionRef* sections, uint32_t count, bool region,
                     const Passage& passage, Buffer<IPoint>* points, Buffer<int32_t>* counts,
                     uint64_t* total) {
  uint64_t all = 0;
  for (uint32_t i = 0; i < count; ++i) all += sections[i].count;
  // The object's data buffer holds the part headers and every point in 32
  // bits of size.
  if (uint64_t{kGeomPartSize} * count + uint64_t{kGeomPointSize} * (all + count) > UINT32_MAX)
    return false;
  if (!points->Allocate(all) || !counts->Allocate(count)) return false;
  IPoint* out = points->get();
  DPoint work[kChunk];
  for (uint32_t i = 0; i < count; ++i) {
    const SectionRef& s = sections[i];
    IPoint* first = out;
    for (uint32_t done = 0; done < s.count; done += kChunk) {
      uint32_t m = s.count - done < uint32_t(kChunk) ? s.count - done : uint32_t(kChunk);
      std::memcpy(work, s.points + size_t(done) * sizeof(PXPoint), m * sizeof(PXPoint));
      passage.In(work, out, int(m));
      out += m;
    }
    int32_t n = int32_t(s.count);
    if (region && n > 1 && first[n - 1].x == first[0].x && first[n - 1].y == first[0].y) {
      --n;
      --out;
    }
    counts->get()[i] = n;
  }
  *total = uint64_t(out - points->get());
  return true;
}

// ----- inward by code -----

int16_t FromPublic(const PXObject* in, GeomObject* out, const Passage& passage,
                   const CoordSys* tableCs);

int16_t PolyFromPublic(const PXObject* in, uint8_t code, GeomObject* out,
                       const Passage& passage) {
  const bool region = code == PX_OBJECT_REGION;
  Buffer<SectionRef> sections;
  uint32_t count = 0;
  bool read = code == PX_OBJECT_POLYLINE
                  ? ReadSections(in, PX_OBJECT_COUNT, PX_OBJECT_POLYLINE_POINTS, false,
                                 &sections, &count)
                  : ReadSections(in, PX_OBJECT_COUNT,
                                 region ? PX_OBJECT_REGION_POLYGONS
                                        : PX_OBJECT_MULTI_POLYLINE_SECTIONS,
                                 true, &sections, &count);
  if (!read) return 0;
  Buffer<IPoint> points;
  Buffer<int32_t> counts;
  uint64_t total = 0;
  if (!ConvertSections(sections.get(), count, region, passage, &points, &counts, &total))
    return 0;
  GeomObjectInit(out, region ? kGeomRegion : kGeomPolyline);
  if (!GeomPartsSetAll(out, count, counts.get(), points.get(), nullptr, nullptr)) return 0;
  if (region) {
    PenIn(in, PX_OBJECT_REGION_PEN, &out->pen);
    BrushIn(in, PX_OBJECT_REGION_BRUSH, &out->brush);
    out->u.poly.centroid = passage.InPoint(
        {Get<double>(in, PX_OBJECT_REGION_CENTROID_X), Get<double>(in, PX_OBJECT_REGION_CENTROID_Y)});
  } else {
    PenIn(in, PX_OBJECT_POLYLINE_PEN, &out->pen);
    out->u.poly.smooth = Get<uint32_t>(in, PX_OBJECT_POLYLINE_FLAGS) & 1u;
  }
  GeomObjectNormalize(out, 0);
  return 1;
}

int16_t MultipointFromPublic(const PXObject* in, GeomObject* out, const Passage& passage) {
  SymbolStyle symbol;
  if (!SymbolIn(in, PX_OBJECT_MULTIPOINT_SYMBOL, Get<uint32_t>(in, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE),
                &symbol))
    return 0;
  Buffer<SectionRef> sections;
  uint32_t count = 0;
  if (!ReadSections(in, PX_OBJECT_MULTIPOINT_COUNT, PX_OBJECT_MULTIPOINT_POINTS, false, &sections,
                    &count))
    return 0;
  Buffer<IPoint> points;
  Buffer<int32_t> counts;
  uint64_t total = 0;
  if (!ConvertSections(sections.get(), count, false, passage, &points, &counts, &total)) return 0;
  GeomObjectInit(out, kGeomMultipoint);
  if (!GeomMultipointAddPoints(out, int32_t(total), points.get(), nullptr, nullptr)) return 0;
  out->u.multipoint.symbol = symbol;
  GeomObjectNormalize(out, 0);
  return 1;
}

int16_t TextFromPublic(const PXObject* in, GeomObject* out, const Passage& passage,
                       const CoordSys* tableCs) {
  const char* given = Get<const char*>(in, PX_OBJECT_TEXT_STRING);
  size_t length = given ? std::strlen(given) : 0;
  if (length > UINT16_MAX) return 0;
  Buffer<char> text;
  if (!text.Allocate(length + 1)) return 0;
  if (length) std::memcpy(text.get(), given, length);
  text.get()[length] = '\0';
  // Lines end in LF inside the library: CR LF and a lone CR both become one.
  TextStripCR(text.get());
  MbsReplaceChar(text.get(), '\r', '\n');

  int16_t angle;
  if (!AngleIn(Get<double>(in, PX_OBJECT_TEXT_ANGLE), &angle)) return 0;
  IRect rect;
  passage.InRect(in, PX_OBJECT_RECT, &rect, nullptr, nullptr);
  const uint16_t attributes = Get<uint16_t>(in, PX_OBJECT_TEXT_ATTRIBUTES) & kTextAttributeMask;

  GeomObjectInit(out, kGeomText);
  if (!GeomTextSet(out, text.get())) return 0;
  GeomTextFields& t = out->u.text;
  FontIn(in, PX_OBJECT_TEXT_FONT, &t.font);
  // The record gives the box before the turn: its height is the height the
  // turned frame is taken back with.
  t.height = int32_t(int64_t(rect.y2) - rect.y1);
  t.angle = angle;
  t.flags = uint32_t(attributes) << 1;
  if (angle != 0) TextRectRotate(&rect, angle, tableCs);
  t.frame = rect;
  out->bounds = rect;
  if (attributes & kTextLabelBits) {
    t.lineEnd = passage.InPoint(
        {Get<double>(in, PX_OBJECT_TEXT_LINE_END_X), Get<double>(in, PX_OBJECT_TEXT_LINE_END_Y)});
    IRectAddPoint(&out->bounds, &t.lineEnd);
    PenIn(in, PX_OBJECT_TEXT_PEN, &out->pen);
  } else {
    IRectCenter(&rect, &t.lineEnd);
  }
  return 1;
}

// The part of a collection at `shift`, as a record of its own code.
PXObject CollectionPart(const PXObject* in, uint8_t code, size_t shift, size_t end) {
  PXObject part{};
  part.u.bytes[PX_OBJECT_TYPE] = code;
  std::memcpy(part.u.bytes + PX_OBJECT_COUNT, in->u.bytes + shift + PX_OBJECT_COUNT,
              end - PX_OBJECT_COUNT);
  return part;
}

constexpr size_t kMultipointEnd = PX_OBJECT_MULTIPOINT_POINTS + sizeof(void*);
constexpr size_t kMultiPolylineEnd = PX_OBJECT_MULTI_POLYLINE_SECTIONS + sizeof(void*);
constexpr size_t kRegionEnd = PX_OBJECT_REGION_POLYGONS + sizeof(void*);

int16_t CollectionFromPublic(const PXObject* in, GeomObject* out, const Passage& passage,
                             const CoordSys* tableCs) {
  struct PartSpec {
    uint8_t code;
    size_t shift, end, countAt;
  };
  const PartSpec specs[3] = {
      {PX_OBJECT_REGION, PX_OBJECT_COLLECTION_REGION, kRegionEnd,
       PX_OBJECT_COLLECTION_REGION + PX_OBJECT_COUNT},
      {PX_OBJECT_MULTI_POLYLINE, PX_OBJECT_COLLECTION_POLYLINE, kMultiPolylineEnd,
       PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT},
      {PX_OBJECT_MULTIPOINT, 0, kMultipointEnd, PX_OBJECT_MULTIPOINT_COUNT},
  };
  GeomObjectInit(out, kGeomCollection);
  for (const PartSpec& spec : specs) {
    if (Get<uint32_t>(in, spec.countAt) == 0) continue;
    PXObject record = CollectionPart(in, spec.code, spec.shift, spec.end);
    GeomObject part;
    int16_t done = FromPublic(&record, &part, passage, tableCs) &&
                   GeomCollectionAddObject(out, &part, 0);
    GeomObjectFree(&part);
    if (!done) return 0;
  }
  GeomObjectNormalize(out, 0);
  return 1;
}

int16_t FromPublic(const PXObject* in, GeomObject* out, const Passage& passage,
                   const CoordSys* tableCs) {
  const uint8_t code = in->u.bytes[PX_OBJECT_TYPE];
  GeomObjectInit(out, kGeomNone);
  switch (code) {
    case PX_OBJECT_NONE:
      return 1;
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT: {
      SymbolStyle symbol;
      if (!SymbolIn(in, PX_OBJECT_SYMBOL, code, &symbol)) return 0;
      GeomObjectInit(out, kGeomPoint);
      IPoint p = passage.InPoint({Get<double>(in, PX_OBJECT_X), Get<double>(in, PX_OBJECT_Y)});
      out->u.point.position = p;
      out->u.point.symbol = symbol;
      IRectFromPoints(&out->bounds, &p, &p);
      return 1;
    }
    case PX_OBJECT_LINE: {
      GeomObjectInit(out, kGeomLine);
      IPoint a = passage.InPoint({Get<double>(in, PX_OBJECT_X), Get<double>(in, PX_OBJECT_Y)});
      IPoint b = passage.InPoint({Get<double>(in, PX_OBJECT_X2), Get<double>(in, PX_OBJECT_Y2)});
      out->u.line = GeomLineFields{a.x, a.y, b.x, b.y};
      IRectFromPoints(&out->bounds, &a, &b);
      PenIn(in, PX_OBJECT_LINE_PEN, &out->pen);
      return 1;
    }
    case PX_OBJECT_ARC: {
      int16_t start, end;
      if (!AngleIn(Get<double>(in, PX_OBJECT_ARC_START), &start) ||
          !AngleIn(Get<double>(in, PX_OBJECT_ARC_END), &end))
        return 0;
      GeomObjectInit(out, kGeomArc);
      int mirrorX = 0, mirrorY = 0;
      passage.InRect(in, PX_OBJECT_RECT, &out->u.arc.ellipse, &mirrorX, &mirrorY);
      if (mirrorX || mirrorY) ArcAnglesMirror(&start, &end, mirrorX, mirrorY);
      out->u.arc.startAngle = start;
      out->u.arc.endAngle = end;
      ArcBounds(out);
      PenIn(in, PX_OBJECT_ARC_PEN, &out->pen);
      return 1;
    }
    case PX_OBJECT_POLYLINE:
    case PX_OBJECT_REGION:
    case PX_OBJECT_MULTI_POLYLINE:
      return PolyFromPublic(in, code, out, passage);
    case PX_OBJECT_MULTIPOINT:
      return MultipointFromPublic(in, out, passage);
    case PX_OBJECT_TEXT:
      return TextFromPublic(in, out, passage, tableCs);
    case PX_OBJECT_RECTANGLE:
    case PX_OBJECT_ELLIPSE:
      GeomObjectInit(out, code == PX_OBJECT_RECTANGLE ? kGeomRect : kGeomEllipse);
      passage.InRect(in, PX_OBJECT_RECT, &out->bounds, nullptr, nullptr);
      PenIn(in, PX_OBJECT_RECT_PEN, &out->pen);
      BrushIn(in, PX_OBJECT_RECT_BRUSH, &out->brush);
      return 1;
    case PX_OBJECT_ROUNDED_RECTANGLE: {
      GeomObjectInit(out, kGeomRoundRect);
      passage.InRect(in, PX_OBJECT_RECT, &out->bounds, nullptr, nullptr);
      // The object keeps one corner size, in the x direction.
      IPoint origin = passage.InPoint({0, 0});
      IPoint corner = passage.InPoint({Get<double>(in, PX_OBJECT_CORNER_WIDTH), 0});
      int64_t size = int64_t(corner.x) - origin.x;
      out->u.roundRect.corner = int32_t(size < 0 ? -size : size);
      PenIn(in, PX_OBJECT_ROUNDED_PEN, &out->pen);
      BrushIn(in, PX_OBJECT_ROUNDED_BRUSH, &out->brush);
      return 1;
    }
    case PX_OBJECT_COLLECTION:
      return CollectionFromPublic(in, out, passage, tableCs);
    default:
      return 0;
  }
}

// ----- outward -----

// Points and section entries an object needs in the scratch arrays.
void ScratchNeeds(const GeomObject* object, size_t* points, size_t* sections) {
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion:
      *sections += object->u.poly.partCount;
      *points += (object->u.poly.dataSize - size_t{kGeomPartSize} * object->u.poly.partCount) /
                 kGeomPointSize;
      break;
    case kGeomMultipoint:
      *points += object->u.multipoint.pointCount;
      break;
    case kGeomCollection:
      for (const GeomObject* part : {object->u.collection.region, object->u.collection.polyline,
                                     object->u.collection.multipoint})
        if (part) ScratchNeeds(part, points, sections);
      break;
    default:
      break;
  }
}

// Where the next points and section entries go.
struct ScratchCursor {
  size_t points = 0;
  size_t sections = 0;
};

// A polyline or region written at `shift`: one section as 204 unless
// `asSections`, else a section array (210 or 205 layout).
int16_t PolyToPublic(const GeomObject* object, PXObject* out, size_t shift, bool asSections,
                     const Passage& passage, ScratchCursor* cursor) {
  const bool region = object->kind == kGeomRegion;
  const uint32_t count = object->u.poly.partCount;
  const GeomPart* parts = GeomParts(object);
  if (count == 0 || !parts) return 0;
  PXSection* entries = gScratch.sections + cursor->sections;
  for (uint32_t i = 0; i < count; ++i) {
    const GeomPart& part = parts[i];
    const IPoint* points = GeomPartPoints(object, &part);
    int32_t n = part.pointCount;
    if (n < 1 || !points) return 0;
    // Rings are kept closed; the record carries them open, as they came in.
    if (region && n > 1 && points[n - 1].x == points[0].x && points[n - 1].y == points[0].y) --n;
    DPoint* to = gScratch.points + cursor->points;
    passage.Out(points, to, n);
    cursor->points += size_t(n);
    entries[i].count = n;
    entries[i].reserved = 0;
    entries[i].points = reinterpret_cast<PXPoint*>(to);
  }
  cursor->sections += count;
  if (region) {
    Put<uint32_t>(out, shift + PX_OBJECT_COUNT, count);
    PenOut(object->pen, out, shift + PX_OBJECT_REGION_PEN);
    BrushOut(object->brush, out, shift + PX_OBJECT_REGION_BRUSH);
    DPoint c = passage.OutPoint(object->u.poly.centroid);
    Put<double>(out, shift + PX_OBJECT_REGION_CENTROID_X, c.x);
    Put<double>(out, shift + PX_OBJECT_REGION_CENTROID_Y, c.y);
    Put<PXSection*>(out, shift + PX_OBJECT_REGION_POLYGONS, entries);
    return 1;
  }
  Put<uint32_t>(out, shift + PX_OBJECT_POLYLINE_FLAGS, object->u.poly.smooth & 1u);
  PenOut(object->pen, out, shift + PX_OBJECT_POLYLINE_PEN);
  if (asSections) {
    Put<uint32_t>(out, shift + PX_OBJECT_COUNT, count);
    Put<PXSection*>(out, shift + PX_OBJECT_MULTI_POLYLINE_SECTIONS, entries);
  } else {
    // One section: its entry was only a place to count in.
    cursor->sections -= count;
    Put<uint32_t>(out, shift + PX_OBJECT_COUNT, uint32_t(entries[0].count));
    Put<PXPoint*>(out, shift + PX_OBJECT_POLYLINE_POINTS, entries[0].points);
  }
  return 1;
}

int16_t MultipointToPublic(const GeomObject* object, PXObject* out, const Passage& passage,
                           ScratchCursor* cursor) {
  const uint32_t n = object->u.multipoint.pointCount;
  const IPoint* points = static_cast<const IPoint*>(object->data);
  if (n == 0 || !points) return 0;
  uint8_t type = SymbolOut(object->u.multipoint.symbol, out, PX_OBJECT_MULTIPOINT_SYMBOL);
  if (!type) return 0;
  Put<uint32_t>(out, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, type);
  DPoint* to = gScratch.points + cursor->points;
  passage.Out(points, to, int32_t(n));
  cursor->points += n;
  Put<uint32_t>(out, PX_OBJECT_MULTIPOINT_COUNT, n);
  Put<PXPoint*>(out, PX_OBJECT_MULTIPOINT_POINTS, reinterpret_cast<PXPoint*>(to));
  return 1;
}

int16_t TextToPublic(const GeomObject* object, PXObject* out, const Passage& passage,
                     const CoordSys* tableCs) {
  const GeomTextFields& t = object->u.text;
  const char* text = static_cast<const char*>(object->data);
  size_t length = text ? strnlen(text, t.length) : 0;
  if (!Reserve(&gScratch.text, &gScratch.textCapacity, length + 1)) return 0;
  if (length) std::memcpy(gScratch.text, text, length);
  gScratch.text[length] = '\0';
  IRect box;
  TextBoundsRotated(object, tableCs, &box);
  passage.OutRect(box, out, PX_OBJECT_RECT, nullptr, nullptr);
  DPoint end = passage.OutPoint(t.lineEnd);
  Put<double>(out, PX_OBJECT_TEXT_LINE_END_X, end.x);
  Put<double>(out, PX_OBJECT_TEXT_LINE_END_Y, end.y);
  PenOut(object->pen, out, PX_OBJECT_TEXT_PEN);
  Put<double>(out, PX_OBJECT_TEXT_ANGLE, AngleOut(t.angle));
  Put<uint16_t>(out, PX_OBJECT_TEXT_ATTRIBUTES, uint16_t((t.flags >> 1) & kTextAttributeMask));
  FontOut(t.font, out, PX_OBJECT_TEXT_FONT);
  Put<char*>(out, PX_OBJECT_TEXT_STRING, gScratch.text);
  return 1;
}

int16_t ToPublic(const GeomObject* object, PXObject* out, const Passage& passage,
                 const CoordSys* tableCs, ScratchCursor* cursor) {
  switch (object->kind) {
    case kGeomNone:
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_NONE;
      return 1;
    case kGeomPoint: {
      uint8_t code = SymbolOut(object->u.point.symbol, out, PX_OBJECT_SYMBOL);
      if (!code) return 0;
      out->u.bytes[PX_OBJECT_TYPE] = code;
      DPoint p = passage.OutPoint(object->u.point.position);
      Put<double>(out, PX_OBJECT_X, p.x);
      Put<double>(out, PX_OBJECT_Y, p.y);
      return 1;
    }
    case kGeomLine: {
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_LINE;
      const GeomLineFields& l = object->u.line;
      DPoint a = passage.OutPoint({l.x1, l.y1}), b = passage.OutPoint({l.x2, l.y2});
      Put<double>(out, PX_OBJECT_X, a.x);
      Put<double>(out, PX_OBJECT_Y, a.y);
      Put<double>(out, PX_OBJECT_X2, b.x);
      Put<double>(out, PX_OBJECT_Y2, b.y);
      PenOut(object->pen, out, PX_OBJECT_LINE_PEN);
      return 1;
    }
    case kGeomArc: {
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_ARC;
      int mirrorX = 0, mirrorY = 0;
      passage.OutRect(object->u.arc.ellipse, out, PX_OBJECT_RECT, &mirrorX, &mirrorY);
      int16_t start = object->u.arc.startAngle, end = object->u.arc.endAngle;
      if (mirrorX || mirrorY) ArcAnglesMirror(&start, &end, mirrorX, mirrorY);
      Put<double>(out, PX_OBJECT_ARC_START, AngleOut(start));
      Put<double>(out, PX_OBJECT_ARC_END, AngleOut(end));
      PenOut(object->pen, out, PX_OBJECT_ARC_PEN);
      return 1;
    }
    case kGeomPolyline: {
      const bool one = object->u.poly.partCount == 1;
      out->u.bytes[PX_OBJECT_TYPE] = one ? PX_OBJECT_POLYLINE : PX_OBJECT_MULTI_POLYLINE;
      return PolyToPublic(object, out, 0, !one, passage, cursor);
    }
    case kGeomRegion:
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_REGION;
      return PolyToPublic(object, out, 0, true, passage, cursor);
    case kGeomMultipoint:
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_MULTIPOINT;
      return MultipointToPublic(object, out, passage, cursor);
    case kGeomText:
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_TEXT;
      return TextToPublic(object, out, passage, tableCs);
    case kGeomRect:
    case kGeomEllipse:
      out->u.bytes[PX_OBJECT_TYPE] =
          object->kind == kGeomRect ? PX_OBJECT_RECTANGLE : PX_OBJECT_ELLIPSE;
      passage.OutRect(object->bounds, out, PX_OBJECT_RECT, nullptr, nullptr);
      PenOut(object->pen, out, PX_OBJECT_RECT_PEN);
      BrushOut(object->brush, out, PX_OBJECT_RECT_BRUSH);
      return 1;
    case kGeomRoundRect: {
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_ROUNDED_RECTANGLE;
      passage.OutRect(object->bounds, out, PX_OBJECT_RECT, nullptr, nullptr);
      int32_t c = object->u.roundRect.corner;
      c = c < 0 ? -c : c;
      DPoint origin = passage.OutPoint({0, 0});
      DPoint x = passage.OutPoint({c, 0}), y = passage.OutPoint({0, c});
      Put<double>(out, PX_OBJECT_CORNER_WIDTH, std::fabs(x.x - origin.x));
      Put<double>(out, PX_OBJECT_CORNER_HEIGHT, std::fabs(y.y - origin.y));
      PenOut(object->pen, out, PX_OBJECT_ROUNDED_PEN);
      BrushOut(object->brush, out, PX_OBJECT_ROUNDED_BRUSH);
      return 1;
    }
    case kGeomCollection: {
      out->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_COLLECTION;
      const GeomCollectionFields& c = object->u.collection;
      if (c.multipoint && !GeomObjectIsEmpty(c.multipoint) &&
          !MultipointToPublic(c.multipoint, out, passage, cursor))
        return 0;
      if (c.polyline && !GeomObjectIsEmpty(c.polyline) &&
          !PolyToPublic(c.polyline, out, PX_OBJECT_COLLECTION_POLYLINE, true, passage, cursor))
        return 0;
      if (c.region && !GeomObjectIsEmpty(c.region) &&
          !PolyToPublic(c.region, out, PX_OBJECT_COLLECTION_REGION, true, passage, cursor))
        return 0;
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

int16_t ObjectFromPublic(const PXObject* in, GeomObject* out, const CoordSys* callerCs,
                         const CoordSys* tableCs) {
  GeomObjectInit(out, kGeomNone);
  if (!in || !tableCs) return 0;
  Passage passage(tableCs, callerCs);
  if (FromPublic(in, out, passage, tableCs) && !passage.Refused()) return 1;
  GeomObjectFree(out);
  GeomObjectInit(out, kGeomNone);
  return 0;
}

int16_t ObjectToPublic(const GeomObject* in, PXObject* out, const CoordSys* tableCs,
                       const CoordSys* callerCs) {
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  if (!in || !tableCs) return 0;
  size_t points = 0, sections = 0;
  ScratchNeeds(in, &points, &sections);
  if (!Reserve(&gScratch.points, &gScratch.pointCapacity, points) ||
      !Reserve(&gScratch.sections, &gScratch.sectionCapacity, sections))
    return 0;
  Passage passage(tableCs, callerCs);
  ScratchCursor cursor;
  if (ToPublic(in, out, passage, tableCs, &cursor)) return 1;
  std::memset(out, 0, sizeof *out);
  return 0;
}

const CoordSys* ConversionSystems(const ::PXCoordSys* from, const ::PXCoordSys* to) {
  KeptSystems* kept = gKeptSystems;
  if (kept && std::memcmp(&kept->from, from, sizeof *from) == 0 &&
      std::memcmp(&kept->to, to, sizeof *to) == 0)
    return kept->systems;
  if (!kept) {
    kept = new (std::nothrow) KeptSystems;
    if (!kept) {
      ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
      return nullptr;
    }
    gKeptSystems = kept;
  }
  if (!ApiCoordSysBuild(from, &kept->systems[0]) || !ApiCoordSysBuild(to, &kept->systems[1])) {
    delete kept;
    gKeptSystems = nullptr;
    return nullptr;
  }
  std::memcpy(&kept->from, from, sizeof *from);
  std::memcpy(&kept->to, to, sizeof *to);
  return kept->systems;
}

void PublicObjectScratchFree() {
  delete gKeptSystems;
  gKeptSystems = nullptr;
  MemFreePtr(&gScratch.points);
  MemFreePtr(&gScratch.sections);
  MemFreePtr(&gScratch.text);
  gScratch = Scratch{};
}

bool PublicStoreIsMapFile(const ObjStore* store) { return store && store->kind == kObjStoreMapFile; }

const CoordSys* PublicStoreCoordSys(const ObjStore* store) {
  return store ? ObjStoreCoordSys(store) : nullptr;
}

void PublicStoreCounts(const ObjStore* store, uint32_t* points, uint32_t* lines,
                       uint32_t* regions) {
  if (points) *points = store ? ObjStorePointCount(store) : 0;
  if (lines) *lines = store ? ObjStoreLineCount(store) : 0;
  if (regions) *regions = store ? ObjStoreRegionCount(store) : 0;
}

}  // namespace layerio
