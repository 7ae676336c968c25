#include "boundary/readtab.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "readtab";
constexpr const char* kRowsFailedFormat = "\nUPDATE:\tcan not get number of rows.\n\tError #%d.\n";
constexpr const char* kFieldsFailedFormat =
    "\nUPDATE:\tcan not get number of fields.\n\tError #%d.\n";
constexpr const char* kFieldInfoFailedFormat =
    "\nUPDATE:\tcan not get field information.\n\tError #%d.\n";
constexpr const char* kOpenFailedFormat = "\nUPDATE:\tcan not open %s.\n\tError #%d.\n";
constexpr const char* kFetchFailedFormat = "\nUPDATE:\tcan not fetch row #%lu of %s.\n\tError #%d.\n";
constexpr const char* kLonLatFailedFormat =
    "\nUPDATE:\tcan not set up longitude and latitude.\n\tError #%d.\n";
constexpr const char* kConvertFailedText = "The object cannot be converted to longitude and latitude.";
constexpr const char* kMemoryText = "\nSEARCH:\tmemory allocation error.\n";
constexpr const char* kInvalidObjectText = "Invalid object record.";

void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Debug(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  StrFormatV(text, sizeof text, format, args);
  va_end(args);
  platform::Env::Current().DebugOutput(text);
}

template <class T>
T FieldAt(const PXObject& object, size_t offset) {
  T value;
  std::memcpy(&value, object.u.bytes + offset, sizeof value);
  return value;
}

// The library's points as the (x, y) pairs they are laid out as.
const double* Doubles(const PXPoint* points) {
  static_assert(sizeof(PXPoint) == 2 * sizeof(double));
  return reinterpret_cast<const double*>(points);
}

}  // namespace

LayerioEntries LayerioLibraryEntries() {
  return {PXInitialize,      PXOpenTable,    PXGetRowCount, PXGetLastError,
          PXGetFieldCount,   PXGetObjectCounts, PXGetFieldInfo, PXFetchRow,
          PXCloseTable,      PXShutdown,     PXGetTableCoordSys, PXParseCoordSys,
          PXConvertObject};
}

LayerioEntries& TabReadEntries() {
  static LayerioEntries entries = LayerioLibraryEntries();
  return entries;
}

TABRead::TABRead(BoundaryBuilder& builder, const char* path, const char* idField,
                 const char* secondField)
    : ImportRead(builder), entries_(TabReadEntries()), path_(path ? path : "") {
  ok_ = false;
  initialised_ = entries_.initialize(PX_INTERFACE_NUMBER) != 0;
  table_ = entries_.openTable(path_.c_str(), PX_OPEN_READ);
  if (!table_) {
    Report(kOpenFailedFormat, __LINE__);
    return;
  }
  if (!entries_.getRowCount(table_, &rows_)) {
    Trouble(Q_ERROR_EMPTY, kRowsFailedFormat, __LINE__);
    return;
  }
  Debug("number of rows     = %d\n", int(rows_));
  uint32_t fieldCount = 0;
  if (!entries_.getFieldCount(table_, &fieldCount)) {
    Trouble(Q_ERROR_EMPTY, kFieldsFailedFormat, __LINE__);
    return;
  }
  Debug("number of fields   = %d\n", int(fieldCount));
  uint32_t points = 0, lines = 0, regions = 0;
  entries_.getObjectCounts(table_, &points, &lines, &regions);
  Debug("Number of Points   = %d\n", int(points));
  Debug("Number of Lines    = %d\n", int(lines));
  Debug("Number of Polygons = %d\n\n", int(regions));
  try {
    fields_.assign(fieldCount, PXFieldInfo{});
    text_.assign(PX_ROW_TEXT_SIZE + 1, '\0');
  } catch (const std::bad_alloc&) {
    Debug("%s", kMemoryText);
    error_.Report(Q_ERROR_MEMORY, kMemoryText, kSource, __LINE__);
    return;
  }
  if (fieldCount > 0 && !entries_.getFieldInfo(table_, fields_.data())) {
    Trouble(Q_ERROR_EMPTY, kFieldInfoFailedFormat, __LINE__);
    return;
  }
  for (PXFieldInfo& field : fields_) {
    field.name[sizeof field.name - 1] = '\0';
    Debug("field %d name : %s/n", int(&field - fields_.data()), field.name);
  }
  // Without a map part there is no object to place; a non-earth one cannot
  // be placed at all.
  if (entries_.getTableCoordSys(table_, &tableSystem_)) {
    uint16_t projection = 0;
    std::memcpy(&projection, tableSystem_.u.bytes + PX_COORDSYS_PROJECTION, sizeof projection);
    if (projection == 0) {
      char text[kQErrorDetailSize];
      StrFormat(text, sizeof text, kTabNonEarthFormat, path_.c_str());
      Debug("%s", text);
      error_.Report(Q_ERROR_INVALID_DATA, text, kSource, __LINE__);
      return;
    }
    if (!entries_.parseCoordSys(kTabLonLatClause, &lonLat_)) {
      Trouble(Q_ERROR_EMPTY, kLonLatFailedFormat, __LINE__);
      return;
    }
    convert_ = true;
  }
  ChooseColumns(
      fields_.size(), [&](size_t i) { return fields_[i].name; }, idField, secondField,
      kTabIdNullText, kTabIdNotFoundText, &idColumn_, &secondColumn_);
  ok_ = true;
}

TABRead::~TABRead() {
  if (table_) entries_.closeTable(table_);
  if (initialised_) entries_.shutdown();
}

void TABRead::Trouble(int32_t code, const char* format, int line) {
  char text[kQErrorDetailSize];
  StrFormat(text, sizeof text, format, int(entries_.getLastError()));
  Debug("%s", text);
  error_.Report(code, text, kSource, line);
  ok_ = false;
}

void TABRead::Report(const char* format, int line, unsigned long row) {
  char text[kQErrorDetailSize];
  const int32_t error = entries_.getLastError();
  if (row)
    StrFormat(text, sizeof text, format, row, path_.c_str(), int(error));
  else
    StrFormat(text, sizeof text, format, path_.c_str(), int(error));
  Debug("%s", text);
  error_.Report(Q_ERROR_EMPTY, text, kSource, line);
  ok_ = false;
}

uint32_t TABRead::Progress() const {
  return rows_ == 0 ? 0 : uint32_t(uint64_t(row_) * 100 / rows_);
}

bool TABRead::ReadNext() {
  if (row_ >= rows_) {
    status_ = kReadEnded;
    return true;
  }
  ++row_;
  count_ = int32_t(row_);
  std::memset(&object_, 0, sizeof object_);
  text_[0] = '\0';
  if (!entries_.fetchRow(table_, row_, text_.data(), &object_)) {
    Report(kFetchFailedFormat, __LINE__, static_cast<unsigned long>(row_));
    return false;
  }
  text_[PX_ROW_TEXT_SIZE] = '\0';

  // The values, split at TAB: a text value stands in double quotes with
  // each double quote doubled, and is taken without them and with each
  // doubled quote made one (as the table library reads its row text). Made
  // in place: a value is never longer than its text.
  std::vector<const char*>& values = values_;
  values.clear();
  if (text_[0] != '\0') {
    char* out = text_.data();
    const char* p = text_.data();
    values.push_back(out);
    for (;;) {
      if (*p == '"') {
        for (++p; *p != '\0' && !(*p == '"' && p[1] != '"'); ++p) {
          if (*p == '"') ++p;  // the first of a doubled quote
          *out++ = *p;
        }
        if (*p == '"') ++p;
      }
      while (*p != '\0' && *p != '\t') *out++ = *p++;
      if (*p != '\t') break;
      ++p;
      *out++ = '\0';
      values.push_back(out);
    }
    *out = '\0';
  }
  if (values.size() > fields_.size()) {
    error_.Report(Q_ERROR_INVALID_DATA, kTabInvalidRecordText, kSource, __LINE__);
    return false;
  }
  auto value = [&](int32_t column) {
    return column >= 0 && size_t(column) < values.size() ? values[size_t(column)] : "";
  };
  char name2[kGsbNameSize];
  TakeName(name_, value(idColumn_));
  TakeName(name2, value(secondColumn_));
  return StoreObject(name2);
}

bool TABRead::StoreObject(const char* name2) {
  const uint32_t record = row_;
  uint8_t code = object_.u.bytes[0];
  const bool placed = code != 0 && code != PX_OBJECT_NONE;
  if (convert_ && placed) {
    if (!entries_.convertObject(&object_, &tableSystem_, &converted_, &lonLat_))
      return RecordError(kConvertFailedText, path_, long(record), __LINE__);
    // The converted record points into the library's arrays until the next
    // conversion; it is stored before then.
    object_ = converted_;
    code = object_.u.bytes[0];
  }
  status_ = kReadStored;
  switch (code) {
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT:
    {
      const double xy[2] = {FieldAt<double>(object_, PX_OBJECT_X),
                            FieldAt<double>(object_, PX_OBJECT_Y)};
      return StoreDoublePoint(xy, name2, record, path_);
    }
    case PX_OBJECT_LINE: {
      const double xy[4] = {
          FieldAt<double>(object_, PX_OBJECT_X), FieldAt<double>(object_, PX_OBJECT_Y),
          FieldAt<double>(object_, PX_OBJECT_X2), FieldAt<double>(object_, PX_OBJECT_Y2)};
      return StoreDoubleLine(xy, name2, record, path_);
    }
    case PX_OBJECT_POLYLINE:
    case PX_OBJECT_MULTI_POLYLINE:
    case PX_OBJECT_REGION:
      break;
    default:
      status_ = kReadSkipped;
      return true;
  }

  // The parts: one for a single-section polyline, else the section array.
  const int32_t count = FieldAt<int32_t>(object_, PX_OBJECT_COUNT);
  std::vector<DoublePart>& parts = parts_;
  parts.clear();
  if (code == PX_OBJECT_POLYLINE) {
    const auto* points = FieldAt<const PXPoint*>(object_, PX_OBJECT_POLYLINE_POINTS);
    if (count < 0 || (count > 0 && !points))
      return RecordError(kInvalidObjectText, path_, long(record), __LINE__);
    parts.push_back({uint32_t(count), Doubles(points)});
  } else {
    const auto* sections = FieldAt<const PXSection*>(
        object_, code == PX_OBJECT_REGION ? PX_OBJECT_REGION_POLYGONS
                                          : PX_OBJECT_MULTI_POLYLINE_SECTIONS);
    if (count < 0 || (count > 0 && !sections))
      return RecordError(kInvalidObjectText, path_, long(record), __LINE__);
    for (int32_t i = 0; i < count; ++i) {
      if (sections[i].count < 0 || (sections[i].count > 0 && !sections[i].points))
        return RecordError(kInvalidObjectText, path_, long(record), __LINE__);
      parts.push_back({uint32_t(sections[i].count), Doubles(sections[i].points)});
    }
  }

  int32_t result;
  if (code == PX_OBJECT_REGION) {
    QPolygonRegion region(builder_, name_, name2, 0);
    result = StoreDoubleParts(region, parts.data(), parts.size(), true, record, path_);
  } else if (code == PX_OBJECT_MULTI_POLYLINE) {
    QPolygonMultiPline line(builder_, name_, name2);
    result = StoreDoubleParts(line, parts.data(), parts.size(), false, record, path_);
  } else {
    QPolygonLine line(builder_, name_, name2, 0);
    result = StoreDoubleParts(line, parts.data(), parts.size(), false, record, path_);
  }
  status_ = result;
  return result != kReadFailed;
}
