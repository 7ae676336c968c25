// Object type codes and the 16-bit delta form of coordinates.
#include "mapfile/objects/maptypes.h"

#include "mapfile/objects/mapfile.h"

namespace layerio {

namespace {

// The kind of each triple, from code 1 in steps of three.
constexpr uint8_t kTripleKind[24] = {
    kGeomPoint,      kGeomLine,       kGeomPolyline,   kGeomArc,        kGeomRegion,
    kGeomText,       kGeomRect,       kGeomRoundRect,  kGeomEllipse,    kGeomFrame,
    kGeomItems12,    kGeomItems24,    kGeomPolyline,   kGeomPoint,      kGeomPoint,
    kGeomRegion,     kGeomPolyline,   kGeomMultipoint, kGeomCollection, kGeomPoint,
    kGeomRegion,     kGeomPolyline,   kGeomMultipoint, kGeomCollection,
};

int TripleBase(int code) { return code - (code - 1) % 3; }

int64_t Abs64(int64_t v) { return v < 0 ? -v : v; }

}  // namespace

int MapCodeForm(int code) {
  if (code < 1 || code > kMapCodeMax) return 0;
  return (code - 1) % 3 + 1;
}

int MapCodeLength(int code) {
  if (code < 1 || code > kMapCodeMax) return 0;
  return MapTypeTableLibrary()[code] & kMapCodeLengthMask;
}

int MapCodeHasData(int code) {
  if (code < 1 || code > kMapCodeMax) return 0;
  return (MapTypeTableLibrary()[code] & kMapCodeDataBit) != 0;
}

int MapCodeGeneration(int code) {
  if ((code >= 7 && code <= 9) || (code >= 13 && code <= 15) || (code >= 37 && code <= 39)) {
    return 1;
  }
  if ((code >= 46 && code <= 51) || (code >= 55 && code <= 57)) return 2;
  if ((code >= 61 && code <= 66) || (code >= 70 && code <= 72)) return 3;
  return 0;
}

int MapObjCodeKind(int code) {
  if (code < 1 || code > kMapCodeMax) return 0;
  return kTripleKind[(code - 1) / 3];
}

int MapObjBaseCode(const GeomObject* object, int mapWithoutExtension) {
  const int extension = !mapWithoutExtension;
  int variant = 1;
  switch (object->kind) {
    case kGeomPoint:
      if (extension && (object->flagA || object->flagB)) return 58;
      if (object->u.point.symbol.kind == kSymbolFont) return 40;
      if (object->u.point.symbol.kind == kSymbolCustom) return 43;
      return 1;
    case kGeomLine: return 4;
    case kGeomArc: return 10;
    case kGeomText: return 16;
    case kGeomRect: return 19;
    case kGeomRoundRect: return 22;
    case kGeomEllipse: return 25;
    case kGeomFrame: return 28;
    case kGeomItems12: return 31;
    case kGeomItems24: return 34;
    case kGeomPolyline:
      GeomObjectStorageSize(object, &variant, mapWithoutExtension);
      if (variant == 1) return object->u.poly.partCount == 1 ? 7 : 37;
      return variant == 2 ? 49 : 64;
    case kGeomRegion:
      GeomObjectStorageSize(object, &variant, mapWithoutExtension);
      if (variant == 1) return 13;
      return variant == 2 ? 46 : 61;
    case kGeomMultipoint:
      GeomObjectStorageSize(object, &variant, mapWithoutExtension);
      return variant == 3 ? 67 : 52;
    case kGeomCollection:
      GeomObjectStorageSize(object, &variant, mapWithoutExtension);
      return variant == 3 ? 70 : 55;
    default: return 0;
  }
}

void MapObjRefRect(const GeomObject* object, IRect* out) {
  *out = object->bounds;
  IRectNormalize(out);
  switch (object->kind) {
    case kGeomPoint: IRectAddPoint(out, &object->u.point.position); break;
    case kGeomLine: {
      const IPoint a{object->u.line.x1, object->u.line.y1};
      const IPoint b{object->u.line.x2, object->u.line.y2};
      IRectAddPoint(out, &a);
      IRectAddPoint(out, &b);
      break;
    }
    case kGeomArc: {
      IRect e = object->u.arc.ellipse;
      IRectNormalize(&e);
      IRectUnion(out, &e);
      break;
    }
    case kGeomText: {
      IRect f = object->u.text.frame;
      IRectNormalize(&f);
      IRectUnion(out, &f);
      IRectAddPoint(out, &object->u.text.lineEnd);
      break;
    }
    default: break;
  }
}

void MapObjCodeCompress(int* code, const GeomObject* object, const IPoint* base) {
  const int form = MapCodeForm(*code);
  if (form != kMapFormCompressed && form != kMapFormLong) return;
  const int first = TripleBase(*code);
  bool compressed = false;
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion:
    case kGeomMultipoint:
    case kGeomCollection: {
      const IRect& b = object->bounds;
      const int64_t w = static_cast<int64_t>(b.x2) - b.x1;
      const int64_t h = static_cast<int64_t>(b.y2) - b.y1;
      compressed = w >= 0 && h >= 0 && w < 65535 && h < 65535;
      break;
    }
    default:
      if (base != nullptr) {
        IRect r;
        MapObjRefRect(object, &r);
        compressed = Abs64(static_cast<int64_t>(r.x1) - base->x) < 32768 &&
                     Abs64(static_cast<int64_t>(r.x2) - base->x) < 32768 &&
                     Abs64(static_cast<int64_t>(r.y1) - base->y) < 32768 &&
                     Abs64(static_cast<int64_t>(r.y2) - base->y) < 32768;
        // The compressed text and rounded rectangle hold 16-bit sizes.
        if (object->kind == kGeomText) {
          const GeomTextFields& t = object->u.text;
          const int64_t h = (t.flags & kTextFlagBit8) ? t.user : t.height;
          compressed = compressed && h >= 0 && h <= 0xFFFF;
        } else if (object->kind == kGeomRoundRect) {
          compressed = compressed && Abs64(object->u.roundRect.corner) <= 0xFFFF;
        }
      }
      break;
  }
  *code = compressed ? first : first + 1;
}

int MapObjCodeFor(const GeomObject* object, int compress, const IPoint* base,
                  int mapWithoutExtension) {
  int code = MapObjBaseCode(object, mapWithoutExtension);
  if (code == 0) return 0;
  if (!compress) return code + 2;
  MapObjCodeCompress(&code, object, base);
  return code;
}

int MapCollectionPartCode(int partKind, int collectionCode) {
  int form;
  int polyline, region, multipoint;
  if (collectionCode >= 55 && collectionCode <= 57) {
    form = collectionCode - 55;
    polyline = 49, region = 46, multipoint = 52;
  } else if (collectionCode >= 70 && collectionCode <= 72) {
    form = collectionCode - 70;
    polyline = 64, region = 61, multipoint = 67;
  } else {
    return 0;
  }
  switch (partKind) {
    case kGeomPolyline: return polyline + form;
    case kGeomRegion: return region + form;
    case kGeomMultipoint: return multipoint + form;
    default: return 0;
  }
}

int MapCodeDataForm(int sections, int code, int* point16, int* second16) {
  switch (MapCodeGeneration(code)) {
    case 1:
      *point16 = 1;
      *second16 = 1;
      return 4 * sections;
    case 2:
      *point16 = 0;
      *second16 = 1;
      return 0;
    case 3:
      *point16 = 0;
      *second16 = 0;
      return 0;
    default:
      *point16 = code;
      *second16 = code;
      return code;
  }
}

void DeltaPointDecode(const uint8_t* bytes, IPoint* out, const IPoint* base) {
  // Wrapping sums: a damaged delta near the edge of the range must not be
  // undefined behaviour.
  out->x = static_cast<int32_t>(static_cast<uint32_t>(base->x) +
                                static_cast<uint32_t>(static_cast<int32_t>(QLoadI16LE(bytes))));
  out->y = static_cast<int32_t>(static_cast<uint32_t>(base->y) +
                                static_cast<uint32_t>(static_cast<int32_t>(QLoadI16LE(bytes + 2))));
}

void DeltaRectDecode(const uint8_t* bytes, IRect* out, const IPoint* base) {
  IPoint a, b;
  DeltaPointDecode(bytes, &a, base);
  DeltaPointDecode(bytes + 4, &b, base);
  out->x1 = a.x;
  out->y1 = a.y;
  out->x2 = b.x;
  out->y2 = b.y;
}

void DeltaPointEncode(const IPoint* point, uint8_t* bytes, const IPoint* base) {
  QStoreU16LE(bytes, static_cast<uint16_t>(static_cast<uint32_t>(point->x) -
                                           static_cast<uint32_t>(base->x)));
  QStoreU16LE(bytes + 2, static_cast<uint16_t>(static_cast<uint32_t>(point->y) -
                                               static_cast<uint32_t>(base->y)));
}

void DeltaRectEncode(const IRect* rect, uint8_t* bytes, const IPoint* base) {
  const IPoint a{rect->x1, rect->y1};
  const IPoint b{rect->x2, rect->y2};
  DeltaPointEncode(&a, bytes, base);
  DeltaPointEncode(&b, bytes + 4, base);
}

int DeltaPointFits(const IPoint* point, const IPoint* base) {
  const int64_t dx = static_cast<int64_t>(point->x) - base->x;
  const int64_t dy = static_cast<int64_t>(point->y) - base->y;
  return dx >= -32768 && dx <= 32767 && dy >= -32768 && dy <= 32767;
}

}  // namespace layerio
