// The running session as the foundation sees it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

// What the foundation reads of the table code's session record.
struct Session {
  int16_t monthFirst;        // date texts month first
  int16_t twoDigitPivot;     // -1 none
  int16_t ignoreLocaleSeparators;
};
// The running session, null when none (set by the interface frame).
Session* CurrentSession();
void SetCurrentSession(Session* session);

}  // namespace layerio
