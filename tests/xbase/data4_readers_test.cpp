// Reads real data files through the engine and through independent readers
// (python3-dbfread; gdal's ogrinfo for the dBASE dialect) and compares.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/xbase/xbase_fixture.h"

namespace {

using xbasetest::TestCode4;

const char* kPython = "/usr/bin/python3";

// Runs a command; its standard output, and whether it exited with 0.
bool RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  out->clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  return pclose(pipe) == 0;
}

bool HaveDbfread() {
  std::string ignored;
  return std::filesystem::exists(kPython) &&
         RunCommand(std::string(kPython) + " -c 'import dbfread' 2>/dev/null", &ignored);
}

bool HaveOgrinfo() {
  std::string ignored;
  return RunCommand("ogrinfo --version 2>/dev/null", &ignored);
}

std::string Trimmed(const char* p, size_t n) {
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) n--;
  return std::string(p, n);
}

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool AllBlank(const char* p, size_t n) {
  for (size_t i = 0; i < n; i++) {
    if (p[i] != ' ') return false;
  }
  return true;
}

// One field's value as the dump shows it.
std::string Show(FIELD4* field) {
  const char* p = f4ptr(field);
  unsigned len = f4len(field);
  switch (field->type) {
    case 'N': case 'F':
      return AllBlank(p, len) ? "" : Number(f4double(field));
    case 'B':
      return Number(f4double(field));
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
    case 'M': case 'G': case 'I':
      return std::to_string(f4long(field));
    default:
      return Trimmed(p, len);
  }
}

// Live records first, then deleted ones, one line each.
std::string EngineDump(DATA4* data) {
  std::string live, deleted;
  for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
    std::string line = d4deleted(data) ? "deleted" : "live";
    for (int j = 1; j <= data->nFields; j++) {
      FIELD4* field = d4fieldJ(data, j);
      if (field->type == '0') continue;
      line += "|" + Show(field);
    }
    (d4deleted(data) ? deleted : live) += line + "\n";
  }
  return live + deleted;
}

std::string XbaseData(const std::string& name) { return testsupport::SharedDataPath("xbase/" + name); }

const char* const kReadable[] = {
    "dbase/dBaseIII_nomemo.dbf", "foxpro/91.dbf",    "foxpro/Foxpro2.dbf",
    "foxpro/currency.dbf",       "foxpro/issue115.dbf", "foxpro/pr90.dbf",
    "foxpro/visual_fox_pro6.dbf", "../nc/nc.dbf",
};

TEST(DataFileReaders, SameRecordsAsDbfread) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed (tools/install-deps)";
  std::string script = std::string(GSB_XBASE_TEST_DIR) + "/dbf_dump.py";
  for (const char* name : kReadable) {
    std::string path = XbaseData(name);
    std::string expected;
    ASSERT_TRUE(RunCommand(std::string(kPython) + " " + script + " '" + path + "'", &expected)) << name;
    TestCode4 c4;
    c4.autoOpen = 0;  // index files are the index layer's
    DATA4* data = d4open(&c4, path.c_str());
    ASSERT_NE(data, nullptr) << name << ": " << (c4.Last() ? c4.Last()->code : 0);
    EXPECT_EQ(EngineDump(data), expected) << name;
    EXPECT_TRUE(c4.reports.empty()) << name;
    d4close(data);
  }
}

// ogrinfo's "  NAME (Type) = value" lines, one map per record.
std::vector<std::map<std::string, std::pair<std::string, std::string>>> OgrRecords(const std::string& text) {
  std::vector<std::map<std::string, std::pair<std::string, std::string>>> records;
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

TEST(DataFileReaders, SameValuesAsOgrinfo) {
  if (!HaveOgrinfo()) GTEST_SKIP() << "gdal-bin is not installed (tools/install-deps)";
  for (const char* name : {"dbase/dBaseIII_nomemo.dbf", "../nc/nc.dbf"}) {
    // Alone in a folder, so that the reader sees the table and not a shapefile.
    testsupport::TempDir dir;
    std::string path = dir.File("table.dbf");
    std::filesystem::copy_file(XbaseData(name), path);
    std::string text;
    ASSERT_TRUE(RunCommand("ogrinfo -ro -al -q --config SHAPE_ENCODING '' '" + path + "'", &text)) << name;
    auto records = OgrRecords(text);
    TestCode4 c4;
    DATA4* data = d4open(&c4, path.c_str());
    ASSERT_NE(data, nullptr) << name;
    size_t i = 0;
    for (int rc = d4top(data); rc == 0; rc = d4skip(data, 1)) {
      if (d4deleted(data)) continue;
      ASSERT_LT(i, records.size()) << name;
      for (int j = 1; j <= d4numFields(data); j++) {
        FIELD4* field = d4fieldJ(data, j);
        auto it = records[i].find(field->name);
        ASSERT_NE(it, records[i].end()) << name << " " << field->name;
        const auto& [type, value] = it->second;
        std::string mine = Show(field);
        if (type == "Real" || type == "Integer" || type == "Integer64") {
          if (value.empty()) {
            EXPECT_EQ(mine, "") << name << " " << field->name;
          } else {
            double theirs = std::stod(value);
            EXPECT_NEAR(f4double(field), theirs, 1e-12 * std::max(1.0, std::fabs(theirs)))
                << name << " record " << i + 1 << " " << field->name;
          }
        } else if (type == "Date") {
          std::string digits;
          for (char c : value) {
            if (c != '/') digits += c;
          }
          EXPECT_EQ(mine, digits) << name << " " << field->name;
        } else {
          EXPECT_EQ(mine, value) << name << " record " << i + 1 << " " << field->name;
        }
      }
      i++;
    }
    EXPECT_EQ(i, records.size()) << name;
    d4close(data);
  }
}

TEST(DataFileReaders, UnsupportedTablesFailCleanly) {
  struct Case {
    const char* name;
    int code;
  } cases[] = {
      {"dbase/dBaseIII.dbf", -64},        // its memo file is not the engine's kind
      {"dbase/dBaseIV.dbf", -64},
      {"dbase/dBaseVII.dbf", -200},  // 48-byte descriptors: not a data file here
      {"dbase/dBaseVII_double.dbf", -200},
      {"dbase/dBaseVII_int.dbf", -200},
      {"dbase/dBaseVII_ts.dbf", -200},
      {"foxpro/vfp.dbf", -200},           // a later FoxPro version
  };
  for (const auto& c : cases) {
    TestCode4 c4;
    c4.autoOpen = 0;
    EXPECT_EQ(d4open(&c4, XbaseData(c.name).c_str()), nullptr) << c.name;
    ASSERT_NE(c4.Last(), nullptr) << c.name;
    EXPECT_EQ(c4.Last()->code, c.code) << c.name;
    EXPECT_EQ(c4.dataFileList.numLinks, 0u) << c.name;
  }
}

TEST(DataFileReaders, ProductionIndexOpensWithItsTable) {
  TestCode4 c4;
  DATA4* data = d4open(&c4, XbaseData("foxpro/issue115.dbf").c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_NE(d4index(data, nullptr), nullptr);
  EXPECT_EQ(d4close(data), 0);
  // Its index file is missing: the open fails unless open errors are off.
  EXPECT_EQ(d4open(&c4, XbaseData("foxpro/visual_fox_pro6.dbf").c_str()), nullptr);
  EXPECT_EQ(c4.Last()->code, -64);
}

}  // namespace
