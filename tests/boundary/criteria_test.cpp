#include "boundary/criteria.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
  const char* text;
  bool valid;
  const char* field;
  uint32_t op;
  const char* value;
  char type;
  int32_t integer;
  double decimal;
  bool wildCard;
  const char* error;
};

TEST(CriteriaTest, Grammar) {
  const ParseCase cases[] = {
      {"POP > 1000", true, "POP", Criteria::kGreater, "1000", 'N', 1000, 1000, false, ""},
      {"  POP>=1,000  ", true, "POP", Criteria::kGreaterEqual, "1000", 'N', 1000, 1000, false, ""},
      {"RATE <= 1.5", true, "RATE", Criteria::kLessEqual, "1.5", 'N', 1, 1.5, false, ""},
      {"X <> -3", true, "X", Criteria::kNotEqual, "-3", 'N', -3, -3, false, ""},
      {"NAME = 'Ash*'", true, "NAME", Criteria::kEqual, "Ash", 'C', -9999, -9999, true, ""},
      {"NAME = ' St. Louis '", true, "NAME", Criteria::kEqual, "St. Louis", 'C', -9999, -9999,
       false, ""},
      {"NAME <> 'a,b'", true, "NAME", Criteria::kNotEqual, "a,b", 'C', -9999, -9999, false, ""},
      {"CODE in ('a', 'b c')", true, "CODE", Criteria::kIn, "|A||B C|", 'C', -9999, -9999, false,
       ""},
      {"CODE IN ('St. A', 'b')", true, "CODE", Criteria::kIn, "|ST. A||B|", 'C', -9999, -9999,
       false, ""},
      {"ZIP IN (27514, 27516)", true, "ZIP", Criteria::kIn, "|27514||27516|", 'N', 27514, 27514,
       false, ""},
      {"R IN (1.5, 2)", true, "R", Criteria::kIn, "1.5, 2", 'N', 1, 1.5, false, ""},
      {"V = -9999", true, "V", Criteria::kEqual, "-9999", 'C', -9999, -9999, false, ""},
      {"POP", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid operator. Oper: None found."},
      {"POP 5", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid operator. Oper: None found."},
      {"POP => 5", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid operator. Oper: =>"},
      {"POP <>= 5", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid operator. Oper: <>="},
      {"5 > POP", false, "", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"POP > 5;", false, "", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"POP > 5 # 6", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"NAME = 'Ash", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"NAME = 'a''", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"NAME > 'Ash'", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. Alpha values are not valid for this operator."},
      {"NAME = 'A*s*'", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. Only one wild card is valid."},
      {"NAME = 'A*s'", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. Wild cards are only valid as the last character."},
      {"NAME <> 'As*'", false, "NAME", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid operator. Wild cards are only valid with the equals operator."},
      {"POP = 12*", false, "POP", Criteria::kNotValid, "", 'C', -9999, -9999, false,
       "Invalid value. A bad token was found."},
      {"POP = 12*)", false, "POP", Criteria::kNotValid, "", 'N', 12, 12, true,
       "Invalid value. Cannot wild card numeric values."},
      {"", false, "", Criteria::kNotValid, "", 'C', -9999, -9999, false, ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    Criteria criteria(c.text);
    EXPECT_EQ(criteria.IsValid(), c.valid);
    EXPECT_STREQ(criteria.GetErrorText(), c.error);
    EXPECT_EQ(criteria.GetOperator(), c.op);
    if (!c.valid) continue;
    EXPECT_STREQ(criteria.GetFieldName(), c.field);
    EXPECT_EQ(criteria.GetValueText(), c.value);
    EXPECT_EQ(criteria.GetValueType(), c.type);
    EXPECT_EQ(criteria.GetIntegerValue(), c.integer);
    EXPECT_EQ(criteria.GetDoubleValue(), c.decimal);
    EXPECT_EQ(criteria.HasWildCard(), c.wildCard);
  }
  Criteria null(nullptr);
  EXPECT_FALSE(null.IsValid());
  EXPECT_STREQ(null.GetErrorText(), "");
  // An operator too long to show with the message.
  Criteria longOperator(("A " + std::string(60, '<') + " 1").c_str());
  EXPECT_STREQ(longOperator.GetErrorText(), "Invalid operator.");
}

struct EvalCase {
  const char* criteria;
  const char* value;
  char type;
  bool passes;
};

TEST(CriteriaTest, Evaluation) {
  const EvalCase cases[] = {
      {"POP > 1000", "1001", 'N', true},
      {"POP > 1000", "1000", 'N', false},
      {"POP >= 1,000", "1000", 'N', true},
      {"POP < 10", "9.5", 'N', true},  // a decimal value: compared as a decimal
      {"POP <> 3", "3", 'N', false},
      {"X = 1.5", "1", 'N', false},  // not the leading integer 1
      {"X = 1.5", "1.50", 'N', true},
      {"X > 1.5", "2", 'N', true},
      {"X <= 1.5", "1", 'N', true},
      {"R IN (1.5, 2)", "2", 'N', true},
      {"R IN (1.5, 2)", "1.5", 'N', true},
      {"R IN (1.5, 2)", "1", 'N', false},
      {"ZIP IN (27514, 27516)", "27516", 'N', true},
      {"ZIP IN (27514, 27516)", "27515", 'N', false},
      {"ZIP IN (27514, 27516)", "27514.00", 'N', true},
      {"V = -9999", "-9999", 'N', false},  // -9999 matches no number
      {"V = -9999", "-9999.0", 'N', false},
      {"NAME = 'Ash*'", "ASHE", 'C', true},
      {"NAME = 'Ash*'", "as", 'C', false},
      {"NAME = 'Ashe'", "ashe", 'C', true},
      {"NAME = 'Ashe'", "Ashes", 'C', false},
      {"NAME <> 'Ashe'", "Wake", 'C', true},
      {"CODE IN ('a', 'b c')", "B C", 'C', true},
      {"CODE IN ('a', 'b c')", "b", 'C', false},
      {"NAME = 'Ashe'", "Ashe", 'N', false},
      {"POP > 5", "7", 'L', false},
      {"POP > 5", "7", 'C', false},  // a number operator on a text
      {"POP", "7", 'N', false},      // not valid: nothing passes
  };
  for (const EvalCase& c : cases) {
    Criteria criteria(c.criteria);
    EXPECT_EQ(criteria.Evaluate(c.value, c.type), c.passes)
        << c.criteria << " with " << c.value << " (" << c.type << ")";
  }
  Criteria decimal("X >= 2.25");
  EXPECT_TRUE(decimal.EvaluateNumber(2.25));
  EXPECT_FALSE(decimal.EvaluateNumber(2.2));
  EXPECT_FALSE(Criteria("X = -9999").EvaluateNumber(-9999));
}

TEST(CriteriaTest, NumbersReadTheSameEverywhere) {
  EXPECT_EQ(CriteriaLeadingInteger("  -12abc"), -12);
  EXPECT_EQ(CriteriaLeadingInteger("x"), 0);
  EXPECT_EQ(CriteriaDecimal(" +1.25e1x"), 12.5);
  EXPECT_EQ(CriteriaDecimal("-.5"), -0.5);
  EXPECT_EQ(CriteriaDecimal("1,5"), 1.0);  // a comma is no decimal point
  EXPECT_EQ(CriteriaDecimal(""), 0.0);
}

}  // namespace
