// Running one of the project's programs as users run it: its words, its
// standard input, what it prints on each stream and its exit value.
#pragma once

#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

// A word quoted for the shell, single quotes inside it included.
inline std::string ShellQuoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// What a program run printed and how it ended.
struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs program with words, standard input from the text input (kept in dir);
// a sanitizer's report ends it with an exit value of its own.
inline Outcome RunProgram(const TempDir& dir, const std::string& program,
                          const std::vector<std::string>& words, const std::string& input = "") {
  const std::string in = dir.Write("stdin.txt", input), err = dir.File("stderr.txt");
  std::string command = kSanitizerExitCodes + ShellQuoted(program);
  for (const std::string& w : words) command += " " + ShellQuoted(w);
  command += " <" + ShellQuoted(in) + " 2>" + ShellQuoted(err);
  Outcome run;
  run.status = RunCommandStatus(command, &run.out);
  run.err = ReadAll(err);
  return run;
}

}  // namespace testsupport
