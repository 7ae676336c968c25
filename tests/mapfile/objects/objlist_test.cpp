// The in-memory object list: insert, replace, delete and read by row, the
// order of entries, the pending buffers, and who owns which buffer (run
// under the sanitizer, a leak or a double free fails the test).
#include "mapfile/objects/objlist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/mapfile/objects/geom_fixture.h"

namespace layerio {
namespace {

class ObjListTest : public objtest::GeomHeapTest {
 protected:
  void SetUp() override {
    GeomHeapTest::SetUp();
    std::memset(&store_, 0, sizeof store_);
    ASSERT_TRUE(MemObjStoreInit(&store_, nullptr));
  }
  void TearDown() override {
    EXPECT_EQ(MemObjStoreClose(&store_), 1);
    EXPECT_EQ(store_.list, nullptr);
    GeomHeapTest::TearDown();
  }

  GeomObject* Point(int32_t x) {
    GeomObject* o = New(kGeomPoint);
    o->u.point.position = IPoint{x, -x};
    o->bounds = IRect{x, -x, x, -x};
    return o;
  }

  GeomObject* Region(int32_t offset) {
    GeomObject* o = New(kGeomRegion);
    IPoint ring[3] = {{offset, 0}, {offset + 10, 0}, {offset, 10}};
    int32_t count = 3;
    EXPECT_TRUE(GeomPartsSetAll(o, 1, &count, ring, nullptr, nullptr));
    o->bounds = IRect{offset, 0, offset + 10, 10};
    return o;
  }

  // The rows of the list from the head.
  std::vector<uint32_t> Rows() const {
    std::vector<uint32_t> rows;
    MemObjCursor cursor;
    for (MemObjStoreFirst(&cursor, store_.list); cursor.entry; MemObjStoreNext(&cursor)) {
      rows.push_back(cursor.entry->object.row);
    }
    return rows;
  }

  static std::vector<IPoint> RingPoints(const GeomObject* o) {
    const GeomPart* part = GeomParts(o);
    const IPoint* points = GeomPartPoints(o, part);
    return std::vector<IPoint>(points, points + part->pointCount);
  }

  MemObjStore store_;
};

bool Same(const std::vector<IPoint>& a, const std::vector<IPoint>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
  }
  return true;
}

TEST_F(ObjListTest, InsertedObjectsAreDeepCopiesReadBackIntoTheCallersBuffers) {
  GeomObject* region = Region(0);
  std::vector<IPoint> ring = RingPoints(region);
  ASSERT_EQ(MemObjStoreInsert(&store_, region, 7, kMemObjAtTail, nullptr, nullptr), 1);
  // The caller's object can change or go: the entry holds its own copy.
  GeomPartsSetAll(region, 1, std::vector<int32_t>{3}.data(),
                  std::vector<IPoint>{{9, 9}, {19, 9}, {9, 19}}.data(), nullptr, nullptr);

  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  ASSERT_EQ(MemObjStoreRead(&store_, 7, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.kind, kGeomRegion);
  EXPECT_EQ(out.row, 7u);
  EXPECT_EQ(out.bounds.x2, 10);
  EXPECT_TRUE(Same(RingPoints(&out), ring));

  // A second read reuses the buffer it owns; a point keeps it unused.
  void* data = out.data;
  ASSERT_EQ(MemObjStoreRead(&store_, 7, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.data, data);
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(4), 8, kMemObjAtTail, nullptr, nullptr), 1);
  ASSERT_EQ(MemObjStoreRead(&store_, 8, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.kind, kGeomPoint);
  EXPECT_EQ(out.u.point.position.x, 4);
  EXPECT_EQ(out.data, data);
  GeomObjectFree(&out);

  EXPECT_EQ(MemObjStoreRead(&store_, 99, nullptr, nullptr, &out, 1), 0);
}

TEST_F(ObjListTest, ReadingWithoutCopyGivesTheRecordAndKeepsTheCallersBuffers) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Region(0), 1, kMemObjAtTail, nullptr, nullptr), 1);
  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  ASSERT_EQ(MemObjStoreRead(&store_, 1, nullptr, nullptr, &out, 0), 1);
  EXPECT_EQ(out.kind, kGeomRegion);
  EXPECT_EQ(out.u.poly.partCount, 1u);
  EXPECT_EQ(out.data, nullptr);  // the entry's buffer is never handed out
}

TEST_F(ObjListTest, PositionsPlaceEntriesAtTheHeadTailOrAnIndex) {
  struct Step {
    uint32_t row;
    int32_t position;
  } steps[] = {{1, kMemObjAtTail}, {2, 0}, {3, -2}, {4, 2}, {5, kMemObjPendingRow}, {6, 1},
               {7, 100}};
  for (const Step& s : steps) {
    ASSERT_EQ(MemObjStoreInsert(&store_, Point(int32_t(s.row)), s.row, s.position, nullptr,
                                nullptr),
              1);
  }
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{2, 6, 1, 4, 3, 5, 7}));
}

TEST_F(ObjListTest, TheFirstEntryOfARowIsTheOneReadReplacedAndDeleted) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 5, kMemObjAtTail, nullptr, nullptr), 1);
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(2), 6, kMemObjAtTail, nullptr, nullptr), 1);
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(3), 5, kMemObjAtTail, nullptr, nullptr), 1);

  MemObjEntry* entry;
  int32_t position;
  ASSERT_EQ(MemObjStoreFind(store_.list, 5, &entry, &position), 1);
  EXPECT_EQ(position, 0);
  ASSERT_EQ(MemObjStoreFindLast(store_.list, 5, &entry, &position), 1);
  EXPECT_EQ(position, 2);
  EXPECT_EQ(entry->object.u.point.position.x, 3);
  EXPECT_EQ(MemObjStoreFind(store_.list, 9, &entry, &position), 0);
  EXPECT_EQ(entry, nullptr);

  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  ASSERT_EQ(MemObjStoreRead(&store_, 5, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.u.point.position.x, 1);

  int kind = -1;
  ASSERT_EQ(MemObjStoreDelete(&store_, 5, &kind, nullptr), 1);
  EXPECT_EQ(kind, kGeomPoint);
  ASSERT_EQ(MemObjStoreRead(&store_, 5, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.u.point.position.x, 3);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{6, 5}));
}

TEST_F(ObjListTest, UpdateReportsWhatItReplacesAndInsertsAMissingRow) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 1, kMemObjAtTail, nullptr, nullptr), 1);
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(2), 2, kMemObjAtTail, nullptr, nullptr), 1);

  GeomObject* collection = New(kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(collection, Region(0), 1));
  ASSERT_TRUE(GeomCollectionAddObject(collection, Point(5), 1));
  int kind = -1;
  uint32_t mask = 99;
  ASSERT_EQ(MemObjStoreUpdate(&store_, collection, 2, kMemObjAtTail, &kind, &mask), 1);
  EXPECT_EQ(kind, kGeomPoint);
  EXPECT_EQ(mask, 0u);

  // Replacing the collection reports its parts; position 0 moves it to the head.
  ASSERT_EQ(MemObjStoreUpdate(&store_, Region(20), 2, 0, &kind, &mask), 1);
  EXPECT_EQ(kind, kGeomCollection);
  EXPECT_EQ(mask, 1u | 4u);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{2, 1}));

  // A row without entry is inserted and nothing is reported as replaced.
  ASSERT_EQ(MemObjStoreUpdate(&store_, Point(3), 3, kMemObjAtTail, &kind, &mask), 1);
  EXPECT_EQ(kind, 0);
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{2, 1, 3}));

  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  ASSERT_EQ(MemObjStoreRead(&store_, 2, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.kind, kGeomRegion);
  EXPECT_EQ(out.bounds.x1, 20);
  GeomObjectFree(&out);
}

TEST_F(ObjListTest, DeletingARowWithoutEntryChangesNothing) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 1, kMemObjAtTail, nullptr, nullptr), 1);
  int kind = -1;
  uint32_t mask = 99;
  EXPECT_EQ(MemObjStoreDelete(&store_, 2, &kind, &mask), 1);
  EXPECT_EQ(kind, 0);
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{1}));
}

TEST_F(ObjListTest, AnEntryWhoseBuffersLiveWithItIsResetNotUnlinked) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 1, kMemObjAtTail, nullptr, nullptr), 1);
  MemObjEntry* entry;
  int32_t position;
  ASSERT_EQ(MemObjStoreFind(store_.list, 1, &entry, &position), 1);
  entry->buffersWithEntry = 1;
  int kind = -1;
  EXPECT_EQ(MemObjStoreDelete(&store_, 1, &kind, nullptr), 1);
  EXPECT_EQ(kind, kGeomPoint);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{1}));
  EXPECT_EQ(entry->object.kind, kGeomNone);
  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  EXPECT_EQ(MemObjStoreRead(&store_, 1, nullptr, nullptr, &out, 1), 0);  // kind 0 reads as none
}

TEST_F(ObjListTest, ReadingACollectionCopiesEachPartIntoTheCaller) {
  GeomObject* collection = New(kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(collection, Region(0), 1));
  GeomObject* line = New(kGeomPolyline);
  IPoint run[2] = {{1, 1}, {2, 2}};
  int32_t two = 2;
  ASSERT_TRUE(GeomPartsSetAll(line, 1, &two, run, nullptr, nullptr));
  ASSERT_TRUE(GeomCollectionAddObject(collection, line, 1));
  ASSERT_EQ(MemObjStoreInsert(&store_, collection, 3, kMemObjAtTail, nullptr, nullptr), 1);

  // A fresh caller gets parts of its own.
  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  ASSERT_EQ(MemObjStoreRead(&store_, 3, nullptr, nullptr, &out, 1), 1);
  ASSERT_NE(out.u.collection.region, nullptr);
  ASSERT_NE(out.u.collection.polyline, nullptr);
  EXPECT_EQ(out.u.collection.multipoint, nullptr);
  EXPECT_NE(out.u.collection.region, collection->u.collection.region);
  EXPECT_TRUE(Same(RingPoints(out.u.collection.region),
                   RingPoints(collection->u.collection.region)));
  EXPECT_TRUE(Same(RingPoints(out.u.collection.polyline), {{1, 1}, {2, 2}}));

  // Read again, the caller's part objects are reused.
  GeomObject* region = out.u.collection.region;
  ASSERT_EQ(MemObjStoreRead(&store_, 3, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.u.collection.region, region);
  GeomObjectFree(&out);
}

TEST_F(ObjListTest, BorrowedBuffersAreFilledButNeverReplaced) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Region(0), 1, kMemObjAtTail, nullptr, nullptr), 1);
  GeomBufferSizes sizes;
  MemObjEntry* entry;
  int32_t position;
  ASSERT_EQ(MemObjStoreFind(store_.list, 1, &entry, &position), 1);
  GeomObjectSizes(&entry->object, &sizes);

  void* small = nullptr;
  ASSERT_TRUE(MemAllocZero(sizes.data / 2, nullptr, &small));
  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  out.data = small;
  out.bufferFlags = kGeomBorrowed;
  EXPECT_EQ(MemObjStoreRead(&store_, 1, nullptr, nullptr, &out, 1), 0);
  EXPECT_EQ(out.data, small);

  void* large = nullptr;
  ASSERT_TRUE(MemAllocZero(sizes.data + 64, nullptr, &large));
  out.data = large;
  ASSERT_EQ(MemObjStoreRead(&store_, 1, nullptr, nullptr, &out, 1), 1);
  EXPECT_EQ(out.data, large);
  EXPECT_EQ(RingPoints(&out).size(), 4u);
  GeomObjectFree(&out);  // borrowed: left to their owner
  MemFreePtr(&small);
  MemFreePtr(&large);
}

TEST_F(ObjListTest, TheFilterSeesTheBoundsAndMaySkipTheEntry) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Region(100), 1, kMemObjAtTail, nullptr, nullptr), 1);
  struct Seen {
    IRect bounds;
    int answer;
  } seen{{0, 0, 0, 0}, 0};
  MemObjBoundsFn filter = [](void* context, const IRect* bounds) {
    Seen* s = static_cast<Seen*>(context);
    s->bounds = *bounds;
    return s->answer;
  };
  GeomObject out;
  GeomObjectInit(&out, kGeomNone);
  EXPECT_EQ(MemObjStoreRead(&store_, 1, filter, &seen, &out, 1), 0);
  EXPECT_EQ(seen.bounds.x1, 100);
  EXPECT_EQ(out.kind, kGeomNone);  // a skipped entry leaves the caller's object alone
  seen.answer = 1;
  EXPECT_EQ(MemObjStoreRead(&store_, 1, filter, &seen, &out, 1), 1);
  GeomObjectFree(&out);
}

TEST_F(ObjListTest, PendingBuffersTakeTheObjectInsteadOfTheList) {
  GeomObject pending;
  GeomObjectInit(&pending, kGeomNone);
  struct Pending {
    GeomObject* object;
    int byIndex;
    uint32_t row;
  } hook{&pending, -1, 0};
  store_.pending = [](void* context, int byIndex, uint32_t row) -> GeomObject* {
    Pending* p = static_cast<Pending*>(context);
    p->byIndex = byIndex;
    p->row = row;
    return row == 4 ? p->object : nullptr;
  };
  store_.pendingContext = &hook;
  std::vector<uint32_t> told;
  MemObjRowFn inserted = [](void* context, uint32_t row) {
    static_cast<std::vector<uint32_t>*>(context)->push_back(row);
  };

  ASSERT_EQ(MemObjStoreInsert(&store_, Region(0), 4, kMemObjPendingRow, inserted, &told), 1);
  EXPECT_EQ(hook.byIndex, 0);
  EXPECT_EQ(pending.kind, kGeomRegion);
  EXPECT_EQ(pending.row, 4u);
  EXPECT_TRUE(Rows().empty());
  // A second object for the same pending buffer replaces the first.
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(9), 4, kMemObjPendingIndex, inserted, &told), 1);
  EXPECT_EQ(hook.byIndex, 1);
  EXPECT_EQ(pending.kind, kGeomPoint);
  // Without a pending buffer the object joins the list.
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 5, kMemObjPendingRow, inserted, &told), 1);
  EXPECT_EQ(Rows(), (std::vector<uint32_t>{5}));
  EXPECT_EQ(told, (std::vector<uint32_t>{4, 4, 5}));
  GeomObjectFree(&pending);
}

TEST_F(ObjListTest, InitEmptiesAnExistingListAndTheFixedOperationsAnswerAsTheyMust) {
  ASSERT_EQ(MemObjStoreInsert(&store_, Region(0), 1, kMemObjAtTail, nullptr, nullptr), 1);
  ASSERT_EQ(MemObjStoreInsert(&store_, Point(1), 2, kMemObjAtTail, nullptr, nullptr), 1);
  List* list = store_.list;
  uint16_t block[kMemObjCoordSysWords];
  for (size_t i = 0; i < kMemObjCoordSysWords; ++i) block[i] = uint16_t(i * 3);
  ASSERT_EQ(MemObjStoreInit(&store_, block), 1);
  EXPECT_EQ(store_.list, list);
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(std::memcmp(store_.coordSys, block, sizeof block), 0);

  int changed = 5;
  EXPECT_EQ(MemObjStoreBegin(&store_, &changed), 1);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(MemObjStoreCommit(&store_), 1);
  MemObjCursor cursor{reinterpret_cast<MemObjEntry*>(&changed), 3};
  EXPECT_EQ(MemObjStoreCursorReset(&cursor), 1);
  EXPECT_EQ(cursor.entry, nullptr);
  EXPECT_EQ(cursor.position, 0);
  MemObjStoreKindHook(&store_, kGeomRegion);
  // An in-memory store is created, never opened.
  EXPECT_EQ(MemObjStoreOpen(&store_), 0);
  EXPECT_EQ(store_.coordSys[1], 0);
  EXPECT_EQ(store_.list, list);
}

}  // namespace
}  // namespace layerio
