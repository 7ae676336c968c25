#include "builder/tablebuild.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/endian.h"
#include "base/iofile.h"
#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/gsabuild.h"
#include "platform/env.h"
#include "tables/qtablefr.h"
#include "tables/qtblado.h"
#include "tables/qtbldtxt.h"
#include "tables/qtblftxt.h"
#include "zonelib.h"

namespace {

constexpr int64_t kLongitudeLimit = 180000000;
constexpr int64_t kLatitudeLimit = 90000000;
constexpr double kDegreesBelow = 1000000.0;
constexpr size_t kNameLimit = 127;
constexpr size_t kFormatLineLimit = 255;

// The number a coordinate text holds: blanks around it, a sign, digits with
// a point, an exponent, and nothing else. Empty when the text holds no such
// number whole (a blank, "abc", "nan", "-79.2abc", "-79,5").
std::string_view CoordinateNumber(std::string_view text) {
  while (!text.empty() && platform::AsciiIsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && platform::AsciiIsSpace(text.back())) text.remove_suffix(1);
  size_t p = 0;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
  size_t digits = 0;
  while (p < text.size() && platform::AsciiIsDigit(text[p])) ++p, ++digits;
  if (p < text.size() && text[p] == '.') {
    ++p;
    while (p < text.size() && platform::AsciiIsDigit(text[p])) ++p, ++digits;
  }
  if (digits == 0) return {};
  if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
    size_t q = p + 1;
    if (q < text.size() && (text[q] == '+' || text[q] == '-')) ++q;
    if (q >= text.size() || !platform::AsciiIsDigit(text[q])) return {};
    while (q < text.size() && platform::AsciiIsDigit(text[q])) ++q;
    p = q;
  }
  return p == text.size() ? text : std::string_view();
}

// Why a coordinate text is no number, for the row's message; null when it
// is one.
const char* CoordinateFault(std::string_view text) {
  if (!CoordinateNumber(text).empty()) return nullptr;
  for (char c : text)
    if (!platform::AsciiIsSpace(c)) return "is not a number";
  return "is blank";
}

double ToDouble(std::string_view number) {
  if (!number.empty() && number[0] == '+') number.remove_prefix(1);
  double value = 0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value;
}

// x x 10^decimals rounded to a whole number, halves away from zero, from the
// decimal digits; false beyond the range any coordinate may take.
bool RoundScaled(const GsaDecimal& x, uint32_t decimals, int64_t* out) {
  uint64_t magnitude = 0;
  if (!GsaDecimalMagnitude(x, decimals, uint64_t(1) << 40, &magnitude)) return false;
  if (decimals < x.fraction.size() && x.fraction[decimals] >= '5') ++magnitude;
  *out = x.negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

// The text a record field holds.
std::string FieldText(CQmsRecord& record, int handle) {
  const CQmsVariant* value = record.GetFieldByHandle(handle);
  return value ? std::string(static_cast<const char*>(*value)) : std::string();
}

// The first line of the format file that holds "TYPE=" (upper-cased)
// decides between the fixed-width and the delimited table; null without
// such a line or file.
std::unique_ptr<CQmsTable> TextTableByFormat(const std::string& input) {
  const std::string format = CompanionPath(input, "fmt");
  QError error;
  QInputFile file(format.c_str(), error);
  if (file.InError()) return nullptr;
  char line[QInputFile::kMaxLine + 1];
  while (file.ReadLine(line, sizeof line) >= 0) {
    std::string upper(line, strnlen(line, kFormatLineLimit));
    for (char& c : upper) c = platform::AsciiUpper(c);
    if (upper.find("TYPE=") == std::string::npos) continue;
    if (upper.find("TYPE=FIXED") != std::string::npos)
      return std::make_unique<CQmsFixedTextTable>(input.c_str());
    return std::make_unique<CQmsDelimTextTable>(input.c_str());
  }
  return nullptr;
}

std::unique_ptr<CQmsTable> AccessTable(const std::string& input);

}  // namespace

bool ScalePoint(std::string_view longitude, std::string_view latitude, PointCoordinates* out) {
  GsaDecimal x, y;
  const std::string_view xText = CoordinateNumber(longitude), yText = CoordinateNumber(latitude);
  if (!GsaParseDecimal(xText, &x) || !GsaParseDecimal(yText, &y)) return false;
  const double lat = ToDouble(yText);
  if (!std::isfinite(lat) || !std::isfinite(ToDouble(xText))) return false;
  // Only the latitude tells degrees from millionths, for both values.
  const uint32_t decimals = (lat > -kDegreesBelow && lat < kDegreesBelow && lat != 0) ? 6 : 0;
  int64_t sx = 0, sy = 0;
  if (!RoundScaled(x, decimals, &sx) || !RoundScaled(y, decimals, &sy)) return false;
  if (std::llabs(sx) > kLongitudeLimit || std::llabs(sy) > kLatitudeLimit) return false;
  out->x = int32_t(sx);
  out->y = int32_t(sy);
  return true;
}

std::unique_ptr<CQmsTable> MakeInputTable(const std::string& input) {
  const std::string kind = InputKind(input);
  std::unique_ptr<CQmsTable> table;
  if (kind == "DBF") {
    table = std::make_unique<CQmsFolioRackTable>("", input.c_str());
  } else if (kind == "CSV") {
    table = std::make_unique<CQmsDelimTextTable>(input.c_str());
  } else if (kind == "TXT") {
    table = TextTableByFormat(input);
    if (!table) BuildPrint("Error: No format file with a TYPE line for %s.\n", input.c_str());
  } else if (kind == "MDB") {
    table = AccessTable(input);
  } else {
    BuildPrint("%s", kUnknownTableText);
  }
  return table;
}

namespace {

std::unique_ptr<CQmsTable> AccessTable(const std::string& input) {
  const std::string_view database = AccessDatabasePart(input);
  if (database.empty()) {
    BuildPrint("Error: An Access input is named database.mdb:table (%s).\n", input.c_str());
    return nullptr;
  }
  const std::string table = input.substr(database.size() + 1);
  return std::make_unique<CQmsAdoTable>(std::string(database).c_str(), table.c_str(),
                                        kAccessConnect);
}

}  // namespace

LedgerkitBuilder::~LedgerkitBuilder() {
  try {
    if (table_ && table_->IsOpen()) table_->Close();
  } catch (long) {
  }
}

bool LedgerkitBuilder::Open(uint32_t import, const char* input, const char* output) {
  ObjectBuilder::Open(import, input, output);
  return Guard("open the table " + InputPath(), [&] {
    table_ = MakeInputTable(InputPath());
    if (!table_) return false;
    if (!OpenInputTable(*table_, InputPath())) return false;
    return FindPointFields();
  });
}

bool LedgerkitBuilder::FindPointFields() {
  CQmsRecord record;
  table_->GetFields(record);
  auto first = [&](std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (int handle = record.GetFieldHandle(name); handle >= 0) return std::string(record.GetFieldName(handle));
    return std::string();
  };
  longitude_ = first({"LON", "LONGITUDE", "N_LON"});
  latitude_ = first({"LAT", "LATITUDE", "N_LAT"});
  if (longitude_.empty()) BuildPrint("%s", kNoLongitudeText);
  if (latitude_.empty()) BuildPrint("%s", kNoLatitudeText);
  if (IdField() && record.GetFieldHandle(IdField()) < 0) {
    std::string extension = InputKind(InputPath());
    for (char& c : extension) c = platform::AsciiLower(c);
    BuildPrintLogged(kIdNotFoundFormat, extension.c_str());
    std::vector<std::string> names;
    for (int i = 0; i < record.GetCount(); ++i) names.emplace_back(record.GetFieldName(i));
    PrintIdFields(IdField(), InputPath(), names);
  }
  return !longitude_.empty() && !latitude_.empty();
}

bool LedgerkitBuilder::InsertPoints(uint32_t import) {
  CQmsRecord record;
  table_->GetFields(record);
  const int lon = record.GetFieldHandle(longitude_.c_str());
  const int lat = record.GetFieldHandle(latitude_.c_str());
  // The coordinates are read from their texts, whatever the column's type.
  record.SetFieldTypeByHandle(lon, QMS_VARIANT_STRING);
  record.SetFieldTypeByHandle(lat, QMS_VARIANT_STRING);
  const int id = IdField() ? record.GetFieldHandle(IdField()) : -1;
  const int nameField = id >= 0 ? id : 0;
  table_->MoveFirst();
  unsigned long row = 0;
  while (!table_->AtEOF()) {
    ++row;
    table_->FillAllFieldValues(record);
    const std::string x = FieldText(record, lon), y = FieldText(record, lat);
    // A coordinate that is no number would put the point at 0 or at a
    // number cut from its text, while its attribute row says otherwise.
    for (const auto& [field, text] : {std::pair{&longitude_, &x}, std::pair{&latitude_, &y}}) {
      if (const char* fault = CoordinateFault(*text)) {
        BuildPrint(kCoordinateFaultFormat, field->c_str(), text->c_str(), row, InputPath().c_str(),
                   fault);
        return false;
      }
    }
    PointCoordinates point;
    if (!ScalePoint(x, y, &point)) {
      BuildPrint(
          "Error: Coordinates out of range in row %lu: longitude (%s), latitude (%s). "
          "Longitude must lie within 180 degrees and latitude within 90.\n",
          row, x.c_str(), y.c_str());
      return false;
    }
    pipObjectInfoStruct info{};
    const std::string name = FieldText(record, nameField);
    std::memcpy(info.name, name.data(), std::min(name.size(), kNameLimit));
    info.kind = PIP_OBJECT_POINT;
    info.x = point.x;
    info.y = point.y;
    if (pipImportInsert(import, &info, nullptr, nullptr, 0) == -1) {
      BuildPrint("%s", kInsertErrorText);
      PrintEngineError(Library());
      return false;
    }
    table_->MoveBy(1);
  }
  return true;
}

bool LedgerkitBuilder::CheckTableData() const {
  if (InputKind(InputPath()) == "DBF") return CheckDbaseRecords();
  // The delimited reader finds no row in such a file and would report an
  // empty success.
  if (!dynamic_cast<const CQmsDelimTextTable*>(table_.get())) return true;
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(InputPath(), &info) == 0 && info.size == 0) {
    BuildPrint(kEmptyTextFormat, InputPath().c_str());
    return false;
  }
  QError error;
  QInputFile file(InputPath().c_str(), error);
  if (!file.InError()) return true;
  BuildPrint(kNoLineEndFormat, InputPath().c_str());
  return false;
}

bool LedgerkitBuilder::CheckDbaseRecords() const {
  // The table reader stops quietly where the data ends, so rows the header
  // counts would be missing from both files.
  constexpr size_t kHeaderPrefix = 12;
  platform::Env& env = platform::Env::Current();
  const int fd = env.Open(InputPath(), platform::kRead);
  if (fd < 0) return true;  // the table's own open says why
  unsigned char header[kHeaderPrefix];
  const int64_t got = env.Read(fd, header, sizeof header);
  platform::FileInfo info;
  const bool stated = env.FileStat(fd, &info) == 0;
  env.Close(fd);
  if (got != int64_t(sizeof header) || !stated) return true;
  const uint32_t count = QLoadU32LE(header + 4);
  const uint64_t headerLength = QLoadU16LE(header + 8);
  const uint64_t recordLength = QLoadU16LE(header + 10);
  if (recordLength == 0 || uint64_t(info.size) >= headerLength + count * recordLength) return true;
  const uint64_t whole =
      uint64_t(info.size) > headerLength ? (uint64_t(info.size) - headerLength) / recordLength : 0;
  BuildPrint(kTableEndsFormat, InputPath().c_str(), (unsigned long long)whole, (unsigned long)count);
  return false;
}

bool LedgerkitBuilder::Build(uint32_t library, uint32_t import) {
  if (import == 0 || !table_) return false;
  const bool ok = CheckTableData() && Guard("read the table " + InputPath(),
                                            [&] { return InsertPoints(import); });
  return EndImport(library, import, ok);
}

bool LedgerkitBuilder::AttributeTable() {
  if (!table_ || !NameTempTable()) return false;
  return Guard(WriteTempAction(), [&] {
    TempAttributeTable target(TempTablePath());
    CQmsRecord fields;
    table_->GetFields(fields);
    if (!target.Create(fields)) return false;
    const bool ok = CopyRecords(*table_, target);
    target.Close();
    return ok;
  });
}
