// The remote-database layer and the remote table source: loading driver
// libraries from their folder (missing names, refusing and unloadable
// drivers), connect-string tokens and normalising, the connect request, and
// remote tables, which never open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/remote.h"
#include "mapfile_tables/dispatch_fixture.h"

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
