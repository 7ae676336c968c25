#include "xbase/error4.h"

#include <gtest/gtest.h>

#include "tests/xbase/xbase_fixture.h"

namespace {

using xbasetest::CapturingEnv;
using xbasetest::TestCode4;

TEST(Error4Text, RowsOfTheTable) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {-10, "Closing File"},
      {-64, "File Find Error Opening File"},
      {-250, "Seeking to File Position"},  // the first of the two rows wins
      {-935, "Null Input Parameter unexpected"},
      {-2110, "Server Configuration Failure"},
      {-1, "Invalid or Unknown Error Code"},
      {0, "Invalid or Unknown Error Code"},
  };
  for (const auto& c : cases) EXPECT_STREQ(error4text(c.code), c.text) << c.code;
}

TEST(Error4Location, TextsAndShownNumbers) {
  struct Case {
    long location;
    const char* text;
    long shown;
  } cases[] = {
      {90308, "d4open", 94301},
      {80048, "illegal field data", 81404},
      {40000, "code4autoOpen()", 40101},
      {40057, "code4unlockAutoSet()", 40157},
      {60006, "Code4::errorSet", 60107},
      {60107, "Field4::changed", 61203},
      {90524, "Testing Only", 99999},
      {89999, nullptr, 0},
      {30000, nullptr, 0},
      {95000, nullptr, 0},
      {9999, nullptr, 0},
      {40058, nullptr, 0},
  };
  for (const auto& c : cases) {
    const char* text = error4locationText(c.location);
    if (c.text == nullptr) {
      EXPECT_EQ(text, nullptr) << c.location;
    } else {
      ASSERT_NE(text, nullptr) << c.location;
      EXPECT_STREQ(text, c.text) << c.location;
    }
    EXPECT_EQ(error4locationNumber(c.location), c.shown) << c.location;
  }
}

TEST(Error4Message, BoxTextLinesAndLimits) {
  char text[300];
  error4messageText(text, sizeof text, -60, 90308, "roads.dbf", nullptr, "never");
  EXPECT_STREQ(text, "Error #:   -60\r\nError #:  94301\r\nOpening File\r\nd4open\r\nroads.dbf\r\n");

  // No location row: no location line, the shown number 0.
  error4messageText(text, sizeof text, -1, 89999, nullptr, nullptr, nullptr);
  EXPECT_STREQ(text, "Error #:    -1\r\nError #:      0\r\nInvalid or Unknown Error Code\r\n");

  // Code 0: only the extra texts.
  error4messageText(text, sizeof text, 0, 90308, "just this", nullptr, nullptr);
  EXPECT_STREQ(text, "just this\r\n");

  // Texts that would pass 256 characters are dropped, with those after them.
  std::string long1(150, 'a'), long2(150, 'b');
  int n = error4messageText(text, sizeof text, -60, 90308, long1.c_str(), long2.c_str(), "c");
  EXPECT_LE(n, 256);
  EXPECT_NE(std::string(text).find(long1), std::string::npos);
  EXPECT_EQ(std::string(text).find(long2), std::string::npos);
  EXPECT_EQ(std::string(text).find("\r\nc\r\n"), std::string::npos);
}

TEST(Error4Describe, ShowsTheBoxAndKeepsTheCode) {
  CapturingEnv env;
  CODE4 c4{};
  ASSERT_EQ(code4initLow(&c4, 0, k4version, k4structSize, 1), 0);
  EXPECT_EQ(error4describe(&c4, -60, 90308, "x.dbf", nullptr, nullptr), -60);
  ASSERT_EQ(env.messages.size(), 1u);
  EXPECT_EQ(env.messages[0].rfind("FOLIORACK ERROR|Error #:   -60", 0), 0u);
  EXPECT_EQ(c4.errorCode, -60);
  EXPECT_EQ(c4.errorLocation, 90308);
  EXPECT_EQ(error4set(&c4, 0), -60);
  EXPECT_EQ(c4.errorCode, 0);

  // With offError only the code is kept.
  c4.offError = 1;
  error4(&c4, -70, 90253);
  EXPECT_EQ(env.messages.size(), 1u);
  EXPECT_EQ(error4set(&c4, 0), -70);
  code4initUndo(&c4);
}

TEST(Error4Describe, FatalCodesAreReportedAndReturned) {
  // Out of memory, unexpected results and corrupt structures used to end the
  // process; they are reported and returned like every other error.
  for (int code : {-910, -920, -950, -970}) {
    TestCode4 c4;
    EXPECT_EQ(error4(&c4, code, 90357), code);
    EXPECT_EQ(c4.errorCode, code);
    ASSERT_EQ(c4.reports.size(), 1u);
    EXPECT_EQ(d4open(&c4, "anything"), nullptr);  // the context is in its error state
  }
}

TEST(Error4Describe, LogEntryFormat) {
  CapturingEnv env;
  env.fixedNow = 1772719445;  // 2026-03-05 14:04:05 UTC
  testsupport::TempDir dir;
  TestCode4 c4;
  auto* log = static_cast<FILE4*>(u4alloc(sizeof(FILE4)));
  ASSERT_EQ(file4create(log, &c4, dir.File("error.log").c_str(), 1), 0);
  c4.errorLog = log;
  error4describe(&c4, -60, 90308, "roads.dbf", nullptr, nullptr);
  error4(&c4, -1, 30000);
  code4initUndo(&c4);  // closes and frees the log
  std::string text = testsupport::ReadAll(dir.File("error.log"));
  EXPECT_EQ(text,
            "2026/03/05  14:04:05\r\n       -60\r\nOpening File\r\n     94301\r\nd4open\r\n"
            "roads.dbf\r\n\r\n\r\n"
            "2026/03/05  14:04:05\r\n        -1\r\nInvalid or Unknown Error Code\r\n         0\r\n"
            "\r\n\r\n");
}

}  // namespace
