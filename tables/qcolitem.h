// Two of the roots every table-library class stands on.
//
// CQmsCollectable lets an object sit in the library's collections and be
// compared by value: the base IsEqualValue is identity, the base CompareValue
// reports 22000000 and answers 0. CQmsTest is the self-test hook; every class
// but the ini file answers it by zeroing both counters.
#pragma once

class CQmsIniFile;

class CQmsCollectable {
 public:
  virtual ~CQmsCollectable() = default;
  // Signed 16-bit order of other against this. The base version must not be
  // called: it reports 22000000 and answers 0 without throwing.
  virtual short CompareValue(CQmsCollectable& other);
  // Identity in the base version.
  virtual bool IsEqualValue(CQmsCollectable& other) const { return &other == this; }

  CQmsCollectable& operator=(const CQmsCollectable&) { return *this; }

 protected:
  CQmsCollectable() = default;

 private:
  CQmsCollectable(const CQmsCollectable&) = delete;
};

class CQmsTest {
 public:
  virtual ~CQmsTest() = default;
  virtual void Test(CQmsIniFile* ini, unsigned short& passed, unsigned short& failed) = 0;

  CQmsTest& operator=(const CQmsTest&) { return *this; }

 protected:
  CQmsTest() = default;
  // The body every class but the ini file shares.
  static void ZeroCounts(unsigned short& passed, unsigned short& failed) { passed = failed = 0; }

 private:
  CQmsTest(const CQmsTest&) = delete;
};
