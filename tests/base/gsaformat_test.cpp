#include "base/gsaformat.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/pagefile.h"
#include "base/qio.h"
#include "base/qtree.h"
#include "tests/base/paged_file_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::PagedFileImage;
using testsupport::TempDir;

TEST(GsaFormatTest, PositionWordsCountEntriesFromOne) {
  // The first entry of page 7: entry 1 here, entry 0 in the keyed pages.
  EXPECT_EQ(GsaPosition(7, 1), 262144u + 7);
  EXPECT_EQ(QPositionMake(0, 7), 7u);
  EXPECT_EQ(GsaPositionEntry(GsaPosition(7, 1)), 1u);
  EXPECT_EQ(GsaPositionPage(GsaPosition(7, 1)), 7u);
  // The largest page and entry fit their bits.
  uint32_t last = GsaPosition(kGsaMaxPages, kGsaMaxPageEntries);
  EXPECT_EQ(last, 0xFFFFFFFFu);
  EXPECT_EQ(GsaPositionPage(last), kGsaMaxPages);
  EXPECT_EQ(GsaPositionEntry(last), kGsaMaxPageEntries);
}

TEST(GsaFormatTest, FileNames) {
  const struct {
    const char* in;
    std::string attribute;  // beside a boundary file
    std::string open;       // as the reader opens it
    std::string path;       // the attribute file as written and found
  } cases[] = {
      {"area.gsb", "area.gsa", "area.gsb", "area.gsa"},
      {"AREA.GSB", "AREA.GSA", "AREA.GSB", "AREA.GSA"},
      {"nc.out", "nc.oua", "nc.out", "nc.oua"},
      {"NC.OUT", "NC.OUA", "NC.OUT", "NC.OUA"},
      {"dir.d/file", "dir.d/fila", "dir.d/file.dld", "dir.d/fila.dld"},
      {"zips.gsa", "zips.gsa", "zips.gsa", "zips.gsa"},
      {"", "", ".dld", ".dld"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GsaAttributeFileName(c.in), c.attribute) << c.in;
    EXPECT_EQ(GsaOpenName(c.in), c.open) << c.in;
    EXPECT_EQ(GsaAttributePath(c.in), c.path) << c.in;
  }
}

TEST(GsaFormatTest, TextGroupCodesAreHighNibbleFirst) {
  // ROAD, ROADS, ROADS, RIVER: codes 0, 4, 15, 1.
  const uint8_t header[10] = {0, 0, 0x04, 0xF1};
  const uint8_t codes[] = {0, 4, 15, 1, 0};
  for (uint32_t j = 0; j < 5; ++j) EXPECT_EQ(GsaTextCode(header, j), codes[j]) << j;
}

TEST(GsaFormatTest, PageColumnDirectories) {
  // A page of 64 bytes: used length, count, three column offsets.
  struct Case {
    const char* name;
    uint16_t used;
    std::vector<uint32_t> offsets;
    bool sound;
  };
  const Case cases[] = {
      {"sound", 40, {12, 20, 20}, true},  // the last two columns: one empty
      {"used length over the check value", 63, {12, 20, 30}, false},
      {"directory past the used length", 16, {12, 12, 12}, false},
      {"column inside the directory", 40, {8, 20, 30}, false},
      {"columns running backwards", 40, {20, 12, 30}, false},
      {"column past the used length", 40, {12, 20, 40}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t page[64] = {};
    QStoreU16LE(page + kGsaPageUsedLength, c.used);
    QStoreU32LE(page + kGsaPageCount, 5);
    for (size_t i = 0; i < c.offsets.size(); ++i)
      QStoreU32LE(page + kGsaPageDirectory + 4 * i, c.offsets[i]);
    GsaColumnExtent extents[3];
    ASSERT_EQ(GsaPageColumns(page, sizeof page, 3, extents), c.sound);
    if (c.sound) {
      EXPECT_EQ(extents[0].start, 20u);
      EXPECT_EQ(extents[0].end, 28u);
      EXPECT_EQ(extents[1].start, 28u);
      EXPECT_EQ(extents[1].end, 28u);
      EXPECT_EQ(extents[2].end, 40u);
    }
  }
}

// A small attribute file: header page with descriptor, two data pages, the
// key tree from each page's first key, and the field entries behind it.
TEST(GsaFormatTest, ReadersFindTheFramePartsOfAnAttributeFile) {
  TempDir dir;
  PagedFileImage image(kGsaSignature, kGsaBlockSize, kGsaBlockSize, 2);
  image.SetPageCount(0);  // the writer leaves it 0; no length check runs
  std::string path = dir.File("area.gsa");
  QError error;
  QioFile out(path.c_str(), error);
  ASSERT_TRUE(out.WriteAt(0, uint32_t(image.Bytes().size()), image.Bytes().data()));
  QTreeBuild tree(error, dir.path());
  tree.SetKeyLength(12);
  tree.SetDataLength(4);
  tree.SetPageSize(kGsaBlockSize);
  const char* firstKeys[] = {"           1", "         681"};
  for (uint32_t page = 0; page < 2; ++page) {
    uint8_t data[4];
    QStoreU32LE(data, page);
    ASSERT_TRUE(tree.Add(firstKeys[page], data));
  }
  int64_t treePosition = tree.Write(out);
  ASSERT_EQ(treePosition, 3 * kGsaBlockSize);
  int64_t fields = out.Reserve(kGsaBlockSize);
  ASSERT_EQ(fields, 4 * kGsaBlockSize);
  uint8_t entries[2 * kGsaFieldEntrySize + kGsaValueRecordSize] = {};
  std::memcpy(entries + kGsaFieldName, "NAME", 4);
  QStoreU32LE(entries + kGsaFieldType, kGsaTypeText);
  std::memcpy(entries + kGsaFieldEntrySize + kGsaFieldLongName, "QRECID", 6);
  QStoreU32LE(entries + kGsaFieldEntrySize + kGsaFieldType, kGsaTypeNumber);
  ASSERT_TRUE(out.WriteAt(fields, sizeof entries, entries));

  uint8_t* d = image.HeaderPage() + kGsaDescriptorOffset;
  QStoreU32LE(d + kGsaDescTreePosition, uint32_t(treePosition));
  QStoreU32LE(d + kGsaDescFieldOffset, uint32_t(fields));
  QStoreU32LE(d + kGsaDescAttribute0, 128);
  QStoreU32LE(d + kGsaDescFieldCount, 2);
  QStoreU32LE(d + kGsaDescValueCount, 1);
  std::memset(d + kGsaDescStamp, 'T', kGsaStampSize);  // no terminator in the field
  std::memcpy(d + kGsaDescKeyField, "QRECID", 6);
  QPageSetCheckValue(image.HeaderPage(), kGsaBlockSize);
  ASSERT_TRUE(out.WriteAt(0, kGsaBlockSize, image.HeaderPage()));
  out.Close();

  QPagedFile file(path.c_str(), kGsaSignature, kGsaCacheCount, error);
  ASSERT_TRUE(file.IsOpen()) << error.Detail();
  GsaDescriptor descriptor;
  ASSERT_TRUE(GsaReadDescriptor(file.HeaderPage(), file.HeaderPageSize(), &descriptor));
  EXPECT_EQ(descriptor.treePosition, uint32_t(treePosition));
  EXPECT_EQ(descriptor.fieldOffset, uint32_t(fields));
  EXPECT_EQ(descriptor.attribute0, 128u);
  EXPECT_EQ(descriptor.TotalFields(), 2u);
  EXPECT_EQ(descriptor.valueCount, 1u);
  EXPECT_EQ(std::string(descriptor.stamp), std::string(256, 'T'));
  EXPECT_STREQ(descriptor.keyField, "QRECID");
  EXPECT_EQ(descriptor.alphanumericKeys, 0u);
  EXPECT_FALSE(GsaReadDescriptor(file.HeaderPage(), 500, &descriptor));

  int64_t size = file.File().Size();
  EXPECT_TRUE(GsaDescriptorFits(descriptor, uint64_t(size)));
  GsaDescriptor tooMany = descriptor;
  tooMany.furtherFieldCount = 0xFFFFFFFF;
  EXPECT_FALSE(GsaDescriptorFits(tooMany, uint64_t(size)));

  uint8_t entry[kGsaFieldEntrySize];
  ASSERT_TRUE(file.File().ReadAt(descriptor.fieldOffset + kGsaFieldEntrySize, entry, sizeof entry));
  EXPECT_STREQ(reinterpret_cast<char*>(entry + kGsaFieldLongName), descriptor.keyField);
  EXPECT_EQ(QLoadU32LE(entry + kGsaFieldType), kGsaTypeNumber);

  // The key tree names the page of a record number's text.
  QTree keys("area", file.File(), descriptor.treePosition,
             [](void*, const void* key, const void* entryKey) {
               return QTreeKeyCompare(key, entryKey, 12);
             },
             nullptr, error);
  ASSERT_TRUE(keys.IsOpen());
  EXPECT_EQ(keys.LeafDataLength(), 4);
  const struct {
    const char* key;
    uint32_t page;
  } finds[] = {{"           1", 0}, {"         680", 0}, {"         681", 1}, {"        9999", 1}};
  for (const auto& f : finds) {
    uint8_t data[4];
    ASSERT_TRUE(keys.Find(f.key, nullptr, data, true)) << f.key;
    EXPECT_EQ(QLoadU32LE(data), f.page) << f.key;
  }
}

}  // namespace
