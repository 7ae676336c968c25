#include "xbase/d4create.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/xbase/index_fixture.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::FieldList;
using xbasetest::Le16;
using xbasetest::TagList;
using xbasetest::TempFolderEnv;
using xbasetest::TestCode4;
using xbasetest::Trimmed;

unsigned Byte(const std::string& bytes, size_t at) { return static_cast<unsigned char>(bytes[at]); }

TEST(Create, DescriptorOfEachType) {
  struct Case {
    const char* label;
    short dialect;
    char type;
    int length, decimals, nulls;
    char letter;  // as written
    unsigned width, decimalsByte, flags, recordLength;
    int readType;  // what f4type answers after the open
    unsigned readLength;
  } cases[] = {
      {"wide character", 25, 'C', 300, 0, 0, 'C', 44, 1, 0, 301, 'C', 300},
      {"numeric", 25, 'N', 10, 2, 0, 'N', 10, 2, 0, 11, 'N', 10},
      {"float", 25, 'F', 12, 3, 0, 'F', 12, 3, 0, 13, 'N', 12},
      {"date", 25, 'D', 0, 0, 0, 'D', 8, 0, 0, 9, 'D', 8},
      {"logical", 25, 'L', 0, 0, 0, 'L', 1, 0, 0, 2, 'L', 1},
      {"dBASE memo", 25, 'M', 0, 0, 0, 'M', 10, 0, 0, 11, 'M', 10},
      {"FoxPro memo", 30, 'M', 0, 0, 0, 'M', 4, 0, 0, 5, 'M', 4},
      {"double", 30, 'B', 0, 3, 0, 'B', 8, 3, 0x04, 9, 'B', 8},
      {"datetime", 30, 'T', 0, 0, 0, 'T', 8, 0, 0x04, 9, 'T', 8},
      {"integer", 30, 'I', 0, 0, 0, 'I', 4, 0, 0x04, 5, 'I', 4},
      {"currency", 30, 'Y', 0, 0, 0, 'Y', 8, 4, 0x04, 9, 'Y', 8},
      {"raw memo", 30, 'X', 0, 0, 0, 'M', 4, 0, 0x04, 5, 'X', 4},
      {"raw wide text", 30, 'Z', 300, 0, 0, 'C', 44, 1, 0x04, 301, 'Z', 300},
      {"short integer", 30, 'Q', 0, 0, 0, 'Q', 2, 0, 0x04, 3, 'Q', 2},
      {"varying", 30, 'V', 0, 0, 0, 'V', 16, 0, 0x04, 17, 'V', 16},
      {"odd O", 30, 'O', 5, 0, 0, 'O', 8, 0, 0x04, 9, 'O', 8},
      {"odd W", 30, 'W', 5, 0, 0, 'W', 6, 0, 0x04, 7, 'W', 6},
      {"nullable", 30, 'C', 5, 0, 190, 'C', 5, 0, 0x02, 7, 'C', 5},
      {"autoincrement", 30, 'B', 0, 0, 195, 'B', 8, 0, 0x0C, 9, 'B', 8},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TestCode4 c4;
    c4.compatibility = c.dialect;
    FieldList fields;
    fields.Add("field", c.type, c.length, c.decimals, c.nulls);
    DATA4* data = d4create(&c4, dir.File("t").c_str(), fields.get());
    ASSERT_NE(data, nullptr) << c.label;
    std::string bytes = ReadAll(dir.File("t.dbf"));
    const size_t d = 32;
    EXPECT_EQ(bytes.substr(d, 11), std::string("FIELD\0\0\0\0\0\0", 11)) << c.label;
    EXPECT_EQ(bytes[d + 11], c.letter) << c.label;
    EXPECT_EQ(Le16(bytes, d + 12), 1u) << c.label;  // its offset in the record
    EXPECT_EQ(Byte(bytes, d + 16), c.width) << c.label;
    EXPECT_EQ(Byte(bytes, d + 17), c.decimalsByte) << c.label;
    EXPECT_EQ(Byte(bytes, d + 18), c.flags) << c.label;
    EXPECT_EQ(Le16(bytes, 10), c.recordLength) << c.label;
    EXPECT_EQ(d4recWidth(data), c.recordLength) << c.label;
    EXPECT_EQ(f4type(d4fieldJ(data, 1)), c.readType) << c.label;
    EXPECT_EQ(f4len(d4fieldJ(data, 1)), c.readLength) << c.label;
    EXPECT_EQ(d4close(data), 0) << c.label;
    EXPECT_TRUE(c4.reports.empty()) << c.label;
  }
}

TEST(Create, FoxHeaderWithNullableFields) {
  TempDir dir;
  TestCode4 c4;
  c4.compatibility = 30;
  FieldList fields;
  fields.Add("NAME", 'C', 5, 0, 190).Add("COUNT", 'N', 4, 0, 190);
  DATA4* data = d4create(&c4, dir.File("nulls.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4numFields(data), 2);
  EXPECT_EQ(f4null(d4field(data, "COUNT")), 0);
  EXPECT_EQ(d4close(data), 0);
  std::string bytes = ReadAll(dir.File("nulls.dbf"));
  const unsigned headerLength = 32 * 3 + 33 + 263;
  EXPECT_EQ(bytes[0], '0');
  EXPECT_EQ(Le16(bytes, 8), headerLength);
  EXPECT_EQ(Le16(bytes, 10), 1u + 5 + 4 + 1);
  EXPECT_EQ(Byte(bytes, 28), 0u);
  EXPECT_EQ(bytes.substr(32 + 64, 11), std::string("_NullFlags\0", 11));
  EXPECT_EQ(bytes[32 + 64 + 11], '0');
  EXPECT_EQ(Le16(bytes, 32 + 64 + 12), 10u);
  EXPECT_EQ(Byte(bytes, 32 + 64 + 16), 1u);
  EXPECT_EQ(Byte(bytes, 32 + 64 + 18), 0x05u);
  EXPECT_EQ(bytes[32 + 96], '\x0D');
  EXPECT_EQ(bytes.substr(32 + 96 + 1, 263), std::string(263, '\0'));
  // An empty table: the header and the end-of-file mark.
  ASSERT_EQ(bytes.size(), headerLength + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
}

TEST(Create, VersionFlagsAndMemoFile) {
  struct Case {
    short dialect;
    bool memo, autoIncrement;
    unsigned version, flags;
  } cases[] = {
      {25, false, false, 0x03, 0},  {25, true, false, 0xF5, 0}, {30, false, false, '0', 0},
      {30, true, false, '0', 0x02}, {30, false, true, '1', 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TestCode4 c4;
    c4.compatibility = c.dialect;
    FieldList fields;
    fields.Add("NAME", 'C', 10);
    if (c.memo) fields.Add("NOTES", 'M');
    if (c.autoIncrement) fields.Add("ID", 'B', 8, 0, 195);
    DATA4* data = d4create(&c4, dir.File("t.dbf").c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    d4close(data);
    std::string bytes = ReadAll(dir.File("t.dbf"));
    EXPECT_EQ(Byte(bytes, 0), c.version) << c.dialect << c.memo;
    EXPECT_EQ(Byte(bytes, 28), c.flags) << c.dialect << c.memo;
    EXPECT_EQ(std::filesystem::exists(dir.File("t.fpt")), c.memo) << c.dialect;
  }
}

TEST(Create, Refusals) {
  struct Case {
    const char* label;
    short dialect;
    std::vector<std::tuple<const char*, char, int, int, int>> fields;
    int code;
    long location;
  } cases[] = {
      {"two autoincrement fields", 30, {{"A", 'B', 8, 0, 195}, {"B", 'B', 8, 0, 195}}, -200, 80054},
      {"autoincrement on a number", 30, {{"A", 'N', 8, 0, 195}}, -200, 80055},
      {"double in dBASE", 25, {{"A", 'B', 8, 0, 0}}, -200, 80048},
      {"datetime in dBASE", 25, {{"A", 'T', 8, 0, 0}}, -200, 80048},
      {"currency in dBASE", 26, {{"A", 'Y', 8, 0, 0}}, -200, 80048},
      {"integer in dBASE", 25, {{"A", 'I', 4, 0, 0}}, -200, 80048},
      {"raw memo in dBASE", 25, {{"A", 'X', 4, 0, 0}}, -200, 80048},
      {"raw text in dBASE", 25, {{"A", 'Z', 4, 0, 0}}, -220, 80048},
      {"unknown type", 30, {{"A", 'K', 4, 0, 0}}, -200, 80048},
      {"numeric wider than a byte", 25, {{"A", 'N', 300, 0, 0}}, -200, 80048},
      {"record too long", 25, {{"A", 'C', 65000, 0, 0}, {"B", 'C', 600, 0, 0}}, -230, 80051},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TestCode4 c4;
    c4.compatibility = c.dialect;
    FieldList fields;
    for (const auto& [name, type, length, decimals, nulls] : c.fields) fields.Add(name, type, length, decimals, nulls);
    EXPECT_EQ(d4create(&c4, dir.File("t.dbf").c_str(), fields.get()), nullptr) << c.label;
    ASSERT_NE(c4.Last(), nullptr) << c.label;
    EXPECT_EQ(c4.Last()->code, c.code) << c.label;
    EXPECT_EQ(c4.Last()->location, c.location) << c.label;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.label;
  }
}

TEST(Create, OverATableOpenInTheContext) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("NAME", 'C', 10);
  DATA4* data = d4create(&c4, dir.File("busy").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4create(&c4, dir.File("BUSY.DBF").c_str(), fields.get()), nullptr);
  ASSERT_NE(c4.Last(), nullptr);
  EXPECT_EQ(c4.Last()->code, -20);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "attempt to create file which is opened by another client");
  error4set(&c4, 0);
  c4.reportCreateFailure = 0;
  size_t reports = c4.reports.size();
  EXPECT_EQ(d4create(&c4, dir.File("busy").c_str(), fields.get()), nullptr);
  EXPECT_EQ(c4.errorCode, 60);
  EXPECT_EQ(c4.reports.size(), reports);
  error4set(&c4, 0);
  EXPECT_EQ(d4appendStart(data, 0), 0);  // the open table is untouched
  EXPECT_EQ(d4append(data), 0);
  EXPECT_EQ(d4close(data), 0);
}

TEST(Create, AutoincrementValuesCarryOverCloseAndOpen) {
  TempDir dir;
  TestCode4 c4;
  c4.compatibility = 30;
  FieldList fields;
  fields.Add("ID", 'B', 8, 0, 195).Add("NAME", 'C', 4);
  std::string path = dir.File("auto.dbf");
  DATA4* data = d4create(&c4, path.c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  auto appendRow = [&] {
    EXPECT_EQ(d4appendStart(data, 0), 0);
    d4blank(data);
    EXPECT_EQ(d4append(data), 0);
    return f4double(d4field(data, "ID"));
  };
  EXPECT_EQ(appendRow(), 1.0);
  EXPECT_EQ(appendRow(), 2.0);
  EXPECT_EQ(appendRow(), 3.0);
  EXPECT_EQ(d4close(data), 0);
  std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.substr(12, 8), std::string("\x01\0\0\0\0\0\0\0", 8));
  data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(appendRow(), 4.0);
  EXPECT_EQ(d4close(data), 0);
}

// Temporary tables go to the temporary folder and go with their close.
TEST(Create, TemporaryTable) {
  TempDir dir;
  TempFolderEnv env(dir.path());
  TestCode4 c4;
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("NOTES", 'M');
  EXPECT_EQ(d4create(&c4, nullptr, fields.get()), nullptr);
  EXPECT_EQ(c4.Last()->code, -935);
  error4set(&c4, 0);
  c4.createTemp = 1;
  c4.tempAutoRemove = 1;
  DATA4* data = d4create(&c4, nullptr, fields.get());
  ASSERT_NE(data, nullptr) << c4.Last()->code << " " << c4.Last()->location << " " << c4.Last()->t1;
  EXPECT_EQ(std::filesystem::path(d4fileName(data)).parent_path(), std::filesystem::path(dir.path()));
  d4appendStart(data, 0);
  f4memoAssign(d4field(data, "NOTES"), "kept until the close");
  EXPECT_EQ(d4append(data), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A table of `rows` records, every third one deleted; the names of the
// records that stay.
std::vector<std::string> FillForPack(DATA4* data, int rows) {
  std::vector<std::string> kept;
  for (int i = 0; i < rows; i++) {
    d4appendStart(data, 0);
    d4blank(data);
    std::string name = "row" + std::to_string(i);
    f4assign(d4field(data, "NAME"), name.c_str());
    if (i % 3 == 1) {
      d4delete(data);
    } else {
      kept.push_back(name);
    }
    EXPECT_EQ(d4append(data), 0);
  }
  return kept;
}

TEST(Pack, KeepsOnlyLiveRecordsInOrder) {
  TempDir dir;
  TestCode4 c4;
  c4.memSizeBuffer = 3000;  // small buffers: many refills while reading and writing one file
  FieldList fields;
  fields.Add("NAME", 'C', 11);
  DATA4* data = d4create(&c4, dir.File("pack.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  std::vector<std::string> kept = FillForPack(data, 2000);
  ASSERT_EQ(d4go(data, 4), 0);
  f4assign(d4field(data, "NAME"), "changed");  // a pending change is written first
  kept[2] = "changed";
  ASSERT_EQ(d4pack(data), 0);
  EXPECT_EQ(d4recCount(data), long(kept.size()));
  EXPECT_EQ(d4recNo(data), -1);
  EXPECT_EQ(d4bof(data), 0);
  EXPECT_EQ(d4eof(data), 0);
  size_t i = 0;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1), i++) {
    ASSERT_LT(i, kept.size());
    EXPECT_EQ(Trimmed(d4field(data, "NAME")), kept[i]);
    EXPECT_EQ(d4deleted(data), 0);
  }
  EXPECT_EQ(i, kept.size());
  EXPECT_EQ(d4close(data), 0);
  std::string bytes = ReadAll(dir.File("pack.dbf"));
  unsigned header = Le16(bytes, 8);
  EXPECT_EQ(bytes.size(), header + kept.size() * 12 + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(Le16(bytes, 4), kept.size());
}

TEST(Pack, EveryRecordDeleted) {
  TempDir dir;
  TestCode4 c4;
  FieldList fields;
  fields.Add("NAME", 'C', 11);
  DATA4* data = d4create(&c4, dir.File("gone.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 3; i++) {
    d4appendStart(data, 0);
    d4delete(data);
    ASSERT_EQ(d4append(data), 0);
  }
  ASSERT_EQ(d4pack(data), 0);
  EXPECT_EQ(d4recCount(data), 0);
  EXPECT_EQ(d4bof(data), 1);
  EXPECT_EQ(d4eof(data), 1);
  EXPECT_EQ(d4close(data), 0);
  std::string bytes = ReadAll(dir.File("gone.dbf"));
  EXPECT_EQ(bytes.size(), Le16(bytes, 8) + 1u);
}

TEST(Pack, ReadOnlyHandle) {
  TempDir dir;
  dir.Write("ro.dbf", xbasetest::DbfBuilder(0x03, {{"NAME", 'C', 4}}).Record("*abcd").Bytes());
  TestCode4 c4;
  c4.readOnly = 1;
  DATA4* data = d4open(&c4, dir.File("ro").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4pack(data), -120);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "attempt to write to a read-only file");
  error4set(&c4, 0);
  d4close(data);
}

TEST(Remove, TakesTheMemoAndIndexFiles) {
  xbasetest::CapturingEnv quiet;
  TempDir dir;
  TestCode4 c4;
  c4.compatibility = 30;
  FieldList fields;
  fields.Add("NAME", 'C', 10).Add("NOTES", 'M');
  DATA4* data = d4create(&c4, dir.File("doomed").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  d4close(data);
  // An index file of its own fields beside it, opened with the table.
  data = d4open(&c4, dir.File("doomed").c_str());
  ASSERT_NE(data, nullptr);
  TagList tags;
  tags.Add("NAME", "NAME");
  ASSERT_NE(i4create(data, dir.File("doomed").c_str(), tags.get()), nullptr);
  ASSERT_EQ(d4close(data), 0);
  c4.autoOpen = 0;
  data = d4open(&c4, dir.File("doomed").c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_NE(i4open(data, dir.File("doomed").c_str()), nullptr);
  ASSERT_TRUE(std::filesystem::exists(dir.File("doomed.cdx")));
  EXPECT_EQ(d4remove(data), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(c4.removeOnClose, 0);
  EXPECT_EQ(d4remove(nullptr), -935);
}

}  // namespace
