// Every table-library test runs in a folder of its own (the log writes
// "Error.log" and "Trace.log" in the working folder) with the global log
// reset to its defaults, its streams caught, and a clock that stands still.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/env.h"
#include "tables/qtable.h"
#include "tables/qlog.h"
#include "tests/support/temp_dir.h"

namespace tablestest {

// 2026-03-05 12:00:00 UTC, local time = UTC.
constexpr int64_t kFixedNow = 1772712000;

class FixedClock : public platform::EnvWrapper {
 public:
  FixedClock() : platform::EnvWrapper(platform::Env::Current()), scope_(*this) {}
  int64_t NowSeconds() override { return now; }
  int64_t LocalOffset(int64_t) override { return 0; }
  int64_t now = kFixedNow;

 private:
  platform::ScopedEnv scope_;
};

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    CQmsLog& log = Log();
    log.Clear();
    log.SetTraceActive(1);
    log.SetIndentationChar(' ');
    log.AddErrorFilename("Error.log", 1);
    log.AddErrorOstream(errors_);
    log.AddTraceFilename("Trace.log", 1);
    log.AddTraceOstream(traces_);
  }

  void TearDown() override {
    // Back to the destinations of a log not started, in the folder the run
    // started in.
    std::filesystem::current_path(home_);
    CQmsLog& log = Log();
    log.Clear();
    log.AddErrorOstream(std::cerr);
    log.AddTraceOstream(std::cout);
  }

  static CQmsLog& Log() { return QmsGlobal().m_Log; }
  std::string ErrorLog() const { return testsupport::ReadAll(dir_.File("Error.log")); }
  std::string TraceLog() const { return testsupport::ReadAll(dir_.File("Trace.log")); }
  std::string Errors() const { return errors_.str(); }
  std::string Traces() const { return traces_.str(); }
  // Lets fatal codes travel as ordinary failures.
  static void KeepAlive() { Log().SetErrorFatalityLevel(QMS_ERROR_NEVER); }

  testsupport::TempDir dir_;
  FixedClock clock_;
  std::ostringstream errors_;
  std::ostringstream traces_;

 private:
  std::filesystem::path home_;
};

// The code a statement throws, or 0 when it throws none.
template <class Body>
long CodeOf(Body&& body) {
  try {
    body();
  } catch (long code) {
    return code;
  }
  return 0;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every record of a table as "a|b|...", its own field types' texts, walked
// with MoveFirst and MoveBy(1).
inline std::vector<std::string> RowTexts(CQmsTable& table) {
  CQmsRecord record;
  table.GetFields(record);
  std::vector<std::string> rows;
  table.MoveFirst();
  while (!table.AtEOF()) {
    table.FillAllFieldValues(record);
    std::string row;
    for (int i = 0; i < record.GetCount(); i++) {
      const char* text = *record.GetFieldByHandle(i);
      row += std::string(i ? "|" : "") + (text ? text : "");
    }
    rows.push_back(row);
    table.MoveBy(1);
  }
  return rows;
}

// How often a text occurs in another.
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

}  // namespace tablestest
