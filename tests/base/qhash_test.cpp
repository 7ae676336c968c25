#include "base/qhash.h"

#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

int g_alive = 0;
class Counted : public QPairObject {
 public:
  explicit Counted(int v) : value(v) { ++g_alive; }
  ~Counted() override { --g_alive; }
  int value;
};

std::vector<int32_t> Keys(QHashMap& map) {
  std::vector<int32_t> keys;
  for (QPair* p = map.First(); p; p = map.Next()) keys.push_back(p->IntegerKey());
  return keys;
}

TEST(QHashMapTest, GrowsAtTheThresholds) {
  QHashMap map;
  EXPECT_EQ(map.BucketCount(), 29u);
  EXPECT_EQ(map.Threshold(), 145u);
  for (int32_t k = 0; k < 144; ++k) EXPECT_EQ(map.Insert(QPair(k, k * 2)), 1);
  EXPECT_EQ(map.BucketCount(), 29u);
  map.Insert(QPair(144, 288));  // the 145th key
  EXPECT_EQ(map.BucketCount(), 401u);
  for (int32_t k = 145; k < 400; ++k) map.Insert(QPair(k, k * 2));
  EXPECT_EQ(map.BucketCount(), 401u);
  map.Insert(QPair(400, 800));  // count reaches 401
  EXPECT_EQ(map.BucketCount(), 809u);
  for (int32_t k = 0; k <= 400; ++k) {
    ASSERT_NE(map.Find(k), nullptr) << k;
    EXPECT_EQ(map.Find(k)->SecondValue(), k * 2);
  }
}

TEST(QHashMapTest, ReplaceKeepsTheCountAndFreesOldMembers) {
  g_alive = 0;
  {
    QHashMap map;
    EXPECT_EQ(map.Insert(QPair(5, new Counted(1))), 1);
    EXPECT_EQ(map.Insert(QPair(5, new Counted(2))), 2);
    EXPECT_EQ(map.Count(), 1u);
    EXPECT_EQ(g_alive, 1);
    EXPECT_EQ(static_cast<Counted*>(map.Find(5)->SecondObject())->value, 2);
    EXPECT_TRUE(map.Remove(5));
    EXPECT_FALSE(map.Remove(5));
    EXPECT_EQ(g_alive, 0);
    map.Insert(QPair(6, new Counted(3)));
  }
  EXPECT_EQ(g_alive, 0);  // the destructor frees owned members
}

TEST(QHashMapTest, IteratesNewestFirst) {
  QHashMap map;
  map.Insert(QPair(3, 0));
  map.Insert(QPair(1, 0));
  map.Insert(QPair(2, 0));
  EXPECT_EQ(Keys(map), (std::vector<int32_t>{2, 1, 3}));
  map.Remove(1);
  EXPECT_EQ(Keys(map), (std::vector<int32_t>{2, 3}));
  map.Clear();
  EXPECT_EQ(map.Count(), 0u);
  EXPECT_EQ(map.First(), nullptr);
}

TEST(QHashMapTest, KeysAboveTwoToThe31Hash) {
  QHashMap map;
  const int32_t keys[] = {int32_t(0x80000000u), -1, int32_t(0xFFFFFF00u), 0, 7};
  for (int32_t k : keys) EXPECT_EQ(map.Insert(QPair(k, k)), 1);
  for (int32_t k : keys) {
    ASSERT_NE(map.Find(k), nullptr);
    EXPECT_EQ(map.Find(k)->SecondValue(), k);
  }
  QHashLong h;
  EXPECT_EQ(h.Hash(-1, 29), 0xFFFFFFFFu % 29);
  EXPECT_EQ(h.Hash(123, 0), 123u);
}

TEST(QHashMapTest, TextKeysAreStoredButNeverFound) {
  QHashMap map;
  EXPECT_EQ(map.Insert(QPair(new BString("abc"), 1)), 1);
  EXPECT_EQ(map.Insert(QPair(new BString("abc"), 2)), 1);  // not replaced
  EXPECT_EQ(map.Count(), 2u);
  EXPECT_EQ(map.Find(BString("abc")), nullptr);
  EXPECT_FALSE(map.Remove(BString("abc")));
}

TEST(QHashMapTest, MatchesAStdMapUnderRandomWork) {
  std::mt19937 random(11);
  QHashMap map;
  std::map<int32_t, int32_t> model;
  for (int i = 0; i < 60000; ++i) {
    int32_t key = int32_t(random() % 20000) - 10000;
    switch (random() % 3) {
      case 0:
      case 1: {
        int32_t value = int32_t(random());
        int r = map.Insert(QPair(key, value));
        EXPECT_EQ(r, model.count(key) ? 2 : 1);
        model[key] = value;
        break;
      }
      case 2:
        EXPECT_EQ(map.Remove(key), model.erase(key) == 1);
        break;
    }
  }
  ASSERT_EQ(map.Count(), model.size());
  for (const auto& [k, v] : model) {
    ASSERT_NE(map.Find(k), nullptr);
    EXPECT_EQ(map.Find(k)->SecondValue(), v);
  }
  EXPECT_EQ(Keys(map).size(), model.size());
}

}  // namespace
