#include "xbase/util4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/env.h"
#include "tests/xbase/xbase_fixture.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"

namespace {

// Moves the process into a folder for the test's life.
class InFolder {
 public:
  explicit InFolder(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~InFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

TEST(Util4, Ncpy) {
  char out[5];
  EXPECT_EQ(u4ncpy(out, "ABCDEFGHIJ", 5), 4);
  EXPECT_STREQ(out, "ABCD");
  EXPECT_EQ(u4ncpy(out, "AB", 5), 2);
  EXPECT_STREQ(out, "AB");
  xbasetest::CapturingEnv env;
  EXPECT_EQ(u4ncpy(out, "AB", 0), -930);
}

TEST(Util4, NameExtension) {
  struct Case {
    const char* name;
    const char* extension;
    int replace;
    const char* expected;
  } cases[] = {
      {"data", "dbf", 0, "data.dbf"},
      {"data.txt", "dbf", 0, "data.txt"},
      {"data.txt", ".dbf", 1, "data.dbf"},
      {"data   ", "dbf", 0, "data.dbf"},
      {"/tmp/v1.2/data", "dbf", 0, "/tmp/v1.2/data.dbf"},
      {"dir\\data", "cdx", 0, "dir\\data.cdx"},
  };
  for (const auto& c : cases) {
    char buffer[64];
    u4ncpy(buffer, c.name, sizeof buffer);
    EXPECT_EQ(u4nameExt(buffer, sizeof buffer, c.extension, c.replace), 0);
    EXPECT_STREQ(buffer, c.expected) << c.name;
  }
  char small[8] = "abcdef";
  xbasetest::CapturingEnv env;
  EXPECT_EQ(u4nameExt(small, sizeof small, "dbf", 0), -930);
}

TEST(Util4, NamePieces) {
  char out[64];
  u4namePiece(out, sizeof out, "/a/b.c/roads.dbf", 0, 0);
  EXPECT_STREQ(out, "roads");
  u4namePiece(out, sizeof out, "/a/b.c/roads.dbf", 1, 0);
  EXPECT_STREQ(out, "/a/b.c/roads");
  u4namePiece(out, sizeof out, "/a/b.c/roads", 0, 1);
  EXPECT_STREQ(out, "roads");
  EXPECT_EQ(u4nameRetExt(out, sizeof out, "/a/b.c/roads.dbf"), 3);
  EXPECT_STREQ(out, "dbf");
  EXPECT_EQ(u4nameRetExt(out, sizeof out, "/a/b.c/roads"), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(u4namePath(out, sizeof out, "/a/b.c/roads.dbf"), 7);
  EXPECT_STREQ(out, "/a/b.c/");
  xbasetest::CapturingEnv env;
  EXPECT_EQ(u4nameRetExt(out, 2, "x.dbf"), -930);
}

TEST(Util4, NameCurrentAndFix) {
  testsupport::TempDir dir;
  std::filesystem::create_directories(dir.File("a/b"));
  InFolder here(dir.File("a/b"));
  std::string base = std::filesystem::current_path().string();
  std::string parent = base.substr(0, base.rfind('/'));
  struct Case {
    const char* name;
    std::string expected;
  } cases[] = {
      {"../x.dbf", parent + "/x.dbf"},
      {"x.dbf", base + "/x.dbf"},
      {"./y/../x.dbf", base + "/x.dbf"},
      {"/abs//p/./q.dbf", "/abs/p/q.dbf"},
      {"..\\x.dbf", parent + "/x.dbf"},
  };
  for (const auto& c : cases) {
    char out[512];
    ASSERT_EQ(u4nameCurrent(out, sizeof out, c.name), 0) << c.name;
    EXPECT_EQ(std::string(out), c.expected) << c.name;
  }
  xbasetest::CapturingEnv env;
  char small[4];
  EXPECT_EQ(u4nameCurrent(small, sizeof small, "x.dbf"), -930);
  char climb[] = "../x";
  EXPECT_EQ(u4nameFix(climb), -1420);
}

TEST(Util4, EnvironAndToday) {
  xbasetest::TestCode4 c4;
  EXPECT_EQ(u4environ(&c4, "GSB_SURELY_NOT_SET_42", 0), nullptr);
  EXPECT_TRUE(c4.reports.empty());
  EXPECT_EQ(u4environ(&c4, "GSB_SURELY_NOT_SET_42", 1), nullptr);
  ASSERT_EQ(c4.reports.size(), 1u);
  EXPECT_EQ(c4.reports[0].code, -910);
  EXPECT_EQ(c4.reports[0].t1, "GSB_SURELY_NOT_SET_42");

  xbasetest::CapturingEnv env;
  env.fixedNow = 1772719445;
  unsigned char ymd[3];
  u4yymmdd(ymd);
  EXPECT_EQ(ymd[0], 126);
  EXPECT_EQ(ymd[1], 3);
  EXPECT_EQ(ymd[2], 5);
}

struct Item {
  LINK4 link;
  int value;
};

TEST(List4, RingOperations) {
  LIST4 list{};
  Item items[4] = {};
  for (int i = 0; i < 4; i++) items[i].value = i;
  l4add(&list, &items[0]);
  l4add(&list, &items[2]);
  l4addBefore(&list, &items[2], &items[1]);
  l4addAfter(&list, &items[2], &items[3]);
  std::string order;
  for (auto* it = static_cast<Item*>(l4first(&list)); it; it = static_cast<Item*>(l4next(&list, it))) {
    order += char('0' + it->value);
  }
  EXPECT_EQ(order, "0123");
  EXPECT_EQ(l4last(&list), &items[3]);
  EXPECT_EQ(l4prev(&list, &items[0]), nullptr);
  EXPECT_EQ(l4prev(&list, nullptr), &items[3]);
  list.selected = &items[3].link;
  EXPECT_EQ(l4pop(&list), &items[3]);
  EXPECT_EQ(list.selected, &items[0].link);  // the current pointer moves on
  l4remove(&list, &items[0]);
  EXPECT_EQ(l4first(&list), &items[1]);
  EXPECT_EQ(l4numNodes(&list), 2u);
  l4remove(&list, &items[1]);
  l4remove(&list, &items[2]);
  EXPECT_EQ(l4first(&list), nullptr);
  EXPECT_EQ(l4numNodes(&list), 0u);
}

TEST(Mem4, PoolsOfOneSizeAreShared) {
  mem4init();
  MEM4* a = mem4create(nullptr, 4, 40, 2, 0);
  MEM4* b = mem4create(nullptr, 8, 40, 1, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->unitStart, 8);
  EXPECT_EQ(a->unitExpand, 2);
  MEM4* temp = mem4create(nullptr, 4, 40, 2, 1);
  EXPECT_NE(temp, a);
  std::vector<void*> units;
  for (int i = 0; i < 20; i++) {
    auto* unit = static_cast<unsigned char*>(mem4alloc(a));
    ASSERT_NE(unit, nullptr);
    for (int k = 0; k < 40; k++) ASSERT_EQ(unit[k], 0);
    std::memset(unit, 0xAB, 40);
    units.push_back(unit);
  }
  for (void* unit : units) mem4free(a, unit);
  mem4release(b);
  // One user remains: the pool lives on and hands out cleared units.
  auto* again = static_cast<unsigned char*>(mem4alloc(a));
  EXPECT_EQ(again[0], 0);
  mem4free(a, again);
  mem4release(a);
  mem4release(temp);
  xbasetest::CapturingEnv env;
  EXPECT_EQ(mem4create(nullptr, 0, 40, 1, 0), nullptr);
  mem4reset();
}

TEST(Mem4, GrowBlock) {
  xbasetest::TestCode4 c4;
  char* block = nullptr;
  unsigned length = 0;
  ASSERT_EQ(u4allocAgainDefault(&c4, &block, &length, 10), 0);
  std::memcpy(block, "abcdefghi", 10);
  ASSERT_EQ(u4allocAgainDefault(&c4, &block, &length, 100), 0);
  EXPECT_EQ(length, 100u);
  EXPECT_STREQ(block, "abcdefghi");
  EXPECT_EQ(u4allocAgainDefault(&c4, &block, &length, 50), 0);
  EXPECT_EQ(length, 100u);
  u4free(block);
  char* none = nullptr;
  unsigned some = 5;
  EXPECT_EQ(u4allocAgainDefault(&c4, &none, &some, 10), -930);
}

TEST(Flag4, BitsAndSets) {
  unsigned char bytes[2] = {0, 0}, other[2] = {0, 0};
  FLAG4 a, b;
  flag4init(&a, nullptr, bytes, 16);
  flag4init(&b, nullptr, other, 16);
  flag4set(&a, 9);
  EXPECT_EQ(bytes[1], 0x02);
  EXPECT_TRUE(flag4isSet(&a, 9));
  EXPECT_FALSE(flag4isSet(&a, 8));
  flag4set(&a, 3);
  flag4set(&b, 3);
  flag4set(&b, 4);
  flag4and(&a, &b);
  EXPECT_EQ(bytes[0], 0x08);
  EXPECT_EQ(bytes[1], 0x00);
  // A complemented operand stands for the other bits.
  flag4flip(&b);
  flag4or(&a, &b);
  EXPECT_EQ(bytes[0], 0xEF);
  EXPECT_EQ(bytes[1], 0xFF);
  flag4flip(&a);
  flag4and(&a, &b);  // (not a) and (not b): stored plain
  EXPECT_EQ(a.isFlip, 0);
  EXPECT_EQ(bytes[0], 0x00);
  flag4reset(&a, 0);
  flag4setAll(&a);
  EXPECT_EQ(bytes[1], 0xFF);
}

}  // namespace
