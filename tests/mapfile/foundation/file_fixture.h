// A fresh foundation with the page cache on, an empty file table and a
// fresh folder for each test.
#pragma once

#include <string>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/path.h"
#include "tests/mapfile/foundation/foundation_fixture.h"
#include "support/temp_dir.h"

namespace mapfiletest {

class FileLayerTest : public FoundationTest {
 protected:
  void SetUp() override {
    FoundationTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(layerio::FileCacheInit());
  }
  void TearDown() override {
    layerio::FileTableReleaseAll();
    layerio::FileLayerShutdown();
    layerio::FileSetDescriptorLimit(layerio::kFileDefaultDescriptorLimit);
    EXPECT_EQ(layerio::FileDescriptorCount(), 0);
    FoundationTest::TearDown();
  }

  std::string PathOf(const std::string& name) const { return dir_.File(name); }
  layerio::FileHandle Add(const std::string& name, int kind = 0) {
    return layerio::FileTableAddName(PathOf(name).c_str(), kind);
  }
  std::string Contents(const std::string& name) const { return testsupport::ReadAll(PathOf(name)); }
  static bool Pushed(int code) { return layerio::ErrorHasCode(uint16_t(code)) != 0; }

  testsupport::TempDir dir_;
};

}  // namespace mapfiletest
