// The data-source dispatcher: one driver per data kind.
#include <cstring>

#include "mapfile/tables/table.h"

namespace layerio {

// Until the dBASE record layer is linked in, kinds 1 and 5 have no driver.
__attribute__((weak)) const DataDriver* DbaseDataDriver() { return nullptr; }
__attribute__((weak)) const DataDriver* NativeDataDriver() { return nullptr; }

namespace {
int gTableCharset = kDefaultSystemCharset;
}  // namespace

int CurrentTableCharset() { return gTableCharset; }
void SetCurrentTableCharset(int charset) { gTableCharset = charset; }

int DataKindFileKind(uint8_t) { return 0; }
void DataSourceDefaults(uint8_t, uint32_t params[kDataParamWords]) {
  std::memset(params, 0, sizeof(uint32_t) * kDataParamWords);
}
int16_t DataSourceCreate(const char*, const char*, int, uint8_t, DataSource*, uint8_t, int32_t,
                         FieldDef*, const uint32_t*, FileHandle) {
  return 0;
}
int16_t DataSourceAttach(const char*, int, DataSource*, uint8_t, int32_t*, FieldDef*) { return 0; }
int16_t DataSourceDescribe(const char*, TableObject*) { return 0; }
int16_t DataSourceOpen(DataSource*, int) { return 0; }
int16_t DataSourceRelease(DataSource*) { return 0; }
int16_t DataSourceRead(DataSource*, FieldDef*, uint32_t, uint8_t*) { return 0; }
int16_t DataSourceReadRow(DataSource*, FieldDef*, uint32_t) { return 0; }
int16_t DataSourceInsert(DataSource*, FieldDef*, uint32_t*) { return 0; }
int16_t DataSourceUpdate(DataSource*, FieldDef*, uint32_t) { return 0; }
int16_t DataSourceClose(DataSource*, FieldDef*) { return 0; }
int16_t DataSourceHasMemo(DataSource*) { return 0; }
const DataDriver* DataDriverFor(uint8_t) { return nullptr; }
int16_t ColumnValuesAlloc(FieldDef*, int32_t) { return 0; }
void ColumnValuesFree(FieldDef*, int32_t) {}
void ColumnValuesBlank(FieldDef*, int32_t) {}

}  // namespace layerio
