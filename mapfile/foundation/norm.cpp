#include "mapfile/foundation/foundation.h"

namespace layerio {

int16_t NormTablesInit() { return 1; }

}  // namespace layerio
