// The attribute file of a boundary file built from a shapefile: the rows of
// its dBASE table, keyed by record number (QRECID 1, 2, ... in table order,
// as the import numbers the objects), stamped with the boundary file's
// creation time so that the reader accepts it. The search tests use it to
// give the real data sets their attribute files without running gsbbuild.
// Memo fields are left out.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/gsaformat.h"
#include "base/qerror.h"
#include "builder/gsabuild.h"
#include "platform/env.h"
#include "zonelib.h"

namespace testsupport {

// The rows of an open dBASE table as texts, the record number last.
class DbfRows : public GsaRowSource {
 public:
  explicit DbfRows(const std::string& path) : path_(path) {}

  bool Rewind() override {
    Close();
    if (dbOpen(&table_, path_.c_str()) != 0) return false;
    open_ = true;
    row_ = 0;
    return true;
  }
  bool Next() override {
    if (!open_) return false;
    const int r = dbRead(&table_);
    if (r != 0) {
      failed_ = r < 0;
      return false;
    }
    ++row_;
    values_.clear();
    size_t at = 1;  // the deletion byte
    for (uint32_t i = 0; i < table_.fieldCount; ++i) {
      const DbfField& f = table_.fields[i];
      std::string_view text(table_.record + at, f.width);
      at += f.width;
      if (f.type == DBF_MEMO) continue;
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      if (f.type != DBF_CHARACTER)
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
      values_.emplace_back(text);
    }
    char key[16];
    std::snprintf(key, sizeof key, "%12u", row_);
    values_.emplace_back(key);
    return true;
  }
  std::string_view Value(size_t field) const override {
    return field < values_.size() ? std::string_view(values_[field]) : std::string_view();
  }
  bool Failed() const override { return failed_; }

  // The fields after a Rewind: the table's (memo fields left out), then
  // QRECID.
  std::vector<GsaFieldDef> Fields() const {
    std::vector<GsaFieldDef> fields;
    for (uint32_t i = 0; i < table_.fieldCount; ++i) {
      const DbfField& f = table_.fields[i];
      if (f.type == DBF_MEMO) continue;
      fields.push_back({f.name, f.type, f.width, f.decimals});
    }
    fields.push_back({kGsaKeyFieldName, 'N', 12, 0});
    return fields;
  }

  ~DbfRows() override { Close(); }

 private:
  void Close() {
    if (open_) dbClose(&table_);
    table_ = DbfHandle{};
    open_ = false;
  }

  std::string path_;
  DbfHandle table_{};
  bool open_ = false;
  bool failed_ = false;
  uint32_t row_ = 0;
  std::vector<std::string> values_;
};

// Writes the attribute file of the boundary file output from the table of
// the shapefile input: 1 written, 0 when input is not a shapefile, -1 on
// failure with the reason in why.
inline int WriteAttributeFile(uint32_t context, const std::string& input, const std::string& output,
                              std::string* why) {
  const size_t dot = input.rfind('.');
  if (dot == std::string::npos || !platform::AsciiEqualsIgnoreCase(input.substr(dot), ".shp"))
    return 0;
  const std::string table = input.substr(0, dot) + ".dbf";
  uint32_t file = 0;
  pipObjectFileExtraInfoStruct extra{};
  if (pipObjectFileOpen(context, output.c_str(), 0, &file) == 1) {
    pipObjectHandleFileQueryEx(file, &extra);
    pipObjectFileClose(file);
  }
  DbfRows rows(table);
  if (!rows.Rewind()) {
    *why = table + " cannot be read";
    return -1;
  }
  GsaWriteOptions options;
  options.stamp = extra.created;
  QError error;
  const std::string path = GsaAttributeFileName(output);
  if (!GsaWriteAttributeFile(path.c_str(), rows.Fields(), rows, options, error)) {
    *why = path + ": " + error.Message() + " " + error.Detail();
    return -1;
  }
  return 1;
}

}  // namespace testsupport
