// CQmsFixedTextTable: a fixed-width text file: every record is a line of
// the same length, each field a fixed run of characters at a fixed offset,
// followed by the line end the format file names (qtbltext.h; its TYPE line
// says "Fixed"). Because records have one length the table positions by
// offset, rewrites a record in place and appends at the end.
//
// Record k (from 1) starts at byte (k - 1 + p) x L + a, where L is the
// record length (the widths plus the line end), p is 1 when the file begins
// with a names line and a is how much longer (or, negative, shorter) that
// names line is than a record. Appends use the same formula.
//
// Values are written into their field's width: strings left-aligned and cut,
// numbers right-aligned (a number that does not fit is written as asterisks,
// never cut), dates through their picture. Reads cut the record into the
// caller's field widths; a date field is read through its picture, an empty
// one gives an empty value.
#pragma once

#include <string>
#include <vector>

#include "base/qerror.h"
#include "base/qfile.h"
#include "tables/qtbltext.h"

class CQmsFixedTextTable : public CQmsTextTable {
 public:
  CQmsFixedTextTable();
  explicit CQmsFixedTextTable(const char* table);
  CQmsFixedTextTable(const char* database, const char* table, const char* formatFile);
  CQmsFixedTextTable(const CQmsFixedTextTable& other);
  CQmsFixedTextTable& operator=(const CQmsFixedTextTable& other);
  ~CQmsFixedTextTable() override;

  CQmsTable* Clone() const override;
  void ClearFields() override;
  void Open() override;
  void Close() override;
  QBOOL IsOpen() override { return m_File.IsOpen(); }
  void Create() override;
  QBOOL AddNewRecord() override;
  void CommitRecord() override;
  void FillAllFieldValues(CQmsRecord& record) override;
  void SetAllFieldValues(const CQmsRecord& record) override;
  using CQmsTextTable::FillAllFieldValues;
  using CQmsTextTable::SetAllFieldValues;
  void FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) override;
  void SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) override;
  unsigned long GetCount() override;
  void FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) override;
  void MoveTo(unsigned long position) override;
  void MoveBy(long count) override;
  void MoveFirst() override;
  void MoveLast() override;
  QBOOL Seek(const char* operation, const char* key) override;
  QBOOL Seek(const char* operation, const CQmsRecord& key) override;

  // The current record, terminated after its line end.
  const char* GetRawRecord() const { return m_Record.data(); }
  QBOOL IsDefinedFixed() const { return m_bDefinedFixed; }
  long GetRecordLength() const { return long(m_llRecordLength); }

 protected:
  TypeAnswer ApplyType(const std::string& value, int lineNumber) override;
  const char* TypeMarker() const override { return "TYPE="; }
  std::string TypeLine() const override { return "TYPE=Fixed\n"; }
  int FormatFileValidate() override;
  void ResetLayout() override;
  void AssertFileOpen() const override;
  bool FileIsOpen() const override { return m_File.IsOpen(); }

  // 0 when the record ends with its line end; else how many characters
  // early a line end came, or -1 when none is in the record.
  int CheckLine(const char* buffer) const;
  // Reads the record at the file's position into the record buffer and
  // moves back to its start; at the end of the file only at-EOF is set.
  void ReadRecord();
  // Goes to record k (also one past the last) and reads it.
  void ReadAt(unsigned long k);
  int64_t OffsetOf(unsigned long k) const;
  void CreateFLN();
  // Offsets from the widths; the record length with its line end.
  void ComputeLayout();
  // A record of blanks ended by the line end.
  void BlankRecord();
  // The names line at the start of a new file, before the first record.
  void WriteNamesLine();
  // One value into its place: by the type given, in width characters.
  void PlaceValue(char* at, int width, QMS_VARIANT_TYPE type, int decimals, const char* picture,
                  const CQmsVariant& value);
  // The length of an existing names line, found by its line end.
  int64_t NamesLineLength();

  QError m_FileError{1};
  QFile m_File{m_FileError};
  std::vector<char> m_Record;
  std::vector<int> m_Offsets;
  int64_t m_llRecordLength = 0;
  int64_t m_llAdjustment = 0;
  QBOOL m_bDefinedFixed = 0;
};
