// The database engine the Access source talks to: the few calls it makes on
// a database, a table-type or forward-only recordset and the engine's error
// list, so that the source runs over any engine that offers them. The
// library holds one: over Debian's libmdb, it reads .mdb files and refuses
// every change (access_mdb.cpp). The tests install one of their own that
// keeps its databases in memory (EngineInstall).
//
// Results are 0 on success; a failure is negative with the engine's error
// number in its low 16 bits (DaoFailure), and the engine's Errors() then
// describes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace layerio::access {

// Field types of the engine.
enum DaoType : int {
  kDaoBoolean = 1,
  kDaoByte = 2,
  kDaoInteger = 3,
  kDaoLong = 4,
  kDaoCurrency = 5,
  kDaoSingle = 6,
  kDaoDouble = 7,
  kDaoDate = 8,
  kDaoText = 10,
  kDaoMemo = 12,
  kDaoGuid = 15,
  kDaoDecimal = 20,
};
inline constexpr int32_t kDaoAutoIncrement = 16;  // field attribute bit

// Error numbers the source reacts to, and the engine's own for a change
// refused by a read-only database.
inline constexpr int kDaoFileNotFound = 3024;
inline constexpr int kDaoBadPassword = 3031;
inline constexpr int kDaoTableLocked = 3262;
inline constexpr int kDaoReadOnly = 3027;
inline constexpr int32_t kDaoItemNotFound = int32_t(0x800A0CC1u);

inline int32_t DaoFailure(int number) { return int32_t(0x800A0000u | uint32_t(number & 0xFFFF)); }
inline int DaoNumber(int32_t result) { return int(uint32_t(result) & 0xFFFF); }

// Recordset types and lock modes.
inline constexpr int kRecordsetTable = 1;
inline constexpr int kRecordsetForwardOnly = 8;
inline constexpr int kOptionDenyWrite = 1;
inline constexpr int kOptionSeeChanges = 512;
inline constexpr int kLockOptimistic = 3;
inline constexpr int kLockReadOnly = 4;

enum class VarType : uint8_t { kNull, kBool, kUI1, kI2, kI4, kCurrency, kR4, kR8, kDate, kText };

// A field value. Whole numbers, booleans (0 or -1) and currency (in
// ten-thousandths) are in `i`; reals and dates (OLE day numbers) in `d`.
struct Variant {
  VarType type = VarType::kNull;
  int64_t i = 0;
  double d = 0;
  std::string text;

  static Variant Null() { return Variant(); }
  static Variant Whole(VarType t, int64_t v) {
    Variant x;
    x.type = t;
    x.i = v;
    return x;
  }
  static Variant Real(VarType t, double v) {
    Variant x;
    x.type = t;
    x.d = v;
    return x;
  }
  static Variant Text(std::string v) {
    Variant x;
    x.type = VarType::kText;
    x.text = std::move(v);
    return x;
  }
};

struct FieldInfo {
  std::string name;
  int type = 0;
  int32_t size = 0;
  int32_t attributes = 0;
  bool required = false;
};

struct IndexInfo {
  std::string name;
  bool unique = false;
  bool primary = false;
  bool required = false;
  bool ignoreNulls = false;
  std::vector<FieldInfo> fields;
};

// A table definition as it is appended: its fields and indexes in order.
struct TableDefInfo {
  std::string name;
  std::vector<FieldInfo> fields;
  std::vector<IndexInfo> indexes;
};

class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual const std::vector<FieldInfo>& Fields() = 0;
  virtual const std::vector<IndexInfo>& Indexes() = 0;
  virtual int32_t SetIndex(const std::string& name) = 0;
  // Seek "=" on the current index with one key.
  virtual int32_t Seek(int32_t key) = 0;
  virtual bool NoMatch() = 0;
  virtual int32_t MoveFirst() = 0;
  virtual int32_t MoveNext() = 0;
  // Moves `rows` records on from the first (the engine's Move with a start
  // at the first record).
  virtual int32_t MoveFromFirst(int32_t rows) = 0;
  virtual bool Eof() = 0;
  virtual int32_t GetValue(int field, Variant* out) = 0;
  virtual int32_t SetValue(int field, const Variant& value) = 0;
  virtual int32_t AddNew() = 0;
  virtual int32_t Edit() = 0;
  virtual int32_t Update() = 0;  // type regular, not forced
  virtual int32_t CancelUpdate() = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual int32_t OpenRecordset(const std::string& table, int type, int options, int lockEdit,
                                std::unique_ptr<Recordset>* out) = 0;
  // A temporary query (no name) opened as a recordset.
  virtual int32_t OpenQuery(const std::string& sql, int type, int options, int lockEdit,
                            std::unique_ptr<Recordset>* out) = 0;
  virtual int32_t TableDefDelete(const std::string& table) = 0;
  virtual int32_t TableDefAppend(const TableDefInfo& table) = 0;
  virtual int32_t FieldAppend(const std::string& table, const FieldInfo& field) = 0;
  virtual int32_t IndexAppend(const std::string& table, const IndexInfo& index) = 0;
  virtual void Close() = 0;
};

class Engine {
 public:
  virtual ~Engine() = default;
  virtual int32_t OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                               const std::string& connect, std::unique_ptr<Database>* out) = 0;
  virtual int32_t CreateDatabase(const std::string& path, const std::string& locale, int format,
                                 std::unique_ptr<Database>* out) = 0;
  // The descriptions of the last failure's errors.
  virtual std::vector<std::string> Errors() = 0;
  // The database file's modification time (0 when unknown).
  virtual int64_t DatabaseTime(const std::string& path) = 0;
};

// The one query text the source runs, and its reading back by engines.
std::string IdQueryText(const std::string& idColumn, const std::string& table, int32_t above);
bool IdQueryParse(const std::string& sql, std::string* idColumn, std::string* table,
                  int32_t* above);

// The process-wide engine: counted. Acquire answers null when no engine is
// available. An installed engine (tests) is used in place of the libmdb one
// and is not owned.
Engine* EngineAcquire();
void EngineRelease();
int EngineUseCount();
void EngineInstall(Engine* engine);
// The default format of new databases (64, or 32 when only the older engine
// exists).
int DefaultDatabaseFormat();
// The libmdb engine, or null when the library was built without libmdb.
std::unique_ptr<Engine> MdbEngineMake();

}  // namespace layerio::access
