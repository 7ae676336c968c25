#include "builder/gsaimport.h"

#include <string>
#include <vector>

#include "builder/builderror.h"
#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/gsabuild.h"
#include "builder/objbuild.h"
#include "platform/env.h"
#include "tables/qtblrows.h"

namespace {

// The rows of the open table in the selected index's order, read as the
// table holds them.
class TableRows : public GsaRowSource {
 public:
  explicit TableRows(CQmsFolioRackRows& table) : table_(table) {}
  bool Rewind() override {
    table_.Rewind();
    return true;
  }
  bool Next() override { return table_.Next(); }
  std::string_view Value(size_t field) const override { return table_.GetColumnData(int(field)); }
  bool Failed() const override { return table_.Failed(); }

 private:
  CQmsFolioRackRows& table_;
};

bool Storable(char type) {
  switch (type) {
    case 'C':
    case 'D':
    case 'L':
    case 'N':
    case 'F':
      return true;
    default:
      return false;
  }
}

// The index made on the table, removed by name once the table is closed.
class RecordIndex {
 public:
  explicit RecordIndex(std::string name) : name_(std::move(name)) {}
  ~RecordIndex() {
    if (!name_.empty()) platform::Env::Current().Remove(name_);
  }
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;
  void Rename(const char* name) { name_ = name ? name : name_; }

 private:
  std::string name_;
};

}  // namespace

int GsaImporter::Import(const char* tablePath, const char* attributePath, const char* stamp) {
  const std::string date = QTodayDateText();
  CQmsFolioRackRows table;
  if (!table.Open(tablePath)) {
    BuildPrint(kGsaOpenErrorFormat, tablePath);
    return 0;
  }
  BuildPrint("Opened file...\n");

  // A fresh name beside the table: nothing of the user's is overwritten.
  const std::string indexName =
      FreshNameBeside(tablePath, std::string("_") + kRecordIdField + ".", ".cdx");
  RecordIndex index(indexName);
  int result = 0;
  {
    BuildPrint("Indexing to %s\n", kRecordIdField);
    const char* made = indexName.empty() ? nullptr : table.IndexOn(indexName.c_str(), kRecordIdField);
    if (made == nullptr) {
      BuildPrint("%s", kGsaIndexErrorText);
      table.Close();
      return 0;
    }
    index.Rename(made);

    std::vector<GsaFieldDef> fields;
    for (int j = 0; j < table.GetColumnCount(); ++j) {
      const char type = table.GetColumnType(j);
      if (!Storable(type)) {
        BuildPrint("%s", kGsaFieldsErrorText);
        table.Close();
        return 0;
      }
      fields.push_back({table.GetColumnName(j), type, table.GetColumnWidth(j), table.GetColumnDecimals(j)});
    }

    BuildPrint("Reading: %s\n", tablePath);
    const long count = table.GetRecordCount();
    TableRows rows(table);
    GsaWriteOptions options;
    options.stamp = stamp ? stamp : "";
    options.dateText = date;
    options.keyField = kRecordIdField;
    long written = 0;
    options.progress = [&] {
      ++written;
      const long record = table.GetRecordNumber();
      if (record % 100 == 0) BuildPrint("Added %ld of %ld...\r", record, count);
    };
    BuildError error;
    bool ok = GsaWriteAttributeFile(attributePath, fields, rows, options, error);
    // Records come in QRECID order, which is their order in the table.
    BuildPrint("Added %ld of %ld...\n", written, count);
    if (!ok) {
      BuildPrint("Error: %s\n", error.Detail());
    } else if (written != count || !table.Healthy()) {
      BuildPrint("Error: %ld of %ld records were written to %s.\n", written, count, attributePath);
      ok = false;
    }
    result = ok ? 1 : 0;
  }
  table.Close();
  return result;
}
