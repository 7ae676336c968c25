// The k nearest point objects of a boundary file, by a best-first walk of
// its R-tree. Pages and entries wait in one queue ordered by the least
// distance any point of their rectangle can have, so points come out
// nearest first and the walk ends as soon as k have come out: no page is
// entered twice and no window is searched again.
//
// Distances are pipDistance's (feet, both axes scaled at the search
// point's latitude, truncated). A rectangle's bound is that formula at the
// rectangle's point nearest the search point; each step of it grows with
// the coordinate differences, so the bound is never above the distance of
// a point inside the rectangle, and for a point's own one-point rectangle
// it is that point's distance.
//
// Contracts on the border cases:
//   - The answers are a brute force's over every point object: the k least
//     distances within reach (a point beyond it, or too far for pipDistance
//     to give a distance, is never an answer); equal distances in the order
//     a rectangle search meets them (the tree's entries depth first, in
//     stored order). Regions and lines are never answers.
//   - A point's distance is taken from its record, never from its index
//     rectangle; the rectangle only orders the walk. Only a point's kind,
//     position and record number are read; a record too short for them is
//     fetched whole, which reports the damage.
//   - Pages are pruned by the k-th least distance of the one-point entries
//     met so far, as a guess that they are the points they seem; a guess
//     that a record proves wrong starts the walk again without guessing,
//     so answers never depend on the guess.
//   - A damaged page ends the walk with -1 (reported by the index), as
//     does a tree whose pages share children so that the walk enters more
//     pages than the file holds.
//   - Trees deeper than the walk's order key holds (never made by the
//     builder) are not walked: Walkable says so and callers search by
//     windows instead.
#pragma once

#include <cstdint>
#include <vector>

#include "boundary/polysrch.h"
#include "boundary/spindex.h"

class NearestWalk {
 public:
  struct Hit {
    int32_t distance;
    uint64_t offset;
  };
  // Whether the point of a record number passes the caller's criteria.
  class Filter {
   public:
    virtual bool Passes(uint32_t recordNumber) = 0;

   protected:
    ~Filter() = default;
  };

  // Whether index's tree fits the walk's order key.
  static bool Walkable(const rtIndex& index);

  // The up to k nearest points of (x, y) within reach feet that pass filter
  // (all, without one), nearest first, into hits: 1, or -1 when a page or
  // record is damaged (reported).
  int32_t Find(rtIndex& index, PolygonSearch& search, int32_t x, int32_t y, uint32_t k,
               int64_t reach, Filter* filter, std::vector<Hit>* hits);

 private:
  // The depth-first position of a page or an entry: its entry numbers from
  // the root, the root's first in the highest bits.
  using Key = uint64_t;

  struct Item {
    int32_t bound;
    uint16_t level;
    uint8_t depth;
    uint8_t page : 1;
    uint8_t guess : 1;  // an entry counted in the guessed threshold
    uint64_t reference;  // page number or record offset
    Key key;
  };
  static_assert(sizeof(Item) == 24);
  struct Later {
    bool operator()(const Item& a, const Item& b) const {
      return a.bound != b.bound ? a.bound > b.bound : a.key > b.key;
    }
  };

  // 1 when the walk ended, 0 when a guess proved wrong, -1 on damage.
  int32_t Walk(rtIndex& index, PolygonSearch& search, uint32_t k, Filter* filter,
               std::vector<Hit>* hits);
  // Queues the entries of page (at depth, with key) within the threshold;
  // false when the page leads below the leaves.
  bool Expand(rtIndex& index, const rtPage& page, uint32_t number, uint32_t depth, Key key);
  // The entries of one cell of page's grid that belong to it.
  void ConsiderCell(const rtPage& page, uint32_t column, uint32_t row, uint32_t depth, Key key);
  // Queues entry i of page, of rectangle r, when within the threshold.
  void Consider(const rtPage& page, const SpatialRect& r, uint32_t i, uint32_t depth, Key key);
  // Each cell's squared distance along one axis (scaled by factor) from at,
  // whose cell is home.
  static void Squares(const rtPage::Axis& axis, int32_t at, double factor, uint32_t home,
                      std::vector<double>* out);
  // pipDistance from the search point to (x, y), to the last bit.
  int32_t Distance(int32_t x, int32_t y) const;
  void Push(const Item& item);
  // Notes a one-point entry's distance for the guessed threshold.
  void Guess(int32_t distance);
  // The threshold: the reach, or the k-th guessed distance when lower.
  void Tighten(int32_t limit);

  int32_t x_ = 0;
  int32_t y_ = 0;
  int kind_ = 0;
  double fx_ = 1.0;
  double fy_ = 1.0;
  const uint8_t* view_ = nullptr;  // the file's mapped view, if it has one
  size_t viewSize_ = 0;
  uint32_t k_ = 0;
  int32_t reach_ = 0;
  bool guessing_ = false;
  uint32_t bits_ = 0;  // of one entry number in a key
  int32_t threshold_ = 0;
  double thresholdSquared_ = 0;  // above it no bound can be within the threshold
  std::vector<Item> queue_;
  std::vector<double> columns_, rows_;  // of the page being expanded
  std::vector<int32_t> guesses_;  // a heap of the k least, greatest first
};
