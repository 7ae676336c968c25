// The xBase table's index tags (always those of the production index) and
// the maintenance of its files: existence, destroy, rename, copy and pack.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/qstring.h"
#include "platform/env.h"
#include "tables/qtablefr.h"
#include "tables/qtblfile.h"
#include "xbase/xbase.h"

namespace {

constexpr const char* kClass = "CQmsFolioRackTable";
constexpr const char* kDataExtension = ".dbf";

bool EndsWithDbf(const std::string& name) {
  return name.size() > 4 && platform::AsciiEqualsIgnoreCase(std::string_view(name).substr(name.size() - 4), kDataExtension);
}

std::string WithDbf(const std::string& name) { return EndsWithDbf(name) ? name : name + kDataExtension; }

// The extension part of a file name, as found on disk.
std::string ExtensionOf(const std::string& path) { return path.substr(qtblfile::WithoutExtension(path).size()); }

// Step markers of the destroy report.
enum DestroyStep {
  kDestroyStart = 1605,
  kDestroyOpen = 1640,
  kDestroyReopen = 1670,
  kDestroyRemove = 1679,
  kDestroyClose = 1682,
  kDestroyDelete = 1696,
  kDestroyCheck = 1708,
};

}  // namespace

// ---- auto-open and tags ----

QBOOL CQmsFolioRackTable::GetAutoOpenIndex() { return m_pCode4 != nullptr && m_pCode4->autoOpen == 1; }

void CQmsFolioRackTable::SetAutoOpenIndex(QBOOL on) {
  QmsGuarded(QMS_SITE(kClass, "SetAutoOpenIndex", ""), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    m_pCode4->autoOpen = on == 1;
  });
}

long CQmsFolioRackTable::GetIndexCount() {
  return QmsGuarded(QMS_SITE(kClass, "GetIndexCount", ""), [&] {
    if (!GetAutoOpenIndex()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    DATA4* data = OpenData();
    RefuseOrdered();
    Tag4info tags{Data4(data)};
    TakeEngineError();
    return long(tags.numTags());
  });
}

long CQmsFolioRackTable::AllocIndexInfo(_QMS_TABLE_INDEXES** info) {
  return QmsGuarded(QMS_SITE(kClass, "AllocIndexInfo", ""), [&] {
    if (info == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (!GetAutoOpenIndex()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    DATA4* data = OpenData();
    RefuseOrdered();
    Tag4info tags{Data4(data)};
    TakeEngineError();
    long count = tags.numTags();
    *info = nullptr;
    if (count < 1) return 0L;
    auto* entries = static_cast<_QMS_TABLE_INDEXES*>(std::calloc(size_t(count), sizeof(_QMS_TABLE_INDEXES)));
    if (entries == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    long i = 0;
    for (TAG4* tag = d4tagNext(data, nullptr); tag != nullptr && i < count; tag = d4tagNext(data, tag), i++) {
      const char* alias = t4alias(tag);
      StrCopySized(entries[i].szTagName, alias ? alias : "", sizeof entries[i].szTagName);
      for (int t = 0; t < tags.numTags(); t++) {
        const TAG4INFO& entry = tags.tags()[t];
        if (alias != nullptr && std::strcmp(entry.name, alias) == 0) {
          StrCopySized(entries[i].szKeyExpression, entry.expression ? entry.expression : "",
                       sizeof entries[i].szKeyExpression);
          break;
        }
      }
    }
    TakeEngineError();
    *info = entries;
    return count;
  });
}

void CQmsFolioRackTable::FreeIndexInfo(_QMS_TABLE_INDEXES* info) { std::free(info); }

// The production index is made from the whole list of tags, replacing a file
// of that name that no open handle uses (a rebuild drops tags that way).
void CQmsFolioRackTable::CreateProductionIndex(DATA4* data, Tag4info& tags) {
  int createNewOnly = m_pCode4->createNewOnly;
  m_pCode4->createNewOnly = 0;
  i4create(data, nullptr, tags.tags());
  m_pCode4->createNewOnly = createNewOnly;
}

void CQmsFolioRackTable::CreateIndex(const char* name, const char* expression, QBOOL unique) {
  QmsGuarded(QMS_SITE(kClass, "CreateIndex", ""), [&] {
    if (name == nullptr || expression == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    RefuseOrdered();
    TemporaryData opened(*this);
    DATA4* data = opened.data;
    Tag4info tags(*m_pCode4);
    if (tags.add(name, expression, nullptr, unique == 1 ? kUniqueTag : 0, 0) != 0) {
      TakeEngineError();
      QmsRaise(QMS_SEVERE_INDEX);
    }
    INDEX4* index = d4index(data, nullptr);
    if (index != nullptr) {
      // Tag names are stored as the definition list holds them (upper case,
      // at most 10 characters).
      bool exists = false;
      for (TAG4* tag = d4tagNext(data, nullptr); tag != nullptr; tag = d4tagNext(data, tag)) {
        const char* alias = t4alias(tag);
        if (alias != nullptr && std::strcmp(alias, tags.tags()[0].name) == 0) exists = true;
      }
      if (!exists && i4tagAdd(index, tags.tags()) != 0) {
        TakeEngineError();
        QmsRaise(QMS_SEVERE_INDEX);
      }
    } else {
      CreateProductionIndex(data, tags);
      if (TakeEngineError() != 0) QmsRaise(QMS_SEVERE_INDEX);
    }
  });
}

void CQmsFolioRackTable::RebuildIndex(Tag4info& tags) {
  CloseData();
  m_pCode4->autoOpen = 0;
  int code = 0;
  DATA4* data = OpenQuietly(&code);
  bool failed = data == nullptr;
  if (!failed) {
    CreateProductionIndex(data, tags);
    failed = TakeEngineError() != 0;
    Quiet quiet;
    d4close(data);
    TakeEngineError();
  }
  m_pCode4->autoOpen = 1;
  *m_ppData = OpenQuietly(&code);
  if (*m_ppData != nullptr) BuildField4Objects();
  if (failed) QmsRaise(QMS_SEVERE_INDEX);
}

void CQmsFolioRackTable::DeleteIndex(const char* name) {
  QmsGuarded(QMS_SITE(kClass, "DeleteIndex", ""), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (!GetAutoOpenIndex()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    DATA4* data = OpenData();
    RefuseOrdered();
    Tag4info all{Data4(data)};
    TakeEngineError();
    if (all.numTags() < 2) QmsRaise(QMS_SEVERE_LAST_INDEX);
    // The name as the definition lists store tag names.
    Tag4info probe(*m_pCode4);
    probe.add(name, "", nullptr, 0, 0);
    TakeEngineError();
    const char* wanted = probe.numTags() > 0 ? probe.tags()[0].name : name;
    Tag4info kept(*m_pCode4);
    for (int t = 0; t < all.numTags(); t++) {
      const TAG4INFO& entry = all.tags()[t];
      if (std::strcmp(entry.name, wanted) == 0) continue;
      if (kept.add(entry.name, entry.expression, entry.filter, entry.unique, entry.descending) != 0) {
        TakeEngineError();
        QmsRaise(QMS_SEVERE_INDEX);
      }
    }
    RebuildIndex(kept);
  });
}

void CQmsFolioRackTable::SetIndex(const char* name) {
  QmsGuarded(QMS_SITE(kClass, "SetIndex", ""), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (!GetAutoOpenIndex()) QmsRaise(QMS_SEVERE_TABLE_CLOSED);
    DATA4* data = OpenData();
    RefuseOrdered();
    TAG4* tag = nullptr;
    {
      Quiet quiet;
      INDEX4* index = d4index(data, nullptr);
      if (index != nullptr) tag = i4tag(index, name);
      TakeEngineError();
    }
    if (tag == nullptr) QmsRaise(QMS_SEVERE_NO_INDEX);
    d4tagSelect(data, tag);
    TakeEngineError();
  });
}

// ---- files ----

QBOOL CQmsFolioRackTable::Exists() {
  return QmsGuarded(QMS_SITE(kClass, "Exists", ""), [&]() -> QBOOL {
    CQmsStringPtr file;
    ConstructTableFileName(file);
    return qtblfile::Exists(WithDbf(QmsText(file)));
  });
}

void CQmsFolioRackTable::Destroy() {
  int step = kDestroyStart;
  int engineCode = 0;
  std::string fileName;
  std::string text;
  auto describe = [&] {
    text = QmsFormat("Unable to destroy table '%s'.\n", fileName.c_str());
    text += "A possible cause is a read only file.\n";
    text += QmsFormat("Current line in QTableFR: %d\n", step);
    text += QmsFormat("FolioRack error code: %d\n", engineCode);
  };
  QmsGuardedText(kClass, "Destroy", text, __FILE__, __LINE__, [&] {
    try {
      if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
      CQmsStringPtr file;
      ConstructTableFileName(file);
      fileName = QmsText(file);
      if (!Exists()) return;
      // The engine adds the data file's extension; the file system does not.
      std::string dataFile = fileName;
      CQmsStringPtr folder, base, extension;
      GetPathParts(fileName.c_str(), folder, base, extension);
      if (extension.Length() == 0) dataFile += kDataExtension;
      int autoOpen = m_pCode4->autoOpen;
      if (IsOpen()) CloseData();
      m_pCode4->autoOpen = 1;
      step = kDestroyOpen;
      m_pCode4->offError = 1;
      DATA4* data = d4open(m_pCode4, file);
      engineCode = TakeEngineError();
      try {
        if (data != nullptr && engineCode == 0) {
          step = kDestroyRemove;
          int rc = d4remove(data);
          engineCode = TakeEngineError();
          if (rc == 0) data = nullptr;
          if (rc < 0) QmsRaise(QMS_SEVERE_REMOVE);
        } else if (engineCode == e4data) {
          if (data != nullptr) d4close(data);
          data = nullptr;
          QuietReset();
          TakeEngineError();
          qtblfile::Remove(dataFile);
          step = kDestroyReopen;
          DATA4* again = d4open(m_pCode4, file);
          engineCode = TakeEngineError();
          if (again != nullptr) d4close(again);
          TakeEngineError();
          if (engineCode < 0) QmsRaise(QMS_SEVERE_INVALID_TABLE);
        } else if (engineCode != r4noOpen) {
          if (data != nullptr) d4close(data);
          data = nullptr;
          TakeEngineError();
          step = kDestroyDelete;
          if (!qtblfile::Remove(dataFile)) QmsRaise(QMS_SEVERE_REMOVE);
        }
        if (data != nullptr) {
          step = kDestroyClose;
          int rc = d4close(data);
          engineCode = TakeEngineError();
          if (rc < 0) QmsRaise(QMS_SEVERE_CLOSE);
        }
      } catch (long) {
        m_pCode4->offError = 0;
        m_pCode4->autoOpen = autoOpen;
        throw;
      }
      m_pCode4->offError = 0;
      m_pCode4->autoOpen = autoOpen;
      step = kDestroyCheck;
      if (Exists()) QmsRaise(QMS_SEVERE_REMOVE);
    } catch (long) {
      describe();
      throw;
    }
  });
}

void CQmsFolioRackTable::RenameTable(const char* name) {
  std::string text;
  QmsGuardedText(kClass, "RenameTable", text, __FILE__, __LINE__, [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    if (*m_ppData != nullptr) QmsRaise(QMS_SEVERE_TABLE_OPEN);
    CQmsStringPtr keptTable = m_TableName;
    CQmsStringPtr keptDatabase = m_DatabaseName;
    CQmsStringPtr oldFile;
    ConstructTableFileName(oldFile);
    SetTableName(name);
    CQmsStringPtr newFile;
    ConstructTableFileName(newFile);
    std::string from = qtblfile::Resolve(WithDbf(QmsText(oldFile)));
    std::string to = WithDbf(QmsText(newFile));
    // The data file first, then its index and memo files under the new
    // name; a failure puts back what was renamed.
    std::vector<std::string> companions = qtblfile::Companions(from);
    std::string toBase = qtblfile::WithoutExtension(to);
    std::vector<std::pair<std::string, std::string>> done;
    bool ok = qtblfile::Rename(from, to);
    if (ok) done.emplace_back(from, to);
    for (size_t i = 0; ok && i < companions.size(); i++) {
      std::string target = toBase + ExtensionOf(companions[i]);
      ok = qtblfile::Rename(companions[i], target);
      if (ok) done.emplace_back(companions[i], target);
    }
    if (!ok) {
      for (auto it = done.rbegin(); it != done.rend(); ++it) qtblfile::Rename(it->second, it->first);
      m_TableName = keptTable;
      m_DatabaseName = keptDatabase;
      text = QmsFormat("Unable to rename table '%s' to '%s'\n", QmsText(keptTable), name);
      QmsRaise(QMS_SEVERE_RENAME);
    }
  });
}

QBOOL CQmsFolioRackTable::CopyTable(const CQmsFolioRackTable& source) {
  return QmsGuarded(QMS_SITE(kClass, "CopyTable", ""), [&]() -> QBOOL {
    auto pathOf = [](const CQmsStringPtr& database, const CQmsStringPtr& table) {
      std::string joined = QmsText(database);
      if (!joined.empty() && joined.back() != '/' && joined.back() != '\\') joined += '/';
      joined += QmsText(table);
      CQmsStringPtr folder, name, extension;
      GetPathParts(joined.c_str(), folder, name, extension);
      std::string base = std::string(QmsText(folder)) + QmsText(name);
      return std::make_pair(base, std::string(extension.Length() ? QmsText(extension) : kDataExtension));
    };
    auto [toBase, toExtension] = pathOf(m_DatabaseName, m_TableName);
    auto [fromBase, fromExtension] = pathOf(source.m_DatabaseName, source.m_TableName);
    std::string from = qtblfile::Resolve(fromBase + fromExtension);
    if (!qtblfile::Copy(from, toBase + toExtension)) QmsRaise(QMS_SEVERE_COPY);
    for (const std::string& companion : qtblfile::Companions(from)) {
      if (!qtblfile::Copy(companion, toBase + ExtensionOf(companion))) QmsRaise(QMS_SEVERE_COPY);
    }
    return 1;
  });
}

void CQmsFolioRackTable::Pack() {
  QmsGuarded(QMS_SITE(kClass, "Pack", ""), [&] {
    if (m_ppData == nullptr) QmsRaise(QMS_SEVERE_NOT_READY);
    RefuseOrdered();
    d4pack(OpenData());
    TakeEngineError();
  });
}
