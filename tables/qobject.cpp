#include "tables/qobject.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "tables/qlog.h"

namespace {

constexpr int kAccessorTrace = 4;

// The demangled name of a type, "class " in front, made once per type; the
// texts live as long as the program.
const char* ClassNameOf(const std::type_info& type) {
  static std::mutex lock;
  static std::map<std::type_index, std::string> names;
  std::lock_guard<std::mutex> hold(lock);
  auto found = names.find(type);
  if (found != names.end()) return found->second.c_str();
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = "class ";
  name += status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  return names.emplace(type, std::move(name)).first->second.c_str();
}

}  // namespace

uint32_t CQmsObject::c_uMaxID = 0;

unsigned long CQmsObject::AssignID() { return c_uMaxID++; }

CQmsObject::CQmsObject() : m_uValid(kLive), m_uObjectID(uint32_t(AssignID())) {}

CQmsObject::~CQmsObject() {
  m_Name = "";
  m_uValid = kDead;
}

CQmsObject& CQmsObject::operator=(const CQmsObject& other) {
  m_uValid = other.m_uValid;
  m_Name = other.m_Name;
  m_uObjectID = other.m_uObjectID;
  return *this;
}

bool CQmsObject::IsValid() const {
  return QmsAnswer([&] {
    if (m_uValid != kLive) QmsRaise(QMS_FATAL_DEAD_OBJECT);
  });
}

const char* CQmsObject::GetClassName() const { return ClassNameOf(typeid(*this)); }

bool CQmsObject::IsA(const char* text) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "IsA", "IsA failed", kAccessorTrace), [&] {
    return text != nullptr && std::strstr(GetClassName(), text) != nullptr;
  });
}

const char* CQmsObject::GetName() {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetName", "GetName failed", kAccessorTrace), [&] {
    if (m_Name.Length() == 0) {
      CQmsStringPtr name(GetClassName());
      name.AppendFormattedData(": Object ID %lu", static_cast<unsigned long>(m_uObjectID));
      m_Name = name;
    }
    return static_cast<const char*>(m_Name);
  });
}

void CQmsObject::SetName(const char* name) {
  QmsGuarded(QMS_OBJECT_SITE(this, "SetName", "SetName failed", kAccessorTrace), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_Name = name;
  });
}

// ---- boxed numbers ----

short CQmsLongObject::CompareValue(CQmsCollectable& other) {
  const auto* number = dynamic_cast<const CQmsLongObject*>(&other);
  if (number == nullptr) return 0;
  return short(uint16_t(uint16_t(number->m_uValue) - uint16_t(m_uValue)));
}

bool CQmsLongObject::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* number = dynamic_cast<const CQmsLongObject*>(&other);
    if (number == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (number == this) QmsRaise(QMS_INFO_YES);
    QmsRaise(number->m_uValue == m_uValue ? QMS_INFO_YES : QMS_INFO_NO);
  });
}

namespace {

const float kFloatTolerance = 0.001f;

}  // namespace

short CQmsFloatObject::CompareValue(CQmsCollectable& other) {
  const auto* number = dynamic_cast<const CQmsFloatObject*>(&other);
  if (number == nullptr) return 0;
  float difference = number->m_fValue - m_fValue;
  if (std::fabs(difference) < kFloatTolerance) return 0;
  // Cut toward zero; a difference beyond 32 bits (or not a number) keeps the
  // platform's "indefinite integer".
  double whole = std::trunc(double(difference));
  int32_t cut = (whole >= -2147483648.0 && whole <= 2147483647.0) ? int32_t(whole) : INT32_MIN;
  return short(uint16_t(uint32_t(cut)));
}

bool CQmsFloatObject::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* number = dynamic_cast<const CQmsFloatObject*>(&other);
    if (number == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (number == this) QmsRaise(QMS_INFO_YES);
    float difference = number->m_fValue - m_fValue;
    QmsRaise(std::fabs(difference) < kFloatTolerance ? QMS_INFO_YES : QMS_INFO_NO);
  });
}
