// The built-in message table of the foundation (see messages.cpp) and the
// fixed texts the error routines use.
#pragma once

#include <cstdint>

namespace layerio {

struct MsgRow {
  uint32_t id;
  const char* text;
};

// Ended by the row {0, null}.
extern const MsgRow kMessageTable[];
// The collation definitions of the normalization tables (norm_definitions.cpp),
// ids kNormDefinitionFirstId and up; ended like the table above.
extern const MsgRow kNormDefinitionTable[];
inline constexpr int32_t kNormDefinitionFirstId = 10000;

// The first row with the id, or null: the message table first, then (for the
// definition ids) the definitions.
const MsgRow* MsgFind(int32_t id);

// For tests: rows (ended by {0, null}) searched before all others, so that a
// test can stand in definitions of its own; null removes them.
void MsgSetOverrideRows(const MsgRow* rows);

inline constexpr const char* kMsgResourceMissingText =
    "Program cannot run because required resource was not found.  Executable file may be "
    "damaged.";
inline constexpr const char* kMsgInternalErrorText = "Internal Error: %u";
inline constexpr const char* kMsgNoBufferText = "Unable to allocate string resource buffer.";
inline constexpr const char* kMsgNoResourceFormat = "Unable to access string resource (%d)";

}  // namespace layerio
