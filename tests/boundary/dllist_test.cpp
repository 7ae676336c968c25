#include "boundary/dllist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ROAD, ROADS, ROADS, RIVER: codes 0, 4, 15, 1.
const std::string kRoads(
    "\x04\x00"
    "\x00\x00\x04\xF1\x00\x00\x00\x00\x00\x00"
    "ROA\xC4"
    "\xD3"
    "IVE\xD2",
    21);

// count one-letter strings, each sharing nothing, in groups of 16.
std::string Letters(int count) {
  std::string column(2, '\0');
  column[0] = char(count);
  for (int i = 0; i < count; ++i) {
    if (i % 16 == 0) {
      size_t header = column.size();
      column += std::string(10, '\0');
      if (count - i > 16) column[header] = 10 + 16;  // the link to the next header
    }
    column += char(('a' + i % 26) | 0x80);
  }
  return column;
}

std::string Get(DLTextColumn& column, uint32_t n) {
  std::string_view text;
  return column.Get(n, &text) ? std::string(text) : std::string("<failed>");
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(DlListTest, TextColumnDecodesPrefixesAndRepeats) {
  DLTextColumn column;
  ASSERT_TRUE(column.Reset(Bytes(kRoads), uint32_t(kRoads.size())));
  EXPECT_EQ(column.Count(), 4u);
  EXPECT_EQ(Get(column, 1), "ROAD");
  EXPECT_EQ(Get(column, 2), "ROADS");
  EXPECT_EQ(Get(column, 3), "ROADS");  // code 15
  EXPECT_EQ(Get(column, 4), "RIVER");
  EXPECT_EQ(Get(column, 2), "ROADS");  // backwards: the column restarts
  EXPECT_EQ(Get(column, 2), "ROADS");
  EXPECT_EQ(Get(column, 0), "<failed>");
  EXPECT_EQ(Get(column, 5), "<failed>");
  EXPECT_EQ(Get(column, 4), "RIVER");
}

TEST(DlListTest, TextColumnJumpsGroups) {
  std::string bytes = Letters(40);
  DLTextColumn column;
  ASSERT_TRUE(column.Reset(Bytes(bytes), uint32_t(bytes.size())));
  EXPECT_EQ(column.Groups(), 3u);
  EXPECT_EQ(Get(column, 17), "q");  // one jump
  EXPECT_EQ(Get(column, 40), "n");
  EXPECT_EQ(Get(column, 9), "i");  // read after 40: as a fresh read
  EXPECT_EQ(Get(column, 16), "p");
  EXPECT_EQ(Get(column, 33), "g");
  DLTextColumn fresh;
  fresh.Reset(Bytes(bytes), uint32_t(bytes.size()));
  EXPECT_EQ(Get(fresh, 9), "i");
}

TEST(DlListTest, DamagedTextColumnsFail) {
  const struct {
    const char* name;
    std::string bytes;
    uint32_t number;
  } cases[] = {
      {"count beyond the strings", std::string("\x05\x00", 2) + kRoads.substr(2), 5},
      {"a string runs past the column", kRoads.substr(0, kRoads.size() - 1), 4},
      {"shares more than the string before has",
       [] {
         std::string b = kRoads;
         b[5] = char(0xF7);  // RIVER shares 7 of ROADS' 5
         return b;
       }(),
       4},
      {"the first string of a group shares",
       [] {
         std::string b = kRoads;
         b[4] = 0x14;
         return b;
       }(),
       1},
      {"the first string of a group repeats",
       [] {
         std::string b = kRoads;
         b[4] = char(0xF4);
         return b;
       }(),
       1},
      {"a link past the column",
       [] {
         std::string b = Letters(20);
         b[2] = 100;
         return b;
       }(),
       17},
      {"a link inside its own header",
       [] {
         std::string b = Letters(20);
         b[2] = 4;
         return b;
       }(),
       18},
      {"no link where a group follows",
       [] {
         std::string b = Letters(20);
         b[2] = 0;
         return b;
       }(),
       20},
      {"a cut-off escape",
       std::string("\x01\x00"
                   "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                   "a\x01\xB3",
                   15),
       1},
      {"no header", std::string("\x01\x00\x00", 3), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DLTextColumn column;
    column.Reset(Bytes(c.bytes), uint32_t(c.bytes.size()));
    EXPECT_EQ(Get(column, c.number), "<failed>");
    // Nothing is left half-decoded: a sound string still reads afterwards.
    if (c.number > 1 && c.bytes.size() > 13) {
      EXPECT_NE(Get(column, 1), "<failed>");
    }
  }
  DLTextColumn empty;
  EXPECT_FALSE(empty.Reset(Bytes(kRoads), 1));
  EXPECT_EQ(Get(empty, 1), "<failed>");
}

}  // namespace
