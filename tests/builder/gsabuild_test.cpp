#include "builder/gsabuild.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/gsaformat.h"
#include "platform/env.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"

namespace {

using buildertest::FullDisk;
using buildertest::Recid;
using testsupport::ReadAll;
using testsupport::TempDir;

TEST(GsaBuildTest, NumbersScaleByTheirDecimals) {
  const struct {
    const char* text;
    uint32_t decimals;
    bool fits;
    int32_t stored;
  } cases[] = {
      {"12.35", 2, true, 1235},       // 1234.999... in binary: no such loss here
      {"12.345", 2, true, 1235},      // cut-off 0.5 > 0.4
      {"12.344", 2, true, 1234},      // cut-off 0.4 is not above 0.4
      {"12.3440001", 2, true, 1235},  // just above 0.4
      {"2.0041", 3, true, 2004},
      {"1.26", 1, true, 13},
      {"-1.26", 1, true, -13},  // the rule applies to the magnitude
      {"-12.344", 2, true, -1234},
      {"-73.99", 2, true, -7399},
      {"   1825.000000000000000", 0, true, 1825},
      {"0.114000000000000", 3, true, 114},
      {"-0", 2, true, 0},
      {"", 2, true, 0},      // blank: 0
      {"****", 2, true, 0},  // unreadable: 0
      {"+7", 1, true, 70},
      {".5", 0, true, 1},
      {"1.5e3", 1, true, 15000},
      {"2147483647", 0, true, 2147483647},
      {"2147483648", 0, false, 0},
      {"-2147483648", 0, true, INT32_MIN},
      {"214748364.75", 1, false, 0},  // rounds up past the limit
      {"12345678901", 0, false, 0},
  };
  for (const auto& c : cases) {
    int32_t stored = -1;
    EXPECT_EQ(GsaScaleNumber(c.text, c.decimals, &stored), c.fits) << c.text;
    if (c.fits) {
      EXPECT_EQ(stored, c.stored) << c.text;
    }
  }
  GsaDecimal x;
  EXPECT_TRUE(GsaParseDecimal(" 10192317.300000000745058 ", &x));
  EXPECT_EQ(x.SignificantDecimals(), 15u);
  EXPECT_TRUE(GsaParseDecimal("1825.000", &x));
  EXPECT_EQ(x.SignificantDecimals(), 0u);
  EXPECT_FALSE(GsaParseDecimal("12a", &x));
  EXPECT_FALSE(GsaParseDecimal("-", &x));
}

std::string HeapBytes(const GsaTextHeap& heap) {
  return std::string(reinterpret_cast<const char*>(heap.Bytes()), heap.Size());
}

TEST(GsaBuildTest, TextHeapFrontCodesGroupsOf16) {
  GsaTextHeap heap;
  for (const char* s : {"ROAD", "ROADS", "ROADS", "RIVER"}) ASSERT_TRUE(heap.Add(s));
  // Count 4; a header with link 0 and codes 0, 4, 15, 1; the stored tails.
  EXPECT_EQ(HeapBytes(heap), std::string("\x04\x00"
                                         "\x00\x00\x04\xF1\x00\x00\x00\x00\x00\x00"
                                         "ROA\xC4"
                                         "\xD3"
                                         "IVE\xD2",
                                         21));

  heap.Reset();
  ASSERT_TRUE(heap.Add(""));
  ASSERT_TRUE(heap.Add("ABC"));
  ASSERT_TRUE(heap.Add("AB"));  // a prefix of the one before: nothing behind it
  EXPECT_EQ(HeapBytes(heap).substr(2), std::string("\x00\x00\x00\x20\x00\x00\x00\x00\x00\x00"
                                                   "\x80"
                                                   "AB\xC3"
                                                   "\x80",
                                                   15));

  // String 17 opens a second group; the first group's link reaches it.
  heap.Reset();
  for (int i = 0; i < 17; ++i) ASSERT_TRUE(heap.Add(std::string(1, char('a' + i))));
  std::string bytes = HeapBytes(heap);
  EXPECT_EQ(QLoadU16LE(heap.Bytes()), 17);
  EXPECT_EQ(QLoadU16LE(heap.Bytes() + 2), 10 + 16);
  EXPECT_EQ(QLoadU16LE(heap.Bytes() + 2 + 26), 0);
  EXPECT_EQ(bytes.substr(2 + 26 + 10), "\xF1");  // 'q' with the end bit

  // Shared prefixes count at most 14 characters.
  heap.Reset();
  ASSERT_TRUE(heap.Add("ABCDEFGHIJKLMNOPQ"));
  ASSERT_TRUE(heap.Add("ABCDEFGHIJKLMNOPX"));
  EXPECT_EQ(GsaTextCode(heap.Bytes() + 2, 1), 14);
  EXPECT_EQ(HeapBytes(heap).substr(12 + 17), "OP\xD8");
}

TEST(GsaBuildTest, TextHeapReturnsToItsMark) {
  GsaTextHeap heap;
  for (int i = 0; i < 14; ++i) ASSERT_TRUE(heap.Add("street " + std::to_string(i)));
  heap.Mark();
  std::string marked = HeapBytes(heap);
  // The added strings open a group and change the marked group's header.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(heap.Add("road " + std::to_string(i)));
  heap.ReturnToMark();
  EXPECT_EQ(HeapBytes(heap), marked);
  ASSERT_TRUE(heap.Add("street 14"));
  ASSERT_TRUE(heap.Add("street 14"));
  EXPECT_EQ(GsaTextCode(heap.Bytes() + 2, 15), 15);

  GsaTextHeap small(20);
  ASSERT_TRUE(small.Add("abcdefgh"));
  std::string before = HeapBytes(small);
  EXPECT_FALSE(small.Add("xyz"));  // 20 bytes would not hold it
  EXPECT_EQ(HeapBytes(small), before);
}

TEST(GsaBuildTest, TextsAboveAsciiAreEscaped) {
  std::string stored;
  GsaTextEncode("C\xF4te \x01", 6, &stored);
  EXPECT_EQ(stored,
            "C\x01?4te \x01"
            "01");
  for (char c : stored) EXPECT_LT(uint8_t(c), 0x80);
  char text[16];
  size_t length = 0;
  ASSERT_TRUE(GsaTextDecode(stored.data(), stored.size(), text, sizeof text, &length));
  EXPECT_EQ(std::string(text, length), "C\xF4te \x01");
  for (const char* bad : {"\x01",
                          "\x01"
                          "3",
                          "\x01"
                          "3x",
                          "a\0b"})
    EXPECT_FALSE(
        GsaTextDecode(bad, bad[0] == 'a' ? 3 : std::strlen(bad), text, sizeof text, nullptr))
        << bad;
}

// Plans of one field: the stored kind and decimals.
struct PlanCase {
  const char* name;
  GsaFieldDef field;
  std::vector<std::string> values;
  uint32_t kind;
  uint32_t decimals;
};

TEST(GsaBuildTest, NumberFieldsKeepTheDecimalsTheirValuesUse) {
  const PlanCase cases[] = {
      {"whole numbers with 15 decimals",
       {"CNTY_", 'N', 24, 15},
       {"1825.000000000000000", "12.000"},
       'N',
       0},
      {"three decimals used", {"AREA", 'N', 24, 15}, {"0.114000000000000", "0.061", "1"}, 'N', 3},
      // Fewer decimals would lose digits: the texts are kept.
      {"32 bits hold no decimals of one",
       {"POP", 'N', 24, 15},
       {"1397715000.000", "10192317.300000000745058"},
       'C',
       15},
      {"32 bits hold one of the two decimals used",
       {"POP", 'N', 24, 15},
       {"139771500.25", "10192317.3"},
       'C',
       15},
      {"33.915980747862420", {"LAT", 'N', 24, 15}, {"33.915980747862420"}, 'C', 15},
      {"fits with one decimal", {"POP", 'N', 24, 15}, {"139771500.2", "10192317.3"}, 'N', 1},
      {"declared decimals are the limit", {"RATE", 'F', 10, 2}, {"1.2345"}, 'N', 2},
      {"beyond 32 bits: text", {"BIG", 'N', 18, 0}, {"12345678901", "1"}, 'C', 0},
      {"date", {"DAY", 'D', 8, 0}, {"19990105"}, 'C', 0},
      {"logical", {"OK", 'L', 1, 0}, {"T"}, 'C', 0},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < c.values.size(); ++i) rows.push_back({c.values[i], Recid(int(i) + 1)});
    GsaMemoryRows source(rows);
    GsaFieldDescriptor d;
    QError error;
    ASSERT_TRUE(d.Build({c.field, {"QRECID", 'N', 12, 0}}, source, "QRECID", {}, error))
        << error.Detail();
    EXPECT_EQ(d.Entries()[0].type, c.kind);
    EXPECT_EQ(d.Entries()[0].decimals, c.decimals);
    EXPECT_EQ(d.Columns()[0].kind, c.kind);
    EXPECT_EQ(d.KeyColumn().kind, kGsaTypeNumber);
    EXPECT_EQ(d.KeyColumn().column, c.kind == 'N' ? 1u : 0u);
    EXPECT_EQ(d.Rows(), c.values.size());
  }
}

TEST(GsaBuildTest, TablesTheFileCannotHoldAreRefused) {
  const struct {
    const char* name;
    std::vector<GsaFieldDef> fields;
    std::vector<std::vector<std::string>> rows;
    const char* detail;
  } cases[] = {
      {"memo field",
       {{"NOTE", 'M', 10, 0}, {"QRECID", 'N', 12, 0}},
       {},
       "Field NOTE has type 'M', which an attribute file cannot store"},
      {"no key field", {{"NAME", 'C', 10, 0}}, {}, "The table has no key field QRECID"},
      {"keys out of order",
       {{"QRECID", 'N', 12, 0}},
       {{Recid(2)}, {Recid(1)}},
       "Keys are not in ascending order at row 2"},
      {"key with a fraction",
       {{"QRECID", 'N', 12, 2}},
       {{"1.50"}},
       "Key 1.50 in row 1 is not a whole 32-bit number"},
      {"text too long",
       {{"NAME", 'C', 254, 0}, {"QRECID", 'N', 12, 0}},
       {{std::string(256, 'x'), Recid(1)}},
       "Text of field NAME in row 1 is longer than 255 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GsaMemoryRows source(c.rows);
    GsaFieldDescriptor d;
    QError error;
    EXPECT_FALSE(d.Build(c.fields, source, "QRECID", {}, error));
    EXPECT_EQ(error.Code(), Q_ERROR_EMPTY);
    EXPECT_STREQ(error.Detail(), c.detail);
  }
}

// The bytes of a written file: its header page and its data pages.
struct GsaImage {
  std::string bytes;
  const uint8_t* Block(size_t n) const {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + n * kGsaBlockSize;
  }
};

GsaImage WriteRows(const std::string& path, const std::vector<GsaFieldDef>& fields,
                   std::vector<std::vector<std::string>> rows, const std::string& stamp = "") {
  GsaMemoryRows source(std::move(rows));
  GsaWriteOptions options;
  options.stamp = stamp;
  options.dateText = "20240307";
  QError error;
  EXPECT_TRUE(GsaWriteAttributeFile(path.c_str(), fields, source, options, error))
      << error.Detail();
  return GsaImage{ReadAll(path)};
}

TEST(GsaBuildTest, FileLayout) {
  TempDir dir;
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 3; ++i)
    rows.push_back({"name " + std::to_string(i), std::to_string(i * 10), Recid(i)});
  GsaImage image = WriteRows(dir.File("l.gsa"),
                             {{"NAME", 'C', 20, 0}, {"POP", 'N', 9, 0}, {"QRECID", 'N', 12, 0}},
                             rows, "Thu Mar  7 10:00:00 2024 and then some more");
  // Header, one data page, one tree node, one block of descriptor area.
  ASSERT_EQ(image.bytes.size(), 4u * kGsaBlockSize);
  const uint8_t* h = image.Block(0);
  EXPECT_EQ(QLoadU32LE(h + 256), kGsaSignature);
  EXPECT_EQ(QLoadU16LE(h + 264), 8192);
  EXPECT_EQ(QLoadU16LE(h + 266), 8192);
  EXPECT_EQ(QLoadU16LE(h + 270), 13127);
  GsaDescriptor d;
  ASSERT_TRUE(GsaReadDescriptor(h, kGsaBlockSize, &d));
  EXPECT_EQ(d.treePosition, 2u * kGsaBlockSize);
  EXPECT_EQ(d.fieldOffset, 3u * kGsaBlockSize);
  EXPECT_EQ(d.attribute0, 128u);
  EXPECT_EQ(d.fieldCount, 3u);
  EXPECT_EQ(d.furtherFieldCount, 0u);
  EXPECT_EQ(d.valueCount, 0u);
  EXPECT_STREQ(d.stamp, "Thu Mar  7 10:00:00 2024 and then ");  // 34 characters
  EXPECT_STREQ(d.keyField, "QRECID");
  EXPECT_EQ(d.alphanumericKeys, 0u);
  EXPECT_TRUE(QPageCheckValueValid(h, kGsaBlockSize));

  GsaFieldEntry e;
  GsaReadFieldEntry(image.Block(3) + 2 * kGsaFieldEntrySize, &e);
  EXPECT_STREQ(e.name, "QRECID");
  EXPECT_STREQ(e.longName, "QRECID");
  EXPECT_EQ(e.type, kGsaTypeNumber);
  EXPECT_EQ(e.width, 12u);
  EXPECT_EQ(e.column, 1u);

  // The data page: the writer's u32 used length reads as the same u16.
  const uint8_t* p = image.Block(1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), std::string("\xFE\x1F\x00\x00", 4));
  EXPECT_EQ(QLoadU16LE(p + kGsaPageUsedLength), kGsaPageUsable);
  EXPECT_EQ(QLoadU32LE(p + kGsaPageCount), 3u);
  EXPECT_EQ(QLoadU32LE(p + 8), 12u);  // the first column right behind the directory
  GsaColumnExtent columns[3];
  ASSERT_TRUE(GsaPageColumns(p, kGsaBlockSize, 3, columns));
  EXPECT_EQ(QLoadU16LE(p + columns[0].start), 3);  // three strings
  // The number columns' first byte: the checkpoint part's length.
  EXPECT_EQ(p[columns[1].start], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p) + 8190 - 3, 3), std::string(3, '\0'));
  EXPECT_TRUE(QPageCheckValueValid(p, kGsaBlockSize));
}

// A page takes records while (records + 1) + column bytes + 4 x columns + 8
// stays within 8190; the record that does not fit leaves the page as it was.
TEST(GsaBuildTest, PageTakesRecordsUpToItsBound) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 3000; ++i)
    rows.push_back({"Ward " + std::to_string(i * 7919 % 1000), std::to_string(i % 97), Recid(i)});
  GsaMemoryRows source(rows);
  GsaFieldDescriptor d;
  QError error;
  ASSERT_TRUE(d.Build({{"NAME", 'C', 20, 0}, {"N", 'N', 5, 0}, {"QRECID", 'N', 12, 0}}, source,
                      "QRECID", {}, error));
  DLPageBuild page(d);
  const uint8_t key[2] = {};
  ASSERT_TRUE(source.Rewind());
  uint32_t bytes = 0;
  while (source.Next()) {
    if (!page.AddEntry(key, nullptr, &source)) break;
    bytes = page.ColumnBytes();
    EXPECT_LE(page.Count() + 1 + bytes + 12 + 8, 8190u);
  }
  ASSERT_GT(page.Count(), 100u);
  ASSERT_LT(page.Count(), 3000u);
  EXPECT_EQ(page.ColumnBytes(), bytes);
  // Within a record's size of the bound.
  EXPECT_GT(page.Count() + 1 + bytes + 12 + 8, 8190u - 32);
  page.Clear();
  EXPECT_TRUE(page.AddEntry(key, nullptr, &source));
  EXPECT_EQ(page.Count(), 1u);
}

TEST(GsaBuildTest, FailedWriteLeavesNoFile) {
  TempDir dir;
  std::string path = dir.File("bad.gsa");
  GsaMemoryRows source({{"1", Recid(2)}, {"2", Recid(1)}});
  QError error;
  EXPECT_FALSE(GsaWriteAttributeFile(path.c_str(), {{"A", 'N', 5, 0}, {"QRECID", 'N', 12, 0}},
                                     source, GsaWriteOptions(), error));
  EXPECT_STREQ(error.Detail(), "Keys are not in ascending order at row 2");
  EXPECT_LT(FileSize64(path.c_str()), 0);

  // A disk that fills up while the header or the pages are written.
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 5000; ++i) rows.push_back({std::to_string(i), Recid(i)});
  for (int64_t room : {int64_t(1000), int64_t(3 * 8192)}) {
    SCOPED_TRACE(room);
    FullDisk full(platform::Env::Current(), room);
    platform::ScopedEnv scoped(full);
    GsaMemoryRows many(rows);
    EXPECT_FALSE(GsaWriteAttributeFile(path.c_str(), {{"A", 'N', 5, 0}, {"QRECID", 'N', 12, 0}},
                                       many, GsaWriteOptions(), error));
    EXPECT_TRUE(error.HasError());
    EXPECT_LT(FileSize64(path.c_str()), 0);
    std::vector<std::string> left;
    platform::Env::Current().ListDirectory(dir.path(), &left);
    EXPECT_TRUE(left.empty());
  }
}

}  // namespace
