// TABRead: the reader of map tables, through the map-table library's C
// interface (include/layerio.h): initialise, open, counts, field records,
// then one fetch per row, and close and shut down when the reader goes.
//
// Each row's values come as TAB-separated text (a text value in double
// quotes, each double quote in it doubled: taken unquoted); the name and
// second name are the values of the fields chosen by name. Each
// row's map object becomes: a point (codes 201, 211, 212), a line of two
// points (202), a line of one part (204), a line of several sections joined
// into one part (210) or a region with one ring per polygon (205). Other
// objects, rows without an object and objects without points are skipped
// (status 2).
//
// Contracts on the border cases:
//   - Record numbers are row numbers: skipped rows count too.
//   - The table must open and its row and field counts be had, else the open
//     fails with code 100 and the library's error number (the open's naming
//     the table); a row that cannot be fetched fails the read with 100,
//     naming the row and the table; a row with more values than fields fails
//     the read with 106.
//   - Id field null or not a field: warning 106 and the first field; the
//     last field of that name wins. A second field that is not a field: no
//     second name.
//   - Objects are read in longitude and latitude on WGS 84 whatever the
//     table's coordinate system: each is converted by the library from the
//     table's system (PXConvertObject), so a projected table is placed where
//     it lies. A table in a non-earth system cannot be placed: the open fails
//     with 106 and kTabNonEarthFormat. A table without a map part has no
//     objects to convert. An object that cannot be converted fails the read.
//   - Coordinates are degrees or millionths by the shape (importread.h).
//   - The library is shut down once for each initialisation that succeeded.
#pragma once

#include <string>
#include <vector>

#include "boundary/importread.h"
#include "layerio.h"

// The entries TABRead calls. Bound to the library's own by default; tests
// put a stand-in in their place.
struct LayerioEntries {
  uint16_t (*initialize)(uint32_t interfaceNumber);
  PXTableHandle (*openTable)(const char* path, uint32_t mode);
  uint16_t (*getRowCount)(PXTableHandle table, uint32_t* rows);
  int32_t (*getLastError)();
  uint16_t (*getFieldCount)(PXTableHandle table, uint32_t* fields);
  uint16_t (*getObjectCounts)(PXTableHandle table, uint32_t* points, uint32_t* lines,
                              uint32_t* regions);
  uint16_t (*getFieldInfo)(PXTableHandle table, PXFieldInfo* fields);
  uint16_t (*fetchRow)(PXTableHandle table, uint32_t row, char* rowText, PXObject* object);
  uint16_t (*closeTable)(PXTableHandle table);
  uint16_t (*shutdown)();
  uint16_t (*getTableCoordSys)(PXTableHandle table, PXCoordSys* coordSys);
  uint16_t (*parseCoordSys)(const char* clause, PXCoordSys* coordSys);
  uint16_t (*convertObject)(const PXObject* in, const PXCoordSys* inCoordSys, PXObject* out,
                            const PXCoordSys* outCoordSys);
};
LayerioEntries& TabReadEntries();
LayerioEntries LayerioLibraryEntries();

inline constexpr const char* kTabIdNotFoundText =
    "WARNING: Specified id parameter could not be found. Parameter set to first column in .tab "
    "file.";
inline constexpr const char* kTabIdNullText =
    "WARNING: id parameter was NULL. Parameter set to first column in .tab file.";
inline constexpr const char* kTabInvalidRecordText = "Error: Invalid data record in input file";
inline constexpr const char* kTabNonEarthFormat =
    "Error: %s is in a non-earth coordinate system. The input must be in degrees of longitude "
    "and latitude.\n";
// The system objects are read in.
inline constexpr const char* kTabLonLatClause = "CoordSys Earth Projection 1, 104";

class TABRead : public ImportRead {
 public:
  TABRead(BoundaryBuilder& builder, const char* path, const char* idField,
          const char* secondField);
  ~TABRead() override;

  uint32_t Progress() const override;
  uint32_t Count() const override { return row_; }

 private:
  bool ReadNext() override;
  // Reports text (formatted with the library's error) to the debugger
  // output and, with code, to the error object.
  void Trouble(int32_t code, const char* format, int line);
  // The same for a failure of the table (format: the path and the error) or
  // of one of its rows (format: the row, the path and the error).
  void Report(const char* format, int line, unsigned long row = 0);
  bool StoreObject(const char* name2);

  const LayerioEntries entries_;
  std::string path_;
  bool initialised_ = false;
  PXTableHandle table_ = 0;
  uint32_t rows_ = 0;
  uint32_t row_ = 0;
  std::vector<PXFieldInfo> fields_;
  // Set when objects are converted from the table's system to lonLat_.
  bool convert_ = false;
  PXCoordSys tableSystem_{};
  PXCoordSys lonLat_{};
  PXObject converted_{};
  int32_t idColumn_ = 0;      // 0-based
  int32_t secondColumn_ = -1; // -1: none
  std::vector<char> text_;
  PXObject object_{};
  // Kept from row to row so that a row allocates nothing of its own.
  std::vector<const char*> values_;
  std::vector<DoublePart> parts_;
};
