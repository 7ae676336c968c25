// Pending row buffers (data kind 11) directly and through the dispatcher,
// type clauses of foreign files and the defaults of omitted clause values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/mapfile/tables/dispatch_fixture.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class PendingTest : public FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    source_ = NewSource();
    source_.kind = kDataRowBuffer;
    ASSERT_TRUE(RowBufferInit(&source_));
  }
  void TearDown() override {
    RowBufferFree(&source_);
    FileLayerTest::TearDown();
  }
  DataSource source_;
};

TEST_F(PendingTest, NextRowNumberFollowsTheHighestRow) {
  Columns cols({{"Name", kFieldChar, 10, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(cols.data(), cols.count()));
  cols.SetText(0, "five");
  ASSERT_TRUE(RowBufferInsert(&source_, 5, cols.data(), cols.count()));
  cols.SetText(0, "three");
  ASSERT_TRUE(RowBufferInsert(&source_, 3, cols.data(), cols.count()));
  RowBufferList* list = RowBufferListOf(&source_);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->nextRow, 7u);

  RowBufferRecord* record = nullptr;
  ASSERT_TRUE(RowBufferAt(list, 1, &record));
  EXPECT_EQ(record->row, 5u);
  ASSERT_TRUE(RowBufferAt(list, 2, &record));
  EXPECT_EQ(record->row, 3u);
  EXPECT_FALSE(RowBufferAt(list, 0, &record));
  EXPECT_FALSE(RowBufferAt(list, 3, &record));
  EXPECT_TRUE(RowBufferFind(list, 3, &record));
  EXPECT_FALSE(RowBufferFind(list, 4, &record));

  ASSERT_TRUE(RowBufferRead(&source_, 5, cols.data(), cols.count()));
  EXPECT_EQ(cols.Text(0), "five") << "the slot holds a copy, not the field's buffer";
}

TEST_F(PendingTest, ReadOfAMissingRowLeavesTheFields) {
  Columns cols({{"Name", kFieldChar, 10, 0}, {"Count", kFieldInteger, 0, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(cols.data(), cols.count()));
  cols.SetText(0, "kept");
  cols[1].value.u.i = 9;
  EXPECT_FALSE(RowBufferRead(&source_, 1, cols.data(), cols.count()));
  EXPECT_FALSE(RowBufferUpdate(&source_, 1, cols.data(), cols.count()));
  EXPECT_EQ(cols.Text(0), "kept");
  EXPECT_EQ(cols[1].value.u.i, 9);
}

TEST_F(PendingTest, UpdateConvertsIntoTheSlotsAndReadConvertsBack) {
  // Rows kept as text slots take the text form of numbers and give numbers
  // back to numeric fields.
  Columns text({{"A", kFieldChar, 12, 0}, {"B", kFieldChar, 12, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(text.data(), text.count()));
  text.SetText(0, "first");
  text.SetText(1, "second");
  ASSERT_TRUE(RowBufferInsert(&source_, 1, text.data(), text.count()));

  Columns numbers({{"A", kFieldInteger, 0, 0}, {"B", kFieldFloat, 0, 0}});
  numbers[0].value.u.i = 42;
  numbers[1].value.u.d = 2.5;
  ASSERT_TRUE(RowBufferUpdate(&source_, 1, numbers.data(), numbers.count()));
  ASSERT_TRUE(RowBufferRead(&source_, 1, text.data(), text.count()));
  EXPECT_EQ(text.Text(0), "42");
  EXPECT_EQ(text.Text(1), "2.5");

  numbers[0].value.u.i = 0;
  numbers[1].value.u.d = 0;
  ASSERT_TRUE(RowBufferRead(&source_, 1, numbers.data(), numbers.count()));
  EXPECT_EQ(numbers[0].value.u.i, 42);
  EXPECT_DOUBLE_EQ(numbers[1].value.u.d, 2.5);

  // A text longer than a field's width is cut to the width on read.
  Columns narrow({{"A", kFieldChar, 3, 0}, {"B", kFieldChar, 3, 0}});
  ASSERT_TRUE(ColumnValuesAlloc(narrow.data(), narrow.count()));
  text.SetText(0, "abcdefgh");
  ASSERT_TRUE(RowBufferUpdate(&source_, 1, text.data(), text.count()));
  ASSERT_TRUE(RowBufferRead(&source_, 1, narrow.data(), narrow.count()));
  EXPECT_EQ(narrow.Text(0), "abc");
}

TEST_F(PendingTest, RowBufferSourceThroughTheDispatcher) {
  Columns cols({{"Name", kFieldChar, 10, 0}, {"Count", kFieldInteger, 0, 0}});
  DataSource s = NewSource();
  ASSERT_TRUE(DataSourceCreate("pending", dir_.path().c_str(), -1, 0, &s, kDataRowBuffer,
                               cols.count(), cols.data(), nullptr, 0));
  ASSERT_NE(RowBufferListOf(&s), nullptr);
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  for (uint32_t i = 1; i <= 3; ++i) {
    cols.SetText(0, ("row" + std::to_string(i)).c_str());
    cols[1].value.u.i = int32_t(i * 10);
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&s, cols.data(), &row));
    EXPECT_EQ(row, i);
  }
  EXPECT_EQ(s.rowCount, 3u);
  cols.SetText(0, "changed");
  ASSERT_TRUE(DataSourceUpdate(&s, cols.data(), 2));
  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 1));
  EXPECT_EQ(cols.Text(0), "row1");
  EXPECT_EQ(cols[1].value.u.i, 10);
  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), "changed");
  EXPECT_FALSE(DataSourceReadRow(&s, cols.data(), 4));
  EXPECT_FALSE(DataSourceUpdate(&s, cols.data(), 4));
  EXPECT_EQ(ErrorLastCode(), kErrDataWrite);
  EXPECT_TRUE(DataSourceRelease(&s));
  EXPECT_TRUE(DataSourceClose(&s, cols.data()));
  EXPECT_EQ(RowBufferListOf(&s), nullptr);
}

TEST_F(PendingTest, TypeClauses) {
  const std::string charset = std::string("\"") + CharsetName(CharsetSystem()) + "\"";
  TypeClauseOptions csv{};
  csv.charset = CharsetSystem();
  csv.delimiter = ';';
  csv.titles = 1;
  TypeClauseOptions sheet{};
  sheet.titles = 1;
  sheet.range = "A1:C9";
  TypeClauseOptions access{};
  access.database = "C:\\data\\roads.mdb";
  access.table = "Roads";
  access.accessFormat = 4;
  access.password = "se\"cret";
  TypeClauseOptions access5 = access;
  access5.accessFormat = 5;
  access5.password = nullptr;
  TypeClauseOptions plain{};
  plain.charset = CharsetSystem();

  struct Case {
    int fileKind;
    const TypeClauseOptions* options;
    std::string text;
  };
  const Case cases[] = {
      {kFileKindCsv, &csv, " TYPE ASCII Delimiter 59 Titles Charset " + charset},
      {kFileKindText, nullptr, " TYPE ASCII"},
      {kFileKindNative, &plain, " TYPE NATIVE Charset " + charset},
      {kFileKindTable, nullptr, " TYPE NATIVE"},
      {kFileKindBare, &plain, " TYPE NATIVE Charset " + charset + " Version 100"},
      {kFileKindDbase, &plain, " TYPE DBF Charset " + charset},
      {kFileKindShape, &plain, " TYPE SHAPEFILE Charset " + charset},
      {kFileKindLotus, &sheet, " TYPE WKS Titles Range \"A1:C9\""},
      {kFileKindExcel, &plain, " TYPE XLS"},
      {kFileKindAccess, &access,
       " Type ACCESS Database \"C:\\data\\roads.mdb\" Version 3.0 Table \"Roads\" Password "
       "\"se\"\"cret\""},
      {kFileKindAccess, &access5,
       " Type ACCESS Database \"C:\\data\\roads.mdb\" Version 4.0 Table \"Roads\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileKind);
    char text[256] = "Definition Table";
    ASSERT_EQ(TypeClauseWrite(text, sizeof text, c.fileKind, c.options), 1);
    EXPECT_EQ(std::string(text), "Definition Table" + c.text);
  }
  char text[16] = "abc";
  EXPECT_EQ(TypeClauseWrite(text, sizeof text, kFileKindCsv, &csv), 0);
  EXPECT_STREQ(text, "abc") << "a part that does not fit leaves the text";
  EXPECT_EQ(TypeClauseWrite(text, sizeof text, kFileKindRaster, nullptr), 0);
  EXPECT_STREQ(text, "abc");
}

TEST_F(PendingTest, ClauseDefaults) {
  ClauseDefaultSetProcess(3);
  EXPECT_EQ(ClauseDefaultValue(0), 2);
  EXPECT_EQ(ClauseDefaultValue(1), 3);
  EXPECT_EQ(ClauseDefaultValue(2), 14);
  const uint16_t outer[3] = {7, 8, 9};
  const uint16_t inner[3] = {1, 1, 1};
  ClauseDefaultsPush(outer);
  EXPECT_EQ(ClauseDefaultValue(2), 9);
  ClauseDefaultsPush(inner);
  EXPECT_EQ(ClauseDefaultValue(0), 1);
  ClauseDefaultsPop();
  EXPECT_EQ(ClauseDefaultValue(0), 7) << "the outer statement's settings again";
  ClauseDefaultsPop();
  EXPECT_EQ(ClauseDefaultValue(0), 2);
  ClauseDefaultSetProcess(0);
}

}  // namespace
}  // namespace mapfiletest
