// Memo files as the data-file layer sees them: opening and closing the memo
// file beside a data file, and forgetting the memo contents a handle read.
// Reading and writing memo entries is the memo layer's.
#pragma once

#include "xbase/d4data.h"

int memo4fileOpen(MEMO4FILE* memo, DATA4FILE* data, const char* name);
int memo4fileClose(MEMO4FILE* memo);
// Forgets a memo field's loaded contents.
void f4memoReset(FIELD4* field);
// Forgets every memo field's contents of the handle.
void d4memoReset(DATA4* data);
// Frees the memo contents of the handle (close).
void d4memoFree(DATA4* data);
