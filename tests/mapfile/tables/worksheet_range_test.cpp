// A worksheet table's Range, from its definition to the Lotus and Excel
// sources: a definition beside a copy of a fixture (tests/data/wks,
// tests/data/xls) is opened and read through the public entry points. The
// range selects the rows and columns, a name the sheet does not have is the
// source's error, and the range survives the definition written again and
// the table renamed. Under the sanitizer build the opens that fail and the
// ones that succeed show that the range text is freed once.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/session_fixture.h"

namespace mapfiletest {
namespace {

using namespace layerio;

std::string Fixture(const std::string& name) { return std::string(GSB_TEST_DATA_DIR "/") + name; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ----- a workbook with a defined name ------------------------------------------

// SheetJS writes no defined names into BIFF files: this bare BIFF8 record
// stream has one sheet "Data" of three rows of numbers (row n: 10n, 10n + 1,
// 10n + 2) and the name Middle over B2:C3.
std::string U16(unsigned v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Rec(unsigned type, const std::string& data) {
  return U16(type) + U16(unsigned(data.size())) + data;
}
std::string NamedWorkbook() {
  auto bof = [](unsigned type) { return Rec(0x809, U16(0x600) + U16(type) + std::string(12, 0)); };
  const std::string name = "Middle";
  const std::string area = char(0x3B) + U16(0) + U16(1) + U16(2) + U16(1) + U16(2);
  std::string g = bof(5);
  g += Rec(0xE0, std::string(20, '\0'));
  g += Rec(0x17, U16(1) + U16(0) + U16(0) + U16(0));
  g += Rec(0x18, U16(0) + char(0) + char(name.size()) + U16(unsigned(area.size())) + U16(0) +
                     U16(0) + std::string(4, '\0') + char(0) + name + area);
  const size_t boundAt = g.size();
  g += Rec(0x85, U32(0) + char(0) + char(0) + char(4) + char(0) + "Data");
  g += Rec(0x0A, "");
  g.replace(boundAt + 4, 4, U32(uint32_t(g.size())));
  std::string s = bof(16);
  s += Rec(0x200, U32(0) + U32(3) + U16(0) + U16(3) + U16(0));
  for (unsigned r = 0; r < 3; ++r) {
    for (unsigned c = 0; c < 3; ++c) {
      double d = 10.0 * (r + 1) + c;
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof d);
      s += Rec(0x203, U16(r) + U16(c) + U16(0) + U32(uint32_t(bits)) + U32(uint32_t(bits >> 32)));
    }
  }
  s += Rec(0x0A, "");
  return g + s;
}

// ----- the tables -----------------------------------------------------------------

class WorksheetRangeTest : public LayerioSessionTest {
 protected:

  // t.TAB over a copy of `fixture` named t.<extension>, with `type` (the
  // Type clause) and `fields` (the Fields clause's lines).
  // An empty `fixture` is the workbook with a defined name.
  std::string Define(const std::string& fixture, const char* extension, const std::string& type,
                     const std::vector<std::string>& fields) {
    const std::string data = dir_.File(std::string("t.") + extension);
    std::filesystem::remove(data);
    if (fixture.empty()) {
      std::ofstream(data, std::ios::binary) << NamedWorkbook();
    } else {
      std::filesystem::copy_file(Fixture(fixture), data);
    }
    std::string text = "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n";
    text += "  File \"t." + std::string(extension) + "\"\n  " + type + "\n";
    text += "  Fields " + std::to_string(fields.size()) + "\n";
    for (const std::string& f : fields) text += "    " + f + " ;\n";
    const std::string def = dir_.File("t.TAB");
    std::ofstream(def, std::ios::binary) << text;
    return def;
  }

  // Every row's text, in order; empty when a fetch fails.
  static std::vector<std::string> Rows(PXTableHandle h) {
    std::vector<std::string> rows;
    char row[PX_ROW_TEXT_SIZE];
    for (uint32_t i = 1; PXFetchRow(h, i, row, nullptr) == 1; ++i) rows.push_back(row);
    return rows;
  }
  static uint32_t FieldCount(PXTableHandle h) {
    uint32_t n = 0;
    EXPECT_EQ(PXGetFieldCount(h, &n), 1);
    return n;
  }

};

struct RangeCase {
  const char* name;
  const char* fixture;
  const char* extension;
  const char* type;
  std::vector<std::string> fields;
  // Each row's values as the row text shows them, in order.
  std::vector<std::vector<std::string>> rows;
};

const RangeCase kRangeCases[] = {
    {"Lotus cells", "wks/people.wk1", "wks", "Type WKS Range \"B3..C4\"",
     {"Qty Float", "Price Float"},
     {{"2", "-3.25"}, {"300", "10000000000"}}},
    {"Lotus name", "wks/dates.wk1", "wks", "Type WKS Range \"AMOUNTS\"",
     {"Amount Float"},
     {{"1.25"}, {"-0.5"}, {"100"}, {"7.75"}}},
    {"Lotus second sheet", "wks/people.wk3", "wks", "Type WKS Range \"B:A2..B:A4\"",
     {"N Float"},
     {{"11"}, {"22"}, {"33"}}},
    {"Excel cells", "xls/biff8.xls", "xls", "Type XLS Range \"A3:B4\"",
     {"Name Char (10)", "Amount Float"},
     {{"\"beta\"", "2.5"}, {"\"gamma\"", "-7"}}},
    {"Excel name", "", "xls", "Type XLS Range \"Middle\"",
     {"X Float", "Y Float"},
     {{"21", "22"}, {"31", "32"}}},
    {"Excel cells of another sheet", "xls/biff5.xls", "xls",
     "Type XLS Titles Range \"Other!A2..B3\"",
     {"X Float", "Y Float"},
     {{"10", "20"}, {"30", "40"}}},
};

// The row text holds the values in column order.
void ExpectRow(const std::string& text, const std::vector<std::string>& values) {
  size_t at = 0;
  for (const std::string& v : values) {
    const size_t found = text.find(v, at);
    ASSERT_NE(found, std::string::npos) << v << " in " << text;
    at = found + v.size();
  }
}

TEST_F(WorksheetRangeTest, TheRangeSelectsRowsAndColumns) {
  for (const RangeCase& c : kRangeCases) {
    SCOPED_TRACE(c.name);
    const std::string def = Define(c.fixture, c.extension, c.type, c.fields);
    PXTableHandle h = PXOpenTable(def.c_str(), PX_OPEN_READ);
    ASSERT_NE(h, 0) << PXGetLastError();
    EXPECT_EQ(FieldCount(h), c.fields.size());
    const std::vector<std::string> rows = Rows(h);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (size_t i = 0; i < rows.size(); ++i) ExpectRow(rows[i], c.rows[i]);
    EXPECT_EQ(PXCloseTable(h), 1);
  }
}

// A range the sheet does not have fails the open with the source's error,
// never reading the active range instead; so does a range of other columns
// than the definition's. Each failure leaves nothing to free twice or leak.
TEST_F(WorksheetRangeTest, AnUnknownRangeFailsWithTheSourcesError) {
  struct Case {
    const char* name;
    const char* fixture;
    const char* extension;
    const char* type;
    int fields;
    int code;
  };
  const Case cases[] = {
      {"Lotus unknown name", "wks/people.wk1", "wks", "Type WKS Range \"NOSUCH\"", 4, 528},
      {"Excel unknown name", "xls/biff8.xls", "xls", "Type XLS Range \"NOSUCH\"", 4, 528},
      {"Excel unknown sheet", "xls/biff8.xls", "xls", "Type XLS Range \"Gone!A1:B2\"", 2, 528},
      {"Lotus columns differ", "wks/people.wk1", "wks", "Type WKS Range \"B3..C4\"", 3, 530},
      {"Excel columns differ", "", "xls", "Type XLS Range \"Middle\"", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> fields;
    for (int i = 0; i < c.fields; ++i) fields.push_back("F" + std::to_string(i) + " Float");
    const std::string def = Define(c.fixture, c.extension, c.type, fields);
    ErrorClear();
    EXPECT_EQ(PXOpenTable(def.c_str(), PX_OPEN_READ), 0);
    if (c.code) {
      EXPECT_TRUE(ErrorHasCode(uint16_t(c.code))) << PXGetLastError();
    } else {
      EXPECT_GT(ErrorCount(), 0);
    }
  }
  // A definition that fails after its Type clause frees the range it read.
  const std::string def = Define("", "xls", "Type XLS Range \"Middle\"", {"X Blob"});
  EXPECT_EQ(PXOpenTable(def.c_str(), PX_OPEN_READ), 0);
}

// The definition written again and the table renamed keep
// the range: the table opened afterwards still reads only its range.
TEST_F(WorksheetRangeTest, TheRangeSurvivesTheDefinitionWrittenAgainAndARename) {
  for (const RangeCase& c : {kRangeCases[0], kRangeCases[4]}) {
    SCOPED_TRACE(c.name);
    const std::string def = Define(c.fixture, c.extension, c.type, c.fields);
    // Written again from the open table (an Excel table opens for reading
    // only, so not through the metadata entry points).
    PXTableHandle h = PXOpenTable(def.c_str(), PX_OPEN_READ);
    ASSERT_NE(h, 0) << PXGetLastError();
    ASSERT_EQ(TableDefWrite(SlotFind(h)->table), 1) << ErrorLastCode();
    const std::string written = Slurp(def);
    const std::string type(c.type);
    const std::string range = type.substr(type.find("Range"));
    EXPECT_NE(written.find(range), std::string::npos) << written;
    EXPECT_EQ(PXCloseTable(h), 1);

    // Opened again; a Lotus table (which opens for writing) renamed too,
    // which closes it and attaches its source again.
    const bool rename = std::string(c.extension) == "wks";
    h = PXOpenTable(def.c_str(), rename ? PX_OPEN_READ_WRITE : PX_OPEN_READ);
    ASSERT_NE(h, 0) << PXGetLastError();
    const std::string renamed = dir_.File("renamed.TAB");
    if (rename) {
      ASSERT_EQ(PXRenameTable(h, renamed.c_str()), 1) << PXGetLastError();
    }
    EXPECT_EQ(FieldCount(h), c.fields.size());
    std::vector<std::string> rows = Rows(h);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (size_t i = 0; i < rows.size(); ++i) ExpectRow(rows[i], c.rows[i]);
    EXPECT_EQ(PXCloseTable(h), 1);
    if (rename) {
      EXPECT_NE(Slurp(renamed).find(range), std::string::npos);
    }
  }
}

// The keyword form of old definitions carries the range as well.
TEST_F(WorksheetRangeTest, AnOldDefinitionsRangeIsRead) {
  const std::string def = Define("wks/people.wk1", "wks", "", {});
  std::ofstream(def, std::ios::binary)
      << "!table\n!version 100\nFORMAT: WKS Range \"B3..C4\"\nFIELDS: 2\n    Qty Float\n"
         "    Price Float\n";
  PXTableHandle h = PXOpenTable(def.c_str(), PX_OPEN_READ);
  ASSERT_NE(h, 0) << PXGetLastError();
  const std::vector<std::string> rows = Rows(h);
  ASSERT_EQ(rows.size(), 2u);
  ExpectRow(rows[1], {"300", "10000000000"});
  EXPECT_EQ(PXCloseTable(h), 1);
}

}  // namespace
}  // namespace mapfiletest
