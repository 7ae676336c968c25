// Zip4File: the ZIP Code area index of a Z9 file (layout in
// services/z9format.h), walked entry by entry for the ZIP Codes whose
// rectangles meet objects of a boundary file.
//
// Contracts on the border cases:
//   - Open fails (100) for a file without an area index ("Z9 file is missing
//     ZIP Code area index.") and for an index whose signature is wrong or
//     whose entries pass the end of the file ("Z9 file has invalid ZIP Code
//     area index."). The entries are read whole at open.
//   - The rectangle of an entry widened by a radius is figured in 64 bits and
//     held to the 32-bit range; the latitude that widens x is held to +-90
//     degrees.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/qfile.h"
#include "boundary/mainintn.h"
#include "boundary/spindex.h"

inline constexpr const char* kZip4FileSource = "zip4file";
inline constexpr const char* kZip4NoAreaIndexText = "Z9 file is missing ZIP Code area index.";
inline constexpr const char* kZip4BadAreaIndexText = "Z9 file has invalid ZIP Code area index.";

class Zip4File {
 public:
  explicit Zip4File(pipErrorRef error);

  // Opens path and reads its area index; false (reported) when it has none
  // or it is damaged.
  bool Open(const char* path);
  bool IsOpen() const { return open_; }
  uint32_t EntryCount() const { return count_; }

  // The entry's rectangle widened by radius feet (0: as stored).
  SpatialRect EntryRect(uint32_t entry, int32_t radius) const;

  // Starts the walk over index: the first ZIP Code whose (widened) rectangle
  // meets an object's rectangle; 0 when no entry does, -1 on a damaged
  // index (reported by the index).
  int32_t FindFirst(SpatialIndex* index, int32_t radius);
  int32_t FindNext();
  // The rectangle, as stored, of the entry the walk gave last.
  SpatialRect CurrentRect() const { return EntryRect(next_ > 0 ? next_ - 1 : 0, 0); }

 private:
  pipErrorRef error_;
  std::vector<uint8_t> entries_;
  uint32_t count_ = 0;
  bool open_ = false;
  SpatialIndex* index_ = nullptr;
  std::unique_ptr<SpatialIndexEnum> enum_;
  int32_t radius_ = 0;
  uint32_t next_ = 0;
};
