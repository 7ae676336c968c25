// Until the transaction layer is built no log is ever open: opening the log
// finds none, and the entries of open and close are not written.
#include "xbase/tran4.h"

#include "xbase/error4.h"

int code4logOpen(CODE4* c4, const char*, const char*) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, 90125);
  return 0;
}

int code4logOpenDefault(CODE4* c4) { return code4logOpen(c4, nullptr, nullptr); }

int code4tranStatus(CODE4* c4) { return c4 ? c4->transStatus : r4inactive; }

int tran4logOpen(DATA4* data) {
  data->logged = 0;
  return 0;
}

int tran4logClose(DATA4*) { return 0; }

int code4tranInitUndo(CODE4* c4) {
  c4->transStatus = r4inactive;
  return 0;
}
