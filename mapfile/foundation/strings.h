// Double-byte-safe strings, case, comparison, the string pool and quoting.
//
// Texts are 8-bit texts in the system charset, which may be double-byte;
// case and character classes come from 256-entry tables, never from the C
// library's locale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/memory.h"

namespace layerio {

// On when the system charset is a double-byte charset.
int DbcsMode();

// No entry reaches these yet but MbsNext and MbsIsLeadByte: only the tests call the others.
char* MbsNext(const char* position);
char* MbsPrev(const char* start, const char* position);
int MbsIsLeadByte(const char* position);
char* MbsChr(const char* text, int byte);
char* MbsRchr(const char* text, int byte);
size_t MbsCspn(const char* text, const char* set);
size_t MbsSpn(const char* text, const char* set);
char* MbsPbrk(const char* text, const char* set);
int32_t MbsFindLastOf(const char* text, const char* set);
char* MbsReverse(char* text);
char* MbsTok(char* text, const char* delimiters);

int CharToUpper(int c);
int CharToLower(int c);
char* StrToUpper(char* text);
char* StrToLower(char* text);
int CharIsAlpha(int c);
int CharIsAlnum(int c);
int CharIsPrint(int c);
int StrCompareNoCase(const char* a, const char* b);
int StrCompareNoCaseN(const char* a, const char* b, size_t n);
int StrEqual(const char* a, const char* b);
int StrEqualNoCase(const char* a, const char* b);
int StrEqualN(const char* a, const char* b, size_t n);
int StrEqualNoCaseN(const char* a, const char* b, size_t n);
char* StrMapBytes(char* text, const uint8_t* table);

// No entry reaches the string pool yet: only the tests call it.
// The string pool: entries {user data; text} from byte 1, ended by an entry
// with an empty text; texts unique ignoring case. Every call on one pool
// passes the same data size.
uint32_t StrPoolAdd(MemHandle* pool, const char* text, const void* data, size_t dataSize,
                    int sorted);
void StrPoolGetAt(MemHandle pool, uint32_t offset, const char** text, size_t* size, void* data,
                  size_t dataSize);
int16_t StrPoolGetNth(MemHandle pool, int32_t n, const char** text, size_t* size, void* data,
                      size_t dataSize);
int16_t StrPoolFind(MemHandle pool, const char* text, void* data, size_t dataSize);

// Quoting; destination and source may be the same buffer. StrQuote gives
// null when size is below 3.
char* StrQuote(char* destination, const char* source, const char* quote, size_t size);
char* StrQuoteDefault(char* destination, const char* source, size_t size);
char* StrUnquote(char* destination, const char* source, const char* quote, size_t size);

// Case and class tables of one single-byte charset.
struct CaseTables {
  uint8_t upper[256];
  uint8_t lower[256];
  uint8_t alpha[256];  // 1 letter
  uint8_t digit[256];  // 1 digit
};
// The tables the string routines use now (those of the system charset).
const CaseTables& CurrentCaseTables();
// Installs the tables of the system charset; null restores the default ones
// (Windows Latin-1 for single-byte charsets, ASCII for double-byte ones).
void SetCaseTables(const CaseTables* tables);

}  // namespace layerio
