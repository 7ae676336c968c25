#include "xbase/sort4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/xbase/xbase_fixture.h"

namespace {

using xbasetest::TestCode4;

using Item = std::pair<std::string, long>;

// Puts the items, reads them back; whether a spool file was made.
std::vector<Item> Sorted(TestCode4* c4, const std::vector<Item>& items, bool* spooled) {
  SORT4 sort;
  EXPECT_EQ(sort4init(&sort, c4, 6, 2), 0);
  for (const Item& item : items) EXPECT_EQ(sort4put(&sort, item.second, item.first.data(), "xy"), 0);
  *spooled = sort.fileOpen != 0;
  EXPECT_EQ(sort4getInit(&sort), 0);
  std::vector<Item> out;
  while (true) {
    long rec;
    void *key, *extra;
    int rc = sort4get(&sort, &rec, &key, &extra);
    if (rc == r4done) break;
    EXPECT_EQ(rc, 0);
    if (rc != 0) break;
    EXPECT_EQ(std::memcmp(extra, "xy", 2), 0);
    out.emplace_back(std::string(static_cast<char*>(key), 6), rec);
  }
  return out;
}

std::vector<Item> Items(int n, int distinct) {
  std::mt19937 random(3);
  std::vector<Item> items;
  for (int i = 0; i < n; i++) {
    char key[7];
    std::snprintf(key, sizeof key, "%06d", int(random() % unsigned(distinct)));
    items.emplace_back(key, long(random() % 1000000));
  }
  return items;
}

// In memory and through spooled runs alike: key order, then record order.
TEST(Sort4, InMemoryAndSpooled) {
  for (long pool : {61440L, 1024L}) {
    TestCode4 c4;
    c4.memSizeSortPool = pool;
    for (int n : {0, 1, 5, 8, 9, 3000}) {
      std::vector<Item> items = Items(n, 50);
      bool spooled = false;
      std::vector<Item> out = Sorted(&c4, items, &spooled);
      std::sort(items.begin(), items.end());
      EXPECT_EQ(out, items) << pool << " " << n;
      EXPECT_EQ(spooled, pool == 1024 && n > 256) << pool << " " << n;
    }
    EXPECT_TRUE(c4.reports.empty());
  }
}

TEST(Sort4, Refusals) {
  TestCode4 c4;
  SORT4 sort;
  ASSERT_EQ(sort4init(&sort, &c4, 4, 0), 0);
  EXPECT_EQ(sort4put(&sort, -1, "abcd", nullptr), e4parm);
  EXPECT_EQ(sort4put(&sort, 1, nullptr, nullptr), e4parm);
  error4set(&c4, 0);
  ASSERT_EQ(sort4getInit(&sort), 0);
  long rec;
  void *key, *extra;
  EXPECT_EQ(sort4get(&sort, &rec, &key, &extra), r4done);
  EXPECT_EQ(sort4init(nullptr, &c4, 4, 0), e4parmNull);
}

}  // namespace
