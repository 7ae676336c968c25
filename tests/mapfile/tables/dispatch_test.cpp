// The data-source dispatcher: defaults and file kinds by data kind, open
// counts, the general codes 386/881/497 and when they give way to a
// driver's own, kinds without a file, native and dBASE data files through
// their drivers, and the pending-row overlay.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "mapfile/tables/dbf.h"
#include "tests/mapfile/tables/dispatch_fixture.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class DispatchTest : public FileLayerTest {
 protected:
  bool Exists(const std::string& name) const {
    return std::filesystem::exists(PathOf(name));
  }
  static int FirstCode() { return ErrorLastCode(); }
};

TEST_F(DispatchTest, DefaultsAndFileKindsByKind) {
  // Word 2 of kinds 3 and 12 holds the delimiter in its low byte (byte 8).
  struct Case {
    uint8_t kind;
    int fileKind;
    uint32_t word2, word3, word6;
  };
  const uint32_t cs = uint32_t(CharsetSystem());
  const Case cases[] = {
      {0, 0, 0, 0, 0},   {1, 18, cs, 0, 0}, {2, 20, 0, 0, 0},  {3, 4, 9, cs, 0},
      {4, 21, 0, 0, 0},  {5, 17, cs, 0, 0}, {6, 44, 0, 0, 0},  {8, 63, 0, 0, cs},
      {9, 67, 0, 0, 0},  {10, 0, 0, 0, 0},  {11, 0, cs, 0, 0}, {12, 85, ',', cs, 0},
      {13, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.kind));
    uint32_t params[kDataParamWords];
    std::memset(params, 0xEE, sizeof params);
    DataSourceDefaults(c.kind, params);
    EXPECT_EQ(DataKindFileKind(c.kind), c.fileKind);
    for (int w = 0; w < kDataParamWords; ++w) {
      uint32_t expect = w == 2 ? c.word2 : w == 3 ? c.word3 : w == 6 ? c.word6 : 0;
      EXPECT_EQ(params[w], expect) << "word " << w;
    }
  }
}

TEST_F(DispatchTest, CountedKindOpensNestAndCountsRowsWithoutAFile) {
  DataSource s = NewSource();
  ASSERT_TRUE(DataSourceCreate("counted", dir_.path().c_str(), -1, 0, &s, kDataNone, 0, nullptr,
                               nullptr, 0));
  EXPECT_EQ(s.file, 0);
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  EXPECT_TRUE(DataSourceRelease(&s));
  EXPECT_EQ(s.openCount, 1);
  for (uint32_t expect = 1; expect <= 3; ++expect) {
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&s, nullptr, &row));
    EXPECT_EQ(row, expect);
  }
  EXPECT_EQ(s.rowCount, 3u);
  EXPECT_TRUE(DataSourceUpdate(&s, nullptr, 2));
  EXPECT_EQ(s.currentRow, 2u);
  EXPECT_FALSE(DataSourceReadRow(&s, nullptr, 1));  // no values to read
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_TRUE(DataSourceRelease(&s));
  EXPECT_EQ(s.openCount, 0);
  EXPECT_FALSE(DataSourceRelease(&s));
  EXPECT_TRUE(DataSourceClose(&s, nullptr));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(DispatchTest, OpenCountLimits) {
  DataSource s = NewSource();
  s.kind = kDataNone;
  s.openCount = kOpenCountHeld;  // held: open refused, release a no-op
  EXPECT_FALSE(DataSourceOpen(&s, kFileModeRead));
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_TRUE(DataSourceRelease(&s));
  EXPECT_EQ(s.openCount, kOpenCountHeld);
  // One more open at 254 would turn into the held state and never close.
  s.openCount = 254;
  EXPECT_FALSE(DataSourceOpen(&s, kFileModeRead));
  EXPECT_EQ(FirstCode(), kErrDataOpen);
  EXPECT_EQ(s.openCount, 254);
}

TEST_F(DispatchTest, RasterAndRowBufferSourcesCloseOnRelease) {
  for (uint8_t kind : {kDataRaster, kDataRowBuffer}) {
    SCOPED_TRACE(int(kind));
    DataSource s = NewSource();
    s.kind = kind;
    ASSERT_TRUE(DataSourceOpen(&s, kFileModeRead));
    EXPECT_TRUE(DataSourceRelease(&s));
    EXPECT_EQ(s.openCount, 0);
  }
}

TEST_F(DispatchTest, RefusalsAndTheirCodes) {
  struct Case {
    const char* what;
    uint8_t kind;
    int op;  // 0 open, 1 insert, 2 update
    int code;
  };
  const Case cases[] = {
      {"open kind 7", 7, 0, kErrDataOpen},
      {"open query", kDataQuery, 0, kErrDataOpen},
      {"open comma text", kDataCsv, 0, kErrDataOpen},
      {"open kind 13", 13, 0, kErrDataOpen},
      {"open Excel without an attach", kDataExcel, 0, kErrDataOpen},
      {"insert Lotus", kDataLotus, 1, kErrDataWrite},
      {"insert Excel", kDataExcel, 1, kErrDataWrite},
      {"insert raster", kDataRaster, 1, kErrDataWrite},
      {"insert query", kDataQuery, 1, kErrDataWrite},
      {"update delimited text", kDataText, 2, kErrDataWrite},
      {"update Lotus", kDataLotus, 2, kErrDataWrite},
      {"update comma text", kDataCsv, 2, kErrDataWrite},
      {"insert Access (not open)", kDataAccess, 1, kErrDataWrite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ErrorClear();
    DataSource s = NewSource();
    s.kind = c.kind;
    uint32_t row = 99;
    int16_t ok = c.op == 0   ? DataSourceOpen(&s, kFileModeRead)
                 : c.op == 1 ? DataSourceInsert(&s, nullptr, &row)
                             : DataSourceUpdate(&s, nullptr, 1);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(FirstCode(), c.code);
    EXPECT_EQ(ErrorCount(), 1) << "the general code only when nothing else was pushed";
    EXPECT_EQ(s.openCount, 0);
    EXPECT_EQ(row, 99u);
  }
}

TEST_F(DispatchTest, WorksheetCreateFailsAndLeavesNothing) {
  for (uint8_t kind : {kDataLotus, kDataExcel}) {
    SCOPED_TRACE(int(kind));
    ErrorClear();
    Columns cols({{"Name", kFieldChar, 10, 0}});
    DataSource s = NewSource();
    EXPECT_FALSE(DataSourceCreate("sheet", dir_.path().c_str(), -1, 0, &s, kind, cols.count(),
                                  cols.data(), nullptr, 0));
    EXPECT_EQ(FirstCode(), kErrDataCreate);
    EXPECT_EQ(s.file, 0);
    EXPECT_EQ(cols[0].value.u.p, nullptr);
    EXPECT_EQ(FileTableFind(PathOf(kind == kDataLotus ? "sheet.WKS" : "sheet.XLS").c_str(),
                            DataKindFileKind(kind)),
              0);
  }
}

TEST_F(DispatchTest, FailingDriverCreateRemovesTheHalfMadeFile) {
  // A Memo column cannot be created in a dBASE file: the driver refuses
  // after the dispatcher made the entry; the file must not stay behind.
  Columns cols({{"Name", kFieldChar, 10, 0}, {"Notes", kFieldMemo, 10, 0}});
  DataSource s = NewSource();
  EXPECT_FALSE(DataSourceCreate("memo", dir_.path().c_str(), -1, 0, &s, kDataDbase, cols.count(),
                                cols.data(), nullptr, 0));
  EXPECT_NE(ErrorCount(), 0);
  EXPECT_FALSE(Exists("memo.DBF"));
  EXPECT_EQ(s.file, 0);
  EXPECT_EQ(cols[0].value.u.p, nullptr);
  EXPECT_EQ(FileTableFind(PathOf("memo.DBF").c_str(), kFileKindDbase), 0);
}

TEST_F(DispatchTest, NativeTableCreateAppendReadUpdateAndAttachAgain) {
  Columns cols({{"Name", kFieldChar, 10, 0},
                {"Count", kFieldInteger, 0, 0},
                {"Code", kFieldChar25, 0, 0}});
  DataSource s = NewSource();
  uint32_t params[kDataParamWords];
  DataSourceDefaults(kDataNative, params);
  ASSERT_TRUE(DataSourceCreate("roads", dir_.path().c_str(), -1, 0, &s, kDataNative,
                               cols.count(), cols.data(), params, 0));
  EXPECT_TRUE(Exists("roads.DAT"));
  EXPECT_EQ(cols[2].value.kind, kFieldChar) << "type 7 becomes Char 25";
  EXPECT_EQ(cols[2].width, 25);

  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  const char* names[] = {"Main", "High", "Mill"};
  for (int i = 0; i < 3; ++i) {
    cols.SetText(0, names[i]);
    cols[1].value.u.i = 100 + i;
    cols.SetText(2, "X");
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&s, cols.data(), &row));
    EXPECT_EQ(row, uint32_t(i + 1));
    EXPECT_EQ(s.rowCount, row);
  }
  cols.SetText(0, "Bridge");
  cols[1].value.u.i = 7;
  ASSERT_TRUE(DataSourceUpdate(&s, cols.data(), 2));
  ASSERT_TRUE(DataSourceRead(&s, cols.data(), 3, nullptr));
  EXPECT_EQ(cols.Text(0), "Mill");
  EXPECT_EQ(s.currentRow, 3u);
  EXPECT_FALSE(DataSourceReadRow(&s, cols.data(), 4));

  // Opened twice, released once: still open; the second release closes it.
  ASSERT_TRUE(DataSourceRelease(&s));
  EXPECT_NE(s.params.ptr[0], nullptr);
  ASSERT_TRUE(DataSourceRelease(&s));
  EXPECT_EQ(s.params.ptr[0], nullptr);
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));
  EXPECT_EQ(s.file, 0);
  EXPECT_TRUE(Exists("roads.DAT"));

  DataSource again = NewSource();
  DataSourceDefaults(kDataNative, again.params.words);
  int32_t count = cols.count();
  ASSERT_TRUE(DataSourceAttach(PathOf("roads.DAT").c_str(), 0, &again, kDataNative, &count,
                               cols.data()));
  EXPECT_EQ(again.rowCount, 3u);
  ASSERT_TRUE(DataSourceOpen(&again, kFileModeRead));
  ASSERT_TRUE(DataSourceReadRow(&again, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), "Bridge");
  EXPECT_EQ(cols[1].value.u.i, 7);
  EXPECT_TRUE(DataSourceClose(&again, cols.data()));
}

TEST_F(DispatchTest, DbaseCreateGivesValidUniqueNamesAndFieldNames) {
  Columns cols({{"road name", kFieldChar, 8, 0},
                {"Object", kFieldChar, 4, 0},
                {"NAME", kFieldChar, 4, 0},
                {"name", kFieldChar, 4, 0},
                {"Amount", kFieldDecimal, 6, 1}});
  DataSource s = NewSource();
  DataSourceDefaults(kDataDbase, s.params.words);
  ASSERT_TRUE(DataSourceCreate("names", dir_.path().c_str(), -1, 0, &s, kDataDbase, cols.count(),
                               cols.data(), s.params.words, 0));
  EXPECT_STREQ(cols[0].name, "road_name");
  EXPECT_STREQ(cols[1].name, "_Object");
  EXPECT_STREQ(cols[2].name, "NAME");
  EXPECT_STREQ(cols[3].name, "name_2");
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));

  FileHandle h = Add("names.DBF", kFileKindDbase);
  DbfFile* f = nullptr;
  ASSERT_EQ(DbfOpen(h, &f, kFileModeRead, nullptr), kDbfOk);
  ASSERT_EQ(f->fieldCount, 5);
  const char* expect[] = {"ROAD_NAME", "AOBJECT", "NAME", "NAME_2", "AMOUNT"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(f->fields[i].name, expect[i]);
  DbfClose(f);
}

TEST_F(DispatchTest, AttachThatDisagreesFailsWith386AndLeavesNothing) {
  {
    Columns cols({{"Name", kFieldChar, 10, 0}});
    DataSource s = NewSource();
    DataSourceDefaults(kDataNative, s.params.words);
    ASSERT_TRUE(DataSourceCreate("one", dir_.path().c_str(), -1, 0, &s, kDataNative,
                                 cols.count(), cols.data(), s.params.words, 0));
    ASSERT_TRUE(DataSourceClose(&s, cols.data()));
  }
  Columns two({{"Name", kFieldChar, 10, 0}, {"Extra", kFieldInteger, 0, 0}});
  DataSource s = NewSource();
  int32_t count = two.count();
  EXPECT_FALSE(DataSourceAttach(PathOf("one.DAT").c_str(), 0, &s, kDataNative, &count,
                                two.data()));
  EXPECT_EQ(FirstCode(), kErrDataOpen);
  EXPECT_EQ(s.file, 0);
  EXPECT_EQ(two[0].value.u.p, nullptr);
  EXPECT_EQ(FileTableFind(PathOf("one.DAT").c_str(), kFileKindNative), 0);

  // Remote tables cannot be attached; the dispatcher's 386 reports it.
  ErrorClear();
  DataSource remote = NewSource();
  EXPECT_FALSE(DataSourceAttach(nullptr, 0, &remote, kDataRemote, &count, nullptr));
  EXPECT_EQ(FirstCode(), kErrDataOpen);
}

TEST_F(DispatchTest, TemporaryDataFileIsDeletedAtClose) {
  Columns cols({{"Name", kFieldChar, 10, 0}});
  DataSource s = NewSource();
  DataSourceDefaults(kDataNative, s.params.words);
  ASSERT_TRUE(DataSourceCreate("scratch", dir_.path().c_str(), kFileKindNative, 1, &s,
                               kDataNative, cols.count(), cols.data(), s.params.words, 0));
  EXPECT_TRUE(Exists("scratch.DAT"));
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  uint32_t row = 0;
  cols.SetText(0, "gone");
  ASSERT_TRUE(DataSourceInsert(&s, cols.data(), &row));
  // Closed while still open: the open is ended first, then the file removed.
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));
  EXPECT_FALSE(Exists("scratch.DAT"));
}

TEST_F(DispatchTest, OverlayRowsHideTheFileAndTakeUpdates) {
  Columns cols({{"Name", kFieldChar, 10, 0}, {"Count", kFieldInteger, 0, 0}});
  DataSource s = NewSource();
  DataSourceDefaults(kDataNative, s.params.words);
  ASSERT_TRUE(DataSourceCreate("over", dir_.path().c_str(), -1, 0, &s, kDataNative, cols.count(),
                               cols.data(), s.params.words, 0));
  ASSERT_TRUE(DataSourceOpen(&s, kFileModeWrite));
  for (int i = 1; i <= 2; ++i) {
    cols.SetText(0, i == 1 ? "file1" : "file2");
    cols[1].value.u.i = i;
    uint32_t row = 0;
    ASSERT_TRUE(DataSourceInsert(&s, cols.data(), &row));
  }
  ASSERT_TRUE(RowOverlayAttach(&s));
  cols.SetText(0, "pending");
  cols[1].value.u.i = 42;
  ASSERT_TRUE(RowBufferInsert(&s.overlay->source, 2, cols.data(), cols.count()));

  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 1));
  EXPECT_EQ(cols.Text(0), "file1");
  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), "pending");
  EXPECT_EQ(cols[1].value.u.i, 42);
  EXPECT_EQ(s.currentRow, 2u);

  // An update reaches the file and the overlay's copy of the row.
  cols.SetText(0, "updated");
  cols[1].value.u.i = 5;
  ASSERT_TRUE(DataSourceUpdate(&s, cols.data(), 2));
  cols.SetText(0, "");
  ASSERT_TRUE(DataSourceReadRow(&s, cols.data(), 2));
  EXPECT_EQ(cols.Text(0), "updated");
  EXPECT_EQ(cols[1].value.u.i, 5);
  ASSERT_TRUE(DataSourceClose(&s, cols.data()));
  EXPECT_EQ(s.overlay, nullptr);
}

TEST_F(DispatchTest, MemoAnswerByKind) {
  DataSource s = NewSource();
  s.kind = kDataAccess;
  s.params.SetHalf(28, 1);
  EXPECT_EQ(DataSourceHasMemo(&s), 1);
  s.params.SetHalf(28, 2);
  EXPECT_EQ(DataSourceHasMemo(&s), 0);
  s.kind = kDataNative;
  s.params.SetHalf(28, 1);
  EXPECT_EQ(DataSourceHasMemo(&s), 0);

  Columns cols({{"Name", kFieldChar, 10, 0}});
  DataSource d = NewSource();
  DataSourceDefaults(kDataDbase, d.params.words);
  ASSERT_TRUE(DataSourceCreate("plain", dir_.path().c_str(), -1, 0, &d, kDataDbase, cols.count(),
                               cols.data(), d.params.words, 0));
  EXPECT_EQ(DataSourceHasMemo(&d), 0);
  EXPECT_TRUE(DataSourceClose(&d, cols.data()));
}

}  // namespace
}  // namespace mapfiletest
