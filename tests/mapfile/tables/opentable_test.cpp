// Opening and closing tables through the interface: native tables whose
// definitions are written here by hand, opened once only, read-only and
// linked handles, handle reuse, metadata kept through a save, and failures
// of each part that leave nothing open and name the table.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "layerio.h"
#include "tests/mapfile/tables/dispatch_fixture.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"
#include "platform/env.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/session_fixture.h"

namespace mapfiletest {
namespace {

using namespace layerio;

// The object store's code for a damaged map-object file (its header cannot
// be included beside table.h).
constexpr int32_t kErrMapDamaged = 1340;

// Refuses to open for writing the files whose names end with a suffix.
struct NoWriteEnv : platform::EnvWrapper {
  explicit NoWriteEnv(std::string suffix)
      : EnvWrapper(platform::Env::Current()), suffix(std::move(suffix)) {}
  int Open(std::string_view path, unsigned flags, int permission) override {
    if ((flags & platform::kWrite) && path.size() >= suffix.size() &&
        path.substr(path.size() - suffix.size()) == suffix) {
      errno = EACCES;
      return -1;
    }
    return EnvWrapper::Open(path, flags, permission);
  }
  std::string suffix;
};

// A disk on which one file can no longer be written: writes to any
// descriptor of it fail with ENOSPC.
struct FullForEnv : platform::EnvWrapper {
  explicit FullForEnv(const std::string& path) : EnvWrapper(platform::Env::Current()) {
    EnvWrapper::RawStat(path, &file);
  }
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    if (IsFull(fd)) {
      errno = ENOSPC;
      return -1;
    }
    return EnvWrapper::WriteAt(fd, b, n, o);
  }
  int64_t Write(int fd, const void* b, size_t n) override {
    if (IsFull(fd)) {
      errno = ENOSPC;
      return -1;
    }
    return EnvWrapper::Write(fd, b, n);
  }
  bool IsFull(int fd) {
    platform::FileInfo info;
    return EnvWrapper::FileStat(fd, &info) == 0 && info.inode == file.inode &&
           info.device == file.device;
  }
  platform::FileInfo file;
};

class OpenTableTest : public LayerioSessionTest {
 protected:

  // A native table of two columns and three rows, with a definition whose
  // type word and extra lines are given.
  std::string MakeTable(const std::string& name, const std::string& type = "NATIVE",
                        const std::string& tail = "") {
    Columns cols({{"Name", kFieldChar, 10, 0}, {"Count", kFieldInteger, 0, 0}});
    DataSource s = NewSource();
    EXPECT_TRUE(DataSourceCreate(name.c_str(), dir_.path().c_str(), -1, 0, &s, kDataNative,
                                 cols.count(), cols.data(), nullptr, 0));
    EXPECT_TRUE(DataSourceOpen(&s, kFileModeWrite));
    for (int i = 1; i <= 3; ++i) {
      cols.SetText(0, ("row" + std::to_string(i)).c_str());
      cols[1].value.u.i = i * 10;
      uint32_t row = 0;
      EXPECT_TRUE(DataSourceInsert(&s, cols.data(), &row));
    }
    EXPECT_TRUE(DataSourceClose(&s, cols.data()));
    const std::string tab = "!table\n!version 300\n!charset WindowsLatin1\n\n"
                            "Definition Table\n  Type " + type + " Charset \"WindowsLatin1\"\n"
                            "  Fields 2\n    Name Char (10) ;\n    Count Integer ;\n" + tail;
    return dir_.Write(name + ".TAB", tab);
  }

  static std::string Metadata(PXTableHandle h, const char* key) {
    char out[256] = "";
    PXGetMetadataValue(h, key, out, sizeof out);
    return out;
  }
  // The first argument of the first error of the last entry.
  static std::string FirstArgument() {
    const ErrorStack* errors = State().errors;
    if (!errors || errors->count == 0 || errors->records[0].arg0.length == 0) return "";
    return errors->text + errors->records[0].arg0.offset;
  }

};

TEST_F(OpenTableTest, DefinitionOpensOnceAndHandlesAreReused) {
  const std::string roads = MakeTable("roads");
  const std::string towns = MakeTable("towns");

  PXTableHandle h = PXOpenTable(roads.c_str(), PX_OPEN_READ_WRITE);
  ASSERT_EQ(h, 1) << PXGetLastError();
  EXPECT_EQ(SlotFind(h)->mode, kModeReadWrite);
  EXPECT_EQ(PXOpenTable(roads.c_str(), PX_OPEN_READ), 0);
  EXPECT_EQ(PXGetLastError(), kErrDefAlreadyOpen);
  ASSERT_NE(SlotFind(h), nullptr);  // the first handle stays
  ASSERT_NE(SlotFind(h)->table, nullptr);
  EXPECT_EQ(SlotFind(h)->table->fieldCount, 2u);

  PXTableHandle t = PXOpenTable(towns.c_str(), PX_OPEN_READ);
  EXPECT_EQ(t, 2);
  EXPECT_EQ(PXCloseTable(h), 1);
  EXPECT_EQ(PXCloseTable(h), 0);
  EXPECT_EQ(PXGetLastError(), kErrBadHandle);

  // A read-only handle closes the same way; the freed number is given again.
  h = PXOpenTable(roads.c_str(), PX_OPEN_READ);
  ASSERT_EQ(h, 1) << PXGetLastError();
  EXPECT_EQ(SlotFind(h)->mode, kModeReadOnly);
  EXPECT_EQ(PXCloseTable(h), 1);
  EXPECT_EQ(PXCloseTable(t), 1);
  EXPECT_EQ(SlotsInUse(), 0u);
  // Nothing of the tables stays in the file table.
  EXPECT_EQ(FileTableFind(roads.c_str(), kFileKindTable), 0);
}

TEST_F(OpenTableTest, LinkedTableGivesAReadOnlyHandle) {
  const std::string path = MakeTable("linked", "LINKED");
  PXTableHandle h = PXOpenTable(path.c_str(), PX_OPEN_READ_WRITE);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(SlotFind(h)->mode, kModeReadOnly);
  uint32_t row = 0;
  EXPECT_EQ(PXInsertRow(h, "a,1", nullptr, &row), 0);
  EXPECT_EQ(PXGetLastError(), kErrNotReadWrite);
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(OpenTableTest, MetadataIsReadAndSavedWithTheDefinition) {
  const std::string path = MakeTable("meta", "NATIVE",
                                     "begin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\n"
                                     "\"\\Source\\Agency\" = \"Survey \"\"North\"\"\"\n"
                                     "end_metadata\n");
  PXTableHandle h = PXOpenTable(path.c_str(), PX_OPEN_READ_WRITE);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(Metadata(h, "\\Source\\Agency"), "Survey \"North\"");
  const std::string longValue(500, 'x');
  ASSERT_EQ(PXSetMetadataValue(h, "\\Notes", longValue.c_str()), 1);
  ASSERT_EQ(PXSaveMetadata(h), 1) << PXGetLastError();
  ASSERT_EQ(PXCloseTable(h), 1);

  const std::string written = testsupport::ReadAll(path);
  EXPECT_NE(written.find("\"\\Notes\\+2\""), std::string::npos) << written;
  h = PXOpenTable(path.c_str(), PX_OPEN_READ);
  ASSERT_NE(h, 0) << PXGetLastError();
  char out[600] = "";
  EXPECT_EQ(PXGetMetadataValue(h, "\\Notes", out, sizeof out), 1);
  EXPECT_EQ(out, longValue);
  EXPECT_EQ(Metadata(h, "\\Source\\Agency"), "Survey \"North\"");
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(OpenTableTest, FailuresLeaveNothingOpen) {
  const std::string good = MakeTable("good");
  const struct {
    const char* name;
    std::string path;
    int32_t code;  // 0: any code
  } cases[] = {
      {"no definition file", dir_.File("missing.TAB"), 0},
      {"empty path", "", kErrBadHandle},
      {"not a definition", dir_.Write("text.TAB", "hello\nworld\n"), kErrDefNotDefinition},
      {"data file missing", [&] {
         std::string p = MakeTable("nodata");
         std::filesystem::remove(dir_.File("nodata.DAT"));
         return p;
       }(), kErrDefDataMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PXOpenTable(c.path.c_str(), PX_OPEN_READ), 0);
    if (c.code) {
      EXPECT_EQ(PXGetLastError(), c.code);
    }
    EXPECT_NE(PXGetLastError(), 0);
    EXPECT_EQ(SlotsInUse(), 0u);
    if (!c.path.empty()) {
      EXPECT_EQ(FileTableFind(c.path.c_str(), kFileKindTable), 0);
    }
  }
  // The good table still opens into the first handle.
  PXTableHandle h = PXOpenTable(good.c_str(), PX_OPEN_READ);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(PXCloseTable(h), 1);
}

// A part that cannot be opened for the mode: the table does not open, the
// parts opened before it are closed again, and the part's error comes back
// with the table's path as its first argument.
TEST_F(OpenTableTest, PartFailingForTheModeIsReportedWithThePath) {
  const std::string path = MakeTable("locked");
  NoWriteEnv env(".DAT");
  platform::ScopedEnv scope(env);
  EXPECT_EQ(PXOpenTable(path.c_str(), PX_OPEN_READ_WRITE), 0);
  EXPECT_NE(PXGetLastError(), 0);
  EXPECT_EQ(FirstArgument(), path);
  EXPECT_EQ(ErrorCount(), 1);
  EXPECT_EQ(SlotsInUse(), 0u);
  EXPECT_EQ(FileTableFind(path.c_str(), kFileKindTable), 0);

  // Read-only it opens.
  PXTableHandle h = PXOpenTable(path.c_str(), PX_OPEN_READ);
  EXPECT_EQ(h, 1) << PXGetLastError();
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(OpenTableTest, DamagedMapFileKeepsTheTableClosed) {
  const std::string path = MakeTable("mapped");
  const std::string command = "/usr/bin/python3 " + std::string(GSB_TEST_DATA_DIR) +
                              "/../mapfile/objects/gen_mapfile.py " + dir_.File("mapped.MAP");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string map = testsupport::ReadAll(dir_.File("mapped.MAP"));
  ASSERT_GT(map.size(), 512u);
  // Cut inside its header.
  dir_.Write("mapped.MAP", map.substr(0, 300));

  // The definition reader opens the store, so the store's own error comes
  // back as it was pushed: its argument names the map-object file.
  EXPECT_EQ(PXOpenTable(path.c_str(), PX_OPEN_READ), 0);
  EXPECT_EQ(PXGetLastError(), kErrMapDamaged);
  EXPECT_EQ(std::filesystem::path(FirstArgument()).filename(), "mapped.MAP");
  EXPECT_EQ(SlotsInUse(), 0u);
  EXPECT_EQ(FileTableFind(path.c_str(), kFileKindTable), 0);
}

// A close whose map part cannot be written whole fails rather than passing
// for a success; the table is released all the same, so the handle is free.
TEST_F(OpenTableTest, CloseThatCannotWriteTheMapPartFails) {
  ::PXCoordSys cs{};
  ASSERT_EQ(PXParseCoordSys("CoordSys Earth Projection 1, 104", &cs), 1);
  PXFieldInfo field{};
  std::strcpy(field.name, "Name");
  field.type = kFieldChar;
  field.width = 10;
  const std::string path = dir_.File("mapped.TAB");
  PXTableHandle h = PXCreateTable(path.c_str(), &field, 1, &cs, 5);
  ASSERT_NE(h, 0u) << PXGetLastError();
  PXObject point{};
  point.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POINT;
  const double xy[2] = {-78.5, 35.25};
  std::memcpy(point.u.bytes + PX_OBJECT_X, &xy[0], sizeof xy[0]);
  std::memcpy(point.u.bytes + PX_OBJECT_Y, &xy[1], sizeof xy[1]);
  uint32_t row = 0;
  ASSERT_EQ(PXInsertRow(h, "\"a\"", &point, &row), 1) << PXGetLastError();
  {
    FullForEnv env(dir_.File("mapped.MAP"));
    platform::ScopedEnv scope(env);
    EXPECT_EQ(PXCloseTable(h), 0);
    EXPECT_EQ(PXGetLastError(), 428);
  }
  EXPECT_EQ(SlotsInUse(), 0u);
  EXPECT_EQ(FileTableFind(path.c_str(), kFileKindTable), 0);
}

TEST_F(OpenTableTest, ShutdownClosesOpenTables) {
  const std::string a = MakeTable("a");
  const std::string b = MakeTable("b");
  ASSERT_EQ(PXOpenTable(a.c_str(), PX_OPEN_READ_WRITE), 1);
  ASSERT_EQ(PXOpenTable(b.c_str(), PX_OPEN_READ), 2);
  EXPECT_EQ(PXShutdown(), 1);
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  EXPECT_EQ(PXOpenTable(a.c_str(), PX_OPEN_READ), 1);
}

}  // namespace
}  // namespace mapfiletest
