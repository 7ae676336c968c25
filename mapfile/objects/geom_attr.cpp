// Reading and writing one attribute of a map object by its numeric code.
#include <cstring>

#include "mapfile/objects/geom.h"

namespace layerio {

namespace {

template <class T>
int Put(void* out, const T& value) {
  std::memcpy(out, &value, sizeof value);
  return 1;
}

template <class T>
T Take(const void* in) {
  T value;
  std::memcpy(&value, in, sizeof value);
  return value;
}

uint32_t PolyPoints(const GeomObject* o) {
  uint64_t headers = uint64_t{kGeomPartSize} * o->u.poly.partCount;
  return o->u.poly.dataSize > headers
             ? static_cast<uint32_t>((o->u.poly.dataSize - headers) / kGeomPointSize)
             : 0;
}

int IsPoly(int kind) { return kind == kGeomPolyline || kind == kGeomRegion; }

// The part of a collection whose centroid stands for the collection.
GeomObject* CentroidPart(const GeomObject* o) {
  const GeomCollectionFields& c = o->u.collection;
  return c.region ? c.region : c.polyline ? c.polyline : c.multipoint;
}

uint32_t SetBits(uint32_t flags, uint32_t mask, uint32_t shift, uint32_t value) {
  return (flags & ~mask) | ((value << shift) & mask);
}

int GetText(const GeomObject* o, int32_t code, void* out) {
  const GeomTextFields& t = o->u.text;
  switch (code) {
    case kAttrTextSpacing:
      return Put(out, uint16_t((t.flags & kTextSpacingMask) >> kTextSpacingShift));
    case kAttrTextJustify:
      return Put(out, uint16_t((t.flags & kTextJustifyMask) >> kTextJustifyShift));
    case kAttrTextLabelLine:
      return Put(out, uint16_t((t.flags & kTextLabelMask) >> kTextLabelShift));
    case kAttrTextFont:
      return Put(out, t.font);
    case kAttrTextHeight:
      return Put(out, t.height);
    case kAttrTextAngle:
      return Put(out, t.angle);
    case kAttrTextString:
      if (!o->data) return 0;
      std::memcpy(out, o->data, size_t{t.length});
      static_cast<char*>(out)[t.length] = 0;
      return 1;
    case kAttrTextFrame:
      return Put(out, t.frame);
    case kAttrTextLineEnd:
      return Put(out, t.lineEnd);
    case kAttrTextFlag0:
      return Put(out, uint16_t(t.flags & kTextFlagBit0 ? 1 : 0));
    case kAttrTextFlag8:
      return Put(out, uint16_t(t.flags & kTextFlagBit8 ? 1 : 0));
    case kAttrTextNibble:
      return Put(out, uint16_t((t.flags & kTextNibbleMask) >> kTextNibbleShift));
    case kAttrTextUser:
      return Put(out, t.user);
    case kAttrTextCorners:
      std::memcpy(out, t.corners, sizeof t.corners);
      return 1;
    case kAttrTextFrameCorner:
      return Put(out, IPoint{t.frame.x1, t.frame.y1});
    case kAttrTextCornerBounds: {
      IRect r;
      IRectSetEmpty(&r);
      for (const IPoint& p : t.corners) IRectAddPoint(&r, &p);
      return Put(out, r);
    }
    case kAttrTextAll:
      return Put(out, t);
    default:
      return 0;
  }
}

int SetText(GeomObject* o, int32_t code, const void* in) {
  GeomTextFields& t = o->u.text;
  switch (code) {
    case kAttrTextSpacing:
      t.flags = SetBits(t.flags, kTextSpacingMask, kTextSpacingShift, Take<uint16_t>(in));
      return 1;
    case kAttrTextJustify: {
      uint16_t v = Take<uint16_t>(in);
      if (v <= 3) t.flags = SetBits(t.flags, kTextJustifyMask, kTextJustifyShift, v);
      return 1;
    }
    case kAttrTextLabelLine:
      t.flags = SetBits(t.flags, kTextLabelMask, kTextLabelShift, Take<uint16_t>(in));
      return 1;
    case kAttrTextFont:
      t.font = Take<FontStyle>(in);
      return 1;
    case kAttrTextHeight:
      t.height = Take<int32_t>(in);
      return 1;
    case kAttrTextAngle:
      t.angle = Take<int16_t>(in);
      return 1;
    case kAttrTextString:
      return GeomTextSet(o, static_cast<const char*>(in));
    case kAttrTextFrame:
      t.frame = Take<IRect>(in);
      return 1;
    case kAttrTextLineEnd:
      t.lineEnd = Take<IPoint>(in);
      return 1;
    case kAttrTextFlag0:
      t.flags = SetBits(t.flags, kTextFlagBit0, 0, Take<uint16_t>(in) ? 1 : 0);
      return 1;
    case kAttrTextFlag8:
      t.flags = SetBits(t.flags, kTextFlagBit8, 8, Take<uint16_t>(in) ? 1 : 0);
      return 1;
    case kAttrTextNibble:
      t.flags = SetBits(t.flags, kTextNibbleMask, kTextNibbleShift, Take<uint16_t>(in));
      return 1;
    case kAttrTextUser:
      t.user = Take<uint16_t>(in);
      return 1;
    case kAttrTextCorners:
      std::memcpy(t.corners, in, sizeof t.corners);
      return 1;
    case kAttrTextFrameCorner: {
      IPoint p = Take<IPoint>(in);
      IRectSet(&t.frame, p.x, p.y, p.x, p.y);
      return 1;
    }
    case kAttrTextAll: {
      // The length belongs to the text in the buffer, which only attribute
      // 262 changes.
      uint16_t length = t.length;
      t = Take<GeomTextFields>(in);
      t.length = length;
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

int GeomObjectGetAttr(const GeomObject* o, int32_t code, void* out) {
  int kind = o->kind;
  switch (code) {
    case kAttrKind:
      return Put(out, o->kind);
    case kAttrPen:
      return kind != kGeomPoint ? Put(out, o->pen) : 0;
    case kAttrBrush:
      return GeomKindHasBrush(kind) ? Put(out, o->brush) : 0;
    case kAttrRow:
      return Put(out, o->row);
    case kAttrBounds:
      return Put(out, o->bounds);
    case kAttrNotEmpty:
      return Put(out, uint16_t(GeomObjectIsEmpty(o) ? 0 : 1));
    case kAttrHasValuesA:
      return Put(out, uint16_t(GeomObjectHasValuesA(o)));
    case kAttrHasValuesB:
      return Put(out, uint16_t(GeomObjectHasValuesB(o)));
    case kAttrSymbol:
      if (kind == kGeomPoint) return Put(out, o->u.point.symbol);
      if (kind == kGeomMultipoint) return Put(out, o->u.multipoint.symbol);
      return 0;
    case kAttrPoint:
      return kind == kGeomPoint ? Put(out, o->u.point.position) : 0;
    case kAttrLine:
      return kind == kGeomLine ? Put(out, o->u.line) : 0;
    case kAttrFrameWindow:
      return kind == kGeomFrame ? Put(out, o->u.frame.window) : 0;
    case kAttrFrameValue:
      return kind == kGeomFrame ? Put(out, o->u.frame.value) : 0;
    case kAttrFrameFill:
      return kind == kGeomFrame ? Put(out, uint16_t(o->u.frame.fill & 1)) : 0;
    case kAttrSmooth:
      return kind == kGeomPolyline ? Put(out, uint16_t(o->u.poly.smooth & 1)) : 0;
    case kAttrPartCount:
      return IsPoly(kind) ? Put(out, o->u.poly.partCount) : 0;
    case kAttrPointsLessParts:
      return IsPoly(kind) ? Put(out, PolyPoints(o) - o->u.poly.partCount) : 0;
    case kAttrCentroid:
      if (IsPoly(kind)) return Put(out, o->u.poly.centroid);
      if (kind == kGeomMultipoint) return Put(out, o->u.multipoint.centroid);
      if (kind == kGeomCollection) {
        const GeomObject* part = CentroidPart(o);
        return part ? GeomObjectGetAttr(part, kAttrCentroid, out) : 0;
      }
      return 0;
    case kAttrPointCount:
      if (IsPoly(kind)) return Put(out, PolyPoints(o));
      if (kind == kGeomMultipoint) return Put(out, o->u.multipoint.pointCount);
      return 0;
    default:
      break;
  }
  if (kind == kGeomText && code >= kAttrTextSpacing && code <= kAttrTextAll) {
    return GetText(o, code, out);
  }
  if (IsPoly(kind) && code >= kAttrPartPoints) {
    int64_t n = int64_t{code} - kAttrPartPoints;
    if (n >= o->u.poly.partCount) return 0;
    if (!GeomParts(o)) return 0;
    const GeomPart* part = GeomParts(o) + n;
    int32_t count = part->pointCount;
    if (kind == kGeomRegion && count > 0) --count;  // the closing point
    return Put(out, count);
  }
  return 0;
}

int GeomObjectSetAttr(GeomObject* o, int32_t code, const void* in) {
  int kind = o->kind;
  switch (code) {
    case kAttrKind:
      return GeomObjectReset(o, Take<uint8_t>(in), 1);
    case kAttrPen:
      if (kind == kGeomPoint) return 0;
      o->pen = Take<PenStyle>(in);
      return 1;
    case kAttrBrush:
      if (!GeomKindHasBrush(kind)) return 0;
      o->brush = Take<BrushStyle>(in);
      return 1;
    case kAttrRow:
      o->row = Take<uint32_t>(in);
      return 1;
    case kAttrBounds:
      o->bounds = Take<IRect>(in);
      return 1;
    case kAttrNotEmpty:
    case kAttrHasValuesA:
    case kAttrHasValuesB:
      return 0;
    case kAttrSymbol:
      if (kind == kGeomPoint) {
        o->u.point.symbol = Take<SymbolStyle>(in);
      } else if (kind == kGeomMultipoint) {
        o->u.multipoint.symbol = Take<SymbolStyle>(in);
      } else {
        return 0;
      }
      return 1;
    case kAttrPoint:
      if (kind != kGeomPoint) return 0;
      o->u.point.position = Take<IPoint>(in);
      return 1;
    case kAttrLine:
      if (kind != kGeomLine) return 0;
      o->u.line = Take<GeomLineFields>(in);
      return 1;
    case kAttrFrameWindow:
      if (kind != kGeomFrame) return 0;
      o->u.frame.window = Take<uint32_t>(in);
      return 1;
    case kAttrFrameValue:
      if (kind != kGeomFrame) return 0;
      o->u.frame.value = Take<uint32_t>(in);
      return 1;
    case kAttrFrameFill:
      if (kind != kGeomFrame) return 0;
      o->u.frame.fill = (o->u.frame.fill & ~1u) | (Take<uint16_t>(in) ? 1u : 0u);
      return 1;
    case kAttrSmooth:
      if (kind != kGeomPolyline) return 0;
      o->u.poly.smooth = (o->u.poly.smooth & ~1u) | (Take<uint16_t>(in) ? 1u : 0u);
      return 1;
    case kAttrCentroid:
      if (IsPoly(kind)) {
        o->u.poly.centroid = Take<IPoint>(in);
      } else if (kind == kGeomMultipoint) {
        o->u.multipoint.centroid = Take<IPoint>(in);
      } else if (kind == kGeomCollection) {
        GeomObject* part = CentroidPart(o);
        return part ? GeomObjectSetAttr(part, kAttrCentroid, in) : 0;
      } else {
        return 0;
      }
      return 1;
    default:
      break;
  }
  if (kind == kGeomText && code >= kAttrTextSpacing && code <= kAttrTextAll) {
    return SetText(o, code, in);
  }
  return 0;
}

}  // namespace layerio
