// The foundation's process-wide state, in one place.
#include "mapfile/foundation/session.h"
#include "mapfile/foundation/state.h"

namespace layerio {

FoundationState gFoundationState;

Session* CurrentSession() { return State().session; }
void SetCurrentSession(Session* session) { State().session = session; }

}  // namespace layerio
