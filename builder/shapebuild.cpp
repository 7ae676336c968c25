#include "builder/shapebuild.h"

#include <cstring>

#include "base/prjname.h"
#include "base/qstring.h"
#include "builder/builderror.h"
#include "builder/buildpath.h"
#include "builder/console.h"
#include "platform/env.h"
#include "zonelib.h"

namespace {

constexpr const char* kSource = "..\\src\\shapebuild";
// The error location (source line number) a failed read of a text input
// shows.
constexpr int kLineTextRead = 62;
constexpr const char* kHeaderKeywordSeparators = "( ,\t\n";
constexpr const char* kHeaderSeparators = " \t\n";
constexpr const char* kDataSeparators = ",\t";

// The first token of text at any of the separators, or empty.
std::string_view FirstToken(std::string_view text, std::string_view separators,
                            std::string_view* rest = nullptr) {
  size_t start = text.find_first_not_of(separators);
  if (start == std::string_view::npos) {
    if (rest) *rest = {};
    return {};
  }
  size_t end = text.find_first_of(separators, start);
  if (end == std::string_view::npos) end = text.size();
  if (rest) *rest = text.substr(end);
  return text.substr(start, end - start);
}

// The field names of a dBASE file, read through the engine's own reader
// (which says nothing of field types it would not take); empty when it does
// not open.
std::vector<std::string> DbfFieldNames(const std::string& dbf) {
  std::vector<std::string> names;
  DbfHandle handle{};
  if (dbOpen(&handle, dbf.c_str()) != 0) return names;
  for (uint32_t i = 0; i < handle.fieldCount; ++i)
    names.emplace_back(handle.fields[i].name, strnlen(handle.fields[i].name, sizeof handle.fields[i].name));
  dbClose(&handle);
  return names;
}

}  // namespace

// --- BuildTextReader ---

BuildTextReader::BuildTextReader(const std::string& name, QError& error)
    : name_(name), error_(error), file_(name.c_str(), error) {
  ready_ = !file_.InError();
}

bool BuildTextReader::ReadLine(bool mustExist) {
  if (!ready_) return false;
  char buffer[QInputFile::kMaxLine + 1];
  const int n = file_.ReadLine(buffer, sizeof buffer);
  ++lineNumber_;
  if (n < 0) {
    ready_ = false;
    line_.clear();
    if (!file_.InError() && mustExist) Report(kUnexpectedEndOfFile);
    return false;
  }
  line_.assign(buffer, size_t(n));
  return true;
}

void BuildTextReader::Report(const char* message) {
  char text[kQErrorDetailSize];
  StrFormat(text, sizeof text, "Error: %s\nFile: %s\nLine: %ld", message, name_.c_str(),
            lineNumber_);
  error_.Record(Q_ERROR_EMPTY, text, kSource, kLineTextRead);
  ready_ = false;
}

bool ReadPxfColumns(const std::string& path, std::vector<std::string>* columns, QError& error) {
  columns->clear();
  BuildTextReader reader(path, error);
  if (!reader.Ready()) return false;
  if (!reader.ReadLine(true)) return true;
  while (reader.ReadLine(false)) {
    std::string_view rest;
    std::string_view keyword = FirstToken(reader.Line(), kHeaderKeywordSeparators, &rest);
    if (keyword.empty()) continue;
    if (platform::AsciiEqualsIgnoreCase(keyword, "DATA")) return true;
    if (!platform::AsciiEqualsIgnoreCase(keyword, "COLUMNS")) continue;  // DELIMITER too
    const int count = StrToInt(std::string(FirstToken(rest, kHeaderSeparators)).c_str());
    for (int i = 0; i < count; ++i) {
      if (!reader.ReadLine(true)) return true;
      std::string_view name = FirstToken(reader.Line(), kHeaderSeparators);
      if (name.empty()) {
        reader.Report(kPxfBlankColumnText);
        return false;
      }
      columns->emplace_back(name);
    }
  }
  return true;
}

// --- ShapeBuilder ---

bool ShapeBuilder::Open(uint32_t import, const char* input, const char* output) {
  if (!input || !InputExists(input)) return false;
  const int32_t opened = pipImportOpenShape(import, input, IdField(), nullptr);
  ObjectBuilder::Open(import, input, output);
  if (opened != 1) PrintEngineError(Library());
  if (opened == 1 && IdField() && PrintEngineWarning(Library())) {
    const std::string dbf = CompanionPath(input, "dbf");
    PrintIdFields(IdField(), dbf, DbfFieldNames(dbf));
  }
  return opened == 1;
}

bool ShapeBuilder::Build(uint32_t library, uint32_t import) {
  if (import == 0) return false;
  const std::string projected = PrjProjectedSystemName(CompanionPath(InputPath(), "prj"));
  if (!projected.empty()) {
    BuildPrint(kProjectedFormat, CompanionPath(InputPath(), "prj").c_str(), projected.c_str());
    return EndImport(library, import, false);
  }
  return ObjectBuilder::Build(library, import);
}

bool ShapeBuilder::AttributeTable() {
  const std::string dbf = CompanionPath(InputPath(), "dbf");
  if (!NameTempTable()) return false;
  return Guard(WriteTempAction(), [&] {
    CQmsFolioRackTable source("", dbf.c_str());
    TempAttributeTable target(TempTablePath());
    if (!OpenInputTable(source, dbf)) return false;
    CQmsRecord fields;
    source.GetFields(fields);
    if (!target.Create(fields)) return false;
    const bool ok = CopyRecords(source, target);
    target.Close();
    source.Close();
    return ok;
  });
}

// --- PxfBuilder ---

bool PxfBuilder::Open(uint32_t import, const char* input, const char* output) {
  if (!input || !InputExists(input)) return false;
  const int32_t opened = pipImportOpenPXF(import, input, IdField());
  ObjectBuilder::Open(import, input, output);
  if (opened != 1) PrintEngineError(Library());
  return opened == 1;
}

bool PxfBuilder::AttributeTable() {
  const std::string pxd = CompanionPath(InputPath(), "pxd");
  BuildError error;
  if (!ReadPxfColumns(InputPath(), &columns_, error)) {
    BuildPrint("%s\n", error.HasError() ? error.Detail() : "Error: Unable to read the header.");
    return false;
  }
  if (!NameTempTable()) return false;
  return Guard(WriteTempAction(), [&] {
    TempAttributeTable target(TempTablePath());
    CQmsRecord fields;
    for (const std::string& column : columns_)
      fields.Add(column.c_str(), QMS_VARIANT_STRING, kPxfColumnWidth, 0);
    if (!target.Create(fields)) return false;

    BuildError dataError;
    BuildTextReader data(pxd, dataError);
    if (!data.Ready()) {
      BuildPrint("Error: Unable to open the data file %s.\n", pxd.c_str());
      return false;
    }
    const std::vector<bool>& stored = Stored();
    long recordNumber = 0;
    for (size_t row = 0; row < stored.size(); ++row) {
      // One data row per object of the input, in order.
      if (!data.ReadLine(false)) break;
      if (!stored[row]) continue;
      ++recordNumber;
      target.ClearRow();
      std::vector<std::string> values = SplitRow(data.Line(), kDataSeparators);
      for (size_t k = 0; k < values.size() && k < columns_.size(); ++k)
        target.Row().SetFieldByHandle(int(k), values[k].c_str());
      if (!target.Append(recordNumber, &data.Line(), long(row + 1))) return false;
    }
    if (dataError.HasError()) {
      BuildPrint("%s\n", dataError.Detail());
      return false;
    }
    target.Close();
    return target.AllAccepted();
  });
}
