// A test that runs with the library initialised through its interface and a
// temporary folder of its own. Every initialisation is undone at the end,
// also those a failing test left behind, so the next test starts clean.
#pragma once

#include <gtest/gtest.h>

#include "layerio.h"
#include "mapfile/tables/frame.h"
#include "support/temp_dir.h"

class LayerioSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  }
  void TearDown() override {
    while (layerio::Initialised()) PXShutdown();
  }

  testsupport::TempDir dir_;
};
