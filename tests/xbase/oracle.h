// Independent readers and writers of data files run as test oracles: the
// python modules (python3-dbfread, python3-dbf), pgdbf and gdal's ogrinfo.
// A test that needs one skips with a message when it is missing.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/command.h"
#include "xbase/d4all.h"

namespace xbasetest {

using testsupport::HaveCommand;
using testsupport::HavePythonModule;
using testsupport::kPython;
using testsupport::RunCommand;

inline bool HaveOgrinfo() { return HaveCommand("ogrinfo --version"); }
inline bool HavePgdbf() { return HaveCommand("pgdbf -h"); }

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The scripts beside the tests.
inline std::string Script(const char* name) { return std::string(GSB_XBASE_TEST_DIR) + "/" + name; }

// ogrinfo's "  NAME (Type) = value" lines, one map per record: field ->
// (type, value); "(null)" reads as the empty value.
using OgrRecord = std::map<std::string, std::pair<std::string, std::string>>;
inline std::vector<OgrRecord> OgrRecords(const std::string& text) {
  std::vector<OgrRecord> records;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("OGRFeature(", 0) == 0) {
      records.emplace_back();
      continue;
    }
    size_t open = line.find(" ("), close = line.find(") = ");
    if (records.empty() || line.rfind("  ", 0) != 0 || open == std::string::npos ||
        close == std::string::npos) {
      continue;
    }
    std::string field = line.substr(2, open - 2);
    std::string type = line.substr(open + 2, close - open - 2);
    std::string value = line.substr(close + 4);
    if (value == "(null)") value.clear();
    records.back()[field] = {type, value};
  }
  return records;
}

// ogrinfo's records of a data file (alone in its folder, so that the
// reader sees the table and not a shapefile).
inline bool OgrRead(const std::string& path, std::vector<OgrRecord>* records) {
  std::string text;
  if (!RunCommand("ogrinfo -ro -al -q --config SHAPE_ENCODING '' " + Quoted(path), &text)) return false;
  *records = OgrRecords(text);
  return true;
}

// One field's value the way the oracle scripts print it: text trimmed,
// numbers %.17g (blank: empty), currency with 4 decimals, dates CCYYMMDD,
// datetimes CCYYMMDDhh:mm:ss, logicals T/F; memo fields as their block
// number, or with memoText as their contents.
inline std::string FieldText(FIELD4* field, bool memoText = false) {
  auto trimmed = [](const char* p, size_t n) {
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) n--;
    return std::string(p, n);
  };
  auto number = [](double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return std::string(text);
  };
  const char* p = f4ptr(field);
  unsigned len = f4len(field);
  switch (field->type) {
    case 'N': case 'F':
      return trimmed(p, len).empty() ? "" : number(f4double(field));
    case 'B':
      return number(f4double(field));
    case 'L':
      return f4true(field) ? "T" : "F";
    case 'D': {
      long julian = date4long(p);
      if (julian <= 0) return "";
      char text[9] = {0};
      date4assign(text, julian);
      return text;
    }
    case 'T':
      return f4dateTime(field);
    case 'Y':
      return f4currency(field, 4);
    case 'M': case 'G':
      if (memoText) return trimmed(f4memoPtr(field), f4memoLen(field));
      return std::to_string(f4long(field));
    case 'I':
      return std::to_string(f4long(field));
    default:
      return trimmed(p, len);
  }
}

}  // namespace xbasetest
