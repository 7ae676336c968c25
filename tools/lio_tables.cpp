// lio load and lio dump: a shapefile into a native map table and a map table
// back out as text, through liblayerio.so's C interface alone.
//
// load: the table gets one column per dBASE column (C as Char of the same
// width, N and F without decimals and at most 9 digits as Integer, other
// numbers as Float, D as Date, L as Logical, anything else as Char of the
// field's raw text) and one row per shape record; null shapes and the Z and
// M kinds give rows without objects (counted on standard error). The
// shapefile is taken as longitude/latitude (a .prj naming a projected
// system, read as gsbbuild reads it, is refused). Without a clause the table
// is a longitude/latitude table on WGS 84 whose integer grid is whole
// millionths of a degree; with one the table is made in that system and the
// objects are handed over in longitude/latitude through the handle's caller
// coordinate system. A vertex the table cannot hold (outside its bounds)
// fails the load, which names how many there are: the library would store
// it moved onto the bounds.
//
// The table is made under a temporary name in the destination's folder and
// renamed over DEST only when it is whole: a failed or refused load leaves
// what was at DEST as it was and deletes what it made.
//
// dump: "fields N", one line per field (name, type, width and decimals where
// the type has them, "indexed"), "rows N", then one line per row: the row
// text as the library gives it, a TAB, and the object as WKT (%.9g), in the
// table's units or, with --lonlat, in degrees. Rows without an object show
// "GEOMETRYCOLLECTION EMPTY"; regions list their rings closed, holes inside
// the polygons that hold them; kinds WKT cannot draw (arc, text, rectangles,
// ellipse) show the ring of their rectangle.
#include "tools/lio_tables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "layerio.h"
#include "platform/env.h"
#include "tools/lio_errors.h"
#include "zonelib.h"

namespace liotables {

namespace {

constexpr uint32_t kNativeKind = 5;
constexpr const char* kLonLatClause = "CoordSys Earth Projection 1, 104";
// The widest number a 32-bit Integer column holds with every value of its
// dBASE width.
constexpr int kIntegerDigits = 9;

// Styles of the objects load makes: a thin solid black pen, a plain grey
// brush and a small black vector symbol.
constexpr uint32_t kPen[4] = {1, 2, 0, 0x000000};
constexpr uint32_t kBrush[4] = {2, 0xC0C0C0, 0xFFFFFF, 0};
constexpr uint32_t kSymbolCode = 35;
constexpr int16_t kSymbolSize = 8;

enum FieldType : uint8_t {
  kChar = 1,
  kDecimal = 2,
  kInteger = 3,
  kSmallint = 4,
  kDate = 5,
  kLogical = 6,
  kChar25 = 7,
  kFloat = 8,
  kMemo = 9,
};

int Usage() {
  std::fprintf(stderr,
               "usage: lio load SRC.shp DEST.TAB ['CLAUSE']\n"
               "       lio dump TABLE.TAB [--lonlat]\n");
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "lio: %s: %s\n", what.c_str(), lioerrors::Describe(PXGetLastError()).c_str());
  return 1;
}

template <class T>
void Put(PXObject* o, size_t at, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::memcpy(o->u.bytes + at, &value, sizeof value);
}

template <class T>
T Get(const PXObject& o, size_t at) {
  T value;
  std::memcpy(&value, o.u.bytes + at, sizeof value);
  return value;
}

void PutWords(PXObject* o, size_t at, const uint32_t (&words)[4]) {
  for (size_t i = 0; i < 4; ++i) Put(o, at + 4 * i, words[i]);
}

// One PXInitialize for the command, and its PXShutdown.
struct Library {
  bool ok = PXInitialize(PX_INTERFACE_NUMBER) != 0;
  ~Library() {
    if (ok) PXShutdown();
  }
};

bool EndsWithNoCase(const std::string& text, const char* tail) {
  const std::string_view view(text), end(tail);
  return view.size() >= end.size() &&
         platform::AsciiEqualsIgnoreCase(view.substr(view.size() - end.size()), end);
}

// ----- load ------------------------------------------------------------------

// The shapefile set and its table, open together; closed on destruction.
struct ShapeSource {
  ShapeHandle shape{};
  DbfHandle table{};
  bool shapeOpen = false, tableOpen = false;
  ~ShapeSource() {
    if (shapeOpen) ShapeClose(&shape);
    if (tableOpen) dbClose(&table);
  }
};

// What the .prj beside a shapefile says, read as gsbbuild reads it: a
// projected system when its text starts (after blanks, in any letter case)
// with "PROJCS[" or "PROJCRS[". A .prj that exists but cannot be read (a
// folder, a FIFO) is a refusal of its own.
enum class Prj { kNone, kGeographic, kProjected, kUnreadable };

Prj ReadPrj(const std::string& base, std::string* prjPath, std::string* name) {
  constexpr size_t kReadLimit = 4096;
  platform::Env& env = platform::Env::Current();
  *prjPath = env.ResolveExisting(base + ".prj");
  platform::FileInfo info;
  if (env.RawStat(*prjPath, &info) != 0) return Prj::kNone;
  const int fd = env.Open(*prjPath, platform::kRead);
  if (fd < 0) return Prj::kUnreadable;
  std::string text(kReadLimit, '\0');
  const int64_t got = env.Read(fd, text.data(), text.size());
  env.Close(fd);
  if (got < 0) return Prj::kUnreadable;
  text.resize(size_t(got));
  const size_t start = text.find_first_not_of(" \t\r\n\f\v");
  const size_t open = text.find('[', start == std::string::npos ? text.size() : start);
  if (start == std::string::npos || open == std::string::npos) return Prj::kGeographic;
  const std::string keyword = text.substr(start, open - start);
  if (!platform::AsciiEqualsIgnoreCase(keyword, "PROJCS") &&
      !platform::AsciiEqualsIgnoreCase(keyword, "PROJCRS"))
    return Prj::kGeographic;
  const size_t quote = text.find('"', open);
  const size_t end = quote == std::string::npos ? quote : text.find('"', quote + 1);
  *name = end == std::string::npos ? keyword : text.substr(quote + 1, end - quote - 1);
  return Prj::kProjected;
}

// The table a load makes, under a temporary name in the destination's
// folder: "<name>.lio-<unique>" with the table's extensions, reserved by a
// claimed ".tmp" file of that name. Whatever of it is left is removed on
// destruction (after the library's shutdown, which closes it).
class TempTable {
 public:
  ~TempTable() {
    if (claim_.empty()) return;
    platform::Env& env = platform::Env::Current();
    for (const char* extension : {".TAB", ".DAT", ".MAP", ".ID", ".IND"}) {
      platform::FileInfo info;
      const std::string path = base_ + extension;
      if (env.RawStat(path, &info) == 0) env.Remove(path);
    }
    env.Remove(claim_);
  }

  bool Claim(const std::string& dest) {
    platform::Env& env = platform::Env::Current();
    const std::string dir = platform::DirectoryOf(dest);
    std::string stem(platform::BaseNameOf(dest));
    stem = stem.substr(0, stem.find_last_of('.'));
    const int fd = env.CreateTemp(dir, stem + ".lio-", ".tmp", &claim_);
    if (fd < 0) return false;
    env.Close(fd);
    base_ = claim_.substr(0, claim_.size() - 4);
    return true;
  }

  std::string Definition() const { return base_ + ".TAB"; }

 private:
  std::string claim_;
  std::string base_;
};

// The vertices of an object record, in order (none for kinds load does not
// make).
std::vector<PXPoint> Vertices(const PXObject& o) {
  std::vector<PXPoint> out;
  auto sections = [&](size_t countAt, size_t arrayAt) {
    const uint32_t count = Get<uint32_t>(o, countAt);
    const auto* s = Get<const PXSection*>(o, arrayAt);
    for (uint32_t i = 0; s && i < count; ++i)
      if (s[i].points && s[i].count > 0) out.insert(out.end(), s[i].points, s[i].points + s[i].count);
  };
  switch (o.u.bytes[PX_OBJECT_TYPE]) {
    case PX_OBJECT_POINT:
      out.push_back({Get<double>(o, PX_OBJECT_X), Get<double>(o, PX_OBJECT_Y)});
      break;
    case PX_OBJECT_MULTIPOINT: {
      const uint32_t count = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT);
      const auto* points = Get<const PXPoint*>(o, PX_OBJECT_MULTIPOINT_POINTS);
      if (points) out.insert(out.end(), points, points + count);
      break;
    }
    case PX_OBJECT_POLYLINE: {
      const uint32_t count = Get<uint32_t>(o, PX_OBJECT_COUNT);
      const auto* points = Get<const PXPoint*>(o, PX_OBJECT_POLYLINE_POINTS);
      if (points) out.insert(out.end(), points, points + count);
      break;
    }
    case PX_OBJECT_MULTI_POLYLINE:
      sections(PX_OBJECT_COUNT, PX_OBJECT_MULTI_POLYLINE_SECTIONS);
      break;
    case PX_OBJECT_REGION:
      sections(PX_OBJECT_COUNT, PX_OBJECT_REGION_POLYGONS);
      break;
    default:
      break;
  }
  return out;
}

// The bounds of a coordinate-system record: x1, y1, x2, y2.
struct Bounds {
  double x1, y1, x2, y2;
  explicit Bounds(const PXCoordSys& cs) {
    double b[4];
    std::memcpy(b, cs.u.bytes + PX_COORDSYS_BOUNDS, sizeof b);
    x1 = std::min(b[0], b[2]);
    x2 = std::max(b[0], b[2]);
    y1 = std::min(b[1], b[3]);
    y2 = std::max(b[1], b[3]);
  }
  // Not-a-number is outside too.
  bool Holds(const PXPoint& p) const { return p.x >= x1 && p.x <= x2 && p.y >= y1 && p.y <= y2; }
};

// The table's column for a dBASE column.
PXFieldInfo ColumnFor(const DbfField& source) {
  PXFieldInfo field{};
  std::strncpy(field.name, source.name, sizeof field.name - 1);
  field.width = source.width;
  switch (source.type) {
    case DBF_CHARACTER:
      field.type = kChar;
      break;
    case DBF_NUMERIC:
    case DBF_FLOAT:
      if (source.decimals == 0 && source.width <= kIntegerDigits) {
        field.type = kInteger;
      } else {
        field.type = kFloat;
        field.decimals = source.decimals;
      }
      break;
    case DBF_DATE:
      field.type = kDate;
      break;
    case DBF_LOGICAL:
      field.type = kLogical;
      break;
    default:
      field.type = kChar;
  }
  if (field.type == kChar && field.width == 0) field.width = 1;
  return field;
}

// The raw bytes of column k of the record just read, trimmed of blanks on
// the right (and, for numbers, on the left).
std::string RawValue(const DbfHandle& table, uint32_t k) {
  size_t at = 1;
  for (uint32_t i = 0; i < k; ++i) at += table.fields[i].width;
  const DbfField& field = table.fields[k];
  if (at + field.width > table.recordLength) return std::string();
  std::string text(table.record + at, field.width);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  if (field.type != DBF_CHARACTER) {
    size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
  }
  return text;
}

// The row text of the record just read: values in column order, TAB
// between them; texts in double quotes with inner quotes doubled. Control
// characters that would end or split the row become spaces.
std::string RowText(const DbfHandle& table, const std::vector<PXFieldInfo>& columns) {
  std::string row;
  for (uint32_t k = 0; k < table.fieldCount; ++k) {
    if (k) row += '\t';
    std::string value = RawValue(table, k);
    for (char& c : value)
      if (c == '\t' || c == '\n' || c == '\r' || c == '\0') c = ' ';
    switch (columns[k].type) {
      case kInteger:
      case kFloat:
        // dBASE writes unknown numbers as stars; the column is left blank.
        if (value.find('*') != std::string::npos) value.clear();
        row += value;
        break;
      case kLogical:
        row += value.empty() || std::strchr("TtYy", value[0]) == nullptr ? "F" : "T";
        break;
      default:
        row += '"';
        for (char c : value) row += c == '"' ? std::string("\"\"") : std::string(1, c);
        row += '"';
    }
  }
  return row;
}

// A shape record as an object record; the arrays the record points into.
struct ObjectScratch {
  PXObject record{};
  std::vector<PXPoint> points;
  std::vector<PXSection> sections;
};

// Builds the object of the shape just read; false when the record has none
// (a null shape, an empty one or a kind the table does not take).
bool ShapeObject(const ShapeHandle& shape, ObjectScratch* out) {
  out->record = PXObject{};
  out->points.clear();
  out->sections.clear();
  PXObject* o = &out->record;
  switch (shape.shapeType) {
    case SHAPE_POINT:
      o->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POINT;
      Put(o, PX_OBJECT_X, shape.points[0]);
      Put(o, PX_OBJECT_Y, shape.points[1]);
      Put(o, PX_OBJECT_SYMBOL + PX_SYMBOL_CODE, kSymbolCode);
      Put(o, PX_OBJECT_SYMBOL + PX_SYMBOL_COLOUR, uint32_t{0});
      Put(o, PX_OBJECT_SYMBOL + PX_SYMBOL_SIZE, kSymbolSize);
      return true;
    case SHAPE_MULTIPOINT: {
      if (shape.multiPointCount == 0) return false;
      for (uint32_t i = 0; i < shape.multiPointCount; ++i)
        out->points.push_back({shape.multiPoints[2 * i], shape.multiPoints[2 * i + 1]});
      o->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_MULTIPOINT;
      Put(o, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, uint32_t{PX_OBJECT_POINT});
      Put(o, PX_OBJECT_MULTIPOINT_SYMBOL + PX_SYMBOL_CODE, kSymbolCode);
      Put(o, PX_OBJECT_MULTIPOINT_SYMBOL + PX_SYMBOL_SIZE, kSymbolSize);
      Put(o, PX_OBJECT_MULTIPOINT_COUNT, uint32_t(out->points.size()));
      Put(o, PX_OBJECT_MULTIPOINT_POINTS, out->points.data());
      return true;
    }
    case SHAPE_POLYLINE:
    case SHAPE_POLYGON:
      break;
    default:
      return false;
  }
  // The parts that hold points; every point first, so that the sections
  // can point into an array that no longer moves.
  std::vector<uint32_t> counts;
  for (uint32_t p = 0; p < shape.partCount; ++p) {
    const uint32_t count = shape.parts[p].count;
    const double* xy = shape.parts[p].points;
    if (count == 0 || xy == nullptr) continue;
    for (uint32_t i = 0; i < count; ++i) out->points.push_back({xy[2 * i], xy[2 * i + 1]});
    counts.push_back(count);
  }
  if (counts.empty()) return false;
  size_t at = 0;
  for (uint32_t count : counts) {
    out->sections.push_back({int32_t(count), 0, out->points.data() + at});
    at += count;
  }
  if (shape.shapeType == SHAPE_POLYGON) {
    o->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_REGION;
    Put(o, PX_OBJECT_COUNT, uint32_t(out->sections.size()));
    PutWords(o, PX_OBJECT_REGION_PEN, kPen);
    PutWords(o, PX_OBJECT_REGION_BRUSH, kBrush);
    Put(o, PX_OBJECT_REGION_CENTROID_X, (shape.box[0] + shape.box[2]) / 2);
    Put(o, PX_OBJECT_REGION_CENTROID_Y, (shape.box[1] + shape.box[3]) / 2);
    Put(o, PX_OBJECT_REGION_POLYGONS, out->sections.data());
  } else if (out->sections.size() == 1) {
    o->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POLYLINE;
    Put(o, PX_OBJECT_COUNT, uint32_t(out->points.size()));
    PutWords(o, PX_OBJECT_POLYLINE_PEN, kPen);
    Put(o, PX_OBJECT_POLYLINE_POINTS, out->points.data());
  } else {
    o->u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_MULTI_POLYLINE;
    Put(o, PX_OBJECT_COUNT, uint32_t(out->sections.size()));
    PutWords(o, PX_OBJECT_POLYLINE_PEN, kPen);
    Put(o, PX_OBJECT_MULTI_POLYLINE_SECTIONS, out->sections.data());
  }
  return true;
}

}  // namespace

int LoadCommand(int argc, char** argv) {
  if (argc != 4 && argc != 5) return Usage();
  const std::string source = argv[2], dest = argv[3];
  const char* clause = argc == 5 ? argv[4] : nullptr;
  if (!EndsWithNoCase(source, ".shp")) {
    std::fprintf(stderr, "lio: %s: not a shapefile (.shp)\n", source.c_str());
    return 1;
  }
  const std::string base = source.substr(0, source.size() - 4);
  std::string prj, prjName;
  switch (ReadPrj(base, &prj, &prjName)) {
    case Prj::kProjected:
      std::fprintf(stderr,
                   "lio: %s names the projected coordinate system \"%s\"; the shapefile must be "
                   "in longitude/latitude\n",
                   prj.c_str(), prjName.c_str());
      return 1;
    case Prj::kUnreadable:
      std::fprintf(stderr, "lio: %s cannot be read\n", prj.c_str());
      return 1;
    default:
      break;
  }

  ShapeSource input;
  input.shapeOpen = ShapeOpen(&input.shape, base.c_str()) == 0;
  if (!input.shapeOpen) {
    std::fprintf(stderr, "lio: %s cannot be read\n", source.c_str());
    return 1;
  }
  input.tableOpen = dbOpen(&input.table, base.c_str()) == 0;
  if (!input.tableOpen) {
    std::fprintf(stderr, "lio: %s.dbf cannot be read\n", base.c_str());
    return 1;
  }
  std::vector<PXFieldInfo> columns;
  for (uint32_t k = 0; k < input.table.fieldCount; ++k)
    columns.push_back(ColumnFor(input.table.fields[k]));

  // Made before the library starts, so that what is left of the table is
  // removed after the library has closed it.
  TempTable temp;
  Library library;
  if (!library.ok) return Fail("the map-table library does not start");
  PXCoordSys tableSystem{}, lonLat{};
  if (!PXParseCoordSys(kLonLatClause, &lonLat)) return Fail(kLonLatClause);
  if (clause && !PXParseCoordSys(clause, &tableSystem))
    return Fail(std::string("the CoordSys clause cannot be read"));
  if (!temp.Claim(dest)) {
    std::fprintf(stderr, "lio: %s: no temporary table can be made in its folder: %s\n",
                 dest.c_str(), platform::ErrnoText(errno).c_str());
    return 1;
  }
  PXTableHandle table = PXCreateTable(temp.Definition().c_str(), columns.data(),
                                      uint32_t(columns.size()), clause ? &tableSystem : &lonLat,
                                      kNativeKind);
  if (!table) return Fail(dest + " cannot be created");
  // From here on a failure removes the half-made table (the temporary table
  // removes what the delete cannot).
  auto abandon = [&](const std::string& what) {
    const int status = Fail(what);
    PXDeleteTable(table);
    return status;
  };
  if (clause && !PXSetApiCoordSys(table, &lonLat))
    return abandon("longitude/latitude cannot be given to " + dest);
  if (!PXGetTableCoordSys(table, &tableSystem))
    return abandon(dest + ": its coordinate system cannot be read");
  const Bounds sourceBounds(lonLat), tableBounds(tableSystem);

  ObjectScratch object;
  auto converted = std::make_unique<PXObject>();
  uint32_t records = 0, withoutObject = 0;
  uint64_t vertices = 0, outside = 0;
  for (;;) {
    const int shapeRead = ShapeRead(&input.shape);
    if (shapeRead < 0) {
      PXDeleteTable(table);
      std::fprintf(stderr, "lio: %s: record %u cannot be read\n", source.c_str(), records + 1);
      return 1;
    }
    if (shapeRead == 1) break;
    ++records;
    if (dbRead(&input.table) != 0) {
      PXDeleteTable(table);
      std::fprintf(stderr, "lio: %s.dbf has no record %u; the .shp has\n", base.c_str(),
                   records);
      return 1;
    }
    const std::string row = RowText(input.table, columns);
    const bool hasObject = ShapeObject(input.shape, &object);
    if (!hasObject) ++withoutObject;
    if (hasObject) {
      // A vertex is placed when it is a longitude/latitude the library
      // takes and lands within the table's bounds.
      const std::vector<PXPoint> given = Vertices(object.record);
      std::vector<PXPoint> placed = given;
      if (clause) {
        if (!PXConvertObject(&object.record, &lonLat, converted.get(), &tableSystem))
          return abandon("the object of record " + std::to_string(records) +
                         " cannot be converted");
        placed = Vertices(*converted);
      }
      vertices += given.size();
      // A vertex beyond the longitude/latitude grid is clamped on its way
      // in, so it is counted as given; the others as the table would hold
      // them (the library keeps a ring without its closing point).
      uint64_t beyond = 0;
      for (const PXPoint& p : given) beyond += sourceBounds.Holds(p) ? 0 : 1;
      if (!beyond)
        for (const PXPoint& p : placed) beyond += tableBounds.Holds(p) ? 0 : 1;
      outside += beyond;
    }
    // Once the load is bound to fail the rest is only counted.
    if (outside) continue;
    uint32_t number = 0;
    if (!PXInsertRow(table, row.c_str(), hasObject ? &object.record : nullptr, &number))
      return abandon("record " + std::to_string(records) + " cannot be inserted");
  }
  if (outside) {
    PXDeleteTable(table);
    std::fprintf(stderr,
                 "lio: %llu of %llu vertices of %s fall outside the bounds of %s "
                 "(%.9g, %.9g) (%.9g, %.9g)\n",
                 static_cast<unsigned long long>(outside),
                 static_cast<unsigned long long>(vertices), source.c_str(), dest.c_str(),
                 tableBounds.x1, tableBounds.y1, tableBounds.x2, tableBounds.y2);
    return 1;
  }
  if (!PXCloseTable(table)) {
    std::fprintf(stderr, "lio: %s cannot be written: %s\n", dest.c_str(),
                 lioerrors::Describe(PXGetLastError()).c_str());
    PXDeleteTable(table);
    return 1;
  }
  // The whole table takes the destination's name, in its folder.
  const std::string name(platform::BaseNameOf(dest));
  PXTableHandle made = PXOpenTable(temp.Definition().c_str(), PX_OPEN_READ_WRITE);
  if (!made || !PXRenameTable(made, name.c_str())) {
    const int status = Fail(dest + " cannot be replaced");
    if (made) PXCloseTable(made);
    return status;
  }
  if (!PXCloseTable(made)) return Fail(dest + " cannot be written");
  if (withoutObject)
    std::fprintf(stderr, "lio: %u of %u rows have no object (null or unsupported shapes)\n",
                 withoutObject, records);
  std::printf("%u rows\n", records);
  return 0;
}

// ----- dump ------------------------------------------------------------------

namespace {

std::string FieldLine(const PXFieldInfo& field) {
  char text[96];
  const std::string name(field.name, strnlen(field.name, sizeof field.name));
  switch (field.type) {
    case kChar:
      std::snprintf(text, sizeof text, "%s Char (%u)", name.c_str(), unsigned(field.width));
      break;
    case kDecimal:
      std::snprintf(text, sizeof text, "%s Decimal (%u, %u)", name.c_str(),
                    unsigned(field.width), unsigned(field.decimals));
      break;
    case kChar25:
      std::snprintf(text, sizeof text, "%s type 7 (%u)", name.c_str(), unsigned(field.width));
      break;
    default: {
      static const char* const kNames[] = {"", "Char",    "Decimal", "Integer", "Smallint",
                                           "Date", "Logical", "",     "Float",   "Memo"};
      const char* typeName = field.type < std::size(kNames) ? kNames[field.type] : "";
      if (*typeName) {
        std::snprintf(text, sizeof text, "%s %s", name.c_str(), typeName);
      } else {
        std::snprintf(text, sizeof text, "%s type %u", name.c_str(), unsigned(field.type));
      }
    }
  }
  return std::string(text) + (field.indexed ? " indexed" : "");
}

using Ring = std::vector<PXPoint>;

void AppendPoint(std::string* out, const PXPoint& p) {
  char text[64];
  // A zero that the scaling made negative is shown as 0.
  std::snprintf(text, sizeof text, "%.9g %.9g", p.x == 0 ? 0.0 : p.x, p.y == 0 ? 0.0 : p.y);
  *out += text;
}

void AppendRing(std::string* out, const Ring& ring, bool close) {
  *out += '(';
  for (size_t i = 0; i < ring.size(); ++i) {
    if (i) *out += ", ";
    AppendPoint(out, ring[i]);
  }
  if (close && !ring.empty() &&
      (ring.front().x != ring.back().x || ring.front().y != ring.back().y)) {
    *out += ", ";
    AppendPoint(out, ring.front());
  }
  *out += ')';
}

// Even-odd: whether p lies inside ring.
bool Inside(const Ring& ring, const PXPoint& p) {
  bool in = false;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const PXPoint& a = ring[i];
    const PXPoint& b = ring[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
      in = !in;
  }
  return in;
}

double Area(const Ring& ring) {
  double twice = 0;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
    twice += (ring[j].x - ring[i].x) * (ring[j].y + ring[i].y);
  return std::fabs(twice) / 2;
}

// The rings as polygons: a ring inside an odd number of others is a hole of
// the smallest even one around it.
std::string RegionWkt(const std::vector<Ring>& rings) {
  const size_t n = rings.size();
  std::vector<int> depth(n, 0);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      if (i != j && !rings[i].empty() && rings[j].size() >= 3 && Inside(rings[j], rings[i][0]))
        ++depth[i];
  std::vector<std::vector<size_t>> holes(n);
  for (size_t i = 0; i < n; ++i) {
    if (depth[i] % 2 == 0) continue;
    size_t best = n;
    for (size_t j = 0; j < n; ++j)
      if (depth[j] == depth[i] - 1 && rings[j].size() >= 3 && Inside(rings[j], rings[i][0]) &&
          (best == n || Area(rings[j]) < Area(rings[best])))
        best = j;
    if (best == n) {
      depth[i] = 0;  // no outer ring to hang it on: a polygon of its own
    } else {
      holes[best].push_back(i);
    }
  }
  std::vector<std::string> polygons;
  for (size_t i = 0; i < n; ++i) {
    if (depth[i] % 2) continue;
    std::string polygon = "(";
    AppendRing(&polygon, rings[i], true);
    for (size_t h : holes[i]) {
      polygon += ", ";
      AppendRing(&polygon, rings[h], true);
    }
    polygons.push_back(polygon + ")");
  }
  if (polygons.empty()) return "POLYGON EMPTY";
  if (polygons.size() == 1) return "POLYGON " + polygons[0];
  std::string out = "MULTIPOLYGON (";
  for (size_t i = 0; i < polygons.size(); ++i) out += (i ? ", " : "") + polygons[i];
  return out + ")";
}

// The sections of a record: count entries of the array at `at`.
bool Sections(const PXObject& o, size_t countAt, size_t arrayAt, std::vector<Ring>* rings) {
  const uint32_t count = Get<uint32_t>(o, countAt);
  const auto* sections = Get<const PXSection*>(o, arrayAt);
  if (count && !sections) return false;
  for (uint32_t s = 0; s < count; ++s) {
    if (sections[s].count < 0 || (sections[s].count && !sections[s].points)) return false;
    rings->emplace_back(sections[s].points, sections[s].points + sections[s].count);
  }
  return true;
}

std::string LinesWkt(const std::vector<Ring>& lines) {
  if (lines.size() == 1) {
    std::string out = "LINESTRING ";
    AppendRing(&out, lines[0], false);
    return out;
  }
  std::string out = "MULTILINESTRING (";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += ", ";
    AppendRing(&out, lines[i], false);
  }
  return out + ")";
}

std::string MultipointWkt(const PXObject& o) {
  const uint32_t count = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT);
  const auto* points = Get<const PXPoint*>(o, PX_OBJECT_MULTIPOINT_POINTS);
  std::string out = "MULTIPOINT (";
  for (uint32_t i = 0; points && i < count; ++i) {
    out += i ? ", (" : "(";
    AppendPoint(&out, points[i]);
    out += ')';
  }
  return out + ")";
}

std::string RectangleWkt(const PXObject& o) {
  const double x1 = Get<double>(o, PX_OBJECT_RECT), y1 = Get<double>(o, PX_OBJECT_RECT + 8);
  const double x2 = Get<double>(o, PX_OBJECT_RECT + 16), y2 = Get<double>(o, PX_OBJECT_RECT + 24);
  std::string out = "POLYGON ";
  AppendRing(&out, {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}}, true);
  return out;
}

std::string ObjectWkt(const PXObject& o) {
  std::vector<Ring> rings;
  switch (o.u.bytes[PX_OBJECT_TYPE]) {
    case 0:
    case PX_OBJECT_NONE:
      return "GEOMETRYCOLLECTION EMPTY";
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT: {
      std::string out = "POINT (";
      AppendPoint(&out, {Get<double>(o, PX_OBJECT_X), Get<double>(o, PX_OBJECT_Y)});
      return out + ")";
    }
    case PX_OBJECT_LINE: {
      std::string out = "LINESTRING ";
      AppendRing(&out,
                 {{Get<double>(o, PX_OBJECT_X), Get<double>(o, PX_OBJECT_Y)},
                  {Get<double>(o, PX_OBJECT_X2), Get<double>(o, PX_OBJECT_Y2)}},
                 false);
      return out;
    }
    case PX_OBJECT_POLYLINE: {
      const uint32_t count = Get<uint32_t>(o, PX_OBJECT_COUNT);
      const auto* points = Get<const PXPoint*>(o, PX_OBJECT_POLYLINE_POINTS);
      if (count && !points) return "LINESTRING EMPTY";
      rings.emplace_back(points, points + count);
      return LinesWkt(rings);
    }
    case PX_OBJECT_MULTI_POLYLINE:
      if (!Sections(o, PX_OBJECT_COUNT, PX_OBJECT_MULTI_POLYLINE_SECTIONS, &rings) ||
          rings.empty())
        return "MULTILINESTRING EMPTY";
      return LinesWkt(rings);
    case PX_OBJECT_REGION:
      if (!Sections(o, PX_OBJECT_COUNT, PX_OBJECT_REGION_POLYGONS, &rings))
        return "POLYGON EMPTY";
      return RegionWkt(rings);
    case PX_OBJECT_MULTIPOINT:
      return MultipointWkt(o);
    case PX_OBJECT_COLLECTION: {
      std::vector<std::string> parts;
      std::vector<Ring> regions, lines;
      if (Sections(o, PX_OBJECT_COLLECTION_REGION + PX_OBJECT_COUNT,
                   PX_OBJECT_COLLECTION_REGION + PX_OBJECT_REGION_POLYGONS, &regions) &&
          !regions.empty())
        parts.push_back(RegionWkt(regions));
      if (Sections(o, PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT,
                   PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_MULTI_POLYLINE_SECTIONS, &lines) &&
          !lines.empty())
        parts.push_back(LinesWkt(lines));
      if (Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT)) parts.push_back(MultipointWkt(o));
      std::string out = "GEOMETRYCOLLECTION (";
      for (size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + parts[i];
      return out + ")";
    }
    case PX_OBJECT_TEXT: {
      std::string out = RectangleWkt(o);
      if (const auto* text = Get<const char*>(o, PX_OBJECT_TEXT_STRING)) {
        out += " \"";
        out += text;
        out += '"';
      }
      return out;
    }
    default:  // arc, rectangle, rounded rectangle, ellipse
      return RectangleWkt(o);
  }
}

}  // namespace

int DumpCommand(int argc, char** argv) {
  const bool lonLat = argc == 4 && std::strcmp(argv[3], "--lonlat") == 0;
  if (argc != 3 && !lonLat) return Usage();
  const std::string path = argv[2];
  Library library;
  if (!library.ok) return Fail("the map-table library does not start");

  // The caller's coordinate system belongs to a read-write handle; a table
  // that cannot be opened for writing has its objects converted here.
  PXCoordSys degrees{}, tableSystem{};
  bool convertHere = false;
  PXTableHandle table = 0;
  if (lonLat) {
    if (!PXParseCoordSys(kLonLatClause, &degrees)) return Fail(kLonLatClause);
    table = PXOpenTable(path.c_str(), PX_OPEN_READ_WRITE);
    if (table && !PXSetApiCoordSys(table, &degrees)) {
      const int status = Fail(path + ": longitude/latitude cannot be set");
      PXCloseTable(table);
      return status;
    }
    if (!table) {
      table = PXOpenTable(path.c_str(), PX_OPEN_READ);
      convertHere = table != 0;
      if (convertHere && !PXGetTableCoordSys(table, &tableSystem)) {
        const int status = Fail(path + " has no map part");
        PXCloseTable(table);
        return status;
      }
    }
  } else {
    table = PXOpenTable(path.c_str(), PX_OPEN_READ);
  }
  if (!table) return Fail(path + " cannot be opened");
  struct Closer {
    PXTableHandle table;
    ~Closer() { PXCloseTable(table); }
  } closer{table};

  uint32_t fieldCount = 0, rowCount = 0;
  if (!PXGetFieldCount(table, &fieldCount)) return Fail(path + ": fields");
  std::vector<PXFieldInfo> fields(fieldCount);
  if (fieldCount && !PXGetFieldInfo(table, fields.data())) return Fail(path + ": fields");
  if (!PXGetRowCount(table, &rowCount)) return Fail(path + ": rows");
  std::printf("fields %u\n", fieldCount);
  for (const PXFieldInfo& field : fields) std::printf("%s\n", FieldLine(field).c_str());
  std::printf("rows %u\n", rowCount);

  auto text = std::make_unique<char[]>(PX_ROW_TEXT_SIZE + 1);
  auto object = std::make_unique<PXObject>();
  auto converted = std::make_unique<PXObject>();
  for (uint32_t row = 1; row <= rowCount; ++row) {
    std::memset(text.get(), 0, PX_ROW_TEXT_SIZE + 1);
    if (!PXFetchRow(table, row, text.get(), object.get()))
      return Fail(path + ": row " + std::to_string(row) + " cannot be read");
    const PXObject* shown = object.get();
    const uint8_t code = object->u.bytes[PX_OBJECT_TYPE];
    if (convertHere && code != 0 && code != PX_OBJECT_NONE) {
      if (!PXConvertObject(object.get(), &tableSystem, converted.get(), &degrees))
        return Fail(path + ": the object of row " + std::to_string(row) +
                    " cannot be converted");
      shown = converted.get();
    }
    std::printf("%s\t%s\n", text.get(), ObjectWkt(*shown).c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace liotables
