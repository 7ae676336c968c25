// Fields for the dispatcher's tests: a table's FieldDef array built from a
// short list of (name, type, width, decimals), with the payloads the
// dispatcher allocates freed at the end.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/tables/table.h"

namespace mapfiletest {

struct ColumnSpec {
  const char* name;
  uint8_t type;
  uint8_t width;
  uint8_t decimals;
};

class Columns {
 public:
  explicit Columns(std::initializer_list<ColumnSpec> specs) {
    for (const ColumnSpec& s : specs) {
      layerio::FieldDef f{};
      std::strncpy(f.name, s.name, sizeof f.name - 1);
      f.width = s.width;
      f.decimals = s.decimals;
      f.value.kind = s.type;
      fields_.push_back(f);
    }
  }
  ~Columns() { layerio::ColumnValuesFree(fields_.data(), count()); }
  Columns(const Columns&) = delete;
  Columns& operator=(const Columns&) = delete;

  layerio::FieldDef* data() { return fields_.data(); }
  layerio::FieldDef& operator[](size_t i) { return fields_[i]; }
  int32_t count() const { return int32_t(fields_.size()); }

  void SetText(size_t i, const char* text) {
    char* p = nullptr;
    layerio::ValueData(&fields_[i].value, &p);
    ASSERT_NE(p, nullptr);
    std::strncpy(p, text, fields_[i].width);
    p[fields_[i].width] = '\0';
  }
  std::string Text(size_t i) {
    char* p = nullptr;
    layerio::ValueData(&fields_[i].value, &p);
    return p ? std::string(p) : std::string("<null>");
  }

 private:
  std::vector<layerio::FieldDef> fields_;
};

// A data source for the tests, zeroed.
inline layerio::DataSource NewSource() {
  layerio::DataSource s;
  std::memset(&s, 0, sizeof s);
  return s;
}

}  // namespace mapfiletest
