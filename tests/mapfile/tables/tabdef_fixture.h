// Helpers shared by the definition reader and writer tests: the field
// records of a column list, closing a data file just made, and reading a
// definition back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/error.h"
#include "mapfile/tables/tabdef.h"

namespace tabdef_fixture {

// Blank field records named and typed as the columns (any type with name,
// type, width and decimals members).
template <class Column>
std::vector<layerio::FieldDef> FieldsOf(const std::vector<Column>& cols) {
  std::vector<layerio::FieldDef> fields(cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    std::memset(&fields[i], 0, sizeof fields[i]);
    std::strcpy(fields[i].name, cols[i].name);
    fields[i].width = cols[i].width;
    fields[i].decimals = cols[i].decimals;
    fields[i].value.kind = cols[i].type;
  }
  return fields;
}

// Lets go of a data file written by its driver and clears what it pushed.
inline void FinishData(layerio::DataSource* s, std::vector<layerio::FieldDef>& fields) {
  layerio::DataSourceRelease(s);
  layerio::DataSourceClose(s, fields.data());
  layerio::ErrorClear();
}

// Reads the definition at `path`; null when the reader gave no table (its
// file entry is then let go).
inline layerio::TableObject* OpenDefinition(const std::string& path) {
  layerio::ErrorClear();
  layerio::FileHandle file = layerio::FileTableAddName(path.c_str(), layerio::kFileKindTable);
  EXPECT_GT(file, 0);
  layerio::TableObject* t = layerio::TableDefinitionOpen(file);
  if (!t) layerio::FileRelease(file);
  return t;
}

inline bool Pushed(int code) { return layerio::ErrorHasCode(uint16_t(code)) != 0; }

}  // namespace tabdef_fixture
