#include "base/qlist.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

int g_deleted = 0;

class Node : public QLRUObject {
 public:
  explicit Node(int v) : value(v) {}
  ~Node() override { ++g_deleted; }
  bool Matches(const void* key) const override { return *static_cast<const int*>(key) == value; }
  int value;
};

std::vector<int> Values(const QDlist& list) {
  std::vector<int> out;
  for (QDlistObject* n = list.First(); n; n = list.Next(n)) out.push_back(static_cast<Node*>(n)->value);
  return out;
}

TEST(QDlistTest, NamesAreCutToEightCharacters) {
  QDlist unnamed;
  QDlist named("averylongname");
  EXPECT_STREQ(unnamed.Name(), "*UNKNOWN");
  EXPECT_STREQ(named.Name(), "averylon");
}

TEST(QDlistTest, AddMoveUnlinkDelete) {
  g_deleted = 0;
  QDlist list("cache");
  EXPECT_TRUE(list.Empty());
  QDlist::DeleteAll(list);  // on an empty list
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Last(), nullptr);

  Node* a = new Node(1);
  Node* b = new Node(2);
  Node* c = new Node(3);
  QDlist::AddTail(list, a);
  list.AddTail(b);
  list.AddTail(c);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(list.Last(), c);

  list.MoveToHead(c);
  EXPECT_EQ(Values(list), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(list.Last(), b);

  int key = 1;
  QDlistObject* found = nullptr;
  for (QDlistObject* n = list.First(); n; n = list.Next(n))
    if (n->Matches(&key)) found = n;
  EXPECT_EQ(found, a);

  list.Unlink(b);
  EXPECT_EQ(list.Last(), a);
  delete b;
  EXPECT_EQ(g_deleted, 1);

  QDlist::DeleteAll(list);
  EXPECT_EQ(g_deleted, 3);
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.First(), nullptr);
  list.AddTail(new Node(9));  // usable again after DeleteAll
  EXPECT_EQ(Values(list), (std::vector<int>{9}));
}

}  // namespace
