// The table-definition writer, registration of foreign data files, the
// refresh of their definitions, the reader of definitions older than
// version 300, the closing of a table object and the plain view of one table.
//
// A definition is never rewritten in place: the new text goes to a temporary
// file in the .TAB's own folder, which is renamed over the old definition
// only once every line of it was written. A failure at any point leaves the
// old definition as it was, byte for byte.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/tables/access.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"

namespace layerio {

// A view's cached expression indexes (the field-index table level).
void IndexSearchCacheFree(TableObject* view);

namespace {

// Words of the message table used in definitions.
enum : int32_t {
  kMsgInto = 6035,
  kMsgTable = 6108,
  kMsgRegister = 6248,
  kMsgDelimiter = 6249,
  kMsgTitles = 6250,
  kMsgCharset = 6251,
  kMsgRange = 6252,
  kMsgTypeNameBase = 6300,
  kMsgIndex = 6525,
  kMsgTypeAscii = 6600,
  kMsgTypeWks = 6601,
  kMsgTypeXls = 6602,
  kMsgTypeDbf = 6603,
  kMsgTypeNative = 6604,
  kMsgTypeLinked = 6606,
  kMsgTypeAccess = 6607,
  kMsgTypeQuery = 6608,
  kMsgTypeShape = 6613,
  kMsgTypeWfs = 6615,
  kMsgIndexNoAccess = 3707,
};

constexpr int16_t kErrUnknownCharset = 1283;
constexpr int16_t kErrRemoteCancelled = 1825;

// Definitions below this version are written and read in the keyword form.
constexpr int16_t kVersionClauses = 300;
constexpr int16_t kVersionAccess = 410;
constexpr int16_t kVersionWebFeature = 780;
constexpr size_t kLegacyLine = 257;  // 256 bytes and the NUL
constexpr size_t kDescriptionQuoted = 256;

std::string Msg(int32_t id) { return MsgGetText(id); }

void PushPath(int16_t code, const char* path) {
  ErrorPush(kErrorSeverity, code, path, nullptr);
}

// Data kinds the writer knows how to describe.
bool WriterKnowsKind(uint8_t kind) {
  switch (kind) {
    case kDataDbase:
    case kDataLotus:
    case kDataText:
    case kDataExcel:
    case kDataNative:
    case kDataAccess:
    case kDataQuery:
    case kDataCsv:
      return true;
    default:
      return false;  // remote tables write their own lines; no others exist on disk
  }
}

// Comma-delimited sources are read back as delimited text: the definition
// names them, and takes its default data name, as kind 3.
uint8_t WrittenKind(uint8_t kind) { return kind == kDataCsv ? uint8_t(kDataText) : kind; }

void AppendF(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendF(std::string& out, const char* format, ...) {
  char local[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(local, sizeof local, format, args);
  va_end(args);
  if (n < 0) return;
  if (size_t(n) < sizeof local) {
    out.append(local, size_t(n));
    return;
  }
  std::string big(size_t(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  big.resize(size_t(n));
  out += big;
}

std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '"') out += '"';
    out += *p;
  }
  out += '"';
  return out;
}

// The charset item of a type line: the short name in the keyword form, the
// quoted name in the clause form.
std::string CharsetText(int code, bool legacy) {
  return legacy ? std::string(CharsetShortName(code)) : Quoted(CharsetName(code));
}

// Delimiters that cannot stand quoted in a definition are written as their
// code in two digits.
bool DelimiterAsNumber(uint8_t c) {
  return c == '"' || c == '\'' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == ' ' ||
         !CharIsPrint(c);
}

// ----- paths -----------------------------------------------------------------

std::string EntryPath(FileHandle handle) {
  char path[kPathCapacity];
  FilePath(handle, path);
  return path;
}

std::string EntryDir(FileHandle handle) {
  char dir[kPathCapacity];
  FileDir(handle, dir);
  return dir;
}

// The name a path has on disk: the path itself when it exists as given or
// not at all, else the one entry of its folder that matches it ignoring case.
std::string OnDiskName(const std::string& path) {
  FileSearch search;
  if (!FileFindFirst(path.c_str(), kFileAttrNormal | kFileAttrReadOnly | kFileAttrHidden,
                     &search))
    return path;
  size_t slash = path.find_last_of("/\\");
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = path.substr(dir.size());
  std::string first = search.name;
  bool exact = first == name;
  while (!exact && FileFindNext(&search)) exact = name == search.name;
  FileFindClose(&search);
  return exact ? path : dir + first;
}

// Removes the companion of a definition of the given file kind, whatever the
// letter case of its name on disk.
void RemoveCompanion(const char* defPath, int kind) {
  char path[kPathCapacity];
  if (!PathForKind(path, defPath, kind)) return;
  FileStatRec stat;
  if (FileStat(path, &stat) != 0) return;
  FileRemove(OnDiskName(path).c_str());
}

void RemoveWithExtension(const char* defPath, const char* extension) {
  char path[kPathCapacity];
  if (std::strlen(defPath) >= sizeof path) return;
  std::strcpy(path, defPath);
  if (!PathSetExtension(path, extension)) return;
  FileStatRec stat;
  if (FileStat(path, &stat) != 0) return;
  FileRemove(OnDiskName(path).c_str());
}

// The data file's path as a definition names it: relative to the
// definition's folder when it lies inside it, else full. The name is written
// in lower case; folders keep their case, since this host finds folders only
// by their exact names.
std::string DataPathText(FileHandle data, FileHandle def) {
  std::string path = EntryPath(data);
  std::string dir = EntryDir(def);
  if (!dir.empty() && path.compare(0, dir.size(), dir) == 0) path.erase(0, dir.size());
  size_t slash = path.find_last_of('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  for (size_t i = start; i < path.size(); ++i) path[i] = char(CharToLower(uint8_t(path[i])));
  return path;
}

// Whether the data file has the default name of the definition: its own
// name with the extension of the kind's data file.
bool IsDefaultDataName(FileHandle data, FileHandle def, uint8_t kind) {
  int fileKind = DataKindFileKind(kind);
  if (!fileKind) return false;
  char expected[kPathCapacity];
  std::string defPath = EntryPath(def);
  if (!PathForKind(expected, defPath.c_str(), fileKind)) return false;
  return StrEqualNoCase(expected, EntryPath(data).c_str()) != 0;
}

// ----- the definition text ---------------------------------------------------

// The type line's text after its prefix (without the line end), or false
// when the kind has none in this form.
bool TypeText(const TableObject* table, bool legacy, std::string& out) {
  const DataSource& s = table->source;
  const DataParams& p = s.params;
  switch (WrittenKind(s.kind)) {
    case kDataDbase:
      out = Msg(s.shapeFile ? kMsgTypeShape : kMsgTypeDbf) + " " + Msg(kMsgCharset) + " " +
            CharsetText(int(p.words[2]), legacy);
      return true;
    case kDataLotus:
    case kDataExcel: {
      out = Msg(s.kind == kDataLotus ? kMsgTypeWks : kMsgTypeXls);
      // The titles flag is the one option word the reader takes here.
      if (!legacy && p.Half(28)) out += " " + Msg(kMsgTitles);
      const char* range = static_cast<const char*>(p.ptr[2]);
      if (range && *range) out += " " + Msg(kMsgRange) + " " + Quoted(range);
      return true;
    }
    case kDataText: {
      const uint8_t delimiter = p.Byte(8);
      out = Msg(kMsgTypeAscii) + " " + Msg(kMsgDelimiter);
      if (DelimiterAsNumber(delimiter)) {
        AppendF(out, " %02d", delimiter);
      } else {
        char text[2] = {char(delimiter), 0};
        out += " " + Quoted(text);
      }
      if (p.Byte(9)) out += " " + Msg(kMsgTitles);
      out += " " + Msg(kMsgCharset) + " " + CharsetText(int(p.words[3]), legacy);
      return true;
    }
    case kDataNative:
      if (legacy) return false;
      out = Msg(table->linked       ? kMsgTypeLinked
                : table->webFeature ? kMsgTypeWfs
                                    : kMsgTypeNative) +
            " " + Msg(kMsgCharset) + " " + Quoted(CharsetName(int(p.words[2])));
      return true;
    case kDataAccess: {
      // The table's name: the one the source was made with, or the one it
      // was registered or opened with.
      std::string name = p.ptr[4] ? static_cast<const char*>(p.ptr[4]) : "";
      if (name.empty()) {
        if (const AccessSettings* settings = AccessSourceSettingsOf(&table->source))
          name = settings->table;
      }
      out = Msg(kMsgTypeAccess) + " " + Msg(kMsgTable) + " " + Quoted(name.c_str()) + " " +
            Msg(kMsgCharset) + " " + Quoted(CharsetName(int(p.words[6])));
      return true;
    }
    default:
      return false;
  }
}

// The definition up to its metadata section; false when a column cannot be
// described.
bool DefinitionText(const TableObject* table, std::string& out) {
  const bool legacy = table->version < kVersionClauses;
  const uint8_t kind = WrittenKind(table->source.kind);
  AppendF(out, "!table\n!version %d\n", table->version);
  if (kind != kDataQuery && !legacy) {
    AppendF(out, "!charset %s\n", CharsetName(CurrentTableCharset()));
    if (table->readEntireVersion != table->version)
      AppendF(out, "!readentire_version %d\n", table->readEntireVersion);
    if (table->editVersion != table->readEntireVersion)
      AppendF(out, "!edit_version %d\n", table->editVersion);
  }
  if (!legacy) out += "\nDefinition Table\n";

  if (table->description) {
    if (legacy) {
      AppendF(out, "DESCRIPTION: %s\n", table->description);
    } else {
      char quoted[kDescriptionQuoted];
      if (!StrQuoteDefault(quoted, table->description, sizeof quoted)) return false;
      AppendF(out, "  Description %s\n", quoted);
    }
  }

  const FileHandle data = table->source.file;
  if (data > 0 && !IsDefaultDataName(data, table->defFile, kind)) {
    const std::string path = DataPathText(data, table->defFile);
    if (legacy)
      AppendF(out, "FILE: %s\n", path.c_str());
    else
      AppendF(out, "  File %s\n", Quoted(path.c_str()).c_str());
  }

  if (kind == kDataQuery) {
    out += legacy ? "FORMAT: " : "  Type ";
    out += Msg(kMsgTypeQuery);
    return true;  // a query ends with its type word
  }
  std::string type;
  if (TypeText(table, legacy, type)) {
    out += legacy && kind != kDataAccess ? "FORMAT: " : "  Type ";
    out += type;
    out += '\n';
  }

  if (table->fields && table->fieldCount > 0) {
    AppendF(out, legacy ? "FIELDS: %u\n" : "  Fields %u\n", table->fieldCount);
    for (uint32_t i = 0; i < table->fieldCount; ++i) {
      const FieldDef& f = table->fields[i];
      char typeText[64];
      if (!ColumnTypeText(f.value.kind, f.width, f.decimals, typeText, sizeof typeText)) {
        char number[8];
        std::snprintf(number, sizeof number, "%u", unsigned(f.value.kind));
        ErrorPush(kErrorSeverity, kErrIndexKeyType, number, nullptr);
        return false;
      }
      AppendF(out, "    %s %s", f.name, typeText);
      if (f.index) {
        AppendF(out, " %s %d", MsgGetText(kMsgIndex), int(f.index->number));
        if (f.index->unique) out += " Unique";
      }
      if (f.autokey)
        out += " Autokey";
      else if (f.readOnly)
        out += " ReadOnly";
      out += legacy ? "\n" : " ;\n";
    }
  }
  return true;
}

// Writes the text and the metadata section into a new file; the handle of
// the closed file, 0 on failure (the file then removed).
FileHandle WriteTemporary(const std::string& dir, int charset, const std::string& text,
                          const MetadataNode* metadata, bool readOnlyLine) {
  char path[kPathCapacity];
  if (!TempFileName(path, dir.c_str())) return 0;
  FileHandle file = FileTableAddName(path, 0);
  if (!file) {
    FileRemove(path);
    return 0;
  }
  bool ok = FileOpenText(file, kFileModeCreate, nullptr) > 0;
  if (ok) {
    FileSetCharset(file, charset);
    ok = FilePuts(text.c_str(), file) == 0;
    if (ok && metadata) {
      if (readOnlyLine) ok = FilePuts("ReadOnly\n", file) == 0;
      if (ok) ok = MetadataWrite(metadata, file, "  ") != 0;
    }
    if (FileStreamError(file)) ok = false;
    if (FileClose(file) != 0) ok = false;
  }
  FileCloseOS(file);
  if (ok) return file;
  FileCloseAndRemove(file);
  FileRelease(file);
  return 0;
}

}  // namespace

// ===== Writer ================================================================

int16_t TableDefWrite(TableObject* table) { return TableDefWriteFull(table, 0, 0); }

int16_t TableDefWriteFull(TableObject* table, int metadataFlag1, int metadataFlag2) {
  if (!table || table->defFile <= 0) return 0;
  const std::string defPath = EntryPath(table->defFile);
  // An unknown kind is refused before anything is touched: the old
  // definition stays as it is.
  if (!WriterKnowsKind(table->source.kind)) {
    PushPath(kErrDefWriteFailed, defPath.c_str());
    return 0;
  }

  if (table->webFeature) {
    TableVersions in{table->version, table->readEntireVersion, table->editVersion}, out = in;
    if (TableVersionsForFeatures(&in, &out, table)) {
      table->version = out.table;
      table->readEntireVersion = out.readEntire;
      table->editVersion = out.edit;
    }
  }

  const bool legacy = table->version < kVersionClauses;
  const uint8_t kind = WrittenKind(table->source.kind);
  const bool carriesMetadata = kind != kDataQuery && kind != kDataRemote;
  if (carriesMetadata && (metadataFlag1 || metadataFlag2) && !table->metadata) {
    table->metadata = MetadataCreate();
    if (!table->metadata) return 0;
  }
  const MetadataNode* metadata = nullptr;
  if (carriesMetadata && table->metadata &&
      (!MetadataIsEmpty(table->metadata) || metadataFlag1 || metadataFlag2)) {
    MetadataResolveSuspended(table->metadata);
    metadata = table->metadata;
  }

  // A read-only definition is not replaced behind its owner's back.
  FileStatRec stat;
  const std::string target = OnDiskName(defPath);
  if (FileStat(target.c_str(), &stat) == 0 && (stat.attributes & kFileAttrReadOnly)) {
    PushPath(kErrFileAccessDenied, target.c_str());
    PushPath(kErrDefWriteFailed, defPath.c_str());
    return 0;
  }

  std::string text;
  bool ok = DefinitionText(table, text);
  FileHandle written = 0;
  if (ok) {
    const int charset = legacy ? CharsetFromName("ANSI") : CurrentTableCharset();
    written = WriteTemporary(EntryDir(table->defFile), charset, text, metadata,
                             table->version <= kVersionClauses);
    ok = written > 0;
  }
  if (ok) {
    if (FileOpenCount(table->defFile) == 0) FileCloseOS(table->defFile);
    const std::string temporary = EntryPath(written);
    ok = FileRename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
      PushPath(kErrFileOpenFailed, target.c_str());
      FileRemove(temporary.c_str());
    }
    FileRelease(written);
  }
  if (!ok) PushPath(kErrDefWriteFailed, defPath.c_str());
  return ok ? 1 : 0;
}

// ===== Registration ==========================================================

int16_t TableRegisterData(const char* defPath, const char* dataPath, const DataSource* source,
                          int metadataFlag, int webFeature) {
  if (!defPath || !dataPath || !source) return 0;
  auto* table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
  if (!table) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(table, 0, sizeof *table);
  table->source = *source;
  table->source.file = 0;
  table->source.openCount = 0;
  // A worksheet's range is the table's own copy: its driver frees it, a
  // failed describe included, and the caller's stays the caller's.
  if (source->kind == kDataLotus || source->kind == kDataExcel) {
    table->source.params.ptr[2] = nullptr;
    if (!DataSourceSetRange(&table->source, static_cast<const char*>(source->params.ptr[2]))) {
      MemFree(table);
      return 0;
    }
  }
  if (source->kind == kDataAccess) AccessSourceSettingsCopy(source, &table->source);
  char name[kPathCapacity];
  if (std::strlen(defPath) < sizeof name) {
    std::strcpy(name, defPath);
    char base[kNameCapacity];
    if (PathSplit(name, base)) {
      PathSetExtension(base, "");
      size_t n = std::strlen(base);
      if (n && base[n - 1] == '.') base[n - 1] = '\0';
      StrCopyPadded(table->name, base, sizeof table->name);
    }
  }
  table->defFile = FileTableAddName(defPath, kFileKindTable);
  if (!table->defFile) {
    MemFree(table);
    return 0;
  }
  const bool access = source->kind == kDataAccess;
  TableSetVersions(table, access ? kVersionAccess : kVersionClauses);

  char data[kPathCapacity];
  if (std::strlen(dataPath) >= sizeof data) {
    PushPath(kErrDefDescribeFailed, dataPath);
    TableClose(table);
    return 0;
  }
  std::strcpy(data, dataPath);
  const size_t dataLength = std::strlen(data);
  if (source->kind == kDataDbase && dataLength > 4 &&
      StrEqualNoCase(data + dataLength - 4, ".shp"))
    table->source.shapeFile = 1;
  if (table->source.shapeFile) PathSetExtension(data, ".dbf");
  if (webFeature) {
    table->webFeature = 1;
    TableSetVersions(table, kVersionWebFeature);
  }

  int16_t result = 0;
  if (DataSourceDescribe(data, table)) {
    if (TableDefWriteFull(table, metadataFlag, 0)) {
      result = 1;
      // Companions of an earlier table of this name would be taken for this
      // one's map part; they go only once the new definition stands.
      if (table->source.shapeFile || webFeature) {
        RemoveCompanion(defPath, kFileKindMap);
        RemoveCompanion(defPath, kFileKindMapId);
      }
      if (webFeature) RemoveWithExtension(defPath, ".dat");
    } else if (!ErrorHasCode(uint16_t(kErrDefWriteFailed))) {
      PushPath(kErrDefWriteFailed, defPath);
    }
  } else if (ErrorLastCode() != kErrRemoteCancelled) {
    PushPath(kErrDefDescribeFailed, data);
  }
  // What the caller's record pointed to stays the caller's.
  for (int i = 0; i < kDataParamWords; ++i)
    if (table->source.params.ptr[i] == source->params.ptr[i]) table->source.params.ptr[i] = nullptr;
  TableClose(table);
  return result;
}

int16_t TableDataNewer(const char* dataPath, const char* defPath, int* newer,
                       const TableObject* table) {
  if (newer) *newer = 0;
  if (!dataPath || !defPath) return 0;
  FileStatRec def, data;
  if (FileStat(dataPath, &data) != 0) {
    PushPath(kErrDefFileTime, dataPath);
    return 0;
  }
  if (FileStat(defPath, &def) != 0) {
    PushPath(kErrDefFileTime, defPath);
    return 0;
  }
  bool later = data.modified > def.modified;
  if (table && TableIsShapefile(table)) {
    for (const char* extension : {".shp", ".shx"}) {
      char path[kPathCapacity];
      if (std::strlen(dataPath) >= sizeof path) return 0;
      std::strcpy(path, dataPath);
      FileStatRec part;
      if (!PathSetExtension(path, extension) || FileStat(path, &part) != 0) {
        PushPath(kErrDefFileTime, path);
        return 0;
      }
      later = later || part.modified > def.modified;
    }
  }
  if (newer) *newer = later ? 1 : 0;
  return 1;
}

// ===== Refresh ===============================================================

int16_t TableDefRefresh(const char* defPath, const char* dataPath, TableObject* table) {
  if (!defPath || !dataPath || !table) return 0;
  const uint8_t kind = table->source.kind;
  switch (kind) {
    case kDataNative:
    case kDataRaster:
    case kDataAccess:
    case kDataRemote:
    case kDataExcel:  // worksheets are not refreshed
      return 1;
    default:
      break;
  }
  int newer = 0;
  if (!TableDataNewer(dataPath, defPath, &newer, table)) return 0;
  if (!newer) return 1;
  if (kind == kDataLotus) {
    ErrorPush(kErrorSeverity, kErrDefQuery, defPath, nullptr);
    return 0;
  }

  // Remember the indexed columns, then drop the index file: its rows no
  // longer match the data.
  std::string indexed;
  for (uint32_t i = 0; table->fields && i < table->fieldCount; ++i)
    if (table->fields[i].index) indexed += std::string(table->fields[i].name) + '\n';
  for (uint32_t i = 0; table->fields && i < table->fieldCount; ++i)
    if (table->fields[i].index) FieldIndexDrop(table, i);

  TypeClauseOptions options{};
  const DataParams& p = table->source.params;
  int fileKind = DataKindFileKind(WrittenKind(kind));
  if (kind == kDataDbase) {
    options.charset = int(p.words[2]);
    if (table->source.shapeFile) fileKind = kFileKindShape;
  } else if (kind == kDataText || kind == kDataCsv) {
    options.charset = int(p.words[3]);
    options.delimiter = char(p.Byte(8));
    options.titles = p.Byte(9);
  }
  std::string statement = Msg(kMsgRegister) + " " + Quoted(dataPath);
  char type[1024] = "";
  if (!TypeClauseWrite(type, sizeof type, fileKind, &options)) {
    ErrorPush(kErrorSeverity, kErrDefQuery, defPath, nullptr);
    return 0;
  }
  statement += type;
  statement += " " + Msg(kMsgInto) + Quoted(defPath);

  if (table->defFile > 0) FileRelease(table->defFile);
  table->defFile = 0;
  const int16_t ran = StatementRun(statement.c_str(), 1);
  table->defFile = FileTableAddName(defPath, kFileKindTable);
  if (!ran || !table->defFile) return 0;

  int32_t count = 0;
  FieldDef* fields = TableDefColumns(table->defFile, &count, 1);
  if (!fields) return 0;
  // The new columns replace the old ones.
  if (table->fields) {
    ColumnValuesFree(table->fields, int32_t(table->fieldCount));
    MemFree(table->fields);
  }
  table->fields = fields;
  table->fieldCount = uint32_t(count);
  if (table->source.file > 0) {
    DataSourceClose(&table->source, nullptr);
  }
  if (!DataSourceAttach(dataPath, 0, &table->source, kind, &count, table->fields)) return 0;
  table->fieldCount = uint32_t(count);

  // Each rebuilt index is recorded in the definition as it is made.
  bool ok = true;
  for (uint32_t i = 0; ok && i < table->fieldCount; ++i) {
    for (size_t at = 0; at < indexed.size();) {
      size_t end = indexed.find('\n', at);
      if (StrEqualNoCase(indexed.substr(at, end - at).c_str(), table->fields[i].name)) {
        ok = FieldIndexCreate(table, i, 0, nullptr, nullptr) != 0;
        break;
      }
      at = end + 1;
    }
  }
  DataSourceClose(&table->source, nullptr);
  return ok ? 1 : 0;
}

// ===== Definitions older than version 300 ====================================

namespace {

// Splits a line of the keyword form at blanks and the characters " (),'";
// a double-quoted item is one token (doubled quotes stand for one).
std::vector<std::string> SplitItems(const char* line) {
  std::vector<std::string> items;
  const char* p = line;
  auto separator = [](char c) {
    return c == ' ' || c == '\t' || c == '(' || c == ')' || c == ',' || c == '\'' || c == ';';
  };
  while (*p) {
    while (*p && separator(*p)) ++p;
    if (!*p) break;
    std::string item;
    if (*p == '"') {
      ++p;
      while (*p) {
        if (*p == '"') {
          if (p[1] != '"') {
            ++p;
            break;
          }
          ++p;
        }
        item += *p++;
      }
    } else {
      while (*p && !separator(*p)) item += *p++;
    }
    items.push_back(item);
  }
  return items;
}

bool ItemIs(const std::string& item, const char* word) {
  return StrEqualNoCase(item.c_str(), word) != 0;
}

bool ItemNumber(const std::vector<std::string>& items, size_t at, int32_t* out) {
  *out = 0;
  if (at >= items.size()) return false;
  return NumParseLong(items[at].c_str(), out) != nullptr;
}

char* ReadTrimmed(char* buffer, int size, FileHandle file) {
  if (!FileReadLine(buffer, size, file)) return nullptr;
  size_t n = std::strlen(buffer);
  // A line longer than the buffer: the rest of it is dropped.
  if (n && buffer[n - 1] != '\n') {
    char rest[kLegacyLine];
    while (FileReadLine(rest, sizeof rest, file)) {
      size_t m = std::strlen(rest);
      if (m && rest[m - 1] == '\n') break;
    }
  }
  StrTrimRight(buffer);
  StrStripLeading(buffer);
  return buffer;
}

// The type line: the data kind, its parameters and its charset.
bool LegacyType(DefParse* parse, const char* rest, int* charset) {
  TableObject* table = parse->table;
  std::vector<std::string> items = SplitItems(rest);
  if (items.empty()) {
    ErrorPush(kErrorSeverity, kErrDefTableType, "", nullptr);
    return false;
  }
  uint8_t kind;
  if (ItemIs(items[0], "ASCII"))
    kind = kDataText;
  else if (ItemIs(items[0], "DBF"))
    kind = kDataDbase;
  else if (ItemIs(items[0], "WKS"))
    kind = kDataLotus;
  else if (ItemIs(items[0], "XLS"))
    kind = kDataExcel;
  else if (ItemIs(items[0], "NATIVE"))
    kind = kDataNative;
  else {
    ErrorPush(kErrorSeverity, kErrDefTableType, items[0].c_str(), nullptr);
    return false;
  }
  DataSource& s = table->source;
  DataSourceFreeRange(&s);
  s.kind = kind;
  DataSourceDefaults(kind, s.params.words);
  for (size_t i = 1; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (ItemIs(item, "Delimiter") && kind == kDataText && i + 1 < items.size()) {
      const std::string& value = items[++i];
      int32_t code = 0;
      if (!value.empty() && value.size() <= 3 && NumParseLong(value.c_str(), &code) &&
          value.find_first_not_of("0123456789") == std::string::npos)
        s.params.SetByte(8, uint8_t(code));
      else
        s.params.SetByte(8, value.empty() ? '\t' : uint8_t(value[0]));
    } else if (ItemIs(item, "Titles") && (kind == kDataText || kind == kDataLotus ||
                                          kind == kDataExcel)) {
      if (kind == kDataText)
        s.params.SetByte(9, 1);
      else
        s.params.SetHalf(28, 1);
    } else if (ItemIs(item, "Charset") && i + 1 < items.size()) {
      const std::string& name = items[++i];
      int code = CharsetFromName(name.c_str());
      if (code < 0) {
        ErrorPush(kErrorSeverity, kErrUnknownCharset, name.c_str(), nullptr);
        return false;
      }
      *charset = code;
    } else if (ItemIs(item, "Range") && i + 1 < items.size()) {
      const std::string& range = items[++i];
      if ((kind == kDataLotus || kind == kDataExcel) && !DataSourceSetRange(&s, range.c_str()))
        return false;
    }
  }
  return true;
}

// One field line: name, type word with its sizes, optional Index n [UNIQUE].
bool LegacyField(DefParse* parse, uint32_t at, const char* line, ColumnNameList* names) {
  TableObject* table = parse->table;
  FieldDef& f = table->fields[at];
  std::vector<std::string> items = SplitItems(line);
  if (items.size() < 2) {
    ErrorPush(kErrorSeverity, kErrDefTypeWord, line, nullptr);
    return false;
  }
  StrCopyPadded(f.name, items[0].c_str(), sizeof f.name);
  if (!ColumnNameUnique(f.name, names)) return false;
  int type = 0;
  for (int t = kFieldChar; t <= kFieldMemo; ++t) {
    if (t == kFieldChar25) continue;
    if (ItemIs(items[1], MsgGetText(kMsgTypeNameBase + t))) type = t;
  }
  size_t next = 2;
  int32_t width = 0, decimals = 0;
  switch (type) {
    case kFieldChar:
      if (!ItemNumber(items, next++, &width)) type = 0;
      width = width < 1 ? 1 : width > 254 ? 254 : width;
      break;
    case kFieldDecimal:
      if (!ItemNumber(items, next, &width) || !ItemNumber(items, next + 1, &decimals)) type = 0;
      next += 2;
      width = width < 1 ? 1 : width > 20 ? 20 : width;
      decimals = decimals < 0 ? 0 : decimals > width - 2 ? (width > 2 ? width - 2 : 0) : decimals;
      break;
    case kFieldFloat:
      width = 8;
      decimals = 5;
      break;
    case kFieldInteger:
    case kFieldDate:
      width = 4;
      break;
    case kFieldSmallint:
      width = 2;
      break;
    case kFieldLogical:
      width = 1;
      break;
    case kFieldMemo:
      width = 13;
      break;
    default:
      break;
  }
  if (!type) {
    ErrorPush(kErrorSeverity, kErrDefTypeWord, items[1].c_str(), nullptr);
    return false;
  }
  f.value.kind = uint8_t(type);
  f.width = uint8_t(width);
  f.decimals = uint8_t(decimals);
  if (next < items.size() && ItemIs(items[next], MsgGetText(kMsgIndex))) {
    int32_t number = 0;
    ItemNumber(items, next + 1, &number);
    int unique = next + 2 < items.size() && ItemIs(items[next + 2], "UNIQUE");
    if (!FieldIndexBind(table, at, number, unique) && !parse->quiet)
      ErrorFatal(MsgGetText(kMsgIndexNoAccess), f.name, table->name);
  }
  return true;
}

// The rest of the file from the current line, read as the metadata section.
bool LegacyMetadata(DefParse* parse, FileHandle file) {
  std::string text;
  char line[4096];
  while (FileReadLine(line, sizeof line, file)) text += line;
  MetadataNode* root = parse->metadata ? parse->metadata : MetadataCreate();
  if (!root) return false;
  SettingsSnapshot saved;
  SettingsSnapshotSave(&saved);
  bool ok = TokBeginText(text.c_str()) && MetadataParse(root, 0);
  TokEnd();
  SettingsSnapshotRestore(&saved);
  parse->metadata = root;
  if (!ok) return false;
  MetadataFlags flags{};
  MetadataReadFlags(root, &flags);
  parse->readOnly = flags.readOnly;
  parse->seamless = flags.seamless;
  parse->drilldown = flags.drilldown;
  return true;
}

}  // namespace

int16_t TableDefReadLegacy(DefParse* parse, FileHandle file) {
  if (!parse || !parse->table) return 0;
  TableObject* table = parse->table;
  parse->legacy = 1;
  int charset = CharsetFromName("ANSI");
  bool typed = false;
  // The fatal routine may unwind from a field line: the list frees itself.
  struct Names {
    ColumnNameList list{};
    ~Names() { ColumnNameListFree(&list); }
  } names;
  bool ok = true;
  char line[kLegacyLine];
  while (ok && ReadTrimmed(line, sizeof line, file)) {
    size_t keyEnd = std::strcspn(line, ": \t");
    std::string key(line, keyEnd);
    const char* rest = line + keyEnd;
    if (*rest == ':') ++rest;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (ItemIs(key, "DESCRIPTION")) {
      char text[kLegacyLine];
      StrUnquote(text, rest, "\"", sizeof text);
      MemFree(table->description);
      table->description = static_cast<char*>(MemAlloc(std::strlen(text) + 1));
      if (!table->description) {
        ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
        ok = false;
      } else {
        std::strcpy(table->description, text);
      }
    } else if (ItemIs(key, "FILE")) {
      StrUnquote(parse->dataFile, rest, "\"", sizeof parse->dataFile);
    } else if (ItemIs(key, "FORMAT") || ItemIs(key, "TYPE")) {
      ok = LegacyType(parse, rest, &charset);
      typed = true;
    } else if (ItemIs(key, "FIELDS")) {
      int32_t count = 0;
      if (!NumParseLong(rest, &count) || count < 0 || count > 65535) {
        ErrorPush(kErrorSeverity, kErrDefTypeWord, rest, nullptr);
        ok = false;
        break;
      }
      if (table->fields) {
        ColumnValuesFree(table->fields, int32_t(table->fieldCount));
        MemFree(table->fields);
      }
      table->fieldCount = 0;
      table->fields = nullptr;
      if (count == 0) continue;
      table->fields = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * size_t(count)));
      if (!table->fields) {
        ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
        ok = false;
        break;
      }
      std::memset(table->fields, 0, sizeof(FieldDef) * size_t(count));
      table->fieldCount = uint32_t(count);
      for (int32_t i = 0; ok && i < count; ++i) {
        char field[kLegacyLine];
        if (!ReadTrimmed(field, sizeof field, file)) {
          ErrorPush(kErrorSeverity, kErrDefLegacyNoColumns, table->name, nullptr);
          ok = false;
          break;
        }
        ok = LegacyField(parse, uint32_t(i), field, &names.list);
      }
    } else if (ItemIs(key, "READONLY")) {
      // As the clause form's ReadOnly: metadata that says otherwise lifts it.
      table->readOnly = 1;
    } else if (ItemIs(key, "begin_metadata")) {
      ok = LegacyMetadata(parse, file);
      break;
    }
  }
  if (ok && (!table->fields || table->fieldCount == 0)) {
    ErrorPush(kErrorSeverity, kErrDefLegacyNoColumns, table->name, nullptr);
    ok = false;
  }
  if (!ok) return 0;
  if (!typed) {
    table->source.kind = kDataNative;
    DataSourceDefaults(kDataNative, table->source.params.words);
  }
  // The charset of the data file sits where the kind keeps it.
  switch (table->source.kind) {
    case kDataDbase:
    case kDataNative:
      table->source.params.words[2] = uint32_t(charset);
      break;
    case kDataText:
      table->source.params.words[3] = uint32_t(charset);
      break;
    default:
      break;
  }
  parse->kind = kDefTable;
  return 1;
}

FieldDef* TableDefColumns(FileHandle defFile, int32_t* count, int flag) {
  if (count) *count = 0;
  // The temporary table and the reader's record free themselves, also when
  // the fatal routine unwinds from the reader.
  struct Scratch {
    TableObject* table = nullptr;
    DefParse* parse = nullptr;
    ~Scratch() {
      if (parse) MetadataFree(parse->metadata);
      MemFree(parse);
      if (table) {
        table->defFile = 0;  // the caller's entry
        TableClose(table);
      }
    }
  } scratch;
  scratch.table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
  scratch.parse = static_cast<DefParse*>(MemAlloc(sizeof(DefParse)));
  if (!scratch.table || !scratch.parse) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return nullptr;
  }
  TableObject* table = scratch.table;
  std::memset(table, 0, sizeof *table);
  table->source.kind = kDataNative;
  char base[kNameCapacity];
  FileBaseName(defFile, base);
  PathSetExtension(base, "");
  size_t n = std::strlen(base);
  if (n && base[n - 1] == '.') base[n - 1] = '\0';
  StrCopyPadded(table->name, base, sizeof table->name);

  DefParse* parse = scratch.parse;
  std::memset(parse, 0, sizeof *parse);
  parse->allowTable = 1;
  parse->table = table;
  parse->defFile = defFile;
  // With the flag a column whose index cannot be had is no failure: the
  // caller wants the columns, and rebuilds the indexes itself.
  parse->quiet = flag ? 1 : 0;
  if (!DefinitionHeaderRead(defFile, parse) || !table->fields || table->fieldCount == 0)
    return nullptr;
  FieldDef* fields = table->fields;
  if (count) *count = int32_t(table->fieldCount);
  for (uint32_t i = 0; i < table->fieldCount; ++i) {
    if (fields[i].index) {
      IndexKeyFree(&fields[i].index->key);
      MemFree(fields[i].index);
      fields[i].index = nullptr;
    }
  }
  table->fields = nullptr;
  table->fieldCount = 0;
  return fields;
}

// ===== Closing ===============================================================

void TableClose(TableObject* table) {
  if (!table) return;
  MetadataFree(table->metadata);
  table->metadata = nullptr;
  DataSourceClose(&table->source, table->fields);
  TableMapPartClose(table);
  MemFreePtr(&table->description);
  if (table->fields) {
    ColumnValuesFree(table->fields, int32_t(table->fieldCount));
    for (uint32_t i = 0; i < table->fieldCount; ++i) {
      if (FieldIndex* index = table->fields[i].index) {
        IndexKeyFree(&index->key);
        MemFree(index);
        table->fields[i].index = nullptr;
      }
    }
    MemFreePtr(&table->fields);
  }
  table->fieldCount = 0;
  MemFreePtr(&table->linkedRecord);
  ColumnSetFree(&table->columns);
  MemFreePtr(&table->parts);
  table->partCount = 0;
  IndexSearchCacheFree(table);
  // The .IND's entry is the table's to release, unless the file goes with
  // its close (a temporary table's).
  FileHandle indexEntry = table->indexFile;
  if (IndexFile* indexes = table->indexes) {
    if (table->temporary) indexes->deleteOnClose = 1;
    if (indexes->deleteOnClose && indexes->file == indexEntry) indexEntry = 0;
    IndexFileClose(indexes);
    table->indexes = nullptr;
  }
  if (indexEntry > 0) {
    if (table->temporary) FileCloseAndRemove(indexEntry);
    FileRelease(indexEntry);
  }
  table->indexFile = 0;
  if (table->defFile > 0) FileRelease(table->defFile);
  table->defFile = 0;
  MemFree(table);
}

// ===== Views =================================================================

int16_t TableViewOfTable(TableObject* view, TableObject* table, int refuse) {
  if (!view || !table) return 0;
  if (view->viewKind == 5 || (view->viewKind == 0 && refuse)) {
    ErrorPush(kErrorSeverity, kErrDefViewBind, view->name, nullptr);
    return 0;
  }
  if (view->viewKind != 0) {
    ErrorPush(kErrorSeverity, kErrDefQuery, view->name, nullptr);
    return 0;
  }
  StrCopyPadded(view->name, table->name, sizeof view->name);
  const uint8_t kind = table->source.kind;
  const bool writable =
      kind == kDataNative || kind == kDataDbase || kind == kDataRemote || kind == kDataAccess;
  view->readOnly = writable ? table->readOnly : 1;
  view->editState = table->editState;

  auto* set = static_cast<ColumnSet*>(MemAlloc(sizeof(ColumnSet)));
  auto* part = static_cast<ViewPart*>(MemAlloc(sizeof(ViewPart)));
  const uint32_t count = table->fieldCount;
  auto* slots = static_cast<ColumnSlot*>(MemAlloc(sizeof(ColumnSlot) * (count ? count : 1)));
  if (!set || !part || !slots) {
    MemFree(set);
    MemFree(part);
    MemFree(slots);
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(set, 0, sizeof *set);
  std::memset(slots, 0, sizeof(ColumnSlot) * (count ? count : 1));
  set->slots = slots;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ColumnSlotInit(&slots[i], view, table, &table->fields[i], i)) {
      ColumnSetFree(&set);
      MemFree(part);
      return 0;
    }
    set->count = i + 1;
  }
  std::memset(part, 0, sizeof *part);
  part->table = table;
  ColumnSetFree(&view->columns);
  view->columns = set;
  MemFree(view->parts);
  view->parts = part;
  view->partCount = 1;
  view->joinKind = kJoinNone;
  view->viewKind = 1;
  return 1;
}

}  // namespace layerio
