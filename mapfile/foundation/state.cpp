// The foundation's process-wide state, in one place.
#include "mapfile/foundation/foundation.h"

namespace layerio {

FoundationState gFoundationState;

Session* CurrentSession() { return State().session; }
void SetCurrentSession(Session* session) { State().session = session; }

}  // namespace layerio
