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
//   - The row and field counts must be had, else the open fails with code
//     100 and the library's error number; a row with more values than fields
//     fails the read with 106.
//   - Id field null or not a field: warning 106 and the first field; the
//     last field of that name wins. A second field that is not a field: no
//     second name.
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
};
LayerioEntries& TabReadEntries();
LayerioEntries LayerioLibraryEntries();

inline constexpr const char* kTabIdNotFoundText =
    "WARNING: Specified id parameter could not be found. Parameter set to first column in .tab "
    "file.";
inline constexpr const char* kTabIdNullText =
    "WARNING: id parameter was NULL. Parameter set to first column in .tab file.";
inline constexpr const char* kTabInvalidRecordText = "Error: Invalid data record in input file";

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
  bool StoreObject(const char* name2);

  const LayerioEntries entries_;
  std::string path_;
  bool initialised_ = false;
  PXTableHandle table_ = 0;
  uint32_t rows_ = 0;
  uint32_t row_ = 0;
  std::vector<PXFieldInfo> fields_;
  int32_t idColumn_ = 0;      // 0-based
  int32_t secondColumn_ = -1; // -1: none
  std::vector<char> text_;
  PXObject object_{};
};
