// Day numbers, the yyyymmdd form, the two-digit-year rule and the date
// parsers; 100,000 random dates checked against Python's datetime.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation_fixture.h"
#include "mapfile/foundation/date.h"

namespace mapfiletest {
namespace {

using namespace layerio;

class DateTest : public FoundationTest {};

DateRec D(int y, int m, int d) { return DateRec{int16_t(y), uint8_t(m), uint8_t(d)}; }
int32_t N(const DateRec& d) { return DateToNumber(&d); }

TEST_F(DateTest, DayNumbersAtTheEdges) {
  DateRec d = D(0, 3, 1);
  EXPECT_EQ(DateToDayNumber(&d), 0);
  DateRec a = D(2000, 2, 29), b = D(2000, 3, 1);
  EXPECT_EQ(DateToDayNumber(&b) - DateToDayNumber(&a), 1);
  DateRec empty = D(2000, 0, 1), negative = D(-1, 5, 5), beforeOrigin = D(0, 2, 1);
  EXPECT_EQ(DateToDayNumber(&empty), -1);
  EXPECT_EQ(DateToDayNumber(&negative), -1);
  EXPECT_EQ(DateToDayNumber(&beforeOrigin), -1);
  DateRec out;
  EXPECT_FALSE(DateFromDayNumber(0, &out));
  EXPECT_TRUE(ErrorHasCode(854));
  EXPECT_EQ(N(out), 0);
  // the last day of a 400-year cycle is 29 February
  ASSERT_TRUE(DateFromDayNumber(146096, &out));
  EXPECT_EQ(N(out), 4000229);
}

TEST_F(DateTest, AddDaysAndNumbers) {
  DateRec d = D(2024, 2, 28);
  ASSERT_TRUE(DateAddDays(1, &d));
  EXPECT_EQ(N(d), 20240229);
  d = D(1999, 12, 31);
  ASSERT_TRUE(DateAddDays(1, &d));
  EXPECT_EQ(N(d), 20000101);
  d = D(2000, 1, 1);
  ASSERT_TRUE(DateAddDays(-365, &d));
  EXPECT_EQ(N(d), 19990101);
  DateRec out;
  EXPECT_FALSE(DateFromNumber(21000229, &out));
  EXPECT_TRUE(ErrorHasCode(854));
  ErrorClear();
  EXPECT_TRUE(DateFromNumber(0, &out));
  EXPECT_EQ(out.month, 0);
  for (int32_t bad : {20241301, 20240431, 20240100, -20240101}) {
    EXPECT_FALSE(DateFromNumber(bad, &out)) << bad;
  }
  EXPECT_EQ(DaysInMonth(14, 1), 29);  // brought into 1..12 first
  EXPECT_EQ(DaysInMonth(2, 0), 28);
}

TEST_F(DateTest, CompareEmptyAndSet) {
  DateRec empty = D(0, 0, 0), a = D(2020, 5, 6), b = D(2020, 6, 1);
  EXPECT_EQ(DateCompare(&empty, &empty), 0);
  EXPECT_EQ(DateCompare(&empty, &a), -2);
  EXPECT_EQ(DateCompare(&a, &empty), -2);
  EXPECT_EQ(DateCompare(&a, &b), -1);
  EXPECT_EQ(DateCompare(&b, &a), 1);
  EXPECT_EQ(DateCompare(&a, &a), 0);
}

// Python's proleptic Gregorian ordinal counts 1 January of year 1 as day 1;
// ours counts from 1 March of year 0, 305 days earlier.
TEST_F(DateTest, RandomDatesAgreeWithPython) {
  const char* script =
      "import random, datetime\n"
      "r = random.Random(28)\n"
      "lo = datetime.date(1, 1, 1).toordinal(); hi = datetime.date(9999, 12, 31).toordinal()\n"
      "def row(o):\n"
      "    d = datetime.date.fromordinal(o)\n"
      "    return '%d %d' % (o, d.year * 10000 + d.month * 100 + d.day)\n"
      "print('\\n'.join(row(o) "
      "for o in (r.randint(lo, hi) for _ in range(100000))))\n";
  // Write the script to a temporary file so that no quoting gets in the way.
  char path[] = "/tmp/datetestXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FILE* f = fdopen(fd, "w");
  std::fputs(script, f);
  std::fclose(f);
  std::string run = std::string("/usr/bin/python3 ") + path;
  FILE* pipe = popen(run.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  long ordinal = 0;
  char ymd[16];
  int rows = 0, bad = 0;
  while (std::fscanf(pipe, "%ld %15s", &ordinal, ymd) == 2) {
    ++rows;
    int32_t number = std::atoi(ymd);
    DateRec out;
    if (!DateFromDayNumber(int32_t(ordinal + 305), &out) || N(out) != number) ++bad;
    DateRec in;
    if (!DateFromNumber(number, &in) || DateToDayNumber(&in) != ordinal + 305) ++bad;
    if (bad == 1) {
      ADD_FAILURE() << "ordinal " << ordinal << " date " << ymd;
      ++bad;
    }
  }
  pclose(pipe);
  std::remove(path);
  EXPECT_EQ(rows, 100000);
  EXPECT_EQ(bad, 0);
}

TEST_F(DateTest, FixYearAndPivot) {
  DateRec today;
  DateToday(&today);
  int32_t y = 7;
  DateFixYear(&y);
  EXPECT_EQ(y, today.year / 100 * 100 + 7);
  Session session{0, 50, 0};
  SetCurrentSession(&session);
  y = 99;
  DateFixYear(&y);
  EXPECT_EQ(y, 1999);
  y = 49;
  DateFixYear(&y);
  EXPECT_EQ(y, 2049);
  y = 150;
  DateFixYear(&y);
  EXPECT_EQ(y, 150);
  y = 10000;
  DateFixYear(&y);
  EXPECT_EQ(y, 0);
  y = -3;
  DateFixYear(&y);
  EXPECT_EQ(y, 0);
}

struct ParseCase {
  const char* text;
  int order;
  char separator;
  int32_t expected;  // 0: fails
};

TEST_F(DateTest, ParseInLocaleOrder) {
  Session session{0, 50, 0};
  SetCurrentSession(&session);
  const ParseCase cases[] = {
      {"5/6/07", 0, '/', 20070506},
      {"5/6/99", 0, '/', 19990506},
      {"2/30/2024", 0, '/', 0},
      {"13/1/2024", 0, '/', 0},
      {"5.6.2024", 1, '.', 20240605},
      {"5 .6 .2024 ", 1, '.', 20240605},
      {"2024-06-05", 2, '-', 20240605},
      {"2024-05-06", 5, '-', 20240605},
      {"20240605", 1, '.', 20240605},   // eight digits read as yyyymmdd
      {"2024065", 0, '/', 0},           // seven digits are not
      {"202406051", 0, '/', 0},
      {"20241305", 1, '.', 0},          // not a valid yyyymmdd, nor a dotted date
      {"5/6/2024x", 0, '/', 0},
      {"5/6/0", 0, '/', 20000506},
      {"5//2024", 0, '/', 0},
      {"", 0, '/', 0},
      {"5/6/2024", 3, '/', 0},
  };
  for (const ParseCase& c : cases) {
    State().dateOrder = int16_t(c.order);
    State().dateSeparator = c.separator;
    DateRec out = D(1, 1, 1);
    int16_t ok = DateParse(c.text, &out);
    EXPECT_EQ(ok != 0, c.expected != 0) << c.text;
    EXPECT_EQ(N(out), c.expected) << c.text;
  }
  EXPECT_EQ(ErrorCount(), 0);  // the parsers report nothing
}

TEST_F(DateTest, TwoPartsTakeThisYear) {
  DateRec today, out;
  DateToday(&today);
  State().dateOrder = 1;
  State().dateSeparator = '.';
  ASSERT_TRUE(DateParse("5.6", &out));
  EXPECT_EQ(N(out), today.year * 10000 + 605);
}

TEST_F(DateTest, MonthFirstSwitch) {
  Session session{1, 50, 0};
  SetCurrentSession(&session);
  State().dateOrder = 1;
  State().dateSeparator = '.';
  const ParseCase cases[] = {
      {"5/6/07", 0, 0, 20070506}, {"5-6-2024", 0, 0, 20240506}, {"5 /6/2024 ", 0, 0, 20240506},
      {"5/6-2024", 0, 0, 0},      {"13/6/2024", 0, 0, 0},       {"2/30/2024", 0, 0, 0},
      {"5.6.2024", 0, 0, 0},      {"20240506", 0, 0, 20240506},
  };
  for (const ParseCase& c : cases) {
    DateRec out;
    EXPECT_EQ(N((DateParse(c.text, &out), out)), c.expected) << c.text;
  }
  DateRec today, out;
  DateToday(&today);
  ASSERT_TRUE(DateParseUS("12/25", &out));
  EXPECT_EQ(N(out), today.year * 10000 + 1225);
}

TEST_F(DateTest, Mode) {
  EXPECT_TRUE(DateSetMode(2));
  EXPECT_EQ(DateGetMode(), 2);
  DateSetMode(7);
  EXPECT_EQ(DateGetMode(), 1);
}

}  // namespace
}  // namespace mapfiletest
