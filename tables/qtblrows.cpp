#include "tables/qtblrows.h"

#include <vector>

#include "xbase/xbase.h"

struct CQmsFolioRackRows::Engine {
  Code4 code;
  DATA4* data = nullptr;
  std::vector<FIELD4*> fields;
};

CQmsFolioRackRows::CQmsFolioRackRows() : m_pEngine(new Engine) {}

CQmsFolioRackRows::~CQmsFolioRackRows() { Close(); }

bool CQmsFolioRackRows::Open(const char* table) {
  Engine& e = *m_pEngine;
  Close();
  if (e.code.init() != 0) return false;
  // Exclusive use, no file replaced, no production index; failures are
  // codes in the context, never messages.
  e.code.accessMode = 1;
  e.code.offError = 1;
  e.code.createNewOnly = 1;
  e.code.safety = 1;
  e.code.autoOpen = 0;
  e.code.reportOpenFailure = 0;
  e.data = d4open(&e.code, table);
  if (e.data == nullptr || e.code.errorCode() < 0) return false;
  // The rows are usually read more than once: the table's blocks stay in
  // memory.
  code4optStart(&e.code);
  const int n = d4numFields(e.data);
  for (int j = 1; j <= n; ++j) e.fields.push_back(d4fieldJ(e.data, j));
  return true;
}

const char* CQmsFolioRackRows::IndexOn(const char* path, const char* field) {
  Engine& e = *m_pEngine;
  if (e.data == nullptr) return nullptr;
  Tag4info tags(e.code);
  tags.add(field, field, nullptr, 0, 0);
  INDEX4* made = i4create(e.data, path, tags.tags());
  if (made == nullptr || e.code.errorCode() < 0) return nullptr;
  const char* name = i4fileName(made);
  Tag4 tag(Data4(e.data), field);
  d4tagSelect(e.data, tag.tag);
  return name;
}

void CQmsFolioRackRows::Close() {
  Engine& e = *m_pEngine;
  if (e.data != nullptr) d4close(e.data);
  e.data = nullptr;
  e.fields.clear();
  m_bStarted = false;
}

int CQmsFolioRackRows::GetColumnCount() const { return int(m_pEngine->fields.size()); }

const char* CQmsFolioRackRows::GetColumnName(int column) const {
  return f4name(m_pEngine->fields.at(size_t(column)));
}

char CQmsFolioRackRows::GetColumnType(int column) const {
  return char(f4type(m_pEngine->fields.at(size_t(column))));
}

unsigned CQmsFolioRackRows::GetColumnWidth(int column) const {
  return f4len(m_pEngine->fields.at(size_t(column)));
}

unsigned CQmsFolioRackRows::GetColumnDecimals(int column) const {
  return unsigned(f4decimals(m_pEngine->fields.at(size_t(column))));
}

void CQmsFolioRackRows::Rewind() { m_bStarted = false; }

bool CQmsFolioRackRows::Next() {
  DATA4* data = m_pEngine->data;
  if (data == nullptr) {
    m_bFailed = true;
    return false;
  }
  const int rc = m_bStarted ? d4skip(data, 1) : d4top(data);
  m_bStarted = true;
  if (rc < 0) m_bFailed = true;
  return rc == 0 && !d4eof(data);
}

std::string_view CQmsFolioRackRows::GetColumnData(int column) const {
  FIELD4* field = m_pEngine->fields[size_t(column)];
  return std::string_view(f4ptr(field), f4len(field));
}

long CQmsFolioRackRows::GetRecordNumber() const {
  return m_pEngine->data ? d4recNo(m_pEngine->data) : 0;
}

long CQmsFolioRackRows::GetRecordCount() const {
  return m_pEngine->data ? d4recCount(m_pEngine->data) : 0;
}

bool CQmsFolioRackRows::Healthy() const { return m_pEngine->code.errorCode() >= 0; }
