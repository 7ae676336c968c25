#include "tables/qlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr size_t kFormatLimit = 1024;  // 1023 characters and a terminator
constexpr const char* kTerminateLine = "CmpTerminateFunction() was called by terminate().\n";
constexpr const char* kTraceEnter = "********** >>>>>> Trace enter >>>>>> **********";
constexpr const char* kTraceLeave = "********** <<<<<< Trace leave <<<<<< **********";

// The text of a format and its arguments, cut to 1023 characters.
std::string FormatText(const char* format, va_list args) {
  char text[kFormatLimit];
  std::vsnprintf(text, sizeof text, format ? format : "", args);
  return text;
}

const char* Banner(long level) {
  switch (level) {
    case 0:
      return "************************ INFORMATIVE ************************";
    case 1:
      return "************************** WARNING **************************";
    case 2:
      return "************************ SEVERE ERROR ***********************";
    case 3:
      return "************************* FATAL ERROR ***********************";
    default:
      return "*************************** ERROR ***************************";
  }
}

std::string CodeHeader(long code) {
  std::string text = Banner(code < 0 ? -1 : QmsErrorLevel(code));
  text += '\n';
  const char* message = QmsErrorText(code);
  if (message[0] != 0) {
    long kind = code / 10000000;
    text += kind == 1 ? "*** Success: " : kind == 2 ? "*** Failure: " : "*** Error:   ";
    text += " *** ";
    text += std::to_string(code);
    text += ": ";
    text += message;
    text += '\n';
  }
  return text;
}

bool Given(const char* text) { return text != nullptr && text[0] != 0; }

std::string LocationBlock(const char* prefix, const char* cls, const char* method, const char* file, long line) {
  std::string text;
  std::string start = prefix ? prefix : "";
  if (Given(cls) && Given(method)) {
    text += start + "*** " + cls + "::" + method + "\n";
  } else if (Given(cls)) {
    text += start + "*** " + cls + "\n";
  } else if (Given(method)) {
    text += start + "*** " + method + "\n";
  }
  if (Given(file)) {
    text += start + "*** File:  " + file + "\n";
    text += start + "*** Line " + std::to_string(line) + "\n";
  }
  return text;
}

char* NewCopy(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Copies a text into a fixed field, cut to leave the terminator, the rest zeros.
template <size_t N>
void FillField(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  StrCopySized(field, text ? text : "", N);
}

void RemoveFile(const char* name) {
  platform::Env& env = platform::Env::Current();
  env.Remove(env.ResolveExisting(name));
}

bool FileExists(const char* name) {
  platform::FileInfo info;
  return platform::Env::Current().PathStat(name, &info) == 0;
}

}  // namespace

// ---- the process-wide log ----

CQmsGlobal& QmsGlobal() {
  static CQmsGlobal global;
  return global;
}

void QmsLogStart() {
  QmsGlobal().m_Log.Start();
  std::set_terminate(CmpTerminateFunction);
}

// ---- the error convention's entry points ----

void QmsReport(long code, const QmsSite& site) {
  const char* cls = site.cls ? site.cls : site.owner ? site.owner->GetClassName() : "";
  QmsGlobal().m_Log.HandleError(code, cls, site.method, site.file, site.line, site.text);
}

bool QmsTraceWanted(int level) {
  const CQmsLog& log = QmsGlobal().m_Log;
  return log.GetTraceActive() && level <= log.GetTraceReportLevel();
}

void QmsTraceEnter(const QmsSite& site) {
  const char* cls = site.cls ? site.cls : site.owner ? site.owner->GetClassName() : "";
  QmsGlobal().m_Log.PutTraceEnter(site.traceLevel, cls, site.method, site.file, site.line);
}

void QmsTraceLeave(const QmsSite& site) {
  const char* cls = site.cls ? site.cls : site.owner ? site.owner->GetClassName() : "";
  QmsGlobal().m_Log.PutTraceLeave(site.traceLevel, cls, site.method, site.file, site.line);
}

// ---- CQmsLog ----

CQmsLog::CQmsLog()
    : m_pszIndentation(new char[kIndentLimit + 1]()),
      m_pFileResources(new CQmsIndexedCollection),
      m_pOStreamResources(new CQmsIndexedCollection) {
  AddErrorOstream(std::cerr);
  AddTraceOstream(std::cout);
}

void CQmsLog::Start() {
  AddErrorFilename("Error.log", FileExists("Error.log"));
  AddTraceFilename("Trace.log", FileExists("Trace.log"));
  m_bFatalEndsProgram = true;
}

CQmsLog::~CQmsLog() {
  Clear();
  delete[] m_pszIndentation;
  delete m_pFileResources;
  delete m_pOStreamResources;
}

CQmsLog& CQmsLog::operator=(const CQmsLog& other) {
  if (&other == this) return *this;
  m_cIndentChar = other.m_cIndentChar;
  m_iIndentIncrement = other.m_iIndentIncrement;
  m_iTraceReportLevel = other.m_iTraceReportLevel;
  m_bTraceActive = other.m_bTraceActive;
  m_eFatalityLevel = other.m_eFatalityLevel;
  m_eReportLevel = other.m_eReportLevel;
  m_pAppErrorHandler = other.m_pAppErrorHandler;
  return *this;
}

void CQmsLog::DestroyDestinations() {
  try {
    m_pFileResources->RemoveAndDestroyAllItems();
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to clear the file collection", "Clear");
  }
  try {
    m_pOStreamResources->RemoveAndDestroyAllItems();
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to clear the ostream collection", "Clear");
  }
}

void CQmsLog::Clear() {
  m_pAppErrorHandler = nullptr;
  m_iTraceReportLevel = 0;
  m_iIndentation = 0;
  m_eFatalityLevel = QMS_ERROR_FATAL;
  m_eReportLevel = QMS_ERROR_WARNING;
  m_iIndentIncrement = 3;
  std::memset(m_pszIndentation, 0, kIndentLimit + 1);
  DestroyDestinations();
}

void CQmsLog::ClearBits(int type, const char* method) {
  try {
    for (long i = 0; i < m_pFileResources->GetCount(); i++) {
      static_cast<CQmsFileResource*>(m_pFileResources->GetAtIndex(i))->m_uMask &= ~uint32_t(type);
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to clear the file collection", method);
  }
  try {
    for (long i = 0; i < m_pOStreamResources->GetCount(); i++) {
      static_cast<CQmsOStreamResource*>(m_pOStreamResources->GetAtIndex(i))->m_uMask &= ~uint32_t(type);
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to clear the ostream collection", method);
  }
}

void CQmsLog::ClearError() { ClearBits(QMS_LOG_ERROR, "ClearError"); }
void CQmsLog::ClearTrace() { ClearBits(QMS_LOG_TRACE, "ClearTrace"); }

void CQmsLog::AddFilename(int type, const char* name, unsigned char overwrite) {
  try {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    for (long i = 0; i < m_pFileResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsFileResource*>(m_pFileResources->GetAtIndex(i));
      if (std::strcmp(resource->m_Name, name) == 0) {
        resource->m_uMask |= uint32_t(type);
        return;
      }
    }
    if (overwrite) RemoveFile(name);
    auto* resource = new CQmsFileResource(name, uint32_t(type));
    try {
      m_pFileResources->Add(resource);
    } catch (long) {
      delete resource;
      throw;
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to add %s as resource type %d", "AddFilename", name ? name : "(null)", type);
  }
}

void CQmsLog::AddOstream(int type, std::ostream& stream) {
  try {
    for (long i = 0; i < m_pOStreamResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsOStreamResource*>(m_pOStreamResources->GetAtIndex(i));
      if (&resource->m_Stream == &stream) {
        resource->m_uMask |= uint32_t(type);
        return;
      }
    }
    auto* resource = new CQmsOStreamResource(stream, uint32_t(type));
    try {
      m_pOStreamResources->Add(resource);
    } catch (long) {
      delete resource;
      throw;
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to add an ostream as resource type %d", "AddOstream", type);
  }
}

void CQmsLog::RemoveFilename(int type, const char* name) {
  try {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    for (long i = 0; i < m_pFileResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsFileResource*>(m_pFileResources->GetAtIndex(i));
      if (std::strcmp(resource->m_Name, name) != 0) continue;
      if ((resource->m_uMask & uint32_t(type)) == uint32_t(type)) {
        resource->m_uMask &= ~uint32_t(type);
        if (resource->m_uMask == 0) delete m_pFileResources->RemoveItemAt(i);
      }
      return;
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to remove %s", "RemoveFilename", name ? name : "(null)");
  }
}

void CQmsLog::RemoveOstream(int type, std::ostream& stream) {
  try {
    for (long i = 0; i < m_pOStreamResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsOStreamResource*>(m_pOStreamResources->GetAtIndex(i));
      if (&resource->m_Stream != &stream) continue;
      if ((resource->m_uMask & uint32_t(type)) == uint32_t(type)) {
        resource->m_uMask &= ~uint32_t(type);
        if (resource->m_uMask == 0) delete m_pOStreamResources->RemoveItemAt(i);
      }
      return;
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to remove ostream", "RemoveOstream");
  }
}

void CQmsLog::Put(int type, const char* text) {
  const uint32_t bits = uint32_t(type);
  bool sent = false;
  try {
    for (long i = 0; i < m_pFileResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsFileResource*>(m_pFileResources->GetAtIndex(i));
      if ((resource->m_uMask & bits) != bits) continue;
      PutFileMessage(resource->m_Name, text);
      sent = true;
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to write output for the file collection", "Put");
  }
  try {
    for (long i = 0; i < m_pOStreamResources->GetCount(); i++) {
      auto* resource = static_cast<CQmsOStreamResource*>(m_pOStreamResources->GetAtIndex(i));
      if ((resource->m_uMask & bits) != bits) continue;
      resource->m_Stream << text;
      resource->m_Stream.flush();
      sent = true;
      if (!resource->m_Stream) {
        PutCerrData("CQmsLog::%s failed to write to ostream", "Put");
        std::cerr << text << std::endl;
      }
    }
  } catch (long) {
    PutCerrData("CQmsLog::%s failed to write output for the ostream collection", "Put");
  }
  if (!sent) {
    PutCerrData("CQmsLog::%s There are no log destinations of type %d!", "Put", type);
    std::cerr << text << std::endl;
  }
}

char* CQmsLog::NewFormatedClassMethodFileLine(const char* prefix, const char* cls, const char* method,
                                              const char* file, long line) {
  return NewCopy(LocationBlock(prefix, cls, method, file, line));
}

char* CQmsLog::NewFormatedErrorCodeWithMessage(long code) { return NewCopy(CodeHeader(code)); }

void CQmsLog::PutErrorMessage(const char* text) { Put(QMS_LOG_ERROR, text ? text : ""); }

void CQmsLog::PutErrorMessage(long code, const char* text) {
  if (!Reports(code)) return;
  try {
    std::string entry = CodeHeader(code);
    entry += text ? text : "";
    entry += "\n\n";
    Put(QMS_LOG_ERROR, entry.c_str());
  } catch (const std::exception&) {
    PutErrorMessage("CQmsLog::PutErrorMessage failed!!!");
  }
}

void CQmsLog::PutErrorMessage(long code, const char* cls, const char* method, const char* file, long line,
                              const char* text) {
  if (!Reports(code)) return;
  try {
    std::string entry = CodeHeader(code);
    entry += LocationBlock("", cls, method, file, line);
    entry += text ? text : "";
    entry += "\n";
    Put(QMS_LOG_ERROR, entry.c_str());
  } catch (const std::exception&) {
    PutErrorMessage("CQmsLog::PutErrorMessage failed!!!");
  }
}

void CQmsLog::PutErrorData(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutErrorMessage(text.c_str());
}

void CQmsLog::PutErrorData(long code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  try {
    PutErrorMessage((CodeHeader(code) + text + "\n").c_str());
  } catch (const std::exception&) {
    PutErrorMessage("CQmsLog::PutErrorData failed!!!");
  }
}

void CQmsLog::PutErrorData(long code, const char* cls, const char* method, const char* file, long line,
                           const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  try {
    PutErrorMessage((CodeHeader(code) + LocationBlock("", cls, method, file, line) + text + "\n\n").c_str());
  } catch (const std::exception&) {
    PutErrorMessage("CQmsLog::PutErrorData failed!!!");
  }
}

void CQmsLog::PutTraceMessage(const char* text) {
  if (m_bTraceActive) Put(QMS_LOG_TRACE, text ? text : "");
}

void CQmsLog::PutTraceMessage(int level, const char* text) {
  if (level <= m_iTraceReportLevel) PutTraceMessage(text);
}

void CQmsLog::PutTraceMessage(int level, const char* cls, const char* method, const char* file, long line,
                              const char* text) {
  if (!m_bTraceActive || level > m_iTraceReportLevel) return;
  std::string entry = m_pszIndentation;
  entry += text ? text : "";
  entry += "\n";
  entry += LocationBlock(m_pszIndentation, cls, method, file, line);
  entry += "\n";
  PutTraceMessage(entry.c_str());
}

void CQmsLog::PutTraceData(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutTraceMessage(text.c_str());
}

void CQmsLog::PutTraceData(int level, const char* format, ...) {
  if (level > m_iTraceReportLevel) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutTraceMessage(level, text.c_str());
}

void CQmsLog::PutTraceData(int level, const char* cls, const char* method, const char* file, long line,
                           const char* format, ...) {
  if (level > m_iTraceReportLevel) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutTraceMessage(level, cls, method, file, line, text.c_str());
}

void CQmsLog::SetIndentation(int indentation) {
  m_iIndentation = indentation;
  std::memset(m_pszIndentation, 0, kIndentLimit + 1);
  std::memset(m_pszIndentation, m_cIndentChar, size_t(indentation));
}

void CQmsLog::PutTraceEnter(int level, const char* cls, const char* method, const char* file, long line) {
  if (!m_bTraceActive || level > m_iTraceReportLevel) return;
  if (m_iIndentation + m_iIndentIncrement <= kIndentLimit) SetIndentation(m_iIndentation + m_iIndentIncrement);
  PutTraceMessage(level, cls, method, file, line, kTraceEnter);
}

void CQmsLog::PutTraceLeave(int level, const char* cls, const char* method, const char* file, long line) {
  if (!m_bTraceActive || level > m_iTraceReportLevel) return;
  PutTraceMessage(level, cls, method, file, line, kTraceLeave);
  if (m_iIndentation >= m_iIndentIncrement) SetIndentation(m_iIndentation - m_iIndentIncrement);
}

void CQmsLog::SetTraceIndentIncrement(int increment) {
  if (increment >= 0) m_iIndentIncrement = increment;
}

namespace {

bool KnownLevel(QMS_ERROR_LEVEL level) { return (level >= 0 && level <= 3) || level == QMS_ERROR_NEVER; }

}  // namespace

void CQmsLog::SetErrorFatalityLevel(QMS_ERROR_LEVEL level) {
  if (KnownLevel(level)) {
    m_eFatalityLevel = level;
  } else {
    PutErrorData(QMS_SEVERE_OUT_OF_BOUNDS, "%s failed to set a level of %d.\n", "SetErrorFatalityLevel", int(level));
  }
}

void CQmsLog::SetErrorReportLevel(QMS_ERROR_LEVEL level) {
  if (KnownLevel(level)) {
    m_eReportLevel = level;
  } else {
    PutErrorData(QMS_SEVERE_OUT_OF_BOUNDS, "%s failed to set a level of %d.\n", "SetErrorReportLevel", int(level));
  }
}

void CQmsLog::HandleError(long code, const char* cls, const char* method, const char* file, long line,
                          const char* text) {
  long level = QmsErrorLevel(code);
  bool terminate = false;
  if (level >= m_eReportLevel) {
    if (m_pAppErrorHandler != nullptr) {
      _QMS_ERROR_INFO info;
      info.lErrorCode = code;
      FillField(info.szClassName, cls);
      FillField(info.szMethodName, method);
      info.lLineNumber = line;
      FillField(info.szFileName, file);
      info.bQmpMethod = method != nullptr && std::strncmp(method, "Qmp", 3) == 0;
      FillField(info.szErrorText, text);
      QMS_ERROR_ACTION action = m_pAppErrorHandler(&info);
      if (action == QMS_ERROR_ACTION_HANDLED) return;
      if (action == QMS_ERROR_ACTION_TERMINATE) terminate = true;
    }
    PutErrorMessage(code, cls, method, file, line, text);
    if (terminate) std::terminate();
  }
  if (level >= m_eFatalityLevel && m_bFatalEndsProgram) std::terminate();
}

// ---- CQmsGlobal ----

void CmpTerminateFunction() {
  std::cout << kTerminateLine;
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // The entry of the fatal code is already on disk; nothing else is unwound.
  std::_Exit(-1);
}

CQmsGlobal& CQmsGlobal::operator=(const CQmsGlobal& other) {
  m_Log = other.m_Log;
  return *this;
}

void CQmsGlobal::FillVersion(CQmsStringPtr& text, int& major, int& minor, int& revision) {
  major = 1;
  minor = 1;
  revision = 0;
  text = "";
  text.AppendFormattedData("Ledgerkit version %d.%d.%d", major, minor, revision);
}

// ---- output helpers ----

extern "C" {

void PutCerrMessage(const char* text) { std::cerr << "*** ERROR *** " << (text ? text : "") << std::endl; }

void PutCerrData(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutCerrMessage(text.c_str());
}

void PutCoutMessage(const char* text) { std::cout << (text ? text : "") << '\n'; }

void PutCoutData(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  std::cout << text << std::endl;
}

void PutFileMessage(const char* file, const char* text) {
  const char* name = file ? file : "";
  const char* body = text ? text : "";
  platform::Env& env = platform::Env::Current();
  int fd = env.Open(name, platform::kWrite | platform::kAppend | platform::kCreate, 0644);
  if (fd < 0) {
    PutCerrData("::%s failed to open file \"%s\" ", "PutFileMessage", name);
    std::cerr << body << std::endl;
    return;
  }
  size_t length = std::strlen(body);
  if (env.Write(fd, body, length) != int64_t(length)) {
    PutCerrData("::%s failed to write to file \"%s\" ", "PutFileMessage", name);
    std::cerr << body << std::endl;
  }
  if (env.Close(fd) != 0) PutCerrData("::%s failed to close file \"%s\" ", "PutFileMessage", name);
}

void PutFileData(const char* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  PutFileMessage(file, text.c_str());
}

}  // extern "C"
