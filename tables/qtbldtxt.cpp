#include "tables/qtbldtxt.h"

#include <charconv>
#include <cstring>
#include <new>

#include "base/qfile.h"
#include "platform/env.h"
#include "tables/qfldmap.h"

namespace {

constexpr const char* kClass = "CQmsDelimTextTable";
constexpr size_t kWorkStart = 5120;
constexpr size_t kWorkMargin = 256;

bool IsQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

// ---- construction ----

CQmsDelimTextTable::CQmsDelimTextTable() : CQmsTextTable(kClass, 1, 1) { Initialize(""); }

CQmsDelimTextTable::CQmsDelimTextTable(const char* table) : CQmsDelimTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsDelimTextTable constructor"), [&] {
    if (table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    SetTableName(table);
  });
}

CQmsDelimTextTable::CQmsDelimTextTable(const char* database, const char* table, const char* formatFile)
    : CQmsDelimTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsDelimTextTable constructor"), [&] {
    if (database == nullptr || table == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    SetDatabaseName(database);
    SetTableName(table);
    Initialize(formatFile);
  });
}

CQmsDelimTextTable::CQmsDelimTextTable(const CQmsDelimTextTable& other) : CQmsDelimTextTable() {
  QmsGuarded(QMS_TEXT_SITE("CQmsDelimTextTable copy constructor"), [&] { *this = other; });
}

CQmsDelimTextTable& CQmsDelimTextTable::operator=(const CQmsDelimTextTable& other) {
  if (&other == this) return *this;
  QmsGuarded(QMS_TEXT_SITE("CopyTable"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    CopyTextTable(other);
    m_bOutputValidation = other.m_bOutputValidation;
    m_cDelimiter = other.m_cDelimiter;
    m_cQualifier = other.m_cQualifier;
    m_Line.clear();
  });
  return *this;
}

CQmsDelimTextTable::~CQmsDelimTextTable() {
  try {
    if (IsOpen()) Close();
  } catch (long) {
    QmsReport(QMS_WARN_DESTRUCTOR, QMS_SITE(kClass, "~CQmsDelimTextTable", ""));
  }
}

void CQmsDelimTextTable::Initialize(const char* formatFile) {
  m_Work.assign(kWorkStart, 0);
  m_FormatFileName = formatFile != nullptr ? formatFile : "";
}

CQmsTable* CQmsDelimTextTable::Clone() const {
  return QmsGuarded(QMS_TEXT_SITE("Clone"), [&]() -> CQmsTable* {
    auto* copy = new (std::nothrow) CQmsDelimTextTable(*this);
    if (copy == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    return copy;
  });
}

// ---- settings ----

bool CQmsDelimTextTable::IsDelimiterCharacter(char c) {
  if (c == 0 || platform::AsciiIsAlpha(c) || platform::AsciiIsDigit(c)) return false;
  return std::strchr(" \".-+_\n\r\f", c) == nullptr;
}

void CQmsDelimTextTable::SetDelimiter(const char* text) {
  QmsGuarded(QMS_TEXT_SITE("SetDelimiter"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (text == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    char first = platform::AsciiLower(text[0]);
    char second = first != 0 ? platform::AsciiLower(text[1]) : 0;
    switch (first) {
      case 'c':
        m_cDelimiter = ',';
        return;
      case 't':
        m_cDelimiter = '\t';
        return;
      case 's':
        if (second == 'e') m_cDelimiter = ';';
        if (second == 'l') m_cDelimiter = '/';
        return;
      case 'f':
        QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
      default:
        if (!IsDelimiterCharacter(text[0])) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
        m_cDelimiter = text[0];
    }
  });
}

void CQmsDelimTextTable::SetQualifier(char qualifier) {
  QmsGuarded(QMS_TEXT_SITE("SetQualifier"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (qualifier != 0 && qualifier != '\'' && qualifier != '"') QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    m_cQualifier = qualifier;
  });
}

CQmsTextTable::TypeAnswer CQmsDelimTextTable::ApplyType(const std::string& value, int) {
  SetDelimiter(value.c_str());
  return kTypeApplied;
}

std::string CQmsDelimTextTable::TypeLine() const {
  return QmsFormat("TYPE=%c\n", m_cDelimiter == '\t' ? 't' : m_cDelimiter);
}

void CQmsDelimTextTable::AssertFileOpen() const {
  if (!m_File.IsOpen()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
}

void CQmsDelimTextTable::FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) {
  capabilities = _QMS_TABLE_CAPABILITIES{1, 0, 0, 0, 1, 0, 0, 1, 0, "Delimited"};
}

// ---- opening and closing ----

void CQmsDelimTextTable::ClearFields() {
  QmsGuarded(QMS_TEXT_SITE("ClearFields"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_Fields.Clear();
  });
}

void CQmsDelimTextTable::Open() {
  QmsGuarded(QMS_TEXT_SITE("Open"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    std::string path = DataPath();
    m_llFileSize = FileSize64(platform::Env::Current().ResolveExisting(path).c_str());
    ReadFmtFile();
    CreateFLN();
    if (!m_File.Open(path, m_bReadOnly != 1)) {
      QmsLog(QMS_SEVERE_OPEN_FILE, kClass, "Open",
             QmsFormat("Could not open : %s (may have read only permissions)\n", path.c_str()), __FILE__, __LINE__);
      QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    }
    if (m_Fields.GetCount() == 0) {
      m_File.Close();
      QmsRaise(QMS_SEVERE_NO_FIELDS);
    }
    // An empty file has no names line yet: the first write adds it.
    if (m_bNamesLinePresent && m_File.Size() == 0) m_bNamesLinePresent = 0;
    m_bNamesLineWritten = m_bNamesLinePresent;
    m_ulPosition = 0;
    m_bAtBOF = m_bAtEOF = 1;
    if (m_ulCount > 0) {
      m_bAtBOF = m_bAtEOF = 0;
      MoveTo(1);
    }
  });
}

void CQmsDelimTextTable::Close() {
  QmsGuarded(QMS_TEXT_SITE("Close"), [&] {
    m_Line.clear();
    bool written = true;
    if (m_File.IsOpen()) written = m_File.Close();
    m_Fields.Clear();
    m_ulPosition = 0;
    m_bAtBOF = m_bAtEOF = 1;
    if (!written) QmsRaise(QMS_SEVERE_WRITE_FILE);
  });
}

void CQmsDelimTextTable::Create() {
  QmsGuarded(QMS_TEXT_SITE("Create"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    std::string path = DataPath();
    if (!m_File.Create(path)) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    m_ulPosition = m_ulCount = 0;
    m_llFileSize = 0;
    m_bAtBOF = m_bAtEOF = 1;
    if (WriteFmtFile() != 1) {
      // A table without its layout could not be read back.
      m_File.Close();
      platform::Env::Current().Remove(path);
      QmsRaise(QMS_SEVERE_CREATE);
    }
    m_bNamesLinePresent = m_bFirstLineNames == 1;
    m_bNamesLineWritten = 0;
    CreateFLN();
  });
}

void CQmsDelimTextTable::CreateFLN() {
  std::string line;
  if (m_bFirstLineNames == 1) {
    int n = m_Fields.GetCount();
    for (int i = 0; i < n; i++) {
      if (m_cQualifier != 0) line += m_cQualifier;
      line += m_Fields.GetFieldName(i);
      if (m_cQualifier != 0) line += m_cQualifier;
      if (i + 1 < n) line += m_cDelimiter;
    }
    line += LineEndText();
  }
  m_NamesLine = line.c_str();
}

// ---- reading lines and moving ----

bool CQmsDelimTextTable::ReadRecord() {
  for (;;) {
    if (!m_File.ReadLine(m_Next)) {
      m_bAtEOF = 1;
      return false;
    }
    // An empty line is skipped: the rows after it still belong to the table.
    if (m_Next.empty()) continue;
    m_Line.swap(m_Next);
    m_ulPosition++;
    return true;
  }
}

void CQmsDelimTextTable::MoveFirst() {
  QmsGuarded(QMS_TEXT_SITE("MoveFirst"), [&] {
    AssertFileOpen();
    m_bAtBOF = m_bAtEOF = 0;
    m_File.Rewind();
    m_ulPosition = 0;
    if (m_bNamesLinePresent) m_File.ReadLine(m_Next);
    if (!ReadRecord()) m_ulCount = 0;
  });
}

void CQmsDelimTextTable::MoveTo(unsigned long position) {
  QmsGuarded(QMS_TEXT_SITE("MoveTo"), [&] {
    AssertFileOpen();
    m_bAtBOF = m_bAtEOF = 0;
    if (position < 1) {
      // Before the first record, as a move back past it leaves the table.
      m_File.Rewind();
      m_ulPosition = 0;
      m_bAtBOF = 1;
      return;
    }
    if (m_ulPosition == 0 || position < m_ulPosition) MoveFirst();
    while (m_ulPosition < position && !m_bAtEOF) ReadRecord();
  });
}

void CQmsDelimTextTable::MoveBy(long count) {
  QmsGuarded(QMS_TEXT_SITE("MoveBy"), [&] {
    AssertFileOpen();
    long target = long(m_ulPosition) + count;
    if (target < 1) {
      m_ulPosition = 0;
      m_bAtBOF = 1;
      m_File.Rewind();
    } else if (target == 1) {
      MoveFirst();
    } else {
      MoveTo(static_cast<unsigned long>(target));
    }
  });
}

void CQmsDelimTextTable::MoveLast() {
  QmsGuarded(QMS_TEXT_SITE("MoveLast"), [&] {
    AssertFileOpen();
    if (m_ulCount > 0) {
      MoveTo(m_ulCount);
      return;
    }
    if (m_ulPosition == 0) MoveFirst();
    while (!m_bAtEOF) ReadRecord();
    m_ulCount = m_ulPosition;
    // Positioned on the last record, whose line stays the current one.
    if (m_ulCount > 0) m_bAtEOF = 0;
  });
}

void CQmsDelimTextTable::CountRecords() {
  unsigned long kept = m_ulPosition;
  MoveLast();
  if (kept > 0) MoveTo(kept);
}

unsigned long CQmsDelimTextTable::GetCount() {
  return QmsGuarded(QMS_TEXT_SITE("GetCount"), [&]() -> unsigned long {
    return WhileOpen([&] {
      if (m_ulCount == 0) {
        if (m_ulPosition == 0) MoveFirst();
        unsigned long kept = m_ulPosition;
        MoveLast();
        MoveTo(kept);
      }
      return m_ulCount;
    });
  });
}

QBOOL CQmsDelimTextTable::Seek(const char*, const char*) {
  ReportNotImplemented("Seek");
  return 0;
}

QBOOL CQmsDelimTextTable::Seek(const char*, const CQmsRecord&) {
  ReportNotImplemented("Seek");
  return 0;
}

// ---- splitting ----

void CQmsDelimTextTable::SplitLine(const std::string& line) {
  if (m_Work.size() < line.size() + 1) m_Work.resize(line.size() + kWorkMargin);
  std::memcpy(m_Work.data(), line.data(), line.size());
  m_Work[line.size()] = 0;
  m_Cursor = 0;
}

char* CQmsDelimTextTable::GetNextField() {
  char* text = m_Work.data();
  size_t p = m_Cursor;
  int tabs = 0;
  // Before a field.
  for (;;) {
    char c = text[p];
    if (c == m_cDelimiter && c != 0) {
      text[p] = 0;
      m_Cursor = p + 1;
      return text + p;
    }
    if (c == 0) {
      m_Cursor = p;
      return tabs > 0 ? text + p : nullptr;
    }
    if (c == '\t') {
      tabs++;
      p++;
      continue;
    }
    break;
  }
  char c = text[p];
  if (!IsQuote(c)) {
    if (tabs > 0) {
      // A leading TAB separates a field of its own.
      m_Cursor = p;
      static char empty[1] = {0};
      return empty;
    }
    size_t start = p;
    while (text[p] != 0 && text[p] != m_cDelimiter) p++;
    if (text[p] != 0) {
      text[p] = 0;
      m_Cursor = p + 1;
    } else {
      m_Cursor = p;
    }
    return text + start;
  }
  const char quote = c;
  size_t start = ++p;
  size_t mark = 0;
  enum { kQuoted, kAfterQuote, kDoubled } state = kQuoted;
  for (;;) {
    char d = text[p];
    switch (state) {
      case kQuoted:
        if (d == 0) {
          m_Cursor = p;
          return text + start;
        }
        if (d == quote) {
          state = kAfterQuote;
          mark = p;
        }
        p++;
        break;
      case kAfterQuote:
        if (d == quote) {
          state = kDoubled;
          mark = p;
          p++;
          break;
        }
        if (d == 0 || d == m_cDelimiter) {
          text[mark] = 0;
          m_Cursor = d == 0 ? p : p + 1;
          return text + start;
        }
        p++;  // text after the closing quote is dropped
        break;
      case kDoubled:
        if (d == quote) {
          state = kAfterQuote;
          mark = p;
          p++;
          break;
        }
        if (d == 0) {
          text[mark] = 0;
          m_Cursor = p;
          return text + start;
        }
        p++;
        break;
    }
  }
}

// ---- reading values ----

void CQmsDelimTextTable::FillAllFieldValues(CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("FillAllFieldValues"), [&] {
    AssertFileOpen();
    SplitLine(m_Line);
    for (int i = 0; i < record.GetCount(); i++) {
      char* text = Trim(GetNextField(), record.GetFieldTrimmingByHandle(i));
      SetFromText(record, i, i, text);
    }
  });
}

void CQmsDelimTextTable::FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("FillMappedRecord"), [&] {
    AssertFileOpen();
    SplitLine(m_Line);
    m_Targets.assign(size_t(map.GetCount()) + 1, -1);
    std::string piece;
    for (int j = 0; j < m_Fields.GetCount(); j++) {
      const char* text = GetNextField();
      map.ConvertOuterToInnerFlds(j, m_Targets.data());
      for (size_t t = 0; t < m_Targets.size() && m_Targets[t] >= 0; t++) {
        int field = m_Targets[t];
        if (!record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
        if (text != nullptr && m_Fields.GetFieldTypeByHandle(j) == QMS_VARIANT_STRING) {
          piece = text;
          SetFromText(record, field, j, Trim(piece.data(), record.GetFieldTrimmingByHandle(field)));
        } else {
          SetFromText(record, field, j, text);
        }
      }
    }
  });
}

// ---- writing ----

void CQmsDelimTextTable::AppendValue(std::string& line, const CQmsRecord& record, int field) {
  CQmsVariant* value = const_cast<CQmsRecord&>(record).GetFieldByHandle(field);
  if (value == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
  switch (value->GetType()) {
    case QMS_VARIANT_DATE: {
      const char* date = *value;
      const char* text = "";
      if (!QmsIsEmptyDate(date)) {
        m_Date.Set(date);
        text = m_Date.Format(record.GetDataPictureByHandle(field));
      }
      if (m_cQualifier != 0) line += m_cQualifier;
      line += text != nullptr ? text : "";
      if (m_cQualifier != 0) line += m_cQualifier;
      return;
    }
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_DATETIME: {
      const char* text = *value;
      if (m_cQualifier != 0) line += m_cQualifier;
      line += text != nullptr ? text : "";
      if (m_cQualifier != 0) line += m_cQualifier;
      return;
    }
    case QMS_VARIANT_FLOAT:
    case QMS_VARIANT_DOUBLE: {
      char text[400];
      double number = static_cast<double>(*value);
      auto result = std::to_chars(text, text + sizeof text, number, std::chars_format::fixed,
                                  record.GetFieldDecimalsByHandle(field));
      line.append(text, result.ec == std::errc() ? result.ptr : text);
      return;
    }
    default: {
      const char* text = *value;
      line += text != nullptr ? text : "";
      return;
    }
  }
}

void CQmsDelimTextTable::ValidateDelimitedFields(const std::string& line) {
  if (line.empty()) return;
  int expected = m_Fields.GetCount();
  SplitLine(line);
  int found = 0;
  while (found <= expected && GetNextField() != nullptr) found++;
  if (found == expected - 1 && line.back() == m_cDelimiter) found = expected;
  if (found == expected) return;
  std::string text = QmsFormat("Expected %d fields and found %d\n", expected, found);
  text += QmsFormat("Found in line %lu in file: %s\n", m_ulPosition, QmsText(m_TableName));
  text += QmsFormat("Line: %s\n", line.c_str());
  bool first = (m_bNamesLinePresent && m_ulPosition == 1) || (!m_bNamesLinePresent && m_ulPosition == 2);
  QmsLog(first ? QMS_WARN_FIELD_COUNTS_DIFFER : QMS_WARN_FIELD_COUNT, kClass, "ValidateDelimitedFields", text,
         __FILE__, __LINE__);
}

void CQmsDelimTextTable::WriteLine(std::string& line) {
  if (m_bFirstLineNames == 1 && !m_bNamesLineWritten) {
    if (m_NamesLine.Length() == 0) QmsRaise(QMS_SEVERE_INVALID_RECORD);
    if (!m_File.Append(QmsText(m_NamesLine), m_NamesLine.Length())) QmsRaise(QMS_SEVERE_WRITE_FILE);
    m_bNamesLineWritten = 1;
    m_bNamesLinePresent = 1;
  }
  if (m_bOutputValidation == 1) ValidateDelimitedFields(line);
  line += LineEndText();
  if (!m_File.Append(line)) QmsRaise(QMS_SEVERE_WRITE_FILE);
}

QBOOL CQmsDelimTextTable::AddNewRecord() {
  return QmsGuarded(QMS_TEXT_SITE("AddNewRecord"), [&]() -> QBOOL {
    AssertFileOpen();
    // The count of a file not yet counted must include its rows.
    if (m_ulCount == 0 && m_File.Size() > 0) CountRecords();
    m_ulCount++;
    m_ulPosition = m_ulCount;
    m_bAtBOF = m_bAtEOF = 0;
    return 1;
  });
}

void CQmsDelimTextTable::SetAllFieldValues(const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("SetAllFieldValues"), [&] {
    AssertFileOpen();
    m_Out.clear();
    for (int i = 0; i < record.GetCount(); i++) {
      if (i > 0) m_Out += m_cDelimiter;
      AppendValue(m_Out, record, i);
    }
    WriteLine(m_Out);
  });
}

void CQmsDelimTextTable::SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("SetMappedRecord"), [&] {
    AssertFileOpen();
    m_Out.clear();
    for (int j = 0; j < m_Fields.GetCount(); j++) {
      if (j > 0) m_Out += m_cDelimiter;
      int field = map.ConvertOuterToInnerFld(j);
      if (field < 0) {
        if (m_cQualifier != 0) m_Out.append(2, m_cQualifier);
        continue;
      }
      if (!record.ValidHandle(field)) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
      AppendValue(m_Out, record, field);
    }
    WriteLine(m_Out);
  });
}
