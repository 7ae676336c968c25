// The remote-database layer and the remote table source: loading driver
// libraries from their folder (missing names, refusing and unloadable
// drivers), connect-string tokens and normalising, the connect request, and
// remote tables, which never open. Through a connection over the scripted
// test driver: statements, fetching, column values, result copies, the
// server-kind statements, and the rows, keys and pending objects of a
// remote table.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/remote.h"
#include "tests/mapfile/tables/dispatch_fixture.h"
#include "tests/mapfile/tables/remote_test_driver.h"
#include "platform/library.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class RemoteTest : public FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    SrvLayerReset();
    SrvDriverFolderSet(dir_.path().c_str());
  }
  void TearDown() override {
    SrvLayerReset();
    SrvDriverFolderSet(nullptr);
    FileLayerTest::TearDown();
  }
  // Puts a built driver library in the folder under a driver file's name.
  void Place(const char* library, const char* as) {
    std::filesystem::copy_file(library, PathOf(as));
  }
  // A new driver folder: a library stays mapped under its path, so each
  // case needs paths of its own.
  void NewFolder(const std::string& name) {
    folder_ = PathOf(name);
    std::filesystem::create_directory(folder_);
    SrvDriverFolderSet(folder_.c_str());
  }
  void PlaceIn(const char* library, const char* as) {
    std::filesystem::copy_file(library, folder_ + "/" + as);
  }
  std::string folder_;
};

TEST_F(RemoteTest, DriverExportingEveryNameLoads) {
  Place(GSB_REMOTE_DRIVER_WHOLE, kSrvFirstDriverFile);
  EXPECT_EQ(SrvDriversLoad(), 1);
  EXPECT_EQ(SrvDriverCount(), 1);
  EXPECT_NE(SrvRegistryGet(), nullptr);
  EXPECT_EQ(ErrorCount(), 0);  // the absent second driver is no error
}

TEST_F(RemoteTest, NoDriverFilesFailsSilently) {
  EXPECT_EQ(SrvDriversLoad(), 0);
  EXPECT_EQ(SrvRegistryGet(), nullptr);
  EXPECT_EQ(ErrorCount(), 0);
}

TEST_F(RemoteTest, MissingEntryNameGives1561WithThePath) {
  Place(GSB_REMOTE_DRIVER_NOFETCH, kSrvFirstDriverFile);
  EXPECT_EQ(SrvDriverLoad(1), 0);
  EXPECT_EQ(ErrorCount(), 1);
  EXPECT_EQ(ErrorLastCode(), kErrSrvEntryMissing);
  const ErrorStack* errors = State().errors;
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(std::string(errors->text + errors->records[0].arg0.offset),
            PathOf(kSrvFirstDriverFile));
  EXPECT_EQ(SrvDriverCount(), 0);
}

// One good driver and one that fails: the layer is up with one driver and
// 1560 follows the failing driver's own errors.
TEST_F(RemoteTest, OneOfTwoDriversFailingGives1560) {
  struct Case {
    const char* name;
    const char* second;  // null: a file that is no library
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"missing name", GSB_REMOTE_DRIVER_NOFETCH, {1561, 1560}},
      {"refusing init", GSB_REMOTE_DRIVER_REFUSE, {7777, 1560}},
      {"not a library", nullptr, {1550, 1551, 1552, 1553, 1560}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewFolder(c.name);
    PlaceIn(GSB_REMOTE_DRIVER_WHOLE, kSrvFirstDriverFile);
    if (c.second) {
      PlaceIn(c.second, kSrvSecondDriverFile);
    } else {
      dir_.Write(std::string(c.name) + "/" + kSrvSecondDriverFile, "not an ELF file");
    }
    ErrorClear();
    SrvLayerReset();
    EXPECT_EQ(SrvDriversLoad(), 1);
    EXPECT_EQ(SrvDriverCount(), 1);
    EXPECT_NE(SrvRegistryGet(), nullptr);
    EXPECT_EQ(ErrorCount(), c.codes.size());
    for (int code : c.codes) EXPECT_TRUE(Pushed(code)) << code;
  }
}

TEST_F(RemoteTest, BothDriversFailingLeavesNoRegistry) {
  Place(GSB_REMOTE_DRIVER_REFUSE, kSrvFirstDriverFile);
  dir_.Write(kSrvSecondDriverFile, "");
  EXPECT_EQ(SrvDriversLoad(), 0);
  EXPECT_EQ(SrvRegistryGet(), nullptr);
  for (int code : {7777, 1550, 1551, 1552, 1553, 1560}) EXPECT_TRUE(Pushed(code)) << code;
  EXPECT_FALSE(Pushed(1555));
}

TEST_F(RemoteTest, ConnectStringGainsScrollEntry) {
  EXPECT_EQ(SrvConnectStringBuild("DSN=a"), "DSN=a;SCROLL=NO");
  EXPECT_EQ(SrvConnectStringBuild("DSN=a;"), "DSN=a;SCROLL=NO");
  EXPECT_EQ(SrvConnectStringBuild(""), ";SCROLL=NO");
  // Far past the old fixed buffer: built whole.
  const std::string longer(5000, 'x');
  EXPECT_EQ(SrvConnectStringBuild(longer.c_str()), longer + ";SCROLL=NO");
}

TEST_F(RemoteTest, NormalizeDropsSecretsAndKeepsOrder) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"DSN=a;pwd=secret;UID=b", "DSN=a;UID=b;"},
      {"DSN=a;PwD=x;UID=b;", "DSN=a;UID=b;"},
      {"UPWD=1;DLG=0;SCROLL=NO;DSN=x", "DSN=x;"},
      {" DSN = a ; Srv=[x;y];PWD='p;q'", "DSN=a;Srv=[x;y];"},
      {"DSN=(a;b);A='x''y;z'", "DSN=(a;b);A='x''y;z';"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    ConnStrNormalize(&s);
    EXPECT_EQ(s, c.out) << c.in;
  }
}

TEST_F(RemoteTest, TokensRespectBracketsAndQuotes) {
  std::string text = "  a=(x;y) ; b='p;''q' ;[c;d];\"e\"\"f;\" ;  ";
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  std::vector<std::string> tokens;
  char* cursor = nullptr;
  for (char* t = ConnStrToken(&cursor, buffer.data(), ";", 1); t;
       t = ConnStrToken(&cursor, nullptr, ";", 1))
    tokens.push_back(t);
  EXPECT_EQ(tokens, (std::vector<std::string>{"a=(x;y)", "b='p;''q'", "[c;d]", "\"e\"\"f;\""}));

  // Without the bracket flag a bracket is a plain character.
  char plain[] = "a(b;c)";
  cursor = nullptr;
  EXPECT_STREQ(ConnStrToken(&cursor, plain, ";", 0), "a(b");
  EXPECT_STREQ(ConnStrToken(&cursor, nullptr, ";", 0), "c)");
  EXPECT_EQ(ConnStrToken(&cursor, nullptr, ";", 0), nullptr);
  char empty[] = " \t";
  EXPECT_EQ(ConnStrToken(&cursor, empty, ";", 1), nullptr);
}

TEST_F(RemoteTest, ConnectRequestLoadsDriversAndYieldsNoConnection) {
  Place(GSB_REMOTE_DRIVER_WHOLE, kSrvFirstDriverFile);
  const std::string longer = "DSN=" + std::string(3000, 'd') + ";PWD=" + std::string(3000, 'p');
  EXPECT_EQ(SrvConnectRequest(nullptr, longer.c_str(), 0), nullptr);
  EXPECT_NE(SrvRegistryGet(), nullptr);
  EXPECT_EQ(SrvDriverCount(), 1);
  EXPECT_EQ(SrvConnectRequest("ODBC", "DSN=a", 1), nullptr);
  EXPECT_EQ(SrvDriverCount(), 1);  // loaded once
  EXPECT_EQ(ErrorCount(), 0);
  // Statements refuse without a connection (961) or statement (962).
  EXPECT_EQ(SrvStatementExecute(nullptr, "select 1"), nullptr);
  EXPECT_TRUE(Pushed(961));
  SrvStatement unknown{};
  EXPECT_EQ(SrvFetchRow(nullptr, &unknown, -1), 0);
  EXPECT_EQ(SrvStatementClose(nullptr, &unknown), 0);
  EXPECT_TRUE(Pushed(962));
}

TEST_F(RemoteTest, OpenConnectionMatchesByDriverAndNormalizedString) {
  SrvConnection c{};
  c.open = 1;
  c.connect = "DSN=a;PWD=x;SCROLL=NO";
  EXPECT_TRUE(SrvConnectionMatches(&c, "odbc", "dsn=A;SCROLL=NO"));
  EXPECT_TRUE(SrvConnectionMatches(&c, kSrvDefaultDriverName, "DSN=a;pwd=y"));
  EXPECT_FALSE(SrvConnectionMatches(&c, kSrvSecondDriverName, "DSN=a"));
  EXPECT_FALSE(SrvConnectionMatches(&c, nullptr, "DSN=b"));
  c.open = 0;
  EXPECT_FALSE(SrvConnectionMatches(&c, nullptr, "DSN=a"));
}

// A remote table never opens: without drivers nothing of the source's own is
// pushed (the dispatcher adds its general 386); with a driver the connect
// request still yields no connection.
TEST_F(RemoteTest, RemoteTableNeverOpens) {
  for (bool withDriver : {false, true}) {
    SCOPED_TRACE(withDriver);
    if (withDriver) Place(GSB_REMOTE_DRIVER_WHOLE, kSrvFirstDriverFile);
    SrvLayerReset();
    ErrorClear();
    DataSource source = NewSource();
    source.kind = kDataRemote;
    RemoteDef* def = RemoteDefAttach(&source);
    ASSERT_NE(def, nullptr);
    def->connect = "DSN=x;PWD=y";
    EXPECT_EQ(RemoteOpen(&source), 0);
    EXPECT_EQ(ErrorCount(), 0);
    EXPECT_EQ(DataSourceOpen(&source, kFileModeRead), 0);
    EXPECT_EQ(ErrorCount(), 1);
    EXPECT_EQ(ErrorLastCode(), kErrDataOpen);
    EXPECT_EQ(source.openCount, 0);
    EXPECT_EQ(SrvRegistryGet() != nullptr, withDriver);
    EXPECT_EQ(def->connection, nullptr);
    RemoteDefFree(&source);
  }
  DataSource bare = NewSource();  // no definition: empty texts
  bare.kind = kDataRemote;
  EXPECT_EQ(RemoteOpen(&bare), 0);
}

TEST_F(RemoteTest, TableVersionAndObjectFlag) {
  DataSource source = NewSource();
  source.kind = kDataRemote;
  EXPECT_EQ(RemoteTableVersion(&source), 500);
  EXPECT_EQ(RemoteDefObjectFlag(&source), 1);
  RemoteDef* def = RemoteDefAttach(&source);
  EXPECT_EQ(RemoteTableVersion(&source), 500);
  EXPECT_EQ(RemoteDefObjectFlag(&source), 0);
  def->driverName = kSrvSecondDriverName;
  EXPECT_EQ(RemoteTableVersion(&source), 550);
  def->setup = "select";
  EXPECT_EQ(RemoteTableVersion(&source), 650);
  RemoteDefFree(&source);
}

TEST_F(RemoteTest, KeyWindowFollowsTheRow) {
  constexpr uint32_t kKeys = 20000;
  std::string bytes;
  for (uint32_t r = 1; r <= kKeys; ++r)
    for (int b = 0; b < 4; ++b) bytes.push_back(char(r >> (8 * b)));
  dir_.Write("keys.bin", bytes);
  FileHandle file = Add("keys.bin");
  ASSERT_GT(file, 0);
  ASSERT_GT(FileOpen(file, kFileModeWrite, nullptr), 0);
  RemoteDef def;
  def.keyFile = file;
  def.keyLength = 4;
  def.keyCount = kKeys;
  auto keyOf = [&](uint32_t row) {
    const uint8_t* k = RemoteKeyGet(&def, row);
    return k ? uint32_t(k[0] | k[1] << 8 | k[2] << 16 | uint32_t(k[3]) << 24) : 0;
  };

  EXPECT_EQ(keyOf(1), 1u);
  EXPECT_EQ(def.windowFirst, 1u);
  EXPECT_EQ(keyOf(12345), 12345u);  // after the window: centred on the row
  EXPECT_EQ(def.windowFirst, 7345u);
  EXPECT_EQ(def.windowCount, 10000u);
  EXPECT_EQ(keyOf(17344), 17344u);
  EXPECT_EQ(def.windowFirst, 7345u);
  EXPECT_EQ(keyOf(100), 100u);  // before it: starts at the row
  EXPECT_EQ(def.windowFirst, 100u);
  EXPECT_EQ(keyOf(12000), 12000u);  // near the end: the keys that exist
  EXPECT_EQ(def.windowFirst, 7000u);
  EXPECT_EQ(keyOf(kKeys), kKeys);
  EXPECT_EQ(keyOf(kKeys + 1), 0u);
  EXPECT_EQ(keyOf(0), 0u);

  const uint8_t nine[4] = {9, 0, 0, 0};
  ASSERT_TRUE(RemoteKeyAppend(&def, nine));
  EXPECT_EQ(def.keyCount, kKeys + 1);
  EXPECT_EQ(keyOf(kKeys + 1), 9u);
  ASSERT_TRUE(RemoteKeyReplace(&def, 12345, nine));
  EXPECT_EQ(keyOf(12345), 9u);
  EXPECT_FALSE(RemoteKeyReplace(&def, kKeys + 2, nine));
  FileClose(file);
  EXPECT_EQ(Contents("keys.bin").size(), size_t(kKeys + 1) * 4);
  EXPECT_EQ(Contents("keys.bin").substr(12344 * 4, 4), std::string("\x09\0\0\0", 4));
}

TEST_F(RemoteTest, TabLinesWriteTypeAndMetadata) {
  DataSource source = NewSource();
  source.kind = kDataRemote;
  RemoteDef* def = RemoteDefAttach(&source);
  def->firstText = "select * from t";
  def->connect = "DSN=x;PWD=secret;SCROLL=NO";
  def->driverName = "GSBSRV";
  def->marks = 1;
  def->cache = 1;
  TableObject table{};
  FileHandle out = Add("t.tab");
  ASSERT_GT(FileOpenText(out, kFileModeCreate, nullptr), 0);
  ASSERT_EQ(RemoteTabLines(&source, &table, out), 1);
  FileClose(out);
  const std::string text = Contents("t.tab");
  EXPECT_EQ(text.rfind("  Type ODBC", 0), 0u) << text;
  for (const char* want : {"\"\\IsReadOnly\" = \"FALSE\"", "\"\\RemoteKeyReadOnly\" = \"TRUE\"",
                           "\"\\RemoteConnectString\" = \"DSN=x;\"",
                           "\"\\RemoteQuery\" = \"select * from t\"",
                           "\"\\RemoteDriver\" = \"GSBSRV\"", "\"\\CACHE\" = \"ON\"",
                           "\"\\MBRSEARCH\" = \"OFF\""})
    EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("Marked"), std::string::npos);
  MetadataFree(table.metadata);
  RemoteDefFree(&source);
}

// ===== Through a connection =================================================

// A connection over the scripted driver, loaded as the first driver file.
class ConnectedTest : public RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Place(GSB_REMOTE_DRIVER_WHOLE, kSrvFirstDriverFile);
    ASSERT_EQ(SrvDriversLoad(), 1);
    // The same path: the layer's copy of the library, with its script.
    library_ = std::make_unique<platform::Library>(PathOf(kSrvFirstDriverFile).c_str());
    ASSERT_TRUE(library_->Loaded());
    reset_ = Symbol<TestSrvResetFn>("TestSrvReset");
    result_ = Symbol<TestSrvResultFn>("TestSrvResult");
    executeError_ = Symbol<TestSrvErrorFn>("TestSrvExecuteError");
    fetchError_ = Symbol<TestSrvErrorFn>("TestSrvFetchError");
    log_ = Symbol<TestSrvLogFn>("TestSrvLog");
    open_ = Symbol<TestSrvOpenFn>("TestSrvOpenStatements");
    reset_();
    conn_ = SrvConnectionCreate(nullptr, "DSN=test;SCROLL=NO");
    ASSERT_NE(conn_, nullptr);
    ErrorClear();
  }
  void TearDown() override {
    SrvConnectionOpenerSet(nullptr);
    SrvLayerReset();
    if (open_) {
      EXPECT_EQ(open_(), 0) << "statements left with the driver";
    }
    FileLayerTest::TearDown();
  }
  template <typename Fn>
  Fn Symbol(const char* name) {
    Fn fn = reinterpret_cast<Fn>(library_->Symbol(name));
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }
  void Result(const char* text, std::vector<TestSrvColumn> columns,
              std::vector<const char*> cells = {}) {
    const int32_t n = int32_t(columns.size());
    result_(text, columns.data(), n, cells.data(), n ? int32_t(cells.size()) / n : 0);
  }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::istringstream in(log_());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The texts of the last error pushed.
  static std::string LastText(int which) {
    const ErrorStack* errors = State().errors;
    if (!errors || errors->count == 0) return "<none>";
    const ErrorRecord& r = errors->records[std::min<int>(errors->count, kErrorRecordCount) - 1];
    const ErrorRecord::Slot& slot = which == 0 ? r.arg0 : r.arg1;
    return slot.length ? std::string(errors->text + slot.offset) : std::string();
  }
  SrvStatement* Run(const char* text) { return SrvStatementExecute(conn_, text); }

  std::unique_ptr<platform::Library> library_;
  TestSrvResetFn reset_ = nullptr;
  TestSrvResultFn result_ = nullptr;
  TestSrvErrorFn executeError_ = nullptr;
  TestSrvErrorFn fetchError_ = nullptr;
  TestSrvLogFn log_ = nullptr;
  TestSrvOpenFn open_ = nullptr;
  SrvConnection* conn_ = nullptr;
};

TEST_F(ConnectedTest, StatementsTakeTheLowestFreeNumber) {
  SrvStatement* a = Run("a");
  SrvStatement* b = Run("b");
  SrvStatement* c = Run("c");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->number, 1u);
  EXPECT_EQ(c->number, 3u);
  EXPECT_EQ(b->link.number, 2u);
  ASSERT_EQ(SrvStatementClose(conn_, b), 1);
  SrvStatement* d = Run("d");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->number, 2u);
  EXPECT_EQ(SrvRegistryGet()->statements.size(), 3u);
  EXPECT_EQ(conn_->statements.size(), 3u);
  EXPECT_EQ(open_(), 3);

  // A statement that fails to run reports the driver's error and is gone.
  executeError_("bad", 42, "syntax error", "near x");
  EXPECT_EQ(Run("bad"), nullptr);
  EXPECT_EQ(ErrorLastCode(), 42);
  EXPECT_EQ(LastText(0), "syntax error");
  EXPECT_EQ(LastText(1), "near x");
  EXPECT_EQ(SrvRegistryGet()->statements.size(), 3u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"a", "b", "c", "d", "bad"}));

  // Unknown statements and connections are refused.
  SrvConnection stranger;
  ErrorClear();
  EXPECT_EQ(SrvStatementClose(&stranger, a), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvConnectionGone);
  ErrorClear();
  EXPECT_EQ(SrvStatementExecute(&stranger, "x"), nullptr);
  EXPECT_EQ(ErrorLastCode(), kErrSrvConnectionGone);
  for (SrvStatement* s : {a, c, d}) EXPECT_EQ(SrvStatementClose(conn_, s), 1);
  SrvStatement* gone = a;
  ErrorClear();
  EXPECT_EQ(SrvFetchRow(conn_, gone, kSrvFetchNext), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvStatementGone);
  EXPECT_EQ(open_(), 0);
}

TEST_F(ConnectedTest, ColumnInformation) {
  Result("q", {{"NAME", nullptr, kSrvTypeChar, 0, 0, 10, 0},
               {"BIG", nullptr, kSrvTypeDecimal, 19, 0, 21, 0},
               {"AMOUNT", nullptr, kSrvTypeDecimal, 18, 2, 20, 0},
               {"ODD", nullptr, 0, 0, 0, 4, 0},
               {nullptr, nullptr, kSrvTypeInteger, 0, 0, 4, 55}});
  SrvStatement* s = Run("q");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->columnCount, 5);
  EXPECT_EQ(SrvColumnInfoName(conn_, s, 1), "NAME");
  EXPECT_EQ(SrvColumnInfoWidth(conn_, s, 1), 10);
  EXPECT_EQ(SrvColumnInfoType(conn_, s, 1), kSrvTypeChar);
  EXPECT_EQ(SrvColumnInfoType(conn_, s, 2), kSrvTypeFloat);  // too precise for a Decimal
  EXPECT_EQ(SrvColumnInfoType(conn_, s, 3), kSrvTypeDecimal);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(SrvColumnInfoType(conn_, s, 4), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvColumnType);
  EXPECT_EQ(LastText(0), "ODD");
  // The driver's error while naming a column is reported.
  ErrorClear();
  EXPECT_EQ(SrvColumnInfoName(conn_, s, 5), "");
  EXPECT_EQ(ErrorLastCode(), 55);
  EXPECT_EQ(LastText(0), "no name");
  SrvStatementClose(conn_, s);
}

TEST_F(ConnectedTest, FetchesInEachDirectionIntoBoundFields) {
  Result("rows", {{"N", nullptr, kSrvTypeInteger, 10, 0, 4, 0}}, {"10", "20", "30"});
  SrvStatement* s = Run("rows");
  ASSERT_NE(s, nullptr);
  Columns fields({{"N", kFieldInteger, 0, 0}});
  SrvStatementBind(s, fields.data(), fields.count());
  const struct {
    int32_t direction;
    int32_t value;  // 0: at the end
  } steps[] = {{kSrvFetchNext, 10},  {kSrvFetchNext, 20},  {kSrvFetchPrevious, 10},
               {kSrvFetchLast, 30},  {kSrvFetchFirst, 10}, {2, 20},
               {kSrvFetchNext, 30},  {kSrvFetchNext, 0},   {kSrvFetchNext, 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.direction);
    fields[0].value.u.i = -1;
    ASSERT_EQ(SrvFetchRow(conn_, s, step.direction), 1);
    EXPECT_EQ(s->atEnd, step.value == 0);
    if (step.value) {
      EXPECT_EQ(fields[0].value.u.i, step.value);
    }
  }
  EXPECT_EQ(ErrorCount(), 0);
  SrvStatementClose(conn_, s);

  // A statement without result columns is at its end at once.
  SrvStatement* update = Run("UPDATE t SET a = 1");
  ASSERT_NE(update, nullptr);
  ASSERT_EQ(SrvFetchRow(conn_, update, kSrvFetchNext), 1);
  EXPECT_EQ(update->atEnd, 1);
  Columns one({{"A", kFieldInteger, 0, 0}});
  EXPECT_EQ(SrvColumnConvert(update, 1, one.data()), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvNoColumns);
  EXPECT_EQ(LastText(0), kSrvMsgNoColumns);
  SrvStatementClose(conn_, update);
}

TEST_F(ConnectedTest, FetchErrorsNameTheirDirectionOnlyOnGridVault) {
  Result("rows", {{"N", nullptr, kSrvTypeInteger, 10, 0, 4, 0}}, {"1"});
  fetchError_("rows", 17, "lost", "link");
  const std::string tail = kSrvMsgFetchDirection;
  const struct {
    const char* kind;
    int32_t direction;
    std::string text;
  } cases[] = {
      {"Other", kSrvFetchLast, "lost"},
      {"GRIDVAULT/ORACLE", kSrvFetchNext, "lost"},
      {"gridvault/oracle", kSrvFetchLast, "lost:Fetch Last. " + tail},
      {"GRIDVAULT/ORACLE", kSrvFetchFirst, "lost:Fetch First. " + tail},
      {"GRIDVAULT/ORACLE", kSrvFetchPrevious, "lost:Fetch Previous. " + tail},
      {"GRIDVAULT/ORACLE", 7, "lost:Fetch 7. " + tail},
  };
  SrvStatement* s = Run("rows");
  ASSERT_NE(s, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.direction));
    conn_->serverKind = c.kind;
    ErrorClear();
    EXPECT_EQ(SrvFetchRow(conn_, s, c.direction), 0);
    EXPECT_EQ(ErrorLastCode(), 17);
    EXPECT_EQ(LastText(0), c.text);
    EXPECT_EQ(LastText(1), "link");
  }
  SrvStatementClose(conn_, s);
}

TEST_F(ConnectedTest, ColumnValuesConvertByServerType) {
  const std::string longText(300, 'x');
  const struct {
    TestSrvColumn column;
    const char* cell;
    ColumnSpec field;
    std::string text;  // the field's value as text
  } cases[] = {
      {{"C", nullptr, kSrvTypeChar, 0, 0, 10, 0}, "abc   ", {"F", kFieldChar, 10, 0}, "abc"},
      {{"V", nullptr, kSrvTypeVarchar, 0, 0, 300, 0},
       longText.c_str(),
       {"F", kFieldChar, 255, 0},
       longText.substr(0, 254)},
      {{"D", nullptr, kSrvTypeDecimal, 10, 2, 12, 0}, "-12.5", {"F", kFieldDecimal, 8, 2}, "-12.5"},
      {{"D", nullptr, kSrvTypeDecimal, 20, 1, 22, 0},
       "123456789012345678.5",
       {"F", kFieldFloat, 0, 0},
       "1.2345678901234568e+17"},
      {{"I", nullptr, kSrvTypeInteger, 10, 0, 4, 0}, "-42", {"F", kFieldInteger, 0, 0}, "-42"},
      {{"I", nullptr, kSrvTypeInteger, 10, 0, 4, 0}, "-42", {"F", kFieldChar, 8, 0}, "-42"},
      {{"S", nullptr, kSrvTypeSmallint, 5, 0, 2, 0}, "7", {"F", kFieldSmallint, 0, 0}, "7"},
      {{"R", nullptr, kSrvTypeFloat, 15, 0, 8, 0}, "2.25", {"F", kFieldFloat, 0, 0}, "2.25"},
      {{"T", nullptr, kSrvTypeDate, 0, 0, 10, 0},
       "2021-03-04 10:00:00",
       {"F", kFieldDate, 0, 0},
       "20210304"},
      {{"L", nullptr, kSrvTypeLogical, 0, 0, 1, 0}, "1", {"F", kFieldLogical, 0, 0}, "T"},
      {{"B", nullptr, kSrvTypeBinary, 0, 0, 3, 0}, "00ffa1", {"F", kFieldChar, 4, 0}, "00FF"},
      {{"B", nullptr, kSrvTypeBinary, 0, 0, 3, 0}, "00ffa1", {"F", kFieldChar, 10, 0}, "00FFA1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column.name) + " " + c.cell);
    reset_();
    Result("v", {c.column}, {c.cell});
    SrvStatement* s = Run("v");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(SrvFetchRow(conn_, s, kSrvFetchNext), 1);
    Columns field({c.field});
    ASSERT_TRUE(ColumnValuesAlloc(field.data(), 1));
    ASSERT_EQ(SrvColumnConvert(s, 1, field.data()), 1);
    char text[512];
    if (c.field.type == kFieldFloat) {
      std::snprintf(text, sizeof text, "%.17g", field[0].value.u.d);
    } else {
      ASSERT_NE(ValueToText(&field[0].value, text, sizeof text, -1, 0), nullptr);
    }
    EXPECT_EQ(text, c.text);
    SrvStatementClose(conn_, s);
  }
  // A type code the layer does not know names the column.
  reset_();
  Result("v", {{"WEIRD", nullptr, 9, 0, 0, 4, 0}}, {"1"});
  SrvStatement* s = Run("v");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(SrvFetchRow(conn_, s, kSrvFetchNext), 1);
  Columns field({{"F", kFieldInteger, 0, 0}});
  ErrorClear();
  EXPECT_EQ(SrvColumnConvert(s, 1, field.data()), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvColumnType);
  EXPECT_EQ(LastText(0), "WEIRD");
  SrvStatementClose(conn_, s);
}

std::vector<std::string> gRun;
int gRunFailAt = 0;  // 1-based statement that fails; 0 none
int16_t RecordRun(const char* text, int) {
  gRun.push_back(text);
  return int(gRun.size()) == gRunFailAt ? 0 : 1;
}

TEST_F(ConnectedTest, ResultCopyWritesTheTableStatements) {
  Result("q",
         {{"ID", "Id", kSrvTypeInteger, 10, 0, 4, 0},
          {"Name", nullptr, kSrvTypeChar, 0, 0, 300, 0},
          {nullptr, nullptr, kSrvTypeFloat, 15, 0, 8, 0},
          {"name", nullptr, kSrvTypeVarchar, 0, 0, 5, 0},
          {"Amount", nullptr, kSrvTypeDecimal, 8, 2, 10, 0},
          {"Raw", nullptr, kSrvTypeBinary, 0, 0, 200, 0},
          {"Day", nullptr, kSrvTypeDate, 0, 0, 10, 0},
          {"Ok", nullptr, kSrvTypeLogical, 0, 0, 1, 0},
          {"Small", nullptr, kSrvTypeSmallint, 5, 0, 2, 0}},
         {"1", "Ann \"A\"  ", "0.1", "x", "12.5", "0aff", "2020-01-02", "1", "3",  //
          "2", "Bob", "1e300", "", "-3", "", "2020-12-31", "0", "-4"});
  SrvStatement* s = Run("q");
  ASSERT_NE(s, nullptr);
  SrvCopyTarget target{"Copy", "/data/copy.tab", RecordRun};
  s->target = &target;
  gRun.clear();
  gRunFailAt = 0;
  ASSERT_EQ(SrvResultCopy(conn_, s), 1);
  const std::vector<std::string> expected = {
      "CREATE TABLE \"Copy\" (Id INTEGER, Name CHAR(254), _COL3 FLOAT, name_1 CHAR(5), "
      "Amount DECIMAL(10,2), Raw CHAR(254), Day DATE, Ok LOGICAL, Small SMALLINT) "
      "File \"/data/copy.tab\"",
      "SET TABLE Copy FASTEDIT ON UNDO OFF",
      "Insert Into Copy Values(1, \"Ann \"\"A\"\"\", 0.1, \"x\", 12.50, \"0AFF\", "
      "\"2020-01-02\", \"T\", 3)",
      "Insert Into Copy Values(2, \"Bob\", 1e+300, \"\", -3.00, \"\", \"2020-12-31\", \"F\", -4)",
      "COMMIT TABLE Copy",
      "SET TABLE Copy FASTEDIT OFF UNDO ON",
  };
  EXPECT_EQ(gRun, expected);

  // A statement the runner refuses ends the copy.
  SrvStatementClose(conn_, s);
  s = Run("q");
  ASSERT_NE(s, nullptr);
  s->target = &target;
  gRun.clear();
  gRunFailAt = 1;
  EXPECT_EQ(SrvResultCopy(conn_, s), 0);
  EXPECT_EQ(gRun.size(), 1u);
  SrvStatementClose(conn_, s);

  // Without result columns there is nothing to copy.
  s = Run("DELETE FROM t");
  ASSERT_NE(s, nullptr);
  s->target = &target;
  EXPECT_EQ(SrvResultCopy(conn_, s), 0);
  EXPECT_EQ(ErrorLastCode(), kErrSrvNoColumns);
  SrvStatementClose(conn_, s);
}

TEST_F(ConnectedTest, TableNamesSplitFromTheRight) {
  const std::string longTable(129, 't');
  const struct {
    const char* separators;
    std::string name;
    const char *qualifier, *owner, *table;
    int valid;
  } cases[] = {
      {".", "t", "", "", "t", 1},
      {".", "o.t", "", "o", "t", 1},
      {".", "q.o.t", "q", "o", "t", 1},
      {".", "a.q.o.t", "a.q", "o", "t", 1},
      {".:", "q:o.t", "q", "o", "t", 1},
      {".", "o." + longTable, "", "o", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    conn_->separators = c.separators;
    SrvTableName parts;
    EXPECT_EQ(SrvTableNameSplit(conn_, c.name.c_str(), &parts), c.valid);
    EXPECT_EQ(parts.qualifier, c.qualifier);
    EXPECT_EQ(parts.owner, c.owner);
    if (c.table) {
      EXPECT_EQ(parts.table, c.table);
    }
  }
}

TEST_F(ConnectedTest, VersionedServersSwitchWorkspaces) {
  conn_->serverKind = "Oracle_Spatial";
  conn_->serverVersion = 9.2;
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "W1"), 1);
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "W1"), 1);  // already there
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, ""), 1);
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, nullptr), 1);  // already LIVE
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "O'Hare"), 1);
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 0, "W2"), 1);  // not versioned
  conn_->serverVersion = 8.1;
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "W2"), 1);
  conn_->serverVersion = 9.0;
  conn_->serverKind = "Oracle";
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "W2"), 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "BEGIN DBMS_WM.GotoWorkspace('W1'); END;",
                       "BEGIN DBMS_WM.GotoWorkspace('LIVE'); END;",
                       "BEGIN DBMS_WM.GotoWorkspace('O''Hare'); END;",
                   }));
  // A switch that fails fails the read of a row.
  conn_->serverKind = "Oracle_Spatial";
  executeError_("BEGIN DBMS_WM.GotoWorkspace('W3'); END;", 9, "no such workspace", nullptr);
  EXPECT_EQ(SrvWorkspaceSwitch(conn_, 1, "W3"), 0);
  EXPECT_EQ(conn_->workspace, "O'Hare");
}

TEST_F(ConnectedTest, SpatialTablesAreAskedByServerKind) {
  const TestSrvColumn count{"SDO_ORDCNT", nullptr, kSrvTypeInteger, 10, 0, 4, 0};
  conn_->serverKind = "Oracle SDO Server";
  Result("Select SDO_ORDCNT from \"OWN\".\"ROADS_SDOLAYER\"", {count}, {"6"});
  int16_t dimensions = 0;
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "OWN", "ROADS", &dimensions), 1);
  EXPECT_EQ(dimensions, 3);
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "OWN", "RIVERS", &dimensions), 0);  // no row

  conn_->serverKind = "Autometric SQS Server";
  const TestSrvColumn yes{"R", nullptr, kSrvTypeInteger, 10, 0, 4, 0};
  conn_->hasOwners = 1;
  Result("sp_is_spatial'own.roads'", {yes}, {"1"});
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "own", "roads", nullptr), 1);
  conn_->hasOwners = 0;
  Result("sp_is_spatial roads", {yes}, {});
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "own", "roads", nullptr), 0);
  // When the first form fails the second is tried.
  executeError_("sp_is_spatial rivers", 5, "unknown procedure", nullptr);
  Result("exec sp_is_spatial @owner='own' , @table='rivers' ", {yes}, {"1"});
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "own", "rivers", nullptr), 1);

  conn_->serverKind = "Other";
  EXPECT_EQ(SrvTableSpatialCheck(conn_, "own", "roads", nullptr), 0);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Select SDO_ORDCNT from \"OWN\".\"ROADS_SDOLAYER\"",
                       "Select SDO_ORDCNT from \"OWN\".\"RIVERS_SDOLAYER\"",
                       "sp_is_spatial'own.roads'",
                       "sp_is_spatial roads",
                       "sp_is_spatial rivers",
                       "exec sp_is_spatial @owner='own' , @table='rivers' ",
                   }));
}

TEST_F(ConnectedTest, ProjectionStatementsByServerType) {
  CoordSys cs{};
  ASSERT_TRUE(CoordSysParseText(&cs, "CoordSys Earth Projection 1, 104", false));
  const std::string body = "Earth Projection 1, 104";
  const struct {
    int type;
    std::string statement;  // empty: none
  } cases[] = {
      {1, ""}, {2, ""}, {3, ""}, {4, ""}, {6, ""}, {7, ""}, {8, ""}, {10, ""}, {13, ""},
      {5, "SELECT GSB_SetProjection('" + body + "')"},
      {9, "SELECT GSB_SetProjection('" + body + "') FROM DUAL"},
      {11, "SELECT GSB_SetProjection('" + body + "') FROM DUAL"},
      {12, "CALL GSB_SetProjection('" + body + "')"},
      {14, "exec sp_spatial_query 'Select TQ_SetProjection(''" + body +
               "'') from plotrix.plotrix_mapcatalog'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    reset_();
    conn_->lastCoordSys.clear();
    EXPECT_EQ(RemoteSetProjection(conn_, c.type, &cs), 1);
    EXPECT_EQ(Log(), c.statement.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{c.statement});
    // Once set, only server type 12 sets it again.
    if (!c.statement.empty()) {
      EXPECT_EQ(conn_->lastCoordSys, "CoordSys " + body);
      EXPECT_EQ(RemoteSetProjection(conn_, c.type, &cs), 1);
      EXPECT_EQ(Log().size(), c.type == 12 ? 2u : 1u);
    }
  }
}

TEST_F(ConnectedTest, SearchRectangleStatements) {
  const DRect rect{1.5, -2.25, 3, 4.125};
  const char* fourMarks = "WHERE x > ? AND x < ? AND y > ? AND y < ? ORDER BY ?";
  const struct {
    int type;
    const char* templateText;
    int ok;
    std::string out;
  } cases[] = {
      {9, fourMarks, 1,
       "WHERE x > 1.50000000 AND x < 3.00000000 AND y > -2.25000000 AND y < 4.12500000 "
       "ORDER BY ?"},
      {10, "x BETWEEN ? AND ?", 1, "x BETWEEN 1.50000000 AND 3.00000000"},
      {1, fourMarks, 1, fourMarks},
      {14, fourMarks, 1, fourMarks},
      {2, fourMarks, 0, ""},
      {9, "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    std::string out = "old";
    EXPECT_EQ(RemoteMbrStatementFill(c.type, c.templateText, &rect, &out), c.ok);
    EXPECT_EQ(out, c.out);
  }
}

TEST_F(ConnectedTest, CoordSysCodesFromTheTable) {
  CoordSys lonLat{};
  ASSERT_TRUE(CoordSysParseText(&lonLat, "CoordSys Earth Projection 1, 0", false));
  int32_t code = -1;
  EXPECT_EQ(CoordSysCodeFind(&lonLat, 0, &code), 1);
  EXPECT_EQ(code, 8192);
  CoordSys other{};
  ASSERT_TRUE(CoordSysParseText(&other, "CoordSys Earth Projection 1, 104", false));
  EXPECT_EQ(CoordSysCodeFind(&other, 1, &code), 0);
  EXPECT_EQ(code, 0);

  CoordSys azimuthal{};
  azimuthal.projection = 29;
  azimuthal.params.datum.ellipsoid = 1;
  CoordSys fixed = azimuthal;
  CoordSysLegacyFix(&fixed);
  EXPECT_EQ(fixed.projection, 28);
  azimuthal.params.params[2] = 45;  // not of the old form
  fixed = azimuthal;
  CoordSysLegacyFix(&fixed);
  EXPECT_EQ(fixed.projection, 29);
}

// A connection-opening step that only tests have: the connect request then
// yields connections, and a "SQL Server GV" one gets its spatial companion.
const char* gOpenKind = "";
SrvConnection* OpenForTest(const char* driver, const char* connect) {
  SrvConnection* c = SrvConnectionCreate(driver, connect);
  if (c) c->serverKind = gOpenKind;
  return c;
}

TEST_F(ConnectedTest, ConnectRequestOpensThroughTheOpener) {
  SrvConnectionOpenerSet(OpenForTest);
  gOpenKind = "SQL Server GV";
  SrvConnection* c = SrvConnectRequest(nullptr, "DSN=gv;PWD=x", 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->connect, "DSN=gv;PWD=x;SCROLL=NO");
  ASSERT_NE(c->companion, nullptr);
  EXPECT_EQ(c->companion->spatialServer, 1);
  EXPECT_EQ(c->companion->connect, c->connect);
  // An open connection is reused; a new one is made only when asked.
  gOpenKind = "Other";
  EXPECT_EQ(SrvConnectRequest("ODBC", "DSN=gv", 0), c);
  SrvConnection* fresh = SrvConnectRequest(nullptr, "DSN=gv", 1);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, c);
  EXPECT_EQ(fresh->companion, nullptr);
  EXPECT_EQ(SrvConnectRequest(kSrvSecondDriverName, "DSN=gv", 0), nullptr);  // not loaded

  // A remote table connects, then finds no host to set it up.
  DataSource source = NewSource();
  source.kind = kDataRemote;
  RemoteDef* def = RemoteDefAttach(&source);
  def->connect = "DSN=gv";
  EXPECT_EQ(RemoteOpen(&source), 0);
  EXPECT_EQ(def->connection, c);
  EXPECT_EQ(def->connect, c->connect);
  RemoteDefFree(&source);
}

// A remote table over the connection: an Integer key column "Id" (read-only
// when `serverKeys`) and a Char column.
class RemoteRowsTest : public ConnectedTest {
 protected:
  void SetUp() override {
    ConnectedTest::SetUp();
    source_ = NewSource();
    source_.kind = kDataRemote;
    source_.columnCount = 2;
    def_ = RemoteDefAttach(&source_);
    ASSERT_NE(def_, nullptr);
    def_->connection = conn_;
    def_->tableName = "T";
    def_->keyColumn = 0;
    ASSERT_EQ(RemoteKeysCreate(def_, kFieldInteger, 0, 0), 1);
    ASSERT_TRUE(ColumnValuesAlloc(cols_.data(), cols_.count()));
  }
  void TearDown() override {
    if (store_.kind) ObjStoreClose(&store_);
    RowOverlayFree(&source_);
    RemoteDefFree(&source_);
    ConnectedTest::TearDown();
  }
  uint32_t Insert(int32_t id, GeomObject* object = nullptr, ObjStore* store = nullptr) {
    cols_[0].value.u.i = id;
    uint32_t row = 0;
    EXPECT_EQ(RemoteRowInsert(&source_, &row, cols_.data(), object, store), 1);
    return row;
  }
  int32_t KeyOf(uint32_t row) {
    Value v{};
    return RemoteKeyGet(def_, row, &v) ? v.u.i : -999;
  }
  // The row the key index gives a key, 0 when none.
  uint32_t RowOfKey(int32_t id) {
    Value v{};
    v.kind = kValueInteger;
    v.u.i = id;
    int equal = 0;
    if (!IndexKeyMake(&v, &def_->keyField.key, 0, def_->keyIndex->stamp)) return 0;
    if (!IndexMoveCursor(def_->keyIndex, &def_->keyField, kIndexSeek, &equal) || !equal)
      return 0;
    return def_->keyField.key.row;
  }

  DataSource source_{};
  RemoteDef* def_ = nullptr;
  Columns cols_{{"Id", kFieldInteger, 0, 0}, {"Name", kFieldChar, 10, 0}};
  ObjStore store_{};
};

TEST_F(RemoteRowsTest, InsertKeysRowsFromTheColumnOrTheServer) {
  EXPECT_EQ(Insert(7), 1u);
  cols_[0].readOnly = 1;
  Result("SELECT max(\"Id\") from \"T\" ", {{"M", nullptr, kSrvTypeInteger, 10, 0, 4, 0}},
         {"41"});
  EXPECT_EQ(Insert(0), 2u);
  EXPECT_EQ(cols_[0].value.u.i, 41);
  // No row from the server: the row comes without a key.
  reset_();
  EXPECT_EQ(Insert(0), 3u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"SELECT max(\"Id\") from \"T\" "}));

  EXPECT_EQ(source_.rowCount, 3u);
  EXPECT_EQ(source_.currentRow, 3u);
  EXPECT_EQ(def_->pendingInserts, 3u);
  EXPECT_EQ(def_->keyCount, 2u);
  EXPECT_EQ(KeyOf(1), 7);
  EXPECT_EQ(KeyOf(2), 41);
  EXPECT_EQ(RowOfKey(41), 2u);
  EXPECT_EQ(RowOfKey(7), 1u);
  EXPECT_EQ(RowOfKey(8), 0u);

  // A statement that fails leaves the table as it was.
  executeError_("SELECT max(\"Id\") from \"T\" ", 3, "gone", nullptr);
  uint32_t row = 0;
  EXPECT_EQ(RemoteRowInsert(&source_, &row, cols_.data(), nullptr, nullptr), 0);
  EXPECT_EQ(source_.rowCount, 3u);
  EXPECT_EQ(ErrorLastCode(), 3);
}

TEST_F(RemoteRowsTest, UpdateReKeysARowWhoseKeyChanged) {
  Insert(10);
  Insert(20);
  cols_[0].value.u.i = 25;
  ASSERT_EQ(RemoteRowUpdate(&source_, cols_.data(), 2), 1);
  EXPECT_EQ(KeyOf(2), 25);
  EXPECT_EQ(RowOfKey(25), 2u);
  EXPECT_EQ(RowOfKey(20), 0u);
  EXPECT_EQ(RowOfKey(10), 1u);
  cols_[0].value.u.i = 10;  // unchanged
  ASSERT_EQ(RemoteRowUpdate(&source_, cols_.data(), 1), 1);
  EXPECT_EQ(RowOfKey(10), 1u);
  EXPECT_EQ(RemoteRowUpdate(&source_, nullptr, 1), 1);   // nothing given
  EXPECT_EQ(RemoteRowUpdate(&source_, cols_.data(), 9), 0);  // no such row
}

TEST_F(RemoteRowsTest, InsertedObjectsWaitInThePendingRows) {
  ASSERT_TRUE(GeomScratchInit());
  RemoteObjectDef& objects = def_->objects;
  objects.store.objectsReady = 1;
  objects.store.carriesObjects = 1;
  ASSERT_TRUE(CoordSysParseText(&objects.store.coordSys, "CoordSys Earth Projection 1, 104",
                                true));
  objects.store.geometryType = 1;
  const double bounds[4] = {1, 1, 2, 2};
  std::memcpy(objects.store.bounds, bounds, sizeof bounds);
  ASSERT_EQ(ObjStoreOpen(&store_, kObjStoreRemote, RemoteObjStoreTable(&source_), 0, -1), 1);
  ASSERT_NE(source_.overlay, nullptr);
  const IRect before = store_.header.root;
  ASSERT_FALSE(IRectIsZero(&before));

  GeomObject point;
  GeomObjectInit(&point, kGeomPoint);
  point.u.point.position = {5, 6};
  point.bounds = {5, 6, 5, 6};
  cols_.SetText(1, "pending");
  const uint32_t row = Insert(3, &point, &store_);
  IRect grown = before;
  IRectUnion(&grown, &point.bounds);
  EXPECT_EQ(std::memcmp(&store_.header.root, &grown, sizeof grown), 0);

  // The row's values and object are found before the server's.
  Columns read({{"Id", kFieldInteger, 0, 0}, {"Name", kFieldChar, 10, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(read.data(), read.count()));
  ASSERT_EQ(RowBufferLookup(source_.overlay ? &source_.overlay->source : nullptr, row,
                            read.data(), read.count()),
            1);
  EXPECT_EQ(read[0].value.u.i, 3);
  EXPECT_EQ(read.Text(1), "pending");
  ObjStoreCursor cursor;
  ASSERT_TRUE(ObjStoreCursorOpen(&cursor, &store_));
  GeomObject got;
  GeomObjectInit(&got, kGeomNone);
  EXPECT_EQ(ObjStoreReadObject(&cursor, &store_, int32_t(row), 1, &got, nullptr), 1);
  EXPECT_EQ(got.kind, kGeomPoint);
  EXPECT_EQ(got.u.point.position.x, 5);
  EXPECT_EQ(ObjStoreReadObject(&cursor, &store_, int32_t(row) + 1, 1, &got, nullptr), 0);
  ObjStoreCursorClose(&cursor, &store_);

  // A row without object keeps nothing pending.
  const uint32_t bare = Insert(4);
  EXPECT_EQ(RowBufferLookup(&source_.overlay->source, bare, read.data(), read.count()), 0);
  ObjStoreClose(&store_);
  EXPECT_EQ(source_.overlay, nullptr);  // went with the store
  GeomScratchShutdown();
}

TEST_F(RemoteRowsTest, ReadSwitchesTheWorkspaceThenFindsNoHost) {
  conn_->serverKind = "Oracle_Spatial";
  conn_->serverVersion = 10;
  def_->versioned = 1;
  def_->workspace = "W";
  Insert(1);
  Insert(2);
  source_.rowCount = 0;
  Columns read({{"Id", kFieldInteger, 0, 0}, {"Name", kFieldChar, 10, 0}});
  EXPECT_EQ(RemoteRowRead(&source_, read.data(), 1), 0);
  EXPECT_EQ(def_->state, 2u);
  EXPECT_EQ(source_.rowCount, 2u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"BEGIN DBMS_WM.GotoWorkspace('W'); END;"}));
  def_->atEnd = 1;
  EXPECT_EQ(RemoteRowRead(&source_, read.data(), 3), 0);
  EXPECT_EQ(RemoteAcquire(&source_), 1);
  EXPECT_EQ(def_->cachePosition[0], -1);
  EXPECT_EQ(def_->cacheBlock, nullptr);
}

// Through the interface: a definition of type ODBC fails to open, leaving no
// table open.
TEST(RemoteTableOpen, OdbcDefinitionFailsToOpen) {
  testsupport::TempDir dir;
  ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
  const std::string tab = dir.Write("remote.tab",
                                    "!table\n!version 500\n!charset WindowsLatin1\n\n"
                                    "Definition Table\n  Type ODBC\n  Fields 1\n"
                                    "    Id Integer ;\n");
  EXPECT_EQ(PXOpenTable(tab.c_str(), PX_OPEN_READ), 0);
  EXPECT_EQ(PXGetLastError(), kErrDataOpen);  // no driver error of its own
  EXPECT_EQ(PXOpenTable(tab.c_str(), PX_OPEN_READ), 0);  // nothing was left open
  PXShutdown();
}

}  // namespace
}  // namespace mapfiletest
