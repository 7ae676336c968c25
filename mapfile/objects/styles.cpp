// The default style bundle and the per-kind style accessors of map objects.
#include "mapfile/objects/styles.h"

#include "mapfile/objects/geom.h"

namespace layerio {

namespace {

StyleBundle MakeDefaults() {
  StyleBundle b{};
  b.linePen.width = 1;
  b.linePen.pattern = 2;
  b.areaPen.width = 1;
  b.areaPen.pattern = 2;
  b.brush.pattern = 2;
  b.brush.foreground = 0xFFFFFF;
  b.brush.background = 0xFFFFFF;
  b.brush.transparent = 0;
  b.symbol.shape = 32;
  b.symbol.size = 9;
  b.symbol.kind = kSymbolSimple;
  return b;
}

StyleBundle gDefaults = MakeDefaults();

int HasLinePen(int kind) {
  return kind == kGeomLine || kind == kGeomArc || kind == kGeomPolyline || kind == kGeomText;
}

// The part of a collection that carries a style, or the object itself.
GeomObject* Carrier(GeomObject* target, GeomObject* GeomCollectionFields::*slot) {
  if (target->kind != kGeomCollection) return target;
  return target->u.collection.*slot;
}

}  // namespace

StyleBundle* StyleDefaults() { return &gDefaults; }

int PenWidthIsPixels(int32_t width) { return width < 10 ? 1 : 0; }

int GeomObjectGetLinePen(const GeomObject* object, PenStyle* out) {
  if (HasLinePen(object->kind)) {
    if (out) *out = object->pen;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.polyline) {
    if (out) *out = object->u.collection.polyline->pen;
    return 1;
  }
  return 0;
}

int GeomObjectGetBorderPen(const GeomObject* object, PenStyle* out) {
  if (GeomKindHasBrush(object->kind)) {
    if (out) *out = object->pen;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.region) {
    if (out) *out = object->u.collection.region->pen;
    return 1;
  }
  return 0;
}

int GeomObjectGetBrush(const GeomObject* object, BrushStyle* out) {
  if (GeomKindHasBrush(object->kind)) {
    if (out) *out = object->brush;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.region) {
    if (out) *out = object->u.collection.region->brush;
    return 1;
  }
  return 0;
}

int GeomObjectGetSymbol(const GeomObject* object, SymbolStyle* out) {
  if (object->kind == kGeomPoint) {
    if (out) *out = object->u.point.symbol;
    return 1;
  }
  if (object->kind == kGeomMultipoint) {
    if (out) *out = object->u.multipoint.symbol;
    return 1;
  }
  if (object->kind == kGeomCollection && object->u.collection.multipoint) {
    if (out) *out = object->u.collection.multipoint->u.multipoint.symbol;
    return 1;
  }
  return 0;
}

int GeomObjectSetStyle(GeomObject* target, StyleBundle bundle) {
  switch (target->kind) {
    case kGeomRegion:
    case kGeomRect:
    case kGeomRoundRect:
    case kGeomEllipse:
    case kGeomFrame:
      return GeomObjectSetAttr(target, kAttrBrush, &bundle.brush) &&
             GeomObjectSetAttr(target, kAttrPen, &bundle.areaPen);
    case kGeomLine:
    case kGeomArc:
    case kGeomPolyline:
      return GeomObjectSetAttr(target, kAttrPen, &bundle.linePen);
    case kGeomPoint:
    case kGeomMultipoint:
      return GeomObjectSetAttr(target, kAttrSymbol, &bundle.symbol);
    case kGeomText:
      return GeomObjectSetAttr(target, kAttrTextFont, &bundle.font) &&
             GeomObjectSetAttr(target, kAttrPen, &bundle.areaPen);
    case kGeomCollection: {
      GeomCollectionFields& c = target->u.collection;
      if (c.region && !(GeomObjectSetAttr(c.region, kAttrBrush, &bundle.brush) &&
                        GeomObjectSetAttr(c.region, kAttrPen, &bundle.areaPen))) {
        return 0;
      }
      if (c.polyline && !GeomObjectSetAttr(c.polyline, kAttrPen, &bundle.linePen)) return 0;
      if (c.multipoint && !GeomObjectSetAttr(c.multipoint, kAttrSymbol, &bundle.symbol)) {
        return 0;
      }
      return 1;
    }
    default:
      return 1;
  }
}

int GeomObjectCopyStyle(GeomObject* target, const GeomObject* source) {
  int result = 0;
  BrushStyle brush;
  PenStyle pen;
  SymbolStyle symbol;
  if (GeomObjectGetBrush(source, &brush)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::region);
    result = t ? GeomObjectSetAttr(t, kAttrBrush, &brush) : 0;
  }
  if (GeomObjectGetBorderPen(source, &pen)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::region);
    result = t ? GeomObjectSetAttr(t, kAttrPen, &pen) : 0;
  }
  if (source->kind == kGeomText) {
    result = GeomObjectSetAttr(target, kAttrTextFont, &source->u.text.font);
    result = GeomObjectSetAttr(target, kAttrPen, &source->pen);
  }
  if (GeomObjectGetLinePen(source, &pen) && !GeomKindHasBrush(target->kind)) {
    if (target->kind == kGeomCollection) {
      GeomObject* t = target->u.collection.polyline;
      result = t ? GeomObjectSetAttr(t, kAttrPen, &pen) : 0;
    } else if (GeomObjectGetLinePen(target, nullptr) || target->kind == kGeomItems12 ||
               target->kind == kGeomItems24) {
      result = GeomObjectSetAttr(target, kAttrPen, &pen);
    }
  }
  if (GeomObjectGetSymbol(source, &symbol)) {
    GeomObject* t = Carrier(target, &GeomCollectionFields::multipoint);
    result = t ? GeomObjectSetAttr(t, kAttrSymbol, &symbol) : 0;
  }
  return result;
}

}  // namespace layerio
