#include "tables/qdate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;

class DateTest : public tablestest::TablesTest {};

TEST_F(DateTest, PartsOfADate) {
  CQmsDate date;
  date.Set("20110315", "ccyymmdd");
  EXPECT_STREQ(date.GetDateStr(), "20110315");
  EXPECT_EQ(date.GetYear(), 2011);
  EXPECT_EQ(date.GetMonth(), 3);
  EXPECT_EQ(date.GetDay(), 15);
  EXPECT_STREQ(date.GetMonthStr(), "March");
  EXPECT_STREQ(date.Format("mm/dd/ccyy"), "03/15/2011");
  EXPECT_STREQ(date.Format(""), "03/15/2011");
  EXPECT_STREQ(date.Format(static_cast<const char*>(nullptr)), "03/15/2011");
  EXPECT_STREQ(date.Format("MMM DD, CCYY"), "Mar 15, 2011");
  EXPECT_EQ(date.GetJulian(), 2455636);
  _qmsdate& data = date;
  EXPECT_STREQ(data.szDate, "20110315");

  char out[12];
  std::memset(out, '#', sizeof out);
  date.Format(out, "dd.mm.yy");
  EXPECT_EQ(std::string(out, sizeof out), "15.03.11####");  // not terminated
}

TEST_F(DateTest, PicturesAndRepairs) {
  struct Case {
    const char* text;
    const char* picture;
    const char* expected;  // the data text, or null when the text does not match
  } cases[] = {
      {"20110315", "ccyymmdd", "20110315"},
      {"3/15/2011", "mm/dd/ccyy", "20110315"},
      {"3/7/2011", "mm/dd/ccyy", "20110307"},
      {"3/7/2011", "MM/DD/CCYY", "20110307"},
      {"12/7/2011", "Mm/dD/cCyY", "20111207"},
      {"15.03.2011", "dd.mm.ccyy", "20110315"},
      {"7.3.2011", "DD.MM.CCYY", "20110307"},
      {"2011-3-7", "ccyy-mm-dd", "20110307"},
      {"3/15/11", "mm/dd/yy", "20110315"},   // repaired; the century from the clock
      {"03/15/11", "mm/dd/yy", "20110315"},  // same lengths: by position
      {"Mar 15, 2011", "mmm dd, ccyy", "20110315"},
      {"15.3.2011", "dd-mm-ccyy", nullptr},
      {"3/7/11", "mm/dd/ccyy", nullptr},
      {"3/7", "mm/dd/ccyy", nullptr},
      {"3/7/2011", "mmm/dd/ccyy", nullptr},
      {"3-7/2011", "mm/dd/ccyy", nullptr},
  };
  KeepAlive();
  for (const auto& c : cases) {
    CQmsDate date(2451545L);  // 20000101 before the Set
    long code = CodeOf([&] { date.Set(c.text, c.picture); });
    if (c.expected == nullptr) {
      EXPECT_EQ(code, QMS_SEVERE_DATE_MISMATCH) << c.text << " by " << c.picture;
      EXPECT_STREQ(date.GetDateStr(), "20000101") << c.text << ": a failed Set keeps the date";
    } else {
      EXPECT_EQ(code, 0) << c.text << " by " << c.picture;
      EXPECT_STREQ(date.GetDateStr(), c.expected) << c.text << " by " << c.picture;
    }
  }
}

TEST_F(DateTest, MismatchIsLoggedWithTheTexts) {
  KeepAlive();
  CQmsDate date;
  EXPECT_EQ(CodeOf([&] { date.Set("3/7/11", "mm/dd/ccyy"); }), QMS_SEVERE_DATE_MISMATCH);
  std::string log = ErrorLog();
  EXPECT_NE(log.find("*** Failure:  *** 22000130: Severe - The date field does not match the date format\n"
                     "*** class CQmsDate::Set\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("3/7/11 does not match mm/dd/ccyy\n"), std::string::npos);
  EXPECT_NE(log.find("Set failed\n"), std::string::npos);

  EXPECT_EQ(CodeOf([&] { date.Set("", "mm/dd/ccyy"); }), QMS_SEVERE_INVALID_ARGUMENT);
  EXPECT_EQ(CodeOf([&] { date.Set("3/7/2011", ""); }), QMS_SEVERE_INVALID_ARGUMENT);
}

TEST_F(DateTest, CenturyComesFromTheClock) {
  clock_.now = 4102444800;  // 2100-01-01
  CQmsDate date;
  date.Set("03/15/11", "mm/dd/yy");
  EXPECT_STREQ(date.GetDateStr(), "21110315");
}

TEST_F(DateTest, JulianNumbersAndNoDate) {
  CQmsDate none;
  EXPECT_EQ(none.GetJulian(), 0);
  EXPECT_STREQ(none.GetDateStr(), "        ");
  EXPECT_EQ(none.GetYear(), 0);
  EXPECT_STREQ(none.GetMonthStr(), "");

  CQmsDate date;
  date.Set(2451545L);
  EXPECT_STREQ(date.GetDateStr(), "20000101");
  date.Set(0L);
  EXPECT_STREQ(date.GetDateStr(), "        ");
  date.Set("2011AB15");
  EXPECT_EQ(date.GetJulian(), -1);
  date.Set("2011");  // a short data text: the rest blank
  EXPECT_STREQ(date.GetDateStr(), "2011    ");
  CQmsDate parsed("15/03/2011", "dd/mm/ccyy");
  EXPECT_STREQ(parsed.GetDateStr(), "20110315");
  CQmsDate byData(parsed);
  EXPECT_STREQ(byData.GetDateStr(), "20110315");
}

TEST_F(DateTest, AssignmentGivesItsOwnDate) {
  CQmsDate a("20110315");
  CQmsDate b;
  b = a;
  a.Set("19991231");
  EXPECT_STREQ(b.GetDateStr(), "20110315");
  EXPECT_STREQ(a.GetDateStr(), "19991231");
}

TEST_F(DateTest, PictureIsCutTo80) {
  CQmsDate date("20110315");
  std::string picture(100, '-');
  picture.replace(0, 4, "ccyy");
  EXPECT_EQ(std::string(date.Format(picture.c_str())), "2011" + std::string(76, '-'));
}

}  // namespace
