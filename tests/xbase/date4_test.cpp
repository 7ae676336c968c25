#include "xbase/date4.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/xbase/xbase_fixture.h"

namespace {

TEST(Date4, LongOfTexts) {
  struct Case {
    const char* text;
    long julian;
  } cases[] = {
      {"20000101", 2451545}, {"00010101", 1721426}, {"        ", 0},       {"00000000", 0},
      {"20010229", -1},      {"20000229", 2451604}, {"19000229", -1},      {"2000013a", -1},
      {"20001301", -1},      {"20000100", -1},      {"99991231", 5373484}, {"00000101", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(date4long(c.text), c.julian) << c.text;
}

TEST(Date4, AssignIsTheInverseOfLong) {
  char text[9] = {0};
  date4assign(text, 2451545);
  EXPECT_STREQ(text, "20000101");
  date4assign(text, 0);
  EXPECT_STREQ(text, "        ");
  date4assign(text, -1);
  EXPECT_STREQ(text, "        ");
  // Every day of four centuries round-trips, leap days and year ends included.
  for (long julian = date4long("18991225"); julian < date4long("23000105"); julian++) {
    date4assign(text, julian);
    ASSERT_EQ(date4long(text), julian) << text;
  }
}

TEST(Date4, FormatByPicture) {
  struct Case {
    const char* date;
    const char* picture;
    const char* expected;
  } cases[] = {
      {"20260305", "MMM DD, CCYY", "Mar 05, 2026"},
      {"20260305", "MMMMMMMM DD", "March    05"},
      {"20260305", "MM/DD/YY", "03/05/26"},
      {"20260305", "ccyy.mm.dd", "2026.03.05"},
      {"20260905", "MMMMMMMMMMMM", "September   "},
      {"2026  05", "MMM DD", "    05"},
      {"20261305", "MMM", "Dec"},
  };
  for (const auto& c : cases) {
    std::string picture = c.picture;
    std::string out(picture.size(), '?');
    date4format(c.date, out.data(), picture.data());
    EXPECT_EQ(out, c.expected) << c.picture;
  }
}

TEST(Date4, InitFromTextAndPicture) {
  xbasetest::CapturingEnv env;
  env.fixedNow = 1772719445;  // 2026-03-05
  struct Case {
    const char* text;
    const char* picture;
    const char* expected;
  } cases[] = {
      {"03/05/26", "MM/DD/YY", "20260305"},
      {"1999.12.31", "CCYY.MM.DD", "19991231"},
      {"Mar 7, 1998", "MMM D, CCYY", "19980307"},
      {"september 1", "MMMMMMMMM D", "20260901"},
      {"12/25", "MM/DD", "20261225"},
      {"        ", "MM/DD/YY", "        "},
      {"07/  /26", "MM/DD/YY", "20260701"},
  };
  for (const auto& c : cases) {
    std::string picture = c.picture;
    char date[9] = {0};
    EXPECT_EQ(date4init(date, c.text, picture.data()), 8);
    EXPECT_STREQ(date, c.expected) << c.text << " by " << c.picture;
  }
}

TEST(Date4, TimesAndMonths) {
  char time[9] = {0};
  EXPECT_EQ(date4timeFromMs(time, 43199500), 0);
  EXPECT_STREQ(time, "12:00:00");
  EXPECT_EQ(date4timeFromMs(time, 43199499), 0);
  EXPECT_STREQ(time, "11:59:59");
  EXPECT_EQ(date4timeFromMs(time, 86399500), 1);
  EXPECT_STREQ(time, "00:00:00");
  EXPECT_STREQ(date4cmonth("20261105"), "November");
  EXPECT_STREQ(date4cmonth("2026  05"), "");

  xbasetest::CapturingEnv env;
  env.fixedNow = 1772719445;
  char today[9] = {0};
  date4today(today);
  EXPECT_STREQ(today, "20260305");
  date4timeNow(time);
  EXPECT_STREQ(time, "14:04:05");
}

TEST(Date4, ContextPicture) {
  xbasetest::TestCode4 c4;
  EXPECT_STREQ(code4dateFormat(&c4), "MM/DD/YY");
  EXPECT_EQ(code4dateFormatSet(&c4, "CCYY-MM-DD"), 0);
  EXPECT_STREQ(code4dateFormat(&c4), "CCYY-MM-DD");
  EXPECT_EQ(code4dateFormatSet(&c4, "CCYY-MM-DD CCYY-MM-DD"), -930);
  EXPECT_STREQ(code4dateFormat(&c4), "CCYY-MM-DD");
}

}  // namespace
