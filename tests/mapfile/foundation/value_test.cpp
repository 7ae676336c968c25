// The typed value: ownership, styles, conversions, text forms, parsing of
// field texts, assignment and comparison.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "foundation_fixture.h"
#include "mapfile/foundation/date.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class ValueTest : public FoundationTest {};

std::string Text(const Value& v, int decimals = -1, int localise = 0) {
  char buffer[128];
  return ValueToText(&v, buffer, sizeof buffer, decimals, localise);
}

Value Number(int kind, double x) {
  Value v{};
  ValueFromDouble(&v, uint8_t(kind), x);
  return v;
}

Value TextValue(const char* text) {
  Value v{};
  ValueSet(&v, kValueText, text);
  return v;
}

TEST_F(ValueTest, FreeLeavesAttachedTextsAndFixedWidths) {
  char buffer[] = "abc,def";
  Value v{};
  v.kind = kValueText;
  ValueAttachBuffer(&v, buffer, 4);
  EXPECT_EQ(Text(v), "def");
  ValueFree(&v);  // nothing to free; the sanitizer build would catch a free
  EXPECT_EQ(v.u.p, nullptr);

  Value f{};
  ASSERT_TRUE(ValueSet(&f, kValueFixedText, "ab"));
  EXPECT_EQ(f.aux, 2);
  ValueBlank(&f);
  EXPECT_EQ(Text(f), "  ");
  ValueFree(&f);
  EXPECT_EQ(f.aux, 2);
  EXPECT_EQ(f.kind, kValueFixedText);

  Value n = Number(kValueInteger, 42);
  ValueBlank(&n);  // numbers become zero
  EXPECT_EQ(n.kind, kValueInteger);
  EXPECT_EQ(n.u.i, 0);
}

TEST_F(ValueTest, CopyOfAttachedTextTakesItsLength) {
  // The buffer is larger than the text; the copy must not read past it.
  std::string shared = "0123456789";
  Value v{};
  v.kind = kValueText;
  ValueAttachBuffer(&v, shared.data(), 7);
  Value c{};
  ASSERT_TRUE(ValueCopy(&c, &v));
  EXPECT_EQ(c.aux, -1);
  EXPECT_EQ(Text(c), "789");
  ValueFree(&c);

  Value owned = TextValue("hello"), copy{};
  ASSERT_TRUE(ValueCopy(&copy, &owned));
  EXPECT_NE(copy.u.p, owned.u.p);
  EXPECT_EQ(Text(copy), "hello");
  ValueFree(&copy);
  ValueFree(&owned);

  // a memo copy owns its own block: freeing both frees two blocks
  Value memo{}, memoCopy{};
  memo.kind = kValueMemo;
  char* m = nullptr;
  ASSERT_TRUE(ValueAlloc(5, &memo, &m));
  std::memcpy(m, "notes", 5);
  ASSERT_TRUE(ValueCopy(&memoCopy, &memo));
  EXPECT_NE(memoCopy.u.p, memo.u.p);
  EXPECT_STREQ(static_cast<const char*>(memoCopy.u.p), "notes");
  ValueFree(&memo);
  ValueFree(&memoCopy);

  Value null{};
  null.kind = kValueText;
  EXPECT_FALSE(ValueCopy(&copy, &null));
}

TEST_F(ValueTest, Styles) {
  Value pen{};
  ASSERT_TRUE(ValueSet(&pen, kValuePen, 0, 3, 255));
  EXPECT_EQ(Text(pen), "Pen (1, 2, 255)");
  Value copy{};
  ASSERT_TRUE(ValueCopy(&copy, &pen));
  EXPECT_NE(copy.u.p, pen.u.p);
  EXPECT_EQ(Text(copy), "Pen (1, 2, 255)");
  ValueFree(&copy);
  ValueFree(&pen);
  EXPECT_FALSE(ValueSet(&pen, kValuePen, 2048, 2, 0));
  EXPECT_TRUE(ErrorHasCode(465));
  EXPECT_EQ(pen.u.p, nullptr);

  Value brush{};
  ASSERT_TRUE(ValueSet(&brush, kValueBrush, 2, 255, -1));
  EXPECT_EQ(Text(brush), "Brush (2, 255)");
  ValueFree(&brush);
  ASSERT_TRUE(ValueSet(&brush, kValueBrush, 2, 255, 16));
  EXPECT_EQ(Text(brush), "Brush (2, 255, 16)");
  ValueFree(&brush);
  EXPECT_FALSE(ValueSet(&brush, kValueBrush, 0, 255, 16));

  Value symbol{};
  ASSERT_TRUE(ValueSet(&symbol, kValueSymbol, 0, 34, 0xFF0000, 12));
  ValueFree(&symbol);
  EXPECT_FALSE(ValueSet(&symbol, kValueSymbol, 1, 34, 0, 12, "Arial", 0, 3601));
  // A font prints its clause as map objects write it: the background when
  // the font has one or flag A (style 256) is set, colours in 24 bits.
  const struct {
    const char* name;
    int style, size, foreground, background;
    const char* text;
  } fonts[] = {
      {"Arial", 1, 10, 0, 0xFFFFFF, "Font (\"Arial\",1,10,0,16777215)"},
      {"Arial", 1, 10, 0xFF0000, -1, "Font (\"Arial\",1,10,16711680)"},
      {"Arial", 257, 10, 0xFF0000, 65535, "Font (\"Arial\",257,10,16711680,65535)"},
      {"Say \"Hi\"", 0, 0, -1, -1, "Font (\"Say \"\"Hi\"\"\",0,0,16777215)"},
  };
  for (const auto& f : fonts) {
    Value font{};
    ASSERT_TRUE(ValueSet(&font, kValueFont, f.name, f.style, f.size, f.foreground, f.background));
    EXPECT_EQ(Text(font), f.text);
    ValueFree(&font);
  }
  Value font{};
  EXPECT_FALSE(ValueSet(&font, kValueFont, "Arial", 1, 1000, 0, 0));
  for (int refused : {7, 9, 10, 17, 21}) {
    Value v{};
    EXPECT_FALSE(ValueSet(&v, refused)) << refused;
  }
}

TEST_F(ValueTest, TextValueKinds) {
  const struct {
    const char* text;
    int kind;
  } cases[] = {{"0123", 1},        {"123", 4},         {"40000", 3},        {"2147483647", 8},
               {"-2147483648", 8}, {"99999999999", 8}, {"1.5", 8},          {"12ab", 1},
               {"   ", 0},        {"-32767", 4},      {"-2147483647", 3},  {"0", 4},
               {" 7 ", 4},        {"1e5", 8}};
  for (const auto& c : cases) EXPECT_EQ(TextValueKind(c.text), c.kind) << c.text;
}

TEST_F(ValueTest, IntegerConversionsAndRanges) {
  int32_t n = 0;
  int16_t s = 0;
  Value v = Number(kValueFloat, 2147483647.0);
  EXPECT_TRUE(ValueToLong(&v, &n, 0));
  EXPECT_EQ(n, 2147483647);
  v = Number(kValueFloat, 2147483648.0);
  EXPECT_FALSE(ValueToLong(&v, &n, 0));
  EXPECT_TRUE(ErrorHasCode(471));
  EXPECT_EQ(n, 0);
  ErrorClear();
  v = Number(kValueInteger, 32768);
  EXPECT_FALSE(ValueToShort(&v, &s, 0));
  EXPECT_TRUE(ErrorHasCode(471));
  ErrorClear();
  // rounding into integer kinds is range-checked like ValueToLong
  Value out{};
  EXPECT_FALSE(ValueFromDouble(&out, kValueInteger, 3e9));
  EXPECT_TRUE(ErrorHasCode(471));
  EXPECT_FALSE(ValueFromDouble(&out, kValueSmallInt, 40000));
  ErrorClear();
  for (uint8_t kind : {kValueInteger, kValueSmallInt}) {
    EXPECT_FALSE(ValueFromDouble(&out, kind, std::nan(""))) << int(kind);
    EXPECT_TRUE(ErrorHasCode(471)) << int(kind);
  }
  EXPECT_TRUE(ValueFromDouble(&out, kValueSmallInt, -32767.6));
  EXPECT_EQ(out.u.s, -32768);
  EXPECT_TRUE(ValueFromDouble(&out, kValueDate, 20240229));
  EXPECT_EQ(DateToNumber(&out.u.date), 20240229);
  EXPECT_FALSE(ValueFromDouble(&out, kValueDate, 20230229));
  EXPECT_FALSE(ValueFromDouble(&out, kValueLogical, 1));
  EXPECT_FALSE(ValueFromDouble(&out, kValueOpaque, 1));

  Value t = TextValue(" 42 ");
  EXPECT_TRUE(ValueToLong(&t, &n, 0));
  EXPECT_EQ(n, 42);
  ValueFree(&t);
  t = TextValue("4x");
  EXPECT_FALSE(ValueToLong(&t, &n, 0));
  EXPECT_TRUE(ErrorHasCode(854));
  ValueFree(&t);
  Value pen{};
  ValueSet(&pen, kValuePen, 1, 2, 0);
  double d = 1;
  EXPECT_FALSE(ValueToDouble(&pen, &d, 0));
  EXPECT_EQ(d, 0.0);
  ValueFree(&pen);
}

TEST_F(ValueTest, TextForms) {
  EXPECT_EQ(Text(Number(kValueFloat, 1234.5)), "1234.5");
  EXPECT_EQ(Text(Number(kValueFloat, 0)), "0");
  EXPECT_EQ(Text(Number(kValueFloat, -DBL_MAX)), "");
  EXPECT_EQ(Text(Number(kValueFloat, 2.0 / 3), 2), "0.67");
  EXPECT_EQ(Text(Number(kValueDecimal, 123456789.25)), "123456789.25");
  EXPECT_EQ(Text(Number(kValueInteger, -7)), "-7");
  Value date{};
  ValueFromDouble(&date, kValueDate, 20240605);
  EXPECT_EQ(Text(date), "20240605");
  State().dateOrder = 1;
  State().dateSeparator = '.';
  EXPECT_EQ(Text(date, -1, 1), "05.06.2024");
  Session session{1, -1, 0};
  SetCurrentSession(&session);
  EXPECT_EQ(Text(date, -1, 1), "06/05/2024");
  SetCurrentSession(nullptr);
  Value logical{};
  ValueSet(&logical, kValueLogical, 5);
  EXPECT_EQ(Text(logical), "T");

  State().thousandSeparator = ',';
  State().grouping = 3;
  State().decimalSeparator = ',';
  State().thousandSeparator = '.';
  EXPECT_EQ(Text(Number(kValueFloat, 1234567.5), 1, 1), "1.234.567,5");
  EXPECT_EQ(Text(Number(kValueInteger, -1234), -1, 1), "-1.234");
  char small[8] = "1234567";
  NumGroupDigits(small, sizeof small, ',', 3);
  EXPECT_STREQ(small, "1234567");  // no room

  char buffer[32] = "unchanged";
  DateRec d{2024, 6, 5};
  DateFormat(buffer, sizeof buffer, &d, 3, '/', nullptr, 0);
  EXPECT_STREQ(buffer, "unchanged");
  char pattern[16];
  DateFormat(buffer, sizeof buffer, &d, 5, '-', pattern, sizeof pattern);
  EXPECT_STREQ(buffer, "2024-05-06");
  EXPECT_STREQ(pattern, "yyyy-dd-mm");
  DateFormat(buffer, sizeof buffer, &d, 0, 0, pattern, sizeof pattern);
  EXPECT_STREQ(buffer, "06052024");
  EXPECT_STREQ(pattern, "mmddyyyy");
  NumFormatTrimmed(2.5, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "2.5");
}

// A field's value with its decimals: kind 8 in 14 significant digits, the
// others as their plain text; the lowest double stays empty.
TEST_F(ValueTest, FieldDecimalsForms) {
  const struct {
    Value value;
    int decimals;
    const char* text;
  } cases[] = {
      {Number(kValueDecimal, 0.1234567), 0, "0.1234567"},
      {Number(kValueDecimal, 2.0 / 3), 2, "0.66666666666667"},
      {Number(kValueDecimal, -1.5e-300), -1, "-1.5e-300"},
      {Number(kValueDecimal, -DBL_MAX), 0, ""},
      {Number(kValueFloat, 2.440629), 6, "2.440629"},
      {Number(kValueFloat, 2.440629), -1, "2.44063"},
      {Number(kValueInteger, -2147483647 - 1), 0, "-2147483648"},
  };
  for (const auto& c : cases) {
    char buffer[64];
    EXPECT_STREQ(ValueFormatDecimals(&c.value, buffer, sizeof buffer, c.decimals, 0), c.text);
  }
}

TEST_F(ValueTest, ParseFieldRoundTrips) {
  const struct {
    uint8_t kind;
    const char* text;
    int width, decimals;
    const char* back;
  } cases[] = {
      {kValueText, "abcdef", 4, 0, "abcd"},     {kValueFloat, " 3.14159 ", 10, 2, "3.14"},
      {kValueDecimal, "3.14159", 10, 2, "3.14159"}, {kValueInteger, "-123", 10, 0, "-123"},
      {kValueSmallInt, "123", 5, 0, "123"},     {kValueDate, "20240605", 8, 0, "20240605"},
      {kValueLogical, "yes", 1, 0, "T"},        {kValueLogical, "n", 1, 0, "F"},
      {kValueFixedText, "ab", 4, 0, "ab  "},    {kValueInteger, "", 10, 0, "0"},
  };
  for (const auto& c : cases) {
    Value v{};
    ASSERT_TRUE(ValueParseField(c.text, c.kind, c.width, c.decimals, 1, &v, 0)) << c.text;
    EXPECT_EQ(Text(v, c.kind == kValueFloat ? c.decimals : -1), c.back) << c.text;
    ValueFree(&v);
  }
  Value v{};
  EXPECT_FALSE(ValueParseField("12x", kValueInteger, 10, 0, 1, &v, 0));
  EXPECT_FALSE(ValueParseField("40000", kValueSmallInt, 10, 0, 1, &v, 0));
  EXPECT_FALSE(ValueParseField("2/30/2024", kValueDate, 10, 0, 1, &v, 0));

  // What the parser takes whole, asked without a push.
  const struct {
    uint8_t kind;
    const char* text;
    bool fits;
  } numbers[] = {
      {kValueInteger, " 2147483647 ", true}, {kValueInteger, "-2147483648", true},
      {kValueInteger, "2147483648", false},  {kValueInteger, "1e10", false},
      {kValueInteger, "2.5", false},         {kValueSmallInt, "-32768", true},
      {kValueSmallInt, "32768", false},      {kValueFloat, "1e999", false},
      {kValueDecimal, "0x10", false},        {kValueDecimal, "1.5e-7", true},
      {kValueDecimal, "  ", true},           {kValueText, "12x", true},
  };
  ErrorClear();
  for (const auto& c : numbers)
    EXPECT_EQ(ValueNumberTextFits(c.text, c.kind, 0), c.fits) << c.text;
  EXPECT_EQ(ErrorCount(), 0);
  // without reset the text goes into the block that is there
  Value t{};
  ASSERT_TRUE(ValueParseField("abcdef", kValueText, 6, 0, 1, &t, 0));
  ASSERT_TRUE(ValueParseField("xy", kValueText, 6, 0, 0, &t, 0));
  EXPECT_EQ(Text(t), "xy");
  ValueFree(&t);
}

TEST_F(ValueTest, AssignAndStore) {
  Value field{};
  ASSERT_TRUE(ValueParseField("abc", kValueText, 3, 0, 1, &field, 0));
  Value n = Number(kValueInteger, 123456);
  ASSERT_TRUE(ValueAssign(&field, &n, 0));
  EXPECT_EQ(Text(field).substr(0, 3), "123");  // cut to the block
  ASSERT_TRUE(ValueStore(&field, &n, 0));
  EXPECT_EQ(Text(field), "123456");  // reallocated for the whole text
  ValueFree(&field);

  Value fixed{};
  ValueSet(&fixed, kValueFixedText, "abcd");
  ASSERT_TRUE(ValueAssign(&fixed, &n, 0));
  EXPECT_EQ(Text(fixed), "1234");
  Value two = Number(kValueInteger, 7);
  ASSERT_TRUE(ValueAssign(&fixed, &two, 0));
  EXPECT_EQ(Text(fixed), "7   ");
  ValueFree(&fixed);

  Value number = Number(kValueFloat, 0);
  Value text = TextValue(" 2.5 ");
  ASSERT_TRUE(ValueAssign(&number, &text, 0));
  EXPECT_EQ(number.u.d, 2.5);
  ValueFree(&text);

  Value pen{}, brush{};
  ValueSet(&pen, kValuePen, 1, 2, 3);
  ValueSet(&brush, kValueBrush, 2, 3, 4);
  EXPECT_FALSE(ValueAssign(&pen, &brush, 0));
  EXPECT_TRUE(ErrorHasCode(854));
  EXPECT_EQ(pen.u.p, nullptr);
  Value pen2{};
  ValueSet(&pen2, kValuePen, 4, 5, 6);
  ASSERT_TRUE(ValueAssign(&pen, &pen2, 0));
  EXPECT_EQ(Text(pen), "Pen (4, 5, 6)");
  ValueFree(&pen);
  ValueFree(&pen2);
  ValueFree(&brush);

  Value object{};
  object.kind = kValueObject;
  Value opaque{};
  opaque.kind = kValueOpaque;
  ErrorClear();
  EXPECT_FALSE(ValueAssign(&object, &opaque, 0));
  EXPECT_EQ(ErrorCount(), 0);
}

// Text values order through the collation, where letter case does not
// count; key records keep the byte order that index files are built in.
TEST_F(ValueTest, TextsCompareCollatedAndKeysBytewise) {
  const NormState before = State().norm;  // the tables are process-wide
  ASSERT_EQ(NormTablesInit(), 1);
  const struct {
    const char* a;
    const char* b;
    int values, keys;
  } cases[] = {
      {"abc", "ABC", 0, 1},
      {"a", "B", -1, 1},
      {"Zebra", "apple", 1, -1},
      {"apple", "apples", -1, -1},
  };
  struct Key {
    char head[16];
    Value v;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " against " + c.b);
    Key a{}, b{};
    a.v = TextValue(c.a);
    b.v = TextValue(c.b);
    int out = 99;
    EXPECT_TRUE(ValueCompare(&a.v, &b.v, &out, 0, 0));
    EXPECT_EQ(out, c.values);
    EXPECT_TRUE(ValueCompareKeys(&a, &b, &out, 0));
    EXPECT_EQ(out, c.keys);
    ValueFree(&a.v);
    ValueFree(&b.v);
  }
  State().norm = before;
}

struct CompareCase {
  const char* name;
  Value a, b;
  int out;
  bool ok;
};

TEST_F(ValueTest, CompareOrders) {
  Value date{}, empty{};
  ValueFromDouble(&date, kValueDate, 20240605);
  empty.kind = kValueDate;
  Value t1 = TextValue("20240606"), ta = TextValue("apple"), tb = TextValue("banana");
  Value yes{}, no{};
  ValueSet(&yes, kValueLogical, 1);
  ValueSet(&no, kValueLogical, 0);
  const CompareCase cases[] = {
      {"date<text", date, t1, -1, true},
      {"empty date vs set", empty, date, -2, true},
      {"int vs small", Number(kValueInteger, 5), Number(kValueSmallInt, 7), -1, true},
      {"nearly equal doubles", Number(kValueFloat, 0.1 + 0.2), Number(kValueDecimal, 0.3), 0, true},
      {"double order", Number(kValueFloat, 2), Number(kValueInteger, 1), 1, true},
      {"texts", ta, tb, -1, true},
      {"logical", no, yes, -1, true},
      {"logical vs number", yes, Number(kValueInteger, 0), 1, true},
  };
  for (const CompareCase& c : cases) {
    int out = 99;
    EXPECT_EQ(ValueCompare(&c.a, &c.b, &out, 0, 1) != 0, c.ok) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
  }
  Value pen{};
  ValueSet(&pen, kValuePen, 1, 2, 3);
  Value one = Number(kValueInteger, 1);
  int out = 0;
  ErrorClear();
  EXPECT_FALSE(ValueCompare(&pen, &one, &out, 0, 0));
  EXPECT_EQ(out, -2);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_FALSE(ValueCompare(&pen, &one, &out, 0, 1));
  EXPECT_TRUE(ErrorHasCode(906));
  EXPECT_TRUE(ValueCompare(&ta, &tb, nullptr, 0, 0));

  // key records carry their value 16 bytes in
  struct Key {
    char head[16];
    Value v;
  } ka{}, kb{};
  ka.v = ta;
  kb.v = TextValue("apples");
  EXPECT_TRUE(ValueCompareKeys(&ka, &kb, &out, 0));
  EXPECT_EQ(out, -1);
  EXPECT_TRUE(ValueCompareIndexKey(&tb, &kb, &out, 0, 0));
  EXPECT_EQ(out, 1);
  ValueFree(&kb.v);
  ValueFree(&pen);
  ValueFree(&t1);
  ValueFree(&ta);
  ValueFree(&tb);
}

}  // namespace
}  // namespace mapfiletest
