#include "xbase/bitmap4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/xbase/query_fixture.h"
#include "xbase/relate4.h"

namespace {

using testsupport::TempDir;
using xbasetest::CreateItems;
using xbasetest::TestCode4;

using Records = std::vector<long>;

// The records for which the query is true, each evaluated on its own.
Records Truth(DATA4* data, const char* query) {
  EXPR4* expr = expr4parse(data, query);
  EXPECT_NE(expr, nullptr) << query;
  Records out;
  if (expr == nullptr) return out;
  d4tagSelect(data, nullptr);
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    if (expr4true(expr) == 1) out.push_back(d4recNo(data));
  }
  expr4free(expr);
  return out;
}

// The records a relation over the table walks with the query.
Records Walk(DATA4* data, const char* query, bool* bitmap, const char* sort = nullptr,
             int bitmapDisable = 0) {
  RELATE4* relate = relate4init(data);
  EXPECT_NE(relate, nullptr);
  relate->relation->queryText = query;
  relate->relation->bitmapDisable = bitmapDisable;
  relate4sortSet(relate, sort);
  Records out;
  int rc = relate4top(relate);
  *bitmap = relate->relation->hasBitmap != 0;
  while (rc == 0) {
    out.push_back(d4recNo(data));
    rc = relate4skip(relate, 1);
  }
  EXPECT_EQ(rc, r4eof);
  relate4free(relate, 0);
  return out;
}

class Queries : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = CreateItems(&c4_, dir_.File("items.dbf"));
    ASSERT_NE(data_, nullptr);
  }
  TempDir dir_;
  TestCode4 c4_;
  DATA4* data_ = nullptr;
};

// Each query walks exactly the records for which it is true, whether or
// not its comparisons became bitmaps; those with a tag and a constant do.
TEST_F(Queries, WalkEqualsEvaluation) {
  struct Case {
    const char* query;
    bool bitmap;
  };
  const Case cases[] = {
      {"NAME = 'Ba'", true},  // every name that begins with Ba
      {"NAME = 'Bar'", true},
      {"NAME > 'C'", true},   // a shorter constant: at least
      {"NAME >= 'C'", true},
      {"NAME < 'Ca'", true},
      {"NAME <= 'Ca'", true},
      {"NAME > 'Cat       '", true},  // as long as the key: above
      {"NAME = 'Catabcdefghij'", true},  // longer than the key: its first 10 bytes
      {"NAME < 'Catabcdefghij'", true},
      {"NAME > 'Catabcdefghij'", true},
      // The constant on the left: the operator seen from the field.
      {"'C' < NAME", true},
      {"'C' > NAME", true},
      {"'Ca' <= NAME", true},
      {"'Ca' >= NAME", true},
      {"'Do' = NAME", true},
      {"NAME # 'B'", true},
      {"NAME <> 'Ca' .AND. NAME >= 'C'", true},
      {"NAME >= 'C' .AND. NAME <= 'E'", true},
      {"NAME >= 'E' .AND. NAME <= 'C'", true},  // no record can pass
      {"NAME > 'B' .AND. NAME < 'Bar' .AND. NAME # 'Ba'", true},
      {"NAME = 'A' .OR. NAME = 'Do' .OR. NAME > 'Eve'", true},
      {"UPPER(NAME) = 'BO'", true},
      {"UPPER(NAME) >= 'BA' .AND. NAME < 'Bar'", true},
      {"VAL(CODE) > 500", true},
      {"500 >= VAL(CODE)", true},
      {"VAL(CODE) = 17 .OR. VAL(CODE) < 3", true},
      {"NAME > 'C' .AND. .NOT. DELETED() .AND. AMOUNT < 70", true},
      {"(NAME = 'Ca' .OR. AMOUNT > 50) .AND. VAL(CODE) < 600", true},
      // Not answered by a bitmap: a field no tag indexes, an alternative
      // without a tag, two fields, no constant.
      {"AMOUNT > 50", false},
      {"NAME = 'Ca' .OR. AMOUNT > 50", false},
      {"NAME = CODE", false},
      {"NAME = 'B' + 'a'", false},
      {"DELETED()", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const Records truth = Truth(data_, c.query);
    bool bitmap = false;
    EXPECT_EQ(Walk(data_, c.query, &bitmap), truth);
    EXPECT_EQ(bitmap, c.bitmap);
    // Without bitmaps every term is evaluated: the same records.
    EXPECT_EQ(Walk(data_, c.query, &bitmap, nullptr, 1), truth);
    EXPECT_FALSE(bitmap);
  }
  EXPECT_TRUE(c4_.reports.empty());
}

// The walk in a tag's order and a sorted walk keep to the query too.
TEST_F(Queries, OrderedWalks) {
  const char* query = "NAME >= 'Ca' .AND. VAL(CODE) < 700";
  Records truth = Truth(data_, query);
  bool bitmap = false;
  d4tagSelect(data_, d4tag(data_, "VCODE"));
  Records walked = Walk(data_, query, &bitmap);
  EXPECT_TRUE(bitmap);
  EXPECT_EQ(walked.size(), truth.size());
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, truth);
  d4tagSelect(data_, nullptr);
  walked = Walk(data_, query, &bitmap, "CODE");
  ASSERT_EQ(walked.size(), truth.size());
  for (size_t i = 1; i < walked.size(); i++) {
    d4go(data_, walked[i - 1]);
    std::string before = xbasetest::Trimmed(d4field(data_, "CODE"));
    d4go(data_, walked[i]);
    EXPECT_LE(before, xbasetest::Trimmed(d4field(data_, "CODE")));
  }
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, truth);
}

// The bitmap itself: the records of a range, marked directly or, for a
// range over most of the tag, by marking the rest and inverting.
TEST_F(Queries, BitmapsStandForTheirRanges) {
  for (const char* query : {"NAME = 'Ba'", "NAME > 'Ba'", "NAME # 'Ca'"}) {
    SCOPED_TRACE(query);
    RELATE4* relate = relate4init(data_);
    relate->relation->queryText = query;
    ASSERT_EQ(relate4top(relate), 0);
    RELATE4SET* set = relate->relation;
    ASSERT_TRUE(set->hasBitmap);
    const Records truth = Truth(data_, query);
    EXPECT_EQ(set->bitmap.numFlags, 401u);
    for (long rec = 1; rec <= 400; rec++) {
      // Deleted records are in the bitmap: only the tag's keys decide.
      bool in = std::find(truth.begin(), truth.end(), rec) != truth.end();
      EXPECT_EQ(relate4passes(set, rec) != 0, in) << rec;
    }
    relate4free(relate, 0);
  }
}

}  // namespace
