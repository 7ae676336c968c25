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

// Starts the table library's log for this run ("Error.log", "Trace.log" in
// the working folder) as a batch run shows it: its entries below the
// fatality level leave out the source file and line of the library and its
// interactive "If you wish to continue, " (the rest of each text stays);
// fatal entries are written as the library writes them.
void BuildTableLogStart();
// An entry's text as BuildTableLogStart shows it.
std::string BatchEntryText(const char* text);
