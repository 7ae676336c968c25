// Style tables of map-object files: chains laid out byte by byte from the
// record layouts and read back, damaged chains, find-or-add with shared and
// distinct styles, use counts down to free entries, full tables, and reloads.
#include "mapfile/objects/mapstyles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/mapfile.h"
#include "support/temp_dir.h"

namespace {

using namespace layerio;

// ----- a generator of style chains, written from the layouts alone ----------

std::string U16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Rgb(uint32_t c) { return {char((c >> 16) & 0xFF), char((c >> 8) & 0xFF), char(c & 0xFF)}; }

// Pen body: pixel widths 0..7 in byte 0; point widths (10 + points) as
// byte 0 = 8 | high bits (or 1 when they are 0) and byte 2 = low byte.
std::string PenBody(int width, int pattern, uint32_t colour) {
  std::string b(3, '\0');
  if (width < 10) {
    b[0] = char(width);
  } else {
    int points = width - 10;
    int high = (points >> 8) & 7;
    b[0] = char(high ? 8 | high : 1);
    b[2] = char(points & 0xFF);
  }
  b[1] = char(pattern);
  return b + Rgb(colour);
}
std::string BrushBody(int pattern, int transparent, uint32_t fg, uint32_t bg) {
  return std::string{char(pattern), char(transparent)} + Rgb(fg) + Rgb(bg);
}
std::string SymbolBody(int shape, int size, uint32_t colour) {
  return U16(uint32_t(shape)) + U16(uint32_t(size)) + std::string(1, '\0') + Rgb(colour);
}
std::string NameBody(const std::string& name) {
  std::string b = name;
  b.resize(32, '\0');
  return b;
}

struct GenRecord {
  uint8_t sort;
  uint32_t use;
  std::string body;
};

constexpr uint32_t kNextAuto = 0xFFFFFFFF;

struct GenBlock {
  std::vector<GenRecord> records;
  uint32_t next = kNextAuto;  // the following block, 0 after the last
  uint16_t kind = 5;
};

uint32_t FirstBlock(int blockSize) { return (616 + blockSize - 1) / blockSize * blockSize; }

// The head (zeros) and the blocks, block i at the first block position + i.
std::string Generate(int blockSize, const std::vector<GenBlock>& blocks) {
  uint32_t first = FirstBlock(blockSize);
  std::string file(first, '\0');
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::string records;
    for (const GenRecord& r : blocks[i].records) records += char(r.sort) + U32(r.use) + r.body;
    uint32_t next = blocks[i].next;
    if (next == kNextAuto) next = i + 1 < blocks.size() ? first + uint32_t(i + 1) * blockSize : 0;
    std::string block = U16(blocks[i].kind) + U16(uint32_t(records.size())) + U32(next) + records;
    block.resize(size_t(blockSize), '\0');
    file += block;
  }
  return file;
}

uint32_t ReadU32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t ReadU16(const std::string& s, size_t at) {
  return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

// ----- fixture ----------------------------------------------------------------

class MapStylesTest : public mapfiletest::FileLayerTest {
 protected:
  void TearDown() override {
    CloseMap();
    mapfiletest::FileLayerTest::TearDown();
  }

  // Opens a file of the given bytes as a map whose header names the first
  // style block and the counts given.
  void OpenMap(const std::string& bytes, int blockSize, uint32_t firstStyle,
               std::vector<uint8_t> counts = {0, 0, 0, 0, 0}) {
    CloseMap();
    // A new file each time: the page cache may still hold an earlier one.
    name_ = "styles" + std::to_string(++files_) + ".map";
    dir_.Write(name_, bytes);
    std::memset(&map_, 0, sizeof map_);
    map_.file = Add(name_, kMapFileKind);
    ASSERT_GT(map_.file, 0);
    ASSERT_EQ(FileOpen(map_.file, kFileModeWrite, nullptr), map_.file);
    open_ = true;
    map_.blockSize = int16_t(blockSize);
    map_.version = 500;
    map_.marker = kMapMarker;
    map_.firstStyleBlock = firstStyle;
    map_.penCount = counts[0];
    map_.brushCount = counts[1];
    map_.symbolCount = counts[2];
    map_.nameCount = counts[3];
    map_.styleBlockCount = counts[4];
  }
  // An empty map: the head only, no style blocks.
  void OpenEmpty(int blockSize = 512) {
    OpenMap(std::string(FirstBlock(blockSize), '\0'), blockSize, 0);
  }
  void CloseMap() {
    if (!open_) return;
    FreeTables(map_);
    FileClose(map_.file);
    open_ = false;
  }
  static void FreeTables(MapFile& map) {
    MemFreePtr(&map.pens);
    MemFreePtr(&map.brushes);
    MemFreePtr(&map.symbols);
    MemFreePtr(&map.names);
    MemFreePtr(&map.styleBlocks);
  }
  // The file's bytes as they stand (cached pages written first).
  std::string Bytes() {
    FileCacheFlush(map_.file);
    return Contents(name_);
  }
  // The record at a style position, decoded from the file's bytes.
  uint32_t FileOffset(const std::string& bytes, uint32_t position) {
    position &= ~kMapStyleEntryFree;
    uint32_t size = uint32_t(map_.blockSize);
    // Walk the chain from the first style block, as a reader would.
    uint32_t at = map_.firstStyleBlock;
    for (uint32_t n = 0; n < position / size; ++n) at = ReadU32(bytes, at + 4);
    return at + position % size;
  }
  uint32_t UseCountInFile(uint32_t position) {
    std::string bytes = Bytes();
    return ReadU32(bytes, FileOffset(bytes, position) + 1);
  }
  // Reads the tables again from the file, as a reopen does.
  void Reload() {
    ErrorClear();
    ASSERT_TRUE(MapStylesLoad(&map_));
  }

  MapFile map_{};
  bool open_ = false;
  std::string name_;
  int files_ = 0;
};

PenStyle Pen(int16_t width, uint32_t pattern, uint32_t colour) { return {width, pattern, 0, colour}; }
BrushStyle Brush(uint32_t pattern, uint32_t fg, uint32_t bg, uint8_t transparent = 0) {
  return {pattern, fg, bg, transparent};
}
SymbolStyle Symbol(int16_t shape, int16_t size, uint32_t colour) {
  SymbolStyle s{};
  s.shape = shape;
  s.size = size;
  s.colour = colour;
  return s;
}
std::string Name(const char* n) { return std::string(n, strnlen(n, 32)); }

// ----- the read side: generated chains ------------------------------------------

TEST_F(MapStylesTest, GeneratedChainLoadsEveryRecordInChainOrder) {
  std::vector<GenBlock> blocks(2);
  blocks[0].records = {{1, 2, PenBody(3, 2, 0x112233)},
                       {1, 1, PenBody(300, 5, 0xABCDEF)},
                       {2, 1, BrushBody(8, 0, 0xFF0000, 0x00FF00)},
                       {3, 4, NameBody("Arial")},
                       {4, 1, SymbolBody(35, 12, 0x0000FF)},
                       {1, 0, PenBody(4, 9, 0x445566)}};  // free: loads all zero
  blocks[1].records = {{3, 1, NameBody("Courier New")}, {2, 3, BrushBody(2, 1, 0x123456, 0)}};
  OpenMap(Generate(512, blocks), 512, 1024, {3, 2, 1, 2, 2});
  ASSERT_TRUE(MapStylesLoad(&map_));
  EXPECT_EQ(map_.penCount, 3);
  EXPECT_EQ(map_.brushCount, 2);
  EXPECT_EQ(map_.symbolCount, 1);
  EXPECT_EQ(map_.nameCount, 2);
  ASSERT_EQ(map_.styleBlockCount, 2);
  EXPECT_EQ(map_.styleBlocks[0], 1024u);
  EXPECT_EQ(map_.styleBlocks[1], 1536u);
  // Style positions: block number in the chain x block size + offset in it.
  EXPECT_EQ(map_.pens[0].position, 8u);
  EXPECT_EQ(map_.pens[1].position, 8u + 11);
  EXPECT_EQ(map_.brushes[0].position, 8u + 22);
  EXPECT_EQ(map_.names[1].position, 512u + 8);
  EXPECT_EQ(map_.brushes[1].position, 512u + 8 + 37);

  PenStyle pen{};
  ASSERT_TRUE(MapPenLookup(&map_, 1, &pen, 0));
  EXPECT_EQ(pen.width, 3);
  EXPECT_EQ(pen.pattern, 2u);
  EXPECT_EQ(pen.colour, 0x112233u);
  ASSERT_TRUE(MapPenLookup(&map_, 2, &pen, 0));
  EXPECT_EQ(pen.width, 300);
  EXPECT_EQ(pen.pattern, 5u);
  EXPECT_EQ(pen.colour, 0xABCDEFu);
  BrushStyle brush{};
  ASSERT_TRUE(MapBrushLookup(&map_, 2, &brush, 0));
  EXPECT_EQ(brush.pattern, 2u);
  EXPECT_EQ(brush.transparent, 1);
  EXPECT_EQ(brush.foreground, 0x123456u);
  SymbolStyle symbol{};
  ASSERT_TRUE(MapSymbolLookup(&map_, 1, &symbol, 0));
  EXPECT_EQ(symbol.shape, 35);
  EXPECT_EQ(symbol.size, 12);
  EXPECT_EQ(symbol.colour, 0x0000FFu);
  char name[32];
  ASSERT_TRUE(MapNameLookup(&map_, 1, name, 0));
  EXPECT_EQ(Name(name), "Arial");
  ASSERT_TRUE(MapCustomNameLookup(&map_, 2, name, 0));
  EXPECT_EQ(Name(name), "Courier New");
}

TEST_F(MapStylesTest, IndexZeroBeyondTheTableAndFreeEntriesGiveTheDefaults) {
  std::vector<GenBlock> blocks(1);
  blocks[0].records = {{1, 0, PenBody(4, 9, 0x445566)}, {3, 1, NameBody("Arial")}};
  OpenMap(Generate(512, blocks), 512, 1024, {1, 0, 0, 1, 1});
  ASSERT_TRUE(MapStylesLoad(&map_));
  const PenStyle def = StyleDefaults()->linePen;
  for (uint8_t index : {0, 1, 2, 255}) {
    SCOPED_TRACE(int(index));
    PenStyle pen = Pen(7, 77, 7);
    ASSERT_TRUE(MapPenLookup(&map_, index, &pen, 0));
    EXPECT_EQ(pen.width, def.width);
    EXPECT_EQ(pen.pattern, def.pattern);
    EXPECT_EQ(pen.colour, def.colour);
  }
  BrushStyle brush{};
  ASSERT_TRUE(MapBrushLookup(&map_, 3, &brush, 0));
  EXPECT_EQ(brush.pattern, StyleDefaults()->brush.pattern);
  SymbolStyle symbol{};
  ASSERT_TRUE(MapSymbolLookup(&map_, 0, &symbol, 0));
  EXPECT_EQ(symbol.shape, StyleDefaults()->symbol.shape);
  EXPECT_EQ(symbol.size, StyleDefaults()->symbol.size);
  char name[32];
  ASSERT_TRUE(MapNameLookup(&map_, 0, name, 0));
  EXPECT_EQ(Name(name), "Helvetica");
  // A custom-symbol name lookup leaves its output alone instead.
  std::strcpy(name, "mine.bmp");
  ASSERT_TRUE(MapCustomNameLookup(&map_, 0, name, 0));
  ASSERT_TRUE(MapCustomNameLookup(&map_, 2, name, 0));
  EXPECT_EQ(Name(name), "mine.bmp");
  EXPECT_EQ(ErrorCount(), 0);
}

TEST_F(MapStylesTest, AnEmptyMapLoadsEmptyTables) {
  OpenEmpty();
  ASSERT_TRUE(MapStylesLoad(&map_));
  EXPECT_EQ(map_.penCount + map_.brushCount + map_.symbolCount + map_.nameCount, 0);
  EXPECT_EQ(map_.styleBlockCount, 0);
}

// A block of 256 pens: more than a table holds.
std::vector<GenBlock> TooManyPens() {
  std::vector<GenBlock> blocks(1);
  for (int i = 0; i < 256; ++i) blocks[0].records.push_back({1, 1, PenBody(1, 2, uint32_t(i))});
  return blocks;
}

TEST_F(MapStylesTest, DamagedChainsFailWithAnError) {
  auto two = [] {
    std::vector<GenBlock> blocks(2);
    blocks[0].records = {{1, 1, PenBody(3, 2, 1)}, {3, 1, NameBody("Arial")}};
    blocks[1].records = {{2, 1, BrushBody(3, 0, 1, 2)}};
    return blocks;
  };
  struct Case {
    const char* name;
    int blockSize;
    std::function<std::vector<GenBlock>()> blocks;
    std::function<void(std::string&)> damage;  // on the generated bytes
    std::vector<uint8_t> counts;                // pens, brushes, symbols, names, blocks
  };
  const std::vector<Case> cases = {
      {"a block of another kind", 512, two, [](std::string& f) { f[1536] = 3; }, {1, 1, 0, 1, 2}},
      {"bytes in use beyond the block", 512, two,
       [](std::string& f) { f.replace(1026, 2, U16(505)); }, {1, 1, 0, 1, 2}},
      {"a record of an unknown sort", 512, two, [](std::string& f) { f[1024 + 8] = 7; },
       {1, 1, 0, 1, 2}},
      {"a sort of zero", 512, two, [](std::string& f) { f[1024 + 8 + 11] = 0; },
       {1, 1, 0, 1, 2}},
      {"a record cut by the bytes in use", 512, two,
       [](std::string& f) { f.replace(1026, 2, U16(11 + 36)); }, {1, 1, 0, 1, 2}},
      {"a chain that loops", 512, two, [](std::string& f) { f.replace(1536 + 4, 4, U32(1024)); },
       {1, 1, 0, 1, 2}},
      {"a block that names itself", 512, two,
       [](std::string& f) { f.replace(1024 + 4, 4, U32(1024)); }, {1, 0, 0, 1, 1}},
      {"a next block off the block grid", 512, two,
       [](std::string& f) { f.replace(1024 + 4, 4, U32(1030)); }, {1, 1, 0, 1, 2}},
      {"a next block inside the head", 512, two,
       [](std::string& f) { f.replace(1024 + 4, 4, U32(512)); }, {1, 1, 0, 1, 2}},
      {"a next block past the end of the file", 512, two,
       [](std::string& f) { f.replace(1024 + 4, 4, U32(8192)); }, {1, 1, 0, 1, 2}},
      {"a file cut inside the last block", 512, two, [](std::string& f) { f.resize(1536 + 100); },
       {1, 1, 0, 1, 2}},
      {"fewer pens than the header counts", 512, two, [](std::string&) {}, {2, 1, 0, 1, 2}},
      {"fewer style blocks than the header counts", 512, two, [](std::string&) {},
       {1, 1, 0, 1, 3}},
      {"256 pens", 16384, TooManyPens, [](std::string&) {}, {255, 0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = Generate(c.blockSize, c.blocks());
    c.damage(bytes);
    OpenMap(bytes, c.blockSize, FirstBlock(c.blockSize), c.counts);
    ErrorClear();
    EXPECT_FALSE(MapStylesLoad(&map_));
    EXPECT_TRUE(ErrorHasCode(kErrMapDamaged));
    // Nothing half-loaded stays behind.
    EXPECT_EQ(map_.pens, nullptr);
    EXPECT_EQ(map_.penCount + map_.brushCount + map_.nameCount + map_.styleBlockCount, 0);
  }
}

TEST_F(MapStylesTest, FirstStyleBlockOffTheGridOrBlockSizeDamagedFails) {
  std::vector<GenBlock> blocks(1);
  blocks[0].records = {{1, 1, PenBody(3, 2, 1)}};
  std::string bytes = Generate(512, blocks);
  for (auto [first, size] : {std::pair{1000u, 512}, {1024u, 500}, {1024u, 0}, {1024u, 32767}}) {
    SCOPED_TRACE(std::to_string(first) + " " + std::to_string(size));
    OpenMap(bytes, size, first, {1, 0, 0, 0, 1});
    ErrorClear();
    EXPECT_FALSE(MapStylesLoad(&map_));
    EXPECT_TRUE(ErrorHasCode(kErrMapDamaged));
  }
}

// Every byte of the style blocks flipped, and the file cut at every 37 bytes:
// the load either succeeds or fails with the error, and never reads outside a
// block (the sanitizer run watches that).
TEST_F(MapStylesTest, FlippedAndTruncatedCopiesFailCleanly) {
  std::vector<GenBlock> blocks(2);
  blocks[0].records = {{1, 1, PenBody(3, 2, 1)},
                       {3, 1, NameBody("Arial")},
                       {4, 2, SymbolBody(40, 10, 5)},
                       {2, 0, BrushBody(3, 0, 1, 2)}};
  blocks[1].records = {{2, 1, BrushBody(3, 0, 1, 2)}, {1, 1, PenBody(300, 2, 9)}};
  const std::string good = Generate(512, blocks);
  int failures = 0;
  auto check = [&](const std::string& bytes) {
    OpenMap(bytes, 512, 1024, {2, 2, 1, 1, 2});
    ErrorClear();
    if (!MapStylesLoad(&map_)) {
      ++failures;
      EXPECT_TRUE(ErrorHasCode(kErrMapDamaged));
    } else {
      EXPECT_LE(map_.styleBlockCount, 255);
    }
  };
  for (size_t at = 1024; at < 1536 + 80; ++at) {
    if (at == 1024 + 120) at = 1536;  // the rest of the first block is unused
    std::string bytes = good;
    bytes[at] = char(bytes[at] ^ 0xFF);
    check(bytes);
  }
  for (size_t cut = 1024; cut < good.size(); cut += 37) check(good.substr(0, cut));
  EXPECT_GT(failures, 0);
}

// ----- similarity ---------------------------------------------------------------------

TEST(MapStyleSimilarity, ScoresAsTables) {
  struct PenCase {
    const char* name;
    PenStyle a, b;
    int32_t score;
  };
  const PenCase pens[] = {
      {"two pattern-1 pens", Pen(1, 1, 0), Pen(7, 1, 0xFFFFFF), 3000},
      {"equal pens", Pen(2, 2, 0x102030), Pen(2, 2, 0x102030), 3000},
      {"pixel widths 2 and 4", Pen(2, 2, 0), Pen(4, 2, 0), 2500},
      {"pixel against point width", Pen(2, 2, 0), Pen(20, 2, 0), 2000},
      {"point widths 20 and 40", Pen(20, 3, 0), Pen(40, 3, 0), 2500},
      {"other patterns, black and white", Pen(1, 2, 0), Pen(1, 3, 0xFFFFFF), 1000},
      {"zero widths", Pen(0, 4, 0), Pen(0, 4, 0), 3000},
  };
  for (const PenCase& c : pens) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MapPenSimilarity(&c.a, &c.b), c.score);
    EXPECT_EQ(MapPenSimilarity(&c.b, &c.a), c.score);
  }
  struct BrushCase {
    const char* name;
    BrushStyle a, b;
    int32_t score;
  };
  const BrushCase brushes[] = {
      {"two pattern-1 brushes", Brush(1, 0, 0), Brush(1, 0xFFFFFF, 0xFFFFFF), 3000},
      {"pattern 2: background does not count", Brush(2, 0, 0), Brush(2, 0, 0xFFFFFF), 3000},
      {"pattern 3, backgrounds apart", Brush(3, 0, 0), Brush(3, 0, 0xFFFFFF), 2000},
      {"other patterns", Brush(3, 0, 0), Brush(4, 0, 0), 2000},
  };
  for (const BrushCase& c : brushes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MapBrushSimilarity(&c.a, &c.b), c.score);
  }
  SymbolStyle s1 = Symbol(35, 10, 0), s2 = Symbol(35, 20, 0), s3 = Symbol(36, 10, 0xFFFFFF);
  EXPECT_EQ(MapSymbolSimilarity(&s1, &s1), 3000);
  EXPECT_EQ(MapSymbolSimilarity(&s1, &s2), 2500);
  EXPECT_EQ(MapSymbolSimilarity(&s1, &s3), 1000);
}

// ----- the write side --------------------------------------------------------------------

TEST_F(MapStylesTest, SharedStylesCountUpAndDownToAFreeEntry) {
  OpenEmpty();
  const PenStyle red = Pen(3, 2, 0xFF0000);
  uint8_t first = 0, second = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &red, &first, 1));
  EXPECT_EQ(first, 1);
  // The first add writes use count 1; the second object raises it.
  ASSERT_TRUE(MapPenIndex(&map_, &red, &second, 1));
  EXPECT_EQ(second, 1);
  EXPECT_EQ(map_.penCount, 1);
  const uint32_t position = map_.pens[0].position;
  EXPECT_EQ(UseCountInFile(position), 2u);

  // A distinct pen gets its own entry and record.
  const PenStyle blue = Pen(3, 2, 0x0000FF);
  uint8_t other = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &blue, &other, 1));
  EXPECT_EQ(other, 2);

  PenStyle out{};
  ASSERT_TRUE(MapPenLookup(&map_, 1, &out, 1));
  EXPECT_EQ(out.colour, 0xFF0000u);
  EXPECT_EQ(UseCountInFile(position), 1u);
  ASSERT_TRUE(MapPenLookup(&map_, 1, &out, 1));
  EXPECT_EQ(out.colour, 0xFF0000u);  // the last release still gives the style
  EXPECT_EQ(UseCountInFile(position), 0u);
  // Free now: the default on lookup, and a further release stays at 0.
  ASSERT_TRUE(MapPenLookup(&map_, 1, &out, 1));
  EXPECT_EQ(out.pattern, StyleDefaults()->linePen.pattern);
  EXPECT_EQ(UseCountInFile(position), 0u);
  // The free entry stays in its place; the file keeps the old body.
  EXPECT_EQ(map_.penCount, 2);
  std::string bytes = Bytes();
  EXPECT_EQ(bytes.substr(FileOffset(bytes, position) + 5, 6), PenBody(3, 2, 0xFF0000));

  Reload();
  EXPECT_EQ(map_.penCount, 2);
  ASSERT_TRUE(MapPenLookup(&map_, 2, &out, 0));
  EXPECT_EQ(out.colour, 0x0000FFu);
  ASSERT_TRUE(MapPenLookup(&map_, 1, &out, 0));
  EXPECT_EQ(out.pattern, StyleDefaults()->linePen.pattern);
}

TEST_F(MapStylesTest, DefaultPenAndBrushAreNeverStored) {
  OpenEmpty();
  uint8_t index = 9;
  PenStyle pen = StyleDefaults()->linePen;
  ASSERT_TRUE(MapPenIndex(&map_, &pen, &index, 1));
  EXPECT_EQ(index, 0);
  BrushStyle brush = StyleDefaults()->brush;
  index = 9;
  ASSERT_TRUE(MapBrushIndex(&map_, &brush, &index, 1));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(map_.penCount + map_.brushCount, 0);
  EXPECT_EQ(map_.styleBlockCount, 0);
}

// The mend: an all-zero style (the empty font name of a new text) must not
// take over a free entry whose record still holds an old body.
TEST_F(MapStylesTest, AnAllZeroStyleNeverMatchesAFreeEntry) {
  OpenEmpty();
  uint8_t arial = 0, empty = 0;
  ASSERT_TRUE(MapNameIndex(&map_, "Arial", &arial, 1));
  char name[32];
  ASSERT_TRUE(MapNameLookup(&map_, arial, name, 1));  // the only text goes
  ASSERT_TRUE(MapNameIndex(&map_, "", &empty, 1));
  EXPECT_NE(empty, arial);
  EXPECT_EQ(empty, 2);

  // An all-zero pen (width 0, pattern 0, black) the same way.
  const PenStyle green = Pen(2, 5, 0x00FF00), zero = Pen(0, 0, 0);
  uint8_t greenIndex = 0, zeroIndex = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &green, &greenIndex, 1));
  PenStyle out{};
  ASSERT_TRUE(MapPenLookup(&map_, greenIndex, &out, 1));
  ASSERT_TRUE(MapPenIndex(&map_, &zero, &zeroIndex, 1));
  EXPECT_NE(zeroIndex, greenIndex);

  // After a reload every object still shows its own style.
  Reload();
  ASSERT_TRUE(MapNameLookup(&map_, empty, name, 0));
  EXPECT_EQ(Name(name), "");
  ASSERT_TRUE(MapPenLookup(&map_, zeroIndex, &out, 0));
  EXPECT_EQ(out.width, 0);
  EXPECT_EQ(out.pattern, 0u);
  EXPECT_EQ(out.colour, 0u);
  EXPECT_EQ(UseCountInFile(map_.names[empty - 1].position), 1u);
  EXPECT_EQ(UseCountInFile(map_.names[arial - 1].position), 0u);
  // And a search after the reload does not match the free entry either.
  uint8_t again = 0;
  ASSERT_TRUE(MapNameIndex(&map_, "", &again, 1));
  EXPECT_EQ(again, empty);
  EXPECT_EQ(UseCountInFile(map_.names[empty - 1].position), 2u);
}

TEST_F(MapStylesTest, ARecordThatDoesNotFitStartsANewStyleBlock) {
  OpenEmpty();
  // 504 bytes of records fit a 512-byte block: 13 names of 37 bytes.
  std::vector<uint8_t> index(14);
  for (int i = 0; i < 14; ++i) {
    std::string n = "Font " + std::to_string(i);
    ASSERT_TRUE(MapNameIndex(&map_, n.c_str(), &index[i], 1));
    EXPECT_EQ(index[i], i + 1);
  }
  ASSERT_EQ(map_.styleBlockCount, 2);
  EXPECT_EQ(map_.names[12].position, 8u + 12 * 37);
  EXPECT_EQ(map_.names[13].position, 512u + 8);  // second block of the chain
  // Decoded from the bytes: two blocks linked, their bytes in use.
  std::string bytes = Bytes();
  const uint32_t first = map_.firstStyleBlock, second = map_.styleBlocks[1];
  EXPECT_EQ(first, 1024u);
  EXPECT_EQ(ReadU16(bytes, first), 5);
  EXPECT_EQ(ReadU16(bytes, first + 2), 13 * 37);
  EXPECT_EQ(ReadU32(bytes, first + 4), second);
  EXPECT_EQ(ReadU16(bytes, second), 5);
  EXPECT_EQ(ReadU16(bytes, second + 2), 37);
  EXPECT_EQ(ReadU32(bytes, second + 4), 0u);
  EXPECT_EQ(bytes.substr(second + 8, 37), std::string(1, '\3') + U32(1) + NameBody("Font 13"));

  // A pen still fits the second block.
  const PenStyle pen = Pen(5, 3, 0x777777);
  uint8_t penIndex = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &pen, &penIndex, 1));
  EXPECT_EQ(map_.pens[0].position, 512u + 8 + 37);
  EXPECT_EQ(map_.styleBlockCount, 2);

  Reload();
  EXPECT_EQ(map_.nameCount, 14);
  char name[32];
  ASSERT_TRUE(MapNameLookup(&map_, 14, name, 0));
  EXPECT_EQ(Name(name), "Font 13");
}

// The colour of pen i of a full table: red and green in steps of 16, so that
// neighbours score a little lower than an exact match.
uint32_t FillColour(int i) { return uint32_t(i % 16) * 16 << 16 | uint32_t(i / 16) * 16 << 8; }

// Fills the pen table with 255 pens in use, width 1, pattern 3.
void FillPens(MapFile* map) {
  for (int i = 0; i < 255; ++i) {
    PenStyle pen = Pen(1, 3, FillColour(i));
    uint8_t index = 0;
    ASSERT_TRUE(MapPenIndex(map, &pen, &index, 1));
    ASSERT_EQ(index, i + 1);
  }
}

TEST_F(MapStylesTest, AFullTableMapsANewPenToTheMostSimilar) {
  OpenEmpty();
  FillPens(&map_);
  ASSERT_EQ(map_.penCount, 255);
  const uint8_t blocks = map_.styleBlockCount;
  const std::string before = Bytes();

  // Entry 101's colour and pattern with width 2: closest to entry 101.
  PenStyle near = Pen(2, 3, FillColour(100));
  uint8_t index = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &near, &index, 1));
  EXPECT_EQ(index, 101);
  EXPECT_EQ(map_.penCount, 255);
  EXPECT_EQ(map_.styleBlockCount, blocks);
  EXPECT_EQ(UseCountInFile(map_.pens[100].position), 2u);
  EXPECT_EQ(Bytes().size(), before.size());

  // A pen that scores no higher against any entry than against the default
  // stays at the default.
  PenStyle far = Pen(2, 2, 0);  // the default pattern and colour
  ASSERT_TRUE(MapPenIndex(&map_, &far, &index, 1));
  EXPECT_EQ(index, 0);
}

TEST_F(MapStylesTest, AFullTableReusesAFreeEntryByRewritingItsRecord) {
  OpenEmpty();
  FillPens(&map_);
  PenStyle out{};
  const uint32_t position = map_.pens[6].position;
  ASSERT_TRUE(MapPenLookup(&map_, 7, &out, 1));  // entry 7 becomes free
  EXPECT_EQ(UseCountInFile(position), 0u);

  const PenStyle fresh = Pen(6, 9, 0x00ABCD);
  uint8_t index = 0;
  ASSERT_TRUE(MapPenIndex(&map_, &fresh, &index, 1));
  EXPECT_EQ(index, 7);
  EXPECT_EQ(map_.penCount, 255);
  std::string bytes = Bytes();
  EXPECT_EQ(bytes.substr(FileOffset(bytes, position), 11),
            std::string(1, '\1') + U32(1) + PenBody(6, 9, 0x00ABCD));

  Reload();
  ASSERT_TRUE(MapPenLookup(&map_, 7, &out, 0));
  EXPECT_EQ(out.width, 6);
  EXPECT_EQ(out.pattern, 9u);
  EXPECT_EQ(out.colour, 0x00ABCDu);
}

TEST_F(MapStylesTest, AFullNameTableWithoutAFreeEntryGivesTheDefault) {
  OpenMap(std::string(16384, '\0'), 16384, 0);
  for (int i = 0; i < 255; ++i) {
    uint8_t index = 0;
    ASSERT_TRUE(MapNameIndex(&map_, ("N" + std::to_string(i)).c_str(), &index, 1));
  }
  uint8_t index = 9;
  ASSERT_TRUE(MapNameIndex(&map_, "One too many", &index, 1));
  EXPECT_EQ(index, 0);
  char name[32];
  ASSERT_TRUE(MapNameLookup(&map_, index, name, 0));
  EXPECT_EQ(Name(name), "Helvetica");
  // Font names and custom-symbol names share the table.
  ASSERT_TRUE(MapCustomNameIndex(&map_, "N17", &index, 1));
  EXPECT_EQ(index, 18);
}

// Mixed styles written at both block sizes and read back after a reload.
TEST_F(MapStylesTest, MixedStylesRoundTripAtBothBlockSizes) {
  for (int size : {512, 16384}) {
    SCOPED_TRACE(size);
    OpenMap(std::string(FirstBlock(size), '\0'), size, 0);
    std::vector<uint8_t> pens, brushes, symbols, names;
    for (int i = 0; i < 40; ++i) {
      PenStyle pen =
          Pen(int16_t(i % 2 ? i % 8 : 12 + i * 7), uint32_t(2 + i % 5), uint32_t(i * 999));
      BrushStyle brush = Brush(uint32_t(3 + i % 4), uint32_t(i * 12345), uint32_t(i * 7), 0);
      SymbolStyle symbol = Symbol(int16_t(31 + i % 3), int16_t(8 + i % 4), uint32_t(i % 12));
      uint8_t a = 0, b = 0, c = 0, d = 0;
      ASSERT_TRUE(MapPenIndex(&map_, &pen, &a, 1));
      ASSERT_TRUE(MapBrushIndex(&map_, &brush, &b, 1));
      ASSERT_TRUE(MapSymbolIndex(&map_, &symbol, &c, 1));
      ASSERT_TRUE(MapNameIndex(&map_, ("Face " + std::to_string(i % 6)).c_str(), &d, 1));
      pens.push_back(a);
      brushes.push_back(b);
      symbols.push_back(c);
      names.push_back(d);
    }
    EXPECT_EQ(map_.nameCount, 6);
    EXPECT_EQ(map_.symbolCount, 12);
    if (size == 512) {
      EXPECT_GE(map_.styleBlockCount, 3);
    } else {
      EXPECT_EQ(map_.styleBlockCount, 1);
    }
    Reload();
    for (int i = 0; i < 40; ++i) {
      PenStyle pen{};
      BrushStyle brush{};
      SymbolStyle symbol{};
      char name[32];
      ASSERT_TRUE(MapPenLookup(&map_, pens[i], &pen, 0));
      ASSERT_TRUE(MapBrushLookup(&map_, brushes[i], &brush, 0));
      ASSERT_TRUE(MapSymbolLookup(&map_, symbols[i], &symbol, 0));
      ASSERT_TRUE(MapNameLookup(&map_, names[i], name, 0));
      EXPECT_EQ(pen.width, i % 2 ? i % 8 : 12 + i * 7);
      EXPECT_EQ(pen.colour, uint32_t(i * 999));
      EXPECT_EQ(brush.foreground, uint32_t(i * 12345));
      EXPECT_EQ(brush.background, uint32_t(i * 7));
      EXPECT_EQ(symbol.shape, 31 + i % 3);
      EXPECT_EQ(symbol.size, 8 + i % 4);
      EXPECT_EQ(Name(name), "Face " + std::to_string(i % 6));
    }
  }
}

TEST_F(MapStylesTest, AUseCountAtADamagedPositionFails) {
  std::vector<GenBlock> blocks(1);
  blocks[0].records = {{1, 1, PenBody(3, 2, 1)}};
  OpenMap(Generate(512, blocks), 512, 1024, {1, 0, 0, 0, 1});
  ASSERT_TRUE(MapStylesLoad(&map_));
  for (uint32_t position : {0u, 7u, 512u + 8, 512u - 3}) {
    SCOPED_TRACE(position);
    ErrorClear();
    EXPECT_FALSE(MapStyleUseCount(&map_, position, 1, nullptr));
    EXPECT_TRUE(ErrorHasCode(kErrMapDamaged));
  }
  uint32_t count = 0;
  ASSERT_TRUE(MapStyleUseCount(&map_, 8, -1, &count));
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(MapStyleUseCount(&map_, 8, -1, &count));
  EXPECT_EQ(count, 0u);  // never below 0
}

}  // namespace
