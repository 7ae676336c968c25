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

// The first row with the id, or null.
const MsgRow* MsgFind(int32_t id);

inline constexpr const char* kMsgResourceMissingText =
    "Program cannot run because required resource was not found.  Executable file may be "
    "damaged.";
inline constexpr const char* kMsgInternalErrorText = "Internal Error: %u";
inline constexpr const char* kMsgNoBufferText = "Unable to allocate string resource buffer.";
inline constexpr const char* kMsgNoResourceFormat = "Unable to access string resource (%d)";

}  // namespace layerio
