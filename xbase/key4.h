// Index key forms: how a value of each expression result type becomes a byte
// string whose unsigned byte order is the order of the values.
//
// Multi-byte forms are big-endian. A "sign flip" adds 0x80 to the first byte,
// turning two's-complement order into unsigned order. Doubles: a value not
// below zero gets its sign bit set, a negative one has all 64 bits inverted
// (-0.0 is taken as 0.0). Every encoder answers the number of bytes written.
//
// The seek conversions of a tag (text or number to key) are chosen by the
// key expression's type with key4conversions; character and wide keys under a
// collation go through collate4.h.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

int key4double(unsigned char* key, double value);           // 8
int key4int32(unsigned char* key, int32_t value);           // 4, sign flip
int key4uint32(unsigned char* key, uint32_t value);         // 4
int key4int64(unsigned char* key, int64_t value);           // 8, sign flip (also currency)
// day number + milliseconds of the day, rounded to whole seconds; 8.
int key4dateTime(unsigned char* key, int32_t day, int32_t ms);
// `count` 16-bit values, big-endian; with signFlip 0x80 is added to each high byte.
int key4parts(unsigned char* key, const uint16_t* values, int count, bool signFlip);
// Complements every byte: ascending order of the result is descending order.
void key4descend(unsigned char* key, int length);

// A value in its field or result form (as an expression holds it) turned into
// its key form in place, by type; the key length, or -1 for a type without
// key form. `length` is the value's length (for 'C', 'D', 'N', 'O', 'W').
// The buffer must hold at least 8 bytes (16 for '4').
int key4valueForm(int type, char* value, int length);

// Seek conversions of a tag: text (length bytes) to key, number to key.
// Both answer the key length; a null number conversion means the type has
// none.
using KEY4TEXT = int (*)(TFILE4* tag, unsigned char* key, const char* text, int length);
using KEY4NUMBER = int (*)(TFILE4* tag, unsigned char* key, double value);
// 0, or e4info (not reported) for a type without key form.
int key4conversions(int type, KEY4TEXT* textToKey, KEY4NUMBER* numberToKey);

// Text forms shared with the expression layer.
// The currency value (ten-thousandths) of a decimal text; false when the
// text holds more than 4 decimals or does not fit.
bool key4currencyFromText(const char* text, int length, int64_t* value);
// The logical key letter 'T' or 'F' of a text: the first of "FNfn" or
// "TYty" found decides; none gives 'F'.
char key4logicalFromText(const char* text, int length);

enum : long {
  E4_KEY_TYPE = 80121,     // "invalid key type in index file"
  E4_COLLATION = 80187,    // "unsupported collating sequence"
};
