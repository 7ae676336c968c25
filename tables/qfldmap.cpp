#include "tables/qfldmap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kTrace = 2;
constexpr const char* kClass = "CQmsFieldMap";
constexpr const char* kDumpFile = "Reslt.log";

}  // namespace

CQmsFieldMap::CQmsFieldMap() : m_Warning(100L) {}

CQmsFieldMap::~CQmsFieldMap() { FreeArrays(); }

void CQmsFieldMap::FreeArrays() {
  delete[] m_pInnerFields;
  delete[] m_pOuterFields;
  m_pInnerFields = nullptr;
  m_pOuterFields = nullptr;
}

void CQmsFieldMap::NewArrays(int32_t size) {
  int* inner = new (std::nothrow) int[size_t(size)];
  int* outer = new (std::nothrow) int[size_t(size)];
  if (inner == nullptr || outer == nullptr) {
    delete[] inner;
    delete[] outer;
    QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  }
  std::fill(inner, inner + size, -1);
  std::fill(outer, outer + size, -1);
  m_pInnerFields = inner;
  m_pOuterFields = outer;
}

CQmsFieldMap& CQmsFieldMap::operator=(const CQmsFieldMap& other) {
  if (&other == this) return *this;
  QmsGuarded(QMS_SITE(kClass, "operator=", "operator= failed"), [&] {
    Clear();
    m_InnerRec = other.m_InnerRec;
    m_OuterRec = other.m_OuterRec;
    if (other.m_lMapSize > 0) {
      NewArrays(other.m_lMapSize);
      std::copy(other.m_pInnerFields, other.m_pInnerFields + other.m_lMapSize, m_pInnerFields);
      std::copy(other.m_pOuterFields, other.m_pOuterFields + other.m_lMapSize, m_pOuterFields);
    }
    m_lMapSize = other.m_lMapSize;
    m_Warning = other.m_Warning;
  });
  return *this;
}

void CQmsFieldMap::UseRecords(const CQmsRecord& inner, const CQmsRecord& outer) {
  QmsGuarded(QMS_SITE(kClass, "UseRecords", "UseRecords failed"), [&] {
    for (const CQmsRecord* record : {&inner, &outer}) {
      if (!record->CQmsObject::IsValid()) QmsRaise(QMS_FATAL_DEAD_OBJECT);
      if (!record->IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    }
    m_InnerRec = inner;
    m_OuterRec = outer;
    m_InnerRec.Unlock();
    m_OuterRec.Unlock();
  });
}

void CQmsFieldMap::MapByNames() {
  QmsGuarded(QMS_SITE(kClass, "MapByNames", "MapByNames failed"), [&] {
    if (m_InnerRec.GetCount() < 1 || m_OuterRec.GetCount() < 1) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    FreeArrays();
    m_lMapSize = 0;
    NewArrays(m_InnerRec.GetCount());
    m_lMapSize = m_InnerRec.GetCount();
    for (int i = 0; i < m_lMapSize; i++) {
      m_pInnerFields[i] = i;
      m_pOuterFields[i] = m_OuterRec.GetFieldHandle(m_InnerRec.GetFieldName(i));
    }
    RemoveNullMappings();
  });
}

int CQmsFieldMap::MapFromFieldToField(const char* innerName, const char* outerName) {
  return QmsGuarded(QMS_SITE(kClass, "MapFromFieldToField", "MapFromFieldToField failed"), [&] {
    if (m_InnerRec.GetCount() < 1 || m_OuterRec.GetCount() < 1) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    if (m_lMapSize == 0) {
      if (m_pInnerFields != nullptr || m_pOuterFields != nullptr) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
      int32_t size = std::max(m_InnerRec.GetCount(), m_OuterRec.GetCount());
      NewArrays(size);
      m_lMapSize = size;
    }
    int slot = -1;
    for (int i = 0; i < m_lMapSize && slot < 0; i++) {
      if (m_pInnerFields[i] == -1) slot = i;
    }
    if (slot < 0 || m_pOuterFields[slot] != -1) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    int inner = m_InnerRec.GetFieldHandle(innerName);
    if (inner < 0) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    m_pInnerFields[slot] = inner;
    int outer = m_OuterRec.GetFieldHandle(outerName);
    if (outer < 0) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    m_pOuterFields[slot] = outer;
    int difference = m_OuterRec.GetFieldWidthByHandle(outer) - m_InnerRec.GetFieldWidthByHandle(inner);
    if (difference >= 1) {
      m_Warning.AppendFormattedData(
          "      Data Source Input field: %s is %d chars longer than Record Prototype field: %s\n", outerName,
          difference, innerName);
    }
    return difference;
  });
}

void CQmsFieldMap::RemoveNullMappings() {
  int32_t kept = 0;
  for (int32_t i = 0; i < m_lMapSize; i++) {
    if (m_pInnerFields[i] == -1 || m_pOuterFields[i] == -1) continue;
    m_pInnerFields[kept] = m_pInnerFields[i];
    m_pOuterFields[kept] = m_pOuterFields[i];
    kept++;
  }
  m_lMapSize = kept;
}

void CQmsFieldMap::FillMappedFields(CQmsRecord& inner, CQmsRecord& outer) {
  QmsGuarded(QMS_SITE(kClass, "FillMappedFields", "FillMappedFields failed"), [&] {
    if (inner.GetCount() < 1) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
    if (m_lMapSize > inner.GetCount()) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    for (int32_t i = 0; i < m_lMapSize; i++) {
      if (m_pInnerFields[i] < 0 || m_pOuterFields[i] < 0) continue;
      inner.SetFieldByHandle(m_pInnerFields[i], *outer.GetFieldByHandle(m_pOuterFields[i]));
    }
  });
}

void CQmsFieldMap::Clear() {
  m_InnerRec.Clear();
  m_OuterRec.Clear();
  m_lMapSize = 0;
  FreeArrays();
}

bool CQmsFieldMap::GetOneMapping(int i, int& inner, int& outer) const {
  if (i < 0 || i >= m_lMapSize) {
    inner = outer = -1;
    return false;
  }
  inner = m_pInnerFields[i];
  outer = m_pOuterFields[i];
  return true;
}

int CQmsFieldMap::GetInnerMapping(int i) const { return (i >= 0 && i < m_lMapSize) ? m_pInnerFields[i] : -1; }

int CQmsFieldMap::GetOuterMapping(int i) const { return (i >= 0 && i < m_lMapSize) ? m_pOuterFields[i] : -1; }

int CQmsFieldMap::ConvertOuterToInnerFld(int outer) const {
  for (int32_t i = 0; i < m_lMapSize; i++) {
    if (m_pOuterFields[i] == outer) return m_pInnerFields[i];
  }
  return -1;
}

int CQmsFieldMap::ConvertInnerToOuterFld(int inner) const {
  for (int32_t i = 0; i < m_lMapSize; i++) {
    if (m_pInnerFields[i] == inner) return m_pOuterFields[i];
  }
  return -1;
}

void CQmsFieldMap::ConvertOuterToInnerFlds(int outer, int* inners) const {
  if (inners == nullptr) return;
  int n = 0;
  for (int32_t i = 0; i < m_lMapSize; i++) {
    if (m_pOuterFields[i] == outer) inners[n++] = m_pInnerFields[i];
  }
  inners[n] = -1;
}

void CQmsFieldMap::Dump(QBOOL verbose) {
  QmsGuarded(QMS_SITE(kClass, "Dump", "Dump failed"), [&] {
    m_InnerRec.OpenDump(kDumpFile);
    m_InnerRec.PutDumpMessage("InnerRec:\n\n");
    m_InnerRec.Dump(verbose);
    m_InnerRec.CloseDump();
    m_OuterRec.OpenDump(kDumpFile);
    m_OuterRec.PutDumpMessage("OuterRec:\n\n");
    m_OuterRec.Dump(verbose);
    m_OuterRec.CloseDump();
    PutDumpData("\nMapSize: %d\n", int(m_lMapSize));
    if (verbose) {
      PutDumpData("CQmsFieldMap ID: %d\n", int(GetObjectID()));
      PutDumpMessage("\n   i   InnerMap[i]   OuterMap[i]");
      PutDumpMessage("\n -------------------------------\n");
    }
    for (int32_t i = 0; i < m_lMapSize; i++) {
      PutDumpData("%4d %10d    %10d\n", int(i), m_pInnerFields[i], m_pOuterFields[i]);
    }
  });
}
