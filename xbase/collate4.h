// Collations of character and wide index keys.
//
// A process-wide table holds four collations, numbered 1 to 4: 1 is machine
// order (raw bytes), 2 and 3 are built in (the general orders of data files
// with code page mark 3 or 0, and of mark 1), 4 is loaded on first use from the data
// files "coll4inf", "collate4" and "compres4" in the current folder. Only a
// collation of kind 6 serves keys.
//
// A collated character key holds, for the text without its trailing blanks,
// the primary code of every character (an expanding character such as 198
// gives two), then as many of the collected secondary codes as fit, then
// zero bytes up to the key length (twice the expression length). No primary
// is below 16, so bytes below 10 mark where the secondaries begin.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

struct COLLATE4EXPAND {
  uint8_t kind;  // 1 expansion, 2 contraction (not served), 3 end of the list
  unsigned char first;
  unsigned char second;
};

struct COLLATE4 {
  int kind;  // 0 none, 1, 2, 4 or 6 as loaded, 16 not yet loaded
  unsigned char table[256][2];  // (primary, secondary); secondary 255: none
  unsigned char* wide;          // 65,536 x (primary high, primary low, secondary), built on use
  COLLATE4EXPAND* expansions;   // ended by kind 3
  uint16_t expansion;  // key length factor - 1
  uint16_t marker;     // primary that marks an expanding character
  uint16_t noSubsort;  // secondary that means none
  int loaded;
  int lossy;  // the collation loses information (collation 4's LOSSINFO false)
};

// The built-in tables of collations 2 and 3 (generated data).
extern const unsigned char collate4tableA[256][2];
extern const unsigned char collate4tableB[256][2];

// The collation with this number (1-4), or null.
COLLATE4* collate4entry(int number);
// Makes the collation usable: collation 4 is loaded when it is not yet; 0
// for machine order or a collation then of kind 6, else -1090 "unsupported
// collating sequence" reported on c4.
int collate4ready(CODE4* c4, int number);

// The collated key of a text into keyLen bytes. Answers the number of primary
// bytes written, e4notSupported for an expanding character whose list entry
// is not an expansion, or e4memory; nothing is reported.
int collate4key(const COLLATE4* collation, unsigned char* key, int keyLen, const char* text,
                int length);
// The same over 16-bit little-endian units (length in bytes): primaries are
// two bytes, big-endian; units from 256 up are their own primary.
int collate4keyWide(COLLATE4* collation, unsigned char* key, int keyLen, const char* text,
                    int length);
// Compares two collated keys for the last step of a descending seek:
// primaries first (up to the first byte below 10), blanks (17) at the end of
// either side's primaries matching nothing, then secondaries. <0, 0, >0.
int collate4compare(const unsigned char* key, const unsigned char* search, int length);

// The general collation of a data file's code page mark: 3 for mark 1, else 2.
int collate4general(int codePage);
// The collation named by a tag header's 8-byte name: 1 for an empty name,
// the general one for "GENERAL", the number of "FR" and five digits (1-4);
// -1 for any other name.
int collate4fromName(const char* name, int codePage);
// The collation of a new tag whose key expression is `expr` (its data file
// gives the code page), and its 8-byte header name (zero-padded; empty for
// machine order). Answers 1-4 or -1090 (reported) for a setting outside 0-4.
int collate4forTag(CODE4* c4, const EXPR4* expr, char name[8]);
