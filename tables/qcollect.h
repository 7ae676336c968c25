// CQmsCollection: the abstract container of the table library, a count of
// pointers to CQmsCollectable items found by value through each key's own
// IsEqualValue. Collections own their slots, never their items, except that
// the RemoveAndDestroy operations delete items through their virtual
// destructors.
#pragma once

#include <cstdint>

#include "tables/qobject.h"

class CQmsEnum;

class CQmsCollection : public CQmsObject, public CQmsCollectable, public CQmsTest {
 public:
  ~CQmsCollection() override = default;

  // A new enumerator on the collection, owned by the caller.
  virtual CQmsEnum* NewEnum() = 0;
  // Takes item out (the first slot that holds it); answers it.
  virtual CQmsCollectable* RemoveItem(CQmsCollectable* item) = 0;
  virtual long OccurencesOf(CQmsCollectable* key) = 0;
  // The first item the key finds equal, or null.
  virtual CQmsCollectable* Find(CQmsCollectable* key) const = 0;
  virtual void RemoveAndDestroyAllItems() = 0;
  virtual void RemoveAllItems() = 0;
  // 1 when the key finds an item; a null key fails with 23000000.
  virtual QBOOL Contains(CQmsCollectable* key);
  virtual long GetCount() const { return m_lCount; }
  virtual QBOOL IsEmpty() { return m_lCount == 0; }
  // Removes the item, then deletes it; nothing is deleted when the removal fails.
  virtual void RemoveAndDestroyItem(CQmsCollectable* item);

  // Another collection with the same count.
  bool IsEqualValue(CQmsCollectable& other) const override;

 protected:
  CQmsCollection() = default;
  int32_t m_lCount = 0;
};
