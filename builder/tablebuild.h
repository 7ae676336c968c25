// LedgerkitBuilder: a boundary file of points from a table of the table
// library: xBase (.dbf), delimited text (.csv, or .txt whose format file
// says so), fixed-width text (.txt) or a table of an Access database
// ("database.mdb:table"). Each row becomes one point at its longitude and
// latitude fields; the attribute table is a copy of the whole input table.
//
// Contracts on the border cases:
//   - The point fields are the first present of LON, LONGITUDE, N_LON and of
//     LAT, LATITUDE, N_LAT (any case); Open fails when either is missing.
//   - Coordinates are read from the fields' texts exactly. A text that is
//     blank or not wholly a number (blanks around it aside) fails the build
//     with a line naming the field, the row and the file. When the latitude lies strictly between
//     -1,000,000 and 1,000,000 and is not 0 both are degrees, otherwise both
//     are millionths of a degree; either way they are rounded to the nearest
//     millionth (halves away from zero). A point beyond 180 degrees of
//     longitude or 90 of latitude fails the build with a line naming the
//     row.
//   - The point's name is the id field's text when the table has that
//     field, else the first field's (with a warning when an id field was
//     named), cut to 127 characters.
//   - A delimited text table that is empty or has no line end in its first
//     512 bytes fails the build, and so does a dBASE table whose data ends
//     before the last record its header counts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "builder/objbuild.h"
#include "tables/qtable.h"

inline constexpr const char* kAccessConnect = "Provider='Microsoft.Jet.OLEDB.4.0'";
inline constexpr const char* kUnknownTableText = "Error: Unknown table type!\n";
inline constexpr const char* kNoLongitudeText =
    "Error: Longitude field was not found in the input table! Expected: LON, LONGITUDE, or "
    "N_LON.\n";
inline constexpr const char* kNoLatitudeText =
    "Error: Latitude field was not found in the input table! Expected: LAT, LATITUDE, or "
    "N_LAT.\n";

inline constexpr const char* kIdNotFoundFormat =
    "WARNING: Specified id parameter could not be found. Parameter set to first column in .%s "
    "file.\n";
inline constexpr const char* kEmptyTextFormat = "Error: The text table %s is empty.\n";
inline constexpr const char* kNoLineEndFormat =
    "Error: The text table %s has no line end (CR, LF or CR/LF) in its first 512 bytes.\n";
inline constexpr const char* kTableEndsFormat =
    "Error: The table %s ends after %llu of the %lu records its header counts.\n";
inline constexpr const char* kCoordinateFaultFormat =
    "Error: The %s value (%s) in row %lu of %s %s.\n";

// A coordinate text as the point's millionths of a degree, by the rule above;
// false when it is not wholly a number, falls outside limit (180 or 90
// degrees) or is not finite.
struct PointCoordinates {
  int32_t x = 0;
  int32_t y = 0;
};
bool ScalePoint(std::string_view longitude, std::string_view latitude, PointCoordinates* out);

// The table an input names, not open; null (with a line) when none can be
// made.
std::unique_ptr<CQmsTable> MakeInputTable(const std::string& input);

class LedgerkitBuilder : public ObjectBuilder {
 public:
  ~LedgerkitBuilder() override;
  bool Open(uint32_t import, const char* input, const char* output) override;
  bool AttributeTable() override;
  bool Build(uint32_t library, uint32_t import) override;

  const std::string& LongitudeField() const { return longitude_; }
  const std::string& LatitudeField() const { return latitude_; }

 private:
  bool FindPointFields();
  // A delimited text table must hold a line end in its first 512 bytes,
  // and so must not be empty; a dBASE table must hold every record its
  // header counts. False with a line otherwise.
  bool CheckTableData() const;
  bool CheckDbaseRecords() const;
  bool InsertPoints(uint32_t import);

  std::unique_ptr<CQmsTable> table_;
  std::string longitude_;
  std::string latitude_;
};
