// The data-source dispatcher: the one place where the table code asks a data
// source to be created, bound, described, opened, released, read, appended
// to, updated and closed. The kinds without a file (0, 6, 11) are handled
// here; the file-backed kinds go to their driver's hooks.
//
// A general code (386, 881, 497) is pushed only while the error stack is
// still empty since its last clear, so that the most precise error a driver
// pushed is the one the caller sees.
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/table.h"

namespace layerio {

namespace {

void PushIfClean(int16_t code) {
  if (ErrorCount() == 0) ErrorPush(kErrorSeverity, code, nullptr, nullptr);
}

// The driver of a file-backed kind, or null after pushing that the kind has
// none in this library.
const DataDriver* DriverOrPush(uint8_t kind) {
  const DataDriver* driver = DataDriverFor(kind);
  if (!driver) {
    char number[8];
    std::snprintf(number, sizeof number, "%u", unsigned(kind));
    ErrorPush(kErrorSeverity, kErrNoDriver, number, nullptr);
  }
  return driver;
}

bool IsTextKind(uint8_t type) { return type == kFieldChar || type == kFieldMemo; }

// The fixed 25-character text type is stored as Char 25 by every driver.
void NormaliseColumnTypes(FieldDef* columns, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (columns[i].value.kind == kFieldChar25) {
      columns[i].value.kind = kFieldChar;
      columns[i].width = 25;
      columns[i].decimals = 0;
    }
  }
}

void DropFileEntry(DataSource* source, bool removeFile) {
  if (source->file > 0) {
    if (removeFile) FileCloseAndRemove(source->file);
    FileRelease(source->file);
  }
  source->file = 0;
}

// The companion entry of a new data file: `directory`/`tableName` with the
// file kind's extension; a temporary file of its own when there is no name.
FileHandle CompanionEntry(const char* tableName, const char* directory, int fileKind) {
  char path[kPathCapacity];
  if (!tableName || !*tableName) {
    if (!TempFileName(path, directory && *directory ? directory : nullptr)) return 0;
    return FileTableAddName(path, 0);
  }
  path[0] = '\0';
  if (directory && *directory && tableName[0] != '/') {
    size_t n = std::strlen(directory);
    if (n + 1 + std::strlen(tableName) + 1 > sizeof path) return 0;
    std::memcpy(path, directory, n);
    if (path[n - 1] != '/' && path[n - 1] != '\\') path[n++] = '/';
    std::strcpy(path + n, tableName);
  } else {
    if (std::strlen(tableName) + 1 > sizeof path) return 0;
    std::strcpy(path, tableName);
  }
  if (fileKind > 0) {
    char withExtension[kPathCapacity];
    if (!PathForKind(withExtension, path, fileKind)) return 0;
    return FileTableAddName(withExtension, fileKind);
  }
  return FileTableAddName(path, 0);
}

// The create hook of each kind, then its attach.
int16_t CreateByKind(DataSource* source, FieldDef* columns, const char* tableName) {
  int32_t count = source->columnCount;
  switch (source->kind) {
    case kDataNone:
    case kDataRaster:
    case kDataRemote:
      return 1;
    case kDataLotus:
    case kDataExcel:
      return 0;  // worksheets cannot be created
    case kDataRowBuffer:
      return RowBufferInit(source);
    case kDataAccess:
      source->params.ptr[4] = const_cast<char*>(tableName);
      [[fallthrough]];
    case kDataDbase:
    case kDataNative:
    case kDataText:
    case kDataCsv: {
      const DataDriver* driver = DriverOrPush(source->kind);
      if (!driver || !driver->create || !driver->create(source, columns, count)) return 0;
      if (!driver->attach || !driver->attach(source, columns, &count)) return 0;
      source->columnCount = count;
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

const DataDriver* DataDriverFor(uint8_t kind) {
  switch (kind) {
    case kDataLotus:
      return LotusDataDriver();
    case kDataExcel:
      return ExcelDataDriver();
    case kDataAccess:
      return AccessDataDriver();
    case kDataDbase:
      return DbaseDataDriver();
    case kDataNative:
      return NativeDataDriver();
    case kDataText:
    case kDataCsv:
      return TextDataDriver();
    case kDataRemote:
      return RemoteDataDriver();
    default:
      return nullptr;
  }
}

int CurrentTableCharset() { return CharsetSystem(); }

int DataKindFileKind(uint8_t kind) {
  switch (kind) {
    case kDataDbase:
      return kFileKindDbase;
    case kDataLotus:
      return kFileKindLotus;
    case kDataText:
      return kFileKindText;
    case kDataExcel:
      return kFileKindExcel;
    case kDataNative:
      return kFileKindNative;
    case kDataRaster:
      return kFileKindRaster;
    case kDataAccess:
      return kFileKindAccess;
    case kDataQuery:
      return kFileKindQuery;
    case kDataCsv:
      return kFileKindCsv;
    default:
      return 0;
  }
}

void DataSourceDefaults(uint8_t kind, uint32_t params[kDataParamWords]) {
  std::memset(params, 0, sizeof(uint32_t) * kDataParamWords);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(params);
  const uint32_t charset = uint32_t(CurrentTableCharset());
  switch (kind) {
    case kDataDbase:
    case kDataNative:
    case kDataRowBuffer:
      params[2] = charset;
      break;
    case kDataText:
      bytes[8] = 9;
      params[3] = charset;
      break;
    case kDataCsv:
      bytes[8] = ',';
      params[3] = charset;
      break;
    case kDataAccess:
      params[6] = charset;
      break;
    default:
      break;  // worksheets: the word at byte 24 stays 0
  }
}

int16_t ColumnValuesAlloc(FieldDef* columns, int32_t count) {
  if (!columns) return 1;
  for (int32_t i = 0; i < count; ++i) {
    Value& v = columns[i].value;
    if (!IsTextKind(v.kind)) continue;
    if (v.u.p) ValueFree(&v);
    uint8_t kind = v.kind;
    std::memset(&v, 0, sizeof v);
    v.kind = kind;
    if (!ValueAlloc(columns[i].width, &v, nullptr)) {
      ColumnValuesFree(columns, count);
      return 0;
    }
  }
  return 1;
}

void ColumnValuesFree(FieldDef* columns, int32_t count) {
  if (!columns) return;
  for (int32_t i = 0; i < count; ++i) {
    Value& v = columns[i].value;
    if (IsTextKind(v.kind) || v.kind == kValueIdentifier || v.kind == kValueFixedText) {
      ValueFree(&v);
      v.u.p = nullptr;
    }
  }
}

void ColumnValuesBlank(FieldDef* columns, int32_t count) {
  if (!columns) return;
  for (int32_t i = 0; i < count; ++i) {
    Value& v = columns[i].value;
    if (IsTextKind(v.kind)) {
      if (v.u.p) static_cast<char*>(v.u.p)[0] = '\0';
    } else {
      ValueBlank(&v);
    }
  }
}

void ColumnValueRefused(const FieldDef& column, const char* text) {
  char formatted[512];
  if (!text)
    text = ValueFormatDecimals(&column.value, formatted, sizeof formatted, column.decimals, 0);
  char name[sizeof column.name + 1];
  StrCopyPadded(name, column.name, sizeof name);
  ErrorPush(kErrorSeverity, kErrValueRefused, name, text);
}

int16_t DataSourceCreate(const char* tableName, const char* directory, int fileKind,
                         uint8_t temporary, DataSource* source, uint8_t kind,
                         int32_t columnCount, FieldDef* columns,
                         const uint32_t params[kDataParamWords], FileHandle fileHandle) {
  source->kind = kind;
  source->openCount = 0;
  source->driverFlag = 0;
  source->temporary = temporary;
  source->file = 0;
  if (fileKind == -1) fileKind = temporary ? 0 : DataKindFileKind(kind);

  bool ok = true;
  if (kind != kDataNone && kind != kDataAccess) {
    source->file = fileHandle > 0 ? fileHandle : CompanionEntry(tableName, directory, fileKind);
    ok = source->file > 0;
  }
  source->columnCount = columnCount;
  source->rowCount = 0;
  source->currentRow = 0;
  if (params) std::memcpy(source->params.words, params, sizeof source->params.words);
  std::memset(source->params.ptr, 0, sizeof source->params.ptr);

  if (ok && columns) {
    NormaliseColumnTypes(columns, columnCount);
    ok = ColumnNamesMakeUnique(columns, columnCount) && ColumnValuesAlloc(columns, columnCount);
  }
  if (ok) ok = CreateByKind(source, columns, tableName) != 0;
  if (ok) return 1;

  // Leave nothing behind: the driver's buffers, the payloads, the half-made
  // file and its entry.
  const DataDriver* driver = DataDriverFor(kind);
  if (driver && driver->close && (source->params.ptr[0] || source->params.ptr[1]))
    driver->close(source);
  if (kind == kDataRowBuffer) RowBufferFree(source);
  source->params.ptr[4] = nullptr;
  ColumnValuesFree(columns, columnCount);
  DropFileEntry(source, kind != kDataAccess && kind != kDataRemote);
  PushIfClean(kErrDataCreate);
  return 0;
}

int16_t DataSourceAttach(const char* path, int fileKind, DataSource* source, uint8_t kind,
                         int32_t* columnCount, FieldDef* columns) {
  source->kind = kind;
  source->columnCount = columnCount ? *columnCount : 0;
  source->driverFlag = 0;
  source->openCount = 0;
  source->rowCount = 0;
  source->currentRow = 0;
  if (fileKind == 0) fileKind = DataKindFileKind(kind);
  source->file = path ? FileTableAddName(path, fileKind) : 0;
  bool ok = !path || source->file > 0;

  const bool allocates = (kind >= kDataDbase && kind <= kDataNative) || kind == kDataAccess;
  if (ok && allocates && columns) {
    NormaliseColumnTypes(columns, source->columnCount);
    ok = ColumnValuesAlloc(columns, source->columnCount) != 0;
  }
  if (ok) {
    switch (kind) {
      case kDataNone:
        break;
      case kDataRowBuffer:
        ok = RowBufferListOf(source) || RowBufferInit(source);
        break;
      case kDataDbase:
      case kDataNative:
      case kDataLotus:
      case kDataText:
      case kDataExcel:
      case kDataAccess: {
        const DataDriver* driver = DriverOrPush(kind);
        int32_t count = source->columnCount;
        ok = driver && driver->attach && driver->attach(source, columns, &count);
        if (ok) {
          source->columnCount = count;
          if (columnCount) *columnCount = count;
        }
        break;
      }
      default:
        ok = false;  // raster, query, remote (refused), comma text: no attach
        break;
    }
  }
  if (ok) {
    if (kind == kDataAccess) DropFileEntry(source, false);
    return 1;
  }
  if (allocates) ColumnValuesFree(columns, source->columnCount);
  DropFileEntry(source, false);
  PushIfClean(kErrDataOpen);
  return 0;
}

int16_t DataSourceDescribe(const char* path, TableObject* table) {
  DataSource* source = &table->source;
  const uint8_t kind = source->kind;
  int fileKind = DataKindFileKind(kind);
  source->file = path ? FileTableAddName(path, fileKind) : 0;
  bool ok = !path || source->file > 0;
  if (ok) {
    switch (kind) {
      case kDataNative:
      case kDataRowBuffer:
        break;  // nothing to read: the definition declares the columns
      case kDataDbase:
      case kDataLotus:
      case kDataText:
      case kDataExcel:
      case kDataAccess:
      case kDataRemote:
      case kDataCsv: {
        const DataDriver* driver = DriverOrPush(kind);
        ok = driver && driver->describe && driver->describe(source, table);
        break;
      }
      default:
        ok = false;
        break;
    }
  }
  if (ok && table->fields) ok = ColumnNamesMakeUnique(table->fields, int32_t(table->fieldCount));
  if (ok) return 1;
  DropFileEntry(source, false);
  return 0;
}

int16_t DataSourceOpen(DataSource* source, int mode) {
  if (source->openCount == kOpenCountHeld) return 0;
  if (source->openCount > 0) {
    // One more open would read as the held state, which no release undoes.
    if (source->openCount == kOpenCountHeld - 1) {
      PushIfClean(kErrDataOpen);
      return 0;
    }
    ++source->openCount;
    return 1;
  }
  switch (source->kind) {
    case kDataNone:
    case kDataRaster:
    case kDataRowBuffer:
      source->openCount = 1;
      return 1;
    case kDataDbase:
    case kDataNative:
    case kDataLotus:
    case kDataText:
    case kDataExcel:
    case kDataAccess:
    case kDataRemote: {
      const DataDriver* driver = DriverOrPush(source->kind);
      if (driver && driver->open && driver->open(source, mode)) {
        source->openCount = 1;
        return 1;
      }
      break;
    }
    default:
      break;
  }
  PushIfClean(kErrDataOpen);
  return 0;
}

int16_t DataSourceRelease(DataSource* source) {
  if (source->openCount == kOpenCountHeld) return 1;
  if (source->openCount > 1) {
    --source->openCount;
    return 1;
  }
  if (source->openCount == 0) return 0;
  switch (source->kind) {
    case kDataNone:
    case kDataRaster:
    case kDataRowBuffer:
    case kDataRemote:
      // Raster and row-buffer sources are opened without work and are closed
      // the same way, so that their opens and releases stay balanced.
      source->openCount = 0;
      return 1;
    case kDataDbase:
    case kDataNative:
    case kDataLotus:
    case kDataText:
    case kDataExcel:
    case kDataAccess: {
      const DataDriver* driver = DataDriverFor(source->kind);
      if (driver && driver->release && driver->release(source)) {
        source->openCount = 0;
        return 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

int16_t DataSourceRead(DataSource* source, FieldDef* values, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  if (source->overlay &&
      RowBufferLookup(&source->overlay->source, row, values, source->columnCount)) {
    source->currentRow = row;
    return 1;
  }
  int16_t ok = 0;
  switch (source->kind) {
    case kDataRowBuffer:
      ok = RowBufferRead(source, row, values, source->columnCount);
      break;
    case kDataDbase:
    case kDataNative:
    case kDataLotus:
    case kDataText:
    case kDataExcel:
    case kDataAccess:
    case kDataRemote: {
      const DataDriver* driver = DriverOrPush(source->kind);
      ok = driver && driver->read ? driver->read(source, values, row, deleted) : 0;
      break;
    }
    default:
      break;
  }
  if (ok) source->currentRow = row;
  return ok;
}

int16_t DataSourceReadRow(DataSource* source, FieldDef* values, uint32_t row) {
  return DataSourceRead(source, values, row, nullptr);
}

int16_t DataSourceInsert(DataSource* source, FieldDef* values, uint32_t* row) {
  uint32_t added = 0;
  int16_t ok = 0;
  switch (source->kind) {
    case kDataNone:
      added = source->rowCount + 1;
      ok = 1;
      break;
    case kDataRowBuffer:
      added = source->rowCount + 1;
      ok = RowBufferInsert(source, added, values, source->columnCount);
      break;
    case kDataDbase:
    case kDataNative:
    case kDataText:
    case kDataAccess:
    case kDataRemote: {
      const DataDriver* driver = DriverOrPush(source->kind);
      ok = driver && driver->insert ? driver->insert(source, values, &added) : 0;
      break;
    }
    default:
      break;  // worksheets, raster and query tables are read-only
  }
  if (!ok) {
    PushIfClean(kErrDataWrite);
    return 0;
  }
  source->rowCount = added;
  source->currentRow = added;
  if (row) *row = added;
  return 1;
}

int16_t DataSourceUpdate(DataSource* source, FieldDef* values, uint32_t row) {
  int16_t ok = 0;
  switch (source->kind) {
    case kDataNone:
      ok = 1;
      break;
    case kDataRowBuffer:
      ok = RowBufferUpdate(source, row, values, source->columnCount);
      break;
    case kDataDbase:
    case kDataNative:
    case kDataAccess:
    case kDataRemote: {
      const DataDriver* driver = DriverOrPush(source->kind);
      ok = driver && driver->update ? driver->update(source, values, row) : 0;
      break;
    }
    default:
      break;  // delimited text cannot be updated in place
  }
  if (!ok) {
    PushIfClean(kErrDataWrite);
    return 0;
  }
  source->currentRow = row;
  // A pending copy of the row must not hide the new values from later reads.
  if (source->overlay && source->overlay->source.kind == kDataRowBuffer) {
    RowBufferRecord* record = nullptr;
    RowBufferList* list = RowBufferListOf(&source->overlay->source);
    if (list && RowBufferFind(list, row, &record))
      RowBufferUpdate(&source->overlay->source, row, values, source->columnCount);
  }
  return 1;
}

int16_t DataSourceClose(DataSource* source, FieldDef* columns) {
  const DataDriver* driver = DataDriverFor(source->kind);
  int16_t ok = 1;
  // Opens still held are ended here, so that pending writes reach the file;
  // when they cannot be written the source is closed all the same (a
  // release gives up its file either way) and the result says so.
  if (source->openCount > 0 && source->openCount != kOpenCountHeld && driver &&
      driver->release) {
    source->openCount = 1;
    if (!driver->release(source)) ok = 0;
  }
  source->openCount = 0;
  switch (source->kind) {
    case kDataRowBuffer:
      RowBufferFree(source);
      break;
    case kDataDbase:
    case kDataNative:
    case kDataLotus:
    case kDataText:
    case kDataExcel:
    case kDataAccess:
      if (driver && driver->close && !driver->close(source)) ok = 0;
      break;
    default:
      break;
  }
  source->params.ptr[4] = nullptr;
  if (source->overlay) RowOverlayFree(source);
  if (columns) ColumnValuesFree(columns, source->columnCount);
  DropFileEntry(source, source->temporary != 0);
  return ok;
}

int16_t DataSourceSetRange(DataSource* source, const char* text) {
  DataSourceFreeRange(source);
  if (!text || !*text) return 1;
  const size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(MemAlloc(size));
  if (!copy) {
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return 0;
  }
  std::memcpy(copy, text, size);
  source->params.ptr[2] = copy;
  return 1;
}

void DataSourceFreeRange(DataSource* source) {
  // Other kinds keep driver state of their own under the same slot.
  if (source->kind != kDataLotus && source->kind != kDataExcel) return;
  MemFreePtr(&source->params.ptr[2]);
}

int16_t DataSourceHasMemo(DataSource* source) {
  switch (source->kind) {
    case kDataDbase: {
      const DataDriver* driver = DataDriverFor(source->kind);
      return driver && driver->hasMemo ? driver->hasMemo(source) : 0;
    }
    case kDataAccess:
      return source->params.Half(28) & 1;
    default:
      return 0;
  }
}

}  // namespace layerio
