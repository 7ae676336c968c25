#include "tables/qenum.h"

namespace {

constexpr const char* kClass = "CQmsIndexedEnum";

}  // namespace

CQmsCollectable* CQmsIndexedEnum::First() {
  return QmsGuarded(QMS_SITE(kClass, "rFirst", "rFirst failed"), [&]() -> CQmsCollectable* {
    if (m_pCollection->GetCount() == 0) return nullptr;
    m_lCursor = 0;
    return m_pCollection->GetAtIndex(m_lCursor);
  });
}

CQmsCollectable* CQmsIndexedEnum::Next() {
  return QmsGuarded(QMS_SITE(kClass, "rNext", "rNext failed"), [&]() -> CQmsCollectable* {
    if (long(m_lCursor) + 1 >= m_pCollection->GetCount()) return nullptr;
    return m_pCollection->GetAtIndex(++m_lCursor);
  });
}

CQmsCollectable* CQmsIndexedEnum::This() {
  return QmsGuarded(QMS_SITE(kClass, "rThis", "rThis failed"), [&] { return m_pCollection->GetAtIndex(m_lCursor); });
}

CQmsCollectable* CQmsIndexedEnum::Previous() {
  return QmsGuarded(QMS_SITE(kClass, "rPrevious", "rPrevious failed"), [&]() -> CQmsCollectable* {
    if (m_lCursor < 1) return nullptr;
    return m_pCollection->GetAtIndex(--m_lCursor);
  });
}

CQmsCollectable* CQmsIndexedEnum::Last() {
  return QmsGuarded(QMS_SITE(kClass, "Last", "Last failed"), [&]() -> CQmsCollectable* {
    long count = m_pCollection->GetCount();
    if (count == 0) return nullptr;
    m_lCursor = int32_t(count - 1);
    return m_pCollection->GetAtIndex(m_lCursor);
  });
}

void CQmsIndexedEnum::SkipToFirst() {
  QmsGuarded(QMS_SITE(kClass, "rSkipToFirst", "rSkipToFirst failed"), [&] {
    if (m_pCollection->GetCount() == 0) QmsRaise(QMS_SEVERE_INPUT_TOO_LOW);
    m_lCursor = 0;
  });
}

namespace {

// i clamped below to 0, then above to count - 1 (-1 for an empty collection).
int32_t Clamp(long i, long count) {
  if (i < 0) i = 0;
  if (i >= count) i = count - 1;
  return int32_t(i);
}

}  // namespace

void CQmsIndexedEnum::SkipOffset(long offset) {
  QmsGuarded(QMS_SITE(kClass, "rSkipOffset", "rSkipOffset failed"),
             [&] { m_lCursor = Clamp(long(m_lCursor) + offset, m_pCollection->GetCount()); });
}

void CQmsIndexedEnum::SkipTo(long i) {
  QmsGuarded(QMS_SITE(kClass, "rSkipTo", "rSkipTo failed"),
             [&] { m_lCursor = Clamp(i, m_pCollection->GetCount()); });
}

void CQmsIndexedEnum::SkipToLast() {
  QmsGuarded(QMS_SITE(kClass, "rSkipToLast", "rSkipToLast failed"), [&] {
    long count = m_pCollection->GetCount();
    m_lCursor = count > 0 ? int32_t(count - 1) : 0;
  });
}

CQmsCollectable* CQmsIndexedEnum::FindNext(CQmsCollectable* key) {
  return QmsGuarded(QMS_SITE(kClass, "FindNext", "FindNext failed"), [&]() -> CQmsCollectable* {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    long count = m_pCollection->GetCount();
    for (long i = long(m_lCursor) + 1; i < count; i++) {
      CQmsCollectable* item = m_pCollection->GetAtIndex(i);
      if (key->IsEqualValue(*item)) {
        m_lCursor = int32_t(i);
        return item;
      }
    }
    return nullptr;
  });
}

CQmsCollectable* CQmsIndexedEnum::FindPrevious(CQmsCollectable* key) {
  return QmsGuarded(QMS_SITE(kClass, "FindPrevious", "FindPrevious failed"), [&]() -> CQmsCollectable* {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    long count = m_pCollection->GetCount();
    for (long i = long(m_lCursor) - 1; i >= 0; i--) {
      if (i >= count) continue;
      CQmsCollectable* item = m_pCollection->GetAtIndex(i);
      if (key->IsEqualValue(*item)) {
        m_lCursor = int32_t(i);
        return item;
      }
    }
    return nullptr;
  });
}

bool CQmsIndexedEnum::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* cursor = dynamic_cast<const CQmsIndexedEnum*>(&other);
    if (cursor == nullptr) QmsRaise(QMS_INFO_NO);
    if (cursor == this) QmsRaise(QMS_INFO_YES);
    bool same = m_pCollection->IsEqualValue(*cursor->m_pCollection) && cursor->m_lCursor == m_lCursor;
    QmsRaise(same ? QMS_INFO_YES : QMS_INFO_NO);
  });
}
