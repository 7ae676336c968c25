#include <gtest/gtest.h>

#include "layerio.h"

namespace {

TEST(Frame, VersionBeforeInitialisation) {
  uint32_t major = 0, minor = 0, patch = 9;
  EXPECT_EQ(PXGetLibraryVersion(&major, &minor, &patch), 1);
  EXPECT_EQ(major, 8u);
  EXPECT_EQ(minor, 5u);
  EXPECT_EQ(patch, 0u);
}

}  // namespace
