// rtIndexBuild: writes the spatial index of a boundary file, an R-tree of
// 32768-byte pages (layout in boundary/gsbformat.h), bulk-loaded bottom-up
// from every object's bounding rectangle once all objects are stored.
//
// Each level is packed sort-tile-recursive: its N entries, in order of the
// x midpoints of their rectangles, are cut into S = trunc(sqrt(N / 1363))
// slices of N / S entries (the last takes what is left); each slice, in order
// of y midpoints, fills pages of up to 1363 entries; the pages become the
// entries of the next level. A level of at most 1363 entries is the root page.
// Midpoints are (a + b) / 2 of 32-bit sums truncated toward zero, ordered as
// unsigned numbers: negative midpoints come after all others.
//
// Entries travel through external merge sorts (base/qsort.h), so the number of
// objects is bounded by disk space, not memory. Their temporary files go to
// the folder given at construction and are removed when a sort ends, on
// success and on failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/qerror.h"
#include "base/qio.h"
#include "base/qsort.h"
#include "boundary/gsbformat.h"

class rtIndexBuild {
 public:
  // Temporary files go to directory (the system's temporary folder when it
  // is empty). A sort that cannot get its buffer records 104; every Add then
  // fails.
  rtIndexBuild(QError& error, const std::string& directory);
  ~rtIndexBuild();
  rtIndexBuild(const rtIndexBuild&) = delete;
  rtIndexBuild& operator=(const rtIndexBuild&) = delete;

  // Adds one leaf entry: an object's rectangle and its record's offset.
  // False when the sort cannot take it (its buffer is full and cannot be
  // written); the entry is counted all the same, so that Write then fails.
  bool Add(const GsbBounds& bounds, uint64_t offset);

  // Pads output with zeros to a multiple of 32768 and appends every page;
  // returns the root's page number (its offset / 32768), or -1 on failure
  // (recorded by the file or the sort). Call once.
  int32_t Write(QioFile& output);

  uint64_t Count() const { return count_; }
  // False when the sort could not get its buffer.
  bool IsValid() const { return sort_ && sort_->IsValid(); }

 private:
  std::unique_ptr<QSort> NewSort();
  // Packs the n entries of sort (one level) into pages, and their entries
  // into next; *pages gets the number of pages written.
  bool BuildLevel(QioFile& output, QSort& sort, uint64_t n, uint16_t level, uint16_t flags,
                  QSort& next, uint64_t* pages);
  // Appends one page; its number goes to *number.
  bool WritePage(QioFile& output, const GsbPageHeader& header, const uint8_t* entries,
                 uint64_t* number);

  QError& error_;
  std::string directory_;
  std::unique_ptr<QSort> sort_;
  uint64_t count_ = 0;
  uint64_t nextPage_ = 0;
  std::unique_ptr<uint8_t[]> page_;
  std::unique_ptr<uint8_t[]> entries_;
};
