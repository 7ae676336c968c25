// The text tables' shared slots and their format file.
#include "tables/qtbltext.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "tables/qfldmap.h"
#include "tables/qtblfile.h"
#include "tables/qtextfile.h"

namespace {

constexpr const char* kDefaultPicture = "ccyymmdd";
constexpr int kPadLimit = 40;
constexpr int kDumpPadLimit = 99;
// Widths beyond this are damage, not layout.
constexpr long kWidthLimit = 1000000;

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) begin++;
  while (end > begin && IsBlank(text[end - 1])) end--;
  return text.substr(begin, end - begin);
}

// Leading digits as atoi reads them (a sign allowed); false for a negative
// number or one beyond the width limit.
bool ReadWhole(const std::string& text, int* value) {
  long n = std::atol(text.c_str());
  if (n < 0 || n > kWidthLimit) return false;
  *value = int(n);
  return true;
}

struct Token {
  std::string text;
  size_t at;
};

std::vector<Token> Tokens(const std::string& line) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n')) i++;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\n') i++;
    if (i > start) tokens.push_back(Token{line.substr(start, i - start), start});
  }
  return tokens;
}

const char* TypeWord(QMS_VARIANT_TYPE type) {
  switch (type) {
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_CHAR:
    case QMS_VARIANT_BOOLEAN:
    case QMS_VARIANT_DATETIME:
      return "Character";
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_INT:
    case QMS_VARIANT_ULONG:
    case QMS_VARIANT_USHORT:
      return "Numeric";
    case QMS_VARIANT_DATE:
      return "Date";
    default:
      return nullptr;
  }
}

void PadTo(std::string& line, size_t column) {
  if (line.size() >= column) return;
  size_t pad = column - line.size();
  line.append(pad > size_t(kPadLimit) ? size_t(kPadLimit) : pad, ' ');
}

}  // namespace

CQmsTextTable::CQmsTextTable(const char* className, QBOOL readOnly, QBOOL firstLineNames)
    : m_szClass(className), m_bReadOnly(readOnly), m_bFirstLineNames(firstLineNames) {
  m_DatabaseName = "";
  m_TableName = "";
  m_DatePicture = "";
  m_FormatFileName = "";
  m_NamesLine = "";
}

CQmsTextTable::~CQmsTextTable() = default;

void CQmsTextTable::CopyTextTable(const CQmsTextTable& other) {
  m_Fields = other.m_Fields;
  m_DatabaseName = other.m_DatabaseName;
  m_TableName = other.m_TableName;
  m_FormatFileName = other.m_FormatFileName;
  m_DatePicture = other.m_DatePicture;
  m_bReadOnly = other.m_bReadOnly;
  m_bExclusive = other.m_bExclusive;
  m_llFileSize = other.m_llFileSize;
  m_bNamesLinePresent = other.m_bNamesLinePresent;
  m_bFirstLineNames = other.m_bFirstLineNames;
  m_iLineEnd = other.m_iLineEnd;
}

// ---- names and files ----

std::string CQmsTextTable::ConstructTableFileName(const char* extension) const {
  if (m_TableName.Length() == 0) QmsRaise(QMS_SEVERE_NO_NAME);
  std::string path = QmsText(m_DatabaseName);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += QmsText(m_TableName);
  if (extension != nullptr && platform::AsciiEqualsIgnoreCase(extension, ".fmt")) {
    if (path.size() >= 4 && path[path.size() - 4] == '.') {
      path.replace(path.size() - 4, 4, ".fmt");
    } else {
      path += ".fmt";
    }
  }
  return path;
}

std::string CQmsTextTable::FormatFilePath() const {
  if (m_FormatFileName.Length() > 0) return QmsText(m_FormatFileName);
  return ConstructTableFileName(".fmt");
}

void CQmsTextTable::SetTableName(const char* name) {
  QmsGuarded(QMS_TEXT_SITE("SetTableName"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (FileIsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_TableName = name;
    // The format file follows the table's name from now on.
    m_FormatFileName = "";
    m_ulCount = 0;
  });
}

void CQmsTextTable::SetDatabaseName(const char* name) {
  QmsGuarded(QMS_TEXT_SITE("SetDatabaseName"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (FileIsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_DatabaseName = name;
    m_ulCount = 0;
  });
}

QBOOL CQmsTextTable::Exists() {
  return QmsGuarded(QMS_TEXT_SITE("Exists"), [&]() -> QBOOL { return qtblfile::Exists(DataPath()); });
}

void CQmsTextTable::Destroy() {
  QmsGuarded(QMS_TEXT_SITE("Destroy"), [&] {
    std::string path = DataPath();
    if (!qtblfile::Exists(path)) return;
    if (FileIsOpen()) Close();
    if (!qtblfile::Remove(path)) QmsRaise(QMS_SEVERE_REMOVE);
    qtblfile::Remove(FormatFilePath());
  });
}

void CQmsTextTable::RenameTable(const char* name) {
  std::string text;
  QmsGuardedText(m_szClass, "RenameTable", text, __FILE__, __LINE__, [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (FileIsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    CQmsStringPtr folder, base, extension;
    GetPathParts(name, folder, base, extension);
    std::string newName = std::string(QmsText(base)) + QmsText(extension);
    if (extension.Length() == 0) {
      CQmsStringPtr oldFolder, oldBase, oldExtension;
      GetPathParts(m_TableName, oldFolder, oldBase, oldExtension);
      newName += QmsText(oldExtension);
    }
    // The table stays in its folder under the new name.
    CQmsStringPtr tableFolder, tableBase, tableExtension;
    GetPathParts(m_TableName, tableFolder, tableBase, tableExtension);
    newName = std::string(QmsText(tableFolder)) + newName;
    std::string from = DataPath();
    std::string oldFormat = FormatFilePath();
    CQmsStringPtr kept = m_TableName;
    CQmsStringPtr keptFormat = m_FormatFileName;
    m_TableName = newName.c_str();
    std::string to = DataPath();
    if (!qtblfile::Rename(from, to)) {
      m_TableName = kept;
      text = QmsFormat("Unable to rename table '%s' to '%s'\n", from.c_str(), to.c_str());
      QmsRaise(QMS_SEVERE_RENAME);
    }
    m_TableName = kept;
    m_FormatFileName = keptFormat;
    SetTableName(newName.c_str());
    qtblfile::Rename(oldFormat, FormatFilePath());
  });
}

// ---- fields ----

void CQmsTextTable::DefineFields(const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("DefineFields"), [&] {
    if (FileIsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    if (m_Fields.GetCount() + record.GetCount() > kFieldLimit) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
    m_Fields.Add(record);
  });
}

long CQmsTextTable::GetFields(CQmsRecord& record) const {
  return QmsGuarded(QMS_TEXT_SITE("GetFields"), [&] {
    if (!record.IsValid()) QmsRaise(QMS_SEVERE_INVALID_OBJECT);
    record = m_Fields;
    return long(m_Fields.GetCount());
  });
}

void CQmsTextTable::AddField(const char* name, QMS_VARIANT_TYPE type, int width, int decimals) {
  if (m_Fields.GetCount() >= kFieldLimit) QmsRaise(QMS_SEVERE_INVALID_FIELD_MAP);
  if (type == QMS_VARIANT_DATE) {
    const char* picture = m_DatePicture.Length() > 0 ? QmsText(m_DatePicture) : kDefaultPicture;
    m_Fields.Add(name, type, picture, width);
  } else if (type == QMS_VARIANT_STRING) {
    m_Fields.Add(name, width);
  } else {
    m_Fields.Add(name, type, width, decimals);
  }
}

// ---- the format file ----

CQmsTextTable::TypeAnswer CQmsTextTable::GetSwitch(const std::string& line, int lineNumber) {
  size_t equals = line.find('=');
  std::string key = Trimmed(line.substr(0, equals));
  std::string value = Trimmed(line.substr(equals + 1));
  char first = platform::AsciiUpper(value.empty() ? '\0' : value[0]);
  if (platform::AsciiEqualsIgnoreCase(key, "TYPE")) return ApplyType(value, lineNumber);
  if (platform::AsciiEqualsIgnoreCase(key, "EOL")) {
    m_iLineEnd = first == 'L' ? kLineEndLF : first == 'N' ? kLineEndNone : first == 'R' ? kLineEndReturn : kLineEndCRLF;
    return kTypeApplied;
  }
  if (platform::AsciiEqualsIgnoreCase(key, "FLN")) {
    m_bFirstLineNames = m_bNamesLinePresent = first == 'Y';
    return kTypeApplied;
  }
  return kTypeRefused;
}

int CQmsTextTable::ReadFmtFile() {
  std::string message;
  return QmsGuardedText(m_szClass, "ReadFmtFile", message, __FILE__, __LINE__, [&] {
    std::string path = FormatFilePath();
    if (!qtblfile::Exists(path)) {
      message = QmsFormat("Could not locate format file: %s\n", path.c_str());
      QmsRaise(QMS_SEVERE_NO_FORMAT_FILE);
    }
    CQmsTextFile file;
    if (!file.Open(path, false)) {
      message = QmsFormat("Could not locate open file: %s\n", path.c_str());
      QmsRaise(QMS_SEVERE_NOT_READY);
    }
    m_Fields.Clear();
    m_bNamesLinePresent = 0;
    ResetLayout();
    bool valid = true;
    int lineNumber = 0;
    std::string raw;
    while (valid && file.ReadLine(raw)) {
      lineNumber++;
      std::string line = raw.substr(0, raw.find('\r'));
      // A TYPE line keeps ';' and '/': they may be its delimiter.
      if (line.find(TypeMarker()) == std::string::npos) {
        line = line.substr(0, line.find(';'));
        line = line.substr(0, line.find('/'));
      }
      if (Trimmed(line).empty()) continue;
      if (line.find('=') != std::string::npos) {
        TypeAnswer answer = GetSwitch(line, lineNumber);
        if (answer == kTypeApplied) continue;
        if (answer == kTypeRefused) {
          valid = false;
          break;
        }
      }
      std::vector<Token> tokens = Tokens(line);
      if (tokens.size() < 3) {
        valid = false;
        break;
      }
      const std::string& name = tokens[0].text;
      const std::string& size = tokens[2].text;
      int width = 0;
      int decimals = 0;
      switch (platform::AsciiUpper(tokens[1].text[0])) {
        case 'N': {
          size_t dot = size.find('.');
          if (!ReadWhole(size.substr(0, dot), &width) ||
              (dot != std::string::npos && !ReadWhole(size.substr(dot + 1), &decimals))) {
            valid = false;
            break;
          }
          // Decimals, or more digits than a 32-bit number holds: a double.
          QMS_VARIANT_TYPE type = decimals != 0 || width >= 10 ? QMS_VARIANT_DOUBLE : QMS_VARIANT_LONG;
          AddField(name.c_str(), type, width, decimals);
          break;
        }
        case 'C':
          if (!ReadWhole(size, &width)) {
            valid = false;
            break;
          }
          AddField(name.c_str(), QMS_VARIANT_STRING, width, 0);
          break;
        case 'D': {
          if (!ReadWhole(size, &width)) {
            valid = false;
            break;
          }
          std::string picture;
          if (tokens.size() > 3) {
            picture = raw.substr(tokens[3].at);
            while (!picture.empty() && IsBlank(picture.back())) picture.pop_back();
          }
          if (picture.empty()) {
            message = "Date field should have a format hint\n";
            QmsRaise(QMS_SEVERE_DATE_HINT);
          }
          if (picture.size() > size_t(width)) {
            message = "Date format length exceeds field width\n";
            QmsRaise(QMS_SEVERE_DATE_HINT);
          }
          m_DatePicture = picture.c_str();
          AddField(name.c_str(), QMS_VARIANT_DATE, width, 0);
          break;
        }
        default:
          valid = false;
          break;
      }
    }
    file.Close();
    if (!valid) {
      m_Fields.Clear();
      return 0;
    }
    if (m_Fields.GetCount() == 0) return 0;
    return FormatFileValidate();
  });
}

int CQmsTextTable::WriteFmtFile() {
  std::string path = FormatFilePath();
  if (qtblfile::Exists(path)) {
    QmsLog(QMS_INFO, m_szClass, "WriteFmtFile", QmsFormat("format file will be overwritten: %s\n", path.c_str()),
           __FILE__, __LINE__);
  }
  CQmsTextFile file;
  if (!file.Create(path)) {
    QmsLog(QMS_SEVERE_NOT_READY, m_szClass, "WriteFmtFile", QmsFormat("Could not open file: %s\n", path.c_str()),
           __FILE__, __LINE__);
    return 0;
  }
  std::string text = "; Brevant ASCII format template\n";
  if (m_DatabaseName.Length() == 0) {
    text += QmsFormat("; %s\n", QmsText(m_TableName));
  } else {
    text += QmsFormat("; %s/%s\n", QmsText(m_DatabaseName), QmsText(m_TableName));
  }
  text += "\n";
  text += TypeLine();
  const char* lineEnd = m_iLineEnd == kLineEndReturn ? "RETURN"
                        : m_iLineEnd == kLineEndLF   ? "LF"
                        : m_iLineEnd == kLineEndCRLF ? "CRLF"
                                                     : "NONE";
  text += QmsFormat("EOL=%s\n", lineEnd);
  text += QmsFormat("FLN=%s\n", m_bFirstLineNames == 1 ? "Yes" : "No");
  text += "\n";
  size_t longest = 0;
  for (int i = 0; i < m_Fields.GetCount(); i++) longest = std::max(longest, std::strlen(m_Fields.GetFieldName(i)));
  int result = 1;
  for (int i = 0; i < m_Fields.GetCount(); i++) {
    QMS_VARIANT_TYPE type = m_Fields.GetFieldTypeByHandle(i);
    const char* word = TypeWord(type);
    if (word == nullptr) {
      QmsLog(QMS_SEVERE_FIELD_NOT_ADDED, m_szClass, "WriteFmtFile", QmsFormat("Unknown field type: %d\n", int(type)),
             __FILE__, __LINE__);
      result = 0;
      break;
    }
    std::string line = m_Fields.GetFieldName(i);
    for (char& c : line) {
      if (c == ' ') c = '_';
    }
    PadTo(line, longest + 3);
    line += word;
    PadTo(line, longest + 15);
    line += std::to_string(m_Fields.GetFieldWidthByHandle(i));
    int decimals = m_Fields.GetFieldDecimalsByHandle(i);
    if (decimals != 0 && type != QMS_VARIANT_DATE) line += "." + std::to_string(decimals);
    if (type == QMS_VARIANT_DATE) {
      PadTo(line, longest + 25);
      const char* picture = m_Fields.GetDataPictureByHandle(i);
      if (picture == nullptr || picture[0] == 0) {
        QmsLog(QMS_WARN_DEFAULT_DATE_HINT, m_szClass, "WriteFmtFile",
               QmsFormat("Using the default format: %s\nIf this does not match your data's format\n"
                         "Setting the record prototype will solve this\n",
                         kDefaultPicture),
               __FILE__, __LINE__);
        picture = kDefaultPicture;
      }
      line += picture;
    }
    text += line + "\n";
  }
  bool written = file.Append(text) && file.Close();
  if (!written) {
    QmsLog(QMS_SEVERE_WRITE_FILE, m_szClass, "WriteFmtFile", QmsFormat("Could not write file: %s\n", path.c_str()),
           __FILE__, __LINE__);
    return 0;
  }
  return result;
}

// ---- shared slots ----

void CQmsTextTable::OpenOrdered(const char*) { throw QMS_WARN_UNIMPLEMENTED; }

void CQmsTextTable::DeleteRecord() {
  QmsGuarded(QMS_TEXT_SITE("DeleteRecord"), [&] {
    AssertFileOpen();
    QmsRaise(QMS_WARN_UNIMPLEMENTED);
  });
}

void CQmsTextTable::FillAllFieldValues(CQmsRecord&, CQmsRecord&) { ReportNotImplemented("FillAllFieldValues"); }

void CQmsTextTable::SetAllFieldValues(const CQmsRecord&, const CQmsRecord&) {
  ReportNotImplemented("SetAllFieldValues");
}

void CQmsTextTable::FillFieldValues(CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("FillFieldValues"), [&] {
    CQmsFieldMap map;
    map.UseRecords(record, m_Fields);
    map.MapByNames();
    FillMappedRecord(map, record);
  });
}

void CQmsTextTable::SetFieldValues(const CQmsRecord& record) {
  QmsGuarded(QMS_TEXT_SITE("SetFieldValues"), [&] {
    CQmsFieldMap map;
    map.UseRecords(record, m_Fields);
    map.MapByNames();
    SetMappedRecord(map, record);
  });
}

QBOOL CQmsTextTable::AtBOF() {
  return QmsGuarded(QMS_TEXT_SITE("AtBOF"), [&]() -> QBOOL {
    AssertFileOpen();
    return m_bAtBOF;
  });
}

QBOOL CQmsTextTable::AtEOF() {
  return QmsGuarded(QMS_TEXT_SITE("AtEOF"), [&]() -> QBOOL {
    AssertFileOpen();
    return m_bAtEOF;
  });
}

unsigned long CQmsTextTable::GetPosition() const {
  return QmsGuarded(QMS_TEXT_SITE("GetPosition"), [&]() -> unsigned long {
    AssertFileOpen();
    return m_ulPosition;
  });
}

const char* CQmsTextTable::LineEndText() const {
  switch (m_iLineEnd) {
    case kLineEndReturn:
      return "\r";
    case kLineEndLF:
      return "\n";
    case kLineEndCRLF:
      return "\r\n";
    default:
      return "";
  }
}

int CQmsTextTable::LineEndLength() const { return int(std::strlen(LineEndText())); }

char* CQmsTextTable::Trim(char* text, int mode) {
  if (text == nullptr) return nullptr;
  if (mode == QMS_TRIM_LEADING || mode == QMS_TRIM_BOTH) {
    while (IsBlank(*text)) text++;
  }
  if (mode == QMS_TRIM_TRAILING || mode == QMS_TRIM_BOTH) {
    size_t n = std::strlen(text);
    while (n > 0 && IsBlank(text[n - 1])) text[--n] = 0;
  }
  return text;
}

void CQmsTextTable::SetFromText(CQmsRecord& record, int field, int column, const char* text) {
  if (column >= 0 && column < m_Fields.GetCount() && m_Fields.GetFieldTypeByHandle(column) == QMS_VARIANT_DATE) {
    if (text == nullptr || text[0] == 0) {
      record.SetFieldByHandle(field, "");
      return;
    }
    m_Date.Set(text, m_Fields.GetDataPictureByHandle(column));
    record.SetFieldByHandle(field, m_Date.GetDateStr());
    return;
  }
  record.SetFieldByHandle(field, text);
}

void CQmsTextTable::Dump(unsigned char withHeader) {
  QmsGuarded(QMS_TEXT_SITE("Dump"), [&] {
    WhileOpen([&] {
      if (withHeader == 1) {
        PutDumpData("\n%s:\n\n", m_szClass);
        PutDumpData("   Database Name: %s\n", QmsText(m_DatabaseName));
        PutDumpData("   Table Name:    %s\n\n", QmsText(m_TableName));
        std::string heading = "   ";
        for (int i = 0; i < m_Fields.GetCount(); i++) {
          const char* name = m_Fields.GetFieldName(i);
          heading += name;
          int pad = m_Fields.GetFieldWidthByHandle(i) - int(std::strlen(name));
          if (pad > kDumpPadLimit) pad = kDumpPadLimit;
          if (pad > 0) heading.append(size_t(pad), ' ');
        }
        PutDumpMessage((heading + "\n").c_str());
      }
      CQmsRecord row;
      row = m_Fields;
      MoveFirst();
      while (!AtEOF() && m_ulPosition > 0) {
        FillAllFieldValues(row);
        std::string line = "   ";
        for (int i = 0; i < row.GetCount(); i++) {
          const char* value = *row.GetFieldByHandle(i);
          int width = row.GetFieldWidthByHandle(i);
          const char* format = row.GetFieldTypeByHandle(i) == QMS_VARIANT_STRING ? "%-*.*s" : "%*.*s";
          line += QmsFormat(format, width, width, value ? value : "");
        }
        PutDumpMessage((line + "\n").c_str());
        MoveBy(1);
      }
    });
  });
}
