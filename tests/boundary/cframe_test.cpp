#include "boundary/cframe.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "zonelib.h"

namespace {

// A stand-in for the objects of later families: made through a context,
// reporting into its error object.
struct Probe {
  explicit Probe(pipErrorRef e) : error(std::move(e)) {}
  pipErrorRef error;
  int uses = 0;
  static inline int discarded = 0;
};

}  // namespace

template <>
struct HandleKind<Probe> {
  static constexpr uint32_t kType = kHandleTradeArea;
  static void Discard(Probe* probe) {
    ++Probe::discarded;
    delete probe;
  }
};

namespace {

// The three shapes of exported call, as a family writes them.
int32_t ProbeOpen(uint32_t context, uint32_t* out, int32_t result = 1) {
  return CreateHandle<Probe>(context, out, [&](pipContext& c, Probe*& probe) {
    if (result == 1) probe = new Probe(c.ErrorRef());
    return result;
  });
}
int32_t ProbeUse(uint32_t probe) {
  return WithHandle<Probe>(probe, [](Probe& p) { return ++p.uses; });
}
int32_t ProbeReport(uint32_t probe, int32_t code) {
  return WithHandle<Probe>(probe, [&](Probe& p) { return p.error->Report(code, "probe", "test", 1); });
}
int32_t ProbeClose(uint32_t probe) {
  return DestroyHandle<Probe>(probe, [](Probe* p) {
    delete p;
    return 1;
  });
}

class FrameTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(HandleTable::Global().InUseCount(), 0);
    context_ = uint32_t(pipInit(0, nullptr));
    ASSERT_NE(context_, 0u);
    Probe::discarded = 0;
  }
  void TearDown() override {
    pipTerm(context_);
    EXPECT_EQ(HandleTable::Global().InUseCount(), 0) << "a test left handles behind";
  }
  uint32_t context_ = 0;
};

TEST_F(FrameTest, CreateUseAndDestroy) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  EXPECT_NE(probe, 0u);
  EXPECT_NE(probe, context_);
  EXPECT_EQ(ProbeUse(probe), 1);
  EXPECT_EQ(ProbeUse(probe), 2);
  EXPECT_EQ(ProbeClose(probe), 1);
  EXPECT_EQ(ProbeUse(probe), -1);
  EXPECT_EQ(ProbeClose(probe), -1);
}

TEST_F(FrameTest, CreateFailsWithoutMakingAnything) {
  struct Case {
    const char* name;
    bool context;   // pass the real context handle
    bool out;       // pass an out-parameter
    int32_t body;   // the body's result
    int32_t result;
  };
  const Case cases[] = {
      {"handle 0", false, true, 1, -1},
      {"null out", true, false, 1, -1},
      {"body fails", true, true, -1, -1},
      {"body's own code passes through", true, true, 105, 105},
  };
  for (const Case& c : cases) {
    uint32_t out = 77;
    EXPECT_EQ(ProbeOpen(c.context ? context_ : 0, c.out ? &out : nullptr, c.body), c.result)
        << c.name;
    EXPECT_EQ(out, 77u) << c.name;
    EXPECT_EQ(HandleTable::Global().InUseCount(), 1) << c.name;
  }
  // A probe handle is no context to create through.
  uint32_t probe = 0, out = 77;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  EXPECT_EQ(ProbeOpen(probe, &out), -1);
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(ProbeClose(probe), 1);
}

TEST_F(FrameTest, FullTableReports103AndDiscardsTheNewObject) {
  std::vector<uint32_t> fillers;
  for (int32_t h; (h = pipInit(0, nullptr)) != 0;) fillers.push_back(uint32_t(h));
  EXPECT_EQ(fillers.size(), 1598u);  // plus our context: 1599 live

  uint32_t out = 77;
  EXPECT_EQ(ProbeOpen(context_, &out), -1);
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(Probe::discarded, 1);
  char message[256], detail[256];
  EXPECT_EQ(pipErrorGet(context_, message, detail), 103);
  EXPECT_STREQ(message, "Internal table overflow.");
  EXPECT_STREQ(detail, "Too many handles in use!\n");

  // A freed handle goes to the next creation.
  uint32_t freed = fillers.back();
  fillers.pop_back();
  EXPECT_EQ(pipTerm(freed), 1);
  ASSERT_EQ(ProbeOpen(context_, &out), 1);
  EXPECT_EQ(out, freed);
  EXPECT_EQ(ProbeClose(out), 1);
  for (uint32_t h : fillers) EXPECT_EQ(pipTerm(h), 1);
}

// A term call of the wrong family refuses and leaves both handles working.
TEST_F(FrameTest, TermOfAnotherFamilyLeavesTheHandleAlone) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  EXPECT_EQ(pipTerm(probe), -1);
  EXPECT_EQ(ProbeClose(context_), -1);
  EXPECT_EQ(ProbeUse(probe), 1);
  char message[256], detail[256];
  EXPECT_EQ(pipErrorGet(context_, message, detail), -1);

  // The slot was not reissued behind the probe's back.
  uint32_t other = 0;
  ASSERT_EQ(ProbeOpen(context_, &other), 1);
  EXPECT_NE(other, probe);
  EXPECT_EQ(ProbeClose(other), 1);
  EXPECT_EQ(ProbeClose(probe), 1);
}

// Ending the context first must not leave its objects with a dangling error
// object.
TEST_F(FrameTest, ObjectsOutliveTheirContextsError) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  ASSERT_EQ(pipTerm(context_), 1);
  EXPECT_EQ(ProbeReport(probe, 104), 104);
  EXPECT_EQ(WithHandle<Probe>(probe, [](Probe& p) { return p.error->Code(); }), 104);
  EXPECT_EQ(ProbeClose(probe), 1);
  context_ = 0;
}

TEST_F(FrameTest, NothingThrownCrossesTheFrame) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  auto throwsBadAlloc = [](Probe&) -> int32_t { throw QException_bad_alloc("probe"); };
  auto throwsQError = [](Probe& p) -> int32_t {
    QErrorEx error;
    return error.Record(106, "probe", "test", 2) + p.uses;
  };
  auto throwsAnything = [](Probe&) -> int32_t { throw 42; };
  EXPECT_EQ(WithHandle<Probe>(probe, throwsBadAlloc), -1);
  EXPECT_EQ(WithHandle<Probe>(probe, int32_t{0}, throwsQError), 0);
  EXPECT_EQ(WithHandle<Probe>(probe, throwsAnything), -1);
  // The handle was released each time and still works.
  EXPECT_EQ(ProbeUse(probe), 1);

  uint32_t out = 77;
  EXPECT_EQ(CreateHandle<Probe>(context_, &out,
                                [](pipContext&, Probe*&) -> int32_t {
                                  throw std::runtime_error("no");
                                }),
            -1);
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(DestroyHandle<Probe>(probe,
                                 [](Probe* p) -> int32_t {
                                   delete p;
                                   throw std::runtime_error("late");
                                 }),
            -1);
  EXPECT_EQ(ProbeUse(probe), -1);
}

// A handle closed by another thread while a call on it runs: the close
// waits for the call, the call finishes on a live object, and later calls
// are refused.
TEST_F(FrameTest, ACloseWaitsForTheCallsUnderWay) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  std::atomic<int> stage{0};
  std::atomic<bool> closed{false};
  std::thread caller([&] {
    EXPECT_EQ(WithHandle<Probe>(probe,
                                [&](Probe& p) {
                                  stage = 1;
                                  // Long enough for the close below to be under way.
                                  while (stage.load() < 2) std::this_thread::yield();
                                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                  EXPECT_FALSE(closed.load()) << "closed while in use";
                                  return ++p.uses;
                                }),
              1);
  });
  while (stage.load() < 1) std::this_thread::yield();
  std::thread closer([&] {
    stage = 2;
    EXPECT_EQ(ProbeClose(probe), 1);
    closed = true;
  });
  // While the close waits no new call begins.
  while (stage.load() < 2) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ProbeUse(probe), -1);
  caller.join();
  closer.join();
  EXPECT_TRUE(closed.load());
  EXPECT_EQ(ProbeUse(probe), -1);
}

// A term call made from inside a call on the same handle would wait for
// itself: it is refused and the handle stays.
TEST_F(FrameTest, ATermCallInsideACallOnTheSameHandleIsRefused) {
  uint32_t probe = 0;
  ASSERT_EQ(ProbeOpen(context_, &probe), 1);
  EXPECT_EQ(WithHandle<Probe>(probe, [&](Probe&) { return ProbeClose(probe); }), -1);
  EXPECT_EQ(ProbeUse(probe), 1);
  EXPECT_EQ(ProbeClose(probe), 1);
}

// Threads using handles while other threads close them, over and over (run
// under ThreadSanitizer too): every call either works on a live object or is
// refused, and each user sees its calls refused once its handle is closed.
// All handles of a round are made before it starts, so that none is reissued
// to another probe while a user still calls it.
TEST_F(FrameTest, ThreadsUseHandlesWhileOthersCloseThem) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> bad{0};
  for (int round = 0; round < kRounds; ++round) {
    std::vector<uint32_t> probes(kThreads);
    for (uint32_t& probe : probes) ASSERT_EQ(ProbeOpen(context_, &probe), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        int last = 0;
        for (int r; (r = ProbeUse(probes[size_t(t)])) != -1; last = r)
          if (r != last + 1) ++bad;
      });
      threads.emplace_back([&, t] {
        for (int i = 0; i < t * 10 + round % 7; ++i) std::this_thread::yield();
        if (ProbeClose(probes[size_t(t)]) != 1) ++bad;
      });
    }
    for (auto& thread : threads) thread.join();
  }
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
