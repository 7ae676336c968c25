// The ADO table: construction and copies, names and connect parameters,
// opening with the field layout, closing, moves and position, capabilities.
#include "tables/qtblado.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/qstring.h"
#include "tables/qlog.h"

namespace {

constexpr const char* kClass = "CQmsAdoTable";
constexpr const char* kForwardOnlyOption = "ForwardOnly='TRUE'";
constexpr const char* kDatePicture = "ccyymmdd";
constexpr const char* kDateTimePicture = "ccyymmddHH:MM:SS";

// Widths that hold every value of a column's type as text.
constexpr int kSmallIntWidth = 6;
constexpr int kIntegerWidth = 11;
constexpr int kUnsignedIntWidth = 10;
constexpr int kBigIntWidth = 20;
constexpr int kRealWidth = 20;
constexpr int kSingleDecimals = 6;
constexpr int kDoubleDecimals = 8;
constexpr int kLongTextWidth = 255;
constexpr int kConvertedTextWidth = 64;
constexpr int kLostWidth = 1;

// A real column as wide as its precision needs (sign and point included), at
// least kRealWidth.
int RealWidth(int precision) { return std::max(kRealWidth, precision + 2); }

void Warn(const char* format, const std::string& field) {
  QmsLog(QMS_WARN_UNSUPPORTED_TYPE, kClass, "Open", QmsFormat(format, field.c_str()), __FILE__, __LINE__);
}

// One layout field for a column of the given type.
void AddLayoutField(CQmsRecord& layout, const std::string& name, adodb::DataType type, int definedSize,
                    int precision) {
  const char* n = name.c_str();
  switch (type) {
    case adodb::kSmallInt:
    case adodb::kTinyInt:
    case adodb::kUnsignedTinyInt:
    case adodb::kUnsignedSmallInt:
      layout.Add(n, QMS_VARIANT_INT, kSmallIntWidth, 0);
      return;
    case adodb::kInteger:
      layout.Add(n, QMS_VARIANT_LONG, kIntegerWidth, 0);
      return;
    case adodb::kBigInt:
      layout.Add(n, QMS_VARIANT_LONG, kBigIntWidth, 0);
      return;
    case adodb::kUnsignedInt:
      layout.Add(n, QMS_VARIANT_ULONG, kUnsignedIntWidth, 0);
      return;
    case adodb::kUnsignedBigInt:
      layout.Add(n, QMS_VARIANT_ULONG, kBigIntWidth, 0);
      return;
    case adodb::kBoolean:
      layout.Add(n, QMS_VARIANT_BOOLEAN, definedSize, 0);
      return;
    case adodb::kSingle:
      layout.Add(n, QMS_VARIANT_FLOAT, RealWidth(precision), kSingleDecimals);
      return;
    case adodb::kDouble:
      layout.Add(n, QMS_VARIANT_DOUBLE, RealWidth(precision), kDoubleDecimals);
      return;
    case adodb::kDBDate:
      layout.Add(n, QMS_VARIANT_DATE, kDatePicture, 8);
      return;
    case adodb::kDate:
    case adodb::kDBTimeStamp:
      layout.Add(n, QMS_VARIANT_DATETIME, kDateTimePicture, 16);
      return;
    case adodb::kBSTR:
    case adodb::kChar:
    case adodb::kWChar:
    case adodb::kVarChar:
    case adodb::kVarWChar:
      layout.Add(n, QMS_VARIANT_STRING, definedSize, 0);
      return;
    case adodb::kLongVarChar:
    case adodb::kLongVarWChar:
      Warn("Field '%s' is of a potentially unsupported datatype.\nIf you wish to continue, the data in this "
           "field will be\ntruncated to a string of width 255.\n\n",
           name);
      layout.Add(n, QMS_VARIANT_STRING, kLongTextWidth, 0);
      return;
    case adodb::kEmptyType:
    case adodb::kCurrency:
    case adodb::kErrorType:
    case adodb::kDecimal:
    case adodb::kFileTime:
    case adodb::kGuid:
    case adodb::kNumeric:
    case adodb::kDBTime:
      Warn("Field '%s' is of a potentially unsupported datatype.\nIf you wish to continue, an attempt will be "
           "made to convert\nthe data into a string representation with a width of 64.\n\n",
           name);
      layout.Add(n, QMS_VARIANT_STRING, kConvertedTextWidth, 0);
      return;
    default:
      Warn("Field '%s' is of a potentially unsupported datatype.\nIf you wish to continue, the data in this "
           "field will be lost.\n\n",
           name);
      layout.Add(n, QMS_VARIANT_STRING, kLostWidth, 0);
      return;
  }
}

}  // namespace

bool CQmsAdoTable::Contains(const CQmsStringPtr& text, const char* word) {
  const char* p = text;
  return p != nullptr && std::strstr(p, word) != nullptr;
}

bool CQmsAdoTable::EndsWithDollar(const CQmsStringPtr& text) {
  unsigned long n = text.Length();
  return n > 0 && static_cast<const char*>(text)[n - 1] == '$';
}

// ---- construction ----

CQmsAdoTable::CQmsAdoTable() : m_pComWrap(new CAdoComWrap) {}

CQmsAdoTable::CQmsAdoTable(const char* database, const char* table, const char* connectParams)
    : CQmsAdoTable() {
  SetDatabaseName(database);
  SetTableName(table);
  SetConnectParams(connectParams);
}

CQmsAdoTable::CQmsAdoTable(const char* table, const char* connectParams) : CQmsAdoTable() {
  SetTableName(table);
  SetConnectParams(connectParams);
}

CQmsAdoTable::CQmsAdoTable(const CQmsAdoTable& other) : CQmsAdoTable() { CopyTable(other); }

CQmsAdoTable& CQmsAdoTable::operator=(const CQmsAdoTable& other) {
  CopyTable(other);
  return *this;
}

CQmsAdoTable::~CQmsAdoTable() {
  try {
    Close();
  } catch (...) {
    QmsLog(QMS_WARN_DESTRUCTOR, kClass, "~CQmsAdoTable", "CQmsAdoTable destructor ignored an error.", __FILE__,
           __LINE__);
  }
  delete m_pComWrap;
  m_pComWrap = nullptr;
  adodb::Uninitialize();
}

void CQmsAdoTable::CopyTable(const CQmsAdoTable& other) {
  if (&other == this) return;
  Convention(QMS_ADO_SITE("CopyTable"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_OPEN);
    m_FieldLayout = other.m_FieldLayout;
    // A name the other table never had stays unset here too.
    m_ConnectParams = other.m_ConnectParams;
    m_DatabaseName = other.m_DatabaseName;
    m_TableName = other.m_TableName;
    m_bForwardOnly = other.m_bForwardOnly;
    m_bReadOnly = other.m_bReadOnly;
    m_bExclusive = other.m_bExclusive;
  });
}

CQmsTable* CQmsAdoTable::Clone() const {
  return Convention(QMS_ADO_SITE("Clone"), [&]() -> CQmsTable* {
    auto* copy = new (std::nothrow) CQmsAdoTable(*this);
    if (copy == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return copy;
  });
}

// ---- names ----

void CQmsAdoTable::SetConnectParams(const char* params) {
  Convention(QMS_ADO_SITE("SetConnectParams"), [&] {
    if (params == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_ConnectParams = params;
  });
}

void CQmsAdoTable::SetTableName(const char* name) {
  Convention(QMS_ADO_SITE("SetTableName"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_TableName = name;
  });
}

void CQmsAdoTable::SetDatabaseName(const char* name) {
  Convention(QMS_ADO_SITE("SetDatabaseName"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_DatabaseName = name;
  });
}

CQmsStringPtr CQmsAdoTable::ConnectString() {
  const char* params = m_ConnectParams;
  if (params != nullptr) {
    const char* option = std::strstr(params, kForwardOnlyOption);
    if (option != nullptr) {
      m_bForwardOnly = 1;
      m_ConnectParams = std::string(params, size_t(option - params)).c_str();
    }
  }
  CQmsStringPtr result = QmsText(m_ConnectParams);
  if (m_DatabaseName.Length() > 0 && !Contains(m_ConnectParams, "Data Source=")) {
    result.Append(";Data Source='");
    result.Append(m_DatabaseName);
    result.Append("';");
  }
  return result;
}

// ---- field layout ----

void CQmsAdoTable::ClearFields() {
  Convention(QMS_ADO_SITE("ClearFields"), [&] { m_FieldLayout.Clear(); });
}

void CQmsAdoTable::DefineFields(const CQmsRecord& record) {
  Convention(QMS_ADO_SITE("DefineFields"), [&] {
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    m_FieldLayout.Add(record);
  });
}

long CQmsAdoTable::GetFields(CQmsRecord& record) const {
  return Convention(QMS_ADO_SITE("GetFields"), [&]() -> long {
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    record = m_FieldLayout;
    return m_FieldLayout.GetCount();
  });
}

long CQmsAdoTable::GetFieldCount() const { return m_FieldLayout.GetCount(); }

// ---- opening and closing ----

void CQmsAdoTable::Open() {
  Convention(QMS_ADO_SITE("Open"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_OPEN);
    CQmsStringPtr name = m_TableName;
    if (Contains(m_ConnectParams, "Excel")) {
      if (!name) QmsRaise(QMS_SEVERE);
      // A worksheet is opened under its name followed by '$'.
      if (!EndsWithDollar(name)) name.Append("$");
    }
    std::string source = QmsFormat("[%s]", QmsText(name));
    adodb::Recordset* records = Records();
    // The connection string first: it may switch the cursor to forward-only.
    CQmsStringPtr connection = ConnectString();
    records->Open(adodb::Variant::Text(source), adodb::Variant::Text(QmsText(connection)),
                  m_bForwardOnly ? adodb::kForwardOnly : adodb::kKeyset,
                  m_bReadOnly ? adodb::kLockReadOnly : adodb::kLockOptimistic, adodb::kCommandTable);
    m_pComWrap->m_pFields = records->GetFields();

    m_FieldLayout.Clear();
    auto nullable = CatalogNullable(QmsText(name));
    adodb::Fields* fields = FieldsOf();
    for (int i = 0; i < fields->Count(); i++) {
      adodb::Ref<adodb::Field> field = fields->Item(adodb::Variant::I2(int16_t(i)));
      std::string fieldName = field->Name();
      AddLayoutField(m_FieldLayout, fieldName, field->Type(), field->DefinedSize(), field->Precision());
      QBOOL flag = 1;
      for (const auto& entry : nullable) {
        if (entry.first == fieldName) {
          flag = entry.second;
          break;
        }
      }
      m_FieldLayout.SetFieldNullableByHandle(i, flag);
    }
    if (!AtEOF() && !AtBOF()) MoveFirst();
  });
}

void CQmsAdoTable::OpenOrdered(const char* order) {
  Convention(QMS_ADO_SITE("OpenOrdered"), [&] {
    Records()->SetCursorLocation(adodb::kClientCursor);
    Open();
    Records()->SetSort(order != nullptr ? order : "");
  });
}

void CQmsAdoTable::Close() {
  Convention(QMS_ADO_SITE("Close"), [&] {
    m_FieldLayout.Clear();
    if (IsOpen()) Records()->Close();
    m_lPosition = -1;
  });
}

QBOOL CQmsAdoTable::IsOpen() {
  return Convention(QMS_ADO_SITE("IsOpen"), [&]() -> QBOOL {
    if (m_pComWrap == nullptr || !m_pComWrap->m_pRecordset) return 0;
    return Records()->State() == adodb::kStateOpen;
  });
}

// ---- records ----

QBOOL CQmsAdoTable::AddNewRecord() {
  return Convention(QMS_ADO_SITE("AddNewRecord"), [&]() -> QBOOL {
    Records()->AddNew();
    m_lPosition++;
    return 1;
  });
}

void CQmsAdoTable::CommitRecord() {
  Convention(QMS_ADO_SITE("CommitRecord"), [&] { Records()->Update(); });
}

void CQmsAdoTable::DeleteRecord() {
  Convention(QMS_ADO_SITE("DeleteRecord"), [&] {
    Records()->Delete(adodb::kAffectCurrent);
    Records()->Update();
    m_lPosition--;
  });
}

// ---- moves and position ----

QBOOL CQmsAdoTable::AtBOF() {
  return Convention(QMS_ADO_SITE("AtBOF"), [&]() -> QBOOL {
    if (!IsOpen()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    return Records()->IsBOF() ? 1 : 0;
  });
}

QBOOL CQmsAdoTable::AtEOF() {
  return Convention(QMS_ADO_SITE("AtEOF"), [&]() -> QBOOL { return Records()->IsEOF() ? 1 : 0; });
}

unsigned long CQmsAdoTable::GetCount() {
  return Convention(QMS_ADO_SITE("GetCount"), [&]() -> unsigned long {
    // A provider that cannot count answers -1, read as 4294967295.
    return static_cast<unsigned long>(static_cast<uint32_t>(Records()->RecordCount()));
  });
}

unsigned long CQmsAdoTable::GetPosition() const {
  return Convention(QMS_ADO_SITE("GetPosition"), [&]() -> unsigned long {
    int32_t position = Records()->AbsolutePosition();
    if (position == adodb::kPositionUnknown) return static_cast<unsigned long>(uint32_t(m_lPosition + 1));
    // The record set counts from 1 as MoveTo does.
    if (position == adodb::kPositionBOF) return 0;
    if (position == adodb::kPositionEOF) return static_cast<unsigned long>(uint32_t(Records()->RecordCount() + 1));
    return static_cast<unsigned long>(position);
  });
}

void CQmsAdoTable::MoveTo(unsigned long position) {
  Convention(QMS_ADO_SITE("MoveTo"), [&] {
    Records()->Move(int32_t(position) - 1, adodb::Variant::I2(adodb::kBookmarkFirst));
    m_lPosition = int32_t(position) - 1;
  });
}

void CQmsAdoTable::MoveBy(long count) {
  Convention(QMS_ADO_SITE("MoveBy"), [&] {
    if (count == 1) {
      Records()->MoveNext();
    } else {
      Records()->Move(int32_t(count), adodb::Variant::I2(adodb::kBookmarkCurrent));
    }
    m_lPosition += int32_t(count);
  });
}

void CQmsAdoTable::MoveFirst() {
  Convention(QMS_ADO_SITE("MoveFirst"), [&] {
    Records()->MoveFirst();
    m_lPosition = 0;
  });
}

void CQmsAdoTable::MoveLast() {
  Convention(QMS_ADO_SITE("MoveLast"), [&] {
    Records()->MoveLast();
    m_lPosition = -1;
  });
}

QBOOL CQmsAdoTable::Seek(const char*, const char*) {
  QmsLog(QMS_WARN_UNIMPLEMENTED, kClass, "Seek", "This method is not implemented", __FILE__, __LINE__);
  return 0;
}

QBOOL CQmsAdoTable::Seek(const char*, const CQmsRecord&) {
  QmsLog(QMS_WARN_UNIMPLEMENTED, kClass, "Seek", "This method is not implemented", __FILE__, __LINE__);
  return 0;
}

void CQmsAdoTable::Dump(unsigned char) {
  QmsLog(QMS_WARN_UNIMPLEMENTED, kClass, "Dump", "This function is not implemented", __FILE__, __LINE__);
}

// ---- capabilities ----

void CQmsAdoTable::FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) {
  Convention(QMS_ADO_SITE("FillCapabilities"), [&] {
    if (m_ConnectParams.Length() == 0) QmsRaise(QMS_WARN_CONNECT_PARAMS);
    bool server = Contains(m_ConnectParams, "sqloledb");
    bool jet = Contains(m_ConnectParams, "Jet");
    bool spreadsheet = jet && Contains(m_ConnectParams, "Excel");
    bool file = jet && !spreadsheet;
    if (int(server) + int(spreadsheet) + int(file) != 1) QmsRaise(QMS_WARN_CONNECT_PARAMS);
    bool forwardOnly = m_bForwardOnly == 1 || Contains(m_ConnectParams, kForwardOnlyOption);
    _QMS_TABLE_CAPABILITIES c{};
    c.bLocalFile = server ? 0 : 1;
    c.bIndexes = 0;
    c.bDelete = 1;
    c.bUpdate = 1;
    c.bAppend = spreadsheet ? 0 : 1;
    c.bServer = server ? 1 : 0;
    c.bQuery = 1;
    c.bForwardOnly = forwardOnly ? 1 : 0;
    c.bRandomAccess = forwardOnly ? 0 : 1;
    StrCopySized(c.szKind, server ? "SQLServer" : (spreadsheet ? "Excel" : "Access"), sizeof c.szKind);
    capabilities = c;
  });
}
