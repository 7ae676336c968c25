#include "tables/qtable.h"

#include <string>

#include <gtest/gtest.h>

#include "tables/qtbldtxt.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::TablesTest;

struct PathCase {
  const char* path;
  const char* folder;
  const char* name;
  const char* extension;
};

TEST(GetPathParts, SplitsAtTheLastSeparatorAndTheLastDotAfterIt) {
  const PathCase cases[] = {
      {"C:/data/roads.dbf", "C:/data/", "roads", ".dbf"},
      {"C:\\data\\roads.dbf", "C:/data/", "roads", ".dbf"},  // both separators accepted, '/' kept
      {"roads", "", "roads", ""},
      {"C:\\my.data\\roads", "C:/my.data/", "roads", ""},  // a dot in the folder is no extension
      {"a.b.c", "", "a.b", ".c"},
      {"/data/Roads.DBF", "/data/", "Roads", ".DBF"},  // case kept
      {"dir/.hidden", "dir/", "", ".hidden"},
      {"", "", "", ""},
  };
  for (const PathCase& c : cases) {
    CQmsStringPtr folder, name, extension;
    CQmsTable::GetPathParts(c.path, folder, name, extension);
    EXPECT_STREQ(QmsText(folder), c.folder) << c.path;
    EXPECT_STREQ(QmsText(name), c.name) << c.path;
    EXPECT_STREQ(QmsText(extension), c.extension) << c.path;
  }
}

TEST(GetPathParts, CutsEachPartTo255Characters) {
  std::string path = std::string(300, 'f') + "/" + std::string(300, 'n') + "." + std::string(300, 'e');
  CQmsStringPtr folder, name, extension;
  CQmsTable::GetPathParts(path.c_str(), folder, name, extension);
  EXPECT_EQ(std::string(QmsText(folder)), std::string(255, 'f'));
  EXPECT_EQ(std::string(QmsText(name)), std::string(255, 'n'));
  EXPECT_EQ(std::string(QmsText(extension)), "." + std::string(254, 'e'));
}

class TableBaseTest : public TablesTest {};

TEST_F(TableBaseTest, IndexOperationsOfATextTableReportAndAnswerWithoutThrowing) {
  CQmsDelimTextTable table("rows.csv");
  CQmsTable& base = table;
  EXPECT_EQ(base.GetIndexCount(), -1);
  _QMS_TABLE_INDEXES* info = reinterpret_cast<_QMS_TABLE_INDEXES*>(0x1);
  EXPECT_EQ(base.AllocIndexInfo(&info), -1);
  EXPECT_EQ(info, reinterpret_cast<_QMS_TABLE_INDEXES*>(0x1));  // untouched
  EXPECT_EQ(CodeOf([&] { base.CreateIndex("T", "NAME", 0); }), 0);
  EXPECT_EQ(CodeOf([&] { base.SetWhereClause("x > 1"); }), 0);
  EXPECT_EQ(base.GetAutoOpenIndex(), 0);
  EXPECT_EQ(base.GetBlockSize(), 0);
  EXPECT_EQ(base.MoveNext(), 0);
  std::string errors = Errors();
  EXPECT_NE(errors.find("11000004"), std::string::npos);
  EXPECT_NE(errors.find("GetIndexCount"), std::string::npos);
  EXPECT_NE(errors.find("This function is not implemented"), std::string::npos);
  // The text tables refuse an ordered open at once, without a report.
  size_t before = ErrorLog().size();
  EXPECT_EQ(CodeOf([&] { base.OpenOrdered("NAME"); }), QMS_WARN_UNIMPLEMENTED);
  EXPECT_EQ(ErrorLog().size(), before);
}

TEST_F(TableBaseTest, GetFieldNameAnswersThroughGetFields) {
  CQmsRecord fields;
  fields.Add("FIRST", 5);
  fields.Add("SECOND", 5);
  CQmsDelimTextTable one("one.csv"), two("two.csv");
  one.DefineFields(fields);
  CQmsRecord other;
  other.Add("OTHER", 3);
  two.DefineFields(other);
  // Each answer holds until the next call on any table.
  EXPECT_STREQ(one.GetFieldName(1), "SECOND");
  EXPECT_STREQ(two.GetFieldName(0), "OTHER");
  EXPECT_EQ(CodeOf([&] { one.GetFieldName(7); }), QMS_SEVERE_INVALID_ARGUMENT);
}

TEST(Capabilities, EachKindFillsItsRow) {
  CQmsDelimTextTable delimited;
  _QMS_TABLE_CAPABILITIES c{};
  delimited.FillCapabilities(c);
  EXPECT_STREQ(c.szKind, "Delimited");
  EXPECT_EQ(c.bForwardOnly, 1);
  EXPECT_EQ(c.bRandomAccess, 0);
  EXPECT_EQ(c.bIndexes, 0);
}

}  // namespace
