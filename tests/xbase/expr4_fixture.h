// A FoxPro table with a field of every kind that expressions read, two
// records, and readable forms of compiled expressions and their values.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/xbase/xbase_fixture.h"
#include "xbase/e4state.h"

namespace xbasetest {

// Fields in record order; the last nullable field's flag is bit 0 of _NullFlags.
inline DbfBuilder AllTypes() {
  return DbfBuilder('0', {{"NAME", 'C', 10},   {"LAST", 'C', 5},     {"CODE", 'C', 4},
                          {"POP", 'N', 10},    {"AMT", 'N', 8, 2},   {"BIRTH", 'D', 8},
                          {"BLANKD", 'D', 8},  {"EMPTYD", 'D', 8},   {"FLAG", 'L', 1},
                          {"NOFLAG", 'L', 1},  {"CUR", 'Y', 8, 4},   {"STAMP", 'T', 8},
                          {"COUNT", 'I', 4},   {"DBL", 'B', 8, 2},   {"NOTE", 'M', 4},
                          {"WIDE", 'W', 8},    {"SHORT", 'Q', 2},    {"USHORT", 'R', 2},
                          {"UINT", 'P', 4},    {"NULLC", 'C', 5, 0, 0x02},
                          {"_NullFlags", '0', 1, 0, 0x05}});
}

inline std::string AllTypesRecord(const std::string& name, const std::string& nullc, bool isNull,
                                  bool deleted = false) {
  return std::string(deleted ? "*" : " ") + name + "Jones" + "AB  " + "     12345" + "  -12.50" + "20000101" +
         "       0" + "        " + "T" + "F" + Le64(125000) + Le32(2451545) + Le32(43200000) + Le32(-7) +
         LeDouble(2.5) + Le32(0) + std::string("A\0\xE9\0 \0 \0", 8) + Le16(-3) + Le16(65535) + Le32(7) +
         nullc + std::string(1, isNull ? '\x01' : '\x00');
}

inline std::string AllTypesTable(unsigned char codePage = 0) {
  std::string bytes = AllTypes()
                          .Record(AllTypesRecord("Smith     ", "maybe", false))
                          .Record(AllTypesRecord("Brown     ", "     ", true, true))
                          .Bytes();
  bytes[29] = char(codePage);
  return bytes;
}

// The postfix listing: field names (with the row when a conversion or copy
// replaced the field's own row), constants, operator and function names,
// and the argument count of a .AND./.OR. that took more than two.
inline std::string Listing(const EXPR4* expr) {
  std::string out;
  for (int i = 0; i < expr->infoN; i++) {
    const E4INFO& e = expr->info[i];
    std::string token;
    if (e.field != nullptr) {
      token = e.field->name;
      static const int kOwnRows[] = {0, 1, 2, 5, 7, 9, 10, 11, 12, 13, 14, 15, 16, 19, 20, 21, 22, 23};
      bool own = false;
      for (int row : kOwnRows) own = own || row == e.functionI;
      if (!own) token += "#" + std::to_string(e.functionI);
    } else if (e.functionI == E4ROW_DOUBLE) {
      double v;
      std::memcpy(&v, expr->constants + e.i1, sizeof v);
      char text[32];
      std::snprintf(text, sizeof text, "%g", v);
      token = text;
    } else if (e.functionI == E4ROW_STRING) {
      token = "'" + std::string(expr->constants + e.i1, size_t(e.len)) + "'";
    } else if (e.functionI == E4ROW_CALC) {
      token = static_cast<EXPR4CALC*>(e.datum)->name + std::string("()");
    } else {
      // The row's own name, or that of the first row of its operator.
      int row = e.functionI;
      while (v4functions[row].name == nullptr) row--;
      if (v4functions[e.functionI].name == nullptr) {
        while (row > 0 && v4functions[row - 1].code == v4functions[e.functionI].code) row--;
      }
      token = v4functions[row].name;
      if (v4functions[row].numParms < 0 && e.numParms != 2) token += "(" + std::to_string(e.numParms) + ")";
    }
    out += (out.empty() ? "" : " ") + token;
  }
  return out;
}

// A value as text: characters as they are (bytes outside 32-126 as \xHH),
// numbers with %.10g, dates as CCYYMMDD, logicals T/F, others in hex.
inline std::string Shown(int type, const char* value, int length) {
  char text[64];
  switch (type) {
    case 'C': case 'N': case 'D': {
      std::string out;
      for (int i = 0; i < length; i++) {
        auto c = static_cast<unsigned char>(value[i]);
        if (c >= 32 && c < 127) {
          out += char(c);
        } else {
          std::snprintf(text, sizeof text, "\\x%02X", c);
          out += text;
        }
      }
      return out;
    }
    case 'n': {
      double v;
      std::memcpy(&v, value, sizeof v);
      std::snprintf(text, sizeof text, "%.10g", v);
      return text;
    }
    case 'd': {
      double v;
      std::memcpy(&v, value, sizeof v);
      char date[8];
      date4assign(date, long(v));
      return std::string(date, 8);
    }
    case 'L': {
      int32_t v;
      std::memcpy(&v, value, sizeof v);
      return v ? "T" : "F";
    }
    default: {
      std::string out;
      for (int i = 0; i < length; i++) {
        std::snprintf(text, sizeof text, "%02X", static_cast<unsigned char>(value[i]));
        out += text;
      }
      return out;
    }
  }
}

inline std::string Hex(const char* bytes, int length) { return Shown('?', bytes, length); }

}  // namespace xbasetest
