// The delimited-text driver through the dispatcher: field splitting, reading
// rows forward and back, long lines, line ends and charsets, appending rows
// and the title line, describing a file's columns (and agreeing with OGR's
// CSV type detection on files made from the shared data sets).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/mapfile/tables/dispatch_fixture.h"
#include "support/command.h"

namespace mapfiletest {
namespace {

using namespace layerio;

// Parameter words of a text source: delimiter, title flag, charset.
void TextParams(DataSource* s, char delimiter, bool titles, int charset) {
  DataSourceDefaults(kDataText, s->params.words);
  s->params.SetByte(8, uint8_t(delimiter));
  s->params.SetByte(9, titles ? 1 : 0);
  if (charset >= 0) s->params.words[3] = uint32_t(charset);
}

class TextFileTest : public FileLayerTest {
 protected:
  void TearDown() override {
    if (attached_) DataSourceClose(&source_, nullptr);
    FileLayerTest::TearDown();
  }

  // Writes `bytes` as the file and binds it to the columns, open for reading.
  ::testing::AssertionResult Open(const std::string& bytes, Columns& columns,
                                  char delimiter = ',', bool titles = false, int charset = -1) {
    dir_.Write("data.txt", bytes);
    return OpenPath(PathOf("data.txt"), columns, delimiter, titles, charset);
  }
  ::testing::AssertionResult OpenPath(const std::string& path, Columns& columns, char delimiter,
                                      bool titles, int charset = -1) {
    source_ = NewSource();
    TextParams(&source_, delimiter, titles, charset);
    int32_t count = columns.count();
    if (!DataSourceAttach(path.c_str(), 0, &source_, kDataText, &count, columns.data()))
      return ::testing::AssertionFailure() << "attach, error " << ErrorLastCode();
    attached_ = true;
    if (!DataSourceOpen(&source_, kFileModeRead))
      return ::testing::AssertionFailure() << "open, error " << ErrorLastCode();
    return ::testing::AssertionSuccess();
  }
  void Close(Columns& columns) {
    ASSERT_TRUE(DataSourceClose(&source_, columns.data()));
    attached_ = false;
  }
  // The texts of Char columns after reading `row`.
  std::vector<std::string> Row(Columns& columns, uint32_t row) {
    std::vector<std::string> out;
    if (!DataSourceReadRow(&source_, columns.data(), row)) return {"<no row>"};
    for (int32_t i = 0; i < columns.count(); ++i) out.push_back(columns.Text(size_t(i)));
    return out;
  }

  DataSource source_{};
  bool attached_ = false;
};

using Fields = std::vector<std::string>;

TEST_F(TextFileTest, SplitsFieldsAsTheLineSays) {
  struct Case {
    const char* what;
    char delimiter;
    const char* line;
    Fields expect;  // four Char columns
  };
  const Case cases[] = {
      {"quoted comma, blank skipped, empty field", ',', "\"a, b\", 42,,7", {"a, b", "42", "", "7"}},
      {"a letter and a final comma", ',', "x,", {"x", "", "", ""}},
      {"doubled quotes", ',', "\"say \"\"hi\"\"\",\"\"\"\"", {"say \"hi\"", "\"", "", ""}},
      {"text after the closing quote dropped", ',', "\"ab\"cd,e", {"ab", "e", "", ""}},
      {"TAB inside a field is a blank", ',', "a\tb,\"c\td\"", {"a b", "c d", "", ""}},
      {"TAB delimiter, empty fields kept", '\t', "a\t\tc\t", {"a", "", "c", ""}},
      {"TAB inside quotes is no delimiter", '\t', "\"a\tb\"\tc", {"a b", "c", "", ""}},
      {"blanks: leading skipped, trailing dropped, quoted kept", ',', "  a  ,\"  b  \" ,c",
       {"a", "  b  ", "c", ""}},
      {"a quote that never closes runs to the end", ',', "\"abc,def", {"abc,def", "", "", ""}},
      {"a quote inside an unquoted field stays", ',', "ab\"c,d", {"ab\"c", "d", "", ""}},
      {"empty line: every field empty", ',', "", {"", "", "", ""}},
      {"more fields than columns", ';', "1;2;3;4;5;6", {"1", "2", "3", "4"}},
      {"trailing blanks and control characters of the line", ',', "a,b \x01\x02  ",
       {"a", "b", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Columns cols({{"A", kFieldChar, 20, 0},
                  {"B", kFieldChar, 20, 0},
                  {"C", kFieldChar, 20, 0},
                  {"D", kFieldChar, 20, 0}});
    ASSERT_TRUE(Open(std::string(c.line) + "\n", cols, c.delimiter));
    EXPECT_EQ(Row(cols, 1), c.expect);
    Close(cols);
  }
}

TEST_F(TextFileTest, CharColumnsCutAtTheirWidthNumbersParsed) {
  Columns cols({{"Name", kFieldChar, 4, 0},
                {"N", kFieldInteger, 0, 0},
                {"S", kFieldSmallint, 0, 0},
                {"F", kFieldFloat, 0, 0},
                {"D", kFieldDecimal, 8, 2},
                {"When", kFieldDate, 0, 0},
                {"Ok", kFieldLogical, 0, 0}});
  ASSERT_TRUE(Open("\"abcdefg\",-123456, 12 ,1.5e3,3.14159,20240229,T\n"
                   "xy,abc,,,,,F\n",
                   cols));
  EXPECT_EQ(source_.rowCount, 2u);
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 1));
  EXPECT_EQ(cols.Text(0), "abcd");
  EXPECT_EQ(cols[1].value.u.i, -123456);
  EXPECT_EQ(cols[2].value.u.s, 12);
  EXPECT_DOUBLE_EQ(cols[3].value.u.d, 1500.0);
  EXPECT_DOUBLE_EQ(cols[4].value.u.d, 3.14);
  EXPECT_EQ(cols[5].value.u.date.year, 2024);
  EXPECT_EQ(cols[5].value.u.date.month, 2);
  EXPECT_EQ(cols[5].value.u.date.day, 29);
  EXPECT_TRUE(cols[6].value.u.b);
  // A text in a number column reads as zero; absent fields read empty.
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), "xy");
  EXPECT_EQ(cols[1].value.u.i, 0);
  EXPECT_EQ(cols[2].value.u.s, 0);
  EXPECT_EQ(cols[6].value.u.b, 0);
  Close(cols);
}

TEST_F(TextFileTest, DoubleByteCharactersAreKeptWhole) {
  // In the Japanese charset 0x83 0x7C is one character whose trail byte is
  // the delimiter '|'.
  CharsetSetSystem(19);
  Columns cols({{"A", kFieldChar, 10, 0}, {"B", kFieldChar, 10, 0}, {"C", kFieldChar, 3, 0}});
  ASSERT_TRUE(Open("a\x83|b|c\n\"\x83|\"|x|\x83\x7C\x83\x7C\n", cols, '|', false, 19));
  EXPECT_EQ(Row(cols, 1), (Fields{"a\x83|b", "c", ""}));
  // The cut at width 3 never keeps half a character.
  EXPECT_EQ(Row(cols, 2), (Fields{"\x83|", "x", "\x83\x7C"}));
  Close(cols);
}

TEST_F(TextFileTest, RowsReadInAnyOrderTitleLineSkippedAfterRewind) {
  Columns cols({{"N", kFieldInteger, 0, 0}});
  ASSERT_TRUE(Open("Title\n1\n2\n3\n4\n5\n", cols, ',', true));
  EXPECT_EQ(source_.rowCount, 5u);
  auto read = [&](uint32_t row) {
    cols[0].value.u.i = -1;
    return DataSourceReadRow(&source_, cols.data(), row) ? cols[0].value.u.i : -99;
  };
  EXPECT_EQ(read(5), 5);
  EXPECT_EQ(read(3), 3);  // backwards: rewinds, past the title line again
  EXPECT_EQ(read(3), 3);  // the same row again
  EXPECT_EQ(read(4), 4);
  EXPECT_EQ(read(1), 1);
  EXPECT_EQ(read(6), -99);  // past the last line
  EXPECT_EQ(source_.currentRow, 0u);
  EXPECT_EQ(read(0), -99);
  EXPECT_EQ(read(2), 2);
  // A row the dispatcher took from elsewhere (overlay) does not fool the
  // driver about where its file stands.
  source_.currentRow = 4;
  EXPECT_EQ(read(3), 3);
  Close(cols);
}

TEST_F(TextFileTest, ALongLineIsOneRow) {
  // Lines far longer than the line buffers' first size, and a line of
  // exactly that size, keep every later row at its number.
  const std::string longText(10000, 'x');
  const std::string edge(4095, 'y');
  std::string file = "1,short\n2,\"" + longText + "\"\n3," + edge + "\n4," +
                     std::string(70000, 'z') + "\n5,last\n";
  Columns cols({{"N", kFieldSmallint, 0, 0}, {"T", kFieldChar, 254, 0}});
  ASSERT_TRUE(Open(file, cols));
  EXPECT_EQ(source_.rowCount, 5u);
  for (int16_t row : {5, 2, 3, 4, 1, 5}) {
    SCOPED_TRACE(row);
    ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), uint32_t(row)));
    EXPECT_EQ(cols[0].value.u.s, row);
  }
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 2));
  EXPECT_EQ(cols.Text(1), std::string(254, 'x'));
  Close(cols);

  // The same file with CR LF line ends and a long title line.
  std::string crlf = std::string(5000, 'T') + "\r\n";
  for (char c : file) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(Open(crlf, cols, ',', true));
  EXPECT_EQ(source_.rowCount, 5u);
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 5));
  EXPECT_EQ(cols.Text(1), "last");
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 4));
  EXPECT_EQ(cols[0].value.u.s, 4);
  Close(cols);
}

TEST_F(TextFileTest, EveryLineEndEndsARow) {
  struct Case {
    const char* what;
    const char* bytes;
  };
  const Case cases[] = {
      {"LF", "a,1\nb,2\n\nd,4"},
      {"CR LF", "a,1\r\nb,2\r\n\r\nd,4\r\n"},
      {"CR", "a,1\rb,2\r\rd,4\r"},
      {"mixed", "a,1\r\nb,2\r\nd,4\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Columns cols({{"T", kFieldChar, 5, 0}, {"N", kFieldInteger, 0, 0}});
    ASSERT_TRUE(Open(c.bytes, cols));
    const bool mixed = std::strcmp(c.what, "mixed") == 0;
    EXPECT_EQ(source_.rowCount, mixed ? 3u : 4u);
    ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), mixed ? 3 : 4));
    EXPECT_EQ(cols.Text(0), "d");
    EXPECT_EQ(cols[1].value.u.i, 4);
    if (!mixed) {
      ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 3));
      EXPECT_EQ(cols.Text(0), "");
    }
    ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 2));
    EXPECT_EQ(cols.Text(0), "b");
    Close(cols);
  }
}

TEST_F(TextFileTest, NulBytesNeverJoinOrSplitRows) {
  // A NUL byte ends what is read of its line; the line is still one row.
  Columns cols({{"T", kFieldChar, 5, 0}, {"N", kFieldChar, 5, 0}});
  ASSERT_TRUE(Open(std::string("a\0zz,1\n\0x,2\nb,3\n", 15), cols));
  EXPECT_EQ(source_.rowCount, 3u);
  EXPECT_EQ(Row(cols, 3), (Fields{"b", "3"}));
  EXPECT_EQ(Row(cols, 1), (Fields{"a", ""}));
  EXPECT_EQ(Row(cols, 2), (Fields{"", ""}));
  Close(cols);
}

TEST_F(TextFileTest, ANewlineInsideQuotesEndsTheRow) {
  // Quotes do not join lines: the row ends with its line, the open quote
  // runs to that end, and the rest is the next row.
  Columns cols({{"A", kFieldChar, 10, 0}, {"B", kFieldChar, 10, 0}});
  ASSERT_TRUE(Open("\"one\ntwo\",7\nlast,8\n", cols));
  EXPECT_EQ(source_.rowCount, 3u);
  EXPECT_EQ(Row(cols, 1), (Fields{"one", ""}));
  EXPECT_EQ(Row(cols, 2), (Fields{"two\"", "7"}));
  EXPECT_EQ(Row(cols, 3), (Fields{"last", "8"}));
  Close(cols);
}

// ----- create, insert, release --------------------------------------------

class TextWriteTest : public TextFileTest {
 protected:
  ::testing::AssertionResult Create(Columns& cols, char delimiter, bool titles, int charset = -1,
                                    uint8_t kind = kDataText) {
    source_ = NewSource();
    uint32_t params[kDataParamWords];
    DataSourceDefaults(kind, params);
    if (delimiter) reinterpret_cast<uint8_t*>(params)[8] = uint8_t(delimiter);
    reinterpret_cast<uint8_t*>(params)[9] = titles ? 1 : 0;
    if (charset >= 0) params[3] = uint32_t(charset);
    if (!DataSourceCreate("made", dir_.path().c_str(), -1, 0, &source_, kind, cols.count(),
                          cols.data(), params, 0))
      return ::testing::AssertionFailure() << "create, error " << ErrorLastCode();
    attached_ = true;
    return ::testing::AssertionSuccess();
  }
  std::string FileName() const {
    char path[kPathCapacity];
    return FilePath(source_.file, path) ? std::string(path) : std::string();
  }
};

TEST_F(TextWriteTest, InsertedRowsReadBackTheirValues) {
  Columns cols({{"Name", kFieldChar, 30, 0},
                {"N", kFieldInteger, 0, 0},
                {"S", kFieldSmallint, 0, 0},
                {"F", kFieldFloat, 0, 0},
                {"D", kFieldDecimal, 9, 2},
                {"When", kFieldDate, 0, 0},
                {"Ok", kFieldLogical, 0, 0}});
  ASSERT_TRUE(Create(cols, ',', true));
  EXPECT_EQ(source_.rowCount, 0u);
  EXPECT_EQ(testsupport::ReadAll(FileName()),
            "\"Name\",\"N\",\"S\",\"F\",\"D\",\"When\",\"Ok\"\r\n");

  struct Row {
    const char* name;
    int32_t n;
    int16_t s;
    double f, d;
    DateRec when;
    uint8_t ok;
    const char* readBack;
  };
  const Row rows[] = {
      {"plain", 1, 2, 0.5, 1.25, {2024, 2, 29}, 1, "plain"},
      {"say \"hi\", twice", -70000, -3, -1e-7, 100.0, {1900, 1, 1}, 0, "say \"hi\", twice"},
      {"  blanks  ", 0, 0, 0, 0, {0, 0, 0}, 0, "  blanks  "},
      {"two\nlines\tand tab", 5, 5, 5, 5, {2000, 12, 31}, 1, "two lines and tab"},
      {"", 7, 7, 7, 7, {2001, 1, 2}, 1, ""},
  };
  ASSERT_TRUE(DataSourceOpen(&source_, kFileModeWrite));
  uint32_t expectRow = 0;
  for (const Row& r : rows) {
    cols.SetText(0, r.name);
    cols[1].value.u.i = r.n;
    cols[2].value.u.s = r.s;
    cols[3].value.u.d = r.f;
    cols[4].value.u.d = r.d;
    cols[5].value.u.date = r.when;
    cols[6].value.u.b = r.ok;
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&source_, cols.data(), &row));
    EXPECT_EQ(row, ++expectRow);
  }
  // Reading while open for writing finds the rows just written.
  ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), rows[1].readBack);
  ASSERT_TRUE(DataSourceRelease(&source_));
  EXPECT_EQ(FileOpenCount(source_.file), 1) << "held open for reading after a write";

  ASSERT_TRUE(DataSourceOpen(&source_, kFileModeRead));
  for (uint32_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), i + 1));
    EXPECT_EQ(cols.Text(0), r.readBack);
    EXPECT_EQ(cols[1].value.u.i, r.n);
    EXPECT_EQ(cols[2].value.u.s, r.s);
    EXPECT_DOUBLE_EQ(cols[3].value.u.d, r.f);
    EXPECT_DOUBLE_EQ(cols[4].value.u.d, r.d);
    EXPECT_EQ(cols[5].value.u.date.year, r.when.year);
    EXPECT_EQ(cols[5].value.u.date.month, r.when.month);
    EXPECT_EQ(cols[5].value.u.date.day, r.when.day);
    EXPECT_EQ(cols[6].value.u.b, r.ok);
  }
  ASSERT_TRUE(DataSourceRelease(&source_));
  // Text is quoted with its quotes doubled; numbers are not quoted.
  const std::string text = testsupport::ReadAll(FileName());
  EXPECT_NE(text.find("\r\n\"say \"\"hi\"\", twice\",-70000,-3,"), std::string::npos) << text;
  // No update in place.
  ErrorClear();
  EXPECT_FALSE(DataSourceUpdate(&source_, cols.data(), 1));
  EXPECT_EQ(ErrorLastCode(), kErrDataWrite);
  Close(cols);
}

TEST_F(TextWriteTest, LinesReachingTheLimitAreRefused) {
  // Sixteen quoted texts: fifteen of 254 bytes (256 with their quotes) and
  // fifteen TABs make 3,855 bytes; the last adds its length and two quotes.
  // 4,094 bytes is the longest line written; one more fails.
  Columns many({{"A", kFieldChar, 254, 0}, {"B", kFieldChar, 254, 0}, {"C", kFieldChar, 254, 0},
                {"D", kFieldChar, 254, 0}, {"E", kFieldChar, 254, 0}, {"F", kFieldChar, 254, 0},
                {"G", kFieldChar, 254, 0}, {"H", kFieldChar, 254, 0}, {"I", kFieldChar, 254, 0},
                {"J", kFieldChar, 254, 0}, {"K", kFieldChar, 254, 0}, {"L", kFieldChar, 254, 0},
                {"M", kFieldChar, 254, 0}, {"N", kFieldChar, 254, 0}, {"O", kFieldChar, 254, 0},
                {"P", kFieldChar, 254, 0}});
  ASSERT_TRUE(Create(many, '\t', false));
  ASSERT_TRUE(DataSourceOpen(&source_, kFileModeWrite));
  auto fill = [&](size_t lastLength) {
    for (int32_t i = 0; i < many.count(); ++i) {
      many.SetText(size_t(i), std::string(i + 1 == many.count() ? lastLength : 254, 'a').c_str());
    }
  };
  uint32_t row = 0;
  fill(4094 - 3855 - 2);
  EXPECT_TRUE(DataSourceInsert(&source_, many.data(), &row));
  fill(4095 - 3855 - 2);
  ErrorClear();
  EXPECT_FALSE(DataSourceInsert(&source_, many.data(), &row));
  EXPECT_EQ(ErrorLastCode(), kErrDataWrite);
  EXPECT_EQ(row, 1u);
  ASSERT_TRUE(DataSourceRelease(&source_));
  EXPECT_EQ(testsupport::ReadAll(FileName()).size(), 4094u + 2);
  Close(many);

  // Comma text (kind 12) is created with a comma between the titles.
  Columns two({{"A", kFieldChar, 5, 0}, {"B b", kFieldSmallint, 0, 0}});
  ASSERT_TRUE(Create(two, 0, true, -1, kDataCsv));
  EXPECT_EQ(FileName().substr(FileName().size() - 8), "made.csv");
  EXPECT_EQ(testsupport::ReadAll(FileName()), "\"A\",\"B_b\"\r\n");
  // Its source cannot be opened, so it holds neither the file nor buffers.
  EXPECT_EQ(FileOpenCount(source_.file), 0);
  EXPECT_EQ(source_.params.ptr[0], nullptr);
  Close(two);

  // A title line too long fails the create and leaves no file.
  std::vector<FieldDef> defs(130);
  for (size_t i = 0; i < defs.size(); ++i) {
    std::snprintf(defs[i].name, sizeof defs[i].name, "A_rather_long_column_name_%03u",
                  unsigned(i % 1000));
    defs[i].width = 1;
    defs[i].value.kind = kFieldSmallint;
  }
  source_ = NewSource();
  uint32_t params[kDataParamWords];
  DataSourceDefaults(kDataCsv, params);
  reinterpret_cast<uint8_t*>(params)[9] = 1;
  ErrorClear();
  EXPECT_FALSE(DataSourceCreate("titles", dir_.path().c_str(), -1, 0, &source_, kDataCsv,
                                int32_t(defs.size()), defs.data(), params, 0));
  EXPECT_FALSE(std::filesystem::exists(PathOf("titles.csv")));
  // More than 250 columns: 877.
  std::vector<FieldDef> tooMany(251);
  for (size_t i = 0; i < tooMany.size(); ++i) {
    std::snprintf(tooMany[i].name, sizeof tooMany[i].name, "C%zu", i);
    tooMany[i].value.kind = kFieldSmallint;
  }
  source_ = NewSource();
  ErrorClear();
  EXPECT_FALSE(DataSourceCreate("many", dir_.path().c_str(), -1, 0, &source_, kDataCsv,
                                int32_t(tooMany.size()), tooMany.data(), params, 0));
  EXPECT_TRUE(Pushed(kErrTooManyColumns));
}

// Conversions between charsets need the charset layer started; it is left
// as the other tests expect it.
class CharsetsReady {
 public:
  CharsetsReady() { ready_ = CharsetInit() == 1; }
  ~CharsetsReady() {
    FoundationState& s = State();
    s.charsetReady = false;
    s.conversionLast = -1;
    for (auto& c : s.conversions) c = CharsetConversion{};
  }
  bool ready() const { return ready_; }

 private:
  bool ready_ = false;
};

TEST_F(TextWriteTest, CharsetsSetTheLineEndAndTheBytes) {
  // The library's charset is Windows Latin 1: "\xE9" is an e with an acute.
  CharsetsReady charsets;
  ASSERT_TRUE(charsets.ready());
  struct Case {
    int charset;
    const char* bytes;  // the file after the title and one row
  };
  const Case cases[] = {
      {1, "\"Name\"\n\"caf\xE9\"\n"},        // ISO 8859-1: LF
      {10, "\"Name\"\r\n\"caf\xE9\"\r\n"},  // Windows Latin 1: CR LF
      {21, "\"Name\"\r\"caf\x8E\"\r"},      // Mac Roman: CR, and its own byte
      {34, "\"Name\"\r\n\"caf\x82\"\r\n"},  // code page 437
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    Columns cols({{"Name", kFieldChar, 10, 0}});
    ASSERT_TRUE(Create(cols, ',', true, c.charset));
    ASSERT_TRUE(DataSourceOpen(&source_, kFileModeWrite));
    cols.SetText(0, "caf\xE9");
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&source_, cols.data(), &row));
    ASSERT_TRUE(DataSourceRelease(&source_));
    EXPECT_EQ(testsupport::ReadAll(FileName()), c.bytes);
    cols.SetText(0, "");
    ASSERT_TRUE(DataSourceOpen(&source_, kFileModeRead));
    ASSERT_TRUE(DataSourceReadRow(&source_, cols.data(), 1));
    EXPECT_EQ(cols.Text(0), "caf\xE9");
    const std::string name = FileName();
    Close(cols);
    std::filesystem::remove(name);
  }
}

TEST_F(TextWriteTest, HeldOpenBetweenOpensAndClosedAtTheEnd) {
  Columns cols({{"N", kFieldSmallint, 0, 0}});
  ASSERT_TRUE(Create(cols, ',', false));
  const FileHandle file = source_.file;
  EXPECT_EQ(FileOpenCount(file), 1);
  EXPECT_NE(source_.driverFlag, 0);
  ASSERT_TRUE(DataSourceOpen(&source_, kFileModeRead));
  EXPECT_EQ(FileOpenCount(file), 2);
  ASSERT_TRUE(DataSourceRelease(&source_));
  EXPECT_EQ(FileOpenCount(file), 1);
  ASSERT_TRUE(DataSourceOpen(&source_, kFileModeWrite));
  EXPECT_EQ(FileOpenCount(file), 1) << "the read hold gives way to the write open";
  EXPECT_EQ(source_.driverFlag, 0);
  uint32_t row = 0;
  cols[0].value.u.s = 9;
  ASSERT_TRUE(DataSourceInsert(&source_, cols.data(), &row));
  ASSERT_TRUE(DataSourceRelease(&source_));
  EXPECT_EQ(FileOpenCount(file), 1);
  EXPECT_NE(source_.driverFlag, 0);
  Close(cols);
  EXPECT_EQ(FileOpenCount(file), 0);
  EXPECT_EQ(source_.params.ptr[0], nullptr);
  EXPECT_EQ(source_.params.ptr[1], nullptr);
}

// ----- describe ------------------------------------------------------------

struct Described {
  std::vector<std::string> names;
  std::vector<int> types;
  std::vector<int> widths;
  uint32_t rows = 0;
};

class TextDescribeTest : public TextFileTest {
 protected:
  ::testing::AssertionResult Describe(const std::string& path, char delimiter, bool titles,
                                      Described* out, uint8_t kind = kDataText) {
    TableObject table{};
    table.source.kind = kind;
    TextParams(&table.source, delimiter, titles, -1);
    if (kind == kDataCsv) table.source.params.SetByte(8, 0);  // the kind's own default
    int16_t ok = DataSourceDescribe(path.c_str(), &table);
    for (uint32_t i = 0; ok && i < table.fieldCount; ++i) {
      out->names.push_back(table.fields[i].name);
      out->types.push_back(table.fields[i].value.kind);
      out->widths.push_back(table.fields[i].width);
    }
    out->rows = table.source.rowCount;
    EXPECT_EQ(table.source.params.ptr[0], nullptr);
    DataSourceClose(&table.source, nullptr);
    MemFree(table.fields);
    if (!ok) return ::testing::AssertionFailure() << "describe, error " << ErrorLastCode();
    return ::testing::AssertionSuccess();
  }
};

constexpr int C = kFieldChar, I = kFieldInteger, S = kFieldSmallint, F = kFieldFloat;

TEST_F(TextDescribeTest, InfersTypesAndWidths) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<int> types;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {"12, 40000, 1.5: Float", "12\n40000\n1.5\n", {F}, {5}},
      {"007: Char", "1\n007\n", {C}, {3}},
      {"5 and -3: Smallint", "5\n-3\n", {S}, {2}},
      {"40000 after 5: Integer", "5\n40000\n", {I}, {5}},
      {"beyond 32 bits: Float", "2147483648\n", {F}, {10}},
      {"a Float stays Float after an Integer", "1.5\n40000\n7\n", {F}, {5}},
      {"a quoted number is Char", "\"12\"\n", {C}, {2}},
      {"text wins over numbers", "1\nx\n2.5\n", {C}, {3}},
      {"empty fields change nothing", "\n3\n,\n", {S, C}, {1, 1}},
      {"all empty: Char 1", ",\n,\n", {C, C}, {1, 1}},
      {"more fields on a later line add columns", "1\n2,x,3.5\n", {S, C, F}, {1, 1, 3}},
      {"width from the unquoted text", "\"a\"\"b\"\n", {C}, {3}},
      {"width at most 254", "\"" + std::string(300, 'w') + "\"\n", {C}, {254}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Described d;
    ASSERT_TRUE(Describe(dir_.Write("d.txt", c.bytes), ',', false, &d));
    EXPECT_EQ(d.types, c.types);
    EXPECT_EQ(d.widths, c.widths);
  }
}

TEST_F(TextDescribeTest, NamesFromTheTitleLineOrByNumber) {
  Described plain;
  ASSERT_TRUE(Describe(testsupport::FixturePath("text/cities.txt"), '\t', false, &plain));
  // "COL1" and so on name columns by number in expressions: the dispatcher
  // makes the driver's names valid with a leading underscore.
  EXPECT_EQ(plain.names, (std::vector<std::string>{"_COL1", "_COL2", "_COL3", "_COL4"}));
  EXPECT_EQ(plain.rows, 5u);

  Described titled;
  ASSERT_TRUE(Describe(testsupport::FixturePath("text/cities.txt"), '\t', true, &titled));
  // "City Name" made valid, an empty title keeps its number, "2020 pop"
  // gets a leading underscore, a repeated name is made unique.
  ASSERT_EQ(titled.names.size(), 4u);
  EXPECT_EQ(titled.names[0], "City_Name");
  EXPECT_EQ(titled.names[1], "_COL2");
  EXPECT_EQ(titled.names[2], "_2020_pop");
  EXPECT_NE(titled.names[3], "City_Name");
  EXPECT_EQ(titled.names[3].rfind("City_Name", 0), 0u);
  EXPECT_EQ(titled.rows, 4u);
  EXPECT_EQ(titled.types, (std::vector<int>{C, S, I, F}));

  // A title longer than a column name is cut to 31 characters.
  Described longTitle;
  ASSERT_TRUE(Describe(dir_.Write("t.csv", std::string(40, 'n') + ",\"\"\n1,2\n"), ',', true,
                       &longTitle, kDataCsv));
  EXPECT_EQ(longTitle.names, (std::vector<std::string>{std::string(31, 'n'), "_COL2"}));
  EXPECT_EQ(longTitle.rows, 1u);

  // An empty file: one Char column, no rows.
  Described empty;
  ASSERT_TRUE(Describe(dir_.Write("e.txt", ""), ',', false, &empty));
  EXPECT_EQ(empty.names, (std::vector<std::string>{"_COL1"}));
  EXPECT_EQ(empty.types, (std::vector<int>{C}));
  EXPECT_EQ(empty.rows, 0u);
}

TEST_F(TextDescribeTest, MoreThan250ColumnsAreRefused) {
  std::string wide;
  for (int i = 0; i < 251; ++i) wide += i ? ",1" : "1";
  Described d;
  ErrorClear();
  EXPECT_FALSE(Describe(dir_.Write("w.txt", "1\n" + wide + "\n"), ',', false, &d));
  EXPECT_TRUE(Pushed(kErrTooManyColumns));
  ErrorClear();
  EXPECT_FALSE(Describe(dir_.Write("w.txt", wide + "\n"), ',', true, &d));
  EXPECT_TRUE(Pushed(kErrTooManyColumns));
  wide.resize(wide.size() - 2);  // 250 columns are fine
  EXPECT_TRUE(Describe(dir_.Write("w.txt", wide + "\n"), ',', false, &d));
}

TEST_F(TextDescribeTest, AnyBytesDescribeAndReadWithoutHarm) {
  // Lines of random bytes weighted towards the ones the splitter looks at,
  // in a single-byte and a double-byte charset, with lines past the buffers'
  // first size: every row reads, and the row count is the line count.
  std::mt19937 random(36);
  const char bytes[] = {',', '"', '"', '\t', ' ', '\r', '\0', 'a', '1', '.', '-',
                        '\x83', '\x7C', '\xE0', '\xFF'};
  for (int charset : {10, 19}) {
    SCOPED_TRACE(charset);
    CharsetSetSystem(charset);
    std::string text;
    for (int line = 0; line < 300; ++line) {
      size_t length = random() % 8 == 0 ? 3000 + random() % 9000 : random() % 60;
      for (size_t i = 0; i < length; ++i) text += bytes[random() % sizeof bytes];
      text += '\n';
    }
    const std::string path = dir_.Write("any.txt", text);
    TableObject table{};
    table.source.kind = kDataText;
    TextParams(&table.source, ',', charset == 19, charset);
    ASSERT_TRUE(DataSourceDescribe(path.c_str(), &table));
    const uint32_t rows = table.source.rowCount;
    EXPECT_GT(rows, 250u);
    DataSourceClose(&table.source, nullptr);
    std::vector<FieldDef> fields(table.fields, table.fields + table.fieldCount);
    MemFree(table.fields);

    DataSource s = NewSource();
    TextParams(&s, ',', charset == 19, charset);
    int32_t count = int32_t(fields.size());
    ASSERT_TRUE(DataSourceAttach(path.c_str(), 0, &s, kDataText, &count, fields.data()));
    EXPECT_EQ(s.rowCount, rows);
    ASSERT_TRUE(DataSourceOpen(&s, kFileModeRead));
    for (uint32_t row = rows; row >= 1; row -= 7) {
      ASSERT_TRUE(DataSourceReadRow(&s, fields.data(), row)) << row;
      if (row <= 7) break;
    }
    for (uint32_t row = 1; row <= rows; ++row)
      ASSERT_TRUE(DataSourceReadRow(&s, fields.data(), row)) << row;
    EXPECT_FALSE(DataSourceReadRow(&s, fields.data(), rows + 1));
    ASSERT_TRUE(DataSourceClose(&s, fields.data()));
  }
}

// ----- agreement with OGR's CSV type detection -----------------------------

// OGR's field types of a CSV, in order ("Integer", "Real", "String", ...),
// with its feature count.
bool OgrTypes(const std::string& csv, std::vector<std::string>* types, long* features) {
  std::string out;
  if (!testsupport::RunCommand("ogrinfo -ro -al -so -oo AUTODETECT_TYPE=YES "
                               "-oo AUTODETECT_SIZE_LIMIT=0 -oo QUOTED_FIELDS_AS_STRING=YES "
                               "-oo HEADERS=YES '" +
                                   csv + "' 2>/dev/null",
                               &out))
    return false;
  std::istringstream lines(out);
  std::string line;
  bool inFields = false;
  *features = -1;
  while (std::getline(lines, line)) {
    if (line.rfind("Feature Count: ", 0) == 0) *features = std::stol(line.substr(15));
    if (line.rfind("Layer SRS WKT", 0) == 0 || line.rfind("Geometry: ", 0) == 0 ||
        line.rfind("Feature Count", 0) == 0) {
      inFields = true;
      continue;
    }
    size_t colon = line.rfind(": ");
    if (!inFields || colon == std::string::npos) continue;
    std::string rest = line.substr(colon + 2);
    types->push_back(rest.substr(0, rest.find(' ')));
  }
  return true;
}

const char* OurAsOgr(int type) {
  switch (type) {
    case kFieldSmallint:
    case kFieldInteger:
      return "Integer";
    case kFieldFloat:
      return "Real";
    case kFieldChar:
      return "String";
    default:
      return "?";
  }
}

TEST_F(TextDescribeTest, InferredTypesAgreeWithOgrOnTheSharedData) {
  if (!testsupport::HaveCommand("command -v ogr2ogr") ||
      !testsupport::HaveCommand("command -v ogrinfo"))
    GTEST_SKIP() << "ogr2ogr and ogrinfo are not installed";
  const std::vector<std::string> sources = {
      "naturalearth/naturalearth_lowres.shp", "naturalearth/naturalearth_cities.shp",
      "nc/nc.shp",                            "us/us_counties.shp",
      "xbase/dbase/dBaseIII.dbf",             "xbase/dbase/dBaseIII_nomemo.dbf",
      "xbase/dbase/dBaseIV.dbf",              "xbase/foxpro/Foxpro2.dbf",
      "xbase/foxpro/pr90.dbf",                "xbase/foxpro/issue115.dbf",
  };
  int compared = 0;
  for (const std::string& name : sources) {
    SCOPED_TRACE(name);
    const std::string source = testsupport::SharedDataPath(name);
    if (!std::filesystem::exists(source)) continue;
    const std::string csv = dir_.File(std::filesystem::path(name).stem().string() + ".csv");
    std::string ignored;
    ASSERT_TRUE(testsupport::RunCommand(
        "ogr2ogr -f CSV '" + csv + "' '" + source + "' >/dev/null 2>&1", &ignored));
    std::vector<std::string> ogr;
    long features = 0;
    ASSERT_TRUE(OgrTypes(csv, &ogr, &features));
    Described ours;
    ASSERT_TRUE(Describe(csv, ',', true, &ours, kDataCsv));
    if (long(ours.rows) != features) {
      // A text with a line end inside quotes is one record for OGR and two
      // rows here: the columns after it do not line up.
      continue;
    }
    ASSERT_LE(ogr.size(), ours.types.size());
    for (size_t i = 0; i < ogr.size(); ++i) {
      const std::string& theirs = ogr[i];
      if (theirs != "Integer" && theirs != "Real" && theirs != "String") continue;
      EXPECT_EQ(OurAsOgr(ours.types[i]), theirs) << "column " << ours.names[i];
      ++compared;
    }
  }
  EXPECT_GT(compared, 30);
}

}  // namespace
}  // namespace mapfiletest
