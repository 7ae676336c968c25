// The format file shared by the fixed-width and delimited text tables.
#include "tables/qtbltext.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qtbldtxt.h"
#include "tables/qtblftxt.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::Lines;
using tablestest::TablesTest;

// Both kinds with their protected format-file steps opened up.
template <class Table>
class Probe : public Table {
 public:
  using Table::Table;
  using Table::ConstructTableFileName;
  using Table::FormatFilePath;
  using Table::ReadFmtFile;
  using Table::WriteFmtFile;
  QBOOL NamesLinePresent() const { return this->m_bNamesLinePresent; }
  // Each field as name:type:width.decimals[:picture].
  std::string Fields() const {
    std::string text;
    const CQmsRecord& f = this->m_Fields;
    for (int i = 0; i < f.GetCount(); i++) {
      if (i > 0) text += " ";
      text += std::string(f.GetFieldName(i)) + ":" + QmsVariantTypeName(f.GetFieldTypeByHandle(i)) + ":" +
              std::to_string(f.GetFieldWidthByHandle(i)) + "." + std::to_string(f.GetFieldDecimalsByHandle(i));
      const char* picture = f.GetDataPictureByHandle(i);
      if (picture != nullptr && picture[0] != 0) text += std::string(":") + picture;
    }
    return text;
  }
};
using DelimProbe = Probe<CQmsDelimTextTable>;
using FixedProbe = Probe<CQmsFixedTextTable>;

class FormatFileTest : public TablesTest {
 protected:
  // Reads a format file written with the given lines through a table of the kind.
  template <class Table>
  long Read(Table& table, const std::string& text, int* result) {
    dir_.Write("rows.fmt", text);
    table.SetTableName("rows.txt");
    return CodeOf([&] { *result = table.ReadFmtFile(); });
  }
};

struct GrammarCase {
  const char* text;
  long code;            // raised
  int result;           // when nothing is raised
  const char* fields;   // as Probe::Fields shows them
};

TEST_F(FormatFileTest, FieldLinesOfBothKinds) {
  const GrammarCase cases[] = {
      {"; comment only\nEOL=LF\nFLN=No\n", 0, 0, ""},
      {"Amount Numeric 11.2\n", 0, 1, "Amount:QMS_VARIANT_DOUBLE:11.2"},
      {"Amount Numeric 12.2\n", 0, 1, "Amount:QMS_VARIANT_DOUBLE:12.2"},
      // Ten digits and more do not fit a 32-bit number.
      {"Amount Numeric 12\n", 0, 1, "Amount:QMS_VARIANT_DOUBLE:12.0"},
      {"Amount N 12.0\n", 0, 1, "Amount:QMS_VARIANT_DOUBLE:12.0"},
      {"Amount N 9\n", 0, 1, "Amount:QMS_VARIANT_LONG:9.0"},
      {"Amount numeric 9.0\n", 0, 1, "Amount:QMS_VARIANT_LONG:9.0"},
      {"Name Character 20\n", 0, 1, "Name:QMS_VARIANT_STRING:20.0"},
      {"Code C 5 ; key\n", 0, 1, "Code:QMS_VARIANT_STRING:5.0"},
      {"Born Date 10 mm/dd/ccyy\n", 0, 1, "Born:QMS_VARIANT_DATE:10.0:mm/dd/ccyy"},
      {"Born\tD\t11\tdd mmm ccyy  \r\n", 0, 1, "Born:QMS_VARIANT_DATE:11.0:dd mmm ccyy"},
      // The picture is the fourth item, not the first text that looks like it.
      {"mm Date 10 mm/dd/ccyy\n", 0, 1, "mm:QMS_VARIANT_DATE:10.0:mm/dd/ccyy"},
      {"Born Date 6 mm/dd/ccyy\n", QMS_SEVERE_DATE_HINT, 0, ""},
      {"Born Date 8\n", QMS_SEVERE_DATE_HINT, 0, ""},
      {"Name Text 20\n", 0, 0, ""},
      {"Name Character\n", 0, 0, ""},
      {"Key=Code C 5\n", 0, 0, ""},
      {"Width C -5\n", 0, 0, ""},
      // A bad line after good ones leaves no fields: the table is refused.
      {"A C 5\nB Text 5\n", 0, 0, ""},
      {"A C 5\n   \n\nB N 4.1\n\x1A", 0, 1, "A:QMS_VARIANT_STRING:5.0 B:QMS_VARIANT_DOUBLE:4.1"},
      {"A C 5\r\nB C 6\r\n", 0, 1, "A:QMS_VARIANT_STRING:5.0 B:QMS_VARIANT_STRING:6.0"},
      {"A C 5\nA C 6\n", QMS_SEVERE_FIELD_EXISTS, 0, ""},
  };
  for (const GrammarCase& c : cases) {
    for (int kind = 0; kind < 2; kind++) {
      DelimProbe delimited;
      FixedProbe fixed;
      int result = -1;
      long code = kind == 0 ? Read(delimited, c.text, &result) : Read(fixed, c.text, &result);
      EXPECT_EQ(code, c.code) << c.text << " kind " << kind;
      if (c.code != 0) continue;
      EXPECT_EQ(result, c.result) << c.text << " kind " << kind;
      EXPECT_EQ(kind == 0 ? delimited.Fields() : fixed.Fields(), c.fields) << c.text << " kind " << kind;
    }
  }
}

struct SwitchCase {
  const char* text;
  int lineEnd;
  int setting;  // the first-line-names setting (delimited default: Yes)
  int present;  // the data file's first line is taken as names
};

TEST_F(FormatFileTest, SwitchesTrimAndIgnoreCase) {
  const SwitchCase cases[] = {
      {"EOL=crlf", 3, 1, 0},  {"EOL=x", 3, 1, 0},      {"EOL=", 3, 1, 0},      {"eol = lf", 2, 1, 0},
      {"EOL=None", 0, 1, 0},  {"EOL=Return", 1, 1, 0}, {"FLN=yes", 3, 1, 1},   {"FLN=Y", 3, 1, 1},
      {"FLN=true", 3, 0, 0},  {" fln = no ", 3, 0, 0},
  };
  for (const SwitchCase& c : cases) {
    DelimProbe table;
    int result = -1;
    ASSERT_EQ(Read(table, std::string(c.text) + "\nA C 1\n", &result), 0) << c.text;
    EXPECT_EQ(result, 1) << c.text;
    EXPECT_EQ(table.GetLineEnd(), c.lineEnd) << c.text;
    EXPECT_EQ(table.GetFirstLineNames(), c.setting) << c.text;
    EXPECT_EQ(table.NamesLinePresent(), c.present) << c.text;
  }
}

TEST_F(FormatFileTest, TypeLinesOfTheFixedKind) {
  struct Case {
    const char* type;
    int result;
    QBOOL fixed;
    bool warned;
  } cases[] = {
      {"TYPE=Fixed", 1, 1, false}, {"TYPE=Flat", 1, 1, false},  {"type = f", 1, 1, false},
      {"TYPE=comma", 0, 0, false}, {"TYPE=;", 0, 0, false},     {"TYPE=t", 0, 0, false},
      {"TYPE=x", 0, 0, true},      {"TYPE=", 0, 0, true},
  };
  for (const auto& c : cases) {
    FixedProbe table;
    int result = -1;
    std::string before = ErrorLog();
    ASSERT_EQ(Read(table, std::string(c.type) + "\nA C 1\n", &result), 0) << c.type;
    EXPECT_EQ(result, c.result) << c.type;
    EXPECT_EQ(table.IsDefinedFixed(), c.fixed) << c.type;
    bool warned = ErrorLog().find("Unrecognized file type in line 1 of fmt file") != std::string::npos;
    EXPECT_EQ(warned, c.warned) << c.type;
  }
}

TEST_F(FormatFileTest, TypeLinesOfTheDelimitedKindNameTheDelimiter) {
  struct Case {
    const char* type;
    long code;
    char delimiter;
  } cases[] = {
      {"TYPE=t", 0, 't'},  {"TYPE=;", 0, ';'},  {"TYPE=/", 0, '/'},  {"TYPE=|", 0, '|'},
      {"TYPE=comma", 0, ','}, {"TYPE=Fixed", QMS_SEVERE_INVALID_ARGUMENT, ','},
  };
  for (const auto& c : cases) {
    DelimProbe table;
    int result = -1;
    EXPECT_EQ(Read(table, std::string(c.type) + "\nA C 1\n", &result), c.code) << c.type;
    EXPECT_EQ(table.GetDelimiter(), c.delimiter) << c.type;
  }
}

TEST_F(FormatFileTest, AMissingFormatFileIsReported) {
  DelimProbe table;
  table.SetTableName("absent.csv");
  EXPECT_EQ(CodeOf([&] { table.ReadFmtFile(); }), QMS_SEVERE_NO_FORMAT_FILE);
  EXPECT_NE(ErrorLog().find("Could not locate format file: absent.fmt"), std::string::npos);
}

TEST_F(FormatFileTest, FileNamesFollowTheTableName) {
  struct Case {
    const char* database;
    const char* table;
    const char* data;
    const char* format;
  } cases[] = {
      {"C:\\data", "roads.txt", "C:\\data/roads.txt", "C:\\data/roads.fmt"},
      {"", "roads", "roads", "roads.fmt"},
      {"/srv/", "roads.data", "/srv/roads.data", "/srv/roads.data.fmt"},
      {"", "dir/Roads.CSV", "dir/Roads.CSV", "dir/Roads.fmt"},
  };
  for (const auto& c : cases) {
    DelimProbe table("", c.table, "");
    table.SetDatabaseName(c.database);
    EXPECT_EQ(table.ConstructTableFileName(".txt"), c.data);
    EXPECT_EQ(table.ConstructTableFileName(".FMT"), c.format);
  }
  DelimProbe named("", "roads.txt", "layout/roads.layout");
  EXPECT_EQ(named.FormatFilePath(), "layout/roads.layout");
  DelimProbe unnamed;
  EXPECT_EQ(CodeOf([&] { unnamed.FormatFilePath(); }), QMS_SEVERE_NO_NAME);
}

TEST_F(FormatFileTest, WrittenFieldLinesAreLaidOutInColumns) {
  CQmsRecord fields;
  fields.Add("ID", QMS_VARIANT_LONG, 6);
  fields.Add("NAME", 30);
  fields.Add("BORN", QMS_VARIANT_DATE, "ccyymmdd", 8);
  FixedProbe table("", "people.txt", "");
  table.DefineFields(fields);
  ASSERT_EQ(table.WriteFmtFile(), 1);
  std::vector<std::string> lines = Lines(testsupport::ReadAll(dir_.File("people.fmt")));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "; Brevant ASCII format template");
  EXPECT_EQ(lines[1], "; people.txt");
  EXPECT_EQ(lines[3], "TYPE=Fixed");
  EXPECT_EQ(lines[4], "EOL=CRLF");
  EXPECT_EQ(lines[5], "FLN=No");
  EXPECT_EQ(lines[7], "ID     Numeric     6");
  EXPECT_EQ(lines[8], "NAME   Character   30");
  EXPECT_EQ(lines[9], "BORN   Date        8         ccyymmdd");
}

TEST_F(FormatFileTest, AWrittenFileReadsBackToTheSameLayout) {
  CQmsRecord fields;
  fields.Add("Full Name", 20);
  fields.Add("Flag", QMS_VARIANT_BOOLEAN, 1);
  fields.Add("Count", QMS_VARIANT_INT, 5);
  fields.Add("Big", QMS_VARIANT_LONG, 12);
  fields.Add("Ratio", QMS_VARIANT_FLOAT, 8, 3);
  fields.Add("Seen", QMS_VARIANT_DATE, "dd/mm/ccyy", 10);
  for (int kind = 0; kind < 2; kind++) {
    DelimProbe delimited("", "round.csv", "");
    FixedProbe fixed("", "round.txt", "");
    CQmsTextTable& writer = kind == 0 ? static_cast<CQmsTextTable&>(delimited) : fixed;
    writer.DefineFields(fields);
    writer.SetLineEnd(2);
    writer.SetFirstLineNames(1);
    if (kind == 0) delimited.SetDelimiter("tab");
    ASSERT_EQ(kind == 0 ? delimited.WriteFmtFile() : fixed.WriteFmtFile(), 1);
    DelimProbe delimitedReader("", "round.csv", "");
    FixedProbe fixedReader("", "round.txt", "");
    int result = kind == 0 ? delimitedReader.ReadFmtFile() : fixedReader.ReadFmtFile();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(kind == 0 ? delimitedReader.Fields() : fixedReader.Fields(),
              "Full_Name:QMS_VARIANT_STRING:20.0 Flag:QMS_VARIANT_STRING:1.0 Count:QMS_VARIANT_LONG:5.0 "
              "Big:QMS_VARIANT_DOUBLE:12.0 Ratio:QMS_VARIANT_DOUBLE:8.3 Seen:QMS_VARIANT_DATE:10.0:dd/mm/ccyy");
    CQmsTextTable& reader = kind == 0 ? static_cast<CQmsTextTable&>(delimitedReader) : fixedReader;
    EXPECT_EQ(reader.GetLineEnd(), 2);
    EXPECT_EQ(reader.GetFirstLineNames(), 1);
  }
  EXPECT_NE(testsupport::ReadAll(dir_.File("round.fmt")).find("TYPE=Fixed"), std::string::npos);
  // Overwritten by the fixed layout, whose TYPE names no delimiter.
  DelimProbe tabs("", "round.csv", "");
  EXPECT_EQ(CodeOf([&] { tabs.ReadFmtFile(); }), QMS_SEVERE_INVALID_ARGUMENT);
}

TEST_F(FormatFileTest, AFieldOfNoTextTypeStopsTheWriting) {
  CQmsRecord fields;
  fields.Add("A", 3);
  fields.Add("P", QMS_VARIANT_VOIDSTAR, 4);
  fields.Add("B", 3);
  DelimProbe table("", "bad.csv", "");
  table.DefineFields(fields);
  EXPECT_EQ(table.WriteFmtFile(), 0);
  std::string text = testsupport::ReadAll(dir_.File("bad.fmt"));
  EXPECT_NE(text.find("A   Character"), std::string::npos);
  EXPECT_EQ(text.find("\nB "), std::string::npos);
  EXPECT_NE(ErrorLog().find("Unknown field type: 10"), std::string::npos);
}

}  // namespace
