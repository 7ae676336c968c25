// Attribute files written by the writer and read back through the Dl
// interface and AttributeSearch: real tables checked against ogrinfo, the
// reader's rules on whole files, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/gsaformat.h"
#include "boundary/criteria.h"
#include "boundary/readmain.h"
#include "builder/gsabuild.h"
#include "platform/env.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"
#include "xbase/d4all.h"
#include "zonelib.h"

namespace {

using buildertest::ExpectAttributesAsOgr;
using buildertest::Feature;
using buildertest::OgrFeatures;
using buildertest::Recid;
using testsupport::ReadAll;
using testsupport::SharedDataPath;
using testsupport::TempDir;

struct Table {
  std::vector<GsaFieldDef> fields;
  std::vector<std::vector<std::string>> rows;
};

// The rows of a dBASE table as the xBase engine holds them, each with its
// record number as the QRECID field that the builder adds.
Table LoadDbf(const std::string& source, const TempDir& dir) {
  std::string path = dir.Write("table.dbf", ReadAll(source));
  Table t;
  CODE4* c4 = code4allocDefault(1);
  DATA4* data = c4 ? d4open(c4, path.c_str()) : nullptr;
  EXPECT_NE(data, nullptr) << source;
  if (!data) return t;
  const int n = d4numFields(data);
  for (int j = 1; j <= n; ++j) {
    FIELD4* f = d4fieldJ(data, j);
    t.fields.push_back({f4name(f), char(f4type(f)), f4len(f), uint32_t(f4decimals(f))});
  }
  int record = 0;
  for (int rc = d4top(data); rc == 0 && !d4eof(data); rc = d4skip(data, 1)) {
    std::vector<std::string> row;
    for (int j = 1; j <= n; ++j) {
      FIELD4* f = d4fieldJ(data, j);
      row.emplace_back(f4ptr(f), f4len(f));
    }
    row.push_back(Recid(++record));
    t.rows.push_back(std::move(row));
  }
  d4close(data);
  code4initUndo(c4);
  t.fields.push_back({"QRECID", 'N', 12, 0});
  return t;
}

bool Write(const std::string& path, const Table& t, GsaWriteOptions options = {}) {
  GsaMemoryRows rows(t.rows);
  QError error;
  if (options.dateText.empty()) options.dateText = "20240307";
  bool ok = GsaWriteAttributeFile(path.c_str(), t.fields, rows, options, error);
  EXPECT_TRUE(ok) << error.Detail();
  return ok;
}

// Every field of every record, read through the Dl calls, equals ogrinfo's
// value: texts byte for byte, numbers to the decimals the file keeps.
void ExpectSameAsOgr(const std::string& dbf, const std::map<std::string, uint32_t>& decimals,
                     const std::set<std::string>& textNumbers = {}) {
  std::vector<Feature> expected = OgrFeatures(dbf);
  if (expected.empty()) GTEST_SKIP() << "ogrinfo (gdal-bin) is not available";
  TempDir dir;
  Table t = LoadDbf(dbf, dir);
  ASSERT_EQ(t.rows.size(), expected.size());
  std::string path = dir.File("out.gsa");
  ASSERT_TRUE(Write(path, t));
  ExpectAttributesAsOgr(path, expected, t.fields.size(), decimals, "", textNumbers);
}

TEST(GsaRoundTripTest, NorthCarolinaCountiesAsOgrinfoReadsThem) {
  ExpectSameAsOgr(SharedDataPath("nc/nc.dbf"), {{"AREA", 3}, {"CNTY_", 0}, {"CRESS_ID", 0}});
}

TEST(GsaRoundTripTest, NaturalEarthCountriesAsOgrinfoReadsThem) {
  // pop_est holds 10192317.300000000745058 beside 1397715000: 32 bits
  // cannot hold both at the decimals used, so its texts are kept.
  ExpectSameAsOgr(SharedDataPath("naturalearth/naturalearth_lowres.dbf"), {{"gdp_md_est", 0}},
                  {"pop_est"});
}

// A table of many pages with text runs (shared prefixes, repeats, empty
// texts, bytes above 127), decimals, dates and logicals.
Table MixedTable(int count) {
  Table t;
  t.fields = {{"NAME", 'C', 40, 0}, {"CODE", 'C', 4, 0},  {"RATE", 'N', 10, 3},  {"DAY", 'D', 8, 0},
              {"OK", 'L', 1, 0},    {"DELTA", 'N', 8, 0}, {"QRECID", 'N', 12, 0}};
  std::mt19937 random(11);
  for (int i = 1; i <= count; ++i) {
    std::string name = "Street " + std::to_string(i / 3);  // runs of three alike
    if (i % 11 == 0) name = "";
    if (i % 13 == 0)
      name =
          "Stra\xDF"
          "e " +
          std::to_string(i);
    if (i % 17 == 0) name = std::string(40, char('A' + i % 26));
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.3f", (int(random() % 2000001) - 1000000) / 1000.0);
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
    t.rows.push_back({name, i % 5 == 0 ? "AB" : "ABCD", rate, day, i % 2 ? "T" : "F",
                      std::to_string((i % 7 == 0 ? -1 : 1) * i * i), Recid(i)});
  }
  return t;
}

std::string Trailing(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST(GsaRoundTripTest, EveryRecordReadsBackForwardsAndBackwards) {
  TempDir dir;
  Table t = MixedTable(6000);
  std::string path = dir.File("mixed.gsa");
  ASSERT_TRUE(Write(path, t));
  EXPECT_GT(FileSize64(path.c_str()), 12 * 8192);  // many pages
  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, path.c_str());
  ASSERT_NE(file, nullptr);
  std::vector<DlField*> fields;
  for (int32_t i = 0; i < DlFileNumFields(file); ++i) fields.push_back(DlFieldGetN(file, i));
  EXPECT_EQ(DlFieldGetN(file, DlFileNumFields(file)), nullptr);
  EXPECT_EQ(DlFieldGetAttribute(fields[2], 3, nullptr, 0), 3);  // RATE keeps 3 decimals

  auto check = [&](int record) {
    ASSERT_EQ(DlFileSearchInt(file, record), 1) << record;
    const auto& row = t.rows[size_t(record - 1)];
    char text[256];
    for (size_t f = 0; f < fields.size(); ++f) {
      SCOPED_TRACE("field " + std::to_string(f) + " of record " + std::to_string(record));
      if (DlFieldGetAttribute(fields[f], 10, nullptr, 0) == 'C') {
        ASSERT_EQ(DlFieldGetString(fields[f], nullptr, text, 255), 1);
        EXPECT_EQ(text, Trailing(row[f]));
      } else {
        int32_t want = 0;
        ASSERT_TRUE(
            GsaScaleNumber(row[f], uint32_t(DlFieldGetAttribute(fields[f], 3, nullptr, 0)), &want));
        EXPECT_EQ(DlFieldGetNum(fields[f]), want);
      }
    }
  };
  for (int r = 1; r <= 6000; r += 1) check(r);
  for (int r = 6000; r >= 1; r -= 7) check(r);  // backwards: columns restart
  for (int r : {17, 16, 33, 1, 5999, 9, 5}) check(r);
  for (int missing : {6001, -3, 1 << 30}) EXPECT_EQ(DlFileSearchInt(file, missing), 0);
  char text[64];
  EXPECT_EQ(DlFieldGetString(fields[0], nullptr, text, 63), 0);
  char message[256], detail[256];
  EXPECT_EQ(DlErrorGet(context, message, detail), 100);
  EXPECT_STREQ(detail, "Must perform a valid DlFileSearch before retrieving data.");
  EXPECT_EQ(DlTerm(context), 1);
}

// Keys of records that repeat, across a page boundary.
TEST(GsaRoundTripTest, SearchNextWalksEqualKeys) {
  TempDir dir;
  Table t;
  t.fields = {{"N", 'N', 6, 0}, {"QRECID", 'N', 12, 0}};
  // Pages open on record 6, so the first one with it is the first of all.
  for (int i = 0; i < 20000; ++i) t.rows.push_back({std::to_string(i), Recid(i < 19990 ? 6 : 16)});
  ASSERT_TRUE(Write(dir.File("dup.gsa"), t));
  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("dup.gsa").c_str());
  ASSERT_NE(file, nullptr);
  DlField* n = DlFieldGet(file, "n");
  ASSERT_EQ(DlFileSearch(file, "6"), 1);
  EXPECT_EQ(DlFieldGetNum(n), 0);
  int found = 1;
  while (DlFileSearchNextInt(file, 6) == 1) {
    EXPECT_EQ(DlFieldGetNum(n), found);
    ++found;
  }
  EXPECT_EQ(found, 19990);
  EXPECT_GT(FileSize64(dir.File("dup.gsa").c_str()), 5 * 8192);  // over pages
  EXPECT_EQ(DlFileSearchNext(file, "6"), 0);                     // nothing found since
  ASSERT_EQ(DlFileSearchInt(file, 16), 1);
  EXPECT_EQ(DlFieldGetNum(n), 19990);
  DlTerm(context);
}

TEST(GsaRoundTripTest, StampDecidesWhetherTheFileBelongs) {
  const char* kStamp = "Thu Mar  7 10:00:00 2024";
  const struct {
    const char* name;
    const char* written;
    const char* boundary;
    bool open;
  } cases[] = {
      {"same stamp", kStamp, kStamp, true},
      {"other stamp", kStamp, "Fri Mar  8 10:00:00 2024", false},
      {"boundary file without a stamp", kStamp, "", false},
      {"attribute file without a stamp", "", kStamp, true},
  };
  TempDir dir;
  Table t;
  t.fields = {{"NAME", 'C', 10, 0}, {"QRECID", 'N', 12, 0}};
  t.rows = {{"one", Recid(1)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GsaWriteOptions options;
    options.stamp = c.written;
    ASSERT_TRUE(Write(dir.File("area.gsa"), t, options));
    AttributeSearch search;
    EXPECT_EQ(search.Open(dir.File("area.gsb").c_str(), c.boundary), c.open);
    EXPECT_EQ(search.OutOfDate(), !c.open);
    pipAttributeInfoStruct info;
    EXPECT_EQ(search.SetRecord(1), c.open ? 1u : 0u);
    EXPECT_EQ(search.GetAttributeInfoByNumber(0, &info), c.open ? 1 : -1);
    if (!c.open) {
      EXPECT_EQ(DlErrorGet(search.Context(), nullptr, nullptr), Q_ERROR_OUT_OF_DATE);
    }
  }
}

TEST(GsaRoundTripTest, CompanionFileByItsLastLetter) {
  const struct {
    const char* boundary;
    const char* onDisk;
    bool found;
  } cases[] = {
      {"area.gsb", "area.gsa", true},  {"AREA.GSB", "AREA.GSA", true},
      {"AREA.GSB", "area.gsa", true},                                    // found ignoring case
      {"Area.GsB", "AREA.GSA", true},
      // Any last character turns into a, as gsbbuild names the file it writes.
      {"area.gsx", "area.gsa", true},  {"nc.out", "nc.oua", true},
      {"zone", "zona.dld", true},      {"area.gsb", "area.dbf", false},
  };
  Table t;
  t.fields = {{"NAME", 'C', 10, 0}, {"QRECID", 'N', 12, 0}};
  t.rows = {{"one", Recid(1)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.boundary) + " beside " + c.onDisk);
    TempDir dir;
    ASSERT_TRUE(Write(dir.File(c.onDisk), t));
    AttributeSearch search;
    EXPECT_EQ(search.Open(dir.File(c.boundary).c_str(), ""), c.found);
    EXPECT_FALSE(search.OutOfDate());
  }
}

// The attribute records of the object-file interface: numbering skips the
// key field, decimals are printed, names and values stay inside their fields.
TEST(GsaRoundTripTest, AttributeRecords) {
  TempDir dir;
  Table t;
  t.fields = {{"LONGNAME_10", 'C', 255, 0},
              {"PRICE", 'N', 9, 2},
              {"QRECID", 'N', 12, 0},
              {"LAST", 'N', 4, 0}};
  t.rows = {{std::string(255, 'v'), "123.45", Recid(1), "7"}, {"w", "-0.05", Recid(2), "8"}};
  ASSERT_TRUE(Write(dir.File("r.gsa"), t));
  AttributeSearch search;
  ASSERT_TRUE(search.Open(dir.File("r.gsb").c_str(), "anything"));
  EXPECT_EQ(search.GetAttributeCount(), 3);
  EXPECT_STREQ(search.KeyFieldName(), "qrecid");
  EXPECT_TRUE(search.HasField("price"));
  pipAttributeInfoStruct info;
  EXPECT_EQ(search.GetAttributeInfoByNumber(1, &info), 0);  // no current record
  EXPECT_STREQ(info.name, "PRICE");
  EXPECT_EQ(info.value[0], '\0');
  for (int32_t bad : {0, -1}) EXPECT_EQ(search.SetRecord(bad), 0u);
  ASSERT_EQ(search.SetRecord(1), 1u);

  // A 255-character value ends with its NUL inside its field, before the
  // width; an 11-character name inside its own.
  std::memset(&info, 0x55, sizeof info);
  ASSERT_EQ(search.GetAttributeInfoByNumber(0, &info), 1);
  EXPECT_STREQ(info.name, "LONGNAME_10");
  EXPECT_EQ(std::string(info.value), std::string(255, 'v'));
  EXPECT_EQ(info.width, 255u);
  EXPECT_EQ(info.type, uint32_t('C'));
  ASSERT_EQ(search.GetAttributeInfoByNumber(1, &info), 1);
  EXPECT_STREQ(info.value, "123.45");
  EXPECT_EQ(info.decimals, 2u);
  // Number 2 is the key field: the next one answers.
  ASSERT_EQ(search.GetAttributeInfoByNumber(2, &info), 1);
  EXPECT_STREQ(info.name, "LAST");
  EXPECT_EQ(search.GetAttributeInfoByNumber(3, &info), 1);
  EXPECT_STREQ(info.name, "LAST");
  EXPECT_EQ(search.GetAttributeInfoByNumber(4, &info), -1);
  EXPECT_EQ(search.GetAttributeInfoByName("QRECID", &info), -1);
  char name[16];
  EXPECT_EQ(search.GetAttributeNameByNumber(2, name, 15), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(search.GetAttributeNameByNumber(1, name, 15), 1);
  EXPECT_STREQ(name, "PRICE");

  ASSERT_EQ(search.SetRecord(2), 1u);
  ASSERT_EQ(search.GetAttributeInfoByName("Price", &info), 1);
  EXPECT_STREQ(info.value, "-0.05");

  char error[81];
  EXPECT_TRUE(ValidateCriteria("PRICE > 100", search, error, sizeof error));
  EXPECT_TRUE(ValidateCriteria("LONGNAME_10 = 'v*'", search, error, sizeof error));
  EXPECT_FALSE(ValidateCriteria("PRICE = 'x'", search, error, sizeof error));
  EXPECT_STREQ(error, "Keyword type ('N') does not match value type ('C').");
  EXPECT_FALSE(ValidateCriteria("COLOUR = 'x'", search, error, sizeof error));
  EXPECT_STREQ(error, "Fieldname is invalid. Name: COLOUR");
  EXPECT_FALSE(ValidateCriteria("PRICE >> 1", search, error, sizeof error));
  EXPECT_STREQ(error, "Invalid operator. Oper: >>");
}

// A number field holding an empty value (blanks, or asterisks and blanks)
// reads back empty, its other values as a number field shows them; so does
// one kept as text because it outgrows 32 bits. A field without empty values
// stays a number field.
TEST(GsaRoundTripTest, EmptyNumbersReadBackEmpty) {
  TempDir dir;
  Table t;
  t.fields = {{"LIFE", 'N', 6, 2},  {"POP", 'N', 10, 0}, {"BIG", 'N', 18, 0},
              {"FULL", 'F', 8, 3}, {"QRECID", 'N', 12, 0}};
  t.rows = {{"  72.5", "   1234567", "       12345678901", "   0.125", Recid(1)},
            {"      ", "          ", "******************", "   1.000", Recid(2)},
            {"******", "   *******", "                 1", "  -2.500", Recid(3)},
            {" -0.50", "         0", "                  ", "   0.000", Recid(4)}};
  ASSERT_TRUE(Write(dir.File("e.gsa"), t));
  AttributeSearch search;
  ASSERT_TRUE(search.Open(dir.File("e.gsb").c_str(), "anything"));
  const char* expected[][4] = {{"72.5", "1234567", "12345678901", "0.125"},
                               {"", "", "", "1.000"},
                               {"", "", "1", "-2.500"},
                               {"-0.5", "0", "", "0.000"}};
  const uint32_t types[] = {'C', 'C', 'C', 'N'};
  const uint32_t decimals[] = {1, 0, 0, 3};
  for (int r = 1; r <= 4; ++r) {
    ASSERT_EQ(search.SetRecord(r), 1u);
    for (int f = 0; f < 4; ++f) {
      SCOPED_TRACE(t.fields[size_t(f)].name + " of record " + std::to_string(r));
      pipAttributeInfoStruct info;
      ASSERT_EQ(search.GetAttributeInfoByName(t.fields[size_t(f)].name.c_str(), &info), 1);
      EXPECT_STREQ(info.value, expected[r - 1][f]);
      EXPECT_EQ(info.type, types[f]);
      EXPECT_EQ(info.decimals, decimals[f]);
    }
  }
}

// Text keys, duplicate-free, and the letters-and-digits flag of the file.
TEST(GsaRoundTripTest, TextKeysAndTheLettersAndDigitsFlag) {
  TempDir dir;
  Table t;
  t.fields = {{"CODE", 'C', 10, 0}, {"N", 'N', 5, 0}};
  for (int i = 0; i < 2000; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "K%05d", i * 2);
    t.rows.push_back({code, std::to_string(i)});
  }
  GsaWriteOptions options;
  options.keyField = "CODE";
  std::string path = dir.File("text.gsa");
  ASSERT_TRUE(Write(path, t, options));
  DlContext* context = DlInit("");
  {
    DlFile* file = DlFileOpen(context, path.c_str());
    ASSERT_NE(file, nullptr);
    DlField* n = DlFieldGet(file, "N");
    for (int i : {0, 1, 16, 17, 999, 1999}) {
      char code[16];
      std::snprintf(code, sizeof code, "k%05d", i * 2);  // any case
      ASSERT_EQ(DlFileSearch(file, code), 1) << code;
      EXPECT_EQ(DlFieldGetNum(n), i);
    }
    EXPECT_EQ(DlFileSearch(file, "K00001"), 0);
    EXPECT_EQ(DlFileSearch(file, "K-00002"), 0);
    EXPECT_EQ(DlFileSearchInt(file, 12), 0);
    DlFileClose(file);
  }
  // Set the flag in the header and seal it again.
  std::string bytes = ReadAll(path);
  auto* header = reinterpret_cast<uint8_t*>(bytes.data());
  QStoreU32LE(header + kGsaDescriptorOffset + kGsaDescAlphanumericKeys, 1);
  QPageSetCheckValue(header, kGsaBlockSize);
  dir.Write("text.gsa", bytes);
  DlFile* file = DlFileOpen(context, path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(DlFileGetAttribute(file, 5, nullptr, 0), 1);
  ASSERT_EQ(DlFileSearch(file, "K-00 002"), 1);
  EXPECT_EQ(DlFieldGetNum(DlFieldGet(file, "N")), 1);
  DlTerm(context);
}

TEST(GsaRoundTripTest, ValueDescriptionsAndFormats) {
  TempDir dir;
  Table t;
  t.fields = {
      {"KIND", 'C', 4, 0}, {"LEVEL", 'N', 5, 1}, {"NOTE", 'C', 8, 0}, {"QRECID", 'N', 12, 0}};
  t.rows = {{"RD", "2.5", "x", Recid(1)}, {"ST", "-1", "y", Recid(2)}, {"XX", "9", "z", Recid(3)}};
  GsaWriteOptions options;
  options.descriptions = {{"KIND", "RD", "Road", "A road for cars"},
                          {"KIND", "ST", "Street", "A street in a town"},
                          {"LEVEL", "2.5", "Middle", "Middle level"}};
  std::string path = dir.File("desc.gsa");
  ASSERT_TRUE(Write(path, t, options));
  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(DlFileGetAttribute(file, 2, nullptr, 0), 3);
  DlField* kind = DlFieldGet(file, "KIND");
  DlField* level = DlFieldGet(file, "LEVEL");
  DlField* note = DlFieldGet(file, "NOTE");
  EXPECT_EQ(DlFieldGetAttribute(kind, 9, nullptr, 0), 2);
  char text[64];
  EXPECT_EQ(DlFieldGetValueAttribute(kind, 1, 2, text, 63), 1);
  EXPECT_STREQ(text, "A street in a town");
  EXPECT_EQ(DlFieldGetValueAttribute(kind, 2, 0, text, 63), -1);  // index = count
  EXPECT_EQ(DlFieldGetValueAttribute(kind, 0, 3, text, 63), -1);
  EXPECT_EQ(DlFieldGetValueAttribute(kind, 0, 0, text, 0), -1);

  ASSERT_EQ(DlFileSearchInt(file, 1), 1);
  EXPECT_EQ(DlFieldGetString(kind, "SDES", text, 63), 1);
  EXPECT_STREQ(text, "Road");
  EXPECT_EQ(DlFieldGetString(kind, "ldesc", text, 63), 1);
  EXPECT_STREQ(text, "A road for cars");
  EXPECT_EQ(DlFieldGetString(kind, "short", text, 63), 1);  // no '%': the short one
  EXPECT_STREQ(text, "Road");
  EXPECT_EQ(DlFieldGetString(level, "SDES", text, 63), 1);
  EXPECT_STREQ(text, "Middle");
  EXPECT_EQ(DlFieldGetString(note, "SDES", text, 63), 0);
  char message[256], detail[256];
  DlErrorGet(context, message, detail);
  EXPECT_STREQ(detail, "There are no descriptions for this field");
  ASSERT_EQ(DlFileSearchInt(file, 3), 1);
  EXPECT_EQ(DlFieldGetString(kind, "LDES", text, 63), 0);
  DlErrorGet(context, message, detail);
  EXPECT_STREQ(detail, "Value information not found");

  // Caller formats: one conversion that fits the field, printed bounded.
  ASSERT_EQ(DlFileSearchInt(file, 2), 1);
  const struct {
    DlField* field;
    const char* format;
    int32_t result;
    const char* text;
  } formats[] = {
      {level, "%d", 1, "-10"},      {level, "[%6ld]", 1, "[   -10]"},
      {level, "%lld%%", 1, "-10%"}, {level, "%x", 1, "fffffff6"},
      {level, "%s", 0, ""},         {level, "%d %d", 0, ""},
      {level, "%n", 0, ""},         {level, "%*d", 0, ""},
      {level, "%99999d", 0, ""},    {level, "%'d", 0, ""},
      {kind, "<%s>", 1, "<ST>"},    {kind, "%.1s", 1, "S"},
      {kind, "%d", 0, ""},          {kind, "%ls", 0, ""},
      {kind, "%s%s", 0, ""},
  };
  for (const auto& f : formats) {
    std::strcpy(text, "");
    EXPECT_EQ(DlFieldGetString(f.field, f.format, text, 63), f.result) << f.format;
    EXPECT_STREQ(text, f.text) << f.format;
  }
  EXPECT_EQ(DlFieldGetString(kind, "<%s>", text, 2), 1);  // two characters and a NUL
  EXPECT_STREQ(text, "<S");
  DlTerm(context);
}

// --- damaged files ---

struct Damage {
  const char* name;
  // Changes the file's bytes; the page's check value is sealed again when
  // reseal is set, so that the structure checks behind it are reached.
  void (*change)(std::string& bytes);
  bool reseal;
  // What fails: the open, or reading record 1 of page 0.
  bool openFails;
  const char* detail;
};

uint8_t* Page(std::string& bytes, size_t n) {
  return reinterpret_cast<uint8_t*>(bytes.data()) + (n + 1) * kGsaBlockSize;
}

uint8_t* TextColumn(std::string& bytes) {
  uint8_t* page = Page(bytes, 0);
  return page + 8 + QLoadU32LE(page + 8);
}

TEST(GsaRoundTripTest, DamagedFilesGiveClearErrors) {
  const Damage cases[] = {
      {"truncated to half a header", [](std::string& b) { b.resize(4000); }, false, true,
       "Invalid checksum or file size."},
      {"truncated inside the pages", [](std::string& b) { b.resize(8192 + 4096); }, false, true,
       "Invalid checksum or file size."},
      {"flipped byte in the header", [](std::string& b) { b[300] ^= 0x10; }, false, true,
       "Invalid checksum or file size."},
      {"other signature", [](std::string& b) { b[256] ^= 1; }, false, true,
       "Invalid file signature."},
      {"flipped byte in the key tree", [](std::string& b) { b[2 * 8192 + 20] ^= 0x20; }, false,
       true, "Invalid checksum or file size."},
      {"field entries past the end",
       [](std::string& b) { QStoreU32LE(reinterpret_cast<uint8_t*>(b.data()) + 296, 100000); },
       true, true, "CIniFile::CIniFile/1"},
      {"flipped byte in a page", [](std::string& b) { Page(b, 0)[100] ^= 0x04; }, false, false,
       "its check value does not match"},
      {"column past the page", [](std::string& b) { QStoreU32LE(Page(b, 0) + 12, 9000); }, true,
       false, "its column directory points outside the page"},
      {"record count", [](std::string& b) { QStoreU32LE(Page(b, 0) + 4, 0); }, true, false,
       "its record count is out of range"},
      {"string count", [](std::string& b) { QStoreU16LE(TextColumn(b), 7); }, true, false,
       "a text column's string count does not match the records"},
      {"shared prefix longer than the string before",
       [](std::string& b) { TextColumn(b)[4] = 0x0E; }, true, false,
       "a text column cannot be decoded"},
      {"first string shares", [](std::string& b) { TextColumn(b)[4] = 0x30; }, true, false,
       "a text column cannot be decoded"},
      {"number stream header",
       [](std::string& b) {
         uint8_t* page = Page(b, 0);
         page[8 + QLoadU32LE(page + 12)] = 0;
       },
       true, false, "a number column does not hold a stream"},
  };
  TempDir dir;
  Table t;
  t.fields = {{"NAME", 'C', 10, 0}, {"N", 'N', 8, 0}, {"QRECID", 'N', 12, 0}};
  for (int i = 1; i <= 40; ++i)
    t.rows.push_back({"name " + std::to_string(i), std::to_string(i * 3), Recid(i)});
  std::string path = dir.File("good.gsa");
  ASSERT_TRUE(Write(path, t));
  const std::string good = ReadAll(path);
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    c.change(bytes);
    if (c.reseal) {
      QPageSetCheckValue(reinterpret_cast<uint8_t*>(bytes.data()), kGsaBlockSize);
      if (bytes.size() >= 2 * kGsaBlockSize) QPageSetCheckValue(Page(bytes, 0), kGsaBlockSize);
    }
    std::string damaged = dir.Write("damaged.gsa", bytes);
    DlContext* context = DlInit("");
    DlFile* file = DlFileOpen(context, damaged.c_str());
    char message[256], detail[256];
    if (c.openFails) {
      EXPECT_EQ(file, nullptr);
      EXPECT_EQ(DlErrorGet(context, message, detail), 100);
      EXPECT_EQ(std::string(detail).rfind("Error opening DLD file: ", 0), 0u) << detail;
      EXPECT_NE(std::string(detail).find(c.detail), std::string::npos) << detail;
    } else {
      ASSERT_NE(file, nullptr);
      char text[64];
      for (int record : {1, 2}) {
        if (DlFileSearchInt(file, record) != 1) continue;
        for (int32_t f = 0; f < DlFileNumFields(file); ++f)
          DlFieldGetString(DlFieldGetN(file, f), "", text, 63);
      }
      EXPECT_EQ(DlErrorGet(context, message, detail), Q_ERROR_CHECKSUM);
      EXPECT_NE(std::string(detail).find(c.detail), std::string::npos) << detail;
      EXPECT_NE(std::string(detail).find("Page 0 of "), std::string::npos) << detail;
    }
    DlTerm(context);
  }
}

// Any byte of a data page changed (and the page sealed again): every read
// either succeeds or fails with an error, and none leaves the page.
TEST(GsaRoundTripTest, ChangedPageBytesNeverReadOutside) {
  TempDir dir;
  Table t = MixedTable(300);
  std::string path = dir.File("fuzz.gsa");
  ASSERT_TRUE(Write(path, t));
  const std::string good = ReadAll(path);
  std::mt19937 random(3);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    uint8_t* page = Page(bytes, 0);
    const uint32_t used = 8 + QLoadU32LE(page + 8 + 4 * 6) + 64;  // the columns' area and more
    for (int k = 0; k < 1 + round % 3; ++k)
      page[random() % std::min<uint32_t>(used, 8190)] ^= uint8_t(1 + random() % 255);
    QPageSetCheckValue(page, kGsaBlockSize);
    std::string damaged = dir.Write("fuzz-damaged.gsa", bytes);
    DlContext* context = DlInit("");
    DlFile* file = DlFileOpen(context, damaged.c_str());
    ASSERT_NE(file, nullptr);
    for (int record : {1, 2, 17, 40, 3, 150}) {
      if (DlFileSearchInt(file, record) != 1) continue;
      char text[256];
      for (int32_t f = 0; f < DlFileNumFields(file); ++f) {
        DlField* field = DlFieldGetN(file, f);
        DlFieldGetString(field, "", text, 255);
        DlFieldGetNum(field);
      }
    }
    DlTerm(context);
  }
}

TEST(GsaRoundTripTest, EmptyTable) {
  TempDir dir;
  Table t;
  t.fields = {{"NAME", 'C', 10, 0}, {"QRECID", 'N', 12, 0}};
  std::string path = dir.File("empty.gsa");
  ASSERT_TRUE(Write(path, t));
  AttributeSearch search;
  ASSERT_TRUE(search.Open(dir.File("empty.gsb").c_str(), ""));
  EXPECT_EQ(search.GetAttributeCount(), 1);
  EXPECT_EQ(search.SetRecord(1), 0u);
}

}  // namespace
