// A data source held in memory, with full read, write and catalog support,
// that takes every connection while a test holds a MemoryProvider: the ADO
// table's logic runs on it whatever its connect parameters name. It notes
// what it was asked (connections, tables opened, created, dropped, renamed)
// and fails on demand (a write with the provider's messages, a read with a
// foreign exception, no objects at all).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tables/adodb.h"

namespace adotest {

struct MemoryTable {
  std::string name;
  std::string sheet;  // a worksheet's second name, ending in '$'
  std::vector<adodb::ColumnSchema> columns;
  std::map<adodb::RowKey, adodb::Row> rows;
  adodb::RowKey next = 0;
};

class MemoryDatabase;

class MemoryStore : public adodb::TableStore {
 public:
  MemoryStore(MemoryDatabase& database, std::shared_ptr<MemoryTable> table)
      : database_(database), table_(std::move(table)) {}
  const std::vector<adodb::ColumnSchema>& Columns() const override { return table_->columns; }
  std::vector<adodb::RowKey> Keys() override {
    std::vector<adodb::RowKey> keys;
    for (const auto& row : table_->rows) keys.push_back(row.first);
    return keys;
  }
  adodb::Row Read(adodb::RowKey key) override;
  void CheckWritable() override;
  adodb::RowKey Insert(const adodb::Row& row) override {
    Write(row);
    table_->rows[table_->next] = row;
    return table_->next++;
  }
  void Update(adodb::RowKey key, const adodb::Row& row) override {
    Write(row);
    table_->rows[key] = row;
  }
  void Remove(adodb::RowKey key) override {
    Write({});
    table_->rows.erase(key);
  }

 private:
  void Write(const adodb::Row& row);
  MemoryDatabase& database_;
  std::shared_ptr<MemoryTable> table_;
};

class MemoryDatabase : public adodb::DataSource {
 public:
  static constexpr const char* kName = "Memory provider";

  std::string Name() const override { return kName; }
  std::vector<std::string> TableNames() override {
    std::vector<std::string> names;
    for (const auto& table : tables_) {
      names.push_back(table->name);
      if (!table->sheet.empty()) names.push_back(table->sheet);
    }
    return names;
  }
  std::unique_ptr<adodb::TableStore> OpenTable(const std::string& name) override {
    opened.push_back(name);
    auto table = Find(name);
    return table ? std::make_unique<MemoryStore>(*this, table) : nullptr;
  }
  void CreateTable(const std::string& name, const std::vector<adodb::ColumnSchema>& columns) override {
    if (Find(name) || std::find(refuseCreate.begin(), refuseCreate.end(), name) != refuseCreate.end()) {
      adodb::RaiseProvider(kName, {"a table named '" + name + "' cannot be made here"});
    }
    created.push_back(name);
    MemoryTable& table = AddTable(name, columns);
    // A table made in a workbook is a worksheet as well.
    if (spreadsheet && !name.empty() && name.back() != '$') table.sheet = name + "$";
  }
  void DropTable(const std::string& name) override {
    dropped.push_back(name);
    tables_.erase(std::remove(tables_.begin(), tables_.end(), Find(name)), tables_.end());
  }
  void RenameTable(const std::string& from, const std::string& to) override {
    renamed.push_back(from + ">" + to);
    Find(from)->name = to;
  }

  MemoryTable& AddTable(const std::string& name, std::vector<adodb::ColumnSchema> columns) {
    auto table = std::make_shared<MemoryTable>();
    table->name = name;
    table->columns = std::move(columns);
    tables_.push_back(table);
    return *table;
  }
  void AddRow(const std::string& table, adodb::Row row) {
    auto t = Find(table);
    t->rows[t->next++] = std::move(row);
  }
  std::shared_ptr<MemoryTable> Find(const std::string& name) const {
    for (const auto& table : tables_) {
      if (platform::AsciiEqualsIgnoreCase(table->name, name)) return table;
      if (!table->sheet.empty() && platform::AsciiEqualsIgnoreCase(table->sheet, name)) return table;
    }
    return nullptr;
  }
  // The rows of a table in key order.
  std::vector<adodb::Row> Rows(const std::string& name) const {
    std::vector<adodb::Row> rows;
    for (const auto& row : Find(name)->rows) rows.push_back(row.second);
    return rows;
  }

  // Set by each connection whose text names a spreadsheet.
  bool spreadsheet = false;

  // Faults on demand.
  std::vector<std::string> failNextWrite;  // the provider's messages
  bool readOnly = false;
  bool throwOnRead = false;  // neither a provider error nor a library code
  std::vector<std::string> refuseCreate;

  // What the provider was asked.
  std::vector<std::string> opened, created, dropped, renamed;

 private:
  std::vector<std::shared_ptr<MemoryTable>> tables_;
};

inline adodb::Row MemoryStore::Read(adodb::RowKey key) {
  if (database_.throwOnRead) throw std::runtime_error("the memory provider was told to fail");
  return table_->rows.at(key);
}

inline void MemoryStore::CheckWritable() {
  if (database_.readOnly) adodb::RaiseProvider(MemoryDatabase::kName, {"the memory table is read-only"});
}

inline void MemoryStore::Write(const adodb::Row& row) {
  CheckWritable();
  if (!database_.failNextWrite.empty()) {
    std::vector<std::string> messages;
    messages.swap(database_.failNextWrite);
    adodb::RaiseProvider(MemoryDatabase::kName, messages);
  }
  for (size_t i = 0; i < row.size() && i < table_->columns.size(); i++) {
    if (!table_->columns[i].nullable && row[i].Type() == adodb::VT_NULL) {
      adodb::RaiseProvider(MemoryDatabase::kName, {"column '" + table_->columns[i].name + "' needs a value"});
    }
  }
}

// Installs the memory database for every connection while it lives.
class MemoryProvider : public adodb::ProviderHook {
 public:
  MemoryProvider() : scope_(*this) {}
  std::shared_ptr<adodb::DataSource> Connect(const std::string& connection) override {
    connections.push_back(connection);
    database->spreadsheet = connection.find("Excel") != std::string::npos;
    return database;
  }
  bool CreatesObjects() override { return createsObjects; }

  std::shared_ptr<MemoryDatabase> database = std::make_shared<MemoryDatabase>();
  std::vector<std::string> connections;
  bool createsObjects = true;

 private:
  adodb::ScopedProvider scope_;
};

// The machine setting of spreadsheet LONG columns, as a test sets it (null:
// not set).
struct ExcelNumericSetting : platform::EnvWrapper {
  ExcelNumericSetting() : platform::EnvWrapper(platform::Env::Current()), scope(*this) {}
  const char* GetEnv(const char* name) override {
    return std::string(name) == "GSB_LEAVE_EXCEL_NUMERIC" ? value : target_.GetEnv(name);
  }
  const char* value = nullptr;
  platform::ScopedEnv scope;
};

inline adodb::ColumnSchema Column(const std::string& name, adodb::DataType type, int32_t size = 0,
                                  uint8_t precision = 0, bool nullable = true) {
  adodb::ColumnSchema column;
  column.name = name;
  column.type = type;
  column.definedSize = size;
  column.precision = precision;
  column.nullable = nullable;
  return column;
}

}  // namespace adotest
