#include "platform/env.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

TEST(PathTest, SeparatorsAndParts) {
  EXPECT_EQ(platform::NormalizeSeparators("a\\b/c"), "a/b/c");
  EXPECT_EQ(platform::DirectoryOf("a\\b\\c.shp"), "a/b");
  EXPECT_EQ(platform::DirectoryOf("c.shp"), ".");
  EXPECT_EQ(platform::DirectoryOf("/c.shp"), "/");
  EXPECT_EQ(platform::BaseNameOf("a\\b/c.shp"), "c.shp");
  EXPECT_EQ(platform::JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(platform::JoinPath("a", "b"), "a/b");
}

TEST(PathTest, AsciiCaseIgnoresTheLocale) {
  EXPECT_TRUE(platform::AsciiEqualsIgnoreCase("Roads.DBF", "roads.dbf"));
  EXPECT_FALSE(platform::AsciiEqualsIgnoreCase("\xC9t\xE9", "\xE9t\xE9"));  // no folding above 127
  EXPECT_LT(platform::AsciiCompareIgnoreCase("abc", "ABD"), 0);
  EXPECT_EQ(platform::AsciiCompareIgnoreCase("abc", "ABC"), 0);
  EXPECT_GT(platform::AsciiCompareIgnoreCase("abcd", "ABC"), 0);
}

TEST(PathTest, Wildcards) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.shp", "NC.SHP", true}, {"n?.shp", "nc.shp", true}, {"*", "", true},
      {"a*b*c", "aXXbYc", true},  {"a*b*c", "aXXbY", false}, {"?", "", false},
      {"nc.shp", "nc.shx", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(EnvTest, ResolveExistingFindsTheOneEntryIgnoringCase) {
  TempDir dir;
  dir.Write("NC.SHP", "x");
  dir.Write("exact.dbf", "x");
  auto& env = platform::Env::Current();
  EXPECT_EQ(env.ResolveExisting(dir.File("nc.shp")), dir.File("NC.SHP"));
  EXPECT_EQ(env.ResolveExisting(dir.path() + "\\nc.Shp"), dir.File("NC.SHP"));
  EXPECT_EQ(env.ResolveExisting(dir.File("exact.dbf")), dir.File("exact.dbf"));
  EXPECT_EQ(env.ResolveExisting(dir.File("none.dbf")), dir.File("none.dbf"));
  platform::FileInfo info;
  EXPECT_EQ(env.PathStat(dir.File("Nc.sHp"), &info), 0);
  EXPECT_EQ(info.size, 1);
}

TEST(EnvTest, FullPathNormalises) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  auto& env = platform::Env::Current();
  std::string full;
  ASSERT_TRUE(env.FullPath(dir.path() + "\\sub\\..\\sub\\.\\new.txt", &full));
  std::string real = std::filesystem::canonical(dir.path()).string();
  EXPECT_EQ(full, real + "/sub/new.txt");
}

TEST(EnvTest, TemporaryFilesAreExclusiveAndHonourTmpdir) {
  TempDir dir;
  auto& env = platform::Env::Current();
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  EXPECT_EQ(env.TempDirectory(), dir.path());
  std::string a, b;
  int fa = env.CreateTemp("", "x_", ".tmp", &a);
  int fb = env.CreateTemp("", "x_", ".tmp", &b);
  if (old)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(platform::DirectoryOf(a), dir.path());
  EXPECT_EQ(env.Open(a, platform::kReadWrite | platform::kCreate | platform::kExclusive), -1);
  EXPECT_EQ(errno, EEXIST);
  env.Close(fa);
  env.Close(fb);
}

// A stand-in that fails every write, as a full disk would.
class FullDisk : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int64_t Write(int, const void*, size_t) override {
    errno = ENOSPC;
    return -1;
  }
  int64_t WriteAt(int, const void*, size_t, int64_t) override {
    errno = ENOSPC;
    return -1;
  }
};

// A second holder waits for the first; the lock file goes with the last.
TEST(EnvTest, PathLockSerialisesHolders) {
  TempDir dir;
  const std::string path = dir.File("out.gsb");
  platform::PathLock first;
  ASSERT_TRUE(first.Acquire(path));
  EXPECT_TRUE(std::filesystem::exists(path + ".lock"));
  std::atomic<bool> held{false};
  std::thread second([&] {
    platform::PathLock lock;
    ASSERT_TRUE(lock.Acquire(path));
    held = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(held);
  first.Release();
  second.join();
  EXPECT_TRUE(held);
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
}

TEST(EnvTest, TestsCanStandInForTheSystem) {
  TempDir dir;
  FullDisk full(platform::Env::Current());
  platform::ScopedEnv scope(full);
  auto& env = platform::Env::Current();
  EXPECT_EQ(&env, &full);
  int fd = env.Open(dir.File("f"), platform::kWrite | platform::kCreate, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(env.Write(fd, "x", 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  env.Close(fd);
  EXPECT_EQ(platform::ErrnoText(ENOSPC), "No space left on device");
}

// Two bytes a call at most, as a host's short writes would give.
class ShortWrites : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    return EnvWrapper::WriteAt(fd, b, n < 2 ? n : 2, o);
  }
};

// A gathered write lays its pieces one after another from the offset, in the
// host's single call and in the default's piece by piece; the default stops
// where WriteAt comes short, and a failing disk gives -1.
TEST(EnvTest, GatheredWritesLayPiecesInOrder) {
  TempDir dir;
  const std::string path = dir.Write("g", "..........");
  const platform::Env::WritePiece pieces[] = {{"ab", 2}, {"", 0}, {"cde", 3}};
  auto bytes = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto& env = platform::Env::Current();
  int fd = env.Open(path, platform::kReadWrite, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(env.WriteAtGather(fd, pieces, 3, 8), 5);
  EXPECT_EQ(bytes(), "........abcde");
  ShortWrites shortWrites(env);
  EXPECT_EQ(shortWrites.WriteAtGather(fd, pieces, 3, 1), 4);
  EXPECT_EQ(bytes(), ".abcd...abcde");
  FullDisk full(env);
  EXPECT_EQ(full.WriteAtGather(fd, pieces, 3, 0), -1);
  env.Close(fd);
}

// Share locks belong to each open of a file: two opens conflict even in one
// process, readers share, and the lock goes when it is dropped or closed.
TEST(EnvTest, ShareLocksHoldBetweenOpensOfOneFile) {
  TempDir dir;
  const std::string path = dir.Write("s.dat", "x");
  auto& env = platform::Env::Current();
  int a = env.Open(path, platform::kReadWrite);
  int b = env.Open(path, platform::kReadWrite);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(env.ShareLock(a, false), 0);
  EXPECT_EQ(env.ShareLock(b, false), 0);
  EXPECT_EQ(env.ShareLock(b, true), -1);  // a still reads
  EXPECT_EQ(env.ShareUnlock(a), 0);
  EXPECT_EQ(env.ShareLock(b, true), 0);
  EXPECT_EQ(env.ShareLock(a, false), -1);
  EXPECT_TRUE(errno == EAGAIN || errno == EACCES);
  // Another process sees the same.
  int64_t child = platform::StartChild([&env, &path]() {
    int fd = env.Open(path, platform::kRead);
    return fd >= 0 && env.ShareLock(fd, false) == -1 ? 7 : 1;
  });
  EXPECT_EQ(platform::WaitChild(child), 7);
  env.Close(b);
  EXPECT_EQ(env.ShareLock(a, true), 0);
  env.Close(a);
}

// A FIFO, a device or a folder in a file's place is refused at once: a
// FIFO would block the open until a writer came, /dev/zero feed a reader
// without end.
TEST(EnvTest, OnlyRegularFilesOpen) {
  TempDir dir;
  ASSERT_EQ(std::system(("mkfifo " + dir.File("fifo")).c_str()), 0);
  std::filesystem::create_directory(dir.File("folder"));
  std::filesystem::create_symlink("/dev/zero", dir.File("zero"));
  const std::string plain = dir.Write("plain.dat", "x");
  auto& env = platform::Env::Current();
  struct Case {
    const char* what;
    std::string path;
    unsigned flags;
    int error;  // 0: opens
  } cases[] = {
      {"a regular file", plain, platform::kRead, 0},
      {"a FIFO read", dir.File("fifo"), platform::kRead, EINVAL},
      {"a FIFO written", dir.File("fifo"), platform::kReadWrite, EINVAL},
      {"a FIFO created", dir.File("fifo"), platform::kWrite | platform::kCreate | platform::kTruncate,
       EINVAL},
      {"a folder", dir.File("folder"), platform::kRead, EISDIR},
      {"a link to /dev/zero", dir.File("zero"), platform::kRead, EINVAL},
      {"/dev/null written", "/dev/null", platform::kWrite, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errno = 0;
    const int fd = env.Open(c.path, c.flags);
    if (c.error == 0) {
      ASSERT_GE(fd, 0);
      char byte = 0;
      EXPECT_EQ(env.Read(fd, &byte, 1), 1);  // blocking reads as before
      env.Close(fd);
    } else {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(errno, c.error);
    }
  }
  platform::FileInfo info;
  ASSERT_EQ(env.RawStat(dir.File("fifo"), &info), 0);
  EXPECT_FALSE(info.regular);
  ASSERT_EQ(env.RawStat(plain, &info), 0);
  EXPECT_TRUE(info.regular);
}

TEST(EnvTest, StatGivesNanosecondsAndTheProgramIsFound) {
  TempDir dir;
  const std::string path = dir.Write("t.dat", "12345");
  auto& env = platform::Env::Current();
  std::filesystem::last_write_time(
      path, std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>(
                std::chrono::nanoseconds(1700000000123456789LL))));
  platform::FileInfo info;
  ASSERT_EQ(env.RawStat(path, &info), 0);
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.modified, 1700000000);
  EXPECT_EQ(info.modifiedNanos, 1700000000123456789LL);
  EXPECT_EQ(env.RawStat(dir.File("T.DAT"), &info), -1);  // exact names only
  EXPECT_TRUE(std::filesystem::exists(env.ExecutablePath()));
  EXPECT_EQ(platform::WaitChild(platform::StartChild([]() { return 42; })), 42);
}

}  // namespace
