// File names, small text and environment functions, and the bit arrays of
// the query layer. Paths are POSIX ('/'); a '\' given by a caller counts as
// a separator too.
#pragma once

#include "xbase/d4data.h"

// Where the name and copy helpers' failures are reported.
enum : long {
  E4_U4NCPY = 90340,
  E4_U4NAME_RET_EXT = 90344,
  E4_U4NAME_CURRENT = 90347,
  E4_U4NAME_FIX = 90348,
};

// The full path of a name against the current folder, cleaned by
// u4nameFix. 0, or -930 when it does not fit the buffer.
int u4nameCurrent(char* buffer, int size, const char* name);
// Removes each "../" with the folder before it and each "./"; -1420 when a
// "../" has no folder before it.
int u4nameFix(char* name);
// Appends '.' and the extension (given with or without its point) unless the
// name has one; replaces it with the replace flag. Trailing blanks are cut.
int u4nameExt(char* buffer, int size, const char* extension, int replace);
// The file name with or without its folder and extension.
void u4namePiece(char* buffer, unsigned size, const char* name, int keepPath, int keepExt);
// The extension without its point; its length. -930 for a buffer under 3
// bytes or a null name.
int u4nameRetExt(char* buffer, int size, const char* name);
// The folder part of a name, up to and with its last separator; its length.
int u4namePath(char* buffer, unsigned size, const char* name);
// folder + name into buffer; 0 or -930 when it does not fit.
int u4nameMake(char* buffer, int size, const char* folder, const char* name);
int u4remove(const char* name);

// Copies at most size - 1 characters and a NUL; answers the count (-930 for size 0).
int u4ncpy(char* to, const char* from, unsigned size);
// An environment value; with `required`, a missing one is -910 (reported).
const char* u4environ(CODE4* c4, const char* name, int required);
int u4memcmp(const void* a, const void* b, size_t len);      // bytewise
int u4memicmp(const void* a, const void* b, size_t len);     // ASCII case ignored
int c4isalnum(int c);
void c4trimTrailing(char* text);  // cuts trailing blanks in place
void u4delayHundredth(unsigned n);  // pauses n x 10 ms
// Today's date as year - 1900, month, day (data file headers).
void u4yymmdd(unsigned char* out);

// ---- bit arrays ----
void flag4init(FLAG4* f, CODE4* c4, unsigned char* bytes, unsigned long numFlags);
void flag4set(FLAG4* f, unsigned long n);
void flag4reset(FLAG4* f, unsigned long n);
int flag4isSet(const FLAG4* f, unsigned long n);
void flag4setAll(FLAG4* f);
void flag4flip(FLAG4* f);
void flag4and(FLAG4* a, const FLAG4* b);
void flag4or(FLAG4* a, const FLAG4* b);
