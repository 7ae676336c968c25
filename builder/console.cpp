#include "builder/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/env.h"
#include "tables/qlog.h"

namespace {

int logFile = -1;

constexpr const char* kPromptText = "If you wish to continue, ";

QMS_ERROR_ACTION BatchEntry(_QMS_ERROR_INFO* info) {
  CQmsLog& log = QmsGlobal().m_Log;
  if (QmsErrorLevel(info->lErrorCode) >= log.GetErrorFatalityLevel())
    return QMS_ERROR_ACTION_CONTINUE;
  const std::string text = BatchEntryText(info->szErrorText);
  log.PutErrorMessage(info->lErrorCode, info->szClassName, info->szMethodName, nullptr, 0,
                      text.c_str());
  return QMS_ERROR_ACTION_HANDLED;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof small) return std::string(small, size_t(n));
  std::string text(size_t(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(size_t(n));
  return text;
}

void ToStdout(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  // Progress lines end in a carriage return and must show at once.
  std::fflush(stdout);
}

void ToLog(const std::string& text) {
  if (logFile < 0) return;
  // The log is a help, not a result: a failed write does not stop the run.
  (void)platform::Env::Current().Write(logFile, text.data(), text.size());
}

}  // namespace

void BuildPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  ToStdout(text);
}

void BuildPrintLogged(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  ToStdout(text);
  ToLog(text);
}

void BuildLogWrite(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  ToLog(text);
}

bool BuildLogOpen(const std::string& path) {
  BuildLogClose();
  logFile = platform::Env::Current().Open(
      path, platform::kWrite | platform::kCreate | platform::kTruncate, 0666);
  return logFile >= 0;
}

void BuildLogClose() {
  if (logFile >= 0) platform::Env::Current().Close(logFile);
  logFile = -1;
}

bool BuildLogIsOpen() { return logFile >= 0; }

std::string BatchEntryText(const char* text) {
  std::string out = text ? text : "";
  const size_t prompt = std::string(kPromptText).size();
  for (size_t at = out.find(kPromptText); at != std::string::npos; at = out.find(kPromptText, at)) {
    out.erase(at, prompt);
    if (at < out.size() && out[at] >= 'a' && out[at] <= 'z') out[at] = char(out[at] - 'a' + 'A');
  }
  return out;
}

void BuildTableLogStart() {
  QmsLogStart();
  QmsGlobal().m_Log.SetAppErrorHandler(BatchEntry);
}
