#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/xbase/xbase_fixture.h"
#include "xbase/opt4.h"
#include "xbase/opt4int.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;
using xbasetest::Matrix;
using xbasetest::TestCode4;

Matrix Threads(long cacheBytes = 0, bool writeBehind = true) { return Matrix{true, cacheBytes, writeBehind}; }

// Holds the delayed-write thread inside its writes until opened, and records
// what reaches the disk from any thread.
class GatedEnv : public platform::EnvWrapper {
 public:
  GatedEnv() : EnvWrapper(platform::Env::Current()), caller_(std::this_thread::get_id()), scope_(*this) {}
  int64_t WriteAt(int fd, const void* buffer, size_t count, int64_t offset) override {
    std::unique_lock<std::mutex> hold(mutex_);
    if (std::this_thread::get_id() != caller_) {
      held_++;
      cv_.notify_all();
      cv_.wait(hold, [this] { return !closed_; });
    }
    writes.emplace_back(offset, std::string(static_cast<const char*>(buffer), count));
    hold.unlock();
    return target_.WriteAt(fd, buffer, count, offset);
  }
  // Waits until the thread is held in a write.
  void WaitHeld() {
    std::unique_lock<std::mutex> hold(mutex_);
    cv_.wait(hold, [this] { return held_ > 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = false;
    cv_.notify_all();
  }
  // Opens the gate from another thread a little later, while the caller waits.
  std::thread OpenLater() {
    return std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Open();
    });
  }
  std::vector<std::pair<int64_t, std::string>> Writes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return writes;
  }

 private:
  std::vector<std::pair<int64_t, std::string>> writes;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool closed_ = true;
  int held_ = 0;
  std::thread::id caller_;
  platform::ScopedEnv scope_;
};

void Count(void* arg) { ++*static_cast<int*>(arg); }

std::string Digits(size_t n) {
  std::string s;
  while (s.size() < n) s += "0123456789";
  s.resize(n);
  return s;
}

class QueuedWrites : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.File("q.dat");
    ASSERT_EQ(file4create(&file, &c4, path.c_str(), 1), 0);
    ASSERT_EQ(file4write(&file, 0, Digits(100).data(), 100), 0);
    ASSERT_NE(opt4writer(&c4), nullptr);
  }
  void TearDown() override {
    gate.Open();
    file4close(&file);
  }
  std::string Read(uint64_t pos, unsigned length) {
    std::string out(length, '?');
    out.resize(file4read(&file, pos, out.data(), length));
    return out;
  }

  GatedEnv gate;
  TempDir dir;
  TestCode4 c4{Threads()};
  FILE4 file{};
  std::string path;
};

// Queued writes are the newest bytes: reads see them, a later write of the
// same range drops them, and a cut drops what lies past it.
TEST_F(QueuedWrites, ReadsDropsAndCuts) {
  int done = 0;
  ASSERT_EQ(file4writeDelay(&file, 0, "AAAA", 4, Count, &done), r4delay);
  gate.WaitHeld();  // being written
  ASSERT_EQ(file4writeDelay(&file, 50, "bbbb", 4, Count, &done), r4delay);
  ASSERT_EQ(file4writeDelay(&file, 50, "cccc", 4, Count, &done), r4delay);
  EXPECT_EQ(done, 1);  // "bbbb" dropped
  EXPECT_EQ(Read(0, 6), "AAAA45");
  EXPECT_EQ(Read(48, 8), "89cccc45");
  ASSERT_EQ(file4writeDelay(&file, 200, "dddd", 4, Count, &done), r4delay);
  EXPECT_EQ(file4len(&file), 204u);
  EXPECT_EQ(Read(98, 200), "89" + std::string(100, '\0') + "dddd");
  ASSERT_EQ(file4writeDelay(&file, 140, "eeeeeeeeee", 10, Count, &done), r4delay);
  std::thread opener = gate.OpenLater();
  ASSERT_EQ(file4lenSet(&file, 145), 0);  // "dddd" dropped, "eeee..." cut to five
  opener.join();
  ASSERT_EQ(file4writeDelayFlush(&file, 1), 0);
  EXPECT_EQ(done, 5);
  std::string expected = Digits(100);
  expected.replace(0, 4, "AAAA");
  expected.replace(50, 4, "cccc");
  expected += std::string(40, '\0') + "eeeee";
  EXPECT_EQ(ReadAll(path), expected);
  for (const auto& w : gate.Writes()) {
    EXPECT_NE(w.second, "bbbb");
    EXPECT_NE(w.second, "dddd");
  }
  EXPECT_TRUE(c4.reports.empty());
}

// A cut waits for the write in flight that ends past it, or that write would
// make the file longer again afterwards.
TEST_F(QueuedWrites, CutWaitsForTheWriteInFlight) {
  ASSERT_EQ(file4writeDelay(&file, 90, "xxxxxxxxxxxxxxxxxxxx", 20, nullptr, nullptr), r4delay);
  gate.WaitHeld();
  std::thread opener = gate.OpenLater();
  ASSERT_EQ(file4lenSet(&file, 60), 0);
  opener.join();
  ASSERT_EQ(file4writeDelayFlush(&file, 1), 0);
  EXPECT_EQ(ReadAll(path), Digits(60));
}

// A direct write over a write in flight waits for it without holding the
// file, then lands on top.
TEST_F(QueuedWrites, DirectWriteOverAWriteInFlight) {
  ASSERT_EQ(file4writeDelay(&file, 10, "ffff", 4, nullptr, nullptr), r4delay);
  gate.WaitHeld();
  std::thread opener = gate.OpenLater();
  ASSERT_EQ(file4write(&file, 8, "GGGGGGGG", 8), 0);
  opener.join();
  EXPECT_EQ(ReadAll(path).substr(6, 12), "67GGGGGGGG67");
}

TEST_F(QueuedWrites, ContextEndDrainsTheQueue) {
  std::string parts[3] = {"one", "two", "three"};
  uint64_t at = 100;
  for (const std::string& p : parts) {
    ASSERT_EQ(file4writeDelay(&file, at, p.data(), unsigned(p.size()), nullptr, nullptr), r4delay);
    at += p.size();
  }
  gate.WaitHeld();
  std::thread opener = gate.OpenLater();
  EXPECT_EQ(code4initUndo(&c4), 0);
  opener.join();
  EXPECT_EQ(ReadAll(path), Digits(100) + "onetwothree");
}

// A failed queued write is reported on the caller's thread.
TEST(DelayedWrite, FailureIsReportedToTheCaller) {
  struct FullDisk : platform::EnvWrapper {
    FullDisk() : EnvWrapper(platform::Env::Current()) {}
    int64_t WriteAt(int, const void*, size_t, int64_t) override {
      errno = ENOSPC;
      return -1;
    }
  } full;
  TempDir dir;
  TestCode4 c4(Threads());
  FILE4 file{};
  ASSERT_EQ(file4create(&file, &c4, dir.File("full.dat").c_str(), 1), 0);
  {
    platform::ScopedEnv scope(full);
    int rc = file4writeDelay(&file, 0, "data", 4, nullptr, nullptr);
    EXPECT_TRUE(rc == r4delay || rc == -120) << rc;
  }
  EXPECT_EQ(file4writeDelayFlush(&file, 1), -120);
  ASSERT_NE(c4.Last(), nullptr);
  EXPECT_EQ(c4.Last()->code, -120);
  EXPECT_EQ(c4.Last()->t1, dir.File("full.dat"));
  error4set(&c4, 0);
  file4close(&file);
}

// The transaction log is flushed before any data file is written, on the
// caller's path or the delayed-write thread's.
TEST(DelayedWrite, LogIsFlushedBeforeData) {
  struct Recording : platform::EnvWrapper {
    Recording() : EnvWrapper(platform::Env::Current()) {}
    int Sync(int fd) override {
      Note("sync " + std::to_string(fd));
      return target_.Sync(fd);
    }
    int64_t WriteAt(int fd, const void* b, size_t n, int64_t o) override {
      Note("write " + std::to_string(fd));
      return target_.WriteAt(fd, b, n, o);
    }
    void Note(const std::string& what) {
      std::lock_guard<std::mutex> hold(mutex);
      events.push_back(what);
    }
    std::mutex mutex;
    std::vector<std::string> events;
  } recording;
  TempDir dir;
  TestCode4 c4;
  ASSERT_EQ(file4create(&c4.logFile, &c4, dir.File("c4.log").c_str(), 1), 0);
  c4.logFileOpen = 1;
  FILE4 data{};
  ASSERT_EQ(file4create(&data, &c4, dir.File("d.dat").c_str(), 1), 0);
  const std::string log = std::to_string(c4.logFile.handle), table = std::to_string(data.handle);
  platform::ScopedEnv scope(recording);
  ASSERT_EQ(file4write(&c4.logFile, 0, "entry", 5), 0);
  c4.logNeedsFlush = 1;
  ASSERT_EQ(file4write(&data, 0, "rec", 3), 0);
  c4.logNeedsFlush = 1;
  ASSERT_GE(file4writeDelay(&data, 3, "rec", 3, nullptr, nullptr), 0);
  ASSERT_EQ(file4writeDelayFlush(&data, 1), 0);
  EXPECT_EQ(recording.events, (std::vector<std::string>{"write " + log, "sync " + log, "write " + table,
                                                        "sync " + log, "write " + table}));
  EXPECT_EQ(c4.logNeedsFlush, 0);
  file4close(&data);
  c4.logFileOpen = 0;
  file4close(&c4.logFile);
}

// Sequential reads with the next half read ahead by the read-ahead thread.
TEST(ReadAhead, SequentialReaderReadsHalvesAhead) {
  TempDir dir;
  TestCode4 c4(Threads());
  FILE4 file{};
  ASSERT_EQ(file4create(&file, &c4, dir.File("s.dat").c_str(), 1), 0);
  std::string content = Digits(100000);
  ASSERT_EQ(file4write(&file, 0, content.data(), unsigned(content.size())), 0);
  std::vector<char> buffer(8192);
  FILE4SEQ_READ reader;
  ASSERT_EQ(file4seqReadInitDo(&reader, &file, 100, buffer.data(), unsigned(buffer.size()), 1), 0);
  EXPECT_EQ(reader.doDouble, 1);
  std::string back;
  char piece[777];
  while (unsigned n = file4seqRead(&reader, piece, sizeof piece)) back.append(piece, n);
  file4seqReadClose(&reader);
  EXPECT_EQ(back, content.substr(100));
  file4close(&file);
}

// Many random writes (queued and direct), reads, advance reads and length
// changes on one file, with and without the cache: every read returns the
// newest bytes, and the file ends as the model.
TEST(ReadAhead, StressQueuedWritesReadsAndLengthChanges) {
  struct Config {
    const char* name;
    long cacheBytes;
    bool writeBehind;
  } configs[] = {{"no cache", 0, true}, {"cache, write-behind", 40000, true}, {"cache, write-through", 40000, false}};
  for (const auto& config : configs) {
    SCOPED_TRACE(config.name);
    TempDir dir;
    TestCode4 c4(Threads(config.cacheBytes, config.writeBehind));
    FILE4 file{};
    std::string path = dir.File("stress.dat");
    ASSERT_EQ(file4create(&file, &c4, path.c_str(), 1), 0);
    ASSERT_EQ(file4optimize(&file, 1, 1, 100, nullptr), 0);
    std::string model;
    std::mt19937 random(11);
    auto range = [&random](unsigned n) { return unsigned(random() % n); };
    for (int step = 0; step < 3000; step++) {
      unsigned op = range(12);
      if (op < 5) {
        unsigned pos = range(60000), length = 1 + range(3000);
        auto* bytes = new std::string(length, char('a' + range(26)));
        if (model.size() < pos + length) model.resize(pos + length, '\0');
        model.replace(pos, length, *bytes);
        int rc = op < 3 ? file4writeDelay(&file, pos, bytes->data(), length,
                                          [](void* arg) { delete static_cast<std::string*>(arg); }, bytes)
                        : file4write(&file, pos, bytes->data(), length);
        if (op >= 3) delete bytes;
        ASSERT_GE(rc, 0) << step;
      } else if (op < 9) {
        unsigned pos = range(65000), length = 1 + range(4000);
        if (op == 8) {
          pos &= ~511u;
          length = 512;
          file4advanceRead(&file, pos, length);
        }
        std::string back(length, '?');
        back.resize(file4read(&file, pos, back.data(), length));
        std::string want = pos < model.size() ? model.substr(pos, length) : "";
        ASSERT_TRUE(back == want) << "step " << step << ": " << back.size() << " bytes at " << pos
                                  << ", " << want.size() << " wanted";
      } else if (op < 11) {
        unsigned length = range(70000);
        ASSERT_EQ(file4lenSet(&file, length), 0) << step;
        model.resize(length, '\0');
      } else {
        ASSERT_EQ(file4len(&file), model.size()) << step;
      }
    }
    ASSERT_EQ(file4close(&file), 0);
    EXPECT_EQ(ReadAll(path), model);
    EXPECT_TRUE(c4.reports.empty());
  }
}

}  // namespace
