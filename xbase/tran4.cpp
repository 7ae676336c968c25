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

// No log is open before the transaction layer: nothing starts a transaction
// and the entries have nowhere to go.
int code4tranStart(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_START);
  return error4(c4, e4trans, E4_TRAN_NOT_ENABLED);
}

int code4tranCommit(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_COMMIT);
  return 0;
}

int code4tranRollback(CODE4* c4) {
  if (c4 == nullptr) return error4(nullptr, e4parmNull, E4_CODE4_TRAN_ROLLBACK);
  return error4(c4, e4trans, E4_TRAN_NOT_ENABLED);
}

int tran4active(DATA4* data) {
  return data->logged && code4tranStatus(data->codeBase) == r4active ? 1 : 0;
}

int tran4logging(CODE4* c4) {
  return c4->logFileOpen && c4->transStatus != r4rollback && c4->transStatus != r4off ? 1 : 0;
}

int tran4logEntry(DATA4*, int, const void*, unsigned) { return 0; }

int tran4logCreate(CODE4*, const char*, const FIELD4INFO*, const TAG4INFO*) { return 0; }
