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
  TestCode4 c4;
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

}  // namespace
