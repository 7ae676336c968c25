#include "tables/qcollect.h"

namespace {

constexpr const char* kClass = "CQmsCollection";

}  // namespace

QBOOL CQmsCollection::Contains(CQmsCollectable* key) {
  return QmsGuarded(QMS_SITE(kClass, "Contains", "Contains failed"), [&]() -> QBOOL {
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    return Find(key) != nullptr;
  });
}

void CQmsCollection::RemoveAndDestroyItem(CQmsCollectable* item) {
  QmsGuarded(QMS_SITE(kClass, "rRemoveAndDestroyItem", "rRemoveAndDestroyItem failed"), [&] {
    if (item == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    RemoveItem(item);
    delete item;
  });
}

bool CQmsCollection::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* collection = dynamic_cast<const CQmsCollection*>(&other);
    if (collection == nullptr) QmsRaise(QMS_INFO_NO);
    if (collection == this) QmsRaise(QMS_INFO_YES);
    QmsRaise(collection->m_lCount == m_lCount ? QMS_INFO_YES : QMS_INFO_NO);
  });
}
