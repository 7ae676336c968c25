#include "tables/qobject.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "tables/qrecord.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;

class ObjectTest : public tablestest::TablesTest {};

TEST_F(ObjectTest, NumbersNamesAndClasses) {
  CQmsLongObject first;
  CQmsFloatObject second;
  EXPECT_EQ(second.GetObjectID(), first.GetObjectID() + 1);

  EXPECT_STREQ(first.GetClassName(), "class CQmsLongObject");
  std::string expected = "class CQmsLongObject: Object ID " + std::to_string(first.GetObjectID());
  EXPECT_EQ(first.GetName(), expected);
  first.SetName("");  // an emptied name is made again on the next read
  EXPECT_EQ(first.GetName(), expected);
  first.SetName("counter");
  EXPECT_STREQ(first.GetName(), "counter");

  CQmsRecord record;
  EXPECT_STREQ(record.GetClassName(), "class CQmsRecord");
  EXPECT_TRUE(record.IsA("CQms"));
  EXPECT_TRUE(record.IsA("Record"));
  EXPECT_TRUE(record.IsA(""));
  EXPECT_FALSE(record.IsA("Table"));
  EXPECT_FALSE(second.IsA("Long"));
}

TEST_F(ObjectTest, AssignmentCopiesIdentity) {
  CQmsLongObject a(5);
  CQmsLongObject b(9);
  a.SetName("a");
  b = a;
  EXPECT_EQ(b.GetObjectID(), a.GetObjectID());
  EXPECT_STREQ(b.GetName(), "a");
  EXPECT_EQ(b.GetValue(), 5u);
}

TEST_F(ObjectTest, BoxedNumbersCompareByValue) {
  CQmsFloatObject one(1.0f);
  CQmsFloatObject close(1.0005f);
  CQmsFloatObject apart(1.002f);
  CQmsFloatObject three(3.7f);
  CQmsLongObject small(1);
  CQmsLongObject large(3);
  CQmsLongObject same(3);
  CQmsLongObject wide(0x10002);

  EXPECT_TRUE(one.IsEqualValue(close));
  EXPECT_FALSE(one.IsEqualValue(apart));
  EXPECT_TRUE(one.IsEqualValue(one));
  EXPECT_TRUE(large.IsEqualValue(same));
  EXPECT_FALSE(large.IsEqualValue(small));
  EXPECT_FALSE(small.IsEqualValue(one));  // another class: no, and nothing logged

  EXPECT_EQ(small.CompareValue(large), 2);
  EXPECT_EQ(large.CompareValue(small), -2);
  EXPECT_EQ(small.CompareValue(wide), 1);  // low 16 bits only
  EXPECT_EQ(small.CompareValue(one), 0);
  EXPECT_EQ(one.CompareValue(close), 0);
  EXPECT_EQ(one.CompareValue(apart), 0);  // less than 1 apart
  EXPECT_EQ(one.CompareValue(three), 2);
  EXPECT_EQ(three.CompareValue(one), -2);
  EXPECT_EQ(ErrorLog(), "");
}

class Plain : public CQmsCollectable {};

TEST_F(ObjectTest, BaseCompareValueReportsAndAnswersZero) {
  Plain a;
  Plain b;
  EXPECT_EQ(a.CompareValue(b), 0);
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 22000000: Severe\n*** CQmsCollectable::CompareValue\n"),
            std::string::npos);
  EXPECT_NE(ErrorLog().find("This base class version of CompareValue should not be called.\n"), std::string::npos);
  EXPECT_TRUE(a.IsEqualValue(a));
  EXPECT_FALSE(a.IsEqualValue(b));
}

TEST_F(ObjectTest, NullNameIsFatal) {
  CQmsRecord record;
  EXPECT_EXIT(
      {
        std::cout.rdbuf(std::cerr.rdbuf());
        QmsLogStart();
        record.SetName(nullptr);
      },
      ::testing::ExitedWithCode(255), "CmpTerminateFunction\\(\\) was called by terminate\\(\\)\\.");
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 23000000: Fatal - bad pointer\n*** class CQmsRecord::SetName\n"),
            std::string::npos)
      << ErrorLog();

  KeepAlive();
  EXPECT_EQ(CodeOf([&] { record.SetName(nullptr); }), QMS_FATAL_BAD_POINTER);
}

}  // namespace
