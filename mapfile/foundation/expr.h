// The expression parser and compiler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

int16_t ExprParse(uint8_t** code, uint8_t* level);
int16_t ExprParseEvaluate(Value* result, int flag);
int16_t ExprEvaluate(const uint8_t* code, Value* result);
int16_t ExprIsColumnRef(const uint8_t* code, uint32_t* column, uint8_t* extra);
int16_t ExprUsesColumn(const uint8_t* code, uint32_t column);
int16_t ExprEqual(const uint8_t* a, const uint8_t* b);
int ExprNextOp(const uint8_t** position, uint8_t* cls, uint16_t* offset);
int ExprFindVariable(const char* name, int16_t* index);
void ExprEmitByte(uint8_t byte);
void ExprEmitConstant(uint8_t cls, const void* data);
void ExprEmitReference(uint8_t opcode, Value* array, int16_t index);
void ExprAppend(int toConstants, const void* bytes, size_t count);

}  // namespace layerio
