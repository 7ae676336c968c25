#include "boundary/importread.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

TEST(ParseScaledDecimalTest, Table) {
  struct Case {
    const char* text;
    int decimals;
    bool round;
    std::optional<int32_t> expected;  // none: refused
  };
  const Case cases[] = {
      {"4.35", 6, true, 4350000},  // not 4349999
      {"-71.5", 6, true, -71500000},
      {"+3", 6, true, 3000000},
      {"007.250", 6, true, 7250000},
      {".5", 6, true, 500000},
      {"5.", 6, true, 5000000},
      {"0.0000005", 6, true, 1},    // half: away from zero
      {"-0.0000005", 6, true, -1},
      {"0.00000049999", 6, true, 0},
      {"1.99999999", 6, true, 2000000},
      {"1.5e2", 6, true, 150000000},
      {"15E-1", 6, true, 1500000},
      {"2147.483647", 6, true, 2147483647},
      {"-2147.483648", 6, true, -2147483647 - 1},
      {"2147.4836475", 6, true, std::nullopt},  // rounds past the range
      {"2147.483648", 6, true, std::nullopt},
      {"0e999", 6, true, 0},
      {"1e999", 6, true, std::nullopt},
      {"123456789012345678901234567890e-30", 6, true, 123457},
      {"71.9", 0, false, 71},
      {"-71.9", 0, false, -71},
      {"71.9", 0, true, 72},
      {"", 6, true, std::nullopt},
      {".", 6, true, std::nullopt},
      {"-", 6, true, std::nullopt},
      {"1.2.3", 6, true, std::nullopt},
      {"12 ", 6, true, std::nullopt},
      {"1e", 6, true, std::nullopt},
      {"0x10", 6, true, std::nullopt},
      {"nan", 6, true, std::nullopt},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    const bool ok = ParseScaledDecimal(c.text, c.decimals, c.round, &value);
    EXPECT_EQ(ok, c.expected.has_value()) << c.text;
    if (ok && c.expected) {
      EXPECT_EQ(value, *c.expected) << c.text;
    }
  }
}

TEST(CoordinateRulesTest, TwoPointLines) {
  struct Case {
    double y1, y2;
    TwoPointRule rule;
  };
  const Case cases[] = {
      {35, 0, TwoPointRule::kScale},          {0, -0.5, TwoPointRule::kScale},
      {999999.9, 2e6, TwoPointRule::kScale},  {35e6, 0, TwoPointRule::kAsIs},
      {1e6, -1000001, TwoPointRule::kAsIs},   {0, 0, TwoPointRule::kUndecided},
      {1e6, -1e6, TwoPointRule::kUndecided},
  };
  for (const Case& c : cases) {
    const double xy[4] = {1, c.y1, 2, c.y2};
    EXPECT_EQ(DecideTwoPoints(xy), c.rule) << c.y1 << ", " << c.y2;
  }
}

// The field rules of comma-separated lines, one line per case.
TEST(ImportLineReaderTest, Fields) {
  struct Case {
    const char* line;
    std::vector<std::string> fields;  // up to the null at the end of the line
  };
  const Case cases[] = {
      {"a,b", {"a", "b"}},
      {"a,", {"a"}},
      {"a, ", {"a", ""}},
      {",b", {"", "b"}},
      {"  lead,  x  ", {"lead", "x  "}},
      {"a\tb", {"a", "b"}},
      {"\"x,y\",z", {"x,y", "z"}},
      {"'it''s',next", {"it's", "next"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"q\"tail,next", {"q", "next"}},
      {"\"open, to the end", {"open, to the end"}},
      {"'mixed\"quotes',1", {"mixed\"quotes", "1"}},
      {"", {}},
  };
  testsupport::TempDir dir;
  std::string text;
  for (const Case& c : cases) text += std::string(c.line) + "\n";
  const std::string path = dir.Write("fields.txt", text);
  pipError error;
  ImportLineReader reader(error, path);
  ASSERT_TRUE(reader.IsOpen());
  for (const Case& c : cases) {
    ASSERT_TRUE(reader.NextLine(true)) << c.line;
    std::vector<std::string> fields;
    while (const char* f = reader.NextField()) fields.emplace_back(f);
    EXPECT_EQ(fields, c.fields) << c.line;
  }
  EXPECT_FALSE(reader.NextLine(false));
  EXPECT_FALSE(reader.Failed());
  EXPECT_FALSE(reader.NextLine(true));
  EXPECT_TRUE(reader.Failed());
  EXPECT_EQ(std::string(error.Detail()), "Error: Unexpected End of File.\nFile: " + path +
                                              "\nLine: " + std::to_string(std::size(cases) + 2));
}

// Bytes read of the file, to the nearest percent, halves going down.
TEST(ImportLineReaderTest, ProgressAndDamagedFiles) {
  testsupport::TempDir dir;
  const std::string path = dir.Write("p.txt", "a\n\n" + std::string(396, 'x') + "\n");  // 400 bytes
  pipError error;
  ImportLineReader reader(error, path);
  EXPECT_EQ(reader.Progress(), 0u);
  ASSERT_TRUE(reader.NextLine(true));
  EXPECT_EQ(reader.Progress(), 0u);  // 2 of 400 bytes: 0.5 goes down
  ASSERT_TRUE(reader.NextLine(true));
  EXPECT_EQ(reader.Progress(), 1u);  // 3 of 400: 0.75 goes up
  ASSERT_TRUE(reader.NextLine(true));
  EXPECT_EQ(reader.Progress(), 100u);

  // A line reader error is a failure, not the end of the input.
  const std::string mixed = dir.Write("mixed.txt", "a\r\nb\nc\r\n");
  ImportLineReader broken(error, mixed);
  ASSERT_TRUE(broken.NextLine(true));
  EXPECT_FALSE(broken.NextLine(false));
  EXPECT_TRUE(broken.Failed());
  EXPECT_EQ(error.Code(), 100);

  ImportLineReader missing(error, dir.File("none.txt"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.NextLine(false));
}

}  // namespace
