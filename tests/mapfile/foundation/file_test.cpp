// The file layer: counted opens, share locks between processes, idle
// descriptors, the page cache, text lines and the changed flag.
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "platform/env.h"

namespace {

using namespace layerio;
using mapfiletest::FileLayerTest;

// Runs body in another process and gives its exit value.
int InChild(const std::function<int()>& body) {
  return platform::WaitChild(platform::StartChild(body));
}

std::string ReadAllThrough(FileHandle h) {
  std::string out;
  char block[777];
  FileSeek(h, 0, 0);
  for (int32_t n; (n = FileRead(h, block, sizeof block)) > 0;) out.append(block, size_t(n));
  return out;
}

TEST_F(FileLayerTest, OpensAreCountedAndAReadOpenIsUpgradedForWriting) {
  dir_.Write("t.dat", "0123456789");
  FileHandle h = Add("t.dat");
  ASSERT_NE(h, 0);
  EXPECT_EQ(FileOpen(h, kFileModeRead, nullptr), h);
  EXPECT_EQ(FileOpen(h, kFileModeRead, nullptr), h);
  EXPECT_EQ(FileOpenCount(h), 2);
  EXPECT_EQ(FileDescriptorCount(), 1);
  EXPECT_EQ(FileGetAccessMode(h), kFileModeRead);

  EXPECT_EQ(FileOpen(h, kFileModeWrite, nullptr), h);
  EXPECT_EQ(FileOpenCount(h), 3);
  EXPECT_EQ(FileGetAccessMode(h), kFileModeWrite);
  EXPECT_EQ(FileDescriptorCount(), 1);
  EXPECT_EQ(FileWrite(h, "ab", 2), 2);

  EXPECT_EQ(FileOpen(h, kFileModeCreate, nullptr), -1);
  EXPECT_TRUE(Pushed(kErrFileModeConflict));

  for (int i = 0; i < 3; ++i) EXPECT_EQ(FileClose(h), 0);
  EXPECT_EQ(Contents("t.dat"), "ab23456789");
  EXPECT_EQ(FileClose(h), -1);
  EXPECT_TRUE(Pushed(kErrFileNoOpenCount));

  EXPECT_EQ(FileSize(999), -1);
  EXPECT_TRUE(Pushed(kErrFileBadHandle));
}

TEST_F(FileLayerTest, TheOpenAfterTheMostAnEntryCountsIsRefused) {
  dir_.Write("t.dat", "x");
  FileHandle h = Add("t.dat");
  for (int i = 0; i < kFileMaxOpenCount; ++i) ASSERT_EQ(FileOpen(h, kFileModeRead, nullptr), h);
  EXPECT_EQ(FileOpen(h, kFileModeRead, nullptr), -1);
  EXPECT_TRUE(Pushed(kErrFileOpenFailed));
  EXPECT_EQ(FileOpenCount(h), kFileMaxOpenCount);
  EXPECT_EQ(FileGetAccessMode(h), kFileModeRead);  // the mode bits are untouched
}

TEST_F(FileLayerTest, ShareModesHoldBetweenProcessesAndBetweenEntries) {
  struct Case {
    const char* name;
    int held;
    int asked;
    int expected;  // 0 opened, 1 refused with 825, 2 refused without an error
  } cases[] = {
      {"readers share", kFileModeRead, kFileModeRead, 0},
      {"a writer waits for readers", kFileModeRead, kFileModeWrite, 1},
      {"readers wait for a writer", kFileModeWrite, kFileModeRead, 1},
      {"a create is refused quietly", kFileModeWrite, kFileModeCreate, 2},
  };
  dir_.Write("s.dat", "shared");
  const std::string path = PathOf("s.dat");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileHandle h = FileTableAddAny(path.c_str(), 0);
    ASSERT_EQ(FileOpen(h, c.held, nullptr), h);
    auto attempt = [&path, &c]() {
      ErrorClear();
      FileHandle other = FileTableAddAny(path.c_str(), 0);
      FileHandle r = FileOpen(other, c.asked, nullptr);
      int result = r == other ? 0 : ErrorHasCode(kErrFileAccessDenied) ? 1 : ErrorCount() == 0 ? 2 : 3;
      if (r == other) FileClose(other);
      FileRelease(other);
      return result;
    };
    EXPECT_EQ(InChild(attempt), c.expected);
    EXPECT_EQ(attempt(), c.expected);  // a second entry of this process
    EXPECT_EQ(Contents("s.dat"), "shared");  // a refused create cuts nothing
    // A closed entry keeps its descriptor but not its lock.
    EXPECT_EQ(FileClose(h), 0);
    EXPECT_EQ(InChild(attempt), 0);
    FileRelease(h);
  }
}

TEST_F(FileLayerTest, IdleDescriptorsAreReusedAndTheOldestGoesAtTheLimit) {
  for (const char* n : {"a", "b", "c"}) dir_.Write(n, n);
  FileHandle a = Add("a"), b = Add("b"), c = Add("c");
  FileSetDescriptorLimit(2);

  ASSERT_EQ(FileOpen(a, kFileModeRead, nullptr), a);
  ASSERT_EQ(FileClose(a), 0);
  ASSERT_EQ(FileOpen(a, kFileModeRead, nullptr), a);  // the idle descriptor again
  ASSERT_EQ(FileClose(a), 0);
  ASSERT_EQ(FileOpen(b, kFileModeRead, nullptr), b);
  ASSERT_EQ(FileClose(b), 0);
  EXPECT_EQ(FileDescriptorCount(), 2);

  ASSERT_EQ(FileOpen(c, kFileModeRead, nullptr), c);  // a, the oldest idle one, is closed
  EXPECT_EQ(FileDescriptorCount(), 2);
  ASSERT_EQ(FileOpen(b, kFileModeRead, nullptr), b);  // still idle: no descriptor needed
  EXPECT_EQ(FileDescriptorCount(), 2);
  char byte = 0;
  EXPECT_EQ(FileRead(b, &byte, 1), 1);
  EXPECT_EQ(byte, 'b');

  EXPECT_EQ(FileOpen(a, kFileModeRead, nullptr), -1);  // none idle now
  EXPECT_TRUE(Pushed(kErrFileNoDescriptor));
  FileClose(c);
  ErrorClear();
  EXPECT_EQ(FileOpen(a, kFileModeRead, nullptr), a);
  EXPECT_EQ(FileRead(a, &byte, 1), 1);
  EXPECT_EQ(byte, 'a');
  FileClose(a);
  FileClose(b);
  FileCloseIdle();
  EXPECT_EQ(FileDescriptorCount(), 0);
}

TEST_F(FileLayerTest, WritesPastTheEndExtendWithZerosAndReadBack) {
  dir_.Write("w.dat", std::string(1000, 'x'));
  FileHandle h = Add("w.dat");
  ASSERT_EQ(FileOpen(h, kFileModeWrite, nullptr), h);
  EXPECT_EQ(FileSize(h), 1000);
  EXPECT_EQ(FileSeek(h, -10, 2), 990);
  EXPECT_EQ(FileSeek(h, 1020, 0), 1020);
  EXPECT_EQ(FileWrite(h, "0123456789", 10), 10);
  EXPECT_EQ(FileSize(h), 1030);
  std::string expected = std::string(1000, 'x') + std::string(20, '\0') + "0123456789";
  EXPECT_EQ(ReadAllThrough(h), expected);  // from the cache, before anything is written
  char block[64];
  EXPECT_EQ(FileSeek(h, 1030, 0), 1030);
  EXPECT_EQ(FileRead(h, block, sizeof block), 0);
  EXPECT_EQ(FileSeek(h, 1020, 0), 1020);
  EXPECT_EQ(FileRead(h, block, sizeof block), 10);  // stops at the end in the last short page
  ASSERT_EQ(FileClose(h), 0);
  EXPECT_EQ(Contents("w.dat"), expected);

  // A cut followed by a growth shows zeros, not the bytes that were cut.
  ASSERT_EQ(FileOpen(h, kFileModeWrite, nullptr), h);
  ASSERT_EQ(FileSetSize(h, 5), 0);
  ASSERT_EQ(FileSetSize(h, 1100), 0);
  EXPECT_EQ(ReadAllThrough(h), std::string(5, 'x') + std::string(1095, '\0'));
  ASSERT_EQ(FileClose(h), 0);
  EXPECT_EQ(Contents("w.dat"), std::string(5, 'x') + std::string(1095, '\0'));
}

// Random writes, reads and size changes against a model of the file, over
// more pages than the cache holds, with the cache on and off.
TEST_F(FileLayerTest, RandomOperationsMatchAModelOfTheFile) {
  for (bool cached : {true, false}) {
    SCOPED_TRACE(cached ? "cached" : "uncached");
    if (!cached) FileLayerShutdown();
    std::string name = cached ? "m1.dat" : "m2.dat";
    FileHandle h = Add(name);
    ASSERT_EQ(FileOpen(h, kFileModeCreate, nullptr), h);
    std::string model;
    std::mt19937 random(7);
    for (int step = 0; step < 3000; ++step) {
      int op = int(random() % 10);
      int64_t at = int64_t(random() % 300000);
      int32_t n = int32_t(random() % 5000);  // reads of many pages too
      if (op < 5) {
        std::string bytes(size_t(n), char('a' + step % 26));
        ASSERT_EQ(FileSeek(h, at, 0), at);
        ASSERT_EQ(FileWrite(h, bytes.data(), n), n);
        if (n > 0 && model.size() < size_t(at + n)) model.resize(size_t(at + n), '\0');
        if (n > 0) model.replace(size_t(at), size_t(n), bytes);
      } else if (op < 9) {
        std::vector<char> got(size_t(n) + 1);
        ASSERT_EQ(FileSeek(h, at, 0), at);
        int32_t r = FileRead(h, got.data(), n);
        int32_t want = at >= int64_t(model.size()) ? 0 : int32_t(std::min<int64_t>(n, int64_t(model.size()) - at));
        ASSERT_EQ(r, want) << "step " << step;
        if (want > 0) {
          ASSERT_EQ(std::string(got.data(), size_t(r)), model.substr(size_t(at), size_t(want)))
              << "step " << step;
        }
      } else {
        ASSERT_EQ(FileSetSize(h, at), 0);
        model.resize(size_t(at), '\0');
      }
      ASSERT_EQ(FileSize(h), int64_t(model.size())) << "step " << step << " op " << op << " at " << at << " n " << n;
      if (step % 700 == 699) {  // closed and taken up again with its pages
        ASSERT_EQ(FileClose(h), 0);
        ASSERT_EQ(FileOpen(h, kFileModeWrite, nullptr), h);
      }
    }
    ASSERT_EQ(FileClose(h), 0);
    EXPECT_TRUE(Contents(name) == model);
  }
}

TEST_F(FileLayerTest, LinesEndAsTheFileCharsetSaysAndAnyEndIsRead) {
  struct Case {
    int charset;
    const char* written;
  } cases[] = {
      {1, "one\ntwo 2\n3\n"},        // ISO8859_1
      {10, "one\r\ntwo 2\r\n3\r\n"}, // WindowsLatin1
      {21, "one\rtwo 2\r3\r"},       // MacRoman
      {52, "one\ntwo 2\n3\n"},       // PackedEUCJapanese
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    std::string name = "l" + std::to_string(c.charset) + ".txt";
    FileHandle h = Add(name);
    FileSetCharset(h, c.charset);
    ASSERT_EQ(FileOpenText(h, kFileModeCreate, nullptr), h);
    EXPECT_EQ(FilePuts("one\n", h), 0);
    EXPECT_EQ(FilePrintf(h, "two %d", 2), 5);
    EXPECT_EQ(FilePutChar('\n', h), '\n');
    EXPECT_EQ(FilePutChar('3', h), '3');
    EXPECT_EQ(FilePuts("\n", h), 0);
    ASSERT_EQ(FileClose(h), 0);
    EXPECT_EQ(Contents(name), c.written);

    ASSERT_EQ(FileOpenText(h, kFileModeRead, nullptr), h);
    char line[64];
    std::vector<std::string> lines;
    while (FileReadLine(line, sizeof line, h)) lines.emplace_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two 2\n", "3\n"}));
    FileClose(h);
  }

  struct Read {
    const char* name;
    std::string bytes;
    int size;
    std::vector<std::string> lines;
  } reads[] = {
      {"CR LF", "a\r\nb", 64, {"a\n", "b"}},
      {"CR alone", "a\rb", 64, {"a\n", "b"}},
      {"mixed", "a\r\nb\rc\nd\r", 64, {"a\n", "b\n", "c\n", "d\n"}},
      {"empty lines", "\r\n\r\r\n\n", 64, {"\n", "\n", "\n", "\n"}},
      {"Ctrl-Z ends", "a\n\x1A", 64, {"a\n"}},
      {"long lines are split", "abcdefgh\r\nij", 5, {"abcd", "efgh", "\n", "ij"}},
      {"a CR that fills the buffer", "abc\r\nd", 5, {"abc\n", "d"}},
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(r.name);
    dir_.Write("r.txt", r.bytes);
    FileHandle h = FileTableAddAny(PathOf("r.txt").c_str(), 0);
    ASSERT_EQ(FileOpenText(h, kFileModeRead, nullptr), h);
    std::vector<char> line(size_t(r.size));
    std::vector<std::string> got;
    while (FileReadLine(line.data(), r.size, h)) got.emplace_back(line.data());
    EXPECT_EQ(got, r.lines);
    FileRelease(h);
  }
}

TEST_F(FileLayerTest, AFileChangedByAnotherProcessIsSeenAtTheNextOpen) {
  struct Case {
    const char* name;
    bool rename;
    bool change;
    std::string after;
  } cases[] = {
      {"untouched", false, false, std::string(2000, 'A')},
      {"rewritten in place", false, true, std::string(2100, 'B')},
      {"renamed over, same size", true, true, std::string(2000, 'C')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("c.dat", std::string(2000, 'A'));
    FileHandle h = Add("c.dat");
    uint32_t changed = 0;
    ASSERT_EQ(FileOpen(h, kFileModeRead, &changed), h);
    EXPECT_EQ(changed, 0u);  // nothing was recorded before the first open
    EXPECT_EQ(ReadAllThrough(h), std::string(2000, 'A'));  // now in the cache
    ASSERT_EQ(FileClose(h), 0);
    if (c.change) {
      const std::string path = PathOf("c.dat"), aside = PathOf("c.new");
      ASSERT_EQ(InChild([&]() {
                  auto& env = platform::Env::Current();
                  std::string target = c.rename ? aside : path;
                  int fd = env.Open(target, platform::kReadWrite | platform::kCreate | platform::kTruncate, 0666);
                  if (fd < 0 || env.Write(fd, c.after.data(), c.after.size()) != int64_t(c.after.size()))
                    return 1;
                  env.Close(fd);
                  return c.rename && env.Rename(aside, path) != 0 ? 1 : 0;
                }),
                0);
    }
    changed = 0;
    ASSERT_EQ(FileOpen(h, kFileModeRead, &changed), h);
    EXPECT_EQ(changed, c.change ? 1u : 0u);
    EXPECT_EQ(FileSize(h), int64_t(c.after.size()));
    EXPECT_EQ(ReadAllThrough(h), c.after);
    FileClose(h);
    FileRelease(h);
  }
}

TEST_F(FileLayerTest, CopyAppendAndFailures) {
  dir_.Write("src.dat", std::string(10000, 's'));
  dir_.Write("dst.dat", "head");
  FileHandle s = Add("src.dat"), d = Add("dst.dat");
  EXPECT_EQ(FileCopy(s, d, 1), 1);
  EXPECT_EQ(Contents("dst.dat"), "head" + std::string(10000, 's'));
  EXPECT_EQ(FileCopy(s, d, 0), 1);
  EXPECT_EQ(Contents("dst.dat"), std::string(10000, 's'));
  EXPECT_EQ(FileOpenCount(s), 0);
  FileHandle missing = Add("none.dat");
  EXPECT_EQ(FileCopy(missing, d, 0), 0);
  EXPECT_TRUE(Pushed(kErrFileNotFound));
  EXPECT_TRUE(Pushed(kErrFileCopyFailed));

  FileStatRec st;
  ASSERT_EQ(FileStat(PathOf("SRC.DAT").c_str(), &st), 0);  // found ignoring case
  EXPECT_EQ(st.size, 10000);
  EXPECT_EQ(st.attributes, kFileAttrNormal);
  EXPECT_EQ(FileStat(PathOf("nothing").c_str(), &st), -1);
  EXPECT_EQ(NumParseLongN("12345", 3), 123);
  EXPECT_EQ(FileModeFromFlags(0x100 | 2), kFileModeCreate);
  EXPECT_EQ(FileModeFromFlags(1), kFileModeWrite);
  EXPECT_EQ(FileModeFromFlags(0), kFileModeRead);
}

}  // namespace
