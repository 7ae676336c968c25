#include <gtest/gtest.h>

#include "mapfile/tables/dbf.h"
