#include "xbase/d4wrap.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::DbfBuilder;

TEST(Field4info, NamesAndEndEntry) {
  Code4 code(1);
  Field4info info(code);
  EXPECT_EQ(info.add("PARCEL ID", 'C', 10), 0);
  EXPECT_EQ(info.add("abcdefghijkl", 'N', 8, 2), 0);
  EXPECT_EQ(info.add("d", 'D', 8), 0);
  EXPECT_STREQ(info[0]->name, "PARCEL");
  EXPECT_STREQ(info[1]->name, "ABCDEFGHIJ");
  EXPECT_EQ(info[1]->dec, 2);
  ASSERT_NE(info[3], nullptr);
  EXPECT_EQ(info[3]->name, nullptr);  // the zeroed entry that ends the list
  EXPECT_EQ(info[3]->type, 0);
  EXPECT_EQ(info[4], nullptr);
  EXPECT_EQ(info.numFields(), 3);
  info.free();
  EXPECT_EQ(info.numFields(), 0);
}

TEST(Field4info, FromAnOpenFile) {
  TempDir dir;
  dir.Write("t.dbf", DbfBuilder(0x03, {{"NAME", 'C', 10}, {"AGE", 'N', 3}}).Bytes());
  Code4 code(1);
  code.errorCallback = [](CODE4*, int, long, const char*, const char*, const char*) {};
  Data4 data(code, dir.File("t").c_str());
  ASSERT_TRUE(data.isValid());
  Field4info info(data);
  ASSERT_EQ(info.numFields(), 2);
  EXPECT_STREQ(info[1]->name, "AGE");
  EXPECT_EQ(info[1]->type, 'N');
  EXPECT_EQ(info[1]->len, 3);
  data.close();
}

TEST(Tag4info, CopiesAndEndEntry) {
  Code4 code(1);
  Tag4info info(code);
  std::string expression = "UPPER(NAME)";
  EXPECT_EQ(info.add("by name x", expression.c_str(), ".NOT.DELETED()", 20, 10), 0);
  EXPECT_EQ(info.add("longtagnamehere", "AGE"), 0);
  expression[0] = '?';  // the list keeps copies
  TAG4INFO* tags = info.tags();
  EXPECT_STREQ(tags[0].name, "BY");
  EXPECT_STREQ(tags[0].expression, "UPPER(NAME)");
  EXPECT_STREQ(tags[0].filter, ".NOT.DELETED()");
  EXPECT_EQ(tags[0].unique, 20);
  EXPECT_EQ(tags[0].descending, 10);
  EXPECT_STREQ(tags[1].name, "LONGTAGNAM");
  EXPECT_EQ(tags[1].filter, nullptr);
  EXPECT_EQ(tags[2].name, nullptr);  // the zeroed entry that ends the list
  EXPECT_EQ(info.numTags(), 2);
  // A standing error refuses the entry.
  error4set(&code, -70);
  EXPECT_EQ(info.add("LATE", "AGE"), -1);
  EXPECT_EQ(info.numTags(), 2);
  error4set(&code, 0);
  info.free();
  EXPECT_EQ(info.numTags(), 0);
}

TEST(Tag4info, FromATableWithoutTags) {
  TempDir dir;
  dir.Write("t.dbf", DbfBuilder(0x03, {{"NAME", 'C', 10}}).Bytes());
  Code4 code(1);
  Data4 data(code, dir.File("t").c_str());
  ASSERT_TRUE(data.isValid());
  Tag4info info(data);
  EXPECT_EQ(info.numTags(), 0);
  Tag4 tag(data);
  EXPECT_FALSE(tag.isValid());
  EXPECT_EQ(tag.alias(), nullptr);
  data.close();
}

TEST(Field4, StrAssignAndTypes) {
  TempDir dir;
  std::string minus5("\xFB\xFF\xFF\xFF", 4);
  dir.Write("w.dbf", DbfBuilder('0', {{"I", 'I', 4}, {"C", 'C', 5}, {"N", 'N', 6, 1}, {"B", 'B', 8, 3}, {"Y", 'Y', 8, 4}})
                         .Record(" " + minus5 + "hello" + "  1.5" + std::string(8, '\0') + std::string(8, '\0'))
                         .Bytes());
  Code4 code(1);
  Data4 data(code, dir.File("w").c_str());
  ASSERT_TRUE(data.isValid());
  ASSERT_EQ(d4top(data.data), 0);
  Field4 i(data, "I"), c(data, "C"), n(data, "N"), b(data, "B"), y(data, "Y");
  EXPECT_STREQ(i.str(), "-5");
  i.assignLong(0);
  EXPECT_STREQ(i.str(), "0");
  EXPECT_EQ(i.isRaw(), 1);
  EXPECT_EQ(c.isRaw(), 0);
  EXPECT_STREQ(c.str(), "hello");
  EXPECT_EQ(long(n), 1);
  c.assignLong(42);
  EXPECT_STREQ(c.str(), "   42");
  c.assignLong(42, -1, 1);
  EXPECT_STREQ(c.str(), "00042");
  c.assign("ab");
  EXPECT_STREQ(c.str(), "ab   ");
  n.assignDouble(-2.26);
  EXPECT_STREQ(n.str(), "  -2.3");
  b.assignDouble(-1234.5);
  EXPECT_STREQ(b.str(), "-1234.500");
  f4assignCurrency(y.field, "19.999");
  EXPECT_STREQ(y.str(), "19.99");
  char copy[4];
  EXPECT_EQ(c.ncpy(copy, sizeof copy), 3u);
  EXPECT_STREQ(copy, "ab ");
  c.set('x');
  EXPECT_STREQ(c.str(), "xxxxx");
  d4changed(data.data, 0);
  data.close();
}

TEST(Date4, ValuesAndFormats) {
  Date4 blank;
  EXPECT_STREQ(blank.ptr(), "        ");
  Date4 y2k(2451545);
  EXPECT_STREQ(y2k.str(), "20000101");
  EXPECT_STREQ(y2k.format("MM/DD/YY"), "01/01/00");
  EXPECT_STREQ(y2k.format("MMM DD, CCYY"), "Jan 01, 2000");
  EXPECT_EQ(long(y2k), 20000101);
  EXPECT_EQ(y2k.julian(), 2451545);
  Date4 fromText("19991231");
  EXPECT_EQ(fromText.julian(), 2451544);
  Date4 fromPicture("12/31/1999", "MM/DD/CCYY");
  EXPECT_STREQ(fromPicture.ptr(), "19991231");
  EXPECT_EQ(y2k.len(), 8u);
  xbasetest::CapturingEnv env;
  EXPECT_EQ(y2k.format(nullptr), nullptr);
}

}  // namespace
