// PXFRead: the reader of interchange text, a .PXF file of objects with its
// .PXD data file of one row per object.
//
// What it accepts (keywords in any case; lines of at most 2047 characters):
//   header   lines up to one whose first token is DATA; in it a COLUMNS line
//            with the column count n, followed by n lines each naming one
//            column by its first token
//   objects  POINT x y | LINE x1 y1 x2 y2 | PLINE n, then n lines "x y" |
//            REGION n, then n rings, each a line with its point count and
//            that many lines "x y"
//   styles   after an object: PEN (width, pattern, colour),
//            BRUSH (pattern, colour, background), SYMBOL (shape, colour,
//            size), CENTER x y (the label point)
//   skipped  RECT, ROUNDRECT, ELLIPSE, ARC, TEXT and NONE take their data
//            row and are passed over; other lines are ignored
// Coordinates are decimal degrees. The .PXD row of each object (and of each
// skipped one) holds comma- or TAB-separated values, text optionally in
// double or single quotes; the name and second name come from the columns
// chosen by name.
//
// Contracts on the border cases:
//   - Each object is stored when the next object clause starts or the file
//     ends, so that the style lines after it apply.
//   - A row with fewer values than the name columns need gives the object
//     the code byte 255 (else 0).
//   - Name field null, or not among the columns: warning 106 and the first
//     column; an empty name field means the first column. A second name field
//     that is given (also empty) and not found: warning 106 and no second
//     name.
//   - Record numbers count the objects stored: 1, 2, ...
#pragma once

#include <memory>
#include <string>

#include "boundary/importread.h"

inline constexpr const char* kPxfNullNameFieldText =
    "WARNING: Invalid nameField parameter. Parameter set to first column.";
inline constexpr const char* kPxfNameFieldNotFoundText =
    "WARNING: nameField parameter not found. Parameter set to first column by default.";
inline constexpr const char* kPxfNameField2NotFoundText =
    "WARNING: nameField2 parameter specified not found. No secondary name will be written.";

class PXFRead : public ImportRead {
 public:
  // path: the .PXF file (its extension is set to .PXF; the data file is the
  // same path with .PXD). nameField2 null: no second name.
  PXFRead(BoundaryBuilder& builder, const char* path, const char* nameField,
          const char* nameField2);
  ~PXFRead() override;

  uint32_t Progress() const override { return pxf_->Progress(); }
  uint32_t Count() const override { return pxf_->LineNumber(); }

 private:
  bool ReadNext() override;
  bool ReadHeader(const char* nameField, const char* nameField2);
  // The next .PXD row: name, second name and code byte.
  bool ReadDataRow();
  // The object clauses; each returns false after a reader error.
  bool ReadPoint();
  bool ReadLine();
  bool ReadPline();
  bool ReadRegion();
  void ApplyStyle(const char* keyword);
  // The next token as whole millionths; false with "Syntax error in object."
  bool NextCoordinate(int32_t* value);
  // points coordinate lines "x y" of a PLINE or REGION into object.
  bool AddCoordinateLines(QPolygonLine& object, int32_t points);
  // Gives the object built its record number and makes it the pending one.
  void Pending(std::unique_ptr<QPolygonObject> object);
  bool ObjectError(const char* message, int line);

  std::unique_ptr<ImportLineReader> pxf_;
  std::unique_ptr<ImportLineReader> pxd_;
  int32_t nameColumn_ = 1;
  int32_t name2Column_ = 0;  // 0: none
  char name2_[kGsbNameSize] = {};
  uint8_t code_ = 0;
};
