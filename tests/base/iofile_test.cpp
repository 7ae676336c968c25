#include "base/iofile.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

struct Outcome {
  std::vector<std::string> lines;
  int32_t code = -1;
  std::string detail;
};

Outcome ReadLines(const std::string& bytes) {
  TempDir dir;
  std::string path = dir.Write("in.txt", bytes);
  QError error;
  QInputFile in(path.c_str(), error);
  Outcome out;
  char line[2048];
  for (int i = 0; i < 100; ++i) {
    int n = in.ReadLine(line);
    if (n < 0) break;
    EXPECT_EQ(size_t(n), std::string(line).size());
    out.lines.emplace_back(line);
  }
  EXPECT_EQ(in.ReadLine(line), -1);  // stays at the end
  out.code = error.Code();
  out.detail = error.Detail();
  // The file name in the texts varies with the folder.
  size_t at = out.detail.find(path);
  if (at != std::string::npos) out.detail.replace(at, path.size(), "FILE");
  return out;
}

TEST(QInputFileTest, Delimiters) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
    int32_t code;
    std::string detail;
  } cases[] = {
      {"crlf then end without delimiter", "a\r\nb", {"a", "b"}, -1, ""},
      {"lf keeps a cr inside a line", "x\na\rb\n", {"x", "a\rb"}, -1, ""},
      {"cr keeps an lf inside a line", "a\rb\nc\r", {"a", "b\nc"}, -1, ""},
      {"lf first decides lf", "a\nb\rc\r", {"a", "b\rc\r"}, -1, ""},
      {"lf before cr decides lf", "x\ny\rz\n", {"x", "y\rz"}, -1, ""},
      {"empty lines count", "\n\nq\n", {"", "", "q"}, -1, ""},
      {"bare lf in a crlf file", "a\r\nb\nc\r\n", {"a"}, 100, "LF without CR in input file:\nFILE\nLine: 2"},
      {"cr without lf in a crlf file", "a\r\nb\rc\r\n", {"a"}, 100, "CR without LF in input file:\nFILE\nLine: 2"},
      {"ctrl-z ends a line", std::string("ab\x1a" "cd\n", 6), {"ab", "cd"}, -1, ""},
      {"no delimiter at all", std::string(100, 'x'), {}, 100,
       "File does not have CR, LF, or CR/LF line delimiters.\nFILE"},
      {"a nul hides the delimiter", std::string("ab\0\ncd", 6), {}, 100,
       "File does not have CR, LF, or CR/LF line delimiters.\nFILE"},
  };
  for (const auto& c : cases) {
    Outcome out = ReadLines(c.bytes);
    EXPECT_EQ(out.lines, c.lines) << c.name;
    EXPECT_EQ(out.code, c.code) << c.name;
    EXPECT_EQ(out.detail, c.detail) << c.name;
  }
}

TEST(QInputFileTest, LineLengthLimit) {
  // The delimiter is found in the first 512 bytes, so the long line comes second.
  Outcome ok = ReadLines("x\n" + std::string(2047, 'a') + "\n" + "b\n");
  ASSERT_EQ(ok.lines.size(), 3u);
  EXPECT_EQ(ok.lines[1].size(), 2047u);
  Outcome bad = ReadLines("x\n" + std::string(2048, 'a') + "\n");
  EXPECT_EQ(bad.lines, std::vector<std::string>{"x"});
  EXPECT_EQ(bad.code, 100);
  EXPECT_EQ(bad.detail, "Maximum line length of 2047 is\nshorter than line 2. ");
}

TEST(QInputFileTest, LinesAcrossBufferRefills) {
  std::string bytes;
  std::vector<std::string> expected;
  for (int i = 0; i < 5000; ++i) {
    expected.push_back("line " + std::to_string(i) + std::string(size_t(i % 37), '.'));
    bytes += expected.back() + "\r\n";
  }
  TempDir dir;
  std::string path = dir.Write("big.txt", bytes);
  QError error;
  QInputFile in(path.c_str(), error);
  char line[2048];
  for (const auto& e : expected) {
    ASSERT_EQ(in.ReadLine(line), int(e.size()));
    ASSERT_EQ(std::string(line), e);
  }
  EXPECT_EQ(in.ReadLine(line), -1);
  EXPECT_EQ(in.LineNumber(), 5001u);
  EXPECT_EQ(in.CharactersTaken(), bytes.size());
  EXPECT_FALSE(in.InError());
}

TEST(QInputFileTest, AMissingFileLeavesTheReaderInError) {
  TempDir dir;
  QError error;
  QInputFile in(dir.File("missing.txt").c_str(), error);
  EXPECT_TRUE(in.InError());
  EXPECT_EQ(error.Code(), ENOENT);
  char line[2048];
  EXPECT_EQ(in.ReadLine(line), -1);
}

}  // namespace
