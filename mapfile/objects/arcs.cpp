// Arcs, rotated text frames and text line ends.
#include "mapfile/foundation/strings.h"
#include "mapfile/objects/arcs.h"

#include <cmath>

namespace layerio {

namespace {

constexpr double kPi = 3.14159265358979323846;

double TenthsToRadians(double tenths) { return tenths / 10.0 * kPi / 180.0; }

// The density correction between the reference device's axes. It is an
// exact ratio: the rounding term of an integer multiply-divide would add
// half a working unit to every corrected extent.
double DensityCorrect(double v) { return v * kTextDeviceDpiY / kTextDeviceDpiX; }

int32_t ClampToInt(int64_t v) {
  if (v > kIntCoordLimit) return kIntCoordLimit;
  if (v < -kIntCoordLimit) return -kIntCoordLimit;
  return int32_t(v);
}

}  // namespace

// ----- arcs -----

void ArcEndPoints(const IRect* rect, int16_t start, int16_t end, IPoint* startPoint,
                  IPoint* endPoint) {
  IPoint c;
  IRectCenter(rect, &c);
  double rx = (double(rect->x2) - double(rect->x1)) / 2.0;
  double ry = (double(rect->y2) - double(rect->y1)) / 2.0;
  double a1 = TenthsToRadians(start), a2 = TenthsToRadians(end);
  startPoint->x = ClampToInt(int64_t(c.x) + NumRound(std::cos(a1) * rx));
  startPoint->y = ClampToInt(int64_t(c.y) + NumRound(std::sin(a1) * ry));
  endPoint->x = ClampToInt(int64_t(c.x) + NumRound(std::cos(a2) * rx));
  endPoint->y = ClampToInt(int64_t(c.y) + NumRound(std::sin(a2) * ry));
}

int ArcBounds(GeomObject* object) {
  if (object->kind != kGeomArc) return 0;
  const IRect& ellipse = object->u.arc.ellipse;
  double s = object->u.arc.startAngle / 10.0;
  double e = object->u.arc.endAngle / 10.0;
  while (s < 0) s += 360.0;
  while (e <= s) e += 360.0;
  int qs = int(std::trunc(s / 90.0)) % 4;
  int qe = int(std::trunc(e / 90.0)) % 4;
  if (qs == qe && e - s > 90.0) {
    object->bounds = ellipse;
    return 1;
  }
  IPoint p, q;
  ArcEndPoints(&ellipse, object->u.arc.startAngle, object->u.arc.endAngle, &p, &q);
  IRect bounds;
  IRectFromPoints(&bounds, &p, &q);
  IPoint c;
  IRectCenter(&ellipse, &c);
  // Each quadrant boundary the arc crosses adds the ellipse's extreme point
  // on that boundary: top, left, bottom, right.
  for (int quadrant = qs; quadrant != qe; quadrant = (quadrant + 1) % 4) {
    IPoint extreme;
    switch (quadrant) {
      case 0: extreme = IPoint{c.x, ellipse.y2}; break;
      case 1: extreme = IPoint{ellipse.x1, c.y}; break;
      case 2: extreme = IPoint{c.x, ellipse.y1}; break;
      default: extreme = IPoint{ellipse.x2, c.y}; break;
    }
    IRectAddPoint(&bounds, &extreme);
  }
  object->bounds = bounds;
  return 1;
}

void ArcAnglesMirror(int16_t* start, int16_t* end, int mirrorX, int mirrorY) {
  int s = *start, e = *end;
  if (mirrorX) {
    s = 1800 - s;
    e = 1800 - e;
  }
  if (mirrorY) {
    s = 3600 - s;
    e = 3600 - e;
  }
  if ((mirrorX != 0) != (mirrorY != 0)) {
    int t = s;
    s = e;
    e = t;
  }
  while (s < 0) s += 3600;
  while (s >= 3600) s -= 3600;
  while (e >= 3600) e -= 3600;
  while (e <= s) e += 3600;
  *start = int16_t(s);
  *end = int16_t(e);
}

// ----- rotated rectangles -----

void DRectRotatedCorners(const DRect* rect, int16_t angle, DPoint corners[4]) {
  double t = TenthsToRadians(angle);
  double c = std::cos(t), s = std::sin(t);
  double w = rect->x2 - rect->x1, h = rect->y2 - rect->y1;
  double wc = DensityCorrect(w), hc = DensityCorrect(h);
  corners[0] = DPoint{rect->x1, rect->y1};
  corners[1] = DPoint{rect->x1 + w * c, rect->y1 - wc * s};
  corners[2] = DPoint{corners[1].x + hc * s, corners[1].y + h * c};
  corners[3] = DPoint{rect->x1 + hc * s, rect->y1 + h * c};
}

void DRectRotate(DRect* rect, int16_t angle) {
  DPoint corners[4];
  DRectRotatedCorners(rect, angle, corners);
  DRectSetEmpty(rect);
  for (const DPoint& p : corners) DRectAddPoint(rect, &p);
}

// ----- the working system of text frames -----

void TextWorkSpaceInit(TextWorkSpace* space, const CoordSys* cs, const IRect* rect) {
  DRect units;
  CoordIntRectToUnits(rect, &units, cs);
  CoordSysDerive(&space->work, cs, &units);
  // The working system's integer plane is a 0..1000 device over the frame.
  IRect device{0, 0, 1000, 1000};
  CoordSysSetWindow(&space->work, &device, &units);
  CoordXformInit(&space->xf, cs, &space->work);
}

void TextWorkRectIn(const TextWorkSpace* space, const IRect* in, DRect* out) {
  CoordXformRectBackward(in, out, &space->xf);
}

void TextWorkRectOut(const TextWorkSpace* space, const DRect* in, IRect* out) {
  CoordXformRectForward(in, out, &space->xf);
}

void TextRectRotate(IRect* rect, int16_t angle, const CoordSys* cs) {
  if (angle == 0) return;
  TextWorkSpace space;
  TextWorkSpaceInit(&space, cs, rect);
  DRect work;
  TextWorkRectIn(&space, rect, &work);
  DRectRotate(&work, angle);
  TextWorkRectOut(&space, &work, rect);
}

int TextFrameUnrotate(const GeomObject* object, const CoordXform* xf, DRect* out) {
  if (object->kind != kGeomText) return 0;
  const GeomTextFields& text = object->u.text;
  DRect f;
  CoordXformRectBackward(&text.frame, &f, xf);
  // Angles outside one turn are taken modulo a turn: the ranges below divide
  // by the sine of the angle within its quarter, which must not be 0.
  int a = text.angle % 3600;
  if (a < 0) a += 3600;
  if (a == 0) {
    *out = f;
    return 1;
  }
  IRect line{text.frame.x1, text.frame.y1, text.frame.x2,
             ClampToInt(int64_t(text.frame.y1) + text.height)};
  DRect lineWork;
  CoordXformRectBackward(&line, &lineWork, xf);
  double h = std::fabs(lineWork.y2 - lineWork.y1);
  int quarter = a <= 900 ? 0 : a <= 1800 ? 1 : a <= 2700 ? 2 : 3;
  double t = TenthsToRadians(a - 900 * quarter);
  double c = std::cos(t), s = std::sin(t);
  double x0, y0, w;
  switch (quarter) {
    case 0:
      x0 = f.x1;
      y0 = f.y2 - h * c;
      w = DensityCorrect(std::fabs(y0 - f.y1) / s);
      break;
    case 1:
      x0 = f.x2 - DensityCorrect(h * c);
      y0 = f.y2;
      w = std::fabs(x0 - f.x1) / s;
      break;
    case 2:
      x0 = f.x2;
      y0 = f.y1 + h * c;
      w = DensityCorrect(std::fabs(f.y2 - y0) / s);
      break;
    default:
      x0 = f.x1 + DensityCorrect(h * c);
      y0 = f.y1;
      w = std::fabs(f.x2 - x0) / s;
      break;
  }
  DRectSet(out, x0, y0, x0 + w, y0 + h);
  DRectNormalize(out);
  return 1;
}

int TextBoundsRotated(const GeomObject* object, const CoordSys* cs, IRect* out) {
  if (object->kind != kGeomText) return 0;
  if (object->u.text.angle % 3600 == 0) {
    *out = object->u.text.frame;
    return 1;
  }
  TextWorkSpace space;
  TextWorkSpaceInit(&space, cs, &object->u.text.frame);
  DRect box;
  TextFrameUnrotate(object, &space.xf, &box);
  TextWorkRectOut(&space, &box, out);
  return 1;
}

// ----- line ends -----

void TextLineEndsConvert(char* out, const char* in, size_t length, int toStored) {
  const char first = toStored ? '\\' : '\r';
  const char second = toStored ? 'n' : '\n';
  const char to1 = toStored ? '\r' : '\\';
  const char to2 = toStored ? '\n' : 'n';
  size_t i = 0;
  while (i < length) {
    if (MbsIsLeadByte(in + i) && i + 1 < length) {
      // The trail byte may equal a backslash: it travels with its lead byte.
      out[i] = in[i];
      out[i + 1] = in[i + 1];
      i += 2;
    } else if (in[i] == first && i + 1 < length && in[i + 1] == second) {
      out[i] = to1;
      out[i + 1] = to2;
      i += 2;
    } else {
      out[i] = in[i];
      ++i;
    }
  }
}

size_t TextStripCR(char* text) {
  char* to = text;
  const char* from = text;
  while (*from) {
    if (MbsIsLeadByte(from) && from[1]) {
      *to++ = *from++;
      *to++ = *from++;
    } else if (from[0] == '\r' && from[1] == '\n') {
      ++from;
    } else {
      *to++ = *from++;
    }
  }
  *to = 0;
  return size_t(to - text);
}

void MbsReplaceChar(char* text, char from, char to) {
  for (char* p = text; *p; p = MbsNext(p)) {
    if (!MbsIsLeadByte(p) && *p == from) *p = to;
  }
}

}  // namespace layerio
