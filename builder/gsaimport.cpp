#include "builder/gsaimport.h"

#include <string>
#include <vector>

#include "builder/builderror.h"
#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/gsabuild.h"
#include "builder/objbuild.h"
#include "platform/env.h"
#include "xbase/xbase.h"

namespace {

// The rows of the open table in the selected tag's order, read as the table
// holds them.
class XbaseRows : public GsaRowSource {
 public:
  explicit XbaseRows(DATA4* data) : data_(data) {
    const int n = d4numFields(data);
    for (int j = 1; j <= n; ++j) fields_.push_back(d4fieldJ(data, j));
  }
  bool Rewind() override {
    started_ = false;
    return true;
  }
  bool Next() override {
    const int rc = started_ ? d4skip(data_, 1) : d4top(data_);
    started_ = true;
    if (rc < 0) failed_ = true;
    return rc == 0 && !d4eof(data_);
  }
  std::string_view Value(size_t field) const override {
    return std::string_view(f4ptr(fields_[field]), f4len(fields_[field]));
  }
  bool Failed() const override { return failed_; }

 private:
  DATA4* data_;
  std::vector<FIELD4*> fields_;
  bool started_ = false;
  bool failed_ = false;
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
  Code4 code;
  if (code.init() != 0) {
    BuildPrint(kGsaOpenErrorFormat, tablePath);
    return 0;
  }
  code.accessMode = 1;
  code.offError = 1;
  code.createNewOnly = 1;
  code.safety = 1;
  code.autoOpen = 0;
  code.reportOpenFailure = 0;

  DATA4* data = d4open(&code, tablePath);
  if (data == nullptr || code.errorCode() < 0) {
    BuildPrint(kGsaOpenErrorFormat, tablePath);
    return 0;
  }
  BuildPrint("Opened file...\n");
  // The rows are read twice, in key order: keep the table's blocks in memory.
  code4optStart(&code);

  // A fresh name beside the table: nothing of the user's is overwritten.
  const std::string indexName =
      FreshNameBeside(tablePath, std::string("_") + kRecordIdField + ".", ".cdx");
  RecordIndex index(indexName);
  int result = 0;
  {
    Tag4info tags(code);
    tags.add(kRecordIdField, kRecordIdField, nullptr, 0, 0);
    BuildPrint("Indexing to %s\n", kRecordIdField);
    INDEX4* made = indexName.empty() ? nullptr : i4create(data, indexName.c_str(), tags.tags());
    if (made == nullptr || code.errorCode() < 0) {
      BuildPrint("%s", kGsaIndexErrorText);
      d4close(data);
      return 0;
    }
    index.Rename(i4fileName(made));
    Tag4 tag(Data4(data), kRecordIdField);
    d4tagSelect(data, tag.tag);

    std::vector<GsaFieldDef> fields;
    for (int j = 1; j <= d4numFields(data); ++j) {
      FIELD4* f = d4fieldJ(data, j);
      const char type = char(f4type(f));
      if (!Storable(type)) {
        BuildPrint("%s", kGsaFieldsErrorText);
        d4close(data);
        return 0;
      }
      fields.push_back({f4name(f), type, f4len(f), uint32_t(f4decimals(f))});
    }

    BuildPrint("Reading: %s\n", tablePath);
    const long count = d4recCount(data);
    XbaseRows rows(data);
    GsaWriteOptions options;
    options.stamp = stamp ? stamp : "";
    options.dateText = date;
    options.keyField = kRecordIdField;
    long written = 0;
    options.progress = [&] {
      ++written;
      const long record = d4recNo(data);
      if (record % 100 == 0) BuildPrint("Added %ld of %ld...\r", record, count);
    };
    BuildError error;
    bool ok = GsaWriteAttributeFile(attributePath, fields, rows, options, error);
    // Records come in QRECID order, which is their order in the table.
    BuildPrint("Added %ld of %ld...\n", written, count);
    if (!ok) {
      BuildPrint("Error: %s\n", error.Detail());
    } else if (written != count || code.errorCode() < 0) {
      BuildPrint("Error: %ld of %ld records were written to %s.\n", written, count, attributePath);
      ok = false;
    }
    result = ok ? 1 : 0;
  }
  d4close(data);
  code.closeAll();
  code.initUndo();
  return result;
}
