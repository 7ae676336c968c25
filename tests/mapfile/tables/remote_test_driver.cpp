// A remote-database driver library for the tests: it exports the 32 entry
// names and answers statements from a script the test sets
// (remote_test_driver.h). Built three times: whole, without SrvFetch
// (GSB_DRIVER_WITHOUT_FETCH), and with an SrvInit that refuses, reporting
// code 7777 with two texts (GSB_DRIVER_REFUSES).
#include "tests/mapfile/tables/remote_test_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mapfile/tables/remote_driver.h"

#define GSB_EXPORT extern "C" __attribute__((visibility("default")))
#define GSB_DRIVER_ENTRY(name) \
  GSB_EXPORT int name() { return 0; }

namespace {

struct Column {
  std::string name;
  bool hasName = false;
  std::string alias;
  TestSrvColumn info{};
};

struct Result {
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;
};

struct Failure {
  int16_t code = 0;
  std::string text1, text2;
};

struct Script {
  std::map<std::string, Result> results;
  std::map<std::string, Failure> executeErrors;
  std::map<std::string, Failure> fetchErrors;
  std::string log;
  int32_t open = 0;
};

Script& State() {
  static Script script;
  return script;
}

// What the driver keeps for a statement between SrvExecute and SrvClose.
struct Running {
  const Result* result = nullptr;  // null: no result columns
  const Failure* fetchError = nullptr;
  int64_t position = 0;  // 0 before the first row
  std::string text;      // a column name or alias handed out
};

void SetError(SrvDriver* connection, const Failure& f) {
  connection->errorCode = f.code;
  std::snprintf(connection->errorText1, sizeof connection->errorText1, "%s", f.text1.c_str());
  std::snprintf(connection->errorText2, sizeof connection->errorText2, "%s", f.text2.c_str());
}

Running* RunningOf(SrvStatementLink* statement) {
  return statement ? static_cast<Running*>(statement->driverState) : nullptr;
}

const Column* ColumnOf(SrvStatementLink* statement, int32_t column) {
  Running* r = RunningOf(statement);
  if (!r || !r->result || column < 1 || size_t(column) > r->result->columns.size())
    return nullptr;
  return &r->result->columns[size_t(column - 1)];
}

// A cell into a column buffer, as the server type of the buffer asks.
[[maybe_unused]] void Fill(SrvColumnBuffer* b, const std::string& cell) {
  if (!b->value || b->capacity <= 0) return;
  std::memset(b->value, 0, size_t(b->capacity));
  switch (b->type) {
    case kSrvTypeInteger: {
      const int32_t v = int32_t(std::strtol(cell.c_str(), nullptr, 10));
      std::memcpy(b->value, &v, sizeof v);
      break;
    }
    case kSrvTypeSmallint: {
      const int16_t v = int16_t(std::strtol(cell.c_str(), nullptr, 10));
      std::memcpy(b->value, &v, sizeof v);
      break;
    }
    case kSrvTypeFloat: {
      const double v = std::strtod(cell.c_str(), nullptr);
      std::memcpy(b->value, &v, sizeof v);
      break;
    }
    case kSrvTypeLogical:
      *static_cast<uint8_t*>(b->value) = cell == "1" ? 1 : 0;
      break;
    case kSrvTypeBinary: {
      int32_t n = 0;
      for (size_t i = 0; i + 1 < cell.size() && n < b->capacity; i += 2)
        static_cast<uint8_t*>(b->value)[n++] =
            uint8_t(std::strtol(cell.substr(i, 2).c_str(), nullptr, 16));
      b->length = n;
      break;
    }
    default:
      std::snprintf(static_cast<char*>(b->value), size_t(b->capacity), "%s", cell.c_str());
      break;
  }
}

Failure FailureOf(int16_t code, const char* text1, const char* text2) {
  Failure f;
  f.code = code;
  f.text1 = text1 ? text1 : "";
  f.text2 = text2 ? text2 : "";
  return f;
}

}  // namespace

// ===== The script ==============================================================

GSB_EXPORT void TestSrvReset() { State() = Script(); }

GSB_EXPORT void TestSrvResult(const char* text, const TestSrvColumn* columns, int32_t count,
                              const char* const* cells, int32_t rows) {
  Result result;
  for (int32_t i = 0; i < count; ++i) {
    Column c;
    c.info = columns[i];
    c.hasName = columns[i].name != nullptr;
    c.name = columns[i].name ? columns[i].name : "";
    c.alias = columns[i].alias ? columns[i].alias : "";
    result.columns.push_back(c);
  }
  for (int32_t r = 0; r < rows; ++r) {
    std::vector<std::string> row;
    for (int32_t i = 0; i < count; ++i) {
      const char* cell = cells[size_t(r) * size_t(count) + size_t(i)];
      row.push_back(cell ? cell : "");
    }
    result.rows.push_back(row);
  }
  State().results[text] = result;
}

GSB_EXPORT void TestSrvExecuteError(const char* text, int16_t code, const char* text1,
                                    const char* text2) {
  State().executeErrors[text] = FailureOf(code, text1, text2);
}

GSB_EXPORT void TestSrvFetchError(const char* text, int16_t code, const char* text1,
                                  const char* text2) {
  State().fetchErrors[text] = FailureOf(code, text1, text2);
}

GSB_EXPORT const char* TestSrvLog() { return State().log.c_str(); }

GSB_EXPORT int32_t TestSrvOpenStatements() { return State().open; }

// ===== Entry points ============================================================

GSB_EXPORT int SrvInit(SrvDriver* driver) {
#ifndef GSB_DRIVER_REFUSES
  if (driver) return 1;
#endif
  driver->errorCode = 7777;
  std::strcpy(driver->errorText1, "no server");
  std::strcpy(driver->errorText2, "here");
  return 0;
}

GSB_EXPORT int SrvExecute(SrvDriver* connection, SrvStatementLink* statement, const char* text) {
  Script& s = State();
  s.log += text;
  s.log += '\n';
  auto error = s.executeErrors.find(text);
  if (error != s.executeErrors.end()) {
    SetError(connection, error->second);
    return 0;
  }
  auto* running = new Running();
  auto result = s.results.find(text);
  if (result != s.results.end()) running->result = &result->second;
  auto fetchError = s.fetchErrors.find(text);
  if (fetchError != s.fetchErrors.end()) running->fetchError = &fetchError->second;
  statement->driverState = running;
  ++s.open;
  return 1;
}

GSB_EXPORT int SrvClose(SrvDriver*, SrvStatementLink* statement, int release) {
  if (release && RunningOf(statement)) {
    delete RunningOf(statement);
    statement->driverState = nullptr;
    --State().open;
  }
  return 1;
}

GSB_EXPORT int32_t SrvNumColumns(SrvDriver*, SrvStatementLink* statement) {
  Running* r = RunningOf(statement);
  return r && r->result ? int32_t(r->result->columns.size()) : 0;
}

GSB_EXPORT const char* SrvColumnName(SrvDriver* connection, SrvStatementLink* statement,
                                     int32_t column) {
  const Column* c = ColumnOf(statement, column);
  if (!c) return nullptr;
  if (c->info.nameError) {
    SetError(connection, FailureOf(c->info.nameError, "no name", nullptr));
    return nullptr;
  }
  if (!c->hasName) return nullptr;
  RunningOf(statement)->text = c->name;
  return RunningOf(statement)->text.c_str();
}

GSB_EXPORT const char* SrvColumnAlias(SrvDriver*, SrvStatementLink* statement, int32_t column) {
  const Column* c = ColumnOf(statement, column);
  if (!c || c->alias.empty()) return nullptr;
  RunningOf(statement)->text = c->alias;
  return RunningOf(statement)->text.c_str();
}

GSB_EXPORT int32_t SrvColumnType(SrvDriver*, SrvStatementLink* statement, int32_t column) {
  const Column* c = ColumnOf(statement, column);
  return c ? c->info.type : 0;
}

GSB_EXPORT int32_t SrvColumnPrecision(SrvDriver*, SrvStatementLink* statement, int32_t column) {
  const Column* c = ColumnOf(statement, column);
  return c ? c->info.precision : -1;
}

GSB_EXPORT int32_t SrvColumnScale(SrvDriver*, SrvStatementLink* statement, int32_t column) {
  const Column* c = ColumnOf(statement, column);
  return c ? c->info.scale : -1;
}

GSB_EXPORT int32_t SrvColumnWidth(SrvDriver*, SrvStatementLink* statement, int32_t column) {
  const Column* c = ColumnOf(statement, column);
  return c ? c->info.width : -1;
}

#ifndef GSB_DRIVER_WITHOUT_FETCH
GSB_EXPORT int SrvFetch(SrvDriver* connection, SrvStatementLink* statement,
                        SrvColumnBuffer* columns, int32_t direction) {
  Running* r = RunningOf(statement);
  if (!r) return 0;
  if (r->fetchError) {
    SetError(connection, *r->fetchError);
    return 0;
  }
  const int64_t count = r->result ? int64_t(r->result->rows.size()) : 0;
  switch (direction) {
    case kSrvFetchNext:
      r->position = std::min(r->position + 1, count + 1);
      break;
    case kSrvFetchPrevious:
      r->position = std::max<int64_t>(r->position - 1, 0);
      break;
    case kSrvFetchFirst:
      r->position = 1;
      break;
    case kSrvFetchLast:
      r->position = count;
      break;
    default:
      r->position = direction;
      break;
  }
  if (r->position < 1 || r->position > count) {
    connection->errorCode = kSrvNoMoreRows;
    return 0;
  }
  const std::vector<std::string>& row = r->result->rows[size_t(r->position - 1)];
  for (size_t i = 0; i < row.size(); ++i) Fill(&columns[i], row[i]);
  return 1;
}
#endif

GSB_DRIVER_ENTRY(SrvBeginTransaction)
GSB_DRIVER_ENTRY(SrvBindColumn)
GSB_DRIVER_ENTRY(SrvColumnEditable)
GSB_DRIVER_ENTRY(SrvColumnValue)
GSB_DRIVER_ENTRY(SrvCommit)
GSB_DRIVER_ENTRY(SrvConnect)
GSB_DRIVER_ENTRY(SrvGetConnectOption)
GSB_DRIVER_ENTRY(SrvSetConnectOption)
GSB_DRIVER_ENTRY(SrvSources)
GSB_DRIVER_ENTRY(SrvDBError)
GSB_DRIVER_ENTRY(SrvDisconnect)
GSB_DRIVER_ENTRY(SrvPrepare)
GSB_DRIVER_ENTRY(SrvBindParm)
GSB_DRIVER_ENTRY(SrvExecutePrep)
GSB_DRIVER_ENTRY(SrvIterateQualifiers)
GSB_DRIVER_ENTRY(SrvIterateOwners)
GSB_DRIVER_ENTRY(SrvIterateTables)
GSB_DRIVER_ENTRY(SrvIterateColumns)
GSB_DRIVER_ENTRY(SrvRollback)
GSB_DRIVER_ENTRY(SrvTableInfo)
GSB_DRIVER_ENTRY(SrvUnloadDriver)
