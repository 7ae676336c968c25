// The map-object file's head, header, blocks, slots and .ID file. Read-side
// fixtures are laid out byte by byte here from the layout tables, apart from
// the encoder.
#include "mapfile/foundation/token.h"
#include "mapfile/objects/mapfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "platform/env.h"

namespace {

using namespace layerio;

// Little-endian writers of the fixture generator (kept apart from the
// library's own helpers on purpose).
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v & 0xFF);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void PutF64(std::vector<uint8_t>& b, size_t at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) b[at + size_t(i)] = uint8_t(bits >> (8 * i));
}
uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(s[at + size_t(i)]);
  return v;
}
uint16_t Get16(const std::string& s, size_t at) {
  return uint16_t(uint8_t(s[at]) | (uint8_t(s[at + 1]) << 8));
}

// A head of 616 bytes and `blocks` zero blocks of 512 bytes after it, with a
// header record of the given version; the generator's header is a non-earth
// map in metres with scale 1000 unless the caller changes bytes.
std::vector<uint8_t> MakeFile(int16_t version, int headerBytes, int blocks = 0) {
  std::vector<uint8_t> b(1024 + 512 * size_t(blocks), 0);
  Put32(b, 256 + 0, 42424242);
  Put16(b, 256 + 4, uint16_t(version));
  Put16(b, 256 + 6, 512);
  PutF64(b, 256 + 8, 1.0);
  b[256 + 94] = 7;  // metres
  b[256 + 96] = 3;  // precision
  b[256 + 97] = 1;
  b[256 + 99] = 72;
  if (version >= 200) {
    b[256 + 109] = 0;  // non-earth
    b[256 + 111] = 7;
    PutF64(b, 256 + 112, 1000);
    PutF64(b, 256 + 120, 1000);
  }
  // Cut the header to its declared length: bytes past it are beyond the file.
  if (headerBytes < 360) b.resize(256 + size_t(headerBytes));
  return b;
}

class MapFileTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
  }
  void TearDown() override {
    TokEnd();
    FileLayerTest::TearDown();
  }

  CoordSys Cs(const char* clause) {
    CoordSys cs;
    EXPECT_TRUE(CoordSysParseText(&cs, clause, true)) << clause;
    return cs;
  }
  FileHandle Table(const std::string& name) { return Add(name, 1); }
  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    dir_.Write(name, std::string(bytes.begin(), bytes.end()));
  }

  MapFile map_{};
  MapHeader header_{};
};

const char* const kNonEarth = "CoordSys NonEarth Units \"m\" Bounds (0, 0) (1000, 1000)";

TEST_F(MapFileTest, ANewMapHasTheHeadTheHeaderAndItsFirstBlockAfterTheHead) {
  struct Case {
    const char* name;
    const char* clause;
    int blockSize;
    int16_t version;
    int headerLength;
    size_t fileSize;
  } cases[] = {
      {"plain", kNonEarth, 0, 500, 312, 1024},
      {"extended", "CoordSys NonEarth Units \"m\" Bounds (0, 0) (1000, 1000) supportmz", 0, 800,
       360, 1024},
      {"large blocks", kNonEarth, 16384, 500, 312, 16384},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileHandle table = Table(std::string(c.name) + ".TAB");
    CoordSys cs = Cs(c.clause);
    ASSERT_TRUE(MapFileCreate(&map_, &header_, table, -1, &cs, 0, 0, c.blockSize));
    std::string bytes = Contents(std::string(c.name) + ".MAP");
    ASSERT_EQ(bytes.size(), c.fileSize);
    EXPECT_EQ(std::memcmp(bytes.data(), MapTypeTableLibrary(), 256), 0);
    EXPECT_EQ(uint8_t(bytes[7]), 162);  // code 7: 34 bytes and variable data
    EXPECT_EQ(Get32(bytes, 256), 42424242u);
    EXPECT_EQ(int16_t(Get16(bytes, 260)), c.version);
    EXPECT_EQ(uint8_t(bytes[256 + 99]), 72);
    EXPECT_EQ(uint8_t(bytes[256 + 97]), 1);
    // Nothing is written past the version's header length.
    for (size_t i = 256 + size_t(c.headerLength); i < bytes.size(); ++i)
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(MapFirstBlockPosition(&map_), c.fileSize);

    ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
    uint32_t at = 0;
    ASSERT_TRUE(MapBlockAlloc(&map_, &at));
    EXPECT_EQ(at, c.fileSize);
    EXPECT_TRUE(MapFileUnlock(&map_, &header_));
    MapFileClose(&map_);
  }
}

TEST_F(MapFileTest, AHeaderReadsBackAsWritten) {
  const char* clauses[] = {
      kNonEarth,
      "CoordSys NonEarth Units \"ft\" Bounds (-5, -7) (30, 40)",
      "CoordSys Earth Projection 1, 104 Bounds (-180, -90) (180, 90)",
      "CoordSys Earth Projection 1, 33",
      "CoordSys Earth Projection 3, 74, \"m\", -90, 42, 44.25, 45.75, 600000, 0",
      "CoordSys Earth Projection 8, 104, \"km\", -93, 0, 0.9996, 500000, 0",
      "CoordSys Earth Projection 1001, 104, \"km\", 2, 0, 10, 0, 4, 20 "
      "Affine Units \"mi\", 1, 1, 0, 0, 1, 0",
      "CoordSys NonEarth Units \"in\" Bounds (0, 0) (8.5, 11) supportmz",
  };
  int n = 0;
  for (const char* clause : clauses) {
    SCOPED_TRACE(clause);
    std::string name = "h" + std::to_string(n++);
    FileHandle table = Table(name + ".TAB");
    CoordSys cs = Cs(clause);
    ASSERT_TRUE(MapFileCreate(&map_, &header_, table, -1, &cs, 0, 0));
    ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
    header_.root = IRect{-5, -6, 70, 80};
    header_.second = IRect{1, 2, 3, 4};
    header_.pointCount = 11;
    header_.regionCount = 13;
    header_.maxObjectSize = 999;
    header_.extensionWords[7] = 0xDEADBEEF;
    header_.flags |= kMapHeaderDirty;
    ASSERT_TRUE(MapFileUnlock(&map_, &header_));
    EXPECT_EQ(header_.flags & kMapHeaderDirty, 0u);
    const MapFile written = map_;
    MapFileClose(&map_);

    MapFile map{};
    MapHeader header{};
    ASSERT_TRUE(MapFileOpen(&map, &header, table, -1, 0));
    EXPECT_TRUE(CoordSysEqual(&header.coordSys, &cs));
    EXPECT_EQ(map.version, written.version);
    EXPECT_EQ(map.precision, written.precision);
    EXPECT_EQ(map.storedUnit, written.storedUnit);
    EXPECT_EQ(map.unitFactor, written.unitFactor);
    EXPECT_EQ(header.root.x2, 70);
    EXPECT_EQ(map.root.y1, -6);
    EXPECT_EQ(header.second.y2, 4);
    EXPECT_EQ(header.pointCount, 11u);
    EXPECT_EQ(header.regionCount, 13u);
    EXPECT_EQ(header.maxObjectSize, 999u);
    EXPECT_EQ(header.readWord, 4u);
    EXPECT_EQ(header.extensionWords[7], map.extension ? 0xDEADBEEF : 0u);
    MapFileClose(&map);
  }
}

TEST_F(MapFileTest, PrecisionAndStoredUnitFollowTheScaleAndUnit) {
  char unit8[64];
  ASSERT_TRUE(UnitName(8, unit8, sizeof unit8));
  const std::string clause8 =
      std::string("CoordSys NonEarth Units \"") + unit8 + "\" Bounds (0, 0) (1, 1)";
  struct Case {
    std::string clause;
    int precision;
    int storedUnit;
  } cases[] = {
      // 2e9 integers over 1000 metres: log10(2e6) = 6.3
      {kNonEarth, 6, 7},
      // unit code 8 is stored as 3; 2e9 over one unit: 9
      {clause8, 9, 3},
      // degrees (code 13) are stored as 0
      {"CoordSys Earth Projection 1, 104", 6, 0},
      // a window smaller than the grid: no negative precision
      {"CoordSys NonEarth Units \"m\" Bounds (0, 0) (1e12, 1e12)", 0, 7},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clause);
    CoordSys cs = Cs(c.clause.c_str());
    ASSERT_TRUE(
        MapFileCreate(&map_, &header_, Table("p" + std::to_string(n++) + ".TAB"), -1, &cs, 0, 0));
    EXPECT_EQ(map_.precision, c.precision);
    EXPECT_EQ(map_.storedUnit, c.storedUnit);
    double expected = 0;
    UnitConvert(&expected, c.storedUnit, 1.0, CoordSysUnits(&cs));
    EXPECT_EQ(map_.unitFactor, expected);
    MapFileClose(&map_);
  }
}

TEST_F(MapFileTest, HeaderLengthsFollowTheVersion) {
  struct Case {
    const char* name;
    int16_t version;
    int bytes;
    bool opens;
  } cases[] = {
      {"v150 with 105 bytes", 150, 105, true},
      {"v150 with 104 bytes", 150, 104, false},
      {"v300 with 216 bytes", 300, 216, true},
      {"v300 with 215 bytes", 300, 215, false},
      {"v450 with 255 bytes", 450, 255, false},
      {"v500 with 312 bytes", 500, 312, true},
      {"v500 with 300 bytes", 500, 300, false},
      {"v800 with 359 bytes", 800, 359, false},
      {"v800 with 360 bytes", 800, 360, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = "v" + std::to_string(n++);
    WriteBytes(name + ".MAP", MakeFile(c.version, c.bytes));
    ErrorClear();
    EXPECT_EQ(MapFileOpen(&map_, &header_, Table(name + ".TAB"), -1, 0) != 0, c.opens);
    if (c.opens) {
      EXPECT_EQ(map_.version, c.version);
      EXPECT_EQ(header_.coordSys.projection, 0);
      EXPECT_EQ(CoordSysUnits(&header_.coordSys), kUnitMetre);
    } else {
      EXPECT_EQ(map_.file, 0);  // the entry is released
      EXPECT_TRUE(Pushed(kErrMapDamaged));
    }
    MapFileClose(&map_);
  }
}

TEST_F(MapFileTest, AnOldHeaderTakesItsScaleFromThePrecision) {
  // Version 150, non-earth in feet (stored unit 3) with unit factor 2: the
  // scale is 10^3 / 2 on both axes.
  std::vector<uint8_t> b = MakeFile(150, 105);
  b[256 + 94] = 3;
  PutF64(b, 256 + 8, 2.0);
  WriteBytes("old.MAP", b);
  ASSERT_TRUE(MapFileOpen(&map_, &header_, Table("old.TAB"), -1, 0));
  double sx, sy, ox, oy;
  CoordSysGetScale(&header_.coordSys, nullptr, nullptr, &sx, &sy, &ox, &oy);
  EXPECT_EQ(sx, 500);
  EXPECT_EQ(sy, 500);
  EXPECT_EQ(ox, 0);
  EXPECT_EQ(CoordSysUnits(&header_.coordSys), 3);
  MapFileClose(&map_);

  // Byte 98 set: longitude/latitude on datum 0.
  b = MakeFile(150, 105);
  b[256 + 98] = 1;
  WriteBytes("ll.MAP", b);
  ASSERT_TRUE(MapFileOpen(&map_, &header_, Table("ll.TAB"), -1, 0));
  EXPECT_EQ(header_.coordSys.projection, 1);
  MapFileClose(&map_);
}

TEST_F(MapFileTest, TheQuadrantStoredInTheFileIsReadBack) {
  // A non-earth map whose writer stored quadrant 3 (x left, y down) and a
  // longitude/latitude map with quadrant 1: both are read in their own
  // orientation, not in the clause default.
  struct Case {
    const char* name;
    int projection;
    int quadrant;
    double signX, signY;
  } cases[] = {
      {"non-earth 3", 0, 3, -1, -1},
      {"non-earth 2", 0, 2, -1, 1},
      {"lon/lat 1", 1, 1, 1, 1},
      {"non-earth bad code", 0, 9, 1, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = MakeFile(500, 312);
    b[256 + 97] = uint8_t(c.quadrant);
    if (c.projection == 1) {
      b[256 + 98] = 1;
      b[256 + 109] = 1;
      b[256 + 110] = 28;
    }
    std::string name = "q" + std::to_string(n++);
    WriteBytes(name + ".MAP", b);
    ASSERT_TRUE(MapFileOpen(&map_, &header_, Table(name + ".TAB"), -1, 0));
    const CoordSys& cs = header_.coordSys;
    int expected = c.quadrant >= 1 && c.quadrant <= 4 ? c.quadrant : 1;
    EXPECT_EQ(CoordSysOrientation(&cs), expected);
    EXPECT_EQ(cs.scaleX, 1000 * c.signX);
    EXPECT_EQ(cs.scaleY, 1000 * c.signY);
    MapFileClose(&map_);
  }
}

TEST_F(MapFileTest, DamagedHeadersAreRefused) {
  struct Case {
    const char* name;
    size_t at;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"marker", 256, {1, 2, 3, 4}},
      {"block size 0", 262, {0, 0}},
      {"block size 100", 262, {100, 0}},
      {"block size -512", 262, {0x00, 0xFE}},
      {"scale NaN", 256 + 112, {0, 0, 0, 0, 0, 0, 0xF8, 0x7F}},
      {"scale 0", 256 + 120, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"affine not invertible", 256 + 256, {1}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = MakeFile(500, 312);
    std::copy(c.bytes.begin(), c.bytes.end(), b.begin() + long(c.at));
    std::string name = "d" + std::to_string(n++);
    WriteBytes(name + ".MAP", b);
    EXPECT_FALSE(MapFileOpen(&map_, &header_, Table(name + ".TAB"), -1, 0));
    EXPECT_EQ(map_.file, 0);
    MapFileClose(&map_);
  }
  // Out-of-range numbers are replaced, not refused.
  std::vector<uint8_t> b = MakeFile(500, 312);
  b[256 + 109] = 200;  // projection
  b[256 + 111] = 99;   // unit
  WriteBytes("r.MAP", b);
  ASSERT_TRUE(MapFileOpen(&map_, &header_, Table("r.TAB"), -1, 0));
  EXPECT_EQ(header_.coordSys.projection, 0);
  EXPECT_EQ(CoordSysUnits(&header_.coordSys), kUnitMetre);
  MapFileClose(&map_);
}

TEST_F(MapFileTest, AFileThatKnowsMoreCodesKeepsItsTableToItself) {
  std::vector<uint8_t> b = MakeFile(500, 312);
  b[256 + 99] = 80;
  for (int code = 0; code < 256; ++code) b[size_t(code)] = uint8_t(code == 0 ? 0 : 99);
  WriteBytes("more.MAP", b);
  ASSERT_TRUE(MapFileOpen(&map_, &header_, Table("more.TAB"), -1, 0));
  EXPECT_EQ(map_.highestCode, 80);
  EXPECT_EQ(MapTypeEntry(&map_, 75), 99);   // the file's own code
  EXPECT_EQ(MapTypeEntry(&map_, 81), 0);    // beyond what it knows
  EXPECT_EQ(MapTypeEntry(&map_, 7), 162);   // the library's codes stay
  EXPECT_EQ(MapTypeTableLibrary()[75], 0);  // and no later map sees 75
  MapFile other{};
  MapHeader otherHeader{};
  WriteBytes("plain.MAP", MakeFile(500, 312));
  ASSERT_TRUE(MapFileOpen(&other, &otherHeader, Table("plain.TAB"), -1, 0));
  EXPECT_EQ(MapTypeEntry(&other, 75), 0);
  MapFileClose(&other);
  MapFileClose(&map_);
}

TEST_F(MapFileTest, TheDamagedIndexRectangleIsReportedAndTheOpenSucceeds) {
  std::vector<uint8_t> b = MakeFile(500, 312);
  Put32(b, 256 + 16, uint32_t(-2147483647));
  Put32(b, 256 + 20, uint32_t(-2147483647));
  Put32(b, 256 + 24, 2147483647u);
  Put32(b, 256 + 28, 2147483647u);
  WriteBytes("bad.MAP", b);
  EXPECT_TRUE(MapFileOpen(&map_, &header_, Table("bad.TAB"), -1, 0));
  MapFileClose(&map_);
}

class MapBlocksTest : public MapFileTest {
 protected:
  void SetUp() override {
    MapFileTest::SetUp();
    CoordSys cs = Cs(kNonEarth);
    ASSERT_TRUE(MapFileCreate(&map_, &header_, Table("b.TAB"), -1, &cs, 0, 0));
    ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
  }
  void TearDown() override {
    MapFileUnlock(&map_, &header_);
    MapFileClose(&map_);
    MapFileTest::TearDown();
  }
  int64_t Size() { return FileSize(map_.file); }
};

TEST_F(MapBlocksTest, FreedBlocksShrinkTheFileOrJoinTheChain) {
  uint32_t a, b, c;
  ASSERT_TRUE(MapBlockAlloc(&map_, &a));
  ASSERT_TRUE(MapBlockAlloc(&map_, &b));
  ASSERT_TRUE(MapBlockAlloc(&map_, &c));
  EXPECT_EQ(a, 1024u);
  EXPECT_EQ(b, 1536u);
  EXPECT_EQ(c, 2048u);
  EXPECT_EQ(Size(), 2560);

  ASSERT_TRUE(MapBlockFree(&map_, c));  // the last block: the file shrinks
  EXPECT_EQ(Size(), 2048);
  EXPECT_EQ(map_.freeHead, 0u);
  ASSERT_TRUE(MapBlockFree(&map_, a));  // any other: the head of the chain
  EXPECT_EQ(map_.freeHead, a);
  ASSERT_TRUE(MapBlockFree(&map_, b));  // the last block again
  EXPECT_EQ(Size(), 1536);
  EXPECT_EQ(map_.freeHead, a);

  uint32_t again;
  ASSERT_TRUE(MapBlockAlloc(&map_, &again));
  EXPECT_EQ(again, a);
  EXPECT_EQ(map_.freeHead, 0u);
  ASSERT_TRUE(MapBlockAlloc(&map_, &again));
  EXPECT_EQ(again, 1536u);

  // The chain reaches the file through the header.
  ASSERT_TRUE(MapBlockFree(&map_, a));
  header_.flags |= kMapHeaderDirty;
  ASSERT_TRUE(MapFileUnlock(&map_, &header_));
  EXPECT_EQ(Get32(Contents("b.MAP"), 256 + 52), a);
  EXPECT_EQ(Get16(Contents("b.MAP"), a), kMapBlockFree);
  ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
}

TEST_F(MapBlocksTest, ADamagedFreeChainIsDroppedAndTheFileGrows) {
  uint32_t a, b;
  ASSERT_TRUE(MapBlockAlloc(&map_, &a));
  ASSERT_TRUE(MapBlockAlloc(&map_, &b));
  struct Case {
    const char* name;
    uint32_t head;
  } cases[] = {{"off the block grid", 1030}, {"inside the head", 512}, {"past the end", 8192},
               {"not a free block", 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    map_.freeHead = c.head;
    int64_t before = Size();
    uint32_t at;
    ASSERT_TRUE(MapBlockAlloc(&map_, &at));
    EXPECT_EQ(at, uint32_t(before));
    EXPECT_EQ(map_.freeHead, 0u);
  }
  // A free block that names itself as next is handed out once.
  MapBlockSlot* slot;
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &slot));
  MapBlockInit(&map_, slot, kMapBlockFree);
  QStoreU32LE(slot->bytes + 2, a);
  ASSERT_TRUE(MapBlockWrite(&map_, slot, a));
  map_.freeHead = a;
  uint32_t first, second;
  ASSERT_TRUE(MapBlockAlloc(&map_, &first));
  ASSERT_TRUE(MapBlockAlloc(&map_, &second));
  EXPECT_EQ(first, a);
  EXPECT_NE(second, a);
  MapBlockSlotFree(&map_, &slot);
  EXPECT_EQ(slot, nullptr);
}

TEST_F(MapBlocksTest, ASlotServesItsBlockUntilAnyBlockChanges) {
  uint32_t a, b;
  ASSERT_TRUE(MapBlockAlloc(&map_, &a));
  ASSERT_TRUE(MapBlockAlloc(&map_, &b));
  MapBlockSlot *one, *two;
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &one));
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &two));
  EXPECT_EQ(one->flags & kMapSlotInvalid, kMapSlotInvalid);
  MapBlockInit(&map_, one, kMapBlockObject);
  one->bytes[100] = 7;
  ASSERT_TRUE(MapBlockWrite(&map_, one, a));
  ASSERT_TRUE(MapBlockRead(&map_, one, a));  // current: served from the slot
  EXPECT_EQ(one->bytes[100], 7);

  // Bytes changed behind the slot's back are not seen while it is current...
  const uint8_t nine = 9;
  ASSERT_EQ(FileSeek(map_.file, a + 100, 0), a + 100);
  ASSERT_EQ(FileWrite(map_.file, &nine, 1), 1);
  // (The map keeps written blocks; a change by another writer drops them at
  // the next open, as this does.)
  MapNodeCacheDrop(&map_, a);
  ASSERT_TRUE(MapBlockRead(&map_, one, a));
  EXPECT_EQ(one->bytes[100], 7);
  // ...and are read once another block is written through another slot.
  MapBlockInit(&map_, two, kMapBlockCoord);
  ASSERT_TRUE(MapBlockWrite(&map_, two, b));
  ASSERT_TRUE(MapBlockRead(&map_, one, a));
  EXPECT_EQ(one->bytes[100], 9);
  // An allocation or a free makes every slot stale too.
  uint32_t generation = one->generation;
  uint32_t c;
  ASSERT_TRUE(MapBlockAlloc(&map_, &c));
  EXPECT_GT(map_.generation, generation);
  MapBlockSlotFree(&map_, &one);
  MapBlockSlotFree(&map_, &two);
}

TEST_F(MapBlocksTest, BlockPositionsOutsideTheFileAreErrors) {
  uint32_t a;
  ASSERT_TRUE(MapBlockAlloc(&map_, &a));
  MapBlockSlot* slot;
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &slot));
  struct Case {
    const char* name;
    uint32_t position;
  } cases[] = {{"zero", 0},           {"inside the head", 512}, {"off the grid", 1025},
               {"past the end", 1536}, {"far past", 0xFFFFFE00u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorClear();
    EXPECT_FALSE(MapBlockRead(&map_, slot, c.position));
    EXPECT_TRUE(Pushed(kErrMapDamaged));
    EXPECT_EQ(slot->flags & kMapSlotInvalid, kMapSlotInvalid);
  }
  ErrorClear();
  EXPECT_FALSE(MapBlockFree(&map_, 1025));
  EXPECT_FALSE(MapBlockWrite(&map_, slot, 700));
  EXPECT_TRUE(Pushed(kErrMapDamaged));
  MapBlockSlotFree(&map_, &slot);
}

TEST_F(MapBlocksTest, AnotherWritersChangeIsReadAgainAndStaleSlotsAreRefilled) {
  uint32_t a;
  ASSERT_TRUE(MapBlockAlloc(&map_, &a));
  MapBlockSlot* slot;
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &slot));
  MapBlockInit(&map_, slot, kMapBlockObject);
  slot->bytes[40] = 1;
  ASSERT_TRUE(MapBlockWrite(&map_, slot, a));
  header_.flags |= kMapHeaderDirty;
  ASSERT_TRUE(MapFileUnlock(&map_, &header_));

  // Another process rewrites the block and the header's point count, and
  // grows the file by a block.
  std::string path = PathOf("b.MAP");
  int status = platform::WaitChild(platform::StartChild([&] {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(a + 40);
    f.put(2);
    f.seekp(256 + 60);
    f.put(5);
    f.seekp(0, std::ios::end);
    std::string block(512, '\0');
    f.write(block.data(), 512);
    return f.good() ? 0 : 1;
  }));
  ASSERT_EQ(status, 0);

  uint32_t changed = 0;
  ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, &changed));
  EXPECT_EQ(changed, 1u);
  EXPECT_EQ(header_.pointCount, 5u);
  ASSERT_TRUE(MapBlockRead(&map_, slot, a));
  EXPECT_EQ(slot->bytes[40], 2);
  MapBlockSlotFree(&map_, &slot);
}

// A map larger than the budget of kept object and coordinate blocks, read
// block by block in file order (as a table read row by row reads it), then
// from the start again and in a scattered order: every read gives the
// block's own bytes, and the kept blocks follow the reads (the oldest make
// room for the newest).
TEST_F(MapFileTest, BlocksBeyondTheDataBudgetAreReadRightAndTheNewestAreKept) {
  const int blocks = int(kMapDataCacheBytes / 512) + 400;
  std::vector<uint8_t> b = MakeFile(500, 360, blocks);
  for (int i = 0; i < blocks; ++i) {
    const size_t at = 1024 + 512 * size_t(i);
    Put16(b, at, i % 7 == 0 ? kMapBlockObject : kMapBlockCoord);
    Put32(b, at + 8, uint32_t(i));
  }
  WriteBytes("big.MAP", b);
  b.clear();
  ASSERT_TRUE(MapFileOpen(&map_, &header_, Table("big.TAB"), -1, 0));
  ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeRead, nullptr));
  MapBlockSlot* slot;
  ASSERT_TRUE(MapBlockSlotAlloc(&map_, &slot));
  auto position = [](int i) { return uint32_t(1024 + 512 * i); };
  auto readsBack = [&](int i) {
    return MapBlockRead(&map_, slot, position(i)) == 1 &&
           QLoadU32LE(slot->bytes + 8) == uint32_t(i);
  };
  for (int i = 0; i < blocks; ++i) ASSERT_TRUE(readsBack(i)) << "block " << i;
  EXPECT_EQ(MapNodeCacheFind(&map_, position(0)), nullptr);
  EXPECT_NE(MapNodeCacheFind(&map_, position(blocks - 1)), nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(readsBack(i)) << "again, block " << i;
  for (int k = 0; k < 5000; ++k) {
    const int i = int((uint64_t(k) * 2654435761u) % uint64_t(blocks));
    ASSERT_TRUE(readsBack(i)) << "scattered, block " << i;
  }
  MapBlockSlotFree(&map_, &slot);
  MapFileUnlock(&map_, &header_);
  MapFileClose(&map_);
}

TEST_F(MapFileTest, CompanionsTakeTheCaseOfTheDefinition) {
  CoordSys cs = Cs(kNonEarth);
  ASSERT_TRUE(MapFileCreate(&map_, &header_, Table("lower.tab"), -1, &cs, 0, 0));
  MapFileClose(&map_);
  EXPECT_FALSE(Contents("lower.map").empty());
  IdFileAccess id{};
  ASSERT_TRUE(IdFileCreate(&id, FileTableFind(PathOf("lower.tab").c_str(), 1)));
  ASSERT_TRUE(IdFileWrite(1, 1024, &id));
  ASSERT_TRUE(IdFileFlush(&id));
  EXPECT_EQ(Contents("lower.id").size(), 4u);

  ASSERT_TRUE(MapFileCreate(&map_, &header_, Table("UPPER.TAB"), -1, &cs, 0, 0));
  MapFileClose(&map_);
  EXPECT_FALSE(Contents("UPPER.MAP").empty());

  // An existing companion is found ignoring case.
  WriteBytes("Mixed.Map", MakeFile(500, 312));
  EXPECT_TRUE(MapFileOpen(&map_, &header_, Table("Mixed.TAB"), -1, 0));
  MapFileClose(&map_);
}

TEST_F(MapFileTest, TheIdFileMapsRowsToPositions) {
  FileHandle table = Table("rows.TAB");
  IdFileAccess id{};
  ASSERT_TRUE(IdFileCreate(&id, table));
  EXPECT_EQ(id.read, &IdFileRead);
  EXPECT_EQ(id.write, &IdFileWrite);
  uint32_t position = 77;
  EXPECT_FALSE(IdFileRead(1, &position, &id));  // past the end: no object
  EXPECT_EQ(position, 0u);
  ASSERT_TRUE(IdFileWrite(1000, 0x01020304, &id));
  EXPECT_FALSE(IdFileRead(0, &position, &id));
  EXPECT_FALSE(IdFileWrite(0, 1, &id));
  EXPECT_FALSE(IdFileRead(-3, &position, &id));
  EXPECT_FALSE(IdFileRead(999, &position, &id));  // zero: no object
  ASSERT_TRUE(IdFileRead(1000, &position, &id));
  EXPECT_EQ(position, 0x01020304u);
  id.lastRow = 1200;
  ASSERT_TRUE(IdFileFlush(&id));
  std::string bytes = Contents("rows.ID");
  ASSERT_EQ(bytes.size(), 4800u);  // reaches the table's last row
  for (size_t i = 0; i < bytes.size(); ++i)
    if (i < 3996 || i >= 4000) {
      ASSERT_EQ(bytes[i], 0) << i;
    }
  EXPECT_EQ(Get32(bytes, 3996), 0x01020304u);

  ASSERT_TRUE(IdFileOpen(&id, table));
  ASSERT_TRUE(IdFileRead(1000, &position, &id));
  EXPECT_EQ(position, 0x01020304u);
  EXPECT_FALSE(IdFileRead(1201, &position, &id));
  ASSERT_TRUE(IdFileFlush(&id));  // read-only: closed without writing
  EXPECT_EQ(Contents("rows.ID").size(), 4800u);
}

TEST_F(MapFileTest, AFailedCreateLeavesNoFile) {
  CoordSys cs = Cs(kNonEarth);
  EXPECT_FALSE(MapFileCreate(&map_, &header_, Table("bs.TAB"), -1, &cs, 0, 0, 1000));
  EXPECT_TRUE(Contents("bs.MAP").empty());
  // The temporary form makes its own name beside the table.
  ASSERT_TRUE(MapFileCreate(&map_, &header_, Table("t.TAB"), -1, &cs, 1, 0));
  char path[kPathCapacity];
  FilePath(map_.file, path);
  EXPECT_NE(std::string(path).find("~MAP"), std::string::npos);
  EXPECT_TRUE(MapFileRemove(&map_));
  FileStatRec st;
  EXPECT_NE(FileStat(path, &st), 0);
}

}  // namespace
