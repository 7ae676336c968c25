// The ADO table's whole-table operations through the schema catalog:
// existence, creation from the field layout, removal and renaming, with the
// sheet names of spreadsheet sources ('$' after a worksheet's name).
#include <string>

#include "tables/qtblado.h"

namespace {

constexpr const char* kClass = "CQmsAdoTable";

adodb::Variant Text(const CQmsStringPtr& text) { return adodb::Variant::Text(QmsText(text)); }

void Disconnect(adodb::Ref<adodb::Catalog>& catalog) {
  if (catalog) catalog->SetActiveConnection(adodb::Variant::Dispatch(nullptr));
}

// The column type of a layout field.
adodb::DataType ColumnTypeOf(QMS_VARIANT_TYPE type, bool spreadsheet, bool server) {
  switch (type) {
    case QMS_VARIANT_BOOLEAN:
      return adodb::kBoolean;
    case QMS_VARIANT_CHAR:
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_VOIDSTAR:
      return adodb::kVarWChar;
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT:
      return adodb::kDouble;
    case QMS_VARIANT_INT:
    case QMS_VARIANT_USHORT:
      return adodb::kInteger;
    case QMS_VARIANT_LONG:
      if (spreadsheet) return adodb::LeaveExcelNumeric() ? adodb::kInteger : adodb::kVarWChar;
      return server ? adodb::kBigInt : adodb::kInteger;
    case QMS_VARIANT_ULONG:
      return spreadsheet ? adodb::kInteger : adodb::kUnsignedBigInt;
    case QMS_VARIANT_DATE:
    case QMS_VARIANT_DATETIME:
      return server ? adodb::kDBTimeStamp : adodb::kDate;
    default:
      // A field of no type, or of none the library knows, makes no column.
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
}

}  // namespace

adodb::Ref<adodb::Catalog> CQmsAdoTable::ConnectedCatalog() {
  adodb::Ref<adodb::Catalog> catalog = adodb::CreateCatalog();
  catalog->SetActiveConnection(Text(ConnectString()));
  return catalog;
}

std::vector<std::pair<std::string, QBOOL>> CQmsAdoTable::CatalogNullable(const char* table) {
  std::vector<std::pair<std::string, QBOOL>> flags;
  adodb::Ref<adodb::Catalog> catalog;
  try {
    catalog = ConnectedCatalog();
    adodb::Ref<adodb::Columns> columns = catalog->GetTables()->Item(adodb::Variant::Text(table))->GetColumns();
    int32_t count = columns->Count();
    for (int32_t i = 0; i < count; i++) {
      adodb::Ref<adodb::Column> column = columns->Item(adodb::Variant::I4(i));
      flags.emplace_back(column->Name(), (column->Attributes() & adodb::kColumnNullable) != 0 ? 1 : 0);
    }
  } catch (...) {
    // What the catalog cannot tell leaves the column nullable.
  }
  try {
    Disconnect(catalog);
  } catch (...) {
  }
  return flags;
}

QBOOL CQmsAdoTable::Exists() {
  CQmsStringPtr name = m_TableName;
  if (Contains(m_ConnectParams, "Excel")) {
    if (!name) QmsRaise(QMS_SEVERE);
    if (!EndsWithDollar(name)) name.Append("$");
  }
  return InternalExists(name);
}

QBOOL CQmsAdoTable::InternalExists(CQmsStringPtr name) {
  return Convention(QMS_ADO_SITE("Exists"), [&]() -> QBOOL {
    adodb::Ref<adodb::Catalog> catalog = ConnectedCatalog();
    QBOOL found = 0;
    try {
      found = catalog->GetTables()->Item(Text(name)) ? 1 : 0;
    } catch (const adodb::ComError& error) {
      if (error.Code() != adodb::kNotFound) throw;
    }
    Disconnect(catalog);
    return found;
  });
}

CQmsStringPtr CQmsAdoTable::InternalCreate(CQmsStringPtr name) {
  CQmsStringPtr text = "";
  adodb::Ref<adodb::Catalog> catalog;
  try {
    catalog = adodb::CreateCatalog();
    catalog->SetActiveConnection(Text(ConnectString()));
    bool spreadsheet = Contains(m_ConnectParams, "Excel");
    bool server = Contains(m_ConnectParams, "sqloledb");
    adodb::Ref<adodb::Table> table = adodb::CreateTable();
    table->SetName(QmsText(name));
    for (int i = 0; i < m_FieldLayout.GetCount(); i++) {
      QMS_VARIANT_TYPE type = m_FieldLayout.GetFieldTypeByHandle(i);
      adodb::DataType columnType = ColumnTypeOf(type, spreadsheet, server);
      table->GetColumns()->Append(adodb::Variant::Text(m_FieldLayout.GetFieldName(i)), columnType,
                                  m_FieldLayout.GetFieldWidthByHandle(i));
      if (m_FieldLayout.GetFieldNullableByHandle(i) || type == QMS_VARIANT_DATE || type == QMS_VARIANT_DATETIME) {
        table->GetColumns()->Item(adodb::Variant::I2(int16_t(i)))->SetAttributes(adodb::kColumnNullable);
      }
    }
    catalog->GetTables()->Append(adodb::Variant::Dispatch(table.Get()));
    catalog->GetTables()->Refresh();
    table.Release();
  } catch (const adodb::ComError& error) {
    text = m_pComWrap->ProviderErrorText(error);
  } catch (...) {
    text = "Unknown Error";
  }
  try {
    Disconnect(catalog);
  } catch (...) {
  }
  return text;
}

void CQmsAdoTable::Create() {
  Convention(QMS_ADO_SITE("Create"), [&] {
    if (IsOpen()) QmsRaise(QMS_SEVERE_OPEN);
    for (int i = 0; i < m_FieldLayout.GetCount(); i++) {
      QMS_VARIANT_TYPE type = m_FieldLayout.GetFieldTypeByHandle(i);
      if (type < QMS_VARIANT_BOOLEAN || type > QMS_VARIANT_DATETIME) QmsRaise(QMS_SEVERE_INVALID_TYPE);
    }
    bool spreadsheet = Contains(m_ConnectParams, "Excel");
    if (spreadsheet) {
      if (Contains(m_TableName, " ")) m_TableName.ReplaceChar(" ", "_");
      if (Exists()) {
        if (!m_TableName) QmsRaise(QMS_SEVERE);
        if (!EndsWithDollar(m_TableName)) m_TableName.Append("$");
      }
    }
    CQmsStringPtr text = InternalCreate(m_TableName);
    // A sheet of that name exists: the table may be made under the bare name.
    if (spreadsheet && text.Length() > 0 && Exists() && EndsWithDollar(m_TableName)) {
      m_TableName.SubString(0, int(m_TableName.Length()) - 1);
      CQmsStringPtr second = InternalCreate(m_TableName);
      if (second.Length() == 0) text = "";
    }
    if (text.Length() > 0) {
      QmsLog(QMS_SEVERE, kClass, "Create", QmsText(text), __FILE__, __LINE__);
      QmsRaise(QMS_SEVERE);
    }
    m_bReadOnly = 0;
    m_bForwardOnly = 0;
    Open();
  });
}

void CQmsAdoTable::Destroy() {
  Convention(QMS_ADO_SITE("Destroy"), [&] {
    bool spreadsheet = Contains(m_ConnectParams, "Excel");
    if (!Exists()) return;
    if (IsOpen()) Close();
    adodb::Ref<adodb::Catalog> catalog = ConnectedCatalog();
    try {
      catalog->GetTables()->Delete(Text(m_TableName));
    } catch (const adodb::ComError& error) {
      // A worksheet is removed under its sheet name below.
      if (!spreadsheet) {
        QmsLog(QMS_SEVERE, kClass, "Destroy", QmsText(m_pComWrap->ProviderErrorText(error)), __FILE__, __LINE__);
        QmsRaise(QMS_SEVERE);
      }
    } catch (...) {
      if (!spreadsheet) {
        QmsLog(QMS_SEVERE, kClass, "Destroy", "Unknown Error", __FILE__, __LINE__);
        QmsRaise(QMS_SEVERE);
      }
    }
    if (spreadsheet) {
      if (!m_TableName) QmsRaise(QMS_SEVERE);
      if (!EndsWithDollar(m_TableName)) {
        CQmsStringPtr sheet = m_TableName;
        sheet.Append("$");
        catalog->GetTables()->Delete(Text(sheet));
      }
    }
    Disconnect(catalog);
  });
}

void CQmsAdoTable::RenameTable(const char* name) {
  Convention(QMS_ADO_SITE("RenameTable"), [&] {
    if (name == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    adodb::Ref<adodb::Catalog> catalog = ConnectedCatalog();
    adodb::Ref<adodb::Table> table = catalog->GetTables()->Item(Text(m_TableName));
    table->SetName(name);
    SetTableName(name);
  });
}
