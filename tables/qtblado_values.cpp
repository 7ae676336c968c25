// The ADO table's value transfer: one column of the current record to one
// record field and back, and the bulk forms over them.
//
// Dates: the record set counts days from 1899-12-30, the library's dates
// are Julian day numbers, 2415019 apart. Conversions of column values go
// through types wide enough for every value of the column (an unsigned
// small integer through 32 bits), so valid data never fails to convert.
#include <string>

#include "tables/qdate.h"
#include "tables/qfldmap.h"
#include "tables/qtblado.h"

namespace {

constexpr const char* kInconsistent =
    "<INCONSISTENT DATA IN CELL - In order to continue processing, value has been ignored>";
constexpr long kJulianOfDayZero = 2415019;

void Trim(CQmsStringPtr& text, QMS_FIELD_TRIM mode) {
  switch (mode) {
    case QMS_TRIM_LEADING:
      text.TrimLeft();
      break;
    case QMS_TRIM_TRAILING:
      text.TrimRight();
      break;
    case QMS_TRIM_BOTH:
      text.Trim();
      break;
    default:
      break;
  }
}

// A column that holds nothing: zero for numbers, the given text for texts
// and dates.
void FillNothing(CQmsRecord& record, int handle, const char* text) {
  switch (record.GetFieldTypeByHandle(handle)) {
    case QMS_VARIANT_BOOLEAN:
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_ULONG:
    case QMS_VARIANT_USHORT:
      record.SetFieldByHandle(handle, 0);
      return;
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT:
      record.SetFieldByHandle(handle, 0.0);
      return;
    case QMS_VARIANT_CHAR:
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_DATE:
    case QMS_VARIANT_DATETIME:
      record.SetFieldByHandle(handle, text);
      return;
    default:
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
}

bool IsTextColumn(adodb::DataType type) {
  switch (type) {
    case adodb::kEmptyType:
    case adodb::kCurrency:
    case adodb::kBSTR:
    case adodb::kErrorType:
    case adodb::kDecimal:
    case adodb::kFileTime:
    case adodb::kGuid:
    case adodb::kChar:
    case adodb::kWChar:
    case adodb::kNumeric:
    case adodb::kDBTime:
    case adodb::kVarChar:
    case adodb::kLongVarChar:
    case adodb::kVarWChar:
    case adodb::kLongVarWChar:
      return true;
    default:
      return false;
  }
}

// The number a text holds from a position on, as atof reads it; 0 past its
// end.
double NumberFrom(const CQmsStringPtr& text, unsigned long at) {
  if (text.Length() <= at) return 0;
  return static_cast<double>(CQmsVariant(static_cast<const char*>(text) + at));
}

CQmsVariant& ValueOf(const CQmsRecord& record, int handle) {
  CQmsVariant* value = const_cast<CQmsRecord&>(record).GetFieldByHandle(handle);
  if (value == nullptr) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
  return *value;
}

}  // namespace

void CQmsAdoTable::Fill1FieldValue(CQmsRecord& record, int column, int handle) {
  Convention(QMS_ADO_SITE("Fill1FieldValue"), [&] {
    adodb::Ref<adodb::Field> field = FieldsOf()->Item(adodb::Variant::I2(int16_t(column)));
    if (!field) QmsRaise(QMS_FATAL_BAD_POINTER);
    adodb::Variant value = field->Value();
    if (value.Type() == adodb::VT_EMPTY) {
      FillNothing(record, handle, kInconsistent);
      return;
    }
    if (value.Type() == adodb::VT_NULL || field->Status() == adodb::kFieldIsNull) {
      FillNothing(record, handle, "");
      return;
    }
    adodb::DataType type = field->Type();
    switch (type) {
      case adodb::kSmallInt:
      case adodb::kTinyInt:
        record.SetFieldByHandle(handle, int(value.ChangeType(adodb::VT_I2).WholeValue()));
        return;
      case adodb::kUnsignedTinyInt:
      case adodb::kUnsignedSmallInt:
        record.SetFieldByHandle(handle, static_cast<unsigned int>(value.ChangeType(adodb::VT_I4).WholeValue()));
        return;
      case adodb::kInteger:
      case adodb::kBigInt:
        record.SetFieldByHandle(handle, long(value.ChangeType(adodb::VT_I4).WholeValue()));
        return;
      case adodb::kUnsignedInt:
      case adodb::kUnsignedBigInt:
        record.SetFieldByHandle(handle, static_cast<unsigned long>(value.ChangeType(adodb::VT_UI4).WholeValue()));
        return;
      case adodb::kBoolean:
        record.SetFieldByHandle(handle, QBOOL(value.ChangeType(adodb::VT_BOOL).WholeValue() != 0));
        return;
      case adodb::kSingle:
        record.SetFieldByHandle(handle, float(value.ChangeType(adodb::VT_R4).RealValue()));
        return;
      case adodb::kDouble:
        record.SetFieldByHandle(handle, value.ChangeType(adodb::VT_R8).RealValue());
        return;
      case adodb::kDBDate: {
        long day = long(value.ChangeType(adodb::VT_I4).WholeValue());
        m_WorkDate.Set(day + kJulianOfDayZero);
        record.SetFieldByHandle(handle, static_cast<_qmsdate&>(m_WorkDate));
        return;
      }
      case adodb::kDate:
      case adodb::kDBTimeStamp: {
        adodb::DateParts parts;
        if (!adodb::OleDateToParts(value.ChangeType(adodb::VT_R8).RealValue(), &parts)) {
          adodb::Raise(adodb::kOverflow, "Variant");
        }
        m_WorkText = QmsFormat("%04d%02d%02d%02d:%02d:%02d", parts.year, parts.month, parts.day, parts.hour,
                               parts.minute, parts.second)
                         .c_str();
        Trim(m_WorkText, record.GetFieldTrimmingByHandle(handle));
        record.SetFieldByHandle(handle, m_WorkText);
        return;
      }
      default:
        break;
    }
    if (!IsTextColumn(type)) {
      record.SetFieldByHandle(handle, "");
      return;
    }
    m_WorkText = value.ChangeType(adodb::VT_BSTR).TextValue().c_str();
    Trim(m_WorkText, record.GetFieldTrimmingByHandle(handle));
    record.SetFieldByHandle(handle, m_WorkText);
  });
}

void CQmsAdoTable::Set1FieldValue(const CQmsRecord& record, int column, int handle) {
  Convention(QMS_ADO_SITE("Set1FieldValue"), [&] {
    adodb::Ref<adodb::Field> field = FieldsOf()->Item(adodb::Variant::I2(int16_t(column)));
    if (!field) QmsRaise(QMS_FATAL_BAD_POINTER);
    const CQmsVariant& value = ValueOf(record, handle);
    adodb::Variant out;
    switch (record.GetFieldTypeByHandle(handle)) {
      case QMS_VARIANT_BOOLEAN:
        out = adodb::Variant::Whole(adodb::VT_UI1, static_cast<QBOOL>(value));
        break;
      case QMS_VARIANT_CHAR:
      case QMS_VARIANT_STRING: {
        const char* text = value;
        out = adodb::Variant::Text(text != nullptr ? text : "");
        break;
      }
      case QMS_VARIANT_DOUBLE:
        out = adodb::Variant::R8(static_cast<double>(value));
        break;
      case QMS_VARIANT_FLOAT:
        out = adodb::Variant::Real(adodb::VT_R4, static_cast<float>(value));
        break;
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
      case QMS_VARIANT_USHORT:
        out = adodb::Variant::I4(int32_t(static_cast<long>(value)));
        break;
      case QMS_VARIANT_ULONG:
        // Values above 2^31 stay positive on their way to an unsigned column.
        out = adodb::Variant::Whole(adodb::VT_UI4, int64_t(static_cast<unsigned long>(value)));
        break;
      case QMS_VARIANT_DATE:
        // No date writes nothing: the column keeps what it holds.
        if (static_cast<long>(value) == 0) return;
        m_WorkDate.Set(static_cast<const char*>(value));
        out = adodb::Variant::I4(int32_t(m_WorkDate.GetJulian() - kJulianOfDayZero));
        break;
      case QMS_VARIANT_DATETIME: {
        if (static_cast<long>(value) == 0) return;
        m_WorkText = static_cast<const char*>(value);
        m_WorkDate.Set(static_cast<const char*>(m_WorkText));
        long days = m_WorkDate.GetJulian() - kJulianOfDayZero;
        double hours = 0, minutes = 0, seconds = 0;
        if (m_WorkText.Length() > 8) hours = NumberFrom(m_WorkText, 8);
        if (m_WorkText.Length() > 11) minutes = NumberFrom(m_WorkText, 11);
        if (m_WorkText.Length() > 14) seconds = NumberFrom(m_WorkText, 14);
        out = adodb::Variant::R8(adodb::OleDateFromDays(days, hours * 60 * 60 + minutes * 60 + seconds));
        break;
      }
      default:
        QmsRaise(QMS_SEVERE_INVALID_TYPE);
    }
    field->SetValue(out);
  });
}

void CQmsAdoTable::FillAllFieldValues(CQmsRecord& record) {
  Convention(QMS_ADO_SITE("FillAllFieldValues"), [&] {
    for (int i = 0; i < record.GetCount(); i++) Fill1FieldValue(record, i, i);
  });
}

void CQmsAdoTable::FillAllFieldValues(CQmsRecord& first, CQmsRecord& second) {
  Convention(QMS_ADO_SITE("FillAllFieldValues"), [&] {
    int n = first.GetCount();
    for (int i = 0; i < n; i++) Fill1FieldValue(first, i, i);
    for (int i = 0; i < second.GetCount(); i++) Fill1FieldValue(second, n + i, i);
  });
}

void CQmsAdoTable::SetAllFieldValues(const CQmsRecord& record) {
  Convention(QMS_ADO_SITE("SetAllFieldValues"), [&] {
    for (int i = 0; i < record.GetCount(); i++) Set1FieldValue(record, i, i);
  });
}

void CQmsAdoTable::SetAllFieldValues(const CQmsRecord& first, const CQmsRecord& second) {
  Convention(QMS_ADO_SITE("SetAllFieldValues"), [&] {
    int n = first.GetCount();
    for (int i = 0; i < n; i++) Set1FieldValue(first, i, i);
    for (int i = 0; i < second.GetCount(); i++) Set1FieldValue(second, n + i, i);
  });
}

void CQmsAdoTable::FillFieldValues(CQmsRecord& record) {
  Convention(QMS_ADO_SITE("FillFieldValues"), [&] {
    CQmsFieldMap map;
    map.UseRecords(record, m_FieldLayout);
    map.MapByNames();
    FillMappedRecord(map, record);
  });
}

void CQmsAdoTable::SetFieldValues(const CQmsRecord& record) {
  Convention(QMS_ADO_SITE("SetFieldValues"), [&] {
    CQmsFieldMap map;
    map.UseRecords(record, m_FieldLayout);
    map.MapByNames();
    SetMappedRecord(map, record);
  });
}

void CQmsAdoTable::FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) {
  Convention(QMS_ADO_SITE("FillMappedRecord"), [&] {
    QmsForEachMapping(map, [&](int inner, int outer) { Fill1FieldValue(record, outer, inner); });
  });
}

void CQmsAdoTable::SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) {
  Convention(QMS_ADO_SITE("SetMappedRecord"), [&] {
    QmsForEachMapping(map, [&](int inner, int outer) { Set1FieldValue(record, outer, inner); });
  });
}
