#include "tables/qcolindx.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tables/qenum.h"
#include "tables/qobject.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;

class CollectionTest : public tablestest::TablesTest {};

// An item that counts its deletions.
class Counted : public CQmsCollectable {
 public:
  explicit Counted(int* deleted) : deleted_(deleted) {}
  ~Counted() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST_F(CollectionTest, GrowsAndShrinksByWholeSteps) {
  std::vector<std::unique_ptr<CQmsLongObject>> items;
  for (int i = 0; i < 300; i++) items.push_back(std::make_unique<CQmsLongObject>(i));
  CQmsIndexedCollection collection;
  EXPECT_EQ(collection.GetCapacity(), 0);
  for (int i = 0; i < 256; i++) collection.Add(items[i].get());
  EXPECT_EQ(collection.GetCapacity(), 256);
  collection.Add(items[256].get());
  EXPECT_EQ(collection.GetCapacity(), 512);
  EXPECT_EQ(collection.GetCount(), 257);
  EXPECT_EQ(collection.GetAtIndex(200), items[200].get());

  collection.RemoveItemAt(0);  // 256 left: a whole step below 512
  EXPECT_EQ(collection.GetCapacity(), 256);
  EXPECT_EQ(collection.GetAtIndex(0), items[1].get());
  while (collection.GetCount() > 1) collection.RemoveItemAt(collection.GetCount() - 1);
  EXPECT_EQ(collection.GetCapacity(), 256);
  collection.RemoveItemAt(0);
  EXPECT_EQ(collection.GetCapacity(), 0);
  EXPECT_TRUE(collection.IsEmpty());
  EXPECT_TRUE(collection.IsValid());
}

TEST_F(CollectionTest, PositionsOfInserts) {
  CQmsLongObject a(1), b(2), c(3), d(4);
  CQmsIndexedCollection collection;
  collection.Add(&b);
  collection.InsertAfter(&a, -1);                       // first
  collection.InsertBefore(&d, collection.GetCount());  // last
  collection.InsertAfter(&c, 1);                        // after b
  ASSERT_EQ(collection.GetCount(), 4);
  EXPECT_EQ(collection.First(), &a);
  EXPECT_EQ(collection.GetAtIndex(1), &b);
  EXPECT_EQ(collection.GetAtIndex(2), &c);
  EXPECT_EQ(collection.Last(), &d);
  collection.Swap(0, 3);
  EXPECT_EQ(collection.First(), &d);
  collection.Prepend(&c);
  EXPECT_EQ(collection.First(), &c);

  EXPECT_EQ(CodeOf([&] { collection.InsertBefore(&a, collection.GetCount() + 1); }), QMS_SEVERE_OUT_OF_BOUNDS);
  EXPECT_EQ(CodeOf([&] { collection.InsertAfter(&a, -2); }), QMS_SEVERE_OUT_OF_BOUNDS);
  EXPECT_EQ(CodeOf([&] { collection.Swap(0, 5); }), QMS_SEVERE_OUT_OF_BOUNDS);
  EXPECT_EQ(CodeOf([&] { collection.RemoveItemAt(-1); }), QMS_SEVERE_OUT_OF_BOUNDS);
  EXPECT_EQ(collection.GetCount(), 5);
  EXPECT_NE(ErrorLog().find("*** CQmsIndexedCollection::RemoveItemAt\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("Unable to remove item\n"), std::string::npos);

  KeepAlive();
  EXPECT_EQ(CodeOf([&] { collection.Add(nullptr); }), QMS_FATAL_BAD_POINTER);
  EXPECT_EQ(CodeOf([&] { collection.Contains(nullptr); }), QMS_FATAL_BAD_POINTER);
  EXPECT_NE(ErrorLog().find("*** CQmsCollection::Contains\n"), std::string::npos);
}

TEST_F(CollectionTest, SearchAsksTheKey) {
  CQmsStringPtr first("alpha");
  CQmsStringPtr second("beta");
  CQmsStringPtr third("alpha");
  CQmsIndexedCollection collection;
  collection.Add(&first);
  collection.Add(&second);
  collection.Add(&third);

  CQmsStringPtr key("alpha");  // another object with the same text
  EXPECT_EQ(collection.Find(&key), &first);
  EXPECT_EQ(collection.GetIndexOf(&key), 0);
  EXPECT_EQ(collection.OccurencesOf(&key), 2);
  EXPECT_EQ(collection.Contains(&key), 1);
  CQmsStringPtr missing("gamma");
  EXPECT_EQ(collection.Find(&missing), nullptr);
  EXPECT_EQ(collection.GetIndexOf(&missing), -1);

  EXPECT_EQ(collection.RemoveItem(&key), &first);
  EXPECT_EQ(collection.GetCount(), 2);
  EXPECT_EQ(CodeOf([&] { collection.RemoveItem(&missing); }), QMS_SEVERE_NOT_FOUND);
  EXPECT_NE(ErrorLog().find("RemoveItem failed\n"), std::string::npos);
}

TEST_F(CollectionTest, DestroyingItemsDeletesEachOnce) {
  int deleted = 0;
  auto* shared = new Counted(&deleted);
  auto* single = new Counted(&deleted);
  CQmsIndexedCollection collection;
  collection.Add(shared);
  collection.Add(single);
  collection.Add(shared);
  collection.RemoveAndDestroyAllItems();
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(collection.GetCount(), 0);

  auto* one = new Counted(&deleted);
  collection.Add(one);
  collection.RemoveAndDestroyItem(one);
  EXPECT_EQ(deleted, 3);
  Counted stranger(&deleted);  // not held: not deleted
  EXPECT_EQ(CodeOf([&] { collection.RemoveAndDestroyItem(&stranger); }), QMS_SEVERE_NOT_FOUND);
  EXPECT_NE(ErrorLog().find("*** CQmsCollection::rRemoveAndDestroyItem\n"), std::string::npos);
  EXPECT_EQ(deleted, 3);
}

TEST_F(CollectionTest, EqualCollections) {
  CQmsIndexedCollection a;
  CQmsIndexedCollection b;
  EXPECT_TRUE(a.IsEqualValue(b));
  CQmsLongObject item(7);
  a.Add(&item);
  b.Add(&item);
  EXPECT_TRUE(a.IsEqualValue(b));
  CQmsStringPtr x("same"), y("same"), z("other");
  a.Add(&x);
  b.Add(&y);
  EXPECT_TRUE(a.IsEqualValue(b));
  a.Add(&z);
  b.Add(&x);
  EXPECT_FALSE(a.IsEqualValue(b));
  EXPECT_FALSE(a.IsEqualValue(item));

  CQmsIndexedCollection copy(a);
  EXPECT_TRUE(copy.IsEqualValue(a));
  copy.RemoveItemAt(0);
  EXPECT_EQ(a.GetCount(), 3);  // each collection owns its own slots
}

TEST_F(CollectionTest, EnumeratorWalks) {
  CQmsLongObject a(1), b(2), c(3);
  CQmsIndexedCollection collection;
  std::unique_ptr<CQmsEnum> walk(collection.NewEnum());
  auto& cursor = static_cast<CQmsIndexedEnum&>(*walk);

  // An empty collection: moves answer null, nothing is reported.
  EXPECT_EQ(cursor.First(), nullptr);
  EXPECT_EQ(cursor.Next(), nullptr);
  EXPECT_EQ(cursor.Last(), nullptr);
  EXPECT_EQ(cursor.Previous(), nullptr);
  cursor.SkipToLast();
  EXPECT_EQ(cursor.GetCurrentIndex(), 0);
  cursor.SkipTo(5);
  EXPECT_EQ(cursor.GetCurrentIndex(), -1);
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(CodeOf([&] { cursor.Reset(); }), QMS_SEVERE_INPUT_TOO_LOW);
  EXPECT_NE(ErrorLog().find("*** CQmsIndexedEnum::rSkipToFirst\n"), std::string::npos);

  collection.Add(&a);
  collection.Add(&b);
  collection.Add(&c);
  collection.Add(&a);
  EXPECT_EQ(cursor.First(), &a);
  EXPECT_EQ(cursor.Next(), &b);
  EXPECT_EQ(cursor.This(), &b);
  EXPECT_EQ(cursor.Last(), &a);
  EXPECT_EQ(cursor.Next(), nullptr);
  EXPECT_EQ(cursor.GetCurrentIndex(), 3);
  EXPECT_EQ(cursor.Previous(), &c);
  cursor.SkipOffset(-10);
  EXPECT_EQ(cursor.GetCurrentIndex(), 0);
  cursor.SkipOffset(2);
  EXPECT_EQ(cursor.GetCurrentIndex(), 2);

  CQmsLongObject key(1);  // equal by value
  EXPECT_EQ(cursor.FindNext(&key), &a);
  EXPECT_EQ(cursor.GetCurrentIndex(), 3);
  EXPECT_EQ(cursor.FindNext(&key), nullptr);
  EXPECT_EQ(cursor.FindPrevious(&key), &a);
  EXPECT_EQ(cursor.GetCurrentIndex(), 0);

  CQmsIndexedEnum other(collection);
  EXPECT_TRUE(cursor.IsEqualValue(other));
  other.SkipTo(2);
  EXPECT_FALSE(cursor.IsEqualValue(other));
}

}  // namespace
