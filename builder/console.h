// What gsbbuild says while it runs. Every line goes to standard output (the
// program writes nothing to standard error of its own); the entry routine's
// lines and the refusals of extended characters are repeated into the log
// file that "/Log" switches on. The log is process-wide: one run, one log.
#pragma once

#include <string>

// Standard output only.
void BuildPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Standard output and, when it is open, the log.
void BuildPrintLogged(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The log only (nothing when it is not open).
void BuildLogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens the log at path, truncating an earlier one; false when it cannot be
// opened (the run goes on without it).
bool BuildLogOpen(const std::string& path);
void BuildLogClose();
bool BuildLogIsOpen();
