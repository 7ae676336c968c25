// TabBuilder: a map table (.tab) of the map-table library. The boundary
// engine reads the geometry itself; the builder reads the table's field
// records and its rows (TAB-separated row texts) through the library's
// interface to make the temporary attribute table.
//
// Contracts on the border cases:
//   - Every row becomes the attribute record of the object with its row
//     number (QRECID = row number, as the engine numbers the objects), an
//     empty row giving empty values.
//   - A row text is split at every TAB, quotes honoured and removed (a
//     doubled quote gives one); missing values are empty.
//   - Fields of type 1, 5, 37 and 38 keep their width (20 when it is 0);
//     a Float field (8) becomes a text 21 characters wide, the longest of
//     its 14-digit forms ("-1.2345678901234e-100"), so that no value is cut
//     into another number; every other field a text 20 characters wide.
//   - A row holding a byte of 128 or above fails the attribute step with
//     the refusal lines (also written to the log).
//   - The library is initialised once per builder and shut down once for a
//     successful initialisation; every table the builder opens is closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/objbuild.h"
#include "layerio.h"

inline constexpr int kTabDefaultWidth = 20;
inline constexpr int kTabFloatWidth = 21;

// The entries of the map-table library the builder calls; the library's own
// by default, replaced by tests.
struct TabEntries {
  uint16_t (*initialize)(uint32_t interfaceNumber);
  uint16_t (*shutdown)();
  PXTableHandle (*openTable)(const char* path, uint32_t mode);
  uint16_t (*getRowCount)(PXTableHandle table, uint32_t* rows);
  uint16_t (*getFieldCount)(PXTableHandle table, uint32_t* fields);
  uint16_t (*getFieldInfo)(PXTableHandle table, PXFieldInfo* fields);
  uint16_t (*fetchRow)(PXTableHandle table, uint32_t row, char* rowText, PXObject* object);
  int32_t (*getLastError)();
  uint16_t (*closeTable)(PXTableHandle table);
};
TabEntries& TabBuilderEntries();
TabEntries LayerioTabEntries();

class TabBuilder : public ObjectBuilder {
 public:
  TabBuilder();
  ~TabBuilder() override;

  bool Open(uint32_t import, const char* input, const char* output) override;
  bool AttributeTable() override;

  uint32_t RowCount() const { return rows_; }
  const std::vector<PXFieldInfo>& Fields() const { return fields_; }

 private:
  bool ReadRows(const std::string& path, TempAttributeTable& target);
  // Opens the table (mode read); 0 when it does not open.
  PXTableHandle OpenTable(const char* path);
  void CloseTable(PXTableHandle& table);

  const TabEntries entries_;
  bool initialised_ = false;
  uint32_t rows_ = 0;
  std::vector<PXFieldInfo> fields_;
};
