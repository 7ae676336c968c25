// The buffered dBASE record layer (layout and rules in dbf.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/date.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/strings.h"
#include "platform/dbfheader.h"
#include "platform/endian.h"
#include "mapfile/tables/dbf.h"

namespace layerio {

namespace {

constexpr uint8_t kEndOfDescriptors = dbfheader::kEndMark;
constexpr uint8_t kEndOfFile = 0x1A;
constexpr int kDescriptorSize = int(dbfheader::kDescriptorSize);

void TodayBytes(uint8_t* out) {
  DateRec today;
  DateToday(&today);
  int year = today.year - 1900;
  out[0] = uint8_t(std::clamp(year, 0, 255));
  out[1] = today.month;
  out[2] = today.day;
}

// Records in the file and in an append run.
uint32_t TotalRecords(const DbfFile* s) {
  return s->count + (s->mode == kDbfBufferAppend ? s->held : 0);
}

bool Buffered(const DbfFile* s, uint32_t record) {
  return s->mode != 0 && record >= s->first && record - s->first < s->held;
}

int16_t SeekTo(const DbfFile* s, int64_t offset) {
  return FileSeek(s->file, offset, 0) == offset ? kDbfOk : kDbfFailed;
}

int64_t RecordOffset(const DbfFile* s, uint32_t record) {
  return int64_t(s->headerLength) + int64_t(record - 1) * s->recordLength;
}

int16_t Flush(DbfFile* s) {
  int16_t result = kDbfOk;
  int32_t bytes = int32_t(s->held) * s->recordLength;
  if (s->mode == kDbfBufferAppend && s->held > 0) {
    // The end mark rides along in the byte the buffer keeps spare for it.
    s->buffer[bytes] = kEndOfFile;
    if (SeekTo(s, RecordOffset(s, s->count + 1)) != kDbfOk ||
        FileWrite(s->file, s->buffer, bytes + 1) != bytes + 1) {
      result = kDbfWriteFailed;
    } else {
      s->count += s->held;
    }
    s->modified = 1;
  } else if (s->mode == kDbfBufferChanged && s->held > 0) {
    if (SeekTo(s, RecordOffset(s, s->first)) != kDbfOk ||
        FileWrite(s->file, s->buffer, bytes) != bytes) {
      result = kDbfWriteFailed;
    }
    s->modified = 1;
  }
  s->mode = 0;
  s->held = 0;
  return result;
}

// Reads a buffer-full of records from `record` on.
int16_t Fill(DbfFile* s, uint32_t record) {
  uint32_t want = std::min(s->perBuffer, s->count - record + 1);
  int32_t bytes = int32_t(want) * s->recordLength;
  if (SeekTo(s, RecordOffset(s, record)) != kDbfOk) return kDbfFailed;
  int32_t got = FileRead(s->file, s->buffer, bytes);
  uint32_t whole = got > 0 ? uint32_t(got) / s->recordLength : 0;
  if (whole == 0) return kDbfFailed;
  s->mode = kDbfBufferReadAhead;
  s->first = record;
  s->held = whole;
  return kDbfOk;
}

uint8_t* Slot(DbfFile* s, uint32_t record) {
  return s->buffer + size_t(record - s->first) * s->recordLength;
}

void FreeState(DbfFile* s) {
  if (!s) return;
  MemFree(s->buffer);
  MemFree(s->fields);
  MemFree(s);
}

}  // namespace

uint32_t DbfBufferSize(uint32_t widthSum) {
  uint32_t size;
  if (widthSum < 65) {
    size = 512;
  } else if (widthSum <= 128) {
    size = 1024;
  } else if (widthSum <= 256) {
    size = 2048;
  } else if (widthSum <= 512) {
    size = 4096;
  } else if (widthSum <= 1024) {
    size = 8192;
  } else {
    size = 16384;
  }
  // Foreign files may have records longer than the largest step; the buffer
  // always holds at least one record and the end mark.
  return std::max(size, widthSum + 2);
}

int16_t DbfCreate(FileHandle file, int fieldCount, const DbfField* fields) {
  if (fieldCount <= 0 || fieldCount > kDbfMaxFields) return kDbfFailed;
  size_t headerLength = kDescriptorSize + size_t(kDescriptorSize) * fieldCount + 1;
  uint8_t* header = static_cast<uint8_t*>(MemAlloc(headerLength + 1));
  if (!header) return kDbfFailed;
  std::memset(header, 0, headerLength + 1);
  TodayBytes(header + 1);
  uint32_t sum = 0;
  bool memo = false;
  for (int i = 0; i < fieldCount; ++i) {
    const DbfField& f = fields[i];
    uint8_t* d = header + kDescriptorSize * (i + 1);
    size_t nameLength = strnlen(f.name, sizeof f.name);
    char type = char(CharToUpper(uint8_t(f.type)));
    uint8_t width = f.width;
    uint8_t decimals = 0;
    bool ok = nameLength <= 10;
    switch (type) {
      case 'C':
        ok = ok && width >= 1 && width <= 254;
        break;
      case 'N':
        ok = ok && width >= 1 && width <= 254 && f.decimals <= width;
        decimals = f.decimals;
        break;
      case 'D':
        width = 8;
        break;
      case 'L':
        width = 1;
        break;
      case 'M':
        width = 10;
        memo = true;
        break;
      default:
        ok = false;
    }
    sum += width;
    if (!ok || sum > kDbfMaxCreateWidth) {
      MemFree(header);
      return kDbfFailed;
    }
    std::memcpy(d, f.name, nameLength);
    d[11] = uint8_t(type);
    d[16] = width;
    d[17] = decimals;
  }
  header[0] = memo ? 131 : 3;
  QStoreU16LE(header + 8, uint16_t(headerLength));
  QStoreU16LE(header + 10, uint16_t(sum + 1));
  header[headerLength - 1] = kEndOfDescriptors;
  header[headerLength] = kEndOfFile;

  int16_t result = kDbfOk;
  FileHandle h = FileOpen(file, kFileModeCreate, nullptr);
  if (h < 0) {
    result = kDbfFailed;
  } else {
    if (FileWrite(h, header, int32_t(headerLength + 1)) != int32_t(headerLength + 1)) {
      result = kDbfWriteFailed;
    }
    if (FileClose(h) != 0 && result == kDbfOk) result = kDbfWriteFailed;
  }
  MemFree(header);
  return result;
}

int16_t DbfOpen(FileHandle file, DbfFile** state, int mode, uint32_t* changed) {
  *state = nullptr;
  FileHandle h = FileOpen(file, mode, changed);
  if (h < 0) return kDbfFailed;
  uint8_t* header = static_cast<uint8_t*>(MemAlloc(kDbfHeaderBlock));
  DbfFile* s = static_cast<DbfFile*>(MemAlloc(sizeof(DbfFile)));
  auto fail = [&](int16_t result) {
    MemFree(header);
    FreeState(s);
    FileClose(h);
    return result;
  };
  if (!header || !s) return fail(kDbfFailed);
  std::memset(s, 0, sizeof *s);
  s->file = h;
  if (FileSeek(h, 0, 0) != 0) return fail(kDbfFailed);
  int32_t got = FileRead(h, header, kDbfHeaderBlock);
  if (got < 65) return fail(kDbfNotDbase);
  dbfheader::Header head;
  dbfheader::DecodeHeader(header, size_t(got), &head);
  if ((head.version & 0x03) != 0x03 && (head.version & 0x30) != 0x30) return fail(kDbfNotDbase);

  // Each descriptor must lie wholly inside the bytes read, and the end mark
  // must follow them there.
  const dbfheader::Scan scan = dbfheader::ScanDescriptors(
      header + dbfheader::kHeaderSize, size_t(got) - dbfheader::kHeaderSize, kDbfMaxFields, false);
  if (scan.end != dbfheader::ScanEnd::kMark || scan.count == 0) return fail(kDbfNotDbase);
  const int n = int(scan.count);
  s->fields = static_cast<DbfField*>(MemAlloc(sizeof(DbfField) * size_t(n)));
  if (!s->fields) return fail(kDbfFailed);
  uint32_t sum = 0;
  for (int i = 0; i < n; ++i) {
    dbfheader::Descriptor d;
    dbfheader::DecodeDescriptor(header + kDescriptorSize * (i + 1), dbfheader::kDescriptorSize, &d);
    DbfField& f = s->fields[i];
    std::memset(f.name, 0, sizeof f.name);
    std::memcpy(f.name, d.name, strnlen(d.name, 10));
    f.type = d.type;
    f.width = d.width;
    f.decimals = d.decimals;
    sum += f.width;
  }
  s->fieldCount = uint16_t(n);
  const uint16_t recordLength = head.recordLength;
  const uint16_t headerLength = head.headerLength;
  if (uint32_t(recordLength) != sum + 1) return fail(kDbfNotDbase);
  if (headerLength < kDescriptorSize * (n + 1) + 1) return fail(kDbfNotDbase);
  s->count = head.recordCount;
  int64_t size = FileSize(h);
  if (size < 0 || int64_t(headerLength) + int64_t(s->count) * recordLength > size) {
    return fail(kDbfNotDbase);
  }
  std::memcpy(s->date, head.updated, 3);
  s->recordLength = recordLength;
  s->headerLength = headerLength;
  s->bufferSize = DbfBufferSize(sum);
  s->perBuffer = (s->bufferSize - 1) / recordLength;
  s->buffer = static_cast<uint8_t*>(MemAlloc(s->bufferSize));
  if (!s->buffer) return fail(kDbfFailed);
  MemFree(header);
  *state = s;
  return kDbfOk;
}

int16_t DbfClose(DbfFile* s) {
  if (!s) return kDbfFailed;
  int16_t result = Flush(s);
  if (s->modified) {
    uint8_t stamp[7];
    TodayBytes(stamp);
    QStoreU32LE(stamp + 3, s->count);
    if ((SeekTo(s, 1) != kDbfOk || FileWrite(s->file, stamp, 7) != 7) && result == kDbfOk) {
      result = kDbfWriteFailed;
    }
  }
  if (FileClose(s->file) != 0 && result == kDbfOk) result = kDbfFailed;
  FreeState(s);
  return result;
}

int16_t DbfRecordCount(DbfFile* s, uint32_t* count) {
  *count = TotalRecords(s);
  return kDbfOk;
}

int16_t DbfReadRecord(DbfFile* s, uint32_t record, uint8_t* data, int* deleted) {
  if (record < 1 || record > TotalRecords(s)) return kDbfOutOfRange;
  if (!Buffered(s, record)) {
    if (s->mode == kDbfBufferAppend || s->mode == kDbfBufferChanged) {
      int16_t r = Flush(s);
      if (r != kDbfOk) return r;
    }
    int16_t r = Fill(s, record);
    if (r != kDbfOk) return r;
  }
  const uint8_t* slot = Slot(s, record);
  std::memcpy(data, slot + 1, s->recordLength - 1u);
  if (deleted) *deleted = slot[0] == '*';
  return kDbfOk;
}

int16_t DbfAppendRecord(DbfFile* s, uint32_t record, const uint8_t* data) {
  // A new record goes at the end only: its number is its place for good.
  if (record != TotalRecords(s) + 1) return kDbfOutOfRange;
  if (s->mode == kDbfBufferReadAhead) {
    s->mode = 0;
    s->held = 0;
  }
  if (!(s->mode == kDbfBufferAppend && record == s->first + s->held)) {
    int16_t r = Flush(s);
    if (r != kDbfOk) return r;
    s->mode = kDbfBufferAppend;
    s->first = record;
    s->held = 0;
  }
  uint8_t* slot = s->buffer + size_t(s->held) * s->recordLength;
  slot[0] = ' ';
  std::memcpy(slot + 1, data, s->recordLength - 1u);
  ++s->held;
  if (s->held == s->perBuffer) return Flush(s);
  return kDbfOk;
}

int16_t DbfWriteRecord(DbfFile* s, uint32_t record, const uint8_t* data) {
  if (record < 1 || record > TotalRecords(s)) return kDbfOutOfRange;
  if (Buffered(s, record)) {
    if (s->mode == kDbfBufferReadAhead) s->mode = kDbfBufferChanged;
  } else {
    int16_t r = Flush(s);
    if (r != kDbfOk) return r;
    r = Fill(s, record);
    if (r != kDbfOk) return r;
    s->mode = kDbfBufferChanged;
  }
  uint8_t* slot = Slot(s, record);
  slot[0] = ' ';
  std::memcpy(slot + 1, data, s->recordLength - 1u);
  return kDbfOk;
}

// ----- number text -----

namespace {

double Pow10(int n) {
  static const double kTable[] = {1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12,
                                  1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,
                                  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,
                                  1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,
                                  1e16,  1e17,  1e18,  1e19,  1e20};
  if (n >= -20 && n <= 20) return kTable[n + 20];
  return std::pow(10.0, n);  // wide fields of foreign files
}

// "%*.*f", or the empty text when it would not fit the out buffer.
int Format(double value, int width, int decimals, char* out, size_t size) {
  int n = std::snprintf(out, size, "%*.*f", width, decimals, value);
  return n >= 0 && size_t(n) < size ? n : -1;
}

}  // namespace

bool DbfNumberText(double value, int width, int decimals, char* out) {
  width = std::clamp(width, 1, 254);
  decimals = std::clamp(decimals, 0, width);
  if (std::isnan(value)) {
    std::memset(out, ' ', size_t(width));
    out[width] = 0;
    return true;
  }
  double limit, step;
  if (decimals > 0) {
    limit = Pow10(width - decimals - 1);
    step = Pow10(-std::min(decimals, 16 - (width - decimals)));
  } else {
    limit = Pow10(width);
    step = Pow10(std::max(width - 15, 0));
  }
  double high = limit - step;
  double low = step - limit / 10;
  bool fits = true;
  if (value >= limit) {
    value = high;
    fits = false;
  } else if (value <= -limit / 10) {
    value = low;
    fits = false;
  }
  if (decimals > 0) value = NumRoundToStep(value, Pow10(-decimals));
  char text[640];
  int n = Format(value, width, decimals, text, sizeof text);
  // The narrowest fields hold a fraction only without its leading zero
  // (".50" in N 3,2).
  auto dropLeadingZero = [&] {
    if (n <= width) return;
    char* zero = std::strstr(text, "0.");
    if (zero && (zero == text || (zero == text + 1 && text[0] == '-'))) {
      std::memmove(zero, zero + 1, std::strlen(zero));
      --n;
    }
  };
  dropLeadingZero();
  // Rounding can carry a value over the limit (9999.96 in N 6,1), and the
  // narrowest fields cannot hold their own clamps ("0.99" in N 3,2): take
  // the clamp, then drop a leading zero, and never write past the width.
  if (n > width || n < 0) {
    fits = false;
    n = Format(value < 0 ? low : high, width, decimals, text, sizeof text);
    dropLeadingZero();
  }
  if (n > width || n < 0) {
    std::memset(out, '*', size_t(width));
    out[width] = 0;
    return false;
  }
  std::memcpy(out, text, size_t(n) + 1);
  return fits;
}

void DbfFieldName(const char* column, char* out) {
  size_t n = strnlen(column, 10);
  for (size_t i = 0; i < n; ++i) {
    int c = CharToUpper(uint8_t(column[i]));
    if (MbsIsLeadByte(column + i) && i + 1 < n) {
      out[i] = out[i + 1] = '_';
      ++i;
    } else {
      out[i] = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? char(c) : '_';
    }
  }
  out[n] = 0;
  if (n > 0 && !(out[0] >= 'A' && out[0] <= 'Z')) out[0] = 'A';
}

}  // namespace layerio
