// The keyword tokenizer: token classes, keywords, macros, includes and the
// refusals.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "foundation_fixture.h"
#include "mapfile/foundation/token.h"

namespace layerio {
extern const Keyword kKeywordTable[kKeywordCount];
}  // namespace layerio

namespace mapfiletest {
namespace {

using namespace layerio;

class TokenTest : public FoundationTest {
 protected:
  void TearDown() override {
    TokEnd();
    TokMacrosClear();
    TokSetReserveHeads(0);
    FoundationTest::TearDown();
  }

  // Every token of a text as "k<id>", "i:<text>", "s:<text>" or "n:<value>".
  static std::vector<std::string> All(const char* text) {
    std::vector<std::string> out;
    TokBeginText(text);
    for (int guard = 0; TokCurrent() && guard < 1000; ++guard) {
      const Value* t = TokCurrent();
      char buffer[64];
      switch (t->kind) {
        case kValueKeyword:
          out.push_back("k" + std::to_string(t->aux));
          break;
        case kValueBorrowedIdentifier:
          out.push_back(std::string("i:") + static_cast<const char*>(t->u.p));
          break;
        case kValueBorrowedText:
          out.push_back(std::string("s:") + static_cast<const char*>(t->u.p));
          break;
        default:
          out.push_back(std::string("n:") + ValueToText(t, buffer, sizeof buffer, -1, 0));
      }
      TokNext();
    }
    return out;
  }
};

using V = std::vector<std::string>;

TEST_F(TokenTest, KeywordTableIsSortedAndIdsAreFixed) {
  EXPECT_STREQ(TokKeywordText(1558), "coordsys");
  const struct {
    const char* word;
    int id;
  } fixed[] = {{"coordsys", 1558}, {"earth", 1554},  {"nonearth", 1555}, {"projection", 1557},
               {"bounds", 1556},   {"affine", 1909}, {"units", 1136},    {"supportmz", 2154},
               {"escape", 1659},   {"include", 7},   {"define", 8},      {"NOT", 19},
               {"Between", 26},    {"null", 1603},   {"nothing", 1}};
  for (const auto& f : fixed) EXPECT_EQ(TokKeywordId(f.word), f.id) << f.word;
  EXPECT_STREQ(TokKeywordText(254), "");
  EXPECT_STREQ(TokKeywordText(1379), "'");
  // the words are found by binary search, the rest by id: sorted, unique ids
  std::set<int> ids;
  int heads = 0;
  for (int k = 0; k < kKeywordCount; ++k) {
    const Keyword& w = kKeywordTable[k];
    if (k > 0 && k < 684) {
      EXPECT_LT(std::strcmp(kKeywordTable[k - 1].text, w.text), 0) << w.text;
    }
    EXPECT_TRUE(ids.insert(w.id).second) << w.text;
    EXPECT_LE(w.id, 2376) << w.text;
    heads += w.statementHead;
  }
  EXPECT_EQ(heads, 90);
}

TEST_F(TokenTest, TokenClasses) {
  const struct {
    const char* text;
    V tokens;
  } cases[] = {
      {"select * from t where x >= 10",
       {"k" + std::to_string(TokKeywordId("select")), "k14", "k" + std::to_string(TokKeywordId("from")),
        "i:t", "k" + std::to_string(TokKeywordId("where")), "i:x", "k23", "n:10"}},
      {"&H1F .5 1e3 0x1F", {"n:31", "n:0.5", "n:1000", "n:0", "i:x1F"}},
      {"\"say \"\"hi\"\"\" 'comment", {"s:say \"hi\""}},
      {"a<>b<=c>=d<e>f", {"i:a", "k21", "i:b", "k22", "i:c", "k23", "i:d", "k24", "i:e", "k25", "i:f"}},
      {"name$ x% y&z", {"i:name$", "i:x%", "i:y&", "i:z"}},
      {"a`b", {"i:a", "k1024", "i:b"}},
      {"! a skipped line\n' another\nq", {"i:q"}},
      {"a\x1A b\nc", {"i:a"}},
      {"(1,2)", {"k1030", "n:1", "k1027", "n:2", "k1031"}},
  };
  for (const auto& c : cases) EXPECT_EQ(All(c.text), c.tokens) << c.text;
  V cut = All("abcdefghijabcdefghijabcdefghijabcdefghij");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0], "i:abcdefghijabcdefghijabcdefghija");  // 31 characters
}

TEST_F(TokenTest, UnclosedStringEndsAtTheLine) {
  SetParseMode(1);
  EXPECT_EQ(All("\"open\nx"), (V{"s:open", "i:x"}));
  EXPECT_TRUE(ErrorHasCode(385));
}

TEST_F(TokenTest, IsAndExpect) {
  TokBeginText("map ) select");
  EXPECT_TRUE(TokIs(TokKeywordId("map")));
  EXPECT_TRUE(TokIs(kTokIdentifier));  // a keyword taken as a name
  EXPECT_EQ(TokCurrent()->kind, kValueBorrowedIdentifier);
  EXPECT_TRUE(TokIs(kTokString));
  EXPECT_EQ(TokCurrent()->kind, kValueBorrowedText);
  TokNext();
  EXPECT_FALSE(TokExpect(kKwOpen));
  ASSERT_TRUE(ErrorHasCode(615));
  // skipped to the next statement head
  ASSERT_NE(TokCurrent(), nullptr);
  EXPECT_EQ(TokCurrent()->aux, TokKeywordId("select"));
  TokSetReserveHeads(1);
  EXPECT_FALSE(TokIs(kTokIdentifier));
  TokSetReserveHeads(0);
  EXPECT_TRUE(TokIs(kTokIdentifier));
}

TEST_F(TokenTest, ErrorArgumentsNameFoundAndExpected) {
  TokBeginText(")");
  TokError(kKwOpen);
  const ErrorStack& st = Stack();
  ASSERT_EQ(st.records[0].code, 615);
  EXPECT_STREQ(st.text + st.records[0].arg0.offset, ")");
  EXPECT_STREQ(st.text + st.records[0].arg1.offset, "(");
  ErrorClear();
  TokBeginText("x");
  TokError(kTokNumber);
  EXPECT_STREQ(st.text + st.records[0].arg1.offset, "A numeric constant");
  ErrorClear();
  TokBeginText("x");
  TokError(254);
  EXPECT_STREQ(st.text + st.records[0].arg1.offset, "An unrecognized token.");
}

TEST_F(TokenTest, Macros) {
  EXPECT_EQ(All("define TWO 2 ' two\nTWO + two\ndefine pair (TWO, \"'\")\npair"),
            (V{"n:2", "k12", "n:2", "k1030", "n:2", "k1027", "s:'", "k1031"}));
  SetParseMode(1);
  All("define TWO 3");
  EXPECT_TRUE(ErrorHasCode(381));
  ErrorClear();
  All("define 5 x");
  EXPECT_TRUE(ErrorHasCode(1269));
  ErrorClear();
  All("define");
  EXPECT_TRUE(ErrorHasCode(1296));
}

TEST_F(TokenTest, RunawayMacrosAreRefused) {
  SetParseMode(1);
  V self = All("define a a\na b");
  EXPECT_TRUE(ErrorHasCode(382));
  ErrorClear();
  TokMacrosClear();
  // each expansion doubles the line until it no longer fits
  All("define d d d\nd");
  EXPECT_TRUE(ErrorHasCode(382));
}

// Outside syntax check a refusal ends the work: with trapping on it unwinds
// to the entry's guard (which adds 479 behind it); with trapping off the
// tokenizer goes on and the refusal stays on the stack for the caller.
TEST_F(TokenTest, RefusalsOutsideSyntaxCheck) {
  const char* const texts[] = {"define a a\na b", "\"open", "define x 1\ndefine x 2\ny",
                               "include x"};
  const int codes[] = {382, 385, 381, 383};
  for (int k = 0; k < 4; ++k) {
    ErrorClear();
    All(texts[k]);
    EXPECT_EQ(ErrorLastCode(), codes[k]) << texts[k];
    TokMacrosClear();

    TrapToggle(1);
    bool after = false;
    int16_t result = RunGuarded(int16_t(7), [&]() -> int16_t {
      All(texts[k]);
      after = true;
      return 1;
    });
    TrapToggle(1);
    EXPECT_EQ(result, 7) << texts[k];
    EXPECT_FALSE(after) << texts[k];
    EXPECT_EQ(ErrorLastCode(), codes[k]) << texts[k];
    EXPECT_TRUE(ErrorHasCode(479)) << texts[k];
    EXPECT_EQ(State().guardDepth, 0);
    TokEnd();
    TokMacrosClear();
  }
}

TEST_F(TokenTest, Includes) {
  std::string dir = ::testing::TempDir() + "toktest/";
  std::system(("mkdir -p " + dir).c_str());
  std::ofstream(dir + "inner.txt") << "inner 1\n";
  std::ofstream(dir + "outer.txt") << "include \"inner.txt\" ignored\nafter\n";
  std::ofstream(dir + "loop.txt") << "include \"loop.txt\"\n";
  ASSERT_TRUE(TokBeginFile((dir + "outer.txt").c_str()));
  V got;
  while (TokCurrent()) {
    char buffer[32];
    got.push_back(TokText(TokCurrent(), buffer, sizeof buffer));
    TokNext();
  }
  EXPECT_EQ(got, (V{"inner", "1", "after"}));
  SetParseMode(1);
  ASSERT_TRUE(TokBeginFile((dir + "loop.txt").c_str()));
  EXPECT_TRUE(ErrorHasCode(384));
  ErrorClear();
  All("include x");
  EXPECT_TRUE(ErrorHasCode(383));
  EXPECT_FALSE(TokBeginFile((dir + "missing.txt").c_str()));
  EXPECT_TRUE(ErrorHasCode(524));
}

TEST_F(TokenTest, LongLinesAreReadInPieces) {
  std::string line(3000, ' ');
  for (size_t i = 0; i + 4 < line.size(); i += 6) line.replace(i, 4, "w" + std::to_string(i % 1000 / 100) + "xy");
  size_t words = All(line.c_str()).size();
  size_t expected = 0;
  for (size_t i = 0; i + 4 < line.size(); i += 6) ++expected;
  EXPECT_EQ(words, expected);
}

TEST_F(TokenTest, Identifiers) {
  const struct {
    const char* text;
    int valid;
    const char* made;
  } cases[] = {{"abc", 1, "abc"},   {"a_b~#", 1, "a_b~#"}, {"name$", 1, "name$"},
               {"na$me", 0, "na_me"}, {"1abc", 0, "_1abc"},  {"#x", 0, "_#x"},
               {"", 0, ""},          {"a b", 0, "a_b"},    {"$", 0, "_$"}};
  for (const auto& c : cases) {
    EXPECT_EQ(IdentIsValid(c.text), c.valid) << c.text;
    char buffer[40];
    std::strcpy(buffer, c.text);
    IdentMakeValid(buffer);
    EXPECT_STREQ(buffer, c.made) << c.text;
  }
  char longName[40] = "1234567890123456789012345678901";
  IdentMakeValid(longName);
  EXPECT_EQ(std::strlen(longName), 31u);
  EXPECT_EQ(TokHash("A"), 65);
  EXPECT_LT(TokHash("A_VERY_LONG_MACRO_NAME"), 87);
  EXPECT_EQ(StrSkipSpace(" \t\r\n"), nullptr);
}

}  // namespace
}  // namespace mapfiletest
