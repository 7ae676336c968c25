// A fresh library context for each test, and the check that the test left
// no handle behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "boundary/mainintn.h"
#include "zonelib.h"

namespace contexttest {

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(HandleTable::Global().InUseCount(), 0);
    context_ = uint32_t(pipInit(0, nullptr));
    ASSERT_NE(context_, 0u);
  }
  // A test that ends the context itself sets context_ to 0.
  void TearDown() override {
    if (context_) {
      EXPECT_EQ(pipTerm(context_), 1);
    }
    EXPECT_EQ(HandleTable::Global().InUseCount(), 0) << "a test left handles behind";
  }

  // The detail text of the context's last error.
  std::string Detail() {
    char message[256], detail[256];
    pipErrorGet(context_, message, detail);
    return detail;
  }

  uint32_t context_ = 0;
};

}  // namespace contexttest
