// Damaged copies of a map laid out by the test generator (gen_mapfile.py):
// every truncation and every flipped byte of the .MAP and .ID files either
// reads or fails with an error on the stack, and nothing is read outside a
// block (the sanitizer run checks that).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"

namespace {

using namespace layerio;

class MapDamageTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
    ASSERT_TRUE(GeomScratchInit());
    const std::string command = "/usr/bin/python3 " + std::string(GSB_TEST_DATA_DIR) +
                                "/../mapfile/objects/gen_mapfile.py " + PathOf("G.MAP");
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    map_ = Contents("G.MAP");
    id_ = Contents("G.ID");
    ASSERT_EQ(map_.size(), 2560u);
    ASSERT_EQ(id_.size(), 20u);
  }
  void TearDown() override {
    GeomScratchShutdown();
    FileLayerTest::TearDown();
  }

  struct Outcome {
    bool opened = false;
    int read = 0;         // rows read
    int silent = 0;       // rows with an object that failed without an error
  };

  // Writes the two files, opens the map and reads every row.
  Outcome Try(const std::string& mapBytes, const std::string& idBytes) {
    dir_.Write("C.MAP", mapBytes);
    dir_.Write("C.ID", idBytes);
    Outcome out;
    FileHandle table = Add("C.TAB", 1);
    MapFile map{};
    MapHeader header{};
    ErrorClear();
    if (MapFileOpen(&map, &header, table, -1, 0)) {
      out.opened = true;
      IdFileAccess id{};
      MapBlockSlot *objects = nullptr, *coords = nullptr;
      if (IdFileOpen(&id, table) && MapFileLock(&map, &header, kFileModeRead, nullptr) &&
          MapBlockSlotAlloc(&map, &objects) && MapBlockSlotAlloc(&map, &coords)) {
        GeomObject o;
        GeomObjectInit(&o, kGeomNone);
        for (int32_t row = 1; row <= 6; ++row) {
          ErrorClear();
          uint32_t position = 0;
          const bool has = IdFileRead(row, &position, &id);
          if (MapObjectReadByRow(&map, objects, coords, row, 1, IdFileRead, &id, nullptr,
                                 nullptr, &o, nullptr)) {
            ++out.read;
          } else if (has && ErrorCount() == 0 && !RowWordChanged(mapBytes, position, row)) {
            ++out.silent;
          }
        }
        GeomObjectFree(&o);
        MapFileUnlock(&map, &header);
      }
      MapBlockSlotFree(&map, &objects);
      MapBlockSlotFree(&map, &coords);
      if (id.file) IdFileFlush(&id);
      MapFileClose(&map);
    }
    FileRelease(table);
    return out;
  }

  // A record whose row word is not exactly its row is taken for another
  // row's record: no object, and no error.
  static bool RowWordChanged(const std::string& bytes, uint32_t position, int32_t row) {
    if (uint64_t(position) + 5 > bytes.size()) return false;
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = (word << 8) | uint8_t(bytes[position + 1 + uint32_t(i)]);
    return word != uint32_t(row);
  }

  std::string map_, id_;
};

TEST_F(MapDamageTest, TheGeneratedMapReadsWhole) {
  Outcome o = Try(map_, id_);
  EXPECT_TRUE(o.opened);
  EXPECT_EQ(o.read, 4);
}

TEST_F(MapDamageTest, TruncatedCopiesFailWithAnError) {
  // Without its style block (first style block and counts cleared) the map
  // opens as soon as the header is whole; the object block is whole from
  // 1536 bytes on, the region's coordinate block from 2048.
  std::string plain = map_;
  for (size_t i = 256 + 56; i < 256 + 60; ++i) plain[i] = 0;
  for (size_t i = 256 + 100; i < 256 + 105; ++i) plain[i] = 0;
  for (size_t size = 0; size <= plain.size(); ++size) {
    SCOPED_TRACE(size);
    Outcome o = Try(plain.substr(0, size), id_);
    EXPECT_EQ(o.opened, size >= 256 + 312);
    EXPECT_EQ(o.read, size < 1536 ? 0 : size < 2048 ? 3 : 4);
    EXPECT_EQ(o.silent, 0);
  }
  // With it the style block must be whole.
  EXPECT_FALSE(Try(map_.substr(0, map_.size() - 1), id_).opened);
  // A short .ID file: the rows past its end have no object.
  for (size_t size = 0; size < id_.size(); ++size) {
    Outcome o = Try(map_, id_.substr(0, size));
    EXPECT_EQ(o.read, std::min<int>(int(size / 4), 3));
    EXPECT_EQ(o.silent, 0);
  }
}

TEST_F(MapDamageTest, FlippedBytesNeverReadOutsideABlock) {
  int failures = 0;
  for (size_t at = 0; at < map_.size(); ++at) {
    for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
      std::string bytes = map_;
      bytes[at] = char(uint8_t(bytes[at]) ^ mask);
      Outcome o = Try(bytes, id_);
      if (o.silent) ++failures;
      EXPECT_EQ(o.silent, 0) << "byte " << at << " mask " << int(mask);
      if (failures > 5) return;
    }
  }
  for (size_t at = 0; at < id_.size(); ++at) {
    for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x10)}) {
      std::string bytes = id_;
      bytes[at] = char(uint8_t(bytes[at]) ^ mask);
      Outcome o = Try(map_, bytes);
      EXPECT_EQ(o.silent, 0) << "id byte " << at << " mask " << int(mask);
    }
  }
}

}  // namespace
