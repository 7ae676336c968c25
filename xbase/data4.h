// Data files: the header and field descriptors as read, opening and closing,
// record counts, tag selection, positioning and the record flags.
//
// One physical file is represented once per context by a DATA4FILE; each open
// of it gets its own DATA4 handle with its record buffers and position.
#pragma once

#include "xbase/d4data.h"
// Writing back a changed record: d4go and the other moves call d4updateRecord first.
#include "xbase/d4write.h"

DATA4* d4open(CODE4* c4, const char* name);
DATA4FILE* dfile4open(CODE4* c4, DATA4* data, const char* name);
// The full name of a data file: completed with the current folder and the
// extension "dbf" when it has none. 0, or -1 when it does not fit.
int dfile4fullName(char* full, int size, const char* name);
// The data file of this full name open in the context (any spelling of the
// same file), or null.
DATA4FILE* dfile4findOpen(CODE4* c4, const char* full);
int d4close(DATA4* data);
int dfile4close(DATA4FILE* file);
long dfile4recCount(DATA4FILE* file, long serverId = 0);
long d4recCount(DATA4* data);
int d4recCountLessEq(DATA4* data, long n);
int d4recCountGreater(DATA4* data, long n);
int d4numFields(DATA4* data);
const char* d4alias(DATA4* data);
void d4aliasSet(DATA4* data, const char* alias);
int d4bof(DATA4* data);
int d4eof(DATA4* data);
long d4recNo(DATA4* data);
char* d4record(DATA4* data);
unsigned d4recWidth(DATA4* data);
const char* d4fileName(DATA4* data);
// Byte offset of a record in the file.
uint64_t dfile4recordPosition(const DATA4FILE* file, long rec);

TAG4* d4tag(DATA4* data, const char* name);
TAG4* d4tagDefault(DATA4* data);
TAG4* d4tagNext(DATA4* data, TAG4* tag);
TAG4* d4tagPrev(DATA4* data, TAG4* tag);
TAG4* d4tagSelect(DATA4* data, TAG4* tag);
TAG4* d4tagSelected(DATA4* data);

// Positioning: 0, 3 end of file, 4 start of file, 5 no such record, or an error.
int d4go(DATA4* data, long rec, int copyOld = 0);
int d4goTo(DATA4* data, long rec, int copyOld = 0);
int d4goEof(DATA4* data);
int d4top(DATA4* data);
int d4bottom(DATA4* data);
int d4skip(DATA4* data, long n);

int d4changed(DATA4* data, int flag);
void d4delete(DATA4* data);
int d4deleted(DATA4* data);
void d4recall(DATA4* data);
void d4blank(DATA4* data);

FIELD4* d4field(DATA4* data, const char* name);
int d4fieldNumber(DATA4* data, const char* name);
FIELD4* d4fieldJ(DATA4* data, int j);

// Location codes.
enum : long {
  E4_DFILE4 = 90131,
  E4_D4BOTTOM = 90140,
  E4_D4CLOSE = 90141,
  E4_D4TOP = 90200,
  E4_D4TAG = 90201,
  E4_D4TAG_DEFAULT = 90202,
  E4_D4TAG_NEXT = 90203,
  E4_D4TAG_PREV = 90204,
  E4_D4TAG_SELECT = 90205,
  E4_D4TAG_SELECTED = 90206,
  E4_D4GO = 90253,
  E4_D4GO_EOF = 90254,
  E4_D4ALIAS = 90257,
  E4_D4ALIAS_SET = 90258,
  E4_D4BLANK = 90259,
  E4_D4BOF = 90260,
  E4_D4DELETE = 90261,
  E4_D4DELETED = 90262,
  E4_D4EOF = 90263,
  E4_D4NUM_FIELDS = 90264,
  E4_D4RECALL = 90267,
  E4_D4REC_COUNT = 90268,
  E4_D4REC_NO = 90269,
  E4_D4RECORD = 90270,
  E4_D4REC_WIDTH = 90272,
  E4_D4REC_COUNT_LESS_EQ = 90274,
  E4_D4FIELD = 90297,
  E4_D4FIELD_J = 90298,
  E4_D4FIELD_NUMBER = 90299,
  E4_D4CHANGED = 90300,
  E4_D4OPEN = 90308,
  E4_D4SKIP = 90357,
  E4_D4FILE_NAME = 90256,
};
