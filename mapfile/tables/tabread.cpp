// The definition reader: a .TAB file turned into an open TableObject.
#include <cstring>

#include "mapfile/tables/tabdef.h"

namespace layerio {

TableObject* TableDefinitionOpen(FileHandle) { return nullptr; }

int16_t DefinitionHeaderRead(FileHandle, DefParse*) { return 0; }

int16_t ClauseStreamRun(const char*, const char*, int32_t, DefParse*) { return 0; }

int16_t StatementRun(const char*, int) { return 0; }

int16_t TableIsStale(const TableObject*, const char*) { return 0; }

int32_t CompanionFileList(const TableObject*, CompanionFile[5]) { return 0; }

}  // namespace layerio
