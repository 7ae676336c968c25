// The xBase engine as its clients see it: the one header the table library
// and gsbbuild include. It brings the context and its settings (CODE4's
// access, locking, safety and optimisation switches), the object layer
// (Code4, Data4, Field4, Date4, Tag4, ...), and the functions that open,
// create, read, write, index, relate and convert tables and dates.
//
// Clients read a table through these functions only: the record count by
// d4recCount, a field's letter and memo kind by f4storedType and f4isMemo,
// never through the members of DATA4, DATA4FILE or FIELD4, which are the
// engine's own and change with it.
#pragma once

#include "xbase/code4.h"
#include "xbase/conv4.h"
#include "xbase/d4create.h"
#include "xbase/d4wrap.h"
#include "xbase/d4write.h"
#include "xbase/data4.h"
#include "xbase/date4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/index4.h"
#include "xbase/opt4.h"
#include "xbase/relate4.h"
