// The foundation's common records: the date record and the tagged value
// that values, tokens and compiled code share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

// The date record: month or day 0 is the empty date.
struct DateRec {
  int16_t year;
  uint8_t month;
  uint8_t day;
};
static_assert(sizeof(DateRec) == 4);

// The tagged value (kinds 0..27; see the value family below): a kind byte,
// a 32-bit word and an 8-byte payload (a double, an i32, an i16, a date
// record, a byte or a pointer). Kinds that carry a pointer keep their 32-bit
// aux word (text offset, width, object sub-kind) in the word beside the kind,
// which the other kinds copy along and never read; so the record stays at 16
// bytes with 8-byte pointers.
struct Value {
  uint8_t kind;
  uint8_t kindPad[3];
  int32_t aux;
  union {
    double d;
    int32_t i;
    int16_t s;
    DateRec date;
    uint8_t b;
    void* p;
  } u;
};
static_assert(sizeof(Value) == 16 && offsetof(Value, aux) == 4 && offsetof(Value, u) == 8,
              "values are stored in 16-byte slots");

// Value kinds whose numbers are stored in values, tokens and compiled code.
enum ValueKind : uint8_t {
  kValueNone = 0,
  kValueText = 1,
  kValueFloat = 2,
  kValueInteger = 3,
  kValueSmallInt = 4,
  kValueDate = 5,
  kValueLogical = 6,
  kValueOpaque = 7,
  kValueDecimal = 8,
  kValueMemo = 9,
  kValueBorrowedText = 10,
  kValuePen = 11,
  kValueBrush = 12,
  kValueObject = 13,
  kValueSymbol = 14,
  kValueFont = 15,
  kValueFixedText = 16,
  kValueKeyword = 20,
  kValueIdentifier = 21,
  kValueBorrowedIdentifier = 24,
  kValueOwnedBlock = 27,
};

// An opaque coordinate system of the coordinate-system code.
struct CoordSys;

}  // namespace layerio
