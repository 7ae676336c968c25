#include "boundary/fieldid.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "boundary/dllist.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "fieldid";
// The error locations (source line numbers) its failures show, one per failure.
constexpr int kLineNoRecord = 226;
constexpr int kLinePrint = 262;
constexpr int kLineNoDescriptions = 287;
constexpr int kLineNoValue = 305;
constexpr const char* kNoRecordText = "Must perform a valid DlFileSearch before retrieving data.";
constexpr const char* kNoDescriptionsText = "There are no descriptions for this field";
constexpr const char* kNoValueText = "Value information not found";
// Width and precision of a caller's conversion: at most this many digits.
constexpr int kFormatDigits = 3;

// 10 to the power n as a double (n small).
double PowerOfTen(uint32_t n) {
  double p = 1;
  for (uint32_t i = 0; i < n && i < 400; ++i) p *= 10;
  return p;
}

// The decimal number a text starts with (blanks first), read the same
// whatever the host's locale; false when it holds none.
bool ReadDouble(const char* text, double* out) {
  while (platform::AsciiIsSpace(*text)) ++text;
  if (*text == '+') ++text;
  auto [end, ec] = std::from_chars(text, text + std::strlen(text), *out);
  return ec == std::errc() && end != text;
}

}  // namespace

bool DlFormatFits(const char* format, uint32_t type, int* length, char* conversion) {
  int conversions = 0;
  for (const char* p = format; p && *p; ++p) {
    if (*p != '%') continue;
    if (*++p == '%') continue;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    for (int digits = 0; platform::AsciiIsDigit(*p); ++p)
      if (++digits > kFormatDigits) return false;
    if (*p == '.') {
      ++p;
      for (int digits = 0; platform::AsciiIsDigit(*p); ++p)
        if (++digits > kFormatDigits) return false;
    }
    int l = 0;
    if (*p == 'l') {
      ++p;
      l = 1;
      if (*p == 'l') {
        ++p;
        l = 2;
      }
    }
    const char c = *p;
    if (c == '\0') return false;
    bool fits = type == kGsaTypeNumber ? std::strchr("diuxXo", c) != nullptr
                                       : type == kGsaTypeText && c == 's' && l == 0;
    if (!fits) return false;
    ++conversions;
    *length = l;
    *conversion = c;
  }
  return conversions == 1;
}

FieldId::FieldId(const GsaFieldEntry& entry, std::vector<GsaValueRecord> values, DLFile& file,
                 QError& error)
    : entry_(entry), values_(std::move(values)), file_(file), error_(error) {}

bool FieldId::NoRecord() {
  error_.Record(Q_ERROR_EMPTY, kNoRecordText, kSource, kLineNoRecord);
  return false;
}

int64_t FieldId::CurrentEntry() {
  if (!current_) {
    NoRecord();
    return -1;
  }
  DLFilePage& page = file_.DataPage();
  const uint32_t number = QPositionPage(position_);
  if (page.Loaded() != int64_t(number) && !page.Load(file_.PagedFile(), number)) return -1;
  uint32_t entry = QPositionEntry(position_);
  if (entry == 0) entry = 1;  // the first record of a page may come as entry 0
  if (entry > page.EntryCount()) return page.Damaged("a record number lies past its records"), -1;
  return int64_t(entry) - 1;
}

bool FieldId::ReadText(std::string_view* text) {
  int64_t entry = CurrentEntry();
  if (entry < 0) return false;
  DLFilePage& page = file_.DataPage();
  DLTextColumn* column =
      entry_.type == kGsaTypeText && entry_.notColumn == 0 ? page.Text(entry_.column) : nullptr;
  if (!column) return page.Damaged("the field has no text column");
  return column->Get(uint32_t(entry) + 1, text) || page.Damaged("a text column cannot be decoded");
}

bool FieldId::ReadNumber(int32_t* value) {
  int64_t entry = CurrentEntry();
  if (entry < 0) return false;
  DLFilePage& page = file_.DataPage();
  PackedIntReader* reader =
      entry_.type == kGsaTypeNumber && entry_.notColumn == 0 ? page.Number(entry_.column) : nullptr;
  if (!reader) return page.Damaged("the field has no number column");
  *value = reader->Get(int32_t(entry));
  return !reader->Failed() || page.Damaged("a number column cannot be decoded");
}

int32_t FieldId::GetText(char* buffer, int32_t size) {
  std::string_view text;
  if (!ReadText(&text)) return 0;
  DlCopyText(buffer, size, text);
  return 1;
}

int32_t FieldId::GetNumber() {
  if (entry_.type != kGsaTypeNumber) return -1;
  int32_t value = 0;
  return ReadNumber(&value) ? value : 0;
}

int32_t FieldId::GetString(const char* format, char* buffer, int32_t size) {
  if (!current_) {
    NoRecord();
    return 0;
  }
  if (!buffer || size < 0) return 0;
  if (entry_.type != kGsaTypeText && entry_.type != kGsaTypeNumber) return 1;
  if (!format || !*format) {
    if (entry_.type == kGsaTypeText) return GetText(buffer, size);
    int32_t value = 0;
    if (!ReadNumber(&value)) return 0;
    char text[16];
    StrFormat(text, sizeof text, "%ld", long(value));
    DlCopyText(buffer, size, text);
    return 1;
  }
  if (std::strlen(format) >= 4 &&
      platform::AsciiEqualsIgnoreCase(std::string_view(format, 4), "SDES"))
    return Describe(true, buffer, size);
  if (std::strlen(format) >= 4 &&
      platform::AsciiEqualsIgnoreCase(std::string_view(format, 4), "LDES"))
    return Describe(false, buffer, size);
  if (std::strchr(format, '%')) return Print(format, buffer, size);
  return Describe(true, buffer, size);
}

int32_t FieldId::Print(const char* format, char* buffer, int32_t size) {
  int length = 0;
  char conversion = 0;
  if (!DlFormatFits(format, entry_.type, &length, &conversion)) {
    char detail[kQErrorDetailSize];
    StrFormat(detail, sizeof detail, "Format \"%.64s\" does not fit field %s", format, entry_.name);
    error_.Record(Q_ERROR_EMPTY, detail, kSource, kLinePrint);
    return 0;
  }
  // The format was checked above: one conversion of the type passed.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const size_t room = size_t(size) + 1;
  if (entry_.type == kGsaTypeText) {
    std::string_view text;
    if (!ReadText(&text)) return 0;
    std::snprintf(buffer, room, format, std::string(text).c_str());
    return 1;
  }
  int32_t value = 0;
  if (!ReadNumber(&value)) return 0;
  const bool isSigned = conversion == 'd' || conversion == 'i';
  if (length == 0) {
    isSigned ? std::snprintf(buffer, room, format, int(value))
             : std::snprintf(buffer, room, format, unsigned(value));
  } else if (length == 1) {
    isSigned ? std::snprintf(buffer, room, format, long(value))
             : std::snprintf(buffer, room, format, (unsigned long)(uint32_t(value)));
  } else {
    isSigned ? std::snprintf(buffer, room, format, (long long)value)
             : std::snprintf(buffer, room, format, (unsigned long long)(uint32_t(value)));
  }
#pragma GCC diagnostic pop
  return 1;
}

int32_t FieldId::Describe(bool shortText, char* buffer, int32_t size) {
  if (values_.empty()) {
    error_.Record(Q_ERROR_EMPTY, kNoDescriptionsText, kSource, kLineNoDescriptions);
    return 0;
  }
  // The description of the record whose value is the current value: the
  // same text, or for a number field the same number.
  const GsaValueRecord* match = nullptr;
  if (entry_.type == kGsaTypeText) {
    std::string_view text;
    if (!ReadText(&text)) return 0;
    for (const GsaValueRecord& r : values_)
      if (!match && text == r.value) match = &r;
  } else {
    int32_t value = 0;
    if (!ReadNumber(&value)) return 0;
    const double x = double(value) / PowerOfTen(entry_.decimals);
    double y = 0;
    for (const GsaValueRecord& r : values_)
      if (!match && ReadDouble(r.value, &y) && y == x) match = &r;
  }
  if (!match) {
    error_.Record(Q_ERROR_EMPTY, kNoValueText, kSource, kLineNoValue);
    return 0;
  }
  DlCopyText(buffer, size, shortText ? match->shortText : match->longText);
  return 1;
}

int32_t FieldId::GetAttribute(int32_t number, char* buffer, int32_t size) const {
  if (size < 0 || number < 0 || number > 10) return -1;
  const char* text = nullptr;
  switch (number) {
    case 0:
      text = entry_.name;
      break;
    case 1:
      text = entry_.longName;
      break;
    case 2:
      return int32_t(entry_.width);
    case 3:
      return int32_t(entry_.decimals);
    case 4:
      return int32_t(entry_.word340);
    case 5:
      text = entry_.text344;
      break;
    case 6:
      return -1;
    case 7:
      text = entry_.text44;
      break;
    case 8:
      text = entry_.text76;
      break;
    case 9:
      return int32_t(entry_.valueCount);
    default:
      return int32_t(entry_.type);
  }
  if (!buffer || size == 0) return 0;
  DlCopyText(buffer, size, text);
  return 1;
}

int32_t FieldId::GetValueAttribute(int32_t index, int32_t which, char* buffer, int32_t size) const {
  if (size < 1 || !buffer || index < 0 || size_t(index) >= values_.size()) return -1;
  const GsaValueRecord& r = values_[size_t(index)];
  switch (which) {
    case 0:
      DlCopyText(buffer, size, r.value);
      return 1;
    case 1:
      DlCopyText(buffer, size, r.shortText);
      return 1;
    case 2:
      DlCopyText(buffer, size, r.longText);
      return 1;
    default:
      return -1;
  }
}
