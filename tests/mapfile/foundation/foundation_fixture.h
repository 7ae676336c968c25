// A fresh foundation for each test: an empty error stack, trapping off,
// parse mode 0, the default system charset and locale values, no session
// and no coordinate-system or map-object services.
#pragma once

#include <gtest/gtest.h>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/state.h"

namespace mapfiletest {

class FoundationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    ASSERT_TRUE(layerio::ErrorStackCreate());
  }
  void TearDown() override {
    layerio::ErrorStackDestroy();
    Reset();
  }

  static void Reset() {
    layerio::FoundationState& s = layerio::State();
    s.trapping = 0;
    s.parser = layerio::ParserVariables{};
    s.systemCharset = layerio::kDefaultSystemCharset;
    s.caseTables = nullptr;
    s.caseTablesFoldAscii = true;
    s.dateSeparator = '/';
    s.dateOrder = 0;
    s.decimalSeparator = '.';
    s.thousandSeparator = 0;
    s.grouping = 0;
    s.ignoreSeparators = 0;
    s.session = nullptr;
    s.coordSys = nullptr;
    s.mapObjects = nullptr;
    s.tokenSaved = nullptr;
  }

  static const layerio::ErrorStack& Stack() { return *layerio::State().errors; }
};

}  // namespace mapfiletest
