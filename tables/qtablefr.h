// CQmsFolioRackTable: the table kind over the xBase engine: one DBF data
// file, with the production CDX index and FPT memo file the engine opens
// beside it.
//
// Every table of the process shares one engine context, made by the first
// table constructed and released with the last; its switches (auto-open of
// the production index, exclusive use, read-only, large files) are therefore
// process-wide. The engine calls whose failures the table handles itself run
// with the engine's messages suppressed, and the table takes the engine's
// error code back out of the context once it has read it, so that one failed
// call does not refuse every later call on the shared context.
//
// Columns become record fields by type: C STRING; D DATE ("ccyymmdd");
// N and F with decimals DOUBLE; N without decimals LONG below 10 digits,
// DOUBLE with 0 decimals from 10 digits on (exact to 15 digits); I INT of
// width 11; L BOOLEAN; B with decimals DOUBLE of width 20; T DATETIME
// ("ccyymmddHH:MM:SS", width 16) when date-times are supported, else DATE;
// Y STRING of width 64 (with a warning); anything else (memo, general) a
// STRING of width 0 whose data is not carried (with a warning). Record fields
// become columns by the letters "0LCFFNNCNNNDT" (type code 0 to 12).
//
// Names keep the caller's case; existing files are found ignoring case.
// While an ordered read (OpenOrdered) is active the moves follow its sort
// order and the writing operations, MoveTo, the seeks, Pack and the index
// operations refuse with 22000034.
#pragma once

#include <memory>

#include "tables/qcodes.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"
#include "tables/qtable.h"

// The engine's types reach this header by pointer only, so that the table
// library's headers stand without the engine's.
struct DATA4;
struct RELATE4;
class Code4;
class Field4;
class Field4info;
class Tag4info;

class CQmsFolioRackTable : public CQmsTable {
 public:
  static constexpr int kFieldNameLimit = 10;
  static constexpr short kUniqueTag = 25;

  CQmsFolioRackTable();
  explicit CQmsFolioRackTable(const char* table);
  // A non-empty database is joined to the table ("%s%s" after a separator,
  // else "%s/%s"); a null database raises 23000000.
  CQmsFolioRackTable(const char* database, const char* table);
  CQmsFolioRackTable(const CQmsFolioRackTable& other);
  CQmsFolioRackTable& operator=(const CQmsFolioRackTable& other);
  ~CQmsFolioRackTable() override;

  CQmsTable* Clone() const override;
  void ClearFields() override;
  void DefineFields(const CQmsRecord& record) override;
  long GetFields(CQmsRecord& record) const override;
  long GetFieldCount() const override;
  void OpenOrdered(const char* order) override;
  void Open() override;
  void Close() override;
  QBOOL IsOpen() override;
  QBOOL Exists() override;
  void Create() override;
  void Destroy() override;
  const char* GetTableName() override { return m_TableName; }
  void SetTableName(const char* name) override;
  void RenameTable(const char* name) override;
  const char* GetDatabaseName() override { return m_DatabaseName; }
  void SetDatabaseName(const char* name) override;
  QBOOL GetAutoOpenIndex() override;
  void SetAutoOpenIndex(QBOOL on) override;
  QBOOL GetExclusive() override;
  void SetExclusive(QBOOL on) override;
  QBOOL GetReadOnly() override;
  void SetReadOnly(QBOOL on) override;
  QBOOL AddNewRecord() override;
  void CommitRecord() override;
  void DeleteRecord() override;
  void FillAllFieldValues(CQmsRecord& record) override;
  void FillAllFieldValues(CQmsRecord& first, CQmsRecord& second) override;
  void SetAllFieldValues(const CQmsRecord& record) override;
  void SetAllFieldValues(const CQmsRecord& first, const CQmsRecord& second) override;
  void FillFieldValues(CQmsRecord& record) override;
  void SetFieldValues(const CQmsRecord& record) override;
  void FillMappedRecord(CQmsFieldMap& map, CQmsRecord& record) override;
  void SetMappedRecord(const CQmsFieldMap& map, const CQmsRecord& record) override;
  QBOOL AtBOF() override;
  QBOOL AtEOF() override;
  unsigned long GetCount() override;
  unsigned long GetPosition() const override;
  void FillCapabilities(_QMS_TABLE_CAPABILITIES& capabilities) override;
  void MoveTo(unsigned long position) override;
  void MoveBy(long count) override;
  void MoveFirst() override;
  void MoveLast() override;
  QBOOL MoveNext() override;
  QBOOL Seek(const char* operation, const char* key) override;
  QBOOL Seek(const char* operation, const CQmsRecord& key) override;
  long AllocIndexInfo(_QMS_TABLE_INDEXES** info) override;
  void FreeIndexInfo(_QMS_TABLE_INDEXES* info) override;
  long GetIndexCount() override;
  void CreateIndex(const char* name, const char* expression, QBOOL unique) override;
  void DeleteIndex(const char* name) override;
  void SetIndex(const char* name) override;
  void Dump(unsigned char verbose) override;
  const char* GetOpenFailure() const override { return QmsText(m_OpenFailure); }

  // Removes the records marked deleted and rebuilds the indexes.
  void Pack();
  // Copies the source table's data, index and memo files onto this table's
  // name, without a shell; 22000136 when a copy fails.
  QBOOL CopyTable(const CQmsFolioRackTable& source);

  // Settings of the engine context, taken when it is next created.
  static void SetMemSizeSortPool(long size) { m_lmemSizeSortPool = size; }
  static void SetMemSizeSortBuffer(long size) { m_lmemSizeSortBuffer = size; }
  static void SetMemStartMax(long size) { m_lmemStartMax = size; }
  static void SetSupportDateTime(QBOOL on) { m_bSupportDateTime = on; }
  static QBOOL GetLargeFile() { return m_bLargeFile; }
  // Switches the context's large-file support on, once per process.
  void SetLargeFile();
  // The context (null when none; none is made) with one more user; each
  // call is matched by one ReleaseCode4.
  Code4* GetCode4();
  void ReleaseCode4();

 protected:
  static constexpr const char* m_szClassName = "CQmsFolioRackTable";

  // Engine messages suppressed for the life of the object: errors only
  // record their code in the context.
  class Quiet {
   public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
  };

  void InitCode4();
  void InitFolioRack();
  // Frees what InitFolioRack made and leaves the context.
  void Release();
  // Folder, name and extension of the data file, as given; the folder
  // becomes the database name.
  void ConstructTableFileName(CQmsStringPtr& fileName);
  void ConstructIndexFileName(CQmsStringPtr& fileName);
  void BuildField4Objects();
  void Fill1FieldValue(CQmsRecord& record, int column, int field);
  bool FieldExists(const char* name) const;
  // The key that Seek with a record searches: each field's text padded to
  // its column's width (strings after, other types before the blanks).
  const char* BuildRecordKey(const CQmsRecord& key);

  // The open data handle; 22000034 without a holder, 22000037 when closed.
  DATA4* OpenData() const;
  // 22000034 while an ordered read is active.
  void RefuseOrdered() const;
  // Closes the handle (and an ordered read) and clears it.
  int CloseData();
  // Opens the data file under the table's name, messages suppressed; null
  // with the engine's code in *code.
  DATA4* OpenQuietly(int* code);
  // The opening step of Open and OpenOrdered: the handle, and a report of
  // why there is none.
  void OpenAndReport();
  // Runs the rest of an open; a failure closes the table again.
  template <class Body>
  void ClosedOnFailure(Body&& body);
  // The open handle of the table, or one opened for the life of the object
  // (22000037 when it does not open).
  class TemporaryData {
   public:
    explicit TemporaryData(CQmsFolioRackTable& table);
    ~TemporaryData();
    TemporaryData(const TemporaryData&) = delete;
    TemporaryData& operator=(const TemporaryData&) = delete;
    DATA4* data = nullptr;

   private:
    bool opened_ = false;
  };
  // The column of a name among the field wrappers, or -1.
  int ColumnOf(const char* name) const;
  // Writes one record field into one column by the field's type.
  void Set1FieldValue(const CQmsRecord& record, int field, int column);
  // The engine's error code, then cleared in the context.
  static int TakeEngineError();
  // Leaves the context's switches as a failed create or a foreign file
  // needs them: messages off, auto-open off, exclusive, the locking
  // settings off.
  static void QuietReset();
  // Closes, reopens without the index, re-creates the production index from
  // the list and reopens with auto-open on.
  void RebuildIndex(Tag4info& tags);
  void CreateProductionIndex(DATA4* data, Tag4info& tags);

  CQmsStringPtr m_DatabaseName;
  CQmsStringPtr m_TableName;
  CQmsStringPtr m_KeyText;
  DATA4** m_ppData = nullptr;
  RELATE4** m_ppRelate = nullptr;
  Field4info* m_pFieldInfo = nullptr;
  Field4* m_pFields = nullptr;
  int m_iFieldCount = 0;  // wrappers in m_pFields
  bool m_bJoined = false;  // counted among the context's users
  CQmsRecord m_DefinitionRecord;
  CQmsStringPtr m_OpenFailure;  // the engine's reason of the last failed open

  static Code4* m_pCode4;
  static int m_iCode4Users;
  static long m_lmemSizeSortPool;
  static long m_lmemSizeSortBuffer;
  static long m_lmemStartMax;
  static QBOOL m_bSupportDateTime;
  static QBOOL m_bLargeFile;
};
