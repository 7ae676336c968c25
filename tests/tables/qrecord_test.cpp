#include "tables/qrecord.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::Lines;

class RecordTest : public tablestest::TablesTest {};

std::string Text(CQmsVariant* value) {
  const char* text = *value;
  return text ? text : "(null)";
}

TEST_F(RecordTest, FieldsSurviveGrowth) {
  CQmsRecord record;
  for (int i = 0; i < 16; i++) {
    std::string name = "F" + std::to_string(i);
    EXPECT_EQ(record.Add(name.c_str(), QMS_VARIANT_INT, 4, 0), i);
    record.SetFieldByHandle(i, i * 10);
  }
  EXPECT_EQ(record.GetCount(), 16);
  EXPECT_EQ(record.GetRecordLength(), 64);
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(record.GetFieldHandle(("f" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(static_cast<int>(*record.GetFieldByHandle(i)), i * 10);
  }

  // The capacity grows by 5: six fields need room for ten, and a record that
  // once held six keeps that room (records compare their capacities).
  CQmsRecord five;
  CQmsRecord wasSix;
  for (int i = 0; i < 6; i++) {
    std::string name = "F" + std::to_string(i);
    if (i < 5) five.Add(name.c_str(), 4);
    wasSix.Add(name.c_str(), 4);
  }
  wasSix.Remove(5);
  EXPECT_EQ(wasSix.GetRecordLength(), five.GetRecordLength());
  EXPECT_FALSE(five.IsEqualValue(wasSix));
  five.Add("F5", 4);
  five.Remove(5);
  EXPECT_TRUE(five.IsEqualValue(wasSix));
}

TEST_F(RecordTest, AddGivesEachTypeItsZero) {
  CQmsRecord record;
  record.Add("TEXT", 10);
  record.Add("NUMBER", QMS_VARIANT_STRING, 10, 0);
  record.Add("AMOUNT", QMS_VARIANT_DOUBLE, 12, 2);
  record.Add("WHEN", QMS_VARIANT_DATE, "mm/dd/ccyy");
  record.Add("STAMP", QMS_VARIANT_DATETIME, "ccyymmddhh:mm:ss", 20);
  record.Add("NOTHING", QMS_VARIANT_EMPTY, 3, 0);
  EXPECT_EQ(Text(record.GetFieldByName("text")), "");
  EXPECT_EQ(Text(record.GetFieldByName("NUMBER")), "0");
  EXPECT_EQ(record.GetFieldByName("AMOUNT")->GetType(), QMS_VARIANT_DOUBLE);
  EXPECT_EQ(Text(record.GetFieldByName("WHEN")), "00000000");
  EXPECT_EQ(record.GetFieldWidthByName("WHEN"), 10);
  EXPECT_STREQ(record.GetDataPictureByName("WHEN"), "mm/dd/ccyy");
  EXPECT_EQ(Text(record.GetFieldByName("STAMP")), "0000000000:00:00");
  EXPECT_TRUE(record.GetFieldByName("NOTHING")->IsEmpty());
  EXPECT_EQ(record.GetFieldDecimalsByName("AMOUNT"), 2);
  EXPECT_EQ(record.GetFieldTrimmingByHandle(0), QMS_TRIM_BOTH);
  EXPECT_EQ(record.GetFieldNullableByHandle(0), 1);
  EXPECT_EQ(record.GetRecordLength(), 10 + 10 + 12 + 10 + 20 + 3);
}

TEST_F(RecordTest, AddRefusals) {
  CQmsRecord record;
  record.Add("NAME", 10);
  struct Case {
    const char* what;
    std::function<void()> add;
    long code;
  } cases[] = {
      {"same name, other case", [&] { record.Add("Name", 5); }, QMS_SEVERE_FIELD_EXISTS},
      {"empty name", [&] { record.Add("", 5); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"date by the typed form", [&] { record.Add("D", QMS_VARIANT_DATE, 8, 0); }, QMS_SEVERE_USE_OTHER_ADD},
      {"number by the picture form", [&] { record.Add("N", QMS_VARIANT_INT, "ccyymmdd"); }, QMS_SEVERE_USE_OTHER_ADD},
      {"empty picture", [&] { record.Add("D", QMS_VARIANT_DATE, ""); }, QMS_SEVERE_INVALID_ARGUMENT},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeOf(c.add), c.code) << c.what;
  EXPECT_EQ(record.GetCount(), 1);
  EXPECT_EQ(record.GetRecordLength(), 10);
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 22000086: Severe - Adding field that already exists.\n"
                            "*** class CQmsRecord::Add\n"),
            std::string::npos);

  // A type outside the kinds: the field stays, EMPTY and without its width.
  EXPECT_EQ(CodeOf([&] { record.Add("ODD", static_cast<QMS_VARIANT_TYPE>(20), 7, 0); }), QMS_SEVERE_INVALID_TYPE);
  EXPECT_EQ(record.GetCount(), 2);
  EXPECT_TRUE(record.GetFieldByName("ODD")->IsEmpty());
  EXPECT_EQ(record.GetRecordLength(), 10);
}

TEST_F(RecordTest, RemoveMovesLaterFieldsDown) {
  CQmsRecord record;
  record.Add("A", 3);
  record.Add("B", QMS_VARIANT_INT, 5, 0);
  record.SetFieldByName("B", 7);
  EXPECT_EQ(record.Remove(0), 1);
  EXPECT_EQ(record.GetFieldHandle("B"), 0);
  EXPECT_EQ(static_cast<int>(*record.GetFieldByHandle(0)), 7);
  EXPECT_EQ(record.GetRecordLength(), 5);
  EXPECT_EQ(CodeOf([&] { record.Remove(1); }), QMS_SEVERE_INVALID_ARGUMENT);
  EXPECT_NE(ErrorLog().find("*** class CQmsRecord::Remove\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("Invalid field handle\n"), std::string::npos);
}

TEST_F(RecordTest, LockRefusesAddAndClearOnly) {
  CQmsRecord record;
  record.Add("A", QMS_VARIANT_INT, 4, 0);
  record.Add("B", 4);
  record.Lock();
  EXPECT_EQ(CodeOf([&] { record.Clear(); }), QMS_SEVERE_RECORD_LOCKED);
  EXPECT_EQ(CodeOf([&] { record.Add("C", 4); }), QMS_SEVERE_RECORD_LOCKED);
  EXPECT_EQ(record.GetCount(), 2);
  EXPECT_NE(ErrorLog().find("Clear failed\n"), std::string::npos);
  record.ClearData();
  EXPECT_EQ(record.GetFieldByName("A")->GetType(), QMS_VARIANT_STRING);
  EXPECT_EQ(Text(record.GetFieldByName("A")), "");
  record.Remove(1);
  EXPECT_EQ(record.GetCount(), 1);
  record.Unlock();
  record.Clear();
  EXPECT_EQ(record.GetCount(), 0);
  EXPECT_EQ(record.GetRecordLength(), 0);
}

TEST_F(RecordTest, AttributeRanges) {
  CQmsRecord record;
  record.Add("TEXT", 3);
  record.Add("NUM", QMS_VARIANT_DOUBLE, 6, 2);
  struct Case {
    const char* what;
    std::function<void()> set;
    long code;  // 0: accepted
  } cases[] = {
      {"decimals 5 on a STRING by handle", [&] { record.SetFieldDecimalsByHandle(0, 5); }, 0},
      {"decimals 5 on a STRING by name", [&] { record.SetFieldDecimalsByName("TEXT", 5); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"decimals 6 on a width-6 number", [&] { record.SetFieldDecimalsByHandle(1, 6); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"decimals 5 on a width-6 number", [&] { record.SetFieldDecimalsByName("NUM", 5); }, 0},
      {"width 0 by handle", [&] { record.SetFieldWidthByHandle(0, 0); }, 0},
      {"width 0 by name", [&] { record.SetFieldWidthByName("TEXT", 0); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"width -1 by handle", [&] { record.SetFieldWidthByHandle(0, -1); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"type EMPTY", [&] { record.SetFieldTypeByHandle(0, QMS_VARIANT_EMPTY); }, QMS_SEVERE_INVALID_TYPE},
      {"type 13", [&] { record.SetFieldTypeByName("TEXT", QMS_VARIANT_TYPE(13)); }, QMS_SEVERE_INVALID_TYPE},
      {"trim 4", [&] { record.SetFieldTrimmingByHandle(0, QMS_FIELD_TRIM(4)); }, QMS_SEVERE_INVALID_TRIM},
      {"trim 2", [&] { record.SetFieldTrimmingByName("TEXT", QMS_TRIM_TRAILING); }, 0},
      {"unknown name", [&] { record.SetFieldFormatByName("NONE", "x"); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"unknown handle", [&] { record.GetFieldWidthByHandle(2); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"null key format", [&] { record.SetKeyFormat(nullptr); }, QMS_SEVERE_INVALID_ARGUMENT},
      {"key width 0", [&] { record.SetKeyWidth(0); }, QMS_SEVERE_INVALID_ARGUMENT},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeOf(c.set), c.code) << c.what;
  EXPECT_EQ(ErrorLog(), "");  // attribute setters raise without a report
  EXPECT_EQ(record.GetFieldDecimalsByHandle(0), 5);
  EXPECT_EQ(record.GetFieldWidthByHandle(0), 0);
  EXPECT_EQ(record.GetRecordLength(), 9);  // widths set later leave it
  EXPECT_EQ(record.GetFieldTrimmingByName("text"), QMS_TRIM_TRAILING);

  // A type set later converts the next value, not the current one.
  record.SetFieldTypeByHandle(0, QMS_VARIANT_INT);
  EXPECT_EQ(record.GetFieldByHandle(0)->GetType(), QMS_VARIANT_STRING);
  record.SetFieldByHandle(0, "41");
  EXPECT_EQ(record.GetFieldByHandle(0)->GetType(), QMS_VARIANT_INT);
}

TEST_F(RecordTest, SettersConvertToTheDeclaredType) {
  CQmsRecord record;
  record.Add("I", QMS_VARIANT_INT, 5, 0);
  record.Add("D", QMS_VARIANT_DOUBLE, 8, 2);
  record.Add("S", 10);
  record.Add("B", QMS_VARIANT_BOOLEAN, 1, 0);
  record.Add("DT", QMS_VARIANT_DATE, "ccyymmdd");
  record.Add("U", QMS_VARIANT_ULONG, 10, 0);
  struct Case {
    const char* what;
    std::function<void()> set;
    const char* field;
    const char* expected;  // the value as text
  } cases[] = {
      {"INT from 12abc", [&] { record.SetFieldByName("I", "12abc"); }, "I", "12"},
      {"INT from abc", [&] { record.SetFieldByName("I", "abc"); }, "I", "0"},
      {"INT from null text", [&] { record.SetFieldByName("I", static_cast<const char*>(nullptr)); }, "I", "0"},
      {"INT from 9.7", [&] { record.SetFieldByHandle(0, 9.7); }, "I", "9"},
      {"DOUBLE from 12.5", [&] { record.SetFieldByName("D", "12.5"); }, "D", "12.500000"},
      {"DOUBLE from a float", [&] { record.SetFieldByName("D", 0.25f); }, "D", "0.250000"},
      {"STRING from 42", [&] { record.SetFieldByName("S", 42); }, "S", "42"},
      {"STRING from a long", [&] { record.SetFieldByName("S", -3L); }, "S", "-3"},
      {"STRING from a char", [&] { record.SetFieldByName("S", 'q'); }, "S", "q"},
      {"STRING from a string object", [&] { record.SetFieldByName("S", CQmsStringPtr("obj")); }, "S", "obj"},
      {"BOOLEAN from yes", [&] { record.SetFieldByName("B", "yes"); }, "B", "1"},
      {"BOOLEAN from 0", [&] { record.SetFieldByName("B", 0); }, "B", "0"},
      {"DATE from 20110315", [&] { record.SetFieldByName("DT", "20110315"); }, "DT", "20110315"},
      {"ULONG from unsigned", [&] { record.SetFieldByName("U", 4000000000u); }, "U", "-294967296"},
      {"ULONG from a variant", [&] { record.SetFieldByName("U", CQmsVariant(7)); }, "U", "7"},
      {"INT from a value record", [&] {
         CQmsVariant source("31");
         record.SetFieldByHandle(0, static_cast<const _varstruct&>(source));
       }, "I", "31"},
  };
  for (const auto& c : cases) {
    c.set();
    EXPECT_EQ(Text(record.GetFieldByName(c.field)), c.expected) << c.what;
  }
  CQmsVariant copy;
  EXPECT_TRUE(record.FillFieldByName("S", copy));
  EXPECT_STREQ(static_cast<const char*>(copy), "obj");

  // A value that cannot become the declared type leaves the field EMPTY.
  EXPECT_EQ(CodeOf([&] { record.SetFieldByName("DT", 'x'); }), QMS_SEVERE_INVALID_TYPE);
  EXPECT_TRUE(record.GetFieldByName("DT")->IsEmpty());
  EXPECT_EQ(CodeOf([&] { record.SetFieldByName("NONE", 1); }), QMS_SEVERE_INVALID_ARGUMENT);
  EXPECT_EQ(CodeOf([&] { record.GetFieldByName("NONE"); }), QMS_SEVERE_INVALID_ARGUMENT);
  std::string log = ErrorLog();
  EXPECT_NE(log.find("*** class CQmsRecord::SetFieldByName\n"), std::string::npos);
  EXPECT_NE(log.find("*** class CQmsRecord::GetFieldByName\n"), std::string::npos);
  EXPECT_NE(log.find("Invalid field name\n"), std::string::npos);
}

TEST_F(RecordTest, NonAsciiTextFields) {
  CQmsRecord record;
  record.Add("NAME", 10);
  record.Add("CODE", QMS_VARIANT_INT, 5, 0);
  record.SetFieldByName("NAME", "Jos\xE9");
  int codeOnly[] = {1};
  int nameOnly[] = {0};
  EXPECT_TRUE(record.CheckNonAscii(0, nullptr));
  EXPECT_FALSE(record.CheckNonAscii(1, codeOnly));
  EXPECT_TRUE(record.CheckNonAscii(1, nameOnly));
  EXPECT_FALSE(record.CheckNonAscii(-1, nameOnly));
  int bad[] = {5};
  EXPECT_EQ(CodeOf([&] { record.CheckNonAscii(1, bad); }), QMS_SEVERE_INVALID_ARGUMENT);
  record.SetFieldByName("NAME", "Jose");
  EXPECT_FALSE(record.CheckNonAscii(0, nullptr));
}

TEST_F(RecordTest, AssignmentCopiesDefinitionsValuesAndLock) {
  CQmsRecord source;
  source.Add("NAME", 12);
  source.Add("COUNT", QMS_VARIANT_INT, 6, 0);
  source.Add("WHEN", QMS_VARIANT_DATE, "mm/dd/ccyy");
  source.SetFieldByName("NAME", "Durham");
  source.SetFieldByName("COUNT", 42);
  source.SetFieldByName("WHEN", "20110315");
  source.SetFieldFormatByName("NAME", "%s");
  source.SetFieldTrimmingByName("NAME", QMS_TRIM_LEADING);
  source.SetFieldNullableByName("COUNT", 0);
  source.SetKeyFormat("NAME");
  source.SetKeyWidth(12);
  source.Lock();

  CQmsRecord target;
  target.Add("OLD", 3);
  target = source;
  EXPECT_TRUE(target.IsEqualValue(source));
  EXPECT_EQ(target.GetLock(), 1);
  EXPECT_EQ(target.GetRecordLength(), source.GetRecordLength());
  EXPECT_EQ(target.GetFieldByName("COUNT")->GetType(), QMS_VARIANT_INT);
  EXPECT_EQ(Text(target.GetFieldByName("WHEN")), "20110315");
  EXPECT_EQ(target.GetFieldTrimmingByName("NAME"), QMS_TRIM_LEADING);
  EXPECT_EQ(target.GetFieldNullableByName("COUNT"), 0);
  EXPECT_STREQ(target.GetKeyFormat(), "NAME");

  // The copy is locked now: another assignment is refused.
  CQmsRecord other;
  EXPECT_EQ(CodeOf([&] { target = other; }), QMS_SEVERE_RECORD_LOCKED);
  EXPECT_NE(ErrorLog().find("*** class CQmsRecord::operator=\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("Assignment failed\n"), std::string::npos);

  // A definition-only copy: zero values, trim and nullable kept.
  CQmsRecord shape;
  shape.Add(source);
  EXPECT_EQ(shape.GetCount(), 3);
  EXPECT_EQ(Text(shape.GetFieldByName("COUNT")), "0");
  EXPECT_EQ(Text(shape.GetFieldByName("WHEN")), "00000000");
  EXPECT_EQ(shape.GetFieldTrimmingByName("NAME"), QMS_TRIM_LEADING);
  EXPECT_EQ(shape.GetFieldNullableByName("COUNT"), 0);
  EXPECT_FALSE(shape.IsEqualValue(source));
}

TEST_F(RecordTest, DumpWritesOneRowPerField) {
  CQmsRecord record;
  record.Add("NAME", 12);
  record.Add("COUNT", QMS_VARIANT_INT, 6, 0);
  record.Add("RATE", QMS_VARIANT_DOUBLE, 8, 2);
  record.Add("FLAG", QMS_VARIANT_CHAR, 1, 0);
  record.SetFieldByName("NAME", "Durham");
  record.SetFieldByName("COUNT", 42);
  record.SetFieldByName("FLAG", 'Y');
  record.OpenDump("rec.log");
  record.Dump(1);
  record.CloseDump();
  std::vector<std::string> lines = Lines(testsupport::ReadAll(dir_.File("rec.log")));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "CQmsRecord(s):");
  EXPECT_EQ(lines[1], "Record Length: 27");
  EXPECT_EQ(lines[2], "field name           field handle field type                    field value "
                      "    field expression  field width  field decimals");
  EXPECT_EQ(lines[3], "NAME                            0 QMS_VARIANT_STRING                 Durham"
                      "          12              0");
  EXPECT_EQ(lines[4], "COUNT                           1 QMS_VARIANT_INT                        42"
                      "           6              0");
  EXPECT_EQ(lines[5], "RATE                            2 QMS_VARIANT_DOUBLE               0.000000"
                      "           8              2");
  EXPECT_EQ(lines[6], "FLAG                            3 QMS_VARIANT_CHAR                        Y"
                      "           1              0");
  KeepAlive();
  EXPECT_EQ(CodeOf([&] { record.Dump(0); }), QMS_SEVERE_OPEN_FILE);  // closed
}

}  // namespace
