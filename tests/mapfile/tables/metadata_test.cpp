// Table metadata: the key tree and its pieces, the text form written and
// read back, the flag keys, and the five interface entries over a table
// registered in a slot.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "layerio.h"
#include "mapfile/foundation/token.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/metadata.h"
#include "mapfile/tables/table.h"

namespace mapfiletest {
namespace {

using namespace layerio;

// A tree freed at the end of the test.
struct Tree {
  Tree() : root(MetadataCreate()) {}
  ~Tree() { MetadataFree(root); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  MetadataNode* root;
};

std::string Get(const MetadataNode* root, const char* key) {
  char out[2048];
  int32_t n = MetadataGet(root, key, out, sizeof out);
  if (n < 0) return "<none>";
  EXPECT_EQ(size_t(n), std::strlen(out));
  return out;
}

// The stored pieces of a key's value.
std::vector<std::string> Pieces(const MetadataNode* root, const char* key) {
  const MetadataNode* node = MetadataFind(root, key);
  std::vector<std::string> out;
  if (!node || !node->value) return out;
  std::string v(node->value, node->valueLength);
  size_t at = 0;
  for (;;) {
    size_t lf = v.find('\n', at);
    out.push_back(v.substr(at, lf == std::string::npos ? std::string::npos : lf - at));
    if (lf == std::string::npos) return out;
    at = lf + 1;
  }
}

std::string Repeat(const std::string& unit, size_t count) {
  std::string s;
  while (s.size() < count) s += unit;
  return s.substr(0, count);
}

class MetadataTest : public FileLayerTest {
 protected:
  // The text form of a tree, with line ends as LF.
  std::string Written(const MetadataNode* root, const char* indent = "") {
    FileHandle file = Add("meta.txt");
    EXPECT_NE(file, 0);
    EXPECT_TRUE(FileOpenText(file, kFileModeCreate, nullptr));
    FileSetCharset(file, CharsetSystem());
    EXPECT_EQ(MetadataWrite(root, file, indent), 1);
    FileClose(file);
    FileRelease(file);
    std::string text = Contents("meta.txt");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  }

  // Parses a section from a text; the parse's result.
  static int16_t Parse(MetadataNode* root, const std::string& text, int skip = 1) {
    if (!TokBeginText(text.c_str())) return -1;
    int16_t ok = MetadataParse(root, skip);
    TokEnd();
    return ok;
  }
};

// ----- pieces -----

TEST_F(MetadataTest, ValuesAreStoredInPiecesOf237AndReadBackWhole) {
  const struct {
    const char* name;
    size_t length;
    std::vector<size_t> pieces;
  } cases[] = {
      {"empty", 0, {0}},
      {"one short piece", 10, {10}},
      {"exactly one piece", 237, {237}},
      {"one over", 238, {237, 1}},
      {"500 characters", 500, {237, 237, 26}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    std::string value = Repeat("abcdefghij", c.length);
    ASSERT_EQ(MetadataSet(t.root, "\\Group\\Value", value.c_str()), 1);
    std::vector<size_t> lengths;
    for (const std::string& p : Pieces(t.root, "\\Group\\Value")) lengths.push_back(p.size());
    EXPECT_EQ(lengths, c.pieces);
    EXPECT_EQ(Get(t.root, "\\group\\VALUE"), value);  // names ignore case
    // A second set replaces the value, pieces and all.
    ASSERT_EQ(MetadataSet(t.root, "\\Group\\Value", "x"), 1);
    EXPECT_EQ(Get(t.root, "\\Group\\Value"), "x");
  }
}

TEST_F(MetadataTest, PieceNeverSplitsADoubleByteCharacter) {
  State().systemCharset = 19;  // Shift-JIS; the fixture restores it
  // 236 single bytes, then a two-byte character across the 237 boundary.
  std::string value = std::string(236, 'a') + "\x82\xa0" + "tail";
  Tree t;
  ASSERT_EQ(MetadataSet(t.root, "\\K", value.c_str()), 1);
  std::vector<std::string> pieces = Pieces(t.root, "\\K");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].size(), 238u);
  EXPECT_EQ(pieces[1], "tail");
  EXPECT_EQ(Get(t.root, "\\K"), value);
}

TEST_F(MetadataTest, SetRefusesBadKeysAndValuesAndTheReadOnlyKey) {
  const struct {
    const char* name;
    const char* key;
    const char* value;
    int16_t code;  // 0: refused without an error
  } cases[] = {
      {"quote in key", "\\A\"B", "v", kErrMetadataBadChar},
      {"CR in key", "\\A\rB", "v", kErrMetadataBadChar},
      {"LF in key", "\\A\nB", "v", kErrMetadataBadChar},
      {"CR in value", "\\A", "v\rw", kErrMetadataBadChar},
      {"LF in value", "\\A", "v\nw", kErrMetadataBadChar},
      {"key of 240 characters", nullptr, "v", kErrMetadataBadChar},
      {"read-only flag", "\\IsReadOnly", "FALSE", 0},
      {"read-only flag in other case", "\\isreadonly", "TRUE", 0},
  };
  const std::string longKey = "\\" + std::string(239, 'k');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    ErrorClear();
    EXPECT_EQ(MetadataSet(t.root, c.key ? c.key : longKey.c_str(), c.value), 0);
    EXPECT_EQ(ErrorLastCode(), c.code);
    EXPECT_TRUE(MetadataIsEmpty(t.root));
  }
  // A key of 239 characters is taken; the library itself may set the flag.
  Tree t;
  EXPECT_EQ(MetadataSet(t.root, longKey.substr(0, 239).c_str(), "v"), 1);
  EXPECT_EQ(MetadataStore(t.root, "\\IsReadOnly", "FALSE"), 1);
  EXPECT_EQ(Get(t.root, "\\IsReadOnly"), "FALSE");
}

TEST_F(MetadataTest, GetCutsAndDeleteRemovesASubtree) {
  Tree t;
  ASSERT_EQ(MetadataSet(t.root, "\\A\\B", "hello"), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\A\\B\\C", nullptr), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\D", "d"), 1);
  char out[4];
  EXPECT_EQ(MetadataGet(t.root, "\\A\\B", out, sizeof out), 5);
  EXPECT_STREQ(out, "hel");
  EXPECT_EQ(MetadataGet(t.root, "\\A\\B", nullptr, 0), 0);
  EXPECT_EQ(MetadataGet(t.root, "\\Nope", out, sizeof out), -1);
  EXPECT_EQ(Get(t.root, "\\A\\B\\C"), "");

  EXPECT_EQ(MetadataDelete(t.root, "A\\B"), 0);  // must begin with "\"
  EXPECT_EQ(MetadataDelete(t.root, "\\A\\X"), 0);
  EXPECT_EQ(MetadataDelete(t.root, "\\"), 0);
  EXPECT_EQ(MetadataDelete(t.root, "\\a\\b"), 1);
  EXPECT_EQ(Get(t.root, "\\A\\B\\C"), "<none>");
  EXPECT_EQ(Get(t.root, "\\A"), "");
  EXPECT_EQ(MetadataDelete(t.root, "\\A"), 1);
  EXPECT_EQ(MetadataDelete(t.root, "\\D"), 1);
  EXPECT_TRUE(MetadataIsEmpty(t.root));
}

// ----- flags -----

TEST_F(MetadataTest, FlagKeys) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, const char*>> keys;
    MetadataFlags flags;
  } cases[] = {
      {"empty metadata", {}, {0, 0, 0}},
      {"keys without the read-only flag", {{"\\Other", "x"}}, {1, 0, 0}},
      {"read-only FALSE", {{"\\IsReadOnly", "FALSE"}}, {0, 0, 0}},
      {"read-only false, any case", {{"\\IsReadOnly", "false"}}, {0, 0, 0}},
      {"read-only anything else", {{"\\IsReadOnly", "no"}}, {1, 0, 0}},
      {"suspended FALSE", {{"\\IsReadOnly", "SUSPEND_FALSE"}}, {1, 0, 0}},
      {"seamless and drill-down",
       {{"\\IsReadOnly", "FALSE"}, {"\\IsSeamless", "TRUE"}, {"\\IsDrilldown", ""}},
       {0, 1, 1}},
      {"seamless FALSE", {{"\\IsSeamless", "FALSE"}}, {1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    for (const auto& [key, value] : c.keys) ASSERT_EQ(MetadataStore(t.root, key, value), 1);
    MetadataFlags f{9, 9, 9};
    MetadataReadFlags(t.root, &f);
    EXPECT_EQ(f.readOnly, c.flags.readOnly);
    EXPECT_EQ(f.seamless, c.flags.seamless);
    EXPECT_EQ(f.drilldown, c.flags.drilldown);
  }
}

TEST_F(MetadataTest, SuspendedFalseIsWrittenAsFalse) {
  Tree t;
  ASSERT_EQ(MetadataStore(t.root, "\\IsReadOnly", "SUSPEND_FALSE"), 1);
  EXPECT_EQ(Written(t.root), "begin_metadata\n\"\\IsReadOnly\" = \"FALSE\"\nend_metadata\n");
  // Still read-only while open; resolving it makes it FALSE in the tree.
  EXPECT_EQ(Get(t.root, "\\IsReadOnly"), "SUSPEND_FALSE");
  MetadataResolveSuspended(t.root);
  EXPECT_EQ(Get(t.root, "\\IsReadOnly"), "FALSE");
}

// ----- text form -----

TEST_F(MetadataTest, TextFormOfKeysPiecesAndPaths) {
  Tree t;
  const std::string p0 = Repeat("0123456789", 237), p1 = Repeat("abcdefghij", 237);
  ASSERT_EQ(MetadataStore(t.root, "\\IsReadOnly", "FALSE"), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Desc", (p0 + p1 + "end").c_str()), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Group\\Quote", "say \"hi\""), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Group\\Empty", nullptr), 1);
  EXPECT_EQ(Written(t.root, "  "),
            "begin_metadata\n"
            "  \"\\IsReadOnly\" = \"FALSE\"\n"
            "  \"\\Desc\" = \"" + p0 + "\"\n"
            "  \"\\Desc\\+1\" = \"" + p1 + "\"\n"
            "  \"\\Desc\\+2\" = \"end\"\n"
            "  \"\\Group\" = \"\"\n"
            "  \"\\Group\\Quote\" = \"say \"\"hi\"\"\"\n"
            "  \"\\Group\\Empty\" = \"\"\n"
            "end_metadata\n");
}

TEST_F(MetadataTest, LongKeyAndPieceBreakTheLineBeforeThePiece) {
  // key + piece + 8 reaching 256 puts the piece on a line of its own.
  const struct {
    size_t keyLength;
    bool broken;
  } cases[] = {{10, false}, {11, true}, {20, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyLength);
    Tree t;
    std::string key = "\\" + std::string(c.keyLength - 1, 'k');
    std::string value(237, 'v');
    ASSERT_EQ(MetadataSet(t.root, key.c_str(), value.c_str()), 1);
    std::string line = "\t\"" + key + "\" =" + (c.broken ? "\n\t" : " ") + "\"" + value + "\"\n";
    EXPECT_EQ(Written(t.root, "\t"), "begin_metadata\n" + line + "end_metadata\n");
  }
}

TEST_F(MetadataTest, WrittenTreeParsesBackToTheSameText) {
  Tree t;
  const std::string big = Repeat("Fields of \"quoted\" text, ", 700);
  ASSERT_EQ(MetadataStore(t.root, "\\IsReadOnly", "FALSE"), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Layer\\Source\\Agency", "Survey"), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Layer\\Source\\Notes", big.c_str()), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Layer\\Title", "\"Quoted\" at the start"), 1);
  const std::string longKey = "\\" + std::string(200, 'L');
  ASSERT_EQ(MetadataSet(t.root, longKey.c_str(), std::string(100, 'v').c_str()), 1);
  ASSERT_EQ(MetadataSet(t.root, "\\Empty", ""), 1);
  const std::string first = Written(t.root, "  ");

  Tree back;
  ASSERT_EQ(Parse(back.root, "Definition Table\n" + first), 1);
  EXPECT_EQ(Get(back.root, "\\Layer\\Source\\Notes"), big);
  EXPECT_EQ(Get(back.root, "\\Layer\\Title"), "\"Quoted\" at the start");
  EXPECT_EQ(Written(back.root, "  "), first);
}

TEST_F(MetadataTest, ContinuationKeysAppendPieces) {
  const struct {
    const char* name;
    const char* text;
    std::vector<std::pair<const char*, const char*>> expect;
  } cases[] = {
      {"pieces joined", "\"\\A\" = \"one \" \"\\A\\+1\" = \"two \" \"\\a\\+2\" = \"three\"",
       {{"\\A", "one two three"}}},
      {"four digits", "\"\\A\" = \"x\" \"\\A\\+0001\" = \"y\"", {{"\\A", "xy"}}},
      {"five digits make a key", "\"\\A\" = \"x\" \"\\A\\+00001\" = \"y\"",
       {{"\\A", "x"}, {"\\A\\+00001", "y"}}},
      {"other key's continuation", "\"\\A\" = \"x\" \"\\B\\+1\" = \"y\"",
       {{"\\A", "x"}, {"\\B\\+1", "y"}}},
      {"without begin", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    ASSERT_EQ(Parse(t.root, std::string(c.text) + " end_metadata", 0), 1);
    for (const auto& [key, value] : c.expect) EXPECT_EQ(Get(t.root, key), value);
  }
}

TEST_F(MetadataTest, SyntaxErrorsGive615WithWhatWasExpected) {
  const struct {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"key not a string", "begin_metadata 12 = \"v\" end_metadata", "A string constant"},
      {"no equals sign", "begin_metadata \"\\A\" \"v\" end_metadata", "="},
      {"value not a string", "begin_metadata \"\\A\" = 5 end_metadata", "A string constant"},
      {"continuation without value", "begin_metadata \"\\A\" = \"v\" \"\\A\\+1\" = end_metadata",
       "A string constant"},
      {"no end", "begin_metadata \"\\A\" = \"v\"", "A string constant"},
      {"no begin", "Definition Table", "begin_metadata"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    ErrorClear();
    EXPECT_EQ(Parse(t.root, c.text), 0);
    EXPECT_EQ(ErrorLastCode(), kErrMetadataSyntax);
    const ErrorStack* errors = State().errors;
    ASSERT_NE(errors, nullptr);
    // The first argument is what was found, the second what was expected.
    const ErrorRecord& r = errors->records[0];
    ASSERT_GT(r.arg1.length, 0);
    EXPECT_STREQ(errors->text + r.arg1.offset, c.expected);
  }
}

// ----- the interface entries -----

// A table registered in a slot the way the open worker does it, with only
// what the metadata entries read.
int16_t FreeTable(TableObject* table, uint16_t) {
  MetadataFree(table->metadata);
  MemFree(table);
  return 1;
}

class MetadataEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1); }
  void TearDown() override { PXShutdown(); }

  PXTableHandle Register(std::vector<std::pair<const char*, const char*>> keys,
                         uint32_t mode = kModeReadWrite, bool withMetadata = true) {
    auto* table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
    std::memset(static_cast<void*>(table), 0, sizeof *table);
    table->version = table->readEntireVersion = table->editVersion = 300;
    if (withMetadata) table->metadata = MetadataCreate();
    for (const auto& [key, value] : keys) MetadataStore(table->metadata, key, value);
    return SlotRegister(FileHandle(5000 + ++next_), table, mode, kSlotKindNative, 0, FreeTable);
  }
  static TableObject* TableOf(PXTableHandle h) { return SlotFind(h)->table; }
  static std::string Value(PXTableHandle h, const char* key) {
    char out[600];
    std::memset(out, 'x', sizeof out);
    uint16_t r = PXGetMetadataValue(h, key, out, sizeof out);
    return std::to_string(r) + ":" + out;
  }

  int next_ = 0;
};

TEST_F(MetadataEntryTest, SetOnEmptyMetadataMarksTheTableEditable) {
  PXTableHandle h = Register({});
  EXPECT_EQ(PXSetMetadataValue(h, "\\Title", "Roads"), 1);
  EXPECT_EQ(Value(h, "\\Title"), "1:Roads");
  EXPECT_EQ(Value(h, "\\IsReadOnly"), "1:FALSE");
  EXPECT_EQ(Value(h, "\\Missing"), "0:");
  EXPECT_EQ(PXSetMetadataValue(h, "\\Title", nullptr), 1);
  EXPECT_EQ(Value(h, "\\Title"), "0:");

  char cut[4];
  ASSERT_EQ(PXSetMetadataValue(h, "\\Long", "abcdef"), 1);
  EXPECT_EQ(PXGetMetadataValue(h, "\\Long", cut, sizeof cut), 1);
  EXPECT_STREQ(cut, "abc");

  EXPECT_EQ(PXSetMetadataValue(h, "\\Bad\"Key", "v"), 0);
  EXPECT_EQ(PXGetLastError(), kErrMetadataBadChar);
}

TEST_F(MetadataEntryTest, SetIsRefusedSilentlyWhenTheMetadataSaysReadOnly) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, const char*>> keys;
    bool withMetadata;
  } cases[] = {
      {"keys without the flag", {{"\\Other", "x"}}, true},
      {"flag TRUE", {{"\\IsReadOnly", "TRUE"}}, true},
      {"suspended FALSE", {{"\\IsReadOnly", "SUSPEND_FALSE"}}, true},
      {"no metadata", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PXTableHandle h = Register(c.keys, kModeReadWrite, c.withMetadata);
    EXPECT_EQ(PXSetMetadataValue(h, "\\Title", "x"), 0);
    EXPECT_EQ(PXGetLastError(), 0);
    EXPECT_EQ(Value(h, "\\Title"), "0:");
  }
  // The read-only flag cannot be set through the entry either.
  PXTableHandle h = Register({{"\\IsReadOnly", "FALSE"}});
  EXPECT_EQ(PXSetMetadataValue(h, "\\IsReadOnly", "TRUE"), 0);
  EXPECT_EQ(Value(h, "\\IsReadOnly"), "1:FALSE");
}

TEST_F(MetadataEntryTest, HandleChecks) {
  PXTableHandle readOnly = Register({}, kModeReadOnly);
  const struct {
    const char* name;
    uint16_t result;
    int32_t code;
  } cases[] = {
      {"set on a read-only handle", PXSetMetadataValue(readOnly, "\\A", "b"), kErrNotReadWrite},
      {"delete on a read-only handle", PXDeleteMetadataKey(readOnly, "\\A"), kErrNotReadWrite},
      {"save on a read-only handle", PXSaveMetadata(readOnly), kErrNotReadWrite},
      {"get on a bad handle", PXGetMetadataValue(99, "\\A", nullptr, 0), kErrBadHandle},
      {"enum on a bad handle", PXEnumMetadata(0, "\\", nullptr), kErrBadHandle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result, 0);
  }
  // Each code as the entry left it.
  EXPECT_EQ(PXSetMetadataValue(readOnly, "\\A", "b"), 0);
  EXPECT_EQ(PXGetLastError(), kErrNotReadWrite);
  EXPECT_EQ(PXEnumMetadata(0, "\\", nullptr), 0);
  EXPECT_EQ(PXGetLastError(), kErrBadHandle);
}

std::vector<std::pair<std::string, std::string>> gSeen;
void Collect(const char* name, const char* value) { gSeen.emplace_back(name, value); }

TEST_F(MetadataEntryTest, EnumListsDirectChildren) {
  const std::string longValue(300, 'v');
  PXTableHandle h = Register({{"\\IsReadOnly", "FALSE"},
                              {"\\Group\\B", "two"},
                              {"\\Group\\A", longValue.c_str()},
                              {"\\Group\\A\\Deep", "x"},
                              {"\\Leaf", "l"}});
  gSeen.clear();
  EXPECT_EQ(PXEnumMetadata(h, "\\Group", Collect), 1);
  EXPECT_EQ(gSeen, (std::vector<std::pair<std::string, std::string>>{
                       {"B", "two"}, {"A", std::string(239, 'v')}}));
  gSeen.clear();
  EXPECT_EQ(PXEnumMetadata(h, "\\", Collect), 1);
  ASSERT_EQ(gSeen.size(), 3u);
  EXPECT_EQ(gSeen[1].first, "Group");
  EXPECT_EQ(gSeen[1].second, "");

  const struct {
    const char* name;
    const char* prefix;
  } missing[] = {{"key without children", "\\Leaf"}, {"no such key", "\\Nope"}};
  for (const auto& c : missing) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PXEnumMetadata(h, c.prefix, Collect), 0);
    EXPECT_EQ(PXGetLastError(), kErrMetadataNoKey);
  }
  PXTableHandle none = Register({}, kModeReadWrite, false);
  EXPECT_EQ(PXEnumMetadata(none, "\\", Collect), 0);
  EXPECT_EQ(PXGetLastError(), kErrMetadataNone);
}

TEST_F(MetadataEntryTest, DeleteKeysAndDropTheVersionWithTheLastOne) {
  PXTableHandle h = Register({{"\\IsReadOnly", "FALSE"}, {"\\A\\B", "x"}});
  TableOf(h)->version = TableOf(h)->readEntireVersion = TableOf(h)->editVersion = 290;
  EXPECT_EQ(PXDeleteMetadataKey(h, "\\A\\Nope"), 0);
  EXPECT_EQ(PXGetLastError(), kErrMetadataNoKey);
  EXPECT_EQ(PXDeleteMetadataKey(h, "\\A"), 1);
  EXPECT_EQ(Value(h, "\\A\\B"), "0:");
  EXPECT_EQ(TableOf(h)->version, 290);
  EXPECT_EQ(PXDeleteMetadataKey(h, "\\IsReadOnly"), 1);
  EXPECT_EQ(TableOf(h)->version, 100);
  EXPECT_EQ(TableOf(h)->readEntireVersion, 100);
  EXPECT_EQ(TableOf(h)->editVersion, 100);

  // Only an edit version of 290 drops.
  PXTableHandle other = Register({{"\\A", "x"}});
  EXPECT_EQ(PXDeleteMetadataKey(other, "\\A"), 1);
  EXPECT_EQ(TableOf(other)->version, 300);

  PXTableHandle none = Register({}, kModeReadWrite, false);
  EXPECT_EQ(PXDeleteMetadataKey(none, "\\A"), 0);
  EXPECT_EQ(PXGetLastError(), kErrMetadataNone);
  EXPECT_EQ(PXSaveMetadata(none), 0);
  EXPECT_EQ(PXGetLastError(), kErrMetadataNone);
}

}  // namespace
}  // namespace mapfiletest
