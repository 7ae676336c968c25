// Reading Access database files through Debian's libmdb, shared by the table
// library's Access provider and the map tables' Access engine. The file is
// mapped read-only through the platform layer and handed to libmdb as a
// buffer, so nothing here can change it.
//
// Values keep their own kinds: numbers and dates as numbers, currency in
// ten-thousandths, texts and memos as libmdb decodes them (UTF-8), GUIDs as
// "{...}" texts, decimals as their texts, binary columns as their bytes.
// The contents of long binary (OLE object) columns are not carried. Text
// sizes of the newer file format count bytes of two-byte characters and are
// halved. Without libmdb every open fails and says so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdbread {

// Column types, as the file stores them.
enum ColumnType : int {
  kBool = 1,
  kByte = 2,
  kInt = 3,
  kLong = 4,
  kMoney = 5,
  kFloat = 6,
  kDouble = 7,
  kDateTime = 8,
  kBinary = 9,
  kText = 10,
  kOle = 11,
  kMemo = 12,
  kGuid = 15,
  kNumeric = 16,
};

struct Column {
  std::string name;
  int type = 0;
  int size = 0;      // the stored size in bytes
  int textSize = 0;  // text columns: the size in characters
  int precision = 0;
  int scale = 0;
  bool autoLong = false;  // an auto-increment Long
  bool required = false;
};

struct Index {
  std::string name;
  bool unique = false;
  bool primary = false;
  std::vector<int> columns;  // positions in the table's columns
};

// One value: null, or by the column's type a whole number (`i`: booleans 0
// or 1, currency in ten-thousandths), a real or OLE date (`d`) or bytes
// (`text`: texts, GUIDs and decimals as text, binary as its bytes).
struct Cell {
  bool null = true;
  int64_t i = 0;
  double d = 0;
  std::string text;
};
using Row = std::vector<Cell>;

class File;

class Table {
 public:
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const std::string& Name() const { return name_; }
  const std::vector<Column>& Columns() const { return columns_; }
  const std::vector<Index>& Indexes() const { return indexes_; }
  // Every row in the file's order; false with `error` set when a row is
  // damaged.
  bool ReadRows(std::vector<Row>* rows, std::string* error);

 private:
  friend class File;
  Table() = default;
  std::shared_ptr<File> file_;
  void* table_ = nullptr;  // the libmdb table definition
  std::string name_;
  std::vector<Column> columns_;
  std::vector<Index> indexes_;
};

class File : public std::enable_shared_from_this<File> {
 public:
  // Null with `error` set when the file cannot be read as a database.
  static std::shared_ptr<File> Open(const std::string& path, std::string* error);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The names of the user tables.
  std::vector<std::string> TableNames() const;
  // The table named so (ignoring ASCII case); null with `error` empty when
  // there is none, or set when it cannot be read.
  std::unique_ptr<Table> OpenTable(const std::string& name, std::string* error);

 private:
  friend class Table;
  File() = default;
  void Release();
  int fd_ = -1;
  void* view_ = nullptr;  // the mapped view
  void* mdb_ = nullptr;   // libmdb's handle
};

// 1 when built with libmdb.
bool Available();

}  // namespace mdbread
