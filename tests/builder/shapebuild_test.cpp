// The interchange-text builder: its header's columns, rows that follow the
// objects the engine stored, and headers and rows it refuses.
#include "builder/shapebuild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/boundary/gsbfile_reader.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::FixturePath;
using testsupport::ReadAll;
using testsupport::TempDir;

bool Build(const std::string& input, const std::string& output, std::string* out) {
  return buildertest::BuildInProcess(input, output, "Name", out);
}

TEST(PxfBuilderTest, HeaderColumns) {
  const struct {
    const char* name;
    const char* text;
    bool ok;
    std::vector<std::string> columns;
  } cases[] = {
      {"columns", "Version 3\nDelimiter \",\"\ncolumns 2\n  Name Char(30)\n\tPop Integer\nDATA\n",
       true, {"Name", "Pop"}},
      {"keywords in any case, others passed over", "v\nCoordSys Earth\nCOLUMNS 1\nA Char(3)\ndata\n",
       true, {"A"}},
      {"end of file in the columns", "v\nColumns 3\nA Char(1)\n", true, {"A"}},
      {"end of file after the first line", "Version 300\n", true, {}},
      {"empty file, which the line reader refuses", "", false, {}},
      {"blank column line", "v\nColumns 2\nA Char(1)\n   \nDATA\n", false, {"A"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    QError error;
    std::vector<std::string> columns;
    EXPECT_EQ(ReadPxfColumns(dir.Write("h.pxf", c.text), &columns, error), c.ok);
    EXPECT_EQ(columns, c.columns);
  }
  QError error;
  std::vector<std::string> columns;
  EXPECT_FALSE(ReadPxfColumns("/no/such/file.pxf", &columns, error));
}

// The sample holds seven objects, a text and a rectangle among them, which
// boundary files do not hold: their rows get no record, and QRECID stays
// the record number of each stored object.
TEST(PxfBuilderTest, RowsFollowTheStoredObjects) {
  TempDir dir;
  const std::string input = dir.Write("SAMPLE.PXF", ReadAll(FixturePath("sample.pxf")));
  dir.Write("SAMPLE.PXD", ReadAll(FixturePath("sample.pxd")));
  std::string out;
  ASSERT_TRUE(Build(input, dir.File("out.gsb"), &out)) << out;

  std::vector<gsbtest::Record> records = gsbtest::File(dir.File("out.gsb")).Records();
  ASSERT_EQ(records.size(), 5u);
  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("out.gsa").c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(DlFileNumFields(file), 4);
  const std::vector<std::vector<std::string>> rows = {
      {"1", "Raleigh", "State capital"},
      {"2", "Fall line road", ""},
      {"4", "Haw River", "river, with a comma"},
      {"5", "Square with \"hole\"", "sq"},
      {"7", "", ""},
  };
  for (const gsbtest::Record& r : records) {
    SCOPED_TRACE(r.recordNumber);
    ASSERT_GE(r.recordNumber, 1u);
    ASSERT_LE(r.recordNumber, rows.size());
    const auto& row = rows[r.recordNumber - 1];
    // (The engine keeps a doubled quote in a name as two.)
    if (row[1].find('"') == std::string::npos) {
      EXPECT_EQ(r.name, row[1]);
    }
    ASSERT_EQ(DlFileSearchInt(file, int32_t(r.recordNumber)), 1);
    const char* fields[] = {"Code", "Name", "Label"};
    for (size_t f = 0; f < 3; ++f) {
      char text[64];
      ASSERT_EQ(DlFieldGetString(DlFieldGet(file, fields[f]), nullptr, text, 63), 1);
      EXPECT_EQ(std::string(text), row[f]) << fields[f];
      EXPECT_EQ(DlFieldGetAttribute(DlFieldGet(file, fields[f]), 2, nullptr, 0), 20);
    }
  }
  EXPECT_EQ(DlFileSearchInt(file, 6), 0);
  DlTerm(context);
}

TEST(PxfBuilderTest, RefusedInputsLeaveNothing) {
  const std::string pxf = "Version 300\nColumns 1\n  Name Char(20)\nData\n\nPoint 1 2\nPoint 3 4\n";
  const struct {
    const char* name;
    std::string pxf, pxd;
    const char* says;
  } cases[] = {
      {"extended character", pxf, "\"one\"\n\"Caf\xE9\"\n",
       "Record 2, field NAME, has extended ASCII characters:\n \"Caf\xE9\"\n"},
      {"blank column line", "Version 300\nColumns 2\n  Name Char(20)\n\nData\nPoint 1 2\n", "a,b\n",
       "Blank line in columns section."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Write("in.pxf", c.pxf);
    dir.Write("in.pxd", c.pxd);
    std::string out;
    EXPECT_FALSE(Build(dir.File("in.pxf"), dir.File("out.gsb"), &out));
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.gsb")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.gsa")));
  }
}

}  // namespace
