// The shared dBASE header decoder: fields at their offsets, short buffers
// refused, and how the descriptor scan ends on sound and damaged lists.
#include "platform/dbfheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using dbfheader::ScanEnd;

TEST(DbfHeaderTest, DecodesEveryFieldAtItsOffsetAndRefusesShortBuffers) {
  std::vector<uint8_t> h(32, 0);
  h[0] = 0x83;
  h[1] = 124, h[2] = 2, h[3] = 29;
  h[4] = 0x04, h[5] = 0x03, h[6] = 0x02, h[7] = 0x01;
  h[8] = 0x61, h[9] = 0x01;
  h[10] = 0x2A, h[11] = 0x00;
  h[28] = 0x03, h[29] = 0x57;
  dbfheader::Header head;
  ASSERT_TRUE(dbfheader::DecodeHeader(h.data(), h.size(), &head));
  EXPECT_EQ(head.version, 0x83);
  EXPECT_EQ(head.updated[0], 124);
  EXPECT_EQ(head.updated[2], 29);
  EXPECT_EQ(head.recordCount, 0x01020304u);
  EXPECT_EQ(head.headerLength, 0x0161);
  EXPECT_EQ(head.recordLength, 42);
  EXPECT_EQ(head.tableFlags, 3);
  EXPECT_EQ(head.codePage, 0x57);
  EXPECT_FALSE(dbfheader::DecodeHeader(h.data(), 31, &head));

  std::vector<uint8_t> d(32, 0);
  const std::string name = "ABCDEFGHIJK";  // all 11 bytes used
  std::copy(name.begin(), name.end(), d.begin());
  d[11] = 'C', d[12] = 9, d[15] = 1, d[16] = 0xFE, d[17] = 2, d[18] = 0x06;
  dbfheader::Descriptor f;
  ASSERT_TRUE(dbfheader::DecodeDescriptor(d.data(), d.size(), &f));
  EXPECT_EQ(std::string(f.name, 11), name);
  EXPECT_EQ(f.type, 'C');
  EXPECT_EQ(f.offset, 0x01000009u);
  EXPECT_EQ(f.width, 0xFE);
  EXPECT_EQ(f.decimals, 2);
  EXPECT_EQ(f.flags, 6);
  EXPECT_FALSE(dbfheader::DecodeDescriptor(d.data(), 31, &f));
}

TEST(DbfHeaderTest, ScanEndsAtTheMarkOrWhereTheBytesDo) {
  // A list of `slots` descriptors, then `tail` (the mark, or damage).
  auto list = [](size_t slots, std::vector<uint8_t> tail) {
    std::vector<uint8_t> bytes(slots * 32, 'A');
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t most;
    bool lineFeedEnds;
    ScanEnd end;
    size_t count;
  };
  const Case cases[] = {
      {"mark after two", list(2, {0x0D}), 255, false, ScanEnd::kMark, 2},
      {"mark first", list(0, {0x0D}), 255, false, ScanEnd::kMark, 0},
      {"line feed ends when asked", list(1, {0x0A}), 255, true, ScanEnd::kMark, 1},
      {"line feed is a field otherwise", list(1, {0x0A}), 255, false, ScanEnd::kCutShort, 1},
      {"bytes end on a slot", list(3, {}), 255, false, ScanEnd::kNoMark, 3},
      {"empty", list(0, {}), 255, false, ScanEnd::kNoMark, 0},
      {"last slot cut short", list(1, std::vector<uint8_t>(31, 'B')), 255, false,
       ScanEnd::kCutShort, 1},
      {"mark at the most", list(2, {0x0D}), 2, false, ScanEnd::kMark, 2},
      {"no mark at the most", list(3, {0x0D}), 2, false, ScanEnd::kTooMany, 2},
  };
  for (const Case& c : cases) {
    const dbfheader::Scan scan =
        dbfheader::ScanDescriptors(c.bytes.data(), c.bytes.size(), c.most, c.lineFeedEnds);
    EXPECT_EQ(scan.end, c.end) << c.name;
    EXPECT_EQ(scan.count, c.count) << c.name;
  }
}

}  // namespace
