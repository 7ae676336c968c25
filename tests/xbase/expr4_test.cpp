#include "xbase/expr4.h"
#include "xbase/memo4.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/xbase/expr4_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::CapturingEnv;
using xbasetest::Listing;
using xbasetest::Shown;
using xbasetest::TestCode4;

class Expressions : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.fixedNow = 946728000 + 3600;  // 2000-01-01 13:00:00
    dir_.Write("all.dbf", xbasetest::AllTypesTable());
    data_ = d4open(&c4_, dir_.File("all").c_str());
    ASSERT_NE(data_, nullptr);
    ASSERT_EQ(d4top(data_), 0);
  }
  void TearDown() override {
    for (EXPR4* e : compiled_) expr4free(e);
    if (data_) d4close(data_);
  }
  EXPR4* Parse(const std::string& text, TFILE4* tag = nullptr) {
    EXPR4* e = expr4parse(data_, text.c_str(), tag);
    if (e) compiled_.push_back(e);
    return e;
  }
  std::string Value(EXPR4* e) {
    char* result = nullptr;
    int length = expr4vary(e, &result);
    if (length < 0) return "<failed>";
    return Shown(e->type, result, length);
  }
  // The memo contents a handle holds, as an assignment leaves them.
  void SetMemo(const char* text) {
    FIELD4* field = d4field(data_, "NOTE");
    ASSERT_EQ(f4memoAssignN(field, text, unsigned(std::strlen(text))), 0);
    d4changed(data_, 0);  // the fixture's record is never written back
  }

  CapturingEnv env_;
  TempDir dir_;
  TestCode4 c4_;
  DATA4* data_ = nullptr;
  std::vector<EXPR4*> compiled_;
};

struct Case {
  const char* source;
  const char* postfix;
  char type;
  int length;
  const char* value;
};

// Source -> postfix program -> value over record 1, one row per function and
// operator the language has examples for.
const Case kCases[] = {
    // fields and grouping
    {"NAME", "NAME", 'C', 10, "Smith     "},
    {"UPPER(NAME)+DTOS(BIRTH)", "NAME#3 UPPER BIRTH DTOS +", 'C', 18, "SMITH     20000101"},
    {"NAME+LAST+CODE", "NAME#3 LAST#3 + CODE#3 +", 'C', 19, "Smith     JonesAB  "},
    {"FLAG .AND. NOFLAG .AND. FLAG", "FLAG NOFLAG FLAG .AND.(3)", 'L', 4, "F"},
    {"FLAG .and. NOFLAG .OR. FLAG", "FLAG NOFLAG .AND. FLAG .OR.", 'L', 4, "T"},
    {"FLAG.OR.NOFLAG.OR.NOFLAG.OR.FLAG", "FLAG NOFLAG NOFLAG FLAG .OR.(4)", 'L', 4, "T"},
    {".NOT. NAME = LAST", "NAME LAST = .NOT.", 'L', 4, "T"},
    {"!DELETED()", "DELETED !", 'L', 4, "T"},
    {"2**3^2", "2 3 ** 2 ^", 'n', 8, "64"},
    {"2+3*4", "2 3 4 * +", 'n', 8, "14"},
    {"(2+3)*4", "2 3 + 4 *", 'n', 8, "20"},
    {"NAME)LAST", "NAME", 'C', 10, "Smith     "},
    {"-5", "-5", 'n', 8, "-5"},
    {"+.5", "0.5", 'n', 8, "0.5"},
    {"POP>12.and.3<POP", "POP#8 12 > 3 POP#8 < .AND.", 'L', 4, "T"},
    {".T. .AND. .TRUE. .AND. !.F. .AND. !.FALSE.", ".T. .TRUE. .F. ! .FALSE. ! .AND.(4)", 'L', 4, "T"},
    // conversions of field values
    {"POP = 12345", "POP#8 12345 =", 'L', 4, "T"},
    {"BIRTH + 3", "BIRTH#6 3 +", 'd', 8, "20000104"},
    {"3 + BIRTH", "3 BIRTH#6 +", 'd', 8, "20000104"},
    {"BIRTH - 1", "BIRTH#6 1 -", 'd', 8, "19991231"},
    {"BIRTH - STOD('19991201')", "BIRTH#6 '19991201' STOD -", 'n', 8, "31"},
    {"COUNT + 1", "COUNT#17 1 +", 'n', 8, "-6"},
    {"CUR > 12", "CUR#18 12 >", 'L', 4, "T"},
    {"CUR * 2", "CUR#18 2 *", 'n', 8, "25"},
    {"DBL / 2", "DBL 2 /", 'n', 8, "1.25"},
    {"AMT", "AMT", 'N', 8, "  -12.50"},
    {"BIRTH", "BIRTH", 'D', 8, "20000101"},
    // blank dates and division by zero
    {"DTOS(EMPTYD + 3)", "EMPTYD#6 3 + DTOS", 'C', 8, "        "},
    {"BIRTH - EMPTYD", "BIRTH#6 EMPTYD#6 -", 'n', 8, "0"},
    {"POP / 0", "POP#8 0 /", 'n', 8, "0"},
    // comparisons of texts over the shorter length
    {"'ABC' = 'AB'", "'ABC' 'AB' =", 'L', 4, "T"},
    {"'AB' = 'ABC'", "'AB' 'ABC' =", 'L', 4, "T"},
    {"'AB' < 'ABC'", "'AB' 'ABC' <", 'L', 4, "T"},
    {"'ABC' < 'AB'", "'ABC' 'AB' <", 'L', 4, "F"},
    {"'AB' >= 'ABC'", "'AB' 'ABC' >=", 'L', 4, "T"},
    {"'AB' => 'ABD'", "'AB' 'ABD' =>", 'L', 4, "T"},
    {"'ABC' > 'AB'", "'ABC' 'AB' >", 'L', 4, "T"},
    {"'AB' > 'ABC'", "'AB' 'ABC' >", 'L', 4, "F"},
    {"'AB' <= 'AC'", "'AB' 'AC' <=", 'L', 4, "T"},
    {"'AC' =< 'AB'", "'AC' 'AB' =<", 'L', 4, "F"},
    {"NAME <> LAST", "NAME LAST <>", 'L', 4, "T"},
    {"NAME # 'Smi'", "NAME 'Smi' #", 'L', 4, "F"},
    {"[mi] $ NAME", "'mi' NAME $", 'L', 4, "T"},
    {"\"xy\" $ NAME", "'xy' NAME $", 'L', 4, "F"},
    {"FLAG = NOFLAG", "FLAG NOFLAG =", 'L', 4, "F"},
    {"FLAG # NOFLAG", "FLAG NOFLAG #", 'L', 4, "T"},
    {"BIRTH >= STOD('20000101')", "BIRTH#6 '20000101' STOD >=", 'L', 4, "T"},
    {"STAMP = DATETIME(2000, 1, 1, 12)", "STAMP 2000 1 1 DATETIME =", 'L', 4, "T"},
    {"STAMP < DATETIME(2000, 1, 1, 12, 0, 1)", "STAMP 2000 1 1 DATETIME <", 'L', 4, "T"},
    {"0 * -1 = 0", "0 -1 * 0 =", 'L', 4, "T"},
    // text functions
    {"CHR(65)", "65 CHR", 'C', 1, "A"},
    {"DEL()", "DEL", 'C', 1, " "},
    {"STR(POP)", "POP#8 STR", 'C', 10, "     12345"},
    {"STR(AMT, 7, 1)", "AMT#8 STR", 'C', 7, "  -12.5"},
    {"STR(DBL, 5, 4)", "DBL STR", 'C', 5, "2.500"},
    {"STR(POP, 3)", "POP#8 STR", 'C', 3, "***"},
    {"STR(WIDE)", "WIDE STR", 'C', 8, "A\\x82      "},
    {"STRZERO(12, 5)", "12 STRZERO", 'C', 5, "00012"},
    {"STRZERO(12.5, 6)", "12.5 STRZERO", 'C', 6, "0012.5"},
    {"STRZERO(123456, 3)", "123456 STRZERO", 'C', 3, "***"},
    {"STRZERO(-12, 7)", "-12 STRZERO", 'C', 7, "0000-12"},
    {"SUBSTR(NAME, 2, 3)", "NAME#3 SUBSTR", 'C', 3, "mit"},
    {"SUBSTR(LAST, 2)", "LAST#3 SUBSTR", 'C', 4, "ones"},
    {"SUBSTR(UPPER(LAST), 4)", "LAST#3 UPPER SUBSTR", 'C', 2, "ES"},
    {"SUBSTR(LAST, 4, 10)", "LAST#3 SUBSTR", 'C', 2, "es"},
    // constants at the ends of the integer range
    {"SUBSTR(LAST, -99999999999, 2)", "LAST#3 SUBSTR", 'C', 2, "Jo"},
    {"STR(DBL, 5, 99999999999)", "DBL STR", 'C', 5, "2.500"},
    {"LEFT(NAME, 2)", "NAME#3 LEFT", 'C', 2, "Sm"},
    {"RIGHT(LAST, 3)", "LAST#3 RIGHT", 'C', 3, "nes"},
    {"RIGHT(UPPER(LAST), 2)", "LAST#3 UPPER RIGHT", 'C', 2, "ES"},
    {"RIGHT(LAST, 9)", "LAST#3 RIGHT", 'C', 5, "Jones"},
    {"UPPER(NAME)", "NAME#3 UPPER", 'C', 10, "SMITH     "},
    {"TRIM(CODE)+'C'", "CODE#3 TRIM 'C' +", 'C', 5, "ABC\\x00\\x00"},
    {"CODE+'C'", "CODE#3 'C' +", 'C', 5, "AB  C"},
    {"CODE-'C'", "CODE#3 'C' -", 'C', 5, "ABC  "},
    {"LTRIM('  ab')", "'  ab' LTRIM", 'C', 4, "ab\\x00\\x00"},
    {"ALLTRIM('  ab  ')", "'  ab  ' ALLTRIM", 'C', 6, "ab\\x00\\x00\\x00\\x00"},
    {"PADL(LAST, 7)", "LAST#3 PADL", 'C', 7, "  Jones"},
    {"PADR(LAST, 7)", "LAST#3 PADR", 'C', 7, "Jones  "},
    {"PADL(TRIM(CODE), 4)", "CODE#3 TRIM PADL", 'C', 4, "  AB"},
    {"PADR(TRIM(CODE), 3)", "CODE#3 TRIM PADR", 'C', 3, "AB "},
    {"IIF(FLAG, 'yes', 'no')", "FLAG 'yes' 'no' IIF", 'C', 3, "yes"},
    {"IIF(NOFLAG, 'yes', 'no')", "NOFLAG 'yes' 'no' IIF", 'C', 3, "no "},
    {"IIF(NOFLAG, 1, POP)", "NOFLAG 1 POP#8 IIF", 'n', 8, "12345"},
    {"IIF(FLAG, BIRTH, EMPTYD)", "FLAG BIRTH#6 EMPTYD#6 IIF", 'd', 8, "20000101"},
    {"IIF(FLAG, NOFLAG, FLAG)", "FLAG NOFLAG FLAG IIF", 'L', 4, "F"},
    {"DTOS(BLANKD)", "BLANKD DTOS", 'C', 8, "        "},
    {"DTOS(BIRTH + 31)", "BIRTH#6 31 + DTOS", 'C', 8, "20000201"},
    {"DTOC(BIRTH)", "BIRTH DTOC", 'C', 8, "01/01/00"},
    {"DTOC(BIRTH + 1)", "BIRTH#6 1 + DTOC", 'C', 8, "01/02/00"},
    {"DTOC(BIRTH, 1)", "BIRTH DTOS", 'C', 8, "20000101"},
    {"L2BIN(258)", "258 L2BIN", 'C', 4, "\\x02\\x01\\x00\\x00"},
    {"TIME()", "TIME", 'C', 8, "13:00:00"},
    // dates and numbers
    {"DTOS(STOD('20000102'))", "'20000102' STOD DTOS", 'C', 8, "20000102"},
    {"CTOD('02/03/00')", "'02/03/00' CTOD", 'd', 8, "20000203"},
    {"DATE()", "DATE", 'd', 8, "20000101"},
    {"DAY(BIRTH + 40)", "BIRTH#6 40 + DAY", 'n', 8, "10"},
    {"MONTH(BIRTH)", "BIRTH MONTH", 'n', 8, "1"},
    {"YEAR(BIRTH)", "BIRTH YEAR", 'n', 8, "2000"},
    {"DELETED()", "DELETED", 'L', 4, "F"},
    {"RECCOUNT()", "RECCOUNT", 'n', 8, "2"},
    {"RECNO()", "RECNO", 'n', 8, "1"},
    {"VAL('  12.5')", "'  12.5' VAL", 'n', 8, "12.5"},
    {"VAL(STR(POP) )", "POP#8 STR VAL", 'n', 8, "12345"},
    {"DATETIME(2000, 1, 2)", "2000 1 2 DATETIME", 'T', 8, "5A68250000000000"},
    // key forms
    {"ASCEND(NAME)", "NAME#3 ASCEND", 'C', 10, "Smith     "},
    {"ASCEND(COUNT)", "COUNT ASCEND", 'C', 4, "\\x7F\\xFF\\xFF\\xF9"},
    {"ASCEND(SHORT)", "SHORT ASCEND", 'C', 4, "\\x7F\\xFF\\xFF\\xFD"},
    {"ASCEND(USHORT)", "USHORT ASCEND", 'C', 4, "\\x00\\x00\\xFF\\xFF"},
    {"ASCEND(UINT)", "UINT ASCEND", 'C', 4, "\\x00\\x00\\x00\\x07"},
    {"ASCEND(BIRTH)", "BIRTH ASCEND", 'C', 8, "20000101"},
    {"ASCEND(BIRTH + 1)", "BIRTH#6 1 + ASCEND", 'C', 8, "20000102"},
    {"ASCEND(FLAG)", "FLAG ASCEND", 'C', 1, "1"},
    {"ASCEND(AMT)", "AMT ASCEND", 'C', 8, ",,,+*.',"},
    {"ASCEND(CUR)", "CUR ASCEND", 'C', 8, "\\x80\\x00\\x00\\x00\\x00\\x01\\xE8H"},
    {"ASCEND(DBL)", "DBL ASCEND", 'C', 8, "\\xC0\\x04\\x00\\x00\\x00\\x00\\x00\\x00"},
    {"ASCEND(WIDE)", "WIDE#4 ASCEND", 'C', 8, "\\x00A\\x00\\xE9\\x00 \\x00 "},
    {"DESCEND(FLAG)", "FLAG DESCEND", 'C', 1, "\\xCE"},
    {"DESCEND(BIRTH)", "BIRTH#6 DESCEND", 'C', 8, "\\xCD\\xCF\\xCF\\xCF\\xCF\\xCE\\xCF\\xCE"},
    {"DESCEND(LAST)", "LAST#3 DESCEND", 'C', 5, "\\xB5\\x90\\x91\\x9A\\x8C"},
    // memo text (cut to the expression memo length with zero bytes)
    {"LEFT(NOTE, 7)", "NOTE LEFT", 'C', 7, "hello\\x00\\x00"},
    {"NOTE = 'hello'", "NOTE 'hello' =", 'L', 4, "T"},
};

TEST_F(Expressions, SourcePostfixAndValue) {
  SetMemo("hello");
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.source);
    EXPR4* e = Parse(c.source);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(Listing(e), c.postfix);
    EXPECT_EQ(char(e->type), c.type);
    EXPECT_EQ(e->len, c.length);
    EXPECT_EQ(Value(e), c.value);
  }
  EXPECT_TRUE(c4_.reports.empty());
}

TEST_F(Expressions, MemoTextLengthFollowsTheSetting) {
  SetMemo("hello");
  c4_.memSizeMemoExpr = 12;
  EXPR4* e = Parse("NOTE+'|'");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->len, 13);
  // The zero bytes of the memo move behind the constant (row 37).
  EXPECT_EQ(Value(e), "hello|\\x00\\x00\\x00\\x00\\x00\\x00\\x00");
}

TEST_F(Expressions, UpperUsesTheAnsiTableOnlyUnderCodePageThree) {
  dir_.Write("ansi.dbf", xbasetest::AllTypesTable(3));
  DATA4* ansi = d4open(&c4_, dir_.File("ansi").c_str());
  ASSERT_NE(ansi, nullptr);
  d4top(ansi);
  const char* text = "UPPER('\xE9t\xE9 \x9C\xFF')";
  EXPR4* e = expr4parse(ansi, text);
  ASSERT_NE(e, nullptr);
  char* r;
  ASSERT_EQ(expr4vary(e, &r), 6);
  EXPECT_EQ(std::string(r, 6), "\xC9T\xC9 \x8C\x9F");
  expr4free(e);
  EXPECT_EQ(Value(Parse(text)), "\\xE9T\\xE9 \\x9C\\xFF");
  d4close(ansi);
}

struct ErrorCase {
  const char* source;
  int code;
  long location;
};

TEST_F(Expressions, ParseErrors) {
  const ErrorCase cases[] = {
      {"", -490, 90098},
      {"UPPER(NAME", -400, 90097},
      {"UPPER(NAME,", -450, 90097},
      {"(NAME", -450, 90098},
      {"NAME +", -490, 90098},
      {"'abc", -500, 90098},
      {"[abc", -500, 90098},
      {"-NAME", -490, 90098},
      {"1.5E3", -210, 90299},
      {"NOSUCH", -210, 90299},
      {"ABCDEFGHIJK", -490, 90098},
      {"UPPERCASES(NAME)", -470, 90097},
      {"NAME ! LAST", -480, 90093},
      {"NAME LAST", -480, 90093},
      {"SUBSTR(NAME, POP)", -425, 90097},
      {"STR(POP, 2+3)", -425, 90097},
      {"UPPER(NAME, 2)", -430, 80022},
      {"IIF(FLAG, 1)", -430, 80022},
      {"NAME + POP", -460, 90089},
      {"NAME .AND. FLAG", -460, 90089},
      {"-FLAG + 1", -490, 90098},
      {"UPPER(POP)", -460, 90089},
      {"_NULLFLAGS", -460, 80017},
      {"NOALIAS->NAME", -420, 90098},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.source);
    c4_.reports.clear();
    error4set(&c4_, 0);
    EXPECT_EQ(Parse(c.source), nullptr);
    ASSERT_EQ(c4_.reports.size(), 1u);
    EXPECT_EQ(c4_.reports[0].code, c.code);
    EXPECT_EQ(c4_.reports[0].location, c.location);
  }
  error4set(&c4_, 0);
}

TEST_F(Expressions, ErrorReportsCarryTheExpression) {
  EXPECT_EQ(Parse("UPPER(NAME, 2)"), nullptr);
  ASSERT_EQ(c4_.reports.size(), 1u);
  EXPECT_EQ(c4_.reports[0].t1, "UPPER");
  EXPECT_EQ(c4_.reports[0].t2, "UPPER(NAME, 2)");
  error4set(&c4_, 0);
  c4_.reports.clear();
  // With the field-name switch off the parser reports the unknown field itself.
  c4_.fieldNameError = 0;
  EXPECT_EQ(Parse("NOSUCH + 1"), nullptr);
  ASSERT_EQ(c4_.reports.size(), 1u);
  EXPECT_EQ(c4_.reports[0].code, -210);
  EXPECT_EQ(c4_.reports[0].location, 90098);
  EXPECT_EQ(c4_.reports[0].t1, "NOSUCH + 1");
  error4set(&c4_, 0);
  c4_.reports.clear();
  // The expression-error switch off: every parser error is silent.
  c4_.exprError = 0;
  c4_.fieldNameError = 1;
  EXPECT_EQ(Parse("NOSUCH"), nullptr);
  EXPECT_EQ(Parse("UPPER(NAME"), nullptr);
  EXPECT_TRUE(c4_.reports.empty());
  EXPECT_EQ(c4_.errorCode, 0);
  EXPECT_EQ(c4_.fieldNameError, 1);
}

TEST_F(Expressions, StacksAndDepthAreBounded) {
  // Each level leaves three values pending: 22 in all, deeper than the
  // evaluation stack.
  auto nested = [](int levels) {
    std::string text;
    for (int i = 0; i < levels; i++) text += "IIF(FLAG, 1, 1 + ";
    return text + "1" + std::string(size_t(levels), ')');
  };
  EXPECT_EQ(Parse(nested(7)), nullptr);
  ASSERT_EQ(c4_.reports.size(), 1u);
  EXPECT_EQ(c4_.reports[0].code, -440);
  EXPECT_EQ(c4_.reports[0].location, 90089);
  error4set(&c4_, 0);
  c4_.reports.clear();
  // More than 32 pending operators and brackets.
  EXPECT_EQ(Parse(std::string(33, '(') + "NAME" + std::string(33, ')')), nullptr);
  ASSERT_EQ(c4_.reports.size(), 1u);
  EXPECT_EQ(c4_.reports[0].code, -920);
  EXPECT_EQ(c4_.reports[0].location, 90099);
  error4set(&c4_, 0);
  c4_.reports.clear();
  // A long run of negations is bounded by the same stack, never by the
  // program's own stack.
  for (const std::string& negation : {std::string("!"), std::string(".NOT.")}) {
    std::string run;
    for (int i = 0; i < 100000; i++) run += negation;
    EXPECT_EQ(Parse(run + "FLAG"), nullptr);
    ASSERT_EQ(c4_.reports.size(), 1u);
    EXPECT_EQ(c4_.reports[0].code, -920);
    EXPECT_EQ(c4_.reports[0].location, 90099);
    error4set(&c4_, 0);
    c4_.reports.clear();
  }
  EXPECT_EQ(Value(Parse(std::string(31, '!') + "FLAG")), "F");
  EXPR4* e = Parse(nested(6));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Value(e), "1");
  EXPECT_NE(Parse(std::string(32, '(') + "NAME" + std::string(32, ')')), nullptr);
}

TEST_F(Expressions, AliasesAndTags) {
  d4aliasSet(data_, "PEOPLE");
  c4_.singleOpen = 0;
  DATA4* other = d4open(&c4_, dir_.File("all").c_str());
  ASSERT_NE(other, nullptr);
  d4aliasSet(other, "OTHER");
  d4go(other, 2);
  EXPR4* own = Parse("PEOPLE.NAME + PEOPLE->LAST");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(Value(own), "Smith     Jones");
  EXPR4* cross = Parse("OTHER->NAME + other.NAME");
  ASSERT_NE(cross, nullptr);
  EXPECT_EQ(Value(cross), "Brown     Brown     ");
  EXPECT_EQ(cross->info[0].localData, 0);
  TFILE4 tag{};
  EXPECT_EQ(Parse("OTHER->NAME", &tag), nullptr);
  ASSERT_FALSE(c4_.reports.empty());
  EXPECT_EQ(c4_.reports.back().code, -510);
  EXPECT_EQ(c4_.reports.back().location, 80025);
  error4set(&c4_, 0);
  d4close(other);
}

TEST_F(Expressions, EntryPoints) {
  EXPR4* number = Parse("POP * 2");
  ASSERT_NE(number, nullptr);
  // A logical is asked of a number: reported, and the report's code answered.
  EXPECT_EQ(expr4true(number), -950);
  ASSERT_EQ(c4_.reports.size(), 1u);
  EXPECT_EQ(c4_.reports[0].location, 80021);
  EXPECT_EQ(c4_.reports[0].t1, "POP * 2");
  error4set(&c4_, 0);
  EXPECT_EQ(expr4true(Parse("FLAG .AND. POP > 1")), 1);
  EXPECT_EQ(expr4true(Parse("NOFLAG")), 0);
  EXPECT_DOUBLE_EQ(expr4double(number), 24690);
  EXPECT_DOUBLE_EQ(expr4double(Parse("AMT")), -12.5);
  EXPECT_DOUBLE_EQ(expr4double(Parse("'3.25'")), 3.25);
  EXPECT_DOUBLE_EQ(expr4double(Parse("BIRTH")), 2451545);
  EXPECT_DOUBLE_EQ(expr4double(Parse("BIRTH + 1")), 2451546);
  EXPECT_DOUBLE_EQ(expr4double(Parse("FLAG")), 0);
  EXPECT_EQ(expr4typeLen('D'), 8);
  EXPECT_EQ(expr4typeLen('R'), 4);
  EXPECT_EQ(expr4typeLen('L'), 1);
  EXPECT_EQ(expr4typeLen('C'), -2);
  EXPECT_STREQ(expr4source(number), "POP * 2");
  EXPECT_STREQ(expr4source(nullptr), "");

  // One sub-expression of a filter.
  EXPR4* filter = Parse("POP > 99999 .OR. NAME = 'Smith'");
  ASSERT_NE(filter, nullptr);
  void* part = nullptr;
  EXPECT_EQ(expr4execute(filter, 2, &part), 0);  // POP > 99999
  EXPECT_EQ(*static_cast<int32_t*>(part), 0);
  EXPECT_EQ(expr4execute(filter, 5, &part), 0);  // NAME = 'Smith'
  EXPECT_EQ(*static_cast<int32_t*>(part), 1);

  // Null arguments and a standing error.
  char* r = nullptr;
  EXPECT_EQ(expr4vary(number, nullptr), -1);
  EXPECT_EQ(c4_.reports.back().code, -935);
  EXPECT_EQ(c4_.reports.back().location, 90104);
  error4set(&c4_, 0);
  EXPECT_EQ(expr4vary(nullptr, &r), -1);
  EXPECT_EQ(expr4key(nullptr, &r, nullptr), -1);
  EXPECT_EQ(expr4parse(nullptr, "NAME"), nullptr);
  EXPECT_EQ(expr4parse(data_, nullptr), nullptr);
  EXPECT_EQ(c4_.reports.back().location, 90092);
  error4set(&c4_, -60);
  EXPECT_EQ(expr4vary(number, &r), -1);
  EXPECT_EQ(expr4true(Parse("FLAG")), -1);
  error4set(&c4_, 0);
}

TEST_F(Expressions, FollowsTheRecordAndAnotherHandle) {
  EXPR4* e = Parse("NAME + STR(RECNO(), 2) + IIF(DELETED(), '*', ' ')");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Value(e), "Smith      1 ");
  ASSERT_EQ(d4go(data_, 2), 0);
  EXPECT_EQ(Value(e), "Brown      2*");
  c4_.singleOpen = 0;
  DATA4* other = d4open(&c4_, dir_.File("all").c_str());
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(d4go(other, 1), 0);
  EXPECT_EQ(expr4context(e, other), 0);
  EXPECT_EQ(Value(e), "Smith      1 ");
  EXPECT_EQ(expr4context(e, data_), 0);
  EXPECT_EQ(Value(e), "Brown      2*");
  d4close(other);
  // A handle of another data file is refused.
  dir_.Write("ansi.dbf", xbasetest::AllTypesTable(3));
  DATA4* foreign = d4open(&c4_, dir_.File("ansi").c_str());
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(expr4context(e, foreign), -930);
  EXPECT_EQ(c4_.reports.back().location, 80024);
  error4set(&c4_, 0);
  d4close(foreign);
}

TEST_F(Expressions, Calcs) {
  EXPR4* doubled = expr4parse(data_, "POP * 2");
  ASSERT_NE(doubled, nullptr);
  EXPR4CALC* calc = expr4calcCreate(&c4_, doubled, "doublepop");
  ASSERT_NE(calc, nullptr);
  EXPECT_STREQ(calc->name, "DOUBLEPOP");
  EXPR4* e = Parse("DOUBLEPOP() + 1");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Listing(e), "DOUBLEPOP() 1 +");
  EXPECT_EQ(Value(e), "24691");
  EXPR4* name = expr4parse(data_, "TRIM(NAME)");
  ASSERT_NE(expr4calcCreate(&c4_, name, "SHORTNAME"), nullptr);
  // A calc's text keeps its zero bytes, so "+" moves them (row 37).
  EXPR4* joined = Parse("SHORTNAME() + '!'");
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(joined->info[2].functionI, 37);
  EXPECT_EQ(Value(joined), "Smith!\\x00\\x00\\x00\\x00\\x00");
  EXPECT_EQ(Parse("NOCALC()"), nullptr);
  EXPECT_EQ(c4_.reports.back().code, -470);
  error4set(&c4_, 0);
  EXPECT_EQ(Parse("DOUBLEPOP(1)"), nullptr);
  error4set(&c4_, 0);

  // A calc whose text names itself cannot be compiled without end.
  EXPR4CALC* first = expr4calcCreate(&c4_, expr4parse(data_, "1"), "LOOP");
  EXPR4* loop = expr4parse(data_, "LOOP() + 1");
  ASSERT_NE(loop, nullptr);
  ASSERT_NE(expr4calcCreate(&c4_, loop, "LOOP"), nullptr);
  expr4calcDelete(&c4_, first);
  EXPECT_EQ(Parse("LOOP()"), nullptr);
  error4set(&c4_, 0);
  EXPECT_EQ(expr4calcReset(&c4_), 0);
  EXPECT_EQ(c4_.calcList.numLinks, 0u);
  EXPECT_EQ(expr4calcReset(nullptr), -935);
}

// Random texts made of the language's pieces: each one either fails to
// compile with a report or compiles and evaluates; nothing is read or
// written outside its buffers (the sanitizer build checks).
TEST_F(Expressions, RandomTextsCompileOrFailCleanly) {
  SetMemo("memo text");
  const char* pieces[] = {"NAME", "LAST", "CODE", "POP", "AMT", "BIRTH", "EMPTYD", "FLAG", "CUR", "STAMP",
                          "COUNT", "DBL", "NOTE", "WIDE", "SHORT", "USHORT", "UINT", "NULLC", "UPPER(",
                          "SUBSTR(", "LEFT(", "RIGHT(", "PADL(", "PADR(", "STR(", "STRZERO(", "TRIM(",
                          "LTRIM(", "ALLTRIM(", "IIF(", "DTOS(", "DTOC(", "CTOD(", "STOD(", "VAL(", "CHR(",
                          "DESCEND(", "ASCEND(", "DATETIME(", "YEAR(", "L2BIN(", "DELETED()", "RECNO()",
                          "'ab '", "\"\"", "[x]", "0", "3", "-2", "12.5", "+", "-", "*", "/", "**", "=",
                          "<>", "<", ">=", "$", ".AND.", ".OR.", ".NOT.", "!", ".T.", "(", ")", ",", " "};
  std::mt19937 random(7);
  c4_.errorCallback = nullptr;
  c4_.offError = 1;
  int compiled = 0;
  for (int i = 0; i < 4000; i++) {
    std::string text;
    int count = 1 + int(random() % 12);
    for (int k = 0; k < count; k++) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    error4set(&c4_, 0);
    EXPR4* e = expr4parse(data_, text.c_str());
    if (e == nullptr) {
      EXPECT_NE(c4_.errorCode, 0) << text;
      continue;
    }
    compiled++;
    char* result;
    EXPECT_EQ(expr4vary(e, &result), e->len) << text;
    char* key;
    expr4key(e, &key, nullptr);
    expr4double(e);
    if (e->type == 'L') {
      EXPECT_GE(expr4true(e), 0) << text;
    }
    expr4free(e);
  }
  EXPECT_GT(compiled, 100);
  error4set(&c4_, 0);
}

// A random well-formed expression (its types need not agree).
std::string RandomExpression(std::mt19937& r, int depth) {
  static const char* leaves[] = {"NAME", "LAST", "CODE", "POP", "AMT", "BIRTH", "EMPTYD", "BLANKD", "FLAG",
                                 "NOFLAG", "CUR", "STAMP", "COUNT", "DBL", "NOTE", "WIDE", "SHORT", "USHORT",
                                 "UINT", "NULLC", "'ab '", "''", "0", "3", "-2", "12.5", ".T.", "DELETED()",
                                 "RECNO()", "DATE()", "DEL()"};
  static const char* operators[] = {"+", "-", "*", "/", "**", "=", "<>", "<", ">", ">=", "<=", "$", ".AND.", ".OR."};
  static const char* oneArgument[] = {"UPPER", "TRIM", "LTRIM", "ALLTRIM", "DTOS", "DTOC", "CTOD", "STOD",
                                      "VAL", "CHR", "DESCEND", "ASCEND", "YEAR", "DAY", "L2BIN", "STR", ".NOT."};
  static const char* withConstants[] = {"SUBSTR", "LEFT", "RIGHT", "PADL", "PADR", "STR", "STRZERO", "DTOC"};
  auto any = [&r](const auto& list) { return std::string(list[r() % (sizeof list / sizeof list[0])]); };
  auto number = [&r] { return std::to_string(int(r() % 25) - 3); };
  switch (depth > 4 ? 0 : r() % 6) {
    case 0:
    case 1:
      return any(leaves);
    case 2:
      return RandomExpression(r, depth + 1) + any(operators) + RandomExpression(r, depth + 1);
    case 3: {
      std::string f = any(oneArgument);
      return f == ".NOT." ? f + RandomExpression(r, depth + 1) : f + "(" + RandomExpression(r, depth + 1) + ")";
    }
    case 4:
      return any(withConstants) + "(" + RandomExpression(r, depth + 1) + "," + number() +
             (r() % 2 ? "," + number() : "") + ")";
    default:
      return r() % 2 ? "(" + RandomExpression(r, depth + 1) + ")"
                     : "IIF(" + RandomExpression(r, depth + 1) + "," + RandomExpression(r, depth + 1) + "," +
                           RandomExpression(r, depth + 1) + ")";
  }
}

// Random expressions over both records, with and without a collating or
// wide tag: whatever compiles evaluates to its compiled length and a key.
TEST_F(Expressions, RandomExpressionsEvaluateWithinTheirBuffers) {
  std::mt19937 random(11);
  c4_.errorCallback = nullptr;
  c4_.offError = 1;
  int compiled = 0;
  for (int i = 0; i < 3000; i++) {
    std::string text = RandomExpression(random, 0);
    error4set(&c4_, 0);
    ASSERT_EQ(d4go(data_, 1 + i % 2), 0);
    SetMemo(i % 3 ? "memo text" : "");
    TFILE4 tag{};
    tag.collateName = 1 + i % 3;
    tag.keyWide = i % 7 == 0;
    TFILE4* owner = i % 5 == 0 ? &tag : nullptr;
    EXPR4* e = expr4parse(data_, text.c_str(), owner);
    if (e == nullptr) continue;
    compiled++;
    char* result;
    EXPECT_EQ(expr4vary(e, &result), e->len) << text;
    char* key;
    EXPECT_EQ(expr4key(e, &key, owner), expr4keyLen(e)) << text;
    expr4free(e);
  }
  EXPECT_GT(compiled, 500);
  error4set(&c4_, 0);
}

// Evaluations from several threads (each with its own context and table)
// share one evaluation state behind one lock.
TEST(ExpressionLock, ThreadsEvaluateSafely) {
  TempDir dir;
  dir.Write("t.dbf", xbasetest::AllTypesTable());
  std::atomic<int> wrong{0};
  auto work = [&dir, &wrong](int index) {
    TestCode4 c4;
    std::string name = dir.File("t" + std::to_string(index) + ".dbf");
    std::filesystem::copy_file(dir.File("t.dbf"), name);
    DATA4* data = d4open(&c4, name.c_str());
    if (data == nullptr || d4top(data) != 0) {
      wrong++;
      return;
    }
    EXPR4* e = expr4parse(data, "UPPER(NAME) + STR(POP + RECNO(), 10)");
    for (int i = 0; i < 2000; i++) {
      d4go(data, 1 + i % 2);
      char* r;
      int n = expr4vary(e, &r);
      std::string expected = i % 2 ? "BROWN          12347" : "SMITH          12346";
      if (n != 20 || std::string(r, 20) != expected) wrong++;
    }
    expr4free(e);
    d4close(data);
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++) threads.emplace_back(work, i);
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---- keys ----

TEST_F(Expressions, KeysOfEveryResultType) {
  struct KeyCase {
    const char* source;
    int length;
    const char* key;
  } cases[] = {
      {"NAME", 10, "Smith     "},
      {"TRIM(CODE)+'C'", 5, "ABC  "},
      {"POP", 8, "\\xC0\\xC8\\x1C\\x80\\x00\\x00\\x00\\x00"},
      {"BIRTH", 8, "\\xC1B\\xB4,\\x80\\x00\\x00\\x00"},
      {"BIRTH + 1", 8, "\\xC1B\\xB4-\\x00\\x00\\x00\\x00"},
      {"FLAG", 1, "T"},
      {"NOFLAG", 1, "F"},
      {"COUNT", 4, "\\x7F\\xFF\\xFF\\xF9"},
      {"SHORT", 4, "\\x7F\\xFF\\xFF\\xFD"},
      {"USHORT", 4, "\\x00\\x00\\xFF\\xFF"},
      {"UINT", 4, "\\x00\\x00\\x00\\x07"},
      {"CUR", 8, "\\x80\\x00\\x00\\x00\\x00\\x01\\xE8H"},
      {"STAMP", 8, "\\xC1B\\xB4,\\xC0\\x00\\x00\\x00"},
      {"DBL", 8, "\\xC0\\x04\\x00\\x00\\x00\\x00\\x00\\x00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPR4* e = Parse(c.source);
    ASSERT_NE(e, nullptr);
    char* key = nullptr;
    int n = expr4key(e, &key, nullptr);
    EXPECT_EQ(n, c.length);
    EXPECT_EQ(expr4keyLen(e), c.length);
    EXPECT_EQ(Shown('C', key, n), c.key);
    EXPECT_EQ(key[n], 0);
  }
}

TEST_F(Expressions, NullableFieldsMarkTheirKeys) {
  EXPR4* e = Parse("NULLC");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4nullLow(e, 0), 1);
  EXPECT_EQ(expr4keyLen(e), 6);
  char* key;
  EXPECT_EQ(expr4nullLow(e, 1), 0);
  ASSERT_EQ(expr4key(e, &key, nullptr), 6);
  EXPECT_EQ(Shown('C', key, 6), "\\x80maybe");
  ASSERT_EQ(d4go(data_, 2), 0);
  EXPECT_EQ(expr4nullLow(e, 1), 1);
  ASSERT_EQ(expr4key(e, &key, nullptr), 6);
  EXPECT_EQ(std::string(key, 7), std::string(7, '\0'));
  // A tag with flag 4 keeps no marker.
  TFILE4 tag{};
  tag.typeCode = 0x64;
  ASSERT_EQ(expr4key(e, &key, &tag), 5);
  EXPECT_EQ(std::string(key, 5), "     ");
}

TEST_F(Expressions, TagsCollateAndSwapWideKeys) {
  TFILE4 general{};
  general.collateName = 2;
  general.typeCode = 0x60;
  EXPR4* e = Parse("LAST", &general);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4keyLen(e), 10);
  char* key;
  ASSERT_EQ(expr4key(e, &key, &general), 10);
  // Primaries of J o n e s, then the secondaries (0) of o, n, e and s.
  EXPECT_EQ(Shown('C', key, 10), "krpfv\\x00\\x00\\x00\\x00\\x00");
  TFILE4 machine{};
  machine.collateName = 1;
  ASSERT_EQ(expr4key(e, &key, &machine), 5);
  EXPECT_EQ(std::string(key, 5), "Jones");

  TFILE4 wide{};
  wide.keyWide = 1;
  EXPR4* w = Parse("WIDE", &wide);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(expr4key(w, &key, &wide), 8);
  EXPECT_EQ(Shown('C', key, 8), "\\x00A\\x00\\xE9\\x00 \\x00 ");
}

// Keys over a real table: every county's key is its upper-cased name and
// births, as python3-dbfread reads them.
TEST(ExpressionKeys, RealTable) {
  TestCode4 c4;
  DATA4* data = d4open(&c4, xbasetest::SharedTable("nc/nc.dbf").c_str());
  ASSERT_NE(data, nullptr);
  EXPR4* e = expr4parse(data, "UPPER(NAME)+STR(BIR74,10)");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4keyLen(e), 90);
  int count = 0;
  std::string first, last;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    char* key;
    ASSERT_EQ(expr4key(e, &key, nullptr), 90);
    std::string k(key, 90);
    if (count == 0) first = k;
    last = k;
    count++;
  }
  EXPECT_EQ(count, 100);
  EXPECT_EQ(first.substr(0, 4), "ASHE");
  EXPECT_EQ(first.substr(80), "      1091");
  EXPECT_EQ(last.substr(0, 10), "BRUNSWICK ");
  EXPECT_EQ(last.substr(80), "      2181");
  expr4free(e);
  d4close(data);
}

}  // namespace
