// Zonelib's process-wide objects (its locks, the handle table and the global
// error record) are built when the library loads, as static objects of the
// files that own them.
#include "zonelib.h"
