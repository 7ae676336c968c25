#include "tables/qinifile.h"

#include <cstring>
#include <string>

#include "base/qstring.h"
#include "platform/env.h"
#include "tables/qlog.h"
#include "tables/qtable.h"
#include "tables/qvariant.h"

namespace {

constexpr const char* kClass = "CQmsIniFile";
constexpr const char* kIniVersion = "1.0.0";
constexpr int kTraceLevel = 2;
constexpr int kClearTraceLevel = 1;

#define QMS_INI_SITE(method) QmsSite{kClass, nullptr, (method), "", __FILE__, __LINE__, kTraceLevel}

bool Empty(const char* text) { return text == nullptr || text[0] == 0; }

void RequireText(const char* text) {
  if (Empty(text)) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
}

void RequireCollection(const CQmsIndexedCollection& out) {
  if (!out.IsValid()) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
}

// "[name]" for a bare name.
std::string Bracketed(const char* section) {
  size_t n = std::strlen(section);
  if (n >= 2 && section[0] == '[' && section[n - 1] == ']') return section;
  return std::string("[") + section + "]";
}

bool Same(const std::string& a, const std::string& b) { return platform::AsciiEqualsIgnoreCase(a, b); }

void TrimTrailing(std::string& line) {
  while (!line.empty() && platform::AsciiIsSpace(line.back())) line.pop_back();
}

// The text of a collection item that holds one.
std::string TextOf(CQmsCollectable* item) {
  if (auto* variant = dynamic_cast<CQmsVariant*>(item)) {
    const char* text = *variant;
    return text != nullptr ? text : "";
  }
  if (auto* string = dynamic_cast<CQmsStringPtr*>(item)) return QmsText(*string);
  QmsRaise(QMS_SEVERE_INVALID_OBJECT);
}

}  // namespace

// ---- construction and the file ----

CQmsIniFile::CQmsIniFile() : m_Version(kIniVersion), m_FileName(""), m_ValueText(500L), m_ItemName(500L) {
  int major = 0, minor = 0, revision = 0;
  CQmsStringPtr ignored;
  QmsGlobal().FillVersion(ignored, major, minor, revision);
  m_LibraryVersion = QmsFormat("%d.%d.%d", major, minor, revision).c_str();
}

CQmsIniFile::CQmsIniFile(const char* name, unsigned char alphabetizeSections, unsigned char alphabetizeItems,
                         unsigned char generateCommentHeader)
    : CQmsIniFile() {
  QmsGuarded(QMS_INI_SITE("CQmsIniFile"), [&] {
    RequireText(name);
    if (std::strlen(name) > size_t(kNameLimit)) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    m_FileName = name;
    m_bAlphabetizeSections = alphabetizeSections;
    m_bAlphabetizeItems = alphabetizeItems;
    m_bGenerateCommentHeader = generateCommentHeader;
    if (OpenIOStream(kModeReadWrite)) Refresh();
  });
}

CQmsIniFile::~CQmsIniFile() { CloseIOStream(); }

void CQmsIniFile::SetFilename(const char* name, int mode) {
  QmsGuarded(QMS_INI_SITE("SetFilename"), [&] {
    RequireText(name);
    if (std::strlen(name) > size_t(kNameLimit)) QmsRaise(QMS_SEVERE_INVALID_ARGUMENT);
    if (Same(name, QmsText(m_FileName))) return;
    CloseIOStream();
    m_FileName = name;
    if (OpenIOStream(mode)) Refresh();
  });
}

unsigned char CQmsIniFile::FileExists() {
  return QmsGuarded(QMS_INI_SITE("FileExists"), [&]() -> unsigned char {
    if (m_FileName.Length() == 0) return 0;
    platform::FileInfo info;
    return platform::Env::Current().PathStat(QmsText(m_FileName), &info) == 0 && !info.directory;
  });
}

int CQmsIniFile::OpenIOStream(int mode) {
  if (mode != kModeWrite && mode != kModeRead && mode != kModeReadWrite) return 0;
  int existed = FileExists();
  if (mode == kModeRead && !existed) return 0;
  unsigned flags = mode == kModeRead ? platform::kRead : platform::kReadWrite;
  if (!existed) flags |= platform::kCreate;
  // Write mode replaces the file.
  if (mode == kModeWrite) flags |= platform::kCreate | platform::kTruncate;
  platform::Env& env = platform::Env::Current();
  int fd = env.Open(QmsText(m_FileName), flags, 0644);
  if (fd < 0) QmsRaise(QMS_SEVERE_OPEN_FILE);
  env.Close(fd);
  m_iMode = mode;
  return existed;
}

void CQmsIniFile::CloseIOStream() {
  m_iMode = 0;
  m_bPartial = false;
}

void CQmsIniFile::ClearRemnants() {
  QmsGuarded(QMS_INI_SITE("ClearRemnants"), [&] {
    CloseIOStream();
    int fd = platform::Env::Current().Open(QmsText(m_FileName), platform::kReadWrite);
    if (fd < 0) QmsRaise(QMS_SEVERE_OPEN_FILE);
    platform::Env::Current().Close(fd);
    m_iMode = kModeReadWrite;
  });
}

void CQmsIniFile::Clear() {
  QmsSite site{kClass, nullptr, "Clear", "", __FILE__, __LINE__, kClearTraceLevel};
  QmsTraceScope trace(site);
  try {
    m_Lines.clear();
  } catch (long code) {
    QmsReport(code, site);
    QmsRaise(QMS_FATAL_DESTRUCTOR);
  }
}

void CQmsIniFile::Refresh() {
  QmsGuarded(QMS_INI_SITE("Refresh"), [&] {
    m_Lines.clear();
    m_bPartial = false;
    if (m_iMode != kModeRead && m_iMode != kModeReadWrite) return;
    platform::Env& env = platform::Env::Current();
    int fd = env.Open(QmsText(m_FileName), platform::kRead);
    if (fd < 0) QmsRaise(QMS_SEVERE_OPEN_FILE);
    std::string text;
    char buffer[65536];
    int64_t n;
    while ((n = env.Read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    env.Close(fd);
    // A file that could not be read to its end is not loaded as if it were whole.
    if (n < 0) m_bPartial = true;
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      if (end - at > size_t(kLineLimit)) {
        m_bPartial = true;
        break;
      }
      std::string line = text.substr(at, end - at);
      TrimTrailing(line);
      m_Lines.push_back(line);
      at = end + 1;
    }
  });
}

void CQmsIniFile::Flush() {
  QmsGuarded(QMS_INI_SITE("Flush"), [&] {
    if ((m_iMode != kModeWrite && m_iMode != kModeReadWrite) || m_bPartial) QmsRaise(QMS_SEVERE_WRITE_FILE);
    std::string text;
    bool lastEmpty = true;
    for (const std::string& line : m_Lines) {
      if (line.empty() && lastEmpty) continue;
      text += line;
      text += '\n';
      lastEmpty = line.empty();
    }
    platform::Env& env = platform::Env::Current();
    std::string name = platform::NormalizeSeparators(QmsText(m_FileName));
    std::string temporary;
    int fd = env.CreateTemp(platform::DirectoryOf(name), std::string(platform::BaseNameOf(name)) + ".", ".tmp",
                            &temporary);
    if (fd < 0) QmsRaise(QMS_SEVERE_WRITE_FILE);
    bool written = env.Write(fd, text.data(), text.size()) == int64_t(text.size()) && env.Sync(fd) == 0;
    written = env.Close(fd) == 0 && written;
    if (!written || env.Rename(temporary, env.ResolveExisting(name)) != 0) {
      env.Remove(temporary);
      QmsRaise(QMS_SEVERE_WRITE_FILE);
    }
  });
}

// ---- lines ----

bool CQmsIniFile::IsSection(const std::string& line) {
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool CQmsIniFile::IsComment(const std::string& line) { return !line.empty() && line.front() == ';'; }

std::string CQmsIniFile::NameOf(const std::string& line) { return line.substr(0, line.find('=')); }

const char* CQmsIniFile::GetItemName(const char* line) {
  RequireText(line);
  std::string name = NameOf(line);
  if (name.empty()) QmsRaise(QMS_SEVERE_BAD_INPUT);
  m_ItemName = name.c_str();
  return m_ItemName;
}

const char* CQmsIniFile::GetValueString(const char* line) {
  RequireText(line);
  std::string text = line;
  size_t equals = text.find('=');
  if (equals == 0) QmsRaise(QMS_SEVERE_BAD_INPUT);
  std::string value;
  if (equals != std::string::npos) {
    size_t next = text.find('=', equals + 1);
    value = text.substr(equals + 1, next == std::string::npos ? std::string::npos : next - equals - 1);
  }
  m_ValueText = value.c_str();
  return m_ValueText;
}

size_t CQmsIniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < m_Lines.size() && !IsSection(m_Lines[i])) i++;
  return i;
}

int CQmsIniFile::ItemInSection(size_t header, const std::string& item) const {
  for (size_t i = header + 1, end = SectionEnd(header); i < end; i++) {
    const std::string& line = m_Lines[i];
    if (line.empty() || IsComment(line)) continue;
    std::string name = NameOf(line);
    // A line without a name is passed over.
    if (!name.empty() && Same(name, item)) return int(i);
  }
  return -1;
}

int CQmsIniFile::FindSectionIndex(const char* section) {
  RequireText(section);
  std::string header = Bracketed(section);
  for (size_t i = 0; i < m_Lines.size(); i++) {
    if (Same(m_Lines[i], header)) return int(i);
  }
  return -1;
}

int CQmsIniFile::FindItemIndex(const char* section, const char* item) {
  RequireText(section);
  RequireText(item);
  std::string header = Bracketed(section);
  for (size_t i = 0; i < m_Lines.size(); i++) {
    if (!Same(m_Lines[i], header)) continue;
    int found = ItemInSection(i, item);
    if (found >= 0) return found;
  }
  return -1;
}

int CQmsIniFile::FindItemInsertIndex(const char* section, const char* item) {
  RequireText(item);
  int header = FindSectionIndex(section);
  if (header < 0) return -1;
  size_t i = size_t(header) + 1;
  while (i < m_Lines.size() && !m_Lines[i].empty() && !IsSection(m_Lines[i])) i++;
  return int(i);
}

const std::string* CQmsIniFile::FindItemLine(const char* section, const char* item) {
  int index = FindItemIndex(section, item);
  return index >= 0 ? &m_Lines[size_t(index)] : nullptr;
}

// ---- lookups ----

unsigned char CQmsIniFile::SectionExists(const char* section) {
  return QmsGuarded(QMS_INI_SITE("SectionExists"),
                    [&]() -> unsigned char { return FindSectionIndex(section) != -1; });
}

unsigned char CQmsIniFile::ItemExists(const char* section, const char* item) {
  return QmsGuarded(QMS_INI_SITE("ItemExists"),
                    [&]() -> unsigned char { return FindItemIndex(section, item) != -1; });
}

void CQmsIniFile::ReadSections(CQmsIndexedCollection& out) {
  QmsGuarded(QMS_INI_SITE("ReadSections"), [&] {
    RequireCollection(out);
    for (const std::string& line : m_Lines) {
      if (IsSection(line)) out.Add(new CQmsVariant(line.c_str()));
    }
  });
}

void CQmsIniFile::ReadPatternSections(const char* pattern, CQmsIndexedCollection& out) {
  QmsGuarded(QMS_INI_SITE("ReadPatternSections"), [&] {
    RequireText(pattern);
    RequireCollection(out);
    std::string prefix = pattern[0] == '[' ? pattern : std::string("[") + pattern;
    for (const std::string& line : m_Lines) {
      if (IsSection(line) && line.size() >= prefix.size() && Same(line.substr(0, prefix.size()), prefix)) {
        out.Add(new CQmsVariant(line.c_str()));
      }
    }
  });
}

void CQmsIniFile::ReadItemNames(const char* section, CQmsIndexedCollection& out) {
  QmsGuarded(QMS_INI_SITE("ReadItemNames"), [&] {
    RequireCollection(out);
    int header = FindSectionIndex(section);
    if (header < 0) return;
    for (size_t i = size_t(header) + 1, end = SectionEnd(size_t(header)); i < end; i++) {
      std::string name = NameOf(m_Lines[i]);
      if (!name.empty()) out.Add(new CQmsVariant(name.c_str()));
    }
  });
}

// ---- reading values ----

const char* CQmsIniFile::ReadItemValueString(const char* section, const char* item, const char* fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadItemValueString"), [&]() -> const char* {
    const std::string* line = FindItemLine(section, item);
    if (line == nullptr) {
      m_ValueText = fallback;
      return m_ValueText;
    }
    return GetValueString(line->c_str());
  });
}

double CQmsIniFile::ReadItemValueDouble(const char* section, const char* item, double fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadItemValueDouble"), [&] {
    const std::string* line = FindItemLine(section, item);
    if (line == nullptr) return fallback;
    return static_cast<double>(CQmsVariant(GetValueString(line->c_str())));
  });
}

int CQmsIniFile::ReadItemValueInt(const char* section, const char* item, int fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadItemValueInt"), [&] {
    const std::string* line = FindItemLine(section, item);
    return line == nullptr ? fallback : int(StrToInt(GetValueString(line->c_str())));
  });
}

long CQmsIniFile::ReadItemValueLongInt(const char* section, const char* item, long fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadItemValueLongInt"), [&] {
    const std::string* line = FindItemLine(section, item);
    return line == nullptr ? fallback : long(StrToInt(GetValueString(line->c_str())));
  });
}

unsigned long CQmsIniFile::ReadUnsignedLong(const char* section, const char* item, unsigned long fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadUnsignedLong"), [&] {
    const std::string* line = FindItemLine(section, item);
    // Read as a signed 32-bit number, as it was written.
    return line == nullptr ? fallback
                           : static_cast<unsigned long>(uint32_t(StrToInt(GetValueString(line->c_str()))));
  });
}

unsigned char CQmsIniFile::ReadItemValueLogical(const char* section, const char* item, unsigned char fallback) {
  return QmsGuarded(QMS_INI_SITE("ReadItemValueLogical"), [&] {
    const std::string* line = FindItemLine(section, item);
    return line == nullptr ? fallback : static_cast<unsigned char>(StrToInt(GetValueString(line->c_str())));
  });
}

int CQmsIniFile::ReadMultipleItemStrings(const char* section, const char* item, CQmsIndexedCollection& out) {
  return QmsGuarded(QMS_INI_SITE("ReadMultipleItemStrings"), [&]() -> int {
    RequireCollection(out);
    const std::string* line = FindItemLine(section, item);
    if (line == nullptr) return 0;
    std::string value = GetValueString(line->c_str());
    if (!value.empty()) {
      size_t at = 0;
      for (;;) {
        size_t bar = value.find('|', at);
        out.Add(new CQmsVariant(value.substr(at, bar == std::string::npos ? std::string::npos : bar - at).c_str()));
        if (bar == std::string::npos) break;
        at = bar + 1;
      }
    }
    return int(out.GetCount());
  });
}

// ---- writing values ----

void CQmsIniFile::PutValueString(const char* section, const char* item, const char* value, const char*) {
  RequireText(section);
  RequireText(item);
  if (FindSectionIndex(section) < 0) {
    m_Lines.emplace_back();
    m_Lines.push_back(Bracketed(section));
  }
  std::string line = std::string(item) + "=" + (value != nullptr ? value : "");
  int index = FindItemIndex(section, item);
  if (index >= 0) {
    m_Lines[size_t(index)] = line;
  } else {
    m_Lines.insert(m_Lines.begin() + FindItemInsertIndex(section, item), line);
  }
}

void CQmsIniFile::WriteItemValueString(const char* section, const char* item, const char* value,
                                       const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteItemValueString"), [&] { PutValueString(section, item, value, comment); });
}

void CQmsIniFile::WriteItemValueDouble(const char* section, const char* item, double value, const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteItemValueDouble"),
             [&] { PutValueString(section, item, QmsFormat("%f", value).c_str(), comment); });
}

void CQmsIniFile::WriteItemValueInt(const char* section, const char* item, int value, const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteItemValueInt"),
             [&] { PutValueString(section, item, QmsFormat("%d", value).c_str(), comment); });
}

void CQmsIniFile::WriteItemValueLongInt(const char* section, const char* item, long value, const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteItemValueLongInt"),
             [&] { PutValueString(section, item, QmsFormat("%d", int32_t(value)).c_str(), comment); });
}

void CQmsIniFile::WriteItemValueLogical(const char* section, const char* item, unsigned char value,
                                        const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteItemValueLogical"),
             [&] { PutValueString(section, item, QmsFormat("%d", int(value)).c_str(), comment); });
}

void CQmsIniFile::WriteUnsignedLong(const char* section, const char* item, unsigned long value,
                                    const char* comment) {
  QmsGuarded(QMS_INI_SITE("WriteUnsignedLong"),
             [&] { PutValueString(section, item, QmsFormat("%d", int32_t(uint32_t(value))).c_str(), comment); });
}

int CQmsIniFile::WriteMultipleItemStrings(const char* section, const char* item, CQmsIndexedCollection& values,
                                          const char* comment) {
  return QmsGuarded(QMS_INI_SITE("WriteMultipleItemStrings"), [&]() -> int {
    RequireCollection(values);
    if (FindItemIndex(section, item) < 0) return 0;
    // The first text is taken by its position: an empty collection has none.
    std::string joined = TextOf(values.GetAtIndex(0));
    for (long i = 1; i < values.GetCount(); i++) joined += "|" + TextOf(values.GetAtIndex(i));
    PutValueString(section, item, joined.c_str(), comment);
    return int(values.GetCount());
  });
}

// ---- deleting ----

void CQmsIniFile::DeleteItem(const char* section, const char* item) {
  QmsGuarded(QMS_INI_SITE("DeleteItem"), [&] {
    int index = FindItemIndex(section, item);
    if (index < 0) QmsRaise(QMS_SEVERE_OUT_OF_BOUNDS);
    m_Lines.erase(m_Lines.begin() + index);
  });
}

void CQmsIniFile::DeleteSection(const char* section) {
  QmsGuarded(QMS_INI_SITE("DeleteSection"), [&] {
    int header = FindSectionIndex(section);
    if (header < 0) return;
    size_t end = SectionEnd(size_t(header));
    m_Lines.erase(m_Lines.begin() + header, m_Lines.begin() + long(end));
    // The empty line that set the section apart goes with it; any other stays.
    if (header > 0 && m_Lines[size_t(header) - 1].empty()) m_Lines.erase(m_Lines.begin() + header - 1);
  });
}

// ---- argument checks only ----

void CQmsIniFile::WriteComment(const char* text) {
  QmsGuarded(QMS_INI_SITE("WriteComment"), [&] { RequireText(text); });
}

void CQmsIniFile::ReadPatternItemNames(const char* pattern, const char* item, CQmsIndexedCollection& out) {
  QmsGuarded(QMS_INI_SITE("ReadPatternItemNames"), [&] {
    RequireText(pattern);
    RequireText(item);
    RequireCollection(out);
  });
}

void CQmsIniFile::DeletePatternItem(const char* pattern, const char* item) {
  QmsGuarded(QMS_INI_SITE("DeletePatternItem"), [&] {
    RequireText(pattern);
    RequireText(item);
  });
}

void CQmsIniFile::DeletePatternSection(const char* pattern) {
  QmsGuarded(QMS_INI_SITE("DeletePatternSection"), [&] { RequireText(pattern); });
}

void CQmsIniFile::Tokenize(const char* text, CQmsIndexedCollection& out) {
  RequireText(text);
  RequireCollection(out);
}

void CQmsIniFile::Alphabetize(const char* first, const char* second) {
  RequireText(first);
  RequireText(second);
}
