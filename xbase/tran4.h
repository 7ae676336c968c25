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
