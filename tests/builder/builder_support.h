// Helpers of the builder's tests: record numbers as the temporary table
// holds them, a disk that fills up, ogrinfo's reading of a table, the
// attribute file checked against it, and gsbbuild run as a command or
// through its importer in this process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "boundary/criteria.h"
#include "boundary/readmain.h"
#include "builder/importer.h"
#include "platform/env.h"
#include "tests/support/command.h"
#include "zonelib.h"

namespace buildertest {

// A QRECID value: the number right-aligned in 12 characters.
inline std::string Recid(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%12d", n);
  return text;
}

// Writes fail with ENOSPC once limit bytes have been written.
struct FullDisk : platform::EnvWrapper {
  FullDisk(platform::Env& target, int64_t bytes) : EnvWrapper(target), limit(bytes) {}
  int64_t limit;
  int64_t Write(int fd, const void* buffer, size_t count) override {
    if (limit < int64_t(count)) {
      errno = ENOSPC;
      return -1;
    }
    limit -= int64_t(count);
    return target_.Write(fd, buffer, count);
  }
};

// Quotes a word for the shell.
inline std::string Quoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The features of ogrinfo's listing: field name -> (type, value text); with
// geometry, the point of each feature under the key "POINT".
using Feature = std::map<std::string, std::pair<std::string, std::string>>;

inline std::vector<Feature> OgrFeatures(const std::string& path, bool geometry = false) {
  std::vector<Feature> features;
  std::string command = "ogrinfo --config SHAPE_ENCODING \"\" -ro -al -q " +
                        std::string(geometry ? "" : "-geom=NO ") + Quoted(path) + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return features;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    if (s.rfind("OGRFeature(", 0) == 0) {
      features.emplace_back();
    } else if (!features.empty() && s.rfind("  POINT (", 0) == 0) {
      features.back()["POINT"] = {"Point", s.substr(9, s.size() - 10)};
    } else if (!features.empty() && s.rfind("  ", 0) == 0) {
      size_t open = s.find(" ("), close = s.find(") = ");
      if (open == std::string::npos || close == std::string::npos) continue;
      features.back()[s.substr(2, open - 2)] = {s.substr(open + 2, close - open - 2),
                                                s.substr(close + 4)};
    }
  }
  pclose(pipe);
  return features;
}

// Every field of every record of the attribute file at gsa, read through the
// Dl calls by its record number (k + 1 for features[k]), equals ogrinfo's
// value: texts byte for byte, numbers to the decimals the file keeps. The
// number fields of textNumbers, which 32 bits cannot hold at the decimals
// their values use, are text fields of the same numbers. With a creation
// time the records are also read through the object-file side's attribute
// search (the boundary file beside gsa).
inline void ExpectAttributesAsOgr(const std::string& gsa, const std::vector<Feature>& features,
                                  size_t fieldCount,
                                  const std::map<std::string, uint32_t>& decimals,
                                  const char* creationTime,
                                  const std::set<std::string>& textNumbers = {}) {
  DlContext* context = DlInit("test");
  DlFile* file = DlFileOpen(context, gsa.c_str());
  ASSERT_NE(file, nullptr) << gsa;
  ASSERT_EQ(DlFileNumFields(file), int32_t(fieldCount));
  AttributeSearch search;
  std::string gsb = gsa;
  gsb.back() = gsb.back() == 'A' ? 'B' : 'b';
  if (creationTime) {
      ASSERT_TRUE(search.Open(gsb.c_str(), creationTime));
    }
  for (const auto& [name, places] : decimals)
    EXPECT_EQ(DlFieldGetAttribute(DlFieldGet(file, name.c_str()), 3, nullptr, 0), int32_t(places))
        << name;

  // In a shuffled order, so that pages are read in any order.
  std::vector<size_t> order(features.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  for (size_t k : order) {
    ASSERT_EQ(DlFileSearchInt(file, int32_t(k + 1)), 1) << k;
    if (creationTime) {
      ASSERT_EQ(search.SetRecord(int32_t(k + 1)), 1u);
    }
    for (const auto& [name, typed] : features[k]) {
      if (name == "POINT") continue;
      SCOPED_TRACE(name + " of record " + std::to_string(k + 1));
      const auto& [type, value] = typed;
      DlField* field = DlFieldGet(file, name.c_str());
      ASSERT_NE(field, nullptr);
      pipAttributeInfoStruct info;
      if (creationTime) {
      ASSERT_EQ(search.GetAttributeInfoByName(name.c_str(), &info), 1);
    }
      char text[256];
      if (textNumbers.count(name)) {
        ASSERT_EQ(DlFieldGetAttribute(field, 10, nullptr, 0), 'C');
        ASSERT_EQ(DlFieldGetString(field, "", text, 255), 1);
        EXPECT_EQ(std::strtod(text, nullptr), std::strtod(value.c_str(), nullptr)) << text;
        if (creationTime) {
          EXPECT_STREQ(info.value, text);
        }
        continue;
      }
      if (type == "String") {
        ASSERT_EQ(DlFieldGetAttribute(field, 10, nullptr, 0), 'C');
        ASSERT_EQ(DlFieldGetString(field, "", text, 255), 1);
        EXPECT_EQ(std::string(text), value);
        if (creationTime) {
      EXPECT_EQ(std::string(info.value), value);
    }
        continue;
      }
      ASSERT_EQ(DlFieldGetAttribute(field, 10, nullptr, 0), 'N');
      const int32_t places = DlFieldGetAttribute(field, 3, nullptr, 0);
      const double stored = DlFieldGetNum(field) / std::pow(10.0, places);
      const double want = std::strtod(value.c_str(), nullptr);
      if (type == "Real")
        EXPECT_NEAR(stored, want, 0.5 * std::pow(10.0, -places) + 1e-9 * std::fabs(want));
      else
        EXPECT_EQ(stored, want);
      if (creationTime) {
      EXPECT_EQ(CriteriaDecimal(info.value), stored) << info.value;
    }
    }
  }
  DlTerm(context);
}

// A dBASE III table written byte by byte: C fields left-aligned, others
// right-aligned, each cut to its width.
struct DbfField {
  std::string name;
  char type;
  int width;
  int decimals;
};
inline std::string DbfBytes(const std::vector<DbfField>& fields,
                            const std::vector<std::vector<std::string>>& rows) {
  auto u16 = [](std::string& b, size_t at, uint32_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
  };
  int recordLength = 1;
  for (const DbfField& f : fields) recordLength += f.width;
  const size_t headerLength = 32 + 32 * fields.size() + 1;
  std::string b(headerLength, '\0');
  b[0] = 3;
  b[1] = 124, b[2] = 1, b[3] = 1;
  u16(b, 4, uint32_t(rows.size() & 0xFFFF));
  u16(b, 6, uint32_t(rows.size() >> 16));
  u16(b, 8, uint32_t(headerLength));
  u16(b, 10, uint32_t(recordLength));
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t at = 32 + 32 * i;
    b.replace(at, std::min<size_t>(fields[i].name.size(), 10), fields[i].name, 0, 10);
    b[at + 11] = fields[i].type;
    b[at + 16] = char(fields[i].width);
    b[at + 17] = char(fields[i].decimals);
  }
  b[headerLength - 1] = '\x0D';
  for (const auto& row : rows) {
    b += ' ';
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string v = i < row.size() ? row[i] : std::string();
      v.resize(std::min<size_t>(v.size(), size_t(fields[i].width)));
      const std::string pad(size_t(fields[i].width) - v.size(), ' ');
      b += fields[i].type == 'C' ? v + pad : pad + v;
    }
  }
  b += '\x1A';
  return b;
}

// What a run of gsbbuild printed on standard output, and its exit status as
// the shell sees it.
struct Outcome {
  int status = -1;
  std::string out;
};

// Runs the built gsbbuild with the words given, in folder, after the shell
// words of prefix (such as a umask).
inline Outcome RunGsbbuild(const std::string& folder, const std::vector<std::string>& words,
                           const std::string& prefix = "") {
  std::string command = "cd " + Quoted(folder) + " && " + prefix + " " +
                        testsupport::kSanitizerExitCodes + Quoted(GSBBUILD_PATH);
  for (const std::string& w : words) command += " " + Quoted(w);
  command += " 2>/dev/null";
  Outcome run;
  run.status = testsupport::RunCommandStatus(command, &run.out);
  return run;
}

// The names of the files of a folder, sorted.
inline std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// Builds output from input through the importer, in this process, with the
// id field given; what it printed goes to out, whether Open succeeded to
// opened.
inline bool BuildInProcess(const std::string& input, const std::string& output,
                           const char* idField, std::string* out, bool* opened = nullptr) {
  testing::internal::CaptureStdout();
  bool ok = false;
  {
    PipImporter importer;
    const bool open = importer.Open(input.c_str(), output.c_str(), idField);
    if (opened) *opened = open;
    ok = open && importer.Run();
  }
  *out = testing::internal::GetCapturedStdout();
  return ok;
}

}  // namespace buildertest
