#include "tables/qrecord.h"

#include <cstring>
#include <new>

#include "platform/env.h"

namespace {

constexpr int kTrace = 2;

const char* TextOf(const CQmsStringPtr& text) {
  const char* chars = text;
  return chars ? chars : "";
}

// Texts compared as the record keeps them: a null text equals the empty one.
bool SameText(const CQmsStringPtr& a, const CQmsStringPtr& b) { return std::strcmp(TextOf(a), TextOf(b)) == 0; }

// Back to an unused slot: the state Clear leaves every item in.
void ResetItem(QMS_FIELD_ITEM& item) {
  item.value = "";
  item.format.FreeString();
  item.picture.FreeString();
  item.name.FreeString();
  item.type = QMS_VARIANT_EMPTY;
  item.width = 0;
  item.decimals = 0;
  item.trim = QMS_TRIM_BOTH;
  item.nullable = 1;
}

}  // namespace

CQmsRecord::CQmsRecord() {
  QmsGuarded(QMS_OBJECT_SITE(this, "CQmsRecord Constructor", "Constructor failed", kTrace), [&] {
    m_pItems = new (std::nothrow) QMS_FIELD_ITEM[kGrowthStep];
    if (m_pItems == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_lCapacity = kGrowthStep;
  });
}

CQmsRecord::~CQmsRecord() { delete[] m_pItems; }

// ---- fields by handle and name ----

int CQmsRecord::GetFieldHandle(const char* name) const {
  if (name == nullptr) return -1;
  for (int32_t i = 0; i < m_lCount; i++) {
    if (platform::AsciiEqualsIgnoreCase(name, TextOf(m_pItems[i].name))) return i;
  }
  return -1;
}

QMS_FIELD_ITEM& CQmsRecord::Field(int handle) const {
  if (!ValidHandle(handle)) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  return m_pItems[handle];
}

QMS_FIELD_ITEM& CQmsRecord::Field(const char* name) const { return Field(GetFieldHandle(name)); }

// ---- adding and removing fields ----

QMS_FIELD_ITEM& CQmsRecord::NewField(const char* name) {
  if (GetFieldHandle(name) >= 0) QmsRaise(QMS_SEVERE_FIELD_EXISTS);
  if (m_lCount + 1 > m_lCapacity) {
    auto* items = new (std::nothrow) QMS_FIELD_ITEM[size_t(m_lCapacity) + kGrowthStep];
    if (items == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    try {
      for (int32_t i = 0; i < m_lCount; i++) items[i] = m_pItems[i];
    } catch (long) {
      delete[] items;
      throw;
    }
    delete[] m_pItems;
    m_pItems = items;
    m_lCapacity += kGrowthStep;
  }
  QMS_FIELD_ITEM& field = m_pItems[m_lCount];
  ResetItem(field);
  field.name = name;
  return field;
}

namespace {

// The checks every single-field form makes first.
void CheckAdd(const char* name, QBOOL locked) {
  if (name == nullptr || name[0] == 0) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  if (locked) QmsRaise(QMS_SEVERE_RECORD_LOCKED);
}

bool IsDateType(QMS_VARIANT_TYPE type) { return type == QMS_VARIANT_DATE || type == QMS_VARIANT_DATETIME; }

}  // namespace

long CQmsRecord::AddZeroValued(QMS_FIELD_ITEM& field) {
  field.value = 0;
  m_lCount++;
  // A type outside the kinds leaves the field added, EMPTY and without its width.
  field.value.ChangeType(field.type);
  m_lRecordLength += field.width;
  return long(m_lCount - 1);
}

long CQmsRecord::Add(const char* name, int width) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "Add", "Add failed", kTrace), [&] {
    CheckAdd(name, m_bLocked);
    QMS_FIELD_ITEM& field = NewField(name);
    field.type = QMS_VARIANT_STRING;
    field.width = width;
    m_lCount++;
    m_lRecordLength += width;
    return long(m_lCount - 1);
  });
}

long CQmsRecord::Add(const char* name, QMS_VARIANT_TYPE type, int width, int decimals) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "Add", "Add failed", kTrace), [&] {
    CheckAdd(name, m_bLocked);
    if (IsDateType(type)) QmsRaise(QMS_SEVERE_USE_OTHER_ADD);
    QMS_FIELD_ITEM& field = NewField(name);
    field.type = type;
    field.width = width;
    field.decimals = decimals;
    return AddZeroValued(field);
  });
}

long CQmsRecord::Add(const char* name, QMS_VARIANT_TYPE type, const char* picture, int width) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "Add", "Add failed", kTrace), [&] {
    CheckAdd(name, m_bLocked);
    if (!IsDateType(type)) QmsRaise(QMS_SEVERE_USE_OTHER_ADD);
    if (picture == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (picture[0] == 0) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    if (width == 0) width = int(std::strlen(picture));
    QMS_FIELD_ITEM& field = NewField(name);
    field.type = type;
    field.width = width;
    field.picture = picture;
    return AddZeroValued(field);
  });
}

void CQmsRecord::Add(const CQmsRecord& other) {
  QmsGuarded(QMS_OBJECT_SITE(this, "Add", "Add failed", kTrace), [&] {
    for (int32_t i = 0; i < other.m_lCount; i++) {
      const QMS_FIELD_ITEM& from = other.m_pItems[i];
      if (from.decimals < 0) QmsRaise(QMS_SEVERE_BAD_INPUT);
      long handle = IsDateType(from.type) ? Add(from.name, from.type, TextOf(from.picture), from.width)
                                          : Add(from.name, from.type, from.width, from.decimals);
      m_pItems[handle].trim = from.trim;
      m_pItems[handle].nullable = from.nullable;
    }
  });
}

long CQmsRecord::Remove(long handle) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "Remove", "Invalid field handle", kTrace), [&] {
    if (handle < 0 || handle >= m_lCount) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    m_lRecordLength -= m_pItems[handle].width;
    m_lCount--;
    for (int32_t i = int32_t(handle); i < m_lCount; i++) m_pItems[i] = m_pItems[i + 1];
    return long(m_lCount);
  });
}

void CQmsRecord::Clear() {
  QmsGuarded(QMS_OBJECT_SITE(this, "Clear", "Clear failed", kTrace), [&] {
    if (m_bLocked) QmsRaise(QMS_SEVERE_RECORD_LOCKED);
    m_KeyFormat.FreeString();
    for (int32_t i = 0; i < m_lCapacity; i++) ResetItem(m_pItems[i]);
    m_lCount = 0;
    m_lRecordLength = 0;
  });
}

void CQmsRecord::ClearData() {
  for (int32_t i = 0; i < m_lCount; i++) m_pItems[i].value = "";
}

void CQmsRecord::SetKeyFormat(const char* format) {
  if (format == nullptr) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  m_KeyFormat = format;
}

void CQmsRecord::SetKeyWidth(int width) {
  if (width < 1) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  m_lKeyWidth = width;
}

CQmsRecord& CQmsRecord::operator=(const CQmsRecord& source) {
  if (&source == this) return *this;
  QmsGuarded(QMS_OBJECT_SITE(this, "operator=", "Assignment failed", kTrace), [&] {
    if (!source.CQmsObject::IsValid()) QmsRaise(QMS_FATAL_DEAD_OBJECT);
    Clear();
    m_KeyFormat = source.m_KeyFormat;
    m_lKeyWidth = source.m_lKeyWidth;
    for (int32_t i = 0; i < source.m_lCount; i++) {
      const QMS_FIELD_ITEM& from = source.m_pItems[i];
      int handle = int(Add(from.name, 20));
      SetFieldFormatByHandle(handle, from.format);
      SetDataPictureByHandle(handle, from.picture);
      SetFieldWidthByHandle(handle, from.width);
      SetFieldDecimalsByHandle(handle, from.decimals);
      SetFieldTypeByHandle(handle, from.type);
      SetFieldTrimmingByHandle(handle, from.trim);
      SetFieldNullableByHandle(handle, from.nullable);
      CQmsVariant scratch(from.value);
      SetFieldByHandle(handle, scratch);
    }
    m_bLocked = source.m_bLocked;
    m_lRecordLength = source.m_lRecordLength;
  });
  return *this;
}

// ---- whole-record tests ----

bool CQmsRecord::IsValid() const { return CQmsObject::IsValid() && m_lCount >= 0 && m_lCapacity >= 0; }

bool CQmsRecord::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* record = dynamic_cast<const CQmsRecord*>(&other);
    if (record == nullptr) QmsRaise(QMS_INFO_NO);
    if (record == this) QmsRaise(QMS_INFO_YES);
    if (record->m_lCount != m_lCount || record->m_lCapacity != m_lCapacity ||
        record->m_lKeyWidth != m_lKeyWidth || !SameText(record->m_KeyFormat, m_KeyFormat)) {
      QmsRaise(QMS_INFO_NO);
    }
    for (int32_t i = 0; i < m_lCount; i++) {
      QMS_FIELD_ITEM& mine = m_pItems[i];
      QMS_FIELD_ITEM& theirs = record->m_pItems[i];
      if (!SameText(mine.name, theirs.name) || !mine.value.IsEqualValue(theirs.value) ||
          !SameText(mine.format, theirs.format) || !SameText(mine.picture, theirs.picture) ||
          mine.width != theirs.width) {
        QmsRaise(QMS_INFO_NO);
      }
    }
    QmsRaise(QMS_INFO_YES);
  });
}

bool CQmsRecord::CheckNonAscii(int count, const int* handles) {
  auto nonAscii = [](QMS_FIELD_ITEM& field) {
    if (field.type != QMS_VARIANT_STRING) return false;
    const char* text = field.value;
    if (text == nullptr) return false;
    for (const char* p = text; *p; p++) {
      if (static_cast<unsigned char>(*p) > 127) return true;
    }
    return false;
  };
  if (count == 0) {
    for (int32_t i = 0; i < m_lCount; i++) {
      if (nonAscii(m_pItems[i])) return true;
    }
    return false;
  }
  if (count > 0 && handles == nullptr) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  for (int i = 0; i < count; i++) {
    if (nonAscii(Field(handles[i]))) return true;
  }
  return false;
}

void CQmsRecord::Dump(QBOOL verbose) {
  if (verbose) PutDumpMessage("CQmsRecord(s):\n");
  PutDumpData("Record Length: %d\n", int(m_lRecordLength));
  if (verbose) {
    PutDumpData("%-20s %12s %-20s %20s %20s %12s %15s\n", "field name", "field handle", "field type", "field value",
                "field expression", "field width", "field decimals");
  }
  for (int32_t i = 0; i < m_lCount; i++) {
    QMS_FIELD_ITEM& field = m_pItems[i];
    PutDumpData("%-20s %12d ", TextOf(field.name), int(i));
    const _varstruct& vs = field.value;
    const char* kind = QmsVariantTypeName(vs.vt);
    switch (vs.vt) {
      case QMS_VARIANT_EMPTY:
        PutDumpData("%-20s %20s", kind, "<empty>");
        break;
      case QMS_VARIANT_BOOLEAN:
        PutDumpData("%-20s %20d", kind, int(vs.value.bVal));
        break;
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
        PutDumpData("%-20s %20d", kind, int(vs.value.iVal));
        break;
      case QMS_VARIANT_STRING:
      case QMS_VARIANT_DATE:
      case QMS_VARIANT_DATETIME: {
        const char* text = field.value;
        PutDumpData("%-20s %20s", kind, text ? text : "");
        break;
      }
      case QMS_VARIANT_CHAR:
        PutDumpData("%-20s %20c", kind, vs.value.cVal);
        break;
      case QMS_VARIANT_DOUBLE:
        PutDumpData("%-20s %20f", kind, vs.value.dblVal);
        break;
      case QMS_VARIANT_FLOAT:
        PutDumpData("%-20s %20f", kind, double(vs.value.fltVal));
        break;
      case QMS_VARIANT_ULONG:
        PutDumpData("%-20s %20u", kind, unsigned(vs.value.ulVal));
        break;
      case QMS_VARIANT_USHORT:
        PutDumpData("%-20s %20u", kind, unsigned(vs.value.usVal));
        break;
      case QMS_VARIANT_VOIDSTAR:
        PutDumpData("%-20s %20s", kind, "<pointer>");
        break;
      default:
        PutDumpData("%-20s %20s", "*** UNKNOWN ***", "*** UNKNOWN ***");
    }
    PutDumpData("%12d", int(field.width));
    PutDumpData("%15d\n", int(field.decimals));
  }
}

// ---- field values ----

CQmsVariant* CQmsRecord::GetFieldByHandle(int handle) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetFieldByHandle", "Invalid field handle", kTrace),
                    [&] { return &Field(handle).value; });
}

CQmsVariant* CQmsRecord::GetFieldByName(const char* name) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetFieldByName", "Invalid field name", kTrace),
                    [&] { return &Field(name).value; });
}

bool CQmsRecord::FillFieldByHandle(int handle, CQmsVariant& value) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "FillFieldByHandle", "Invalid field handle", kTrace), [&] {
    value = Field(handle).value;
    return true;
  });
}

bool CQmsRecord::FillFieldByName(const char* name, CQmsVariant& value) {
  return QmsGuarded(QMS_OBJECT_SITE(this, "FillFieldByName", "Invalid field name", kTrace), [&] {
    value = Field(name).value;
    return true;
  });
}

template <class Value>
void CQmsRecord::Store(QMS_FIELD_ITEM& field, const Value& value) {
  field.value = value;
  if (field.value.GetType() != field.type) field.value.ChangeType(field.type);
}

template <class Value>
void CQmsRecord::SetByHandle(int handle, const Value& value) {
  QmsGuarded(QMS_OBJECT_SITE(this, "SetFieldByHandle", "Invalid field name", kTrace),
             [&] { Store(Field(handle), value); });
}

template <class Value>
void CQmsRecord::SetByName(const char* name, const Value& value) {
  QmsGuarded(QMS_OBJECT_SITE(this, "SetFieldByName", "Invalid field name", kTrace),
             [&] { Store(Field(name), value); });
}

void CQmsRecord::SetFieldByHandle(int handle, const char* value) { SetByHandle(handle, value ? value : ""); }
void CQmsRecord::SetFieldByHandle(int handle, const CQmsStringPtr& value) { SetFieldByHandle(handle, TextOf(value)); }
void CQmsRecord::SetFieldByHandle(int handle, const CQmsVariant& value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, const _varstruct& value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, QBOOL value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, double value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, float value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, int value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, long value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, char value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, unsigned int value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, unsigned long value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, const _qmsdate& value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByHandle(int handle, const _qmsdatetime& value) { SetByHandle(handle, value); }
void CQmsRecord::SetFieldByName(const char* name, const char* value) { SetByName(name, value ? value : ""); }
void CQmsRecord::SetFieldByName(const char* name, const CQmsStringPtr& value) { SetFieldByName(name, TextOf(value)); }
void CQmsRecord::SetFieldByName(const char* name, const CQmsVariant& value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, const _varstruct& value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, QBOOL value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, double value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, float value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, int value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, long value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, char value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, unsigned int value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, unsigned long value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, const _qmsdate& value) { SetByName(name, value); }
void CQmsRecord::SetFieldByName(const char* name, const _qmsdatetime& value) { SetByName(name, value); }

// ---- field attributes ----

const char* CQmsRecord::GetFieldName(int handle) const { return TextOf(Field(handle).name); }

const char* CQmsRecord::GetFieldFormatByHandle(int handle) const { return TextOf(Field(handle).format); }
const char* CQmsRecord::GetFieldFormatByName(const char* name) const { return TextOf(Field(name).format); }
void CQmsRecord::SetFieldFormatByHandle(int handle, const char* format) { Field(handle).format = format; }
void CQmsRecord::SetFieldFormatByName(const char* name, const char* format) { Field(name).format = format; }

const char* CQmsRecord::GetDataPictureByHandle(int handle) const { return TextOf(Field(handle).picture); }
const char* CQmsRecord::GetDataPictureByName(const char* name) const { return TextOf(Field(name).picture); }
void CQmsRecord::SetDataPictureByHandle(int handle, const char* picture) { Field(handle).picture = picture; }
void CQmsRecord::SetDataPictureByName(const char* name, const char* picture) { Field(name).picture = picture; }

int CQmsRecord::GetFieldWidthByHandle(int handle) const { return Field(handle).width; }
int CQmsRecord::GetFieldWidthByName(const char* name) const { return Field(name).width; }

void CQmsRecord::SetFieldWidthByHandle(int handle, int width) {
  QMS_FIELD_ITEM& field = Field(handle);
  if (width < 0) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  field.width = width;
}

void CQmsRecord::SetFieldWidthByName(const char* name, int width) {
  QMS_FIELD_ITEM& field = Field(name);
  if (width < 1) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  field.width = width;
}

int CQmsRecord::GetFieldDecimalsByHandle(int handle) const { return Field(handle).decimals; }
int CQmsRecord::GetFieldDecimalsByName(const char* name) const { return Field(name).decimals; }

void CQmsRecord::SetFieldDecimalsByHandle(int handle, int decimals) {
  QMS_FIELD_ITEM& field = Field(handle);
  if (field.type != QMS_VARIANT_STRING && (decimals < 0 || decimals > field.width - 1)) {
    QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  }
  field.decimals = decimals;
}

void CQmsRecord::SetFieldDecimalsByName(const char* name, int decimals) {
  QMS_FIELD_ITEM& field = Field(name);
  if (decimals < 0 || decimals > field.width - 1) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  field.decimals = decimals;
}

QMS_VARIANT_TYPE CQmsRecord::GetFieldTypeByHandle(int handle) const { return Field(handle).type; }
QMS_VARIANT_TYPE CQmsRecord::GetFieldTypeByName(const char* name) const { return Field(name).type; }

namespace {

void SetType(QMS_FIELD_ITEM& field, QMS_VARIANT_TYPE type) {
  if (type < QMS_VARIANT_BOOLEAN || type > QMS_VARIANT_DATETIME) QmsRaise(QMS_SEVERE_INVALID_TYPE);
  field.type = type;
}

void SetTrim(QMS_FIELD_ITEM& field, QMS_FIELD_TRIM trim) {
  if (trim < QMS_TRIM_NONE || trim > QMS_TRIM_BOTH) QmsRaise(QMS_SEVERE_INVALID_TRIM);
  field.trim = trim;
}

}  // namespace

// The field is looked up first: an unknown field is 22000008 whatever the value.
void CQmsRecord::SetFieldTypeByHandle(int handle, QMS_VARIANT_TYPE type) { SetType(Field(handle), type); }
void CQmsRecord::SetFieldTypeByName(const char* name, QMS_VARIANT_TYPE type) { SetType(Field(name), type); }

QMS_FIELD_TRIM CQmsRecord::GetFieldTrimmingByHandle(int handle) const { return Field(handle).trim; }
QMS_FIELD_TRIM CQmsRecord::GetFieldTrimmingByName(const char* name) const { return Field(name).trim; }

void CQmsRecord::SetFieldTrimmingByHandle(int handle, QMS_FIELD_TRIM trim) { SetTrim(Field(handle), trim); }
void CQmsRecord::SetFieldTrimmingByName(const char* name, QMS_FIELD_TRIM trim) { SetTrim(Field(name), trim); }

QBOOL CQmsRecord::GetFieldNullableByHandle(int handle) const { return Field(handle).nullable; }
QBOOL CQmsRecord::GetFieldNullableByName(const char* name) const { return Field(name).nullable; }
void CQmsRecord::SetFieldNullableByHandle(int handle, QBOOL nullable) { Field(handle).nullable = nullable; }
void CQmsRecord::SetFieldNullableByName(const char* name, QBOOL nullable) { Field(name).nullable = nullable; }
