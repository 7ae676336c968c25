// CQmsDelimTextTable: a delimited text file: one record per line, fields
// separated by a delimiter character, text optionally enclosed in a
// qualifier (quote), an optional first line of field names. The layout
// comes from the format file (qtbltext.h). The table reads forward, counts
// and positions by reading again from the start, and writes by appending
// lines at the end of the file; it has no indexes, seeks or deletes.
//
// Reading: empty lines are skipped; a line is read whole whatever its
// length. Splitting: both '"' and '\'' open a quoted field whatever the
// qualifier; a quoted field ends at its closing quote, and text between the
// closing quote and the next delimiter is dropped; a doubled quote inside a
// quoted field is kept as both characters; a TAB that is not the delimiter
// is skipped, and TABs before an unquoted field make an empty field of
// their own. A date column's empty cell gives an empty value.
//
// Writing: fields by the source field's type (dates through their picture,
// numbers with their decimals), strings between qualifiers when one is set
// (quotes inside are written as they are), then the line end. The names
// line is written before the first record when the first-line-names setting
// is on and the file has none yet.
#pragma once

#include <string>
#include <vector>

#include "tables/qtbltext.h"
#include "tables/qtextfile.h"

class CQmsDelimTextTable : public CQmsTextTable {
 public:
  CQmsDelimTextTable();
  explicit CQmsDelimTextTable(const char* table);
  // Null names raise 23000000; an empty format-file name means the derived
  // one.
  CQmsDelimTextTable(const char* database, const char* table, const char* formatFile);
  CQmsDelimTextTable(const CQmsDelimTextTable& other);
  CQmsDelimTextTable& operator=(const CQmsDelimTextTable& other);
  ~CQmsDelimTextTable() override;

  CQmsTable* Clone() const override;
  void ClearFields() override;
  void Open() override;
  void Close() override;
  QBOOL IsOpen() override { return m_File.IsOpen(); }
  void Create() override;
  QBOOL AddNewRecord() override;
  void CommitRecord() override {}
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

  // A character or a word: comma, tab, semicolon, slash (by their first
  // letters), or any character but a letter, a digit, blank, '"', '.', '-',
  // '+', '_', LF, CR and form feed; 22000008 otherwise, 22000035 when open.
  void SetDelimiter(const char* text);
  // 't' for a TAB delimiter, else the character.
  char GetDelimiter() const { return m_cDelimiter == '\t' ? 't' : m_cDelimiter; }
  // 0 (none), '\'' or '"'.
  void SetQualifier(char qualifier);
  char GetQualifier() const { return m_cQualifier; }
  void SetOutputValidation(QBOOL on) { m_bOutputValidation = on; }
  QBOOL GetOutputValidation() const { return m_bOutputValidation; }

  // Whether a character may serve as a delimiter.
  static bool IsDelimiterCharacter(char c);

 protected:
  TypeAnswer ApplyType(const std::string& value, int lineNumber) override;
  const char* TypeMarker() const override { return "TYPE"; }
  std::string TypeLine() const override;
  void AssertFileOpen() const override;
  bool FileIsOpen() const override { return m_File.IsOpen(); }

  void CreateFLN();
  // The next non-empty line into the record buffer; false at the end.
  bool ReadRecord();
  // Starts splitting a line.
  void SplitLine(const std::string& line);
  // The next field of the line being split (terminated in the work
  // buffer), or null when the line has no more fields.
  char* GetNextField();
  // Logs a written line whose field count differs from the table's.
  void ValidateDelimitedFields(const std::string& line);
  // One value by its field's type, as it is written.
  void AppendValue(std::string& line, const CQmsRecord& record, int field);
  // The names line before the first record, then the line itself.
  void WriteLine(std::string& line);
  void Initialize(const char* formatFile);
  // Reads the whole file once to know its record count.
  void CountRecords();

  CQmsTextFile m_File;
  std::string m_Line;  // the current record
  std::string m_Next;  // the line being read
  std::vector<char> m_Work;
  size_t m_Cursor = 0;
  std::string m_Out;  // the line being written
  std::vector<int> m_Targets;
  QBOOL m_bOutputValidation = 0;
  char m_cQualifier = '"';
  char m_cDelimiter = ',';
};
