#include "xbase/memo4.h"
#include "xbase/expr4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/bytes.h"
#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::Be32;
using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::FieldList;
using xbasetest::TestCode4;

void Patch(const std::string& path, size_t at, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(at));
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// A table with a memo field in the given dialect and memo block size; one
// record whose memo is `memo`.
class MemoTable {
 public:
  MemoTable(short dialect, long blockSize, const std::string& memo) {
    c4.compatibility = dialect;
    c4.memSizeBlock = blockSize;
    FieldList fields;
    fields.Add("NAME", 'C', 4).Add("NOTES", 'M');
    data = d4create(&c4, dir.File("m.dbf").c_str(), fields.get());
    if (data == nullptr) return;
    d4appendStart(data, 0);
    f4assign(d4field(data, "NAME"), "one");
    f4memoAssign(Notes(), memo.c_str());
    d4append(data);
  }
  ~MemoTable() {
    if (data) d4close(data);
  }
  FIELD4* Notes() { return d4field(data, "NOTES"); }
  std::string Memo() { return ReadAll(dir.File("m.fpt")); }
  // Assigns and writes record 1's memo: the write's result.
  int Rewrite(const std::string& text) {
    if (d4go(data, 1) != 0) return -1;
    f4memoAssign(Notes(), text.c_str());
    return d4write(data, -1);
  }
  void Reopen() {
    d4close(data);
    data = d4open(&c4, dir.File("m.dbf").c_str());
  }

  TempDir dir;
  TestCode4 c4{xbasetest::WriteThrough()};  // Memo() reads the file while it is open
  DATA4* data = nullptr;
};

TEST(MemoFile, NewFileHeader) {
  struct Case {
    long blockSize;
    uint32_t nextFree;
  } cases[] = {{64, 8}, {512, 1}, {1024, 1}, {100, 6}};
  for (const auto& c : cases) {
    MemoTable table(30, c.blockSize, "");
    ASSERT_NE(table.data, nullptr) << c.blockSize;
    std::string memo = table.Memo();
    ASSERT_EQ(memo.size(), 512u) << c.blockSize;  // an empty memo writes nothing
    EXPECT_EQ(Be32(memo, 0), c.nextFree) << c.blockSize;
    EXPECT_EQ(Be32(memo, 4), uint32_t(c.blockSize)) << c.blockSize;
  }
}

TEST(MemoFile, EntriesRewrittenInPlaceOrAppended) {
  MemoTable table(30, 64, std::string(40, 'a'));  // one block
  ASSERT_NE(table.data, nullptr);
  EXPECT_EQ(f4long(table.Notes()), 8);
  EXPECT_EQ(Be32(table.Memo(), 0), 9u);
  // 100 bytes need two blocks: a new entry at the next free block.
  ASSERT_EQ(table.Rewrite(std::string(100, 'b')), 0);
  EXPECT_EQ(f4long(table.Notes()), 9);
  std::string memo = table.Memo();
  EXPECT_EQ(Be32(memo, 0), 11u);
  EXPECT_EQ(memo.size(), 11u * 64);
  EXPECT_EQ(Be32(memo, 9 * 64), 1u);
  EXPECT_EQ(Be32(memo, 9 * 64 + 4), 100u);
  // 40 bytes fit the two blocks the entry holds.
  ASSERT_EQ(table.Rewrite(std::string(40, 'c')), 0);
  EXPECT_EQ(f4long(table.Notes()), 9);
  EXPECT_EQ(Be32(table.Memo(), 0), 11u);
  // Empty contents: no entry, the field blank.
  ASSERT_EQ(table.Rewrite(""), 0);
  EXPECT_EQ(std::string(f4ptr(table.Notes()), 4), std::string(4, '\0'));
  EXPECT_EQ(table.Memo().size(), 11u * 64);
  table.Reopen();
  ASSERT_EQ(d4go(table.data, 1), 0);
  EXPECT_EQ(f4memoLen(table.Notes()), 0u);
  EXPECT_TRUE(table.c4.reports.empty());
}

TEST(MemoFile, DbaseBlockNumbersAreText) {
  MemoTable table(25, 512, "dBASE memo");
  ASSERT_NE(table.data, nullptr);
  EXPECT_EQ(std::string(f4ptr(table.Notes()), 10), "         1");
  ASSERT_EQ(table.Rewrite(std::string(600, 'x')), 0);
  EXPECT_EQ(std::string(f4ptr(table.Notes()), 10), "         2");
  table.Reopen();
  ASSERT_EQ(d4go(table.data, 1), 0);
  EXPECT_EQ(std::string(f4memoPtr(table.Notes())), std::string(600, 'x'));
}

TEST(MemoFile, FieldContents) {
  MemoTable table(30, 64, "abc");
  ASSERT_NE(table.data, nullptr);
  table.Reopen();
  FIELD4* notes = table.Notes();
  EXPECT_EQ(f4memoLen(notes), 0u);  // no current record
  ASSERT_EQ(d4go(table.data, 1), 0);
  ASSERT_EQ(f4memoLen(notes), 3u);
  const char* text = f4memoPtr(notes);
  EXPECT_EQ(std::memcmp(text, "abc\0\0", 5), 0);
  // A field that is not a memo field takes the text as its bytes.
  FIELD4* name = d4field(table.data, "NAME");
  EXPECT_EQ(f4memoAssignN(name, "xy", 2), 0);
  EXPECT_EQ(f4memoLen(name), 4u);
  EXPECT_EQ(std::string(f4memoPtr(name), 4), "xy  ");
  // Lengths past the bound are refused before anything is read.
  EXPECT_EQ(f4memoAssignN(notes, "z", 0xFFFFFF80u), -920);
  EXPECT_STREQ(error4locationText(table.c4.Last()->location),
               "invalid memo size (too small or too large for operating system)");
  error4set(&table.c4, 0);
  d4changed(table.data, 0);
}

// A damaged memo file or block number gives the memo-corruption error.
TEST(MemoFile, DamagedFiles) {
  struct Case {
    const char* label;
    std::function<void(MemoTable&)> damage;
    bool write;  // the damage shows when a new entry is written
  } cases[] = {
      {"entry longer than any memo",
       [](MemoTable& t) { Patch(t.dir.File("m.fpt"), 8 * 64 + 4, Be32(0xFFFFFFF0u)); }, false},
      {"entry past the end", [](MemoTable& t) { Patch(t.dir.File("m.fpt"), 8 * 64 + 4, Be32(1000)); },
       false},
      {"block past the end", [](MemoTable& t) { Patch(t.dir.File("m.dbf"), 32 * 3 + 1 + 263 + 5, std::string("\xE8\x03\0\0", 4)); },
       false},
      {"block inside the header", [](MemoTable& t) { Patch(t.dir.File("m.dbf"), 32 * 3 + 1 + 263 + 5, std::string("\x01\0\0\0", 4)); },
       false},
      {"block size 0", [](MemoTable& t) { Patch(t.dir.File("m.fpt"), 6, std::string(2, '\0')); }, false},
      {"next free block 0", [](MemoTable& t) { Patch(t.dir.File("m.fpt"), 0, Be32(0)); }, true},
      {"next free block inside the entries",
       [](MemoTable& t) { Patch(t.dir.File("m.fpt"), 0, Be32(8)); }, true},
  };
  for (const auto& c : cases) {
    MemoTable table(30, 64, std::string(30, 'm'));
    ASSERT_NE(table.data, nullptr) << c.label;
    d4close(table.data);
    table.data = nullptr;
    c.damage(table);
    table.data = d4open(&table.c4, table.dir.File("m.dbf").c_str());
    ASSERT_NE(table.data, nullptr) << c.label;
    if (c.write) {
      std::string before = table.Memo();
      EXPECT_EQ(table.Rewrite(std::string(200, 'w')), -1110) << c.label;
      EXPECT_EQ(table.Memo(), before) << c.label;
      error4set(&table.c4, 0);
      d4changed(table.data, 0);
    } else {
      ASSERT_EQ(d4go(table.data, 1), 0) << c.label;
      EXPECT_EQ(f4memoPtr(table.Notes()), nullptr) << c.label;
      EXPECT_EQ(table.c4.errorCode, -1110) << c.label;
      error4set(&table.c4, 0);
      EXPECT_EQ(f4memoLen(table.Notes()), 0u) << c.label;  // tried again, failed again
      error4set(&table.c4, 0);
    }
  }
}

TEST(MemoFile, ShortMemoFileDoesNotOpen) {
  MemoTable table(30, 64, "x");
  ASSERT_NE(table.data, nullptr);
  d4close(table.data);
  table.data = nullptr;
  std::filesystem::resize_file(table.dir.File("m.fpt"), 4);
  EXPECT_EQ(d4open(&table.c4, table.dir.File("m.dbf").c_str()), nullptr);
  EXPECT_EQ(table.c4.Last()->code, -70);
}

}  // namespace

namespace {

// An expression over a memo field reads the entry from the memo file when the
// handle has not loaded it.
TEST(MemoExpression, ReadsTheEntryFromTheMemoFile) {
  TempDir dir;
  std::string path = dir.File("m.dbf");
  {
    TestCode4 c4;
    FieldList fields;
    fields.Add("NOTES", 'M');
    DATA4* data = d4create(&c4, path.c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    for (const char* text : {"first entry", "second, longer entry"}) {
      d4appendStart(data, 0);
      f4memoAssign(d4field(data, "NOTES"), text);
      ASSERT_EQ(d4append(data), 0);
    }
    d4close(data);
  }
  TestCode4 c4;
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  EXPR4* e = expr4parse(data, "UPPER(LEFT(NOTES,6))");
  ASSERT_NE(e, nullptr);
  const char* expected[] = {"FIRST ", "SECOND"};
  for (int rec = 1; rec <= 2; rec++) {
    ASSERT_EQ(d4go(data, rec), 0);
    char* result = nullptr;
    ASSERT_EQ(expr4vary(e, &result), 6);
    EXPECT_EQ(std::string(result, 6), expected[rec - 1]);
  }
  expr4free(e);
  d4close(data);
}

}  // namespace
