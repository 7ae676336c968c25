#include <gtest/gtest.h>

#include <string>

#include "tests/xbase/query_fixture.h"
#include "xbase/bitmap4.h"
#include "xbase/e4state.h"
#include "xbase/relate4.h"

namespace {

using testsupport::TempDir;
using xbasetest::CreateItems;
using xbasetest::FieldList;
using xbasetest::TagList;
using xbasetest::TestCode4;

TEST(Query, TermsAndTheirRelations) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = CreateItems(&c4, dir.File("items.dbf"));
  ASSERT_NE(data, nullptr);
  RELATE4* relate = relate4init(data);
  RELATE4SET* set = relate->relation;
  // Without .AND. the whole query is one term, reading the master.
  QUERY4* one = query4create(set, "NAME = 'Ca' .OR. AMOUNT > 50");
  ASSERT_NE(one, nullptr);
  ASSERT_EQ(one->termCount, 1);
  const Q4LIST* list = one->entries[one->terms[0]].list;
  ASSERT_EQ(list->used, 1);
  EXPECT_EQ(list->relates[0], relate);
  query4free(one);

  // The term that reads no relation is tried first: it moves to the last
  // place; the relations of a term tried earlier leave the later ones.
  QUERY4* three = query4create(set, "NAME > 'C' .AND. .NOT. DELETED() .AND. AMOUNT < 70");
  ASSERT_NE(three, nullptr);
  ASSERT_EQ(three->termCount, 3);
  ASSERT_EQ(query4order(three), 0);
  auto row = [&](int term) { return three->expr->info[three->terms[term]].functionI; };
  EXPECT_EQ(v4functions[row(2)].code, E4CODE_NOT);
  EXPECT_EQ(v4functions[row(1)].code, E4CODE_LT);
  EXPECT_EQ(v4functions[row(0)].code, E4CODE_GT);
  EXPECT_EQ(three->entries[three->terms[2]].list->used, 0);
  EXPECT_EQ(three->entries[three->terms[1]].list->used, 1);
  EXPECT_EQ(three->entries[three->terms[0]].list->used, 0);
  // Each term still evaluates as itself.
  ASSERT_EQ(d4go(data, 5), 0);
  ASSERT_TRUE(d4deleted(data));
  EXPECT_EQ(query4test(three), 0);
  query4free(three);

  // A query must be logical.
  EXPECT_EQ(query4create(set, "NAME"), nullptr);
  EXPECT_EQ(c4.Last()->code, e4result);
  error4set(&c4, 0);
  relate4free(relate, 0);
}

// Tags whose keys do not order as their values compare are not matched.
TEST(Query, TagMatching) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("CODE", 'C', 4);
  TagList tags;
  tags.Add("FILTERED", "NAME", "CODE > '5'")
      .Add("PART", "SUBSTR(NAME,2,3)")
      .Add("TRIMMED", "TRIM(NAME)+CODE")
      .Add("CODE", "CODE", "", r4uniqueContinue)
      .Add("NAME", "NAME");
  DATA4* data = d4create(&c4, dir.File("t.dbf").c_str(), fields.get(), tags.get());
  ASSERT_NE(data, nullptr);
  struct Case {
    const char* text;
    const char* tag;  // null: none
  };
  const Case cases[] = {
      {"NAME", "NAME"},
      {"SUBSTR(NAME,2,3)", "PART"},
      {"SUBSTR(NAME,1,3)", nullptr},
      {"TRIM(NAME)+CODE", nullptr},
      {"CODE", nullptr},
      {"UPPER(NAME)", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPR4* expr = expr4parse(data, c.text);
    ASSERT_NE(expr, nullptr);
    TAG4* tag = t4matchExpr(data, expr, expr->infoN - 1);
    if (c.tag == nullptr) {
      EXPECT_EQ(tag, nullptr);
    } else {
      ASSERT_NE(tag, nullptr);
      EXPECT_STREQ(t4alias(tag), c.tag);
    }
    expr4free(expr);
  }
}

}  // namespace
