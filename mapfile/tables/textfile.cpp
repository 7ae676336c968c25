// The delimited-text driver (kinds 3 and 12): rows are lines of a text file.
#include <cstring>

#include "mapfile/tables/table.h"

namespace layerio {

namespace {

int16_t TextCreate(DataSource*, FieldDef*, int32_t) { return 0; }
int16_t TextAttach(DataSource*, FieldDef*, int32_t*) { return 0; }
int16_t TextDescribe(DataSource*, TableObject*) { return 0; }
int16_t TextOpen(DataSource*, int) { return 0; }
int16_t TextRelease(DataSource*) { return 0; }
int16_t TextRead(DataSource*, FieldDef*, uint32_t, uint8_t*) { return 0; }
int16_t TextInsert(DataSource*, FieldDef*, uint32_t*) { return 0; }
int16_t TextClose(DataSource*) { return 1; }

}  // namespace

const DataDriver* TextDataDriver() {
  static const DataDriver driver = {
      TextCreate, TextAttach, TextDescribe, TextOpen,  TextRelease,
      TextRead,   TextInsert, nullptr,      TextClose, nullptr,
  };
  return &driver;
}

}  // namespace layerio
