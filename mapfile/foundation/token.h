// The keyword tokenizer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

struct Keyword {
  const char* text;
  uint16_t id;
  uint16_t statementHead;
};
inline constexpr int kKeywordCount = 710;
// Keyword ids the parsers name.
enum KeywordId : int {
  kKwInclude = 7,
  kKwDefine = 8,
  kKwGlobal = 9,
  kKwMod = 11,
  kKwOr = 17,
  kKwAnd = 18,
  kKwNot = 19,
  kKwBetween = 26,
  kKwAny = 27,
  kKwAll = 28,
  kKwIn = 29,
  kKwWithin = 31,
  kKwContains = 32,
  kKwIntersects = 33,
  kKwLike = 36,
  kKwComma = 1027,
  kKwOpen = 1030,
  kKwClose = 1031,
  kKwUnsupported = 1024,
  kKwUnits = 1136,
  kKwEarth = 1554,
  kKwNonEarth = 1555,
  kKwBounds = 1556,
  kKwProjection = 1557,
  kKwCoordSys = 1558,
  kKwEntirely = 1596,
  kKwPartly = 1598,
  kKwNull = 1603,
  kKwAffine = 1909,
  kKwEscape = 1659,
  kKwSupportMZ = 2154,
};
// Token classes asked for by parsers; other numbers are keyword ids.
enum TokenClass : int { kTokIdentifier = 1, kTokString = 2, kTokNumber = 3 };

void TokNext();
int16_t TokIs(int cls);
int16_t TokExpect(int cls);
int16_t TokCheck(int cls);
void TokError(int cls);
void TokSkipStatement();
char* TokText(const Value* token, char* buffer, int size);
const char* TokKeywordText(int id);
int16_t TokIsStatementHead(const Value* token);
int TokScanWord(const char* position, int* length);
int16_t IdentIsValid(const char* text);
void IdentMakeValid(char* text);
char* StrSkipSpace(const char* position);
int TokHash(const char* text);
// The id of a keyword word (any case), 1 when it is none.
int TokKeywordId(const char* word);

// Starting and ending the token stream. Begin drops any input, takes the
// text (or the file's text) as the only source and reads the first token;
// BeginFile gives 0 (error 524) when the file cannot be read. End drops the
// input and the current token; the macros stay until TokMacrosClear.
int16_t TokBeginText(const char* text);
int16_t TokBeginFile(const char* path);
void TokEnd();
void TokMacrosClear();
// The current token (null at the end of the input) and its text buffer.
const Value* TokCurrent();
const char* TokCurrentText();
int32_t TokLineNumber();
// On: statement-head keywords cannot be taken as identifiers or strings.
void TokSetReserveHeads(int on);

}  // namespace layerio
