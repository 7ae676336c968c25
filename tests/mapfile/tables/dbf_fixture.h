// Data files of kinds 1 and 5 driven the way the dispatcher drives them: a
// data source on a file-layer entry, column records with their payloads,
// and the driver's hooks called in the dispatcher's order.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/tables/dbf.h"

namespace maptablestest {

struct Col {
  const char* name;
  uint8_t type;
  uint8_t width;
  uint8_t decimals;
};

// A table's columns with their text payloads, freed with the set.
class Columns {
 public:
  explicit Columns(const std::vector<Col>& cols) : fields_(cols.size()) {
    for (size_t i = 0; i < cols.size(); ++i) {
      layerio::FieldDef& f = fields_[i];
      std::memset(&f, 0, sizeof f);
      std::strncpy(f.name, cols[i].name, sizeof f.name - 1);
      f.width = cols[i].width;
      f.decimals = cols[i].decimals;
      f.value.kind = cols[i].type;
      if (f.value.kind == layerio::kFieldChar || f.value.kind == layerio::kFieldMemo) {
        layerio::ValueAlloc(f.width, &f.value, nullptr);
      }
    }
  }
  ~Columns() {
    for (auto& f : fields_) {
      if (f.value.kind == layerio::kFieldChar || f.value.kind == layerio::kFieldMemo) {
        layerio::ValueFree(&f.value);
      }
    }
  }
  Columns(const Columns&) = delete;
  Columns& operator=(const Columns&) = delete;

  layerio::FieldDef* data() { return fields_.data(); }
  int32_t size() const { return int32_t(fields_.size()); }
  layerio::FieldDef& operator[](size_t i) { return fields_[i]; }

  void SetText(size_t i, const char* text) {
    char* p = nullptr;
    layerio::ValueData(&fields_[i].value, &p);
    std::strncpy(p, text, fields_[i].width);
    p[fields_[i].width] = 0;
  }
  std::string Text(size_t i) {
    char* p = nullptr;
    layerio::ValueData(&fields_[i].value, &p);
    return p ? p : "";
  }
  layerio::Value& V(size_t i) { return fields_[i].value; }

 private:
  std::vector<layerio::FieldDef> fields_;
};

inline uint32_t LoadU32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s.at(at))) | (uint32_t(uint8_t(s.at(at + 1))) << 8) |
         (uint32_t(uint8_t(s.at(at + 2))) << 16) | (uint32_t(uint8_t(s.at(at + 3))) << 24);
}
inline uint16_t LoadU16(const std::string& s, size_t at) {
  return uint16_t(uint8_t(s.at(at)) | (uint8_t(s.at(at + 1)) << 8));
}

class DbfTest : public mapfiletest::FileLayerTest {
 protected:
  void TearDown() override {
    Unbind();
    mapfiletest::FileLayerTest::TearDown();
  }

  // Ends the driver's work on the source and drops its file-layer entry, as
  // the dispatcher's close does.
  void Unbind() {
    if (driver_ && (source_.params.ptr[0] || source_.params.ptr[1])) driver_->close(&source_);
    if (source_.file > 0) layerio::FileRelease(source_.file);
    std::memset(&source_, 0, sizeof source_);
  }

  const layerio::DataDriver* DriverFor(uint8_t kind) {
    return kind == layerio::kDataDbase ? layerio::DbaseDataDriver() : layerio::NativeDataDriver();
  }

  // A source of the kind on the file `name`, as the dispatcher sets it up.
  void Bind(uint8_t kind, const std::string& name, uint16_t widthFlag = 0) {
    Unbind();
    source_.kind = kind;
    source_.file = Add(name, kind == layerio::kDataDbase ? layerio::kFileKindDbase
                                                         : layerio::kFileKindNative);
    source_.params.words[2] = uint32_t(layerio::CurrentTableCharset());
    source_.params.SetHalf(12, widthFlag);
    driver_ = DriverFor(kind);
  }

  bool Create(uint8_t kind, const std::string& name, Columns& cols) {
    Bind(kind, name);
    source_.columnCount = cols.size();
    int32_t n = cols.size();
    return driver_->create(&source_, cols.data(), n) && driver_->attach(&source_, cols.data(), &n);
  }
  bool Attach(uint8_t kind, const std::string& name, Columns& cols, uint16_t widthFlag = 0) {
    Bind(kind, name, widthFlag);
    source_.columnCount = cols.size();
    int32_t n = cols.size();
    return driver_->attach(&source_, cols.data(), &n) != 0;
  }
  bool Open(int mode) { return driver_->open(&source_, mode) != 0; }
  bool Release() { return driver_->release(&source_) != 0; }
  bool Read(Columns& cols, uint32_t row) {
    return driver_->read(&source_, cols.data(), row, nullptr) != 0;
  }
  uint32_t Insert(Columns& cols) {
    uint32_t row = 0;
    return driver_->insert(&source_, cols.data(), &row) ? row : 0;
  }
  bool Update(Columns& cols, uint32_t row) {
    return driver_->update(&source_, cols.data(), row) != 0;
  }

  layerio::DataSource source_{};
  const layerio::DataDriver* driver_ = nullptr;
};

}  // namespace maptablestest
