#include "tables/qtblftxt.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

#include "platform/env.h"
#include "tables/qfldmap.h"
#include "tables/qtbldtxt.h"

namespace {

constexpr const char* kClass = "CQmsFixedTextTable";
constexpr size_t kEmptyRecordBuffer = 8193;
// Longer records are damage, not layout.
constexpr int64_t kRecordLimit = int64_t(1) << 26;
constexpr const char* kDelimiterWords[] = {"comma", "space", "tab", "semicolon", "slash", "c", "t", "se", "sl"};

// A text right-aligned in width characters; cut when longer.
void PutRight(char* at, int width, const char* text) {
  size_t length = std::strlen(text);
  size_t n = length < size_t(width) ? length : size_t(width);
  std::memset(at, ' ', size_t(width));
  std::memcpy(at + (size_t(width) - n), text, n);
}

// A number right-aligned; asterisks when it does not fit.
void PutNumber(char* at, int width, const char* text) {
  if (std::strlen(text) > size_t(width)) {
    std::memset(at, '*', size_t(width));
  } else {
    PutRight(at, width, text);
  }
}

}  // namespace

// ---- construction ----

CQmsFixedTextTable::CQmsFixedTextTable() : CQmsTextTable(kClass, 0, 0) { m_Record.assign(kEmptyRecordBuffer, 0); }

CQmsFixedTextTable::CQmsFixedTextTable(const char* table) : CQmsFixedTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsFixedTextTable constructor"), [&] {
    if (table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    SetTableName(table);
  });
}

CQmsFixedTextTable::CQmsFixedTextTable(const char* database, const char* table, const char* formatFile)
    : CQmsFixedTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsFixedTextTable constructor"), [&] {
    if (database == nullptr || table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    SetDatabaseName(database);
    SetTableName(table);
    m_FormatFileName = formatFile != nullptr ? formatFile : "";
  });
}

CQmsFixedTextTable::CQmsFixedTextTable(const CQmsFixedTextTable& other) : CQmsFixedTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsFixedTextTable copy constructor"), [&] { *this = other; });
}

CQmsFixedTextTable& CQmsFixedTextTable::operator=(const CQmsFixedTextTable& other) {
  if (&other == this) return *this;
  QmsGuarded(QMS_TEXT_SITE("CopyTable"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    CopyTextTable(other);
    m_bDefinedFixed = other.m_bDefinedFixed;
    m_Offsets = other.m_Offsets;
    m_llRecordLength = other.m_llRecordLength;
    m_Record.assign(m_llRecordLength > 0 ? size_t(m_llRecordLength) + 1 : kEmptyRecordBuffer, 0);
  });
  return *this;
}

CQmsFixedTextTable::~CQmsFixedTextTable() {
  try {
    if (IsOpen()) Close();
  } catch (long) {
    QmsReport(QMS_WARN_DESTRUCTOR, QMS_SITE(kClass, "~CQmsFixedTextTable", ""));
  }
}

CQmsTable* CQmsFixedTextTable::Clone() const {
  return QmsGuarded(QMS_TEXT_SITE("Clone"), [&]() -> CQmsTable* {
    auto* copy = new (std::nothrow) CQmsFixedTextTable(*this);
    if (copy == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return copy;
  });
}

void CQmsFixedTextTable::FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) {
  capabilities = _QMS_TABLE_CAPABILITIES{1, 0, 0, 1, 1, 0, 0, 0, 1, "Fixed"};
}

void CQmsFixedTextTable::AssertFileOpen() const {
  if (!m_File.IsOpen()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
}

// ---- layout ----

CQmsTextTable::TypeAnswer CQmsFixedTextTable::ApplyType(const std::string& value, int lineNumber) {
  if (!value.empty() && platform::AsciiUpper(value[0]) == 'F') {
    m_bDefinedFixed = 1;
    return kTypeApplied;
  }
  for (const char* word : kDelimiterWords) {
    if (platform::AsciiEqualsIgnoreCase(value, word)) return kTypeFieldLine;
  }
  if (!value.empty() && CQmsDelimTextTable::IsDelimiterCharacter(value[0])) return kTypeFieldLine;
  QmsLog(QMS_WARN_VERIFICATION, kClass, "GetSwitch",
         QmsFormat("Unrecognized file type in line %d of fmt file: %s\n", lineNumber, value.c_str()), __FILE__,
         __LINE__);
  return kTypeRefused;
}

void CQmsFixedTextTable::ResetLayout() {
  m_bDefinedFixed = 0;
  m_llRecordLength = 0;
  m_Offsets.clear();
}

void CQmsFixedTextTable::ComputeLayout() {
  m_Offsets.clear();
  int64_t length = 0;
  for (int i = 0; i < m_Fields.GetCount(); i++) {
    m_Offsets.push_back(int(length));
    length += m_Fields.GetFieldWidthByHandle(i);
    if (length > kRecordLimit) QmsRaise(QMS_SEVERE_INVALID_RECORD);
  }
  if (length != 0) length += LineEndLength();
  m_llRecordLength = length;
  m_Record.assign(length > 0 ? size_t(length) + 1 : kEmptyRecordBuffer, 0);
}

int CQmsFixedTextTable::FormatFileValidate() {
  if (m_Fields.GetCount() == 0) return 0;
  ComputeLayout();
  return 1;
}

void CQmsFixedTextTable::BlankRecord() {
  if (m_llRecordLength <= 0) return;
  size_t length = size_t(m_llRecordLength);
  std::memset(m_Record.data(), ' ', length);
  const char* end = LineEndText();
  size_t n = std::strlen(end);
  std::memcpy(m_Record.data() + length - n, end, n);
  m_Record[length] = 0;
}

void CQmsFixedTextTable::ClearFields() {
  QmsGuarded(QMS_TEXT_SITE("ClearFields"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_Fields.Clear();
    m_llRecordLength = 0;
    m_Offsets.clear();
    m_Record.assign(kEmptyRecordBuffer, 0);
  });
}

void CQmsFixedTextTable::CreateFLN() {
  std::string line;
  if (m_bFirstLineNames == 1) {
    for (int i = 0; i < m_Fields.GetCount(); i++) {
      int width = m_Fields.GetFieldWidthByHandle(i);
      line += QmsFormat("%-*.*s", width, width, m_Fields.GetFieldName(i));
    }
    line += LineEndText();
  }
  m_NamesLine = line.c_str();
}

int64_t CQmsFixedTextTable::OffsetOf(unsigned long k) const {
  int64_t names = m_bNamesLinePresent ? 1 : 0;
  return (int64_t(k) - 1 + names) * m_llRecordLength + m_llAdjustment;
}

int64_t CQmsFixedTextTable::NamesLineLength() {
  if (m_iLineEnd == kLineEndNone) return m_llRecordLength;
  const char* end = LineEndText();
  const size_t endLength = std::strlen(end);
  // Each block is searched once, behind the last bytes of the one before
  // (a line end may straddle the two): a file without the line end is read
  // through once, not searched again from its start at every block.
  std::string window;
  char block[4096];
  int64_t at = 0;
  while (at < m_llFileSize) {
    uint32_t n = uint32_t(m_llFileSize - at < int64_t(sizeof block) ? m_llFileSize - at : int64_t(sizeof block));
    if (!m_File.ReadAt(at, block, n)) break;
    int64_t windowAt = at - int64_t(window.size());
    window.append(block, n);
    at += n;
    size_t found = window.find(end);
    if (found != std::string::npos) return windowAt + int64_t(found + endLength);
    window.erase(0, window.size() - std::min(window.size(), endLength - 1));
  }
  return m_llFileSize;
}

// ---- opening and closing ----

void CQmsFixedTextTable::Open() {
  QmsGuarded(QMS_TEXT_SITE("Open"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    std::string path = DataPath();
    m_llFileSize = FileSize64(platform::Env::Current().ResolveExisting(path).c_str());
    if (!m_File.Open(path.c_str(), m_bReadOnly == 1 ? QFile::kRead : QFile::kReadWrite)) {
      QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    }
    try {
      ReadFmtFile();
      CreateFLN();
      if (m_Fields.GetCount() == 0) QmsRaise(QMS_SEVERE_NO_FIELDS);
      m_llAdjustment = 0;
      m_ulPosition = 0;
      m_ulCount = 0;
      m_bAtBOF = m_bAtEOF = 1;
      m_bNamesLineWritten = 0;
      if (m_bNamesLinePresent && m_llFileSize <= 0) m_bNamesLinePresent = 0;
      if (m_llRecordLength > 0) {
        int64_t records = m_llFileSize;
        if (m_bNamesLinePresent) {
          // The names line need not be one record long: the records begin
          // after its line end.
          int64_t names = NamesLineLength();
          m_llAdjustment = names - m_llRecordLength;
          records = m_llFileSize > names ? m_llFileSize - names : 0;
          m_bNamesLineWritten = 1;
        }
        m_ulCount = static_cast<unsigned long>(records / m_llRecordLength);
      }
      if (m_ulCount > 0) {
        m_bAtBOF = m_bAtEOF = 0;
        MoveFirst();
      }
    } catch (long) {
      m_File.Close();
      throw;
    }
  });
}

void CQmsFixedTextTable::Close() {
  QmsGuarded(QMS_TEXT_SITE("Close"), [&] {
    m_Fields.Clear();
    m_ulPosition = 0;
    m_bAtBOF = m_bAtEOF = 1;
    if (m_File.IsOpen()) m_File.Close();
  });
}

void CQmsFixedTextTable::Create() {
  QmsGuarded(QMS_TEXT_SITE("Create"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (m_Fields.GetCount() > kFieldLimit) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    ComputeLayout();
    BlankRecord();
    // A table without its layout could not be read back.
    if (WriteFmtFile() != 1) QmsRaise(QMS_SEVERE_CREATE);
    CreateFLN();
    if (!m_File.Create(DataPath().c_str(), 0644, false)) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    m_llAdjustment = 0;
    m_ulPosition = m_ulCount = 0;
    m_llFileSize = 0;
    m_bNamesLinePresent = 0;
    m_bNamesLineWritten = 0;
    m_bReadOnly = 0;
    m_bExclusive = 1;
    m_bAtBOF = m_bAtEOF = 1;
  });
}

unsigned long CQmsFixedTextTable::GetCount() {
  return QmsGuarded(QMS_TEXT_SITE("GetCount"), [&]() -> unsigned long {
    return WhileOpen([&] { return m_ulCount; });
  });
}

// ---- reading records and moving ----

int CQmsFixedTextTable::CheckLine(const char* buffer) const {
  if (m_iLineEnd == kLineEndNone) return 0;
  int64_t length = m_llRecordLength;
  const char* end = LineEndText();
  int64_t n = int64_t(std::strlen(end));
  if (length >= n && std::memcmp(buffer + length - n, end, size_t(n)) == 0) return 0;
  for (int64_t i = 0; i < length; i++) {
    if (buffer[i] == '\r' || buffer[i] == '\n') {
      int64_t size = (buffer[i] == '\r' && i + 1 < length && buffer[i + 1] == '\n') ? 2 : 1;
      return int(length - i - size);
    }
  }
  return -1;
}

void CQmsFixedTextTable::ReadRecord() {
  std::string text;
  QmsGuardedText(kClass, "ReadRecord", text, __FILE__, __LINE__, [&] {
    uint32_t length = uint32_t(m_llRecordLength);
    int64_t n = m_File.Read(m_Record.data(), length, true);
    if (n == -1) {
      m_bAtEOF = 1;
      return;
    }
    m_File.Seek(-int64_t(length), QFile::kFromCurrent);
    if (n != int64_t(length)) {
      text = QmsFormat("The table: %s, could not be read from\n", DataPath().c_str());
      QmsRaise(QMS_SEVERE_READ_FILE);
    }
    m_Record[length] = 0;
    int short_by = CheckLine(m_Record.data());
    if (short_by == 0) return;
    text = short_by > 0 ? QmsFormat("Record Length is short by %d characters\n\n", short_by)
                        : std::string("Record Length exceeds that defined by the format file\n\n");
    text += QmsFormat("TableName: %s\n", QmsText(m_TableName));
    text += QmsFormat("Record Length Computed from format file: %d\n\n", int(length));
    text += QmsFormat("Record Number: %lu\n", m_ulPosition);
    if (short_by > 0) {
      text += "Record: " + std::string(m_Record.data(), size_t(int(length) - short_by)) + "\n\n";
    }
    QmsRaise(QMS_SEVERE_INVALID_RECORD);
  });
}

void CQmsFixedTextTable::ReadAt(unsigned long k) {
  m_ulPosition = k;
  if (!m_File.Seek(OffsetOf(k), QFile::kFromStart)) QmsRaise(QMS_SEVERE_READ_FILE);
  ReadRecord();
}

void CQmsFixedTextTable::MoveFirst() {
  QmsGuarded(QMS_TEXT_SITE("MoveFirst"), [&] {
    AssertFileOpen();
    if (m_ulCount == 0) return;
    m_bAtBOF = m_bAtEOF = 0;
    ReadAt(1);
  });
}

void CQmsFixedTextTable::MoveTo(unsigned long position) {
  QmsGuarded(QMS_TEXT_SITE("MoveTo"), [&] {
    AssertFileOpen();
    if (position < 1 || position > m_ulCount + 1) QmsRaise(QMS_SEVERE_RECORD_NUMBER);
    m_bAtBOF = m_bAtEOF = 0;
    ReadAt(position);
  });
}

void CQmsFixedTextTable::MoveBy(long count) {
  QmsGuarded(QMS_TEXT_SITE("MoveBy"), [&] {
    AssertFileOpen();
    long target = long(m_ulPosition) + count;
    if (count > 0 && target > long(m_ulCount)) {
      m_ulPosition = m_ulCount + 1;
      m_File.Seek(OffsetOf(m_ulPosition), QFile::kFromStart);
      m_bAtEOF = 1;
      return;
    }
    m_bAtEOF = 0;
    if (target < 1) {
      if (m_ulCount > 0) {
        MoveFirst();
        m_bAtBOF = 1;
      }
      return;
    }
    m_bAtBOF = 0;
    ReadAt(static_cast<unsigned long>(target));
  });
}

void CQmsFixedTextTable::MoveLast() {
  QmsGuarded(QMS_TEXT_SITE("MoveLast"), [&] {
    AssertFileOpen();
    if (m_ulCount == 0) return;
    m_bAtBOF = m_bAtEOF = 0;
    ReadAt(m_ulCount);
  });
}

QBOOL CQmsFixedTextTable::Seek(const char*, const char*) {
  return QmsGuarded(QMS_TEXT_SITE("Seek"), [&]() -> QBOOL {
    AssertFileOpen();
    QmsReport(QMS_WARN_UNIMPLEMENTED, QMS_SITE(kClass, "Seek on Index", "This method is not implemented"));
    return 0;
  });
}

QBOOL CQmsFixedTextTable::Seek(const char* operation, const CQmsRecord& key) {
  return QmsGuarded(QMS_TEXT_SITE("Seek"), [&]() -> QBOOL {
    AssertFileOpen();
    std::string text;
    for (int i = 0; i < key.GetCount(); i++) {
      if (m_Fields.GetFieldHandle(key.GetFieldName(i)) < 0) QmsRaise(QMS_SEVERE_SEEK_EMPTY);
      const char* value = *const_cast<CQmsRecord&>(key).GetFieldByHandle(i);
      int width = key.GetFieldWidthByHandle(i);
      const char* format = key.GetFieldTypeByHandle(i) == QMS_VARIANT_STRING ? "%-*.*s" : "%*.*s";
      text += QmsFormat(format, width, width, value != nullptr ? value : "");
    }
    return Seek(operation, text.c_str());
  });
}

// ---- values ----

void CQmsFixedTextTable::FillAllFieldValues(CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("FillAllFieldValues"), [&] {
    AssertFileOpen();
    int64_t data = m_llRecordLength - LineEndLength();
    int64_t at = 0;
    std::string piece;
    for (int i = 0; i < record.GetCount(); i++) {
      int width = record.GetFieldWidthByHandle(i);
      if (at + width > data) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
      piece.assign(m_Record.data() + at, size_t(width));
      at += width;
      SetFromText(record, i, i, Trim(piece.data(), record.GetFieldTrimmingByHandle(i)));
    }
  });
}

void CQmsFixedTextTable::FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("FillMappedRecord"), [&] {
    AssertFileOpen();
    std::string piece;
    QmsForEachMapping(map, [&](int field, int column) {
      if (column >= m_Fields.GetCount() || !record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
      piece.assign(m_Record.data() + m_Offsets[size_t(column)], size_t(m_Fields.GetFieldWidthByHandle(column)));
      SetFromText(record, field, column, Trim(piece.data(), record.GetFieldTrimmingByHandle(field)));
    });
  });
}

void CQmsFixedTextTable::PlaceValue(char* at, int width, QMS_VARIANT_TYPE type, int decimals, const char* picture,
                                    const CQmsVariant& source) {
  CQmsVariant value(source);
  if (value.GetType() != type) value.ChangeType(type);
  switch (type) {
    case QMS_VARIANT_FLOAT:
    case QMS_VARIANT_DOUBLE: {
      char text[400];
      auto result = std::to_chars(text, text + sizeof text - 1, static_cast<double>(value), std::chars_format::fixed,
                                  decimals);
      *(result.ec == std::errc() ? result.ptr : text) = 0;
      PutNumber(at, width, text);
      return;
    }
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_ULONG:
    case QMS_VARIANT_USHORT:
      PutNumber(at, width, static_cast<const char*>(value));
      return;
    case QMS_VARIANT_STRING: {
      const char* text = value;
      if (text == nullptr) text = "";
      size_t n = std::strlen(text);
      if (n > size_t(width)) n = size_t(width);
      std::memset(at, ' ', size_t(width));
      std::memcpy(at, text, n);
      return;
    }
    case QMS_VARIANT_DATE: {
      const char* date = value;
      if (QmsIsEmptyDate(date)) {
        std::memset(at, ' ', size_t(width));
        return;
      }
      m_Date.Set(date);
      const char* text = m_Date.Format(picture);
      PutRight(at, width, text != nullptr ? text : "");
      return;
    }
    default: {
      const char* text = value;
      PutRight(at, width, text != nullptr ? text : "");
      return;
    }
  }
}

void CQmsFixedTextTable::WriteNamesLine() {
  if (m_bFirstLineNames != 1 || m_bNamesLineWritten) return;
  // A names line only begins a file: one cannot be put before rows already
  // there.
  if (m_ulPosition == 1 && OffsetOf(1) == 0) {
    if (int64_t(m_NamesLine.Length()) != m_llRecordLength) QmsRaise(QMS_SEVERE_INVALID_RECORD);
    if (!m_File.Seek(0, QFile::kFromStart) || !m_File.Write(QmsText(m_NamesLine), uint32_t(m_NamesLine.Length()))) {
      QmsLog(QMS_SEVERE_DISK_FULL, kClass, "SetAllFieldValues",
             QmsFormat("The First Line Names for table: %s, could not be written\n", QmsText(m_TableName)), __FILE__,
             __LINE__);
      QmsRaise(QMS_SEVERE_WRITE_FILE);
    }
    AddNewRecord();
  }
  m_bNamesLineWritten = 1;
}

void CQmsFixedTextTable::SetAllFieldValues(const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("SetAllFieldValues"), [&] {
    AssertFileOpen();
    WriteNamesLine();
    int64_t data = m_llRecordLength - LineEndLength();
    int64_t at = 0;
    for (int i = 0; i < record.GetCount(); i++) {
      int width = record.GetFieldWidthByHandle(i);
      if (at + width > data) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
      PlaceValue(m_Record.data() + at, width, record.GetFieldTypeByHandle(i), record.GetFieldDecimalsByHandle(i),
                 record.GetDataPictureByHandle(i), *const_cast<CQmsRecord&>(record).GetFieldByHandle(i));
      at += width;
    }
  });
}

void CQmsFixedTextTable::SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("SetMappedRecord"), [&] {
    AssertFileOpen();
    WriteNamesLine();
    QmsForEachMapping(map, [&](int field, int column) {
      if (column >= m_Fields.GetCount() || !record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
      PlaceValue(m_Record.data() + m_Offsets[size_t(column)], m_Fields.GetFieldWidthByHandle(column),
                 m_Fields.GetFieldTypeByHandle(column), m_Fields.GetFieldDecimalsByHandle(column),
                 m_Fields.GetDataPictureByHandle(column), *const_cast<CQmsRecord&>(record).GetFieldByHandle(field));
    });
  });
}

// ---- writing records ----

QBOOL CQmsFixedTextTable::AddNewRecord() {
  return QmsGuarded(QMS_TEXT_SITE("AddNewRecord"), [&]() -> QBOOL {
    AssertFileOpen();
    m_ulCount++;
    m_ulPosition = m_ulCount;
    m_bAtBOF = m_bAtEOF = 0;
    BlankRecord();
    m_File.Seek(OffsetOf(m_ulPosition), QFile::kFromStart);
    return 1;
  });
}

void CQmsFixedTextTable::CommitRecord() {
  QmsGuarded(QMS_TEXT_SITE("CommitRecord"), [&] {
    AssertFileOpen();
    if (m_ulPosition < 1 || m_llRecordLength <= 0) QmsRaise(QMS_SEVERE_RECORD_NUMBER);
    if (!m_File.Seek(OffsetOf(m_ulPosition), QFile::kFromStart) ||
        !m_File.Write(m_Record.data(), uint32_t(m_llRecordLength))) {
      QmsLog(QMS_SEVERE_DISK_FULL, kClass, "CommitRecord",
             QmsFormat("The table: %s, could not be written\n", DataPath().c_str()), __FILE__, __LINE__);
      QmsRaise(QMS_SEVERE_COMMIT);
    }
    // The file stands at the start of its current record.
    m_File.Seek(OffsetOf(m_ulPosition), QFile::kFromStart);
  });
}
