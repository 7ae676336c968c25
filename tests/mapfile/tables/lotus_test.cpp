// The Lotus worksheet source (kind 2): describe and read of classic and
// three-dimensional sheets written by an independent writer (SheetJS) and
// record by record (tests/data/wks/make.js); the expected values are the
// ones LibreOffice reads from the same files (the .lo.csv beside them),
// those of dates.wk3 the ones its records were written to hold.
// Ranges and named ranges, titles, date serials, small numbers and 10-byte
// reals, three-dimensional row formats, the range errors, and damaged
// copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/tables/frame.h"
#include "tests/mapfile/tables/dispatch_fixture.h"
#include "support/command.h"
#include "tests/mapfile/tables/session_fixture.h"

namespace layerio {
void SheetColumnName(uint32_t column, char* out);
}

namespace mapfiletest {
namespace {

using namespace layerio;

std::string Fixture(const char* name) { return std::string(GSB_TEST_DATA_DIR "/wks/") + name; }

struct Described {
  std::vector<std::string> names;
  std::vector<int> types;
  std::vector<int> widths;
  std::vector<int> decimals;
  uint32_t rows = 0;
};

using Rows = std::vector<std::vector<std::string>>;

class LotusTest : public FileLayerTest {
 protected:
  // The source's parameters: the range text is owned by the source.
  static void Params(DataSource* s, const char* range, bool titles) {
    DataSourceDefaults(kDataLotus, s->params.words);
    s->params.SetHalf(28, titles ? 1 : 0);
    s->params.ptr[2] = nullptr;
    if (range) {
      char* text = static_cast<char*>(MemAlloc(std::strlen(range) + 1));
      std::strcpy(text, range);
      s->params.ptr[2] = text;
    }
  }

  // Describes the file; the fields are copied out and the source closed.
  static int16_t Describe(const std::string& path, const char* range, bool titles,
                          Described* out, std::vector<FieldDef>* fields = nullptr) {
    TableObject table{};
    table.source.kind = kDataLotus;
    Params(&table.source, range, titles);
    int16_t ok = DataSourceDescribe(path.c_str(), &table);
    for (uint32_t i = 0; ok && i < table.fieldCount; ++i) {
      out->names.push_back(table.fields[i].name);
      out->types.push_back(table.fields[i].value.kind);
      out->widths.push_back(table.fields[i].width);
      out->decimals.push_back(table.fields[i].decimals);
      if (fields) fields->push_back(table.fields[i]);
    }
    out->rows = table.source.rowCount;
    if (ok) DataSourceClose(&table.source, nullptr);
    EXPECT_EQ(table.source.params.ptr[1], nullptr);
    EXPECT_EQ(table.source.params.ptr[2], nullptr);
    MemFree(table.fields);
    return ok;
  }

  static std::string Text(const FieldDef& f) {
    const Value& v = f.value;
    char buffer[64];
    switch (f.value.kind) {
      case kFieldChar: {
        char* p = nullptr;
        ValueData(&v, &p);
        return p ? p : "<null>";
      }
      case kFieldSmallint:
        return std::to_string(v.u.s);
      case kFieldInteger:
        return std::to_string(v.u.i);
      case kFieldDate:
        if (v.u.date.month == 0) return "";
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", v.u.date.year, v.u.date.month,
                      v.u.date.day);
        return buffer;
      default:
        std::snprintf(buffer, sizeof buffer, "%g", v.u.d);
        return buffer;
    }
  }

  // Describes, attaches with the described columns and reads the rows in
  // `order` (1-based; all rows in order when empty).
  static ::testing::AssertionResult ReadAll(const std::string& path, const char* range,
                                            bool titles, Rows* out,
                                            std::vector<uint32_t> order = {}) {
    Described d;
    std::vector<FieldDef> fields;
    if (!Describe(path, range, titles, &d, &fields))
      return ::testing::AssertionFailure() << "describe, error " << ErrorLastCode();
    DataSource s = NewSource();
    Params(&s, range, titles);
    int32_t count = int32_t(fields.size());
    if (!DataSourceAttach(path.c_str(), 0, &s, kDataLotus, &count, fields.data()))
      return ::testing::AssertionFailure() << "attach, error " << ErrorLastCode();
    if (s.rowCount != d.rows) return ::testing::AssertionFailure() << "row count";
    if (!DataSourceOpen(&s, kFileModeRead)) {
      DataSourceClose(&s, fields.data());
      return ::testing::AssertionFailure() << "open, error " << ErrorLastCode();
    }
    if (order.empty()) {
      for (uint32_t r = 1; r <= s.rowCount; ++r) order.push_back(r);
    }
    out->assign(s.rowCount, {});
    bool ok = true;
    for (uint32_t r : order) {
      if (!DataSourceReadRow(&s, fields.data(), r)) {
        ok = false;
        break;
      }
      std::vector<std::string> row;
      for (const FieldDef& f : fields) row.push_back(Text(f));
      (*out)[r - 1] = row;
    }
    EXPECT_FALSE(DataSourceReadRow(&s, fields.data(), s.rowCount + 1));
    EXPECT_TRUE(DataSourceRelease(&s));
    EXPECT_TRUE(DataSourceClose(&s, fields.data()));
    if (!ok) return ::testing::AssertionFailure() << "read, error " << ErrorLastCode();
    return ::testing::AssertionSuccess();
  }

  std::string WriteBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
    return PathOf(name);
  }
};

TEST_F(LotusTest, SheetJsFilesDescribeAndReadAsLibreOfficeReadsThem) {
  // people.wk1.lo.csv and people.wk3.lo.csv: the same four data rows. The
  // classic writer stores whole numbers as integer cells, the
  // three-dimensional one every number as a 10-byte real.
  const Rows expect = {{"alpha", "1", "2.5", "7"},
                       {"beta", "2", "-3.25", "seven"},
                       {"gamma", "300", "1e+10", "8"},
                       {"delta", "-4", "0.125", "x"}};
  struct Case {
    const char* file;
    int qty;
    int mixedWidth;  // the widest cell: an integer (6) or a number (10) over a label of 5
  };
  for (const Case& c :
       {Case{"people.wk1", kFieldSmallint, 6}, Case{"people.wk3", kFieldFloat, 10}}) {
    SCOPED_TRACE(c.file);
    Described d;
    ASSERT_TRUE(Describe(Fixture(c.file), "A2..D5", true, &d)) << ErrorLastCode();
    EXPECT_EQ(d.names, (std::vector<std::string>{"Name", "Qty", "Price", "Mixed"}));
    EXPECT_EQ(d.types, (std::vector<int>{kFieldChar, c.qty, kFieldFloat, kFieldChar}));
    EXPECT_EQ(d.widths[0], 5);
    EXPECT_EQ(d.widths[3], c.mixedWidth);  // a number in one row and a label in another: Char
    EXPECT_EQ(d.rows, 4u);
    Rows rows;
    ASSERT_TRUE(ReadAll(Fixture(c.file), "A2:D5", true, &rows));
    EXPECT_EQ(rows, expect);
    // Any order reads the same rows.
    Rows shuffled;
    ASSERT_TRUE(ReadAll(Fixture(c.file), "A2:D5", true, &shuffled, {4, 1, 3, 2, 2, 4}));
    EXPECT_EQ(shuffled, expect);
  }
}

TEST_F(LotusTest, ActiveRangeAndColumnLetterNames) {
  Described d;
  ASSERT_TRUE(Describe(Fixture("people.wk1"), nullptr, false, &d));
  EXPECT_EQ(d.names, (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(d.rows, 5u);
  EXPECT_EQ(d.types[1], kFieldChar);  // the title row is a row of the range
  // A sub-range B3..C4: 2 columns and 2 rows.
  Rows rows;
  ASSERT_TRUE(ReadAll(Fixture("people.wk1"), "B3..C4", false, &rows));
  EXPECT_EQ(rows, (Rows{{"2", "-3.25"}, {"300", "1e+10"}}));
  char name[8];
  for (auto [column, letters] : {std::pair{0u, "A"}, {25u, "Z"}, {26u, "AA"}, {27u, "AB"},
                                 {701u, "ZZ"}, {702u, "AAA"}}) {
    SheetColumnName(column, name);
    EXPECT_STREQ(name, letters);
  }
}

TEST_F(LotusTest, DatesFormatsFormulasAndNamedRanges) {
  // dates.wk1.lo.csv: 03/01/1900, 02/28/1900, 01/01/2000 for the serials
  // 61, 59.75 and 36526 in a date format; the fixed format with two
  // decimals; a formula whose text result follows it (LibreOffice
  // recalculates it to 2, the sheet's own result is the text); a
  // not-a-number value reads as blank.
  Described d;
  ASSERT_TRUE(Describe(Fixture("dates.wk1"), "A2..D5", true, &d));
  EXPECT_EQ(d.names, (std::vector<std::string>{"When", "Count", "Amount", "Calc"}));
  EXPECT_EQ(d.types, (std::vector<int>{kFieldDate, kFieldSmallint, kFieldDecimal, kFieldChar}));
  EXPECT_EQ(d.widths, (std::vector<int>{10, 6, 14, 11}));  // Amount: its column-width record
  EXPECT_EQ(d.decimals[2], 2);
  Rows rows;
  ASSERT_TRUE(ReadAll(Fixture("dates.wk1"), "A2..D5", true, &rows));
  EXPECT_EQ(rows, (Rows{{"19000301", "10", "1.25", "2"},
                        {"19000228", "-20", "-0.5", "text result"},
                        {"20000101", "30", "100", ""},
                        {"", "0", "7.75", ""}}));

  // The date function of three constants (LibreOffice: 36525, 31 December
  // 1999) reads as that date.
  Described formula;
  ASSERT_TRUE(Describe(Fixture("dates.wk1"), "E2..E2", false, &formula));
  EXPECT_EQ(formula.types, (std::vector<int>{kFieldDate}));
  ASSERT_TRUE(ReadAll(Fixture("dates.wk1"), "E2..E2", false, &rows));
  EXPECT_EQ(rows, (Rows{{"19991231"}}));

  // Named ranges of both classic name records.
  Described named;
  ASSERT_TRUE(Describe(Fixture("dates.wk1"), "AMOUNTS", true, &named));
  EXPECT_EQ(named.names, (std::vector<std::string>{"Amount"}));
  EXPECT_EQ(named.rows, 4u);
  ASSERT_TRUE(ReadAll(Fixture("dates.wk1"), "WHEN", false, &rows));
  EXPECT_EQ(rows, (Rows{{"19000301"}, {"19000228"}, {"20000101"}, {""}}));
}

TEST_F(LotusTest, ThreeDimensionalSmallNumbersRealsSheetsAndNames) {
  // small.wk3.lo.csv: 21, 0.15, -15000 from small-number cells; 1234.5,
  // -1E+300 and an infinity (blank) from 10-byte reals.
  Described d;
  ASSERT_TRUE(Describe(Fixture("small.wk3"), "A2..C4", true, &d));
  EXPECT_EQ(d.names, (std::vector<std::string>{"Label", "Small", "Real"}));
  EXPECT_EQ(d.types, (std::vector<int>{kFieldChar, kFieldFloat, kFieldFloat}));
  Rows rows;
  ASSERT_TRUE(ReadAll(Fixture("small.wk3"), "A2..C4", true, &rows));
  EXPECT_EQ(rows, (Rows{{"one", "21", "1234.5"}, {"two", "0.15", "-1e+300"},
                        {"three", "-15000", "0"}}));
  ASSERT_TRUE(ReadAll(Fixture("small.wk3"), "PART", false, &rows));
  EXPECT_EQ(rows, (Rows{{"21", "1234.5"}, {"0.15", "-1e+300"}, {"-15000", "0"}}));

  // The second sheet of a SheetJS file, by sheet letter and by its
  // whole-sheet name.
  ASSERT_TRUE(ReadAll(Fixture("people.wk3"), "B:A2..B:A4", false, &rows));
  EXPECT_EQ(rows, (Rows{{"11"}, {"22"}, {"33"}}));
  ASSERT_TRUE(ReadAll(Fixture("people.wk3"), "Entire Worksheet B", false, &rows));
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(rows[3][0], "33");
}

TEST_F(LotusTest, ThreeDimensionalRowFormatsGiveDatesDecimalsAndWidths) {
  // dates.wk3 (make.js): A in date formats given by runs, by a copied row
  // and by a row copied before its source was given again; B small
  // integers; C fixed with 2 decimals; D the default format past the runs,
  // fixed in one row; C's width from the sheet's column-width record.
  Described d;
  ASSERT_TRUE(Describe(Fixture("dates.wk3"), "A2..D5", true, &d)) << ErrorLastCode();
  EXPECT_EQ(d.names, (std::vector<std::string>{"When", "Count", "Amount", "Real"}));
  EXPECT_EQ(d.types, (std::vector<int>{kFieldDate, kFieldSmallint, kFieldDecimal, kFieldFloat}));
  EXPECT_EQ(d.widths, (std::vector<int>{10, 6, 14, 10}));
  EXPECT_EQ(d.decimals[2], 2);
  Rows rows;
  ASSERT_TRUE(ReadAll(Fixture("dates.wk3"), "A2..D5", true, &rows));
  EXPECT_EQ(rows, (Rows{{"20000101", "10", "1.25", "1e+10"},
                        {"19000301", "-20", "-0.5", "0.125"},
                        {"19000228", "30", "100", "3"},
                        {"99991231", "40", "7.75", "4"}}));
  // The second sheet has its own formats and widths: its A4 is a number.
  ASSERT_TRUE(Describe(Fixture("dates.wk3"), "B:A4..B:A4", false, &d));
  EXPECT_EQ(d.types.back(), kFieldFloat);
  EXPECT_EQ(d.widths.back(), 30);
  ASSERT_TRUE(ReadAll(Fixture("dates.wk3"), "B:A4..B:A4", false, &rows));
  EXPECT_EQ(rows, (Rows{{"5"}}));
}

// dates.wk3 with records put right after its BOF.
std::string DatesWk3With(const std::string& records) {
  const std::string bytes = testsupport::ReadAll(Fixture("dates.wk3"));
  return bytes.substr(0, 30) + records + bytes.substr(30);
}

std::string Record(unsigned type, const std::string& data) {
  const size_t n = data.size();
  return std::string{char(type), char(type >> 8), char(n & 0xFF), char(n >> 8)} + data;
}

// Row-format records of `runs` runs in all on rows 100 on of a sheet, at
// most 250 to a record.
std::string ManyRuns(size_t runs, char sheet) {
  std::string out;
  for (unsigned row = 100; runs > 0; ++row) {
    const size_t n = std::min<size_t>(runs, 250);
    std::string data{char(row), char(row >> 8), sheet, 0};
    for (size_t k = 0; k < n; ++k) data += std::string{char(0x72), char(0)};
    out += Record(19, data);
    runs -= n;
  }
  return out;
}

TEST_F(LotusTest, RowFormatTableLimits) {
  // 31,999 runs load, also with more on another sheet; one more does not.
  constexpr size_t kFixtureRuns = 9;  // dates.wk3's own on its first sheet
  Rows rows;
  const std::string full = WriteBytes(
      "full.wk3", DatesWk3With(ManyRuns(31999 - kFixtureRuns, 0) + ManyRuns(31999, 1)));
  ASSERT_TRUE(ReadAll(full, "A2..A3", false, &rows));
  EXPECT_EQ(rows, (Rows{{"20000101"}, {"19000301"}}));
  const std::string over = WriteBytes("over.wk3", DatesWk3With(ManyRuns(32000 - kFixtureRuns, 0)));
  ErrorClear();
  Described d;
  EXPECT_FALSE(Describe(over, "A2..A3", false, &d));
  EXPECT_TRUE(Pushed(585));
  EXPECT_TRUE(ReadAll(over, "B:A4..B:A4", false, &rows)) << "another sheet's table is not loaded";
}

TEST_F(LotusTest, RangeAndFileErrors) {
  const std::string noRange = WriteBytes("norange.wk1", std::string("\0\0\2\0\6\4\1\0\0\0", 10));
  const std::string notSheet = WriteBytes("text.wk1", "Name,Qty\nalpha,1\n");
  const std::string oddRuns =
      WriteBytes("odd.wk3", DatesWk3With(Record(19, std::string("\1\0\0\0\x72", 5))));
  const std::string shortCopy =
      WriteBytes("copy.wk3", DatesWk3With(Record(19, std::string("\1\0\1\2\0", 5))));
  const std::string shortHeader =
      WriteBytes("head.wk3", DatesWk3With(Record(19, std::string("\1\0\0", 3))));
  const std::string folder = PathOf("folder.wk1");
  std::filesystem::create_directory(folder);
  struct Case {
    std::string path;
    const char* range;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {Fixture("people.wk1"), "A1:IV1", 529, "A1:IV1"},  // 256 columns
      {Fixture("people.wk1"), "A1..IP1", 529, "A1..IP1"},  // 250 columns
      {Fixture("people.wk1"), "C1..A1", 529, "C1..A1"},
      {Fixture("people.wk1"), "A3..A2", 529, "A3..A2"},
      {noRange, nullptr, 529, "Entire Worksheet"},
      {Fixture("people.wk1"), "NOSUCH", 528, "NOSUCH"},
      {Fixture("people.wk1"), "A0..B2", 528, "A0..B2"},
      {Fixture("people.wk1"), "A:A1..A:B2", 528, "A:A1..A:B2"},  // no sheets in a classic file
      {Fixture("small.wk3"), "A:A1..B:B2", 584, "A:A1..B:B2"},
      {Fixture("small.wk3"), "ACROSS", 584, "ACROSS"},
      {Fixture("old3d.wk3"), nullptr, 876, "old3d.wk3"},
      // Row-format records too short for their fields, on any sheet.
      {oddRuns, nullptr, 585, "odd.wk3"},
      {shortCopy, nullptr, 585, "copy.wk3"},
      {shortHeader, nullptr, 585, "head.wk3"},
      {notSheet, nullptr, 522, "text.wk1"},
      // A folder is no file: the file layer refuses it (EISDIR) before the
      // reader says it cannot open it (523).
      {folder, nullptr, 371, "21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range ? c.range : c.path);
    ErrorClear();
    Described d;
    EXPECT_FALSE(Describe(c.path, c.range, false, &d));
    EXPECT_TRUE(Pushed(c.code)) << ErrorLastCode();
    const ErrorStack* errors = State().errors;
    ASSERT_TRUE(errors && errors->count > 0);
    EXPECT_EQ(errors->records[0].code, c.code);
    const ErrorRecord::Slot& slot = errors->records[0].arg0;
    EXPECT_EQ(std::string(slot.length ? errors->text + slot.offset : ""), c.text);
  }
  Described fits;
  EXPECT_TRUE(Describe(Fixture("people.wk1"), "A1..IO1", false, &fits));
  EXPECT_EQ(fits.names.size(), 249u);
}

TEST_F(LotusTest, AttachChecksTheColumnCountAndInsertIsRefused) {
  Columns three({{"A", kFieldChar, 10, 0}, {"B", kFieldSmallint, 6, 0}, {"C", kFieldFloat, 10, 0}});
  DataSource s = NewSource();
  Params(&s, "A2..D5", false);
  int32_t count = three.count();
  ErrorClear();
  EXPECT_FALSE(DataSourceAttach(Fixture("people.wk1").c_str(), 0, &s, kDataLotus, &count,
                                three.data()));
  EXPECT_TRUE(Pushed(530));
  EXPECT_EQ(s.params.ptr[1], nullptr);
  EXPECT_EQ(s.params.ptr[2], nullptr);

  s = NewSource();
  Params(&s, "A2..C5", false);
  ASSERT_TRUE(DataSourceAttach(Fixture("people.wk1").c_str(), 0, &s, kDataLotus, &count,
                               three.data()));
  EXPECT_EQ(s.params.words[3], 0u);
  EXPECT_EQ(s.params.words[4], 1u);
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeRead));
  ErrorClear();
  uint32_t row = 0;
  EXPECT_FALSE(DataSourceInsert(&s, three.data(), &row));
  EXPECT_TRUE(Pushed(kErrDataWrite));
  EXPECT_FALSE(DataSourceUpdate(&s, three.data(), 1));
  ASSERT_TRUE(DataSourceReadRow(&s, three.data(), 3));
  EXPECT_EQ(three.Text(0), "gamma");
  EXPECT_TRUE(DataSourceClose(&s, three.data()));
}

TEST_F(LotusTest, DamagedCopiesFailWithoutReadingPastTheirRecords) {
  for (const char* name : {"people.wk1", "people.wk3", "dates.wk1", "small.wk3", "dates.wk3"}) {
    SCOPED_TRACE(name);
    const std::string bytes = testsupport::ReadAll(Fixture(name));
    ASSERT_GT(bytes.size(), 30u);
    std::vector<std::string> copies;
    for (size_t n = 0; n < bytes.size(); n += 3) copies.push_back(bytes.substr(0, n));
    // Each record's length made far too long, and one short.
    for (size_t at = 0; at + 4 <= bytes.size();) {
      const size_t length = uint8_t(bytes[at + 2]) | (uint8_t(bytes[at + 3]) << 8);
      std::string longer = bytes;
      longer[at + 2] = char(0xF0);
      longer[at + 3] = char(0xFF);
      copies.push_back(longer);
      if (length > 0) {
        std::string shorter = bytes;
        shorter[at + 2] = char(length - 1);
        shorter[at + 3] = char((length - 1) >> 8);
        copies.push_back(shorter);
      }
      at += 4 + length;
    }
    for (size_t k = 0; k < copies.size(); ++k) {
      const std::string path = WriteBytes("damaged.wk", copies[k]);
      ErrorClear();
      Rows rows;
      // Either the copy reads (a cut after the last cell) or an error is
      // pushed; never a crash or a read outside the file's bytes.
      if (!ReadAll(path, "A1..D6", false, &rows)) {
        EXPECT_GT(ErrorCount(), 0) << k;
      }
      FileTableReleaseAll();
    }
  }
}

class LotusRegisterTest : public LayerioSessionTest {
 protected:
};

TEST_F(LotusRegisterTest, ARegisteredWorksheetOpensAndFetchesRows) {
  const std::string copy = dir_.File("people.wks");
  std::filesystem::copy_file(Fixture("people.wk1"), copy);
  PXTableHandle h = PXRegisterTable(nullptr, copy.c_str(), 2);
  ASSERT_NE(h, 0) << PXGetLastError();
  uint32_t version = 0, kind = 0;
  ASSERT_EQ(PXGetTableVersion(h, &version, &kind), 1);
  EXPECT_EQ(kind, 2u);
  uint32_t fields = 0;
  ASSERT_EQ(PXGetFieldCount(h, &fields), 1);
  EXPECT_EQ(fields, 4u);
  char row[PX_ROW_TEXT_SIZE];
  ASSERT_EQ(PXFetchRow(h, 3, row, nullptr), 1) << PXGetLastError();
  EXPECT_NE(std::string(row).find("\"beta\""), std::string::npos) << row;
  EXPECT_NE(std::string(row).find("-3.25"), std::string::npos) << row;
  ASSERT_EQ(PXFetchRow(h, 1, row, nullptr), 1);
  EXPECT_NE(std::string(row).find("\"Name\""), std::string::npos) << row;
  uint32_t added = 0;
  EXPECT_EQ(PXInsertRow(h, row, nullptr, &added), 0);
  EXPECT_EQ(PXCloseTable(h), 1);

  // Opened again from its definition.
  h = PXOpenTable(dir_.File("people.TAB").c_str(), PX_OPEN_READ);
  ASSERT_NE(h, 0) << PXGetLastError();
  ASSERT_EQ(PXFetchRow(h, 5, row, nullptr), 1) << PXGetLastError();
  EXPECT_NE(std::string(row).find("\"delta\""), std::string::npos) << row;
  EXPECT_EQ(PXCloseTable(h), 1);
}

}  // namespace
}  // namespace mapfiletest
