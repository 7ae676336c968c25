// The dBASE record layer and the dBASE driver: header checks, buffered
// reads, appends and updates, number texts and their clamps, and what other
// readers (python3-dbfread, shapelib's dbfdump) make of the files written.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "mapfile/foundation/date.h"
#include "tests/mapfile/tables/dbf_fixture.h"
#include "support/command.h"

namespace maptablestest {
namespace {

using namespace layerio;

// ----- the record layer -----

std::string Descriptor(const char* name, char type, int width, int decimals = 0) {
  std::string d(32, '\0');
  std::memcpy(d.data(), name, std::strlen(name));
  d[11] = type;
  d[16] = char(width);
  d[17] = char(decimals);
  return d;
}

std::string Le16(int v) { return std::string{char(v & 255), char((v >> 8) & 255)}; }
std::string Le32(uint32_t v) {
  return std::string{char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255),
                     char((v >> 24) & 255)};
}

// A header of the fields with the given count, lengths computed unless given.
std::string Header(const std::vector<std::string>& descriptors, uint32_t count,
                   int headerLength = -1, int recordLength = -1, uint8_t version = 3) {
  int sum = 0;
  for (auto& d : descriptors) sum += uint8_t(d[16]);
  if (headerLength < 0) headerLength = 32 + 32 * int(descriptors.size()) + 1;
  if (recordLength < 0) recordLength = sum + 1;
  std::string h(32, '\0');
  h[0] = char(version);
  h[1] = 124, h[2] = 1, h[3] = 2;
  h.replace(4, 4, Le32(count));
  h.replace(8, 2, Le16(headerLength));
  h.replace(10, 2, Le16(recordLength));
  for (auto& d : descriptors) h += d;
  h += '\x0D';
  return h;
}

TEST_F(DbfTest, OpenRefusesDamagedHeaders) {
  std::string two = Header({Descriptor("A", 'C', 5), Descriptor("B", 'N', 4)}, 1) +
                    " abcde   7\x1A";
  std::string noEnd = two.substr(0, 96);  // the descriptors run to the end of the bytes
  noEnd += std::string(2, 'x');
  std::string many;
  for (int i = 0; i < 256; ++i) many += Descriptor("F", 'C', 1);
  std::string tooMany = std::string(32, '\0') + many;
  tooMany[0] = 3;
  tooMany.replace(10, 2, Le16(256 + 1));
  struct Case {
    const char* what;
    std::string bytes;
    int16_t result;
  } cases[] = {
      {"sound", two, kDbfOk},
      {"fewer than 65 bytes", two.substr(0, 64), kDbfNotDbase},
      {"version 4", Header({Descriptor("A", 'C', 5)}, 0, -1, -1, 4) + "\x1A", kDbfNotDbase},
      {"version 0x30", Header({Descriptor("A", 'C', 5)}, 0, -1, -1, 0x30) + "\x1A", kDbfOk},
      {"record length disagrees",
       Header({Descriptor("A", 'C', 5), Descriptor("B", 'N', 4)}, 0, -1, 11) + "\x1A",
       kDbfNotDbase},
      {"descriptor runs past the bytes read", noEnd, kDbfNotDbase},
      {"no end mark after 255 descriptors", tooMany.substr(0, 8194), kDbfNotDbase},
      {"header length inside the descriptors",
       Header({Descriptor("A", 'C', 5), Descriptor("B", 'N', 4)}, 0, 64) + "\x1A", kDbfNotDbase},
      {"header length with room after the mark",
       Header({Descriptor("A", 'C', 5)}, 0, 32 + 32 + 1 + 263) + std::string(263, '\0'), kDbfOk},
      {"count beyond the records there",
       Header({Descriptor("A", 'C', 5), Descriptor("B", 'N', 4)}, 2) + " abcde   7\x1A",
       kDbfNotDbase},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir_.Write("t.dbf", c.bytes);
    FileHandle h = Add("t.dbf", kFileKindDbase);
    DbfFile* f = nullptr;
    EXPECT_EQ(DbfOpen(h, &f, kFileModeRead, nullptr), c.result);
    EXPECT_EQ(f != nullptr, c.result == kDbfOk);
    if (f) {
      EXPECT_EQ(DbfClose(f), kDbfOk);
    }
    FileRelease(h);
  }
}

DbfField Named(const char* name) {
  DbfField f{};
  std::memcpy(f.name, name, std::min(std::strlen(name), sizeof f.name));
  f.type = 'C';
  f.width = 5;
  return f;
}

TEST_F(DbfTest, CreateRefusesBadFields) {
  struct Case {
    const char* what;
    std::vector<DbfField> fields;
  } cases[] = {
      {"no fields", {}},
      {"name of 11 characters", {Named("ABCDEFGHIJK")}},
      {"type X", {{"A", 'X', 5, 0}}},
      {"C of width 0", {{"A", 'C', 0, 0}}},
      {"C of width 255", {{"A", 'C', 255, 0}}},
      {"N of width 0", {{"A", 'N', 0, 0}}},
      {"more than 4,000 bytes",
       std::vector<DbfField>(16, DbfField{"A", 'C', 251, 0})},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileHandle h = Add("t.dbf", kFileKindDbase);
    EXPECT_NE(DbfCreate(h, int(c.fields.size()), c.fields.data()), kDbfOk);
    FileRelease(h);
  }
  // The largest sum that is taken, with the widths of D, L and M fixed.
  std::vector<DbfField> fields(15, DbfField{"A", 'c', 250, 0});
  fields.push_back(DbfField{"D", 'd', 1, 0});
  fields.push_back(DbfField{"M", 'M', 1, 0});
  FileHandle h = Add("big.dbf", kFileKindDbase);
  ASSERT_EQ(DbfCreate(h, int(fields.size()), fields.data()), kDbfOk);
  std::string bytes = Contents("big.dbf");
  EXPECT_EQ(uint8_t(bytes[0]), 131);
  EXPECT_EQ(LoadU16(bytes, 10), 15 * 250 + 8 + 10 + 1);
  EXPECT_EQ(bytes[32 + 11], 'C');
  EXPECT_EQ(bytes.size(), 32u + 32 * 17 + 2);
  EXPECT_EQ(bytes.back(), '\x1A');
}

// Reads, appends and rewrites mixed so that every change of the buffer's
// purpose happens: the file must always read back as last written.
TEST_F(DbfTest, BufferKeepsRecordsInEveryMix) {
  DbfField field{"N", 'C', 6, 0};
  FileHandle h = Add("mix.dbf", kFileKindDbase);
  ASSERT_EQ(DbfCreate(h, 1, &field), kDbfOk);
  DbfFile* f = nullptr;
  ASSERT_EQ(DbfOpen(h, &f, kFileModeWrite, nullptr), kDbfOk);
  EXPECT_EQ(f->perBuffer, (512u - 1) / 7);
  std::vector<std::string> expect;
  auto text = [](int i) {
    char b[8];
    std::snprintf(b, sizeof b, "%6d", i);
    return std::string(b);
  };
  auto append = [&](int i) {
    ASSERT_EQ(DbfAppendRecord(f, uint32_t(expect.size() + 1),
                              reinterpret_cast<const uint8_t*>(text(i).c_str())),
              kDbfOk);
    expect.push_back(text(i));
  };
  auto check = [&](uint32_t record) {
    uint8_t data[7] = {};
    int deleted = -1;
    ASSERT_EQ(DbfReadRecord(f, record, data, &deleted), kDbfOk) << record;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 6), expect[record - 1]) << record;
    EXPECT_EQ(deleted, 0);
  };
  for (int i = 1; i <= 100; ++i) append(i);
  check(100);  // still in the append run
  check(3);    // flushes the run, reads ahead
  EXPECT_EQ(DbfAppendRecord(f, 50, reinterpret_cast<const uint8_t*>("xxxxxx")), kDbfOutOfRange);
  EXPECT_EQ(DbfAppendRecord(f, 102, reinterpret_cast<const uint8_t*>("xxxxxx")), kDbfOutOfRange);
  ASSERT_EQ(DbfWriteRecord(f, 4, reinterpret_cast<const uint8_t*>("  four")), kDbfOk);
  expect[3] = "  four";
  check(4);                                // from the changed buffer
  check(99);                               // writes the change back
  append(101);                             // drops a read-ahead buffer
  ASSERT_EQ(DbfWriteRecord(f, 101, reinterpret_cast<const uint8_t*>("   new")), kDbfOk);
  expect[100] = "   new";
  ASSERT_EQ(DbfWriteRecord(f, 1, reinterpret_cast<const uint8_t*>("   one")), kDbfOk);
  expect[0] = "   one";
  EXPECT_EQ(DbfWriteRecord(f, 102, reinterpret_cast<const uint8_t*>("xxxxxx")), kDbfOutOfRange);
  uint8_t scratch[7];
  EXPECT_EQ(DbfReadRecord(f, 0, scratch, nullptr), kDbfOutOfRange);
  EXPECT_EQ(DbfReadRecord(f, 102, scratch, nullptr), kDbfOutOfRange);
  uint32_t count = 0;
  DbfRecordCount(f, &count);
  EXPECT_EQ(count, 101u);
  for (uint32_t r = 1; r <= 101; ++r) check(r);
  ASSERT_EQ(DbfClose(f), kDbfOk);

  ASSERT_EQ(DbfOpen(h, &f, kFileModeRead, nullptr), kDbfOk);
  for (int r = 101; r >= 1; --r) check(uint32_t(r));
  ASSERT_EQ(DbfClose(f), kDbfOk);
  std::string bytes = Contents("mix.dbf");
  EXPECT_EQ(bytes.size(), 65u + 101 * 7 + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
}

TEST_F(DbfTest, DeletedRecordsReadAsFailures) {
  std::string bytes = Header({Descriptor("A", 'C', 3)}, 2) + " abc*def\x1A";
  dir_.Write("del.dbf", bytes);
  Columns cols({{"A", kFieldChar, 3, 0}});
  ASSERT_TRUE(Attach(kDataDbase, "del.dbf", cols));
  ASSERT_TRUE(Open(kFileModeRead));
  EXPECT_TRUE(Read(cols, 1));
  EXPECT_EQ(cols.Text(0), "abc");
  EXPECT_FALSE(Read(cols, 2));
  EXPECT_TRUE(Release());
}

// A Float kept in a C field is written in 14 digits when they fit, in its
// short form when only that fits, and refused when neither does: never cut.
TEST_F(DbfTest, NumbersInCharFieldsAreNeverCut) {
  dir_.Write("text.dbf", Header({Descriptor("A", 'C', 8)}, 0) + "\x1A");
  Columns cols({{"A", kFieldFloat, 8, 0}});
  ASSERT_TRUE(Attach(kDataDbase, "text.dbf", cols));
  ASSERT_TRUE(Open(kFileModeWrite));
  const struct {
    double value;
    const char* stored;  // null: refused
  } cases[] = {{0.25, "0.25"}, {1.0 / 3, "0.333333"}, {2.5e-10, "2.5e-10"}, {-2.5e10, nullptr},
                {123456789, nullptr}};
  uint32_t rows = 0;
  for (const auto& c : cases) {
    cols.V(0).u.d = c.value;
    ErrorClear();
    const uint32_t row = Insert(cols);
    if (!c.stored) {
      EXPECT_EQ(row, 0u) << c.value;
      EXPECT_EQ(ErrorLastCode(), kErrValueRefused);
      continue;
    }
    ASSERT_EQ(row, ++rows) << c.value;
    ASSERT_TRUE(Read(cols, row));
    EXPECT_EQ(cols.V(0).u.d, std::strtod(c.stored, nullptr)) << c.value;
  }
  EXPECT_TRUE(Release());
}

// ----- number text -----

// A value the field holds is written rounded to its decimals; one it cannot
// hold is refused, with a clamp as its text.
TEST(DbfNumberText, SaysWhetherTheFieldHoldsTheValueAndNeverPassesTheWidth) {
  struct Case {
    double value;
    int width, decimals;
    const char* text;
    bool fits;
  } cases[] = {
      {1234.5, 6, 1, "1234.5", true},
      {123456, 6, 1, "9999.9", false},
      {-123456, 6, 1, "-999.9", false},
      {-999.9, 6, 1, "-999.9", true},
      {9999.96, 6, 1, "9999.9", false},  // rounding carries it over the limit
      {9999.94, 6, 1, "9999.9", true},
      {-999.96, 6, 1, "-999.9", false},
      {0.5, 4, 2, "0.50", true},
      {0.5, 3, 2, ".50", true},    // held without its leading zero
      {7, 3, 2, ".99", false},     // the clamp itself is one wider than the field
      {-7, 3, 2, "***", false},    // no room for a sign
      {42, 11, 0, "         42", true},
      {-2147483648.0, 11, 0, "-2147483648", true},
      {1e12, 11, 0, "99999999999", false},
      {-1e12, 11, 0, "-9999999999", false},
      {1e12, 19, 9, "999999999.999999046", false},  // the double nearest the clamp
      {2.5, 19, 9, "        2.500000000", true},
      {1e30, 20, 0, "99999999999999901696", false},
      {NAN, 5, 1, "     ", true},
      {5, 1, 1, "*", false},  // nothing fits in a point and no digits
  };
  for (const Case& c : cases) {
    char out[300];
    EXPECT_EQ(DbfNumberText(c.value, c.width, c.decimals, out), c.fits)
        << c.value << " in N " << c.width << "," << c.decimals;
    EXPECT_STREQ(out, c.text) << c.value << " in N " << c.width << "," << c.decimals;
    EXPECT_EQ(std::strlen(out), size_t(c.width));
  }
}

TEST(DbfFieldName, MakesDbaseNames) {
  struct Case {
    const char* column;
    const char* field;
  } cases[] = {
      {"road name", "ROAD_NAME"},
      {"1st", "AST"},
      {"abcdefghijklmn", "ABCDEFGHIJ"},
      {"Name_2", "NAME_2"},
      {"_x", "AX"},
      {"caf\xe9", "CAF_"},
  };
  for (const Case& c : cases) {
    char out[11];
    DbfFieldName(c.column, out);
    EXPECT_STREQ(out, c.field) << c.column;
  }
}

// ----- the dBASE driver -----

std::vector<Col> AllTypes() {
  return {{"name", kFieldChar, 12, 0},   {"amount", kFieldDecimal, 8, 2},
          {"count", kFieldInteger, 0, 0}, {"small", kFieldSmallint, 0, 0},
          {"when", kFieldDate, 0, 0},     {"flag", kFieldLogical, 0, 0},
          {"ratio", kFieldFloat, 0, 0},   {"code", kFieldChar25, 0, 0}};
}

void FillRow(Columns& c, int i) {
  char text[32];
  std::snprintf(text, sizeof text, "row \"%d\"", i);
  c.SetText(0, text);
  c.V(1).u.d = i * 1.25 - 300;
  c.V(2).u.i = i * 100003 - 50000000;
  c.V(3).u.s = int16_t(i * 31 - 15000);
  c.V(4).u.date = i % 7 == 0 ? DateRec{0, 0, 0}
                             : DateRec{int16_t(1990 + i % 40), uint8_t(1 + i % 12),
                                       uint8_t(1 + i % 28)};
  c.V(5).u.b = i % 3 == 0;
  c.V(6).u.d = i / 7.0;
  std::snprintf(text, sizeof text, "c%d", i);
  c.SetText(7, text);
}

// What a row reads back as, in the form the oracle prints.
std::string RowLine(Columns& c) {
  char line[256];
  const DateRec& d = c.V(4).u.date;
  char date[16] = "";
  if (d.month != 0) std::snprintf(date, sizeof date, "%04d-%02d-%02d", d.year, d.month, d.day);
  std::snprintf(line, sizeof line, "%s|%.2f|%d|%d|%s|%d|%.9f|%s", c.Text(0).c_str(), c.V(1).u.d,
                c.V(2).u.i, c.V(3).u.s, date, c.V(5).u.b ? 1 : 0,
                c.V(6).u.d, c.Text(7).c_str());
  return line;
}

class DbaseFileTest : public DbfTest {
 protected:
  // Writes 1,000 rows of every type into t.dbf and closes it.
  void WriteThousand(std::vector<std::string>* lines) {
    Columns cols(AllTypes());
    ASSERT_TRUE(Create(kDataDbase, "t.dbf", cols));
    EXPECT_EQ(cols[7].value.kind, kFieldChar);
    EXPECT_EQ(cols[7].width, 25);
    ASSERT_TRUE(Open(kFileModeWrite));
    for (int i = 1; i <= 1000; ++i) {
      FillRow(cols, i);
      ASSERT_EQ(Insert(cols), uint32_t(i));
      EXPECT_EQ(source_.currentRow, uint32_t(i));
      if (lines) lines->push_back(RowLine(cols));
    }
    ASSERT_TRUE(Release());
    Unbind();
  }
};

TEST_F(DbaseFileTest, ThousandAppendsStampTheHeaderAndEndMark) {
  std::vector<std::string> lines;
  WriteThousand(&lines);
  std::string bytes = Contents("t.dbf");
  const int fields = 8, recordLength = 1 + 12 + 8 + 11 + 6 + 8 + 1 + 19 + 25;
  ASSERT_EQ(LoadU16(bytes, 8), 32 + 32 * fields + 1);
  ASSERT_EQ(LoadU16(bytes, 10), recordLength);
  EXPECT_EQ(LoadU32(bytes, 4), 1000u);
  EXPECT_EQ(bytes[0], 3);
  DateRec today;
  DateToday(&today);
  EXPECT_EQ(uint8_t(bytes[1]), today.year - 1900);
  EXPECT_EQ(uint8_t(bytes[2]), today.month);
  EXPECT_EQ(uint8_t(bytes[3]), today.day);
  ASSERT_EQ(bytes.size(), size_t(32 + 32 * fields + 1 + 1000 * recordLength + 1));
  EXPECT_EQ(bytes.back(), '\x1A');
  const char* expected[][3] = {{"NAME", "C", "12"}, {"AMOUNT", "N", "8"}, {"COUNT", "N", "11"},
                               {"SMALL", "N", "6"}, {"WHEN", "D", "8"},   {"FLAG", "L", "1"},
                               {"RATIO", "N", "19"}, {"CODE", "C", "25"}};
  for (int i = 0; i < fields; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(bytes.c_str() + 32 + 32 * i, expected[i][0]);
    EXPECT_EQ(bytes[32 + 32 * i + 11], expected[i][1][0]);
    EXPECT_EQ(uint8_t(bytes[32 + 32 * i + 16]), std::atoi(expected[i][2]));
  }
  // The first record as text.
  std::string first = bytes.substr(32 + 32 * fields + 1, recordLength);
  EXPECT_EQ(first, std::string(" row \"1\"     ") + " -298.75" + "  -49899997" + "-14969" +
                       "19910202" + "F" + "        0.142857143" + "c1" + std::string(23, ' '));

  Columns cols(AllTypes());
  cols[7].value.kind = kFieldChar;  // as it came back from create
  ValueFree(&cols[7].value);
  cols[7].width = 25;
  ValueAlloc(25, &cols[7].value, nullptr);
  ASSERT_TRUE(Attach(kDataDbase, "t.dbf", cols));
  EXPECT_EQ(source_.rowCount, 1000u);
  ASSERT_TRUE(Open(kFileModeRead));
  for (uint32_t r = 1; r <= 1000; ++r) {
    ASSERT_TRUE(Read(cols, r));
    ASSERT_EQ(RowLine(cols), lines[r - 1]) << r;
  }
  EXPECT_FALSE(Read(cols, 1001));
  EXPECT_TRUE(Release());
}

TEST_F(DbaseFileTest, UpdateRewritesOneRecordInPlace) {
  std::vector<std::string> lines;
  WriteThousand(&lines);
  Columns cols(AllTypes());
  cols[7].value.kind = kFieldChar;
  cols[7].width = 25;
  ValueAlloc(25, &cols[7].value, nullptr);
  ASSERT_TRUE(Attach(kDataDbase, "t.dbf", cols));
  ASSERT_TRUE(Open(kFileModeWrite));
  ASSERT_TRUE(Read(cols, 500));
  FillRow(cols, 777);
  cols.V(1).u.d = 99999.994;  // the widest N 8,2 holds, once rounded
  ASSERT_TRUE(Update(cols, 500));
  EXPECT_EQ(source_.currentRow, 500u);
  EXPECT_FALSE(Update(cols, 1001));
  // Values the fields cannot hold refuse the update and leave the record:
  // a Decimal past its width, a Float past the N 19,9 it is kept in.
  for (double* d : {&cols.V(1).u.d, &cols.V(6).u.d}) {
    const double kept = *d;
    *d = 1e9;
    ErrorClear();
    EXPECT_FALSE(Update(cols, 500));
    EXPECT_EQ(ErrorLastCode(), kErrValueRefused);
    *d = kept;
  }
  ASSERT_TRUE(Release());
  ASSERT_TRUE(Open(kFileModeRead));
  for (uint32_t r : {499u, 500u, 501u}) {
    ASSERT_TRUE(Read(cols, r));
    if (r != 500) {
      EXPECT_EQ(RowLine(cols), lines[r - 1]);
    }
  }
  ASSERT_TRUE(Read(cols, 500));
  EXPECT_EQ(cols.Text(0), "row \"777\"");
  EXPECT_DOUBLE_EQ(cols.V(1).u.d, 99999.99);
  EXPECT_EQ(cols.V(2).u.i, 777 * 100003 - 50000000);
  EXPECT_TRUE(Release());
  EXPECT_EQ(LoadU32(Contents("t.dbf"), 4), 1000u);
}

// Logicals, blank dates and empty numbers (blanks or asterisks: no value in
// a Decimal column, 0 in an Integer one), as other programs write them.
TEST_F(DbfTest, ReadsLogicalsAndBlankDatesAsOtherProgramsWriteThem) {
  std::vector<std::vector<std::string>> records = {
      {"y", "20200131", " 12.5", "         -7"}, {"N", "        ", " -1.0", " 2147483647"},
      {" ", "2020ab31", "     ", "           "}, {"T", "00000000", "  0.0", "           "},
      {"t", "202101  ", "  x.5", "99999999999"}, {"?", "20211301", "  1e1", "          0"},
      {"F", "20200131", "*****", "***********"}, {"F", "20200131", "  ***", "        ***"}};
  std::string bytes = Header({Descriptor("L", 'L', 1), Descriptor("D", 'D', 8),
                              Descriptor("N", 'N', 5, 1), Descriptor("I", 'N', 11)},
                             uint32_t(records.size()));
  for (auto& r : records) {
    ASSERT_EQ(r[0].size() + r[1].size() + r[2].size() + r[3].size(), 25u);
    bytes += " " + r[0] + r[1] + r[2] + r[3];
  }
  bytes += "\x1A";
  dir_.Write("l.dbf", bytes);
  Columns cols({{"L", kFieldLogical, 1, 0},
                {"D", kFieldDate, 8, 0},
                {"N", kFieldDecimal, 5, 1},
                {"I", kFieldInteger, 11, 0}});
  ASSERT_TRUE(Attach(kDataDbase, "l.dbf", cols));
  ASSERT_TRUE(Open(kFileModeRead));
  struct Expect {
    int logical;
    DateRec date;
    double number;
    int32_t integer;
  } rows[] = {
      {1, {2020, 1, 31}, 12.5, -7},        {0, {0, 0, 0}, -1.0, 2147483647},
      {0, {0, 0, 0}, -DBL_MAX, 0},         {1, {0, 0, 0}, 0, 0},
      {1, {0, 0, 0}, 0, 0},                {0, {2021, 13, 1}, 10, 0},
      {0, {2020, 1, 31}, -DBL_MAX, 0},     {0, {2020, 1, 31}, -DBL_MAX, 0},
  };
  for (uint32_t r = 1; r <= records.size(); ++r) {
    SCOPED_TRACE(r);
    ASSERT_TRUE(Read(cols, r));
    EXPECT_EQ(cols.V(0).u.b, rows[r - 1].logical);
    EXPECT_EQ(cols.V(1).u.date.year, rows[r - 1].date.year);
    EXPECT_EQ(cols.V(1).u.date.month, rows[r - 1].date.month);
    EXPECT_EQ(cols.V(1).u.date.day, rows[r - 1].date.day);
    EXPECT_DOUBLE_EQ(cols.V(2).u.d, rows[r - 1].number);
    EXPECT_EQ(cols.V(3).u.i, rows[r - 1].integer);
  }
  char text[32];
  EXPECT_STREQ(ValueToText(&cols.V(2), text, sizeof text, 1, 0), "");
  EXPECT_TRUE(Release());

  // A row rewritten as it was read keeps its empty number empty.
  ASSERT_TRUE(Open(kFileModeWrite));
  ASSERT_TRUE(Read(cols, 7));
  ASSERT_TRUE(Update(cols, 7));
  ASSERT_TRUE(Release());
  const size_t record7 = size_t(32 + 32 * 4 + 1 + 6 * 26);
  EXPECT_EQ(Contents("l.dbf").substr(record7, 26), " F20200131" + std::string(15, ' ') + "0");
}

TEST_F(DbfTest, AttachRefusesDisagreeingColumns) {
  std::string bytes = Header({Descriptor("C", 'C', 5), Descriptor("M", 'M', 10),
                              Descriptor("N", 'N', 8, 2), Descriptor("I", 'N', 11)},
                             0) +
                      "\x1A";
  dir_.Write("a.dbf", bytes);
  struct Case {
    const char* what;
    std::vector<Col> cols;
    bool ok;
  } cases[] = {
      {"agreeing", {{"C", 1, 5, 0}, {"N", 2, 8, 2}, {"I", 3, 0, 0}}, true},
      {"integer over text", {{"C", 3, 0, 0}, {"N", 2, 8, 2}, {"I", 3, 0, 0}}, true},
      {"float over N 8,2", {{"C", 1, 5, 0}, {"N", 8, 8, 2}, {"I", 3, 0, 0}}, false},
      {"char width 6", {{"C", 1, 6, 0}, {"N", 2, 8, 2}, {"I", 3, 0, 0}}, false},
      {"decimals 3", {{"C", 1, 5, 0}, {"N", 2, 8, 3}, {"I", 3, 0, 0}}, false},
      {"smallint over N 11", {{"C", 1, 5, 0}, {"N", 2, 8, 2}, {"I", 4, 0, 0}}, false},
      {"memo counted", {{"C", 1, 5, 0}, {"M", 9, 10, 0}, {"N", 2, 8, 2}, {"I", 3, 0, 0}}, false},
      {"one short", {{"C", 1, 5, 0}, {"N", 2, 8, 2}}, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Columns cols(c.cols);
    EXPECT_EQ(Attach(kDataDbase, "a.dbf", cols), c.ok);
    Unbind();
  }
  // With the width flag a Decimal column counts the point and the decimals,
  // and a Float column takes any N field.
  Columns wide({{"C", 1, 5, 0}, {"N", 2, 11, 2}, {"I", 8, 0, 0}});
  EXPECT_TRUE(Attach(kDataDbase, "a.dbf", wide, 1));
  EXPECT_EQ(wide[1].width, 11);
  EXPECT_EQ(wide[2].width, 11);
}

TEST_F(DbfTest, DescribeNamesColumnsAndRefusesUnknownLetters) {
  std::string bytes = Header({Descriptor("ROAD_NAME", 'C', 30), Descriptor("MEMO", 'M', 10),
                              Descriptor("AREA", 'N', 9, 3), Descriptor("BIG", 'F', 19, 11),
                              Descriptor("SEEN", 'D', 8), Descriptor("OK", 'L', 1)},
                             0) +
                      "\x1A";
  dir_.Write("d.dbf", bytes);
  for (uint16_t flag : {0, 1}) {
    SCOPED_TRACE(flag);
    Bind(kDataDbase, "d.dbf", flag);
    TableObject table{};
    ASSERT_TRUE(driver_->describe(&source_, &table));
    ASSERT_EQ(table.fieldCount, 5u);
    struct Expect {
      const char* name;
      uint8_t type, width, decimals;
    } expect[] = {{"Road_name", kFieldChar, 30, 0},
                  {"Area", kFieldDecimal, uint8_t(flag ? 13 : 9), 3},
                  {"Big", uint8_t(flag ? kFieldFloat : kFieldDecimal), 19, 11},
                  {"Seen", kFieldDate, 8, 0},
                  {"Ok", kFieldLogical, 1, 0}};
    for (int i = 0; i < 5; ++i) {
      EXPECT_STREQ(table.fields[i].name, expect[i].name);
      EXPECT_EQ(table.fields[i].value.kind, expect[i].type) << i;
      EXPECT_EQ(table.fields[i].width, expect[i].width) << i;
      EXPECT_EQ(table.fields[i].decimals, expect[i].decimals) << i;
    }
    MemFree(table.fields);
    EXPECT_TRUE(driver_->hasMemo(&source_));
    Unbind();
  }
  dir_.Write("y.dbf", Header({Descriptor("A", 'C', 3), Descriptor("CUR", 'Y', 8)}, 0) + "\x1A");
  Bind(kDataDbase, "y.dbf");
  TableObject table{};
  EXPECT_FALSE(driver_->describe(&source_, &table));
  EXPECT_TRUE(Pushed(kErrDbaseFieldType));
  EXPECT_FALSE(driver_->hasMemo(&source_));
}

TEST_F(DbfTest, CreateRefusesMemoAndTooManyColumns) {
  Columns memo({{"a", kFieldChar, 5, 0}, {"m", kFieldMemo, 10, 0}});
  EXPECT_FALSE(Create(kDataDbase, "m.dbf", memo));
  std::vector<Col> many(251, Col{"c", kFieldLogical, 1, 0});
  Columns wide(many);
  EXPECT_FALSE(Create(kDataDbase, "w.dbf", wide));
  EXPECT_TRUE(Pushed(kErrTooManyColumns));
}

// Texts are kept in the file's charset and read in the library's.
TEST_F(DbfTest, CharTextsCrossTheFileCharset) {
  ASSERT_EQ(CharsetInit(), 1);
  int oem = CharsetFromName("CodePage437");
  ASSERT_GT(oem, 0);
  for (uint8_t kind : {kDataDbase, kDataNative}) {
    SCOPED_TRACE(int(kind));
    Columns cols({{"name", kFieldChar, 6, 0}});
    Bind(kind, kind == kDataDbase ? "oem.dbf" : "oem.dat");
    source_.params.words[2] = uint32_t(oem);
    source_.columnCount = 1;
    int32_t n = 1;
    ASSERT_TRUE(driver_->create(&source_, cols.data(), n));
    ASSERT_TRUE(driver_->attach(&source_, cols.data(), &n));
    ASSERT_TRUE(Open(kFileModeWrite));
    cols.SetText(0, "\xC4pfel");  // in WindowsLatin1
    ASSERT_EQ(Insert(cols), 1u);
    cols.SetText(0, "");
    ASSERT_TRUE(Read(cols, 1));
    EXPECT_EQ(cols.Text(0), "\xC4pfel");
    ASSERT_TRUE(Release());
    std::string bytes = Contents(kind == kDataDbase ? "oem.dbf" : "oem.dat");
    EXPECT_EQ(bytes.substr(32 + 32 + 1 + 1, 6), kind == kDataDbase ? std::string("\x8Epfel ")
                                                                  : std::string("\x8Epfel\0", 6));
  }
}

// ----- other readers -----

// Runs a Python script on a file; its standard output.
std::string RunPython(const std::string& script, const std::string& path) {
  testsupport::TempDir dir;
  std::string file = dir.Write("oracle.py", script);
  std::string out;
  EXPECT_TRUE(testsupport::RunCommand(
      std::string(testsupport::kPython) + " '" + file + "' '" + path + "'", &out));
  return out;
}

// The rows of t.dbf as python3-dbfread prints them, one line per record.
std::string DbfreadLines(const std::string& path) {
  std::string script =
      "import sys\n"
      "from dbfread import DBF\n"
      "t = DBF(sys.argv[1], encoding='latin1', char_decode_errors='strict')\n"
      "out = []\n"
      "for r in t:\n"
      "  v = list(r.values())\n"
      "  d = v[4].isoformat() if v[4] else ''\n"
      "  out.append('%s|%.2f|%d|%d|%s|%d|%.9f|%s' % (v[0], v[1], v[2], v[3], d, 1 if v[5] else 0,"
      " v[6], v[7]))\n"
      "sys.stdout.buffer.write(('\\n'.join(out) + '\\n').encode('latin1'))\n";
  return RunPython(script, path);
}

TEST_F(DbaseFileTest, WrittenFilesReadTheSameInDbfreadAndDbfdump) {
  if (!testsupport::HavePythonModule("dbfread") || !testsupport::HaveCommand("command -v dbfdump")) {
    GTEST_SKIP() << "python3-dbfread or dbfdump missing";
  }
  std::vector<std::string> lines;
  WriteThousand(&lines);
  std::string all;
  for (auto& l : lines) all += l + "\n";
  EXPECT_EQ(DbfreadLines(PathOf("t.dbf")), all);

  // dbfdump prints the header row and then each record's fields, in their
  // file text with the trailing blanks cut.
  std::string out;
  ASSERT_TRUE(testsupport::RunCommand("dbfdump -m -r '" + PathOf("t.dbf") + "'", &out));
  std::istringstream in(out);
  std::string line;
  int records = 0, values = 0;
  std::map<std::string, std::string> first;
  while (std::getline(in, line)) {
    if (line.rfind("Record: ", 0) == 0) {
      ++records;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || records != 1) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    first[key] = value;
    ++values;
  }
  EXPECT_EQ(records, 1000);
  EXPECT_EQ(values, 8);
  EXPECT_EQ(first["NAME"], "row \"1\"");
  EXPECT_EQ(first["AMOUNT"], "-298.75");
  EXPECT_EQ(first["COUNT"], "-49899997");
  EXPECT_EQ(first["SMALL"], "-14969");
  EXPECT_EQ(first["WHEN"], "19910202");
  EXPECT_EQ(first["FLAG"], "F");
  EXPECT_EQ(first["RATIO"], "0.142857143");
  EXPECT_EQ(first["CODE"], "c1");
}

// Every .dbf of the shared data through the dBASE driver, against
// python3-dbfread: the files the driver describes read value for value; the
// others are refused at describe for a field letter it does not take.
TEST_F(DbfTest, SharedDataFilesReadAsDbfreadReadsThem) {
  if (!testsupport::HavePythonModule("dbfread")) GTEST_SKIP() << "python3-dbfread missing";
  std::vector<std::string> files;
  for (auto& e : std::filesystem::recursive_directory_iterator(GSB_SHARED_DATA_DIR)) {
    std::string ext = e.path().extension().string();
    if (ext == ".dbf" || ext == ".DBF") files.push_back(e.path().string());
  }
  ASSERT_FALSE(files.empty());
  int compared = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    ErrorClear();
    Unbind();
    source_.kind = kDataDbase;
    source_.file = FileTableAddName(path.c_str(), kFileKindDbase);
    source_.params.words[2] = uint32_t(CurrentTableCharset());
    driver_ = DbaseDataDriver();
    TableObject table{};
    if (!driver_->describe(&source_, &table)) {
      // Refused: either not a dBASE file by its header, or a letter the
      // driver does not take (721).
      DbfFile* f = nullptr;
      int16_t r = DbfOpen(source_.file, &f, kFileModeRead, nullptr);
      if (f) DbfClose(f);
      EXPECT_TRUE(r == kDbfNotDbase || Pushed(kErrDbaseFieldType)) << r;
      Unbind();
      continue;
    }
    std::vector<Col> spec;
    for (uint32_t i = 0; i < table.fieldCount; ++i) {
      const FieldDef& f = table.fields[i];
      spec.push_back({f.name, f.value.kind, f.width, f.decimals});
    }
    Columns cols(spec);
    MemFree(table.fields);
    source_.columnCount = cols.size();
    int32_t n = cols.size();
    ASSERT_TRUE(driver_->attach(&source_, cols.data(), &n));
    ASSERT_TRUE(Open(kFileModeRead));
    std::string ours;
    for (uint32_t r = 1; r <= source_.rowCount; ++r) {
      if (!Read(cols, r)) continue;  // deleted
      for (int32_t i = 0; i < cols.size(); ++i) {
        const Value& v = cols.V(size_t(i));
        char text[64];
        switch (v.kind) {
          case kFieldChar:
            ours += cols.Text(size_t(i));
            break;
          case kFieldDecimal:
          case kFieldFloat:
            std::snprintf(text, sizeof text, "%.15g", v.u.d);
            ours += text;
            break;
          case kFieldDate:
            if (v.u.date.month) {
              std::snprintf(text, sizeof text, "%04d-%02d-%02d", v.u.date.year, v.u.date.month,
                            v.u.date.day);
              ours += text;
            }
            break;
          case kFieldLogical:
            ours += v.u.b ? "1" : "0";
            break;
        }
        ours += i + 1 < cols.size() ? "|" : "\n";
      }
    }
    ASSERT_TRUE(Release());
    Unbind();

    std::string script =
        "import sys\n"
        "from dbfread import DBF\n"
        "t = DBF(sys.argv[1], encoding='latin1', ignore_missing_memofile=True)\n"
        "names = [f.name for f in t.fields if f.type not in 'MP']\n"
        "types = {f.name: f.type for f in t.fields}\n"
        "out = []\n"
        "for r in t:\n"
        "  row = []\n"
        "  for n in names:\n"
        "    v = r[n]\n"
        "    ty = types[n]\n"
        "    if ty in 'NF': row.append('%.15g' % float(v if v is not None else 0))\n"
        "    elif ty == 'D': row.append(v.isoformat() if v else '')\n"
        "    elif ty == 'L': row.append('1' if v else '0')\n"
        "    else: row.append(v.rstrip(''.join(map(chr, range(33)))))\n"
        "  out.append('|'.join(row) + '\\n')\n"
        "sys.stdout.buffer.write(''.join(out).encode('latin1'))\n";
    EXPECT_EQ(ours, RunPython(script, path));
    ++compared;
  }
  EXPECT_GE(compared, 8);
}

}  // namespace
}  // namespace maptablestest
