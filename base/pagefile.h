// Paged files: a header page, then pages of one fixed size, every page ending
// in a 16-bit check value. QPagedFile opens such a file and checks it;
// QIndexedFile adds keyed pages found through a name tree (base/qtree.h);
// QIndexedFilePage searches the entries of one keyed page.
//
// Layout (little-endian):
//   header record, the first 280 bytes of the file:
//     0   256  notice text (not interpreted)
//     256 u32  signature
//     260 u32  page count (pages after the header page)
//     264 u16  header page size
//     266 u16  page size
//     268 12   further fields, unused here
//   header page: bytes 0 .. header page size - 1; indexed files keep their
//   entry key length at 288 and entry data length at 292 (u32 each).
//   page n (from 0): at header page size + n x page size.
//   check value: the last two bytes of a page, the low 16 bits of the sum over
//   the page's other bytes of byte[i] << (i mod 8).
//
//   keyed page: u32 end offset E of the entry area at 0, u32 entry count N at
//   4; entry i (from 0, ascending keys) at E - S x (i + 1), S = key length +
//   data length, the key first. Positions of QIndexedFile::Find number the
//   entries of a page from 0: position = entry x 262144 + page number.
//
// Failures are recorded in the owner's QError: 102 for another signature,
// 104 for memory, 111 for a header page whose check value does not match or a
// file whose length, sizes or footer page disagree with its header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/endian.h"
#include "base/qerror.h"
#include "base/qfile.h"
#include "base/recmgr.h"

class QTree;

// --- check values of pages ---
// The check value of a page of size bytes (size >= 2): computed over all but
// its last two bytes.
uint16_t QPageCheckValue(const uint8_t* page, size_t size);
// Whether the stored check value (the last two bytes) matches.
bool QPageCheckValueValid(const uint8_t* page, size_t size);
// Stores the check value in the last two bytes.
void QPageSetCheckValue(uint8_t* page, size_t size);

// --- the header record ---
inline constexpr size_t kQPagedHeaderRecordSize = 280;
inline constexpr size_t kQPagedSignatureOffset = 256;
inline constexpr size_t kQPagedPageCountOffset = 260;
inline constexpr size_t kQPagedHeaderPageSizeOffset = 264;
inline constexpr size_t kQPagedPageSizeOffset = 266;
inline constexpr size_t kQIndexedKeyLengthOffset = 288;
inline constexpr size_t kQIndexedDataLengthOffset = 292;
// Bytes of a page's footer read by the length check.
inline constexpr size_t kQPagedFooterReadSize = 280;

// Keyed pages.
inline constexpr size_t kQKeyedPageHeaderSize = 8;
inline constexpr uint32_t kQPositionPageBits = 18;
inline constexpr uint32_t kQPositionPageMask = (1u << kQPositionPageBits) - 1;  // 262143
inline constexpr uint32_t kQPositionEntryMask = 0x3FFF;                          // 14 bits

inline uint32_t QPositionMake(uint32_t entry, uint32_t page) {
  return ((entry & kQPositionEntryMask) << kQPositionPageBits) | (page & kQPositionPageMask);
}
inline uint32_t QPositionPage(uint32_t position) { return position & kQPositionPageMask; }
inline uint32_t QPositionEntry(uint32_t position) {
  return (position >> kQPositionPageBits) & kQPositionEntryMask;
}

class QPagedFile {
 public:
  // Opens name (mode 0) and checks it against signature; IsOpen tells the
  // outcome, error the reason.
  QPagedFile(const char* name, uint32_t signature, uint32_t cacheCount, QError& error);
  ~QPagedFile();
  QPagedFile(const QPagedFile&) = delete;
  QPagedFile& operator=(const QPagedFile&) = delete;

  // Whether the length and footer check runs for files of this signature.
  static bool ChecksLength(uint32_t signature);

  bool IsOpen() const { return open_; }
  // Page n's bytes (PageSize of them) through the record manager, or null.
  const uint8_t* GetPage(uint32_t n, int* how = nullptr) {
    return recordMgr_ ? recordMgr_->GetRecord(n, how) : nullptr;
  }

  uint32_t Signature() const { return QLoadU32LE(header_ + kQPagedSignatureOffset); }
  // The page count after the length check (it may be corrected there).
  uint32_t PageCount() const { return pageCount_; }
  uint16_t HeaderPageSize() const { return headerPageSize_; }
  uint16_t PageSize() const { return pageSize_; }
  const uint8_t* HeaderRecord() const { return header_; }
  // The whole header page (HeaderPageSize bytes), or null when not read.
  const uint8_t* HeaderPage() const { return headerPage_.get(); }
  QFile& File() { return file_; }
  QRecordMgr* RecordMgr() { return recordMgr_.get(); }
  QError& Error() { return error_; }

 private:
  // The length and footer check; false (with 111 recorded) when it fails.
  bool CheckFooter();

  QError& error_;
  uint16_t headerPageSize_ = 0;
  uint16_t pageSize_ = 0;
  uint32_t pageCount_ = 0;
  uint8_t header_[kQPagedHeaderRecordSize] = {};
  std::unique_ptr<uint8_t[]> headerPage_;
  std::unique_ptr<QRecordMgr> recordMgr_;
  QFile file_;
  bool open_ = false;
};

// The reader of one keyed page. It works on a page buffer it does not own:
// the record manager's record after Load, or a buffer given with Attach (the
// writers use the same reader over the page they build). Every entry access is
// checked against the page: an entry that does not lie whole inside the
// entry area is treated as absent.
class QIndexedFilePage {
 public:
  QIndexedFilePage() = default;
  virtual ~QIndexedFilePage() = default;
  QIndexedFilePage(const QIndexedFilePage&) = delete;
  QIndexedFilePage& operator=(const QIndexedFilePage&) = delete;

  // Makes page number of file the current page; false when it cannot be read.
  virtual bool Load(QPagedFile& file, uint32_t number);
  // Copies key and data of entry index to the outputs that are not null;
  // false without a page or when index is not below the entry count.
  virtual bool GetEntry(int32_t index, void* key, void* data) const;
  // Order of key against an entry's key: memcmp over the key length.
  virtual int Compare(const void* key, const void* entryKey) const;
  // The smallest entry index whose key equals key, or -1.
  virtual int32_t Find(const void* key) const;

  // Works on buffer (size bytes) from now on, as if it had been loaded.
  void Attach(const uint8_t* buffer, uint32_t size);
  void SetLengths(uint32_t keyLength, uint32_t dataLength) {
    keyLength_ = keyLength;
    dataLength_ = dataLength;
  }

  // The number of entries that lie whole inside the page (the stored count
  // when the page is sound; 0 without a page).
  virtual uint32_t EntryCount() const;
  uint32_t KeyLength() const { return keyLength_; }
  uint32_t DataLength() const { return dataLength_; }
  const uint8_t* Buffer() const { return page_; }
  uint32_t BufferSize() const { return size_; }

 protected:
  // The address of entry index, or null when it is not inside the page.
  const uint8_t* EntryAt(uint32_t index) const;

 private:
  const uint8_t* page_ = nullptr;
  uint32_t size_ = 0;
  uint32_t keyLength_ = 0;
  uint32_t dataLength_ = 0;
};

// A paged file of keyed pages with a name tree from keys to page numbers.
// Without an error record of the caller's it reports into a QErrorEx of its
// own, so its first recorded failure throws.
class QIndexedFile {
 public:
  QIndexedFile(const char* name, uint32_t signature, uint32_t cacheCount, QIndexedFilePage* page,
               QError* error);
  virtual ~QIndexedFile();
  QIndexedFile(const QIndexedFile&) = delete;
  QIndexedFile& operator=(const QIndexedFile&) = delete;

  // The key order of the tree and the pages; forwards to the page object.
  virtual int Compare(const void* key, const void* entryKey);

  // Opens the name tree whose root lies at position in the file.
  bool OpenIndex(uint64_t position);
  // Finds the first entry of key; position as described above.
  bool Find(const void* key, uint32_t* position);
  // Steps from position to the next entry and compares it with key (mode 1:
  // position names the entry to look at next and is advanced past an equal
  // one).
  bool FindNext(const void* key, uint32_t* position, int mode);

  bool IsOpen() const { return pagedFile_ && pagedFile_->IsOpen() && lengthsValid_; }
  QPagedFile& PagedFile() { return *pagedFile_; }
  QIndexedFilePage& Page() { return *page_; }
  QTree* Tree() { return tree_.get(); }
  QError& Error() { return *error_; }

 private:
  static int TreeCompare(void* context, const void* key, const void* entryKey);
  bool ReadEntryKey(int32_t index);

  QIndexedFilePage* page_;
  std::unique_ptr<QIndexedFilePage> ownPage_;  // when the caller gives none
  std::unique_ptr<QError> ownError_;
  QError* error_;
  std::unique_ptr<QPagedFile> pagedFile_;
  std::unique_ptr<QTree> tree_;
  // A tree key widened to the page's key length, and the key of the entry
  // being compared.
  std::unique_ptr<uint8_t[]> treeKey_;
  std::unique_ptr<uint8_t[]> entryKey_;
  uint32_t treeKeyLength_ = 0;
  bool lengthsValid_ = false;
};
