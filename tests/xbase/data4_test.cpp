#include "xbase/data4.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::DbfBuilder;
using xbasetest::TestCode4;

DbfBuilder People() {
  return DbfBuilder(0x03, {{"NAME", 'C', 10}, {"AGE", 'N', 3}})
      .Record(" Ann       " "  7")
      .Record(" Bob       " " 42")
      .Record("*Cy        " "100");
}

TEST(Data4Open, FieldsAliasAndRecords) {
  TempDir dir;
  dir.Write("people.dbf", People().Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("people").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(d4alias(data), "people");
  EXPECT_EQ(d4numFields(data), 2);
  EXPECT_EQ(d4recCount(data), 3);
  EXPECT_EQ(d4recWidth(data), 14u);
  EXPECT_EQ(d4recNo(data), -1);
  EXPECT_EQ(d4fieldNumber(data, "age "), 2);
  EXPECT_EQ(d4fieldNumber(data, "Name"), 1);
  EXPECT_EQ(d4field(data, "missing"), nullptr);
  EXPECT_EQ(c4.Last()->code, -210);
  error4set(&c4, 0);
  c4.fieldNameError = 0;
  EXPECT_EQ(d4fieldNumber(data, "missing"), -210);
  EXPECT_EQ(c4.errorCode, 0);
  EXPECT_EQ(d4fieldJ(data, 3), nullptr);
  EXPECT_EQ(c4.errorCode, -930);
  error4set(&c4, 0);
  EXPECT_EQ(d4recCountLessEq(data, 3), 1);
  EXPECT_EQ(d4recCountLessEq(data, 4), 0);
  EXPECT_EQ(d4close(data), 0);
}

TEST(Data4Open, UpperCaseNamesOpenByLowerCase) {
  TempDir dir;
  dir.Write("ROADS.DBF", People().Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("roads").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4recCount(data), 3);
  d4close(data);
}

TEST(Data4Open, SecondOpenOfTheSameFile) {
  TempDir dir;
  dir.Write("people.dbf", People().Bytes());
  TestCode4 c4;
  DATA4* first = d4open(&c4, dir.File("people.dbf").c_str());
  ASSERT_NE(first, nullptr);
  // Another spelling of the same file is the same file.
  std::filesystem::create_symlink(dir.File("people.dbf"), dir.File("other.dbf"));
  EXPECT_EQ(d4open(&c4, dir.File("other").c_str()), nullptr);
  EXPECT_EQ(c4.Last()->code, -69);
  error4set(&c4, 0);
  c4.singleOpen = 0;
  DATA4* second = d4open(&c4, dir.File("other").c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->dataFile, first->dataFile);
  EXPECT_STREQ(d4alias(second), "other");
  EXPECT_EQ(code4data(&c4, "OTHER", 0), second);
  EXPECT_EQ(code4data(&c4, dir.File("people").c_str(), 1), first);
  d4close(second);
  EXPECT_EQ(d4top(first), 0);  // the file stays open for the first handle
  EXPECT_EQ(code4closeAll(&c4), 0);
  EXPECT_EQ(c4.dataList.numLinks, 0u);
  EXPECT_EQ(c4.dataFileList.numLinks, 0u);
}

TEST(Data4Open, FoxProNullFlags) {
  TempDir dir;
  dir.Write("fox.dbf", DbfBuilder('0', {{"A", 'C', 3, 0, 0x02}, {"B", 'I', 4, 0, 0x02},
                                        {"_NullFlags", '0', 1, 0, 0x05}})
                           .Record(std::string(" abc") + std::string("\x05\0\0\0", 4) + "\x02")
                           .Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("fox").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4numFields(data), 2);
  ASSERT_EQ(d4top(data), 0);
  FIELD4* a = d4field(data, "A");
  FIELD4* b = d4field(data, "B");
  EXPECT_EQ(f4null(a), 0);
  EXPECT_EQ(f4null(b), 1);
  EXPECT_EQ(f4long(b), 5);
  f4assignLong(b, 6);  // a write clears the null flag
  EXPECT_EQ(f4null(b), 0);
  EXPECT_EQ(d4changed(data, -1), 1);
  d4changed(data, 0);
  d4close(data);
}

struct BadHeader {
  const char* what;
  std::string bytes;
  int code;
  long location;
};

std::string WithByte(std::string bytes, size_t at, char value) {
  bytes[at] = value;
  return bytes;
}

TEST(Data4Open, DamagedOrRefusedHeaders) {
  std::string good = People().Bytes();
  std::string noTerminator = good.substr(0, 32 + 64);  // descriptors run to the end of the file
  std::string headerCut = WithByte(WithByte(good, 8, char(0xF0)), 9, 0x10);
  BadHeader cases[] = {
      {"unknown field type", DbfBuilder(0x03, {{"X", 'J', 2}}).Bytes(), -220, 80006},
      {"null flags outside FoxPro", DbfBuilder(0x03, {{"_NullFlags", '0', 1}}).Bytes(), -200, 80006},
      {"version 1 without its mark", WithByte(DbfBuilder('1', {{"A", 'C', 2}}).Bytes(), 12, 2), -200,
       80151},
      {"record length zero", WithByte(WithByte(good, 10, 0), 11, 0), -200, 80139},
      {"record length mismatch", WithByte(good, 10, 15), -200, 90131},
      {"count of all bits", WithByte(WithByte(WithByte(WithByte(good, 4, -1), 5, -1), 6, -1), 7, -1),
       -200, 80139},
      {"header of 32 bytes", WithByte(WithByte(good, 8, 32), 9, 0), -200, 80139},
      {"header longer than the file", headerCut, -200, 80158},
      {"no terminator", WithByte(WithByte(noTerminator, 8, char(32 + 64)), 9, 0), -200, 80139},
      {"file shorter than a header", good.substr(0, 20), -70, 90077},
      {"datetime narrower than its value", DbfBuilder('0', {{"A", 'C', 2}, {"W", 'T', 1}}).Bytes(), -200, 80139},
      {"integer narrower than its value", DbfBuilder('0', {{"N", 'I', 1}}).Bytes(), -200, 80139},
      {"date narrower than its value", DbfBuilder(0x03, {{"D", 'D', 2}}).Bytes(), -200, 80139},
      {"varchar running past the record", DbfBuilder('0', {{"V", 'V', 2, 1}}).Bytes(), -200, 90131},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write("bad.dbf", c.bytes);
    TestCode4 c4;
    EXPECT_EQ(d4open(&c4, dir.File("bad").c_str()), nullptr) << c.what;
    ASSERT_NE(c4.Last(), nullptr) << c.what;
    EXPECT_EQ(c4.Last()->code, c.code) << c.what;
    EXPECT_EQ(c4.Last()->location, c.location) << c.what;
    EXPECT_EQ(c4.dataList.numLinks, 0u) << c.what;
    EXPECT_EQ(c4.dataFileList.numLinks, 0u) << c.what;
  }
}

// Variants other dBASE readers take: descriptors ended by a line feed, and
// date-time and currency columns in a dBASE III table. Their values read as
// in a FoxPro table (dbfread gives 12.345 and 2000-01-01 01:00 for these).
TEST(Data4Open, HarmlessVariantsOpen) {
  std::string values(1, ' ');
  values += "abc ";
  std::string money(8, '\0'), when(8, '\0');
  QStoreU32LE(&money[0], 123450);
  QStoreU32LE(&when[0], 2451545);
  QStoreU32LE(&when[4], 3600000);
  values += money + when;
  const std::string plain =
      DbfBuilder(0x03, {{"NAME", 'C', 4}, {"PRICE", 'Y', 8, 4}, {"WHEN", 'T', 8}}).Record(values).Bytes();
  std::string lineFeed = plain;
  lineFeed[32 + 3 * 32] = '\x0A';
  for (const std::string& bytes : {plain, lineFeed}) {
    TempDir dir;
    dir.Write("t.dbf", bytes);
    TestCode4 c4;
    DATA4* data = d4open(&c4, dir.File("t").c_str());
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(d4numFields(data), 3);
    ASSERT_EQ(d4go(data, 1), 0);
    EXPECT_STREQ(f4currency(d4field(data, "PRICE"), 3), "12.345");
    EXPECT_STREQ(f4dateTime(d4field(data, "WHEN")), "2000010101:00:00");
    d4close(data);
  }
}

TEST(Data4Open, RecordCountCheck) {
  TempDir dir;
  dir.Write("count.dbf", People().Count(2).Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("count").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4recCount(data), 2);
  d4close(data);
  c4.recCountCheck = 1;
  EXPECT_EQ(d4open(&c4, dir.File("count").c_str()), nullptr);
  EXPECT_EQ(error4locationText(c4.Last()->location), std::string("database corruption detected"));
}

TEST(Data4Open, ProductionIndexMissing) {
  TempDir dir;
  dir.Write("indexed.dbf", People().TableFlags(0x01).Bytes());
  TestCode4 c4;
  EXPECT_EQ(d4open(&c4, dir.File("indexed").c_str()), nullptr);
  EXPECT_EQ(c4.Last()->code, -64);
  error4set(&c4, 0);
  c4.reportOpenFailure = 0;
  DATA4* data = d4open(&c4, dir.File("indexed").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(c4.errorCode, 70);
  c4.errorCode = 0;
  d4close(data);
  c4.autoOpen = 0;
  c4.reportOpenFailure = 1;
  data = d4open(&c4, dir.File("indexed").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(c4.errorCode, 0);
  d4close(data);
}

TEST(Data4Open, MissingMemoFileFailsCleanly) {
  TempDir dir;
  dir.Write("memo.dbf", DbfBuilder(0x83, {{"NOTE", 'M', 10}}).Record(std::string(11, ' ')).Bytes());
  dir.Write("memo.dbt", std::string(512, '\0'));
  TestCode4 c4;
  EXPECT_EQ(d4open(&c4, dir.File("memo").c_str()), nullptr);
  EXPECT_EQ(c4.Last()->code, -64);
  EXPECT_EQ(c4.dataFileList.numLinks, 0u);
}

TEST(Data4Navigate, RecordOrder) {
  TempDir dir;
  dir.Write("people.dbf", People().Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("people").c_str());
  ASSERT_NE(data, nullptr);
  FIELD4* name = d4field(data, "NAME");
  // A skip before any move: reported, the context in its error state.
  EXPECT_EQ(d4skip(data, 1), -910);
  EXPECT_EQ(c4.Last()->location, 80180);
  error4set(&c4, 0);

  EXPECT_EQ(d4top(data), 0);
  EXPECT_EQ(std::string(f4ptr(name), 3), "Ann");
  EXPECT_EQ(d4skip(data, -1), 4);
  EXPECT_EQ(d4bof(data), 1);
  EXPECT_EQ(d4recNo(data), 1);
  EXPECT_EQ(d4skip(data, 2), 0);
  EXPECT_EQ(d4recNo(data), 3);
  EXPECT_EQ(d4deleted(data), 1);
  EXPECT_EQ(d4skip(data, 1), 3);
  EXPECT_EQ(d4eof(data), 1);
  EXPECT_EQ(d4recNo(data), 4);
  EXPECT_EQ(std::string(f4ptr(name), 10), std::string(10, ' '));
  EXPECT_EQ(d4skip(data, -1), 0);
  EXPECT_EQ(d4recNo(data), 3);
  EXPECT_EQ(d4bottom(data), 0);
  EXPECT_EQ(d4recNo(data), 3);

  EXPECT_EQ(d4go(data, 2), 0);
  EXPECT_EQ(std::string(f4ptr(name), 3), "Bob");
  EXPECT_EQ(d4go(data, 4), -70);
  EXPECT_EQ(c4.Last()->t1, "people");
  error4set(&c4, 0);
  c4.goError = 0;
  EXPECT_EQ(d4go(data, 4), 5);
  EXPECT_EQ(d4recNo(data), -1);
  EXPECT_EQ(std::string(d4record(data), 14), std::string(14, ' '));
  EXPECT_EQ(d4go(data, 0), 5);
  c4.goError = 1;
  EXPECT_EQ(d4go(data, 0), -70);
  error4set(&c4, 0);
  d4close(data);
}

TEST(Data4Navigate, EmptyFile) {
  TempDir dir;
  dir.Write("empty.dbf", DbfBuilder(0x03, {{"A", 'C', 2}}).Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("empty").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4top(data), 3);
  EXPECT_EQ(d4bof(data), 1);
  EXPECT_EQ(d4eof(data), 1);
  EXPECT_EQ(d4bottom(data), 3);
  EXPECT_EQ(d4recNo(data), 1);
  EXPECT_EQ(d4skip(data, -1), 3);
  EXPECT_EQ(d4bof(data), 1);
  d4close(data);
}

TEST(Data4Navigate, ChangedRecordIsWrittenBeforeMoving) {
  TempDir dir;
  dir.Write("people.dbf", People().Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("people").c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4go(data, 2), 0);
  f4assign(d4field(data, "NAME"), "Bea");
  d4delete(data);
  ASSERT_EQ(d4skip(data, 1), 0);
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_EQ(std::string(d4record(data), 4), "*Bea");
  d4recall(data);
  d4blank(data);
  EXPECT_EQ(d4changed(data, -1), 1);
  d4changed(data, 0);
  d4close(data);

  // A read-only handle refuses to write its changed record.
  std::filesystem::permissions(dir.File("people.dbf"), std::filesystem::perms::owner_read);
  data = d4open(&c4, dir.File("people").c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4top(data), 0);
  f4assign(d4field(data, "AGE"), "1");
  EXPECT_EQ(d4skip(data, 1), -120);
  EXPECT_EQ(c4.Last()->location, 80013);
  error4set(&c4, 0);
  d4changed(data, 0);
  d4close(data);
}

TEST(Data4Tags, NoIndexNoTags) {
  TempDir dir;
  dir.Write("people.dbf", People().Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, dir.File("people").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4tagNext(data, nullptr), nullptr);
  EXPECT_EQ(d4tagPrev(data, nullptr), nullptr);
  EXPECT_EQ(d4tagDefault(data), nullptr);
  EXPECT_EQ(d4tag(data, "NAME"), nullptr);
  EXPECT_EQ(c4.Last()->code, -330);
  error4set(&c4, 0);
  c4.tagNameError = 0;
  EXPECT_EQ(d4tag(data, "NAME"), nullptr);
  EXPECT_EQ(c4.errorCode, 0);
  d4close(data);
}

TEST(Data4, InvalidHandles) {
  xbasetest::CapturingEnv env;
  EXPECT_EQ(d4go(nullptr, 1), -1);
  EXPECT_EQ(d4skip(nullptr, 1), -1);
  EXPECT_EQ(d4goEof(nullptr), -935);
  EXPECT_EQ(d4close(nullptr), -935);
  DATA4 stale{};
  EXPECT_EQ(d4top(&stale), -1);
  ASSERT_FALSE(env.messages.empty());
  EXPECT_NE(env.messages.back().find("Function was Passed an Invalid Structure Pointer"),
            std::string::npos);
  TestCode4 c4;
  EXPECT_EQ(d4open(&c4, nullptr), nullptr);
  EXPECT_EQ(d4open(nullptr, "x"), nullptr);
}

}  // namespace
