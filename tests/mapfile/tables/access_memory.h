// An engine that keeps its databases in memory: the Access source's write
// paths run against it in the tests. A database can be marked read-only
// (every change refused as by the libmdb engine) or given a password, and
// the next call of a named operation can be made to fail with an error
// number. Every call is logged with its arguments.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mapfile/tables/access_engine.h"

namespace layerio::access {

struct MemRecord {
  std::vector<Variant> values;
  bool alive = true;
};

struct MemTable {
  std::vector<FieldInfo> fields;
  std::vector<IndexInfo> indexes;
  std::vector<MemRecord> records;
  int32_t nextAuto = 1;
  bool locked = false;  // opening for writing fails with 3262
};

struct MemDatabase {
  std::map<std::string, MemTable> tables;
  std::string password;
  bool readOnly = false;
  int format = 0;
  int64_t time = 1;
};

class MemEngine : public Engine {
 public:
  int32_t OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                       const std::string& connect, std::unique_ptr<Database>* out) override;
  int32_t CreateDatabase(const std::string& path, const std::string& locale, int format,
                         std::unique_ptr<Database>* out) override;
  std::vector<std::string> Errors() override { return errors_; }
  int64_t DatabaseTime(const std::string& path) override;

  // Test controls.
  MemDatabase& Db(const std::string& path) { return databases_[path]; }
  bool Has(const std::string& path) const { return databases_.count(path) != 0; }
  void FailNext(const std::string& operation, int number) {
    faults_[operation].push_back(number);
  }
  // Appends a record as another program would; answers its auto ID (0 when
  // the table has no auto-increment field).
  int32_t AddExternally(const std::string& path, const std::string& table,
                        std::vector<Variant> values);
  std::vector<std::string> calls;

  // Used by the engine's own objects.
  int32_t Fault(const std::string& operation);
  int32_t Fail(int number, const std::string& description);
  void Log(const std::string& call) { calls.push_back(call); }

 private:
  std::map<std::string, MemDatabase> databases_;
  std::map<std::string, std::deque<int>> faults_;
  std::vector<std::string> errors_;
};

}  // namespace layerio::access
