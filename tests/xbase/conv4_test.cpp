#include "xbase/conv4.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Conv4, Ltoa45) {
  struct Case {
    long value;
    int width;
    const char* expected;
  } cases[] = {
      {-42, 5, "  -42"}, {123456, 5, "*****"}, {7, -3, "007"},  {0, 3, "  0"},
      {-7, -3, "007"},   {-123, 3, "***"},     {99999, 5, "99999"}, {-1, 2, "-1"},
  };
  for (const auto& c : cases) {
    std::string out(size_t(c.width < 0 ? -c.width : c.width), '?');
    c4ltoa45(c.value, out.data(), c.width);
    EXPECT_EQ(out, c.expected) << c.value << " in " << c.width;
  }
}

TEST(Conv4, Dtoa45) {
  struct Case {
    double value;
    int length, decimals;
    const char* expected;
    int rc;
  } cases[] = {
      {3.14159, 6, 2, "  3.14", 0},  {12345.6, 5, 1, "*****", -440}, {0.5, 5, 2, " 0.50", 0},
      {-0.25, 6, 2, " -0.25", 0},    {-12.5, 5, 0, "  -12", 0},       {2.5, 4, 5, "****", -440},
      {-99.5, 5, 1, "-99.5", 0},     {-999.5, 5, 1, "*****", -440},   {-0.001, 5, 2, " 0.00", 0},
  };
  for (const auto& c : cases) {
    std::string out(size_t(c.length), '?');
    EXPECT_EQ(c4dtoa45(c.value, out.data(), c.length, c.decimals), c.rc) << c.value;
    EXPECT_EQ(out, c.expected) << c.value;
  }
}

TEST(Conv4, TextToNumbers) {
  EXPECT_DOUBLE_EQ(c4atod("   12.50xyz", 11), 12.5);
  EXPECT_DOUBLE_EQ(c4atod("  -1.5e2", 8), -150.0);
  EXPECT_DOUBLE_EQ(c4atod("  +7", 4), 7.0);
  EXPECT_DOUBLE_EQ(c4atod("12345", 3), 123.0);  // only the first length characters
  EXPECT_DOUBLE_EQ(c4atod("     ", 5), 0.0);
  EXPECT_EQ(c4atol("  -42 ", 6), -42);
  EXPECT_EQ(c4atol("123456", 4), 1234);
  EXPECT_EQ(c4atoi("99999999999", 11), 2147483647);
  EXPECT_EQ(c4atoi64(" 9223372036854775808", 20), INT64_MAX);
  EXPECT_EQ(c4atoul("-5", 2), 0ul);
}

TEST(Conv4, TrimAndKeysAndBits) {
  char text[] = "abc   \0zz";
  c4trimN(text, 9);
  EXPECT_STREQ(text, "abc");
  char full[] = {'x', 'y', ' ', ' '};
  c4trimN(full, 4);  // no NUL within size: ends at size - 1
  EXPECT_STREQ(full, "xy");

  char negative[] = "  -12";
  c4numericKey(negative, 5);
  EXPECT_STREQ(negative, ",,,+*");  // 92 - c: larger negatives sort lower
  char positive[] = "   12";
  c4numericKey(positive, 5);
  EXPECT_STREQ(positive, "00012");

  EXPECT_EQ(c4bitCount(0), 0);
  EXPECT_EQ(c4bitCount(1), 0);
  EXPECT_EQ(c4bitCount(2), 1);
  EXPECT_EQ(c4bitCount(1024), 10);
  EXPECT_EQ(c4bitCount(1023), 9);
}

TEST(Conv4, OemToAnsi) {
  char text[] = "\x81\x9A\xE1\xC4 plain";
  c4oemToAnsi(text, sizeof text - 1);
  EXPECT_STREQ(text, "\xFC\xDC\xDF? plain");
}

}  // namespace
