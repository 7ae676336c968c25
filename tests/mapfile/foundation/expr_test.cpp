// The expression compiler: byte code of the grammar's forms, precedence, the
// evaluator of constant code, and the errors of malformed text.
#include <cstring>
#include <string>

#include "foundation_fixture.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/token.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class ExprTest : public FoundationTest {
 protected:
  void TearDown() override {
    TokEnd();
    FoundationTest::TearDown();
  }

  // The code of a text as a listing: opcodes, constants in brackets, the
  // list tails as "27/2/20".
  static std::string Listing(const char* text, uint8_t* level = nullptr) {
    TokBeginText(text);
    uint8_t* code = nullptr;
    uint8_t lv = 0;
    if (!ExprParse(&code, &lv)) return "error";
    if (level) *level = lv;
    std::string out;
    for (const uint8_t* p = code;;) {
      const uint8_t* at = p;
      uint8_t cls = 0;
      uint16_t offset = 0;
      int op = ExprNextOp(&p, &cls, &offset);
      if (!out.empty()) out += ' ';
      if (op == 241) {
        if (cls == 2) {
          double d;
          std::memcpy(&d, code + offset, 8);
          char b[32];
          std::snprintf(b, sizeof b, "%g", d);
          out += b;
        } else {
          out += std::to_string(cls) + ":" + reinterpret_cast<const char*>(code + offset);
        }
      } else if (op == 27 || op == 28) {
        out += std::to_string(op) + "/" + std::to_string(at[1]) + "/" + std::to_string(at[2]);
      } else {
        out += std::to_string(op);
      }
      if (op == 0) break;
    }
    MemFreePtr(&code);
    return out;
  }
};

TEST_F(ExprTest, ByteCodeOfTheGrammar) {
  const struct {
    const char* text;
    const char* code;
  } cases[] = {
      {"1 + 2 * 3", "1 2 3 14 12 0"},
      {"(1 + 2) * 3", "1 2 12 3 14 0"},
      {"1 - 2 - 3", "1 2 13 3 13 0"},
      {"-2 ^ 2", "2 2 30 16 0"},
      {"2 ^ -1", "2 1 16 30 0"},
      {"a or b and not c", "24:a 24:b 24:c 19 18 17 0"},
      {"not not a", "24:a 19 19 0"},
      {"a = 1 and b <> \"x\"", "24:a 1 20 24:b 10:x 21 18 0"},
      {"a & b mod 2 \\ 3", "24:a 24:b 2 11 3 10 37 0"},
      {"x in (1, 2)", "24:x 1 2 27/2/20 0"},
      {"x not in (1, 2, 3)", "24:x 1 2 3 28/3/21 0"},
      {"x >= any (1)", "24:x 1 27/1/23 0"},
      {"x < all (1, 2)", "24:x 1 2 28/2/24 0"},
      {"x between 1 and 2", "24:x 1 2 26 0"},
      {"n like \"a%\"", "24:n 10:a% 10: 36 0"},
      {"n not like \"a%\" escape \"\\\"", "24:n 10:a% 10:\\ 36 19 0"},
      {"g contains entire h", "24:g 24:h 34 0"},
      {"g contains part h", "24:g 24:h 33 0"},
      {"g entirely within h", "24:g 24:h 35 0"},
      {"g partly within h", "24:g 24:h 33 0"},
      {"t.c + t.col(2)", "24:t.c 24:t.COL2 12 0"},
      {"+5", "5 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Listing(c.text), c.code) << c.text;
  EXPECT_EQ(ErrorCount(), 0);
  uint8_t level = 0;
  Listing("1", &level);
  EXPECT_EQ(level, 2);
  Listing("a", &level);
  EXPECT_EQ(level, 5);
}

TEST_F(ExprTest, MalformedText) {
  const struct {
    const char* text;
    int code;
  } cases[] = {
      {"1 +", 615},          {"(1", 615},        {"x in 1", 615},     {"x between 1 2", 615},
      {"t.col(a)", 676},     {"t.col(\"x\")", 677}, {"t.col(1 + 1)", 677}, {"x not 3", 615},   {")", 615},
  };
  for (const auto& c : cases) {
    ErrorClear();
    EXPECT_EQ(Listing(c.text), "error") << c.text;
    EXPECT_TRUE(ErrorHasCode(uint16_t(c.code))) << c.text;
  }
}

TEST_F(ExprTest, LimitsOfCodeAndLists) {
  std::string list = "x in (1";
  for (int i = 1; i < 255; ++i) list += ",1";
  list += ")";
  EXPECT_EQ(Listing(list.c_str()), "error");
  EXPECT_TRUE(ErrorHasCode(575));
  ErrorClear();
  std::string ok = "x in (1";
  for (int i = 1; i < 100; ++i) ok += ",1";
  ok += ")";
  EXPECT_NE(Listing(ok.c_str()), "error");
  std::string sum = "1";
  for (int i = 0; i < 130; ++i) sum += " + 1";  // 5 code bytes each
  EXPECT_EQ(Listing(sum.c_str()), "error");
  EXPECT_TRUE(ErrorHasCode(965));
}

// Nesting is bounded before it can exhaust the stack; moderate nesting is fine.
TEST_F(ExprTest, DeepNestingIsRefused) {
  const std::string deep[] = {std::string(100000, '(') + "1", std::string(400, '-') + "1",
                              std::string(150, '(') + "1",
                              [] {
                                std::string t;
                                for (int i = 0; i < 400; ++i) t += "not ";
                                return t + "a";
                              }()};
  for (const std::string& text : deep) {
    ErrorClear();
    EXPECT_EQ(Listing(text.c_str()), "error") << text.substr(0, 20);
    EXPECT_TRUE(ErrorHasCode(965)) << text.substr(0, 20);
  }
  ErrorClear();
  std::string fine = std::string(60, '(') + "1" + std::string(60, ')');
  EXPECT_EQ(Listing(fine.c_str()), "1 0");
  std::string list = "x in ((((1))), -(-(2)))";
  EXPECT_EQ(Listing(list.c_str()), "24:x 1 2 16 16 27/2/20 0");
}

// A fatal error trapped inside the compile of name.col(n) unwinds through the
// nested compile state; the next parse starts from a clean one.
TEST_F(ExprTest, TrapInsideANestedCompile) {
  TrapToggle(1);
  int16_t result = RunGuarded(int16_t(0), []() -> int16_t {
    TokBeginText("t.col(1 + \"open");
    uint8_t* code = nullptr;
    uint8_t level = 0;
    return ExprParse(&code, &level);
  });
  TrapToggle(1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ErrorLastCode(), 385);
  EXPECT_TRUE(ErrorHasCode(479));
  ErrorClear();
  EXPECT_EQ(Listing("t.col(2) + 1"), "24:t.COL2 1 12 0");
  EXPECT_EQ(ErrorCount(), 0);
}

// Code handed to the evaluator may push more constants than its stack holds.
TEST_F(ExprTest, EvaluatorStackIsBounded) {
  for (int count : {100, 200}) {
    ErrorClear();
    std::string code;
    const uint16_t constant = uint16_t(count * 4 + 1);
    for (int i = 0; i < count; ++i) {
      code += char(241);
      code += char(2);
      code += char(constant & 0xFF);
      code += char(constant >> 8);
    }
    code += '\0';
    double one = 1.0;
    code.append(reinterpret_cast<const char*>(&one), sizeof one);
    Value v{};
    int16_t ok = ExprEvaluate(reinterpret_cast<const uint8_t*>(code.data()), &v);
    EXPECT_EQ(ok != 0, count == 100) << count;
    EXPECT_EQ(ErrorHasCode(966), count == 200) << count;
    ValueFree(&v);
  }
}

TEST_F(ExprTest, EvaluateConstants) {
  Value v{};
  TokBeginText("-5");
  ASSERT_TRUE(ExprParseEvaluate(&v, 0));
  EXPECT_EQ(v.kind, kValueDecimal);
  EXPECT_EQ(v.u.d, -5.0);
  TokBeginText("\"abc\"");
  ASSERT_TRUE(ExprParseEvaluate(&v, 0));
  EXPECT_EQ(v.kind, kValueText);
  EXPECT_STREQ(static_cast<const char*>(v.u.p), "abc");
  ValueFree(&v);
  TokBeginText("-\"abc\"");
  EXPECT_FALSE(ExprParseEvaluate(&v, 0));
  EXPECT_TRUE(ErrorHasCode(306));
  EXPECT_EQ(v.kind, kValueLogical);
  EXPECT_EQ(v.u.b, 0);
  TokBeginText("1 + 2");  // operators are evaluated by the statement code
  EXPECT_FALSE(ExprParseEvaluate(&v, 0));
  // code without operands is true
  uint8_t empty[10] = {};
  ASSERT_TRUE(ExprEvaluate(empty, &v));
  EXPECT_EQ(v.kind, kValueLogical);
  EXPECT_EQ(v.u.b, 1);
}

TEST_F(ExprTest, ColumnReferencesAndEquality) {
  TokBeginText("abcd");
  uint8_t *a = nullptr, *b = nullptr, *c = nullptr;
  uint8_t level = 0;
  ASSERT_TRUE(ExprParse(&a, &level));
  uint32_t column = 0;
  uint8_t extra = 9;
  EXPECT_TRUE(ExprIsColumnRef(a, &column, &extra));
  EXPECT_EQ(std::memcmp(&column, "abcd", 4), 0);
  EXPECT_EQ(extra, 0);
  TokBeginText("abcd + 0");
  ASSERT_TRUE(ExprParse(&b, &level));
  EXPECT_FALSE(ExprIsColumnRef(b, &column, &extra));
  TokBeginText("abcd");
  ASSERT_TRUE(ExprParse(&c, &level));
  EXPECT_TRUE(ExprEqual(a, c));
  EXPECT_FALSE(ExprEqual(a, b));
  EXPECT_TRUE(ExprEqual(a, nullptr));
  EXPECT_FALSE(ExprUsesColumn(a, column));  // a name, not a resolved column
  MemFreePtr(&a);
  MemFreePtr(&b);
  MemFreePtr(&c);
}

TEST_F(ExprTest, ParseModes) {
  SetParseMode(1);
  TokBeginText("1 +");
  uint8_t* code = nullptr;
  uint8_t level = 0;
  EXPECT_TRUE(ExprParse(&code, &level));
  EXPECT_EQ(code, nullptr);
  SetParseMode(2);
  ASSERT_TRUE(ExprParse(&code, &level));
  EXPECT_EQ(code[0], 0);
  MemFreePtr(&code);
}

}  // namespace
}  // namespace mapfiletest
