#include "base/qfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/qio.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

TEST(QFileTest, OpensAnUpperCaseFileByItsLowerCaseName) {
  TempDir dir;
  dir.Write("NC.SHP", "shape");
  QError error;
  QFile file(error, dir.File("nc.shp").c_str(), QFile::kRead);
  ASSERT_TRUE(file.IsOpen()) << error.Message();
  char buffer[5];
  EXPECT_EQ(file.Read(buffer, 5, true), 5);
  EXPECT_EQ(std::string(buffer, 5), "shape");
  EXPECT_EQ(FileSize64(dir.File("Nc.Shp").c_str()), 5);
  EXPECT_EQ(FileSize64(dir.File("missing").c_str()), -1);
}

TEST(QFileTest, BackslashesSeparateFolders) {
  TempDir dir;
  dir.Write("a.txt", "x");
  std::string windowsish = dir.path() + "\\a.txt";
  QError error;
  QFile file(error, windowsish.c_str(), QFile::kRead);
  EXPECT_TRUE(file.IsOpen());
}

TEST(QFileTest, OpenFailures) {
  TempDir dir;
  QError error;
  QFile file(error);
  EXPECT_FALSE(file.Open("", QFile::kRead));
  EXPECT_EQ(error.Code(), 100);
  EXPECT_STREQ(error.Detail(), "NULL file name on Qfile Open");
  EXPECT_STREQ(error.Location(), "Error recorded in: ..\\src\\qfile, (87).");

  // A name that would have to be cut is refused, never opened as another file.
  std::string longName = dir.path() + "/" + std::string(300 - dir.path().size() - 1, 'n');
  dir.Write(std::string(255 - dir.path().size() - 1, 'n'), "other");
  EXPECT_FALSE(file.Open(longName.c_str(), QFile::kRead));
  EXPECT_EQ(error.Code(), ENAMETOOLONG);
  EXPECT_EQ(std::strlen(error.Detail()), 255u);
  EXPECT_FALSE(file.IsOpen());

  EXPECT_FALSE(file.Open(dir.File("none").c_str(), QFile::kRead));
  EXPECT_EQ(error.Code(), ENOENT);
  EXPECT_STREQ(error.Message(), "No such file or directory");
  EXPECT_EQ(error.Detail(), dir.File("none"));
}

TEST(QFileTest, SharedModeOnAMissingFileFailsTwice) {
  TempDir dir;
  QError error;
  QFile file(error);
  EXPECT_FALSE(file.Open(dir.File("none").c_str(), QFile::kShared));
  EXPECT_EQ(error.Code(), ENOENT);  // the ordinary open's failure is the last recorded
  EXPECT_FALSE(file.IsOpen());
}

TEST(QFileTest, SharedViewsAreOnePerFileWhateverTheSpelling) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  dir.Write("sub/Data.bin", std::string(1000, 'd'));
  size_t before = QSharedViewCount();
  QError error;
  std::string a = dir.path() + "\\sub\\Data.bin";
  std::string b = dir.path() + "/sub/../sub/data.BIN";
  QFile first(error, a.c_str(), QFile::kShared);
  QFile second(error, b.c_str(), QFile::kShared);
  ASSERT_TRUE(first.IsMapped()) << error.Detail();
  ASSERT_TRUE(second.IsMapped());
  EXPECT_EQ(first.View(), second.View());
  EXPECT_EQ(QSharedViewCount(), before + 1);
  first.Close();
  EXPECT_EQ(QSharedViewCount(), before + 1);
  second.Close();
  EXPECT_EQ(QSharedViewCount(), before);
}

TEST(QFileTest, MappedReadsStopAtTheEndOfTheView) {
  TempDir dir;
  std::string path = dir.Write("f.bin", "0123456789");
  QError error;
  QFile file(error, path.c_str(), QFile::kShared);
  ASSERT_TRUE(file.IsMapped());
  char buffer[16] = {};
  EXPECT_TRUE(file.ReadAt(6, buffer, 4));
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_FALSE(file.ReadAt(7, buffer, 4));
  EXPECT_FALSE(file.ReadAt(11, buffer, 1));
  EXPECT_FALSE(file.ReadAt(int64_t(1) << 40, buffer, 1));
  ASSERT_TRUE(file.Seek(8));
  EXPECT_EQ(file.Read(buffer, 4, false), 2);
  EXPECT_EQ(file.Read(buffer, 4, true), -1);
  EXPECT_EQ(error.Code(), 28);
  ASSERT_TRUE(file.Seek(0, QFile::kFromEnd));
  EXPECT_EQ(file.Read(buffer, 1, false), 0);
  EXPECT_FALSE(file.Seek(-1));
}

TEST(QFileTest, DescriptorReadsSeeksAndWrites) {
  TempDir dir;
  std::string path = dir.Write("f.bin", "abcdef");
  QError error;
  QFile file(error, path.c_str(), QFile::kReadWrite);
  ASSERT_TRUE(file.IsOpen());
  char buffer[8] = {};
  EXPECT_TRUE(file.ReadAt(2, buffer, 2));
  EXPECT_EQ(std::string(buffer, 2), "cd");
  EXPECT_EQ(file.Read(buffer, 2, true), 2);  // continues after the positioned read
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(file.Read(buffer, 2, true), -1);
  EXPECT_EQ(error.Code(), 28);
  EXPECT_EQ(file.Read(buffer, 2, false), 0);
  EXPECT_FALSE(file.ReadAt(5, buffer, 2));
  ASSERT_TRUE(file.Seek(-2, QFile::kFromEnd));
  EXPECT_TRUE(file.Write("XY", 2));
  ASSERT_TRUE(file.Seek(-1, QFile::kFromCurrent));
  EXPECT_TRUE(file.Write("Z", 1));
  EXPECT_FALSE(file.Seek(-100, QFile::kFromCurrent));
  EXPECT_FALSE(file.Seek(0, 7));
  file.Close();
  EXPECT_EQ(testsupport::ReadAll(path), "abcdXZ");
  EXPECT_FALSE(file.Close());
}

TEST(QFileTest, AppendModeWritesAtTheEnd) {
  TempDir dir;
  std::string path = dir.Write("log.txt", "one\n");
  QError error;
  QFile file(error, path.c_str(), QFile::kAppend);
  ASSERT_TRUE(file.Seek(0));
  EXPECT_TRUE(file.Write("two\n", 4));
  file.Close();
  EXPECT_EQ(testsupport::ReadAll(path), "one\ntwo\n");
}

TEST(QFileTest, TemporaryFilesAreGoneAfterClose) {
  TempDir dir;
  QError error;
  QFile file(error);
  ASSERT_TRUE(file.OpenTemp(dir.path().c_str())) << error.Message();
  std::string name = file.Name();
  EXPECT_EQ(name.rfind(dir.path() + "/qf.tmp.r", 0), 0u) << name;
  EXPECT_NE(name.find(".s"), std::string::npos);
  EXPECT_TRUE(file.Write("abc", 3));
  EXPECT_TRUE(std::filesystem::exists(name));
  file.Close();
  EXPECT_FALSE(std::filesystem::exists(name));

  QFile created(error);
  ASSERT_TRUE(created.Create(dir.File("made").c_str(), 0600, true));
  created.Close();
  EXPECT_FALSE(std::filesystem::exists(dir.File("made")));
}

TEST(QioFileTest, PadFillReserve) {
  TempDir dir;
  QError error;
  QioFile file(dir.File("out").c_str(), error);
  ASSERT_GE(file.Descriptor(), 0);
  std::string data(1000, 'a');
  ASSERT_TRUE(file.WriteAt(0, 1000, data.data()));
  EXPECT_TRUE(file.PadToMultiple(512));
  EXPECT_EQ(FileSize64(dir.File("out").c_str()), 1024);
  EXPECT_TRUE(file.PadToMultiple(512));
  EXPECT_EQ(FileSize64(dir.File("out").c_str()), 1024);
  EXPECT_EQ(file.Reserve(3000), 1024);
  EXPECT_TRUE(file.Fill(10, 5));
  EXPECT_TRUE(file.Close());
  std::string bytes = testsupport::ReadAll(dir.File("out"));
  ASSERT_EQ(bytes.size(), 4024u);
  EXPECT_EQ(bytes.substr(0, 10), std::string(10, 'a'));
  EXPECT_EQ(bytes.substr(10, 5), std::string(5, '\0'));
  EXPECT_EQ(bytes.substr(1000), std::string(3024, '\0'));

  QioFile bad((dir.File("no/such/folder")).c_str(), error);
  EXPECT_EQ(bad.Descriptor(), -1);
  EXPECT_EQ(error.Code(), ENOENT);
}

TEST(QioFileTest, TreeTemporariesAreNew) {
  TempDir dir;
  std::string a, b;
  int fa = QioOpenTreeTemp(&a, dir.path());
  int fb = QioOpenTreeTemp(&b, dir.path());
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  EXPECT_EQ(a, dir.File("qtb.tmp.0"));
  EXPECT_EQ(b, dir.File("qtb.tmp.1"));
  QError error;
  EXPECT_TRUE(Q_close(fa, error));
  EXPECT_TRUE(Q_close(fb, error));
  EXPECT_FALSE(Q_close(fb, error));
  EXPECT_EQ(error.Code(), EBADF);
}

TEST(QioTraceTest, EachCallPrintsOneLine) {
  TempDir dir;
  std::string path = dir.Write("t.bin", "12345678");
  char* text = nullptr;
  size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  QSetTraceStream(stream);
  {
    QError error;
    QFile file(error, path.c_str(), QFile::kRead);
    char buffer[4];
    file.ReadAt(4, buffer, 4);
    file.Read(buffer, 4, false);
  }
  QSetTraceStream(nullptr);
  std::fclose(stream);
  std::string trace(text, size);
  std::free(text);
  EXPECT_NE(trace.find("Open( " + path + ", "), std::string::npos) << trace;
  EXPECT_NE(trace.find(" ) = 4\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Seek( "), std::string::npos);
  EXPECT_NE(trace.find(", 4, 0 ) = 4\n"), std::string::npos);
  EXPECT_NE(trace.find(", 4 ) = FAILED(0)\n"), std::string::npos);
  EXPECT_NE(trace.find("Close( "), std::string::npos);
}

TEST(FindFileOnPathTest, SkipsEmptyElementsAndKeepsTheOrder) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("one"));
  std::filesystem::create_directory(dir.File("two"));
  dir.Write("two/zip4.dat", "x");
  dir.Write("one/other.dat", "x");
  std::string list = ";;" + dir.File("one") + ";" + dir.File("two");
  char result[512];
  EXPECT_EQ(FindFileOnPath(list.c_str(), "zip4.dat", result, sizeof result), result);
  EXPECT_EQ(std::string(result), dir.File("two") + "/zip4.dat");
  EXPECT_STREQ(FindFileOnPath(list.c_str(), "*.dat", result, sizeof result),
               (dir.File("one") + "/other.dat").c_str());
  EXPECT_EQ(FindFileOnPath(list.c_str(), "none.*", result, sizeof result), nullptr);
  EXPECT_STREQ(result, "");
  EXPECT_EQ(FindFileOnPath("", "zip4.dat", result, sizeof result), nullptr);
  EXPECT_EQ(FindFileOnPath(list.c_str(), nullptr, result, sizeof result), nullptr);
  std::string named = dir.File("two") + "/ZIP4.DAT;1";
  EXPECT_STREQ(FindFileOnPath(nullptr, named.c_str(), result, sizeof result),
               (dir.File("two") + "/zip4.dat").c_str());
}

}  // namespace
