#include "xbase/opt4.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/xbase/xbase_fixture.h"
#include "xbase/opt4int.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::FieldList;
using xbasetest::Matrix;
using xbasetest::TestCode4;

// A context with the matrix's threads and a cache of `bytes` started at once.
Matrix Cache(long bytes, bool writeBehind = true) {
  Matrix m = xbasetest::MatrixSetting();
  m.cacheBytes = bytes;
  m.writeBehind = writeBehind;
  return m;
}

TEST(Opt4, CacheSizing) {
  struct Case {
    const char* name;
    long memory, block, buffer;
    int result;
    uint32_t numBuffers, blocksPerBuffer, blockSize;
  } cases[] = {
      {"four of thirty buffers reserved", 983040, 1024, 32768, 0, 26, 32, 1024},
      {"below eight buffers the buffer shrinks", 200000, 1024, 32768, 0, 4, 24, 1024},
      {"shrunk to nothing: off", 8000, 1024, 32768, -1, 0, 0, 0},
      {"blocks are whole sectors", 983040, 100, 32768, 0, 26, 64, 512},
      {"and powers of two", 983040, 1536, 32768, 0, 26, 32, 1024},
      {"a buffer holds a block at least", 983040, 1024, 1000, 0, 957, 1, 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestCode4 c4(xbasetest::WithoutCache());
    c4.memStartMax = c.memory;
    c4.cacheBlockSize = c.block;
    c4.cacheBufferSize = c.buffer;
    EXPECT_EQ(code4optStart(&c4), c.result);
    EXPECT_TRUE(c4.reports.empty());
    EXPECT_EQ(c4.errorCode, 0);
    ASSERT_NE(c4.opt, nullptr);
    EXPECT_EQ(c4.opt->numBuffers, c.numBuffers);
    if (c.result != 0) continue;
    EXPECT_EQ(c4.opt->blocksPerBuffer, c.blocksPerBuffer);
    EXPECT_EQ(c4.opt->blockSize, c.blockSize);
    uint32_t blocks = c.numBuffers * c.blocksPerBuffer;
    EXPECT_EQ(c4.opt->numBlocks, blocks);
    EXPECT_GT(c4.opt->hashSize, blocks);
    EXPECT_LE(c4.opt->hashSize, 2 * blocks);
  }
}

TEST(Opt4, MemoryLimitFollowsTheFreeMemoryUntilStartedOrSuspended) {
  TempDir dir;
  std::string path = dir.Write("t.dat", "x");
  TestCode4 c4(xbasetest::WithoutCache());
  FILE4 file{};
  c4.memStartMax = 12345;
  ASSERT_EQ(file4open(&file, &c4, path.c_str(), 0), 0);
  EXPECT_NE(c4.memStartMax, 12345);  // refreshed from the free memory
  EXPECT_LE(c4.memStartMax, 50000000);
  file4close(&file);
  // Suspending a cache that never ran only stops the refresh.
  EXPECT_EQ(code4optSuspend(&c4), 0);
  c4.memStartMax = 12345;
  ASSERT_EQ(file4open(&file, &c4, path.c_str(), 0), 0);
  EXPECT_EQ(c4.memStartMax, 12345);
  file4close(&file);
}

TEST(Opt4, FilesPastFourGigabytesAreNeverBuffered) {
  TempDir dir;
  TestCode4 c4(Cache(983040));
  FILE4 file{};
  std::string path = dir.File("big.dat");
  ASSERT_EQ(file4create(&file, &c4, path.c_str(), 1), 0);
  const uint64_t big = (uint64_t(5) << 30);
  ASSERT_EQ(file4lenSet(&file, big), 0);  // sparse
  ASSERT_EQ(file4write(&file, big - 4, "tail", 4), 0);
  file4close(&file);
  ASSERT_EQ(file4open(&file, &c4, path.c_str(), 1), 0);
  EXPECT_EQ(file.largeFile, 1);
  EXPECT_EQ(file4optimize(&file, 1, 3, 0, nullptr), 0);
  EXPECT_EQ(file.cached, 0u);
  EXPECT_EQ(file.cacheClass, 0);
  char tail[4];
  EXPECT_EQ(file4readAll(&file, big - 4, tail, 4), 0);
  EXPECT_EQ(std::string(tail, 4), "tail");
  file4close(&file);
  EXPECT_EQ(file4optimize(&file, 2, 3, 0, nullptr), -930);
}

TEST(Opt4, WriteBehindReachesTheDiskWhenFlushed) {
  TempDir dir;
  TestCode4 c4(Cache(983040));
  FILE4 file{};
  std::string path = dir.Write("wb.dat", std::string(3000, 'a'));
  ASSERT_EQ(file4open(&file, &c4, path.c_str(), 1), 0);
  ASSERT_EQ(file4optimize(&file, 1, 3, 0, nullptr), 0);
  ASSERT_EQ(file.cached, 1u);
  ASSERT_EQ(file.writeBehind, 1);
  std::string model(3000, 'a');
  ASSERT_EQ(file4write(&file, 2990, "0123456789abcdef", 16), 0);
  model.replace(2990, 16, "0123456789abcdef");
  ASSERT_EQ(file4write(&file, 5000, "far", 3), 0);  // past the end: a gap of zeros
  model.resize(5000, '\0');
  model += "far";
  EXPECT_EQ(ReadAll(path), std::string(3000, 'a'));  // nothing on disk yet
  EXPECT_EQ(file4len(&file), model.size());
  std::string back(model.size(), '?');
  EXPECT_EQ(file4read(&file, 0, back.data(), unsigned(back.size())), model.size());
  EXPECT_EQ(back, model);
  // Cut back in the cache: the disk follows at the flush.
  ASSERT_EQ(file4lenSet(&file, 4000), 0);
  model.resize(4000);
  EXPECT_EQ(file4len(&file), 4000u);
  EXPECT_EQ(file4read(&file, 3990, back.data(), 100), 10u);
  ASSERT_EQ(file4flush(&file), 0);
  EXPECT_EQ(ReadAll(path), model);
  // Write-behind off: writes reach the disk at once.
  ASSERT_EQ(file4optimizeWrite(&file, 0), 0);
  ASSERT_EQ(file4write(&file, 0, "B", 1), 0);
  EXPECT_EQ(ReadAll(path)[0], 'B');
  EXPECT_EQ(file4close(&file), 0);
  EXPECT_TRUE(c4.reports.empty());
}

// A cache of ten blocks under a table of many: every record read back, in
// any order, is the last one written, while blocks are reused, written back
// and gathered in the write buffer.
TEST(Opt4, TinyCacheKeepsEveryRecord) {
  TempDir dir;
  std::string path = dir.File("many.dbf");
  std::vector<std::string> model;
  auto text = [](int i, int round) { return std::to_string(i * 7919 % 100000) + "-" + std::to_string(round); };
  {
    TestCode4 c4(Cache(20000));
    ASSERT_EQ(c4.opt->numBlocks, 10u);
    FieldList fields;
    fields.Add("NAME", 'C', 20).Add("N", 'N', 8);
    DATA4* data = d4create(&c4, path.c_str(), fields.get());
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->dataFile->file.cached, 1u);
    FIELD4* name = d4field(data, "NAME");
    std::mt19937 random(7);
    for (int i = 0; i < 600; i++) {
      ASSERT_EQ(d4appendStart(data, 0), 0);
      d4blank(data);
      model.push_back(text(i, 0));
      f4assign(name, model.back().c_str());
      f4assignLong(d4field(data, "N"), i);
      ASSERT_EQ(d4append(data), 0);
      if (i % 3 == 0) {
        long rec = long(random() % unsigned(i + 1)) + 1;
        ASSERT_EQ(d4go(data, rec), 0);
        ASSERT_EQ(xbasetest::Trimmed(name), model[size_t(rec - 1)]) << rec;
        model[size_t(rec - 1)] = text(int(rec), i);
        f4assign(name, model[size_t(rec - 1)].c_str());
        ASSERT_EQ(d4write(data, rec), 0);
      }
    }
    for (int k = 0; k < 300; k++) {
      long rec = long(random() % model.size()) + 1;
      ASSERT_EQ(d4go(data, rec), 0);
      ASSERT_EQ(xbasetest::Trimmed(name), model[size_t(rec - 1)]) << rec;
    }
    ASSERT_EQ(d4close(data), 0);
    EXPECT_TRUE(c4.reports.empty());
  }
  TestCode4 c4(xbasetest::WithoutCache());
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(d4recCount(data), long(model.size()));
  long rec = 0;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    ASSERT_EQ(xbasetest::Trimmed(d4field(data, "NAME")), model[size_t(rec)]);
    ASSERT_EQ(f4long(d4field(data, "N")), rec);
    rec++;
  }
  EXPECT_EQ(rec, long(model.size()));
  d4close(data);
}

// Skipping in record order reads whole buffers ahead, not block by block.
TEST(Opt4, RecordOrderScanReadsWholeBuffers) {
  struct CountingReads : platform::EnvWrapper {
    CountingReads() : EnvWrapper(platform::Env::Current()) {}
    int64_t ReadAt(int fd, void* b, size_t n, int64_t o) override {
      reads++;
      return target_.ReadAt(fd, b, n, o);
    }
    int reads = 0;
  } counting;
  TempDir dir;
  xbasetest::DbfBuilder table(0x03, {{"NAME", 'C', 49}});
  for (int i = 0; i < 2000; i++) table.Record(" row" + std::to_string(i));
  std::string path = dir.Write("scan.dbf", table.Bytes());  // 100 KB of records
  TestCode4 c4(Cache(983040));
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  platform::ScopedEnv scope(counting);
  int rows = 0;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    ASSERT_EQ(xbasetest::Trimmed(d4field(data, "NAME")), "row" + std::to_string(rows));
    rows++;
  }
  EXPECT_EQ(rows, 2000);
  EXPECT_LE(counting.reads, 8);  // 100 blocks of 1024 bytes in buffers of 32
  d4close(data);
}

TEST(Opt4, TemporaryFileLivesInTheCacheUntilItMustGoToDisk) {
  TempDir dir;
  setenv("TMPDIR", dir.path().c_str(), 1);
  {
    TestCode4 c4(Cache(20000));
    FILE4 file{};
    ASSERT_EQ(file4tempLow(&file, &c4, 1, 1, nullptr), 0);
    EXPECT_EQ(file.onDisk, 0);
    std::string model;
    for (int i = 0; model.size() < 4000; i++) model += std::to_string(i) + ";";
    ASSERT_EQ(file4write(&file, 0, model.data(), unsigned(model.size())), 0);
    EXPECT_EQ(file4len(&file), model.size());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // More than the cache holds: blocks go to disk, into a file of its own.
    std::string more(30000, 'm');
    ASSERT_EQ(file4write(&file, model.size(), more.data(), unsigned(more.size())), 0);
    model += more;
    EXPECT_EQ(file.onDisk, 1);
    EXPECT_FALSE(std::filesystem::is_empty(dir.path()));
    std::string back(model.size(), '?');
    EXPECT_EQ(file4read(&file, 0, back.data(), unsigned(back.size())), model.size());
    EXPECT_EQ(back, model);
    EXPECT_EQ(file4close(&file), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_TRUE(c4.reports.empty());
  }
  unsetenv("TMPDIR");
}

TEST(Opt4, SuspendWritesBackAndRestartBuffersAgain) {
  TempDir dir;
  std::string path = dir.Write("s.dbf", xbasetest::DbfBuilder(0x03, {{"NAME", 'C', 5}}).Record(" aaaaa").Record(" bbbbb").Bytes());
  TestCode4 c4(Cache(983040));
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  FILE4* file = &data->dataFile->file;
  ASSERT_EQ(d4go(data, 2), 0);
  f4assign(d4field(data, "NAME"), "ccccc");
  ASSERT_EQ(d4go(data, 1), 0);  // writes record 2, into the cache
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1 + 6, 6), " bbbbb");
  ASSERT_EQ(code4optSuspend(&c4), 0);
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1 + 6, 6), " ccccc");
  EXPECT_EQ(file->cached, 0u);
  EXPECT_EQ(c4.opt->numBuffers, 0u);
  ASSERT_EQ(code4optRestart(&c4), 0);
  EXPECT_EQ(file->cached, 1u);
  EXPECT_GT(c4.opt->numBuffers, 0u);
  ASSERT_EQ(d4go(data, 2), 0);
  EXPECT_EQ(xbasetest::Trimmed(d4field(data, "NAME")), "ccccc");
  EXPECT_EQ(d4close(data), 0);
  EXPECT_TRUE(c4.reports.empty());
}

TEST(Opt4, OptimizeAllBuffersOpenTables) {
  TempDir dir;
  std::string path = dir.Write("all.dbf", xbasetest::DbfBuilder(0x03, {{"NAME", 'C', 5}}).Record(" aaaaa").Bytes());
  TestCode4 c4(xbasetest::WithoutCache());
  c4.optimizeDefault = 0;
  c4.optimizeWriteDefault = 0;
  DATA4* data = d4open(&c4, path.c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->dataFile->file.cacheClass, 0);
  ASSERT_EQ(code4optAll(&c4), 0);
  EXPECT_EQ(data->dataFile->file.cached, 1u);
  EXPECT_EQ(data->dataFile->file.writeBehind, 1);
  ASSERT_EQ(d4go(data, 1), 0);
  f4assign(d4field(data, "NAME"), "bbbbb");
  ASSERT_EQ(d4write(data, 1), 0);
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1, 6), " aaaaa");  // still in the cache
  ASSERT_EQ(d4close(data), 0);
  EXPECT_EQ(ReadAll(path).substr(32 + 32 + 1, 6), " bbbbb");
}

}  // namespace
