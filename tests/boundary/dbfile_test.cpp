#include "boundary/dbfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/pagefile.h"
#include "boundary/shapefile.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;

DbfField Field(const char* name, char type, uint8_t width, uint8_t decimals = 0) {
  DbfField f{};
  std::snprintf(f.name, sizeof f.name, "%s", name);
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  return f;
}

struct Spec {
  const char* name;
  char type;
  uint8_t width;
};

// The bytes of a table as other writers make it: the given descriptors,
// extra bytes of room after the field list, records given as their texts
// (the deletion byte included).
std::string TableBytes(const std::vector<Spec>& fields, const std::vector<std::string>& records,
                       size_t room = 0) {
  std::string b(32, '\0');
  size_t headerLength = 32 * fields.size() + 33 + room, recordLength = 1;
  for (const Spec& f : fields) recordLength += f.width;
  b[0] = 3;
  b[1] = 124;
  b[2] = 1;
  b[3] = 31;
  QStoreU32LE(reinterpret_cast<uint8_t*>(&b[4]), uint32_t(records.size()));
  QStoreU16LE(reinterpret_cast<uint8_t*>(&b[8]), uint16_t(headerLength));
  QStoreU16LE(reinterpret_cast<uint8_t*>(&b[10]), uint16_t(recordLength));
  b[29] = 0x57;  // a code-page mark
  for (const Spec& f : fields) {
    std::string d(32, '\0');
    std::memcpy(&d[0], f.name, std::strlen(f.name));
    d[11] = f.type;
    d[16] = char(f.width);
    b += d;
  }
  b += '\x0d';
  b.append(room, '\0');
  for (const std::string& r : records) b += r;
  return b;
}

const std::vector<Spec> kCityFields = {{"NAME", 'C', 8}, {"POP", 'N', 6}, {"CAPITAL", 'L', 1}};
const std::vector<std::string> kCities = {" Raleigh   4670T", "*Durham     283F",
                                          " Cary       174?"};

std::string Text(const DbfField& f) { return f.value.text; }

// ---- names ----

TEST(DbfNameTest, ExtensionAppendedUnlessTheNameEndsInLowerDbf) {
  const struct {
    const char* given;
    const char* made;
  } cases[] = {{"t", "t.dbf"}, {"t.dbf", "t.dbf"}, {"T.DBF", "T.DBF.dbf"}};
  for (const auto& c : cases) {
    TempDir dir;
    DbfField field = Field("A", DBF_CHARACTER, 4);
    DbfHandle h{};
    h.fieldCount = 1;
    h.fields = &field;
    ASSERT_EQ(dbCreate(&h, dir.File(c.given).c_str()), 0) << c.given;
    ASSERT_EQ(dbClose(&h), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File(c.made))) << c.given;
    DbfHandle r{};
    EXPECT_EQ(dbOpen(&r, dir.File(c.given).c_str()), 0) << c.given;
    EXPECT_EQ(dbClose(&r), 0);
  }
  // Tables named in capitals beside a shapefile named in lower case.
  TempDir dir;
  dir.Write("NC.DBF", TableBytes(kCityFields, kCities));
  DbfHandle h{};
  EXPECT_EQ(dbOpen(&h, dir.File("nc").c_str()), 0) << ShapeLastError();
  EXPECT_EQ(dbClose(&h), 0);
}

// ---- create and write ----

TEST(DbfCreateTest, HeaderDescriptorsAndRecords) {
  TempDir dir;
  std::vector<DbfField> fields = {
      Field("NAME", DBF_CHARACTER, 6), Field("WHEN", DBF_DATE, 3), Field("POP", DBF_NUMERIC, 10, 2),
      Field("OK", DBF_LOGICAL, 5),     Field("NOTE", DBF_MEMO, 0), Field("RATIO", DBF_FLOAT, 8, 3)};
  std::snprintf(fields[5].format, sizeof fields[5].format, "%%8.3f");
  DbfHandle h{};
  h.fieldCount = uint32_t(fields.size());
  h.fields = fields.data();
  std::string path = dir.File("made.dbf");
  ASSERT_EQ(dbCreate(&h, path.c_str()), 0);
  EXPECT_EQ(fields[1].width, 8);
  EXPECT_EQ(fields[3].width, 1);
  EXPECT_EQ(fields[4].width, 10);
  EXPECT_STREQ(fields[2].format, "%10.2f");
  auto row = [&](const char* name, const char* when, double pop, char ok, double ratio) {
    std::snprintf(fields[0].value.text, sizeof fields[0].value.text, "%s", name);
    std::snprintf(fields[1].value.text, sizeof fields[1].value.text, "%s", when);
    fields[2].value.number = pop;
    fields[3].value.logical = ok;
    fields[5].value.number = ratio;
    return dbWrite(&h);
  };
  ASSERT_EQ(row("Ash", "20240131", 1234.5, 'T', 0.125), 0);
  ASSERT_EQ(row("Durham County", "2024", -3.14159, 'F', 100000), 0);
  ASSERT_EQ(dbClose(&h), 0);

  std::string b = ReadAll(path);
  const size_t headerLength = 32 * 6 + 33, recordLength = 1 + 6 + 8 + 10 + 1 + 10 + 8;
  ASSERT_EQ(b.size(), headerLength + 2 * recordLength) << "nothing follows the last record";
  EXPECT_EQ(b[0], 3);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(uint8_t(b[1]), local.tm_year);
  EXPECT_EQ(uint8_t(b[2]), local.tm_mon + 1);
  EXPECT_EQ(uint8_t(b[3]), local.tm_mday);
  EXPECT_EQ(QLoadU32LE(reinterpret_cast<const uint8_t*>(&b[4])), 2u);
  EXPECT_EQ(QLoadU16LE(reinterpret_cast<const uint8_t*>(&b[8])), headerLength);
  EXPECT_EQ(QLoadU16LE(reinterpret_cast<const uint8_t*>(&b[10])), recordLength);
  EXPECT_EQ(b.substr(12, 20), std::string(20, '\0'));
  std::string when = b.substr(64, 32);
  EXPECT_EQ(when, std::string("WHEN", 4) + std::string(7, '\0') + "D" + std::string(4, '\0') +
                      "\x08" + std::string(15, '\0'));
  EXPECT_EQ(b[32 + 2 * 32 + 17], 2) << "decimals of POP";
  EXPECT_EQ(b[headerLength - 1], '\x0d');
  EXPECT_EQ(b.substr(headerLength, recordLength), std::string(" Ash\0\0\0"
                                                              "20240131"
                                                              "   1234.50"
                                                              "T",
                                                              26) +
                                                      std::string(10, '\0') + "   0.125");
  // Texts are cut at their width; a number too wide for its decimals keeps
  // fewer of them.
  EXPECT_EQ(b.substr(headerLength + recordLength, recordLength), std::string(" Durham"
                                                                             "2024\0\0\0\0"
                                                                             "     -3.14"
                                                                             "F",
                                                                             26) +
                                                                     std::string(10, '\0') +
                                                                     "100000.0");

  DbfHandle r{};
  ASSERT_EQ(dbOpen(&r, path.c_str()), 0);
  ASSERT_EQ(r.fieldCount, 6u);
  EXPECT_STREQ(r.fields[5].name, "RATIO");
  EXPECT_EQ(r.fields[5].type, DBF_FLOAT);
  EXPECT_STREQ(r.fields[0].format, "%6.0f");
  ASSERT_EQ(dbRead(&r), 0);
  EXPECT_EQ(Text(r.fields[0]), "Ash");
  EXPECT_EQ(Text(r.fields[1]), "20240131");
  EXPECT_EQ(r.fields[2].value.number, 1234.5);
  EXPECT_EQ(r.fields[3].value.logical, 'T');
  EXPECT_EQ(r.fields[5].value.number, 0.125);
  ASSERT_EQ(dbRead(&r), 0);
  EXPECT_EQ(Text(r.fields[0]), "Durham");
  EXPECT_EQ(r.fields[2].value.number, -3.14);
  EXPECT_EQ(r.fields[5].value.number, 100000);
  EXPECT_EQ(dbRead(&r), 1);
  EXPECT_EQ(dbReadByRecno(&r, 0), 0);
  EXPECT_EQ(Text(r.fields[0]), "Ash");
  EXPECT_EQ(dbReadByRecno(&r, 2), 1);
  EXPECT_EQ(dbClose(&r), 0);
  EXPECT_EQ(r.fields, nullptr);
}

TEST(DbfWriteTest, NumbersFitTheirWidth) {
  const struct {
    double value;
    char type;
    uint8_t width, decimals;
    const char* format;  // of an 'F' field, as its creator fills it
    const char* text;    // null: refused
  } cases[] = {
      {1234.5, DBF_NUMERIC, 10, 2, "", "   1234.50"},
      {328239523, DBF_NUMERIC, 24, 15, "", "328239523.00000000000000"},
      {99999.96, DBF_NUMERIC, 7, 1, "", " 100000"},
      {-0.001, DBF_NUMERIC, 6, 3, "", "-0.001"},
      {4.35, DBF_NUMERIC, 5, 2, "", " 4.35"},
      {2.5, DBF_FLOAT, 8, 3, "%8.1f", "     2.5"},
      {2.5, DBF_FLOAT, 8, 3, "", "   2.500"},
      {1e30, DBF_NUMERIC, 10, 2, "", nullptr},
      {12345, DBF_NUMERIC, 4, 0, "", nullptr},
  };
  for (const auto& c : cases) {
    TempDir dir;
    DbfField field = Field("POP", c.type, c.width, c.decimals);
    std::snprintf(field.format, sizeof field.format, "%s", c.format);
    DbfHandle h{};
    h.fieldCount = 1;
    h.fields = &field;
    std::string path = dir.File("n.dbf");
    ASSERT_EQ(dbCreate(&h, path.c_str()), 0);
    field.value.number = c.value;
    EXPECT_EQ(dbWrite(&h), c.text ? 0 : -1) << c.value;
    ASSERT_EQ(dbClose(&h), 0);
    std::string b = ReadAll(path);
    if (c.text) {
      EXPECT_EQ(b.substr(32 + 33 + 1), c.text) << c.value;
    } else {
      EXPECT_EQ(b.size(), 32u + 33) << "nothing written for a refused record";
      EXPECT_EQ(h.recordCount, 0u);
      EXPECT_NE(std::string(ShapeLastError())
                    .find("does not fit field POP (width " + std::to_string(c.width) + ")"),
                std::string::npos)
          << ShapeLastError();
    }
  }
}

TEST(DbfCreateTest, RefusedFieldLists) {
  TempDir dir;
  std::vector<DbfField> wide = {Field("A", DBF_NUMERIC, 32)};
  std::vector<DbfField> many(2047, Field("A", DBF_CHARACTER, 1));
  std::vector<DbfField> long_ = {Field("A", DBF_CHARACTER, 255)};
  long_.resize(300, long_[0]);
  const struct {
    const char* name;
    std::vector<DbfField>* fields;
    const char* text;
  } cases[] = {{"none", nullptr, "no fields given"},
               {"wide number", &wide, "number field A is 32 wide; at most 31 is supported"},
               {"too many", &many, "too many fields (2047)"},
               {"too long", &long_, "do not fit the record length 65535"}};
  for (const auto& c : cases) {
    DbfHandle h{};
    if (c.fields) {
      h.fieldCount = uint32_t(c.fields->size());
      h.fields = c.fields->data();
    }
    EXPECT_EQ(dbCreate(&h, dir.File("x").c_str()), -1) << c.name;
    EXPECT_NE(std::string(ShapeLastError()).find(c.text), std::string::npos)
        << c.name << ": " << ShapeLastError();
    EXPECT_EQ(dbClose(&h), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.dbf")));
}

// ---- read ----

TEST(DbfReadTest, RecordsAsOtherWritersLeaveThem) {
  const struct {
    const char* name;
    std::string bytes;
    int last;  // what the read after the three records gives
    uint32_t count = 3;
  } cases[] = {
      {"no end mark", TableBytes(kCityFields, kCities), 1},
      {"end mark", TableBytes(kCityFields, kCities) + "\x1a", 1},
      {"room after the fields", TableBytes(kCityFields, kCities, 263), 1},
      // The header's count ends the table: what follows is no record.
      {"bytes after the counted records", TableBytes(kCityFields, kCities) + " Apex  ", 1},
      {"record cut short", TableBytes(kCityFields, {kCities[0], kCities[1], kCities[2], " Apex  "}),
       -1, 4},
      {"records missing", TableBytes(kCityFields, {kCities[0], kCities[1], kCities[2], "", ""}), 1,
       5},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string path = dir.Write("t.dbf", c.bytes);
    DbfHandle h{};
    ASSERT_EQ(dbOpen(&h, path.c_str()), 0) << c.name << ": " << ShapeLastError();
    ASSERT_EQ(h.fieldCount, 3u) << c.name;
    EXPECT_EQ(h.recordCount, c.count);
    EXPECT_EQ(h.updated[0], 124);
    std::vector<std::string> rows;
    int status;
    while ((status = dbRead(&h)) == 0)
      rows.push_back(Text(h.fields[0]) + "|" + std::to_string(h.fields[1].value.number) + "|" +
                     h.fields[2].value.logical);
    // Deleted records come like the others.
    EXPECT_EQ(rows, (std::vector<std::string>{"Raleigh |4670.000000|T", "Durham  |283.000000|F",
                                              "Cary    |174.000000|?"}))
        << c.name;
    EXPECT_EQ(status, c.last) << c.name;
    if (c.last == -1) {
      EXPECT_NE(std::string(ShapeLastError()).find("cut short"), std::string::npos);
    }
    EXPECT_EQ(dbReadByRecno(&h, 1), 0) << c.name;
    EXPECT_EQ(Text(h.fields[0]), "Durham  ");
    EXPECT_EQ(dbClose(&h), 0);
  }
}

TEST(DbfReadTest, NumberTexts) {
  const struct {
    const char* text;
    double value;
  } cases[] = {{"   12.5", 12.5}, {"  -0.25", -0.25}, {"    +.5", 0.5},  {"       ", 0},
               {"*******", 0},    {" 1.5e3 ", 1500},  {"  4.35x", 4.35}, {"1234567", 1234567}};
  for (const auto& c : cases) {
    TempDir dir;
    std::string path = dir.Write("n.dbf", TableBytes({{"V", 'N', 7}}, {std::string(" ") + c.text}));
    DbfHandle h{};
    ASSERT_EQ(dbOpen(&h, path.c_str()), 0);
    ASSERT_EQ(dbRead(&h), 0);
    EXPECT_EQ(h.fields[0].value.number, c.value) << c.text;
    EXPECT_EQ(dbClose(&h), 0);
  }
}

TEST(DbfOpenTest, DamagedHeadersFail) {
  std::string good = TableBytes(kCityFields, kCities);
  auto setU16 = [](std::string& b, size_t at, uint16_t v) {
    QStoreU16LE(reinterpret_cast<uint8_t*>(&b[at]), v);
  };
  const struct {
    const char* name;
    std::function<std::string()> bytes;
    const char* text;
  } cases[] = {
      {"header length 40",
       [&] {
         std::string b = good;
         setU16(b, 8, 40);
         return b;
       },
       "dbOpen: %s: header length 40 leaves no room for a field"},
      {"header cut short", [&] { return good.substr(0, 10); },
       "dbOpen: fread: %s: header cut short"},
      {"number field of width 40",
       [] {
         return TableBytes({{"NAME", 'C', 8}, {"POP", 'N', 40}}, {std::string(49, ' ')});
       },
       "dbOpen: %s: number field POP is 40 wide; at most 31 is supported"},
      {"fields wider than the record",
       [&] {
         std::string b = good;
         setU16(b, 10, 12);
         return b;
       },
       "dbOpen: %s: fields of 16 bytes do not fit the record length 12"},
      {"descriptors cut short", [&] { return good.substr(0, 32 + 40); },
       "ReadFields: fread 1: %s: field descriptors cut short"},
      {"no field before the end mark", [] { return TableBytes({}, {}, 64); },
       "dbOpen: %s: the table has no field"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string path = dir.Write("bad.dbf", c.bytes());
    DbfHandle h{};
    EXPECT_EQ(dbOpen(&h, path.c_str()), -1) << c.name;
    char expected[512];
    std::snprintf(expected, sizeof expected, c.text, path.c_str());
    EXPECT_STREQ(ShapeLastError(), expected) << c.name;
    EXPECT_EQ(dbClose(&h), 0) << c.name;
    EXPECT_EQ(h.fields, nullptr);
  }
  TempDir dir;
  DbfHandle h{};
  EXPECT_EQ(dbOpen(&h, dir.File("none").c_str()), -1);
  EXPECT_EQ(std::string(ShapeLastError()), dir.File("none.dbf") + ": No such file or directory");
  EXPECT_EQ(dbClose(&h), 0);
  EXPECT_EQ(dbClose(nullptr), 0);
  EXPECT_EQ(dbRead(&h), -1) << "a closed handle";
}

// A header or record that does not reach the disk is reported by the close.
TEST(DbfCloseTest, FailedRewriteIsReported) {
  struct FailingWriteAt : platform::EnvWrapper {
    FailingWriteAt() : EnvWrapper(platform::Env::Current()) {}
    int64_t WriteAt(int, const void*, size_t, int64_t) override {
      errno = EIO;
      return -1;
    }
  } env;
  TempDir dir;
  DbfField field = Field("A", DBF_CHARACTER, 4);
  DbfHandle h{};
  h.fieldCount = 1;
  h.fields = &field;
  platform::ScopedEnv scoped(env);
  ASSERT_EQ(dbCreate(&h, dir.File("t").c_str()), 0);
  ASSERT_EQ(dbWrite(&h), 0);
  EXPECT_EQ(dbClose(&h), -1);
  EXPECT_EQ(std::string(ShapeLastError()),
            "dbClose: header: " + dir.File("t.dbf") + ": Input/output error");
  EXPECT_EQ(h.stream, nullptr);
  EXPECT_EQ(h.fields, &field) << "the caller's fields stay the caller's";
}

}  // namespace
