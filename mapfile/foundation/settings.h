// The parser-state snapshot, value negation and double comparison.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

// The tokenizer's line, its current token with the text that token refers
// to, and the pushed-back tokens: all of it is saved with the snapshot, so an
// outer statement finds its token as it left it after a nested run.
struct ParserBlock {
  char line[2200];
  int32_t linePosition;
  int32_t pushedCount;
  Value pushed[2];
  Value token;
  char tokenText[2200];  // words and keywords cut to 31 characters
};

// The process-wide parser variables that a nested statement saves and
// restores, in the order the snapshot keeps them.
struct ParserVariables {
  void* inputSource;
  int32_t inputWords[3];
  int16_t shortWords[2];
  Value* currentToken;
  int32_t tokenWords[4];
  ParserBlock block;
  uint8_t parseMode;  // 0 normal, 1 syntax check (errors batched), 2 no input
  uint8_t statementByte;
  int32_t statementWord;
  int32_t statementWords[14];
};

// A caller-owned copy of the parser variables; it owns nothing.
struct SettingsSnapshot {
  ParserVariables saved;
};

void SettingsSnapshotSave(SettingsSnapshot* record);
void SettingsSnapshotRestore(const SettingsSnapshot* record);
// The process-wide parse mode (shared by the error stack and the parsers).
uint8_t ParseMode();
void SetParseMode(uint8_t mode);

int16_t ValueNegate(Value* result, const Value* operand);
int16_t DoubleEqualDigits(double a, double b, int n);
int16_t DoubleNearlyEqual(double a, double b);

}  // namespace layerio
