#include "xbase/relate4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/xbase/index_fixture.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::AppendRow;
using xbasetest::FieldList;
using xbasetest::TagList;
using xbasetest::TestCode4;

using Records = std::vector<long>;

// The record numbers of a whole walk, forwards from the top or backwards
// from the bottom.
Records WalkForward(RELATE4* relate) {
  Records out;
  int rc = relate4top(relate);
  while (rc == 0) {
    out.push_back(d4recNo(relate->data));
    rc = relate4skip(relate, 1);
  }
  EXPECT_EQ(rc, r4eof);
  EXPECT_NE(relate4eof(relate), 0);
  return out;
}

Records WalkBackward(RELATE4* relate) {
  Records out;
  int rc = relate4bottom(relate);
  while (rc == 0) {
    out.push_back(d4recNo(relate->data));
    rc = relate4skip(relate, -1);
  }
  EXPECT_EQ(rc, r4bof);
  return out;
}

// The records of a table in the order of a key computed here from each
// record's field bytes; equal keys keep record order.
Records SortedBy(DATA4* data, const std::function<std::string(DATA4*)>& key) {
  std::vector<std::pair<std::string, long>> rows;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) rows.emplace_back(key(data), d4recNo(data));
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  Records out;
  for (const auto& row : rows) out.push_back(row.second);
  return out;
}

std::string Raw(DATA4* data, const char* field) {
  FIELD4* f = d4field(data, field);
  return std::string(f4ptr(f), f4len(f));
}

// A copy of the 100 NC counties: files are opened for exclusive use, and
// other test programs read the shared one at the same time.
DATA4* OpenCounties(TestCode4* c4, const TempDir& dir) {
  const std::string copy = dir.File("nc.dbf");
  std::filesystem::copy_file(testsupport::SharedDataPath("nc/nc.dbf"), copy,
                             std::filesystem::copy_options::overwrite_existing);
  return d4open(c4, copy.c_str());
}

std::string Upper(std::string s) {
  for (char& c : s) c = platform::AsciiUpper(c);
  return s;
}

TEST(Relation, SortedWalkMatchesAnIndependentSort) {
  struct Case {
    const char* expression;
    std::function<std::string(DATA4*)> key;
  };
  const Case cases[] = {
      {"NAME", [](DATA4* d) { return Raw(d, "NAME"); }},
      // Many equal keys: they come in record order.
      {"SUBSTR(NAME,1,1)", [](DATA4* d) { return Raw(d, "NAME").substr(0, 1); }},
      {"UPPER(SUBSTR(NAME,3,2))+FIPS", [](DATA4* d) { return Upper(Raw(d, "NAME").substr(2, 2)) + Raw(d, "FIPS"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    TempDir dir;
    TestCode4 c4;
    DATA4* data = OpenCounties(&c4, dir);
    ASSERT_NE(data, nullptr);
    const Records expected = SortedBy(data, c.key);
    ASSERT_EQ(expected.size(), 100u);
    RELATE4* relate = relate4init(data);
    ASSERT_NE(relate, nullptr);
    ASSERT_EQ(relate4sortSet(relate, c.expression), 0);
    ASSERT_EQ(relate4skipEnable(relate, 1), 0);
    EXPECT_EQ(WalkForward(relate), expected);
    EXPECT_EQ(WalkBackward(relate), Records(expected.rbegin(), expected.rend()));
    // Back and forth in the middle.
    ASSERT_EQ(relate4top(relate), 0);
    ASSERT_EQ(relate4skip(relate, 10), 0);
    EXPECT_EQ(d4recNo(data), expected[10]);
    ASSERT_EQ(relate4skip(relate, -3), 0);
    EXPECT_EQ(d4recNo(data), expected[7]);
    EXPECT_EQ(relate4skip(relate, -8), r4bof);
    EXPECT_EQ(relate4skip(relate, 1), 0);
    EXPECT_EQ(d4recNo(data), expected[0]);
    EXPECT_EQ(relate4free(relate, 0), 0);
    EXPECT_EQ(d4recCount(data), 100);  // the table stays open
    EXPECT_TRUE(c4.reports.empty());
  }
}

// A table too large for the sort's memory: the sort spools runs to disk,
// and the walk still matches.
TEST(Relation, SortThroughSpoolFiles) {
  TempDir dir;
  TestCode4 c4;
  c4.memSizeSortPool = 2048;
  c4.memSizeSortBuffer = 1024;
  FieldList fields;
  fields.Add("WORD", 'C', 6).Add("N", 'N', 6);
  DATA4* data = d4create(&c4, dir.File("words.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; i++) {
    seed = seed * 1103515245u + 12345u;
    std::string word;
    for (int k = 0; k < 3; k++) word += char('a' + (seed >> (8 + 5 * k)) % 26);
    ASSERT_EQ(AppendRow(data, {{"WORD", word}, {"N", std::to_string(i)}}), 0);
  }
  const Records expected = SortedBy(data, [](DATA4* d) { return Raw(d, "WORD"); });
  RELATE4* relate = relate4init(data);
  ASSERT_EQ(relate4sortSet(relate, "WORD"), 0);
  ASSERT_EQ(relate4skipEnable(relate, 1), 0);
  EXPECT_EQ(WalkForward(relate), expected);
  EXPECT_EQ(WalkBackward(relate), Records(expected.rbegin(), expected.rend()));
  relate4free(relate, 0);
  EXPECT_TRUE(c4.reports.empty());
}

// The sorted tuples kept for backward skipping live in a temporary file
// that goes with the relation.
TEST(Relation, TemporaryFileGoesWithTheRelation) {
  TempDir dir, temp;
  xbasetest::TempFolderEnv folder(temp.path());
  TestCode4 c4(xbasetest::WithoutCache());  // the spool must be a file on disk
  DATA4* data = OpenCounties(&c4, dir);
  ASSERT_NE(data, nullptr);
  RELATE4* relate = relate4init(data);
  ASSERT_EQ(relate4sortSet(relate, "FIPS"), 0);
  ASSERT_EQ(relate4bottom(relate), 0);
  EXPECT_FALSE(std::filesystem::is_empty(temp.path()));
  ASSERT_EQ(relate4free(relate, 1), 0);
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
  EXPECT_EQ(c4.dataList.numLinks, 0u);  // closed with the relation
}

TEST(Relation, WalkRules) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = OpenCounties(&c4, dir);
  ASSERT_NE(data, nullptr);
  const Records byName = SortedBy(data, [](DATA4* d) { return Raw(d, "NAME"); });
  const Records byFips = SortedBy(data, [](DATA4* d) { return Raw(d, "FIPS"); });
  RELATE4* relate = relate4init(data);
  ASSERT_NE(relate, nullptr);
  ASSERT_EQ(relate4sortSet(relate, "NAME"), 0);

  EXPECT_EQ(relate4skip(relate, 1), e4info);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "relate4top() must be called first");
  error4set(&c4, 0);
  ASSERT_EQ(relate4top(relate), 0);
  EXPECT_EQ(relate4skip(relate, -1), e4info);
  EXPECT_STREQ(error4locationText(c4.Last()->location),
               "backwards skip attempted without calling relate4skipEnable()");
  error4set(&c4, 0);
  c4.reports.clear();
  // Without backward skipping each top sorts again.
  EXPECT_EQ(WalkForward(relate), byName);
  EXPECT_EQ(WalkForward(relate), byName);
  // The bottom turns backward skipping on itself.
  EXPECT_EQ(WalkBackward(relate), Records(byName.rbegin(), byName.rend()));
  EXPECT_EQ(relate4eof(relate), 0);
  // Another order after a walk: the next top sorts by it.
  ASSERT_EQ(relate4sortSet(relate, "FIPS"), 0);
  EXPECT_EQ(WalkForward(relate), byFips);
  // No order: the walk follows the master's selected tag, or record order.
  ASSERT_EQ(relate4sortSet(relate, ""), 0);
  Records natural(100);
  for (long i = 0; i < 100; i++) natural[size_t(i)] = i + 1;
  EXPECT_EQ(WalkForward(relate), natural);
  EXPECT_EQ(WalkBackward(relate), Records(natural.rbegin(), natural.rend()));
  EXPECT_TRUE(c4.reports.empty());
  relate4free(relate, 0);

  TagList tags;
  tags.Add("NAME", "NAME");
  FieldList fields;
  fields.Add("NAME", 'C', 8);
  DATA4* tagged = d4create(&c4, dir.File("tagged.dbf").c_str(), fields.get(), tags.get());
  ASSERT_NE(tagged, nullptr);
  for (const char* name : {"pear", "apple", "fig"}) ASSERT_EQ(AppendRow(tagged, {{"NAME", name}}), 0);
  d4tagSelect(tagged, d4tag(tagged, "NAME"));
  relate = relate4init(tagged);
  ASSERT_EQ(relate4sortSet(relate, nullptr), 0);
  EXPECT_EQ(WalkForward(relate), (Records{2, 3, 1}));
  relate4free(relate, 0);
}

TEST(Relation, EmptyMaster) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("NAME", 'C', 8);
  DATA4* data = d4create(&c4, dir.File("empty.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  for (const char* sort : {"NAME", ""}) {
    SCOPED_TRACE(sort);
    RELATE4* relate = relate4init(data);
    ASSERT_EQ(relate4sortSet(relate, sort), 0);
    ASSERT_EQ(relate4skipEnable(relate, 1), 0);
    EXPECT_EQ(relate4top(relate), r4eof);
    EXPECT_NE(relate4eof(relate), 0);
    EXPECT_EQ(relate4bottom(relate), r4eof);
    EXPECT_NE(relate4eof(relate), 0);
    EXPECT_NE(relate4skip(relate, 1), 0);
    relate4free(relate, 0);
  }
  EXPECT_TRUE(c4.reports.empty());
}

TEST(Relation, Refusals) {
  xbasetest::CapturingEnv env;
  TestCode4 c4;
  EXPECT_EQ(relate4init(nullptr), nullptr);
  EXPECT_EQ(relate4top(nullptr), e4parmNull);
  EXPECT_EQ(relate4skip(nullptr, 1), e4parmNull);
  EXPECT_EQ(relate4eof(nullptr), e4parmNull);
  EXPECT_EQ(relate4changed(nullptr), e4parmNull);
  EXPECT_EQ(relate4free(nullptr, 0), -1);
  EXPECT_EQ(env.messages.size(), 5u);  // reported without a context
  TempDir dir;
  DATA4* data = OpenCounties(&c4, dir);
  ASSERT_NE(data, nullptr);
  RELATE4* relate = relate4init(data);
  // A sort expression that does not compile fails the first positioning.
  ASSERT_EQ(relate4sortSet(relate, "NAME +"), 0);
  EXPECT_LT(relate4top(relate), 0);
  EXPECT_LT(c4.errorCode, 0);
  // While the context holds an error the relation refuses to work.
  EXPECT_EQ(relate4sortSet(relate, "NAME"), -1);
  EXPECT_EQ(relate4skip(relate, 1), -1);
  error4set(&c4, 0);
  ASSERT_EQ(relate4sortSet(relate, "NAME"), 0);
  EXPECT_EQ(relate4top(relate), 0);
  EXPECT_EQ(relate4free(relate, 0), 0);
}

}  // namespace
