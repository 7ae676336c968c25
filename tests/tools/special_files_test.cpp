// A FIFO, a device or a folder in the place of an input, a companion or a
// table's data file makes each program fail at once, never wait or read
// without end. Each run is bounded by timeout(1) so that a program that
// hangs fails the test (exit 124) instead of stopping the suite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Outcome;
using testsupport::ReadAll;
using testsupport::RunProgram;
using testsupport::SharedDataPath;
using testsupport::TempDir;

constexpr const char* kTimeout = "60";
constexpr int kTimedOut = 124;

void Fifo(const TempDir& dir, const std::string& name) {
  std::filesystem::remove_all(dir.File(name));
  ASSERT_EQ(std::system(("mkfifo " + dir.File(name)).c_str()), 0);
}
void Zero(const TempDir& dir, const std::string& name) {
  std::filesystem::remove_all(dir.File(name));
  std::filesystem::create_symlink("/dev/zero", dir.File(name));
}
void Folder(const TempDir& dir, const std::string& name) {
  std::filesystem::remove_all(dir.File(name));
  std::filesystem::create_directory(dir.File(name));
}

void CopyNc(const TempDir& dir) {
  for (const char* extension : {".shp", ".shx", ".dbf"})
    dir.Write(std::string("nc") + extension, ReadAll(SharedDataPath("nc/nc") + extension));
}

TEST(SpecialFilesTest, EveryProgramRefusesWhatIsNotARegularFile) {
  const std::string lio = LIO_PATH, gsbbuild = GSBBUILD_PATH, gsbtool = GSBTOOL_PATH;
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> spoil;
    std::string program;
    std::vector<std::string> words;  // "@" stands for the folder
    int success;                     // the program's exit value for success
  } cases[] = {
      {"lio dump: a FIFO as the data file", [](const TempDir& d) { Fifo(d, "t.DAT"); }, lio,
       {"dump", "@/t.TAB"}, 0},
      {"lio dump: a FIFO as a text table's data",
       [](const TempDir& d) {
         d.Write("text.TAB",
                 "!table\n!version 300\n\nDefinition Table\n  File \"data.txt\"\n  Type ASCII\n"
                 "  Fields 1\n    a Char (10) ;\n");
         Fifo(d, "data.txt");
       },
       lio, {"dump", "@/text.TAB"}, 0},
      {"lio dump: /dev/zero as the map file", [](const TempDir& d) { Zero(d, "t.MAP"); }, lio,
       {"dump", "@/t.TAB", "--lonlat"}, 0},
      {"lio mapdump --check: a folder as the object index",
       [](const TempDir& d) { Folder(d, "t.ID"); }, lio, {"mapdump", "--check", "@/t.MAP"}, 0},
      {"lio load: a FIFO as the .dbf", [](const TempDir& d) { Fifo(d, "nc.dbf"); }, lio,
       {"load", "@/nc.shp", "@/new.TAB"}, 0},
      {"lio load: a FIFO as the .prj", [](const TempDir& d) { Fifo(d, "nc.prj"); }, lio,
       {"load", "@/nc.shp", "@/new.TAB"}, 0},
      {"gsbbuild: a FIFO as the object index", [](const TempDir& d) { Fifo(d, "t.ID"); },
       gsbbuild, {"@/t.TAB", "@/out.gsb", "NAME"}, 1},
      {"gsbbuild: /dev/zero as the .dbf", [](const TempDir& d) { Zero(d, "nc.dbf"); }, gsbbuild,
       {"@/nc.shp", "@/out.gsb", "NAME"}, 1},
      {"gsbbuild: a FIFO as the format file",
       [](const TempDir& d) {
         d.Write("in.csv", "NAME,LON,LAT\n\"a\",-78.5,35.25\n");
         Fifo(d, "in.fmt");
       },
       gsbbuild, {"@/in.csv", "@/out.gsb", "NAME"}, 1},
      {"gsbbuild: a FIFO as the input", [](const TempDir& d) { Fifo(d, "in.shp"); }, gsbbuild,
       {"@/in.shp", "@/out.gsb", "NAME"}, 1},
      {"gsbtool import: a FIFO as the .shx", [](const TempDir& d) { Fifo(d, "nc.shx"); },
       gsbtool, {"import", "@/nc.shp", "@/out.gsb", "NAME"}, 0},
      {"gsbtool import: a folder as the data file", [](const TempDir& d) { Folder(d, "t.DAT"); },
       gsbtool, {"import", "@/t.TAB", "@/out.gsb", "NAME"}, 0},
  };
  // One shapefile and its table, copied for each case.
  TempDir made;
  CopyNc(made);
  const Outcome load = RunProgram(made, LIO_PATH, {"load", made.File("nc.shp"), made.File("t.TAB")});
  ASSERT_EQ(load.status, 0) << load.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const char* name : {"nc.shp", "nc.shx", "nc.dbf", "t.TAB", "t.DAT", "t.MAP", "t.ID"})
      dir.Write(name, ReadAll(made.File(name)));
    c.spoil(dir);
    std::vector<std::string> words = {kTimeout, c.program};
    for (const std::string& w : c.words) words.push_back(w[0] == '@' ? dir.path() + w.substr(1) : w);
    const Outcome run = RunProgram(dir, "timeout", words);
    EXPECT_NE(run.status, kTimedOut);
    EXPECT_NE(run.status, c.success) << run.out << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.gsb")));
  }
}

// An object index cut short reads as a damaged table, never as rows
// without objects: the build fails naming the table and the error.
TEST(SpecialFilesTest, ObjectIndexCutShortFailsTheBuild) {
  TempDir dir;
  CopyNc(dir);
  ASSERT_EQ(RunProgram(dir, LIO_PATH, {"load", dir.File("nc.shp"), dir.File("t.TAB")}).status, 0);
  std::filesystem::resize_file(dir.File("t.ID"), 7);
  const Outcome build = RunProgram(dir, GSBBUILD_PATH, {dir.File("t.TAB"), dir.File("out.gsb"), "NAME"});
  EXPECT_EQ(build.status, 255) << build.out;  // an input that cannot be opened
  EXPECT_NE(build.out.find("Can not open " + dir.File("t.TAB") + ".\n\tError #1340."),
            std::string::npos)
      << build.out;
  const Outcome import = RunProgram(
      dir, GSBTOOL_PATH, {"import", dir.File("t.TAB"), dir.File("out.gsb"), "NAME"});
  EXPECT_NE(import.status, 0);
  EXPECT_NE(import.err.find("Error #1340"), std::string::npos) << import.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.gsb")));
}

}  // namespace
