// The Access source (data kind 8): a table whose rows live in a table of an
// Access database, reached through the engine of access_engine.h. Rows are
// numbered through the row map, a ".aid" file beside the data part that
// lists the ID of row 1, 2, ... as 32-bit little-endian integers (0: no
// record).
#pragma once

#include <cstdint>
#include <string>

#include "mapfile/tables/table.h"

namespace layerio {

enum AccessErrorCode : int16_t {
  kErrAccessEngine = 1342,       // the engine's error descriptions
  kErrAccessNoEngine = 1343,     // no engine available
  kErrAccessRowWrite = 1351,     // insert or update of the row "%ld" failed
};

// The database, its table, the password and the format version (4: the
// older format) of a data source; kept in the source until close. The row
// map is the ".aid" companion of `rowMap` (the data part's own file when
// empty).
struct AccessSettings {
  std::string database;
  std::string table;
  std::string password;
  uint8_t version = 0;
  std::string rowMap;
};

// Gives a kind-8 source its settings before create, attach or describe.
int16_t AccessSourceSetup(DataSource* source, const AccessSettings& settings);
// The settings of a source (null when it has none).
const AccessSettings* AccessSourceSettingsOf(const DataSource* source);
// Gives a copy of a source record the settings of the original.
void AccessSourceSettingsCopy(const DataSource* from, DataSource* to);

// The driver's view of an open source, for tests: the row count of the row
// map, the highest ID listed, the ID column and index names, whether the ID
// column is the driver's own, and whether rows are numbered by position
// because the table has no ID column the engine could give it.
struct AccessSourceInfo {
  int32_t rowCount;
  int32_t highestId;
  std::string idColumn;
  std::string indexName;
  bool idOwn;
  bool byPosition;
  bool readOnly;
};
int16_t AccessSourceInfoGet(const DataSource* source, AccessSourceInfo* out);

// OLE dates: days since 30 December 1899, the time as the fraction.
int16_t OleDateFromParts(int year, int month, int day, int hour, int minute, int second,
                         double* out);
int16_t OleDateToParts(double date, int* year, int* month, int* day, int* hour, int* minute,
                       int* second);

const DataDriver* AccessDataDriver();

}  // namespace layerio
