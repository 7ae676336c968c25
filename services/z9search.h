// The ZIP+4 search: Z9Search reads the centroid records of a Z9 file
// (layout in services/z9format.h) in key order through its 9-character key
// level; Zip4FileHandle, the object behind a handle of type 4, walks the ZIP
// Code areas that meet a boundary file (services/zip4file.h) and tests each
// centroid of those ZIP Codes with the boundary engine's point-in-polygon
// search. The pipZip4*Intern bodies (declared in zonelib.h) work on it.
//
// Contracts on the border cases:
//   - Every page is read whole and checked before use: index pages hold at
//     most 511 entries, a data page's record count is at most the header's
//     largest record count (itself at most 65535, as a page's count is 16
//     bits), its eight column lengths fit the page, every column decodes for
//     every record and the keys ascend. A page that fails, or that lies past
//     the end of the file, is reported (111, with the page number) and ends
//     the search with -1; nothing is read outside a page.
//   - A search step that fails leaves the handle usable for a new find-first.
//   - Centroids are tested once per run of equal centroids.
//   - A negative radius counts as 0; a name buffer with a size below 1 (or
//     none), or a missing code or type buffer, gives -1.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/packedint.h"
#include "base/qfile.h"
#include "boundary/mainintn.h"
#include "services/z9format.h"
#include "services/zip4file.h"
#include "zonelib.h"

class PolySearchPointInPolygon;

inline constexpr const char* kZ9SearchSource = "z9search";
inline constexpr const char* kZ9SignatureText = "ZIP+4 centroid file";
inline constexpr const char* kZ9KeyMemoryText = "z9FilePage - Unable to allocate pZip";
inline constexpr const char* kZ9SeekText = "Seek: ZIP+4 centroid file.";
inline constexpr const char* kZ9LoadCaller = "z9Search::LoadBlock";

// One centroid record.
struct Z9Record {
  uint32_t zip = 0;
  uint32_t addOn = 0;
  int32_t code5 = 0;
  int32_t code7 = 0;
  int32_t x = 0;  // millionths of a degree
  int32_t y = 0;
  int32_t type = 0;
  int32_t extra = 0;
};

class Z9Search {
 public:
  enum Status : int32_t {
    kGood = 0,
    kSeekFailed = 2,
    kNotOpened = 3,
    kLevelNotOpened = 4,
    kBadSignature = 5,
    kEnd = 6,
    kDamaged = 7,
  };

  explicit Z9Search(pipErrorRef error);
  Z9Search(const Z9Search&) = delete;
  Z9Search& operator=(const Z9Search&) = delete;

  // Opens path (or the file FindFileOnPath finds for it), checks its header
  // and loads the 9-character key index; false (reported) on failure.
  bool Open(const char* path);

  // Makes current the first record whose key is at least lower (raised to
  // the first key of the index), the scan ending after upper: true when there
  // is one; otherwise the status says why (kEnd: none in range).
  bool Seek(uint32_t lower, uint32_t upper);
  // The next record of the scan; false at its end (kEnd) or on failure.
  bool Next();

  const Z9Record& Record() const { return current_; }
  int32_t Status() const { return status_; }
  uint32_t Form() const { return form_; }
  // The file opened.
  const char* Path() const { return file_.Name(); }

 private:
  struct Page {
    uint64_t number = UINT64_MAX;
    uint32_t count = 0;  // index pages: entries; data pages: records
    uint8_t bytes[kZ9PageSize];
  };

  bool Fail(int32_t status);
  bool Damaged(uint64_t page, const char* why);
  bool Load(Page& page, uint64_t number);
  bool LoadIndex(Page& page, uint64_t number);
  bool EnterBlock(uint32_t entry);
  bool EnterData(uint32_t entry);
  // Moves to the next record with data; false at the end or on failure.
  bool Step();
  // Decodes the current record; false (reported) when a column fails or the
  // record lies past the scan (kEnd).
  bool Current();
  uint32_t IndexKey(const Page& page, uint32_t i) const;
  // The index entry for key: the first of equal keys, else the last below
  // it; 0 when the key lies below them all.
  uint32_t IndexEntry(const Page& page, uint32_t key) const;

  pipErrorRef error_;
  QFile file_;
  int64_t size_ = 0;
  uint32_t largest_ = 0;
  uint32_t form_ = 0;
  uint64_t keyIndexPage_ = 0;
  std::unique_ptr<Page> keyIndex_;
  std::unique_ptr<Page> block_;
  std::unique_ptr<Page> data_;
  std::vector<uint32_t> keys_;
  PackedIntReader columns_[kZ9Columns];
  uint32_t entry_ = 0;  // of the key index page
  uint32_t blockEntry_ = 0;
  uint32_t recordIndex_ = 0;  // of the data page
  uint32_t upper_ = 0;
  int32_t status_ = kNotOpened;
  Z9Record current_;
};

class Zip4FileHandle {
 public:
  static constexpr int32_t kNameSize = 256;

  explicit Zip4FileHandle(pipErrorRef error);
  ~Zip4FileHandle();
  Zip4FileHandle(const Zip4FileHandle&) = delete;
  Zip4FileHandle& operator=(const Zip4FileHandle&) = delete;

  bool Open(const char* path);

  int32_t FindFirst(pipObjectFileObject& file, int32_t radius, char* code, char* type, char* name,
                    int32_t size);
  int32_t FindNext(char* code, char* type, char* name, int32_t size);

  // Point-in-polygon tests made by the last search (for tests).
  uint64_t Tests() const { return tests_; }

 private:
  // 1 inside, 0 outside, -1 error.
  int32_t Test(int32_t x, int32_t y);
  // Without a radius, the regions whose index rectangles meet a ZIP Code's
  // area are listed once, in index order, with their bounds: a centroid in
  // the area is then tested against those whose bounds hold it, in that
  // order, which finds what the point search would, without walking the
  // index for every centroid. False (reported) on a damaged index.
  bool ListCandidates(const SpatialRect& area);
  int32_t TestCandidates(int32_t x, int32_t y);
  struct Candidate {
    uint64_t offset;
    int32_t xmin, ymin, xmax, ymax;
  };

  pipErrorRef error_;
  Z9Search centroids_;
  Zip4File areas_;
  pipObjectFileObject* file_ = nullptr;
  std::unique_ptr<PolySearchPointInPolygon> point_;
  std::unique_ptr<SpatialIndexEnum> areaEnum_;
  std::vector<Candidate> candidates_;
  SpatialRect area_{0, 0, -1, -1};
  bool listed_ = false;  // candidates_ serve centroids in area_
  uint32_t radius_ = 0;
  int32_t zip_ = 0;  // 0 none, -1 error
  bool firstRecord_ = false;
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
  int32_t lastResult_ = 0;
  uint64_t tests_ = 0;
  char name_[kNameSize] = {};
};

template <>
struct HandleKind<Zip4FileHandle> {
  static constexpr uint32_t kType = kHandleZip4;
  static void Discard(Zip4FileHandle* zip4) { pipZip4FileCloseIntern(zip4); }
};
