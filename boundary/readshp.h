// SHPRead: the reader of shapefiles (.shp with .shx) and their dBASE tables
// (.dbf), through the shapefile and dBASE functions of boundary/shapefile.h
// and boundary/dbfile.h. Each Read takes the next shape record and the next
// table record.
//
// Shapes: a point becomes a point; a polyline of one part of exactly two
// points a line of two points; other polylines a line with each part as a
// ring; a polygon a region with each part as a ring. Other types (null,
// multipoint, the Z and M types) are skipped (status 2), as are shapes
// without points. Coordinates are degrees or millionths by the shape
// (importread.h).
//
// Names: the value of the id field by its type: 'C' the text (trimmed, 127
// characters), 'N' and 'F' "%f", 'L' the logical character's code ("%d"),
// 'D' and 'M' the text; other types "Unknown". The second name likewise from
// the second field.
//
// Contracts on the border cases:
//   - Record numbers are the records' positions in the shapefile: skipped
//     records count too.
//   - Id field null or not in the table: warning 106 and the first field;
//     the last field of that name wins (ignoring case). A second field not
//     in the table: no second name.
//   - A damaged record, or a table that ends before the shapefile, fails the
//     read with code 100 and the text of the shapefile functions.
//   - A .prj beside the shapefile that names a projected coordinate system
//     ("PROJCS[" or "PROJCRS[" at its start) fails the first read with code
//     100 and kShpProjectedFormat: the coordinates would be taken as
//     millionths of a degree and stored as a wrong place without a word.
#pragma once

#include <string>

#include "boundary/importread.h"
#include "zonelib.h"

inline constexpr const char* kShpIdNotFoundText =
    "WARNING: Specified id parameter could not be found. Parameter set to first column in .dbf "
    "file.";
inline constexpr const char* kShpIdNullText =
    "WARNING: id parameter was NULL. Parameter set to first column in .dbf file.";
inline constexpr const char* kShpProjectedFormat =
    "Error: %s names the projected coordinate system \"%s\". The input must be in degrees of "
    "longitude and latitude.";

class SHPRead : public ImportRead {
 public:
  // base: the path without its extension.
  SHPRead(BoundaryBuilder& builder, const char* base, const char* idField,
          const char* secondField);
  ~SHPRead() override;

  uint32_t Progress() const override;
  uint32_t Count() const override { return uint32_t(count_); }

 private:
  bool ReadNext() override;
  // The value of field column (none when -1) as a name, into to.
  void FieldText(int32_t column, char* to) const;
  // Reports the last failure of the shapefile functions; false.
  bool Failure(int line);
  // Builds and stores the shape just read; the status says what happened.
  bool StoreShape(const char* name2, uint32_t record);

  std::string path_;  // the main file, for messages
  std::string prj_;        // the .prj file beside it, for messages
  std::string projected_;  // the projected system it names, or empty
  DbfHandle table_{};
  ShapeHandle shapes_{};
  int32_t idColumn_ = 0;
  int32_t secondColumn_ = -1;
};
