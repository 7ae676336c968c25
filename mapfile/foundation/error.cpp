// The error stack, message lookups and the fatal-error trap.
//
// Records are stored in push order with their argument texts packed into
// one 9000-byte area. Each record's lead slot marks where its texts start,
// so the next record starts behind the furthest text of the one before, even
// when that record had no texts. A record or text that does not fit sets the
// overflow flag, which ErrorReport turns into message 588.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/messages.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"

namespace layerio {
namespace {

constexpr int kMessageBufferCount = 10;
constexpr int kMessageBufferSize = 256;
constexpr int kFatalReportSize = 2048;

ErrorStack* Stack() { return State().errors; }

uint16_t EndOf(const ErrorRecord& r) {
  uint32_t end = r.lead.offset;
  for (const ErrorRecord::Slot& s : {r.arg0, r.arg1}) {
    if (s.length && uint32_t(s.offset) + s.length > end) end = uint32_t(s.offset) + s.length;
  }
  return uint16_t(end);
}

const char* SlotText(const ErrorStack& st, const ErrorRecord::Slot& s) {
  return s.length ? st.text + s.offset : nullptr;
}

// The text of a code for a report: codes without a row read as an empty
// message rather than a missing resource, since most codes have none.
const char* ReportText(int32_t code) {
  if (code == kErrInternal || code == kErrResourceMissing || MsgExists(code)) {
    return MsgGetText(code);
  }
  return "";
}

}  // namespace

int16_t ErrorStackCreate() {
  FoundationState& s = State();
  if (s.errors) return 1;
  void* p = nullptr;
  if (!MemAllocZero(sizeof(ErrorStack), &s.errorsHandle, &p)) return 0;
  s.errors = static_cast<ErrorStack*>(p);
  return 1;
}

void ErrorStackDestroy() {
  FoundationState& s = State();
  void* p = s.errors;
  MemFreePtr(&p);
  s.errors = nullptr;
  s.errorsHandle = nullptr;
}

void ErrorClear() {
  if (ErrorStack* st = Stack()) std::memset(st, 0, sizeof *st);
}

void ErrorPush(int16_t severity, int16_t code, const char* text0, const char* text1) {
  ErrorStack* st = Stack();
  if (!st) return;
  int stored = st->count < kErrorRecordCount ? st->count : kErrorRecordCount;
  uint8_t mode = ParseMode();
  if ((mode == 0 || mode == 2) && code != kErrorSeparatorCode) {
    for (int i = 0; i < stored; ++i) {
      ErrorRecord& r = st->records[i];
      if (r.code == code) {
        if (severity > r.severity) r.severity = severity;
        return;
      }
    }
  }
  int i = st->count;
  if (st->count < 0xFFFF) ++st->count;
  if (i >= kErrorRecordCount) {
    st->overflow = 1;
    return;
  }
  if (st->overflow) return;  // nothing more until the stack is cleared

  ErrorRecord& r = st->records[i];
  r = ErrorRecord{};
  r.severity = severity;
  r.code = code;
  uint16_t used = i == 0 ? 0 : EndOf(st->records[i - 1]);
  r.lead.offset = used;
  ErrorRecord::Slot* slots[2] = {&r.arg0, &r.arg1};
  const char* texts[2] = {text0, text1};
  for (int k = 0; k < 2; ++k) {
    if (!texts[k]) continue;
    size_t length = std::strlen(texts[k]) + 1;
    size_t room = size_t(kErrorTextArea) - used;
    if (length > room) {
      st->overflow = 1;
      length = room;
    }
    if (length > 0) {
      StrCopyPadded(st->text + used, texts[k], length);
      slots[k]->offset = used;
      slots[k]->length = uint16_t(length);
      used = uint16_t(used + length);
    }
  }
  ++st->reported;
  ++st->pending;
}

void ErrorSeparate() {
  ErrorStack* st = Stack();
  if (!st || st->pending == 0) return;
  ErrorPush(0, kErrorSeparatorCode, nullptr, nullptr);
  st->pending = 0;
}

const char* ErrorFormat(const ErrorRecord& record) {
  ErrorStack* st = Stack();
  if (!st) return "";
  char* out = st->format;
  const size_t limit = kErrorFormatBuffer - 1;  // characters, NUL behind them
  size_t n = 0;
  out[0] = 0;
  if (const char* lead = SlotText(*st, record.lead)) {
    StrCopyPadded(out, lead, kErrorFormatBuffer);
    n = std::strlen(out);
  }
  const char* message = ReportText(record.code);
  const char* p = message;
  while (*p && n < limit) {
    if (p[0] == '^' && (p[1] == '0' || p[1] == '1' || p[1] == '^')) {
      if (p[1] == '^') {
        out[n++] = '^';
      } else {
        const char* arg = SlotText(*st, p[1] == '0' ? record.arg0 : record.arg1);
        if (arg) {
          size_t len = std::strlen(arg);
          if (len > limit - n) len = limit - n;
          std::memcpy(out + n, arg, len);
          n += len;
        }
      }
      p += 2;
      continue;
    }
    if (MbsIsLeadByte(p)) {
      if (p[1] == 0 || n + 2 > limit) break;
      out[n++] = p[0];
      out[n++] = p[1];
      p += 2;
      continue;
    }
    out[n++] = *p++;
  }
  out[n] = 0;
  return out;
}

int16_t ErrorReport(uint16_t restart, char* buffer, int16_t size) {
  ErrorStack* st = Stack();
  if (!st || !buffer || size <= 0) return 0;
  if (restart) st->cursor = 0;
  buffer[0] = 0;
  int i = st->cursor;
  ++st->cursor;
  bool met = false;
  size_t length = 0;
  while (i < kErrorRecordCount && st->records[i].code != 0 &&
         st->records[i].code != kErrorSeparatorCode) {
    met = true;
    char* formatted = const_cast<char*>(ErrorFormat(st->records[i]));
    size_t flen = std::strlen(formatted);
    if (length + flen + 1 >= size_t(size)) {
      st->overflow = 1;
      break;
    }
    if (flen && formatted[flen - 1] == '\n') formatted[--flen] = 0;
    std::memcpy(buffer + length, formatted, flen);
    length += flen;
    buffer[length++] = ' ';
    buffer[length] = 0;
    ++i;
    ++st->cursor;
  }
  if (st->overflow) {
    StrCopyPadded(st->format, MsgGetText(kErrTooManyErrors), kErrorFormatBuffer);
    size_t mlen = std::strlen(st->format);
    if (size_t(size) >= length + mlen + 2) {
      std::memcpy(buffer + length, st->format, mlen + 1);
    } else if (mlen + 1 <= size_t(size)) {
      // Over the end of what is there, so that the notice stays visible.
      std::memcpy(buffer + (size - 1 - mlen), st->format, mlen + 1);
    } else {
      StrCopyPadded(buffer, st->format, size_t(size));
    }
  }
  return met ? 1 : 0;
}

int16_t ErrorReportFatal() {
  char report[kFatalReportSize];
  ErrorReport(1, report, kFatalReportSize);
  if (report[0]) ErrorFatal("%s", report);
  // Not unwound (trapping off, or no guard armed): the records stay, so that
  // the caller still sees the failure rather than a stack emptied as though
  // all had gone well.
  return 0;
}

int32_t ErrorLastCode() {
  ErrorStack* st = Stack();
  if (!st || st->records[0].code == 0) return 0;
  const ErrorRecord& r = st->records[0];
  if (r.code == kErrCarriesNumber) {
    int16_t number = 0;
    const char* text = SlotText(*st, r.arg0);
    if (!text || !NumParseShort(text, &number)) return 0;
    return number;
  }
  return r.code;
}

int16_t ErrorHasCode(uint16_t code) {
  ErrorStack* st = Stack();
  if (!st) return 0;
  for (const ErrorRecord& r : st->records) {
    if (uint16_t(r.code) == code) return 1;
  }
  return 0;
}

uint16_t ErrorCount() {
  ErrorStack* st = Stack();
  return st ? st->reported : 0;
}

int16_t MsgExists(int32_t id) { return MsgFind(id) ? 1 : 0; }

const char* MsgGetText(int32_t id) {
  FoundationState& s = State();
  if (!s.messageBuffers) {
    s.messageBuffers =
        static_cast<char*>(MemAlloc(size_t(kMessageBufferCount) * kMessageBufferSize));
    if (!s.messageBuffers) {
      ErrorFatal("%s", kMsgNoBufferText);
      return "";
    }
  }
  char* buffer = s.messageBuffers + (s.messageNext % kMessageBufferCount) * kMessageBufferSize;
  s.messageNext = (s.messageNext + 1) % kMessageBufferCount;
  if (const MsgRow* row = MsgFind(id)) {
    StrCopyPadded(buffer, row->text, kMessageBufferSize - 1);
  } else if (id == kErrInternal) {
    StrCopyPadded(buffer, kMsgInternalErrorText, kMessageBufferSize - 1);
  } else if (id == kErrResourceMissing) {
    StrCopyPadded(buffer, kMsgResourceMissingText, kMessageBufferSize - 1);
  } else {
    buffer[0] = 0;
    ErrorFatal(kMsgNoResourceFormat, int(id));
  }
  return buffer;
}

int ErrorFatal(const char* format, ...) {
  FoundationState& s = State();
  if (!TrapToggle(0) || s.guardDepth <= 0) return 0;
  va_list args;
  va_start(args, format);
  std::vsnprintf(s.fatalText, sizeof s.fatalText, format, args);
  va_end(args);
  throw FatalTrap();
}

const char* FatalText() { return State().fatalText; }

uint16_t TrapToggle(uint16_t flag) {
  FoundationState& s = State();
  if (flag != 0) s.trapping = s.trapping ? 0 : 1;
  return s.trapping;
}

void VersionFormat(char* buffer, int16_t version) {
  std::snprintf(buffer, 16, "%d.%d", version / 100, version % 100);
}

GuardArm::GuardArm() { ++State().guardDepth; }
GuardArm::~GuardArm() { --State().guardDepth; }

}  // namespace layerio
