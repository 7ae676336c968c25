#include "boundary/dbfile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/calendar.h"
#include "base/qerror.h"
#include "boundary/shapestream.h"
#include "platform/env.h"

namespace {

// The widest number field whose text fits the number text with its NUL.
constexpr int kDbfNumberWidthMax = int(kDbfNumberText) - 1;
constexpr size_t kDbfHeaderLengthMax = 0xFFFF;

// "<path>.dbf" unless the path already ends so (exactly; ".DBF" gets the
// extension appended).
std::string DbfPath(const char* path) {
  size_t length = std::strlen(path);
  if (length > 4 && std::memcmp(path + length - 4, ".dbf", 4) == 0) return path;
  return std::string(path) + ".dbf";
}

bool IsNumberType(char type) { return type == DBF_NUMERIC || type == DBF_FLOAT; }

std::string FieldName(const DbfField& field) {
  return std::string(field.name, strnlen(field.name, 11));
}

void SetFormat(DbfField* field) {
  // The text is for callers; writing never runs it as a format, so a width
  // and decimals too long for it only shorten it.
  StrFormat(field->format, sizeof field->format, "%%%d.%df", int(field->width),
            int(field->decimals));
}

// The value of a number field as the C library's atof reads it: leading
// blanks skipped, the longest number taken, 0 when there is none.
double ParseNumber(const char* text, size_t width) {
  const char* end = text + width;
  while (text < end && platform::AsciiIsSpace(*text)) ++text;
  if (text < end && *text == '+') ++text;
  double value = 0.0;
  if (std::from_chars(text, end, value).ec != std::errc()) return 0.0;
  return value;
}

// The decimals of a caller's "%<width>.<decimals>f" print format, or -1.
int FormatDecimals(const char* format, size_t size) {
  std::string_view text(format, strnlen(format, size));
  size_t point = text.find('.');
  if (text.size() < 4 || text.front() != '%' || text.back() != 'f' || point == text.npos) return -1;
  int decimals = -1;
  auto [end, ec] =
      std::from_chars(text.data() + point + 1, text.data() + text.size() - 1, decimals);
  if (ec != std::errc() || end != text.data() + text.size() - 1) return -1;
  return decimals;
}

// value right-aligned in width characters with decimals, or as many fewer
// decimals as it takes to fit; false when even the whole number is wider.
bool FormatNumber(double value, int width, int decimals, char* out) {
  char text[400];
  for (int d = decimals; d >= 0; --d) {
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, d);
    if (ec != std::errc()) continue;
    size_t length = size_t(end - text);
    if (length <= size_t(width)) {
      std::memset(out, ' ', size_t(width) - length);
      std::memcpy(out + (size_t(width) - length), text, length);
      return true;
    }
  }
  return false;
}

// The local date as year - 1900, month, day.
void Today(uint8_t date[3]) {
  platform::Env& env = platform::Env::Current();
  int64_t utc = env.NowSeconds();
  int64_t local = utc + env.LocalOffset(utc);
  int64_t days = (local >= 0 ? local : local - 86399) / 86400;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  date[0] = uint8_t(std::clamp<int64_t>(year - 1900, 0, 255));
  date[1] = uint8_t(month);
  date[2] = uint8_t(day);
}

// Sum of widths plus the deletion byte, and the number fields' widths,
// against what the record and the number text can hold; -1 when they do not
// fit (reported under where).
int CheckFields(const char* where, const std::string& path, const DbfField* fields, uint32_t count,
                uint64_t recordLength) {
  uint64_t used = 1;
  for (uint32_t i = 0; i < count; ++i) {
    const DbfField& field = fields[i];
    if (IsNumberType(field.type) && field.width > kDbfNumberWidthMax)
      return ShapeFail(where, path + ": number field " + FieldName(field) + " is " +
                                  std::to_string(field.width) + " wide; at most " +
                                  std::to_string(kDbfNumberWidthMax) + " is supported");
    used += field.width;
  }
  if (used > recordLength)
    return ShapeFail(where, path + ": fields of " + std::to_string(used) +
                                " bytes do not fit the record length " +
                                std::to_string(recordLength));
  return 0;
}

}  // namespace

int dbOpenIntern(DbfHandle* handle, const char* path) {
  if (!handle || !path) return ShapeFail("dbOpen", "no handle or no path");
  std::string name = DbfPath(path);
  handle->writing = 0;
  handle->stream = ShapeStream::Open(name, ShapeStream::kRead);
  if (!handle->stream) return ShapeFailErrno(name.c_str());

  unsigned char header[kDbfHeaderSize];
  int64_t got = handle->stream->Read(header, sizeof header);
  if (got < 0) return ShapeFailErrno("dbOpen: fread", name);
  dbfheader::Header head;
  if (!dbfheader::DecodeHeader(header, size_t(got), &head))
    return ShapeFail("dbOpen: fread", name + ": header cut short");
  handle->version = head.version;
  std::memcpy(handle->updated, head.updated, 3);
  handle->recordCount = head.recordCount;
  handle->headerLength = head.headerLength;
  handle->recordLength = head.recordLength;

  int fieldCount = (int(handle->headerLength) - 1) / int(kDbfDescriptorSize) - 1;
  if (fieldCount <= 0)
    return ShapeFail("dbOpen", name + ": header length " + std::to_string(handle->headerLength) +
                                   " leaves no room for a field");
  handle->record = static_cast<char*>(std::calloc(size_t(handle->recordLength) + 1, 1));
  handle->fields = static_cast<DbfField*>(std::calloc(size_t(fieldCount), sizeof(DbfField)));
  if (!handle->record || !handle->fields) return ShapeFailErrno("dbOpen: _CALLOC", name);

  // The header length bounds the list; some writers leave room after the
  // descriptors, and the list ends at its mark.
  std::vector<unsigned char> list(size_t(fieldCount) * kDbfDescriptorSize);
  got = handle->stream->Read(list.data(), list.size());
  if (got < 0) return ShapeFailErrno("ReadFields: fread 1", name);
  const dbfheader::Scan scan =
      dbfheader::ScanDescriptors(list.data(), size_t(got), size_t(fieldCount), false);
  const bool whole = scan.end == dbfheader::ScanEnd::kMark || scan.count == size_t(fieldCount);
  if (!whole) return ShapeFail("ReadFields: fread 1", name + ": field descriptors cut short");
  const uint32_t count = uint32_t(scan.count);
  for (uint32_t i = 0; i < count; ++i) {
    dbfheader::Descriptor d;
    dbfheader::DecodeDescriptor(list.data() + i * kDbfDescriptorSize, kDbfDescriptorSize, &d);
    DbfField& field = handle->fields[i];
    std::memcpy(field.name, d.name, 11);
    field.type = d.type;
    field.address = d.offset;
    field.width = d.width;
    field.decimals = d.decimals;
    SetFormat(&field);
  }
  handle->fieldCount = count;
  if (count == 0) return ShapeFail("dbOpen", name + ": the table has no field");
  if (CheckFields("dbOpen", name, handle->fields, count, handle->recordLength) != 0) return -1;
  if (!handle->stream->Seek(handle->headerLength)) return ShapeFailErrno("dbOpen: seek", name);
  return 0;
}

int dbReadIntern(DbfHandle* handle) {
  if (!handle || !handle->stream || handle->writing)
    return ShapeFail("dbRead", "the table is not open for reading");
  ShapeStream& stream = *handle->stream;
  // The header's count ends the table: bytes after it are no records, and
  // a reader must not take more rows than the table's other readers see.
  const int64_t end =
      int64_t(handle->headerLength) + int64_t(handle->recordLength) * handle->recordCount;
  if (stream.Position() + int64_t(handle->recordLength) > end) return 1;
  int64_t got = stream.Read(handle->record, handle->recordLength);
  if (got < 0) return ShapeFailErrno("dbRead", stream.Path());
  if (got == 0) return 1;
  if (got == 1 && uint8_t(handle->record[0]) == kDbfFileEnd) return 1;
  if (got < handle->recordLength)
    return ShapeFail("dbRead", stream.Path() + ": the last record is cut short");

  const char* p = handle->record + 1;
  for (uint32_t i = 0; i < handle->fieldCount; ++i) {
    DbfField& field = handle->fields[i];
    switch (field.type) {
      case DBF_CHARACTER:
      case DBF_DATE:
        std::memcpy(field.value.text, p, field.width);
        field.value.text[field.width] = '\0';
        break;
      case DBF_FLOAT:
      case DBF_NUMERIC:
        field.value.number = ParseNumber(p, field.width);
        break;
      case DBF_LOGICAL:
        if (field.width > 0) field.value.logical = *p;
        break;
      default:
        break;
    }
    p += field.width;
  }
  return 0;
}

int dbReadByRecnoIntern(DbfHandle* handle, uint32_t number) {
  if (!handle || !handle->stream || handle->writing)
    return ShapeFail("dbReadByRecno", "the table is not open for reading");
  int64_t offset = int64_t(handle->headerLength) + int64_t(handle->recordLength) * number;
  if (!handle->stream->Seek(offset))
    return ShapeFailErrno("dbReadByRecno: seek", handle->stream->Path());
  return dbReadIntern(handle);
}

int dbCreateIntern(DbfHandle* handle, const char* path) {
  if (!handle || !path) return ShapeFail("dbCreate", "no handle or no path");
  std::string name = DbfPath(path);
  // Set before anything can fail: the close must leave the caller's fields
  // alone also after a failed create.
  handle->writing = 1;
  uint32_t count = handle->fieldCount;
  if (count == 0 || !handle->fields) return ShapeFail("dbCreate", name + ": no fields given");
  if (kDbfDescriptorSize * count + kDbfHeaderSize + 1 > kDbfHeaderLengthMax)
    return ShapeFail("dbCreate", name + ": too many fields (" + std::to_string(count) + ")");
  for (uint32_t i = 0; i < count; ++i) {
    DbfField& field = handle->fields[i];
    if (field.type == DBF_DATE) field.width = 8;
    if (field.type == DBF_LOGICAL) field.width = 1;
    if (field.type == DBF_MEMO) field.width = 10;
  }
  if (CheckFields("dbCreate", name, handle->fields, count, kDbfHeaderLengthMax) != 0) return -1;

  handle->stream = ShapeStream::Open(name, ShapeStream::kWrite);
  if (!handle->stream) return ShapeFailErrno(name.c_str());
  handle->version = kDbfVersion;
  handle->recordCount = 0;
  handle->headerLength = 0;
  handle->recordLength = 0;
  unsigned char header[kDbfHeaderSize] = {};
  if (!handle->stream->Write(header, sizeof header)) return ShapeFailErrno("fwrite", name);

  uint32_t recordLength = 1;
  for (uint32_t i = 0; i < count; ++i) recordLength += handle->fields[i].width;
  handle->recordLength = uint16_t(recordLength);
  handle->headerLength = uint16_t(kDbfDescriptorSize * count + kDbfHeaderSize + 1);
  handle->record = static_cast<char*>(std::calloc(size_t(recordLength) + 1, 1));
  if (!handle->record) return ShapeFailErrno("_CALLOC", name);

  for (uint32_t i = 0; i < count; ++i) {
    DbfField& field = handle->fields[i];
    unsigned char d[kDbfDescriptorSize] = {};
    std::memcpy(d, field.name, strnlen(field.name, 11));
    d[11] = uint8_t(field.type);
    d[16] = field.width;
    d[17] = field.decimals;
    if (field.type == DBF_NUMERIC) SetFormat(&field);
    if (!handle->stream->Write(d, sizeof d)) return ShapeFailErrno("fwrite", name);
  }
  if (!handle->stream->Write(&kDbfFieldEnd, 1)) return ShapeFailErrno("fwrite", name);
  return 0;
}

int dbWriteIntern(DbfHandle* handle) {
  if (!handle || !handle->stream || !handle->writing || !handle->record)
    return ShapeFail("dbWrite", "the table is not open for writing");
  char* record = handle->record;
  std::memset(record, 0, handle->recordLength);
  record[0] = ' ';
  char* p = record + 1;
  for (uint32_t i = 0; i < handle->fieldCount; ++i) {
    const DbfField& field = handle->fields[i];
    switch (field.type) {
      case DBF_CHARACTER:
        std::memcpy(
            p, field.value.text,
            strnlen(field.value.text, std::min<size_t>(field.width, sizeof field.value.text)));
        break;
      case DBF_DATE:
        std::memcpy(p, field.value.text,
                    strnlen(field.value.text, std::min<size_t>(field.width, 8)));
        break;
      case DBF_FLOAT:
      case DBF_NUMERIC: {
        if (field.width == 0) break;
        int decimals =
            field.type == DBF_FLOAT ? FormatDecimals(field.format, sizeof field.format) : -1;
        if (decimals < 0) decimals = field.decimals;
        if (!FormatNumber(field.value.number, field.width, decimals, p)) {
          char text[64];
          std::snprintf(text, sizeof text, "%.17g", field.value.number);
          return ShapeFail("dbWrite", handle->stream->Path() + ": the value " + text +
                                          " does not fit field " + FieldName(field) + " (width " +
                                          std::to_string(field.width) + ")");
        }
        break;
      }
      case DBF_LOGICAL:
        if (field.width > 0) *p = field.value.logical;
        break;
      default:
        break;
    }
    p += field.width;
  }
  if (!handle->stream->Write(record, handle->recordLength))
    return ShapeFailErrno("dbWrite", handle->stream->Path());
  ++handle->recordCount;
  return 0;
}

int dbCloseIntern(DbfHandle* handle) {
  if (!handle) return 0;
  int result = 0;
  if (handle->writing && handle->stream) {
    unsigned char header[kDbfHeaderSize] = {};
    handle->version = kDbfVersion;
    Today(handle->updated);
    header[0] = kDbfVersion;
    std::memcpy(header + 1, handle->updated, 3);
    QStoreU32LE(header + 4, handle->recordCount);
    QStoreU16LE(header + 8, handle->headerLength);
    QStoreU16LE(header + 10, handle->recordLength);
    if (!handle->stream->WriteAt(0, header, sizeof header))
      result = ShapeFailErrno("dbClose: header", handle->stream->Path());
  }
  if (handle->stream) {
    std::string name = handle->stream->Path();
    if (!ShapeStream::Close(handle->stream) && result == 0)
      result = ShapeFailErrno("dbClose", name);
  }
  std::free(handle->record);
  handle->record = nullptr;
  if (!handle->writing) {
    std::free(handle->fields);
    handle->fields = nullptr;
    handle->fieldCount = 0;
  }
  return result;
}
