// The CoordSys clause: the text form of a coordinate system in table
// definitions and at the interface, read from the running tokenizer and
// written back.
//
//   CoordSys Earth [Projection p, d, ...] [affine part] [Bounds (x1, y1) (x2, y2)] [supportmz]
//   CoordSys NonEarth Units "unit" [affine part] Bounds (x1, y1) (x2, y2) [supportmz]
//   CoordSys Layout Units "unit"
//   affine part: Affine Units "unit", A, B, C, D, E, F
//
// The values after "Projection" are read first (at most 29) and then taken
// apart: the projection number (plus 1000 when an affine unit and six
// coefficients follow the parameters, plus 2000 when four bounds close the
// list), the datum (999 and 9999 followed by a custom datum), the projected
// unit and as many parameters as the projection has.
//
// The writer writes a layout system as "CoordSys Layout Units", so the
// reader takes that form back as a non-earth system with the layout quadrant
// code; any other word after "CoordSys" fails with 615 rather than leaving
// the caller without a projection.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"

namespace layerio {

namespace {

constexpr int kMaxListValues = 29;
constexpr int kKwLayout = 404;
constexpr int kKwPlus = 12;
constexpr int kKwMinus = 13;

constexpr int16_t kErrUnknownUnit = 606;
constexpr int16_t kErrUnexpected = 615;
constexpr int16_t kErrTooManyValues = 635;
constexpr int16_t kErrTooFewValues = 636;
constexpr int16_t kErrUnitNotLinear = 646;
constexpr int16_t kErrProjection = 888;
constexpr int16_t kErrDatum = 889;
constexpr int16_t kErrEllipsoid = 890;
constexpr int16_t kErrAffine = 1357;
constexpr int16_t kErrNoValue = 854;  // the foundation's "value not convertible"

constexpr int kDatumCustom = 999;
constexpr int kDatumCustomFull = 9999;
constexpr uint8_t kLayoutQuadrant = 4;

void Push(int16_t code, const char* text = nullptr) {
  ErrorPush(kErrorSeverity, code, text, nullptr);
}

void PushNumber(int16_t code, double n) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", n);
  Push(code, text);
}

// -0.0 read from a text would make two equal records differ byte for byte.
double Positive0(double v) { return v + 0.0; }

bool CheckOnly() { return ParseMode() == 1; }

bool TokenIsKeyword(int id) {
  const Value* t = TokCurrent();
  return t && t->kind == kValueKeyword && t->aux == id;
}

bool IsOperator() {
  const Value* t = TokCurrent();
  if (!t || t->kind != kValueKeyword) return false;
  switch (t->aux) {
    case kKwPlus: case kKwMinus: case 14: case 15: case 30: case 10: case 37: case kKwMod:
      return true;
    default:
      return false;
  }
}

// Skips a parenthesised group; the current token is its "(".
void SkipGroup() {
  int depth = 0;
  do {
    if (TokenIsKeyword(kKwOpen)) ++depth;
    if (TokenIsKeyword(kKwClose)) --depth;
    TokNext();
  } while (depth > 0 && TokCurrent());
}

// In check-only mode the expression reader takes no tokens, so the clause
// steps over an operand chain itself: signs, a constant, a name (with its
// argument list) or a group, joined by operators.
bool SkipValue() {
  for (;;) {
    while (TokenIsKeyword(kKwPlus) || TokenIsKeyword(kKwMinus)) TokNext();
    if (!TokCurrent() || TokenIsKeyword(kKwComma) || TokenIsKeyword(kKwClose)) {
      TokError(kTokNumber);
      return false;
    }
    if (TokenIsKeyword(kKwOpen)) {
      SkipGroup();
    } else {
      bool name = TokIs(kTokIdentifier);
      TokNext();
      if (name && TokenIsKeyword(kKwOpen)) SkipGroup();
    }
    if (!IsOperator()) return true;
    TokNext();
  }
}

// One value of the clause as an expression; its typed value (text or number)
// goes to *out, which the caller frees. Check-only mode skips it.
bool ReadValue(Value* out) {
  std::memset(out, 0, sizeof *out);
  if (CheckOnly()) return SkipValue();
  if (!TokCurrent()) {
    TokError(kTokNumber);
    return false;
  }
  uint16_t before = ErrorCount();
  if (ExprParseEvaluate(out, 0)) return true;
  // The expression reader leaves operators to the statement code: a value
  // it could not form still needs a reason on the stack.
  if (ErrorCount() == before) Push(kErrNoValue);
  return false;
}

bool ReadNumber(double* out) {
  Value v;
  bool ok = ReadValue(&v);
  *out = 0;
  if (ok && !CheckOnly()) ok = ValueToDouble(&v, out, 0) != 0;
  ValueFree(&v);
  *out = Positive0(*out);
  return ok;
}

bool ExpectComma() { return TokExpect(kKwComma) != 0; }

// "Units" and a quoted unit name: a linear unit of the unit table.
bool ReadUnits(uint16_t* unit) {
  if (!TokExpect(kKwUnits)) return false;
  if (!TokIs(kTokString)) {
    TokError(kTokString);
    return false;
  }
  char name[64];
  StrCopyPadded(name, TokCurrentText(), sizeof name);
  TokNext();
  int code = 0;
  if (!UnitFromName(name, &code)) {
    Push(kErrUnknownUnit, name);
    return false;
  }
  if (!UnitIsLinear(code)) {
    Push(kErrUnitNotLinear, name);
    return false;
  }
  *unit = uint16_t(code);
  return true;
}

// A whole number of a value within [low, high]; false when it is none.
bool IntegerIn(const Value& v, double low, double high, int32_t* out) {
  double d = 0;
  if (!ValueToDouble(&v, &d, 0) || !(d >= low && d <= high)) return false;
  *out = int32_t(NumRound(d));
  return true;
}

// A unit value of the list: a unit name or a unit code.
bool UnitValue(const Value& v, uint16_t* unit) {
  int code = -1;
  if (v.kind == kValueText || v.kind == kValueBorrowedText || v.kind == kValueFixedText) {
    char name[64];
    ValueCopyText(name, &v, sizeof name);
    if (!UnitFromName(name, &code)) code = -1;
  } else {
    int32_t n = 0;
    if (IntegerIn(v, -1, 65535, &n)) code = n;
  }
  if (!UnitIsLinear(code)) {
    char text[64];
    ValueToText(&v, text, sizeof text, -1, 0);
    Push(kErrUnitNotLinear, text);
    return false;
  }
  *unit = uint16_t(code);
  return true;
}

void SetAffine(CoordSysParams* block, uint16_t unit, const double coefficients[6]) {
  block->flags |= kParamsAffine;
  block->affineUnit = unit;
  for (int i = 0; i < 6; ++i) block->affine[i] = Positive0(coefficients[i]);
}

bool InvertAffine(CoordSysParams* block) {
  if (AffineTransformInvert(block->affine, block->affineInverse)) return true;
  Push(kErrAffine);
  return false;
}

void SetNonEarth(CoordSysParams* block, uint16_t unit, uint8_t quadrant2) {
  CoordSysParamsClear(block);
  block->nonEarth.one = 1;
  block->nonEarth.quadrant = 1;
  block->nonEarth.unit = unit;
  block->nonEarth.quadrant2 = quadrant2;
}

// The values read after "Projection" turned into the record's fields.
struct ValueCursor {
  const Value* values;
  int count;
  int used = 0;
  double projectionValue = 0;
  bool exhausted = false;

  const Value* Next() {
    if (used >= count) {
      exhausted = true;
      return nullptr;
    }
    return &values[used++];
  }
  bool Number(double* out) {
    const Value* v = Next();
    *out = 0;
    if (!v) return false;
    if (!ValueToDouble(v, out, 0)) return false;
    *out = Positive0(*out);
    return true;
  }
};

bool CoordSysProjectionValues(const Value* values, int count, int16_t* projection,
                              CoordSysParams* block, DRect* bounds, bool* boundsGiven) {
  ValueCursor in{values, count};
  auto tooFew = [&]() {
    if (in.exhausted) PushNumber(kErrTooFewValues, in.projectionValue);
    return false;
  };
  const Value* first = in.Next();
  if (!first || !ValueToDouble(first, &in.projectionValue, 0)) return tooFew();
  int32_t p = 0;
  if (!IntegerIn(*first, -32768, 32767, &p)) {
    PushNumber(kErrProjection, in.projectionValue);
    return false;
  }
  bool withBounds = false, withAffine = false;
  if (p >= 2000) {
    p -= 2000;
    withBounds = true;
  }
  if (p >= 1000) {
    p -= 1000;
    withAffine = true;
  }
  if (!ProjectionNumberValid(p)) {
    PushNumber(kErrProjection, in.projectionValue);
    return false;
  }
  *projection = int16_t(p);
  if (p == 0) {
    const Value* v = in.Next();
    uint16_t unit = 0;
    if (!v) return tooFew();
    if (!UnitValue(*v, &unit)) return false;
    SetNonEarth(block, unit, 1);
  } else {
    const Value* v = in.Next();
    if (!v) return tooFew();
    if (p == 1) {
      CoordSysParamsDefault(block);
    } else {
      CoordSysParamsClear(block);
    }
    int32_t d = -1;
    IntegerIn(*v, -1, 65535, &d);
    if (d == kDatumCustom || d == kDatumCustomFull) {
      PXDatum& datum = block->datum;
      DatumRecordClear(&datum);
      const Value* e = in.Next();
      if (!e) return tooFew();
      int32_t ellipsoid = -1;
      if (!IntegerIn(*e, -1, 255, &ellipsoid) || !EllipsoidNumberValid(ellipsoid)) {
        char text[64];
        Push(kErrEllipsoid, ValueToText(e, text, sizeof text, -1, 0));
        return false;
      }
      datum.ellipsoid = uint8_t(ellipsoid);
      double* fields[] = {&datum.dx, &datum.dy, &datum.dz, &datum.rx, &datum.ry,
                          &datum.rz, &datum.scale, &datum.primeMeridian};
      int n = d == kDatumCustom ? 3 : 8;
      for (int i = 0; i < n; ++i) {
        if (!in.Number(fields[i])) return tooFew();
      }
    } else {
      if (!DatumNumberValid(d)) {
        char text[64];
        Push(kErrDatum, ValueToText(v, text, sizeof text, -1, 0));
        return false;
      }
      DatumRecordGet(d, &block->datum);
    }
    if (p >= 2) {
      const Value* u = in.Next();
      if (!u) return tooFew();
      if (!UnitValue(*u, &block->projectedUnit)) return false;
      for (int i = 0; i < ProjectionFamily(p); ++i) {
        if (!in.Number(&block->params[i])) return tooFew();
      }
    }
  }
  if (withAffine) {
    const Value* u = in.Next();
    uint16_t unit = 0;
    if (!u) return tooFew();
    if (!UnitValue(*u, &unit)) return false;
    double c[6];
    for (double& x : c) {
      if (!in.Number(&x)) return tooFew();
    }
    SetAffine(block, unit, c);
    if (!InvertAffine(block)) return false;
  }
  if (withBounds) {
    double b[4];
    for (double& x : b) {
      if (!in.Number(&x)) return tooFew();
    }
    *bounds = DRect{b[0], b[1], b[2], b[3]};
    DRectNormalize(bounds);
    *boundsGiven = true;
  }
  if (in.used < count) {
    PushNumber(kErrTooManyValues, in.projectionValue);
    return false;
  }
  return true;
}

// Reads the values after "Projection": each an expression, followed by ","
// when another one comes. A 30th value is refused without being stored.
bool ReadValueList(Value* values, int* count) {
  *count = 0;
  for (;;) {
    if (*count == kMaxListValues) {
      double p = 0;
      if (!CheckOnly()) ValueToDouble(&values[0], &p, 0);
      PushNumber(kErrTooManyValues, p);
      return false;
    }
    if (!ReadValue(&values[*count])) {
      ValueFree(&values[*count]);
      return false;
    }
    ++*count;
    if (!TokenIsKeyword(kKwComma)) return true;
    TokNext();
  }
}

// "Affine Units "unit", A, B, C, D, E, F" after its keyword.
bool ReadAffinePart(CoordSysParams* block) {
  uint16_t unit = 0;
  if (!ReadUnits(&unit)) return false;
  double c[6];
  for (double& x : c) {
    if (!ExpectComma() || !ReadNumber(&x)) return false;
  }
  if (CheckOnly()) return true;
  SetAffine(block, unit, c);
  return InvertAffine(block);
}

// "(x1, y1) (x2, y2)" after "Bounds".
bool ReadBoundsPart(DRect* out) {
  double b[4];
  for (int corner = 0; corner < 2; ++corner) {
    if (!TokExpect(kKwOpen) || !ReadNumber(&b[2 * corner]) || !ExpectComma() ||
        !ReadNumber(&b[2 * corner + 1]) || !TokExpect(kKwClose)) {
      return false;
    }
  }
  *out = DRect{b[0], b[1], b[2], b[3]};
  DRectNormalize(out);
  return true;
}

// The values of a list, freed also when a trapped fatal error unwinds.
struct ValueList {
  Value values[kMaxListValues];
  int count = 0;
  ~ValueList() {
    for (int i = 0; i < count; ++i) ValueFree(&values[i]);
  }
};

// A nested parse of a text: the outer parser state comes back and the text's
// input is dropped however the parse ends.
class NestedParse {
 public:
  explicit NestedParse(const char* text) {
    SettingsSnapshotSave(&saved_);
    SetParseMode(0);
    TokBeginText(text);
  }
  ~NestedParse() {
    TokEnd();
    SettingsSnapshotRestore(&saved_);
  }
  NestedParse(const NestedParse&) = delete;
  NestedParse& operator=(const NestedParse&) = delete;

 private:
  SettingsSnapshot saved_;
};

}  // namespace

bool CoordSysClauseParse(int16_t* projection, CoordSysParams* block, DRect* bounds) {
  const bool check = CheckOnly();
  int16_t p = 0;
  CoordSysParams work;
  CoordSysParamsClear(&work);
  DRect given{};
  bool boundsGiven = false;
  bool nonEarth = false;

  if (TokIs(kKwEarth)) {
    TokNext();
    if (TokIs(kKwProjection)) {
      TokNext();
      ValueList list;
      bool ok = ReadValueList(list.values, &list.count);
      if (ok && !check) {
        ok = CoordSysProjectionValues(list.values, list.count, &p, &work, &given, &boundsGiven);
      }
      if (!ok) return false;
    } else {
      p = 1;
      CoordSysParamsDefault(&work);
    }
  } else if (TokIs(kKwNonEarth) || TokenIsKeyword(kKwLayout)) {
    bool layout = TokenIsKeyword(kKwLayout);
    TokNext();
    uint16_t unit = 0;
    if (!ReadUnits(&unit)) return false;
    p = 0;
    SetNonEarth(&work, unit, layout ? kLayoutQuadrant : 1);
    nonEarth = !layout;
  } else {
    TokError(kKwEarth);
    return false;
  }

  if (TokIs(kKwAffine)) {
    TokNext();
    if (!ReadAffinePart(&work)) return false;
  }
  if (TokIs(kKwBounds)) {
    TokNext();
    if (!ReadBoundsPart(&given)) return false;
    boundsGiven = true;
  } else if (nonEarth && bounds) {
    TokError(kKwBounds);
    return false;
  }
  if (TokIs(kKwSupportMZ)) {
    TokNext();
    work.word246 = 1;
  }
  if (check) return true;

  *projection = p;
  std::memcpy(block, &work, sizeof work);
  if (bounds) {
    if (boundsGiven) {
      *bounds = given;
    } else {
      ProjectionDefaultBounds(p, &work, bounds);
    }
  }
  return true;
}

bool CoordSysParseText(CoordSys* out, const char* text, bool wantBounds) {
  if (!text) return false;
  int16_t projection = 0;
  CoordSysParams block;
  DRect bounds{};
  bool ok;
  {
    NestedParse nested(text);
    if (TokIs(kKwCoordSys)) TokNext();
    ok = CoordSysClauseParse(&projection, &block, wantBounds ? &bounds : nullptr);
  }
  if (ok) {
    CoordSysInit(out, projection, &block);
    if (wantBounds) CoordSysSetBounds(out, bounds.x1, bounds.y1, bounds.x2, bounds.y2);
  }
  ErrorClear();
  return ok;
}

namespace {

// Appends formatted pieces, never past the buffer; remembers running out.
class ClauseText {
 public:
  ClauseText(char* text, size_t size) : text_(text), size_(size) {
    if (size_) text_[0] = 0;
    fits_ = size_ > 0;
  }
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!fits_) return;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text_ + used_, size_ - used_, format, args);
    va_end(args);
    if (n < 0 || size_t(n) >= size_ - used_) {
      fits_ = false;
      used_ = size_ - 1;
      return;
    }
    used_ += size_t(n);
  }
  bool fits() const { return fits_; }

 private:
  char* text_;
  size_t size_;
  size_t used_ = 0;
  bool fits_;
};

// The shortest fixed form with twelve decimals: 45.500000000000 becomes 45.5
// and 3.000000000000 becomes 3.
const char* Compact(double x, char* buffer, size_t size) {
  std::snprintf(buffer, size, "%.12f", x + 0.0);
  if (std::strchr(buffer, '.')) {
    size_t n = std::strlen(buffer);
    while (n > 0 && buffer[n - 1] == '0') buffer[--n] = 0;
    if (n > 0 && buffer[n - 1] == '.') buffer[--n] = 0;
  }
  if (std::strcmp(buffer, "-0") == 0) std::strcpy(buffer, "0");
  return buffer;
}

const char* UnitText(int code, char* buffer, size_t size) {
  if (!UnitIsValid(code)) {
    buffer[0] = 0;
    return buffer;
  }
  UnitName(code, buffer, size);
  return buffer;
}

}  // namespace

bool CoordSysWriteClause(const CoordSys* cs, char* text, size_t size, bool withBounds) {
  ClauseText out(text, size);
  char unit[64];
  char number[400];
  const CoordSysParams& block = cs->params;
  if (cs->projection >= 1) {
    int datum = 0;
    if (DatumNumberFind(&block.datum, &datum)) {
      out.Add("CoordSys Earth Projection %d, %d", cs->projection, datum);
    } else {
      const PXDatum& d = block.datum;
      out.Add("CoordSys Earth Projection %d, %d", cs->projection, kDatumCustomFull);
      out.Add(", %d, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g, %.12g", d.ellipsoid,
              d.dx + 0.0, d.dy + 0.0, d.dz + 0.0, d.rx + 0.0, d.ry + 0.0, d.rz + 0.0,
              d.scale + 0.0, d.primeMeridian + 0.0);
    }
    if (cs->projection >= 2) {
      out.Add(", \"%s\"", UnitText(block.projectedUnit, unit, sizeof unit));
      for (int i = 0; i < ProjectionFamily(cs->projection); ++i) {
        out.Add(", %s", Compact(block.params[i], number, sizeof number));
      }
    }
  } else if (CoordSysIsLayout(cs)) {
    out.Add("CoordSys Layout Units \"%s\"", UnitText(block.nonEarth.unit, unit, sizeof unit));
    return out.fits();
  } else {
    out.Add("CoordSys NonEarth Units \"%s\"", UnitText(block.nonEarth.unit, unit, sizeof unit));
  }
  if (block.flags & kParamsAffine) {
    out.Add(" Affine Units \"%s\"", UnitText(block.affineUnit, unit, sizeof unit));
    for (double c : block.affine) out.Add(", %s", Compact(c, number, sizeof number));
  }
  if (withBounds) {
    DRect r;
    CoordSysBoundsInUnits(cs, &r, CoordSysUnits(cs));
    DRectNormalize(&r);
    bool whole = cs->projection == 1 && r.x1 == -360 && r.y1 == -90 && r.x2 == 360 && r.y2 == 90;
    if (!whole) {
      // a corner computed as -0.0 is written as 0
      out.Add(" Bounds (%.12g, %.12g) (%.12g, %.12g)", r.x1 + 0.0, r.y1 + 0.0, r.x2 + 0.0,
              r.y2 + 0.0);
    }
  }
  return out.fits();
}

}  // namespace layerio
