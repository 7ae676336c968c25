// The transaction log as the other layers see it: opening the log with the
// first open or create (when it exists), the entries of open and close, the
// state of the active transaction, and its end at code4initUndo. The log
// format, transactions and rollback are the transaction layer's; until it
// is built no log is ever open.
#pragma once

#include "xbase/d4data.h"

// Transaction states (CODE4::transStatus).
enum : int { r4off = -2, r4inactive = 0, r4active = 120, r4rollback = 130, r4partial = 110 };

// Opens the log when it exists (name null: "C4.log"; user null: "PUBLIC").
int code4logOpen(CODE4* c4, const char* name, const char* user);
// Called by d4open and d4create when the context's logOpen is set.
int code4logOpenDefault(CODE4* c4);
int code4tranStatus(CODE4* c4);
// The open entry of a handle (type 1, or 2 for a temporary file).
int tran4logOpen(DATA4* data);
// The close entry of a handle.
int tran4logClose(DATA4* data);
// Ends the transaction layer at code4initUndo (an active transaction is
// rolled back; the log is closed).
int code4tranInitUndo(CODE4* c4);

// ---- transactions of the write paths ----
int code4tranStart(CODE4* c4);
int code4tranCommit(CODE4* c4);
int code4tranRollback(CODE4* c4);
// A transaction is active and the handle's changes are logged.
int tran4active(DATA4* data);
// Logging is on: the log is open and not rolling back or switched off.
int tran4logging(CODE4* c4);
// Appends one entry of the handle (type 8 change, 9 append, 10 undo, 12
// pack) with its data: 0, or -1240 when it cannot be written.
int tran4logEntry(DATA4* data, int type, const void* bytes, unsigned length);
// The entry of a created data file (type 11).
int tran4logCreate(CODE4* c4, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags);

enum : int { t4logChange = 8, t4logAppend = 9, t4logUndo = 10, t4logCreate = 11, t4logPack = 12 };
enum : long {
  E4_CODE4_TRAN_COMMIT = 90287,
  E4_CODE4_TRAN_START = 90288,
  E4_CODE4_TRAN_ROLLBACK = 90289,
  E4_TRAN_NOT_ENABLED = 80141,
};
