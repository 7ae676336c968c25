// The input readers of an import: each call of Read takes the next object of
// the input, builds it with the object writers of boundary/build.h and stores
// it in the boundary file, so that the file grows as the caller loops on
// pipImportRead. This header holds their common base, the line reader of the
// text inputs and the coordinate conversions they share; the readers are in
// readpxf.h (interchange text), readbna.h (BNA), readshp.h (shapefiles) and
// readtab.h (map tables).
//
// Contracts on the border cases:
//   - Read returns false on failure (reported to the builder's error object)
//     and true otherwise, with Status() 1 (an object was stored), 2 (an input
//     record of a kind boundary files do not hold was skipped) or 0 (the input
//     has ended; further calls keep returning 0).
//   - A reader whose construction failed has Ok() false and must be
//     destroyed; warnings (code 106) leave it usable.
//   - An object whose Write fails makes Read fail: nothing is dropped
//     silently.
//   - Text coordinates are read exactly from their decimal digits and doubles
//     are rounded, in both cases to the nearest millionth (halves away from
//     zero); a value outside the 32-bit range is an error, never a wrapped
//     number. Doubles are taken in degrees or in millionths by the shape
//     they belong to (ShapeInDegrees, boundary/shapefile.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/iofile.h"
#include "boundary/build.h"

inline constexpr int32_t kReadStored = 1;
inline constexpr int32_t kReadSkipped = 2;
inline constexpr int32_t kReadEnded = 0;
inline constexpr int32_t kReadFailed = -1;

inline constexpr const char* kReaderErrorFormat = "Error: %s\nFile: %s\nLine: %ld";
inline constexpr const char* kUnexpectedEndText = "Unexpected End of File.";
inline constexpr const char* kCoordinateRangeText = "Coordinate out of range.";

// One part of a shape in doubles: count points as (x, y) pairs at xy.
struct DoublePart {
  uint32_t count;
  const double* xy;
};
enum class AddPartsResult { kAdded, kOutOfRange, kRefused };
// Adds the parts' points to object, in degrees when any point of all the
// parts is (ShapeInDegrees), each part ended as a ring when separateRings, else
// all as one part. kRefused: the builder refused a point or ring and has
// reported why.
AddPartsResult AddDoubleParts(QPolygonLine& object, const DoublePart* parts, size_t partCount,
                              bool separateRings);

class ImportRead {
 public:
  explicit ImportRead(BoundaryBuilder& builder);
  virtual ~ImportRead();
  ImportRead(const ImportRead&) = delete;
  ImportRead& operator=(const ImportRead&) = delete;

  // Stores the next object of the input (see the contracts above). After a
  // failure every further call fails.
  bool Read();
  // How far the input has been read, 0 to 100.
  virtual uint32_t Progress() const = 0;
  // The reader's running count (lines or records read).
  virtual uint32_t Count() const = 0;

  bool Ok() const { return ok_; }
  int32_t Status() const { return status_; }
  // The name of the last object read.
  const char* Name() const { return name_; }

  // Stores the object built and not yet stored, if any (the interchange-text
  // reader keeps its last object until the style lines after it are read).
  // False when its Write fails.
  bool StorePending();

 protected:
  // Read's work: false after an error (reported), else true with the status
  // set.
  virtual bool ReadNext() = 0;
  // Writes object at once; false (and Ok() false) when it cannot.
  bool Store(QPolygonObject& object);
  // Code 106 with text; the reader stays usable.
  void Warn(const char* text, int line);
  // Code 100 with "Error: %s\nFile: %s\nRecord: %ld"; Ok() becomes false.
  bool RecordError(const char* message, const std::string& path, long record, int line);
  // Objects of shapefiles and map tables, given in doubles, each stored at
  // once with record as its record number; errors name path and record.
  // A shape is in degrees when any of its points is (ShapeInDegrees).
  bool StoreDoublePoint(const double xy[2], const char* name2, uint32_t record,
                        const std::string& path);
  // A line of two points by DecideTwoPoints; kUndecided is an error.
  bool StoreDoubleLine(const double xy[4], const char* name2, uint32_t record,
                       const std::string& path);
  // Adds the parts (each a ring when separateRings, else all one part) and
  // stores object. A shape without points is not stored: kReadSkipped.
  // kReadStored, kReadSkipped, or kReadFailed after an error.
  int32_t StoreDoubleParts(QPolygonLine& object, const DoublePart* parts, size_t partCount,
                           bool separateRings, uint32_t record, const std::string& path);
  // The id and second columns among count fields (nameAt(i) the name of
  // field i, from 0): the last field whose name equals the given one,
  // ignoring case. An id field that is null (nullText) or not found
  // (notFoundText) is warned about and gives field 0; a second field that is
  // null or not found gives -1.
  template <class NameAt>
  void ChooseColumns(size_t count, NameAt nameAt, const char* idField, const char* secondField,
                     const char* nullText, const char* notFoundText, int32_t* id,
                     int32_t* second) {
    auto find = [&](const char* field) {
      int32_t found = -1;
      for (size_t i = 0; field && i < count; ++i)
        if (AsciiSame(nameAt(i), field)) found = int32_t(i);
      return found;
    };
    *id = find(idField);
    if (*id < 0) Warn(idField ? notFoundText : nullText, __LINE__);
    if (*id < 0) *id = 0;
    *second = find(secondField);
  }
  static bool AsciiSame(const char* a, const char* b);
  // Takes at most 127 characters of text (null: none), trimmed of white
  // space on both sides.
  static void TakeName(char* to, const char* text);

  BoundaryBuilder& builder_;
  pipError& error_;
  std::unique_ptr<QPolygonObject> pending_;
  bool ok_ = true;
  int32_t count_ = 0;
  char name_[kGsbNameSize] = {};
  int32_t status_ = kReadStored;
};

// A text input read line by line, with the field and token cursors of the
// readers. Lines hold at most 2047 characters (base/iofile.h).
class ImportLineReader {
 public:
  ImportLineReader(pipError& error, std::string path);
  ImportLineReader(const ImportLineReader&) = delete;
  ImportLineReader& operator=(const ImportLineReader&) = delete;

  bool IsOpen() const { return open_; }
  const std::string& Path() const { return path_; }

  // Reads the next line. False at the end of the file, and when the file
  // cannot be read (the line reader has reported why; Failed() then holds).
  // mustExist: the end of the file is the error "Unexpected End of File.".
  bool NextLine(bool mustExist);
  bool Failed() const { return failed_; }

  // The next field of the line: comma- or TAB-separated, leading spaces
  // skipped; a field that starts with '"' or '\'' runs to its closing quote
  // (delimiters inside stay in the value, a doubled quote is one quote of
  // the value, as the exporters write it; text after the closing quote up
  // to the delimiter is dropped, a
  // quote left open runs to the end of the line). Null at the end of the
  // line, or an empty field when only spaces were left.
  const char* NextField();
  // The next token of the line between any of the delimiters, or null.
  const char* NextToken(const char* delimiters);
  // The current line is empty or all white space.
  bool LineIsBlank() const;

  // Code 100 "Error: %s\nFile: %s\nLine: %ld" with this file and line.
  void Fail(const char* message, int line);

  uint32_t LineNumber() const { return lineNumber_; }
  // Bytes read * 100 / file size, to the nearest, halves going down.
  uint32_t Progress() const;

 private:
  pipError& error_;
  std::string path_;
  std::unique_ptr<QInputFile> file_;
  uint64_t size_ = 0;
  bool open_ = false;
  bool failed_ = false;
  uint32_t lineNumber_ = 0;
  char line_[QInputFile::kMaxLine + 1] = {};
  char* cursor_ = line_;  // where the next field or token starts
};

// ---- Coordinates --------------------------------------------------------------

// Reads decimal text (optional sign, digits with an optional point, an
// optional exponent) into a whole number of 10^-decimals units: rounded to
// the nearest (halves away from zero), or with the fraction dropped when
// round is false. False for other text and for results outside 32 bits.
bool ParseScaledDecimal(std::string_view text, int decimals, bool round, int32_t* out);
// The same for text in degrees: whole millionths, rounded.
inline bool ParseMillionths(std::string_view text, int32_t* out) {
  return ParseScaledDecimal(text, 6, true, out);
}

// Shapefile and map-table coordinates are doubles, in degrees or already in
// whole millionths, decided per shape (ShapeInDegrees, boundary/shapefile.h).
// A line of two points (x1, y1, x2, y2): kScale when either end's y is in
// degrees, kAsIs when either |y| exceeds 1e6, else kUndecided (both y are 0
// or exactly 1e6 in size, which tells nothing).
enum class TwoPointRule { kScale, kAsIs, kUndecided };
TwoPointRule DecideTwoPoints(const double xy[4]);
inline constexpr const char* kUndecidedLineText =
    "Cannot tell degrees from millionths in a line of two points.";

