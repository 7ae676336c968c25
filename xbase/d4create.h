// Making, packing and removing data files.
//
// d4create writes a new table from field definitions: dBASE (0x03, 0xF5 with
// memo fields) in the dBASE dialects, Visual FoxPro ('0', '1' with an
// autoincrement field) in dialect 30, where nullable fields add the
// "_NullFlags" field and the header ends with 263 zero bytes. The new table
// ends with the end-of-file mark; its memo file (when it has memo fields) is
// created beside it, and it is opened before it is handed back.
#pragma once

#include "xbase/d4data.h"

// The open new table, or null with the context's error set (60 quietly when
// the context's create-error switch is off). A null name makes a temporary
// table when the context's createTemp switch is 1.
DATA4* d4create(CODE4* c4, const char* name, const FIELD4INFO* fields,
                const TAG4INFO* tags = nullptr);
// Removes the deleted records and rebuilds the indexes: 0 or an error.
int d4pack(DATA4* data);
// Removes the deleted records: 0 or an error.
int d4packData(DATA4* data);
int dfile4packData(DATA4FILE* file);
// Closes the table and deletes its data, memo and index files.
int d4remove(DATA4* data);

enum : long {
  E4_D4CREATE = 90143,
  E4_D4PACK = 90350,
  E4_D4PACK_DATA = 90351,
  E4_D4REMOVE = 90434,
  E4_TOO_MANY_FIELDS = 80049,
  E4_CREATE_TAG_MISSING = 80050,
  E4_RECORD_TOO_LONG = 80051,
  E4_RECORD_TOO_LONG_LARGE = 80052,
  E4_AUTOINCREMENT_TWICE = 80054,
  E4_AUTOINCREMENT_TYPE = 80055,
  E4_CREATE_OPEN_FILE = 80042,
  E4_PACK_TRANSACTION = 80072,
  E4_REMOVE_TRANSACTION = 80074,
};
