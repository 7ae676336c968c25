// lio: the command line of Layerio's foundation.
//
//   lio unit VALUE FROM TO   VALUE converted from unit FROM to unit TO (unit
//                            codes 0..37 or names such as "mi", "sq km"),
//                            printed with %.17g
//   lio locale               the date order, date separator, decimal and
//                            thousands separators and digit grouping of the
//                            user's locale (LC_ALL, LC_TIME / LC_NUMERIC, LANG)
//   lio daynum YYYYMMDD      the day number of a date (days from 1 March of
//                            year 0)
//   lio date TEXT            a date text read in the locale's date order, as
//                            yyyymmdd, or "error 854" when it is no date
//   lio expr 'TEXT'          the byte code of an expression, one operation a
//                            line, then its value when it is constant ("not
//                            constant" otherwise); "error N" when the text is
//                            malformed or its value cannot be formed
//   lio crc16                the CRC-16 stamp of standard input, in decimal
//   lio convert FROM TO      standard input converted from charset FROM to
//                            charset TO (codes 0..56 or names) on standard
//                            output, line by line
//   lio fwd 'CLAUSE'         points "lon lat" in degrees, one a line on
//                            standard input, converted into the units of the
//                            CoordSys clause; printed with %.6f
//   lio inv 'CLAUSE'         the reverse: points in the clause's units to
//                            longitude/latitude in degrees
//   lio shift FROM TO        points "lon lat" on standard input shifted from
//                            datum number FROM to datum number TO; %.9f
//   lio clause 'CLAUSE'      the clause read and written back, with bounds
//   lio dist 'CLAUSE' UNIT x1 y1 x2 y2
//                            the distance of two points given in the
//                            clause's units, in UNIT (code or name)
//   lio mapdump FILE.MAP     the map-object file's header (version, block
//                            size, CoordSys clause, bounds of its objects and
//                            their count), then one line per row of its .ID
//                            file: row, kind, the object as WKT in the
//                            clause's units (%.9g) and its style clauses
//   lio mapdump --check FILE.MAP
//                            the same, then a check of the spatial index:
//                            every live row reachable in the tree under a
//                            rectangle that covers it, and nothing else
//   lio load SRC.shp DEST.TAB ['CLAUSE']
//                            a native map table made from a shapefile and its
//                            .dbf, in the clause's coordinate system when one
//                            is given (lio_tables.cpp)
//   lio dump TABLE.TAB [--lonlat]
//                            the table's fields, then each row's text, a TAB
//                            and its object as WKT (%.9g) in the table's
//                            units, or in degrees
//
// A failure is reported on standard error with the text and number of each
// error the library raised and the file or value it names; a clause that
// cannot be read names its first error first. Result lines that stand for a
// failure ("error N" of date, daynum and expr) carry the code's text too.
//
// lio --help (or -h) prints the usage on standard output.
//
// Exit status: 0 done, 1 the request cannot be carried out, 2 usage (an
// unknown command is named).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/date.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/norm.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/units.h"
#include "mapfile/foundation/value.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/mapindex.h"
#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/styles.h"
#include "tools/lio_errors.h"
#include "tools/lio_tables.h"

namespace {

using namespace layerio;

constexpr const char* kUsage =
               "usage: lio unit VALUE FROM TO\n"
               "       lio locale\n"
               "       lio daynum YYYYMMDD\n"
               "       lio date TEXT\n"
               "       lio expr 'TEXT'\n"
               "       lio crc16\n"
               "       lio convert FROM TO\n"
               "       lio fwd 'CLAUSE'\n"
               "       lio inv 'CLAUSE'\n"
               "       lio shift FROM TO\n"
               "       lio clause 'CLAUSE'\n"
               "       lio dist 'CLAUSE' UNIT x1 y1 x2 y2\n"
               "       lio mapdump [--check] FILE.MAP\n"
               "       lio load SRC.shp DEST.TAB ['CLAUSE']\n"
               "       lio dump TABLE.TAB [--lonlat]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// A failure's result line: "error N" and the code's text.
void PrintErrorLine(int32_t code) {
  const std::string text = lioerrors::CodeText(code);
  std::printf("error %ld%s%s\n", long(code), text.empty() ? "" : ": ", text.c_str());
}

// A unit code given as its number or its name.
bool ParseUnit(const char* text, int* code) {
  int32_t number = 0;
  const char* end = NumParseLongPlain(text, &number);
  if (end && *end == 0) {
    if (!UnitIsValid(number)) return false;
    *code = number;
    return true;
  }
  return UnitFromName(text, code) && UnitIsValid(*code);
}

int UnitCommand(int argc, char** argv) {
  if (argc != 5) return Usage();
  double value = 0;
  const char* end = NumParseDouble(argv[2], &value);
  if (!end || *end) {
    std::fprintf(stderr, "lio: not a number: %s\n", argv[2]);
    return 1;
  }
  int from = 0, to = 0;
  for (int k = 0; k < 2; ++k) {
    const char* text = argv[3 + k];
    if (!ParseUnit(text, k == 0 ? &from : &to)) {
      std::fprintf(stderr, "lio: unknown unit: %s\n", text);
      return 1;
    }
  }
  if (UnitIsLinear(from) != UnitIsLinear(to)) {
    char a[64], b[64];
    UnitName(from, a, sizeof a);
    UnitName(to, b, sizeof b);
    std::fprintf(stderr, "lio: %s and %s do not measure the same kind of quantity\n", a, b);
    return 1;
  }
  double out = 0;
  UnitConvert(&out, to, value, from);
  std::printf("%.17g\n", out);
  return 0;
}

const char* OrderName(int order) {
  switch (order) {
    case 0:
      return "month-day-year";
    case 1:
      return "day-month-year";
    case 2:
      return "year-month-day";
    case 5:
      return "year-day-month";
    default:
      return "unknown";
  }
}

int LocaleCommand(int argc) {
  if (argc != 2) return Usage();
  LocaleLoadDateFormat();
  LocaleLoadNumberFormat();
  int16_t order = 0;
  char separator = 0;
  DateFormatGet(1, &order, &separator);
  char thousands = LocaleThousandSeparator();
  std::printf("date order: %d (%s)\n", order, OrderName(order));
  std::printf("date separator: %c\n", separator);
  std::printf("decimal separator: %c\n", LocaleDecimalSeparator());
  if (thousands) {
    std::printf("thousands separator: %c\n", thousands);
  } else {
    std::printf("thousands separator: (none)\n");
  }
  std::printf("grouping: %d\n", LocaleGrouping());
  return 0;
}

int DaynumCommand(int argc, char** argv) {
  if (argc != 3) return Usage();
  int32_t number = 0;
  const char* end = NumParseLongPlain(argv[2], &number);
  DateRec date;
  if (!end || *end || number == 0 || !DateFromNumber(number, &date)) {
    PrintErrorLine(854);
    return 1;
  }
  std::printf("%ld\n", long(DateToDayNumber(&date)));
  return 0;
}

int DateCommand(int argc, char** argv) {
  if (argc != 3) return Usage();
  LocaleLoadDateFormat();
  Value text{};
  ValueSet(&text, kValueText, argv[2]);
  DateRec date;
  int16_t ok = ValueToDate(&text, &date);
  ValueFree(&text);
  if (!ok || !date.month) {
    PrintErrorLine(ok ? 854 : ErrorLastCode());
    return 1;
  }
  std::printf("%08ld\n", long(DateToNumber(&date)));
  return 0;
}

void PrintOperation(const uint8_t* code, const uint8_t* at, int op, uint8_t cls, uint16_t offset) {
  std::printf("%4ld  %3d", long(at - code), op);
  if (op == 241) {
    std::printf("  constant class %d", cls);
    if (cls == 2) {
      double d;
      std::memcpy(&d, code + offset, sizeof d);
      char number[64];
      std::printf(" %s", NumFormatG14(d, number, sizeof number, 0));
    } else if (cls == 10 || cls == 22 || cls == 24) {
      char quoted[512];
      std::printf(" %s", StrQuoteDefault(quoted, reinterpret_cast<const char*>(code + offset),
                                         sizeof quoted));
    }
  } else if (op == 27 || op == 28) {
    std::printf("  %s of %d, operator %d", op == 27 ? "any" : "all", at[1], at[2]);
  } else if (op != 0) {
    const char* text = TokKeywordText(op);
    if (op == 16) text = "negate";
    if (*text) std::printf("  %s", text);
  } else {
    std::printf("  end");
  }
  std::printf("\n");
}

int ExprCommand(int argc, char** argv) {
  if (argc != 3) return Usage();
  TokBeginText(argv[2]);
  uint8_t* code = nullptr;
  uint8_t level = 0;
  int status = 0;
  if (!ExprParse(&code, &level) || !code) {
    PrintErrorLine(ErrorLastCode());
    status = 1;
  } else if (TokCurrent()) {
    char found[64];
    std::printf("error: text after the expression: %s\n",
                TokText(TokCurrent(), found, sizeof found));
    status = 1;
  } else {
    for (const uint8_t* p = code;;) {
      const uint8_t* at = p;
      uint8_t cls = 0;
      uint16_t offset = 0;
      int op = ExprNextOp(&p, &cls, &offset);
      PrintOperation(code, at, op, cls, offset);
      if (op == 0) break;
    }
    ErrorClear();
    Value value{};
    if (ExprEvaluate(code, &value)) {
      char text[512];
      std::printf("value: %s\n", ValueToText(&value, text, sizeof text, -1, 0));
    } else if (int32_t error = ErrorLastCode()) {
      // constant, but its value cannot be formed (the minus of a text)
      PrintErrorLine(error);
      status = 1;
    } else {
      std::printf("not constant\n");
    }
    ValueFree(&value);
  }
  MemFreePtr(&code);
  TokEnd();
  return status;
}

// Crc16 takes no running value, so the whole input is gathered first.
int Crc16Command(int argc) {
  if (argc != 2) return Usage();
  std::vector<unsigned char> input;
  unsigned char piece[65536];
  size_t n = 0;
  while ((n = std::fread(piece, 1, sizeof piece, stdin)) > 0) {
    input.insert(input.end(), piece, piece + n);
  }
  if (std::ferror(stdin)) {
    std::fprintf(stderr, "lio: cannot read standard input\n");
    return 1;
  }
  std::printf("%u\n", unsigned(Crc16(input.data(), input.size())));
  return 0;
}

// A charset given as its code or its name.
bool ParseCharset(const char* text, int* code) {
  int32_t number = 0;
  const char* end = NumParseLongPlain(text, &number);
  if (end && *end == 0) {
    *code = number;
    return number >= 0 && number < kCharsetCount;
  }
  *code = CharsetFromName(text);
  return *code >= 0;
}

// The bytes of the character starting with byte b, as the converters read
// the charset.
size_t CharacterLength(const char* p, int charset) {
  unsigned b = static_cast<unsigned char>(*p);
  if (charset == 19 || charset == 32) return (b >= 0x81 && b <= 0x9F) || b >= 0xE0 ? 2 : 1;
  if (charset == 52) return b == 0x8F ? 3 : b == 0x8E || b >= 0xA1 ? 2 : 1;
  return CharsetIsLeadByte(p, charset) ? 2 : 1;
}

// Where a block of input may be cut: after its last line feed, else after
// its last whole character.
size_t CutPoint(const std::vector<char>& data, int charset) {
  for (size_t i = data.size(); i > 0; --i) {
    if (data[i - 1] == '\n') return i;
  }
  if (!CharsetIsDoubleByte(charset)) return data.size();
  size_t at = 0;
  while (at < data.size()) {
    size_t n = CharacterLength(data.data() + at, charset);
    if (at + n > data.size()) break;
    at += n;
  }
  return at;
}

// Converts the text and writes it; text with NUL bytes goes piece by piece.
bool ConvertAndWrite(const char* data, size_t size, int from, int to, std::vector<char>& work) {
  size_t start = 0;
  while (true) {
    const void* nul = std::memchr(data + start, 0, size - start);
    size_t end = nul ? size_t(static_cast<const char*>(nul) - data) : size;
    size_t length = end - start;
    work.resize(2 * length + 2);
    std::memcpy(work.data(), data + start, length);
    work[length] = 0;
    if (length && !CharsetConvert(work.data(), from, to, work.size())) return false;
    std::fwrite(work.data(), 1, std::strlen(work.data()), stdout);
    if (!nul) return true;
    std::fputc(0, stdout);
    start = end + 1;
  }
}

int ConvertCommand(int argc, char** argv) {
  if (argc != 4) return Usage();
  int from = 0, to = 0;
  for (int k = 0; k < 2; ++k) {
    if (!ParseCharset(argv[2 + k], k == 0 ? &from : &to)) {
      std::fprintf(stderr, "lio: unknown charset: %s\n", argv[2 + k]);
      return 1;
    }
  }
  if (!CharsetInit()) return 1;
  constexpr size_t kBlock = 1 << 16;
  std::vector<char> data, work;
  bool end = false;
  while (!end) {
    size_t had = data.size();
    data.resize(had + kBlock);
    size_t got = std::fread(data.data() + had, 1, kBlock, stdin);
    data.resize(had + got);
    end = got == 0;
    size_t cut = end ? data.size() : CutPoint(data, from);
    if (cut == 0) continue;
    if (!ConvertAndWrite(data.data(), cut, from, to, work)) {
      std::fprintf(stderr, "lio: no conversion from %s to %s\n", CharsetName(from),
                   CharsetName(to));
      return 1;
    }
    data.erase(data.begin(), data.begin() + long(cut));
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Reads a CoordSys clause as CoordSysParseText does, but keeps the error
// stack so that the reason can be told: 0, or the code of the first error.
int32_t ParseClause(const char* text, bool wantBounds, CoordSys* cs) {
  ErrorClear();
  SetParseMode(0);
  TokBeginText(text);
  if (TokIs(kKwCoordSys)) TokNext();
  int16_t projection = 0;
  CoordSysParams block;
  DRect bounds{};
  bool ok = CoordSysClauseParse(&projection, &block, wantBounds ? &bounds : nullptr);
  TokEnd();
  if (!ok) {
    int32_t code = ErrorLastCode();
    return code ? code : 615;
  }
  CoordSysInit(cs, projection, &block);
  if (wantBounds) CoordSysSetBounds(cs, bounds.x1, bounds.y1, bounds.x2, bounds.y2);
  return 0;
}

bool ClauseOrReport(const char* text, bool wantBounds, CoordSys* cs) {
  if (int32_t code = ParseClause(text, wantBounds, cs)) {
    if (ErrorCount())
      lioerrors::ReportStack("the CoordSys clause cannot be read");
    else
      std::fprintf(stderr, "lio: the CoordSys clause cannot be read: %s\n",
                   lioerrors::Describe(code).c_str());
    return false;
  }
  return true;
}

bool ParseNumber(const char* text, double* out) {
  const char* end = NumParseDouble(text, out);
  return end && *end == 0;
}

// Points "x y" one a line; blank lines are skipped.
bool ReadPoints(std::vector<DPoint>* points) {
  char line[4096];
  long number = 0;
  while (std::fgets(line, sizeof line, stdin)) {
    ++number;
    char* p = StrSkipSpace(line);
    if (!p) continue;
    DPoint point{};
    const char* end = NumParseDouble(p, &point.x);
    const char* second = end ? StrSkipSpace(end) : nullptr;
    end = second && second != end ? NumParseDouble(second, &point.y) : nullptr;
    if (!end || StrSkipSpace(end)) {
      std::fprintf(stderr, "lio: line %ld: expected two numbers \"x y\"\n", number);
      return false;
    }
    points->push_back(point);
  }
  if (std::ferror(stdin)) {
    std::fprintf(stderr, "lio: cannot read standard input\n");
    return false;
  }
  return true;
}

int PrintPoints(const std::vector<DPoint>& points, const char* format) {
  for (const DPoint& p : points) std::printf(format, p.x, p.y);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// fwd: longitude/latitude into the clause's units; inv: the reverse.
int ProjectCommand(int argc, char** argv, bool forward) {
  if (argc != 3) return Usage();
  CoordSysInstallUnitServices();
  CoordSys cs;
  if (!ClauseOrReport(argv[2], false, &cs)) return 1;
  std::vector<DPoint> points;
  if (!ReadPoints(&points)) return 1;
  int n = int(points.size());
  if (forward) {
    LonLatToUnits(points.data(), points.data(), &cs, n);
  } else {
    UnitsToLonLat(points.data(), points.data(), &cs, n);
  }
  return PrintPoints(points, "%.6f %.6f\n");
}

bool ParseDatum(const char* text, PXDatum* datum, EllipsoidParams* ellipsoid) {
  int32_t number = 0;
  const char* end = NumParseLongPlain(text, &number);
  if (!end || *end || !DatumNumberValid(number)) {
    std::fprintf(stderr, "lio: unknown datum number: %s\n", text);
    return false;
  }
  DatumRecordGet(number, datum);
  EllipsoidGet(datum->ellipsoid, ellipsoid);
  return true;
}

int ShiftCommand(int argc, char** argv) {
  if (argc != 4) return Usage();
  PXDatum from, to;
  EllipsoidParams fromEllipsoid, toEllipsoid;
  if (!ParseDatum(argv[2], &from, &fromEllipsoid) || !ParseDatum(argv[3], &to, &toEllipsoid)) {
    return 1;
  }
  std::vector<DPoint> points;
  if (!ReadPoints(&points)) return 1;
  DatumShiftPoints(points.data(), &from, &fromEllipsoid, points.data(), &to, &toEllipsoid,
                   int(points.size()));
  return PrintPoints(points, "%.9f %.9f\n");
}

int ClauseCommand(int argc, char** argv) {
  if (argc != 3) return Usage();
  CoordSysInstallUnitServices();
  CoordSys cs;
  if (!ClauseOrReport(argv[2], true, &cs)) return 1;
  char text[1024];
  if (!CoordSysWriteClause(&cs, text, sizeof text, true)) {
    std::fprintf(stderr, "lio: the clause does not fit in %zu bytes\n", sizeof text);
    return 1;
  }
  std::printf("%s\n", text);
  return 0;
}

int DistCommand(int argc, char** argv) {
  if (argc != 8) return Usage();
  CoordSysInstallUnitServices();
  int unit = 0;
  if (!ParseUnit(argv[3], &unit) || !UnitIsLinear(unit)) {
    std::fprintf(stderr, "lio: not a unit of length: %s\n", argv[3]);
    return 1;
  }
  double v[4];
  for (int k = 0; k < 4; ++k) {
    if (!ParseNumber(argv[4 + k], &v[k])) {
      std::fprintf(stderr, "lio: not a number: %s\n", argv[4 + k]);
      return 1;
    }
  }
  CoordSys cs;
  if (!ClauseOrReport(argv[2], false, &cs)) return 1;
  DPoint p{v[0], v[1]}, q{v[2], v[3]};
  double d = CoordSysDistance(&p, &q, &cs, unit, CoordSysUnits(&cs), 0, nullptr, 0);
  std::printf("%.15g\n", d);
  return 0;
}


// ----- mapdump ---------------------------------------------------------------

void AppendPoints(std::string* out, const CoordSys* cs, const IPoint* points, int32_t n,
                  bool eachInParens) {
  char text[80];
  for (int32_t i = 0; i < n; ++i) {
    DPoint p;
    CoordIntToUnits(&points[i], &p, cs, 1);
    std::snprintf(text, sizeof text, eachInParens ? "%s(%.9g %.9g)" : "%s%.9g %.9g",
                  i ? ", " : "", p.x, p.y);
    *out += text;
  }
}

// Parts of a polyline (one string each) or a region (polygons of a ring and
// the rings added with it).
std::string PolyWkt(const GeomObject* o, const CoordSys* cs) {
  const GeomPart* parts = GeomParts(o);
  const uint32_t count = o->u.poly.partCount;
  std::string out;
  if (o->kind == kGeomPolyline) {
    out = count == 1 ? "LINESTRING " : "MULTILINESTRING (";
    for (uint32_t i = 0; i < count; ++i) {
      out += i ? ", (" : "(";
      AppendPoints(&out, cs, GeomPartPoints(o, &parts[i]), parts[i].pointCount, false);
      out += ")";
    }
    if (count != 1) out += ")";
    return out;
  }
  std::vector<std::string> polygons;
  for (uint32_t i = 0; i < count;) {
    uint32_t last = i + parts[i].following;
    if (last >= count || last < i) last = count - 1;
    std::string polygon = "(";
    for (uint32_t k = i; k <= last; ++k) {
      polygon += k > i ? ", (" : "(";
      AppendPoints(&polygon, cs, GeomPartPoints(o, &parts[k]), parts[k].pointCount, false);
      polygon += ")";
    }
    polygons.push_back(polygon + ")");
    i = last + 1;
  }
  if (polygons.size() == 1) return "POLYGON " + polygons[0];
  out = "MULTIPOLYGON (";
  for (size_t i = 0; i < polygons.size(); ++i) out += (i ? ", " : "") + polygons[i];
  return out + ")";
}

std::string ObjectWkt(const GeomObject* o, const CoordSys* cs) {
  std::string out;
  switch (o->kind) {
    case kGeomPoint:
      out = "POINT (";
      AppendPoints(&out, cs, &o->u.point.position, 1, false);
      return out + ")";
    case kGeomLine: {
      IPoint ends[2] = {{o->u.line.x1, o->u.line.y1}, {o->u.line.x2, o->u.line.y2}};
      out = "LINESTRING (";
      AppendPoints(&out, cs, ends, 2, false);
      return out + ")";
    }
    case kGeomPolyline:
    case kGeomRegion:
      return o->u.poly.partCount ? PolyWkt(o, cs) : std::string(o->kind == kGeomRegion
                                                                    ? "POLYGON EMPTY"
                                                                    : "LINESTRING EMPTY");
    case kGeomMultipoint:
      out = "MULTIPOINT (";
      AppendPoints(&out, cs, static_cast<const IPoint*>(o->data),
                   static_cast<int32_t>(o->u.multipoint.pointCount), true);
      return out + ")";
    case kGeomCollection: {
      out = "GEOMETRYCOLLECTION (";
      const GeomObject* parts[3] = {o->u.collection.region, o->u.collection.polyline,
                                    o->u.collection.multipoint};
      bool first = true;
      for (const GeomObject* part : parts) {
        if (!part) continue;
        out += (first ? "" : ", ") + ObjectWkt(part, cs);
        first = false;
      }
      return out + ")";
    }
    default: {
      // Kinds WKT has no shape for are shown by the ring of their bounds.
      IPoint ring[5];
      GeomRectRing(ring, o);
      out = "POLYGON ((";
      AppendPoints(&out, cs, ring, 5, false);
      out += "))";
      if (o->kind == kGeomText && o->data) {
        out += " \"";
        out += static_cast<const char*>(o->data);
        out += "\"";
      }
      return out;
    }
  }
}

std::string ObjectStyles(const GeomObject* o) {
  std::string out;
  char clause[kStyleClauseSize];
  PenStyle pen;
  BrushStyle brush;
  SymbolStyle symbol;
  if (o->kind == kGeomCollection) {
    const GeomObject* parts[3] = {o->u.collection.region, o->u.collection.polyline,
                                  o->u.collection.multipoint};
    for (const GeomObject* part : parts)
      if (part) out += ObjectStyles(part);
    return out;
  }
  if (GeomObjectGetLinePen(o, &pen) && StyleClausePen(pen, clause, sizeof clause)) out += clause;
  if (GeomObjectGetBorderPen(o, &pen) && StyleClausePen(pen, clause, sizeof clause)) out += clause;
  if (GeomObjectGetBrush(o, &brush) && StyleClauseBrush(brush, clause, sizeof clause))
    out += clause;
  if (GeomObjectGetSymbol(o, &symbol) && StyleClauseSymbol(&symbol, clause, sizeof clause))
    out += clause;
  if (o->kind == kGeomText && StyleClauseFont(o->u.text.font, clause, sizeof clause))
    out += clause;
  return out;
}

void ReportLastError(const char* what, const char* otherwise = "failed") {
  lioerrors::ReportStack(what, otherwise);
}

// The table's definition path beside the map: the same name with .TAB (in
// the map's letter case); it need not exist.
std::string TablePathFor(const char* mapPath) {
  std::string path = mapPath;
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  bool lower = false;
  for (size_t i = dot; i < path.size(); ++i)
    if (path[i] >= 'a' && path[i] <= 'z') lower = true;
  return path.substr(0, dot) + (lower ? ".tab" : ".TAB");
}

int MapDumpCommand(int argc, char** argv) {
  const bool check = argc == 4 && std::strcmp(argv[2], "--check") == 0;
  if (argc != 3 && !check) return Usage();
  const char* path = argv[argc - 1];
  CoordSysInstallUnitServices();
  if (!GeomScratchInit()) {
    ReportLastError("out of memory");
    return 1;
  }
  FileHandle table = FileTableAddName(TablePathFor(path).c_str(), 1);
  MapFile map{};
  MapHeader header{};
  if (!table || !MapFileOpen(&map, &header, table, -1, 0)) {
    // A file without the map marker is refused without an error of its own.
    ReportLastError(path, "not a map file");
    return 1;
  }
  const CoordSys* cs = &header.coordSys;
  char clause[400];
  if (!CoordSysWriteClause(cs, clause, sizeof clause, true)) clause[0] = 0;
  DRect bounds;
  CoordIntRectToUnits(&header.root, &bounds, cs);
  const uint64_t objects = uint64_t(header.pointCount) + header.lineCount + header.regionCount +
                           header.otherCount;
  std::printf("version %d\nblock size %d\n%s\nbounds (%.9g, %.9g) (%.9g, %.9g)\nobjects %llu\n",
              map.version, map.blockSize, clause, bounds.x1, bounds.y1, bounds.x2, bounds.y2,
              static_cast<unsigned long long>(objects));

  IdFileAccess id{};
  int status = 0;
  MapBlockSlot* objectSlot = nullptr;
  MapBlockSlot* coordSlot = nullptr;
  GeomObject object;
  GeomObjectInit(&object, kGeomNone);
  if (!IdFileOpen(&id, table)) {
    ReportLastError("no .ID file");
    MapFileClose(&map);
    return 1;
  }
  const int64_t rows = FileSize(id.file) / 4;
  if (!MapFileLock(&map, &header, kFileModeRead, nullptr) ||
      !MapBlockSlotAlloc(&map, &objectSlot) || !MapBlockSlotAlloc(&map, &coordSlot)) {
    ReportLastError(path);
    status = 1;
  }
  char kind[64];
  for (int64_t row = 1; status == 0 && row <= rows && row <= INT32_MAX; ++row) {
    ErrorClear();
    int found = MapObjectReadByRow(&map, objectSlot, coordSlot, static_cast<int32_t>(row), 1,
                                   IdFileRead, &id, nullptr, nullptr, &object, nullptr);
    if (!found) {
      if (ErrorCount()) {
        std::printf("%lld ", static_cast<long long>(row));
        PrintErrorLine(ErrorLastCode());
        status = 1;
      }
      continue;
    }
    GeomObjectKindName(&object, kind, sizeof kind);
    std::string styles = ObjectStyles(&object);
    while (!styles.empty() && styles.back() == ' ') styles.pop_back();
    std::printf("%lld %s %s%s%s\n", static_cast<long long>(row), kind,
                ObjectWkt(&object, cs).c_str(), styles.empty() ? "" : " ", styles.c_str());
  }
  if (check && status == 0) {
    // Every live row must be reachable in the tree under a rectangle that
    // covers it, and the tree must hold nothing else.
    MapIndexCheckResult result{};
    ErrorClear();
    if (MapIndexCheck(&map, IdFileRead, &id, static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX)),
                      &result)) {
      std::printf("index: %u nodes, %u leaves, %u live, %u removed, depth %u: consistent\n",
                  result.nodes, result.leaves, result.live, result.removed, result.depth);
    } else {
      std::printf("index: inconsistent: %s\n",
                  result.message[0] ? result.message : "the tree cannot be read");
      status = 1;
    }
  }
  GeomObjectFree(&object);
  MapBlockSlotFree(&map, &objectSlot);
  MapBlockSlotFree(&map, &coordSlot);
  MapFileUnlock(&map, &header);
  IdFileFlush(&id);
  MapFileClose(&map);
  FileRelease(table);
  GeomScratchShutdown();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!ErrorStackCreate()) {
    std::fprintf(stderr, "lio: out of memory\n");
    return 1;
  }
  int status = RunGuarded(1, [&]() -> int {
    if (std::strcmp(argv[1], "unit") == 0) return UnitCommand(argc, argv);
    if (std::strcmp(argv[1], "locale") == 0) return LocaleCommand(argc);
    if (std::strcmp(argv[1], "daynum") == 0) return DaynumCommand(argc, argv);
    if (std::strcmp(argv[1], "date") == 0) return DateCommand(argc, argv);
    if (std::strcmp(argv[1], "expr") == 0) return ExprCommand(argc, argv);
    if (std::strcmp(argv[1], "crc16") == 0) return Crc16Command(argc);
    if (std::strcmp(argv[1], "convert") == 0) return ConvertCommand(argc, argv);
    if (std::strcmp(argv[1], "fwd") == 0) return ProjectCommand(argc, argv, true);
    if (std::strcmp(argv[1], "inv") == 0) return ProjectCommand(argc, argv, false);
    if (std::strcmp(argv[1], "shift") == 0) return ShiftCommand(argc, argv);
    if (std::strcmp(argv[1], "clause") == 0) return ClauseCommand(argc, argv);
    if (std::strcmp(argv[1], "dist") == 0) return DistCommand(argc, argv);
    if (std::strcmp(argv[1], "mapdump") == 0) return MapDumpCommand(argc, argv);
    if (std::strcmp(argv[1], "load") == 0) return liotables::LoadCommand(argc, argv);
    if (std::strcmp(argv[1], "dump") == 0) return liotables::DumpCommand(argc, argv);
    std::fprintf(stderr, "lio: unknown command '%s'\n", argv[1]);
    return Usage();
  });
  ErrorStackDestroy();
  return status;
}
