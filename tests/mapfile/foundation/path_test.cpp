// Paths, file kinds, the file table's names, temporary names, moves, set
// removal and searches.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "platform/env.h"

namespace {

using namespace layerio;
using mapfiletest::FileLayerTest;

std::string Full(const std::string& path) {
  std::vector<char> buffer(std::max(kPathCapacity, path.size() + 1));
  std::strcpy(buffer.data(), path.c_str());
  if (!PathFull(buffer.data())) return "(failed)";
  return buffer.data();
}

std::string Extended(const std::string& path, const char* extension) {
  std::vector<char> buffer(kPathCapacity);
  std::strcpy(buffer.data(), path.c_str());
  if (!PathSetExtension(buffer.data(), extension)) return "(failed)";
  return buffer.data();
}

std::vector<std::string> Found(const std::string& pattern, uint32_t mask) {
  std::vector<std::string> names;
  FileSearch search;
  for (int16_t more = FileFindFirst(pattern.c_str(), mask, &search); more; more = FileFindNext(&search))
    names.emplace_back(search.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(FileLayerTest, FullPathsAreCanonicalAndNeverCut) {
  const std::string cwd = platform::Env::Current().CurrentDirectory();
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\\..\\b\\.\\c", cwd + "/b/c"},
      {"/x/y/", "/x/y"},
      {"/", "/"},
      {"\\\\server\\share\\f.tab", "/server/share/f.tab"},
      {"/a/../../b", "/b"},
      {"/a//b", "/a/b"},
  };
  for (const auto& c : cases) EXPECT_EQ(Full(c.in), c.out) << c.in;

  const std::string longName(platform::kNameMax + 1, 'n');
  std::string longPath;  // relative: the current folder makes it too long
  for (int i = 0; i < 25; ++i) longPath += std::string(200, 'd') + "/";
  for (const std::string& bad : {"/tmp/" + longName, longPath}) {
    ErrorClear();
    EXPECT_EQ(Full(bad), "(failed)");
    EXPECT_EQ(ErrorLastCode(), kErrFileOpenFailed);
    EXPECT_EQ(FileTableAddName(bad.c_str(), 0), 0);
  }
  // A name that just fits takes no extension that would pass the limit.
  std::string fits(platform::kNameMax - 2, 'f');
  EXPECT_EQ(Extended("/d/" + fits, ".TAB"), "(failed)");
  EXPECT_EQ(Extended("/d/" + fits.substr(4), ".TAB"), "/d/" + fits.substr(4) + ".TAB");
}

TEST_F(FileLayerTest, ExtensionsReplaceKnownOnesAndKindsForceTheirs) {
  struct Case {
    const char* in;
    const char* extension;
    const char* out;
  } cases[] = {
      {"roads.dbf", ".TAB", "roads.TAB"},
      {"roads.v2", ".TAB", "roads.v2.TAB"},
      {"dir/  roads .dbf", ".TAB", "dir/roads.TAB"},
      {"roads.", ".MAP", "roads.MAP"},
      {"roads", "", "roads"},
  };
  for (const auto& c : cases) EXPECT_EQ(Extended(c.in, c.extension), c.out) << c.in;

  char out[kPathCapacity];
  EXPECT_STREQ(PathForTableFile(out, "/d/roads.dbf"), "/d/roads.TAB");
  EXPECT_STREQ(PathForTableFile(out, "/d/roads.tab"), "/d/roads.");
  EXPECT_STREQ(PathForKind(out, "/d/roads.TAB", 6), "/d/roads.ID");
  EXPECT_STREQ(PathToAlias("/d/my roads.tab", out), "my_roads");

  FileHandle map = Add("roads.dat", 5);
  EXPECT_STREQ(FileBaseName(map, out), "roads.MAP");
  EXPECT_STREQ(FileDir(map, out), (dir_.path() + "/").c_str());
  FileHandle txt = Add("roads.dat", 4);  // not forced: the name stays
  EXPECT_STREQ(FileBaseName(txt, out), "roads.dat");
}

TEST_F(FileLayerTest, TheTableComparesNamesExactly) {
  FileHandle a = Add("Roads.TAB", 1);
  ASSERT_NE(a, 0);
  EXPECT_EQ(Add("Roads.TAB", 1), 0);
  EXPECT_TRUE(Pushed(kErrFileAlreadyEntered));
  FileHandle b = Add("roads.tab", 1);  // another name on this system
  EXPECT_NE(b, 0);
  EXPECT_NE(b, a);
  EXPECT_EQ(FileTableFind(PathOf("Roads.TAB").c_str(), 1), a);
  EXPECT_EQ(FileTableFind(PathOf("roads.tab").c_str(), 1), b);
  EXPECT_EQ(FileTableFind(PathOf("ROADS.TAB").c_str(), 1), 0);
  FileHandle c = FileTableAddAny(PathOf("Roads.TAB").c_str(), 1);
  EXPECT_NE(c, 0);
  FileRelease(a);
  FileRelease(c);
  EXPECT_EQ(Add("Roads.TAB", 1), a);  // the freed entry is taken again

  char out[kPathCapacity];
  std::strcpy(out, "sub/x.dat");
  ASSERT_TRUE(PathRelativeToFile(out, b));
  EXPECT_EQ(std::string(out), PathOf("sub/x.dat"));
  std::strcpy(out, "/abs/x.dat");
  ASSERT_TRUE(PathRelativeToFile(out, b));
  EXPECT_STREQ(out, "/abs/x.dat");
  FileHandle sub = Add("sub/x.dat");
  EXPECT_STREQ(FilePathRelative(sub, out, b), "sub/x.dat");
}

TEST_F(FileLayerTest, CompanionsWrittenInAnotherCaseAreOpened) {
  dir_.Write("roads.tab", "definition");
  dir_.Write("roads.map", "map bytes");
  FileHandle tab = Add("ROADS.TAB", 1);
  FileHandle map = FileTableAddCompanion(tab, nullptr, 5);
  ASSERT_NE(map, 0);
  char out[kPathCapacity];
  EXPECT_STREQ(FileBaseName(map, out), "ROADS.MAP");
  EXPECT_TRUE(FileExists(PathOf("ROADS.TAB").c_str(), 5));
  EXPECT_FALSE(FileExists(PathOf("ROADS.TAB").c_str(), 6));
  ASSERT_EQ(FileOpen(map, kFileModeRead, nullptr), map);
  char bytes[16] = {};
  EXPECT_EQ(FileRead(map, bytes, sizeof bytes), 9);
  EXPECT_STREQ(bytes, "map bytes");
  FileClose(map);
  EXPECT_GT(FileModTime(map), 0);

  FileHandle temp = FileTableAddCompanion(0, nullptr, 9);  // a temporary name, kind 0
  ASSERT_NE(temp, 0);
  EXPECT_EQ(std::string(FileBaseName(temp, out)).substr(0, 4), "~MAP");
  FileCloseAndRemove(temp);
}

TEST_F(FileLayerTest, TemporaryNamesSkipTakenOnesAndWrap) {
  dir_.Write("~MAP9999.TMP", "taken");
  State().tempCounter = 9998;
  char out[kPathCapacity];
  ASSERT_NE(TempFileName(out, dir_.path().c_str()), nullptr);
  EXPECT_EQ(std::string(out), PathOf("~MAP0000.TMP"));
  EXPECT_TRUE(std::filesystem::exists(out));  // claimed
  ASSERT_NE(TempFileName(out, (dir_.path() + "\\").c_str()), nullptr);
  EXPECT_EQ(std::string(out), PathOf("~MAP0001.TMP"));
}

TEST_F(FileLayerTest, ProcessesClaimingTemporaryNamesTogetherGetDistinctOnes) {
  constexpr int kProcesses = 4, kEach = 60;
  State().tempCounter = 0;  // every process starts from the same number
  std::vector<int64_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(platform::StartChild([this]() {
      char out[kPathCapacity];
      for (int i = 0; i < kEach; ++i)
        if (!TempFileName(out, dir_.path().c_str())) return 1;
      return 0;
    }));
  }
  for (int64_t child : children) EXPECT_EQ(platform::WaitChild(child), 0);
  EXPECT_EQ(Found(dir_.path() + "/~MAP*.TMP", kFileAttrNormal).size(), size_t(kProcesses * kEach));
}

TEST_F(FileLayerTest, SearchesMatchPatternsAndAttributes) {
  for (const char* n : {"a.tab", "b.TAB", "c.dat", ".hidden"}) dir_.Write(n, "x");
  std::filesystem::create_directory(PathOf("sub"));
  const std::string d = dir_.path() + "/";
  struct Case {
    std::string pattern;
    uint32_t mask;
    std::vector<std::string> names;
  } cases[] = {
      {d + "*.tab", kFileAttrNormal, {"a.tab", "b.TAB"}},
      {d + "*.*", kFileAttrNormal, {"a.tab", "b.TAB", "c.dat"}},
      {d + "?.dat", kFileAttrNormal, {"c.dat"}},
      {d + "*", kFileAttrDirectory, {"sub"}},
      {d + "*", kFileAttrHidden, {".hidden"}},
      {d + "sub\\*", kFileAttrDirectory, {}},
      {d + "none/*", ~0u, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Found(c.pattern, c.mask), c.names) << c.pattern;
  FileSearch search;
  ASSERT_TRUE(FileFindFirst((d + "*").c_str(), kFileAttrNormal, &search));
  FileFindClose(&search);  // left early
}

TEST_F(FileLayerTest, MovesRenameCopyAndRefuse) {
  dir_.Write("a.tab", "aaa");
  dir_.Write("taken.tab", "ttt");
  FileHandle h = Add("a.tab", 1);
  char out[kPathCapacity];

  // Only the letter case changes: the entry follows the file.
  ASSERT_TRUE(FileMove(&h, "A.tab", 0));
  EXPECT_STREQ(FileBaseName(h, out), "A.tab");
  EXPECT_EQ(Contents("A.tab"), "aaa");
  EXPECT_FALSE(std::filesystem::exists(PathOf("a.tab")));

  FileHandle before = h;
  EXPECT_FALSE(FileMove(&h, "taken.tab", 0));
  EXPECT_TRUE(Pushed(kErrFileMoveTarget));
  EXPECT_EQ(h, before);
  FileHandle other = Add("open.tab", 1);
  ErrorClear();
  EXPECT_FALSE(FileMove(&h, PathOf("open.tab").c_str(), 0));
  EXPECT_TRUE(Pushed(kErrFileMoveTarget));
  (void)other;

  ASSERT_TRUE(FileMove(&h, "sub/../b.tab", 0));
  EXPECT_EQ(std::string(FilePath(h, out)), PathOf("b.tab"));
  EXPECT_EQ(Contents("b.tab"), "aaa");
}

TEST_F(FileLayerTest, RemovingASetIsAllOrNothing) {
  dir_.Write("s.tab", "1");
  dir_.Write("s.dat", "2");
  dir_.Write("s.map", "3");
  FileHandle set[] = {Add("s.tab"), Add("s.dat"), Add("s.map")};
  FileHandle broken[] = {set[0], Add("missing.id"), set[1]};
  EXPECT_FALSE(FileRemoveSet(broken, 3));
  EXPECT_EQ(Contents("s.tab"), "1");  // put back
  EXPECT_EQ(Contents("s.dat"), "2");
  EXPECT_EQ(Found(dir_.path() + "/*", ~0u), (std::vector<std::string>{"s.dat", "s.map", "s.tab"}));

  ASSERT_EQ(FileOpen(set[2], kFileModeWrite, nullptr), set[2]);
  EXPECT_TRUE(FileRemoveSet(set, 3));
  EXPECT_EQ(Found(dir_.path() + "/*", ~0u), std::vector<std::string>{});
  EXPECT_TRUE(FileRemoveSet(nullptr, 0));
}

TEST_F(FileLayerTest, DirectoriesOfTheProgramAndOfAFile) {
  ASSERT_TRUE(ProgramDirInit());
  EXPECT_EQ(DefaultDir(), ProgramDir());
  std::string exe = platform::Env::Current().ExecutablePath();
  char out[kPathCapacity];
  FileNameRec rec{};
  rec.directory = ProgramDir();
  EXPECT_EQ(std::string(FileNameRecDir(&rec, out)), platform::DirectoryOf(exe) + "/");

  dir_.Write("f.txt", "x");
  FileHandle f = Add("f.txt");
  std::vector<char> save(kPathCapacity);
  const std::string cwd = platform::Env::Current().CurrentDirectory();
  ASSERT_TRUE(DirEnterFileDir(f, save.data()));
  EXPECT_EQ(platform::Env::Current().CurrentDirectory(), dir_.path());
  char name[kPathCapacity] = "f.txt";
  EXPECT_TRUE(FileFindInDirs(name, 0));
  EXPECT_EQ(std::string(name), PathOf("f.txt"));
  ASSERT_TRUE(DirSetCurrent(save.data()));
  EXPECT_EQ(platform::Env::Current().CurrentDirectory(), cwd);
  std::strcpy(name, "f.txt");
  EXPECT_FALSE(FileFindInDirs(name, 0));
}

}  // namespace
