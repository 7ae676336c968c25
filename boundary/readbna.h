// BNARead: the reader of BNA text.
//
// What it accepts: per object a header line of comma-separated fields, the
// names (quoted) first and the point count last, then one line "x,y" per
// point. The count says the kind: 1 a point, 2 an ellipse (passed over with
// its two lines), a negative count a line of that many points, more than 2 a
// region. A region's ring returns to its first point; further rings follow,
// and a return to the object's first point right after a ring has closed is a
// separator between rings. Lines without a field at the name position and
// one after it are passed over.
//
// Numbers: spaces are ignored and a '-' anywhere makes the value negative.
// With the file's coordinate kind 1 (degrees to millionths) a value is
// rounded to the nearest millionth; with other kinds its fraction is dropped.
//
// Contracts on the border cases:
//   - Objects carry record number 0 and no second name; each is stored
//     within the Read that reads it.
//   - Region errors: a ring closed with fewer than 3 points, a second
//     separator in a row, a new ring with fewer than 3 points left in the
//     object, a region that ends with an open ring, a point or ring the
//     builder refuses. Each is a reader error with its line.
#pragma once

#include <memory>

#include "boundary/importread.h"

inline constexpr const char* kBnaInvalidNamePositionText =
    "WARNING: Invalid nameField parameter. Parameter set to 1.";

class BNARead : public ImportRead {
 public:
  // namePosition: which name of the header line names the object, 1 to 3.
  BNARead(BoundaryBuilder& builder, const char* path, int32_t namePosition);
  ~BNARead() override;

  uint32_t Progress() const override { return in_->Progress(); }
  uint32_t Count() const override { return in_->LineNumber(); }

 private:
  bool ReadNext() override;
  // The next line's two fields as a point.
  bool NextPoint(int32_t* x, int32_t* y);
  bool Number(const char* field, int32_t* out);
  bool ReadLineObject(int64_t points);
  bool ReadRegion(int64_t points);
  bool Fail(const char* message, int line);

  std::unique_ptr<ImportLineReader> in_;
  int32_t namePosition_ = 1;
};
