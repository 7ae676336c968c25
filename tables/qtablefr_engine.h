// The engine calls of the xBase table that the xBase engine does not offer
// yet: relation sets (ordered reads), seeks in the selected tag and adding a
// tag to an open index file. Each one stands for the engine function named
// beside it, with its arguments and results; until the engine provides it,
// the call is refused the way the engine refuses what it does not support:
// -1090 ("Function unsupported") recorded in the context, and a null or
// negative answer. Nothing else in the table library names these calls.
#pragma once

#include "xbase/d4data.h"

namespace frengine {

// relate4init(data): a relation set whose master is the data file, or null.
RELATE4* RelateInit(DATA4* data);
// relate4sortSet(relation, expression): 0 when the sort order is taken.
int RelateSortSet(RELATE4* relation, const char* expression);
// relate4skipEnable(relation, 1): allows backward skips.
int RelateSkipEnable(RELATE4* relation, int on);
// relate4top, relate4bottom: negative on error.
int RelateTop(RELATE4* relation);
int RelateBottom(RELATE4* relation);
// relate4skip(relation, n): as d4skip.
int RelateSkip(RELATE4* relation, long count);
// relate4eof(relation): non-zero at the end, negative on error.
int RelateEof(RELATE4* relation);
// relate4free(relation, 0): frees the set; the master stays open.
int RelateFree(RELATE4* relation);

// d4seek(data, key): 0 exact match, positive after the key or at the end,
// negative on error.
int Seek(DATA4* data, const char* key);

// i4tagAdd(index, tags): 0 when the tags were added to the open index.
int TagAdd(INDEX4* index, const TAG4INFO* tags);

}  // namespace frengine
