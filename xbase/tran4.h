// The transaction log and transactions.
//
// While a log is open every change and append of a logged data handle is
// recorded in it, and the write paths bracket each change in a transaction
// of its own unless one is active; code4tranStart, code4tranCommit and
// code4tranRollback bracket groups of changes. A rollback walks the log
// backwards and undoes the active transaction's changes newest first.
//
// Log file layout: a sequence of entries, each
//   u32 length word (data length + 36), the data, a 32-byte header
// so that the log is read from its end: the last header lies at (length -
// 32), and the header before an entry whose header is at h with data length
// n lies at h - n - 36. Header (little-endian): 0 transaction id (0 outside
// transactions), 4 user id, 8 and 12 the data-file ids (the handle's server
// id and 0; both -1 for a created file; 12 holds 3 in the log's own
// markers), 16 entry type (u16), 18 data length (u32), 22 time stamp (year
// u16, 2 zero bytes, month u8, day u8, seconds since midnight u32).
// A log that was closed cleanly ends with a type-16 entry; a log that does
// not (an interrupted run) is refused until it is recovered.
//
// A log is opened only when it exists: code4logOpen never creates one;
// code4logCreate does.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

// Transaction states (CODE4::transStatus; a context that never had a log
// holds 0, which counts as idle).
enum : int { r4off = -2, r4inactive = 110, r4partial = 115, r4active = 120, r4rollback = 130 };

// Entry types.
enum : int {
  t4logOpenData = 1,
  t4logOpenTemp = 2,
  t4logCloseData = 3,
  t4logStart = 4,
  t4logPartial = 5,
  t4logComplete = 6,
  t4logRollback = 7,
  t4logChange = 8,
  t4logAppend = 9,
  t4logUndo = 10,
  t4logCreate = 11,
  t4logPack = 12,
  t4logUser = 15,
  t4logMarker = 16,
  t4logBackup = 17,
  t4logRelease = 18,
};

constexpr unsigned k4logHeaderLen = 32;
constexpr unsigned k4logEntryOverhead = 36;  // length word and header

// Opens an existing log (name null: "C4.log"; the extension "log" is added
// when the name has none) and registers the user (null: "PUBLIC"). 0 (also
// when a log is open already), 70 or 64 when there is no log (quietly), or
// an error: -1210 for a log that fails its checks (it is not used).
int code4logOpen(CODE4* c4, const char* name, const char* user);
// code4logOpen with the defaults; d4open and d4create call it when the
// context's logOpen setting is on.
int code4logOpenDefault(CODE4* c4);
// Creates a new log (refused when the file exists) holding one type-16
// entry, and leaves it open; with a user name the user is registered too.
// Without one the default user is registered by the first transaction.
int code4logCreate(CODE4* c4, const char* name, const char* user);
// 110 idle, 115, 120 or 130 (above).
int code4tranStatus(CODE4* c4);
// The open entry of a handle (type 1, or 2 for a temporary file); the
// handle's changes are logged from then on.
int tran4logOpen(DATA4* data);
// The close entry of a handle.
int tran4logClose(DATA4* data);
// Ends the transaction layer at code4initUndo: an active transaction is
// rolled back, the log closed (a type-16 entry when it is left sound).
int code4tranInitUndo(CODE4* c4);

// ---- transactions ----
int code4tranStart(CODE4* c4);
// Both phases: 0, or the error (-1250 when no transaction is active).
int code4tranCommit(CODE4* c4);
// First phase: the changed records of the logged handles are written and
// a type-5 entry follows (flushed when flag is 0). 0 with nothing done when
// no transaction is active.
int code4tranCommitPhaseOne(CODE4* c4, int flag);
// Second phase: the type-6 entry, flushed; the headers of the files the
// transaction changed. -1230 without a first phase.
int code4tranCommitPhaseTwo(CODE4* c4, int flag);
// Undoes the active transaction; handles on a record that is not changed
// read it again (a handle past the new end goes to end of file).
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

// The file layer's hook: a data file is never written before the log
// entries that describe the change. When the log holds entries written
// since its last flush, the mark is cleared and the log flushed (0 or the
// flush's error); otherwise 0 at once. Cheap enough to call before every
// write of a data file.
int tran4logFlushPending(CODE4* c4);

enum : long {
  E4_CODE4_LOG_CREATE = 90123,
  E4_CODE4_LOG_OPEN = 90125,
  E4_TRAN4 = 90283,  // "tran4...()"
  E4_CODE4_TRAN_COMMIT = 90287,
  E4_CODE4_TRAN_START = 90288,
  E4_CODE4_TRAN_ROLLBACK = 90289,
  E4_TRAN_INVALID_FILE = 80135,  // "invalid transaction file - run recovery utility"
  E4_TRAN_DATABASE_CORRUPT = 80139,
  E4_TRAN_NOT_ENABLED = 80141,
  E4_TRAN_NO_ROLLBACK = 80142,
  E4_TRAN_CORRUPT_FILE = 80143,
  E4_TRAN_NOT_PARTIAL = 80145,
  E4_TRAN_NO_COMMIT = 80146,
  E4_TRAN_LOG_OPEN_OFF = 80148,
  E4_TRAN_BACKED_UP = 80149,
};
