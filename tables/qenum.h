// Cursors over collections. CQmsIndexedEnum holds a position in an indexed
// collection that it does not own and sees the collection's changes at once.
// A move that has nowhere to go answers null and leaves the cursor; that is
// the normal end of a walk and is not reported.
#pragma once

#include <cstdint>

#include "tables/qcolindx.h"

class CQmsEnum : public CQmsCollectable, public CQmsTest {
 public:
  virtual CQmsCollectable* First() = 0;
  virtual CQmsCollectable* Next() = 0;
  virtual CQmsCollectable* This() = 0;
  virtual CQmsCollectable* Previous() = 0;
  virtual CQmsCollectable* Last() = 0;
  virtual void SkipToFirst() = 0;
  virtual void SkipOffset(long offset) = 0;
  virtual void SkipTo(long i) = 0;
  virtual void SkipToLast() = 0;
  virtual void Reset() = 0;
  virtual CQmsCollectable* FindNext(CQmsCollectable* key) = 0;
  virtual CQmsCollectable* FindPrevious(CQmsCollectable* key) = 0;

 protected:
  CQmsEnum() = default;
};

class CQmsIndexedEnum : public CQmsEnum {
 public:
  explicit CQmsIndexedEnum(CQmsIndexedCollection& collection) : m_pCollection(&collection) {}
  ~CQmsIndexedEnum() override { m_pCollection = nullptr; }

  CQmsCollectable* First() override;
  CQmsCollectable* Next() override;
  // The item at the cursor; 22000011 on an empty collection.
  CQmsCollectable* This() override;
  CQmsCollectable* Previous() override;
  CQmsCollectable* Last() override;
  // 22000014 on an empty collection.
  void SkipToFirst() override;
  // The cursor moves, clamped to 0 .. count - 1 (so -1 on an empty collection).
  void SkipOffset(long offset) override;
  void SkipTo(long i) override;
  // count - 1, or 0 on an empty collection.
  void SkipToLast() override;
  void Reset() override { SkipToFirst(); }
  CQmsCollectable* FindNext(CQmsCollectable* key) override;
  CQmsCollectable* FindPrevious(CQmsCollectable* key) override;
  virtual long GetCurrentIndex() { return m_lCursor; }

  // Equal collections and equal cursors.
  bool IsEqualValue(CQmsCollectable& other) const override;
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override {
    ZeroCounts(passed, failed);
  }

 private:
  CQmsIndexedCollection* m_pCollection;
  int32_t m_lCursor = 0;
};
