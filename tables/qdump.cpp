#include "tables/qdump.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr const char* kClass = "CQmsDump";

}  // namespace

CQmsDump::~CQmsDump() {
  m_pDumpFile.reset();
  m_DumpFileName = "";
}

void CQmsDump::OpenDump(const char* name) {
  QmsGuarded(QMS_SITE(kClass, "OpenDump", "OpenDump failed"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    m_DumpFileName = name;
    if (!m_pDumpFile) m_pDumpFile = std::make_unique<std::ofstream>();
    if (m_pDumpFile->is_open()) m_pDumpFile->close();
    m_pDumpFile->clear();
    m_pDumpFile->open(name, std::ios::out | std::ios::app);
    if (!m_pDumpFile->is_open()) QmsRaise(QMS_SEVERE_OPEN_FILE);
  });
}

void CQmsDump::CloseDump() {
  QmsGuarded(QMS_SITE(kClass, "CloseDump", "CloseDump failed"), [&] {
    if (!m_pDumpFile) QmsRaise(QMS_SEVERE_CLOSE_FILE);
    m_pDumpFile->close();
    if (m_pDumpFile->fail()) {
      m_pDumpFile->clear();
      QmsRaise(QMS_SEVERE_CLOSE_FILE);
    }
  });
}

void CQmsDump::PutDumpMessage(const char* text) {
  QmsGuarded(QMS_SITE(kClass, "PutDumpMessage", "PutDumpMessage failed"), [&] {
    if (!m_pDumpFile || !m_pDumpFile->is_open()) QmsRaise(QMS_SEVERE_OPEN_FILE);
    *m_pDumpFile << (text ? text : "");
    if (!*m_pDumpFile) QmsRaise(QMS_SEVERE_WRITE_FILE);
  });
}

void CQmsDump::PutDumpData(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format ? format : "", args);
  va_end(args);
  PutDumpMessage(text);
}
