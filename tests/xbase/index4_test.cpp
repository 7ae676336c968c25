#include "xbase/index4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/xbase/index_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::FieldList;
using xbasetest::TagList;
using xbasetest::TestCode4;
using xbasetest::Trimmed;

const std::vector<std::string> kNames = {"smith", "jones", "brown", "smith", "adams", "smith", "young", "baker"};

// NAME C(8) and NUM N(4) holding the record number; tags on NAME ascending
// and descending.
DATA4* People(TestCode4* c4, const TempDir& dir) {
  FieldList fields;
  fields.Add("NAME", 'C', 8).Add("NUM", 'N', 4);
  DATA4* data = d4create(c4, dir.File("p.dbf").c_str(), fields.get());
  if (data == nullptr) return nullptr;
  for (size_t i = 0; i < kNames.size(); i++) AppendRow(data, {{"NAME", kNames[i]}, {"NUM", std::to_string(i + 1)}});
  TagList tags;
  tags.Add("NAME", "NAME").Add("DOWN", "NAME", "", 0, 10).Add("NONE", "NAME", "NUM > 100");
  if (i4create(data, nullptr, tags.get()) == nullptr) return nullptr;
  return data;
}

// The records d4top/d4skip visit in the tag's order, and backwards.
std::vector<long> Walk(DATA4* data, bool backwards = false) {
  std::vector<long> recs;
  for (int rc = backwards ? d4bottom(data) : d4top(data); rc == 0; rc = d4skip(data, backwards ? -1 : 1)) {
    recs.push_back(d4recNo(data));
  }
  return recs;
}

TEST(IndexOpen, OpensOnceAndSharesTheFile) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = People(&c4, dir);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4close(data), 0);
  data = d4open(&c4, dir.File("p.dbf").c_str());
  ASSERT_NE(data, nullptr);
  INDEX4* production = d4index(data, nullptr);
  ASSERT_NE(production, nullptr);  // opened with the table
  EXPECT_EQ(i4open(data, nullptr), nullptr);
  EXPECT_EQ(c4.errorCode, e4instance);
  error4set(&c4, 0);
  // i4tag: any case, only the first 10 characters count.
  EXPECT_NE(i4tag(production, "name"), nullptr);
  EXPECT_EQ(i4tag(production, "DOWNWARDS"), nullptr);
  EXPECT_EQ(c4.errorCode, e4tagName);
  error4set(&c4, 0);
  c4.singleOpen = 0;
  DATA4* second = d4open(&c4, dir.File("p.dbf").c_str());
  ASSERT_NE(second, nullptr);
  INDEX4* other = d4index(second, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->indexFile, production->indexFile);
  EXPECT_EQ(production->indexFile->userCount, 2);
  // d4index compares full names: another name is no index of the handle.
  EXPECT_EQ(d4index(data, "elsewhere"), nullptr);
  EXPECT_EQ(c4.errorCode, 0);
  EXPECT_EQ(d4close(second), 0);
  EXPECT_EQ(d4close(data), 0);
}

// Reading an index does not depend on its file's permissions: a read-only
// copy opens with the same tags as a writable one, and an index whose tag
// names a field the table lacks is refused either way (a writable file
// opened without a tag would leave that tag behind on every change).
TEST(IndexOpen, ReadOnlyFileReadAsAWritableOne) {
  TempDir dir;
  {
    TestCode4 c4;
    DATA4* data = People(&c4, dir);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(d4close(data), 0);
    FieldList nameOnly;
    nameOnly.Add("NAME", 'C', 8);
    data = d4create(&c4, dir.File("q.dbf").c_str(), nameOnly.get());  // no NUM for the NONE tag
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(d4close(data), 0);
  }
  namespace fs = std::filesystem;
  for (bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "writable");
    for (const char* table : {"p", "q"}) {
      const std::string copy = dir.File(std::string(table) + "copy");
      fs::copy_file(dir.File(std::string(table) + ".dbf"), copy + ".dbf", fs::copy_options::overwrite_existing);
      fs::remove(copy + ".cdx");
      fs::copy_file(dir.File("p.cdx"), copy + ".cdx");
      if (readOnly) fs::permissions(copy + ".cdx", fs::perms::owner_read | fs::perms::group_read);
    }
    TestCode4 c4;
    c4.autoOpen = 0;
    DATA4* whole = d4open(&c4, dir.File("pcopy.dbf").c_str());
    ASSERT_NE(whole, nullptr);
    INDEX4* index = i4open(whole, dir.File("pcopy").c_str());
    ASSERT_NE(index, nullptr);
    std::vector<std::string> names;
    for (TAG4* tag = d4tagNext(whole, nullptr); tag; tag = d4tagNext(whole, tag)) names.push_back(t4alias(tag));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DOWN", "NAME", "NONE"}));
    EXPECT_EQ(d4close(whole), 0);

    DATA4* lacking = d4open(&c4, dir.File("qcopy.dbf").c_str());
    ASSERT_NE(lacking, nullptr);
    EXPECT_EQ(i4open(lacking, dir.File("qcopy").c_str()), nullptr);
    EXPECT_LT(c4.errorCode, 0);
    EXPECT_EQ(d4tagNext(lacking, nullptr), nullptr);
    error4set(&c4, 0);
    EXPECT_EQ(d4close(lacking), 0);
  }
}

// The directory's key length comes from the file: names are never read
// past the keys it holds.
TEST(IndexOpen, DirectoryKeysShorterThanNames) {
  TempDir dir;
  {
    TestCode4 c4;
    FieldList fields;
    fields.Add("NAME", 'C', 8);
    DATA4* data = d4create(&c4, dir.File("d.dbf").c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    TagList tags;
    for (char first = 'A'; first < 'I'; first++) tags.Add(first + std::string("TAGNUMBER"), "NAME");
    ASSERT_NE(i4create(data, nullptr, tags.get()), nullptr);
    ASSERT_EQ(d4close(data), 0);
  }
  std::string bytes = testsupport::ReadAll(dir.File("d.cdx"));
  bytes.replace(12, 2, xbasetest::Le16(4));
  dir.Write("d.cdx", bytes);
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("d.dbf").c_str());
  ASSERT_NE(data, nullptr);
  int tags = 0;
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    EXPECT_LE(std::string(t4alias(tag)).size(), 4u);
    tags++;
  }
  EXPECT_EQ(tags, 8);
  EXPECT_EQ(d4close(data), 0);
}

TEST(IndexSeek, SeeksInBothOrders) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = People(&c4, dir);
  ASSERT_NE(data, nullptr);
  // No tag selected and none open: 80, nothing moves.
  {
    FieldList fields;
    fields.Add("X", 'C', 2);
    DATA4* plain = d4create(&c4, dir.File("plain.dbf").c_str(), fields.get());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(d4seek(plain, "a"), r4noTag);
    EXPECT_EQ(d4recNo(plain), -1);
    d4close(plain);
  }
  d4tagSelect(data, d4tag(data, "NAME"));
  struct Case {
    const char* text;
    int result;
    long rec;  // -1: end of file
  } ascending[] = {
      {"smith", 0, 1}, {"smi", 0, 1},  {"jones", 0, 2}, {"carter", r4after, 2},
      {"a", 0, 5},     {"zz", r4eof, -1}, {"smith   ", 0, 1},
  };
  for (const Case& c : ascending) {
    EXPECT_EQ(d4seek(data, c.text), c.result) << c.text;
    if (c.rec > 0) {
      EXPECT_EQ(d4recNo(data), c.rec) << c.text;
    } else {
      EXPECT_TRUE(d4eof(data)) << c.text;
    }
  }
  // Descending: among equal keys the first in descending order.
  d4tagSelect(data, d4tag(data, "DOWN"));
  Case descending[] = {{"smith", 0, 6}, {"carter", r4after, 3}, {"zz", r4after, 7}, {"aa", r4eof, -1}};
  for (const Case& c : descending) {
    EXPECT_EQ(d4seek(data, c.text), c.result) << c.text;
    if (c.rec > 0) {
      EXPECT_EQ(d4recNo(data), c.rec) << c.text;
    } else {
      EXPECT_TRUE(d4eof(data)) << c.text;
    }
  }
  // Keys of records beyond the count are never returned.
  TFILE4* name = d4tag(data, "NAME")->tagFile;
  std::string ghost = "carter  ";
  ASSERT_EQ(tfile4add(name, reinterpret_cast<const unsigned char*>(ghost.data()), 50, 0), 0);
  d4tagSelect(data, d4tag(data, "NAME"));
  EXPECT_EQ(d4seek(data, "carter"), 0);
  EXPECT_EQ(Trimmed(d4field(data, "NAME")), "jones");
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

TEST(IndexNavigation, TopBottomAndSkipInTagOrder) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = People(&c4, dir);
  ASSERT_NE(data, nullptr);
  std::vector<long> order(kNames.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = long(i + 1);
  std::stable_sort(order.begin(), order.end(), [](long a, long b) { return kNames[size_t(a - 1)] < kNames[size_t(b - 1)]; });
  d4tagSelect(data, d4tag(data, "NAME"));
  EXPECT_EQ(Walk(data), order);
  std::vector<long> reversed(order.rbegin(), order.rend());
  EXPECT_EQ(Walk(data, true), reversed);
  d4tagSelect(data, d4tag(data, "DOWN"));
  EXPECT_EQ(Walk(data), reversed);
  EXPECT_EQ(Walk(data, true), order);
  // Ends: BOF on the first record, EOF past the last; skips of several.
  d4tagSelect(data, d4tag(data, "NAME"));
  ASSERT_EQ(d4top(data), 0);
  EXPECT_EQ(d4skip(data, -1), r4bof);
  EXPECT_TRUE(d4bof(data));
  EXPECT_EQ(d4recNo(data), order[0]);
  EXPECT_EQ(d4skip(data, 3), 0);
  EXPECT_EQ(d4recNo(data), order[3]);
  EXPECT_EQ(d4skip(data, 10), r4eof);
  EXPECT_TRUE(d4eof(data));
  EXPECT_EQ(d4skip(data, -2), 0);
  EXPECT_EQ(d4recNo(data), order[order.size() - 2]);
  // A record changed under the cursor is written and skipped from its new
  // place: the last.
  ASSERT_EQ(d4top(data), 0);
  f4assign(d4field(data, "NAME"), "zed");
  EXPECT_EQ(d4skip(data, 1), r4eof);
  ASSERT_EQ(d4bottom(data), 0);
  EXPECT_EQ(Trimmed(d4field(data, "NAME")), "zed");
  // A filter true for no record: an empty tag.
  d4tagSelect(data, d4tag(data, "NONE"));
  EXPECT_EQ(d4top(data), r4eof);
  EXPECT_TRUE(d4bof(data) && d4eof(data));
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

}  // namespace
