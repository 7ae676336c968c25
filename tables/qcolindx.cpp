#include "tables/qcolindx.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "tables/qenum.h"

namespace {

constexpr const char* kClass = "CQmsIndexedCollection";

}  // namespace

CQmsIndexedCollection::CQmsIndexedCollection(const CQmsIndexedCollection& other)
    : CQmsCollection() {
  *this = other;
}

CQmsIndexedCollection& CQmsIndexedCollection::operator=(const CQmsIndexedCollection& other) {
  if (&other == this) return *this;
  CQmsCollectable** items = nullptr;
  if (other.m_lCapacity > 0) {
    items = static_cast<CQmsCollectable**>(std::malloc(sizeof(CQmsCollectable*) * size_t(other.m_lCapacity)));
    if (items == nullptr) {
      QmsReport(QMS_SEVERE_OUT_OF_MEMORY, QMS_SITE(kClass, "operator=", "operator= failed"));
      QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    }
    std::memcpy(items, other.m_ppItems, sizeof(CQmsCollectable*) * size_t(other.m_lCount));
  }
  std::free(m_ppItems);
  m_ppItems = items;
  m_lCount = other.m_lCount;
  m_lCapacity = other.m_lCapacity;
  m_lGrowBy = other.m_lGrowBy;
  return *this;
}

CQmsIndexedCollection::~CQmsIndexedCollection() {
  if (m_ppItems != nullptr) RemoveAllItems();
}

bool CQmsIndexedCollection::IsValid() const {
  return CQmsObject::IsValid() && m_lCapacity >= 0 && m_lGrowBy >= 1 && (m_lCount <= 0 || m_ppItems != nullptr);
}

void CQmsIndexedCollection::CheckPosition(long i) const {
  if (i < 0 || i >= m_lCount) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
}

void CQmsIndexedCollection::Grow() {
  if (m_lGrowBy > INT32_MAX - m_lCapacity) QmsRaise(QMS_SEVERE_TOO_LARGE);
  size_t slots = size_t(m_lCapacity) + size_t(m_lGrowBy);
  auto* items = static_cast<CQmsCollectable**>(std::realloc(m_ppItems, sizeof(CQmsCollectable*) * slots));
  if (items == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  m_ppItems = items;
  m_lCapacity += m_lGrowBy;
}

void CQmsIndexedCollection::Shrink() {
  if (m_lCount > m_lCapacity - m_lGrowBy) return;
  int32_t capacity = m_lCapacity - m_lGrowBy;
  if (capacity <= 0) {
    std::free(m_ppItems);
    m_ppItems = nullptr;
    m_lCapacity = capacity < 0 ? 0 : capacity;
    return;
  }
  auto* items = static_cast<CQmsCollectable**>(std::realloc(m_ppItems, sizeof(CQmsCollectable*) * size_t(capacity)));
  if (items == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  m_ppItems = items;
  m_lCapacity = capacity;
}

CQmsEnum* CQmsIndexedCollection::NewEnum() {
  return QmsGuarded(QMS_SITE(kClass, "NewEnum", "NewEnum failed"), [&]() -> CQmsEnum* {
    auto* cursor = new (std::nothrow) CQmsIndexedEnum(*this);
    if (cursor == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return cursor;
  });
}

CQmsCollectable* CQmsIndexedCollection::RemoveItem(CQmsCollectable* item) {
  return QmsGuarded(QMS_SITE(kClass, "RemoveItem", "RemoveItem failed"), [&] {
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    long i = GetIndexOf(item);
    if (i == -1) QmsRaise(QMS_SEVERE_NOT_FOUND);
    return RemoveItemAt(i);
  });
}

long CQmsIndexedCollection::OccurencesOf(CQmsCollectable* key) {
  return QmsGuarded(QMS_SITE(kClass, "OccurencesOf", "OccurencesOf failed"), [&] {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    long found = 0;
    for (int32_t i = 0; i < m_lCount; i++) {
      if (key->IsEqualValue(*m_ppItems[i])) found++;
    }
    return found;
  });
}

CQmsCollectable* CQmsIndexedCollection::Find(CQmsCollectable* key) const {
  return QmsGuarded(QMS_SITE(kClass, "Find", "Find failed"), [&]() -> CQmsCollectable* {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    for (int32_t i = 0; i < m_lCount; i++) {
      if (key->IsEqualValue(*m_ppItems[i])) return m_ppItems[i];
    }
    return nullptr;
  });
}

void CQmsIndexedCollection::RemoveAndDestroyAllItems() {
  QmsGuarded(QMS_SITE(kClass, "RemoveAndDestroyAllItems", "RemoveAndDestroyAllItems failed"), [&] {
    while (m_lCount >= 1) {
      CQmsCollectable* item = RemoveItemAt(m_lCount - 1);
      if (item == nullptr) continue;
      // An item held several times is deleted once.
      for (int32_t i = 0; i < m_lCount; i++) {
        if (m_ppItems[i] == item) m_ppItems[i] = nullptr;
      }
      delete item;
    }
  });
}

void CQmsIndexedCollection::RemoveAllItems() {
  std::free(m_ppItems);
  m_ppItems = nullptr;
  m_lCount = 0;
  m_lCapacity = 0;
  m_lGrowBy = kGrowthStep;
}

long CQmsIndexedCollection::Add(CQmsCollectable* item) {
  return QmsGuarded(QMS_SITE(kClass, "Add", "Add failed"), [&] {
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    InsertBefore(item, m_lCount);
    return 1L;
  });
}

CQmsCollectable* CQmsIndexedCollection::First() {
  return QmsGuarded(QMS_SITE(kClass, "rFirst", "rFirst failed"),
                    [&] { return m_lCount > 0 ? m_ppItems[0] : nullptr; });
}

CQmsCollectable* CQmsIndexedCollection::GetAtIndex(long i) const {
  return QmsGuarded(QMS_SITE(kClass, "GetAtIndex", "GetAtIndex failed"), [&] {
    CheckPosition(i);
    return m_ppItems[i];
  });
}

long CQmsIndexedCollection::GetIndexOf(CQmsCollectable* key) {
  return QmsGuarded(QMS_SITE(kClass, "GetIndexOf", "GetIndexOf failed"), [&] {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    for (int32_t i = 0; i < m_lCount; i++) {
      if (key->IsEqualValue(*m_ppItems[i])) return long(i);
    }
    return -1L;
  });
}

void CQmsIndexedCollection::InsertAfter(CQmsCollectable* item, long pos) {
  QmsGuarded(QMS_SITE(kClass, "InsertAfter", "InsertAfter failed"), [&] {
    if (pos < -1 || pos > long(m_lCount) - 1) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_lCount >= m_lCapacity) Grow();
    long at = pos + 1;
    std::memmove(m_ppItems + at + 1, m_ppItems + at, sizeof(CQmsCollectable*) * size_t(m_lCount - at));
    m_ppItems[at] = item;
    m_lCount++;
  });
}

void CQmsIndexedCollection::InsertBefore(CQmsCollectable* item, long pos) {
  QmsGuarded(QMS_SITE(kClass, "InsertBefore", "InsertBefore failed"), [&] {
    if (pos < 0 || pos > long(m_lCount)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_lCount >= m_lCapacity) Grow();
    std::memmove(m_ppItems + pos + 1, m_ppItems + pos, sizeof(CQmsCollectable*) * size_t(m_lCount - pos));
    m_ppItems[pos] = item;
    m_lCount++;
  });
}

CQmsCollectable* CQmsIndexedCollection::Last() {
  return QmsGuarded(QMS_SITE(kClass, "Last", "Last failed"),
                    [&] { return m_lCount > 0 ? m_ppItems[m_lCount - 1] : nullptr; });
}

void CQmsIndexedCollection::Prepend(CQmsCollectable* item) {
  QmsGuarded(QMS_SITE(kClass, "Prepend", "Prepend failed"), [&] {
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    InsertBefore(item, 0);
  });
}

CQmsCollectable* CQmsIndexedCollection::RemoveItemAt(long i) {
  return QmsGuarded(QMS_SITE(kClass, "RemoveItemAt", "Unable to remove item"), [&] {
    CheckPosition(i);
    CQmsCollectable* item = m_ppItems[i];
    std::memmove(m_ppItems + i, m_ppItems + i + 1, sizeof(CQmsCollectable*) * size_t(m_lCount - i - 1));
    m_lCount--;
    Shrink();
    return item;
  });
}

void CQmsIndexedCollection::Swap(long i, long j) {
  QmsGuarded(QMS_SITE(kClass, "Swap", "Swap failed"), [&] {
    CheckPosition(i);
    CheckPosition(j);
    std::swap(m_ppItems[i], m_ppItems[j]);
  });
}

bool CQmsIndexedCollection::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* collection = dynamic_cast<const CQmsIndexedCollection*>(&other);
    if (collection == nullptr) QmsRaise(QMS_INFO_NO);
    if (collection == this) QmsRaise(QMS_INFO_YES);
    if (collection->m_lCount != m_lCount || collection->m_lCapacity != m_lCapacity ||
        collection->m_lGrowBy != m_lGrowBy) {
      QmsRaise(QMS_INFO_NO);
    }
    for (int32_t i = 0; i < m_lCount; i++) {
      CQmsCollectable* mine = m_ppItems[i];
      CQmsCollectable* theirs = collection->m_ppItems[i];
      if (mine == nullptr || theirs == nullptr) {
        if (mine != theirs) QmsRaise(QMS_INFO_NO);
      } else if (!mine->IsEqualValue(*theirs)) {
        QmsRaise(QMS_INFO_NO);
      }
    }
    QmsRaise(QMS_INFO_YES);
  });
}
