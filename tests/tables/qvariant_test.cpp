#include "tables/qvariant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;

class VariantTest : public tablestest::TablesTest {};

// ---- sources, one per kind ----

_qmsdate Date(const char* text) {
  _qmsdate date{};
  std::memcpy(date.szDate, text, std::min(std::strlen(text), sizeof date.szDate - 1));
  return date;
}

_qmsdatetime DateTime(const char* text) {
  _qmsdatetime value{};
  std::memcpy(value.szDateTime, text, std::min(std::strlen(text), sizeof value.szDateTime - 1));
  return value;
}

void* const kPointer = reinterpret_cast<void*>(uintptr_t(0x1000000FFull));

// Fills a variant with the source value named by key.
void Source(const std::string& key, CQmsVariant& v) {
  if (key == "EMPTY") v.Clear();
  else if (key == "BOOLEAN") v = QBOOL(1);
  else if (key == "FALSE") v = QBOOL(0);
  else if (key == "CHAR") v = char(-2);
  else if (key == "DOUBLE") v = -3.5;
  else if (key == "FLOAT") v = 2.5f;
  else if (key == "INT") v = 42;
  else if (key == "LONG") v = -7L;
  else if (key == "STRING") v = "12abc";
  else if (key == "ULONG") v = 4294967295ul;
  else if (key == "USHORT") v = static_cast<unsigned short>(65535);
  else if (key == "VOIDSTAR") v = kPointer;
  else if (key == "DATE") v = Date("20110315");
  else if (key == "DATETIME") v = DateTime("2011031512:30:00");
  else if (key == "NOTEXT") v.ChangeType(QMS_VARIANT_STRING);  // from EMPTY: a STRING without text
  else if (key.rfind("STRING ", 0) == 0) v = key.substr(7).c_str();
  else if (key.rfind("DOUBLE ", 0) == 0) v = std::stod(key.substr(7));
  else if (key.rfind("DATE ", 0) == 0) v = Date(key.substr(5).c_str());
  else if (key.rfind("DATETIME ", 0) == 0) v = DateTime(key.substr(9).c_str());
  else FAIL() << key;
}

std::string Real(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

// The kind and value of a variant as one text.
std::string Render(const CQmsVariant& variant) {
  const _varstruct& s = variant;
  switch (s.vt) {
    case QMS_VARIANT_EMPTY:
      return "EMPTY";
    case QMS_VARIANT_BOOLEAN:
      return "BOOLEAN:" + std::to_string(s.value.bVal);
    case QMS_VARIANT_CHAR:
      return "CHAR:" + std::to_string(int(static_cast<signed char>(s.value.cVal)));
    case QMS_VARIANT_DOUBLE:
      return "DOUBLE:" + Real(s.value.dblVal, 17);
    case QMS_VARIANT_FLOAT:
      return "FLOAT:" + Real(s.value.fltVal, 10);
    case QMS_VARIANT_INT:
      return "INT:" + std::to_string(s.value.iVal);
    case QMS_VARIANT_LONG:
      return "LONG:" + std::to_string(s.value.lVal);
    case QMS_VARIANT_STRING:
      return std::string("STRING:") + (s.value.pszVal ? s.value.pszVal : "(null)");
    case QMS_VARIANT_ULONG:
      return "ULONG:" + std::to_string(s.value.ulVal);
    case QMS_VARIANT_USHORT:
      return "USHORT:" + std::to_string(s.value.usVal);
    case QMS_VARIANT_VOIDSTAR:
      return "VOIDSTAR:" + std::to_string(reinterpret_cast<intptr_t>(s.value.pVal));
    case QMS_VARIANT_DATE:
      return std::string("DATE:") + s.value.dateVal.szDate;
    case QMS_VARIANT_DATETIME:
      return std::string("DATETIME:") + s.value.dateTimeVal.szDateTime;
    default:
      return "?";
  }
}

// ---- ChangeType: every cell of the conversion table ----

struct ChangeCase {
  const char* source;
  QMS_VARIANT_TYPE target;
  const char* expected;  // Render of the result, or "fails"
};

constexpr auto E = QMS_VARIANT_EMPTY;
constexpr auto B = QMS_VARIANT_BOOLEAN;
constexpr auto C = QMS_VARIANT_CHAR;
constexpr auto D = QMS_VARIANT_DOUBLE;
constexpr auto F = QMS_VARIANT_FLOAT;
constexpr auto I = QMS_VARIANT_INT;
constexpr auto L = QMS_VARIANT_LONG;
constexpr auto S = QMS_VARIANT_STRING;
constexpr auto UL = QMS_VARIANT_ULONG;
constexpr auto US = QMS_VARIANT_USHORT;
constexpr auto P = QMS_VARIANT_VOIDSTAR;
constexpr auto DT = QMS_VARIANT_DATE;
constexpr auto DTT = QMS_VARIANT_DATETIME;

const ChangeCase kChangeCases[] = {
    {"EMPTY", E, "EMPTY"},
    {"EMPTY", B, "BOOLEAN:0"},
    {"EMPTY", C, "CHAR:0"},
    {"EMPTY", D, "DOUBLE:0"},
    {"EMPTY", F, "FLOAT:0"},
    {"EMPTY", I, "INT:0"},
    {"EMPTY", L, "LONG:0"},
    {"EMPTY", S, "STRING:(null)"},
    {"EMPTY", UL, "ULONG:0"},
    {"EMPTY", US, "USHORT:0"},
    {"EMPTY", P, "VOIDSTAR:0"},
    {"EMPTY", DT, "DATE:00000000"},
    {"EMPTY", DTT, "DATETIME:0000000000:00:00"},

    {"BOOLEAN", E, "EMPTY"},
    {"BOOLEAN", B, "BOOLEAN:1"},
    {"BOOLEAN", C, "CHAR:1"},
    {"BOOLEAN", D, "DOUBLE:1"},
    {"BOOLEAN", F, "FLOAT:1"},
    {"BOOLEAN", I, "INT:1"},
    {"BOOLEAN", L, "LONG:1"},
    {"BOOLEAN", S, "STRING:TRUE"},
    {"BOOLEAN", UL, "ULONG:1"},
    {"BOOLEAN", US, "USHORT:1"},
    {"BOOLEAN", P, "VOIDSTAR:1"},
    {"BOOLEAN", DT, "DATE:00000001"},
    {"BOOLEAN", DTT, "DATETIME:0000000100:00:00"},

    {"CHAR", E, "EMPTY"},
    {"CHAR", B, "BOOLEAN:1"},
    {"CHAR", C, "CHAR:-2"},
    {"CHAR", D, "DOUBLE:-2"},
    {"CHAR", F, "FLOAT:-2"},
    {"CHAR", I, "INT:-2"},
    {"CHAR", L, "LONG:-2"},
    {"CHAR", S, "STRING:\xFE"},
    {"CHAR", UL, "ULONG:4294967294"},
    {"CHAR", US, "USHORT:65534"},
    {"CHAR", P, "VOIDSTAR:-2"},
    {"CHAR", DT, "fails"},
    {"CHAR", DTT, "fails"},

    {"DOUBLE", E, "EMPTY"},
    {"DOUBLE", B, "BOOLEAN:1"},
    {"DOUBLE", C, "CHAR:-3"},
    {"DOUBLE", D, "DOUBLE:-3.5"},
    {"DOUBLE", F, "FLOAT:-3.5"},
    {"DOUBLE", I, "INT:-3"},
    {"DOUBLE", L, "LONG:-3"},
    {"DOUBLE", S, "STRING:-3.500000"},
    {"DOUBLE", UL, "ULONG:4294967293"},
    {"DOUBLE", US, "USHORT:65533"},
    {"DOUBLE", P, "fails"},
    {"DOUBLE", DT, "DATE:-0000004"},
    {"DOUBLE", DTT, "DATETIME:-000000400:00:00"},

    {"FLOAT", E, "EMPTY"},
    {"FLOAT", B, "BOOLEAN:1"},
    {"FLOAT", C, "CHAR:2"},
    {"FLOAT", D, "DOUBLE:2.5"},
    {"FLOAT", F, "FLOAT:2.5"},
    {"FLOAT", I, "INT:2"},
    {"FLOAT", L, "LONG:2"},
    {"FLOAT", S, "STRING:2.500000"},
    {"FLOAT", UL, "ULONG:2"},
    {"FLOAT", US, "USHORT:2"},
    {"FLOAT", P, "fails"},
    {"FLOAT", DT, "DATE:00000002"},
    {"FLOAT", DTT, "DATETIME:0000000200:00:00"},

    {"INT", E, "EMPTY"},
    {"INT", B, "BOOLEAN:1"},
    {"INT", C, "CHAR:42"},
    {"INT", D, "DOUBLE:42"},
    {"INT", F, "FLOAT:42"},
    {"INT", I, "INT:42"},
    {"INT", L, "LONG:42"},
    {"INT", S, "STRING:42"},
    {"INT", UL, "ULONG:42"},
    {"INT", US, "USHORT:42"},
    {"INT", P, "VOIDSTAR:42"},
    {"INT", DT, "DATE:00000042"},
    {"INT", DTT, "DATETIME:0000004200:00:00"},

    {"LONG", E, "EMPTY"},
    {"LONG", B, "BOOLEAN:1"},
    {"LONG", C, "CHAR:-7"},
    {"LONG", D, "DOUBLE:-7"},
    {"LONG", F, "FLOAT:-7"},
    {"LONG", I, "INT:-7"},
    {"LONG", L, "LONG:-7"},
    {"LONG", S, "STRING:-7"},
    {"LONG", UL, "ULONG:4294967289"},
    {"LONG", US, "USHORT:65529"},
    {"LONG", P, "VOIDSTAR:-7"},
    {"LONG", DT, "DATE:-0000007"},
    {"LONG", DTT, "DATETIME:-000000700:00:00"},

    {"STRING", E, "EMPTY"},
    {"STRING", B, "BOOLEAN:0"},
    {"STRING", C, "CHAR:49"},
    {"STRING", D, "DOUBLE:12"},
    {"STRING", F, "FLOAT:12"},
    {"STRING", I, "INT:12"},
    {"STRING", L, "LONG:12"},
    {"STRING", S, "STRING:12abc"},
    {"STRING", UL, "ULONG:12"},
    {"STRING", US, "USHORT:12"},
    {"STRING", P, "fails"},
    {"STRING", DT, "DATE:00000012"},
    {"STRING", DTT, "DATETIME:12abc"},

    {"ULONG", E, "EMPTY"},
    {"ULONG", B, "BOOLEAN:1"},
    {"ULONG", C, "CHAR:-1"},
    {"ULONG", D, "DOUBLE:4294967295"},
    {"ULONG", F, "FLOAT:4294967296"},
    {"ULONG", I, "INT:-1"},
    {"ULONG", L, "LONG:-1"},
    {"ULONG", S, "STRING:-1"},
    {"ULONG", UL, "ULONG:4294967295"},
    {"ULONG", US, "USHORT:65535"},
    {"ULONG", P, "VOIDSTAR:4294967295"},
    {"ULONG", DT, "DATE:-0000001"},
    {"ULONG", DTT, "DATETIME:-000000100:00:00"},

    {"USHORT", E, "EMPTY"},
    {"USHORT", B, "BOOLEAN:1"},
    {"USHORT", C, "CHAR:-1"},
    {"USHORT", D, "DOUBLE:65535"},
    {"USHORT", F, "FLOAT:65535"},
    {"USHORT", I, "INT:65535"},
    {"USHORT", L, "LONG:65535"},
    {"USHORT", S, "STRING:65535"},
    {"USHORT", UL, "ULONG:65535"},
    {"USHORT", US, "USHORT:65535"},
    {"USHORT", P, "VOIDSTAR:65535"},
    {"USHORT", DT, "DATE:00065535"},
    {"USHORT", DTT, "DATETIME:0006553500:00:00"},

    {"VOIDSTAR", E, "EMPTY"},
    {"VOIDSTAR", B, "BOOLEAN:1"},
    {"VOIDSTAR", C, "CHAR:-1"},
    {"VOIDSTAR", D, "fails"},
    {"VOIDSTAR", F, "fails"},
    {"VOIDSTAR", I, "INT:255"},
    {"VOIDSTAR", L, "LONG:255"},
    {"VOIDSTAR", S, "fails"},
    {"VOIDSTAR", UL, "ULONG:255"},
    {"VOIDSTAR", US, "USHORT:255"},
    {"VOIDSTAR", P, "VOIDSTAR:4294967551"},
    {"VOIDSTAR", DT, "fails"},
    {"VOIDSTAR", DTT, "fails"},

    {"DATE", E, "EMPTY"},
    {"DATE", B, "BOOLEAN:1"},
    {"DATE", C, "CHAR:50"},
    {"DATE", D, "DOUBLE:20110315"},
    {"DATE", F, "FLOAT:20110316"},
    {"DATE", I, "INT:20110315"},
    {"DATE", L, "LONG:20110315"},
    {"DATE", S, "STRING:20110315"},
    {"DATE", UL, "ULONG:20110315"},
    {"DATE", US, "USHORT:56299"},
    {"DATE", P, "fails"},
    {"DATE", DT, "DATE:20110315"},
    {"DATE", DTT, "fails"},

    {"DATETIME", E, "EMPTY"},
    {"DATETIME", B, "BOOLEAN:1"},
    {"DATETIME", C, "CHAR:50"},
    {"DATETIME", D, "DOUBLE:2011031512"},
    {"DATETIME", F, "FLOAT:2011031552"},
    {"DATETIME", I, "INT:2011031512"},
    {"DATETIME", L, "LONG:2011031512"},
    {"DATETIME", S, "STRING:2011031512:30:00"},
    {"DATETIME", UL, "ULONG:2011031512"},
    {"DATETIME", US, "USHORT:59352"},
    {"DATETIME", P, "fails"},
    {"DATETIME", DT, "fails"},
    {"DATETIME", DTT, "DATETIME:2011031512:30:00"},

    // Cells worth a second value.
    {"FALSE", S, "STRING:FALSE"},
    {"FALSE", DT, "DATE:00000000"},
    {"FALSE", DTT, "DATETIME:0000000000:00:00"},
    {"STRING yes", B, "BOOLEAN:1"},
    {"STRING Y", B, "BOOLEAN:1"},
    {"STRING no", B, "BOOLEAN:0"},
    {"STRING 1", B, "BOOLEAN:0"},
    {"STRING 2011-03-15", DT, "DATE:00002011"},
    {"STRING -1", UL, "ULONG:4294967295"},
    {"STRING  4.5e2", D, "DOUBLE:450"},
    {"STRING 99999999999", I, "INT:2147483647"},
    {"STRING 12345678901234567890", DTT, "DATETIME:1234567890123456"},
    {"NOTEXT", B, "BOOLEAN:0"},
    {"NOTEXT", C, "CHAR:0"},
    {"NOTEXT", D, "DOUBLE:0"},
    {"NOTEXT", I, "INT:0"},
    {"NOTEXT", US, "USHORT:0"},
    {"NOTEXT", DT, "DATE:00000000"},
    {"NOTEXT", DTT, "DATETIME:0000000000:00:00"},
    {"DOUBLE 3.5", S, "STRING:3.500000"},
    {"DOUBLE 3.5", I, "INT:3"},
    {"DOUBLE 20110315", DT, "DATE:20110315"},
    {"DOUBLE 123456789", DT, "DATE:12345678"},
    {"DOUBLE 5e9", UL, "ULONG:705032704"},
    {"DOUBLE 5e9", I, "INT:-2147483648"},
    {"DOUBLE 1e20", DTT, "DATETIME:1000000000000000"},
    {"DATE 00000000", B, "BOOLEAN:0"},
    {"DATETIME 0000000000:00:00", B, "BOOLEAN:0"},
};

TEST_F(VariantTest, ChangeTypeTable) {
  KeepAlive();
  for (const auto& c : kChangeCases) {
    CQmsVariant v;
    Source(c.source, v);
    long code = CodeOf([&] { v.ChangeType(c.target); });
    std::string label = std::string(c.source) + " -> " + QmsVariantTypeName(c.target);
    if (std::string(c.expected) == "fails") {
      EXPECT_EQ(code, QMS_SEVERE_INVALID_TYPE) << label;
      EXPECT_EQ(Render(v), "EMPTY") << label;
    } else {
      EXPECT_EQ(code, 0) << label;
      EXPECT_EQ(Render(v), c.expected) << label;
    }
  }
}

TEST_F(VariantTest, ChangeTypeFailureIsReportedAndLeavesEmpty) {
  CQmsVariant v(kPointer);
  EXPECT_EQ(CodeOf([&] { v.ChangeType(QMS_VARIANT_DOUBLE); }), QMS_SEVERE_INVALID_TYPE);
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 22000052: Severe invalid type\n*** CQmsVariant::ChangeType\n"),
            std::string::npos);
  EXPECT_NE(ErrorLog().find("ChangeType failed\n"), std::string::npos);
  v = 5;
  EXPECT_EQ(CodeOf([&] { v.ChangeType(static_cast<QMS_VARIANT_TYPE>(13)); }), QMS_SEVERE_INVALID_TYPE);
  EXPECT_TRUE(v.IsEmpty());

  // To its own kind nothing changes, not even the text's place.
  CQmsVariant text("keep");
  const char* before = text;
  text.ChangeType(QMS_VARIANT_STRING);
  EXPECT_EQ(static_cast<const char*>(text), before);
  CQmsVariant empty;
  empty.ChangeType(QMS_VARIANT_EMPTY);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_FALSE(empty.IsValid());
}

// ---- the conversion operators: every cell ----

enum Op { kBool, kChar, kDouble, kFloat, kInt, kLong, kUint, kUlong, kUshort, kText, kDate, kDateTime, kPointerOp };

std::string Apply(Op op, CQmsVariant& v) {
  switch (op) {
    case kBool:
      return std::to_string(int(static_cast<QBOOL>(v)));
    case kChar:
      return std::to_string(int(static_cast<signed char>(static_cast<char>(v))));
    case kDouble:
      return Real(static_cast<double>(v), 17);
    case kFloat:
      return Real(static_cast<float>(v), 10);
    case kInt:
      return std::to_string(static_cast<int>(v));
    case kLong:
      return std::to_string(static_cast<long>(v));
    case kUint:
      return std::to_string(static_cast<unsigned int>(v));
    case kUlong:
      return std::to_string(static_cast<unsigned long>(v));
    case kUshort:
      return std::to_string(static_cast<unsigned short>(v));
    case kText: {
      const char* text = static_cast<const char*>(v);
      return text ? text : "(null)";
    }
    case kDate:
      return static_cast<_qmsdate&>(v).szDate;
    case kDateTime:
      return static_cast<_qmsdatetime&>(v).szDateTime;
    case kPointerOp:
      return std::to_string(reinterpret_cast<intptr_t>(static_cast<void*>(v)));
  }
  return "?";
}

struct OperatorRow {
  const char* source;
  // One result per Op, in order; "fails" where the operator refuses.
  const char* results[13];
};

const OperatorRow kOperatorRows[] = {
    {"EMPTY", {"0", "fails", "fails", "fails", "fails", "fails", "fails", "fails", "fails", "", "fails", "fails",
               "fails"}},
    {"BOOLEAN", {"1", "1", "1", "1", "1", "1", "1", "1", "1", "1", "00000001", "0000000100:00:00", "fails"}},
    {"FALSE", {"0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "00000000", "0000000000:00:00", "fails"}},
    {"CHAR", {"1", "-2", "fails", "fails", "-2", "-2", "4294967294", "4294967294", "65534", "", "fails", "fails",
              "fails"}},
    {"DOUBLE", {"1", "-3", "-3.5", "-3.5", "-3", "-3", "4294967293", "4294967293", "65533", "-3.500000", "-0000004",
                "-000000400:00:00", "fails"}},
    {"FLOAT", {"1", "2", "2.5", "2.5", "2", "2", "2", "2", "2", "2.500000", "00000002", "0000000200:00:00",
               "fails"}},
    {"INT", {"1", "42", "42", "42", "42", "42", "42", "42", "42", "42", "00000042", "0000004200:00:00", "fails"}},
    {"LONG", {"1", "-7", "-7", "-7", "-7", "-7", "4294967289", "4294967289", "65529", "-7", "-0000007",
              "-000000700:00:00", "fails"}},
    {"STRING", {"0", "49", "12", "12", "12", "12", "12", "12", "12", "12abc", "12abc", "12abc", "fails"}},
    {"ULONG", {"1", "-1", "4294967295", "4294967296", "-1", "-1", "4294967295", "4294967295", "65535", "-1",
               "-0000001", "-000000100:00:00", "fails"}},
    {"USHORT", {"1", "-1", "65535", "65535", "65535", "65535", "65535", "65535", "65535", "65535", "00065535",
                "0006553500:00:00", "fails"}},
    {"VOIDSTAR", {"fails", "fails", "fails", "fails", "fails", "fails", "fails", "fails", "fails", "", "fails",
                  "fails", "4294967551"}},
    {"DATE", {"1", "50", "20110315", "20110316", "20110315", "20110315", "20110315", "20110315", "56299",
              "20110315", "20110315", "2011031500:00:00", "fails"}},
    {"DATETIME", {"1", "50", "2011031512", "2011031552", "2011031512", "2011031512", "2011031512", "2011031512",
                  "59352", "2011031512:30:00", "20110315", "2011031512:30:00", "fails"}},
    // Only "TRUE" in any case is true for the operator.
    {"STRING TrUe", {"1", "84", "0", "0", "0", "0", "0", "0", "0", "TrUe", "TrUe", "TrUe", "fails"}},
    {"STRING Yes", {"0", "89", "0", "0", "0", "0", "0", "0", "0", "Yes", "Yes", "Yes", "fails"}},
    {"STRING 123456789012345678", {"0", "49", "1.2345678901234568e+17", "1.234567905e+17", "2147483647",
                                   "2147483647", "2147483647", "2147483647", "65535", "123456789012345678",
                                   "12345678", "1234567890123456", "fails"}},
    {"NOTEXT", {"0", "0", "0", "0", "0", "0", "0", "0", "0", "(null)", "00000000", "0000000000:00:00", "fails"}},
    {"DOUBLE 5e9", {"1", "0", "5000000000", "5000000000", "-2147483648", "-2147483648", "705032704", "705032704",
                    "0", "5000000000.000000", "50000000", "500000000000:00:", "fails"}},
    {"DATE 00000000", {"0", "48", "0", "0", "0", "0", "0", "0", "0", "00000000", "00000000", "0000000000:00:00",
                       "fails"}},
    {"DATETIME 0000000000:00:00", {"0", "48", "0", "0", "0", "0", "0", "0", "0", "0000000000:00:00", "00000000",
                                   "0000000000:00:00", "fails"}},
};

TEST_F(VariantTest, ConversionOperatorTable) {
  const char* names[13] = {"QBOOL", "char", "double", "float", "int", "long", "unsigned int", "unsigned long",
                           "unsigned short", "const char*", "date", "datetime", "void*"};
  for (const auto& row : kOperatorRows) {
    for (int op = 0; op < 13; op++) {
      CQmsVariant v;
      Source(row.source, v);
      std::string before = Render(v);
      std::string result;
      long code = CodeOf([&] { result = Apply(Op(op), v); });
      std::string label = std::string(row.source) + " as " + names[op];
      if (std::string(row.results[op]) == "fails") {
        EXPECT_EQ(code, QMS_SEVERE_WRONG_VARIANT) << label;
      } else {
        EXPECT_EQ(code, 0) << label;
        EXPECT_EQ(result, row.results[op]) << label;
      }
      EXPECT_EQ(Render(v), before) << label << ": the variant changed";
    }
  }
}

TEST_F(VariantTest, OperatorFailureIsReportedUnderItsOwnName) {
  CQmsVariant v(kPointer);
  EXPECT_EQ(CodeOf([&] { static_cast<long>(v); }), QMS_SEVERE_WRONG_VARIANT);
  EXPECT_EQ(CodeOf([&] { static_cast<unsigned short>(v); }), QMS_SEVERE_WRONG_VARIANT);
  EXPECT_EQ(CodeOf([&] { (void)static_cast<_qmsdate&>(v); }), QMS_SEVERE_WRONG_VARIANT);
  std::string log = ErrorLog();
  EXPECT_NE(log.find("*** Failure:  *** 22000016: Severe - wrong variant\n*** CQmsVariant::operator int\n"),
            std::string::npos);
  EXPECT_NE(log.find("*** CQmsVariant::operator unsigned long\n"), std::string::npos);
  EXPECT_NE(log.find("operator QDATESTRUCT& failed\n"), std::string::npos);
}

TEST_F(VariantTest, TextsIntoFixedBuffersAreBounded) {
  CQmsVariant huge(1e300);
  const char* text = huge;
  EXPECT_EQ(std::strlen(text), 49u);
  EXPECT_EQ(std::string(text, 10), "1000000000");
  huge.ChangeType(QMS_VARIANT_STRING);
  EXPECT_EQ(std::strlen(static_cast<const char*>(huge)), 308u);

  _qmsdate longDate;
  std::memcpy(longDate.szDate, "201103159", 9);  // no terminator among the nine
  CQmsVariant date(longDate);
  EXPECT_STREQ(static_cast<const char*>(date), "20110315");
  date.ChangeType(QMS_VARIANT_STRING);
  EXPECT_STREQ(static_cast<const char*>(date), "20110315");
}

TEST_F(VariantTest, TextAssignmentReusesRoom) {
  CQmsVariant v("abcdef");
  const char* first = v;
  v = "abc";
  EXPECT_EQ(static_cast<const char*>(v), first);
  EXPECT_STREQ(static_cast<const char*>(v), "abc");
  v = "abcdef";
  EXPECT_EQ(static_cast<const char*>(v), first);
  v = "abcdefghij";
  EXPECT_STREQ(static_cast<const char*>(v), "abcdefghij");
  v = static_cast<const char*>(v) + 2;  // a text from its own buffer
  EXPECT_STREQ(static_cast<const char*>(v), "cdefghij");

  // A null text is reported and leaves the variant as it was.
  KeepAlive();
  EXPECT_EQ(CodeOf([&] { v = static_cast<const char*>(nullptr); }), 0);
  EXPECT_STREQ(static_cast<const char*>(v), "cdefghij");
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 23000000: Fatal - bad pointer\n*** CQmsVariant::operator=\n"),
            std::string::npos);
}

TEST_F(VariantTest, CopiesAreDeep) {
  CQmsVariant text("owned");
  CQmsVariant copy(text);
  EXPECT_NE(static_cast<const char*>(copy), static_cast<const char*>(text));
  EXPECT_TRUE(copy.IsEqualValue(text));
  text = "changed";
  EXPECT_STREQ(static_cast<const char*>(copy), "owned");

  CQmsVariant fromStruct(static_cast<const _varstruct&>(text));
  EXPECT_STREQ(static_cast<const char*>(fromStruct), "changed");
  fromStruct = 5;
  fromStruct = copy;
  EXPECT_STREQ(static_cast<const char*>(fromStruct), "owned");
  CQmsVariant fromString(CQmsStringPtr("ptr"));
  EXPECT_STREQ(static_cast<const char*>(fromString), "ptr");
  CQmsVariant fromEmptyString{CQmsStringPtr()};
  EXPECT_STREQ(static_cast<const char*>(fromEmptyString), "");
  CQmsVariant fromNull(static_cast<const char*>(nullptr));
  EXPECT_EQ(fromNull.GetType(), QMS_VARIANT_STRING);
  EXPECT_EQ(static_cast<const char*>(fromNull), nullptr);
}

TEST_F(VariantTest, WideHostIntegersKeepTheirLow32Bits) {
  CQmsVariant ulong(0x1FFFFFFFFul);
  EXPECT_EQ(Render(ulong), "ULONG:4294967295");
  CQmsVariant slong(0x100000005L);
  EXPECT_EQ(Render(slong), "LONG:5");
  CQmsVariant uint(7u);
  EXPECT_EQ(Render(uint), "ULONG:7");
  EXPECT_EQ(static_cast<unsigned long>(CQmsVariant(-1)), 4294967295ul);
}

TEST_F(VariantTest, EqualValues) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"INT", "INT", true},          {"INT", "LONG", false},       {"STRING", "STRING 12abc", true},
      {"STRING", "STRING 12ABC", false}, {"EMPTY", "EMPTY", true},  {"DATE", "DATE 20110315", true},
      {"DATE", "DATE 20110316", false},  {"NOTEXT", "NOTEXT", true}, {"NOTEXT", "STRING ", false},
  };
  for (const auto& c : cases) {
    CQmsVariant a, b;
    Source(c.a, a);
    Source(c.b, b);
    EXPECT_EQ(a.IsEqualValue(b), c.equal) << c.a << " / " << c.b;
  }
  CQmsVariant zero(0.0), negativeZero(-0.0);
  EXPECT_TRUE(zero.IsEqualValue(negativeZero));
  CQmsStringPtr notVariant("12abc");
  CQmsVariant text("12abc");
  EXPECT_FALSE(text.IsEqualValue(notVariant));
  EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
