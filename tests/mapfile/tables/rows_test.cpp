// Rows through the interface: counts and field records, the row text of
// every field type both ways (quoting, raw text, missing and extra values,
// the length limit), objects of every type code stored with their rows and
// read back through the table's system and a caller's, rewriting rows and
// objects, and the field indexes kept in step when a write fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"
#include "tests/mapfile/tables/pxrecords_fixture.h"
#include "support/temp_dir.h"
#include "tests/mapfile/tables/session_fixture.h"

namespace {

using namespace layerio;
using pxrecords::Describe;
using pxrecords::ExpectSame;
using pxrecords::Get;
using pxrecords::Records;
using pxrecords::Sample;

constexpr char kLonLat[] = "CoordSys Earth Projection 1, 104";
constexpr char kMercator[] =
    "CoordSys Earth Projection 10, 104, \"m\", 0 Bounds (-20037508, -20037508) "
    "(20037508, 20037508)";

struct FieldSpec {
  const char* name;
  uint8_t type;
  uint8_t width;
  uint8_t decimals;
};

// One field of each type a native table keeps.
const std::vector<FieldSpec> kEveryType = {
    {"Name", kFieldChar, 20, 0},   {"Amount", kFieldDecimal, 8, 2},
    {"Count", kFieldInteger, 4, 0}, {"Small", kFieldSmallint, 2, 0},
    {"Day", kFieldDate, 4, 0},      {"Flag", kFieldLogical, 1, 0},
    {"Ratio", kFieldFloat, 8, 0},
};

class RowsTest : public LayerioSessionTest {
 protected:
  void TearDown() override {
    PXSetRawText(0);
    LayerioSessionTest::TearDown();
  }

  // A table without rows, native unless another data kind and its type
  // clause are given; with a coordinate-system clause it gets an empty map
  // part in that system.
  std::string MakeTable(const std::string& name, const std::vector<FieldSpec>& specs,
                        const char* mapSystem = nullptr, uint8_t dataKind = kDataNative,
                        const char* type = "Type NATIVE") {
    std::vector<FieldDef> fields(specs.size());
    std::string lines;
    for (size_t i = 0; i < specs.size(); ++i) {
      FieldDef& f = fields[i];
      std::memset(&f, 0, sizeof f);
      std::strncpy(f.name, specs[i].name, sizeof f.name - 1);
      f.width = specs[i].width;
      f.decimals = specs[i].decimals;
      f.value.kind = specs[i].type;
      char type[64];
      EXPECT_TRUE(ColumnTypeText(specs[i].type, specs[i].width, specs[i].decimals, type,
                                 sizeof type));
      lines += "    " + std::string(specs[i].name) + " " + type + " ;\n";
    }
    DataSource s;
    std::memset(&s, 0, sizeof s);
    EXPECT_TRUE(DataSourceCreate(name.c_str(), dir_.path().c_str(), -1, 0, &s, dataKind,
                                 int32_t(fields.size()), fields.data(), nullptr, 0));
    EXPECT_TRUE(DataSourceClose(&s, fields.data()));
    const std::string tab = dir_.File(name + ".TAB");
    if (mapSystem) {
      FileHandle def = FileTableAddName(tab.c_str(), kFileKindTable);
      ObjStoreTable owner{def, 0, 0};
      ObjStore store{};
      CoordSys cs;
      EXPECT_TRUE(CoordSysParseText(&cs, mapSystem, true));
      EXPECT_TRUE(ObjStoreCreate(&store, kObjStoreMapFile, &owner, -1, &cs, 0, 1));
      ObjStoreClose(&store);
      FileRelease(def);
    }
    return dir_.Write(name + ".TAB",
                      "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n"
                      "  " + std::string(type) + " Charset \"WindowsLatin1\"\n  Fields " +
                          std::to_string(specs.size()) + "\n" + lines);
  }

  PXTableHandle Open(const std::string& path, uint32_t mode = PX_OPEN_READ_WRITE) {
    PXTableHandle h = PXOpenTable(path.c_str(), mode);
    EXPECT_NE(h, 0) << PXGetLastError();
    return h;
  }

  static std::string Fetch(PXTableHandle h, uint32_t row) {
    char text[PX_ROW_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    if (!PXFetchRow(h, row, text, nullptr))
      return "<failed " + std::to_string(PXGetLastError()) + ">";
    return text;
  }
  static uint32_t Insert(PXTableHandle h, const char* text, const PXObject* object = nullptr) {
    uint32_t row = 0;
    EXPECT_EQ(PXInsertRow(h, text, object, &row), 1) << PXGetLastError() << " " << text;
    return row;
  }
  static uint32_t Rows(PXTableHandle h) {
    uint32_t rows = 0;
    EXPECT_EQ(PXGetRowCount(h, &rows), 1);
    return rows;
  }
  // The rows the field's index gives for a key text.
  static std::vector<uint32_t> Indexed(PXTableHandle h, uint32_t field, const char* key) {
    std::vector<uint32_t> rows;
    uint32_t row = 0;
    for (uint16_t r = PXFindIndexed(h, field, key, 1, &row); r == 1;
         r = PXFindIndexed(h, field, key, 2, &row))
      rows.push_back(row);
    return rows;
  }

};

TEST_F(RowsTest, CountsAndFieldRecords) {
  const std::string path = MakeTable("fields", kEveryType);
  PXTableHandle h = Open(path);
  ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
  ASSERT_EQ(PXCreateIndex(h, 3), 1) << PXGetLastError();

  uint32_t n = 0;
  ASSERT_EQ(PXGetFieldCount(h, &n), 1);
  EXPECT_EQ(n, kEveryType.size());
  EXPECT_EQ(Rows(h), 0u);
  std::vector<PXFieldInfo> info(kEveryType.size());
  std::memset(info.data(), 0xAB, info.size() * sizeof info[0]);
  ASSERT_EQ(PXGetFieldInfo(h, info.data()), 1);
  for (size_t i = 0; i < info.size(); ++i) {
    SCOPED_TRACE(kEveryType[i].name);
    EXPECT_STREQ(info[i].name, kEveryType[i].name);
    // The name is zero-filled to its 32 bytes.
    for (size_t b = std::strlen(kEveryType[i].name); b < sizeof info[i].name; ++b)
      EXPECT_EQ(info[i].name[b], 0);
    EXPECT_EQ(info[i].type, kEveryType[i].type);
    if (kEveryType[i].type == kFieldChar || kEveryType[i].type == kFieldDecimal) {
      EXPECT_EQ(info[i].width, kEveryType[i].width);
    }
    EXPECT_EQ(info[i].decimals, kEveryType[i].decimals);
    EXPECT_EQ(info[i].spare, 0xAB);  // not the library's to write
    EXPECT_EQ(info[i].indexed, i == 0 || i == 2 ? 1 : 0);
  }

  for (int i = 0; i < 3; ++i) Insert(h, "a");
  EXPECT_EQ(Rows(h), 3u);

  // Bad handles and outputs.
  EXPECT_EQ(PXGetRowCount(0, &n), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXGetFieldCount(h, nullptr), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXGetFieldInfo(h + 5, info.data()), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXCloseTable(h), 1);

  // The counts survive the close; a read-only handle refuses rows.
  h = Open(path, PX_OPEN_READ);
  EXPECT_EQ(Rows(h), 3u);
  uint32_t row = 7;
  EXPECT_EQ(PXInsertRow(h, "b", nullptr, &row), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  EXPECT_EQ(PXUpdateRow(h, 1, "b", nullptr), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  EXPECT_EQ(Rows(h), 3u);
}

// Each field type through the row text: what is inserted, what comes back.
TEST_F(RowsTest, EveryFieldTypeRoundTripsThroughRowText) {
  PXTableHandle h = Open(MakeTable("types", kEveryType));
  struct Case {
    const char* name;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"plain values", "\"Main Street\"\t1234.5\t-7\t42\t20240229\tT\t0.125",
       "\"Main Street\"\t1234.50\t-7\t42\t\"20240229\"\t\"T\"\t0.125"},
      {"unquoted text, rounding to the decimals", "plain\t0.126\t0\t0\t19991231\tF\t-1.5e-07",
       "\"plain\"\t0.13\t0\t0\t\"19991231\"\t\"F\"\t-1.5e-07"},
      {"limits", "\"\"\t-9999.99\t-2147483647\t-32767\t00010101\tY\t1e+300",
       "\"\"\t-9999.99\t-2147483647\t-32767\t\"00010101\"\t\"T\"\t1e+300"},
      {"text cut to the width, logical 1",
       "abcdefghijklmnopqrstuvwxyz\t1\t2147483647\t32767\t\t1\t3",
       "\"abcdefghijklmnopqrst\"\t1.00\t2147483647\t32767\t\"\"\t\"T\"\t3"},
      {"empty pieces are blank", "\t\t\t\t\t\t", "\"\"\t0.00\t0\t0\t\"\"\t\"F\"\t0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t row = Insert(h, c.in);
    EXPECT_EQ(Fetch(h, row), c.out);
  }
}

TEST_F(RowsTest, MissingValuesAreBlankAndExtraOnesIgnored) {
  PXTableHandle h = Open(MakeTable("short", kEveryType));
  const std::string blank = "\"\"\t0.00\t0\t0\t\"\"\t\"F\"\t0";
  // A full row first, so that blanking is seen to clear what was there.
  Insert(h, "\"x\"\t1\t2\t3\t20200101\tT\t4");
  EXPECT_EQ(Fetch(h, Insert(h, "\"only\"\t5")), "\"only\"\t5.00\t0\t0\t\"\"\t\"F\"\t0");
  EXPECT_EQ(Fetch(h, Insert(h, nullptr)), blank);
  EXPECT_EQ(Fetch(h, Insert(h, "")), blank);
  EXPECT_EQ(Fetch(h, Insert(h, "\"x\"\t1\t2\t3\t20200101\tT\t4\t\"extra\"\t99")),
            "\"x\"\t1.00\t2\t3\t\"20200101\"\t\"T\"\t4");
}

// Numbers come back with every digit their field keeps: Float in 14
// significant digits, Decimal with its decimals, the integer types to their
// limits; also from a delimited text file, read again after a close.
TEST_F(RowsTest, NumbersKeepEveryDigitTheirFieldHolds) {
  const std::vector<FieldSpec> specs = {{"F", kFieldFloat, 8, 0},
                                        {"D", kFieldDecimal, 20, 6},
                                        {"I", kFieldInteger, 4, 0},
                                        {"S", kFieldSmallint, 2, 0}};
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"0.1234567\t2.440629\t2147483647\t32767", "0.1234567\t2.440629\t2147483647\t32767"},
      {"12345678.901234\t1234567890.123456\t-2147483648\t-32768",
       "12345678.901234\t1234567890.123456\t-2147483648\t-32768"},
      {"6.02214076e+23\t9999999999999.5\t0\t0", "6.02214076e+23\t9999999999999.500000\t0\t0"},
      // Past 14 digits a Float rounds; a Decimal rounds to its decimals.
      {"0.12345678901234567\t0.0000005\t1\t1", "0.12345678901235\t0.000001\t1\t1"},
  };
  const std::string native = MakeTable("digits", specs);
  const std::string text = MakeTable("digitstx", specs, nullptr, kDataText, "Type ASCII Delimiter 9");
  for (const std::string& path : {native, text}) {
    SCOPED_TRACE(path);
    PXTableHandle h = Open(path);
    for (const Case& c : cases) EXPECT_EQ(Fetch(h, Insert(h, c.in)), c.out) << c.in;
    EXPECT_EQ(PXCloseTable(h), 1);
  }
  // The text file holds the same digits, one row a CR LF line.
  std::string lines;
  for (const Case& c : cases) lines += std::string(c.out) + "\r\n";
  EXPECT_EQ(testsupport::ReadAll(dir_.File("digitstx.TXT")), lines);
}

// A number its field cannot hold refuses the whole row, on insert and on
// update, naming the field and the value: nothing is written, no key added,
// the old values and keys stay. The dBASE file keeps a Float in N 19,9.
TEST_F(RowsTest, NumbersTheirFieldCannotHoldRefuseTheRow) {
  const std::vector<FieldSpec> specs = {{"Name", kFieldChar, 10, 0},
                                        {"Amount", kFieldDecimal, 8, 2},
                                        {"Count", kFieldInteger, 4, 0},
                                        {"Small", kFieldSmallint, 2, 0},
                                        {"Ratio", kFieldFloat, 8, 0}};
  struct Case {
    const char* row;  // after the name
    const char* says;
    bool nativeTakes;
  } cases[] = {
      {"1\t2147483648\t0\t0", "Field Count cannot hold the value 2147483648.", false},
      {"1\t-2147483649\t0\t0", "Field Count cannot hold the value -2147483649.", false},
      {"1\t1e10\t0\t0", "Field Count cannot hold the value 1e10.", false},
      {"1\t2.5\t0\t0", "Field Count cannot hold the value 2.5.", false},
      {"1\t\"lots\"\t0\t0", "Field Count cannot hold the value lots.", false},
      {"1\t1\t32768\t0", "Field Small cannot hold the value 32768.", false},
      {"1\t1\t-1.5\t0", "Field Small cannot hold the value -1.5.", false},
      {"123456.78\t1\t1\t0", "Field Amount cannot hold the value 123456.78.", false},
      {"99999.995\t1\t1\t0", "Field Amount cannot hold the value 100000.00.", false},
      {"1\t1\t1\t1e999", "Field Ratio cannot hold the value 1e999.", false},
      {"1\t1\t1\t1e10", "Field Ratio cannot hold the value 10000000000.", true},
  };
  for (const auto& [kind, type] : {std::pair{kDataNative, "Type NATIVE"},
                                   std::pair{kDataDbase, "Type DBF"}}) {
    SCOPED_TRACE(type);
    const std::string name = kind == kDataNative ? "refuse" : "refusedb";
    PXTableHandle h = Open(MakeTable(name, specs, nullptr, kind, type));
    ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
    const std::string kept = "\"kept\"\t99999.99\t-2147483648\t-32768\t0.1234567";
    ASSERT_EQ(Insert(h, kept.c_str()), 1u);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.row);
      const std::string row = "\"new\"\t" + std::string(c.row);
      uint32_t added = 7;
      if (kind == kDataNative && c.nativeTakes) {
        ASSERT_EQ(PXInsertRow(h, row.c_str(), nullptr, &added), 1) << PXGetLastError();
        continue;
      }
      EXPECT_EQ(PXInsertRow(h, row.c_str(), nullptr, &added), 0);
      EXPECT_EQ(added, 0u);
      EXPECT_EQ(PXGetLastError(), PX_ERROR_VALUE_REFUSED);
      char report[256];
      ErrorReport(1, report, sizeof report);
      EXPECT_STREQ(report, (std::string(c.says) + " ").c_str());
      EXPECT_EQ(PXUpdateRow(h, 1, row.c_str(), nullptr), 0);
      EXPECT_EQ(PXGetLastError(), PX_ERROR_VALUE_REFUSED);
    }
    EXPECT_EQ(Rows(h), kind == kDataNative ? 2u : 1u);
    EXPECT_EQ(Fetch(h, 1), kept);
    EXPECT_EQ(Indexed(h, 1, "kept"), std::vector<uint32_t>{1});
    EXPECT_EQ(Indexed(h, 1, "new"), kind == kDataNative ? std::vector<uint32_t>{2}
                                                        : std::vector<uint32_t>{});
    EXPECT_EQ(PXCloseTable(h), 1);
  }
}

TEST_F(RowsTest, QuotesAreDoubledUnlessRawText) {
  PXTableHandle h = Open(MakeTable("quotes", {{"A", kFieldChar, 30, 0}, {"B", kFieldInteger, 4, 0},
                                              {"C", kFieldDate, 4, 0}}));
  const uint32_t row = Insert(h, "\"He said \"\"hi\"\"\"\t5\t20010911");
  EXPECT_EQ(Fetch(h, row), "\"He said \"\"hi\"\"\"\t5\t\"20010911\"");
  EXPECT_EQ(PXSetRawText(1), 1);
  EXPECT_EQ(Fetch(h, row), "He said \"hi\"\t5\t20010911");
  // Raw text going in: the text is taken as it stands.
  EXPECT_EQ(Fetch(h, Insert(h, "a \"b\" c\t6\t20010912")), "a \"b\" c\t6\t20010912");
  EXPECT_EQ(PXSetRawText(0), 0);
  EXPECT_EQ(Fetch(h, row + 1), "\"a \"\"b\"\" c\"\t6\t\"20010912\"");
}

// A row text stays below 3,999 characters with its TAB or terminator; a
// row that would reach it gives 0 and no error, as does a quoted value that
// would.
TEST_F(RowsTest, RowTextLengthLimit) {
  std::vector<FieldSpec> wide;
  static const char* kNames[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8",
                                 "F9", "F10", "F11", "F12", "F13", "F14", "F15", "F16"};
  for (const char* name : kNames) wide.push_back({name, kFieldChar, 254, 0});
  wide.back().width = 180;  // data records stay within 4,000 bytes
  PXTableHandle h = Open(MakeTable("wide", wide));
  // 15 full values, 15 TABs and one of `last` characters.
  auto rowOf = [](size_t last, char fill) {
    std::string text;
    for (int i = 0; i < 15; ++i) text += std::string(254, fill) + "\t";
    return text + std::string(last, fill);
  };
  const std::string fits = rowOf(3997 - 15 * 255, 'a');
  ASSERT_EQ(fits.size(), 3997u);
  const std::string over = rowOf(3998 - 15 * 255, 'b');
  struct Case {
    const char* name;
    std::string in;
    bool raw;
    bool fetched;
  };
  const Case cases[] = {
      {"3,997 raw characters", fits, true, true},
      {"3,998 raw characters", over, true, false},
      // Quoted, each value takes two more characters.
      {"3,997 quoted characters", rowOf(3997 - 15 * 255 - 32, 'c'), false, true},
      {"3,998 quoted characters", rowOf(3998 - 15 * 255 - 32, 'd'), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PXSetRawText(1);
    const uint32_t row = Insert(h, c.in.c_str());
    PXSetRawText(c.raw ? 1 : 0);
    char text[PX_ROW_TEXT_SIZE];
    PXObject object;
    EXPECT_EQ(PXFetchRow(h, row, text, &object), c.fetched ? 1 : 0);
    if (c.fetched) {
      EXPECT_EQ(std::strlen(text), 3997u);
    } else {
      EXPECT_EQ(PXGetLastError(), 0);
      EXPECT_STREQ(text, "");
    }
  }
}

TEST_F(RowsTest, RowsOutOfRangeCannotBeRead) {
  PXTableHandle h = Open(MakeTable("range", kEveryType));
  Insert(h, "a");
  char text[PX_ROW_TEXT_SIZE];
  for (uint32_t row : {0u, 2u, 0xFFFFFFFFu}) {
    EXPECT_EQ(PXFetchRow(h, row, text, nullptr), 0) << row;
    EXPECT_EQ(PXGetLastError(), 1925) << row;
    EXPECT_EQ(PXUpdateRow(h, row, "b", nullptr), 0) << row;
    EXPECT_EQ(PXGetLastError(), 1925) << row;
  }
  EXPECT_EQ(Fetch(h, 1), "\"a\"\t0.00\t0\t0\t\"\"\t\"F\"\t0");
}

// Every type code stored with a row and read back, in the table's own
// system and, for a projected table, through a caller's longitude/latitude;
// again after the table was closed and opened.
TEST_F(RowsTest, EveryObjectCodeIsStoredAndReadBack) {
  struct Passage {
    const char* name;
    const char* table;
    bool callerLonLat;
    bool created;  // by the library
  };
  const Passage passages[] = {
      {"longitude/latitude table", kLonLat, false, false},
      {"projected table, caller in longitude/latitude", kMercator, true, false},
      {"projected table made by the library", kMercator, true, true},
  };
  ::PXCoordSys lonLat;
  ASSERT_EQ(PXParseCoordSys(kLonLat, &lonLat), 1);
  int made = 0;
  for (const Passage& p : passages) {
    SCOPED_TRACE(p.name);
    const std::string name = "objects" + std::to_string(++made);
    std::string path;
    if (p.created) {
      ::PXCoordSys system;
      ASSERT_EQ(PXParseCoordSys(p.table, &system), 1);
      PXFieldInfo code{};
      std::strcpy(code.name, "Code");
      code.type = kFieldInteger;
      path = dir_.File(name + ".TAB");
      PXTableHandle h = PXCreateTable(path.c_str(), &code, 1, &system, kDataNative);
      ASSERT_NE(h, 0) << PXGetLastError();
      ASSERT_EQ(PXCloseTable(h), 1);
    } else {
      path = MakeTable(name, {{"Code", kFieldInteger, 4, 0}}, p.table);
    }
    Records records;
    std::vector<PXObject> given;
    for (int code = PX_OBJECT_NONE; code <= PX_OBJECT_COLLECTION; ++code)
      given.push_back(Sample(records, uint8_t(code)));
    for (int pass = 0; pass < 2; ++pass) {
      PXTableHandle h = Open(path);
      if (p.callerLonLat) {
        ASSERT_EQ(PXSetApiCoordSys(h, &lonLat), 1);
      }
      if (pass == 0) {
        for (const PXObject& o : given) {
          const std::string code = std::to_string(o.u.bytes[PX_OBJECT_TYPE]);
          EXPECT_EQ(Insert(h, code.c_str(), &o), uint32_t(&o - given.data() + 1)) << code;
        }
      }
      ASSERT_EQ(Rows(h), given.size());
      for (uint32_t row = 1; row <= given.size(); ++row) {
        const PXObject& in = given[row - 1];
        const int code = in.u.bytes[PX_OBJECT_TYPE];
        const std::string what = "pass " + std::to_string(pass) + ", code " + std::to_string(code);
        char text[PX_ROW_TEXT_SIZE];
        PXObject out;
        ASSERT_EQ(PXFetchRow(h, row, text, &out), 1) << what << ": " << PXGetLastError();
        EXPECT_EQ(text, std::to_string(code)) << what;
        if (code == PX_OBJECT_NONE) {
          // "No object" is stored as none: the row reads back without one.
          EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], 0) << what;
          continue;
        }
        ExpectSame(Describe(in), Describe(out), 1e-6, what);
      }
      EXPECT_EQ(PXCloseTable(h), 1) << PXGetLastError();
    }
  }
}

TEST_F(RowsTest, RowWithoutObjectReadsAsTypeZero) {
  PXTableHandle h = Open(MakeTable("bare", {{"Name", kFieldChar, 10, 0}}, kLonLat));
  Records r;
  Insert(h, "\"none\"");
  PXObject zero = r.Make(0);
  Insert(h, "\"zero\"", &zero);
  PXObject point = Sample(r, PX_OBJECT_POINT);
  Insert(h, "\"point\"", &point);
  for (uint32_t row : {1u, 2u}) {
    PXObject out;
    std::memset(&out, 0x5A, sizeof out);
    ASSERT_EQ(PXFetchRow(h, row, nullptr, &out), 1) << row;
    for (uint8_t byte : out.u.bytes) ASSERT_EQ(byte, 0) << row;
  }
  // A table without a map part has no objects to give, and takes none.
  PXTableHandle plain = Open(MakeTable("plain", {{"Name", kFieldChar, 10, 0}}));
  Insert(plain, "\"a\"");
  PXObject out;
  std::memset(&out, 0x5A, sizeof out);
  ASSERT_EQ(PXFetchRow(plain, 1, nullptr, &out), 1);
  EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], 0);
  uint32_t row = 9;
  EXPECT_EQ(PXInsertRow(plain, "\"b\"", &point, &row), 0);
  EXPECT_EQ(PXGetLastError(), 1920);
  EXPECT_EQ(row, 0u);
  EXPECT_EQ(Rows(plain), 1u);  // nothing added
  EXPECT_EQ(PXUpdateRow(plain, 1, "\"c\"", &point), 0);
  EXPECT_EQ(PXGetLastError(), 1920);
  EXPECT_EQ(Fetch(plain, 1), "\"a\"");
}

TEST_F(RowsTest, RecordsThatCannotBeConvertedAddNoRow) {
  PXTableHandle h = Open(MakeTable("refused", {{"Name", kFieldChar, 10, 0}}, kLonLat));
  Records r;
  PXObject bad = Sample(r, PX_OBJECT_POLYLINE);
  pxrecords::Put<PXPoint*>(bad, PX_OBJECT_POLYLINE_POINTS, nullptr);
  PXObject code215 = r.Make(215);
  // Coordinates a table cannot hold were once stored as other points: not a
  // number as (0 0), infinity and 1e300 as the edge of the bounds.
  PXObject notANumber = Sample(r, PX_OBJECT_POINT);
  pxrecords::Put(notANumber, PX_OBJECT_X, std::nan(""));
  PXObject infinite = Sample(r, PX_OBJECT_POINT);
  pxrecords::Put(infinite, PX_OBJECT_Y, -HUGE_VAL);
  PXObject huge = Sample(r, PX_OBJECT_POINT);
  pxrecords::Put(huge, PX_OBJECT_X, 1e300);
  PXObject beyond = Sample(r, PX_OBJECT_POINT);
  pxrecords::Put(beyond, PX_OBJECT_Y, -1001.0);
  PXObject ring = Sample(r, PX_OBJECT_REGION);
  pxrecords::Put<uint32_t>(ring, PX_OBJECT_COUNT, 1);
  pxrecords::Put<PXSection*>(ring, PX_OBJECT_REGION_POLYGONS,
                             r.Sections({{{1, 1}, {2, 1}, {2, std::nan("")}}}));
  for (const PXObject* o : {&bad, &code215, &notANumber, &infinite, &huge, &beyond, &ring}) {
    uint32_t row = 9;
    EXPECT_EQ(PXInsertRow(h, "\"x\"", o, &row), 0);
    EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
    EXPECT_EQ(row, 0u);
  }
  EXPECT_EQ(Rows(h), 0u);
  PXObject point = Sample(r, PX_OBJECT_POINT);
  Insert(h, "\"p\"", &point);
  EXPECT_EQ(PXUpdateRow(h, 1, "\"q\"", &bad), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  // Neither the values nor the object changed.
  PXObject out;
  char text[PX_ROW_TEXT_SIZE];
  ASSERT_EQ(PXFetchRow(h, 1, text, &out), 1);
  EXPECT_STREQ(text, "\"p\"");
  ExpectSame(Describe(point), Describe(out), 1e-6, "point kept");
}

TEST_F(RowsTest, UpdateRewritesValuesAndObjects) {
  const std::string path = MakeTable("update", {{"Name", kFieldChar, 10, 0},
                                                {"Count", kFieldInteger, 4, 0}}, kLonLat);
  PXTableHandle h = Open(path);
  ASSERT_EQ(PXCreateIndex(h, 1), 1);
  Records r;
  PXObject point = Sample(r, PX_OBJECT_POINT);
  PXObject region = Sample(r, PX_OBJECT_REGION);
  Insert(h, "\"alpha\"\t1", &point);
  Insert(h, "\"beta\"\t2", &point);

  // Values only: the object stays; the index follows the new value.
  ASSERT_EQ(PXUpdateRow(h, 1, "\"gamma\"\t3", nullptr), 1) << PXGetLastError();
  EXPECT_EQ(Indexed(h, 1, "alpha"), std::vector<uint32_t>{});
  EXPECT_EQ(Indexed(h, 1, "gamma"), std::vector<uint32_t>{1});
  PXObject out;
  char text[PX_ROW_TEXT_SIZE];
  ASSERT_EQ(PXFetchRow(h, 1, text, &out), 1);
  EXPECT_STREQ(text, "\"gamma\"\t3");
  ExpectSame(Describe(point), Describe(out), 1e-6, "object kept");

  // Object only: replaced, the values stay.
  ASSERT_EQ(PXUpdateRow(h, 1, nullptr, &region), 1) << PXGetLastError();
  ASSERT_EQ(PXFetchRow(h, 1, text, &out), 1);
  EXPECT_STREQ(text, "\"gamma\"\t3");
  ExpectSame(Describe(region), Describe(out), 1e-6, "object replaced");

  // Type 200 removes the object and keeps the values; so does type 0.
  uint32_t points = 0, regions = 0;
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, &regions), 1);
  EXPECT_EQ(points, 1u);
  EXPECT_EQ(regions, 1u);
  PXObject none = r.Make(PX_OBJECT_NONE);
  ASSERT_EQ(PXUpdateRow(h, 1, nullptr, &none), 1) << PXGetLastError();
  PXObject zero = r.Make(0);
  ASSERT_EQ(PXUpdateRow(h, 2, nullptr, &zero), 1) << PXGetLastError();
  ASSERT_EQ(PXGetObjectCounts(h, &points, nullptr, &regions), 1);
  EXPECT_EQ(points, 0u);
  EXPECT_EQ(regions, 0u);
  EXPECT_EQ(PXCloseTable(h), 1);

  h = Open(path);
  for (uint32_t row : {1u, 2u}) {
    ASSERT_EQ(PXFetchRow(h, row, text, &out), 1);
    EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], 0) << row;
  }
  EXPECT_EQ(Fetch(h, 1), "\"gamma\"\t3");
  EXPECT_EQ(Fetch(h, 2), "\"beta\"\t2");
  EXPECT_EQ(Indexed(h, 1, "gamma"), std::vector<uint32_t>{1});
}

// Objects fetched through a handle with an echo file are also written there
// as statements; a persistent cursor on the slot serves the reads instead of
// one opened per fetch, and the close frees it.
TEST_F(RowsTest, EchoFileAndPersistentCursor) {
  const std::string path = MakeTable("echo", {{"Name", kFieldChar, 10, 0}}, kLonLat);
  Records r;
  PXObject point = Sample(r, PX_OBJECT_POINT);
  PXObject region = Sample(r, PX_OBJECT_REGION);
  PXTableHandle h = Open(path);
  Insert(h, "\"p\"", &point);
  Insert(h, "\"r\"", &region);
  Insert(h, "\"none\"");
  ASSERT_EQ(PXCloseTable(h), 1);

  const std::string echo = dir_.File("echo.txt");
  h = OpenTableWorker(path.c_str(), kModeReadOnly, echo.c_str());
  ASSERT_NE(h, 0) << PXGetLastError();
  HandleSlot* slot = SlotFind(h);
  ObjStore* store = slot->table->store;
  auto* cursor = static_cast<ObjStoreCursor*>(MemAlloc(sizeof(ObjStoreCursor)));
  ASSERT_TRUE(ObjStoreCursorOpen(cursor, store));
  slot->cursor = cursor;
  slot->persistentCursor = 1;
  for (uint32_t row = 1; row <= 3; ++row) {
    PXObject out;
    ASSERT_EQ(PXFetchRow(h, row, nullptr, &out), 1) << row;
    const PXObject& in = row == 1 ? point : region;
    if (row < 3) ExpectSame(Describe(in), Describe(out), 1e-6, std::to_string(row));
  }
  ASSERT_EQ(PXCloseTable(h), 1);
  const std::string statements = testsupport::ReadAll(echo);
  EXPECT_EQ(statements.find("Point "), 0u) << statements;
  EXPECT_NE(statements.find("\nRegion "), std::string::npos) << statements;
}

// An object that needs a newer table version raises the definition's
// versions, and the rewritten definition opens again.
TEST_F(RowsTest, ObjectNeedingANewerVersionRewritesTheDefinition) {
  const std::string path = MakeTable("versions", {{"Name", kFieldChar, 10, 0}}, kLonLat);
  PXTableHandle h = Open(path);
  Records r;
  PXObject collection = Sample(r, PX_OBJECT_COLLECTION);
  Insert(h, "\"c\"", &collection);
  const int16_t raised = SlotFind(h)->table->editVersion;
  EXPECT_GT(raised, 300);
  EXPECT_EQ(PXCloseTable(h), 1);
  h = Open(path);
  EXPECT_EQ(SlotFind(h)->table->editVersion, raised);
  PXObject out;
  ASSERT_EQ(PXFetchRow(h, 1, nullptr, &out), 1);
  ExpectSame(Describe(collection), Describe(out), 1e-6, "collection");
}

// An append that fails leaves no key in the index; a write-back that fails
// leaves the old keys and values. Delimited text takes new lines only while
// they fit its line buffer, and is never rewritten in place.
TEST_F(RowsTest, IndexesFollowOnlyWritesThatSucceed) {
  std::vector<FieldSpec> specs = {{"Name", kFieldChar, 20, 0}, {"Count", kFieldInteger, 4, 0}};
  static const char* kNames[] = {"T1",  "T2",  "T3",  "T4",  "T5",  "T6",  "T7",
                                 "T8",  "T9",  "T10", "T11", "T12", "T13", "T14",
                                 "T15", "T16", "T17", "T18", "T19"};
  for (const char* name : kNames) specs.push_back({name, kFieldChar, 254, 0});
  PXTableHandle h = Open(MakeTable("mend", specs, nullptr, kDataText, "Type ASCII Delimiter 9"));
  ASSERT_EQ(PXCreateIndex(h, 1), 1) << PXGetLastError();
  ASSERT_EQ(PXCreateIndex(h, 2), 1) << PXGetLastError();
  Insert(h, "one\t1");
  Insert(h, "two\t2");
  EXPECT_EQ(Indexed(h, 1, "two"), std::vector<uint32_t>{2});

  std::string tooLong = "three\t3";
  for (size_t i = 0; i < std::size(kNames); ++i) tooLong += "\t" + std::string(254, 'z');
  uint32_t row = 9;
  EXPECT_EQ(PXInsertRow(h, tooLong.c_str(), nullptr, &row), 0);
  EXPECT_EQ(PXGetLastError(), kErrDataWrite);
  EXPECT_EQ(row, 0u);
  EXPECT_EQ(Rows(h), 2u);
  EXPECT_EQ(Indexed(h, 1, "three"), std::vector<uint32_t>{});
  EXPECT_EQ(Indexed(h, 2, "3"), std::vector<uint32_t>{});

  EXPECT_EQ(PXUpdateRow(h, 2, "deux\t22", nullptr), 0);
  EXPECT_EQ(PXGetLastError(), kErrDataWrite);
  EXPECT_EQ(Indexed(h, 1, "deux"), std::vector<uint32_t>{});
  EXPECT_EQ(Indexed(h, 2, "22"), std::vector<uint32_t>{});
  EXPECT_EQ(Indexed(h, 1, "two"), std::vector<uint32_t>{2});
  EXPECT_EQ(Indexed(h, 2, "2"), std::vector<uint32_t>{2});
  EXPECT_EQ(Fetch(h, 2).substr(0, 8), "\"two\"\t2\t");

  // The table goes on taking rows, each found by its keys.
  const uint32_t four = Insert(h, "four\t4");
  EXPECT_EQ(four, 3u);
  EXPECT_EQ(Indexed(h, 1, "four"), std::vector<uint32_t>{four});
  EXPECT_EQ(Indexed(h, 2, "4"), std::vector<uint32_t>{four});
}

}  // namespace
