// The whole engine.
#pragma once

#include "xbase/code4.h"
#include "xbase/conv4.h"
#include "xbase/d4data.h"
#include "xbase/data4.h"
#include "xbase/date4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/file4.h"
#include "xbase/index4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/memo4.h"
#include "xbase/opt4.h"
#include "xbase/tran4.h"
#include "xbase/util4.h"
