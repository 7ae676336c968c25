// A library context and an import on a fresh output file, for tests that
// open inputs and read them through the import calls.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/boundary/context_fixture.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/support/import_params.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace readertest {

// One call of pipImportRead.
struct Step {
  int32_t status;
  std::string name;
  uint32_t percent;
  uint32_t count;
};

class ReaderTest : public contexttest::ContextTest {
 protected:
  void TearDown() override {
    if (import_) pipImportTerm(import_, 0);
    ContextTest::TearDown();
  }

  uint32_t Init(pipImportParamStruct params = testsupport::ImportParams()) {
    if (import_) pipImportTerm(import_, 0);
    import_ = 0;
    EXPECT_EQ(pipImportInit(context_, out_.c_str(), &params, &import_), 1) << Detail();
    return import_;
  }

  int32_t Code() { return pipErrorGet(context_, nullptr, nullptr); }

  Step Read() {
    Step s;
    char name[128];
    std::memset(name, 'x', sizeof name);
    s.percent = s.count = 0xFFFFFFFF;
    s.status = pipImportRead(import_, name, sizeof name, &s.percent, &s.count);
    s.name = name;
    return s;
  }
  // Reads until the end (0) or a failure (-1); the statuses in order.
  std::vector<int32_t> ReadAll(std::vector<Step>* steps = nullptr) {
    std::vector<int32_t> statuses;
    for (int guard = 0; guard < 100000; ++guard) {
      Step s = Read();
      statuses.push_back(s.status);
      if (steps) steps->push_back(s);
      if (s.status <= 0) break;
    }
    return statuses;
  }
  // Finishes the file and reads it back.
  gsbtest::File Finish() {
    EXPECT_EQ(pipImportTerm(import_, 1), 1) << Detail();
    import_ = 0;
    return gsbtest::File(out_);
  }

  testsupport::TempDir dir_;
  std::string out_ = dir_.File("out.gsb");
  uint32_t import_ = 0;
};

}  // namespace readertest
