// Charsets: the table and its lookups, single-byte conversions against
// glibc's iconv, Shift-JIS <-> packed EUC against iconv, the conversion
// cache, LMBCS, the size limit of conversions that grow, and the case tables
// of the system charsets.
#include <iconv.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/foundation_fixture.h"
#include "platform/env.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class CharsetTest : public FoundationTest {
 protected:
  void SetUp() override {
    FoundationTest::SetUp();
    ResetCharsets();
    ASSERT_EQ(CharsetInit(), 1);
  }
  void TearDown() override {
    ResetCharsets();
    FoundationTest::TearDown();
  }
  static void ResetCharsets() {
    FoundationState& s = State();
    s.charsetReady = false;
    s.conversionLast = -1;
    for (auto& c : s.conversions) c = CharsetConversion{};
    s.systemCharset = kDefaultSystemCharset;
    s.oemCharset = kDefaultOemCharset;
    SetCaseTables(nullptr);
  }

  // Converts a text; the buffer has room for `room` bytes beyond the text.
  static std::string Convert(const std::string& text, int from, int to, size_t room = 0,
                             int16_t* result = nullptr) {
    std::vector<char> buffer(text.size() + 1 + room, 'X');
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    int16_t r = CharsetConvert(buffer.data(), from, to, buffer.size());
    if (result) *result = r;
    return buffer.data();
  }
};

// ----- iconv as the oracle -----

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // The converted bytes; false when iconv refuses the input.
  bool Run(const std::string& in, std::string* out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[64];
    char* source = const_cast<char*>(in.data());
    size_t left = in.size();
    char* target = buffer;
    size_t room = sizeof buffer;
    if (iconv(cd_, &source, &left, &target, &room) == size_t(-1)) return false;
    if (iconv(cd_, nullptr, nullptr, &target, &room) == size_t(-1)) return false;
    out->assign(buffer, target);
    return true;
  }

 private:
  iconv_t cd_;
};

// glibc's names of the charsets it knows; the others (MacArabic, MacGreek,
// MacHebrew, MacTurkish, the Mac CJK single bytes, LICS and the LMBCS
// groups) have no iconv counterpart and are left out of the comparison.
const std::map<int, const char*> kIconvNames = {
    {1, "ISO-8859-1"}, {2, "ISO-8859-2"},  {3, "ISO-8859-3"},  {4, "ISO-8859-4"},
    {5, "ISO-8859-5"}, {6, "ISO-8859-6"},  {7, "ISO-8859-7"},  {8, "ISO-8859-8"},
    {9, "ISO-8859-9"}, {10, "CP1252"},     {11, "CP1250"},     {12, "CP1256"},
    {13, "CP1251"},    {14, "CP1253"},     {15, "CP1255"},     {16, "CP1254"},
    {21, "MACINTOSH"}, {25, "MAC-CENTRALEUROPE"}, {27, "MAC-CYRILLIC"}, {28, "MAC-IS"},
    {34, "CP437"},     {35, "CP850"},      {36, "CP852"},      {37, "CP857"},
    {38, "CP860"},     {39, "CP861"},      {40, "CP863"},      {41, "CP865"},
    {42, "CP855"},     {43, "CP864"},      {44, "CP869"},      {54, "CP874"},
    {55, "CP1257"},    {56, "CP1258"},
};

constexpr uint32_t kNone = 0xFFFFFFFF;

// glibc's Mac tables are older than Apple's current ones, which the
// library's tables follow: these bytes read as Apple reads them now.
struct Reading {
  int code;
  int byte;
  uint32_t unicode;
};
const Reading kAppleReadings[] = {
    {21, 0xC6, 0x2206}, {21, 0xF0, kNone},   {27, 0xFF, 0x20AC}, {28, 0xA0, 0x00DD},
    {28, 0xC6, 0x2206}, {28, 0xD0, 0x2013},  {28, 0xD1, 0x2014}, {28, 0xD7, 0x25CA},
    {28, 0xDB, 0x20AC}, {28, 0xDC, 0x00D0},  {28, 0xDD, 0x00F0}, {28, 0xE0, 0x00FD},
    {28, 0xF0, kNone},  {28, 0xF6, 0x02C6},  {28, 0xF7, 0x02DC},
};

// The character of every byte by iconv, with the library's own rules on top:
// control bytes other than tab, line feed and carriage return have none
// (WindowsThai keeps them all), 0x7F of the DOS code pages is U+2302, the
// printable ASCII bytes are themselves except the Arabic digits of ISO8859_6
// and the percent sign of CodePage864, and private-use values have none.
std::array<uint32_t, 256> OracleTable(int code) {
  std::array<uint32_t, 256> table{};
  Iconv cd("UTF-32LE", kIconvNames.at(code));
  EXPECT_TRUE(cd.ok()) << kIconvNames.at(code);
  for (int b = 1; b < 256; ++b) {
    std::string out;
    uint32_t u = kNone;
    if (cd.Run(std::string(1, char(b)), &out) && out.size() == 4) {
      u = uint8_t(out[0]) | uint32_t(uint8_t(out[1])) << 8 | uint32_t(uint8_t(out[2])) << 16;
    }
    if (b < 32) u = (code == 54 || b == 9 || b == 10 || b == 13) ? uint32_t(b) : kNone;
    if (b >= 32 && b < 127) u = b;
    if (b == 127 && code >= 34 && code <= 44) u = 0x2302;
    if (code == 6 && b >= '0' && b <= '9') u = 0x0660 + (b - '0');
    if (code == 43 && b == '%') u = 0x066A;
    if (u >= 0xF000 && u < 0x10000) u = kNone;
    table[b] = u;
  }
  for (const Reading& r : kAppleReadings) {
    if (r.code == code) table[r.byte] = r.unicode;
  }
  return table;
}

TEST_F(CharsetTest, EverySingleBytePairConvertsAsIconvReadsTheBytes) {
  std::map<int, std::array<uint32_t, 256>> oracle;
  for (const auto& [code, name] : kIconvNames) oracle[code] = OracleTable(code);
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  int failures = 0;
  for (const auto& [from, source] : oracle) {
    for (const auto& [to, target] : oracle) {
      if (from == to) continue;
      std::string got = Convert(all, from, to);
      ASSERT_EQ(got.size(), 255u) << from << " -> " << to;
      for (int b = 1; b < 256; ++b) {
        char expected = '_';
        if (source[b] != kNone) {
          for (int c = 1; c < 256; ++c) {
            if (target[c] == source[b]) {
              expected = char(c);
              break;
            }
          }
        }
        if (got[b - 1] != expected && ++failures < 20) {
          ADD_FAILURE() << CharsetName(from) << " -> " << CharsetName(to) << " byte 0x" << std::hex
                        << b << ": got 0x" << (unsigned(got[b - 1]) & 0xFF) << ", expected 0x"
                        << (unsigned(expected) & 0xFF);
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// ----- the table and its lookups -----

TEST_F(CharsetTest, RowsNameFlagsAndLineEnds) {
  struct Row {
    int code;
    const char* name;
    bool doubleByte;
    const char* lineEnd;
  };
  const Row rows[] = {
      {0, "Neutral", false, "\r\n"},          {1, "ISO8859_1", false, "\n"},
      {9, "ISO8859_9", false, "\n"},          {10, "WindowsLatin1", false, "\r\n"},
      {16, "WindowsTurkish", false, "\r\n"},  {17, "WindowsTradChinese", true, "\r\n"},
      {19, "WindowsJapanese", true, "\r\n"},  {21, "MacRoman", false, "\r"},
      {30, "MacTurkish", false, "\r"},        {32, "MacJapanese", true, "\r"},
      {34, "CodePage437", false, "\r\n"},     {44, "CodePage869", false, "\r\n"},
      {45, "LICS", false, "\r\n"},            {46, "LMBCS", true, "\r\n"},
      {48, "LMBCS2", false, "\r\n"},          {49, "MacSimpChinese", true, "\r"},
      {50, "?PackedEUCTradChinese", true, "\n"}, {52, "PackedEUCJapanese", true, "\n"},
      {53, "?PackedEUCKorean", true, "\n"},   {56, "WindowsVietnamese", false, "\r\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(CharsetName(r.code), r.name);
    EXPECT_EQ(CharsetTable()[r.code].flags & 1, r.doubleByte ? 1u : 0u);
    EXPECT_EQ(CharsetIsDoubleByte(r.code), r.doubleByte ? 1 : 0);
    EXPECT_STREQ(CharsetLineEnd(r.code), r.lineEnd);
  }
  for (int code = 0; code < kCharsetCount; ++code) {
    EXPECT_EQ((CharsetTable()[code].flags >> 16) & 0xFF, unsigned('_')) << code;
    EXPECT_EQ(CharsetFromName(CharsetName(code)), code == 10 ? 10 : code) << code;
  }
  EXPECT_STREQ(CharsetName(-1), "");
  EXPECT_STREQ(CharsetName(57), "");
}

TEST_F(CharsetTest, NamesAndShortNames) {
  const std::pair<const char*, int> names[] = {
      {"ansi", 10},       {"ANSI", 10},       {"MacRoman", 21},   {"macroman", 21},
      {"MAC", 21},        {"xascii", 34},     {"Lics", 45},       {"codepage850", 35},
      {"?packedeuckorean", 53}, {"PackedEUCKorean", -1}, {"Latin1", -1}, {"", -1},
  };
  for (const auto& [name, code] : names) EXPECT_EQ(CharsetFromName(name), code) << name;
  CharsetSetSystem(19);
  EXPECT_EQ(CharsetFromName("Ansi"), 19);
  EXPECT_STREQ(CharsetShortName(21), "MAC");
  EXPECT_STREQ(CharsetShortName(34), "XASCII");
  EXPECT_STREQ(CharsetShortName(45), "LICS");
  EXPECT_STREQ(CharsetShortName(10), "ANSI");
  EXPECT_STREQ(CharsetShortName(35), "ANSI");
}

TEST_F(CharsetTest, CharsetsOfTheCodePages) {
  const std::pair<int, int> ansi[] = {{1250, 11}, {1251, 13}, {1252, 10}, {1253, 14}, {1254, 16},
                                      {1255, 15}, {1256, 12}, {1257, 55}, {1258, 56}, {874, 54},
                                      {932, 19},  {936, 18},  {949, 20},  {950, 17},  {437, 0}};
  for (const auto& [page, code] : ansi) EXPECT_EQ(CharsetFromAnsiCodePage(page), code) << page;
  const std::pair<int, int> oem[] = {{850, 35}, {852, 36}, {855, 42}, {857, 37}, {860, 38},
                                     {861, 39}, {863, 40}, {864, 43}, {865, 41}, {869, 44},
                                     {874, 54}, {932, 19}, {936, 18}, {949, 20}, {950, 17},
                                     {437, 34}, {1252, 34}};
  for (const auto& [page, code] : oem) EXPECT_EQ(CharsetFromOemCodePage(page), code) << page;
  // Nothing asks the host: the defaults stand.
  EXPECT_EQ(CharsetSystem(), 10);
  EXPECT_EQ(CharsetOem(), 34);
}

// ----- single-byte conversions and the cache -----

TEST_F(CharsetTest, ConversionsThatApplyAndThoseThatDoNot) {
  int16_t r = -1;
  EXPECT_EQ(Convert("\xC4\x81", 10, 21, 0, &r), "\x80_");  // Ä; 0x81 has no character
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Convert("\xC4", 10, 10, 0, &r), "\xC4");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Convert("\xC4", 0, 21, 0, &r), "\xC4");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Convert("\xC4", 10, 57, 0, &r), "\xC4");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Convert("\xC4", 10, 26, 0, &r), "\xC4");  // MacCroatian has no table
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Convert("a\x80", 46, 10, 0, &r), "a\x80");  // LMBCS goes through CharsetFromLmbcs
  EXPECT_EQ(r, 0);
  // The system and OEM charsets: Ä is 0x8E in CodePage437; the DOS 0x7F is ⌂.
  EXPECT_EQ(Convert("\xC4x", 10, 34), "\x8Ex");
  EXPECT_EQ(Convert("\x8E\x7F", 34, 10), "\xC4_");
  // Thai keeps its control bytes; the others lose all but tab, LF and CR.
  EXPECT_EQ(Convert("\x01\t\n\r", 54, 10), "_\t\n\r");
  EXPECT_EQ(Convert("\x01\t", 10, 54), "_\t");
  // The Arabic digits of ISO8859_6 and the Arabic percent sign of CodePage864.
  EXPECT_EQ(Convert("0%", 6, 43), "\xB0_");
  EXPECT_EQ(Convert("%", 43, 12), "_");

  // No terminator inside the buffer: nothing is touched.
  char unterminated[2] = {'\xC4', '\xC4'};
  EXPECT_EQ(CharsetConvert(unterminated, 10, 21, sizeof unterminated), 0);
  EXPECT_EQ(unterminated[0], '\xC4');
}

TEST_F(CharsetTest, TheCacheFillsItsSlotsInTurn) {
  ResetCharsets();
  int unconverted = -1;
  EXPECT_EQ(CharsetConvertTable(10, 21, &unconverted), -1);  // before CharsetInit
  ASSERT_EQ(CharsetInit(), 1);
  const int targets[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(CharsetConvertTable(10, targets[i], nullptr), i);
  EXPECT_EQ(CharsetConvertTable(10, 4, nullptr), 3);  // found, not rebuilt
  EXPECT_EQ(CharsetConvertTable(10, 21, &unconverted), 0);  // the eleventh pair
  // 28 control bytes, the 5 unused bytes of WindowsLatin1 and 20 characters
  // MacRoman lacks (Š, ¦, ², ½, Ð, ×, Þ, ...).
  EXPECT_EQ(unconverted, 53);
  EXPECT_EQ(CharsetConvertTable(10, 12, nullptr), 1);
  unconverted = -1;
  EXPECT_EQ(CharsetConvertTable(10, 21, &unconverted), 0);
  EXPECT_EQ(unconverted, -1);  // a cached map leaves the count alone
  EXPECT_EQ(CharsetConvertTable(10, 17, nullptr), -1);
  EXPECT_EQ(CharsetConvertTable(0, 10, nullptr), -1);
  EXPECT_EQ(CharsetConvertTable(10, 10, nullptr), -1);
  EXPECT_EQ(CharsetConversionMap(0)[0xC4], 0x80);
  EXPECT_EQ(CharsetConversionMap(0)[0], '_');
}

// ----- double-byte charsets -----

TEST_F(CharsetTest, DoubleByteToAndFromSingleByte) {
  EXPECT_EQ(Convert("a\x82\xA0" "b\xB1", 19, 10), "a_b_");
  // A packed EUC character is one, two or three bytes.
  EXPECT_EQ(Convert("a\x8F\xB0\xA1" "b\x8E\xB1\xA4\xA2", 52, 34), "a_b__");
  EXPECT_EQ(Convert("a\x82", 19, 10), "a_");  // a lead byte at the end
  EXPECT_EQ(Convert("a\xC4" "b", 10, 19), "a_b");
  int16_t r = -1;
  EXPECT_EQ(Convert("a\x82\xA0", 19, 18, 0, &r), "a\x82\xA0");  // no converter between them
  EXPECT_EQ(r, 0);
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += char(b);
  return s;
}

TEST_F(CharsetTest, ShiftJisAndPackedEucCases) {
  struct Case {
    const char* name;
    std::string sjis;
    std::string euc;
  };
  const Case cases[] = {
      {"ascii and katakana", "a" + Bytes({0xB1}), "a" + Bytes({0x8E, 0xB1})},
      {"hiragana a", Bytes({0x82, 0xA0}), Bytes({0xA4, 0xA2})},
      {"kanji", Bytes({0x88, 0x9F}), Bytes({0xB0, 0xA1})},
      {"last row", Bytes({0xEA, 0xA4}), Bytes({0xF4, 0xA6})},
      {"user defined, two bytes", Bytes({0xF0, 0x40}), Bytes({0xF5, 0xA1})},
      {"user defined, three bytes", Bytes({0xF9, 0xFC}), Bytes({0x8F, 0xFE, 0xFE})},
      {"extension, three bytes", Bytes({0xFA, 0x40}), Bytes({0x8F, 0xF3, 0xF3})},
      {"extension, not sign", Bytes({0xFA, 0x54}), Bytes({0xA2, 0xCC})},
      {"extension, because", Bytes({0xFA, 0x5B}), Bytes({0xA2, 0xE8})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(c.sjis, 19, 52, 8), c.euc);
    EXPECT_EQ(Convert(c.sjis, 32, 52, 8), c.euc);
  }
  // One way only: the extension's not-sign and because come back as their
  // JIS X 0208 codes, which the two-byte EUC codes are.
  for (int k = 0; k < 7; ++k) {
    SCOPED_TRACE(cases[k].name);
    EXPECT_EQ(Convert(cases[k].euc, 52, 19), cases[k].sjis);
  }
  EXPECT_EQ(Convert(Bytes({0xA2, 0xCC}), 52, 19), Bytes({0x81, 0xCA}));
  // Broken input: the Part's replacement pairs, and ASCII after a stray
  // lead byte survives.
  EXPECT_EQ(Convert(Bytes({0x82, '\n'}), 19, 52, 4), Bytes({0x3F, 0x21, '\n'}));
  EXPECT_EQ(Convert(Bytes({0xFC, 0x4C}), 19, 52, 4), Bytes({0x3F, 0x21}));  // past the table
  EXPECT_EQ(Convert(Bytes({0x8E, 0xE0}), 52, 19), Bytes({0x3F}));
  EXPECT_EQ(Convert(Bytes({0x8F, 0xA2, 0xCC}), 52, 19), Bytes({0x3F, 0x21}));
  EXPECT_EQ(Convert(Bytes({0x8F, 0xB0, 0xA1}), 52, 19), Bytes({0x3F, 0x21}));  // not in the table
  EXPECT_EQ(Convert(Bytes({0xA4, 'x'}), 52, 19), Bytes({0x3F, 'x'}));
  int16_t r = -1;
  EXPECT_EQ(Convert(Bytes({0x82, 0xA0}), 19, 32, 0, &r), Bytes({0x82, 0xA0}));
  EXPECT_EQ(r, 0);
}

class TranslateEnv : public platform::EnvWrapper {
 public:
  TranslateEnv() : EnvWrapper(platform::Env::Current()) {}
  const char* GetEnv(const char* name) override {
    return std::strcmp(name, "GV_LIO_TRANSLATE") == 0 ? "" : target_.GetEnv(name);
  }
};

TEST_F(CharsetTest, ByteWiseConversionWhenTranslateIsSet) {
  TranslateEnv env;
  platform::ScopedEnv scoped(env);
  EXPECT_EQ(Convert(Bytes({0x82, 0xA0}), 19, 52), Bytes({0xA4, 0xA2}));
  EXPECT_EQ(Convert(Bytes({0xB1, 0xA0, 0xFA, 0x40}), 19, 52, 4),
            Bytes({0x8E, 0xB1, 0xA0, 0xFA, 0x40}));  // no table, no user rows
  EXPECT_EQ(Convert(Bytes({0x8E, 0xB1, 0x8F, 0xF3, 0xF3, 0xA4, 0xA2, 0xA4}), 52, 19),
            Bytes({0xB1, '_', 0x82, 0xA0, 0xA4}));
}

// Every JIS X 0208 code and katakana byte as glibc's SHIFT_JIS and EUC-JP
// have them, both ways.
TEST_F(CharsetTest, ShiftJisAndEucAgreeWithIconvOverJisX0208) {
  Iconv toEuc("EUC-JP", "SHIFT_JIS");
  ASSERT_TRUE(toEuc.ok());
  int checked = 0;
  auto check = [&](const std::string& sjis) {
    std::string euc;
    if (!toEuc.Run(sjis, &euc)) return;
    ++checked;
    ASSERT_EQ(Convert(sjis, 19, 52, 4), euc) << std::hex << (unsigned(sjis[0]) & 0xFF);
    ASSERT_EQ(Convert(euc, 52, 19), sjis);
  };
  for (int b = 0xA1; b <= 0xDF; ++b) check(Bytes({b}));
  for (int lead = 0x81; lead <= 0xEF; ++lead) {
    if (lead >= 0xA0 && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail != 0x7F) check(Bytes({lead, trail}));
    }
  }
  EXPECT_GT(checked, 6879 + 63 - 1);  // the 6879 characters and the katakana
}

// The CP932 user-defined rows and IBM extensions (lead bytes 0xF0-0xFC)
// against glibc's CP932 and EUC-JP-MS: the same character both ways, and
// the same bytes wherever EUC-JP-MS writes a three-byte code.
TEST_F(CharsetTest, ShiftJisExtensionsAgreeWithIconvCp932AndEucJpMs) {
  Iconv sjisToUnicode("UTF-8", "CP932"), eucToUnicode("UTF-8", "EUC-JP-MS");
  Iconv sjisToEuc("EUC-JP-MS", "CP932");
  ASSERT_TRUE(sjisToUnicode.ok() && eucToUnicode.ok() && sjisToEuc.ok());
  int checked = 0;
  for (int lead = 0xF0; lead <= 0xFC; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      std::string sjis = Bytes({lead, trail}), character, theirs, back;
      if (trail == 0x7F || !sjisToUnicode.Run(sjis, &character)) continue;
      std::string ours = Convert(sjis, 19, 52, 4);
      SCOPED_TRACE(testing::Message() << std::hex << lead << " " << trail);
      ASSERT_TRUE(eucToUnicode.Run(ours, &back));
      EXPECT_EQ(back, character);
      ASSERT_TRUE(sjisToEuc.Run(sjis, &theirs));
      if (theirs.size() == 3 || lead < 0xFA) {
        EXPECT_EQ(ours, theirs);
      }
      // The not-sign and because of the extensions are JIS X 0208 codes in
      // EUC and come back as those.
      if (ours.size() == 3 || lead < 0xFA) {
        EXPECT_EQ(Convert(ours, 52, 19), sjis);
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 1880 + 388);  // ten user-defined rows pairs and the extensions
}

// ----- the buffer's size -----

TEST_F(CharsetTest, GrowingTextsAreCutAtACharacterWithinTheBuffer) {
  struct Case {
    const char* name;
    std::string text;
    size_t capacity;
    std::string expected;
  };
  const Case cases[] = {
      {"katakana, room for two bytes", Bytes({0xB1, 0xB2, 0xB3}), 4, Bytes({0x8E, 0xB1})},
      {"katakana, room for all", Bytes({0xB1, 0xB2, 0xB3}), 7,
       Bytes({0x8E, 0xB1, 0x8E, 0xB2, 0x8E, 0xB3})},
      {"three-byte code exactly", Bytes({0xF5, 0x40}), 4, Bytes({0x8F, 0xF5, 0xA1})},
      {"three-byte code, one short", Bytes({'a', 0xF5, 0x40}), 4, "a"},
      {"nothing fits", Bytes({0xB1}), 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> buffer(c.capacity + 8, '#');
    std::memcpy(buffer.data(), c.text.c_str(), c.text.size() + 1);
    EXPECT_EQ(CharsetConvert(buffer.data(), 19, 52, c.capacity), 1);
    EXPECT_EQ(std::string(buffer.data()), c.expected);
    for (size_t i = c.capacity; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << i;
  }
  // Longer than any fixed work buffer: 3000 katakana need 6000 bytes.
  std::string katakana(3000, '\xB1');
  std::vector<char> big(4001, '#');
  std::memcpy(big.data(), katakana.c_str(), katakana.size() + 1);
  EXPECT_EQ(CharsetConvert(big.data(), 19, 52, 4000), 1);
  EXPECT_EQ(std::strlen(big.data()), 3998u);
  EXPECT_EQ(big[4000], '#');
  std::string all = Convert(katakana, 19, 52, 3000);
  EXPECT_EQ(all.size(), 6000u);
  EXPECT_EQ(Convert(all, 52, 19), katakana);
}

// ----- LMBCS -----

TEST_F(CharsetTest, LmbcsGroupsIntoTheSystemCharset) {
  struct Case {
    int group;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      // œ of group 1 (0x9C here), a double-byte group character, à (0x85 of
      // code page 850 in group 1), a one-byte group character.
      {1, Bytes({0x01, 0x41, 'x', 0x10, 0x81, 0x82, 'y', 0x85, 0x04, 0xC1, 'z'}),
       Bytes({0x9C, 'x', '_', 'y', 0xE0, '_', 'z'})},
      {3, Bytes({'a', 0x85, 0x01, 0x85}), Bytes({'a', '_', 0xE0})},
      {1, Bytes({'a', 0x10, 0x81}), "a"},  // cut inside a sequence
  };
  for (const Case& c : cases) {
    std::string buffer = c.text;
    ASSERT_EQ(CharsetFromLmbcs(c.group, buffer.data()), 1);
    EXPECT_EQ(std::string(buffer.c_str()), c.expected);
  }
  ResetCharsets();
  std::string text = "a";
  EXPECT_EQ(CharsetFromLmbcs(1, text.data()), 0);
}

// ----- case and class tables -----

TEST_F(CharsetTest, CaseTablesOfTheSystemCharsets) {
  // WindowsLatin1's generated tables are the string routines' defaults.
  SetCaseTables(nullptr);
  EXPECT_EQ(&CurrentCaseTables(), CharsetCaseTables(10));
  EXPECT_EQ(CharsetCaseTables(19), nullptr);
  EXPECT_EQ(CharsetCaseTables(21), nullptr);

  struct Case {
    int charset;
    int byte, upper, lower, alpha;
  };
  const Case cases[] = {
      {13, 0xE0, 0xC0, 0xE0, 1},  // Cyrillic а
      {13, 0xC0, 0xC0, 0xE0, 1},  // А
      {13, 0xA8, 0xA8, 0xB8, 1},  // Ё
      {14, 0xE1, 0xC1, 0xE1, 1},  // Greek α
      {16, 0xFD, 'I', 0xFD, 1},   // Turkish dotless ı
      {11, 0x9A, 0x8A, 0x9A, 1},  // Central European š
      {12, 0xC7, 0xC7, 0xC7, 1},  // Arabic alef: a letter without case
      {54, 0xA1, 0xA1, 0xA1, 1},  // Thai ko kai
      {54, 0xD1, 0xD1, 0xD1, 0},  // Thai mai han-akat, a mark
      {15, 0xE0, 0xE0, 0xE0, 1},  // Hebrew alef
      {10, 0xD7, 0xD7, 0xD7, 0},  // ×
      {10, 0xFF, 0x9F, 0xFF, 1},  // ÿ, whose capital lies below 0xA0
      {10, 0xDF, 0xDF, 0xDF, 1},  // ß has no one-character capital
      {10, 0x88, 0x88, 0x88, 1},  // ˆ, a modifier letter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.charset << " " << std::hex << c.byte);
    CharsetSetSystem(c.charset);
    EXPECT_EQ(CharToUpper(c.byte), c.upper);
    EXPECT_EQ(CharToLower(c.byte), c.lower);
    EXPECT_EQ(CharIsAlpha(c.byte), c.alpha);
    EXPECT_EQ(CharIsAlnum('7'), 1);
  }
  CharsetSetSystem(13);
  char text[] = "abc \xE0\xE1";
  EXPECT_STREQ(StrToUpper(text), "ABC \xC0\xC1");
  EXPECT_EQ(StrCompareNoCase("\xE0\xE1", "\xC0\xC1"), 0);
}

}  // namespace
