// Writing records: the record buffer of a handle back to its file, appends,
// and the header's record count and date. Every write keeps the tags of the
// open indexes (keys before memos before data), the memo file and the
// transaction log in step.
//
// The header's record count is written by d4update and at close, not with
// every append; an append that cannot be completed leaves the file as it
// was: the same record count, and the end-of-file mark (0x1A) right after
// the last whole record.
#pragma once

#include "xbase/d4data.h"

// Writes the record buffer as record rec (-1: the current record): 0, 20
// (unique key refused, nothing written, the record stays changed), a
// positive memo result, or an error.
int d4write(DATA4* data, long rec, int unlock = 0, int lock = 0);
// The memo block number a memo field holds in another record image of its
// handle (0: none).
long d4memoBlockIn(FIELD4* field, char* record);
// Writes the record bytes alone at record rec's place.
int d4writeData(DATA4* data, long rec);
// Replaces record rec's keys in every tag: 0, 20 or an error.
int d4writeKeys(DATA4* data, long rec);
// Puts back the keys d4writeKeys replaced.
int d4unwriteKeys(DATA4* data, long rec);
// Writes a changed current record and forgets the memo contents.
int d4updateRecord(DATA4* data, int unlock, int doMemos = 1);
// d4updateRecord, then the header's date and count when the file changed.
int d4update(DATA4* data);
// Writes the header's date (dateFlag), record count and header length
// (countFlag) and, for a table with an autoincrement field, the record
// length and the next autoincrement value (autoFlag): 0 or -1. Nothing
// while a transaction is active or rolling back.
int dfile4updateHeader(DATA4FILE* file, int dateFlag, int countFlag, int autoFlag = 0);

// Prepares a new record: writes a changed record, sets the memo block
// numbers to 0 (with useMemo 1 the current record's memo contents are kept
// to be appended with the copy); the record buffer keeps its bytes.
int d4appendStart(DATA4* data, int useMemo = 0);
// The checks of d4append: 0, -1 under a standing error, -120 read-only.
int d4appendCheck(DATA4* data);
// Appends the record buffer as a new last record: 0, 20 or an error.
int d4append(DATA4* data);
// Takes the last record out again.
int d4unappend(DATA4* data);

enum : long {
  E4_D4APPEND = 90132,
  E4_D4APPEND_START = 90135,
  E4_D4UNAPPEND = 90136,
  E4_D4WRITE = 90216,
  E4_D4WRITE_DATA = 90217,
  E4_D4WRITE_KEYS = 90218,
  E4_D4UNWRITE_KEYS = 90219,
  E4_D4UPDATE = 90304,
  E4_D4UPDATE_RECORD = 90305,
  E4_WRITE_MISSING_RECORD = 80119,
};
