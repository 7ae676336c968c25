#include "zonelib.h"

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boundary/cframe.h"
#include "boundary/mainintn.h"
// The clipper's records: their layout checks run as this file compiles.
#include "gpc.h"

namespace {

constexpr const char* kNotRecognized = "Handle is not recognized";
constexpr const char* kNotRecognizedDetail =
    "attempted call to pipErrorGet with invalid handle as first parameter";

class PipMainTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(HandleTable::Global().InUseCount(), 0); }
  void TearDown() override {
    EXPECT_EQ(HandleTable::Global().InUseCount(), 0) << "a test left handles behind";
  }
};

TEST_F(PipMainTest, ContextLifecycle) {
  int32_t h = pipInit(0, nullptr);
  EXPECT_EQ(h, 1);  // the first handle of an empty table
  char message[256] = "x", detail[256] = "x";
  EXPECT_EQ(pipErrorGet(uint32_t(h), message, detail), -1);
  EXPECT_STREQ(message, "");
  EXPECT_STREQ(detail, "");
  EXPECT_EQ(pipTerm(uint32_t(h)), 1);
  EXPECT_EQ(pipTerm(uint32_t(h)), -1);
  EXPECT_EQ(pipErrorGet(uint32_t(h), message, detail), 109);
}

TEST_F(PipMainTest, CallsOnHandlesThatAreNoContext) {
  int32_t context = pipInit(7, "ignored");
  uint32_t ended = uint32_t(pipInit(0, nullptr));
  pipTerm(ended);
  const uint32_t handles[] = {0, ended, 5000, 0xFFFFFFFFu};
  for (uint32_t h : handles) {
    char message[300], detail[300];
    std::memset(message, 'X', sizeof message);
    std::memset(detail, 'X', sizeof detail);
    EXPECT_EQ(pipErrorGet(h, message, detail), 109) << h;
    EXPECT_STREQ(message, kNotRecognized) << h;
    EXPECT_STREQ(detail, kNotRecognizedDetail) << h;
    EXPECT_EQ(pipErrorShow(h, 1), 0) << h;
    EXPECT_EQ(pipTerm(h), -1) << h;
  }
  EXPECT_EQ(pipTerm(uint32_t(context)), 1);
}

TEST_F(PipMainTest, ErrorGetCopiesAtMost255Characters) {
  uint32_t h = uint32_t(pipInit(0, nullptr));
  std::string longDetail(300, 'd');
  WithHandle<pipContext>(h, [&](pipContext& c) {
    return c.Report(105, longDetail.c_str(), "pipmain", 1);
  });
  char message[300], detail[300];
  std::memset(detail, 'X', sizeof detail);
  EXPECT_EQ(pipErrorGet(h, message, detail), 105);
  EXPECT_STREQ(message, "File not found.");
  EXPECT_EQ(std::strlen(detail), 255u);
  EXPECT_EQ(detail[256], 'X');
  EXPECT_EQ(pipTerm(h), 1);
}

TEST_F(PipMainTest, ErrorShowReturnsThePreviousModeAsA16BitValue) {
  uint32_t h = uint32_t(pipInit(0, nullptr));
  struct Case {
    int32_t mode;
    int32_t previous;
  };
  const Case cases[] = {
      {2, 0},       {2, 2},       {0x10001, 2}, {0, 1},
      {0x8000, 0},  {-1, -32768}, {1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(pipErrorShow(h, c.mode), c.previous) << c.mode;

  // Mode 1 (set last) prints each report.
  testing::internal::CaptureStdout();
  WithHandle<pipContext>(h, [](pipContext& c) { return c.Report(101, "", "pipmain", 3); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: 101\nUnknown error.\n\nError recorded in: pipmain, (3).");
  EXPECT_EQ(pipTerm(h), 1);
}

TEST_F(PipMainTest, GetVersion) {
  char buffer[32];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(pipGetVersion(buffer), 1);
  EXPECT_STREQ(buffer, "Arealis+ v34.04");
  EXPECT_EQ(buffer[16], 'X');
  EXPECT_EQ(pipGetVersion(nullptr), -1);
}

TEST_F(PipMainTest, InitGivesZeroWhenNoHandleIsFree) {
  std::vector<uint32_t> contexts;
  for (int i = 0; i < 1599; ++i) contexts.push_back(uint32_t(pipInit(0, nullptr)));
  EXPECT_EQ(contexts.front(), 1u);
  EXPECT_EQ(contexts.back(), 1599u);
  EXPECT_EQ(HandleTable::Global().Capacity(), 1600);
  EXPECT_EQ(pipInit(0, nullptr), 0);
  EXPECT_EQ(pipTerm(57), 1);
  EXPECT_EQ(pipInit(0, nullptr), 57);
  for (uint32_t h : contexts) EXPECT_EQ(pipTerm(h), 1);
}

// The shared library exports the C interface and hides everything else.
TEST(ZonelibExportsTest, CInterfaceOnly) {
  void* library = dlopen(GSB_ZONELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"pipInit", "pipTerm", "pipErrorGet", "pipErrorShow", "pipGetVersion",
                           "pipImportInit", "pipImportInitEx", "pipImportTXBInit", "pipImportInsert",
                           "pipImportTerm", "pipImportOpenBNA", "pipImportOpenPXF",
                           "pipImportOpenPXF2", "pipImportOpenTAB", "pipImportOpenShape",
                           "pipImportOpenSHP", "pipImportRead",
                           "pipImportClose"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  for (const char* name : {"_ZN11HandleTable6GlobalEv", "_ZN11HandleTable3AddEPvj",
                           "_Z17pipErrorGetInternP10pipContextPcS1_", "_Z12QErrorGlobalv"})
    EXPECT_EQ(dlsym(library, name), nullptr) << name;

  // The library's own table works through its exports.
  auto init = reinterpret_cast<int32_t (*)(uint32_t, const char*)>(dlsym(library, "pipInit"));
  auto term = reinterpret_cast<int32_t (*)(uint32_t)>(dlsym(library, "pipTerm"));
  auto version = reinterpret_cast<int32_t (*)(char*)>(dlsym(library, "pipGetVersion"));
  ASSERT_TRUE(init && term && version);
  int32_t h = init(0, nullptr);
  EXPECT_GT(h, 0);
  EXPECT_EQ(term(uint32_t(h)), 1);
  char buffer[32];
  EXPECT_EQ(version(buffer), 1);
  EXPECT_STREQ(buffer, "Arealis+ v34.04");
  dlclose(library);
}

}  // namespace
