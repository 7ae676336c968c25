// The xBase table: its shared engine context, names, opening and closing,
// field definitions and type mapping, flags and dump.
#include "tables/qtablefr.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/env.h"
#include "tables/qlog.h"
#include "xbase/xbase.h"

namespace {

constexpr const char* kClass = "CQmsFolioRackTable";
constexpr const char* kDatePicture = "ccyymmdd";
constexpr const char* kDateTimePicture = "ccyymmddHH:MM:SS";
// Column letters of the record field types 0-12.
constexpr const char* kColumnTypes = "0LCFFNNCNNNDT";
// Widths that hold every value of a binary column as text.
constexpr int kIntegerTextWidth = 11;
constexpr int kDoubleTextWidth = 20;
// Numeric columns from this width on are held as doubles: a 32-bit LONG
// would wrap.
constexpr int kLongDigitsLimit = 10;
constexpr int kCurrencyTextWidth = 64;
constexpr int kDumpPadLimit = 100;

bool EndsWithSeparator(const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  return n > 0 && (text[n - 1] == '/' || text[n - 1] == '\\');
}

}  // namespace

Code4* CQmsFolioRackTable::m_pCode4 = nullptr;
int CQmsFolioRackTable::m_iCode4Users = 0;
long CQmsFolioRackTable::m_lmemSizeSortPool = -1;
long CQmsFolioRackTable::m_lmemSizeSortBuffer = -1;
long CQmsFolioRackTable::m_lmemStartMax = -1;
QBOOL CQmsFolioRackTable::m_bSupportDateTime = 0;
QBOOL CQmsFolioRackTable::m_bLargeFile = 0;

// ---- the shared engine context ----

void CQmsFolioRackTable::InitCode4() {
  m_iCode4Users++;
  if (m_pCode4 != nullptr) return;
  auto* c4 = new (std::nothrow) Code4;
  if (c4 == nullptr || c4->init() != 0) {
    delete c4;
    m_iCode4Users--;
    QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  }
  if (m_bSupportDateTime == 1) c4->compatibility = k4dialectFox;
  c4->accessMode = 1;
  c4->autoOpen = 0;
  c4->reportOpenFailure = 0;
  if (m_lmemSizeSortPool > 0) c4->memSizeSortPool = m_lmemSizeSortPool;
  if (m_lmemSizeSortBuffer > 0) c4->memSizeSortBuffer = m_lmemSizeSortBuffer;
  if (m_lmemStartMax > 0) c4->memStartMax = m_lmemStartMax;
  c4->lockEnforce = 0;
  code4optAll(c4);
  code4optStart(c4);
  m_pCode4 = c4;
}

void CQmsFolioRackTable::InitFolioRack() {
  InitCode4();
  m_bJoined = true;
  m_ppData = new (std::nothrow) DATA4*(nullptr);
  m_pFieldInfo = new (std::nothrow) Field4info(*m_pCode4);
  if (m_ppData == nullptr || m_pFieldInfo == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  m_DatabaseName = "";
}

Code4* CQmsFolioRackTable::GetCode4() {
  m_iCode4Users++;
  return m_pCode4;
}

void CQmsFolioRackTable::ReleaseCode4() {
  if (m_iCode4Users <= 0) return;
  m_iCode4Users--;
  if (m_iCode4Users > 0 || m_pCode4 == nullptr) return;
  code4closeAll(m_pCode4);
  if (m_pCode4->initialisedFlag) m_pCode4->initUndo();
  delete m_pCode4;
  m_pCode4 = nullptr;
}

int CQmsFolioRackTable::TakeEngineError() {
  if (m_pCode4 == nullptr) return 0;
  return error4set(m_pCode4, 0);
}

void CQmsFolioRackTable::QuietReset() {
  CODE4* c4 = m_pCode4;
  if (c4 == nullptr) return;
  c4->autoOpen = 0;
  c4->accessMode = 1;
  c4->offError = 1;
  c4->reportOpenFailure = 0;
  c4->exclusive = 0;
  c4->lockEnforce = 0;
  c4->readLock = c4->lockDelay = c4->fileFlush = c4->safety = 0;
  c4->optimize = c4->optimizeWrite = c4->unlockAuto = 0;
  c4->lockAttempts = c4->lockAttemptsSingle = 1;
}

CQmsFolioRackTable::Quiet::Quiet() {
  if (m_pCode4) m_pCode4->offError = 1;
}

CQmsFolioRackTable::Quiet::~Quiet() {
  if (m_pCode4) m_pCode4->offError = 0;
}

void CQmsFolioRackTable::SetLargeFile() {
  QmsGuarded(QMS_SITE(kClass, "SetLargeFile", ""), [&] {
    if (m_bLargeFile || m_pCode4 == nullptr) return;
    {
      Quiet quiet;
      code4largeOn(m_pCode4);
    }
    TakeEngineError();
    m_bLargeFile = 1;
  });
}

// ---- construction ----

CQmsFolioRackTable::CQmsFolioRackTable() : m_KeyText(1000L) {
  QmsGuarded(QMS_SITE(kClass, "CQmsFolioRackTable constructor", ""), [&] {
    try {
      InitFolioRack();
    } catch (long) {
      // The destructor does not run for a constructor that fails.
      Release();
      throw;
    }
  });
}

// The constructors below delegate: once the default constructor is done, a
// failure in their bodies runs the destructor.
CQmsFolioRackTable::CQmsFolioRackTable(const char* table) : CQmsFolioRackTable() {
  QmsGuarded(QMS_SITE(kClass, "CQmsFolioRackTable constructor", ""), [&] {
    if (table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    SetTableName(table);
  });
}

CQmsFolioRackTable::CQmsFolioRackTable(const char* database, const char* table) : CQmsFolioRackTable() {
  QmsGuarded(QMS_SITE(kClass, "CQmsFolioRackTable constructor", ""), [&] {
    if (database == nullptr || table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    std::string joined = table;
    if (database[0] != 0) {
      joined = EndsWithSeparator(database) ? QmsFormat("%s%s", database, table) : QmsFormat("%s/%s", database, table);
    }
    SetTableName(joined.c_str());
  });
}

CQmsFolioRackTable::CQmsFolioRackTable(const CQmsFolioRackTable& other) : CQmsFolioRackTable() {
  QmsGuarded(QMS_SITE(kClass, "CQmsFolioRackTable copy constructor", ""), [&] {
    if (other.m_TableName.Length() > 0) SetTableName(other.m_TableName);
    m_DatabaseName = other.m_DatabaseName;
    m_DefinitionRecord = other.m_DefinitionRecord;
  });
}

CQmsFolioRackTable& CQmsFolioRackTable::operator=(const CQmsFolioRackTable& other) {
  if (&other == this) return *this;
  QmsGuarded(QMS_SITE(kClass, "operator=", ""), [&] {
    if (IsOpen()) CloseData();
    m_DatabaseName = other.m_DatabaseName;
    m_TableName = other.m_TableName;
    m_DefinitionRecord = other.m_DefinitionRecord;
  });
  return *this;
}

CQmsFolioRackTable::~CQmsFolioRackTable() {
  // A destructor that throws would end the program: a failure is logged.
  try {
    QmsGuarded(QMS_SITE(kClass, "CQmsFolioRackTable destructor", ""), [&] {
      m_DatabaseName = nullptr;
      m_TableName = nullptr;
      if (m_ppData != nullptr && *m_ppData != nullptr) CloseData();
    });
  } catch (long) {
  }
  Release();
}

void CQmsFolioRackTable::Release() {
  delete m_pFieldInfo;
  m_pFieldInfo = nullptr;
  delete[] m_pFields;
  m_pFields = nullptr;
  m_iFieldCount = 0;
  delete m_ppRelate;
  m_ppRelate = nullptr;
  delete m_ppData;
  m_ppData = nullptr;
  if (m_bJoined) {
    m_bJoined = false;
    ReleaseCode4();
  }
}

CQmsTable* CQmsFolioRackTable::Clone() const {
  return QmsGuarded(QMS_SITE(kClass, "Clone", ""), [&]() -> CQmsTable* {
    auto* copy = new (std::nothrow) CQmsFolioRackTable(*this);
    if (copy == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return copy;
  });
}

// ---- names ----

void CQmsFolioRackTable::ConstructTableFileName(CQmsStringPtr& fileName) {
  if (m_TableName.Length() == 0) QmsRaise(QMS_SEVERE_NO_NAME);
  std::string joined = QmsText(m_DatabaseName);
  if (!joined.empty() && !EndsWithSeparator(joined.c_str())) joined += '/';
  joined += QmsText(m_TableName);
  CQmsStringPtr folder, name, extension;
  GetPathParts(joined.c_str(), folder, name, extension);
  if (folder.Length() > 0) m_DatabaseName = folder;
  fileName = (std::string(QmsText(folder)) + QmsText(name) + QmsText(extension)).c_str();
}

void CQmsFolioRackTable::ConstructIndexFileName(CQmsStringPtr& fileName) {
  if (m_TableName.Length() == 0) QmsRaise(QMS_SEVERE_NO_NAME);
  std::string joined = QmsText(m_DatabaseName);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += QmsText(m_TableName);
  fileName = joined.c_str();
}

void CQmsFolioRackTable::SetTableName(const char* name) {
  std::string text;
  QmsGuardedText(kClass, "SetTableName", text, __FILE__, __LINE__, [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    if (*m_ppData != nullptr) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    CQmsStringPtr folder, base, extension;
    GetPathParts(name, folder, base, extension);
    if (extension.Length() > 0 && !platform::AsciiEqualsIgnoreCase(QmsText(extension), ".dbf")) {
      text = QmsFormat("If an extension is used it should be '.dbf': %s\n", name);
      QmsRaise(QMS_SEVERE_EXTENSION);
    }
    if (folder.Length() > 0) m_DatabaseName = folder;
    std::string table = std::string(QmsText(base)) + QmsText(extension);
    m_TableName = table.c_str();
  });
}

void CQmsFolioRackTable::SetDatabaseName(const char* name) {
  QmsGuarded(QMS_SITE(kClass, "SetDatabaseName", ""), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    if (*m_ppData != nullptr) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_DatabaseName = name;
  });
}

// ---- opening and closing ----

DATA4* CQmsFolioRackTable::OpenData() const {
  if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
  if (*m_ppData == nullptr) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
  return *m_ppData;
}

void CQmsFolioRackTable::RefuseOrdered() const {
  if (m_ppRelate != nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
}

DATA4* CQmsFolioRackTable::OpenQuietly(int* code) {
  CQmsStringPtr file;
  ConstructTableFileName(file);
  DATA4* data;
  {
    Quiet quiet;
    // A reason left from an earlier report must not pass for this one's.
    m_pCode4->errorText[0] = '\0';
    data = d4open(m_pCode4, file);
  }
  *code = TakeEngineError();
  return data;
}

CQmsFolioRackTable::TemporaryData::TemporaryData(CQmsFolioRackTable& table) {
  if (table.m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
  data = *table.m_ppData;
  if (data != nullptr) return;
  int code = 0;
  data = table.OpenQuietly(&code);
  if (data == nullptr) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
  opened_ = true;
}

CQmsFolioRackTable::TemporaryData::~TemporaryData() {
  if (!opened_) return;
  Quiet quiet;
  d4close(data);
  TakeEngineError();
}

int CQmsFolioRackTable::CloseData() {
  Quiet quiet;
  if (m_ppRelate != nullptr) {
    relate4free(*m_ppRelate, 0);
    delete m_ppRelate;
    m_ppRelate = nullptr;
  }
  delete[] m_pFields;
  m_pFields = nullptr;
  m_iFieldCount = 0;
  int rc = 0;
  if (m_ppData != nullptr && *m_ppData != nullptr) {
    rc = d4close(*m_ppData);
    *m_ppData = nullptr;
  }
  int code = TakeEngineError();
  if (rc < 0) QmsRaise(code == e4write || rc == e4write ? QMS_SEVERE_WRITE_FILE : QMS_SEVERE_CLOSE);
  return rc;
}

void CQmsFolioRackTable::OpenAndReport() {
  if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
  if (*m_ppData != nullptr) QmsRaise(QMS_SEVERE_TABLE_OPEN);
  int reportOpen = m_pCode4->reportOpenFailure;
  int code = 0;
  m_OpenFailure = "";
  *m_ppData = OpenQuietly(&code);
  CQmsStringPtr file;
  ConstructTableFileName(file);
  if (*m_ppData == nullptr)
    m_OpenFailure = *error4lastText(m_pCode4) != '\0' ? error4lastText(m_pCode4)
                    : code < 0                          ? error4text(code)
                                                        : "the file cannot be opened";
  std::string text = QmsFormat("The table: %s, could not be opened: %s\n", QmsText(file),
                               QmsText(m_OpenFailure));
  if (code == r4noOpen) {
    QmsLog(QMS_SEVERE_NOT_READY, kClass, "Open", text, __FILE__, __LINE__);
  } else if (reportOpen ? code < 0 : code != 0) {
    QmsLog(QMS_SEVERE_TABLE_CLOSED, kClass, "Open", text, __FILE__, __LINE__);
  }
}

template <class Body>
void CQmsFolioRackTable::ClosedOnFailure(Body&& body) {
  try {
    body();
  } catch (long) {
    // A failed open leaves the table closed (CloseData also ends an
    // ordered read).
    try {
      CloseData();
    } catch (long) {
    }
    throw;
  }
}

void CQmsFolioRackTable::Open() {
  QmsGuarded(QMS_SITE(kClass, "Open", ""), [&] {
    OpenAndReport();
    ClosedOnFailure([&] {
      MoveFirst();
      BuildField4Objects();
    });
  });
}

void CQmsFolioRackTable::OpenOrdered(const char* order) {
  QmsGuarded(QMS_SITE(kClass, "OpenOrdered", ""), [&] {
    if (order == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    OpenAndReport();
    ClosedOnFailure([&] {
      m_ppRelate = new (std::nothrow) RELATE4*(nullptr);
      if (m_ppRelate == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
      *m_ppRelate = relate4init(*m_ppData);
      TakeEngineError();
      if (*m_ppRelate != nullptr) {
        // A sort order the engine refuses would hand out the records in
        // file order as if they were sorted.
        if (relate4sortSet(*m_ppRelate, order) != 0) {
          TakeEngineError();
          QmsRaise(QMS_SEVERE_OPEN);
        }
        relate4skipEnable(*m_ppRelate, 1);
      }
      MoveFirst();
      BuildField4Objects();
      code4optStart(m_pCode4);
    });
  });
}

void CQmsFolioRackTable::Close() {
  QmsGuarded(QMS_SITE(kClass, "Close", ""), [&] {
    if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    if (*m_ppData == nullptr) return;
    CloseData();
  });
}

QBOOL CQmsFolioRackTable::IsOpen() { return m_ppData != nullptr && *m_ppData != nullptr; }

void CQmsFolioRackTable::BuildField4Objects() {
  DATA4* data = OpenData();
  delete m_pFieldInfo;
  m_pFieldInfo = new (std::nothrow) Field4info(Data4(data));
  if (m_pFieldInfo == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  TakeEngineError();
  delete[] m_pFields;
  m_pFields = nullptr;
  m_iFieldCount = 0;
  int n = m_pFieldInfo->numFields();
  if (n <= 0) QmsRaise(QMS_SEVERE_NO_FIELDS);
  m_pFields = new (std::nothrow) Field4[size_t(n)];
  if (m_pFields == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  for (int j = 0; j < n; j++) m_pFields[j].init(d4fieldJ(data, j + 1));
  m_iFieldCount = n;
}

// ---- field definitions ----

bool CQmsFolioRackTable::FieldExists(const char* name) const {
  if (m_pFieldInfo == nullptr || name == nullptr) return false;
  auto* info = const_cast<Field4info*>(m_pFieldInfo);
  for (int i = 0; i < info->numFields(); i++) {
    if (platform::AsciiEqualsIgnoreCase((*info)[i]->name, name)) return true;
  }
  return false;
}

void CQmsFolioRackTable::ClearFields() {
  QmsGuarded(QMS_SITE(kClass, "ClearFields", ""), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (m_pFieldInfo == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    m_pFieldInfo->free();
    m_DefinitionRecord.Clear();
  });
}

void CQmsFolioRackTable::DefineFields(const CQmsRecord& record) {
  std::string text;
  QmsGuardedText(kClass, "DefineFields", text, __FILE__, __LINE__, [&] {
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (m_pFieldInfo == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    for (int i = 0; i < record.GetCount(); i++) {
      const char* name = record.GetFieldName(i);
      int width = record.GetFieldWidthByHandle(i);
      int decimals = record.GetFieldDecimalsByHandle(i);
      QMS_VARIANT_TYPE type = record.GetFieldTypeByHandle(i);
      if (std::strlen(name) > size_t(kFieldNameLimit)) QmsRaise(QMS_SEVERE_FIELD_NAME_LENGTH);
      if (FieldExists(name)) QmsRaise(QMS_SEVERE_FIELD_EXISTS);
      if (decimals < 0) QmsRaise(QMS_SEVERE_BAD_INPUT);
      if (type == QMS_VARIANT_DATETIME && m_bSupportDateTime == 0) {
        QmsLog(QMS_WARN_UNSUPPORTED_TYPE, kClass, "DefineFields",
               QmsFormat("Field '%s' is a DateTime field. DateTime is not supported in the \n"
                         "output table. It is being converted to Date.\n\n",
                         name),
               __FILE__, __LINE__);
        type = QMS_VARIANT_DATE;
      }
      if (type < QMS_VARIANT_BOOLEAN || type > QMS_VARIANT_DATETIME) QmsRaise(QMS_SEVERE_INVALID_TYPE);
      if (decimals != 0 && decimals >= width - 2) width = width == 0 ? decimals + 8 : decimals + width;
      if (m_pFieldInfo->add(name, kColumnTypes[type], width, decimals, 0) != 0) {
        TakeEngineError();
        QmsRaise(QMS_SEVERE_FIELD_NOT_ADDED);
      }
      long handle;
      if (type == QMS_VARIANT_DATE) {
        handle = m_DefinitionRecord.Add(name, type, kDatePicture, width);
      } else if (type == QMS_VARIANT_DATETIME) {
        handle = m_DefinitionRecord.Add(name, type, kDateTimePicture, width);
      } else {
        handle = m_DefinitionRecord.Add(name, type, width, decimals);
      }
      m_DefinitionRecord.SetFieldTrimmingByHandle(int(handle), record.GetFieldTrimmingByHandle(i));
    }
  });
}

void CQmsFolioRackTable::Create() {
  QmsGuarded(QMS_SITE(kClass, "Create", ""), [&] {
    if (m_ppData == nullptr || m_pFieldInfo == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    if (*m_ppData != nullptr) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (m_pFieldInfo->numFields() == 0) QmsRaise(QMS_SEVERE_NO_FIELDS);
    CQmsStringPtr file;
    ConstructTableFileName(file);
    DATA4* data = d4create(m_pCode4, file, m_pFieldInfo->fields(), nullptr);
    int code = TakeEngineError();
    if (code == e4data) {
      if (data != nullptr) d4close(data);
      QuietReset();
      TakeEngineError();
      QmsRaise(QMS_SEVERE_INVALID_TABLE);
    }
    if (code != 0 || data == nullptr) {
      if (data != nullptr) d4close(data);
      TakeEngineError();
      QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    }
    *m_ppData = data;
    BuildField4Objects();
  });
}

namespace {

// The record field of one column (name, type letter, width, decimals).
void AddColumnField(CQmsRecord& record, const FIELD4INFO& column, QBOOL supportDateTime) {
  const char* name = column.name;
  int width = column.len;
  int decimals = column.dec;
  switch (column.type) {
    case 'C':
      record.Add(name, width);
      return;
    case 'D':
      record.Add(name, QMS_VARIANT_DATE, kDatePicture, width);
      return;
    case 'F':
    case 'N':
      if (decimals == 0 && column.type == 'N' && width < kLongDigitsLimit) {
        record.Add(name, QMS_VARIANT_LONG, width, 0);
      } else {
        record.Add(name, QMS_VARIANT_DOUBLE, width, decimals);
      }
      return;
    case 'I':
      record.Add(name, QMS_VARIANT_INT, kIntegerTextWidth, 0);
      return;
    case 'L':
      record.Add(name, QMS_VARIANT_BOOLEAN, width, 0);
      return;
    case 'B':
      if (decimals != 0) {
        record.Add(name, QMS_VARIANT_DOUBLE, kDoubleTextWidth, decimals);
        return;
      }
      break;
    case 'T':
      if (supportDateTime == 1) {
        record.Add(name, QMS_VARIANT_DATETIME, kDateTimePicture, 16);
      } else {
        record.Add(name, QMS_VARIANT_DATE, kDatePicture, width);
      }
      return;
    case 'Y':
      QmsLog(QMS_WARN_UNSUPPORTED_TYPE, kClass, "Open",
             QmsFormat("Field '%s' is of a potentially unsupported datatype.\nIf you wish to continue, an attempt "
                       "will be made to convert the data to a string representation.\n\n",
                       name),
             __FILE__, __LINE__);
      record.Add(name, kCurrencyTextWidth);
      return;
    default:
      break;
  }
  QmsLog(QMS_WARN_UNSUPPORTED_TYPE, kClass, "Open",
         QmsFormat("Field '%s' is of a potentially unsupported datatype.\nIf you wish to continue, the data in "
                   "this field will be lost.\n\n",
                   name),
         __FILE__, __LINE__);
  record.Add(name, 0);
}

}  // namespace

long CQmsFolioRackTable::GetFields(CQmsRecord& record) const {
  return QmsGuarded(QMS_SITE(kClass, "GetFields", ""), [&] {
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    OpenData();
    record.Clear();
    int n = m_pFieldInfo != nullptr ? m_pFieldInfo->numFields() : 0;
    auto* info = const_cast<Field4info*>(m_pFieldInfo);
    for (int j = 0; j < n; j++) {
      AddColumnField(record, *(*info)[j], m_bSupportDateTime);
      if (j < m_DefinitionRecord.GetCount()) {
        record.SetFieldTrimmingByHandle(j, m_DefinitionRecord.GetFieldTrimmingByHandle(j));
      }
    }
    return long(n);
  });
}

long CQmsFolioRackTable::GetFieldCount() const { return m_pFieldInfo != nullptr ? m_pFieldInfo->numFields() : 0; }

// ---- flags ----

QBOOL CQmsFolioRackTable::GetExclusive() { return m_pCode4 != nullptr && m_pCode4->accessMode == 1; }

void CQmsFolioRackTable::SetExclusive(QBOOL on) {
  if (m_pCode4 == nullptr) return;
  m_pCode4->accessMode = on == 1;
  m_pCode4->exclusive = on == 1;
}

QBOOL CQmsFolioRackTable::GetReadOnly() { return m_pCode4 != nullptr && m_pCode4->readOnly == 1; }

void CQmsFolioRackTable::SetReadOnly(QBOOL on) {
  if (m_pCode4 != nullptr) m_pCode4->readOnly = on == 1;
}

void CQmsFolioRackTable::FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) {
  capabilities = _QMS_TABLE_CAPABILITIES{1, 1, 1, 1, 1, 0, 0, 0, 1, "FolioRack"};
}

// ---- dump ----

void CQmsFolioRackTable::Dump(unsigned char verbose) {
  QmsGuarded(QMS_SITE(kClass, "Dump", ""), [&] {
    WhileOpen([&] {
      if (verbose == 1) {
        PutDumpData("\nCQmsFolioRackTable:\n\n");
        PutDumpData("   Database Name: %s\n", QmsText(m_DatabaseName));
        PutDumpData("   Table Name:    %s\n\n", QmsText(m_TableName));
        std::string heading = "   ";
        for (int j = 0; j < m_iFieldCount; j++) {
          const char* name = m_pFields[j].name();
          heading += name;
          int pad = int(m_pFields[j].len()) - int(std::strlen(name));
          if (pad > kDumpPadLimit) pad = kDumpPadLimit;
          if (pad > 0) heading.append(size_t(pad), ' ');
        }
        heading += "\n";
        PutDumpMessage(heading.c_str());
      }
      MoveFirst();
      while (!AtEOF()) {
        std::string line = "   ";
        for (int j = 0; j < m_iFieldCount; j++) {
          const char* value = m_pFields[j].str();
          line += value ? value : "";
        }
        line += "\n";
        PutDumpMessage(line.c_str());
        MoveBy(1);
      }
    });
  });
}
