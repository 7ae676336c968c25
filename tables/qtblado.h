// CQmsAdoTable: the table kind over a data-access record set: a table of an
// Access database file, a worksheet of a spreadsheet, or a table of a
// database server, chosen by words of the connect parameters ("Jet",
// "Excel", "sqloledb"; see tables/adodb.h for what this platform offers of
// each: Access files are read-only).
//
// Open opens the table as a record set (keyset cursor, read-only while the
// read-only flag is set, as it is after construction; forward-only when the
// connect parameters hold "ForwardOnly='TRUE'", which is then cut from them)
// and describes its columns as record fields. Widths cover every value of a
// column's type so that an xBase copy of the row keeps it: small integers 6,
// integers 11, big integers 20, unsigned integers 10 and 20, singles and
// doubles 20 wide (wider when their precision asks) with 6 and 8 decimals.
// Long texts become 255-character texts, currency, decimals, GUIDs and the
// like 64-character texts, and other kinds a 1-character text, each with a
// warning (11000028) in the log.
//
// The moves keep a position counter of their own (MoveFirst 0, MoveTo(n)
// n - 1, MoveBy(n) + n, AddNewRecord + 1, DeleteRecord - 1, MoveLast and
// Close -1); GetPosition answers it plus one only when the record set cannot
// tell its position, and otherwise the record set's position from 1.
// MoveNext is the base body (answers 0 without moving): walk with MoveBy(1).
//
// Failures: every operation logs a failed data-access call under its own
// name with the provider's text and raises 22000000; a library code is
// logged and raised on; any other exception is logged as "Unkown Error" and
// raises 22000000. Exists answers 0 for a table the catalog does not hold.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "tables/adodb.h"
#include "tables/qadowrap.h"
#include "tables/qcodes.h"
#include "tables/qdate.h"
#include "tables/qrecord.h"
#include "tables/qstringp.h"
#include "tables/qtable.h"

class CQmsAdoTable : public CQmsTable {
 public:
  CQmsAdoTable();
  CQmsAdoTable(const char* database, const char* table, const char* connectParams);
  CQmsAdoTable(const char* table, const char* connectParams);
  CQmsAdoTable(const CQmsAdoTable& other);
  CQmsAdoTable& operator=(const CQmsAdoTable& other);
  ~CQmsAdoTable() override;

  // A null text raises 23000000.
  void SetConnectParams(const char* params);
  const char* GetConnectParams() const { return m_ConnectParams; }
  // The connect parameters, with "Data Source='<database>';" added when a
  // database name is set and the parameters name none.
  CQmsStringPtr ConnectString();

  // One column of the current record into one record field, and back.
  void Fill1FieldValue(CQmsRecord& record, int column, int handle);
  void Set1FieldValue(const CQmsRecord& record, int column, int handle);

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
  QBOOL GetExclusive() override { return m_bExclusive; }
  void SetExclusive(QBOOL on) override { m_bExclusive = on; }
  QBOOL GetReadOnly() override { return m_bReadOnly; }
  void SetReadOnly(QBOOL on) override { m_bReadOnly = on; }
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
  // Not offered: report 11000004 and answer 0.
  QBOOL Seek(const char* operation, const char* key) override;
  QBOOL Seek(const char* operation, const CQmsRecord& key) override;
  void Dump(unsigned char verbose) override;

 protected:
  void CopyTable(const CQmsAdoTable& other);

  // A word in a text (a null text holds none), and a worksheet's name.
  static bool Contains(const CQmsStringPtr& text, const char* word);
  static bool EndsWithDollar(const CQmsStringPtr& text);

  // Runs an operation's body under the table's failure convention.
  template <class Body>
  decltype(auto) Convention(const char* method, const char* file, long line, Body&& body) const;

 private:
  // The nullable flags of the table's columns as the catalog records them,
  // by column name (case-sensitive); a column the catalog cannot tell about
  // counts as nullable.
  std::vector<std::pair<std::string, QBOOL>> CatalogNullable(const char* table);
  QBOOL InternalExists(CQmsStringPtr name);
  // An empty text on success, else the failure's text; raises nothing.
  CQmsStringPtr InternalCreate(CQmsStringPtr name);
  adodb::Ref<adodb::Catalog> ConnectedCatalog();
  adodb::Recordset* Records() const { return m_pComWrap->m_pRecordset.operator->(); }
  adodb::Fields* FieldsOf() const { return m_pComWrap->m_pFields.operator->(); }

  CQmsStringPtr m_ConnectParams;
  CQmsStringPtr m_DatabaseName;
  CQmsStringPtr m_TableName;
  CAdoComWrap* m_pComWrap = nullptr;
  QBOOL m_bExclusive = 1;
  QBOOL m_bReadOnly = 1;
  QBOOL m_bForwardOnly = 0;
  CQmsStringPtr m_WorkText;
  CQmsRecord m_FieldLayout;
  CQmsDate m_WorkDate;
  int32_t m_lPosition = -1;
};

// The site arguments of one operation's convention.
#define QMS_ADO_SITE(method) (method), __FILE__, __LINE__

template <class Body>
decltype(auto) CQmsAdoTable::Convention(const char* method, const char* file, long line, Body&& body) const {
  try {
    return std::forward<Body>(body)();
  } catch (const adodb::ComError& error) {
    CQmsStringPtr text = m_pComWrap->ProviderErrorText(error);
    QmsLog(QMS_SEVERE, "CQmsAdoTable", method, QmsText(text), file, line);
    QmsRaise(QMS_SEVERE);
  } catch (long code) {
    QmsReport(code, QmsSite{"CQmsAdoTable", nullptr, method, "", file, line, 0});
    throw;
  } catch (...) {
    QmsLog(QMS_SEVERE, "CQmsAdoTable", method, "Unkown Error", file, line);
    QmsRaise(QMS_SEVERE);
  }
}
