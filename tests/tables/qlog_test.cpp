#include "tables/qlog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <regex>
#include <string>

#include "tables/qcolindx.h"
#include "tables/qdump.h"
#include "tables/qenum.h"
#include "tables/qrecord.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::Count;
using tablestest::Lines;

class LogTest : public tablestest::TablesTest {};

constexpr const char* kSevereBanner = "************************ SEVERE ERROR ***********************";
constexpr const char* kTerminateLine = "CmpTerminateFunction\\(\\) was called by terminate\\(\\)\\.";

TEST_F(LogTest, ErrorEntryIsSixLinesInEveryErrorDestination) {
  CQmsIndexedCollection collection;
  EXPECT_EQ(CodeOf([&] { collection.GetAtIndex(0); }), QMS_SEVERE_OUT_OF_BOUNDS);

  std::vector<std::string> lines = Lines(ErrorLog());
  ASSERT_EQ(lines.size(), 6u) << ErrorLog();
  EXPECT_EQ(lines[0], kSevereBanner);
  EXPECT_EQ(lines[1], "*** Failure:  *** 22000011: Severe - out of bounds");
  EXPECT_EQ(lines[2], "*** CQmsIndexedCollection::GetAtIndex");
  EXPECT_EQ(lines[3], "*** File:  tables/qcolindx.cpp");
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("\\*\\*\\* Line [0-9]+"))) << lines[4];
  EXPECT_EQ(lines[5], "GetAtIndex failed");
  EXPECT_EQ(Errors(), ErrorLog());
  EXPECT_EQ(TraceLog(), "");
}

TEST_F(LogTest, EntriesFollowTheCodeOutwardOncePerMethod) {
  CQmsIndexedCollection collection;
  CQmsIndexedEnum cursor(collection);
  EXPECT_EQ(CodeOf([&] { cursor.This(); }), QMS_SEVERE_OUT_OF_BOUNDS);
  std::string log = ErrorLog();
  size_t inner = log.find("*** CQmsIndexedCollection::GetAtIndex\n");
  size_t outer = log.find("*** CQmsIndexedEnum::rThis\n");
  ASSERT_NE(inner, std::string::npos);
  ASSERT_NE(outer, std::string::npos);
  EXPECT_LT(inner, outer);
  EXPECT_EQ(Count(log, kSevereBanner), 2);
  EXPECT_NE(log.find("rThis failed\n"), std::string::npos);
}

TEST_F(LogTest, HeadersByLevelAndKind) {
  struct Case {
    long code;
    const char* banner;
    const char* line;
  } cases[] = {
      {10000003, "************************ INFORMATIVE ************************",
       "*** Success:  *** 10000003: Informative - end of file"},
      {11000027, "************************** WARNING **************************",
       "*** Success:  *** 11000027: Warning - A field was not added."},
      {21000019, "************************** WARNING **************************",
       "*** Failure:  *** 21000019: Severe - Function not implemented!"},
      {22000001, kSevereBanner, "*** Failure:  *** 22000001: There is no message defined for this error"},
      {22000138, kSevereBanner,
       "*** Failure:  *** 22000138: Severe - Log on failed.  Check server connection parameters."},
      {23000002, "************************* FATAL ERROR ***********************",
       "*** Failure:  *** 23000002: Fatal - destructor failed"},
      {-5, "*************************** ERROR ***************************",
       "*** Error:    *** -5: There is no message defined for this error"},
      {44000000, "*************************** ERROR ***************************",
       "*** Error:    *** 44000000: There is no message defined for this error"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    Log().Clear();
    Log().AddErrorOstream(out);
    Log().PutErrorData(c.code, "%s", "text");
    EXPECT_EQ(out.str(), std::string(c.banner) + "\n" + c.line + "\ntext\n") << c.code;
  }
  EXPECT_STREQ(Log().LookUpErrorMessage(22000039), "Severe - table move to new current record failed. ");
}

TEST_F(LogTest, LevelsDecideWhatIsWrittenAndWhatEnds) {
  // A warning is written and the caller goes on; an informative code is not written.
  Log().HandleError(11000009, "Cls", "Method", "file.cpp", 7, "warned");
  EXPECT_NE(ErrorLog().find("Warning - Existing format file will be overwritten"), std::string::npos);
  EXPECT_NE(ErrorLog().find("*** Cls::Method\n*** File:  file.cpp\n*** Line 7\nwarned\n"), std::string::npos);
  Log().HandleError(10000002, "Cls", "Method", "file.cpp", 7, "quiet");
  EXPECT_EQ(ErrorLog().find("quiet"), std::string::npos);

  // Report level 999 silences HandleError and the code-taking PutErrorMessage,
  // but not the code-taking PutErrorData.
  Log().SetErrorReportLevel(QMS_ERROR_NEVER);
  Log().HandleError(22000008, "Cls", "Method", "file.cpp", 7, "silenced");
  Log().PutErrorMessage(22000008, "silenced too");
  Log().PutErrorMessage(22000008, "Cls", "Method", "file.cpp", 7, "silenced three");
  Log().PutErrorData(22000008, "%s", "still written");
  Log().PutErrorData(22000008, "Cls", "Method", "file.cpp", 7, "%s", "written as well");
  EXPECT_EQ(ErrorLog().find("silenced"), std::string::npos);
  EXPECT_NE(ErrorLog().find("still written\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("*** Line 7\nwritten as well\n\n"), std::string::npos);

  // Fatality level 999 lets a fatal code travel up as an ordinary failure.
  Log().SetErrorReportLevel(QMS_ERROR_WARNING);
  Log().SetErrorFatalityLevel(QMS_ERROR_NEVER);
  Log().HandleError(23000000, "Cls", "Method", "file.cpp", 7, "survived");
  EXPECT_NE(ErrorLog().find("Fatal - bad pointer"), std::string::npos);
}

TEST_F(LogTest, LevelSettersRefuseUnknownLevels) {
  Log().SetErrorFatalityLevel(static_cast<QMS_ERROR_LEVEL>(4));
  Log().SetErrorReportLevel(static_cast<QMS_ERROR_LEVEL>(-1));
  EXPECT_EQ(Log().GetErrorFatalityLevel(), QMS_ERROR_FATAL);
  EXPECT_EQ(Log().GetErrorReportLevel(), QMS_ERROR_WARNING);
  std::string log = ErrorLog();
  EXPECT_NE(log.find(std::string(kSevereBanner) +
                     "\n*** Failure:  *** 22000011: Severe - out of bounds\n"
                     "SetErrorFatalityLevel failed to set a level of 4.\n\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("SetErrorReportLevel failed to set a level of -1.\n"), std::string::npos);
  Log().SetErrorReportLevel(QMS_ERROR_SEVERE);
  EXPECT_EQ(Log().GetErrorReportLevel(), QMS_ERROR_SEVERE);
}

TEST_F(LogTest, FatalCodeEndsAStartedProgramThroughTheTerminateHandler) {
  EXPECT_EXIT(
      {
        std::cout.rdbuf(std::cerr.rdbuf());  // the terminate line, where the death test can see it
        QmsLogStart();
        Log().HandleError(23000001, "Cls", "Method", "file.cpp", 9, "dead");
      },
      ::testing::ExitedWithCode(255), kTerminateLine);
  // The entry was on disk before the end.
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 23000001: Fatal - dead (unallocated) object\n*** Cls::Method\n"),
            std::string::npos);
}

QMS_ERROR_ACTION HandledAction(_QMS_ERROR_INFO*) { return QMS_ERROR_ACTION_HANDLED; }
QMS_ERROR_ACTION TerminateAction(_QMS_ERROR_INFO*) { return QMS_ERROR_ACTION_TERMINATE; }
_QMS_ERROR_INFO g_seen;
QMS_ERROR_ACTION RecordingAction(_QMS_ERROR_INFO* info) {
  g_seen = *info;
  return QMS_ERROR_ACTION_CONTINUE;
}

TEST_F(LogTest, ApplicationHandlerSeesErrorsFirst) {
  Log().SetAppErrorHandler(HandledAction);
  Log().HandleError(23000000, "Cls", "Method", "file.cpp", 1, "handled");
  EXPECT_EQ(ErrorLog(), "");  // alive, and nothing written

  Log().SetAppErrorHandler(RecordingAction);
  std::string longClass(300, 'c');
  std::string longText(2000, 't');
  Log().HandleError(22000008, longClass.c_str(), "QmpOpen", "file.cpp", 12, longText.c_str());
  EXPECT_EQ(g_seen.lErrorCode, 22000008);
  EXPECT_EQ(std::string(g_seen.szClassName), std::string(255, 'c'));
  EXPECT_STREQ(g_seen.szMethodName, "QmpOpen");
  EXPECT_EQ(g_seen.bQmpMethod, 1);
  EXPECT_EQ(g_seen.lLineNumber, 12);
  EXPECT_STREQ(g_seen.szFileName, "file.cpp");
  EXPECT_EQ(std::strlen(g_seen.szErrorText), 1279u);
  EXPECT_NE(ErrorLog().find("*** Failure:  *** 22000008"), std::string::npos);

  Log().SetAppErrorHandler(TerminateAction);
  EXPECT_EXIT(
      {
        std::cout.rdbuf(std::cerr.rdbuf());
        QmsLogStart();
        Log().HandleError(11000011, "Cls", "Method", "file.cpp", 1, "warning that ends");
      },
      ::testing::ExitedWithCode(255), kTerminateLine);
}

TEST_F(LogTest, DestinationsComeAndGo) {
  // Without its file, entries reach the stream only.
  Log().RemoveErrorFilename("Error.log");
  Log().PutErrorMessage(22000008, "to the stream");
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_NE(Errors().find("to the stream"), std::string::npos);

  // With every error bit cleared, entries go to the standard error stream
  // after a line that says so; the trace destinations stay.
  Log().AddErrorFilename("Error.log", 0);
  Log().ClearError();
  testing::internal::CaptureStderr();
  Log().PutErrorMessage("lost entry\n");
  std::string stderrText = testing::internal::GetCapturedStderr();
  EXPECT_EQ(stderrText,
            "*** ERROR *** CQmsLog::Put There are no log destinations of type 1!\nlost entry\n\n");
  EXPECT_EQ(ErrorLog(), "");

  // A file destination that holds both bits keeps the other when one is removed.
  Log().AddErrorFilename("both.log", 1);
  Log().AddTraceFilename("both.log", 0);
  Log().RemoveTraceFilename("both.log");
  Log().PutErrorMessage("error\n");
  Log().PutTraceMessage("trace\n");
  EXPECT_EQ(testsupport::ReadAll(dir_.File("both.log")), "error\n");
}

// Only a program's start touches the log files: building a log (or linking
// the library) leaves them alone, and a log not started lets a fatal code
// travel up.
TEST_F(LogTest, StartingALogStartsItsFilesAfresh) {
  dir_.Write("Error.log", "old run\n");
  dir_.Write("Trace.log", "old trace\n");
  {
    testing::internal::CaptureStderr();
    CQmsLog fresh;
    fresh.PutErrorMessage(22000008, "not started");
    fresh.HandleError(23000001, "Cls", "Method", "file.cpp", 9, "survived");
    EXPECT_FALSE(fresh.EndsProgramOnFatal());
    EXPECT_EQ(ErrorLog(), "old run\n");
    EXPECT_EQ(TraceLog(), "old trace\n");
    fresh.Start();
    EXPECT_TRUE(fresh.EndsProgramOnFatal());
    fresh.PutErrorMessage(22000008, "new run");
    testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(ErrorLog().find("old run"), std::string::npos);
  EXPECT_NE(ErrorLog().find("new run"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Trace.log")));
}

TEST_F(LogTest, TraceEntriesAreIndentedByNesting) {
  Log().PutTraceEnter(1, "Cls", "Quiet", "f.cpp", 1);  // report level 0: nothing
  EXPECT_EQ(TraceLog(), "");
  EXPECT_EQ(Log().GetTraceIndentation(), 0);

  Log().SetTraceReportLevel(2);
  Log().PutTraceEnter(2, "Cls", "Method", "f.cpp", 5);
  Log().PutTraceEnter(3, "Cls", "TooDeep", "f.cpp", 6);  // above the report level
  Log().PutTraceLeave(2, "Cls", "Method", "f.cpp", 8);
  EXPECT_EQ(Log().GetTraceIndentation(), 0);
  EXPECT_EQ(TraceLog(),
            "   ********** >>>>>> Trace enter >>>>>> **********\n"
            "   *** Cls::Method\n   *** File:  f.cpp\n   *** Line 5\n\n"
            "   ********** <<<<<< Trace leave <<<<<< **********\n"
            "   *** Cls::Method\n   *** File:  f.cpp\n   *** Line 8\n\n");
  EXPECT_EQ(Traces(), TraceLog());

  // The indentation stops at 99 and a leave takes one increment off.
  Log().SetTraceIndentIncrement(9);
  Log().SetTraceIndentIncrement(-4);  // ignored
  EXPECT_EQ(Log().GetTraceIndentIncrement(), 9);
  for (int i = 0; i < 11; i++) Log().PutTraceEnter(1, "Cls", "Nested", "f.cpp", 1);
  EXPECT_EQ(Log().GetTraceIndentation(), 99);
  Log().PutTraceEnter(1, "Cls", "Deepest", "f.cpp", 1);
  EXPECT_EQ(Log().GetTraceIndentation(), 99);
  Log().PutTraceLeave(1, "Cls", "Deepest", "f.cpp", 1);
  EXPECT_EQ(Log().GetTraceIndentation(), 90);
  std::vector<std::string> lines = Lines(TraceLog());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], std::string(99, ' ') + "*** Line 1");  // the leave, before its blank line
}

TEST_F(LogTest, LibraryMethodsTraceWhenAsked) {
  Log().SetTraceReportLevel(2);
  CQmsRecord record;
  record.Add("NAME", 10);
  std::string trace = TraceLog();
  EXPECT_EQ(Count(trace, "*** class CQmsRecord::Add\n"), 2) << trace;
  EXPECT_NE(trace.find("*** File:  tables/qrecord.cpp\n"), std::string::npos);
  Log().SetTraceActive(0);
  record.Add("CITY", 10);
  EXPECT_EQ(TraceLog(), trace);
}

TEST_F(LogTest, FileHelperFallsBackToStandardError) {
  PutFileMessage(dir_.File("a.txt").c_str(), "one ");
  PutFileData(dir_.File("a.txt").c_str(), "%s %d", "two", 2);
  EXPECT_EQ(testsupport::ReadAll(dir_.File("a.txt")), "one two 2");

  testing::internal::CaptureStderr();
  PutFileMessage(dir_.File("missing/a.txt").c_str(), "kept");
  std::string stderrText = testing::internal::GetCapturedStderr();
  EXPECT_NE(stderrText.find("*** ERROR *** ::PutFileMessage failed to open file \""), std::string::npos);
  EXPECT_NE(stderrText.find("kept\n"), std::string::npos);
}

TEST_F(LogTest, FormattedTextsAreCut) {
  std::string wide(3000, 'w');
  Log().PutErrorData("%s", wide.c_str());
  EXPECT_EQ(ErrorLog(), std::string(1023, 'w'));
}

class Dumpable : public CQmsDump {
 public:
  void Dump(unsigned char) override { PutDumpData("%s %d\n", "state", 7); }
};

TEST_F(LogTest, DumpNeedsAnOpenFile) {
  KeepAlive();
  Dumpable dump;
  EXPECT_EQ(CodeOf([&] { dump.CloseDump(); }), QMS_SEVERE_CLOSE_FILE);
  EXPECT_EQ(CodeOf([&] { dump.PutDumpMessage("x"); }), QMS_SEVERE_OPEN_FILE);
  EXPECT_NE(ErrorLog().find("*** CQmsDump::CloseDump\n"), std::string::npos);
  EXPECT_NE(ErrorLog().find("PutDumpMessage failed\n"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { dump.OpenDump(dir_.File("no/such/dir.log").c_str()); }), QMS_SEVERE_OPEN_FILE);
  EXPECT_EQ(CodeOf([&] { dump.OpenDump(nullptr); }), QMS_FATAL_BAD_POINTER);

  dump.OpenDump("dump.log");
  dump.Dump(1);
  dump.CloseDump();
  dump.OpenDump("dump.log");
  dump.Dump(0);
  dump.CloseDump();
  EXPECT_STREQ(dump.GetDumpFileName(), "dump.log");
  EXPECT_EQ(testsupport::ReadAll(dir_.File("dump.log")), "state 7\nstate 7\n");
}

TEST_F(LogTest, VersionText) {
  CQmsStringPtr text;
  int major = 0, minor = 0, revision = 9;
  QmsGlobal().FillVersion(text, major, minor, revision);
  EXPECT_STREQ(text, "Ledgerkit version 1.1.0");
  EXPECT_EQ(major * 100 + minor * 10 + revision, 110);
}

}  // namespace
