#include "xbase/d4write.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::CapturingEnv;
using xbasetest::DbfBuilder;
using xbasetest::FieldList;
using xbasetest::TestCode4;

using xbasetest::Le32;

std::string Name(DATA4* data) { return xbasetest::Trimmed(d4field(data, "NAME")); }

DATA4* CreateNames(TestCode4* c4, const std::string& path) {
  FieldList fields;
  fields.Add("NAME", 'C', 5);
  return d4create(c4, path.c_str(), fields.get());
}

int AppendName(DATA4* data, const char* name) {
  if (int rc = d4appendStart(data, 0)) return rc;
  d4blank(data);
  f4assign(d4field(data, "NAME"), name);
  return d4append(data);
}

TEST(Append, RecordsFollowTheHeaderAndEndWithTheMark) {
  CapturingEnv env;
  env.fixedNow = 1772668800;  // 5 March 2026
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());
  std::string path = dir.File("names.dbf");
  DATA4* data = CreateNames(&c4, path);
  ASSERT_NE(data, nullptr);
  const unsigned header = 32 + 32 + 1;
  ASSERT_EQ(AppendName(data, "one"), 0);
  EXPECT_EQ(d4recNo(data), 1);
  EXPECT_EQ(ReadAll(path).substr(header), " one  \x1A");
  ASSERT_EQ(AppendName(data, "two"), 0);
  EXPECT_EQ(d4recCount(data), 2);
  std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.substr(header), " one   two  \x1A");
  EXPECT_EQ(Le32(bytes, 4), 0u);  // the header's count waits for the update
  ASSERT_EQ(d4update(data), 0);
  bytes = ReadAll(path);
  EXPECT_EQ(Le32(bytes, 4), 2u);
  EXPECT_EQ(bytes.substr(1, 3), std::string("\x7E\x03\x05", 3));
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

TEST(Append, StartKeepsTheRecordBuffer) {
  TempDir dir;
  TestCode4 c4;
  DATA4* data = CreateNames(&c4, dir.File("keep.dbf"));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(AppendName(data, "first"), 0);
  ASSERT_EQ(d4appendStart(data, 0), 0);
  EXPECT_EQ(d4recNo(data), 0);
  EXPECT_EQ(Name(data), "first");
  ASSERT_EQ(d4append(data), 0);
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_EQ(Name(data), "first");
  d4close(data);
}

TEST(Write, ChangesReachTheFile) {
  TempDir dir;
  std::string path = dir.Write("w.dbf", DbfBuilder(0x03, {{"NAME", 'C', 5}}).Record(" aaaaa").Record(" bbbbb").Record(" ccccc").Bytes());
  TestCode4 c4(xbasetest::WriteThrough());
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4go(data, 2), 0);
  f4assign(d4field(data, "NAME"), "B");
  EXPECT_EQ(d4write(data, -1), 0);
  EXPECT_EQ(d4changed(data, -1), 0);
  ASSERT_EQ(d4go(data, 3), 0);
  f4assign(d4field(data, "NAME"), "C");
  d4delete(data);
  ASSERT_EQ(d4skip(data, -2), 0);  // a move writes the change first
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1, 18), " aaaaa B    *C    ");
  // Record 1 written as record 3 by number.
  EXPECT_EQ(d4write(data, 3), 0);
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1 + 12, 6), " aaaaa");
  d4close(data);
}

TEST(Write, Refusals) {
  TempDir dir;
  std::string path = dir.Write("r.dbf", DbfBuilder(0x03, {{"NAME", 'C', 5}}).Record(" aaaaa").Bytes());
  TestCode4 c4;
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  d4goEof(data);
  f4assign(d4field(data, "NAME"), "x");
  EXPECT_EQ(d4write(data, -1), -120);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "attempt to d4write record to a non-existant record");
  EXPECT_EQ(d4changed(data, -1), 1);
  error4set(&c4, 0);
  EXPECT_EQ(d4write(data, 0), -930);
  error4set(&c4, 0);
  EXPECT_EQ(d4write(data, 2), -120);
  error4set(&c4, 0);
  d4changed(data, 0);
  d4close(data);

  c4.readOnly = 1;
  data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4top(data), 0);
  EXPECT_EQ(d4append(data), -120);
  EXPECT_STREQ(error4locationText(c4.Last()->location), "attempt to write to a read-only file");
  EXPECT_EQ(c4.Last()->t1, "r");
  error4set(&c4, 0);
  EXPECT_EQ(d4write(data, 1), -120);
  error4set(&c4, 0);
  EXPECT_EQ(d4recCount(data), 1);
  d4close(data);
}

// The disk is full from a position on: a write stops there.
class FullDiskEnv : public platform::EnvWrapper {
 public:
  FullDiskEnv() : EnvWrapper(platform::Env::Current()), scope_(*this) {}
  int64_t WriteAt(int fd, const void* buffer, size_t count, int64_t offset) override {
    if (offset + int64_t(count) <= fullFrom) return target_.WriteAt(fd, buffer, count, offset);
    int64_t room = fullFrom > offset ? fullFrom - offset : 0;
    int64_t n = room > 0 ? target_.WriteAt(fd, buffer, size_t(room), offset) : 0;
    errno = ENOSPC;
    return n > 0 ? n : -1;
  }
  int64_t fullFrom = INT64_MAX;

 private:
  platform::ScopedEnv scope_;
};

TEST(Append, FailedWriteLeavesCountAndEndConsistent) {
  FullDiskEnv env;
  TempDir dir;
  TestCode4 c4(xbasetest::WriteThrough());
  std::string path = dir.File("full.dbf");
  DATA4* data = CreateNames(&c4, path);
  ASSERT_NE(data, nullptr);
  for (const char* name : {"one", "two", "three"}) ASSERT_EQ(AppendName(data, name), 0);
  const int64_t header = 32 + 32 + 1, width = 6;
  env.fullFrom = header + 3 * width + 4;  // room for half a record
  EXPECT_EQ(AppendName(data, "four"), -120);
  error4set(&c4, 0);
  EXPECT_EQ(d4recCount(data), 3);
  EXPECT_EQ(d4recNo(data), 0);  // still the record being appended
  std::string bytes = ReadAll(path);
  EXPECT_EQ(int64_t(bytes.size()), header + 3 * width + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  env.fullFrom = INT64_MAX;
  ASSERT_EQ(AppendName(data, "five"), 0);
  EXPECT_EQ(d4recNo(data), 4);
  ASSERT_EQ(d4close(data), 0);

  c4.recCountCheck = 1;  // the header's count must match the file's length
  data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  std::string names;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) names += Name(data) + ",";
  EXPECT_EQ(names, "one,two,three,five,");
  d4close(data);
}

TEST(Append, UnappendShortensTheFile) {
  TempDir dir;
  TestCode4 c4;
  std::string path = dir.File("undo.dbf");
  DATA4* data = CreateNames(&c4, path);
  ASSERT_NE(data, nullptr);
  for (const char* name : {"one", "two", "three"}) ASSERT_EQ(AppendName(data, name), 0);
  EXPECT_EQ(d4unappend(data), 0);
  EXPECT_EQ(d4recCount(data), 2);
  EXPECT_EQ(d4recNo(data), -1);
  EXPECT_EQ(d4changed(data, -1), 0);
  ASSERT_EQ(d4close(data), 0);
  c4.recCountCheck = 1;
  data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d4recCount(data), 2);
  ASSERT_EQ(d4bottom(data), 0);
  EXPECT_EQ(Name(data), "two");
  d4close(data);
  EXPECT_EQ(ReadAll(path).back(), '\x1A');
}

TEST(Append, StartWithMemosCopiesThemToNewEntries) {
  TempDir dir;
  TestCode4 c4;
  c4.compatibility = 30;
  FieldList fields;
  fields.Add("NAME", 'C', 5).Add("NOTES", 'M');
  DATA4* data = d4create(&c4, dir.File("memo.dbf").c_str(), fields.get());
  ASSERT_NE(data, nullptr);
  FIELD4* notes = d4field(data, "NOTES");
  ASSERT_EQ(d4appendStart(data, 0), 0);
  f4assign(d4field(data, "NAME"), "orig");
  f4memoAssign(notes, "the original memo");
  ASSERT_EQ(d4append(data), 0);
  long original = f4long(notes);
  EXPECT_GT(original, 0);
  // A copy with its memo, then one without.
  ASSERT_EQ(d4go(data, 1), 0);
  ASSERT_EQ(d4appendStart(data, 1), 0);
  f4assign(d4field(data, "NAME"), "copy");
  ASSERT_EQ(d4append(data), 0);
  long copy = f4long(notes);
  EXPECT_GT(copy, original);
  ASSERT_EQ(d4go(data, 1), 0);
  ASSERT_EQ(d4appendStart(data, 0), 0);
  ASSERT_EQ(d4append(data), 0);
  EXPECT_EQ(f4long(notes), 0);
  // The copy's memo changes alone.
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_STREQ(f4memoPtr(notes), "the original memo");
  f4memoAssign(notes, "changed");
  ASSERT_EQ(d4go(data, 1), 0);
  EXPECT_STREQ(f4memoPtr(notes), "the original memo");
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_STREQ(f4memoPtr(notes), "changed");
  ASSERT_EQ(d4go(data, 3), 0);
  EXPECT_EQ(f4memoLen(notes), 0u);
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

}  // namespace
