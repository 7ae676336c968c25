// The table-definition writer: the lines of each kind and version, the
// definitions it writes read back and written again unchanged, the keyword
// form of old definitions, a failed write that leaves the old definition
// alone, registration of foreign data files, their refresh, closing a table
// and the plain view of one table.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/tabdef.h"
#include "platform/env.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/tabdef_fixture.h"

namespace {

using namespace layerio;
namespace fs = std::filesystem;
using testsupport::ReadAll;

struct Col {
  const char* name;
  uint8_t type;
  uint8_t width;
  uint8_t decimals;
  int index = 0;  // number of a field index, 0 none
  bool unique = false;
  bool readOnly = false;
  bool autokey = false;
};

// The text as the file layer writes it under the library charset (CR LF).
std::string Lines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

using tabdef_fixture::Pushed;

class TabWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
    ASSERT_FALSE(dir_.path().empty());
  }
  void TearDown() override {
    for (TableObject* t : tables_) TableClose(t);
    tables_.clear();
    PXShutdown();
  }

  std::string PathOf(const std::string& name) const { return dir_.path() + "/" + name; }

  // A table object as the writer sees it, not bound to any file but its
  // definition's entry and (when given) its data file's entry.
  TableObject* Table(const std::string& defName, uint8_t kind, int16_t version,
                     const std::vector<Col>& cols, const std::string& dataName = "") {
    auto* t = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
    std::memset(t, 0, sizeof *t);
    tables_.push_back(t);
    t->defFile = FileTableAddName(PathOf(defName).c_str(), kFileKindTable);
    EXPECT_GT(t->defFile, 0);
    TableSetVersions(t, version);
    t->source.kind = kind;
    DataSourceDefaults(kind, t->source.params.words);
    if (!dataName.empty()) {
      t->source.file = FileTableAddName(PathOf(dataName).c_str(), DataKindFileKind(kind));
      EXPECT_GT(t->source.file, 0);
    }
    t->fieldCount = uint32_t(cols.size());
    t->fields = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * (cols.size() + 1)));
    std::memset(t->fields, 0, sizeof(FieldDef) * (cols.size() + 1));
    for (size_t i = 0; i < cols.size(); ++i) {
      FieldDef& f = t->fields[i];
      std::strcpy(f.name, cols[i].name);
      f.value.kind = cols[i].type;
      f.width = cols[i].width;
      f.decimals = cols[i].decimals;
      f.readOnly = cols[i].readOnly || cols[i].autokey;
      f.autokey = cols[i].autokey;
      if (cols[i].index) {
        f.index = static_cast<FieldIndex*>(MemAlloc(sizeof(FieldIndex)));
        std::memset(f.index, 0, sizeof *f.index);
        f.index->number = uint16_t(cols[i].index);
        f.index->unique = cols[i].unique;
      }
    }
    return t;
  }

  // Makes a data file of a kind with its driver (`name` with extension).
  void MakeData(const std::string& name, uint8_t kind, const std::vector<Col>& cols,
                const std::vector<std::vector<std::string>>& rows = {},
                const uint32_t* params = nullptr) {
    std::vector<FieldDef> fields = tabdef_fixture::FieldsOf(cols);
    DataSource s;
    std::memset(&s, 0, sizeof s);
    FileHandle file = FileTableAddName(PathOf(name).c_str(), DataKindFileKind(kind));
    ASSERT_GT(file, 0);
    ASSERT_TRUE(DataSourceCreate(nullptr, nullptr, -1, 0, &s, kind, int32_t(fields.size()),
                                 fields.data(), params, file))
        << ErrorLastCode();
    ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
    for (const auto& row : rows) {
      for (size_t i = 0; i < cols.size(); ++i) {
        Value text{};
        text.kind = kValueBorrowedText;
        text.u.p = const_cast<char*>(row[i].c_str());
        ASSERT_TRUE(ValueAssign(&fields[i].value, &text, 0));
      }
      uint32_t r = 0;
      ASSERT_TRUE(DataSourceInsert(&s, fields.data(), &r));
    }
    tabdef_fixture::FinishData(&s, fields);
  }

  // Reads a definition through the reader; null when it gives no table.
  TableObject* Open(const std::string& name) {
    TableObject* t = tabdef_fixture::OpenDefinition(PathOf(name));
    if (!t) return nullptr;
    tables_.push_back(t);
    return t;
  }
  void Close(TableObject* t) {
    tables_.erase(std::find(tables_.begin(), tables_.end(), t));
    TableClose(t);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_.path())) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  testsupport::TempDir dir_;
  std::vector<TableObject*> tables_;
};

const std::vector<Col> kCity = {{"NAME", kFieldChar, 20, 0, 1}, {"POP", kFieldInteger, 4, 0}};

// ----- the lines of each kind and version -----

struct TextCase {
  const char* name;
  uint8_t kind;
  int16_t version;
  std::vector<Col> cols;
  const char* data;  // data file name, "" none
  const char* expected;
};

TEST_F(TabWriteTest, LinesOfEachKindAndVersion) {
  const TextCase cases[] = {
      {"native 300, indexed NAME, default data name", kDataNative, 300, kCity, "t.dat",
       "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
       "  Type NATIVE Charset \"WindowsLatin1\"\n  Fields 2\n"
       "    NAME Char (20) Index 1 ;\n    POP Integer ;\n"},
      {"dBASE under another name", kDataDbase, 300, {{"Pop", kFieldDecimal, 12, 3}}, "Cities.DBF",
       "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
       "  File \"cities.dbf\"\n  Type DBF Charset \"WindowsLatin1\"\n  Fields 1\n"
       "    Pop Decimal (12, 3) ;\n"},
      {"data in a folder keeps the folder's case", kDataDbase, 300, {{"A", kFieldDate, 4, 0}},
       "Sub/Data.DBF",
       "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
       "  File \"Sub/data.dbf\"\n  Type DBF Charset \"WindowsLatin1\"\n  Fields 1\n"
       "    A Date ;\n"},
      {"column marks", kDataNative, 450,
       {{"ID", kFieldInteger, 4, 0, 2, true, false, true},
        {"CODE", kFieldSmallint, 2, 0, 0, false, true},
        {"OK", kFieldLogical, 1, 0},
        {"V", kFieldFloat, 8, 0},
        {"M", kFieldMemo, 13, 0}},
       "",
       "!table\n!version 450\n!charset WindowsLatin1\n\nDefinition Table\n"
       "  Type NATIVE Charset \"WindowsLatin1\"\n  Fields 5\n"
       "    ID Integer Index 2 Unique Autokey ;\n    CODE Smallint ReadOnly ;\n"
       "    OK Logical ;\n    V Float ;\n    M Memo ;\n"},
      {"keyword form below 300", kDataDbase, 100, kCity, "other.dbf",
       "!table\n!version 100\nFILE: other.dbf\nFORMAT: DBF Charset ANSI\nFIELDS: 2\n"
       "    NAME Char (20) Index 1\n    POP Integer\n"},
      {"keyword form, native: no type line", kDataNative, 0, {{"A", kFieldChar, 5, 0}}, "t.dat",
       "!table\n!version 0\nFIELDS: 1\n    A Char (5)\n"},
      {"query: the type word ends the file", kDataQuery, 300, {}, "",
       "!table\n!version 300\n\nDefinition Table\n  Type QUERY"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(PathOf("t.tab"));
    TableObject* t = Table("t.tab", c.kind, c.version, c.cols, c.data);
    ErrorClear();
    ASSERT_EQ(TableDefWrite(t), 1) << ErrorLastCode();
    EXPECT_EQ(ReadAll(PathOf("t.tab")), Lines(c.expected));
    Close(t);
  }
}

// Kinds whose drivers are not in this library still have their lines.
TEST_F(TabWriteTest, TypeLinesOfWorksheetsAccessLinkedAndWebFeatureTables) {
  static char range[] = "A1:C20";
  static char accessTable[] = "Towns";
  struct {
    const char* name;
    uint8_t kind;
    int16_t version;
    const char* expected;
  } cases[] = {
      {"Excel with titles and a range", kDataExcel, 300,
       "  Type XLS Titles Range \"A1:C20\"\n"},
      {"Lotus, keyword form: no titles word", kDataLotus, 100,
       "FORMAT: WKS Range \"A1:C20\"\n"},
      {"Access", kDataAccess, 410,
       "  Type ACCESS TABLE \"Towns\" Charset \"WindowsLatin1\"\n"},
      {"linked", kDataNative, 300, "  Type LINKED Charset \"WindowsLatin1\"\n"},
      {"web feature", kDataNative, 780, "  Type WFS Charset \"WindowsLatin1\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TableObject* t = Table("t.tab", c.kind, c.version, {{"A", kFieldChar, 5, 0}});
    t->source.params.SetHalf(28, 1);
    t->source.params.ptr[2] = range;
    t->source.params.ptr[4] = accessTable;
    t->linked = std::strcmp(c.name, "linked") == 0;
    t->webFeature = c.version == 780;
    ASSERT_EQ(TableDefWrite(t), 1);
    const std::string text = ReadAll(PathOf("t.tab"));
    EXPECT_NE(text.find(Lines(c.expected)), std::string::npos) << text;
    t->source.params.ptr[2] = nullptr;
    t->source.params.ptr[4] = nullptr;
    Close(t);
  }
}

TEST_F(TabWriteTest, HeaderVersionsAndDescription) {
  struct {
    int16_t versions[3];
    const char* description;
    const char* expected;
  } cases[] = {
      {{300, 450, 450}, nullptr, "!readentire_version 450\n\nDefinition"},
      {{300, 300, 650}, nullptr, "!charset WindowsLatin1\n!edit_version 650\n\nDefinition"},
      {{300, 450, 650}, nullptr, "!readentire_version 450\n!edit_version 650\n\n"},
      {{300, 300, 300}, "Say \"hi\"", "Table\n  Description \"Say \"\"hi\"\"\"\n  Type"},
      {{100, 100, 100}, "Old one", "!version 100\nDESCRIPTION: Old one\nFORMAT: DBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    TableObject* t = Table("t.tab", kDataDbase, c.versions[0], {{"A", kFieldChar, 5, 0}}, "t.dbf");
    t->readEntireVersion = c.versions[1];
    t->editVersion = c.versions[2];
    if (c.description) {
      t->description = static_cast<char*>(MemAlloc(std::strlen(c.description) + 1));
      std::strcpy(t->description, c.description);
    }
    ASSERT_EQ(TableDefWrite(t), 1);
    EXPECT_NE(ReadAll(PathOf("t.tab")).find(Lines(c.expected)), std::string::npos)
        << ReadAll(PathOf("t.tab"));
    Close(t);
  }
}

TEST_F(TabWriteTest, DelimitersAndTitles) {
  struct {
    char delimiter;
    bool titles;
    const char* expected;
  } cases[] = {
      {',', false, "  Type ASCII Delimiter \",\" Charset \"WindowsLatin1\"\n"},
      {'\t', true, "  Type ASCII Delimiter 09 Titles Charset \"WindowsLatin1\"\n"},
      {'"', false, "  Type ASCII Delimiter 34 Charset"},
      {'\'', false, "  Type ASCII Delimiter 39 Charset"},
      {' ', false, "  Type ASCII Delimiter 32 Charset"},
      {';', true, "  Type ASCII Delimiter \";\" Titles Charset"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    TableObject* t = Table("t.tab", kDataText, 300, {{"A", kFieldChar, 5, 0}}, "t.txt");
    t->source.params.SetByte(8, uint8_t(c.delimiter));
    t->source.params.SetByte(9, c.titles ? 1 : 0);
    ASSERT_EQ(TableDefWrite(t), 1);
    std::string text = ReadAll(PathOf("t.tab"));
    EXPECT_NE(text.find(Lines(c.expected)), std::string::npos) << text;
    EXPECT_EQ(text.find("  File"), std::string::npos);
    Close(t);
  }
  // Comma-separated data is written as delimited text, with its own name.
  TableObject* t = Table("t.tab", kDataCsv, 300, {{"A", kFieldChar, 5, 0}}, "t.csv");
  ASSERT_EQ(TableDefWrite(t), 1);
  EXPECT_NE(ReadAll(PathOf("t.tab")).find(Lines("  File \"t.csv\"\n  Type ASCII Delimiter \",\"")),
            std::string::npos);
  Close(t);
}

TEST_F(TabWriteTest, MetadataSectionAndTheReadOnlyLineBeforeIt) {
  for (int16_t version : {300, 450}) {
    SCOPED_TRACE(version);
    TableObject* t = Table("t.tab", kDataNative, version, {{"A", kFieldChar, 5, 0}});
    t->metadata = MetadataCreate();
    ASSERT_TRUE(MetadataStore(t->metadata, "\\IsReadOnly", "SUSPEND_FALSE"));
    ASSERT_TRUE(MetadataSet(t->metadata, "\\Key", "value"));
    ASSERT_EQ(TableDefWrite(t), 1);
    std::string text = ReadAll(PathOf("t.tab"));
    const std::string fields = Lines("    A Char (5) ;\n");
    size_t end = text.find(fields);
    ASSERT_NE(end, std::string::npos);
    std::string after = text.substr(end + fields.size());
    if (version == 300) {
      EXPECT_EQ(after.rfind(Lines("ReadOnly\nbegin_metadata\n"), 0), 0u) << after;
    } else {
      EXPECT_EQ(after.rfind(Lines("begin_metadata\n"), 0), 0u) << after;
    }
    // A suspended FALSE is written as FALSE.
    EXPECT_NE(after.find("\"FALSE\""), std::string::npos);
    EXPECT_EQ(after.find("SUSPEND"), std::string::npos);
    Close(t);
  }
  // Empty metadata is written only when asked for.
  TableObject* t = Table("t.tab", kDataNative, 450, {{"A", kFieldChar, 5, 0}});
  t->metadata = MetadataCreate();
  ASSERT_EQ(TableDefWrite(t), 1);
  EXPECT_EQ(ReadAll(PathOf("t.tab")).find("begin_metadata"), std::string::npos);
  MetadataFree(t->metadata);
  t->metadata = nullptr;
  ASSERT_EQ(TableDefWriteFull(t, 1, 0), 1);
  EXPECT_NE(t->metadata, nullptr);
  EXPECT_NE(ReadAll(PathOf("t.tab")).find("begin_metadata"), std::string::npos);
  Close(t);
}

// ----- written, read back, written again -----

TEST_F(TabWriteTest, WrittenDefinitionsReadBackAndRewriteUnchanged) {
  struct Case {
    const char* name;
    uint8_t kind;
    int16_t version;
    const char* data;
    bool metadata;
    bool description;
  } cases[] = {
      {"native", kDataNative, 300, "n.dat", false, false},
      {"native 450 with metadata", kDataNative, 450, "m.dat", true, true},
      {"native 300 with metadata", kDataNative, 300, "r.dat", true, false},
      {"dBASE under another name", kDataDbase, 300, "Other.dbf", false, true},
      {"delimited", kDataText, 300, "d.txt", true, false},
  };
  const std::vector<Col> cols = {{"Name", kFieldChar, 20, 0}, {"Pop", kFieldDecimal, 12, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t params[kDataParamWords];
    DataSourceDefaults(c.kind, params);
    if (c.kind == kDataText) {
      reinterpret_cast<uint8_t*>(params)[8] = ',';
      reinterpret_cast<uint8_t*>(params)[9] = 1;
    }
    MakeData(c.data, c.kind, cols, {{"Paris", "2100000.5"}, {"Lyon", "500000"}}, params);
    TableObject* t = Table("rt.tab", c.kind, c.version, cols, c.data);
    std::memcpy(t->source.params.words, params, sizeof params);
    if (c.description) {
      t->description = static_cast<char*>(MemAlloc(32));
      std::strcpy(t->description, "Towns, \"big\" ones");
    }
    if (c.metadata) {
      t->metadata = MetadataCreate();
      ASSERT_TRUE(MetadataStore(t->metadata, "\\IsReadOnly", "FALSE"));
      ASSERT_TRUE(MetadataSet(t->metadata, "\\Long\\Value", std::string(500, 'x').c_str()));
    }
    ASSERT_EQ(TableDefWrite(t), 1);
    Close(t);
    const std::string first = ReadAll(PathOf("rt.tab"));

    TableObject* back = Open("rt.tab");
    ASSERT_NE(back, nullptr) << ErrorLastCode();
    ASSERT_EQ(back->fieldCount, 2u);
    EXPECT_STREQ(back->fields[0].name, "Name");
    EXPECT_EQ(back->source.kind, c.kind);
    ASSERT_EQ(TableDefWrite(back), 1) << ErrorLastCode();
    EXPECT_EQ(ReadAll(PathOf("rt.tab")), first);
    Close(back);
    fs::remove(PathOf(c.data));
    fs::remove(PathOf("rt.tab"));
  }
}

TEST_F(TabWriteTest, AnIndexMadeOnAnOpenTableIsWrittenAndReadBack) {
  MakeData("city.dat", kDataNative, {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldInteger, 4, 0}},
           {{"Paris", "1"}, {"Lyon", "2"}});
  TableObject* t = Table("city.tab", kDataNative, 300,
                         {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldInteger, 4, 0}});
  ASSERT_EQ(TableDefWrite(t), 1);
  Close(t);
  t = Open("city.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_EQ(FieldIndexCreate(t, 0, 0, nullptr, nullptr), 1) << ErrorLastCode();
  const std::string text = ReadAll(PathOf("city.tab"));
  EXPECT_EQ(text, Lines("!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                        "  Type NATIVE Charset \"WindowsLatin1\"\n  Fields 2\n"
                        "    NAME Char (20) Index 1 ;\n    POP Integer ;\n"));
  Close(t);
  // The .IND entry went with the table: the next reader finds the index.
  t = Open("city.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_NE(t->fields[0].index, nullptr);
  EXPECT_EQ(t->fields[0].index->number, 1);
  ASSERT_EQ(TableDefWrite(t), 1);
  EXPECT_EQ(ReadAll(PathOf("city.tab")), text);
  Close(t);
}

TEST_F(TabWriteTest, AKeywordFormIndexIsBoundToTheIndexFile) {
  MakeData("k.dat", kDataNative, {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldInteger, 4, 0}},
           {{"Paris", "1"}});
  TableObject* t = Table("k.tab", kDataNative, 300,
                         {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldInteger, 4, 0}});
  ASSERT_EQ(TableDefWrite(t), 1);
  Close(t);
  t = Open("k.tab");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(FieldIndexCreate(t, 0, 0, nullptr, nullptr), 1);
  t->version = t->readEntireVersion = t->editVersion = 100;
  ASSERT_EQ(TableDefWrite(t), 1);
  EXPECT_NE(ReadAll(PathOf("k.tab")).find(Lines("FIELDS: 2\n    NAME Char (20) Index 1\n")),
            std::string::npos);
  Close(t);
  t = Open("k.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_NE(t->fields[0].index, nullptr);
  EXPECT_EQ(t->fields[0].index->number, 1);
  EXPECT_EQ(t->fields[1].index, nullptr);
  Close(t);
}

// ----- a failed write -----

// Fails renames, or creations of files in one folder.
class FailingEnv : public platform::EnvWrapper {
 public:
  FailingEnv() : platform::EnvWrapper(platform::Env::Current()) {}
  int Rename(std::string_view from, std::string_view to) override {
    if (failRename) {
      errno = EIO;
      return -1;
    }
    return platform::EnvWrapper::Rename(from, to);
  }
  int Open(std::string_view path, unsigned flags, int mode) override {
    if (!readOnlyDir.empty() && (flags & platform::kCreate) &&
        path.substr(0, readOnlyDir.size()) == readOnlyDir) {
      errno = EACCES;
      return -1;
    }
    return platform::EnvWrapper::Open(path, flags, mode);
  }
  bool failRename = false;
  std::string readOnlyDir;
};

TEST_F(TabWriteTest, AFailedWriteLeavesTheOldDefinition) {
  const std::string old = "!table\n!version 300\nthe old definition, byte for byte\r\n\x01\xff";
  struct {
    const char* name;
    uint8_t kind;
    int16_t type;  // of the second column
    bool rename;
    bool readOnlyDir;
    bool readOnlyFile;
  } cases[] = {
      {"row buffers: no kind the writer knows", kDataRowBuffer, kFieldInteger, false, false,
       false},
      {"remote: not written here", kDataRemote, kFieldInteger, false, false, false},
      {"no data part", kDataNone, kFieldInteger, false, false, false},
      {"a column without a type text, part-way", kDataNative, kFieldChar25, false, false, false},
      {"the rename fails", kDataNative, kFieldInteger, true, false, false},
      {"the folder refuses new files", kDataNative, kFieldInteger, false, true, false},
      {"the definition is read-only", kDataNative, kFieldInteger, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("t.tab", old);
    ::chmod(PathOf("t.tab").c_str(), c.readOnlyFile ? 0444 : 0644);
    FailingEnv env;
    env.failRename = c.rename;
    if (c.readOnlyDir) env.readOnlyDir = dir_.path();
    platform::ScopedEnv scoped(env);
    TableObject* t = Table("t.tab", c.kind, 300,
                           {{"A", kFieldChar, 5, 0}, {"B", uint8_t(c.type), 4, 0}});
    ErrorClear();
    EXPECT_EQ(TableDefWrite(t), 0);
    EXPECT_TRUE(Pushed(kErrDefWriteFailed));
    EXPECT_EQ(ReadAll(PathOf("t.tab")), old);
    EXPECT_EQ(Names(), std::vector<std::string>{"t.tab"}) << "a temporary file was left";
    Close(t);
  }
}

TEST_F(TabWriteTest, AReadOnlyFolderLeavesTheOldDefinition) {
  testsupport::TempDir copy;
  const std::string old = "!table\n!version 300\nold\n";
  copy.Write("t.tab", old);
  ::chmod(copy.path().c_str(), 0555);
  if (::access((copy.path() + "/x").c_str(), F_OK) != 0) {
    std::ofstream probe(copy.path() + "/probe");
    if (probe) {
      probe.close();
      fs::remove(copy.path() + "/probe");
      ::chmod(copy.path().c_str(), 0755);
      GTEST_SKIP() << "the folder's mode does not hold for this user";
    }
  }
  auto* t = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
  std::memset(t, 0, sizeof *t);
  t->defFile = FileTableAddName((copy.path() + "/t.tab").c_str(), kFileKindTable);
  TableSetVersions(t, 300);
  t->source.kind = kDataNative;
  EXPECT_EQ(TableDefWrite(t), 0);
  EXPECT_EQ(ReadAll(copy.path() + "/t.tab"), old);
  TableClose(t);
  ::chmod(copy.path().c_str(), 0755);
}

TEST_F(TabWriteTest, AFailedUniqueIndexLeavesTheDefinition) {
  MakeData("dup.dat", kDataNative, {{"NAME", kFieldChar, 10, 0}}, {{"a"}, {"a"}});
  TableObject* t = Table("dup.tab", kDataNative, 300, {{"NAME", kFieldChar, 10, 0}});
  ASSERT_EQ(TableDefWrite(t), 1);
  Close(t);
  const std::string before = ReadAll(PathOf("dup.tab"));
  t = Open("dup.tab");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(FieldIndexCreate(t, 0, 1, nullptr, nullptr), 0);
  EXPECT_EQ(ReadAll(PathOf("dup.tab")), before);
  Close(t);
}

// ----- definitions older than version 300 -----

TEST_F(TabWriteTest, KeywordFormDefinitionsRead) {
  MakeData("city.dbf", kDataDbase,
           {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldDecimal, 8, 2}, {"D", kFieldDate, 8, 0}});
  MakeData("plain.txt", kDataText, {{"A", kFieldChar, 10, 0}, {"B", kFieldChar, 10, 0}});
  MakeData("n.dat", kDataNative, {{"A", kFieldChar, 10, 0}, {"N", kFieldInteger, 4, 0}});
  dir_.Write("old.tab",
             "!table\n!version 100\n"
             "DESCRIPTION: \"Big towns\"\n"
             "  FILE: \"city.dbf\"  \n"
             "FORMAT: DBF Charset \"MAC\"\n"
             "FIELDS: 3\n"
             "  NAME Char (20)\n"
             "  POP  decimal(8,2)\n"
             "  D Date\n"
             "READONLY\n");
  TableObject* t = Open("old.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_STREQ(t->description, "Big towns");
  EXPECT_EQ(t->source.kind, kDataDbase);
  EXPECT_EQ(int(t->source.params.words[2]), CharsetFromName("MAC"));
  ASSERT_EQ(t->fieldCount, 3u);
  EXPECT_STREQ(t->fields[1].name, "POP");
  EXPECT_EQ(t->fields[1].value.kind, kFieldDecimal);
  EXPECT_EQ(t->fields[1].width, 8);
  EXPECT_EQ(t->fields[1].decimals, 2);
  EXPECT_EQ(t->fields[2].value.kind, kFieldDate);
  EXPECT_EQ(t->readOnly, 1);
  Close(t);

  dir_.Write("plain.tab",
             "!table\n!version 200\nFILE: plain.txt\nTYPE: ASCII Delimiter \",\" Titles\n"
             "FIELDS: 2\nA char(10)\nB Char (10)\n");
  t = Open("plain.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->source.kind, kDataText);
  EXPECT_EQ(t->source.params.Byte(8), ',');
  EXPECT_EQ(t->source.params.Byte(9), 1);
  Close(t);

  // No type line: native data, under the definition's own name.
  dir_.Write("n.tab", "!table\n!version 100\nFIELDS: 2\nA Char (10)\nN Integer\n"
                      "begin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\n\"\\K\" = \"v\"\n"
                      "end_metadata\n");
  t = Open("n.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->source.kind, kDataNative);
  ASSERT_NE(t->metadata, nullptr);
  char value[8] = "";
  EXPECT_EQ(MetadataGet(t->metadata, "\\K", value, sizeof value), 1);
  EXPECT_STREQ(value, "v");
  Close(t);
}

TEST_F(TabWriteTest, KeywordFormWrittenByTheLibraryReadsBack) {
  MakeData("k.dbf", kDataDbase, {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldDecimal, 10, 2}});
  TableObject* t = Table("k.tab", kDataDbase, 100,
                         {{"NAME", kFieldChar, 20, 0}, {"POP", kFieldDecimal, 10, 2}}, "k.dbf");
  t->description = static_cast<char*>(MemAlloc(8));
  std::strcpy(t->description, "Towns");
  ASSERT_EQ(TableDefWrite(t), 1);
  Close(t);
  t = Open("k.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_STREQ(t->description, "Towns");
  ASSERT_EQ(t->fieldCount, 2u);
  EXPECT_EQ(t->fields[1].width, 10);
  EXPECT_EQ(t->fields[1].decimals, 2);
  Close(t);
}

TEST_F(TabWriteTest, DamagedKeywordFormDefinitions) {
  struct {
    const char* name;
    const char* text;
    int code;
  } cases[] = {
      {"no columns", "!table\n!version 100\nFORMAT: NATIVE\n", kErrDefLegacyNoColumns},
      {"zero columns", "!table\n!version 100\nFIELDS: 0\n", kErrDefLegacyNoColumns},
      {"fewer field lines", "!table\n!version 100\nFIELDS: 3\nA Char (2)\n",
       kErrDefLegacyNoColumns},
      {"unknown charset", "!table\n!version 100\nFORMAT: DBF Charset Klingon\nFIELDS: 1\nA Date\n",
       1283},
      {"unknown type word", "!table\n!version 100\nFIELDS: 1\nA Varchar (2)\n", kErrDefTypeWord},
      {"no type word", "!table\n!version 100\nFIELDS: 1\nA\n", kErrDefTypeWord},
      {"unknown format", "!table\n!version 100\nFORMAT: RASTER\nFIELDS: 1\nA Date\n",
       kErrDefTableType},
      {"a huge count", "!table\n!version 100\nFIELDS: 99999999999\n", kErrDefTypeWord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("bad.tab", c.text);
    EXPECT_EQ(Open("bad.tab"), nullptr);
    EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
  }
}

TEST_F(TabWriteTest, AKeywordFormIndexThatCannotBeHadGoesToTheFatalRoutine) {
  MakeData("i.dat", kDataNative, {{"A", kFieldChar, 10, 0}});
  dir_.Write("i.tab", "!table\n!version 100\nFIELDS: 1\nA Char (10) Index 1\n");
  // Without trapping the field is read without its index.
  ASSERT_EQ(TrapToggle(0), 0);
  TableObject* t = Open("i.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->fields[0].index, nullptr);
  Close(t);
  // With it the reader ends at the fatal routine, holding nothing.
  TrapToggle(1);
  FileHandle file = FileTableAddName(PathOf("i.tab").c_str(), kFileKindTable);
  TableObject* trapped =
      RunGuarded(static_cast<TableObject*>(nullptr), [&] { return TableDefinitionOpen(file); });
  TrapToggle(1);
  EXPECT_EQ(trapped, nullptr);
  EXPECT_TRUE(Pushed(kErrInternal));
  EXPECT_STREQ(FatalText(), "Unable to access index for field A of table i.");
  FileRelease(file);
}

TEST_F(TabWriteTest, ColumnsOfADefinition) {
  TableObject* t = Table("c.tab", kDataNative, 300,
                         {{"NAME", kFieldChar, 20, 0, 1}, {"POP", kFieldDecimal, 9, 2}});
  ASSERT_EQ(TableDefWrite(t), 1);
  int32_t count = 0;
  FieldDef* fields = TableDefColumns(t->defFile, &count, 1);
  ASSERT_NE(fields, nullptr) << ErrorLastCode();
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(fields[0].name, "NAME");
  EXPECT_EQ(fields[0].width, 20);
  EXPECT_EQ(fields[0].index, nullptr);
  EXPECT_EQ(fields[1].decimals, 2);
  ColumnValuesFree(fields, count);
  MemFree(fields);
  // The definition's entry stays the caller's.
  EXPECT_GT(FileHandleCheck(t->defFile), -1);
  Close(t);
}

// ----- registration -----

TEST_F(TabWriteTest, RegisteredDbaseFileReadsBack) {
  MakeData("world.dbf", kDataDbase, {{"Country", kFieldChar, 30, 0}, {"Pop", kFieldDecimal, 12, 0}},
           {{"France", "68000000"}});
  DataSource source{};
  source.kind = kDataDbase;
  DataSourceDefaults(kDataDbase, source.params.words);
  ErrorClear();
  ASSERT_EQ(TableRegisterData(PathOf("world.tab").c_str(), PathOf("world.dbf").c_str(), &source,
                              0, 0),
            1)
      << ErrorLastCode();
  EXPECT_EQ(ReadAll(PathOf("world.tab")),
            Lines("!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                  "  Type DBF Charset \"WindowsLatin1\"\n  Fields 2\n"
                  "    Country Char (30) ;\n    Pop Decimal (12, 0) ;\n"));
  TableObject* t = Open("world.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->rowCount, 1u);
  Close(t);
  // Every entry it made went with it: the files can be registered again.
  ASSERT_EQ(TableRegisterData(PathOf("world.tab").c_str(), PathOf("world.dbf").c_str(), &source,
                              1, 0),
            1);
  EXPECT_NE(ReadAll(PathOf("world.tab")).find(Lines("ReadOnly\nbegin_metadata")),
            std::string::npos);
}

TEST_F(TabWriteTest, RegisteredTextFileReadsBack) {
  dir_.Write("towns.csv", "Name,Pop\nParis,2100000\nLyon,500000\n");
  DataSource source{};
  source.kind = kDataText;
  DataSourceDefaults(kDataText, source.params.words);
  source.params.SetByte(8, ',');
  source.params.SetByte(9, 1);
  ErrorClear();
  ASSERT_EQ(TableRegisterData(PathOf("towns.tab").c_str(), PathOf("towns.csv").c_str(), &source,
                              0, 0),
            1)
      << ErrorLastCode();
  const std::string text = ReadAll(PathOf("towns.tab"));
  EXPECT_NE(text.find(Lines("  File \"towns.csv\"\n  Type ASCII Delimiter \",\" Titles Charset")),
            std::string::npos)
      << text;
  TableObject* t = Open("towns.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_EQ(t->fieldCount, 2u);
  EXPECT_STREQ(t->fields[0].name, "Name");
  EXPECT_EQ(t->rowCount, 2u);
  Close(t);
}

TEST_F(TabWriteTest, RegistrationThatCannotDescribeKeepsAnOldDefinition) {
  DataSource source{};
  source.kind = kDataDbase;
  DataSourceDefaults(kDataDbase, source.params.words);
  ErrorClear();
  EXPECT_EQ(TableRegisterData(PathOf("gone.tab").c_str(), PathOf("gone.dbf").c_str(), &source, 0,
                              0),
            0);
  EXPECT_TRUE(Pushed(kErrDefDescribeFailed));
  EXPECT_FALSE(fs::exists(PathOf("gone.tab")));

  dir_.Write("bad.dbf", "not a dBASE file at all");
  dir_.Write("bad.tab", "!table\n!version 300\nkept\n");
  ErrorClear();
  EXPECT_EQ(TableRegisterData(PathOf("bad.tab").c_str(), PathOf("bad.dbf").c_str(), &source, 0,
                              0),
            0);
  EXPECT_TRUE(Pushed(kErrDefDescribeFailed));
  EXPECT_EQ(ReadAll(PathOf("bad.tab")), "!table\n!version 300\nkept\n");
}

TEST_F(TabWriteTest, ShapefileRegistrationDropsAnOldMapPart) {
  MakeData("roads.dbf", kDataDbase, {{"Name", kFieldChar, 10, 0}});
  dir_.Write("roads.shp", "shapes");
  dir_.Write("roads.MAP", "old map");
  dir_.Write("roads.id", "old ids");
  DataSource source{};
  source.kind = kDataDbase;
  DataSourceDefaults(kDataDbase, source.params.words);
  ASSERT_EQ(TableRegisterData(PathOf("roads.tab").c_str(), PathOf("roads.shp").c_str(), &source,
                              0, 0),
            1)
      << ErrorLastCode();
  EXPECT_NE(ReadAll(PathOf("roads.tab")).find("  Type SHAPEFILE Charset"), std::string::npos);
  EXPECT_FALSE(fs::exists(PathOf("roads.MAP")));
  EXPECT_FALSE(fs::exists(PathOf("roads.id")));
  EXPECT_TRUE(fs::exists(PathOf("roads.shp")));
}

// ----- staleness and refresh -----

TEST_F(TabWriteTest, DataNewerThanItsDefinition) {
  MakeData("s.dbf", kDataDbase, {{"A", kFieldChar, 4, 0}});
  dir_.Write("s.tab", "x");
  const auto now = fs::last_write_time(PathOf("s.tab"));
  int newer = -1;
  fs::last_write_time(PathOf("s.dbf"), now - std::chrono::seconds(10));
  EXPECT_EQ(TableDataNewer(PathOf("s.dbf").c_str(), PathOf("s.tab").c_str(), &newer, nullptr), 1);
  EXPECT_EQ(newer, 0);
  fs::last_write_time(PathOf("s.dbf"), now + std::chrono::seconds(10));
  EXPECT_EQ(TableDataNewer(PathOf("s.dbf").c_str(), PathOf("s.tab").c_str(), &newer, nullptr), 1);
  EXPECT_EQ(newer, 1);
  ErrorClear();
  EXPECT_EQ(TableDataNewer(PathOf("no.dbf").c_str(), PathOf("s.tab").c_str(), &newer, nullptr), 0);
  EXPECT_TRUE(Pushed(kErrDefFileTime));

  // A shapefile's data counts as newer when its .shp is.
  fs::last_write_time(PathOf("s.dbf"), now - std::chrono::seconds(10));
  TableObject* t = Table("s.tab", kDataDbase, 300, {});
  t->source.shapeFile = 1;
  ErrorClear();
  EXPECT_EQ(TableDataNewer(PathOf("s.dbf").c_str(), PathOf("s.tab").c_str(), &newer, t), 0);
  EXPECT_TRUE(Pushed(kErrDefFileTime));
  dir_.Write("s.shp", "");
  dir_.Write("s.shx", "");
  fs::last_write_time(PathOf("s.shx"), now - std::chrono::seconds(10));
  EXPECT_EQ(TableDataNewer(PathOf("s.dbf").c_str(), PathOf("s.tab").c_str(), &newer, t), 1);
  EXPECT_EQ(newer, 1);
  Close(t);
}

TEST_F(TabWriteTest, RefreshRewritesTheDefinitionAndRebuildsItsIndexes) {
  const std::vector<Col> cols = {{"Name", kFieldChar, 10, 0}, {"Pop", kFieldDecimal, 8, 0}};
  MakeData("r.dbf", kDataDbase, cols, {{"b", "1"}, {"a", "2"}});
  DataSource source{};
  source.kind = kDataDbase;
  DataSourceDefaults(kDataDbase, source.params.words);
  ASSERT_EQ(TableRegisterData(PathOf("r.tab").c_str(), PathOf("r.dbf").c_str(), &source, 0, 0),
            1);
  TableObject* t = Open("r.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  ASSERT_EQ(FieldIndexCreate(t, 0, 0, nullptr, nullptr), 1) << ErrorLastCode();
  ASSERT_TRUE(fs::exists(PathOf("r.IND")) || fs::exists(PathOf("r.ind")));

  // Nothing to do while the data is older.
  const std::string before = ReadAll(PathOf("r.tab"));
  ASSERT_EQ(TableDefRefresh(PathOf("r.tab").c_str(), PathOf("r.dbf").c_str(), t), 1);
  EXPECT_EQ(ReadAll(PathOf("r.tab")), before);

  // The data file gains a column.
  DataSourceClose(&t->source, nullptr);
  fs::remove(PathOf("r.dbf"));
  MakeData("r.dbf", kDataDbase,
           {{"Code", kFieldChar, 3, 0}, {"Name", kFieldChar, 10, 0}, {"Pop", kFieldDecimal, 8, 0}},
           {{"x", "c", "3"}, {"y", "b", "1"}, {"z", "a", "2"}});
  fs::last_write_time(PathOf("r.tab"),
                      fs::last_write_time(PathOf("r.dbf")) - std::chrono::seconds(5));
  ErrorClear();
  ASSERT_EQ(TableDefRefresh(PathOf("r.tab").c_str(), PathOf("r.dbf").c_str(), t), 1)
      << ErrorLastCode();
  EXPECT_EQ(ReadAll(PathOf("r.tab")),
            Lines("!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                  "  Type DBF Charset \"WindowsLatin1\"\n  Fields 3\n"
                  "    Code Char (3) ;\n    Name Char (10) Index 1 ;\n"
                  "    Pop Decimal (8, 0) ;\n"));
  ASSERT_EQ(t->fieldCount, 3u);
  ASSERT_NE(t->fields[1].index, nullptr);
  Close(t);
  t = Open("r.tab");
  ASSERT_NE(t, nullptr) << ErrorLastCode();
  EXPECT_EQ(t->rowCount, 3u);
  ASSERT_NE(t->fields[1].index, nullptr);
  Close(t);
}

// ----- closing, views -----

TEST_F(TabWriteTest, ClosingATemporaryTableDeletesItsIndexFile) {
  for (bool temporary : {false, true}) {
    SCOPED_TRACE(temporary);
    MakeData("x.dat", kDataNative, {{"A", kFieldChar, 4, 0}}, {{"q"}});
    TableObject* t = Table("x.tab", kDataNative, 300, {{"A", kFieldChar, 4, 0}});
    ASSERT_EQ(TableDefWrite(t), 1);
    Close(t);
    t = Open("x.tab");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(FieldIndexCreate(t, 0, 0, nullptr, nullptr), 1);
    char indexPath[kPathCapacity];
    FilePath(t->indexFile, indexPath);
    t->temporary = temporary;
    t->source.temporary = 0;
    Close(t);
    EXPECT_EQ(fs::exists(indexPath), !temporary);
    EXPECT_EQ(FileTableFind(indexPath, kFileKindIndex), 0) << "the .IND entry was kept";
    EXPECT_EQ(FileTableFind(PathOf("x.tab").c_str(), kFileKindTable), 0);
    fs::remove(indexPath);
    fs::remove(PathOf("x.dat"));
  }
}

TEST_F(TabWriteTest, PlainViewOfOneTable) {
  struct {
    const char* name;
    uint8_t kind;
    uint8_t viewKind;
    int refuse;
    int code;  // 0: bound
    uint8_t readOnly;
  } cases[] = {
      {"native", kDataNative, 0, 0, 0, 0},
      {"dBASE", kDataDbase, 0, 0, 0, 0},
      {"text is read-only", kDataText, 0, 0, 0, 1},
      {"refused", kDataNative, 0, 1, kErrDefViewBind, 0},
      {"kind 5", kDataNative, 5, 0, kErrDefViewBind, 0},
      {"already bound", kDataNative, 1, 0, kErrDefQuery, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TableObject* t =
        Table("v.tab", c.kind, 300, {{"A", kFieldChar, 4, 0}, {"B", kFieldDate, 4, 0}});
    std::strcpy(t->name, "Towns");
    TableObject* view = Table("view.tab", kDataNone, 300, {});
    MemFreePtr(&view->fields);
    view->viewKind = c.viewKind;
    ErrorClear();
    EXPECT_EQ(TableViewOfTable(view, t, c.refuse), c.code ? 0 : 1);
    if (c.code) {
      EXPECT_TRUE(Pushed(c.code));
    } else {
      EXPECT_STREQ(view->name, "Towns");
      EXPECT_EQ(view->viewKind, 1);
      ASSERT_EQ(view->partCount, 1u);
      EXPECT_EQ(view->parts[0].table, t);
      ASSERT_NE(view->columns, nullptr);
      ASSERT_EQ(view->columns->count, 2u);
      EXPECT_STREQ(view->columns->slots[1].name, "B");
      EXPECT_EQ(view->columns->slots[1].displayWidth, 10);
      EXPECT_EQ(view->readOnly, c.readOnly);
      EXPECT_EQ(view->columns->slots[0].editable, c.readOnly ? 0 : 1);
    }
    Close(view);
    Close(t);
  }
}

}  // namespace
