// Native (.DAT) and dBASE (.DBF) data files: the buffered record layer and
// the two data drivers above it.
//
// File layout (little-endian, offsets in bytes):
//   0   u8      version: 3, or 131 when a field is of type M (read: both low
//               bits set, or both bits 4 and 5 set)
//   1   u8[3]   date of the last change: year - 1900, month, day
//   4   u32     record count
//   8   u16     header length = 32 + 32 * fields + 1 (read: at least that)
//   10  u16     record length = 1 + sum of the field widths
//   12  u8[20]  zero
//   32  32 * n  field descriptors: name[11] (zero-padded), type letter,
//               4 zero bytes, width, decimals, 14 zero bytes
//   32 + 32n    0x0D
//   header length: the records, each a deletion byte (' ' live, '*' deleted)
//               and the fields in descriptor order, each exactly its width
//   after the last record: 0x1A
//
// A header is accepted only when every descriptor lies inside the bytes read,
// the 0x0D mark follows them, the header length leaves room for them, the
// record length agrees with the widths and the file holds the records the
// count promises. Anything else is kDbfNotDbase.
//
// The record layer keeps one buffer per open file, holding a run of records
// read ahead, a run of new records to append, or a run of records changed in
// place; the run is written out before the buffer is used for another kind.
// The header's count and date are rewritten only at close.
//
// The drivers live in the data source's parameter words: word 0 the open
// DbfFile, word 1 the record buffer (record length + 1 bytes), word 2 the
// file's charset, low half of word 3 (dBASE only) the flag that Decimal widths
// in the file exclude the point and the decimals.
#pragma once

#include <cstdint>

#include "mapfile/foundation/file.h"
#include "mapfile/tables/table.h"

namespace layerio {


// ----- the record layer ------------------------------------------------------

// Results of the record layer.
enum DbfResult : int16_t {
  kDbfOk = 0,
  kDbfFailed = 1,
  kDbfNotDbase = 2,
  kDbfOutOfRange = 3,
  kDbfWriteFailed = 4,
};

inline constexpr int kDbfHeaderBlock = 8194;  // bytes read for the header
inline constexpr int kDbfMaxFields = 255;
inline constexpr int kDbfMaxCreateWidth = 4000;  // sum of the widths at create

// Buffer modes.
inline constexpr uint16_t kDbfBufferReadAhead = 1;
inline constexpr uint16_t kDbfBufferAppend = 2;
inline constexpr uint16_t kDbfBufferChanged = 8;

struct DbfField {
  char name[11];  // at most 10 characters, terminated
  char type;      // the descriptor's letter
  uint8_t width;
  uint8_t decimals;
};

struct DbfFile {
  FileHandle file;
  uint16_t mode;         // kDbfBuffer* of what the buffer holds, 0 empty
  uint32_t count;        // records in the file, without those in the buffer
  uint8_t modified;
  uint16_t recordLength; // with the deletion byte
  uint32_t bufferSize;
  uint8_t* buffer;
  uint32_t perBuffer;    // records the buffer holds
  uint32_t first;        // 1-based number of the first buffered record
  uint32_t held;         // records in the buffer
  uint8_t date[3];       // year - 1900, month, day
  uint16_t fieldCount;
  DbfField* fields;
  uint16_t headerLength;
};

// The buffer size for a sum of field widths (never less than one record).
uint32_t DbfBufferSize(uint32_t widthSum);

int16_t DbfCreate(FileHandle file, int fieldCount, const DbfField* fields);
int16_t DbfOpen(FileHandle file, DbfFile** state, int mode, uint32_t* changed);
int16_t DbfClose(DbfFile* state);
int16_t DbfRecordCount(DbfFile* state, uint32_t* count);
int16_t DbfReadRecord(DbfFile* state, uint32_t record, uint8_t* data, int* deleted);
int16_t DbfAppendRecord(DbfFile* state, uint32_t record, const uint8_t* data);
int16_t DbfWriteRecord(DbfFile* state, uint32_t record, const uint8_t* data);

// ----- number text -----------------------------------------------------------

// A number as the fixed-width text of an N field of width w and decimals d,
// clamped so that it fits: exactly w characters (w up to 254), terminated.
// true when the text is the value rounded to d decimals (a NaN is blank);
// false when the field cannot hold it and the text is a clamp.
bool DbfNumberText(double value, int width, int decimals, char* out);

// The dBASE field name for a column name (upper case, A-Z 0-9 _, a letter
// first, at most 10 characters).
void DbfFieldName(const char* column, char* out);

// ----- drivers ---------------------------------------------------------------
//
// The hooks of kinds 1 and 5 (DbaseDataDriver, NativeDataDriver in table.h)
// are the functions below; results 1 success, 0 failure. Open and release
// are shared by both kinds.

int16_t DbfSourceOpen(DataSource* source, int mode);
int16_t DbfSourceRelease(DataSource* source);
int16_t DbfSourceClose(DataSource* source);  // frees the record buffer

// dBASE driver (kind 1): every value as text. A number field made only of
// blanks and asterisks reads into a Decimal or Float column as the float
// that stands for no value (-DBL_MAX, whose text is empty) and is written
// back as blanks; into an Integer or Smallint column as 0.
int16_t DbfDriverCreate(DataSource* source, FieldDef* columns, int32_t count);
int16_t DbfDriverAttach(DataSource* source, FieldDef* columns, int32_t* count);
int16_t DbfDriverDescribe(DataSource* source, TableObject* table);
int16_t DbfDriverRead(DataSource* source, FieldDef* columns, uint32_t row, uint8_t* deleted);
int16_t DbfDriverInsert(DataSource* source, FieldDef* columns, uint32_t* row);
int16_t DbfDriverUpdate(DataSource* source, FieldDef* columns, uint32_t row);
int16_t DbfDriverHasMemo(DataSource* source);

// Native driver (kind 5): binary integers, dates and floats in C fields.
int16_t NativeDriverCreate(DataSource* source, FieldDef* columns, int32_t count);
int16_t NativeDriverAttach(DataSource* source, FieldDef* columns, int32_t* count);
int16_t NativeDriverDescribe(DataSource* source, TableObject* table);  // nothing to read
int16_t NativeDriverRead(DataSource* source, FieldDef* columns, uint32_t row, uint8_t* deleted);
int16_t NativeDriverInsert(DataSource* source, FieldDef* columns, uint32_t* row);
int16_t NativeDriverUpdate(DataSource* source, FieldDef* columns, uint32_t row);

// ----- moving through an open table ------------------------------------------

inline constexpr int kMoveNext = 1;
inline constexpr int kMovePrevious = 2;
inline constexpr int kMoveBeforeFirst = 3;
inline constexpr int kMoveAfterLast = 4;
inline constexpr int kMoveTo = 5;

// No entry reaches TableMoveTo yet: only the index search, itself unreached, calls it.
// Moves the table's position and reads that row from each of its parts; 1
// when the row was read. The parts of a chained view are found through the
// field indexes of their linking fields, built on first use.
int16_t TableMoveTo(TableObject* table, int move, uint32_t row, uint32_t* rowOut, int* atEnd);

}  // namespace layerio
