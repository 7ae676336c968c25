#include "tables/adodb.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/tables/ado_memory.h"

namespace {

using adodb::Variant;

// The converted value as "KIND:text", or the failure's result code.
std::string Converted(const Variant& v, adodb::VarType target) {
  try {
    Variant out = v.ChangeType(target);
    if (out.Type() == adodb::VT_NULL) return "NULL";
    if (out.Type() == adodb::VT_EMPTY) return "EMPTY";
    return std::to_string(int(out.Type())) + ":" + out.ChangeType(adodb::VT_BSTR).TextValue();
  } catch (const adodb::ComError& error) {
    return error.Code() == adodb::kOverflow ? "overflow" : (error.Code() == adodb::kTypeMismatch ? "mismatch" : "?");
  }
}

struct ConversionCase {
  const char* name;
  Variant value;
  adodb::VarType target;
  std::string expected;
};

TEST(AdoVariant, ConvertsAsThePlatformDoes) {
  const ConversionCase cases[] = {
      {"unsigned small above 32767 into 16 bits", Variant::Whole(adodb::VT_UI2, 40000), adodb::VT_I2, "overflow"},
      {"unsigned small through 32 bits", Variant::Whole(adodb::VT_UI2, 40000), adodb::VT_I4, "3:40000"},
      {"halves round to even (down)", Variant::R8(2.5), adodb::VT_I4, "3:2"},
      {"halves round to even (up)", Variant::R8(3.5), adodb::VT_I4, "3:4"},
      {"negative half", Variant::R8(-2.5), adodb::VT_I4, "3:-2"},
      {"text with blanks", Variant::Text(" 12 "), adodb::VT_I4, "3:12"},
      {"text that is no number", Variant::Text("12x"), adodb::VT_I4, "mismatch"},
      {"null has no number", Variant::Null(), adodb::VT_I4, "mismatch"},
      {"empty is zero", Variant(), adodb::VT_I4, "3:0"},
      {"empty is the empty text", Variant(), adodb::VT_BSTR, "8:"},
      {"currency", Variant::Currency(35000), adodb::VT_BSTR, "8:3.5"},
      {"small negative currency", Variant::Currency(-5), adodb::VT_BSTR, "8:-0.0005"},
      {"double to 15 digits", Variant::R8(0.1 + 0.2), adodb::VT_BSTR, "8:0.3"},
      {"single to 7 digits", Variant::Real(adodb::VT_R4, 444.555), adodb::VT_BSTR, "8:444.555"},
      {"truth", Variant::Bool(true), adodb::VT_BSTR, "8:True"},
      {"truth word", Variant::Text("false"), adodb::VT_BOOL, "11:False"},
      {"truth number", Variant::Text("2"), adodb::VT_BOOL, "11:True"},
      {"date only", Variant::Date(36892), adodb::VT_BSTR, "8:2001-01-01"},
      {"date text", Variant::Text("2001-02-03 04:05:06"), adodb::VT_DATE, "7:2001-02-03 04:05:06"},
      {"no such day", Variant::Text("2001-02-30"), adodb::VT_DATE, "mismatch"},
      {"too large for a single", Variant::R8(1e300), adodb::VT_R4, "overflow"},
      {"date beyond 9999", Variant::R8(3e6), adodb::VT_DATE, "overflow"},
      {"largest unsigned 64", Variant::Whole(adodb::VT_UI8, -1), adodb::VT_BSTR, "8:18446744073709551615"},
      {"decimal text", Variant::Decimal("-1"), adodb::VT_I4, "3:-1"},
      {"double to currency", Variant::R8(1.23456), adodb::VT_CY, "6:1.2346"},
      {"bytes are no number", Variant::Bytes("ab"), adodb::VT_I4, "mismatch"},
  };
  for (const ConversionCase& c : cases) EXPECT_EQ(Converted(c.value, c.target), c.expected) << c.name;
}

std::string PartsText(double date) {
  adodb::DateParts p;
  if (!adodb::OleDateToParts(date, &p)) return "invalid";
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return text;
}

TEST(AdoOleDate, DayZeroIs30December1899AndNegativeFractionsCountAwayFromZero) {
  struct Case {
    double date;
    const char* text;
  } cases[] = {
      {0, "1899-12-30 00:00:00"},
      {1.5, "1899-12-31 12:00:00"},
      {-1.25, "1899-12-29 06:00:00"},
      {-0.5, "1899-12-30 12:00:00"},
      {36925 + 14706 / 86400.0, "2001-02-03 04:05:06"},
      {1.9999999, "1900-01-01 00:00:00"},  // rounded to the whole second, into the next day
      {-1.9999999, "1899-12-30 00:00:00"},
      {-657434, "0100-01-01 00:00:00"},
      {2958465.5, "9999-12-31 12:00:00"},
      {-657435, "invalid"},
      {std::nan(""), "invalid"},
  };
  for (const auto& c : cases) EXPECT_EQ(PartsText(c.date), c.text) << c.date;
  // Back from the parts, both sides of day 0.
  EXPECT_DOUBLE_EQ(adodb::OleDateFromParts({1899, 12, 29, 6, 0, 0}), -1.25);
  EXPECT_DOUBLE_EQ(adodb::OleDateFromParts({2001, 2, 3, 4, 5, 6}), 36925 + 14706 / 86400.0);
}

// The provider error a connection text gets with no test provider installed.
std::string ConnectFailure(const std::string& connection, adodb::Result* code) {
  try {
    adodb::Connect(connection);
  } catch (const adodb::ComError& error) {
    *code = error.Code();
    return error.Source() + ": " + error.Description();
  }
  return "connected";
}

TEST(AdoConnect, ChoosesTheProviderByWordsOfTheConnectionText) {
  adodb::Result code = 0;
  EXPECT_EQ(ConnectFailure("Provider=Jet;Extended Properties='Excel 8.0';Data Source='a.xls'", &code),
            "Spreadsheet provider: the spreadsheet provider is not available on this platform");
  EXPECT_EQ(code, adodb::kNoProvider);
  EXPECT_EQ(ConnectFailure("Provider=sqloledb;Data Source=server", &code),
            "Server provider: the database server provider is not available on this platform");
  EXPECT_EQ(ConnectFailure("Provider=Other", &code),
            "Data access: no provider on this platform serves the connection text");
  // The words are case-sensitive.
  EXPECT_EQ(ConnectFailure("Provider=jet;Data Source='x.mdb'", &code),
            "Data access: no provider on this platform serves the connection text");
  std::string jet = ConnectFailure("Provider=Jet;", &code);
  EXPECT_NE(jet.find("Access provider: "), std::string::npos) << jet;
}

TEST(AdoConnect, ReadsKeysOfTheConnectionText) {
  struct Case {
    const char* text;
    const char* key;
    const char* value;  // null: missing
  } cases[] = {
      {"Provider='P';Data Source='C:\\data\\a.mdb';", "Data Source", "C:\\data\\a.mdb"},
      {"provider=P; data source = \"x;y.mdb\" ", "Data Source", "x;y.mdb"},
      {"Provider=P;;Data Source=plain", "data source", "plain"},
      {"Provider=P", "Data Source", nullptr},
  };
  for (const auto& c : cases) {
    std::string value;
    bool found = adodb::ConnectionValue(c.text, c.key, &value);
    EXPECT_EQ(found, c.value != nullptr) << c.text;
    if (c.value != nullptr) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(AdoSetting, LeaveExcelNumericCountsOnlyTheText1) {
  adotest::ExcelNumericSetting env;
  EXPECT_FALSE(adodb::LeaveExcelNumeric());
  env.value = "1";
  EXPECT_TRUE(adodb::LeaveExcelNumeric());
  env.value = "1 ";
  EXPECT_FALSE(adodb::LeaveExcelNumeric());
}

class AdoRecordset : public ::testing::Test {
 protected:
  void SetUp() override {
    adodb::Initialize();
    provider_.database->AddTable("T", {adotest::Column("N", adodb::kInteger, 4)});
    for (int i = 1; i <= 3; i++) provider_.database->AddRow("T", {Variant::I4(i)});
  }
  void TearDown() override { adodb::Uninitialize(); }

  adodb::Ref<adodb::Recordset> Open(adodb::CursorType cursor) {
    adodb::Ref<adodb::Recordset> records = adodb::CreateRecordset();
    records->Open(Variant::Text("[T]"), Variant::Text("x"), cursor, adodb::kLockOptimistic, adodb::kCommandTable);
    return records;
  }
  static int32_t Current(const adodb::Ref<adodb::Recordset>& records) {
    return int32_t(records->GetFields()->Item(Variant::I2(0))->Value().WholeValue());
  }

  adotest::MemoryProvider provider_;
};

TEST_F(AdoRecordset, KeysetCursorMovesBothWaysAndStopsAtTheEnds) {
  auto records = Open(adodb::kKeyset);
  EXPECT_EQ(records->RecordCount(), 3);
  EXPECT_EQ(records->AbsolutePosition(), 1);
  records->Move(2, Variant::I2(adodb::kBookmarkFirst));
  EXPECT_EQ(Current(records), 3);
  records->MoveNext();
  EXPECT_TRUE(records->IsEOF());
  EXPECT_EQ(records->AbsolutePosition(), adodb::kPositionEOF);
  EXPECT_THROW(records->MoveNext(), adodb::ComError);
  records->Move(-5, Variant::I2(adodb::kBookmarkCurrent));
  EXPECT_TRUE(records->IsBOF());
  records->MoveLast();
  EXPECT_EQ(Current(records), 3);
}

TEST_F(AdoRecordset, ForwardOnlyCursorCannotCountOrGoBack) {
  auto records = Open(adodb::kForwardOnly);
  EXPECT_EQ(records->RecordCount(), -1);
  EXPECT_EQ(records->AbsolutePosition(), adodb::kPositionUnknown);
  records->MoveNext();
  EXPECT_EQ(Current(records), 2);
  EXPECT_THROW(records->MoveLast(), adodb::ComError);
  EXPECT_THROW(records->Move(-1, Variant::I2(adodb::kBookmarkCurrent)), adodb::ComError);
  EXPECT_THROW(records->Move(1, Variant::I2(adodb::kBookmarkFirst)), adodb::ComError);
  records->MoveFirst();
  EXPECT_EQ(Current(records), 1);
}

TEST_F(AdoRecordset, ADeletedRecordStaysCurrentUntilTheNextMove) {
  auto records = Open(adodb::kKeyset);
  records->MoveNext();
  records->Delete(adodb::kAffectCurrent);
  EXPECT_THROW(Current(records), adodb::ComError);
  EXPECT_FALSE(records->IsEOF());
  records->MoveNext();
  EXPECT_EQ(Current(records), 3);
  EXPECT_EQ(records->RecordCount(), 2);
  EXPECT_EQ(provider_.database->Rows("T").size(), 2u);
}

TEST_F(AdoRecordset, ClosedObjectsAndNullReferencesRaise) {
  auto records = adodb::CreateRecordset();
  adodb::Ref<adodb::Fields> fields;
  try {
    records->IsEOF();
    FAIL() << "a closed record set has no end";
  } catch (const adodb::ComError& error) {
    EXPECT_EQ(error.Code(), adodb::kClosed);
  }
  try {
    fields->Count();
    FAIL() << "a null reference has no collection";
  } catch (const adodb::ComError& error) {
    EXPECT_EQ(error.Code(), adodb::kPointer);
    EXPECT_EQ(error.ErrorMessage(), "Invalid pointer");
  }
  // A stale collection of an earlier open sees the record set closed.
  auto open = Open(adodb::kKeyset);
  auto stale = open->GetFields();
  open->Close();
  EXPECT_THROW(stale->Count(), adodb::ComError);
  // No objects at all on a thread that never started the library.
  adodb::Uninitialize();
  EXPECT_FALSE(adodb::CreateRecordset());
  adodb::Initialize();
}

}  // namespace
