#include "boundary/mainintn.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/env.h"

namespace {

// Numbering and growth on a table of its own, so the process table is not
// touched.
TEST(HandleTableTest, NumbersFromOneAndDoublesUpTo1600) {
  HandleTable table;
  EXPECT_EQ(table.Capacity(), 100);
  struct Step {
    int adds;           // Add calls made so far
    uint32_t handle;    // result of the last one
    int32_t capacity;   // capacity after it
  };
  const Step steps[] = {
      {1, 1, 100},    {99, 99, 100},    {100, 100, 200},  {200, 200, 400},
      {400, 400, 800}, {800, 800, 1600}, {1599, 1599, 1600}, {1600, 0, 1600},
  };
  std::vector<int> objects(1600);
  int adds = 0;
  for (const Step& step : steps) {
    uint32_t handle = 0;
    while (adds < step.adds) handle = table.Add(&objects[size_t(adds++)], kHandleImport);
    EXPECT_EQ(handle, step.handle) << "after " << step.adds << " adds";
    EXPECT_EQ(table.Capacity(), step.capacity) << "after " << step.adds << " adds";
  }
  EXPECT_EQ(table.InUseCount(), 1599);

  // Freed handles are reissued lowest first.
  table.Remove(50);
  table.Remove(7);
  EXPECT_EQ(table.Add(&objects[0], kHandleRadius), 7u);
  EXPECT_EQ(table.Add(&objects[0], kHandleRadius), 50u);
  EXPECT_EQ(table.Add(&objects[0], kHandleRadius), 0u);
  for (uint32_t h = 1; h < 1600; ++h) table.Remove(h);
  EXPECT_EQ(table.InUseCount(), 0);
}

TEST(HandleTableTest, AddRefusesUnfitObjectsAndLookupChecksTypeAndRange) {
  HandleTable table;
  int object = 0;
  EXPECT_EQ(table.Add(nullptr, kHandleContext), 0u);
  EXPECT_EQ(table.Add(&object, 0), 0u);
  EXPECT_EQ(table.Add(&object, 10), 0u);
  EXPECT_EQ(table.InUseCount(), 0);

  uint32_t h = table.Add(&object, kHandleObjectFile);
  ASSERT_EQ(h, 1u);
  struct Case {
    const char* name;
    uint32_t handle;
    uint32_t type;
    bool found;
  };
  const Case cases[] = {
      {"live, right type", h, kHandleObjectFile, true},
      {"live, other type", h, kHandleContext, false},
      {"handle 0", 0, kHandleFree, false},
      {"free slot", 2, kHandleFree, false},
      {"beyond capacity", 100, kHandleObjectFile, false},
      {"far beyond", 0xFFFFFFFFu, kHandleObjectFile, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(table.Lookup(c.handle, c.type), c.found ? &object : nullptr) << c.name;
    void* acquired = table.Acquire(c.handle, c.type);
    EXPECT_EQ(acquired, c.found ? &object : nullptr) << c.name;
    if (acquired) table.Release(c.handle);
  }

  // Take refuses another type and leaves the slot; with the right type it
  // frees the slot, but not while the taking thread itself uses the handle.
  EXPECT_EQ(table.Take(h, kHandleImport), nullptr);
  EXPECT_EQ(table.Lookup(h, kHandleObjectFile), &object);
  ASSERT_EQ(table.Acquire(h, kHandleObjectFile), &object);
  EXPECT_EQ(table.Take(h, kHandleObjectFile), nullptr);
  table.Release(h);
  EXPECT_EQ(table.Take(h, kHandleObjectFile), &object);
  EXPECT_EQ(table.Lookup(h, kHandleObjectFile), nullptr);

  // Remove frees whatever the type; removing a free or invalid handle is harmless.
  h = table.Add(&object, kHandleExport);
  table.Remove(h);
  table.Remove(h);
  table.Remove(0);
  table.Remove(12345);
  EXPECT_EQ(table.InUseCount(), 0);
}

// Handles numbered never to be given again share the slots, but a number,
// once ended, names nothing even when its slot is used anew; and numbers of
// one kind do not name handles of the other.
TEST(HandleTableTest, NeverReissuedNumbersNameOneHandleOnly) {
  HandleTable table;
  int a = 0, b = 0;
  const uint32_t first = table.Add(&a, kHandleGsbObject, HandleTable::kNeverReissued);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(first & 2047u, 1u) << "the first free slot";
  EXPECT_EQ(table.Lookup(first, kHandleGsbObject), &a);
  EXPECT_EQ(table.Lookup(first & 2047u, kHandleGsbObject), nullptr) << "the bare slot number";
  EXPECT_EQ(table.Take(first, kHandleGsbObject), &a);

  const uint32_t second = table.Add(&b, kHandleGsbObject, HandleTable::kNeverReissued);
  EXPECT_EQ(second & 2047u, 1u);
  EXPECT_NE(second, first);
  EXPECT_EQ(table.Lookup(first, kHandleGsbObject), nullptr);
  EXPECT_EQ(table.Take(first, kHandleGsbObject), nullptr);
  EXPECT_EQ(table.Acquire(second, kHandleGsbObject), &b);
  table.Release(second);
  table.Remove(second);

  const uint32_t plain = table.Add(&a, kHandleGsbObject);
  EXPECT_EQ(plain, 1u);
  EXPECT_EQ(table.Lookup(second, kHandleGsbObject), nullptr);
  EXPECT_EQ(table.Lookup(plain | (5u << 11), kHandleGsbObject), nullptr);
  table.Remove(plain);
  EXPECT_EQ(table.InUseCount(), 0);
}

TEST(HandleTableTest, ThreadsAddLookUpAndRemoveWithoutSharingHandles) {
  HandleTable table;
  constexpr int kThreads = 8;
  constexpr int kRounds = 3000;
  constexpr size_t kHeld = 25;  // live handles per thread: the table grows to 400
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<int> objects(kHeld);
      std::vector<uint32_t> held(kHeld, 0);
      uint32_t type = uint32_t(t % 8) + 1;
      for (int round = 0; round < kRounds; ++round) {
        size_t i = size_t(round) % kHeld;
        if (held[i]) {
          if (table.Acquire(held[i], type) != &objects[i]) ++mismatches;
          table.Release(held[i]);
          table.Remove(held[i]);
        }
        held[i] = table.Add(&objects[i], type);
        if (!held[i] || table.Acquire(held[i], type) != &objects[i])
          ++mismatches;
        else
          table.Release(held[i]);
      }
      for (uint32_t h : held) table.Remove(h);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(table.InUseCount(), 0);
  EXPECT_LE(table.Capacity(), 400);
}

// Records what would have been shown in a message box.
class MessageBoxes : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  void ShowMessage(std::string_view title, std::string_view text) override {
    shown.push_back(std::string(title) + "|" + std::string(text));
  }
  std::vector<std::string> shown;
};

TEST(PipErrorTest, ReportShowsByMode) {
  const std::string text =
      "Error: 105\nFile not found.\nroads.gsb\nError recorded in: build, (12).";
  struct Case {
    int32_t mode;
    bool console;
    bool box;
  };
  const Case cases[] = {
      {0, false, false}, {1, true, false}, {2, false, true}, {3, false, false}, {-1, false, false},
  };
  for (const Case& c : cases) {
    MessageBoxes boxes(platform::Env::Current());
    platform::ScopedEnv scope(boxes);
    pipError error;
    EXPECT_EQ(error.SetShowMode(c.mode), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(error.Report(105, "roads.gsb", "build", 12), 105);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, c.console ? text : "") << "mode " << c.mode;
    EXPECT_EQ(boxes.shown, c.box ? std::vector<std::string>{"Error|" + text}
                                 : std::vector<std::string>{})
        << "mode " << c.mode;
    EXPECT_EQ(error.Code(), 105);
    EXPECT_STREQ(error.Detail(), "roads.gsb");
  }
}

TEST(PipErrorTest, CopyOutCutsToTheBufferAndSkipsNullBuffers) {
  pipError error;
  char message[8];
  char detail[300];
  std::memset(detail, 'X', sizeof detail);
  EXPECT_EQ(error.CopyOut(message, detail, sizeof message), -1);
  EXPECT_STREQ(message, "");
  EXPECT_STREQ(detail, "");

  error.Record(106, "abcdefghij", "mainintn", 1);
  EXPECT_EQ(error.CopyOut(message, detail, sizeof message), 106);
  EXPECT_STREQ(message, "Invalid");  // "Invalid data passed to function." cut to 7
  EXPECT_STREQ(detail, "abcdefg");
  EXPECT_EQ(error.CopyOut(nullptr, nullptr, sizeof message), 106);
}

TEST(QExceptionBadAllocTest, IsABadAllocWithItsText) {
  try {
    throw QException_bad_alloc("Memory exaustion in QVector::QVector().");
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "Memory exaustion in QVector::QVector().");
  }
}

}  // namespace
