// The xBase table's records: appending, writing and deleting, the moves
// (also in the sorted order of an ordered read), seeks, and value transfer
// between the current record and CQmsRecord objects.
#include <cstring>
#include <string>

#include "platform/env.h"
#include "tables/qdate.h"
#include "tables/qlog.h"
#include "tables/qtablefr.h"
#include "xbase/xbase.h"

namespace {

constexpr const char* kClass = "CQmsFolioRackTable";

bool IsMemo(FIELD4* field) { return f4isMemo(field) == 1; }

// Text into a column the way the column stores it: binary columns convert
// the text to their own form instead of taking its bytes; memo columns are
// not carried and stay as they are.
void AssignText(Field4& column, const char* text) {
  FIELD4* field = column.field;
  if (IsMemo(field)) return;
  int length = int(std::strlen(text));
  switch (f4storedType(field)) {
    case 'I':
      f4assignLong(field, c4atol(text, length));
      return;
    case 'B':
      f4assignDouble(field, c4atod(text, length));
      return;
    case 'Y':
      f4assignCurrency(field, text);
      return;
    case 'T':
      f4assignDateTime(field, text);
      return;
    default:
      column.assign(text);
      return;
  }
}

// Numbers go through the column's own width and decimals; binary columns
// take the value itself (a double's bytes would overrun a 4-byte integer).
void AssignReal(Field4& column, double value) {
  FIELD4* field = column.field;
  if (IsMemo(field)) return;
  if (f4storedType(field) == 'I') {
    f4assignLong(field, long(value));
  } else if (f4storedType(field) == 'B') {
    f4assignDouble(field, value);
  } else {
    column.assignDouble(value, -1, -1);
  }
}

void AssignWhole(Field4& column, long value) {
  FIELD4* field = column.field;
  if (IsMemo(field)) return;
  if (f4storedType(field) == 'I') {
    f4assignLong(field, value);
  } else if (f4storedType(field) == 'B') {
    f4assignDouble(field, double(value));
  } else {
    column.assignLong(value, -1, 0);
  }
}

// A number column that other programs left without a value: blanks, or
// asterisks (also written for a value that did not fit).
bool EmptyNumber(FIELD4* field, const char* text) {
  const int type = f4storedType(field);
  if (type != 'N' && type != 'F') return false;
  return text[std::strspn(text, " *")] == '\0';
}

CQmsVariant& ValueOf(const CQmsRecord& record, int field) {
  CQmsVariant* value = const_cast<CQmsRecord&>(record).GetFieldByHandle(field);
  if (value == nullptr) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  return *value;
}

}  // namespace

// ---- writing records ----

QBOOL CQmsFolioRackTable::AddNewRecord() {
  return QmsGuarded(QMS_SITE(kClass, "AddNewRecord", ""), [&]() -> QBOOL {
    RefuseOrdered();
    DATA4* data = OpenData();
    int rc;
    {
      Quiet quiet;
      rc = d4appendStart(data, 0);
    }
    TakeEngineError();
    if (rc == -1) {
      CQmsStringPtr file;
      ConstructTableFileName(file);
      QmsLog(QMS_SEVERE_DISK_FULL, kClass, "AddNewRecord",
             QmsFormat("The table: %s, could not be written to\n", QmsText(file)), __FILE__, __LINE__);
    }
    if (rc < 0) QmsRaise(QMS_SEVERE_ADD_RECORD);
    d4blank(data);
    return 1;
  });
}

void CQmsFolioRackTable::CommitRecord() {
  QmsGuarded(QMS_SITE(kClass, "CommitRecord", ""), [&] {
    RefuseOrdered();
    DATA4* data = OpenData();
    int rc = 0;
    int code;
    {
      Quiet quiet;
      if (d4recNo(data) == 0) {
        rc = d4append(data);
      } else if (d4changed(data, -1) >= 1) {
        rc = d4write(data, -1, 0, 1);
      }
      code = TakeEngineError();
    }
    if (rc == e4write || code == e4write) {
      CQmsStringPtr file;
      ConstructTableFileName(file);
      QmsLog(QMS_SEVERE_DISK_FULL, kClass, "CommitRecord",
             QmsFormat("The table: %s, could not be written\n", QmsText(file)), __FILE__, __LINE__);
    }
    if (rc < 0) QmsRaise(QMS_SEVERE_COMMIT);
  });
}

void CQmsFolioRackTable::DeleteRecord() {
  QmsGuarded(QMS_SITE(kClass, "DeleteRecord", ""), [&] {
    RefuseOrdered();
    d4delete(OpenData());
    TakeEngineError();
  });
}

// ---- moves and position ----

void CQmsFolioRackTable::MoveFirst() {
  QmsGuarded(QMS_SITE(kClass, "MoveFirst", ""), [&] {
    DATA4* data = OpenData();
    int rc = m_ppRelate != nullptr ? relate4top(*m_ppRelate) : d4top(data);
    TakeEngineError();
    if (rc < 0) QmsRaise(QMS_SEVERE_MOVE);
  });
}

void CQmsFolioRackTable::MoveLast() {
  QmsGuarded(QMS_SITE(kClass, "MoveLast", ""), [&] {
    DATA4* data = OpenData();
    int rc = m_ppRelate != nullptr ? relate4bottom(*m_ppRelate) : d4bottom(data);
    TakeEngineError();
    if (rc < 0) QmsRaise(QMS_SEVERE_MOVE);
  });
}

void CQmsFolioRackTable::MoveTo(unsigned long position) {
  QmsGuarded(QMS_SITE(kClass, "MoveTo", ""), [&] {
    DATA4* data = OpenData();
    RefuseOrdered();
    int rc = d4goTo(data, long(position), 1);
    TakeEngineError();
    if (rc < 0) QmsRaise(QMS_SEVERE_MOVE);
  });
}

void CQmsFolioRackTable::MoveBy(long count) {
  QmsGuarded(QMS_SITE(kClass, "MoveBy", ""), [&] {
    DATA4* data = OpenData();
    int rc;
    int code;
    {
      Quiet quiet;
      rc = m_ppRelate != nullptr ? relate4skip(*m_ppRelate, count) : d4skip(data, count);
      code = TakeEngineError();
    }
    if (rc < 0) QmsRaise(code == e4write || rc == e4write ? QMS_SEVERE_WRITE_FILE : QMS_SEVERE_MOVE);
  });
}

QBOOL CQmsFolioRackTable::MoveNext() {
  return QmsGuarded(QMS_SITE(kClass, "MoveNext", ""), [&]() -> QBOOL {
    DATA4* data = OpenData();
    int rc;
    int code;
    long record;
    {
      Quiet quiet;
      rc = m_ppRelate != nullptr ? relate4skip(*m_ppRelate, 1) : d4skip(data, 1);
      code = m_pCode4->errorCode();
      record = d4recNo(data);
      TakeEngineError();
    }
    if (rc >= 0) return 1;
    if (code == e4write || rc == e4write) QmsRaise(QMS_SEVERE_WRITE_FILE);
    std::string text = "\nCQmsFolioRackTable::MoveNext - \n";
    text += QmsFormat("   Database name: %s\n", QmsText(m_DatabaseName));
    text += QmsFormat("   Table name: %s\n", QmsText(m_TableName));
    text += QmsFormat("   Record number: %ld\n", record);
    text += QmsFormat("   Foliorack error code: %d\n", code);
    QmsLog(QMS_WARN_MOVE, kClass, "MoveNext", text, __FILE__, __LINE__);
    PutCoutMessage(text.c_str());
    return 0;
  });
}

QBOOL CQmsFolioRackTable::AtBOF() {
  return QmsGuarded(QMS_SITE(kClass, "AtBOF", ""), [&]() -> QBOOL { return d4bof(OpenData()) != 0; });
}

QBOOL CQmsFolioRackTable::AtEOF() {
  return QmsGuarded(QMS_SITE(kClass, "AtEOF", ""), [&]() -> QBOOL {
    DATA4* data = OpenData();
    int rc = m_ppRelate != nullptr ? relate4eof(*m_ppRelate) : d4eof(data);
    if (rc < 0) {
      TakeEngineError();
      QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    }
    return rc != 0;
  });
}

unsigned long CQmsFolioRackTable::GetPosition() const {
  return QmsGuarded(QMS_SITE(kClass, "GetPosition", ""), [&]() -> unsigned long {
    long record = d4recNo(OpenData());
    if (record < 1) QmsRaise(QMS_SEVERE_RECORD_NUMBER);
    return static_cast<unsigned long>(record);
  });
}

unsigned long CQmsFolioRackTable::GetCount() {
  return QmsGuarded(QMS_SITE(kClass, "GetCount", ""), [&]() -> unsigned long {
    long count;
    {
      TemporaryData opened(*this);
      count = d4recCount(opened.data);
    }
    TakeEngineError();
    if (count < 0) QmsRaise(QMS_SEVERE_READ_FILE);
    return static_cast<unsigned long>(count);
  });
}

// ---- seeks ----

QBOOL CQmsFolioRackTable::Seek(const char* operation, const char* key) {
  return QmsGuarded(QMS_SITE(kClass, "Seek", ""), [&]() -> QBOOL {
    RefuseOrdered();
    DATA4* data = OpenData();
    if (operation == nullptr || operation[0] != '=') QmsRaise(QMS_SEVERE_SEEK_EMPTY);
    if (key == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    int rc = d4seek(data, key);
    TakeEngineError();
    return rc == 0;
  });
}

QBOOL CQmsFolioRackTable::Seek(const char* operation, const CQmsRecord& key) {
  return QmsGuarded(QMS_SITE(kClass, "Seek", ""), [&]() -> QBOOL {
    RefuseOrdered();
    DATA4* data = OpenData();
    if (operation == nullptr || operation[0] != '=') QmsRaise(QMS_SEVERE_SEEK_EMPTY);
    const char* text = BuildRecordKey(key);
    if (text[0] == 0) QmsRaise(QMS_SEVERE_SEEK_EMPTY);
    int rc = d4seek(data, text);
    TakeEngineError();
    return rc == 0;
  });
}

const char* CQmsFolioRackTable::BuildRecordKey(const CQmsRecord& key) {
  std::string text;
  for (int i = 0; i < key.GetCount(); i++) {
    int column = ColumnOf(key.GetFieldName(i));
    if (column < 0) continue;
    CQmsVariant& value = ValueOf(key, i);
    const char* piece = value;
    if (piece == nullptr) piece = "";
    size_t length = std::strlen(piece);
    size_t width = m_pFields[column].len();
    size_t pad = width > length ? width - length : 0;
    if (value.GetType() == QMS_VARIANT_STRING) {
      text.append(piece);
      text.append(pad, ' ');
    } else {
      text.append(pad, ' ');
      text.append(piece);
    }
  }
  m_KeyText = text.c_str();
  return QmsText(m_KeyText);
}

int CQmsFolioRackTable::ColumnOf(const char* name) const {
  if (name == nullptr) return -1;
  std::string wanted = name;
  while (!wanted.empty() && wanted.back() == ' ') wanted.pop_back();
  for (int j = 0; j < m_iFieldCount; j++) {
    if (platform::AsciiEqualsIgnoreCase(m_pFields[j].name(), wanted)) return j;
  }
  return -1;
}

// ---- from the current record into records ----

void CQmsFolioRackTable::Fill1FieldValue(CQmsRecord& record, int column, int field) {
  if (column < 0 || column >= m_iFieldCount || !record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
  QMS_VARIANT_TYPE type = record.GetFieldTypeByHandle(field);
  if (record.GetFieldWidthByHandle(field) == 0) {
    switch (type) {
      case QMS_VARIANT_BOOLEAN:
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
      case QMS_VARIANT_ULONG:
      case QMS_VARIANT_USHORT:
        record.SetFieldByHandle(field, 0);
        return;
      case QMS_VARIANT_DOUBLE:
      case QMS_VARIANT_FLOAT:
        record.SetFieldByHandle(field, 0.0);
        return;
      default:
        record.SetFieldByHandle(field, "");
        return;
    }
  }
  Field4& source = m_pFields[column];
  if (f4storedType(source.field) == 'C') {
    // Character columns are taken whole: the engine's formatted text stops
    // at 256 characters.
    std::string text(source.ptr(), source.len());
    m_KeyText = text.c_str();
  } else {
    const char* text = source.str();
    // An empty number reads as the empty text, as an empty text column does.
    m_KeyText = text == nullptr || EmptyNumber(source.field, text) ? "" : text;
  }
  switch (record.GetFieldTrimmingByHandle(field)) {
    case QMS_TRIM_LEADING:
      m_KeyText.TrimLeft();
      break;
    case QMS_TRIM_TRAILING:
      m_KeyText.TrimRight();
      break;
    case QMS_TRIM_BOTH:
      m_KeyText.Trim();
      break;
    default:
      break;
  }
  // A date-time column read as a date keeps its date part only.
  if (type == QMS_VARIANT_DATE && f4storedType(source.field) == 'T' && m_KeyText.Length() > 8)
    m_KeyText.SubString(0, 8);
  record.SetFieldByHandle(field, QmsText(m_KeyText));
}

void CQmsFolioRackTable::FillAllFieldValues(CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "FillAllFieldValues", ""), [&] {
    OpenData();
    if (m_iFieldCount < record.GetCount()) QmsRaise(QMS_SEVERE_FIELD_COUNTS);
    for (int i = 0; i < record.GetCount(); i++) Fill1FieldValue(record, i, i);
  });
}

void CQmsFolioRackTable::FillAllFieldValues(CQmsRecord& first, CQmsRecord& second) {
  QmsGuarded(QMS_SITE(kClass, "FillAllFieldValues", ""), [&] {
    OpenData();
    int n = first.GetCount();
    if (m_iFieldCount < n + second.GetCount()) QmsRaise(QMS_SEVERE_FIELD_COUNTS);
    for (int i = 0; i < n; i++) Fill1FieldValue(first, i, i);
    for (int i = 0; i < second.GetCount(); i++) Fill1FieldValue(second, n + i, i);
  });
}

void CQmsFolioRackTable::FillFieldValues(CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "FillFieldValues", ""), [&] {
    OpenData();
    if (record.GetCount() == 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
    for (int i = 0; i < record.GetCount(); i++) {
      int column = ColumnOf(record.GetFieldName(i));
      if (column < 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
      Fill1FieldValue(record, column, i);
    }
  });
}

void CQmsFolioRackTable::FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "FillMappedRecord", ""), [&] {
    OpenData();
    if (record.GetCount() == 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
    QmsForEachMapping(map, [&](int field, int column) { Fill1FieldValue(record, column, field); });
  });
}

// ---- from records into the current record ----

void CQmsFolioRackTable::Set1FieldValue(const CQmsRecord& record, int field, int column) {
  if (column < 0 || column >= m_iFieldCount || !record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
  Field4& target = m_pFields[column];
  CQmsVariant& value = ValueOf(record, field);
  switch (value.GetType()) {
    case QMS_VARIANT_BOOLEAN:
      AssignText(target, static_cast<QBOOL>(value) ? "T" : "F");
      return;
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT:
      AssignReal(target, static_cast<double>(value));
      return;
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
      AssignWhole(target, static_cast<long>(value));
      return;
    case QMS_VARIANT_ULONG:
    case QMS_VARIANT_USHORT:
      AssignWhole(target, long(static_cast<unsigned long>(value)));
      return;
    case QMS_VARIANT_STRING: {
      const char* text = value;
      AssignText(target, text != nullptr ? text : "");
      return;
    }
    case QMS_VARIANT_DATE: {
      // No date is a blank column, as the data files keep it.
      const char* date = value;
      AssignText(target, QmsIsEmptyDate(date) ? "" : date);
      return;
    }
    case QMS_VARIANT_DATETIME: {
      char letter = char(f4storedType(target.field));
      if (m_bSupportDateTime == 1 && letter == 'T') {
        f4assignDateTime(target.field, static_cast<const char*>(value));
        return;
      }
      if (letter != 'D') QmsRaise(QMS_SEVERE_INVALID_TYPE);
      CQmsVariant date(value);
      date.ChangeType(QMS_VARIANT_DATE);
      AssignText(target, static_cast<const char*>(date));
      return;
    }
    default:
      QmsRaise(QMS_SEVERE_BAD_INPUT);
  }
}

void CQmsFolioRackTable::SetAllFieldValues(const CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "SetAllFieldValues", ""), [&] {
    OpenData();
    if (m_iFieldCount < record.GetCount()) QmsRaise(QMS_SEVERE_FIELD_COUNTS);
    for (int i = 0; i < record.GetCount(); i++) Set1FieldValue(record, i, i);
    TakeEngineError();
  });
}

void CQmsFolioRackTable::SetAllFieldValues(const CQmsRecord& first, const CQmsRecord& second) {
  QmsGuarded(QMS_SITE(kClass, "SetAllFieldValues", ""), [&] {
    OpenData();
    int n = first.GetCount();
    if (m_iFieldCount < n + second.GetCount()) QmsRaise(QMS_SEVERE_FIELD_COUNTS);
    for (int i = 0; i < n; i++) Set1FieldValue(first, i, i);
    for (int i = 0; i < second.GetCount(); i++) Set1FieldValue(second, i, n + i);
    TakeEngineError();
  });
}

void CQmsFolioRackTable::SetFieldValues(const CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "SetFieldValues", ""), [&] {
    OpenData();
    if (record.GetCount() == 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
    for (int i = 0; i < record.GetCount(); i++) {
      int column = ColumnOf(record.GetFieldName(i));
      if (column < 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
      Set1FieldValue(record, i, column);
    }
    TakeEngineError();
  });
}

void CQmsFolioRackTable::SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) {
  QmsGuarded(QMS_SITE(kClass, "SetMappedRecord", ""), [&] {
    OpenData();
    if (record.GetCount() == 0) QmsRaise(QMS_SEVERE_PROTOTYPE_INVALID);
    QmsForEachMapping(map, [&](int field, int column) { Set1FieldValue(record, field, column); });
    TakeEngineError();
  });
}
