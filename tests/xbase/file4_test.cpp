#include "xbase/file4.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tests/xbase/xbase_fixture.h"

namespace {

using testsupport::TempDir;
using xbasetest::TestCode4;

TEST(File4, CreateExistingFileWithCreateNewOnly) {
  TempDir dir;
  std::string path = dir.Write("there.dat", "keep");
  TestCode4 c4;
  FILE4 file{};
  EXPECT_EQ(file4create(&file, &c4, path.c_str(), 0), -20);
  EXPECT_EQ(c4.Last()->t1, path);
  error4set(&c4, 0);
  c4.reportCreateFailure = 0;
  EXPECT_EQ(file4create(&file, &c4, path.c_str(), 0), 60);
  EXPECT_EQ(c4.errorCode, 60);
  EXPECT_EQ(testsupport::ReadAll(path), "keep");
  // Replacing is allowed when createNewOnly is off.
  c4.errorCode = 0;
  c4.createNewOnly = 0;
  ASSERT_EQ(file4create(&file, &c4, path.c_str(), 1), 0);
  EXPECT_EQ(file4len(&file), 0u);
  EXPECT_EQ(file4close(&file), 0);
}

TEST(File4, ReadWriteLengthAndClose) {
  TempDir dir;
  TestCode4 c4;
  FILE4 file{};
  ASSERT_EQ(file4create(&file, &c4, dir.File("rw.dat").c_str(), 1), 0);
  ASSERT_EQ(file4write(&file, 10, "hello", 5), 0);
  EXPECT_EQ(file4len(&file), 15u);
  char buffer[8] = {0};
  EXPECT_EQ(file4read(&file, 10, buffer, 8), 5u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(file4readAll(&file, 12, buffer, 5), -70);
  ASSERT_NE(c4.Last(), nullptr);
  EXPECT_EQ(c4.Last()->t2, std::string(17, ' ') + "12 " + std::string(18, ' ') + "5");
  EXPECT_EQ(c4.Last()->t3, "file4readAllLow");
  // An error standing in the context stops reads and writes.
  EXPECT_EQ(file4read(&file, 10, buffer, 5), 0u);
  EXPECT_EQ(file4write(&file, 0, "x", 1), -1);
  error4set(&c4, 0);
  EXPECT_EQ(file4lenSet(&file, 4), 0);
  EXPECT_EQ(file4len(&file), 4u);
  EXPECT_EQ(file4flush(&file), 0);
  EXPECT_EQ(file4close(&file), 0);
  EXPECT_EQ(file.handle, -1);
  EXPECT_EQ(file4close(&file), 0);  // closing a closed file
}

TEST(File4, OpenFailuresMapToCodes) {
  TempDir dir;
  TestCode4 c4;
  FILE4 file{};
  EXPECT_EQ(file4open(&file, &c4, dir.File("missing.dat").c_str(), 0), -64);
  error4set(&c4, 0);
  c4.reportOpenFailure = 0;
  EXPECT_EQ(file4open(&file, &c4, dir.File("missing.dat").c_str(), 0), 70);
  EXPECT_EQ(c4.errorCode, 70);
  c4.reportOpenFailure = 1;

  // The system's errors, by errno.
  struct FailingOpen : platform::EnvWrapper {
    FailingOpen() : EnvWrapper(platform::Env::Current()) {}
    int Open(std::string_view, unsigned, int) override {
      errno = error;
      return -1;
    }
    int error = 0;
  } failing;
  platform::ScopedEnv scope(failing);
  std::string path = dir.Write("there.dat", "x");
  struct Case {
    int error, code;
  } cases[] = {{ENOENT, -64}, {ENOTDIR, -64}, {EMFILE, -63}, {ENFILE, -63}, {EACCES, -61},
               {EBUSY, -61},  {ENOSPC, -120}, {EIO, -60}};
  for (const auto& c : cases) {
    c4.errorCode = 0;
    failing.error = c.error;
    EXPECT_EQ(file4open(&file, &c4, path.c_str(), 0), c.code) << c.error;
  }
}

TEST(File4, ExclusiveUse) {
  TempDir dir;
  std::string path = dir.Write("one.dat", "x");
  TestCode4 c4;
  FILE4 first{}, second{};
  ASSERT_EQ(file4open(&first, &c4, path.c_str(), 0), 0);
  EXPECT_EQ(file4open(&second, &c4, path.c_str(), 0), -61);
  error4set(&c4, 0);
  file4close(&first);
  EXPECT_EQ(file4open(&second, &c4, path.c_str(), 0), 0);
  file4close(&second);
}

// Readers share a file (two builds from one input); a writer is kept out
// while they read, and readers while it writes.
TEST(File4, ReadersShareAWriterDoesNot) {
  TempDir dir;
  std::string path = dir.Write("shared.dat", "x");
  TestCode4 c4;
  FILE4 first{}, second{}, writer{};
  c4.readOnly = 1;
  ASSERT_EQ(file4open(&first, &c4, path.c_str(), 0), 0);
  EXPECT_EQ(file4open(&second, &c4, path.c_str(), 0), 0);
  c4.readOnly = 0;
  EXPECT_EQ(file4open(&writer, &c4, path.c_str(), 0), -61);
  error4set(&c4, 0);
  file4close(&first);
  file4close(&second);
  ASSERT_EQ(file4open(&writer, &c4, path.c_str(), 0), 0);
  c4.readOnly = 1;
  EXPECT_EQ(file4open(&first, &c4, path.c_str(), 0), -61);
  error4set(&c4, 0);
  file4close(&writer);
}

TEST(File4, ReadOnlyFile) {
  TempDir dir;
  std::string path = dir.Write("ro.dat", "abc");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  TestCode4 c4;
  FILE4 file{};
  ASSERT_EQ(file4open(&file, &c4, path.c_str(), 1), 0);
  EXPECT_EQ(file.writeProtected, 1u);
  EXPECT_EQ(file4write(&file, 0, "x", 1), -120);
  EXPECT_EQ(c4.Last()->location, 80013);
  EXPECT_EQ(error4locationText(c4.Last()->location), std::string("attempt to write to a read-only file"));
  error4set(&c4, 0);
  EXPECT_EQ(file4lenSet(&file, 0), -930);
  EXPECT_EQ(error4locationText(c4.Last()->location),
            std::string("attempt to change file length of a read-only file"));
  error4set(&c4, 0);
  EXPECT_EQ(file4flush(&file), 0);
  file4close(&file);
  EXPECT_EQ(testsupport::ReadAll(path), "abc");
}

TEST(File4, TemporaryFiles) {
  TempDir dir;
  setenv("TMPDIR", dir.path().c_str(), 1);
  TestCode4 c4(xbasetest::WithoutCache());
  FILE4 file{};
  ASSERT_EQ(file4tempLow(&file, &c4, 1, 1, nullptr), 0);
  std::string name = file.name;
  EXPECT_EQ(name.rfind(dir.path() + "/TEMP", 0), 0u);
  ASSERT_EQ(name.size(), dir.path().size() + 13);
  for (int i = 0; i < 4; i++) EXPECT_TRUE(isdigit(name[dir.path().size() + 5 + i])) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
  EXPECT_TRUE(std::filesystem::exists(name));
  file4close(&file);
  EXPECT_FALSE(std::filesystem::exists(name));  // removed on close

  // A temporary data file avoids names whose index or memo file exists; every
  // name taken: an error after 100 tries.
  struct EveryIndexExists : platform::EnvWrapper {
    EveryIndexExists() : EnvWrapper(platform::Env::Current()) {}
    int RawStat(std::string_view path, platform::FileInfo* info) override {
      if (path.size() > 4 && path.substr(path.size() - 4) == ".cdx") return 0;
      return target_.RawStat(path, info);
    }
  } taken;
  {
    platform::ScopedEnv scope(taken);
    EXPECT_EQ(file4tempLow(&file, &c4, 1, 1, "dbf"), -20);
  }
  EXPECT_EQ(error4locationText(c4.Last()->location), std::string("error creating temporary working file"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  unsetenv("TMPDIR");
}

TEST(File4, SequentialReadAndWrite) {
  TempDir dir;
  TestCode4 c4;
  FILE4 file{};
  ASSERT_EQ(file4create(&file, &c4, dir.File("seq.dat").c_str(), 1), 0);
  char buffer[4096];
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(file4seqWriteInit(&writer, &file, 100, buffer, sizeof buffer), 0);
  std::string expected;
  for (int i = 0; i < 500; i++) {
    std::string piece = std::to_string(i) + ",";
    ASSERT_EQ(file4seqWrite(&writer, piece.data(), unsigned(piece.size())), 0);
    expected += piece;
  }
  ASSERT_EQ(file4seqWriteRepeat(&writer, 1300, 'z'), 0);
  expected += std::string(1300, 'z');
  ASSERT_EQ(file4seqWriteClose(&writer), 0);
  EXPECT_EQ(file4len(&file), 100 + expected.size());

  char readBuffer[2048];
  FILE4SEQ_READ reader;
  ASSERT_EQ(file4seqReadInit(&reader, &file, 100, readBuffer, sizeof readBuffer), 0);
  std::string back(expected.size(), '\0');
  unsigned done = 0;
  while (done < back.size()) {
    unsigned n = file4seqRead(&reader, back.data() + done, 7);
    if (n == 0) break;
    done += n;
  }
  EXPECT_EQ(back, expected);
  char more[4];
  EXPECT_EQ(file4seqReadAll(&reader, more, 4), -70);
  file4close(&file);
}

TEST(File4, RepeatWritesInPiecesOf512) {
  struct Recording : platform::EnvWrapper {
    Recording() : EnvWrapper(platform::Env::Current()) {}
    int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
      sizes.push_back(n);
      return target_.WriteAt(fd, b, n, o);
    }
    std::vector<size_t> sizes;
  } recording;
  TempDir dir;
  TestCode4 c4;
  FILE4 file{};
  ASSERT_EQ(file4create(&file, &c4, dir.File("rep.dat").c_str(), 1), 0);
  platform::ScopedEnv scope(recording);
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(file4seqWriteInit(&writer, &file, 0, nullptr, 0), 0);
  ASSERT_EQ(file4seqWriteRepeat(&writer, 1300, '-'), 0);
  EXPECT_EQ(recording.sizes, (std::vector<size_t>{512, 512, 276}));
  EXPECT_EQ(file4seqWriteRepeat(&writer, -1, '-'), -930);
  error4set(&c4, 0);
  file4close(&file);
}

}  // namespace
