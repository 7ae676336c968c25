#include "xbase/tfile4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "tests/xbase/index_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::Entries;
using xbasetest::FieldList;
using xbasetest::FileReader;
using xbasetest::TagEntries;
using xbasetest::TagList;
using xbasetest::TestCode4;

std::string Padded(const std::string& text, size_t width) {
  std::string out = text;
  out.resize(width, ' ');
  return out;
}

// A table NAME C(width) with a tag on NAME and the given unique mode.
DATA4* NameTable(TestCode4* c4, const TempDir& dir, int width, int unique = 0, const char* filter = "") {
  FieldList fields;
  fields.Add("NAME", 'C', width);
  TagList tags;
  tags.Add("NAME", "NAME", filter, unique);
  return d4create(c4, dir.File("t.dbf").c_str(), fields.get(), tags.get());
}

// Random names, appended and rewritten, removed and added again: the tag
// always holds exactly the records' keys in order, and the file read
// independently holds the same with every block accounted for.
TEST(KeyMaintenance, RandomChangesKeepTheTagExact) {
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());  // reads the index file while it is open
  const int width = 30;
  DATA4* data = NameTable(&c4, dir, width);
  ASSERT_NE(data, nullptr);
  std::mt19937 random(7);
  auto name = [&]() {
    std::string s;
    int length = int(random() % 12);
    // Few letters and shared stems make long duplicate runs and splits.
    for (int i = 0; i < length; i++) s += char('a' + random() % 4);
    return s;
  };
  std::vector<std::string> names;
  for (int i = 0; i < 3000; i++) {
    names.push_back(name());
    ASSERT_EQ(AppendRow(data, {{"NAME", names.back()}}), 0) << i;
  }
  for (int i = 0; i < 3000; i++) {
    long rec = long(random() % names.size()) + 1;
    ASSERT_EQ(d4go(data, rec), 0);
    names[size_t(rec - 1)] = name();
    f4assign(d4field(data, "NAME"), names[size_t(rec - 1)].c_str());
    ASSERT_EQ(d4write(data, rec), 0) << i;
  }
  Entries expected;
  for (size_t i = 0; i < names.size(); i++) expected.emplace_back(Padded(names[i], width), long(i + 1));
  std::sort(expected.begin(), expected.end());
  TAG4* tag = d4tag(data, "NAME");
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(TagEntries(tag), expected);
  ASSERT_EQ(d4update(data), 0);
  FileReader reader(ReadAll(dir.File("t.cdx")));
  reader.blankTags = {"NAME"};
  auto image = reader.Read();
  ASSERT_EQ(image.error, "");
  ASSERT_EQ(image.tags.size(), 1u);
  EXPECT_EQ(image.tags[0].entries, expected);
  EXPECT_TRUE(image.unaccounted.empty());
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

// The unique modes: a second record with an existing key.
TEST(KeyMaintenance, UniqueModes) {
  struct Case {
    int mode;
    int result;      // of the second append (25 appends the record without a key)
    long records;    // after it
  } cases[] = {{20, r4unique, 1}, {25, 0, 2}, {15, r4unique, 1}, {-340, e4unique, 1},
               {-360, e4unique, 1}};
  for (const Case& c : cases) {
    TempDir dir;
    TestCode4 c4;
    DATA4* data = NameTable(&c4, dir, 8, c.mode);
    ASSERT_NE(data, nullptr) << c.mode;
    ASSERT_EQ(AppendRow(data, {{"NAME", "same"}}), 0);
    EXPECT_EQ(AppendRow(data, {{"NAME", "same"}}), c.result) << c.mode;
    error4set(&c4, 0);
    EXPECT_EQ(d4recCount(data), c.records) << c.mode;
    Entries entries = TagEntries(d4tag(data, "NAME"));
    ASSERT_EQ(entries.size(), 1u) << c.mode;
    EXPECT_EQ(entries[0].second, 1) << c.mode;  // the first record's
    if (c.mode < 0) {
      ASSERT_NE(c4.Last(), nullptr);
      EXPECT_EQ(c4.Last()->code, e4unique);
      EXPECT_EQ(c4.Last()->t1, "NAME");
    }
    d4close(data);
  }
}

// A refused append or rewrite leaves no key of the record in any tag: the
// tags before the refusing one give theirs back.
TEST(KeyMaintenance, RefusalLeavesNoKeyBehind) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("NUM", 'N', 6).Add("NAME", 'C', 8);
  TagList tags;
  tags.Add("NUM", "NUM").Add("NAME", "NAME", "", r4unique).Add("BOTH", "NAME+STR(NUM,6)");
  DATA4* data = d4create(&c4, dir.File("u.dbf").c_str(), fields.get(), tags.get());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(AppendRow(data, {{"NUM", "1"}, {"NAME", "a"}}), 0);
  ASSERT_EQ(AppendRow(data, {{"NUM", "2"}, {"NAME", "b"}}), 0);
  EXPECT_EQ(AppendRow(data, {{"NUM", "3"}, {"NAME", "a"}}), r4unique);
  EXPECT_EQ(d4recCount(data), 2);
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    Entries entries = TagEntries(tag);
    ASSERT_EQ(entries.size(), 2u) << t4alias(tag);
    for (const auto& [key, rec] : entries) EXPECT_LE(rec, 2) << t4alias(tag);
  }
  // Record 2 renamed to a's name: refused, every tag keeps record 2's old keys.
  ASSERT_EQ(d4go(data, 2), 0);
  f4assign(d4field(data, "NUM"), "9");
  f4assign(d4field(data, "NAME"), "a");
  EXPECT_EQ(d4write(data, 2), r4unique);
  d4changed(data, 0);
  TAG4* num = d4tag(data, "NUM");
  d4tagSelect(data, num);
  EXPECT_EQ(d4seek(data, "2"), 0);
  EXPECT_EQ(d4recNo(data), 2);
  EXPECT_EQ(d4seek(data, "9"), r4eof);
  d4tagSelect(data, d4tag(data, "BOTH"));
  EXPECT_EQ(d4seek(data, "b            2"), 0);
  EXPECT_EQ(d4close(data), 0);
}

// A record number above a leaf's mask widens the leaf by one info byte; a
// full leaf of 7 keys splits 4 and 3 (and the new key); removing every key
// leaves an empty root leaf with every other block free.
TEST(KeyMaintenance, WidenSplitAndEmpty) {
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());  // reads the index file while it is open
  DATA4* data = NameTable(&c4, dir, 60);
  ASSERT_NE(data, nullptr);
  TFILE4* tag = d4tag(data, "NAME")->tagFile;
  INDEX4FILE* file = tag->indexFile;
  auto key = [](char first) {
    std::string k(60, ' ');
    for (int i = 0; i < 60; i++) k[size_t(i)] = char(first + i % 3);
    return k;
  };
  auto add = [&](char first, uint32_t rec) {
    std::string k = key(first);
    return tfile4add(tag, reinterpret_cast<const unsigned char*>(k.data()), rec, 0);
  };
  const char firsts[] = {'a', 'c', 'e', 'g', 'i', 'k', 'm'};
  for (int i = 0; i < 7; i++) ASSERT_EQ(add(firsts[i], uint32_t(i + 1)), 0);
  ASSERT_EQ(index4flush(file), 0);
  std::string b = ReadAll(dir.File("t.cdx"));
  uint32_t root = xbasetest::Le32(b, 1024);
  EXPECT_EQ(xbasetest::Le16(b, root), 3u);
  EXPECT_EQ(xbasetest::Le16(b, root + 2), 7u);
  const unsigned info = uint8_t(b[root + 23]);
  // Record 70,000 lies beyond the 16 bits of this leaf; it splits too, at
  // the second place: 4 and the new one stay, 3 move.
  ASSERT_EQ(add('b', 70000), 0);
  ASSERT_EQ(index4flush(file), 0);
  b = ReadAll(dir.File("t.cdx"));
  root = xbasetest::Le32(b, 1024);
  ASSERT_EQ(xbasetest::Le16(b, root), 1u);
  ASSERT_EQ(xbasetest::Le16(b, root + 2), 2u);
  uint32_t left = xbasetest::Be32(b, root + 12 + 64), right = xbasetest::Be32(b, root + 12 + 68 + 64);
  EXPECT_EQ(xbasetest::Le16(b, left + 2), 5u);
  EXPECT_EQ(xbasetest::Le16(b, right + 2), 3u);
  EXPECT_EQ(uint8_t(b[left + 23]), info + 1);
  EXPECT_EQ(xbasetest::Le32(b, left + 8), right);
  EXPECT_EQ(xbasetest::Le32(b, right + 4), left);
  Entries entries = TagEntries(d4tag(data, "NAME"));
  ASSERT_EQ(entries.size(), 8u);
  EXPECT_EQ(entries[1].second, 70000);
  // Enough keys for several levels, then all of them removed.
  for (uint32_t rec = 100; rec < 1100; rec++) {
    std::string k = key(char('a' + rec % 20));
    k[40] = char('0' + rec % 10);
    k[41] = char('0' + rec / 10 % 10);
    k[42] = char('0' + rec / 100 % 10);
    ASSERT_EQ(tfile4add(tag, reinterpret_cast<const unsigned char*>(k.data()), rec, 0), 0);
  }
  entries = TagEntries(d4tag(data, "NAME"));
  ASSERT_EQ(entries.size(), 1008u);
  for (const auto& [k, rec] : entries) {
    ASSERT_EQ(tfile4remove(tag, reinterpret_cast<const unsigned char*>(k.data()), uint32_t(rec)), 0);
  }
  EXPECT_EQ(tfile4remove(tag, reinterpret_cast<const unsigned char*>(entries[0].first.data()), 1), r4entry);
  EXPECT_TRUE(TagEntries(d4tag(data, "NAME")).empty());
  ASSERT_EQ(index4flush(file), 0);
  FileReader reader(ReadAll(dir.File("t.cdx")));
  auto image = reader.Read();
  ASSERT_EQ(image.error, "");
  EXPECT_EQ(image.reached.size(), 2u);  // the directory's root and the tag's
  EXPECT_TRUE(image.unaccounted.empty());
  EXPECT_GT(image.freeList.size(), 20u);
  b = ReadAll(dir.File("t.cdx"));
  root = xbasetest::Le32(b, 1024);
  EXPECT_EQ(xbasetest::Le16(b, root), 3u);
  EXPECT_EQ(xbasetest::Le16(b, root + 2), 0u);
  EXPECT_EQ(xbasetest::Le32(b, root + 4), k4noBlock);
  EXPECT_EQ(xbasetest::Le32(b, root + 8), k4noBlock);
  // Freed blocks serve the next keys.
  const size_t length = b.size();
  for (uint32_t rec = 1; rec < 300; rec++) {
    std::string k = key(char('a' + rec % 20));
    k[50] = char('0' + rec % 10);
    k[51] = char('0' + rec / 10 % 10);
    k[52] = char('0' + rec / 100 % 10);
    ASSERT_EQ(tfile4add(tag, reinterpret_cast<const unsigned char*>(k.data()), rec, 0), 0);
  }
  ASSERT_EQ(index4flush(file), 0);
  EXPECT_EQ(ReadAll(dir.File("t.cdx")).size(), length);
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

// Only the directory goes without an expression: a tag whose damaged type
// byte says otherwise still keys, seeks and takes keys.
TEST(TagHeader, DirectoryBitOnATag) {
  TempDir dir;
  {
    TestCode4 c4;
    DATA4* data = NameTable(&c4, dir, 8);
    ASSERT_NE(data, nullptr);
    for (const char* name : {"bob", "ann", "cy"}) ASSERT_EQ(AppendRow(data, {{"NAME", name}}), 0);
    ASSERT_EQ(d4close(data), 0);
  }
  std::string bytes = ReadAll(dir.File("t.cdx"));
  bytes[1024 + 14] = char(bytes[1024 + 14] | 0x80);  // the one tag's header follows the file header
  dir.Write("t.cdx", bytes);
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("t.dbf").c_str());
  ASSERT_NE(data, nullptr);
  d4tagSelect(data, d4tag(data, "NAME"));
  EXPECT_EQ(d4seek(data, "bob"), 0);
  EXPECT_EQ(d4recNo(data), 1);
  EXPECT_EQ(AppendRow(data, {{"NAME", "al"}}), 0);
  EXPECT_EQ(d4top(data), 0);
  EXPECT_EQ(d4recNo(data), 4);
  EXPECT_EQ(d4close(data), 0);
}

}  // namespace
