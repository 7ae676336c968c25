#include "tables/qtable.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kNotImplemented = "This function is not implemented";

std::string Cut(const char* text, size_t length) {
  return std::string(text, length < size_t(CQmsTable::kPathPartLimit) ? length : size_t(CQmsTable::kPathPartLimit));
}

}  // namespace

std::string QmsFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(size_t(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(size_t(n));
  }
  va_end(again);
  return text;
}

CQmsTable::~CQmsTable() = default;

void CQmsTable::ReportNotImplemented(const char* method) const {
  QmsReport(QMS_WARN_UNIMPLEMENTED, QMS_OBJECT_SITE(this, method, kNotImplemented, 0));
}

const char* CQmsTable::GetFieldName(int index) const {
  return QmsGuarded(QMS_OBJECT_SITE(this, "GetFieldName", "", 0), [&] {
    // One record for every table, so the answer lives until the next call.
    static CQmsRecord shared;
    GetFields(shared);
    return shared.GetFieldName(index);
  });
}

QBOOL CQmsTable::GetAutoOpenIndex() {
  ReportNotImplemented("GetAutoOpenIndex");
  return 0;
}

void CQmsTable::SetAutoOpenIndex(QBOOL) {}

void CQmsTable::SetWhereClause(const char*) { ReportNotImplemented("SetWhereClause"); }

long CQmsTable::AllocIndexInfo(_QMS_TABLE_INDEXES**) {
  ReportNotImplemented("AllocIndexInfo");
  return -1;
}

void CQmsTable::FreeIndexInfo(_QMS_TABLE_INDEXES*) { ReportNotImplemented("FreeIndexInfo"); }

long CQmsTable::GetIndexCount() {
  ReportNotImplemented("GetIndexCount");
  return -1;
}

void CQmsTable::CreateIndex(const char*, const char*, QBOOL) { ReportNotImplemented("CreateIndex"); }

void CQmsTable::DeleteIndex(const char*) { ReportNotImplemented("DeleteIndex"); }

void CQmsTable::SetIndex(const char*) { ReportNotImplemented("SetIndex"); }

void CQmsTable::GetPathParts(const char* path, CQmsStringPtr& folder, CQmsStringPtr& name,
                             CQmsStringPtr& extension) {
  folder = "";
  name = "";
  extension = "";
  if (path == nullptr || path[0] == 0) return;
  size_t length = std::strlen(path);
  size_t nameAt = 0;
  size_t dotAt = std::string::npos;
  for (size_t i = 0; i < length; i++) {
    if (path[i] == '/' || path[i] == '\\') nameAt = i + 1;
    if (path[i] == '.') dotAt = i;
  }
  if (nameAt > 0) {
    std::string text = Cut(path, nameAt);
    for (char& c : text) {
      if (c == '\\') c = '/';
    }
    folder = text.c_str();
  }
  if (dotAt != std::string::npos && dotAt >= nameAt) {
    name = Cut(path + nameAt, dotAt - nameAt).c_str();
    extension = Cut(path + dotAt, length - dotAt).c_str();
  } else {
    name = Cut(path + nameAt, length - nameAt).c_str();
  }
}
