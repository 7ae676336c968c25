// The object statement writer.
#include "mapfile/foundation/strings.h"
#include "mapfile/objects/statement.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapfile/objects/arcs.h"
#include "mapfile/objects/styles.h"

namespace layerio {

namespace {

// The longest piece of a quoted text: a reader of the language takes string
// constants of at most 254 characters.
constexpr size_t kTextPieceLimit = 254;

constexpr uint32_t kColourMask = 0xFFFFFFu;

// The writes of one statement. After the first failed write nothing more
// is written.
class Out {
 public:
  explicit Out(FileHandle handle) : handle_(handle) {}
  bool ok() const { return ok_; }

  void Text(const std::string& text) {
    if (!ok_ || text.empty()) return;
    if (FilePrintf(handle_, "%s", text.c_str()) < 1) ok_ = false;
  }

  void Format(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!ok_) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
      text.resize(size_t(n) + 1);
      std::vsnprintf(text.data(), text.size(), format, again);
      text.resize(size_t(n));
    }
    va_end(again);
    if (n < 0) {
      ok_ = false;
      return;
    }
    Text(text);
  }

 private:
  FileHandle handle_;
  bool ok_ = true;
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char local[128];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(local, sizeof local, format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof local) return std::string(local, size_t(n));
  std::string text(size_t(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(size_t(n));
  return text;
}

// Integer map coordinates to the numbers of a statement.
class Coords {
 public:
  Coords(const ObjWriteTransform* transform, int parenthesised)
      : transform_(transform), parenthesised_(parenthesised != 0) {}

  DPoint Convert(IPoint p) const {
    DPoint d{double(p.x), double(p.y)};
    if (transform_ && transform_->coordSys) CoordIntToUnits(&p, &d, transform_->coordSys, 1);
    return d;
  }

  DPoint Rounded(IPoint p) const {
    DPoint d = Convert(p);
    if (transform_ && transform_->digits > 0) {
      d.x = CoordRoundSignificant(d.x, transform_->digits, transform_->decimals);
      d.y = CoordRoundSignificant(d.y, transform_->digits, transform_->decimals);
    }
    return d;
  }

  std::string Point(IPoint p) const { return PointText(Rounded(p)); }

  std::string PointText(DPoint d) const {
    return parenthesised_ ? Printf("(%.10g,%.10g)", d.x, d.y) : Printf("%.10g %.10g", d.x, d.y);
  }

  // A rectangle is its two corners, each converted as a point.
  std::string Rect(const IRect& r) const {
    return Point(IPoint{r.x1, r.y1}) + " " + Point(IPoint{r.x2, r.y2});
  }

 private:
  const ObjWriteTransform* transform_;
  bool parenthesised_;
};

int32_t ClampCoordinate(int64_t v) {
  constexpr int64_t kLimit = 1000000000;
  return int32_t(v < -kLimit ? -kLimit : v > kLimit ? kLimit : v);
}

std::string PenLine(const PenStyle& pen) {
  char clause[kStyleClauseSize];
  StyleClausePen(pen, clause, sizeof clause);
  return Printf("    %s\n", clause);
}

std::string SymbolLine(const SymbolStyle& symbol) {
  char clause[kStyleClauseSize];
  StyleClauseSymbol(&symbol, clause, sizeof clause);
  return Printf("    %s\n", clause);
}

std::string BrushLine(const BrushStyle& brush) {
  unsigned long foreground = brush.foreground & kColourMask;
  if (brush.transparent) return Printf("    Brush (%u,%lu)\n", brush.pattern, foreground);
  return Printf("    Brush (%u,%lu,%lu)\n", brush.pattern, foreground,
                static_cast<unsigned long>(brush.background & kColourMask));
}

// The keyword and the variable phrase: "Region " or "Region Into Variable v ".
std::string Head(const char* keyword, const char* variable) {
  std::string head = std::string(keyword) + " ";
  if (variable && *variable) head += Printf("Into Variable %s ", variable);
  return head;
}

// The points of every part of a polyline or region, each on its own line;
// before each part its count as "  %d\n" when partCounts is set.
void WritePartPoints(Out& out, const Coords& coords, const GeomObject* object, bool partCounts) {
  const GeomPart* parts = GeomParts(object);
  uint32_t count = parts ? object->u.poly.partCount : 0;
  for (uint32_t i = 0; i < count && out.ok(); ++i) {
    const GeomPart* part = parts + i;
    if (partCounts) out.Format("  %d\n", part->pointCount);
    const IPoint* points = GeomPartPoints(object, part);
    for (int32_t k = 0; points && k < part->pointCount && out.ok(); ++k) {
      out.Text(coords.Point(points[k]) + "\n");
    }
  }
}

void WriteRegionBody(Out& out, const Coords& coords, const GeomObject* region) {
  out.Format("%u\n", region->u.poly.partCount);
  WritePartPoints(out, coords, region, true);
  out.Text(PenLine(region->pen));
  out.Text(BrushLine(region->brush));
  // The centre line ends with the line end the other style lines have, so
  // that the next statement starts on a line of its own.
  out.Text("    Center " + coords.Point(region->u.poly.centroid) + "\n");
}

void WritePolylineBody(Out& out, const Coords& coords, const GeomObject* polyline) {
  uint32_t parts = polyline->u.poly.partCount;
  bool multiple = parts != 1;
  if (multiple) {
    out.Format("Multiple %u\n", parts);
  } else {
    const GeomPart* part = GeomParts(polyline);
    out.Format("%d\n", part ? part->pointCount : 0);
  }
  WritePartPoints(out, coords, polyline, multiple);
  out.Text(PenLine(polyline->pen));
  if (polyline->u.poly.smooth & 1u) out.Text("    Smooth\n");
}

void WriteMultipointPoints(Out& out, const Coords& coords, const GeomObject* multipoint) {
  const IPoint* points = static_cast<const IPoint*>(multipoint->data);
  uint32_t count = points ? multipoint->u.multipoint.pointCount : 0;
  for (uint32_t i = 0; i < count && out.ok(); ++i) out.Text(coords.Point(points[i]) + "\n");
  out.Text(SymbolLine(multipoint->u.multipoint.symbol));
}

// The text as quoted pieces: a line end (CR LF, CR or LF) as backslash-n, a
// quote and a backslash doubled. A piece never splits an escape nor a
// double-byte character, so that each piece reads back on its own.
std::vector<std::string> TextPieces(const GeomObject* object) {
  std::vector<std::string> pieces(1);
  const char* text = static_cast<const char*>(object->data);
  size_t length = text ? object->u.text.length : 0;
  bool dbcs = DbcsMode() != 0;
  for (size_t i = 0; i < length && text[i];) {
    std::string unit;
    char c = text[i];
    if (c == '\r' || c == '\n') {
      unit = "\\n";
      i += (c == '\r' && i + 1 < length && text[i + 1] == '\n') ? 2 : 1;
    } else if (c == '"') {
      unit = "\"\"";
      ++i;
    } else if (c == '\\') {
      unit = "\\\\";
      ++i;
    } else if (dbcs && MbsIsLeadByte(text + i) && i + 1 < length && text[i + 1]) {
      unit.assign(text + i, 2);
      i += 2;
    } else {
      unit.assign(1, c);
      ++i;
    }
    if (pieces.back().size() + unit.size() > kTextPieceLimit) pieces.emplace_back();
    pieces.back() += unit;
  }
  return pieces;
}

void WriteText(Out& out, const Coords& coords, const GeomObject* object, const char* variable) {
  const GeomTextFields& t = object->u.text;
  if (variable && *variable) {
    out.Format("Text Into Variable %s \n", variable);
  } else {
    out.Text("Text\n");
  }
  std::vector<std::string> pieces = TextPieces(object);
  for (size_t i = 0; i < pieces.size() && out.ok(); ++i) {
    out.Text("    \"" + pieces[i] + (i + 1 < pieces.size() ? "\"+\n" : "\"\n"));
  }
  char clause[kStyleClauseSize];
  StyleClauseFont(t.font, clause, sizeof clause);
  out.Text("    " + coords.Rect(t.frame) + "\n    " + clause + "\n");
  if (t.angle != 0) out.Format("    Angle %g\n", t.angle / 10.0);
  uint32_t justify = (t.flags & kTextJustifyMask) >> kTextJustifyShift;
  if (justify == 1) out.Text("    Justify Center\n");
  if (justify == 2) out.Text("    Justify Right\n");
  uint32_t spacing = (t.flags & kTextSpacingMask) >> kTextSpacingShift;
  if (spacing != 0) out.Format("    Spacing %g", spacing == 1 ? 1.5 : 2.0);
  uint32_t label = (t.flags & kTextLabelMask) >> kTextLabelShift;
  if (label != 0) {
    out.Text(std::string("    Label Line ") + (label == 1 ? "Simple" : "Arrow") + " " +
             coords.Point(t.lineEnd) + "\n");
  } else {
    out.Text("\n");
  }
}

void WriteArc(Out& out, const Coords& coords, const GeomObject* object, const char* variable) {
  const IRect& r = object->u.arc.ellipse;
  DPoint a = coords.Convert(IPoint{r.x1, r.y1});
  DPoint b = coords.Convert(IPoint{r.x2, r.y2});
  // A system that reverses an axis turns the arc's direction.
  int mirrorX = (r.x1 < r.x2 && a.x > b.x) || (r.x1 > r.x2 && a.x < b.x);
  int mirrorY = (r.y1 < r.y2 && a.y > b.y) || (r.y1 > r.y2 && a.y < b.y);
  int16_t start = object->u.arc.startAngle, end = object->u.arc.endAngle;
  if (mirrorX || mirrorY) ArcAnglesMirror(&start, &end, mirrorX, mirrorY);
  out.Text(Head("Arc", variable) + coords.Rect(r));
  out.Format(" %g %g\n", start / 10.0, end / 10.0);
  out.Text(PenLine(object->pen));
}

// The corner size of a rounded rectangle as a distance in the system's
// units: the width of a run of that many integer units from the corner.
double CornerSize(const Coords& coords, const GeomObject* object) {
  int64_t corner = std::llabs(int64_t{object->u.roundRect.corner});
  IPoint from{object->bounds.x1, object->bounds.y1};
  IPoint to{ClampCoordinate(int64_t{from.x} + corner), from.y};
  double size = coords.Convert(to).x - coords.Convert(from).x;
  return std::fabs(size);
}

void WriteBoxed(Out& out, const Coords& coords, const GeomObject* object, const char* keyword,
                const char* variable) {
  out.Text(Head(keyword, variable) + coords.Rect(object->bounds));
  if (object->kind == kGeomRoundRect) out.Format(" %.10g", CornerSize(coords, object));
  out.Text("\n" + PenLine(object->pen));
  out.Text(BrushLine(object->brush));
  if (object->kind == kGeomFrame) {
    // Without a host the frame's window has no title.
    char title[8];
    StrQuoteDefault(title, "", sizeof title);
    out.Format("    Title %s\n", title);
    out.Format("    FillFrame %s\n", (object->u.frame.fill & 1u) ? "On" : "Off");
  }
}

}  // namespace

double CoordRoundSignificant(double value, int32_t digits, int32_t decimals) {
  if (value == 0.0 || std::isnan(value)) return 0.0;
  if (!std::isfinite(value)) return value;
  int64_t e = int64_t(std::floor(std::log10(std::fabs(value))));
  int64_t places = int64_t{digits} - e - 1;
  if (int64_t{decimals} < places) places = decimals;
  double rounded = NumRoundToStep(value, std::pow(10.0, -double(places)));
  // A value rounded away to nothing is written as 0, not -0.
  return rounded == 0.0 ? 0.0 : rounded;
}

int ObjWriteByKind(FileHandle text, const GeomObject* object, const ObjWriteTransform* transform,
                   const char* variable, int parenthesised) {
  if (!object) return 0;
  Out out(text);
  Coords coords(transform, parenthesised);
  switch (object->kind) {
    case kGeomPoint:
      out.Text(Head("Point", variable) + coords.Point(object->u.point.position) + "\n");
      out.Text(SymbolLine(object->u.point.symbol));
      break;
    case kGeomLine: {
      const GeomLineFields& l = object->u.line;
      out.Text(Head("Line", variable) + coords.Point(IPoint{l.x1, l.y1}) + " " +
               coords.Point(IPoint{l.x2, l.y2}) + "\n");
      out.Text(PenLine(object->pen));
      break;
    }
    case kGeomArc:
      WriteArc(out, coords, object, variable);
      break;
    case kGeomPolyline:
      out.Text(Head("Pline", variable));
      WritePolylineBody(out, coords, object);
      break;
    case kGeomRegion:
      out.Text(Head("Region", variable));
      WriteRegionBody(out, coords, object);
      break;
    case kGeomText:
      WriteText(out, coords, object, variable);
      break;
    case kGeomRect:
      WriteBoxed(out, coords, object, "Rect", variable);
      break;
    case kGeomRoundRect:
      WriteBoxed(out, coords, object, "Roundrect", variable);
      break;
    case kGeomEllipse:
      WriteBoxed(out, coords, object, "Ellipse", variable);
      break;
    case kGeomFrame:
      WriteBoxed(out, coords, object, "Frame", variable);
      break;
    case kGeomMultipoint:
      out.Format("Multipoint %u\n", object->u.multipoint.pointCount);
      if (variable && *variable) out.Format("Into Variable %s ", variable);
      WriteMultipointPoints(out, coords, object);
      break;
    case kGeomCollection: {
      const GeomCollectionFields& c = object->u.collection;
      int present = (c.region != nullptr) + (c.polyline != nullptr) + (c.multipoint != nullptr);
      out.Format("Collection %d\n", present);
      if (variable && *variable) out.Format("Into Variable %s ", variable);
      // Each part keeps its keyword: a reader tells the parts apart by it.
      if (c.region) {
        out.Text("Region ");
        WriteRegionBody(out, coords, c.region);
      }
      if (c.polyline) {
        out.Text("Pline ");
        WritePolylineBody(out, coords, c.polyline);
      }
      if (c.multipoint) {
        out.Format("Multipoint %u\n", c.multipoint->u.multipoint.pointCount);
        WriteMultipointPoints(out, coords, c.multipoint);
      }
      break;
    }
    default:
      return 0;  // no statement for this kind
  }
  return out.ok() ? 1 : 0;
}

}  // namespace layerio
