// adodb: the data-access objects the ADO table drives, built on Linux from
// what the table expects of them. There is no COM here: objects are counted
// references (Ref, which raises kPointer when used null, as a smart COM
// pointer does), failures are ComError exceptions carrying a result code, a
// source and a description, and values are Variants of the usual kinds.
//
// What exists:
//   - Recordset: opened on one table by name ("[name]", table option) and a
//     connection text; state, BOF/EOF, record count, absolute position,
//     moves, AddNew/Update/Delete, close, cursor location and a client-side
//     sort; Fields with name, type, defined size, precision, value, status;
//     while open, ActiveConnection is a Connection whose Errors hold the
//     provider's messages of the last failed call.
//   - Catalog with Tables (Item, Append, Delete, Refresh) and Table/Columns
//     (Name, Type, DefinedSize, Attributes; a table's Name renames it).
//   - Variant with the platform's conversions (ChangeType), and the OLE date
//     arithmetic: day 0 is 1899-12-30, the fraction of a negative date counts
//     away from zero, times are whole seconds.
//
// Providers are chosen by words of the connection text, case-sensitive, as
// the ADO table tests them: "Excel" a spreadsheet and "sqloledb" a database
// server (neither exists here: connecting fails with a provider error), "Jet"
// an Access database file (read-only, through libmdb when the build found
// it). A test installs a provider of its own for every connection with
// ScopedProvider.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace adodb {

// ---- result codes and the error object ----

using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kAlreadyInitialised = 1;
constexpr Result kNotImplemented = int32_t(0x80004001);
constexpr Result kPointer = int32_t(0x80004003);  // a null object reference was used
constexpr Result kFail = int32_t(0x80004005);
constexpr Result kTypeMismatch = int32_t(0x80020005);
constexpr Result kOverflow = int32_t(0x8002000A);
constexpr Result kNoCurrentRecord = int32_t(0x800A0BCD);
constexpr Result kNotSupported = int32_t(0x800A0CB3);
constexpr Result kNotFound = int32_t(0x800A0CC1);
constexpr Result kClosed = int32_t(0x800A0E78);
constexpr Result kAlreadyOpen = int32_t(0x800A0E79);
constexpr Result kNoProvider = int32_t(0x800A0E7A);
constexpr Result kProviderErrors = int32_t(0x80040E21);  // the provider's own messages say why

// The message text of a result code.
std::string ResultText(Result code);

class ComError : public std::exception {
 public:
  ComError(Result code, std::string source, std::string description, std::vector<std::string> providerErrors = {})
      : code_(code),
        source_(std::move(source)),
        description_(std::move(description)),
        providerErrors_(std::move(providerErrors)) {}
  const char* what() const noexcept override { return description_.c_str(); }
  Result Code() const { return code_; }
  std::string ErrorMessage() const { return ResultText(code_); }
  // Empty when the failing object gave none.
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }
  // What the provider said, one message each; the Errors of the connection.
  const std::vector<std::string>& ProviderErrors() const { return providerErrors_; }

 private:
  Result code_;
  std::string source_;
  std::string description_;
  std::vector<std::string> providerErrors_;
};

// Raises a code with its own text as the description.
[[noreturn]] void Raise(Result code, const std::string& source);
// Raises the provider's messages (the last is the description).
[[noreturn]] void RaiseProvider(const std::string& source, std::vector<std::string> messages,
                                Result code = kProviderErrors);

// ---- variants ----

enum VarType : uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,    // whole ten-thousandths
  VT_DATE = 7,  // OLE date
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,  // -1 true, 0 false
  VT_DECIMAL = 14,  // held as its decimal text
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_BYTES = 0x2011,  // an array of bytes
};

// The whole-number kinds VT_I1 .. VT_UI8 (not BOOL or CY).
bool IsWholeKind(VarType type);
// The text without its leading and trailing ASCII blanks.
std::string TrimBlanks(const std::string& text);

// What a VT_DISPATCH variant holds.
class Object {
 public:
  virtual ~Object() = default;
};

class Variant {
 public:
  Variant() = default;  // VT_EMPTY
  static Variant Null();
  // The whole kinds (I1 .. UI8, BOOL, ERROR, CY); UI8 keeps its bits.
  static Variant Whole(VarType type, int64_t value);
  static Variant I2(int16_t value) { return Whole(VT_I2, value); }
  static Variant I4(int32_t value) { return Whole(VT_I4, value); }
  static Variant Bool(bool value) { return Whole(VT_BOOL, value ? -1 : 0); }
  static Variant Currency(int64_t tenThousandths) { return Whole(VT_CY, tenThousandths); }
  // R4, R8 and DATE.
  static Variant Real(VarType type, double value);
  static Variant R8(double value) { return Real(VT_R8, value); }
  static Variant Date(double value) { return Real(VT_DATE, value); }
  static Variant Text(std::string text);
  static Variant Decimal(std::string text);
  static Variant Bytes(std::string bytes);
  // A null object is a VT_DISPATCH that holds nothing.
  static Variant Dispatch(std::shared_ptr<Object> object);

  VarType Type() const { return type_; }
  int64_t WholeValue() const { return whole_; }
  double RealValue() const { return real_; }
  const std::string& TextValue() const { return text_; }
  const std::shared_ptr<Object>& ObjectValue() const { return object_; }

  // The value converted to another kind as the platform converts it:
  // numbers round half to even into whole kinds, texts are read as numbers
  // (or "True"/"False", or dates "yyyy-mm-dd[ hh:mm[:ss]]"). Raises
  // kOverflow for a value outside the target's range and kTypeMismatch for
  // a conversion that does not exist (from NULL, objects, bytes, errors).
  Variant ChangeType(VarType target) const;

 private:
  VarType type_ = VT_EMPTY;
  int64_t whole_ = 0;
  double real_ = 0;
  std::string text_;
  std::shared_ptr<Object> object_;
};

// ---- OLE dates ----

struct DateParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The calendar parts of an OLE date, rounded to the whole second; false for
// a value outside years 100 to 9999 or not a number.
bool OleDateToParts(double date, DateParts* parts);
// The OLE date of calendar parts (the time of day counts away from zero for
// dates before day 0).
double OleDateFromParts(const DateParts& parts);
// The same from a day number and seconds into the day.
double OleDateFromDays(int64_t days, double seconds);

// ---- what providers supply ----

// Column types (the values of the data-type enumeration).
enum DataType : int32_t {
  kEmptyType = 0,
  kSmallInt = 2,
  kInteger = 3,
  kSingle = 4,
  kDouble = 5,
  kCurrency = 6,
  kDate = 7,
  kBSTR = 8,
  kErrorType = 10,
  kBoolean = 11,
  kVariantType = 12,  // a column that keeps each value's own kind
  kDecimal = 14,
  kTinyInt = 16,
  kUnsignedTinyInt = 17,
  kUnsignedSmallInt = 18,
  kUnsignedInt = 19,
  kBigInt = 20,
  kUnsignedBigInt = 21,
  kFileTime = 64,
  kGuid = 72,
  kBinary = 128,
  kChar = 129,
  kWChar = 130,
  kNumeric = 131,
  kDBDate = 133,
  kDBTime = 134,
  kDBTimeStamp = 135,
  kVarChar = 200,
  kLongVarChar = 201,
  kVarWChar = 202,
  kLongVarWChar = 203,
  kVarBinary = 204,
  kLongVarBinary = 205,
};

struct ColumnSchema {
  std::string name;
  DataType type = kVarWChar;
  int32_t definedSize = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  bool nullable = true;
};

using Row = std::vector<Variant>;
using RowKey = uint64_t;

// The rows of one table as its provider holds them. Keys stay valid while
// the store lives; rows hold one value per column, in column order.
class TableStore {
 public:
  virtual ~TableStore() = default;
  virtual const std::vector<ColumnSchema>& Columns() const = 0;
  virtual std::vector<RowKey> Keys() = 0;
  virtual Row Read(RowKey key) = 0;
  // Raises the provider's error when the table takes no writes.
  virtual void CheckWritable() = 0;
  virtual RowKey Insert(const Row& row) = 0;
  virtual void Update(RowKey key, const Row& row) = 0;
  virtual void Remove(RowKey key) = 0;
};

// One connection to a data source. Failures raise ComError; table names are
// compared ignoring ASCII case.
class DataSource {
 public:
  virtual ~DataSource() = default;
  // The source text of the provider's errors.
  virtual std::string Name() const = 0;
  virtual std::vector<std::string> TableNames() = 0;
  // Null when the source holds no such table.
  virtual std::unique_ptr<TableStore> OpenTable(const std::string& name) = 0;
  virtual void CreateTable(const std::string& name, const std::vector<ColumnSchema>& columns) = 0;
  virtual void DropTable(const std::string& name) = 0;
  virtual void RenameTable(const std::string& from, const std::string& to) = 0;
};

// The data source a connection text names.
std::shared_ptr<DataSource> Connect(const std::string& connection);

// The value of one key of a connection text ("Key=Value;..." with keys
// compared ignoring case and values optionally in single or double quotes);
// false when the key is missing.
bool ConnectionValue(const std::string& connection, const std::string& key, std::string* value);

// A provider of a test's own that takes every connection while installed.
class ProviderHook {
 public:
  virtual ~ProviderHook() = default;
  virtual std::shared_ptr<DataSource> Connect(const std::string& connection) = 0;
  // False stands for a machine without the data-access library: no object
  // can be created.
  virtual bool CreatesObjects() { return true; }
};

class ScopedProvider {
 public:
  explicit ScopedProvider(ProviderHook& hook);
  ~ScopedProvider();
  ScopedProvider(const ScopedProvider&) = delete;
  ScopedProvider& operator=(const ScopedProvider&) = delete;

 private:
  ProviderHook* previous_;
};

// The machine setting that lets a spreadsheet keep LONG columns numeric: the
// environment variable GSB_LEAVE_EXCEL_NUMERIC, which counts only when it is
// exactly "1".
bool LeaveExcelNumeric();

// ---- object references ----

template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::shared_ptr<T> object) : object_(std::move(object)) {}  // NOLINT: references convert freely
  T* operator->() const {
    if (!object_) Raise(kPointer, "");
    return object_.get();
  }
  explicit operator bool() const { return object_ != nullptr; }
  const std::shared_ptr<T>& Get() const { return object_; }
  void Release() { object_.reset(); }

 private:
  std::shared_ptr<T> object_;
};

// ---- the objects ----

// Per-thread start and end of the library, counted: kOk the first time on a
// thread, kAlreadyInitialised after. Objects are created only on an
// initialised thread.
Result Initialize();
void Uninitialize();

class Recordset;
class Fields;
class Field;
class Connection;
class Errors;
class ErrorItem;
class Catalog;
class Tables;
class Table;
class Columns;
class Column;

// Null references when the thread is not initialised or no library exists.
Ref<Recordset> CreateRecordset();
Ref<Catalog> CreateCatalog();
Ref<Table> CreateTable();

enum CursorType : int32_t { kForwardOnly = 0, kKeyset = 1, kDynamic = 2, kStatic = 3 };
enum LockType : int32_t { kLockReadOnly = 1, kLockPessimistic = 2, kLockOptimistic = 3, kLockBatchOptimistic = 4 };
constexpr int32_t kServerCursor = 2;
constexpr int32_t kClientCursor = 3;
constexpr int32_t kCommandTable = 2;
// Move's starting points.
constexpr int16_t kBookmarkCurrent = 0;
constexpr int16_t kBookmarkFirst = 1;
constexpr int16_t kBookmarkLast = 2;
// AbsolutePosition's answers besides positions from 1.
constexpr int32_t kPositionUnknown = -1;
constexpr int32_t kPositionBOF = -2;
constexpr int32_t kPositionEOF = -3;
constexpr int32_t kStateClosed = 0;
constexpr int32_t kStateOpen = 1;
constexpr int32_t kFieldOK = 0;
constexpr int32_t kFieldIsNull = 3;
constexpr int32_t kAffectCurrent = 1;
// Column attribute: the column takes null.
constexpr int32_t kColumnNullable = 2;

struct CursorState;

class Recordset {
 public:
  Recordset();
  ~Recordset();

  // Opens a table: source "[name]" or "name" with the table option; the
  // connection is a text or a Connection object.
  void Open(const Variant& source, const Variant& connection, CursorType cursorType, LockType lockType,
            int32_t options);
  void Close();
  int32_t State() const;
  bool IsBOF() const;
  bool IsEOF() const;  // (EOF is a C macro)
  // -1 for a forward-only cursor.
  int32_t RecordCount() const;
  int32_t AbsolutePosition() const;
  void Move(int32_t count, const Variant& start);
  void MoveNext();
  void MoveFirst();
  void MoveLast();
  void AddNew();
  void Update();
  void Delete(int32_t affect);
  int32_t CursorLocation() const { return cursorLocation_; }
  void SetCursorLocation(int32_t location) { cursorLocation_ = location; }
  // "column [ASC|DESC], ..."; client-side cursors only. Moves to the first
  // record.
  void SetSort(const std::string& order);
  const std::string& Sort() const { return sort_; }
  Ref<Fields> GetFields() const;
  // The Connection while open, else an empty variant.
  Variant ActiveConnection() const;

 private:
  std::shared_ptr<CursorState> state_;
  int32_t cursorLocation_ = kServerCursor;
  std::string sort_;
};

class Fields {
 public:
  explicit Fields(std::shared_ptr<CursorState> state) : state_(std::move(state)) {}
  int32_t Count() const;
  // By number (any whole kind) or by name ignoring case.
  Ref<Field> Item(const Variant& index) const;

 private:
  std::shared_ptr<CursorState> state_;
};

class Field {
 public:
  Field(std::shared_ptr<CursorState> state, int32_t index) : state_(std::move(state)), index_(index) {}
  std::string Name() const;
  DataType Type() const;
  int32_t DefinedSize() const;
  uint8_t Precision() const;
  // The value of the current record (of the new one after AddNew).
  Variant Value() const;
  // Converts the value to the column's kind; starts an edit of the current
  // record when none is pending.
  void SetValue(const Variant& value);
  int32_t Status() const;

 private:
  const ColumnSchema& Schema() const;
  std::shared_ptr<CursorState> state_;
  int32_t index_;
};

class Connection : public Object {
 public:
  Ref<Errors> GetErrors() const;
  void SetErrors(std::vector<std::string> messages) { messages_ = std::move(messages); }

 private:
  std::vector<std::string> messages_;
};

class Errors {
 public:
  explicit Errors(std::vector<std::string> messages) : messages_(std::move(messages)) {}
  int32_t Count() const { return int32_t(messages_.size()); }
  Ref<ErrorItem> Item(const Variant& index) const;

 private:
  std::vector<std::string> messages_;
};

class ErrorItem {
 public:
  explicit ErrorItem(std::string description) : description_(std::move(description)) {}
  const std::string& Description() const { return description_; }

 private:
  std::string description_;
};

class Catalog {
 public:
  // A text connects; a VT_DISPATCH holding nothing disconnects.
  void SetActiveConnection(const Variant& connection);
  // kClosed while not connected.
  Ref<Tables> GetTables() const;

 private:
  std::shared_ptr<DataSource> source_;
};

class Tables {
 public:
  explicit Tables(std::shared_ptr<DataSource> source) : source_(std::move(source)) {}
  int32_t Count() const;
  // By name or number; kNotFound when the source holds no such table.
  Ref<Table> Item(const Variant& index) const;
  // Creates the table a new Table object describes.
  void Append(const Variant& table);
  void Delete(const Variant& index);
  void Refresh() {}

 private:
  std::string NameOf(const Variant& index) const;
  std::shared_ptr<DataSource> source_;
};

struct TableState;

class Table : public Object {
 public:
  Table();
  std::string Name() const;
  // Renames the table in its source when it belongs to one.
  void SetName(const std::string& name);
  Ref<Columns> GetColumns() const;

 private:
  friend class Tables;
  std::shared_ptr<TableState> state_;
};

class Columns {
 public:
  explicit Columns(std::shared_ptr<TableState> state) : state_(std::move(state)) {}
  int32_t Count() const;
  Ref<Column> Item(const Variant& index) const;
  // New tables only.
  void Append(const Variant& name, DataType type, int32_t definedSize);

 private:
  std::shared_ptr<TableState> state_;
};

class Column {
 public:
  Column(std::shared_ptr<TableState> state, size_t index) : state_(std::move(state)), index_(index) {}
  std::string Name() const;
  DataType Type() const;
  int32_t DefinedSize() const;
  int32_t Attributes() const;
  // New tables only.
  void SetAttributes(int32_t attributes);

 private:
  std::shared_ptr<TableState> state_;
  size_t index_;
};

}  // namespace adodb
