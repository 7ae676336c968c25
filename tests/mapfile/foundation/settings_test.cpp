// The parser-state snapshot, value negation and comparison of doubles.
#include <cfloat>
#include <cstring>

#include "mapfile/foundation/token.h"
#include "tests/mapfile/foundation/foundation_fixture.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class SettingsTest : public FoundationTest {};

TEST_F(SettingsTest, DoubleComparison) {
  struct Case {
    double a, b;
    int digits;  // -1: DoubleNearlyEqual
    bool equal;
  };
  for (Case c : {Case{0.1 + 0.2, 0.3, -1, true}, Case{1.0, 1.0000001, -1, false},
                 Case{0.75, 1.5, -1, false}, Case{1000.0, 1000.4, 2, true},
                 Case{1000.0, 1000.4, 4, false}, Case{0.0, 0.0, -1, true},
                 Case{0.0, 1e-300, -1, false}, Case{-2.0, 2.0, 0, false},
                 Case{1.0, 1.0 + 2 * DBL_EPSILON, -1, true}, Case{0.5, 0.54, 0, true},
                 Case{0.5, 0.55, 0, false}}) {
    bool got = c.digits < 0 ? DoubleNearlyEqual(c.a, c.b) : DoubleEqualDigits(c.a, c.b, c.digits);
    EXPECT_EQ(got, c.equal) << c.a << " " << c.b << " " << c.digits;
  }
}

TEST_F(SettingsTest, NegateKeepsIntegersAndMakesDoublesDecimal) {
  struct Case {
    Value in;
    uint8_t kind;
    double value;
    bool ok;
  };
  Value integer{}, smallest{}, small{}, floating{}, decimal{}, text{}, logical{};
  integer.kind = kValueInteger;
  integer.u.i = 5;
  smallest.kind = kValueInteger;
  smallest.u.i = INT32_MIN;
  small.kind = kValueSmallInt;
  small.u.s = -7;
  floating.kind = kValueFloat;
  floating.u.d = 1.5;
  decimal.kind = kValueDecimal;
  decimal.u.d = -2.25;
  char word[] = "x";
  text.kind = kValueText;
  text.u.p = word;
  logical.kind = kValueLogical;
  logical.u.b = 1;
  for (Case c : {Case{integer, kValueInteger, -5, true}, Case{small, kValueInteger, 7, true},
                 Case{smallest, kValueDecimal, 2147483648.0, true},
                 Case{floating, kValueDecimal, -1.5, true}, Case{decimal, kValueDecimal, 2.25, true},
                 Case{text, kValueInteger, 0, false}, Case{logical, kValueInteger, 0, false}}) {
    ErrorClear();
    Value out;
    std::memset(&out, 0x5A, sizeof out);
    EXPECT_EQ(ValueNegate(&out, &c.in) != 0, c.ok) << int(c.in.kind);
    EXPECT_EQ(out.kind, c.kind) << int(c.in.kind);
    EXPECT_EQ(c.kind == kValueInteger ? double(out.u.i) : out.u.d, c.value) << int(c.in.kind);
    EXPECT_EQ(ErrorHasCode(306), !c.ok) << int(c.in.kind);
  }
}

TEST_F(SettingsTest, SnapshotBracketsANestedRun) {
  ParserVariables& v = State().parser;
  int token = 0;
  v.inputSource = &token;
  v.inputWords[1] = 11;
  v.shortWords[0] = 3;
  v.tokenWords[2] = 42;
  std::strcpy(v.block.line, "select * from t");
  v.block.linePosition = 7;
  v.parseMode = 1;
  v.statementByte = 5;
  v.statementWord = 17;
  v.statementWords[13] = 99;
  ParserVariables before;
  std::memcpy(&before, &v, sizeof v);

  SettingsSnapshot outer;
  SettingsSnapshotSave(&outer);
  EXPECT_EQ(v.inputSource, nullptr);
  EXPECT_EQ(v.inputWords[1], 0);
  EXPECT_EQ(v.shortWords[0], 0);
  EXPECT_EQ(v.parseMode, 0);
  EXPECT_EQ(v.statementByte, 1);
  EXPECT_EQ(v.statementWord, 9999);
  EXPECT_EQ(v.statementWords[13], 0);
  EXPECT_EQ(v.tokenWords[2], 42);  // kept for the nested run
  EXPECT_STREQ(v.block.line, "select * from t");

  // A nested run changes everything, with a snapshot of its own inside.
  v.tokenWords[2] = 1;
  std::strcpy(v.block.line, "nested");
  v.parseMode = 2;
  SettingsSnapshot inner;
  SettingsSnapshotSave(&inner);
  v.statementWord = 5;
  SettingsSnapshotRestore(&inner);
  EXPECT_EQ(v.parseMode, 2);
  EXPECT_EQ(v.statementWord, 9999);

  SettingsSnapshotRestore(&outer);
  EXPECT_EQ(std::memcmp(&v, &before, sizeof v), 0);
  EXPECT_EQ(ParseMode(), 1);
}

// The use the snapshot exists for: a statement parsed while another one's
// parse is under way leaves the outer token stream where it was.
TEST_F(SettingsTest, NestedTokenStreamLeavesTheOuterOneIntact) {
  TokBeginText("alpha \"beta\" gamma");
  TokNext();
  ASSERT_TRUE(TokIs(kTokString));
  SettingsSnapshot outer;
  SettingsSnapshotSave(&outer);
  TokBeginText("\"nested text\" 42 other_words");
  while (TokCurrent()) TokNext();
  TokEnd();
  SettingsSnapshotRestore(&outer);
  ASSERT_NE(TokCurrent(), nullptr);
  EXPECT_EQ(TokCurrent()->kind, kValueBorrowedText);
  EXPECT_STREQ(static_cast<const char*>(TokCurrent()->u.p), "beta");
  EXPECT_STREQ(TokCurrentText(), "beta");
  TokNext();
  ASSERT_TRUE(TokIs(kTokIdentifier));
  EXPECT_STREQ(TokCurrentText(), "gamma");
  TokNext();
  EXPECT_EQ(TokCurrent(), nullptr);
  TokEnd();
}

}  // namespace
