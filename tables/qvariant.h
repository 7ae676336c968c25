// CQmsVariant: the table library's one value type, a tagged value of one of
// thirteen kinds. Every record field holds its value in one.
//
// ChangeType converts in place by a fixed table (texts of numbers made as
// "%f", "%d", "%08d", "%08.0f"; texts read as atof, atoi and atol read them);
// a conversion that the table refuses leaves the variant EMPTY and raises
// 22000052. The conversion operators read the value as a C type without
// changing it; one that cannot give its type raises 22000016. Texts and dates
// they give point into the variant and stay valid until it next changes.
//
// A STRING variant owns its text (C heap); a STRING may have no text at all.
// A VOIDSTAR pointer is never owned. DATE holds "ccyymmdd", DATETIME
// "ccyymmddhh:mm:ss", inside the value itself.
//
// The INT, LONG and ULONG kinds are 32 bits wide whatever the width of the
// host's `long`; a `long` or `unsigned long` given to a variant keeps its low
// 32 bits.
#pragma once

#include <cstdint>

#include "tables/qcodes.h"
#include "tables/qobject.h"
#include "tables/qstringp.h"

enum QMS_VARIANT_TYPE : int32_t {
  QMS_VARIANT_EMPTY = 0,
  QMS_VARIANT_BOOLEAN = 1,
  QMS_VARIANT_CHAR = 2,
  QMS_VARIANT_DOUBLE = 3,
  QMS_VARIANT_FLOAT = 4,
  QMS_VARIANT_INT = 5,
  QMS_VARIANT_LONG = 6,
  QMS_VARIANT_STRING = 7,
  QMS_VARIANT_ULONG = 8,
  QMS_VARIANT_USHORT = 9,
  QMS_VARIANT_VOIDSTAR = 10,
  QMS_VARIANT_DATE = 11,
  QMS_VARIANT_DATETIME = 12,
};

// The name of a kind ("QMS_VARIANT_DATE"), or null outside 0-12.
const char* QmsVariantTypeName(QMS_VARIANT_TYPE type);

typedef struct _qmsdate {
  char szDate[9];  // ccyymmdd
} QDATESTRUCT;

typedef struct _qmsdatetime {
  char szDateTime[17];  // ccyymmddhh:mm:ss
} QDATETIMESTRUCT;

// The plain value record: a kind and a value area that overlays every kind;
// only STRING points outside it.
struct _varstruct {
  QMS_VARIANT_TYPE vt;
  union {
    QBOOL bVal;
    char cVal;
    double dblVal;
    float fltVal;
    int32_t iVal;
    int32_t lVal;
    char* pszVal;
    uint32_t ulVal;
    uint16_t usVal;
    void* pVal;
    _qmsdate dateVal;
    _qmsdatetime dateTimeVal;
  } value;
};
static_assert(sizeof(_varstruct::value) >= sizeof(_qmsdatetime), "date-time texts live in the value area");

class CQmsVariant : public CQmsObject, public CQmsCollectable, public CQmsTest {
 public:
  CQmsVariant();
  CQmsVariant(QBOOL value);
  CQmsVariant(char value);
  // A null text gives a STRING without text.
  CQmsVariant(const char* text);
  CQmsVariant(const CQmsStringPtr& text);
  CQmsVariant(double value);
  CQmsVariant(float value);
  CQmsVariant(int value);
  CQmsVariant(long value);
  CQmsVariant(unsigned int value);
  CQmsVariant(unsigned long value);
  CQmsVariant(unsigned short value);
  CQmsVariant(void* value);
  CQmsVariant(const _qmsdate& value);
  CQmsVariant(const _qmsdatetime& value);
  CQmsVariant(const CQmsVariant& other);
  CQmsVariant(const _varstruct& other);
  ~CQmsVariant() override;

  CQmsVariant& operator=(QBOOL value);
  CQmsVariant& operator=(char value);
  CQmsVariant& operator=(double value);
  CQmsVariant& operator=(float value);
  CQmsVariant& operator=(int value);
  CQmsVariant& operator=(long value);
  CQmsVariant& operator=(unsigned int value);
  CQmsVariant& operator=(unsigned long value);
  CQmsVariant& operator=(unsigned short value);
  CQmsVariant& operator=(void* value);
  CQmsVariant& operator=(const _qmsdate& value);
  CQmsVariant& operator=(const _qmsdatetime& value);
  // A null text is reported as 23000000 and leaves the variant as it was;
  // the code is not passed on.
  CQmsVariant& operator=(const char* text);
  CQmsVariant& operator=(const CQmsVariant& other);
  CQmsVariant& operator=(const _varstruct& other);

  // The variant's own record, for reading and writing in place.
  operator _varstruct&() { return m_vs; }
  operator const _varstruct&() const { return m_vs; }

  void Clear();
  bool IsEmpty() const { return m_vs.vt == QMS_VARIANT_EMPTY; }
  // An EMPTY variant is not valid.
  bool IsValid() const override { return m_vs.vt != QMS_VARIANT_EMPTY; }
  QMS_VARIANT_TYPE GetType() const { return m_vs.vt; }
  void ChangeType(QMS_VARIANT_TYPE target);

  operator QBOOL() const;
  operator char() const;
  operator double() const;
  operator float() const;
  operator int() const;
  operator long() const;
  operator unsigned int() const;
  operator unsigned long() const;
  operator unsigned short() const;
  // Null for a STRING without text; the empty text for kinds without one.
  operator const char*() const;
  // A DATE gives its own date, a DATETIME its own date-time; the others are
  // written into buffers of the variant.
  operator _qmsdate&();
  operator _qmsdatetime&();
  operator void*() const;

  // Same kind and equal value; never raises.
  bool IsEqualValue(CQmsCollectable& other) const override;
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

 protected:
  // The one deep copy.
  void initFromVarStruct(const _varstruct& source);

 private:
  // One conversion step per source kind; each raises 22000052 where the
  // table refuses.
  void ChangeTypeFromEmpty(QMS_VARIANT_TYPE target);
  void ChangeTypeFromBoolean(QMS_VARIANT_TYPE target);
  void ChangeTypeFromChar(QMS_VARIANT_TYPE target);
  void ChangeTypeFromDouble(QMS_VARIANT_TYPE target);
  void ChangeTypeFromFloat(QMS_VARIANT_TYPE target);
  void ChangeTypeFromInt(QMS_VARIANT_TYPE target);
  void ChangeTypeFromLong(QMS_VARIANT_TYPE target);
  void ChangeTypeFromString(QMS_VARIANT_TYPE target);
  void ChangeTypeFromUlong(QMS_VARIANT_TYPE target);
  void ChangeTypeFromUshort(QMS_VARIANT_TYPE target);
  void ChangeTypeFromVoidstar(QMS_VARIANT_TYPE target);
  void ChangeTypeFromDate(QMS_VARIANT_TYPE target);
  void ChangeTypeFromDateTime(QMS_VARIANT_TYPE target);
  // The rows the kinds share: whole numbers (BOOLEAN, CHAR and the integer
  // kinds), floating point, and texts (STRING, DATE, DATETIME). Each builds
  // the new value aside and commits it only when the conversion succeeded.
  void ChangeTypeFromWhole(int64_t value, QMS_VARIANT_TYPE target);
  void ChangeTypeFromReal(double value, QMS_VARIANT_TYPE target);
  void ChangeTypeFromText(const char* text, QMS_VARIANT_TYPE target);
  // Replaces kind and value (and the capacity of a new text), freeing an old
  // owned text.
  void Commit(const _varstruct& next, uint32_t capacity);
  // Clears when the kind differs, then sets it: the first step of every typed
  // assignment.
  void SetTyped(QMS_VARIANT_TYPE type);
  void FreeText();

  _varstruct m_vs;
  mutable _qmsdate m_Date;          // the date operator's result
  mutable _qmsdatetime m_DateTime;  // the date-time operator's result
  mutable char m_szText[50];        // the text operator's result
  uint32_t m_uTextCapacity = 0;     // bytes allocated for a STRING text
};
