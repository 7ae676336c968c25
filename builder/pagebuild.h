// The writing side of keyed page files (the readers are QPagedFile,
// QIndexedFile and QIndexedFilePage of base/pagefile.h): a block file whose
// blocks are appended at its end and sealed with a check value, the header
// block, the keyed page builder and the keyed file builder.
//
// Header block (the file's first block, of the page size):
//   0    256  notice: "%d/%d\r\n" with the month and year of the file's date,
//             four more lines ending in CR LF, the byte 0x1A, zeros
//   256  u32  signature        260 u32  0 (the page count is not kept)
//   264  u16  header block size          266 u16  page size
//   268  u16  0                270 u16  packed date:
//             ((month - 1) + (year - 1990) x 12) x 32 + day
//   280  296 bytes, the owner's area: the file builder's words at 280 (sort
//        record size), 284 (page key length), 288 (entry key length) and
//        292 (entry data length); an owner may replace the whole area
//   last two bytes: the check value
// Keyed page of S bytes, U = S - 2: u32 U at 0, u32 entry count n at 4, the
// owner's area from 8, entry i (key, then data) at U - (i + 1)(k + d), the
// check value at U. Page n lies at (n + 1) x S.
//
// Every failure is recorded in the builder's QError (file errors with the
// file's name) and the failing call returns false or -1; a builder goes on
// refusing work once an error stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/pagefile.h"
#include "base/qerror.h"
#include "base/qio.h"
#include "base/qtree.h"

inline constexpr size_t kQHeaderNoticeSize = 256;
inline constexpr size_t kQHeaderDateOffset = 270;
inline constexpr size_t kQHeaderThirdSizeOffset = 268;
inline constexpr size_t kQOwnerAreaOffset = 280;
inline constexpr size_t kQOwnerAreaSize = 296;
inline constexpr size_t kQOwnerSortRecordSize = 280;
inline constexpr size_t kQOwnerPageKeyLength = 284;
// Appended zeros go out in chunks of this size.
inline constexpr uint32_t kQBlockChunk = 1024;

// ((month - 1) + (year - 1990) x 12) x 32 + day, in 16 bits.
uint16_t QPackedDate(int year, int month, int day);
// Reads "YYYYMMDD"; false unless it is eight digits of a date from 1990 on.
bool QParseDateText(const char* text, int* year, int* month, int* day);
// The local date of today as "YYYYMMDD".
std::string QTodayDateText();

// A file of blocks, created (or truncated) for writing.
class QBlockFile {
 public:
  QBlockFile(const char* name, QError& error);
  ~QBlockFile();
  QBlockFile(const QBlockFile&) = delete;
  QBlockFile& operator=(const QBlockFile&) = delete;

  bool IsOpen() const { return file_ && file_->Descriptor() >= 0; }
  // Appends length zero bytes; the old end (the new area's position) or -1.
  int64_t Append(int64_t length);
  // Seals the block (size bytes) with its check value and writes it.
  bool WriteBlock(int64_t position, uint8_t* block, uint32_t size);
  bool WriteAt(int64_t position, const void* bytes, uint32_t count);
  bool Close();

  QioFile& File() { return *file_; }
  const std::string& Name() const { return name_; }

 private:
  // Adds the file's name to the errno failure just recorded; returns false.
  bool Failed(int line);

  std::string name_;
  QError& error_;
  std::unique_ptr<QioFile> file_;
};

// The page being filled; key length k, data length d.
class QIndexedFilePageBuild {
 public:
  QIndexedFilePageBuild(uint32_t pageSize, uint32_t keyLength, uint32_t dataLength);
  virtual ~QIndexedFilePageBuild() = default;
  QIndexedFilePageBuild(const QIndexedFilePageBuild&) = delete;
  QIndexedFilePageBuild& operator=(const QIndexedFilePageBuild&) = delete;

  // Zeroes the page but its first word (U); no entries.
  virtual void Clear();
  // The page reader over the page being built.
  virtual QIndexedFilePage& Reader() { return reader_; }
  // Adds an entry (record: what the owner's page builders read their values
  // from); false when it does not fit.
  virtual bool AddEntry(const void* key, const void* data, const void* record);
  // Seals the page and writes it at its position.
  virtual bool Write(QBlockFile& file);

  void SetPosition(int64_t position) { position_ = position; }
  int64_t Position() const { return position_; }
  uint8_t* Block() { return block_.get(); }
  uint32_t PageSize() const { return pageSize_; }
  uint32_t Usable() const { return pageSize_ - 2; }
  uint32_t Count() const { return QLoadU32LE(block_.get() + 4); }

 protected:
  uint32_t KeyLength() const { return keyLength_; }
  uint32_t DataLength() const { return dataLength_; }

 private:
  std::unique_ptr<uint8_t[]> block_;
  uint32_t pageSize_;
  int64_t position_ = -1;
  uint32_t keyLength_;
  uint32_t dataLength_;
  QIndexedFilePage reader_;
};

struct QIndexedFileBuildParams {
  uint32_t pageSize = 8192;
  uint32_t sortRecordSize = 0;
  uint32_t entryKeyLength = 0;
  uint32_t entryDataLength = 0;
  // Length of the first keys of pages that go to the key tree.
  uint32_t pageKeyLength = 0;
  uint32_t signature = 0;
  // "YYYYMMDD"; empty: today.
  std::string dateText;
  // Where the key tree's temporary files go; empty: the output's folder.
  std::string tempDirectory;
};

class QIndexedFileBuild {
 public:
  // Creates path and places the header block. pageBuilder: the caller's
  // (not owned), or null for a plain one of the entry lengths. error: the
  // caller's, or null for one of the builder's own.
  QIndexedFileBuild(const QIndexedFileBuildParams& params, const char* path,
                    QIndexedFilePageBuild* pageBuilder, QError* error);
  // Closes the file (see Close) when that was not done.
  virtual ~QIndexedFileBuild();
  QIndexedFileBuild(const QIndexedFileBuild&) = delete;
  QIndexedFileBuild& operator=(const QIndexedFileBuild&) = delete;

  // The first key of a page, from the record that opens it (page key length
  // bytes, cleared by the caller). Empty here.
  virtual void MakeKey(const void* record, uint8_t* key);
  virtual uint32_t KeyLength() const { return pageKeyLength_; }

  // Adds an entry; opens a new page (written behind the last) when the
  // current one is full. False on any failure, recorded.
  bool Add(const void* key, const void* data, const void* record);
  // Appends an area of length bytes (rounded up to whole pages) holding
  // bytes; its position, or -1.
  int64_t WriteArea(const void* bytes, uint32_t length);
  // Writes the last page and the key tree; the tree's position, or -1.
  int64_t Finish();
  // Seals and writes the header block and closes the file; false when that
  // fails or an error stands from before.
  bool Close();

  // The header block, kept in memory until Close.
  uint8_t* HeaderBlock() { return header_.data(); }
  QError& Error() { return *error_; }
  bool Ok() const { return !error_->HasError(); }
  // Whether the file was made at the path (also when a later step failed).
  bool Created() const { return created_; }
  uint64_t Count() const { return count_; }
  uint32_t PageCount() const { return pages_; }
  const std::string& Path() const { return path_; }

 private:
  bool Fail(const char* text, int line);
  bool StartPage(const void* record);
  bool WritePage();

  QIndexedFileBuildParams params_;
  std::string path_;
  uint32_t pageKeyLength_;
  std::unique_ptr<QError> ownError_;
  QError* error_;
  std::unique_ptr<QIndexedFilePageBuild> ownPage_;
  QIndexedFilePageBuild* page_;
  std::unique_ptr<QBlockFile> file_;
  std::vector<uint8_t> header_;
  std::unique_ptr<QTreeBuild> tree_;
  std::vector<uint8_t> key_;          // the new page's first key
  std::vector<uint8_t> previousKey_;  // the previous page's first key
  std::vector<uint8_t> previousEntry_;
  uint64_t count_ = 0;
  uint32_t pages_ = 0;
  bool created_ = false;
  bool pageOpen_ = false;
  bool finished_ = false;
  bool closed_ = false;
};
