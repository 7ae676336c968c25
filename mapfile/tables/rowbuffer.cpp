// Pending row buffers (data kind 11), type clauses of foreign files and the
// defaults of omitted clause values.
#include "mapfile/tables/table.h"

namespace layerio {

int16_t RowBufferInit(DataSource*) { return 0; }
int16_t RowBufferInsert(DataSource*, uint32_t, const FieldDef*, int32_t) { return 0; }
int16_t RowBufferFind(const RowBufferList*, uint32_t, RowBufferRecord**) { return 0; }
int16_t RowBufferAt(const RowBufferList*, uint32_t, RowBufferRecord**) { return 0; }
int16_t RowBufferUpdate(DataSource*, uint32_t, const FieldDef*, int32_t) { return 0; }
int16_t RowBufferRead(DataSource*, uint32_t, FieldDef*, int32_t) { return 0; }
int16_t RowBufferFree(DataSource*) { return 1; }
RowBufferList* RowBufferListOf(const DataSource*) { return nullptr; }
int16_t RowBufferLookup(DataSource*, uint32_t, FieldDef*, int32_t) { return 0; }
int16_t RowOverlayAttach(DataSource*) { return 0; }
void RowOverlayFree(DataSource*) {}
int16_t TypeClauseWrite(char*, size_t, int, const TypeClauseOptions*) { return 0; }
uint16_t ClauseDefaultValue(int) { return 0; }
void ClauseDefaultsPush(const uint16_t*) {}
void ClauseDefaultsPop() {}
void ClauseDefaultSetProcess(uint16_t) {}

}  // namespace layerio
