// One field of an open attribute file: its entry, its column in the pages,
// its value descriptions, and the values of the record the last search
// found.
//
// Values need a current record (else code 100 "Must perform a valid
// DlFileSearch before retrieving data."); they are read from the page of the
// record's position word, which is loaded again when another page stands in
// its place. Errors go to the file's error record with the source "fieldid".
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/gsaformat.h"
#include "base/qerror.h"
#include "base/qlist.h"

class DLFile;

class FieldId : public QDlistObject {
 public:
  FieldId(const GsaFieldEntry& entry, std::vector<GsaValueRecord> values, DLFile& file,
          QError& error);

  void SetPosition(uint32_t position) {
    position_ = position;
    current_ = true;
  }
  void ClearCurrent() { current_ = false; }
  bool Current() const { return current_; }

  const GsaFieldEntry& Entry() const { return entry_; }
  uint32_t Type() const { return entry_.type; }

  // The current record's text into buffer (size characters and a NUL); 1,
  // or 0 with the reason recorded.
  int32_t GetText(char* buffer, int32_t size);
  // The current record's number; -1 for a field that is not a number, 0
  // with the reason recorded when there is no value.
  int32_t GetNumber();
  // DlFieldGetString: the value printed through format (Algorithms of the
  // interface: empty format the plain value, "SDES"/"LDES" the short or
  // long description, a format with one conversion fit for the field's type
  // the printed value, any other the short description).
  int32_t GetString(const char* format, char* buffer, int32_t size);
  // DlFieldGetAttribute (0 to 10).
  int32_t GetAttribute(int32_t number, char* buffer, int32_t size) const;
  // DlFieldGetValueAttribute: which 0 value, 1 short, 2 long description.
  int32_t GetValueAttribute(int32_t index, int32_t which, char* buffer, int32_t size) const;

  // Checked reads of the current value without the interface's buffers;
  // false with the reason recorded.
  bool ReadText(std::string_view* text);
  bool ReadNumber(int32_t* value);

 private:
  // The loaded page holds the current record: its index (0-based), or -1
  // with the reason recorded.
  int64_t CurrentEntry();
  bool NoRecord();
  int32_t Describe(bool shortText, char* buffer, int32_t size);
  int32_t Print(const char* format, char* buffer, int32_t size);

  GsaFieldEntry entry_;
  std::vector<GsaValueRecord> values_;
  DLFile& file_;
  QError& error_;
  bool current_ = false;
  uint32_t position_ = 0;
};

// Checks a caller's format for a field: exactly one conversion (flags,
// width and precision allowed; no '*'), "%%" aside; d i u x X o with an
// optional l or ll for a number field, s for a text field. The conversion's
// length ("", "l" or "ll") goes to *length.
bool DlFormatFits(const char* format, uint32_t type, int* length, char* conversion);
