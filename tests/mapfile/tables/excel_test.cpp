// The Excel workbook driver through the dispatcher: workbooks of every BIFF
// version written by SheetJS (tests/data/xls, values as python3-xlrd reads
// them), and record streams built here for what SheetJS does not write:
// RK numbers, the five-zero format, the 1904 date mode, names, shared
// strings split across continuation records, UTF-16 texts, passwords and
// damaged copies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "layerio.h"
#include "tests/mapfile/tables/dispatch_fixture.h"
#include "tests/mapfile/tables/session_fixture.h"
#include "support/temp_dir.h"

namespace mapfiletest {
namespace {

using namespace layerio;

// ----- a record builder --------------------------------------------------------

std::string U16(unsigned v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string F64(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof d);
  return U32(uint32_t(bits)) + U32(uint32_t(bits >> 32));
}
std::string Rec(unsigned type, const std::string& data) {
  return U16(type) + U16(unsigned(data.size())) + data;
}
// A BIFF8 text: character count, flags (0 8-bit), characters.
std::string Text8(const std::string& s) { return U16(unsigned(s.size())) + char(0) + s; }
std::string Cell(unsigned row, unsigned col, unsigned xf) { return U16(row) + U16(col) + U16(xf); }
uint32_t RkInt(int v) { return (uint32_t(v) << 2) | 2; }

std::string Bof8(unsigned type) {
  return Rec(0x809, U16(0x600) + U16(type) + std::string(12, '\0'));
}
std::string Name8(const std::string& name, const std::string& formula) {
  return Rec(0x18, U16(0) + char(0) + char(name.size()) + U16(unsigned(formula.size())) + U16(0) +
                       U16(0) + std::string(4, '\0') + char(0) + name + formula);
}
std::string Area3d(unsigned r1, unsigned r2, unsigned c1, unsigned c2) {
  return char(0x3B) + U16(0) + U16(r1) + U16(r2) + U16(c1) + U16(c2);
}

struct WorkbookOptions {
  bool date1904 = false;
  bool password = false;
  int moreFormats = 0;  // unused cell formats, to make the stream longer
};

// A bare BIFF8 workbook with one sheet "Data" of four rows:
//   row 1: "alpha" (shared), "é中" (shared, UTF-16), "When", "Code"
//   row 2: RK 6, RK 7, 0 in a date format, 2134 in "00000"
//   row 3: several RKs 100 and -5, a formula with the text "text", a shared
//          string split across a continuation record
//   row 4: TRUE, an error value, a formula whose result is TRUE, 12345 in
//          "00000"
// and the names Block (A2:B4), Wrapped (the same in parentheses), Alias
// (Block through its name) and Sum (two areas added: no range).
std::string Workbook(const WorkbookOptions& o = {}) {
  std::string g = Bof8(5);
  if (o.password) g += Rec(0x2F, U16(0x1234));
  g += Rec(0x22, U16(o.date1904 ? 1 : 0));
  g += Rec(0x41E, U16(164) + Text8("00000"));
  g += Rec(0x41E, U16(165) + Text8("yyyy-mm-dd"));
  for (unsigned f : {0u, 164u, 165u}) g += Rec(0xE0, U16(0) + U16(f) + std::string(16, '\0'));
  for (int i = 0; i < o.moreFormats; ++i) g += Rec(0xE0, U16(0) + U16(0) + std::string(16, '\0'));
  g += Rec(0x17, U16(1) + U16(0) + U16(0) + U16(0));
  g += Name8("Block", Area3d(1, 3, 0, 1));
  g += Name8("Wrapped", Area3d(1, 3, 0, 1) + char(0x15));
  g += Name8("Alias", char(0x23) + U16(1) + U16(0));
  g += Name8("Sum", Area3d(1, 3, 0, 1) + Area3d(1, 3, 2, 3) + char(0x03));
  // Three strings; the third begins 8-bit in the table and goes on in
  // UTF-16 in the continuation record.
  const std::string split = "splitstring-wide";
  std::string sst = U32(3) + U32(3) + Text8("alpha") + U16(2) + char(1) + U16(0xE9) + U16(0x4E2D) +
                    U16(unsigned(split.size())) + char(0) + split.substr(0, 7);
  std::string more(1, char(1));
  for (char c : split.substr(7)) more += U16(uint8_t(c));
  g += Rec(0xFC, sst) + Rec(0x3C, more);
  const size_t boundAt = g.size();
  g += Rec(0x85, U32(0) + char(0) + char(0) + char(4) + char(0) + "Data");
  g += Rec(0x0A, "");
  const uint32_t sheetAt = uint32_t(g.size());
  g.replace(boundAt + 4, 4, U32(sheetAt));

  std::string s = Bof8(16);
  s += Rec(0x200, U32(0) + U32(4) + U16(0) + U16(4) + U16(0));
  s += Rec(0xFD, Cell(0, 0, 0) + U32(0)) + Rec(0xFD, Cell(0, 1, 0) + U32(1));
  s += Rec(0x204, Cell(0, 2, 0) + Text8("When")) + Rec(0x204, Cell(0, 3, 0) + Text8("Code"));
  s += Rec(0x27E, Cell(1, 0, 0) + U32(6)) + Rec(0x27E, Cell(1, 1, 0) + U32(7));
  s += Rec(0x203, Cell(1, 2, 2) + F64(0)) + Rec(0x203, Cell(1, 3, 1) + F64(2134));
  s += Rec(0xBD, U16(2) + U16(0) + U16(0) + U32(RkInt(100)) + U16(0) + U32(RkInt(-5)) + U16(1));
  const std::string textResult = std::string(6, '\0') + "\xFF\xFF";
  s += Rec(0x06, Cell(2, 2, 0) + textResult + U16(0) + U32(0) + U16(0));
  s += Rec(0x207, Text8("text"));
  s += Rec(0xFD, Cell(2, 3, 0) + U32(2));
  s +=
      Rec(0x205, Cell(3, 0, 0) + char(1) + char(0)) + Rec(0x205, Cell(3, 1, 0) + char(7) + char(1));
  const std::string boolResult = std::string("\x01\x00\x01\x00\x00\x00\xFF\xFF", 8);
  s += Rec(0x06, Cell(3, 2, 0) + boolResult + U16(0) + U32(0) + U16(0));
  s += Rec(0x203, Cell(3, 3, 1) + F64(12345));
  s += Rec(0x0A, "");
  return g + s;
}

// A version-3 compound document holding `stream` as "Workbook" in regular
// sectors (the stream is at least 4,096 bytes long).
std::string Compound(const std::string& stream) {
  const uint32_t n = uint32_t((stream.size() + 511) / 512);
  const uint32_t fatSector = n, dirSector = n + 1;
  std::string h = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(16, '\0') + U16(0x3E) + U16(3) +
                  U16(0xFFFE) + U16(9) + U16(6) + std::string(6, '\0') + U32(0) + U32(1) +
                  U32(dirSector) + U32(0) + U32(4096) + U32(0xFFFFFFFE) + U32(0) + U32(0xFFFFFFFE) +
                  U32(0) + U32(fatSector);
  for (int i = 1; i < 109; ++i) h += U32(0xFFFFFFFF);
  std::string out = h + stream + std::string(size_t(n) * 512 - stream.size(), '\0');
  for (uint32_t i = 0; i < 128; ++i) {
    uint32_t v = 0xFFFFFFFF;
    if (i < n) v = i + 1 < n ? i + 1 : 0xFFFFFFFE;
    if (i == fatSector) v = 0xFFFFFFFD;
    if (i == dirSector) v = 0xFFFFFFFE;
    out += U32(v);
  }
  auto entry = [](const char* name, char type, uint32_t child, uint32_t start, uint32_t size) {
    std::string e;
    for (const char* p = name; *p; ++p) e += U16(uint8_t(*p));
    e.resize(64, '\0');
    return e + U16(unsigned(2 * (std::strlen(name) + 1))) + type + char(1) + U32(0xFFFFFFFF) +
           U32(0xFFFFFFFF) + U32(child) + std::string(36, '\0') + U32(start) + U32(size) + U32(0);
  };
  out += entry("Root Entry", 5, 1, 0xFFFFFFFE, 0) +
         entry("Workbook", 2, 0xFFFFFFFF, 0, uint32_t(stream.size()));
  return out + std::string(256, '\0');
}

// ----- the fixture ---------------------------------------------------------------

class ExcelTest : public FileLayerTest {
 protected:
  void TearDown() override {
    Close();
    FileLayerTest::TearDown();
  }

  void Params(const char* range, bool titles) {
    source_ = NewSource();
    source_.kind = kDataExcel;
    DataSourceDefaults(kDataExcel, source_.params.words);
    ASSERT_TRUE(DataSourceSetRange(&source_, range));  // the source's own copy
    source_.params.SetHalf(28, titles ? 1 : 0);
  }

  // Attaches `path` with a range to the columns and opens it for reading;
  // the error code on failure, else 0.
  int Attach(const std::string& path, const char* range, Columns& columns, bool titles = false) {
    Close();
    ErrorClear();
    Params(range, titles);
    int32_t count = columns.count();
    if (!DataSourceAttach(path.c_str(), 0, &source_, kDataExcel, &count, columns.data()))
      return ErrorLastCode();
    attached_ = true;
    columns_ = &columns;
    if (!DataSourceOpen(&source_, kFileModeRead)) return ErrorLastCode();
    return 0;
  }
  int AttachBytes(const std::string& bytes, const char* range, Columns& columns) {
    return Attach(dir_.Write("book.xls", bytes), range, columns);
  }
  void Close() {
    // The columns free their own payloads: they may be gone by now.
    if (attached_) DataSourceClose(&source_, nullptr);
    // A failed attach has freed the range already: nothing is left here.
    EXPECT_EQ(source_.params.ptr[2], nullptr);
    attached_ = false;
    columns_ = nullptr;
  }
  bool Read(uint32_t row) { return DataSourceReadRow(&source_, columns_->data(), row) != 0; }
  const Value& V(size_t i) { return (*columns_)[i].value; }

  DataSource source_{};
  bool attached_ = false;
  Columns* columns_ = nullptr;
};

std::string Fixture(const char* name) {
  return testsupport::FixturePath(std::string("xls/") + name);
}

bool DateIs(const Value& v, int year, int month, int day) {
  return v.kind == kFieldDate && v.u.date.year == year && v.u.date.month == month &&
         v.u.date.day == day;
}

// ----- SheetJS workbooks --------------------------------------------------------

// python3-xlrd on the fixtures: Name, Amount, When, Flag over rows 2-4;
// the BIFF5/8 books carry "yyyy-mm-dd" on When (xlrd: date cells), the
// BIFF2-4 ones write no formats (plain numbers 61, 37256, 36162).
TEST_F(ExcelTest, ReadsEveryBiffVersionAsXlrdDoes) {
  struct Case {
    const char* file;
    bool dates;
    int16_t version;
  };
  const Case cases[] = {{"biff2.xls", false, 300},
                        {"biff3.xls", false, 300},
                        {"biff4.xls", false, 300},
                        {"biff5.xls", true, 300},
                        {"biff8.xls", true, 450}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Columns cols({{"Name", kFieldChar, 10, 0},
                  {"Amount", kFieldFloat, 10, 0},
                  {"When", c.dates ? uint8_t(kFieldDate) : uint8_t(kFieldFloat), 10, 0},
                  {"Flag", kFieldLogical, 1, 0}});
    ASSERT_EQ(Attach(Fixture(c.file), "A2:D4", cols), 0);
    EXPECT_EQ(source_.rowCount, 3u);
    const char* names[] = {"alpha", "beta", "gamma"};
    const double amounts[] = {1, 2.5, -7};
    const double serials[] = {61, 37256, 36162};
    const int dates[][3] = {{1900, 3, 1}, {2001, 12, 31}, {1999, 1, 2}};
    const bool flags[] = {true, false, true};
    // Backwards, then forwards: rows are found in any order.
    for (int row : {3, 1, 2}) {
      SCOPED_TRACE(row);
      ASSERT_TRUE(Read(uint32_t(row)));
      const int i = row - 1;
      EXPECT_EQ(cols.Text(0), names[i]);
      EXPECT_DOUBLE_EQ(V(1).u.d, amounts[i]);
      if (c.dates)
        EXPECT_TRUE(DateIs(V(2), dates[i][0], dates[i][1], dates[i][2]));
      else
        EXPECT_DOUBLE_EQ(V(2).u.d, serials[i]);
      EXPECT_EQ(V(3).u.b != 0, flags[i]);
    }
    EXPECT_FALSE(Read(4));
    EXPECT_FALSE(Read(0));

    // Described with titles from row 1.
    Close();
    TableObject table{};
    Params("A2:D4", true);
    table.source = source_;
    source_.params.ptr[2] = nullptr;  // the table's source owns the range now
    table.source.kind = kDataExcel;
    ASSERT_TRUE(DataSourceDescribe(Fixture(c.file).c_str(), &table)) << ErrorLastCode();
    ASSERT_EQ(table.fieldCount, 4u);
    const char* titles[] = {"Name", "Amount", "When", "Flag"};
    // Without formats, SheetJS writes the whole serials as integer cells.
    const uint8_t types[] = {kFieldChar, kFieldFloat,
                             c.dates ? uint8_t(kFieldDate) : uint8_t(kFieldInteger), kFieldLogical};
    for (int i = 0; i < 4; ++i) {
      EXPECT_STREQ(table.fields[i].name, titles[i]);
      EXPECT_EQ(table.fields[i].value.kind, types[i]) << i;
    }
    EXPECT_EQ(table.fields[0].width, 5);
    EXPECT_EQ(table.version, c.version);
    EXPECT_EQ(table.editVersion, c.version);
    MemFree(table.fields);
    DataSourceClose(&table.source, nullptr);
  }
}

TEST_F(ExcelTest, SheetsAreChosenByRangeText) {
  struct Case {
    const char* range;
    int rows;
    double first;
  };
  const Case cases[] = {
      {"Other!A2:B3", 2, 10}, {"'Other'!A3..B3", 1, 30}, {"other!R2C1:R3C2", 2, 10}};
  for (const char* file : {"biff5.xls", "biff8.xls"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(file) + " " + c.range);
      Columns cols({{"x", kFieldFloat, 10, 0}, {"y", kFieldFloat, 10, 0}});
      ASSERT_EQ(Attach(Fixture(file), c.range, cols), 0);
      EXPECT_EQ(source_.rowCount, uint32_t(c.rows));
      ASSERT_TRUE(Read(1));
      EXPECT_EQ(V(0).u.d, c.first);
      EXPECT_EQ(V(1).u.d, c.first + 10);
    }
    // The whole sheet by its name, its first row the titles x and y.
    Columns cols({{"x", kFieldChar, 5, 0}, {"y", kFieldChar, 5, 0}});
    ASSERT_EQ(Attach(Fixture(file), "Entire Worksheet Other", cols), 0);
    EXPECT_EQ(source_.rowCount, 3u);
    ASSERT_TRUE(Read(1));
    EXPECT_EQ(cols.Text(1), "y");
    ASSERT_TRUE(Read(3));
    EXPECT_EQ(cols.Text(0), "30");
  }
  // No range: the first sheet's used range.
  Columns four({{"a", kFieldChar, 10, 0},
                {"b", kFieldChar, 10, 0},
                {"c", kFieldChar, 10, 0},
                {"d", kFieldChar, 10, 0}});
  ASSERT_EQ(Attach(Fixture("biff8.xls"), nullptr, four), 0);
  EXPECT_EQ(source_.rowCount, 4u);
  // With titles, the first used row names the columns and is no row.
  ASSERT_EQ(Attach(Fixture("biff8.xls"), nullptr, four, true), 0);
  EXPECT_EQ(source_.rowCount, 3u);
  ASSERT_TRUE(Read(1));
  EXPECT_EQ(four.Text(0), "alpha");
}

// ----- built record streams -------------------------------------------------------

TEST_F(ExcelTest, NumbersFormatsAndTexts) {
  for (bool date1904 : {false, true}) {
    SCOPED_TRACE(date1904);
    WorkbookOptions o;
    o.date1904 = date1904;
    const std::string book = Workbook(o);
    {
      // RK 6 reads 1 and RK 7 0.01; several RKs in one record.
      Columns cols({{"a", kFieldFloat, 10, 0}, {"b", kFieldFloat, 10, 0}});
      ASSERT_EQ(AttachBytes(book, "A2:B3", cols), 0);
      ASSERT_TRUE(Read(1));
      EXPECT_EQ(V(0).u.d, 1);
      EXPECT_DOUBLE_EQ(V(1).u.d, 0.01);
      ASSERT_TRUE(Read(2));
      EXPECT_EQ(V(0).u.d, 100);
      EXPECT_EQ(V(1).u.d, -5);
    }
    {
      // 0 in a date format: the first day of the date system.
      Columns cols({{"d", kFieldDate, 10, 0}});
      ASSERT_EQ(AttachBytes(book, "C2", cols), 0);
      ASSERT_TRUE(Read(1));
      EXPECT_TRUE(date1904 ? DateIs(V(0), 1904, 1, 1) : DateIs(V(0), 1899, 12, 30));
    }
  }
  const std::string book = Workbook();
  {
    // Five-zero codes: 2134 reads 02134, 12345 stays; the split string.
    Columns cols({{"code", kFieldChar, 20, 0}});
    ASSERT_EQ(AttachBytes(book, "D2:D4", cols), 0);
    const char* want[] = {"02134", "splitstring-wide", "12345"};
    for (uint32_t row = 1; row <= 3; ++row) {
      ASSERT_TRUE(Read(row));
      EXPECT_EQ(cols.Text(0), want[row - 1]);
    }
  }
  {
    // Shared strings, UTF-16 to the library charset ("?" where it has no
    // byte), a formula's text result.
    Columns cols({{"a", kFieldChar, 10, 0}, {"b", kFieldChar, 10, 0}});
    ASSERT_EQ(AttachBytes(book, "A1:B1", cols), 0);
    ASSERT_TRUE(Read(1));
    EXPECT_EQ(cols.Text(0), "alpha");
    EXPECT_EQ(cols.Text(1), "\xE9?");
    Columns one({{"t", kFieldChar, 10, 0}});
    ASSERT_EQ(AttachBytes(book, "C3", one), 0);
    ASSERT_TRUE(Read(1));
    EXPECT_EQ(one.Text(0), "text");
  }
  {
    // Booleans, an error value (false) and a formula's boolean result.
    Columns cols(
        {{"a", kFieldLogical, 1, 0}, {"b", kFieldLogical, 1, 0}, {"c", kFieldLogical, 1, 0}});
    ASSERT_EQ(AttachBytes(book, "A4:C4", cols), 0);
    ASSERT_TRUE(Read(1));
    EXPECT_EQ(V(0).u.b, 1);
    EXPECT_EQ(V(1).u.b, 0);
    EXPECT_EQ(V(2).u.b, 1);
  }
}

// The SheetJS books keep their workbook streams in the mini-stream; a longer
// stream lies in the container's regular sectors.
TEST_F(ExcelTest, ReadsAStreamInRegularSectors) {
  WorkbookOptions o;
  o.moreFormats = 300;
  const std::string stream = Workbook(o);
  ASSERT_GE(stream.size(), 4096u);
  Columns cols({{"a", kFieldFloat, 10, 0}, {"b", kFieldFloat, 10, 0}});
  ASSERT_EQ(AttachBytes(Compound(stream), "Block", cols), 0);
  ASSERT_TRUE(Read(2));
  EXPECT_EQ(V(0).u.d, 100);
  EXPECT_EQ(V(1).u.d, -5);
  // The container cut short (its table and directory gone): damage, never a
  // read past its end.
  std::string cut = Compound(stream);
  cut.resize(cut.size() - 1024);
  EXPECT_NE(AttachBytes(cut, "Block", cols), 0);
  EXPECT_TRUE(Pushed(523));
}

TEST_F(ExcelTest, NamedRanges) {
  const std::string book = Workbook();
  for (const char* name : {"Block", "wrapped", "Alias"}) {
    SCOPED_TRACE(name);
    Columns cols({{"a", kFieldFloat, 10, 0}, {"b", kFieldFloat, 10, 0}});
    ASSERT_EQ(AttachBytes(book, name, cols), 0);
    EXPECT_EQ(source_.rowCount, 3u);
    EXPECT_EQ(source_.params.words[3], 1u);
    EXPECT_EQ(source_.params.words[4], 2u);
    ASSERT_TRUE(Read(2));
    EXPECT_EQ(V(0).u.d, 100);
  }
  Columns cols({{"a", kFieldFloat, 10, 0}, {"b", kFieldFloat, 10, 0}});
  EXPECT_EQ(AttachBytes(book, "Sum", cols), 528) << "a formula that is no range is dropped";
}

TEST_F(ExcelTest, ErrorCodes) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* range;
    int code;
  };
  WorkbookOptions locked;
  locked.password = true;
  const std::string book = Workbook();
  const Case cases[] = {
      {"password", Workbook(locked), "A1", 876},
      {"not a workbook", "hello, world", "A1", 521},
      {"256 columns", book, "A1:IV10", 529},
      {"inverted", book, "C5:A1", 732},
      {"column count", book, "A1:C4", 530},
      {"unknown name", book, "Nowhere", 528},
      {"unknown sheet", book, "Elsewhere!A1:B2", 528},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Columns cols({{"c", kFieldChar, 5, 0}});
    const std::string path = dir_.Write("case.xls", c.bytes);
    // The file layer may have pushed its own reason first.
    EXPECT_NE(Attach(path, c.range, cols), 0);
    EXPECT_TRUE(Pushed(c.code));
  }
  // Empty sheet: the default range is empty.
  std::string empty =
      Bof8(5) + Rec(0x85, U32(0) + char(0) + char(0) + char(1) + char(0) + "E") + Rec(0x0A, "");
  const uint32_t at = uint32_t(empty.size());
  empty.replace(Bof8(5).size() + 4, 4, U32(at));
  empty += Bof8(16) + Rec(0x0A, "");
  Columns cols({{"a", kFieldChar, 5, 0}});
  EXPECT_EQ(AttachBytes(empty, nullptr, cols), 732);
}

// Truncations and damaged bytes spread over a built stream and a compound
// document: errors or values, never a read outside the file.
TEST_F(ExcelTest, DamagedCopies) {
  const std::string book = Workbook();
  const std::string compound = testsupport::ReadAll(Fixture("biff8.xls"));
  struct Plan {
    const std::string* original;
    size_t cutStep, flipStep;
  };
  for (const Plan& plan : {Plan{&book, 7, 4}, Plan{&compound, 97, 29}}) {
    const std::string& original = *plan.original;
    auto Try = [&](const std::string& copy) {
      Columns cols({{"a", kFieldChar, 10, 0}, {"b", kFieldFloat, 10, 0}});
      if (AttachBytes(copy, "A2:B4", cols) == 0) {
        for (uint32_t row = 1; row <= 3; ++row) Read(row);
      }
    };
    for (size_t cut = 0; cut < original.size(); cut += plan.cutStep) Try(original.substr(0, cut));
    for (size_t at = 0; at < original.size(); at += plan.flipStep) {
      std::string copy = original;
      copy[at] = char(copy[at] ^ (at % 2 ? 0xFF : 0x80));
      Try(copy);
    }
  }
}

// ----- registered through the interface ----------------------------------------

class ExcelRegisterTest : public LayerioSessionTest {
 protected:
  std::vector<std::string> RowTexts(PXTableHandle h) {
    std::vector<std::string> rows;
    uint32_t count = 0;
    EXPECT_EQ(PXGetRowCount(h, &count), 1);
    for (uint32_t row = 1; row <= count; ++row) {
      char text[PX_ROW_TEXT_SIZE] = "";
      EXPECT_EQ(PXFetchRow(h, row, text, nullptr), 1) << PXGetLastError();
      rows.push_back(text);
    }
    return rows;
  }
};

// A workbook registers as a read-write table whose rows are the first
// sheet's used range; its changes are refused, and the definition opens it
// again either way.
TEST_F(ExcelRegisterTest, RegisteredWorkbooksReadEveryRowBack) {
  for (const char* file : {"biff2.xls", "biff5.xls", "biff8.xls"}) {
    SCOPED_TRACE(file);
    const std::string copy = dir_.File(file);
    std::filesystem::copy_file(Fixture(file), copy);
    PXTableHandle h = PXRegisterTable(nullptr, copy.c_str(), 4);
    ASSERT_NE(h, 0) << PXGetLastError();
    uint32_t version = 0, kind = 0;
    ASSERT_EQ(PXGetTableVersion(h, &version, &kind), 1);
    EXPECT_EQ(kind, 4u);
    uint32_t fields = 0;
    ASSERT_EQ(PXGetFieldCount(h, &fields), 1);
    EXPECT_EQ(fields, 4u);
    // The title row is a row: every column is text. BIFF2 books carry no
    // date format, so their serials stay numbers.
    const bool dated = std::string(file) != "biff2.xls";
    const std::vector<std::string> rows = RowTexts(h);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "\"Name\"\t\"Amount\"\t\"When\"\t\"Flag\"",
                        std::string("\"alpha\"\t\"1\"\t\"") + (dated ? "19000301" : "61") + "\"\t\"T\"",
                        std::string("\"beta\"\t\"2.5\"\t\"") + (dated ? "20011231" : "37256") +
                            "\"\t\"F\"",
                        std::string("\"gamma\"\t\"-7\"\t\"") + (dated ? "19990102" : "36162") +
                            "\"\t\"T\"",
                    }));
    char text[PX_ROW_TEXT_SIZE] = "\"x\"\t\"1\"\t\"2\"\t\"T\"";
    uint32_t added = 0;
    EXPECT_EQ(PXInsertRow(h, text, nullptr, &added), 0);
    EXPECT_EQ(PXGetLastError(), 881);
    EXPECT_EQ(PXCloseTable(h), 1);

    const std::string def = copy.substr(0, copy.size() - 4) + ".TAB";
    for (uint32_t mode : {PX_OPEN_READ, PX_OPEN_READ_WRITE}) {
      SCOPED_TRACE(mode);
      h = PXOpenTable(def.c_str(), mode);
      ASSERT_NE(h, 0) << PXGetLastError();
      EXPECT_EQ(RowTexts(h), rows);
      EXPECT_EQ(PXCloseTable(h), 1);
    }
  }
}

}  // namespace
}  // namespace mapfiletest
