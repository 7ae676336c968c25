// dBASE III tables, the attribute half of a shapefile set: the bodies of
// dbOpen, dbRead, dbReadByRecno, dbCreate, dbWrite and dbClose (zonelib.h
// states their contracts).
//
// File layout: a 32-byte header (version at 0, date of last update as year -
// 1900, month, day at 1, u32 record count at 4, u16 header length at 8, u16
// record length at 10, all little-endian), 32-byte field descriptors (name
// of 11 bytes, type at 11, width at 16, decimals at 17), the byte 0x0D, then
// fixed-length records of a deletion byte and the fields' texts.
//
// Border cases:
//   - A header whose length leaves no field descriptor, a field list that
//     ends (0x0D) before its first field, or fields wider in sum than the
//     record fail the open; so does a number field wider than 31 characters.
//   - Records start at the header length, whatever the descriptors took.
//   - Reading past the last record gives 1, also when the file ends with the
//     end-of-file byte 0x1A; a record cut short gives -1.
//   - A number is written with the field's decimals, or as many fewer as it
//     takes to fit the width; one whose whole part does not fit fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dbfheader.h"
#include "zonelib.h"

static_assert(offsetof(DbfField, format) == 4);
static_assert(offsetof(DbfField, name) == 12);
static_assert(offsetof(DbfField, type) == 26);
static_assert(offsetof(DbfField, width) == 27);
static_assert(offsetof(DbfField, decimals) == 28);
static_assert(offsetof(DbfField, value) == 32);
static_assert(sizeof(DbfField) == 288);

inline constexpr size_t kDbfHeaderSize = dbfheader::kHeaderSize;
inline constexpr size_t kDbfDescriptorSize = dbfheader::kDescriptorSize;
inline constexpr uint8_t kDbfFieldEnd = dbfheader::kEndMark;
inline constexpr uint8_t kDbfFileEnd = 0x1A;
inline constexpr uint8_t kDbfVersion = 3;
// Room for the text of one number, its NUL included.
inline constexpr size_t kDbfNumberText = 32;

int dbOpenIntern(DbfHandle* handle, const char* path);
int dbReadIntern(DbfHandle* handle);
int dbReadByRecnoIntern(DbfHandle* handle, uint32_t number);
int dbCreateIntern(DbfHandle* handle, const char* path);
int dbWriteIntern(DbfHandle* handle);
int dbCloseIntern(DbfHandle* handle);
