#include "xbase/block4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <random>
#include <string>

#include "tests/xbase/index_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::FieldList;
using xbasetest::Le16;
using xbasetest::Le32;
using xbasetest::TagList;
using xbasetest::TestCode4;

// A tag structure alone, for the codec.
struct CodecTag {
  TFILE4 tag{};
  explicit CodecTag(int keyLen, unsigned char pad = ' ') {
    tag.keyLen = int16_t(keyLen);
    tag.pad = pad;
  }
};

struct Block {
  BLOCK4 b{};
  explicit Block(TFILE4* tag) {
    b.tag = tag;
    b.attribute = 3;
    b.left = b.right = k4noBlock;
  }
  ~Block() { b4release(&b); }
  void Add(const std::string& key, uint32_t rec) {
    ASSERT_EQ(b4reserve(&b, b.nKeys + 1), 0);
    b4insertEntry(&b, b.nKeys, reinterpret_cast<const unsigned char*>(key.data()), rec, 0);
  }
};

TEST(BlockFormat, FreshLeafGeometry) {
  struct Case {
    int keyLen;
    uint32_t records;
    int recBits, countBits, infoLen;
  } cases[] = {
      {10, 1000, 16, 4, 3},    // 10 bits raised to 12, then to 16 so that 16 + 4 + 4 = 24
      {10, 0, 16, 4, 3},
      {240, 1000, 16, 8, 4},   // counts of 8 bits for a key of 240
      {10, 0xFFFFFFFF, 32, 4, 5},
      {4, 1, 18, 3, 3},
  };
  for (const Case& c : cases) {
    CodecTag t(c.keyLen);
    BLOCK4 b{};
    b.tag = &t.tag;
    b4leafInit(&b, c.keyLen, c.records);
    EXPECT_EQ(b.recBits, c.recBits) << c.keyLen << " " << c.records;
    EXPECT_EQ(b.dupBits, c.countBits);
    EXPECT_EQ(b.trailBits, c.countBits);
    EXPECT_EQ(b.infoLen, c.infoLen);
  }
  // The empty leaf of key length 10 and 1,000 records, as written.
  CodecTag t(10);
  Block leaf(&t.tag);
  b4leafInit(&leaf.b, 10, 1000);
  unsigned char image[512];
  b4encode(&leaf.b, image, sizeof image);
  EXPECT_EQ(Le16(std::string(reinterpret_cast<char*>(image), 512), 12), 488u);
  EXPECT_EQ(Le32(std::string(reinterpret_cast<char*>(image), 512), 14), 0xFFFFu);
  EXPECT_EQ(image[18], 15);
  EXPECT_EQ(image[19], 15);
}

TEST(BlockFormat, LeafCompression) {
  CodecTag t(8);
  Block leaf(&t.tag);
  b4leafInit(&leaf.b, 8, 100);
  leaf.Add("        ", 1);  // all blank: nothing stored
  leaf.Add("ABC     ", 2);
  leaf.Add("ABC     ", 3);  // equal: duplicate count = key length - trailing count
  leaf.Add("ABD     ", 4);
  unsigned char image[512];
  b4encode(&leaf.b, image, sizeof image);
  auto info = [&](int i) {
    uint32_t v = uint32_t(image[24 + 3 * i]) | uint32_t(image[25 + 3 * i]) << 8 | uint32_t(image[26 + 3 * i]) << 16;
    return std::make_tuple(v & 0xFFFF, (v >> 16) & 15, (v >> 20) & 15);
  };
  EXPECT_EQ(info(0), std::make_tuple(1u, 0u, 8u));
  EXPECT_EQ(info(1), std::make_tuple(2u, 0u, 5u));  // the first key of a leaf shares nothing
  EXPECT_EQ(info(2), std::make_tuple(3u, 3u, 5u));
  EXPECT_EQ(info(3), std::make_tuple(4u, 2u, 5u));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image) + 512 - 4, 4), "DABC");
  EXPECT_EQ(Le16(std::string(reinterpret_cast<char*>(image), 512), 12), 512u - 24 - 4 * 3 - 4);
  // Decoding gives the keys back.
  BLOCK4 back{};
  back.tag = &t.tag;
  ASSERT_EQ(b4decode(&back, image, 512, 4096, 1), 0);
  ASSERT_EQ(back.nKeys, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b4key(&back, 2)), 8), "ABC     ");
  EXPECT_EQ(back.recs[3], 4u);
  b4release(&back);
}

// A file of one tag "QRECID" on a numeric field: 1024 bytes of file header,
// 1024 of tag header, then the blocks; default geometry leaves the marker
// and the words after it zero; a tag without filter stores filter length 1
// at the expression's end.
TEST(BlockFormat, HeadersOfANewFile) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("QRECID", 'N', 10);
  TagList tags;
  tags.Add("QRECID", "QRECID");
  DATA4* data = d4create(&c4, dir.File("q.dbf").c_str(), fields.get(), tags.get());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4close(data), 0);
  std::string b = ReadAll(dir.File("q.cdx"));
  ASSERT_EQ(b.size(), 1024u + 1024 + 2 * 512);
  EXPECT_EQ(std::string(b.data() + 16, 12), std::string(12, '\0'));
  EXPECT_EQ(Le16(b, 12), 10u);
  EXPECT_EQ(uint8_t(b[14]), 0xE0);
  EXPECT_EQ(Le16(b, 504), 1u);
  EXPECT_EQ(Le16(b, 510), 1u);
  EXPECT_EQ(Le16(b, 1024 + 12), 8u);
  EXPECT_EQ(uint8_t(b[1024 + 14]), 0x60);
  EXPECT_EQ(Le16(b, 1024 + 504), 7u);  // filter position = expression length
  EXPECT_EQ(Le16(b, 1024 + 506), 1u);
  EXPECT_EQ(Le16(b, 1024 + 510), 7u);
  EXPECT_EQ(b.substr(1024 + 512, 8), std::string("QRECID\0\0", 8));
  for (uint32_t root : {Le32(b, 0), Le32(b, 1024)}) {
    EXPECT_TRUE(root == 2048 || root == 2560);
    EXPECT_EQ(Le16(b, root), 3u);  // a root that is a leaf
  }
}

// Damaged blocks give the index error when read, never a read outside the
// block: each change of a built file, then a walk of every tag.
TEST(BlockFormat, DamagedBlocksAreRefused) {
  TempDir dir;
  std::string path;
  {
    TestCode4 c4;
    FieldList fields;
    fields.Add("NAME", 'C', 40);
    DATA4* data = d4create(&c4, dir.File("d.dbf").c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 400; i++) ASSERT_EQ(AppendRow(data, {{"NAME", "name" + std::to_string(i * 7919 % 400)}}), 0);
    TagList tags;
    tags.Add("NAME", "NAME");
    ASSERT_NE(i4create(data, nullptr, tags.get()), nullptr);
    ASSERT_EQ(d4close(data), 0);
  }
  const std::string good = ReadAll(dir.File("d.cdx"));
  const uint32_t root = Le32(good, 1024);
  ASSERT_EQ(Le16(good, root), 1u);  // a root branch over leaves
  const uint32_t leaf = xbasetest::Be32(good, root + 12 + 40 + 4);
  auto put16 = [](std::string& b, size_t at, unsigned v) { b.replace(at, 2, Le16(v)); };
  auto put32 = [](std::string& b, size_t at, uint32_t v) { b.replace(at, 4, Le32(v)); };
  struct Damage {
    const char* what;
    std::function<void(std::string&)> apply;
  } damages[] = {
      {"leaf count beyond the block", [&](std::string& b) { put16(b, leaf + 2, 400); }},
      {"info length 0", [&](std::string& b) { b[leaf + 23] = 0; }},
      {"bit counts wider than the info", [&](std::string& b) { b[leaf + 20] = 30; }},
      {"counts above the key length", [&](std::string& b) { b[leaf + 24 + uint8_t(b[leaf + 23]) - 1] = char(0xFF); }},
      {"branch count beyond the block", [&](std::string& b) { put16(b, root + 2, 11); }},
      {"child beyond the file", [&](std::string& b) { b[root + 12 + 44] = 0x7F; }},
      {"sibling beyond the file", [&](std::string& b) { put32(b, leaf + 8, 0x10000000); }},
      {"sibling leading back to itself", [&](std::string& b) { put32(b, leaf + 8, leaf); }},
      {"sibling leading back to an earlier leaf",
       [&](std::string& b) { put32(b, xbasetest::Be32(good, root + 12 + 48 + 44) + 8, leaf); }},
      {"root of the directory 0", [&](std::string& b) { put32(b, 0, 0); }},
      {"free list head beyond the file", [&](std::string& b) { put32(b, 4, 0x7FFFFFF0); }},
  };
  for (const Damage& d : damages) {
    std::string bytes = good;
    d.apply(bytes);
    dir.Write("d.cdx", bytes);
    TestCode4 c4;
    DATA4* data = d4open(&c4, dir.File("d.dbf").c_str());
    bool refused = data == nullptr;
    if (data != nullptr) {
      TAG4* tag = d4tag(data, "NAME");
      if (tag != nullptr) {
        d4tagSelect(data, tag);
        int rc = d4top(data);
        while (rc == 0) rc = d4skip(data, 1);
        d4seek(data, "name399");
        // A damaged free list shows when a block is wanted.
        d4go(data, 1);
        f4assign(d4field(data, "NAME"), "zzzz");
        d4write(data, 1);
        for (int i = 0; i < 40 && c4.errorCode >= 0; i++) AppendRow(data, {{"NAME", "a" + std::to_string(i)}});
      }
      refused = c4.errorCode == e4index || c4.Reported(e4index);
      error4set(&c4, 0);
      d4close(data);
    }
    EXPECT_TRUE(refused || c4.Reported(e4index)) << d.what;
  }
}

// Random bytes over the blocks: every open, walk and seek ends cleanly.
TEST(BlockFormat, RandomDamageNeverCrashes) {
  TempDir dir;
  {
    TestCode4 c4;
    FieldList fields;
    fields.Add("NAME", 'C', 12).Add("NUM", 'N', 8);
    DATA4* data = d4create(&c4, dir.File("r.dbf").c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 600; i++) {
      ASSERT_EQ(AppendRow(data, {{"NAME", "n" + std::to_string(i * 31 % 600)}, {"NUM", std::to_string(i)}}), 0);
    }
    TagList tags;
    tags.Add("NAME", "NAME").Add("NUM", "NUM", "", 0, 10);
    ASSERT_NE(i4create(data, nullptr, tags.get()), nullptr);
    ASSERT_EQ(d4close(data), 0);
  }
  const std::string good = ReadAll(dir.File("r.cdx"));
  std::mt19937 random(5);
  for (int round = 0; round < 150; round++) {
    std::string bytes = good;
    for (int k = 0; k < 1 + int(random() % 6); k++) {
      size_t at = 2048 + 1024 + random() % (bytes.size() - 3072);
      bytes[at] = char(random());
    }
    dir.Write("r.cdx", bytes);
    TestCode4 c4;
    DATA4* data = d4open(&c4, dir.File("r.dbf").c_str());
    if (data == nullptr) continue;
    for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
      d4tagSelect(data, tag);
      int rc = d4top(data);
      for (int i = 0; i < 700 && rc == 0; i++) rc = d4skip(data, 1);
      error4set(&c4, 0);
      d4seek(data, "n3");
      error4set(&c4, 0);
    }
    d4close(data);
  }
}

}  // namespace
