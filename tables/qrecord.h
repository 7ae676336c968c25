// CQmsRecord: the ordered list of typed fields that describes one row of a
// table and carries its values.
//
// A field has a name, a declared type, a width and decimals, a format text, a
// data picture (the date picture of DATE and DATETIME fields), a trim mode and
// a nullable flag, and holds its value in a CQmsVariant. Every setter stores
// the value given and converts it to the declared type (a conversion that
// fails leaves the value EMPTY and raises 22000052). Fields are addressed by
// handle (their position from 0; removing a field moves the later ones down)
// or by name, compared ignoring case.
//
// The item array starts with room for 5 fields and grows by 5. The record
// length is the sum of the widths given when fields were added (less those of
// removed fields); setting a width later changes neither it nor the value.
// While locked, Add and Clear refuse with 22000053; nothing else looks at the
// lock.
#pragma once

#include <cstdint>

#include "tables/qcodes.h"
#include "tables/qdump.h"
#include "tables/qobject.h"
#include "tables/qstringp.h"
#include "tables/qvariant.h"

enum QMS_FIELD_TRIM : int32_t {
  QMS_TRIM_NONE = 0,
  QMS_TRIM_LEADING = 1,
  QMS_TRIM_TRAILING = 2,
  QMS_TRIM_BOTH = 3,
};

struct QMS_FIELD_ITEM {
  CQmsVariant value;
  CQmsStringPtr format;
  CQmsStringPtr picture;
  CQmsStringPtr name;
  QMS_VARIANT_TYPE type = QMS_VARIANT_EMPTY;
  int32_t width = 0;
  int32_t decimals = 0;
  QMS_FIELD_TRIM trim = QMS_TRIM_BOTH;
  QBOOL nullable = 1;
};

class CQmsRecord : public CQmsObject, public CQmsCollectable, public CQmsTest, public CQmsDump {
 public:
  static constexpr int32_t kGrowthStep = 5;

  CQmsRecord();
  ~CQmsRecord() override;
  // Replaces every field by a copy of the source's, values converted to each
  // field's type; the lock flag and record length come from the source.
  CQmsRecord& operator=(const CQmsRecord& source);

  // A STRING field whose value is the empty text; answers its handle.
  long Add(const char* name, int width);
  // A field of any type but DATE and DATETIME, valued the zero of its type
  // (an INT 0 converted: a STRING field holds "0").
  long Add(const char* name, QMS_VARIANT_TYPE type, int width, int decimals = 0);
  // A DATE or DATETIME field with its data picture; width 0 takes the
  // picture's length.
  long Add(const char* name, QMS_VARIANT_TYPE type, const char* picture, int width = 0);
  // Definition-only copies of every field of another record.
  void Add(const CQmsRecord& other);
  // Answers the new count.
  long Remove(long handle);
  void Clear();
  // Every value becomes the empty text, whatever the declared type.
  void ClearData();
  void Lock() { m_bLocked = 1; }
  void Unlock() { m_bLocked = 0; }
  QBOOL GetLock() const { return m_bLocked; }
  int GetCount() const { return m_lCount; }
  int GetRecordLength() const { return m_lRecordLength; }
  QBOOL ValidHandle(int handle) const { return handle >= 0 && handle < m_lCount; }
  // The first field whose name equals name ignoring case, or -1.
  int GetFieldHandle(const char* name) const;
  QBOOL ValidField(const char* name) const { return GetFieldHandle(name) >= 0; }
  const char* GetKeyFormat() const { return m_KeyFormat; }
  void SetKeyFormat(const char* format);
  void SetKeyWidth(int width);

  bool IsValid() const override;
  bool IsEqualValue(CQmsCollectable& other) const override;
  // True when a STRING field among those examined (all for count 0, else
  // the first count handles listed) holds a byte above 127.
  bool CheckNonAscii(int count, const int* handles);
  void Dump(QBOOL verbose) override;
  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

  // The field's own value (changes through it are not converted).
  CQmsVariant* GetFieldByHandle(int handle);
  CQmsVariant* GetFieldByName(const char* name);
  // A copy of the field's value into value.
  bool FillFieldByHandle(int handle, CQmsVariant& value);
  bool FillFieldByName(const char* name, CQmsVariant& value);

  // A null text stores the empty text.
  void SetFieldByHandle(int handle, const char* value);
  void SetFieldByHandle(int handle, const CQmsStringPtr& value);
  void SetFieldByHandle(int handle, const CQmsVariant& value);
  void SetFieldByHandle(int handle, const _varstruct& value);
  void SetFieldByHandle(int handle, QBOOL value);
  void SetFieldByHandle(int handle, double value);
  void SetFieldByHandle(int handle, float value);
  void SetFieldByHandle(int handle, int value);
  void SetFieldByHandle(int handle, long value);
  void SetFieldByHandle(int handle, char value);
  void SetFieldByHandle(int handle, unsigned int value);
  void SetFieldByHandle(int handle, unsigned long value);
  void SetFieldByHandle(int handle, const _qmsdate& value);
  void SetFieldByHandle(int handle, const _qmsdatetime& value);
  void SetFieldByName(const char* name, const char* value);
  void SetFieldByName(const char* name, const CQmsStringPtr& value);
  void SetFieldByName(const char* name, const CQmsVariant& value);
  void SetFieldByName(const char* name, const _varstruct& value);
  void SetFieldByName(const char* name, QBOOL value);
  void SetFieldByName(const char* name, double value);
  void SetFieldByName(const char* name, float value);
  void SetFieldByName(const char* name, int value);
  void SetFieldByName(const char* name, long value);
  void SetFieldByName(const char* name, char value);
  void SetFieldByName(const char* name, unsigned int value);
  void SetFieldByName(const char* name, unsigned long value);
  void SetFieldByName(const char* name, const _qmsdate& value);
  void SetFieldByName(const char* name, const _qmsdatetime& value);

  // Field attributes. An unknown handle or name, or a value outside the
  // accepted range, raises 22000008 (types outside 1-12: 22000052; trims
  // outside 0-3: 22000131), without a report.
  const char* GetFieldName(int handle) const;
  const char* GetFieldFormatByHandle(int handle) const;
  const char* GetFieldFormatByName(const char* name) const;
  void SetFieldFormatByHandle(int handle, const char* format);
  void SetFieldFormatByName(const char* name, const char* format);
  const char* GetDataPictureByHandle(int handle) const;
  const char* GetDataPictureByName(const char* name) const;
  void SetDataPictureByHandle(int handle, const char* picture);
  void SetDataPictureByName(const char* name, const char* picture);
  int GetFieldWidthByHandle(int handle) const;
  int GetFieldWidthByName(const char* name) const;
  // 0 or more.
  void SetFieldWidthByHandle(int handle, int width);
  // 1 or more.
  void SetFieldWidthByName(const char* name, int width);
  int GetFieldDecimalsByHandle(int handle) const;
  int GetFieldDecimalsByName(const char* name) const;
  // Any value for a STRING field, else 0 to width - 1.
  void SetFieldDecimalsByHandle(int handle, int decimals);
  // 0 to width - 1 whatever the type.
  void SetFieldDecimalsByName(const char* name, int decimals);
  QMS_VARIANT_TYPE GetFieldTypeByHandle(int handle) const;
  QMS_VARIANT_TYPE GetFieldTypeByName(const char* name) const;
  // The current value is not converted; the next value set is.
  void SetFieldTypeByHandle(int handle, QMS_VARIANT_TYPE type);
  void SetFieldTypeByName(const char* name, QMS_VARIANT_TYPE type);
  QMS_FIELD_TRIM GetFieldTrimmingByHandle(int handle) const;
  QMS_FIELD_TRIM GetFieldTrimmingByName(const char* name) const;
  void SetFieldTrimmingByHandle(int handle, QMS_FIELD_TRIM trim);
  void SetFieldTrimmingByName(const char* name, QMS_FIELD_TRIM trim);
  QBOOL GetFieldNullableByHandle(int handle) const;
  QBOOL GetFieldNullableByName(const char* name) const;
  void SetFieldNullableByHandle(int handle, QBOOL nullable);
  void SetFieldNullableByName(const char* name, QBOOL nullable);

 private:
  CQmsRecord(const CQmsRecord&) = delete;

  // The field of a handle or name; 22000008 when there is none.
  QMS_FIELD_ITEM& Field(int handle) const;
  QMS_FIELD_ITEM& Field(const char* name) const;
  // The checks and growth shared by the three single-field Add forms.
  QMS_FIELD_ITEM& NewField(const char* name);
  // Counts in a new typed field, valued an INT 0 converted to its type.
  long AddZeroValued(QMS_FIELD_ITEM& field);
  template <class Value>
  void SetByHandle(int handle, const Value& value);
  template <class Value>
  void SetByName(const char* name, const Value& value);
  // Stores a value into a field and converts it to the declared type.
  template <class Value>
  static void Store(QMS_FIELD_ITEM& field, const Value& value);

  int32_t m_lCount = 0;
  int32_t m_lCapacity = 0;
  int32_t m_lKeyWidth = 20;
  CQmsStringPtr m_KeyFormat;
  QBOOL m_bLocked = 0;
  int32_t m_lRecordLength = 0;
  QMS_FIELD_ITEM* m_pItems = nullptr;
};
