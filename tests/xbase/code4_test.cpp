#include "xbase/code4.h"

#include <gtest/gtest.h>

#include "tests/xbase/xbase_fixture.h"
#include "xbase/d4wrap.h"

namespace {

using xbasetest::CapturingEnv;

TEST(Code4, InitRefusesAnotherVersionOrSize) {
  CapturingEnv env;
  CODE4 c4{};
  EXPECT_EQ(code4initLow(&c4, 0, 6501, 1611, 1), -1095);
  EXPECT_EQ(c4.errorCode, -1095);
  EXPECT_EQ(c4.initialised, 0);
  ASSERT_EQ(env.messages.size(), 1u);
  EXPECT_NE(env.messages[0].find("Library: 6502\r\nHeaders: 6501\r\n"), std::string::npos);
  EXPECT_EQ(code4initLow(&c4, 0, 6502, 1000, 1), -960);
  ASSERT_EQ(env.messages.size(), 2u);
  EXPECT_NE(env.messages[1].find("structure size mismatch\r\nLibrary struct size: 1611\r\n"
                                 "Header struct size: 1000"),
            std::string::npos);
  EXPECT_EQ(code4initLow(nullptr, 0, 6502, 1611, 1), -930);
}

TEST(Code4, DefaultsAndLife) {
  int before = code4initCount();
  CODE4 c4{};
  ASSERT_EQ(code4initLow(&c4, 0, k4version, 0, 1), 0);
  EXPECT_EQ(code4initCount(), before + 1);
  EXPECT_EQ(c4.stamp, 21121);
  EXPECT_EQ(c4.autoOpen, 1);
  EXPECT_EQ(c4.reportOpenFailure, 1);
  EXPECT_EQ(c4.compatibility, 25);
  EXPECT_EQ(c4.memSizeSortPool, 61440);
  EXPECT_LE(c4.memStartMax, 50000000);
  EXPECT_EQ(c4.lockAttempts, -1);
  EXPECT_STREQ(c4.dateFormat, "MM/DD/YY");
  EXPECT_EQ(code4indexFormat(&c4), 200);
  EXPECT_STREQ(code4indexExtension(&c4), "cdx");
  EXPECT_STREQ(code4memoExtension(&c4), "fpt");
  EXPECT_EQ(code4closeAll(&c4), 0);
  EXPECT_EQ(code4initUndo(&c4), 0);
  EXPECT_EQ(c4.stamp, 0);
  EXPECT_EQ(code4initCount(), before);
  EXPECT_EQ(code4initUndo(&c4), 0);  // not initialised: nothing to do
}

TEST(Code4, VerifyKinds) {
  CapturingEnv env;
  xbasetest::TestCode4 c4;
  EXPECT_EQ(code4verify(&c4, 1, 90294), 0);
  EXPECT_EQ(code4verify(&c4, 6, 90294), 0);  // kinds above 5 always pass
  EXPECT_NE(code4verify(&c4, -1, 90294), 0);
  EXPECT_NE(code4verify(nullptr, 1, 90294), 0);
  CODE4 stale{};
  EXPECT_NE(code4verify(&stale, 1, 90294), 0);
  ASSERT_FALSE(env.messages.empty());
  EXPECT_NE(env.messages.back().find("Function was Passed an Invalid Structure Pointer"),
            std::string::npos);
  EXPECT_EQ(code4indexFormat(nullptr), 204);
}

TEST(Code4, WrapperInit) {
  Code4 code;
  EXPECT_EQ(code.init(), 0);
  EXPECT_EQ(code.initialisedFlag, 1);
  EXPECT_EQ(code.init(), 0);  // an earlier init is undone first
  EXPECT_EQ(code.initUndo(), 0);
  EXPECT_EQ(code.initialisedFlag, 0);
}

TEST(Code4, LargeFilesRefusedWithOpenFiles) {
  xbasetest::TestCode4 c4;
  c4.dataFileList.numLinks = 1;  // stands for an open file
  EXPECT_EQ(code4largeOn(&c4), -930);
  EXPECT_EQ(c4.Last()->t1, "Can not initialize large file support with open files");
  c4.dataFileList.numLinks = 0;
}

}  // namespace
