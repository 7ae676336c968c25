// CQmsTextTable: what the fixed-width and the delimited text tables share:
// their names and flags, the field record that describes the columns, and
// the format file (".fmt") that carries the layout, read by Open and written
// by Create.
//
// Format file: one item per line; ';' and '/' start comments (except on a
// TYPE line, so "TYPE=;" names that delimiter); blank lines are skipped.
//   TYPE=<layout>   the fixed table takes a value starting with F ("Fixed");
//                   the delimited table takes a delimiter (a character, or
//                   comma, tab, semicolon, slash)
//   EOL=<end>       LF, NONE, RETURN (CR), anything else CRLF
//   FLN=<Yes|No>    the data file's first line holds the field names
//   <name> <type> <width>[.<decimals>] [<date picture>]
// Types by their first letter: C(haracter) STRING; N(umeric) DOUBLE with
// decimals, LONG without below 10 digits and DOUBLE from 10 digits on;
// D(ate) DATE, whose picture (which may hold blanks, ';' and '/') runs to
// the end of the line and must fit the width. Keys and values of switches
// are trimmed and compared ignoring case. A line that is neither a switch
// nor a valid field line ends the read with no fields, so that Open refuses
// the table (22000033) instead of reading it with part of its layout.
//
// The data file's name is the table name exactly as given, in the database
// folder; the format file's is the same path with its 3-letter extension
// replaced by ".fmt" (or ".fmt" appended), unless a format-file name was
// given to the constructor.
#pragma once

#include <string>
#include <vector>

#include "tables/qcodes.h"
#include "tables/qdate.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"
#include "tables/qtable.h"

class CQmsTextTable : public CQmsTable {
 public:
  static constexpr int kFieldLimit = 2048;
  enum LineEnd { kLineEndNone = 0, kLineEndReturn = 1, kLineEndLF = 2, kLineEndCRLF = 3 };

  ~CQmsTextTable() override;

  void DefineFields(const CQmsRecord& record) override;
  long GetFields(CQmsRecord& record) const override;
  long GetFieldCount() const override { return m_Fields.GetCount(); }
  // Text tables have no sort order: 11000004 is thrown at once, unlogged.
  void OpenOrdered(const char* order) override;
  QBOOL Exists() override;
  void Destroy() override;
  const char* GetTableName() override { return QmsText(m_TableName); }
  void SetTableName(const char* name) override;
  void RenameTable(const char* name) override;
  const char* GetDatabaseName() override { return QmsText(m_DatabaseName); }
  void SetDatabaseName(const char* name) override;
  QBOOL GetExclusive() override { return m_bExclusive; }
  void SetExclusive(QBOOL on) override { m_bExclusive = on; }
  QBOOL GetReadOnly() override { return m_bReadOnly; }
  void SetReadOnly(QBOOL on) override { m_bReadOnly = on; }
  void DeleteRecord() override;
  void FillAllFieldValues(CQmsRecord& first, CQmsRecord& second) override;
  void SetAllFieldValues(const CQmsRecord& first, const CQmsRecord& second) override;
  using CQmsTable::FillAllFieldValues;
  using CQmsTable::SetAllFieldValues;
  void FillFieldValues(CQmsRecord& record) override;
  void SetFieldValues(const CQmsRecord& record) override;
  QBOOL AtBOF() override;
  QBOOL AtEOF() override;
  unsigned long GetPosition() const override;
  void Dump(unsigned char withHeader) override;

  void SetLineEnd(int code) { m_iLineEnd = code; }
  int GetLineEnd() const { return m_iLineEnd; }
  void SetFirstLineNames(QBOOL on) { m_bFirstLineNames = on; }
  QBOOL GetFirstLineNames() const { return m_bFirstLineNames; }

 protected:
  // How a TYPE value read from a format file was taken.
  enum TypeAnswer { kTypeApplied, kTypeFieldLine, kTypeRefused };

  CQmsTextTable(const char* className, QBOOL readOnly, QBOOL firstLineNames);
  // Copies what both kinds copy: fields, names, flags, line end, settings.
  void CopyTextTable(const CQmsTextTable& other);

  // The kind's reading of a TYPE value.
  virtual TypeAnswer ApplyType(const std::string& value, int lineNumber) = 0;
  // A line holding this text is a TYPE line, whose ';' and '/' are not
  // comments.
  virtual const char* TypeMarker() const = 0;
  // The kind's TYPE line, with its line end.
  virtual std::string TypeLine() const = 0;
  // What a kind checks once the fields are read: 1 when the table is usable.
  virtual int FormatFileValidate() { return 1; }
  // Called when a read starts: a kind forgets what it derived from the last
  // format file.
  virtual void ResetLayout() {}
  // Raises 22000037 when the data file is not open.
  virtual void AssertFileOpen() const = 0;
  virtual bool FileIsOpen() const = 0;

  // 1 when the file was read and described at least one field.
  int ReadFmtFile();
  // 1 when the file was written whole.
  int WriteFmtFile();
  // A switch line (holding '='): applied, a field line after all, or the end
  // of the read.
  TypeAnswer GetSwitch(const std::string& line, int lineNumber);
  // Appends a field; a date field takes the current date picture.
  void AddField(const char* name, QMS_VARIANT_TYPE type, int width, int decimals);
  // The data file's path (any extension but ".fmt") or the format file's.
  std::string ConstructTableFileName(const char* extension) const;
  std::string DataPath() const { return ConstructTableFileName(""); }
  std::string FormatFilePath() const;
  // The line end's characters.
  const char* LineEndText() const;
  int LineEndLength() const;
  // Trims a text in place by a trim mode (1 leading, 2 trailing, 3 both;
  // white space is TAB to CR and space); null stays null.
  static char* Trim(char* text, int mode);
  // Sets a record field from a column's text: a date column's text is read
  // through its picture (an empty text gives an empty value), others are
  // converted by the record.
  void SetFromText(CQmsRecord& record, int field, int column, const char* text);
  // The site of a report of this table.
  QmsSite Site(const char* method, const char* file, long line) const {
    return QmsSite{m_szClass, nullptr, method, "", file, line, 0};
  }

  const char* m_szClass;
  CQmsDate m_Date;
  CQmsStringPtr m_DatabaseName;
  CQmsStringPtr m_TableName;
  CQmsStringPtr m_DatePicture;
  CQmsStringPtr m_FormatFileName;  // given explicitly; empty: derived
  CQmsStringPtr m_NamesLine;
  QBOOL m_bExclusive = 1;
  QBOOL m_bReadOnly;
  QBOOL m_bAtBOF = 1;
  QBOOL m_bAtEOF = 1;
  QBOOL m_bNamesLinePresent = 0;
  QBOOL m_bFirstLineNames;
  QBOOL m_bNamesLineWritten = 0;
  CQmsRecord m_Fields;
  int m_iLineEnd = kLineEndCRLF;
  unsigned long m_ulPosition = 0;
  unsigned long m_ulCount = 0;
  int64_t m_llFileSize = 0;
};

#define QMS_TEXT_SITE(method) Site((method), __FILE__, __LINE__)
