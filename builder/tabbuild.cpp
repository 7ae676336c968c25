#include "builder/tabbuild.h"

#include <cstring>
#include <memory>
#include <new>

#include "builder/buildpath.h"
#include "builder/console.h"
#include "zonelib.h"

namespace {

// The library's results carry their outcome in the low 16 bits.
bool Succeeded(uint16_t result) { return (result & 0xFFFF) != 0; }

std::string FieldName(const PXFieldInfo& field) {
  return std::string(field.name, strnlen(field.name, sizeof field.name));
}

int TextWidth(const PXFieldInfo& field) {
  switch (field.type) {
    case 1:
    case 5:
    case 37:
    case 38:
      return field.width > 0 ? field.width : kTabDefaultWidth;
    case 8:
      return kTabFloatWidth;
    default:
      return kTabDefaultWidth;
  }
}

}  // namespace

TabEntries LayerioTabEntries() {
  return {PXInitialize,   PXShutdown, PXOpenTable,    PXGetRowCount, PXGetFieldCount,
          PXGetFieldInfo, PXFetchRow, PXGetLastError, PXCloseTable};
}

TabEntries& TabBuilderEntries() {
  static TabEntries entries = LayerioTabEntries();
  return entries;
}

TabBuilder::TabBuilder() : entries_(TabBuilderEntries()) {
  initialised_ = Succeeded(entries_.initialize(PX_INTERFACE_NUMBER));
}

TabBuilder::~TabBuilder() {
  if (initialised_) entries_.shutdown();
}

PXTableHandle TabBuilder::OpenTable(const char* path) {
  return entries_.openTable(path, PX_OPEN_READ);
}

void TabBuilder::CloseTable(PXTableHandle& table) {
  if (table != 0) entries_.closeTable(table);
  table = 0;
}

bool TabBuilder::Open(uint32_t import, const char* input, const char* output) {
  if (!input || !InputExists(input)) return false;
  PXTableHandle table = OpenTable(input);
  BuildPrint("Opening %s\n", input);
  if (table == 0) {
    BuildPrint("Can not open %s.\n\tError #%d.\n", input, entries_.getLastError());
    return false;
  }
  struct Closer {
    TabBuilder* builder;
    PXTableHandle& table;
    ~Closer() { builder->CloseTable(table); }
  } closer{this, table};

  if (!Succeeded(entries_.getRowCount(table, &rows_))) {
    BuildPrint("Can not get number of rows.\n\tError #%d.\n", entries_.getLastError());
    return false;
  }
  BuildPrint("number of rows     = %d\n", int(rows_));
  uint32_t fieldCount = 0;
  if (!Succeeded(entries_.getFieldCount(table, &fieldCount))) {
    BuildPrint("Can not get number of fields.\n\tError #%d.\n", entries_.getLastError());
    return false;
  }
  BuildPrint("number of fields   = %d\n", int(fieldCount));
  try {
    fields_.assign(fieldCount, PXFieldInfo{});
  } catch (const std::bad_alloc&) {
    BuildPrint("Can not get field descriptions.\n");
    return false;
  } catch (const std::length_error&) {
    BuildPrint("Can not get field descriptions.\n");
    return false;
  }
  entries_.getFieldInfo(table, fields_.data());
  CloseTable(table);

  const int32_t opened = pipImportOpenTAB(import, input, IdField(), nullptr);
  ObjectBuilder::Open(import, input, output);
  if (opened != 1) PrintEngineError(Library());
  if (opened == 1 && IdField() && PrintEngineWarning(Library())) {
    std::vector<std::string> names;
    for (const PXFieldInfo& field : fields_) names.push_back(FieldName(field));
    PrintIdFields(IdField(), input, names);
  }
  return opened == 1;
}

bool TabBuilder::AttributeTable() {
  const std::string path = CompanionPath(InputPath(), "tab");
  if (!NameTempTable()) return false;
  return Guard(WriteTempAction(), [&] {
    TempAttributeTable target(TempTablePath());
    CQmsRecord definition;
    for (const PXFieldInfo& field : fields_)
      definition.Add(FieldName(field).c_str(), QMS_VARIANT_STRING, TextWidth(field), 0);
    if (!target.Create(definition)) return false;
    const bool ok = ReadRows(path, target);
    target.Close();
    return ok;
  });
}

bool TabBuilder::ReadRows(const std::string& path, TempAttributeTable& target) {
  PXTableHandle table = OpenTable(path.c_str());
  if (table == 0) {
    BuildPrint("Can not open %s.\n\tError #%d.\n", path.c_str(), entries_.getLastError());
    return false;
  }
  struct Closer {
    TabBuilder* builder;
    PXTableHandle& table;
    ~Closer() { builder->CloseTable(table); }
  } closer{this, table};

  auto rowText = std::make_unique<char[]>(PX_ROW_TEXT_SIZE + 1);
  const int fieldCount = int(fields_.size());
  for (uint32_t row = 1; row <= rows_; ++row) {
    target.ClearRow();
    std::memset(rowText.get(), 0, PX_ROW_TEXT_SIZE + 1);
    // Only the values: the engine has read the objects already, and reading
    // each again would double the cost of the map part.
    if (!Succeeded(entries_.fetchRow(table, row, rowText.get(), nullptr))) {
      BuildPrint("\nFETCH:\tcan not fetch row #%ld.\n\tError #%d.\n", long(row),
                 entries_.getLastError());
      return false;
    }
    const std::string text(rowText.get(), strnlen(rowText.get(), PX_ROW_TEXT_SIZE));
    std::vector<std::string> values = SplitRow(text, "\t");
    for (int k = 0; k < fieldCount && size_t(k) < values.size(); ++k)
      target.Row().SetFieldByHandle(k, values[k].c_str());
    // The engine numbers the objects by row, rows without objects included.
    if (!target.Append(long(row), &text)) return false;
  }
  return target.AllAccepted();
}
