#include "boundary/readshp.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "base/prjname.h"
#include "base/qerror.h"
#include "base/qstring.h"
#include "boundary/shapefile.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "readshp";
constexpr const char* kTableEndsText = "The .dbf file has fewer records than the .shp file.";
constexpr const char* kShapesEndText =
    "The .shp file ends before record %ld; its .shx file lists %ld records.";

}  // namespace

SHPRead::SHPRead(BoundaryBuilder& builder, const char* base, const char* idField,
                 const char* secondField)
    : ImportRead(builder), path_(std::string(base ? base : "") + ".shp") {
  // The main file first: a missing shapefile is named as such, not by its
  // companion.
  if (ShapeOpen(&shapes_, base) != 0 || dbOpen(&table_, base) != 0) {
    Failure(__LINE__);
    return;
  }
  ChooseColumns(
      table_.fieldCount, [&](size_t i) { return table_.fields[i].name; }, idField, secondField,
      kShpIdNullText, kShpIdNotFoundText, &idColumn_, &secondColumn_);
  prj_ = platform::Env::Current().ResolveExisting(std::string(base ? base : "") + ".prj");
  projected_ = PrjProjectedSystemName(prj_);
}

SHPRead::~SHPRead() {
  ShapeClose(&shapes_);
  dbClose(&table_);
}

bool SHPRead::Failure(int line) {
  error_.Report(Q_ERROR_EMPTY, ShapeLastError(), kSource, line);
  ok_ = false;
  return false;
}

uint32_t SHPRead::Progress() const {
  if (shapes_.recordCount == 0) return 0;
  const uint64_t percent = uint64_t(count_) * 100 / shapes_.recordCount;
  return uint32_t(percent > 100 ? 100 : percent);
}

void SHPRead::FieldText(int32_t column, char* to) const {
  if (column < 0 || uint32_t(column) >= table_.fieldCount) {
    to[0] = '\0';
    return;
  }
  const DbfField& field = table_.fields[column];
  char text[kGsbNameSize];
  switch (field.type) {
    case DBF_CHARACTER:
    case DBF_DATE:
    case DBF_MEMO:
      StrFormat(text, sizeof text, "%.*s", int(strnlen(field.value.text, sizeof field.value.text)),
                field.value.text);
      break;
    case DBF_NUMERIC:
    case DBF_FLOAT:
      StrFormat(text, sizeof text, "%f", field.value.number);
      break;
    case DBF_LOGICAL:
      StrFormat(text, sizeof text, "%d", int(field.value.logical));
      break;
    default:
      StrFormat(text, sizeof text, "Unknown");
      break;
  }
  TakeName(to, text);
}

bool SHPRead::ReadNext() {
  if (!projected_.empty()) {
    char text[kGsbNameSize + 512];
    StrFormat(text, sizeof text, kShpProjectedFormat, prj_.c_str(), projected_.c_str());
    error_.Report(Q_ERROR_EMPTY, text, kSource, __LINE__);
    return false;
  }
  const int shape = ShapeRead(&shapes_);
  if (shape == 1) {
    // A main file cut at a record's end reads as a shorter input; the index
    // still counts the records that are gone.
    if (uint32_t(count_) < shapes_.recordCount) {
      char text[160];
      StrFormat(text, sizeof text, kShapesEndText, long(count_) + 1, long(shapes_.recordCount));
      return RecordError(text, path_, long(count_) + 1, __LINE__);
    }
    status_ = kReadEnded;
    return true;
  }
  if (shape != 0) return Failure(__LINE__);
  const int row = dbRead(&table_);
  if (row < 0) return Failure(__LINE__);
  if (row > 0) return RecordError(kTableEndsText, path_, long(count_) + 1, __LINE__);
  ++count_;
  FieldText(idColumn_, name_);
  char name2[kGsbNameSize];
  FieldText(secondColumn_, name2);
  return StoreShape(name2, uint32_t(count_));
}

bool SHPRead::StoreShape(const char* name2, uint32_t record) {
  status_ = kReadStored;
  switch (shapes_.shapeType) {
    case SHAPE_POINT:
      return StoreDoublePoint(shapes_.points, name2, record, path_);
    case SHAPE_POLYLINE:
    case SHAPE_POLYGON:
      break;
    default:
      status_ = kReadSkipped;
      return true;
  }
  // The parts are copied out: the handle's records are packed.
  std::vector<DoublePart> parts(shapes_.partCount);
  for (uint32_t i = 0; i < shapes_.partCount; ++i)
    parts[i] = {shapes_.parts[i].count, shapes_.parts[i].points};
  int32_t result;
  if (shapes_.shapeType == SHAPE_POLYGON) {
    QPolygonRegion region(builder_, name_, name2, 0);
    result = StoreDoubleParts(region, parts.data(), parts.size(), true, record, path_);
  } else if (parts.size() == 1 && parts[0].count == 2) {
    return StoreDoubleLine(parts[0].xy, name2, record, path_);
  } else {
    QPolygonLine line(builder_, name_, name2, 0);
    result = StoreDoubleParts(line, parts.data(), parts.size(), true, record, path_);
  }
  status_ = result;
  return result != kReadFailed;
}
