#include "xbase/collate4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/xbase/expr4_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::DbfBuilder;
using xbasetest::Hex;
using xbasetest::TestCode4;

std::string Collated(int number, const std::string& text, int keyLen) {
  std::vector<unsigned char> key(size_t(keyLen), 0xEE);
  int rc = collate4key(collate4entry(number), key.data(), keyLen, text.data(), int(text.size()));
  if (rc < 0) return "error " + std::to_string(rc);
  return Hex(reinterpret_cast<const char*>(key.data()), keyLen);
}

TEST(Collations, KeysOfTheExamples) {
  struct Case {
    int collation;
    std::string text;
    const char* key;
  } cases[] = {
      // Both cases of a letter: the same primary and the same secondary.
      {2, "a", "6000"},
      {2, "A", "6000"},
      // 196 sorts after A only by its secondary.
      {2, "\xC4", "6004"},
      {2, "B", "6100"},
      // 198 expands to the primaries of A and E, 223 to S and S: the
      // secondaries no longer fit.
      {2, "\xC6", "6066"},
      {2, "\xDF", "7676"},
      // Blanks are 17 and '!' 18; trailing blanks are not part of the key.
      {2, " !  ", "1112000000000000"},
      {2, "Ab ", "606100000000"},
      // Primaries first, then the secondaries that fit, then zero bytes.
      {2, "\xC0\xE9\xD6", "606672020104"},
      {2, "\xC0\xE9\xD6x", "6066727C02010400"},
      // Collation 3 reads the OEM code page: 128 is C with cedilla, 225 sharp s.
      {3, "\x80", "6207"},
      {3, "\xE1", "7676"},
      {3, "\x8E", "6004"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.text.data(), int(c.text.size())));
    EXPECT_EQ(Collated(c.collation, c.text, 2 * int(c.text.size())), c.key);
  }
  EXPECT_LT(Collated(2, "A ", 4), Collated(2, "\xC4 ", 4));
  EXPECT_LT(Collated(2, "\xC4 ", 4), Collated(2, "B ", 4));
}

TEST(Collations, BuiltInTables) {
  for (int number : {2, 3}) {
    const COLLATE4* collation = collate4entry(number);
    ASSERT_NE(collation, nullptr);
    EXPECT_EQ(collation->kind, 6);
    EXPECT_EQ(collation->expansion, 1);
    for (int c = 0; c < 256; c++) {
      // No primary below 16: bytes below 10 mark where the secondaries begin.
      EXPECT_GE(collation->table[c][0], 16) << number << " " << c;
      if (collation->table[c][0] == 255) {
        EXPECT_LE(collation->table[c][1], 3) << number << " " << c;
      }
    }
  }
  EXPECT_EQ(collate4entry(1)->kind, 0);
  EXPECT_EQ(collate4entry(0), nullptr);
  EXPECT_EQ(collate4entry(5), nullptr);
}

TEST(Collations, WideKeys) {
  std::string text("A\0\x00\x01 \0", 6);  // A, U+0100, a blank
  std::vector<unsigned char> key(12, 0xEE);
  ASSERT_GE(collate4keyWide(collate4entry(2), key.data(), 12, text.data(), 6), 0);
  EXPECT_EQ(Hex(reinterpret_cast<const char*>(key.data()), 12), "006001000000000000000000");
}

TEST(Collations, CompareForDescendingSeeks) {
  auto key = [](const char* text) {
    std::vector<unsigned char> k(8);
    collate4key(collate4entry(2), k.data(), 8, text, int(std::strlen(text)));
    return k;
  };
  EXPECT_EQ(collate4compare(key("ab").data(), key("AB").data(), 8), 0);
  EXPECT_LT(collate4compare(key("ab").data(), key("ac").data(), 8), 0);
  EXPECT_GT(collate4compare(key("b").data(), key("ab").data(), 8), 0);
  EXPECT_GT(collate4compare(key("\xE0").data(), key("a").data(), 8), 0);
  // A search whose primaries end in blanks matches a key that ends there.
  std::vector<unsigned char> blanks = {0x60, 0x11, 0x11, 0, 0, 0, 0, 0};
  EXPECT_EQ(collate4compare(key("a").data(), blanks.data(), 8), 0);
}

TEST(Collations, Names) {
  auto name = [](const char* text) {
    char bytes[8] = {0};
    std::memcpy(bytes, text, std::strlen(text));
    return std::string(bytes, 8);
  };
  EXPECT_EQ(collate4fromName(name("").data(), 3), 1);
  EXPECT_EQ(collate4fromName(name("GENERAL").data(), 3), 2);
  EXPECT_EQ(collate4fromName(name("GENERAL").data(), 0), 2);
  EXPECT_EQ(collate4fromName(name("GENERAL").data(), 1), 3);
  EXPECT_EQ(collate4fromName(name("FR00004").data(), 1), 4);
  EXPECT_EQ(collate4fromName(name("FR00001").data(), 1), 1);
  EXPECT_EQ(collate4fromName(name("FR00005").data(), 1), -1);
  EXPECT_EQ(collate4fromName(name("QV00004").data(), 1), -1);
  EXPECT_EQ(collate4fromName(name("FR0004").data(), 1), -1);
}

class TagCollation : public ::testing::Test {
 protected:
  EXPR4* Expression(unsigned char codePage, const char* text) {
    std::string file = "cp" + std::to_string(codePage) + ".dbf";
    dir_.Write(file, xbasetest::AllTypesTable(codePage));
    DATA4* data = d4open(&c4_, dir_.File(file).c_str());
    EXPECT_NE(data, nullptr);
    EXPR4* e = expr4parse(data, text);
    EXPECT_NE(e, nullptr);
    compiled_.push_back(e);
    return e;
  }
  std::string Choose(EXPR4* e, int* number) {
    char name[8];
    *number = collate4forTag(&c4_, e, name);
    return std::string(name, strnlen(name, 8));
  }
  void TearDown() override {
    for (EXPR4* e : compiled_) expr4free(e);
    code4closeAll(&c4_);
  }
  TempDir dir_;
  TestCode4 c4_;
  std::vector<EXPR4*> compiled_;
};

TEST_F(TagCollation, ChosenFromTheSettingsAndTheCodePage) {
  struct Case {
    int setting, wideSetting, contextCodePage;
    unsigned char fileCodePage;
    const char* expression;
    int number;
    const char* name;
  } cases[] = {
      {0, 0, 0, 3, "NAME", 1, ""},
      {0, 0, 1, 3, "NAME", 2, "GENERAL"},
      {0, 0, 1, 0, "NAME", 2, "GENERAL"},
      {0, 0, 1, 1, "NAME", 3, "GENERAL"},
      {2, 0, 0, 3, "UPPER(NAME)+LAST", 2, "GENERAL"},
      {3, 0, 0, 3, "NAME", 3, "FR00003"},
      {4, 0, 0, 1, "NAME", 4, "FR00004"},
      // Only keys made of character items are collated.
      {2, 0, 0, 3, "UPPER(NAME)+DTOS(BIRTH)", 1, ""},
      {2, 0, 0, 3, "POP", 1, ""},
      // Wide keys follow the wide setting.
      {2, 0, 0, 3, "WIDE", 1, ""},
      {0, 2, 0, 3, "WIDE", 2, "GENERAL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.expression) + " " + std::to_string(c.setting));
    c4_.collatingSequence = c.setting;
    c4_.collatingSequenceWide = c.wideSetting;
    c4_.codePage = c.contextCodePage;
    code4closeAll(&c4_);
    int number;
    EXPECT_EQ(Choose(Expression(c.fileCodePage, c.expression), &number), c.name);
    EXPECT_EQ(number, c.number);
  }
  c4_.collatingSequence = 7;
  code4closeAll(&c4_);
  int number;
  Choose(Expression(3, "NAME"), &number);
  EXPECT_EQ(number, -1090);
  EXPECT_EQ(c4_.reports.back().location, 80187);
  error4set(&c4_, 0);
}

// Collation 4 comes from three tables in the current folder.
class CurrentFolder : public platform::EnvWrapper {
 public:
  explicit CurrentFolder(std::string folder)
      : EnvWrapper(platform::Env::Current()), folder_(std::move(folder)), scope_(*this) {}
  std::string CurrentDirectory() override { return folder_; }

 private:
  std::string folder_;
  platform::ScopedEnv scope_;
};

TEST(Collations, FourIsLoadedFromItsTables) {
  TempDir dir;
  CurrentFolder here(dir.path());
  TestCode4 c4;
  ASSERT_EQ(collate4entry(4)->kind, 16);
  EXPECT_EQ(collate4ready(&c4, 4), -1090);
  ASSERT_EQ(c4.reports.size(), 1u);  // the loader's own failures stay quiet
  EXPECT_EQ(c4.reports[0].location, 80187);
  EXPECT_EQ(collate4entry(4)->kind, 16);
  error4set(&c4, 0);

  DbfBuilder info(0x03, {{"ISUNICODE", 'L', 1},  {"EXPANREQD", 'L', 1}, {"COMPREQD", 'L', 1},
                         {"SUBREQD", 'L', 1},    {"TRANSREQD", 'L', 1}, {"LOSSINFO", 'L', 1},
                         {"COLLSTART", 'N', 5},  {"COLLEND", 'N', 5},   {"COMPSTART", 'N', 5},
                         {"COMPEND", 'N', 5},    {"COMPCHAR", 'N', 3},  {"NOTAILCHAR", 'N', 3}});
  for (int i = 1; i <= 3; i++) info.Record(" FFFFFF    0    0    0    0  0  0");
  info.Record(" FTFTTT    1  256    1    1255255");
  dir.Write("coll4inf.dbf", info.Bytes());
  // Character c: primary 16 + c / 2, secondary c % 2; 0xAA expands.
  DbfBuilder table(0x03, {{"TRANS_CODE", 'N', 3}, {"SBSORTCODE", 'N', 3}});
  for (int c = 0; c < 256; c++) {
    char record[8];
    std::snprintf(record, sizeof record, " %3d%3d", c == 0xAA ? 255 : 16 + c / 2, c == 0xAA ? 0 : c % 2);
    table.Record(record);
  }
  dir.Write("collate4.dbf", table.Bytes());
  dir.Write("compres4.dbf", DbfBuilder(0x03, {{"IS_EXPAND", 'L', 1}, {"CHAR1", 'C', 1}, {"CHAR2", 'C', 1}})
                                .Record(" TXY")
                                .Bytes());

  EXPECT_EQ(collate4ready(&c4, 4), 0);
  const COLLATE4* four = collate4entry(4);
  EXPECT_EQ(four->kind, 6);
  EXPECT_EQ(four->expansion, 1);
  EXPECT_EQ(four->lossy, 0);
  EXPECT_EQ(four->table['A'][0], 16 + 'A' / 2);
  EXPECT_EQ(four->table['A'][1], 1);
  EXPECT_EQ(Collated(4, "AB", 4), "30310100");
  // One character keeps at most one secondary, even when it expands.
  EXPECT_EQ(Collated(4, "\xAA", 4), "3C3C0000");
  EXPECT_EQ(Collated(4, "\xAA" "A", 6), "3C3C30000100");
  EXPECT_EQ(c4.errorCode, 0);
}

}  // namespace
