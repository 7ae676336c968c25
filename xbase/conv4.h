// Conversions between numbers and the fixed-width texts of records and keys.
// Nothing here depends on the host's locale.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

double c4atod(const char* text, int length);    // at most 50 characters
int c4atoi(const char* text, int length);       // at most 127 characters
long c4atol(const char* text, int length);
int64_t c4atoi64(const char* text, int length);
unsigned long c4atoul(const char* text, int length);
// |value| into exactly |width| characters; blanks and a '-' for a positive
// width, zeros and no sign for a negative one; '*' when it does not fit.
void c4ltoa45(long value, char* buffer, int width);
// value with `decimals` decimals right-aligned into exactly `length`
// characters; '*' and -440 when it does not fit.
int c4dtoa45(double value, char* buffer, int length, int decimals);
// Ends the text at its first NUL within size (or at size - 1), then cuts
// trailing blanks.
void c4trimN(char* text, int size);
// The numeric-key form of a right-aligned number text (numeric tags).
void c4numericKey(char* text, int length);
// Toward zero, held to the 32-bit range; NaN gives 0.
int32_t c4truncInt32(double value);
// How often a value >= 2 halves before it reaches 1.
int c4bitCount(unsigned long value);
// OEM (437) to ANSI (1252) in place.
void c4oemToAnsi(char* text, size_t length);
