// CQmsIndexedCollection: an ordered, growable array of item pointers with
// 0-based positions. The slot array grows and shrinks in steps of 256 slots:
// it grows by one step when an insert finds it full, and shrinks by one step
// each time the count falls a whole step below the capacity; an emptied
// collection holds no array. A failed insert or growth leaves the collection
// as it was. An item may be held more than once.
#pragma once

#include "tables/qcollect.h"

class CQmsIndexedCollection : public CQmsCollection {
 public:
  static constexpr int32_t kGrowthStep = 256;

  CQmsIndexedCollection() = default;
  // Each collection owns its own slot array.
  CQmsIndexedCollection(const CQmsIndexedCollection& other);
  CQmsIndexedCollection& operator=(const CQmsIndexedCollection& other);
  // Forgets the items (they are not deleted).
  ~CQmsIndexedCollection() override;

  bool IsValid() const override;
  CQmsEnum* NewEnum() override;
  CQmsCollectable* RemoveItem(CQmsCollectable* item) override;
  long OccurencesOf(CQmsCollectable* key) override;
  CQmsCollectable* Find(CQmsCollectable* key) const override;
  // Deletes each distinct item once, also when it is held several times.
  void RemoveAndDestroyAllItems() override;
  void RemoveAllItems() override;

  virtual long Add(CQmsCollectable* item);
  virtual long Append(CQmsCollectable* item) { return Add(item); }
  virtual CQmsCollectable* First();
  // 22000011 outside 0 to count - 1.
  virtual CQmsCollectable* GetAtIndex(long i) const;
  // -1 when the key finds nothing.
  virtual long GetIndexOf(CQmsCollectable* key);
  // The item takes position pos + 1; pos from -1 to count - 1.
  virtual void InsertAfter(CQmsCollectable* item, long pos);
  // The item takes position pos; pos from 0 to count.
  virtual void InsertBefore(CQmsCollectable* item, long pos);
  virtual CQmsCollectable* Last();
  virtual void Prepend(CQmsCollectable* item);
  // Takes the item at i out and answers it (not deleted).
  virtual CQmsCollectable* RemoveItemAt(long i);
  virtual void Swap(long i, long j);

  // Same count, capacity and step, and equal items position by position.
  bool IsEqualValue(CQmsCollectable& other) const override;
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override {
    ZeroCounts(passed, failed);
  }

  long GetCapacity() const { return m_lCapacity; }

 private:
  // One step more room; the collection is unchanged when it fails.
  void Grow();
  void Shrink();
  void CheckPosition(long i) const;

  int32_t m_lCapacity = 0;
  int32_t m_lGrowBy = kGrowthStep;
  CQmsCollectable** m_ppItems = nullptr;
};
