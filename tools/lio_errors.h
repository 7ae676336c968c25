// What lio says about the map-table library's error codes.
//
// The library's message table holds texts for a few codes only (most of its
// codes have none), so a code reads as the table's text where there is one
// and otherwise as lio's own description of what the library pushes it for.
// A code neither knows reads as "error N" alone.
//
// The commands over the library's own code (mapdump, the clause, date and
// expression commands) read lio's error stack record by record, with the
// file or value each record names; the map-table commands reach the library
// through its C interface, which gives the first code only.
#pragma once

#include <cstdint>
#include <string>

namespace lioerrors {

// The text of a code, without its number; empty when neither the message
// table nor lio knows it.
std::string CodeText(int32_t code);

// "<text> (error N)", or "error N" for a code without a text.
std::string Describe(int32_t code);

// Every record on lio's error stack as "lio: <what>: <text>: <what it
// names> (error N)", one line each on standard error (the name left out
// where it is what); "lio: <what>: <otherwise>" when the stack is empty.
void ReportStack(const char* what, const char* otherwise = "failed");

}  // namespace lioerrors
