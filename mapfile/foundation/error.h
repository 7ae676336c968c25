// The foundation's error stack, message texts and fatal errors.
//
// Routines never throw to their callers. A failure pushes (severity 4,
// code, up to two argument texts) onto the ErrorStack and returns the
// routine's failure value (0, null, -1 or a defined empty result). Most
// codes have no text in the message table and reach callers as numbers.
//
// ErrorFatal unwinds only when fatal-error trapping is on and an exported
// entry's guard (RunGuarded) is armed; it then throws FatalTrap, which only
// the guard catches. Code that may reach ErrorFatal holds no heap block it
// would lose while unwinding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

inline constexpr int kErrorRecordCount = 30;
inline constexpr int kErrorTextArea = 9000;
inline constexpr int kErrorFormatBuffer = 1024;
inline constexpr int16_t kErrorSeverity = 4;
inline constexpr int16_t kErrorSeparatorCode = -1;

// Codes the foundation itself pushes or hands out.
enum ErrorCode : int16_t {
  kErrInternal = 479,          // "Internal Error: %u": a trapped fatal error
  kErrTooManyErrors = 588,     // "Too many errors.  Error information has been lost."
  kErrAllocFailed = 632,
  kErrResizeFailed = 633,
  kErrCarriesNumber = 848,     // ErrorLastCode reads the number in argument text 0
  kErrResourceMissing = 973,
  kErrNotInitialised = 1929,
  kErrInitRefused = 1930,
};

struct ErrorRecord {
  int16_t severity;
  int16_t code;  // 0 ends the used part; -1 separates batches
  struct Slot {
    uint16_t offset;  // into the text area
    uint16_t length;  // with the NUL; 0 = no text
  } lead, arg0, arg1;
};
static_assert(sizeof(ErrorRecord) == 16);

// One heap block, allocated at initialisation with MemAllocZero.
struct ErrorStack {
  uint16_t count;     // pushed since the last clear (goes on past 30)
  uint16_t cursor;    // next record ErrorReport reads
  uint16_t reported;  // stored since the last clear (ErrorCount)
  uint16_t pending;   // stored since the last separator
  uint16_t overflow;  // 1 once a record or a text had to be dropped
  ErrorRecord records[kErrorRecordCount];
  char text[kErrorTextArea];
  char format[kErrorFormatBuffer];
};
static_assert(sizeof(ErrorStack) == 10514);

// Allocates / frees the process-wide stack (the interface frame calls these
// at its first initialisation and last shutdown). Create answers 1 or 0.
int16_t ErrorStackCreate();
void ErrorStackDestroy();

void ErrorClear();
void ErrorPush(int16_t severity, int16_t code, const char* text0, const char* text1);
void ErrorSeparate();
// The record's text into the stack's format buffer; returns that buffer.
const char* ErrorFormat(const ErrorRecord& record);
int16_t ErrorReport(uint16_t restart, char* buffer, int16_t size);
int16_t ErrorReportFatal();
int32_t ErrorLastCode();
int16_t ErrorHasCode(uint16_t code);
uint16_t ErrorCount();

// Message table lookups. MsgGetText's text stays valid for ten further calls.
const char* MsgGetText(int32_t id);
int16_t MsgExists(int32_t id);

// Unwinds to the armed guard when trapping is on (see the top of this file);
// otherwise returns 0 at once. The fatal text is kept (FatalText()).
int ErrorFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* FatalText();
// 0: the trapping flag; any other flag inverts it and gives the new value.
// The interface exports it unguarded as PXToggleFatalErrors (ordinal 111).
uint16_t TrapToggle(uint16_t flag);
void VersionFormat(char* buffer, int16_t version);

// The trap's exception; thrown by ErrorFatal, caught only by RunGuarded.
class FatalTrap {
 public:
  FatalTrap() = default;
};

// The jump point of the running exported entry: armed while the object lives.
class GuardArm {
 public:
  GuardArm();
  ~GuardArm();
  GuardArm(const GuardArm&) = delete;
  GuardArm& operator=(const GuardArm&) = delete;
};

// The guard of an exported entry: clears the stack, arms the jump point and
// runs body(); a trapped fatal error pushes 479 and gives `failure`. Nothing
// thrown leaves it.
template <class R, class Body>
R RunGuarded(R failure, Body&& body) noexcept {
  try {
    ErrorClear();
    GuardArm arm;
    return body();
  } catch (const FatalTrap&) {
    ErrorPush(kErrorSeverity, kErrInternal, nullptr, nullptr);
    return failure;
  } catch (...) {
    ErrorPush(kErrorSeverity, kErrInternal, nullptr, nullptr);
    return failure;
  }
}

}  // namespace layerio
