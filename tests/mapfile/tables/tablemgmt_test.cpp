// Making and removing whole tables through the interface: create with every
// field type and a map part, register foreign files, rename (with files at
// the new name kept through a roll-back), delete as a set, the map part's
// create and drop, and the refusals of each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "layerio.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"
#include "platform/env.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/session_fixture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadAll;

constexpr const char* kLonLat = "CoordSys Earth Projection 1, 104";

PXFieldInfo Field(const char* name, uint8_t type, uint8_t width = 0, uint8_t decimals = 0) {
  PXFieldInfo f{};
  std::memcpy(f.name, name, strnlen(name, sizeof f.name - 1));
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  return f;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    const char a = text[text.size() - suffix.size() + i];
    if (std::tolower(static_cast<unsigned char>(a)) !=
        std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  }
  return true;
}

// A disk that fills up: writes to descriptors opened for writing fail with
// ENOSPC once `room` bytes have been written through it.
struct FullDiskEnv : platform::EnvWrapper {
  explicit FullDiskEnv(int64_t room) : EnvWrapper(platform::Env::Current()), room(room) {}
  int64_t Write(int fd, const void* b, size_t n) override {
    return Spend(n) ? EnvWrapper::Write(fd, b, n) : Full();
  }
  int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
    return Spend(n) ? EnvWrapper::WriteAt(fd, b, n, o) : Full();
  }
  int Truncate(int fd, int64_t n) override {
    platform::FileInfo info;
    if (EnvWrapper::FileStat(fd, &info) == 0 && n > info.size && !Spend(size_t(n - info.size)))
      return int(Full());
    return EnvWrapper::Truncate(fd, n);
  }
  bool Spend(size_t n) {
    if (int64_t(n) > room) return false;
    room -= int64_t(n);
    return true;
  }
  static int64_t Full() {
    errno = ENOSPC;
    return -1;
  }
  int64_t room;
};

// Another process's hold on a file: a share lock of a description of its
// own (shared for a reader), as the library takes it.
class OtherHolder {
 public:
  explicit OtherHolder(const std::string& path) {
    platform::Env& env = platform::Env::Current();
    fd_ = env.Open(path, platform::kRead);
    locked_ = fd_ >= 0 && env.ShareLock(fd_, false) == 0;
  }
  ~OtherHolder() {
    if (fd_ >= 0) platform::Env::Current().Close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

// Refuses renames whose source or target ends with a suffix (ignoring
// case): the file layer then sees the host refuse that one file.
struct NoRenameEnv : platform::EnvWrapper {
  explicit NoRenameEnv(std::string suffix)
      : EnvWrapper(platform::Env::Current()), suffix(std::move(suffix)) {}
  int Rename(std::string_view from, std::string_view to) override {
    if (EndsWithNoCase(from, suffix) || EndsWithNoCase(to, suffix)) {
      errno = EACCES;
      return -1;
    }
    return EnvWrapper::Rename(from, to);
  }
  std::string suffix;
};

// Refuses to open for writing the files whose names end with a suffix
// (ignoring case).
struct NoWriteEnv : platform::EnvWrapper {
  explicit NoWriteEnv(std::string suffix)
      : EnvWrapper(platform::Env::Current()), suffix(std::move(suffix)) {}
  int Open(std::string_view path, unsigned flags, int permission) override {
    if ((flags & platform::kWrite) && EndsWithNoCase(path, suffix)) {
      errno = EACCES;
      return -1;
    }
    return EnvWrapper::Open(path, flags, permission);
  }
  std::string suffix;
};

PXObject Point(double x, double y) {
  PXObject o{};
  o.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POINT;
  std::memcpy(o.u.bytes + PX_OBJECT_X, &x, sizeof x);
  std::memcpy(o.u.bytes + PX_OBJECT_Y, &y, sizeof y);
  return o;
}

class TableMgmtTest : public LayerioSessionTest {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.File(name); }
  bool Exists(const std::string& name) const { return fs::exists(PathOf(name)); }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  PXCoordSys LonLat() {
    PXCoordSys cs{};
    EXPECT_EQ(PXParseCoordSys(kLonLat, &cs), 1);
    return cs;
  }

  // A native table "name" of a text and an integer field, with `rows` rows
  // and, with a coordinate system, a point per row.
  PXTableHandle MakeTable(const std::string& name, int rows = 2, bool withMap = false) {
    const PXFieldInfo fields[] = {Field("Name", 1, 12), Field("Count", 3)};
    PXCoordSys cs = LonLat();
    PXTableHandle h =
        PXCreateTable(PathOf(name + ".TAB").c_str(), fields, 2, withMap ? &cs : nullptr, 5);
    EXPECT_NE(h, 0) << PXGetLastError();
    for (int i = 1; i <= rows; ++i) {
      const std::string text = "\"" + name + std::to_string(i) + "\"\t" + std::to_string(i * 10);
      PXObject point = Point(i, -i);
      uint32_t row = 0;
      EXPECT_EQ(PXInsertRow(h, text.c_str(), withMap ? &point : nullptr, &row), 1)
          << PXGetLastError();
    }
    return h;
  }

  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : Names()) files[name] = ReadAll(PathOf(name));
    return files;
  }

  static std::string TablePath(PXTableHandle h) {
    char path[layerio::kPathCapacity] = "?";
    PXGetTablePath(h, path);
    return path;
  }
  static std::string RowText(PXTableHandle h, uint32_t row) {
    char text[PX_ROW_TEXT_SIZE] = "";
    EXPECT_EQ(PXFetchRow(h, row, text, nullptr), 1) << PXGetLastError();
    return text;
  }
  static uint32_t Rows(PXTableHandle h) {
    uint32_t n = 0;
    EXPECT_EQ(PXGetRowCount(h, &n), 1);
    return n;
  }

};

// ----- create -----

TEST_F(TableMgmtTest, CreateTakesDbaseOrElseNative) {
  const struct {
    uint32_t kind;
    uint32_t made;
    const char* dataFile;
  } cases[] = {{1, 1, "t1.DBF"}, {5, 5, "t5.DAT"}, {3, 5, "t3.DAT"}, {0, 5, "t0.DAT"},
               {99, 5, "t99.DAT"}};
  const PXFieldInfo fields[] = {Field("A", 1, 5)};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const std::string name = "t" + std::to_string(c.kind);
    PXTableHandle h = PXCreateTable(PathOf(name + ".TAB").c_str(), fields, 1, nullptr, c.kind);
    ASSERT_NE(h, 0) << PXGetLastError();
    EXPECT_EQ(layerio::SlotFind(h)->mode, layerio::kModeReadWrite);
    uint32_t version = 0, kind = 0;
    ASSERT_EQ(PXGetTableVersion(h, &version, &kind), 1);
    EXPECT_EQ(version, 300u);
    EXPECT_EQ(kind, c.made);
    EXPECT_EQ(TablePath(h), PathOf(name + ".TAB"));
    EXPECT_TRUE(Exists(c.dataFile));
    EXPECT_EQ(PXHasMemoFields(h), 0);
    const std::string tab = ReadAll(PathOf(name + ".TAB"));
    EXPECT_EQ(tab.rfind("!table\r\n!version 300\r\n", 0), 0u) << tab;
    EXPECT_EQ(PXCloseTable(h), 1);
  }
}

TEST_F(TableMgmtTest, EveryFieldTypeAndAMapPartReadBackAfterReopening) {
  const PXFieldInfo fields[] = {
      Field("Name", 1, 20),      Field("Amount", 2, 10, 3), Field("Count", 3),
      Field("Small", 4),         Field("Day", 5),           Field("Flag", 6),
      Field("Fixed", 7),         Field("Ratio", 8),
      Field("A_name_of_exactly_31_characters", 1, 4)};
  const uint32_t n = sizeof fields / sizeof fields[0];
  PXCoordSys cs = LonLat();
  const std::string path = PathOf("every.TAB");
  PXTableHandle h = PXCreateTable(path.c_str(), fields, n, &cs, 5);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_TRUE(Exists("every.MAP"));
  EXPECT_TRUE(Exists("every.ID"));
  const char* row = "\"Lyon\"\t12.250\t7\t-3\t\"20240131\"\t\"T\"\t\"fixed\"\t0.5\t\"abcd\"";
  PXObject point = Point(4.83, 45.76);
  uint32_t number = 0;
  ASSERT_EQ(PXInsertRow(h, row, &point, &number), 1) << PXGetLastError();
  ASSERT_EQ(PXCloseTable(h), 1);

  h = PXOpenTable(path.c_str(), PX_OPEN_READ);
  ASSERT_NE(h, 0) << PXGetLastError();
  uint32_t count = 0;
  ASSERT_EQ(PXGetFieldCount(h, &count), 1);
  ASSERT_EQ(count, n);
  std::vector<PXFieldInfo> info(n);
  ASSERT_EQ(PXGetFieldInfo(h, info.data()), 1);
  const struct {
    const char* name;
    uint8_t type, width, decimals;
  } expected[] = {{"Name", 1, 20, 0}, {"Amount", 2, 10, 3}, {"Count", 3, 4, 0},
                  {"Small", 4, 2, 0}, {"Day", 5, 4, 0},     {"Flag", 6, 1, 0},
                  {"Fixed", 1, 25, 0},  // the fixed text type is Char 25 once made
                  {"Ratio", 8, 8, 0},   {"A_name_of_exactly_31_characters", 1, 4, 0}};
  for (uint32_t i = 0; i < n; ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(info[i].name, expected[i].name);
    EXPECT_EQ(info[i].type, expected[i].type);
    EXPECT_EQ(info[i].width, expected[i].width);
    EXPECT_EQ(info[i].decimals, expected[i].decimals);
  }
  // The table object agrees with what crossed the interface.
  EXPECT_EQ(layerio::SlotFind(h)->table->fieldCount, n);
  EXPECT_EQ(RowText(h, 1), row);

  PXCoordSys back{};
  ASSERT_EQ(PXGetTableCoordSys(h, &back), 1);
  char clause[256] = "";
  ASSERT_EQ(PXCoordSysToString(&back, clause), 1);
  EXPECT_EQ(std::string(clause).rfind(kLonLat, 0), 0u) << clause;
  PXObject out{};
  ASSERT_EQ(PXFetchRow(h, 1, nullptr, &out), 1);
  EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], PX_OBJECT_POINT);
  double x = 0, y = 0;
  std::memcpy(&x, out.u.bytes + PX_OBJECT_X, sizeof x);
  std::memcpy(&y, out.u.bytes + PX_OBJECT_Y, sizeof y);
  EXPECT_NEAR(x, 4.83, 1e-6);
  EXPECT_NEAR(y, 45.76, 1e-6);
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(TableMgmtTest, CreateReplacesCompanionsOfAnEarlierTable) {
  for (const char* name : {"old.MAP", "old.ID", "old.IND"}) dir_.Write(name, "stale bytes");
  const PXFieldInfo fields[] = {Field("A", 1, 5)};
  PXTableHandle h = PXCreateTable(PathOf("old.TAB").c_str(), fields, 1, nullptr, 5);
  ASSERT_NE(h, 0) << PXGetLastError();
  // The stale map would otherwise have been read as this table's map part.
  EXPECT_EQ(Names(), (std::vector<std::string>{"old.DAT", "old.TAB"}));
  EXPECT_EQ(layerio::SlotFind(h)->table->store, nullptr);
  EXPECT_EQ(PXCloseTable(h), 1);

  // Over a table with a map part, the new one starts with an empty map.
  h = MakeTable("mapped", 2, true);
  ASSERT_EQ(PXCloseTable(h), 1);
  PXCoordSys cs = LonLat();
  h = PXCreateTable(PathOf("mapped.TAB").c_str(), fields, 1, &cs, 5);
  ASSERT_NE(h, 0) << PXGetLastError();
  uint32_t points = 9;
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, nullptr), 1);
  EXPECT_EQ(points, 0u);
  EXPECT_EQ(Rows(h), 0u);
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(TableMgmtTest, CreateRefusalsLeaveNoFiles) {
  const PXFieldInfo one[] = {Field("A", 1, 5)};
  std::vector<PXFieldInfo> many(251, Field("F", 1, 1));
  PXCoordSys bad = LonLat();
  const uint16_t projection = 40;
  std::memcpy(bad.u.bytes, &projection, sizeof projection);
  PXTableHandle open = MakeTable("busy", 0);
  const std::vector<std::string> before = Names();

  const std::string path = PathOf("new.TAB");
  const PXFieldInfo memo[] = {Field("M", 9, 10)};
  const struct {
    const char* what;
    const char* path;
    const PXFieldInfo* fields;
    uint32_t count;
    const PXCoordSys* cs;
    int32_t code;
  } cases[] = {
      {"no path", nullptr, one, 1, nullptr, PX_ERROR_BAD_HANDLE},
      {"no fields", path.c_str(), nullptr, 1, nullptr, PX_ERROR_BAD_HANDLE},
      {"too many fields", path.c_str(), many.data(), 251, nullptr, 877},
      {"projection 40", path.c_str(), one, 1, &bad, PX_ERROR_BAD_HANDLE},
      {"zero fields", path.c_str(), one, 0, nullptr, 497},
      {"a type the native driver does not take", path.c_str(), memo, 1, nullptr, 497},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PXCreateTable(c.path, c.fields, c.count, c.cs, 5), 0);
    EXPECT_EQ(PXGetLastError(), c.code);
    EXPECT_EQ(Names(), before);
  }
  // An open table's files are not replaced under it.
  EXPECT_EQ(PXCreateTable(PathOf("busy.TAB").c_str(), one, 1, nullptr, 5), 0);
  EXPECT_EQ(PXGetLastError(), 362);
  EXPECT_EQ(Rows(open), 0u);
  EXPECT_EQ(PXCloseTable(open), 1);
}

// A create that is refused or fails leaves the table already at its name
// byte for byte: it is checked and made whole under another name before
// anything at the name is touched, and a table another process has open
// is not replaced under it.
TEST_F(TableMgmtTest, RefusedOrFailedCreateLeavesTheOldTableWhole) {
  PXTableHandle h = MakeTable("us", 3, true);
  ASSERT_EQ(PXCloseTable(h), 1);
  const std::map<std::string, std::string> before = Snapshot();
  ASSERT_EQ(before.size(), 4u);
  const std::string path = PathOf("us.TAB");
  PXCoordSys cs = LonLat();
  const PXFieldInfo good[] = {Field("A", 1, 5)};
  const PXFieldInfo invalid[] = {Field("A", 99, 0)};

  struct Case {
    const char* what;
    const char* held;     // the file another process holds, or none
    int64_t room;         // bytes the disk takes, -1 without limit
    const PXFieldInfo* fields;
    int32_t code;         // 0: any
  } cases[] = {
      {"an invalid field", nullptr, -1, invalid, 497},
      {"its data held by a reader elsewhere", "us.DAT", -1, good, 497},
      {"its map held by a reader elsewhere", "us.MAP", -1, good, 497},
      {"its definition held elsewhere", "us.TAB", -1, good, 497},
      {"a disk that is full", nullptr, 0, good, 0},
      {"a disk that fills up", nullptr, 2000, good, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<OtherHolder> holder;
    if (c.held) {
      holder = std::make_unique<OtherHolder>(PathOf(c.held));
      ASSERT_TRUE(holder->locked());
    }
    PXTableHandle made;
    if (c.room >= 0) {
      FullDiskEnv env(c.room);
      platform::ScopedEnv scoped(env);
      made = PXCreateTable(path.c_str(), c.fields, 1, &cs, 5);
    } else {
      made = PXCreateTable(path.c_str(), c.fields, 1, &cs, 5);
    }
    EXPECT_EQ(made, 0u);
    if (c.code) {
      EXPECT_EQ(PXGetLastError(), c.code);
    }
    EXPECT_EQ(Snapshot(), before);
  }
  // Once nobody holds it, the table is replaced whole.
  h = PXCreateTable(path.c_str(), good, 1, &cs, 5);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(Rows(h), 0u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"us.DAT", "us.ID", "us.MAP", "us.TAB"}));
  EXPECT_EQ(PXCloseTable(h), 1);
}

// ----- register -----

TEST_F(TableMgmtTest, RegistersADbaseFile) {
  fs::copy_file(testsupport::SharedDataPath("xbase/dbase/dBaseIII_nomemo.dbf"), PathOf("sc.dbf"));
  fs::permissions(PathOf("sc.dbf"), fs::perms::owner_read | fs::perms::owner_write);
  PXTableHandle h = PXRegisterTable(nullptr, PathOf("sc.dbf").c_str(), 1);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_TRUE(Exists("sc.TAB"));
  EXPECT_EQ(layerio::SlotFind(h)->mode, layerio::kModeReadWrite);
  EXPECT_EQ(Rows(h), 10u);
  uint32_t version = 0, kind = 0;
  ASSERT_EQ(PXGetTableVersion(h, &version, &kind), 1);
  EXPECT_EQ(version, 300u);
  EXPECT_EQ(kind, 1u);
  uint32_t fields = 0;
  ASSERT_EQ(PXGetFieldCount(h, &fields), 1);
  EXPECT_EQ(fields, 18u);
  EXPECT_NE(RowText(h, 1).find("\"10605\""), std::string::npos);

  // Open files are not registered again.
  EXPECT_EQ(PXRegisterTable(nullptr, PathOf("sc.dbf").c_str(), 1), 0);
  EXPECT_EQ(PXGetLastError(), 362);
  EXPECT_EQ(PXRegisterTable(PathOf("sc.TAB").c_str(), PathOf("other.dbf").c_str(), 1), 0);
  EXPECT_EQ(PXGetLastError(), 362);
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(TableMgmtTest, MemoFieldsOfDbaseFiles) {
  const struct {
    const char* file;
    uint16_t memo;
  } cases[] = {{"xbase/dbase/dBaseIII.dbf", 1}, {"xbase/dbase/dBaseIII_nomemo.dbf", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string copy = PathOf(fs::path(c.file).filename().string());
    fs::copy_file(testsupport::SharedDataPath(c.file), copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    PXTableHandle h = PXRegisterTable(nullptr, copy.c_str(), 1);
    ASSERT_NE(h, 0) << PXGetLastError();
    EXPECT_EQ(PXHasMemoFields(h), c.memo);
    EXPECT_EQ(PXCloseTable(h), 1);
    // A read-only handle is refused.
    h = PXOpenTable((copy.substr(0, copy.size() - 4) + ".TAB").c_str(), PX_OPEN_READ);
    ASSERT_NE(h, 0) << PXGetLastError();
    EXPECT_EQ(PXHasMemoFields(h), 0);
    EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
    EXPECT_EQ(PXCloseTable(h), 1);
  }
}

TEST_F(TableMgmtTest, RegistersADelimitedTextFileUnderAGivenDefinition) {
  fs::copy_file(testsupport::FixturePath("text/cities.txt"), PathOf("cities.txt"));
  PXTableHandle h =
      PXRegisterTable(PathOf("towns.TAB").c_str(), PathOf("cities.txt").c_str(), 3);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(TablePath(h), PathOf("towns.TAB"));
  uint32_t version = 0, kind = 0;
  ASSERT_EQ(PXGetTableVersion(h, &version, &kind), 1);
  EXPECT_EQ(kind, 3u);
  // TAB-delimited without a title line: every line is a row.
  EXPECT_EQ(Rows(h), 5u);
  EXPECT_NE(RowText(h, 2).find("Paris"), std::string::npos);
  EXPECT_EQ(PXCloseTable(h), 1);
}

TEST_F(TableMgmtTest, RegisterRefusals) {
  EXPECT_EQ(PXRegisterTable(nullptr, nullptr, 1), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  // The kind is a byte: 257 is not taken for 1.
  dir_.Write("a.dbf", "");
  EXPECT_EQ(PXRegisterTable(nullptr, PathOf("a.dbf").c_str(), 257), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXRegisterTable(nullptr, PathOf("missing.dbf").c_str(), 1), 0);
  EXPECT_TRUE(layerio::ErrorHasCode(755));
  EXPECT_FALSE(Exists("missing.TAB"));
}

// A registration that fails leaves no definition behind, and one that was
// at the path before stays as it was.
TEST_F(TableMgmtTest, FailedRegistrationLeavesTheFolderAsItWas) {
  dir_.Write("book.xls", "not a workbook");
  EXPECT_EQ(PXRegisterTable(nullptr, PathOf("book.xls").c_str(), 4), 0);
  EXPECT_TRUE(layerio::ErrorHasCode(521));
  EXPECT_FALSE(Exists("book.TAB"));

  // Described and written, but the data file cannot be opened for writing.
  fs::copy_file(testsupport::SharedDataPath("xbase/dbase/dBaseIII_nomemo.dbf"), PathOf("sc.dbf"));
  fs::permissions(PathOf("sc.dbf"), fs::perms::owner_read | fs::perms::owner_write);
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier);
    if (earlier) dir_.Write("sc.TAB", "!table\n");
    {
      NoWriteEnv env(".dbf");
      platform::ScopedEnv scoped(env);
      EXPECT_EQ(PXRegisterTable(nullptr, PathOf("sc.dbf").c_str(), 1), 0);
    }
    EXPECT_EQ(Names(), earlier ? (std::vector<std::string>{"book.xls", "sc.TAB", "sc.dbf"})
                               : (std::vector<std::string>{"book.xls", "sc.dbf"}));
    if (earlier) {
      EXPECT_EQ(ReadAll(PathOf("sc.TAB")), "!table\n");
    }
  }
  // Without the refusal the earlier definition is replaced.
  PXTableHandle h = PXRegisterTable(nullptr, PathOf("sc.dbf").c_str(), 1);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(Names(), (std::vector<std::string>{"book.xls", "sc.TAB", "sc.dbf"}));
  EXPECT_EQ(PXCloseTable(h), 1);
}

// ----- rename -----

TEST_F(TableMgmtTest, RenameReplacesFilesAtTheNewNameAndKeepsTheHandle) {
  PXTableHandle first = MakeTable("first", 0);
  PXTableHandle h = MakeTable("roads", 2, true);
  ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
  PXCoordSys cs = LonLat();
  ASSERT_EQ(PXSetApiCoordSys(h, &cs), 1);
  // The handle's number must survive a reopen that lands in a lower slot.
  ASSERT_EQ(PXCloseTable(first), 1);
  dir_.Write("streets.DAT", "an older data file");
  dir_.Write("streets.TAB", "an older definition");

  // A relative name is taken against the table's folder, not the process's.
  ASSERT_EQ(PXRenameTable(h, "streets"), 1) << PXGetLastError();
  EXPECT_EQ(TablePath(h), PathOf("streets.TAB"));
  EXPECT_EQ(layerio::SlotFind(first), nullptr);
  EXPECT_EQ(layerio::SlotFind(h)->mode, layerio::kModeReadWrite);
  EXPECT_NE(layerio::SlotFind(h)->callerCoordSys.projection, -1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"first.DAT", "first.TAB", "streets.DAT",
                                               "streets.ID", "streets.IND", "streets.MAP",
                                               "streets.TAB"}));
  EXPECT_EQ(Rows(h), 2u);
  EXPECT_EQ(RowText(h, 2), "\"roads2\"\t20");
  uint32_t found = 0;
  EXPECT_EQ(PXFindIndexed(h, 1, "roads2", 1, &found), 1);
  EXPECT_EQ(found, 2u);

  // A new name that differs only in letter case is not a file to move aside.
  ASSERT_EQ(PXRenameTable(h, PathOf("Streets.TAB").c_str()), 1) << PXGetLastError();
  EXPECT_EQ(Rows(h), 2u);
  EXPECT_TRUE(Exists("Streets.TAB"));
  EXPECT_TRUE(Exists("Streets.MAP"));
  EXPECT_EQ(PXCloseTable(h), 1);
  EXPECT_NE(PXOpenTable(PathOf("Streets.TAB").c_str(), PX_OPEN_READ), 0) << PXGetLastError();
}

TEST_F(TableMgmtTest, RenameThatFailsOnTheMapFileRollsEverythingBack) {
  PXTableHandle first = MakeTable("first", 0);
  PXTableHandle h = MakeTable("roads", 2, true);
  // Written out first, so that the table's own files can be compared.
  ASSERT_EQ(PXCloseTable(h), 1);
  ASSERT_EQ(PXOpenTable(PathOf("roads.TAB").c_str(), PX_OPEN_READ_WRITE), h);
  ASSERT_EQ(PXCloseTable(first), 1);
  const std::vector<std::pair<std::string, std::string>> atNewName = {
      {"streets.TAB", "!table\r\n!version 300\r\nan older definition"},
      {"streets.DAT", "an older data file"},
      {"streets.ID", "an older object index"}};
  for (const auto& [name, bytes] : atNewName) dir_.Write(name, bytes);
  std::vector<std::string> ours;
  for (const char* ext : {".TAB", ".DAT", ".MAP", ".ID"})
    ours.push_back(ReadAll(PathOf(std::string("roads") + ext)));
  const std::vector<std::string> before = Names();

  {
    NoRenameEnv env(".MAP");
    platform::ScopedEnv scoped(env);
    EXPECT_EQ(PXRenameTable(h, PathOf("streets.TAB").c_str()), 0);
  }
  EXPECT_EQ(PXGetLastError(), 859);
  // The handle names the table under its old name, in the same slot.
  EXPECT_EQ(TablePath(h), PathOf("roads.TAB"));
  EXPECT_EQ(layerio::SlotFind(first), nullptr);
  EXPECT_EQ(Rows(h), 2u);
  PXObject out{};
  EXPECT_EQ(PXFetchRow(h, 2, nullptr, &out), 1);
  EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], PX_OBJECT_POINT);
  // Nothing lost, nothing left over: the files at the new name are back as
  // they were.
  EXPECT_EQ(Names(), before);
  for (const auto& [name, bytes] : atNewName) EXPECT_EQ(ReadAll(PathOf(name)), bytes) << name;
  EXPECT_EQ(PXCloseTable(h), 1);
  size_t i = 0;
  for (const char* ext : {".TAB", ".DAT", ".MAP", ".ID"})
    EXPECT_EQ(ReadAll(PathOf(std::string("roads") + ext)), ours[i++]) << ext;
}

// A definition that names its data file cannot follow that file to a new
// name: the table comes back under its old one rather than being lost.
TEST_F(TableMgmtTest, RenameThatCannotReopenUnderTheNewNameRollsBack) {
  fs::copy_file(testsupport::FixturePath("text/cities.txt"), PathOf("cities.txt"));
  PXTableHandle h =
      PXRegisterTable(PathOf("towns.TAB").c_str(), PathOf("cities.txt").c_str(), 3);
  ASSERT_NE(h, 0) << PXGetLastError();
  const std::vector<std::string> before = Names();
  EXPECT_EQ(PXRenameTable(h, "places"), 0);
  EXPECT_EQ(PXGetLastError(), 859);
  EXPECT_EQ(Names(), before);
  EXPECT_EQ(TablePath(h), PathOf("towns.TAB"));
  EXPECT_EQ(Rows(h), 5u);
}

TEST_F(TableMgmtTest, RenameRefusals) {
  PXTableHandle a = MakeTable("a", 1);
  PXTableHandle b = MakeTable("b", 1);
  ASSERT_EQ(PXRenameTable(a, PathOf("b.TAB").c_str()), 0);
  EXPECT_EQ(PXGetLastError(), 362);
  EXPECT_EQ(PXRenameTable(a, nullptr), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXRenameTable(99, "c"), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXCloseTable(b), 1);
  PXTableHandle r = PXOpenTable(PathOf("b.TAB").c_str(), PX_OPEN_READ);
  ASSERT_NE(r, 0);
  EXPECT_EQ(PXRenameTable(r, "c"), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  EXPECT_FALSE(Exists("c.TAB"));
  EXPECT_EQ(TablePath(a), PathOf("a.TAB"));
}

// Files at the new name that another process has open are not renamed
// over: the rename is refused before the table is closed.
TEST_F(TableMgmtTest, RenameOverATableHeldElsewhereIsRefused) {
  PXTableHandle held = MakeTable("held", 1, true);
  ASSERT_EQ(PXCloseTable(held), 1);
  PXTableHandle h = MakeTable("roads", 2, true);
  const std::map<std::string, std::string> before = Snapshot();
  {
    OtherHolder reader(PathOf("held.ID"));
    ASSERT_TRUE(reader.locked());
    EXPECT_EQ(PXRenameTable(h, "held"), 0);
    EXPECT_EQ(PXGetLastError(), 825);
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(TablePath(h), PathOf("roads.TAB"));
  EXPECT_EQ(Rows(h), 2u);
  ASSERT_EQ(PXRenameTable(h, "held"), 1) << PXGetLastError();
  EXPECT_EQ(Rows(h), 2u);
  EXPECT_EQ(PXCloseTable(h), 1);
}

// ----- delete -----

TEST_F(TableMgmtTest, DeleteRemovesEveryCompanionAndFreesTheHandle) {
  PXTableHandle keep = MakeTable("keep", 1);
  PXTableHandle h = MakeTable("roads", 2, true);
  ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
  ASSERT_EQ(PXDeleteTable(h), 1) << PXGetLastError();
  EXPECT_EQ(Names(), (std::vector<std::string>{"keep.DAT", "keep.TAB"}));
  EXPECT_EQ(layerio::SlotFind(h), nullptr);
  EXPECT_EQ(PXCloseTable(h), 0);
  EXPECT_EQ(Rows(keep), 1u);
  // The names are free again.
  h = MakeTable("roads", 1);
  EXPECT_EQ(Rows(h), 1u);
}

TEST_F(TableMgmtTest, DeleteThatCannotRemoveOneFileReopensIntoTheSameHandle) {
  PXTableHandle first = MakeTable("first", 0);
  PXTableHandle h = MakeTable("roads", 2, true);
  ASSERT_EQ(PXCloseTable(first), 1);
  const std::vector<std::string> before = Names();
  {
    NoRenameEnv env(".ID");
    platform::ScopedEnv scoped(env);
    EXPECT_EQ(PXDeleteTable(h), 0);
  }
  EXPECT_EQ(PXGetLastError(), 864);
  EXPECT_EQ(Names(), before);
  EXPECT_EQ(TablePath(h), PathOf("roads.TAB"));
  EXPECT_EQ(layerio::SlotFind(first), nullptr);
  EXPECT_EQ(layerio::SlotFind(h)->mode, layerio::kModeReadWrite);
  EXPECT_EQ(RowText(h, 1), "\"roads1\"\t10");
  uint32_t points = 0;
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, nullptr), 1);
  EXPECT_EQ(points, 2u);
  ASSERT_EQ(PXDeleteTable(h), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"first.DAT", "first.TAB"}));
}

TEST_F(TableMgmtTest, DeleteOnAReadOnlyHandleIsRefused) {
  PXTableHandle h = MakeTable("roads", 1);
  ASSERT_EQ(PXCloseTable(h), 1);
  h = PXOpenTable(PathOf("roads.TAB").c_str(), PX_OPEN_READ);
  ASSERT_NE(h, 0);
  EXPECT_EQ(PXDeleteTable(h), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  EXPECT_TRUE(Exists("roads.TAB"));
  EXPECT_EQ(Rows(h), 1u);
}

// ----- map part -----

TEST_F(TableMgmtTest, MapPartCreatedReplacedAndDropped) {
  PXTableHandle h = MakeTable("roads", 2);
  uint32_t points = 0;
  EXPECT_EQ(PXDropMap(h), 0);
  EXPECT_EQ(PXGetLastError(), 1920);

  PXCoordSys cs = LonLat();
  ASSERT_EQ(PXCreateMap(h, &cs), 1) << PXGetLastError();
  EXPECT_TRUE(Exists("roads.MAP"));
  EXPECT_TRUE(Exists("roads.ID"));
  PXObject point = Point(1, 2);
  ASSERT_EQ(PXUpdateRow(h, 1, "\"roads1\"\t10", &point), 1) << PXGetLastError();
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, nullptr), 1);
  EXPECT_EQ(points, 1u);

  // A bad projection costs the table nothing: its map part stays as it was.
  PXCoordSys bad = cs;
  const uint16_t projection = 40;
  std::memcpy(bad.u.bytes, &projection, sizeof projection);
  EXPECT_EQ(PXCreateMap(h, &bad), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, nullptr), 1);
  EXPECT_EQ(points, 1u);
  PXObject out{};
  ASSERT_EQ(PXFetchRow(h, 1, nullptr, &out), 1);
  EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], PX_OBJECT_POINT);

  // A second map part replaces the first.
  ASSERT_EQ(PXCreateMap(h, &cs), 1) << PXGetLastError();
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, nullptr), 1);
  EXPECT_EQ(points, 0u);

  ASSERT_EQ(PXDropMap(h), 1) << PXGetLastError();
  EXPECT_FALSE(Exists("roads.MAP"));
  EXPECT_FALSE(Exists("roads.ID"));
  PXCoordSys none{};
  EXPECT_EQ(PXGetTableCoordSys(h, &none), 0);
  EXPECT_EQ(PXGetLastError(), 1920);
  EXPECT_EQ(Rows(h), 2u);
  ASSERT_EQ(PXCloseTable(h), 1);
  h = PXOpenTable(PathOf("roads.TAB").c_str(), PX_OPEN_READ_WRITE);
  ASSERT_NE(h, 0) << PXGetLastError();
  EXPECT_EQ(layerio::SlotFind(h)->table->store, nullptr);

  // Read-only handles and null records are refused.
  EXPECT_EQ(PXCreateMap(h, nullptr), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  ASSERT_EQ(PXCloseTable(h), 1);
  h = PXOpenTable(PathOf("roads.TAB").c_str(), PX_OPEN_READ);
  EXPECT_EQ(PXCreateMap(h, &cs), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  EXPECT_FALSE(Exists("roads.MAP"));
}

TEST_F(TableMgmtTest, SmallReadersCheckTheirHandle) {
  char path[layerio::kPathCapacity] = "untouched";
  EXPECT_EQ(PXGetTablePath(3, path), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  uint32_t version = 7, kind = 7;
  EXPECT_EQ(PXGetTableVersion(3, &version, &kind), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXHasMemoFields(3), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  PXTableHandle h = MakeTable("roads", 0);
  EXPECT_EQ(PXGetTablePath(h, nullptr), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXGetTableVersion(h, nullptr, &kind), 1);
  EXPECT_EQ(kind, 5u);
}

}  // namespace
