// The fixture of the map-object tests: the foundation and the geometry
// scratch buffer set up around each test, and heap objects that are
// destroyed at its end.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "tests/mapfile/foundation/foundation_fixture.h"
#include "mapfile/objects/geom.h"

namespace objtest {

class GeomHeapTest : public mapfiletest::FoundationTest {
 protected:
  void SetUp() override {
    FoundationTest::SetUp();
    ASSERT_TRUE(layerio::GeomScratchInit());
  }
  void TearDown() override {
    for (layerio::MemHandle h : heap_) layerio::GeomObjectDestroy(h);
    heap_.clear();
    layerio::GeomScratchShutdown();
    FoundationTest::TearDown();
  }

  // A heap object destroyed at the end of the test.
  layerio::GeomObject* New(int kind) {
    layerio::MemHandle h;
    layerio::GeomObject* o;
    EXPECT_TRUE(layerio::GeomObjectAlloc(&h, &o, kind, 0));
    heap_.push_back(h);
    return o;
  }
  // Takes an object made elsewhere (null is passed through).
  layerio::GeomObject* Keep(layerio::GeomObject* o) {
    if (o) heap_.push_back(o);
    return o;
  }

  std::vector<layerio::MemHandle> heap_;
};

}  // namespace objtest
