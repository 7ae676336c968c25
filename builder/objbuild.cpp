#include "builder/objbuild.h"

#include <algorithm>
#include <cstring>

#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/gsaimport.h"
#include "platform/env.h"
#include "tables/qfldmap.h"
#include "zonelib.h"

namespace {

constexpr int kNameBufferSize = 130;
constexpr const char* kTempTableMarker = "_gsa.";
constexpr const char* kTempTableSuffix = ".dbf";

}  // namespace

void PrintEngineError(uint32_t library) {
  char message[256] = {};
  char detail[256] = {};
  const int32_t code = pipErrorGet(library, message, detail);
  // Some codes have no text of their own: the detail says it all then.
  if (message[0] != '\0')
    BuildPrint(kEngineErrorFormat, message, detail);
  else if (detail[0] != '\0')
    BuildPrint(kEngineDetailFormat, detail);
  else
    BuildPrint(kEngineCodeFormat, int(code));
}

bool PrintEngineWarning(uint32_t library) {
  char message[256] = {};
  char detail[256] = {};
  if (pipErrorGet(library, message, detail) != kEngineWarningCode) return false;
  if (std::strncmp(detail, kEngineWarningMark, std::strlen(kEngineWarningMark)) != 0) return false;
  BuildPrintLogged("%s\n", detail);
  return true;
}

void PrintIdFields(const char* idField, const std::string& file,
                   const std::vector<std::string>& fields) {
  std::string list;
  for (const std::string& f : fields) list += (list.empty() ? "" : ", ") + f;
  BuildPrintLogged(kIdFieldsFormat, idField, file.c_str(), list.empty() ? "(none)" : list.c_str());
}

bool HasExtendedByte(std::string_view text) {
  for (char c : text)
    if (uint8_t(c) >= 0x80) return true;
  return false;
}


std::string RecordRowText(CQmsRecord& record, int skip) {
  std::string row;
  bool first = true;
  for (int i = 0; i < record.GetCount(); ++i) {
    if (i == skip) continue;
    if (!first) row += '\t';
    first = false;
    if (const CQmsVariant* value = record.GetFieldByHandle(i)) row += static_cast<const char*>(*value);
  }
  return row;
}

std::vector<std::string> SplitRow(std::string_view row, std::string_view separators) {
  std::vector<std::string> values;
  size_t p = 0;
  const size_t n = row.size();
  auto isSeparator = [&](char c) { return separators.find(c) != std::string_view::npos; };
  for (;;) {
    std::string value;
    while (p < n && row[p] == ' ' && !isSeparator(row[p])) ++p;
    // The quote a value is open in: 0 none. A value may open in either
    // quote; later a double quote opens one again.
    char quote = 0;
    if (p < n && (row[p] == '"' || row[p] == '\'')) quote = row[p++];
    while (p < n && (quote != 0 || !isSeparator(row[p]))) {
      const char c = row[p];
      const char q = quote != 0 ? quote : '"';
      if (c != q) {
        value += c;
        ++p;
      } else if (p + 1 < n && row[p + 1] == q) {
        value += q;  // doubled: one stays
        p += 2;
      } else {
        quote = quote != 0 ? 0 : q;
        ++p;
      }
    }
    values.push_back(std::move(value));
    if (p >= n) break;
    ++p;  // the separator: a value follows, empty or not
  }
  return values;
}

// --- TempAttributeTable ---

TempAttributeTable::TempAttributeTable(const std::string& path) : table_("", path.c_str()) {}

TempAttributeTable::~TempAttributeTable() {
  try {
    Close();
  } catch (long) {
  }
}

bool TempAttributeTable::Create(const CQmsRecord& fields) {
  CQmsRecord definition;
  definition.Add(fields);
  definition.Add(kRecordIdField, QMS_VARIANT_LONG, kRecordIdWidth, 0);
  table_.SetReadOnly(0);
  table_.DefineFields(definition);
  table_.Create();
  if (!table_.IsOpen()) return false;
  table_.GetFields(row_);
  // Numbers travel as their texts: written back from a double with the
  // column's full decimals, a value such as 1366417754 in a column of width
  // 24 with 15 decimals would no longer fit and be lost; and a number
  // without a value stays empty rather than become 0.
  recordId_ = row_.GetFieldHandle(kRecordIdField);
  for (int i = 0; i < row_.GetCount(); ++i) {
    const QMS_VARIANT_TYPE type = row_.GetFieldTypeByHandle(i);
    const bool number = type == QMS_VARIANT_DOUBLE || type == QMS_VARIANT_FLOAT || type == QMS_VARIANT_LONG;
    if (number && i != recordId_) row_.SetFieldTypeByHandle(i, QMS_VARIANT_STRING);
  }
  return recordId_ >= 0;
}

bool TempAttributeTable::Append(long recordNumber, const std::string* rowText, long inputRecord) {
  if (row_.CheckNonAscii(0, nullptr) || (rowText && HasExtendedByte(*rowText))) {
    if (refused_++ == 0) {
      BuildPrint("%s", kExtendedTextConsole);
      BuildLogWrite("%s", kExtendedTextLog);
    }
    if (refused_ > kExtendedRecordLimit) return true;
    std::string fields;
    for (int i = 0; i < row_.GetCount(); ++i) {
      if (i == recordId_ || !row_.CheckNonAscii(1, &i)) continue;
      if (!fields.empty()) fields += ", ";
      fields += row_.GetFieldName(i);
    }
    // Bytes outside the fields kept (a row text longer than its fields).
    if (fields.empty()) fields = "(none kept)";
    const std::string row = rowText ? *rowText : RecordRowText(row_, recordId_);
    const long number = inputRecord > 0 ? inputRecord : recordNumber;
    BuildPrint(kExtendedRecordFormat, number, fields.c_str(), row.c_str());
    BuildLogWrite(kExtendedRecordFormat, number, fields.c_str(), row.c_str());
    return true;
  }
  row_.SetFieldByHandle(recordId_, recordNumber);
  table_.AddNewRecord();
  table_.SetAllFieldValues(row_);
  table_.CommitRecord();
  return true;
}

bool TempAttributeTable::AllAccepted() const {
  if (refused_ == 0) return true;
  if (refused_ > kExtendedRecordLimit) {
    BuildPrint(kExtendedMoreFormat, refused_ - kExtendedRecordLimit);
    BuildLogWrite(kExtendedMoreFormat, refused_ - kExtendedRecordLimit);
  }
  BuildPrint(kExtendedCountFormat, refused_);
  BuildLogWrite(kExtendedCountFormat, refused_);
  return false;
}

void TempAttributeTable::Close() {
  if (table_.IsOpen()) table_.Close();
}

// --- ObjectBuilder ---

ObjectBuilder::~ObjectBuilder() {
  if (!tempPath_.empty()) platform::Env::Current().Remove(tempPath_);
}

bool ObjectBuilder::Open(uint32_t, const char* input, const char* output) {
  input_ = input ? input : "";
  attributePath_ = AttributePathOf(output ? output : "");
  return true;
}

bool ObjectBuilder::NameTempTable() {
  if (!tempPath_.empty()) platform::Env::Current().Remove(tempPath_);
  tempPath_.clear();
  // Named after the attribute file without its extension, in its folder.
  tempPath_ = FreshNameBeside(attributePath_, kTempTableMarker, kTempTableSuffix);
  if (tempPath_.empty()) {
    const std::string folder = OutputFolder(attributePath_);
    BuildPrint("Error: Unable to make a temporary table in the folder (%s).\n",
               folder.empty() ? "." : folder.c_str());
  }
  return !tempPath_.empty();
}

void ObjectBuilder::ReportTableFailure(const std::string& action, const char* reason) {
  BuildPrint("Error: Unable to %s (%s).\n", action.c_str(), reason);
}

std::string ObjectBuilder::WriteTempAction() const {
  return "write the attribute table " + tempPath_;
}

bool ObjectBuilder::OpenInputTable(CQmsTable& table, const std::string& path) {
  std::string reason;
  try {
    table.SetReadOnly(1);
    table.Open();
  } catch (long code) {
    reason = "table library code " + std::to_string(code);
  }
  if (table.IsOpen()) return true;
  if (*table.GetOpenFailure() != '\0') reason = table.GetOpenFailure();
  if (reason.empty()) reason = "the table does not open";
  BuildPrint(kTableOpenFormat, path.c_str(), reason.c_str());
  return false;
}

bool ObjectBuilder::CopyRecords(CQmsTable& source, TempAttributeTable& target) {
  CQmsRecord sourceRecord;
  source.GetFields(sourceRecord);
  CQmsFieldMap map;
  map.UseRecords(target.Row(), sourceRecord);
  map.MapByNames();
  source.MoveFirst();
  long recordNumber = 1;
  while (!source.AtEOF()) {
    target.ClearRow();
    source.FillMappedRecord(map, target.Row());
    source.MoveBy(1);
    if (!target.Append(recordNumber++)) return false;
  }
  return target.AllAccepted();
}

bool ObjectBuilder::EndImport(uint32_t library, uint32_t import, bool ok) {
  pipImportClose(import);
  if (pipImportTerm(import, ok ? 1 : 0) == 1 || !ok) return ok;
  BuildPrint("Error: Unable to finish the GSB file.\n");
  PrintEngineError(library);
  return false;
}

bool ObjectBuilder::Build(uint32_t library, uint32_t import) {
  if (import == 0) return false;
  stored_.clear();
  bool ok = true;
  for (;;) {
    char name[kNameBufferSize] = {};
    uint32_t percent = 0, count = 0;
    const int32_t result = pipImportRead(import, name, kNameBufferSize, &percent, &count);
    if (result == -1) {
      BuildPrint("%s", kInsertErrorText);
      PrintEngineError(library);
      ok = false;
      break;
    }
    if (result == 0) break;
    if (result == 2) BuildPrint(kFeatureRecordFormat, stored_.size() + 1, kFeatureTypeText);
    stored_.push_back(result != 2);
  }
  // Records were read but none could be kept: an empty boundary file would
  // pass for the input.
  const size_t kept = size_t(std::count(stored_.begin(), stored_.end(), true));
  if (ok && kept == 0 && !stored_.empty()) {
    BuildPrint(kNothingStoredFormat, stored_.size(), input_.c_str());
    ok = false;
  }
  return EndImport(library, import, ok);
}

bool ObjectBuilder::WriteAttributeFile(const std::string& stamp) {
  const std::string& target = attributeTarget_.empty() ? attributePath_ : attributeTarget_;
  GsaImporter importer;
  if (importer.Import(tempPath_.c_str(), target.c_str(), stamp.c_str()) == 1) return true;
  platform::Env::Current().Remove(target);
  return false;
}
