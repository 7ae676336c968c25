// The table-definition writer, registration of foreign data files, the
// refresh of their definitions, the pre-300 reader and the closing of a
// table object.
#include "mapfile/tables/tabdef.h"

namespace layerio {

int16_t TableDefWrite(TableObject* table) { return TableDefWriteFull(table, 0, 0); }

int16_t TableDefWriteFull(TableObject*, int, int) { return 0; }

int16_t TableRegisterData(const char*, const char*, const DataSource*, int, int) { return 0; }

int16_t TableDataNewer(const char*, const char*, int* newer, const TableObject*) {
  if (newer) *newer = 0;
  return 0;
}

int16_t TableDefRefresh(const char*, const char*, TableObject*) { return 0; }

int16_t TableDefReadLegacy(DefParse*, FileHandle) { return 0; }

FieldDef* TableDefColumns(FileHandle, int32_t* count, int) {
  if (count) *count = 0;
  return nullptr;
}

void TableClose(TableObject*) {}

int16_t TableViewOfTable(TableObject*, TableObject*, int) { return 0; }

}  // namespace layerio
