// CQmsTable: the one interface through which every table kind of the library
// is read and written (xBase, fixed-width text, delimited text, ADO).
//
// A caller describes rows with a CQmsRecord, copies values between the
// current row and a record, and moves a current-record cursor whose
// positions count from 1. The class holds no data; it fixes the order and
// contract of the virtual operations, gives default bodies to some of them
// and splits paths for the kinds that build file names.
//
// The default bodies of the index, auto-open and filter operations report
// 11000004 ("This function is not implemented", a warning) through the log
// and answer 0, nothing or -1; they never throw. A caller treats -1 from
// GetIndexCount or AllocIndexInfo as "no indexes" and must not free an array
// that AllocIndexInfo did not hand out.
//
// Every operation of every kind raises its failures as `long` codes, logging
// each once per library operation it passes (qcodes.h).
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "tables/qcodes.h"
#include "tables/qcolitem.h"
#include "tables/qdump.h"
#include "tables/qfldmap.h"
#include "tables/qobject.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"

// What a table kind can do, for callers; no operation of the library reads
// it back. The flags are 0 or 1; kind name is at most 9 characters.
struct _QMS_TABLE_CAPABILITIES {
  unsigned char bLocalFile;     // 0: the rows live on a server
  unsigned char bIndexes;       // named index tags, seeks
  unsigned char bDelete;        // DeleteRecord removes or marks rows
  unsigned char bUpdate;        // a row can be rewritten in place
  unsigned char bAppend;        // rows can be added
  unsigned char bServer;        // a database server behind a connection
  unsigned char bQuery;         // a query source
  unsigned char bForwardOnly;   // read forward only
  unsigned char bRandomAccess;  // positioned freely (the opposite of bForwardOnly)
  char szKind[10];
};
static_assert(sizeof(_QMS_TABLE_CAPABILITIES) == 19, "nine flags and a 10-byte kind name");
static_assert(offsetof(_QMS_TABLE_CAPABILITIES, bRandomAccess) == 8, "flags at bytes 0-8");
static_assert(offsetof(_QMS_TABLE_CAPABILITIES, szKind) == 9, "kind name at byte 9");

// One entry per index tag, handed out as a contiguous array (C heap) by
// AllocIndexInfo and released by FreeIndexInfo of the same table.
struct _QMS_TABLE_INDEXES {
  char szKeyExpression[2048];  // terminated, cut at 2048 bytes
  char szTagName[256];         // terminated, cut at 256 bytes
};
static_assert(sizeof(_QMS_TABLE_INDEXES) == 2304, "2,304 bytes per tag");
static_assert(offsetof(_QMS_TABLE_INDEXES, szTagName) == 2048, "tag name at byte 2048");

// As QmsGuarded, for a method whose report text is built while it runs: the
// text is read when a code leaves the body.
template <class Body>
decltype(auto) QmsGuardedText(const char* cls, const char* method, const std::string& text, const char* file,
                              long line, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (long code) {
    QmsReport(code, QmsSite{cls, nullptr, method, text.c_str(), file, line, 0});
    throw;
  }
}

// Reports a code with a text without raising it.
inline void QmsLog(long code, const char* cls, const char* method, const std::string& text, const char* file,
                   long line) {
  QmsReport(code, QmsSite{cls, nullptr, method, text.c_str(), file, line, 0});
}

// printf into a std::string (bounded by the formatted length).
std::string QmsFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

class CQmsTable : public CQmsObject, public CQmsCollectable, public CQmsTest, public CQmsDump {
 public:
  static constexpr int kPathPartLimit = 255;

  ~CQmsTable() override;

  // A new table of the same kind on the same names and field definitions,
  // not open.
  virtual CQmsTable* Clone() const = 0;
  virtual void ClearFields() = 0;
  virtual void DefineFields(const CQmsRecord& record) = 0;
  // Clears the record and adds one field per column; answers the count.
  virtual long GetFields(CQmsRecord& record) const = 0;
  virtual long GetFieldCount() const = 0;
  // The name of the column at a 0-based index, through GetFields into one
  // record shared by every table: valid until the next call on any table.
  virtual const char* GetFieldName(int index) const;
  virtual void OpenOrdered(const char* order) = 0;
  virtual void Open() = 0;
  // Why the last Open or OpenOrdered left the table closed, in the words of
  // the engine below ("" when it opened, or when the kind does not say).
  virtual const char* GetOpenFailure() const { return ""; }
  virtual void Close() = 0;
  virtual QBOOL IsOpen() = 0;
  virtual QBOOL Exists() = 0;
  virtual void Create() = 0;
  virtual void Destroy() = 0;
  virtual const char* GetTableName() = 0;
  virtual void SetTableName(const char* name) = 0;
  virtual void RenameTable(const char* name) = 0;
  virtual const char* GetDatabaseName() = 0;
  virtual void SetDatabaseName(const char* name) = 0;
  virtual QBOOL GetAutoOpenIndex();
  virtual void SetAutoOpenIndex(QBOOL on);
  virtual QBOOL GetExclusive() = 0;
  virtual void SetExclusive(QBOOL on) = 0;
  virtual QBOOL GetReadOnly() = 0;
  virtual void SetReadOnly(QBOOL on) = 0;
  virtual int GetBlockSize() { return 0; }
  virtual void SetBlockSize(int) {}
  virtual void SetWhereClause(const char* clause);
  // Starts a new, blank current record that the next CommitRecord appends.
  virtual QBOOL AddNewRecord() = 0;
  virtual void CommitRecord() = 0;
  virtual void DeleteRecord() = 0;
  // Column i into field i.
  virtual void FillAllFieldValues(CQmsRecord& record) = 0;
  // The first record takes the first columns, the second the columns after.
  virtual void FillAllFieldValues(CQmsRecord& first, CQmsRecord& second) = 0;
  virtual void SetAllFieldValues(const CQmsRecord& record) = 0;
  virtual void SetAllFieldValues(const CQmsRecord& first, const CQmsRecord& second) = 0;
  // By field names.
  virtual void FillFieldValues(CQmsRecord& record) = 0;
  virtual void SetFieldValues(const CQmsRecord& record) = 0;
  // Through a field map whose inner side is the record and whose outer side
  // is the table's columns.
  virtual void FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) = 0;
  virtual void SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) = 0;
  virtual QBOOL AtBOF() = 0;
  virtual QBOOL AtEOF() = 0;
  virtual unsigned long GetCount() = 0;
  virtual unsigned long GetPosition() const = 0;
  virtual void FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) = 0;
  virtual void MoveTo(unsigned long position) = 0;
  virtual void MoveBy(long count) = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveLast() = 0;
  virtual QBOOL MoveNext() { return 0; }
  // The operation text must begin with "="; 1 only for an exact match.
  virtual QBOOL Seek(const char* operation, const char* key) = 0;
  virtual QBOOL Seek(const char* operation, const CQmsRecord& key) = 0;
  virtual long AllocIndexInfo(_QMS_TABLE_INDEXES** info);
  virtual void FreeIndexInfo(_QMS_TABLE_INDEXES* info);
  virtual long GetIndexCount();
  virtual void CreateIndex(const char* name, const char* expression, QBOOL unique);
  virtual void DeleteIndex(const char* name);
  virtual void SetIndex(const char* name);

  void Test(CQmsIniFile*, unsigned short& passed, unsigned short& failed) override { ZeroCounts(passed, failed); }

  // Splits a path at its last separator ('/' or '\') and at the last dot
  // after it: folder (with its separator, '\' written as '/'), name and
  // extension (with its dot), each cut to 255 characters; case kept.
  static void GetPathParts(const char* path, CQmsStringPtr& folder, CQmsStringPtr& name, CQmsStringPtr& extension);

 protected:
  CQmsTable() = default;
  // Reports 11000004 for an operation this kind does not offer.
  void ReportNotImplemented(const char* method) const;
  // Runs body on the open table: a closed table is opened for it and closed
  // again afterwards, also when the body fails.
  template <class Body>
  decltype(auto) WhileOpen(Body&& body) {
    if (IsOpen()) return std::forward<Body>(body)();
    Open();
    struct Closer {
      CQmsTable* table;
      ~Closer() {
        try {
          table->Close();
        } catch (long) {
        }
      }
    } closer{this};
    return std::forward<Body>(body)();
  }

 private:
  CQmsTable(const CQmsTable&) = delete;
  CQmsTable& operator=(const CQmsTable&) = delete;
};
