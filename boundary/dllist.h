// The inside of an open attribute file (layout: base/gsaformat.h): the keyed
// page file DLFile, the page object DLFilePage that decodes a data page's
// columns, the text-column decoder, and Quistrel, the open file that the Dl
// interface hands out (boundary/readmain.h).
//
// Nothing here trusts the file: a page is taken only when its check value,
// column directory, record count and every column's own header agree with
// the page; a string or value is read only from inside its column. A page
// that fails is recorded as code 111 ("Invalid checksum or file size.") with
// the page number and the file's name in the detail, and the search or value
// access that needed it fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/gsaformat.h"
#include "base/packedint.h"
#include "base/pagefile.h"
#include "base/qerror.h"
#include "base/qlist.h"
#include "boundary/cinifile.h"

class FieldId;
struct DlContext;

// Decodes the strings of one text column, numbered from 1, lazily: forward
// from the current string within its group, jumping 16 strings at a time
// over the group links; a string before the current one restarts the column.
class DLTextColumn {
 public:
  // Takes the column's bytes; false when they cannot hold the string count.
  bool Reset(const uint8_t* start, uint32_t length);
  uint32_t Count() const { return count_; }
  // String number (1 .. Count), decoded; false when it is out of range or
  // the column is damaged. The text stays valid until the next call.
  bool Get(uint32_t number, std::string_view* text);
  // The number of groups, and the first string of group g (from 0); used by
  // the bisection over a text key column.
  uint32_t Groups() const { return (count_ + kGsaTextGroupStrings - 1) / kGsaTextGroupStrings; }

 private:
  bool Restart();
  // Moves to the header of the group after the current one.
  bool NextGroup();
  bool DecodeNext();
  // Forgets the current string after a failure; false.
  bool Fail();

  const uint8_t* start_ = nullptr;
  uint32_t length_ = 0;
  uint32_t count_ = 0;
  uint32_t group_ = 0;  // offset of the current group's header
  uint32_t groupIndex_ = 0;
  uint32_t cursor_ = 0;  // offset of the next string's stored bytes
  uint32_t number_ = 0;  // the current string (0: none yet)
  size_t storedLength_ = 0;
  size_t textLength_ = 0;
  bool textValid_ = false;
  char stored_[kGsaTextMaxEncoded + 1] = {};
  char text_[kGsaTextMaxEncoded + 1] = {};
};

// The page object of an attribute file. Its entries are the page's records:
// GetEntry gives a record's key text, Find the number (from 1) of the first
// record with a key, or -1.
class DLFilePage : public QIndexedFilePage {
 public:
  explicit DLFilePage(QError& error) : error_(error) {}

  void Setup(uint32_t textColumns, uint32_t numberColumns, uint32_t keyColumn, uint32_t keyType);

  // Loads and checks page number (a page already loaded is kept).
  bool Load(QPagedFile& file, uint32_t number) override;
  bool GetEntry(int32_t index, void* key, void* data) const override;
  int Compare(const void* key, const void* entryKey) const override;
  int32_t Find(const void* key) const override;
  uint32_t EntryCount() const override { return loaded_ >= 0 ? entries_ : 0; }

  int64_t Loaded() const { return loaded_; }
  // The column readers of the loaded page, or null; reading them past their
  // bytes is reported through Damaged.
  DLTextColumn* Text(uint32_t column) const {
    return column < text_.size() ? &text_[column] : nullptr;
  }
  PackedIntReader* Number(uint32_t column) const {
    return column < numbers_.size() ? &numbers_[column] : nullptr;
  }
  // Records that the loaded page is damaged (what: which part); false.
  bool Damaged(const char* what) const;

 private:
  // Value (0-based) of the key column for a number key.
  bool KeyNumber(uint32_t index, int32_t* out) const;

  QError& error_;
  mutable std::vector<DLTextColumn> text_;
  mutable std::vector<PackedIntReader> numbers_;
  std::vector<GsaColumnExtent> extents_;
  std::string fileName_;
  int64_t loaded_ = -1;
  int64_t reading_ = -1;  // the page being loaded, for reports
  uint32_t keyColumn_ = 0;
  uint32_t keyType_ = 0;
  uint32_t entries_ = 0;
};

// The keyed page file of an attribute file: 8 pages cached. Its key order
// is that of the key field: numbers (a pointer to the int32_t key, compared
// unsigned with the number in an entry's first 12 characters) or texts
// (compared ignoring ASCII case over at most 12 characters).
class DLFile : public QIndexedFile {
 public:
  DLFile(const char* name, DLFilePage* page, QError* error)
      : QIndexedFile(name, kGsaSignature, kGsaCacheCount, page, error), page_(page) {}

  int Compare(const void* key, const void* entryKey) override;
  void SetKeyType(uint32_t type) { keyType_ = type; }
  DLFilePage& DataPage() { return *page_; }

 private:
  DLFilePage* page_;
  uint32_t keyType_ = 0;
};

// An open attribute file. Errors go to the context's record.
class Quistrel : public QDlistObject {
 public:
  // Opens name; IsOpen tells the outcome, the error record the reason.
  Quistrel(const char* name, QError& error, DlContext* context);
  ~Quistrel() override;

  bool IsOpen() const { return open_; }

  // Searches a key (the first record with it, or with next the record after
  // the last one found when it has the same key): 1 found, 0 not. Text keys
  // of a number-keyed file are read as numbers, and numbers of a text-keyed
  // file printed.
  int32_t SearchText(const char* key, bool next);
  int32_t SearchNumber(int32_t key, bool next);

  int32_t FieldCount() const { return int32_t(fields_.size()); }
  FieldId* Field(int32_t n) const;
  // The first field whose name equals name ignoring case, or null.
  FieldId* FieldByName(const char* name) const;
  // File attributes 0 to 5 (DlFileGetAttribute).
  int32_t GetAttribute(int32_t number, char* buffer, int32_t size) const;

  const GsaDescriptor& Descriptor() const { return descriptor_; }
  DlContext* Context() const { return context_; }
  QError& Error() { return error_; }

 private:
  bool Open(const char* name);
  // Reads every node of the key tree; false (111) when one is damaged.
  bool VerifyTree();
  int32_t Search(const void* key, bool next);

  QError& error_;
  std::unique_ptr<DLFilePage> page_;
  std::unique_ptr<DLFile> file_;
  std::vector<std::unique_ptr<FieldId>> fields_;
  uint32_t position_ = 0;
  bool found_ = false;
  DlContext* context_;
  bool open_ = false;
  GsaDescriptor descriptor_;
  uint32_t keyType_ = 0;
};

// Copies at most size characters of text and a NUL into buffer (size + 1
// bytes); the Dl interface's way with buffers.
void DlCopyText(char* buffer, int32_t size, std::string_view text);
