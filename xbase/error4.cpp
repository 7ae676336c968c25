#include "xbase/error4.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/env.h"
#include "xbase/conv4.h"
#include "xbase/date4.h"
#include "xbase/file4.h"

namespace {

constexpr const char* kUnknownError = "Invalid or Unknown Error Code";
constexpr const char* kBoxTitle = "FOLIORACK ERROR";
constexpr int kBoxSize = 256;

std::string RightAligned(long value, int width) {
  std::string text(size_t(width), ' ');
  c4ltoa45(value, text.data(), width);
  return text;
}

// Appends one entry to the context's error log at the file's end.
void WriteLogEntry(CODE4* c4, int code, long location, const char* t1, const char* t2,
                   const char* t3) {
  FILE4* log = c4->errorLog;
  // A failure while the entry is written must not log again, and the error
  // being reported must not stop the write.
  c4->errorLog = nullptr;
  int standing = c4->errorCode;
  c4->errorCode = 0;
  char date[12] = "CCYY/MM/DD ";
  char today[8];
  date4today(today);
  char picture[] = "CCYY/MM/DD";
  date4format(today, date, picture);
  char time[9] = {0};
  date4timeNow(time);
  std::string entry = std::string(date, 10) + "  " + std::string(time, 8) + "\r\n";
  entry += RightAligned(code, 10) + "\r\n";
  entry += std::string(error4text(code)) + "\r\n";
  entry += RightAligned(error4locationNumber(location), 10) + "\r\n";
  if (const char* where = error4locationText(location)) entry += std::string(where) + "\r\n";
  for (const char* extra : {t1, t2, t3}) {
    if (extra) entry += std::string(extra) + "\r\n";
  }
  entry += "\r\n\r\n";
  uint64_t end = file4len(log);
  if (end != ~uint64_t(0)) file4write(log, end, entry.data(), unsigned(entry.size()));
  c4->errorLog = log;
  c4->errorCode = standing;
}

void ShowBox(CODE4* c4, int code, long location, const char* t1, const char* t2,
             const char* t3) {
  if (c4 != nullptr) {
    c4->errorCode = code;
    if (c4->offError) return;
  }
  char text[kBoxSize + 1];
  int length = error4messageText(text, sizeof text, code, location, t1, t2, t3);
  c4oemToAnsi(text, size_t(length));
  platform::Env::Current().ShowMessage(kBoxTitle, std::string_view(text, size_t(length)));
}

void KeepText(CODE4* c4, int code, long location, const char* t1, const char* t2,
              const char* t3) {
  std::string text = error4text(code);
  if (const char* where = error4locationText(location)) text += std::string(" (") + where + ")";
  const char* separator = ": ";
  for (const char* extra : {t1, t2, t3}) {
    if (extra == nullptr || *extra == '\0') continue;
    text += separator;
    text += extra;
    separator = ", ";
  }
  const size_t n = std::min(text.size(), sizeof c4->errorText - 1);
  std::memcpy(c4->errorText, text.data(), n);
  c4->errorText[n] = '\0';
}

}  // namespace

int error4messageText(char* out, int size, int code, long location, const char* t1,
                      const char* t2, const char* t3) {
  std::string text;
  auto add = [&text](const char* piece) {
    // A text that would pass the box's size is left out, and so are those after it.
    if (text.size() + std::strlen(piece) + 2 > size_t(kBoxSize)) return false;
    text += piece;
    text += "\r\n";
    return true;
  };
  if (code != 0) {
    text = "Error #: " + RightAligned(code, 5) + "\r\n";
    text += "Error #: " + RightAligned(error4locationNumber(location), 6) + "\r\n";
    add(error4text(code));
    if (const char* where = error4locationText(location)) add(where);
  }
  for (const char* extra : {t1, t2, t3}) {
    if (extra == nullptr || !add(extra)) break;
  }
  int length = int(text.size()) < size - 1 ? int(text.size()) : size - 1;
  if (length < 0) return 0;
  std::memcpy(out, text.data(), size_t(length));
  out[length] = 0;
  return length;
}

int error4describe(CODE4* c4, int code, long location, const char* t1, const char* t2,
                   const char* t3) {
  if (c4 != nullptr) KeepText(c4, code, location, t1, t2, t3);
  if (c4 != nullptr && c4->errorLog != nullptr && c4->errorLog->handle >= 0) {
    WriteLogEntry(c4, code, location, t1, t2, t3);
  }
  if (c4 != nullptr && c4->errorCallback != nullptr) {
    c4->errorCallback(c4, code, location, t1, t2, t3);
  } else {
    ShowBox(c4, code, location, t1, t2, t3);
  }
  if (c4 != nullptr) {
    c4->errorCode = code;
    c4->errorLocation = int(location);
  }
  // Out of memory, corrupt structures and unexpected results are reported and
  // returned like every other error: a library never ends its process.
  return code;
}

int error4(CODE4* c4, int code, long location) {
  return error4describe(c4, code, location, nullptr, nullptr, nullptr);
}

int error4set(CODE4* c4, int code) {
  if (c4 == nullptr) return 0;
  int previous = c4->errorCode;
  c4->errorCode = code;
  return previous;
}

int error4code(CODE4* c4) { return c4 ? c4->errorCode : e4parmNull; }

const char* error4lastText(const CODE4* c4) { return c4 ? c4->errorText : ""; }

const char* error4text(int code) {
  for (const ERROR4DATA* row = error4table; row->errorData != nullptr; row++) {
    if (row->errorNum == code) return row->errorData;
  }
  return kUnknownError;
}

const ERROR4LOCATION* error4location(long location) {
  if (location < 10000) return nullptr;
  long group = location / 10000, n = location % 10000;
  const ERROR4LOCATION* table = nullptr;
  int count = 0;
  switch (group) {
    case 4: table = error4locations4; count = error4locations4Count; break;
    case 6: table = error4locations6; count = error4locations6Count; break;
    case 8: table = error4locations8; count = error4locations8Count; break;
    case 9: table = error4locations9; count = error4locations9Count; break;
    default: return nullptr;
  }
  if (n + 1 >= count) return nullptr;
  return &table[n + 1];
}

const char* error4locationText(long location) {
  const ERROR4LOCATION* row = error4location(location);
  return row ? row->text : nullptr;
}

long error4locationNumber(long location) {
  const ERROR4LOCATION* row = error4location(location);
  return row ? row->shown : 0;
}
