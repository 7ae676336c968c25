#include "boundary/readpxf.h"

#include <cstring>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kLineDelimiters = " \t\n";
constexpr const char* kHeaderDelimiters = "( ,\t\n";
constexpr const char* kStyleDelimiters = "() ,\t\n";

constexpr const char* kBlankColumnText = "Blank line in columns section.";
constexpr const char* kBlankObjectText = "Blank line in object.";
constexpr const char* kSyntaxText = "Syntax error in object.";
constexpr const char* kTooLargeText = "Object too large";
constexpr const char* kTooManyRingsText = "Too many polygons in object.";

constexpr uint8_t kShortRowCode = 255;

bool Is(const char* token, const char* keyword) {
  return token && platform::AsciiEqualsIgnoreCase(token, keyword);
}

// A count of a PLINE or REGION clause or of a ring: digits only.
bool ParseCount(const char* token, int32_t* out) {
  return token && ParseScaledDecimal(token, 0, false, out) && *out >= 0 &&
         std::strpbrk(token, ".eE-") == nullptr;
}

}  // namespace

PXFRead::PXFRead(BoundaryBuilder& builder, const char* path, const char* nameField,
                 const char* nameField2)
    : ImportRead(builder) {
  pxf_ = std::make_unique<ImportLineReader>(error_, FileSetExtension(path ? path : "", ".PXF"));
  if (!pxf_->IsOpen()) {
    ok_ = false;
    return;
  }
  if (!nameField) Warn(kPxfNullNameFieldText, __LINE__);
  if (!ReadHeader(nameField, nameField2)) {
    ok_ = false;
    return;
  }
  pxd_ = std::make_unique<ImportLineReader>(error_, FileSetExtension(pxf_->Path(), ".PXD"));
  ok_ = pxd_->IsOpen();
}

PXFRead::~PXFRead() = default;

bool PXFRead::ReadHeader(const char* nameField, const char* nameField2) {
  const bool findName = nameField && *nameField;
  bool nameFound = false;
  bool name2Found = false;
  for (;;) {
    if (!pxf_->NextLine(true)) return false;
    const char* keyword = pxf_->NextToken(kHeaderDelimiters);
    if (Is(keyword, "DATA")) break;
    if (!Is(keyword, "COLUMNS")) continue;
    const int32_t columns = StrToInt(pxf_->NextToken(kHeaderDelimiters));
    for (int32_t column = 1; column <= columns; ++column) {
      if (!pxf_->NextLine(true)) return false;
      if (pxf_->LineIsBlank()) {
        pxf_->Fail(kBlankColumnText, __LINE__);
        return false;
      }
      const char* name = pxf_->NextToken(kHeaderDelimiters);
      // A line of delimiters only names no column.
      if (findName && Is(name, nameField)) {
        nameColumn_ = column;
        nameFound = true;
      }
      if (nameField2 && Is(name, nameField2)) {
        name2Column_ = column;
        name2Found = true;
      }
    }
  }
  if (findName && !nameFound) Warn(kPxfNameFieldNotFoundText, __LINE__);
  if (nameField2 && !name2Found) Warn(kPxfNameField2NotFoundText, __LINE__);
  return true;
}

bool PXFRead::ReadDataRow() {
  if (!pxd_->NextLine(true)) return false;
  const int32_t needed = name2Column_ > nameColumn_ ? name2Column_ : nameColumn_;
  name_[0] = '\0';
  name2_[0] = '\0';
  code_ = 0;
  for (int32_t column = 1; column <= needed; ++column) {
    const char* value = pxd_->NextField();
    if (!value) {
      code_ = kShortRowCode;
      break;
    }
    if (column == nameColumn_) TakeName(name_, value);
    if (column == name2Column_) TakeName(name2_, value);
  }
  return true;
}

bool PXFRead::ObjectError(const char* message, int line) {
  pxf_->Fail(message, line);
  return false;
}

bool PXFRead::NextCoordinate(int32_t* value) {
  const char* token = pxf_->NextToken(kLineDelimiters);
  if (token && ParseMillionths(token, value)) return true;
  return ObjectError(kSyntaxText, __LINE__);
}

bool PXFRead::AddCoordinateLines(QPolygonLine& object, int32_t points) {
  for (int32_t i = 0; i < points; ++i) {
    if (!pxf_->NextLine(true)) return false;
    if (pxf_->LineIsBlank()) return ObjectError(kBlankObjectText, __LINE__);
    int32_t x, y;
    if (!NextCoordinate(&x) || !NextCoordinate(&y)) return false;
    if (!object.AddPoint(x, y)) return ObjectError(kTooLargeText, __LINE__);
  }
  return true;
}

void PXFRead::Pending(std::unique_ptr<QPolygonObject> object) {
  ++count_;
  if (auto* point = dynamic_cast<QPolygonPoint*>(object.get()))
    point->SetSymbol(0, 0, uint32_t(count_));
  else if (auto* line = dynamic_cast<QPolygonLine*>(object.get()))
    line->SetPen(0, 0, uint32_t(count_));
  pending_ = std::move(object);
  status_ = kReadStored;
}

bool PXFRead::ReadPoint() {
  int32_t x, y;
  if (!NextCoordinate(&x) || !NextCoordinate(&y)) return false;
  if (!StorePending() || !ReadDataRow()) return false;
  Pending(std::make_unique<QPolygonPoint>(builder_, name_, name2_, code_, x, y));
  return true;
}

bool PXFRead::ReadLine() {
  int32_t x1, y1, x2, y2;
  if (!NextCoordinate(&x1) || !NextCoordinate(&y1) || !NextCoordinate(&x2) ||
      !NextCoordinate(&y2))
    return false;
  if (!StorePending() || !ReadDataRow()) return false;
  auto line =
      std::make_unique<QPolygonSingleLine>(builder_, name_, name2_, code_, x1, y1, x2, y2);
  Pending(std::move(line));
  return true;
}

bool PXFRead::ReadPline() {
  int32_t points;
  // A line needs a point; the count is checked before anything is stored.
  if (!ParseCount(pxf_->NextToken(kLineDelimiters), &points) || points == 0)
    return ObjectError(kSyntaxText, __LINE__);
  // The object before this one leaves the builder's arrays first.
  if (!StorePending() || !ReadDataRow()) return false;
  auto line = std::make_unique<QPolygonLine>(builder_, name_, name2_, code_);
  if (!AddCoordinateLines(*line, points)) return false;
  Pending(std::move(line));
  return true;
}

bool PXFRead::ReadRegion() {
  int32_t rings;
  if (!ParseCount(pxf_->NextToken(kLineDelimiters), &rings) || rings == 0)
    return ObjectError(kSyntaxText, __LINE__);
  if (!StorePending() || !ReadDataRow()) return false;
  auto region = std::make_unique<QPolygonRegion>(builder_, name_, name2_, code_);
  for (int32_t ring = 0; ring < rings; ++ring) {
    if (!pxf_->NextLine(true)) return false;
    if (pxf_->LineIsBlank()) return ObjectError(kBlankObjectText, __LINE__);
    int32_t points;
    if (!ParseCount(pxf_->NextToken(kLineDelimiters), &points))
      return ObjectError(kSyntaxText, __LINE__);
    if (!AddCoordinateLines(*region, points)) return false;
    if (!region->EndRing()) return ObjectError(kTooManyRingsText, __LINE__);
  }
  if (region->PointCount() == 0) return ObjectError(kSyntaxText, __LINE__);
  Pending(std::move(region));
  return true;
}

void PXFRead::ApplyStyle(const char* keyword) {
  if (!pending_) return;
  const uint32_t number = uint32_t(count_);
  auto* line = dynamic_cast<QPolygonLine*>(pending_.get());
  if (Is(keyword, "CENTER")) {
    int32_t x, y;
    const char* tx = pxf_->NextToken(kLineDelimiters);
    const char* ty = pxf_->NextToken(kLineDelimiters);
    // A label that cannot be read leaves the centre of the bounds.
    if (line && tx && ty && ParseMillionths(tx, &x) && ParseMillionths(ty, &y)) line->SetLabel(x, y);
    return;
  }
  int32_t values[3];
  for (int32_t& v : values) v = StrToInt(pxf_->NextToken(kStyleDelimiters));
  if (Is(keyword, "PEN")) {
    if (line) line->SetPen(uint8_t(values[0]), uint8_t(values[1]), number);
  } else if (Is(keyword, "BRUSH")) {
    if (auto* region = dynamic_cast<QPolygonRegion*>(pending_.get()))
      region->SetBrush(uint8_t(values[0]), uint32_t(values[1]), uint32_t(values[2]));
  } else if (Is(keyword, "SYMBOL")) {
    if (auto* point = dynamic_cast<QPolygonPoint*>(pending_.get()))
      point->SetSymbol(uint8_t(values[0]), uint8_t(values[2]), number);
  }
}

bool PXFRead::ReadNext() {
  while (pxf_->NextLine(false)) {
    const char* keyword = pxf_->NextToken(kLineDelimiters);
    if (!keyword) continue;
    if (Is(keyword, "POINT")) return ReadPoint();
    if (Is(keyword, "LINE")) return ReadLine();
    if (Is(keyword, "PLINE")) return ReadPline();
    if (Is(keyword, "REGION")) return ReadRegion();
    if (Is(keyword, "CENTER") || Is(keyword, "PEN") || Is(keyword, "BRUSH") ||
        Is(keyword, "SYMBOL")) {
      ApplyStyle(keyword);
      continue;
    }
    for (const char* skipped : {"RECT", "ROUNDRECT", "ELLIPSE", "ARC", "TEXT", "NONE"}) {
      if (!Is(keyword, skipped)) continue;
      if (!StorePending() || !ReadDataRow()) return false;
      status_ = kReadSkipped;
      return true;
    }
  }
  if (pxf_->Failed() || !StorePending()) return false;
  status_ = kReadEnded;
  return true;
}
