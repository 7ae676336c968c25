// CQmsObject: identity and liveness for the table library's objects, and the
// two boxed numbers that are the simplest complete members of the family.
//
// An object carries a process-wide number (from 0, never reused, wrapping
// after 2^32), a name and a marker that reads 0xFACEFACE while it lives and
// 0xDEADDEAD once its destructor has run; IsValid tests the marker and never
// throws or reports. Names default to "class <Name>: Object ID <n>".
#pragma once

#include <cstdint>

#include "tables/qcodes.h"
#include "tables/qcolitem.h"
#include "tables/qstringp.h"

class CQmsObject {
 public:
  static constexpr uint32_t kLive = 0xFACEFACE;
  static constexpr uint32_t kDead = 0xDEADDEAD;

  virtual ~CQmsObject();
  // True while the marker says the object lives.
  virtual bool IsValid() const;

  // The run-time class name: "class " and the class's own name.
  const char* GetClassName() const;
  // True when text occurs anywhere in the class name (not an inheritance test).
  bool IsA(const char* text);
  // Named on first use "<class name>: Object ID <n>" when never named.
  const char* GetName();
  // A null name fails with 23000000.
  void SetName(const char* name);
  unsigned long GetObjectID() const { return m_uObjectID; }

  // Copies marker, name and number.
  CQmsObject& operator=(const CQmsObject& other);

 protected:
  CQmsObject();
  // The current counter, then counts on.
  static unsigned long AssignID();

 private:
  CQmsObject(const CQmsObject&) = delete;

  uint32_t m_uValid;
  CQmsStringPtr m_Name;
  uint32_t m_uObjectID;

  static uint32_t c_uMaxID;
};

// An unsigned 32-bit number as an object.
class CQmsLongObject : public CQmsObject, public CQmsCollectable {
 public:
  explicit CQmsLongObject(unsigned long value = 0) : m_uValue(uint32_t(value)) {}
  virtual unsigned long GetValue() { return m_uValue; }
  virtual void SetValue(unsigned long value) { m_uValue = uint32_t(value); }
  virtual void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) { passed = failed = 0; }

  // Other minus this over the low 16 bits; 0 against another class.
  short CompareValue(CQmsCollectable& other) override;
  bool IsEqualValue(CQmsCollectable& other) const override;

  CQmsLongObject& operator=(const CQmsLongObject& other) = default;

 private:
  CQmsLongObject(const CQmsLongObject&) = delete;
  uint32_t m_uValue;
};

// A 32-bit float as an object; values less than 0.001 apart are equal.
class CQmsFloatObject : public CQmsObject, public CQmsCollectable {
 public:
  explicit CQmsFloatObject(float value = 0) : m_fValue(value) {}
  virtual float GetValue() { return m_fValue; }
  virtual void SetValue(float value) { m_fValue = value; }
  virtual void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) { passed = failed = 0; }

  // 0 when less than 0.001 apart; else the difference other minus this cut
  // to a whole number, over its low 16 bits.
  short CompareValue(CQmsCollectable& other) override;
  bool IsEqualValue(CQmsCollectable& other) const override;

  CQmsFloatObject& operator=(const CQmsFloatObject& other) = default;

 private:
  CQmsFloatObject(const CQmsFloatObject&) = delete;
  float m_fValue;
};
