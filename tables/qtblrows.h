// CQmsFolioRackRows: the records of one xBase data file read in the order of
// one of its fields, each column as the bytes the file stores (no type
// conversion, no trimming), for a program that copies a table's rows out
// unchanged.
//
// The reader works on an engine context of its own, apart from the one the
// CQmsFolioRackTable objects share: it opens the data file for its own use
// only, without the production index, with the engine's messages off.
// IndexOn makes an index file of the caller's name holding one tag on the
// field, and the reads follow that tag from then on; the caller removes the
// file once the reader is closed.
//
// Every failure is a false or null result; the engine's error code stays in
// the context, and Healthy tells whether one was set.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

class CQmsFolioRackRows {
 public:
  CQmsFolioRackRows();
  // Closes the data file and ends the context.
  ~CQmsFolioRackRows();
  CQmsFolioRackRows(const CQmsFolioRackRows&) = delete;
  CQmsFolioRackRows& operator=(const CQmsFolioRackRows&) = delete;

  // False when the context cannot start or the data file does not open.
  bool Open(const char* table);
  // Makes the index file at path with one tag on field and selects that
  // tag: the name the file was made under, or null when it cannot be made.
  const char* IndexOn(const char* path, const char* field);
  // Closes the data file and its index; the context lives on until the
  // object goes.
  void Close();

  // The columns: 0 to GetColumnCount() - 1.
  int GetColumnCount() const;
  const char* GetColumnName(int column) const;
  // The column's xBase type letter (C, N, F, D, L, M, ...).
  char GetColumnType(int column) const;
  unsigned GetColumnWidth(int column) const;
  unsigned GetColumnDecimals(int column) const;

  // Goes back before the first record.
  void Rewind();
  // Moves to the next record in the selected order: false after the last
  // one, or on a failure (Failed tells).
  bool Next();
  bool Failed() const { return m_bFailed; }
  // The stored bytes of a column of the current record.
  std::string_view GetColumnData(int column) const;
  // The current record's number in the file, and the file's record count.
  long GetRecordNumber() const;
  long GetRecordCount() const;
  // False once the engine has recorded an error in the reader's context.
  bool Healthy() const;

 private:
  struct Engine;
  std::unique_ptr<Engine> m_pEngine;
  bool m_bStarted = false;
  bool m_bFailed = false;
};
