// The table library's one log, process-wide (QmsGlobal()), made on first
// use. A program starts it from its main (QmsLogStart); a program that does
// not, and every test, has a log that writes to the standard streams only
// and never ends the process.
//
// Error entries: a banner by level, the line "*** Failure:  *** <code>:
// <text>", the location block (class::method, file, line) and an extra text,
// written to every error destination (the standard error stream, and
// "Error.log" in the working folder once started). HandleError reports a
// code when its level reaches the report level (warning by default) and lets
// an application handler see it first. When the level reaches the fatality
// level (fatal by default) a started log ends the program through the
// terminate handler, which prints "CmpTerminateFunction() was called by
// terminate()." and exits with status -1; a log not started lets the code
// travel up as an ordinary failure.
//
// Trace entries: indented enter/leave lines to every trace destination (the
// standard output stream, and "Trace.log" once started), written only when
// the trace switch is on and the entry's level is at most the trace report
// level (0 by default, so nothing is traced).
//
// File destinations are opened, appended to and closed for every entry, so
// an entry is on disk as soon as it is written. Starting the log deletes an
// existing "Error.log" and "Trace.log"; building one touches no file. The
// log never throws: its own failures go to the standard error stream.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "tables/qcolindx.h"
#include "tables/qobject.h"
#include "tables/qstringp.h"

// Destination types; a message goes to every destination whose mask holds
// all the bits of its type.
constexpr int QMS_LOG_ERROR = 1;
constexpr int QMS_LOG_TRACE = 2;

class CQmsFileResource : public CQmsCollectable {
 public:
  CQmsFileResource(const char* name, uint32_t mask) : m_Name(name), m_uMask(mask) {}
  CQmsStringPtr m_Name;
  uint32_t m_uMask;
};

class CQmsOStreamResource : public CQmsCollectable {
 public:
  CQmsOStreamResource(std::ostream& stream, uint32_t mask) : m_Stream(stream), m_uMask(mask) {}
  std::ostream& m_Stream;  // not owned
  uint32_t m_uMask;
};

// What the application error handler is given; every text is terminated.
struct _QMS_ERROR_INFO {
  long lErrorCode;
  char szClassName[256];
  char szMethodName[256];
  long lLineNumber;
  char szFileName[256];
  unsigned char bQmpMethod;  // 1 when the method name begins with "Qmp"
  char szErrorText[1280];
};

// The application handler's answer: 0 handled (nothing written, the program
// goes on), 2 write the entry and end the program, anything else write the
// entry and apply the fatality level.
enum QMS_ERROR_ACTION : int32_t {
  QMS_ERROR_ACTION_HANDLED = 0,
  QMS_ERROR_ACTION_CONTINUE = 1,
  QMS_ERROR_ACTION_TERMINATE = 2,
};

using QMS_ERROR_HANDLER = QMS_ERROR_ACTION (*)(_QMS_ERROR_INFO*);

class CQmsLog : public CQmsTest, public CQmsObject {
 public:
  static constexpr int kIndentLimit = 99;

  // Writes errors to the standard error stream and traces to the standard
  // output stream; touches no file.
  CQmsLog();
  ~CQmsLog() override;
  // A program's log: "Error.log" and "Trace.log" in the working folder join
  // the destinations (earlier ones deleted), and codes at the fatality level
  // end the program.
  void Start();
  bool EndsProgramOnFatal() const { return m_bFatalEndsProgram; }
  // Copies levels, trace settings and handler; each log keeps its own
  // destinations and indentation.
  CQmsLog& operator=(const CQmsLog& other);

  void AddErrorFilename(const char* name, unsigned char overwrite) { AddFilename(QMS_LOG_ERROR, name, overwrite); }
  void AddTraceFilename(const char* name, unsigned char overwrite) { AddFilename(QMS_LOG_TRACE, name, overwrite); }
  void AddErrorOstream(std::ostream& stream) { AddOstream(QMS_LOG_ERROR, stream); }
  void AddTraceOstream(std::ostream& stream) { AddOstream(QMS_LOG_TRACE, stream); }
  void RemoveErrorFilename(const char* name) { RemoveFilename(QMS_LOG_ERROR, name); }
  void RemoveTraceFilename(const char* name) { RemoveFilename(QMS_LOG_TRACE, name); }
  void RemoveErrorOstream(std::ostream& stream) { RemoveOstream(QMS_LOG_ERROR, stream); }
  void RemoveTraceOstream(std::ostream& stream) { RemoveOstream(QMS_LOG_TRACE, stream); }

  // Back to the default levels, no handler, no destinations; the trace switch
  // and the indentation character stay.
  void Clear();
  // Clears the error (trace) bit of every destination; the entries stay.
  void ClearError();
  void ClearTrace();

  const char* LookUpErrorMessage(long code) { return QmsErrorText(code); }

  // Written whatever the levels.
  void PutErrorMessage(const char* text);
  // Written when the code's level reaches the report level.
  void PutErrorMessage(long code, const char* text);
  void PutErrorMessage(long code, const char* cls, const char* method, const char* file, long line, const char* text);
  // Formatted forms (at most 1023 characters); those with a code are written
  // whatever the report level.
  void PutErrorData(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void PutErrorData(long code, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void PutErrorData(long code, const char* cls, const char* method, const char* file, long line,
                    const char* format, ...) __attribute__((format(printf, 7, 8)));

  void PutTraceMessage(const char* text);
  void PutTraceMessage(int level, const char* text);
  void PutTraceMessage(int level, const char* cls, const char* method, const char* file, long line,
                       const char* text);
  void PutTraceData(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void PutTraceData(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void PutTraceData(int level, const char* cls, const char* method, const char* file, long line,
                    const char* format, ...) __attribute__((format(printf, 7, 8)));
  void PutTraceEnter(int level, const char* cls, const char* method, const char* file, long line);
  void PutTraceLeave(int level, const char* cls, const char* method, const char* file, long line);

  void HandleError(long code, const char* cls, const char* method, const char* file, long line, const char* text);

  // Levels 0-3 and 999; any other value keeps the level and writes a 22000011 entry.
  void SetErrorFatalityLevel(QMS_ERROR_LEVEL level);
  void SetErrorReportLevel(QMS_ERROR_LEVEL level);
  QMS_ERROR_LEVEL GetErrorFatalityLevel() const { return m_eFatalityLevel; }
  QMS_ERROR_LEVEL GetErrorReportLevel() const { return m_eReportLevel; }
  void SetTraceActive(unsigned char on) { m_bTraceActive = on; }
  unsigned char GetTraceActive() const { return m_bTraceActive; }
  void SetTraceReportLevel(int level) { m_iTraceReportLevel = level; }
  int GetTraceReportLevel() const { return m_iTraceReportLevel; }
  // A negative increment is ignored.
  void SetTraceIndentIncrement(int increment);
  int GetTraceIndentIncrement() const { return m_iIndentIncrement; }
  void SetIndentationChar(char c) { m_cIndentChar = c; }
  char GetIndentationChar() const { return m_cIndentChar; }
  void SetAppErrorHandler(QMS_ERROR_HANDLER handler) { m_pAppErrorHandler = handler; }
  QMS_ERROR_HANDLER GetAppErrorHandler() const { return m_pAppErrorHandler; }
  // The current trace indentation.
  int GetTraceIndentation() const { return m_iIndentation; }

  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

 protected:
  void AddFilename(int type, const char* name, unsigned char overwrite);
  void AddOstream(int type, std::ostream& stream);
  void RemoveFilename(int type, const char* name);
  void RemoveOstream(int type, std::ostream& stream);
  void Put(int type, const char* text);
  // New texts that the caller deletes with delete[].
  char* NewFormatedClassMethodFileLine(const char* prefix, const char* cls, const char* method, const char* file,
                                       long line);
  char* NewFormatedErrorCodeWithMessage(long code);

 private:
  CQmsLog(const CQmsLog&) = delete;
  bool Reports(long code) const { return QmsErrorLevel(code) >= m_eReportLevel; }
  void SetIndentation(int indentation);
  void ClearBits(int type, const char* method);
  void DestroyDestinations();

  char m_cIndentChar = ' ';
  int m_iIndentation = 0;
  int m_iIndentIncrement = 3;
  int m_iTraceReportLevel = 0;
  unsigned char m_bTraceActive = 1;
  char* m_pszIndentation;  // kIndentLimit characters and a terminator
  CQmsIndexedCollection* m_pFileResources;
  CQmsIndexedCollection* m_pOStreamResources;
  QMS_ERROR_LEVEL m_eFatalityLevel = QMS_ERROR_FATAL;
  QMS_ERROR_LEVEL m_eReportLevel = QMS_ERROR_WARNING;
  QMS_ERROR_HANDLER m_pAppErrorHandler = nullptr;
  bool m_bFatalEndsProgram = false;  // set by Start only
};

class CQmsGlobal {
 public:
  CQmsGlobal() = default;
  virtual ~CQmsGlobal() = default;
  CQmsGlobal& operator=(const CQmsGlobal& other);
  // "Ledgerkit version 1.1.0" and its three numbers.
  void FillVersion(CQmsStringPtr& text, int& major, int& minor, int& revision);

  CQmsLog m_Log;

 private:
  CQmsGlobal(const CQmsGlobal&) = delete;
};

// The process-wide log's holder, made on first use.
CQmsGlobal& QmsGlobal();

// Starts the process-wide log for a program (CQmsLog::Start) and installs
// the terminate handler below. Called once, from the program's main.
void QmsLogStart();

// The terminate handler: the terminate line on the standard output stream,
// then exit status -1.
[[noreturn]] void CmpTerminateFunction();

// Output helpers; the formatted forms take at most 1023 characters.
extern "C" {
// "*** ERROR *** ", the text and a line end on the standard error stream.
void PutCerrData(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PutCerrMessage(const char* text);
// The text and a line end on the standard output stream (the formatted form flushes).
void PutCoutData(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PutCoutMessage(const char* text);
// Appends the text to the file (opened and closed for it); when the file
// does not take it, the text goes to the standard error stream instead.
void PutFileMessage(const char* file, const char* text);
void PutFileData(const char* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
}
