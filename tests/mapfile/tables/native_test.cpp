// Native data files through the dispatcher: descriptors of the binary
// forms, 1,000 appends, updates, reattaching, and moving an open table's
// row position over plain tables and tuple joins.
#include <cmath>
#include <cstring>

#include "tests/mapfile/tables/dispatch_fixture.h"
#include "mapfile/tables/dbf.h"

namespace mapfiletest {
namespace {

using namespace layerio;

uint32_t U32At(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s.at(at))) | (uint32_t(uint8_t(s.at(at + 1))) << 8) |
         (uint32_t(uint8_t(s.at(at + 2))) << 16) | (uint32_t(uint8_t(s.at(at + 3))) << 24);
}
uint16_t U16At(const std::string& s, size_t at) {
  return uint16_t(uint8_t(s.at(at)) | (uint8_t(s.at(at + 1)) << 8));
}

class NativeTest : public FileLayerTest {
 protected:
  static std::initializer_list<ColumnSpec> Spec() {
    static const std::initializer_list<ColumnSpec> spec = {
        {"Count", kFieldInteger, 0, 0},  {"Seen", kFieldDate, 0, 0},
        {"Small", kFieldSmallint, 0, 0}, {"Ratio", kFieldFloat, 0, 0},
        {"Flag", kFieldLogical, 0, 0},   {"Name", kFieldChar, 10, 0}};
    return spec;
  }

  static void Fill(Columns& c, int i) {
    c[0].value.u.i = i % 2 ? -i * 70001 : i * 70001;
    c[1].value.u.date = DateRec{int16_t(1900 + i % 200), uint8_t(1 + i % 12), uint8_t(1 + i % 28)};
    c[2].value.u.s = int16_t(-i);
    c[3].value.u.d = i / 3.0;
    c[4].value.u.b = i % 2;
    char text[16];
    std::snprintf(text, sizeof text, "n%d  ", i);
    c.SetText(5, text);
  }

  static void Expect(Columns& c, int i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(c[0].value.u.i, i % 2 ? -i * 70001 : i * 70001);
    EXPECT_EQ(c[1].value.u.date.year, 1900 + i % 200);
    EXPECT_EQ(c[1].value.u.date.month, 1 + i % 12);
    EXPECT_EQ(c[1].value.u.date.day, 1 + i % 28);
    EXPECT_EQ(c[2].value.u.s, -i);
    EXPECT_EQ(c[3].value.u.d, i / 3.0);
    EXPECT_EQ(c[4].value.u.b, i % 2);
    EXPECT_EQ(c.Text(5), "n" + std::to_string(i));
  }

  void CreateRoads(DataSource* s, Columns& cols, int rows) {
    ASSERT_TRUE(DataSourceCreate("roads", dir_.path().c_str(), -1, 0, s, kDataNative, cols.count(),
                                 cols.data(), nullptr, 0));
    ASSERT_TRUE(DataSourceOpen(s, kFileModeWrite));
    for (int i = 1; i <= rows; ++i) {
      Fill(cols, i);
      uint32_t row = 0;
      ASSERT_TRUE(DataSourceInsert(s, cols.data(), &row));
      ASSERT_EQ(row, uint32_t(i));
    }
    ASSERT_TRUE(DataSourceRelease(s));
  }
};

TEST_F(NativeTest, ThousandRowsInBinaryForms) {
  Columns cols(Spec());
  DataSource s = NewSource();
  CreateRoads(&s, cols, 1000);
  EXPECT_EQ(s.rowCount, 1000u);
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));

  std::string bytes = Contents("roads.DAT");
  ASSERT_EQ(U16At(bytes, 8), 225);
  ASSERT_EQ(U16At(bytes, 10), 30);
  EXPECT_EQ(U32At(bytes, 4), 1000u);
  EXPECT_EQ(bytes[0], 3);
  const char types[] = "CCCCLC";
  const int widths[] = {4, 4, 2, 8, 1, 10};
  const char* names[] = {"Count", "Seen", "Small", "Ratio", "Flag", "Name"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_STREQ(bytes.c_str() + 32 + 32 * i, names[i]);
    EXPECT_EQ(bytes[32 + 32 * i + 11], types[i]) << i;
    EXPECT_EQ(bytes[32 + 32 * i + 16], widths[i]) << i;
  }
  EXPECT_EQ(bytes[224], '\x0D');
  ASSERT_EQ(bytes.size(), 225u + 1000 * 30 + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  // Record 1: -70001, 1901-02-02, -1, 1/3, true, "n1" zero-padded.
  std::string r1 = bytes.substr(225, 30);
  EXPECT_EQ(r1[0], ' ');
  EXPECT_EQ(int32_t(U32At(r1, 1)), -70001);
  EXPECT_EQ(U16At(r1, 5), 1901);
  EXPECT_EQ(r1[7], 2);
  EXPECT_EQ(r1[8], 2);
  EXPECT_EQ(int16_t(U16At(r1, 9)), -1);
  double third;
  std::memcpy(&third, r1.data() + 11, 8);
  EXPECT_EQ(third, 1 / 3.0);
  EXPECT_EQ(r1[19], 1);
  EXPECT_EQ(r1.substr(20), std::string("n1") + std::string(8, '\0'));

  Columns again(Spec());
  DataSource a = NewSource();
  int32_t count = again.count();
  ASSERT_TRUE(DataSourceAttach(PathOf("roads.DAT").c_str(), 0, &a, kDataNative, &count,
                               again.data()));
  EXPECT_EQ(a.rowCount, 1000u);
  ASSERT_TRUE(DataSourceOpen(&a, kFileModeWrite));
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_TRUE(DataSourceReadRow(&a, again.data(), uint32_t(i)));
    Expect(again, i);
  }
  EXPECT_FALSE(DataSourceReadRow(&a, again.data(), 1001));
  // An update in the middle leaves its neighbours as they were.
  Fill(again, 4242);
  ASSERT_TRUE(DataSourceUpdate(&a, again.data(), 700));
  ASSERT_TRUE(DataSourceRelease(&a));
  ASSERT_TRUE(DataSourceOpen(&a, kFileModeRead));
  for (int r : {699, 700, 701}) {
    ASSERT_TRUE(DataSourceReadRow(&a, again.data(), uint32_t(r)));
    Expect(again, r == 700 ? 4242 : r);
  }
  ASSERT_TRUE(DataSourceRelease(&a));
  ASSERT_TRUE(DataSourceClose(&a, again.data()));
  EXPECT_EQ(U32At(Contents("roads.DAT"), 4), 1000u);
}

TEST_F(NativeTest, NarrowCharColumnTakesTheFieldWidth) {
  {
    Columns cols({{"Name", kFieldChar, 12, 0}, {"Price", kFieldDecimal, 7, 2}});
    DataSource s = NewSource();
    ASSERT_TRUE(DataSourceCreate("narrow", dir_.path().c_str(), -1, 0, &s, kDataNative,
                                 cols.count(), cols.data(), nullptr, 0));
    ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
    cols.SetText(0, "twelve chars");
    uint32_t row;
    // A price the field cannot hold appends nothing.
    cols[1].value.u.d = 10000;
    ErrorClear();
    EXPECT_FALSE(DataSourceInsert(&s, cols.data(), &row));
    EXPECT_EQ(ErrorLastCode(), kErrValueRefused);
    cols[1].value.u.d = 9999.991;  // rounds to the widest it holds
    ASSERT_TRUE(DataSourceInsert(&s, cols.data(), &row));
    EXPECT_EQ(row, 1u);
    ASSERT_TRUE(DataSourceRelease(&s));
    ASSERT_TRUE(DataSourceClose(&s, cols.data()));
  }
  std::string bytes = Contents("narrow.DAT");
  EXPECT_EQ(bytes.substr(32 + 32 * 2 + 1 + 1, 19), "twelve chars9999.99");
  Columns cols({{"Name", kFieldChar, 4, 0}, {"Price", kFieldFloat, 0, 0}});
  DataSource s = NewSource();
  int32_t count = 2;
  ASSERT_TRUE(
      DataSourceAttach(PathOf("narrow.DAT").c_str(), 0, &s, kDataNative, &count, cols.data()));
  EXPECT_EQ(cols[0].width, 12);
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeRead));
  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 1));
  EXPECT_EQ(cols.Text(0), "twelve chars");
  EXPECT_DOUBLE_EQ(cols[1].value.u.d, 9999.99);
  ASSERT_TRUE(DataSourceRelease(&s));
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));
}

TEST_F(NativeTest, CreateRefusesMemoAndTooManyColumns) {
  Columns memo({{"Notes", kFieldMemo, 10, 0}});
  DataSource s = NewSource();
  EXPECT_FALSE(DataSourceCreate("memo", dir_.path().c_str(), -1, 0, &s, kDataNative, memo.count(),
                                memo.data(), nullptr, 0));
  std::vector<FieldDef> many(251);
  for (auto& f : many) {
    std::memset(&f, 0, sizeof f);
    std::snprintf(f.name, sizeof f.name, "c");
    f.value.kind = kFieldLogical;
  }
  ErrorClear();
  DataSource w = NewSource();
  EXPECT_FALSE(DataSourceCreate("wide", dir_.path().c_str(), -1, 0, &w, kDataNative, 251,
                                many.data(), nullptr, 0));
  EXPECT_TRUE(Pushed(kErrTooManyColumns));
}

// ----- moving through a table -----

class MoveTest : public NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    CreateRoads(&table_.source, cols_, 3);
    ASSERT_TRUE(DataSourceOpen(&table_.source, kFileModeRead));
    table_.fields = cols_.data();
    table_.fieldCount = uint32_t(cols_.count());
  }
  void TearDown() override {
    DataSourceRelease(&table_.source);
    DataSourceClose(&table_.source, cols_.data());
    NativeTest::TearDown();
  }

  struct Step {
    int move;
    uint32_t row;
    int16_t read;
    int atEnd;
    uint32_t position;
    int valuesOf;  // the row whose values stand in the fields; 0 blank
  };
  void Walk(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      SCOPED_TRACE(i);
      uint32_t rowOut = 0;
      int atEnd = -1;
      EXPECT_EQ(TableMoveTo(&table_, s.move, s.row, &rowOut, &atEnd), s.read);
      EXPECT_EQ(atEnd, s.atEnd);
      EXPECT_EQ(table_.position, s.position);
      if (s.read) {
        EXPECT_EQ(rowOut, s.position);
      }
      if (s.valuesOf) {
        Expect(cols_, s.valuesOf);
      } else {
        EXPECT_EQ(cols_[0].value.u.i, 0);
        EXPECT_EQ(cols_.Text(5), "");
      }
    }
  }

  Columns cols_{Spec()};
  TableObject table_{};
};

TEST_F(MoveTest, MovesAndEnds) {
  Walk({
      {kMoveNext, 0, 1, 0, 1, 1},
      {kMoveNext, 0, 1, 0, 2, 2},
      {kMoveBeforeFirst, 0, 0, 1, 0, 2},  // at the end without blanking
      {kMoveNext, 0, 1, 0, 1, 1},
      {kMovePrevious, 0, 0, 1, 0, 0},  // off the front: blanked
      {kMoveTo, 3, 1, 0, 3, 3},
      {kMoveAfterLast, 0, 0, 1, 4, 3},  // not blanked
      {kMovePrevious, 0, 1, 0, 3, 3},
      {kMoveNext, 0, 0, 1, 4, 0},  // past the last: blanked
      {kMoveTo, 2, 1, 0, 2, 2},
      {kMoveTo, 0, 0, 1, 0, 0},
      {kMoveTo, 2, 1, 0, 2, 2},
      {kMoveTo, 99, 0, 1, 4, 0},
  });
}

// Two parts joined through a tuple file: each position names one row of
// each part.
TEST_F(MoveTest, TupleJoinReadsEachPartsRow) {
  Columns other({{"Label", kFieldChar, 6, 0}});
  TableObject second{};
  ASSERT_TRUE(DataSourceCreate("labels", dir_.path().c_str(), -1, 0, &second.source, kDataNative,
                               other.count(), other.data(), nullptr, 0));
  ASSERT_TRUE(DataSourceOpen(&second.source, kFileModeWrite));
  for (const char* label : {"first", "second"}) {
    other.SetText(0, label);
    uint32_t row;
    ASSERT_TRUE(DataSourceInsert(&second.source, other.data(), &row));
  }
  second.fields = other.data();
  second.fieldCount = 1;

  auto le32 = [](uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  dir_.Write("view.tup", le32(3) + le32(2) + le32(1) + le32(1) + le32(2) + le32(9));
  ViewPart parts[2] = {{&table_, 0, 0, 0}, {&second, 0, 0, 0}};
  TableObject view{};
  view.partCount = 2;
  view.parts = parts;
  view.joinKind = kJoinTuple;
  view.tupleFile = Add("view.tup");
  view.tupleCount = 3;
  view.reportingPart = -1;

  uint32_t rowOut = 0;
  int atEnd = 0;
  ASSERT_TRUE(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd));
  EXPECT_EQ(rowOut, 2u);  // the last part's row
  Expect(cols_, 3);
  EXPECT_EQ(other.Text(0), "second");
  view.reportingPart = 0;
  ASSERT_TRUE(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd));
  EXPECT_EQ(rowOut, 1u);
  Expect(cols_, 1);
  EXPECT_EQ(other.Text(0), "first");
  // A tuple naming a row the part does not have blanks every part.
  EXPECT_FALSE(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd));
  EXPECT_EQ(atEnd, 0);
  EXPECT_EQ(cols_.Text(5), "");
  EXPECT_EQ(other.Text(0), "");
  EXPECT_FALSE(TableMoveTo(&view, kMoveNext, 0, &rowOut, &atEnd));
  EXPECT_EQ(atEnd, 1);
  FileRelease(view.tupleFile);
  ASSERT_TRUE(DataSourceRelease(&second.source));
  ASSERT_TRUE(DataSourceClose(&second.source, other.data()));
}

}  // namespace
}  // namespace mapfiletest
