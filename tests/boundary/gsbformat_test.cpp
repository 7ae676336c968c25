#include "boundary/gsbformat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/pagefile.h"
#include "boundary/build.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(GsbFormatTest, NamesBlockLengths) {
  struct Case {
    const char* name;
    const char* name2;
    size_t block;
  };
  const Case cases[] = {
      {"AB", "C", 8}, {"ABC", "DEFG", 12}, {"ABCDEF", "", 12}, {"A", "", 4}, {"", "", 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(GsbNamesBlockLength(strlen(c.name), strlen(c.name2)), c.block) << c.name;
    std::vector<uint8_t> out(c.block, 0xEE);
    EncodeGsbNamesBlock(c.name, c.name2, out.data());
    std::string expected = std::string(c.name) + '\0' + c.name2;
    expected.resize(c.block, '\0');
    EXPECT_EQ(std::string(out.begin(), out.end()), expected) << c.name;
  }
}

// One object as it went in, to compare with what the decoders give back.
struct Shape {
  uint8_t kind;
  std::string name, name2;
  std::vector<std::vector<RingPoint>> rings;  // a point: one ring of one point
};

// Files of random objects in each coordinate form, read back through the
// product's decoders: header, extension, every record in file order, its
// rings, points and segment records, and the spatial index pages.
TEST(GsbFormatTest, WrittenFilesDecode) {
  std::mt19937 random(11);
  for (uint16_t flags : {0, 1, 2, 3}) {
    SCOPED_TRACE(flags);
    TempDir dir;
    const std::string path = dir.File("f.gsb");
    auto error = std::make_shared<pipError>();
    auto builder = std::make_unique<BoundaryBuilder>(error, path.c_str(), flags, 1, 100000, 50);
    ASSERT_TRUE(builder->FillExtension(3, "extension name", "text"));
    std::vector<Shape> shapes;
    for (int i = 0; i < 300; ++i) {
      Shape s{uint8_t(random() % 3), "n" + std::to_string(i), i % 2 ? "second" : "", {}};
      int32_t x = int32_t(random() % 360000000) - 180000000,
              y = int32_t(random() % 180000000) - 90000000;
      if (s.kind == kGsbPoint) {
        s.rings = {{{x, y}}};
        QPolygonPoint p(*builder, s.name.c_str(), s.name2.c_str(), 1, x, y);
        ASSERT_TRUE(p.Write());
      } else {
        std::unique_ptr<QPolygonLine> o =
            s.kind == kGsbRegion
                ? std::make_unique<QPolygonRegion>(*builder, s.name.c_str(), s.name2.c_str(), 1)
                : std::make_unique<QPolygonLine>(*builder, s.name.c_str(), s.name2.c_str(), 1);
        // Some objects long enough for several checkpoints, one too long to pack.
        const int points = i == 7 ? 30000 : i % 10 == 0 ? 700 : 2 + int(random() % 8);
        const int rings = 1 + int(random() % 3);
        for (int r = 0; r < rings; ++r) {
          s.rings.emplace_back();
          for (int k = 0; k < points; ++k) {
            x += int32_t(random() % (i == 7 ? 20000000 : 2001)) - (i == 7 ? 10000000 : 1000);
            y += int32_t(random() % 2001) - 1000;
            s.rings.back().push_back({x, y});
            ASSERT_TRUE(o->AddPoint(x, y));
          }
          ASSERT_TRUE(o->EndRing());
        }
        ASSERT_TRUE(o->Write());
      }
      shapes.push_back(std::move(s));
    }
    ASSERT_TRUE(builder->Finish());
    builder.reset();

    const std::string file = testsupport::ReadAll(path);
    const uint8_t* b = Bytes(file);
    GsbHeader header;
    const char* why = nullptr;
    ASSERT_TRUE(DecodeGsbHeader(b, file.size(), file.size(), &header, &why)) << why;
    EXPECT_TRUE(header.IsCurrentLayout());
    EXPECT_EQ(header.flags, flags | 0x08);
    GsbExtension extension;
    ASSERT_TRUE(DecodeGsbExtension(b + kGsbExtensionOffset, kGsbExtensionSize, &extension, &why));
    EXPECT_STREQ(extension.name, "extension name");
    EXPECT_EQ(extension.kind, 3);

    uint64_t at = kGsbExtensionOffset + kGsbExtensionSize;
    size_t packedRecords = 0;
    for (const Shape& s : shapes) {
      GsbObjectRecord r;
      ASSERT_TRUE(DecodeGsbObjectRecord(b + at, file.size() - at, true, &r, &why)) << why;
      EXPECT_EQ(r.kind, s.kind);
      EXPECT_EQ(r.name, s.name);
      EXPECT_EQ(r.name2, s.name2);
      if (s.kind == kGsbPoint) {
        EXPECT_EQ(r.x, s.rings[0][0].x);
        EXPECT_EQ(r.y, s.rings[0][0].y);
      } else {
        ASSERT_EQ(r.rings, s.rings.size());
        std::vector<uint32_t> counts(r.rings);
        ASSERT_TRUE(DecodeGsbRingCounts(b + at, r, counts.data(), &why)) << why;
        std::vector<RingPoint> points(r.points);
        std::vector<SegmentRecord> segments(r.segments);
        ASSERT_TRUE(DecodeGsbCoordinates(b + at, r, points.data(), segments.data(), &why)) << why;
        packedRecords += r.Packed();
        // The segment records are those the codec builds from the points.
        SegmentFrame frame = SegmentFrame::Make(r.bounds.xmin, r.bounds.ymin, 1);
        size_t next = 0, segment = 0;
        for (size_t k = 0; k < s.rings.size(); ++k) {
          ASSERT_EQ(counts[k], s.rings[k].size());
          for (const RingPoint& p : s.rings[k]) {
            EXPECT_EQ(points[next].x, p.x);
            EXPECT_EQ(points[next].y, p.y);
            ++next;
          }
          if (flags & 1) {
            std::vector<SegmentRecord> expected(s.rings[k].size());
            uint32_t n = BuildSegmentRecords(s.rings[k].data(), uint32_t(s.rings[k].size()),
                                             s.kind == kGsbRegion, frame, expected.data());
            for (uint32_t e = 0; e < n; ++e, ++segment)
              EXPECT_EQ(0, std::memcmp(&expected[e], &segments[segment], sizeof(SegmentRecord)));
          }
        }
        EXPECT_EQ(segment, r.segments);
      }
      at += r.length;
    }
    // Packed files hold mostly packed records, and the object too long to
    // pack raw.
    size_t lines = 0;
    for (const Shape& s : shapes) lines += s.kind != kGsbPoint;
    const size_t tooLong = shapes[7].kind != kGsbPoint ? 1 : 0;
    EXPECT_EQ(packedRecords, (flags & 2) ? lines - tooLong : 0);

    GsbPageHeader page;
    ASSERT_TRUE(DecodeGsbPageHeader(b + header.SpatialIndex(), kGsbPageSize, &page, &why)) << why;
    EXPECT_EQ(page.flags, kGsbPageLeaf | kGsbPageRoot);
    EXPECT_EQ(page.count, shapes.size());
    EXPECT_EQ(page.bounds.xmin, header.bounds.xmin);
  }
}

class RecordDamageTest : public ::testing::Test {
 protected:
  // A raw region (two rings of 2 and 1 points, names "AB" and "C") and a
  // packed one (a ring of 3 points).
  void SetUp() override {
    GsbObjectRecord r;
    r.kind = kGsbRegion;
    r.rings = 2;
    r.points = 3;
    r.ringOffset = 88;
    r.coordinateOffset = 96;
    r.length = 96 + 24;
    r.flags = 0x08;
    raw_.resize(r.length);
    uint8_t* p = reinterpret_cast<uint8_t*>(raw_.data());
    EncodeGsbLineFixed(r, p);
    EncodeGsbNamesBlock("AB", "C", p + 80);
    QStoreU32LE(p + 88, 2);
    QStoreU32LE(p + 92, 1);
    for (int i = 0; i < 6; ++i) QStoreU32LE(p + 96 + 4 * i, uint32_t(i * 10));

    // x 10, 20, 20 and y 10, 10, 20 as streams of 3 and 4 bytes.
    r.rings = 1;
    r.ringOffset = 84;
    r.coordinateOffset = 88;
    r.length = 88 + 8 + 7;
    r.flags = 0x0A;
    packed_.resize(r.length);
    p = reinterpret_cast<uint8_t*>(packed_.data());
    EncodeGsbLineFixed(r, p);
    EncodeGsbNamesBlock("T", "", p + 80);
    QStoreU32LE(p + 84, 3);
    QStoreU32LE(p + 88, 3);
    QStoreU32LE(p + 92, 4);
    std::memcpy(p + 96, "\x01\x57\xF0\x01\x57\x05\x70", 7);
  }

  static void Put32(std::string& s, size_t at, uint32_t v) {
    QStoreU32LE(s.data() + at, v);
  }

  std::string raw_, packed_;
};

TEST_F(RecordDamageTest, SoundRecordsDecode) {
  GsbObjectRecord r;
  const char* why = nullptr;
  ASSERT_TRUE(DecodeGsbObjectRecord(Bytes(raw_), raw_.size(), true, &r, &why)) << why;
  EXPECT_EQ(r.name, "AB");
  EXPECT_EQ(r.name2, "C");
  uint32_t counts[2];
  ASSERT_TRUE(DecodeGsbRingCounts(Bytes(raw_), r, counts, &why));
  RingPoint points[3];
  ASSERT_TRUE(DecodeGsbCoordinates(Bytes(raw_), r, points, nullptr, &why));
  EXPECT_EQ(points[2].x, 40);
  EXPECT_EQ(points[2].y, 50);

  ASSERT_TRUE(DecodeGsbObjectRecord(Bytes(packed_), packed_.size(), true, &r, &why)) << why;
  ASSERT_TRUE(DecodeGsbCoordinates(Bytes(packed_), r, points, nullptr, &why)) << why;
  EXPECT_EQ(points[1].x, 20);
  EXPECT_EQ(points[1].y, 10);
  EXPECT_EQ(points[2].y, 20);
}

// Every count, offset and length is checked against the record and the bytes
// at hand.
TEST_F(RecordDamageTest, DamagedRecordsFailWithTheirReason) {
  struct Case {
    const char* what;
    bool packed;
    void (*change)(std::string&);
    const char* why;
    size_t cut = 0;  // bytes taken off the end of what is handed in
  };
  const Case cases[] = {
      {"length past the bytes", false, [](std::string& b) { Put32(b, 4, 121); },
       "Object record cut short."},
      {"length below the fixed part", false, [](std::string& b) { Put32(b, 4, 60); },
       "Object record cut short."},
      {"bytes cut", false, [](std::string&) {}, "Object record cut short.", 1},
      {"unknown kind", false, [](std::string& b) { b[0] = 3; }, "Unknown object kind."},
      {"names without their NULs", false,
       [](std::string& b) {
         Put32(b, 80, 0x41414141);
         Put32(b, 4, 84);
       },
       "Names block damaged."},
      {"ring table inside the names", false, [](std::string& b) { Put32(b, 20, 82); },
       "Ring table damaged."},
      {"ring table past the coordinates", false, [](std::string& b) { Put32(b, 8, 3); },
       "Ring table damaged."},
      {"coordinates past the record", false, [](std::string& b) { Put32(b, 24, 124); },
       "Ring table damaged."},
      {"points past the record", false, [](std::string& b) { Put32(b, 12, 4); },
       "Coordinates outside the record."},
      {"huge point count", false, [](std::string& b) { Put32(b, 12, 0x40000000); },
       "Coordinates outside the record."},
      {"segments without room", false,
       [](std::string& b) {
         b[38] = 0x09;
         Put32(b, 16, 5);
       },
       "Coordinates outside the record."},
      {"stream longer than the record", true, [](std::string& b) { Put32(b, 92, 5); },
       "Coordinates outside the record."},
      {"stream longer than a stream can be", true, [](std::string& b) { Put32(b, 88, 70000); },
       "Packed coordinates damaged."},
  };
  for (const Case& c : cases) {
    std::string bytes = c.packed ? packed_ : raw_;
    c.change(bytes);
    GsbObjectRecord r;
    const char* why = nullptr;
    EXPECT_FALSE(DecodeGsbObjectRecord(Bytes(bytes), bytes.size() - c.cut, true, &r, &why))
        << c.what;
    EXPECT_STREQ(why, c.why) << c.what;
  }

  // Ring counts that do not add up; a stream with fewer values than points.
  std::string bytes = raw_;
  Put32(bytes, 92, 2);
  GsbObjectRecord r;
  const char* why = nullptr;
  ASSERT_TRUE(DecodeGsbObjectRecord(Bytes(bytes), bytes.size(), true, &r, &why));
  uint32_t counts[2];
  EXPECT_FALSE(DecodeGsbRingCounts(Bytes(bytes), r, counts, &why));
  EXPECT_STREQ(why, "Ring table damaged.");
  bytes = packed_;
  Put32(bytes, 12, 9);  // nine points from streams of three
  Put32(bytes, 84, 9);
  ASSERT_TRUE(DecodeGsbObjectRecord(Bytes(bytes), bytes.size(), true, &r, &why));
  RingPoint points[9];
  EXPECT_FALSE(DecodeGsbCoordinates(Bytes(bytes), r, points, nullptr, &why));
  EXPECT_STREQ(why, "Packed coordinates damaged.");
}

TEST(GsbFormatTest, HeaderChecks) {
  GsbHeader h;
  h.flags = 0x08;
  h.offsetWidth = 1;
  h.nameIndexOffset = 1024;
  h.spatialRoot = 32768;
  uint8_t bytes[kGsbHeaderSize];
  EncodeGsbHeader(h, bytes);
  GsbHeader out;
  const char* why = nullptr;
  EXPECT_TRUE(DecodeGsbHeader(bytes, sizeof bytes, 65536, &out, &why)) << why;
  EXPECT_EQ(out.NameIndex(), 1024u);
  EXPECT_EQ(out.SpatialIndex(), 32768u);
  EXPECT_EQ(out.AllBounds(), GsbBounds::Empty());

  struct Case {
    const char* what;
    uint64_t fileSize;
    void (*change)(GsbHeader&);
    const char* why;
  };
  const Case cases[] = {
      {"another magic", 65536, [](GsbHeader& x) { x.magic = 0x12345678; }, "Not a boundary file."},
      {"file shorter than a header", 500, [](GsbHeader&) {}, "Boundary file header cut short."},
      {"root page past the end", 65535, [](GsbHeader&) {}, "Index offset outside the file."},
      {"root off a page", 65536, [](GsbHeader& x) { x.spatialRoot = 1000; },
       "Index offset outside the file."},
      {"name index past the end", 65536, [](GsbHeader& x) { x.nameIndexOffset = 70000; },
       "Index offset outside the file."},
      {"extension past the end", 600,
       [](GsbHeader& x) {
         x.hasExtension = 1;
         x.spatialRoot = 0;
         x.nameIndexOffset = 0;
       },
       "Extension record outside the file."},
  };
  for (const Case& c : cases) {
    GsbHeader changed = h;
    c.change(changed);
    EncodeGsbHeader(changed, bytes);
    EXPECT_FALSE(DecodeGsbHeader(bytes, sizeof bytes, c.fileSize, &out, &why)) << c.what;
    EXPECT_STREQ(why, c.why) << c.what;
  }
}

// Old files: bounds from grid numbers of 0.002 degree, fixed parts of 64
// bytes (regions) and 52 (lines), and 32-bit index offsets.
TEST(GsbFormatTest, OldLayout) {
  GsbHeader h;
  h.magic = kGsbMagicOld;
  h.flags = 0;
  h.gridWest = 5000;
  h.gridEast = 4000;
  h.gridSouth = 0;  // minus one wraps to 65535
  h.gridNorth = 20000;
  h.nameIndexOffset32 = 2048;
  h.spatialIndexOffset32 = 3000;
  uint8_t bytes[kGsbHeaderSize];
  EncodeGsbHeader(h, bytes);
  GsbHeader out;
  const char* why = nullptr;
  ASSERT_TRUE(DecodeGsbHeader(bytes, sizeof bytes, 4000, &out, &why)) << why;
  EXPECT_FALSE(out.IsCurrentLayout());
  EXPECT_EQ(out.NameIndex(), 2048u);
  EXPECT_EQ(out.SpatialIndex(), 3000u);
  EXPECT_EQ(out.AllBounds(), (GsbBounds{(-30000 - 5001) * 2000, 65535 * 2000,
                                        (-30000 - 3999) * 2000, 20001 * 2000}));

  GsbObjectRecord r;
  r.kind = kGsbLine;
  r.rings = 1;
  r.points = 1;
  r.ringOffset = 56;
  r.coordinateOffset = 60;
  r.length = 68;
  r.gridWest = 10;
  r.gridEast = 9;
  r.gridSouth = 100;
  r.gridNorth = 101;
  std::string record(kGsbLineFixedSize, '\0');  // room for the encoder; 68 used
  uint8_t* p = reinterpret_cast<uint8_t*>(record.data());
  EncodeGsbLineFixed(r, p);
  EncodeGsbNamesBlock("L", "", p + 52);  // a line's names follow its 52 bytes
  QStoreU32LE(p + 56, 1);
  GsbObjectRecord decoded;
  ASSERT_TRUE(DecodeGsbObjectRecord(p, r.length, false, &decoded, &why)) << why;
  EXPECT_EQ(decoded.name, "L");
  EXPECT_EQ(decoded.bounds, (GsbBounds{(-30010) * 2000, 200000, (-30009) * 2000, 202000}));
  EXPECT_EQ(decoded.brushColour, 0u);
}

TEST(GsbFormatTest, PageChecks) {
  std::vector<uint8_t> page(kGsbPageSize);
  uint8_t entries[2 * kGsbPageEntrySize];
  EncodeGsbPageEntry({{1, 2, 3, 4}, 536}, entries);
  EncodeGsbPageEntry({{-5, -6, 7, 8}, 600}, entries + kGsbPageEntrySize);
  GsbPageHeader h;
  h.count = 2;
  h.flags = kGsbPageLeaf | kGsbPageRoot;
  h.bounds = {-5, -6, 7, 8};
  EncodeGsbPage(h, entries, page.data());
  GsbPageHeader out;
  const char* why = nullptr;
  ASSERT_TRUE(DecodeGsbPageHeader(page.data(), page.size(), &out, &why)) << why;
  EXPECT_EQ(out.count, 2);
  EXPECT_EQ(DecodeGsbPageEntry(page.data(), 1).reference, 600u);
  EXPECT_EQ(DecodeGsbPageEntry(page.data(), 1).bounds, (GsbBounds{-5, -6, 7, 8}));

  page[100] ^= 1;
  EXPECT_FALSE(DecodeGsbPageHeader(page.data(), page.size(), &out, &why));
  EXPECT_STREQ(why, "Spatial index page check value does not match.");
  page[100] ^= 1;
  struct Case {
    size_t at;
    uint16_t value;
  };
  for (Case c : {Case{0, 1364}, Case{2, 3}, Case{4, 16384}, Case{6, 1}}) {
    std::vector<uint8_t> bad = page;
    QStoreU16LE(bad.data() + c.at, c.value);
    QPageSetCheckValue(bad.data(), bad.size());
    EXPECT_FALSE(DecodeGsbPageHeader(bad.data(), bad.size(), &out, &why)) << c.at;
    EXPECT_STREQ(why, "Spatial index page damaged.");
  }
  EXPECT_FALSE(DecodeGsbPageHeader(page.data(), 1000, &out, &why));
}

}  // namespace
