// The Excel workbook driver (kind 4, read only): a table's rows are a
// rectangular range of one sheet's cells.
#include "mapfile/tables/cfb.h"
#include "mapfile/tables/table.h"

namespace layerio {

const DataDriver* ExcelDataDriver() {
  static const DataDriver driver = {};
  return &driver;
}

}  // namespace layerio
