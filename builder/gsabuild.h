// The attribute-file writer: rows of a table, in key order, become the keyed
// page file of base/gsaformat.h. DLPageBuild fills one data page with the
// columns of its records (a front-coded text heap per text field, a packed
// integer stream per number field); DLFileBuild is the keyed file builder
// whose pages open on their first record's key; GsaFieldDescriptor plans the
// columns and writes the field entries; GsaWriteAttributeFile runs it all.
//
// How values are stored:
//   - xBase types C, D (its eight-digit text) and L (its letter) become text
//     columns, trailing white space removed, at most 255 bytes each;
//   - N and F become number columns of 32-bit values: x x 10^d truncated
//     toward zero, then raised by 1 when the part cut off is above 0.4 (on
//     the magnitude: -1.26 at one decimal is -13), worked on the decimal
//     text so that no binary rounding enters;
//   - the stored d is the field's decimals cut down to what its values use
//     (1825.000 is stored as 1825 with d = 0); a field whose values do not
//     fit 32 bits at that d (33.915980747862420 at 15 decimals, or a whole
//     number past 32 bits) is stored as a text column of its number texts,
//     so that no digit is lost. The field entry holds the d stored, so a
//     reader divides by what was multiplied. This needs a first pass over
//     the rows.
//   - a number field holding an empty value (its text blank, or made only of
//     asterisks and blanks, as other programs write a number without a
//     value) is stored as a text column: the empty values as the empty text,
//     the others as the number column would show them (x scaled at the
//     stored d, printed with d decimals), so that no empty value reads as 0;
//   - any other type fails the write.
// The key field (QRECID) is a number field of whole numbers in ascending
// order; the key of a page is its first record's key as a right-aligned
// 12-character text. (A text key field, ascending ignoring ASCII case, gives
// its first 12 characters.)
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/gsaformat.h"
#include "base/packedint.h"
#include "base/qerror.h"
#include "builder/pagebuild.h"

struct GsaFieldDef {
  std::string name;
  char type = 'C';  // the xBase type letter
  uint32_t width = 0;
  uint32_t decimals = 0;
};

// The rows of the table, in key order, read twice.
class GsaRowSource {
 public:
  virtual ~GsaRowSource() = default;
  // Goes back before the first row; false when the rows cannot be read.
  virtual bool Rewind() = 0;
  // Moves to the next row; false after the last one (or on a failure, which
  // Failed tells).
  virtual bool Next() = 0;
  // The text of field i of the current row as the table holds it.
  virtual std::string_view Value(size_t field) const = 0;
  virtual bool Failed() const { return false; }
};

// Rows held in memory.
class GsaMemoryRows : public GsaRowSource {
 public:
  explicit GsaMemoryRows(std::vector<std::vector<std::string>> rows) : rows_(std::move(rows)) {}
  bool Rewind() override {
    next_ = 0;
    return true;
  }
  bool Next() override {
    if (next_ >= rows_.size()) return false;
    current_ = next_++;
    return true;
  }
  std::string_view Value(size_t field) const override {
    const auto& row = rows_[current_];
    return field < row.size() ? std::string_view(row[field]) : std::string_view();
  }

 private:
  std::vector<std::vector<std::string>> rows_;
  size_t next_ = 0;
  size_t current_ = 0;
};

// A number's decimal text taken apart: digits before and after the point,
// without leading zeros of the integer part.
struct GsaDecimal {
  bool negative = false;
  std::string integer;
  std::string fraction;
  // Digits of the fraction up to its last non-zero one.
  size_t SignificantDecimals() const;
};
// Reads blanks, a sign, digits, a point and digits, blanks (an exponent is
// accepted too); a blank text reads as 0. False for anything else.
bool GsaParseDecimal(std::string_view text, GsaDecimal* out);
// |x| x 10^decimals cut toward zero, from the decimal digits; false when it
// passes limit.
bool GsaDecimalMagnitude(const GsaDecimal& x, uint32_t decimals, uint64_t limit,
                         uint64_t* magnitude);
// The stored value of x at decimals; false when it does not fit 32 bits.
bool GsaScaleDecimal(const GsaDecimal& x, uint32_t decimals, int32_t* out);
// Both; an unreadable text gives 0.
bool GsaScaleNumber(std::string_view text, uint32_t decimals, int32_t* out);
// A number field's text without a value: blanks, or asterisks and blanks
// (up to a NUL).
bool GsaEmptyNumber(std::string_view text);

// The text heap of one column of a page: a u16 count, then groups of 16
// front-coded strings (base/gsaformat.h). Strings are given in their stored
// form (GsaTextEncode).
class GsaTextHeap {
 public:
  explicit GsaTextHeap(uint32_t capacity = kGsaBlockSize);

  void Reset();
  // False when the heap would outgrow its capacity; nothing is added then.
  bool Add(std::string_view stored);
  // Mark keeps the heap's state; ReturnToMark drops what was added since.
  void Mark();
  void ReturnToMark();

  const uint8_t* Bytes() const { return bytes_.data(); }
  uint32_t Size() const { return state_.size; }
  uint32_t Count() const { return state_.count; }

 private:
  struct State {
    uint32_t size = 2;
    uint32_t count = 0;
    uint32_t group = 0;  // offset of the current group's header
    std::string previous;
  };
  std::vector<uint8_t> bytes_;
  State state_;
  State mark_;
  uint8_t markHeader_[kGsaTextGroupHeaderSize] = {};
};

// How one field is stored.
struct GsaColumnPlan {
  size_t field = 0;          // in the row source
  uint32_t kind = 0;         // kGsaTypeText or kGsaTypeNumber
  uint32_t decimals = 0;     // stored decimals of a number column
  uint32_t column = 0;       // among the columns of its kind
  bool trimLeading = false;  // a number field stored as text
  bool scaled = false;       // its values printed at decimals (empty values kept)
};

class GsaFieldDescriptor {
 public:
  // Plans the columns of fields from a pass over rows; false, with the
  // reason recorded, for an unstorable type, a text longer than 255 bytes, a
  // missing key field, or keys out of order (or, for a number key, not whole
  // 32-bit numbers).
  bool Build(const std::vector<GsaFieldDef>& fields, GsaRowSource& rows,
             const std::string& keyField, const std::vector<GsaValueRecord>& descriptions,
             QError& error);

  const std::vector<GsaFieldEntry>& Entries() const { return entries_; }
  const std::vector<GsaColumnPlan>& Columns() const { return columns_; }
  uint32_t TextColumns() const { return textColumns_; }
  uint32_t NumberColumns() const { return numberColumns_; }
  const GsaColumnPlan& KeyColumn() const { return columns_[keyField_]; }
  uint64_t Rows() const { return rows_; }

  // The descriptor area: field entries, then the description records.
  std::vector<uint8_t> AreaBytes() const;
  // The descriptor header for a key tree and area at those positions.
  GsaDescriptor Header(uint32_t treePosition, uint32_t areaPosition,
                       const std::string& stamp) const;

 private:
  std::vector<GsaFieldEntry> entries_;
  std::vector<GsaValueRecord> descriptions_;
  std::vector<GsaColumnPlan> columns_;  // in field order
  uint32_t textColumns_ = 0;
  uint32_t numberColumns_ = 0;
  size_t keyField_ = 0;
  std::string keyName_;
  uint64_t rows_ = 0;
};

// A data page of the attribute file: the record's entry is one 0 byte, its
// values go to the columns. The record given to AddEntry is the
// GsaRowSource standing on the row.
class DLPageBuild : public QIndexedFilePageBuild {
 public:
  explicit DLPageBuild(const GsaFieldDescriptor& descriptor);

  void Clear() override;
  bool AddEntry(const void* key, const void* data, const void* record) override;
  bool Write(QBlockFile& file) override;

  // Bytes the columns take now.
  uint32_t ColumnBytes() const;

 private:
  const GsaFieldDescriptor& descriptor_;
  std::vector<GsaTextHeap> heaps_;
  std::vector<std::unique_ptr<PackedIntWriter>> numbers_;
  std::string stored_;  // scratch for a value's stored form
  std::string scaled_;  // scratch for a number printed as text
};

class DLFileBuild : public QIndexedFileBuild {
 public:
  DLFileBuild(const char* path, DLPageBuild* page, const GsaColumnPlan& key,
              const std::string& dateText, const std::string& tempDirectory, QError* error);

  // The key field's text: a number right-aligned in 12 characters, a text
  // cut to 12.
  void MakeKey(const void* record, uint8_t* key) override;
  uint32_t KeyLength() const override { return kGsaKeyWidth; }

 private:
  GsaColumnPlan key_;
};

struct GsaWriteOptions {
  // The boundary file's creation-time text (at most 34 characters kept).
  std::string stamp;
  // "YYYYMMDD" of the header; empty: today.
  std::string dateText;
  // Folder of the key tree's temporary files; empty: the output's folder.
  std::string tempDirectory;
  std::string keyField = kGsaKeyFieldName;
  std::vector<GsaValueRecord> descriptions;
  // Called after each row written (the pass that writes, not the one that
  // plans the columns).
  std::function<void()> progress;
};

// Writes the attribute file at path from the fields and rows; true on
// success. On failure error holds the reason and nothing is left at path.
bool GsaWriteAttributeFile(const char* path, const std::vector<GsaFieldDef>& fields,
                           GsaRowSource& rows, const GsaWriteOptions& options, QError& error);
