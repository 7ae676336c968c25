// The table library's error codes and the one convention every public method
// follows.
//
// A failure is a `long` code, thrown. Its decimal digits carry its meaning:
// code / 10,000,000 is 1 for an outcome ("Success"), 2 for a failure
// ("Failure"); (code / 1,000,000) mod 10 is the level (0 informative,
// 1 warning, 2 severe, 3 fatal); the last six digits number the code within
// its level. Each public method catches a code, reports it once through the
// global log (class, method, source file, line, an extra text) and throws it
// on, so one failure leaves one entry per library method it passes, innermost
// first. The log ends the program when the level reaches its fatality level.
//
// The codes are stored and compared as 32-bit values; `long` is only the type
// they are thrown and caught as.
#pragma once

#include <cstdint>
#include <utility>

// The library's one-byte truth value: 0 false, anything else true.
using QBOOL = unsigned char;

enum QMS_ERROR_LEVEL : int32_t {
  QMS_ERROR_INFORMATIVE = 0,
  QMS_ERROR_WARNING = 1,
  QMS_ERROR_SEVERE = 2,
  QMS_ERROR_FATAL = 3,
  QMS_ERROR_NEVER = 999,  // as a fatality level nothing ends the program; as a report level nothing is reported
};

// The codes the library raises, named; their texts are in the code table
// (QmsErrorText).
constexpr long QMS_INFO_YES = 10000000;
constexpr long QMS_INFO_NO = 10000001;
constexpr long QMS_INFO_EOF = 10000003;
constexpr long QMS_INFO_END_OF_ENUM = 10000004;
constexpr long QMS_INFO = 10000002;
constexpr long QMS_WARN_UNIMPLEMENTED = 11000004;
constexpr long QMS_WARN_MOVE = 11000010;
constexpr long QMS_WARN_VERIFICATION = 11000011;
constexpr long QMS_WARN_DEFAULT_DATE_HINT = 11000013;
constexpr long QMS_WARN_FIELD_COUNT = 11000021;
constexpr long QMS_WARN_UNSUPPORTED_TYPE = 11000028;
constexpr long QMS_WARN_FIELD_COUNTS_DIFFER = 11000030;
constexpr long QMS_WARN_DESTRUCTOR = 11000032;
constexpr long QMS_WARN_CONNECT_PARAMS = 11000034;  // no text in the code table
constexpr long QMS_SEVERE = 22000000;
constexpr long QMS_SEVERE_BAD_INPUT = 22000003;
constexpr long QMS_SEVERE_CLOSE_FILE = 22000004;
constexpr long QMS_SEVERE_OPEN_FILE = 22000005;
constexpr long QMS_SEVERE_READ_FILE = 22000006;
constexpr long QMS_SEVERE_WRITE_FILE = 22000007;
constexpr long QMS_SEVERE_INVALID_ARGUMENT = 22000008;
constexpr long QMS_SEVERE_INVALID_OBJECT = 22000009;
constexpr long QMS_SEVERE_NOT_FOUND = 22000010;
constexpr long QMS_SEVERE_OUT_OF_BOUNDS = 22000011;
constexpr long QMS_SEVERE_OUT_OF_MEMORY = 22000012;
constexpr long QMS_SEVERE_TOO_LARGE = 22000013;
constexpr long QMS_SEVERE_INPUT_TOO_LOW = 22000014;
constexpr long QMS_SEVERE_WRONG_VARIANT = 22000016;
constexpr long QMS_SEVERE_INDEX = 22000027;  // no text in the code table
constexpr long QMS_SEVERE_NO_NAME = 22000032;
constexpr long QMS_SEVERE_NO_FIELDS = 22000033;
constexpr long QMS_SEVERE_NOT_READY = 22000034;
constexpr long QMS_SEVERE_TABLE_OPEN = 22000035;
constexpr long QMS_SEVERE_TABLE_CLOSED = 22000037;
constexpr long QMS_SEVERE_REMOVE = 22000038;
constexpr long QMS_SEVERE_MOVE = 22000039;
constexpr long QMS_SEVERE_OPEN = 22000040;
constexpr long QMS_SEVERE_CLOSE = 22000041;
constexpr long QMS_SEVERE_COMMIT = 22000042;
constexpr long QMS_SEVERE_ADD_RECORD = 22000043;
constexpr long QMS_SEVERE_FIELD_NAME_LENGTH = 22000045;
constexpr long QMS_SEVERE_NO_INDEX = 22000047;
constexpr long QMS_SEVERE_RECORD_NUMBER = 22000048;
constexpr long QMS_SEVERE_LAST_INDEX = 22000049;
constexpr long QMS_SEVERE_PROTOTYPE_INVALID = 22000050;
constexpr long QMS_SEVERE_INVALID_TYPE = 22000052;
constexpr long QMS_SEVERE_RECORD_LOCKED = 22000053;
constexpr long QMS_SEVERE_SEEK_EMPTY = 22000084;
constexpr long QMS_SEVERE_FIELD_EXISTS = 22000086;
constexpr long QMS_SEVERE_INVALID_FIELD_MAP = 22000087;
constexpr long QMS_SEVERE_FIELD_COUNTS = 22000091;
constexpr long QMS_SEVERE_FIELD_NOT_ADDED = 22000093;
constexpr long QMS_SEVERE_DATE_HINT = 22000116;
constexpr long QMS_SEVERE_USE_OTHER_ADD = 22000117;
constexpr long QMS_SEVERE_INVALID_TABLE = 22000118;
constexpr long QMS_SEVERE_INVALID_RECORD = 22000119;
constexpr long QMS_SEVERE_EXTENSION = 22000120;
constexpr long QMS_SEVERE_DISK_FULL = 22000128;
constexpr long QMS_SEVERE_DATE_MISMATCH = 22000130;
constexpr long QMS_SEVERE_INVALID_TRIM = 22000131;
constexpr long QMS_SEVERE_COPY = 22000136;
constexpr long QMS_SEVERE_CREATE = 22000142;
constexpr long QMS_SEVERE_NO_FORMAT_FILE = 22000160;
constexpr long QMS_SEVERE_RENAME = 22000166;
constexpr long QMS_FATAL_BAD_POINTER = 23000000;
constexpr long QMS_FATAL_DEAD_OBJECT = 23000001;
constexpr long QMS_FATAL_DESTRUCTOR = 23000002;

// The level of a code (negative for negative codes, which no level reaches).
constexpr long QmsErrorLevel(long code) { return (code / 1000000) % 10; }

// The text of a code; "There is no message defined for this error" for codes
// outside the table.
const char* QmsErrorText(long code);

// Throws a code; the one way the library raises.
[[noreturn]] inline void QmsRaise(long code) { throw code; }

class CQmsObject;

// Where a method reports: its class text (or the object whose run-time class
// name is the text), method name, extra text, source file and line, and the
// trace level of its enter/leave entries (0: not traced).
struct QmsSite {
  const char* cls;
  const CQmsObject* owner;
  const char* method;
  const char* text;
  const char* file;
  long line;
  int traceLevel;
};

// A site with a fixed class text, and one whose class text is the object's
// run-time class name. The line is that of the handler.
#define QMS_SITE(cls, method, text) QmsSite{(cls), nullptr, (method), (text), __FILE__, __LINE__, 0}
#define QMS_OBJECT_SITE(object, method, text, level) \
  QmsSite{nullptr, (object), (method), (text), __FILE__, __LINE__, (level)}

// Reports a code through the global log's HandleError (which may end the
// program); the caller throws it on.
void QmsReport(long code, const QmsSite& site);

// Trace enter and leave entries of a site, when the log wants them.
bool QmsTraceWanted(int level);
void QmsTraceEnter(const QmsSite& site);
void QmsTraceLeave(const QmsSite& site);

class QmsTraceScope {
 public:
  explicit QmsTraceScope(const QmsSite& site)
      : site_(site), on_(site.traceLevel > 0 && QmsTraceWanted(site.traceLevel)) {
    if (on_) QmsTraceEnter(site_);
  }
  ~QmsTraceScope() {
    if (on_) QmsTraceLeave(site_);
  }
  QmsTraceScope(const QmsTraceScope&) = delete;
  QmsTraceScope& operator=(const QmsTraceScope&) = delete;

 private:
  const QmsSite& site_;
  bool on_;
};

// Runs a method body under the convention: a code that leaves the body is
// reported at the site and thrown on.
template <class Body>
decltype(auto) QmsGuarded(const QmsSite& site, Body&& body) {
  QmsTraceScope trace(site);
  try {
    return std::forward<Body>(body)();
  } catch (long code) {
    QmsReport(code, site);
    throw;
  }
}

// Runs a yes/no test: the body throws QMS_INFO_YES, QMS_INFO_NO or a failure
// code; nothing is reported and the answer is true only for QMS_INFO_YES.
template <class Body>
bool QmsAnswer(Body&& body) {
  long kept = QMS_INFO_YES;
  try {
    std::forward<Body>(body)();
  } catch (long code) {
    kept = code;
  }
  return kept == QMS_INFO_YES;
}
