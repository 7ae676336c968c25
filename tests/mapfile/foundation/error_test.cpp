// The error stack, message lookups and the fatal-error trap.
#include <cstring>
#include <string>

#include "mapfile/foundation/messages.h"
#include "tests/mapfile/foundation/foundation_fixture.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class ErrorStackTest : public FoundationTest {};

std::string Report(uint16_t restart, int16_t size = 1024) {
  std::string buffer(size_t(size), '\x7f');
  int16_t met = ErrorReport(restart, buffer.data(), size);
  return (met ? "+" : "-") + std::string(buffer.c_str());
}

TEST_F(ErrorStackTest, DuplicateCodesKeepOneRecordOutsideSyntaxCheck) {
  struct Case {
    uint8_t mode;
    uint16_t records;
  };
  for (Case c : {Case{0, 1}, Case{2, 1}, Case{1, 2}}) {
    ErrorClear();
    SetParseMode(c.mode);
    ErrorPush(3, 524, "a.tab", nullptr);
    ErrorPush(5, 524, "b.tab", nullptr);
    EXPECT_EQ(Stack().count, c.records) << "mode " << int(c.mode);
    EXPECT_EQ(ErrorCount(), c.records) << "mode " << int(c.mode);
    EXPECT_EQ(Stack().records[0].severity, c.records == 1 ? 5 : 3) << "mode " << int(c.mode);
  }
  // A lower severity leaves the stored one.
  SetParseMode(0);
  ErrorClear();
  ErrorPush(5, 524, nullptr, nullptr);
  ErrorPush(2, 524, nullptr, nullptr);
  EXPECT_EQ(Stack().records[0].severity, 5);
}

TEST_F(ErrorStackTest, ThirtyFirstPushOverflowsAndStoresNothingUntilCleared) {
  for (int i = 0; i < 30; ++i) ErrorPush(4, int16_t(1000 + i), "x", nullptr);
  EXPECT_EQ(Stack().overflow, 0);
  ErrorPush(4, 2000, "y", nullptr);
  ErrorPush(4, 2001, nullptr, nullptr);
  EXPECT_EQ(Stack().overflow, 1);
  EXPECT_EQ(Stack().count, 32);
  EXPECT_EQ(ErrorCount(), 30);
  EXPECT_FALSE(ErrorHasCode(2000));
  EXPECT_TRUE(ErrorHasCode(1029));
  ErrorClear();
  EXPECT_EQ(Stack().overflow, 0);
  ErrorPush(4, 2000, nullptr, nullptr);
  EXPECT_EQ(ErrorLastCode(), 2000);
}

TEST_F(ErrorStackTest, TextAreaFillsExactlyThenCutsWithItsNulInTheLastByte) {
  std::string exact(8999, 'a');
  ErrorPush(4, 1, exact.c_str(), nullptr);
  EXPECT_EQ(Stack().overflow, 0);
  EXPECT_EQ(Stack().records[0].arg0.length, 9000);
  ErrorPush(4, 2, "more", nullptr);  // no room: stored without text, overflow
  EXPECT_EQ(Stack().overflow, 1);
  EXPECT_EQ(Stack().records[1].arg0.length, 0);

  ErrorClear();
  std::string over(9000, 'b');
  ErrorPush(4, 1, over.c_str(), "second");
  EXPECT_EQ(Stack().overflow, 1);
  EXPECT_EQ(Stack().records[0].arg0.length, 9000);
  EXPECT_EQ(Stack().text[8998], 'b');
  EXPECT_EQ(Stack().text[8999], 0);
  EXPECT_EQ(Stack().records[0].arg1.length, 0);
  EXPECT_EQ(ErrorCount(), 1);
}

TEST_F(ErrorStackTest, RecordWithoutTextsDoesNotRestartTheTextArea) {
  ErrorPush(4, 1, "alpha", "beta");
  ErrorPush(4, 2, nullptr, nullptr);
  ErrorPush(4, 3, "gamma", nullptr);
  const ErrorStack& st = Stack();
  EXPECT_EQ(st.records[2].arg0.offset, 11);
  EXPECT_STREQ(st.text + st.records[0].arg0.offset, "alpha");
  EXPECT_STREQ(st.text + st.records[0].arg1.offset, "beta");
  EXPECT_STREQ(st.text + st.records[2].arg0.offset, "gamma");
}

TEST_F(ErrorStackTest, ReportHandsOutOneBatchPerCall) {
  SetParseMode(1);
  ErrorPush(4, 524, "a.tab", nullptr);
  ErrorPush(4, 525, "b.tab", nullptr);
  ErrorSeparate();
  ErrorSeparate();  // nothing pending: no second separator
  ErrorPush(4, 3707, "f", "t");
  EXPECT_EQ(Stack().count, 4);
  EXPECT_EQ(Report(1), "+Cannot access file %s for reading. Cannot access file %s for writing. ");
  EXPECT_EQ(Report(0), "+Unable to access index for field %s of table %s. ");
  EXPECT_EQ(Report(0), "-");
  EXPECT_EQ(Report(1), "+Cannot access file %s for reading. Cannot access file %s for writing. ");
}

TEST_F(ErrorStackTest, CodesWithoutTextReportEmptyEvenWhenTrapping) {
  TrapToggle(1);
  std::string text;
  int16_t result = RunGuarded(int16_t(0), [&]() -> int16_t {
    ErrorPush(4, 632, nullptr, nullptr);
    text = Report(1);
    return 1;
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(text, "+ ");
}

TEST_F(ErrorStackTest, ReportTooSmallEndsWithTheLostInformationNotice) {
  const std::string notice = "Too many errors.  Error information has been lost.";
  ErrorPush(4, 524, nullptr, nullptr);
  ErrorPush(4, 525, nullptr, nullptr);
  // The second record does not fit; the notice is written over the end.
  std::string text = Report(1, 60);
  EXPECT_EQ(text.size(), 1u + 59u);
  EXPECT_EQ(text.substr(text.size() - notice.size()), notice);
  EXPECT_EQ(text.substr(0, 10), "+Cannot ac");
  EXPECT_EQ(Stack().overflow, 1);
  // Room for the batch and the notice: appended.
  EXPECT_EQ(Report(1, 200),
            "+Cannot access file %s for reading. Cannot access file %s for writing. " + notice);
  // A buffer shorter than the notice gets as much of it as fits, nothing
  // before its start.
  char small[12];
  std::memset(small, 0x7f, sizeof small);
  EXPECT_EQ(ErrorReport(1, small + 1, 10), 1);
  EXPECT_EQ(small[0], 0x7f);
  EXPECT_STREQ(small + 1, notice.substr(0, 9).c_str());
  EXPECT_EQ(small[11], 0x7f);
}

TEST_F(ErrorStackTest, LastCodeIsTheFirstErrorOrTheNumberItCarries) {
  struct Case {
    int16_t code;
    const char* text;
    int32_t expected;
  };
  for (Case c : {Case{848, "1234", 1234}, Case{848, "x", 0}, Case{848, nullptr, 0},
                 Case{525, "1234", 525}}) {
    ErrorClear();
    EXPECT_EQ(ErrorLastCode(), 0);
    ErrorPush(4, c.code, c.text, nullptr);
    ErrorPush(4, 999, nullptr, nullptr);
    EXPECT_EQ(ErrorLastCode(), c.expected) << c.code << " " << (c.text ? c.text : "null");
  }
}

TEST_F(ErrorStackTest, MessageLookup) {
  struct Case {
    int32_t id;
    const char* text;
  };
  for (Case c : {Case{479, "Internal Error: %u"},
                 Case{973, "Program cannot run because required resource was not found.  "
                           "Executable file may be damaged."},
                 Case{3707, "Unable to access index for field %s of table %s."},
                 Case{6413, "degree"}, Case{6427, "sq degree"}, Case{7120, " "},
                 Case{6272, "CoordSys NonEarth Units \"%s\""}}) {
    EXPECT_STREQ(MsgGetText(c.id), c.text) << c.id;
  }
  // 3707 stands twice: the first row answers, and the rows stay in order.
  int rows3707 = 0;
  for (const MsgRow* r = kMessageTable; r->id; ++r) rows3707 += r->id == 3707;
  EXPECT_EQ(rows3707, 2);
  EXPECT_TRUE(MsgExists(3707));
  EXPECT_FALSE(MsgExists(479));
  EXPECT_FALSE(MsgExists(7050));
  // A missing id without trapping: the empty text, nothing pushed.
  EXPECT_STREQ(MsgGetText(12345), "");
  EXPECT_EQ(ErrorCount(), 0);
}

TEST_F(ErrorStackTest, MessageBuffersRotateThroughTen) {
  const char* first = MsgGetText(6020);
  for (int i = 0; i < 9; ++i) EXPECT_NE(MsgGetText(6021 + i), first);
  EXPECT_STREQ(first, "Point");
  const char* eleventh = MsgGetText(6000);
  EXPECT_EQ(eleventh, first);
  EXPECT_STREQ(first, "RAZEDODU");
}

TEST_F(ErrorStackTest, TrapToggleInvertsAndReads) {
  EXPECT_EQ(TrapToggle(0), 0);
  EXPECT_EQ(TrapToggle(1), 1);
  EXPECT_EQ(TrapToggle(0), 1);
  EXPECT_EQ(TrapToggle(1), 0);
  EXPECT_EQ(TrapToggle(7), 1);
  EXPECT_EQ(TrapToggle(7), 0);
}

TEST_F(ErrorStackTest, FatalWithoutTrappingReturnsAndChangesNothing) {
  ErrorPush(4, 524, nullptr, nullptr);
  int16_t result = RunGuarded(int16_t(0), [] { return int16_t(ErrorFatal("boom %d", 1) + 5); });
  EXPECT_EQ(result, 5);
  EXPECT_EQ(ErrorCount(), 0);  // the guard cleared the stack, nothing more
  // Trapping on but no guard armed: there is nowhere to unwind to.
  TrapToggle(1);
  EXPECT_EQ(ErrorFatal("boom"), 0);
}

TEST_F(ErrorStackTest, TrappedFatalErrorEndsTheEntryWith479) {
  TrapToggle(1);
  bool after = false;
  int32_t result = RunGuarded(int32_t(-7), [&]() -> int32_t {
    ErrorPush(4, 524, "a.tab", nullptr);
    MsgGetText(12345);
    after = true;
    return 1;
  });
  EXPECT_EQ(result, -7);
  EXPECT_FALSE(after);
  EXPECT_STREQ(FatalText(), "Unable to access string resource (12345)");
  EXPECT_EQ(ErrorLastCode(), 524);
  EXPECT_TRUE(ErrorHasCode(479));
  EXPECT_EQ(State().guardDepth, 0);
}

TEST_F(ErrorStackTest, ReportFatalUnwindsWithTheReportTakenLiterally) {
  TrapToggle(1);
  int16_t result = RunGuarded(int16_t(0), []() -> int16_t {
    ErrorPush(4, 524, "a.tab", nullptr);
    ErrorReportFatal();
    return 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(FatalText(), "Cannot access file %s for reading. ");
  EXPECT_EQ(ErrorLastCode(), 524);
  EXPECT_EQ(ErrorCount(), 2);

  // Trapping off: the caller goes on, and the records stay for it to read.
  TrapToggle(1);
  ErrorClear();
  ErrorPush(4, 524, "a.tab", nullptr);
  EXPECT_EQ(ErrorReportFatal(), 0);
  EXPECT_EQ(ErrorCount(), 1);
  EXPECT_EQ(ErrorLastCode(), 524);
}

TEST_F(ErrorStackTest, UnknownUnitNameDoesNotTrap) {
  TrapToggle(1);
  int code = -1;
  int16_t found = RunGuarded(int16_t(9), [&]() -> int16_t {
    return int16_t(UnitFromName("furlong", &code) + UnitFromName("", &code));
  });
  EXPECT_EQ(found, 0);
  EXPECT_EQ(code, -1);
  EXPECT_FALSE(ErrorHasCode(479));
}

TEST_F(ErrorStackTest, VersionFormat) {
  struct Case {
    int16_t version;
    const char* text;
  };
  for (Case c : {Case{605, "6.5"}, Case{650, "6.50"}, Case{1205, "12.5"}, Case{0, "0.0"}}) {
    char buffer[16];
    VersionFormat(buffer, c.version);
    EXPECT_STREQ(buffer, c.text) << c.version;
  }
}

TEST_F(ErrorStackTest, NoStackMeansNoRecords) {
  ErrorStackDestroy();
  ErrorPush(4, 524, "a", "b");
  ErrorClear();
  EXPECT_EQ(ErrorLastCode(), 0);
  EXPECT_EQ(ErrorCount(), 0);
  char buffer[8] = "x";
  EXPECT_EQ(ErrorReport(1, buffer, sizeof buffer), 0);
  ASSERT_TRUE(ErrorStackCreate());
}

}  // namespace
