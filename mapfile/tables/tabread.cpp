// The definition reader: a .TAB file turned into an open TableObject.
//
// A definition is a few header lines ("!table", "!version n", optionally
// "!charset name", "!readentire_version n", "!edit_version n") and then
// clauses read by the keyword tokenizer: "Definition Table" with its File,
// Description, Type, Fields and ReadOnly parts, the metadata section, the
// "Open Table" and "create view" clauses of a query definition and the
// "Register Table" clause that writes a definition for a foreign file.
//
// Relative names inside a definition are taken against the definition's own
// directory; the process's current directory is never changed, so that a
// reader run leaves nothing behind for other code of the process.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/foundation/date.h"
#include "mapfile/foundation/token.h"
#include "mapfile/objects/objstore.h"

#include "mapfile/tables/access.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"
#include "platform/env.h"

namespace layerio {

namespace {

// The map part of a table (see TableMapPartClose).
struct TableMapPart {
  ObjStore store;
  ObjStoreTable owner;
};
static_assert(offsetof(TableMapPart, store) == 0, "the map part is freed through its store");

constexpr int16_t kErrSyntax = 615;         // found, expected
constexpr int16_t kErrTooManyFields = 877;  // a Fields count past what a table holds
constexpr int16_t kErrFileStatus = 1932;
constexpr int kHeaderLineSize = 81;  // header lines are read 80 characters at a time
constexpr int kMaxVersion = 850;
constexpr int kLegacyVersion = 300;
constexpr uint8_t kEditReadOnly = 255;
constexpr uint8_t kEditLinked = 3;
// No table this library writes or reads has more fields than this; a larger
// count is a damaged definition, refused before anything is allocated.
constexpr double kMaxFields = 1024;
constexpr char kMsgIndexNoAccess[] = "Unable to access index for field %s of table %s.";

// The record of the reader run whose clauses are being read (null when a
// statement runs without one). Nested runs save and restore it.
DefParse* gParse = nullptr;

// ----- tokens -----

bool IsWordToken(const Value* t) {
  return t && (t->kind == kValueKeyword || t->kind == kValueIdentifier ||
               t->kind == kValueBorrowedIdentifier);
}

// The current token is the word (any case), as a keyword or a name.
bool IsWord(const char* word) {
  return IsWordToken(TokCurrent()) && StrEqualNoCase(TokCurrentText(), word);
}

bool IsPunct(char c) {
  const Value* t = TokCurrent();
  const char* text = TokCurrentText();
  return t && t->kind == kValueKeyword && text[0] == c && text[1] == 0;
}

std::string CurrentText() {
  char text[64] = "";
  if (const Value* t = TokCurrent()) TokText(t, text, sizeof text);
  return text;
}

void Push(int16_t code, const char* text0 = nullptr, const char* text1 = nullptr) {
  ErrorPush(kErrorSeverity, code, text0, text1);
}

// 615 with what was found and what was expected; the stream is not skipped.
bool Unexpected(const char* expected) {
  Push(kErrSyntax, CurrentText().c_str(), expected);
  return false;
}

bool ExpectWord(const char* word) {
  if (!IsWord(word)) return Unexpected(word);
  TokNext();
  return true;
}

// A string (a bare word is taken as one); 694 otherwise.
bool ReadString(std::string* out) {
  if (!TokIs(kTokString)) {
    Push(kErrDefString, CurrentText().c_str());
    return false;
  }
  *out = TokCurrentText();
  TokNext();
  return true;
}

bool ReadNumber(double* out) {
  const Value* t = TokCurrent();
  if (!TokIs(kTokNumber)) return Unexpected(MsgGetText(613));
  *out = t->u.d;
  TokNext();
  return true;
}

// A number read from a file, brought into [low, high] before it is made an
// integer (a huge or not-a-number value must not reach the conversion).
int Clamp(double x, int low, int high) {
  if (!(x >= low)) return low;
  if (x > high) return high;
  return int(x);
}

// ----- paths -----

// Names are cut to their record; paths never reach a smaller buffer.
void CopyText(char* out, size_t size, const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  if (n >= size) n = size - 1;
  if (n) std::memcpy(out, text, n);
  out[n] = 0;
}

bool EndsWithNoCase(const char* text, const char* tail) {
  size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && StrEqualNoCase(text + n - m, tail);
}

// A name inside a definition taken against the definition's directory.
bool PathBesideDefinition(char* path, FileHandle defFile) {
  return defFile ? PathRelativeToFile(path, defFile) != 0 : PathFull(path) != 0;
}

// A definition path: the definition extension unless it has it (in any case).
bool DefinitionPath(char* path, FileHandle base) {
  if (!EndsWithNoCase(path, ".tab") && !PathSetKindExtension(path, kFileKindTable)) return false;
  return PathBesideDefinition(path, base);
}

// ----- the table being read -----

void TableNameFromPath(TableObject* table, const char* path) {
  char alias[kPathCapacity];
  PathToAlias(path, alias);
  CopyText(table->name, sizeof table->name, alias);
}

// Frees a table the reader built and did not hand over; its definition
// entry belongs to the caller. A data source that was never attached has
// nothing for its driver to end.
void DiscardTable(TableObject* table) {
  if (!table) return;
  table->defFile = 0;
  if (table->source.file <= 0) {
    DataSourceFreeRange(&table->source);
    table->source.kind = kDataNone;
  }
  TableClose(table);
}

TableObject* NewTable() {
  auto* table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
  if (!table) {
    Push(kErrAllocFailed);
    return nullptr;
  }
  std::memset(table, 0, sizeof *table);
  table->source.kind = kDataNative;
  table->reportingPart = -1;
  return table;
}

// ----- header lines -----

// One header line of at most 80 characters without its line end; the rest of
// a longer line is dropped. False at the end of the file.
bool HeaderLine(FileHandle file, char* line) {
  if (!FileReadLine(line, kHeaderLineSize, file)) return false;
  size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] == '\n') {
    line[n - 1] = 0;
  } else {
    char rest[kHeaderLineSize];
    while (FileReadLine(rest, sizeof rest, file)) {
      size_t m = std::strlen(rest);
      if (m > 0 && rest[m - 1] == '\n') break;
    }
  }
  return true;
}

bool StartsWithNoCase(const char* text, const char* head) {
  return StrEqualNoCaseN(text, head, std::strlen(head)) != 0;
}

// Reads the next line when it begins with `head`; otherwise leaves it unread.
bool HeaderLineIf(FileHandle file, const char* head, char* line) {
  int64_t at = FileStreamTell(file);
  if (at < 0) return false;
  if (HeaderLine(file, line) && StartsWithNoCase(line, head)) return true;
  FileStreamSeek(file, at, 0);
  return false;
}

// The integer after the first blank of a line, held within the 16-bit range.
int32_t HeaderNumber(const char* line) {
  const char* p = line;
  while (*p && *p != ' ' && *p != '\t') ++p;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (n < 100000) n = n * 10 + (*p - '0');
  }
  if (n > 32767) n = 32767;
  return int32_t(negative ? -n : n);
}

// The rest of the definition, as the text stream gives it (converted from the
// file's charset).
bool ReadRest(FileHandle file, std::string* text) {
  char buffer[4096];
  while (FileReadLine(buffer, sizeof buffer, file)) text->append(buffer);
  return FileStreamError(file) == 0;
}

// ----- Type -----

struct TypeRead {
  uint8_t kind = kDataNative;
  uint8_t shapeFile = 0;
  uint8_t linked = 0;
  uint8_t webFeature = 0;
  uint8_t query = 0;
  uint8_t readOnly = 0;
  int charset = -1;
  int delimiter = -1;
  uint8_t titles = 0;
  std::string accessTable;  // an Access table's name and password
  std::string accessPassword;
  std::string range;  // a worksheet's range: a name or cells; empty for the active range
};

enum TypeOptions : unsigned {
  kOptCharset = 1,
  kOptDelimiter = 2,
  kOptTitles = 4,
  kOptRange = 8,
  kOptInteractive = 16,
  kOptAccess = 32,
};

bool ReadCharsetName(int* charset) {
  std::string name;
  if (!TokIs(kTokString)) return Unexpected(MsgGetText(612));
  name = TokCurrentText();
  TokNext();
  int code = CharsetFromName(name.c_str());
  if (code < 0) {
    Push(kErrCharsetCode, name.c_str());
    return false;
  }
  *charset = code;
  return true;
}

// The options of a kind, in any order, up to the first word that is none.
bool ReadTypeOptions(unsigned allowed, TypeRead* type) {
  bool accessTable = false;
  for (;;) {
    if ((allowed & kOptCharset) && IsWord("charset")) {
      TokNext();
      if (!ReadCharsetName(&type->charset)) return false;
    } else if ((allowed & kOptDelimiter) && IsWord("delimiter")) {
      TokNext();
      const Value* t = TokCurrent();
      if (TokIs(kTokNumber)) {
        type->delimiter = Clamp(t->u.d, 0, 255);
        TokNext();
      } else if (TokIs(kTokString)) {
        type->delimiter = uint8_t(TokCurrentText()[0]);
        if (type->delimiter == 0) type->delimiter = '\t';
        TokNext();
      } else {
        return Unexpected(MsgGetText(612));
      }
    } else if ((allowed & kOptTitles) && IsWord("titles")) {
      type->titles = 1;
      TokNext();
    } else if ((allowed & kOptRange) && IsWord("range")) {
      TokNext();
      if (!ReadString(&type->range)) return false;
    } else if ((allowed & kOptInteractive) && IsWord("interactive")) {
      TokNext();
    } else if ((allowed & kOptAccess) && IsWord("table")) {
      TokNext();
      if (!ReadString(&type->accessTable)) return false;
      accessTable = true;
    } else if ((allowed & kOptAccess) && IsWord("password")) {
      TokNext();
      if (!ReadString(&type->accessPassword)) return false;
    } else {
      break;
    }
  }
  if ((allowed & kOptAccess) && !accessTable) {
    Push(kErrDefString, CurrentText().c_str());
    return false;
  }
  return true;
}

// The type word and its options. Inside a registration "LINKED" is refused.
bool ReadType(TypeRead* type, bool registration) {
  if (!TokIs(kTokIdentifier)) {
    Push(kErrDefTypeWord, CurrentText().c_str());
    return false;
  }
  std::string word = TokCurrentText();
  const char* w = word.c_str();
  TokNext();
  unsigned options = 0;
  if (StrEqualNoCase(w, "ascii")) {
    type->kind = kDataText;
    options = kOptDelimiter | kOptTitles | kOptCharset;
  } else if (StrEqualNoCase(w, "wks")) {
    type->kind = kDataLotus;
    options = kOptTitles | kOptRange;
  } else if (StrEqualNoCase(w, "xls")) {
    type->kind = kDataExcel;
    options = kOptTitles | kOptRange | kOptInteractive;
  } else if (StrEqualNoCase(w, "dbf")) {
    type->kind = kDataDbase;
    options = kOptCharset;
  } else if (StrEqualNoCase(w, "native")) {
    type->kind = kDataNative;
    options = kOptCharset;
  } else if (StrEqualNoCase(w, "odbc")) {
    type->kind = kDataRemote;
  } else if (StrEqualNoCase(w, "shapefile")) {
    type->kind = kDataDbase;
    type->shapeFile = 1;
    type->readOnly = 1;
    options = kOptCharset;
  } else if (StrEqualNoCase(w, "access")) {
    type->kind = kDataAccess;
    options = kOptAccess | kOptCharset;
  } else if (StrEqualNoCase(w, "linked") && !registration) {
    type->kind = kDataNative;
    type->linked = 1;
    options = kOptCharset;
  } else if (StrEqualNoCase(w, "wfs")) {
    type->kind = kDataNative;
    type->webFeature = 1;
    type->readOnly = 1;
    options = kOptCharset;
  } else if (StrEqualNoCase(w, "query")) {
    type->kind = kDataQuery;
    type->query = 1;
  } else if (StrEqualNoCase(w, "raster") || StrEqualNoCase(w, "wms")) {
    Push(kErrDefRaster, w);
    return false;
  } else {
    Push(kErrDefTableType, w);
    return false;
  }
  return ReadTypeOptions(options, type);
}

// The kind's defaults, then what the definition gave over them. False with
// the error pushed when the range cannot be kept.
bool ApplyType(const TypeRead& type, DataSource* source) {
  DataSourceFreeRange(source);
  source->kind = type.kind;
  source->shapeFile = type.shapeFile;
  source->query = type.query;
  DataSourceDefaults(type.kind, source->params.words);
  if (type.charset >= 0) {
    switch (type.kind) {
      case kDataDbase:
      case kDataNative:
        source->params.words[2] = uint32_t(type.charset);
        break;
      case kDataText:
        source->params.words[3] = uint32_t(type.charset);
        break;
      case kDataAccess:
        source->params.words[6] = uint32_t(type.charset);
        break;
      default:
        break;
    }
  }
  if (type.kind == kDataText) {
    if (type.delimiter >= 0) source->params.SetByte(8, uint8_t(type.delimiter));
    source->params.SetByte(9, type.titles);
  } else if (type.kind == kDataLotus || type.kind == kDataExcel) {
    source->params.SetHalf(28, type.titles);
    if (!DataSourceSetRange(source, type.range.c_str())) return false;
  } else if (type.kind == kDataAccess) {
    // The database is the definition's data file; the source keeps the rest
    // until it is closed.
    AccessSettings settings;
    settings.table = type.accessTable;
    settings.password = type.accessPassword;
    AccessSourceSetup(source, settings);
  }
  return true;
}

// The optional CoordSys clause after a type.
bool ReadCoordSys(CoordSys* out, uint8_t* present) {
  if (!TokIs(kKwCoordSys)) return true;
  TokNext();
  int16_t projection = 0;
  CoordSysParams block;
  DRect bounds{};
  if (!CoordSysClauseParse(&projection, &block, &bounds)) {
    if (ErrorCount() == 0) Unexpected("CoordSys");
    return false;
  }
  if (out) {
    CoordSysInit(out, projection, &block);
    CoordSysSetBounds(out, bounds.x1, bounds.y1, bounds.x2, bounds.y2);
  }
  if (present) *present = 1;
  return true;
}

bool TypeClause(DefParse* parse) {
  TableObject* table = parse->table;
  TypeRead type;
  if (!ReadType(&type, false)) return false;
  if (!ApplyType(type, &table->source)) return false;
  if (type.readOnly) table->editState = kEditReadOnly;
  table->linked = type.linked;
  table->webFeature = type.webFeature;
  if (table->fields && !ColumnNamesMakeUnique(table->fields, int32_t(table->fieldCount))) return false;
  if (!ReadCoordSys(&parse->mapCoordSys, &parse->mapPresent)) return false;
  parse->webFeature = type.webFeature;
  if (type.query) {
    Push(kErrDefQuery, table->name);
    return false;
  }
  return true;
}

// ----- Fields -----

struct FieldType {
  const char* word;
  uint8_t type;
  uint8_t width;  // of the fixed types
};
constexpr FieldType kFieldTypes[] = {
    {"char", kFieldChar, 0},        {"decimal", kFieldDecimal, 0}, {"integer", kFieldInteger, 4},
    {"smallint", kFieldSmallint, 2}, {"date", kFieldDate, 4},       {"logical", kFieldLogical, 1},
    {"float", kFieldFloat, 8},
};

bool ReadParenNumbers(double* values, int count) {
  if (!IsPunct('(')) return Unexpected("(");
  TokNext();
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (!IsPunct(',')) return Unexpected(",");
      TokNext();
    }
    if (!ReadNumber(&values[i])) return false;
  }
  if (!IsPunct(')')) return Unexpected(")");
  TokNext();
  return true;
}

// One field line into `field` (number `at`).
bool FieldLine(DefParse* parse, FieldDef* field, uint32_t at) {
  TableObject* table = parse->table;
  if (!TokIs(kTokIdentifier) || !IdentIsValid(TokCurrentText())) {
    Push(kErrDefIdentifier, CurrentText().c_str());
    return false;
  }
  CopyText(field->name, sizeof field->name, TokCurrentText());
  TokNext();
  const FieldType* type = nullptr;
  if (IsWordToken(TokCurrent())) {
    for (const FieldType& t : kFieldTypes) {
      if (StrEqualNoCase(TokCurrentText(), t.word)) type = &t;
    }
  }
  if (!type) {
    Push(kErrDefTypeWord, CurrentText().c_str());
    return false;
  }
  TokNext();
  field->value.kind = type->type;
  field->width = type->width;
  if (type->type == kFieldChar) {
    double w = 0;
    if (!ReadParenNumbers(&w, 1)) return false;
    field->width = uint8_t(Clamp(w, 1, 254));
  } else if (type->type == kFieldDecimal) {
    double wd[2] = {0, 0};
    if (!ReadParenNumbers(wd, 2)) return false;
    int width = Clamp(wd[0], 1, 20);
    field->width = uint8_t(width);
    field->decimals = uint8_t(Clamp(wd[1], 0, width > 2 ? width - 2 : 0));
  }
  // The marks, then everything up to and including ";".
  while (const Value* t = TokCurrent()) {
    if (IsPunct(';')) {
      TokNext();
      break;
    }
    if (IsWord("index")) {
      TokNext();
      double number = 0;
      if (!ReadNumber(&number)) return false;
      int unique = 0;
      if (IsWord("unique")) {
        unique = 1;
        TokNext();
      }
      if (table->indexes) {
        if (!FieldIndexBind(table, at, Clamp(number, 0, 65535), unique)) {
          Push(kErrDefFieldIndex, field->name);
          return false;
        }
      } else if (!parse->quiet) {
        ErrorFatal(kMsgIndexNoAccess, field->name, table->name);
      }
      continue;
    }
    if (IsWord("readonly")) {
      field->readOnly = 1;
    } else if (IsWord("autokey")) {
      field->autokey = 1;
      field->readOnly = 1;
    }
    (void)t;
    TokNext();
  }
  return true;
}

bool FieldsClause(DefParse* parse) {
  TableObject* table = parse->table;
  if (table->fields) {
    Push(kErrDefClauseHere, "Fields");
    return false;
  }
  double declared = 0;
  if (!ReadNumber(&declared)) return false;
  if (!(declared >= 0) || declared > kMaxFields) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::isfinite(declared) ? declared : -1.0);
    Push(kErrTooManyFields, text);
    return false;
  }
  uint32_t count = uint32_t(declared);
  auto* fields = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * (count ? count : 1)));
  if (!fields) {
    Push(kErrAllocFailed);
    return false;
  }
  std::memset(fields, 0, sizeof(FieldDef) * (count ? count : 1));
  table->fields = fields;
  table->fieldCount = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!TokCurrent()) {
      // Fewer lines than declared: the definition was cut short.
      Unexpected(MsgGetText(611));
      return false;
    }
    table->fieldCount = i + 1;
    if (!FieldLine(parse, &fields[i], i)) return false;
  }
  return ColumnNamesMakeUnique(fields, int32_t(table->fieldCount)) != 0;
}

// ----- the definition clause -----

bool DefinitionClause(DefParse* parse) {
  if (!parse || !parse->allowTable || ParseMode() == 1) {
    Push(kErrDefClauseHere, CurrentText().c_str());
    return false;
  }
  TokNext();
  if (!ExpectWord("table")) return false;
  parse->kind = kDefTable;
  TableObject* table = parse->table;
  while (TokCurrent() && !IsWord("begin_metadata")) {
    std::string text;
    if (IsWord("file")) {
      TokNext();
      if (!ReadString(&text)) return false;
      CopyText(parse->dataFile, sizeof parse->dataFile, text.c_str());
    } else if (IsWord("description")) {
      TokNext();
      if (!ReadString(&text)) return false;
      MemFreePtr(&table->description);
      table->description = static_cast<char*>(MemAlloc(text.size() + 1));
      if (!table->description) {
        Push(kErrAllocFailed);
        return false;
      }
      std::memcpy(table->description, text.c_str(), text.size() + 1);
    } else if (IsWord("type")) {
      TokNext();
      if (!TypeClause(parse)) return false;
    } else if (IsWord("fields")) {
      TokNext();
      if (!FieldsClause(parse)) return false;
    } else if (IsWord("readonly")) {
      table->readOnly = 1;
      TokNext();
    } else {
      TokNext();  // not a part of the clause
    }
  }
  return true;
}

// ----- metadata -----

void SkipMetadata() {
  while (TokCurrent() && !IsWord("end_metadata")) TokNext();
  if (TokCurrent()) TokNext();
}

bool MetadataClause(DefParse* parse) {
  if (!parse || parse->kind == kDefQuery) {
    SkipMetadata();
    return true;
  }
  if (!parse->metadata) {
    parse->metadata = MetadataCreate();
    if (!parse->metadata) return false;
  }
  if (!MetadataParse(parse->metadata, 1)) return false;
  MetadataFlags flags{};
  MetadataReadFlags(parse->metadata, &flags);
  parse->readOnly = flags.readOnly;
  parse->seamless = flags.seamless;
  parse->drilldown = flags.drilldown;
  return true;
}

// ----- query definitions -----

QueryCollect* Collect() {
  InterfaceState& s = Interface();
  return s.queryCollect ? static_cast<QueryCollect*>(s.queryBlock) : nullptr;
}

template <class T>
bool Grow(T** array, uint32_t count) {
  void* p = MemRealloc(*array, sizeof(T) * (count + 1));
  if (!p) {
    Push(kErrAllocFailed);
    return false;
  }
  *array = static_cast<T*>(p);
  std::memset(*array + count, 0, sizeof(T));
  return true;
}

// Closes a base table's definition opened for its columns.
void CloseBaseTable(TableObject* table) {
  if (!table) return;
  FileHandle defFile = table->defFile;
  table->defFile = 0;
  TableClose(table);
  FileRelease(defFile);
}

// Opens a base table's definition outside collection mode to learn its
// columns.
TableObject* OpenBaseTable(const char* path) {
  if (FileTableFind(path, kFileKindTable)) {
    Push(kErrDefAlreadyOpen, path);
    return nullptr;
  }
  FileHandle file = FileTableAddName(path, kFileKindTable);
  if (!file) return nullptr;
  InterfaceState& s = Interface();
  uint32_t mode = s.queryCollect;
  s.queryCollect = 0;
  TableObject* table = nullptr;
  try {
    table = TableDefinitionOpen(file);
  } catch (...) {
    s.queryCollect = mode;
    FileRelease(file);
    throw;
  }
  s.queryCollect = mode;
  if (!table) {
    FileRelease(file);
    return nullptr;
  }
  table->defFile = file;
  return table;
}

bool BaseTableClause(DefParse* parse, QueryCollect* collect) {
  std::string given;
  if (!ReadString(&given)) return false;
  char path[kPathCapacity];
  CopyText(path, sizeof path, given.c_str());
  if (!DefinitionPath(path, parse ? parse->defFile : 0)) return false;
  char alias[kPathCapacity];
  PathToAlias(path, alias);
  for (;;) {
    if (IsWord("as")) {
      TokNext();
      std::string name;
      if (!ReadString(&name)) return false;
      CopyText(alias, sizeof alias, name.c_str());
    } else if (IsWord("hide") || IsWord("interactive") || IsWord("readonly")) {
      TokNext();
    } else {
      break;
    }
  }
  if (std::strlen(path) >= sizeof(PXQueryTable::path)) {
    Push(kErrFileOpenFailed, "36", path);  // ENAMETOOLONG: the record cannot hold it
    return false;
  }
  if (parse) parse->kind = kDefQuery;
  TableObject* base = OpenBaseTable(path);
  if (!base) return false;
  uint32_t n = collect->tableCount;
  if (!Grow(&collect->tables, n) || !Grow(&collect->tableDefs, n)) {
    CloseBaseTable(base);
    return false;
  }
  CopyText(collect->tables[n].path, sizeof collect->tables[n].path, path);
  CopyText(collect->tables[n].name, sizeof collect->tables[n].name, alias);
  collect->tableDefs[n] = base;
  collect->tableCount = n + 1;
  return true;
}

// A column of the view as written: an optional alias prefix and the name.
struct ColumnRef {
  std::string prefix;
  std::string name;
  std::string as;
  uint32_t table = 0;
  std::string Text() const { return prefix.empty() ? name : prefix + "." + name; }
};

bool ReadIdentifier(std::string* out) {
  if (!TokIs(kTokIdentifier) || !IdentIsValid(TokCurrentText())) {
    Push(kErrDefIdentifier, CurrentText().c_str());
    return false;
  }
  *out = TokCurrentText();
  TokNext();
  return true;
}

bool ReadColumnRef(ColumnRef* ref) {
  std::string first;
  if (!ReadIdentifier(&first)) return false;
  if (IsPunct('.')) {
    TokNext();
    ref->prefix = first;
    return ReadIdentifier(&ref->name);
  }
  ref->name = first;
  return true;
}

bool SameName(const std::string& a, const char* b) { return StrEqualNoCase(a.c_str(), b) != 0; }

// The base table a column names; 414 with its text when none.
bool ResolveColumn(const QueryCollect& collect, ColumnRef* ref) {
  for (uint32_t i = 0; i < collect.tableCount; ++i) {
    if (!ref->prefix.empty()) {
      char fileAlias[kPathCapacity];
      PathToAlias(collect.tables[i].path, fileAlias);
      if (SameName(ref->prefix, collect.tables[i].name) || SameName(ref->prefix, fileAlias)) {
        ref->table = i;
        return true;
      }
      continue;
    }
    const TableObject* t = collect.tableDefs[i];
    for (uint32_t f = 0; t && f < t->fieldCount; ++f) {
      if (SameName(ref->name, t->fields[f].name)) {
        ref->table = i;
        return true;
      }
    }
  }
  Push(kErrQueryColumn, ref->Text().c_str());
  return false;
}

bool ViewClause(DefParse* parse, QueryCollect* collect) {
  std::string name;
  if (!TokIs(kTokIdentifier) && !TokIs(kTokString)) return Unexpected(MsgGetText(611));
  TokNext();
  if (!ExpectWord("as") || !ExpectWord("select")) return false;

  bool star = false;
  std::vector<ColumnRef> columns;
  if (IsPunct('*')) {
    star = true;
    TokNext();
  } else {
    for (;;) {
      ColumnRef ref;
      if (!ReadColumnRef(&ref)) return false;
      if (IsWord("as")) TokNext();
      if (!IsPunct(',') && !IsWord("from") && (TokIs(kTokIdentifier) || TokIs(kTokString))) {
        ref.as = TokCurrentText();
        TokNext();
      }
      columns.push_back(ref);
      if (!IsPunct(',')) break;
      TokNext();
    }
  }

  if (!ExpectWord("from")) return false;
  std::vector<int> order(collect->tableCount, -1);
  int next = 0;
  for (;;) {
    std::string table;
    if (!TokIs(kTokIdentifier) && !TokIs(kTokString)) return Unexpected(MsgGetText(611));
    table = TokCurrentText();
    TokNext();
    for (uint32_t i = 0; i < collect->tableCount; ++i) {
      char fileAlias[kPathCapacity];
      PathToAlias(collect->tables[i].path, fileAlias);
      if (order[i] < 0 && (SameName(table, collect->tables[i].name) || SameName(table, fileAlias))) {
        order[i] = next++;
        break;
      }
    }
    if (!IsPunct(',')) break;
    TokNext();
  }

  std::vector<ColumnRef> conditions;  // left and right side by turns
  if (IsWord("where")) {
    TokNext();
    for (;;) {
      ColumnRef left, right;
      if (!ReadColumnRef(&left)) return false;
      if (!IsPunct('=')) return Unexpected("=");
      TokNext();
      if (!ReadColumnRef(&right)) return false;
      conditions.push_back(left);
      conditions.push_back(right);
      if (!IsWord("and")) break;
      TokNext();
    }
  }

  // Base tables that From did not name are dropped.
  uint32_t kept = 0;
  std::vector<int> keptOrder;
  for (uint32_t i = 0; i < collect->tableCount; ++i) {
    if (order[i] < 0) {
      CloseBaseTable(collect->tableDefs[i]);
      continue;
    }
    collect->tables[kept] = collect->tables[i];
    collect->tableDefs[kept] = collect->tableDefs[i];
    keptOrder.push_back(order[i]);
    ++kept;
  }
  collect->tableCount = kept;

  if (star) {
    for (uint32_t i = 0; i < kept; ++i) {
      const TableObject* t = collect->tableDefs[i];
      for (uint32_t f = 0; t && f < t->fieldCount; ++f) {
        ColumnRef ref;
        ref.prefix = collect->tables[i].name;
        ref.name = t->fields[f].name;
        columns.push_back(ref);
      }
    }
  }
  for (ColumnRef& ref : columns) {
    if (!ResolveColumn(*collect, &ref)) return false;
  }
  for (ColumnRef& ref : conditions) {
    if (!ResolveColumn(*collect, &ref)) return false;
  }

  // The conditions must chain the tables in From order: one join of number k
  // with number k + 1 for each k.
  std::vector<bool> joined(kept, false);
  bool chained = conditions.size() / 2 + 1 == kept || (kept == 0 && conditions.empty());
  for (size_t c = 0; chained && c < conditions.size(); c += 2) {
    int a = keptOrder[conditions[c].table], b = keptOrder[conditions[c + 1].table];
    int k = a < b ? a : b;
    if (std::abs(a - b) != 1 || joined[size_t(k)]) chained = false;
    else joined[size_t(k)] = true;
  }
  if (!chained) {
    Push(kErrQueryJoins);
    return false;
  }

  for (const ColumnRef& ref : columns) {
    uint32_t n = collect->columnCount;
    if (!Grow(&collect->columns, n)) return false;
    PXQueryColumn& out = collect->columns[n];
    CopyText(out.alias, sizeof out.alias, ref.as.c_str());
    out.table = ref.table;
    CopyText(out.name, sizeof out.name, ref.name.c_str());
    collect->columnCount = n + 1;
  }
  for (size_t c = 0; c < conditions.size(); c += 2) {
    uint32_t n = collect->conditionCount;
    if (!Grow(&collect->conditions, n)) return false;
    PXQueryCondition& out = collect->conditions[n];
    out.leftTable = conditions[c].table;
    CopyText(out.leftName, sizeof out.leftName, conditions[c].name.c_str());
    out.rightTable = conditions[c + 1].table;
    CopyText(out.rightName, sizeof out.rightName, conditions[c + 1].name.c_str());
    collect->conditionCount = n + 1;
  }
  if (parse) parse->kind = kDefQuery;
  return true;
}

// Outside collection mode an "open" clause tells what kind of query the
// definition is; it never opens as a table.
bool QueryAsTable() {
  while (TokCurrent()) {
    if (IsWord("type")) {
      TokNext();
      if (IsWord("query")) {
        Push(kErrDefQueryAsTable);
        return false;
      }
      continue;
    }
    if (IsWord("view")) {
      Push(kErrDefView);
      return false;
    }
    TokNext();
  }
  Push(kErrDefQuery);
  return false;
}

// ----- registration -----

bool ReadSignedNumber(double* out) {
  const bool negative = IsPunct('-');
  if (negative) TokNext();
  if (!ReadNumber(out)) return false;
  if (negative) *out = -*out;
  return true;
}

// "(x, y)": one point of a control-point pair.
bool ReadControlPoint() {
  double x = 0, y = 0;
  return TokExpect(kKwOpen) && ReadSignedNumber(&x) && TokExpect(kKwComma) &&
         ReadSignedNumber(&y) && TokExpect(kKwClose);
}

// The type of an image: "grid" or "raster" with an optional "controlpoints"
// list (pairs of a map point and an image point, the pairs separated by
// commas), "WMS" with its required CoordSys clause and an optional charset.
// An image is data kind 6, which has no columns to describe, so its
// registration fails once the whole clause has been read.
bool ReadImageType(TypeRead* type) {
  const bool wms = IsWord("wms");
  TokNext();
  type->kind = kDataRaster;
  if (wms) {
    if (!TokIs(kKwCoordSys)) return Unexpected("CoordSys");
    if (!ReadCoordSys(nullptr, nullptr)) return false;
    if (!IsWord("charset")) return true;
    TokNext();
    return ReadCharsetName(&type->charset);
  }
  if (!IsWord("controlpoints")) return true;
  TokNext();
  for (;;) {
    if (!ReadControlPoint() || !ReadControlPoint()) return false;
    if (!IsPunct(',')) return true;
    TokNext();
  }
}

bool RegisterClause() {
  std::string data;
  if (!ReadString(&data)) return false;
  if (!ExpectWord("type")) return false;
  TypeRead type;
  if (IsWord("grid") || IsWord("raster") || IsWord("wms")) {
    if (!ReadImageType(&type)) return false;
  } else if (!ReadType(&type, true)) {
    return false;
  }
  if (type.query) {
    Push(kErrDefQuery, data.c_str());
    return false;
  }
  if (!ReadCoordSys(nullptr, nullptr)) return false;
  if (IsWord("interactive")) TokNext();
  char dataPath[kPathCapacity];
  CopyText(dataPath, sizeof dataPath, data.c_str());
  if (!PathFull(dataPath)) return false;
  char defPath[kPathCapacity];
  if (IsWord("into")) {
    TokNext();
    std::string target;
    if (!ReadString(&target)) return false;
    CopyText(defPath, sizeof defPath, target.c_str());
  } else {
    CopyText(defPath, sizeof defPath, dataPath);
  }
  if (!DefinitionPath(defPath, 0)) return false;
  if (FileTableFind(defPath, kFileKindTable)) {
    Push(kErrDefAlreadyOpen, defPath);
    return false;
  }
  DataSource source;
  std::memset(&source, 0, sizeof source);
  if (!ApplyType(type, &source)) return false;
  const int16_t registered = TableRegisterData(defPath, dataPath, &source, 0, type.webFeature);
  DataSourceFreeRange(&source);
  return registered != 0;
}

// ----- the dispatcher -----

bool ClauseRun() {
  DefParse* parse = gParse;
  QueryCollect* collect = Collect();
  if (IsWord("definition")) return DefinitionClause(parse);
  if (IsWord("begin_metadata")) return MetadataClause(parse);
  if (IsWord("compressedpoints")) {
    Push(kErrDefCompressed);
    return false;
  }
  if (IsWord("register")) {
    // A definition is a file users receive from others: reading one never
    // writes a definition, here or anywhere else. Only a statement the
    // caller runs registers.
    if (parse || collect) {
      Push(kErrDefClauseHere, CurrentText().c_str());
      return false;
    }
    TokNext();
    return ExpectWord("table") && RegisterClause();
  }
  if (IsWord("open")) {
    TokNext();
    if (!collect) return QueryAsTable();
    if (!IsWord("table")) {
      Push(kErrDefKeyword, CurrentText().c_str(), "open");
      return false;
    }
    TokNext();
    return BaseTableClause(parse, collect);
  }
  if (IsWord("create")) {
    TokNext();
    if (!collect) {
      Push(kErrDefView);
      return false;
    }
    if (!IsWord("view")) {
      Push(kErrDefKeyword, CurrentText().c_str(), "create");
      return false;
    }
    TokNext();
    return ViewClause(parse, collect);
  }
  Push(kErrDefUnknownClause, CurrentText().c_str());
  return false;
}

// The clause stream of one run: the interpreter's settings and the running
// record come back however the run ends (a trapped fatal error unwinds
// through here).
class StreamScope {
 public:
  explicit StreamScope(DefParse* parse) : outer_(gParse) {
    SettingsSnapshotSave(&saved_);
    gParse = parse;
  }
  ~StreamScope() {
    TokEnd();
    gParse = outer_;
    SettingsSnapshotRestore(&saved_);
  }
  StreamScope(const StreamScope&) = delete;
  StreamScope& operator=(const StreamScope&) = delete;

 private:
  SettingsSnapshot saved_;
  DefParse* outer_;
};

// A table being read: freed with what it holds unless handed over.
class TableHolder {
 public:
  explicit TableHolder(DefParse* parse) : parse_(parse) {}
  ~TableHolder() {
    if (parse_->metadata) MetadataFree(parse_->metadata);
    parse_->metadata = nullptr;
    DiscardTable(parse_->table);
    parse_->table = nullptr;
  }
  TableHolder(const TableHolder&) = delete;
  TableHolder& operator=(const TableHolder&) = delete;

  TableObject* Release() {
    TableObject* table = parse_->table;
    parse_->table = nullptr;
    return table;
  }

 private:
  DefParse* parse_;
};

// The index file beside the definition, when there is one; a failure only
// leaves the table without it.
void OpenIndexFile(TableObject* table, const char* defPath) {
  char path[kPathCapacity];
  if (!PathForKind(path, defPath, kFileKindIndex) || !FileExists(path, kFileKindIndex)) return;
  FileHandle file = FileTableAddName(path, kFileKindIndex);
  if (!file) return;
  IndexFile* indexes = IndexFileOpen(file, kFileModeRead);
  if (!indexes) {
    FileRelease(file);
    return;
  }
  table->indexes = indexes;
  table->indexFile = file;
}

// The data path: the File name against the definition's directory, else the
// definition's own name with the data kind's extension.
bool DataPath(const DefParse& parse, const char* defPath, char* out) {
  if (parse.dataFile[0]) {
    CopyText(out, kPathCapacity, parse.dataFile);
    return PathBesideDefinition(out, parse.defFile);
  }
  int kind = DataKindFileKind(parse.table->source.kind);
  if (!kind) {
    CopyText(out, kPathCapacity, defPath);
    return true;
  }
  return PathForKind(out, defPath, kind) != nullptr;
}

bool OpenMapPart(TableObject* table, const char* defPath) {
  char path[kPathCapacity];
  if (!PathForKind(path, defPath, kFileKindMap) || !FileExists(path, kFileKindMap)) return true;
  auto* part = static_cast<TableMapPart*>(MemAlloc(sizeof(TableMapPart)));
  if (!part) {
    Push(kErrAllocFailed);
    return false;
  }
  std::memset(part, 0, sizeof *part);
  part->owner.file = table->defFile;
  part->owner.markerSelector = 0;
  part->owner.lastRow = int32_t(table->source.rowCount);
  if (!ObjStoreOpen(&part->store, kObjStoreMapFile, &part->owner, 1, -1)) {
    MemFree(part);
    return false;
  }
  table->store = &part->store;
  table->coordSys = &part->store.header.coordSys;
  return true;
}

// The table of a definition read as one: its data, its map part and its
// metadata.
bool CompleteTable(DefParse* parse, const char* defPath) {
  TableObject* table = parse->table;
  if (parse->metadata) {
    table->metadata = parse->metadata;
    parse->metadata = nullptr;
    if (!parse->readOnly) table->readOnly = 0;
  } else {
    table->metadata = MetadataCreate();
    if (!table->metadata) return false;
  }
  char dataPath[kPathCapacity];
  if (!DataPath(*parse, defPath, dataPath)) return false;
  if (table->linked) {
    if (table->editState != kEditReadOnly) table->editState = kEditLinked;
  }
  // A definition that names itself as its data would be read, and in a
  // write mode written, as rows. (Kinds without a data file of their own
  // stand on the definition's path without naming it.)
  if (parse->dataFile[0] && platform::Env::Current().SameFile(dataPath, defPath)) {
    Push(kErrDefDataMissing, dataPath);
    return false;
  }
  if (TableIsStale(table, dataPath)) return false;
  int fileKind = DataKindFileKind(table->source.kind);
  if (!FileExists(dataPath, fileKind)) {
    Push(kErrDefDataMissing, dataPath);
    return false;
  }
  int32_t count = int32_t(table->fieldCount);
  if (!DataSourceAttach(dataPath, fileKind, &table->source, table->source.kind, &count,
                        table->fields)) {
    Push(kErrDefDataMissing, dataPath);
    return false;
  }
  table->fieldCount = uint32_t(count);
  table->rowCount = table->source.rowCount;
  return OpenMapPart(table, defPath);
}

}  // namespace

// ----- reader -----

TableObject* TableDefinitionOpen(FileHandle defFile) {
  char defPath[kPathCapacity];
  if (FileHandleCheck(defFile) < 0) return nullptr;
  FilePath(defFile, defPath);

  DefParse parse;
  std::memset(&parse, 0, sizeof parse);
  parse.allowTable = 1;
  parse.defFile = defFile;
  parse.table = NewTable();
  if (!parse.table) return nullptr;
  TableHolder holder(&parse);
  TableObject* table = parse.table;
  table->defFile = defFile;
  TableNameFromPath(table, defPath);

  OpenIndexFile(table, defPath);
  if (!DefinitionHeaderRead(defFile, &parse)) return nullptr;
  if (parse.legacy && parse.kind == kDefNone) parse.kind = kDefTable;

  QueryCollect* collect = Collect();
  if (parse.kind == kDefTable) {
    if (collect) {
      Push(kErrDefQueryCollect, table->name);
      return nullptr;
    }
    if (!CompleteTable(&parse, defPath)) return nullptr;
    return holder.Release();
  }
  if (parse.kind == kDefQuery && collect) {
    if (collect->tableCount > 1 && collect->conditionCount + 1 != collect->tableCount) {
      Push(kErrQueryJoins);
      return nullptr;
    }
    return holder.Release();
  }
  if (parse.kind == kDefQuery || (parse.kind == kDefNone && ErrorCount() == 0)) {
    Push(kErrDefQuery, table->name);
  }
  return nullptr;
}

int16_t DefinitionHeaderRead(FileHandle defFile, DefParse* parse) {
  TableObject* table = parse->table;
  if (FileOpenText(defFile, kFileModeRead, nullptr) <= 0) return 0;
  struct Closer {
    FileHandle file;
    ~Closer() { FileClose(file); }
  } closer{defFile};
  FileSetCharset(defFile, CharsetSystem());

  char first[kHeaderLineSize], line[kHeaderLineSize];
  bool haveFirst = HeaderLine(defFile, first);
  if (!haveFirst || !HeaderLine(defFile, line) || !StartsWithNoCase(line, "!version")) {
    Push(kErrDefNotDefinition, table ? table->name : nullptr);
    return 0;
  }
  if (!StartsWithNoCase(first, "!table")) return 0;
  int32_t version = HeaderNumber(line);
  int headerLines = 2;

  if (HeaderLineIf(defFile, "!charset", line)) {
    ++headerLines;
    char* name = line + std::strlen("!charset");
    while (*name == ' ' || *name == '\t') ++name;
    size_t n = std::strlen(name);
    while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == '\t' || name[n - 1] == '\r')) {
      name[--n] = 0;
    }
    int charset = CharsetFromName(name);
    if (charset < 0) {
      Push(kErrCharsetCode, name);
      return 0;
    }
    FileSetCharset(defFile, charset);
  }
  int32_t readEntire = version, edit = version;
  if (HeaderLineIf(defFile, "!readentire_version", line)) {
    ++headerLines;
    readEntire = edit = HeaderNumber(line);
  }
  if (HeaderLineIf(defFile, "!edit_version", line)) {
    ++headerLines;
    edit = HeaderNumber(line);
  }
  if (table) {
    table->version = int16_t(version);
    table->readEntireVersion = int16_t(readEntire);
    table->editVersion = int16_t(edit);
  }
  if (version > kMaxVersion) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", version / 100, version % 100);
    Push(kErrDefVersion, table ? table->name : "", text);
    return 0;
  }
  if (edit > kMaxVersion && table) table->editState = kEditReadOnly;

  if (version < kLegacyVersion) {
    int64_t at = FileStreamTell(defFile);
    char next[kHeaderLineSize] = "";
    bool haveNext = HeaderLine(defFile, next);
    FileStreamSeek(defFile, at, 0);
    const char* p = next;
    while (*p == ' ' || *p == '\t') ++p;
    if (!haveNext || !StartsWithNoCase(p, "open")) {
      if (table) table->version = table->readEntireVersion = table->editVersion = 0;
      parse->legacy = 1;
      return TableDefReadLegacy(parse, defFile);
    }
  }

  std::string text;
  if (!ReadRest(defFile, &text)) {
    char path[kPathCapacity];
    Push(kErrDefNotDefinition, FilePath(defFile, path));
    return 0;
  }
  return ClauseStreamRun(text.c_str(), nullptr, headerLines, parse);
}

int16_t ClauseStreamRun(const char* text, const char* file, int32_t, DefParse* parse) {
  const uint16_t errors = ErrorCount();
  bool ok = true;
  {
    StreamScope scope(parse);
    if (text) {
      TokBeginText(text);
    } else if (!file || !TokBeginFile(file)) {
      return 0;
    }
    while (ok && TokCurrent()) ok = ClauseRun();
  }
  return ok && ErrorCount() == errors ? 1 : 0;
}

int16_t StatementRun(const char* text, int flag) {
  // A trapped fatal error unwinds through here: the mode is put back by the
  // guard's destructor.
  struct DateModeScope {
    int32_t saved = DateGetMode();
    ~DateModeScope() { DateSetMode(saved); }
  } scope;
  DateSetMode(flag ? 1 : 2);
  return ClauseStreamRun(text ? text : "", nullptr, 0, nullptr);
}

int16_t TableIsStale(const TableObject* table, const char* dataPath) {
  switch (table->source.kind) {
    case kDataNative:
    case kDataRaster:
    case kDataAccess:
      return 0;
    default:
      break;
  }
  char defPath[kPathCapacity];
  FilePath(table->defFile, defPath);
  FileStatRec data{}, def{};
  if (FileStat(dataPath, &data) != 0) {
    Push(kErrFileStatus, dataPath);
    return 1;
  }
  if (FileStat(defPath, &def) != 0) {
    Push(kErrFileStatus, defPath);
    return 1;
  }
  if (data.modified > def.modified) {
    Push(kErrDefStale, dataPath);
    return 1;
  }
  return 0;
}

int32_t CompanionFileList(const TableObject* table, CompanionFile out[5]) {
  if (!table || !table->defFile) return 0;
  char defPath[kPathCapacity];
  FilePath(table->defFile, defPath);
  platform::Env& env = platform::Env::Current();
  int32_t n = 0;
  auto add = [&](const char* path, uint32_t kind) {
    std::string found = env.ResolveExisting(path);
    CopyText(out[n].path, sizeof out[n].path, found.c_str());
    out[n].kind = kind;
    ++n;
  };
  add(defPath, kFileKindTable);

  char path[kPathCapacity];
  int dataKind = 0;
  switch (table->source.kind) {
    case kDataDbase:
      dataKind = kFileKindDbase;
      break;
    case kDataLotus:
      dataKind = kFileKindLotus;
      break;
    case kDataText:
      dataKind = kFileKindText;
      break;
    case kDataExcel:
      dataKind = kFileKindExcel;
      break;
    case kDataNative:
      dataKind = kFileKindNative;
      break;
    default:
      break;
  }
  if (dataKind) {
    if (table->source.file > 0) {
      add(FilePath(table->source.file, path), uint32_t(dataKind));
    } else if (PathForKind(path, defPath, dataKind)) {
      add(path, uint32_t(dataKind));
    }
  }
  if (table->indexFile > 0) add(FilePath(table->indexFile, path), kFileKindIndex);
  if (table->store && table->store->kind == kObjStoreMapFile) {
    if (PathForKind(path, defPath, kFileKindMap)) add(path, kFileKindMap);
    if ((table->store->flags & kObjStoreHasId) && PathForKind(path, defPath, kFileKindMapId)) {
      add(path, kFileKindMapId);
    }
  }
  return n;
}

void TableMapPartClose(TableObject* table) {
  if (!table || !table->store) return;
  ObjStoreClose(table->store);
  MemFree(table->store);  // the block of the part: the store is its first member
  table->store = nullptr;
  table->coordSys = nullptr;
}

}  // namespace layerio
