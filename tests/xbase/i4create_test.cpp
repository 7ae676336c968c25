// Creating index files, adding tags, rebuilding, and what creation refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/xbase/index_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::Entries;
using xbasetest::FieldList;
using xbasetest::TagEntries;
using xbasetest::TagList;
using xbasetest::TestCode4;

DATA4* Table(TestCode4* c4, const TempDir& dir, const char* name = "c.dbf") {
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("NUM", 'N', 5);
  DATA4* data = d4create(c4, dir.File(name).c_str(), fields.get());
  if (data == nullptr) return nullptr;
  const char* names[] = {"pear", "apple", "fig", "apple", "kiwi"};
  for (int i = 0; i < 5; i++) AppendRow(data, {{"NAME", names[i]}, {"NUM", std::to_string(10 * (i + 1))}});
  return data;
}

TEST(IndexCreate, ProductionIndexIsNamedAndMarked) {
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());  // reads the files while they are open
  DATA4* data = Table(&c4, dir);
  ASSERT_NE(data, nullptr);
  TagList tags;
  tags.Add("NAME", "NAME").Add("NUM", "NUM", "", 0, 10).Add("BIG", "NAME", "NUM > 25");
  INDEX4* index = i4create(data, nullptr, tags.get());
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(std::string(i4fileName(index)), dir.File("c.cdx"));
  EXPECT_EQ(ReadAll(dir.File("c.dbf"))[28] & 1, 1);
  // Creating it again while it is open is refused.
  EXPECT_EQ(i4create(data, nullptr, tags.get()), nullptr);
  EXPECT_EQ(c4.errorCode, -1420);
  error4set(&c4, 0);
  TAG4INFO* info = i4tagInfo(index);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info[1].name, "NUM");
  EXPECT_STREQ(info[1].expression, "NUM");
  EXPECT_EQ(info[1].descending, 10);
  EXPECT_STREQ(info[2].filter, "NUM > 25");
  EXPECT_EQ(info[3].name, nullptr);
  u4free(info);
  ASSERT_EQ(d4close(data), 0);
  // Opened with the table, the filter applied.
  data = d4open(&c4, dir.File("c.dbf").c_str());
  ASSERT_NE(data, nullptr);
  Entries big = TagEntries(d4tag(data, "BIG"));
  ASSERT_EQ(big.size(), 3u);
  EXPECT_EQ(big[1], std::make_pair(std::string("fig       "), 3L));
  EXPECT_EQ(d4close(data), 0);
  EXPECT_EQ(c4.reports.size(), 1u);  // the second create's
}

// Refused definitions and refused builds leave no index file behind.
TEST(IndexCreate, RefusalsLeaveNoFile) {
  struct Case {
    const char* what;
    const char* expression;
    const char* filter;
    int unique, descending;
    int code;
    long location;
  } cases[] = {
      {"duplicate under 20", "NAME", "", 20, 0, 0, 0},
      {"duplicate under -340", "NAME", "", -340, 0, e4unique, E4_CREATING_TAG},
      {"unknown unique mode", "NAME", "", 7, 0, e4tagInfo, E4_UNIQUE_FLAG},
      {"descending not 10", "NAME", "", 0, 1, e4tagInfo, E4_DESCENDING_FLAG},
      {"no expression", "", "", 0, 0, e4tagInfo, E4_TAG_EXPR_MISSING},
      {"filter not logical", "NAME", "NUM + 1", 0, 0, e4create, E4_EXPECT_LOGICAL},
      {"expression too long", nullptr, "", 0, 0, e4tagInfo, E4_SOURCE_LENGTH},
  };
  const std::string longText = "NAME" + std::string(260, ' ');
  for (const Case& c : cases) {
    TempDir dir;
    TestCode4 c4;
    DATA4* data = Table(&c4, dir);
    ASSERT_NE(data, nullptr);
    TagList tags;
    tags.Add("T", c.expression ? c.expression : longText, c.filter, c.unique, c.descending);
    EXPECT_EQ(i4create(data, nullptr, tags.get()), nullptr) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.cdx"))) << c.what;
    if (c.code != 0) {
      ASSERT_NE(c4.Last(), nullptr) << c.what;
      EXPECT_EQ(c4.Last()->code, c.code) << c.what;
      EXPECT_EQ(c4.Last()->location, c.location) << c.what;
    } else {
      EXPECT_EQ(c4.errorCode, r4unique) << c.what;
    }
    EXPECT_EQ(ReadAll(dir.File("c.dbf"))[28] & 1, 0) << c.what;
    error4set(&c4, 0);
    d4close(data);
  }
}

// A larger block size: the marker in the file header, and the filter read
// back from the pool 512 bytes into its header for built and added tags.
TEST(IndexCreate, LargerBlocksKeepTheirFilters) {
  TempDir dir;
  TestCode4 c4;
  c4.indexBlockSize = 2048;
  DATA4* data = Table(&c4, dir);
  ASSERT_NE(data, nullptr);
  TagList tags;
  tags.Add("BIG", "NAME", "NUM > 25");
  INDEX4* index = i4create(data, nullptr, tags.get());
  ASSERT_NE(index, nullptr);
  TagList more;
  more.Add("SMALL", "NUM", "NUM < 25");
  ASSERT_EQ(i4tagAdd(index, more.get()), 0);
  ASSERT_EQ(d4close(data), 0);
  std::string b = ReadAll(dir.File("c.cdx"));
  EXPECT_EQ(xbasetest::Le32(b, 16), 0xABCDu);
  EXPECT_EQ(xbasetest::Le32(b, 20), 2048u);
  c4.indexBlockSize = 512;
  data = d4open(&c4, dir.File("c.dbf").c_str());
  ASSERT_NE(data, nullptr);
  TAG4* big = d4tag(data, "BIG");
  TAG4* small = d4tag(data, "SMALL");
  ASSERT_NE(big, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_STREQ(expr4source(big->tagFile->filter), "NUM > 25");
  EXPECT_STREQ(expr4source(small->tagFile->filter), "NUM < 25");
  EXPECT_EQ(TagEntries(big).size(), 3u);
  EXPECT_EQ(TagEntries(small).size(), 2u);
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

// Tags added to an open file reach every handle; a pack rebuilds them.
TEST(IndexCreate, TagAddAndPack) {
  TempDir dir;
  TestCode4 c4;
  c4.singleOpen = 0;
  DATA4* data = Table(&c4, dir);
  ASSERT_NE(data, nullptr);
  TagList tags;
  tags.Add("NAME", "NAME");
  INDEX4* index = i4create(data, nullptr, tags.get());
  ASSERT_NE(index, nullptr);
  DATA4* second = d4open(&c4, dir.File("c.dbf").c_str());
  ASSERT_NE(second, nullptr);
  TagList more, taken;
  more.Add("NUM", "NUM");
  ASSERT_EQ(i4tagAdd(index, more.get()), 0);
  taken.Add("NAME", "NUM");
  EXPECT_EQ(i4tagAdd(index, taken.get()), e4unique);
  error4set(&c4, 0);
  ASSERT_NE(d4tag(second, "NUM"), nullptr);
  EXPECT_EQ(TagEntries(d4tag(second, "NUM")).size(), 5u);
  ASSERT_EQ(d4close(second), 0);
  // Everything deleted, then packed: empty tags.
  for (long rec = 1; rec <= 5; rec++) {
    ASSERT_EQ(d4go(data, rec), 0);
    d4delete(data);
  }
  ASSERT_EQ(d4pack(data), 0);
  EXPECT_EQ(d4recCount(data), 0);
  EXPECT_TRUE(d4bof(data) && d4eof(data));
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) EXPECT_TRUE(TagEntries(tag).empty());
  ASSERT_EQ(AppendRow(data, {{"NAME", "plum"}, {"NUM", "1"}}), 0);
  ASSERT_EQ(d4reindex(data), 0);
  EXPECT_EQ(TagEntries(d4tag(data, "NUM")).size(), 1u);
  EXPECT_EQ(d4close(data), 0);
  xbasetest::FileReader reader(ReadAll(dir.File("c.cdx")));
  auto image = reader.Read();
  EXPECT_EQ(image.error, "");
  EXPECT_EQ(image.tags.size(), 2u);
  EXPECT_TRUE(image.unaccounted.empty());
}

}  // namespace
