// The ADO table on real Access databases (../shared/data/access), against
// mdbtools' mdb-export and mdb-schema; and the provider's refusal of every
// write, which must leave the file as it was.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/adodb.h"
#include "tables/qtblado.h"
#include "tests/support/command.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::TablesTest;
using testsupport::RunCommand;

// The builder's connect parameters for a database file.
constexpr const char* kParams = "Provider='Microsoft.Jet.OLEDB.4.0'";
constexpr char kUnit = '\x1f';
constexpr char kRecordEnd = '\x1e';

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return parts;
    at = end + 1;
  }
}

std::vector<std::string> Databases() {
  std::vector<std::string> paths;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(testsupport::SharedDataPath("access"), ignored)) {
    if (entry.path().extension() == ".mdb") paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Why the real files cannot be tested here, or the empty text.
std::string Unavailable(bool needTools) {
  std::vector<std::string> paths = Databases();
  if (paths.empty()) return "no Access databases in ../shared/data/access";
  try {
    adodb::Connect(std::string(kParams) + ";Data Source='" + paths[0] + "'");
  } catch (const adodb::ComError& error) {
    if (error.Code() == adodb::kNoProvider) return error.Description();
  }
  if (needTools && !testsupport::HaveCommand("command -v mdb-export && command -v mdb-schema")) {
    return "mdbtools (mdb-export, mdb-schema) is not installed";
  }
  return "";
}

bool Number(const std::string& text, double* value) {
  if (text.empty()) return false;
  auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::string Formatted(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// A value as the comparison shows it: numbers in one format whichever way
// they were written (currency "3.5000" and "3.5", a blank number 0), texts
// as they are.
std::string Canonical(QMS_VARIANT_TYPE type, const std::string& text) {
  double value = 0;
  bool numeric = type != QMS_VARIANT_STRING && type != QMS_VARIANT_DATETIME && type != QMS_VARIANT_DATE;
  if (numeric && text.empty()) return "0";
  if (Number(text, &value)) return Formatted(value);
  return text;
}

std::vector<std::string> UserTables(const std::string& path) {
  std::string out;
  if (!RunCommand("mdb-tables -1 " + Quoted(path), &out)) return {};
  std::vector<std::string> tables;
  for (const std::string& line : Split(out, '\n')) {
    if (!line.empty()) tables.push_back(line);
  }
  return tables;
}

class AdoJetTest : public TablesTest {
 protected:
  // The rows of a table read through the library, fields by the canonical
  // form of their types.
  static std::vector<std::string> LibraryRows(CQmsAdoTable& table) {
    CQmsRecord record;
    table.GetFields(record);
    std::vector<std::string> rows;
    while (!table.AtEOF()) {
      table.FillAllFieldValues(record);
      std::string row;
      for (int i = 0; i < record.GetCount(); i++) {
        CQmsVariant& value = *record.GetFieldByHandle(i);
        QMS_VARIANT_TYPE type = record.GetFieldTypeByHandle(i);
        std::string text = type == QMS_VARIANT_DOUBLE || type == QMS_VARIANT_FLOAT
                               ? Formatted(static_cast<double>(value))
                               : static_cast<const char*>(value);
        row += (i ? std::string(1, kUnit) : "") + Canonical(type, text);
      }
      rows.push_back(row);
      table.MoveBy(1);
    }
    return rows;
  }

  static std::vector<std::string> ExportRows(const std::string& path, const std::string& name,
                                             const CQmsRecord& layout) {
    std::string out;
    std::string command = "mdb-export -H -Q -b strip -T '%Y%m%d%H:%M:%S' -d \"$(printf '\\037')\" -R \"$(printf "
                          "'\\036')\" " +
                          Quoted(path) + " " + Quoted(name);
    EXPECT_TRUE(RunCommand(command, &out)) << command;
    std::vector<std::string> rows;
    for (const std::string& line : Split(out, kRecordEnd)) {
      if (line.empty()) continue;
      std::vector<std::string> fields = Split(line, kUnit);
      std::string row;
      for (size_t i = 0; i < fields.size(); i++) {
        QMS_VARIANT_TYPE type = i < size_t(layout.GetCount()) ? layout.GetFieldTypeByHandle(int(i)) : QMS_VARIANT_STRING;
        row += (i ? std::string(1, kUnit) : "") + Canonical(type, fields[i]);
      }
      rows.push_back(row);
    }
    return rows;
  }
};

TEST_F(AdoJetTest, EveryTableReadsAsMdbExportDumpsIt) {
  std::string why = Unavailable(true);
  if (!why.empty()) GTEST_SKIP() << why;
  int tables = 0, records = 0;
  for (const std::string& path : Databases()) {
    for (const std::string& name : UserTables(path)) {
      CQmsAdoTable table(path.c_str(), name.c_str(), kParams);
      table.Open();
      CQmsRecord layout;
      table.GetFields(layout);
      std::vector<std::string> rows = LibraryRows(table);
      EXPECT_EQ(rows, ExportRows(path, name, layout)) << path << " " << name;
      records += int(rows.size());
      // The count and the positions agree with the walk.
      table.MoveLast();
      EXPECT_EQ(table.GetPosition(), table.GetCount() == 0 ? 1ul : table.GetCount()) << name;
      tables++;
    }
  }
  EXPECT_GE(tables, 9);
  EXPECT_GE(records, 5);
}

// The layout field a column of mdb-schema's type text becomes.
struct Expected {
  QMS_VARIANT_TYPE type;
  int width;
  int decimals;
};

bool ExpectedField(const std::string& schemaType, Expected* out) {
  auto starts = [&](const char* prefix) { return schemaType.rfind(prefix, 0) == 0; };
  if (starts("Text (")) {
    *out = {QMS_VARIANT_STRING, std::stoi(schemaType.substr(6)), 0};
  } else if (starts("Memo/Hyperlink")) {
    *out = {QMS_VARIANT_STRING, 255, 0};
  } else if (schemaType == "Byte" || schemaType == "Integer") {
    *out = {QMS_VARIANT_INT, 6, 0};
  } else if (schemaType == "Long Integer") {
    *out = {QMS_VARIANT_LONG, 11, 0};
  } else if (schemaType == "Single") {
    *out = {QMS_VARIANT_FLOAT, 20, 6};
  } else if (schemaType == "Double") {
    *out = {QMS_VARIANT_DOUBLE, 20, 8};
  } else if (schemaType == "DateTime") {
    *out = {QMS_VARIANT_DATETIME, 16, 0};
  } else if (schemaType == "Boolean") {
    *out = {QMS_VARIANT_BOOLEAN, 2, 0};
  } else if (schemaType == "Currency" || starts("Numeric") || schemaType == "Replication ID") {
    *out = {QMS_VARIANT_STRING, 64, 0};
  } else if (starts("OLE")) {
    *out = {QMS_VARIANT_STRING, 1, 0};
  } else {
    return false;
  }
  return true;
}

TEST_F(AdoJetTest, ColumnLayoutMatchesMdbSchema) {
  std::string why = Unavailable(true);
  if (!why.empty()) GTEST_SKIP() << why;
  for (const std::string& path : Databases()) {
    std::string out;
    ASSERT_TRUE(RunCommand("mdb-schema --no-indexes --no-relations " + Quoted(path), &out));
    std::string current;
    CQmsRecord layout;
    int column = 0;
    for (const std::string& line : Split(out, '\n')) {
      if (line.rfind("CREATE TABLE [", 0) == 0) {
        current = line.substr(14, line.find(']') - 14);
        CQmsAdoTable table(path.c_str(), current.c_str(), kParams);
        table.Open();
        table.GetFields(layout);
        column = 0;
        continue;
      }
      if (line.rfind("\t[", 0) != 0 || current.empty()) continue;
      // "\t[name]\t\t\tType (args)[ NOT NULL],"
      std::string name = line.substr(2, line.find(']') - 2);
      std::string type = line.substr(line.find_first_not_of('\t', line.find(']') + 1));
      while (!type.empty() && (type.back() == ',' || type.back() == ' ')) type.pop_back();
      bool notNull = type.size() > 9 && type.compare(type.size() - 9, 9, " NOT NULL") == 0;
      if (notNull) type.resize(type.size() - 9);
      Expected want{};
      ASSERT_TRUE(ExpectedField(type, &want)) << "unmapped type " << type;
      ASSERT_LT(column, layout.GetCount()) << current;
      EXPECT_STREQ(layout.GetFieldName(column), name.c_str()) << current;
      EXPECT_EQ(layout.GetFieldTypeByHandle(column), want.type) << current << "." << name;
      EXPECT_EQ(layout.GetFieldWidthByHandle(column), want.width) << current << "." << name;
      EXPECT_EQ(layout.GetFieldDecimalsByHandle(column), want.decimals) << current << "." << name;
      EXPECT_EQ(layout.GetFieldNullableByHandle(column), notNull ? 0 : 1) << current << "." << name;
      column++;
    }
  }
}

TEST_F(AdoJetTest, WritesFailWithTheProvidersTextAndLeaveTheFileAsItWas) {
  std::string why = Unavailable(false);
  if (!why.empty()) GTEST_SKIP() << why;
  std::string original = testsupport::SharedDataPath("access/test_V2000.mdb");
  std::string path = dir_.File("copy.mdb");
  std::filesystem::copy_file(original, path);
  std::string before = testsupport::ReadAll(path);

  CQmsAdoTable table(path.c_str(), "Table1", kParams);
  table.SetReadOnly(0);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.AddNewRecord(); }), QMS_SEVERE);
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), QMS_SEVERE);
  table.Close();
  EXPECT_EQ(CodeOf([&] { table.Destroy(); }), QMS_SEVERE);
  EXPECT_EQ(CodeOf([&] { table.RenameTable("Other"); }), QMS_SEVERE);
  CQmsAdoTable created(path.c_str(), "NewTable", kParams);
  CQmsRecord layout;
  layout.Add("A", 10);
  created.DefineFields(layout);
  EXPECT_EQ(CodeOf([&] { created.Create(); }), QMS_SEVERE);

  std::string log = ErrorLog();
  EXPECT_EQ(tablestest::Count(log, "\tDescription: the Access provider is read-only on this platform\n"), 5) << log;
  for (const char* method : {"AddNewRecord", "DeleteRecord", "Destroy", "RenameTable", "Create"}) {
    EXPECT_NE(log.find(std::string("CQmsAdoTable::") + method), std::string::npos) << method;
  }
  EXPECT_EQ(testsupport::ReadAll(path), before);
  // The table is still there and still reads.
  EXPECT_EQ(table.Exists(), 1);
  EXPECT_EQ(CQmsAdoTable(path.c_str(), "NewTable", kParams).Exists(), 0);
}

TEST_F(AdoJetTest, AMissingOrForeignFileFailsToOpenWithAClearText) {
  std::string why = Unavailable(false);
  if (!why.empty()) GTEST_SKIP() << why;
  CQmsAdoTable missing(dir_.File("none.mdb").c_str(), "Table1", kParams);
  EXPECT_EQ(CodeOf([&] { missing.Open(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("could not find the database file"), std::string::npos);
  std::string text = dir_.Write("text.mdb", "this is no database at all");
  CQmsAdoTable foreign(text.c_str(), "Table1", kParams);
  EXPECT_EQ(CodeOf([&] { foreign.Open(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("is not an Access database"), std::string::npos);
  CQmsAdoTable noTable(testsupport::SharedDataPath("access/test_V1997.mdb").c_str(), "Nope", kParams);
  EXPECT_EQ(CodeOf([&] { noTable.Open(); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("the data source holds no table named 'Nope'"), std::string::npos);
}

}  // namespace
