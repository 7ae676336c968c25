#include "xbase/field4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/support/bytes.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::Le32;
using testsupport::Le64;
using testsupport::LeDouble;
using testsupport::TempDir;
using xbasetest::DbfBuilder;
using xbasetest::TestCode4;

// One FoxPro record with a field of every kind the engine reads.
class Fields : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string record = std::string(" ") + "abc  " + "  12.50" + "20000101" + "T" + Le32(7) +
                         LeDouble(-2.25) + Le64(-123456) + Le32(2451545) + Le32(43199500) +
                         std::string("\xFE\xFF", 2) + "  -3" + "raw";
    dir_.Write("all.dbf", DbfBuilder('0', {{"C", 'C', 5},
                                           {"N", 'N', 7, 2},
                                           {"D", 'D', 8},
                                           {"L", 'L', 1},
                                           {"M", 'M', 4},
                                           {"B", 'B', 8, 2},
                                           {"Y", 'Y', 8, 4},
                                           {"T", 'T', 8},
                                           {"Q", 'Q', 2},
                                           {"F", 'F', 4},
                                           {"Z", 'C', 3, 0, 0x04}})
                              .Record(record)
                              .Bytes());
    data_ = d4open(&c4_, dir_.File("all").c_str());
    ASSERT_NE(data_, nullptr);
    ASSERT_EQ(d4top(data_), 0);
  }
  void TearDown() override {
    if (data_) {
      d4changed(data_, 0);
      d4close(data_);
    }
  }
  FIELD4* F(const char* name) { return d4field(data_, name); }
  std::string Bytes(const char* name) { return std::string(f4ptr(F(name)), f4len(F(name))); }

  TempDir dir_;
  TestCode4 c4_;
  DATA4* data_ = nullptr;
};

TEST_F(Fields, ReadEveryType) {
  EXPECT_EQ(f4type(F("C")), 'C');
  EXPECT_EQ(f4type(F("F")), 'N');
  EXPECT_EQ(f4type(F("Z")), 'Z');
  EXPECT_EQ(f4number(F("N")), 2);
  EXPECT_EQ(f4decimals(F("N")), 2);
  EXPECT_STREQ(f4str(F("C")), "abc  ");
  EXPECT_DOUBLE_EQ(f4double(F("N")), 12.5);
  EXPECT_EQ(f4long(F("N")), 12);
  EXPECT_EQ(f4long(F("D")), 2451545);
  EXPECT_DOUBLE_EQ(f4double(F("D")), 2451545.0);
  EXPECT_EQ(f4true(F("L")), 1);
  EXPECT_EQ(f4long(F("M")), 7);
  EXPECT_DOUBLE_EQ(f4double(F("B")), -2.25);
  EXPECT_EQ(f4long(F("B")), -2);
  EXPECT_DOUBLE_EQ(f4double(F("Y")), -12.3456);
  EXPECT_STREQ(f4currency(F("Y"), 4), "-12.3456");
  EXPECT_STREQ(f4currency(F("Y"), 2), "-12.34");
  EXPECT_STREQ(f4currency(F("Y"), 0), "-12");
  EXPECT_EQ(f4long(F("Y")), -12);
  EXPECT_STREQ(f4dateTime(F("T")), "2000010112:00:00");
  EXPECT_EQ(f4long(F("Q")), -2);
  EXPECT_EQ(f4int(F("F")), -3);
  EXPECT_TRUE(c4_.reports.empty());
}

// What the table library asks of a column: the letter its header stores
// (f4type gives the logical one) and whether its value lives in the memo
// file (a FoxPro B is a double in the record).
TEST_F(Fields, StoredTypeAndMemoKind) {
  const struct {
    const char* field;
    int stored;
    int memo;
  } cases[] = {{"C", 'C', 0}, {"Z", 'C', 0}, {"F", 'F', 0}, {"N", 'N', 0},
               {"M", 'M', 1}, {"B", 'B', 0}, {"T", 'T', 0}, {"Y", 'Y', 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(f4storedType(F(c.field)), c.stored);
    EXPECT_EQ(f4isMemo(F(c.field)), c.memo);
  }
  EXPECT_TRUE(c4_.reports.empty());
}

TEST_F(Fields, OperationsTheTypeRefuses) {
  struct Case {
    const char* field;
    std::function<void(FIELD4*)> op;
  } cases[] = {
      {"L", [](FIELD4* f) { EXPECT_EQ(f4long(f), -1); }},
      {"T", [](FIELD4* f) { EXPECT_DOUBLE_EQ(f4double(f), -1); }},
      {"M", [](FIELD4* f) { EXPECT_EQ(f4int(f), -1); }},
      {"Q", [](FIELD4* f) { f4assignDouble(f, 1.0); }},
      {"C", [](FIELD4* f) { EXPECT_EQ(f4currency(f, 2), nullptr); }},
      {"C", [](FIELD4* f) { EXPECT_EQ(f4dateTime(f), nullptr); }},
      {"N", [](FIELD4* f) { EXPECT_EQ(f4true(f), 0); }},
  };
  for (const auto& c : cases) {
    c4_.reports.clear();
    std::string before = Bytes(c.field);
    c.op(F(c.field));
    ASSERT_EQ(c4_.reports.size(), 1u) << c.field;
    EXPECT_EQ(c4_.reports[0].code, -930) << c.field;
    EXPECT_EQ(c4_.reports[0].location, 80053) << c.field;
    EXPECT_EQ(Bytes(c.field), before) << c.field;
    error4set(&c4_, 0);
  }
}

TEST_F(Fields, AssignText) {
  f4assign(F("N"), "12");
  EXPECT_EQ(Bytes("N"), "     12");
  f4assign(F("N"), "123456789");
  EXPECT_EQ(Bytes("N"), "1234567");
  f4assignN(F("C"), "abcdef", 6);
  EXPECT_EQ(Bytes("C"), "abcde");
  f4assign(F("C"), "xy");
  EXPECT_EQ(Bytes("C"), "xy   ");
  f4assignN(F("C"), nullptr, 0);
  EXPECT_EQ(Bytes("C"), "     ");
  f4assignChar(F("L"), 'F');
  EXPECT_EQ(f4true(F("L")), 0);
  EXPECT_EQ(d4changed(data_, -1), 1);
  // A standing error makes writes do nothing.
  error4set(&c4_, -60);
  f4assign(F("C"), "zz");
  EXPECT_EQ(Bytes("C"), "     ");
  error4set(&c4_, 0);
}

TEST_F(Fields, AssignNumbers) {
  f4assignLong(F("N"), 42);
  EXPECT_EQ(Bytes("N"), "  42.00");
  f4assignLong(F("D"), 2451546);
  EXPECT_EQ(Bytes("D"), "20000102");
  f4assignLong(F("M"), 9);
  EXPECT_EQ(f4long(F("M")), 9);
  f4assignLong(F("Y"), 5);
  EXPECT_STREQ(f4currency(F("Y"), 4), "5.0000");
  f4assignInt(F("Q"), -7);
  EXPECT_EQ(f4int(F("Q")), -7);
  f4assignDouble(F("N"), -3.14159);
  EXPECT_EQ(Bytes("N"), "  -3.14");
  f4assignDouble(F("N"), 123456.0);
  EXPECT_EQ(Bytes("N"), "*******");
  f4assignDouble(F("B"), 1e300);
  EXPECT_DOUBLE_EQ(f4double(F("B")), 1e300);
  f4assignDouble(F("Y"), -0.5);
  EXPECT_STREQ(f4currency(F("Y"), 4), "-0.5000");
  EXPECT_TRUE(c4_.reports.empty());
}

TEST_F(Fields, AssignCurrency) {
  struct Case {
    const char* text;
    int rc;
    const char* expected;
  } cases[] = {
      {"12.5", 0, "12.5000"},
      {"  -0003.1416", 0, "-3.1416"},
      {"+7", 0, "7.0000"},
      {"", 0, "0.0000"},
      {"   ", 0, "0.0000"},
      {"1.23456", -1, "0.0000"},  // more than 4 decimals
      {"922337203685477.5807", 0, "922337203685477.5807"},
      {"-922337203685477.5807", 0, "-922337203685477.5807"},
      {"922337203685477.5808", -1, "0.0000"},  // one past what 64 bits hold
      {"3999999999", 0, "3999999999.0000"},
      {"1234567890123456", -1, "0.0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(f4assignCurrency(F("Y"), c.text), c.rc) << c.text;
    EXPECT_STREQ(f4currency(F("Y"), 4), c.expected) << c.text;
  }
  EXPECT_TRUE(c4_.reports.empty());
}

TEST_F(Fields, DateTimes) {
  struct Case {
    uint32_t julian, ms;
    const char* expected;
  } cases[] = {
      {2451545, 43199500, "2000010112:00:00"},
      {2451545, 499, "2000010100:00:00"},
      {2451545, 86399499, "2000010123:59:59"},
      {2451545, 86399500, "2000010200:00:00"},  // carried into the next day
      {2451604, 86399999, "2000030100:00:00"},  // across the end of February
      {0, 0, ""},
  };
  for (const auto& c : cases) {
    std::memcpy(f4assignPtr(F("T")), (Le32(c.julian) + Le32(c.ms)).data(), 8);
    EXPECT_STREQ(f4dateTime(F("T")), c.expected) << c.julian << " " << c.ms;
  }
  f4assignDateTime(F("T"), "1999123123:59:58");
  EXPECT_STREQ(f4dateTime(F("T")), "1999123123:59:58");
  EXPECT_EQ(Bytes("T").substr(0, 4), Le32(2451544));
}

TEST_F(Fields, Blanks) {
  d4blank(data_);
  EXPECT_EQ(Bytes("C"), "     ");
  EXPECT_EQ(Bytes("M"), std::string(4, '\0'));
  EXPECT_EQ(Bytes("Z"), std::string(3, '\0'));
  EXPECT_EQ(Bytes("Y"), std::string(8, '\0'));
  EXPECT_EQ(f4long(F("M")), 0);
  EXPECT_DOUBLE_EQ(f4double(F("Y")), 0.0);
}

}  // namespace
