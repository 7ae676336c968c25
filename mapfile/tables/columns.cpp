// Column names, type texts, view column slots, reopening a view's files,
// the lists of open tables and the version rules.
#include "mapfile/tables/table.h"

namespace layerio {

int16_t ColumnNameCheck(const char*) { return 0; }
int16_t ColumnNameUnique(char*, char*, size_t) { return 0; }
int16_t ColumnNamesMakeUnique(FieldDef*, int32_t) { return 0; }
int16_t ColumnTypeText(uint8_t, int, int, char*, size_t) { return 0; }
uint16_t ColumnDisplayWidth(uint8_t, int) { return 0; }
int16_t ColumnSlotInit(ColumnSlot*, TableObject*, TableObject*, const FieldDef*, uint32_t) {
  return 0;
}
void ColumnSlotFree(ColumnSlot*) {}
int16_t TableExprEval(const ColumnSlot*, Value*) { return 0; }
void ColumnSetFree(ColumnSet**) {}
int16_t TableFilesReopen(TableObject*, int) { return 0; }
void TableLinksRelease(TableObject*) {}
TableObject** TableListHead(int) { return nullptr; }
void TableListAdd(int, TableObject*) {}
int16_t TableListRemove(int, TableObject*) { return 0; }
int16_t TableFindByName(const char*, TableObject**, int*) { return 0; }
int16_t TableFindByNameAll(const char*, TableObject**, int*) { return 0; }
uint32_t TableRowCount(const TableObject*) { return 0; }
int16_t TableIsShapefile(const TableObject*) { return 0; }
void TableSetVersions(TableObject*, int16_t) {}
void TableVersionsRaise(TableVersions*, int16_t, int16_t, int16_t) {}
int16_t TableVersionsForFeatures(const TableVersions*, TableVersions*, const TableObject*) {
  return 0;
}
int16_t TableVersionsForProjection(const TableVersions*, TableVersions*, int) { return 0; }
int16_t TableVersionsForCoordSys(const TableVersions*, TableVersions*, const CoordSys*) {
  return 0;
}
int16_t TableVersionsForObject(const TableVersions*, TableVersions*, const GeomObject*,
                               const TableObject*) {
  return 0;
}

}  // namespace layerio
