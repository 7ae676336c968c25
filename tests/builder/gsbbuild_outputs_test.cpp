// gsbbuild's outputs and messages as a user meets them: a failed or refused
// run leaves the files at the output paths as they were, two runs into one
// output leave one whole pair, new files take the umask, the attribute file
// is found by the rule it is written by, and refusals say what to mend
// (record and field of accented text, the engine's reason for a table that
// does not open, a folder that cannot be written).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "builder/program.h"
#include "platform/env.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using buildertest::DbfBytes;
using buildertest::FilesIn;
using buildertest::Outcome;
using buildertest::RunGsbbuild;
using buildertest::Quoted;
using testsupport::ReadAll;
using testsupport::SharedDataPath;
using testsupport::TempDir;

constexpr int kSuccess = 1;
constexpr int kFailed = 0;
constexpr int kUsage = 255;
constexpr const char* kEarlierGsb = "boundary file of an earlier run";
constexpr const char* kEarlierGsa = "attribute file of an earlier run";

// The North Carolina counties as in.shp, in.shx, in.dbf.
void CopyCounties(const TempDir& dir, const std::string& stem = "in") {
  for (const char* extension : {".shp", ".shx", ".dbf"})
    dir.Write(stem + extension, ReadAll(SharedDataPath(std::string("nc/nc") + extension)));
}

void Patch(const TempDir& dir, const std::string& name, const std::function<void(std::string&)>& f) {
  std::string bytes = ReadAll(dir.File(name));
  f(bytes);
  dir.Write(name, bytes);
}

size_t HeaderLength(const std::string& dbf) {
  return uint8_t(dbf.at(8)) | (size_t(uint8_t(dbf.at(9))) << 8);
}

// Every object of the boundary file, opened through Zonelib's C interface
// with its attribute file, is named as the NAME attribute of its record
// says; the number of objects checked, or -1 when the pair does not open.
int PairAgrees(const std::string& gsb) {
  const uint32_t context = uint32_t(pipInit(0, ""));
  uint32_t file = 0;
  int checked = -1;
  if (pipObjectFileOpen(context, gsb.c_str(), 0, &file) == 1) {
    checked = 0;
    char name[256] = {};
    for (int32_t r = pipObjectFindFirstName(file, "*", name, sizeof name); r > 0;
         r = pipObjectFindNext(file, name, sizeof name)) {
      pipAttributeInfoStruct info{};
      if (pipObjectGetAttributeInfoByName(file, "NAME", &info) != 1) {
        checked = -1;
        break;
      }
      std::string value = info.value;
      while (!value.empty() && value.back() == ' ') value.pop_back();
      EXPECT_EQ(value, std::string(name));
      ++checked;
    }
    pipObjectFileClose(file);
  }
  pipTerm(context);
  return checked;
}

struct Case {
  const char* name;
  std::function<void(const TempDir&)> prepare;  // after in.* and the earlier pair are written
  std::vector<std::string> words;
  int status;
  std::vector<std::string> says;  // texts the output holds
  // Files left beside the input ("in." files), the earlier pair aside.
  std::set<std::string> made;
};

// Failed and refused runs keep the earlier pair byte for byte; successful
// ones replace it with a pair that opens and agrees.
TEST(GsbbuildOutputsTest, RunsAndWhatTheyLeave) {
  const Case cases[] = {
      {"failed rebuild",
       [](const TempDir& dir) { Patch(dir, "in.shp", [](std::string& b) { b.resize(20000); }); },
       {"in.shp", "out.gsb", "NAME"}, kFailed, {}, {}},
      {"refused for a missing .shx",
       [](const TempDir& dir) { std::filesystem::remove(dir.File("in.shx")); },
       {"in.shp", "out.gsb", "NAME"}, kUsage, {"Arealis error data: ", "in.shx"}, {}},
      {"table wanting a memo file",
       [](const TempDir& dir) { Patch(dir, "in.dbf", [](std::string& b) { b[0] = '\x83'; }); },
       {"in.shp", "out.gsb", "NAME"}, kFailed,
       {"Error: Unable to open the table in.dbf: Opening File"}, {}},
      {"table with a field type the engine does not take",
       [](const TempDir& dir) { Patch(dir, "in.dbf", [](std::string& b) { b[32 + 11] = 'J'; }); },
       {"in.shp", "out.gsb", "NAME"}, kFailed,
       {"Error: Unable to open the table in.dbf: Unrecognized Field Type"}, {}},
      {"accented names, every record listed up to the limit",
       [](const TempDir& dir) {
         std::vector<std::vector<std::string>> rows;
         for (int i = 0; i < 25; ++i)
           rows.push_back({"Caf\xE9 " + std::to_string(i), "-78.5", "35.5", "plain"});
         rows.insert(rows.begin() + 3, {"plain", "-78.5", "35.5", "Z\xFCrich"});
         dir.Write("in.dbf", DbfBytes({{"NAME", 'C', 20, 0},
                                       {"LON", 'N', 12, 6},
                                       {"LAT", 'N', 12, 6},
                                       {"NOTE", 'C', 20, 0}},
                                      rows));
       },
       {"in.dbf", "out.gsb", "NAME"}, kFailed,
       {"ERROR: gsbbuild failed. Extended ASCII characters are not supported.\n"
        "Record 1, field NAME, has extended ASCII characters:\n Caf\xE9 0\t",
        "Record 4, field NOTE, has extended ASCII characters:\n plain\t",
        "Record 20, field NAME,", "... and 6 more records with extended ASCII characters.\n",
        "26 records have extended ASCII characters.\n"},
       {}},
      {"rebuild", nullptr, {"in.shp", "out.gsb", "NAME"}, kSuccess, {"Created out.gsb successfully.\n"}, {}},
      {"/u, the id field and /Log together",
       nullptr, {"/u", "in.shp", "out.gsb", "NAME", "/Log"}, kSuccess,
       {"Created out.gsb successfully.\n"}, {"out.gsb.log"}},
      {"descriptors ended by a line feed",
       [](const TempDir& dir) {
         Patch(dir, "in.dbf", [](std::string& b) { b[HeaderLength(b) - 1] = '\x0A'; });
       },
       {"in.shp", "out.gsb", "NAME"}, kSuccess, {"Created out.gsb successfully.\n"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CopyCounties(dir);
    dir.Write("out.gsb", kEarlierGsb);
    dir.Write("out.gsa", kEarlierGsa);
    if (c.prepare) c.prepare(dir);
    std::set<std::string> before;
    for (const std::string& name : FilesIn(dir.path()))
      if (name.rfind("in.", 0) == 0) before.insert(name);
    const Outcome run = RunGsbbuild(dir.path(), c.words);
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    EXPECT_EQ(run.out.find("Message: ,"), std::string::npos) << run.out;
    std::set<std::string> want = before;
    want.insert({"out.gsb", "out.gsa"});
    want.insert(c.made.begin(), c.made.end());
    std::set<std::string> left = FilesIn(dir.path());
    left.erase("Error.log");  // the table library's own log of a failure
    EXPECT_EQ(left, want);
    if (c.status == kSuccess) {
      EXPECT_EQ(PairAgrees(dir.File("out.gsb")), 100);
    } else {
      EXPECT_EQ(ReadAll(dir.File("out.gsb")), kEarlierGsb);
      EXPECT_EQ(ReadAll(dir.File("out.gsa")), kEarlierGsa);
    }
  }
}

// The attribute file of an output not ending in b is found by the reader:
// nc.out has nc.oua.
TEST(GsbbuildOutputsTest, AttributeFileOfAnyOutputName) {
  for (const char* output : {"nc.out", "NC.OUT", "zone"}) {
    SCOPED_TRACE(output);
    TempDir dir;
    CopyCounties(dir);
    ASSERT_EQ(RunGsbbuild(dir.path(), {"in.shp", output, "NAME"}).status, kSuccess);
    EXPECT_EQ(PairAgrees(dir.File(output)), 100);
  }
  TempDir dir;
  CopyCounties(dir);
  ASSERT_EQ(RunGsbbuild(dir.path(), {"in.shp", "nc.out", "NAME"}).status, kSuccess);
  EXPECT_TRUE(std::filesystem::exists(dir.File("nc.oua")));
}

// New files get 0666 less the umask.
TEST(GsbbuildOutputsTest, NewFilesFollowTheUmask) {
  for (const auto& [umask, mode] : {std::pair{"022", 0644u}, {"027", 0640u}, {"000", 0666u}}) {
    SCOPED_TRACE(umask);
    TempDir dir;
    CopyCounties(dir);
    ASSERT_EQ(RunGsbbuild(dir.path(), {"in.shp", "out.gsb", "NAME"}, std::string("umask ") + umask + " &&").status,
              kSuccess);
    for (const char* name : {"out.gsb", "out.gsa"}) {
      struct stat st;
      ASSERT_EQ(::stat(dir.File(name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, mode) << name;
    }
  }
}

// Two runs into one output at once, from inputs whose names differ (upper
// case in one): the pair left is always one run's whole pair, and both runs
// succeed.
TEST(GsbbuildOutputsTest, ConcurrentBuildsOfOneOutput) {
  TempDir dir;
  CopyCounties(dir, "a");
  CopyCounties(dir, "b");
  Patch(dir, "b.dbf", [](std::string& bytes) {
    for (size_t i = HeaderLength(bytes); i < bytes.size(); ++i)
      bytes[i] = platform::AsciiUpper(bytes[i]);
  });
  const std::string both = "cd " + Quoted(dir.path()) + " && { " + Quoted(GSBBUILD_PATH) +
                           " /u a.shp out.gsb NAME >a.txt 2>&1; echo $? >a.rc; } & { cd " +
                           Quoted(dir.path()) + " && " + Quoted(GSBBUILD_PATH) +
                           " /u b.shp out.gsb NAME >b.txt 2>&1; echo $? >b.rc; } ; wait";
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_EQ(std::system(both.c_str()), 0);
    EXPECT_EQ(ReadAll(dir.File("a.rc")), "1\n") << ReadAll(dir.File("a.txt"));
    EXPECT_EQ(ReadAll(dir.File("b.rc")), "1\n") << ReadAll(dir.File("b.txt"));
    ASSERT_EQ(PairAgrees(dir.File("out.gsb")), 100);
    std::set<std::string> left = FilesIn(dir.path());
    for (const std::string& name : left)
      EXPECT_TRUE(name[0] == 'a' || name[0] == 'b' || name == "out.gsb" || name == "out.gsa")
          << name;
  }
}

// A folder that exists but takes no new file is reported as not writable,
// not as missing (a read-only file system here, through the Env seam: a
// test run as root writes through permission bits).
TEST(GsbbuildOutputsTest, ReadOnlyOutputFolder) {
  struct ReadOnlyFolder : platform::EnvWrapper {
    ReadOnlyFolder(platform::Env& target, std::string folder)
        : EnvWrapper(target), folder(std::move(folder)) {}
    std::string folder;
    int Open(std::string_view path, unsigned flags, int permission) override {
      if ((flags & platform::kCreate) && path.substr(0, folder.size()) == folder) {
        errno = EROFS;
        return -1;
      }
      return target_.Open(path, flags, permission);
    }
  };
  TempDir dir;
  CopyCounties(dir);
  std::filesystem::create_directory(dir.File("ro"));
  const std::string input = dir.File("in.shp"), output = dir.File("ro/out.gsb");
  ReadOnlyFolder env(platform::Env::Current(), dir.File("ro"));
  int status = 0;
  std::string out;
  {
    platform::ScopedEnv scoped(env);
    std::vector<std::string> words = {"gsbbuild", input, output};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    testing::internal::CaptureStdout();
    status = GsbBuildMain(int(argv.size()), argv.data());
    out = testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(status, kExitUsage);
  EXPECT_EQ(out, "Your output folder cannot be written to: (" + dir.File("ro") +
                     "): Read-only file system.\n"
                     "This will prevent output from being created.\n");
  EXPECT_TRUE(FilesIn(dir.File("ro")).empty());
}

}  // namespace
